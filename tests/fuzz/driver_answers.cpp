// The driver's and the kernel's answers, as the public calls take them: the
// i2c reads and writes, the QoS table, ELS ECHO, the remote port's link
// errors, the port statistics, the node, port, chip, driver and firmware
// properties, the port database, the event read, a flash region, the
// transceiver pages, a remote port's speed and the flash update capabilities,
// on a port of the driver's node (handle 1) and, where the call has one, on a
// sysfs port with bsg (handle 2).
//
// Every request of the call is answered by the simulator and then changed
// by the input (answer_edits.h).
//
// The properties: the requests stay within what the call's sizes need; no
// byte behind a caller's buffer changes; a success reports no data, count or
// size beyond what was delivered.
//
// Input: a mode byte (the call), the call's parameter bytes, then one part
// per request, in order (none left: the well-behaved answer).
#include <algorithm>
#include <functional>

#include "answer_edits.h"
#include "base/vx_diag_records.h"
#include "base/vx_port_speed.h"
#include "base/vx_request.h"
#include "core/flash/vx_flash_layout.h"
#include "core/io/vx_query.h"
#include "sim_bsg.h"
#include "sim_diag.h"
#include "sim_mgmt_bsg.h"
#include "sim_passthru.h"
#include "sim_queries.h"
#include "sim_regions.h"
#include "sim_side.h"
#include "sim_sysfs_attrs.h"
#include "transport/vx_sysfs_bsg.h"
#include "vxsdm.h"
#include "vxsdm_port.h"
#include "vxsdm_stats.h"

namespace {

using fuzz::Answer;
using fuzz::Bytes;
using fuzz::Call;
using fuzz::Guarded;
using fuzz::Run;
using fuzz::answer;
using fuzz::input;
using fuzz::kFill;
using fuzz::kIntoReply;
using fuzz::kLength;
using fuzz::kOneRequest;
using fuzz::kReplyLength;
using fuzz::one_record;
using fuzz::pattern;
using fuzz::whole;

constexpr uint16_t kChip = 0x2071;  // QoS, remote port speeds, flash update capabilities
constexpr unsigned kHost = 5;       // the sysfs port's FC host
constexpr int kIoctl = 1, kBsg = 2;  // handles
constexpr unsigned kDriverMajor = 240, kBsgMajor = 250;
constexpr uint8_t kRemote[8] = {0x21, 0, 0, 0x1b, 0x32, 0xa0, 0, 1};  // the remote port on both roads
constexpr uint16_t kI2cDevice = 0xA0;
constexpr uint8_t kQosRegion = 0x87;

// ---- the host ----

// A port of the driver's node (the chip's flash with its QoS region, a
// remote port, i2c device 0xA0) and a sysfs port of the same chip with bsg
// and a remote port behind it; both answer through the input's editors.
struct Rig {
    Rig() {
        sim::SimHost& host = fuzz::host();
        bsg_port = sysfs.rec;
        i2c_bsg.memory[kI2cDevice] = pattern(0x10000, 1);
        i2c_bsg.attach(bsg);
        sim::serve_fabric(san, bsg, host, sysfs.fabric.host_dirs.at(kHost));
        mgmt.speed_code = 3;
        mgmt.serve(bsg);
        diag.serve(bsg);
        bsg_region = smallest(sysfs.flash.regions);
        bsg_flash = sysfs.fabric.windows.at(kHost)->flash;

        driver.attach(host, kDriverMajor);
        sim::install_flash(driver);
        sim::install_update_caps(driver);
        sim::SimAdapter& adapter = driver.add_adapter();
        adapter.device_id = kChip;
        adapter.update_caps = pattern(32, 2);
        sim::ChipFlashOptions options;
        sim::SimAdapter probe2;
        probe2.device_id = kChip;
        options.regions = sim::build_chip_flash(probe2).regions;
        ioctl_region = sim::flt_region(kQosRegion, 0x1000, 0x100000 + kQosRegion * 0x1000);
        options.regions->push_back(ioctl_region);
        sim::build_chip_flash(adapter, options);
        port = &sim::add_query_port(driver, adapter);
        for (int i = 0; i < 2; ++i) sim::add_remote_port(*port);
        std::memcpy(port->remote_ports[0].port.WWPN, kRemote, sizeof kRemote);
        port->remote_ports[0].stats.TotalLinkFailures = 7;
        port->records[{EXT_CC_GET_SFP_DATA, 0}] = pattern(512, 3);
        side.attach(driver);
        i2c_ioctl.memory[kI2cDevice] = pattern(0x10000, 4);
        san.ports.emplace_back();
        std::copy_n(kRemote, 8, san.ports[0].wwpn.begin());
        sim::install_passthru_handlers(driver, san);
        driver.on(EXT_CC_QOS_STATE, qos_table);
        driver.on(EXT_CC_PORT_PARAM, [](const sim::SimRequest& r) {
            INT_PORT_PARAM p{};
            std::memcpy(&p, r.request.data(), std::min(r.request.size(), sizeof p));
            p.Speed = 16;
            return sim::SimReply::with_record(p);
        });
        // The editors take the devices' places before the port's node is opened.
        host.register_device(kDriverMajor, &driver_answers);
        host.register_device(kBsgMajor, &kernel_answers);
        ioctl_port = fuzz::ioctl_record(driver, *port, kIoctl);
    }

