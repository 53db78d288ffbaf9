// The persistent entry lists and deletes over the stores of every supported
// driver module, in whichever format each driver keeps its store: the
// option string of the new format, or the vx2xopts value of the driver's
// modules line.
//
// A delete reads each driver's store into work records of its own (never
// those of another driver), saves a store only when something was removed
// from it, and puts that store's own load-balancing tokens back into it in
// the same save; a store that cannot be read or parsed whole is never
// written, and stops the delete with SDERR_CONFIG_FILE.
#include "failover/vx_fo_lists.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "core/life/vx_api_lock.h"
#include "failover/vx_fo_channel.h"
#include "failover/vx_fo_files.h"
#include "failover/vx_fo_oldstore.h"
#include "failover/vx_fo_store.h"
#include "platform/vx_platform.h"
#include "vxsdm.h"

namespace {

// The driver modules whose stores the lists and deletes visit, in order.
constexpr const char* kSupportedModules[] = {"vxa2200", "vxa2300", "vxa2xxx"};

constexpr uint32_t kListNames = 32;
constexpr size_t kNameSize = 8;

enum class Store : uint8_t { None, New, Old };

// Which store of the module to visit: the new one when its driver uses it,
// the old one when a port runs the module, else none. SDERR_NO_ERROR, or the
// status of a driver that could not say which store it keeps (then none).
uint32_t store_of(const char* model, Store* store) {
    uint8_t found = 0;
    bool new_store = false;
    const uint32_t status = vxapi_drvr_support_new_cfg_store(model, &found, &new_store);
    *store = Store::None;
    if (status != SDERR_NO_ERROR) return status;
    if (new_store) {
        *store = Store::New;
    } else if (found != 0) {
        *store = Store::Old;
    }
    return SDERR_NO_ERROR;
}

using OldList = uint32_t (*)(const char*, hbalist_entry*);

// Reads a module's store into the records, an old-format store through
// old_list. 0 when read; SDERR_UNKNOWN when there is nothing to read;
// SDERR_CONFIG_FILE when the store cannot be read; the status of a driver
// that could not say which store it keeps.
uint32_t read_store(const char* model, hbalist_entry* records, OldList old_list) {
    Store store = Store::None;
    if (const uint32_t status = store_of(model, &store); status != SDERR_NO_ERROR) return status;
    switch (store) {
        case Store::New: {
            std::string text;
            const VxFoStoreText found = vx_fo_get_store_text(model, false, &text);
            if (found == VxFoStoreText::Failed) return SDERR_CONFIG_FILE;
            if (found == VxFoStoreText::Empty) return SDERR_UNKNOWN;
            // What parsed is listed: a list does not read the parser's status.
            (void)vx_fo_parse_store(text, records);
            return SDERR_NO_ERROR;
        }
        case Store::Old: {
            const uint32_t status = old_list(model, records);
            if (status == SDERR_INVALID_REGISTRY_SETTING) return SDERR_CONFIG_FILE;
            return status == SDERR_NO_ERROR ? SDERR_NO_ERROR : SDERR_UNKNOWN;
        }
        case Store::None: break;
    }
    return SDERR_UNKNOWN;
}

// The first slot that runs the module, VX_LEGACY_SLOTS when none.
uint16_t slot_of(const char* model) {
    uint16_t slot = 0;
    while (slot < VX_LEGACY_SLOTS &&
           (vx_fo_slot_model(slot) == nullptr || std::strcmp(vx_fo_slot_model(slot), model) != 0)) {
        ++slot;
    }
    return slot;
}

// Adds the node names of the first EntryCount entries of a list.
template <typename List>
uint32_t add_names(const List& list, uint8_t* out, uint32_t* count) {
    uint32_t status = SDERR_NO_ERROR;
    for (unsigned k = 0; k < std::min<unsigned>(list.EntryCount, VX_FO_TARGETS); ++k) {
        const uint8_t* name = list.DataEntry[k].NodeName;
        if (vx_fo_all_zero(name, kNameSize)) continue;
        if (AddUniqueTargetToPersistentList(name, out, count) != SDERR_NO_ERROR) status = SDERR_BUFFER_TOO_SMALL;
    }
    return status;
}

// ---------------------------------------------------------------- deletes

using Remove = bool (*)(hbalist_entry*, const uint8_t*);
using OldDelete = uint32_t (*)(const char*, hbalist_entry*, uint32_t*, const uint8_t*);

// The new-format store of a module without the name. 0 (*removed says
// whether the store held it); SDERR_CONFIG_FILE when the store cannot be
// read or parsed whole, or the save fails (every file as it was);
// SDERR_OUT_OF_MEMORY.
uint32_t delete_from_new_store(const char* model, hbalist_entry* records, const uint8_t* name, Remove remove,
                               const char* no_memory, bool* removed) {
    std::string text;
    const VxFoStoreText found = vx_fo_get_store_text(model, false, &text);
    if (found == VxFoStoreText::Empty) return SDERR_NO_ERROR;
    if (found == VxFoStoreText::Failed || vx_fo_parse_store(text, records) != SDERR_NO_ERROR) return SDERR_CONFIG_FILE;
    if (!remove(records, name)) return SDERR_NO_ERROR;

    // The formatter writes no load-balancing tokens: the save puts this
    // store's own back, aimed at the option file of a port of the module.
    std::unique_ptr<FO_LB_POLICY_STORE_LIST> lb(new (std::nothrow) FO_LB_POLICY_STORE_LIST());
    std::vector<char> formatted(VX_FO_OPTSTR_SIZE);
    if (!lb) {
        vx::sys().write_stdout(no_memory, std::strlen(no_memory));
        return SDERR_OUT_OF_MEMORY;
    }
    if (const uint32_t status = vxfoapi_get_all_lbtype(lb.get(), text.c_str()); status != SDERR_NO_ERROR) {
        return status == SDERR_OUT_OF_MEMORY ? status : SDERR_CONFIG_FILE;
    }
    if (vxapi_set_data_to_line(records, formatted.data(), VX_FO_FROM_TARGETS) != SDERR_NO_ERROR) {
        return SDERR_CONFIG_FILE;
    }
    lb->Instance = slot_of(model);
    const uint32_t status = vxfoapi_set_all_lbtype(lb.get(), formatted.data());
    *removed = status == SDERR_NO_ERROR;
    return status;
}

// The old-format store of a module without the name: as above.
uint32_t delete_from_old_store(const char* model, hbalist_entry* records, const uint8_t* name, OldDelete del,
                               bool* removed) {
    uint32_t deleted = 0;
    const uint32_t status = del(model, records, &deleted, name);
    if (status == SDERR_INVALID_REGISTRY_SETTING) return SDERR_CONFIG_FILE;
    // Without a line or a match there is nothing to report; a match that
    // could not be written is a failure.
    if (deleted == 0) return SDERR_NO_ERROR;
    *removed = status == SDERR_NO_ERROR;
    return status == SDERR_NO_ERROR ? SDERR_NO_ERROR : SDERR_CONFIG_FILE;
}

uint32_t delete_entry(const uint8_t* name, Remove remove, OldDelete del, const char* no_memory) {
    if (name == nullptr) return SDERR_INVALID_PARAMETER;
    VxFoRecords work;
    if (!work.allocate()) return SDERR_OUT_OF_MEMORY;
    // Every driver says which store it keeps before any store is touched: a
    // driver that cannot say stops the delete with nothing saved.
    Store stores[std::size(kSupportedModules)] = {};
    for (size_t m = 0; m < std::size(kSupportedModules); ++m) {
        if (const uint32_t status = store_of(kSupportedModules[m], &stores[m]); status != SDERR_NO_ERROR) return status;
    }
    // No other process saves a store between this delete's reads and saves.
    const VxFoStoreLock lock;
    bool matched = false;
    for (size_t m = 0; m < std::size(kSupportedModules); ++m) {
        const char* model = kSupportedModules[m];
        work.clear();
        bool removed = false;
        uint32_t status = SDERR_NO_ERROR;
        switch (stores[m]) {
            case Store::New:
                status = delete_from_new_store(model, work.get(), name, remove, no_memory, &removed);
                break;
            case Store::Old: status = delete_from_old_store(model, work.get(), name, del, &removed); break;
            case Store::None: break;
        }
        if (status != SDERR_NO_ERROR) return status;
        matched = matched || removed;
    }
    if (!matched) return SDERR_INVALID_PARAMETER;
    vx_fo_depmod();
    return SDERR_NO_ERROR;
}

}  // namespace

