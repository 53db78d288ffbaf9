// The driver's vendor commands over the vendor netlink socket. Each command
// states its buffers, lengths, body and what it reads of the reply; the
// vendor exchange (transport/vx_netlink.h) sends it and classifies the reply.
// The vxapi_nl_ names are the library's; the commands are the netlink road's.
#include "transport/vx_nl_vendor.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "base/vx_port_speed.h"
#include "base/vx_request.h"
#include "base/vx_sddbg.h"
#include "transport/vx_netlink.h"

namespace {

constexpr uint32_t kReplyHead = VX_NL_FC_MSG_HDR_LEN;  // a reply without a body
// The most data a caller may hand to one message: its buffers stay within
// the largest receive.
constexpr uint32_t kMaxData = VX_NL_MAX_RECEIVE - VX_NL_REQUEST_LEN;
// Tarno management data: what fits behind the headers in the message (to
// write) and in the receive buffer (read back).
constexpr uint32_t kMgmtWriteMax = VX_NL_MGMT_LEN - VX_NL_REQ_BODY - sizeof(vxa84_msg_mgmt);    // 18,416
constexpr uint32_t kMgmtReadMax = VX_NL_CHUNK_BUF - VX_NL_REPLY_BODY - sizeof(vxa84_msg_mgmt);  // 67,576

void trace(uint32_t bits, const char* name, const char* text) {
    if (!vxdbg_on(bits)) return;
    vxdbg_print(name, 0, VXDBG_NONE, 0);
    vxdbg_print(": ", 0, VXDBG_NONE, 0);
    vxdbg_print(text, 0, VXDBG_NONE, 1);
}

// "entered" and "exiting" of a command.
struct Step {
    explicit Step(const char* n) : name(n) { trace(VXDBG_STEP, name, "entered"); }
    ~Step() { trace(VXDBG_STEP, name, "exiting"); }
    Step(const Step&) = delete;
    Step& operator=(const Step&) = delete;
    const char* name;
};

// A parameter refused before anything is sent.
int refuse(const char* name, const char* why, uint32_t* status) {
    trace(VXDBG_ERROR, name, why);
    *status = EXT_STATUS_INVALID_PARAM;
    return 1;
}

// The command's result; a success is traced with `what`.
int done(const VxNlCommand& c, int rc, const char* what) {
    if (rc == 0) trace(VXDBG_STEP, c.name, what);
    return rc;
}

// A command whose body is the record `head` (data, when given, follows it).
template <class T>
VxNlCommand command(const char* name, uint32_t cmd, const T& head, uint32_t reply_len, bool preset) {
    VxNlCommand c;
    c.name = name;
    c.cmd = cmd;
    c.head = &head;
    c.head_len = sizeof head;
    c.reply_len = reply_len;
    c.preset_status = preset;
    return c;
}

// Data behind the body's head: the message grows by them, padded to 4 bytes.
void with_data(VxNlCommand& c, const void* data, uint32_t len, uint32_t send_size) {
    c.data = data;
    c.data_len = len;
    c.length = vx_nl_pad4(VX_NL_REQUEST_LEN + len);
    c.send_size = send_size;
}

void reading(VxNlCommand& c, void* out, uint32_t offset, uint32_t len) {
    c.out = out;
    c.out_offset = offset;
    c.out_len = len;
}

// send(offset, len) for each piece of at most `piece` of `total` bytes, in
// order, up to the first that fails (1). A total of 0 sends one empty piece
// when `empty_piece`, else nothing.
int in_pieces(uint32_t total, uint32_t piece, bool empty_piece, const std::function<int(uint32_t, uint32_t)>& send) {
    if (total == 0 && empty_piece) return send(0, 0);
    for (uint64_t offset = 0; offset < total; offset += piece) {
        const auto at = static_cast<uint32_t>(offset);
        if (send(at, std::min(total - at, piece)) != 0) return 1;
    }
    return 0;
}

}  // namespace

// ---------------------------------------------------------------- Tarno

int vxapi_nl_84xx_reset(int sock, int host_no, int diag_fw, uint32_t* pext_stat) {
    const Step step("vxapi_nl_84xx_reset");
    const msg_reset body{static_cast<uint32_t>(diag_fw)};
    VxNlCommand c = command(step.name, VX_NL_CMD_TARNO_RESET, body, kReplyHead, true);
    c.send_size = VX_NL_MGMT_LEN;
    c.recv_size = VX_NL_CHUNK_BUF;
    return done(c, vxapi_nl_exchange(sock, host_no, c, pext_stat), "reset successful");
}

