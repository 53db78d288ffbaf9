/**
 * @file vxsdm_types.h
 * @brief libvxsdm: the scalar types and the records of the adapter
 * management API.
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

/** Marks the functions that the shared library exports. */
#ifndef VXSDM_API
#if defined(__GNUC__)
#define VXSDM_API __attribute__((visibility("default")))
#else
#define VXSDM_API
#endif
#endif

/* ---- scalar types ---- */

typedef uint8_t SD_UINT8;   ///< unsigned, 8 bits
typedef char SD_INT8;       ///< a character of a text
typedef uint16_t SD_UINT16; ///< unsigned, 16 bits
typedef uint32_t SD_UINT32; ///< unsigned, 32 bits; also the type of every status
typedef int32_t SD_INT32;   ///< signed, 32 bits
typedef uint64_t SD_UINT64; ///< unsigned, 64 bits

typedef SD_INT8* SD_PINT8;     ///< pointer to SD_INT8 (a text)
typedef SD_UINT8* SD_PUINT8;   ///< pointer to SD_UINT8 (a byte buffer)
typedef SD_UINT16* SD_PUINT16; ///< pointer to SD_UINT16
typedef SD_UINT32* SD_PUINT32; ///< pointer to SD_UINT32
typedef SD_INT32* SD_PINT32;   ///< pointer to SD_INT32
typedef SD_UINT64* SD_PUINT64; ///< pointer to SD_UINT64
typedef void* SD_PVOID;        ///< pointer to untyped data

/* ---- adapter properties ---- */

/** The adapter (node) of a port. Text fields are NUL-terminated. */
typedef struct DEVICENODEPROPERTY {
    SD_UINT8 WWN[8];              /**< node world-wide name */
    SD_INT8 Manufacturer[80];     /**< manufacturer text */
    SD_INT8 Model[32];            /**< at most 15 characters and the NUL */
    SD_UINT8 SerialNumber[32];    /**< at most 31 characters and the NUL */
    SD_INT8 DriverVersion[32];    /**< driver version text */
    SD_INT8 FirmwareVersion[32];  /**< running firmware */
    SD_INT8 OptionRomVersion[32]; /**< option ROM version text */
    SD_UINT16 NumberOfPorts;      /**< ports of the adapter */
    SD_UINT16 InterfaceType;      /**< the driver's interface type */
    SD_UINT32 DriverAttributes;   /**< driver attribute bits */
    SD_UINT32 FirmwareAttributes; /**< firmware attribute bits */
    SD_UINT32 BIValid;            /**< SD_BIVALID_* bits: which versions below hold */
    SD_UINT8 BIFwVersion[4];      /**< boot BIOS */
    SD_UINT8 BIEfiVersion[4];     /**< EFI boot code */
    SD_UINT8 BIFCodeVersion[4];   /**< FCode boot code */
    SD_UINT8 MpiFwVersion[4];     /**< running MPI firmware */
    SD_UINT8 PepFwVersion[4];     /**< running PEP firmware */
    SD_UINT8 BIMpiFwVersion[4];   /**< MPI firmware in flash */
    SD_UINT8 BIPepFwVersion[4];   /**< PEP firmware in flash */
    SD_UINT32 Reserved[24];       /**< never written by the library */
} DEVICENODEPROPERTY, *PDEVICENODEPROPERTY;
/** @typedef PDEVICENODEPROPERTY
 * Pointer to a DEVICENODEPROPERTY. */

#define SD_BIVALID_FW 0x1u    ///< BIFwVersion holds
#define SD_BIVALID_EFI 0x2u   ///< BIEfiVersion holds
#define SD_BIVALID_FCODE 0x4u ///< BIFCodeVersion holds
#define SD_BIVALID_MPI 0x20u  ///< BIMpiFwVersion holds; always together with SD_BIVALID_PEP
#define SD_BIVALID_PEP 0x40u  ///< BIPepFwVersion holds

