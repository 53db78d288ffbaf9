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

// Node (adapter) properties (query, SubCode 1).
struct EXT_HBA_NODE {
    uint8_t WWNN[8];
    uint8_t Manufacturer[128];
    uint8_t Model[128];
    uint8_t SerialNum[4];
    uint8_t DriverVersion[128];
    uint8_t FWVersion[128];
    uint8_t OptRomVersion[128];
    uint16_t PortCount;
    uint16_t InterfaceType;
    uint32_t DriverAttr;
    uint32_t FWAttr;
    uint32_t BIValid;  // EXT_BI_* bits: which boot-image versions below are valid
    uint8_t BIFwVersion[4];
    uint8_t BIEfiVersion[4];
    uint8_t BIFCodeVersion[4];
    uint8_t BIMpiFwVersion[4];
    uint8_t BIPepFwVersion[4];
    uint32_t Reserved[2];
};
static_assert(sizeof(EXT_HBA_NODE) == 696);
static_assert(offsetof(EXT_HBA_NODE, SerialNum) == 264);
static_assert(offsetof(EXT_HBA_NODE, DriverVersion) == 268);
static_assert(offsetof(EXT_HBA_NODE, OptRomVersion) == 524);
static_assert(offsetof(EXT_HBA_NODE, PortCount) == 652);
static_assert(offsetof(EXT_HBA_NODE, BIValid) == 664);
static_assert(offsetof(EXT_HBA_NODE, BIFwVersion) == 668);
static_assert(offsetof(EXT_HBA_NODE, BIPepFwVersion) == 684);

constexpr uint32_t EXT_BI_FW_VALID = 0x1;
constexpr uint32_t EXT_BI_EFI_VALID = 0x2;
constexpr uint32_t EXT_BI_FCODE_VALID = 0x4;
constexpr uint32_t EXT_BI_MPI_VALID = 0x8;
constexpr uint32_t EXT_BI_PEP_VALID = 0x10;

// Port properties (query, SubCode 2).
struct EXT_HBA_PORT {
    uint8_t WWPN[8];
    uint8_t Id[4];  // bytes 1..3: the port identifier
    uint16_t Type;
    uint16_t State;
    uint16_t Mode;
    uint16_t DiscPortCount;
    uint16_t DiscPortNameType;
    uint16_t DiscTargetCount;
    uint16_t Bus;
    uint16_t Target;
    uint16_t Lun;
    uint8_t PortSupportedFC4Types;
    uint8_t PortActiveFC4Types;
    uint8_t FabricName[8];
    uint8_t PortSupportedSpeed;
    uint8_t PortSpeed;
    uint16_t LinkState2;
    uint16_t LinkState3;
    uint16_t Topology;
    uint32_t OSDeviceName;
    uint16_t LinkState1;
    uint16_t LinkState6;
};
static_assert(sizeof(EXT_HBA_PORT) == 56);
static_assert(offsetof(EXT_HBA_PORT, DiscTargetCount) == 22);
static_assert(offsetof(EXT_HBA_PORT, FabricName) == 32);
static_assert(offsetof(EXT_HBA_PORT, Topology) == 46);
static_assert(offsetof(EXT_HBA_PORT, OSDeviceName) == 48);
static_assert(offsetof(EXT_HBA_PORT, LinkState6) == 54);

// Converged port data (query, SubCode 9).
struct EXT_CNA_PORT {
    uint16_t VLanId;
    uint8_t VNPortMACAddress[6];
    uint16_t FabricParam;
    uint16_t Reserved0;
    uint32_t Reserved[29];
};
static_assert(sizeof(EXT_CNA_PORT) == 128);

// A discovered port (query, SubCode 3, by index).
struct EXT_DISC_PORT {
    uint8_t WWNN[8];
    uint8_t WWPN[8];
    uint8_t Id[4];  // bytes 1..3: domain, area, AL_PA
    uint16_t Type;
    uint16_t Status;
    uint16_t Bus;
    uint16_t TargetId;
    uint8_t Local;
    uint8_t ReservedByte[1];
    uint16_t LoopID;
    uint32_t Reserved[7];
};
static_assert(sizeof(EXT_DISC_PORT) == 60);
static_assert(offsetof(EXT_DISC_PORT, Id) == 16);
static_assert(offsetof(EXT_DISC_PORT, Local) == 28);
static_assert(offsetof(EXT_DISC_PORT, LoopID) == 30);

