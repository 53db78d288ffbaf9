// The library's records: one per adapter port, one per PCI function, the
// legacy per-port table of the failover layer, their lists and lookups.
//
// Both lists are libsysfs dlists with one cursor each, which every walk,
// insertion and deletion moves; a new record is inserted after the cursor,
// so where the last walk left the cursor decides the order of the list.
// All records are allocated with calloc and released with free (the lists
// own their elements).
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

#include <sysfs/dlist.h>

#include "base/vx_driver_records.h"
#include "base/vx_mutex.h"

struct INT_OPT_ROM_LAYOUT;  // a function's flash region layout (calloc'd)

// Feature bits of vxapi_priv_database::features.
constexpr uint32_t VX_FEAT_IOCTL = 0x1;          // the driver answered driver specifics on the node
constexpr uint32_t VX_FEAT_NEW_IOCTL = 0x2;      // new request header (EXT_IOCTL) and unconverted codes
constexpr uint32_t VX_FEAT_COMPLETE = 0x4;       // record complete
constexpr uint32_t VX_FEAT_AEN = 0x10;           // asynchronous event reporting on
constexpr uint32_t VX_FEAT_SYSFS = 0x20;         // sysfs port: workers take the sysfs, bsg or netlink twin
constexpr uint32_t VX_FEAT_LUN_4096 = 0x40;      // targets have 4096 LUNs
constexpr uint32_t VX_FEAT_FLASH_CHUNKS = 0x80;  // the driver moves flash in chunks
constexpr uint32_t VX_FEAT_DRV_FLAG_8 = 0x100;   // the driver reports its flag 0x8
constexpr uint32_t VX_FEAT_NL_VENDOR = 0x200;    // the vendor netlink socket is open
constexpr uint32_t VX_FEAT_NL_SCSI_FC = 0x400;   // the scsi_fc netlink socket is open
constexpr uint32_t VX_FEAT_NL_SCSI_FC_ONLY = 0x800;  // events only through the scsi_fc socket
constexpr uint32_t VX_FEAT_BSG = 0x1000;         // vendor commands go through the FC host's bsg node

// Port kinds (interface_type).
constexpr uint32_t VX_PORT_PHYSICAL = 1;
constexpr uint32_t VX_PORT_VIRTUAL = 3;

// port_flags bits: an event callback is registered for the port; the port's
// names or port id did not come when it was found (sysfs): a call that
// reports them reads them again, and fails when they do not come then.
constexpr uint32_t VX_PORT_FLAG_EVENT_CB = 0x1;
constexpr uint32_t VX_PORT_FLAG_NAMES_UNKNOWN = 0x2;

struct vxapi_priv_database;

struct vxapi_remove_callback_t {
    uint32_t api_hba_idx;
    uint32_t reg_events;
    uint8_t hba_wwpn[8];
    uint8_t disc_wwpn[8];
    uint32_t all_targets;
    uint32_t event_type;
    void* link_event_buf;
    uint8_t reserved[16];
};
static_assert(sizeof(vxapi_remove_callback_t) == 56);

struct vxapi_hbapt_reg_cb_t {
    void* cb_hba_port_event;  // the caller's port event function
    void* hba_port_userdata;  // handed back to it
    uint32_t hba_port_buf_len;
    vxapi_remove_callback_t* prmcb_handle;  // owned
};
static_assert(sizeof(vxapi_hbapt_reg_cb_t) == 32);

struct vxapi_aen_callback_table {
    vxapi_hbapt_reg_cb_t hbapt_event_cb;
};
static_assert(sizeof(vxapi_aen_callback_table) == 32);

