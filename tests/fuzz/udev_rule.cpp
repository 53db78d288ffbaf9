// The udev rule line parser and builder: a parsed line that builds again
// parses back to the same GUID and names.
// Input: the text of one rule line.
#include "core/vx_udev.h"
#include "fuzz_support.h"

namespace {

std::string names(const UDEV_RULE* rule) {
    std::string out;
    char* name;
    dlist_for_each_data(rule->symlink, name, char) out += std::string(name) + "|";
    return out;
}

}  // namespace

std::vector<fuzz::Bytes> fuzz::seeds() {
    return {sim::text_bytes("KERNEL==\"sd*[!0-9]\", SUBSYSTEM==\"block\", ATTRS{vendor}==\"0x7a5a\", "
                            "ENV{ID_SERIAL}==\"3600a0b8\", SYMLINK+=\"a b \"\n")};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    UDEV_RULE* rule = vxapi_convert_udevrule_to_obj(line.c_str());
    if (rule == nullptr) return 0;
    char built[VXAPI_UDEV_LINE_SIZE];
    const bool plain =
        rule->GUID != nullptr && vxapi_udev_text_ok(rule->GUID) && vxapi_udev_text_ok(names(rule).c_str());
    if (vxapi_convert_udevobj_to_rule(rule, built) == 0 && plain) {
        FUZZ_CHECK(strnlen(built, sizeof built) < sizeof built);
        UDEV_RULE* again = vxapi_convert_udevrule_to_obj(built);
        FUZZ_CHECK(again != nullptr && again->GUID != nullptr && std::strcmp(again->GUID, rule->GUID) == 0 &&
                   names(again) == names(rule));
        vxapi_free_udev_rule(again);
    }
    vxapi_free_udev_rule(rule);
    return 0;
}
