/*
 * libvxsdm: the adapter management API.
 *
 * A caller opens the ports of the host's adapters by instance number (0, 1,
 * 2, ... until SDOpenDevice answers SDERR_DEVICE_NOT_FOUND), works with the
 * handles it gets, and closes each open once. The first open starts the
 * library, the last close stops it. Every function returns a status
 * (vxsdm_status.h) unless it says otherwise, runs on the caller's thread and
 * never allocates memory for the caller.
 *
 * Threads: every function may be called from any thread. Within a process
 * the calls are serialised: a call waits until the call another thread is
 * running has returned, so the calls of several threads (each on its own
 * port, or on the same one) never mix their steps. Functions that only
 * answer a constant or a text of their own (SDGetVersion, ISDFoGetApiVersion,
 * SDGetErrorString, SDXlateSDMErr) and those that only answer "not
 * supported" never wait. Processes coordinate as before, through the shared
 * data file, the System V semaphores and the flash update token.
 *
 * Plain C99; usable from C++.
 */
#ifndef VXSDM_H
#define VXSDM_H

#include "vxsdm_diag.h"
#include "vxsdm_features.h"
#include "vxsdm_fo.h"
#include "vxsdm_port.h"
#include "vxsdm_stats.h"
#include "vxsdm_status.h"
#include "vxsdm_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- library, ports and handles ---- */

/* The library's version number 0x06040200 (not a status). With pVersion,
 * the text "v6.04 build2" and its NUL (13 bytes) are copied, cut to
 * VersionSize bytes (always terminated; nothing for a size of 0). */
VXSDM_API SD_UINT32 SDGetVersion(SD_PINT8 pVersion, SD_UINT32 VersionSize);

/* The number of adapter ports (not a status; 0 on failure). Starts the
 * library when it is not running and leaves it running. */
VXSDM_API SD_UINT32 SDGetNumberOfAdapters(void);

/* Opens port number Instance (from 0) and writes its handle through Device. */
VXSDM_API SD_UINT32 SDOpenDevice(SD_UINT32 Instance, int* Device);

VXSDM_API SD_UINT32 SDCloseDevice(int Device);

/* The operating-system block device name(s) of a LUN into devname, which must
 * hold 256 bytes; an empty text on failure. */
VXSDM_API SD_UINT32 vxa_get_os_device_name_by_handle(int Device, SD_UINT16 tgtid, SD_UINT16 lunid,
                                                     SD_INT8* devname);

/* SDERR_FIRMWARE_STATE when the firmware cannot be queried, else 0. */
VXSDM_API SD_UINT32 SDVerifyHbaState(int Device, SD_UINT16 HbaDevPortNum);

/* ---- status texts ---- */

/* The text of a status. Not to be freed or changed. The texts of unknown
 * codes are formatted into one buffer of the library, which the next such
 * call overwrites. */
VXSDM_API SD_PINT8 SDGetErrorString(SD_UINT32 ErrorCode);

/* The status for a driver status (ext_stat) and, for driver status 15, the
 * SCSI status byte (ext_dstat). */
VXSDM_API SD_UINT32 SDXlateSDMErr(SD_UINT32 ext_stat, SD_UINT32 ext_dstat);

/* ---- adapter properties ---- */

VXSDM_API SD_UINT32 SDGetHbaDeviceNodeProperty(int Device, PDEVICENODEPROPERTY phba_node_user);
VXSDM_API SD_UINT32 SDGetHbaDevicePortProperty(int Device, SD_UINT16 hba_port_num,
                                               PDEVICEPORTPROPERTY phba_port_user);
VXSDM_API SD_UINT32 SDGetDiscPortProperty(int Device, SD_UINT16 HbaDevPortNum, SD_UINT32 DiscPortNum,
                                          SD_UINT32 GetType, PDISCPORTPROPERTY pDiscPortProperty);
VXSDM_API SD_UINT32 SDGetDiscTargetProperty(int Device, SD_UINT16 HbaDevPortNum, SD_UINT32 DiscTargetNum,
                                            SD_UINT32 GetType, PDISCTARGETPROPERTY pDiscTargetProperty);
