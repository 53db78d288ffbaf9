/*
 * libvxsdm: the scalar types and the records of the adapter management API.
 *
 * Every record lies in memory exactly as shown (natural alignment, no
 * packing); the library and its callers exchange them byte for byte.
 * Records are allocated by the caller; the library writes a caller's record
 * only when a call succeeds (or where a function says otherwise) and leaves
 * every field it does not set as the caller had it.
 *
 * Plain C99; usable from C++.
 */
#ifndef VXSDM_TYPES_H
#define VXSDM_TYPES_H

#include <stdint.h>

/* Marks the functions that the shared library exports. */
#ifndef VXSDM_API
#if defined(__GNUC__)
#define VXSDM_API __attribute__((visibility("default")))
#else
#define VXSDM_API
#endif
#endif

/* ---- scalar types ---- */

typedef uint8_t SD_UINT8;
typedef char SD_INT8;
typedef uint16_t SD_UINT16;
typedef uint32_t SD_UINT32;
typedef int32_t SD_INT32;
typedef uint64_t SD_UINT64;

typedef SD_INT8* SD_PINT8;
typedef SD_UINT8* SD_PUINT8;
typedef SD_UINT16* SD_PUINT16;
typedef SD_UINT32* SD_PUINT32;
typedef SD_INT32* SD_PINT32;
typedef SD_UINT64* SD_PUINT64;
typedef void* SD_PVOID;

/* ---- adapter properties ---- */

/* The adapter (node) of a port. Text fields are NUL-terminated. */
typedef struct DEVICENODEPROPERTY {
    SD_UINT8 WWN[8];              /* node world-wide name */
    SD_INT8 Manufacturer[80];
    SD_INT8 Model[32];            /* at most 15 characters and the NUL */
    SD_UINT8 SerialNumber[32];    /* at most 31 characters and the NUL */
    SD_INT8 DriverVersion[32];
    SD_INT8 FirmwareVersion[32];  /* running firmware */
    SD_INT8 OptionRomVersion[32];
    SD_UINT16 NumberOfPorts;
    SD_UINT16 InterfaceType;
    SD_UINT32 DriverAttributes;
    SD_UINT32 FirmwareAttributes;
    SD_UINT32 BIValid;            /* SD_BIVALID_* bits: which versions below hold */
    SD_UINT8 BIFwVersion[4];      /* boot BIOS */
    SD_UINT8 BIEfiVersion[4];
    SD_UINT8 BIFCodeVersion[4];
    SD_UINT8 MpiFwVersion[4];     /* running MPI firmware */
    SD_UINT8 PepFwVersion[4];     /* running PEP firmware */
    SD_UINT8 BIMpiFwVersion[4];   /* MPI firmware in flash */
    SD_UINT8 BIPepFwVersion[4];   /* PEP firmware in flash */
    SD_UINT32 Reserved[24];
} DEVICENODEPROPERTY, *PDEVICENODEPROPERTY;

#define SD_BIVALID_FW 0x1u
#define SD_BIVALID_EFI 0x2u
#define SD_BIVALID_FCODE 0x4u
#define SD_BIVALID_MPI 0x20u /* always together with SD_BIVALID_PEP */
#define SD_BIVALID_PEP 0x40u

/* The port itself. */
typedef struct DEVICEPORTPROPERTY {
    SD_UINT8 WWN[8];         /* port world-wide name */
    SD_UINT8 PortID[3];      /* domain, area, AL_PA */
    SD_UINT8 PortType;       /* 1 or 2 as the driver reports */
    SD_UINT8 PortState;      /* 1, 2 or 3 */
    SD_UINT8 ConnectionMode; /* 1 or 2 as the driver reports */
    SD_UINT16 DiscPortCount;
    SD_UINT16 DiscTargetCount;
    SD_INT8 DeviceName[32];  /* not filled */
    SD_UINT32 PortSpeed;     /* the driver's speed code */
    SD_UINT16 LinkState1;
    SD_UINT16 LinkState2;
    SD_UINT16 LinkState3;
    SD_UINT16 LinkState6;
    SD_UINT32 Reserved[21];
} DEVICEPORTPROPERTY, *PDEVICEPORTPROPERTY;

