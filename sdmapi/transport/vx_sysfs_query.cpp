// Queries of sysfs ports: the port, converged port, discovered ports and
// targets, driver, firmware, port summary, SCSI address and region versions,
// answered from the attribute files of the port's SCSI host and FC host and
// from the FC transport's remote ports and the SCSI devices, into the records
// the driver fills on the ioctl road.
//
// Each query starts from status 9 (no such device) and sets 0 when it has
// answered. A missing attribute that a driver may lack reads as empty text
// or 0 and the query goes on; an attribute that could not be read, or whose
// fields the query takes are no values of theirs, fails the query with the
// status of that answer (vxsysfs_answer_status): what a query reports has
// come. A text is read as a scanf conversion reads it (VxFields): what
// follows the fields a query takes is not judged.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "base/vx_chips.h"
#include "base/vx_region_records.h"
#include "base/vx_request.h"
#include "transport/vx_sysfs.h"
#include "transport/vx_sysfs_mgmt.h"
#include "transport/vx_sysfs_query.h"
#include "transport/vx_sysfs_walk.h"

using vxsysfs::Answers;
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
// The numbers of a version text "a.b.c", each a byte.
constexpr int kVersionNumbers = 3;
constexpr uint64_t kByteMax = 0xFF;
// "fw_version" is "%hhd.%02hhd.%02hhd": two digits at most behind each dot.
constexpr size_t kFwVersionWidth = 2;
// "fw_state": the words the port record takes (1, 2, 3 and 6), the words 4
// and 5 passed over before the sixth.
constexpr int kFwStateWordsNeeded = 3;
constexpr int kFwStateWordsPassed = 2;
constexpr size_t kMacSize = 6;
// "scsi_target_id" of a remote port without a SCSI target.
constexpr uint64_t kNoTargetText = 1;  // the digits behind the sign of "-1"

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

// What a role or state test tells a caller that counts or lists ports: only
// a file that is there and could not be read leaves the port undecided.
VxAttrAnswer decided(VxAttrAnswer answer) {
    return answer == VxAttrAnswer::Failed ? VxAttrAnswer::Failed : VxAttrAnswer::Came;
}

// "link_state", else (absent or empty) "state"; neither there: link down.
// A state that could not be read is no "link down".
void read_link_state(const vxapi_priv_database* rec, EXT_HBA_PORT* port, Answers* answers) {
    char text[kTextSize];
    VxAttrAnswer answer;
    vxsysfs::scsi_host_text(rec->host_no, "link_state", text, sizeof text, &answer);
    (void)answers->take_optional(answer);
    if (answer == VxAttrAnswer::Absent || (answer == VxAttrAnswer::Came && text[0] == '\0')) {
        vxsysfs::scsi_host_text(rec->host_no, "state", text, sizeof text, &answer);
        (void)answers->take_optional(answer);
    }
    LinkState found = kLinkDown;
    for (const LinkState& s : kLinkStates) {
        if (std::strcmp(text, s.text) == 0) found = s;
    }
    port->State = found.state;
    port->Mode = found.mode;
    port->Topology = found.topology;
}

// Words 1, 2, 3 and 6 of the firmware state, as "0x%hx 0x%hx 0x%hx 0x%*hx
// 0x%*hx 0x%hx" takes them: the first three must come; older drivers print
// five words, so a sixth that is not there is 0, while one that is there
// must fit its 16 bits. The words are written only when they came.
VxAttrAnswer parse_fw_state(VxFields* fields, uint16_t* words) {
    uint64_t value[kFwStateWordsNeeded + 1] = {};
    for (int i = 0; i < kFwStateWordsNeeded; ++i) {
        const VxAttrAnswer answer = fields->number(16, UINT16_MAX, &value[i]);
        if (answer != VxAttrAnswer::Came) return answer;
    }
    bool sixth = true;
    for (int i = 0; i < kFwStateWordsPassed && sixth; ++i) {
        sixth = fields->number(16, UINT64_MAX, nullptr) == VxAttrAnswer::Came;
    }
    if (sixth) {
        const VxAttrAnswer answer = fields->number(16, UINT16_MAX, &value[kFwStateWordsNeeded]);
        if (answer == VxAttrAnswer::TooLarge) return answer;
        if (answer != VxAttrAnswer::Came) value[kFwStateWordsNeeded] = 0;
    }
    for (int i = 0; i <= kFwStateWordsNeeded; ++i) words[i] = static_cast<uint16_t>(value[i]);
    return VxAttrAnswer::Came;
}

