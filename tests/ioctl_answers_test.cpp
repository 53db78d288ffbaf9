// Answers of the driver's node that deliver less, or claim more, than was asked, through the public functions: i2c
// pieces whose record comes back with another length, and records of fixed size delivered in part. Each hostile
// answer stands next to the well-behaved one.
#include <optional>

#include "api_rig.h"
#include "sim_diag_driver.h"
#include "sim_side.h"
#include "vxsdm.h"

namespace {

using apitest::kFill;
using sim::Bytes;

constexpr SD_UINT32 kUnder = SDERR_DATA_UNDERRUN, kOver = SDERR_DATA_OVERRUN;
constexpr uint8_t kGuard = 0xEE;  // the bytes behind a caller's buffer
constexpr size_t kGuardBytes = 256;

// i2c device 0xA0 (512 bytes) behind the driver of a 0x2532 port.
struct I2cRig : apitest::ApiRig {
    I2cRig() : h(add_adapter(0x2532).handle) { side.attach(driver); }

    // A read or write of `size` bytes at 0x10 through the public call: its status and the requests made, all but a
    // failing last one done. The pieces asked are the library's own (64 bytes, then the rest); the device holds the
    // pieces sent, the caller's buffer those read, and nothing is taken from or put behind the caller's bytes.
    void transfer(bool write, uint16_t size, SD_UINT32 status, size_t pieces) {
        constexpr uint16_t kAt = 0x10;
        const Bytes device = i2c.memory[0xA0] = sim::pattern(0x200, 7);
        // The caller's bytes, then guard bytes that a copy or a send past them would reach.
        Bytes buf = write ? sim::pattern(size, 50) : Bytes(size, kFill);
        buf.resize(size + kGuardBytes, kGuard);
        const Bytes before = buf;
        driver.clear_log();
        EXPECT_EQ(write ? SDWriteSFPData(h, 0, 0xA0, buf.data(), size, kAt, 0, nullptr)
                        : SDReadSFPData(h, 0, 0xA0, buf.data(), size, kAt, 0, nullptr),
                  status);
        EXPECT_EQ(requests(EXT_CC_I2C).size(), pieces);
        std::vector<std::pair<uint16_t, uint16_t>> asked;
        for (size_t i = 0; i < pieces; ++i) asked.emplace_back(kAt + 64 * i, std::min<size_t>(64, size - 64 * i));
        EXPECT_EQ(side.i2c_pieces, asked);
        Bytes want_buf = before, want_device = device;
        if (write) {  // the driver carried out every piece it was sent, the failing one too
            std::copy_n(buf.begin(), std::min<size_t>(size, 64 * pieces), want_device.begin() + kAt);
        } else {
            std::copy_n(device.begin() + kAt, status == 0 ? size : 64 * (pieces - 1), want_buf.begin());
        }
        EXPECT_EQ(buf, want_buf);
        EXPECT_EQ(i2c.memory[0xA0], want_device);
    }

