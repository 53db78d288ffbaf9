// The failover channel: the legacy port slots as the failover interface
// reads them, the one send path of every failover request, the test of
// which configuration store a port's driver uses (the shell runner of the
// configuration writers, v_system, is in base/vx_conf_file.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/vx_conf_file.h"
#include "base/vx_records.h"

// Failover request numbers: the ioctl code is vx_ioctl_code(nr), as for
// every other request of the new driver.
enum : uint8_t {
    FO_CC_GET_PARAMS = 200,
    FO_CC_SET_PARAMS = 201,
    FO_CC_GET_PATHS = 202,
    FO_CC_SET_CURRENT_PATH = 203,
    FO_CC_GET_STATS = 204,
    FO_CC_RESET_STATS = 205,
    FO_CC_GET_LUN_DATA = 206,
    FO_CC_SET_LUN_DATA = 207,
    FO_CC_GET_TARGET_DATA = 208,
    FO_CC_SET_TARGET_DATA = 209,
    FO_CC_GET_DRIVER_VERSION = 210,
    FO_CC_GET_LB_POLICY = 211,
    FO_CC_SET_LB_POLICY = 212,
};

// The request payload that names the driver instance of a LUN, target or
// statistics request.
struct FO_LUN_DATA_INPUT {
    uint8_t HbaInstance;  // low byte of the slot's drvr_inst
    uint8_t Reserved1[3];
    uint8_t Reserved2[28];
};
static_assert(sizeof(FO_LUN_DATA_INPUT) == 32);

// The slot of an open port: handle 0 and slots without a path name no port.
[[nodiscard]] vxapi_priv_db_t* vx_fo_slot_by_handle(uint32_t handle);
// The slot of an instance argument; null from 32 on.
[[nodiscard]] vxapi_priv_db_t* vx_fo_slot_by_instance(uint32_t instance);
// Slot 0's switches for all ports: ports found through sysfs (no failover
// requests), and targets of 4,096 LUNs.
[[nodiscard]] bool vx_fo_sysfs_mode();
[[nodiscard]] bool vx_fo_lun_4096();

// The entries a failover list holds (the LUN list of request 206, the
// load-balancing list of 211), whatever its count says.
constexpr uint32_t VX_FO_LIST_ROOM = 256;

// The count of a failover list whose head starts at head (the u16 at byte 2),
// held to the VX_FO_LIST_ROOM entries the list holds.
[[nodiscard]] uint16_t vx_fo_list_count(const void* head);

// What a call reads of a failover reply. A record (list_head 0, the default)
// is read whole: every byte of the reply area. A list is read as far as its
// head of list_head bytes and the entries its count counts (vx_fo_list_count),
// each list_entry bytes long; entries past the count are not read.
struct VxFoReplyShape {
    uint32_t list_head = 0;
    uint32_t list_entry = 0;
};

// What became of a failover request: whether it went to the driver (false
// after a refusal before the request), and the bytes of the reply area the
// driver delivered (0 when the ioctl itself failed).
struct VxFoSent {
    bool sent = false;
    uint32_t delivered = 0;
};

// Sends failover request nr (FO_CC_*, ioctl code vx_ioctl_code(nr)) on the
// descriptor of the handle's slot, in the header layout the slot's driver
// takes, through the ioctl road of every worker. A reply whose status maps to
// success (0, and 15 with a GOOD detail status) but that delivered less than
// the call reads of it (shape) is a data underrun. The status: 0;
// SDERR_DEVICE_NOT_FOUND for an unknown handle; SDERR_NOT_SUPPORTED in sysfs
// mode; the errno of a failed ioctl; else the driver's status as vx_fo_status
// maps it (SDERR_DATA_UNDERRUN for a short reply). sent, when given, tells
// what became of the request.
[[nodiscard]] uint32_t VxFailOverDeviceIoControl(uint32_t handle, uint8_t nr, uint16_t sub_code, const void* request,
                                                 uint32_t request_len, void* reply, uint32_t reply_len,
                                                 VxFoReplyShape shape = {}, VxFoSent* sent = nullptr);

// The status of a failover request for the driver's Status and DetailStatus.
[[nodiscard]] uint32_t vx_fo_status(uint32_t status, uint32_t detail);

// Whether the driver of the handle's port uses the new configuration store:
// SDERR_NO_ERROR with *new_store true when it does (slot bit
// VX_SLOT_NEW_CFG_STORE, set the first time the driver says so), false for
// an older driver, for one that does not know the driver-specifics request,
// and for a handle that names no port. A driver that is busy or was
// interrupted cannot say, and no store may be chosen: the errno of its failed
// request (EBUSY, EAGAIN, EINTR, EIO, ENOMEM), or SDERR_DEVICE_BUSY when it
// answers busy, with *new_store false. The instance is not used.
[[nodiscard]] uint32_t vxapi_hba_support_new_cfg_store(uint32_t handle, uint16_t instance, bool* new_store);

// The same question for the first port (slots 0 to 30, up to the first free
// slot) that runs the driver module and is open, or can be opened; *found = 1
// when a slot runs that module. A port opened here is closed again. A port
// whose node is gone (its open fails with ENOENT, ENODEV or ENXIO, or the
// library does not find it) is passed over; when the module has ports but
// none could be asked because an open failed otherwise (busy, interrupted,
// refused, out of descriptors: EBUSY, EACCES, EMFILE and the like), that
// errno (or the open's status), with *new_store false: no store may be
// chosen.
[[nodiscard]] uint32_t vxapi_drvr_support_new_cfg_store(const char* model, uint8_t* found, bool* new_store);
