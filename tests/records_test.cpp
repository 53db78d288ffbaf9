// The port and function record lists: order set by the single cursor, API
// handles, lookups, and releases.
#include <atomic>
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
        EXPECT_NE(rec, nullptr);
        if (rec != nullptr) {
            rec->features = features;
            rec->interface_type = type;
        }
        return rec;
    }

    static vxapi_phy_info* add_function(uint16_t bus, uint16_t dev_func, const char* serial = "") {
        EXT_CHIP chip{};
        chip.PciBusNumber = bus;
        chip.PciDevFunc = dev_func;
        vxapi_phy_info* info = nullptr;
        EXPECT_EQ(vxapi_alloc_api_phy_info_mem(&info, &chip), 0);
        EXPECT_NE(info, nullptr);
        if (info == nullptr) return nullptr;
        // The caller fills the new record, its PCI location included.
        fill_location(info, chip);
        std::strncpy(reinterpret_cast<char*>(info->serial_num), serial, sizeof info->serial_num);
        return info;
    }

    static void fill_location(vxapi_phy_info* info, const EXT_CHIP& chip) {
        info->pci_domain = chip.DomainNr;
        info->pci_bus = chip.PciBusNumber;
        info->pci_dev_func = chip.PciDevFunc;
    }

    // The port list in order, read without moving the cursor.
    static std::vector<vxapi_priv_database*> ports() {
        std::vector<vxapi_priv_database*> out;
        if (api_priv_database == nullptr) return out;
        DL_node* node;
        dlist_for_each_nomark(api_priv_database, node) out.push_back(static_cast<vxapi_priv_database*>(node->data));
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

    static void close_port(vxapi_priv_database* rec) {
        rec->open_cnt = 0;
        rec->apihandle = 0;
    }
};

TEST_F(Records, NewRecordIsZeroFilledWithClosedDescriptorAndOwnCallbackTable) {
    vxapi_priv_database* rec = add_port(0);
    EXPECT_EQ(rec->oshandle, -1);
    EXPECT_EQ(rec->apihandle, 0u);
    EXPECT_EQ(rec->phys_path[0], 0);
    ASSERT_NE(rec->api_event_cbs, nullptr);
    EXPECT_EQ(rec->api_event_cbs->hbapt_event_cb.cb_hba_port_event, nullptr);
    EXPECT_EQ(current_priv_inst, rec);
    for (uint8_t byte : rec->reserved) EXPECT_EQ(byte, 0);
}

TEST_F(Records, CheckHandleGates) {
    EXPECT_EQ(check_handle(1), nullptr) << "no list";

    vxapi_priv_database* closed = add_port(VX_FEAT_SYSFS);  // apihandle 0
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
        {0, nullptr},           // handle 0 is never a port, although `closed` holds 0
        {2, nullptr},           // the record exists but has neither 0x1 nor 0x20
        {3, ioctl_port},
        {4, sysfs_port},
        {5, nullptr},           // no record holds it
    };
    for (const Case& c : cases) EXPECT_EQ(check_handle(c.handle), c.expected) << "handle " << c.handle;
    (void)closed;

    // After the last close the old handle no longer resolves.
    close_port(sysfs_port);
    EXPECT_EQ(check_handle(4), nullptr);
}

TEST_F(Records, InsertionsFollowTheCursor) {
    vxapi_priv_database* a = add_port();
    vxapi_priv_database* b = add_port();
    vxapi_priv_database* c = add_port();
    // Without a walk in between each record lands after the one before.
    EXPECT_EQ(ports(), (std::vector{a, b, c}));

    // A walk that runs to the end leaves the cursor on the head: the next
    // record lands at the front.
    EXPECT_EQ(vxapi_get_open_adapter_count(), 0u);
    vxapi_priv_database* d = add_port();
    EXPECT_EQ(ports(), (std::vector{d, a, b, c}));

    // A lookup that stops at a match leaves the cursor there.
    EXPECT_EQ(vxapi_get_api_priv_inst_from_user_instance(1), a);
    vxapi_priv_database* e = add_port();
    EXPECT_EQ(ports(), (std::vector{d, a, e, b, c}));
}

