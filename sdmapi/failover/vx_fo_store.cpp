// The new-format store of a driver module, read and saved whole: the option
// file "/etc/<model>.conf" and its backup, the OPTIONS value of the
// configuration module, and the driver's line of the modules file.
//
// A save keeps what each of them held before it starts and puts that back
// when a later step fails, so that it either completes or changes nothing.
#include "failover/vx_fo_store.h"

#include <cstring>

#include "base/vx_modconf.h"
#include "base/vx_sddbg.h"
#include "base/vx_sem.h"
#include "failover/vx_fo_files.h"
#include "failover/vx_fo_modtable.h"
#include "failover/vx_fo_optline.h"
#include "platform/vx_platform.h"
#include "vxsdm_status.h"

namespace {

constexpr const char* kBackup = ".bak";
constexpr const char* kModulesBackup = ".qbak";
// The files "/etc/conf.modules" and "/etc/modules.conf" that may hold an
// old-format store.
constexpr const char* kOldStoreFiles[] = {"/etc/conf.modules", "/etc/modules.conf"};

thread_local int store_lock_depth = 0;

std::string store_path(const char* model) { return "/etc/" + std::string(model) + ".conf"; }

// The first options line of the module whose name is followed by anything,
// a newline at least: the one that a save edits; npos when there is none.
size_t line_to_edit(const VxModConf& conf) {
    const std::vector<VxModLine>& lines = conf.lines();
    for (size_t l = 0; l < lines.size(); ++l) {
        if (lines[l].has_newline || lines[l].key_end < lines[l].text.size()) return l;
    }
    return std::string::npos;
}

// The files of a save as they were, and the undoing of its steps. The
// modules file is the last step: its install, like every install, leaves it
// and its backup as they were when it fails, so it has nothing to undo.
struct SaveUndo {
    const char* model;
    VxConfKept store, backup;
    bool module_held = false;  // the module's value could be read
    std::string module;

    // The module back to its old value: the value goes through the option
    // file, which the module copies whole.
    bool module_back() const {
        if (!module_held) return false;
        return vx_conf_replace_file(store.path, module) == SDERR_NO_ERROR && vxapi_set_opt_vals(model, nullptr) == 0;
    }
    // installed: the option file holds the new store, and its backup the
    // old one (no backup when there was no file before).
    void undo(bool installed, bool module_changed) const {
        const bool module_ok = !module_changed || module_back();
        // The option file back from that backup; without one, as it was.
        const bool restored = installed && vxapi_restore_config_file(model) == SDERR_NO_ERROR;
        const bool store_ok = restored || vx_conf_put_back(store);
        const bool backup_ok = vx_conf_put_back(backup);
        if (!module_ok) vxdbg_line(VXDBG_ERROR, ("vx_fo_save_store: module not restored: " + store.path).c_str());
        if (!store_ok) vxdbg_line(VXDBG_ERROR, ("vx_fo_save_store: not restored: " + store.path).c_str());
        if (!backup_ok) vxdbg_line(VXDBG_ERROR, ("vx_fo_save_store: not restored: " + backup.path).c_str());
    }
};

// Whether the module's value is other than before (or cannot be read).
bool module_differs(const SaveUndo& u) {
    std::unique_ptr<char[]> now(new (std::nothrow) char[VX_FO_OPTSTR_SIZE]());
    return !now || vxapi_get_opt_vals(u.model, now.get()) != 0 || u.module != now.get();
}

}  // namespace

// ---------------------------------------------------------------- lock

VxFoStoreLock::VxFoStoreLock() {
    if (store_lock_depth++ == 0) lock_ = std::make_unique<VxSemLock>(vxapi_sem_get(VX_SEM_KEY_STORE));
}

VxFoStoreLock::~VxFoStoreLock() {
    lock_.reset();
    --store_lock_depth;
}

// ---------------------------------------------------------------- pieces of a save

std::string_view RemoveLeadingSpaces(std::string_view text) {
    return text.substr(std::min(text.find_first_not_of(" \t"), text.size()));
}

char* RemoveLeadingSpaces(const char* text, char* dest) {
    const std::string_view rest = RemoveLeadingSpaces(std::string_view(text));
    std::memmove(dest, rest.data(), rest.size() + 1);
    return dest;
}