/** The port itself. */
typedef struct DEVICEPORTPROPERTY {
    SD_UINT8 WWN[8];          /**< port world-wide name */
    SD_UINT8 PortID[3];       /**< domain, area, AL_PA */
    SD_UINT8 PortType;        /**< 1 or 2 as the driver reports */
    SD_UINT8 PortState;       /**< 1, 2 or 3 */
    SD_UINT8 ConnectionMode;  /**< 1 or 2 as the driver reports */
    SD_UINT16 DiscPortCount;  /**< discovered fabric ports */
    SD_UINT16 DiscTargetCount; /**< discovered targets */
    SD_INT8 DeviceName[32];   /**< not filled */
    SD_UINT32 PortSpeed;      /**< the driver's speed code */
    SD_UINT16 LinkState1;     /**< the driver's link state word 1 */
    SD_UINT16 LinkState2;     /**< the driver's link state word 2 */
    SD_UINT16 LinkState3;     /**< the driver's link state word 3 */
    SD_UINT16 LinkState6;     /**< the driver's link state word 6 */
    SD_UINT32 Reserved[21];   /**< never written by the library */
} DEVICEPORTPROPERTY, *PDEVICEPORTPROPERTY;
/** @typedef PDEVICEPORTPROPERTY
 * Pointer to a DEVICEPORTPROPERTY. */

/** A port, or a target, the port has discovered. */
typedef struct DISCPORTPROPERTY {
    SD_UINT8 NodeWWN[8];      /**< node name of the remote port */
    SD_UINT8 PortWWN[8];      /**< port name of the remote port */
    SD_UINT8 PortID[3];       /**< its port identifier: domain, area, AL_PA */
    SD_UINT16 BusNumber;      /**< operating-system bus number */
    SD_UINT16 TargetID;       /**< operating-system target number */
    SD_UINT8 PortType;        /**< the remote port's type */
    SD_UINT8 PortState;       /**< low byte of the driver's status word */
    SD_UINT8 Local;           /**< not filled */
    SD_UINT8 ReservedByte[1]; /**< never written by the library */
    SD_UINT16 LoopID;         /**< loop identifier */
    SD_UINT32 Reserved[31];   /**< never written by the library */
} DISCPORTPROPERTY, *PDISCPORTPROPERTY;
/** @typedef PDISCPORTPROPERTY
 * Pointer to a DISCPORTPROPERTY. */

typedef DISCPORTPROPERTY DISCTARGETPROPERTY;   ///< a discovered target: the layout of DISCPORTPROPERTY
typedef DISCPORTPROPERTY* PDISCTARGETPROPERTY; ///< pointer to a DISCTARGETPROPERTY

/** The PCI function behind the port. */
typedef struct CHIPPROPERTY {
    SD_UINT16 VendorID;            /**< PCI vendor ID */
    SD_UINT16 DeviceID;            /**< PCI device ID */
    SD_UINT16 SubVendorID;         /**< PCI subsystem vendor ID */
    SD_UINT16 SubSystemID;         /**< PCI subsystem ID */
    SD_UINT16 PciBusNumber;        /**< PCI bus */
    SD_UINT16 PciSlotNumber;       /**< the PCI device/function word */
    SD_UINT32 IoAddress;           /**< I/O base */
    SD_UINT32 IoAddressLength;     /**< I/O length */
    SD_UINT32 MemoryAddress;       /**< memory base */
    SD_UINT32 MemoryAddressLength; /**< memory length */
    SD_UINT16 ChipType;            /**< the driver's chip type */
    SD_UINT16 InterruptLevel;      /**< interrupt */
    SD_UINT16 OutMbx[8];           /**< outgoing mailbox registers */
    SD_UINT16 DomainNr;            /**< PCI domain */
    SD_UINT16 PcieLinkCap;         /**< PCI Express link capability (low 16 bits of the driver's value) */
    SD_UINT16 PcieLinkStat;        /**< PCI Express link status */
    SD_UINT8 PortNumber;           /**< physical port number on the adapter, from 1 */
    SD_UINT8 Reserved1;            /**< never written by the library */
    SD_UINT32 Reserved[6];         /**< never written by the library */
} CHIPPROPERTY, *PCHIPPROPERTY;
/** @typedef PCHIPPROPERTY
 * Pointer to a CHIPPROPERTY. */

