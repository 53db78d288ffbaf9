// The sysfs primitives against the simulated host: file transfers, byte and text helpers, path builders at the
// edge of their buffer, attribute readers, remote-port lookups and the two debug dumps; bsg jobs against the
// simulated FC bsg device (the frames, the private nodes, the statuses of the send path) and generic nodes.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "sim_bsg.h"
#include "test_support.h"
#include "transport/vx_sysfs.h"
#include "transport/vx_sysfs_bsg.h"
#include "transport/vx_sysfs_prim.h"

namespace {

using sim::Bytes;
using sim::bytes_of;
using Build = std::function<char*(char*)>;
constexpr const char* kOptrom = "/sys/class/scsi_host/host5/optrom";
constexpr const char* kMissing = "/sys/class/scsi_host/host5/missing";

// A device node standing for an attribute file: serves its contents, takes writes (failing those beyond
// fail_writes_after) and records the size every call asked for.
struct FileDevice : sim::SimDevice {
    int ioctl(dev_t, unsigned long, void*) override { return 22; }
    ssize_t read(dev_t, void* buf, size_t len) override {
        asked.push_back(len);
        const size_t n = std::min(len, contents.size() - offset);
        std::memcpy(buf, contents.data() + offset, n);
        return offset += n, static_cast<ssize_t>(n);
    }
    ssize_t write(dev_t, const void* buf, size_t len) override {
        asked.push_back(len);
        if (fail_writes_after >= 0 && written.size() >= static_cast<size_t>(fail_writes_after)) return -5;
        return written.append(static_cast<const char*>(buf), len), static_cast<ssize_t>(len);
    }
    std::string contents, written;
    size_t offset = 0;
    long fail_writes_after = -1;
    std::vector<size_t> asked;
};

// The simulated host, except that an attribute read reports a length shorter than the text it holds.
struct ShortLengthPlatform final : sim::ForwardingPlatform {
    ShortLengthPlatform(vx::Platform& base, unsigned short len) : ForwardingPlatform(base), base(base), len(len) {}
    int sysfs_read_attribute(struct sysfs_attribute* attr) override {
        const int rc = base.sysfs_read_attribute(attr);
        if (rc == 0 && attr->len > len) attr->len = len;
        return rc;
    }
    vx::Platform& base;
    unsigned short len;
};

// The simulated host, counting the path tests and attribute opens the library makes, and failing the opens of one
// path with an errno.
struct CountingPlatform final : sim::ForwardingPlatform {
    explicit CountingPlatform(vx::Platform& base) : ForwardingPlatform(base), base(base) {}
    int sysfs_path_is_file(const char* path) override { return ++path_tests, base.sysfs_path_is_file(path); }
    struct sysfs_attribute* sysfs_open_attribute(const char* path) override {
        ++opens;
        if (failing == path) return errno = open_errno, nullptr;
        return base.sysfs_open_attribute(path);
    }
    vx::Platform& base;
    int path_tests = 0, opens = 0, open_errno = 0;
    std::string failing;
};

struct SysfsPrimTest : ::testing::Test {
    SysfsPrimTest() {
        vxdbg_reset();
        std::strcpy(sysfs_mnt_path, "/sys");
        host.register_device(241, &device);
        host.add_node(kOptrom, S_IFCHR | 0600, makedev(241, 0));
    }
    ~SysfsPrimTest() override { vxdbg_reset(), sysfs_mnt_path[0] = '\0'; }
    void trace_sysfs() { host.set_env("VX_FCAPI_DEBUG", "200"), vxapi_set_debug_level(); }
    bool traced(const std::string& text) const { return host.stderr_text().find(text) != std::string::npos; }
    FileDevice device;  // outlives the host it is registered with
    sim::SimHost host;
};

// Whole files go in pages, on through short reads, until a call fails (the result: the residual); single calls
// move at most a page.
TEST_F(SysfsPrimTest, FileTransfers) {
    device.contents = std::string(6000, 'r');
    std::vector<char> buffer(10000, 0);
    EXPECT_EQ(vxsysfs_read_file(kOptrom, buffer.data(), 10000), 4000);
    EXPECT_EQ(device.asked, (std::vector<size_t>{4096, 4096, 4000}));
    EXPECT_EQ(std::string(buffer.data(), 6001), device.contents + '\0');
    EXPECT_EQ(vxsysfs_read_file(kMissing, buffer.data(), 10000), 10000);
    host.write_file("/sys/class/scsi_host/host5/vpd", std::string(3000, 'v'));
    host.short_reads("/sys/class/scsi_host/host5/vpd", 700);
    EXPECT_EQ(vxsysfs_read_file("/sys/class/scsi_host/host5/vpd", buffer.data(), 3000), 0);
    EXPECT_EQ(std::string(buffer.data(), 3000), std::string(3000, 'v'));
    // An empty read and a failed one leave the same residual: whether a read failed is told apart.
    host.write_file("/sys/class/scsi_host/host5/empty", "");
    host.make_dir("/sys/class/scsi_host/host5/dir");
    device.offset = 0;
    const std::tuple<const char*, int32_t, bool> reads[] = {
        {kOptrom, 4000, false},  // to the end of the file
        {"/sys/class/scsi_host/host5/empty", 10000, false},
        {kMissing, 10000, true},
        {"/sys/class/scsi_host/host5/dir", 10000, true},  // the read call fails
    };
    for (const auto& [path, residual, failed] : reads) {
        bool got = !failed;
        EXPECT_EQ(std::pair(vxsysfs_read_file(path, buffer.data(), 10000, &got), got), std::pair(residual, failed))
            << path;
    }
    const std::string data(10000, 'w');
    device.asked.clear();
    EXPECT_EQ(vxsysfs_write_file(kOptrom, data.data(), 10000), 0);
    EXPECT_EQ(std::tuple(device.asked, device.written), std::tuple(std::vector<size_t>{4096, 4096, 1808}, data));
    device.written.clear(), device.asked.clear(), device.fail_writes_after = 4096;
    trace_sysfs();
    EXPECT_EQ(vxsysfs_write_file(kOptrom, data.data(), 10000), 10000 - 4096);
    EXPECT_EQ(device.asked, (std::vector<size_t>{4096, 4096}));
    EXPECT_TRUE(traced("vxsysfs_write_file\n> size==10000\n> path==/sys/class/scsi_host/host5/optrom\n"));
    EXPECT_TRUE(traced("> Failed write\n> n==-1\n> residual==5904\n"));
    host.fail_open(kOptrom, EACCES, 1);
    EXPECT_EQ(vxsysfs_write_file(kOptrom, data.data(), 10000), 10000);
    EXPECT_TRUE(traced("> Failed open\n"));

    device.offset = 0, device.written.clear(), device.asked.clear(), device.fail_writes_after = -1;
    EXPECT_EQ(vxsysfs_read_data(kOptrom, buffer.data(), 10000), 4096u);
    EXPECT_EQ(vxsysfs_read_data(kOptrom, buffer.data(), 100), 100u);
    device.offset = device.contents.size();
    EXPECT_EQ(vxsysfs_read_data(kOptrom, buffer.data(), 100), 0u);
    EXPECT_EQ(vxsysfs_read_data(kMissing, buffer.data(), 100), 0u);
    EXPECT_EQ(vxsysfs_read_data("/sys/class/scsi_host/host5/dir", buffer.data(), 100), 0xFFFFFFFFu);
    EXPECT_EQ(vxsysfs_write_data(kOptrom, "els request", 11), 11u);
    device.fail_writes_after = 0;
    EXPECT_EQ(vxsysfs_write_data(kOptrom, "again", 5), 0xFFFFFFFFu);
    EXPECT_EQ(std::tuple(device.asked, device.written),
              std::tuple(std::vector<size_t>{4096, 100, 100, 11, 5}, std::string("els request")));
    EXPECT_EQ(vxsysfs_write_data(kMissing, "x", 1), 0u);
}

// The helpers only look inside the lengths they are given (the texts are exactly as long as they are).
TEST_F(SysfsPrimTest, BytesTextsAndScsiAddresses) {
    const uint8_t nine[] = {1, 2, 3, 4, 5, 6, 7, 8, 9}, sum[] = {0xFF, 0x02};
    EXPECT_EQ(std::tuple(vxsysfs_bendian(nine, 2), vxsysfs_lendian(nine, 2), vxsysfs_memsum(sum, 2)),
              std::tuple(0x102u, 0x201u, 1));
    // Of more than 8 bytes only the low 8 count.
    EXPECT_EQ(std::pair(vxsysfs_lendian(nine, 9), vxsysfs_bendian(nine, 9)),
              std::pair(0x0807060504030201ul, 0x0203040506070809ul));
    Bytes out(10, 0xEE);
    vxsysfs_bendian_buf(out.data(), 0x0102, 2);
    EXPECT_EQ(out, (Bytes{1, 2, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
    vxsysfs_lendian_buf(out.data(), 0x0102, 2);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 3), (Bytes{2, 1, 0xEE}));
    vxsysfs_bendian_buf(out.data(), 0x1122334455667788u, 10);
    EXPECT_EQ(out, (Bytes{0, 0, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}));
    vxsysfs_lendian_buf(out.data(), 0x1122334455667788u, 10);
    EXPECT_EQ(out, (Bytes{0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0, 0}));
    vxsysfs_revcpy(out.data(), "abc", 3);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 3), (Bytes{'c', 'b', 'a'}));

