// The port and function record lists: order set by the single cursor, API
// handles, lookups, and releases.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/vx_records.h"

namespace {

class Records : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
    static void reset() {
        vxapi_free_api_priv_data_mem();
        vxapi_free_api_phy_info_mem();
        std::memset(api_priv_data, 0, sizeof api_priv_data);
    }
    static vxapi_priv_database* add_port(uint32_t features = VX_FEAT_SYSFS,
                                         uint32_t type = VX_PORT_PHYSICAL) {
        vxapi_priv_database* rec = nullptr;
        EXPECT_EQ(vxapi_alloc_api_priv_data_mem(&rec), 0);
        if (rec != nullptr) {
            rec->features = features;
            rec->interface_type = type;
        }
        return rec;
    }
    static EXT_CHIP chip_at(uint16_t domain, uint16_t bus, uint16_t dev_func) {
        EXT_CHIP chip{};
        chip.DomainNr = domain;
        chip.PciBusNumber = bus;
        chip.PciDevFunc = dev_func;
        return chip;
    }
    // A function record, filled with its PCI location as the caller does.
    static vxapi_phy_info* add_function(const EXT_CHIP& chip, const char* serial = "") {
        vxapi_phy_info* info = nullptr;
        EXPECT_EQ(vxapi_alloc_api_phy_info_mem(&info, &chip), 0);
        if (info == nullptr) return nullptr;
        info->pci_domain = chip.DomainNr;
        info->pci_bus = chip.PciBusNumber;
        info->pci_dev_func = chip.PciDevFunc;
        std::snprintf(reinterpret_cast<char*>(info->serial_num), sizeof info->serial_num, "%s", serial);
        return info;
    }
    // The port list in order, read without moving the cursor.
    static std::vector<vxapi_priv_database*> ports() {
        std::vector<vxapi_priv_database*> out;
        if (api_priv_database == nullptr) return out;
        DL_node* node;
        dlist_for_each_nomark(api_priv_database, node)
            out.push_back(static_cast<vxapi_priv_database*>(node->data));
        return out;
    }
    // What the library's open does with a record: its position becomes its handle.
    static uint32_t open_port(vxapi_priv_database* rec) {
        uint32_t position = 0;
        EXPECT_EQ(vxapi_get_instance_from_api_priv_inst(rec, &position), 0);
        rec->apihandle = vxapi_assign_apihandle(rec, position);
        ++rec->open_cnt;
        return rec->apihandle;
    }
};

TEST_F(Records, CheckHandleGates) {
    EXPECT_EQ(check_handle(1), nullptr) << "no list";
    vxapi_priv_database* closed = add_port(VX_FEAT_SYSFS);
    EXPECT_EQ(closed->oshandle, -1);  // a new record: closed descriptor, handle 0, own callback table
    EXPECT_EQ(closed->apihandle, 0u);
    ASSERT_NE(closed->api_event_cbs, nullptr);
    EXPECT_EQ(current_priv_inst, closed);
    EXPECT_TRUE(std::all_of(closed->reserved, std::end(closed->reserved), [](uint8_t b) { return b == 0; }));
    vxapi_priv_database* neither = add_port(VX_FEAT_NEW_IOCTL | VX_FEAT_AEN | VX_FEAT_BSG);
    vxapi_priv_database* ioctl_port = add_port(VX_FEAT_IOCTL);
    vxapi_priv_database* sysfs_port = add_port(VX_FEAT_SYSFS);
    neither->apihandle = 2;
    ioctl_port->apihandle = 3;
    sysfs_port->apihandle = 4;
    struct Case {
        uint32_t handle;
        vxapi_priv_database* expected;
    } cases[] = {
        {0, nullptr},  // handle 0 is never a port, although `closed` holds 0
        {2, nullptr},  // the record exists but has neither 0x1 nor 0x20
        {3, ioctl_port}, {4, sysfs_port},
        {5, nullptr},  // no record holds it
    };
    for (const Case& c : cases) EXPECT_EQ(check_handle(c.handle), c.expected) << "handle " << c.handle;
    sysfs_port->apihandle = 0;  // after the last close the old handle no longer resolves
    EXPECT_EQ(check_handle(4), nullptr);
}

