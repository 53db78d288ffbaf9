// The sysfs twins of the driver workers: the same operations for ports that
// the driver serves through sysfs attribute files, bsg vendor commands and
// netlink messages (ports with feature 0x20). Each takes the arguments of its
// ioctl worker and fills the same driver records.
#pragma once

#include <cstdint>

#include <sysfs/libsysfs.h>

#include "base/vx_records.h"
#include "transport/vx_sysfs_prim.h"

// Driver specifics of a sysfs port into a 64-byte EXT_LN_DRIVER_DATA (zeroed
// first): the version numbers of the driver query's "Version" text and the
// flag VXSYSFS_DRIVER_FLAG_VERSION. When the driver query fails, its status
// and result.
constexpr uint32_t VXSYSFS_DRIVER_FLAG_VERSION = 0x10;
[[nodiscard]] int vxsysfs_get_driver_specifics(int fd, vxapi_priv_database* rec, void* response, uint32_t* status);

// Queries of a sysfs port.
[[nodiscard]] int vxsysfs_query_chip(int fd, vxapi_priv_database* rec, EXT_CHIP* chip, uint32_t* status);
[[nodiscard]] int vxsysfs_query_hbanode(int fd, vxapi_priv_database* rec, EXT_HBA_NODE* node, uint32_t* status);
[[nodiscard]] int vxsysfs_query_hbaport(int fd, vxapi_priv_database* rec, EXT_HBA_PORT* port, uint32_t* status);
// index: the n-th online target port of the host.
[[nodiscard]] int vxsysfs_query_discport(int fd, vxapi_priv_database* rec, uint16_t index, EXT_DISC_PORT* port,
                                         uint32_t* status);
// target_id: the SCSI target id.
[[nodiscard]] int vxsysfs_query_disctgt(int fd, vxapi_priv_database* rec, uint16_t target_id, EXT_DISC_TARGET* target,
                                        uint32_t* status);
[[nodiscard]] int vxsysfs_query_cnaport(int fd, vxapi_priv_database* rec, EXT_CNA_PORT* cna, uint32_t* status);
[[nodiscard]] int vxsysfs_query_driver(int fd, vxapi_priv_database* rec, EXT_DRIVER* driver, uint32_t* status);
[[nodiscard]] int vxsysfs_query_fw(int fd, vxapi_priv_database* rec, EXT_FW* fw, uint32_t* status);
// db_type: the management API's selection word (not used); dev_data holds devdata_size bytes.
[[nodiscard]] int vxsysfs_get_port_summary(int fd, vxapi_priv_database* rec, const uint32_t* db_type,
                                           EXT_DEVICEDATA* dev_data, uint32_t devdata_size, uint32_t* status,
                                           uint32_t* detail_status);
// wwpn: the remote port's name; len is not used.
[[nodiscard]] int vxsysfs_wwpn_to_scsiaddr(int fd, vxapi_priv_database* rec, const uint8_t* wwpn, uint32_t len,
                                           EXT_SCSI_ADDR* addr, uint32_t* status);
// Link statistics of the port from its FC host's "statistics" files, SCSI
// host counters and SCSI devices' counters (status 9 and the record partly
// filled when the files or devices are missing; a missing counter is 0; one
// that is there but cannot be read or holds no number fails the read with
// the status of vxsysfs_answer_status).
// Link error counters of a remote port (dest_addr: its 16-byte destination
// address with the WWPN) from an ELS RLS exchange: 0 and status 0 when the
// port accepted with a whole answer (28 bytes); 1 and status 8 for an accept
// that came shorter; else 1 and status 1.
[[nodiscard]] int vxsysfs_get_statistics(int fd, vxapi_priv_database* rec, EXT_HBA_PORT_STAT* stats, uint32_t* status);
[[nodiscard]] int vxsysfs_get_port_statistics(int fd, vxapi_priv_database* rec, const void* dest_addr,
                                              EXT_HBA_PORT_STAT* stats, uint32_t* status);
// DCBX parameters: *size bytes into the buffer (the size is not changed).
[[nodiscard]] int vxsysfs_get_dcbx_param(int fd, vxapi_priv_database* rec, void* buffer, uint32_t* size,
                                         uint32_t* status);

// ---- discovery ----

// Clears sysfs_mnt_path and fills it with the sysfs mount point (libsysfs,
// which honours SYSFS_PATH). 0 when sysfs is mounted, nonzero otherwise.
[[nodiscard]] int vxsysfs_init();

// The driver names looked up on the PCI bus, in order.
constexpr unsigned VXSYSFS_DRIVER_NAMES = 6;
extern const char* const driver_names[VXSYSFS_DRIVER_NAMES];
// The host numbers of the PCI function being discovered (cells of 4 bytes;
// null between functions), and the cell made last.
extern Dlist* host_no_list;
extern uint32_t* host_array;

