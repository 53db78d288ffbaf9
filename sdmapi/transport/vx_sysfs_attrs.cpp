// Attribute transfers of sysfs ports: NVRAM, VPD and SFP attribute files,
// link statistics from the FC host's statistics files and from an ELS RLS
// exchange with a remote port, the beacon, and i2c access through bsg
// vendor commands.
#include "transport/vx_sysfs_attrs.h"

#include <fcntl.h>
#include <scsi/sg.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "base/vx_request.h"
#include "base/vx_sddbg.h"
#include "platform/vx_platform.h"
#include "transport/vx_sysfs.h"
#include "transport/vx_sysfs_bsg.h"
#include "transport/vx_sysfs_passthru.h"
#include "transport/vx_sysfs_prim.h"
#include "transport/vx_sysfs_walk.h"

using vxsysfs::Attr;
using vxsysfs::Status;

namespace {

void trace(const char* text) { vxdbg_line(VXDBG_SYSFS, text); }

void trace_number(const char* text, uint64_t number) { vxdbg_line(VXDBG_SYSFS, text, number, VXDBG_DEC); }

// Sets the caller's status word, when there is one.
void report(uint32_t* status, uint32_t value) {
    if (status != nullptr) *status = value;
}

// The path of an attribute of the directory whose path (ending in "/")
// ends at end; false when it does not fit.
bool attr_path(char* path, char* end, const char* name) { return vxsysfs_path_append(path, end, name) != nullptr; }

// ---------------------------------------------------------------- NVRAM, VPD, SFP

// How a read fits the attribute: NVRAM and SFP give the caller's size (at
// most the attribute's length), VPD the attribute whole (into a buffer at
// least that long).
enum class Fit { Prefix, Whole };

// The reading path of an attribute: the port's own directory for a physical
// port, its parent's for a virtual port; false for other kinds.
bool reading_path(const vxapi_priv_database* rec, const char* name, char* path) {
    const vxapi_priv_database* owner = rec->interface_type == VX_PORT_PHYSICAL  ? rec
                                       : rec->interface_type == VX_PORT_VIRTUAL ? rec->parent
                                                                                : nullptr;
    return owner != nullptr && attr_path(path, vxsysfs_get_device_path(path, owner), name);
}

// Reads the attribute into buf (size bytes, zeroed first); *got: the bytes
// copied.
void read_bytes(const char* entered, vxapi_priv_database* rec, const char* name, Fit fit, uint8_t* buf,
                uint32_t size, uint32_t* got, uint32_t* pext_stat) {
    vxsysfs::trace_entered(entered);
    Status status(pext_stat, EXT_STATUS_DEV_NOT_FOUND);
    if (rec == nullptr || (buf == nullptr && size != 0)) {
        status = EXT_STATUS_INVALID_PARAM;
        return;
    }
    if (size != 0) std::memset(buf, 0, size);
    char path[VXSYSFS_PATH_SIZE];
    if (!reading_path(rec, name, path) || vx::sys().sysfs_path_is_file(path) != 0) return;
    status = EXT_STATUS_ERR;
    Attr attr(path);
    if (!attr.read()) return;
    const uint32_t len = static_cast<uint32_t>(attr.length());
    if (fit == Fit::Prefix && size > len) {
        trace_number("attr->len==", len);
        trace_number(" overread=+", size - len);
        return;
    }
    if (fit == Fit::Whole && size < len) {
        trace_number(" vpd_buf smaller by (bytes)=", len - size);
        return;
    }
    *got = fit == Fit::Prefix ? size : len;
    std::memcpy(buf, attr.value(), *got);
    status = EXT_STATUS_OK;
}

// Writes size bytes of buf to the attribute of the port's own directory
// (it must be writable and at least that long); *written: the bytes
// written on success.
void write_bytes(const char* entered, vxapi_priv_database* rec, const char* name, const uint8_t* buf,
                 uint32_t size, uint32_t* written, uint32_t* pext_stat) {
    vxsysfs::trace_entered(entered);
    Status status(pext_stat, EXT_STATUS_DEV_NOT_FOUND);
    if (rec == nullptr || (buf == nullptr && size != 0)) {
        status = EXT_STATUS_INVALID_PARAM;
        return;
    }
    char path[VXSYSFS_PATH_SIZE];
    if (!attr_path(path, vxsysfs_get_device_path(path, rec), name) || vx::sys().sysfs_path_is_file(path) != 0) {
        return;
    }
    status = EXT_STATUS_ERR;
    Attr attr(path);
    if (!attr.read()) return;
    if ((attr.get()->method & SYSFS_METHOD_STORE) == 0) {
        trace("> not writeable");
        return;
    }
    const uint32_t len = static_cast<uint32_t>(attr.length());
    if (size > len) {
        trace_number(" overwrite +", size - len);
        return;
    }
    if (vxsysfs_write_file(path, buf, static_cast<int32_t>(size)) != 0) {
        trace("> failed underwrite");
        return;
    }
    *written = size;
    status = EXT_STATUS_OK;
}

}  // namespace