// A discovered target (query, SubCode 4, by index).
struct EXT_DISC_TARGET {
    uint8_t WWNN[8];
    uint8_t WWPN[8];
    uint8_t Id[4];
    uint16_t Type;
    uint16_t Status;
    uint16_t Bus;
    uint16_t TargetId;
    uint16_t LunCount;
    uint8_t Local;
    uint8_t ReservedByte[1];
    uint16_t LoopID;
    uint16_t Reserved[13];
};
static_assert(sizeof(EXT_DISC_TARGET) == 60);
static_assert(offsetof(EXT_DISC_TARGET, LunCount) == 28);
static_assert(offsetof(EXT_DISC_TARGET, LoopID) == 32);

// Driver properties (get data, SubCode 6).
struct EXT_DRIVER {
    uint8_t Version[128];
    uint16_t NumOfBus;
    uint16_t TargetsPerBus;
    uint16_t LunsPerTarget;
    uint16_t Align1;
    uint32_t MaxTransferLen;
    uint32_t MaxDataSegments;
    uint16_t DmaBitAddresses;
    uint16_t IoMapType;
    uint32_t Attrib;
    uint32_t InternalFlags[4];
    uint32_t Reserved[8];
};
static_assert(sizeof(EXT_DRIVER) == 200);
static_assert(offsetof(EXT_DRIVER, MaxTransferLen) == 136);
static_assert(offsetof(EXT_DRIVER, Attrib) == 148);
static_assert(offsetof(EXT_DRIVER, InternalFlags) == 152);

// Firmware properties (get data, SubCode 7).
struct EXT_FW {
    uint8_t Version[128];
    uint32_t Attrib;
    uint16_t Reserved[33];
    uint16_t Align1;
};
static_assert(sizeof(EXT_FW) == 200);
static_assert(offsetof(EXT_FW, Attrib) == 128);

// Link and port statistics (get data, SubCodes 3, 0x70, 9).
struct EXT_HBA_PORT_STAT {
    uint32_t ControllerErrorCount;
    uint32_t DeviceErrorCount;
    uint32_t TotalIoCount;
    uint32_t TotalMBytes;
    uint32_t TotalLipResets;
    uint32_t Reserved2;
    uint32_t TotalLinkFailures;
    uint32_t TotalLossOfSync;
    uint32_t TotalLossOfSignals;
    uint32_t PrimitiveSeqProtocolErrorCount;
    uint32_t InvalidTransmissionWordCount;
    uint32_t InvalidCRCCount;
    uint64_t InputRequestCount;
    uint64_t OutputRequestCount;
    uint64_t ControlRequestCount;
    uint64_t InputMBytes;
    uint64_t OutputMBytes;
    uint32_t TxFrames;
    uint32_t RxFrames;
    uint32_t NosCount;
    uint32_t DumpedFrames;
    uint32_t Reserved[2];
};
static_assert(sizeof(EXT_HBA_PORT_STAT) == 112);
static_assert(offsetof(EXT_HBA_PORT_STAT, InputRequestCount) == 48);
static_assert(offsetof(EXT_HBA_PORT_STAT, TxFrames) == 88);
static_assert(offsetof(EXT_HBA_PORT_STAT, Reserved) == 104);

// Asynchronous event registration (command 0x02).
struct EXT_REG_AEN {
    uint32_t Enable;     // 1 on, 0 off
    uint16_t BufLength;  // filled by the driver
    uint16_t Reserved;
};
static_assert(sizeof(EXT_REG_AEN) == 8);

// The payload of an RSCN event.
struct EXT_RSCN {
    uint8_t RSCNInfo[3];  // the affected port address
    uint8_t AddrFormat;
    uint32_t host_no;     // SCSI host number of the port the event belongs to
    uint32_t Rsvd_1;
};
static_assert(sizeof(EXT_RSCN) == 12);

// One asynchronous event; AsyncEventCode 0 marks an empty entry.
struct EXT_ASYNC_EVENT {
    uint32_t AsyncEventCode;
    union {
        EXT_RSCN RSCN;
        uint32_t Reserved[3];
    } Payload;
};
static_assert(sizeof(EXT_ASYNC_EVENT) == 16);

