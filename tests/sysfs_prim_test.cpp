// The sysfs primitives against the simulated host: page-wise file transfers,
// byte helpers, address parsers, path builders at the edge of their buffer,
// attribute readers, remote-port lookups over directory and link lists, and
// the two debug dumps.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/vx_sddbg.h"
#include "platform/vx_platform.h"
#include "sim_host.h"
#include "transport/vx_sysfs_prim.h"

namespace {

constexpr unsigned kMajor = 241;

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
    std::string contents;
    size_t offset = 0;
    std::string written;
    long fail_writes_after = -1;
    std::vector<size_t> asked;
};

class SysfsPrimTest : public ::testing::Test {
protected:
    void SetUp() override {
        vxdbg_reset();
        std::strcpy(sysfs_mnt_path, "/sys");
        host.register_device(kMajor, &device);
        host.add_node("/sys/class/scsi_host/host5/optrom", S_IFCHR | 0600, makedev(kMajor, 0));
    }
    void TearDown() override {
        vxdbg_reset();
        sysfs_mnt_path[0] = '\0';
    }

    void trace_sysfs() {
        host.set_env("VX_FCAPI_DEBUG", "200");
        vxapi_set_debug_level();
    }

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

TEST_F(SysfsPrimTest, ReadFileLoopsInPagesAndReportsTheResidual) {
    device.contents = std::string(6000, 'r');
    std::vector<char> buffer(10000, 0);
    EXPECT_EQ(vxsysfs_read_file("/sys/class/scsi_host/host5/optrom", buffer.data(), 10000), 4000);
    EXPECT_EQ(device.asked, (std::vector<size_t>{4096, 4096, 4000}));
    EXPECT_EQ(std::string(buffer.data(), 6000), device.contents);
    EXPECT_EQ(buffer[6000], 0);

    EXPECT_EQ(vxsysfs_read_file("/sys/class/scsi_host/host5/missing", buffer.data(), 10000), 10000);
}

TEST_F(SysfsPrimTest, ReadFileGoesOnAfterShortReads) {
    host.write_file("/sys/class/scsi_host/host5/vpd", std::string(3000, 'v'));
    host.short_reads("/sys/class/scsi_host/host5/vpd", 700);
    std::vector<char> buffer(3000, 0);
    EXPECT_EQ(vxsysfs_read_file("/sys/class/scsi_host/host5/vpd", buffer.data(), 3000), 0);
    EXPECT_EQ(std::string(buffer.data(), 3000), std::string(3000, 'v'));
}

TEST_F(SysfsPrimTest, WriteFileLoopsInPagesUntilAWriteFails) {
    const std::string data(10000, 'w');
    EXPECT_EQ(vxsysfs_write_file("/sys/class/scsi_host/host5/optrom", data.data(), 10000), 0);
    EXPECT_EQ(device.asked, (std::vector<size_t>{4096, 4096, 1808}));
    EXPECT_EQ(device.written, data);

    device.written.clear();
    device.asked.clear();
    device.fail_writes_after = 4096;
    trace_sysfs();
    EXPECT_EQ(vxsysfs_write_file("/sys/class/scsi_host/host5/optrom", data.data(), 10000), 10000 - 4096);
    EXPECT_EQ(device.asked, (std::vector<size_t>{4096, 4096}));
    const std::string trace = host.stderr_text();
    EXPECT_NE(trace.find("vxsysfs_write_file\n> size==10000\n> path==/sys/class/scsi_host/host5/optrom\n"),
              std::string::npos)
        << trace;
    EXPECT_NE(trace.find("> Failed write\n> n==-1\n> residual==5904\n"), std::string::npos) << trace;

    host.fail_open("/sys/class/scsi_host/host5/optrom", EACCES, 1);
    host.clear_stderr();
    EXPECT_EQ(vxsysfs_write_file("/sys/class/scsi_host/host5/optrom", data.data(), 10000), 10000);
    EXPECT_NE(host.stderr_text().find("> Failed open\n"), std::string::npos);
}

TEST_F(SysfsPrimTest, SingleCallTransfers) {
    device.contents = std::string(6000, 'r');
    std::vector<char> buffer(10000, 0);
    // One read of at most a page.
    EXPECT_EQ(vxsysfs_read_data("/sys/class/scsi_host/host5/optrom", buffer.data(), 10000), 4096u);
    EXPECT_EQ(device.asked, (std::vector<size_t>{4096}));
    EXPECT_EQ(vxsysfs_read_data("/sys/class/scsi_host/host5/optrom", buffer.data(), 100), 100u);
    // Nothing left to read, a file that cannot be opened, a failing read.
    device.offset = device.contents.size();
    EXPECT_EQ(vxsysfs_read_data("/sys/class/scsi_host/host5/optrom", buffer.data(), 100), 0u);
    EXPECT_EQ(vxsysfs_read_data("/sys/class/scsi_host/host5/missing", buffer.data(), 100), 0u);
    host.make_dir("/sys/class/scsi_host/host5/dir");
    EXPECT_EQ(vxsysfs_read_data("/sys/class/scsi_host/host5/dir", buffer.data(), 100), 0xFFFFFFFFu);

    device.asked.clear();
    EXPECT_EQ(vxsysfs_write_data("/sys/class/scsi_host/host5/optrom", "els request", 11), 11u);
    EXPECT_EQ(device.written, "els request");
    device.fail_writes_after = 0;
    EXPECT_EQ(vxsysfs_write_data("/sys/class/scsi_host/host5/optrom", "again", 5), 0xFFFFFFFFu);
    EXPECT_EQ(device.asked, (std::vector<size_t>{11, 5}));
    EXPECT_EQ(vxsysfs_write_data("/sys/class/scsi_host/host5/missing", "x", 1), 0u);
}

// ---------------------------------------------------------------- bytes

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
    EXPECT_EQ(out[0], 0x01);
    EXPECT_EQ(out[1], 0x02);
    EXPECT_EQ(out[2], 0xEE);
    vxsysfs_lendian_buf(out, 0x0102, 2);
    EXPECT_EQ(out[0], 0x02);
    EXPECT_EQ(out[1], 0x01);
    vxsysfs_bendian_buf(out, 0x1122334455667788u, 10);
    const uint8_t big[] = {0, 0, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    EXPECT_EQ(std::memcmp(out, big, 10), 0);
    vxsysfs_lendian_buf(out, 0x1122334455667788u, 10);
    const uint8_t little[] = {0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0, 0};
    EXPECT_EQ(std::memcmp(out, little, 10), 0);

    uint8_t reversed[3];
    vxsysfs_revcpy(reversed, "abc", 3);
    EXPECT_EQ(std::memcmp(reversed, "cba", 3), 0);
}

TEST_F(SysfsPrimTest, MemstrFindsOnlyWholeMatchesInsideTheLength) {
    // Exactly as long as its bytes, with no terminator: a look past the
    // length is caught by the address sanitizer.
    const char bytes[] = {'P', 'N', 'x', 'S', 'N', '9'};
    auto buffer = std::make_unique<char[]>(sizeof bytes);
    std::memcpy(buffer.get(), bytes, sizeof bytes);
    EXPECT_EQ(vxsysfs_memstr(buffer.get(), "SN", 6), buffer.get() + 3);
    EXPECT_EQ(vxsysfs_memstr(buffer.get(), "SN", 5), buffer.get() + 3);
    EXPECT_EQ(vxsysfs_memstr(buffer.get(), "SN", 4), nullptr);  // only "S" lies inside
    EXPECT_EQ(vxsysfs_memstr(buffer.get(), "N9x", 6), nullptr);
    EXPECT_EQ(vxsysfs_memstr(buffer.get(), "PN", 6), buffer.get());
}

TEST_F(SysfsPrimTest, HexTextToBytes) {
    struct Case {
        const char* text;
        uint32_t n;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {"0X0A0b", 4, {0x0A, 0x0B, 0x00, 0x00}},
        {"0x123", 2, {0x12, 0x00}},  // an odd last digit is dropped
        {"0x2100001b32a0b0c1", 8, {0x21, 0x00, 0x00, 0x1B, 0x32, 0xA0, 0xB0, 0xC1}},
        {"abcdef", 2, {0xAB, 0xCD}},
        {"0x", 2, {0x00, 0x00}},
        {"0", 2, {0x00, 0x00}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        // The text exactly as long as it is: reading past it is caught.
        auto text = std::make_unique<char[]>(std::strlen(c.text) + 1);
        std::strcpy(text.get(), c.text);
        std::vector<uint8_t> out(c.n, 0xEE);
        vxsysfs_to_array_hex(out.data(), text.get(), c.n);
        EXPECT_EQ(out, c.bytes);
    }
    std::vector<uint8_t> out(4, 0xEE);
    vxsysfs_to_array_hex(out.data(), nullptr, 4);
    EXPECT_EQ(out, std::vector<uint8_t>(4, 0));
}

TEST_F(SysfsPrimTest, TrailingNewlinesRemoved) {
    char text[] = "Online\n\n";
    vxsysfs_remove_end_newline(text);
    EXPECT_STREQ(text, "Online");
    char lone[] = "\n";
    vxsysfs_remove_end_newline(lone);
    EXPECT_STREQ(lone, "");
    vxsysfs_remove_end_newline(nullptr);
}

TEST_F(SysfsPrimTest, ScsiAddressFields) {
    struct Case {
        const char* name;
        uint16_t target;
        uint16_t lun;
    };
    const Case cases[] = {
        {"5:0:3:7", 3, 7},    {"5:0:3", 3, 0xFFFF},         {"5:0", 0xFFFF, 0xFFFF},
        {"", 0xFFFF, 0xFFFF}, {"12:1:250:4095", 250, 4095},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(vxsysfs_get_target_id(c.name), c.target);
        EXPECT_EQ(vxsysfs_get_lun_no(c.name), c.lun);
    }
}

// ---------------------------------------------------------------- paths

TEST_F(SysfsPrimTest, PathBuilders) {
    vxapi_priv_database rec{};
    std::strcpy(reinterpret_cast<char*>(rec.phys_path), "/sys/bus/pci/drivers/vxa2xxx/0000:03:00.0");
    rec.host_no = 7;
    const uint32_t wide_host = 0x10005;  // only the low 16 bits name the host

    struct Case {
        std::string expected;
        char* (*build)(char*, const vxapi_priv_database*, uint32_t);
    };
    const Case cases[] = {
        {"/sys/class/scsi_host/host5/",
         [](char* p, const vxapi_priv_database*, uint32_t h) { return vxsysfs_get_scsi_host_path(p, h); }},
        {"/sys/class/fc_host/",
         [](char* p, const vxapi_priv_database*, uint32_t) { return vxsysfs_get_fc_host(p); }},
        {"/sys/class/fc_host/host5/",
         [](char* p, const vxapi_priv_database*, uint32_t h) { return vxsysfs_get_fc_host_path(p, h); }},
        {"/sys/class/fc_remote_ports/",
         [](char* p, const vxapi_priv_database*, uint32_t) { return vxsysfs_get_fc_rport_path(p, nullptr); }},
        {"/sys/class/fc_remote_ports/rport-5:0-1/",
         [](char* p, const vxapi_priv_database*, uint32_t) {
             return vxsysfs_get_fc_rport_path(p, "rport-5:0-1");
         }},
        {"/sys/class/fc_vports/",
         [](char* p, const vxapi_priv_database*, uint32_t) { return vxsysfs_get_fc_vports_path(p); }},
        {"/sys/class/scsi_device/",
         [](char* p, const vxapi_priv_database*, uint32_t) { return vxsysfs_get_scsi_dev_path(p, nullptr); }},
        {"/sys/class/scsi_device/5:0:3:7", [](char* p, const vxapi_priv_database*,
                                              uint32_t) { return vxsysfs_get_scsi_dev_path(p, "5:0:3:7"); }},
        {"/sys/bus/pci/drivers/vxa2xxx/0000:03:00.0/host7/",
         [](char* p, const vxapi_priv_database* r, uint32_t) { return vxsysfs_get_device_path(p, r); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        char path[VXSYSFS_PATH_SIZE];
        char* end = c.build(path, &rec, static_cast<uint16_t>(wide_host));
        EXPECT_STREQ(path, c.expected.c_str());
        EXPECT_EQ(end, path + c.expected.size());
        EXPECT_EQ(vxsysfs_path_append(path, end, "port_name"), end + 9);
        EXPECT_EQ(std::string(path), c.expected + "port_name");
    }
}

TEST_F(SysfsPrimTest, PathBuildersStayInsideTheirBuffer) {
    // "<mnt>/class/fc_host/" is the mount path and 15 characters.
    struct Case {
        size_t mnt_len;
        size_t path_len;
        bool room_for_one;
    };
    const Case cases[] = {
        {239, 254, true},
        {240, 255, false},  // fills the buffer exactly
        {241, 255, false},  // cut
        {255, 255, false},  // the longest mount path there is
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mnt_len);
        std::string mnt = "/" + std::string(c.mnt_len - 1, 'm');
        std::memcpy(sysfs_mnt_path, mnt.c_str(), mnt.size() + 1);
        char buffer[VXSYSFS_PATH_SIZE + 64];
        std::memset(buffer, 0x5A, sizeof buffer);
        char* end = vxsysfs_get_fc_host(buffer);
        EXPECT_EQ(end, buffer + c.path_len);
        EXPECT_EQ(*end, '\0');
        EXPECT_EQ(std::strlen(buffer), c.path_len);
        EXPECT_EQ(std::string(buffer, c.mnt_len), mnt);
        for (size_t i = VXSYSFS_PATH_SIZE; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], 0x5A) << i;
        char* more = vxsysfs_path_append(buffer, end, "x");
        EXPECT_EQ(more != nullptr, c.room_for_one);
        if (more == nullptr) {
            EXPECT_EQ(std::strlen(buffer), c.path_len);  // unchanged
        }
        for (size_t i = VXSYSFS_PATH_SIZE; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], 0x5A) << i;
    }
}

TEST_F(SysfsPrimTest, LongNamesAreCut) {
    const std::string name(300, 'n');
    char buffer[VXSYSFS_PATH_SIZE + 64];
    std::memset(buffer, 0x5A, sizeof buffer);
    EXPECT_EQ(vxsysfs_get_fc_rport_path(buffer, name.c_str()), buffer + 255);
    EXPECT_EQ(std::strlen(buffer), 255u);
    EXPECT_EQ(buffer[VXSYSFS_PATH_SIZE], 0x5A);

    std::memset(buffer, 0x5A, sizeof buffer);
    EXPECT_EQ(vxsysfs_get_scsi_dev_path(buffer, name.c_str()), buffer + 255);
    EXPECT_EQ(buffer[VXSYSFS_PATH_SIZE], 0x5A);

    // A physical path that fills its whole field, without a terminator.
    vxapi_priv_database rec{};
    std::memset(rec.phys_path, 'p', sizeof rec.phys_path);
    rec.host_no = 3;
    std::memset(buffer, 0x5A, sizeof buffer);
    EXPECT_EQ(vxsysfs_get_device_path(buffer, &rec), buffer + 255);
    EXPECT_EQ(std::string(buffer), std::string(255, 'p'));
    EXPECT_EQ(buffer[VXSYSFS_PATH_SIZE], 0x5A);
}

// ---------------------------------------------------------------- attributes

// The simulated host, except that an attribute read reports a length
// shorter than the text the value holds: the bytes behind the length are not
// part of the value.
class ShortLengthPlatform final : public vx::Platform {
public:
    ShortLengthPlatform(vx::Platform& base, unsigned short len) : base_(base), len_(len) {
        previous_ = vx::set_platform(this);
    }
    ~ShortLengthPlatform() override { vx::set_platform(previous_); }
    ShortLengthPlatform(const ShortLengthPlatform&) = delete;
    ShortLengthPlatform& operator=(const ShortLengthPlatform&) = delete;