// A new record lands behind the cursor: after the previous insertion, where a
// lookup stopped, at the front after a full walk, or where a deleted record was.
TEST_F(Records, InsertionsFollowTheCursor) {
    vxapi_priv_database* a = add_port();
    vxapi_priv_database* b = add_port();
    vxapi_priv_database* c = add_port();
    EXPECT_EQ(ports(), (std::vector{a, b, c}));
    EXPECT_EQ(vxapi_get_open_adapter_count(), 0u);  // a walk to the end
    vxapi_priv_database* d = add_port();
    EXPECT_EQ(ports(), (std::vector{d, a, b, c}));
    EXPECT_EQ(vxapi_get_api_priv_inst_from_user_instance(1), a);  // stops at a match
    vxapi_priv_database* e = add_port();
    EXPECT_EQ(ports(), (std::vector{d, a, e, b, c}));
    vxapi_free_api_priv_data_element(c);  // the last
    vxapi_priv_database* f = add_port();
    EXPECT_EQ(ports(), (std::vector{d, a, e, b, f}));
    vxapi_free_api_priv_data_element(e);  // in the middle
    vxapi_priv_database* g = add_port();
    EXPECT_EQ(ports(), (std::vector{d, a, g, b, f}));
    vxapi_free_api_priv_data_element(d);  // the first
    vxapi_priv_database* h = add_port();
    EXPECT_EQ(ports(), (std::vector{h, a, g, b, f}));
    open_port(a);  // the open's lookup stops at a; giving out its handle moves nothing
    vxapi_priv_database* i = add_port();
    EXPECT_EQ(ports(), (std::vector{h, a, i, g, b, f}));
}

TEST_F(Records, OpenPortsNeverShareAHandle) {
    vxapi_priv_database* a = add_port();
    vxapi_priv_database* b = add_port();
    EXPECT_EQ(open_port(b), 2u);
    // A virtual port created after a full walk lands at the front, which
    // moves `a` to position 1: the value of `b`'s handle.
    EXPECT_EQ(vxapi_get_open_adapter_count(), 1u);
    vxapi_priv_database* v = add_port(VX_FEAT_SYSFS, VX_PORT_VIRTUAL);
    ASSERT_EQ(ports(), (std::vector{v, a, b}));
    const uint32_t ha = open_port(a);
    EXPECT_NE(ha, 2u);
    EXPECT_NE(ha, 0u);
    EXPECT_EQ(check_handle(2), b);
    EXPECT_EQ(check_handle(ha), a);
    const uint32_t hv = open_port(v);
    EXPECT_EQ(hv, 1u);
    EXPECT_EQ(check_handle(hv), v);
    EXPECT_EQ(vxapi_get_open_adapter_count(), 3u);
    // Reopening while the list is unchanged gives the same handle again.
    a->open_cnt = 0;
    a->apihandle = 0;
    EXPECT_EQ(open_port(a), ha);
    EXPECT_EQ(check_handle(2), b);
    EXPECT_EQ(check_handle(hv), v);
}

TEST_F(Records, AssignedHandleIsNeverZero) {
    EXPECT_EQ(vxapi_create_apihandle(41), 42u);
    EXPECT_EQ(vxapi_create_apihandle(0xFFFFFFFFu), 0u);
    vxapi_priv_database* a = add_port();
    EXPECT_EQ(vxapi_assign_apihandle(a, 0xFFFFFFFFu), 1u);
    add_port()->apihandle = 1;
    EXPECT_EQ(vxapi_assign_apihandle(a, 0xFFFFFFFFu), 2u);
    // With no list the plain rule applies, 0 excepted.
    reset();
    EXPECT_EQ(vxapi_assign_apihandle(nullptr, 4), 5u);
    EXPECT_EQ(vxapi_assign_apihandle(nullptr, 0xFFFFFFFFu), 1u);
}

