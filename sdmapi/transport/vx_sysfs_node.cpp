// The node and chip queries of sysfs ports, with what they read besides the
// SCSI host's attributes: the PCI function's device object, its
// configuration space and PCI Express capability, a keyword of the
// adapter's VPD, and the boot-code versions in flash read through the
// driver's flash window.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <memory>

#include "base/vx_chips.h"
#include "base/vx_flash_images.h"
#include "base/vx_request.h"
#include "base/vx_sem.h"
#include "base/vx_vpd_fields.h"
#include "transport/vx_sysfs.h"
#include "transport/vx_sysfs_query.h"
#include "transport/vx_sysfs_walk.h"

using vxsysfs::Attr;

namespace {

constexpr size_t kTextSize = 128;
constexpr size_t kShortTextSize = 16;  // "mpi_version", "pep_version" and the VPD version fields

constexpr const char* kManufacturer = "Varnix Corporation";
constexpr uint32_t kInterfaceVirtual = 3;

// The serial number text: a letter at index 7, a decimal number from index 8.
constexpr size_t kSerialLetterAt = 7;
constexpr size_t kSerialNumberAt = 8;
constexpr uint32_t kSerialLetterWeight = 100000;

// A VPD of 1024 bytes (VX_CHIP_VPD_1024), else of 512.
constexpr uint32_t kVpdSize = 512;
constexpr uint32_t kVpdSizeLarge = 1024;

// PCI configuration space.
constexpr size_t kPciStatusAt = 6;
constexpr uint16_t kPciStatusCapList = 0x10;
constexpr size_t kPciRevisionAt = 8;
constexpr size_t kPciCapPointerAt = 0x34;
constexpr uint8_t kPciCapIdExpress = 0x10;
// A chain of more capabilities than fit a configuration header is a loop.
constexpr int kMaxCapabilities = 48;
constexpr uint16_t kPcieLinkCapAt = 12;
constexpr uint16_t kPcieLinkStatAt = 18;
constexpr uint32_t kPciFunctionsPerSlot = 8;

// Flash.
constexpr uint32_t kFlashChunk = 256;
constexpr uint32_t kBootCodeStart = 0x80000;
// The firmware header lies here, so the boot code chain ends before it.
constexpr uint32_t kFirmwareHeaderAt = 0x100000;
constexpr uint32_t kFirmwareHeaderLen = 32;
constexpr uint32_t kFirmwareCookie = 0x40400003;
constexpr size_t kControlWordSize = 32;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<uint8_t, FreeDeleter>;

// A PCI function's address from its bus id "domain:bus:slot.function".
struct PciAddress {
    unsigned short domain = 0;
    unsigned short bus = 0;
    unsigned short slot = 0;
    short function = 0;
};

bool parse_bus_id(const char* bus_id, PciAddress* a) {
    return std::sscanf(bus_id, "%4hx : %2hx : %2hx . %hd", &a->domain, &a->bus, &a->slot, &a->function) == 4;
}

// The PCI function of a port record: its directory (the driver's link
// resolved) opened as a device object, closed when it goes out of scope.
class PciFunction {
public:
    // False when the record's path cannot be resolved.
    bool resolve(const vxapi_priv_database* rec) {
        char link[VXSYSFS_PATH_SIZE] = {};
        std::memcpy(link, rec->phys_path, sizeof link - 1);
        return vx::sys().sysfs_get_link(link, path_, sizeof path_) == 0;
    }
    // False when the resolved directory does not open as a device.
    bool open_device() {
        dev_ = vx::sys().sysfs_open_device_path(path_);
        if (dev_ != nullptr) parse_bus_id(dev_->bus_id, &address_);
        return dev_ != nullptr;
    }
    ~PciFunction() {
        if (dev_ != nullptr) vx::sys().sysfs_close_device(dev_);
    }
    const PciAddress& address() const { return address_; }
    const struct sysfs_device* device() const { return dev_; }
    // The path of one of the function's attributes; null when it does not fit.
    const char* attr_path(const char* name) {
        const int n = std::snprintf(attr_, sizeof attr_, "%s/%s", path_, name);
        return n > 0 && static_cast<size_t>(n) < sizeof attr_ ? attr_ : nullptr;
    }

private:
    char path_[VXSYSFS_PATH_SIZE] = {};
    char attr_[VXSYSFS_PATH_SIZE] = {};
    struct sysfs_device* dev_ = nullptr;
    PciAddress address_;
};

// The function's configuration space into image (VXSYSFS_PCI_CONFIG_SIZE
// bytes, zeroed): as many bytes as it holds. False when the file is there
// but does not open or read; absent, the image stays zero.
bool read_config(PciFunction* function, uint8_t* image) {
    const char* path = function->attr_path("config");
    if (path == nullptr) return true;
    errno = 0;
    Attr space(path);
    if (!space.is_open()) return vxsysfs_open_answer(errno) == VxAttrAnswer::Absent;
    if (!space.read()) return false;
    std::memcpy(image, space.value(), std::min<size_t>(space.length(), VXSYSFS_PCI_CONFIG_SIZE));
    return true;
}

// ---- node ----

void encode_serial(const char* text, uint8_t* serial) {
    // Anything but a letter and a number in their places is no serial number.
    if (std::strlen(text) <= kSerialNumberAt || !std::isalpha(static_cast<unsigned char>(text[kSerialLetterAt])) ||
        !std::isdigit(static_cast<unsigned char>(text[kSerialNumberAt]))) {
        return;
    }
    const uint32_t value = static_cast<uint32_t>(text[kSerialLetterAt] - 'A') * kSerialLetterWeight +
                           static_cast<uint32_t>(std::strtoul(text + kSerialNumberAt, nullptr, 10));
    // Readers take byte 0 as the high part, byte 2 as the middle byte and byte 1 as the low byte.
    serial[0] = static_cast<uint8_t>(value >> 16);
    serial[1] = static_cast<uint8_t>(value);
    serial[2] = static_cast<uint8_t>(value >> 8);
    serial[3] = 0;
}

// The names and versions of the node; each text may be absent (empty) or
// longer than its field (cut to it), but one that could not be read is
// noted in answers.
void read_names(const vxapi_priv_database* rec, EXT_HBA_NODE* node, vxsysfs::Answers* answers) {
    std::memcpy(node->WWNN, rec->wwnn, sizeof node->WWNN);
    const uint32_t host = rec->host_no;
    VxAttrAnswer answer;
    vxsysfs::scsi_host_field(host, "model_name", reinterpret_cast<char*>(node->Model), sizeof node->Model, &answer);
    (void)answers->take_optional(answer);
    char serial[kTextSize];
    vxsysfs::scsi_host_field(host, "serial_num", serial, sizeof serial, &answer);
    if (answers->take_optional(answer)) encode_serial(serial, node->SerialNum);
    vxsysfs::scsi_host_field(host, "driver_version", reinterpret_cast<char*>(node->DriverVersion),
                             sizeof node->DriverVersion, &answer);
    (void)answers->take_optional(answer);
    vxsysfs::scsi_host_field(host, "fw_version", reinterpret_cast<char*>(node->FWVersion), sizeof node->FWVersion,
                             &answer);
    (void)answers->take_optional(answer);
}

// The running MPI and PEP versions, valid together only when both came; an
// absent one leaves both unset, one that could not be read fails the node.
void read_running_versions(uint32_t host, EXT_HBA_NODE* node, vxsysfs::Answers* answers) {
    const bool mpi = answers->take_optional(vxsysfs_read_version(host, "mpi_version", kShortTextSize,
                                                                 node->BIMpiFwVersion));
    const bool pep = answers->take_optional(vxsysfs_read_version(host, "pep_version", kShortTextSize,
                                                                 node->BIPepFwVersion));
    if (mpi && pep) {
        node->BIValid |= EXT_BI_MPI_VALID | EXT_BI_PEP_VALID;
    } else {
        std::memset(node->BIMpiFwVersion, 0, sizeof node->BIMpiFwVersion);
        std::memset(node->BIPepFwVersion, 0, sizeof node->BIPepFwVersion);
    }
}

// The SCSI host whose boot-code attributes stand for the port's PCI
// function: a function other than 0 takes those of a lower function of its
// slot, the first other function of the slot in the port list. False when a
// record's path cannot be resolved.
bool boot_code_host(const PciAddress& own, uint32_t* host) {
    VxListLock lock(vxapi_list_mutex());
    if (api_priv_database == nullptr) return true;
    DL_node* node = nullptr;
    dlist_for_each_nomark(api_priv_database, node) {
        const auto* rec = static_cast<const vxapi_priv_database*>(node->data);
        PciFunction other;
        if (!other.resolve(rec)) return false;
        if (!other.open_device()) break;
        const PciAddress& a = other.address();
        if (a.domain != own.domain || a.bus != own.bus || a.slot != own.slot || a.function == own.function) {
            continue;
        }
        if (a.function < own.function) *host = rec->host_no;
        break;
    }
    return true;
}

// One boot-code version: the SCSI host's attribute, else, on the chips
// that keep them there, the VPD keyword's "%hhu.%hhu[.%hhu]" (vpd_numbers
// numbers).
struct BootVersion {
    const char* attr;
    uint8_t (EXT_HBA_NODE::*field)[4];
    uint32_t valid;
    const char* keyword;
    int vpd_numbers;
};
constexpr BootVersion kBootVersions[] = {
    {"optrom_fcode_version", &EXT_HBA_NODE::BIFCodeVersion, EXT_BI_FCODE_VALID, "V5", 2},
    {"optrom_efi_version", &EXT_HBA_NODE::BIEfiVersion, EXT_BI_EFI_VALID, "V1", 2},
    {"optrom_fw_version", &EXT_HBA_NODE::BIFwVersion, EXT_BI_FW_VALID, "V3", 3},
};
constexpr int kAttrVersionNumbers = 4;

// The keyword's field into text, empty when not found (the read's result is
// always 0).
void vpd_field(const vxapi_priv_database* rec, const char* keyword, uint8_t* text, uint32_t size) {
    (void)vxsysfs_get_field_from_vpd(rec, text, size, reinterpret_cast<const uint8_t*>(keyword),
                                     static_cast<uint32_t>(std::strlen(keyword)));
}

// A VPD version field as "%hhu.%hhu[.%hhu]" scans it into count bytes: the
// numbers that came (at least the first), each its low 8 bits, and zeros for
// those that did not. False when not even the first number came.
bool scan_vpd_version(VxFields* fields, int count, uint8_t* version) {
    uint8_t numbers[kAttrVersionNumbers] = {};
    int taken = 0;
    while (taken < count && (taken == 0 || fields->literal('.'))) {
        uint64_t number = 0;
        if (fields->unsigned_long(10, &number) != VxAttrAnswer::Came) break;
        numbers[taken++] = static_cast<uint8_t>(number & UINT8_MAX);
    }
    if (taken == 0) return false;
    std::memcpy(version, numbers, static_cast<size_t>(count));
    return true;
}

// A version's valid bit is set only when the version came, from the
// attribute or from the VPD (there, only when one of its numbers is
// nonzero). An attribute that is absent or empty falls back to the VPD; one
// that could not be read fails the node (answers); a text that holds no
// version leaves the version unset.
void read_boot_version(const vxapi_priv_database* rec, uint32_t host, bool vpd_fallback, const BootVersion& b,
                       EXT_HBA_NODE* node, vxsysfs::Answers* answers) {
    uint8_t* version = node->*b.field;
    char text[kTextSize];
    bool cut = false;
    const VxAttrAnswer read = vxsysfs_read_host_fields(host, b.attr, text, sizeof text, &cut);
    if (!answers->take_optional(read) && read != VxAttrAnswer::Absent) return;
    if (text[0] != '\0') {
        if (vxsysfs_save_version(text, version, kAttrVersionNumbers, 10, cut) == VxAttrAnswer::Came) {
            node->BIValid |= b.valid;
        }
        return;
    }
    if (!vpd_fallback) return;
    // The field fills at most 16 bytes: the last byte stays its terminator.
    uint8_t field[kShortTextSize + 1] = {};
    vpd_field(rec, b.keyword, field, kShortTextSize);
    VxFields fields(reinterpret_cast<const char*>(field), sizeof field);
    if (!scan_vpd_version(&fields, b.vpd_numbers, version)) return;
    // A VPD keeps zeros where the adapter has no such boot code.
    if (std::any_of(version, version + b.vpd_numbers, [](uint8_t n) { return n != 0; })) node->BIValid |= b.valid;
}

void read_boot_versions(const vxapi_priv_database* rec, uint32_t host, EXT_HBA_NODE* node,
                        vxsysfs::Answers* answers) {
    const bool vpd_fallback = vx_chip_has(vxsysfs::device_id_of(rec), VX_CHIP_BOOT_VERSIONS_VPD_FALLBACK);
    auto* bios = reinterpret_cast<char*>(node->OptRomVersion);
    VxAttrAnswer answer;
    vxsysfs::scsi_host_field(host, "optrom_bios_version", bios, sizeof node->OptRomVersion, &answer);
    (void)answers->take_optional(answer);
    // Its last byte stays the terminator.
    if (bios[0] == '\0' && answer != VxAttrAnswer::Failed && vpd_fallback) {
        vpd_field(rec, "V4", node->OptRomVersion, sizeof node->OptRomVersion - 1);
    }
    for (const BootVersion& b : kBootVersions) read_boot_version(rec, host, vpd_fallback, b, node, answers);
}

// A node whose answers did not all come: nothing of it is reported.
int fail_node(EXT_HBA_NODE* node, const vxsysfs::Answers& answers, vxsysfs::Status* status) {
    std::memset(node, 0, sizeof *node);
    *status = answers.record_status();
    return 0;
}

// ---- flash ----

bool write_control(Attr* ctl, const char* word) {
    return vx::sys().sysfs_write_attribute(ctl->get(), word, std::strlen(word) + 1) == 0;
}

void trace(const char* text) { vxdbg_line(VXDBG_ERROR | VXDBG_SYSFS, text); }

}  // namespace