/* A port, or a target, the port has discovered. */
typedef struct DISCPORTPROPERTY {
    SD_UINT8 NodeWWN[8];
    SD_UINT8 PortWWN[8];
    SD_UINT8 PortID[3];
    SD_UINT16 BusNumber;
    SD_UINT16 TargetID;
    SD_UINT8 PortType;
    SD_UINT8 PortState;
    SD_UINT8 Local;          /* not filled */
    SD_UINT8 ReservedByte[1];
    SD_UINT16 LoopID;
    SD_UINT32 Reserved[31];
} DISCPORTPROPERTY, *PDISCPORTPROPERTY;

typedef DISCPORTPROPERTY DISCTARGETPROPERTY;
typedef DISCPORTPROPERTY* PDISCTARGETPROPERTY;

/* The PCI function behind the port. */
typedef struct CHIPPROPERTY {
    SD_UINT16 VendorID;
    SD_UINT16 DeviceID;
    SD_UINT16 SubVendorID;
    SD_UINT16 SubSystemID;
    SD_UINT16 PciBusNumber;
    SD_UINT16 PciSlotNumber;  /* the PCI device/function word */
    SD_UINT32 IoAddress;
    SD_UINT32 IoAddressLength;
    SD_UINT32 MemoryAddress;
    SD_UINT32 MemoryAddressLength;
    SD_UINT16 ChipType;
    SD_UINT16 InterruptLevel;
    SD_UINT16 OutMbx[8];
    SD_UINT16 DomainNr;
    SD_UINT16 PcieLinkCap;
    SD_UINT16 PcieLinkStat;
    SD_UINT8 PortNumber;      /* physical port number on the adapter, from 1 */
    SD_UINT8 Reserved1;
    SD_UINT32 Reserved[6];
} CHIPPROPERTY, *PCHIPPROPERTY;

/* The driver. Version is NUL-terminated. */
typedef struct DRIVERPROPERTY {
    SD_UINT8 Version[32];
    SD_UINT16 NumberOfBus;
    SD_UINT16 TargetsPerBus;
    SD_UINT16 LunsPerTarget;
    SD_UINT32 MaximumTransferLen;
    SD_UINT32 MaximumDataSegments;
    SD_UINT16 DmaBitAddresses;
    SD_UINT16 IoMapType;
    SD_UINT32 Attributes;
    SD_UINT32 InternalFlags[4];
    SD_UINT32 Reserved[8];
} DRIVERPROPERTY, *PDRIVERPROPERTY;

/* The firmware: only Version[0..2] are filled. */
typedef struct FIRMWAREPROPERTY {
    SD_UINT8 Version[32];
    SD_UINT32 Attributes;
    SD_UINT16 Reserved[33];
} FIRMWAREPROPERTY, *PFIRMWAREPROPERTY;

/* An operating-system SCSI address. */
typedef struct TARGETINFORMATION {
    SD_UINT16 BusNumber;
    SD_UINT16 TargetID;
    SD_UINT16 LUN;
    SD_UINT32 Reserved[32];
} TARGETINFORMATION, *PTARGETINFORMATION;

/* A Fibre Channel destination: a LUN behind a remote port. The pass-through
 * functions take AddressType 2 only, with the remote port's world-wide port
 * name, most significant byte first, in AddressUsing. */
typedef struct DESTINATIONADDRESS {
    SD_UINT16 AddressType; /* how AddressUsing is read: 2 by port WWPN */
    union {
        SD_UINT8 NodeWWN[8];
        SD_UINT8 PortWWN[8];
        SD_UINT8 PortID[3];
        struct {
            SD_UINT16 BusNumber;
            SD_UINT16 TargetID;
        } ScsiTarget;
    } AddressUsing;
    SD_UINT16 LunNumber;
} DESTINATIONADDRESS, *PDESTINATIONADDRESS;

