// Attribute answers through the public calls on a port the driver serves through sysfs: a read that failed, a text
// that is no number or passes its field, and a block that came empty or short fail the call and are never reported
// as values; a file the driver does not have keeps its documented meaning.
#include <map>

#include "sim_diag.h"
#include "sim_sysfs_mgmt.h"
#include "sysfs_rig.h"
#include "vxsdm.h"

namespace {

using sim::Bytes;

constexpr uint8_t kFill = 0xA5;
constexpr SD_UINT32 kOk = SDERR_NO_ERROR;
constexpr SD_UINT32 kOver = SDERR_DATA_OVERRUN;
constexpr SD_UINT32 kUnder = SDERR_DATA_UNDERRUN;

// How an attribute answers: its bytes, not at all, every read failing, the first read failing, or its bytes in
// pieces of at most 16 a read.
enum class Fault { None, Absent, Unreadable, FirstRead, Pieces, Unopenable };

const char* name(Fault f) {
    const char* const names[] = {"whole", "absent", "unreadable", "first read fails", "in pieces", "cannot be opened"};
    return names[static_cast<int>(f)];
}

void serve(sim::SimHost& host, const std::string& path, const std::string& value, Fault fault = Fault::None) {
    host.remove(path);
    if (fault == Fault::Absent) return;
    sim::SimHost::Attr attr = sim::bytes_attr(std::make_shared<std::string>(value));
    if (fault == Fault::Unreadable) attr = {[](size_t, std::string&) { return EIO; }, {}};
    if (fault == Fault::Pieces) {
        attr = {[value](size_t pos, std::string& out) { return out = value.substr(std::min(pos, value.size()), 16), 0; },
                {}};
    }
    host.set_attr(path, attr, 0444);
    if (fault == Fault::FirstRead) host.fail_attr_reads(path, EIO, 1);
}

std::string text(const Bytes& b) { return {b.begin(), b.end()}; }

template <class T>
T filled() {
    T rec;
    std::memset(&rec, kFill, sizeof rec);
    return rec;
}

// One adapter of the chip (host 5) served through sysfs, with or without bsg, open as `handle`.
struct Port {
    // A remote port with one LUN gives the host a SCSI device.
    explicit Port(uint16_t device, bool with_bsg = false)
        : rig(device, [](sim::SysfsAdapter& a) { a.functions[0].host.rports.emplace_back().luns = {{}}; }) {
        rig.setup.with_bsg = with_bsg;
        rig.fabric = sim::install_sysfs_adapters(rig.host, rig.setup);
        dir = rig.fabric.host_dirs[5];
        EXPECT_EQ(SDOpenDevice(0, &handle), kOk);
    }
    ~Port() { (void)SDCloseDevice(handle); }
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;
    std::string scsi_host(const std::string& file) const { return "/sys/class/scsi_host/host5/" + file; }
    void serve(const std::string& path, const std::string& value, Fault fault = Fault::None) {
        ::serve(rig.host, path, value, fault);
    }

