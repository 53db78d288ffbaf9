// Diagnostics and maintenance of sysfs-mode ports. The file readers take the
// driver's attributes of the SCSI host and the PCI function's host
// directory; the vendor commands are one bsg round trip each
// (vxsysfs_bsg_vendor_command) whose reply, when it has one, carries the
// driver's status in its first vendor word.
#include "transport/vx_sysfs_diag.h"

#include <fcntl.h>
#include <pthread.h>
#include <scsi/sg.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "base/vx_request.h"
#include "base/vx_sddbg.h"
#include "platform/vx_platform.h"
#include "transport/vx_sysfs_bsg.h"
#include "transport/vx_sysfs_prim.h"
#include "transport/vx_sysfs_walk.h"

using vxsysfs::Attr;
using vxsysfs::Status;

namespace {

constexpr uint32_t kErr = VXDBG_ERROR | VXDBG_SYSFS;
// The temperature text: at most 15 characters.
constexpr uint32_t kTempTextSize = 16;
// Word 1 of the NPIV QoS command.
constexpr uint32_t kQosDisable = 0;
constexpr uint32_t kQosEnable = 1;
constexpr uint32_t kQosGetConfig = 2;
constexpr uint32_t kQosSetConfig = 3;
constexpr uint32_t kQosGetPerf = 4;

using Path = char[VXSYSFS_PATH_SIZE];

void trace(const char* text) { vxdbg_line(VXDBG_SYSFS, text); }
void fail(const char* text) { vxdbg_line(kErr, text); }

// "<name>: entered" (with a point for the bsg commands).
void entered(const char* name, bool point = false) {
    if (!vxdbg_on(VXDBG_SYSFS)) return;
    vxdbg_print(name, 0, VXDBG_NONE, 0);
    vxdbg_print(point ? ": entered." : ": entered", 0, VXDBG_NONE, 1);
}

bool is_file(const char* path) { return vx::sys().sysfs_path_is_file(path) == 0; }

// The attribute `name` behind the directory path ending at end; false when
// it does not fit or is not a file there.
bool present(char* path, char* end, const char* name) {
    return end != nullptr && vxsysfs_path_append(path, end, name) != nullptr && is_file(path);
}

bool in_scsi_host(const vxapi_priv_database* rec, const char* name, Path& path) {
    return present(path, vxsysfs_get_scsi_host_path(path, static_cast<uint16_t>(rec->host_no)), name);
}

bool in_device_dir(const vxapi_priv_database* rec, const char* name, Path& path) {
    return present(path, vxsysfs_get_device_path(path, rec), name);
}

// A command with a 20-byte request; with a 20-byte reply whose status word
// becomes the status when `driver_status`. Allocation failure: status 17
// for those with a reply, 9 for the others.
VxBsgCommand command(uint32_t code, bool driver_status) {
    VxBsgCommand cmd;
    cmd.code = code;
    cmd.reply_len = driver_status ? VX_BSG_REPLY_LEN : 0;
    cmd.status_from_reply = driver_status;
    cmd.no_memory_status = driver_status ? EXT_STATUS_NO_MEMORY : EXT_STATUS_DEV_NOT_FOUND;
    return cmd;
}

int32_t send(vxapi_priv_database* rec, const VxBsgCommand& cmd, uint32_t* status) {
    return vxsysfs_bsg_vendor_command(rec, cmd, status);
}

// A command with word 1 and the buffer in one direction; a get must get
// the whole buffer.
int32_t qos(vxapi_priv_database* rec, uint32_t code, uint32_t word1, void* in, const void* out, uint32_t size,
            uint32_t* status) {
    VxBsgCommand cmd = command(code, true);
    cmd.args = &word1;
    cmd.args_len = sizeof word1;
    cmd.in = in, cmd.in_len = cmd.in_need = in != nullptr ? size : 0;
    cmd.out = out, cmd.out_len = out != nullptr ? size : 0;
    return send(rec, cmd, status);
}

// A record that goes out and comes back; one that is read comes back whole.
int32_t round_trip(vxapi_priv_database* rec, uint32_t code, void* record, uint32_t size, bool read,
                   uint32_t* status) {
    VxBsgCommand cmd = command(code, true);
    cmd.out = record, cmd.out_len = size;
    cmd.in = record, cmd.in_len = size;
    cmd.in_need = read ? size : 0;
    return send(rec, cmd, status);
}

// A temperature "<degrees>[.<hundredths>]" read as the conversion
// "%hd.%02hd" reads it: white space before each number skipped, the degrees
// a number within 16 bits, the hundredths the number of the one or two
// digits after the point (45.5 gives 5, 45.50 gives 50, 45.125 gives 12),
// nothing after the fields judged (a unit, more digits). A point with no
// digit behind it is no temperature: its fraction did not come. The degrees
// carry no sign: the record's unsigned degrees cannot hold one below zero.
struct Temperature {
    uint16_t whole = 0;
    uint16_t hundredths = 0;
    bool has_hundredths = false;
};
constexpr uint64_t kMostHundredths = 99;
constexpr size_t kHundredthsDigits = 2;

// Of a text cut to its buffer (cut), a field that runs to the cut did not
// come whole.
VxAttrAnswer parse_temperature(const char* text, bool cut, Temperature& temp) {
    VxFields fields(text, kTempTextSize, cut);
    uint64_t whole = 0;
    uint64_t hundredths = 0;
    VxAttrAnswer answer = fields.number(10, UINT16_MAX, &whole);
    const bool point = answer == VxAttrAnswer::Came && fields.literal('.');
    if (point) answer = fields.number(10, kMostHundredths, &hundredths, kHundredthsDigits);
    if (answer != VxAttrAnswer::Came) return answer;
    temp.whole = static_cast<uint16_t>(whole);
    temp.hundredths = static_cast<uint16_t>(hundredths);
    temp.has_hundredths = point;
    return answer;
}

int32_t missing_buffer(uint32_t* status) {
    if (status != nullptr) *status = EXT_STATUS_DEV_NOT_FOUND;
    return 1;
}

}  // namespace