TEST_F(Records, PortNumbersCountPhysicalPortsOfTheSameAdapter) {
    vxapi_phy_info* f1 = add_function(chip_at(0, 1, 0), "SN-DUAL");
    vxapi_phy_info* f2 = add_function(chip_at(0, 1, 1), "SN-DUAL");
    vxapi_phy_info* e1 = add_function(chip_at(0, 2, 0), "");
    vxapi_phy_info* e2 = add_function(chip_at(0, 3, 0), "");
    vxapi_priv_database* p1 = add_port();
    p1->phy_info = f1;
    add_port();  // its chip query failed: no function record
    vxapi_priv_database* v1 = add_port(VX_FEAT_SYSFS, VX_PORT_VIRTUAL);
    v1->phy_info = f1;
    v1->parent = p1;
    add_port()->phy_info = f2;
    add_port()->phy_info = e1;
    add_port()->phy_info = e2;
    // Discovery numbers each physical port once it is set up.
    for (vxapi_priv_database* rec : ports())
        if (rec->interface_type == VX_PORT_PHYSICAL) vxapi_fill_phy_port_number(rec);
    EXPECT_EQ(f1->port_number, 1);
    EXPECT_EQ(f2->port_number, 2);  // neither the virtual port nor the broken one counts
    EXPECT_EQ(e1->port_number, 1);  // empty serial numbers form an adapter of their own
    EXPECT_EQ(e2->port_number, 2);
}

TEST_F(Records, FunctionRecordIsKeyedByPciLocation) {
    const EXT_CHIP chip = chip_at(1, 0x41, 0x08);
    vxapi_phy_info* first = add_function(chip);
    first->pflt_layout = static_cast<INT_OPT_ROM_LAYOUT*>(std::calloc(1, 4088));  // released with it
    vxapi_phy_info* again = nullptr;
    ASSERT_EQ(vxapi_alloc_api_phy_info_mem(&again, &chip), 0);
    EXPECT_EQ(again, first);
    for (const EXT_CHIP& other : {chip_at(0, 0x41, 0x08), chip_at(1, 0x42, 0x08), chip_at(1, 0x41, 0x09)}) {
        EXPECT_EQ(vxapi_get_api_phy_info_inst(&other), nullptr);
        vxapi_phy_info* info = add_function(other);
        EXPECT_NE(info, first);
        EXPECT_EQ(current_phy_info_inst, info);
    }
    EXPECT_EQ(api_phy_info->count, 4u);
    EXPECT_EQ(vxapi_get_api_phy_info_inst(&chip), first);
}

TEST_F(Records, VirtualPortAndHostNumberLookups) {
    vxapi_phy_info* f = add_function(chip_at(0, 1, 0));
    vxapi_priv_database* phys = add_port();
    phys->phy_info = f;
    vxapi_priv_database* other_phys = add_port();
    other_phys->phy_info = add_function(chip_at(0, 2, 0));
    const uint8_t wwnn[8] = {0x20, 0, 0, 0x1b, 0x32, 0, 0, 1};
    uint8_t wwpn[8] = {0x21, 0, 0, 0x1b, 0x32, 0, 0, 1};
    vxapi_priv_database* vport = add_port(VX_FEAT_SYSFS, VX_PORT_VIRTUAL);
    vport->phy_info = f;
    vport->parent = phys;
    vport->vp_idx = 3;
    std::memcpy(vport->wwnn, wwnn, 8);
    std::memcpy(vport->wwpn, wwpn, 8);
    EXPECT_EQ(vxapi_get_phy_port_from_vport(vport), phys);
    EXPECT_EQ(vxapi_get_phy_port_from_vport(add_port()), nullptr);  // no function record
    EXPECT_EQ(vxapi_get_vport_from_vport_id(phys, 3), vport);
    EXPECT_EQ(vxapi_get_vport_from_vport_id(phys, 2), nullptr);
    EXPECT_EQ(vxapi_get_vport_from_vport_id(other_phys, 3), nullptr);
    EXPECT_EQ(vxapi_get_vport_from_wwn(phys, wwnn, wwpn), vport);
    EXPECT_EQ(vxapi_get_vport_from_wwn(other_phys, wwnn, wwpn), nullptr);
    // A null parent matches no physical port (their parent is null too).
    EXPECT_EQ(vxapi_get_vport_from_wwn(nullptr, phys->wwnn, phys->wwpn), nullptr);
    wwpn[7] = 2;
    EXPECT_EQ(vxapi_get_vport_from_wwn(phys, wwnn, wwpn), nullptr);
    // Host numbers: the low 16 bits of the record's, by handle; presence by the whole number.
    phys->host_no = 0x12345;
    phys->apihandle = 9;
    uint16_t host_no = 0;
    EXPECT_EQ(vxapi_get_host_no_by_handle(9, &host_no), 0);
    EXPECT_EQ(host_no, 0x2345);
    for (uint32_t handle : {0u, 10u}) {
        EXPECT_EQ(vxapi_get_host_no_by_handle(handle, &host_no), 1);
        EXPECT_EQ(host_no, 0xFFFF);
    }
    EXPECT_EQ(vxapi_is_host_no_present(0x12345), 0);
    EXPECT_EQ(vxapi_is_host_no_present(0x2345), 1);
    const struct {
        uint32_t value;
        uint8_t bits;
    } counts[] = {{0, 0}, {1, 1}, {0x80000000u, 1}, {0xFFFFFFFFu, 32}, {0x7FFFFFFFu, 31}, {0x00F0F000u, 8}};
    for (const auto& c : counts)
        EXPECT_EQ(vxapi_get_number_of_bits_set(c.value), c.bits) << std::hex << c.value;
}

