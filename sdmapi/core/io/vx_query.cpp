// Queries, statistics and event requests through the driver.
#include "core/io/vx_query.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/vx_port_road.h"
#include "base/vx_request.h"
#include "base/vx_sddbg.h"
#include "transport/vx_ioctl_road.h"
#include "transport/vx_netlink.h"
#include "transport/vx_sysfs.h"

namespace {

// Bytes of the driver specifics answer.
constexpr uint32_t kDriverSpecificsLen = sizeof(EXT_LN_DRIVER_DATA);

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// Sub-codes of the query command (0x00).
constexpr uint16_t kQueryNode = 1;
constexpr uint16_t kQueryPort = 2;
constexpr uint16_t kQueryDiscPort = 3;
constexpr uint16_t kQueryDiscTarget = 4;
constexpr uint16_t kQueryChip = 8;
constexpr uint16_t kQueryCnaPort = 9;

// Sub-codes of the get-data command (0x06).
constexpr uint16_t kDataStatistics = 3;
constexpr uint16_t kDataDriver = 6;
constexpr uint16_t kDataFirmware = 7;
constexpr uint16_t kDataFc4Statistics = 9;
constexpr uint16_t kDataDcbx = 11;
constexpr uint16_t kDataPortSummary = 0x6A;
constexpr uint16_t kDataPortStatistics = 0x70;

// Request sizes the management API fills.
constexpr uint32_t kRemotePortRequestLen = 16;
constexpr uint32_t kPortSummaryRequestLen = 4;
constexpr uint32_t kFc4StatisticsLen = 112;

// The interface type whose driver version may carry "vm" without meaning a
// single-port view of the adapter.
constexpr uint16_t kInterfaceTypeKeepsPortCount = 3;

// The bytes of the node record that the "vm" port count rule reads: the
// driver version and the interface type, which follows it.
constexpr uint32_t kVmRuleRead = offsetof(EXT_HBA_NODE, InterfaceType) + sizeof(EXT_HBA_NODE::InterfaceType);
static_assert(offsetof(EXT_HBA_NODE, DriverVersion) + sizeof(EXT_HBA_NODE::DriverVersion) <= kVmRuleRead);

// Where an event carries the host number of its port.
constexpr size_t kEventHostNoOffset = 8;
static_assert(offsetof(EXT_ASYNC_EVENT, Payload) + offsetof(EXT_RSCN, host_no) == kEventHostNoOffset);

// The event readers of the netlink road fill up to this many records.
constexpr uint32_t kNetlinkEventRecords = 64;

// Loop identifiers 0..126 of an arbitrated loop and the AL_PA each stands for.
constexpr uint8_t kLoopIdToAlpa[127] = {
    0xEF, 0xE8, 0xE4, 0xE2, 0xE1, 0xE0, 0xDC, 0xDA, 0xD9, 0xD6, 0xD5, 0xD4, 0xD3, 0xD2, 0xD1, 0xCE,
    0xCD, 0xCC, 0xCB, 0xCA, 0xC9, 0xC7, 0xC6, 0xC5, 0xC3, 0xBC, 0xBA, 0xB9, 0xB6, 0xB5, 0xB4, 0xB3,
    0xB2, 0xB1, 0xAE, 0xAD, 0xAC, 0xAB, 0xAA, 0xA9, 0xA7, 0xA6, 0xA5, 0xA3, 0x9F, 0x9E, 0x9D, 0x9B,
    0x98, 0x97, 0x90, 0x8F, 0x88, 0x84, 0x82, 0x81, 0x80, 0x7C, 0x7A, 0x79, 0x76, 0x75, 0x74, 0x73,
    0x72, 0x71, 0x6E, 0x6D, 0x6C, 0x6B, 0x6A, 0x69, 0x67, 0x66, 0x65, 0x63, 0x5C, 0x5A, 0x59, 0x56,
    0x55, 0x54, 0x53, 0x52, 0x51, 0x4E, 0x4D, 0x4C, 0x4B, 0x4A, 0x49, 0x47, 0x46, 0x45, 0x43, 0x3C,
    0x3A, 0x39, 0x36, 0x35, 0x34, 0x33, 0x32, 0x31, 0x2E, 0x2D, 0x2C, 0x2B, 0x2A, 0x29, 0x27, 0x26,
    0x25, 0x23, 0x1F, 0x1E, 0x1D, 0x1B, 0x18, 0x17, 0x10, 0x0F, 0x08, 0x04, 0x02, 0x01, 0x00,
};
constexpr uint16_t kLoopIdCount = sizeof kLoopIdToAlpa;
static_assert(kLoopIdCount == 127);

// Type bit of a discovered port or target whose identifier the driver knows
// to be a fabric address (never completed from the loop table).
constexpr uint16_t kTypeFabricDevice = 0x8;

// One request of a worker. A missing buffer travels with length 0, so that
// the driver is never pointed at a length behind a null address. record_len:
// as VxRequest's.
int send(const char* name, int fd, const vxapi_priv_database* rec, uint8_t command, uint16_t sub_code,
         uint16_t instance, const void* request, uint32_t request_len, void* response, uint32_t response_len,
         VxReply* reply, uint32_t record_len = 0) {
    VxRequest req;
    req.command = command;
    req.sub_code = sub_code;
    req.instance = instance;
    req.request = request;
    req.request_len = request != nullptr ? request_len : 0;
    req.response = response;
    req.response_len = response != nullptr ? response_len : 0;
    req.record_len = record_len;
    return vxapi_send_request(name, fd, rec, req, reply);
}

// A query without a request buffer into a response record, which the driver
// fills whole; *delivered (when asked): the bytes of it that came.
int query(const char* name, int fd, vxapi_priv_database* rec, uint8_t command, uint16_t sub_code,
          uint16_t instance, void* response, uint32_t response_len, uint32_t* status,
          uint32_t* delivered = nullptr) {
    VxReply reply;
    const int result =
        send(name, fd, rec, command, sub_code, instance, nullptr, 0, response, response_len, &reply, response_len);
    if (status != nullptr) *status = reply.status;
    if (delivered != nullptr) *delivered = reply.response_len;
    return result;
}

// A statistics request: a request buffer, a response, the detail status and
// (when asked) the bytes delivered. A record response (record_len as
// VxRequest's) is filled whole.
int get_stats(const char* name, int fd, vxapi_priv_database* rec, uint16_t sub_code, const void* request,
              uint32_t request_len, void* response, uint32_t response_len, uint32_t record_len, uint32_t* status,
              uint32_t* detail_status, uint32_t* delivered = nullptr) {
    VxReply reply;
    const int result = send(name, fd, rec, EXT_CC_GET_DATA, sub_code, 0, request, request_len, response,
                            response_len, &reply, record_len);
    if (status != nullptr) *status = reply.status;
    if (detail_status != nullptr) *detail_status = reply.detail_status;
    if (delivered != nullptr) *delivered = reply.response_len;
    return result;
}

// Whether the text of a fixed-size field, up to its first NUL, contains the
// word. The field need not be terminated.
bool field_contains(const uint8_t* field, size_t size, const char* word) {
    const size_t word_len = std::strlen(word);
    const auto* end = static_cast<const uint8_t*>(std::memchr(field, 0, size));
    const size_t len = end != nullptr ? static_cast<size_t>(end - field) : size;
    return std::search(field, field + len, word, word + word_len) != field + len;
}

// The driver gives a loop port without its address: take the AL_PA from the
// loop identifier.
void complete_alpa(uint8_t* id, uint16_t type, uint16_t loop_id) {
    if ((type & kTypeFabricDevice) != 0 || loop_id >= kLoopIdCount) return;
    if (id[1] != 0 || id[2] != 0 || id[3] != 0) return;
    id[3] = kLoopIdToAlpa[loop_id];
}

void set_aen_feature(vxapi_priv_database* rec, uint32_t enable) {
    VxListLock lock(vxapi_list_mutex());  // the event thread copies the listed records
    if (enable != 0) {
        rec->features |= VX_FEAT_AEN;
    } else {
        rec->features &= ~VX_FEAT_AEN;
    }
}

// Events of a sysfs port through the netlink readers. The readers fill up to
// 64 records whatever the buffer holds, so they fill a full-size buffer that
// starts as a copy of the caller's, and only the whole records that fit the
// caller's buffer are handed over. *length: the bytes handed over.
int netlink_events(vxapi_priv_database* rec, void* buffer, uint32_t* length) {
    const uint32_t capacity = *length;
    EXT_ASYNC_EVENT events[kNetlinkEventRecords] = {};
    const uint32_t preset = std::min<uint32_t>(capacity, sizeof events);
    std::memcpy(events, buffer, preset);

    uint32_t filled = 0;
    int result = 1;
    if ((rec->features & VX_FEAT_NL_VENDOR) != 0 && (rec->features & VX_FEAT_NL_SCSI_FC_ONLY) == 0) {
        result = vxapi_nl_get_aen(static_cast<int>(rec->host_no), events, &filled);
    }
    if (result != 0 && (rec->features & VX_FEAT_NL_SCSI_FC) != 0) {
        // The driver refused its event log: from now on only the transport
        // events are read.
        if (result == 2) rec->features |= VX_FEAT_NL_SCSI_FC_ONLY;
        filled = 0;
        result = vxapi_nl_scsi_fc_get_aen(static_cast<int>(rec->host_no), events, &filled);
    }

    uint32_t delivered = 0;
    if (result == 0) {
        delivered = std::min<uint32_t>(filled, preset);
        delivered -= delivered % sizeof(EXT_ASYNC_EVENT);
        std::memcpy(buffer, events, delivered);
    }
    *length = delivered;
    return result;
}

// ---------------------------------------------------------------- the two roads of the queries

// The driver's requests of the queries whose sysfs twins take the same
// arguments.

int ioctl_hbanode(int fd, vxapi_priv_database* rec, EXT_HBA_NODE* node, uint32_t* status, uint32_t* delivered) {
    uint32_t came = 0;
    const int result = query("vxapi_query_hbanode", fd, rec, EXT_CC_QUERY, kQueryNode, 0, node,
                             sizeof(EXT_HBA_NODE), status, &came);
    if (delivered != nullptr) *delivered = came;
    // A driver that runs inside a virtual machine ("vm" in its version)
    // shows one port of the adapter, unless the interface type says
    // otherwise. Only a version and an interface type that came say so.
    if (result == 0 && node != nullptr && came >= kVmRuleRead &&
        node->InterfaceType != kInterfaceTypeKeepsPortCount &&
        field_contains(node->DriverVersion, sizeof node->DriverVersion, "vm")) {
        node->PortCount = 1;
    }
    return result;
}

int ioctl_hbaport(int fd, vxapi_priv_database* rec, EXT_HBA_PORT* port, uint32_t* status, uint32_t* delivered) {
    return query("vxapi_query_hbaport", fd, rec, EXT_CC_QUERY, kQueryPort, 0, port, sizeof(EXT_HBA_PORT), status,
                 delivered);
}

int ioctl_discport(int fd, vxapi_priv_database* rec, uint16_t index, EXT_DISC_PORT* port, uint32_t* status) {
    return query("vxapi_query_discport", fd, rec, EXT_CC_QUERY, kQueryDiscPort, index, port, sizeof(EXT_DISC_PORT),
                 status);
}

int ioctl_disctgt(int fd, vxapi_priv_database* rec, uint16_t index, EXT_DISC_TARGET* target, uint32_t* status) {
    return query("vxapi_query_disctgt", fd, rec, EXT_CC_QUERY, kQueryDiscTarget, index, target,
                 sizeof(EXT_DISC_TARGET), status);
}

int ioctl_chip(int fd, vxapi_priv_database* rec, EXT_CHIP* chip, uint32_t* status, uint32_t* delivered) {
    return query("vxapi_query_chip", fd, rec, EXT_CC_QUERY, kQueryChip, 0, chip, sizeof(EXT_CHIP), status,
                 delivered);
}

int ioctl_cnaport(int fd, vxapi_priv_database* rec, EXT_CNA_PORT* cna, uint32_t* status) {
    return query("vxapi_query_cnaport", fd, rec, EXT_CC_QUERY, kQueryCnaPort, 0, cna, sizeof(EXT_CNA_PORT),
                 status);
}

int ioctl_driver(int fd, vxapi_priv_database* rec, EXT_DRIVER* driver, uint32_t* status) {
    return query("vxapi_query_driver", fd, rec, EXT_CC_GET_DATA, kDataDriver, 0, driver, sizeof(EXT_DRIVER),
                 status);
}

int ioctl_fw(int fd, vxapi_priv_database* rec, EXT_FW* fw, uint32_t* status) {
    return query("vxapi_query_fw", fd, rec, EXT_CC_GET_DATA, kDataFirmware, 0, fw, sizeof(EXT_FW), status);
}

int ioctl_dcbx_param(int fd, vxapi_priv_database* rec, void* response, uint32_t* length, uint32_t* status) {
    VxReply reply;
    const int result = send("vxapi_get_dcbx_param", fd, rec, EXT_CC_GET_DATA, kDataDcbx, 0, nullptr, 0, response,
                            length != nullptr ? *length : 0, &reply);
    if (status != nullptr) *status = reply.status;
    // The bytes delivered, never more than the buffer holds.
    if (length != nullptr && result != VX_RESULT_NOT_BUILT) *length = reply.response_len;
    return result;
}

int ioctl_driver_specifics(int fd, vxapi_priv_database* rec, void* response, uint32_t* status) {
    VxRequest req;
    req.command = EXT_CC_DRIVER_SPECIFIC;
    req.response = response;
    req.response_len = response != nullptr ? kDriverSpecificsLen : 0;
    req.record_len = kDriverSpecificsLen;
    VxReply reply;
    const int result = vxapi_send_request("vxapi_get_driver_specifics", fd, rec, req, &reply);
    if (status != nullptr) *status = reply.status;
    return result;
}

// The sysfs road builds the node, port and chip records itself from the
// attributes it reads: every byte of them is its own.
template <class Record, int (*Build)(int, vxapi_priv_database*, Record*, uint32_t*)>
int sysfs_record(int fd, vxapi_priv_database* rec, Record* record, uint32_t* status, uint32_t* delivered) {
    if (delivered != nullptr) *delivered = sizeof(Record);
    return Build(fd, rec, record, status);
}

// The queries whose two forms take the worker's own arguments: one instance
// per road. The workers ask the port's instance (the other queries have
// forms of their own per road and choose with an if). *delivered of the
// node, port and chip queries (when asked): the bytes of the record that came.
struct VxQueryRoad {
    int (*hbanode)(int fd, vxapi_priv_database* rec, EXT_HBA_NODE* node, uint32_t* status, uint32_t* delivered);
    int (*hbaport)(int fd, vxapi_priv_database* rec, EXT_HBA_PORT* port, uint32_t* status, uint32_t* delivered);
    int (*discport)(int fd, vxapi_priv_database* rec, uint16_t index, EXT_DISC_PORT* port, uint32_t* status);
    int (*disctgt)(int fd, vxapi_priv_database* rec, uint16_t index, EXT_DISC_TARGET* target, uint32_t* status);
    int (*chip)(int fd, vxapi_priv_database* rec, EXT_CHIP* chip, uint32_t* status, uint32_t* delivered);
    int (*cnaport)(int fd, vxapi_priv_database* rec, EXT_CNA_PORT* cna, uint32_t* status);
    int (*driver)(int fd, vxapi_priv_database* rec, EXT_DRIVER* driver, uint32_t* status);
    int (*fw)(int fd, vxapi_priv_database* rec, EXT_FW* fw, uint32_t* status);
    int (*dcbx_param)(int fd, vxapi_priv_database* rec, void* response, uint32_t* length, uint32_t* status);
    int (*driver_specifics)(int fd, vxapi_priv_database* rec, void* response, uint32_t* status);
};

constexpr VxQueryRoad kIoctlQueries = {
    .hbanode = ioctl_hbanode,
    .hbaport = ioctl_hbaport,
    .discport = ioctl_discport,
    .disctgt = ioctl_disctgt,
    .chip = ioctl_chip,
    .cnaport = ioctl_cnaport,
    .driver = ioctl_driver,
    .fw = ioctl_fw,
    .dcbx_param = ioctl_dcbx_param,
    .driver_specifics = ioctl_driver_specifics,
};

constexpr VxQueryRoad kSysfsQueries = {
    .hbanode = sysfs_record<EXT_HBA_NODE, vxsysfs_query_hbanode>,
    .hbaport = sysfs_record<EXT_HBA_PORT, vxsysfs_query_hbaport>,
    .discport = vxsysfs_query_discport,
    .disctgt = vxsysfs_query_disctgt,
    .chip = sysfs_record<EXT_CHIP, vxsysfs_query_chip>,
    .cnaport = vxsysfs_query_cnaport,
    .driver = vxsysfs_query_driver,
    .fw = vxsysfs_query_fw,
    .dcbx_param = vxsysfs_get_dcbx_param,
    .driver_specifics = vxsysfs_get_driver_specifics,
};

const VxQueryRoad& queries_of(const vxapi_priv_database* rec) {
    return vxapi_is_sysfs_port(rec) ? kSysfsQueries : kIoctlQueries;
}

}  // namespace

