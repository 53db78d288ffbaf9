// Commands that travel through the adapter to other devices: SCSI commands
// to a target's LUN, FC Common Transport and Extended Link Service frames,
// RNID; the driver's target and LUN lists; the port's beacon; the firmware
// loopback test; READ CAPACITY and REPORT LUNS with a LUN-probing fallback.
//
// Every worker takes the port's descriptor and record. A sysfs port (feature
// 0x20) goes to its sysfs twin; any other port sends one driver request. The
// result is the ioctl result (0, or -1 with errno: look at the status), 1
// when the request could not be built or was refused here, 2 with status 12
// when the port cannot do the operation, or the twin's result.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/vx_driver_records.h"
#include "base/vx_request.h"
#include "base/vx_records.h"

// ---- records exchanged with the driver ----

// SCSI pass-through by bus, target and LUN (command 0x05, sub-code 0).
struct EXT_SCSI_PASSTHRU {
    EXT_SCSI_ADDR TargetAddr;
    uint8_t Direction;  // VX_SCSI_DIR_*
    uint8_t CdbLength;  // at most 16
    uint8_t Cdb[16];
    uint8_t Padding[2];
    uint32_t Timeout;  // seconds
    uint32_t Reserved[13];
    uint16_t Reserved2;
    uint16_t SenseLength;  // in: room for sense data (at most 256); out: sense bytes returned
    uint8_t SenseData[256];
};
static_assert(sizeof(EXT_SCSI_PASSTHRU) == 352);
static_assert(offsetof(EXT_SCSI_PASSTHRU, Direction) == 16);
static_assert(offsetof(EXT_SCSI_PASSTHRU, Cdb) == 18);
static_assert(offsetof(EXT_SCSI_PASSTHRU, Timeout) == 36);
static_assert(offsetof(EXT_SCSI_PASSTHRU, Reserved) == 40);
static_assert(offsetof(EXT_SCSI_PASSTHRU, Reserved2) == 92);
static_assert(offsetof(EXT_SCSI_PASSTHRU, SenseLength) == 94);
static_assert(offsetof(EXT_SCSI_PASSTHRU, SenseData) == 96);

constexpr uint8_t VX_SCSI_DIR_NONE = 0;
constexpr uint8_t VX_SCSI_DIR_IN = 1;   // data from the device
constexpr uint8_t VX_SCSI_DIR_OUT = 2;  // data to the device
constexpr uint32_t VX_SCSI_MAX_CDB = 16;
constexpr uint32_t VX_SCSI_MAX_SENSE = 256;

// A remote port by one of its names or addresses.
struct EXT_DEST_ADDR {
    union {
        uint8_t WWNN[8];
        uint8_t WWPN[8];
        uint8_t Id[4];  // port ID
        struct {
            uint16_t Bus;
            uint16_t Target;
        } ScsiAddr;
    } DestAddr;
    uint16_t DestType;  // VX_DEST_*
    uint16_t Lun;
    uint16_t Padding[2];
};
static_assert(sizeof(EXT_DEST_ADDR) == 16);
static_assert(offsetof(EXT_DEST_ADDR, DestType) == 8);
static_assert(offsetof(EXT_DEST_ADDR, Lun) == 10);

constexpr uint16_t VX_DEST_WWNN = 1;
constexpr uint16_t VX_DEST_WWPN = 2;
constexpr uint16_t VX_DEST_PORT_ID = 3;
constexpr uint16_t VX_DEST_SCSI_ADDR = 4;

// SCSI pass-through to a remote port (command 0x05, sub-codes 1 and 2).
struct EXT_FC_SCSI_PASSTHRU {
    EXT_DEST_ADDR FCScsiAddr;
    uint8_t Direction;
    uint8_t CdbLength;
    uint8_t Cdb[16];
    uint8_t Padding[2];
    uint32_t Timeout;
    uint32_t Reserved[13];
    uint16_t Reserved2;
    uint16_t SenseLength;
    uint8_t SenseData[256];
};
static_assert(sizeof(EXT_FC_SCSI_PASSTHRU) == 352);
static_assert(offsetof(EXT_FC_SCSI_PASSTHRU, Direction) == offsetof(EXT_SCSI_PASSTHRU, Direction));
static_assert(offsetof(EXT_FC_SCSI_PASSTHRU, Timeout) == offsetof(EXT_SCSI_PASSTHRU, Timeout));
static_assert(offsetof(EXT_FC_SCSI_PASSTHRU, SenseLength) == offsetof(EXT_SCSI_PASSTHRU, SenseLength));
static_assert(offsetof(EXT_FC_SCSI_PASSTHRU, SenseData) == offsetof(EXT_SCSI_PASSTHRU, SenseData));

