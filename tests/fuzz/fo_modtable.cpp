// The configuration table of a driver's configuration module: the get of
// OPTIONS and the in-place set from "/etc/vxa2xxx.conf", then read back.
// Input: the text of "/etc/vxa2xxx.conf" as a part, then the module file.
#include "failover/vx_fo_modtable.h"
#include "failover/vx_fo_optstr.h"
#include "fuzz_support.h"
#include "sim_modtable.h"

std::vector<fuzz::Bytes> fuzz::seeds() {
    sim::ModTable t;
    t.padding = 40;
    t.id = "vxa2xxx_conf";
    t.entries = {{"OTHER", "x", 40}, {"", "", 32}, {"OPTIONS", "scsi-vxa0-adapter-port=01\\;", 24 + 64}};
    const Bytes conf = sim::text_bytes("scsi-vxa0-adapter-port=02\\;\n");
    sim::ModTable no_id = t;
    no_id.id.clear();
    return {join(0, {conf, sim::build_module(t)}), join(0, {conf, sim::build_module(no_id)})};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Reader in(data, size);
    in.byte();
    const std::string conf = fuzz::str(in.part());
    sim::SimHost& host = fuzz::host();
    host.write_file("/etc/vxa2xxx.conf", conf);
    host.write_file("/lib/modules/6.1.0-sim/kernel/drivers/scsi/vxa2xxx/vxa2xxx_conf.ko", fuzz::str(in.rest()));

    static std::vector<char> dest(VX_FO_OPTSTR_SIZE);
    (void)vxapi_get_opt_vals("vxa2xxx", dest.data());
    FUZZ_CHECK(strnlen(dest.data(), dest.size()) < dest.size());
    if (vxapi_set_opt_vals("vxa2xxx", nullptr) == 0) {
        // The new text is the file's, up to its first NUL.
        FUZZ_CHECK(vxapi_get_opt_vals("vxa2xxx", dest.data()) == 0 && std::string(conf.c_str()) == dest.data());
    }
    host.clear_stderr();
    return 0;
}