bool vxapi_loop_id_to_alpa(uint16_t loop_id, uint8_t* alpa) {
    if (loop_id >= kLoopIdCount) return false;
    if (alpa != nullptr) *alpa = kLoopIdToAlpa[loop_id];
    return true;
}

int vxapi_query_hbanode(int fd, vxapi_priv_database* rec, EXT_HBA_NODE* node, uint32_t* status,
                        uint32_t* delivered) {
    return queries_of(rec).hbanode(fd, rec, node, status, delivered);
}

int vxapi_query_hbaport(int fd, vxapi_priv_database* rec, EXT_HBA_PORT* port, uint32_t* status,
                        uint32_t* delivered) {
    return queries_of(rec).hbaport(fd, rec, port, status, delivered);
}

int vxapi_query_discport(int fd, vxapi_priv_database* rec, uint16_t index, EXT_DISC_PORT* port, uint32_t* status) {
    uint32_t local_status = 0;
    if (status == nullptr) status = &local_status;
    const int result = queries_of(rec).discport(fd, rec, index, port, status);
    if (result == 0 && *status == EXT_STATUS_OK && port != nullptr) complete_alpa(port->Id, port->Type, port->LoopID);
    return result;
}

int vxapi_query_disctgt(int fd, vxapi_priv_database* rec, uint16_t index, EXT_DISC_TARGET* target,
                        uint32_t* status) {
    uint32_t local_status = 0;
    if (status == nullptr) status = &local_status;
    const int result = queries_of(rec).disctgt(fd, rec, index, target, status);
    if (result == 0 && *status == EXT_STATUS_OK && target != nullptr) {
        complete_alpa(target->Id, target->Type, target->LoopID);
    }
    return result;
}