    int h;
    sim::SimI2c i2c;
    sim::SimSide side{i2c};
};

// Reads and writes of 22 and 100 bytes at 0x10: the driver writes back length 0, 65 or 200 from piece `from` on, or
// delivers only `delivered` bytes of the first piece's 72. The pieces before the failing one are done, no piece goes
// on after it, and nothing is taken from or put behind the caller's bytes.
TEST(IoctlAnswers, I2cPiecesKeepTheirOwnLength) {
    struct Row {
        bool write;
        uint16_t size;
        std::optional<uint16_t> answered;
        size_t from;
        std::optional<uint32_t> delivered;
        SD_UINT32 status;
        size_t pieces;  // requests made; all but a failing last one done
    };
    const std::nullopt_t whole = std::nullopt;
    const Row rows[] = {
        {false, 22, whole, 0, whole, 0, 1},     {false, 22, 0, 0, whole, kUnder, 1},
        {false, 22, 65, 0, whole, kOver, 1},    {false, 22, 200, 0, whole, kOver, 1},
        {false, 22, whole, 0, 8, kUnder, 1},    {false, 100, whole, 0, whole, 0, 2},
        {false, 100, 0, 1, whole, kUnder, 2},   {false, 100, 65, 1, whole, kOver, 2},
        {false, 100, 200, 1, whole, kOver, 2},  {false, 100, 200, 0, whole, kOver, 1},
        {false, 100, 0, 0, whole, kUnder, 1},   {true, 22, whole, 0, whole, 0, 1},
        {true, 22, 0, 0, whole, kUnder, 1},     {true, 22, 65, 0, whole, kOver, 1},
        {true, 22, 200, 0, whole, kOver, 1},    {true, 22, whole, 0, 0, 0, 1},
        {true, 100, whole, 0, whole, 0, 2},     {true, 100, 0, 1, whole, kUnder, 2},
        {true, 100, 65, 1, whole, kOver, 2},    {true, 100, 200, 1, whole, kOver, 2},
        {true, 100, 200, 0, whole, kOver, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << (row.write ? "write " : "read ") << row.size << " answered "
                                        << row.answered.value_or(9999) << " from " << row.from << " delivered "
                                        << row.delivered.value_or(72));
        I2cRig rig;
        std::tie(rig.side.answered_length, rig.side.answered_from) = std::tuple(row.answered, row.from);
        if (row.delivered) rig.driver.inject_short(*row.delivered);
        rig.transfer(row.write, row.size, row.status, row.pieces);
    }
}

// A piece needs of its answer what it reads: a read the record's 8-byte head and the bytes asked, a write its status.
// The driver answers every piece with ResponseLen `response_len`, having written the record as far (`cut`) or whole,
// with length `answered` in it when given. A length answered counts only where the head arrived.
TEST(IoctlAnswers, I2cPiecesNeedWhatTheyRead) {
    struct Row {
        bool write;
        uint16_t size;
        uint32_t response_len;
        bool cut;
        std::optional<uint16_t> answered;
        SD_UINT32 status;
        size_t pieces;  // requests made; all but a failing last one done
    };
    const std::nullopt_t asked = std::nullopt;
    const Row rows[] = {
        {false, 22, 30, true, asked, 0, 1},      {false, 22, 29, true, asked, kUnder, 1},
        {false, 22, 30, false, asked, 0, 1},     {false, 22, 30, true, 0, kUnder, 1},
        {false, 22, 30, true, 65, kOver, 1},     {false, 100, 72, true, asked, 0, 2},
        {false, 100, 71, true, asked, kUnder, 1}, {true, 100, 0, true, asked, 0, 2},
        {true, 100, 0, false, 200, 0, 2},        {true, 100, 7, false, 200, 0, 2},
        {true, 100, 8, false, 200, kOver, 1},    {true, 100, 8, true, 0, kUnder, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << (row.write ? "write " : "read ") << row.size << " ResponseLen "
                                        << row.response_len << (row.cut ? " cut" : " whole") << " answered "
                                        << row.answered.value_or(9999));
        I2cRig rig;
        rig.side.answered_length = row.answered;
        if (row.cut) {
            rig.driver.inject_short(row.response_len, 2);
        } else {
            rig.side.reported_len = row.response_len;
        }
        rig.transfer(row.write, row.size, row.status, row.pieces);
    }
}

// Records of fixed size through their public calls: delivered whole, and delivered in part with status OK. A record
// in part fails with SDERR_DATA_UNDERRUN and leaves the caller's record as it was; the node property takes an
// underrun as done and fills what came.
TEST(IoctlAnswers, RecordsDeliveredInPart) {
    apitest::ApiRig rig;
    sim::SimDiag diag;
    diag.attach(rig.driver);
    sim::install_update_caps(rig.driver);
    apitest::RigPort& fc = rig.add_adapter(0x2532);
    apitest::RigPort& quad = rig.add_adapter(0x2071);
    apitest::RigPort& cna = rig.add_adapter(0x8021);
    apitest::RigPort& ex = rig.add_adapter(0x8044);
    EXT_HBA_PORT_STAT stat;
    std::memset(&stat, 0x11, sizeof stat);
    fc.sim->set_record(EXT_CC_GET_DATA, 3, stat);
    sim::SimPort::RemotePort& remote = sim::add_remote_port(*fc.sim);
    remote.stats = stat;
    DESTINATIONADDRESS dest{2, {}, 0};
    std::memcpy(dest.AddressUsing.PortWWN, remote.port.WWPN, 8);
    fc.sim->records[{EXT_CC_GET_SFP_DATA, 0}] = sim::pattern(512, 3);
    fc.sim->records[{EXT_CC_GET_DATA, 8}] = sim::pattern(16, 4);  // the beacon: State first
    quad.sim->records[{EXT_CC_BOARD_TEMP, 0}] = sim::pattern(64, 5);
    rig.adapter_of(quad).update_caps = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};  // 0x8877665544332211
    rig.adapter_of(quad).update_caps.resize(32);
    diag.serdes[0x44] = 0xBEEF;
    diag.serdes[0x10044] = 0xCAFEF00D;