// ---------------------------------------------------------------- files

int32_t vxsysfs_get_board_temp(vxapi_priv_database* api_priv_data_inst, EXT_BOARD_TEMP* ptemp, uint32_t,
                               uint32_t* pext_stat) {
    entered("vxsysfs_get_board_temp");
    Status status(pext_stat, EXT_STATUS_DEV_NOT_FOUND);
    Path path;
    if (api_priv_data_inst == nullptr || ptemp == nullptr || !in_scsi_host(api_priv_data_inst, "thermal_temp", path)) {
        return 1;
    }
    char text[kTempTextSize];
    VxAttrAnswer answer = VxAttrAnswer::Failed;
    vxsysfs_get_str_attr(path, text, sizeof text, &answer);
    Temperature temp;
    // A text longer than its 15 characters is read as far as it came: what
    // lies past the fields is not judged, a field cut off is.
    if (answer == VxAttrAnswer::Came || answer == VxAttrAnswer::TooLarge) {
        answer = parse_temperature(text, answer == VxAttrAnswer::TooLarge, temp);
    }
    // A text that is no temperature, or one past its fields, fails as an
    // unreadable attribute does, rather than hand back the caller's values
    // or a cut one.
    if (answer != VxAttrAnswer::Came) {
        fail("vxsysfs_get_board_temp: no temperature in thermal_temp");
        status = vxsysfs_answer_status(answer);
        return 0;
    }
    ptemp->IntTemp = temp.whole;
    if (temp.has_hundredths) ptemp->FracTemp = temp.hundredths;
    status = EXT_STATUS_OK;
    return 0;
}

int32_t vxsysfs_get_serdes_params(int, vxapi_priv_database* api_priv_data_inst, void* buf, uint32_t size,
                                  uint32_t* pext_stat) {
    trace("vxsysfs_get_serdes_param: entered");
    Status status(pext_stat, EXT_STATUS_DEV_NOT_FOUND);
    if (api_priv_data_inst == nullptr || buf == nullptr) return 0;
    std::memset(buf, 0, size);
    const vxapi_priv_database* rec = api_priv_data_inst;
    if (rec->interface_type == VX_PORT_VIRTUAL) rec = rec->parent;
    else if (rec->interface_type != VX_PORT_PHYSICAL) rec = nullptr;
    Path path;
    if (rec == nullptr || !in_device_dir(rec, "read_serdes", path)) return 0;
    status = EXT_STATUS_ERR;
    Attr attr(path);
    if (!attr.read()) return 0;
    if (attr.length() > size) {
        if (vxdbg_on(kErr)) {
            vxdbg_print(attr.get()->name, 0, VXDBG_NONE, 0);
            vxdbg_print(" overread=+", attr.length() - size, VXDBG_INT, 1);
        }
        return 0;
    }
    // A block that came shorter than the buffer keeps the zeros behind it;
    // one of no bytes is no block.
    if (attr.length() == 0) {
        fail("> read_serdes empty");
        status = EXT_STATUS_DATA_UNDERRUN;
        return 0;
    }
    std::memcpy(buf, attr.value(), attr.length());
    status = EXT_STATUS_OK;
    return 0;
}