VXSDM_API SD_UINT32 SDGetHbaDeviceChipProperty(int Device, PCHIPPROPERTY pChipProperty);
VXSDM_API SD_UINT32 SDGetHbaDeviceDriverProperty(int Device, PDRIVERPROPERTY pDriverProperty);
VXSDM_API SD_UINT32 SDGetHbaDeviceFirmwareProperty(int Device, PFIRMWAREPROPERTY pFWProperty);

/* The port database into a DEVICEINFO of DeviceInfoSize bytes (at least
 * sizeof(DEVICEINFO)); SDERR_BUFFER_TOO_SMALL when not every device fitted. */
VXSDM_API SD_UINT32 SDGetPortDatabase(int Device, SD_UINT16 TypeMode, PDEVICEINFO pDeviceInfo,
                                      SD_UINT32 DeviceInfoSize);

/* Converged ports: Operation SD_CNA_*; *pCnaPortDataSize is the buffer's size
 * in, and the size used or needed out. */
VXSDM_API SD_UINT32 SDGetCnaPortData(int Device, SD_UINT16 CnaDevPortNum, SD_UINT32 Operation,
                                     SD_PUINT8 pCnaPortData, SD_PUINT32 pCnaPortDataSize);

/* ---- option ROM (flash) layout and reads ---- */

/* Loads the adapter's flash layout for the region functions; with pLayout
 * also returns it (SDERR_BUFFER_TOO_SMALL with the count needed in
 * NoOfRegions when the caller's table is smaller). */
VXSDM_API SD_UINT32 SDGetOptionRomLayout(int Device, SD_UINT16 HbaDevPortNum, PSDM_OPT_ROM_LAYOUT pLayout);

/* The whole option ROM image; BufferSize at least 131072. */
VXSDM_API SD_UINT32 SDGetOptionRom(int Device, SD_UINT16 HbaDevPortNum, SD_PUINT8 pBuffer, SD_UINT32 BufferSize);

/* BufferSize raw bytes from flash byte Offset. */
VXSDM_API SD_UINT32 SDGetOptionRomOffset(int Device, SD_UINT16 HbaDevPortNum, SD_PUINT8 pBuffer,
                                         SD_UINT32 BufferSize, SD_UINT32 Offset);

/* One whole region by its code; the buffer must hold the region's size as
 * SDGetOptionRomLayout reports it. */
VXSDM_API SD_UINT32 SDGetOptionRomEx(int Device, SD_UINT16 HbaDevPortNum, SD_PUINT8 pBuffer,
                                     SD_UINT32 BufferSize, SD_UINT32 Region);

/* ---- option ROM (flash) updates ----
 *
 * While another process holds a live flash update token for an adapter,
 * every write to it is refused with SDERR_FUT_NOT_SET before anything is
 * sent. */

/* Writes the whole option ROM image (at least 131072 bytes). The board's
 * subsystem vendor ID and BIOS defaults block are carried from the current
 * flash into the image, which pBuffer holds as written afterwards. */
VXSDM_API SD_UINT32 SDUpdateOptionRom(int Device, SD_UINT16 HbaDevPortNum, SD_PUINT8 pBuffer,
                                      SD_UINT32 BufferSize);

/* Writes BufferSize raw bytes at flash byte Offset. */
VXSDM_API SD_UINT32 SDUpdateOptionRomOffset(int Device, SD_UINT16 HbaDevPortNum, SD_PUINT8 pBuffer,
                                            SD_UINT32 BufferSize, SD_UINT32 Offset);

/* Writes one region by its code. With DisableReset 0 the written region is
 * activated at once where the chip asks for it; otherwise activation waits
 * for a reset (or SDOnlineActivateFlashUpdate). Ex carries the board's
 * settings into boot code regions; Ex2 writes every region as given and, on
 * the chips with two image sets, writes boot code and firmware regions only
 * under this process's flash update token. */