    static sim::FltRegion smallest(const std::vector<sim::FltRegion>& regions) {
        return *std::min_element(regions.begin(), regions.end(),
                                 [](const auto& a, const auto& b) { return a.size < b.size; });
    }

    // The table of three entries; a smaller one answers "buffer too small"
    // with the count it needs.
    static sim::SimReply qos_table(const sim::SimRequest& r) {
        constexpr uint16_t kEntries = 3;
        const uint16_t room = r.request.size() >= 2 ? sim::get_le16(r.request, 0) : 0;
        sim::SimReply reply = sim::SimReply::with_status(room < kEntries ? 16 : 0);
        reply.response = {kEntries, 0, 0x77, 0};
        for (uint8_t i = 0; i < kEntries && room >= kEntries; ++i) {
            Bytes e(32, 0);
            std::tie(e[0], e[1], e[2]) = std::tuple(1 + i, 2 + i, 3 + i);
            std::copy_n(kRemote, 8, &e[4]);
            e[11] = i;
            fuzz::append(reply.response, e);
        }
        return reply;
    }

    // What an input leaves: the logs, the sleeps, the events read, the i2c
    // devices written.
    void reset() {
        fuzz::host().clear_sleeps();
        fuzz::host().clear_records();
        i2c_bsg.memory[kI2cDevice] = pattern(0x10000, 1);
        i2c_ioctl.memory[kI2cDevice] = pattern(0x10000, 4);
        driver.clear_log();
        bsg.log.clear();
        for (auto& [host_no, w] : sysfs.fabric.windows) w->controls.clear();
        port->events = {sim::make_event(VX_AEN_LINK_UP), sim::make_event(VX_AEN_RSCN, 0x010203),
                        sim::make_event(VX_AEN_LINK_DOWN)};
    }

