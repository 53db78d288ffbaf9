// What an adapter port is: the node, port, discovered port and target, chip,
// driver and firmware properties, the port database and the data of
// converged ports. Each query asks one worker for the driver's record and
// converts it into the public record.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "api/vx_sdframe.h"
#include "base/vx_chips.h"
#include "base/vx_driver_records.h"
#include "base/vx_flash_images.h"
#include "base/vx_layout.h"
#include "base/vx_port_road.h"
#include "core/flash/vx_flash_versions.h"
#include "core/flash/vx_mpi_pep.h"
#include "core/flash/vx_regions.h"
#include "core/io/vx_query.h"
#include "vxsdm.h"

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<uint8_t, FreeDeleter>;

Buffer zeroed(size_t bytes) { return Buffer(static_cast<uint8_t*>(std::calloc(1, bytes))); }

constexpr uint16_t kDriverInterfaceSinglePort = 1;
constexpr size_t kModelTextBytes = 16;  // the model is cut to 15 characters and the NUL

// The 3-byte port identifier from the driver's 4-byte one (its first byte is not part of it).
void copy_port_id(SD_UINT8* dst, const uint8_t* driver_id) { std::memcpy(dst, driver_id + 1, 3); }

// Port and discovered-port types the public records carry; others leave the field alone.
void copy_known_type(SD_UINT8* dst, uint16_t type) {
    if (type == 1 || type == 2) *dst = static_cast<SD_UINT8>(type);
}

SD_UINT8 port_state(uint16_t driver_state) {
    switch (driver_state) {
    case 0: return 1;
    case 2: return 3;
    default: return 2;
    }
}

// ---- port database ----

constexpr uint32_t kPortSummaryEntries = 255;
constexpr uint32_t kPortSummaryBytes =
    sizeof(EXT_DEVICEDATA) + kPortSummaryEntries * sizeof(EXT_DEVICEDATAENTRY);
static_assert(kPortSummaryBytes == 43868);
// The TypeMode bits the driver is given.
constexpr uint32_t kTypeModeBits = 0x1 | 0x2 | 0x4 | 0x8 | 0x10 | 0x1000;
// Control flag: the driver knows the device's port identifier for a fabric one.
constexpr uint8_t kControlFabricDevice = 0x8;

constexpr size_t kEntryListOffset = offsetof(DEVICEINFO, EntryList);

DEVICEINFOENTRY* caller_entry(PDEVICEINFO info, uint32_t i) {
    return reinterpret_cast<DEVICEINFOENTRY*>(reinterpret_cast<uint8_t*>(info) + kEntryListOffset +
                                              size_t{i} * sizeof(DEVICEINFOENTRY));
}

void fill_entry(DEVICEINFOENTRY* out, const EXT_DEVICEDATAENTRY& in) {
    out->DeviceFlags = in.DeviceFlags;
    std::memcpy(out->NodeWWN, in.NodeWWN, sizeof out->NodeWWN);
    std::memcpy(out->PortWWN, in.PortWWN, sizeof out->PortWWN);
    std::memcpy(out->PortID, in.PortID, sizeof out->PortID);
    out->LoopID = in.LoopID;
    out->BaseLunNumber = in.BaseLunNumber;
    out->ControlFlags = in.ControlFlags;
    // A loop device without its address: the AL_PA of its loop identifier.
    if ((in.ControlFlags & kControlFabricDevice) == 0 && out->PortID[0] == 0 && out->PortID[1] == 0 &&
        out->PortID[2] == 0) {
        uint8_t alpa = 0;
        if (vxapi_loop_id_to_alpa(in.LoopID, &alpa)) out->PortID[2] = alpa;
    }
    out->TargetAddress.BusNumber = in.TargetAddress.Bus;
    out->TargetAddress.TargetID = in.TargetAddress.Target;
    out->TargetAddress.LUN = in.TargetAddress.Lun;
}

// ---- converged data ----

constexpr uint32_t kCnaPortBytes = sizeof(CNAPORTPROPERTY);
constexpr uint32_t kDcbxMinimum = 64;
constexpr uint32_t kDcbxBytes = 4096;
// FabricParam bit: the driver's own fabric parameters are valid.
constexpr uint16_t kFabricParamValid = 0x200;
constexpr uint16_t kFabricParamDefault = 0x8000;

}  // namespace