VXSDM_API SD_UINT32 SDUpdateOptionRomEx(int Device, SD_UINT16 DisableReset, SD_PUINT8 pBuffer,
                                        SD_UINT32 BufferSize, SD_UINT32 Region);
VXSDM_API SD_UINT32 SDUpdateOptionRomEx2(int Device, SD_UINT16 DisableReset, SD_PUINT8 pBuffer,
                                         SD_UINT32 BufferSize, SD_UINT32 Region);

/* ---- online flash updates (chips with two image sets) ---- */

VXSDM_API SD_UINT32 SDGetFlashUpdateCapabilities(int Device, SD_UINT16 HbaDevPortNum, SD_PUINT64 pCapabilities);
VXSDM_API SD_UINT32 SDSendFlashUpdateCapabilities(int Device, SD_UINT16 HbaDevPortNum, SD_UINT64 Capabilities,
                                                  SD_UINT32 OutageDuration);
/* Takes the adapter's flash update token (valid for 900 seconds) for this
 * process: SDERR_FUT_EXISTS while a live one exists. */
VXSDM_API SD_UINT32 SDStartFlashUpdate(int Device, SD_UINT16 HbaDevPortNum, SD_PINT32 pToken);
/* Gives the token back (SDERR_FUT_EXPIRED once it ran out) and reloads the
 * layout and the active image set. */
VXSDM_API SD_UINT32 SDEndFlashUpdate(int Device, SD_UINT16 HbaDevPortNum, SD_INT32 Token);
/* Activates the written firmware on every function of the adapter. */
VXSDM_API SD_UINT32 SDOnlineActivateFlashUpdate(int Device, SD_UINT16 HbaDevPortNum);

/* ---- NVRAM ---- */

/* The port's NVRAM image: 256 bytes on the oldest chips, 512 on the others
 * (a larger BufferSize asks for that much). Mode has no effect. */
VXSDM_API SD_UINT32 SDGetNVRam(int Device, SD_UINT16 HbaDevPortNum, SD_UINT32 Mode, SD_PUINT8 pBuffer,
                               SD_UINT32 BufferSize);
/* Writes the port's NVRAM image. On the chips that keep it in flash the last
 * 32-bit word of pBuffer becomes the image's checksum, and with DisableReset
 * 0 the region is activated. */
VXSDM_API SD_UINT32 SDUpdateNVRam(int Device, SD_UINT16 DisableReset, SD_UINT32 Mode, SD_PUINT8 pBuffer,
                                  SD_UINT32 BufferSize);
/* 0 when the NVRAM can be read, else SDERR_NVRAM_CHECKSUM. */
VXSDM_API SD_UINT32 SDVerifyHbaNVRam(int Device, SD_UINT16 HbaDevPortNum);

/* One setting of an NVRAM image held by the caller, laid out for the port's
 * chip. SDGetVariableValue returns the value (not a status), or
 * SDERR_INVALID_HANDLE for a bad handle. */
VXSDM_API SD_UINT32 SDGetVariableValue(int Device, SD_PUINT8 pNVRam, EnumNVRAMVar parmNumber);
VXSDM_API SD_UINT32 SDSetVariableValue(int Device, SD_PUINT8 pNVRam, EnumNVRAMVar parmNumber,
                                       SD_UINT32 dwSetValue);

/* ---- VPD ---- */

/* The port's VPD: at most *pBufferSize bytes are copied (512 at most, 1024 on
 * the chips that keep it in flash region 0x81); *pBufferSize is not changed. */
VXSDM_API SD_UINT32 SDGetVpd(int Device, SD_UINT16 HbaDevPortNum, SD_PUINT8 pBuffer, SD_PUINT32 pBufferSize);
VXSDM_API SD_UINT32 SDUpdateVpd(int Device, SD_UINT16 HbaDevPortNum, SD_PUINT8 pBuffer, SD_PUINT32 pBufferSize);
/* Writes the same VPD to this port and to the adapter's other physical port. */
VXSDM_API SD_UINT32 SD24xxSaveVpd(int Device, SD_PUINT8 pvpd, SD_UINT32 buf_size);

