// The status codes of the management API: their texts and the translation
// of the driver's completion codes.
#include <cstdint>
#include <cstdio>

#include "vxsdm.h"

namespace {

struct StatusText {
    SD_UINT32 code;
    const char* text;
};

// Texts are part of the interface: callers print them and some compare them.
constexpr StatusText kStatusTexts[] = {
    {SDERR_NO_ERROR, "No error"},
    {0x20000002, "Invalid command code"},
    {0x20000003, "Invalid version level"},
    {0x20000004, "Logical error"},
    {0x20000005, "Invalid IU size"},
    {0x20000006, "Logical busy"},
    {0x20000007, "Protocol error"},
    {0x20000008, "(09h) No Additional Explanation"},
    {0x20000009, "IE List Not Available"},
    {0x2000000a, "IE Type Not Available"},
    {0x2000000b, "Domain ID Not Available"},
    {0x2000000c, "In-Band Management Address Not Available"},
    {0x2000000d, "Fabric Name Not Available"},
    {0x2000000e, "Logical IE Name Not Available"},
    {0x2000000f, "Management Address List Not Available"},
    {0x20000010, "IE Attributes List Not Available"},
    {0x20000011, "Port List Not Available"},
    {0x20000012, "Port Type Not Available"},
    {0x20000013, "Physical Port ID Not Available"},
    {0x20000014, "Logical Port Name Not Available"},
    {0x20000015, "Attached Port Name List Not Available"},
    {0x20000016, "Port Attributes List Not Available"},
    {0x20000017, "Port State Not Available"},
    {0x20000018, "Unable to Set Logical IE Name"},
    {0x20000019, "Unable to Set Logical Port Name"},
    {0x2000001a, "Authentication Exception"},
    {0x2000001b, "Error: Reserved code"},
    {0x2000001c, "Command not supported"},
    {0x2000001d, "Vendor unique error"},
    {0x2000001e, "Management Server reserved error"},
    {0x2000001f, "Specified buffer is not big enough for all data"},
    {0x20000020, "Port Identifier not registered"},
    {0x20000021, "Port Name not registered"},
    {0x20000022, "Node Name not registered"},
    {0x20000023, "Class of Service not registered"},
    {0x20000024, "IP Address (Node) not registered"},
    {0x20000025, "Initial Process Associator not registered"},
    {0x20000026, "FC-4 Types not registered"},
    {0x20000027, "Symbolic Port Name not registered"},
    {0x20000028, "Symbolic Node Name not registered"},
    {0x20000029, "Port Type not registered"},
    {0x2000002a, "IP Address (Port) not registered"},
    {0x2000002b, "Fabric Port Name not registered"},
    {0x2000002c, "Hard Address not registered"},
    {0x2000002d, "Access Denied"},
    {0x2000002e, "Unacceptable Port Identifier"},
    {0x2000002f, "Database Empty"},
    {0x20000030, "No object registered in the specified scope"},
    {0x20000031, "Invalid WWN (IE or Port)"},
    {0x20000032, "Platform Name does not exist"},
    {0x20000033, "Platform Name already exists"},
    {0x20000034, "Platform Node Name does not exist"},
    {0x20000035, "Platform Node Name already exists"},
    {0x20000036, "Authorization Exception"},
    {0x20000037, "No Response from Management Server/Fabricdoesn't support MS"},
    {SDERR_SCSI_CHECK_CONDITION, "SCSI check condition"},
    {SDERR_SCSI_CONDITION_MET, "SCSI condition Met"},
    {SDERR_SCSI_BUSY, "SCSI busy"},
    {SDERR_SCSI_INTERMEDIATE, "SCSI intermediate"},
    {SDERR_SCSI_INTERMEDIATE_CONDITION_MET, "SCSI intermediate condition met"},
    {SDERR_SCSI_RESERVATION_CONFLICT, "SCSI reservation conflict"},
    {SDERR_SCSI_COMMAND_TERMINATED, "SCSI command terminated"},
    {SDERR_SCSI_QUEUE_FULL, "SCSI queue full"},
    {SDERR_SCSI_UNKNOWN_STATUS, "SCSI unknown status"},
    {SDERR_INVALID_PARAMETER, "Invalid parameter"},
    {SDERR_INVALID_HANDLE, "Handle to HBA device is invalid"},
    {SDERR_NOT_SUPPORTED, "Command not supported"},
    {SDERR_DEVICE_BUSY, "Device is busy"},
    {SDERR_REQUEST_PENDING, "Request pending"},
    {SDERR_REQUEST_SUSPENDED, "Request suspended"},
    {SDERR_RETRY_PENDING, "Request retry pending"},
    {SDERR_DATA_OVERRUN, "Data overrun"},
    {SDERR_DATA_UNDERRUN, "Data underrun"},
    {SDERR_DEVICE_NOT_FOUND, "Device not found"},
    {SDERR_COPY_MEMORY_FAILED, "Copy memory failed"},
    {SDERR_MAILBOX_FAILED, "Firmware mailbox failed"},
    {SDERR_INVALID_SUBCODE, "Invalid command sub-code"},
    {SDERR_UNSUPPORTED_VERSION, "Unsupported command version"},
    {SDERR_BUFFER_TOO_SMALL, "Buffer too small"},
    {SDERR_INVALID_REQUEST, "Invalid request"},
    {SDERR_OUT_OF_MEMORY, "Out of memory"},
    {SDERR_UNKNOWN, "Unknown error"},
    {SDERR_INVALID_REGISTRY_SETTING, "Invalid configuration registry setting"},
    {SDERR_NOT_FROM_DEVICE, "Buffer content returned not directly from device"},
    {SDERR_NVRAM_CHECKSUM, "NVRam CheckSum is not valid"},
    {SDERR_FIRMWARE_STATE, "FirmaWare State is not valid"},
};
static_assert(sizeof kStatusTexts / sizeof kStatusTexts[0] == 86);

// The largest value that is an operating-system error number.
constexpr SD_UINT32 kLastSystemError = 0x1FFFFFFF;

// The texts of codes without a row. One buffer for the process: a second
// call overwrites what the first returned.
char tmp_err[160];

// Driver status -> status, for driver status 0 to 33 (15 is the SCSI case).
constexpr SD_UINT32 kDriverStatus[34] = {
    0,                          // 0 success
    SDERR_UNKNOWN,              // 1 error
    SDERR_DEVICE_BUSY,          // 2
    SDERR_REQUEST_PENDING,      // 3
    SDERR_REQUEST_SUSPENDED,    // 4
    SDERR_RETRY_PENDING,        // 5
    SDERR_INVALID_PARAMETER,    // 6
    SDERR_DATA_OVERRUN,         // 7
    SDERR_DATA_UNDERRUN,        // 8
    SDERR_DEVICE_NOT_FOUND,     // 9
    SDERR_COPY_MEMORY_FAILED,   // 10
    SDERR_MAILBOX_FAILED,       // 11
    SDERR_INVALID_SUBCODE,      // 12
    SDERR_UNSUPPORTED_VERSION,  // 13
    SDERR_MS_NO_RESPONSE,       // 14
    0,                          // 15 SCSI status: by the status byte
    SDERR_BUFFER_TOO_SMALL,     // 16
    SDERR_NOT_SUPPORTED,        // 17
    SDERR_NOT_SUPPORTED,        // 18
    SDERR_NOT_SUPPORTED,        // 19
    SDERR_NOT_SUPPORTED,        // 20
    SDERR_NOT_SUPPORTED,        // 21
    SDERR_NOT_SUPPORTED,        // 22
    SDERR_NO_DATA,              // 23
    SDERR_NOT_SUPPORTED,        // 24
    SDERR_NOT_SUPPORTED,        // 25
    SDERR_NOT_SUPPORTED,        // 26
    SDERR_NOT_SUPPORTED,        // 27
    SDERR_DRIVER_STATUS_28,     // 28
    SDERR_OUT_OF_MEMORY,        // 29
    SDERR_DRIVER_STATUS_30,     // 30
    SDERR_THREAD_START,         // 31
    SDERR_DATA_COMPARE,         // 32
    SDERR_DUMP_FILE,            // 33
};

constexpr uint32_t kDriverScsiStatus = 15;

// The SCSI status byte -> status.
SD_UINT32 scsi_status(uint8_t status_byte) {
    switch (status_byte) {
    case 0x00: return SDERR_NO_ERROR;
    case 0x02: return SDERR_SCSI_CHECK_CONDITION;
    case 0x04: return SDERR_SCSI_CONDITION_MET;
    case 0x08: return SDERR_SCSI_BUSY;
    case 0x10: return SDERR_SCSI_INTERMEDIATE;
    case 0x14: return SDERR_SCSI_INTERMEDIATE_CONDITION_MET;
    case 0x18: return SDERR_SCSI_RESERVATION_CONFLICT;
    case 0x22: return SDERR_SCSI_COMMAND_TERMINATED;
    case 0x28: return SDERR_SCSI_QUEUE_FULL;
    default: return SDERR_SCSI_UNKNOWN_STATUS;
    }
}

}  // namespace

SD_PINT8 SDGetErrorString(SD_UINT32 ErrorCode) {
    for (const StatusText& row : kStatusTexts) {
        // The texts are constant; the type of the interface is not.
        if (row.code == ErrorCode) return const_cast<SD_PINT8>(row.text);
    }
    if (ErrorCode > kLastSystemError) {
        std::snprintf(tmp_err, sizeof tmp_err, "Unknown Error %xh.", ErrorCode);
    } else {
        std::snprintf(tmp_err, sizeof tmp_err, "System Error %d.", static_cast<int>(ErrorCode));
    }
    return tmp_err;
}

SD_UINT32 SDXlateSDMErr(SD_UINT32 ext_stat, SD_UINT32 ext_dstat) {
    if (ext_stat >= sizeof kDriverStatus / sizeof kDriverStatus[0]) return SDERR_NOT_SUPPORTED;
    if (ext_stat == kDriverScsiStatus) return scsi_status(static_cast<uint8_t>(ext_dstat & 0xFF));
    return kDriverStatus[ext_stat];
}
