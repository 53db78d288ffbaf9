// The new-format persistent store of a driver module: its option string,
// held in "/etc/<model>.conf" and in the OPTIONS value of the driver's
// configuration module, read and saved whole; and the load-balancing tokens
// ("scsi-lbtype-L-keyK-tgtname=<16 hex>") that ride inside that string.
//
// A save is all or nothing: the option file (with its backup ".bak"), the
// configuration module and the driver's line of the modules file either all
// take the new store, or all keep what they held, and the status says which
// (0, or SDERR_CONFIG_FILE). Saves of different processes are serialised.
//
// A port number is a slot of api_priv_data (< 32); its model names the files.
// Every function refuses a slot without a usable module name with
// SDERR_INVALID_PARAMETER before any file is opened.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "failover/vx_fo_optstr.h"
#include "vxsdm_fo.h"

// Holds the lock of the store operations for a scope: one operation that
// reads and then saves a store at a time, across processes (a System V
// semaphore). Nested holders of one thread take it once.
class VxSemLock;
class VxFoStoreLock {
public:
    VxFoStoreLock();
    ~VxFoStoreLock();
    VxFoStoreLock(const VxFoStoreLock&) = delete;
    VxFoStoreLock& operator=(const VxFoStoreLock&) = delete;

private:
    std::unique_ptr<VxSemLock> lock_;
};

// ---------------------------------------------------------------- work records

// Gives each of the first n records (zeroed by the caller) a zeroed target
// list and LUN list. 0, or 1 when an allocation failed (what was given stays
// for vxapi_free_hbalist_databufs).
[[nodiscard]] uint32_t vxapi_alloc_hbalist_databufs(hbalist_entry* records, uint16_t n);
// Frees both lists of the first n records, each when present.
void vxapi_free_hbalist_databufs(hbalist_entry* records, uint16_t n);

// The 32 work records of an operation, freed when the object ends.
class VxFoRecords {
public:
    VxFoRecords() = default;
    ~VxFoRecords();
    VxFoRecords(const VxFoRecords&) = delete;
    VxFoRecords& operator=(const VxFoRecords&) = delete;
    // Zeroes the records and gives the first n their lists; false: no memory.
    [[nodiscard]] bool allocate(uint16_t n = VX_FO_STORE_ADAPTERS);
    // Zeroes the port names and the lists of every record.
    void clear();
    [[nodiscard]] hbalist_entry* get() { return records_; }

private:
    hbalist_entry records_[VX_FO_STORE_ADAPTERS] = {};
    uint16_t count_ = 0;
};

// The first record whose port name is all zero into *index: 0; 1 when all
// 32 are used.
[[nodiscard]] uint32_t vxapi_get_free_conf_inst(const hbalist_entry* records, uint32_t* index);

// Merges a caller's list into a record's list by port name: stored entries
// the caller lacks are dropped, the caller's new entries take the first free
// places. A place taken over by another port name starts from the parse
// defaults for its paired entry (LUN bytes, or TargetId, PortId and Control).
void update_new_targets_from_user(hbalist_entry* record, const FO_TARGET_DATA_LIST* user);
void update_new_luns_from_user(hbalist_entry* record, const FO_LUN_DATA_LIST* user);

// The text without its leading blanks and tabs: as a view into the text, or
// copied into dest (room for the text), which is returned (and may be
// dropped: it is dest).
[[nodiscard]] std::string_view RemoveLeadingSpaces(std::string_view text);
char* RemoveLeadingSpaces(const char* text, char* dest);

// ---------------------------------------------------------------- the store

// What reading a driver module's store found.
enum class VxFoStoreText : uint8_t {
    Read,    // *text holds the option string
    Empty,   // there is no store: an empty string
    Failed,  // a store exists but cannot be read whole: nothing may be saved over it
};

// The option string of a driver module: the configuration module first,
// then "/etc/<model>.conf" (missing: Empty). For a save (saving true) the
// file is skipped (Empty) while the driver's modules line still holds an
// old-format store ("vx2xopts="); a system without modules file has none.
[[nodiscard]] VxFoStoreText vx_fo_get_store_text(const char* model, bool saving, std::string* text);

// Parses every adapter of a store into the 32 records (with lists). 0 also
// for a text without adapters; else the parser's status: a store that parses
// only in part must not be saved back.
[[nodiscard]] uint32_t vx_fo_parse_store(const std::string& text, hbalist_entry* records);

// The load-balancing list of the store operations: FO_LB_POLICY_LIST with
// room for 8,192 entries. Instance: the slot whose option file receives the
// tokens (vxfoapi_set_all_lbtype).
constexpr uint32_t VX_FO_LB_STORE_ENTRIES = 8192;
struct FO_LB_POLICY_STORE_LIST {
    uint16_t Instance;
    uint16_t Count;
    uint8_t Reserved[28];
    FO_LB_POLICY_ENTRY Entry[VX_FO_LB_STORE_ENTRIES];
};
static_assert(sizeof(FO_LB_POLICY_STORE_LIST) == 196640);

// Saves text as the store of a driver module, with the tokens of lb (null:
// none) put back into it first: "/etc/<model>.conf" (keeping the previous
// file as ".bak"), the configuration module's OPTIONS and, with
// update_modules, the driver's line of the modules file. 0; SDERR_CONFIG_FILE
// with every file as it was; SDERR_OUT_OF_MEMORY.
[[nodiscard]] uint32_t vx_fo_save_store(const char* model, const std::string& text, const FO_LB_POLICY_STORE_LIST* lb,
                                        bool update_modules);

