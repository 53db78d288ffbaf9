// Flash update tokens in the shared file, and the flash update capabilities request.
#include <atomic>

#include "core/flash/vx_fut.h"
#include "shared_file_support.h"

namespace {

constexpr uint32_t kOtherPid = 4242;

class FutTest : public ::testing::Test {
protected:
    void SetUp() override {
        vxdbg_reset();
        shtest::reset_shared_state();
        set_serial("SN-ADAPTER-1");
        port.phy_info = &info;
    }
    void TearDown() override {
        shtest::reset_shared_state();
        vxdbg_reset();
    }
    void set_serial(const std::string& serial) {
        std::memset(info.serial_num, 0, sizeof info.serial_num);
        std::memcpy(info.serial_num, serial.data(), std::min(serial.size(), sizeof info.serial_num));
    }
    static vxapi_flash_update_token& slot(unsigned i) { return api_shared_data->fut[i]; }
    // A slot as another process would have written it; the time stands unaligned.
    static void put(unsigned i, uint32_t token, const std::string& serial, uint64_t valid_time) {
        vxapi_flash_update_token& t = slot(i);
        std::memset(static_cast<void*>(&t), 0, sizeof t);
        t.token = static_cast<int32_t>(token);
        std::memcpy(t.serial_num, serial.data(), std::min(serial.size(), sizeof t.serial_num));
        std::memcpy(reinterpret_cast<uint8_t*>(&t) + offsetof(vxapi_flash_update_token, valid_time), &valid_time, 8);
    }
    static uint64_t valid_time(unsigned i) {
        uint64_t v = 0;
        std::memcpy(&v, reinterpret_cast<const uint8_t*>(&slot(i)) + offsetof(vxapi_flash_update_token, valid_time), 8);
        return v;
    }
    static std::string table() {
        return std::string(reinterpret_cast<const char*>(api_shared_data->fut), sizeof api_shared_data->fut);
    }
    uint64_t now() const { return static_cast<uint64_t>(host.now()); }
    static int32_t own_pid() { return static_cast<int32_t>(::getpid()); }
    sim::SimHost host;
    vxapi_phy_info info{};
    vxapi_priv_database port{};
};

// The token is the process ID, held with the serial number and a time 900 s on, in the first free slot.
TEST_F(FutTest, TakeUsesTheFirstFreeSlotBeforeTheAdaptersOwn) {
    ASSERT_EQ(shtest::open_here(), 0);
    for (unsigned i = 0; i < 10; ++i) put(i, 1000 + i, "OTHER-" + std::to_string(i), now() + 500);
    put(5, 0, "", 0);
    put(9, kOtherPid, "SN-ADAPTER-1", now() - 10);  // this adapter, from a run that is over
    const vxapi_flash_update_token slot9 = slot(9);
    uint32_t token = 0;
    ASSERT_EQ(vxapi_get_fut(&port, &token), 0);
    EXPECT_EQ(static_cast<int32_t>(token), own_pid());
    EXPECT_EQ(slot(5).token, own_pid());
    EXPECT_STREQ(slot(5).serial_num, "SN-ADAPTER-1");
    EXPECT_EQ(valid_time(5), now() + 900);
    EXPECT_EQ(std::memcmp(&slot(9), &slot9, sizeof slot9), 0);
    // A second take by the same process renews its own slot.
    host.advance(100);
    ASSERT_EQ(vxapi_get_fut(&port, &token), 0);
    EXPECT_EQ(valid_time(5), now() + 900);
    EXPECT_EQ(slot(6).token, 1006);
    // A full table evicts nothing; another's live token is neither taken nor cleared until it runs out.
    for (unsigned i = 0; i < VX_FUT_SLOTS; ++i) put(i, 1000 + i, "OTHER-" + std::to_string(i), i % 2 ? 1 : now() + 9);
    std::string before = table();
    token = 123;
    EXPECT_EQ(vxapi_get_fut(&port, &token), 1);
    EXPECT_EQ(token, 123u);
    EXPECT_EQ(table(), before);
    std::memset(static_cast<void*>(api_shared_data->fut), 0, sizeof api_shared_data->fut);
    put(4, kOtherPid, "SN-ADAPTER-1", now() + 600);
    before = table();
    EXPECT_EQ(vxapi_is_fut_exist(&port), 0);
    EXPECT_EQ(vxapi_get_fut(&port, &token), 1);
    EXPECT_EQ(vxapi_clear_fut(&port, own_pid()), 1);
    EXPECT_EQ(table(), before);
    host.advance(601);
    EXPECT_EQ(vxapi_get_fut(&port, &token), 0);
    EXPECT_EQ(slot(0).token, own_pid());
    EXPECT_EQ(vxapi_clear_fut(&port, kOtherPid), 0) << "the other's own token can still be cleared";
}

// The caller's own live entry is freed, whatever stale duplicates stand in the table.
TEST_F(FutTest, StaleDuplicateNeverKeepsTheLiveTokenFromBeingFreed) {
    ASSERT_EQ(shtest::open_here(), 0);
    put(3, kOtherPid, "SN-ADAPTER-1", now() - 100);
    put(1, 77, "SN-OTHER", now() + 100);
    uint32_t token = 0;
    ASSERT_EQ(vxapi_get_fut(&port, &token), 0);
    ASSERT_EQ(slot(0).token, static_cast<int32_t>(token));
    EXPECT_EQ(vxapi_is_fut_expired(&port, token), 1);
    EXPECT_EQ(vxapi_clear_fut(&port, token), 0);
    EXPECT_EQ(slot(0).token, 0);
    EXPECT_EQ(slot(3).token, static_cast<int32_t>(kOtherPid)) << "the stale entry stays";
    EXPECT_EQ(vxapi_is_fut_exist(&port), 1) << "the adapter is free for the next update";
    EXPECT_EQ(vxapi_is_fut_expired(&port, 999), 0) << "a caller without an entry learns of the expired one";

    put(2, own_pid(), "SN-ADAPTER-1", now() - 1);
    put(7, own_pid(), "SN-ADAPTER-1", now() + 300);
    EXPECT_EQ(vxapi_is_fut_expired(&port, own_pid()), 1);
    EXPECT_EQ(vxapi_clear_fut(&port, own_pid()), 0);
    EXPECT_EQ(slot(7).token, 0) << "the live entry is the one freed";
    EXPECT_EQ(slot(2).token, own_pid());
    EXPECT_EQ(vxapi_is_fut_expired(&port, own_pid()), 0);
}

// A live token is freed only by its owner; one whose owner is gone, or that is no longer live, by any process.
// Refused: the answer for no such token, and the table as it was.
TEST_F(FutTest, OnlyTheOwnerFreesARunningToken) {
    ASSERT_EQ(shtest::open_here(), 0);
    const pid_t gone = ::fork();
    if (gone == 0) ::_exit(0);
    ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);
    constexpr int32_t kInit = 1;  // runs as long as the host does
    const struct Row {
        const char* what;
        int32_t owner;
        int64_t left;  // seconds of validity
        int result;
    } rows[] = {
        {"own, live", own_pid(), 100, 0},
        {"another running process, live", kInit, 100, 1},
        {"another running process, at its last second", kInit, 0, 0},
        {"another running process, expired", kInit, -1, 0},
        {"a process that is gone, live", gone, 100, 0},
        {"no process id, live", -5, 100, 0},
    };
    for (const Row& r : rows) {
        put(3, static_cast<uint32_t>(r.owner), "SN-ADAPTER-1", now() + r.left);
        const std::string before = table();
        EXPECT_EQ(vxapi_clear_fut(&port, static_cast<uint32_t>(r.owner)), r.result) << r.what;
        EXPECT_EQ(table() == before, r.result == 1) << r.what;
    }
}

