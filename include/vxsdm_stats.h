/**
 * @file vxsdm_stats.h
 * @brief libvxsdm: port statistics, loopback test, beacon and firmware dump.
 *
 * Natural alignment, no packing, exchanged byte for byte (see vxsdm_types.h).
 *
 * Plain C99; usable from C++.
 */
#ifndef VXSDM_STATS_H
#define VXSDM_STATS_H

#include "vxsdm_types.h"

/** Error and traffic counters of a port (176 bytes). The functions never
 * write InterruptCount and Reserved: they keep the caller's values. */
typedef struct STATISTICS {
    SD_UINT32 ControllerErrorCount;           /**< errors of the adapter */
    SD_UINT32 DeviceErrorCount;               /**< errors of the devices */
    SD_UINT32 IOCount;                        /**< I/O requests */
    SD_UINT32 MegabyteCount;                  /**< megabytes moved */
    SD_UINT32 LipResetCount;                  /**< LIP resets */
    SD_UINT32 InterruptCount;                 /**< not written */
    SD_UINT32 LinkFailureCount;               /**< link failures */
    SD_UINT32 LossOfSyncCount;                /**< losses of synchronisation */
    SD_UINT32 LossOfSignalCount;              /**< losses of signal */
    SD_UINT32 PrimitiveSeqProtocolErrorCount; /**< primitive sequence protocol errors */
    SD_UINT32 InvalidTransmissionWordCount;   /**< invalid transmission words */
    SD_UINT32 InvalidCRCCount;                /**< frames with an invalid CRC */
    SD_UINT32 Reserved[32];                   /**< not written */
} STATISTICS, *PSTATISTICS;
/** @typedef PSTATISTICS
 * Pointer to a STATISTICS. */

/** Outcome of a loopback test (140 bytes). TestResult: 1 passed, 2 and 3
 * failures the firmware names, 4 any other outcome (the error counts and
 * the iteration of the last error, LastError1 low and LastError2 high
 * half, are filled only for the firmware's error completion). */
typedef struct LOOPBACKSTATUS {
    SD_UINT16 TestResult;            /**< 1 passed; 2, 3 failures the firmware names; 4 any other outcome */
    SD_UINT16 CRCErrorCount;         /**< CRC errors */
    SD_UINT16 DisparityErrorCount;   /**< disparity errors */
    SD_UINT16 FrameLengthErrorCount; /**< frame length errors */
    SD_UINT16 LastError1;            /**< the iteration of the last error, low half */
    SD_UINT16 LastError2;            /**< the iteration of the last error, high half */
    SD_UINT8 CommandSent;            /**< the command the firmware ran */
    SD_UINT8 Reserved1;              /**< not written */
    SD_UINT16 Reserved2;             /**< not written */
    SD_UINT32 Reserved[31];          /**< not written */
} LOOPBACKSTATUS, *PLOOPBACKSTATUS;
/** @typedef PLOOPBACKSTATUS
 * Pointer to a LOOPBACKSTATUS. */