// One adapter's lists from its driver's store; the adapter is the wwn's
// bytes 8..15. 0 when a string was read (lists untouched when the adapter is
// not in it); SDERR_CONFIG_FILE without a store; SDERR_OUT_OF_MEMORY.
// FoGetDataFromPersistentStorage and FoSetDataToPersistentStorage: vx_fo_stores.h.

// ---------------------------------------------------------------- pieces of a save

// Installs line as "/etc/<model>.conf", the previous file kept as ".bak".
// 0, or SDERR_CONFIG_FILE with the file unchanged (also for a line of
// VX_FO_OPTSTR_SIZE characters or more, which the file's reader refuses).
[[nodiscard]] uint32_t vxapi_save_line_to_file(const char* model, const char* line);
// Puts "/etc/<model>.conf.bak" back as "/etc/<model>.conf". 0, or SDERR_CONFIG_FILE.
[[nodiscard]] uint32_t vxapi_restore_config_file(const char* model);
// *flag = 1 when the driver's options in "/etc/conf.modules" (else
// "/etc/modules.conf") hold the parameter vx2xopts, as kmod reads them, else
// 0. 0; SDERR_CONFIG_FILE when neither file opens (flag untouched) or the
// file cannot be read, or be read as it is written. *none,
// when given, tells the first of these two failures.
[[nodiscard]] uint32_t vxapi_read_old_conf_file(const char* model, uint8_t* flag, bool* none = nullptr);
// Makes the driver's modules line take its options from the configuration
// module, as kmod reads the file (base/vx_modconf.h): " ConfigRequired=1"
// after the module's name, and, outside modprobe-style files,
// " vx2xuseextopts=1" at the end of the line with every vx2xopts parameter
// removed; a parameter of those that stands keeps its value. The settings go
// into the driver's first options line; a line that loses its only
// parameter (a vx2xopts) goes whole. 0; SDERR_CONFIG_FILE when no modules file opens, kmod does not
// read it as it is written, the line would pass VX_CONF_LINE_MAX, or it
// cannot be replaced (unchanged). The port is not used.
[[nodiscard]] uint32_t vxapi_update_old_conf_file(const char* model, uint32_t port);

// ---------------------------------------------------------------- load-balancing tokens

// Collects the tokens of string into list (cleared first). 0;
// SDERR_CONFIG_FILE for a malformed token or more than 8,192 tokens;
// SDERR_OUT_OF_MEMORY.
[[nodiscard]] uint32_t vxfoapi_get_all_lbtype(FO_LB_POLICY_STORE_LIST* list, const char* string);
// Applies the list's entries to a copy of string and saves it as the store
// of slot list->Instance; with update_modules the driver's modules line is
// updated in the same save (vx_fo_save_store). 0; SDERR_INVALID_PARAMETER;
// SDERR_CONFIG_FILE (nothing saved); SDERR_OUT_OF_MEMORY.
[[nodiscard]] uint32_t vxfoapi_set_all_lbtype(const FO_LB_POLICY_STORE_LIST* list, const char* string,
                                              bool update_modules = false);
// The same in memory: applies the first Count entries of a list to *text.
// 0, or SDERR_CONFIG_FILE (malformed token, or the text would outgrow its
// VX_FO_OPTSTR_SIZE buffer) with *text unchanged.
[[nodiscard]] uint32_t vx_fo_apply_lbtypes(const FO_LB_POLICY_ENTRY* entries, uint32_t count, std::string* text);

// The store of a slot's driver module into *text, as every reader of the
// store reads it (vx_fo_get_store_text; saving: as a save reads it). 0;
// SDERR_CONFIG_FILE when there is no store (*missing set: an empty one) or
// it cannot be read; SDERR_INVALID_PARAMETER.
[[nodiscard]] uint32_t vxfoapi_get_data(uint32_t port, bool saving, std::string* text, bool* missing = nullptr);
// Saves string as the slot's store (vx_fo_save_store without tokens);
// flag 1 also updates the modules file.
[[nodiscard]] uint32_t vxfoapi_set_data(uint32_t port, const char* string, uint8_t flag);

// The pieces of the load-balancing operations. The type's lowest free key
// (256 when all are used) among the tokens of copy: 0, or SDERR_CONFIG_FILE
// for a token without "-key".
[[nodiscard]] uint32_t vxfoapi_get_lbtype_key(uint32_t type, uint32_t* key, std::string_view copy);
// The tokens of string into entries (room for max). 0; SDERR_CONFIG_FILE for
// a malformed token or more than max. *count is written only when a token
// was stored.
[[nodiscard]] uint32_t vxfoapi_get_lbtype(uint32_t port, FO_LB_POLICY_ENTRY* entries, uint16_t* count,
                                          const char* string, uint32_t max);
// Gives the target its type in *text (type 0: removes its token). 0, or
// SDERR_CONFIG_FILE with *text unchanged.
[[nodiscard]] uint32_t vxfoapi_set_lbtype(uint32_t port, const uint8_t* name, const uint32_t* type, std::string* text);
// The persistent road of ISDFoGetLBPolicy (set 0) and ISDFoSetLBPolicy (set 1).
[[nodiscard]] uint32_t vxfoapi_get_set_lbtype(uint32_t handle, uint16_t instance, FO_LB_POLICY_LIST* list, uint8_t set);