/* ---- SCSI pass-through ----
 *
 * A SCSI command to a LUN, addressed by SCSI address on the port's SCSI host
 * (TARGETINFORMATION: TargetID and LUN; every command goes to bus 0) or by
 * the remote port's WWPN (DESTINATIONADDRESS, AddressType 2). The CDB has at
 * most 16 bytes; a command carries data out (pReqBuf) or data in (pRespBuf),
 * not both. A device that ends the command with CHECK CONDITION gives
 * SDERR_SCSI_CHECK_CONDITION with its sense data in the sense buffer (at most
 * SenseBufSize bytes, and at most 256 by WWPN); data overrun and underrun
 * give SDERR_DATA_OVERRUN / SDERR_DATA_UNDERRUN, the data delivered. The
 * SCSI-address form needs a data buffer; on ports the driver serves through
 * sysfs it also needs the sense buffer. */
VXSDM_API SD_UINT32 SDSendScsiPassThru(int Device, PTARGETINFORMATION pTargetInfo, SD_PUINT8 pCdbBuf,
                                       SD_UINT32 ValidCdbLen, SD_PVOID pReqBuf, SD_UINT32 ReqBufSize,
                                       SD_PVOID pRespBuf, SD_UINT32 RespBufSize, SD_PUINT8 pSenseBuf,
                                       SD_UINT32 SenseBufSize);
VXSDM_API SD_UINT32 SDSendScsiPassThruFC(int Device, PDESTINATIONADDRESS pDestAddr, SD_PUINT8 pCdbBuf,
                                         SD_UINT32 ValidCdbLen, SD_PVOID pReqBuf, SD_UINT32 ReqBufSize,
                                         SD_PVOID pRespBuf, SD_UINT32 RespBufSize, SD_PUINT8 pSenseBuf,
                                         SD_UINT32 SenseBufSize);

/* INQUIRY (allocation length RespSize, at most 255) and READ CAPACITY(10),
 * whose data stay in the device's byte order. */
VXSDM_API SD_UINT32 SDSendScsiInquiryCmd(int Device, PTARGETINFORMATION pTargetInfo, SD_PVOID pResp,
                                         SD_UINT32 RespSize, SD_PUINT8 pSense, SD_UINT32 SenseSize);
VXSDM_API SD_UINT32 SDSendScsiReadCapacityCmd(int Device, PTARGETINFORMATION pTargetInfo, SD_PVOID pResp,
                                              SD_UINT32 RespSize, SD_PUINT8 pSense, SD_UINT32 SenseSize);
VXSDM_API SD_UINT32 SDSendScsiInquiryCmdFC(int Device, PDESTINATIONADDRESS pDestAddr, SD_PVOID pResp,
                                           SD_UINT32 RespSize, SD_PUINT8 pSense, SD_UINT32 SenseSize);
VXSDM_API SD_UINT32 SDSendScsiReadCapacityCmdFC(int Device, PDESTINATIONADDRESS pDestAddr, SD_PVOID pResp,
                                                SD_UINT32 RespSize, SD_PUINT8 pSense, SD_UINT32 SenseSize);

/* REPORT LUNS. A target that refuses the command with ILLEGAL REQUEST in
 * fixed-format sense has LUNs 0 to 255 probed instead: the list of the LUNs
 * found is built in pRespBuf (its length in bytes 0 to 3 counts every LUN
 * found, the entries are those that fit RespBufSize, which must be at least
 * 8) and the status is SDERR_NOT_FROM_DEVICE; the LUN field of the address
 * is left at the last LUN probed. */
VXSDM_API SD_UINT32 SDSendScsiReportLunsCmd(int Device, PTARGETINFORMATION pTargetInfo, SD_PVOID pRespBuf,
                                            SD_UINT32 RespBufSize, SD_PUINT8 pSense, SD_UINT32 SenseSize);