    sim::SimBsg bsg;
    fuzz::SysfsBsgPort sysfs{bsg, kChip, kHost, kBsgMajor, kBsg};
    sim::SimDriver driver;
    sim::SimI2c i2c_bsg, i2c_ioctl;
    sim::SimSide side{i2c_ioctl};
    sim::SanFabric san;
    sim::SimMgmtBsg mgmt;
    sim::SimDiagBsg diag;
    sim::SimPort* port = nullptr;
    vxapi_priv_database* ioctl_port = nullptr;
    vxapi_priv_database* bsg_port = nullptr;
    sim::FltRegion ioctl_region, bsg_region;
    std::shared_ptr<std::vector<uint8_t>> bsg_flash;
    fuzz::DriverAnswers driver_answers{driver};
    fuzz::KernelAnswers kernel_answers{bsg};
};

Rig& rig() {
    static Rig* r = new Rig();  // lives as long as the process, as the host
    return *r;
}

// ---- the calls ----

DESTINATIONADDRESS remote() {
    DESTINATIONADDRESS d{};
    d.AddressType = 2;
    std::memcpy(d.AddressUsing.PortWWN, kRemote, sizeof kRemote);
    return d;
}

// i2c: len bytes from the parameters' offset, in pieces of 64: each piece
// (resent only after a busy answer) asks its own offset and length (the
// library's, whatever a driver wrote back), a write sends the caller's bytes
// and writes none of them; a success had every piece carried with its data
// delivered (and, from the driver, its own length back), and a read holds
// exactly those bytes.
void i2c(fuzz::Reader& in, bool bsg, bool write) {
    const uint16_t len = static_cast<uint16_t>((in.byte() | in.byte() << 8) % 1025);
    const uint16_t adr = static_cast<uint16_t>(in.byte() << 4);
    const size_t pieces = std::max<size_t>(1, (len + VXA_I2C_MAX - 1) / VXA_I2C_MAX);
    Guarded buf(write ? pattern(len, 9) : Bytes(len, kFill));
    Run run(in, pieces * kOneRequest);
    const int h = bsg ? kBsg : kIoctl;
    const SD_UINT32 status = write ? SDWriteSFPData(h, 0, kI2cDevice, buf.data(), len, adr, 0, nullptr)
                                   : SDReadSFPData(h, 0, kI2cDevice, buf.data(), len, adr, 0, nullptr);
    FUZZ_CHECK(buf.guard_intact());
    if (write) FUZZ_CHECK(buf.contents() == pattern(len, 9));
    std::vector<const Answer*> last(pieces, nullptr);  // each piece's last answer
    size_t k = 0;
    for (const Answer& a : run.answers()) {
        FUZZ_CHECK(k < pieces);
        vxa_i2c_access piece{};
        FUZZ_CHECK(a.request.size() == sizeof piece);
        std::memcpy(&piece, a.request.data(), sizeof piece);
        const size_t want = std::min<size_t>(VXA_I2C_MAX, len - k * VXA_I2C_MAX);
        FUZZ_CHECK(piece.device == kI2cDevice && piece.offset == static_cast<uint16_t>(adr + k * VXA_I2C_MAX));
        FUZZ_CHECK(piece.length == want);
        if (write) FUZZ_CHECK(std::equal(piece.buffer, piece.buffer + want, buf.data() + k * VXA_I2C_MAX));
        last[k] = &a;
        if (!a.busy()) ++k;
    }
    if (status != SDERR_NO_ERROR) return;
    FUZZ_CHECK(k == pieces);
    for (k = 0; k < pieces; ++k) {
        const Answer& a = *last[k];
        const size_t want = std::min<size_t>(VXA_I2C_MAX, len - k * VXA_I2C_MAX);
        FUZZ_CHECK(a.taken());
        if (!bsg && a.delivered.size() >= 8) FUZZ_CHECK(sim::get_le16(a.delivered, 6) == want);
        if (write) continue;
        FUZZ_CHECK(a.delivered.size() >= 8 + want);
        FUZZ_CHECK(std::equal(a.delivered.begin() + 8, a.delivered.begin() + 8 + want, buf.data() + k * VXA_I2C_MAX));
    }
}

// The QoS table into room for 1 to 8 entries: the entries reported on
// success are delivered ones.
void qos(fuzz::Reader& in) {
    const uint16_t room = static_cast<uint16_t>(1 + in.byte() % 8);
    Guarded buf(offsetof(SDM_QOS_CONFIG, Entry) + room * sizeof(SDM_QOS_ENTRY), kFill);
    auto* table = buf.as<SDM_QOS_CONFIG>();
    table->NumEntries = room;
    Run run(in, kOneRequest);
    const SD_UINT32 status = SDGetQoS(kIoctl, table);
    FUZZ_CHECK(buf.guard_intact());
    if (status != SDERR_NO_ERROR) return;
    const Answer* a = run.last(EXT_CC_QOS_STATE);
    FUZZ_CHECK(a != nullptr && a->taken() && a->delivered.size() >= offsetof(vxa_qos_config, entry));
    const size_t reported = std::min(table->NumEntries, room);
    FUZZ_CHECK(reported <= (a->delivered.size() - offsetof(vxa_qos_config, entry)) / sizeof(vxa_qos_entry));
    for (size_t i = 0; i < reported; ++i) {
        const uint8_t* e = a->delivered.data() + offsetof(vxa_qos_config, entry) + i * sizeof(vxa_qos_entry);
        const SDM_QOS_ENTRY& out = table->Entry[i];
        FUZZ_CHECK(out.Type == e[0] && out.Val == e[1] && out.Status == e[2]);
        FUZZ_CHECK(std::equal(out.WWPN, out.WWPN + 8, e + offsetof(vxa_qos_entry, wwpn)));
    }
}

// ECHO of 0 to 64 bytes: the size never grows, and the data reported (on
// success, or on an underrun that cut the size) came behind the accept word.
void echo(fuzz::Reader& in, bool bsg) {
    const uint32_t n = in.byte() % 65;
    const Bytes data = pattern(n, 5);
    Guarded req(data), resp(n, kFill);
    SD_UINT32 size = n;
    DESTINATIONADDRESS d = remote();
    Run run(in, kOneRequest);
    const SD_UINT32 status = SDSendElsEcho(bsg ? kBsg : kIoctl, 0, &d, req.data(), n, resp.data(), &size);
    FUZZ_CHECK(req.guard_intact() && resp.guard_intact() && req.contents() == data);
    FUZZ_CHECK(size <= n);
    // An underrun reports data when it cut the size; one that the driver
    // answered as its status reports none.
    if (status != SDERR_NO_ERROR && (status != SDERR_DATA_UNDERRUN || size == n)) return;
    const Answer* a = bsg ? run.last_job(VX_BSG_RPORT_ELS) : run.last(EXT_CC_SEND_ELS_PASSTHRU);
    // The accept's code, and the data behind its word; an underrun cut to
    // nothing may have had no answer at all.
    const size_t need = size != 0 ? 4 + size : status == SDERR_NO_ERROR ? 1 : 0;
    FUZZ_CHECK(a != nullptr && a->taken() && a->delivered.size() >= need);
    if (size != 0) FUZZ_CHECK(std::equal(resp.data(), resp.data() + size, a->delivered.begin() + 4));
}

// A remote port's link error counters: through the driver a statistics
// record delivered whole; over bsg an RLS accept of 28 bytes, its six
// counters taken from it.
void remote_statistics(fuzz::Reader& in, bool bsg) {
    Guarded buf(sizeof(STATISTICS), kFill);
    DESTINATIONADDRESS d = remote();
    Run run(in, kOneRequest);
    const SD_UINT32 status = SDGetStatisticsFC(bsg ? kBsg : kIoctl, 0, &d, buf.as<STATISTICS>());
    FUZZ_CHECK(buf.guard_intact());
    if (status != SDERR_NO_ERROR) return;
    if (!bsg) {
        FUZZ_CHECK(whole(run.last(EXT_CC_GET_DATA, 0x70), sizeof(EXT_HBA_PORT_STAT)));
        return;
    }
    const Answer* a = run.last_job(VX_BSG_RPORT_ELS);
    FUZZ_CHECK(a != nullptr && a->taken() && a->delivered.size() >= 28 && a->delivered[0] == 0x02);
    const STATISTICS& st = *buf.as<STATISTICS>();
    const SD_UINT32 counters[] = {st.LinkFailureCount, st.LossOfSyncCount, st.LossOfSignalCount,
                                  st.PrimitiveSeqProtocolErrorCount, st.InvalidTransmissionWordCount,
                                  st.InvalidCRCCount};
    for (size_t i = 0; i < 6; ++i) {
        const uint8_t* b = a->delivered.data() + 4 + 4 * i;
        FUZZ_CHECK(counters[i] == (uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3]));
    }
}