TEST_F(Records, DeletionLeavesTheCursorOnThePredecessor) {
    vxapi_priv_database* a = add_port();
    vxapi_priv_database* b = add_port();
    vxapi_priv_database* c = add_port();

    // Dropping the last record: the next one takes its place at the end.
    vxapi_free_api_priv_data_element(c);
    vxapi_priv_database* d = add_port();
    EXPECT_EQ(ports(), (std::vector{a, b, d}));

    // Dropping a record in the middle: the next one takes its place.
    vxapi_free_api_priv_data_element(b);
    vxapi_priv_database* e = add_port();
    EXPECT_EQ(ports(), (std::vector{a, e, d}));

    // Dropping the first record: the next one lands at the front.
    vxapi_free_api_priv_data_element(a);
    vxapi_priv_database* f = add_port();
    EXPECT_EQ(ports(), (std::vector{f, e, d}));
}

TEST_F(Records, CreatedHandleIsPositionPlusOne) {
    EXPECT_EQ(vxapi_create_apihandle(0), 1u);
    EXPECT_EQ(vxapi_create_apihandle(41), 42u);
    EXPECT_EQ(vxapi_create_apihandle(0xFFFFFFFFu), 0u);
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
    close_port(a);
    EXPECT_EQ(open_port(a), ha);
    EXPECT_EQ(check_handle(2), b);
    EXPECT_EQ(check_handle(hv), v);
}

TEST_F(Records, AssignedHandleIsNeverZero) {
    vxapi_priv_database* a = add_port();
    EXPECT_EQ(vxapi_assign_apihandle(a, 0xFFFFFFFFu), 1u);
    vxapi_priv_database* b = add_port();
    b->apihandle = 1;
    EXPECT_EQ(vxapi_assign_apihandle(a, 0xFFFFFFFFu), 2u);
    // With no list the plain rule applies, 0 excepted.
    reset();
    EXPECT_EQ(vxapi_assign_apihandle(nullptr, 4), 5u);
    EXPECT_EQ(vxapi_assign_apihandle(nullptr, 0xFFFFFFFFu), 1u);
}

TEST_F(Records, PortNumbersCountPhysicalPortsOfTheSameAdapter) {
    vxapi_phy_info* f1 = add_function(1, 0x00, "SN-DUAL");
    vxapi_phy_info* f2 = add_function(1, 0x01, "SN-DUAL");
    vxapi_phy_info* e1 = add_function(2, 0x00, "");
    vxapi_phy_info* e2 = add_function(3, 0x00, "");

    vxapi_priv_database* p1 = add_port();
    p1->phy_info = f1;
    vxapi_priv_database* broken = add_port();  // its chip query failed: no function record
    vxapi_priv_database* v1 = add_port(VX_FEAT_SYSFS, VX_PORT_VIRTUAL);
    v1->phy_info = f1;
    v1->parent = p1;
    vxapi_priv_database* p2 = add_port();
    p2->phy_info = f2;
    vxapi_priv_database* q1 = add_port();
    q1->phy_info = e1;
    vxapi_priv_database* q2 = add_port();
    q2->phy_info = e2;

    // Discovery numbers each physical port once it is set up.
    for (vxapi_priv_database* rec : ports())
        if (rec->interface_type == VX_PORT_PHYSICAL) vxapi_fill_phy_port_number(rec);

    EXPECT_EQ(f1->port_number, 1);
    EXPECT_EQ(f2->port_number, 2);  // neither the virtual port nor the broken one counts
    EXPECT_EQ(e1->port_number, 1);  // empty serial numbers form an adapter of their own
    EXPECT_EQ(e2->port_number, 2);
    EXPECT_EQ(broken->phy_info, nullptr);
}

