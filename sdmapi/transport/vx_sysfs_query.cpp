// Queries of sysfs ports: the port, converged port, discovered ports and
// targets, driver, firmware, port summary, SCSI address and region versions,
// answered from the attribute files of the port's SCSI host and FC host and
// from the FC transport's remote ports and the SCSI devices, into the records
// the driver fills on the ioctl road.
//
// Each query starts from status 9 (no such device) and sets 0 when it has
// answered. A missing attribute reads as empty text or 0 and the query goes
// on.
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "base/vx_chips.h"
#include "base/vx_region_records.h"
#include "base/vx_request.h"
#include "transport/vx_sysfs.h"
#include "transport/vx_sysfs_mgmt.h"
#include "transport/vx_sysfs_query.h"
#include "transport/vx_sysfs_walk.h"

using vxsysfs::EntryList;
using vxsysfs::starts_with;

namespace {

constexpr size_t kWwnSize = 8;
constexpr size_t kTextSize = 128;       // link state, speed and the other short texts
constexpr size_t kFwTextSize = 80;      // "fw_version"
constexpr size_t kVersionTextSize = 32; // "mpi_version", "phy_version", "vn_port_mac_address"
constexpr size_t kNameSize = 32;        // an entry name prefix

// A remote port's directory path must leave room for its longest attribute
// name, "scsi_target_id", and the terminator.
constexpr size_t kRportPathMax = VXSYSFS_PATH_SIZE - sizeof "scsi_target_id";
static_assert(kRportPathMax == 241);

// Target ids of one host the target count tells apart.
constexpr uint32_t kTargetIdsCounted = 256;

// Record values.
constexpr uint16_t kTypeTargetPort = 2;       // a discovered port or target
constexpr uint16_t kNoLoopId = 0xFFFF;
constexpr uint16_t kPortTypeInitiator = 1;    // the port record's Type
constexpr uint16_t kDiscPortNameTypeWwpn = 2;
constexpr uint8_t kFc4TypesFcp = 3;
constexpr uint16_t kLunsPerTarget = 256;
constexpr uint16_t kLunsPerTargetLarge = 4096;
constexpr uint16_t kTargetsPerBus = 512;
constexpr uint32_t kMaxTransferLen = 0xFFFFFFFF;

// The supported speed of a chip outside the chip table: 1 Gbit.
constexpr uint8_t kDefaultSupportedSpeed = 0x01;

struct SpeedText {
    const char* text;
    uint8_t speed;  // the speed in Gbit/s read as hexadecimal digits
};
constexpr SpeedText kSpeeds[] = {
    {"32 Gbit", 0x32}, {"16 Gbit", 0x16}, {"10 Gbit", 0x10}, {"8 Gbit", 8},
    {"4 Gbit", 4},     {"2 Gbit", 2},     {"1 Gbit", 1},
};

struct LinkState {
    const char* text;
    uint16_t state;
    uint16_t mode;
    uint16_t topology;
};
// Any other text: link down.
constexpr LinkState kLinkStates[] = {
    {"Link Down", 2, 0, 0},
    {"Unknown Link State", 1, 0, 0},
    {"Link Up - Loop", 0, 2, 1},
    {"Link Up - FL_Port", 0, 2, 4},
    {"Link Up - N_Port to N_Port", 0, 1, 2},
    {"Link Up - F_Port", 0, 1, 8},
};
constexpr LinkState kLinkDown = {"", 2, 0, 0};

// Calls visit(directory path) for each remote port of the host, in the
// listing's order, until it returns false.
template <typename Visit>
void each_rport(uint32_t host_no, Visit visit) {
    char dir[VXSYSFS_PATH_SIZE];
    vxsysfs_get_fc_rport_path(dir, nullptr);
    char prefix[kNameSize];
    std::snprintf(prefix, sizeof prefix, "%s-%u:", "rport", host_no);
    EntryList list(dir);
    list.each([&](const char* entry) {
        if (!starts_with(entry, prefix)) return true;
        char path[VXSYSFS_PATH_SIZE];
        vxsysfs_get_fc_rport_path(path, entry);
        return visit(static_cast<const char*>(path));
    });
}

// Calls visit(entry name) for each SCSI device whose name begins with the
// prefix, in the listing's order, until it returns false.
template <typename Visit>
void each_scsi_device(const char* prefix, Visit visit) {
    char dir[VXSYSFS_PATH_SIZE];
    vxsysfs_get_scsi_dev_path(dir, nullptr);
    EntryList list(dir);
    list.each([&](const char* entry) { return !starts_with(entry, prefix) || visit(entry); });
}

bool is_online_target(const char* rport_path) {
    return vxsysfs_is_rport_online(rport_path) && vxsysfs_is_rport_a_target(rport_path);
}

void read_link_state(const vxapi_priv_database* rec, EXT_HBA_PORT* port) {
    char text[kTextSize];
    vxsysfs::scsi_host_text(rec->host_no, "link_state", text, sizeof text);
    if (text[0] == '\0') vxsysfs::scsi_host_text(rec->host_no, "state", text, sizeof text);
    LinkState found = kLinkDown;
    for (const LinkState& s : kLinkStates) {
        if (std::strcmp(text, s.text) == 0) found = s;
    }
    port->State = found.state;
    port->Mode = found.mode;
    port->Topology = found.topology;
}

void read_fw_state(const vxapi_priv_database* rec, EXT_HBA_PORT* port) {
    char text[kTextSize];
    vxsysfs::scsi_host_text(rec->host_no, "fw_state", text, sizeof text);
    unsigned short words[4] = {};
    std::sscanf(text, "0x%hx 0x%hx 0x%hx 0x%*x 0x%*x 0x%hx", &words[0], &words[1], &words[2], &words[3]);
    port->LinkState1 = words[0];
    port->LinkState2 = words[1];
    port->LinkState3 = words[2];
    port->LinkState6 = words[3];
}

void read_fc_host(const vxapi_priv_database* rec, EXT_HBA_PORT* port) {
    char text[kTextSize];
    vxsysfs::fc_host_text(rec->host_no, "speed", text, sizeof text);
    port->PortSpeed = 0;
    for (const SpeedText& s : kSpeeds) {
        if (std::strcmp(text, s.text) == 0) port->PortSpeed = s.speed;
    }

    char path[VXSYSFS_PATH_SIZE];
    char* end = vxsysfs_get_fc_host_path(path, static_cast<uint16_t>(rec->host_no));
    if (vxsysfs_path_append(path, end, "fabric_name") != nullptr) {
        vxsysfs_get_hex_attr(path, port->FabricName, sizeof port->FabricName);
    }
    // No fabric: the driver shows the port's own node name, or all ones.
    static constexpr uint8_t kAllOnes[kWwnSize] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    if (std::memcmp(port->FabricName, rec->wwnn, kWwnSize) == 0 ||
        std::memcmp(port->FabricName, kAllOnes, kWwnSize) == 0) {
        std::memset(port->FabricName, 0, sizeof port->FabricName);
    }
}

uint8_t supported_speed(uint16_t device) {
    const VxChip* chip = vx_chip(device);
    return chip != nullptr ? chip->port_speed : kDefaultSupportedSpeed;
}

// One running version of the region version list, "%hhu.%hhu.%hhu" of the
// SCSI host's attribute.
void put_running_version(EXT_ADAPTERREGIONVERSION* list, uint32_t index, uint16_t region, uint32_t host_no,
                         const char* attr) {
    char text[kVersionTextSize];
    vxsysfs::scsi_host_text(host_no, attr, text, sizeof text);
    EXT_REGIONVERSION entry{};
    entry.Region = region;
    entry.Location = VX_VERSION_RUNNING;
    std::sscanf(text, "%hhu.%hhu.%hhu", &entry.Version[0], &entry.Version[1], &entry.Version[2]);
    entry.VersionLength = 3;
    std::memcpy(reinterpret_cast<uint8_t*>(list) + vx_region_version_list_size(index), &entry, sizeof entry);
}

EXT_DEVICEDATAENTRY* summary_entry(EXT_DEVICEDATA* data, uint32_t i) {
    return reinterpret_cast<EXT_DEVICEDATAENTRY*>(reinterpret_cast<uint8_t*>(data) + sizeof(EXT_DEVICEDATA) +
                                                  size_t{i} * sizeof(EXT_DEVICEDATAENTRY));
}

}  // namespace