// ---------------------------------------------------------------- bsg commands

int32_t vxsysfs_update_fru_versions(int, vxapi_priv_database* api_priv_data_inst, vxa_image_version_list* plist,
                                    uint32_t size, uint32_t* pext_stat) {
    entered("vxsysfs_update_fru_versions", true);
    vxdbg_line(VXDBG_SYSFS, "> fru_buf_size ==", size, VXDBG_INT);
    if (plist == nullptr) return missing_buffer(pext_stat);
    VxBsgCommand cmd = command(VX_BSG_FRU_VERSIONS, false);
    cmd.out = plist, cmd.out_len = size;
    return send(api_priv_data_inst, cmd, pext_stat);
}

int32_t vxsysfs_bsg_fru_status(int, vxapi_priv_database* api_priv_data_inst, vxa_status_reg* preg, uint32_t size,
                               uint32_t cmd_code, uint32_t* pext_stat) {
    entered("vxsysfs_bsg_fru_status", true);
    vxdbg_line(VXDBG_SYSFS, "> stat_reg_size ==", size, VXDBG_INT);
    if (pext_stat != nullptr) *pext_stat = EXT_STATUS_DEV_NOT_FOUND;
    if (cmd_code != VX_BSG_FRU_STATUS_READ && cmd_code != VX_BSG_FRU_STATUS_WRITE) return 0;
    if (preg == nullptr) return missing_buffer(pext_stat);
    VxBsgCommand cmd = command(cmd_code, false);
    // A register read must come whole: its value is written back by the
    // read-modify-write that follows.
    if (cmd_code == VX_BSG_FRU_STATUS_READ) cmd.in = preg, cmd.in_len = cmd.in_need = size;
    else cmd.out = preg, cmd.out_len = size;
    return send(api_priv_data_inst, cmd, pext_stat);
}

int32_t vxsysfs_bsg_get_npiv_qos_config(int, vxapi_priv_database* api_priv_data_inst, void* buf, uint32_t size,
                                        uint32_t* pext_stat) {
    entered("vxsysfs_bsg_get_npiv_qos_config", true);
    if (buf == nullptr) return missing_buffer(pext_stat);
    return qos(api_priv_data_inst, VX_BSG_NPIV_QOS, kQosGetConfig, buf, nullptr, size, pext_stat);
}

int32_t vxsysfs_bsg_set_npiv_qos_config(int, vxapi_priv_database* api_priv_data_inst, void* buf, uint32_t size,
                                        uint32_t* pext_stat) {
    entered("vxsysfs_bsg_set_npiv_qos_config", true);
    if (buf == nullptr) return missing_buffer(pext_stat);
    return qos(api_priv_data_inst, VX_BSG_NPIV_QOS, kQosSetConfig, nullptr, buf, size, pext_stat);
}

int32_t vxsysfs_bsg_npiv_qos_enable_disable(int, vxapi_priv_database* api_priv_data_inst, uint8_t flag,
                                            uint32_t* pext_stat) {
    entered("vxsysfs_bsg_npiv_qos_enable_disable", true);
    return qos(api_priv_data_inst, VX_BSG_NPIV_QOS, flag != 0 ? kQosEnable : kQosDisable, nullptr, nullptr, 0,
               pext_stat);
}

int32_t vxsysfs_bsg_get_npiv_qos_perf(int, vxapi_priv_database* api_priv_data_inst, void* buf, uint32_t size,
                                      uint32_t* pext_stat) {
    entered("vxsysfs_bsg_get_npiv_qos_perf", true);
    if (buf == nullptr) return missing_buffer(pext_stat);
    return qos(api_priv_data_inst, VX_BSG_NPIV_QOS, kQosGetPerf, buf, nullptr, size, pext_stat);
}

