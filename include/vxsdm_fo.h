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

/**
 * @file vxsdm_fo.h
 * @brief The failover interface: failover requests to the driver of a port,
 * and the persistent target and LUN configuration.
 *
 * @par The statuses of a failover request
 * A function that sends a failover request returns SDERR_DEVICE_NOT_FOUND
 * when Handle names no open port; SDERR_NOT_SUPPORTED on ports the driver
 * serves through sysfs, which have no failover requests;
 * SDERR_INVALID_PARAMETER when the request cannot be built; the errno of a
 * failed system call (SDERR_UNKNOWN when it left none); otherwise the
 * driver's status as a status, and for driver status 15 (a SCSI status) the
 * driver's detail status itself. A reply that the driver gives as success
 * (status 0, or status 15 with the GOOD detail status 0) but without every
 * byte that the function reads of it is SDERR_DATA_UNDERRUN, and nothing of
 * it is written to the caller's record. The function reads every reply
 * whole (the parameters, the paths, the targets, the statistics, the
 * version) but the two lists (the LUN list of ISDFoGetLunData, the
 * load-balancing list of ISDFoGetLBPolicy): a list is read as far as its
 * head and the entries that its count counts, that count held to the 256
 * entries the list holds. A list without its whole head, or with a counted
 * entry that came in part, is SDERR_DATA_UNDERRUN; a head with a count of 0
 * is an empty list. The function comments call these "the failover
 * request's statuses".
 *
 * @par The store a port's driver keeps
 * The persistent functions ask the port's driver which configuration store
 * it keeps (once it has said "the new one", it is not asked again). A driver
 * that does not know the question keeps the old store. A driver that is busy
 * or was interrupted cannot say: its request fails with EBUSY, EAGAIN,
 * EINTR, EIO or ENOMEM, which the function returns, or the driver answers
 * busy, which gives SDERR_DEVICE_BUSY. A port that is not open is opened to
 * be asked: when no port of the module could be opened, but for nodes that
 * are gone (ENOENT, ENODEV, ENXIO), the function returns the open's errno
 * (EBUSY, EACCES, EMFILE and the like). In these cases no store is read or
 * written, and nothing of the caller's is written. The function comments call
 * these "the store question's statuses".
 */