// ---------------------------------------------------------------- readers

uint16_t vxsysfs_get_first_lun(uint16_t host_no, uint16_t tgt_id) {
    vxsysfs::trace_entered("vxsysfs_get_first_lun: entered");
    char prefix[kNameSize];
    std::snprintf(prefix, sizeof prefix, "%d:0:%d:", host_no, tgt_id);
    uint16_t lun = 0;
    each_scsi_device(prefix, [&](const char* entry) {
        lun = vxsysfs_get_lun_no(entry);
        return false;
    });
    return lun;
}

void vxsysfs_get_rport_attributes(const char* rpath, uint8_t* wwnn, uint8_t* wwpn, uint8_t* id, uint16_t* tid) {
    if (rpath == nullptr || std::strlen(rpath) > kRportPathMax) return;
    char path[VXSYSFS_PATH_SIZE];
    std::snprintf(path, sizeof path, "%s", rpath);
    char* end = path + std::strlen(path);
    const auto at = [&](const char* name) {
        *end = '\0';
        return vxsysfs_path_append(path, end, name) != nullptr ? path : nullptr;
    };
    if (wwnn != nullptr) vxsysfs_get_hex_attr(at("node_name"), wwnn, kWwnSize);
    if (wwpn != nullptr) vxsysfs_get_hex_attr(at("port_name"), wwpn, kWwnSize);
    if (id != nullptr) {
        id[0] = 0;
        vxsysfs_get_hex_attr(at("port_id"), id + 1, 3);
    }
    if (tid != nullptr) *tid = static_cast<uint16_t>(vxsysfs_get_int_attr(at("scsi_target_id")));
}