uint32_t vxapi_save_line_to_file(const char* model, const char* line) {
    if (!vx_fo_module_name_ok(model) || line == nullptr) return SDERR_INVALID_PARAMETER;
    // The file's reader takes less than VX_FO_OPTSTR_SIZE bytes: a longer line is not cut, but refused.
    const size_t len = strnlen(line, VX_FO_OPTSTR_SIZE);
    if (len == VX_FO_OPTSTR_SIZE) return SDERR_CONFIG_FILE;
    return vx_conf_replace_file(store_path(model), std::string_view(line, len), kBackup);
}

uint32_t vxapi_restore_config_file(const char* model) {
    if (!vx_fo_module_name_ok(model)) return SDERR_INVALID_PARAMETER;
    return vx_conf_restore(store_path(model), kBackup);
}

uint32_t vxapi_read_old_conf_file(const char* model, uint8_t* flag, bool* none) {
    if (none != nullptr) *none = false;
    if (!vx_fo_module_name_ok(model) || flag == nullptr) return SDERR_INVALID_PARAMETER;
    for (const char* path : kOldStoreFiles) {
        std::string text;
        const VxConfRead read = vx_conf_read_file(path, VX_CONF_FILE_LIMIT, &text);
        if (read == VxConfRead::Missing) continue;
        if (read == VxConfRead::Failed) return SDERR_CONFIG_FILE;
        const VxModConf conf(text, model);
        if (!conf.ok()) return SDERR_CONFIG_FILE;
        *flag = conf.last("vx2xopts") ? 1 : 0;
        return SDERR_NO_ERROR;
    }
    if (none != nullptr) *none = true;
    return SDERR_CONFIG_FILE;
}

namespace {

// The modules file's new text for the driver's line (see
// vxapi_update_old_conf_file), made without writing anything.
struct ModulesEdit {
    std::string path, text, out;
    bool dropped = false;  // an old-format store leaves the line: keep a backup
};

uint32_t edit_modules_file(const char* model, ModulesEdit* e, bool* none) {
    if (none != nullptr) *none = false;
    if (!vx_fo_module_name_ok(model)) return SDERR_INVALID_PARAMETER;
    if (vx_fo_read_modules_file(&e->path, &e->text) != SDERR_NO_ERROR) {
        if (none != nullptr) *none = e->path.empty();
        return SDERR_CONFIG_FILE;
    }
    const bool modprobe = e->path == "/etc/modprobe.conf.local" || e->path == "/etc/modprobe.conf";
    VxModConf conf(e->text, model);
    if (!conf.ok()) return SDERR_CONFIG_FILE;
    if (conf.lines().empty()) {
        std::string line(1, '\n');
        line.append(vx_conf_options_key(model));
        conf.append_text(line.append(modprobe ? " ConfigRequired=1\n" : " ConfigRequired=1 vx2xuseextopts=1\n"));
    } else if (const size_t line = line_to_edit(conf); line != std::string::npos) {
        // A setting that stands keeps its value.
        if (!conf.last("ConfigRequired")) conf.insert_after_key(line, " ConfigRequired=1");
        if (!modprobe && !conf.last("vx2xuseextopts")) {
            // The old store goes; the parameters around it stay.
            if (conf.last("vx2xopts")) {
                conf.remove_all("vx2xopts");
                e->dropped = true;
            }
            conf.append_to_line(line, " vx2xuseextopts=1");
        }
    }
    return conf.result(VX_CONF_LINE_MAX, &e->out) ? SDERR_NO_ERROR : SDERR_CONFIG_FILE;
}

}  // namespace

uint32_t vxapi_update_old_conf_file(const char* model, uint32_t) {
    ModulesEdit edit;
    const uint32_t status = edit_modules_file(model, &edit, nullptr);
    if (status != SDERR_NO_ERROR || edit.out == edit.text) return status;
    return vx_conf_replace_file(edit.path, edit.out, edit.dropped ? kModulesBackup : nullptr);
}

// ---------------------------------------------------------------- the store

