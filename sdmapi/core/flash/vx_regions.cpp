// Region versions, region activation, virtual ports and the active image set.
#include "core/flash/vx_regions.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/vx_flash_images.h"
#include "base/vx_layout.h"
#include "base/vx_port_road.h"
#include "base/vx_request.h"
#include "base/vx_sddbg.h"
#include "core/flash/vx_optrom.h"
#include "image/flash_formats.h"
#include "transport/vx_ioctl_road.h"
#include "transport/vx_sysfs_mgmt.h"

namespace {

constexpr uint32_t kStep = VXDBG_STEP;                // entry, exit and steps
constexpr uint32_t kErr = VXDBG_ERROR | VXDBG_API;    // failures of the operations
constexpr uint32_t kErrStep = VXDBG_ERROR | VXDBG_STEP;

// Query sub-code of the adapter component versions.
constexpr uint16_t kQueryAdapterVersions = 10;

// The number of version bytes the flash regions keep.
constexpr uint32_t kFlashVersionBytes = 3;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<uint8_t, FreeDeleter>;

Buffer zeroed(size_t bytes) { return Buffer(static_cast<uint8_t*>(std::calloc(1, bytes))); }

vxapi_phy_info* phy_of(vxapi_priv_database* rec) { return rec != nullptr ? rec->phy_info : nullptr; }

// Entries of a region version list held as bytes.
constexpr size_t entry_offset(uint32_t i) { return vx_region_version_list_size(i); }

EXT_REGIONVERSION get_entry(const uint8_t* list, uint32_t i) {
    EXT_REGIONVERSION e;
    std::memcpy(&e, list + entry_offset(i), sizeof e);
    return e;
}

bool any_nonzero(const uint8_t* p, size_t n) {
    return std::any_of(p, p + n, [](uint8_t b) { return b != 0; });
}

// A running version of the list into its field: the field is written
// whatever the bytes are; the valid bit only when one of them is nonzero.
void take_running(const EXT_REGIONVERSION& e, uint16_t region, uint8_t (&field)[8], uint32_t bit,
                  vxapi_phy_info* phy) {
    if (e.Region != region || e.Location != VX_VERSION_RUNNING) return;
    const size_t n = std::min<size_t>(e.VersionLength, sizeof field);
    std::memcpy(field, e.Version, n);
    if (any_nonzero(e.Version, n)) phy->fcoe_valid |= bit;
}

// Where a region lies in the global layout; false when the layout lacks it.
bool region_place(uint32_t region, uint32_t* start, uint32_t* size) {
    *start = 0;
    *size = 0;
    vxsysfs_map_region(region, start, size);
    return *size != 0;
}

// A raw read of `bytes` bytes of flash at `start`. True when the request was
// carried and the driver answered 0; else *status and *err tell why.
bool read_raw(int handle, vxapi_priv_database* rec, uint8_t* buf, uint32_t bytes, uint32_t start, uint32_t* status,
              int* err) {
    *status = 0;
    errno = 0;
    const int32_t rc = vxapi_read_optrom(handle, rec, buf, bytes, VX_REGION_RAW, start, status);
    *err = errno;
    return rc == 0 && *status == 0;
}

void trace_two(uint32_t bits, const char* text1, uint64_t n1, uint8_t base1, const char* text2, uint64_t n2,
               uint8_t base2) {
    if (!vxdbg_on(bits)) return;
    vxdbg_print(text1, n1, base1, 0);
    vxdbg_print(text2, n2, base2, 1);
}

// ---- the version list ----

// One valid bit of fcoe_valid and the list entry it stands for.
struct FcoeVersion {
    uint32_t bit;
    uint8_t (vxapi_phy_info::*field)[8];
    uint16_t region;
    uint16_t sub_region;
    uint16_t location;
    uint16_t length;
};

constexpr FcoeVersion kFcoeVersions[VX_FCOE_VERSION_ENTRIES] = {
    {VX_FCOE_MPI_RUNNING, &vxapi_phy_info::mpi_running_ver, VX_REGION_MPI, 0, VX_VERSION_RUNNING, 3},
    {VX_FCOE_EDC_RUNNING, &vxapi_phy_info::edc_running_ver, VX_REGION_EDC, 0, VX_VERSION_RUNNING, 3},
    {VX_FCOE_MPI_FLASH, &vxapi_phy_info::mpi_flash_ver, VX_REGION_MPI, 0, VX_VERSION_IN_FLASH, 3},
    {VX_FCOE_EDC_FLASH, &vxapi_phy_info::edc_flash_ver, VX_REGION_EDC, 0, VX_VERSION_IN_FLASH, 3},
    {VX_FCOE_NIC_BIOS, &vxapi_phy_info::nic_bios_ver, VX_REGION_NIC_BOOT, VX_SUBREGION_NIC_BIOS,
     VX_VERSION_IN_FLASH, 2},
    {VX_FCOE_NIC_FCODE, &vxapi_phy_info::nic_fcode_ver, VX_REGION_NIC_BOOT, VX_SUBREGION_NIC_FCODE,
     VX_VERSION_IN_FLASH, 2},
    {VX_FCOE_NIC_EFI, &vxapi_phy_info::nic_efi_ver, VX_REGION_NIC_BOOT, VX_SUBREGION_NIC_EFI,
     VX_VERSION_IN_FLASH, 2},
};

// ---- the image status records ----

// Reads the image status record of the region into rec (16 bytes, zeroed
// first), never more than the region holds. False, traced, when the region
// is absent or the read fails: the record then stays zero.
bool read_image_status(int handle, vxapi_priv_database* rec, uint32_t region, bool primary,
                       uint8_t (&record)[sizeof(vxa_image_status)]) {
    std::memset(record, 0, sizeof record);
    uint32_t start = 0;
    uint32_t size = 0;
    if (!region_place(region, &start, &size)) {
        vxdbg_line(kErr, primary ? "vxapi_get_active_image_set: Zero sized primaryimage status region"
                                 : "vxapi_get_active_image_set: Zero sized secondaryimage status region");
        return false;
    }
    const uint32_t bytes = std::min<uint32_t>(size, sizeof record);
    uint32_t status = 0;
    int err = 0;
    if (!read_raw(handle, rec, record, bytes, start, &status, &err)) {
        std::memset(record, 0, sizeof record);
        if (primary) {
            trace_two(kErr, "vxapi_get_active_image_set: ReadOptionRom ioctl failed for primary. ext status=",
                      status, VXDBG_HEX, " errno=", static_cast<uint32_t>(err), VXDBG_DEC);
        } else {
            vxdbg_line(kErr, "vxapi_get_active_image_set: ReadOptionRom ioctl failed for secondary. ext status=",
                       status, VXDBG_HEX);
        }
        return false;
    }
    return true;
}

// Whether a record names a valid image set: its signature and its checksum
// must hold, and its valid bit be set.
bool image_set_valid(const uint8_t* record, bool primary) {
    if (vximg_get_le32(record + offsetof(vxa_image_status, signature)) != VXIMG_IMAGE_STATUS_SIGNATURE) {
        vxdbg_line(kErr, primary ? "vxapi_get_active_image_set: primary signature failed."
                                 : "vxapi_get_active_image_set: secondary signature failed.");
        return false;
    }
    if (!vximg_image_status_checksum_ok(record)) {
        vxdbg_line(kErr, primary ? "vxapi_get_active_image_set: primary checksum failed."
                                 : "vxapi_get_active_image_set: secondary checksum failed.");
        return false;
    }
    return (record[offsetof(vxa_image_status, mask)] & VXIMG_IMAGE_STATUS_VALID) != 0;
}

}  // namespace

