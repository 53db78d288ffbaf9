// Flash update tokens in the shared file, on the virtual clock and across
// real processes, and the flash update capabilities request.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/vx_fut.h"
#include "core/vx_ioctl.h"
#include "core/vx_sddbg.h"
#include "core/vx_shared.h"
#include "platform/vx_platform.h"
#include "shared_file_support.h"
#include "sim_driver.h"
#include "sim_host.h"

namespace {

using shtest::Child;

constexpr uint32_t kOtherPid = 4242;

class FutTest : public ::testing::Test {
protected:
    void SetUp() override {
        vxdbg_reset();
        shtest::reset_shared_state();
        set_serial(info, "SN-ADAPTER-1");
        port.phy_info = &info;
    }
    void TearDown() override {
        shtest::reset_shared_state();
        vxdbg_reset();
    }

    static void set_serial(vxapi_phy_info& phy, const std::string& serial) {
        std::memset(phy.serial_num, 0, sizeof phy.serial_num);
        std::memcpy(phy.serial_num, serial.data(), std::min(serial.size(), sizeof phy.serial_num));
    }

    void open_file() {
        int fd = -1;
        ASSERT_EQ(vxapi_open_database(&fd), 0);
        shtest::stop_event_thread();
    }

    static vxapi_flash_update_token& slot(unsigned i) { return api_shared_data->fut[i]; }

    // A slot as another process would have written it.
    static void put(unsigned i, uint32_t token, const std::string& serial, uint64_t valid_time) {
        vxapi_flash_update_token& t = slot(i);
        std::memset(static_cast<void*>(&t), 0, sizeof t);
        t.token = static_cast<int32_t>(token);
        std::memcpy(t.serial_num, serial.data(), std::min(serial.size(), sizeof t.serial_num));
        std::memcpy(reinterpret_cast<uint8_t*>(&t) + 132, &valid_time, sizeof valid_time);
    }

    static uint64_t valid_time(unsigned i) {
        uint64_t v = 0;
        std::memcpy(&v, reinterpret_cast<const uint8_t*>(&slot(i)) + 132, sizeof v);
        return v;
    }

    static std::string table_bytes() {
        return std::string(reinterpret_cast<const char*>(api_shared_data->fut), sizeof api_shared_data->fut);
    }

    uint64_t now() const { return static_cast<uint64_t>(host.now()); }
    uint32_t own_pid() const { return static_cast<uint32_t>(::getpid()); }

    sim::SimHost host;
    vxapi_phy_info info{};
    vxapi_priv_database port{};
};

TEST_F(FutTest, TokenIsLiveUntil900SecondsAndExpiredAfter) {
    open_file();
    uint32_t token = 0;
    ASSERT_EQ(vxapi_get_fut(&port, &token), 0);
    EXPECT_EQ(token, own_pid());
    EXPECT_EQ(slot(0).token, static_cast<int32_t>(own_pid()));
    EXPECT_STREQ(slot(0).serial_num, "SN-ADAPTER-1");
    EXPECT_EQ(valid_time(0), now() + 900);

    struct Step {
        time_t at;
        int exists;
        int expired;
    };
    // At exactly T+900 the token is neither live nor expired.
    const Step steps[] = {{0, 0, 1}, {899, 0, 1}, {900, 1, 1}, {901, 1, 0}, {5000, 1, 0}};
    const time_t start = host.now();
    for (const Step& s : steps) {
        SCOPED_TRACE(s.at);
        host.advance(start + s.at - host.now());
        EXPECT_EQ(vxapi_is_fut_exist(&port), s.exists);
        EXPECT_EQ(vxapi_is_fut_expired(&port, token), s.expired);
    }
    EXPECT_EQ(vxapi_clear_fut(&port, token), 0);
    EXPECT_EQ(table_bytes(), std::string(sizeof api_shared_data->fut, '\0'));
}

TEST_F(FutTest, TakeUsesTheFirstFreeSlotBeforeTheAdaptersOwn) {
    open_file();
    const uint64_t live = now() + 500;
    for (unsigned i = 0; i < 10; ++i) put(i, 1000 + i, "OTHER-" + std::to_string(i), live);
    put(5, 0, "", 0);
    // Slot 9 holds this adapter, from a run that is over.
    put(9, kOtherPid, "SN-ADAPTER-1", now() - 10);
    const std::string slot9(reinterpret_cast<const char*>(&slot(9)), sizeof(vxapi_flash_update_token));

    uint32_t token = 0;
    ASSERT_EQ(vxapi_get_fut(&port, &token), 0);
    EXPECT_EQ(slot(5).token, static_cast<int32_t>(own_pid()));
    EXPECT_STREQ(slot(5).serial_num, "SN-ADAPTER-1");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&slot(9)), sizeof(vxapi_flash_update_token)), slot9);

    // A second take by the same process renews its own slot.
    host.advance(100);
    ASSERT_EQ(vxapi_get_fut(&port, &token), 0);
    EXPECT_EQ(valid_time(5), now() + 900);
    EXPECT_EQ(slot(6).token, 1006);
}

