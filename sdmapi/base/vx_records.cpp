// The library's record lists: creation and release of port and function
// records, API handles and the process-wide list lock.
//
// Both lists are libsysfs dlists with a single cursor. Every walk starts with
// dlist_start (or dlist_end for the backward walks of the releases) and moves
// the cursor; a new record is inserted after the cursor, which then rests on
// it. The order of the list, and thereby the instance numbers and handles of
// the ports, follows from that. Every walk, insertion and deletion holds
// vxapi_list_mutex(), so the event thread and the caller's thread never move
// a cursor at the same time.
#include <cstdlib>
#include <cstring>

#include "base/vx_records.h"
#include "base/vx_sddbg.h"

Dlist* api_priv_database = nullptr;
Dlist* api_phy_info = nullptr;
vxapi_priv_database* current_priv_inst = nullptr;
vxapi_phy_info* current_phy_info_inst = nullptr;
vxapi_priv_db_t api_priv_data[VX_LEGACY_SLOTS];

VxRecursiveMutex& vxapi_list_mutex() {
    static VxRecursiveMutex mutex;
    return mutex;
}

uint32_t vxapi_create_apihandle(uint32_t position) { return position + 1; }

namespace {

// Whether a record of the port list other than `self` holds `handle`. Leaves
// the list's cursor alone: an open must not change where the next record is
// inserted.
bool handle_held_by_other(const vxapi_priv_database* self, uint32_t handle) {
    DL_node* node = nullptr;
    dlist_for_each_nomark(api_priv_database, node) {
        const auto* rec = static_cast<const vxapi_priv_database*>(node->data);
        if (rec != self && rec->apihandle == handle) return true;
    }
    return false;
}

}  // namespace

// Handles are positions + 1, but positions shift when records are inserted
// in front of an open port or removed before it; a port opened afterwards
// could then receive the handle of a port that is still open, and
// check_handle would send its requests to the wrong port. Skip every value
// that another record holds, and 0, which never denotes a port. While the
// list is unchanged a port reopened gets the same value as before.
uint32_t vxapi_assign_apihandle(const vxapi_priv_database* rec, uint32_t position) {
    VxListLock lock(vxapi_list_mutex());
    uint32_t handle = vxapi_create_apihandle(position);
    if (api_priv_database == nullptr) return handle != 0 ? handle : 1;
    // At most count records hold a value, so at most count + 1 candidates
    // (plus 0) are looked at before a free one turns up.
    while (handle == 0 || handle_held_by_other(rec, handle)) ++handle;
    return handle;
}

uint8_t vxapi_get_number_of_bits_set(uint32_t value) {
    uint8_t count = 0;
    for (uint32_t bit = 1;; bit <<= 1) {
        if ((value & bit) != 0) ++count;
        // Stop after the highest bit: shifting it once more would give 0 and
        // the loop would never end.
        if (bit > value || bit == 0x80000000u) break;
    }
    return count;
}

namespace {

// Releases what a port record owns and unhooks it from other records; the
// record itself is released by the list when its node is deleted.
void release_priv_contents(vxapi_priv_database* rec) {
    if (vxapi_aen_callback_table* cbs = rec->api_event_cbs) {
        cbs->hbapt_event_cb.cb_hba_port_event = nullptr;
        cbs->hbapt_event_cb.hba_port_userdata = nullptr;
        if (cbs->hbapt_event_cb.prmcb_handle != nullptr) {
            std::free(cbs->hbapt_event_cb.prmcb_handle);
            cbs->hbapt_event_cb.prmcb_handle = nullptr;
        }
        std::free(cbs);
        rec->api_event_cbs = nullptr;
    }
    rec->phy_info = nullptr;
    rec->parent = nullptr;
    if (current_priv_inst == rec) current_priv_inst = nullptr;
}

void release_phy_contents(vxapi_phy_info* info) {
    if (info->pflt_layout != nullptr) {
        std::free(info->pflt_layout);
        info->pflt_layout = nullptr;
    }
    if (current_phy_info_inst == info) current_phy_info_inst = nullptr;
}

// Walks `list` from its end backwards to `data`; when found, the cursor rests
// on it and the result is true.
bool find_backwards(Dlist* list, const void* data) {
    dlist_end(list);
    while (void* d = dlist_prev(list)) {
        if (d == data) return true;
    }
    return false;
}

// Deletes the node under the cursor; the list frees its element. The cursor
// moves to the predecessor (the list head when the first node goes), so a
// record inserted next takes the place of the deleted one; in particular,
// deleting the last record does not send the next insertion to the front.
void delete_at_cursor(Dlist* list) { dlist_delete(list, 0); }

// Releases every element from the end backwards, then the list.
template <typename T, typename Release>
void release_list(Dlist*& list, Release release) {
    for (;;) {
        dlist_end(list);
        auto* item = static_cast<T*>(dlist_prev(list));
        if (item == nullptr) break;
        release(item);
        delete_at_cursor(list);
    }
    dlist_destroy(list);
    list = nullptr;
}

}  // namespace

