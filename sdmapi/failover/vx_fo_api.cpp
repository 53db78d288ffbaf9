// The failover interface: each ISDFo* function is one failover request
// through the channel (or, with the persistent flag, one store operation).
// Payloads are built and read byte by byte at the driver's offsets; the
// caller's record is written only when the request succeeded.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/vx_request.h"
#include "core/life/vx_api_lock.h"
#include "failover/vx_fo_channel.h"
#include "failover/vx_fo_stores.h"
#include "vxsdm.h"

static_assert(sizeof(FO_EXTERNAL_LUN_DATA_ENTRY) == 4128);
static_assert(offsetof(FO_EXTERNAL_LUN_DATA_ENTRY, Data) == 32);
static_assert(sizeof(FO_LUN_DATA_LIST) == 1056800);
static_assert(sizeof(FO_TARGET_DATA_ENTRY) == 32);
static_assert(offsetof(FO_TARGET_DATA_ENTRY, Control) == 8);
static_assert(offsetof(FO_TARGET_DATA_ENTRY, PortId) == 12);
static_assert(offsetof(FO_TARGET_DATA_ENTRY, NodeName) == 16);
static_assert(sizeof(FO_TARGET_DATA_LIST) == 8224);
static_assert(sizeof(FO_PATH_REQUEST) == 16);
static_assert(offsetof(FO_PATH_REQUEST, Lun) == 12);
static_assert(sizeof(FO_PATH_ENTRY) == 28);
static_assert(offsetof(FO_PATHS_INFO, PathInfoA) == 36);
static_assert(offsetof(FO_PATHS_INFO, LunPath) == 40);
static_assert(offsetof(FO_PATHS_INFO, PathEntry) == 4136);
static_assert(sizeof(FO_PATHS_INFO) == 11304);
static_assert(sizeof(FO_SYS_PARAMS) == 64);
static_assert(offsetof(FO_SYS_PARAMS, StatisticsControl) == 8);
static_assert(offsetof(FO_SYS_PARAMS, ByteParams3) == 32);
static_assert(offsetof(FO_SYS_PARAMS, WordParams) == 36);
static_assert(offsetof(FO_SYS_PARAMS, Params16) == 44);
static_assert(sizeof(FO_DRIVER_VERSION) == 36);

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<uint8_t, FreeDeleter>;

Buffer zeroed(size_t bytes) { return Buffer(static_cast<uint8_t*>(std::calloc(1, bytes))); }

uint16_t get16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void put16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, sizeof v); }

constexpr uint32_t kEntries = VX_FO_LIST_ROOM;  // records of every list, whatever its count

// Parameter block (requests 200, 201): the bytes carried either way.
constexpr uint32_t kParamsLen = 64;
struct Span {
    uint32_t offset;
    uint32_t length;
};
constexpr Span kCarriedParams[] = {{0, 7}, {8, 8}, {32, 3}, {36, 6}, {44, 16}};

// Path query (202: 40 bytes, 203: 32 bytes) and path reply (7,228 + N).
constexpr uint32_t kPathQueryLen = 40;
constexpr uint32_t kSetPathQueryLen = 32;
constexpr uint32_t kQueryAddress = 2;
constexpr uint32_t kQueryType = 10;
constexpr uint32_t kQueryLun = 12;
constexpr uint32_t kQueryNewPath = 18;
constexpr uint16_t kWireAddressPair = 5;  // the driver's type of FO_ADDRESS_PAIR
constexpr uint32_t kPathReplyFixed = 7228;
constexpr uint32_t kPathInfoA = 40;
constexpr uint32_t kPathInfoB = 42;
constexpr uint32_t kPathLuns = 44;

// Driver LUN list (206, 207): a 32-byte head, then 256 records of 32 + N.
constexpr uint32_t kListHead = 32;
constexpr uint32_t kLunRecordHead = 32;
constexpr uint32_t kLunNode = 0;
constexpr uint32_t kLunPort = 8;
constexpr uint32_t kLunDevNo = 18;
constexpr uint32_t kLunTargetId = 19;

// Driver target record (208, 209): 36 + N/8 bytes.
constexpr uint32_t kTargetRecordFixed = 36;
constexpr uint32_t kTargetNode = 8;
constexpr uint32_t kTargetPortId = 16;
constexpr uint32_t kTargetControl = 19;
constexpr uint32_t kTargetPort = 24;
constexpr uint32_t kTargetNumber = 34;
constexpr uint32_t kTargetPath = 35;