// ---------------------------------------------------------------- versions

void vxapi_query_adapter_versions(int handle, vxapi_priv_database* api_priv_data_inst) {
    vxdbg_line(kStep, "vxapi_query_adapter_versions: entered.");
    vxapi_phy_info* phy = phy_of(api_priv_data_inst);
    if (phy == nullptr) return;
    constexpr uint32_t kListBytes = vx_region_version_list_size(VX_RUNNING_VERSION_ENTRIES);
    Buffer list = zeroed(kListBytes);
    if (!list) {
        vxdbg_line(kErr, "vxapi_query_adapter_versions: mem allocation failed.");
        return;
    }

    int32_t result;
    uint32_t ext_stat = 0;
    if (vxapi_is_sysfs_port(api_priv_data_inst)) {
        uint32_t count = VX_RUNNING_VERSION_ENTRIES;
        result = vxsysfs_query_adapter_versions(handle, api_priv_data_inst,
                                                reinterpret_cast<EXT_ADAPTERREGIONVERSION*>(list.get()), &count,
                                                &ext_stat);
    } else {
        VxRequest req;
        req.command = EXT_CC_QUERY;
        req.sub_code = kQueryAdapterVersions;
        req.response = list.get();
        req.response_len = kListBytes;
        VxReply reply;
        // The frame traces a header that cannot be built under this name.
        result = vxapi_send_request("vxapi_query_adapter_versions", handle, api_priv_data_inst, req, &reply);
        ext_stat = reply.status;
    }

    if (result != 0 || ext_stat != 0) {
        trace_two(kErrStep, "vxapi_query_adapter_versions: running version read failed. status=",
                  static_cast<uint32_t>(result), VXDBG_INT, " ext_stat=", ext_stat, VXDBG_HEX);
        return;
    }
    take_running(get_entry(list.get(), 0), VX_REGION_MPI, phy->mpi_running_ver, VX_FCOE_MPI_RUNNING, phy);
    take_running(get_entry(list.get(), 1), VX_REGION_EDC, phy->edc_running_ver, VX_FCOE_EDC_RUNNING, phy);
}