    const sim::Exact found(Bytes{'P', 'N', 'x', 'S', 'N', '9'});
    const char* b = reinterpret_cast<const char*>(found.get());
    for (const auto& [needle, len, at] : {std::tuple("SN", 6u, 3), {"SN", 5u, 3}, {"SN", 4u, -1}, {"N9x", 6u, -1},
                                          {"PN", 6u, 0}}) {
        EXPECT_EQ(vxsysfs_memstr(b, needle, len), at < 0 ? nullptr : b + at) << needle << len;
    }
    const struct { const char* text; Bytes bytes; } hex[] = {
        {"0X0A0b", {0x0A, 0x0B, 0x00, 0x00}}, {"0x123", {0x12, 0x00}},  // an odd last digit is dropped
        {"0x2100001b32a0b0c1", {0x21, 0x00, 0x00, 0x1B, 0x32, 0xA0, 0xB0, 0xC1}}, {"abcdef", {0xAB, 0xCD}},
        {"0x", {0, 0}}, {"0", {0, 0}}, {nullptr, {0, 0, 0, 0}}};
    for (const auto& c : hex) {
        const sim::Exact text(c.text ? sim::bytes_of(c.text, std::strlen(c.text) + 1) : Bytes{});
        Bytes got(c.bytes.size(), 0xEE);
        vxsysfs_to_array_hex(got.data(), c.text ? reinterpret_cast<const char*>(text.get()) : nullptr,
                             static_cast<uint32_t>(got.size()));
        EXPECT_EQ(got, c.bytes) << (c.text ? c.text : "(null)");
    }
    for (const auto& [name, target, lun] : {std::tuple("5:0:3:7", 3, 7), {"5:0:3", 3, 0xFFFF},
                                            {"5:0", 0xFFFF, 0xFFFF}, {"", 0xFFFF, 0xFFFF}, {"12:1:250:4095", 250, 4095}}) {
        const std::pair<int, int> got(vxsysfs_get_target_id(name), vxsysfs_get_lun_no(name));
        EXPECT_EQ(got, std::pair(target, lun));
    }
    char text[] = "Online\n\n", lone[] = "\n";
    vxsysfs_remove_end_newline(text), vxsysfs_remove_end_newline(lone), vxsysfs_remove_end_newline(nullptr);
    EXPECT_EQ(std::string(text) + "|" + lone, "Online|");
}

