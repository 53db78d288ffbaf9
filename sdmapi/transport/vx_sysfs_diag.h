// Diagnostics and maintenance of sysfs-mode ports: board temperature, SerDes
// parameters, the firmware dump and the FCE trace through files; FRU, NPIV
// QoS, SerDes register and flash capability vendor commands through the FC
// host's bsg node.
//
// Each takes the arguments of its ioctl worker (the port's descriptor, which
// is not used, and the port record first; the status word last) and returns
// 0 unless said otherwise, the outcome being in the status word.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/vx_diag_records.h"
#include "base/vx_driver_records.h"
#include "base/vx_records.h"


// "thermal_temp" of the SCSI host, "<whole>[.<hundredths>]", into ptemp,
// read as "%hd.%02hd" reads it (VxFields): white space before a number
// skipped, FracTemp the number of the one or two digits after the point
// ("45.5" gives 5, "45.125" gives 12), what follows the fields not judged,
// also past the 15 characters read; without a point FracTemp keeps its
// value. size is not used. Result 1 when the file is missing. A text that
// cannot be read, is no temperature (a sign, a point without a digit
// behind it) or passes its degrees' 16 bits, or whose field the 15
// characters cut, fails with the status of vxsysfs_answer_status, ptemp
// untouched.
[[nodiscard]] int32_t vxsysfs_get_board_temp(vxapi_priv_database* api_priv_data_inst, EXT_BOARD_TEMP* ptemp,
                                             uint32_t size, uint32_t* pext_stat);

// The SerDes parameter block ("read_serdes" of the physical port's PCI
// function host; a virtual port reads its parent's) into buf, zeroed over
// size first. Status 1 and nothing copied when the block exceeds size;
// status 8 when it is empty.
[[nodiscard]] int32_t vxsysfs_get_serdes_params(int handle, vxapi_priv_database* api_priv_data_inst, void* buf,
                                                uint32_t size, uint32_t* pext_stat);

// ---- diagnostic I/O ----

// The most streams of one diagnostic I/O run.
constexpr uint32_t VX_DIAG_IO_MAX_THREADS = 128;

// One stream of a diagnostic I/O run.
struct vxa_thread_data {
    uint32_t thread_id;   // 1 for the first stream, counting up
    uint32_t size;        // bytes per transfer
    uint32_t iterations;
    int fd;               // the run's bsg descriptor, shared by every stream
    uint8_t flag;         // compare the data that comes back
    uint32_t* pext_stat;  // this stream's own status slot
    const uint8_t* pdata;
    uint8_t* presp;
};

// Sends the data (size bytes) through the driver's diagnostic I/O command
// (vendor command 10) in `threads` streams at once, each `iterations` times,
// comparing what comes back when `flag` is set. Status 0 with the response
// buffer equal to the data, else the first failing stream's status (32: the
// data differed, the response buffer holds what one stream received; 8:
// compared data did not all come back), 31 when a stream could not be
// started, 6 for more than 128 streams. Result 1
// when a buffer is missing, the size is 0 or there are too many streams.
[[nodiscard]] int32_t vxsysfs_diag_io(int handle, vxapi_priv_database* api_priv_data_inst, const void* data,
                                      uint32_t size, void* resp, uint32_t threads, uint32_t iterations, uint8_t flag,
                                      uint32_t* pext_stat);
// The start routine of one stream (a vxa_thread_data); its outcome is in its
// status slot. Null.
[[nodiscard]] void* vxsysfs_max_io(void* thread_data);

// ---- vendor commands on the FC host's bsg node ----
// Result 0 when the driver took the command, 1 otherwise (also when its
// buffers cannot be allocated). A record or buffer that is read must come
// whole: one that did not gives status 8 and result 1.

// The FRU image versions (vendor command 11): the list goes out, size bytes.
[[nodiscard]] int32_t vxsysfs_update_fru_versions(int handle, vxapi_priv_database* api_priv_data_inst,
                                                  vxa_image_version_list* plist, uint32_t size, uint32_t* pext_stat);