// Per-PCI-function record, shared by a physical port and its virtual ports.
struct vxapi_phy_info {
    uint8_t model[16];
    uint16_t vendor_id;
    uint16_t device_id;
    uint16_t ssvendor_id;
    uint16_t ssdevice_id;
    uint8_t serial_num[128];
    uint16_t pci_domain;
    uint16_t pci_bus;
    uint16_t pci_dev_func;
    uint16_t max_vports;
    INT_OPT_ROM_LAYOUT* pflt_layout;  // owned
    uint32_t fcoe_valid;
    uint32_t reserved2;
    uint8_t mpi_running_ver[8];
    uint8_t edc_running_ver[8];
    uint8_t mpi_flash_ver[8];
    uint8_t edc_flash_ver[8];
    uint8_t nic_bios_ver[8];
    uint8_t nic_fcode_ver[8];
    uint8_t nic_efi_ver[8];
    uint8_t vp_map[64];
    uint32_t vp_inuse;
    uint8_t port_number;
    uint8_t active_image;
    uint16_t reserved4;
    uint8_t reserved[16];
};
static_assert(sizeof(vxapi_phy_info) == 320);
static_assert(offsetof(vxapi_phy_info, serial_num) == 24);
static_assert(offsetof(vxapi_phy_info, pci_domain) == 152);
static_assert(offsetof(vxapi_phy_info, pflt_layout) == 160);
static_assert(offsetof(vxapi_phy_info, fcoe_valid) == 168);
static_assert(offsetof(vxapi_phy_info, mpi_running_ver) == 176);
static_assert(offsetof(vxapi_phy_info, vp_map) == 232);
static_assert(offsetof(vxapi_phy_info, vp_inuse) == 296);
static_assert(offsetof(vxapi_phy_info, port_number) == 300);
static_assert(offsetof(vxapi_phy_info, reserved) == 304);

// Per-port record (physical or virtual port).
struct vxapi_priv_database {
    uint8_t phys_path[256];  // first byte 0: torn down
    int32_t oshandle;        // descriptor of the driver's node, -1 while not open
    uint32_t apihandle;      // API handle while open, 0 otherwise
    uint32_t open_cnt;
    uint32_t drvr_inst;
    uint32_t host_no;
    uint32_t drvr_attr;
    uint8_t wwnn[8];
    uint8_t wwpn[8];
    uint8_t port_id[4];  // bytes 1..3: domain, area, AL_PA
    uint32_t interface_type;
    uint32_t vp_idx;
    uint32_t features;
    uint32_t port_flags;
    uint16_t topology;
    uint16_t state;
    vxapi_phy_info* phy_info;          // not owned
    vxapi_priv_database* parent;       // not owned
    vxapi_aen_callback_table* api_event_cbs;  // owned
    uint8_t reserved[168];
};
static_assert(sizeof(vxapi_priv_database) == 512);
static_assert(offsetof(vxapi_priv_database, oshandle) == 256);
static_assert(offsetof(vxapi_priv_database, apihandle) == 260);
static_assert(offsetof(vxapi_priv_database, drvr_inst) == 268);
static_assert(offsetof(vxapi_priv_database, host_no) == 272);
static_assert(offsetof(vxapi_priv_database, wwnn) == 280);
static_assert(offsetof(vxapi_priv_database, wwpn) == 288);
static_assert(offsetof(vxapi_priv_database, port_id) == 296);
static_assert(offsetof(vxapi_priv_database, interface_type) == 300);
static_assert(offsetof(vxapi_priv_database, features) == 308);
static_assert(offsetof(vxapi_priv_database, topology) == 316);
static_assert(offsetof(vxapi_priv_database, phy_info) == 320);
static_assert(offsetof(vxapi_priv_database, parent) == 328);
static_assert(offsetof(vxapi_priv_database, api_event_cbs) == 336);
static_assert(offsetof(vxapi_priv_database, reserved) == 344);

// Legacy per-port table entry, addressed by slot number by the failover layer.
struct vxapi_priv_db_t {
    char phys_path[80];
    char model[16];
    int oshandle;
    uint32_t apihandle;
    uint32_t open_cnt;
    uint16_t drvr_inst;
    uint16_t host_no;
    uint32_t drvr_attr;
    uint8_t wwnn[8];
    uint8_t wwpn[8];
    uint8_t port_id[4];
    uint32_t port_cnt;
    uint32_t features;
    uint16_t vendor_id;
    uint16_t device_id;
    uint16_t ssvendor_id;
    uint16_t ssdevice_id;
    char serial_num[32];
};
static_assert(sizeof(vxapi_priv_db_t) == 184);
static_assert(offsetof(vxapi_priv_db_t, oshandle) == 96);
static_assert(offsetof(vxapi_priv_db_t, drvr_inst) == 108);
static_assert(offsetof(vxapi_priv_db_t, wwnn) == 116);
static_assert(offsetof(vxapi_priv_db_t, features) == 140);
static_assert(offsetof(vxapi_priv_db_t, serial_num) == 152);

constexpr unsigned VX_LEGACY_SLOTS = 32;

