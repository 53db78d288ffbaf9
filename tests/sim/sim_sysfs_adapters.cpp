#include "sim_sysfs_adapters.h"

#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "flash_builder.h"

namespace sim {
namespace {

std::string format(const char* fmt, unsigned a, unsigned b = 0, unsigned c = 0) {
    char text[128];
    std::snprintf(text, sizeof text, fmt, a, b, c);
    return text;
}

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\0' || text.back() == '\n')) text.pop_back();
    return text;
}

// The bytes from a position on.
std::string from(const std::string& bytes, size_t pos) { return pos < bytes.size() ? bytes.substr(pos) : ""; }

SimHost::Attr flash_control(std::shared_ptr<FlashWindow> w) {
    return {{}, [w](size_t, const std::string& data) {
                const std::string word = trimmed(data);
                w->controls.push_back(word);
                auto& fails = w->errnos[word.empty() ? ' ' : word[0]];
                const int err = fails.empty() ? 0 : fails.front();
                if (!fails.empty()) fails.pop_front();
                if (err != 0) {
                    w->controls.back() += " !" + std::to_string(err);
                    return err;
                }
                const auto flash_size = static_cast<uint32_t>(w->flash->size());
                unsigned offset = 0, size = flash_size;
                char extra = 0;
                const int fields = std::sscanf(word.c_str(), "%*c:%x:%x%c", &offset, &size, &extra);
                if (word == "4") return w->chunking ? EINVAL : 0;
                if (word == "0") return w->mode = FlashWindow::Mode::Closed, 0;
                if (word == "3") {
                    if (w->mode != FlashWindow::Mode::Write) return EINVAL;
                    std::copy(w->staged.begin(), w->staged.end(), w->flash->begin() + w->offset);
                    w->commits.emplace_back(w->offset, w->staged);
                    return 0;
                }
                if ((word[0] != '1' && word[0] != '2') || (word.size() != 1 && fields != 2) || offset > flash_size ||
                    size > flash_size - offset || (!w->chunking && (offset != 0 || size != flash_size))) {
                    return EINVAL;
                }
                w->mode = word[0] == '1' ? FlashWindow::Mode::Read : FlashWindow::Mode::Write;
                w->offset = offset;
                w->size = size;
                w->staged.assign(size, 0xFF);
                return 0;
            }};
}

SimHost::Attr flash_data(std::shared_ptr<FlashWindow> w) {
    return {[w](size_t pos, std::string& out) {
                const size_t end = std::min<size_t>(w->size, w->limit);
                out.clear();
                if (w->mode == FlashWindow::Mode::Read && pos < end) {
                    out.assign(reinterpret_cast<const char*>(w->flash->data() + w->offset + pos),
                               std::min(end - pos, w->piece));
                }
                return 0;
            },
            [w](size_t pos, const std::string& data) {
                if (pos + data.size() > w->limit) return ENOSPC;
                if (w->mode != FlashWindow::Mode::Write || pos + data.size() > w->size) return EINVAL;
                std::copy(data.begin(), data.end(), w->staged.begin() + static_cast<long>(pos));
                return 0;
            }};
}

// Lays out the tree of one setup.
class Installer {
public:
    Installer(SimHost& host, const SysfsSetup& setup) : host_(host), setup_(setup) {}

    SysfsFabric run() {
        // The SCSI core's device class is there also while no LUN is.
        host_.make_dir("/sys/class/scsi_device");
        for (size_t i = 0; i < setup_.adapters.size(); ++i) adapter(setup_.adapters[i], static_cast<unsigned>(i));
        return fabric_;
    }

private:
    // A class entry. With class links: the directory in the device tree and
    // a link of the class to it; else the class entry is the directory. A
    // "device" link to device goes in when given. The directory.
    std::string entry(const std::string& class_path, const std::string& tree_dir, const std::string& device = "") {
        const std::string dir = setup_.class_links ? tree_dir : class_path;
        host_.make_dir(dir);
        if (setup_.class_links) host_.make_symlink(tree_dir, class_path);
        if (!device.empty()) host_.make_symlink(device, dir + "/device");
        return dir;
    }