int32_t vxsysfs_get_nvram(int, vxapi_priv_database* rec, uint8_t* nvr_buf, uint32_t nvr_buf_size,
                          uint32_t* pext_stat) {
    uint32_t got = 0;
    read_bytes("vxsysfs_get_nvram: entered", rec, "nvram", Fit::Prefix, nvr_buf, nvr_buf_size, &got, pext_stat);
    return 0;
}

int32_t vxsysfs_get_sfp(int, vxapi_priv_database* rec, uint8_t* sfp_buf, uint32_t sfp_buf_size,
                        uint32_t* pext_stat) {
    uint32_t got = 0;
    read_bytes("vxsysfs_get_sfp: entered", rec, "sfp", Fit::Prefix, sfp_buf, sfp_buf_size, &got, pext_stat);
    return 0;
}

int32_t vxsysfs_get_vpd(int, vxapi_priv_database* rec, uint8_t* vpd_buf, uint32_t* vpd_buf_size,
                        uint32_t* pext_stat) {
    if (vpd_buf_size == nullptr) {
        report(pext_stat, EXT_STATUS_INVALID_PARAM);
        return 0;
    }
    read_bytes("vxsysfs_get_vpd: entered", rec, "vpd", Fit::Whole, vpd_buf, *vpd_buf_size, vpd_buf_size, pext_stat);
    return 0;
}

int32_t vxsysfs_set_nvram(int, vxapi_priv_database* rec, const uint8_t* nvr_buf, uint32_t nvr_buf_size,
                          uint32_t* pext_stat) {
    uint32_t written = 0;
    write_bytes("vxsysfs_set_nvram: entered", rec, "nvram", nvr_buf, nvr_buf_size, &written, pext_stat);
    return 0;
}

int32_t vxsysfs_set_vpd(int, vxapi_priv_database* rec, const uint8_t* vpd_buf, uint32_t* vpd_buf_size,
                        uint32_t* pext_stat) {
    if (vpd_buf_size == nullptr) {
        report(pext_stat, EXT_STATUS_INVALID_PARAM);
        return 0;
    }
    write_bytes("vxsysfs_set_vpd: entered", rec, "vpd", vpd_buf, *vpd_buf_size, vpd_buf_size, pext_stat);
    return 0;
}

// ---------------------------------------------------------------- statistics

