/*
 * libvxsdm: port statistics, loopback test, beacon and firmware dump.
 *
 * Natural alignment, no packing, exchanged byte for byte (see vxsdm_types.h).
 *
 * Plain C99; usable from C++.
 */
#ifndef VXSDM_STATS_H
#define VXSDM_STATS_H

#include "vxsdm_types.h"

/* Error and traffic counters of a port (176 bytes). The functions never
 * write InterruptCount and Reserved: they keep the caller's values. */
typedef struct STATISTICS {
    SD_UINT32 ControllerErrorCount;
    SD_UINT32 DeviceErrorCount;
    SD_UINT32 IOCount;
    SD_UINT32 MegabyteCount;
    SD_UINT32 LipResetCount;
    SD_UINT32 InterruptCount;
    SD_UINT32 LinkFailureCount;
    SD_UINT32 LossOfSyncCount;
    SD_UINT32 LossOfSignalCount;
    SD_UINT32 PrimitiveSeqProtocolErrorCount;
    SD_UINT32 InvalidTransmissionWordCount;
    SD_UINT32 InvalidCRCCount;
    SD_UINT32 Reserved[32];
} STATISTICS, *PSTATISTICS;

/* Outcome of a loopback test (140 bytes). TestResult: 1 passed, 2 and 3
 * failures the firmware names, 4 any other outcome (the error counts and
 * the iteration of the last error, LastError1 low and LastError2 high
 * half, are filled only for the firmware's error completion). */
typedef struct LOOPBACKSTATUS {
    SD_UINT16 TestResult;
    SD_UINT16 CRCErrorCount;
    SD_UINT16 DisparityErrorCount;
    SD_UINT16 FrameLengthErrorCount;
    SD_UINT16 LastError1;
    SD_UINT16 LastError2;
    SD_UINT8 CommandSent; /* the command the firmware ran */
    SD_UINT8 Reserved1;
    SD_UINT16 Reserved2;
    SD_UINT32 Reserved[31];
} LOOPBACKSTATUS, *PLOOPBACKSTATUS;

#ifdef __cplusplus
extern "C" {
#endif

/* ---- statistics ---- */

/* The port's own counters. The record is written only on success. */
VXSDM_API SD_UINT32 SDGetStatistics(int Device, SD_UINT16 HbaDevPortNum, PSTATISTICS pStatistics);

/* The link error counters of the remote port of pTargetAddr (AddressType 2,
 * by WWPN; SDERR_INVALID_PARAMETER otherwise). On ports the driver serves
 * through sysfs only the six link error counters come back, the five
 * before them as 0. SDGetPortStatisticsFC is the same call. */
VXSDM_API SD_UINT32 SDGetStatisticsFC(int Device, SD_UINT16 HbaDevPortNum, PDESTINATIONADDRESS pTargetAddr,
                                      PSTATISTICS pStatistics);
VXSDM_API SD_UINT32 SDGetPortStatisticsFC(int Device, SD_UINT16 HbaDevPortNum, PDESTINATIONADDRESS pTargetAddr,
                                          PSTATISTICS pStatistics);

/* ---- loopback test ---- */

/* The firmware's loopback test: TxBufferSize bytes of pTxBuffer come back
 * into pRxBuffer, NumberOfIteration times, with TestOptions passed to the
 * firmware as they stand. The outcome is in *pLoopbackStatus even when the
 * driver or the reset fails. On the chips that keep a flash layout table
 * (with drivers that take the new request), a test answered with the second
 * status word 0x17 is run again after a firmware reset and a 20-second
 * wait, at most twice; a failed reset gives its status. A buffer with a
 * nonzero size must be given (SDERR_INVALID_PARAMETER). */
VXSDM_API SD_UINT32 SDRunDiagLoopbackEx(int Device, SD_UINT16 HbaDevPortNum, SD_UINT16 TestOptions,
                                        SD_PUINT8 pTxBuffer, SD_UINT32 TxBufferSize, SD_PUINT8 pRxBuffer,
                                        SD_UINT32 RxBufferSize, SD_UINT32 NumberOfIteration,
                                        PLOOPBACKSTATUS pLoopbackStatus);
/* The same with 16-bit sizes and count. */
VXSDM_API SD_UINT32 SDRunDiagLoopback(int Device, SD_UINT16 HbaDevPortNum, SD_UINT16 TestOptions,
                                      SD_PUINT8 pTxBuffer, SD_UINT16 TxBufferSize, SD_PUINT8 pRxBuffer,
                                      SD_UINT16 RxBufferSize, SD_UINT16 NumberOfIteration,
                                      PLOOPBACKSTATUS pLoopbackStatus);

/* ---- beacon (the port's locate LED) ----
 *
 * States are the driver's codes, passed through unchanged: on ports the
 * driver serves through sysfs 0x01ED0017 is on and any other code off. */

/* *pUpdateMode goes to the driver with the request and receives the port's
 * state; it changes only on success. */
VXSDM_API SD_UINT32 SDGetBeaconControl(int Device, SD_PUINT32 pUpdateMode);
/* Physical ports only (SDERR_NOT_SUPPORTED for a virtual port). */
VXSDM_API SD_UINT32 SDUpdateBeaconControl(int Device, SD_UINT32 UpdateMode);

/* ---- firmware dump ---- */

/* The firmware's dump into pBuffer; *BufferSize is the buffer's size in,
 * the dump's length out. SDERR_BUFFER_TOO_SMALL with the length needed in
 * *BufferSize; SDERR_NO_DATA when there is no dump; SDERR_DUMP_FILE when
 * the driver's udev rules collected the dump into a file, whose path is
 * then in pBuffer as a text cut to the buffer and terminated inside it.
 * Physical ports only (SDERR_INVALID_REQUEST for a virtual port). */
VXSDM_API SD_UINT32 SDGetFwDump(int Device, SD_UINT16 HbaDevPortNum, SD_PUINT8 pBuffer, SD_PUINT32 BufferSize);

#ifdef __cplusplus
}
#endif

#endif /* VXSDM_STATS_H */