    void texts(const std::string& dir, SysfsAttrs values, const SysfsAttrs& changes) {
        for (const auto& [name, value] : changes) values[name] = value;
        for (const auto& [name, value] : values) {
            if (value) host_.set_attr(dir + "/" + name, text_attr(*value), 0444);
        }
    }

    void bsg(const std::string& name, const std::string& owner_dir) {
        if (!setup_.with_bsg) return;
        const dev_t dev = makedev(setup_.bsg_major, bsg_minor_++);
        const std::string dir = entry("/sys/class/bsg/" + name, owner_dir + "/bsg/" + name, owner_dir);
        host_.write_file(dir + "/dev", format("%u:%u\n", major(dev), minor(dev)), 0444);
        fabric_.bsg_devs[name] = dev;
    }

    void adapter(const SysfsAdapter& a, unsigned index) {
        const unsigned bus = a.pci_bus != 0 ? a.pci_bus : 3 + index;
        const std::string driver_dir = "/sys/bus/pci/drivers/" + a.driver;
        auto flash = std::make_shared<std::vector<uint8_t>>(a.flash.empty() ? blank_flash(0x100000) : a.flash);
        for (size_t f = 0; f < a.functions.size(); ++f) {
            const std::string bus_id = format("0000:%02x:00.%u", bus, static_cast<unsigned>(f));
            const std::string pci = format("/sys/devices/pci0000:00/0000:00:%02x.0/", bus) + bus_id;
            fabric_.pci_dirs.push_back(pci);
            host_.make_dir(pci);
            host_.make_symlink(pci, driver_dir + "/" + bus_id);
            host_.make_symlink(pci, "/sys/bus/pci/devices/" + bus_id);
            host_.make_symlink(driver_dir, pci + "/driver");
            texts(pci,
                  {{"vendor", format("0x%04x", a.vendor_id)},
                   {"device", format("0x%04x", a.device_id)},
                   {"subsystem_vendor", format("0x%04x", a.ssvendor_id)},
                   {"subsystem_device", format("0x%04x", a.ssdevice_id)},
                   {"irq", "35"}},
                  a.pci);
            const std::vector<uint8_t> config = a.config.empty() ? pci_config(a.vendor_id, a.device_id) : a.config;
            host_.set_attr(pci + "/config", bytes_attr(std::make_shared<std::string>(config.begin(), config.end())));
            function(a, index, pci, a.functions[f], flash);
        }
    }

    void function(const SysfsAdapter& a, unsigned index, const std::string& pci, const SysfsFunction& fn,
                  const std::shared_ptr<std::vector<uint8_t>>& flash) {
        const std::string dir = pci + "/host" + std::to_string(fn.host.host_no);
        scsi_host(fn.host, dir, index, a.device_id);
        auto window = std::make_shared<FlashWindow>();
        window->flash = flash;
        window->chunking = setup_.chunking;
        fabric_.windows[fn.host.host_no] = window;
        host_.set_attr(dir + "/optrom_ctl", flash_control(window), 0200);
        host_.set_attr(dir + "/optrom", flash_data(window), 0600);
        std::vector<uint8_t> vpd = a.vpd;
        if (vpd.empty()) {
            VpdContents fields;
            fields.read_only = {keyword("PN", "SIM-2600"), keyword("SN", format("VPD%05u", index + 1))};
            const std::vector<uint16_t> big = {0x0101, 0x8021, 0x8031, 0x8831, 0x8044};  // 1024-byte VPD chips
            fields.size = std::count(big.begin(), big.end(), a.device_id) != 0 ? 1024 : 512;
            vpd = build_vpd(fields).bytes;
        }
        fabric_.vpd[fn.host.host_no] = std::make_shared<std::string>(vpd.begin(), vpd.end());
        host_.set_attr(dir + "/vpd", bytes_attr(fabric_.vpd[fn.host.host_no], true), 0600);
        for (size_t k = 0; k < fn.vports.size(); ++k) {
            const std::string vport = format("/vport-%u:0-%u/host", fn.host.host_no, static_cast<unsigned>(k));
            scsi_host(fn.vports[k], dir + vport + std::to_string(fn.vports[k].host_no), index, a.device_id);
        }
    }

