// Small helpers of the sysfs queries: the entry lists of a sysfs directory,
// attribute objects, the attributes of a port's SCSI host and FC host, and
// the entry trace.
#pragma once

#include <cstdint>
#include <cstring>

#include "base/vx_records.h"
#include "base/vx_request.h"
#include "base/vx_sddbg.h"
#include "platform/vx_platform.h"
#include "transport/vx_sysfs_prim.h"

namespace vxsysfs {

// The entries of a directory: as a list of directories, else (class
// directories hold links on newer kernels) as a list of links. Closed when
// it goes out of scope; empty when neither list opens.
class EntryList {
public:
    explicit EntryList(const char* dir) : list_(vx::sys().sysfs_open_directory_list(dir)) {
        if (list_ == nullptr) list_ = vx::sys().sysfs_open_link_list(dir);
    }
    // Only one kind of list.
    EntryList(const char* dir, bool links)
        : list_(links ? vx::sys().sysfs_open_link_list(dir) : vx::sys().sysfs_open_directory_list(dir)) {}
    ~EntryList() {
        if (list_ != nullptr) vx::sys().sysfs_close_list(list_);
    }
    EntryList(const EntryList&) = delete;
    EntryList& operator=(const EntryList&) = delete;

    [[nodiscard]] bool is_open() const { return list_ != nullptr; }
    // Calls visit(name) for each entry in the list's order until it returns false.
    template <typename Visit>
    void each(Visit visit) {
        if (list_ == nullptr) return;
        char* entry;
        dlist_for_each_data(list_, entry, char) {
            if (!visit(static_cast<const char*>(entry))) break;
        }
    }

private:
    struct dlist* list_;
};

// An attribute object, closed when it goes out of scope.
class Attr {
public:
    explicit Attr(const char* path) : attr_(path != nullptr ? vx::sys().sysfs_open_attribute(path) : nullptr) {}
    ~Attr() {
        if (attr_ != nullptr) vx::sys().sysfs_close_attribute(attr_);
    }
    Attr(const Attr&) = delete;
    Attr& operator=(const Attr&) = delete;