TEST_F(FutTest, StaleDuplicateNeverKeepsTheLiveTokenFromBeingFreed) {
    open_file();
    put(3, kOtherPid, "SN-ADAPTER-1", now() - 100);  // stale, further down the table
    put(1, 77, "SN-OTHER", now() + 100);
    uint32_t token = 0;
    ASSERT_EQ(vxapi_get_fut(&port, &token), 0);
    ASSERT_EQ(slot(0).token, static_cast<int32_t>(token));

    // The end of the update: the own token has not run out, so it is freed.
    EXPECT_EQ(vxapi_is_fut_expired(&port, token), 1);
    EXPECT_EQ(vxapi_clear_fut(&port, token), 0);
    EXPECT_EQ(slot(0).token, 0);
    EXPECT_EQ(slot(3).token, static_cast<int32_t>(kOtherPid)) << "the stale entry stays";
    EXPECT_EQ(vxapi_is_fut_exist(&port), 1) << "the adapter is free for the next update";

    // A caller without an entry still learns of the expired one.
    EXPECT_EQ(vxapi_is_fut_expired(&port, 999), 0);
}

TEST_F(FutTest, OwnExpiredEntryWithALiveDuplicateIsNotExpired) {
    open_file();
    put(2, own_pid(), "SN-ADAPTER-1", now() - 1);
    put(7, own_pid(), "SN-ADAPTER-1", now() + 300);
    EXPECT_EQ(vxapi_is_fut_expired(&port, own_pid()), 1);
    EXPECT_EQ(vxapi_clear_fut(&port, own_pid()), 0);
    EXPECT_EQ(slot(7).token, 0) << "the live entry is the one freed";
    EXPECT_EQ(slot(2).token, static_cast<int32_t>(own_pid()));
    EXPECT_EQ(vxapi_is_fut_expired(&port, own_pid()), 0);
}

TEST_F(FutTest, FullTableRefusesAndEvictsNothing) {
    open_file();
    for (unsigned i = 0; i < VX_FUT_SLOTS; ++i) put(i, 1000 + i, "OTHER-" + std::to_string(i), i % 2 ? 1 : now() + 9);
    const std::string before = table_bytes();
    uint32_t token = 123;
    EXPECT_EQ(vxapi_get_fut(&port, &token), 1);
    EXPECT_EQ(token, 123u);
    EXPECT_EQ(table_bytes(), before);
}

TEST_F(FutTest, LiveTokenOfAnotherProcessIsNeitherTakenOverNorCleared) {
    open_file();
    put(4, kOtherPid, "SN-ADAPTER-1", now() + 600);
    const std::string before = table_bytes();
    uint32_t token = 0;
    EXPECT_EQ(vxapi_is_fut_exist(&port), 0);
    EXPECT_EQ(vxapi_get_fut(&port, &token), 1);
    EXPECT_EQ(vxapi_clear_fut(&port, own_pid()), 1);
    EXPECT_EQ(table_bytes(), before);

    // Once it ran out, a take goes to the first free slot.
    host.advance(601);
    EXPECT_EQ(vxapi_get_fut(&port, &token), 0);
    EXPECT_EQ(slot(0).token, static_cast<int32_t>(own_pid()));
    EXPECT_EQ(vxapi_clear_fut(&port, kOtherPid), 0) << "the other's own token can still be cleared";
}

TEST_F(FutTest, SerialsAreComparedWithinTheirBytes) {
    open_file();
    const std::string long_serial(128, 'X');
    put(0, kOtherPid, long_serial, now() + 100);  // no terminating NUL
    put(1, 55, "XXXX", now() + 100);

    set_serial(info, long_serial);
    EXPECT_EQ(vxapi_is_fut_exist(&port), 0);
    set_serial(info, std::string(127, 'X'));
    EXPECT_EQ(vxapi_is_fut_exist(&port), 1);
    set_serial(info, "XXXX");
    EXPECT_EQ(vxapi_clear_fut(&port, 55), 0);

    // A 128-byte serial is stored in full and found again.
    set_serial(info, std::string(128, 'Y'));
    uint32_t token = 0;
    ASSERT_EQ(vxapi_get_fut(&port, &token), 0);
    EXPECT_EQ(std::string(slot(1).serial_num, 128), std::string(128, 'Y'));
    EXPECT_EQ(valid_time(1), now() + 900) << "the token's fields after the serial are intact";
    EXPECT_EQ(vxapi_is_fut_exist(&port), 0);
}

