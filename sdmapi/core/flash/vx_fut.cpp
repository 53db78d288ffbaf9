// Flash update tokens in the shared file and the flash update capabilities
// request.
//
// The table is written by every process on the host, so serial numbers in it
// are compared within their 128 bytes, never as open-ended strings, and a
// free slot (owner 0) never stands for an adapter, whatever its serial bytes
// say (an adapter without a serial number would otherwise match every free
// slot).
//
// Taking a token refuses while another process holds a live one for the same
// adapter anywhere in the table, so the test for a live token and the take
// cannot be split by another process's take: two processes never hold a
// token for one adapter at once. When the end of an update asks whether the
// token ran out, the caller's own entry decides: a stale entry of the same
// adapter further down the table never keeps a live token from being freed.
//
// The token is the owner's process id, which any process can name: a live
// token is freed only by its owner, so that no other process ends an update
// in the middle of it and starts its own. A token whose owner no longer runs,
// or that is no longer live, guards nothing and may be freed by any process.
#include "core/flash/vx_fut.h"

#include <sys/mman.h>

#include <cerrno>
#include <cstring>

#include "base/vx_port_road.h"
#include "base/vx_request.h"
#include "base/vx_sddbg.h"
#include "base/vx_sem.h"
#include "platform/vx_platform.h"
#include "transport/vx_ioctl_road.h"
#include "transport/vx_sysfs_diag.h"

namespace {

constexpr uint16_t kSubCodeRead = 1;
constexpr uint16_t kSubCodeSend = 2;

// The table under the dbupdate semaphore, flushed to the file on entry.
class TableAccess {
public:
    explicit TableAccess(const char* name) : lock_(api_shared_data != nullptr ? api_dbupdate_sem_id : -1) {
        if (!lock_.held()) {
            if (vxdbg_on(VXDBG_ERROR | VXDBG_STEP)) {
                vxdbg_print(name, 0, VXDBG_NONE, 0);
                vxdbg_print(": shared data file not available.", 0, VXDBG_NONE, 1);
            }
            return;
        }
        sync();
    }
    TableAccess(const TableAccess&) = delete;
    TableAccess& operator=(const TableAccess&) = delete;

    bool ok() const { return lock_.held() && api_shared_data != nullptr; }
    vxapi_flash_update_token& slot(unsigned i) { return api_shared_data->fut[i]; }
    void sync() { vx::sys().msync(api_shared_data, VX_SHARED_SIZE, MS_SYNC); }

private:
    VxSemLock lock_;
};

const uint8_t* serial_of(const vxapi_priv_database* rec) {
    if (rec == nullptr || rec->phy_info == nullptr) return nullptr;
    return rec->phy_info->serial_num;
}

bool occupied(const vxapi_flash_update_token& t) { return t.token != 0; }

bool same_serial(const vxapi_flash_update_token& t, const uint8_t* serial) {
    return std::strncmp(t.serial_num, reinterpret_cast<const char*>(serial), VX_FUT_SERIAL_LEN) == 0;
}

// An occupied slot of the adapter.
bool holds_adapter(const vxapi_flash_update_token& t, const uint8_t* serial) {
    return occupied(t) && same_serial(t, serial);
}

uint64_t valid_time_of(const vxapi_flash_update_token& t) {
    uint64_t v = 0;
    std::memcpy(&v, reinterpret_cast<const uint8_t*>(&t) + offsetof(vxapi_flash_update_token, valid_time), sizeof v);
    return v;
}

void set_valid_time(vxapi_flash_update_token& t, uint64_t v) {
    std::memcpy(reinterpret_cast<uint8_t*>(&t) + offsetof(vxapi_flash_update_token, valid_time), &v, sizeof v);
}

uint64_t now() {
    const time_t t = vx::sys().time();
    return t > 0 ? static_cast<uint64_t>(t) : 0;
}

bool is_live(const vxapi_flash_update_token& t) { return valid_time_of(t) > now(); }
bool is_expired(const vxapi_flash_update_token& t) { return valid_time_of(t) < now(); }

bool owned_by(const vxapi_flash_update_token& t, uint32_t token) { return static_cast<uint32_t>(t.token) == token; }

// Whether the owner of a slot is gone: signal 0 finds no such process. A
// token that is no process id names no owner. A process that may not be
// signalled (EPERM) still runs, and so does one that exited but has not been
// waited for by its parent.
bool owner_gone(const vxapi_flash_update_token& t) {
    return t.token <= 0 || (vx::sys().kill(t.token, 0) != 0 && errno == ESRCH);
}

// Whether this process may free the slot: its own, or one that guards nothing.
bool may_free(const vxapi_flash_update_token& t) {
    return t.token == vx::sys().getpid() || !is_live(t) || owner_gone(t);
}

void trace_result(const char* name, int result) {
    if (vxdbg_on(VXDBG_STEP)) {
        vxdbg_print(name, 0, VXDBG_NONE, 0);
        vxdbg_print(": exiting. status=", static_cast<uint32_t>(result), VXDBG_HEX, 1);
    }
}

}  // namespace