/** The driver. Version is NUL-terminated. */
typedef struct DRIVERPROPERTY {
    SD_UINT8 Version[32];          /**< driver version text */
    SD_UINT16 NumberOfBus;         /**< buses */
    SD_UINT16 TargetsPerBus;       /**< targets per bus */
    SD_UINT16 LunsPerTarget;       /**< LUNs per target */
    SD_UINT32 MaximumTransferLen;  /**< largest transfer */
    SD_UINT32 MaximumDataSegments; /**< scatter/gather limit */
    SD_UINT16 DmaBitAddresses;     /**< DMA address width */
    SD_UINT16 IoMapType;           /**< I/O mapping kind */
    SD_UINT32 Attributes;          /**< driver attribute bits */
    SD_UINT32 InternalFlags[4];    /**< driver internal flags */
    SD_UINT32 Reserved[8];         /**< never written by the library */
} DRIVERPROPERTY, *PDRIVERPROPERTY;
/** @typedef PDRIVERPROPERTY
 * Pointer to a DRIVERPROPERTY. */

/** The firmware: only Version[0..2] are filled. */
typedef struct FIRMWAREPROPERTY {
    SD_UINT8 Version[32];   /**< bytes 0 to 2: the firmware's version */
    SD_UINT32 Attributes;   /**< not filled */
    SD_UINT16 Reserved[33]; /**< never written by the library */
} FIRMWAREPROPERTY, *PFIRMWAREPROPERTY;
/** @typedef PFIRMWAREPROPERTY
 * Pointer to a FIRMWAREPROPERTY. */

/** An operating-system SCSI address. */
typedef struct TARGETINFORMATION {
    SD_UINT16 BusNumber;    /**< bus number */
    SD_UINT16 TargetID;     /**< target number */
    SD_UINT16 LUN;          /**< LUN */
    SD_UINT32 Reserved[32]; /**< not used */
} TARGETINFORMATION, *PTARGETINFORMATION;
/** @typedef PTARGETINFORMATION
 * Pointer to a TARGETINFORMATION. */

/** A Fibre Channel destination: a LUN behind a remote port. The pass-through
 * functions take AddressType 2 only, with the remote port's world-wide port
 * name, most significant byte first, in AddressUsing. */
typedef struct DESTINATIONADDRESS {
    SD_UINT16 AddressType; /**< how AddressUsing is read: 2 by port WWPN */
    /** The remote port, in the form AddressType names. */
    union {
        SD_UINT8 NodeWWN[8]; /**< node world-wide name */
        SD_UINT8 PortWWN[8]; /**< port world-wide name (AddressType 2) */
        SD_UINT8 PortID[3];  /**< port identifier: domain, area, AL_PA */
        /** An operating-system SCSI address. */
        struct {
            SD_UINT16 BusNumber; /**< bus number */
            SD_UINT16 TargetID;  /**< target number */
        } ScsiTarget;
    } AddressUsing;
    SD_UINT16 LunNumber; /**< the LUN behind the remote port */
} DESTINATIONADDRESS, *PDESTINATIONADDRESS;
/** @typedef PDESTINATIONADDRESS
 * Pointer to a DESTINATIONADDRESS. */

/** One device of the port database. */
typedef struct DEVICEINFOENTRY {
    SD_UINT8 NodeWWN[8];             /**< node name */
    SD_UINT8 PortWWN[8];             /**< port name */
    SD_UINT8 PortID[3];              /**< port identifier: domain, area, AL_PA */
    SD_UINT8 ControlFlags;           /**< the driver's control flags */
    TARGETINFORMATION TargetAddress; /**< operating-system address */
    SD_UINT32 DeviceFlags;           /**< the driver's device flags */
    SD_UINT16 LoopID;                /**< loop identifier */
    SD_UINT16 BaseLunNumber;         /**< first LUN */
    SD_UINT32 Reserved[32];          /**< never written by the library */
} DEVICEINFOENTRY, *PDEVICEINFOENTRY;
/** @typedef PDEVICEINFOENTRY
 * Pointer to a DEVICEINFOENTRY. */