VxFoStoreText vx_fo_get_store_text(const char* model, bool saving, std::string* text) {
    if (!vx_fo_module_name_ok(model)) return VxFoStoreText::Failed;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[VX_FO_OPTSTR_SIZE]());
    if (!buffer) return VxFoStoreText::Failed;
    if (vxapi_get_opt_vals(model, buffer.get()) == 0) {
        text->assign(buffer.get(), strnlen(buffer.get(), VX_FO_OPTSTR_SIZE));
        return VxFoStoreText::Read;
    }
    if (saving) {
        // While the modules line holds an old-format store, the option file
        // is not the driver's; without a modules file there is none.
        uint8_t flag = 0;
        bool none = false;
        if (vxapi_read_old_conf_file(model, &flag, &none) != SDERR_NO_ERROR && !none) return VxFoStoreText::Failed;
        if (flag == 1) return text->clear(), VxFoStoreText::Empty;
    }
    bool missing = false;
    if (vxapi_get_opt_from_file(model, buffer.get(), &missing) == SDERR_NO_ERROR) {
        text->assign(buffer.get(), strnlen(buffer.get(), VX_FO_OPTSTR_SIZE));
        return VxFoStoreText::Read;
    }
    text->clear();
    return missing ? VxFoStoreText::Empty : VxFoStoreText::Failed;
}

uint32_t vx_fo_parse_store(const std::string& text, hbalist_entry* records) {
    if (text.find("scsi-vxa") == std::string::npos) return SDERR_NO_ERROR;
    return vxapi_get_data_from_line(text.c_str(), records);
}

uint32_t vx_fo_save_store(const char* model, const std::string& text, const FO_LB_POLICY_STORE_LIST* lb,
                          bool update_modules) {
    if (!vx_fo_module_name_ok(model) || (lb != nullptr && lb->Count > VX_FO_LB_STORE_ENTRIES)) {
        return SDERR_INVALID_PARAMETER;
    }
    std::string full = text;
    if (lb != nullptr) {
        if (const uint32_t status = vx_fo_apply_lbtypes(lb->Entry, lb->Count, &full); status != 0) return status;
    }
    if (full.size() >= VX_FO_OPTSTR_SIZE || full.find('\0') != std::string::npos) return SDERR_CONFIG_FILE;

    // The modules file's new text is made up front, before anything is
    // written, only to learn that it can be: a modules file that cannot be
    // read as kmod reads it fails the save with every file as it was. The
    // step that writes it (vxapi_update_old_conf_file) makes it again from
    // the same file. Without a modules file there is none to update.
    bool write_modules = false;
    if (update_modules) {
        ModulesEdit modules;
        bool none = false;
        const uint32_t status = edit_modules_file(model, &modules, &none);
        if (status != SDERR_NO_ERROR && !none) return SDERR_CONFIG_FILE;
        write_modules = status == SDERR_NO_ERROR;
    }

    SaveUndo u{model, {}, {}, false, {}};
    // An option file that cannot be read whole is never saved over.
    if (!vx_conf_keep(store_path(model), VX_FO_OPTSTR_SIZE, &u.store) ||
        !vx_conf_keep(u.store.path + kBackup, VX_CONF_FILE_LIMIT, &u.backup)) {
        return SDERR_CONFIG_FILE;
    }
    std::unique_ptr<char[]> module(new (std::nothrow) char[VX_FO_OPTSTR_SIZE]());
    if (!module) return SDERR_OUT_OF_MEMORY;
    u.module_held = vxapi_get_opt_vals(model, module.get()) == 0;
    if (u.module_held) u.module = module.get();

    if (vxapi_save_line_to_file(model, full.c_str()) != SDERR_NO_ERROR) {
        u.undo(false, false);
        return SDERR_CONFIG_FILE;
    }
    if (vxapi_set_opt_vals(model, nullptr) != 0) {
        u.undo(true, u.module_held && module_differs(u));
        return SDERR_CONFIG_FILE;
    }
    // The save touches no modules file before this step, which so makes the
    // same text again. The port is not used.
    if (write_modules && vxapi_update_old_conf_file(model, 0) != SDERR_NO_ERROR) {
        u.undo(true, true);
        return SDERR_CONFIG_FILE;
    }
    return SDERR_NO_ERROR;
}