// ---------------------------------------------------------------- node

int vxsysfs_query_hbanode(int, vxapi_priv_database* api_priv_data_inst, EXT_HBA_NODE* phba_node,
                          uint32_t* pext_stat) {
    vxsysfs::Status status(pext_stat, EXT_STATUS_DEV_NOT_FOUND);
    if (!vxsysfs::begin_query("vxsysfs_query_hbanode: entered", api_priv_data_inst, phba_node)) return 0;
    vxapi_priv_database* rec = api_priv_data_inst;
    const uint16_t device = vxsysfs::device_id_of(rec);

    // Names that did not come at discovery are read again for this call.
    vxapi_priv_database named;
    const VxAttrAnswer names = vxsysfs_port_with_names(rec, &named);
    if (names != VxAttrAnswer::Came) {
        status = vxsysfs::record_status(names);
        return 0;
    }
    vxsysfs::Answers answers;
    read_names(&named, phba_node, &answers);
    if (vx_chip_has(device, VX_CHIP_MPI_PEP)) read_running_versions(rec->host_no, phba_node, &answers);
    if (!answers.came()) return fail_node(phba_node, answers, &status);

    PciFunction function;
    if (!function.resolve(rec) || !function.open_device()) return 0;
    uint32_t boot_host = rec->host_no;
    if (function.address().function != 0 && !boot_code_host(function.address(), &boot_host)) return 0;

    if (vx_chip_has(device, VX_CHIP_BOOT_VERSIONS_FLASH_SYSFS)) {
        vxapi_priv_database* owner =
            rec->interface_type == kInterfaceVirtual && rec->parent != nullptr ? rec->parent : rec;
        vxsysfs_read_flash_versions(owner->oshandle, owner, phba_node);
    } else {
        read_boot_versions(rec, boot_host, phba_node, &answers);
        if (!answers.came()) return fail_node(phba_node, answers, &status);
    }

    std::snprintf(reinterpret_cast<char*>(phba_node->Manufacturer), sizeof phba_node->Manufacturer, "%s",
                  kManufacturer);
    phba_node->InterfaceType = static_cast<uint16_t>(rec->interface_type);
    phba_node->PortCount = static_cast<uint16_t>(rec->vp_idx);
    phba_node->DriverAttr = 0;
    phba_node->FWAttr = 0;
    status = EXT_STATUS_OK;
    return 0;
}

