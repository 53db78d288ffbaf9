// The port and function record lists: order, handles, lookups and releases.
#include <atomic>
#include <thread>

#include "base/vx_records.h"
#include "sim_adapters.h"
#include "test_support.h"

namespace {

using Ports = std::vector<vxapi_priv_database*>;
using sim::listed_ports;

class Records : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
    static void reset() {
        vxapi_free_api_priv_data_mem();
        vxapi_free_api_phy_info_mem();
        std::memset(api_priv_data, 0, sizeof api_priv_data);
    }
    static vxapi_priv_database* add_port(uint32_t features = VX_FEAT_SYSFS, uint32_t type = VX_PORT_PHYSICAL,
                                         vxapi_phy_info* phy = nullptr) {
        vxapi_priv_database* rec = nullptr;
        EXPECT_EQ(vxapi_alloc_api_priv_data_mem(&rec), 0);
        rec->features = features;
        rec->interface_type = type;
        rec->phy_info = phy;
        return rec;
    }
    static EXT_CHIP chip_at(uint16_t domain, uint16_t bus, uint16_t df) {
        EXT_CHIP chip{};
        std::tie(chip.DomainNr, chip.PciBusNumber, chip.PciDevFunc) = std::tie(domain, bus, df);
        return chip;
    }
    // A function record, filled with its PCI location and serial number as the caller does.
    static vxapi_phy_info* add_function(const EXT_CHIP& chip, const char* serial = "") {
        vxapi_phy_info* info = nullptr;
        EXPECT_EQ(vxapi_alloc_api_phy_info_mem(&info, &chip), 0);
        std::tie(info->pci_domain, info->pci_bus, info->pci_dev_func) =
            std::tie(chip.DomainNr, chip.PciBusNumber, chip.PciDevFunc);
        std::snprintf(reinterpret_cast<char*>(info->serial_num), sizeof info->serial_num, "%s", serial);
        return info;
    }
};

// Only records with 0x1 or 0x20 resolve; handles are positions + 1, skipping 0 and those held.
TEST_F(Records, CheckHandleGates) {
    EXPECT_EQ(check_handle(1), nullptr) << "no list";
    EXPECT_EQ(vxapi_assign_apihandle(nullptr, 0xFFFFFFFFu), 1u);
    vxapi_priv_database* closed = add_port();
    EXPECT_EQ(closed->oshandle, -1);  // a new record: closed descriptor, handle 0, own callback table
    EXPECT_EQ(closed->apihandle, 0u);
    ASSERT_NE(closed->api_event_cbs, nullptr);
    EXPECT_EQ(current_priv_inst, closed);
    const Ports ports = {add_port(VX_FEAT_NEW_IOCTL | VX_FEAT_AEN | VX_FEAT_BSG), add_port(VX_FEAT_IOCTL), add_port()};
    for (uint32_t i = 0; i < 3; ++i) ports[i]->apihandle = i + 2;
    const Ports expected = {nullptr, nullptr, nullptr, ports[1], ports[2], nullptr};
    for (uint32_t h = 0; h < expected.size(); ++h) EXPECT_EQ(check_handle(h), expected[h]) << "handle " << h;
    ports[2]->apihandle = 0;  // after the last close the old handle no longer resolves
    EXPECT_EQ(check_handle(4), nullptr);
    ports[2]->apihandle = 1;
    EXPECT_EQ(vxapi_assign_apihandle(closed, 0xFFFFFFFFu), 4u) << "0 and those held skipped";
    EXPECT_EQ(vxapi_assign_apihandle(ports[1], 2), 3u) << "its own handle is free to it";
}

// A new record lands behind the cursor: where a lookup stopped, or a deleted record was.
TEST_F(Records, InsertionsFollowTheCursor) {
    vxapi_priv_database* a = add_port();
    vxapi_priv_database* b = add_port();
    vxapi_priv_database* c = add_port();
    EXPECT_EQ(listed_ports(), (Ports{a, b, c}));
    EXPECT_EQ(vxapi_get_open_adapter_count(), 0u);  // a walk to the end
    vxapi_priv_database* d = add_port();
    EXPECT_EQ(listed_ports(), (Ports{d, a, b, c}));
    EXPECT_EQ(vxapi_get_api_priv_inst_from_user_instance(1), a);  // stops at a match
    vxapi_priv_database* e = add_port();
    EXPECT_EQ(listed_ports(), (Ports{d, a, e, b, c}));
    vxapi_free_api_priv_data_element(c);  // the last
    vxapi_priv_database* f = add_port();
    EXPECT_EQ(listed_ports(), (Ports{d, a, e, b, f}));
    vxapi_free_api_priv_data_element(e);  // in the middle
    vxapi_priv_database* g = add_port();
    EXPECT_EQ(listed_ports(), (Ports{d, a, g, b, f}));
    vxapi_free_api_priv_data_element(d);  // the first
    vxapi_priv_database* h = add_port();
    EXPECT_EQ(listed_ports(), (Ports{h, a, g, b, f}));
    uint32_t position = 0;  // an open's lookup stops at a; giving out its handle moves nothing
    ASSERT_EQ(vxapi_get_instance_from_api_priv_inst(a, &position), 0);
    a->apihandle = vxapi_assign_apihandle(a, position);
    vxapi_priv_database* i = add_port();
    EXPECT_EQ(listed_ports(), (Ports{h, a, i, g, b, f}));
}

