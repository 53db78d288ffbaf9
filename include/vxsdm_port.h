/**
 * @file vxsdm_port.h
 * @brief libvxsdm: QoS, transceiver data, virtual ports, link speed and
 * Tarno management.
 *
 * Natural alignment, no packing, exchanged byte for byte (see vxsdm_types.h).
 *
 * Plain C99; usable from C++.
 */
#ifndef VXSDM_PORT_H
#define VXSDM_PORT_H

#include "vxsdm_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- QoS ---- */

/** One QoS setting of a remote port (32 bytes). Type, Val, Status and the
 * vendor code are the driver's and the firmware's; they are passed through. */
typedef struct SDM_QOS_ENTRY {
    SD_UINT8 Type;         /**< the setting's type, passed through */
    SD_UINT8 Val;          /**< the setting's value, passed through */
    SD_UINT8 Status;       /**< the setting's status as the driver reports it (get only) */
    SD_UINT8 Reserved;     /**< not used */
    SD_UINT8 WWPN[8];      /**< the remote port, most significant byte first */
    SD_UINT8 Reserved1[20]; /**< not used */
} SDM_QOS_ENTRY, *PSDM_QOS_ENTRY;
/** @typedef PSDM_QOS_ENTRY
 * Pointer to an SDM_QOS_ENTRY. */

/** A QoS table: declared with one entry; a table of n entries is
 * sizeof(SDM_QOS_CONFIG) + (n - 1) * sizeof(SDM_QOS_ENTRY) bytes. */
typedef struct SDM_QOS_CONFIG {
    SD_UINT16 NumEntries;   /**< in: entries provided or filled; out (get): entries returned, or needed */
    SD_UINT16 QoSVendor;    /**< out (get): the driver's vendor code */
    SDM_QOS_ENTRY Entry[1]; /**< the entries, NumEntries of them */
} SDM_QOS_CONFIG, *PSDM_QOS_CONFIG;
/** @typedef PSDM_QOS_CONFIG
 * Pointer to an SDM_QOS_CONFIG. */

/**
 * @brief The QoS table the firmware uses, on a physical port of a QoS chip.
 *
 * The table comes from the driver; the port's QoS flash region only has to
 * be in the layout, which is loaded first. At most NumEntries entries are
 * written; NumEntries then holds the count the driver reports.
 *
 * The driver's answer must hold what it counts: its 4-byte head and each of
 * the entries to be written (as many as it counts, at most the given
 * NumEntries). An answer that delivered fewer bytes is not cut to what came:
 * the call fails with SDERR_DATA_UNDERRUN and writes nothing, as it does
 * when the driver reports SDERR_BUFFER_TOO_SMALL without delivering the
 * count it needs.
 *
 * @par Writes
 * With SDERR_NO_ERROR: NumEntries, QoSVendor and at most the given
 * NumEntries entries (Type, Val, Status, WWPN). With SDERR_BUFFER_TOO_SMALL
 * from the driver: NumEntries, the count needed. Nothing otherwise. The
 * process-wide layout.
 * @return SDERR_NO_ERROR; SDERR_INVALID_PARAMETER (pQoS is null or
 * NumEntries is 0); SDERR_INVALID_HANDLE; SDERR_NOT_SUPPORTED (not a QoS
 * chip, or a virtual port); a failure of the layout load;
 * SDERR_QOS_REGION_MISSING (the flash layout has no QoS region);
 * SDERR_OUT_OF_MEMORY; the request's statuses, SDERR_BUFFER_TOO_SMALL when
 * the table has more entries; SDERR_DATA_UNDERRUN (the answer is shorter
 * than the table it reports).
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetQoS(int Device, PSDM_QOS_CONFIG pQoS);

/**
 * @brief Stores the QoS table in the port's QoS flash region and activates
 * it.
 *
 * The entries (Type, Val and WWPN) become a checksummed record;
 * NumEntries 0 stores an empty record over the whole region. The adapter's
 * layout is loaded first. The region is the first layout entry whose whole
 * region word is the port's QoS region code; the record is checked against
 * that entry's size and written at that entry's start, even where another
 * entry carries the same code with attribute bits.
 *
 * @par Writes
 * Nothing of the caller's; the process-wide layout.
 * @return SDERR_NO_ERROR; SDERR_INVALID_PARAMETER (pQoS is null);
 * SDERR_INVALID_HANDLE; SDERR_NOT_SUPPORTED (not a QoS chip, or a virtual
 * port); SDERR_FUT_NOT_SET (another process holds the adapter's flash update
 * token); a failure of the layout load; SDERR_QOS_REGION_MISSING;
 * SDERR_REGION_TOO_SMALL (the record is longer than the region or than
 * 65,535 bytes); SDERR_OUT_OF_MEMORY; the request's statuses;
 * SDERR_SIBLING_FAILED (the activation failed).
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDSetQoS(int Device, PSDM_QOS_CONFIG pQoS);

/* ---- transceiver and i2c devices ---- */

