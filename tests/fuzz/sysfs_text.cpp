// The sysfs text parsers (SCSI device names, hexadecimal bytes, trailing
// newlines) and the attribute readers over an attribute that reads as the input.
// Input: the text (an embedded NUL ends it for the parsers of C strings).
#include "fuzz_support.h"
#include "transport/vx_sysfs_prim.h"

namespace {

constexpr const char* kAttribute = "/sys/class/fc_host/host5/port_name";

void parse_text(const char* text) {
    (void)vxsysfs_get_target_id(text);
    (void)vxsysfs_get_lun_no(text);
    for (const uint32_t n : {8u, 3u, 0u}) vxsysfs_to_array_hex(fuzz::Buffer(n, 0xEE).data(), text, n);
    std::string copy(text);
    vxsysfs_remove_end_newline(copy.data());
    const size_t len = std::strlen(copy.c_str());
    FUZZ_CHECK(len == 0 || copy[len - 1] != '\n');
}

void read_attribute() {
    const fuzz::Buffer text(32, 0xEE);
    vxsysfs_get_str_attr(kAttribute, text.chars(), text.size());
    FUZZ_CHECK(text.terminated());
    const fuzz::Buffer wwn(8, 0xEE);
    vxsysfs_get_hex_attr(kAttribute, wwn.data(), wwn.size());
    (void)vxsysfs_get_int_attr(kAttribute);
    (void)vxsysfs_get_long_attr(kAttribute);
}

}  // namespace

std::vector<fuzz::Bytes> fuzz::seeds() {
    return texts({"5:0:3:1", "2:0:65535:16384\n", "0x21000024ff3dc8e6\n", "21000024FF3DC8E7", "4096\n", "0x8\n",
                  "FCP Target\n", "Online", " 7 : 0 : 12 : 40 ", "0X2", ""});
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::string current;
    static const bool served = (fuzz::serve(fuzz::host(), kAttribute, current), true);
    (void)served;
    current.assign(reinterpret_cast<const char*>(data), size);
    fuzz::Traced traced;
    parse_text(current.c_str());
    read_attribute();
    return 0;
}