VXSDM_API SD_UINT32 SDSendScsiReportLunsCmdFC(int Device, PDESTINATIONADDRESS pDestAddr, SD_PVOID pRespBuf,
                                              SD_UINT32 RespBufSize, SD_PUINT8 pSense, SD_UINT32 SenseSize);

/* ---- CT and ELS pass-through ---- */

/* A whole CT information unit to the fabric's servers, and its answer. The
 * port must be up and attached to a fabric (SDERR_UNKNOWN otherwise). */
VXSDM_API SD_UINT32 SDSendCTPassThru(int Device, SD_PVOID pReqBuffer, SD_UINT32 ReqBufferSize,
                                     SD_PVOID pRespBuffer, SD_UINT32 RespBufferSize);

/* An ELS ECHO of ReqDataSize bytes to the remote port of pTargetAddr
 * (AddressType 2); *pRespDataSize must equal ReqDataSize. The echoed data
 * are not compared with those sent. A rejected ECHO gives
 * SDERR_ELS_REJECTED with the reject's reply code, reason code, explanation
 * and vendor byte at offsets 0, 5, 6 and 7 of pRespData, as far as
 * *pRespDataSize reaches, and *pRespDataSize cut to 8. */
VXSDM_API SD_UINT32 SDSendElsEcho(int Device, SD_UINT16 HbaDevPortNum, PDESTINATIONADDRESS pTargetAddr,
                                  SD_PUINT8 pReqData, SD_UINT32 ReqDataSize, SD_PUINT8 pRespData,
                                  SD_PUINT32 pRespDataSize);

/* ---- asynchronous events ---- */

/* Registers the port with the driver for its events; from then on the
 * library collects them (every 15 seconds) for every process using it. */
VXSDM_API SD_UINT32 SDEnableAen(int Device);

/* Ends the collection of the port's events in this process. The driver
 * registration ends only when no other process uses the library. */
VXSDM_API SD_UINT32 SDDisableAen(int Device);

/* Takes this process's collected events of the port (at most 64 a call),
 * oldest first. The array of AEventBufSize bytes holds AEventBufSize / 16
 * events; when fewer fit than were taken, the newest that fit are written
 * and the older ones are lost. *pAEventCount: events written.
 * SDERR_INVALID_REQUEST when the port's events are not enabled. */
VXSDM_API SD_UINT32 SDGetAen(int Device, PASYNCEVENT pAEvents, SD_UINT32 AEventBufSize,
                             SD_PUINT32 pAEventCount);

/* ---- HBA feature settings ----
 *
 * Five features over the driver's "Bind=" and "ConfigRequired=" module
 * parameters, kept in the driver's options line of the host's module
 * configuration file. A setter rewrites that line and refreshes the module
 * dependencies; the driver sees the change at its next load. */

/* The five supported features. SDERR_BUFFER_TOO_SMALL with Count set to 5
 * when the list has room for fewer. */
VXSDM_API SD_UINT32 SDGetHbaSupportedFeatureList(int Device, PHBA_FEATURE_LIST pFeatureList);
VXSDM_API SD_UINT32 SDGetHbaFeature(int Device, SD_UINT32 FeatureId, PHBA_FEATURE_ENTRY pFeature);
/* Flag 0 with Value 1 switches the feature on; Flag 1 changes nothing. */
VXSDM_API SD_UINT32 SDSetHbaFeature(int Device, SD_UINT32 FeatureId, SD_UINT32 Value, SD_UINT32 Flag);
/* The settings of the list together, all or none: the options line is
 * rebuilt from the list alone. */
VXSDM_API SD_UINT32 SDSetHbaFeatureList(int Device, PHBA_FEATURE_SETTING_LIST pSettingList);

/* ---- entry points that are not supported: each returns SDERR_NOT_SUPPORTED ---- */

VXSDM_API SD_UINT32 SDSwapTargetDevice(int Device, PDEVICEINFOENTRY pExistDeviceEntryInfo,
                                       PDEVICEINFOENTRY pNewDeviceEntryInfo);
