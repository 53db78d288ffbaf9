// The answers of a sysfs-mode driver without bsg to the public calls: its
// attribute files and its flash window, as the input makes them.
//
// Three adapters, each one port that sysfs discovery found: 0x2532 (handle
// 1, host 5: VPD, NVRAM, SFP, the dump and its size, statistics, beacon,
// board temperature, SerDes parameters, the driver's and firmware's
// properties, a remote port that is a target; its flash moves whole, the
// driver has no chunked access), 0x8001 (handle 2, host 6: the converged
// port's VLAN, fabric parameters and MAC address, DCBX, MAC statistics) and
// 0x8432 (handle 3, host 7: the controller's firmware version).
//
// Attribute modes. Input: the mode byte, a fault byte (modulo 6: 0 served
// plainly, 1 absent, 2 every read fails with EIO, 3 the first read fails,
// 4 read in pieces of 1 to 16 bytes (the next byte), 5 the first read fails
// and the rest come in pieces), the piece byte, two parameter bytes of the
// call, then the attribute's text or bytes (the rest; at most 4000 bytes).
// The properties: no byte behind a caller's buffer changes; a call that
// succeeds reports only what came: a number equals the number of the text
// that came (parsed here, within the field's width), a block equals the bytes
// that came and is as long as the call needs; a failure leaves what the header
// says it leaves.
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
// pieces it gives (2 bytes, 0: a page; at least 256). The properties: a read that succeeds returns
// the flash's bytes; an update that succeeds leaves the flash holding exactly
// what was written, and nothing else changed. Busy retries sleep on the
// simulated clock.
//
// A text attribute that is absent is left to the call (it may mean "the
// driver has no such value"), but for the statistics' counters, which then
// read 0.
//
// Each property has a name; VXSDM_FUZZ_HOLD="name,name..." holds those back
// (all are on by default; "*" holds back every named one); with
// VXSDM_FUZZ_REPORT set a broken property is printed with the input's
// reading ("broken <name>: ...") and the run goes on. The names: temp_value,
// temp_untouched, serdes_came, dump_size_number, dump_length, dump_bytes,
// tarno_value, tarno_untouched, stats_counter, stats_untouched,
// beacon_came, beacon_untouched, vpd_size, vpd_whole, nvram_came, sfp_came,
// dcbx_came, dcbx_untouched, mac_stats_came, cna_vlan, cna_fabric, cna_mac,
// cna_untouched, driver_segments, driver_version, driver_untouched,
// fw_version, fw_untouched, disc_names, disc_target, disc_untouched,
// flash_unchanged, flash_read, flash_written, flash_rest.
#include <algorithm>
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

bool space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string trimmed(const std::string& s) {
    size_t a = 0, b = s.size();
    while (a < b && space(s[a])) ++a;
    while (b > a && space(s[b - 1])) --b;
    return s.substr(a, b - a);
}