TEST_F(Records, FunctionRecordIsKeyedByPciLocation) {
    EXT_CHIP chip{};
    chip.DomainNr = 1;
    chip.PciBusNumber = 0x41;
    chip.PciDevFunc = 0x08;
    vxapi_phy_info* first = nullptr;
    ASSERT_EQ(vxapi_alloc_api_phy_info_mem(&first, &chip), 0);
    fill_location(first, chip);
    first->pflt_layout = static_cast<INT_OPT_ROM_LAYOUT*>(std::calloc(1, 4088));

    vxapi_phy_info* again = nullptr;
    ASSERT_EQ(vxapi_alloc_api_phy_info_mem(&again, &chip), 0);
    EXPECT_EQ(again, first);
    EXPECT_EQ(api_phy_info->count, 1u);

    struct Case {
        uint16_t domain, bus, dev_func;
    } others[] = {{0, 0x41, 0x08}, {1, 0x42, 0x08}, {1, 0x41, 0x09}};
    for (const Case& c : others) {
        EXT_CHIP other{};
        other.DomainNr = c.domain;
        other.PciBusNumber = c.bus;
        other.PciDevFunc = c.dev_func;
        EXPECT_EQ(vxapi_get_api_phy_info_inst(&other), nullptr);
        vxapi_phy_info* info = nullptr;
        ASSERT_EQ(vxapi_alloc_api_phy_info_mem(&info, &other), 0);
        EXPECT_NE(info, first);
        fill_location(info, other);
        EXPECT_EQ(current_phy_info_inst, info);
    }
    EXPECT_EQ(api_phy_info->count, 4u);
    EXPECT_EQ(vxapi_get_api_phy_info_inst(&chip), first);
}

TEST_F(Records, VirtualPortLookups) {
    vxapi_phy_info* f = add_function(1, 0);
    vxapi_priv_database* phys = add_port();
    phys->phy_info = f;
    vxapi_priv_database* other_phys = add_port();
    other_phys->phy_info = add_function(2, 0);

    const uint8_t wwnn[8] = {0x20, 0, 0, 0x1b, 0x32, 0, 0, 1};
    const uint8_t wwpn[8] = {0x21, 0, 0, 0x1b, 0x32, 0, 0, 1};
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

    uint8_t other_wwpn[8];
    std::memcpy(other_wwpn, wwpn, 8);
    other_wwpn[7] = 2;
    EXPECT_EQ(vxapi_get_vport_from_wwn(phys, wwnn, wwpn), vport);
    EXPECT_EQ(vxapi_get_vport_from_wwn(phys, wwnn, other_wwpn), nullptr);
    EXPECT_EQ(vxapi_get_vport_from_wwn(other_phys, wwnn, wwpn), nullptr);
    // A null parent matches no physical port (their parent is null too).
    EXPECT_EQ(vxapi_get_vport_from_wwn(nullptr, phys->wwnn, phys->wwpn), nullptr);
}

TEST_F(Records, PopulationCount) {
    struct Case {
        uint32_t value;
        uint8_t bits;
    } cases[] = {{0, 0}, {1, 1}, {0x80000000u, 1}, {0xFFFFFFFFu, 32}, {0x80000001u, 2}, {0x7FFFFFFFu, 31},
                 {0x00F0F000u, 8}};
    for (const Case& c : cases) EXPECT_EQ(vxapi_get_number_of_bits_set(c.value), c.bits) << std::hex << c.value;
}