int vxapi_query_chip(int fd, vxapi_priv_database* rec, EXT_CHIP* chip, uint32_t* status, uint32_t* delivered) {
    return queries_of(rec).chip(fd, rec, chip, status, delivered);
}

int vxapi_query_cnaport(int fd, vxapi_priv_database* rec, EXT_CNA_PORT* cna, uint32_t* status) {
    return queries_of(rec).cnaport(fd, rec, cna, status);
}

int vxapi_query_driver(int fd, vxapi_priv_database* rec, EXT_DRIVER* driver, uint32_t* status) {
    return queries_of(rec).driver(fd, rec, driver, status);
}

int vxapi_query_fw(int fd, vxapi_priv_database* rec, EXT_FW* fw, uint32_t* status) {
    return queries_of(rec).fw(fd, rec, fw, status);
}

int vxapi_get_statistics(int fd, vxapi_priv_database* rec, EXT_HBA_PORT_STAT* stat, uint32_t* status,
                         uint32_t* detail_status) {
    if (vxapi_is_sysfs_port(rec)) return vxsysfs_get_statistics(fd, rec, stat, status);
    return get_stats("vxapi_get_statistics", fd, rec, kDataStatistics, nullptr, 0, stat, sizeof(EXT_HBA_PORT_STAT),
                     sizeof(EXT_HBA_PORT_STAT), status, detail_status);
}

