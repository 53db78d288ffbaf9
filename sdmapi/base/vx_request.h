// The driver request header, its command and status codes, the results the
// workers give, and small byte and text helpers: what every road shares.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/vx_records.h"

// Request header of the new driver (version 7): 116 bytes, packed.
#pragma pack(push, 1)
struct EXT_IOCTL {
    uint8_t Signature[8];  // "VARNIX" and two NUL bytes
    uint16_t AddrMode;     // 2
    uint16_t Version;      // 7
    uint16_t SubCode;
    uint16_t Instance;
    uint32_t Status;
    uint32_t DetailStatus;
    uint32_t Reserved1;  // flash offset of flash and option ROM requests
    uint32_t RequestLen;
    uint32_t ResponseLen;
    uint64_t RequestAdr;
    uint64_t ResponseAdr;
    uint16_t HbaSelect;
    uint16_t VendorSpecificStatus[11];
    uint64_t VendorSpecificData;  // 2
    uint16_t Reserved2[16];
};
#pragma pack(pop)
static_assert(sizeof(EXT_IOCTL) == 116);
static_assert(offsetof(EXT_IOCTL, SubCode) == 12);
static_assert(offsetof(EXT_IOCTL, Status) == 16);
static_assert(offsetof(EXT_IOCTL, Reserved1) == 24);
static_assert(offsetof(EXT_IOCTL, ResponseLen) == 32);
static_assert(offsetof(EXT_IOCTL, RequestAdr) == 36);
static_assert(offsetof(EXT_IOCTL, ResponseAdr) == 44);
static_assert(offsetof(EXT_IOCTL, HbaSelect) == 52);
static_assert(offsetof(EXT_IOCTL, VendorSpecificStatus) == 54);
static_assert(offsetof(EXT_IOCTL, VendorSpecificData) == 76);
static_assert(offsetof(EXT_IOCTL, Reserved2) == 84);

// Request header of the old driver (version 5): 88 bytes, natural alignment.
struct EXT_IOCTL_O {
    uint8_t Signature[8];
    uint16_t AddrMode;
    uint16_t Version;  // 5
    uint16_t SubCode;
    uint16_t Instance;
    uint32_t Status;
    uint32_t DetailStatus;
    uint32_t Reserved1;
    uint32_t RequestLen;
    uint32_t ResponseLen;
    void* RequestAdr;
    void* ResponseAdr;
    uint16_t HbaSelect;
    uint16_t VendorSpecificStatus[11];
    uintptr_t VendorSpecificData;  // 2
};
static_assert(sizeof(EXT_IOCTL_O) == 88);
static_assert(offsetof(EXT_IOCTL_O, Status) == offsetof(EXT_IOCTL, Status));
static_assert(offsetof(EXT_IOCTL_O, DetailStatus) == offsetof(EXT_IOCTL, DetailStatus));
static_assert(offsetof(EXT_IOCTL_O, ResponseLen) == offsetof(EXT_IOCTL, ResponseLen));
static_assert(offsetof(EXT_IOCTL_O, RequestAdr) == 40);
static_assert(offsetof(EXT_IOCTL_O, ResponseAdr) == 48);
static_assert(offsetof(EXT_IOCTL_O, HbaSelect) == 56);
static_assert(offsetof(EXT_IOCTL_O, VendorSpecificStatus) == 58);
static_assert(offsetof(EXT_IOCTL_O, VendorSpecificData) == 80);

// Command numbers (the low byte of the ioctl code).
enum : uint8_t {
    EXT_CC_QUERY = 0x00,
    EXT_CC_SEND_CT_PASSTHRU = 0x01,
    EXT_CC_REG_AEN = 0x02,
    EXT_CC_GET_AEN = 0x03,
    EXT_CC_SEND_RNID = 0x04,
    EXT_CC_SEND_SCSI_PASSTHRU = 0x05,
    EXT_CC_GET_DATA = 0x06,
    EXT_CC_SET_DATA = 0x07,
    EXT_CC_LOOPBACK = 0x09,
    EXT_CC_UPDATE_OPTROM = 0x0A,
    EXT_CC_READ_NVRAM = 0x0C,
    EXT_CC_UPDATE_NVRAM = 0x0D,
    EXT_CC_READ_OPTROM = 0x0F,
    EXT_CC_GET_OPTROM_LAYOUT = 0x10,
    EXT_CC_GET_VPD = 0x11,
    EXT_CC_SET_VPD = 0x12,
    EXT_CC_GET_SFP_DATA = 0x13,
    EXT_CC_GET_FW_DUMP = 0x14,
    EXT_CC_PORT_PARAM = 0x15,
    EXT_CC_CNA_MGMT = 0x17,
    EXT_CC_REGION_ACTIVATION = 0x18,
    EXT_CC_QOS = 0x19,
    EXT_CC_RESET_DIAG_MODE = 0x1A,
    EXT_CC_BOARD_TEMP = 0x1B,
    EXT_CC_FRU = 0x1C,
    EXT_CC_SERDES_PARAMS = 0x1D,
    EXT_CC_NPIV_QOS = 0x1E,
    EXT_CC_NPIV_QOS_LIST = 0x1F,
    EXT_CC_I2C = 0x20,
    EXT_CC_FCE_TRACE = 0x22,
    EXT_CC_SERDES_REG = 0x23,
    EXT_CC_SERDES_REG_EX = 0x24,
    EXT_CC_QOS_STATE = 0x25,
    EXT_CC_FLASH_UPDATE_CAPS = 0x26,
    EXT_CC_SEND_ELS_PASSTHRU = 0x30,
    EXT_CC_LUN_DATA = 0xCE,
    EXT_CC_DRIVER_SPECIFIC = 0xFC,
    EXT_CC_WWPN_TO_SCSIADDR = 0xFD,
    EXT_CC_SET_INSTANCE = 0xFE,
    EXT_CC_GET_HBA_CNT = 0xFF,
};