constexpr uint32_t kStatsReplyLen = 8;
constexpr uint32_t kDriverVersionLen = 100;
constexpr uint32_t kDriverVersionText = 4;

constexpr SD_UINT32 kApiVersion = 0x3000107;
constexpr uint32_t kDriverAttrFailover = 0x1;  // drvr_attr: the driver provides failover

uint32_t send(uint32_t handle, uint8_t nr, const void* request, uint32_t request_len, void* reply,
              uint32_t reply_len, VxFoReplyShape shape = {}) {
    return VxFailOverDeviceIoControl(handle, nr, 0, request, request_len, reply, reply_len, shape);
}

// LUN bytes per target: of the driver's LUN lists, and of its path and
// target replies.
uint32_t list_luns() { return vx_fo_lun_4096() ? 4096 : 2048; }
uint32_t path_luns() { return vx_fo_lun_4096() ? 4096 : 256; }

// The input that names the driver instance of the instance's slot; false
// for an instance beyond the slots.
bool lun_input(uint32_t instance, FO_LUN_DATA_INPUT* input) {
    const vxapi_priv_db_t* slot = vx_fo_slot_by_instance(instance);
    if (slot == nullptr) return false;
    *input = FO_LUN_DATA_INPUT{};
    input->HbaInstance = static_cast<uint8_t>(slot->drvr_inst & 0xFF);
    return true;
}

// Bytes 0 to 13 of a zeroed path query: the driver instance, and the
// address and LUN when the address type is one the driver knows.
bool path_query(const FO_PATH_REQUEST& req, uint8_t* query) {
    FO_LUN_DATA_INPUT input;
    if (!lun_input(req.HbaInstance, &input)) return false;
    query[0] = input.HbaInstance;
    uint16_t type = 0;
    size_t length = 0;
    switch (req.AddressType) {
    case FO_ADDRESS_NODE_NAME:
    case FO_ADDRESS_PORT_NAME:
        type = req.AddressType;
        length = 8;
        break;
    case FO_ADDRESS_PORT_ID:
        type = FO_ADDRESS_PORT_ID;
        length = 3;
        break;
    case FO_ADDRESS_PAIR:
        type = kWireAddressPair;
        length = 4;
        break;
    default:
        return true;
    }
    std::memcpy(query + kQueryAddress, req.Address, length);
    put16(query + kQueryType, type);
    put16(query + kQueryLun, req.Lun);
    return true;
}

// The persistent road: the new store when the port's driver uses it. A
// driver that cannot say which store it keeps has neither read nor written.
uint32_t store_read(uint32_t handle, uint16_t instance, const uint8_t* wwn, FO_LUN_DATA_LIST* luns,
                    FO_TARGET_DATA_LIST* targets) {
    bool new_store = false;
    if (const uint32_t status = vxapi_hba_support_new_cfg_store(handle, instance, &new_store); status != 0) {
        return status;
    }
    if (new_store) return FoGetDataFromPersistentStorage(instance, luns, targets, wwn);
    return vxapi_get_data_from_old_persist_store(instance, luns, targets, wwn);
}

uint32_t store_write(uint32_t handle, uint16_t instance, const uint8_t* wwn, const FO_LUN_DATA_LIST* luns,
                     const FO_TARGET_DATA_LIST* targets) {
    bool new_store = false;
    if (const uint32_t status = vxapi_hba_support_new_cfg_store(handle, instance, &new_store); status != 0) {
        return status;
    }
    if (new_store) return FoSetDataToPersistentStorage(instance, wwn, luns, targets);
    return vxapi_set_data_to_old_persist_store(instance, wwn, luns, targets);
}

void read_lun_reply(const uint8_t* reply, uint32_t luns, FO_LUN_DATA_LIST* list) {
    const uint32_t record = kLunRecordHead + luns;
    list->Version = get16(reply);
    // A count beyond the list's 256 records names records that are not there.
    list->EntryCount = vx_fo_list_count(reply);
    for (uint32_t i = 0; i < list->EntryCount; ++i) {
        const uint8_t* rec = reply + kListHead + i * record;
        FO_EXTERNAL_LUN_DATA_ENTRY& e = list->DataEntry[i];
        std::memcpy(e.NodeName, rec + kLunNode, sizeof e.NodeName);
        std::memcpy(e.PortName, rec + kLunPort, sizeof e.PortName);
        e.Dev_No = rec[kLunDevNo];
        e.TargetId = rec[kLunTargetId];
        std::memcpy(e.Data, rec + kLunRecordHead, luns);
    }
}

