// The QoS table of a port: read from the driver, and stored in the port's
// QoS flash region as a checksummed record that the firmware takes up once
// the region is activated. Only physical ports of the QoS chips have a QoS
// region; its code follows the port's PCI function.
#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "api/vx_sdqos.h"
#include "api/vx_sdupdate.h"
#include "base/vx_chips.h"
#include "base/vx_layout.h"
#include "core/flash/vx_optrom.h"
#include "core/io/vx_diag.h"

namespace {

static_assert(std::endian::native == std::endian::little, "the flash record is built in place");
static_assert(sizeof(SDM_QOS_ENTRY) == sizeof(vxa_qos_entry));
static_assert(offsetof(SDM_QOS_CONFIG, Entry) == offsetof(vxa_qos_config, entry));

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<uint8_t, FreeDeleter>;

// The activation code of a written QoS region.
constexpr uint32_t kActivateQos = 0x20262;
// The record's length field has 16 bits.
constexpr uint32_t kMostRecordBytes = 0xFFFF;

constexpr uint32_t kHeadBytes = sizeof(vxa_flash_qos_config);
constexpr uint32_t kEntryBytes = sizeof(vxa_flash_qos_entry);

// The QoS region of the port, by its PCI function (bits 0-2 of pci_dev_func).
uint32_t qos_region(const vxapi_priv_database* rec) {
    const uint16_t function = rec->phy_info != nullptr ? (rec->phy_info->pci_dev_func & 7) : 0;
    if (vx_chip_has(vxapi_device_id(rec), VX_CHIP_QOS_QUAD_REGIONS)) {
        switch (function) {
        case 1: return 0x88;
        case 2: return 0x3C;
        case 3: return 0x3D;
        default: return 0x87;
        }
    }
    return (function & 1) != 0 ? 0x88 : 0x87;
}

// The first of the layout's slots whose whole region word is the code.
const INT_OPT_ROM_REGION* qos_layout_entry(uint32_t region) {
    for (const INT_OPT_ROM_REGION& e : gOptRomLayout.Region) {
        if (e.Region == region) return &e;
    }
    return nullptr;
}

// The port's QoS region, as the common steps find it.
struct QosRegion {
    vxapi_priv_database* rec = nullptr;
    const INT_OPT_ROM_REGION* entry = nullptr;  // in the global layout
    uint32_t code = 0;
};

// The common steps: the caller's record passes the argument tests (`valid`),
// the port is a physical port of a QoS chip (a write also needs no other
// process to hold the adapter's flash update token), the layout is
// refreshed and lists the port's QoS region. False with the status set
// otherwise.
bool qos_region_of(VxSdCall& call, bool valid, bool writes, QosRegion* q) {
    if (!valid) {
        vx_sd_line(VX_SD_ERROR, call.name(), call.device(), "): invalid parameter.");
        call.done(SDERR_INVALID_PARAMETER);
        return false;
    }
    q->rec = call.port();
    if (q->rec == nullptr) return false;
    if (!vx_chip_has(vxapi_device_id(q->rec), VX_CHIP_QOS) || q->rec->interface_type != VX_PORT_PHYSICAL) {
        vx_sd_line(VX_SD_ERROR, call.name(), call.device(), "): Card not supported.");
        call.done(SDERR_NOT_SUPPORTED);
        return false;
    }
    if (writes && !vx_sd_no_foreign_token(call, q->rec)) return false;
    q->code = qos_region(q->rec);
    if (const SD_UINT32 refreshed = SDGetOptionRomLayout(call.device(), 0, nullptr); refreshed != SDERR_NO_ERROR) {
        call.done(refreshed);
        return false;
    }
    q->entry = qos_layout_entry(q->code);
    if (q->entry != nullptr) return true;
    if (vxdbg_on(VX_SD_ERROR)) {
        vxdbg_print(call.name(), 0, VXDBG_NONE, 0);
        vxdbg_print(": region not present in FLT. handle=", static_cast<uint32_t>(call.device()), VXDBG_INT, 1);
    }
    call.done(SDERR_QOS_REGION_MISSING);
    return false;
}

Buffer allocate(VxSdCall& call, size_t bytes) {
    Buffer buf(static_cast<uint8_t*>(std::calloc(1, bytes)));
    if (!buf) {
        vx_sd_line(VX_SD_ERROR, call.name(), call.device(), "): buf malloc failed");
        call.done(SDERR_OUT_OF_MEMORY);
    }
    return buf;
}

// The record of the caller's entries in `length` zeroed bytes, its checksum
// last: the two's complement of the sum of its 16-bit words.
void build_record(uint8_t* record, uint32_t length, const SDM_QOS_CONFIG& qos) {
    vxa_flash_qos_config head{};
    std::memcpy(head.signature, VX_QOS_SIGNATURE, sizeof head.signature);
    head.version = VX_QOS_VERSION;
    head.length = static_cast<uint16_t>(length);
    head.num_entries = qos.NumEntries;
    head.size_of_entry = kEntryBytes;
    std::memcpy(record, &head, sizeof head);
    for (uint32_t i = 0; i < qos.NumEntries; ++i) {
        const SDM_QOS_ENTRY& in = qos.Entry[i];
        vxa_flash_qos_entry out{};
        out.val = in.Val;
        out.type = in.Type;
        std::memcpy(out.wwpn, in.WWPN, sizeof out.wwpn);
        std::memcpy(record + kHeadBytes + i * kEntryBytes, &out, sizeof out);
    }
    uint32_t sum = 0;
    for (uint32_t at = 0; at + 1 < length; at += 2) sum += record[at] | uint32_t{record[at + 1]} << 8;
    const auto checksum = static_cast<uint16_t>(0u - sum);
    std::memcpy(record + offsetof(vxa_flash_qos_config, checksum), &checksum, sizeof checksum);
}

// True when the driver delivered the table's head and every entry that is
// to be copied (as many as it counts, at most `room`): the request buffer
// is the caller's table zeroed, so bytes that did not arrive are no entries.
bool table_delivered(const vxa_qos_config* in, uint32_t delivered, uint16_t room) {
    constexpr uint32_t kHead = offsetof(vxa_qos_config, entry);
    if (delivered < kHead) return false;
    return (delivered - kHead) / sizeof(vxa_qos_entry) >= std::min(in->num_entries, room);
}

// Copies the driver's table into the caller's: the counts, and at most as
// many entries as the caller provided room for.
void copy_table(SDM_QOS_CONFIG* out, const vxa_qos_config* in, uint16_t room) {
    out->NumEntries = in->num_entries;
    out->QoSVendor = in->qos_vendor;
    const uint16_t n = std::min(in->num_entries, room);
    for (uint16_t i = 0; i < n; ++i) {
        SDM_QOS_ENTRY& e = out->Entry[i];
        e.Type = in->entry[i].type;
        e.Val = in->entry[i].val;
        e.Status = in->entry[i].status;
        std::memcpy(e.WWPN, in->entry[i].wwpn, sizeof e.WWPN);
    }
}

}  // namespace

