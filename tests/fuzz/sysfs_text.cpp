// The sysfs text parsers (SCSI device names, hexadecimal bytes, trailing
// newlines, boot versions) and the attribute readers over an attribute that
// reads as the input: a reader reports a number only when the text begins
// with one that fits.
// Input: the text (an embedded NUL ends it for the parsers of C strings).
#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "fuzz_support.h"
#include "transport/vx_sysfs_prim.h"
#include "transport/vx_sysfs_query.h"

namespace {

constexpr const char* kAttribute = "/sys/class/fc_host/host5/port_name";

void parse_text(const char* text) {
    (void)vxsysfs_get_target_id(text);
    (void)vxsysfs_get_lun_no(text);
    for (const uint32_t n : {8u, 3u, 0u}) vxsysfs_to_array_hex(fuzz::Buffer(n, 0xEE).data(), text, n);
    // A boot version: at most the numbers asked are written, and only when
    // they came; the first stands at the text's head as strtoul reads it
    // (a sign, a minus negating), as its low 8 bits. No number at all is a
    // head that strtoul does not convert.
    errno = 0;
    char* end = nullptr;
    const unsigned long long head = std::strtoull(text, &end, 10);
    const bool converted = end != text && errno == 0;
    for (const bool cut : {false, true}) {
        const fuzz::Buffer version(8, 0xEE);
        const VxAttrAnswer answer = vxsysfs_save_version(text, version.data(), 4, 10, cut);
        const fuzz::Bytes written = version.bytes();
        FUZZ_CHECK(fuzz::Bytes(written.begin() + 4, written.end()) == fuzz::Bytes(4, 0xEE));
        if (answer == VxAttrAnswer::Came) {
            FUZZ_CHECK(converted && written[0] == (head & 0xFF));
        } else {
            FUZZ_CHECK(written == fuzz::Bytes(8, 0xEE));
            if (answer == VxAttrAnswer::NotNumber) FUZZ_CHECK(!converted);
        }
    }
    std::string copy(text);
    vxsysfs_remove_end_newline(copy.data());
    const size_t len = std::strlen(copy.c_str());
    FUZZ_CHECK(len == 0 || copy[len - 1] != '\n');
}

// The number at the head of a text, read apart from the library as strtoull
// reads it: white space before it, digits of the base (hexadecimal with an
// optional "0x"), whatever follows not judged; no sign. False when there is
// none or it needs more than 64 bits.
bool number_of(const std::string& text, int base, uint64_t* value) {
    const size_t first = text.find_first_not_of(" \t\r\n\v\f");
    if (first == std::string::npos || std::isxdigit(static_cast<unsigned char>(text[first])) == 0) return false;
    if (base == 10 && std::isdigit(static_cast<unsigned char>(text[first])) == 0) return false;
    errno = 0;
    *value = std::strtoull(text.c_str() + first, nullptr, base);
    return errno == 0;
}

// A reader's answer against the text it read: a number is reported only
// when the text holds one that fits, and then exactly that number.
void read_attribute(const std::string& current) {
    const std::string text_read = current.substr(0, current.find('\0'));
    // An attribute reads at most a page: the checks speak of texts that fit one.
    const bool whole = text_read.size() < 4000;
    const fuzz::Buffer text(32, 0xEE);
    VxAttrAnswer answer = VxAttrAnswer::Failed;
    vxsysfs_get_str_attr(kAttribute, text.chars(), text.size(), &answer);
    FUZZ_CHECK(text.terminated());
    FUZZ_CHECK(answer == VxAttrAnswer::Came || answer == VxAttrAnswer::TooLarge);

    const fuzz::Buffer wwn(8, 0xEE);
    vxsysfs_get_hex_attr(kAttribute, wwn.data(), wwn.size(), &answer);
    uint64_t expected = 0;
    const bool hex = number_of(text_read, 16, &expected);
    if (answer != VxAttrAnswer::Came) FUZZ_CHECK(wwn.bytes() == fuzz::Bytes(8, 0));
    if (whole && answer == VxAttrAnswer::Came) {
        fuzz::Bytes name(8, 0);
        for (size_t i = 0; i < 8; ++i) name[i] = static_cast<uint8_t>(expected >> (56 - 8 * i));
        FUZZ_CHECK(hex && wwn.bytes() == name);
    }

    uint64_t wide = vxsysfs_get_long_attr(kAttribute, &answer);
    if (whole) FUZZ_CHECK((answer == VxAttrAnswer::Came) == hex);
    if (whole && hex) FUZZ_CHECK(wide == expected);

    // Decimal, and as printed: hexadecimal behind "0x", else decimal.
    const size_t head = text_read.find_first_not_of(" \t\r\n\v\f");
    const bool prefixed = head != std::string::npos && text_read.size() > head + 1 && text_read[head] == '0' &&
                          (text_read[head + 1] == 'x' || text_read[head + 1] == 'X') &&
                          head + 2 < text_read.size() && std::isxdigit(static_cast<unsigned char>(text_read[head + 2]));
    for (const int base : {10, VxFields::kBaseAsPrinted}) {
        for (const uint32_t max : {UINT32_MAX, 0xFFFFu, 0xFFu}) {
            const uint32_t number = vxsysfs_get_int_attr(kAttribute, &answer, max, base);
            const bool came = number_of(text_read, base == 10 || !prefixed ? 10 : 16, &expected);
            if (!whole) continue;
            FUZZ_CHECK((answer == VxAttrAnswer::Came) == (came && expected <= max));
            FUZZ_CHECK(answer == VxAttrAnswer::Came ? number == expected : number == 0);
            FUZZ_CHECK(answer != VxAttrAnswer::NotNumber || !came);
        }
    }
    wide = 0;
    (void)vxsysfs_parse_number(current.data(), current.size(), 10, UINT64_MAX, &wide);
}

}  // namespace

std::vector<fuzz::Bytes> fuzz::seeds() {
    return texts({"5:0:3:1", "2:0:65535:16384\n", "0x21000024ff3dc8e6\n", "21000024FF3DC8E7", "4096\n", "0x8\n",
                  "FCP Target\n", "Online", " 7 : 0 : 12 : 40 ", "0X2", "", "4294967296\n", " 17 ", "-1", "70000.00", "99999999999999999999",
                  "0x21000024ff3dc8e6 \n", "45 C", "1.02.03 (100a70)", "8.07.00 53461\n", " 0x23\n", "0x",
                  "8.07.00 -2147430187\n", "-1.2", "+", " -9.08"});
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::string current;
    static const bool served = (fuzz::serve(fuzz::host(), kAttribute, current), true);
    (void)served;
    current.assign(reinterpret_cast<const char*>(data), size);
    fuzz::Traced traced;
    parse_text(current.c_str());
    read_attribute(current);
    return 0;
}