/** The port database: declared with one entry; a buffer for n entries is
 * sizeof(DEVICEINFO) + (n - 1) * sizeof(DEVICEINFOENTRY) bytes. */
typedef struct DEVICEINFO {
    SD_UINT32 TotalDevices;          /**< devices the driver knows */
    SD_UINT32 ReturnListEntryCount;  /**< entries filled */
    DEVICEINFOENTRY EntryList[1];    /**< the entries, as many as the buffer holds */
} DEVICEINFO, *PDEVICEINFO;
/** @typedef PDEVICEINFO
 * Pointer to a DEVICEINFO. */

/* ---- converged adapters ---- */

/** The converged port's identity (128 bytes). */
typedef struct CNAPORTPROPERTY {
    SD_UINT16 VLanId;               /**< FCoE VLAN */
    SD_UINT8 VNPortMACAddress[6];   /**< MAC address of the VN_Port */
    SD_UINT16 FabricParam;          /**< fabric parameters: 0x8000 when the driver's are not valid */
    SD_UINT16 Reserved0;            /**< never written by the library */
    SD_UINT32 Reserved[29];         /**< never written by the library */
} CNAPORTPROPERTY, *PCNAPORTPROPERTY;
/** @typedef PCNAPORTPROPERTY
 * Pointer to a CNAPORTPROPERTY. */

/** The version of one firmware part (24 bytes). */
typedef struct REGIONVERSION {
    SD_UINT16 Region;         /**< flash region code */
    SD_UINT16 SubRegion;      /**< sub-region */
    SD_UINT16 Location;       /**< 1 running in the adapter, 0 stored in flash */
    SD_UINT16 VersionLength;  /**< bytes of Version used */
    SD_UINT8 Version[8];      /**< the version */
    SD_UINT8 Reserved[8];     /**< not used */
} REGIONVERSION, *PREGIONVERSION;
/** @typedef PREGIONVERSION
 * Pointer to a REGIONVERSION. */

/** The component versions: Length entries follow from byte 8, so the list of
 * n entries takes 8 + 24 * n bytes. */
typedef struct ADAPTERREGIONVERSION {
    SD_UINT32 Length;  /**< number of entries */
    SD_UINT32 Reserved; /**< 0 */
    REGIONVERSION RegionVersion[1]; /**< the entries, Length of them */
} ADAPTERREGIONVERSION, *PADAPTERREGIONVERSION;
/** @typedef PADAPTERREGIONVERSION
 * Pointer to an ADAPTERREGIONVERSION. */

/* Operations of SDGetCnaPortData. */
#define SD_CNA_GET_PORT_ID 1u        ///< a CNAPORTPROPERTY, size exactly 128
#define SD_CNA_GET_DCBX_PARAMS 2u    ///< the driver's DCBX block, size at least 64
#define SD_CNA_GET_REGION_VERSIONS 3u ///< an ADAPTERREGIONVERSION

/* ---- Tarno controller ---- */

/** Where a management operation of the Tarno controller acts: three words,
 * read in the form that the operation names. */