int vxapi_is_fut_exist(vxapi_priv_database* api_priv_data_inst) {
    const uint8_t* serial = serial_of(api_priv_data_inst);
    if (serial == nullptr) return 1;
    TableAccess table("vxapi_is_fut_exist");
    if (!table.ok()) return 1;
    int result = 1;
    for (unsigned i = 0; i < VX_FUT_SLOTS; ++i) {
        if (holds_adapter(table.slot(i), serial) && is_live(table.slot(i))) {
            result = 0;
            break;
        }
    }
    trace_result("vxapi_is_fut_exist", result);
    return result;
}

int32_t vxapi_get_fut_owner(vxapi_priv_database* api_priv_data_inst) {
    const uint8_t* serial = serial_of(api_priv_data_inst);
    if (serial == nullptr) return 0;
    TableAccess table("vxapi_get_fut_owner");
    if (!table.ok()) return 0;
    for (unsigned i = 0; i < VX_FUT_SLOTS; ++i) {
        if (holds_adapter(table.slot(i), serial) && is_live(table.slot(i))) return table.slot(i).token;
    }
    return 0;
}

int vxapi_get_fut(vxapi_priv_database* api_priv_data_inst, uint32_t* ptoken) {
    const uint8_t* serial = serial_of(api_priv_data_inst);
    if (serial == nullptr) return 1;
    TableAccess table("vxapi_get_fut");
    if (!table.ok()) return 1;
    const pid_t pid = vx::sys().getpid();

    for (unsigned i = 0; i < VX_FUT_SLOTS; ++i) {
        const vxapi_flash_update_token& t = table.slot(i);
        if (holds_adapter(t, serial) && is_live(t) && t.token != pid) {
            vxdbg_line(VXDBG_STEP, "vxapi_get_fut: adapter's token held by process ", static_cast<uint32_t>(t.token),
                       VXDBG_DEC);
            trace_result("vxapi_get_fut", 1);
            return 1;
        }
    }

    // The adapter's own slot, or the first free one before it.
    unsigned i = 0;
    while (i < VX_FUT_SLOTS && occupied(table.slot(i)) && !same_serial(table.slot(i), serial)) ++i;
    if (i == VX_FUT_SLOTS) {
        trace_result("vxapi_get_fut", 1);
        return 1;
    }
    vxapi_flash_update_token& t = table.slot(i);
    std::memset(static_cast<void*>(&t), 0, sizeof t);
    t.token = pid;
    std::memcpy(t.serial_num, serial, strnlen(reinterpret_cast<const char*>(serial), VX_FUT_SERIAL_LEN));
    set_valid_time(t, now() + VX_FUT_VALID_SECONDS);
    table.sync();
    if (ptoken != nullptr) *ptoken = static_cast<uint32_t>(pid);
    trace_result("vxapi_get_fut", 0);
    return 0;
}