VxAttrAnswer vxsysfs_save_version(const char* string, uint8_t* version, int length, int base, bool cut) {
    if (string == nullptr || version == nullptr || length <= 0) return VxAttrAnswer::NotNumber;
    uint8_t numbers[kAttrVersionNumbers];
    const int wanted = std::min(length, kAttrVersionNumbers);
    VxFields fields(string, std::strlen(string), cut);
    int taken = 0;
    while (taken < wanted) {
        uint64_t number = 0;
        const VxAttrAnswer answer = fields.unsigned_long(base, &number);
        // The numbers end before a place where none stands (a build tag);
        // at the cut one may stand behind it (TooLarge).
        if (answer == VxAttrAnswer::NotNumber && taken > 0) break;
        if (answer != VxAttrAnswer::Came) return answer;
        // Each byte is the number's low 8 bits: the flash firmware's version
        // ends in the image's 32-bit attribute word, printed with %d (negative
        // when its top bit is set).
        numbers[taken++] = static_cast<uint8_t>(number & UINT8_MAX);
        // Past the one separator behind it; the text's end ends the numbers.
        if (!fields.skip_one() || fields.at_end()) break;
    }
    std::memcpy(version, numbers, static_cast<size_t>(taken));
    return VxAttrAnswer::Came;
}

