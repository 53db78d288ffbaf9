// Requests that reach parts of the adapter beside the Fibre Channel link: the
// transceiver's data pages, any device on the adapter's i2c bus, the
// firmware's dump, a remote port's speed parameter and the Tarno controller
// of converged adapters.
//
// Every worker takes the port's descriptor and record. A sysfs port (feature
// 0x20) goes to its twin: a sysfs attribute, a bsg vendor command (feature
// 0x1000) or a vendor netlink message (feature 0x200, on gnl_fd with the
// port's host_no); any other port sends one driver request, or one per
// 64-byte piece of an i2c transfer. The result is the ioctl result (0, or -1
// with errno: look at the status), 1 when the request could not be built, 2
// with status 12 when the port has no transport for the operation, or the
// twin's result.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/vx_port_speed.h"
#include "base/vx_records.h"
#include "vxsdm_types.h"

// ---- Tarno requests ----

// Operations of vxapi_tarno_mgmt (the driver request's sub-code).
constexpr uint16_t VX_TARNO_OP_RESET = 1;
constexpr uint16_t VX_TARNO_OP_FW_VERSION = 2;
constexpr uint16_t VX_TARNO_OP_UPDATE_FW = 3;
constexpr uint16_t VX_TARNO_OP_MANAGE = 4;

// The caller's request: natural alignment, the data addresses as pointers.
static_assert(sizeof(TARNO_ACCESS_PARAMETERS) == 12);
static_assert(sizeof(TARNO_UPDATE_FW) == 16);
static_assert(offsetof(TARNO_UPDATE_FW, TotalByteCount) == 4);
static_assert(offsetof(TARNO_UPDATE_FW, pFwDataBytes) == 8);
static_assert(offsetof(TARNO_MANAGE_INFO, Parameters) == 4);
static_assert(offsetof(TARNO_MANAGE_INFO, TotalByteCount) == 16);
static_assert(offsetof(TARNO_MANAGE_INFO, pDataBytes) == 24);
static_assert(sizeof(SD_TARNO_MGT) == 32);

// The driver's form of it: packed, the data addresses as 64-bit numbers.
#pragma pack(push, 1)
struct A84_RESET {
    uint16_t Flags;
    uint16_t Reserved;
};
struct A84_GET_FW_VERSION {
    uint32_t FwVersion;
};
struct A84_UPDATE_FW {
    uint16_t Flags;
    uint16_t Reserved;
    uint32_t TotalByteCount;  // image length
    uint64_t pFwDataBytes;    // the image
};
struct A84_MANAGE_INFO {
    uint16_t Operation;  // TARNO_MGMT_*
    uint16_t Reserved;
    uint8_t Parameters[12];   // TARNO_ACCESS_PARAMETERS, copied as raw bytes
    uint32_t TotalByteCount;  // data length
    uint64_t pDataBytes;      // the data
};
struct SD_A84_MGT {
    union {
        A84_RESET A84Reset;
        A84_GET_FW_VERSION A84GetFwVer;
        A84_UPDATE_FW A84UpdateFw;
        A84_MANAGE_INFO A84ManageInfo;
    } sp;
};
#pragma pack(pop)
static_assert(sizeof(A84_UPDATE_FW) == 16);
static_assert(offsetof(A84_UPDATE_FW, pFwDataBytes) == 8);
static_assert(offsetof(A84_MANAGE_INFO, Parameters) == 4);
static_assert(offsetof(A84_MANAGE_INFO, TotalByteCount) == 16);
static_assert(offsetof(A84_MANAGE_INFO, pDataBytes) == 20);
static_assert(sizeof(SD_A84_MGT) == 28);

// ---- workers ----

// The transceiver's data: two 256-byte pages.
constexpr uint32_t VX_SFP_BYTES = 512;

// The transceiver's data into pSFPbuf. On the ioctl road, an OK answer short
// of the two pages (or of the buffer, when smaller) gives status 8.
[[nodiscard]] int32_t vxapi_getSFPbuffer(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* pSFPbuf,
                                         uint32_t SFPbuf_size, uint32_t* pext_stat);

// len bytes of i2c device dev from its offset adr, read into i2c or written
// from it, in pieces of at most 64 bytes (a len of 0 sends one empty piece;
// the offset wraps at 16 bits). Stops at the first piece that fails; the
// pieces before it stay done and *pext_stat holds the failing piece's status.
// On the ioctl road a read piece fails too when its OK answer delivered less
// than the record's 8-byte head and the bytes asked (status 8, data
// underrun); a write piece needs only its status. A piece of either kind
// whose head arrived with another length than asked fails with status 8 for
// a shorter one and 7 (data overrun) for a longer one. Nothing of a failing
// piece is copied.
[[nodiscard]] int32_t vxapi_get_i2c_buffer(int handle, vxapi_priv_database* api_priv_data_inst, uint16_t dev,
                                           uint16_t adr, uint16_t opt, uint16_t len, uint8_t* i2c, uint32_t* pext_stat);
[[nodiscard]] int32_t vxapi_set_i2c_buffer(int handle, vxapi_priv_database* api_priv_data_inst, uint16_t dev,
                                           uint16_t adr, uint16_t opt, uint16_t len, uint8_t* i2c, uint32_t* pext_stat);

// The firmware's dump into buf. *buf_size: the buffer's size in, the bytes
// delivered out (never more than it held).
[[nodiscard]] int32_t vxapi_get_fw_dump(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* buf,
                                        uint32_t* buf_size, uint32_t* pext_stat);

// A remote port's speed: the record is the request and receives the answer
// (a get answered OK but short of buf_size bytes on the ioctl road: status 8).
[[nodiscard]] int32_t vxapi_port_param(int handle, vxapi_priv_database* api_priv_data_inst, INT_PORT_PARAM* pbuf,
                                       uint32_t buf_size, uint32_t* pext_stat);

// A Tarno operation (VX_TARNO_OP_*) with the matching member of
// *pParameters; the firmware version lands in its FwVersion (on the ioctl
// road, a version record answered OK but short gives status 8 and leaves it).
// 1 for an operation outside 1 to 4, nothing sent.
[[nodiscard]] int32_t vxapi_tarno_mgmt(int handle, vxapi_priv_database* api_priv_data_inst, uint16_t Operation,
                                       SD_TARNO_MGT* pParameters, uint32_t* pext_stat);