SD_UINT32 SDGetHbaDeviceNodeProperty(int Device, PDEVICENODEPROPERTY phba_node_user) {
    VxSdCall call("SDGetHbaDeviceNodeProperty", Device);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr || !call.given(phba_node_user)) return call.status();

    EXT_HBA_NODE node{};
    // Filled in a copy: the caller's record is written only when the request
    // completed (overrun and underrun included). A failed layout refresh
    // leaves it with what the driver filled before it (the versions in flash
    // are read only after it), and its status is the call's.
    DEVICENODEPROPERTY filled = *phba_node_user;
    bool complete = false;
    const SD_UINT32 status = call.run(
        VxSdAccept::OverUnder, [&](uint32_t* ext) { return vxapi_query_hbanode(rec->oshandle, rec, &node, ext); },
        [&]() -> SD_UINT32 {
            const uint16_t device = vxapi_device_id(rec);
            if (vx_chip_has(device, VX_CHIP_BOOT_VERSIONS_FLASH_IOCTL) && !vxapi_is_sysfs_port(rec)) {
                vxapi_priv_database* owner = vx_sd_adapter_port(rec);
                vxapi_read_flash_versions(owner->oshandle, owner, &node);
            }
            PDEVICENODEPROPERTY out = &filled;
            std::memcpy(out->WWN, node.WWNN, sizeof out->WWN);
            vx_sd_copy_text(out->Manufacturer, sizeof out->Manufacturer, node.Manufacturer, sizeof node.Manufacturer);
            vx_sd_copy_text(out->Model, kModelTextBytes, node.Model, sizeof node.Model);
            const vxapi_phy_info* phy = rec->phy_info;
            vx_sd_copy_text(out->SerialNumber, sizeof out->SerialNumber, phy != nullptr ? phy->serial_num : nullptr,
                            phy != nullptr ? sizeof phy->serial_num : 0);
            vx_sd_copy_text(out->DriverVersion, sizeof out->DriverVersion, node.DriverVersion,
                            sizeof node.DriverVersion);
            vx_sd_copy_text(out->FirmwareVersion, sizeof out->FirmwareVersion, node.FWVersion, sizeof node.FWVersion);
            vx_sd_copy_text(out->OptionRomVersion, sizeof out->OptionRomVersion, node.OptRomVersion,
                            sizeof node.OptRomVersion);
            out->NumberOfPorts = node.InterfaceType == kDriverInterfaceSinglePort ? 1 : node.PortCount;
            out->InterfaceType = node.InterfaceType;
            out->DriverAttributes = node.DriverAttr;
            out->FirmwareAttributes = node.FWAttr;
            std::memcpy(out->BIFwVersion, node.BIFwVersion, sizeof out->BIFwVersion);
            std::memcpy(out->BIEfiVersion, node.BIEfiVersion, sizeof out->BIEfiVersion);
            std::memcpy(out->BIFCodeVersion, node.BIFCodeVersion, sizeof out->BIFCodeVersion);
            // A sysfs port's record is the library's own, whose bits say which
            // boot versions came; a driver's record is taken as holding all three.
            constexpr uint32_t kBootVersions = SD_BIVALID_FW | SD_BIVALID_EFI | SD_BIVALID_FCODE;
            static_assert(kBootVersions == (EXT_BI_FW_VALID | EXT_BI_EFI_VALID | EXT_BI_FCODE_VALID));
            out->BIValid |= vxapi_is_sysfs_port(rec) ? node.BIValid & kBootVersions : kBootVersions;
            complete = true;

            if (vx_chip_has(device, VX_CHIP_MPI_PEP)) {
                // The driver reports the running versions in its flash fields.
                std::memcpy(out->MpiFwVersion, node.BIMpiFwVersion, sizeof out->MpiFwVersion);
                std::memcpy(out->PepFwVersion, node.BIPepFwVersion, sizeof out->PepFwVersion);
                // The versions in flash are found through this adapter's layout.
                if (const SD_UINT32 refreshed = SDGetOptionRomLayout(Device, 0, nullptr); refreshed != SDERR_NO_ERROR) {
                    return refreshed;
                }
                uint8_t mpi[4] = {};
                uint8_t pep[4] = {};
                // Versions that could not be read are not reported as valid.
                if (vxapi_get_flash_mpi_pep_versions(rec->oshandle, rec, mpi, pep) == 0) {
                    std::memcpy(out->BIMpiFwVersion, mpi, sizeof mpi);
                    std::memcpy(out->BIPepFwVersion, pep, sizeof pep);
                    out->BIValid |= SD_BIVALID_MPI | SD_BIVALID_PEP;
                }
            }
            return SDERR_NO_ERROR;
        });
    // Not the status: a failed layout refresh may itself read as overrun, and
    // still leaves the record filled so far.
    if (complete) *phba_node_user = filled;
    return status;
}

