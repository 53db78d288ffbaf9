// The OS device names of a LUN of a sysfs port: the block devices under its
// SCSI device directory, the device nodes its links lead to, and every link
// in /dev that ends at one of them, as one list "name;name;...".
#include <cstdio>
#include <cstring>
#include <string>

#include "base/vx_sddbg.h"
#include "platform/vx_platform.h"
#include "transport/vx_sysfs_attrs.h"
#include "transport/vx_sysfs_prim.h"
#include "transport/vx_sysfs_query.h"
#include "transport/vx_sysfs_walk.h"

using vxsysfs::EntryList;
using vxsysfs::starts_with;

namespace {

// The list never grows past this many characters.
constexpr size_t kDevnameLimit = VXSYSFS_DEVNAME_SIZE - 1;
// A longer chain of links is taken for a loop.
constexpr int kMaxLinkHops = 40;
constexpr const char* kDevDir = "/dev";

// Appends the text when the list, text and terminator keep within the
// limit; false, with nothing appended, otherwise.
bool append(uint8_t* devname, const std::string& text) {
    char* list = reinterpret_cast<char*>(devname);
    const size_t len = strnlen(list, VXSYSFS_DEVNAME_SIZE);
    if (len + text.size() + 1 > kDevnameLimit) return false;
    std::memcpy(list + len, text.c_str(), text.size() + 1);
    return true;
}

// Where the chain of links that starts at dir/entry ends: an absolute
// target as it stands, a relative one taken in dir. Empty when a link of
// the chain cannot be read or the chain is longer than kMaxLinkHops.
std::string chain_end(const std::string& dir, const char* entry) {
    std::string path = dir + "/" + entry;
    for (int hops = 0; vx::sys().sysfs_path_is_link(path.c_str()) == 0; ++hops) {
        if (hops == kMaxLinkHops) return {};
        char target[VXSYSFS_PATH_SIZE];
        const ssize_t n = vx::sys().readlink(path.c_str(), target, sizeof target - 1);
        if (n <= 0) return {};
        target[n] = '\0';
        path = target[0] == '/' ? std::string(target) : dir + "/" + target;
    }
    return path;
}

// The walk over one SCSI device's names; stops for good once the list is full.
class NameWalk {
public:
    explicit NameWalk(uint8_t* devname) : devname_(devname) {}

    // "/dev/<node>;" and the /dev links to it. false when the list is full.
    bool add(const char* node) {
        if (full_) return false;
        const std::string name = std::string(kDevDir) + "/" + node;
        if (!append(devname_, name + ";")) {
            full_ = true;
            return false;
        }
        found_ = true;
        full_ = vxsysfs_find_name_links(kDevDir, name.c_str(), devname_) != 0;
        return !full_;
    }
    bool full() const { return full_; }
    bool found() const { return found_; }

private:
    uint8_t* devname_;
    bool full_ = false;
    bool found_ = false;
};

// The block devices of the first "block..." entry of the device directory
// that is itself a directory.
void add_block_names(const std::string& dir, NameWalk* walk) {
    EntryList entries(dir.c_str(), false);
    entries.each([&](const char* entry) {
        if (!starts_with(entry, "block")) return true;
        EntryList block((dir + "/" + entry).c_str(), false);
        if (!block.is_open()) return true;
        block.each([&](const char* node) { return walk->add(node); });
        return false;
    });
}

// The device node each link of the device directory with one of the known
// prefixes leads to: its target's last path component.
void add_linked_names(const std::string& dir, NameWalk* walk) {
    EntryList links(dir.c_str(), true);
    links.each([&](const char* entry) {
        for (const char* const* prefix = dev_prefix; *prefix != nullptr; ++prefix) {
            if (!starts_with(entry, *prefix)) continue;
            char target[VXSYSFS_PATH_SIZE];
            if (vx::sys().sysfs_get_link((dir + "/" + entry).c_str(), target, sizeof target) != 0) break;
            const char* slash = std::strrchr(target, '/');
            return walk->add(slash != nullptr ? slash + 1 : target);
        }
        return !walk->full();
    });
}

}  // namespace

int vxsysfs_find_name_links(const char* dir, const char* name, uint8_t* devname) {
    if (dir == nullptr || name == nullptr || devname == nullptr) return 0;
    int full = 0;
    EntryList links(dir, true);
    links.each([&](const char* entry) {
        if (chain_end(dir, entry) != name) return true;
        if (append(devname, std::string(dir) + "/" + entry + ";")) return true;
        full = 1;
        return false;
    });
    return full;
}

int32_t vxsysfs_get_devname(vxapi_priv_database* api_priv_data_inst, uint16_t tgtid, uint16_t lunid,
                            uint8_t* devname) {
    vxsysfs::trace_entered("vxsysfs_get_devname: entered");
    if (devname == nullptr) return 1;
    devname[0] = '\0';
    if (api_priv_data_inst == nullptr) return 1;

    char dir[VXSYSFS_PATH_SIZE];
    std::snprintf(dir, sizeof dir, "%.*s/%s/%s/%s/%u:%d:%u:%u", static_cast<int>(strnlen(sysfs_mnt_path, VXSYSFS_PATH_SIZE)),
                  sysfs_mnt_path, "bus", "scsi", "devices", api_priv_data_inst->host_no, 0, tgtid, lunid);
    NameWalk walk(devname);
    add_block_names(dir, &walk);
    if (!walk.full()) add_linked_names(dir, &walk);

    if (vxdbg_on(VXDBG_SYSFS)) {
        vxdbg_print("> devname==", 0, VXDBG_NONE, 0);
        vxdbg_print(reinterpret_cast<const char*>(devname), 0, VXDBG_NONE, 1);
    }
    return walk.found() ? 0 : 1;
}
