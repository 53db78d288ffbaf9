// The option string parsers (all adapters, or the one of a port name): what the
// formatter writes from the parsed lists reads back to the same string.
// Input: a mode byte (bit 0: no default preferred LUNs), the port name as a
// part, then the option string.
#include "base/vx_records.h"
#include "failover/vx_fo_optstr.h"
#include "fuzz_support.h"

namespace {

struct Lists {
    FO_TARGET_DATA_LIST tgt[VX_FO_STORE_ADAPTERS];
    FO_LUN_DATA_LIST lun[VX_FO_STORE_ADAPTERS];
    hbalist_entry records[VX_FO_STORE_ADAPTERS];
};

Lists& lists(int which) {
    static std::unique_ptr<Lists> all[2] = {std::make_unique<Lists>(), std::make_unique<Lists>()};
    Lists& l = *all[which];
    std::memset(static_cast<void*>(&l), 0, sizeof l);
    for (unsigned i = 0; i < VX_FO_STORE_ADAPTERS; ++i) l.records[i] = {{}, &l.tgt[i], &l.lun[i]};
    return l;
}

std::string format(const Lists& l) {
    static std::vector<char> out(VX_FO_OPTSTR_SIZE);
    return vxapi_set_data_to_line(l.records, out.data(), VX_FO_FROM_TARGETS) == 0 ? out.data() : "";
}

}  // namespace

std::vector<fuzz::Bytes> fuzz::seeds() {
    const Bytes text = sim::text_bytes(fo_target_tokens() + " scsi-lbtype-1-key0-tgtname=2000000000000007\\;\n");
    const Bytes wwpn = {0x21, 0, 0, 0, 0, 0, 0, 3};
    std::vector<Bytes> out = {join(0, {wwpn, text}), join(1, {wwpn, text})};
    const Bytes adapter0 = {0x50, 0, 0, 0, 0, 0, 0x0a, 0};
    for (const std::string& awkward : fo_awkward_texts()) out.push_back(join(0, {adapter0, sim::text_bytes(awkward)}));
    return out;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Reader in(data, size);
    api_priv_data[0].features = (in.byte() & 1) != 0 ? 0x100 : 0;
    fuzz::Bytes wwpn = in.part();
    wwpn.resize(8);
    const std::string text = fuzz::str(in.rest());
    if (text.size() >= VX_FO_OPTSTR_SIZE) return 0;

    Lists& one = lists(0);
    (void)vxapi_get_data_from_line_for_wwpn(text.c_str(), one.records, wwpn.data());
    FUZZ_CHECK(one.tgt[0].EntryCount <= VX_FO_TARGETS && one.lun[0].EntryCount <= VX_FO_TARGETS);

    Lists& all = lists(0);
    (void)vxapi_get_data_from_line(text.c_str(), all.records);
    for (unsigned i = 0; i < VX_FO_STORE_ADAPTERS; ++i) FUZZ_CHECK(all.tgt[i].EntryCount <= VX_FO_TARGETS);
    const std::string first = format(all);
    if (first.empty()) return 0;
    Lists& back = lists(1);
    (void)vxapi_get_data_from_line(first.c_str(), back.records);
    FUZZ_CHECK(format(back) == first);
    return 0;
}