int vxapi_nl_84xx_updatefw(int sock, int host_no, TARNO_UPDATE_FW* pFwInfo, uint32_t* pext_stat) {
    const Step step("vxapi_nl_84xx_updatefw");
    *pext_stat = EXT_STATUS_ERR;
    msg_update_fw body{};
    body.diag_fw = pFwInfo->Flags == TARNO_UPDATE_DIAG_FW ? 1 : 0;
    body.fw_len = pFwInfo->TotalByteCount;
    VxNlCommand c = command(step.name, VX_NL_CMD_TARNO_UPDATE_FW, body, kReplyHead, true);
    c.recv_size = VX_NL_CHUNK_BUF;
    const int rc = in_pieces(body.fw_len, VX_NL_CHUNK, false, [&](uint32_t offset, uint32_t len) {
        body.offset = offset;
        body.len = len;
        with_data(c, pFwInfo->pFwDataBytes + offset, len, VX_NL_CHUNK_BUF);
        return vxapi_nl_exchange(sock, host_no, c, pext_stat);
    });
    if (rc == 0) *pext_stat = EXT_STATUS_OK;
    return done(c, rc, "update fw successful");
}

namespace {

// The management header of a request; another operation leaves it zero.
vxa84_msg_mgmt mgmt_header(const TARNO_MANAGE_INFO& info) {
    vxa84_msg_mgmt m{};
    const auto& ap = info.Parameters.ap;
    switch (info.Operation) {
    case TARNO_MGMT_READ_MEM:
    case TARNO_MGMT_WRITE_MEM:
        m.mgmtp.mem.start_addr = ap.TarnoMemory.StartingAddr;
        break;
    case TARNO_MGMT_CHANGE_CONFIG:
        m.mgmtp.config = {ap.TarnoConfig.ConfigParamID, ap.TarnoConfig.ConfigParamData0,
                          ap.TarnoConfig.ConfigParamData1};
        break;
    case TARNO_MGMT_GET_INFO:
        m.mgmtp.info = {ap.TarnoInfo.InfoDataType, ap.TarnoInfo.InfoContext};
        break;
    default:
        return m;
    }
    m.cmd = info.Operation;
    m.len = info.TotalByteCount;
    return m;
}

}  // namespace

int vxapi_nl_84xx_mgmt(int sock, int host_no, TARNO_MANAGE_INFO* pMgmtInfo, uint32_t* pext_stat) {
    const Step step("vxapi_nl_84xx_mgmt");
    const TARNO_MANAGE_INFO& info = *pMgmtInfo;
    const uint32_t count = info.TotalByteCount;
    // Whatever the operation, the reply is read with room for the data.
    if (count > kMgmtReadMax || (info.Operation == TARNO_MGMT_WRITE_MEM && count > kMgmtWriteMax)) {
        return refuse(step.name, "data length exceeds the message", pext_stat);
    }
    const vxa84_msg_mgmt head = mgmt_header(info);
    VxNlCommand c = command(step.name, VX_NL_CMD_TARNO_MGMT, head, kReplyHead + sizeof head + count, true);
    c.send_size = c.length = VX_NL_MGMT_LEN;
    c.recv_size = VX_NL_CHUNK_BUF;
    const bool reads = info.Operation == TARNO_MGMT_READ_MEM || info.Operation == TARNO_MGMT_GET_INFO;
    if (info.Operation == TARNO_MGMT_WRITE_MEM) {
        c.data = info.pDataBytes;
        c.data_len = count;
    }
    if (reads) reading(c, info.pDataBytes, sizeof head, count);
    if (vxapi_nl_exchange(sock, host_no, c, pext_stat) != 0) return 1;
    if (reads && vxdbg_on(VXDBG_ERROR | VXDBG_API)) vxdbg_dump("Payload:", info.pDataBytes, 8, std::min(count, 128u));
    return done(c, 0, "mgmt cmd successful");
}

// ---------------------------------------------------------------- loopback