    [[nodiscard]] bool is_open() const { return attr_ != nullptr; }
    // Reads the value; false when it cannot be read.
    [[nodiscard]] bool read() {
        return attr_ != nullptr && vx::sys().sysfs_read_attribute(attr_) == 0 && attr_->value != nullptr;
    }
    // After a read: the value's bytes and their number.
    [[nodiscard]] const char* value() const { return attr_->value; }
    [[nodiscard]] size_t length() const { return attr_->len; }
    [[nodiscard]] struct sysfs_attribute* get() const { return attr_; }

private:
    struct sysfs_attribute* attr_;
};

[[nodiscard]] inline bool starts_with(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// The text attribute `name` of the directory whose path (ending in "/")
// ends at end; empty when it cannot be read or its path does not fit
// (*answer, when given, says what became of the read; a path that does not
// fit is Absent).
inline void dir_text(char* path, char* end, const char* name, char* text, uint32_t size,
                     VxAttrAnswer* answer = nullptr) {
    if (answer != nullptr) *answer = VxAttrAnswer::Absent;
    if (size == 0) return;
    text[0] = '\0';
    if (vxsysfs_path_append(path, end, name) != nullptr) vxsysfs_get_str_attr(path, text, size, answer);
}

// Text attributes of the SCSI host and the FC host of that number.
inline void scsi_host_text(uint32_t host_no, const char* name, char* text, uint32_t size,
                           VxAttrAnswer* answer = nullptr) {
    char path[VXSYSFS_PATH_SIZE];
    dir_text(path, vxsysfs_get_scsi_host_path(path, static_cast<uint16_t>(host_no)), name, text, size, answer);
}

// A text of the SCSI host that the call copies into a field of its own: one
// longer than the field is its first size-1 characters, as a bounded copy
// takes them, and came; only a read that failed does not come.
inline void scsi_host_field(uint32_t host_no, const char* name, char* text, uint32_t size, VxAttrAnswer* answer) {
    scsi_host_text(host_no, name, text, size, answer);
    if (*answer == VxAttrAnswer::TooLarge) *answer = VxAttrAnswer::Came;
}

inline void fc_host_text(uint32_t host_no, const char* name, char* text, uint32_t size,
                         VxAttrAnswer* answer = nullptr) {
    char path[VXSYSFS_PATH_SIZE];
    dir_text(path, vxsysfs_get_fc_host_path(path, static_cast<uint16_t>(host_no)), name, text, size, answer);
}

// A decimal attribute of the SCSI host; 0 when it cannot be read or is no
// number of at most max (*answer, when given, says which).
[[nodiscard]] inline uint32_t scsi_host_number(uint32_t host_no, const char* name, VxAttrAnswer* answer = nullptr,
                                               uint32_t max = UINT32_MAX) {
    if (answer != nullptr) *answer = VxAttrAnswer::Absent;
    char path[VXSYSFS_PATH_SIZE];
    char* end = vxsysfs_get_scsi_host_path(path, static_cast<uint16_t>(host_no));
    if (vxsysfs_path_append(path, end, name) == nullptr) return 0;
    return vxsysfs_get_int_attr(path, answer, max);
}

// The reads behind one answer of a call: the first that did not come is
// what the call reports (vxsysfs_answer_status), so that no value that never
// came is reported as data.
class Answers {
public:
    // Notes a read; true when it came.
    bool take(VxAttrAnswer answer) {
        if (answer != VxAttrAnswer::Came && first_ == VxAttrAnswer::Came) first_ = answer;
        return answer == VxAttrAnswer::Came;
    }
    // Notes the read of an attribute that a driver may lack: absent, its
    // field keeps its default and the call goes on. True when it came.
    bool take_optional(VxAttrAnswer answer) {
        if (answer == VxAttrAnswer::Absent) return false;
        return take(answer);
    }
    [[nodiscard]] bool came() const { return first_ == VxAttrAnswer::Came; }
    [[nodiscard]] VxAttrAnswer first() const { return first_; }
    [[nodiscard]] uint32_t status() const { return vxsysfs_answer_status(first_); }
    [[nodiscard]] uint32_t record_status() const;

private:
    VxAttrAnswer first_ = VxAttrAnswer::Came;
};

// The status of a query whose record the management API hands out also
// with a data overrun (node, port, discovered port and target): there a
// value past its field fails plainly, so that no caller takes the record.
[[nodiscard]] inline uint32_t record_status(VxAttrAnswer answer) {
    return answer == VxAttrAnswer::TooLarge ? EXT_STATUS_ERR : vxsysfs_answer_status(answer);
}

inline uint32_t Answers::record_status() const { return vxsysfs::record_status(first_); }

[[nodiscard]] inline bool has_phys_path(const vxapi_priv_database* rec) {
    return rec != nullptr && rec->phys_path[0] != 0;
}

[[nodiscard]] inline uint16_t device_id_of(const vxapi_priv_database* rec) {
    return rec != nullptr && rec->phy_info != nullptr ? rec->phy_info->device_id : 0;
}

inline void trace_entered(const char* text) { vxdbg_line(VXDBG_SYSFS, text); }

// A query's status word: the caller's, or one of its own when the caller
// gave none; set at once to its first value.
class Status {
public:
    Status(uint32_t* word, uint32_t value) : word_(word != nullptr ? word : &own_) { *word_ = value; }
    Status(const Status&) = delete;
    Status& operator=(const Status&) = delete;
    void operator=(uint32_t value) { *word_ = value; }

private:
    uint32_t own_ = 0;
    uint32_t* word_;
};

// The start of a query into a record: the entry trace, the record zeroed.
// False, with nothing more to do, without a record or for a port record
// without its PCI function's path.
template <class Record>
[[nodiscard]] bool begin_query(const char* entered, const vxapi_priv_database* rec, Record* record) {
    trace_entered(entered);
    if (record == nullptr) return false;
    std::memset(record, 0, sizeof *record);
    return has_phys_path(rec);
}

}  // namespace vxsysfs