int32_t vxsysfs_bsg_npiv_get_qos_list(int, vxapi_priv_database* api_priv_data_inst, void* buf, uint32_t size,
                                      uint32_t* pext_stat) {
    entered("vxsysfs_bsg_npiv_get_qos_list", true);
    if (buf == nullptr) return missing_buffer(pext_stat);
    return qos(api_priv_data_inst, VX_BSG_NPIV_QOS_LIST, 0, buf, nullptr, size, pext_stat);
}

int32_t vxsysfs_bsg_serdes_reg_ops(int, vxapi_priv_database* api_priv_data_inst, vxa_serdes_reg* preg,
                                   uint32_t* pext_stat) {
    entered("vxsysfs_bsg_serdes_reg_ops", true);
    if (preg == nullptr) return missing_buffer(pext_stat);
    return round_trip(api_priv_data_inst, VX_BSG_SERDES_REG, preg, sizeof *preg, preg->cmd == VXA_SERDES_READ,
                      pext_stat);
}

int32_t vxsysfs_bsg_serdes_reg_ops_ex(int, vxapi_priv_database* api_priv_data_inst, vxa_serdes_reg_ex* preg,
                                      uint32_t* pext_stat) {
    entered("vxsysfs_bsg_serdes_reg_ops_ex", true);
    if (preg == nullptr) return missing_buffer(pext_stat);
    return round_trip(api_priv_data_inst, VX_BSG_SERDES_REG_EX, preg, sizeof *preg, preg->cmd == VXA_SERDES_READ,
                      pext_stat);
}

int vxsysfs_flash_update_capabilities(int, vxapi_priv_database* api_priv_data_inst, vxa_flash_update_caps* pcap,
                                      uint32_t* pext_stat, uint32_t flag) {
    entered("vxsysfs_flash_update_capabilities", true);
    if (pcap == nullptr) return missing_buffer(pext_stat);
    return round_trip(api_priv_data_inst, flag != 0 ? VX_BSG_SET_FLASH_CAPS : VX_BSG_GET_FLASH_CAPS, pcap,
                      sizeof *pcap, flag == 0, pext_stat);
}

// ---------------------------------------------------------------- diagnostic I/O

namespace {

// Set by the stream of the current run that first received data that
// differed; the others stop before their next transfer. Runs never overlap:
// the public call that starts one holds the lock of the public API until its
// streams are joined (and the streams never take that lock).
std::atomic<int> diagio_memcpy{0};

// The buffers of one stream, freed when it ends.
struct StreamBuffers {
    std::unique_ptr<uint8_t[]> request, reply, dout, din;
};

// Allocates the stream's buffers: false, with status 17, when one cannot be had.
bool allocate(const vxa_thread_data& td, StreamBuffers& b) {
    const struct { std::unique_ptr<uint8_t[]>& buffer; uint32_t length; const char* failure; } wanted[] = {
        {b.request, VX_BSG_REQUEST_LEN, "> Unable to allocate memory -- cdb"},
        {b.reply, VX_BSG_REPLY_LEN, "> Unable to allocate memory -- reply"},
        {b.dout, td.size, "> Unable to allocate memory -- pdout"},
        {b.din, td.size, "> Unable to allocate memory -- pdin"},
    };
    for (const auto& w : wanted) {
        w.buffer.reset(new (std::nothrow) uint8_t[w.length]());
        if (w.buffer == nullptr) {
            fail(w.failure);
            *td.pext_stat = EXT_STATUS_NO_MEMORY;
            return false;
        }
    }
    std::memcpy(b.dout.get(), td.pdata, td.size);
    return true;
}

// The stream's transfers until one fails, one differs, another stream's
// data differed or all were made.
void transfer(const vxa_thread_data& td, StreamBuffers& b, sg_io_v4& hdr) {
    for (uint32_t i = 0; i < td.iterations && diagio_memcpy.load() == 0; ++i) {
        // A transfer that brings nothing must not pass on the last one's data.
        if (td.flag != 0) std::memset(b.din.get(), 0, td.size);
        const int rc = vx::sys().ioctl(td.fd, SG_IO, &hdr);
        if (rc != 0) {
            *td.pext_stat = errno == ENOSYS ? EXT_STATUS_NO_DRIVER_SUPPORT : EXT_STATUS_ERR;
            vxdbg_line(kErr, "> IOCTL Failed=", static_cast<uint32_t>(rc), VXDBG_INT);
            return;
        }
        *td.pext_stat = vxsysfs_bsg_vendor_status(hdr);
        if (*td.pext_stat == EXT_STATUS_BUSY) continue;
        if (*td.pext_stat != EXT_STATUS_OK) return;
        if (td.flag == 0) continue;
        // Data that did not come back are not compared as if they had.
        if (vxsysfs_bsg_arrived(hdr).data_in < td.size) {
            *td.pext_stat = EXT_STATUS_DATA_UNDERRUN;
            return;
        }
        if (std::memcmp(b.dout.get(), b.din.get(), td.size) != 0) {
            *td.pext_stat = EXT_STATUS_DATA_COMPARE;
            int unclaimed = 0;
            if (diagio_memcpy.compare_exchange_strong(unclaimed, 1)) std::memcpy(td.presp, b.din.get(), td.size);
            return;
        }
    }
}

// Starts the streams: the number started.
uint32_t start_streams(vxa_thread_data* records, pthread_t* ids, uint32_t threads, Status& status) {
    for (uint32_t i = 0; i < threads; ++i) {
        const int err = vx::sys().thread_create(&ids[i], vxsysfs_max_io, &records[i]);
        if (err != 0) {
            vxdbg_line(kErr, "> Failed=", static_cast<uint32_t>(err), VXDBG_INT);
            status = EXT_STATUS_THREAD_START;
            return i;
        }
    }
    return threads;
}

}  // namespace