/* One device of the port database. */
typedef struct DEVICEINFOENTRY {
    SD_UINT8 NodeWWN[8];
    SD_UINT8 PortWWN[8];
    SD_UINT8 PortID[3];
    SD_UINT8 ControlFlags;
    TARGETINFORMATION TargetAddress;
    SD_UINT32 DeviceFlags;
    SD_UINT16 LoopID;
    SD_UINT16 BaseLunNumber;
    SD_UINT32 Reserved[32];
} DEVICEINFOENTRY, *PDEVICEINFOENTRY;

/* The port database: declared with one entry; a buffer for n entries is
 * sizeof(DEVICEINFO) + (n - 1) * sizeof(DEVICEINFOENTRY) bytes. */
typedef struct DEVICEINFO {
    SD_UINT32 TotalDevices;          /* devices the driver knows */
    SD_UINT32 ReturnListEntryCount;  /* entries filled */
    DEVICEINFOENTRY EntryList[1];
} DEVICEINFO, *PDEVICEINFO;

/* ---- converged adapters ---- */

/* The converged port's identity (128 bytes). */
typedef struct CNAPORTPROPERTY {
    SD_UINT16 VLanId;
    SD_UINT8 VNPortMACAddress[6];
    SD_UINT16 FabricParam;
    SD_UINT16 Reserved0;
    SD_UINT32 Reserved[29];
} CNAPORTPROPERTY, *PCNAPORTPROPERTY;

/* The version of one firmware part (24 bytes). */
typedef struct REGIONVERSION {
    SD_UINT16 Region;         /* flash region code */
    SD_UINT16 SubRegion;
    SD_UINT16 Location;       /* 1 running in the adapter, 0 stored in flash */
    SD_UINT16 VersionLength;  /* bytes of Version used */
    SD_UINT8 Version[8];
    SD_UINT8 Reserved[8];
} REGIONVERSION, *PREGIONVERSION;

/* The component versions: Length entries follow from byte 8, so the list of
 * n entries takes 8 + 24 * n bytes. */
typedef struct ADAPTERREGIONVERSION {
    SD_UINT32 Length;  /* number of entries */
    SD_UINT32 Reserved;
    REGIONVERSION RegionVersion[1];
} ADAPTERREGIONVERSION, *PADAPTERREGIONVERSION;

/* Operations of SDGetCnaPortData. */
#define SD_CNA_GET_PORT_ID 1u        /* a CNAPORTPROPERTY, size exactly 128 */
#define SD_CNA_GET_DCBX_PARAMS 2u    /* the driver's DCBX block, size at least 64 */
#define SD_CNA_GET_REGION_VERSIONS 3u /* an ADAPTERREGIONVERSION */

/* ---- Tarno controller ---- */

/* Where a management operation of the Tarno controller acts: three words,
 * read in the form that the operation names. */
typedef struct TARNO_ACCESS_PARAMETERS {
    union {
        struct {
            SD_UINT32 StartingAddr; /* controller memory address */
            SD_UINT32 Reserved2;
            SD_UINT32 Reserved3;
        } TarnoMemory;
        struct {
            SD_UINT32 ConfigParamID;
            SD_UINT32 ConfigParamData0;
            SD_UINT32 ConfigParamData1;
        } TarnoConfig;
        struct {
            SD_UINT32 InfoDataType;
            SD_UINT32 InfoContext;
            SD_UINT32 Reserved;
        } TarnoInfo;
    } ap;
} TARNO_ACCESS_PARAMETERS, *PTARNO_ACCESS_PARAMETERS;

/* Operation 1: reset the controller. */
typedef struct TARNO_RESET {
    SD_UINT16 Flags; /* TARNO_RESET_DIAG_FW: start the diagnostic firmware */
    SD_UINT16 Reserved;
} TARNO_RESET, *PTARNO_RESET;

