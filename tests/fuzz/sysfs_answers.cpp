// The answers of a sysfs-mode driver without bsg to the public calls: its
// attribute files and its flash window, as the input makes them.
//
// Three adapters, each one port that sysfs discovery found: 0x2532 (handle
// 1, host 5: VPD, NVRAM, SFP, the dump and its size, statistics, beacon,
// board temperature, SerDes parameters, the driver's and firmware's
// properties, the PCI function's interrupt, a remote port that is a target;
// its flash moves whole, the driver has no chunked access), 0x8001 (handle 2,
// host 6: the converged port's VLAN, fabric parameters and MAC address, DCBX,
// MAC statistics) and 0x8432 (handle 3, host 7: the controller's firmware
// version).
//
// Attribute modes. Input: the mode byte, a fault byte (modulo 6: 0 served
// plainly, 1 absent, 2 every read fails with EIO, 3 the first read fails,
// 4 read in pieces of 1 to 16 bytes (the next byte), 5 the first read fails
// and the rest come in pieces), the piece byte, two parameter bytes of the
// call, then the attribute's text or bytes (the rest; at most 4000 bytes).
// The properties: no byte behind a caller's buffer changes; a call that
// succeeds reports only what came: a number equals the number of the text
// that came and fits its field, a block equals the bytes that came and is as
// long as the call needs; a failure leaves what the header says it leaves.
// The texts are parsed here as a scanf conversion reads them: white space
// before a number skipped, a hexadecimal one may carry "0x", the fields the
// call takes and nothing after them judged ("%hhd.%02hhd.%02hhd" for the
// firmware's version, "%hd.%02hd" for the temperature, six "%hhx" joined by
// ":" for a MAC address, 1 to 2n hexadecimal digits for a name of n bytes, a
// target id of 16 bits or -1). The interrupt (16 bits) and the adapter's
// error count are read in the base they show: hexadecimal behind "0x",
// else decimal. A text the call copies (the driver's version) is never
// refused for its length: the field holds its first characters, as many as
// fit before the terminator; only a read that failed fails the call. A VPD
// shorter than its 512 bytes is whole when the walk of its items meets the end
// tag; the MAC statistics are what the first read gave, zeros behind.
//
// Flash modes (the region read, the raw read, the region updates and the raw
// update). Input: the mode byte, the call's parameters (8 bytes: flags (bit 0
// the layout loaded first, bit 1 a buffer below the region, bit 2
// DisableReset), the region's index in the layout the port reports (past
// its end: the whole flash), the offset and the length of a raw span, 3
// bytes each), then the window's faults: per control word "0", "1", "2", "3"
// a byte (bits 5-6: how many such words are taken first; bits 0-1: how many
// of the next ones fail, bits 2-4: EBUSY rather than EIO for each), the byte
// at which reads of "optrom" stop (3 bytes, 0: none) and the size of the
// pieces it gives (2 bytes, 0: a page; at least 256). The properties: a
// read that succeeds returns the flash's bytes; an update that succeeds
// leaves the flash holding exactly what was written, and nothing else
// changed. Busy retries sleep on the
// simulated clock.
//
// Healthy modes (the versions, the port, the remote port's names, the MAC
// address, the temperature). Input: the mode byte, a decoration byte, then
// the numbers the text carries (and a build tag's characters); the target
// prints the text as a working driver does (see each mode), the features the
// chip lacks as empty lines. The property: the call succeeds and reports
// exactly the numbers chosen, as the conversion reads them (the flash
// firmware's version: its three numbers and the low 8 bits of the image's
// attribute word behind them, valid).
//
// A text attribute that is absent is left to the call (it may mean "the
// driver has no such value"), but for the statistics' counters, which then
// read 0, the interrupt (level 0), and the remote port's names (zeros) and
// target id (0xFFFF).
//
// Each property has a name; VXSDM_FUZZ_HOLD="name,name..." holds those back
// (all are on by default; "*" holds back every named one); with
// VXSDM_FUZZ_REPORT set a broken property is printed with the input's
// reading ("broken <name>: ...") and the run goes on. The names: temp_value,
// temp_untouched, serdes_came, dump_size_number, dump_length, dump_bytes,
// tarno_value, tarno_untouched, stats_counter, stats_untouched, chip_irq,
// chip_untouched, beacon_came, beacon_untouched, vpd_size, vpd_whole,
// nvram_came, sfp_came, dcbx_came, dcbx_untouched, mac_stats_came, cna_vlan,
// cna_fabric, cna_mac, cna_untouched, driver_segments, driver_version,
// driver_untouched, fw_version, fw_untouched, disc_names, disc_target,
// disc_untouched, flash_unchanged, flash_read, flash_written, flash_rest,
// healthy_version, healthy_boot_version, healthy_fw_state, healthy_port_name,
// healthy_names, healthy_mac, healthy_temp.
#include <algorithm>
#include <cstdarg>
#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <sstream>

#include "answer_edits.h"
#include "base/vx_layout.h"
#include "base/vx_passthru_records.h"
#include "base/vx_sem.h"
#include "core/life/vx_port_attach.h"
#include "sim_adapters.h"
#include "sim_sysfs_adapters.h"
#include "transport/vx_sysfs.h"
#include "vxsdm.h"
#include "vxsdm_diag.h"
#include "vxsdm_port.h"
#include "vxsdm_stats.h"