void* vxsysfs_max_io(void* thread_data) {
    auto& td = *static_cast<vxa_thread_data*>(thread_data);
    *td.pext_stat = EXT_STATUS_DEV_NOT_FOUND;
    if (td.pdata == nullptr || td.size == 0) return nullptr;
    StreamBuffers b;
    if (!allocate(td, b)) return nullptr;
    auto* request = reinterpret_cast<fc_bsg_request*>(b.request.get());
    sg_io_v4 hdr;
    vxsysfs_create_bsg_header(&hdr, request, VX_BSG_REQUEST_LEN, reinterpret_cast<fc_bsg_reply*>(b.reply.get()),
                              VX_BSG_REPLY_LEN, b.dout.get(), td.size, b.din.get(), td.size);
    request->rqst_data.h_vendor.vendor_cmd[0] = VX_BSG_DIAG_IO;
    request->rqst_data.h_vendor.vendor_cmd[1] = td.thread_id;
    *td.pext_stat = EXT_STATUS_ERR;
    transfer(td, b, hdr);
    return nullptr;
}

int32_t vxsysfs_diag_io(int, vxapi_priv_database* api_priv_data_inst, const void* data, uint32_t size, void* resp,
                        uint32_t threads, uint32_t iterations, uint8_t flag, uint32_t* pext_stat) {
    entered("vxsysfs_diag_io", true);
    Status status(pext_stat, EXT_STATUS_DEV_NOT_FOUND);
    if (api_priv_data_inst == nullptr || data == nullptr || resp == nullptr || size == 0) return 1;
    if (threads > VX_DIAG_IO_MAX_THREADS) {
        status = EXT_STATUS_INVALID_PARAM;
        return 1;
    }
    Path dir;
    char node[VXSYSFS_PATH_SIZE] = {};
    vxsysfs_get_bsg_device_path(dir, api_priv_data_inst);
    vxsysfs_open_bsg_dev(dir, node, sizeof node);
    if (node[0] == '\0') return 0;
    status = EXT_STATUS_ERR;
    const int fd = vx::sys().open(node, O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        fail("> Failed open");
        vx::sys().unlink(node);
        return 0;
    }
    std::array<pthread_t, VX_DIAG_IO_MAX_THREADS> ids{};
    std::array<vxa_thread_data, VX_DIAG_IO_MAX_THREADS> records{};
    std::array<uint32_t, VX_DIAG_IO_MAX_THREADS> slots{};
    diagio_memcpy.store(0);
    for (uint32_t i = 0; i < threads; ++i) {
        records[i] = {i + 1, size, iterations, fd, flag, &slots[i], static_cast<const uint8_t*>(data),
                      static_cast<uint8_t*>(resp)};
    }
    const uint32_t started = start_streams(records.data(), ids.data(), threads, status);
    for (uint32_t i = 0; i < started; ++i) vx::sys().thread_join(ids[i], nullptr);
    if (started == threads) {
        const auto failed = std::find_if(slots.begin(), slots.begin() + threads, [](uint32_t s) { return s != 0; });
        if (failed != slots.begin() + threads) {
            status = *failed;
        } else {
            std::memcpy(resp, data, size);
            status = EXT_STATUS_OK;
        }
    }
    vx::sys().close(fd);
    vx::sys().unlink(node);
    return 0;
}