int vxapi_get_port_statistics(int fd, vxapi_priv_database* rec, const void* request, EXT_HBA_PORT_STAT* stat,
                              uint32_t* status, uint32_t* detail_status) {
    if (vxapi_is_sysfs_port(rec)) return vxsysfs_get_port_statistics(fd, rec, request, stat, status);
    return get_stats("vxapi_get_port_statistics", fd, rec, kDataPortStatistics, request, kRemotePortRequestLen,
                     stat, sizeof(EXT_HBA_PORT_STAT), sizeof(EXT_HBA_PORT_STAT), status, detail_status);
}

// FC-4 statistics have no sysfs form: every port takes the ioctl road.
int vxapi_get_fc4_statistics(int fd, vxapi_priv_database* rec, const void* request, void* response,
                             uint32_t* status, uint32_t* detail_status) {
    return get_stats("vxapi_get_fc4_statistics", fd, rec, kDataFc4Statistics, request, kRemotePortRequestLen,
                     response, kFc4StatisticsLen, kFc4StatisticsLen, status, detail_status);
}

int vxapi_get_port_summary(int fd, vxapi_priv_database* rec, const void* request, void* response,
                           uint32_t response_len, uint32_t* status, uint32_t* detail_status, uint32_t* delivered) {
    if (vxapi_is_sysfs_port(rec)) {
        // The transport builds its reply itself, whole.
        if (delivered != nullptr) *delivered = response_len;
        return vxsysfs_get_port_summary(fd, rec, static_cast<const uint32_t*>(request),
                                        static_cast<EXT_DEVICEDATA*>(response), response_len, status,
                                        detail_status);
    }
    const int result = get_stats("vxapi_get_port_summary", fd, rec, kDataPortSummary, request,
                                 kPortSummaryRequestLen, response, response_len, 0, status, detail_status, delivered);
    if (result == VX_RESULT_NOT_BUILT) {
        vxdbg_line(VXDBG_ERROR | VXDBG_STEP, "vxapi_get_port_summary: init ioctl failed. status=",
                   static_cast<uint32_t>(result), VXDBG_HEX);
    }
    return result;
}