// The port database into room for 1 to 8 entries: the entries it reports
// (whatever the status) were delivered.
void port_database(fuzz::Reader& in) {
    const uint32_t room = 1 + in.byte() % 8;
    Guarded buf(sizeof(DEVICEINFO) + (room - 1) * sizeof(DEVICEINFOENTRY), kFill);
    auto* info = buf.as<DEVICEINFO>();
    Run run(in, kOneRequest);
    (void)SDGetPortDatabase(kIoctl, 0x1F, info, buf.size());
    FUZZ_CHECK(buf.guard_intact());
    uint32_t untouched;
    std::memset(&untouched, kFill, sizeof untouched);
    if (info->ReturnListEntryCount == untouched) return;
    const Answer* a = run.last(EXT_CC_GET_DATA, 0x6A);
    FUZZ_CHECK(a != nullptr && a->taken() && a->delivered.size() >= sizeof(EXT_DEVICEDATA));
    const size_t delivered = (a->delivered.size() - sizeof(EXT_DEVICEDATA)) / sizeof(EXT_DEVICEDATAENTRY);
    FUZZ_CHECK(info->ReturnListEntryCount <= room && info->ReturnListEntryCount <= delivered);
}

// The driver's events into room for 1 to 8: the length handed over was
// delivered, and no byte past what was delivered changes.
void events(fuzz::Reader& in) {
    const uint32_t room = (1 + in.byte() % 8) * sizeof(EXT_ASYNC_EVENT);
    Guarded buf(room, kFill);
    uint32_t length = room, status = 0xEEEE;
    vxapi_priv_database* rec = rig().ioctl_port;
    Run run(in, kOneRequest);
    const int result = vxapi_async_event_get(rec->oshandle, rec, buf.data(), &length, &status);
    FUZZ_CHECK(buf.guard_intact());
    if (result == VX_RESULT_NOT_BUILT) return;
    const Answer* a = run.last(EXT_CC_GET_AEN);
    FUZZ_CHECK(a != nullptr);
    const size_t delivered = a->delivered.size();
    FUZZ_CHECK(length <= delivered);
    FUZZ_CHECK(std::all_of(buf.data() + delivered, buf.data() + room, [](uint8_t b) { return b == kFill; }));
}

