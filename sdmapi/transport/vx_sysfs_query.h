// The readers behind the queries of sysfs ports: remote ports and SCSI
// devices of a host, the OS device names of a LUN, the PCI Express
// capability, one VPD keyword, and the boot-code versions read from flash
// through the driver's flash window.
//
// The queries themselves (node, port, converged port, discovered port and
// target, driver, firmware, chip, port summary, SCSI address, region
// versions) are declared with their ioctl twins in vx_sysfs.h,
// vx_sysfs_mgmt.h and vx_sysfs_attrs.h.
#pragma once

#include <cstdint>

#include "base/vx_driver_records.h"
#include "base/vx_records.h"
#include "transport/vx_sysfs_prim.h"

// The size of a PCI function's configuration space image.
constexpr uint32_t VXSYSFS_PCI_CONFIG_SIZE = 4096;
// OS device name lists are built into buffers of this many bytes.
constexpr uint32_t VXSYSFS_DEVNAME_SIZE = 256;

// The LUN of the first SCSI device "<host>:0:<target>:..." in the listing of
// the class "scsi_device"; 0 when there is none.
[[nodiscard]] uint16_t vxsysfs_get_first_lun(uint16_t host_no, uint16_t tgt_id);

// The target id of a remote port that the driver has not bound to a SCSI
// target: its "scsi_target_id" reads "-1" (the low 16 bits of that), or the
// port has no such file. No lookup by target id ever finds such a port.
constexpr uint16_t VXSYSFS_NO_TARGET_ID = 0xFFFF;

// Names, port id (id[0] := 0, id[1..3] the 3 bytes) and SCSI target id of
// the remote port whose directory path (ending in "/") is rpath, each when
// its place is given. A name or id the driver does not show is zeros, a
// port without a SCSI target has VXSYSFS_NO_TARGET_ID. The first answer of
// those reads that did not come (a target id must be "-1" or a number of 16
// bits), else Came: a caller reports the values only when they came. A path
// too long to take an attribute name is refused (Absent): nothing is read
// or written.
[[nodiscard]] VxAttrAnswer vxsysfs_get_rport_attributes(const char* rpath, uint8_t* wwnn, uint8_t* wwpn,
                                                        uint8_t* id, uint16_t* tid);

// Whether the remote port (directory path ending in "/") is an online
// target: "port_state" Online and "roles" FCP Target, the state read first.
// A file the driver does not have is no (offline, no target). *answer is
// Failed when a file that decides it is there but could not be read (the
// port is then neither taken nor passed over: the caller fails), else Came.
[[nodiscard]] bool vxsysfs_is_online_target(const char* rport_path, VxAttrAnswer* answer);

// The host's remote ports whose roles are "FCP Target", online or not.
// *answer (when given): Failed when the roles of a port could not be read
// (the count is then short), else Came.
[[nodiscard]] uint16_t vxsysfs_count_port(const vxapi_priv_database* api_priv_data_inst,
                                          VxAttrAnswer* answer = nullptr);
// The distinct target ids among the host's SCSI devices; the count ends at
// the first id above 255.
[[nodiscard]] uint16_t vxsysfs_count_target(const vxapi_priv_database* api_priv_data_inst);

// Appends "<dir>/<link>;" to devname (VXSYSFS_DEVNAME_SIZE bytes, a
// terminated text) for every link of dir whose chain of links ends at name.
// A chain of more than 40 links is taken for a loop and passed over. 1 when
// the list had no room left for a name (the walk ended there), else 0.
[[nodiscard]] int vxsysfs_find_name_links(const char* dir, const char* name, uint8_t* devname);

// Four bytes at offset capid of the PCI Express capability of the
// configuration space image pconfig (VXSYSFS_PCI_CONFIG_SIZE bytes) into
// *pci_cap_value; nothing written when there is no capability list, no
// such capability, or the chain runs longer than 48 capabilities.
void vxsysfs_get_pci_capability(const uint8_t* pconfig, uint32_t* pci_cap_value, uint16_t capid);

// datasize bytes of flash at offset into pbuffer (bufsize bytes) through the
// port's "optrom_ctl" and "optrom" attributes, under the flash semaphore.
// The window is never opened without the semaphore. No status: the caller
// tests the buffer.
void vxsysfs_read_flash(int handle, vxapi_priv_database* api_priv_data_inst, uint32_t offset, uint32_t datasize,
                        uint8_t* pbuffer, uint32_t bufsize);

// The boot-code versions of the node from flash: the expansion ROM chain
// at 0x80000 and the firmware header at 0x100000.
void vxsysfs_read_flash_versions(int handle, vxapi_priv_database* api_priv_data_inst, EXT_HBA_NODE* phba_node);

// An attribute's text (at most size - 1 characters, the newlines behind
// it dropped) for a reader of its fields: Came also for a text cut to the
// buffer, with *cut set, for the fields a call takes may lie before the
// cut and VxFields judges one that runs into it; else the read's answer and
// an empty text.
[[nodiscard]] VxAttrAnswer vxsysfs_read_fields(const char* path, char* text, uint32_t size, bool* cut);
// The same of an attribute of the SCSI host.
[[nodiscard]] VxAttrAnswer vxsysfs_read_host_fields(uint32_t host_no, const char* attr, char* text, uint32_t size,
                                                    bool* cut);

// count (1 to 3) numbers "a.b.c" into version[0..count-1], read as
// "%hhu.%hhu.%hhu" reads them: white space before each number skipped, a
// dot right behind each but the last, at most width digits in each but the
// first when width is given (0: any), nothing behind the last judged. Came
// when each came and is at most 255; NotNumber when one is missing;
// TooLarge past a byte or at the cut. version is written only when they
// Came.
[[nodiscard]] VxAttrAnswer vxsysfs_parse_numbers(VxFields* fields, int count, size_t width, uint8_t* version);

// The SCSI host's version attribute "a.b.c" (a text of at most
// text_size - 1 characters) into version[0..2] by vxsysfs_parse_numbers, a
// build tag or a fourth number behind the three allowed, and also the tag
// cut by the buffer; version is written only when it Came. width: at most
// that many digits in the second and third numbers (0: any).
[[nodiscard]] VxAttrAnswer vxsysfs_read_version(uint32_t host_no, const char* attr, uint32_t text_size,
                                                uint8_t* version, size_t width = 0);

// Up to length (at most 4) numbers of the text (cut: a text cut to its buffer),
// in base, into the bytes of version, one separator character skipped after
// each; ends at the text's end, and before a place where no number stands.
// Each number is read as strtoul reads it (a minus sign negates it modulo
// 2^64), and each byte is its low 8 bits. Came when the first number came (the
// numbers are written, the rest of version untouched); NotNumber without a
// first number, TooLarge past 64 bits or at the cut (nothing written).
[[nodiscard]] VxAttrAnswer vxsysfs_save_version(const char* string, uint8_t* version, int length, int base,
                                                bool cut = false);

// The field of the VPD keyword (keyword_len bytes) of the port's "vpd"
// attribute into destination (zeroed first, destination_len bytes; no
// terminator when the field fills it). Always 0: an empty destination
// means not found.
[[nodiscard]] int32_t vxsysfs_get_field_from_vpd(const vxapi_priv_database* api_priv_data_inst, uint8_t* destination,
                                                 uint32_t destination_len, const uint8_t* keyword,
                                                 uint32_t keyword_len);