TEST_F(Records, AdapterNameWithUnterminatedModel) {
    vxapi_priv_database* broken = add_port();  // no function record: has no name, keeps position 0
    vxapi_phy_info* f = add_function(1, 0);
    std::memcpy(f->model, "ABCDEFGHIJKLMNOP", 16);  // all 16 bytes, no terminator
    f->vendor_id = 0x4141;                          // what an unbounded read would run into
    vxapi_priv_database* port = add_port();
    port->phy_info = f;

    EXPECT_EQ(vxapi_get_api_priv_inst_from_adaptername("varnix-ABCDEFGHIJKLMNOP-1"), port);
    EXPECT_EQ(vxapi_get_api_priv_inst_from_adaptername("varnix-ABCDEFGHIJKLMNOP-0"), nullptr);
    EXPECT_EQ(vxapi_get_api_priv_inst_from_adaptername("varnix-ABCDEFGHIJKLMNOP"), nullptr);
    EXPECT_EQ(vxapi_get_api_priv_inst_from_adaptername("varnix--0"), nullptr);
    (void)broken;
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

TEST_F(Records, HostNumberLookups) {
    uint16_t host_no = 0;
    EXPECT_EQ(vxapi_get_host_no_by_handle(1, &host_no), 1) << "no list";
    EXPECT_EQ(host_no, 0xFFFF);
    EXPECT_EQ(vxapi_is_host_no_present(0), 1);

    vxapi_priv_database* rec = add_port(0);  // feature bits do not matter here
    rec->host_no = 0x12345;
    rec->apihandle = 9;
    EXPECT_EQ(vxapi_get_host_no_by_handle(9, &host_no), 0);
    EXPECT_EQ(host_no, 0x2345);
    EXPECT_EQ(vxapi_get_host_no_by_handle(10, &host_no), 1);
    EXPECT_EQ(host_no, 0xFFFF);
    EXPECT_EQ(vxapi_get_host_no_by_handle(0, &host_no), 1);
    EXPECT_EQ(vxapi_is_host_no_present(0x12345), 0);
    EXPECT_EQ(vxapi_is_host_no_present(0x2345), 1);
}

TEST_F(Records, FreeingARecordOutsideTheListChangesNothing) {
    vxapi_priv_database* a = add_port();
    vxapi_priv_database* b = add_port();
    vxapi_phy_info* f = add_function(1, 0);

    // Records of the same shape that the lists do not hold.
    vxapi_priv_database outsider{};
    vxapi_aen_callback_table table{};
    outsider.api_event_cbs = &table;
    outsider.phy_info = f;
    vxapi_phy_info outside_function{};
    outside_function.pflt_layout = reinterpret_cast<INT_OPT_ROM_LAYOUT*>(&table);

    vxapi_free_api_priv_data_element(&outsider);
    vxapi_free_api_phy_info_element(&outside_function);
    vxapi_free_api_priv_data_element(nullptr);

    EXPECT_EQ(ports(), (std::vector{a, b}));
    EXPECT_EQ(outsider.api_event_cbs, &table);
    EXPECT_EQ(outsider.phy_info, f);
    EXPECT_NE(outside_function.pflt_layout, nullptr);
    EXPECT_EQ(api_phy_info->count, 1u);
}

TEST_F(Records, FreeingReleasesWhatRecordsOwn) {
    vxapi_phy_info* f = add_function(1, 0);
    f->pflt_layout = static_cast<INT_OPT_ROM_LAYOUT*>(std::calloc(1, 4088));
    vxapi_priv_database* a = add_port();
    a->phy_info = f;
    a->api_event_cbs->hbapt_event_cb.prmcb_handle =
        static_cast<vxapi_remove_callback_t*>(std::calloc(1, sizeof(vxapi_remove_callback_t)));
    vxapi_priv_database* b = add_port();
    b->api_event_cbs->hbapt_event_cb.prmcb_handle =
        static_cast<vxapi_remove_callback_t*>(std::calloc(1, sizeof(vxapi_remove_callback_t)));

    // Releasing a port leaves its function record alone (the leak checker
    // reports anything left behind).
    vxapi_free_api_priv_data_element(b);
    EXPECT_EQ(ports(), (std::vector{a}));
    EXPECT_EQ(current_priv_inst, nullptr) << "the record allocated last is gone";
    EXPECT_NE(f->pflt_layout, nullptr);

    vxapi_free_api_phy_info_element(f);
    EXPECT_EQ(api_phy_info->count, 0u);
    EXPECT_EQ(current_phy_info_inst, nullptr);
}

TEST_F(Records, AfterReleaseEveryLookupFailsAsWithNoList) {
    vxapi_phy_info* f = add_function(1, 0);
    vxapi_priv_database* a = add_port();
    a->phy_info = f;
    a->apihandle = 1;
    a->host_no = 4;
    a->api_event_cbs->hbapt_event_cb.prmcb_handle =
        static_cast<vxapi_remove_callback_t*>(std::calloc(1, sizeof(vxapi_remove_callback_t)));

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
    EXPECT_EQ(host_no, 0xFFFF);
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
