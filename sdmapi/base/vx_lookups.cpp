// Lookups over the port list, the function list and the legacy table.
//
// Every lookup walks its list from the front with the list's own cursor and
// stops at the first match, under vxapi_list_mutex(). A lookup that finds
// nothing leaves the cursor on the list head, so the next record inserted
// lands at the front.
#include <cstdio>
#include <cstring>

#include "base/vx_records.h"
#include "base/vx_sddbg.h"

namespace {

vxapi_priv_database* next_port() { return static_cast<vxapi_priv_database*>(dlist_next(api_priv_database)); }

vxapi_phy_info* next_function() { return static_cast<vxapi_phy_info*>(dlist_next(api_phy_info)); }

// The trace of a lookup called while the port list does not exist.
void trace_no_port_list(const char* name) {
    if (vxdbg_on(VXDBG_STEP)) {
        vxdbg_print(name, 0, VXDBG_NONE, 0);
        vxdbg_print(": api_priv_database is NOT initialized. Exiting.", 0, VXDBG_NONE, 1);
    }
}

// The same for the callers that address ports by instance number.
void trace_no_instances(const char* name) {
    if (vxdbg_on(VXDBG_ERROR)) {
        vxdbg_print(name, 0, VXDBG_NONE, 0);
        vxdbg_print(": no memory allocated for api_priv_data", 0, VXDBG_NONE, 1);
    }
}

void trace_no_function_list(const char* name) {
    if (vxdbg_on(VXDBG_STEP)) {
        vxdbg_print(name, 0, VXDBG_NONE, 0);
        vxdbg_print(": api_phy_info is NOT initialized. Exiting.", 0, VXDBG_NONE, 1);
    }
}

void trace_check_handle(uint32_t handle, const char* what) {
    if (vxdbg_on(VXDBG_ERROR | VXDBG_STEP)) {
        vxdbg_print("check_handle(", handle, VXDBG_HEX, 0);
        vxdbg_print(what, 0, VXDBG_NONE, 1);
    }
}

}  // namespace

vxapi_priv_database* check_handle(uint32_t handle) {
    if (handle == 0) {
        trace_check_handle(handle, "): invalid handle. Exiting.");
        return nullptr;
    }
    VxListLock lock(vxapi_list_mutex());
    if (api_priv_database == nullptr) {
        trace_check_handle(handle, "): api_priv_data is NOT initialized. Exiting.");
        return nullptr;
    }
    dlist_start(api_priv_database);
    while (vxapi_priv_database* rec = next_port()) {
        if (rec->apihandle != handle) continue;
        if ((rec->features & (VX_FEAT_IOCTL | VX_FEAT_SYSFS)) == 0) return nullptr;
        return rec;
    }
    return nullptr;
}

int vxapi_get_api_inst_by_handle(uint32_t handle, uint32_t* slot) {
    if (slot != nullptr) *slot = 0xFFFFFFFFu;
    // Handle 0 is the value of every slot not in use: it never denotes a
    // port, and "finding" an empty slot would send requests to descriptor 0.
    if (handle == 0) return 1;
    for (uint32_t i = 0; i < VX_LEGACY_SLOTS; ++i) {
        if (api_priv_data[i].apihandle == handle) {
            if (slot != nullptr) *slot = i;
            return 0;
        }
    }
    return 1;
}

int vxapi_get_host_no_by_handle(uint32_t handle, uint16_t* host_no) {
    if (host_no != nullptr) *host_no = 0xFFFF;
    if (handle == 0) return 1;
    VxListLock lock(vxapi_list_mutex());
    if (api_priv_database == nullptr) {
        trace_no_port_list("vxapi_get_host_no_by_handle");
        return 1;
    }
    dlist_start(api_priv_database);
    while (vxapi_priv_database* rec = next_port()) {
        if (rec->apihandle == handle) {
            if (host_no != nullptr) *host_no = static_cast<uint16_t>(rec->host_no);
            return 0;
        }
    }
    return 1;
}

vxapi_priv_database* vxapi_get_api_priv_inst_from_user_instance(uint32_t n) {
    VxListLock lock(vxapi_list_mutex());
    if (api_priv_database == nullptr) {
        trace_no_instances("vxapi_get_api_priv_inst_from_user_instance");
        return nullptr;
    }
    uint32_t position = 0;
    dlist_start(api_priv_database);
    while (vxapi_priv_database* rec = next_port()) {
        if (position == n) return rec;
        ++position;
    }
    return nullptr;
}

int vxapi_get_instance_from_api_priv_inst(const vxapi_priv_database* rec, uint32_t* position) {
    VxListLock lock(vxapi_list_mutex());
    if (api_priv_database == nullptr) {
        trace_no_instances("vxapi_get_instance_from_api_priv_inst");
        return 1;
    }
    uint32_t index = 0;
    dlist_start(api_priv_database);
    while (vxapi_priv_database* cur = next_port()) {
        if (cur == rec) {
            if (position != nullptr) *position = index;
            return 0;
        }
        ++index;
    }
    // Not a member: a position past the end would be taken for a valid one.
    return 1;
}