namespace {

// The send phase's body of a piece; the test's results come back in it.
msg_loopback loopback_send_body(const INT_LOOPBACK_REQ& req, const INT_LOOPBACK_RSP& rsp) {
    msg_loopback m{};
    m.options = req.Options;
    m.tx_cnt = req.TransferCount;
    m.iter_cnt = req.IterationCount;
    m.tx_buf_address = req.BufferAddress;
    m.tx_buf_len = req.BufferLength;
    m.rx_buf_address = rsp.BufferAddress;
    m.rx_buf_len = rsp.BufferLength;
    m.total_len = req.BufferLength;
    return m;
}

void take_results(const msg_loopback& m, INT_LOOPBACK_RSP* rsp) {
    rsp->CompletionStatus = m.comp_stat;
    rsp->CrcErrorCount = m.crc_err_cnt;
    rsp->DisparityErrorCount = m.disparity_err_cnt;
    rsp->FrameLengthErrorCount = m.frame_len_err_cnt;
    rsp->IterationCountLastError = m.iter_cnt_last_err;
    rsp->CommandSent = m.cmd_sent;
}

}  // namespace

int vxapi_nl_loopback_test(int sock, int host_no, void* ploopback_req, uint32_t, void* ploopback_rsp, uint32_t,
                           uint32_t* pext_stat) {
    const Step step("vxapi_nl_loopback_test");
    const auto& req = *static_cast<const INT_LOOPBACK_REQ*>(ploopback_req);
    auto* rsp = static_cast<INT_LOOPBACK_RSP*>(ploopback_rsp);
    if (req.BufferLength > rsp->BufferLength) return refuse(step.name, "Rx buffer smaller than Tx buffer", pext_stat);
    if (req.TransferCount == 0) return refuse(step.name, "Zero xfer count", pext_stat);
    // The test reads TransferCount bytes of the transmit buffer and writes as
    // many into the receive buffer.
    if (req.TransferCount > req.BufferLength) return refuse(step.name, "xfer count above buffer length", pext_stat);
    *pext_stat = EXT_STATUS_ERR;
    const auto* tx = static_cast<const uint8_t*>(vxapi_64bit_to_ptr(req.BufferAddress));
    auto* rx = static_cast<uint8_t*>(vxapi_64bit_to_ptr(rsp->BufferAddress));

    msg_loopback body = loopback_send_body(req, *rsp);
    msg_loopback results{};
    VxNlCommand c = command(step.name, VX_NL_CMD_LOOPBACK_SEND, body, kReplyHead + sizeof body, true);
    c.recv_size = VX_NL_CHUNK_BUF;
    reading(c, &results, 0, sizeof results);
    int rc = in_pieces(req.TransferCount, VX_NL_CHUNK, false, [&](uint32_t offset, uint32_t len) {
        body.offset = offset;
        body.len = len;
        with_data(c, tx + offset, len, VX_NL_CHUNK_BUF);
        return vxapi_nl_exchange(sock, host_no, c, pext_stat);
    });
    if (rc != 0) return 1;
    take_results(results, rsp);
    trace(VXDBG_STEP, step.name, "send data successful");

    body = msg_loopback{};
    body.total_len = rsp->BufferLength;
    c.cmd = VX_NL_CMD_LOOPBACK_READ;
    c.data_len = 0;
    rc = in_pieces(req.TransferCount, VX_NL_CHUNK, false, [&](uint32_t offset, uint32_t len) {
        body.offset = offset;
        body.len = len;
        c.length = vx_nl_pad4(VX_NL_REQUEST_LEN + len);
        c.reply_len = kReplyHead + sizeof body + len;
        reading(c, rx + offset, sizeof body, len);
        return vxapi_nl_exchange(sock, host_no, c, pext_stat);
    });
    if (rc == 0) *pext_stat = EXT_STATUS_OK;
    return done(c, rc, "receive data successful");
}

// ---------------------------------------------------------------- port speed

int vxapi_nl_port_param(int sock, int host_no, void* pbuf, uint32_t, uint32_t* pext_stat) {
    const Step step("vxapi_nl_port_param");
    auto* param = static_cast<INT_PORT_PARAM*>(pbuf);
    if (param->FCScsiAddr.DestType != VX_DEST_WWPN) return refuse(step.name, "Invalid destination type", pext_stat);
    vxa_port_param body{};
    std::memcpy(body.dest_addr, param->FCScsiAddr.DestAddr.WWPN, sizeof body.dest_addr);
    body.dest_type = VX_DEST_WWPN;
    body.mode = param->Mode;
    const bool get = body.mode == VX_PORT_PARAM_GET;
    if (!get && !vxapi_port_speed_to_code(param->Speed, &body.speed)) {
        return refuse(step.name, "Invalid port speed", pext_stat);
    }
    uint16_t code = 0;
    VxNlCommand c = command(step.name, VX_NL_CMD_PORT_PARAM, body, kReplyHead + sizeof body, false);
    c.send_size = c.recv_size = VX_NL_WIDE_BUF;
    reading(c, &code, offsetof(vxa_port_param, speed), sizeof code);
    if (vxapi_nl_exchange(sock, host_no, c, pext_stat) != 0) return 1;
    if (get) param->Speed = vxapi_port_code_to_speed(code);
    return done(c, 0, "successful");
}