/* Operation 2: the controller's firmware version. */
typedef struct TARNO_GET_FW_VERSION {
    SD_UINT32 FwVersion;
} TARNO_GET_FW_VERSION, *PTARNO_GET_FW_VERSION;

/* Operation 3: load a firmware image into the controller. */
typedef struct TARNO_UPDATE_FW {
    SD_UINT16 Flags; /* TARNO_UPDATE_DIAG_FW: the image is diagnostic firmware */
    SD_UINT16 Reserved;
    SD_UINT32 TotalByteCount; /* image length */
    SD_PUINT8 pFwDataBytes;
} TARNO_UPDATE_FW, *PTARNO_UPDATE_FW;

/* Operation 4: controller memory, configuration and information. */
typedef struct TARNO_MANAGE_INFO {
    SD_UINT16 Operation; /* TARNO_MGMT_* */
    SD_UINT16 Reserved;
    TARNO_ACCESS_PARAMETERS Parameters;
    SD_UINT32 TotalByteCount; /* data length */
    SD_PUINT8 pDataBytes;
} TARNO_MANAGE_INFO, *PTARNO_MANAGE_INFO;

/* The request of a Tarno operation, in the form its operation names. */
typedef struct SD_TARNO_MGT {
    union {
        TARNO_RESET TarnoReset;
        TARNO_GET_FW_VERSION TarnoGetFwVer;
        TARNO_UPDATE_FW TarnoUpdateFw;
        TARNO_MANAGE_INFO TarnoManageInfo;
    } sp;
} SD_TARNO_MGT, *PSD_TARNO_MGT;

#define TARNO_RESET_DIAG_FW 1u
#define TARNO_UPDATE_DIAG_FW 8u

/* Operations of TARNO_MANAGE_INFO: 0 and 3 fill pDataBytes, 1 and 2 send it. */
#define TARNO_MGMT_READ_MEM 0u
#define TARNO_MGMT_WRITE_MEM 1u
#define TARNO_MGMT_CHANGE_CONFIG 2u
#define TARNO_MGMT_GET_INFO 3u

/* ---- option ROM (flash) layout ---- */

/* One region of the flash. */
typedef struct SDM_OPT_ROM_REGION {
    SD_UINT32 Region;  /* region code, 0 to 255 */
    SD_UINT32 Size;    /* bytes */
} SDM_OPT_ROM_REGION, *PSDM_OPT_ROM_REGION;

/* The flash layout: declared with one region; a record for n regions is
 * sizeof(SDM_OPT_ROM_LAYOUT) + (n - 1) * sizeof(SDM_OPT_ROM_REGION) bytes. */
typedef struct SDM_OPT_ROM_LAYOUT {
    SD_UINT32 Size;         /* flash size in bytes (0 where the flash describes its own layout) */
    SD_UINT32 NoOfRegions;  /* in: entries the caller provides; out: regions of the adapter */
    SDM_OPT_ROM_REGION Region[1];
} SDM_OPT_ROM_LAYOUT, *PSDM_OPT_ROM_LAYOUT;

/* ---- asynchronous events ---- */

/* One event of a port (16 bytes). EventCode: 1 LIP, 2 link up, 3 link down,
 * 4 LIP reset, 5 RSCN (fabric change), 6, 7 and 8 further driver events;
 * 0 an event the library does not know. Reserved is not written. */
typedef struct ASYNCEVENT {
    SD_UINT32 EventCode;
    SD_UINT32 Reserved[3];
} ASYNCEVENT, *PASYNCEVENT;

/* ---- records named by entry points that are not supported ---- */

typedef struct MANAGEMENTADDRESS MANAGEMENTADDRESS, *PMANAGEMENTADDRESS;
typedef struct DRIVERNVRAMPARAMS DRIVERNVRAMPARAMS, *PDRIVERNVRAMPARAMS;
typedef struct FIRMWARENVRAMPARAMS FIRMWARENVRAMPARAMS, *PFIRMWARENVRAMPARAMS;
typedef struct FABRICADDRESS FABRICADDRESS, *PFABRICADDRESS;