    sysfstest::SysfsRig rig;
    std::string dir;
    int handle = 0;
};

// A VPD that came shorter than the chip's 512 bytes is whole when the walk over its items meets the end tag within
// what came, and an underrun when its items run past what came first: either way the bytes that came, zeros behind
// them, the size as it was and the guard behind the caller's 512 untouched.
TEST(SysfsAnswers, VpdShorterThanTheChipsAreaIsWholeThroughItsEndTag) {
    sim::VpdContents contents;
    std::tie(contents.read_only, contents.size) = std::tuple(std::vector{sim::keyword("SN", "A1")}, 512);
    const sim::BuiltVpd vpd = sim::build_vpd(contents);
    const size_t end = vpd.end_tag.value();
    for (const bool with_bsg : {false, true}) {
        Port port(0x2532, with_bsg);
        const std::tuple<size_t, Fault, SD_UINT32> rows[] = {
            {512, Fault::None, kOk},    {256, Fault::None, kOk},   {end + 1, Fault::None, kOk},
            {end, Fault::None, kUnder}, {3, Fault::None, kUnder},  {0, Fault::None, kUnder},
            {512, Fault::Unreadable, SDERR_UNKNOWN}, {512, Fault::FirstRead, SDERR_UNKNOWN}};
        for (const auto& [length, fault, status] : rows) {
            SCOPED_TRACE(testing::Message() << with_bsg << " " << length << " " << name(fault));
            port.serve(port.dir + "/vpd", text(vpd.bytes).substr(0, length), fault);
            Bytes buf(520, kFill), want(520, kFill);
            std::fill_n(want.begin(), 512, 0);
            if (fault == Fault::None) std::copy_n(vpd.bytes.begin(), length, want.begin());
            SD_UINT32 size = 512;
            EXPECT_EQ(SDGetVpd(port.handle, 0, buf.data(), &size), status);
            EXPECT_EQ(std::pair(size, buf), std::pair(512u, want));
        }
    }
}

// The driver's dump size is a decimal of 32 bits or no size; the dump's length goes out with the dump. A size of 0
// is no dump held; a dump larger than the buffer gives its size and nothing else.
TEST(SysfsAnswers, FwDumpSizeIsADecimalOf32BitsAndTheLengthGoesOut) {
    Port port(0x2532);
    sim::SimFwDump dump;
    port.rig.host.set_attr(port.dir + "/fw_dump", dump.attr());
    const std::tuple<const char*, Fault, SD_UINT32, uint32_t> rows[] = {
        {"16\n", Fault::None, kOk, 16},          {"4294967312\n", Fault::None, kOver, 64},
        {"abc\n", Fault::None, SDERR_UNKNOWN, 64}, {"\n", Fault::None, SDERR_UNKNOWN, 64},
        {"16\n", Fault::Unreadable, SDERR_UNKNOWN, 64}, {"0\n", Fault::None, SDERR_NO_DATA, 0},
        {"65\n", Fault::None, SDERR_BUFFER_TOO_SMALL, 65}};
    for (const auto& [size_text, fault, status, size_out] : rows) {
        SCOPED_TRACE(testing::Message() << size_text << name(fault));
        port.serve(port.scsi_host("fw_dump_size"), size_text, fault);
        std::tie(dump.dump, dump.enabled) = std::tuple(std::string(16, 'D'), false);
        dump.log.clear();
        Bytes buf(64, kFill);
        SD_UINT32 size = 64;
        EXPECT_EQ(SDGetFwDump(port.handle, 0, buf.data(), &size), status);
        EXPECT_EQ(std::tuple(size, dump.log.size(), Bytes(buf.begin(), buf.begin() + 16)),
                  std::tuple(size_out, status == kOk ? 3u : 0u, status == kOk ? Bytes(16, 'D') : Bytes(16, 0)));
    }
}

// The controller's firmware version, on a port with bsg and on one with the controller's files: a version that
// cannot be read as a decimal of 32 bits fails, FwVersion as it was.
TEST(SysfsAnswers, TarnoFirmwareVersionOnBothRoads) {
    for (const bool with_bsg : {false, true}) {
        Port port(0x8432, with_bsg);
        sim::SimTarno tarno;
        tarno.install(port.rig.host, port.dir);
        const std::tuple<const char*, Fault, SD_UINT32, uint32_t> rows[] = {
            {"12\n", Fault::None, kOk, 12},          {"\n", Fault::None, SDERR_UNKNOWN, 0xA5A5},
            {"abc\n", Fault::None, SDERR_UNKNOWN, 0xA5A5}, {"12\n", Fault::Unreadable, SDERR_UNKNOWN, 0xA5A5},
            {"4294967297\n", Fault::None, kOver, 0xA5A5}};
        for (const auto& [version, fault, status, out] : rows) {
            SCOPED_TRACE(testing::Message() << with_bsg << " " << version << name(fault));
            port.serve(port.scsi_host("84xx_fw_version"), version, fault);
            SD_TARNO_MGT m{};
            m.sp.TarnoGetFwVer.FwVersion = 0xA5A5;
            EXPECT_EQ(SDTarnoMgt(port.handle, 2, &m), status);
            EXPECT_EQ(m.sp.TarnoGetFwVer.FwVersion, out);
        }
    }
}

// Every counter file that is there must be read: one that fails, holds no number or passes 64 bits fails the call
// and leaves the record; one the driver does not have counts 0. A counter is the number its text begins with,
// whatever follows its digits, also past the 31 characters read; a number those cut is none. A machine without any
// SCSI device adds no device counts; one whose SCSI devices cannot be listed fails.
TEST(SysfsAnswers, StatisticsCountersThatCouldNotBeRead) {
    Port port(0x2532);
    const std::string stats = "/sys/class/fc_host/host5/statistics/", missing = stats + "link_failure_count";
    const std::string devices = "/sys/class/scsi_device", lun = devices + "/5:0:0:0";
    const std::map<std::string, std::string> served = {{stats + "fcp_input_megabytes", "0x3\n"},
                                                       {port.scsi_host("diag_requests"), "7\n"},
                                                       {port.scsi_host("diag_megabytes"), "11\n"}};
    for (const auto& [path, value] : served) port.serve(path, value);
    const std::tuple<std::string, const char*, Fault, SD_UINT32, uint32_t> rows[] = {
        {"", "", Fault::None, kOk, 14},
        {port.scsi_host("diag_requests"), "7\n", Fault::Unreadable, SDERR_UNKNOWN, 0},
        {port.scsi_host("diag_megabytes"), "11\n", Fault::FirstRead, SDERR_UNKNOWN, 0},
        {port.scsi_host("diag_megabytes"), "x1\n", Fault::None, SDERR_UNKNOWN, 0},
        {port.scsi_host("diag_megabytes"), "1 MB\n", Fault::None, kOk, 4},  // a unit behind the number
        {port.scsi_host("diag_megabytes"), "1 megabyte counted since the link came up\n", Fault::None, kOk, 4},
        {port.scsi_host("diag_megabytes"), "                               1\n", Fault::None, kOver, 0},  // past 31
        {port.scsi_host("diag_megabytes"), "", Fault::Absent, kOk, 3},
        {stats + "fcp_input_megabytes", "0x3\n", Fault::Unreadable, SDERR_UNKNOWN, 0},
        {stats + "fcp_input_megabytes", "0x10000000000000000\n", Fault::None, kOver, 0},
        {missing, "", Fault::Unreadable, SDERR_UNKNOWN, 0},
        // Last: what these remove is not put back.
        {lun, "", Fault::Absent, kOk, 14},
        {devices, "", Fault::Unopenable, SDERR_DEVICE_NOT_FOUND, 0},  // there, empty, and cannot be read
        {devices, "", Fault::Absent, SDERR_DEVICE_NOT_FOUND, 0},
    };
    for (const auto& [path, value, fault, status, megabytes] : rows) {
        SCOPED_TRACE(path + " " + value + name(fault));
        if (fault == Fault::Unopenable) port.rig.host.fail_open(path, EACCES);
        else if (!path.empty()) port.serve(path, value, fault);
        STATISTICS s = filled<STATISTICS>();
        const STATISTICS untouched = s;
        EXPECT_EQ(SDGetStatistics(port.handle, 0, &s), status);
        if (status == kOk) {
            EXPECT_EQ(std::tuple(s.IOCount, s.MegabyteCount, s.DeviceErrorCount), std::tuple(7u, megabytes, 0u));
        } else {
            EXPECT_EQ(sim::bytes_of(&s, sizeof s), sim::bytes_of(&untouched, sizeof s));
        }
        if (path == missing) port.rig.host.remove(path);
        else if (served.count(path) != 0) port.serve(path, served.at(path));
        else if (fault == Fault::Unopenable) port.rig.host.fail_open(path, 0, 0);  // opens again
    }
}

// The beacon, the SerDes block and the temperature: a read that failed, an empty block and a text past its field are
// failures with the caller's values untouched; a beacon the driver does not have leaves the word too.
TEST(SysfsAnswers, BeaconSerdesAndTemperature) {
    Port port(0x2532);
    const std::tuple<const char*, Fault, SD_UINT32, SD_UINT32> beacon[] = {
        {"Enabled\n", Fault::None, kOk, 0x01ED0017}, {"Disabled\n", Fault::None, kOk, 0x01ED00FF},
        {"Enabled\n", Fault::Unreadable, SDERR_UNKNOWN, 7}, {"", Fault::Absent, SDERR_DEVICE_NOT_FOUND, 7}};
    for (const auto& [value, fault, status, state] : beacon) {
        SCOPED_TRACE(testing::Message() << "beacon " << value << name(fault));
        port.serve(port.scsi_host("beacon"), value, fault);
        SD_UINT32 word = 7;
        EXPECT_EQ(std::pair(SDGetBeaconControl(port.handle, &word), word), std::pair(status, state));
    }
    const std::tuple<size_t, Fault, SD_UINT32> serdes[] = {
        {64, Fault::None, kOk}, {10, Fault::None, kOk}, {0, Fault::None, kUnder}, {64, Fault::FirstRead, SDERR_UNKNOWN}};
    const Bytes block = sim::pattern(64, 3);
    for (const auto& [length, fault, status] : serdes) {
        SCOPED_TRACE(testing::Message() << "serdes " << length << " " << name(fault));
        port.serve(port.dir + "/read_serdes", text(block).substr(0, length), fault);
        Bytes buf(64, kFill), want(64, 0);
        std::copy_n(block.begin(), status == kOk ? length : 0, want.begin());
        EXPECT_EQ(std::pair(SDReadSerdesParams(port.handle, buf.data(), 64), buf), std::pair(status, want));
    }
    // A temperature is read as "%hd.%02hd" reads it: the fraction is the one or two digits after the point, and
    // nothing after the fields is judged, also past the 15 characters read; a field those cut is no temperature.
    const std::tuple<const char*, Fault, SD_UINT32, SD_UINT16, SD_UINT16> temperature[] = {
        {"45.50\n", Fault::None, kOk, 45, 50},             {"38\n", Fault::None, kOk, 38, 0},
        {"45 C\n", Fault::None, kOk, 45, 0},               {"45.5 C\n", Fault::None, kOk, 45, 5},
        {"45.123\n", Fault::None, kOk, 45, 12},            {"45.50 degrees Celsius\n", Fault::None, kOk, 45, 50},
        {"            45.5\n", Fault::None, kOver, 1, 9},  // the cut after 15 characters takes the fraction
        {"70000.00\n", Fault::None, kOver, 1, 9},          {"-5.00\n", Fault::None, SDERR_UNKNOWN, 1, 9},
        {"45.C\n", Fault::None, SDERR_UNKNOWN, 1, 9},      {"abc\n", Fault::None, SDERR_UNKNOWN, 1, 9},
        {"45.50\n", Fault::Unreadable, SDERR_UNKNOWN, 1, 9}};
    for (const auto& [value, fault, status, whole, hundredths] : temperature) {
        SCOPED_TRACE(testing::Message() << "temperature " << value << name(fault));
        port.serve(port.scsi_host("thermal_temp"), value, fault);
        BOARD_TEMP t{1, 9, {}};
        EXPECT_EQ(std::tuple(SDGetBoardTemp(port.handle, 0, &t, 64), t.IntTemp, t.FracTemp),
                  std::tuple(status, whole, hundredths));
    }
}

// The binary blocks: NVRAM and SFP (read in one call, the caller's size from a longer block) and the converged
// port's DCBX block (exactly the size asked), each empty, short, long, failing every read or the first, or given in
// pieces. A call that succeeds reports the block's bytes and zeros behind them, never a block that did not come.
TEST(SysfsAnswers, BlocksEmptyShortLongFailingOrInPieces) {
    enum Shape { kWhole, kEmpty, kShort, kLong };
    struct Row {
        Shape shape;
        Fault fault;
    };
    const Row rows[] = {{kWhole, Fault::None},    {kEmpty, Fault::None},      {kShort, Fault::None},
                        {kLong, Fault::None},     {kWhole, Fault::Unreadable}, {kWhole, Fault::FirstRead},
                        {kWhole, Fault::Pieces}};
    struct Block {
        const char* file;
        uint16_t device;
        size_t size;  // the block the call asks for
        std::function<SD_UINT32(int, Bytes&)> call;
        // Whether the call takes a block given in pieces.
        bool takes_pieces;
    };
    const Block blocks[] = {
        {"nvram", 0x2532, 512, [](int h, Bytes& b) { return SDGetNVRam(h, 0, 0, b.data(), 512); }, false},
        {"sfp", 0x2532, 512, [](int h, Bytes& b) { return SDGetSFPData(h, 0, b.data(), 512); }, false},
        {"dcbx_tlv", 0x8001, 4096,
         [](int h, Bytes& b) {
             SD_UINT32 size = 4096;
             return SDGetCnaPortData(h, 0, SD_CNA_GET_DCBX_PARAMS, b.data(), &size);
         },
         true},
    };
    for (const Block& block : blocks) {
        Port port(block.device);
        const Bytes whole = sim::pattern(block.size, 6);
        for (const Row& r : rows) {
            SCOPED_TRACE(testing::Message() << block.file << " " << r.shape << " " << name(r.fault));
            const size_t length = r.shape == kEmpty ? 0 : r.shape == kShort ? block.size / 2
                                  : r.shape == kLong                      ? block.size + 100
                                                                          : block.size;
            port.serve(port.dir + "/" + block.file, text(sim::pattern(length, 6)), r.fault);
            const bool takes = r.shape == kLong || (r.shape == kWhole && r.fault == Fault::None) ||
                               (r.fault == Fault::Pieces && block.takes_pieces);
            Bytes buf(block.size, kFill), want = whole;
            const SD_UINT32 status = block.call(port.handle, buf);
            EXPECT_EQ(status == kOk, takes) << status;
            if (status == kOk) {
                EXPECT_EQ(buf, want);
            }
        }
    }
}

// The MAC statistics are what one read from the block's start gives, any byte of it, zeros behind: a driver that
// refuses a read past the block, or gives the block again wherever a read starts, answers it once; one that gives
// pieces answers its first. A read that failed or brought nothing fails the call with the buffer zero.
TEST(SysfsAnswers, MacStatisticsAreOneReadFromTheBlocksStart) {
    Port port(0x8001);
    const std::string path = port.dir + "/xgmac_stats";
    const std::string block = text(sim::pattern(40, 6)), page = text(sim::pattern(4096, 6));
    const auto serve_read = [&](const std::function<int(size_t, std::string&)>& read) {
        port.rig.host.set_attr(path, {read, {}}, 0444);
    };
    const auto refuses_past = [&](size_t pos, std::string& out) {
        return pos >= block.size() ? EINVAL : (out = block.substr(pos), 0);
    };
    const auto ignores_position = [&](size_t, std::string& out) { return out = block, 0; };
    const std::tuple<const char*, std::function<void()>, SD_UINT32, std::string> rows[] = {
        {"a page", [&] { port.serve(path, page); }, kOk, page},
        {"short", [&] { port.serve(path, block); }, kOk, block},
        {"refuses a read past the block", [&] { serve_read(refuses_past); }, kOk, block},
        {"ignores the position", [&] { serve_read(ignores_position); }, kOk, block},
        {"in pieces", [&] { port.serve(path, page, Fault::Pieces); }, kOk, page.substr(0, 16)},
        {"empty", [&] { port.serve(path, ""); }, SDERR_UNKNOWN, ""},
        {"first read fails", [&] { port.serve(path, page, Fault::FirstRead); }, SDERR_UNKNOWN, ""},
    };
    for (const auto& [what, serve, status, stats] : rows) {
        SCOPED_TRACE(what);
        serve();
        Bytes buf(4096, kFill), want(4096, 0);
        std::copy(stats.begin(), stats.end(), want.begin());
        SD_TARNO_MGT m{};
        m.sp.TarnoManageInfo = {TARNO_MGMT_READ_MEM, 0, {}, 4096, buf.data()};
        EXPECT_EQ(std::pair(SDTarnoMgt(port.handle, 4, &m), buf), std::pair(status, want));
    }
}

}  // namespace