// The new driver's ioctl code of a command: read and write, argument size
// 116, type 0x79.
[[nodiscard]] constexpr uint32_t vx_ioctl_code(uint8_t nr) { return 0xC0747900u | nr; }

// Driver status values of the header's Status.
enum : uint32_t {
    EXT_STATUS_OK = 0,
    EXT_STATUS_ERR = 1,
    EXT_STATUS_BUSY = 2,
    EXT_STATUS_PENDING = 3,
    EXT_STATUS_SUSPENDED = 4,
    EXT_STATUS_RETRY_PENDING = 5,
    EXT_STATUS_INVALID_PARAM = 6,
    EXT_STATUS_DATA_OVERRUN = 7,
    EXT_STATUS_DATA_UNDERRUN = 8,
    EXT_STATUS_DEV_NOT_FOUND = 9,
    EXT_STATUS_COPY_ERR = 10,
    EXT_STATUS_MAILBOX = 11,
    EXT_STATUS_UNSUPPORTED_SUBCODE = 12,  // also: the port has no transport for the operation
    EXT_STATUS_UNSUPPORTED_VERSION = 13,
    EXT_STATUS_MS_NO_RESPONSE = 14,
    EXT_STATUS_SCSI_STATUS = 15,  // DetailStatus holds the SCSI status byte
    EXT_STATUS_BUFFER_TOO_SMALL = 16,
    EXT_STATUS_NO_MEMORY = 17,
    EXT_STATUS_NO_DRIVER_SUPPORT = 20,
    EXT_STATUS_NO_DATA = 23,
    EXT_STATUS_HOST_ERR = 25,
    EXT_STATUS_DRIVER_ERR = 26,
    EXT_STATUS_OUT_OF_MEMORY = 29,
    EXT_STATUS_THREAD_START = 31,
    EXT_STATUS_DATA_COMPARE = 32,
    EXT_STATUS_DUMP_FILE = 33,
};

// Worker results (the driver's verdict travels apart, in the out status).
constexpr int VX_RESULT_OK = 0;          // the request was carried (ioctl result 0)
constexpr int VX_RESULT_NOT_BUILT = 1;   // the request could not be built or was refused in the library
constexpr int VX_RESULT_NO_TRANSPORT = 2;  // the port has no transport for the operation (status 12)

// The answer of a worker whose port has no transport for the operation:
// out status 12 (invalid sub-command), result 2.
[[nodiscard]] inline int vxapi_no_transport(uint32_t* status) {
    if (status != nullptr) *status = EXT_STATUS_UNSUPPORTED_SUBCODE;
    return VX_RESULT_NO_TRANSPORT;
}

// Header builders: zero the header and fill it; 1 when the header pointer
// is null, else 0. HbaSelect is filled only when a record is given.
[[nodiscard]] int vxapi_init_ext_ioctl_n(uint16_t sub_code, uint16_t instance, void* request, uint32_t request_len,
                                         void* response, uint32_t response_len, const vxapi_priv_database* rec,
                                         EXT_IOCTL* hdr);
[[nodiscard]] int vxapi_init_ext_ioctl_o(uint16_t sub_code, uint16_t instance, void* request, uint32_t request_len,
                                         void* response, uint32_t response_len, const vxapi_priv_database* rec,
                                         EXT_IOCTL_O* hdr);

// The old driver's form of a code.
[[nodiscard]] uint32_t convert_ioctl(uint32_t code);

// A driver that answers busy is asked again after this many seconds, at most
// this many times, on every road.
constexpr unsigned VX_BUSY_WAIT_SECONDS = 20;
constexpr unsigned VX_BUSY_RESENDS = 2;

// Small helpers.
void vxapi_chg_endian(uint8_t* buf, uint32_t n);
[[nodiscard]] int vxapi_is_wwn_zero(const uint8_t* wwn);
[[nodiscard]] int vxapi_is_all_spaces(const uint8_t* buf, uint32_t n);
[[nodiscard]] uint64_t vxapi_ptr_to_64bit(const void* ptr);
[[nodiscard]] void* vxapi_64bit_to_ptr(uint64_t value);