void read_target_reply(const uint8_t* reply, uint32_t record, FO_TARGET_DATA_LIST* list) {
    list->EntryCount = 0;
    for (uint32_t i = 0; i < kEntries; ++i) {
        const uint8_t* rec = reply + i * record;
        FO_TARGET_DATA_ENTRY& e = list->DataEntry[i];
        e.PathNumber = rec[kTargetPath];
        e.TargetNumber = rec[kTargetNumber];
        e.Control = rec[kTargetControl];
        std::memcpy(e.NodeName, rec + kTargetNode, sizeof e.NodeName);
        std::memcpy(e.PortName, rec + kTargetPort, sizeof e.PortName);
        std::memcpy(e.PortId, rec + kTargetPortId, sizeof e.PortId);
        if (vxapi_is_wwn_zero(e.PortName) == 0) ++list->EntryCount;
    }
}

}  // namespace

// ---------------------------------------------------------------- parameters and paths

SD_UINT32 ISDFoGetSysParams(SD_UINT32 Handle, PFO_SYS_PARAMS pSysParams, SD_UINT32) {
    VxApiLock api_lock;
    if (pSysParams == nullptr) return SDERR_INVALID_PARAMETER;
    uint8_t block[kParamsLen] = {};
    const uint32_t status = send(Handle, FO_CC_GET_PARAMS, nullptr, 0, block, sizeof block);
    if (status != SDERR_NO_ERROR) return status;
    auto* out = reinterpret_cast<uint8_t*>(pSysParams);
    for (const Span& s : kCarriedParams) std::memcpy(out + s.offset, block + s.offset, s.length);
    return SDERR_NO_ERROR;
}

SD_UINT32 ISDFoSetSysParams(SD_UINT32 Handle, const FO_SYS_PARAMS* pSysParams, SD_UINT32) {
    VxApiLock api_lock;
    if (pSysParams == nullptr) return SDERR_INVALID_PARAMETER;
    uint8_t block[kParamsLen] = {};
    const auto* in = reinterpret_cast<const uint8_t*>(pSysParams);
    for (const Span& s : kCarriedParams) std::memcpy(block + s.offset, in + s.offset, s.length);
    return send(Handle, FO_CC_SET_PARAMS, block, sizeof block, nullptr, 0);
}

SD_UINT32 ISDFoGetPaths(SD_UINT32 Handle, const FO_PATH_REQUEST* pRequest, PFO_PATHS_INFO pPaths, SD_UINT32) {
    VxApiLock api_lock;
    if (pRequest == nullptr || pPaths == nullptr) return SDERR_INVALID_PARAMETER;
    uint8_t query[kPathQueryLen] = {};
    if (!path_query(*pRequest, query)) return SDERR_INVALID_PARAMETER;
    const uint32_t luns = path_luns();
    const uint32_t size = kPathReplyFixed + luns;
    Buffer reply = zeroed(size);
    if (!reply) return SDERR_OUT_OF_MEMORY;
    const uint32_t status = send(Handle, FO_CC_GET_PATHS, query, sizeof query, reply.get(), size);
    if (status != SDERR_NO_ERROR) return status;
    const uint8_t* r = reply.get();
    pPaths->HbaInstance = pRequest->HbaInstance;
    pPaths->PathInfoA = r[kPathInfoA];
    pPaths->PathInfoB = r[kPathInfoB];
    std::memcpy(pPaths->LunPath, r + kPathLuns, luns);
    std::memcpy(pPaths->PathEntry, r + kPathLuns + luns, sizeof pPaths->PathEntry);
    return SDERR_NO_ERROR;
}