int32_t vxsysfs_get_field_from_vpd(const vxapi_priv_database* api_priv_data_inst, uint8_t* destination,
                                   uint32_t destination_len, const uint8_t* keyword, uint32_t keyword_len) {
    vxsysfs::trace_entered("vxsysfs_get_field_from_vpd: entered");
    if (destination != nullptr) std::memset(destination, 0, destination_len);
    if (api_priv_data_inst == nullptr || destination == nullptr || keyword == nullptr) return 0;
    const uint32_t size =
        vx_chip_has(vxsysfs::device_id_of(api_priv_data_inst), VX_CHIP_VPD_1024) ? kVpdSizeLarge : kVpdSize;

    char path[VXSYSFS_PATH_SIZE];
    char* end = vxsysfs_get_device_path(path, api_priv_data_inst);
    if (vxsysfs_path_append(path, end, "vpd") == nullptr || vx::sys().sysfs_path_is_file(path) != 0) return 0;
    Attr vpd(path);
    if (!vpd.read()) return 0;
    if (vpd.length() < size) {
        if (vxdbg_on(VXDBG_SYSFS)) {
            vxdbg_print(path, 0, VXDBG_NONE, 0);
            vxdbg_print(" overread=+", size - vpd.length(), VXDBG_DEC, 1);
        }
        return 0;
    }
    Buffer buffer(static_cast<uint8_t*>(std::calloc(1, size)));
    if (!buffer) {
        trace("> Unable to allocate memory -- vpd_buf");
        return 0;
    }
    std::memcpy(buffer.get(), vpd.value(), size);
    const uint16_t room = destination_len > 0xFFFF ? 0xFFFF : static_cast<uint16_t>(destination_len);
    // A field that is absent, blank or unreadable leaves the destination
    // zeroed: the empty destination is the answer.
    (void)vxapi_get_field_from_vpd(buffer.get(), size, keyword, static_cast<uint16_t>(keyword_len), destination,
                                   room);
    return 0;
}

