/*
 * libvxsdm: the failover interface.
 *
 * The ISDFo* functions carry failover requests to the failover driver of a
 * port and read or change the persistent target and LUN configuration. A
 * port is named twice: by its handle (SDOpenDevice) and by its instance, the
 * port's position (0 to 31) among the library's ports. Every function
 * returns a status (vxsdm_status.h) and writes the caller's record only on
 * success, unless it says otherwise.
 *
 * Plain C99; usable from C++.
 */
#ifndef VXSDM_FO_H
#define VXSDM_FO_H

#include "vxsdm_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- records ---- */

/* LUN bytes of FO_EXTERNAL_LUN_DATA_ENTRY.Data. */
#define FO_LUN_ENABLED 0x80u
#define FO_LUN_PREFERRED 0x40u

/* One target's LUNs. A driver of 2,048 LUNs per target exchanges only the
 * first 2,048 bytes of Data. */
typedef struct FO_EXTERNAL_LUN_DATA_ENTRY {
    SD_UINT8 NodeName[8];
    SD_UINT8 PortName[8];
    SD_UINT16 LunCount;
    SD_UINT8 TargetId;
    SD_UINT8 Dev_No;
    SD_UINT32 Reserved3;
    SD_UINT32 Reserved4;
    SD_UINT32 Reserved5;
    SD_UINT8 Data[4096]; /* one byte per LUN: FO_LUN_* bits */
} FO_EXTERNAL_LUN_DATA_ENTRY, *PFO_EXTERNAL_LUN_DATA_ENTRY;

/* Always room for 256 entries. */
typedef struct FO_LUN_DATA_LIST {
    SD_UINT16 Version;
    SD_UINT16 EntryCount;
    SD_UINT32 Reserved1;
    SD_UINT32 Reserved2;
    SD_UINT32 Reserved3;
    SD_UINT32 Reserved4;
    SD_UINT32 Reserved5;
    SD_UINT32 Reserved6;
    SD_UINT32 Reserved7;
    FO_EXTERNAL_LUN_DATA_ENTRY DataEntry[256];
} FO_LUN_DATA_LIST, *PFO_LUN_DATA_LIST;

/* Control bits of FO_TARGET_DATA_ENTRY. */
#define FO_TARGET_BY_PORT_NAME 0x10u
#define FO_TARGET_NO_PREFERRED_LUNS 0x40u

typedef struct FO_TARGET_DATA_ENTRY {
    SD_UINT8 Reserved1[2];
    SD_UINT8 PathNumber;
    SD_UINT8 TargetNumber;
    SD_UINT8 Reserved2[4];
    SD_UINT8 Control;
    SD_UINT8 Reserved3[3];
    SD_UINT8 PortId[3];
    SD_UINT8 Reserved4;
    SD_UINT8 NodeName[8];
    SD_UINT8 PortName[8];
} FO_TARGET_DATA_ENTRY, *PFO_TARGET_DATA_ENTRY;

typedef struct FO_TARGET_DATA_LIST {
    SD_UINT16 Version;
    SD_UINT16 EntryCount;
    SD_UINT8 Reserved[28];
    FO_TARGET_DATA_ENTRY DataEntry[256];
} FO_TARGET_DATA_LIST, *PFO_TARGET_DATA_LIST;

/* A target's load-balancing type: LbType 0 is none (a set removes it). */
typedef struct FO_LB_POLICY_ENTRY {
    SD_UINT8 TargetName[8]; /* the target's port name */
    SD_UINT32 LbType;
    SD_UINT8 Reserved[12];
} FO_LB_POLICY_ENTRY, *PFO_LB_POLICY_ENTRY;

/* Count: entries in use, at most 256. */
typedef struct FO_LB_POLICY_LIST {
    SD_UINT16 Instance;
    SD_UINT16 Count;
    SD_UINT8 Reserved[28];
    FO_LB_POLICY_ENTRY Entry[256];
} FO_LB_POLICY_LIST, *PFO_LB_POLICY_LIST;

/* AddressType of FO_PATH_REQUEST. */
#define FO_ADDRESS_NODE_NAME 1u
#define FO_ADDRESS_PORT_NAME 2u
#define FO_ADDRESS_PORT_ID 3u  /* the first 3 bytes of Address */
#define FO_ADDRESS_PAIR 4u     /* two SD_UINT16 values in Address */

