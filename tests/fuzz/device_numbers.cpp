// The driver's device numbers from text: the class "dev" file or the lines of
// "/proc/devices" (discovery, the node), and the management device's line.
// Input: a mode byte (bit 0: the text is the class file, else /proc/devices).
#include "base/vx_request.h"
#include "core/life/vx_discovery.h"
#include "fuzz_support.h"
#include "sim_adapters.h"
#include "transport/vx_apidev.h"

namespace {

const std::string kDriver = "vxa2xxx";
const std::string kClassPath = "/sys/class/" + kDriver + "/" + kDriver + "/dev";

// The texts the simulated host's set-up writes for the driver.
std::string setup_text(bool class_file) {
    sim::SimHost host;
    sim::SimDriver driver;
    sim::FabricSetup setup;
    setup.class_dev_file = class_file;
    setup.adapters = {sim::adapter(0x2532)};
    sim::install_adapters(host, driver, setup);
    return host.read_file(class_file ? kClassPath : "/proc/devices");
}

}  // namespace

std::vector<fuzz::Bytes> fuzz::seeds() {
    const std::string devices = setup_text(false);
    return {join_texts(1, {setup_text(true)}), join_texts(0, {devices}),
            join_texts(0, {devices + std::string(120, 'x') + " " + kDriver + "\n241 vx2xapidev\n"})};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Reader in(data, size);
    const bool class_file = (in.byte() & 1) != 0;
    const std::string text = fuzz::str(in.rest());
    sim::SimHost& host = fuzz::host();
    if (class_file) {
        host.write_file(kClassPath, text);
        host.write_file("/proc/devices", "");
    } else {
        vx::sys().unlink(kClassPath.c_str());
        host.write_file("/proc/devices", text);
    }
    fuzz::Traced traced;
    char node[VX_NODE_PATH_SIZE] = "/dev/vxa2xxx";
    (void)vxapi_charnode_exist(node, kDriver.c_str());
    vxapi_open_apidev();
    vxapi_close_apidev();
    return 0;
}