namespace {

// ELS RLS: the request is the pass-through head and the payload (the RLS
// command code, the rest zero) in a payload room of 16 bytes; the answer is
// LS_ACC and the link error status block, six big-endian counters.
constexpr uint8_t kElsRls = 0x0F;
constexpr uint8_t kLsAcc = 0x02;
constexpr uint32_t kRlsPayloadRoom = 16;
constexpr uint32_t kRlsRequestLen = VX_ELS_HEADER_LEN + kRlsPayloadRoom;
constexpr uint32_t kRlsAnswerLen = 28;
constexpr uint32_t kRlsCounterAt = 4;

// The counters of the link error status block, in order.
uint32_t EXT_HBA_PORT_STAT::* const kRlsCounters[] = {
    &EXT_HBA_PORT_STAT::TotalLinkFailures,          &EXT_HBA_PORT_STAT::TotalLossOfSync,
    &EXT_HBA_PORT_STAT::TotalLossOfSignals,         &EXT_HBA_PORT_STAT::PrimitiveSeqProtocolErrorCount,
    &EXT_HBA_PORT_STAT::InvalidTransmissionWordCount, &EXT_HBA_PORT_STAT::InvalidCRCCount,
};

// The FC host's statistics files (hexadecimal) and their fields.
template <class T>
struct StatFile {
    const char* name;
    T EXT_HBA_PORT_STAT::*field;
};

const StatFile<uint32_t> kStatFiles32[] = {
    {"dumped_frames", &EXT_HBA_PORT_STAT::DumpedFrames},
    {"invalid_crc_count", &EXT_HBA_PORT_STAT::InvalidCRCCount},
    {"invalid_tx_word_count", &EXT_HBA_PORT_STAT::InvalidTransmissionWordCount},
    {"link_failure_count", &EXT_HBA_PORT_STAT::TotalLinkFailures},
    {"lip_count", &EXT_HBA_PORT_STAT::TotalLipResets},
    {"loss_of_signal_count", &EXT_HBA_PORT_STAT::TotalLossOfSignals},
    {"loss_of_sync_count", &EXT_HBA_PORT_STAT::TotalLossOfSync},
    {"nos_count", &EXT_HBA_PORT_STAT::NosCount},
    {"prim_seq_protocol_err_count", &EXT_HBA_PORT_STAT::PrimitiveSeqProtocolErrorCount},
    {"rx_frames", &EXT_HBA_PORT_STAT::RxFrames},
    {"tx_frames", &EXT_HBA_PORT_STAT::TxFrames},
};

const StatFile<uint64_t> kStatFiles64[] = {
    {"fcp_control_requests", &EXT_HBA_PORT_STAT::ControlRequestCount},
    {"fcp_input_megabytes", &EXT_HBA_PORT_STAT::InputMBytes},
    {"fcp_input_requests", &EXT_HBA_PORT_STAT::InputRequestCount},
    {"fcp_output_megabytes", &EXT_HBA_PORT_STAT::OutputMBytes},
    {"fcp_output_requests", &EXT_HBA_PORT_STAT::OutputRequestCount},
};

// A SCSI device's directory path, with its "/", is at most this long.
constexpr size_t kMaxDevicePath = 238;
// A counter's text: 64 bits in decimal, or in hexadecimal with "0x", and
// white space fit with room to spare.
constexpr uint32_t kCounterText = 32;

// The counters of one statistics read. A file that is not there counts 0
// (a driver without that counter); one that is there but cannot be read,
// or holds no number, is no count: the first such file's status stays, and
// the reads after it are skipped.
class Counters {
public:
    // The counter `name` of the directory whose path ends at end, written
    // in base 16 or 10, or as printed (VxFields::kBaseAsPrinted); 0 when it
    // is not there, when its path does not fit, when it is all ones (not
    // counted) or once a counter failed.
    uint64_t read(char* path, char* end, const char* name, int base = 16) {
        if (failed_ != EXT_STATUS_OK || !attr_path(path, end, name)) return 0;
        char text[kCounterText];
        VxAttrAnswer answer = VxAttrAnswer::Failed;
        vxsysfs_get_str_attr(path, text, sizeof text, &answer);
        uint64_t value = 0;
        // The number as far as its digits go, whatever follows it (a unit,
        // words past the text's room); a number the room cuts is none.
        if (answer == VxAttrAnswer::Came || answer == VxAttrAnswer::TooLarge) {
            answer = VxFields(text, sizeof text, answer == VxAttrAnswer::TooLarge).number(base, UINT64_MAX, &value);
        }
        if (answer == VxAttrAnswer::Absent) return 0;
        if (answer != VxAttrAnswer::Came) {
            if (vxdbg_on(VXDBG_SYSFS)) {
                vxdbg_print("> no count in ", 0, VXDBG_NONE, 0);
                vxdbg_print(path, 0, VXDBG_NONE, 1);
            }
            failed_ = vxsysfs_answer_status(answer);
            return 0;
        }
        return value == ~uint64_t{0} ? 0 : value;
    }
    // EXT_STATUS_OK while every counter read came or was not there.
    [[nodiscard]] uint32_t failed() const { return failed_; }

private:
    uint32_t failed_ = EXT_STATUS_OK;
};

uint32_t low32(uint64_t value) { return static_cast<uint32_t>(value); }

// Whether the directory is there and holds no entry at all. libsysfs opens
// no list of an empty directory, as it opens none of one that is absent or
// unreadable; only the directory itself tells them apart.
bool empty_dir(const char* path) {
    std::vector<std::string> names;
    return vx::sys().list_dir(path, names) == 0 && names.empty();
}

// Adds the error and completion counts of the host's SCSI devices; false
// when the devices cannot be listed or a device's path is too long. The
// class directory is there whenever the SCSI core is loaded: empty, on a
// machine without any SCSI device, it adds nothing.
bool add_device_counts(uint32_t host_no, EXT_HBA_PORT_STAT* stats, Counters& counters) {
    char dir[VXSYSFS_PATH_SIZE];
    vxsysfs_get_scsi_dev_path(dir, nullptr);
    vxsysfs::EntryList list(dir);
    if (!list.is_open()) return empty_dir(dir);
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%u:0:", host_no);
    bool whole = true;
    list.each([&](const char* entry) {
        if (!vxsysfs::starts_with(entry, prefix)) return true;
        char path[VXSYSFS_PATH_SIZE];
        char* end = vxsysfs_get_scsi_dev_path(path, entry);
        end = vxsysfs_path_append(path, end, "/");
        if (end == nullptr || std::strlen(path) > kMaxDevicePath) {
            trace("> scsi device path too long");
            return whole = false;
        }
        stats->DeviceErrorCount += low32(counters.read(path, end, "device/ioerr_cnt"));
        stats->TotalIoCount += low32(counters.read(path, end, "device/iodone_cnt"));
        return true;
    });
    return whole;
}

}  // namespace

