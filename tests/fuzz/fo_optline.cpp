// The options-line finder (lines as pieces, the whole-word key "options
// <model>") and the HBA features read from the driver's line.
// Input: the module name as a part, then the text of the file.
#include "base/vx_records.h"
#include "failover/vx_fo_optline.h"
#include "failover/vx_fo_store.h"
#include "fuzz_support.h"
#include "vxsdm.h"

std::vector<fuzz::Bytes> fuzz::seeds() {
    std::vector<Bytes> out = {
        join_texts(0, {"vxa2xxx", "# options vxa2xxx Bind=0\nalias scsi_hostadapter vxa2xxx\n  options\tvxa2xxx "
                                  "ConfigRequired=2 Bind=1 ql2xfoo=3\noptions vxa2xxx_conf x=1\n"}),
        join_texts(0, {"vxa2xxx", "options vxa2xxx_conf x=1\noptions vxa2xxx Bind=1 ConfigRequired=1"}),  // no newline
        join_texts(0, {"vxa2xxx", "# a comment\r\noptions vxa2xxx Bind=1\r\noptions vxa2xxx_conf x=1\r\n"}),
        join_texts(0, {"vxa2xxx", std::string("options vxa2xxx Bind=1\0 ConfigRequired=1\n# last", 47)}),
    };
    for (const std::string& awkward : fo_awkward_texts()) {
        out.push_back(join_texts(0, {"vxa2xxx", "options vxa2xxx Bind=1 vx2xopts=" + awkward}));
    }
    return out;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Reader in(data, size);
    in.byte();
    const std::string model = fuzz::str(in.part());
    const std::string text = fuzz::str(in.rest());

    std::string joined;
    for (const std::string_view piece : vx_conf_line_pieces(text)) {
        FUZZ_CHECK(!piece.empty() && piece.size() <= VX_CONF_LINE_MAX);
        const size_t end = vx_conf_options_key_end(piece, model);
        FUZZ_CHECK(end == std::string_view::npos ||
                   (end <= piece.size() && RemoveLeadingSpaces(piece).substr(0, 7) == "options"));
        joined += piece;
    }
    FUZZ_CHECK(joined == text);

    // The features of a port of that model, from the file.
    fuzz::host().write_file("/etc/conf.modules", text);
    vxapi_priv_db_t& slot = api_priv_data[0];
    slot = vxapi_priv_db_t{};
    std::strcpy(slot.phys_path, "/dev/vxa2xxx");
    std::strncpy(slot.model, model.c_str(), sizeof slot.model - 1);
    slot.apihandle = 1;
    std::vector<HBA_FEATURE_ENTRY> room(6);
    auto* list = reinterpret_cast<HBA_FEATURE_LIST*>(room.data());
    list->Count = 5;
    const uint32_t status = SDGetHbaSupportedFeatureList(1, list);
    FUZZ_CHECK(status == 0 || status == SDERR_INVALID_PARAMETER || status == SDERR_CONFIG_FILE);
    return 0;
}