// ---------------------------------------------------------------- firmware dump

namespace {

constexpr char kDumpDir[] = "/opt/Varnix_Corporation/FW_Dumps";
constexpr char kUdevRules[] = "/etc/udev/rules.d/99-vxa2xxx.rules";
constexpr char kUdevScript[] = "/lib/udev/vxa2xxx_udev.sh";
// The time stamp behind "fw_dump_<host>_": 8 digits, a separator, 6 digits.
constexpr size_t kStampDate = 8;
constexpr size_t kStampTime = 6;
constexpr size_t kStampLength = kStampDate + 1 + kStampTime;
// A driver dump the attribute reader cannot take in one call.
constexpr uint32_t kDumpLimit = INT32_MAX;

bool regular(const char* path) {
    struct stat st;
    return vx::sys().stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

// The stamp that follows the match text as one number; false when the name
// does not hold all of its digits there.
bool dump_stamp(const char* after, uint64_t& stamp) {
    if (strnlen(after, kStampLength) < kStampLength) return false;
    std::string digits(after, kStampDate);
    digits.append(after + kStampDate + 1, kStampTime);
    if (digits.find_first_not_of("0123456789") != std::string::npos) return false;
    stamp = std::stoull(digits);
    return true;
}

// The name of the host's newest dump file (the last listed among equal
// stamps); empty when there is none.
std::string newest_dump(uint32_t host_no) {
    std::vector<std::string> names;
    if (vx::sys().list_dir(kDumpDir, names) != 0) return {};
    char match[32];
    std::snprintf(match, sizeof match, "fw_dump_%d_", static_cast<int>(host_no));
    std::string chosen;
    uint64_t best = 0;
    for (const std::string& name : names) {
        const char* at = std::strstr(name.c_str(), match);
        uint64_t stamp = 0;
        if (at == nullptr || !dump_stamp(at + std::strlen(match), stamp) || stamp < best ||
            !regular((std::string(kDumpDir) + "/" + name).c_str())) {
            continue;
        }
        best = stamp, chosen = name;
    }
    return chosen;
}

// The path of the dump file into the buffer, cut to its size; a buffer of
// no bytes gets the size the path needs (status 16).
void dump_file_path(const std::string& name, uint8_t* buf, uint32_t* buf_size, Status& status) {
    const std::string path = std::string(kDumpDir) + "/" + name;
    if (*buf_size == 0) {
        *buf_size = static_cast<uint32_t>(path.size() + 1);
        status = EXT_STATUS_BUFFER_TOO_SMALL;
        return;
    }
    std::snprintf(reinterpret_cast<char*>(buf), *buf_size, "%s", path.c_str());
    status = EXT_STATUS_DUMP_FILE;
}

// Enable, read and clear the driver's dump of dump_size bytes through
// "fw_dump". Status 0 and true only when all three worked; a dump that was
// not read whole is not cleared, so that it can be fetched again.
bool read_driver_dump(const vxapi_priv_database* rec, uint8_t* buf, uint32_t dump_size, Status& status) {
    Path path;
    if (!in_device_dir(rec, "fw_dump", path)) return false;
    status = EXT_STATUS_ERR;
    Attr attr(path);
    if (!attr.is_open() || dump_size > kDumpLimit) return false;
    if (vxsysfs_write_file(path, "1", 2) != 0) {
        fail("> failed dump enable");
        return false;
    }
    if (vxsysfs_read_file(path, buf, static_cast<int32_t>(dump_size)) != 0) {
        fail("> Failed underread");
        return false;
    }
    if (vxsysfs_write_file(path, "0", 2) != 0) {
        fail("> failed driver dump clear");
        return false;
    }
    status = EXT_STATUS_OK;
    return true;
}

}  // namespace

int32_t vxsysfs_check_udev_scripts() {
    if (!regular(kUdevRules) || !regular(kUdevScript)) return 1;
    trace("vxsysfs_check_udev_scripts: present");
    return 0;
}

int32_t vxsysfs_get_fw_dump(int, vxapi_priv_database* api_priv_data_inst, uint8_t* buf, uint32_t* buf_size,
                            uint32_t* pext_stat) {
    entered("vxsysfs_get_fw_dump");
    Status status(pext_stat, EXT_STATUS_DEV_NOT_FOUND);
    if (api_priv_data_inst == nullptr || buf == nullptr || buf_size == nullptr) return 1;
    // A dump file's path is the only text written: the caller's bytes behind
    // its end stay as they were. The driver's dump starts from a zeroed buffer.
    if (vxsysfs_check_udev_scripts() == 0) {
        const std::string name = newest_dump(api_priv_data_inst->host_no);
        if (!name.empty()) {
            dump_file_path(name, buf, buf_size, status);
            return 0;
        }
    }
    std::memset(buf, 0, *buf_size);
    Path path;
    if (!in_scsi_host(api_priv_data_inst, "fw_dump_size", path)) return 1;
    // A size that is no decimal of 32 bits is no size: it never reads as
    // "no dump", nor as a smaller one.
    VxAttrAnswer answer = VxAttrAnswer::Failed;
    const uint32_t dump_size = vxsysfs_get_int_attr(path, &answer);
    if (answer != VxAttrAnswer::Came) {
        fail("> fw_dump_size not read");
        status = vxsysfs_answer_status(answer);
    } else if (dump_size > *buf_size) {
        fail("> smaller buf size allocated");
        *buf_size = dump_size;
        status = EXT_STATUS_BUFFER_TOO_SMALL;
    } else if (dump_size == 0) {
        fail("> No dump available");
        *buf_size = 0;
        status = EXT_STATUS_NO_DATA;
    } else if (read_driver_dump(api_priv_data_inst, buf, dump_size, status)) {
        *buf_size = dump_size;
    }
    return 0;
}

// ---------------------------------------------------------------- FCE trace

namespace {

// Plain sh redirections: "&>" would put the command in the background there.
constexpr char kMountDebugfs[] = "mount -t debugfs nodev /sys/kernel/debug/ > /dev/null 2>&1";
constexpr char kUmountDebugfs[] = "umount /sys/kernel/debug/ > /dev/null 2>&1";

// Up to wanted bytes of the trace; at least one: their number and status 0.
// A read that failed part-way gave no trace to count.
void read_fce(const char* path, uint8_t* buf, uint32_t wanted, uint32_t* buf_size, Status& status) {
    status = EXT_STATUS_ERR;
    Attr attr(path);
    if (!attr.is_open()) return;
    const auto limit = static_cast<int32_t>(std::min<uint32_t>(wanted, INT32_MAX));
    bool failed = false;
    const int32_t missing = vxsysfs_read_file(path, buf, limit, &failed);
    if (failed || missing < 0 || missing >= limit) {
        fail("> Failed underread");
        return;
    }
    *buf_size = static_cast<uint32_t>(limit - missing);
    status = EXT_STATUS_OK;
}

}  // namespace

int32_t vxsysfs_get_fce_buffer(int, vxapi_priv_database* api_priv_data_inst, uint8_t* buf, uint32_t* buf_size,
                               uint32_t* pext_stat) {
    entered("vxsysfs_get_fce_buffer");
    Status status(pext_stat, EXT_STATUS_DEV_NOT_FOUND);
    if (api_priv_data_inst == nullptr || api_priv_data_inst->phy_info == nullptr || buf == nullptr ||
        buf_size == nullptr) {
        return 0;
    }
    const uint32_t wanted = *buf_size;
    std::memset(buf, 0, wanted);
    const auto* driver = reinterpret_cast<const char*>(api_priv_data_inst->phy_info->model);
    const int n = static_cast<int>(strnlen(driver, sizeof api_priv_data_inst->phy_info->model));
    Path path;
    const int length = std::snprintf(path, sizeof path, "/sys/kernel/debug/%.*s/%.*s_%u/fce", n, driver, n, driver,
                                     api_priv_data_inst->host_no);
    if (length < 0 || static_cast<size_t>(length) >= sizeof path) return 0;
    // debugfs is mounted only when the trace is not visible, and unmounted
    // only when this call mounted it: a debugfs in use stays.
    const bool mounted = !regular(path) && vx::sys().system(kMountDebugfs) == 0;
    if (regular(path)) read_fce(path, buf, wanted, buf_size, status);
    if (mounted) vx::sys().system(kUmountDebugfs);
    return 0;
}