TEST_F(FutTest, UnalignedValidTimeRoundTrips) {
    open_file();
    uint32_t token = 0;
    host.advance(0x12345678);
    ASSERT_EQ(vxapi_get_fut(&port, &token), 0);
    const auto* raw = reinterpret_cast<const uint8_t*>(api_shared_data) + 131264 + 132;
    uint64_t stored = 0;
    std::memcpy(&stored, raw, sizeof stored);
    EXPECT_EQ(stored, now() + 900);

    // A time written by another process at that offset is read back as is.
    const uint64_t written = now() + 7;
    std::memcpy(reinterpret_cast<uint8_t*>(api_shared_data) + 131264 + 132, &written, sizeof written);
    host.advance(7);
    EXPECT_EQ(vxapi_is_fut_exist(&port), 1);
    EXPECT_EQ(vxapi_is_fut_expired(&port, token), 1);
    host.advance(1);
    EXPECT_EQ(vxapi_is_fut_expired(&port, token), 0);
}

TEST_F(FutTest, EmptySerialNeverMatchesAFreeSlot) {
    open_file();
    set_serial(info, "");
    EXPECT_EQ(vxapi_is_fut_exist(&port), 1);
    EXPECT_EQ(vxapi_is_fut_expired(&port, 0), 1);
    EXPECT_EQ(vxapi_is_fut_expired(&port, own_pid()), 1);
    EXPECT_EQ(vxapi_clear_fut(&port, 0), 1);
    // Its own token works like any other.
    uint32_t token = 0;
    ASSERT_EQ(vxapi_get_fut(&port, &token), 0);
    EXPECT_EQ(vxapi_is_fut_exist(&port), 0);
    EXPECT_EQ(vxapi_clear_fut(&port, token), 0);
    EXPECT_EQ(vxapi_is_fut_exist(&port), 1);
}

TEST_F(FutTest, WithoutTheFileOrAnAdapterRecordNothingIsFound) {
    uint32_t token = 0;
    EXPECT_EQ(vxapi_is_fut_exist(&port), 1);
    EXPECT_EQ(vxapi_get_fut(&port, &token), 1);
    EXPECT_EQ(vxapi_is_fut_expired(&port, 1), 1);
    EXPECT_EQ(vxapi_clear_fut(&port, 1), 1);
    open_file();
    vxapi_priv_database bare{};
    EXPECT_EQ(vxapi_get_fut(&bare, &token), 1);
    EXPECT_EQ(vxapi_get_fut(nullptr, &token), 1);
    EXPECT_EQ(table_bytes(), std::string(sizeof api_shared_data->fut, '\0'));
}

TEST_F(FutTest, TwoProcessesNeverHoldATokenForOneAdapterAtOnce) {
    // Shared between the processes: how many hold the adapter now, and the
    // worst seen.
    struct Board {
        std::atomic<int> holders;
        std::atomic<int> most;
        std::atomic<int> takes;
    };
    void* mem = ::mmap(nullptr, sizeof(Board), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(mem, MAP_FAILED);
    Board* board = new (mem) Board{};

    auto updater = [board](Child& self) {
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
            // The start of an update as the management API makes it.
            if (vxapi_is_fut_exist(&rec) != 0 && vxapi_get_fut(&rec, &token) == 0) {
                const int now_holding = board->holders.fetch_add(1) + 1;
                int most = board->most.load();
                while (now_holding > most && !board->most.compare_exchange_weak(most, now_holding)) {
                }
                board->takes.fetch_add(1);
                sched_yield();
                board->holders.fetch_sub(1);
                if (vxapi_is_fut_expired(&rec, token) != 0) vxapi_clear_fut(&rec, token);
            }
            sched_yield();
        }
        vxapi_close_database(fd);
        return 0;
    };
    std::vector<std::unique_ptr<Child>> children;
    for (int i = 0; i < 4; ++i) {
        children.push_back(std::make_unique<Child>(updater));
        ASSERT_EQ(children.back()->receive(), 0);
    }
    for (auto& c : children) c->send(1);
    for (auto& c : children) EXPECT_EQ(c->wait(), 0);
    EXPECT_EQ(board->most.load(), 1);
    EXPECT_GT(board->takes.load(), 0);
    ::munmap(mem, sizeof(Board));
}