typedef struct FO_PATH_REQUEST {
    SD_UINT8 HbaInstance; /* the port's instance */
    SD_UINT8 Reserved;
    SD_UINT16 AddressType;
    SD_UINT8 Address[8];
    SD_UINT16 Lun;
    SD_UINT8 NewPath[2]; /* ISDFoSetCurrentPath */
} FO_PATH_REQUEST, *PFO_PATH_REQUEST;

/* One path as the driver describes it; the other bytes are the driver's. */
typedef struct FO_PATH_ENTRY {
    SD_UINT8 Reserved1[4];
    SD_UINT8 HbaInstance;
    SD_UINT8 PortName[8]; /* the target's port name */
    SD_UINT8 Reserved2[15];
} FO_PATH_ENTRY;

/* The caller zeroes it before the call; bytes not named stay as they were. */
typedef struct FO_PATHS_INFO {
    SD_UINT8 HbaInstance;
    SD_UINT8 Reserved1[35];
    SD_UINT8 PathInfoA;
    SD_UINT8 Reserved2;
    SD_UINT8 PathInfoB;
    SD_UINT8 Reserved3;
    SD_UINT8 LunPath[4096]; /* the path of each LUN; 255: none */
    FO_PATH_ENTRY PathEntry[256];
} FO_PATHS_INFO, *PFO_PATHS_INFO;

/* The failover driver's parameters, carried as the driver lays them out;
 * the Reserved bytes are neither read nor sent. */
typedef struct FO_SYS_PARAMS {
    SD_UINT32 Parameter;
    SD_UINT8 ByteParams1[3];
    SD_UINT8 Reserved1;
    SD_UINT32 StatisticsControl; /* 2: collect statistics, 0: stop */
    SD_UINT8 ByteParams2[4];
    SD_UINT8 Reserved2[16];
    SD_UINT8 ByteParams3[3];
    SD_UINT8 Reserved3;
    SD_UINT16 WordParams[2];
    SD_UINT8 ByteParams4[2];
    SD_UINT8 Reserved4[2];
    SD_UINT8 Params16[16];
    SD_UINT8 Reserved5[4];
} FO_SYS_PARAMS, *PFO_SYS_PARAMS;

typedef struct FO_DRIVER_VERSION {
    SD_UINT8 Version[3];
    SD_UINT8 Reserved;
    SD_INT8 VersionText[32];
} FO_DRIVER_VERSION, *PFO_DRIVER_VERSION;

/* Capability words of ISDFoGetFoCapability. */
#define FO_CAPABILITY_NONE 0x30000002u
#define FO_CAPABILITY_FAILOVER 0x30000004u

/* ---- functions ----
 *
 * Handle: the port's handle. Instance: a port's instance; 32 and up are
 * refused with SDERR_INVALID_PARAMETER. A request to the failover driver
 * with a handle that names no open port gives SDERR_DEVICE_NOT_FOUND; ports
 * served through sysfs have no failover requests (SDERR_NOT_SUPPORTED). A
 * driver's failure comes back as its status; its SCSI status (driver status
 * 15) as the driver's detail status. Wwn: 16 bytes, the adapter port's node
 * name and port name.
 *
 * Persistent nonzero: the configuration stores instead of the driver. The
 * LUN and target functions then use the handle only to choose the store:
 * the new-format store when the handle's port runs a driver that uses it,
 * else the old-format store of the modules options file. A handle that
 * names no open port is no error there: it chooses the old-format store.
 * Either store is that of the driver of the Instance's port, and its status
 * comes back (SDERR_INVALID_PARAMETER when that port has no driver module).
 * A read from the old-format store clears the caller's list first, also
 * when the read then fails. With ports served through sysfs the persistent
 * reads give SDERR_NOT_SUPPORTED; the persistent sets reach the stores. */

VXSDM_API SD_UINT32 ISDFoGetSysParams(SD_UINT32 Handle, PFO_SYS_PARAMS pSysParams, SD_UINT32 Instance);
VXSDM_API SD_UINT32 ISDFoSetSysParams(SD_UINT32 Handle, const FO_SYS_PARAMS* pSysParams, SD_UINT32 Instance);

VXSDM_API SD_UINT32 ISDFoGetPaths(SD_UINT32 Handle, const FO_PATH_REQUEST* pRequest, PFO_PATHS_INFO pPaths,
                                     SD_UINT32 Reserved);
