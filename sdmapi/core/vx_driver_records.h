// Records exchanged with the adapter's driver through its ioctl interface,
// in the host's byte order, with the layouts the driver uses.
#pragma once

#include <cstddef>
#include <cstdint>

// The driver's version in the driver-specifics answer.
struct EXT_LN_DRV_VERSION {
    uint8_t Major;
    uint8_t Minor;
    uint8_t Patch;
    uint8_t Beta;
    uint8_t Reserved[4];
};
static_assert(sizeof(EXT_LN_DRV_VERSION) == 8);

// Answer of the driver-specifics request (command 0xFC).
struct EXT_LN_DRIVER_DATA {
    EXT_LN_DRV_VERSION DrvVer;
    uint32_t Flags;
    uint32_t Reserved[13];
};
static_assert(sizeof(EXT_LN_DRIVER_DATA) == 64);
static_assert(offsetof(EXT_LN_DRIVER_DATA, Flags) == 8);

// Driver-specifics flags the library reads.
constexpr uint32_t EXT_DEF_LUN_4096 = 0x4;  // targets have 4096 LUNs
constexpr uint32_t EXT_DEF_FLAG_8 = 0x8;

// Chip properties (query, SubCode 8). DomainNr, PciBusNumber and PciDevFunc
// are the key of the library's per-function record.
struct EXT_CHIP {
    uint16_t VendorId;
    uint16_t DeviceId;
    uint16_t SubVendorId;
    uint16_t SubSystemId;
    uint16_t PciBusNumber;
    uint16_t PciSlotNumber;
    uint32_t IoAddr;
    uint32_t IoAddrLen;
    uint32_t MemAddr;
    uint32_t MemAddrLen;
    uint16_t ChipType;
    uint16_t InterruptLevel;
    uint16_t OutMbx[8];
    uint16_t PciDevFunc;
    uint16_t DomainNr;
    uint32_t PcieLinkCap;
    uint16_t PcieLinkStat;
    uint16_t Align1;
    uint32_t FlashBlockSize;
    uint16_t Reserved[9];
    uint16_t Align2;
};
static_assert(sizeof(EXT_CHIP) == 84);
static_assert(offsetof(EXT_CHIP, PciBusNumber) == 8);
static_assert(offsetof(EXT_CHIP, ChipType) == 28);
static_assert(offsetof(EXT_CHIP, PciDevFunc) == 48);
static_assert(offsetof(EXT_CHIP, DomainNr) == 50);
static_assert(offsetof(EXT_CHIP, PcieLinkStat) == 56);
static_assert(offsetof(EXT_CHIP, FlashBlockSize) == 60);
static_assert(offsetof(EXT_CHIP, Reserved) == 64);