int vxsysfs_get_port_statistics(int handle, vxapi_priv_database* rec, const void* dest_addr,
                                EXT_HBA_PORT_STAT* stats, uint32_t* status) {
    trace("vxsysfs_get_port_statistics: entered.");
    if (rec == nullptr || dest_addr == nullptr || stats == nullptr) {
        report(status, EXT_STATUS_INVALID_PARAM);
        return 1;
    }
    // A failure is never left looking like success: the status is 1 until
    // the counters are in.
    report(status, EXT_STATUS_ERR);
    std::unique_ptr<uint8_t[]> request(new (std::nothrow) uint8_t[kRlsRequestLen]());
    if (request == nullptr) {
        trace("> req buf malloc failed");
        return 1;
    }
    std::unique_ptr<uint8_t[]> answer(new (std::nothrow) uint8_t[kRlsAnswerLen]());
    if (answer == nullptr) {
        trace("> resp buf malloc failed");
        return 1;
    }
    auto* head = reinterpret_cast<EXT_ELS_PT_REQ*>(request.get());
    std::memcpy(head->WWPN, static_cast<const EXT_DEST_ADDR*>(dest_addr)->DestAddr.WWPN, sizeof head->WWPN);
    head->ValidMask = VX_ELS_WWPN_VALID;
    request[VX_ELS_HEADER_LEN] = kElsRls;

    uint32_t answer_len = kRlsAnswerLen;
    uint32_t els_status = EXT_STATUS_ERR;
    const int32_t sent = vxsysfs_send_els_passthru(handle, rec, request.get(), kRlsRequestLen, answer.get(),
                                                   &answer_len, &els_status);
    // Counters are taken only from a whole accepted answer: one that came
    // short of them fails with status 8, its reply code read only when it
    // came.
    if (sent != 0 || els_status != EXT_STATUS_OK || (answer_len != 0 && answer[0] != kLsAcc)) {
        trace(">> els passthru failed");
        if (els_status == EXT_STATUS_DATA_UNDERRUN) report(status, els_status);  // a reply that came short
        return 1;
    }
    if (answer_len < kRlsAnswerLen) {
        vxdbg_line(VXDBG_SYSFS, ">> rls answer short, bytes=", answer_len, VXDBG_DEC);
        report(status, EXT_STATUS_DATA_UNDERRUN);
        return 1;
    }
    for (size_t i = 0; i < std::size(kRlsCounters); ++i) {
        stats->*kRlsCounters[i] = low32(vxsysfs_bendian(answer.get() + kRlsCounterAt + 4 * i, 4));
    }
    report(status, EXT_STATUS_OK);
    return 0;
}

int vxsysfs_get_statistics(int, vxapi_priv_database* rec, EXT_HBA_PORT_STAT* stats, uint32_t* pext_stat) {
    trace("vxsysfs_get_statistics: entered.");
    Status status(pext_stat, EXT_STATUS_DEV_NOT_FOUND);
    if (rec == nullptr || stats == nullptr) {
        status = EXT_STATUS_INVALID_PARAM;
        return 0;
    }
    const auto host_no = static_cast<uint16_t>(rec->host_no);
    char path[VXSYSFS_PATH_SIZE];
    char* end = vxsysfs_path_append(path, vxsysfs_get_fc_host_path(path, host_no), "statistics/");
    if (end == nullptr || vx::sys().sysfs_path_is_dir(path) != 0) return 0;
    Counters counters;
    for (const auto& file : kStatFiles32) stats->*file.field = low32(counters.read(path, end, file.name));
    for (const auto& file : kStatFiles64) stats->*file.field = counters.read(path, end, file.name);

    end = vxsysfs_get_scsi_host_path(path, host_no);
    // The driver prints the aborts in decimal.
    stats->ControllerErrorCount = low32(counters.read(path, end, "total_isp_aborts", VxFields::kBaseAsPrinted));
    stats->TotalIoCount = low32(counters.read(path, end, "diag_requests", 10));
    stats->TotalMBytes = low32(counters.read(path, end, "diag_megabytes", 10));
    if (!add_device_counts(rec->host_no, stats, counters)) return 0;
    // A counter that could not be read makes the sums it goes into wrong.
    if (counters.failed() != EXT_STATUS_OK) {
        status = counters.failed();
        return 0;
    }
    stats->TotalMBytes += low32(stats->InputMBytes) + low32(stats->OutputMBytes);
    status = EXT_STATUS_OK;
    return 0;
}