    int sysfs_read_attribute(struct sysfs_attribute* attr) override {
        const int rc = base_.sysfs_read_attribute(attr);
        if (rc == 0 && attr->len > len_) attr->len = len_;
        return rc;
    }

    int open(const char* path, int flags, mode_t mode) override { return base_.open(path, flags, mode); }
    int close(int fd) override { return base_.close(fd); }
    ssize_t read(int fd, void* buf, size_t len) override { return base_.read(fd, buf, len); }
    ssize_t write(int fd, const void* buf, size_t len) override { return base_.write(fd, buf, len); }
    off_t lseek(int fd, off_t offset, int whence) override { return base_.lseek(fd, offset, whence); }
    int fstat(int fd, struct stat* st) override { return base_.fstat(fd, st); }
    int stat(const char* path, struct stat* st) override { return base_.stat(path, st); }
    int lstat(const char* path, struct stat* st) override { return base_.lstat(path, st); }
    int access(const char* path, int mode) override { return base_.access(path, mode); }
    int unlink(const char* path) override { return base_.unlink(path); }
    int rename(const char* from, const char* to) override { return base_.rename(from, to); }
    int mkdir(const char* path, mode_t mode) override { return base_.mkdir(path, mode); }
    int mknod(const char* path, mode_t mode, dev_t dev) override { return base_.mknod(path, mode, dev); }
    int fsync(int fd) override { return base_.fsync(fd); }
    int ftruncate(int fd, off_t length) override { return base_.ftruncate(fd, length); }
    ssize_t readlink(const char* path, char* buf, size_t len) override {
        return base_.readlink(path, buf, len);
    }
    int list_dir(const char* path, std::vector<std::string>& names) override {
        return base_.list_dir(path, names);
    }
    FILE* fopen(const char* path, const char* mode) override { return base_.fopen(path, mode); }
    int ioctl(int fd, unsigned long request, void* arg) override { return base_.ioctl(fd, request, arg); }
    void* mmap(void* addr, size_t len, int prot, int flags, int fd, off_t offset) override {
        return base_.mmap(addr, len, prot, flags, fd, offset);
    }
    int msync(void* addr, size_t len, int flags) override { return base_.msync(addr, len, flags); }
    int munmap(void* addr, size_t len) override { return base_.munmap(addr, len); }
    int semget(key_t key, int nsems, int flags) override { return base_.semget(key, nsems, flags); }
    int semctl(int semid, int semnum, int cmd, int arg) override {
        return base_.semctl(semid, semnum, cmd, arg);
    }
    int semop(int semid, struct sembuf* ops, size_t nops) override { return base_.semop(semid, ops, nops); }
    int socket(int domain, int type, int protocol) override { return base_.socket(domain, type, protocol); }
    int bind(int fd, const struct sockaddr* addr, socklen_t len) override {
        return base_.bind(fd, addr, len);
    }
    int setsockopt(int fd, int level, int name, const void* value, socklen_t len) override {
        return base_.setsockopt(fd, level, name, value, len);
    }
    ssize_t sendmsg(int fd, const struct msghdr* msg, int flags) override {
        return base_.sendmsg(fd, msg, flags);
    }
    ssize_t recvmsg(int fd, struct msghdr* msg, int flags) override { return base_.recvmsg(fd, msg, flags); }
    ssize_t sendto(int fd, const void* buf, size_t len, int flags, const struct sockaddr* to,
                   socklen_t tolen) override {
        return base_.sendto(fd, buf, len, flags, to, tolen);
    }
    ssize_t recvfrom(int fd, void* buf, size_t len, int flags, struct sockaddr* from,
                     socklen_t* fromlen) override {
        return base_.recvfrom(fd, buf, len, flags, from, fromlen);
    }
    int uname(struct utsname* name) override { return base_.uname(name); }
    uid_t geteuid() override { return base_.geteuid(); }
    pid_t getpid() override { return base_.getpid(); }
    const char* getenv(const char* name) override { return base_.getenv(name); }
    long page_size() override { return base_.page_size(); }
    time_t time() override { return base_.time(); }
    struct tm* localtime_r(const time_t* t, struct tm* out) override {
        return base_.localtime_r(t, out);
    }
    unsigned sleep(unsigned seconds) override { return base_.sleep(seconds); }
    int usleep(unsigned microseconds) override { return base_.usleep(microseconds); }
    int thread_create(pthread_t* thread, void* (*start)(void*), void* arg) override {
        return base_.thread_create(thread, start, arg);
    }
    int thread_join(pthread_t thread, void** result) override { return base_.thread_join(thread, result); }
    void write_stderr(const char* text, size_t len) override { base_.write_stderr(text, len); }
    int system(const char* command) override { return base_.system(command); }
    FILE* popen(const char* command, const char* mode) override { return base_.popen(command, mode); }
    int pclose(FILE* stream) override { return base_.pclose(stream); }
    int sysfs_get_mnt_path(char* mnt_path, size_t len) override {
        return base_.sysfs_get_mnt_path(mnt_path, len);
    }
    struct sysfs_attribute* sysfs_open_attribute(const char* path) override {
        return base_.sysfs_open_attribute(path);
    }
    int sysfs_write_attribute(struct sysfs_attribute* attr, const char* value, size_t len) override {
        return base_.sysfs_write_attribute(attr, value, len);
    }
    void sysfs_close_attribute(struct sysfs_attribute* attr) override { base_.sysfs_close_attribute(attr); }
    struct dlist* sysfs_open_directory_list(const char* path) override {
        return base_.sysfs_open_directory_list(path);
    }
    struct dlist* sysfs_open_link_list(const char* path) override {
        return base_.sysfs_open_link_list(path);
    }
    void sysfs_close_list(struct dlist* list) override { base_.sysfs_close_list(list); }
    int sysfs_path_is_dir(const char* path) override { return base_.sysfs_path_is_dir(path); }
    int sysfs_path_is_link(const char* path) override { return base_.sysfs_path_is_link(path); }
    int sysfs_path_is_file(const char* path) override { return base_.sysfs_path_is_file(path); }
    int sysfs_get_link(const char* path, char* target, size_t len) override {
        return base_.sysfs_get_link(path, target, len);
    }
    struct sysfs_bus* sysfs_open_bus(const char* name) override {
        return base_.sysfs_open_bus(name);
    }
    struct dlist* sysfs_get_bus_devices(struct sysfs_bus* bus) override {
        return base_.sysfs_get_bus_devices(bus);
    }
    struct sysfs_driver* sysfs_get_bus_driver(struct sysfs_bus* bus, const char* name) override {
        return base_.sysfs_get_bus_driver(bus, name);
    }
    void sysfs_close_bus(struct sysfs_bus* bus) override { base_.sysfs_close_bus(bus); }
    struct dlist* sysfs_get_driver_devices(struct sysfs_driver* driver) override {
        return base_.sysfs_get_driver_devices(driver);
    }
    struct sysfs_attribute* sysfs_get_device_attr(struct sysfs_device* dev, const char* name) override {
        return base_.sysfs_get_device_attr(dev, name);
    }

private:
    vx::Platform& base_;
    unsigned short len_;
    vx::Platform* previous_;
};

TEST_F(SysfsPrimTest, StringAttributes) {
    struct Case {
        const char* name;
        std::optional<std::string> value;  // nullopt: no attribute
        uint32_t length;
        std::string expected;
    };
    const Case cases[] = {
        {"newlines stripped", std::string("Online\n\n"), 32, "Online"},
        {"cut to length-1", std::string("abcdefgh"), 8, "abcdefg"},
        {"fits exactly", std::string("abcdefg\n"), 8, "abcdefg"},
        {"empty", std::string(""), 8, ""},
        {"missing", std::nullopt, 8, ""},
        {"one byte", std::string("abc"), 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path =
            std::string("/sys/class/fc_host/host5/") + "attr_" + std::to_string(&c - cases);
        if (c.value) host.write_file(path, *c.value);
        std::vector<char> out(c.length + 8, 'Z');
        vxsysfs_get_str_attr(path.c_str(), out.data(), c.length);
        EXPECT_EQ(std::string(out.data()), c.expected);
        for (size_t i = c.length; i < out.size(); ++i) ASSERT_EQ(out[i], 'Z') << i;
    }

    // Length 0: nothing is written.
    host.write_file("/sys/class/fc_host/host5/symbolic_name", "name\n");
    char untouched = 'Z';
    vxsysfs_get_str_attr("/sys/class/fc_host/host5/symbolic_name", &untouched, 0);
    EXPECT_EQ(untouched, 'Z');

    // An attribute whose read fails reads as empty.
    host.on_attr_read("/sys/class/fc_host/host5/port_state", [] { return std::nullopt; });
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
    const uint8_t expected_wwpn[] = {0x21, 0x00, 0x00, 0x1B, 0x32, 0xA0, 0xB0, 0xC1};
    EXPECT_EQ(std::memcmp(wwpn, expected_wwpn, 8), 0);
    uint8_t port_id[3];
    vxsysfs_get_hex_attr("/sys/class/fc_host/host5/port_id", port_id, sizeof port_id);
    EXPECT_EQ(port_id[0], 0x01);
    EXPECT_EQ(port_id[1], 0x0A);
    EXPECT_EQ(port_id[2], 0x0B);
    std::memset(wwpn, 0xEE, sizeof wwpn);
    vxsysfs_get_hex_attr("/sys/class/fc_host/host5/node_name", wwpn, sizeof wwpn);
    EXPECT_EQ(std::memcmp(wwpn, "\0\0\0\0\0\0\0\0", 8), 0);

    EXPECT_EQ(vxsysfs_get_int_attr("/sys/class/scsi_host/host5/max_npiv_vports"), 127u);
    EXPECT_EQ(vxsysfs_get_int_attr("/sys/class/scsi_host/host5/missing"), 0u);
    EXPECT_EQ(vxsysfs_get_long_attr("/sys/class/scsi_host/host5/flash_block_size"), 0x10000u);
    EXPECT_EQ(vxsysfs_get_long_attr("/sys/class/scsi_host/host5/missing"), ~uint64_t{0});
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
    EXPECT_EQ(port_id[0], 0x01);
    EXPECT_EQ(port_id[1], 0x02);
    EXPECT_EQ(port_id[2], 0x00);  // "0x0102F": the odd digit is dropped
    EXPECT_EQ(vxsysfs_get_int_attr("/sys/class/scsi_host/host5/max_npiv_vports"), 1234567u);
    EXPECT_EQ(vxsysfs_get_long_attr("/sys/class/scsi_host/host5/flash_block_size"), 0x10000u);
}

// ---------------------------------------------------------------- remote ports

TEST_F(SysfsPrimTest, RemotePortRolesAndState) {
    struct Case {
        const char* attr;
        std::optional<std::string> value;
        bool target;
        bool online;
    };
    const Case cases[] = {
        {"roles", std::string("FCP Target\n"), true, false},
        {"roles", std::string("FCP Target, FCP Initiator\n"), false, false},
        {"roles", std::string("FCP Initiator\n"), false, false},
        {"port_state", std::string("Online\n"), false, true},
        {"port_state", std::string("Blocked\n"), false, false},
        {"port_state", std::string("Online, blocked\n"), false, false},
        {"roles", std::nullopt, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.attr) + "=" + c.value.value_or("(missing)"));
        const std::string dir = "/sys/class/fc_remote_ports/rport-5:0-" + std::to_string(&c - cases) + "/";
        host.make_dir(dir);
        if (c.value) host.write_file(dir + c.attr, *c.value);
        EXPECT_EQ(vxsysfs_is_rport_a_target(dir.c_str()), c.target);
        EXPECT_EQ(vxsysfs_is_rport_online(dir.c_str()), c.online);
    }
}

void SysfsPrimTest::check_lookups(bool links) {
    // Host 50's port sorts ahead of host 5's and carries the same names.
    add_rport("rport-50:0-1", "0x21000024ff000009", "3", links);
    add_rport("rport-5:0-0", "0x21000024ff000001", "-1", links);
    add_rport("rport-5:0-2", "0x21000024ff000009", "3", links);
    add_rport("rport-6:0-0", "0x21000024ff000007", "0", links);

    const uint8_t wanted[] = {0x21, 0x00, 0x00, 0x24, 0xFF, 0x00, 0x00, 0x09};
    char result[VXSYSFS_PATH_SIZE] = "stale";
    EXPECT_EQ(vxsysfs_find_rport_by_wwpn(result, 5, wanted), 1);
    EXPECT_STREQ(result, "/sys/class/fc_remote_ports/rport-5:0-2/");
    std::strcpy(result, "stale");
    EXPECT_EQ(vxsysfs_find_rport_by_tid(result, 5, 3), 1);
    EXPECT_STREQ(result, "/sys/class/fc_remote_ports/rport-5:0-2/");

    // A port without a target id (-1) is not target 65535.
    std::strcpy(result, "stale");
    EXPECT_EQ(vxsysfs_find_rport_by_tid(result, 5, 0xFFFF), 0);
    EXPECT_STREQ(result, "");
    // Host 6's port is not host 5's.
    const uint8_t other[] = {0x21, 0x00, 0x00, 0x24, 0xFF, 0x00, 0x00, 0x07};
    std::strcpy(result, "stale");
    EXPECT_EQ(vxsysfs_find_rport_by_wwpn(result, 5, other), 0);
    EXPECT_STREQ(result, "");
    EXPECT_EQ(vxsysfs_find_rport_by_wwpn(result, 6, other), 1);
    EXPECT_STREQ(result, "/sys/class/fc_remote_ports/rport-6:0-0/");
    EXPECT_EQ(vxsysfs_find_rport_by_tid(result, 50, 3), 1);
    EXPECT_STREQ(result, "/sys/class/fc_remote_ports/rport-50:0-1/");
}

TEST_F(SysfsPrimTest, RemotePortLookupsThroughDirectories) { check_lookups(false); }

// Newer kernels: the class directory holds links to the ports' directories.
TEST_F(SysfsPrimTest, RemotePortLookupsThroughLinks) { check_lookups(true); }

TEST_F(SysfsPrimTest, RemotePortLookupWithoutTheClass) {
    const uint8_t wanted[8] = {};
    char result[VXSYSFS_PATH_SIZE] = "stale";
    EXPECT_EQ(vxsysfs_find_rport_by_wwpn(result, 5, wanted), 0);
    EXPECT_STREQ(result, "");
    std::strcpy(result, "stale");
    EXPECT_EQ(vxsysfs_find_rport_by_tid(result, 5, 0), 0);
    EXPECT_STREQ(result, "");
}

// ---------------------------------------------------------------- dumps

vxapi_priv_database sample_port() {
    vxapi_priv_database rec{};
    std::strcpy(reinterpret_cast<char*>(rec.phys_path), "/sys/bus/pci/drivers/vxa2xxx/0000:03:00.0");
    rec.oshandle = -1;
    rec.apihandle = 2;
    rec.drvr_inst = 1;
    rec.host_no = 5;
    rec.drvr_attr = 0;
    const uint8_t wwnn[] = {0x20, 0x00, 0x00, 0x24, 0xFF, 0x00, 0x00, 0x01};
    const uint8_t wwpn[] = {0x21, 0x00, 0x00, 0x24, 0xFF, 0x00, 0x00, 0x01};
    std::memcpy(rec.wwnn, wwnn, 8);
    std::memcpy(rec.wwpn, wwpn, 8);
    rec.port_id[0] = 0xEE;
    rec.port_id[1] = 0x01;
    rec.port_id[2] = 0x02;
    rec.port_id[3] = 0x0A;
    rec.interface_type = 1;
    rec.vp_idx = 0;
    rec.features = 0x1020;
    rec.port_flags = 0;
    rec.topology = 2;
    rec.state = 3;
    return rec;
}

const char* const kPortLines =
    "API Private Data:\n"
    " - phys_path: /sys/bus/pci/drivers/vxa2xxx/0000:03:00.0\n"
    " - oshandle: -1\n"
    " - apihandle: 2\n";
const char* const kPortLinesAfterModel =
    " - drvr_inst: 1\n"
    " - host_no: 5\n"
    " - drvr_attr: 0\n"
    " - wwnn: 20h 0 0 24h FFh 0 0 1\n"
    " - wwpn: 21h 0 0 24h FFh 0 0 1\n"
    " - portid: 1 2 Ah\n"
    " - interface_type: 1\n"
    " - vp_idx: 0\n"
    " - features: 1020h\n"
    " - port_flags: 0\n"
    " - topology: 2\n"
    " - state: 3\n";

TEST_F(SysfsPrimTest, PortDumpWithItsAdapterRecord) {
    vxapi_phy_info info{};
    std::strcpy(reinterpret_cast<char*>(info.model), "vxa2xxx");
    info.vendor_id = 0x1A2B;
    info.device_id = 0x2532;
    info.ssvendor_id = 0x1A2B;
    info.ssdevice_id = 0x015D;
    std::strcpy(reinterpret_cast<char*>(info.serial_num), "RFC0912K12345");
    info.pci_domain = 0;
    info.pci_bus = 3;
    info.pci_dev_func = 1;
    info.max_vports = 127;
    const uint8_t mpi[] = {1, 2, 3};
    std::memcpy(info.mpi_running_ver, mpi, 3);
    info.edc_running_ver[0] = 10;
    std::memcpy(info.mpi_flash_ver, mpi, 3);
    vxapi_priv_database rec = sample_port();
    rec.phy_info = &info;

    vxsysfs_print_priv_data(&rec);
    EXPECT_EQ(host.stderr_text(), "");  // not traced without bit 0x200

    trace_sysfs();
    vxsysfs_print_priv_data(&rec);
    const std::string expected = std::string(kPortLines) + " - model: vxa2xxx\n" + kPortLinesAfterModel +
                                 " - vendor_id: 1A2Bh\n"
                                 " - device_id: 2532h\n"
                                 " - ssvendor_id: 1A2Bh\n"
                                 " - ssdevice_id: 15Dh\n"
                                 " - serial_num: RFC0912K12345\n"
                                 " - pci_domain: 0\n"
                                 " - pci_bus: 3\n"
                                 " - pci_dev_func: 1\n"
                                 " - max_vports_supported: 7Fh\n"
                                 " - Running MPI: 1.2.3\n"
                                 " - Running EDC: 10.0.0\n"
                                 " - Flash MPI: 1.2.3\n"
                                 " - Flash EDC: 0.0.0\n";
    EXPECT_EQ(host.stderr_text(), expected);
}

TEST_F(SysfsPrimTest, PortDumpWithoutAnAdapterRecord) {
    vxapi_priv_database rec = sample_port();
    rec.phy_info = nullptr;
    trace_sysfs();
    vxsysfs_print_priv_data(&rec);
    EXPECT_EQ(host.stderr_text(), std::string(kPortLines) + kPortLinesAfterModel);
}

TEST_F(SysfsPrimTest, RemotePortDump) {
    EXT_DISC_PORT port{};
    const uint8_t wwnn[] = {0x20, 0x00, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    const uint8_t wwpn[] = {0x21, 0x00, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    std::memcpy(port.WWNN, wwnn, 8);
    std::memcpy(port.WWPN, wwpn, 8);
    port.Id[1] = 0x0B;
    port.Id[2] = 0x0C;
    port.Id[3] = 0x0D;
    port.Type = 0x2;
    port.Status = 0;
    port.Bus = 0;
    port.TargetId = 12;
    port.Local = 0;
    port.LoopID = 0x81;
    trace_sysfs();
    vxsysfs_print_disc_data(&port);
    EXPECT_EQ(host.stderr_text(),
              "Remote port data:\n"
              " - wwnn: 20h 0 0 11h 22h 33h 44h 55h\n"
              " - wwpn: 21h 0 0 11h 22h 33h 44h 55h\n"
              " - portid: Bh Ch Dh\n"
              " - Type: 2\n"
              " - Status: 0\n"
              " - Bus: 0\n"
              " - TargetId: Ch\n"
              " - Local: 0\n"
              " - LoopID: 81h\n");
}

}  // namespace