// Nothing without file or record; serials compare within 128 bytes; an empty one matches no free slot.
TEST_F(FutTest, SerialsAreComparedWithinTheirBytes) {
    uint32_t token = 0;
    vxapi_priv_database bare{};
    for (vxapi_priv_database* rec : {&port, &bare, static_cast<vxapi_priv_database*>(nullptr)}) {
        EXPECT_EQ(vxapi_is_fut_exist(rec) + vxapi_get_fut(rec, &token) + vxapi_is_fut_expired(rec, 1), 3);
        EXPECT_EQ(vxapi_clear_fut(rec, 1), 1);
        if (rec == &port) { ASSERT_EQ(shtest::open_here(), 0); }
    }
    EXPECT_EQ(table(), std::string(sizeof api_shared_data->fut, '\0'));
    set_serial("");
    EXPECT_EQ(vxapi_is_fut_exist(&port), 1);
    EXPECT_EQ(vxapi_is_fut_expired(&port, 0), 1);
    EXPECT_EQ(vxapi_clear_fut(&port, 0), 1);
    const std::string long_serial(128, 'X');
    put(0, kOtherPid, long_serial, now() + 100);  // no terminating NUL
    put(1, own_pid(), "XXXX", now() + 100);
    set_serial(long_serial);
    EXPECT_EQ(vxapi_is_fut_exist(&port), 0);
    set_serial(std::string(127, 'X'));
    EXPECT_EQ(vxapi_is_fut_exist(&port), 1);
    set_serial("XXXX");
    EXPECT_EQ(vxapi_clear_fut(&port, own_pid()), 0);
    set_serial(std::string(128, 'Y'));  // stored in full, the time behind it intact
    ASSERT_EQ(vxapi_get_fut(&port, &token), 0);
    EXPECT_EQ(std::string(slot(1).serial_num, 128), std::string(128, 'Y'));
    EXPECT_EQ(valid_time(1), now() + 900);
    EXPECT_EQ(vxapi_is_fut_exist(&port), 0);
}