int vxapi_alloc_api_priv_data_mem(vxapi_priv_database** out) {
    VxListLock lock(vxapi_list_mutex());
    if (out != nullptr) *out = nullptr;
    if (api_priv_database == nullptr) {
        api_priv_database = dlist_new(sizeof(vxapi_priv_database));
        if (api_priv_database == nullptr) {
            vxdbg_line(VXDBG_ERROR, "vxapi_alloc_api_priv_data_mem: not enough memory for api_priv_data");
            return 1;
        }
    }

    const char* failure = nullptr;
    auto* rec = static_cast<vxapi_priv_database*>(std::calloc(1, sizeof(vxapi_priv_database)));
    current_priv_inst = rec;
    if (rec == nullptr) {
        failure = "vxapi_alloc_api_priv_data_mem: not enough memory for api_priv_data instance";
    } else {
        rec->oshandle = -1;
        rec->api_event_cbs =
            static_cast<vxapi_aen_callback_table*>(std::calloc(1, sizeof(vxapi_aen_callback_table)));
        if (rec->api_event_cbs == nullptr) {
            failure = "vxapi_alloc_api_priv_data_mem: not enough memory for api_event_cbs";
        } else if (dlist_insert(api_priv_database, rec, 1) == nullptr) {
            failure = "vxapi_alloc_api_priv_data_mem: dlist_insert failed";
        }
    }

    if (failure != nullptr) {
        vxdbg_line(VXDBG_ERROR, failure);
        vxdbg_line(VXDBG_STEP, "vxapi_alloc_api_priv_data_mem: failed");
        // The record never reached the list, so the list cannot free it.
        if (rec != nullptr) {
            std::free(rec->api_event_cbs);
            std::free(rec);
        }
        current_priv_inst = nullptr;
        vxapi_free_api_priv_data_mem();
        return 1;
    }
    if (out != nullptr) *out = rec;
    return 0;
}

void vxapi_free_api_priv_data_element(vxapi_priv_database* rec) {
    VxListLock lock(vxapi_list_mutex());
    if (api_priv_database == nullptr || rec == nullptr) return;
    if (!find_backwards(api_priv_database, rec)) return;
    release_priv_contents(rec);
    delete_at_cursor(api_priv_database);
}

void vxapi_free_api_priv_data_mem() {
    VxListLock lock(vxapi_list_mutex());
    if (api_priv_database == nullptr) return;
    release_list<vxapi_priv_database>(api_priv_database, release_priv_contents);
    current_priv_inst = nullptr;
}

int vxapi_alloc_api_phy_info_mem(vxapi_phy_info** out, const EXT_CHIP* chip) {
    VxListLock lock(vxapi_list_mutex());
    if (out != nullptr) *out = nullptr;
    if (chip == nullptr) {
        vxdbg_line(VXDBG_ERROR, "vxapi_alloc_api_phy_info_mem: failed");
        return 1;
    }
    if (api_phy_info != nullptr) {
        if (vxapi_phy_info* found = vxapi_get_api_phy_info_inst(chip)) {
            if (out != nullptr) *out = found;
            return 0;
        }
    } else {
        api_phy_info = dlist_new(sizeof(vxapi_phy_info));
        if (api_phy_info == nullptr) {
            vxdbg_line(VXDBG_ERROR, "vxapi_alloc_api_phy_info_mem: not enough memory for api_phy_info");
            return 1;
        }
    }

    const char* failure = nullptr;
    auto* info = static_cast<vxapi_phy_info*>(std::calloc(1, sizeof(vxapi_phy_info)));
    current_phy_info_inst = info;
    if (info == nullptr) {
        failure = "vxapi_alloc_api_phy_info_mem: not enough memory for api_phy_info instance";
    } else if (dlist_insert(api_phy_info, info, 1) == nullptr) {
        failure = "vxapi_alloc_api_phy_info_mem: dlist_insert failed";
    }

    if (failure != nullptr) {
        vxdbg_line(VXDBG_ERROR, failure);
        vxdbg_line(VXDBG_STEP, "vxapi_alloc_api_phy_info_mem: failed");
        std::free(info);
        current_phy_info_inst = nullptr;
        vxapi_free_api_phy_info_mem();
        return 1;
    }
    if (out != nullptr) *out = info;
    return 0;
}

void vxapi_free_api_phy_info_element(vxapi_phy_info* info) {
    VxListLock lock(vxapi_list_mutex());
    if (api_phy_info == nullptr || info == nullptr) return;
    if (!find_backwards(api_phy_info, info)) return;
    release_phy_contents(info);
    delete_at_cursor(api_phy_info);
}

void vxapi_free_api_phy_info_mem() {
    VxListLock lock(vxapi_list_mutex());
    if (api_phy_info == nullptr) return;
    release_list<vxapi_phy_info>(api_phy_info, release_phy_contents);
    current_phy_info_inst = nullptr;
}