typedef struct TARNO_ACCESS_PARAMETERS {
    /** The three words in the form of each operation. */
    union {
        /** Controller memory (TARNO_MGMT_READ_MEM, TARNO_MGMT_WRITE_MEM). */
        struct {
            SD_UINT32 StartingAddr; /**< controller memory address */
            SD_UINT32 Reserved2;    /**< not used */
            SD_UINT32 Reserved3;    /**< not used */
        } TarnoMemory;
        /** A configuration change (TARNO_MGMT_CHANGE_CONFIG). */
        struct {
            SD_UINT32 ConfigParamID;    /**< the parameter changed */
            SD_UINT32 ConfigParamData0; /**< its first data word */
            SD_UINT32 ConfigParamData1; /**< its second data word */
        } TarnoConfig;
        /** Information (TARNO_MGMT_GET_INFO). */
        struct {
            SD_UINT32 InfoDataType; /**< the kind of information asked */
            SD_UINT32 InfoContext;  /**< its context */
            SD_UINT32 Reserved;     /**< not used */
        } TarnoInfo;
    } ap;
} TARNO_ACCESS_PARAMETERS, *PTARNO_ACCESS_PARAMETERS;
/** @typedef PTARNO_ACCESS_PARAMETERS
 * Pointer to a TARNO_ACCESS_PARAMETERS. */

/** Operation 1: reset the controller. */
typedef struct TARNO_RESET {
    SD_UINT16 Flags;    /**< TARNO_RESET_DIAG_FW: start the diagnostic firmware */
    SD_UINT16 Reserved; /**< not used */
} TARNO_RESET, *PTARNO_RESET;
/** @typedef PTARNO_RESET
 * Pointer to a TARNO_RESET. */

/** Operation 2: the controller's firmware version. */
typedef struct TARNO_GET_FW_VERSION {
    SD_UINT32 FwVersion; /**< the version, written on success */
} TARNO_GET_FW_VERSION, *PTARNO_GET_FW_VERSION;
/** @typedef PTARNO_GET_FW_VERSION
 * Pointer to a TARNO_GET_FW_VERSION. */

/** Operation 3: load a firmware image into the controller. */
typedef struct TARNO_UPDATE_FW {
    SD_UINT16 Flags;          /**< TARNO_UPDATE_DIAG_FW: the image is diagnostic firmware */
    SD_UINT16 Reserved;       /**< not used */
    SD_UINT32 TotalByteCount; /**< image length */
    SD_PUINT8 pFwDataBytes;   /**< the image */
} TARNO_UPDATE_FW, *PTARNO_UPDATE_FW;
/** @typedef PTARNO_UPDATE_FW
 * Pointer to a TARNO_UPDATE_FW. */

/** Operation 4: controller memory, configuration and information. */
typedef struct TARNO_MANAGE_INFO {
    SD_UINT16 Operation;                /**< TARNO_MGMT_* */
    SD_UINT16 Reserved;                 /**< not used */
    TARNO_ACCESS_PARAMETERS Parameters; /**< where the operation acts */
    SD_UINT32 TotalByteCount;           /**< data length */
    SD_PUINT8 pDataBytes;               /**< the data */
} TARNO_MANAGE_INFO, *PTARNO_MANAGE_INFO;
/** @typedef PTARNO_MANAGE_INFO
 * Pointer to a TARNO_MANAGE_INFO. */

/** The request of a Tarno operation, in the form its operation names. */
typedef struct SD_TARNO_MGT {
    /** The request in the form of each operation. */
    union {
        TARNO_RESET TarnoReset;            /**< operation 1 */
        TARNO_GET_FW_VERSION TarnoGetFwVer; /**< operation 2 */
        TARNO_UPDATE_FW TarnoUpdateFw;     /**< operation 3 */
        TARNO_MANAGE_INFO TarnoManageInfo; /**< operation 4 */
    } sp;
} SD_TARNO_MGT, *PSD_TARNO_MGT;
/** @typedef PSD_TARNO_MGT
 * Pointer to an SD_TARNO_MGT. */

#define TARNO_RESET_DIAG_FW 1u  ///< TARNO_RESET Flags: start the controller's diagnostic firmware
#define TARNO_UPDATE_DIAG_FW 8u ///< TARNO_UPDATE_FW Flags: the image is diagnostic firmware