int vxapi_get_dcbx_param(int fd, vxapi_priv_database* rec, void* response, uint32_t* length, uint32_t* status) {
    return queries_of(rec).dcbx_param(fd, rec, response, length, status);
}

int vxapi_wwpn_to_scsiaddr(int fd, vxapi_priv_database* rec, const void* request, uint32_t request_len,
                           EXT_SCSI_ADDR* addr, uint32_t* status) {
    if (vxapi_is_sysfs_port(rec)) {
        return vxsysfs_wwpn_to_scsiaddr(fd, rec, static_cast<const uint8_t*>(request), request_len, addr, status);
    }
    // A driver that knows no address for the name leaves the answer zero.
    if (addr != nullptr) std::memset(addr, 0, sizeof *addr);
    VxReply reply;
    const int result = send("vxapi_wwpn_to_scsiaddr", fd, rec, EXT_CC_WWPN_TO_SCSIADDR, 0, 0, request, request_len,
                            addr, sizeof(EXT_SCSI_ADDR), &reply);
    if (status != nullptr) *status = reply.status;
    if (result == VX_RESULT_NOT_BUILT && vxdbg_on(VXDBG_ERROR | VXDBG_STEP)) {
        vxdbg_print("vxapi_wwpn_to_scsiaddr(", static_cast<uint32_t>(fd), VXDBG_INT, 0);
        vxdbg_print("): mem alloc failed.", 0, VXDBG_NONE, 1);
    }
    return result;
}

