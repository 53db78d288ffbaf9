// Records of the commands that travel through the adapter to other devices
// (SCSI, CT and ELS pass-through, the driver's target and LUN lists, the
// beacon, the loopback test, READ CAPACITY and REPORT LUNS), exchanged with
// the driver and carried by every road.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/vx_driver_records.h"

// SCSI pass-through by bus, target and LUN (command 0x05, sub-code 0).
struct EXT_SCSI_PASSTHRU {
    EXT_SCSI_ADDR TargetAddr;
    uint8_t Direction;  // VX_SCSI_DIR_*
    uint8_t CdbLength;  // at most 16
    uint8_t Cdb[16];
    uint8_t Padding[2];
    uint32_t Timeout;  // seconds
    uint32_t Reserved[13];
    uint16_t Reserved2;
    uint16_t SenseLength;  // in: room for sense data (at most 256); out: sense bytes returned
    uint8_t SenseData[256];
};
static_assert(sizeof(EXT_SCSI_PASSTHRU) == 352);
static_assert(offsetof(EXT_SCSI_PASSTHRU, Direction) == 16);
static_assert(offsetof(EXT_SCSI_PASSTHRU, Cdb) == 18);
static_assert(offsetof(EXT_SCSI_PASSTHRU, Timeout) == 36);
static_assert(offsetof(EXT_SCSI_PASSTHRU, Reserved) == 40);
static_assert(offsetof(EXT_SCSI_PASSTHRU, Reserved2) == 92);
static_assert(offsetof(EXT_SCSI_PASSTHRU, SenseLength) == 94);
static_assert(offsetof(EXT_SCSI_PASSTHRU, SenseData) == 96);

constexpr uint8_t VX_SCSI_DIR_NONE = 0;
constexpr uint8_t VX_SCSI_DIR_IN = 1;   // data from the device
constexpr uint8_t VX_SCSI_DIR_OUT = 2;  // data to the device
constexpr uint32_t VX_SCSI_MAX_CDB = 16;
constexpr uint32_t VX_SCSI_MAX_SENSE = 256;

// A remote port by one of its names or addresses.
struct EXT_DEST_ADDR {
    union {
        uint8_t WWNN[8];
        uint8_t WWPN[8];
        uint8_t Id[4];  // port ID
        struct {
            uint16_t Bus;
            uint16_t Target;
        } ScsiAddr;
    } DestAddr;
    uint16_t DestType;  // VX_DEST_*
    uint16_t Lun;
    uint16_t Padding[2];
};
static_assert(sizeof(EXT_DEST_ADDR) == 16);
static_assert(offsetof(EXT_DEST_ADDR, DestType) == 8);
static_assert(offsetof(EXT_DEST_ADDR, Lun) == 10);

constexpr uint16_t VX_DEST_WWNN = 1;
constexpr uint16_t VX_DEST_WWPN = 2;
constexpr uint16_t VX_DEST_PORT_ID = 3;
constexpr uint16_t VX_DEST_SCSI_ADDR = 4;

// SCSI pass-through to a remote port (command 0x05, sub-codes 1 and 2).
struct EXT_FC_SCSI_PASSTHRU {
    EXT_DEST_ADDR FCScsiAddr;
    uint8_t Direction;
    uint8_t CdbLength;
    uint8_t Cdb[16];
    uint8_t Padding[2];
    uint32_t Timeout;
    uint32_t Reserved[13];
    uint16_t Reserved2;
    uint16_t SenseLength;
    uint8_t SenseData[256];
};
static_assert(sizeof(EXT_FC_SCSI_PASSTHRU) == 352);
static_assert(offsetof(EXT_FC_SCSI_PASSTHRU, Direction) == offsetof(EXT_SCSI_PASSTHRU, Direction));
static_assert(offsetof(EXT_FC_SCSI_PASSTHRU, Timeout) == offsetof(EXT_SCSI_PASSTHRU, Timeout));
static_assert(offsetof(EXT_FC_SCSI_PASSTHRU, SenseLength) == offsetof(EXT_SCSI_PASSTHRU, SenseLength));
static_assert(offsetof(EXT_FC_SCSI_PASSTHRU, SenseData) == offsetof(EXT_SCSI_PASSTHRU, SenseData));

// The head of every ELS pass-through request; the ELS payload follows at
// byte 32, its first byte the ELS command code.
struct EXT_ELS_PT_REQ {
    uint8_t WWNN[8];
    uint8_t WWPN[8];  // the destination
    uint8_t Id[4];
    uint16_t ValidMask;  // VX_ELS_WWPN_VALID
    uint16_t Lid;
    uint16_t Rxid;
    uint16_t AccRjt;
    uint8_t Reserved[4];
};
static_assert(sizeof(EXT_ELS_PT_REQ) == 32);
static_assert(offsetof(EXT_ELS_PT_REQ, ValidMask) == 20);
static_assert(offsetof(EXT_ELS_PT_REQ, AccRjt) == 26);