// The paths of each builder (the low 16 bits of a host number name the host); paths are cut at 255 characters
// and never written past the buffer; nothing is appended without room.
TEST_F(SysfsPrimTest, PathBuildersStayInsideTheirBuffer) {
    vxapi_priv_database port{};
    std::strcpy(reinterpret_cast<char*>(port.phys_path), "/sys/bus/pci/drivers/vxa2xxx/0000:03:00.0");
    port.host_no = 7;
    const std::pair<std::string, Build> cases[] = {
        {"/sys/class/scsi_host/host5/", [&](char* p) { return vxsysfs_get_scsi_host_path(p, 0x10005 & 0xFFFF); }},
        {"/sys/class/fc_host/host5/", [&](char* p) { return vxsysfs_get_fc_host_path(p, 0x10005 & 0xFFFF); }},
        {"/sys/class/fc_remote_ports/", [](char* p) { return vxsysfs_get_fc_rport_path(p, nullptr); }},
        {"/sys/class/fc_remote_ports/rport-5:0-1/", [](char* p) { return vxsysfs_get_fc_rport_path(p, "rport-5:0-1"); }},
        {"/sys/class/fc_vports/", vxsysfs_get_fc_vports_path},
        {"/sys/class/scsi_device/5:0:3:7", [](char* p) { return vxsysfs_get_scsi_dev_path(p, "5:0:3:7"); }},
        {"/sys/bus/pci/drivers/vxa2xxx/0000:03:00.0/host7/", [&](char* p) { return vxsysfs_get_device_path(p, &port); }},
    };
    for (const auto& [expected, build] : cases) {
        char path[VXSYSFS_PATH_SIZE];
        char* end = build(path);
        EXPECT_EQ(end, path + expected.size()) << expected;
        EXPECT_EQ(vxsysfs_path_append(path, end, "port_name"), end + 9);
        EXPECT_EQ(std::string(path), expected + "port_name");
    }
    // "<mnt>/class/fc_host/": the mount path and 15 characters; 240 fill the buffer exactly, 241 and 255 are cut.
    for (const auto& [mnt_len, path_len] : {std::pair(239u, 254u), {240u, 255u}, {241u, 255u}, {255u, 255u}}) {
        std::string mnt(mnt_len, 'm');
        mnt[0] = '/';
        std::memcpy(sysfs_mnt_path, mnt.c_str(), mnt.size() + 1);
        char buffer[VXSYSFS_PATH_SIZE + 64];
        std::memset(buffer, 0x5A, sizeof buffer);
        char* end = vxsysfs_get_fc_host(buffer);
        EXPECT_EQ(std::tuple(end - buffer, std::strlen(buffer)), std::tuple(long{path_len}, size_t{path_len}));
        EXPECT_EQ(std::string(buffer, mnt_len), mnt);
        EXPECT_EQ(vxsysfs_path_append(buffer, end, "x") != nullptr, path_len == 254);
        EXPECT_EQ(std::strlen(buffer), path_len + (path_len == 254 ? 1 : 0));
        EXPECT_EQ(std::string(buffer + VXSYSFS_PATH_SIZE, 64), std::string(64, 0x5A));
    }
    std::strcpy(sysfs_mnt_path, "/sys");
    const std::string name(300, 'n');
    vxapi_priv_database rec{};  // a physical path that fills its whole field, without a terminator
    std::memset(rec.phys_path, 'p', sizeof rec.phys_path);
    for (const Build& build : std::vector<Build>{[&](char* p) { return vxsysfs_get_fc_rport_path(p, name.c_str()); },
                                                 [&](char* p) { return vxsysfs_get_scsi_dev_path(p, name.c_str()); },
                                                 [&](char* p) { return vxsysfs_get_device_path(p, &rec); }}) {
        char buffer[VXSYSFS_PATH_SIZE + 64];
        std::memset(buffer, 0x5A, sizeof buffer);
        EXPECT_EQ(build(buffer), buffer + 255);
        EXPECT_EQ(std::pair(std::strlen(buffer), buffer[VXSYSFS_PATH_SIZE]), std::pair(255ul, char{0x5A}));
    }
    char buffer[VXSYSFS_PATH_SIZE];
    vxsysfs_get_device_path(buffer, &rec);
    EXPECT_EQ(std::string(buffer), std::string(255, 'p'));
}

