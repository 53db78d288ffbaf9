// bsg jobs against the simulated FC bsg device: the frames, the private nodes and the statuses of the send path;
// and the access mode of generic nodes.
#include "sim_bsg.h"
#include "test_support.h"
#include "transport/vx_sysfs.h"
#include "transport/vx_sysfs_bsg.h"
#include "transport/vx_sysfs_prim.h"

namespace {

using sim::Bytes;
using sim::bytes_of;

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
    sg_io_v4 hdr;
    ASSERT_EQ(vxsysfs_create_bsg_ct_header(&hdr, &req, ct.data(), 20, rsp, sizeof rsp), 0);
    EXPECT_EQ(bytes_of(&req, 8), (Bytes{0x04, 0, 0, 0x80, 0, 0xFC, 0xFF, 0xFF}));
    // Command 0x0112 and Max_rsp_size 0x0040 as the host reads them.
    const auto& h = req.rqst_data.h_ct;
    EXPECT_EQ(std::vector<uint32_t>({h.preamble_word0, h.preamble_word1, h.preamble_word2}),
              std::vector<uint32_t>({0x01000000, 0xFC020000, 0x01120040}));
    EXPECT_EQ(std::vector<uint64_t>({hdr.request_len, hdr.dout_xferp, hdr.dout_xfer_len, hdr.din_xferp,
                                     hdr.din_xfer_len, hdr.response}),
              std::vector<uint64_t>({20, addr(ct.data()), 20, addr(rsp), 8, 0}));
    EXPECT_EQ(bytes_of(rsp, sizeof rsp), Bytes(8, 0));

    ASSERT_EQ(vxsysfs_create_bsg_els_header(&hdr, &req, els.data(), 36, rsp, sizeof rsp), 0);
    EXPECT_EQ(bytes_of(&req, 5), (Bytes{0x01, 0, 0, 0x40, 0x52}));
    EXPECT_EQ(std::vector<uint64_t>({hdr.dout_xferp, hdr.dout_xfer_len}), std::vector<uint64_t>({addr(&els[32]), 4}));

    // A CT IU shorter than its header, an ELS request without a payload.
    sim::Exact short_ct(Bytes(15)), bare_els(Bytes(32));
    std::memset(&hdr, 0xA5, sizeof hdr);
    const Bytes untouched = bytes_of(&hdr, sizeof hdr);
    EXPECT_EQ(vxsysfs_create_bsg_ct_header(&hdr, &req, short_ct.get(), 15, rsp, sizeof rsp), 1);
    EXPECT_EQ(vxsysfs_create_bsg_els_header(&hdr, &req, bare_els.get(), 32, rsp, sizeof rsp), 1);
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
        EXPECT_EQ(sg.opens.back(), std::make_pair(3u, access | O_NONBLOCK)) << int{opcode};
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