constexpr uint16_t VX_ELS_WWPN_VALID = 0x1;

// Loopback test request and result (command 0x09).
#pragma pack(push, 1)
struct INT_LOOPBACK_REQ {
    uint16_t Options;
    uint32_t TransferCount;
    uint32_t IterationCount;
    uint64_t BufferAddress;  // the transmit data
    uint32_t BufferLength;
    uint16_t Reserved[9];
};
#pragma pack(pop)
static_assert(sizeof(INT_LOOPBACK_REQ) == 40);
static_assert(offsetof(INT_LOOPBACK_REQ, BufferAddress) == 10);
static_assert(offsetof(INT_LOOPBACK_REQ, BufferLength) == 18);

struct INT_LOOPBACK_RSP {
    uint64_t BufferAddress;  // the receive buffer
    uint32_t BufferLength;
    uint16_t CompletionStatus;
    uint16_t CrcErrorCount;
    uint16_t DisparityErrorCount;
    uint16_t FrameLengthErrorCount;
    uint32_t IterationCountLastError;
    uint8_t CommandSent;
    uint8_t Reserved1;
    uint16_t Reserved2[7];
};
static_assert(sizeof(INT_LOOPBACK_RSP) == 40);
static_assert(offsetof(INT_LOOPBACK_RSP, CompletionStatus) == 12);
static_assert(offsetof(INT_LOOPBACK_RSP, IterationCountLastError) == 20);
static_assert(offsetof(INT_LOOPBACK_RSP, CommandSent) == 24);

// The port's beacon (locate LED).
struct EXT_BEACON_CONTROL {
    uint32_t State;  // VX_BEACON_*
    uint32_t Reserved[3];
};
static_assert(sizeof(EXT_BEACON_CONTROL) == 16);

constexpr uint32_t VX_BEACON_BLINK = 0x01ED0017;
constexpr uint32_t VX_BEACON_OFF = 0x01ED00FF;

// The driver's target and LUN list: a 32-byte head, then EntryCount entries.
// An entry is a 32-byte head followed by its per-LUN bytes; whoever fills the
// list sets the entry length.
struct TGT_LUN_DATA_ENTRY {
    uint8_t NodeName[8];
    uint8_t PortName[8];
    uint16_t LunCount;
    uint8_t BusNumber;
    uint8_t TargetId;
    uint8_t DevType;
    uint8_t LoopId;
    uint16_t Reserved3;
    uint8_t PortId[4];
    uint32_t Reserved5;
    // uint8_t Data[] at byte 32
};
static_assert(sizeof(TGT_LUN_DATA_ENTRY) == 32);
static_assert(offsetof(TGT_LUN_DATA_ENTRY, LunCount) == 16);
static_assert(offsetof(TGT_LUN_DATA_ENTRY, PortId) == 24);

struct TGT_LUN_DATA_LIST {
    uint16_t Version;
    uint16_t EntryCount;
    uint32_t Reserved1;
    uint32_t Reserved2;
    uint32_t Reserved3;
    uint32_t Reserved4;
    uint32_t Reserved5;
    uint32_t Reserved6;
    uint32_t Reserved7;
    // TGT_LUN_DATA_ENTRY DataEntry[] at byte 32
};
static_assert(sizeof(TGT_LUN_DATA_LIST) == 32);

// The per-LUN bytes of an entry, and the first entry of a list.
[[nodiscard]] inline uint8_t* vx_lun_data(TGT_LUN_DATA_ENTRY* entry) { return reinterpret_cast<uint8_t*>(entry + 1); }
[[nodiscard]] inline TGT_LUN_DATA_ENTRY* vx_first_entry(TGT_LUN_DATA_LIST* list) {
    return reinterpret_cast<TGT_LUN_DATA_ENTRY*>(list + 1);
}

// Input of the failover LUN data request (command 0xCE); the answer is the
// failover layer's LUN data list, passed through.
struct FO_LUN_DATA_INPUT {
    uint8_t HbaInstance;  // the port's driver instance
    uint8_t Reserved1[3];
    uint32_t Reserved2[7];
};
static_assert(sizeof(FO_LUN_DATA_INPUT) == 32);

// An 8-byte SAM LUN: four 2-byte addressing levels.
struct lun_addr_level_t {
    uint8_t field[2];
};
struct lun_8byte_t {
    lun_addr_level_t first;
    lun_addr_level_t second;
    lun_addr_level_t third;
    lun_addr_level_t fourth;
};
static_assert(sizeof(lun_8byte_t) == 8);

// Command blocks built here, and the READ CAPACITY answer (big-endian).
struct scsi_cdb_10_t {
    uint8_t bytes[10];
};
struct scsi_cdb_12_t {
    uint8_t bytes[12];
};
struct READ_CAP_t {
    uint32_t block_adrs;
    uint32_t block_length;
};
static_assert(sizeof(scsi_cdb_10_t) == 10);
static_assert(sizeof(scsi_cdb_12_t) == 12);
static_assert(sizeof(READ_CAP_t) == 8);
