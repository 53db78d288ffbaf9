// The old-format store: a line rebuilt from what was read reads back the same
// and fits the line bound; written over the line in an options file, it
// either fails with the file unchanged or changes what kmod gives the driver
// in its store value alone; the decimal LUN lists never pass their buffer.
// Input: a mode byte (bit 0: slot 0 is a failover driver; the rest: the
// decimal lists' buffer size), then the line.
#include "base/vx_modconf.h"
#include "base/vx_records.h"
#include "failover/vx_fo_oldstore.h"
#include "failover/vx_fo_optline.h"
#include "failover/vx_fo_store.h"
#include "fuzz_support.h"
#include "kmod_reading.h"

namespace {

VxFoRecords& work() {
    static VxFoRecords list;
    static const bool ready = list.allocate();
    (void)ready;
    list.clear();
    return list;
}

std::string rebuild(const std::string& line) {
    VxFoRecords& w = work();
    std::string out = line;
    if (vxapi_get_data_from_old_line(line, w.get()) != 0) return "";
    return vxapi_set_data_to_old_line(&out, w.get(), VX_FO_FROM_TARGETS) == 0 ? out : "";
}

}  // namespace

std::vector<fuzz::Bytes> fuzz::seeds() {
    const std::string line = "options vxa2xxx Bind=1 vx2xopts=" + fo_target_tokens() + " ConfigRequired=1\n";
    return {join_texts(0x41, {line}), join_texts(0x20, {line})};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Reader in(data, size);
    const uint8_t mode = in.byte();
    std::strcpy(api_priv_data[0].phys_path, (mode & 1) != 0 ? "/dev/vxa" : "");
    api_priv_data[0].drvr_attr = mode & 1;
    const std::string line = fuzz::str(in.rest());
    if (line.size() > VX_CONF_LINE_MAX) return 0;

    const std::string first = rebuild(line);
    if (!first.empty()) {
        const VxModConf rebuilt(first);
        FUZZ_CHECK(!rebuilt.lines().empty() && first.back() == '\n');
        for (const VxModLine& l : rebuilt.lines()) FUZZ_CHECK(l.text.size() + 1 <= VX_CONF_LINE_MAX);
        FUZZ_CHECK(rebuild(first) == first);

        // The rebuilt line written over the line in the options file.
        const std::string file = "/etc/modules.conf";
        fuzz::host().write_file(file, line);
        const std::optional<kmodread::Reading> before = kmodread::read(line), wanted = kmodread::read(first);
        if (vxapi_set_optline_to_old_file("vxa2xxx", first) != 0) {
            FUZZ_CHECK(fuzz::host().read_file(file) == line);
        } else {
            const std::optional<kmodread::Reading> after = kmodread::read(fuzz::host().read_file(file));
            FUZZ_CHECK(before && wanted && after);
            kmodread::Settings expected = before->settings;
            expected[{"vxa2xxx", "vx2xopts"}] = wanted->settings.at({"vxa2xxx", "vx2xopts"});
            FUZZ_CHECK(after->settings == expected && after->bad <= before->bad);
        }
    }

    // The lists of the LUNs read for slot 0's first target.
    const FO_EXTERNAL_LUN_DATA_ENTRY& lun = work().get()[0].lun_list->DataEntry[0];
    (void)vxapi_get_data_from_old_line(line, work().get());
    const size_t room = mode >> 1;
    const fuzz::Buffer text(room == 0 ? 1 : room, 'z');
    uint32_t offset = 0, count = 0;
    for (uint32_t i = 0; i < 24; ++i) {
        const auto base = static_cast<uint16_t>(i * 200);
        const uint32_t before = offset;
        const uint32_t status = (i & 1) != 0
                                    ? vxapi_write_new_disabled(text.chars(), room, lun, &offset, base, &count)
                                    : vxapi_write_new_preferred(text.chars(), room, lun, &offset, base, &count);
        FUZZ_CHECK(offset < text.size() || (status != 0 && offset == before));
    }
    return 0;
}