// Four processes race to start an update of one adapter: at most one holds a token at any time.
TEST_F(FutTest, TwoProcessesNeverHoldATokenForOneAdapterAtOnce) {
    struct Board { std::atomic<int> holders, overlaps, takes; };
    void* mem = ::mmap(nullptr, sizeof(Board), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(mem, MAP_FAILED);
    Board* board = new (mem) Board{};
    auto updater = [board](shtest::Child& self) {
        vxapi_phy_info phy{};
        std::memcpy(phy.serial_num, "SN-SHARED", 9);
        vxapi_priv_database rec{};
        rec.phy_info = &phy;
        int fd = -1;
        if (vxapi_open_database(&fd) != 0) return 1;
        self.reply(0);
        if (self.command() != 1) return 2;
        for (int round = 0; round < 300; ++round) {
            uint32_t token = 0;
            if (vxapi_is_fut_exist(&rec) != 0 && vxapi_get_fut(&rec, &token) == 0) {
                if (board->holders.fetch_add(1) != 0) board->overlaps.fetch_add(1);
                board->takes.fetch_add(1);
                sched_yield();
                board->holders.fetch_sub(1);
                // A live token of this process is this process's to free.
                if (vxapi_is_fut_expired(&rec, token) != 0 && vxapi_clear_fut(&rec, token) != 0) return 3;
            }
            sched_yield();
        }
        (void)vxapi_close_database(fd);  // always 0
        return 0;
    };
    std::vector<std::unique_ptr<shtest::Child>> children;
    for (int i = 0; i < 4; ++i) {
        children.push_back(std::make_unique<shtest::Child>(updater));
        ASSERT_EQ(children.back()->receive(), 0);
    }
    for (auto& c : children) c->send(1);
    for (auto& c : children) EXPECT_EQ(c->wait(), 0);
    EXPECT_EQ(board->overlaps.load(), 0);
    EXPECT_GT(board->takes.load(), 0);
    ::munmap(mem, sizeof(Board));
}

// The record goes both ways (read: SubCode 1, send: 2); old drivers get the old code; sysfs sends nothing.
TEST(FlashCapsTest, CapabilitiesRecordTravelsBothWays) {
    sim::DriverRig rig;
    rig.driver.add_port(rig.driver.add_adapter());
    vxapi_priv_database rec = sim::DriverRig::record(true, 0, VX_FEAT_IOCTL);
    sim::Bytes received;
    rig.driver.on(EXT_CC_FLASH_UPDATE_CAPS, [&](const sim::SimRequest& req) {
        received = req.request;
        return sim::SimReply::with_record(vxa_flash_update_caps{0x1122334455667788ull, 30, {}});
    });
    vxa_flash_update_caps caps{0xABCD, 7, {}};
    const sim::Bytes sent = sim::bytes_of(&caps, sizeof caps);
    uint32_t status = 99;
    EXPECT_EQ(vxapi_flash_update_capabilities(rig.fd, &rec, &caps, &status, VX_FUCAPS_SEND), 0);
    EXPECT_EQ(received, sent);
    EXPECT_EQ(caps.outage_duration, 30u);
    rec.features = VX_FEAT_IOCTL;
    EXPECT_EQ(vxapi_flash_update_capabilities(rig.fd, &rec, &caps, &status, VX_FUCAPS_READ), 0);
    EXPECT_EQ(status, 0u);
    ASSERT_EQ(rig.driver.log().size(), 2u);
    EXPECT_EQ(sim::describe(rig.driver.log()[0]), "new cmd 26 sub 2 inst 0 at 0 sel 0 req 32 resp 32");
    EXPECT_EQ(rig.driver.log()[0].code, sim::sim_code(0x26));
    EXPECT_EQ(rig.driver.log()[1].code, sim::sim_code_old(0x26));
    EXPECT_EQ(rig.driver.log()[1].sub_code, 1);
    rec.features = VX_FEAT_SYSFS;
    EXPECT_EQ(vxapi_flash_update_capabilities(rig.fd, &rec, &caps, &status, VX_FUCAPS_SEND), 1);
    EXPECT_EQ(status, EXT_STATUS_DEV_NOT_FOUND) << "the sysfs port's bsg node is not there";
    EXPECT_EQ(rig.driver.log().size(), 2u);
}

}  // namespace