// A flash region whole into a buffer of its size: through the driver the
// read delivered every byte asked, and the buffer holds them; over bsg the
// job delivered them all, or the flash's own bytes came through the
// driver's flash files.
void region(fuzz::Reader& in, bool bsg) {
    Rig& r = rig();
    const sim::FltRegion& reg = bsg ? r.bsg_region : r.ioctl_region;
    Guarded buf(reg.size, kFill);
    Run run(in, kOneRequest);
    const SD_UINT32 status = SDGetOptionRomEx(bsg ? kBsg : kIoctl, 0, buf.data(), reg.size, reg.code);
    FUZZ_CHECK(buf.guard_intact());
    if (status != SDERR_NO_ERROR) return;
    if (!bsg) {
        const Answer* a = run.last(EXT_CC_READ_OPTROM);
        FUZZ_CHECK(a != nullptr && a->answered() && a->delivered.size() == a->capacity && a->capacity <= reg.size);
        FUZZ_CHECK(std::equal(a->delivered.begin(), a->delivered.end(), buf.data()));
        return;
    }
    const Answer* a = run.last_job(VX_BSG_HOST_VENDOR, VX_BSG_READ_FLASH);
    const bool by_job = a != nullptr && a->taken() && a->delivered.size() == a->capacity &&
                        std::equal(a->delivered.begin(), a->delivered.end(), buf.data());
    const auto flash = r.bsg_flash->begin() + reg.start;
    FUZZ_CHECK(by_job || std::equal(flash, flash + reg.size, buf.data()));
}