SD_UINT32 ISDFoSetCurrentPath(SD_UINT32 Handle, const FO_PATH_REQUEST* pRequest, SD_UINT32) {
    VxApiLock api_lock;
    if (pRequest == nullptr) return SDERR_INVALID_PARAMETER;
    uint8_t query[kSetPathQueryLen] = {};
    if (!path_query(*pRequest, query)) return SDERR_INVALID_PARAMETER;
    std::memcpy(query + kQueryNewPath, pRequest->NewPath, sizeof pRequest->NewPath);
    return send(Handle, FO_CC_SET_CURRENT_PATH, query, sizeof query, nullptr, 0);
}

// ---------------------------------------------------------------- statistics

SD_UINT32 ISDFoGetStatistics(SD_UINT32 Handle, SD_UINT32 Instance, SD_PVOID) {
    VxApiLock api_lock;
    FO_LUN_DATA_INPUT input;
    if (!lun_input(Instance, &input)) return SDERR_INVALID_PARAMETER;
    uint8_t reply[kStatsReplyLen] = {};
    return send(Handle, FO_CC_GET_STATS, &input, sizeof input, reply, sizeof reply);
}

SD_UINT32 ISDFoResetStatistics(SD_UINT32 Handle, SD_UINT32 Instance) {
    VxApiLock api_lock;
    FO_LUN_DATA_INPUT input;
    if (!lun_input(Instance, &input)) return SDERR_INVALID_PARAMETER;
    return send(Handle, FO_CC_RESET_STATS, &input, sizeof input, nullptr, 0);
}

// ---------------------------------------------------------------- LUNs and targets

SD_UINT32 ISDFoGetLunData(SD_UINT32 Handle, SD_UINT16 Instance, const SD_UINT8* pWwn, PFO_LUN_DATA_LIST pList,
                          SD_UINT32 Persistent) {
    VxApiLock api_lock;
    if (vx_fo_sysfs_mode()) return SDERR_NOT_SUPPORTED;
    FO_LUN_DATA_INPUT input;
    if (pList == nullptr || !lun_input(Instance, &input)) return SDERR_INVALID_PARAMETER;
    if (Persistent != 0) return store_read(Handle, Instance, pWwn, pList, nullptr);
    const uint32_t luns = list_luns();
    const uint32_t size = kListHead + kEntries * (kLunRecordHead + luns);
    Buffer reply = zeroed(size);
    if (!reply) return SDERR_OUT_OF_MEMORY;
    // The list is read as far as its head and the records it counts.
    const uint32_t status = send(Handle, FO_CC_GET_LUN_DATA, &input, sizeof input, reply.get(), size,
                                 VxFoReplyShape{kListHead, kLunRecordHead + luns});
    if (status == SDERR_NO_ERROR) read_lun_reply(reply.get(), luns, pList);
    return status;
}

SD_UINT32 ISDFoSetLunData(SD_UINT32 Handle, SD_UINT16 Instance, const SD_UINT8* pWwn, const FO_LUN_DATA_LIST* pList,
                          SD_UINT32 Persistent) {
    VxApiLock api_lock;
    FO_LUN_DATA_INPUT input;
    if (pList == nullptr || !lun_input(Instance, &input)) return SDERR_INVALID_PARAMETER;
    if (Persistent != 0) return store_write(Handle, Instance, pWwn, pList, nullptr);
    const uint32_t luns = list_luns();
    const uint32_t record = kLunRecordHead + luns;
    const uint32_t size = sizeof input + kListHead + kEntries * record;
    Buffer request = zeroed(size);
    if (!request) return SDERR_OUT_OF_MEMORY;
    std::memcpy(request.get(), &input, sizeof input);
    uint8_t* list = request.get() + sizeof input;
    put16(list, pList->Version);
    // The driver is never told of more records than the list holds.
    put16(list + 2, std::min<uint16_t>(pList->EntryCount, kEntries));
    for (uint32_t i = 0; i < kEntries; ++i) {
        uint8_t* rec = list + kListHead + i * record;
        const FO_EXTERNAL_LUN_DATA_ENTRY& e = pList->DataEntry[i];
        std::memcpy(rec + kLunNode, e.NodeName, sizeof e.NodeName);
        std::memcpy(rec + kLunPort, e.PortName, sizeof e.PortName);
        std::memcpy(rec + kLunRecordHead, e.Data, luns);
    }
    return send(Handle, FO_CC_SET_LUN_DATA, request.get(), size, nullptr, 0);
}