#ifdef __cplusplus
extern "C" {
#endif

/* ---- records ---- */

/* LUN bytes of FO_EXTERNAL_LUN_DATA_ENTRY.Data. */
#define FO_LUN_ENABLED 0x80u   ///< the LUN is enabled
#define FO_LUN_PREFERRED 0x40u ///< the LUN's path is the preferred one

/** One target's LUNs. A driver of 2,048 LUNs per target exchanges only the
 * first 2,048 bytes of Data. */
typedef struct FO_EXTERNAL_LUN_DATA_ENTRY {
    SD_UINT8 NodeName[8]; /**< the target's node name */
    SD_UINT8 PortName[8]; /**< the target's port name */
    SD_UINT16 LunCount;   /**< not read or written by the library */
    SD_UINT8 TargetId;    /**< the path number, as the driver and the stores give it */
    SD_UINT8 Dev_No;      /**< the target number, as the driver and the stores give it */
    SD_UINT32 Reserved3;  /**< not used */
    SD_UINT32 Reserved4;  /**< not used */
    SD_UINT32 Reserved5;  /**< not used */
    SD_UINT8 Data[4096]; /**< one byte per LUN: FO_LUN_* bits */
} FO_EXTERNAL_LUN_DATA_ENTRY, *PFO_EXTERNAL_LUN_DATA_ENTRY;
/** @typedef PFO_EXTERNAL_LUN_DATA_ENTRY
 * Pointer to an FO_EXTERNAL_LUN_DATA_ENTRY. */

/** The LUNs of a port's targets. Always room for 256 entries. */
typedef struct FO_LUN_DATA_LIST {
    SD_UINT16 Version;    /**< the list's version, as the driver gives it */
    SD_UINT16 EntryCount; /**< entries in use, at most 256 */
    SD_UINT32 Reserved1;  /**< not used */
    SD_UINT32 Reserved2;  /**< not used */
    SD_UINT32 Reserved3;  /**< not used */
    SD_UINT32 Reserved4;  /**< not used */
    SD_UINT32 Reserved5;  /**< not used */
    SD_UINT32 Reserved6;  /**< not used */
    SD_UINT32 Reserved7;  /**< not used */
    FO_EXTERNAL_LUN_DATA_ENTRY DataEntry[256]; /**< the entries, EntryCount of them in use */
} FO_LUN_DATA_LIST, *PFO_LUN_DATA_LIST;
/** @typedef PFO_LUN_DATA_LIST
 * Pointer to an FO_LUN_DATA_LIST. */

/* Control bits of FO_TARGET_DATA_ENTRY. */
#define FO_TARGET_BY_PORT_NAME 0x10u      ///< the target is known by its port name rather than its node name
#define FO_TARGET_NO_PREFERRED_LUNS 0x40u ///< no preferred-LUN settings are stored for the target

/** One target of a port. */
typedef struct FO_TARGET_DATA_ENTRY {
    SD_UINT8 Reserved1[2]; /**< not used */
    SD_UINT8 PathNumber;   /**< the path number */
    SD_UINT8 TargetNumber; /**< the target number */
    SD_UINT8 Reserved2[4]; /**< not used */
    SD_UINT8 Control;      /**< FO_TARGET_* bits */
    SD_UINT8 Reserved3[3]; /**< not used */
    SD_UINT8 PortId[3];    /**< the target's port identifier: domain, area, AL_PA */
    SD_UINT8 Reserved4;    /**< not used */
    SD_UINT8 NodeName[8];  /**< the target's node name */
    SD_UINT8 PortName[8];  /**< the target's port name */
} FO_TARGET_DATA_ENTRY, *PFO_TARGET_DATA_ENTRY;
/** @typedef PFO_TARGET_DATA_ENTRY
 * Pointer to an FO_TARGET_DATA_ENTRY. */

/** The targets of a port. Always room for 256 entries. */
typedef struct FO_TARGET_DATA_LIST {
    SD_UINT16 Version;    /**< the list's version */
    SD_UINT16 EntryCount; /**< entries in use, at most 256 */
    SD_UINT8 Reserved[28]; /**< not used */
    FO_TARGET_DATA_ENTRY DataEntry[256]; /**< the entries */
} FO_TARGET_DATA_LIST, *PFO_TARGET_DATA_LIST;
/** @typedef PFO_TARGET_DATA_LIST
 * Pointer to an FO_TARGET_DATA_LIST. */

/** A target's load-balancing type: LbType 0 is none (a set removes it). */
typedef struct FO_LB_POLICY_ENTRY {
    SD_UINT8 TargetName[8]; /**< the target's port name */
    SD_UINT32 LbType;       /**< the load-balancing type; 0 none */
    SD_UINT8 Reserved[12];  /**< not used */
} FO_LB_POLICY_ENTRY, *PFO_LB_POLICY_ENTRY;
/** @typedef PFO_LB_POLICY_ENTRY
 * Pointer to an FO_LB_POLICY_ENTRY. */

/** Load-balancing types of a port's targets. Count: entries in use, at most
 * 256. */
typedef struct FO_LB_POLICY_LIST {
    SD_UINT16 Instance;  /**< the driver instance of the port, as the live requests carry it */
    SD_UINT16 Count;     /**< entries in use, at most 256 */
    SD_UINT8 Reserved[28]; /**< not used */
    FO_LB_POLICY_ENTRY Entry[256]; /**< the entries, Count of them in use */
} FO_LB_POLICY_LIST, *PFO_LB_POLICY_LIST;
/** @typedef PFO_LB_POLICY_LIST
 * Pointer to an FO_LB_POLICY_LIST. */

/* AddressType of FO_PATH_REQUEST. */
#define FO_ADDRESS_NODE_NAME 1u ///< Address holds a node name
#define FO_ADDRESS_PORT_NAME 2u ///< Address holds a port name
#define FO_ADDRESS_PORT_ID 3u  ///< the first 3 bytes of Address
#define FO_ADDRESS_PAIR 4u     ///< two SD_UINT16 values in Address

/** A path query of a LUN: the port, the target's address and the LUN. */
typedef struct FO_PATH_REQUEST {
    SD_UINT8 HbaInstance; /**< the port's instance */
    SD_UINT8 Reserved;    /**< not used */
    SD_UINT16 AddressType; /**< FO_ADDRESS_*: how Address is read */
    SD_UINT8 Address[8];  /**< the target's address */
    SD_UINT16 Lun;        /**< the LUN */
    SD_UINT8 NewPath[2]; /**< ISDFoSetCurrentPath */
} FO_PATH_REQUEST, *PFO_PATH_REQUEST;
/** @typedef PFO_PATH_REQUEST
 * Pointer to an FO_PATH_REQUEST. */

/** One path as the driver describes it; the other bytes are the driver's. */
typedef struct FO_PATH_ENTRY {
    SD_UINT8 Reserved1[4]; /**< the driver's */
    SD_UINT8 HbaInstance;  /**< the adapter port's instance */
    SD_UINT8 PortName[8]; /**< the target's port name */
    SD_UINT8 Reserved2[15]; /**< the driver's */
} FO_PATH_ENTRY;

/** The paths of a LUN. The caller zeroes it before the call; bytes not named
 * stay as they were. */
typedef struct FO_PATHS_INFO {
    SD_UINT8 HbaInstance;    /**< the port's instance, from the request */
    SD_UINT8 Reserved1[35];  /**< not written */
    SD_UINT8 PathInfoA;      /**< the driver's first path byte */
    SD_UINT8 Reserved2;      /**< not written */
    SD_UINT8 PathInfoB;      /**< the driver's second path byte */
    SD_UINT8 Reserved3;      /**< not written */
    SD_UINT8 LunPath[4096]; /**< the path of each LUN; 255: none */
    FO_PATH_ENTRY PathEntry[256]; /**< the paths */
} FO_PATHS_INFO, *PFO_PATHS_INFO;
/** @typedef PFO_PATHS_INFO
 * Pointer to an FO_PATHS_INFO. */

/** The failover driver's parameters, carried as the driver lays them out;
 * the Reserved bytes are neither read nor sent. */
typedef struct FO_SYS_PARAMS {
    SD_UINT32 Parameter;         /**< the driver's parameter word */
    SD_UINT8 ByteParams1[3];     /**< the driver's byte parameters */
    SD_UINT8 Reserved1;          /**< neither read nor sent */
    SD_UINT32 StatisticsControl; /**< 2: collect statistics, 0: stop */
    SD_UINT8 ByteParams2[4];     /**< the driver's byte parameters */
    SD_UINT8 Reserved2[16];      /**< neither read nor sent */
    SD_UINT8 ByteParams3[3];     /**< the driver's byte parameters */
    SD_UINT8 Reserved3;          /**< neither read nor sent */
    SD_UINT16 WordParams[2];     /**< the driver's 16-bit parameters */
    SD_UINT8 ByteParams4[2];     /**< the driver's byte parameters */
    SD_UINT8 Reserved4[2];       /**< neither read nor sent */
    SD_UINT8 Params16[16];       /**< the driver's 16 parameter bytes */
    SD_UINT8 Reserved5[4];       /**< neither read nor sent */
} FO_SYS_PARAMS, *PFO_SYS_PARAMS;
/** @typedef PFO_SYS_PARAMS
 * Pointer to an FO_SYS_PARAMS. */

/** The failover driver's version. */
typedef struct FO_DRIVER_VERSION {
    SD_UINT8 Version[3];    /**< the version's numbers */
    SD_UINT8 Reserved;      /**< not written */
    SD_INT8 VersionText[32]; /**< the version as a text, as the driver gives it */
} FO_DRIVER_VERSION, *PFO_DRIVER_VERSION;
/** @typedef PFO_DRIVER_VERSION
 * Pointer to an FO_DRIVER_VERSION. */

/* Capability words of ISDFoGetFoCapability. */
#define FO_CAPABILITY_NONE 0x30000002u     ///< the port's driver provides no failover
#define FO_CAPABILITY_FAILOVER 0x30000004u ///< the port's driver provides failover

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

/**
 * @brief The failover driver's parameters.
 *
 * Instance is not used.
 *
 * @par Writes
 * Every field of *pSysParams but the Reserved bytes, only when the status is
 * SDERR_NO_ERROR; nothing otherwise.
 * @return SDERR_NO_ERROR; SDERR_INVALID_PARAMETER (pSysParams is null); the
 * failover request's statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 ISDFoGetSysParams(SD_UINT32 Handle, PFO_SYS_PARAMS pSysParams, SD_UINT32 Instance);

/**
 * @brief Sets the failover driver's parameters.
 *
 * Every field but the Reserved bytes is sent. Instance is not used.
 *
 * @par Writes
 * Nothing.
 * @return SDERR_NO_ERROR; SDERR_INVALID_PARAMETER (pSysParams is null); the
 * failover request's statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 ISDFoSetSysParams(SD_UINT32 Handle, const FO_SYS_PARAMS* pSysParams, SD_UINT32 Instance);

/**
 * @brief The paths of a LUN, as the driver describes them.
 *
 * The request names the port by its instance (HbaInstance), the target by
 * its address and the LUN; an AddressType the driver does not know is sent
 * without an address. Reserved is not used.
 *
 * @par Writes
 * HbaInstance, PathInfoA, PathInfoB, LunPath (its first 4,096 or 256 bytes,
 * as the driver handles LUNs) and PathEntry of *pPaths, only when the status
 * is SDERR_NO_ERROR; nothing otherwise, and no other byte.
 * @return SDERR_NO_ERROR; SDERR_INVALID_PARAMETER (pRequest or pPaths is
 * null); SDERR_INVALID_PARAMETER (HbaInstance 32 and up);
 * SDERR_OUT_OF_MEMORY; the failover request's statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 ISDFoGetPaths(SD_UINT32 Handle, const FO_PATH_REQUEST* pRequest, PFO_PATHS_INFO pPaths,
                                     SD_UINT32 Reserved);

/**
 * @brief Makes NewPath the current path of a LUN.
 *
 * The request names the port, the target and the LUN as for ISDFoGetPaths.
 * Reserved is not used.
 *
 * @par Writes
 * Nothing.
 * @return SDERR_NO_ERROR; SDERR_INVALID_PARAMETER (pRequest is null);
 * SDERR_INVALID_PARAMETER (HbaInstance 32 and up); the failover request's
 * statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 ISDFoSetCurrentPath(SD_UINT32 Handle, const FO_PATH_REQUEST* pRequest, SD_UINT32 Reserved);

/**
 * @brief Asks the failover driver for the statistics of the port Instance.
 *
 * The statistics area is not written.
 *
 * @par Writes
 * Nothing.
 * @return SDERR_NO_ERROR; SDERR_INVALID_PARAMETER (Instance 32 and up); the
 * failover request's statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 ISDFoGetStatistics(SD_UINT32 Handle, SD_UINT32 Instance, SD_PVOID pStatistics);

/**
 * @brief Resets the failover driver's statistics of the port Instance.
 *
 * @par Writes
 * Nothing.
 * @return SDERR_NO_ERROR; SDERR_INVALID_PARAMETER (Instance 32 and up); the
 * failover request's statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 ISDFoResetStatistics(SD_UINT32 Handle, SD_UINT32 Instance);

/**
 * @brief The LUNs of the targets of the port Instance: live from the driver,
 * or (Persistent nonzero) from the configuration store.
 *
 * The persistent read takes the adapter port named by the port name of pWwn
 * from the new store when the driver of Handle's port uses it, else from the
 * old one.
 *
 * @par Writes
 * Live: Version, EntryCount (the driver's count, at most 256) and, of the
 * first EntryCount entries, NodeName, PortName, Dev_No, TargetId and the LUN
 * bytes the driver handles, only when the status is SDERR_NO_ERROR; nothing
 * otherwise. A reply of the head and the entries it counts is whole; the
 * entries past EntryCount stay as they were.
 * Persistent, new store: the whole list, when the status is SDERR_NO_ERROR
 * and the store holds the adapter port; nothing otherwise. Persistent, old
 * store: the list zeroed first (also when the read then fails), then the
 * adapter port's list when the store holds it.
 * @return SDERR_NO_ERROR; SDERR_NOT_SUPPORTED (ports served through sysfs);
 * SDERR_INVALID_PARAMETER (pList is null, or Instance 32 and up); live:
 * SDERR_OUT_OF_MEMORY, the failover request's statuses; persistent:
 * SDERR_INVALID_PARAMETER (pWwn is null, or the port's driver has no module
 * name), SDERR_OUT_OF_MEMORY, SDERR_CONFIG_FILE (the store cannot be read),
 * the store question's statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 ISDFoGetLunData(SD_UINT32 Handle, SD_UINT16 Instance, const SD_UINT8* pWwn,
                                       PFO_LUN_DATA_LIST pList, SD_UINT32 Persistent);

/**
 * @brief Sets the LUNs of the targets of the port Instance: live in the
 * driver, or (Persistent nonzero) in the configuration store.
 *
 * Live, the first EntryCount entries (at most 256) are sent with their
 * names and LUN bytes. The persistent write merges the list into the
 * adapter port named by the port name of pWwn and saves the store, the new
 * one when the driver of Handle's port uses it, else the old one.
 *
 * @par Writes
 * Nothing of the caller's; persistent: the store's files.
 * @return SDERR_NO_ERROR; SDERR_INVALID_PARAMETER (pList is null, or
 * Instance 32 and up); live: SDERR_OUT_OF_MEMORY, the failover request's
 * statuses; persistent: SDERR_INVALID_PARAMETER (pWwn is null, or the
 * port's driver has no module name), SDERR_OUT_OF_MEMORY, SDERR_CONFIG_FILE
 * (the store cannot be read, parsed whole or saved), the store question's
 * statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 ISDFoSetLunData(SD_UINT32 Handle, SD_UINT16 Instance, const SD_UINT8* pWwn,
                                       const FO_LUN_DATA_LIST* pList, SD_UINT32 Persistent);

/**
 * @brief The targets of the port Instance: live from the driver, or
 * (Persistent nonzero) from the configuration store.
 *
 * The persistent read chooses its store as ISDFoGetLunData does.
 *
 * @par Writes
 * Live: PathNumber, TargetNumber, Control, PortId, NodeName and PortName of
 * all 256 entries, and EntryCount (the entries with a port name), only when
 * the status is SDERR_NO_ERROR; nothing otherwise. Persistent: as
 * ISDFoGetLunData.
 * @return SDERR_NO_ERROR; SDERR_NOT_SUPPORTED (ports served through sysfs);
 * SDERR_INVALID_PARAMETER (pList is null, or Instance 32 and up); live:
 * SDERR_OUT_OF_MEMORY, the failover request's statuses; persistent: as
 * ISDFoGetLunData.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 ISDFoGetTargetData(SD_UINT32 Handle, SD_UINT16 Instance, const SD_UINT8* pWwn,
                                          PFO_TARGET_DATA_LIST pList, SD_UINT32 Persistent);

/**
 * @brief Sets the targets of the port Instance: live in the driver, or
 * (Persistent nonzero) in the configuration store.
 *
 * Live, Control, PortId, NodeName and PortName of all 256 entries are sent.
 * The persistent write chooses its store as ISDFoSetLunData does.
 *
 * @par Writes
 * Nothing of the caller's; persistent: the store's files.
 * @return SDERR_NO_ERROR; SDERR_INVALID_PARAMETER (pList is null, or
 * Instance 32 and up); live: SDERR_OUT_OF_MEMORY, the failover request's
 * statuses; persistent: as ISDFoSetLunData.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 ISDFoSetTargetData(SD_UINT32 Handle, SD_UINT16 Instance, const SD_UINT8* pWwn,
                                          const FO_TARGET_DATA_LIST* pList, SD_UINT32 Persistent);

/* Load-balancing types of targets: live in the driver, or (Persistent
 * nonzero, drivers of the new store only) in the port's option string. A
 * Count above 256 is refused with SDERR_INVALID_PARAMETER. The live read
 * copies the driver's reply back whatever its status. Persistent with a
 * handle whose port's driver keeps the old store, or that names no open
 * port: SDERR_NOT_SUPPORTED, after the line "Get LB not supported" (or
 * "Set LB not supported") on standard output. */

/**
 * @brief The load-balancing types of the port's targets: live from the
 * driver, or (Persistent nonzero) from the port's option string.
 *
 * The persistent read needs a driver of the new store, and reads the store
 * as every persistent read does: the driver's configuration module, else
 * its option file. Instance is not used: the driver is sent the port's own
 * driver instance, and the store is chosen by Handle.
 *
 * @par Writes
 * Live: *pList, the driver's reply, whatever the request's status once the
 * request was sent (Instance then holds the driver's instance of the port),
 * with a Count from the driver held to 256; the bytes the driver did not
 * deliver stay as the caller had them (a Count of the caller's own is not
 * held). A reply of the head and the entries it counts succeeds; one without
 * its whole head or with a counted entry in part gives SDERR_DATA_UNDERRUN.
 * Nothing when a check before the request refuses (an unknown handle, a
 * port served through sysfs, a request that cannot be built). Persistent:
 * TargetName and LbType of each token read and Count, when at least one was
 * read (a store without tokens leaves Count as it was); a failed read may
 * leave the entries before it written.
 * @return SDERR_NO_ERROR; SDERR_INVALID_PARAMETER (pList is null);
 * persistent: SDERR_NOT_SUPPORTED (Handle names no open port, or its driver
 * keeps the old store), SDERR_INVALID_PARAMETER (the port's driver has no
 * module name), SDERR_OUT_OF_MEMORY, SDERR_CONFIG_FILE (there is no store,
 * it cannot be read, or it holds a malformed token or more than 256), the
 * store question's statuses; live: SDERR_DEVICE_NOT_FOUND (Handle names no
 * open port), the failover request's statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 ISDFoGetLBPolicy(SD_UINT32 Handle, SD_UINT16 Instance, PFO_LB_POLICY_LIST pList,
                                        SD_UINT32 Persistent);

/**
 * @brief Sets the load-balancing types of the port's targets: live in the
 * driver, or (Persistent nonzero) in the port's option string.
 *
 * LbType 0 removes a target's type. The persistent set needs a driver of
 * the new store. It reads the store as ISDFoSetTargetData's persistent
 * write does (the configuration module, else the option file; a store that
 * does not exist counts as empty, one that cannot be read is never saved
 * over), changes only the load-balancing tokens, and saves the store as that
 * write does: the option file, its previous text kept as its backup, then
 * the configuration module. Instance is not used, as for ISDFoGetLBPolicy.
 *
 * @par Writes
 * Nothing of the caller's; persistent: the store's files.
 * @return SDERR_NO_ERROR; SDERR_INVALID_PARAMETER (pList is null, or Count
 * above 256); persistent: SDERR_NOT_SUPPORTED (Handle names no open port,
 * or its driver keeps the old store), SDERR_INVALID_PARAMETER (the port's
 * driver has no module name), SDERR_OUT_OF_MEMORY, SDERR_CONFIG_FILE (the
 * store cannot be read or saved, or the option string would grow too long;
 * every file as it was), the store question's statuses; live:
 * SDERR_DEVICE_NOT_FOUND (Handle names no open port), the failover
 * request's statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 ISDFoSetLBPolicy(SD_UINT32 Handle, SD_UINT16 Instance, const FO_LB_POLICY_LIST* pList,
                                        SD_UINT32 Persistent);

/**
 * @brief The failover interface's version.
 *
 * Copies the text "3.0.1 build7" into pBuffer, cut to Length bytes and
 * always terminated.
 *
 * @par Writes
 * pBuffer: Length bytes (the text, then zeros), when pBuffer is not null and
 * Length is not 0; nothing otherwise.
 * @return The version 0x3000107, never a status.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 ISDFoGetApiVersion(SD_PINT8 pBuffer, SD_UINT32 Length);

/**
 * @brief The failover driver's version.
 *
 * @par Writes
 * Version and VersionText of *pVersion (the text as the driver gives it),
 * only when the status is SDERR_NO_ERROR; nothing otherwise.
 * @return SDERR_NO_ERROR; SDERR_INVALID_PARAMETER (pVersion is null); the
 * failover request's statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 ISDFoGetFoDriverVersion(SD_UINT32 Handle, PFO_DRIVER_VERSION pVersion);

/**
 * @brief Whether the port's driver provides failover.
 *
 * FO_CAPABILITY_FAILOVER when the port's driver provides failover, else
 * FO_CAPABILITY_NONE (also for a handle that names no open port, which
 * gives SDERR_INVALID_HANDLE).
 *
 * @par Writes
 * *pCapability, whenever pCapability is not null.
 * @return SDERR_NO_ERROR; SDERR_INVALID_PARAMETER (pCapability is null);
 * SDERR_INVALID_HANDLE (Handle names no open port).
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 ISDFoGetFoCapability(SD_UINT32 Handle, SD_PUINT32 pCapability);

/* The persistent stores of every supported driver module. The lists fill
 * 256 bytes: up to 32 adapter port names (or target node names) of 8 bytes,
 * packed from the start, the rest zero; more than 32 target names give
 * SDERR_BUFFER_TOO_SMALL with the first 32. A delete removes an adapter (by
 * its port name) or a target (by its node name) from every store that holds
 * it, and keeps everything else, load-balancing types included; a name no
 * store holds gives SDERR_INVALID_PARAMETER. A store that parses only in
 * part (an adapter's token that cannot be read) is never written: a delete
 * that reaches it fails with SDERR_CONFIG_FILE and leaves it as it was,
 * while the lists give what parsed (such an adapter up to that token). */

/**
 * @brief The adapter ports that the persistent stores of every supported
 * driver module hold.
 *
 * The list fills 256 bytes: up to 32 adapter port names of 8 bytes, packed
 * from the start, the rest zero.
 *
 * @par Writes
 * pBuffer, 256 bytes, only when the status is SDERR_NO_ERROR; nothing
 * otherwise.
 * @return SDERR_NO_ERROR; SDERR_INVALID_PARAMETER (pBuffer is null);
 * SDERR_OUT_OF_MEMORY; SDERR_CONFIG_FILE (a store cannot be read); the
 * store question's statuses, for the driver of any supported module.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 ISDFoGetPersistentDeviceEntryList(SD_PUINT8 pBuffer);

/**
 * @brief The targets that the persistent stores of every supported driver
 * module hold.
 *
 * The list fills 256 bytes: up to 32 target node names of 8 bytes, each
 * once, packed from the start, the rest zero.
 *
 * @par Writes
 * pBuffer, 256 bytes, only when the status is SDERR_NO_ERROR or
 * SDERR_BUFFER_TOO_SMALL; nothing otherwise.
 * @return SDERR_NO_ERROR; SDERR_INVALID_PARAMETER (pBuffer is null);
 * SDERR_OUT_OF_MEMORY; SDERR_CONFIG_FILE (a store cannot be read);
 * SDERR_BUFFER_TOO_SMALL (more than 32 names: the first 32 are written);
 * the store question's statuses, for the driver of any supported module.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 ISDFoGetPersistentTargetEntryList(SD_PUINT8 pBuffer);

/**
 * @brief Removes an adapter port, by its port name, from every persistent
 * store that holds it.
 *
 * Everything else of a store is kept, load-balancing types included. The
 * stores are visited one driver module after the other; a store that cannot
 * be read, parsed whole or saved stops the delete, the stores before it
 * already saved.
 *
 * @par Writes
 * Nothing of the caller's; the stores' files.
 * @return SDERR_NO_ERROR; SDERR_INVALID_PARAMETER (pPortName is null);
 * SDERR_OUT_OF_MEMORY; SDERR_CONFIG_FILE (a store cannot be read, parsed
 * whole or saved); SDERR_INVALID_PARAMETER (no store holds the name); the
 * store question's statuses, for the driver of any supported module, before
 * any store is touched.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 ISDFoDeletePersistentDeviceEntry(const SD_UINT8* pPortName);

/**
 * @brief Removes a target, by its node name, from every persistent store
 * that holds it.
 *
 * As ISDFoDeletePersistentDeviceEntry, for a target.
 *
 * @par Writes
 * Nothing of the caller's; the stores' files.
 * @return SDERR_NO_ERROR; SDERR_INVALID_PARAMETER (pNodeName is null);
 * SDERR_OUT_OF_MEMORY; SDERR_CONFIG_FILE (a store cannot be read, parsed
 * whole or saved); SDERR_INVALID_PARAMETER (no store holds the name); the
 * store question's statuses, for the driver of any supported module, before
 * any store is touched.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 ISDFoDeletePersistentTargetEntry(const SD_UINT8* pNodeName);

#ifdef __cplusplus
}
#endif

#endif /* VXSDM_FO_H */