// Driver event codes.
constexpr uint32_t VX_AEN_LIP = 0x8010;
constexpr uint32_t VX_AEN_LINK_UP = 0x8011;
constexpr uint32_t VX_AEN_LINK_DOWN = 0x8012;
constexpr uint32_t VX_AEN_LIP_RESET = 0x8013;
constexpr uint32_t VX_AEN_RSCN = 0x8015;
constexpr uint32_t VX_AEN_TARGET_ADDED = 0xA000;

// SCSI address of a remote port (WWPN to SCSI address).
struct EXT_SCSI_ADDR {
    uint16_t Bus;
    uint16_t Target;
    uint16_t Lun;
    uint16_t Padding[5];
};
static_assert(sizeof(EXT_SCSI_ADDR) == 16);

// One entry of the port summary.
struct EXT_DEVICEDATAENTRY {
    uint8_t NodeWWN[8];
    uint8_t PortWWN[8];
    uint8_t PortID[3];
    uint8_t ControlFlags;
    EXT_SCSI_ADDR TargetAddress;
    uint32_t DeviceFlags;
    uint16_t LoopID;
    uint16_t BaseLunNumber;
    uint32_t Reserved[32];
};
static_assert(sizeof(EXT_DEVICEDATAENTRY) == 172);
static_assert(offsetof(EXT_DEVICEDATAENTRY, TargetAddress) == 20);
static_assert(offsetof(EXT_DEVICEDATAENTRY, DeviceFlags) == 36);
static_assert(offsetof(EXT_DEVICEDATAENTRY, BaseLunNumber) == 42);

// The port summary's head; ReturnListEntryCount entries follow.
struct EXT_DEVICEDATA {
    uint32_t TotalDevices;
    uint32_t ReturnListEntryCount;
    // EXT_DEVICEDATAENTRY EntryList[] at byte 8
};
static_assert(sizeof(EXT_DEVICEDATA) == 8);

// ---- side channels of the adapter (i2c bus, FRU, SerDes) ----

// One piece of an i2c transfer: at most VXA_I2C_MAX bytes of a device on the
// adapter's i2c bus (the driver's i2c request, bsg and netlink commands 16
// and 17).
constexpr uint16_t VXA_I2C_MAX = 64;
struct vxa_i2c_access {
    uint16_t device;  // i2c device address
    uint16_t offset;  // register or byte offset in the device
    uint16_t option;  // passed through from the caller
    uint16_t length;  // bytes of this piece
    uint8_t buffer[VXA_I2C_MAX];
};
static_assert(sizeof(vxa_i2c_access) == 72);
static_assert(offsetof(vxa_i2c_access, length) == 6);
static_assert(offsetof(vxa_i2c_access, buffer) == 8);

// Where a FRU field lies.
struct vxa_field_address {
    uint16_t offset;
    uint16_t device_address;
    uint16_t options;
};
static_assert(sizeof(vxa_field_address) == 6);

// A FRU image's version.
struct vxa_image_version {
    vxa_field_address field_address;
    uint8_t version[36];  // NUL-terminated text
};
static_assert(sizeof(vxa_image_version) == 42);

// The FRU versions: count entries follow the count.
struct vxa_image_version_list {
    uint32_t count;
    vxa_image_version version[1];
};
static_assert(offsetof(vxa_image_version_list, version) == 4);

// The FRU status register.
struct vxa_status_reg {
    vxa_field_address field_address;
    uint8_t status_reg;
    uint8_t reserved[7];
};
static_assert(sizeof(vxa_status_reg) == 14);

// A SerDes register access: cmd VXA_SERDES_READ or VXA_SERDES_WRITE.
constexpr uint16_t VXA_SERDES_READ = 1;
constexpr uint16_t VXA_SERDES_WRITE = 2;
struct vxa_serdes_reg {
    uint16_t cmd;
    uint16_t addr;
    uint16_t val;
};
static_assert(sizeof(vxa_serdes_reg) == 6);

#pragma pack(push, 1)
// The same with 32-bit addresses and values.
struct vxa_serdes_reg_ex {
    uint16_t cmd;
    uint32_t addr;
    uint32_t val;
};
#pragma pack(pop)
static_assert(sizeof(vxa_serdes_reg_ex) == 10);
static_assert(offsetof(vxa_serdes_reg_ex, val) == 6);