uint32_t AddUniqueTargetToPersistentList(const uint8_t* name, uint8_t* list, uint32_t* count) {
    for (uint32_t i = 0; i < *count; ++i) {
        if (std::memcmp(list + i * kNameSize, name, kNameSize) == 0) return SDERR_NO_ERROR;
    }
    if (*count >= kListNames) return SDERR_BUFFER_TOO_SMALL;
    std::memcpy(list + *count * kNameSize, name, kNameSize);
    ++*count;
    return SDERR_NO_ERROR;
}

SD_UINT32 ISDFoGetPersistentDeviceEntryList(SD_PUINT8 pBuffer) {
    VxApiLock api_lock;
    if (pBuffer == nullptr) return SDERR_INVALID_PARAMETER;
    VxFoRecords work;
    if (!work.allocate()) return SDERR_OUT_OF_MEMORY;
    uint8_t out[kListNames * kNameSize] = {};
    for (const char* model : kSupportedModules) {
        const uint32_t status = read_store(model, work.get(), vxapi_get_old_persist_dev_entry_list);
        if (status == SDERR_UNKNOWN) continue;
        if (status != SDERR_NO_ERROR) return status;
        // Adapters of every driver read so far, by adapter number.
        std::memset(out, 0, sizeof out);
        uint32_t n = 0;
        for (const hbalist_entry& rec : std::span(work.get(), VX_FO_STORE_ADAPTERS)) {
            if (!vx_fo_all_zero(rec.wwpn, kNameSize)) std::memcpy(out + kNameSize * n++, rec.wwpn, kNameSize);
        }
    }
    std::memcpy(pBuffer, out, sizeof out);
    return SDERR_NO_ERROR;
}