vxapi_priv_database* vxapi_get_api_priv_inst_from_adaptername(const char* name) {
    VxListLock lock(vxapi_list_mutex());
    if (api_priv_database == nullptr) {
        trace_no_port_list("vxapi_get_api_priv_inst_from_adaptername");
        return nullptr;
    }
    if (name == nullptr) return nullptr;
    int position = 0;
    dlist_start(api_priv_database);
    while (vxapi_priv_database* rec = next_port()) {
        // A port whose function could not be queried has no model, so no
        // name; it keeps its position among the others.
        if (rec->phy_info != nullptr) {
            char adapter_name[256] = {};
            // The model fills its 16 bytes without a terminator when it is
            // 16 characters long: bound the conversion.
            std::snprintf(adapter_name, sizeof adapter_name, "varnix-%.16s-%d",
                          reinterpret_cast<const char*>(rec->phy_info->model), position);
            if (std::strcmp(adapter_name, name) == 0) return rec;
        }
        ++position;
    }
    return nullptr;
}

uint32_t vxapi_get_open_adapter_count() {
    VxListLock lock(vxapi_list_mutex());
    if (api_priv_database == nullptr) {
        trace_no_port_list("vxapi_get_open_adapter_count");
        return 0;
    }
    uint32_t count = 0;
    dlist_start(api_priv_database);
    while (vxapi_priv_database* rec = next_port()) {
        if (rec->apihandle != 0) ++count;
    }
    return count;
}

int vxapi_is_host_no_present(uint32_t host_no) {
    VxListLock lock(vxapi_list_mutex());
    if (api_priv_database == nullptr) {
        trace_no_port_list("vxapi_is_host_no_present");
        return 1;
    }
    dlist_start(api_priv_database);
    while (vxapi_priv_database* rec = next_port()) {
        if (rec->host_no == host_no) return 0;
    }
    return 1;
}

vxapi_phy_info* vxapi_get_api_phy_info_inst(const EXT_CHIP* chip) {
    VxListLock lock(vxapi_list_mutex());
    if (api_phy_info == nullptr) {
        trace_no_function_list("vxapi_get_api_phy_info_inst");
        return nullptr;
    }
    if (chip == nullptr) return nullptr;
    dlist_start(api_phy_info);
    while (vxapi_phy_info* info = next_function()) {
        if (info->pci_domain == chip->DomainNr && info->pci_bus == chip->PciBusNumber &&
            info->pci_dev_func == chip->PciDevFunc)
            return info;
    }
    return nullptr;
}

vxapi_priv_database* vxapi_get_phy_port_from_vport(const vxapi_priv_database* rec) {
    VxListLock lock(vxapi_list_mutex());
    if (api_priv_database == nullptr) {
        trace_no_port_list("vxapi_get_phy_port_from_vport");
        return nullptr;
    }
    if (rec == nullptr || rec->phy_info == nullptr) {
        vxdbg_line(VXDBG_STEP, "vxapi_get_phy_port_from_vport: invalid vport. Exiting.");
        return nullptr;
    }
    dlist_start(api_priv_database);
    while (vxapi_priv_database* cur = next_port()) {
        if (cur->interface_type == VX_PORT_PHYSICAL && cur->phy_info == rec->phy_info) return cur;
    }
    return nullptr;
}

vxapi_priv_database* vxapi_get_vport_from_vport_id(const vxapi_priv_database* phys, uint32_t index) {
    VxListLock lock(vxapi_list_mutex());
    if (api_priv_database == nullptr) {
        trace_no_port_list("vxapi_get_vport_from_vport_id");
        return nullptr;
    }
    dlist_start(api_priv_database);
    while (vxapi_priv_database* cur = next_port()) {
        if (cur->interface_type == VX_PORT_VIRTUAL && cur->vp_idx == index && cur->parent == phys) return cur;
    }
    return nullptr;
}

vxapi_priv_database* vxapi_get_vport_from_wwn(const vxapi_priv_database* phys, const uint8_t* wwnn,
                                              const uint8_t* wwpn) {
    VxListLock lock(vxapi_list_mutex());
    if (api_priv_database == nullptr) {
        trace_no_port_list("vxapi_get_vport_from_wwn");
        return nullptr;
    }
    if (wwnn == nullptr || wwpn == nullptr) return nullptr;
    dlist_start(api_priv_database);
    while (vxapi_priv_database* cur = next_port()) {
        if (cur->interface_type == VX_PORT_VIRTUAL && cur->parent == phys &&
            std::memcmp(cur->wwnn, wwnn, sizeof cur->wwnn) == 0 &&
            std::memcmp(cur->wwpn, wwpn, sizeof cur->wwpn) == 0)
            return cur;
    }
    return nullptr;
}

void vxapi_fill_phy_port_number(vxapi_priv_database* rec) {
    // Without a function record there is no port number to set.
    if (rec == nullptr || rec->phy_info == nullptr) return;
    VxListLock lock(vxapi_list_mutex());
    if (api_priv_database == nullptr) {
        trace_no_port_list("vxapi_fill_phy_port_number");
        return;
    }
    vxapi_phy_info* own = rec->phy_info;
    own->port_number = 1;
    dlist_start(api_priv_database);
    while (vxapi_priv_database* cur = next_port()) {
        // Ports kept although their chip query failed have no function
        // record: they belong to no known adapter.
        if (cur->interface_type != VX_PORT_PHYSICAL || cur->phy_info == nullptr) continue;
        if (std::strncmp(reinterpret_cast<const char*>(cur->phy_info->serial_num),
                         reinterpret_cast<const char*>(own->serial_num), sizeof own->serial_num) != 0)
            continue;
        if (cur == rec) break;
        ++own->port_number;
    }
}