// A remote port's speed: through the driver the record came whole; over bsg
// the reply's record (bytes 16 to 35) came.
void speed(fuzz::Reader& in, bool bsg) {
    DESTINATIONADDRESS d = remote();
    Guarded buf(sizeof(SD_UINT32), kFill);
    Run run(in, kOneRequest);
    const SD_UINT32 status = SDGetTargetIDMALinkSpeed(bsg ? kBsg : kIoctl, 0, &d, buf.as<SD_UINT32>());
    FUZZ_CHECK(buf.guard_intact());
    if (status != SDERR_NO_ERROR) return;
    if (!bsg) {
        FUZZ_CHECK(whole(run.last(EXT_CC_PORT_PARAM), sizeof(INT_PORT_PARAM)));
        return;
    }
    const Answer* a = run.last_job(VX_BSG_HOST_VENDOR, VX_BSG_PORT_PARAM);
    FUZZ_CHECK(a != nullptr && a->taken() && a->reply_len >= sizeof(fc_bsg_reply) + sizeof(INT_PORT_PARAM));
}

// The flash update capabilities: the record came whole.
void capabilities(fuzz::Reader& in, bool bsg) {
    Guarded buf(sizeof(SD_UINT64), kFill);
    Run run(in, kOneRequest);
    const SD_UINT32 status = SDGetFlashUpdateCapabilities(bsg ? kBsg : kIoctl, 0, buf.as<SD_UINT64>());
    FUZZ_CHECK(buf.guard_intact());
    if (status != SDERR_NO_ERROR) return;
    const Answer* a =
        bsg ? run.last_job(VX_BSG_HOST_VENDOR, VX_BSG_GET_FLASH_CAPS) : run.last(EXT_CC_FLASH_UPDATE_CAPS);
    FUZZ_CHECK(whole(a, sizeof(vxa_flash_update_caps)));
}

// The transceiver's 512 bytes into 512 to 575: delivered whole on success.
void sfp_pages(fuzz::Reader& in) {
    const uint32_t size = 512 + in.byte() % 64;
    fuzz::fixed_record(in, size, EXT_CC_GET_SFP_DATA, 0, sizeof(SD_SFP_DATA), kOneRequest,
                 [size](void* p) { return SDGetSFPData(kIoctl, 0, static_cast<SD_PUINT8>(p), size); });
}

constexpr size_t kNodeRequests = 16 * kOneRequest;  // the node query and the flash reads of the versions

// The modes the seeds name.
constexpr size_t kModeI2cRead = 0, kModeI2cWrite = 1, kModeQos = 4, kModeEcho = 5, kModeRls = 8,
                 kModeStatistics = 9, kModeNode = 10, kModeSfp = 19, kModeSpeedBsg = 21, kModeCapabilities = 22;

