// Management vendor commands to the FC host's bsg node of a sysfs port: the
// loopback test (1), the Tarno controller (2 reset, 3 firmware image, 4
// management), a remote port's speed (5), FCP priority (6) and the
// diagnostic mode (9). Each is one vendor command
// (vxsysfs_bsg_vendor_command) that moves its data in one transfer; the
// result is 0 when the driver took it, 1 otherwise.
#include "transport/vx_sysfs_mgmt_bsg.h"

#include <cstddef>
#include <cstring>

#include "base/vx_port_speed.h"
#include "base/vx_request.h"
#include "base/vx_sddbg.h"
#include "transport/vx_nl_wire.h"
#include "transport/vx_sysfs_bsg.h"
#include "transport/vx_sysfs_mgmt.h"

namespace {

#pragma pack(push, 1)
// Word 1 of a command, then the record that the driver reads behind it
// (Tarno management message, port parameters): a 40-byte request.
template <typename Record>
struct WordAndRecord {
    uint32_t word1;
    Record record;
};

// The loopback reply: the driver's 32 mailbox registers and the code of the
// command it sent.
struct LoopbackReply {
    fc_bsg_reply head;
    uint16_t mailbox[32];
    uint8_t command_sent;
};

// The port parameter reply: the record as the driver holds it.
struct PortParamReply {
    fc_bsg_reply head;
    vxa_port_param param;
};
#pragma pack(pop)

static_assert(sizeof(WordAndRecord<vxa84_msg_mgmt>) == 24);
static_assert(sizeof(WordAndRecord<vxa_port_param>) == 24);
static_assert(sizeof(LoopbackReply) == 81);
static_assert(offsetof(LoopbackReply, mailbox) == 16);
static_assert(offsetof(LoopbackReply, command_sent) == 80);
static_assert(sizeof(PortParamReply) == 36);

constexpr uint32_t kLoopbackRequestLen = 24;
constexpr uint32_t kRecordRequestLen = 40;
constexpr uint32_t kQosRequestLen = 24;
constexpr uint32_t kTarnoReplyLen = 16;

constexpr uint16_t kLoopbackComplete = 0x4000;

// Word 1 of the Tarno reset and firmware update.
constexpr uint32_t kTarnoReset = 3;
constexpr uint32_t kTarnoResetDiagFw = 4;
constexpr uint32_t kTarnoUpdate = 5;
constexpr uint32_t kTarnoUpdateDiagFw = 6;

// FCP priority: word 1 is the operation (0 or 1 switch, 2 get, 3 set), word
// 2 always 1.
constexpr uint32_t kQosGet = 2;
constexpr uint32_t kQosSet = 3;
constexpr uint32_t kQosWord2 = 1;

void entered(const char* name) {
    if (!vxdbg_on(VXDBG_SYSFS)) return;
    vxdbg_print(name, 0, VXDBG_NONE, 0);
    vxdbg_print(": entered.", 0, VXDBG_NONE, 1);
}

// A request that cannot be sent as given: nothing sent, status 9.
int32_t not_sent(uint32_t* status) {
    if (status != nullptr) *status = EXT_STATUS_DEV_NOT_FOUND;
    return 1;
}

// The Tarno, loopback and port parameter commands leave 9, not 17, when
// their buffers cannot be allocated.
VxBsgCommand command(uint32_t code, uint32_t request_len, uint32_t reply_len) {
    VxBsgCommand cmd;
    cmd.code = code;
    cmd.request_len = request_len;
    cmd.reply_len = reply_len;
    cmd.no_memory_status = EXT_STATUS_DEV_NOT_FOUND;
    return cmd;
}

template <typename Args>
void with_args(VxBsgCommand& cmd, const Args& args) {
    cmd.args = &args;
    cmd.args_len = sizeof args;
}

// The management message of an operation; another operation carries only
// its length.
vxa84_msg_mgmt mgmt_message(const TARNO_MANAGE_INFO& info) {
    vxa84_msg_mgmt m{};
    m.len = info.TotalByteCount;
    const auto& ap = info.Parameters.ap;
    switch (info.Operation) {
    case TARNO_MGMT_READ_MEM:
    case TARNO_MGMT_WRITE_MEM: m.mgmtp.mem.start_addr = ap.TarnoMemory.StartingAddr; break;
    case TARNO_MGMT_CHANGE_CONFIG:
        m.mgmtp.config = {ap.TarnoConfig.ConfigParamID, ap.TarnoConfig.ConfigParamData0,
                          ap.TarnoConfig.ConfigParamData1};
        break;
    case TARNO_MGMT_GET_INFO: m.mgmtp.info = {ap.TarnoInfo.InfoDataType, ap.TarnoInfo.InfoContext}; break;
    default: return m;
    }
    m.cmd = info.Operation;
    return m;
}

void trace_mailboxes(const LoopbackReply& r) {
    const struct { const char* label; uint32_t value; } lines[] = {
        {">> mb0=", r.mailbox[0]},   {">> mb1=", r.mailbox[1]},   {">> mb2=", r.mailbox[2]},
        {">> mb3=", r.mailbox[3]},   {">> mb19=", r.mailbox[19]}, {">> mb18=", r.mailbox[18]},
        {">> cmd=", r.command_sent},
    };
    for (const auto& l : lines) vxdbg_line(VXDBG_SYSFS, l.label, l.value, VXDBG_HEX);
}

int32_t qos(vxapi_priv_database* rec, uint32_t operation, void* in, const void* out, uint32_t size,
            uint32_t* status) {
    const uint32_t words[2] = {operation, kQosWord2};
    // A configuration read must come whole.
    VxBsgCommand cmd{.code = VX_BSG_FCP_PRIO, .request_len = kQosRequestLen, .out = out, .out_len = out ? size : 0,
                     .in = in, .in_len = in ? size : 0, .in_need = in ? size : 0};
    with_args(cmd, words);
    return vxsysfs_bsg_vendor_command(rec, cmd, status);
}

}  // namespace