// ---------------------------------------------------------------- FCP priority, diagnostic mode

namespace {

// oper 0 or 1 switches FCP priority; VX_NL_FCP_PRIO_GET reads the
// configuration (size bytes) into cfg, VX_NL_FCP_PRIO_SET sends it.
int fcp_prio(const char* name, int sock, int host_no, uint8_t oper, void* cfg, uint32_t size, uint32_t* status) {
    const Step step(name);
    const bool get = oper == VX_NL_FCP_PRIO_GET;
    const bool set = oper == VX_NL_FCP_PRIO_SET;
    // The message or the reply must fit the largest receive.
    if ((get || set) && size > kMaxData) return refuse(name, "configuration size exceeds the message", status);
    const vxa_fcp_prio_param head{VX_NL_FCP_PRIO_VERSION, oper, {}, get || set ? size : 0};
    VxNlCommand c = command(name, VX_NL_CMD_FCP_PRIO, head, kReplyHead, true);
    if (set) with_data(c, cfg, size, vx_nl_pad4(VX_NL_REQUEST_LEN + size));
    if (get) {
        c.reply_len = kReplyHead + sizeof head + size;
        c.recv_size = vx_nl_pad4(VX_NL_REQUEST_LEN + size);
        reading(c, cfg, sizeof head, size);
    }
    return done(c, vxapi_nl_exchange(sock, host_no, c, status), "receive data successful");
}

}  // namespace

int vxapi_nl_enable_disable_qos(int sock, int host_no, uint32_t flag, uint32_t* pext_stat) {
    return fcp_prio("vxapi_nl_enable_disable_qos", sock, host_no, static_cast<uint8_t>(flag), nullptr, 0, pext_stat);
}

int vxapi_nl_get_qos_config(int sock, int host_no, void* qos, uint32_t qos_size, uint32_t* pext_stat) {
    return fcp_prio("vxapi_nl_get_qos_config", sock, host_no, VX_NL_FCP_PRIO_GET, qos, qos_size, pext_stat);
}

int vxapi_nl_set_qos_config(int sock, int host_no, void* qos, uint32_t qos_size, uint32_t* pext_stat) {
    return fcp_prio("vxapi_nl_set_qos_config", sock, host_no, VX_NL_FCP_PRIO_SET, qos, qos_size, pext_stat);
}

int vxapi_nl_set_reset_diag_mode(int sock, int host_no, uint8_t mode, uint32_t* pext_stat) {
    const Step step("vxapi_nl_set_reset_diag_mode");
    if (mode > 1) {
        *pext_stat = EXT_STATUS_ERR;
        return 1;
    }
    const uint32_t body = mode;
    const VxNlCommand c = command(step.name, VX_NL_CMD_DIAG_MODE, body, kReplyHead, true);
    return done(c, vxapi_nl_exchange(sock, host_no, c, pext_stat), "receive data successful");
}

// ---------------------------------------------------------------- FRU

int vxapi_nl_update_fru_versions(int sock, int host_no, void* fru_img, uint32_t fru_size, uint32_t* pext_stat) {
    const Step step("vxapi_nl_update_fru_versions");
    if (fru_size > kMaxData) return refuse(step.name, "list size exceeds the message", pext_stat);
    VxNlCommand c;
    c.name = step.name;
    c.cmd = VX_NL_CMD_FRU_VERSIONS;
    c.recv_size = VX_NL_WIDE_BUF;
    with_data(c, fru_img, fru_size, vx_nl_pad4(VX_NL_REQUEST_LEN + fru_size));
    return done(c, vxapi_nl_exchange(sock, host_no, c, pext_stat), "successful");
}