const std::vector<Call>& calls() {
    static const std::vector<Call> table = {
        {3, [](fuzz::Reader& in) { i2c(in, false, false); }},
        {3, [](fuzz::Reader& in) { i2c(in, false, true); }},
        {3, [](fuzz::Reader& in) { i2c(in, true, false); }},
        {3, [](fuzz::Reader& in) { i2c(in, true, true); }},
        {1, qos},
        {1, [](fuzz::Reader& in) { echo(in, false); }},
        {1, [](fuzz::Reader& in) { echo(in, true); }},
        {0, [](fuzz::Reader& in) { remote_statistics(in, false); }},
        {0, [](fuzz::Reader& in) { remote_statistics(in, true); }},
        one_record<STATISTICS>(EXT_CC_GET_DATA, 3, sizeof(EXT_HBA_PORT_STAT), kOneRequest,
                               [](PSTATISTICS p) { return SDGetStatistics(kIoctl, 0, p); }),
        one_record<DEVICENODEPROPERTY>(EXT_CC_QUERY, 1, sizeof(EXT_HBA_NODE), kNodeRequests,
                                       [](PDEVICENODEPROPERTY p) { return SDGetHbaDeviceNodeProperty(kIoctl, p); }),
        one_record<DEVICEPORTPROPERTY>(EXT_CC_QUERY, 2, sizeof(EXT_HBA_PORT), kOneRequest,
                                       [](PDEVICEPORTPROPERTY p) { return SDGetHbaDevicePortProperty(kIoctl, 0, p); }),
        one_record<CHIPPROPERTY>(EXT_CC_QUERY, 8, sizeof(EXT_CHIP), kOneRequest,
                                 [](PCHIPPROPERTY p) { return SDGetHbaDeviceChipProperty(kIoctl, p); }),
        one_record<DRIVERPROPERTY>(EXT_CC_GET_DATA, 6, sizeof(EXT_DRIVER), kOneRequest,
                                   [](PDRIVERPROPERTY p) { return SDGetHbaDeviceDriverProperty(kIoctl, p); }),
        one_record<FIRMWAREPROPERTY>(EXT_CC_GET_DATA, 7, sizeof(EXT_FW), kOneRequest,
                                     [](PFIRMWAREPROPERTY p) { return SDGetHbaDeviceFirmwareProperty(kIoctl, p); }),
        {1, port_database},
        {1, events},
        {0, [](fuzz::Reader& in) { region(in, false); }},
        {0, [](fuzz::Reader& in) { region(in, true); }},
        {1, sfp_pages},
        {0, [](fuzz::Reader& in) { speed(in, false); }},
        {0, [](fuzz::Reader& in) { speed(in, true); }},
        {0, [](fuzz::Reader& in) { capabilities(in, false); }},
        {0, [](fuzz::Reader& in) { capabilities(in, true); }},
    };
    return table;
}

}  // namespace

std::vector<fuzz::Bytes> fuzz::seeds() {
    // Every call answered as the simulator answers, at a few sizes: i2c 22
    // bytes from 0x30, 100 from 0, 0, 320 from 0x100; the other sizes by
    // their first byte.
    std::vector<Bytes> out =
        fuzz::plain_seeds(calls(), {{22, 0, 3}, {100, 0, 0}, {0, 0, 0}, {0x40, 1, 0x10}, {7, 0, 0}});
    // The short, long and empty answers that the library must take as they
    // came: i2c pieces whose length field says 0, 65 or 200 (22 and 100
    // bytes, both ways), an i2c block over bsg that did not arrive, a QoS
    // table counting 4 entries without any, ECHO and RLS answered by the
    // accept word alone, the bsg speed reply without its record, fixed
    // records of which part came.
    for (const size_t mode : {kModeI2cRead, kModeI2cWrite}) {
        for (const uint8_t len : {22, 100}) {
            for (const uint16_t field : {0, 65, 200}) {
                const Bytes written_back = {static_cast<uint8_t>(field), static_cast<uint8_t>(field >> 8)};
                out.push_back(input(mode, {len, 0, 0}, {answer(0, 0, 6, written_back)}));
            }
        }
    }
    out.push_back(input(kModeI2cRead + 2, {22, 0, 0}, {answer(kLength, 0)}));
    out.push_back(input(kModeQos, {7}, {answer(kLength, 4, 0, {4, 0})}));
    for (const size_t mode : {kModeEcho, kModeEcho + 1}) out.push_back(input(mode, {8}, {answer(kLength, 4)}));
    out.push_back(input(kModeRls, {}, {answer(kLength, 4)}));
    out.push_back(input(kModeSpeedBsg, {}, {answer(kReplyLength, 0, 0, {}, sizeof(fc_bsg_reply))}));
    for (const size_t mode : {kModeStatistics, kModeNode, kModeCapabilities, kModeCapabilities + 1}) {
        out.push_back(input(mode, {}, {answer(kLength, 4)}));
    }
    out.push_back(input(kModeSfp, {0}, {answer(kLength, 100)}));
    return out;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    rig().reset();
    fuzz::run_call(calls(), data, size);
    return 0;
}