SD_UINT32 ISDFoGetPersistentTargetEntryList(SD_PUINT8 pBuffer) {
    VxApiLock api_lock;
    if (pBuffer == nullptr) return SDERR_INVALID_PARAMETER;
    VxFoRecords work;
    if (!work.allocate()) return SDERR_OUT_OF_MEMORY;
    uint8_t out[kListNames * kNameSize] = {};
    uint32_t count = 0;
    uint32_t result = SDERR_NO_ERROR;
    for (const char* model : kSupportedModules) {
        const uint32_t status = read_store(model, work.get(), vxapi_get_old_persist_tgt_entry_list);
        if (status == SDERR_UNKNOWN) continue;
        if (status != SDERR_NO_ERROR) return status;
        for (const hbalist_entry& rec : std::span(work.get(), VX_FO_STORE_ADAPTERS)) {
            if (vx_fo_all_zero(rec.wwpn, kNameSize)) continue;
            if (add_names(*rec.tgt_list, out, &count) != SDERR_NO_ERROR) result = SDERR_BUFFER_TOO_SMALL;
            if (add_names(*rec.lun_list, out, &count) != SDERR_NO_ERROR) result = SDERR_BUFFER_TOO_SMALL;
        }
    }
    std::memcpy(pBuffer, out, sizeof out);
    return result;
}

SD_UINT32 ISDFoDeletePersistentDeviceEntry(const SD_UINT8* pPortName) {
    VxApiLock api_lock;
    return delete_entry(pPortName, vx_fo_remove_adapter, vxapi_del_old_persist_dev_entry,
                        " FoDeletePersistentDeviceEntry:Out of Memory: LBtype will fail\n");
}

SD_UINT32 ISDFoDeletePersistentTargetEntry(const SD_UINT8* pNodeName) {
    VxApiLock api_lock;
    return delete_entry(pNodeName, vx_fo_remove_target, vxapi_del_old_persist_tgt_entry,
                        "FoSetDataToPersistentStorage: Out of Memory: LBType will fail\n");
}