// The FRU status register: cmd 12 reads it into *preg, 13 writes it (size
// bytes). Another cmd sends nothing: status 9, result 0.
[[nodiscard]] int32_t vxsysfs_bsg_fru_status(int handle, vxapi_priv_database* api_priv_data_inst, vxa_status_reg* preg,
                                             uint32_t size, uint32_t cmd, uint32_t* pext_stat);
// NPIV QoS (vendor commands 14 and 15); the buffers are moved as they are.
// The status is the driver's.
[[nodiscard]] int32_t vxsysfs_bsg_get_npiv_qos_config(int handle, vxapi_priv_database* api_priv_data_inst, void* buf,
                                                      uint32_t size, uint32_t* pext_stat);
[[nodiscard]] int32_t vxsysfs_bsg_set_npiv_qos_config(int handle, vxapi_priv_database* api_priv_data_inst, void* buf,
                                                      uint32_t size, uint32_t* pext_stat);
[[nodiscard]] int32_t vxsysfs_bsg_npiv_qos_enable_disable(int handle, vxapi_priv_database* api_priv_data_inst,
                                                          uint8_t flag, uint32_t* pext_stat);
[[nodiscard]] int32_t vxsysfs_bsg_get_npiv_qos_perf(int handle, vxapi_priv_database* api_priv_data_inst, void* buf,
                                                    uint32_t size, uint32_t* pext_stat);
[[nodiscard]] int32_t vxsysfs_bsg_npiv_get_qos_list(int handle, vxapi_priv_database* api_priv_data_inst, void* buf,
                                                    uint32_t size, uint32_t* pext_stat);
// A SerDes register access (vendor commands 19 and 20): the record goes out
// and comes back. The status is the driver's.
[[nodiscard]] int32_t vxsysfs_bsg_serdes_reg_ops(int handle, vxapi_priv_database* api_priv_data_inst,
                                                 vxa_serdes_reg* preg, uint32_t* pext_stat);
[[nodiscard]] int32_t vxsysfs_bsg_serdes_reg_ops_ex(int handle, vxapi_priv_database* api_priv_data_inst,
                                                    vxa_serdes_reg_ex* preg, uint32_t* pext_stat);

// The flash update capabilities record of a sysfs port: flag 0 reads it into
// *pcap (vendor command 21), non-zero sends *pcap (22). The status is the
// driver's.
[[nodiscard]] int vxsysfs_flash_update_capabilities(int handle, vxapi_priv_database* api_priv_data_inst,
                                                    vxa_flash_update_caps* pcap, uint32_t* pext_stat, uint32_t flag);

// ---- firmware dump and FCE trace ----

// 0 when both files of the udev rule that collects dumps into files are
// there, 1 otherwise.
[[nodiscard]] int32_t vxsysfs_check_udev_scripts();

// The firmware dump: with the udev rule in place, the path of the port's
// newest dump file (status 33, cut to *buf_size and terminated, the bytes
// behind it left alone); else the driver's dump into buf, zeroed first
// (*buf_size: the buffer's size in; the dump's size out when it was read or
// does not fit, status 16; 0 when there is none, status 23). A dump size
// that cannot be read or is no decimal of 32 bits fails with the status of
// vxsysfs_answer_status. Result 1 when neither a file nor the driver's dump
// size is there.
[[nodiscard]] int32_t vxsysfs_get_fw_dump(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* buf,
                                          uint32_t* buf_size, uint32_t* pext_stat);

// The FCE trace of the port's host from debugfs into buf (*buf_size: the
// size wanted in, the bytes received out). debugfs is mounted for the read
// only when the trace file is not already there.
[[nodiscard]] int32_t vxsysfs_get_fce_buffer(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* buf,
                                             uint32_t* buf_size, uint32_t* pext_stat);