void vxapi_get_flash_mpi_edc_versions(int handle, vxapi_priv_database* api_priv_data_inst) {
    vxdbg_line(kStep, "vxapi_get_flash_mpi_edc_versions: entered.");
    const auto done = [] { vxdbg_line(kStep, "vxapi_get_flash_mpi_edc_version: exiting."); };
    vxapi_phy_info* phy = phy_of(api_priv_data_inst);
    if (phy == nullptr) return done();
    Buffer buf = zeroed(VX_MPI_EDC_READ_SIZE);
    if (!buf) {
        vxdbg_line(kErr, "vxapi_get_flash_mpi_edc_versions: mem allocation failed.");
        return done();
    }

    for (const uint16_t region : {VX_REGION_MPI, VX_REGION_EDC}) {
        uint32_t addr = 0;
        uint32_t size = 0;
        const bool present = region_place(region, &addr, &size);
        if (vxdbg_on(kErr)) {
            vxdbg_print("vxapi_flash_mpi_edc_versions: region=", region, VXDBG_HEX, 0);
            vxdbg_print(" addr=", addr, VXDBG_HEX, 0);
            vxdbg_print(" size=", size, VXDBG_HEX, 1);
        }
        // A region the layout lacks would be read at flash offset 0, where
        // something else lies.
        if (!present) {
            vxdbg_line(kErr, "vxapi_flash_mpi_edc_versions: Zero sized region, skipped.");
            continue;
        }
        std::memset(buf.get(), 0, VX_MPI_EDC_READ_SIZE);
        uint32_t status = 0;
        int err = 0;
        if (!read_raw(handle, api_priv_data_inst, buf.get(), VX_MPI_EDC_READ_SIZE, addr, &status, &err)) {
            trace_two(kErr, "vxapi_flash_mpi_edc_versions: read optrom failed. ext status=", status, VXDBG_HEX,
                      " errno=", static_cast<uint32_t>(err), VXDBG_DEC);
            continue;
        }
        if (region == VX_REGION_EDC && vximg_get_le32(buf.get()) != VX_EDC_COOKIE) {
            vxdbg_line(kErr, "vxapi_flash_mpi_edc_versions: PHY FW cookie mismatch.");
            continue;
        }
        const uint8_t* version = buf.get() + VX_FLASH_VERSION_AT;
        if (!any_nonzero(version, kFlashVersionBytes)) continue;
        uint8_t* field = region == VX_REGION_MPI ? phy->mpi_flash_ver : phy->edc_flash_ver;
        std::memcpy(field, version, kFlashVersionBytes);
        phy->fcoe_valid |= region == VX_REGION_MPI ? VX_FCOE_MPI_FLASH : VX_FCOE_EDC_FLASH;
    }
    done();
}