/** The transceiver's pages at i2c addresses A0h and A2h, as it presents them. */
typedef struct SD_SFP_DATA {
    SD_UINT8 SFPDataA0[256]; /**< the page at i2c address A0h */
    SD_UINT8 SFPDataA2[256]; /**< the page at i2c address A2h */
} SD_SFP_DATA, *PSD_SFP_DATA;
/** @typedef PSD_SFP_DATA
 * Pointer to an SD_SFP_DATA. */

/**
 * @brief The port's transceiver pages (an SD_SFP_DATA) into pBuffer.
 *
 * HbaDevPortNum is not used.
 *
 * @par Writes
 * pBuffer, as the request delivers it; after a failed request it may hold
 * part of the pages.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_BUFFER_TOO_SMALL
 * (BufferSize below 512); SDERR_INVALID_PARAMETER (pBuffer is null); the
 * request's statuses, SDERR_DATA_UNDERRUN when the driver's node delivered
 * less than the 512 bytes.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetSFPData(int Device, SD_UINT16 HbaDevPortNum, SD_PUINT8 pBuffer, SD_UINT32 BufferSize);

/**
 * @brief Reads BufferSize bytes of the i2c device DevAddr from its byte
 * DataAddr.
 *
 * The bytes are read in pieces of 64; a failing piece ends the transfer, the
 * pieces before it done. A piece fails too when its answer did not deliver
 * the record's 8-byte head and the bytes asked, or when, through the
 * driver's node, the head delivered answers a length other than the one
 * asked: nothing of it is taken, and no byte behind BufferSize is ever
 * written. The transfer must stay within the device's 64 KiB. Options go to
 * the driver unchanged; HbaDevPortNum and pExitParam are not used.
 *
 * @par Writes
 * pBuffer: the bytes read, those of the pieces done when a piece fails.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_INVALID_PARAMETER
 * (pBuffer is null); SDERR_INVALID_PARAMETER (the transfer passes the
 * device's 64 KiB); the request's statuses; through the driver's node and
 * bsg SDERR_DATA_UNDERRUN for a piece whose head and bytes did not all
 * arrive; through the driver's node SDERR_DATA_UNDERRUN for a piece answered
 * shorter than asked and SDERR_DATA_OVERRUN for one answered longer.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDReadSFPData(int Device, SD_UINT16 HbaDevPortNum, SD_UINT16 DevAddr, SD_PUINT8 pBuffer,
                                  SD_UINT32 BufferSize, SD_UINT16 DataAddr, SD_UINT16 Options,
                                  SD_PUINT16 pExitParam);

/**
 * @brief Writes BufferSize bytes to the i2c device DevAddr from its byte
 * DataAddr.
 *
 * As SDReadSFPData, in the other direction: no byte behind BufferSize is
 * ever sent. A piece written needs only its status: an answer that delivers
 * nothing of the record does not fail it, one whose head arrived through the
 * driver's node with another length does.
 *
 * @par Writes
 * Nothing of the caller's.
 * @return As SDReadSFPData.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDWriteSFPData(int Device, SD_UINT16 HbaDevPortNum, SD_UINT16 DevAddr, SD_PUINT8 pBuffer,
                                   SD_UINT32 BufferSize, SD_UINT16 DataAddr, SD_UINT16 Options,
                                   SD_PUINT16 pExitParam);

/* ---- virtual ports ----
 *
 * Virtual ports of a physical port that the driver serves through sysfs,
 * named by the physical port's handle and the driver's vport id. Other ports
 * and the oldest chips give SDERR_NOT_SUPPORTED, a virtual port's handle
 * SDERR_INVALID_REQUEST, an id without a vport of this port
 * SDERR_DEVICE_NOT_FOUND. */

/** A virtual port (36 bytes). */
typedef struct VPORT_INFO {
    SD_UINT32 free;  /**< vports that can still be created on the physical port */
    SD_UINT32 used;  /**< vports in use */
    SD_UINT32 id;    /**< the vport id */
    SD_UINT32 state; /**< 1 online, else 0 */
    SD_UINT32 bound; /**< not written */
    SD_UINT8 wwnn[8]; /**< the vport's node name */
    SD_UINT8 wwpn[8]; /**< the vport's port name */
} VPORT_INFO, *PVPORT_INFO;
/** @typedef PVPORT_INFO
 * Pointer to a VPORT_INFO. */