VXSDM_API SD_UINT32 SDGetHbaDevicePortLunMask(int Device, SD_UINT16 HbaDevPortNum,
                                              PTARGETINFORMATION pTargetInfo, SD_UINT32 Size,
                                              SD_UINT8* pBuffer, SD_UINT32 Action);
VXSDM_API SD_UINT32 SDUpdateHbaDevicePortLunMask(int Device, SD_UINT16 HbaDevPortNum,
                                                 PTARGETINFORMATION pTargetInfo, SD_UINT32 Size,
                                                 SD_UINT8* pBuffer, SD_UINT32 Action);
VXSDM_API SD_UINT32 SDGetPositionalMap(int Device, SD_UINT16 HbaDevPortNum, SD_PINT8 pPositionalMap,
                                       SD_UINT32 MapSize);
VXSDM_API SD_UINT32 SDSetMgmtAddress(int Device, PMANAGEMENTADDRESS pMgmtAddr);
VXSDM_API SD_UINT32 SDGetMgmtAddress(int Device, SD_PVOID pRespBuffer, SD_UINT32 RespBufferSize);
VXSDM_API SD_UINT32 SDGetDriverParameters(int Device, SD_UINT16 HbaDevPortNum, PDRIVERNVRAMPARAMS pBuffer);
VXSDM_API SD_UINT32 SDGetFirmWare(int Device, SD_UINT16 HbaDevPortNum, SD_UINT32 Size, SD_PINT8 pBuffer);
VXSDM_API SD_UINT32 SDGetFirmWareParameter(int Device, SD_UINT16 HbaDevPortNum, SD_UINT32 Size,
                                           SD_UINT8* pBuffer);
VXSDM_API SD_UINT32 SDGetFlash(int Device, SD_UINT16 HbaDevPortNum, SD_UINT32 Size, SD_UINT8* pBuffer);
VXSDM_API SD_UINT32 SDResetStatistics(int Device, SD_UINT16 HbaDevPortNum);
VXSDM_API SD_UINT32 SDMapScsiTargetToVolumes(SD_UINT16 HbaDevPortNum, PTARGETINFORMATION pTargetInfo,
                                             SD_PINT8 pVolumes, SD_UINT32 VolumeSize);
VXSDM_API SD_UINT32 SDEnableDebugTrace(int* pDevice, SD_PINT8 pFileName, SD_UINT32 TraceFlags);
VXSDM_API SD_UINT32 SDGetFirmwareCode(int Device, SD_UINT16 HbaDevPortNum, SD_PUINT8 pBuffer,
                                      SD_UINT32 BufferSize);
VXSDM_API SD_UINT32 SDMapVolumeToScsiTarget(SD_PINT8 pVolume, SD_PUINT16 pHbaDevPortNum,
                                            PTARGETINFORMATION pTargetInfo);
VXSDM_API SD_UINT32 SDGetFirmwareParameters(int Device, SD_UINT16 HbaDevPortNum,
                                            PFIRMWARENVRAMPARAMS pFirmwareNVRam);
VXSDM_API SD_UINT32 SDSendElsRnid(int Device, PFABRICADDRESS pFabricAddress, SD_UINT16 NIDFormat,
                                  SD_PVOID pRspBuffer, SD_UINT32 RspBufferSize);
VXSDM_API SD_UINT32 SDGetHbaTargetLunMaskFC(int Device, SD_UINT16 HbaDevPortNum,
                                            PDESTINATIONADDRESS pTargetAddr, SD_UINT32 Mode,
                                            SD_PUINT8 pBuffer, SD_UINT32 BufferSize);
VXSDM_API SD_UINT32 SDUpdateHbaTargetLunMaskFC(int Device, SD_UINT16 HbaDevPortNum,
                                               PDESTINATIONADDRESS pTargetAddr, SD_UINT32 Mode,
                                               SD_PUINT8 pBuffer, SD_UINT32 BufferSize);

#ifdef __cplusplus
}
#endif

#endif /* VXSDM_H */