void vxapi_get_nic_bootcode_version(int handle, vxapi_priv_database* api_priv_data_inst) {
    vxdbg_line(kStep, "vxapi_get_nic_bootcode_version: entered.");
    const auto done = [] { vxdbg_line(kStep, "vxapi_get_nic_bootcode_version: exiting."); };
    vxapi_phy_info* phy = phy_of(api_priv_data_inst);
    if (phy == nullptr) return done();

    uint32_t addr = 0;
    uint32_t size = 0;
    // Without the region in the layout the read would take the boot code
    // chain of the adapter's own functions at flash offset 0.
    if (!region_place(VX_REGION_NIC_BOOT, &addr, &size)) {
        vxdbg_line(kErr, "vxapi_get_nic_bootcode_version: Zero sized region, skipped.");
        return done();
    }
    Buffer buf = zeroed(VX_NIC_BOOT_READ_SIZE);
    if (!buf) {
        vxdbg_line(kErr, "vxapi_get_nic_bootcode_version: mem allocation failed.");
        return done();
    }
    uint32_t status = 0;
    int err = 0;
    if (!read_raw(handle, api_priv_data_inst, buf.get(), VX_NIC_BOOT_READ_SIZE, addr, &status, &err)) {
        trace_two(kErr, "vxapi_get_nic_bootcode_version: read optrom failed. ext stat=", status, VXDBG_HEX,
                  " errno=", static_cast<uint32_t>(err), VXDBG_DEC);
        return done();
    }

    struct NicImage {
        uint8_t code_type;
        uint8_t (vxapi_phy_info::*field)[8];
        uint32_t bit;
    };
    constexpr NicImage kImages[] = {
        {VXIMG_CODE_X86, &vxapi_phy_info::nic_bios_ver, VX_FCOE_NIC_BIOS},
        {VXIMG_CODE_FCODE, &vxapi_phy_info::nic_fcode_ver, VX_FCOE_NIC_FCODE},
        {VXIMG_CODE_EFI, &vxapi_phy_info::nic_efi_ver, VX_FCOE_NIC_EFI},
    };
    for (const NicImage& wanted : kImages) {
        uint8_t* image = nullptr;
        const int32_t hit =
            vxapi_find_image(buf.get(), VX_NIC_BOOT_READ_SIZE, wanted.code_type, &image, 0, nullptr, nullptr);
        if (hit != 1 || image == nullptr) {
            vxdbg_line(kStep, "vxapi_get_nic_bootcode_version: Image not found. image_code=", wanted.code_type,
                       VXDBG_HEX);
            continue;
        }
        vximg_rom_image found{};
        const auto at = static_cast<size_t>(image - buf.get());
        if (vximg_rom_image_at(buf.get(), VX_NIC_BOOT_READ_SIZE, at, &found) != VXIMG_ROM_OK || found.revision == 0) {
            continue;
        }
        uint8_t(&field)[8] = phy->*wanted.field;
        field[0] = found.rev_major;
        field[1] = found.rev_minor;
        phy->fcoe_valid |= wanted.bit;
    }
    done();
}

int32_t vxapi_copy_fcoe_versions(const vxapi_phy_info* phy_info_inst, void* padapter_version,
                                 uint32_t adapter_version_size, uint32_t* pext_stat) {
    vxdbg_line(kStep, "vxapi_copy_fcoe_versions: entered.");
    uint32_t unused;
    if (pext_stat == nullptr) pext_stat = &unused;
    const auto done = [](int32_t result) {
        vxdbg_line(kStep, "vxapi_copy_fcoe_versions: exiting.");
        return result;
    };

    uint32_t entries = 0;
    if (phy_info_inst != nullptr) {
        for (const FcoeVersion& v : kFcoeVersions) entries += (phy_info_inst->fcoe_valid & v.bit) != 0 ? 1 : 0;
    }
    // The caller sized its buffer for the list; a list that would not fit
    // is not written at all, rather than cut or written past the buffer.
    if (phy_info_inst == nullptr || padapter_version == nullptr ||
        adapter_version_size < vx_region_version_list_size(entries)) {
        *pext_stat = EXT_STATUS_BUFFER_TOO_SMALL;
        return done(1);
    }

    auto* list = static_cast<uint8_t*>(padapter_version);
    uint32_t length = 0;
    for (const FcoeVersion& v : kFcoeVersions) {
        if ((phy_info_inst->fcoe_valid & v.bit) == 0) continue;
        EXT_REGIONVERSION e{};
        e.Region = v.region;
        e.SubRegion = v.sub_region;
        e.Location = v.location;
        e.VersionLength = v.length;
        std::memcpy(e.Version, phy_info_inst->*v.field, v.length);
        std::memcpy(list + entry_offset(length), &e, sizeof e);
        ++length;
    }
    std::memcpy(list + offsetof(EXT_ADAPTERREGIONVERSION, Length), &length, sizeof length);
    *pext_stat = EXT_STATUS_OK;
    return done(0);
}

// ---------------------------------------------------------------- activation

