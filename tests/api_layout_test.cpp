// The byte layouts of the public records: a change of a field's size or
// place breaks every caller built against the header.
#include <cstddef>

#include <gtest/gtest.h>

#include "vxsdm.h"

static_assert(sizeof(DEVICENODEPROPERTY) == 388);
static_assert(offsetof(DEVICENODEPROPERTY, Manufacturer) == 8);
static_assert(offsetof(DEVICENODEPROPERTY, Model) == 88);
static_assert(offsetof(DEVICENODEPROPERTY, SerialNumber) == 120);
static_assert(offsetof(DEVICENODEPROPERTY, OptionRomVersion) == 216);
static_assert(offsetof(DEVICENODEPROPERTY, NumberOfPorts) == 248);
static_assert(offsetof(DEVICENODEPROPERTY, BIValid) == 260);
static_assert(offsetof(DEVICENODEPROPERTY, BIFwVersion) == 264);
static_assert(offsetof(DEVICENODEPROPERTY, BIPepFwVersion) == 288);
static_assert(offsetof(DEVICENODEPROPERTY, Reserved) == 292);

static_assert(sizeof(DEVICEPORTPROPERTY) == 148);
static_assert(offsetof(DEVICEPORTPROPERTY, PortID) == 8);
static_assert(offsetof(DEVICEPORTPROPERTY, DiscPortCount) == 14);
static_assert(offsetof(DEVICEPORTPROPERTY, DeviceName) == 18);
static_assert(offsetof(DEVICEPORTPROPERTY, PortSpeed) == 52);
static_assert(offsetof(DEVICEPORTPROPERTY, LinkState6) == 62);
static_assert(offsetof(DEVICEPORTPROPERTY, Reserved) == 64);

static_assert(sizeof(DISCPORTPROPERTY) == 156);
static_assert(sizeof(DISCTARGETPROPERTY) == 156);
static_assert(offsetof(DISCPORTPROPERTY, PortID) == 16);
static_assert(offsetof(DISCPORTPROPERTY, BusNumber) == 20);
static_assert(offsetof(DISCPORTPROPERTY, PortType) == 24);
static_assert(offsetof(DISCPORTPROPERTY, LoopID) == 28);
static_assert(offsetof(DISCPORTPROPERTY, Reserved) == 32);

static_assert(sizeof(CHIPPROPERTY) == 80);
static_assert(offsetof(CHIPPROPERTY, IoAddress) == 12);
static_assert(offsetof(CHIPPROPERTY, ChipType) == 28);
static_assert(offsetof(CHIPPROPERTY, OutMbx) == 32);
static_assert(offsetof(CHIPPROPERTY, DomainNr) == 48);
static_assert(offsetof(CHIPPROPERTY, PortNumber) == 54);
static_assert(offsetof(CHIPPROPERTY, Reserved) == 56);

static_assert(sizeof(DRIVERPROPERTY) == 104);
static_assert(offsetof(DRIVERPROPERTY, NumberOfBus) == 32);
static_assert(offsetof(DRIVERPROPERTY, MaximumTransferLen) == 40);
static_assert(offsetof(DRIVERPROPERTY, DmaBitAddresses) == 48);
static_assert(offsetof(DRIVERPROPERTY, InternalFlags) == 56);
static_assert(offsetof(DRIVERPROPERTY, Reserved) == 72);

static_assert(sizeof(FIRMWAREPROPERTY) == 104);
static_assert(offsetof(FIRMWAREPROPERTY, Attributes) == 32);
static_assert(offsetof(FIRMWAREPROPERTY, Reserved) == 36);

static_assert(sizeof(TARGETINFORMATION) == 136);
static_assert(offsetof(TARGETINFORMATION, Reserved) == 8);
static_assert(sizeof(DEVICEINFOENTRY) == 292);
static_assert(offsetof(DEVICEINFOENTRY, ControlFlags) == 19);
static_assert(offsetof(DEVICEINFOENTRY, TargetAddress) == 20);
static_assert(offsetof(DEVICEINFOENTRY, DeviceFlags) == 156);
static_assert(offsetof(DEVICEINFOENTRY, BaseLunNumber) == 162);
static_assert(offsetof(DEVICEINFOENTRY, Reserved) == 164);
static_assert(sizeof(DEVICEINFO) == 300);
static_assert(offsetof(DEVICEINFO, EntryList) == 8);

static_assert(sizeof(CNAPORTPROPERTY) == 128);
static_assert(offsetof(CNAPORTPROPERTY, VNPortMACAddress) == 2);
static_assert(offsetof(CNAPORTPROPERTY, FabricParam) == 8);
static_assert(offsetof(CNAPORTPROPERTY, Reserved) == 12);
static_assert(sizeof(REGIONVERSION) == 24);
static_assert(offsetof(REGIONVERSION, VersionLength) == 6);
static_assert(offsetof(REGIONVERSION, Version) == 8);
static_assert(offsetof(REGIONVERSION, Reserved) == 16);
static_assert(offsetof(ADAPTERREGIONVERSION, RegionVersion) == 8);

static_assert(sizeof(SDM_OPT_ROM_REGION) == 8);
static_assert(offsetof(SDM_OPT_ROM_REGION, Size) == 4);
static_assert(sizeof(SDM_OPT_ROM_LAYOUT) == 16);
static_assert(offsetof(SDM_OPT_ROM_LAYOUT, Region) == 8);

static_assert(sizeof(SD_UINT8) == 1 && sizeof(SD_INT8) == 1 && sizeof(SD_UINT16) == 2);
static_assert(sizeof(SD_UINT32) == 4 && sizeof(SD_INT32) == 4 && sizeof(SD_UINT64) == 8);

// The checks above are made by the compiler; this test only makes the file part of the suite.
TEST(ApiLayout, PublicRecordsHaveTheirLayout) { SUCCEED(); }