int vxapi_nl_fru_status(int sock, int host_no, void* stat_reg, uint32_t stat_size, uint32_t cmd, uint32_t* pext_stat) {
    const Step step("vxapi_nl_fru_status");
    if (stat_size > kMaxData) return refuse(step.name, "register size exceeds the message", pext_stat);
    VxNlCommand c;
    c.name = step.name;
    c.cmd = cmd;
    c.reply_len = kReplyHead + sizeof(vxa_status_reg);
    with_data(c, stat_reg, stat_size, vx_nl_pad4(VX_NL_REQUEST_LEN + stat_size));
    c.recv_size = c.send_size;
    // The reply holds one register: a read takes no more than that.
    if (cmd == VX_NL_CMD_FRU_STATUS_READ) {
        reading(c, stat_reg, 0, std::min<uint32_t>(stat_size, sizeof(vxa_status_reg)));
    }
    return done(c, vxapi_nl_exchange(sock, host_no, c, pext_stat), "successful");
}

// ---------------------------------------------------------------- i2c

namespace {

int i2c(const char* name, uint32_t cmd, int sock, int host_no, uint16_t dev, uint16_t adr, uint16_t opt, uint16_t len,
        uint8_t* data, uint32_t* status) {
    const Step step(name);
    const bool write = cmd == VX_NL_CMD_I2C_WRITE;
    vxa_i2c_access body{};
    body.device = dev;
    body.option = opt;
    VxNlCommand c = command(name, cmd, body, kReplyHead + sizeof body, false);
    c.send_size = c.length = vx_nl_pad4(VX_NL_REQUEST_LEN + sizeof body);
    c.recv_size = VX_NL_WIDE_BUF;
    const int rc = in_pieces(len, VXA_I2C_MAX, true, [&](uint32_t off, uint32_t piece) {
        body.offset = static_cast<uint16_t>(adr + off);
        body.length = static_cast<uint16_t>(piece);
        std::memset(body.buffer, 0, sizeof body.buffer);  // each piece carries only its own bytes
        if (write) std::memcpy(body.buffer, data + off, piece);
        if (!write) reading(c, data + off, offsetof(vxa_i2c_access, buffer), piece);
        return vxapi_nl_exchange(sock, host_no, c, status);
    });
    return done(c, rc, "successful");
}

}  // namespace

int vxapi_nl_get_i2c(int sock, int host_no, uint16_t dev, uint16_t adr, uint16_t opt, uint16_t len, uint8_t* i2c_buf,
                     uint32_t* pext_stat) {
    return i2c("vxapi_nl_get_i2c", VX_NL_CMD_I2C_READ, sock, host_no, dev, adr, opt, len, i2c_buf, pext_stat);
}

int vxapi_nl_set_i2c(int sock, int host_no, uint16_t dev, uint16_t adr, uint16_t opt, uint16_t len, uint8_t* i2c_buf,
                     uint32_t* pext_stat) {
    return i2c("vxapi_nl_set_i2c", VX_NL_CMD_I2C_WRITE, sock, host_no, dev, adr, opt, len, i2c_buf, pext_stat);
}

// ---------------------------------------------------------------- SerDes

namespace {

// A register record R: a write sends val, a read fills it.
template <class R>
int serdes(const char* name, uint32_t cmd, int sock, int host_no, R* reg, uint32_t* status) {
    const Step step(name);
    R body{};
    body.cmd = reg->cmd;
    body.addr = reg->addr;
    if (reg->cmd == VXA_SERDES_WRITE) body.val = reg->val;
    decltype(body.val) val = 0;
    VxNlCommand c = command(name, cmd, body, kReplyHead + sizeof body, false);
    reading(c, &val, offsetof(R, val), sizeof val);
    if (vxapi_nl_exchange(sock, host_no, c, status) != 0) return 1;
    if (reg->cmd == VXA_SERDES_READ) reg->val = val;
    return done(c, 0, "successful");
}

}  // namespace

int vxapi_nl_serdes_reg_ops(int sock, int host_no, vxa_serdes_reg* serdes_reg, uint32_t* pext_stat) {
    return serdes("vxapi_nl_serdes_reg_ops", VX_NL_CMD_SERDES_REG, sock, host_no, serdes_reg, pext_stat);
}

int vxapi_nl_serdes_reg_ops_ex(int sock, int host_no, vxa_serdes_reg_ex* serdes_reg, uint32_t* pext_stat) {
    return serdes("vxapi_nl_serdes_reg_ops_ex", VX_NL_CMD_SERDES_REG_EX, sock, host_no, serdes_reg, pext_stat);
}