// What discovery reads of a new physical port beside its sysfs files: the
// function's flash layout and the versions kept in flash. The workers that
// read them are handed to the walk by its caller (core/life/vx_port_attach.h),
// so that the walk itself reaches no worker.
struct VxPortAttach {
    // The flash layout, on the chips that keep a flash layout table: 0 read
    // (or no table on this chip), 1 not read.
    int32_t (*read_layout)(int fd, vxapi_priv_database* rec);
    // The versions of the firmware parts and the active image set.
    void (*read_versions)(int fd, vxapi_priv_database* rec);
};

// Discovers the ports of the supported drivers bound on the PCI bus and adds
// the number of port records made to *counter; each new physical port is
// completed with `attach`. Always 0. The form without `attach` is the
// workers' (core/life/vx_port_attach.h).
[[nodiscard]] int vxsysfs_supported_driver_exist(uint32_t* counter, const VxPortAttach& attach);
// The ports of one driver's devices. 1 when memory ran out (every record of
// both lists freed, *count 0), else 0.
[[nodiscard]] int vxsysfs_get_driver_devices(struct sysfs_driver* driver, uint32_t* count, uint32_t* index,
                                             const VxPortAttach& attach);
// Fills host_no_list with the device's hosts: the host directly under the
// function first, then the hosts of its virtual ports in ascending order,
// each once.
void vxsysfs_collect_hostno_list_from_devices_path(struct sysfs_device* device);
// Inserts the number behind "host" of the entry name in ascending order
// (once) and returns it. On failure host_no_list is destroyed (null).
[[nodiscard]] uint32_t vxsysfs_add_hostno_in_host_no_list(const char* name);
// The host list's order: 1 when the new cell's number is the smaller.
[[nodiscard]] int vxsysfs_is_new_node_smaller(void* new_node, void* old_node);
// Flash chunking: adds VX_FEAT_FLASH_CHUNKS when the driver refuses the
// probe "4" on the host's "optrom_ctl"; nothing when that cannot be opened.
void vxsysfs_is_chunking_supported(struct sysfs_device* device, vxapi_priv_database* rec);
// wwnn, wwpn and port_id (bytes 1..3) from the port's FC host; an absent
// one is 0. When one of them did not come (unreadable, no number, too
// large) the record is kept, marked VX_PORT_FLAG_NAMES_UNKNOWN.
void vxsysfs_get_device_attributes(struct sysfs_device* device, vxapi_priv_database* rec);
// The port's record as a call that reports its names takes it: a copy of
// the listed record into *own, whose names, when they did not come at
// discovery (VX_PORT_FLAG_NAMES_UNKNOWN), are read again from the FC host as
// discovery reads them. The listed record is never changed (other threads
// read it without the list lock). Came, or the answer of the first name that
// did not come now.
[[nodiscard]] VxAttrAnswer vxsysfs_port_with_names(const vxapi_priv_database* rec, vxapi_priv_database* own);
// The maximum of virtual ports the driver reports for the physical port of
// host_no: the FC host's "max_npiv_vports", else (absent or 0) the SCSI
// host's, into *max (0 when neither is there). Came or Absent; any other
// answer (a read that failed, no number of 16 bits) leaves *max 0.
[[nodiscard]] VxAttrAnswer vxsysfs_get_max_vports(uint32_t host_no, uint16_t* max);
// The four PCI ids of the function; a missing one leaves its field.
void vxsysfs_get_device_phy_info_attributes(struct sysfs_device* device, vxapi_phy_info* phy);

// ---- virtual-port indexes (1 to 512, bit index-1 of vp_map) ----
// The map and the port list are kept under the list lock (vxapi_list_mutex).

// Takes the lowest index that is neither marked nor held by a listed virtual
// port of the function (the driver's ids among them) and marks it; 0 when
// none is free.
[[nodiscard]] uint32_t vxsysfs_get_set_vport_id(vxapi_phy_info* phy);
// Frees the index; an index outside 1..512 changes nothing.
void vxsysfs_clear_vport_id(vxapi_phy_info* phy, uint32_t index);
// The host's "vport_id" (hexadecimal) when it has one, else a new index.
// A "vport_id" that is there but gives no id (unreadable, no number, 0 or
// past 32 bits) gives 0 and takes no index; *answer (when given) says what
// became of the read (Absent: the index is the library's own).
[[nodiscard]] uint32_t vxsysfs_get_vport_id(vxapi_phy_info* phy, uint32_t host_no, VxAttrAnswer* answer = nullptr);
// 0 when the FC host's "port_name" is the WWPN (8 bytes), else 1.
[[nodiscard]] int vxsysfs_is_vhost_no_wwpn_match(uint32_t host_no, const uint8_t* wwpn);
// The FC host whose port name is the WWPN; 0 when none is.
[[nodiscard]] uint32_t vxsysfs_get_vport_host_no(const uint8_t* wwpn);

// The SCSI generic node /dev/<name>, non-blocking, read-only for commands
// that only read, else read-write. The descriptor, negative on failure.
[[nodiscard]] int vxsysfs_open(const char* name, uint8_t opcode);
