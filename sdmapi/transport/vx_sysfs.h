// The sysfs twins of the driver workers: the same operations for ports that
// the driver serves through sysfs attribute files, bsg vendor commands and
// netlink messages (ports with feature 0x20). Each takes the arguments of its
// ioctl worker and fills the same driver records.
#pragma once

#include <cstdint>

#include "core/vx_records.h"

// Driver specifics of a sysfs port into a 64-byte EXT_LN_DRIVER_DATA.
int vxsysfs_get_driver_specifics(int fd, vxapi_priv_database* rec, void* response, uint32_t* status);

// Queries of a sysfs port.
int vxsysfs_query_chip(int fd, vxapi_priv_database* rec, EXT_CHIP* chip, uint32_t* status);
int vxsysfs_query_hbanode(int fd, vxapi_priv_database* rec, EXT_HBA_NODE* node, uint32_t* status);
int vxsysfs_query_hbaport(int fd, vxapi_priv_database* rec, EXT_HBA_PORT* port, uint32_t* status);
// index: the n-th online target port of the host.
int vxsysfs_query_discport(int fd, vxapi_priv_database* rec, uint16_t index, EXT_DISC_PORT* port,
                           uint32_t* status);
// target_id: the SCSI target id.
int vxsysfs_query_disctgt(int fd, vxapi_priv_database* rec, uint16_t target_id, EXT_DISC_TARGET* target,
                          uint32_t* status);
int vxsysfs_query_cnaport(int fd, vxapi_priv_database* rec, EXT_CNA_PORT* cna, uint32_t* status);
int vxsysfs_query_driver(int fd, vxapi_priv_database* rec, EXT_DRIVER* driver, uint32_t* status);
int vxsysfs_query_fw(int fd, vxapi_priv_database* rec, EXT_FW* fw, uint32_t* status);
// db_type: the management API's selection word (not used); dev_data holds devdata_size bytes.
int vxsysfs_get_port_summary(int fd, vxapi_priv_database* rec, const uint32_t* db_type, EXT_DEVICEDATA* dev_data,
                             uint32_t devdata_size, uint32_t* status, uint32_t* detail_status);
// wwpn: the remote port's name; len is not used.
int vxsysfs_wwpn_to_scsiaddr(int fd, vxapi_priv_database* rec, const uint8_t* wwpn, uint32_t len,
                             EXT_SCSI_ADDR* addr, uint32_t* status);
// Link statistics of the port, and of a remote port (dest_addr: its 16-byte
// destination address).
int vxsysfs_get_statistics(int fd, vxapi_priv_database* rec, EXT_HBA_PORT_STAT* stats, uint32_t* status);
int vxsysfs_get_port_statistics(int fd, vxapi_priv_database* rec, const void* dest_addr, EXT_HBA_PORT_STAT* stats,
                                uint32_t* status);
// DCBX parameters: *size bytes into the buffer (the size is not changed).
int vxsysfs_get_dcbx_param(int fd, vxapi_priv_database* rec, void* buffer, uint32_t* size, uint32_t* status);

// ---- discovery ----

// Clears sysfs_mnt_path and fills it with the sysfs mount point (libsysfs,
// which honours SYSFS_PATH). 0 when sysfs is mounted, nonzero otherwise.
int vxsysfs_init();

// Discovers the ports of the supported drivers bound on the PCI bus and adds
// the number of port records made to *counter. Always 0.
int vxsysfs_supported_driver_exist(uint32_t* counter);