// Texts lose their newlines and are cut to the caller's length; a value ends where the attribute's length says.
TEST_F(SysfsPrimTest, AttributeReaders) {
    const struct { std::optional<std::string> value; uint32_t length; std::string expected; } cases[] = {
        {"Online\n\n", 32, "Online"}, {"abcdefgh", 8, "abcdefg"}, {"abcdefg\n", 8, "abcdefg"}, {"", 8, ""},
        {std::nullopt, 8, ""}, {"abc", 1, ""}, {"name\n", 0, "Z"}};  // length 0: nothing written
    for (const auto& c : cases) {
        const std::string path = "/sys/class/fc_host/host5/attr_" + std::to_string(&c - cases);
        if (c.value) host.write_file(path, *c.value);
        std::vector<char> out(c.length + 8, 'Z');
        out.back() = '\0';
        vxsysfs_get_str_attr(path.c_str(), out.data(), c.length);
        EXPECT_EQ(std::string(out.data()).substr(0, c.length ? std::string::npos : 1), c.expected) << path;
        EXPECT_EQ(std::string(out.data() + c.length, 7), std::string(7, 'Z'));
    }
    host.set_attr("/sys/class/fc_host/host5/port_state", {[](size_t, std::string&) { return EIO; }, nullptr});
    char state[16] = "stale";
    vxsysfs_get_str_attr("/sys/class/fc_host/host5/port_state", state, sizeof state);
    EXPECT_STREQ(state, "");  // unreadable: empty

    const std::string fc = "/sys/class/fc_host/host5/", scsi = "/sys/class/scsi_host/host5/";
    host.write_file(fc + "port_name", "0x2100001b32a0b0c1\n");
    host.write_file(fc + "port_id", "0x0102FFFF");
    host.write_file(scsi + "max_npiv_vports", "123456789");
    host.write_file(scsi + "flash_block_size", "0x100000");
    host.write_file(fc + "symbolic_name", "Online\nstale text");
    uint8_t wwpn[8], port_id[3];
    vxsysfs_get_hex_attr((fc + "port_name").c_str(), wwpn, sizeof wwpn);
    EXPECT_EQ(sim::bytes_of(wwpn, 8), (Bytes{0x21, 0x00, 0x00, 0x1B, 0x32, 0xA0, 0xB0, 0xC1}));
    vxsysfs_get_hex_attr((fc + "node_name").c_str(), wwpn, sizeof wwpn);
    EXPECT_EQ(sim::bytes_of(wwpn, 8), Bytes(8, 0));
    EXPECT_EQ(std::pair(vxsysfs_get_int_attr(kMissing), vxsysfs_get_long_attr(kMissing)), std::pair(0u, ~0ul));
    ShortLengthPlatform platform(host, 7);
    vxsysfs_get_str_attr((fc + "symbolic_name").c_str(), state, sizeof state);
    vxsysfs_get_hex_attr((fc + "port_id").c_str(), port_id, sizeof port_id);
    // "0x0102F": five digits are a number of the field's low end.
    EXPECT_EQ(std::pair(std::string(state), sim::bytes_of(port_id, 3)),
              std::pair(std::string("Online"), Bytes{0x00, 0x10, 0x2F}));
    EXPECT_EQ(std::pair(vxsysfs_get_int_attr((scsi + "max_npiv_vports").c_str()),
                        vxsysfs_get_long_attr((scsi + "flash_block_size").c_str())),
              std::pair(1234567u, 0x10000ul));
}

// A reader given a place for its answer says whether a value came: an absent file, a failed read, a text that is
// no number of the base asked, a number past its field and a text cut to its buffer are each told apart, and none
// of them gives a value. A number is read as a conversion reads it: white space before it skipped, what follows its
// digits (a unit, a tag, more words) not judged.
TEST_F(SysfsPrimTest, AttributeAnswersTellWhetherAValueCame) {
    const std::string dir = "/sys/class/scsi_host/host5/";
    struct Row { std::optional<std::string> text; VxAttrAnswer number, hex16, hex3; uint32_t value; };
    using A = VxAttrAnswer;
    const Row rows[] = {
        {"4096\n", A::Came, A::Came, A::Came, 4096},
        {"  17 \n", A::Came, A::Came, A::Came, 17},               // white space around a number
        {"4294967295", A::Came, A::Came, A::TooLarge, 0xFFFFFFFFu},
        {"4294967296", A::TooLarge, A::Came, A::TooLarge, 0},     // one past 32 bits is no smaller number
        {"99999999999999999999999", A::TooLarge, A::TooLarge, A::TooLarge, 0},
        {"", A::NotNumber, A::NotNumber, A::NotNumber, 0},
        {"\n", A::NotNumber, A::NotNumber, A::NotNumber, 0},
        {"abc", A::NotNumber, A::Came, A::Came, 0},
        {"-1", A::NotNumber, A::NotNumber, A::NotNumber, 0},
        {"+5", A::NotNumber, A::NotNumber, A::NotNumber, 0},
        {"70000.00", A::Came, A::Came, A::Came, 70000},
        {"45 C\n", A::Came, A::Came, A::Came, 45},
        {"12abc", A::Came, A::Came, A::Came, 12},
        {"1234567 x", A::Came, A::Came, A::TooLarge, 1234567},  // seven digits for three bytes
        {"0x1f", A::Came, A::Came, A::Came, 0},                  // a decimal 0 behind which "x1f" stands
        {"x1", A::NotNumber, A::NotNumber, A::NotNumber, 0},
        {std::nullopt, A::Absent, A::Absent, A::Absent, 0},
    };
    for (const Row& r : rows) {
        const std::string path = dir + "n" + std::to_string(&r - rows);
        if (r.text) host.write_file(path, *r.text);
        A number = A::Came, hex16 = A::Came, hex3 = A::Came;
        EXPECT_EQ(vxsysfs_get_int_attr(path.c_str(), &number), r.value) << path;
        (void)vxsysfs_get_long_attr(path.c_str(), &hex16);
        uint8_t bytes[3] = {0xEE, 0xEE, 0xEE};
        vxsysfs_get_hex_attr(path.c_str(), bytes, sizeof bytes, &hex3);
        EXPECT_EQ(std::tuple(number, hex16, hex3), std::tuple(r.number, r.hex16, r.hex3)) << path;
        if (hex3 != A::Came) {
            EXPECT_EQ(sim::bytes_of(bytes, 3), Bytes(3, 0)) << path;
        }
    }
    // A field narrower than 32 bits.
    host.write_file(dir + "vlan_id", "65536\n");
    VxAttrAnswer answer = A::Came;
    EXPECT_EQ(vxsysfs_get_int_attr((dir + "vlan_id").c_str(), &answer, 0xFFFF), 0u);
    EXPECT_EQ(answer, A::TooLarge);
    EXPECT_EQ(vxsysfs_get_int_attr((dir + "vlan_id").c_str(), &answer, 0x10000), 0x10000u);
    EXPECT_EQ(answer, A::Came);

    // A read that fails, and a text longer than its buffer (cut, as before, but told).
    host.set_attr(dir + "beacon", {[](size_t, std::string&) { return EIO; }, nullptr});
    char text[8] = "stale";
    vxsysfs_get_str_attr((dir + "beacon").c_str(), text, sizeof text, &answer);
    EXPECT_EQ(std::pair(std::string(text), answer), std::pair(std::string(), A::Failed));
    EXPECT_EQ(vxsysfs_get_int_attr((dir + "beacon").c_str(), &answer), 0u);
    EXPECT_EQ(answer, A::Failed);
    host.write_file(dir + "driver_version", "10.02.09.100-k\n");
    vxsysfs_get_str_attr((dir + "driver_version").c_str(), text, sizeof text, &answer);
    EXPECT_EQ(std::pair(std::string(text), answer), std::pair(std::string("10.02.0"), A::TooLarge));
    char wide[16];
    vxsysfs_get_str_attr((dir + "driver_version").c_str(), wide, sizeof wide, &answer);
    EXPECT_EQ(std::pair(std::string(wide), answer), std::pair(std::string("10.02.09.100-k"), A::Came));

    EXPECT_EQ((std::vector<uint32_t>{vxsysfs_answer_status(A::Came), vxsysfs_answer_status(A::Absent),
                                     vxsysfs_answer_status(A::Failed), vxsysfs_answer_status(A::NotNumber),
                                     vxsysfs_answer_status(A::TooLarge)}),
              (std::vector<uint32_t>{0, 9, 1, 1, 7}));
}

