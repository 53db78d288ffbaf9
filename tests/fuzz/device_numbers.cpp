// The driver's device numbers from text: its class "dev" file ("major:minor")
// as discovery reads it before making the driver's node, else the lines of
// "/proc/devices"; and the lines of "/proc/devices" that the management
// device is opened by.
//
// Input: a mode byte, then the text. Mode bit 0 makes it the class file
// (and "/proc/devices" empty); otherwise there is no class file and the text
// is "/proc/devices".
#include "core/vx_discovery.h"
#include "core/vx_ioctl.h"
#include "fuzz_support.h"
#include "sim_adapters.h"

namespace {

constexpr uint8_t kClassFile = 0x01;
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
    return {
        join(kClassFile, {sim::text_bytes(setup_text(true))}),
        join(0, {sim::text_bytes(devices)}),
        join(0, {sim::text_bytes(devices + std::string(120, 'x') + " " + kDriver + "\n241 vx2xapidev\n")}),
    };
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Reader in(data, size);
    const bool class_file = (in.byte() & kClassFile) != 0;
    const fuzz::Bytes rest = in.rest();
    const std::string text(rest.begin(), rest.end());
    sim::SimHost& host = fuzz::host();
    if (class_file) {
        host.write_file(kClassPath, text);
        host.write_file("/proc/devices", "");
    } else {
        vx::sys().unlink(kClassPath.c_str());
        host.write_file("/proc/devices", text);
    }
    fuzz::Traced traced(host);
    char node[VX_NODE_PATH_SIZE] = "/dev/vxa2xxx";
    vxapi_charnode_exist(node, kDriver.c_str());
    vxapi_open_apidev();
    vxapi_close_apidev();
    return 0;
}