// ---------------------------------------------------------------- beacon

namespace {

constexpr const char kBeaconOn[] = "Enabled";

// The SCSI host's "beacon" path; false when it is not a file.
bool beacon_path(const vxapi_priv_database* rec, char* path) {
    return attr_path(path, vxsysfs_get_scsi_host_path(path, static_cast<uint16_t>(rec->host_no)), "beacon") &&
           vx::sys().sysfs_path_is_file(path) == 0;
}

}  // namespace

int32_t vxsysfs_get_beacon(int, vxapi_priv_database* rec, EXT_BEACON_CONTROL* pbeacon_st, uint32_t* pext_stat) {
    trace("vxsysfs_get_beacon: entered");
    Status status(pext_stat, EXT_STATUS_DEV_NOT_FOUND);
    char path[VXSYSFS_PATH_SIZE];
    if (rec == nullptr || pbeacon_st == nullptr) {
        status = EXT_STATUS_INVALID_PARAM;
    } else if (beacon_path(rec, path)) {
        char text[sizeof kBeaconOn + 1];
        VxAttrAnswer answer = VxAttrAnswer::Failed;
        vxsysfs_get_str_attr(path, text, sizeof text, &answer);
        // A text too long for the buffer is not "Enabled" either; a read
        // that failed tells no state, and the caller's stays.
        if (answer == VxAttrAnswer::Came || answer == VxAttrAnswer::TooLarge) {
            pbeacon_st->State = std::strcmp(text, kBeaconOn) == 0 ? VX_BEACON_BLINK : VX_BEACON_OFF;
            status = EXT_STATUS_OK;
        } else {
            trace("> beacon not read");
            status = vxsysfs_answer_status(answer);
        }
    }
    return 0;
}

int32_t vxsysfs_set_beacon(int, vxapi_priv_database* rec, const EXT_BEACON_CONTROL* pbeacon_st,
                           uint32_t* pext_stat) {
    trace("vxsysfs_set_beacon: entered");
    Status status(pext_stat, EXT_STATUS_DEV_NOT_FOUND);
    char path[VXSYSFS_PATH_SIZE];
    if (rec == nullptr || pbeacon_st == nullptr) {
        status = EXT_STATUS_INVALID_PARAM;
        return 0;
    }
    if (!beacon_path(rec, path)) return 0;
    Attr attr(path);
    if (!attr.is_open()) return 0;
    status = EXT_STATUS_ERR;
    if (!attr.read() || (attr.get()->method & SYSFS_METHOD_STORE) == 0) {
        trace("> not writeable");
        return 0;
    }
    const char* value = pbeacon_st->State == VX_BEACON_BLINK ? "1" : "0";
    if (vx::sys().sysfs_write_attribute(attr.get(), value, 1) != 0) {
        trace("> failed to write");
        return 0;
    }
    status = EXT_STATUS_OK;
    return 0;
}

// ---------------------------------------------------------------- i2c