    // The SCSI and FC host entries of a host, its bsg entry and its remote ports.
    void scsi_host(const SysfsHost& h, const std::string& dir, unsigned index, uint16_t device_id) {
        const std::string name = "host" + std::to_string(h.host_no);
        fabric_.host_dirs[h.host_no] = dir;
        host_.netlink().add_host(h.host_no);
        host_.make_dir(dir);
        texts(entry("/sys/class/scsi_host/" + name, dir + "/scsi_host/" + name, dir),
              sysfs_scsi_host_defaults(h.host_no, index, device_id), h.scsi_host);
        texts(entry("/sys/class/fc_host/" + name, dir + "/fc_host/" + name, dir), sysfs_fc_host_defaults(h.host_no),
              h.fc_host);
        bsg("fc_" + name, dir);
        for (const SysfsRemotePort& r : h.rports) rport(h.host_no, r, dir);
    }

    void rport(unsigned host_no, const SysfsRemotePort& r, const std::string& host_dir) {
        const std::string name = format("rport-%u:0-%u", host_no, r.number);
        const std::string dir = host_dir + "/" + name;
        SysfsAttrs values{{"node_name", r.node_name}, {"port_name", r.port_name}, {"port_id", r.port_id},
                          {"roles", r.roles},         {"port_state", r.port_state}};
        // The file is always there: "-1" while no SCSI target is bound.
        values["scsi_target_id"] = r.target_id ? std::to_string(*r.target_id) : "-1";
        host_.make_dir(dir);
        texts(entry("/sys/class/fc_remote_ports/" + name, dir + "/fc_remote_ports/" + name, dir), values, {});
        bsg(name, dir);
        if (!r.target_id) return;
        for (const SysfsLun& lun : r.luns) {
            const std::string addr = format("%u:0:%u:", host_no, *r.target_id) + std::to_string(lun.lun);
            const std::string tree = dir + format("/target%u:0:%u/", host_no, *r.target_id) + addr;
            const std::string sdev = entry("/sys/bus/scsi/devices/" + addr, tree);
            entry("/sys/class/scsi_device/" + addr, sdev + "/scsi_device/" + addr, sdev);
            const std::string sg = "sg" + std::to_string(lun.sg);
            const unsigned blocks = block_count_++;
            host_.write_file(sdev + "/block/" + lun.block + "/dev", format("8:%u\n", blocks * 16), 0444);
            host_.write_file(sdev + "/scsi_generic/" + sg + "/dev", format("%u:%u\n", kSgMajor, lun.sg), 0444);
            host_.make_symlink("scsi_generic/" + sg, sdev + "/generic");
            host_.add_node("/dev/" + lun.block, S_IFBLK | 0660, makedev(8, blocks * 16));
            host_.add_node("/dev/" + sg, S_IFCHR | 0660, makedev(kSgMajor, lun.sg));
            for (const std::string& link : lun.dev_links) host_.make_symlink(lun.block, "/dev/" + link);
        }
    }

    SimHost& host_;
    const SysfsSetup& setup_;
    SysfsFabric fabric_;
    unsigned bsg_minor_ = 0;
    unsigned block_count_ = 1;
};

}  // namespace

SimHost::Attr text_attr(std::string value, bool writable) {
    auto text = std::make_shared<std::string>(std::move(value));
    SimHost::Attr attr{[text](size_t pos, std::string& out) { return out = from(*text + "\n", pos), 0; }, {}};
    if (writable) attr.write = [text](size_t, const std::string& data) { return *text = trimmed(data), 0; };
    return attr;
}

SimHost::Attr bytes_attr(std::shared_ptr<std::string> bytes, bool writable) {
    SimHost::Attr attr{[bytes](size_t pos, std::string& out) { return out = from(*bytes, pos), 0; }, {}};
    if (writable) {
        attr.write = [bytes](size_t pos, const std::string& data) {
            if (pos + data.size() > bytes->size()) return EINVAL;
            bytes->replace(pos, data.size(), data);
            return 0;
        };
    }
    return attr;
}

