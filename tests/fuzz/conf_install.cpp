// A failover save over the configuration files, with one of its steps
// failing: a save that fails leaves every file and link under /etc (text,
// mode, owner and group) and the module's value as they were; one that
// succeeds leaves the option file's mode, owner and group, and a link there.
// Input: a mode byte (bits 0-1: the option file is missing, a file, a link to
// one, a link that leads nowhere; bit 2: a backup of it; bit 3: the modules
// file is updated; bit 4: the writer is not root), the step that fails (0:
// none), the option file's attributes (bits 0-5: group and other permission
// bits; bit 6: another owner; bit 7: another group), then the old store, the
// modules file and the new store as parts.
#include <sys/stat.h>

#include "failover/vx_fo_modtable.h"
#include "failover/vx_fo_optstr.h"
#include "failover/vx_fo_store.h"
#include "fuzz_support.h"
#include "sim_files.h"
#include "sim_modtable.h"
#include "sim_steps.h"

namespace {

constexpr char kOption[] = "/etc/vxa2xxx.conf";
constexpr char kBehind[] = "/etc/fo/vxa2xxx.conf";  // where a link there leads
constexpr char kModules[] = "/etc/modules.conf";
constexpr char kModule[] = "/lib/modules/6.1.0-sim/kernel/drivers/scsi/vxa2xxx/vxa2xxx_conf.ko";
constexpr uid_t kUser = 1234;
constexpr gid_t kGroup = 5678;
constexpr size_t kModuleRoom = 4000;  // for the module's value

enum Kind : uint8_t { Missing, Regular, Link, Dangling };

// A file with its attributes (the host keeps owners by inode: each file gets
// them anew).
void put(sim::SimHost& host, const std::string& path, const std::string& text, mode_t mode, uid_t uid, gid_t gid) {
    host.write_file(path, text, mode);
    host.set_owner(path, uid);
    host.set_group(path, gid);
}

// Every file and link under /etc, and the module's value. A writer that is
// not root cannot give a file it replaced its owner and group back (nor keep
// them on a successful save): for it, files are compared without them.
std::vector<std::string> state(sim::SimHost& host, bool owners) {
    std::vector<std::string> out = sim::file_tree(host, "/etc");
    // A file is "<path> <mode> <uid>:<gid> <text>", a link "<path> -> <to>".
    for (std::string& line : out) {
        const size_t mode = line.find(' ');
        if (owners || mode == std::string::npos || line.compare(mode, 4, " -> ") == 0) continue;
        const size_t ids = line.find(' ', mode + 1);
        line.erase(ids, line.find(' ', ids + 1) - ids);
    }
    static std::vector<char> value(VX_FO_OPTSTR_SIZE);
    out.push_back(vxapi_get_opt_vals("vxa2xxx", value.data()) == 0 ? value.data() : "<no module value>");
    return out;
}

fuzz::Bytes input(uint8_t mode, uint8_t step, uint8_t attrs, const std::string& old_store,
                  const std::string& modules, const std::string& store) {
    fuzz::Bytes out{mode, step};
    fuzz::append(out, fuzz::join_texts(attrs, {old_store, modules, store}));
    return out;
}

}  // namespace

std::vector<fuzz::Bytes> fuzz::seeds() {
    const std::string old_store = "scsi-lbtype-3-key0-tgtname=2100000000000c0c\\;";
    const std::string modules = "options vxa2xxx vx2xopts=scsi-vxa0-adapter-port=1 Bind=1\n";
    const std::string store = fo_target_tokens();
    std::vector<Bytes> out;
    for (const uint8_t kind : {Missing, Regular, Link, Dangling}) {
        for (const uint8_t step : {0, 3, 9, 14, 20}) out.push_back(input(kind | 0x0C, step, 0xC0, old_store, modules, store));
    }
    out.push_back(input(Regular | 0x14, 5, 0x04, old_store, modules, store));
    // A modules file that kmod does not read as written: the save fails before it writes.
    for (const uint8_t step : {0, 5, 20}) out.push_back(input(Regular | 0x0C, step, 0xC0, old_store, modules + "\\", store));
    return out;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Reader in(data, size);
    const uint8_t mode = in.byte(), step = in.byte(), attrs = in.byte();
    const std::string old_store = fuzz::str(in.part()), modules = fuzz::str(in.part()), store = fuzz::str(in.rest());
    const auto kind = static_cast<Kind>(mode & 3);
    const auto file_mode = static_cast<mode_t>(0600 | (attrs & 077));
    const uid_t uid = (attrs & 0x40) != 0 ? kUser : 0;
    const gid_t gid = (attrs & 0x80) != 0 ? kGroup : 0;
    if (old_store.size() > kModuleRoom) return 0;

    sim::SimHost& host = fuzz::host();
    host.remove("/etc");
    host.make_dir("/etc/fo");
    const sim::Bytes module = sim::build_module({16, "vxa2xxx_conf", {{"OPTIONS", old_store, 24 + kModuleRoom}}, 64});
    put(host, kModule, std::string(module.begin(), module.end()), 0644, 0, 0);
    put(host, kModules, modules, 0644, 0, 0);
    if (kind == Link || kind == Dangling) host.make_symlink("fo/vxa2xxx.conf", kOption);
    if (kind != Missing && kind != Dangling) put(host, kind == Link ? kBehind : kOption, old_store, file_mode, uid, gid);
    if ((mode & 4) != 0) put(host, std::string(kOption) + ".bak", "older", 0600, 0, 0);
    host.set_euid((mode & 0x10) != 0 ? 1000 : 0);

    const bool root = (mode & 0x10) == 0;
    const std::vector<std::string> before = state(host, root);
    uint32_t status = 0;
    {
        sim::StepFaults faults(host, step, sim::StepFaults::Act::Fail);
        status = vx_fo_save_store("vxa2xxx", store, nullptr, (mode & 8) != 0);
    }
    if (status != 0) {
        FUZZ_CHECK(state(host, root) == before);
    } else if (kind == Regular || kind == Link) {
        const auto kept = std::tuple(file_mode, (mode & 0x10) != 0 ? 0 : uid, (mode & 0x10) != 0 ? 0 : gid);
        FUZZ_CHECK(sim::file_attrs(host, kOption) == kept);
    }
    if (kind == Link || kind == Dangling) {
        struct stat st {};
        FUZZ_CHECK(host.lstat(kOption, &st) == 0 && S_ISLNK(st.st_mode));
    }
    host.set_euid(0);
    host.clear_stderr();
    return 0;
}