TEST_F(Records, AdapterNameWithUnterminatedModel) {
    add_port();  // no function record: has no name, keeps position 0
    vxapi_phy_info* f = add_function(chip_at(0, 1, 0));
    std::memcpy(f->model, "ABCDEFGHIJKLMNOP", 16);  // all 16 bytes, no terminator
    f->vendor_id = 0x4141;                          // what an unbounded read would run into
    vxapi_priv_database* port = add_port();
    port->phy_info = f;
    EXPECT_EQ(vxapi_get_api_priv_inst_from_adaptername("varnix-ABCDEFGHIJKLMNOP-1"), port);
    for (const char* name : {"varnix-ABCDEFGHIJKLMNOP-0", "varnix-ABCDEFGHIJKLMNOP", "varnix--0"})
        EXPECT_EQ(vxapi_get_api_priv_inst_from_adaptername(name), nullptr) << name;
}

TEST_F(Records, InstanceOfARecordOutsideTheListIsNotFound) {
    uint32_t position = 77;
    vxapi_priv_database outsider{};
    EXPECT_EQ(vxapi_get_instance_from_api_priv_inst(&outsider, &position), 1) << "no list";
    add_port();
    vxapi_priv_database* second = add_port();
    EXPECT_EQ(vxapi_get_instance_from_api_priv_inst(second, &position), 0);
    EXPECT_EQ(position, 1u);
    EXPECT_EQ(vxapi_get_instance_from_api_priv_inst(&outsider, &position), 1);
    EXPECT_EQ(vxapi_get_instance_from_api_priv_inst(nullptr, &position), 1);
    EXPECT_EQ(vxapi_get_api_priv_inst_from_user_instance(1), second);
    EXPECT_EQ(vxapi_get_api_priv_inst_from_user_instance(2), nullptr);
}

TEST_F(Records, LegacySlotByHandle) {
    uint32_t slot = 0;
    EXPECT_EQ(vxapi_get_api_inst_by_handle(0, &slot), 1) << "handle 0 would match every free slot";
    EXPECT_EQ(slot, 0xFFFFFFFFu);
    api_priv_data[5].apihandle = 7;
    EXPECT_EQ(vxapi_get_api_inst_by_handle(7, &slot), 0);
    EXPECT_EQ(slot, 5u);
    EXPECT_EQ(vxapi_get_api_inst_by_handle(8, &slot), 1);
    EXPECT_EQ(slot, 0xFFFFFFFFu);
}

// Records the lists do not hold are left alone; the ones they hold go with
// what they own (the leak checker reports anything left behind).
TEST_F(Records, FreeingTouchesOnlyTheListsRecords) {
    vxapi_phy_info* f = add_function(chip_at(0, 1, 0));
    f->pflt_layout = static_cast<INT_OPT_ROM_LAYOUT*>(std::calloc(1, 4088));
    vxapi_priv_database* a = add_port();
    a->phy_info = f;
    for (vxapi_priv_database* rec : {a, add_port()}) {
        rec->api_event_cbs->hbapt_event_cb.prmcb_handle =
            static_cast<vxapi_remove_callback_t*>(std::calloc(1, sizeof(vxapi_remove_callback_t)));
    }
    vxapi_priv_database outsider{};
    vxapi_aen_callback_table table{};
    outsider.api_event_cbs = &table;
    outsider.phy_info = f;
    vxapi_phy_info outside_function{};
    outside_function.pflt_layout = reinterpret_cast<INT_OPT_ROM_LAYOUT*>(&table);
    vxapi_free_api_priv_data_element(&outsider);
    vxapi_free_api_phy_info_element(&outside_function);
    vxapi_free_api_priv_data_element(nullptr);
    EXPECT_EQ(ports().size(), 2u);
    EXPECT_EQ(outsider.api_event_cbs, &table);
    EXPECT_EQ(outside_function.pflt_layout, reinterpret_cast<INT_OPT_ROM_LAYOUT*>(&table));
    EXPECT_EQ(api_phy_info->count, 1u);
    // Releasing a port leaves its function record alone.
    vxapi_free_api_priv_data_element(ports()[1]);
    EXPECT_EQ(ports(), (std::vector{a}));
    EXPECT_EQ(current_priv_inst, nullptr) << "the record allocated last is gone";
    EXPECT_NE(f->pflt_layout, nullptr);
    vxapi_free_api_phy_info_element(f);
    EXPECT_EQ(api_phy_info->count, 0u);
    EXPECT_EQ(current_phy_info_inst, nullptr);
}