uint16_t vxsysfs_count_port(const vxapi_priv_database* api_priv_data_inst) {
    if (api_priv_data_inst == nullptr) return 0;
    uint16_t count = 0;
    each_rport(api_priv_data_inst->host_no, [&](const char* rport) {
        if (vxsysfs_is_rport_a_target(rport)) ++count;
        return true;
    });
    return count;
}

uint16_t vxsysfs_count_target(const vxapi_priv_database* api_priv_data_inst) {
    if (api_priv_data_inst == nullptr) return 0;
    char prefix[kNameSize];
    std::snprintf(prefix, sizeof prefix, "%u:", api_priv_data_inst->host_no);
    bool seen[kTargetIdsCounted] = {};
    uint16_t count = 0;
    each_scsi_device(prefix, [&](const char* entry) {
        const uint16_t target = vxsysfs_get_target_id(entry);
        if (target >= kTargetIdsCounted) return false;
        if (!seen[target]) ++count;
        seen[target] = true;
        return true;
    });
    return count;
}

// ---------------------------------------------------------------- queries

int vxsysfs_query_hbaport(int, vxapi_priv_database* api_priv_data_inst, EXT_HBA_PORT* phba_port,
                          uint32_t* pext_stat) {
    vxsysfs::Status status(pext_stat, EXT_STATUS_DEV_NOT_FOUND);
    if (!vxsysfs::begin_query("vxsysfs_query_hbaport: entered", api_priv_data_inst, phba_port)) return 0;
    const vxapi_priv_database* rec = api_priv_data_inst;

    std::memcpy(phba_port->WWPN, rec->wwpn, sizeof phba_port->WWPN);
    std::memcpy(phba_port->Id, rec->port_id, sizeof phba_port->Id);
    phba_port->Type = kPortTypeInitiator;
    phba_port->DiscPortNameType = kDiscPortNameTypeWwpn;
    phba_port->PortSupportedFC4Types = kFc4TypesFcp;
    phba_port->PortActiveFC4Types = kFc4TypesFcp;
    const uint16_t device = vxsysfs::device_id_of(rec);
    phba_port->PortSupportedSpeed = supported_speed(device);
    read_link_state(rec, phba_port);
    if (vx_chip_has(device, VX_CHIP_FW_STATE)) read_fw_state(rec, phba_port);
    read_fc_host(rec, phba_port);
    phba_port->DiscPortCount = vxsysfs_count_port(rec);
    phba_port->DiscTargetCount = vxsysfs_count_target(rec);
    status = EXT_STATUS_OK;
    return 0;
}

int vxsysfs_query_cnaport(int, vxapi_priv_database* api_priv_data_inst, EXT_CNA_PORT* pcna_port,
                          uint32_t* pext_stat) {
    vxsysfs::Status status(pext_stat, EXT_STATUS_DEV_NOT_FOUND);
    if (!vxsysfs::begin_query("vxsysfs_query_cnaport: entered", api_priv_data_inst, pcna_port)) return 0;
    const uint32_t host_no = api_priv_data_inst->host_no;

    pcna_port->VLanId = static_cast<uint16_t>(vxsysfs::scsi_host_number(host_no, "vlan_id"));
    char mac[kVersionTextSize];
    vxsysfs::scsi_host_text(host_no, "vn_port_mac_address", mac, sizeof mac);
    // The record keeps the address with its last byte first.
    uint8_t* out = pcna_port->VNPortMACAddress;
    std::sscanf(mac, "%hhx:%hhx:%hhx:%hhx:%hhx:%hhx", &out[5], &out[4], &out[3], &out[2], &out[1], &out[0]);
    pcna_port->FabricParam = static_cast<uint16_t>(vxsysfs::scsi_host_number(host_no, "fabric_param"));
    status = EXT_STATUS_OK;
    return 0;
}