int vxapi_async_event_reg(int fd, vxapi_priv_database* rec, uint32_t enable, uint32_t* buf_len, uint32_t* status) {
    uint32_t local_status = 0;
    if (status == nullptr) status = &local_status;
    if (rec == nullptr) {
        // Event reporting is a state of the port's record.
        vxdbg_line(VXDBG_ERROR | VXDBG_STEP, "vxapi_async_event_reg: no port record");
        return VX_RESULT_NOT_BUILT;
    }

    // A sysfs port that has a netlink socket gets its events from the
    // socket: the record's flag is the whole of the registration.
    if (vxapi_is_sysfs_port(rec) && (rec->features & (VX_FEAT_NL_VENDOR | VX_FEAT_NL_SCSI_FC)) != 0) {
        *status = EXT_STATUS_OK;
        set_aen_feature(rec, enable);
        return VX_RESULT_OK;
    }

    EXT_REG_AEN reg{};
    reg.Enable = enable;
    VxRequest req;
    req.command = EXT_CC_REG_AEN;
    req.request = &reg;
    req.request_len = sizeof reg;
    VxReply reply;
    const int result = vxapi_send_request("vxapi_async_event_reg", fd, rec, req, &reply);
    if (result == VX_RESULT_NOT_BUILT) return result;
    const int saved_errno = errno;
    *status = reply.status;
    if (buf_len != nullptr) *buf_len = reg.BufLength;
    // The library's view follows the caller's wish whatever the driver said:
    // closing a port must always end its event reporting.
    set_aen_feature(rec, enable);
    errno = saved_errno;
    return result;
}