SD_UINT32 SDGetHbaDevicePortProperty(int Device, SD_UINT16 hba_port_num, PDEVICEPORTPROPERTY phba_port_user) {
    (void)hba_port_num;
    VxSdCall call("SDGetHbaDevicePortProperty", Device);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr || !call.given(phba_port_user)) return call.status();

    EXT_HBA_PORT port{};
    return call.run(
        VxSdAccept::OverUnder, [&](uint32_t* ext) { return vxapi_query_hbaport(rec->oshandle, rec, &port, ext); },
        [&] {
            PDEVICEPORTPROPERTY out = phba_port_user;
            std::memcpy(out->WWN, port.WWPN, sizeof out->WWN);
            copy_port_id(out->PortID, port.Id);
            copy_known_type(&out->PortType, port.Type);
            out->PortState = port_state(port.State);
            copy_known_type(&out->ConnectionMode, port.Mode);
            out->DiscPortCount = port.DiscPortCount;
            out->DiscTargetCount = port.DiscTargetCount;
            out->PortSpeed = port.PortSpeed;
            out->LinkState1 = port.LinkState1;
            out->LinkState2 = port.LinkState2;
            out->LinkState3 = port.LinkState3;
            out->LinkState6 = port.LinkState6;
        });
}

SD_UINT32 SDGetDiscPortProperty(int Device, SD_UINT16 HbaDevPortNum, SD_UINT32 DiscPortNum, SD_UINT32 GetType,
                                PDISCPORTPROPERTY pDiscPortProperty) {
    (void)HbaDevPortNum;
    (void)GetType;
    VxSdCall call("SDGetDiscPortProperty", Device);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr || !call.given(pDiscPortProperty)) return call.status();

    EXT_DISC_PORT disc{};
    const auto index = static_cast<uint16_t>(DiscPortNum);
    return call.run(
        VxSdAccept::OverUnder,
        [&](uint32_t* ext) { return vxapi_query_discport(rec->oshandle, rec, index, &disc, ext); },
        [&] {
            PDISCPORTPROPERTY out = pDiscPortProperty;
            std::memcpy(out->NodeWWN, disc.WWNN, sizeof out->NodeWWN);
            std::memcpy(out->PortWWN, disc.WWPN, sizeof out->PortWWN);
            copy_port_id(out->PortID, disc.Id);
            copy_known_type(&out->PortType, disc.Type);
            out->BusNumber = disc.Bus;
            out->TargetID = disc.TargetId;
            out->PortState = static_cast<SD_UINT8>(disc.Status & 0xFF);
            out->LoopID = disc.LoopID;
        });
}

SD_UINT32 SDGetDiscTargetProperty(int Device, SD_UINT16 HbaDevPortNum, SD_UINT32 DiscTargetNum, SD_UINT32 GetType,
                                  PDISCTARGETPROPERTY pDiscTargetProperty) {
    (void)HbaDevPortNum;
    (void)GetType;
    VxSdCall call("SDGetDiscTargetProperty", Device);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr || !call.given(pDiscTargetProperty)) return call.status();

    // Status bits of a discovered target: known, and present.
    constexpr uint16_t kKnown = 0x1;
    constexpr uint16_t kPresent = 0x2;
    EXT_DISC_TARGET target{};
    const auto index = static_cast<uint16_t>(DiscTargetNum);
    return call.run(
        VxSdAccept::OverUnder,
        [&](uint32_t* ext) { return vxapi_query_disctgt(rec->oshandle, rec, index, &target, ext); },
        [&]() -> SD_UINT32 {
            if ((target.Status & kKnown) != 0 && (target.Status & kPresent) == 0) return SDERR_DEVICE_NOT_FOUND;
            PDISCTARGETPROPERTY out = pDiscTargetProperty;
            std::memcpy(out->NodeWWN, target.WWNN, sizeof out->NodeWWN);
            std::memcpy(out->PortWWN, target.WWPN, sizeof out->PortWWN);
            copy_port_id(out->PortID, target.Id);
            out->BusNumber = target.Bus;
            out->TargetID = target.TargetId;
            out->PortType = static_cast<SD_UINT8>(target.Type & 0xFF);
            out->PortState = static_cast<SD_UINT8>(target.Status & 0xFF);
            out->LoopID = target.LoopID;
            return SDERR_NO_ERROR;
        });
}