// Roles and state of a remote port; lookups by name and target id over a class holding the ports of hosts 5,
// 50 and 6, as directories and as links to the ports' directories (newer kernels).
TEST_F(SysfsPrimTest, RemotePorts) {
    const struct { const char* attr; std::optional<std::string> value; bool target, online; } cases[] = {
        {"roles", "FCP Target\n", true, false}, {"roles", "FCP Target, FCP Initiator\n", false, false},
        {"port_state", "Online\n", false, true}, {"port_state", "Online, blocked\n", false, false},
        {"roles", std::nullopt, false, false}};
    for (const auto& c : cases) {
        const std::string dir = "/sys/class/other_ports/rport-5:0-" + std::to_string(&c - cases) + "/";
        host.make_dir(dir);
        if (c.value) host.write_file(dir + c.attr, *c.value);
        EXPECT_EQ(std::pair(vxsysfs_is_rport_a_target(dir.c_str()), vxsysfs_is_rport_online(dir.c_str())),
                  std::pair(c.target, c.online)) << dir;
    }
    const uint8_t wanted[] = {0x21, 0, 0, 0x24, 0xFF, 0, 0, 0x09}, other[] = {0x21, 0, 0, 0x24, 0xFF, 0, 0, 0x07};
    for (bool links : {false, true}) {
        char result[VXSYSFS_PATH_SIZE] = "stale";
        host.remove("/sys/class/fc_remote_ports");
        EXPECT_EQ(vxsysfs_find_rport_by_wwpn(result, 5, wanted) + vxsysfs_find_rport_by_tid(result, 5, 0), 0);
        EXPECT_STREQ(result, "");  // no class yet
        // Host 50's port sorts ahead of host 5's and carries the same names.
        for (const auto& [name, port_name, tid] : {std::tuple("rport-50:0-1", "0x21000024ff000009", "3"),
                                                   {"rport-5:0-0", "0x21000024ff000001", "-1"},
                                                   {"rport-5:0-2", "0x21000024ff000009", "3"},
                                                   {"rport-6:0-0", "0x21000024ff000007", "0"}}) {
            std::string dir = "/sys/class/fc_remote_ports/" + std::string(name);
            if (links) {
                dir = "/sys/devices/pci0000:00/0000:03:00.0/host5/" + std::string(name) + "/fc_remote_ports/" + name;
                host.make_symlink(dir, "/sys/class/fc_remote_ports/" + std::string(name));
            }
            host.write_file(dir + "/port_name", port_name + std::string("\n"));
            host.write_file(dir + "/scsi_target_id", tid + std::string("\n"));
        }
        const std::pair<std::function<int()>, const char*> lookups[] = {
            {[&] { return vxsysfs_find_rport_by_wwpn(result, 5, wanted); }, "rport-5:0-2/"},
            {[&] { return vxsysfs_find_rport_by_tid(result, 5, 3); }, "rport-5:0-2/"},
            {[&] { return vxsysfs_find_rport_by_tid(result, 5, 0xFFFF); }, nullptr},  // -1 is not target 65535
            {[&] { return vxsysfs_find_rport_by_wwpn(result, 5, other); }, nullptr},  // host 6's port
            {[&] { return vxsysfs_find_rport_by_wwpn(result, 6, other); }, "rport-6:0-0/"},
            {[&] { return vxsysfs_find_rport_by_tid(result, 50, 3); }, "rport-50:0-1/"}};
        for (const auto& [find, path] : lookups) {
            std::strcpy(result, "stale");
            EXPECT_EQ(find(), path != nullptr);
            EXPECT_EQ(std::string(result), path ? "/sys/class/fc_remote_ports/" + std::string(path) : "") << links;
        }
    }
}