/* Operations of TARNO_MANAGE_INFO: 0 and 3 fill pDataBytes, 1 and 2 send it. */
#define TARNO_MGMT_READ_MEM 0u      ///< read controller memory into pDataBytes
#define TARNO_MGMT_WRITE_MEM 1u     ///< write pDataBytes to controller memory
#define TARNO_MGMT_CHANGE_CONFIG 2u ///< change the configuration, with pDataBytes
#define TARNO_MGMT_GET_INFO 3u      ///< information into pDataBytes

/* ---- option ROM (flash) layout ---- */

/** One region of the flash. */
typedef struct SDM_OPT_ROM_REGION {
    SD_UINT32 Region;  /**< region code, 0 to 255 */
    SD_UINT32 Size;    /**< bytes */
} SDM_OPT_ROM_REGION, *PSDM_OPT_ROM_REGION;
/** @typedef PSDM_OPT_ROM_REGION
 * Pointer to an SDM_OPT_ROM_REGION. */

/** The flash layout: declared with one region; a record for n regions is
 * sizeof(SDM_OPT_ROM_LAYOUT) + (n - 1) * sizeof(SDM_OPT_ROM_REGION) bytes. */
typedef struct SDM_OPT_ROM_LAYOUT {
    SD_UINT32 Size;         /**< flash size in bytes (0 where the flash describes its own layout) */
    SD_UINT32 NoOfRegions;  /**< in: entries the caller provides; out: regions of the adapter */
    SDM_OPT_ROM_REGION Region[1]; /**< the regions, NoOfRegions of them */
} SDM_OPT_ROM_LAYOUT, *PSDM_OPT_ROM_LAYOUT;
/** @typedef PSDM_OPT_ROM_LAYOUT
 * Pointer to an SDM_OPT_ROM_LAYOUT. */

/* ---- asynchronous events ---- */

/** One event of a port (16 bytes). EventCode: 1 LIP, 2 link up, 3 link down,
 * 4 LIP reset, 5 RSCN (fabric change), 6, 7 and 8 further driver events;
 * 0 an event the library does not know. Reserved is not written. */
typedef struct ASYNCEVENT {
    SD_UINT32 EventCode;   /**< the event, as above */
    SD_UINT32 Reserved[3]; /**< not written */
} ASYNCEVENT, *PASYNCEVENT;
/** @typedef PASYNCEVENT
 * Pointer to an ASYNCEVENT. */

/* ---- records named by entry points that are not supported ---- */

/** @typedef MANAGEMENTADDRESS
 * The record of SDSetMgmtAddress, which is not supported; not defined. */
/** @typedef PMANAGEMENTADDRESS
 * Pointer to a MANAGEMENTADDRESS. */
typedef struct MANAGEMENTADDRESS MANAGEMENTADDRESS, *PMANAGEMENTADDRESS;
/** @typedef DRIVERNVRAMPARAMS
 * The record of SDGetDriverParameters, which is not supported; not defined. */
/** @typedef PDRIVERNVRAMPARAMS
 * Pointer to a DRIVERNVRAMPARAMS. */
typedef struct DRIVERNVRAMPARAMS DRIVERNVRAMPARAMS, *PDRIVERNVRAMPARAMS;
/** @typedef FIRMWARENVRAMPARAMS
 * The record of SDGetFirmwareParameters, which is not supported; not
 * defined. */
/** @typedef PFIRMWARENVRAMPARAMS
 * Pointer to a FIRMWARENVRAMPARAMS. */
typedef struct FIRMWARENVRAMPARAMS FIRMWARENVRAMPARAMS, *PFIRMWARENVRAMPARAMS;
/** @typedef FABRICADDRESS
 * The record of SDSendElsRnid, which is not supported; not defined. */
/** @typedef PFABRICADDRESS
 * Pointer to a FABRICADDRESS. */
typedef struct FABRICADDRESS FABRICADDRESS, *PFABRICADDRESS;

/* ---- NVRAM variables ---- */

/** The settings of an NVRAM image by number (SDGetVariableValue,
 * SDSetVariableValue). NVRAMVarEnd is one past the last setting. */
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