SD_UINT32 SDGetHbaDeviceChipProperty(int Device, PCHIPPROPERTY pChipProperty) {
    VxSdCall call("SDGetHbaDeviceChipProperty", Device, "SDGetHbaChipProperty entered.",
                  "SDGetHbaChipProperty exiting. ret=", VXDBG_DEC);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr || !call.given(pChipProperty)) return call.status();

    call.set_failure_line("SDGetHbaDeviceChipProperty: ioctl failed. ext status=");
    EXT_CHIP chip{};
    return call.run(
        VxSdAccept::Clean, [&](uint32_t* ext) { return vxapi_query_chip(rec->oshandle, rec, &chip, ext); },
        [&] {
            vxdbg_line(VX_SD_ERROR, "SDGetHbaDeviceChipProperty: ioctl ok.");
            PCHIPPROPERTY out = pChipProperty;
            out->VendorID = chip.VendorId;
            out->DeviceID = chip.DeviceId;
            out->SubVendorID = chip.SubVendorId;
            out->SubSystemID = chip.SubSystemId;
            out->PciBusNumber = chip.PciBusNumber;
            out->PciSlotNumber = chip.PciDevFunc;
            out->IoAddress = chip.IoAddr;
            out->IoAddressLength = chip.IoAddrLen;
            out->MemoryAddress = chip.MemAddr;
            out->MemoryAddressLength = chip.MemAddrLen;
            out->ChipType = chip.ChipType;
            out->InterruptLevel = chip.InterruptLevel;
            out->DomainNr = chip.DomainNr;
            out->PcieLinkCap = static_cast<SD_UINT16>(chip.PcieLinkCap & 0xFFFF);
            out->PcieLinkStat = chip.PcieLinkStat;
            out->PortNumber = rec->phy_info != nullptr ? rec->phy_info->port_number : 0;
            std::memcpy(out->OutMbx, chip.OutMbx, sizeof out->OutMbx);
        });
}

SD_UINT32 SDGetHbaDeviceDriverProperty(int Device, PDRIVERPROPERTY pDriverProperty) {
    VxSdCall call("SDGetHbaDeviceDriverProperty", Device, "SDGetHbaDeviceDriverProperty entered.",
                  "SDGetHbaDeviceDriverProperty exiting. ret=", VXDBG_DEC);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr || !call.given(pDriverProperty)) return call.status();

    call.set_failure_line("SDGetHbaDeviceDriverProperty: ioctl failed.ext status=");
    EXT_DRIVER driver{};
    return call.run(
        VxSdAccept::Clean, [&](uint32_t* ext) { return vxapi_query_driver(rec->oshandle, rec, &driver, ext); },
        [&] {
            PDRIVERPROPERTY out = pDriverProperty;
            vx_sd_copy_text(out->Version, sizeof out->Version, driver.Version, sizeof driver.Version);
            if (vxdbg_on(VX_SD_INFO)) {
                vxdbg_print("SDGetHbaDeviceDriverProperty: driverprop version=", 0, VXDBG_NONE, 0);
                vxdbg_print(reinterpret_cast<const char*>(out->Version), 0, VXDBG_NONE, 1);
            }
            out->NumberOfBus = driver.NumOfBus;
            out->TargetsPerBus = driver.TargetsPerBus;
            out->LunsPerTarget = driver.LunsPerTarget;
            out->MaximumTransferLen = driver.MaxTransferLen;
            out->MaximumDataSegments = driver.MaxDataSegments;
            out->DmaBitAddresses = driver.DmaBitAddresses;
            out->IoMapType = driver.IoMapType;
            out->Attributes = driver.Attrib;
            std::memcpy(out->InternalFlags, driver.InternalFlags, sizeof out->InternalFlags);
            return SDERR_NO_ERROR;
        });
}

SD_UINT32 SDGetHbaDeviceFirmwareProperty(int Device, PFIRMWAREPROPERTY pFWProperty) {
    VxSdCall call("SDGetHbaDeviceFirmwareProperty", Device, "SDGetHbaFirmwareProperty entered.",
                  "SDGetHbaFirmwareProperty exiting. ret=", VXDBG_DEC);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr || !call.given(pFWProperty)) return call.status();

    call.set_failure_line("SDGetHbaFirmwareProperty: ioctl failed. ext status=");
    EXT_FW fw{};
    return call.run(
        VxSdAccept::Clean, [&](uint32_t* ext) { return vxapi_query_fw(rec->oshandle, rec, &fw, ext); },
        [&] {
            std::memcpy(pFWProperty->Version, fw.Version, 3);
            if (vxdbg_on(VX_SD_INFO)) {
                vxdbg_print("SDGetHbaFirmwareProperty: fw version=", fw.Version[0], VXDBG_HEX, 0);
                vxdbg_print(" ", fw.Version[1], VXDBG_HEX, 0);
                vxdbg_print(" ", fw.Version[2], VXDBG_HEX, 1);
            }
        });
}