// ---------------------------------------------------------------- chip

int vxsysfs_query_chip(int, vxapi_priv_database* api_priv_data_inst, EXT_CHIP* pchip, uint32_t* pext_stat) {
    vxsysfs::trace_entered("vxsysfs_query_chip: entered");
    vxsysfs::Status status(pext_stat, EXT_STATUS_DEV_NOT_FOUND);
    if (api_priv_data_inst == nullptr || pchip == nullptr) return 0;
    PciFunction function;
    if (!function.resolve(api_priv_data_inst) || !function.open_device()) return 0;
    std::memset(pchip, 0, sizeof *pchip);

    if (const vxapi_phy_info* phy = api_priv_data_inst->phy_info; phy != nullptr) {
        pchip->VendorId = phy->vendor_id;
        pchip->DeviceId = phy->device_id;
        pchip->SubVendorId = phy->ssvendor_id;
        pchip->SubSystemId = phy->ssdevice_id;
    }
    // The kernel prints the level in decimal ("0x" would make it
    // hexadecimal). Absent, it stays 0; one that could not be read, or that
    // is no number of 16 bits, is no level.
    VxAttrAnswer answer = VxAttrAnswer::Absent;
    const uint32_t irq =
        vxsysfs_get_int_attr(function.attr_path("irq"), &answer, UINT16_MAX, VxFields::kBaseAsPrinted);
    if (answer == VxAttrAnswer::Came) pchip->InterruptLevel = static_cast<uint16_t>(irq);
    if (answer != VxAttrAnswer::Came && answer != VxAttrAnswer::Absent) {
        std::memset(pchip, 0, sizeof *pchip);
        status = vxsysfs_answer_status(answer);
        return 0;
    }
    PciAddress a;
    const bool whole = parse_bus_id(function.device()->bus_id, &a);
    pchip->DomainNr = a.domain;
    pchip->PciBusNumber = a.bus;
    pchip->PciSlotNumber = a.slot;
    pchip->PciDevFunc = whole ? static_cast<uint16_t>((a.function % kPciFunctionsPerSlot) | ((a.slot * 8) & 0xFF))
                              : static_cast<uint16_t>(a.function);

    Buffer config(static_cast<uint8_t*>(std::calloc(1, VXSYSFS_PCI_CONFIG_SIZE)));
    if (!config) return 0;
    // Absent, the image stays zero; a configuration space that is there but
    // could not be read is no link words and no revision.
    if (!read_config(&function, config.get())) {
        std::memset(pchip, 0, sizeof *pchip);
        status = EXT_STATUS_ERR;
        return 0;
    }
    uint32_t value = 0;
    vxsysfs_get_pci_capability(config.get(), &value, kPcieLinkCapAt);
    pchip->PcieLinkCap = value & 0xFFFF;
    value = 0;
    vxsysfs_get_pci_capability(config.get(), &value, kPcieLinkStatAt);
    pchip->PcieLinkStat = static_cast<uint16_t>(value);
    pchip->ChipType = config.get()[kPciRevisionAt];
    status = EXT_STATUS_OK;
    return 0;
}