int32_t vxsysfs_bsg_loopback_test(int, vxapi_priv_database* api_priv_data_inst, INT_LOOPBACK_REQ* ploopback_req,
                                  uint32_t loopback_req_sz, INT_LOOPBACK_RSP* ploopback_rsp, uint32_t,
                                  uint32_t* pext_stat) {
    entered("vxsysfs_bsg_loopback_test");
    vxdbg_line(VXDBG_SYSFS, "> loopback_req_sz ==", loopback_req_sz, VXDBG_DEC);
    if (ploopback_req == nullptr || ploopback_rsp == nullptr) return not_sent(pext_stat);
    // The transfer length is the buffer's: TransferCount is not sent.
    const uint32_t words[2] = {ploopback_req->Options, ploopback_req->IterationCount};
    LoopbackReply reply{};
    VxBsgCommand cmd = command(VX_BSG_LOOPBACK, kLoopbackRequestLen, sizeof reply);
    with_args(cmd, words);
    cmd.reply_out = &reply;
    cmd.reply_need = sizeof reply;  // the mailboxes and the command sent are read
    cmd.out = vxapi_64bit_to_ptr(ploopback_req->BufferAddress);
    cmd.out_len = ploopback_req->BufferLength;
    cmd.in = vxapi_64bit_to_ptr(ploopback_rsp->BufferAddress);
    cmd.in_len = ploopback_rsp->BufferLength;
    if (vxsysfs_bsg_vendor_command(api_priv_data_inst, cmd, pext_stat) != 0) return 1;

    INT_LOOPBACK_RSP& rsp = *ploopback_rsp;
    rsp.CompletionStatus = reply.mailbox[0];
    rsp.CrcErrorCount = reply.mailbox[1];
    rsp.DisparityErrorCount = reply.mailbox[2];
    rsp.FrameLengthErrorCount = reply.mailbox[3];
    rsp.IterationCountLastError = reply.mailbox[18] | (uint32_t{reply.mailbox[19]} << 16);
    rsp.CommandSent = reply.command_sent;
    // The test ran; its own outcome is the caller's to read.
    if (rsp.CompletionStatus != kLoopbackComplete) trace_mailboxes(reply);
    return 0;
}

int32_t vxsysfs_bsg_tarno_reset(int, vxapi_priv_database* api_priv_data_inst, TARNO_RESET* pReset,
                                uint32_t* pext_stat) {
    entered("vxsysfs_bsg_tarno_reset");
    if (pReset == nullptr) return not_sent(pext_stat);
    const uint32_t word1 = pReset->Flags == TARNO_RESET_DIAG_FW ? kTarnoResetDiagFw : kTarnoReset;
    VxBsgCommand cmd = command(VX_BSG_TARNO_RESET, VX_BSG_REQUEST_LEN, kTarnoReplyLen);
    with_args(cmd, word1);
    return vxsysfs_bsg_vendor_command(api_priv_data_inst, cmd, pext_stat);
}

int32_t vxsysfs_bsg_tarno_updatefw(int, vxapi_priv_database* api_priv_data_inst, TARNO_UPDATE_FW* pFwInfo,
                                   uint32_t* pext_stat) {
    entered("vxsysfs_bsg_tarno_updatefw");
    if (pFwInfo == nullptr) return not_sent(pext_stat);
    const uint32_t word1 = pFwInfo->Flags == TARNO_UPDATE_DIAG_FW ? kTarnoUpdateDiagFw : kTarnoUpdate;
    VxBsgCommand cmd = command(VX_BSG_TARNO_UPDATE_FW, VX_BSG_REQUEST_LEN, kTarnoReplyLen);
    with_args(cmd, word1);
    cmd.out = pFwInfo->pFwDataBytes;
    cmd.out_len = pFwInfo->TotalByteCount;
    return vxsysfs_bsg_vendor_command(api_priv_data_inst, cmd, pext_stat);
}