TEST_F(Records, PortNumbersCountPhysicalPortsOfTheSameAdapter) {
    vxapi_phy_info* f1 = add_function(chip_at(0, 1, 0), "SN-DUAL");
    vxapi_phy_info* f2 = add_function(chip_at(0, 1, 1), "SN-DUAL");
    vxapi_phy_info* e1 = add_function(chip_at(0, 2, 0), "");
    vxapi_phy_info* e2 = add_function(chip_at(0, 3, 0), "");
    vxapi_priv_database* p1 = add_port(VX_FEAT_SYSFS, VX_PORT_PHYSICAL, f1);
    add_port();  // its chip query failed: no function record
    add_port(VX_FEAT_SYSFS, VX_PORT_VIRTUAL, f1)->parent = p1;
    add_port(VX_FEAT_SYSFS, VX_PORT_PHYSICAL, f2);
    add_port(VX_FEAT_SYSFS, VX_PORT_PHYSICAL, e1);
    add_port(VX_FEAT_SYSFS, VX_PORT_PHYSICAL, e2);
    // Discovery numbers each physical port once it is set up.
    for (vxapi_priv_database* rec : listed_ports())
        if (rec->interface_type == VX_PORT_PHYSICAL) vxapi_fill_phy_port_number(rec);
    EXPECT_EQ(f1->port_number, 1);
    EXPECT_EQ(f2->port_number, 2);  // neither the virtual port nor the broken one counts
    EXPECT_EQ(e1->port_number, 1);  // empty serial numbers form an adapter of their own
    EXPECT_EQ(e2->port_number, 2);
    // A function record is keyed by its whole PCI location.
    EXPECT_EQ(add_function(chip_at(0, 1, 1)), f2);
    for (const EXT_CHIP& other : {chip_at(1, 1, 0), chip_at(0, 4, 0), chip_at(0, 1, 2)})
        EXPECT_EQ(vxapi_get_api_phy_info_inst(&other), nullptr);
    EXPECT_EQ(api_phy_info->count, 4u);
}

TEST_F(Records, VirtualPortAndHostNumberLookups) {
    vxapi_phy_info* f = add_function(chip_at(0, 1, 0));
    vxapi_priv_database* phys = add_port(VX_FEAT_SYSFS, VX_PORT_PHYSICAL, f);
    vxapi_priv_database* other_phys = add_port(VX_FEAT_SYSFS, VX_PORT_PHYSICAL, add_function(chip_at(0, 2, 0)));
    const uint8_t wwnn[8] = {0x20, 0, 0, 0x1b, 0x32, 0, 0, 1};
    uint8_t wwpn[8] = {0x21, 0, 0, 0x1b, 0x32, 0, 0, 1};
    vxapi_priv_database* vport = add_port(VX_FEAT_SYSFS, VX_PORT_VIRTUAL, f);
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
    for (auto [value, bits] : std::vector<std::pair<uint32_t, int>>{{0, 0}, {1u << 31, 1}, {~0u, 32}, {0xF0F001u, 9}})
        EXPECT_EQ(vxapi_get_number_of_bits_set(value), bits) << std::hex << value;
}

// Records the lists hold go with what they own; others are left alone.
TEST_F(Records, FreeingTouchesOnlyTheListsRecords) {
    vxapi_phy_info* f = add_function(chip_at(0, 1, 0));
    f->pflt_layout = static_cast<INT_OPT_ROM_LAYOUT*>(std::calloc(1, 4088));
    vxapi_priv_database* a = add_port(VX_FEAT_SYSFS, VX_PORT_PHYSICAL, f);
    for (vxapi_priv_database* rec : {a, add_port()}) {
        rec->api_event_cbs->hbapt_event_cb.prmcb_handle =
            static_cast<vxapi_remove_callback_t*>(std::calloc(1, sizeof(vxapi_remove_callback_t)));
    }
    vxapi_aen_callback_table table{};
    vxapi_priv_database outsider{};
    outsider.api_event_cbs = &table;
    vxapi_phy_info outside_function{};
    outside_function.pflt_layout = reinterpret_cast<INT_OPT_ROM_LAYOUT*>(&table);
    vxapi_free_api_priv_data_element(&outsider);
    vxapi_free_api_phy_info_element(&outside_function);
    vxapi_free_api_priv_data_element(nullptr);
    EXPECT_EQ(listed_ports().size(), 2u);
    EXPECT_TRUE(outsider.api_event_cbs == &table && outside_function.pflt_layout != nullptr);
    // Releasing a port leaves its function record alone.
    vxapi_free_api_priv_data_element(listed_ports()[1]);
    EXPECT_EQ(listed_ports(), (Ports{a}));
    EXPECT_EQ(current_priv_inst, nullptr) << "the record allocated last is gone";
    EXPECT_NE(f->pflt_layout, nullptr);
    vxapi_free_api_phy_info_element(f);
    EXPECT_EQ(api_phy_info->count, 0u);
    EXPECT_EQ(current_phy_info_inst, nullptr);
}