SD_UINT32 SDGetPortDatabase(int Device, SD_UINT16 TypeMode, PDEVICEINFO pDeviceInfo, SD_UINT32 DeviceInfoSize) {
    VxSdCall call("SDGetPortDatabase", Device, "SDGetPortDatabase entered.", "SDGetPortDatabase exiting. ret=");
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr || !call.given(pDeviceInfo)) return call.status();
    // Below one entry the caller's record has no room at all.
    if (!call.buffer_holds(DeviceInfoSize, sizeof(DEVICEINFO))) return call.status();

    Buffer reply = zeroed(kPortSummaryBytes);
    if (!reply) {
        vx_sd_line(VX_SD_ERROR, call.name(), Device, "): mem alloc failed.");
        return call.done(SDERR_OUT_OF_MEMORY);
    }
    const uint32_t request = TypeMode & kTypeModeBits;
    uint32_t ext = 0;
    uint32_t detail = 0;
    uint32_t arrived = 0;
    errno = 0;
    const int result = vxapi_get_port_summary(rec->oshandle, rec, &request, reply.get(), kPortSummaryBytes, &ext,
                                              &detail, &arrived);
    const int err = errno;
    const VxSdOutcome out = vx_sd_outcome(call.name(), Device, result, ext, err, VxSdAccept::Clean,
                                          "SDGetPortDatabase: ioctl failed. ext status=", detail);
    if (!out.done) return call.done(out.status);
    // Without its head the reply tells nothing: the rest of it is zeros.
    if (arrived < sizeof(EXT_DEVICEDATA)) {
        vx_sd_line(VX_SD_ERROR, call.name(), Device, "): short reply. bytes delivered=", arrived, VXDBG_DEC);
        return call.done(SDERR_UNKNOWN);
    }

    EXT_DEVICEDATA head;
    std::memcpy(&head, reply.get(), sizeof head);
    const uint32_t capacity =
        1 + (DeviceInfoSize - static_cast<uint32_t>(sizeof(DEVICEINFO))) / static_cast<uint32_t>(sizeof(DEVICEINFOENTRY));
    // The reply holds no more entries than its buffer, nor than the driver
    // delivered, whatever it counts: entries never arrived are zeros.
    const uint32_t whole =
        (arrived - static_cast<uint32_t>(sizeof head)) / static_cast<uint32_t>(sizeof(EXT_DEVICEDATAENTRY));
    const uint32_t delivered = std::min({head.ReturnListEntryCount, kPortSummaryEntries, whole});
    pDeviceInfo->TotalDevices = head.TotalDevices;
    pDeviceInfo->ReturnListEntryCount = 0;
    for (uint32_t i = 0; i < delivered && i < capacity; ++i) {
        EXT_DEVICEDATAENTRY entry;
        std::memcpy(&entry, reply.get() + sizeof(EXT_DEVICEDATA) + size_t{i} * sizeof entry, sizeof entry);
        fill_entry(caller_entry(pDeviceInfo, i), entry);
        ++pDeviceInfo->ReturnListEntryCount;
    }
    if (pDeviceInfo->TotalDevices > pDeviceInfo->ReturnListEntryCount) {
        vxdbg_line(VX_SD_ERROR, "SDGetPortDatabase exiting: buffer too small.");
        return call.done(SDERR_BUFFER_TOO_SMALL);
    }
    return call.done(SDERR_NO_ERROR);
}

