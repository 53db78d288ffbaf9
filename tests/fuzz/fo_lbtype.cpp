// The load-balancing tokens of the option string: collected, one target's type
// set and the result read back.
// Input: the target's last name byte and type, then the option string.
#include "failover/vx_fo_store.h"
#include "fuzz_support.h"

namespace {

bool starts_with_digit(const std::string& text) { return !text.empty() && text[0] >= '0' && text[0] <= '9'; }

}  // namespace

std::vector<fuzz::Bytes> fuzz::seeds() {
    std::vector<Bytes> out = {join(0, {Bytes{0xb1, 3},
                                       sim::text_bytes("scsi-vxa0-adapter-port=5000000000000a00\\;scsi-lbtype-2-key0-"
                                                       "tgtname=00000000000000b1\\;\nscsi-lbtype-12-key1-tgtname="
                                                       "00000000000000b2;scsi-lbtype-1-key0-tgtname=00\\;\n")})};
    for (const std::string& awkward : fo_awkward_texts()) {
        for (const Bytes& target : {Bytes{0xb1, 3}, Bytes{0xb1, 0}, Bytes{0xc0, 1}}) {
            out.push_back(join(0, {target, sim::text_bytes(awkward)}));
        }
    }
    return out;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Reader in(data, size);
    in.byte();
    const fuzz::Bytes head = in.part();
    const fuzz::Bytes rest = in.rest();
    if (head.size() < 2 || rest.size() >= VX_FO_OPTSTR_SIZE) return 0;
    const std::string text = fuzz::str(rest).c_str();  // up to its first NUL

    auto list = std::make_unique<FO_LB_POLICY_STORE_LIST>();
    const uint32_t collected = vxfoapi_get_all_lbtype(list.get(), text.c_str());
    FUZZ_CHECK((collected == 0 || collected == SDERR_CONFIG_FILE) && list->Count <= VX_FO_LB_STORE_ENTRIES);

    const uint8_t name[8] = {0, 0, 0, 0, 0, 0, 0, head[0]};
    const uint32_t type = head[1];
    std::string changed = text;
    const uint32_t status = vxfoapi_set_lbtype(0, name, &type, &changed);
    FUZZ_CHECK(status == 0 || (status == SDERR_CONFIG_FILE && changed == text));
    FUZZ_CHECK(changed.size() < VX_FO_OPTSTR_SIZE);
    // The option string parser refuses a text that begins with a digit: a set
    // does not make one.
    FUZZ_CHECK(status != 0 || !starts_with_digit(changed) || starts_with_digit(text));
    if (status == 0 && collected == 0) {
        // A store whose tokens all read still reads after the set (unless its
        // list was full), and the target's token is there with its type.
        const bool full = list->Count == VX_FO_LB_STORE_ENTRIES;
        const uint32_t again = vxfoapi_get_all_lbtype(list.get(), changed.c_str());
        FUZZ_CHECK(again == 0 || (full && again == SDERR_CONFIG_FILE));
        bool found = false;
        for (uint32_t i = 0; again == 0 && i < list->Count; ++i) {
            found |= std::memcmp(list->Entry[i].TargetName, name, 8) == 0 && list->Entry[i].LbType == type;
        }
        FUZZ_CHECK(again != 0 || type == 0 || found);
    }
    return 0;
}