TEST_F(Records, AfterReleaseEveryLookupFailsAsWithNoList) {
    vxapi_priv_database* a = add_port();
    a->phy_info = add_function(chip_at(0, 1, 0));
    a->apihandle = 1;
    a->host_no = 4;
    vxapi_free_api_priv_data_mem();
    vxapi_free_api_phy_info_mem();
    EXPECT_EQ(api_priv_database, nullptr);
    EXPECT_EQ(api_phy_info, nullptr);
    EXPECT_EQ(current_priv_inst, nullptr);
    EXPECT_EQ(current_phy_info_inst, nullptr);
    vxapi_priv_database outsider{};
    uint32_t position = 5;
    uint16_t host_no = 0;
    EXT_CHIP chip{};
    EXPECT_EQ(check_handle(1), nullptr);
    EXPECT_EQ(vxapi_get_open_adapter_count(), 0u);
    EXPECT_EQ(vxapi_get_api_priv_inst_from_user_instance(0), nullptr);
    EXPECT_EQ(vxapi_get_instance_from_api_priv_inst(&outsider, &position), 1);
    EXPECT_EQ(vxapi_get_host_no_by_handle(1, &host_no), 1);
    EXPECT_EQ(vxapi_is_host_no_present(4), 1);
    EXPECT_EQ(vxapi_get_api_priv_inst_from_adaptername("varnix--0"), nullptr);
    EXPECT_EQ(vxapi_get_api_phy_info_inst(&chip), nullptr);
    EXPECT_EQ(vxapi_get_vport_from_vport_id(&outsider, 0), nullptr);
    EXPECT_EQ(vxapi_get_vport_from_wwn(&outsider, outsider.wwnn, outsider.wwpn), nullptr);
    vxapi_phy_info own{};
    outsider.phy_info = &own;
    outsider.interface_type = VX_PORT_PHYSICAL;
    vxapi_fill_phy_port_number(&outsider);
    EXPECT_EQ(own.port_number, 0) << "with no list nothing changes";
    EXPECT_EQ(vxapi_get_phy_port_from_vport(&outsider), nullptr);
    // Releasing again does nothing; the next allocation starts a new list.
    vxapi_free_api_priv_data_mem();
    vxapi_priv_database* fresh = add_port();
    EXPECT_EQ(ports(), (std::vector{fresh}));
}

TEST_F(Records, ListsStaySoundUnderTwoThreads) {
    vxapi_priv_database* anchor = add_port();
    anchor->apihandle = 1;
    for (int i = 0; i < 8; ++i) add_port();
    constexpr int rounds = 200000;
    std::atomic<bool> done{false};
    // One thread adds and drops records; the other walks the list as the
    // event thread and the management API do.
    std::thread writer([&done] {
        while (!done.load()) {
            vxapi_priv_database* rec = nullptr;
            if (vxapi_alloc_api_priv_data_mem(&rec) != 0) return;
            rec->features = VX_FEAT_SYSFS;
            rec->apihandle = vxapi_assign_apihandle(rec, 1);
            vxapi_free_api_priv_data_element(rec);
        }
    });
    int found = 0;
    for (int i = 0; i < rounds; ++i) {
        if (check_handle(1) == anchor) ++found;
        vxapi_get_open_adapter_count();
    }
    done = true;
    writer.join();
    EXPECT_EQ(found, rounds);
    EXPECT_EQ(ports().size(), 9u);
}

}  // namespace
