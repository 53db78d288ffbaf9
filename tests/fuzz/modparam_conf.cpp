// The options-line editor of the driver module's configuration file.
// Input: the mode byte as the value, the parameter name as a part, the text.
#include "base/vx_conf_file.h"
#include "base/vx_modparam.h"
#include "fuzz_support.h"

std::vector<fuzz::Bytes> fuzz::seeds() {
    return {join_texts(1, {"vx2xzonewise", "# options vxa2xxx vx2xzonewise=0\noptions vxa2xxx_x a=1\n"
                                           "  options\tvxa2xxx vx2xzonewise_old=1\r vx2xzonewise=12 b\nalias a b"})};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Reader in(data, size);
    const uint32_t value = in.byte();
    const std::string name = fuzz::str(in.part());
    const std::string text = fuzz::str(in.rest());
    if (!vx_modparam_name_ok(name.c_str()) || name.size() != std::strlen(name.c_str())) return 0;

    const std::string once = vx_modparam_conf_edit(text, name, value);
    const size_t before = vx_conf_line_pieces(text).size();
    const size_t after = vx_conf_line_pieces(once).size();
    // Values above 1 only add a setting to a text file (the text ends at a NUL;
    // a carriage return that ended the line it joins may go).
    if (text.find_first_of(std::string("\0\r", 2)) == std::string::npos) {
        FUZZ_CHECK(once.size() >= text.size() || value <= 1);
    }
    // The setting is there after one edit: a second changes nothing.
    if (vx_conf_lines_fit(once)) {
        FUZZ_CHECK(after >= before && after <= before + 1);
        FUZZ_CHECK(vx_modparam_conf_edit(once, name, value) == once);
    }
    return 0;
}