void read_fw_state(const vxapi_priv_database* rec, EXT_HBA_PORT* port, Answers* answers) {
    char text[kTextSize];
    bool cut = false;
    if (!answers->take_optional(vxsysfs_read_host_fields(rec->host_no, "fw_state", text, sizeof text, &cut))) return;
    VxFields fields(text, sizeof text, cut);
    uint16_t words[kFwStateWordsNeeded + 1];
    if (!answers->take(parse_fw_state(&fields, words))) return;
    port->LinkState1 = words[0];
    port->LinkState2 = words[1];
    port->LinkState3 = words[2];
    port->LinkState6 = words[3];
}

void read_fc_host(const vxapi_priv_database* rec, EXT_HBA_PORT* port, Answers* answers) {
    char text[kTextSize];
    VxAttrAnswer answer;
    vxsysfs::fc_host_text(rec->host_no, "speed", text, sizeof text, &answer);
    (void)answers->take_optional(answer);
    port->PortSpeed = 0;
    for (const SpeedText& s : kSpeeds) {
        if (std::strcmp(text, s.text) == 0) port->PortSpeed = s.speed;
    }

    char path[VXSYSFS_PATH_SIZE];
    char* end = vxsysfs_get_fc_host_path(path, static_cast<uint16_t>(rec->host_no));
    if (vxsysfs_path_append(path, end, "fabric_name") != nullptr) {
        vxsysfs_get_hex_attr(path, port->FabricName, sizeof port->FabricName, &answer);
        (void)answers->take_optional(answer);
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

// The running versions of the region version list, each from its SCSI host
// attribute.
struct RunningVersion {
    uint16_t region;
    const char* attr;
};
constexpr RunningVersion kRunningVersions[] = {{VX_REGION_MPI, "mpi_version"}, {VX_REGION_EDC, "phy_version"}};

// One running version of the region version list from the SCSI host's
// attribute; nothing is put when the version did not come.
VxAttrAnswer put_running_version(EXT_ADAPTERREGIONVERSION* list, uint32_t index, uint16_t region, uint32_t host_no,
                                 const char* attr) {
    EXT_REGIONVERSION entry{};
    const VxAttrAnswer answer = vxsysfs_read_version(host_no, attr, kVersionTextSize, entry.Version);
    if (answer != VxAttrAnswer::Came) return answer;
    entry.Region = region;
    entry.Location = VX_VERSION_RUNNING;
    entry.VersionLength = kVersionNumbers;
    std::memcpy(reinterpret_cast<uint8_t*>(list) + vx_region_version_list_size(index), &entry, sizeof entry);
    return answer;
}

// "%hhx:%hhx:%hhx:%hhx:%hhx:%hhx" into the record's order, last byte first:
// six hexadecimal bytes, white space before each skipped, a colon right
// behind each but the last, nothing behind the sixth judged. Nothing is
// written unless all six came.
VxAttrAnswer parse_mac(VxFields* fields, uint8_t* mac) {
    uint8_t bytes[kMacSize];
    for (size_t i = 0; i < kMacSize; ++i) {
        if (i > 0 && !fields->literal(':')) return VxAttrAnswer::NotNumber;
        uint64_t byte = 0;
        const VxAttrAnswer answer = fields->number(16, kByteMax, &byte);
        if (answer != VxAttrAnswer::Came) return answer;
        bytes[i] = static_cast<uint8_t>(byte);
    }
    vxsysfs_revcpy(mac, bytes, kMacSize);
    return VxAttrAnswer::Came;
}

// A remote port's "scsi_target_id": a decimal of 16 bits, or "-1" (and no
// file at all) for a port not bound to a SCSI target.
VxAttrAnswer read_target_id(const char* path, uint16_t* tid) {
    char text[kTextSize];
    bool cut = false;
    const VxAttrAnswer read = vxsysfs_read_fields(path, text, sizeof text, &cut);
    if (read == VxAttrAnswer::Absent) *tid = VXSYSFS_NO_TARGET_ID;
    if (read != VxAttrAnswer::Came) return read == VxAttrAnswer::Absent ? VxAttrAnswer::Came : read;
    VxFields fields(text, sizeof text, cut);
    fields.skip_space();
    const bool none = fields.literal('-');
    if (none && !fields.at_digit(10)) return VxAttrAnswer::NotNumber;
    uint64_t number = 0;
    const VxAttrAnswer answer = fields.number(10, UINT16_MAX, &number);
    // Of the negative numbers only -1 says something.
    if (none && (answer != VxAttrAnswer::Came || number != kNoTargetText)) return VxAttrAnswer::NotNumber;
    if (answer != VxAttrAnswer::Came) return answer;
    *tid = none ? VXSYSFS_NO_TARGET_ID : static_cast<uint16_t>(number);
    return answer;
}

EXT_DEVICEDATAENTRY* summary_entry(EXT_DEVICEDATA* data, uint32_t i) {
    return reinterpret_cast<EXT_DEVICEDATAENTRY*>(reinterpret_cast<uint8_t*>(data) + sizeof(EXT_DEVICEDATA) +
                                                  size_t{i} * sizeof(EXT_DEVICEDATAENTRY));
}

}  // namespace

// ---------------------------------------------------------------- readers

VxAttrAnswer vxsysfs_read_fields(const char* path, char* text, uint32_t size, bool* cut) {
    VxAttrAnswer answer;
    vxsysfs_get_str_attr(path, text, size, &answer);
    *cut = answer == VxAttrAnswer::TooLarge;
    return *cut ? VxAttrAnswer::Came : answer;
}

VxAttrAnswer vxsysfs_read_host_fields(uint32_t host_no, const char* attr, char* text, uint32_t size, bool* cut) {
    *cut = false;
    if (size > 0) text[0] = '\0';
    char path[VXSYSFS_PATH_SIZE];
    char* end = vxsysfs_get_scsi_host_path(path, static_cast<uint16_t>(host_no));
    if (vxsysfs_path_append(path, end, attr) == nullptr) return VxAttrAnswer::Absent;
    return vxsysfs_read_fields(path, text, size, cut);
}

VxAttrAnswer vxsysfs_parse_numbers(VxFields* fields, int count, size_t width, uint8_t* version) {
    uint8_t numbers[kVersionNumbers];
    if (count <= 0 || count > kVersionNumbers) return VxAttrAnswer::NotNumber;
    for (int i = 0; i < count; ++i) {
        if (i > 0 && !fields->literal('.')) return VxAttrAnswer::NotNumber;
        uint64_t number = 0;
        const VxAttrAnswer answer = fields->number(10, kByteMax, &number, i > 0 ? width : 0);
        if (answer != VxAttrAnswer::Came) return answer;
        numbers[i] = static_cast<uint8_t>(number);
    }
    std::memcpy(version, numbers, static_cast<size_t>(count));
    return VxAttrAnswer::Came;
}

VxAttrAnswer vxsysfs_read_version(uint32_t host_no, const char* attr, uint32_t text_size, uint8_t* version,
                                  size_t width) {
    char text[kTextSize];
    bool cut = false;
    const VxAttrAnswer answer =
        vxsysfs_read_host_fields(host_no, attr, text, std::min<uint32_t>(text_size, sizeof text), &cut);
    if (answer != VxAttrAnswer::Came) return answer;
    VxFields fields(text, sizeof text, cut);
    return vxsysfs_parse_numbers(&fields, kVersionNumbers, width, version);
}

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

VxAttrAnswer vxsysfs_get_rport_attributes(const char* rpath, uint8_t* wwnn, uint8_t* wwpn, uint8_t* id,
                                          uint16_t* tid) {
    if (rpath == nullptr || std::strlen(rpath) > kRportPathMax) return VxAttrAnswer::Absent;
    char path[VXSYSFS_PATH_SIZE];
    std::snprintf(path, sizeof path, "%s", rpath);
    char* end = path + std::strlen(path);
    const auto at = [&](const char* name) {
        *end = '\0';
        return vxsysfs_path_append(path, end, name) != nullptr ? path : nullptr;
    };
    Answers answers;
    VxAttrAnswer answer;
    if (wwnn != nullptr) {
        vxsysfs_get_hex_attr(at("node_name"), wwnn, kWwnSize, &answer);
        (void)answers.take_optional(answer);
    }
    if (wwpn != nullptr) {
        vxsysfs_get_hex_attr(at("port_name"), wwpn, kWwnSize, &answer);
        (void)answers.take_optional(answer);
    }
    if (id != nullptr) {
        id[0] = 0;
        vxsysfs_get_hex_attr(at("port_id"), id + 1, 3, &answer);
        (void)answers.take_optional(answer);
    }
    // An id past its field, or a text that is no id, is no target: it never
    // becomes some other one.
    if (tid != nullptr) (void)answers.take(read_target_id(at("scsi_target_id"), tid));
    return answers.first();
}

bool vxsysfs_is_online_target(const char* rport_path, VxAttrAnswer* answer) {
    VxAttrAnswer read;
    bool yes = vxsysfs_is_rport_online(rport_path, &read);
    if (yes) yes = vxsysfs_is_rport_a_target(rport_path, &read);
    *answer = decided(read);
    return yes && *answer == VxAttrAnswer::Came;
}

uint16_t vxsysfs_count_port(const vxapi_priv_database* api_priv_data_inst, VxAttrAnswer* answer) {
    if (answer != nullptr) *answer = VxAttrAnswer::Came;
    if (api_priv_data_inst == nullptr) return 0;
    uint16_t count = 0;
    each_rport(api_priv_data_inst->host_no, [&](const char* rport) {
        VxAttrAnswer read;
        if (vxsysfs_is_rport_a_target(rport, &read)) ++count;
        if (decided(read) == VxAttrAnswer::Came) return true;
        if (answer != nullptr) *answer = VxAttrAnswer::Failed;
        return false;
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
    // Names that did not come at discovery are read again for this call.
    vxapi_priv_database named;
    const VxAttrAnswer names = vxsysfs_port_with_names(api_priv_data_inst, &named);
    if (names != VxAttrAnswer::Came) {
        status = vxsysfs::record_status(names);
        return 0;
    }
    const vxapi_priv_database* rec = &named;
    std::memcpy(phba_port->WWPN, rec->wwpn, sizeof phba_port->WWPN);
    std::memcpy(phba_port->Id, rec->port_id, sizeof phba_port->Id);
    phba_port->Type = kPortTypeInitiator;
    phba_port->DiscPortNameType = kDiscPortNameTypeWwpn;
    phba_port->PortSupportedFC4Types = kFc4TypesFcp;
    phba_port->PortActiveFC4Types = kFc4TypesFcp;
    const uint16_t device = vxsysfs::device_id_of(rec);
    phba_port->PortSupportedSpeed = supported_speed(device);
    Answers answers;
    read_link_state(rec, phba_port, &answers);
    if (vx_chip_has(device, VX_CHIP_FW_STATE)) read_fw_state(rec, phba_port, &answers);
    read_fc_host(rec, phba_port, &answers);
    // A port whose roles could not be read would make the count short.
    VxAttrAnswer counted = VxAttrAnswer::Came;
    if (answers.came()) phba_port->DiscPortCount = vxsysfs_count_port(rec, &counted);
    (void)answers.take(counted);
    if (!answers.came()) {
        std::memset(phba_port, 0, sizeof *phba_port);
        status = answers.record_status();
        return 0;
    }
    phba_port->DiscTargetCount = vxsysfs_count_target(rec);
    status = EXT_STATUS_OK;
    return 0;
}

int vxsysfs_query_cnaport(int, vxapi_priv_database* api_priv_data_inst, EXT_CNA_PORT* pcna_port,
                          uint32_t* pext_stat) {
    vxsysfs::Status status(pext_stat, EXT_STATUS_DEV_NOT_FOUND);
    if (!vxsysfs::begin_query("vxsysfs_query_cnaport: entered", api_priv_data_inst, pcna_port)) return 0;
    const uint32_t host_no = api_priv_data_inst->host_no;

    // Absent attributes stay 0; numbers past their 16 bits are no values.
    Answers answers;
    VxAttrAnswer answer;
    pcna_port->VLanId = static_cast<uint16_t>(vxsysfs::scsi_host_number(host_no, "vlan_id", &answer, UINT16_MAX));
    (void)answers.take_optional(answer);
    char mac[kVersionTextSize];
    bool cut = false;
    // The record keeps the address with its last byte first.
    if (answers.take_optional(vxsysfs_read_host_fields(host_no, "vn_port_mac_address", mac, sizeof mac, &cut))) {
        VxFields fields(mac, sizeof mac, cut);
        (void)answers.take(parse_mac(&fields, pcna_port->VNPortMACAddress));
    }
    pcna_port->FabricParam =
        static_cast<uint16_t>(vxsysfs::scsi_host_number(host_no, "fabric_param", &answer, UINT16_MAX));
    (void)answers.take_optional(answer);
    if (!answers.came()) {
        std::memset(pcna_port, 0, sizeof *pcna_port);
        status = answers.status();
        return 0;
    }
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

    // Each version stands on its own read and in its own entry (the MPI
    // version first, the PHY version second, as readers of the list take
    // them): one that did not come (absent among them) is no 0.0.0, and its
    // entry stays as it was, naming no region. Length counts the entries up
    // to the last version listed. The query answers when one came; when none
    // did, it fails with the answer of the first that was there but did not
    // come (9 when none is there). The list ends, status 9, when the
    // caller's count is reached.
    const uint32_t counted = padapter_version->Length;
    Answers answers;
    uint32_t listed = 0;
    for (uint32_t i = 0; i < std::size(kRunningVersions); ++i) {
        if (i == capacity || (listed > 0 && padapter_version->Length >= capacity)) return 0;
        const RunningVersion& v = kRunningVersions[i];
        if (!answers.take_optional(put_running_version(padapter_version, i, v.region, host_no, v.attr))) continue;
        padapter_version->Length = counted + i + 1;
        ++listed;
    }
    if (listed > 0) {
        status = EXT_STATUS_OK;
    } else if (!answers.came()) {
        status = answers.status();
    }
    return 0;
}

int vxsysfs_query_discport(int, vxapi_priv_database* api_priv_data_inst, uint16_t disc_port_idx,
                           EXT_DISC_PORT* pdisc_port, uint32_t* pext_stat) {
    vxsysfs::Status status(pext_stat, EXT_STATUS_DEV_NOT_FOUND);
    if (!vxsysfs::begin_query("vxsysfs_query_discport: entered", api_priv_data_inst, pdisc_port)) return 0;

    uint32_t count = 0;
    each_rport(api_priv_data_inst->host_no, [&](const char* rport) {
        // A port whose state or roles could not be read may be the one asked
        // for, or shift it: the query fails.
        VxAttrAnswer answer;
        const bool listed = vxsysfs_is_online_target(rport, &answer);
        if (answer == VxAttrAnswer::Came) {
            if (!listed || count++ != disc_port_idx) return true;
            answer = vxsysfs_get_rport_attributes(rport, pdisc_port->WWNN, pdisc_port->WWPN, pdisc_port->Id,
                                                  &pdisc_port->TargetId);
        }
        if (answer != VxAttrAnswer::Came) {
            std::memset(pdisc_port, 0, sizeof *pdisc_port);
            status = vxsysfs::record_status(answer);
            return false;
        }
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
    const VxAttrAnswer answer =
        vxsysfs_get_rport_attributes(rport, pdisc_tgt->WWNN, pdisc_tgt->WWPN, pdisc_tgt->Id, &pdisc_tgt->TargetId);
    if (answer != VxAttrAnswer::Came) {
        std::memset(pdisc_tgt, 0, sizeof *pdisc_tgt);
        status = vxsysfs::record_status(answer);
        return 0;
    }
    pdisc_tgt->Type = kTypeTargetPort;
    status = EXT_STATUS_OK;
    return 0;
}

int vxsysfs_query_driver(int, vxapi_priv_database* api_priv_data_inst, EXT_DRIVER* pdrvr, uint32_t* pext_stat) {
    vxsysfs::trace_entered("vxsysfs_query_driver: entered");
    vxsysfs::Status status(pext_stat, EXT_STATUS_INVALID_PARAM);
    if (api_priv_data_inst == nullptr || pdrvr == nullptr) return 0;
    const uint32_t host_no = api_priv_data_inst->host_no;
    // Absent, the version is empty and the segments 0; a version longer than
    // the record holds is cut to it; a count past 32 bits is no value.
    Answers answers;
    VxAttrAnswer answer;
    vxsysfs::scsi_host_field(host_no, "driver_version", reinterpret_cast<char*>(pdrvr->Version),
                             sizeof pdrvr->Version, &answer);
    (void)answers.take_optional(answer);
    pdrvr->MaxDataSegments = vxsysfs::scsi_host_number(host_no, "sg_tablesize", &answer);
    (void)answers.take_optional(answer);
    if (!answers.came()) {
        status = answers.status();
        return 0;
    }
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
    // The version numbers as bytes, not as text, "%hhd.%02hhd.%02hhd".
    // Absent, the version stays as the record holds it; a text without its
    // three numbers fails.
    const VxAttrAnswer answer = vxsysfs_read_version(api_priv_data_inst->host_no, "fw_version", kFwTextSize,
                                                     pfw->Version, kFwVersionWidth);
    if (answer != VxAttrAnswer::Came && answer != VxAttrAnswer::Absent) {
        status = vxsysfs_answer_status(answer);
        return 0;
    }
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
    VxAttrAnswer answer = VxAttrAnswer::Came;
    if (api_priv_data_inst != nullptr) {
        each_rport(api_priv_data_inst->host_no, [&](const char* rport) {
            if (count >= capacity) return false;
            const bool listed = vxsysfs_is_online_target(rport, &answer);
            if (answer != VxAttrAnswer::Came) return false;
            if (!listed) return true;
            EXT_DEVICEDATAENTRY entry{};
            uint8_t id[4] = {};
            answer = vxsysfs_get_rport_attributes(rport, entry.NodeWWN, entry.PortWWN, id, &entry.TargetAddress.Target);
            if (answer != VxAttrAnswer::Came) return false;
            std::memcpy(entry.PortID, id + 1, sizeof entry.PortID);
            entry.LoopID = kNoLoopId;
            std::memcpy(summary_entry(pdev_data, count), &entry, sizeof entry);
            ++count;
            status = EXT_STATUS_OK;
            if (pext_dstat != nullptr) *pext_dstat = 0;
            return true;
        });
    }
    // A port whose state, roles, names, id or target id did not come fails
    // the list: no entry of it is reported. A port without a SCSI target is
    // listed with VXSYSFS_NO_TARGET_ID.
    if (answer != VxAttrAnswer::Came) {
        status = vxsysfs_answer_status(answer);
        count = 0;
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
    const VxAttrAnswer answer = vxsysfs_get_rport_attributes(rport, nullptr, nullptr, nullptr, &target);
    if (answer != VxAttrAnswer::Came) {
        status = vxsysfs_answer_status(answer);
        return 0;
    }
    // A port without a SCSI target has no SCSI address.
    if (target == VXSYSFS_NO_TARGET_ID) return 0;
    pscsi_addr->Target = target;
    pscsi_addr->Bus = 0;
    pscsi_addr->Lun = 0;
    status = EXT_STATUS_OK;
    return 0;
}
