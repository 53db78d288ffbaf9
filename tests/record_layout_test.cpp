// The byte layouts of the records the library shares with the driver, with
// the flash and with other processes, in one table: a change of a field's
// size or order shows here with the record's name.
#include <gtest/gtest.h>

#include "core/vx_driver_records.h"
#include "core/vx_ioctl.h"
#include "core/vx_records.h"
#include "image/flash_formats.h"

namespace {

struct Layout {
    const char* what;
    size_t actual;
    size_t expected;
};

TEST(RecordLayout, SizesAndKeyOffsets) {
    const Layout layouts[] = {
        {"vxapi_priv_database", sizeof(vxapi_priv_database), 512},
        {"vxapi_priv_database.oshandle", offsetof(vxapi_priv_database, oshandle), 256},
        {"vxapi_priv_database.features", offsetof(vxapi_priv_database, features), 308},
        {"vxapi_priv_database.phy_info", offsetof(vxapi_priv_database, phy_info), 320},
        {"vxapi_priv_database.reserved", offsetof(vxapi_priv_database, reserved), 344},
        {"vxapi_phy_info", sizeof(vxapi_phy_info), 320},
        {"vxapi_phy_info.pci_domain", offsetof(vxapi_phy_info, pci_domain), 152},
        {"vxapi_phy_info.pflt_layout", offsetof(vxapi_phy_info, pflt_layout), 160},
        {"vxapi_phy_info.port_number", offsetof(vxapi_phy_info, port_number), 300},
        {"vxapi_aen_callback_table", sizeof(vxapi_aen_callback_table), 32},
        {"vxapi_hbapt_reg_cb_t.prmcb_handle", offsetof(vxapi_hbapt_reg_cb_t, prmcb_handle), 24},
        {"vxapi_remove_callback_t", sizeof(vxapi_remove_callback_t), 56},
        {"vxapi_priv_db_t", sizeof(vxapi_priv_db_t), 184},
        {"vxapi_priv_db_t.serial_num", offsetof(vxapi_priv_db_t, serial_num), 152},
        {"EXT_IOCTL", sizeof(EXT_IOCTL), 116},
        {"EXT_IOCTL.RequestAdr", offsetof(EXT_IOCTL, RequestAdr), 36},
        {"EXT_IOCTL.HbaSelect", offsetof(EXT_IOCTL, HbaSelect), 52},
        {"EXT_IOCTL.VendorSpecificData", offsetof(EXT_IOCTL, VendorSpecificData), 76},
        {"EXT_IOCTL_O", sizeof(EXT_IOCTL_O), 88},
        {"EXT_IOCTL_O.RequestAdr", offsetof(EXT_IOCTL_O, RequestAdr), 40},
        {"EXT_IOCTL_O.HbaSelect", offsetof(EXT_IOCTL_O, HbaSelect), 56},
        {"EXT_IOCTL_O.VendorSpecificData", offsetof(EXT_IOCTL_O, VendorSpecificData), 80},
        {"EXT_LN_DRIVER_DATA", sizeof(EXT_LN_DRIVER_DATA), 64},
        {"EXT_CHIP", sizeof(EXT_CHIP), 84},
        {"EXT_CHIP.FlashBlockSize", offsetof(EXT_CHIP, FlashBlockSize), 60},
        {"INT_PCI_ROM_HEADER", sizeof(INT_PCI_ROM_HEADER), 26},
        {"INT_PCI_DATA_STRUCT", sizeof(INT_PCI_DATA_STRUCT), 24},
        {"FLT_LOCATION", sizeof(FLT_LOCATION), 16},
        {"FLT_HEADER", sizeof(FLT_HEADER), 8},
        {"FLT_REGION", sizeof(FLT_REGION), 16},
        {"VFIM_HEADER", sizeof(VFIM_HEADER), 32},
        {"vxa_image_status", sizeof(vxa_image_status), 16},
        {"vxa_image_status.gen_num", offsetof(vxa_image_status, gen_num), 1},
        {"vxa_image_status.signature", offsetof(vxa_image_status, signature), 12},
    };
    for (const Layout& l : layouts) EXPECT_EQ(l.actual, l.expected) << l.what;
}

}  // namespace