SD_UINT32 SDGetCnaPortData(int Device, SD_UINT16 CnaDevPortNum, SD_UINT32 Operation, SD_PUINT8 pCnaPortData,
                           SD_PUINT32 pCnaPortDataSize) {
    (void)CnaDevPortNum;
    VxSdCall call("SDGetCnaPortData", Device);
    if (pCnaPortData == nullptr || pCnaPortDataSize == nullptr) {
        vx_sd_line(VX_SD_ERROR, call.name(), Device, "): no buffer allocated");
        return call.done(SDERR_INVALID_PARAMETER);
    }
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr) return call.status();
    if (!call.chip_gate(rec, VX_CHIP_CONVERGED, "SDGetCnaPortData: FCoE CNA.")) return call.status();

    SD_UINT32& size = *pCnaPortDataSize;
    int result = 0;
    uint32_t ext = 0;
    int err = 0;
    switch (Operation) {
    case SD_CNA_GET_PORT_ID: {
        vx_sd_line(VX_SD_TRACE, call.name(), Device, "): got get id command");
        if (size != kCnaPortBytes) {
            vx_sd_line(VX_SD_ERROR, call.name(), Device, "): invalid size=", size, VXDBG_HEX);
            return call.done(SDERR_INVALID_PARAMETER);
        }
        EXT_CNA_PORT cna{};
        errno = 0;
        result = vxapi_query_cnaport(rec->oshandle, rec, &cna, &ext);
        err = errno;
        if (result == 0 && ext == 0) {
            CNAPORTPROPERTY out;
            std::memcpy(&out, pCnaPortData, sizeof out);
            out.VLanId = cna.VLanId;
            std::memcpy(out.VNPortMACAddress, cna.VNPortMACAddress, sizeof out.VNPortMACAddress);
            if ((cna.FabricParam & kFabricParamValid) == 0) out.FabricParam = kFabricParamDefault;
            std::memcpy(pCnaPortData, &out, sizeof out);
        }
        break;
    }
    case SD_CNA_GET_DCBX_PARAMS: {
        vx_sd_line(VX_SD_TRACE, call.name(), Device, "): got get DCBX parameters command");
        if (size < kDcbxMinimum) {
            vx_sd_line(VX_SD_ERROR, call.name(), Device, "): invalid size=", size, VXDBG_HEX);
            size = kDcbxMinimum;
            return call.done(SDERR_BUFFER_TOO_SMALL);
        }
        Buffer dcbx = zeroed(kDcbxBytes);
        if (!dcbx) {
            vx_sd_line(VX_SD_ERROR, call.name(), Device, "): DCBX parameters malloc failed");
            return call.done(SDERR_OUT_OF_MEMORY);
        }
        uint32_t length = kDcbxBytes;
        errno = 0;
        result = vxapi_get_dcbx_param(rec->oshandle, rec, dcbx.get(), &length, &ext);
        err = errno;
        if (result == 0 && ext == 0) {
            const uint32_t n = std::min({size, length, kDcbxBytes});
            std::memcpy(pCnaPortData, dcbx.get(), n);
            size = n;
        }
        break;
    }
    case SD_CNA_GET_REGION_VERSIONS: {
        vx_sd_line(VX_SD_TRACE, call.name(), Device, "): got read adapter versions command");
        const vxapi_phy_info* phy = rec->phy_info;
        const uint32_t need = vx_region_version_list_size(vxapi_get_number_of_bits_set(phy->fcoe_valid));
        if (!call.buffer_holds(size, need, pCnaPortDataSize)) return call.status();
        Buffer list = zeroed(need);
        if (!list) {
            vx_sd_line(VX_SD_ERROR, call.name(), Device, "): mem alloc failed.");
            return call.done(SDERR_OUT_OF_MEMORY);
        }
        result = vxapi_copy_fcoe_versions(phy, list.get(), need, &ext);
        if (result == 0) {
            // The caller's whole buffer: the list, then zeros.
            std::memcpy(pCnaPortData, list.get(), need);
            std::memset(pCnaPortData + need, 0, size - need);
        }
        break;
    }
    default:
        vx_sd_line(VX_SD_ERROR, call.name(), Device, "): invalid Opreation=", Operation, VXDBG_HEX);
        return call.done(SDERR_INVALID_PARAMETER);
    }

    // Overrun and underrun (an answer short of its record among them) leave
    // the caller's buffer as it was, and the status says so: its bytes are
    // none of the driver's.
    if (ext != 0) {
        vx_sd_line(VX_SD_ERROR, call.name(), Device, "): bad stat ", ext, VXDBG_DEC);
        return call.done(vx_sd_xlate(ext, 0, VxSdScsi::None));
    }
    if (result < 0) {
        vx_sd_line(VX_SD_ERROR, call.name(), Device, "): extended ioctl failed ", static_cast<uint32_t>(err),
                   VXDBG_INT);
        return call.done(err != 0 ? static_cast<SD_UINT32>(err) : SDERR_UNKNOWN);
    }
    if (result > 0) return call.done(SDERR_UNKNOWN);
    return call.done(SDERR_NO_ERROR);
}
