// One adapter's target or LUN list in the new-format store of its driver:
// read, and merged with a caller's list and saved.
#include <cstring>
#include <memory>

#include "base/vx_records.h"
#include "failover/vx_fo_files.h"
#include "failover/vx_fo_paths.h"
#include "failover/vx_fo_store.h"
#include "failover/vx_fo_stores.h"
#include "platform/vx_platform.h"
#include "vxsdm_status.h"

namespace {

// Feature bit of slot 0: LUNs are not preferred by default.
constexpr uint32_t kNoDefaultPreferred = 0x100;

bool is_zero(const uint8_t* name) {
    static const uint8_t zero[8] = {};
    return std::memcmp(name, zero, sizeof zero) == 0;
}

// The LUN byte a parse gives a LUN that no bitmap names.
uint8_t lun_default() {
    return (api_priv_data[0].features & kNoDefaultPreferred) != 0 ? FO_LUN_ENABLED : FO_LUN_ENABLED | FO_LUN_PREFERRED;
}

// Index of the entry with the port name among n entries (stride: entry
// size), or n.
template <typename Entry>
uint32_t find_name(const Entry* entries, const uint8_t* name) {
    uint32_t i = 0;
    while (i < VX_FO_TARGETS && std::memcmp(entries[i].PortName, name, 8) != 0) ++i;
    return i;
}

// The merge of both lists: matched entries take the caller's fields, the
// rest are dropped, new ones take the first free places; `fresh` gives a
// place taken over by a new port name the parse defaults of its pair.
template <typename Entry, typename Copy, typename Fresh>
void merge(Entry* stored, const Entry* user, Copy copy, Fresh fresh) {
    for (uint32_t i = 0; i < VX_FO_TARGETS; ++i) {
        if (is_zero(stored[i].PortName)) continue;
        const uint32_t j = find_name(user, stored[i].PortName);
        if (j < VX_FO_TARGETS) {
            copy(&stored[i], user[j]);
        } else {
            std::memset(stored[i].PortName, 0, sizeof stored[i].PortName);
        }
    }
    for (uint32_t j = 0; j < VX_FO_TARGETS; ++j) {
        if (is_zero(user[j].PortName) || find_name(stored, user[j].PortName) < VX_FO_TARGETS) continue;
        static const uint8_t zero[8] = {};
        const uint32_t k = find_name(stored, zero);
        if (k == VX_FO_TARGETS) continue;  // the list is full: the entry is dropped
        copy(&stored[k], user[j]);
        fresh(k);
    }
}

void save_out_of_memory() {
    static const char line[] = "FoSetDataToPersistentStorage: Out of Memory: LBType will fail\n";
    vx::sys().write_stdout(line, sizeof line - 1);
}

// The record of the adapter named name: the one written with that name, or
// the first free one; false when all 32 are used by others.
bool choose_record(hbalist_entry* records, const uint8_t* name, uint32_t* index) {
    for (uint32_t i = 0; i < VX_FO_STORE_ADAPTERS; ++i) {
        if (std::memcmp(records[i].wwpn, name, 8) == 0) return *index = i, true;
    }
    return vxapi_get_free_conf_inst(records, index) == 0;
}

}  // namespace

// ---------------------------------------------------------------- work records

uint32_t vxapi_alloc_hbalist_databufs(hbalist_entry* records, uint16_t n) {
    for (uint16_t i = 0; i < n; ++i) {
        records[i].tgt_list = new (std::nothrow) FO_TARGET_DATA_LIST();
        if (records[i].tgt_list == nullptr) return 1;
        records[i].lun_list = new (std::nothrow) FO_LUN_DATA_LIST();
        if (records[i].lun_list == nullptr) return 1;
    }
    return 0;
}

void vxapi_free_hbalist_databufs(hbalist_entry* records, uint16_t n) {
    for (uint16_t i = 0; i < n; ++i) {
        delete records[i].tgt_list;
        delete records[i].lun_list;
        records[i].tgt_list = nullptr;
        records[i].lun_list = nullptr;
    }
}

VxFoRecords::~VxFoRecords() { vxapi_free_hbalist_databufs(records_, count_); }

bool VxFoRecords::allocate(uint16_t n) {
    vxapi_free_hbalist_databufs(records_, count_);
    std::memset(records_, 0, sizeof records_);
    count_ = std::min<uint16_t>(n, VX_FO_STORE_ADAPTERS);
    return vxapi_alloc_hbalist_databufs(records_, count_) == 0;
}

void VxFoRecords::clear() {
    for (hbalist_entry& rec : records_) {
        std::memset(rec.wwpn, 0, sizeof rec.wwpn);
        if (rec.tgt_list != nullptr) *rec.tgt_list = FO_TARGET_DATA_LIST{};
        if (rec.lun_list != nullptr) std::memset(static_cast<void*>(rec.lun_list), 0, sizeof *rec.lun_list);
    }
}

uint32_t vxapi_get_free_conf_inst(const hbalist_entry* records, uint32_t* index) {
    for (uint32_t i = 0; i < VX_FO_STORE_ADAPTERS; ++i) {
        if (is_zero(records[i].wwpn)) return *index = i, 0;
    }
    return 1;
}

