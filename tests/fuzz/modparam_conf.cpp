// The options-line editor of the driver module's configuration file: after an
// edit, kmod reads every parameter of every module as before, except the one
// set; a second edit changes nothing.
// Input: the mode byte as the value, the parameter name as a part, the text.
#include "base/vx_modparam.h"
#include "fuzz_support.h"
#include "kmod_reading.h"

std::vector<fuzz::Bytes> fuzz::seeds() {
    return {join_texts(1, {"vx2xzonewise", "# options vxa2xxx vx2xzonewise=0\noptions vxa2xxx_x a=1\n"
                                           "  options\tvxa2xxx vx2xzonewise_old=1\r vx2xzonewise=12 b\nalias a b"}),
            join_texts(0, {"vx2xzonewise", "# a \\\noptions vxa2xxx x=1 \\\n vx2xzonewise=1\\\n1 \"y=a b\"\n"}),
            join_texts(2, {"x", "options vxa2xxx a=\"b x=1\" \\\n  c=\\1\r\n"})};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Reader in(data, size);
    const uint32_t value = in.byte();
    const std::string name = fuzz::str(in.part());
    const std::string text = fuzz::str(in.rest());
    if (!vx_modparam_name_ok(name.c_str()) || name.size() != std::strlen(name.c_str())) return 0;

    std::string once;
    if (!vx_modparam_conf_edit(text, name, value, &once)) return 0;
    const std::optional<kmodread::Reading> before = kmodread::read(text), after = kmodread::read(once);
    if (before) {
        FUZZ_CHECK(after.has_value());
        kmodread::Settings expected = before->settings;
        const std::pair<std::string, std::string> key{VX_MODPARAM_MODULE, name};
        // Only 0 and 1 change a setting that is there.
        if (expected.count(key) == 0 || value <= 1) expected[key] = std::to_string(value);
        FUZZ_CHECK(after->settings == expected);
    }
    std::string twice;
    FUZZ_CHECK(vx_modparam_conf_edit(once, name, value, &twice) && twice == once);
    return 0;
}
