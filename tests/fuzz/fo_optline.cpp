// The reader of module configuration files (logical lines in file order, the
// module's options lines as kmod reads them), the HBA features read from the
// driver's options, and the writers of them: after a set of Bind by port id
// or by port name, and after the failover save's update of the modules line,
// kmod reads every parameter of every module as before but those set, and
// finds no more options lines without parameters, or the call failed with
// the file unchanged. The driver's options lines, read and written back as
// they are, leave the file as it was.
// Input: the module name as a part, then the text of the file.
#include "base/vx_modconf.h"
#include "base/vx_records.h"
#include "failover/vx_fo_optline.h"
#include "failover/vx_fo_store.h"
#include "fuzz_support.h"
#include "kmod_reading.h"
#include "vxsdm.h"

std::vector<fuzz::Bytes> fuzz::seeds() {
    std::vector<Bytes> out = {
        join_texts(0, {"vxa2xxx", "# options vxa2xxx Bind=0\nalias scsi_hostadapter vxa2xxx\n  options\tvxa2xxx "
                                  "ConfigRequired=2 Bind=1 ql2xfoo=3\noptions vxa2xxx_conf x=1\n"}),
        join_texts(0, {"vxa2xxx", "options vxa2xxx_conf x=1\noptions vxa2xxx Bind=1 ConfigRequired=1"}),  // no newline
        join_texts(0, {"vxa2xxx", "# a comment\r\noptions vxa2xxx Bind=1\r\noptions vxa2xxx_conf x=1\r\n"}),
        join_texts(0, {"vxa2xxx", std::string("options vxa2xxx Bind=1\0 ConfigRequired=1\n# last", 47)}),
    };
    for (const std::string& awkward : fo_awkward_texts()) {
        out.push_back(join_texts(0, {"vxa2xxx", "options vxa2xxx Bind=1 vx2xopts=" + awkward}));
    }
    return out;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Reader in(data, size);
    in.byte();
    const std::string model = fuzz::str(in.part());
    const std::string text = fuzz::str(in.rest());

    // The module's lines follow each other in the text, each an options line of the module with its
    // parameters inside it; an edit that changes nothing gives the text back.
    {
        const VxModConf conf(text, model);
        size_t at = 0;
        for (const VxModLine& line : conf.lines()) {
            FUZZ_CHECK(line.begin >= at && line.begin < line.next && line.next <= text.size());
            FUZZ_CHECK(RemoveLeadingSpaces(line.text).starts_with("options") && line.key_end <= line.text.size());
            for (const VxModParam& p : line.params) FUZZ_CHECK(p.begin < p.end && p.end <= line.text.size());
            at = line.next;
        }
        std::string same;
        FUZZ_CHECK(conf.result(VX_CONF_LINE_MAX, &same) && same == text);
    }

    // The features of a port of that model, from the file.
    fuzz::host().write_file("/etc/conf.modules", text);
    vxapi_priv_db_t& slot = api_priv_data[0];
    slot = vxapi_priv_db_t{};
    std::strcpy(slot.phys_path, "/dev/vxa2xxx");
    std::strncpy(slot.model, model.c_str(), sizeof slot.model - 1);
    slot.apihandle = 1;
    std::vector<HBA_FEATURE_ENTRY> room(6);
    auto* list = reinterpret_cast<HBA_FEATURE_LIST*>(room.data());
    list->Count = 5;
    const uint32_t status = SDGetHbaSupportedFeatureList(1, list);
    FUZZ_CHECK(status == 0 || status == SDERR_INVALID_PARAMETER || status == SDERR_CONFIG_FILE);

    const std::optional<kmodread::Reading> before = kmodread::read(text);
    const std::string module = slot.model;  // as the slot holds it
    const auto set = [&](const char* name, const char* value) {
        kmodread::Settings s = before->settings;
        s[{module, name}] = value;
        return s;
    };
    const std::string file = "/etc/conf.modules";
    if (SDSetHbaFeature(1, HBA_FEATURE_BIND_BY_PID, 1, 0) != 0) {
        FUZZ_CHECK(fuzz::host().read_file(file) == text);
    } else if (before) {
        const std::optional<kmodread::Reading> after = kmodread::read(fuzz::host().read_file(file));
        FUZZ_CHECK(after && after->settings == set("Bind", "1") && after->bad <= before->bad);
    }
    fuzz::host().write_file(file, text);
    if (SDSetHbaFeature(1, HBA_FEATURE_BIND_BY_WWPN, 1, 0) != 0) {
        FUZZ_CHECK(fuzz::host().read_file(file) == text);
    } else if (before) {
        kmodread::Settings expected = before->settings;
        if (expected.erase({module, "Bind"}) == 0) expected[{module, "Bind"}] = "0";
        const std::optional<kmodread::Reading> after = kmodread::read(fuzz::host().read_file(file));
        FUZZ_CHECK(after && after->settings == expected && after->bad <= before->bad);
    }

    // The driver's options lines given back as they were change nothing.
    fuzz::host().write_file(file, text);
    std::string lines;
    if (vxapi_get_drv_param_optline(0, &lines) == 0) {
        FUZZ_CHECK(vxapi_set_drv_param_optline(0, lines) == 0 && fuzz::host().read_file(file) == text);
    }

    // The save leaves a line of the key alone at the end of the file.
    fuzz::host().write_file(file, text);
    const VxModConf conf(text, module);
    const bool bare = conf.lines().size() == 1 && !conf.lines()[0].has_newline &&
                      conf.lines()[0].key_end == conf.lines()[0].text.size();
    if (vxapi_update_old_conf_file(module.c_str(), 0) != 0) {
        FUZZ_CHECK(fuzz::host().read_file(file) == text);
    } else if (before && !bare) {
        kmodread::Settings expected = before->settings;
        if (expected.count({module, "ConfigRequired"}) == 0) expected[{module, "ConfigRequired"}] = "1";
        if (expected.count({module, "vx2xuseextopts"}) == 0) {
            expected.erase({module, "vx2xopts"});
            expected[{module, "vx2xuseextopts"}] = "1";
        }
        const std::optional<kmodread::Reading> after = kmodread::read(fuzz::host().read_file(file));
        FUZZ_CHECK(after && after->settings == expected && after->bad <= before->bad);
    }
    return 0;
}