namespace {

// The request and answer of a request attribute, in memory that the
// processes the test forks share with it, under a lock of their own: one
// mailbox whichever process writes or reads. The lock is robust: a process
// killed inside a store leaves it to the next one, as a kernel attribute
// does, so that tests which kill processes do not hang the others.
class Mailbox {
public:
    static constexpr size_t kRoom = 64 * 1024;

    static std::shared_ptr<Mailbox> make() {
        void* p = ::mmap(nullptr, sizeof(Mailbox), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) std::abort();
        // Unmapped, never destroyed: a process that lets go of it must not
        // destroy the lock under the others.
        return std::shared_ptr<Mailbox>(new (p) Mailbox, [](Mailbox* m) { ::munmap(m, sizeof *m); });
    }
    Mailbox(const Mailbox&) = delete;
    Mailbox& operator=(const Mailbox&) = delete;

    // A write at position 0 starts a request, one further on goes on with it;
    // the answer to the request so far is stored at once.
    int write(size_t pos, const std::string& data, const std::function<std::string(const std::string&)>& answer) {
        Hold hold(mu_);
        if (pos > request_len_ || pos + data.size() > kRoom) return EFBIG;
        std::memcpy(request_ + pos, data.data(), data.size());
        request_len_ = pos + data.size();
        const std::string a = answer(std::string(request_, request_len_));
        answer_len_ = std::min(a.size(), kRoom);
        std::memcpy(answer_, a.data(), answer_len_);
        return 0;
    }
    // The answer stored last, from the position on.
    std::string read(size_t pos) {
        Hold hold(mu_);
        return pos < answer_len_ ? std::string(answer_ + pos, answer_len_ - pos) : std::string();
    }

private:
    Mailbox() {
        pthread_mutexattr_t attr;
        ::pthread_mutexattr_init(&attr);
        ::pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
        ::pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
        ::pthread_mutex_init(&mu_, &attr);
        ::pthread_mutexattr_destroy(&attr);
    }
    // A holder that died left the mailbox as it stood; the next write at
    // position 0 starts a request afresh.
    struct Hold {
        explicit Hold(pthread_mutex_t& mu) : mu_(mu) {
            if (::pthread_mutex_lock(&mu_) == EOWNERDEAD) ::pthread_mutex_consistent(&mu_);
        }
        ~Hold() { ::pthread_mutex_unlock(&mu_); }
        pthread_mutex_t& mu_;
    };
    pthread_mutex_t mu_;
    size_t request_len_ = 0, answer_len_ = 0;
    char request_[kRoom], answer_[kRoom];
};

}  // namespace

SimHost::Attr request_attr(std::function<std::string(const std::string& request)> answer) {
    auto box = Mailbox::make();
    return {[box](size_t pos, std::string& out) { return out = box->read(pos), 0; },
            [box, answer](size_t pos, const std::string& data) { return box->write(pos, data, answer); }};
}

SysfsFabric install_sysfs_adapters(SimHost& host, const SysfsSetup& setup) { return Installer(host, setup).run(); }

SysfsAdapter sysfs_adapter(uint16_t device_id, std::vector<unsigned> hosts) {
    SysfsAdapter a;
    a.device_id = device_id;
    for (unsigned h : hosts) a.functions.push_back(SysfsFunction{h, {}});
    return a;
}

namespace {

bool listed(std::initializer_list<uint16_t> chips, uint16_t device_id) {
    return std::find(chips.begin(), chips.end(), device_id) != chips.end();
}

}  // namespace