/* ---- NVRAM variables ---- */

/* The settings of an NVRAM image by number. */
typedef enum EnumNVRAMVar {
    NVRAMVarId = 0,
    NVRAMVarVersion = 1,
    NVRAMVarRiscVersion = 2,
    NVRAMVarRiscEnableHardLoopID = 3,
    NVRAMVarEnableFairness = 4,
    NVRAMVarEnableFullDuplex = 5,
    NVRAMVarEnableFastPosting = 6,
    NVRAMVarEnableTargetMode = 7,
    NVRAMVarDisableInitiatorMode = 8,
    NVRAMVarEnableADISC = 9,
    NVRAMVarTargetInquiryData = 10,
    NVRAMVarEnablePDBCNotify = 11,
    NVRAMVarNonParticipatingLIP = 12,
    NVRAMVarDescendingSearchLoopID = 13,
    NVRAMVarAcquireLoopIDInLIPA = 14,
    NVRAMVarStopPortQOnFullStatus = 15,
    NVRAMVarFullLoginAfterLIP = 16,
    NVRAMVarNodeNameOption = 17,
    NVRAMVarExtIFWCBEnableBit = 18,
    NVRAMVarFramePayloadSize = 19,
    NVRAMVarMaxIocbAllocation = 20,
    NVRAMVarExecutionThrottle = 21,
    NVRAMVarRetryCount = 22,
    NVRAMVarRetryDelay = 23,
    NVRAMVarPortName0 = 24,
    NVRAMVarPortName1 = 25,
    NVRAMVarPortName2 = 26,
    NVRAMVarPortName3 = 27,
    NVRAMVarPortName4 = 28,
    NVRAMVarPortName5 = 29,
    NVRAMVarPortName6 = 30,
    NVRAMVarPortName7 = 31,
    NVRAMVarAdapterHardLoopID = 32,
    NVRAMVarInquiryData = 33,
    NVRAMVarLoginTimeout = 34,
    NVRAMVarNodeName0 = 35,
    NVRAMVarNodeName1 = 36,
    NVRAMVarNodeName2 = 37,
    NVRAMVarNodeName3 = 38,
    NVRAMVarNodeName4 = 39,
    NVRAMVarNodeName5 = 40,
    NVRAMVarNodeName6 = 41,
    NVRAMVarNodeName7 = 42,
    NVRAMVarTimerOperationMode = 43,
    NVRAMVarInitConfigMode = 44,
    NVRAMVarEnableNonPartOnLIHAFailure = 45,
    NVRAMVarEnableClass2 = 46,
    NVRAMVarEnableAck0 = 47,
    NVRAMVarEnableFCTape = 48,
    NVRAMVarEnableFCConfirm = 49,
    NVRAMVarEnableCRN = 50,
    NVRAMVarNoLogoOnLinkDown = 51,
    NVRAMVarResponseAccumulationTimer = 52,
    NVRAMVarInterruptDelayTimer = 53,
    NVRAMVarEnableReadXfrRdy = 54,
    NVRAMVarFcpRspPayload = 55,
    NVRAMVarRecvOutOfOrderDataBit = 56,
    NVRAMVarDataRate = 57,
    NVRAMVarDisableBIOS = 58,
    NVRAMVarDisableLUNs = 59,
    NVRAMVarEnableSelectableBoot = 60,
    NVRAMVarDisableRISCCodeLoad = 61,
    NVRAMVarSetCacheLineSize1 = 62,
    NVRAMVarPCIParityDisable = 63,
    NVRAMVarEnableExtendedLogging = 64,
    NVRAMVarEnable64BitsAddressing = 65,
    NVRAMVarEnableLIPReset = 66,
    NVRAMVarEnableLIPFullLogin = 67,
    NVRAMVarEnableTargetReset = 68,
    NVRAMVarEnableDatabaseStorage = 69,
    NVRAMVarEnableCacheFlushRead = 70,
    NVRAMVarEnableDatabaseLoad = 71,
    NVRAMVarBootNodeName0 = 72,
    NVRAMVarBootNodeName1 = 73,
    NVRAMVarBootNodeName2 = 74,
    NVRAMVarBootNodeName3 = 75,
    NVRAMVarBootNodeName4 = 76,
    NVRAMVarBootNodeName5 = 77,
    NVRAMVarBootNodeName6 = 78,
    NVRAMVarBootNodeName7 = 79,
    NVRAMVarBootLUNNumber = 80,
    NVRAMVarResetDelay = 81,
    NVRAMVarPortDownRetryCount = 82,
    NVRAMVarMaximumLUNsPerTarget = 83,
    NVRAMVarFcodeBootPortName0 = 84,
    NVRAMVarFcodeBootPortName1 = 85,
    NVRAMVarFcodeBootPortName2 = 86,
    NVRAMVarFcodeBootPortName3 = 87,
    NVRAMVarFcodeBootPortName4 = 88,
    NVRAMVarFcodeBootPortName5 = 89,
    NVRAMVarFcodeBootPortName6 = 90,
    NVRAMVarFcodeBootPortName7 = 91,
    NVRAMVarSelectiveLogin = 92,
    NVRAMVarEnableAltBootDevice = 93,
    NVRAMVarEnableBootOrderList = 94,
    NVRAMVarEnableSelectiveLUN = 95,
    NVRAMVarForceWorldLogin = 96,
    NVRAMVarLinkDownTimeout = 97,
    NVRAMVarAlt1BootPortName0 = 98,
    NVRAMVarAlt1BootPortName1 = 99,
    NVRAMVarAlt1BootPortName2 = 100,
    NVRAMVarAlt1BootPortName3 = 101,
    NVRAMVarAlt1BootPortName4 = 102,
    NVRAMVarAlt1BootPortName5 = 103,
    NVRAMVarAlt1BootPortName6 = 104,
    NVRAMVarAlt1BootPortName7 = 105,
    NVRAMVarAlt1BootLUNNumber = 106,
    NVRAMVarAlt2BootPortName0 = 107,
    NVRAMVarAlt2BootPortName1 = 108,
    NVRAMVarAlt2BootPortName2 = 109,
    NVRAMVarAlt2BootPortName3 = 110,
    NVRAMVarAlt2BootPortName4 = 111,
    NVRAMVarAlt2BootPortName5 = 112,
    NVRAMVarAlt2BootPortName6 = 113,
    NVRAMVarAlt2BootPortName7 = 114,
    NVRAMVarAlt2BootLUNNumber = 115,
    NVRAMVarAlt3BootPortName0 = 116,
    NVRAMVarAlt3BootPortName1 = 117,
    NVRAMVarAlt3BootPortName2 = 118,
    NVRAMVarAlt3BootPortName3 = 119,
    NVRAMVarAlt3BootPortName4 = 120,
    NVRAMVarAlt3BootPortName5 = 121,
    NVRAMVarAlt3BootPortName6 = 122,
    NVRAMVarAlt3BootPortName7 = 123,
    NVRAMVarAlt3BootLUNNumber = 124,
    NVRAMVarSubSystemVendorID0 = 125,
    NVRAMVarSubSystemDeviceID0 = 126,
    NVRAMVarSubSystemVendorID1 = 127,
    NVRAMVarSubSystemDeviceID1 = 128,
    NVRAMVarCheckSum = 129,
    NVRAMVarEnableFabricAssigWWPN = 130,
    NVRAMVarEnableFabricAssgBootLun = 131,
    NVRAMVarEnd = 132
} EnumNVRAMVar;

#endif /* VXSDM_TYPES_H */