void vxsysfs_get_pci_capability(const uint8_t* pconfig, uint32_t* pci_cap_value, uint16_t capid) {
    if (pconfig == nullptr || pci_cap_value == nullptr) return;
    if ((vxsysfs_lendian(pconfig + kPciStatusAt, 2) & kPciStatusCapList) == 0) return;
    uint8_t at = pconfig[kPciCapPointerAt];
    for (int step = 0; step < kMaxCapabilities && at != 0; ++step) {
        if (pconfig[at] == kPciCapIdExpress) {
            if (size_t{at} + capid + sizeof *pci_cap_value <= VXSYSFS_PCI_CONFIG_SIZE) {
                std::memcpy(pci_cap_value, pconfig + at + capid, sizeof *pci_cap_value);
            }
            return;
        }
        at = pconfig[at + 1];
    }
}

// ---------------------------------------------------------------- flash

void vxsysfs_read_flash(int, vxapi_priv_database* api_priv_data_inst, uint32_t offset, uint32_t datasize,
                        uint8_t* pbuffer, uint32_t bufsize) {
    vxsysfs::trace_entered("vxsysfs_read_flash: entered");
    if (api_priv_data_inst == nullptr || pbuffer == nullptr || datasize == 0 || bufsize == 0 ||
        datasize > bufsize) {
        trace("> Invalid parameter");
        return;
    }
    char ctl_path[VXSYSFS_PATH_SIZE];
    char data_path[VXSYSFS_PATH_SIZE];
    char* ctl_end = vxsysfs_get_device_path(ctl_path, api_priv_data_inst);
    char* data_end = vxsysfs_get_device_path(data_path, api_priv_data_inst);
    if (vxsysfs_path_append(ctl_path, ctl_end, "optrom_ctl") == nullptr ||
        vxsysfs_path_append(data_path, data_end, "optrom") == nullptr ||
        vx::sys().sysfs_path_is_file(ctl_path) != 0 || vx::sys().sysfs_path_is_file(data_path) != 0) {
        return;
    }
    Attr ctl(ctl_path);
    Attr data(data_path);
    if (!ctl.is_open() || !data.is_open()) return;

    // No other library instance of any process opens the window meanwhile.
    VxSemLock lock(api_flash_sem_id);
    if (!lock.held()) {
        trace("> READ: Flash lock failed");
        return;
    }
    char word[kControlWordSize];
    std::snprintf(word, sizeof word, "1:%x:%x", offset, datasize);
    if (write_control(&ctl, word) &&
        vxsysfs_read_file(data_path, pbuffer, static_cast<int32_t>(datasize)) != 0) {
        trace("> Failed underread");
    }
    if (!write_control(&ctl, "0")) trace("> Failed reset");
}