namespace {

using namespace fuzz;  // NOLINT(google-build-using-namespace): the target's own helpers

constexpr int kFc = 1, kCna = 2, kTarno = 3;  // handles
constexpr unsigned kFcHost = 5, kCnaHost = 6, kTarnoHost = 7;
constexpr size_t kTextMax = 4000;  // an attribute's text stays within one page
constexpr size_t kPage = 4096;
constexpr uint32_t kVpdArea = 512;    // the 0x2532's VPD
constexpr uint32_t kNvramImage = 512;  // and its NVRAM image
constexpr uint32_t kDumpBytes = 64;   // the driver's dump
constexpr uint32_t kMacStatsBytes = 4096;
constexpr uint16_t kTarnoFwVersion = 2, kTarnoManage = 4;  // SDTarnoMgt operations
constexpr uint16_t kFabricParamValid = 0x200, kFabricParamDefault = 0x8000;

// ---- properties that can be held back ----

bool held(const char* name) {
    static const std::set<std::string> names = [] {
        std::set<std::string> out;
        const char* list = std::getenv("VXSDM_FUZZ_HOLD");
        std::stringstream in(list != nullptr ? list : "");
        for (std::string item; std::getline(in, item, ',');) {
            if (!item.empty()) out.insert(item);
        }
        return out;
    }();
    return names.count("*") != 0 || names.count(name) != 0;
}

// The input being run, as a broken property reports it.
std::string g_input;

// VXSDM_FUZZ_REPORT set: a broken property is reported with the input, and
// the run goes on (to sort a corpus's findings); else the target aborts.
void broken(const char* name, const char* file, int line, const char* cond) {
    static const bool report = std::getenv("VXSDM_FUZZ_REPORT") != nullptr;
    if (report) {
        std::printf("broken %s: %s\n", name, g_input.c_str());
        return;
    }
    std::fprintf(stderr, "%s:%d: property %s failed: %s\n", file, line, name, cond);
    std::abort();
}

#define PROPERTY(name, cond)                                                 \
    do {                                                                     \
        if (!held(name) && !(cond)) broken(name, __FILE__, __LINE__, #cond); \
    } while (0)

// ---- the texts as they came, read here ----

// The text before its first NUL.
std::string c_text(const std::string& s) { return s.substr(0, s.find('\0')); }

bool space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

int digit(char c, int base) {
    if (c >= '0' && c <= '9') return c - '0';
    if (base == 16 && c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (base == 16 && c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The base of a number printed in decimal that may carry "0x" (then it is
// hexadecimal).
constexpr int kAsPrinted = 0;

// A text (before its first NUL) read here as a scanf conversion reads it:
// each number after white space (a hexadecimal one may carry "0x" when a
// digit follows; one read as printed is hexadecimal behind "0x", else
// decimal), its digits as far as they go (at most width, 0: any), within
// max; a literal right where the text stands; what follows the fields taken
// is not looked at.
struct Scan {
    explicit Scan(const std::string& text) : t(c_text(text)) {}

    void skip_space() {
        while (at < t.size() && space(t[at])) ++at;
    }
    bool literal(char c) { return at < t.size() && t[at] == c ? (++at, true) : false; }
    std::string digits(int base, size_t width = 0) {
        skip_space();
        if (base == 16 && at + 2 < t.size() && t[at] == '0' && (t[at + 1] == 'x' || t[at + 1] == 'X') &&
            digit(t[at + 2], 16) >= 0) {
            at += 2;
        }
        const size_t start = at;
        while (at < t.size() && (width == 0 || at - start < width) && digit(t[at], base) >= 0) ++at;
        return t.substr(start, at - start);
    }
    std::optional<uint64_t> number(int base, uint64_t max, size_t width = 0) {
        if (base == kAsPrinted) {
            skip_space();
            base = t.compare(at, 2, "0x") == 0 || t.compare(at, 2, "0X") == 0 ? 16 : 10;
        }
        const std::string d = digits(base, width);
        uint64_t v = 0;
        for (const char c : d) {
            const auto n = static_cast<uint64_t>(digit(c, base));
            if (v > (max - n) / static_cast<uint64_t>(base)) return std::nullopt;
            v = v * static_cast<uint64_t>(base) + n;
        }
        return d.empty() ? std::nullopt : std::optional<uint64_t>(v);
    }

    std::string t;
    size_t at = 0;
};

// The first number of the text (Scan), at most max.
std::optional<uint64_t> number(const std::string& text, int base, uint64_t max) {
    return Scan(text).number(base, max);
}

// n bytes of a hexadecimal name: 1 to 2n digits (Scan; fewer are the low
// end of the field), in text order.
std::optional<Bytes> name_bytes(const std::string& text, size_t n) {
    std::string t = Scan(text).digits(16);
    if (t.empty() || t.size() > 2 * n) return std::nullopt;
    t.insert(0, 2 * n - t.size(), '0');
    Bytes out(n);
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(digit(t[2 * i], 16) << 4 | digit(t[2 * i + 1], 16));
    return out;
}

// ---- the attribute under the input ----

enum Fault : uint8_t { kPlain, kAbsent, kFailAll, kFailFirst, kPieces, kFailFirstPieces };

// What the attribute holds and how it answers; what of it came.
struct Served {
    std::string text;
    uint8_t fault = kPlain;
    size_t piece = SIZE_MAX;
    bool failed_once = false;
    size_t reach = 0;  // the bytes delivered from the start without a gap
    bool read = false;  // a read was answered
    size_t reads = 0;   // reads asked
    std::optional<std::string> first;  // what the first read asked gave, when answered at the start

    int answer(size_t pos, std::string& out) {
        const bool first_read = reads++ == 0;
        if (fault == kFailAll || ((fault == kFailFirst || fault == kFailFirstPieces) && !failed_once)) {
            failed_once = true;
            return EIO;
        }
        out = pos < text.size() ? text.substr(pos, piece) : std::string();
        if (first_read && pos == 0) first = out;
        read = true;
        if (pos <= reach) reach = std::max(reach, pos + out.size());
        return 0;
    }
    bool absent() const { return fault == kAbsent; }
    // The text that came, when any read was answered.
    std::optional<std::string> came() const {
        if (!read) return std::nullopt;
        return text.substr(0, reach);
    }
    Bytes came_bytes() const { return read ? Bytes(text.begin(), text.begin() + static_cast<long>(reach)) : Bytes(); }
};

// ---- the host ----

struct Rig {
    Rig() {
        sim::SimHost& h = fuzz::host();
        sim::SysfsSetup setup;
        std::tie(setup.with_bsg, setup.chunking) = std::tuple(false, false);
        setup.adapters = {sim::sysfs_adapter(0x2532, {kFcHost}), sim::sysfs_adapter(0x8001, {kCnaHost}),
                          sim::sysfs_adapter(0x8432, {kTarnoHost})};
        for (sim::SysfsAdapter& a : setup.adapters) {
            sim::SimAdapter probe;
            probe.device_id = a.device_id;
            (void)sim::build_chip_flash(probe);
            a.flash = probe.flash;
        }
        sim::SysfsRemotePort target;
        target.luns.emplace_back();
        setup.adapters[0].functions[0].host.rports.push_back(target);
        fabric = sim::install_sysfs_adapters(h, setup);
        window = fabric.windows.at(kFcHost).get();
        flash = *window->flash;
        vpd = *fabric.vpd.at(kFcHost);
        const std::string fc = fabric.host_dirs.at(kFcHost);
        const std::string cna = fabric.host_dirs.at(kCnaHost);
        const std::string tarno = fabric.host_dirs.at(kTarnoHost);
        const std::string fc_scsi = fc + "/scsi_host/host5/", fc_fc = fc + "/fc_host/host5/";
        const std::string cna_scsi = cna + "/scsi_host/host6/";
        const std::string rport = fc + "/rport-5:0-0/fc_remote_ports/rport-5:0-0/";
        // The texts the rig serves in place of the defaults, and the files they leave out.
        const auto text = [&](const std::string& path, const std::string& value, bool writable = false) {
            h.set_attr(path, sim::text_attr(value, writable), writable ? 0644 : 0444);
        };
        text(fc_scsi + "thermal_temp", "45.50");
        text(fc_scsi + "fw_dump_size", std::to_string(kDumpBytes));
        text(fc_scsi + "beacon", "Disabled");
        text(fc_scsi + "diag_requests", "1234");
        text(fc_scsi + "diag_megabytes", "56");
        text(fc_scsi + "total_isp_aborts", "0");
        for (const char* name : {"link_failure_count", "lip_count", "loss_of_sync_count", "loss_of_signal_count",
                                 "prim_seq_protocol_err_count", "invalid_tx_word_count", "invalid_crc_count",
                                 "dumped_frames", "nos_count", "rx_frames", "tx_frames", "fcp_input_megabytes",
                                 "fcp_output_megabytes", "fcp_input_requests", "fcp_output_requests",
                                 "fcp_control_requests"}) {
            text(fc_fc + "statistics/" + name, "0x0");
        }
        text(fabric.host_dirs.at(kTarnoHost) + "/scsi_host/host7/84xx_fw_version", "12345");
        text(tarno + "/tarno_cfg_cmd", "", true);
        const auto bytes = [&](const std::string& path, const Bytes& b) {
            h.set_attr(path, sim::bytes_attr(std::make_shared<std::string>(str(b)), true), 0644);
        };
        bytes(fc + "/nvram", pattern(512, 1));
        bytes(fc + "/sfp", pattern(512, 2));
        bytes(fc + "/read_serdes", pattern(64, 3));
        h.set_attr(fc + "/fw_dump", dump_attr(str(pattern(kDumpBytes, 4))), 0644);
        bytes(cna + "/dcbx_tlv", pattern(kPage, 5));
        bytes(cna + "/xgmac_stats", pattern(kMacStatsBytes, 6));

        uint32_t count = 0;
        FUZZ_CHECK(vxsysfs_init() == 0 && vxsysfs_supported_driver_exist(&count) == 0 && count == 3);
        for (vxapi_priv_database* rec : sim::listed_ports()) {
            rec->apihandle = rec->host_no == kFcHost ? kFc : rec->host_no == kCnaHost ? kCna : kTarno;
        }
        api_flash_sem_id = vxapi_sem_get(VX_SEM_KEY_FLASH);

        // The PCI function holds the host's directory.
        const std::string pci = fc.substr(0, fc.rfind('/') + 1);
        paths = {fc_scsi, fc_fc, fc + "/", cna_scsi, cna + "/", tarno + "/scsi_host/host7/", rport, pci};
    }

    // The attribute at path served as `served` says (absent: removed).
    void serve(const std::string& path, Served& served) {
        sim::SimHost& h = fuzz::host();
        if (served.fault == kAbsent) {
            h.remove(path);
            return;
        }
        sim::SimHost::Attr attr;
        attr.read = [&served](size_t pos, std::string& out) { return served.answer(pos, out); };
        attr.write = [](size_t, const std::string&) { return 0; };
        h.set_attr(path, attr, 0644);
    }

    // The driver's dump: "1" written enables its read, "0" clears it; the
    // bytes stay as they are.
    static sim::SimHost::Attr dump_attr(const std::string& bytes) {
        return {[bytes](size_t pos, std::string& out) { return out = pos < bytes.size() ? bytes.substr(pos) : "", 0; },
                [](size_t, const std::string&) { return 0; }};
    }

    // Puts the attribute back as it was before the input.
    void restore(const std::string& path, const std::string& text, bool binary) {
        sim::SimHost& h = fuzz::host();
        if (path.ends_with("/fw_dump")) {
            h.set_attr(path, dump_attr(text), 0644);
        } else if (binary) {
            h.set_attr(path, sim::bytes_attr(std::make_shared<std::string>(text), true), 0644);
        } else {
            h.set_attr(path, sim::text_attr(text.substr(0, text.find_last_not_of('\n') + 1)), 0444);
        }
    }

    // The window and its flash as the driver starts every input.
    void reset_flash() {
        *window->flash = flash;
        window->errnos.clear();
        window->limit = SIZE_MAX;
        window->piece = kPage;
        window->mode = sim::FlashWindow::Mode::Closed;
        window->controls.clear();
        window->commits.clear();
        *fabric.vpd.at(kFcHost) = vpd;
    }

    void reset() {
        fuzz::host().clear_sleeps();
        fuzz::host().clear_records();
    }

    sim::SysfsFabric fabric;
    sim::FlashWindow* window = nullptr;
    std::vector<uint8_t> flash;
    std::string vpd;
    std::vector<std::string> paths;
};

Rig& rig() {
    static Rig* r = new Rig();  // lives as long as the process, as the host
    return *r;
}

// ---- the attribute cases ----

// Where an attribute lives: the directories of Rig::paths.
enum Dir : uint8_t { kFcScsi, kFcFc, kFcDevice, kCnaScsi, kCnaDevice, kTarnoScsi, kRport, kFcPci };

struct AttrCase {
    Dir dir;
    const char* name;
    std::string plain;  // what the driver shows when well-behaved
    bool binary;
    // The call, with the two parameter bytes, and its checks against what came.
    std::function<void(uint8_t, uint8_t, const Served&)> run;
};

template <class T>
T filled() {
    T rec;
    std::memset(&rec, kFill, sizeof rec);
    return rec;
}

bool all_of(const uint8_t* b, size_t n, uint8_t v) {
    return std::all_of(b, b + n, [v](uint8_t x) { return x == v; });
}

// The bytes of buf are those that came, then zeros (the rest of a block the
// library clears), up to n.
bool block_came(const uint8_t* buf, size_t n, const Bytes& came) {
    const size_t k = std::min(n, came.size());
    return std::equal(buf, buf + k, came.begin()) && all_of(buf + k, n - k, 0);
}

// A decimal or hexadecimal field of a record that a call reports: on
// success it is the number that came, within max; a failure leaves the
// record as it was.
template <class Record>
void number_field(const char* property, const Served& s, SD_UINT32 status, const Record& rec, uint64_t value,
                  int base, uint64_t max, const char* untouched = nullptr) {
    if (status != SDERR_NO_ERROR) {
        const auto* b = reinterpret_cast<const uint8_t*>(&rec);
        if (untouched != nullptr) PROPERTY(untouched, all_of(b, sizeof rec, kFill));
        return;
    }
    if (s.absent()) return;  // what a driver without the file means is the call's to say
    const std::optional<std::string> came = s.came();
    const std::optional<uint64_t> n = came ? number(*came, base, max) : std::nullopt;
    PROPERTY(property, n.has_value() && *n == value);
}

// After a call into a guarded record: the guard stays; a failure leaves the
// record as it was (under the property `untouched`); the success of a call
// whose attribute the driver does not have is the call's to say. True when a
// success remains to be checked against what came.
bool to_check(const Guarded& buf, SD_UINT32 status, const Served& s, const char* untouched) {
    FUZZ_CHECK(buf.guard_intact());
    if (status != SDERR_NO_ERROR) {
        PROPERTY(untouched, buf.untouched());
        return false;
    }
    return !s.absent();
}

void temperature(uint8_t, uint8_t, const Served& s) {
    Guarded buf(sizeof(BOARD_TEMP), kFill);
    const SD_UINT32 status = SDGetBoardTemp(kFc, 0, buf.as<BOARD_TEMP>(), sizeof(BOARD_TEMP));
    const BOARD_TEMP& t = *buf.as<BOARD_TEMP>();
    if (!to_check(buf, status, s, "temp_untouched")) return;
    // "%hd.%02hd" without a sign: the degrees within 16 bits, then, after a
    // point, the number of its one or two digits (0 without a point).
    Scan text(s.came().value_or(""));
    const std::optional<uint64_t> whole = text.number(10, 0xFFFF);
    const std::optional<uint64_t> frac = whole && text.literal('.') ? text.number(10, 99, 2) : 0;
    PROPERTY("temp_value", s.came() && whole && frac && t.IntTemp == *whole && t.FracTemp == *frac);
}

void serdes(uint8_t p0, uint8_t, const Served& s) {
    const uint32_t room = 1 + p0 % 128;
    Guarded buf(room, kFill);
    const SD_UINT32 status = SDReadSerdesParams(kFc, buf.data(), room);
    FUZZ_CHECK(buf.guard_intact());
    if (status != SDERR_NO_ERROR) return;
    PROPERTY("serdes_came", s.reach > 0 && s.reach <= room && block_came(buf.data(), room, s.came_bytes()));
}

// The driver's dump, its size or its bytes under the input.
void dump(uint8_t p0, const Served& size_text, const std::function<Bytes()>& came) {
    const uint32_t room = 4 * p0;
    SD_UINT32 size = room;
    Guarded buf(room, kFill);
    const SD_UINT32 status = SDGetFwDump(kFc, 0, buf.data(), &size);
    FUZZ_CHECK(buf.guard_intact());
    if (status != SDERR_NO_ERROR && status != SDERR_BUFFER_TOO_SMALL) return;
    const std::optional<std::string> text = size_text.came();
    const std::optional<uint64_t> length = text ? number(*text, 10, UINT32_MAX) : std::nullopt;
    PROPERTY("dump_size_number", length.has_value());
    if (!length) return;  // held back, or reported
    if (status == SDERR_BUFFER_TOO_SMALL) {
        PROPERTY("dump_length", size == *length);
        return;
    }
    PROPERTY("dump_length", size == *length);
    const Bytes bytes = came();
    PROPERTY("dump_bytes", *length <= room && *length <= bytes.size() &&
                               std::equal(buf.data(), buf.data() + *length, bytes.begin()));
}

void tarno_version(uint8_t, uint8_t, const Served& s) {
    Guarded buf(sizeof(SD_TARNO_MGT), kFill);
    auto* p = buf.as<SD_TARNO_MGT>();
    const SD_UINT32 status = SDTarnoMgt(kTarno, kTarnoFwVersion, p);
    FUZZ_CHECK(buf.guard_intact());
    number_field("tarno_value", s, status, p->sp.TarnoGetFwVer, p->sp.TarnoGetFwVer.FwVersion, 10, UINT32_MAX,
                 "tarno_untouched");
}

// A counter of the statistics: decimal, hexadecimal or as printed, where
// all ones means "not counted" (0), as does a file the driver does not have.
// The 32-bit fields take a counter's low 32 bits: they wrap, as counters do.
void statistic(const Served& s, SD_UINT32 STATISTICS::*field, int base) {
    STATISTICS st = filled<STATISTICS>();
    const SD_UINT32 status = SDGetStatistics(kFc, 0, &st);
    if (status != SDERR_NO_ERROR) {
        PROPERTY("stats_untouched", all_of(reinterpret_cast<const uint8_t*>(&st), sizeof st, kFill));
        return;
    }
    const std::optional<std::string> came = s.came();
    std::optional<uint64_t> n = came ? number(*came, base, UINT64_MAX) : std::nullopt;
    if (n == UINT64_MAX || s.absent()) n = 0;  // a counter the driver does not keep
    PROPERTY("stats_counter", n.has_value());
    if (!n) return;
    PROPERTY("stats_counter", st.*field == static_cast<uint32_t>(*n));
}

void beacon(uint8_t, uint8_t, const Served& s) {
    Guarded buf(sizeof(SD_UINT32), kFill);
    const SD_UINT32 status = SDGetBeaconControl(kFc, buf.as<SD_UINT32>());
    if (!to_check(buf, status, s, "beacon_untouched")) return;
    const std::optional<std::string> came = s.came();
    PROPERTY("beacon_came", came.has_value());
    if (!came) return;
    std::string t = c_text(*came);
    while (!t.empty() && t.back() == '\n') t.pop_back();
    PROPERTY("beacon_came", *buf.as<SD_UINT32>() == (t == "Enabled" ? VX_BEACON_BLINK : VX_BEACON_OFF));
}

// The PCI function's interrupt, "%u" (or hexadecimal behind "0x"): a level
// of 16 bits; a larger one, or none, fails the call; a function without the
// file has level 0.
void chip_irq(uint8_t, uint8_t, const Served& s) {
    Guarded buf(sizeof(CHIPPROPERTY), kFill);
    const SD_UINT32 status = SDGetHbaDeviceChipProperty(kFc, buf.as<CHIPPROPERTY>());
    FUZZ_CHECK(buf.guard_intact());
    if (status != SDERR_NO_ERROR) {
        PROPERTY("chip_untouched", buf.untouched());
        return;
    }
    const std::optional<std::string> came = s.came();
    const std::optional<uint64_t> n = s.absent() ? 0 : came ? number(*came, kAsPrinted, 0xFFFF) : std::nullopt;
    PROPERTY("chip_irq", n.has_value() && buf.as<CHIPPROPERTY>()->InterruptLevel == *n);
}

// The bytes up to the end tag (0x78) that the walk over a VPD's items from
// its first byte meets within the bytes (0: none): the identifier string
// (0x82) is passed over with its text, a keyword area (0x90, 0x91) is
// entered, any other byte starts a keyword (two name bytes, a length byte,
// its data).
size_t vpd_end(const Bytes& b) {
    size_t at = 0;
    while (at < b.size() && b[at] != 0x78) {
        if (b.size() - at < 3) return 0;
        const size_t data = b[at] == 0x82                   ? size_t{b[at + 1]} | size_t{b[at + 2]} << 8
                            : b[at] == 0x90 || b[at] == 0x91 ? 0
                                                             : b[at + 2];
        if (b.size() - at - 3 < data) return 0;
        at += 3 + data;
    }
    return at < b.size() ? at + 1 : 0;
}

void vpd(uint8_t p0, uint8_t p1, const Served& s) {
    const uint32_t room = 256 + (p0 | p1 << 8) % 768;
    SD_UINT32 size = room;
    Guarded buf(room, kFill);
    const SD_UINT32 status = SDGetVpd(kFc, 0, buf.data(), &size);
    FUZZ_CHECK(buf.guard_intact());
    PROPERTY("vpd_size", size == room);
    if (status != SDERR_NO_ERROR) return;
    // The VPD came whole, the area or a shorter one that its end tag ends:
    // as much of it as the caller's buffer holds, zeros behind it, and the
    // caller's bytes past the area stay.
    const Bytes came = s.came_bytes();
    PROPERTY("vpd_whole", came.size() <= kVpdArea && (came.size() == kVpdArea || vpd_end(came) != 0) &&
                              block_came(buf.data(), std::min(room, kVpdArea), came) &&
                              (room <= kVpdArea || block_came(buf.data() + kVpdArea, room - kVpdArea, {}) ||
                               all_of(buf.data() + kVpdArea, room - kVpdArea, kFill)));
}

// NVRAM and SFP: a block of the caller's size (at least that of SFP's
// pages); no more of NVRAM than its image.
void block(uint8_t p0, uint8_t p1, const Served& s, bool sfp) {
    const uint32_t room = sfp ? 512 + p0 % 64 : 1 + (p0 | p1 << 8) % 600;
    Guarded buf(room, kFill);
    const SD_UINT32 status =
        sfp ? SDGetSFPData(kFc, 0, buf.data(), room) : SDGetNVRam(kFc, 0, 0, buf.data(), room);
    FUZZ_CHECK(buf.guard_intact());
    if (status != SDERR_NO_ERROR) return;
    const size_t need = sfp ? 512 : std::min<uint32_t>(room, kNvramImage);  // no more than the image
    const Bytes came = s.came_bytes();
    PROPERTY(sfp ? "sfp_came" : "nvram_came",
             came.size() >= need && std::equal(buf.data(), buf.data() + need, came.begin()));
}

void dcbx(uint8_t p0, uint8_t p1, const Served& s) {
    const uint32_t room = 64 + (p0 | p1 << 8) % 4200;
    SD_UINT32 size = room;
    Guarded buf(room, kFill);
    const SD_UINT32 status = SDGetCnaPortData(kCna, 0, SD_CNA_GET_DCBX_PARAMS, buf.data(), &size);
    FUZZ_CHECK(buf.guard_intact());
    if (status != SDERR_NO_ERROR) {
        PROPERTY("dcbx_untouched", buf.untouched() && (size == room || status == SDERR_BUFFER_TOO_SMALL));
        return;
    }
    const Bytes came = s.came_bytes();
    PROPERTY("dcbx_came",
             size <= room && size <= came.size() && std::equal(buf.data(), buf.data() + size, came.begin()));
}

void mac_statistics(uint8_t p0, uint8_t, const Served& s) {
    const uint32_t room = kMacStatsBytes + p0 % 64;
    Guarded data(room, kFill);
    SD_TARNO_MGT p{};
    p.sp.TarnoManageInfo.TotalByteCount = room;
    p.sp.TarnoManageInfo.pDataBytes = data.data();
    const SD_UINT32 status = SDTarnoMgt(kCna, kTarnoManage, &p);
    FUZZ_CHECK(data.guard_intact());
    if (status != SDERR_NO_ERROR) return;
    // The block is what the first read from its start gave, zeros behind it;
    // the caller's bytes past the block stay.
    const std::string block = s.first.value_or("");
    const Bytes first(block.begin(), block.end());
    PROPERTY("mac_stats_came", !first.empty() && block_came(data.data(), kMacStatsBytes, first) &&
                                   all_of(data.data() + kMacStatsBytes, room - kMacStatsBytes, kFill));
}

// The converged port's identity; which: 0 VLAN, 1 fabric parameters, 2 MAC.
void cna_identity(const Served& s, int which) {
    SD_UINT32 size = sizeof(CNAPORTPROPERTY);
    Guarded buf(size, kFill);
    const SD_UINT32 status = SDGetCnaPortData(kCna, 0, SD_CNA_GET_PORT_ID, buf.data(), &size);
    const CNAPORTPROPERTY& c = *buf.as<CNAPORTPROPERTY>();
    if (!to_check(buf, status, s, "cna_untouched")) return;
    const std::optional<std::string> came = s.came();
    if (which == 0) {
        const std::optional<uint64_t> n = came ? number(*came, 10, 0xFFFF) : std::nullopt;
        PROPERTY("cna_vlan", n.has_value() && c.VLanId == *n);
    } else if (which == 1) {
        const std::optional<uint64_t> n = came ? number(*came, 10, 0xFFFF) : std::nullopt;
        PROPERTY("cna_fabric", n.has_value() && c.FabricParam == ((*n & kFabricParamValid) != 0
                                                                      ? uint16_t{kFill << 8 | kFill}
                                                                      : kFabricParamDefault));
    } else {
        // "%hhx:%hhx:%hhx:%hhx:%hhx:%hhx", kept last byte first.
        bool ok = came.has_value();
        Scan t(came.value_or(""));
        for (int i = 0; i < 6 && ok; ++i) {
            const std::optional<uint64_t> v = i == 0 || t.literal(':') ? t.number(16, 0xFF) : std::nullopt;
            ok = v.has_value() && c.VNPortMACAddress[5 - i] == *v;
        }
        PROPERTY("cna_mac", ok);
    }
}

void driver_property(const Served& s, bool version) {
    Guarded buf(sizeof(DRIVERPROPERTY), kFill);
    const SD_UINT32 status = SDGetHbaDeviceDriverProperty(kFc, buf.as<DRIVERPROPERTY>());
    const DRIVERPROPERTY& d = *buf.as<DRIVERPROPERTY>();
    // The version is a text of any length: only a read that failed fails
    // the call.
    if (version) PROPERTY("driver_version", status == SDERR_NO_ERROR || s.failed_once);
    if (!to_check(buf, status, s, "driver_untouched")) return;
    const std::optional<std::string> came = s.came();
    if (!version) {
        const std::optional<uint64_t> n = came ? number(*came, 10, UINT32_MAX) : std::nullopt;
        PROPERTY("driver_segments", n.has_value() && d.MaximumDataSegments == *n);
        return;
    }
    // The text without its newlines, as much of it as the field holds
    // before its terminator.
    std::string t = came ? c_text(*came) : std::string();
    while (!t.empty() && t.back() == '\n') t.pop_back();
    const auto* v = reinterpret_cast<const char*>(d.Version);
    PROPERTY("driver_version", came.has_value() && strnlen(v, sizeof d.Version) < sizeof d.Version &&
                                   t.substr(0, sizeof d.Version - 1) == v);
}

// The firmware's version as "%hhd.%02hhd.%02hhd" reads it, without a sign:
// three numbers of a byte each, at most two digits in the second and third.
bool fw_version_is(const std::string& text, const uint8_t* version) {
    Scan t(text);
    for (int i = 0; i < 3; ++i) {
        const std::optional<uint64_t> v = i == 0 || t.literal('.') ? t.number(10, 0xFF, i > 0 ? 2 : 0) : std::nullopt;
        if (!v || version[i] != *v) return false;
    }
    return true;
}

void firmware_property(uint8_t, uint8_t, const Served& s) {
    Guarded buf(sizeof(FIRMWAREPROPERTY), kFill);
    const SD_UINT32 status = SDGetHbaDeviceFirmwareProperty(kFc, buf.as<FIRMWAREPROPERTY>());
    if (!to_check(buf, status, s, "fw_untouched")) return;
    PROPERTY("fw_version", s.came() && fw_version_is(*s.came(), buf.as<FIRMWAREPROPERTY>()->Version));
}

// A remote port's SCSI target id as "%hd" reads it: a number of 16 bits, or
// -1 (no SCSI target: 0xFFFF); no other negative number.
std::optional<uint64_t> target_id(const std::string& text) {
    Scan t(text);
    t.skip_space();
    const bool minus = t.literal('-');
    if (minus && (t.at == t.t.size() || digit(t.t[t.at], 10) < 0)) return std::nullopt;
    const std::optional<uint64_t> n = t.number(10, 0xFFFF);
    return !minus ? n : n == 1 ? std::optional<uint64_t>(0xFFFF) : std::nullopt;
}

// The remote port by its number 0; field: 0 node name, 1 port name, 2 port
// identifier, 3 target id.
void disc_port(const Served& s, int field) {
    Guarded buf(sizeof(DISCPORTPROPERTY), kFill);
    const SD_UINT32 status = SDGetDiscPortProperty(kFc, 0, 0, 0, buf.as<DISCPORTPROPERTY>());
    FUZZ_CHECK(buf.guard_intact());
    if (status != SDERR_NO_ERROR) {
        // Overrun and underrun may fill the caller's record.
        PROPERTY("disc_untouched",
                 buf.untouched() || status == SDERR_DATA_OVERRUN || status == SDERR_DATA_UNDERRUN);
        return;
    }
    const DISCPORTPROPERTY& d = *buf.as<DISCPORTPROPERTY>();
    // A file the driver does not have: zeros, no SCSI target.
    const std::optional<std::string> came = s.absent() ? std::optional<std::string>("") : s.came();
    if (field == 3) {
        const std::optional<uint64_t> target = s.absent() ? 0xFFFF : came ? target_id(*came) : std::nullopt;
        PROPERTY("disc_target", d.TargetID == target);
        return;
    }
    const size_t n = field == 2 ? 3 : 8;
    const std::optional<Bytes> name = s.absent() ? Bytes(n, 0) : came ? name_bytes(*came, n) : std::nullopt;
    const uint8_t* at = field == 0 ? d.NodeWWN : field == 1 ? d.PortWWN : d.PortID;
    PROPERTY("disc_names", name.has_value() && std::equal(at, at + n, name->begin()));
}

// The attribute modes, first the attribute each serves.
const std::vector<AttrCase>& attr_cases() {
    static const std::vector<AttrCase> table = {
        {kFcScsi, "thermal_temp", "45.50\n", false, temperature},
        {kFcDevice, "read_serdes", str(pattern(64, 3)), true, serdes},
        {kFcScsi, "fw_dump_size", std::to_string(kDumpBytes) + "\n", false,
         [](uint8_t p0, uint8_t, const Served& s) { dump(p0, s, [] { return pattern(kDumpBytes, 4); }); }},
        {kFcDevice, "fw_dump", str(pattern(kDumpBytes, 4)), true,
         [](uint8_t p0, uint8_t, const Served& s) {
             Served size;
             size.text = std::to_string(kDumpBytes), size.read = true, size.reach = size.text.size();
             dump(p0, size, [&s] { return s.came_bytes(); });
         }},
        {kTarnoScsi, "84xx_fw_version", "12345\n", false, tarno_version},
        {kFcScsi, "diag_requests", "1234\n", false,
         [](uint8_t, uint8_t, const Served& s) { statistic(s, &STATISTICS::IOCount, 10); }},
        {kFcScsi, "diag_megabytes", "56\n", false,
         [](uint8_t, uint8_t, const Served& s) { statistic(s, &STATISTICS::MegabyteCount, 10); }},
        {kFcFc, "statistics/link_failure_count", "0x0\n", false,
         [](uint8_t, uint8_t, const Served& s) { statistic(s, &STATISTICS::LinkFailureCount, 16); }},
        {kFcFc, "statistics/lip_count", "0x0\n", false,
         [](uint8_t, uint8_t, const Served& s) { statistic(s, &STATISTICS::LipResetCount, 16); }},
        {kFcScsi, "beacon", "Disabled\n", false, beacon},
        {kFcDevice, "vpd", "", true, vpd},  // the adapter's VPD (Rig::vpd)
        {kFcDevice, "nvram", str(pattern(512, 1)), true,
         [](uint8_t p0, uint8_t p1, const Served& s) { block(p0, p1, s, false); }},
        {kFcDevice, "sfp", str(pattern(512, 2)), true,
         [](uint8_t p0, uint8_t p1, const Served& s) { block(p0, p1, s, true); }},
        {kCnaDevice, "dcbx_tlv", str(pattern(kPage, 5)), true, dcbx},
        {kCnaDevice, "xgmac_stats", str(pattern(kMacStatsBytes, 6)), true, mac_statistics},
        {kCnaScsi, "vlan_id", "0\n", false, [](uint8_t, uint8_t, const Served& s) { cna_identity(s, 0); }},
        {kCnaScsi, "fabric_param", "0\n", false, [](uint8_t, uint8_t, const Served& s) { cna_identity(s, 1); }},
        {kCnaScsi, "vn_port_mac_address", "00:0e:1e:01:02:03\n", false,
         [](uint8_t, uint8_t, const Served& s) { cna_identity(s, 2); }},
        {kFcScsi, "sg_tablesize", "128\n", false,
         [](uint8_t, uint8_t, const Served& s) { driver_property(s, false); }},
        {kFcScsi, "driver_version", "10.02.00.100-k\n", false,
         [](uint8_t, uint8_t, const Served& s) { driver_property(s, true); }},
        {kFcScsi, "fw_version", "8.07.00 (d0d5)\n", false, firmware_property},
        {kRport, "node_name", "0x2000001b32a00001\n", false,
         [](uint8_t, uint8_t, const Served& s) { disc_port(s, 0); }},
        {kRport, "port_name", "0x2100001b32a00001\n", false,
         [](uint8_t, uint8_t, const Served& s) { disc_port(s, 1); }},
        {kRport, "port_id", "0x010200\n", false, [](uint8_t, uint8_t, const Served& s) { disc_port(s, 2); }},
        {kRport, "scsi_target_id", "0\n", false, [](uint8_t, uint8_t, const Served& s) { disc_port(s, 3); }},
        {kFcScsi, "total_isp_aborts", "0\n", false,
         [](uint8_t, uint8_t, const Served& s) { statistic(s, &STATISTICS::ControllerErrorCount, kAsPrinted); }},
        {kFcPci, "irq", "35\n", false, chip_irq},
    };
    return table;
}

std::string printable(const std::string& s) {
    std::string out;
    for (const char c : s) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(c));
        out += c >= 0x20 && c < 0x7F && c != '\\' ? std::string(1, c) : std::string(hex);
    }
    return out;
}

void attribute(const AttrCase& c, Reader& in) {
    Rig& r = rig();
    Served served;
    const uint8_t fault = in.byte() % 6, piece = in.byte();
    const uint8_t p0 = in.byte(), p1 = in.byte();
    served.fault = fault;
    if (fault == kPieces || fault == kFailFirstPieces) served.piece = 1 + piece % 16;
    served.text = str(in.rest()).substr(0, kTextMax);
    g_input = std::string(c.name) + " fault " + std::to_string(fault) + " piece " + std::to_string(served.piece) +
              " params " + std::to_string(p0) + "," + std::to_string(p1) + " text[" +
              std::to_string(served.text.size()) + "] \"" + printable(served.text.substr(0, 40)) + "\"";
    const std::string path = r.paths[c.dir] + c.name;
    const std::string plain = c.plain.empty() ? r.vpd : c.plain;
    r.serve(path, served);
    c.run(p0, p1, served);
    r.restore(path, plain, c.binary);
}

// ---- texts as working drivers print them ----

std::string printed(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string printed(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

std::string hex(const Bytes& b) {
    std::string out;
    for (const uint8_t x : b) out += printed("%02x", x);
    return out;
}

Bytes bytes(Reader& in, size_t n) {
    Bytes out(n);
    for (uint8_t& b : out) b = in.byte();
    return out;
}

uint16_t word(Reader& in) {
    const uint8_t low = in.byte();
    return static_cast<uint16_t>(low | in.byte() << 8);
}

// What the attribute shows before an input: its attribute case's text, else
// the host's default.
std::string plain_of(Dir dir, const std::string& name) {
    for (const AttrCase& c : attr_cases()) {
        if (c.dir == dir && name == c.name) return c.plain;
    }
    return *(dir == kFcFc ? sim::sysfs_fc_host_defaults(kFcHost) : sim::sysfs_scsi_host_defaults(kFcHost, 0)).at(name);
}

// The attributes one input serves (and the input's reading), put back as
// they were after it.
class Texts {
public:
    Texts() = default;
    Texts(const Texts&) = delete;
    Texts& operator=(const Texts&) = delete;
    ~Texts() {
        for (const auto& [dir, name] : names_) rig().restore(rig().paths[dir] + name, plain_of(dir, name), false);
    }
    // The attribute shows text (nullopt: absent), its reads answering as fault says.
    void serve(Dir dir, const char* name, const std::optional<std::string>& text, uint8_t fault = kPlain) {
        Served& s = served_.emplace_back();
        s.text = text.value_or("");
        s.fault = text ? fault : uint8_t{kAbsent};
        names_.emplace_back(dir, name);
        g_input += std::string(" ") + name + (text ? "=\"" + printable(*text) + "\"" : " absent");
        rig().serve(rig().paths[dir] + name, s);
    }

private:
    std::deque<Served> served_;  // their reads refer to them
    std::vector<std::pair<Dir, std::string>> names_;
};

vxapi_priv_database* fc_record() {
    for (vxapi_priv_database* rec : sim::listed_ports()) {
        if (rec->host_no == kFcHost) return rec;
    }
    FUZZ_CHECK(false);
    return nullptr;
}

// "a.b.c" ("%u.%02u.%02u") with a build tag of 0 to 100 characters, as
// fw_version and as driver_version, and the flash firmware's version
// "%u.%02u.%02u %d" with its image's 32-bit attribute word as a signed
// decimal (negative when its top bit is set), as
// optrom_fw_version; look: bit 0 a blank before the first two, bit 1 a
// newline behind each, bit 2 the features the 0x2532 lacks (MPI, PEP and PHY
// versions, VLAN, converged MAC address) as empty lines. The firmware's
// version is the numbers; the driver's is the text's first 31 characters
// (node and driver alike); the boot firmware's is its three numbers and the
// word's low 8 bits, valid.
void healthy_version(Reader& in) {
    const uint8_t look = in.byte(), a = in.byte();
    const auto b = static_cast<uint8_t>(in.byte() % 100), c = static_cast<uint8_t>(in.byte() % 100);
    std::string tag(in.byte() % 101, ' ');
    for (char& ch : tag) ch = static_cast<char>(' ' + in.byte() % 95);
    const Bytes boot = bytes(in, 3);
    uint32_t attributes = 0;
    for (int i = 0; i < 4; ++i) attributes |= uint32_t{in.byte()} << (8 * i);
    const std::string version = ((look & 1) != 0 ? " " : "") + printed("%u.%02u.%02u", a, b, c) + tag;
    const std::string newline = (look & 2) != 0 ? "\n" : "";
    Texts texts;
    texts.serve(kFcScsi, "fw_version", version + newline);
    texts.serve(kFcScsi, "driver_version", version + newline);
    texts.serve(kFcScsi, "optrom_fw_version",
                printed("%u.%02u.%02u %d", boot[0], boot[1], boot[2], static_cast<int32_t>(attributes)) + newline);
    if ((look & 4) != 0) {
        for (const char* lacked : {"mpi_version", "pep_version", "phy_version", "vlan_id", "vn_port_mac_address"}) {
            texts.serve(kFcScsi, lacked, "\n");
        }
    }
    Guarded fw(sizeof(FIRMWAREPROPERTY), kFill);
    const uint8_t numbers[3] = {a, b, c};
    PROPERTY("healthy_version", SDGetHbaDeviceFirmwareProperty(kFc, fw.as<FIRMWAREPROPERTY>()) == SDERR_NO_ERROR &&
                                    std::equal(numbers, numbers + 3, fw.as<FIRMWAREPROPERTY>()->Version));
    const std::string kept = version.substr(0, 31);
    const auto text = [](const auto& field) {
        const auto* t = reinterpret_cast<const char*>(field);
        return std::string(t, strnlen(t, sizeof field));
    };
    Guarded driver(sizeof(DRIVERPROPERTY), kFill);
    SD_UINT32 status = SDGetHbaDeviceDriverProperty(kFc, driver.as<DRIVERPROPERTY>());
    PROPERTY("healthy_version", status == SDERR_NO_ERROR && text(driver.as<DRIVERPROPERTY>()->Version) == kept);
    Guarded buf(sizeof(DEVICENODEPROPERTY), kFill);
    status = SDGetHbaDeviceNodeProperty(kFc, buf.as<DEVICENODEPROPERTY>());
    const DEVICENODEPROPERTY& node = *buf.as<DEVICENODEPROPERTY>();
    PROPERTY("healthy_version", status == SDERR_NO_ERROR && text(node.DriverVersion) == kept);
    if (status != SDERR_NO_ERROR) return;
    const uint8_t flash_fw[4] = {boot[0], boot[1], boot[2], static_cast<uint8_t>(attributes & 0xFF)};
    PROPERTY("healthy_boot_version", (node.BIValid & SD_BIVALID_FW) != 0 &&
                                         std::equal(flash_fw, flash_fw + 4, node.BIFwVersion));
}

// The port's fw_state, five or six words "0x%x" (look: bit 0 six, bit 1 a
// newline behind: word 6 is 0 without a sixth), and (bit 2) its port_name
// "0x%016x", whose first read fails at load (discovery's reader of the
// port's names is run again for it) and which then reads: the call reports
// the name.
void healthy_port(Reader& in) {
    const uint8_t look = in.byte();
    uint16_t words[6];
    for (uint16_t& w : words) w = word(in);
    const Bytes wwpn = bytes(in, 8);
    std::string state = printed("0x%x 0x%x 0x%x 0x%x 0x%x", words[0], words[1], words[2], words[3], words[4]);
    if ((look & 1) != 0) state += printed(" 0x%x", words[5]);
    Texts texts;
    texts.serve(kFcScsi, "fw_state", state + ((look & 2) != 0 ? "\n" : ""));
    vxapi_priv_database* rec = fc_record();
    const vxapi_priv_database before = *rec;
    Bytes name(rec->wwpn, rec->wwpn + 8);
    if ((look & 4) != 0) {
        name = wwpn;
        texts.serve(kFcFc, "port_name", "0x" + hex(wwpn) + "\n", kFailFirst);
        vxsysfs_get_device_attributes(nullptr, rec);
        FUZZ_CHECK((rec->port_flags & VX_PORT_FLAG_NAMES_UNKNOWN) != 0);
    }
    Guarded buf(sizeof(DEVICEPORTPROPERTY), kFill);
    const SD_UINT32 status = SDGetHbaDevicePortProperty(kFc, 0, buf.as<DEVICEPORTPROPERTY>());
    std::memcpy(rec->wwnn, before.wwnn, sizeof rec->wwnn);
    std::memcpy(rec->wwpn, before.wwpn, sizeof rec->wwpn);
    std::memcpy(rec->port_id, before.port_id, sizeof rec->port_id);
    rec->port_flags = before.port_flags;
    const DEVICEPORTPROPERTY& p = *buf.as<DEVICEPORTPROPERTY>();
    PROPERTY("healthy_fw_state", status == SDERR_NO_ERROR && p.LinkState1 == words[0] && p.LinkState2 == words[1] &&
                                     p.LinkState3 == words[2] && p.LinkState6 == ((look & 1) != 0 ? words[5] : 0));
    PROPERTY("healthy_port_name", status == SDERR_NO_ERROR && std::equal(name.begin(), name.end(), p.WWN));
}

// The remote port's names and port_id "0x%x" (look bit 2: without "0x") with
// a blank or a newline behind (bits 0-1); its port_id absent (bit 3: 0), its
// scsi_target_id (bits 4-5) a number, "-1" or absent (both 0xFFFF).
void healthy_names(Reader& in) {
    const uint8_t look = in.byte();
    const Bytes node = bytes(in, 8), port = bytes(in, 8);
    Bytes id = bytes(in, 3);
    const uint16_t target = word(in);
    static const char* const behind[] = {" ", "\n", " \n", "\t\n"};
    const auto name = [look](const Bytes& b) { return ((look & 4) != 0 ? "" : "0x") + hex(b) + behind[look & 3]; };
    Texts texts;
    texts.serve(kRport, "node_name", name(node));
    texts.serve(kRport, "port_name", name(port));
    texts.serve(kRport, "port_id", (look & 8) != 0 ? std::nullopt : std::optional<std::string>(name(id)));
    if ((look & 8) != 0) id.assign(3, 0);
    const int bound = look >> 4 & 3;
    texts.serve(kRport, "scsi_target_id", bound == 1   ? std::optional<std::string>("-1\n")
                                          : bound == 2 ? std::nullopt
                                                       : std::optional<std::string>(std::to_string(target) + "\n"));
    Guarded buf(sizeof(DISCPORTPROPERTY), kFill);
    const SD_UINT32 status = SDGetDiscPortProperty(kFc, 0, 0, 0, buf.as<DISCPORTPROPERTY>());
    const DISCPORTPROPERTY& d = *buf.as<DISCPORTPROPERTY>();
    PROPERTY("healthy_names", status == SDERR_NO_ERROR && std::equal(node.begin(), node.end(), d.NodeWWN) &&
                                  std::equal(port.begin(), port.end(), d.PortWWN) &&
                                  std::equal(id.begin(), id.end(), d.PortID) &&
                                  d.TargetID == (bound == 1 || bound == 2 ? 0xFFFF : target));
}

// The converged port's MAC address "%02x:..." (look bit 2: upper case) with
// blanks around: 0 to 3 before it (bits 0-1), one behind (bit 3).
void healthy_mac(Reader& in) {
    const uint8_t look = in.byte();
    const Bytes mac = bytes(in, 6);
    std::string text(look & 3, ' ');
    for (size_t i = 0; i < mac.size(); ++i) {
        text += (i > 0 ? ":" : "") + printed((look & 4) != 0 ? "%02X" : "%02x", mac[i]);
    }
    Texts texts;
    texts.serve(kCnaScsi, "vn_port_mac_address", text + ((look & 8) != 0 ? " \n" : "\n"));
    SD_UINT32 size = sizeof(CNAPORTPROPERTY);
    Guarded buf(size, kFill);
    const SD_UINT32 status = SDGetCnaPortData(kCna, 0, SD_CNA_GET_PORT_ID, buf.data(), &size);
    PROPERTY("healthy_mac", status == SDERR_NO_ERROR &&
                                std::equal(mac.rbegin(), mac.rend(), buf.as<CNAPORTPROPERTY>()->VNPortMACAddress));
}

// The board temperature with a unit (look bits 0-1: "45 C", "45.5 C",
// "45.50 degrees C", "45.125"), a blank before (bit 2), a newline behind
// (bit 3): the degrees, and the one or two digits behind the point.
void healthy_temp(Reader& in) {
    const uint8_t look = in.byte();
    const unsigned whole = word(in), f = in.byte();
    std::string text = (look & 4) != 0 ? " " : "";
    unsigned frac = 0;
    switch (look & 3) {
    case 0: text += printed("%u C", whole); break;
    case 1: text += printed("%u.%u C", whole, frac = f % 10); break;
    case 2: text += printed("%u.%02u degrees C", whole, frac = f % 100); break;
    default: text += printed("%u.%03u", whole, f * 3), frac = f * 3 / 10; break;
    }
    Texts texts;
    texts.serve(kFcScsi, "thermal_temp", text + ((look & 8) != 0 ? "\n" : ""));
    Guarded buf(sizeof(BOARD_TEMP), kFill);
    const SD_UINT32 status = SDGetBoardTemp(kFc, 0, buf.as<BOARD_TEMP>(), sizeof(BOARD_TEMP));
    PROPERTY("healthy_temp", status == SDERR_NO_ERROR && buf.as<BOARD_TEMP>()->IntTemp == whole &&
                                 buf.as<BOARD_TEMP>()->FracTemp == frac);
}

// The healthy modes: the input chooses the numbers and the decoration.
const std::vector<std::pair<const char*, void (*)(Reader&)>> kHealthy = {
    {"version", healthy_version}, {"port", healthy_port}, {"names", healthy_names},
    {"mac", healthy_mac},         {"temp", healthy_temp},
};

// ---- the flash window ----

enum FlashCall : uint8_t { kReadRegion, kReadRaw, kUpdateEx, kUpdateEx2, kUpdateRaw };

constexpr uint32_t kWholeFlash = 0x200000;  // the 0x2532's flash
constexpr uint8_t kWholeRegion = 0xFF;

uint32_t three_bytes(Reader& in) {
    uint32_t v = in.byte();
    v |= uint32_t{in.byte()} << 8;
    return v | uint32_t{in.byte()} << 16;
}

// The window's faults as the input gives them, and the input's reading.
void window_faults(Reader& in, FlashCall what, uint8_t flags) {
    sim::FlashWindow& w = *rig().window;
    for (const char word : {'0', '1', '2', '3'}) {
        const uint8_t f = in.byte();
        std::deque<int>& errs = w.errnos[word];
        errs.assign(f >> 5 & 3, 0);  // the words taken before the failing ones
        for (int i = 0; i < (f & 3); ++i) errs.push_back((f >> (2 + i) & 1) != 0 ? EBUSY : EIO);
    }
    const uint32_t limit = three_bytes(in);
    if (limit != 0) w.limit = limit;
    const size_t piece = in.byte() | in.byte() << 8;
    if (piece != 0) w.piece = std::max<size_t>(piece, 256);
    std::string words;
    for (const auto& [word, errs] : w.errnos) {
        for (const int e : errs) words += std::string(1, word) + (e == EBUSY ? "B" : e == EIO ? "E" : "+") + " ";
    }
    g_input = "flash call " + std::to_string(what) + " flags " + std::to_string(flags) + " faults [" + words +
              "] limit " + std::to_string(limit) + " piece " + std::to_string(w.piece);
}

struct Span {
    uint8_t code = kWholeRegion;
    uint32_t start = 0, size = kWholeFlash;
};

// A region of the layout the port reports (its places as the library keeps
// them), or the whole flash; a raw span within the flash. The layout stays
// loaded with flag bit 0 only: a raw call loads none.
Span span_of(FlashCall what, uint8_t flags, uint8_t index, uint32_t offset, uint32_t length) {
    INT_OPT_ROM_LAYOUT layout{};
    if (SDGetOptionRomLayout(kFc, 0, nullptr) == SDERR_NO_ERROR && pGlobalOptRomLayout != nullptr) {
        layout = *pGlobalOptRomLayout;
    }
    if ((flags & 1) == 0) pGlobalOptRomLayout = nullptr;
    const uint32_t regions = std::min<uint32_t>(layout.NoOfRegions, VX_LAYOUT_MAX_REGIONS);
    Span s;
    if (index % (regions + 1) < regions) {
        const INT_OPT_ROM_REGION& region = layout.Region[index % (regions + 1)];
        s = {static_cast<uint8_t>(region.Region), region.Beg, region.Size};
    }
    if (s.size == 0 || s.start >= kWholeFlash) s = Span{};
    s.size = std::min(s.size, kWholeFlash - s.start);
    if (what == kReadRaw || what == kUpdateRaw) {
        s.start = offset % kWholeFlash;
        s.size = 1 + length % std::min<uint32_t>(kWholeFlash - s.start, 0x20000);
    } else if ((flags & 2) != 0 && s.size > 1) {
        s.size -= 1 + length % (s.size - 1);  // a buffer below the region
    }
    return s;
}

// An update that succeeded: the flash holds what the call wrote, the
// caller's buffer as it left it (a boot region carries the board's settings
// in), and nothing else changed but, on the 0x2532, the second copy of its
// boot code within 512 KiB of the boot region's start.
void check_update(FlashCall what, const Span& s, const uint8_t* written, const std::vector<uint8_t>& before,
                  const std::vector<uint8_t>& after) {
    uint32_t span = s.size;
    if (what == kUpdateEx && (s.code == kWholeRegion || s.code == 0x07)) span = std::max<uint32_t>(s.size, 0x80000);
    span = std::min(span, kWholeFlash - s.start);
    PROPERTY("flash_written", std::equal(written, written + s.size, after.begin() + s.start));
    const auto end = static_cast<std::ptrdiff_t>(s.start + span);
    PROPERTY("flash_rest", std::equal(before.begin(), before.begin() + s.start, after.begin()) &&
                               std::equal(before.begin() + end, before.end(), after.begin() + end));
}

void flash(FlashCall what, Reader& in) {
    Rig& r = rig();
    r.reset_flash();
    const uint8_t flags = in.byte(), index = in.byte();
    const uint32_t offset = three_bytes(in), length = three_bytes(in);
    window_faults(in, what, flags);
    const Span s = span_of(what, flags, index, offset, length);
    const bool reading = what == kReadRegion || what == kReadRaw;
    Guarded buf = reading ? Guarded(s.size, kFill) : Guarded(pattern(s.size, static_cast<uint8_t>(flags | 1)));
    const std::vector<uint8_t> before = *r.window->flash;
    SD_UINT32 status = 0;
    const SD_UINT16 disable = (flags & 4) != 0 ? 1 : 0;
    switch (what) {
    case kReadRegion: status = SDGetOptionRomEx(kFc, 0, buf.data(), s.size, s.code); break;
    case kReadRaw: status = SDGetOptionRomOffset(kFc, 0, buf.data(), s.size, s.start); break;
    case kUpdateEx: status = SDUpdateOptionRomEx(kFc, disable, buf.data(), s.size, s.code); break;
    case kUpdateEx2: status = SDUpdateOptionRomEx2(kFc, disable, buf.data(), s.size, s.code); break;
    case kUpdateRaw: status = SDUpdateOptionRomOffset(kFc, 0, buf.data(), s.size, s.start); break;
    }
    FUZZ_CHECK(buf.guard_intact());
    const std::vector<uint8_t>& after = *r.window->flash;
    if (reading) {
        PROPERTY("flash_unchanged", after == before);
        if (status == SDERR_NO_ERROR) {
            PROPERTY("flash_read", std::equal(buf.data(), buf.data() + s.size, before.begin() + s.start));
        }
    } else if (status == SDERR_NO_ERROR) {
        check_update(what, s, buf.data(), before, after);
    }
}

// The modes: the attributes, the flash calls, then the healthy texts.
constexpr size_t kFlashModes = 5;

size_t mode_count() { return attr_cases().size() + kFlashModes + kHealthy.size(); }

void run(uint8_t mode, Reader& in) {
    const size_t m = mode % mode_count();
    if (m < attr_cases().size()) {
        attribute(attr_cases()[m], in);
    } else if (m < attr_cases().size() + kFlashModes) {
        flash(static_cast<FlashCall>(m - attr_cases().size()), in);
    } else {
        const auto& [name, healthy] = kHealthy[m - attr_cases().size() - kFlashModes];
        g_input = std::string("healthy ") + name + ":";
        healthy(in);
    }
}

Bytes attr_input(size_t mode, uint8_t fault, uint8_t piece, const Bytes& params, const std::string& text) {
    Bytes out{static_cast<uint8_t>(mode), fault, piece};
    for (size_t i = 0; i < 2; ++i) out.push_back(i < params.size() ? params[i] : 0);
    append(out, Bytes(text.begin(), text.end()));
    return out;
}

}  // namespace

std::vector<fuzz::Bytes> fuzz::seeds() {
    std::vector<Bytes> out;
    const std::vector<AttrCase>& cases = attr_cases();
    for (size_t mode = 0; mode < cases.size(); ++mode) {
        const AttrCase& c = cases[mode];
        const std::string plain = c.plain.empty() ? str(sim::typical_vpd().bytes) : c.plain;
        // Plain, then each fault; empty, short, long, no number, past 32 bits.
        for (uint8_t fault = kPlain; fault <= kFailFirstPieces; ++fault) {
            out.push_back(attr_input(mode, fault, 2, {0x80, 0x01}, plain));
        }
        // A VPD that ends at its end tag; a blank and words behind the fields.
        const std::string ended = plain.substr(0, vpd_end(Bytes(plain.begin(), plain.end())));
        for (const std::string& text : {std::string(), plain.substr(0, 3), plain + plain, std::string("zz\n"),
                                        std::string("4294967312\n"), std::string("70000.00\n"), ended,
                                        std::string("-1\n"), " " + plain.substr(0, plain.find('\n')) + " more 07\n",
                                        // a sign apart from its digit; a "0x" that a 32-byte read cuts behind
                                        std::string("- 1\n"), std::string(29, ' ') + "0x1f\n",
                                        "00:00:00:00:00:" + std::string(14, ' ') + "0x12\n"}) {
            out.push_back(attr_input(mode, kPlain, 0, {0x80, 0x01}, text));
        }
    }
    // The flash calls: plain, with the layout loaded first, each control word
    // failing with EIO or busy three times, a read stopping short, small pieces.
    for (size_t call = 0; call < kFlashModes; ++call) {
        const auto mode = static_cast<uint8_t>(cases.size() + call);
        const Bytes params{1, 2, 0x05, 0x00, 0x01, 0x00, 0x01, 0x00};
        Bytes plain{mode};
        append(plain, params);
        out.push_back(plain);
        for (size_t word = 0; word < 4; ++word) {
            // Once with EIO, busy three times, the second such word with EIO.
            for (const uint8_t f : {uint8_t{1}, uint8_t{0x1F}, uint8_t{0x21}}) {
                Bytes b = plain;
                Bytes faults(4, 0);
                faults[word] = f;
                append(b, faults);
                out.push_back(b);
            }
        }
        Bytes shortened = plain;
        append(shortened, {0, 0, 0, 0, 0x00, 0x10, 0x00});
        out.push_back(shortened);
        Bytes pieces = plain;
        append(pieces, {0, 0, 0, 0, 0, 0, 0, 0x00, 0x03});
        out.push_back(pieces);
    }
    // The healthy texts: zeros, then the decorations over a pattern; a long
    // build tag.
    for (size_t h = 0; h < kHealthy.size(); ++h) {
        const auto mode = static_cast<uint8_t>(cases.size() + kFlashModes + h);
        for (const uint8_t look : {0x00, 0x05, 0x1A, 0x2F, 0x3C}) {
            Bytes b{mode, look};
            append(b, pattern(48, static_cast<uint8_t>(mode + look)));
            out.push_back(b);
        }
    }
    Bytes tag{static_cast<uint8_t>(cases.size() + kFlashModes), 3, 8, 7, 0, 100};
    append(tag, Bytes(100, 'k'));
    out.push_back(tag);
    // The flash firmware's version as drivers print it: "8.07.00 53461", and
    // an attribute word of all ones; the lacked features as empty lines.
    for (const Bytes& word : {Bytes{0xD5, 0xD0, 0, 0}, Bytes{0xFF, 0xFF, 0xFF, 0xFF}}) {
        Bytes boot{static_cast<uint8_t>(cases.size() + kFlashModes), 6, 10, 2, 9, 4, 'k', 'k', 'k', 'k', 8, 7, 0};
        append(boot, word);
        out.push_back(boot);
    }
    return out;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    rig().reset();
    Traced traced;
    Reader in(data, size);
    run(in.byte(), in);
    return 0;
}