// Feature bit of a legacy slot: the port's driver is known to use the new
// configuration store. Slot 0's features also hold switches for all ports
// (VX_FEAT_SYSFS, VX_FEAT_LUN_4096 and 0x100), which the slot's own port
// never changes.
constexpr uint32_t VX_SLOT_NEW_CFG_STORE = 0x8;

// The lists (null: not created) and the records allocated last.
extern Dlist* api_priv_database;
extern Dlist* api_phy_info;
extern vxapi_priv_database* current_priv_inst;
extern vxapi_phy_info* current_phy_info_inst;
extern vxapi_priv_db_t api_priv_data[VX_LEGACY_SLOTS];

// The lock of both lists: every walk, insertion and removal holds it, so
// that the event thread and the caller's thread never move the cursor at the
// same time, and so does every change to a listed record (the event thread
// copies the listed records). Recursive: a lookup may run inside a walk of
// the same thread. The list heads (api_priv_database, api_phy_info) change
// only in calls that hold the lock of the public API, under this lock too:
// such a call reads them under either lock, the event thread under this one.
[[nodiscard]] VxRecursiveMutex& vxapi_list_mutex();
using VxListLock = std::lock_guard<VxRecursiveMutex>;

// Lookups and list management.
[[nodiscard]] vxapi_priv_database* check_handle(uint32_t handle);
[[nodiscard]] uint32_t vxapi_create_apihandle(uint32_t position);
[[nodiscard]] int vxapi_get_api_inst_by_handle(uint32_t handle, uint32_t* slot);
[[nodiscard]] int vxapi_get_host_no_by_handle(uint32_t handle, uint16_t* host_no);
[[nodiscard]] vxapi_priv_database* vxapi_get_api_priv_inst_from_user_instance(uint32_t n);
[[nodiscard]] int vxapi_get_instance_from_api_priv_inst(const vxapi_priv_database* rec, uint32_t* position);
[[nodiscard]] vxapi_priv_database* vxapi_get_api_priv_inst_from_adaptername(const char* name);
[[nodiscard]] uint32_t vxapi_get_open_adapter_count();
[[nodiscard]] int vxapi_is_host_no_present(uint32_t host_no);
[[nodiscard]] vxapi_phy_info* vxapi_get_api_phy_info_inst(const EXT_CHIP* chip);
[[nodiscard]] vxapi_priv_database* vxapi_get_phy_port_from_vport(const vxapi_priv_database* rec);
[[nodiscard]] vxapi_priv_database* vxapi_get_vport_from_vport_id(const vxapi_priv_database* phys, uint32_t index);
[[nodiscard]] vxapi_priv_database* vxapi_get_vport_from_wwn(const vxapi_priv_database* phys, const uint8_t* wwnn,
                                                            const uint8_t* wwpn);
void vxapi_fill_phy_port_number(vxapi_priv_database* rec);
[[nodiscard]] uint8_t vxapi_get_number_of_bits_set(uint32_t value);
[[nodiscard]] int vxapi_alloc_api_priv_data_mem(vxapi_priv_database** out);
void vxapi_free_api_priv_data_element(vxapi_priv_database* rec);
void vxapi_free_api_priv_data_mem();
[[nodiscard]] int vxapi_alloc_api_phy_info_mem(vxapi_phy_info** out, const EXT_CHIP* chip);
void vxapi_free_api_phy_info_element(vxapi_phy_info* info);
void vxapi_free_api_phy_info_mem();

// The legacy slots follow the opens of ports: an open of the port at
// `position` (below 32) fills slot `position` from its record; a close
// mirrors the open count into the slots that hold the handle, and the last
// one (open_cnt 0) clears their handle and descriptor.
void vxapi_legacy_slot_open(const vxapi_priv_database* rec, uint32_t position);
void vxapi_legacy_slot_close(uint32_t handle, uint32_t open_cnt);
// Slot 0's sysfs switch (VX_FEAT_SYSFS) belongs to the current load:
// discovery turns it on when it finds the ports through sysfs and off when it
// looks for them on an ioctl road, and the unload turns it off. Slot 0's
// other bits (the store the port's driver keeps, the other switches) stay.
void vxapi_legacy_sysfs_mode(bool on);

// The handle for a record that is being opened: position + 1, or, when
// another open record already holds that value, the next value that no
// record holds (two open ports never share a handle).
[[nodiscard]] uint32_t vxapi_assign_apihandle(const vxapi_priv_database* rec, uint32_t position);