void vxsysfs_read_flash_versions(int handle, vxapi_priv_database* api_priv_data_inst, EXT_HBA_NODE* phba_node) {
    vxsysfs::trace_entered("vxsysfs_read_flash_versions: entered");
    if (phba_node == nullptr) return;
    uint8_t buffer[kFlashChunk];

    // One image of the chain at a time: each chunk begins with an image's
    // header, and the image's length leads to the next one.
    for (uint32_t offset = kBootCodeStart; offset < kFirmwareHeaderAt;) {
        std::memset(buffer, 0, sizeof buffer);
        vxsysfs_read_flash(handle, api_priv_data_inst, offset, kFlashChunk, buffer, sizeof buffer);
        if (buffer[0] == 0) return;  // nothing read: no firmware header either
        const uint32_t length = vxsysfs_find_optrom_bootcode_versions(buffer, kFlashChunk, phba_node);
        if (length == 0) break;
        offset += length;
    }

    std::memset(buffer, 0, sizeof buffer);
    vxsysfs_read_flash(handle, api_priv_data_inst, kFirmwareHeaderAt, kFirmwareHeaderLen, buffer, sizeof buffer);
    if (buffer[0] == 0) return;
    uint32_t cookie;
    std::memcpy(&cookie, buffer, sizeof cookie);
    if (cookie != kFirmwareCookie) {
        trace("vxsysfs_read_flash_versions: Flash FW version read failed");
        return;
    }
    phba_node->BIFwVersion[0] = buffer[4];
    phba_node->BIFwVersion[1] = buffer[5];
    // The 16-bit word at byte 6 as the host keeps it.
    std::memcpy(&phba_node->BIFwVersion[2], buffer + 6, 2);
    phba_node->BIValid |= EXT_BI_FW_VALID;
}