// The dumps are traced with bit 0x200 only; a port record without its adapter record leaves the adapter's lines out.
TEST_F(SysfsPrimTest, PortAndRemotePortDumpsWithoutAnAdapterRecord) {
    vxapi_priv_database rec{};
    std::strcpy(reinterpret_cast<char*>(rec.phys_path), "/sys/bus/pci/drivers/vxa2xxx/0000:03:00.0");
    std::tie(rec.oshandle, rec.apihandle, rec.drvr_inst, rec.host_no) = std::tuple(-1, 2, 1, 5);
    std::memcpy(rec.wwnn, "\x20\x00\x00\x24\xFF\x00\x00\x01", 8);
    std::memcpy(rec.wwpn, "\x21\x00\x00\x24\xFF\x00\x00\x01", 8);
    std::memcpy(rec.port_id, "\xEE\x01\x02\x0A", 4);
    std::tie(rec.interface_type, rec.features, rec.topology, rec.state) = std::tuple(1, 0x1020, 2, 3);
    vxsysfs_print_priv_data(&rec);
    EXPECT_EQ(host.stderr_text(), "");
    trace_sysfs();
    vxsysfs_print_priv_data(&rec);
    EXPECT_EQ(host.stderr_text(),
              "API Private Data:\n - phys_path: /sys/bus/pci/drivers/vxa2xxx/0000:03:00.0\n - oshandle: -1\n"
              " - apihandle: 2\n - drvr_inst: 1\n - host_no: 5\n - drvr_attr: 0\n - wwnn: 20h 0 0 24h FFh 0 0 1\n"
              " - wwpn: 21h 0 0 24h FFh 0 0 1\n - portid: 1 2 Ah\n - interface_type: 1\n - vp_idx: 0\n"
              " - features: 1020h\n - port_flags: 0\n - topology: 2\n - state: 3\n");
    EXT_DISC_PORT port{};
    std::memcpy(port.WWNN, "\x20\x00\x00\x11\x22\x33\x44\x55", 8);
    std::memcpy(port.WWPN, "\x21\x00\x00\x11\x22\x33\x44\x55", 8);
    std::memcpy(port.Id, "\x00\x0B\x0C\x0D", 4);
    std::tie(port.Type, port.TargetId, port.LoopID) = std::tuple(2, 12, 0x81);
    host.clear_stderr();
    vxsysfs_print_disc_data(&port);
    EXPECT_EQ(host.stderr_text(), "Remote port data:\n - wwnn: 20h 0 0 11h 22h 33h 44h 55h\n"
                                  " - wwpn: 21h 0 0 11h 22h 33h 44h 55h\n - portid: Bh Ch Dh\n - Type: 2\n"
                                  " - Status: 0\n - Bus: 0\n - TargetId: Ch\n - Local: 0\n - LoopID: 81h\n");
}

uint64_t addr(const void* p) { return reinterpret_cast<uintptr_t>(p); }