void update_new_targets_from_user(hbalist_entry* record, const FO_TARGET_DATA_LIST* user) {
    FO_LUN_DATA_LIST* luns = record->lun_list;
    merge(
        record->tgt_list->DataEntry, user->DataEntry,
        [](FO_TARGET_DATA_ENTRY* to, const FO_TARGET_DATA_ENTRY& from) {
            to->PathNumber = from.PathNumber;
            to->TargetNumber = from.TargetNumber;
            to->Control = from.Control;
            std::memcpy(to->PortId, from.PortId, sizeof to->PortId);
            std::memcpy(to->NodeName, from.NodeName, sizeof to->NodeName);
            std::memcpy(to->PortName, from.PortName, sizeof to->PortName);
        },
        [luns](uint32_t k) { std::memset(luns->DataEntry[k].Data, lun_default(), VX_FO_LUNS); });
}

void update_new_luns_from_user(hbalist_entry* record, const FO_LUN_DATA_LIST* user) {
    FO_LUN_DATA_LIST* luns = record->lun_list;
    FO_TARGET_DATA_LIST* targets = record->tgt_list;
    merge(
        luns->DataEntry, user->DataEntry,
        [](FO_EXTERNAL_LUN_DATA_ENTRY* to, const FO_EXTERNAL_LUN_DATA_ENTRY& from) {
            to->Dev_No = from.Dev_No;
            std::memcpy(to->NodeName, from.NodeName, sizeof to->NodeName);
            std::memcpy(to->PortName, from.PortName, sizeof to->PortName);
            std::memcpy(to->Data, from.Data, sizeof to->Data);
        },
        [luns, targets](uint32_t k) {
            luns->DataEntry[k].TargetId = 0;
            targets->DataEntry[k].Control = 0;
            std::memset(targets->DataEntry[k].PortId, 0, sizeof targets->DataEntry[k].PortId);
        });
}

// ---------------------------------------------------------------- read and save

uint32_t FoGetDataFromPersistentStorage(uint32_t instance, FO_LUN_DATA_LIST* luns, FO_TARGET_DATA_LIST* targets,
                                        const uint8_t* wwn) {
    const char* model = vx_fo_slot_model(instance);
    if (model == nullptr || wwn == nullptr) return SDERR_INVALID_PARAMETER;
    VxFoRecords records;
    if (!records.allocate(1)) return SDERR_OUT_OF_MEMORY;
    std::string text;
    {
        VxFoStoreLock lock;
        if (vx_fo_get_store_text(model, false, &text) != VxFoStoreText::Read) return SDERR_CONFIG_FILE;
    }
    hbalist_entry& rec = records.get()[0];
    // The port name in record 0 tells whether the adapter was found; the
    // parser's status is not read.
    (void)vxapi_get_data_from_line_for_wwpn(text.c_str(), records.get(), wwn + 8);
    if (std::memcmp(rec.wwpn, wwn + 8, sizeof rec.wwpn) == 0) {
        if (targets != nullptr) std::memcpy(targets, rec.tgt_list, sizeof *targets);
        if (luns != nullptr) std::memcpy(luns, rec.lun_list, sizeof *luns);
    }
    return SDERR_NO_ERROR;
}

uint32_t FoSetDataToPersistentStorage(uint32_t instance, const uint8_t* wwn, const FO_LUN_DATA_LIST* luns,
                                      const FO_TARGET_DATA_LIST* targets) {
    const char* model = vx_fo_slot_model(instance);
    if (model == nullptr || wwn == nullptr || (luns == nullptr && targets == nullptr)) return SDERR_INVALID_PARAMETER;
    VxFoStoreLock lock;
    VxFoRecords records;
    std::unique_ptr<char[]> line(new (std::nothrow) char[VX_FO_OPTSTR_SIZE]());
    if (!records.allocate() || !line) return SDERR_OUT_OF_MEMORY;
    std::string text;
    if (vx_fo_get_store_text(model, true, &text) == VxFoStoreText::Failed) return SDERR_CONFIG_FILE;
    std::unique_ptr<FO_LB_POLICY_STORE_LIST> lb(new (std::nothrow) FO_LB_POLICY_STORE_LIST());
    if (!lb) {
        save_out_of_memory();
        return SDERR_OUT_OF_MEMORY;
    }
    // A store that parses only in part, or whose load-balancing tokens
    // cannot all be carried, would lose the rest in the rewrite.
    hbalist_entry* recs = records.get();
    if (vx_fo_parse_store(text, recs) != SDERR_NO_ERROR || vxfoapi_get_all_lbtype(lb.get(), text.c_str()) != 0) {
        return SDERR_CONFIG_FILE;
    }
    lb->Instance = static_cast<uint16_t>(instance);

    uint32_t index = 0;
    if (!choose_record(recs, wwn + 8, &index)) return SDERR_OUT_OF_MEMORY;
    std::memcpy(recs[index].wwpn, wwn + 8, sizeof recs[index].wwpn);
    const uint8_t mode = targets != nullptr ? VX_FO_FROM_TARGETS : VX_FO_FROM_LUNS;
    if (targets != nullptr) {
        update_new_targets_from_user(&recs[index], targets);
        vxapi_validate_portsummary_data(recs);
    } else {
        update_new_luns_from_user(&recs[index], luns);
    }
    if (vxapi_set_data_to_line(recs, line.get(), mode) != SDERR_NO_ERROR) return SDERR_CONFIG_FILE;
    const uint32_t status = vxfoapi_set_all_lbtype(lb.get(), line.get(), true);
    vx_fo_depmod();
    return status;
}