#ifdef __cplusplus
extern "C" {
#endif

/* ---- statistics ---- */

/**
 * @brief The port's own error and traffic counters.
 *
 * HbaDevPortNum is not used. On a port served through sysfs a counter file
 * that is there but cannot be read, or holds no number, fails the call; one
 * the driver does not have counts 0. A counter is the number its text
 * begins with (after white space), whatever follows its digits. The counts
 * of the host's SCSI devices are added in: none on a machine without any
 * SCSI device, while a SCSI device class that cannot be listed gives
 * SDERR_DEVICE_NOT_FOUND.
 *
 * @par Writes
 * *pStatistics but InterruptCount and Reserved, only when the status is
 * SDERR_NO_ERROR; nothing otherwise.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_INVALID_PARAMETER
 * (pStatistics is null); the request's statuses (data overrun and underrun
 * are failures here).
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetStatistics(int Device, SD_UINT16 HbaDevPortNum, PSTATISTICS pStatistics);

/**
 * @brief The link error counters of the remote port of pTargetAddr
 * (AddressType 2, by WWPN).
 *
 * On ports the driver serves through sysfs only the six link error counters
 * come back, the five before them as 0, from the remote port's Read Link
 * Status answer: an accept shorter than its 28 bytes gives
 * SDERR_DATA_UNDERRUN. SDGetPortStatisticsFC is the same call.
 * HbaDevPortNum is not used. On a port served through sysfs a counter file
 * that is there but cannot be read, or holds no number, fails the call; one
 * the driver does not have counts 0.
 *
 * @par Writes
 * *pStatistics but InterruptCount and Reserved, only when the status is
 * SDERR_NO_ERROR; nothing otherwise.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_INVALID_PARAMETER
 * (pTargetAddr is null); SDERR_INVALID_PARAMETER (AddressType is not 2);
 * SDERR_INVALID_PARAMETER (pStatistics is null); the request's statuses
 * (data overrun and underrun are failures here).
 * @par Threads
 * Any thread; calls are serialised within the process. On a port the driver
 * serves through sysfs without a bsg node, the request and its answer go
 * through the FC host's one request attribute: the exchange holds the host's
 * lock, which every process using the library takes, so that each process
 * reads its own answer.
 */
VXSDM_API SD_UINT32 SDGetStatisticsFC(int Device, SD_UINT16 HbaDevPortNum, PDESTINATIONADDRESS pTargetAddr,
                                      PSTATISTICS pStatistics);

/**
 * @brief The same call as SDGetStatisticsFC.
 *
 * @par Writes
 * As SDGetStatisticsFC.
 * @return As SDGetStatisticsFC.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetPortStatisticsFC(int Device, SD_UINT16 HbaDevPortNum, PDESTINATIONADDRESS pTargetAddr,
                                          PSTATISTICS pStatistics);

/* ---- loopback test ---- */

/**
 * @brief Runs the firmware's loopback test on the port.
 *
 * TxBufferSize bytes of pTxBuffer come back into pRxBuffer,
 * NumberOfIteration times, with TestOptions passed to the firmware as they
 * stand. On the chips that keep a flash layout table (with drivers that take
 * the new request), a test answered with the second status word 0x17 is run
 * again after a firmware reset and a 20-second wait, at most twice.
 * HbaDevPortNum is not used.
 *
 * @par Writes
 * *pLoopbackStatus, once the request is sent, whatever the status:
 * TestResult, CommandSent, and the three error counts (0 unless the
 * firmware's error completion gives them, with LastError1 and LastError2).
 * pRxBuffer: the data that came back.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_INVALID_PARAMETER
 * (pLoopbackStatus is null); SDERR_INVALID_PARAMETER (a buffer is null with
 * a nonzero size); the request's statuses; SDERR_SIBLING_FAILED (a firmware
 * reset failed).
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDRunDiagLoopbackEx(int Device, SD_UINT16 HbaDevPortNum, SD_UINT16 TestOptions,
                                        SD_PUINT8 pTxBuffer, SD_UINT32 TxBufferSize, SD_PUINT8 pRxBuffer,
                                        SD_UINT32 RxBufferSize, SD_UINT32 NumberOfIteration,
                                        PLOOPBACKSTATUS pLoopbackStatus);

/**
 * @brief The loopback test of SDRunDiagLoopbackEx with 16-bit sizes and
 * count.
 *
 * @par Writes
 * As SDRunDiagLoopbackEx.
 * @return As SDRunDiagLoopbackEx.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDRunDiagLoopback(int Device, SD_UINT16 HbaDevPortNum, SD_UINT16 TestOptions,
                                      SD_PUINT8 pTxBuffer, SD_UINT16 TxBufferSize, SD_PUINT8 pRxBuffer,
                                      SD_UINT16 RxBufferSize, SD_UINT16 NumberOfIteration,
                                      PLOOPBACKSTATUS pLoopbackStatus);

/* ---- beacon (the port's locate LED) ----
 *
 * States are the driver's codes, passed through unchanged: on ports the
 * driver serves through sysfs 0x01ED0017 is on and any other code off. */

/**
 * @brief The state of the port's beacon (its locate LED).
 *
 * *pUpdateMode goes to the driver with the request. States are the driver's
 * codes, passed through unchanged: on ports the driver serves through sysfs
 * 0x01ED0017 is on and any other code off.
 *
 * @par Writes
 * *pUpdateMode, the port's state, only when the status is SDERR_NO_ERROR;
 * nothing otherwise.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_INVALID_PARAMETER
 * (pUpdateMode is null); the request's statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetBeaconControl(int Device, SD_PUINT32 pUpdateMode);

/**
 * @brief Sets the state of the port's beacon (its locate LED).
 *
 * UpdateMode is the driver's code, as SDGetBeaconControl reads it. Physical
 * ports only.
 *
 * @par Writes
 * Nothing.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_NOT_SUPPORTED (a
 * virtual port); the request's statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDUpdateBeaconControl(int Device, SD_UINT32 UpdateMode);

/* ---- firmware dump ---- */

/**
 * @brief The firmware's dump into pBuffer.
 *
 * *BufferSize is the buffer's size in, the dump's length out. When the
 * driver's udev rules collected the dump into a file, its path is returned
 * instead, as a NUL-terminated text inside the buffer: it ends at its first
 * NUL, at the bytes delivered, or one byte short of the buffer's size,
 * whichever comes first, and the bytes behind its terminator stay as the
 * caller left them. Physical ports only. HbaDevPortNum is not used. On a
 * port served through sysfs a dump size that cannot be read as a decimal of
 * 32 bits fails the call.
 *
 * @par Writes
 * pBuffer and *BufferSize as the driver answers: the dump and its length;
 * the length needed with SDERR_BUFFER_TOO_SMALL; the file's path with
 * SDERR_DUMP_FILE.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_INVALID_REQUEST (a
 * virtual port); SDERR_INVALID_PARAMETER (pBuffer or BufferSize is null);
 * SDERR_DUMP_FILE (the dump is in a file); the request's statuses, among
 * them SDERR_BUFFER_TOO_SMALL and SDERR_NO_DATA (there is no dump).
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetFwDump(int Device, SD_UINT16 HbaDevPortNum, SD_PUINT8 pBuffer, SD_PUINT32 BufferSize);

#ifdef __cplusplus
}
#endif

#endif /* VXSDM_STATS_H */
