// The sysfs primitives against the simulated host: page-wise file transfers,
// byte helpers, address parsers, path builders at the edge of their buffer,
// attribute readers, remote-port lookups over directory and link lists, and
// the two debug dumps.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "test_support.h"
#include "transport/vx_sysfs_prim.h"

namespace {

constexpr unsigned kMajor = 241;
constexpr const char* kOptrom = "/sys/class/scsi_host/host5/optrom";
constexpr const char* kMissing = "/sys/class/scsi_host/host5/missing";

// A device node standing for an attribute file: serves its contents to
// reads, takes writes up to a capacity (or fails them), and records the
// size every call asked for.
class FileDevice : public sim::SimDevice {
public:
    int ioctl(dev_t, unsigned long, void*) override { return 22; }
    ssize_t read(dev_t, void* buf, size_t len) override {
        asked.push_back(len);
        const size_t n = std::min(len, contents.size() - offset);
        std::memcpy(buf, contents.data() + offset, n);
        offset += n;
        return static_cast<ssize_t>(n);
    }
    ssize_t write(dev_t, const void* buf, size_t len) override {
        asked.push_back(len);
        if (fail_writes_after >= 0 && written.size() >= static_cast<size_t>(fail_writes_after)) return -5;
        written.append(static_cast<const char*>(buf), len);
        return static_cast<ssize_t>(len);
    }
    std::string contents, written;
    size_t offset = 0;
    long fail_writes_after = -1;
    std::vector<size_t> asked;
};

// The simulated host, except that an attribute read reports a length shorter
// than the text the value holds: the bytes behind the length are no value.
class ShortLengthPlatform final : public sim::ForwardingPlatform {
public:
    ShortLengthPlatform(vx::Platform& base, unsigned short len)
        : ForwardingPlatform(base), base_(base), len_(len) {}
    int sysfs_read_attribute(struct sysfs_attribute* attr) override {
        const int rc = base_.sysfs_read_attribute(attr);
        if (rc == 0 && attr->len > len_) attr->len = len_;
        return rc;
    }

private:
    vx::Platform& base_;
    unsigned short len_;
};

class SysfsPrimTest : public ::testing::Test {
protected:
    void SetUp() override {
        vxdbg_reset();
        std::strcpy(sysfs_mnt_path, "/sys");
        host.register_device(kMajor, &device);
        host.add_node(kOptrom, S_IFCHR | 0600, makedev(kMajor, 0));
    }
    void TearDown() override {
        vxdbg_reset();
        sysfs_mnt_path[0] = '\0';
    }
    void trace_sysfs() {
        host.set_env("VX_FCAPI_DEBUG", "200");
        vxapi_set_debug_level();
    }
    bool traced(const std::string& text) const { return host.stderr_text().find(text) != std::string::npos; }
    // A remote port entry with its attributes, as a directory of the class
    // (links == false) or as a link of the class to a device directory.
    void add_rport(const std::string& name, const std::string& port_name, const std::string& target_id,
                   bool links) {
        std::string dir = "/sys/class/fc_remote_ports/" + name;
        if (links) {
            dir = "/sys/devices/pci0000:00/0000:03:00.0/host5/" + name + "/fc_remote_ports/" + name;
            host.make_symlink(dir, "/sys/class/fc_remote_ports/" + name);
        }
        host.write_file(dir + "/port_name", port_name + "\n");
        host.write_file(dir + "/scsi_target_id", target_id + "\n");
    }
    // Lookups over a class holding the remote ports of hosts 5, 50 and 6.
    void check_lookups(bool links);
    FileDevice device;  // outlives the host it is registered with
    sim::SimHost host;
};

// ---------------------------------------------------------------- files

// Whole files go in pages, on through short reads, until a call fails; the
// result is the residual.
TEST_F(SysfsPrimTest, PageWiseFileTransfers) {
    device.contents = std::string(6000, 'r');
    std::vector<char> buffer(10000, 0);
    EXPECT_EQ(vxsysfs_read_file(kOptrom, buffer.data(), 10000), 4000);
    EXPECT_EQ(device.asked, (std::vector<size_t>{4096, 4096, 4000}));
    EXPECT_EQ(std::string(buffer.data(), 6000), device.contents);
    EXPECT_EQ(buffer[6000], 0);
    EXPECT_EQ(vxsysfs_read_file(kMissing, buffer.data(), 10000), 10000);
    host.write_file("/sys/class/scsi_host/host5/vpd", std::string(3000, 'v'));
    host.short_reads("/sys/class/scsi_host/host5/vpd", 700);
    EXPECT_EQ(vxsysfs_read_file("/sys/class/scsi_host/host5/vpd", buffer.data(), 3000), 0);
    EXPECT_EQ(std::string(buffer.data(), 3000), std::string(3000, 'v'));
    const std::string data(10000, 'w');
    device.asked.clear();
    EXPECT_EQ(vxsysfs_write_file(kOptrom, data.data(), 10000), 0);
    EXPECT_EQ(device.asked, (std::vector<size_t>{4096, 4096, 1808}));
    EXPECT_EQ(device.written, data);
    device.written.clear();
    device.asked.clear();
    device.fail_writes_after = 4096;
    trace_sysfs();
    EXPECT_EQ(vxsysfs_write_file(kOptrom, data.data(), 10000), 10000 - 4096);
    EXPECT_EQ(device.asked, (std::vector<size_t>{4096, 4096}));
    EXPECT_TRUE(traced("vxsysfs_write_file\n> size==10000\n> path==/sys/class/scsi_host/host5/optrom\n"));
    EXPECT_TRUE(traced("> Failed write\n> n==-1\n> residual==5904\n"));
    host.fail_open(kOptrom, EACCES, 1);
    EXPECT_EQ(vxsysfs_write_file(kOptrom, data.data(), 10000), 10000);
    EXPECT_TRUE(traced("> Failed open\n"));
}

TEST_F(SysfsPrimTest, SingleCallTransfers) {
    device.contents = std::string(6000, 'r');
    std::vector<char> buffer(10000, 0);
    // One read of at most a page; nothing left, no file, a failing read.
    EXPECT_EQ(vxsysfs_read_data(kOptrom, buffer.data(), 10000), 4096u);
    EXPECT_EQ(device.asked, (std::vector<size_t>{4096}));
    EXPECT_EQ(vxsysfs_read_data(kOptrom, buffer.data(), 100), 100u);
    device.offset = device.contents.size();
    EXPECT_EQ(vxsysfs_read_data(kOptrom, buffer.data(), 100), 0u);
    EXPECT_EQ(vxsysfs_read_data(kMissing, buffer.data(), 100), 0u);
    host.make_dir("/sys/class/scsi_host/host5/dir");
    EXPECT_EQ(vxsysfs_read_data("/sys/class/scsi_host/host5/dir", buffer.data(), 100), 0xFFFFFFFFu);
    device.asked.clear();
    EXPECT_EQ(vxsysfs_write_data(kOptrom, "els request", 11), 11u);
    EXPECT_EQ(device.written, "els request");
    device.fail_writes_after = 0;
    EXPECT_EQ(vxsysfs_write_data(kOptrom, "again", 5), 0xFFFFFFFFu);
    EXPECT_EQ(device.asked, (std::vector<size_t>{11, 5}));
    EXPECT_EQ(vxsysfs_write_data(kMissing, "x", 1), 0u);
}

// ---------------------------------------------------------------- bytes and texts

TEST_F(SysfsPrimTest, ByteOrderHelpers) {
    const uint8_t two[] = {0x01, 0x02};
    EXPECT_EQ(vxsysfs_bendian(two, 2), 0x102u);
    EXPECT_EQ(vxsysfs_lendian(two, 2), 0x201u);
    const uint8_t sum[] = {0xFF, 0x02};
    EXPECT_EQ(vxsysfs_memsum(sum, 2), 1);
    // Of more than 8 bytes only the low 8 count.
    const uint8_t nine[] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    EXPECT_EQ(vxsysfs_lendian(nine, 9), 0x0807060504030201u);
    EXPECT_EQ(vxsysfs_bendian(nine, 9), 0x0203040506070809u);
    uint8_t out[10];
    std::memset(out, 0xEE, sizeof out);
    vxsysfs_bendian_buf(out, 0x0102, 2);
    EXPECT_EQ(sim::bytes_of(out, 3), (sim::Bytes{0x01, 0x02, 0xEE}));
    vxsysfs_lendian_buf(out, 0x0102, 2);
    EXPECT_EQ(sim::bytes_of(out, 3), (sim::Bytes{0x02, 0x01, 0xEE}));
    vxsysfs_bendian_buf(out, 0x1122334455667788u, 10);
    EXPECT_EQ(sim::bytes_of(out, 10), (sim::Bytes{0, 0, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}));
    vxsysfs_lendian_buf(out, 0x1122334455667788u, 10);
    EXPECT_EQ(sim::bytes_of(out, 10), (sim::Bytes{0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0, 0}));
    uint8_t reversed[3];
    vxsysfs_revcpy(reversed, "abc", 3);
    EXPECT_EQ(std::memcmp(reversed, "cba", 3), 0);
}

TEST_F(SysfsPrimTest, MemstrFindsOnlyWholeMatchesInsideTheLength) {
    // Exactly as long as its bytes, with no terminator: a look past the
    // length is caught by the address sanitizer.
    const sim::Exact buffer(sim::Bytes{'P', 'N', 'x', 'S', 'N', '9'});
    const char* b = reinterpret_cast<const char*>(buffer.get());
    EXPECT_EQ(vxsysfs_memstr(b, "SN", 6), b + 3);
    EXPECT_EQ(vxsysfs_memstr(b, "SN", 5), b + 3);
    EXPECT_EQ(vxsysfs_memstr(b, "SN", 4), nullptr);  // only "S" lies inside
    EXPECT_EQ(vxsysfs_memstr(b, "N9x", 6), nullptr);
    EXPECT_EQ(vxsysfs_memstr(b, "PN", 6), b);
}

TEST_F(SysfsPrimTest, HexTextToBytes) {
    const struct { const char* text; uint32_t n; sim::Bytes bytes; } cases[] = {
        {"0X0A0b", 4, {0x0A, 0x0B, 0x00, 0x00}},
        {"0x123", 2, {0x12, 0x00}},  // an odd last digit is dropped
        {"0x2100001b32a0b0c1", 8, {0x21, 0x00, 0x00, 0x1B, 0x32, 0xA0, 0xB0, 0xC1}},
        {"abcdef", 2, {0xAB, 0xCD}}, {"0x", 2, {0x00, 0x00}}, {"0", 2, {0x00, 0x00}},
        {nullptr, 4, {0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(null)");
        // The text exactly as long as it is: reading past it is caught.
        const sim::Exact text(c.text ? sim::bytes_of(c.text, std::strlen(c.text) + 1) : sim::Bytes{});
        sim::Bytes out(c.n, 0xEE);
        vxsysfs_to_array_hex(out.data(), c.text ? reinterpret_cast<const char*>(text.get()) : nullptr, c.n);
        EXPECT_EQ(out, c.bytes);
    }
}

TEST_F(SysfsPrimTest, ScsiAddressFieldsAndNewlines) {
    const struct { const char* name; uint16_t target, lun; } cases[] = {
        {"5:0:3:7", 3, 7}, {"5:0:3", 3, 0xFFFF}, {"5:0", 0xFFFF, 0xFFFF}, {"", 0xFFFF, 0xFFFF},
        {"12:1:250:4095", 250, 4095},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(vxsysfs_get_target_id(c.name), c.target) << c.name;
        EXPECT_EQ(vxsysfs_get_lun_no(c.name), c.lun) << c.name;
    }
    char text[] = "Online\n\n";
    vxsysfs_remove_end_newline(text);
    EXPECT_STREQ(text, "Online");
    char lone[] = "\n";
    vxsysfs_remove_end_newline(lone);
    EXPECT_STREQ(lone, "");
    vxsysfs_remove_end_newline(nullptr);
}

// ---------------------------------------------------------------- paths

TEST_F(SysfsPrimTest, PathBuilders) {
    vxapi_priv_database rec{};
    std::strcpy(reinterpret_cast<char*>(rec.phys_path), "/sys/bus/pci/drivers/vxa2xxx/0000:03:00.0");
    rec.host_no = 7;
    using Build = std::function<char*(char*)>;
    const uint16_t host = 0x10005 & 0xFFFF;  // only the low 16 bits name the host
    const struct { std::string expected; Build build;
    } cases[] = {
        {"/sys/class/scsi_host/host5/", [&](char* p) { return vxsysfs_get_scsi_host_path(p, host); }},
        {"/sys/class/fc_host/", [](char* p) { return vxsysfs_get_fc_host(p); }},
        {"/sys/class/fc_host/host5/", [&](char* p) { return vxsysfs_get_fc_host_path(p, host); }},
        {"/sys/class/fc_remote_ports/", [](char* p) { return vxsysfs_get_fc_rport_path(p, nullptr); }},
        {"/sys/class/fc_remote_ports/rport-5:0-1/",
         [](char* p) { return vxsysfs_get_fc_rport_path(p, "rport-5:0-1"); }},
        {"/sys/class/fc_vports/", [](char* p) { return vxsysfs_get_fc_vports_path(p); }},
        {"/sys/class/scsi_device/", [](char* p) { return vxsysfs_get_scsi_dev_path(p, nullptr); }},
        {"/sys/class/scsi_device/5:0:3:7", [](char* p) { return vxsysfs_get_scsi_dev_path(p, "5:0:3:7"); }},
        {"/sys/bus/pci/drivers/vxa2xxx/0000:03:00.0/host7/",
         [&](char* p) { return vxsysfs_get_device_path(p, &rec); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        char path[VXSYSFS_PATH_SIZE];
        char* end = c.build(path);
        EXPECT_STREQ(path, c.expected.c_str());
        EXPECT_EQ(end, path + c.expected.size());
        EXPECT_EQ(vxsysfs_path_append(path, end, "port_name"), end + 9);
        EXPECT_EQ(std::string(path), c.expected + "port_name");
    }
}

TEST_F(SysfsPrimTest, PathBuildersStayInsideTheirBuffer) {
    // "<mnt>/class/fc_host/" is the mount path and 15 characters.
    const struct { size_t mnt_len, path_len; bool room_for_one; } cases[] = {
        {239, 254, true},
        {240, 255, false},  // fills the buffer exactly
        {241, 255, false},  // cut
        {255, 255, false},  // the longest mount path there is
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mnt_len);
        std::string mnt(c.mnt_len, 'm');
        mnt[0] = '/';
        std::memcpy(sysfs_mnt_path, mnt.c_str(), mnt.size() + 1);
        char buffer[VXSYSFS_PATH_SIZE + 64];
        std::memset(buffer, 0x5A, sizeof buffer);
        char* end = vxsysfs_get_fc_host(buffer);
        EXPECT_EQ(end, buffer + c.path_len);
        EXPECT_EQ(std::strlen(buffer), c.path_len);
        EXPECT_EQ(std::string(buffer, c.mnt_len), mnt);
        EXPECT_EQ(vxsysfs_path_append(buffer, end, "x") != nullptr, c.room_for_one);
        EXPECT_EQ(std::strlen(buffer), c.path_len + (c.room_for_one ? 1 : 0));  // unchanged when no room
        EXPECT_EQ(std::string(buffer + VXSYSFS_PATH_SIZE, 64), std::string(64, 0x5A));
    }
}

TEST_F(SysfsPrimTest, LongNamesAreCut) {
    const std::string name(300, 'n');
    vxapi_priv_database rec{};  // a physical path that fills its whole field, without a terminator
    std::memset(rec.phys_path, 'p', sizeof rec.phys_path);
    rec.host_no = 3;
    for (const std::function<char*(char*)>& build : std::vector<std::function<char*(char*)>>{
             [&](char* p) { return vxsysfs_get_fc_rport_path(p, name.c_str()); },
             [&](char* p) { return vxsysfs_get_scsi_dev_path(p, name.c_str()); },
             [&](char* p) { return vxsysfs_get_device_path(p, &rec); }}) {
        char buffer[VXSYSFS_PATH_SIZE + 64];
        std::memset(buffer, 0x5A, sizeof buffer);
        EXPECT_EQ(build(buffer), buffer + 255);
        EXPECT_EQ(std::strlen(buffer), 255u);
        EXPECT_EQ(buffer[VXSYSFS_PATH_SIZE], 0x5A);
    }
    char buffer[VXSYSFS_PATH_SIZE];
    vxsysfs_get_device_path(buffer, &rec);
    EXPECT_EQ(std::string(buffer), std::string(255, 'p'));
}

// ---------------------------------------------------------------- attributes

TEST_F(SysfsPrimTest, StringAttributes) {
    const struct {
        const char* name;
        std::optional<std::string> value;
        uint32_t length;
        std::string expected;
    } cases[] = {
        {"newlines stripped", std::string("Online\n\n"), 32, "Online"},
        {"cut to length-1", std::string("abcdefgh"), 8, "abcdefg"},
        {"fits exactly", std::string("abcdefg\n"), 8, "abcdefg"},
        {"empty", std::string(""), 8, ""},
        {"missing", std::nullopt, 8, ""},
        {"one byte", std::string("abc"), 1, ""},
        {"length 0: nothing written", std::string("name\n"), 0, "Z"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = std::string("/sys/class/fc_host/host5/attr_") + std::to_string(&c - cases);
        if (c.value) host.write_file(path, *c.value);
        std::vector<char> out(c.length + 8, 'Z');
        out.back() = '\0';
        vxsysfs_get_str_attr(path.c_str(), out.data(), c.length);
        EXPECT_EQ(std::string(out.data()).substr(0, c.length ? std::string::npos : 1), c.expected);
        EXPECT_EQ(std::string(out.data() + c.length, 7), std::string(7, 'Z'));
    }
    // An attribute whose read fails reads as empty.
    host.set_attr("/sys/class/fc_host/host5/port_state", {[](size_t, std::string&) { return EIO; }, nullptr});
    char state[16] = "stale";
    vxsysfs_get_str_attr("/sys/class/fc_host/host5/port_state", state, sizeof state);
    EXPECT_STREQ(state, "");
}

TEST_F(SysfsPrimTest, NumberAndHexAttributes) {
    host.write_file("/sys/class/fc_host/host5/port_name", "0x2100001b32a0b0c1\n");
    host.write_file("/sys/class/fc_host/host5/port_id", "0x010a0b\n");
    host.write_file("/sys/class/scsi_host/host5/max_npiv_vports", "127\n");
    host.write_file("/sys/class/scsi_host/host5/flash_block_size", "0x10000\n");
    uint8_t wwpn[8];
    vxsysfs_get_hex_attr("/sys/class/fc_host/host5/port_name", wwpn, sizeof wwpn);
    EXPECT_EQ(sim::bytes_of(wwpn, 8), (sim::Bytes{0x21, 0x00, 0x00, 0x1B, 0x32, 0xA0, 0xB0, 0xC1}));
    uint8_t port_id[3];
    vxsysfs_get_hex_attr("/sys/class/fc_host/host5/port_id", port_id, sizeof port_id);
    EXPECT_EQ(sim::bytes_of(port_id, 3), (sim::Bytes{0x01, 0x0A, 0x0B}));
    vxsysfs_get_hex_attr("/sys/class/fc_host/host5/node_name", wwpn, sizeof wwpn);
    EXPECT_EQ(sim::bytes_of(wwpn, 8), sim::Bytes(8, 0));
    EXPECT_EQ(vxsysfs_get_int_attr("/sys/class/scsi_host/host5/max_npiv_vports"), 127u);
    EXPECT_EQ(vxsysfs_get_int_attr(kMissing), 0u);
    EXPECT_EQ(vxsysfs_get_long_attr("/sys/class/scsi_host/host5/flash_block_size"), 0x10000u);
    EXPECT_EQ(vxsysfs_get_long_attr(kMissing), ~uint64_t{0});
}

TEST_F(SysfsPrimTest, ValuesEndWhereTheAttributeLengthSays) {
    host.write_file("/sys/class/fc_host/host5/port_state", "Online\nstale text");
    host.write_file("/sys/class/fc_host/host5/port_id", "0x0102FFFF");
    host.write_file("/sys/class/scsi_host/host5/max_npiv_vports", "123456789");
    host.write_file("/sys/class/scsi_host/host5/flash_block_size", "0x100000");
    ShortLengthPlatform platform(host, 7);
    char state[64];
    vxsysfs_get_str_attr("/sys/class/fc_host/host5/port_state", state, sizeof state);
    EXPECT_STREQ(state, "Online");
    uint8_t port_id[3];
    vxsysfs_get_hex_attr("/sys/class/fc_host/host5/port_id", port_id, sizeof port_id);
    EXPECT_EQ(sim::bytes_of(port_id, 3),
              (sim::Bytes{0x01, 0x02, 0x00}));  // "0x0102F": the odd digit is dropped
    EXPECT_EQ(vxsysfs_get_int_attr("/sys/class/scsi_host/host5/max_npiv_vports"), 1234567u);
    EXPECT_EQ(vxsysfs_get_long_attr("/sys/class/scsi_host/host5/flash_block_size"), 0x10000u);
}

// ---------------------------------------------------------------- remote ports

TEST_F(SysfsPrimTest, RemotePortRolesAndState) {
    const struct { const char* attr; std::optional<std::string> value; bool target, online; } cases[] = {
        {"roles", std::string("FCP Target\n"), true, false},
        {"roles", std::string("FCP Target, FCP Initiator\n"), false, false},
        {"roles", std::string("FCP Initiator\n"), false, false},
        {"port_state", std::string("Online\n"), false, true},
        {"port_state", std::string("Blocked\n"), false, false},
        {"port_state", std::string("Online, blocked\n"), false, false},
        {"roles", std::nullopt, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.attr) + "=" + c.value.value_or("(missing)"));
        const std::string dir = "/sys/class/fc_remote_ports/rport-5:0-" + std::to_string(&c - cases) + "/";
        host.make_dir(dir);
        if (c.value) host.write_file(dir + c.attr, *c.value);
        EXPECT_EQ(vxsysfs_is_rport_a_target(dir.c_str()), c.target);
        EXPECT_EQ(vxsysfs_is_rport_online(dir.c_str()), c.online);
    }
}

void SysfsPrimTest::check_lookups(bool links) {
    const uint8_t wanted[] = {0x21, 0x00, 0x00, 0x24, 0xFF, 0x00, 0x00, 0x09};
    const uint8_t other[] = {0x21, 0x00, 0x00, 0x24, 0xFF, 0x00, 0x00, 0x07};
    char result[VXSYSFS_PATH_SIZE] = "stale";
    EXPECT_EQ(vxsysfs_find_rport_by_wwpn(result, 5, wanted), 0) << "no class yet";
    EXPECT_STREQ(result, "");
    EXPECT_EQ(vxsysfs_find_rport_by_tid(result, 5, 0), 0);
    // Host 50's port sorts ahead of host 5's and carries the same names.
    add_rport("rport-50:0-1", "0x21000024ff000009", "3", links);
    add_rport("rport-5:0-0", "0x21000024ff000001", "-1", links);
    add_rport("rport-5:0-2", "0x21000024ff000009", "3", links);
    add_rport("rport-6:0-0", "0x21000024ff000007", "0", links);
    const struct { std::function<int()> find; int found; const char* path;
    } cases[] = {
        {[&] { return vxsysfs_find_rport_by_wwpn(result, 5, wanted); }, 1, "rport-5:0-2/"},
        {[&] { return vxsysfs_find_rport_by_tid(result, 5, 3); }, 1, "rport-5:0-2/"},
        {[&] { return vxsysfs_find_rport_by_tid(result, 5, 0xFFFF); }, 0, ""},  // -1 is not target 65535
        {[&] { return vxsysfs_find_rport_by_wwpn(result, 5, other); }, 0,
         ""},  // host 6's port is not host 5's
        {[&] { return vxsysfs_find_rport_by_wwpn(result, 6, other); }, 1, "rport-6:0-0/"},
        {[&] { return vxsysfs_find_rport_by_tid(result, 50, 3); }, 1, "rport-50:0-1/"},
    };
    for (const auto& c : cases) {
        std::strcpy(result, "stale");
        EXPECT_EQ(c.find(), c.found);
        EXPECT_STREQ(result, c.found ? ("/sys/class/fc_remote_ports/" + std::string(c.path)).c_str() : "");
    }
}

TEST_F(SysfsPrimTest, RemotePortLookupsThroughDirectories) { check_lookups(false); }

// Newer kernels: the class directory holds links to the ports' directories.
TEST_F(SysfsPrimTest, RemotePortLookupsThroughLinks) { check_lookups(true); }

// ---------------------------------------------------------------- dumps

vxapi_priv_database sample_port() {
    vxapi_priv_database rec{};
    std::strcpy(reinterpret_cast<char*>(rec.phys_path), "/sys/bus/pci/drivers/vxa2xxx/0000:03:00.0");
    rec.oshandle = -1;
    rec.apihandle = 2;
    rec.drvr_inst = 1;
    rec.host_no = 5;
    std::memcpy(rec.wwnn, "\x20\x00\x00\x24\xFF\x00\x00\x01", 8);
    std::memcpy(rec.wwpn, "\x21\x00\x00\x24\xFF\x00\x00\x01", 8);
    std::memcpy(rec.port_id, "\xEE\x01\x02\x0A", 4);
    rec.interface_type = 1;
    rec.features = 0x1020;
    rec.topology = 2;
    rec.state = 3;
    return rec;
}

const std::string kPortLines = "API Private Data:\n - phys_path: /sys/bus/pci/drivers/vxa2xxx/0000:03:00.0\n"
                               " - oshandle: -1\n - apihandle: 2\n";
const std::string kPortLinesAfterModel =
    " - drvr_inst: 1\n - host_no: 5\n - drvr_attr: 0\n - wwnn: 20h 0 0 24h FFh 0 0 1\n"
    " - wwpn: 21h 0 0 24h FFh 0 0 1\n - portid: 1 2 Ah\n - interface_type: 1\n - vp_idx: 0\n"
    " - features: 1020h\n - port_flags: 0\n - topology: 2\n - state: 3\n";

TEST_F(SysfsPrimTest, PortDumpWithItsAdapterRecord) {
    vxapi_phy_info info{};
    std::strcpy(reinterpret_cast<char*>(info.model), "vxa2xxx");
    info.vendor_id = info.ssvendor_id = 0x1A2B;
    info.device_id = 0x2532;
    info.ssdevice_id = 0x015D;
    std::strcpy(reinterpret_cast<char*>(info.serial_num), "RFC0912K12345");
    info.pci_bus = 3;
    info.pci_dev_func = 1;
    info.max_vports = 127;
    std::memcpy(info.mpi_running_ver, "\1\2\3", 3);
    std::memcpy(info.mpi_flash_ver, "\1\2\3", 3);
    info.edc_running_ver[0] = 10;
    vxapi_priv_database rec = sample_port();
    rec.phy_info = &info;
    vxsysfs_print_priv_data(&rec);
    EXPECT_EQ(host.stderr_text(), "");  // not traced without bit 0x200
    trace_sysfs();
    vxsysfs_print_priv_data(&rec);
    EXPECT_EQ(host.stderr_text(), kPortLines + " - model: vxa2xxx\n" + kPortLinesAfterModel +
                                      " - vendor_id: 1A2Bh\n - device_id: 2532h\n - ssvendor_id: 1A2Bh\n"
                                      " - ssdevice_id: 15Dh\n - serial_num: RFC0912K12345\n - pci_domain: 0\n"
                                      " - pci_bus: 3\n - pci_dev_func: 1\n - max_vports_supported: 7Fh\n"
                                      " - Running MPI: 1.2.3\n - Running EDC: 10.0.0\n - Flash MPI: 1.2.3\n"
                                      " - Flash EDC: 0.0.0\n");
}

TEST_F(SysfsPrimTest, PortAndRemotePortDumpsWithoutAnAdapterRecord) {
    vxapi_priv_database rec = sample_port();
    trace_sysfs();
    vxsysfs_print_priv_data(&rec);
    EXPECT_EQ(host.stderr_text(), kPortLines + kPortLinesAfterModel);
    // A remote port's dump follows the same convention.
    EXT_DISC_PORT port{};
    std::memcpy(port.WWNN, "\x20\x00\x00\x11\x22\x33\x44\x55", 8);
    std::memcpy(port.WWPN, "\x21\x00\x00\x11\x22\x33\x44\x55", 8);
    std::memcpy(port.Id, "\x00\x0B\x0C\x0D", 4);
    port.Type = 0x2;
    port.TargetId = 12;
    port.LoopID = 0x81;
    host.clear_stderr();
    vxsysfs_print_disc_data(&port);
    EXPECT_EQ(host.stderr_text(), "Remote port data:\n - wwnn: 20h 0 0 11h 22h 33h 44h 55h\n"
                                  " - wwpn: 21h 0 0 11h 22h 33h 44h 55h\n - portid: Bh Ch Dh\n - Type: 2\n"
                                  " - Status: 0\n - Bus: 0\n - TargetId: Ch\n - Local: 0\n - LoopID: 81h\n");
}

}  // namespace
