/*
 * libvxsdm: QoS, transceiver data, virtual ports, link speed and Tarno management.
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

/* One QoS setting of a remote port (32 bytes). Type, Val, Status and the
 * vendor code are the driver's and the firmware's; they are passed through. */
typedef struct SDM_QOS_ENTRY {
    SD_UINT8 Type;
    SD_UINT8 Val;
    SD_UINT8 Status;
    SD_UINT8 Reserved;
    SD_UINT8 WWPN[8]; /* the remote port, most significant byte first */
    SD_UINT8 Reserved1[20];
} SDM_QOS_ENTRY, *PSDM_QOS_ENTRY;

/* A QoS table: declared with one entry; a table of n entries is
 * sizeof(SDM_QOS_CONFIG) + (n - 1) * sizeof(SDM_QOS_ENTRY) bytes. */
typedef struct SDM_QOS_CONFIG {
    SD_UINT16 NumEntries; /* in: entries provided or filled; out (get): entries returned, or needed */
    SD_UINT16 QoSVendor;  /* out (get): the driver's vendor code */
    SDM_QOS_ENTRY Entry[1];
} SDM_QOS_CONFIG, *PSDM_QOS_CONFIG;

/* The QoS table the firmware uses, on a physical port of a QoS chip. At most
 * NumEntries entries are written; NumEntries then holds the count the driver
 * reports. SDERR_BUFFER_TOO_SMALL with the count needed in NumEntries;
 * SDERR_QOS_REGION_MISSING when the flash layout has no QoS region. */
VXSDM_API SD_UINT32 SDGetQoS(int Device, PSDM_QOS_CONFIG pQoS);
/* Stores the table (NumEntries 0: an empty record over the whole region) in
 * the port's QoS flash region and activates it. SDERR_REGION_TOO_SMALL when
 * the record is longer than the region or than 65,535 bytes. */
VXSDM_API SD_UINT32 SDSetQoS(int Device, PSDM_QOS_CONFIG pQoS);

/* ---- transceiver and i2c devices ---- */

/* The transceiver's pages at i2c addresses A0h and A2h, as it presents them. */
typedef struct SD_SFP_DATA {
    SD_UINT8 SFPDataA0[256];
    SD_UINT8 SFPDataA2[256];
} SD_SFP_DATA, *PSD_SFP_DATA;

/* The port's SD_SFP_DATA into pBuffer; SDERR_BUFFER_TOO_SMALL below 512 bytes. */
VXSDM_API SD_UINT32 SDGetSFPData(int Device, SD_UINT16 HbaDevPortNum, SD_PUINT8 pBuffer, SD_UINT32 BufferSize);
/* BufferSize bytes of the i2c device DevAddr from its byte DataAddr, read or
 * written in pieces of 64 bytes; a failing piece ends the transfer, the
 * pieces before it done. The transfer must stay within the device's 64 KiB
 * (SDERR_INVALID_PARAMETER). Options go to the driver unchanged;
 * HbaDevPortNum and pExitParam are not used. */
VXSDM_API SD_UINT32 SDReadSFPData(int Device, SD_UINT16 HbaDevPortNum, SD_UINT16 DevAddr, SD_PUINT8 pBuffer,
                                  SD_UINT32 BufferSize, SD_UINT16 DataAddr, SD_UINT16 Options,
                                  SD_PUINT16 pExitParam);
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

/* A virtual port (36 bytes). */
typedef struct VPORT_INFO {
    SD_UINT32 free;  /* vports that can still be created on the physical port */
    SD_UINT32 used;  /* vports in use */
    SD_UINT32 id;    /* the vport id */
    SD_UINT32 state; /* 1 online, else 0 */
    SD_UINT32 bound; /* not written */
    SD_UINT8 wwnn[8];
    SD_UINT8 wwpn[8];
} VPORT_INFO, *PVPORT_INFO;

/* Creates a vport with the names (8 bytes each). options: 0 login retry,
 * 1 persistent, 2 QoS bandwidth, 3 virtual fabric. *vport_handle receives
 * the vport id the driver gave, 0 when none, whatever the status. */
VXSDM_API SD_UINT32 SDCreateVport(int Device, SD_PUINT8 vp_wwnn, SD_PUINT8 vp_wwpn, SD_UINT32 options,
                                  SD_PUINT32 vport_handle);
VXSDM_API SD_UINT32 SDDeleteVport(int Device, SD_UINT32 vp_id);
/* Fills vport_info, but for bound, on success only. */
VXSDM_API SD_UINT32 SDVportGetinfo(int Device, SD_UINT32 vp_id, PVPORT_INFO vport_info);

/* ---- remote port link speed ----
 *
 * The rate at which the firmware talks to the remote port of pTargetAddr
 * (AddressType 2): 1, 2, 4, 8, 16, 22 or 50. */

/* *pIDMALinkSpeed is written only when the firmware reports one of the
 * speeds above. */
VXSDM_API SD_UINT32 SDGetTargetIDMALinkSpeed(int Device, SD_UINT16 HbaDevPortNum, PDESTINATIONADDRESS pTargetAddr,
                                             SD_PUINT32 pIDMALinkSpeed);
/* Sets the speed (Mode 0 only asks); another speed gives SDERR_INVALID_PARAMETER. */
VXSDM_API SD_UINT32 SDSetTargetIDMALinkSpeed(int Device, SD_UINT16 HbaDevPortNum, SD_UINT32 Mode,
                                             PDESTINATIONADDRESS pTargetAddr, SD_UINT32 iDMALinkSpeed);

/* ---- Tarno controller ---- */

/* Operation 1 reset, 2 firmware version, 3 firmware update, 4 management
 * (SD_TARNO_MGT). On converged chips only operation 4 is taken: it returns
 * the 4096-byte MAC statistics (TotalByteCount at least 4096, else
 * SDERR_BUFFER_TOO_SMALL) where the port has them, else it goes to the
 * controller. */
VXSDM_API SD_UINT32 SDTarnoMgt(int Device, SD_UINT16 Operation, PSD_TARNO_MGT pParameters);

#ifdef __cplusplus
}
#endif

#endif /* VXSDM_PORT_H */