// The head of every ELS pass-through request; the ELS payload follows at
// byte 32, its first byte the ELS command code.
struct EXT_ELS_PT_REQ {
    uint8_t WWNN[8];
    uint8_t WWPN[8];  // the destination
    uint8_t Id[4];
    uint16_t ValidMask;  // VX_ELS_WWPN_VALID
    uint16_t Lid;
    uint16_t Rxid;
    uint16_t AccRjt;
    uint8_t Reserved[4];
};
static_assert(sizeof(EXT_ELS_PT_REQ) == 32);
static_assert(offsetof(EXT_ELS_PT_REQ, ValidMask) == 20);
static_assert(offsetof(EXT_ELS_PT_REQ, AccRjt) == 26);

constexpr uint16_t VX_ELS_WWPN_VALID = 0x1;

// Loopback test request and result (command 0x09).
#pragma pack(push, 1)
struct INT_LOOPBACK_REQ {
    uint16_t Options;
    uint32_t TransferCount;
    uint32_t IterationCount;
    uint64_t BufferAddress;  // the transmit data
    uint32_t BufferLength;
    uint16_t Reserved[9];
};
#pragma pack(pop)
static_assert(sizeof(INT_LOOPBACK_REQ) == 40);
static_assert(offsetof(INT_LOOPBACK_REQ, BufferAddress) == 10);
static_assert(offsetof(INT_LOOPBACK_REQ, BufferLength) == 18);

struct INT_LOOPBACK_RSP {
    uint64_t BufferAddress;  // the receive buffer
    uint32_t BufferLength;
    uint16_t CompletionStatus;
    uint16_t CrcErrorCount;
    uint16_t DisparityErrorCount;
    uint16_t FrameLengthErrorCount;
    uint32_t IterationCountLastError;
    uint8_t CommandSent;
    uint8_t Reserved1;
    uint16_t Reserved2[7];
};
static_assert(sizeof(INT_LOOPBACK_RSP) == 40);
static_assert(offsetof(INT_LOOPBACK_RSP, CompletionStatus) == 12);
static_assert(offsetof(INT_LOOPBACK_RSP, IterationCountLastError) == 20);
static_assert(offsetof(INT_LOOPBACK_RSP, CommandSent) == 24);

// The port's beacon (locate LED).
struct EXT_BEACON_CONTROL {
    uint32_t State;  // VX_BEACON_*
    uint32_t Reserved[3];
};
static_assert(sizeof(EXT_BEACON_CONTROL) == 16);

constexpr uint32_t VX_BEACON_BLINK = 0x01ED0017;
constexpr uint32_t VX_BEACON_OFF = 0x01ED00FF;

// The driver's target and LUN list: a 32-byte head, then EntryCount entries.
// An entry is a 32-byte head followed by its per-LUN bytes; whoever fills the
// list sets the entry length.
struct TGT_LUN_DATA_ENTRY {
    uint8_t NodeName[8];
    uint8_t PortName[8];
    uint16_t LunCount;
    uint8_t BusNumber;
    uint8_t TargetId;
    uint8_t DevType;
    uint8_t LoopId;
    uint16_t Reserved3;
    uint8_t PortId[4];
    uint32_t Reserved5;
    // uint8_t Data[] at byte 32
};
static_assert(sizeof(TGT_LUN_DATA_ENTRY) == 32);
static_assert(offsetof(TGT_LUN_DATA_ENTRY, LunCount) == 16);
static_assert(offsetof(TGT_LUN_DATA_ENTRY, PortId) == 24);

struct TGT_LUN_DATA_LIST {
    uint16_t Version;
    uint16_t EntryCount;
    uint32_t Reserved1;
    uint32_t Reserved2;
    uint32_t Reserved3;
    uint32_t Reserved4;
    uint32_t Reserved5;
    uint32_t Reserved6;
    uint32_t Reserved7;
    // TGT_LUN_DATA_ENTRY DataEntry[] at byte 32
};
static_assert(sizeof(TGT_LUN_DATA_LIST) == 32);