    using Call = std::function<SD_UINT32(uint8_t*)>;
    struct Row {
        const char* what;
        size_t size;  // the caller's record
        Call call;
        std::vector<uint32_t> delivered;  // hostile answers: the bytes delivered of the driver's record
        Bytes want;                       // the caller's record after the whole answer
        bool filled_in_part = false;
    };
    const auto stats_record = [&] {
        auto s = apitest::filled<STATISTICS>();
        const uint32_t all = 0x11111111;
        std::tie(s.ControllerErrorCount, s.DeviceErrorCount, s.IOCount, s.MegabyteCount, s.LipResetCount) =
            std::tuple(all, all, all, all, all);
        std::tie(s.LinkFailureCount, s.LossOfSyncCount, s.LossOfSignalCount, s.PrimitiveSeqProtocolErrorCount,
                 s.InvalidTransmissionWordCount, s.InvalidCRCCount) = std::tuple(all, all, all, all, all, all);
        return sim::bytes_of(&s, sizeof s);
    };
    const auto word = [](uint64_t v, size_t n) { return sim::bytes_of(&v, n); };
    const Bytes sfp = sim::pattern(512, 3);
    Bytes temp = sim::pattern(4, 5);  // the temperature; the reserved words stay the caller's
    temp.resize(sizeof(BOARD_TEMP), kFill);
    const Row rows[] = {
        {"statistics", sizeof(STATISTICS),
         [&](uint8_t* b) { return SDGetStatistics(fc.handle, 0, reinterpret_cast<PSTATISTICS>(b)); }, {0, 4, 111},
         stats_record()},
        {"port statistics", sizeof(STATISTICS),
         [&](uint8_t* b) { return SDGetStatisticsFC(fc.handle, 0, &dest, reinterpret_cast<PSTATISTICS>(b)); },
         {0, 48}, stats_record()},
        {"chip", sizeof(CHIPPROPERTY),
         [&](uint8_t* b) { return SDGetHbaDeviceChipProperty(fc.handle, reinterpret_cast<PCHIPPROPERTY>(b)); },
         {0, 40}, {}},
        {"node", sizeof(DEVICENODEPROPERTY),
         [&](uint8_t* b) { return SDGetHbaDeviceNodeProperty(fc.handle, reinterpret_cast<PDEVICENODEPROPERTY>(b)); },
         {0, 300}, {}, true},
        {"transceiver", 512, [&](uint8_t* b) { return SDGetSFPData(fc.handle, 0, b, 512); }, {100}, sfp},
        {"beacon", 4, [&](uint8_t* b) { return SDGetBeaconControl(fc.handle, reinterpret_cast<SD_PUINT32>(b)); },
         {0, 2}, sim::pattern(4, 4)},
        {"temperature", sizeof(BOARD_TEMP),
         [&](uint8_t* b) {
             return SDGetBoardTemp(quad.handle, 0, reinterpret_cast<PBOARD_TEMP>(b), sizeof(BOARD_TEMP));
         },
         {0, 2}, temp},
        {"serdes", 2,
         [&](uint8_t* b) { return SDGetFCSerDesRegister(quad.handle, 0, 0x44, reinterpret_cast<SD_PUINT16>(b)); },
         {0, 4}, word(0xBEEF, 2)},
        {"serdes ex", 4,
         [&](uint8_t* b) {
             return SDGetFCSerDesRegisterEx(ex.handle, 0, 0x10044, reinterpret_cast<SD_PUINT32>(b));
         },
         {6}, word(0xCAFEF00D, 4)},
        {"update capabilities", 8,
         [&](uint8_t* b) { return SDGetFlashUpdateCapabilities(quad.handle, 0, reinterpret_cast<SD_PUINT64>(b)); },
         {0, 4}, word(0x8877665544332211, 8)},
        {"converged port", sizeof(CNAPORTPROPERTY),
         [&](uint8_t* b) {
             SD_UINT32 size = sizeof(CNAPORTPROPERTY);
             return SDGetCnaPortData(cna.handle, 0, SD_CNA_GET_PORT_ID, b, &size);
         },
         {0, 8}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Bytes buf(row.size + kGuardBytes, kFill);
        std::fill(buf.begin() + static_cast<std::ptrdiff_t>(row.size), buf.end(), kGuard);
        const Bytes before = buf;
        ASSERT_EQ(row.call(buf.data()), 0u);
        if (!row.want.empty()) {
            EXPECT_EQ(Bytes(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(row.size)), row.want);
        }
        EXPECT_TRUE(apitest::touched(buf.data(), row.size));
        EXPECT_TRUE(sim::all_bytes(buf, row.size, kGuard));
        for (uint32_t delivered : row.delivered) {
            SCOPED_TRACE(delivered);
            buf = before;
            rig.driver.inject_short(delivered);
            EXPECT_EQ(row.call(buf.data()), kUnder);
            if (row.filled_in_part) {
                EXPECT_TRUE(sim::all_bytes(buf, row.size, kGuard));
            } else if (row.size == 512) {  // the driver writes the pages in place: what came, and the caller's rest
                Bytes want = before;
                std::copy_n(sfp.begin(), delivered, want.begin());
                EXPECT_EQ(buf, want);
            } else {
                EXPECT_EQ(buf, before);
            }
        }
    }
}

}  // namespace