TEST_F(FutTest, TokenOfOneProcessRefusesAnother) {
    open_file();
    uint32_t token = 0;
    ASSERT_EQ(vxapi_get_fut(&port, &token), 0);
    Child other([](Child& self) {
        shtest::reset_shared_state();
        vxapi_phy_info phy{};
        std::memcpy(phy.serial_num, "SN-ADAPTER-1", 12);
        vxapi_priv_database rec{};
        rec.phy_info = &phy;
        int fd = -1;
        if (vxapi_open_database(&fd) != 0) return 1;
        shtest::stop_event_thread();
        uint32_t t = 0;
        self.reply(vxapi_is_fut_exist(&rec));
        self.reply(vxapi_get_fut(&rec, &t));
        self.reply(vxapi_clear_fut(&rec, static_cast<uint32_t>(::getpid())));
        vxapi_close_database(fd);
        return 0;
    });
    EXPECT_EQ(other.receive(), 0) << "the token is seen";
    EXPECT_EQ(other.receive(), 1) << "and not taken";
    EXPECT_EQ(other.receive(), 1) << "nor cleared";
    EXPECT_EQ(other.wait(), 0);
    EXPECT_EQ(slot(0).token, static_cast<int32_t>(token));
}

// ---------------------------------------------------------------- capabilities

class FlashCapsTest : public ::testing::Test {
protected:
    void SetUp() override {
        vxdbg_reset();
        driver.attach(host);
        driver.add_port(driver.add_adapter());
        fd = vx::sys().open("/dev/vxa2xxx", O_RDWR);
        ASSERT_GE(fd, 0);
        rec.features = VX_FEAT_IOCTL | VX_FEAT_NEW_IOCTL;
        rec.drvr_inst = 0;
    }
    void TearDown() override {
        vx::sys().close(fd);
        vxdbg_reset();
    }

    sim::SimHost host;
    sim::SimDriver driver;
    vxapi_priv_database rec{};
    int fd = -1;
};

TEST_F(FlashCapsTest, ReadAndSendCarryTheRecordBothWays) {
    std::vector<uint8_t> received;
    driver.on(EXT_CC_FLASH_UPDATE_CAPS, [&](const sim::SimRequest& req) {
        received = req.request;
        vxa_flash_update_caps answer{};
        answer.capabilities = 0x1122334455667788ull;
        answer.outage_duration = 30;
        return sim::SimReply::with_record(answer);
    });

    vxa_flash_update_caps caps{};
    uint32_t status = 99;
    EXPECT_EQ(vxapi_flash_update_capabilities(fd, &rec, &caps, &status, VX_FUCAPS_READ), 0);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(caps.capabilities, 0x1122334455667788ull);
    EXPECT_EQ(caps.outage_duration, 30u);

    caps = vxa_flash_update_caps{};
    caps.capabilities = 0xABCD;
    caps.outage_duration = 7;
    EXPECT_EQ(vxapi_flash_update_capabilities(fd, &rec, &caps, &status, VX_FUCAPS_SEND), 0);
    ASSERT_EQ(received.size(), sizeof(vxa_flash_update_caps));
    vxa_flash_update_caps sent{};
    std::memcpy(&sent, received.data(), sizeof sent);
    EXPECT_EQ(sent.capabilities, 0xABCDu);
    EXPECT_EQ(sent.outage_duration, 7u);

    const std::vector<sim::SimLogEntry> log = driver.log();
    ASSERT_EQ(log.size(), 2u);
    for (const sim::SimLogEntry& e : log) {
        EXPECT_EQ(e.code, sim::sim_code(0x26));
        EXPECT_EQ(e.instance, 0);
        EXPECT_EQ(e.request_len, 32u);
        EXPECT_EQ(e.response_len, 32u);
    }
    EXPECT_EQ(log[0].sub_code, 1);
    EXPECT_EQ(log[1].sub_code, 2);
}

TEST_F(FlashCapsTest, DriverStatusAndOldHeaderAndSysfsPort) {
    driver.on(EXT_CC_FLASH_UPDATE_CAPS, [](const sim::SimRequest&) {
        return sim::SimReply::with_status(EXT_STATUS_UNSUPPORTED_SUBCODE);
    });
    vxa_flash_update_caps caps{};
    uint32_t status = 0;
    EXPECT_EQ(vxapi_flash_update_capabilities(fd, &rec, &caps, &status, VX_FUCAPS_READ), 0);
    EXPECT_EQ(status, EXT_STATUS_UNSUPPORTED_SUBCODE);

    rec.features = VX_FEAT_IOCTL;  // old driver: old header and converted code
    vxapi_flash_update_capabilities(fd, &rec, &caps, &status, VX_FUCAPS_READ);
    EXPECT_EQ(driver.log().back().code, sim::sim_code_old(0x26));

    const size_t sent = driver.log().size();
    rec.features = VX_FEAT_SYSFS;
    status = 0;
    EXPECT_EQ(vxapi_flash_update_capabilities(fd, &rec, &caps, &status, VX_FUCAPS_SEND), VX_RESULT_NO_TRANSPORT);
    EXPECT_EQ(status, EXT_STATUS_UNSUPPORTED_SUBCODE);
    EXPECT_EQ(driver.log().size(), sent) << "nothing reaches the ioctl driver";
}

}  // namespace
