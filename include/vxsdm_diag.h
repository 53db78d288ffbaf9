/*
 * libvxsdm: LUN names, board diagnostics, SerDes registers, trace buffer and ZoneWise.
 *
 * Natural alignment, no packing, exchanged byte for byte (see vxsdm_types.h).
 *
 * Plain C99; usable from C++.
 */
#ifndef VXSDM_DIAG_H
#define VXSDM_DIAG_H

#include "vxsdm_types.h"

/* The board temperature (64 bytes): degrees and hundredths. */
typedef struct BOARD_TEMP {
    SD_UINT16 IntTemp;
    SD_UINT16 FracTemp;
    SD_UINT32 Reserved[15]; /* never written by the library */
} BOARD_TEMP, *PBOARD_TEMP;

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
 * file). HbaDevPortNum is not used. */

/* Adds the names. SDERR_NOT_SUPPORTED on a VMware host. udev re-reads its
 * rules afterwards, also after a failure. */
VXSDM_API SD_UINT32 SDSetLunUdevName(int Device, SD_UINT16 HbaDevPortNum, SD_UINT16 TargetId, SD_UINT16 LunId,
                                     SD_PINT8 pUdevName);
/* Removes the names, as SDSetLunUdevName adds them. */
VXSDM_API SD_UINT32 SDDeleteLunUdevName(int Device, SD_UINT16 HbaDevPortNum, SD_UINT16 TargetId, SD_UINT16 LunId,
                                        SD_PINT8 pUdevName);
/* The LUN's names, each followed by a blank, into pUdevName, which must hold
 * 512 bytes (at most 511 characters and the NUL). A LUN without names gives
 * 0 and leaves pUdevName as it was. */
VXSDM_API SD_UINT32 SDGetLunUdevName(int Device, SD_UINT16 HbaDevPortNum, SD_UINT16 TargetId, SD_UINT16 LunId,
                                     SD_PINT8 pUdevName);

/* ---- board diagnostics ---- */

/* The board temperature into IntTemp and FracTemp of ptemp; size must be at
 * least 64 (SDERR_BUFFER_TOO_SMALL). */
VXSDM_API SD_UINT32 SDGetBoardTemp(int Device, SD_UINT16 HbaDevPortNum, PBOARD_TEMP ptemp, SD_UINT16 size);

/* Diagnostic I/O through the driver, on ports it serves through sysfs only:
 * Threads streams (1 to 128) at once, each sending the Size-byte pattern
 * pdata Iterations times and reading it back, compared with the pattern when
 * DataCheckFlag is not 0. Resp_size must equal Size. On success presp holds
 * the pattern; SDERR_DATA_COMPARE when a reply differed, presp then holding
 * the bytes received; SDERR_THREAD_START when a stream could not start. */
VXSDM_API SD_UINT32 SDDiagIO(int Device, SD_PUINT8 pdata, SD_UINT32 Size, SD_PUINT8 presp, SD_UINT32 Resp_size,
                             SD_UINT32 Threads, SD_UINT32 Iterations, SD_UINT8 DataCheckFlag);

/* The SerDes parameter block into pserdes (pserdes_size bytes). */
VXSDM_API SD_UINT32 SDReadSerdesParams(int Device, SD_PUINT8 pserdes, SD_UINT32 pserdes_size);

/* The firmware's FCE trace into buffer. *size is the buffer's size in (at
 * least 0x30000: else 0x30000 is written back with SDERR_BUFFER_TOO_SMALL)
 * and the bytes received out, never more than the buffer's size. A driver
 * that needs more gives SDERR_BUFFER_TOO_SMALL with the size it needs. */
VXSDM_API SD_UINT32 SDGetTraceBuffer(int Device, SD_PUINT8 buffer, SD_PUINT32 size);

/* One SerDes register: 16-bit address and value, or (Ex) 32-bit ones. */
VXSDM_API SD_UINT32 SDGetFCSerDesRegister(int Device, SD_UINT16 HbaDevPortNum, SD_UINT16 SerDesRegAddr,
                                          SD_PUINT16 pData);
VXSDM_API SD_UINT32 SDSetFCSerDesRegister(int Device, SD_UINT16 HbaDevPortNum, SD_UINT16 SerDesRegAddr,
                                          SD_UINT16 Data);
VXSDM_API SD_UINT32 SDGetFCSerDesRegisterEx(int Device, SD_UINT16 HbaDevPortNum, SD_UINT32 SerDesRegAddr,
                                            SD_PUINT32 pData);
VXSDM_API SD_UINT32 SDSetFCSerDesRegisterEx(int Device, SD_UINT16 HbaDevPortNum, SD_UINT32 SerDesRegAddr,
                                            SD_UINT32 Data);

/* ---- ZoneWise ----
 *
 * A setting of the driver module, not of one port: the handle only proves
 * an open port. SDERR_NOT_SUPPORTED on a VMware host (before the handle is
 * looked at) and when the driver is not loaded or lacks the setting.
 * HbaDevPortNum is not used. */

/* Switch it on or off now and for the driver's next load; SDERR_CONFIG_FILE
 * when only the running driver took the change. */
VXSDM_API SD_UINT32 SDEnableZoneWiseFC(int Device, SD_UINT16 HbaDevPortNum);
VXSDM_API SD_UINT32 SDDisableZoneWiseFC(int Device, SD_UINT16 HbaDevPortNum);
/* The running driver's setting (0 off, 1 on) into *pZoneWiseStatus. */
VXSDM_API SD_UINT32 SDGetZoneWiseStatusFC(int Device, SD_UINT16 HbaDevPortNum, SD_PUINT8 pZoneWiseStatus);

#ifdef __cplusplus
}
#endif

#endif /* VXSDM_DIAG_H */
