#include "answer_edits.h"

#include <fcntl.h>
#include <linux/bsg.h>
#include <scsi/sg.h>

#include <algorithm>
#include <tuple>

#include "base/vx_layout.h"
#include "base/vx_sem.h"
#include "core/flash/vx_flash_layout.h"
#include "core/life/vx_port_attach.h"
#include "platform/vx_platform.h"
#include "sim_adapters.h"
#include "sim_queries.h"
#include "sim_sysfs_flash.h"
#include "transport/vx_sysfs.h"
#include "transport/vx_sysfs_bsg.h"

namespace fuzz {

namespace {

// The call being run: its input and the answers given so far.
struct Session {
    Reader* in = nullptr;
    size_t bound = 0;  // the most requests the call may send
    std::vector<Answer> answers;
};
Session* g_session = nullptr;

Edit decode(const Bytes& part) {
    Reader in(part.data(), part.size());
    Edit e;
    e.flags = in.byte();
    e.status = in.byte();
    e.length = static_cast<uint16_t>(in.byte() | in.byte() << 8);
    e.reply_length = in.byte();
    e.at = static_cast<uint16_t>(in.byte() | in.byte() << 8);
    e.bytes = in.rest();
    return e;
}

// The next request's edit; a request past the bound ends the input at once
// (a transfer that never ends stops here).
Edit next_edit() {
    FUZZ_CHECK(g_session->answers.size() < g_session->bound);
    return decode(g_session->in->part());
}

uint32_t word(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void put_word(uint8_t* p, uint32_t v) { std::memcpy(p, &v, sizeof v); }

// Copies the edit's bytes into buf from its offset, within limit bytes.
void patch(uint8_t* buf, uint32_t limit, const Edit& e) {
    if (e.at >= limit) return;
    std::copy_n(e.bytes.begin(), std::min<size_t>(e.bytes.size(), limit - e.at), buf + e.at);
}

}  // namespace

bool Answer::busy() const { return bsg ? err == EBUSY : err == 0 && status == EXT_STATUS_BUSY; }

int DriverAnswers::ioctl(dev_t rdev, unsigned long code, void* arg) {
    if (g_session == nullptr || ((code >> 16) & 0x3FFF) != sizeof(EXT_IOCTL) || arg == nullptr) {
        return driver_.ioctl(rdev, code, arg);
    }
    const Edit e = next_edit();
    EXT_IOCTL hdr;
    std::memcpy(&hdr, arg, sizeof hdr);
    Answer a;
    a.command = static_cast<uint8_t>(code & 0xFF);
    a.sub_code = hdr.SubCode;
    a.instance = hdr.HbaSelect;
    const auto* request = static_cast<const uint8_t*>(vxapi_64bit_to_ptr(hdr.RequestAdr));
    if (request != nullptr) a.request.assign(request, request + hdr.RequestLen);
    auto* response = static_cast<uint8_t*>(vxapi_64bit_to_ptr(hdr.ResponseAdr));
    a.capacity = response != nullptr ? hdr.ResponseLen : 0;
    const Bytes before(response, response + a.capacity);

    const uint8_t fate = e.flags & 3;
    int rc = 0;
    if (fate == kFails) {
        rc = EIO;
    } else if (fate == kBusy) {
        hdr.Status = EXT_STATUS_BUSY;
        hdr.ResponseLen = 0;
    } else {
        rc = driver_.ioctl(rdev, code, arg);
        std::memcpy(&hdr, arg, sizeof hdr);
    }
    if (rc != 0) {
        a.err = rc;
        g_session->answers.push_back(a);
        return rc;
    }
    if (fate != kBusy) {
        uint32_t reported = hdr.ResponseLen;
        if ((e.flags & kLength) != 0) reported = e.length;
        const uint32_t delivered = std::min(reported, a.capacity);
        patch(response, delivered, e);
        std::copy(before.begin() + delivered, before.end(), response + delivered);
        hdr.ResponseLen = reported;
        if ((e.flags & kStatus) != 0) hdr.Status = e.status;
        a.delivered.assign(response, response + delivered);
    }
    a.status = hdr.Status;
    a.detail = hdr.DetailStatus;
    std::memcpy(arg, &hdr, sizeof hdr);
    g_session->answers.push_back(a);
    return 0;
}

int KernelAnswers::ioctl(dev_t rdev, unsigned long code, void* arg) {
    if (g_session == nullptr || code != SG_IO || arg == nullptr) return bsg_.ioctl(rdev, code, arg);
    const Edit e = next_edit();
    auto* hdr = static_cast<sg_io_v4*>(arg);
    Answer a;
    a.bsg = true;
    const auto* request = static_cast<const uint8_t*>(vxapi_64bit_to_ptr(hdr->request));
    if (request != nullptr && hdr->request_len >= 4) a.msgcode = word(request);
    if (request != nullptr && hdr->request_len >= 16) a.vendor_code = word(request + 12);
    const auto* dout = static_cast<const uint8_t*>(vxapi_64bit_to_ptr(hdr->dout_xferp));
    if (dout != nullptr) a.request.assign(dout, dout + hdr->dout_xfer_len);
    auto* din = static_cast<uint8_t*>(vxapi_64bit_to_ptr(hdr->din_xferp));
    auto* reply = static_cast<uint8_t*>(vxapi_64bit_to_ptr(hdr->response));
    a.capacity = din != nullptr ? hdr->din_xfer_len : 0;
    const uint32_t room = reply != nullptr ? hdr->max_response_len : 0;
    const Bytes din_before(din, din + a.capacity), reply_before(reply, reply + room);

    const uint8_t fate = e.flags & 3;
    const int rc = fate == kFails ? EIO : fate == kBusy ? EBUSY : bsg_.ioctl(rdev, code, arg);
    if (rc != 0) {
        a.err = rc;
        g_session->answers.push_back(a);
        return rc;
    }
    if ((e.flags & kResult) != 0 && room >= 4) put_word(reply, 1);
    if ((e.flags & kStatus) != 0 && room >= 12) put_word(reply + 8, e.status);
    uint32_t replied = room;
    if ((e.flags & kReplyLength) != 0) replied = std::min<uint32_t>(e.reply_length, room);
    uint32_t delivered = a.capacity - std::min<uint32_t>(a.capacity, std::max(hdr->din_resid, 0));
    if ((e.flags & kLength) != 0) delivered = std::min<uint32_t>(e.length, a.capacity);
    if ((e.flags & kIntoReply) != 0) {
        patch(reply, replied, e);
    } else {
        patch(din, delivered, e);
    }
    if ((e.flags & kLength) != 0) {
        std::copy(din_before.begin() + delivered, din_before.end(), din + delivered);
        hdr->din_resid = static_cast<int32_t>(a.capacity - delivered);
    }
    // The kernel's residue and the driver's count of the bytes received
    // always agree.
    if (room >= 8) put_word(reply + 4, delivered);
    if ((e.flags & kReplyLength) != 0) {
        std::copy(reply_before.begin() + replied, reply_before.end(), reply + replied);
        hdr->response_len = replied;
    }
    a.delivered.assign(din, din + delivered);
    a.result = room >= 4 ? word(reply) : 0;
    a.status = room >= 12 ? word(reply + 8) : 0;
    a.reply_len = hdr->response_len;
    g_session->answers.push_back(a);
    return 0;
}

vxapi_priv_database* ioctl_record(sim::SimDriver& driver, const sim::SimPort& port, int handle) {
    const sim::SimAdapter& adapter = *driver.adapter_of(port);
    EXT_CHIP chip = sim::make_chip_record(driver, port);
    vxapi_phy_info* phy = nullptr;
    FUZZ_CHECK(vxapi_alloc_api_phy_info_mem(&phy, &chip) == 0);
    phy->device_id = adapter.device_id;
    std::snprintf(reinterpret_cast<char*>(phy->serial_num), sizeof phy->serial_num, "%s", adapter.serial.c_str());
    std::tie(phy->pci_domain, phy->pci_bus, phy->pci_dev_func) =
        std::tuple(port.pci_domain, port.pci_bus, port.pci_dev_func);
    phy->port_number = static_cast<uint8_t>((port.pci_dev_func & 7) + 1);
    vxapi_priv_database* rec = nullptr;
    FUZZ_CHECK(vxapi_alloc_api_priv_data_mem(&rec) == 0);
    std::tie(rec->phy_info, rec->interface_type, rec->parent, rec->open_cnt) =
        std::tuple(phy, VX_PORT_PHYSICAL, nullptr, 1);
    rec->apihandle = static_cast<uint32_t>(handle);
    std::snprintf(reinterpret_cast<char*>(rec->phys_path), sizeof rec->phys_path, "/dev/vxa2xxx");
    rec->features = VX_FEAT_IOCTL | VX_FEAT_NEW_IOCTL;
    std::tie(rec->drvr_inst, rec->host_no) = std::tuple(port.instance, port.host_no);
    rec->oshandle = vx::sys().open("/dev/vxa2xxx", O_RDWR | O_CLOEXEC);
    FUZZ_CHECK(rec->oshandle >= 0 && vxapi_set_option_rom_layout(rec->oshandle, rec) == 0);
    return rec;
}

SysfsBsgPort::SysfsBsgPort(sim::SimBsg& bsg, uint16_t chip, unsigned host_no, unsigned bsg_major, int handle) {
    sim::SimHost& h = host();
    sim::SimAdapter probe;
    probe.device_id = chip;
    flash = sim::build_chip_flash(probe);
    sim::SysfsSetup setup;
    setup.adapters = {sim::sysfs_adapter(chip, {host_no})};
    setup.adapters[0].flash = probe.flash;
    setup.adapters[0].pci_bus = 0x40;  // apart from the driver's adapters
    setup.adapters[0].functions[0].host.rports.emplace_back();
    setup.bsg_major = bsg_major;
    fabric = sim::install_sysfs_adapters(h, setup);
    uint32_t count = 0;
    FUZZ_CHECK(vxsysfs_init() == 0 && vxsysfs_supported_driver_exist(&count) == 0 && count == 1);
    rec = sim::listed_ports().at(0);
    rec->apihandle = static_cast<uint32_t>(handle);
    api_flash_sem_id = vxapi_sem_get(VX_SEM_KEY_FLASH);
    sim::serve_flash(h, bsg, fabric);
    FUZZ_CHECK(vxapi_set_option_rom_layout(rec->oshandle, rec) == 0);
}

Bytes pattern(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + seed);
    return b;
}

Guarded::Guarded(size_t n, uint8_t fill) : bytes_(n + kGuardBytes, kGuard), n_(n) {
    std::fill_n(bytes_.begin(), n, fill);
}

Guarded::Guarded(const Bytes& contents) : Guarded(contents.size(), 0) {
    std::copy(contents.begin(), contents.end(), bytes_.begin());
}

bool Guarded::guard_intact() const {
    return std::all_of(bytes_.begin() + static_cast<std::ptrdiff_t>(n_), bytes_.end(),
                       [](uint8_t b) { return b == kGuard; });
}

bool Guarded::untouched(uint8_t fill) const {
    return std::all_of(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(n_),
                       [fill](uint8_t b) { return b == fill; });
}

Run::Run(Reader& in, size_t bound) {
    FUZZ_CHECK(g_session == nullptr);
    g_session = new Session;
    g_session->in = &in;
    g_session->bound = bound;
}

Run::~Run() {
    delete g_session;
    g_session = nullptr;
}

const std::vector<Answer>& Run::answers() const { return g_session->answers; }

const Answer* Run::last(uint8_t command, int sub_code) const {
    for (auto it = answers().rbegin(); it != answers().rend(); ++it) {
        if (!it->bsg && it->command == command && (sub_code < 0 || it->sub_code == sub_code)) return &*it;
    }
    return nullptr;
}

const Answer* Run::last_job(uint32_t msgcode, uint32_t vendor_code) const {
    for (auto it = answers().rbegin(); it != answers().rend(); ++it) {
        const bool vendor = msgcode == VX_BSG_HOST_VENDOR;
        if (it->bsg && it->msgcode == msgcode && (!vendor || it->vendor_code == vendor_code)) return &*it;
    }
    return nullptr;
}

void fixed_record(Reader& in, size_t caller_size, uint8_t command, uint16_t sub_code, size_t record, size_t bound,
                  const std::function<uint32_t(void*)>& call) {
    Guarded buf(caller_size, kFill);
    Run run(in, bound);
    const uint32_t status = call(buf.data());
    FUZZ_CHECK(buf.guard_intact());
    if (status != 0) return;
    const Answer* a = run.last(command, sub_code);
    FUZZ_CHECK(a != nullptr);
    if (a->err == 0 && (a->status == EXT_STATUS_DATA_OVERRUN || a->status == EXT_STATUS_DATA_UNDERRUN)) return;
    FUZZ_CHECK(whole(a, record));
}

Bytes answer(uint8_t flags, uint16_t length, uint16_t at, const Bytes& bytes, uint8_t reply_length, uint8_t status) {
    Bytes a{flags,       status, static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8), reply_length,
            static_cast<uint8_t>(at), static_cast<uint8_t>(at >> 8)};
    append(a, bytes);
    return framed(a);
}

Bytes input(size_t mode, const Bytes& params, const std::vector<Bytes>& answers) {
    Bytes out{static_cast<uint8_t>(mode)};
    append(out, params);
    for (const Bytes& a : answers) append(out, a);
    return out;
}

std::vector<Bytes> plain_seeds(const std::vector<Call>& table, const std::vector<Bytes>& params) {
    std::vector<Bytes> out;
    for (size_t mode = 0; mode < table.size(); ++mode) {
        for (const Bytes& p : params) {
            const auto n = static_cast<std::ptrdiff_t>(std::min(table[mode].params, p.size()));
            const Bytes seed = input(mode, Bytes(p.begin(), p.begin() + n));
            if (std::find(out.begin(), out.end(), seed) == out.end()) out.push_back(seed);
        }
    }
    return out;
}

void run_call(const std::vector<Call>& table, const uint8_t* data, size_t size) {
    Traced traced;
    Reader in(data, size);
    table[in.byte() % table.size()].run(in);
}

}  // namespace fuzz
