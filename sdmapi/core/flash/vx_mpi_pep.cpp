// The MPI and PEP firmware versions in flash.
#include "core/flash/vx_mpi_pep.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/vx_layout.h"
#include "base/vx_sddbg.h"
#include "core/flash/vx_optrom.h"

namespace {

constexpr uint32_t kErr = VXDBG_ERROR | VXDBG_API;
constexpr uint32_t kReadBytes = 256;

constexpr size_t kMpiBytes[4] = {19, 23, 27, 31};
constexpr size_t kPepBytes[4] = {79, 78, 77, 76};

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// Reads the head of the region into buf; false when the region is unknown
// or the read fails.
bool read_region_head(int handle, vxapi_priv_database* rec, uint32_t region, uint8_t* buf, const char* failure) {
    std::memset(buf, 0, kReadBytes);
    uint32_t offset = 0;
    uint32_t size = 0;
    vxsysfs_map_region(region, &offset, &size);
    // Without the region the read would take the head of the flash for it.
    if (size == 0) {
        vxdbg_line(kErr, "vxapi_get_flash_mpi_pep_versions: region not in the layout. region=", region, VXDBG_HEX);
        return false;
    }
    uint32_t status = 0;
    errno = 0;
    const int32_t rc = vxapi_read_optrom(handle, rec, buf, kReadBytes, VX_REGION_RAW, offset, &status);
    if (rc != 0 || status != 0) {
        if (vxdbg_on(kErr)) {
            const int err = errno;
            vxdbg_print(failure, status, VXDBG_DEC, 0);
            vxdbg_print(" errno=", static_cast<uint32_t>(err), VXDBG_INT, 1);
        }
        return false;
    }
    return true;
}

}  // namespace

int32_t vxapi_get_flash_mpi_pep_versions(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* pmpi,
                                         uint8_t* ppep) {
    const vxapi_phy_info* phy = api_priv_data_inst != nullptr ? api_priv_data_inst->phy_info : nullptr;
    if (phy == nullptr || pmpi == nullptr || ppep == nullptr) return 1;
    const bool secondary = phy->active_image != 0;
    const uint32_t mpi_region = secondary ? VX_REGION_MPI_SECONDARY : VX_REGION_MPI_PRIMARY;
    const uint32_t pep_region = secondary ? VX_REGION_PEP_SECONDARY : VX_REGION_PEP_PRIMARY;

    std::unique_ptr<uint8_t, FreeDeleter> buf(static_cast<uint8_t*>(std::malloc(kReadBytes)));
    if (!buf) {
        vxdbg_line(kErr, "vxapi_get_flash_mpi_pep_versions: mem allocation failed.");
        return 1;
    }
    if (!read_region_head(handle, api_priv_data_inst, mpi_region, buf.get(),
                          "vxapi_get_flash_mpi_pep_versions: read optrom failed for MPI. ext stat=")) {
        return 1;
    }
    for (size_t i = 0; i < 4; ++i) pmpi[i] = buf.get()[kMpiBytes[i]];
    if (!read_region_head(handle, api_priv_data_inst, pep_region, buf.get(),
                          "vxapi_get_flash_mpi_pep_versions: read optrom failed for PEP. ext stat=")) {
        return 1;
    }
    for (size_t i = 0; i < 4; ++i) ppep[i] = buf.get()[kPepBytes[i]];
    return 0;
}