// Also: a vendor header names the buffers of each direction (data in only: both ways).
TEST(BsgFrame, CtAndElsFramesAndTheShortestRequests) {
    uint8_t out[8], in[12];
    fc_bsg_reply reply{};
    const std::tuple<const void*, void*, fc_bsg_reply*, const void*, uint32_t> vendor[] = {
        {nullptr, in, nullptr, in, sizeof in}, {nullptr, nullptr, nullptr, nullptr, 0}, {out, in, &reply, out, 8}};
    for (const auto& [dout, din, rsp, named, named_len] : vendor) {
        fc_bsg_request req{};
        sg_io_v4 hdr, want{};
        std::memset(&hdr, 0xA5, sizeof hdr);
        const uint32_t in_len = din != nullptr ? sizeof in : 0;
        ASSERT_EQ(vxsysfs_create_bsg_header(&hdr, &req, 24, rsp, 16, dout, sizeof out, din, in_len), &hdr);
        std::tie(want.guard, want.subprotocol, want.request_len, want.request) = std::tuple('Q', 2, 24, addr(&req));
        std::tie(want.max_response_len, want.response) = std::tuple(rsp != nullptr ? 16 : 0, addr(rsp));
        std::tie(want.dout_xfer_len, want.dout_xferp, want.din_xfer_len, want.din_xferp) =
            std::tuple(named_len, addr(named), in_len, addr(din));
        EXPECT_EQ(bytes_of(&hdr, sizeof hdr), bytes_of(&want, sizeof want));
        EXPECT_EQ(+req.msgcode, 0x800000FFu);
        EXPECT_EQ(+req.rqst_data.h_vendor.vendor_id, (uint64_t{1} << 56) | VX_PCI_VENDOR_MAKER);
    }
    Bytes ct{1, 0, 0, 0, 0xFC, 0x02, 0, 0, 0x12, 0x01, 0x40, 0, 0, 0, 0, 0, 9, 9, 9, 9}, els(36, 0);  // directory service
    els[32] = 0x52;
    uint8_t rsp[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    fc_bsg_request req;
    std::memset(&reply, 0xEE, sizeof reply);
    sg_io_v4 hdr;
    ASSERT_EQ(vxsysfs_create_bsg_ct_header(&hdr, &req, &reply, ct.data(), 20, rsp, sizeof rsp), 0);
    EXPECT_EQ(bytes_of(&req, 8), (Bytes{0x04, 0, 0, 0x80, 0, 0xFC, 0xFF, 0xFF}));
    // Command 0x0112 and Max_rsp_size 0x0040 as the host reads them.
    const auto& h = req.rqst_data.h_ct;
    EXPECT_EQ(std::vector<uint32_t>({h.preamble_word0, h.preamble_word1, h.preamble_word2}),
              std::vector<uint32_t>({0x01000000, 0xFC020000, 0x01120040}));
    // The zeroed reply in which the driver reports the outcome.
    EXPECT_EQ(std::vector<uint64_t>({hdr.request_len, hdr.dout_xferp, hdr.dout_xfer_len, hdr.din_xferp,
                                     hdr.din_xfer_len, hdr.response, hdr.max_response_len}),
              std::vector<uint64_t>({20, addr(ct.data()), 20, addr(rsp), 8, addr(&reply), 16}));
    EXPECT_EQ(bytes_of(rsp, sizeof rsp), Bytes(8, 0));
    EXPECT_EQ(bytes_of(&reply, sizeof reply), Bytes(16, 0));

    ASSERT_EQ(vxsysfs_create_bsg_els_header(&hdr, &req, &reply, els.data(), 36, rsp, sizeof rsp), 0);
    EXPECT_EQ(bytes_of(&req, 5), (Bytes{0x01, 0, 0, 0x40, 0x52}));
    EXPECT_EQ(std::vector<uint64_t>({hdr.dout_xferp, hdr.dout_xfer_len, hdr.response, hdr.max_response_len}),
              std::vector<uint64_t>({addr(&els[32]), 4, addr(&reply), 16}));

    // A CT IU shorter than its header, an ELS request without a payload.
    sim::Exact short_ct(Bytes(15)), bare_els(Bytes(32));
    std::memset(&hdr, 0xA5, sizeof hdr);
    const Bytes untouched = bytes_of(&hdr, sizeof hdr);
    EXPECT_EQ(vxsysfs_create_bsg_ct_header(&hdr, &req, &reply, short_ct.get(), 15, rsp, sizeof rsp), 1);
    EXPECT_EQ(vxsysfs_create_bsg_els_header(&hdr, &req, &reply, bare_els.get(), 32, rsp, sizeof rsp), 1);
    EXPECT_EQ(vxsysfs_create_bsg_ct_header(&hdr, &req, nullptr, ct.data(), 20, rsp, sizeof rsp), 1);
    EXPECT_EQ(bytes_of(&hdr, sizeof hdr), untouched);
}

// Host 5 with bsg, its remote port rport-5:0-1 and that port's LUN 0 on sg3.
struct BsgNodeTest : ::testing::Test {
    BsgNodeTest() {
        std::strcpy(sysfs_mnt_path, "/sys");
        host.set_microseconds(0x2A);
        rec.host_no = 5;
        bsg.attach(host, fabric);
        sg.attach(host);
    }
    ~BsgNodeTest() override {
        sysfs_mnt_path[0] = '\0';
        vxdbg_reset();
    }
    static sim::SysfsSetup setup() {
        sim::SysfsSetup s;
        s.adapters = {sim::sysfs_adapter(0x2532, {5})};
        s.adapters[0].functions[0].host.rports = {{.number = 1, .luns = {{0, "sdc", 3, {}}}}};
        return s;
    }
    // The node name of this second and microsecond.
    std::string node(const char* suffix) const {
        char name[64];
        std::snprintf(name, sizeof name, "/tmp/%s%lx2a", suffix, static_cast<unsigned long>(host.now()));
        return name;
    }

    sim::SimBsg bsg;
    sim::SimSg sg;
    sim::SimHost host;
    sim::SysfsFabric fabric = sim::install_sysfs_adapters(host, setup());
    vxapi_priv_database rec{};
};

// Also: commands that only read (the table's first and last among them) open the generic node read-only.
TEST_F(BsgNodeTest, NodeNamesModeAndNodesThatCannotBeNamed) {
    host.write_file("/sys/class/bsg/ab/dev", "250:9\n");
    const struct { const char* dir; size_t name_size; std::string name; } cases[] = {
        {"/sys/class/bsg/fc_host5/", 64, node("t5")},
        {"/sys/class/bsg/rport-5:0-1", 64, node("5:0-1")},
        {"/sys/class/bsg/ab/", 64, node("")},  // an entry name under seven characters
        {"/sys/class/bsg/fc_host5/", 8, ""},   // a name that does not fit: none, and no node left
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dir);
        sim::Exact dir(Bytes(c.dir, c.dir + std::strlen(c.dir) + 1));
        std::string name(c.name_size, '\0');
        vxsysfs_open_bsg_dev(reinterpret_cast<char*>(dir.get()), name.data(), c.name_size);
        EXPECT_EQ(std::string(name.c_str()), c.name);
        const std::string made = host.mknod_log().back();  // "path mode major:minor"
        const std::string path = made.substr(0, made.find(' '));
        EXPECT_NE(made.find(" 20600 250:"), std::string::npos) << made;
        EXPECT_EQ(host.node(path).has_value(), !c.name.empty());
        vx::sys().unlink(path.c_str());
    }
    for (const auto& [opcode, access] : {std::pair<uint8_t, int>{0x2A, O_RDWR}, {0x00, O_RDONLY}, {0x28, O_RDONLY},
                                         {0x12, O_RDONLY}, {0xB8, O_RDONLY}, {0x35, O_RDWR}}) {
        const int fd = vxsysfs_open("sg3", opcode);
        ASSERT_GE(fd, 0);
        vx::sys().close(fd);
        EXPECT_EQ(sg.opens.back(), std::make_pair(3u, access | O_NONBLOCK | O_CLOEXEC)) << int{opcode};
    }
    vx_debug = VXDBG_SYSFS;
    EXPECT_LT(vxsysfs_open("sg4", 0x28), 0);
    EXPECT_NE(host.stderr_text().find("Open generic failed"), std::string::npos);
}