SysfsAttrs sysfs_scsi_host_defaults(unsigned, unsigned adapter_index, uint16_t device_id) {
    // What the driver prints of a feature the chip lacks: an empty line.
    const auto only = [device_id](std::initializer_list<uint16_t> chips, const char* text) {
        return std::string(listed(chips, device_id) ? text : "");
    };
    const std::initializer_list<uint16_t> converged = {0x8001, 0x0101, 0x8021, 0x8031, 0x8831, 0x8044};
    const std::initializer_list<uint16_t> with_pep = {0x2071, 0x2271, 0x2261};
    const std::initializer_list<uint16_t> with_phy = {0x8001, 0x8031, 0x8831, 0x8044};
    const std::initializer_list<uint16_t> with_mpi = {0x2071, 0x2271, 0x2261, 0x8001, 0x8031, 0x8831, 0x8044};
    // The chips before the 24xx family print a word behind the firmware's version, not its attributes.
    const std::initializer_list<uint16_t> before_24xx = {0x2100, 0x2200, 0x2300, 0x2312, 0x2322, 0x6312, 0x6322};
    return {{"link_state", "Link Up - F_Port"},
            {"state", "running"},
            {"serial_num", format("SIM0000A%05u", adapter_index + 1)},
            {"model_name", "VX2562"},
            {"driver_version", "10.02.00.100-k"},
            {"fw_version", listed(before_24xx, device_id) ? "3.03.28 IPX" : "8.07.00 (d0d5)"},
            {"optrom_bios_version", "3.56"},
            {"optrom_fcode_version", "4.10"},
            {"optrom_efi_version", "6.17"},
            // The flash firmware's version and its image's attribute word, in decimal.
            {"optrom_fw_version", "8.07.00 53461"},
            {"max_npiv_vports", "254"},
            {"sg_tablesize", "128"},
            {"fw_state", "0x3 0x0 0x0 0x0 0x0 0x0"},
            {"mpi_version", only(with_mpi, "1.02.03 (10a70)")},
            {"pep_version", only(with_pep, "4.05.06")},
            {"phy_version", only(with_phy, "7.08.09")},
            {"vlan_id", only(converged, "1002")},
            {"vn_port_mac_address", only(converged, "00:0e:1e:01:02:03")},
            {"fabric_param", "0"},
            {"flash_block_size", "0x10000"},
            {"thermal_temp", "45"},
            {"beacon", "Disabled"},
            {"total_isp_aborts", "0"},
            {"fw_dump_size", "0"}};  // no dump held
}

SysfsAttrs sysfs_fc_host_defaults(unsigned host_no) {
    SysfsAttrs attrs = {{"node_name", format("0x200000e08b%06x", host_no)},
                        {"port_name", format("0x210000e08b%06x", host_no)},
                        {"port_id", format("0x01%02x00", host_no & 0xFF)},
                        {"speed", "8 Gbit"},
                        {"fabric_name", "0x100000051e000001"},
                        {"port_state", "Online"},
                        {"max_npiv_vports", "254"}};
    for (const char* counter : {"tx_frames", "rx_frames", "lip_count", "nos_count", "link_failure_count",
                                "loss_of_sync_count", "loss_of_signal_count", "prim_seq_protocol_err_count",
                                "invalid_tx_word_count", "invalid_crc_count", "fcp_input_requests",
                                "fcp_output_requests", "fcp_control_requests", "fcp_input_megabytes",
                                "fcp_output_megabytes"}) {
        attrs[std::string("statistics/") + counter] = "0x0";
    }
    // A counter the driver does not keep reads all ones.
    attrs["statistics/dumped_frames"] = "0xffffffffffffffff";
    return attrs;
}

std::vector<uint8_t> pci_config(uint16_t vendor_id, uint16_t device_id, uint32_t link_cap, uint16_t link_stat) {
    std::vector<uint8_t> c(256, 0);
    put_le16(c, 0, vendor_id);
    put_le16(c, 2, device_id);
    put_le16(c, 6, 0x0010);  // capability list present
    c[8] = 2;                // revision
    c[0x34] = 0x40;
    c[0x40] = 0x01;  // power management, then PCI Express
    c[0x41] = 0x60;
    c[0x60] = 0x10;
    put_le32(c, 0x60 + 12, link_cap);
    put_le16(c, 0x60 + 18, link_stat);
    return c;
}

}  // namespace sim
