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
 * fork(): a process may fork from any thread at any moment. The fork waits
 * for a call that another thread is running. The child keeps the ports it
 * had open, with their handles, and its first call gives it a slot in the
 * shared data file, netlink sockets and (where the parent ran one) an event
 * thread of its own; the parent's slot, flash update token and threads stay
 * the parent's, and the child's last close releases only what is its own.
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

/**
 * @file vxsdm.h
 * @brief The adapter management API: ports and handles, status texts,
 * adapter properties, flash, NVRAM, VPD, pass-through, events and feature
 * settings. A program includes this header; it includes the others.
 *
 * @par The statuses of a request
 * A function that sends a request to the port's driver turns its outcome
 * into the status in one order: a nonzero driver status gives its
 * translation (SDXlateSDMErr; data overrun and underrun count as done only
 * where a function says so); a system call that failed gives its errno
 * (SDERR_UNKNOWN when it left none); any other failure of the request gives
 * SDERR_UNKNOWN. The function comments call these "the request's statuses".
 *
 * @par Records answered in part
 * Where the driver's answer is one record of fixed size (the properties and
 * statistics, the beacon state, the board temperature, a SerDes register,
 * the flash update capabilities, a remote port's speed, the transceiver
 * pages and the loopback result on ports served through the driver's node),
 * an answer that the driver gives as success with only part of the record
 * is a data underrun: SDERR_DATA_UNDERRUN among the request's statuses,
 * never success. The functions that take a driver's underrun as done (the
 * node, port, discovered port and discovered target properties) fill their
 * record from what came, zeros standing for the rest; the others write as
 * for any failed request.
 */

