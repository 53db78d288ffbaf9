// Every query of a sysfs port (node to driver specifics, statistics and the
// RLS through the "els" attribute) over its attribute texts. The port: a
// sysfs-mode adapter (0x2071, host 5, one online target, one initiator).
//
// Input: pairs of an attribute number (one byte, modulo the number of
// attributes) and its text as a part; the others read as their defaults.
#include <map>

#include "core/io/vx_passthru.h"
#include "core/life/vx_port_attach.h"
#include "fuzz_support.h"
#include "sim_adapters.h"
#include "sim_sysfs_adapters.h"
#include "transport/vx_sysfs.h"
#include "transport/vx_sysfs_prim.h"

namespace {

constexpr unsigned kHost = 5;

std::vector<std::pair<std::string, std::string>> attributes;  // path and default, as the input numbers them
std::map<std::string, std::string> now;                        // what each path reads as for this input

void serve(const std::string& path, const std::string& text, bool writable = false) {
    attributes.emplace_back(path, text);
    fuzz::serve(fuzz::host(), path, now[path] = text, writable);
}

void serve_all(const std::string& dir, const sim::SysfsAttrs& texts) {
    for (const auto& [name, text] : texts) serve(dir + "/" + name, text.value_or("") + "\n");
}

// The simulated host with the adapter, discovered; null when discovery found
// no port of host 5.
vxapi_priv_database* port() {
    static vxapi_priv_database* const found = []() -> vxapi_priv_database* {
        sim::SysfsAdapter adapter = sim::sysfs_adapter(0x2071, {kHost});
        sim::SysfsRemotePort target, initiator;
        target.number = 1;
        target.luns = {sim::SysfsLun{}};
        initiator.number = 2;
        initiator.roles = "FCP Initiator";
        initiator.target_id.reset();
        adapter.functions[0].host.rports = {target, initiator};
        const sim::SysfsFabric fabric = sim::install_sysfs_adapters(fuzz::host(), {.adapters = {adapter}});
        const std::string dir = fabric.host_dirs.at(kHost);
        const std::string scsi_host = dir + "/scsi_host/host5", fc_host = dir + "/fc_host/host5";
        serve_all(scsi_host, sim::sysfs_scsi_host_defaults(kHost, 0, 0x2071));
        serve_all(fc_host, sim::sysfs_fc_host_defaults(kHost));
        serve_all(dir + "/rport-5:0-1/fc_remote_ports/rport-5:0-1",
                  {{"node_name", "0x2000000000000011"}, {"port_name", "0x2100000000000011"}, {"port_id", "0x010211"},
                   {"roles", "FCP Target"}, {"port_state", "Online"}, {"scsi_target_id", "0"}});
        serve_all(fabric.pci_dirs.at(0), {{"vendor", "0x7a5a"}, {"device", "0x2071"}, {"subsystem_vendor", "0x0000"},
                                          {"subsystem_device", "0x0000"}, {"irq", "35"}});
        sim::VpdContents vpd;
        vpd.read_only = {sim::keyword("SN", "X1"), sim::keyword("V4", "3.56"), sim::keyword("V3", "8.7.1")};
        vpd.size = 512;
        serve(dir + "/vpd", fuzz::str(sim::build_vpd(vpd).bytes));
        for (const char* counter : {"dumped_frames", "invalid_crc_count", "invalid_tx_word_count", "link_failure_count",
                                    "lip_count", "loss_of_signal_count", "loss_of_sync_count", "nos_count",
                                    "prim_seq_protocol_err_count", "rx_frames", "tx_frames", "fcp_control_requests",
                                    "fcp_input_megabytes", "fcp_input_requests", "fcp_output_megabytes",
                                    "fcp_output_requests"}) {
            serve(fc_host + "/statistics/" + counter, "0x1\n");
        }
        serve_all(scsi_host, {{"total_isp_aborts", "0x2"}, {"diag_requests", "3"}, {"diag_megabytes", "4"}});
        serve_all(dir + "/rport-5:0-1/target5:0:0/5:0:0:0/", {{"ioerr_cnt", "0x5"}, {"iodone_cnt", "0x6"}});
        // The LS_ACC of an RLS with its six counters.
        serve(dir + "/els", std::string("\2\0\0\0", 4) + std::string(24, 1), true);
        uint32_t count = 0;
        FUZZ_CHECK(vxsysfs_init() == 0);
        (void)vxsysfs_supported_driver_exist(&count);
        for (vxapi_priv_database* p : sim::listed_ports()) {
            if (p->host_no == kHost) return p;
        }
        return nullptr;
    }();
    return found;
}

void query(vxapi_priv_database* rec) {
    uint32_t status = 0, detail = 0;
    EXT_HBA_NODE node{};
    EXT_HBA_PORT hba_port{};
    EXT_CHIP chip{};
    EXT_CNA_PORT cna{};
    EXT_DRIVER driver{};
    EXT_FW fw{};
    (void)vxsysfs_query_hbanode(-1, rec, &node, &status);
    (void)vxsysfs_query_hbaport(-1, rec, &hba_port, &status);
    (void)vxsysfs_query_chip(-1, rec, &chip, &status);
    (void)vxsysfs_query_cnaport(-1, rec, &cna, &status);
    (void)vxsysfs_query_driver(-1, rec, &driver, &status);
    (void)vxsysfs_query_fw(-1, rec, &fw, &status);
    for (uint16_t i = 0; i < 2; ++i) {
        EXT_DISC_PORT disc{};
        EXT_DISC_TARGET target{};
        (void)vxsysfs_query_discport(-1, rec, i, &disc, &status);
        (void)vxsysfs_query_disctgt(-1, rec, i, &target, &status);
    }
    const fuzz::Buffer summary(8 + 2 * sizeof(EXT_DEVICEDATAENTRY), 0);
    (void)vxsysfs_get_port_summary(-1, rec, nullptr, summary.as<EXT_DEVICEDATA>(), summary.size(), &status, &detail);
    const uint8_t wwpn[8] = {0x21, 0, 0, 0, 0, 0, 0, 0x11};
    EXT_SCSI_ADDR addr{};
    (void)vxsysfs_wwpn_to_scsiaddr(-1, rec, wwpn, sizeof wwpn, &addr, &status);
    EXT_HBA_PORT_STAT stats{};
    (void)vxsysfs_get_statistics(-1, rec, &stats, &status);
    // The RLS through the "els" attribute: counters only from a whole LS_ACC.
    const uint32_t features = rec->features;
    rec->features &= ~VX_FEAT_BSG;
    EXT_DEST_ADDR dest{};
    std::memcpy(dest.DestAddr.WWPN, wwpn, sizeof wwpn);
    stats = EXT_HBA_PORT_STAT{};
    if (vxsysfs_get_port_statistics(-1, rec, &dest, &stats, &status) == 0) FUZZ_CHECK(status == 0);
    rec->features = features;
    const fuzz::Buffer specifics(sizeof(EXT_LN_DRIVER_DATA), 0);
    (void)vxsysfs_get_driver_specifics(-1, rec, specifics.data(), &status);
}

// An input that sets SCSI host attributes (numbered first, by name).
fuzz::Bytes scsi_texts(const std::vector<std::pair<std::string, std::string>>& texts) {
    const sim::SysfsAttrs defaults = sim::sysfs_scsi_host_defaults(kHost, 0, 0x2071);
    fuzz::Bytes out;
    for (const auto& [name, text] : texts) {
        out.push_back(static_cast<uint8_t>(std::distance(defaults.begin(), defaults.find(name))));
        fuzz::append(out, fuzz::framed(sim::text_bytes(text)));
    }
    return out;
}

}  // namespace

std::vector<fuzz::Bytes> fuzz::seeds() {
    // The defaults, then changed serial numbers, firmware state, MAC address
    // and versions.
    return {{},
            scsi_texts({{"serial_num", "VX00000A12345\n"}}),
            scsi_texts({{"serial_num", "VX00000D00007"}, {"fw_state", "0x3 0x4 0x5 0x6 0x7 0x8\n"}}),
            scsi_texts({{"vn_port_mac_address", "00:0e:1e:01:02:03\n"}, {"mpi_version", "1.2.3\n"}}),
            scsi_texts({{"optrom_bios_version", ""}, {"optrom_efi_version", "6.17.1\n"}, {"fw_version", "8.07.00\n"}})};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vxapi_priv_database* rec = port();
    FUZZ_CHECK(rec != nullptr);
    for (const auto& [path, text] : attributes) now[path] = text;
    fuzz::Reader in(data, size);
    while (!in.done()) {
        const std::string& path = attributes[in.byte() % attributes.size()].first;
        now[path] = fuzz::str(in.part());
    }
    fuzz::Traced traced;
    query(rec);
    return 0;
}