SD_UINT32 SDGetQoS(int Device, PSDM_QOS_CONFIG pQoS) {
    VxSdCall call("SDGetQoS", Device);
    QosRegion q;
    if (!qos_region_of(call, pQoS != nullptr && pQoS->NumEntries != 0, false, &q)) return call.status();

    // The table comes from the driver; the region only has to exist.
    const uint16_t room = pQoS->NumEntries;
    const uint32_t size = offsetof(vxa_qos_config, entry) + uint32_t{room} * sizeof(vxa_qos_entry);
    Buffer buf = allocate(call, size);
    if (!buf) return call.status();
    auto* table = reinterpret_cast<vxa_qos_config*>(buf.get());
    table->num_entries = room;

    uint32_t ext = 0;
    uint32_t delivered = 0;
    errno = 0;
    const int32_t result = vxapi_get_qos(q.rec->oshandle, q.rec, table, size, &ext, &delivered);
    const int err = errno;
    // Buffer too small: the driver left the count it needs, when that arrived.
    const bool count_came = delivered >= offsetof(vxa_qos_config, qos_vendor);
    const bool too_small = ext == EXT_STATUS_BUFFER_TOO_SMALL;
    if (too_small && count_came) pQoS->NumEntries = table->num_entries;
    const VxSdOutcome out = vx_sd_outcome(call.name(), Device, result, ext, err, VxSdAccept::Clean);
    // An answer that reports a count, or a table, which did not arrive whole
    // is no answer: the caller's table stays as it was.
    const bool whole = too_small ? count_came : !out.done || table_delivered(table, delivered, room);
    if (result == 0 && !whole) {
        vx_sd_line(VX_SD_ERROR, call.name(), Device, "): short table. bytes delivered=", delivered, VXDBG_DEC);
        return call.done(SDERR_DATA_UNDERRUN);
    }
    if (out.done) copy_table(pQoS, table, room);
    return call.done(out.status);
}

SD_UINT32 SDSetQoS(int Device, PSDM_QOS_CONFIG pQoS) {
    VxSdCall call("SDSetQoS", Device);
    QosRegion q;
    if (!qos_region_of(call, pQoS != nullptr, true, &q)) return call.status();

    // No entries: an empty record over the whole region. A record that its
    // 16-bit length field cannot state is refused like one the region cannot
    // hold.
    const uint32_t length = pQoS->NumEntries != 0 ? kHeadBytes + pQoS->NumEntries * kEntryBytes : q.entry->Size;
    if (length > q.entry->Size || length > kMostRecordBytes || length < kHeadBytes) {
        vx_sd_line(VX_SD_ERROR, call.name(), Device, "): record does not fit the region. length=", length, VXDBG_DEC);
        return call.done(SDERR_REGION_TOO_SMALL);
    }
    Buffer buf = allocate(call, length);
    if (!buf) return call.status();
    build_record(buf.get(), length, *pQoS);

    uint32_t ext = 0;
    errno = 0;
    // Written at the flash offset of the entry its length was checked
    // against: the region code alone names the first entry with that low
    // byte, which may be another, smaller one.
    const int32_t result =
        vxapi_update_optrom(q.rec->oshandle, q.rec, buf.get(), length, VX_REGION_RAW, q.entry->Beg, &ext);
    const int err = errno;
    if ((result != 0 || ext != 0) && vxdbg_on(VX_SD_ERROR)) {
        vxdbg_print(call.name(), 0, VXDBG_NONE, 0);
        vxdbg_print("(", static_cast<uint32_t>(Device), VXDBG_INT, 0);
    }
    const VxSdOutcome out = vx_sd_outcome(call.name(), Device, result, ext, err, VxSdAccept::Clean,
                                          "): flash write failed. stat=");
    if (!out.done) return call.done(out.status);
    return call.done(vxapi_reset_region(Device, q.rec, kActivateQos));
}