int digit(char c, int base) {
    if (c >= '0' && c <= '9') return c - '0';
    if (base == 16 && c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (base == 16 && c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// An unsigned number of the base and nothing else (white space around it, a
// hexadecimal one may carry "0x"), at most max; nullopt otherwise.
std::optional<uint64_t> number(const std::string& text, int base, uint64_t max) {
    std::string t = trimmed(c_text(text));
    if (base == 16 && t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) t.erase(0, 2);
    if (t.empty()) return std::nullopt;
    uint64_t v = 0;
    for (const char c : t) {
        const int d = digit(c, base);
        if (d < 0 || v > (max - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base)) return std::nullopt;
        v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    }
    return v;
}

// n bytes of a hexadecimal name ("0x" allowed, 1 to 2n digits: the low end
// of the field), in text order.
std::optional<Bytes> name_bytes(const std::string& text, size_t n) {
    std::string t = trimmed(c_text(text));
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) t.erase(0, 2);
    if (t.empty() || t.size() > 2 * n) return std::nullopt;
    t.insert(0, 2 * n - t.size(), '0');
    Bytes out(n);
    for (size_t i = 0; i < n; ++i) {
        const int hi = digit(t[2 * i], 16), lo = digit(t[2 * i + 1], 16);
        if (hi < 0 || lo < 0) return std::nullopt;
        out[i] = static_cast<uint8_t>(hi << 4 | lo);
    }
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

    int answer(size_t pos, std::string& out) {
        if (fault == kFailAll || ((fault == kFailFirst || fault == kFailFirstPieces) && !failed_once)) {
            failed_once = true;
            return EIO;
        }
        out = pos < text.size() ? text.substr(pos, piece) : std::string();
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
        // The files the sysfs defaults leave out.
        const auto text = [&](const std::string& path, const std::string& value, bool writable = false) {
            h.set_attr(path, sim::text_attr(value, writable), writable ? 0644 : 0444);
        };
        text(fc_scsi + "thermal_temp", "45.50");
        text(fc_scsi + "fw_dump_size", std::to_string(kDumpBytes));
        text(fc_scsi + "beacon", "Disabled");
        text(fc_scsi + "diag_requests", "1234");
        text(fc_scsi + "diag_megabytes", "56");
        text(fc_scsi + "total_isp_aborts", "0x0");
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

        paths = {fc_scsi, fc_fc, fc + "/", cna_scsi, cna + "/", tarno + "/scsi_host/host7/", rport};
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
enum Dir : uint8_t { kFcScsi, kFcFc, kFcDevice, kCnaScsi, kCnaDevice, kTarnoScsi, kRport };

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
    // Whole degrees, with a sign, then optionally "." and hundredths: the
    // whole degrees within 16 bits.
    if (!to_check(buf, status, s, "temp_untouched")) return;
    std::optional<int64_t> whole;
    if (const std::optional<std::string> came = s.came()) {
        std::string t2 = trimmed(c_text(*came));
        const bool negative = !t2.empty() && t2[0] == '-';
        if (negative || (!t2.empty() && t2[0] == '+')) t2.erase(0, 1);
        const std::string digits = t2.substr(0, t2.find_first_not_of("0123456789"));
        if (const auto v = number(digits, 10, 0xFFFF); v && (!negative || *v <= 0x8000)) {
            whole = negative ? -static_cast<int64_t>(*v) : static_cast<int64_t>(*v);
        }
    }
    PROPERTY("temp_value", whole.has_value() && t.IntTemp == static_cast<uint16_t>(*whole));
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

// A counter of the statistics: decimal or hexadecimal, where all ones
// means "not counted" (0), as does a file the driver does not have. The
// 32-bit fields take a counter's low 32 bits: they wrap, as counters do.
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

void vpd(uint8_t p0, uint8_t p1, const Served& s) {
    const uint32_t room = 256 + (p0 | p1 << 8) % 768;
    SD_UINT32 size = room;
    Guarded buf(room, kFill);
    const SD_UINT32 status = SDGetVpd(kFc, 0, buf.data(), &size);
    FUZZ_CHECK(buf.guard_intact());
    PROPERTY("vpd_size", size == room);
    if (status != SDERR_NO_ERROR) return;
    // The whole VPD area came: as much of it as the caller's buffer holds,
    // and the caller's bytes past the area stay.
    PROPERTY("vpd_whole", s.reach >= kVpdArea &&
                              block_came(buf.data(), std::min(room, kVpdArea), s.came_bytes()) &&
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
    PROPERTY("mac_stats_came",
             s.reach > 0 && block_came(data.data(), std::min(room, kMacStatsBytes), s.came_bytes()));
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
        // Six hexadecimal bytes joined by ":", kept last byte first.
        bool ok = came.has_value();
        if (ok) {
            std::string t = trimmed(c_text(*came));
            for (int i = 0; i < 6 && ok; ++i) {
                const std::string part = t.substr(0, t.find(':'));
                const std::optional<uint64_t> v = number(part, 16, 0xFF);
                ok = v.has_value() && part.size() <= 2 && c.VNPortMACAddress[5 - i] == *v;
                t = t.find(':') == std::string::npos ? std::string() : t.substr(t.find(':') + 1);
                if (i < 5 && t.empty()) ok = false;
            }
            ok = ok && t.empty();
        }
        PROPERTY("cna_mac", ok);
    }
}

void driver_property(const Served& s, bool version) {
    Guarded buf(sizeof(DRIVERPROPERTY), kFill);
    const SD_UINT32 status = SDGetHbaDeviceDriverProperty(kFc, buf.as<DRIVERPROPERTY>());
    const DRIVERPROPERTY& d = *buf.as<DRIVERPROPERTY>();
    if (!to_check(buf, status, s, "driver_untouched")) return;
    const std::optional<std::string> came = s.came();
    if (!version) {
        const std::optional<uint64_t> n = came ? number(*came, 10, UINT32_MAX) : std::nullopt;
        PROPERTY("driver_segments", n.has_value() && d.MaximumDataSegments == *n);
        return;
    }
    // The text whole, without its newlines, within the field.
    std::string t = came ? c_text(*came) : std::string();
    while (!t.empty() && t.back() == '\n') t.pop_back();
    const auto* v = reinterpret_cast<const char*>(d.Version);
    PROPERTY("driver_version", came.has_value() && t.size() < sizeof d.Version &&
                                   strnlen(v, sizeof d.Version) < sizeof d.Version && t == v);
}

// The firmware's version: three decimal numbers of a byte each, joined by
// ".", then anything that is not a digit.
void firmware_property(uint8_t, uint8_t, const Served& s) {
    Guarded buf(sizeof(FIRMWAREPROPERTY), kFill);
    const SD_UINT32 status = SDGetHbaDeviceFirmwareProperty(kFc, buf.as<FIRMWAREPROPERTY>());
    if (!to_check(buf, status, s, "fw_untouched")) return;
    const std::optional<std::string> came = s.came();
    bool ok = came.has_value();
    if (ok) {
        const std::string t = trimmed(c_text(*came));
        size_t at = 0;
        for (int i = 0; i < 3 && ok; ++i) {
            if (i > 0) ok = at < t.size() && t[at++] == '.';
            const size_t end = t.find_first_not_of("0123456789", at);
            const std::optional<uint64_t> v = ok ? number(t.substr(at, end - at), 10, 0xFF) : std::nullopt;
            ok = v.has_value() && buf.as<FIRMWAREPROPERTY>()->Version[i] == *v;
            at = end == std::string::npos ? t.size() : end;
        }
    }
    PROPERTY("fw_version", ok);
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
    if (s.absent()) return;  // what a driver without the file means is the call's to say
    const std::optional<std::string> came = s.came();
    if (field == 3) {
        const std::optional<uint64_t> n = came ? number(*came, 10, 0xFFFF) : std::nullopt;
        PROPERTY("disc_target", n.has_value() && d.TargetID == *n);
        return;
    }
    const size_t n = field == 2 ? 3 : 8;
    const std::optional<Bytes> name = came ? name_bytes(*came, n) : std::nullopt;
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

// The modes: the attributes, then the flash calls.
constexpr size_t kFlashModes = 5;

size_t mode_count() { return attr_cases().size() + kFlashModes; }

void run(uint8_t mode, Reader& in) {
    const size_t m = mode % mode_count();
    if (m < attr_cases().size()) {
        attribute(attr_cases()[m], in);
    } else {
        flash(static_cast<FlashCall>(m - attr_cases().size()), in);
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
        for (const std::string& text : {std::string(), plain.substr(0, 3), plain + plain, std::string("zz\n"),
                                        std::string("4294967312\n"), std::string("70000.00\n")}) {
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
    return out;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    rig().reset();
    Traced traced;
    Reader in(data, size);
    run(in.byte(), in);
    return 0;
}