// Every node made is gone again, whatever happened; a node of the name already there (a request of the same
// microsecond) or arguments beyond the request send nothing and leave that node alone.
TEST_F(BsgNodeTest, StatusesOfAVendorCommand) {
    const struct {
        const char* what;
        uint32_t status;
        size_t jobs = 1, sleeps = 0;
        std::deque<int> errnos = {};
        bool implemented = true;
        unsigned resends = 0;
        int open_err = 0;
        bool ready = true, existing = false;
        uint32_t args_len = 4;
    } cases[] = {
        {.what = "answered", .status = 0x1B},  // the driver's own status from the reply
        {.what = "not implemented", .status = 20, .implemented = false},
        {.what = "failed", .status = 1, .errnos = {EIO}},
        {.what = "busy twice", .status = 0x1B, .jobs = 3, .sleeps = 2, .errnos = {EBUSY, EBUSY}, .resends = 2},
        {.what = "busy throughout", .status = 2, .jobs = 3, .sleeps = 2, .errnos = {EBUSY, EBUSY, EBUSY}, .resends = 2},
        {.what = "busy, no resends", .status = 1, .errnos = {EBUSY}},
        {.what = "open refused", .status = 1, .jobs = 0, .open_err = EACCES},
        {.what = "kept back", .status = 1, .jobs = 0, .ready = false},
        {.what = "a node of that name exists", .status = 9, .jobs = 0, .existing = true},
        {.what = "arguments beyond the request", .status = 9, .jobs = 0, .args_len = 12},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        bsg.log.clear(), bsg.vendor.clear(), host.clear_sleeps();
        bsg.errnos = c.errnos;
        if (c.implemented) bsg.vendor[VX_BSG_I2C_READ] = [](sim::BsgJob& job) { return job.reply[8] = 0x1B, 0; };
        if (c.open_err != 0) host.fail_open(node("t5"), c.open_err, 1);
        if (c.existing) host.write_file(node("t5"), "");
        const size_t made_before = host.mknod_log().size();
        uint8_t record[72];
        const uint32_t args[3] = {0x1234};
        VxBsgCommand cmd{.code = VX_BSG_I2C_READ, .args = args, .args_len = c.args_len, .request_len = 24,
                         .reply_len = VX_BSG_REPLY_LEN, .status_from_reply = true, .in = record,
                         .in_len = sizeof record};
        cmd.send.busy_resends = c.resends;
        cmd.send.ready = [&c] { return c.ready; };
        uint32_t status = 0xFF;
        EXPECT_EQ(vxsysfs_bsg_vendor_command(&rec, cmd, &status), c.status == 0x1B ? 0 : 1);
        EXPECT_EQ(std::tuple(status, host.sleep_seconds(), host.mknod_log().size() - made_before),
                  std::tuple(c.status, std::vector<unsigned>(c.sleeps, 20), c.status == 9 ? 0u : 1u));
        for (const std::string& made : host.mknod_log()) {
            EXPECT_FALSE(host.node(made.substr(0, made.find(' '))).has_value()) << made;
        }
        EXPECT_EQ(host.exists(node("t5")), c.existing);
        host.remove(node("t5"));
        ASSERT_EQ(bsg.log.size(), c.jobs);
        if (c.jobs == 0) continue;
        EXPECT_EQ(bsg.log[0].entry, "fc_host5");
        EXPECT_EQ(Bytes(bsg.log[0].request.begin() + 12, bsg.log[0].request.end()),
                  (Bytes{17, 0, 0, 0, 0x34, 0x12, 0, 0, 0, 0, 0, 0}));
    }
}

}  // namespace

// An attribute read is one open: the open's own error tells a file the driver does not have (ENOENT, or ENOTDIR on
// the way) from one that is there and failed; nothing stats the file first.
TEST_F(SysfsPrimTest, AnAttributeReadIsOneOpenWhoseErrorTellsAbsentFromFailed) {
    const std::string path = "/sys/class/scsi_host/host5/sg_tablesize";
    host.write_file(path, "128\n");
    CountingPlatform counting(host);
    const std::tuple<int, VxAttrAnswer, uint32_t> rows[] = {
        {0, VxAttrAnswer::Came, 128},         {ENOENT, VxAttrAnswer::Absent, 0}, {ENOTDIR, VxAttrAnswer::Absent, 0},
        {EACCES, VxAttrAnswer::Failed, 0},    {ENOMEM, VxAttrAnswer::Failed, 0},
    };
    for (const auto& [err, expected, value] : rows) {
        SCOPED_TRACE(err);
        counting.failing = err != 0 ? path : "";
        counting.open_errno = err;
        counting.opens = counting.path_tests = 0;
        VxAttrAnswer answer = VxAttrAnswer::Came;
        EXPECT_EQ(vxsysfs_get_int_attr(path.c_str(), &answer), value);
        EXPECT_EQ(std::tuple(answer, counting.opens, counting.path_tests), std::tuple(expected, 1, 0));
    }
    // The simulated host answers a missing file as libsysfs does.
    counting.failing.clear();
    VxAttrAnswer answer = VxAttrAnswer::Came;
    EXPECT_EQ(vxsysfs_get_int_attr(kMissing, &answer), 0u);
    EXPECT_EQ(std::tuple(answer, counting.path_tests), std::tuple(VxAttrAnswer::Absent, 0));
}

// Fields read as a conversion reads them: white space before a number skipped, a width taken as at most that many
// digits, nothing after the last field judged; of a text cut to its buffer, a field the cut reaches did not come
// whole, unless it filled its width.
TEST(VxFieldsTest, DottedNumbersAsAConversionReadsThem) {
    struct Row { const char* text; bool cut; size_t width; VxAttrAnswer answer; std::vector<uint64_t> numbers; };
    using A = VxAttrAnswer;
    const Row rows[] = {
        {"1.02.03 (100a70", true, 0, A::Came, {1, 2, 3}},
        {" 8.07.00.01", false, 2, A::Came, {8, 7, 0}},
        {"45.125", false, 2, A::Came, {45, 12}},
        {"5.06.05", true, 2, A::Came, {5, 6, 5}},    // the last field filled its width at the cut
        {"1.02.1", true, 0, A::TooLarge, {1, 2}},     // the cut may have taken more digits
        {"1.2.", true, 0, A::TooLarge, {1, 2}},
        {"1.256.3", false, 0, A::TooLarge, {1}},
        {"1.x.3", false, 0, A::NotNumber, {1}},
        {"", false, 0, A::NotNumber, {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.text);
        VxFields fields(r.text, std::strlen(r.text), r.cut);
        std::vector<uint64_t> numbers;
        A answer = A::Came;
        for (int i = 0; i < 3 && answer == A::Came; ++i) {
            if (i > 0 && !fields.literal('.')) break;
            uint64_t n = 0;
            answer = fields.number(10, 255, &n, i == 0 ? 0 : r.width);
            if (answer == A::Came) numbers.push_back(n);
        }
        EXPECT_EQ(std::tuple(answer, numbers), std::tuple(r.answer, r.numbers));
    }
    // A hexadecimal number cut right behind its "0x" did not come; one that is whole before the cut did.
    for (const auto& [text, expected] : {std::pair("  0x", A::TooLarge), {"  0x1f ", A::Came}, {"  0", A::TooLarge}}) {
        uint64_t n = 0;
        EXPECT_EQ(VxFields(text, std::strlen(text), true).number(16, UINT64_MAX, &n), expected) << text;
    }
}