/**
 * @brief Creates a virtual port of the physical port with the names vp_wwnn
 * and vp_wwpn (8 bytes each).
 *
 * options: 0 login retry, 1 persistent, 2 QoS bandwidth, 3 virtual fabric.
 * The id is the one the driver shows for the new port, or, from a driver
 * that shows none, the library's own. A new port that never shows up, or
 * whose id the driver shows but cannot be read as one, is deleted again and
 * the create fails.
 *
 * @par Writes
 * *vport_handle: the vport id the driver gave, 0 when none, whatever the
 * request's status (a create that failed hands out no id); nothing when a
 * check before the request refuses.
 * @return SDERR_NO_ERROR; SDERR_INVALID_PARAMETER (a pointer is null);
 * SDERR_INVALID_HANDLE; SDERR_NOT_SUPPORTED (a port not served through
 * sysfs, or a chip without vports); SDERR_INVALID_REQUEST (a virtual port's
 * handle); the request's statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDCreateVport(int Device, SD_PUINT8 vp_wwnn, SD_PUINT8 vp_wwpn, SD_UINT32 options,
                                  SD_PUINT32 vport_handle);

/**
 * @brief Deletes the virtual port vp_id of the physical port.
 *
 * The vport's handle is withdrawn with it.
 *
 * @par Writes
 * Nothing.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_NOT_SUPPORTED (a port
 * not served through sysfs, or a chip without vports);
 * SDERR_INVALID_REQUEST (a virtual port's handle); SDERR_DEVICE_NOT_FOUND
 * (no vport vp_id of this port); the request's statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDDeleteVport(int Device, SD_UINT32 vp_id);

/**
 * @brief The virtual port vp_id of the physical port.
 *
 * free counts from the driver's maximum of virtual ports, read at the call
 * (a driver that reports none: the chip's); a maximum that cannot be read,
 * or is past 16 bits, fails the call.
 *
 * @par Writes
 * *vport_info but bound, only when the status is SDERR_NO_ERROR; nothing
 * otherwise.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_NOT_SUPPORTED (a port
 * not served through sysfs, or a chip without vports);
 * SDERR_INVALID_REQUEST (a virtual port's handle); SDERR_INVALID_PARAMETER
 * (vport_info is null); SDERR_DEVICE_NOT_FOUND (no vport vp_id of this
 * port); the request's statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDVportGetinfo(int Device, SD_UINT32 vp_id, PVPORT_INFO vport_info);

/* ---- remote port link speed ----
 *
 * The rate at which the firmware talks to the remote port of pTargetAddr
 * (AddressType 2): 1, 2, 4, 8, 16, 22 or 50. */

/**
 * @brief The rate at which the firmware talks to the remote port of
 * pTargetAddr (AddressType 2).
 *
 * The rate is 1, 2, 4, 8, 16, 22 or 50. HbaDevPortNum is not used.
 *
 * @par Writes
 * *pIDMALinkSpeed, only when the status is SDERR_NO_ERROR and the firmware
 * reports one of the rates above; nothing otherwise.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_NOT_SUPPORTED (a chip
 * without per-port rates); SDERR_INVALID_PARAMETER (pTargetAddr is null);
 * SDERR_INVALID_PARAMETER (AddressType is not 2); SDERR_INVALID_PARAMETER
 * (pIDMALinkSpeed is null); the request's statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetTargetIDMALinkSpeed(int Device, SD_UINT16 HbaDevPortNum, PDESTINATIONADDRESS pTargetAddr,
                                             SD_PUINT32 pIDMALinkSpeed);

/**
 * @brief Sets the rate at which the firmware talks to the remote port of
 * pTargetAddr (AddressType 2).
 *
 * Mode goes to the firmware with the request (Mode 0 only asks). The rate is
 * 1, 2, 4, 8, 16, 22 or 50. HbaDevPortNum is not used.
 *
 * @par Writes
 * Nothing.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_NOT_SUPPORTED (a chip
 * without per-port rates); SDERR_INVALID_PARAMETER (pTargetAddr is null);
 * SDERR_INVALID_PARAMETER (AddressType is not 2); SDERR_INVALID_PARAMETER
 * (another rate); the request's statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDSetTargetIDMALinkSpeed(int Device, SD_UINT16 HbaDevPortNum, SD_UINT32 Mode,
                                             PDESTINATIONADDRESS pTargetAddr, SD_UINT32 iDMALinkSpeed);

/* ---- Tarno controller ---- */

/**
 * @brief One operation of the Tarno controller.
 *
 * Operation 1 reset, 2 firmware version, 3 firmware update, 4 management
 * (SD_TARNO_MGT names the request of each). On converged chips only
 * operation 4 is taken: it returns the 4096-byte MAC statistics
 * (TotalByteCount at least 4096) where the port has them, else it goes to
 * the controller. A firmware version that cannot be read as a number of 32
 * bits fails operation 2.
 *
 * @par Writes
 * On converged chips, the MAC statistics into pDataBytes of the management
 * request when the port has them (zeros behind the block that came).
 * Otherwise what the operation answers, in its request and data buffer, as
 * the controller gives it; FwVersion only when the status is
 * SDERR_NO_ERROR.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_NOT_SUPPORTED (neither
 * the Tarno controller's chip nor operation 4 on a converged chip);
 * SDERR_INVALID_PARAMETER (pParameters is null); on converged chips,
 * SDERR_BUFFER_TOO_SMALL (TotalByteCount below 4096);
 * SDERR_INVALID_PARAMETER (Operation is not 1 to 4); the request's
 * statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDTarnoMgt(int Device, SD_UINT16 Operation, PSD_TARNO_MGT pParameters);

#ifdef __cplusplus
}
#endif

#endif /* VXSDM_PORT_H */