SD_UINT32 ISDFoGetTargetData(SD_UINT32 Handle, SD_UINT16 Instance, const SD_UINT8* pWwn,
                             PFO_TARGET_DATA_LIST pList, SD_UINT32 Persistent) {
    VxApiLock api_lock;
    if (vx_fo_sysfs_mode()) return SDERR_NOT_SUPPORTED;
    FO_LUN_DATA_INPUT input;
    if (pList == nullptr || !lun_input(Instance, &input)) return SDERR_INVALID_PARAMETER;
    if (Persistent != 0) return store_read(Handle, Instance, pWwn, nullptr, pList);
    const uint32_t record = kTargetRecordFixed + path_luns() / 8;
    const uint32_t size = kEntries * record;
    Buffer reply = zeroed(size);
    if (!reply) return SDERR_OUT_OF_MEMORY;
    const uint32_t status = send(Handle, FO_CC_GET_TARGET_DATA, &input, sizeof input, reply.get(), size);
    if (status == SDERR_NO_ERROR) read_target_reply(reply.get(), record, pList);
    return status;
}

SD_UINT32 ISDFoSetTargetData(SD_UINT32 Handle, SD_UINT16 Instance, const SD_UINT8* pWwn,
                             const FO_TARGET_DATA_LIST* pList, SD_UINT32 Persistent) {
    VxApiLock api_lock;
    FO_LUN_DATA_INPUT input;
    if (pList == nullptr || !lun_input(Instance, &input)) return SDERR_INVALID_PARAMETER;
    if (Persistent != 0) return store_write(Handle, Instance, pWwn, nullptr, pList);
    const uint32_t record = kTargetRecordFixed + path_luns() / 8;
    const uint32_t size = sizeof input + kEntries * record;
    Buffer request = zeroed(size);
    if (!request) return SDERR_OUT_OF_MEMORY;
    std::memcpy(request.get(), &input, sizeof input);
    for (uint32_t i = 0; i < kEntries; ++i) {
        uint8_t* rec = request.get() + sizeof input + i * record;
        const FO_TARGET_DATA_ENTRY& e = pList->DataEntry[i];
        rec[kTargetControl] = e.Control;
        std::memcpy(rec + kTargetNode, e.NodeName, sizeof e.NodeName);
        std::memcpy(rec + kTargetPort, e.PortName, sizeof e.PortName);
        std::memcpy(rec + kTargetPortId, e.PortId, sizeof e.PortId);
    }
    return send(Handle, FO_CC_SET_TARGET_DATA, request.get(), size, nullptr, 0);
}

// ---------------------------------------------------------------- versions and capability

SD_UINT32 ISDFoGetApiVersion(SD_PINT8 pBuffer, SD_UINT32 Length) {
    if (pBuffer != nullptr && Length != 0) {
        char text[32];
        std::snprintf(text, sizeof text, "%ld.%ld.%ld build%ld", 3L, 0L, 1L, 7L);
        std::strncpy(pBuffer, text, Length);
        pBuffer[Length - 1] = '\0';
    }
    return kApiVersion;
}

SD_UINT32 ISDFoGetFoDriverVersion(SD_UINT32 Handle, PFO_DRIVER_VERSION pVersion) {
    VxApiLock api_lock;
    if (pVersion == nullptr) return SDERR_INVALID_PARAMETER;
    uint8_t reply[kDriverVersionLen] = {};
    const uint32_t status = send(Handle, FO_CC_GET_DRIVER_VERSION, nullptr, 0, reply, sizeof reply);
    if (status != SDERR_NO_ERROR) return status;
    std::memcpy(pVersion->Version, reply, sizeof pVersion->Version);
    std::memcpy(pVersion->VersionText, reply + kDriverVersionText, sizeof pVersion->VersionText);
    return SDERR_NO_ERROR;
}

SD_UINT32 ISDFoGetFoCapability(SD_UINT32 Handle, SD_PUINT32 pCapability) {
    VxApiLock api_lock;
    if (pCapability == nullptr) return SDERR_INVALID_PARAMETER;
    *pCapability = FO_CAPABILITY_NONE;
    const vxapi_priv_db_t* slot = vx_fo_slot_by_handle(Handle);
    if (slot == nullptr) return SDERR_INVALID_HANDLE;
    if ((slot->drvr_attr & kDriverAttrFailover) != 0) *pCapability = FO_CAPABILITY_FAILOVER;
    return SDERR_NO_ERROR;
}
