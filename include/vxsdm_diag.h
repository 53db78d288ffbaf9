/**
 * @file vxsdm_diag.h
 * @brief libvxsdm: LUN names, board diagnostics, SerDes registers, trace
 * buffer and ZoneWise.
 *
 * Natural alignment, no packing, exchanged byte for byte (see vxsdm_types.h).
 *
 * Plain C99; usable from C++.
 */
#ifndef VXSDM_DIAG_H
#define VXSDM_DIAG_H

#include "vxsdm_types.h"

/** The board temperature (64 bytes): degrees and hundredths. */
typedef struct BOARD_TEMP {
    SD_UINT16 IntTemp;      /**< whole degrees */
    SD_UINT16 FracTemp;     /**< hundredths of a degree */
    SD_UINT32 Reserved[15]; /**< never written by the library */
} BOARD_TEMP, *PBOARD_TEMP;
/** @typedef PBOARD_TEMP
 * Pointer to a BOARD_TEMP. */

#ifdef __cplusplus
extern "C" {
#endif

/* ---- persistent LUN names ----
 *
 * Names of a LUN (TargetId, LunId behind the port) become links that udev
 * makes for its disk, and with the suffix "_part%n" for each partition,
 * through one rules file of the host. pUdevName holds names separated by
 * blanks. SDERR_CONFIG_FILE for every failure: the LUN or its identifier
 * not found, the rules file not read or written, or a name refused (one with
 * a double quote, comma, backslash or control character never reaches the
 * file). The identifier is the line scsi_id prints for the LUN's disk, read
 * alike by the set, the delete and the get: one of more than 510 characters
 * counts as not found, never taken in part. The rules file is read whole:
 * one of 64 MiB or more is refused, and so is a change that would make one.
 * HbaDevPortNum is not used. */

/**
 * @brief Adds persistent names to a LUN of the port.
 *
 * The names in pUdevName (separated by blanks) become links that udev makes
 * for the disk of TargetId, LunId behind the port, and with the suffix
 * "_part" and the partition's number for each partition, through one rules
 * file of the host. A name with a double quote, comma, backslash or control
 * character never reaches the file. udev re-reads its rules afterwards, also
 * after a failure. HbaDevPortNum is not used.
 *
 * @par Writes
 * Nothing of the caller's; the host's udev rules file.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_INVALID_PARAMETER
 * (pUdevName is null); SDERR_NOT_SUPPORTED (a VMware host);
 * SDERR_CONFIG_FILE for every other failure (the LUN or its identifier not
 * found, an identifier that udev would read as a pattern (one holding '*',
 * '?', '[' or '|', which would give the names to other LUNs too), the rules
 * file not read or written, a name refused, a rule line of
 * the LUN that udev skips or that applies to no device, such as one whose
 * serials disagree, or a rules file that udev does not read as it stands: a
 * line of 16,384 characters or more, after which udev reads nothing, or a
 * rule line left open (ending in a backslash) with nothing but comments or
 * the end of the file after it, which udev drops (an empty line after it
 * closes it, and udev reads it); the file then stays as it was).
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDSetLunUdevName(int Device, SD_UINT16 HbaDevPortNum, SD_UINT16 TargetId, SD_UINT16 LunId,
                                     SD_PINT8 pUdevName);

/**
 * @brief Removes persistent names of a LUN of the port, as SDSetLunUdevName
 * adds them.
 *
 * udev re-reads its rules afterwards, also after a failure. HbaDevPortNum is
 * not used.
 *
 * @par Writes
 * Nothing of the caller's; the host's udev rules file.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_INVALID_PARAMETER
 * (pUdevName is null); SDERR_NOT_SUPPORTED (a VMware host);
 * SDERR_CONFIG_FILE for every other failure.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDDeleteLunUdevName(int Device, SD_UINT16 HbaDevPortNum, SD_UINT16 TargetId, SD_UINT16 LunId,
                                        SD_PINT8 pUdevName);

/**
 * @brief The persistent names of a LUN of the port.
 *
 * The names of the last of the LUN's whole-disk lines that holds SYMLINK+=
 * items go into pUdevName, which must hold 512 bytes (at most 511
 * characters and the NUL): the values of those items as the line holds them
 * between the quotes, one blank between two items. On a line in the
 * library's own form that is each name followed by a blank ("a b "); a line
 * edited by hand gives its names as written ("a  b" for SYMLINK+="a  b").
 * Only lines that udev reads count: none after a line of 16,384 characters
 * or more, nor a rule line left open (ending in a backslash) with nothing
 * but comments or the end of the file after it (an empty line after it
 * closes it, and the line counts). HbaDevPortNum is not used.
 *
 * @par Writes
 * pUdevName, when the status is SDERR_NO_ERROR and the LUN has names;
 * nothing otherwise (a LUN without names gives SDERR_NO_ERROR and leaves it
 * as it was).
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_INVALID_PARAMETER
 * (pUdevName is null); SDERR_CONFIG_FILE for every other failure.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetLunUdevName(int Device, SD_UINT16 HbaDevPortNum, SD_UINT16 TargetId, SD_UINT16 LunId,
                                     SD_PINT8 pUdevName);

/* ---- board diagnostics ---- */

/**
 * @brief The board temperature.
 *
 * size must be at least 64. HbaDevPortNum is not used. An answer short of
 * the driver's record, or (on a port served through sysfs) a temperature text
 * that cannot be read, holds no number (a sign, a point without a digit
 * behind it) or passes its degrees' field (above 65535), is no temperature:
 * the call fails. On such a port the text "<degrees>[.<fraction>]" is read
 * as far as its fields go, whatever follows them: FracTemp is the number the
 * one or two digits after the point make ("45.5" gives 5, "45.50" 50,
 * "45.125" 12), 0 without a point.
 *
 * @par Writes
 * IntTemp and FracTemp of *ptemp, only when the status is SDERR_NO_ERROR;
 * nothing otherwise.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_NOT_SUPPORTED (a chip
 * without a board temperature); SDERR_INVALID_PARAMETER (ptemp is null);
 * SDERR_BUFFER_TOO_SMALL (size below 64); the request's statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetBoardTemp(int Device, SD_UINT16 HbaDevPortNum, PBOARD_TEMP ptemp, SD_UINT16 size);

/**
 * @brief Runs diagnostic I/O through the driver.
 *
 * On ports the driver serves through sysfs only: Threads streams (1 to 128)
 * at once, each sending the Size-byte pattern pdata Iterations times and
 * reading it back, compared with the pattern when DataCheckFlag is not 0.
 * Resp_size must equal Size.
 *
 * @par Writes
 * presp, once the request is sent: the pattern on success; with
 * SDERR_DATA_COMPARE the bytes received where a reply differed.
 * @return SDERR_NO_ERROR; SDERR_INVALID_PARAMETER (a buffer is null, a size
 * or count is 0, the sizes differ, or more than 128 streams);
 * SDERR_INVALID_HANDLE; SDERR_NOT_SUPPORTED (a port not served through
 * sysfs); SDERR_NOT_SUPPORTED (a chip without diagnostic I/O); the
 * request's statuses, among them SDERR_DATA_COMPARE (a reply differed) and
 * SDERR_THREAD_START (a stream could not start).
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDDiagIO(int Device, SD_PUINT8 pdata, SD_UINT32 Size, SD_PUINT8 presp, SD_UINT32 Resp_size,
                             SD_UINT32 Threads, SD_UINT32 Iterations, SD_UINT8 DataCheckFlag);

/**
 * @brief The SerDes parameter block into pserdes (pserdes_size bytes).
 *
 * @par Writes
 * pserdes, up to pserdes_size bytes, as the request delivers them (zeros
 * behind a shorter block; an empty one fails the call); after a failed
 * request it may hold part of them.
 * @return SDERR_NO_ERROR; SDERR_INVALID_PARAMETER (pserdes_size is 0);
 * SDERR_INVALID_PARAMETER (pserdes is null); SDERR_INVALID_HANDLE;
 * SDERR_NOT_SUPPORTED (a chip without the block); the request's statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDReadSerdesParams(int Device, SD_PUINT8 pserdes, SD_UINT32 pserdes_size);

/**
 * @brief The firmware's FCE trace into buffer.
 *
 * *size is the buffer's size in (at least 0x30000) and the bytes received
 * out, never more than the buffer's size.
 *
 * @par Writes
 * buffer, as the request delivers it. *size: the bytes received with
 * SDERR_NO_ERROR; 0x30000 when the buffer is smaller than that; the size the
 * driver needs when it answers that the buffer is too small; nothing
 * otherwise.
 * @return SDERR_NO_ERROR; SDERR_INVALID_PARAMETER (buffer or size is null);
 * SDERR_INVALID_PARAMETER (*size is 0); SDERR_BUFFER_TOO_SMALL (*size below
 * 0x30000); SDERR_INVALID_HANDLE; SDERR_NOT_SUPPORTED (a chip without the
 * trace); the request's statuses, SDERR_BUFFER_TOO_SMALL when the driver
 * needs more.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetTraceBuffer(int Device, SD_PUINT8 buffer, SD_PUINT32 size);

/**
 * @brief Reads one SerDes register: 16-bit address and value.
 *
 * HbaDevPortNum is not used.
 *
 * @par Writes
 * *pData, only when the status is SDERR_NO_ERROR; nothing otherwise.
 * @return SDERR_NO_ERROR; SDERR_INVALID_PARAMETER (pData is null);
 * SDERR_INVALID_HANDLE; SDERR_NOT_SUPPORTED (a chip without 16-bit SerDes
 * registers); the request's statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetFCSerDesRegister(int Device, SD_UINT16 HbaDevPortNum, SD_UINT16 SerDesRegAddr,
                                          SD_PUINT16 pData);

/**
 * @brief Writes one SerDes register: 16-bit address and value.
 *
 * HbaDevPortNum is not used.
 *
 * @par Writes
 * Nothing of the caller's.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_NOT_SUPPORTED (a chip
 * without 16-bit SerDes registers); the request's statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDSetFCSerDesRegister(int Device, SD_UINT16 HbaDevPortNum, SD_UINT16 SerDesRegAddr,
                                          SD_UINT16 Data);

/**
 * @brief Reads one SerDes register: 32-bit address and value.
 *
 * HbaDevPortNum is not used.
 *
 * @par Writes
 * *pData, only when the status is SDERR_NO_ERROR; nothing otherwise.
 * @return SDERR_NO_ERROR; SDERR_INVALID_PARAMETER (pData is null);
 * SDERR_INVALID_HANDLE; SDERR_NOT_SUPPORTED (a chip without 32-bit SerDes
 * registers); the request's statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetFCSerDesRegisterEx(int Device, SD_UINT16 HbaDevPortNum, SD_UINT32 SerDesRegAddr,
                                            SD_PUINT32 pData);

/**
 * @brief Writes one SerDes register: 32-bit address and value.
 *
 * HbaDevPortNum is not used.
 *
 * @par Writes
 * Nothing of the caller's.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_NOT_SUPPORTED (a chip
 * without 32-bit SerDes registers); the request's statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDSetFCSerDesRegisterEx(int Device, SD_UINT16 HbaDevPortNum, SD_UINT32 SerDesRegAddr,
                                            SD_UINT32 Data);

/* ---- ZoneWise ----
 *
 * A setting of the driver module, not of one port: the handle only proves
 * an open port. SDERR_NOT_SUPPORTED on a VMware host (before the handle is
 * looked at) and when the driver is not loaded or lacks the setting.
 * HbaDevPortNum is not used. */

/**
 * @brief Switches ZoneWise on, now and for the driver's next load.
 *
 * A setting of the driver module, not of one port: the handle only proves an
 * open port. HbaDevPortNum is not used.
 *
 * @par Writes
 * Nothing of the caller's; the driver's run-time parameter and the host's
 * module configuration file.
 * @return SDERR_NO_ERROR; SDERR_NOT_SUPPORTED (a VMware host, before the
 * handle is looked at); SDERR_INVALID_HANDLE; SDERR_NOT_SUPPORTED (the
 * driver is not loaded or lacks the setting); SDERR_UNKNOWN (the running
 * driver's setting could not be written); SDERR_CONFIG_FILE (only the
 * running driver took the change).
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDEnableZoneWiseFC(int Device, SD_UINT16 HbaDevPortNum);

/**
 * @brief Switches ZoneWise off, now and for the driver's next load.
 *
 * As SDEnableZoneWiseFC, with the other value.
 *
 * @par Writes
 * Nothing of the caller's; the driver's run-time parameter and the host's
 * module configuration file.
 * @return SDERR_NO_ERROR; SDERR_NOT_SUPPORTED (a VMware host, before the
 * handle is looked at); SDERR_INVALID_HANDLE; SDERR_NOT_SUPPORTED (the
 * driver is not loaded or lacks the setting); SDERR_UNKNOWN (the running
 * driver's setting could not be written); SDERR_CONFIG_FILE (only the
 * running driver took the change).
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDDisableZoneWiseFC(int Device, SD_UINT16 HbaDevPortNum);

/**
 * @brief The running driver's ZoneWise setting (0 off, 1 on).
 *
 * HbaDevPortNum is not used.
 *
 * @par Writes
 * *pZoneWiseStatus, only when the status is SDERR_NO_ERROR; nothing
 * otherwise.
 * @return SDERR_NO_ERROR; SDERR_NOT_SUPPORTED (a VMware host, before the
 * handle is looked at); SDERR_INVALID_HANDLE; SDERR_INVALID_PARAMETER
 * (pZoneWiseStatus is null); SDERR_NOT_SUPPORTED (the driver is not loaded
 * or lacks the setting); SDERR_UNKNOWN (the setting could not be read).
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetZoneWiseStatusFC(int Device, SD_UINT16 HbaDevPortNum, SD_PUINT8 pZoneWiseStatus);

#ifdef __cplusplus
}
#endif

#endif /* VXSDM_DIAG_H */