int vxapi_async_event_get(int fd, vxapi_priv_database* rec, void* buffer, uint32_t* length, uint32_t* status) {
    uint32_t local_status = 0;
    if (status == nullptr) status = &local_status;
    *status = EXT_STATUS_OK;
    if (rec == nullptr || buffer == nullptr || length == nullptr) {
        // Events read without a buffer to hold them, or without the port
        // they belong to, would be lost.
        vxdbg_line(VXDBG_ERROR | VXDBG_EVENT, "vxapi_async_event_get: invalid parameter");
        return VX_RESULT_NOT_BUILT;
    }

    int result;
    if (vxapi_is_sysfs_port(rec)) {
        result = netlink_events(rec, buffer, length);
    } else {
        VxRequest req;
        req.command = EXT_CC_GET_AEN;
        req.response = buffer;
        req.response_len = *length;
        VxReply reply;
        result = vxapi_send_request("vxapi_async_event_get", fd, rec, req, &reply);
        const int saved_errno = errno;
        // The bytes delivered (never more than the buffer holds); each whole
        // event in them is stamped with the port's host number.
        if (result != VX_RESULT_NOT_BUILT) {
            *length = reply.response_len;
            *status = reply.status;
            auto* events = static_cast<uint8_t*>(buffer);
            const uint32_t count = *length / sizeof(EXT_ASYNC_EVENT);
            for (uint32_t i = 0; i < count; ++i) {
                std::memcpy(events + i * sizeof(EXT_ASYNC_EVENT) + kEventHostNoOffset, &rec->host_no,
                            sizeof rec->host_no);
            }
        }
        errno = saved_errno;
    }

    if (vxdbg_on(VXDBG_EVENT)) {
        const int saved_errno = errno;
        vxdbg_print("vxapi_async_event_get: exiting normally. RspLen=", *length, VXDBG_DEC, 0);
        vxdbg_print(", stat = ", static_cast<uint32_t>(result), VXDBG_HEX, 1);
        errno = saved_errno;
    }
    return result;
}

void vxapi_read_flash(int fd, vxapi_priv_database* rec, uint32_t offset, uint32_t length, void* buffer,
                      uint32_t size) {
    if (buffer == nullptr || length == 0 || size == 0 || length > size) {
        vxdbg_line(VXDBG_ERROR | VXDBG_STEP, "vxapi_read_flash: Invalid parameter");
        return;
    }
    // The flash is read aside and reaches the caller's buffer only when the
    // driver answered 0 with every byte: callers tell a failed read by a
    // buffer left as it was, and a part read would pass for flash contents.
    std::unique_ptr<uint8_t, FreeDeleter> scratch(static_cast<uint8_t*>(std::calloc(1, length)));
    if (!scratch) {
        vxdbg_line(VXDBG_ERROR | VXDBG_STEP, "vxapi_read_flash: mem alloc failed");
        return;
    }
    VxRequest req;
    req.command = EXT_CC_READ_OPTROM;
    req.sub_code = 0xFFFF;
    req.request_len = length;  // no request buffer, but the length of the read
    req.response = scratch.get();
    req.response_len = length;
    req.reserved1 = offset;
    VxReply reply;
    const int result = vxapi_send_request("vxapi_read_flash", fd, rec, req, &reply);
    if (result == 0 && reply.status == 0 && reply.response_len == length) std::memcpy(buffer, scratch.get(), length);
}

int vxapi_get_driver_specifics(int fd, vxapi_priv_database* rec, void* response, uint32_t* status) {
    return queries_of(rec).driver_specifics(fd, rec, response, status);
}