int32_t vxsysfs_bsg_tarno_mgmt(int, vxapi_priv_database* api_priv_data_inst, TARNO_MANAGE_INFO* pMgmtInfo,
                               uint32_t* pext_stat) {
    entered("vxsysfs_bsg_tarno_mgmt");
    if (pMgmtInfo == nullptr) return not_sent(pext_stat);
    const WordAndRecord<vxa84_msg_mgmt> args{0, mgmt_message(*pMgmtInfo)};
    VxBsgCommand cmd = command(VX_BSG_TARNO_MGMT, kRecordRequestLen, kTarnoReplyLen);
    with_args(cmd, args);
    // One buffer both ways, whatever the operation; what an operation reads
    // must come whole.
    cmd.out = cmd.in = pMgmtInfo->pDataBytes;
    cmd.out_len = cmd.in_len = pMgmtInfo->TotalByteCount;
    const bool read = pMgmtInfo->Operation == TARNO_MGMT_READ_MEM || pMgmtInfo->Operation == TARNO_MGMT_GET_INFO;
    if (read) cmd.in_need = cmd.in_len;
    return vxsysfs_bsg_vendor_command(api_priv_data_inst, cmd, pext_stat);
}

int32_t vxsysfs_bsg_port_param(int, vxapi_priv_database* api_priv_data_inst, INT_PORT_PARAM* pbuf, uint32_t,
                               uint32_t* pext_stat) {
    entered("vxsysfs_bsg_port_param");
    if (pbuf == nullptr) return not_sent(pext_stat);
    WordAndRecord<vxa_port_param> args{};
    std::memcpy(args.record.dest_addr, pbuf->FCScsiAddr.DestAddr.WWPN, sizeof args.record.dest_addr);
    args.record.dest_type = pbuf->FCScsiAddr.DestType;
    const bool get = pbuf->Mode == VX_PORT_PARAM_GET;
    if (!get) {
        args.record.mode = pbuf->Mode;
        if (!vxapi_port_speed_to_code(pbuf->Speed, &args.record.speed)) {
            if (pext_stat != nullptr) *pext_stat = EXT_STATUS_INVALID_PARAM;
            return 1;
        }
    }
    PortParamReply reply{};
    VxBsgCommand cmd = command(VX_BSG_PORT_PARAM, kRecordRequestLen, sizeof reply);
    with_args(cmd, args);
    cmd.reply_out = &reply;
    if (get) cmd.reply_need = sizeof reply;  // the speed is read from the record
    if (vxsysfs_bsg_vendor_command(api_priv_data_inst, cmd, pext_stat) != 0) return 1;
    if (get) pbuf->Speed = vxapi_port_code_to_speed(reply.param.speed);
    return 0;
}

int32_t vxsysfs_bsg_qos_enable_disable(vxapi_priv_database* api_priv_data_inst, uint8_t flag, uint32_t* pext_stat) {
    entered("vxsysfs_bsg_qos_enable_disable");
    return qos(api_priv_data_inst, flag, nullptr, nullptr, 0, pext_stat);
}

int32_t vxsysfs_bsg_qos_get_config(vxapi_priv_database* api_priv_data_inst, void* qos_cfg, uint32_t qos_size,
                                   uint32_t* pext_stat) {
    entered("vxsysfs_bsg_qos_get_config");
    if (qos_cfg == nullptr) return not_sent(pext_stat);
    return qos(api_priv_data_inst, kQosGet, qos_cfg, nullptr, qos_size, pext_stat);
}

int32_t vxsysfs_bsg_qos_set_config(vxapi_priv_database* api_priv_data_inst, void* qos_cfg, uint32_t qos_size,
                                   uint32_t* pext_stat) {
    entered("vxsysfs_bsg_qos_set_config");
    if (qos_cfg == nullptr) return not_sent(pext_stat);
    return qos(api_priv_data_inst, kQosSet, nullptr, qos_cfg, qos_size, pext_stat);
}

int32_t vxsysfs_bsg_set_reset_diag_mode(int, vxapi_priv_database* api_priv_data_inst, uint8_t mode,
                                        uint32_t* pext_stat) {
    entered("vxsysfs_bsg_set_reset_diag_mode");
    if (mode > 1) return not_sent(pext_stat);
    const uint32_t word1 = mode;
    VxBsgCommand cmd{.code = VX_BSG_DIAG_MODE};
    with_args(cmd, word1);
    return vxsysfs_bsg_vendor_command(api_priv_data_inst, cmd, pext_stat);
}