// Positions and names count every record; outsiders and handle 0 are never found; after the
// release every lookup fails as with no list.
TEST_F(Records, AfterReleaseEveryLookupFailsAsWithNoList) {
    vxapi_priv_database outsider{};
    uint32_t position = 77;
    add_port();  // no function record: has no name, keeps position 0
    vxapi_phy_info* f = add_function(chip_at(0, 1, 0));
    std::memcpy(f->model, "ABCDEFGHIJKLMNOP", 16);  // all 16 bytes, no terminator
    f->vendor_id = 0x4141;                          // what an unbounded read would run into
    vxapi_priv_database* second = add_port(VX_FEAT_SYSFS, VX_PORT_PHYSICAL, f);
    EXPECT_EQ(vxapi_get_api_priv_inst_from_adaptername("varnix-ABCDEFGHIJKLMNOP-1"), second);
    for (const char* name : {"varnix-ABCDEFGHIJKLMNOP-0", "varnix-ABCDEFGHIJKLMNOP", "varnix--0"})
        EXPECT_EQ(vxapi_get_api_priv_inst_from_adaptername(name), nullptr) << name;
    EXPECT_EQ(vxapi_get_instance_from_api_priv_inst(second, &position), 0);
    EXPECT_EQ(position, 1u);
    EXPECT_EQ(vxapi_get_instance_from_api_priv_inst(&outsider, &position), 1);
    EXPECT_EQ(vxapi_get_instance_from_api_priv_inst(nullptr, &position), 1);
    EXPECT_EQ(vxapi_get_api_priv_inst_from_user_instance(1), second);
    EXPECT_EQ(vxapi_get_api_priv_inst_from_user_instance(2), nullptr);
    uint32_t slot = 0;
    api_priv_data[5].apihandle = 7;
    for (uint32_t handle : {0u, 7u, 8u}) {
        EXPECT_EQ(vxapi_get_api_inst_by_handle(handle, &slot), handle == 7 ? 0 : 1);
        EXPECT_EQ(slot, handle == 7 ? 5u : 0xFFFFFFFFu);
    }
    reset();
    vxapi_phy_info own{};
    outsider.phy_info = &own;
    outsider.interface_type = VX_PORT_PHYSICAL;
    vxapi_fill_phy_port_number(&outsider);  // with no list nothing changes
    uint16_t host_no = 0;
    const EXT_CHIP chip{};
    const bool refused[] = {api_priv_database == nullptr && api_phy_info == nullptr,
                            current_priv_inst == nullptr && current_phy_info_inst == nullptr,
                            check_handle(1) == nullptr,
                            vxapi_get_open_adapter_count() == 0,
                            vxapi_get_api_priv_inst_from_user_instance(0) == nullptr,
                            vxapi_get_instance_from_api_priv_inst(&outsider, &position) == 1,
                            vxapi_get_host_no_by_handle(1, &host_no) == 1,
                            vxapi_is_host_no_present(4) == 1,
                            vxapi_get_api_priv_inst_from_adaptername("varnix--0") == nullptr,
                            vxapi_get_api_phy_info_inst(&chip) == nullptr,
                            vxapi_get_vport_from_vport_id(&outsider, 0) == nullptr,
                            vxapi_get_vport_from_wwn(&outsider, outsider.wwnn, outsider.wwpn) == nullptr,
                            vxapi_get_phy_port_from_vport(&outsider) == nullptr,
                            own.port_number == 0};
    for (size_t i = 0; i < std::size(refused); ++i) EXPECT_TRUE(refused[i]) << "lookup " << i;
    // Releasing again does nothing; the next allocation starts a new list.
    vxapi_free_api_priv_data_mem();
    vxapi_priv_database* fresh = add_port();
    EXPECT_EQ(listed_ports(), (Ports{fresh}));
}

// One thread adds and drops records while another walks the list.
TEST_F(Records, ListsStaySoundUnderTwoThreads) {
    vxapi_priv_database* anchor = add_port();
    anchor->apihandle = 1;
    for (int i = 0; i < 8; ++i) add_port();
    constexpr int rounds = 200000;
    std::atomic<bool> done{false};
    std::thread writer([&done] {
        while (!done.load()) {
            vxapi_priv_database* rec = nullptr;
            if (vxapi_alloc_api_priv_data_mem(&rec) != 0) return;
            {
                VxListLock lock(vxapi_list_mutex());  // the other thread reads the listed records
                rec->features = VX_FEAT_SYSFS;
                rec->apihandle = vxapi_assign_apihandle(rec, 1);
            }
            vxapi_free_api_priv_data_element(rec);
        }
    });
    int found = 0;
    for (int i = 0; i < rounds; ++i) {
        if (check_handle(1) == anchor) ++found;
        (void)vxapi_get_open_adapter_count();  // only its walk of the list under the lock matters
    }
    done = true;
    writer.join();
    EXPECT_EQ(found, rounds);
    EXPECT_EQ(listed_ports().size(), 9u);
}

}  // namespace
