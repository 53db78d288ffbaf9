// The files of a folder of the simulated host as a change must leave them
// when it fails: every entry with its type, and a file with its mode, owner,
// group and text.
#pragma once

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "sim_host.h"

namespace sim {

// Every entry under dir, sorted, one line each: a folder as "<path>/" (its
// entries follow), a link as "<path> -> <target>", a file as
// "<path> <mode> <uid>:<gid> <text>".
inline std::vector<std::string> file_tree(SimHost& host, const std::string& dir) {
    std::vector<std::string> out, names;
    if (host.list_dir(dir.c_str(), names) != 0) return out;
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string path = dir + "/" + name;
        struct stat st {};
        if (host.lstat(path.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            out.push_back(path + "/");
            const std::vector<std::string> inside = file_tree(host, path);
            out.insert(out.end(), inside.begin(), inside.end());
        } else if (S_ISLNK(st.st_mode)) {
            char to[PATH_MAX];
            const ssize_t n = host.readlink(path.c_str(), to, sizeof to);
            out.push_back(path + " -> " + std::string(to, static_cast<size_t>(std::max<ssize_t>(n, 0))));
        } else {
            char attrs[64];
            std::snprintf(attrs, sizeof attrs, " %04o %u:%u ", static_cast<unsigned>(st.st_mode & 07777),
                          static_cast<unsigned>(st.st_uid), static_cast<unsigned>(st.st_gid));
            out.push_back(path + attrs + host.read_file(path));
        }
    }
    return out;
}

// A file's permission bits, owner and group (a link followed); none when
// there is no file.
using FileAttrs = std::tuple<mode_t, uid_t, gid_t>;
inline std::optional<FileAttrs> file_attrs(SimHost& host, const std::string& path) {
    struct stat st {};
    if (host.stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileAttrs{st.st_mode & 07777, st.st_uid, st.st_gid};
}

}  // namespace sim