namespace {

constexpr uint32_t kI2cRequestLen = VX_BSG_REQUEST_LEN;
constexpr uint32_t kI2cReplyLen = sizeof(fc_bsg_reply);

// The pieces of the transfer on the open node; the status of the transfer.
// A piece read ends the transfer, as a failed piece does, when its block did
// not arrive as far as its bytes (status 8): the pieces before it stay.
uint32_t i2c_pieces(int fd, sg_io_v4* hdr, vxa_i2c_access* block, bool writing, uint16_t dev, uint16_t adr,
                    uint16_t opt, uint16_t len, uint8_t* data) {
    uint16_t done = 0;
    uint16_t remaining = len;
    do {
        const uint16_t piece = std::min(remaining, VXA_I2C_MAX);
        std::memset(block, 0, sizeof *block);
        block->device = dev;
        block->offset = static_cast<uint16_t>(adr + done);
        block->option = opt;
        block->length = piece;
        if (writing && piece != 0) std::memcpy(block->buffer, data + done, piece);
        // The reply's status word means something only when the driver took
        // the request.
        if (vx::sys().ioctl(fd, SG_IO, hdr) != 0) {
            const int err = errno;
            vxdbg_line(VXDBG_SYSFS, "> IOCTL Failed, errno=", static_cast<uint32_t>(err), VXDBG_INT);
            return err == ENOSYS ? EXT_STATUS_NO_DRIVER_SUPPORT : EXT_STATUS_ERR;
        }
        const uint32_t driver = vxsysfs_bsg_vendor_status(*hdr);
        if (driver != EXT_STATUS_OK) return driver;
        if (!writing && vxsysfs_bsg_arrived(*hdr).data_in < offsetof(vxa_i2c_access, buffer) + piece) {
            vxdbg_line(VXDBG_SYSFS, "> i2c block short, offset=", block->offset, VXDBG_HEX);
            return EXT_STATUS_DATA_UNDERRUN;
        }
        if (!writing && piece != 0) std::memcpy(data + done, block->buffer, piece);
        remaining = static_cast<uint16_t>(remaining - piece);
        done = static_cast<uint16_t>(done + piece);
    } while (remaining > 0);
    return EXT_STATUS_OK;
}

int32_t i2c_transfer(const char* entered, const vxapi_priv_database* rec, bool writing, uint16_t dev,
                     uint16_t adr, uint16_t opt, uint16_t len, uint8_t* data, uint32_t* pext_stat) {
    trace(entered);
    uint32_t unused;
    uint32_t* status = pext_stat != nullptr ? pext_stat : &unused;
    *status = EXT_STATUS_DEV_NOT_FOUND;
    if (rec == nullptr || (data == nullptr && len != 0)) {
        *status = EXT_STATUS_INVALID_PARAM;
        return 0;
    }
    std::unique_ptr<uint8_t[]> request(new (std::nothrow) uint8_t[kI2cRequestLen]());
    if (request == nullptr) {
        trace("> Unable to allocate memory -- cdb");
        return 1;
    }
    std::unique_ptr<uint8_t[]> reply_block(new (std::nothrow) uint8_t[kI2cReplyLen]());
    if (reply_block == nullptr) {
        trace("> Unable to allocate memory -- reply");
        return 1;
    }
    auto* frame = reinterpret_cast<fc_bsg_request*>(request.get());
    auto* reply = reinterpret_cast<fc_bsg_reply*>(reply_block.get());
    vxa_i2c_access block{};
    sg_io_v4 hdr;
    vxsysfs_create_bsg_header(&hdr, frame, kI2cRequestLen, reply, kI2cReplyLen, writing ? &block : nullptr,
                              sizeof block, writing ? nullptr : &block, sizeof block);
    frame->rqst_data.h_vendor.vendor_cmd[0] = writing ? VX_BSG_I2C_WRITE : VX_BSG_I2C_READ;

    char dir[VXSYSFS_PATH_SIZE];
    vxsysfs_get_bsg_device_path(dir, rec);
    char node[VXSYSFS_PATH_SIZE] = {};
    vxsysfs_open_bsg_dev(dir, node, sizeof node);
    if (node[0] == '\0') return 0;
    *status = EXT_STATUS_ERR;
    const int fd = vx::sys().open(node, O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        trace("> Failed open");
    } else {
        *status = i2c_pieces(fd, &hdr, &block, writing, dev, adr, opt, len, data);
        vx::sys().close(fd);
    }
    vx::sys().unlink(node);
    return 0;
}

}  // namespace

int32_t vxsysfs_get_i2c(int, vxapi_priv_database* rec, uint16_t dev, uint16_t adr, uint16_t opt, uint16_t len,
                        uint8_t* i2c, uint32_t* pext_stat) {
    return i2c_transfer("vxsysfs_get_i2c: entered", rec, false, dev, adr, opt, len, i2c, pext_stat);
}

int32_t vxsysfs_set_i2c(int, vxapi_priv_database* rec, uint16_t dev, uint16_t adr, uint16_t opt, uint16_t len,
                        const uint8_t* i2c, uint32_t* pext_stat) {
    // The write direction only reads from the buffer.
    return i2c_transfer("vxsysfs_set_i2c: entered", rec, true, dev, adr, opt, len, const_cast<uint8_t*>(i2c),
                        pext_stat);
}