int32_t vxsysfs_query_adapter_versions(int, vxapi_priv_database* api_priv_data_inst,
                                       EXT_ADAPTERREGIONVERSION* padapter_version, uint32_t* puser_count,
                                       uint32_t* pext_stat) {
    vxsysfs::trace_entered("vxsysfs_query_adapter_versions: entered");
    vxsysfs::Status status(pext_stat, EXT_STATUS_DEV_NOT_FOUND);
    if (api_priv_data_inst == nullptr || padapter_version == nullptr || puser_count == nullptr) return 0;
    if (!vx_chip_has(vxsysfs::device_id_of(api_priv_data_inst), VX_CHIP_REGION_VERSIONS)) return 0;
    // The list holds *puser_count entries: an entry is written only at an
    // index below it, whatever Length the caller's list already counts.
    const uint32_t capacity = *puser_count;
    if (capacity == 0) return 0;
    const uint32_t host_no = api_priv_data_inst->host_no;

    put_running_version(padapter_version, 0, VX_REGION_MPI, host_no, "mpi_version");
    padapter_version->Length += 1;
    if (padapter_version->Length >= capacity || capacity < 2) return 0;
    put_running_version(padapter_version, 1, VX_REGION_EDC, host_no, "phy_version");
    padapter_version->Length += 1;
    status = EXT_STATUS_OK;
    return 0;
}

int vxsysfs_query_discport(int, vxapi_priv_database* api_priv_data_inst, uint16_t disc_port_idx,
                           EXT_DISC_PORT* pdisc_port, uint32_t* pext_stat) {
    vxsysfs::Status status(pext_stat, EXT_STATUS_DEV_NOT_FOUND);
    if (!vxsysfs::begin_query("vxsysfs_query_discport: entered", api_priv_data_inst, pdisc_port)) return 0;

    uint32_t count = 0;
    each_rport(api_priv_data_inst->host_no, [&](const char* rport) {
        if (!is_online_target(rport)) return true;
        if (count++ != disc_port_idx) return true;
        vxsysfs_get_rport_attributes(rport, pdisc_port->WWNN, pdisc_port->WWPN, pdisc_port->Id,
                                     &pdisc_port->TargetId);
        pdisc_port->Type = kTypeTargetPort;
        pdisc_port->LoopID = kNoLoopId;
        pdisc_port->Bus = 0;
        status = EXT_STATUS_OK;
        return false;
    });
    return 0;
}

int vxsysfs_query_disctgt(int, vxapi_priv_database* api_priv_data_inst, uint16_t disc_tgt_id,
                          EXT_DISC_TARGET* pdisc_tgt, uint32_t* pext_stat) {
    vxsysfs::Status status(pext_stat, EXT_STATUS_DEV_NOT_FOUND);
    if (!vxsysfs::begin_query("vxsysfs_query_disctgt: entered", api_priv_data_inst, pdisc_tgt)) return 0;
    const uint32_t host_no = api_priv_data_inst->host_no;

    char prefix[kNameSize];
    std::snprintf(prefix, sizeof prefix, "%u:", host_no);
    each_scsi_device(prefix, [&](const char* entry) {
        if (vxsysfs_get_target_id(entry) == disc_tgt_id) ++pdisc_tgt->LunCount;
        return true;
    });
    if (pdisc_tgt->LunCount == 0) return 0;

    char rport[VXSYSFS_PATH_SIZE];
    if (vxsysfs_find_rport_by_tid(rport, host_no, disc_tgt_id) == 0) return 0;
    vxsysfs_get_rport_attributes(rport, pdisc_tgt->WWNN, pdisc_tgt->WWPN, pdisc_tgt->Id, &pdisc_tgt->TargetId);
    pdisc_tgt->Type = kTypeTargetPort;
    status = EXT_STATUS_OK;
    return 0;
}