// The per-LUN bytes of an entry, and the first entry of a list.
inline uint8_t* vx_lun_data(TGT_LUN_DATA_ENTRY* entry) { return reinterpret_cast<uint8_t*>(entry + 1); }
inline TGT_LUN_DATA_ENTRY* vx_first_entry(TGT_LUN_DATA_LIST* list) {
    return reinterpret_cast<TGT_LUN_DATA_ENTRY*>(list + 1);
}

// Input of the failover LUN data request (command 0xCE); the answer is the
// failover layer's LUN data list, passed through.
struct FO_LUN_DATA_INPUT {
    uint8_t HbaInstance;  // the port's driver instance
    uint8_t Reserved1[3];
    uint32_t Reserved2[7];
};
static_assert(sizeof(FO_LUN_DATA_INPUT) == 32);

// An 8-byte SAM LUN: four 2-byte addressing levels.
struct lun_addr_level_t {
    uint8_t field[2];
};
struct lun_8byte_t {
    lun_addr_level_t first;
    lun_addr_level_t second;
    lun_addr_level_t third;
    lun_addr_level_t fourth;
};
static_assert(sizeof(lun_8byte_t) == 8);

// Command blocks built here, and the READ CAPACITY answer (big-endian).
struct scsi_cdb_10_t {
    uint8_t bytes[10];
};
struct scsi_cdb_12_t {
    uint8_t bytes[12];
};
struct READ_CAP_t {
    uint32_t block_adrs;
    uint32_t block_length;
};
static_assert(sizeof(scsi_cdb_10_t) == 10);
static_assert(sizeof(scsi_cdb_12_t) == 12);
static_assert(sizeof(READ_CAP_t) == 8);

// ---- workers ----

// One driver request: a missing buffer travels with length 0, so that the
// driver is never pointed at a length behind a null address. The result and
// *reply as vxapi_send_request gives them.
int32_t vxapi_send_buffers(const char* name, int handle, const vxapi_priv_database* rec, uint8_t command,
                           uint16_t sub_code, const void* request, uint32_t request_len, void* response,
                           uint32_t response_len, VxReply* reply);

// CT pass-through; refused (status 1, result 1) unless the port is up on a
// fabric (state 0, topology F_Port or FL_Port). *presp_buf_size: the
// buffer's size in, the bytes delivered out.
int32_t vxapi_send_ct_passthru(int handle, vxapi_priv_database* api_priv_data_inst, const void* preq_buf,
                               uint32_t req_buf_size, void* presp_buf, uint32_t* presp_buf_size,
                               uint32_t* pext_stat);
// ELS pass-through: an EXT_ELS_PT_REQ and the ELS payload.
int32_t vxapi_send_els_passthru(int handle, vxapi_priv_database* api_priv_data_inst, const void* preq_buf,
                                uint32_t req_buf_size, void* presp_buf, uint32_t resp_buf_size,
                                uint32_t* pext_stat);
// SCSI pass-through to a remote port (sub-code 1) and its SCSI-3 form
// (sub-code 2). The record is sent as the caller filled it; *presp_buf_size:
// the data length in, the bytes delivered out; *pext_dstat: DetailStatus.
int32_t vxapi_send_fc_scsipt(int handle, vxapi_priv_database* api_priv_data_inst, void* presp_buf,
                             uint32_t* presp_buf_size, EXT_FC_SCSI_PASSTHRU* pfc_scsi_pass, uint32_t* pext_stat,
                             uint32_t* pext_dstat);
int32_t vxapi_send_scsi3pt(int handle, vxapi_priv_database* api_priv_data_inst, void* presp_buf,
                           uint32_t* presp_buf_size, EXT_FC_SCSI_PASSTHRU* pfc_scsi_pass, uint32_t* pext_stat,
                           uint32_t* pext_dstat);

// SCSI pass-through by bus, target and LUN with the new (EXT_IOCTL) and the
// old (EXT_IOCTL_O) request header. At most one data buffer: data out
// (preq_buf) or data in (presp_buf, *presp_buf_size in/out). The sense
// buffer receives the sense data of a CHECK CONDITION (*psense_buf_size:
// room in, bytes out); *pscsi_stat the SCSI status byte.
int32_t vxapi_send_scsipt_n(int handle, vxapi_priv_database* api_priv_data_inst, const EXT_SCSI_ADDR* pscsi_addr,
                            const uint8_t* pcdb, uint32_t cdb_len, const void* preq_buf, uint32_t req_buf_size,
                            void* presp_buf, uint32_t* presp_buf_size, uint8_t* psense_buf,
                            uint32_t* psense_buf_size, uint32_t* pext_stat, uint8_t* pscsi_stat);