VXSDM_API SD_UINT32 ISDFoSetCurrentPath(SD_UINT32 Handle, const FO_PATH_REQUEST* pRequest, SD_UINT32 Reserved);

/* The statistics area is not written. */
VXSDM_API SD_UINT32 ISDFoGetStatistics(SD_UINT32 Handle, SD_UINT32 Instance, SD_PVOID pStatistics);
VXSDM_API SD_UINT32 ISDFoResetStatistics(SD_UINT32 Handle, SD_UINT32 Instance);

VXSDM_API SD_UINT32 ISDFoGetLunData(SD_UINT32 Handle, SD_UINT16 Instance, const SD_UINT8* pWwn,
                                       PFO_LUN_DATA_LIST pList, SD_UINT32 Persistent);
VXSDM_API SD_UINT32 ISDFoSetLunData(SD_UINT32 Handle, SD_UINT16 Instance, const SD_UINT8* pWwn,
                                       const FO_LUN_DATA_LIST* pList, SD_UINT32 Persistent);
VXSDM_API SD_UINT32 ISDFoGetTargetData(SD_UINT32 Handle, SD_UINT16 Instance, const SD_UINT8* pWwn,
                                          PFO_TARGET_DATA_LIST pList, SD_UINT32 Persistent);
VXSDM_API SD_UINT32 ISDFoSetTargetData(SD_UINT32 Handle, SD_UINT16 Instance, const SD_UINT8* pWwn,
                                          const FO_TARGET_DATA_LIST* pList, SD_UINT32 Persistent);

/* Load-balancing types of targets: live in the driver, or (Persistent
 * nonzero, drivers of the new store only) in the port's option string. A
 * Count above 256 is refused with SDERR_INVALID_PARAMETER. The live read
 * copies the driver's reply back whatever its status. Persistent with a
 * handle whose port's driver keeps the old store, or that names no open
 * port: SDERR_NOT_SUPPORTED, after the line "Get LB not supported" (or
 * "Set LB not supported") on standard output. */
VXSDM_API SD_UINT32 ISDFoGetLBPolicy(SD_UINT32 Handle, SD_UINT16 Instance, PFO_LB_POLICY_LIST pList,
                                        SD_UINT32 Persistent);
VXSDM_API SD_UINT32 ISDFoSetLBPolicy(SD_UINT32 Handle, SD_UINT16 Instance, const FO_LB_POLICY_LIST* pList,
                                        SD_UINT32 Persistent);

/* Copies the text "3.0.1 build7" into pBuffer, cut to Length bytes and
 * always terminated. Returns the version 0x3000107, never a status. */
VXSDM_API SD_UINT32 ISDFoGetApiVersion(SD_PINT8 pBuffer, SD_UINT32 Length);

VXSDM_API SD_UINT32 ISDFoGetFoDriverVersion(SD_UINT32 Handle, PFO_DRIVER_VERSION pVersion);

/* FO_CAPABILITY_FAILOVER when the port's driver provides failover, else
 * FO_CAPABILITY_NONE (also for a handle that names no open port, which
 * gives SDERR_INVALID_HANDLE). */
VXSDM_API SD_UINT32 ISDFoGetFoCapability(SD_UINT32 Handle, SD_PUINT32 pCapability);

/* The persistent stores of every supported driver module. The lists fill
 * 256 bytes: up to 32 adapter port names (or target node names) of 8 bytes,
 * packed from the start, the rest zero; more than 32 target names give
 * SDERR_BUFFER_TOO_SMALL with the first 32. A delete removes an adapter (by
 * its port name) or a target (by its node name) from every store that holds
 * it, and keeps everything else, load-balancing types included; a name no
 * store holds gives SDERR_INVALID_PARAMETER. */
VXSDM_API SD_UINT32 ISDFoGetPersistentDeviceEntryList(SD_PUINT8 pBuffer);
VXSDM_API SD_UINT32 ISDFoGetPersistentTargetEntryList(SD_PUINT8 pBuffer);
VXSDM_API SD_UINT32 ISDFoDeletePersistentDeviceEntry(const SD_UINT8* pPortName);
VXSDM_API SD_UINT32 ISDFoDeletePersistentTargetEntry(const SD_UINT8* pNodeName);

#ifdef __cplusplus
}
#endif

#endif /* VXSDM_FO_H */