int vxapi_is_fut_expired(vxapi_priv_database* api_priv_data_inst, uint32_t token) {
    const uint8_t* serial = serial_of(api_priv_data_inst);
    if (serial == nullptr) return 1;
    TableAccess table("vxapi_is_fut_expired");
    if (!table.ok()) return 1;

    bool own_entry = false;
    bool own_valid = false;
    bool own_expired = false;
    bool any_expired = false;
    for (unsigned i = 0; i < VX_FUT_SLOTS; ++i) {
        const vxapi_flash_update_token& t = table.slot(i);
        if (!holds_adapter(t, serial)) continue;
        const bool expired = is_expired(t);
        any_expired = any_expired || expired;
        if (owned_by(t, token)) {
            own_entry = true;
            if (expired) own_expired = true;
            else own_valid = true;
        }
    }
    table.sync();
    const int result = (own_entry ? (own_expired && !own_valid) : any_expired) ? 0 : 1;
    trace_result("vxapi_is_fut_expired", result);
    return result;
}

int vxapi_clear_fut(vxapi_priv_database* api_priv_data_inst, uint32_t token) {
    const uint8_t* serial = serial_of(api_priv_data_inst);
    if (serial == nullptr) return 1;
    TableAccess table("vxapi_clear_fut");
    if (!table.ok()) return 1;

    int found = -1;
    for (unsigned i = 0; i < VX_FUT_SLOTS; ++i) {
        const vxapi_flash_update_token& t = table.slot(i);
        if (!holds_adapter(t, serial) || !owned_by(t, token)) continue;
        if (!is_expired(t)) {
            found = static_cast<int>(i);
            break;
        }
        if (found < 0) found = static_cast<int>(i);
    }
    int result = 1;
    if (found >= 0 && !may_free(table.slot(static_cast<unsigned>(found)))) {
        vxdbg_line(VXDBG_STEP, "vxapi_clear_fut: token held by running process ", token, VXDBG_DEC);
    } else if (found >= 0) {
        std::memset(static_cast<void*>(&table.slot(static_cast<unsigned>(found))), 0, sizeof(vxapi_flash_update_token));
        result = 0;
    }
    table.sync();
    trace_result("vxapi_clear_fut", result);
    return result;
}

int vxapi_flash_update_capabilities(int handle, vxapi_priv_database* api_priv_data_inst,
                                    vxa_flash_update_caps* pcap, uint32_t* pext_stat, uint32_t flag) {
    if (vxapi_is_sysfs_port(api_priv_data_inst)) {
        return vxsysfs_flash_update_capabilities(handle, api_priv_data_inst, pcap, pext_stat, flag);
    }
    if (pcap == nullptr) {
        // Nothing to read into or to send: the request is not built.
        vxdbg_line(VXDBG_ERROR | VXDBG_STEP, "vxapi_flash_update_capabilities: init_ext_ioctl error, status=",
                   VX_RESULT_NOT_BUILT, VXDBG_HEX);
        return VX_RESULT_NOT_BUILT;
    }
    VxRequest req;
    req.command = EXT_CC_FLASH_UPDATE_CAPS;
    req.sub_code = flag == VX_FUCAPS_SEND ? kSubCodeSend : kSubCodeRead;
    req.instance = 0;
    req.request = pcap;
    req.request_len = sizeof *pcap;
    req.response = pcap;
    req.response_len = sizeof *pcap;
    // A read fills the record whole; a send's answer is not read.
    req.record_len = flag == VX_FUCAPS_SEND ? 0 : sizeof *pcap;
    VxReply reply;
    const int result = vxapi_send_request("vxapi_flash_update_capabilities", handle, api_priv_data_inst, req, &reply);
    if (pext_stat != nullptr) *pext_stat = reply.status;
    return result;
}