int32_t vxapi_send_scsipt_o(int handle, vxapi_priv_database* api_priv_data_inst, const EXT_SCSI_ADDR* pscsi_addr,
                            const uint8_t* pcdb, uint32_t cdb_len, const void* preq_buf, uint32_t req_buf_size,
                            void* presp_buf, uint32_t* presp_buf_size, uint8_t* psense_buf,
                            uint32_t* psense_buf_size, uint32_t* pext_stat, uint8_t* pscsi_stat);
// The request sender of both: the record, with the data buffer in the
// response slot of the header (data out included). The header's answer
// lands in *pret_ext (Status, DetailStatus, ResponseLen).
int32_t vxapi_send_scsipt_ioctl(int handle, vxapi_priv_database* api_priv_data_inst, const void* preq_buf,
                                uint32_t req_buf_size, void* presp_buf, uint32_t* presp_buf_size,
                                EXT_SCSI_PASSTHRU* pscsi_pass, VxReply* pret_ext);

// READ CAPACITY to the LUN of the address (data in), through the port's
// transport. REPORT LUNS likewise; when the target refuses it (fixed-format
// sense, ILLEGAL REQUEST) the list is built by probing LUNs 0 to 4094 with
// READ CAPACITY. psense_buf must be given to REPORT LUNS.
int32_t vxapi_send_scsi_readcap(int handle, vxapi_priv_database* api_priv_data_inst, const EXT_SCSI_ADDR* pscsi_addr,
                                void* presp_buf, uint32_t* presp_size, uint8_t* psense_buf, uint32_t* psense_len,
                                uint8_t* pscsi_stat);
int32_t vxapi_send_scsi_rlc(int handle, vxapi_priv_database* api_priv_data_inst, const EXT_SCSI_ADDR* pscsi_addr,
                            void* presp_buf, uint32_t* presp_size, uint8_t* psense_buf, uint32_t* psense_len,
                            uint8_t* pscsi_stat);

// The driver's target and LUN list, and the failover LUN data list.
int32_t vxapi_get_tgt_lun_data_list(int handle, vxapi_priv_database* api_priv_data_inst,
                                    TGT_LUN_DATA_LIST* plun_data_list, uint32_t lun_data_list_len,
                                    uint32_t* pext_stat);
int32_t vxapi_get_lun_data_list(int handle, vxapi_priv_database* api_priv_data_inst, void* plun_data_list,
                                uint32_t lun_data_list_len, uint32_t* pext_stat);

// The beacon.
int32_t vxapi_get_beacon(int handle, vxapi_priv_database* api_priv_data_inst, EXT_BEACON_CONTROL* pbeacon_st,
                         uint32_t* pext_stat);
int32_t vxapi_set_beacon(int handle, vxapi_priv_database* api_priv_data_inst, EXT_BEACON_CONTROL beacon_st,
                         uint32_t* pext_stat);

// RNID parameters of the port (no sysfs form), and an RNID request.
// *prnid_rsp_size: the buffer's size in, the bytes delivered out.
int32_t vxapi_get_rnid_info(int handle, vxapi_priv_database* api_priv_data_inst, void* pset_rnid_buf,
                            uint32_t set_rnid_size, uint32_t* pext_stat);
int32_t vxapi_set_rnid_info(int handle, vxapi_priv_database* api_priv_data_inst, const void* pset_rnid_buf,
                            uint32_t set_rnid_size, uint32_t* pext_stat);
int32_t vxapi_send_rnid(int handle, vxapi_priv_database* api_priv_data_inst, const void* prnid_req,
                        uint32_t rnid_req_size, void* prnid_rsp, uint32_t* prnid_rsp_size, uint32_t* pext_stat);

// The firmware loopback test: bsg, else the vendor netlink socket, else the
// driver request; a sysfs port with neither gets the no-transport answer.
int32_t vxapi_loopback_test(int handle, vxapi_priv_database* api_priv_data_inst, INT_LOOPBACK_REQ* ploopback_req,
                            uint32_t loopback_req_sz, INT_LOOPBACK_RSP* ploopback_rsp, uint32_t loopback_rsp_sz,
                            uint32_t* pext_stat);

// The LUN number of the first level of a SAM LUN by its address method;
// 0xFFFFFFFF for the extended method.
uint32_t vxapi_get_lun_addr(const lun_8byte_t* plun);