int vxsysfs_query_driver(int, vxapi_priv_database* api_priv_data_inst, EXT_DRIVER* pdrvr, uint32_t* pext_stat) {
    vxsysfs::trace_entered("vxsysfs_query_driver: entered");
    vxsysfs::Status status(pext_stat, EXT_STATUS_INVALID_PARAM);
    if (api_priv_data_inst == nullptr || pdrvr == nullptr) return 0;
    const uint32_t host_no = api_priv_data_inst->host_no;
    vxsysfs::scsi_host_text(host_no, "driver_version", reinterpret_cast<char*>(pdrvr->Version),
                            sizeof pdrvr->Version);
    pdrvr->MaxDataSegments = vxsysfs::scsi_host_number(host_no, "sg_tablesize");
    pdrvr->LunsPerTarget =
        (api_priv_data_inst->features & VX_FEAT_LUN_4096) != 0 ? kLunsPerTargetLarge : kLunsPerTarget;
    pdrvr->NumOfBus = 1;
    pdrvr->TargetsPerBus = kTargetsPerBus;
    pdrvr->MaxTransferLen = kMaxTransferLen;
    status = EXT_STATUS_OK;
    return 0;
}

int vxsysfs_query_fw(int, vxapi_priv_database* api_priv_data_inst, EXT_FW* pfw, uint32_t* pext_stat) {
    vxsysfs::trace_entered("vxsysfs_query_fw: entered");
    vxsysfs::Status status(pext_stat, EXT_STATUS_INVALID_PARAM);
    if (api_priv_data_inst == nullptr || pfw == nullptr) return 0;
    char text[kFwTextSize];
    vxsysfs::scsi_host_text(api_priv_data_inst->host_no, "fw_version", text, sizeof text);
    // The version numbers as bytes, not as text.
    std::sscanf(text, "%hhd.%02hhd.%02hhd", reinterpret_cast<signed char*>(&pfw->Version[0]),
                reinterpret_cast<signed char*>(&pfw->Version[1]), reinterpret_cast<signed char*>(&pfw->Version[2]));
    status = EXT_STATUS_OK;
    return 0;
}

int vxsysfs_get_port_summary(int, vxapi_priv_database* api_priv_data_inst, const uint32_t*,
                             EXT_DEVICEDATA* pdev_data, uint32_t devdata_size, uint32_t* pext_stat,
                             uint32_t* pext_dstat) {
    vxsysfs::trace_entered("vxsysfs_get_port_summary: entered");
    // A buffer that cannot hold the list's head gets nothing written.
    vxsysfs::Status status(pext_stat, EXT_STATUS_BUFFER_TOO_SMALL);
    if (pdev_data == nullptr || devdata_size < sizeof(EXT_DEVICEDATA)) return 0;
    status = EXT_STATUS_DEV_NOT_FOUND;
    const uint32_t capacity = (devdata_size - sizeof(EXT_DEVICEDATA)) / sizeof(EXT_DEVICEDATAENTRY);
    uint32_t count = 0;
    if (api_priv_data_inst != nullptr) {
        each_rport(api_priv_data_inst->host_no, [&](const char* rport) {
            if (count >= capacity) return false;
            if (!is_online_target(rport)) return true;
            EXT_DEVICEDATAENTRY entry{};
            uint8_t id[4] = {};
            vxsysfs_get_rport_attributes(rport, entry.NodeWWN, entry.PortWWN, id, &entry.TargetAddress.Target);
            std::memcpy(entry.PortID, id + 1, sizeof entry.PortID);
            entry.LoopID = kNoLoopId;
            std::memcpy(summary_entry(pdev_data, count), &entry, sizeof entry);
            ++count;
            status = EXT_STATUS_OK;
            if (pext_dstat != nullptr) *pext_dstat = 0;
            return true;
        });
    }
    pdev_data->TotalDevices = count;
    pdev_data->ReturnListEntryCount = count;
    return 0;
}

int vxsysfs_wwpn_to_scsiaddr(int, vxapi_priv_database* api_priv_data_inst, const uint8_t* wwpn, uint32_t,
                             EXT_SCSI_ADDR* pscsi_addr, uint32_t* pext_stat) {
    vxsysfs::trace_entered("vxsysfs_wwpn_to_scsiaddr: entered");
    vxsysfs::Status status(pext_stat, EXT_STATUS_DEV_NOT_FOUND);
    if (api_priv_data_inst == nullptr || wwpn == nullptr || pscsi_addr == nullptr) return 0;
    char rport[VXSYSFS_PATH_SIZE];
    if (vxsysfs_find_rport_by_wwpn(rport, api_priv_data_inst->host_no, wwpn) == 0) return 0;
    uint16_t target = 0;
    vxsysfs_get_rport_attributes(rport, nullptr, nullptr, nullptr, &target);
    pscsi_addr->Target = target;
    pscsi_addr->Bus = 0;
    pscsi_addr->Lun = 0;
    status = EXT_STATUS_OK;
    return 0;
}