#ifdef __cplusplus
extern "C" {
#endif

/* ---- library, ports and handles ---- */

/**
 * @brief Returns the library's version number and copies its text.
 *
 * The number is 0x06040200 (not a status). With pVersion, the text
 * "v6.04 build2" and its NUL (13 bytes) are copied, cut to VersionSize bytes
 * (always terminated; nothing for a size of 0).
 *
 * @par Writes
 * pVersion: at most VersionSize bytes, when pVersion is not null and
 * VersionSize is not 0; nothing otherwise.
 * @return 0x06040200, always.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetVersion(SD_PINT8 pVersion, SD_UINT32 VersionSize);

/**
 * @brief Counts the adapter ports of the host.
 *
 * Starts the library when it is not running and leaves it running; opens no
 * port.
 *
 * @par Writes
 * Nothing.
 * @return The number of ports (not a status); 0 when the library cannot be
 * started or its shared data file is not set up.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetNumberOfAdapters(void);

/**
 * @brief Opens port number Instance (from 0) and writes its handle through
 * Device.
 *
 * The first open of the process starts the library. Opening an open port
 * again gives the same handle and takes one more SDCloseDevice. A failed
 * open that started the library leaves it running.
 *
 * @par Writes
 * *Device, only when the status is SDERR_NO_ERROR; nothing otherwise.
 * @return SDERR_NO_ERROR; SDERR_INVALID_PARAMETER (Device is null; nothing
 * is started); SDERR_DEVICE_NOT_FOUND (the library found no adapter port);
 * SDERR_UNKNOWN (the library could not be started, for instance without
 * super-user rights); SDERR_NOT_SUPPORTED (the shared data file is not in
 * use); SDERR_OUT_OF_MEMORY (the shared data file is not set up);
 * SDERR_DEVICE_NOT_FOUND (no port Instance: the scan of instances is
 * complete); the errno of the failed open of the port's device node, or
 * SDERR_UNKNOWN when it left none.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDOpenDevice(SD_UINT32 Instance, int* Device);

/**
 * @brief Closes one open of the port of Device.
 *
 * The handle stays valid until the port's last close. The close that leaves
 * no port of the process open stops the library; a later call with the old
 * handle gives SDERR_INVALID_HANDLE.
 *
 * @par Writes
 * Nothing.
 * @return SDERR_NO_ERROR; SDERR_NOT_SUPPORTED (the shared data file is not
 * in use); SDERR_NO_ERROR at once when no port of the process is open,
 * whatever Device is; SDERR_INVALID_HANDLE (the shared data file cannot be
 * attached or is not set up); SDERR_INVALID_HANDLE (Device names no open
 * port); the errno of the failed close of the device node, or SDERR_UNKNOWN
 * when it left none (the port then still counts as open and the library
 * keeps running).
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDCloseDevice(int Device);

/**
 * @brief Sets up the clean-up on signals: a hang-up, interrupt, quit or
 * terminate signal stops the library before it ends the process.
 *
 * The library never sets it up by itself; a program that wants it calls
 * this. The set-up starts a thread of the library and replaces the
 * program's own actions for SIGHUP, SIGINT, SIGQUIT and SIGTERM, an ignored
 * signal included, by a handler that only wakes that thread. The thread
 * stops the library (as the last SDCloseDevice does, so the process leaves
 * nothing behind in the data it shares with other processes), gives the
 * four signals their default actions and raises the signal again, which
 * ends the process. The interrupted code runs on until then; a second such
 * signal in that time ends the process at once.
 *
 * The set-up lasts until the library stops: the close that leaves no port of
 * the process open puts the program's former actions back and ends the
 * thread. So a program calls this once the library runs (after its first
 * SDOpenDevice or SDGetNumberOfAdapters), and again after each later start.
 * It needs no adapter and starts nothing else: called while the library is
 * not running, it sets up all the same, stays through a start, and a signal
 * then ends the process with nothing to stop. A child made by fork()
 * inherits the handler but not the thread: there a signal takes its default
 * action at once, until the child calls this itself.
 *
 * @par Writes
 * The actions of SIGHUP, SIGINT, SIGQUIT and SIGTERM; the former ones are
 * kept and put back when the library stops.
 * @return 0 when the four signals are handled; -1 otherwise (when no pipe or
 * thread could be had, nothing is set up and a later call tries again). A
 * call while the clean-up is set up changes nothing and returns the first
 * call's result.
 * @par Threads
 * Any thread, but not from a signal handler; calls are serialised within the
 * process.
 */
VXSDM_API int vxapi_setup_signal_handlers(void);

/**
 * @brief The operating-system block device name(s) of a LUN of the port.
 *
 * Names the device of target tgtid, LUN lunid into devname, which must hold
 * 256 bytes.
 *
 * @par Writes
 * devname: an empty text first, then the name(s) when the status is
 * SDERR_NO_ERROR; an empty text on every failure (nothing when devname is
 * null).
 * @return SDERR_NO_ERROR; SDERR_INVALID_PARAMETER (devname is null);
 * SDERR_INVALID_HANDLE; SDERR_DEVICE_NOT_FOUND (the LUN has no
 * operating-system device).
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 vxa_get_os_device_name_by_handle(int Device, SD_UINT16 tgtid, SD_UINT16 lunid,
                                                     SD_INT8* devname);

/**
 * @brief Checks that the port's firmware can be queried.
 *
 * Asks for the firmware property (SDGetHbaDeviceFirmwareProperty).
 * HbaDevPortNum is not used.
 *
 * @par Writes
 * Nothing.
 * @return SDERR_NO_ERROR; SDERR_FIRMWARE_STATE for every failure of the
 * query, a bad handle included.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDVerifyHbaState(int Device, SD_UINT16 HbaDevPortNum);

/* ---- status texts ---- */

/**
 * @brief The text of a status.
 *
 * The text is not to be freed or changed. The text of a code without one of
 * its own ("Unknown Error" and the code in hexadecimal for codes from
 * 0x20000000, "System Error" and the number for an errno) is formatted into
 * one buffer of the library, which the next such call overwrites.
 *
 * @par Writes
 * Nothing of the caller's; the library's buffer for a code without a text.
 * @return The text, never null (not a status).
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_PINT8 SDGetErrorString(SD_UINT32 ErrorCode);

/**
 * @brief The status for a driver status.
 *
 * ext_stat is the driver's status; for driver status 15 the status comes
 * from the SCSI status byte in ext_dstat (GOOD gives SDERR_NO_ERROR).
 *
 * @par Writes
 * Nothing.
 * @return The status: SDERR_NO_ERROR for driver status 0; the status of the
 * driver's code; SDERR_NOT_SUPPORTED for driver statuses above 33.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDXlateSDMErr(SD_UINT32 ext_stat, SD_UINT32 ext_dstat);

/* ---- adapter properties ----
 *
 * The first four queries take data overrun and underrun from the driver as
 * a completed request: the record is filled and the status is
 * SDERR_DATA_OVERRUN or SDERR_DATA_UNDERRUN. Fields a query does not set
 * keep the caller's values. */

/**
 * @brief The adapter (node) of the port: names, model, serial number and
 * versions.
 *
 * Fills the node's world-wide name, manufacturer, model, serial number,
 * driver, firmware and option ROM versions, port count, interface type,
 * attributes and boot code versions. On the chips that run MPI and PEP
 * firmware it also fills their running versions and, through the adapter's
 * flash layout (loaded as SDGetOptionRomLayout does), their versions in
 * flash; SD_BIVALID_MPI and SD_BIVALID_PEP are added only when those were
 * read.
 *
 * @par Writes
 * *phba_node_user, when the status is SDERR_NO_ERROR, SDERR_DATA_OVERRUN or
 * SDERR_DATA_UNDERRUN; when the layout load fails, the record filled so far
 * (everything but the MPI and PEP versions in flash) with the load's status;
 * nothing otherwise. BIValid gains the bits of the versions filled (on a
 * port the driver serves through sysfs, SD_BIVALID_FW, SD_BIVALID_EFI and
 * SD_BIVALID_FCODE only for a version that came; through the driver's node,
 * all three); Reserved is not written.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_INVALID_PARAMETER
 * (phba_node_user is null); the request's statuses, SDERR_DATA_OVERRUN and
 * SDERR_DATA_UNDERRUN for a completed request; on the chips with MPI and PEP
 * firmware, a failure of the layout load. A text longer than its field
 * (model, serial number, driver, firmware or option ROM version) is its
 * first characters up to the field's size less one, and a terminator.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetHbaDeviceNodeProperty(int Device, PDEVICENODEPROPERTY phba_node_user);

/**
 * @brief The port itself: names, address, type, state, counts and speed.
 *
 * hba_port_num is not used.
 *
 * @par Writes
 * *phba_port_user, only when the status is SDERR_NO_ERROR,
 * SDERR_DATA_OVERRUN or SDERR_DATA_UNDERRUN; nothing otherwise. DeviceName
 * and Reserved are not written; PortType and ConnectionMode only when the
 * driver reports 1 or 2.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_INVALID_PARAMETER
 * (phba_port_user is null); the request's statuses, SDERR_DATA_OVERRUN and
 * SDERR_DATA_UNDERRUN for a completed request.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetHbaDevicePortProperty(int Device, SD_UINT16 hba_port_num,
                                               PDEVICEPORTPROPERTY phba_port_user);

/**
 * @brief A port the port has discovered, by its number DiscPortNum.
 *
 * The low 16 bits of DiscPortNum are used. HbaDevPortNum and GetType are not
 * used. On a port the driver serves through sysfs, a remote port that the
 * driver has not bound to a SCSI target (its target id reads -1, or it has
 * none) has TargetID 0xFFFF; no target number names it.
 *
 * @par Writes
 * *pDiscPortProperty, only when the status is SDERR_NO_ERROR,
 * SDERR_DATA_OVERRUN or SDERR_DATA_UNDERRUN; nothing otherwise. Local,
 * ReservedByte and Reserved are not written; PortType only when the driver
 * reports 1 or 2.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_INVALID_PARAMETER
 * (pDiscPortProperty is null); the request's statuses, SDERR_DATA_OVERRUN
 * and SDERR_DATA_UNDERRUN for a completed request.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetDiscPortProperty(int Device, SD_UINT16 HbaDevPortNum, SD_UINT32 DiscPortNum,
                                          SD_UINT32 GetType, PDISCPORTPROPERTY pDiscPortProperty);

/**
 * @brief A target the port has discovered, by its number DiscTargetNum.
 *
 * The low 16 bits of DiscTargetNum are used. HbaDevPortNum and GetType are
 * not used.
 *
 * @par Writes
 * *pDiscTargetProperty, only when the status is SDERR_NO_ERROR,
 * SDERR_DATA_OVERRUN or SDERR_DATA_UNDERRUN; nothing otherwise. Local,
 * ReservedByte and Reserved are not written.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_INVALID_PARAMETER
 * (pDiscTargetProperty is null); the request's statuses, SDERR_DATA_OVERRUN
 * and SDERR_DATA_UNDERRUN for a completed request; SDERR_DEVICE_NOT_FOUND
 * (the driver knows the target, but it is not present).
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetDiscTargetProperty(int Device, SD_UINT16 HbaDevPortNum, SD_UINT32 DiscTargetNum,
                                            SD_UINT32 GetType, PDISCTARGETPROPERTY pDiscTargetProperty);

/**
 * @brief The PCI function behind the port.
 *
 * PortNumber is the port's number on its adapter as the library found it
 * (0 when unknown).
 *
 * @par Writes
 * *pChipProperty, only when the status is SDERR_NO_ERROR; nothing
 * otherwise. Reserved1 and Reserved are not written.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_INVALID_PARAMETER
 * (pChipProperty is null); the request's statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetHbaDeviceChipProperty(int Device, PCHIPPROPERTY pChipProperty);

/**
 * @brief The port's driver: its version and limits.
 *
 * @par Writes
 * *pDriverProperty, only when the status is SDERR_NO_ERROR; nothing
 * otherwise. Reserved is not written.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_INVALID_PARAMETER
 * (pDriverProperty is null); the request's statuses. A version text longer
 * than the 31 characters Version holds is its first 31 characters.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetHbaDeviceDriverProperty(int Device, PDRIVERPROPERTY pDriverProperty);

/**
 * @brief The version of the port's running firmware.
 *
 * @par Writes
 * Version[0..2] of *pFWProperty, only when the status is SDERR_NO_ERROR;
 * nothing otherwise, and no other field.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_INVALID_PARAMETER
 * (pFWProperty is null); the request's statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetHbaDeviceFirmwareProperty(int Device, PFIRMWAREPROPERTY pFWProperty);

/**
 * @brief The port database: the devices the driver knows.
 *
 * pDeviceInfo is a DEVICEINFO of DeviceInfoSize bytes (at least
 * sizeof(DEVICEINFO)), which holds as many entries as fit, and at most 255.
 * The bits 0x1, 0x2, 0x4, 0x8, 0x10 and 0x1000 of TypeMode go to the driver,
 * which selects the devices by them. A loop device whose address the driver
 * left empty gets the AL_PA of its loop identifier in PortID[2]. On a port
 * the driver serves through sysfs, a device that the driver has not bound to
 * a SCSI target has TargetAddress.TargetID 0xFFFF.
 *
 * @par Writes
 * TotalDevices, ReturnListEntryCount and the entries that fit, only when the
 * request completed: status SDERR_NO_ERROR, or SDERR_BUFFER_TOO_SMALL after
 * the request; nothing otherwise.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_INVALID_PARAMETER
 * (pDeviceInfo is null); SDERR_BUFFER_TOO_SMALL (DeviceInfoSize below
 * sizeof(DEVICEINFO)); SDERR_OUT_OF_MEMORY; the request's statuses;
 * SDERR_UNKNOWN (the reply is shorter than its head);
 * SDERR_BUFFER_TOO_SMALL (TotalDevices is more than the entries written).
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetPortDatabase(int Device, SD_UINT16 TypeMode, PDEVICEINFO pDeviceInfo,
                                      SD_UINT32 DeviceInfoSize);

/**
 * @brief Data of a converged port, by Operation SD_CNA_*.
 *
 * *pCnaPortDataSize is the buffer's size in, and the size used or needed
 * out. SD_CNA_GET_PORT_ID takes a buffer of exactly 128 bytes (a
 * CNAPORTPROPERTY); SD_CNA_GET_DCBX_PARAMS one of at least 64 bytes;
 * SD_CNA_GET_REGION_VERSIONS one that holds the ADAPTERREGIONVERSION list of
 * the adapter's component versions. Data overrun and underrun from the
 * driver give SDERR_DATA_OVERRUN and SDERR_DATA_UNDERRUN with nothing copied;
 * a port identity record the driver answered short of its bytes is an
 * underrun. CnaDevPortNum is not used.
 *
 * @par Writes
 * On SDERR_NO_ERROR after a clean completion: for SD_CNA_GET_PORT_ID,
 * VLanId, VNPortMACAddress and (0x8000, when the driver's fabric parameters
 * are not valid) FabricParam of the CNAPORTPROPERTY in pCnaPortData; for
 * SD_CNA_GET_DCBX_PARAMS, the driver's block, as much as fits, and its
 * length in *pCnaPortDataSize; for SD_CNA_GET_REGION_VERSIONS, the list and
 * zeros in the rest of the buffer. With SDERR_BUFFER_TOO_SMALL, the size
 * needed in *pCnaPortDataSize. Nothing otherwise.
 * @return SDERR_NO_ERROR; SDERR_INVALID_PARAMETER (a pointer is null);
 * SDERR_INVALID_HANDLE; SDERR_NOT_SUPPORTED (not a converged chip); by
 * Operation: SDERR_INVALID_PARAMETER (a port identity buffer that is not 128
 * bytes), SDERR_BUFFER_TOO_SMALL (a smaller buffer than the operation
 * needs), SDERR_OUT_OF_MEMORY, SDERR_INVALID_PARAMETER (any other
 * Operation); the request's statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetCnaPortData(int Device, SD_UINT16 CnaDevPortNum, SD_UINT32 Operation,
                                     SD_PUINT8 pCnaPortData, SD_PUINT32 pCnaPortDataSize);

/* ---- option ROM (flash) layout and reads ----
 *
 * The region functions find a region through the process-wide flash layout,
 * which describes the adapter whose layout was loaded last; each of them
 * loads its own adapter's layout first.
 *
 * A sysfs driver without chunked flash access moves the flash whole: every
 * read and write on it, raw or by region, reads (and writes) the adapter's
 * whole flash. Its place and size come from the port's own adapter, never
 * from the process-wide layout: the whole-flash region of the layout read
 * from the adapter's flash, else that of the chip's fixed layout (the layout
 * SDGetOptionRomLayout reports for a chip without its own). An adapter
 * whose layout names no whole flash gets SDERR_NOT_SUPPORTED there before
 * anything is sent to the driver. Without a bsg node on such a driver, the
 * chips without a fixed layout (those that keep their NVRAM in flash) never
 * have their flash layout table read, since its read needs the size the
 * table names: their flash is out of reach, and every call on it, the layout
 * and every call that loads it first included, answers SDERR_NOT_SUPPORTED.
 *
 * On a sysfs driver, with or without chunked access, a read whose bytes
 * all came succeeds though the driver refused to close its window (one that
 * stayed busy on the close still gives SDERR_DEVICE_BUSY). An update fails
 * when the driver refused any of its steps (SDERR_UNKNOWN, or
 * SDERR_DEVICE_BUSY when the driver stayed busy), the release of its read of
 * the flash it rewrites included: then nothing is written. */

/**
 * @brief Loads the adapter's flash layout for the region functions and,
 * with pLayout, returns it.
 *
 * The layout becomes the process-wide layout. A layout has at most 255
 * regions; region codes are 0 to 255. HbaDevPortNum is not used.
 *
 * @par Writes
 * The process-wide layout, whenever the layout was loaded. With pLayout:
 * Size, NoOfRegions and the regions when the status is SDERR_NO_ERROR;
 * NoOfRegions, the count needed, with SDERR_BUFFER_TOO_SMALL; nothing
 * otherwise.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_OUT_OF_MEMORY;
 * SDERR_UNKNOWN (a chip whose flash describes its own layout, when none was
 * read at the port's discovery); SDERR_NOT_SUPPORTED instead where the
 * adapter's flash is out of reach of its driver (a sysfs driver without
 * chunked flash access nor bsg, see above); the request's statuses, where the
 * layout is asked of the driver; SDERR_BUFFER_TOO_SMALL (the caller's table
 * holds fewer regions).
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetOptionRomLayout(int Device, SD_UINT16 HbaDevPortNum, PSDM_OPT_ROM_LAYOUT pLayout);

/**
 * @brief Reads the whole option ROM image.
 *
 * BufferSize is at least 131072. The adapter's layout is loaded first. On a
 * port the driver serves through sysfs, a buffer smaller than the layout's
 * whole-flash region (0xFF) is refused before anything is read.
 *
 * @par Writes
 * pBuffer: the image, up to BufferSize bytes; after a failed read it may
 * hold part of it. The process-wide layout.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_INVALID_PARAMETER
 * (BufferSize below 131072); SDERR_INVALID_PARAMETER (pBuffer is null); a
 * failure of the layout load; SDERR_BUFFER_TOO_SMALL; the request's
 * statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetOptionRom(int Device, SD_UINT16 HbaDevPortNum, SD_PUINT8 pBuffer, SD_UINT32 BufferSize);

/**
 * @brief Reads BufferSize raw bytes from flash byte Offset.
 *
 * No layout is loaded. HbaDevPortNum is not used.
 *
 * @par Writes
 * pBuffer: the bytes read, up to BufferSize; after a failed read it may
 * hold part of them.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_INVALID_PARAMETER
 * (pBuffer is null); SDERR_NOT_SUPPORTED (a driver that moves the flash
 * whole, for an adapter whose layout names no whole flash; nothing sent);
 * the request's statuses (a read whose bytes all came succeeds though the
 * driver refused to close its window).
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetOptionRomOffset(int Device, SD_UINT16 HbaDevPortNum, SD_PUINT8 pBuffer,
                                         SD_UINT32 BufferSize, SD_UINT32 Offset);

/**
 * @brief Reads one whole region by its code.
 *
 * The adapter's layout is loaded first; the buffer must hold the region's
 * size as SDGetOptionRomLayout reports it. Where that size comes from the
 * layout (ports the driver serves through sysfs, chips whose flash describes
 * its own layout), a smaller buffer is refused before anything is read. A
 * virtual port that the driver serves through sysfs reads through its
 * physical port on PCI devices 0x2422 and 0x2432 and on the chips whose
 * flash describes its own layout. HbaDevPortNum is not used beyond the
 * layout load.
 *
 * @par Writes
 * pBuffer: the region, up to BufferSize bytes; after a failed read it may
 * hold part of it. The process-wide layout.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_INVALID_PARAMETER
 * (pBuffer is null); a failure of the layout load; SDERR_BUFFER_TOO_SMALL;
 * the request's statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetOptionRomEx(int Device, SD_UINT16 HbaDevPortNum, SD_PUINT8 pBuffer,
                                     SD_UINT32 BufferSize, SD_UINT32 Region);

/* ---- option ROM (flash) updates ----
 *
 * While another process holds a live flash update token for an adapter,
 * every write to it is refused with SDERR_FUT_NOT_SET before anything is
 * sent. */

/**
 * @brief Writes the whole option ROM image (at least 131072 bytes).
 *
 * The board's subsystem vendor ID and BIOS defaults block are carried from
 * the current flash into every x86 BIOS image of pBuffer (and, on the chips
 * that keep their VPD inside the image, that VPD), which then holds the image
 * as written. On the chips whose VPD carries the boot code's version keywords,
 * those keywords are rewritten from the new image and the VPD saved to both
 * physical ports (SD24xxSaveVpd). The adapter's layout is loaded first.
 * HbaDevPortNum is not used beyond the layout load.
 *
 * @par Writes
 * pBuffer, patched in place before the write; the process-wide layout.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_NOT_SUPPORTED (a
 * virtual port); SDERR_INVALID_PARAMETER (BufferSize below 131072);
 * SDERR_NOT_SUPPORTED (a chip without this write: PCI device 0x0101, 0x8021
 * or 0x8044); SDERR_FUT_NOT_SET; a failure of the layout load;
 * SDERR_INVALID_PARAMETER (pBuffer is null); SDERR_OUT_OF_MEMORY; the
 * statuses of the read of the current flash; SDERR_VPD_UPDATE with nothing
 * written (on the chips that keep their VPD inside the image, the current
 * flash holds a VPD that cannot be carried into the new image); the
 * statuses of the write (the flash as the driver left it); after a good
 * write, the statuses of the VPD read and save (SDGetVpd, SD24xxSaveVpd) or
 * SDERR_VPD_UPDATE.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDUpdateOptionRom(int Device, SD_UINT16 HbaDevPortNum, SD_PUINT8 pBuffer,
                                      SD_UINT32 BufferSize);

/**
 * @brief Writes BufferSize raw bytes at flash byte Offset.
 *
 * No layout is loaded and nothing is activated. HbaDevPortNum is not used.
 *
 * @par Writes
 * Nothing of the caller's.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_NOT_SUPPORTED (a
 * virtual port); SDERR_INVALID_PARAMETER (pBuffer is null);
 * SDERR_FUT_NOT_SET; SDERR_NOT_SUPPORTED (a driver that moves the flash
 * whole, for an adapter whose layout names no whole flash; nothing sent);
 * the request's statuses: a failed read of the flash around the bytes, write,
 * commit or window release fails the call (the flash as the driver left
 * it).
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDUpdateOptionRomOffset(int Device, SD_UINT16 HbaDevPortNum, SD_PUINT8 pBuffer,
                                            SD_UINT32 BufferSize, SD_UINT32 Offset);

/**
 * @brief Writes one region by its code, carrying the board's settings into
 * boot code regions.
 *
 * The adapter's layout is loaded first. Boot code regions (0x01 to 0x07,
 * 0xFF) are written as SDUpdateOptionRom writes the image (the board's
 * settings carried into pBuffer, the VPD version keywords rewritten
 * afterwards); regions 0x13, 0x29 to 0x2E, 0x40, 0x41, 0x45, 0x46 and 0x47
 * as given; other codes are refused. With DisableReset 0, a region that its
 * layout entry marks for activation is activated on PCI device 0x8001. With
 * DisableReset not 0, regions 0x01 and 0x07 have the driver refresh its
 * versions (the refresh's outcome is not returned).
 *
 * @par Writes
 * pBuffer, patched in place before a boot code region is written; the
 * process-wide layout.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_NOT_SUPPORTED (a
 * virtual port, or PCI device 0x0101, 0x8021 or 0x8044);
 * SDERR_FUT_NOT_SET; a failure of the layout load; SDERR_INVALID_PARAMETER
 * (the region is not in the layout; the version refresh above still runs);
 * SDERR_NOT_SUPPORTED (a read-only region); SDERR_REGION_TOO_SMALL
 * (BufferSize larger than the region); SDERR_REGION_ZERO (region code 0);
 * SDERR_INVALID_PARAMETER (a code neither way writes); the write's statuses
 * as SDUpdateOptionRom has them; SDERR_SIBLING_FAILED (the activation
 * failed).
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDUpdateOptionRomEx(int Device, SD_UINT16 DisableReset, SD_PUINT8 pBuffer,
                                        SD_UINT32 BufferSize, SD_UINT32 Region);

/**
 * @brief Writes one region by its code, as given.
 *
 * The adapter's layout is loaded first. On the chips with two image sets,
 * the boot code and firmware regions (0x01, 0x02, 0x07, 0x09, 0x66, 0x67,
 * 0x9E, 0x9F, 0xD1, 0xD3, 0xF0, 0xF1) are written only under this process's
 * flash update token (SDStartFlashUpdate); these chips are never activated
 * here (SDOnlineActivateFlashUpdate does). With DisableReset 0, a region
 * that its layout entry marks for activation is activated on PCI devices
 * 0x2031, 0x2831, 0x8001, 0x0101, 0x8021, 0x8031, 0x8831 and 0x8044. With
 * DisableReset not 0, regions 0x01, 0x02, 0x07, 0x09, 0x74, 0x97, 0xA2 and 0xA4 have the
 * driver refresh its versions (the refresh's outcome is not returned).
 *
 * @par Writes
 * The process-wide layout; nothing of the caller's.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_NOT_SUPPORTED (a
 * virtual port); SDERR_FUT_NOT_SET (another process holds the token); a
 * failure of the layout load; SDERR_INVALID_PARAMETER (the region is not in
 * the layout; the version refresh above still runs); SDERR_NOT_SUPPORTED (a
 * read-only region); SDERR_REGION_TOO_SMALL (BufferSize larger than the
 * region); SDERR_REGION_ZERO (region code 0); SDERR_FUT_NOT_SET (a region
 * that needs this process's token, without it); SDERR_INVALID_PARAMETER
 * (pBuffer is null); the request's statuses; SDERR_SIBLING_FAILED (the
 * activation failed).
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDUpdateOptionRomEx2(int Device, SD_UINT16 DisableReset, SD_PUINT8 pBuffer,
                                         SD_UINT32 BufferSize, SD_UINT32 Region);

/* ---- online flash updates (chips with two image sets) ----
 *
 * Each function refuses the other chips and virtual ports with
 * SDERR_NOT_SUPPORTED. HbaDevPortNum is not used. */

/**
 * @brief Reads the adapter's flash update capabilities.
 *
 * @par Writes
 * *pCapabilities, only when the status is SDERR_NO_ERROR; nothing
 * otherwise.
 * @return SDERR_NO_ERROR; SDERR_INVALID_PARAMETER (pCapabilities is null);
 * SDERR_INVALID_HANDLE; SDERR_NOT_SUPPORTED (a chip without two image sets);
 * SDERR_NOT_SUPPORTED (a virtual port); the request's statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetFlashUpdateCapabilities(int Device, SD_UINT16 HbaDevPortNum, SD_PUINT64 pCapabilities);

/**
 * @brief Sends the flash update capabilities and the outage duration to the
 * adapter.
 *
 * @par Writes
 * Nothing.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_NOT_SUPPORTED (a chip
 * without two image sets); SDERR_NOT_SUPPORTED (a virtual port); the
 * request's statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDSendFlashUpdateCapabilities(int Device, SD_UINT16 HbaDevPortNum, SD_UINT64 Capabilities,
                                                  SD_UINT32 OutageDuration);

/**
 * @brief Takes the adapter's flash update token for this process.
 *
 * The token is valid for 900 seconds; while it lives, no other process
 * writes the adapter. The token's value is this process's id.
 *
 * @par Writes
 * *pToken, only when the status is SDERR_NO_ERROR; nothing otherwise.
 * @return SDERR_NO_ERROR; SDERR_INVALID_PARAMETER (pToken is null);
 * SDERR_INVALID_HANDLE; SDERR_NOT_SUPPORTED (a chip without two image sets);
 * SDERR_NOT_SUPPORTED (a virtual port); SDERR_FUT_EXISTS (a live token
 * exists, this process's own included, or another process took one in the
 * meantime); SDERR_UNKNOWN (no free place for a token).
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDStartFlashUpdate(int Device, SD_UINT16 HbaDevPortNum, SD_PINT32 pToken);

/**
 * @brief Gives the token back and reloads the layout and the active image
 * set.
 *
 * The layout and the active image set are reloaded whenever the token had
 * not run out; their failures are not returned.
 *
 * @par Writes
 * The process-wide layout.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_NOT_SUPPORTED (a chip
 * without two image sets); SDERR_NOT_SUPPORTED (a virtual port);
 * SDERR_FUT_EXPIRED (the token ran out); SDERR_UNKNOWN (the adapter has no
 * token Token).
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDEndFlashUpdate(int Device, SD_UINT16 HbaDevPortNum, SD_INT32 Token);

/**
 * @brief Activates the written firmware on every function of the adapter.
 *
 * The adapter's layout is loaded first; the firmware region (0x01) must be
 * marked for activation in it.
 *
 * @par Writes
 * The process-wide layout.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_NOT_SUPPORTED (a chip
 * without two image sets); SDERR_NOT_SUPPORTED (a virtual port); a failure
 * of the layout load; SDERR_INVALID_PARAMETER (the firmware region is
 * missing or not to be activated); SDERR_SIBLING_FAILED (the activation
 * failed on this port or another function).
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDOnlineActivateFlashUpdate(int Device, SD_UINT16 HbaDevPortNum);

/* ---- NVRAM ----
 *
 * The image is 256 bytes on the oldest chips and 512 on the others. The
 * chips that keep it in flash read and write it as the flash region of the
 * port's PCI function. */

/**
 * @brief Reads the port's NVRAM image.
 *
 * At most BufferSize bytes are read, and no more than the image. On the
 * chips that keep the image in flash the adapter's layout is loaded first,
 * and a virtual port that the driver serves through sysfs reads through its
 * physical port. Mode has no effect; HbaDevPortNum is not used.
 *
 * @par Writes
 * pBuffer: the image, up to its size or BufferSize; after a failed read it
 * may hold part of it.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_INVALID_PARAMETER
 * (pBuffer is null); a failure of the layout load; the request's statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetNVRam(int Device, SD_UINT16 HbaDevPortNum, SD_UINT32 Mode, SD_PUINT8 pBuffer,
                               SD_UINT32 BufferSize);

/**
 * @brief Writes the port's NVRAM image.
 *
 * At most BufferSize bytes are written, and no more than the image. On the
 * chips that keep it in flash the last 32-bit word of the image becomes its
 * checksum, the adapter's layout is loaded, and with DisableReset 0 the
 * region is activated. Mode has no effect.
 *
 * @par Writes
 * On the chips that keep the image in flash, its last 32-bit word in
 * pBuffer (the checksum), before the write; nothing otherwise.
 * @return SDERR_NO_ERROR; SDERR_INVALID_PARAMETER (BufferSize is 0);
 * SDERR_INVALID_HANDLE; SDERR_INVALID_PARAMETER (pBuffer is null);
 * SDERR_NOT_SUPPORTED (a virtual port); SDERR_FUT_NOT_SET; in flash:
 * SDERR_INVALID_PARAMETER (no whole checksum word), a failure of the layout
 * load, SDERR_REGION_TOO_SMALL; the request's statuses;
 * SDERR_SIBLING_FAILED (the activation failed).
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDUpdateNVRam(int Device, SD_UINT16 DisableReset, SD_UINT32 Mode, SD_PUINT8 pBuffer,
                                  SD_UINT32 BufferSize);

/**
 * @brief Checks that the port's NVRAM image can be read.
 *
 * Reads the image (SDGetNVRam); its checksum is not computed.
 *
 * @par Writes
 * Nothing.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_OUT_OF_MEMORY;
 * SDERR_NVRAM_CHECKSUM for every failure of the read.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDVerifyHbaNVRam(int Device, SD_UINT16 HbaDevPortNum);

/**
 * @brief One setting of an NVRAM image held by the caller.
 *
 * The image is read in the layout of the port's chip: the 512-byte layout
 * on the chips with a 512-byte image, else the 256-byte one.
 *
 * @par Writes
 * Nothing.
 * @return The value (not a status); 0 when pNVRam is null, parmNumber is
 * above 131 or the layout lacks the setting; SDERR_INVALID_HANDLE for a bad
 * handle.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetVariableValue(int Device, SD_PUINT8 pNVRam, EnumNVRAMVar parmNumber);

/**
 * @brief Changes one setting of an NVRAM image held by the caller.
 *
 * The image is laid out for the port's chip, as SDGetVariableValue reads
 * it. The image's checksum is not updated.
 *
 * @par Writes
 * The setting's bits in pNVRam, when the status is SDERR_NO_ERROR and the
 * value differs; nothing otherwise (nor for a setting the layout lacks).
 * @return SDERR_NO_ERROR (also for a setting the layout lacks);
 * SDERR_INVALID_HANDLE; SDERR_INVALID_PARAMETER (pNVRam is null);
 * SDERR_INVALID_PARAMETER (parmNumber above 131).
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDSetVariableValue(int Device, SD_PUINT8 pNVRam, EnumNVRAMVar parmNumber,
                                       SD_UINT32 dwSetValue);

/* ---- VPD ---- */

/**
 * @brief Reads the port's VPD.
 *
 * At most *pBufferSize bytes are copied: 512 at most, 1024 on the chips that
 * keep the VPD in flash region 0x81. HbaDevPortNum is not used. A VPD that
 * comes shorter than that area is whole when the walk over its items from
 * the first byte meets the end tag (0x78) within what came; one whose items
 * run past what came before an end tag fails the call with
 * SDERR_DATA_UNDERRUN.
 *
 * @par Writes
 * pBuffer: the bytes read, as many as *pBufferSize allows, whatever the
 * status (zeros where the read delivered none); *pBufferSize is not
 * changed.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_INVALID_PARAMETER
 * (pBuffer or pBufferSize is null); SDERR_OUT_OF_MEMORY; SDERR_DATA_UNDERRUN
 * (a VPD that came short of its end tag); SDERR_NOT_SUPPORTED (a chip that
 * keeps its VPD in flash, whose flash is out of reach of its driver: a sysfs
 * driver without chunked flash access nor bsg); the request's statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetVpd(int Device, SD_UINT16 HbaDevPortNum, SD_PUINT8 pBuffer, SD_PUINT32 pBufferSize);

/**
 * @brief Writes *pBufferSize bytes of VPD through the port's driver.
 *
 * The chips that keep the VPD in flash are written with SD24xxSaveVpd
 * instead. HbaDevPortNum is not used.
 *
 * @par Writes
 * Nothing of the caller's.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_NOT_SUPPORTED (a
 * virtual port); SDERR_NOT_SUPPORTED (a chip that keeps the VPD in flash);
 * SDERR_INVALID_PARAMETER (pBuffer or pBufferSize is null); the request's
 * statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDUpdateVpd(int Device, SD_UINT16 HbaDevPortNum, SD_PUINT8 pBuffer, SD_PUINT32 pBufferSize);

/**
 * @brief Writes the same VPD to this port and to the adapter's other
 * physical port.
 *
 * On the chips that keep the VPD in flash, buf_size bytes go to region 0x14
 * of this port and region 0x16 of the other (the adapter's layout is loaded
 * first); on the others, through the driver. Without another physical port
 * only this port is written.
 *
 * @par Writes
 * The process-wide layout, on the chips that keep the VPD in flash.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_INVALID_PARAMETER
 * (pvpd is null); SDERR_NOT_SUPPORTED (a chip that keeps its VPD in region
 * 0x81); SDERR_FUT_NOT_SET; a failure of the layout load; for this port,
 * SDERR_REGION_TOO_SMALL or the request's statuses; SDERR_SIBLING_FAILED
 * (the other port cannot be opened); for the other port, the same as for
 * this one.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
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

/**
 * @brief Sends a SCSI command to a LUN by SCSI address.
 *
 * The command goes to TargetID and LUN of pTargetInfo on bus 0 of the port's
 * SCSI host, with data out (pReqBuf) or data in (pRespBuf). The device's
 * SCSI status is translated as SDXlateSDMErr does for driver status 15.
 *
 * @par Writes
 * pSenseBuf: zeroed (SenseBufSize bytes) once the CDB length is accepted,
 * then the sense data the command returned. pRespBuf: the data in, whatever
 * the status.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_INVALID_PARAMETER (a
 * CDB longer than 16 bytes); SDERR_INVALID_PARAMETER (pTargetInfo is null,
 * or pCdbBuf is null with a CDB length); SDERR_INVALID_PARAMETER (neither
 * data buffer, or both); the request's statuses, with SDERR_DATA_OVERRUN
 * and SDERR_DATA_UNDERRUN for a completed command and the SCSI status
 * (SDERR_SCSI_*) of the device.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDSendScsiPassThru(int Device, PTARGETINFORMATION pTargetInfo, SD_PUINT8 pCdbBuf,
                                       SD_UINT32 ValidCdbLen, SD_PVOID pReqBuf, SD_UINT32 ReqBufSize,
                                       SD_PVOID pRespBuf, SD_UINT32 RespBufSize, SD_PUINT8 pSenseBuf,
                                       SD_UINT32 SenseBufSize);

/**
 * @brief Sends a SCSI command to a LUN by the remote port's WWPN.
 *
 * The command goes to LUN LunNumber behind the remote port of pDestAddr
 * (AddressType 2), with data out (pReqBuf), data in (pRespBuf) or no data.
 *
 * @par Writes
 * pRespBuf: the data in, whatever the status. pSenseBuf: the sense data, at
 * most SenseBufSize bytes and at most 256, with SDERR_SCSI_CHECK_CONDITION.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_INVALID_PARAMETER (a
 * CDB longer than 16 bytes); SDERR_INVALID_PARAMETER (pDestAddr is null);
 * SDERR_INVALID_PARAMETER (AddressType is not 2); SDERR_INVALID_PARAMETER
 * (pCdbBuf is null with a CDB length); SDERR_INVALID_PARAMETER (both data
 * buffers); the request's statuses, with SDERR_DATA_OVERRUN and
 * SDERR_DATA_UNDERRUN for a completed command and the SCSI status
 * (SDERR_SCSI_*) of the device; SDERR_SCSI_CHECK_CONDITION.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDSendScsiPassThruFC(int Device, PDESTINATIONADDRESS pDestAddr, SD_PUINT8 pCdbBuf,
                                         SD_UINT32 ValidCdbLen, SD_PVOID pReqBuf, SD_UINT32 ReqBufSize,
                                         SD_PVOID pRespBuf, SD_UINT32 RespBufSize, SD_PUINT8 pSenseBuf,
                                         SD_UINT32 SenseBufSize);

/**
 * @brief Sends INQUIRY to a LUN by SCSI address.
 *
 * The allocation length is RespSize, at most 255. The command is sent as
 * SDSendScsiPassThru sends it.
 *
 * @par Writes
 * As SDSendScsiPassThru: pResp and pSense.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; the statuses of
 * SDSendScsiPassThru.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDSendScsiInquiryCmd(int Device, PTARGETINFORMATION pTargetInfo, SD_PVOID pResp,
                                         SD_UINT32 RespSize, SD_PUINT8 pSense, SD_UINT32 SenseSize);

/**
 * @brief Sends READ CAPACITY(10) to a LUN by SCSI address.
 *
 * The data stay in the device's byte order. The command is sent as
 * SDSendScsiPassThru sends it, with a sense buffer of the library's.
 *
 * @par Writes
 * pResp: the data in. pSense: the first SenseSize bytes (at most 256) of the
 * sense data, zeros when there were none, whatever the status (nothing when
 * pSense is null or SenseSize is 0).
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; the statuses of
 * SDSendScsiPassThru.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDSendScsiReadCapacityCmd(int Device, PTARGETINFORMATION pTargetInfo, SD_PVOID pResp,
                                              SD_UINT32 RespSize, SD_PUINT8 pSense, SD_UINT32 SenseSize);

/**
 * @brief Sends INQUIRY to a LUN by the remote port's WWPN.
 *
 * The allocation length is RespSize, at most 255. The command is sent as
 * SDSendScsiPassThruFC sends it.
 *
 * @par Writes
 * As SDSendScsiPassThruFC: pResp and pSense.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; the statuses of
 * SDSendScsiPassThruFC.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDSendScsiInquiryCmdFC(int Device, PDESTINATIONADDRESS pDestAddr, SD_PVOID pResp,
                                           SD_UINT32 RespSize, SD_PUINT8 pSense, SD_UINT32 SenseSize);

/**
 * @brief Sends READ CAPACITY(10) to a LUN by the remote port's WWPN.
 *
 * The data stay in the device's byte order. The command is sent as
 * SDSendScsiPassThruFC sends it.
 *
 * @par Writes
 * As SDSendScsiPassThruFC: pResp and pSense.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; the statuses of
 * SDSendScsiPassThruFC.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDSendScsiReadCapacityCmdFC(int Device, PDESTINATIONADDRESS pDestAddr, SD_PVOID pResp,
                                                SD_UINT32 RespSize, SD_PUINT8 pSense, SD_UINT32 SenseSize);

/**
 * @brief Sends REPORT LUNS to a target by SCSI address, or probes its LUNs.
 *
 * The command is sent as SDSendScsiPassThru sends it, with a sense buffer of
 * the library's. A target that refuses it as an ILLEGAL REQUEST (fixed-format
 * sense) has LUNs 0 to 255 probed with READ CAPACITY instead, and the list
 * of those that answered is built in pRespBuf: its length in bytes 0 to 3
 * counts every LUN found, bytes 4 to 7 are left as they were, and the
 * entries are those that fit RespBufSize.
 *
 * @par Writes
 * pRespBuf: the device's answer, or the list built. pSense: the first
 * SenseSize bytes (at most 256) of the command's sense data, whatever the
 * status (nothing when pSense is null or SenseSize is 0). LUN of
 * pTargetInfo: the last LUN probed, after a probe.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; the statuses of
 * SDSendScsiPassThru; after a refusal, SDERR_INVALID_PARAMETER (pRespBuf is
 * null), SDERR_BUFFER_TOO_SMALL (RespBufSize below 8), then
 * SDERR_NOT_FROM_DEVICE with the list built.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDSendScsiReportLunsCmd(int Device, PTARGETINFORMATION pTargetInfo, SD_PVOID pRespBuf,
                                            SD_UINT32 RespBufSize, SD_PUINT8 pSense, SD_UINT32 SenseSize);

/**
 * @brief Sends REPORT LUNS to a remote port by WWPN, or probes its LUNs.
 *
 * The command is sent as SDSendScsiPassThruFC sends it, with a sense buffer
 * of the library's. A target that refuses it as an ILLEGAL REQUEST
 * (fixed-format sense) has LUNs 0 to 255 probed instead: INQUIRY first (a
 * LUN without a device is skipped; one the target does not support ends the
 * probe), then READ CAPACITY. The list is built as SDSendScsiReportLunsCmd
 * builds it.
 *
 * @par Writes
 * pRespBuf: the device's answer, or the list built. pSense: the first
 * SenseSize bytes (at most 256) of the command's sense data, whatever the
 * status (nothing when pSense is null or SenseSize is 0). LunNumber of
 * pDestAddr: the last LUN probed, after a probe.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; the statuses of
 * SDSendScsiPassThruFC; after a refusal, SDERR_INVALID_PARAMETER (pRespBuf
 * is null), SDERR_BUFFER_TOO_SMALL (RespBufSize below 8), then
 * SDERR_NOT_FROM_DEVICE with the list built.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDSendScsiReportLunsCmdFC(int Device, PDESTINATIONADDRESS pDestAddr, SD_PVOID pRespBuf,
                                              SD_UINT32 RespBufSize, SD_PUINT8 pSense, SD_UINT32 SenseSize);

/* ---- CT and ELS pass-through ---- */

/**
 * @brief Sends a whole CT information unit to the fabric's servers and
 * takes its answer.
 *
 * The port must be up and attached to a fabric (SDERR_UNKNOWN otherwise).
 *
 * @par Writes
 * pRespBuffer: the answer, up to RespBufferSize bytes, as the driver
 * delivered it.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_INVALID_PARAMETER (a
 * buffer is null with a nonzero size); the request's statuses, with
 * SDERR_DATA_OVERRUN and SDERR_DATA_UNDERRUN for a completed request.
 * @par Threads
 * Any thread; calls are serialised within the process. On a port the driver
 * serves through sysfs without a bsg node, the request and its answer go
 * through the FC host's one request attribute: the exchange holds the host's
 * lock, which every process using the library takes, so that each process
 * reads its own answer.
 */
VXSDM_API SD_UINT32 SDSendCTPassThru(int Device, SD_PVOID pReqBuffer, SD_UINT32 ReqBufferSize,
                                     SD_PVOID pRespBuffer, SD_UINT32 RespBufferSize);

/**
 * @brief Sends an ELS ECHO of ReqDataSize bytes to the remote port of
 * pTargetAddr (AddressType 2).
 *
 * *pRespDataSize must equal ReqDataSize. The echoed data are not compared
 * with those sent. HbaDevPortNum is not used.
 *
 * @par Writes
 * With SDERR_NO_ERROR, the echoed data in pRespData (*pRespDataSize bytes).
 * When fewer bytes were echoed than sent (SDERR_DATA_UNDERRUN), those that
 * came back in pRespData and *pRespDataSize cut to their number (0 when no
 * answer came); a request that the driver reports short writes nothing. With
 * SDERR_ELS_REJECTED, the reject's reply code, reason code, explanation and
 * vendor byte at offsets 0, 5, 6 and 7 of pRespData, as far as
 * *pRespDataSize and the answer reach, and *pRespDataSize cut to 8 (or to
 * the answer's length when shorter). Nothing otherwise.
 * @return SDERR_NO_ERROR; SDERR_INVALID_PARAMETER (pTargetAddr is null);
 * SDERR_INVALID_PARAMETER (AddressType is not 2); SDERR_INVALID_PARAMETER
 * (the sizes differ, or a buffer is null with a nonzero size);
 * SDERR_INVALID_HANDLE; SDERR_OUT_OF_MEMORY; the request's statuses;
 * SDERR_DATA_UNDERRUN (fewer bytes echoed than were sent, or no answer);
 * SDERR_ELS_REJECTED; SDERR_UNKNOWN (an answer that is neither accept nor
 * reject).
 * @par Threads
 * Any thread; calls are serialised within the process. On a port the driver
 * serves through sysfs without a bsg node, the request and its answer go
 * through the FC host's one request attribute: the exchange holds the host's
 * lock, which every process using the library takes, so that each process
 * reads its own answer.
 */
VXSDM_API SD_UINT32 SDSendElsEcho(int Device, SD_UINT16 HbaDevPortNum, PDESTINATIONADDRESS pTargetAddr,
                                  SD_PUINT8 pReqData, SD_UINT32 ReqDataSize, SD_PUINT8 pRespData,
                                  SD_PUINT32 pRespDataSize);

/* ---- asynchronous events ---- */

/**
 * @brief Registers the port with the driver for its events.
 *
 * From then on the library collects them (every 15 seconds) for every
 * process using it. The port counts as enabled whatever the driver
 * answered.
 *
 * @par Writes
 * Nothing.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; the request's statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDEnableAen(int Device);

/**
 * @brief Ends the collection of the port's events in this process.
 *
 * The driver registration ends only when no other process uses the library.
 *
 * @par Writes
 * Nothing.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; when this is the only
 * process using the library, the request's statuses.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDDisableAen(int Device);

/**
 * @brief Takes this process's collected events of the port, oldest first.
 *
 * At most 64 events leave the queue a call. The array of AEventBufSize bytes
 * holds AEventBufSize / 16 events; when fewer fit than were taken, the newest
 * that fit are written and the older ones are lost.
 *
 * @par Writes
 * *pAEventCount (the events written) and EventCode of each event written,
 * only when the status is SDERR_NO_ERROR; nothing otherwise. Reserved is not
 * written.
 * @return SDERR_NO_ERROR; SDERR_INVALID_HANDLE; SDERR_INVALID_PARAMETER
 * (pAEvents or pAEventCount is null); SDERR_INVALID_REQUEST (the port's
 * events are not enabled).
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetAen(int Device, PASYNCEVENT pAEvents, SD_UINT32 AEventBufSize,
                             SD_PUINT32 pAEventCount);

/* ---- HBA feature settings ----
 *
 * Five features over the driver's "Bind=" and "ConfigRequired=" module
 * parameters, kept in the driver's options line of the host's module
 * configuration file. A setter rewrites that line and refreshes the module
 * dependencies; the driver sees the change at its next load. */

/**
 * @brief The five supported features, with their current settings.
 *
 * A feature's Current is read from the driver's options line when the line
 * sets its parameter; a configuration file that cannot be read counts as one
 * without the line.
 *
 * @par Writes
 * Count and the five descriptors, when the status is SDERR_NO_ERROR; Count
 * set to 5 with SDERR_BUFFER_TOO_SMALL; nothing otherwise.
 * @return SDERR_NO_ERROR; SDERR_INVALID_PARAMETER (pFeatureList is null);
 * SDERR_INVALID_PARAMETER (Device names no open port, or its driver has no
 * module name); SDERR_BUFFER_TOO_SMALL (the list has room for fewer than
 * 5).
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetHbaSupportedFeatureList(int Device, PHBA_FEATURE_LIST pFeatureList);

/**
 * @brief One feature, by its id HBA_FEATURE_*, with its current setting.
 *
 * Current is read as SDGetHbaSupportedFeatureList reads it.
 *
 * @par Writes
 * *pFeature, only when the status is SDERR_NO_ERROR; nothing otherwise.
 * @return SDERR_NO_ERROR; SDERR_INVALID_PARAMETER (pFeature is null);
 * SDERR_INVALID_PARAMETER (Device names no open port, or its driver has no
 * module name); SDERR_INVALID_REQUEST (FeatureId is none of the five).
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetHbaFeature(int Device, SD_UINT32 FeatureId, PHBA_FEATURE_ENTRY pFeature);

/**
 * @brief Sets one feature for the driver's next load.
 *
 * Flag 0 with Value 1 switches the feature on; Flag 1, another Value, or a
 * Value outside the feature's range changes nothing, yet the line is
 * rewritten.
 *
 * @par Writes
 * Nothing of the caller's; the host's module configuration file.
 * @return SDERR_NO_ERROR; SDERR_INVALID_PARAMETER (Device names no open
 * port, or its driver has no module name); SDERR_INVALID_PARAMETER (Flag
 * above 1); SDERR_INVALID_REQUEST (FeatureId is none of the five);
 * SDERR_CONFIG_FILE (no configuration file opens, the line is too long, or
 * the file cannot be replaced; it is then unchanged).
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDSetHbaFeature(int Device, SD_UINT32 FeatureId, SD_UINT32 Value, SD_UINT32 Flag);

/**
 * @brief Sets the features of the list together, all or none, for the
 * driver's next load.
 *
 * The options line is rebuilt from the list alone: a parameter of the line
 * that no setting switches on is written back with value 0. A setting
 * switches its feature on as SDSetHbaFeature does.
 *
 * @par Writes
 * Nothing of the caller's; the host's module configuration file.
 * @return SDERR_NO_ERROR; SDERR_INVALID_PARAMETER (pSettingList is null);
 * SDERR_INVALID_PARAMETER (Device names no open port, or its driver has no
 * module name); for the first setting refused, SDERR_INVALID_PARAMETER (Flag
 * above 1) or SDERR_INVALID_REQUEST (an id that is none of the five), with
 * nothing written; SDERR_CONFIG_FILE (no configuration file opens, the line
 * is too long, or the file cannot be replaced; it is then unchanged).
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDSetHbaFeatureList(int Device, PHBA_FEATURE_SETTING_LIST pSettingList);

/* ---- entry points that are not supported: each returns SDERR_NOT_SUPPORTED ---- */

/**
 * @brief Not supported.
 * @par Writes
 * Nothing.
 * @return SDERR_NOT_SUPPORTED, always.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDSwapTargetDevice(int Device, PDEVICEINFOENTRY pExistDeviceEntryInfo,
                                       PDEVICEINFOENTRY pNewDeviceEntryInfo);
/**
 * @brief Not supported.
 * @par Writes
 * Nothing.
 * @return SDERR_NOT_SUPPORTED, always.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetHbaDevicePortLunMask(int Device, SD_UINT16 HbaDevPortNum,
                                              PTARGETINFORMATION pTargetInfo, SD_UINT32 Size,
                                              SD_UINT8* pBuffer, SD_UINT32 Action);
/**
 * @brief Not supported.
 * @par Writes
 * Nothing.
 * @return SDERR_NOT_SUPPORTED, always.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDUpdateHbaDevicePortLunMask(int Device, SD_UINT16 HbaDevPortNum,
                                                 PTARGETINFORMATION pTargetInfo, SD_UINT32 Size,
                                                 SD_UINT8* pBuffer, SD_UINT32 Action);
/**
 * @brief Not supported.
 * @par Writes
 * Nothing.
 * @return SDERR_NOT_SUPPORTED, always.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetPositionalMap(int Device, SD_UINT16 HbaDevPortNum, SD_PINT8 pPositionalMap,
                                       SD_UINT32 MapSize);
/**
 * @brief Not supported.
 * @par Writes
 * Nothing.
 * @return SDERR_NOT_SUPPORTED, always.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDSetMgmtAddress(int Device, PMANAGEMENTADDRESS pMgmtAddr);
/**
 * @brief Not supported.
 * @par Writes
 * Nothing.
 * @return SDERR_NOT_SUPPORTED, always.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetMgmtAddress(int Device, SD_PVOID pRespBuffer, SD_UINT32 RespBufferSize);
/**
 * @brief Not supported.
 * @par Writes
 * Nothing.
 * @return SDERR_NOT_SUPPORTED, always.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetDriverParameters(int Device, SD_UINT16 HbaDevPortNum, PDRIVERNVRAMPARAMS pBuffer);
/**
 * @brief Not supported.
 * @par Writes
 * Nothing.
 * @return SDERR_NOT_SUPPORTED, always.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetFirmWare(int Device, SD_UINT16 HbaDevPortNum, SD_UINT32 Size, SD_PINT8 pBuffer);
/**
 * @brief Not supported.
 * @par Writes
 * Nothing.
 * @return SDERR_NOT_SUPPORTED, always.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetFirmWareParameter(int Device, SD_UINT16 HbaDevPortNum, SD_UINT32 Size,
                                           SD_UINT8* pBuffer);
/**
 * @brief Not supported.
 * @par Writes
 * Nothing.
 * @return SDERR_NOT_SUPPORTED, always.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetFlash(int Device, SD_UINT16 HbaDevPortNum, SD_UINT32 Size, SD_UINT8* pBuffer);
/**
 * @brief Not supported.
 * @par Writes
 * Nothing.
 * @return SDERR_NOT_SUPPORTED, always.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDResetStatistics(int Device, SD_UINT16 HbaDevPortNum);
/**
 * @brief Not supported.
 * @par Writes
 * Nothing.
 * @return SDERR_NOT_SUPPORTED, always.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDMapScsiTargetToVolumes(SD_UINT16 HbaDevPortNum, PTARGETINFORMATION pTargetInfo,
                                             SD_PINT8 pVolumes, SD_UINT32 VolumeSize);
/**
 * @brief Not supported.
 * @par Writes
 * Nothing.
 * @return SDERR_NOT_SUPPORTED, always.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDEnableDebugTrace(int* pDevice, SD_PINT8 pFileName, SD_UINT32 TraceFlags);
/**
 * @brief Not supported.
 * @par Writes
 * Nothing.
 * @return SDERR_NOT_SUPPORTED, always.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetFirmwareCode(int Device, SD_UINT16 HbaDevPortNum, SD_PUINT8 pBuffer,
                                      SD_UINT32 BufferSize);
/**
 * @brief Not supported.
 * @par Writes
 * Nothing.
 * @return SDERR_NOT_SUPPORTED, always.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDMapVolumeToScsiTarget(SD_PINT8 pVolume, SD_PUINT16 pHbaDevPortNum,
                                            PTARGETINFORMATION pTargetInfo);
/**
 * @brief Not supported.
 * @par Writes
 * Nothing.
 * @return SDERR_NOT_SUPPORTED, always.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetFirmwareParameters(int Device, SD_UINT16 HbaDevPortNum,
                                            PFIRMWARENVRAMPARAMS pFirmwareNVRam);
/**
 * @brief Not supported.
 * @par Writes
 * Nothing.
 * @return SDERR_NOT_SUPPORTED, always.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDSendElsRnid(int Device, PFABRICADDRESS pFabricAddress, SD_UINT16 NIDFormat,
                                  SD_PVOID pRspBuffer, SD_UINT32 RspBufferSize);
/**
 * @brief Not supported.
 * @par Writes
 * Nothing.
 * @return SDERR_NOT_SUPPORTED, always.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDGetHbaTargetLunMaskFC(int Device, SD_UINT16 HbaDevPortNum,
                                            PDESTINATIONADDRESS pTargetAddr, SD_UINT32 Mode,
                                            SD_PUINT8 pBuffer, SD_UINT32 BufferSize);
/**
 * @brief Not supported.
 * @par Writes
 * Nothing.
 * @return SDERR_NOT_SUPPORTED, always.
 * @par Threads
 * Any thread; calls are serialised within the process.
 */
VXSDM_API SD_UINT32 SDUpdateHbaTargetLunMaskFC(int Device, SD_UINT16 HbaDevPortNum,
                                               PDESTINATIONADDRESS pTargetAddr, SD_UINT32 Mode,
                                               SD_PUINT8 pBuffer, SD_UINT32 BufferSize);

#ifdef __cplusplus
}
#endif

#endif /* VXSDM_H */