int32_t vxapi_activate_region(int handle, vxapi_priv_database* api_priv_data_inst, uint32_t region,
                              uint32_t* pext_stat) {
    vxdbg_line(kStep, "vxapi_activate_region: entered, reset_code=", region, VXDBG_HEX);
    const auto done = [](int32_t result) {
        vxdbg_line(kStep, "vxapi_activate_region: exiting.");
        return result;
    };
    if (vxapi_is_sysfs_port(api_priv_data_inst)) {
        return done(vxsysfs_activate_region(handle, api_priv_data_inst, region, pext_stat));
    }

    const uint32_t* code = std::find(std::begin(VX_ACTIVATE_CODES), std::end(VX_ACTIVATE_CODES), region);
    if (code == std::end(VX_ACTIVATE_CODES)) return done(1);
    const auto sub_code = static_cast<uint16_t>(code - std::begin(VX_ACTIVATE_CODES) + 1);
    vxdbg_line(kStep, "vxapi_activate_region: ioctl reset_code=", sub_code, VXDBG_HEX);

    VxRequest req;
    req.command = EXT_CC_REGION_ACTIVATION;
    req.sub_code = sub_code;
    VxReply reply;
    const int32_t result = vxapi_send_request("vxapi_activate_region", handle, api_priv_data_inst, req, &reply);
    if (pext_stat != nullptr) *pext_stat = reply.status;
    return done(result);
}

// ---------------------------------------------------------------- virtual ports

int32_t vxapi_create_vport(int handle, vxapi_priv_database* api_priv_data_inst, PEXT_VPORT_PARAMS pvport_param,
                           uint32_t* pext_stat) {
    vxdbg_line(kStep, "vxapi_create_vport: entered.");
    int32_t result = 1;
    if (vxapi_is_sysfs_port(api_priv_data_inst)) {
        result = vxsysfs_create_vport(handle, api_priv_data_inst, pvport_param, pext_stat);
    } else {
        vxdbg_line(kErrStep, "vxapi_create_vport: ioctl driver not supported");
    }
    vxdbg_line(kStep, "vxapi_create_vport: exiting.");
    return result;
}

int32_t vxapi_delete_vport(int handle, vxapi_priv_database* api_priv_data_inst, PEXT_VPORT_PARAMS pvport_param,
                           uint32_t* pext_stat) {
    vxdbg_line(kStep, "vxapi_delete_vport: entered.");
    int32_t result = 1;
    if (vxapi_is_sysfs_port(api_priv_data_inst)) {
        result = vxsysfs_delete_vport(handle, api_priv_data_inst, pvport_param, pext_stat);
    } else {
        vxdbg_line(kErrStep, "vxapi_delete_vport: ioctl driver not supported");
    }
    vxdbg_line(kStep, "vxapi_delete_vport: exiting.");
    return result;
}

int32_t vxapi_get_vport_info(int handle, vxapi_priv_database* vport, PEXT_VPORT_INFO pvpinfo,
                             uint32_t* pext_stat) {
    vxdbg_line(kStep, "vxapi_get_vport_info: entered.");
    int32_t result = 1;
    if (vxapi_is_sysfs_port(vport)) {
        result = vxsysfs_get_vport_info(handle, vport, pvpinfo, pext_stat);
    } else {
        vxdbg_line(kErrStep, "vxapi_get_vport_info: ioctl driver not supported");
    }
    vxdbg_line(kStep, "vxapi_get_vport_info: exiting.");
    return result;
}

// ---------------------------------------------------------------- active image set

void vxapi_get_active_image_set(int handle, vxapi_priv_database* api_priv_data_inst) {
    vxdbg_line(kStep, "vxapi_get_active_image_set: entered.");
    const auto done = [] { vxdbg_line(kStep, "vxapi_get_active_image_set: exiting."); };
    vxapi_phy_info* phy = phy_of(api_priv_data_inst);
    if (phy == nullptr) return done();

    uint8_t primary[sizeof(vxa_image_status)];
    uint8_t secondary[sizeof(vxa_image_status)];
    // A failed primary read leaves a zero record, which is not taken below.
    read_image_status(handle, api_priv_data_inst, VXIMG_REGION_IMAGE_STATUS_PRIMARY, true, primary);
    if (!read_image_status(handle, api_priv_data_inst, VXIMG_REGION_IMAGE_STATUS_SECONDARY, false, secondary)) {
        return done();
    }

    const bool primary_taken = image_set_valid(primary, true);
    const bool secondary_taken = image_set_valid(secondary, false);
    if (primary_taken) phy->active_image = 0;
    if (secondary_taken) phy->active_image = 1;
    if (primary_taken && secondary_taken) {
        vxa_image_status p{};
        vxa_image_status s{};
        vximg_decode_image_status(primary, &p);
        vximg_decode_image_status(secondary, &s);
        // Generations compare as plain unsigned numbers; equal ones leave
        // the secondary.
        if (p.gen_num > s.gen_num) phy->active_image = 0;
    }
    done();
}
