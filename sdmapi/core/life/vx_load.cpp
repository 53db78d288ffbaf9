// Library load and unload, and the open and close of one port.
//
// The event thread polls the ports with copies of their records, descriptor
// included, while it holds the dbupdate semaphore. So no descriptor of a port
// is closed while the thread may use it: unload stops and joins the thread
// before it tears the ports down, and the close of a port's last open holds
// the dbupdate semaphore around the close, so that a poll pass either ran
// before it or sees the port closed.
#include "core/life/vx_load.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/vx_env.h"
#include "base/vx_port_road.h"
#include "base/vx_request.h"
#include "base/vx_sddbg.h"
#include "base/vx_sem.h"
#include "core/io/vx_query.h"
#include "core/life/vx_discovery.h"
#include "core/life/vx_event.h"
#include "core/life/vx_port_attach.h"
#include "core/life/vx_shared.h"
#include "platform/vx_platform.h"
#include "transport/vx_apidev.h"
#include "transport/vx_netlink.h"
#include "transport/vx_sysfs.h"

std::atomic<uint8_t> api_signal_handler_in_process{0};

namespace {

// The driver names of the old road, in the order they are tried; the last two
// not on VMware ESX.
constexpr const char* kNewDriver = "vxa2xxx";
constexpr const char* kOldDriver = "vxa2x00";
constexpr const char* kOldDrivers2 = "vxa2200";
constexpr const char* kOldDrivers3 = "vxa2300";

void trace_errno(const char* text, int err) {
    if (vxdbg_on(VXDBG_ERROR)) vxdbg_print(text, static_cast<uint32_t>(err), VXDBG_DEC, 1);
    errno = err;
}

// The semaphore set of a key, made when missing; -1 traced as the failed
// creation of the `what` semaphore, with errno from semget.
int get_semaphore(int key, const char* what) {
    const int id = vxapi_sem_get(key);
    if (id < 0 && vxdbg_on(VXDBG_ERROR)) {
        const int err = errno;
        char text[128];
        std::snprintf(text, sizeof text,
                      "libvxsdm: WARNING - semget function not supported.\n Failed creation of %s semaphore. errno=",
                      what);
        trace_errno(text, err);
    }
    return id;
}

// Holds the load semaphore for a scope. A set that vanished from under the
// process (removed by a library of another make) is attached or made afresh.
class LoadLock {
public:
    LoadLock() : held_(take()) {}
    ~LoadLock() {
        if (held_) (void)vxapi_sem_signal(api_thread_sem_id);  // a release has no one to report to
    }
    LoadLock(const LoadLock&) = delete;
    LoadLock& operator=(const LoadLock&) = delete;

private:
    static bool take() {
        if (api_thread_sem_id < 0) return false;
        if (vxapi_sem_wait(api_thread_sem_id) == 0) return true;
        if (errno != EIDRM && errno != EINVAL) return false;
        api_thread_sem_id = vxapi_sem_get(VX_SEM_KEY_LOAD);
        return api_thread_sem_id >= 0 && vxapi_sem_wait(api_thread_sem_id) == 0;
    }

    bool held_;
};

bool port_list_exists() {
    VxListLock lock(vxapi_list_mutex());
    return api_priv_database != nullptr;
}

// These two leave the list's cursor where discovery left it: where the
// next record is inserted does not depend on them.
bool first_port_is_sysfs() {
    VxListLock lock(vxapi_list_mutex());
    if (api_priv_database == nullptr) return false;
    DL_node* node = nullptr;
    dlist_for_each_nomark(api_priv_database, node) {
        return vxapi_is_sysfs_port(static_cast<const vxapi_priv_database*>(node->data));
    }
    return false;
}

void set_feature_on_every_port(uint32_t bit) {
    VxListLock lock(vxapi_list_mutex());
    if (api_priv_database == nullptr) return;
    DL_node* node = nullptr;
    dlist_for_each_nomark(api_priv_database, node) {
        static_cast<vxapi_priv_database*>(node->data)->features |= bit;
    }
}

void free_records() {
    vxapi_free_api_priv_data_mem();
    vxapi_free_api_phy_info_mem();
}

// The ioctl roads in their order, each only while no earlier one found a
// port. A road succeeded when it found ports (*counter), whatever its last
// attempt at a further instance gave: that is all a road's result tells, so
// it is not read.
void find_ioctl_ports(uint32_t* counter) {
    (void)vxapi_find_all_instances_n(kNewDriver, counter);
    if (*counter == 0) (void)vxapi_find_all_instances_o(kOldDriver, counter);
    if (*counter == 0 && OS_Type != VX_OS_ESX) {
        (void)vxapi_find_all_instances_o(kOldDrivers2, counter);
        if (*counter == 0) (void)vxapi_find_all_instances_o(kOldDrivers3, counter);
    }
}

// Opens the shared data file. 0, also on a host without System V
// semaphores (the library then runs without the shared database); 1.
int open_shared_database() {
    int handle = 0;
    if (vxapi_open_database(&handle) == 0) return 0;
    if (errno == ENOSYS) {
        api_use_database = 0;
        vxdbg_line(VXDBG_ERROR, "vxapi_load_lib: function not supported.");
        return 0;
    }
    vxdbg_line(VXDBG_ERROR, "vxapi_load_lib: ERROR opening database.");
    return 1;
}

// Stops and joins the event thread, so that nothing polls the ports while
// they are torn down.
void stop_event_thread() {
    if (vxapi_ev_thread_id == 0) return;
    vxapi_ev_terminate.store(1);
    const int rc = vx::sys().thread_join(vxapi_ev_thread_id, nullptr);
    if (rc == 0) {
        vxapi_ev_thread_id = 0;
    } else if (vxdbg_on(VXDBG_ERROR)) {
        vxdbg_print("vxapi_unload_lib: event thread not terminated error=", static_cast<uint32_t>(rc), VXDBG_DEC,
                    1);
    }
}

void trace_slot(uint32_t bits, const char* before, const char* after) {
    if (!vxdbg_on(bits)) return;
    vxdbg_print(before, api_library_instance, VXDBG_DEC, 0);
    vxdbg_print(after, 0, VXDBG_NONE, 1);
}

}  // namespace

// ---------------------------------------------------------------- load and unload

int vxapi_load_lib() {
    if (vx::sys().geteuid() != 0) {
        vxdbg_line(VXDBG_NOTICE, "libvxsdm: ERROR - libvxsdm must be loaded with root privileges.");
        return 1;
    }
    if (vxdbg_on(VXDBG_ERROR)) {
        vxdbg_print("API Version: ", 0, VXDBG_NONE, 0);
        vxdbg_print(VX_API_VERSION_TEXT, 0, VXDBG_NONE, 1);
    }

    vxapi_check_esx();
    if (OS_Type != VX_OS_ESX) {
        vxapi_load_vioctlmod();
        (void)vxapi_is_udevadm_supported();  // only the flag it leaves matters here
    }

    if (api_thread_sem_id < 0) {
        api_thread_sem_id = get_semaphore(VX_SEM_KEY_LOAD, "thread");
        if (api_thread_sem_id < 0) return 1;
    }
    LoadLock lock;
    if (port_list_exists()) return 0;

    // The flash lock comes before discovery: a load that cannot have it
    // fails before any request reaches a driver. It is got afresh at every
    // load (the last process on the host may have removed the set this
    // process attached to before) and kept, also when the load finds no port
    // or fails: the last instance's close of the shared file removes it.
    api_flash_sem_id = get_semaphore(VX_SEM_KEY_FLASH, "flash");
    if (api_flash_sem_id < 0) return 1;

    uint32_t counter = 0;
    find_ioctl_ports(&counter);
    const bool sysfs_mounted = vxsysfs_init() == 0;
    int rc = 0;
    if (counter == 0 && sysfs_mounted) rc = vxsysfs_supported_driver_exist(&counter);

    const bool found = rc == 0 && counter != 0 && port_list_exists();
    if (found) {
        rc = open_shared_database();
        if (rc == 0 && first_port_is_sysfs()) vxapi_open_netlink_socket();
    } else {
        vxdbg_line(VXDBG_ERROR, "vxapi_load_lib: ERROR finding adapters.");
    }

    if (rc != 0 || counter == 0) {
        free_records();
    } else if (first_port_is_sysfs()) {
        vxapi_open_apidev();
    }
    return rc;
}

int vxapi_unload_lib() {
    trace_slot(VXDBG_ERROR | VXDBG_EVENT, "vxapi_unload_lib: lib inst ", " going to call cleanup_hbas.");
    vxapi_stop_signal_watcher();
    LoadLock lock;

    stop_event_thread();
    vxapi_cleanup_hbas();
    vxapi_legacy_sysfs_mode(false);
    vxapi_nl_close_sockets();

    int rc = 0;
    if (api_dbupdate_sem_id >= 0 && api_shm_fildes >= 0 && api_shared_data != nullptr) {
        rc = vxapi_close_database(api_shm_fildes);
    } else {
        trace_slot(VXDBG_ERROR, "vxapi_unload_lib: inst ", " db not opened. exiting.");
    }
    // Closed on both roads: the next load would open another one.
    vxapi_close_apidev();
    free_records();
    return rc;
}

void vxapi_after_fork_in_child() {
    vxdbg_line(VXDBG_STEP, "vxapi_after_fork_in_child: taking a slot and sockets of this process's own.");
    const bool events_ran = vxapi_ev_thread_id != 0;
    // A socket shared with the parent would hand a reply to whichever
    // process reads first: the child opens its own.
    const bool had_sockets = gnl_fd >= 0 || gnl_scsi_fc_fd >= 0;
    vxapi_nl_close_sockets();
    if (had_sockets) vxapi_open_netlink_socket();
    if (vxapi_shared_file_after_fork(events_ran) != 0) {
        vxdbg_line(VXDBG_ERROR, "vxapi_after_fork_in_child: no slot of its own in the shared data file.");
    }
}

void vxapi_cleanup_hbas() {
    VxListLock lock(vxapi_list_mutex());
    if (api_priv_database == nullptr) {
        vxdbg_line(VXDBG_ERROR, "vxapi_cleanup_hbas: api_priv_datanot found, exiting");
        return;
    }
    const bool shared = api_use_database == 1 && api_dbupdate_sem_id >= 0;
    dlist_start(api_priv_database);
    while (auto* rec = static_cast<vxapi_priv_database*>(dlist_next(api_priv_database))) {
        if (shared) {
            rec->open_cnt = 0;
            rec->features &= ~VX_FEAT_AEN;
            vxapi_unreg_all_events(rec->apihandle, rec);
        } else {
            trace_slot(VXDBG_ERROR, "vxapi_cleanup_hbas: lib inst=", " disable AEN. No shared database.");
            uint32_t status = 0;
            // Teardown goes on whatever the driver answers.
            (void)vxapi_async_event_reg(rec->oshandle, rec, 0, nullptr, &status);
            rec->features &= ~VX_FEAT_AEN;
        }
        if (rec->oshandle != -1) {
            vxdbg_line(VXDBG_ERROR, "vxapi_cleanup_hbas: close handle ", static_cast<uint32_t>(rec->oshandle),
                       VXDBG_INT);
            vx::sys().close(rec->oshandle);
        }
        vxapi_legacy_slot_close(rec->apihandle, 0);
        rec->oshandle = -1;
        rec->apihandle = 0;
        std::memset(rec->phys_path, 0, sizeof rec->phys_path);
    }
}

void vxapi_unreg_all_events(uint32_t handle, vxapi_priv_database* api_priv_data_inst) {
    (void)handle;
    if (api_priv_data_inst == nullptr) return;
    VxListLock lock(vxapi_list_mutex());
    vxapi_aen_callback_table* cbs = api_priv_data_inst->api_event_cbs;
    if (cbs == nullptr || cbs->hbapt_event_cb.cb_hba_port_event == nullptr) return;
    if (cbs->hbapt_event_cb.prmcb_handle != nullptr) {
        std::free(cbs->hbapt_event_cb.prmcb_handle);
        cbs->hbapt_event_cb.prmcb_handle = nullptr;
    }
    api_priv_data_inst->port_flags &= ~VX_PORT_FLAG_EVENT_CB;
    cbs->hbapt_event_cb.cb_hba_port_event = nullptr;
}

// Descriptor 0 is a socket like any other: only -1 means the open failed.
void vxapi_open_netlink_socket() {
    if (gnl_fd == -1) {
        gnl_fd = vxapi_nl_open();
        if (gnl_fd >= 0) set_feature_on_every_port(VX_FEAT_NL_VENDOR);
    }
    if (gnl_scsi_fc_fd == -1) {
        gnl_scsi_fc_fd = vxapi_nl_scsi_fc_open();
        if (gnl_scsi_fc_fd >= 0) set_feature_on_every_port(VX_FEAT_NL_SCSI_FC);
    }
}

// ---------------------------------------------------------------- one port

int vxapi_open_adapter(vxapi_priv_database* api_priv_data_inst, int* papi_handle, uint32_t* pret_err) {
    if (api_use_database == 0) return 2;
    VxListLock lock(vxapi_list_mutex());
    uint32_t position = 0;
    if (api_priv_data_inst == nullptr ||
        vxapi_get_instance_from_api_priv_inst(api_priv_data_inst, &position) != 0) {
        vxdbg_line(VXDBG_ERROR, "vxapi_open_adapter: get instance failed");
        return 1;
    }
    vxapi_priv_database* rec = api_priv_data_inst;
    if (vxapi_is_sysfs_port(rec)) {
        // An open port keeps its handle: a handle given out stays valid.
        if (rec->open_cnt == 0 || rec->apihandle == 0) rec->apihandle = vxapi_assign_apihandle(rec, position);
    } else if (rec->open_cnt == 0) {
        char path[sizeof rec->phys_path + 1] = {};
        std::memcpy(path, rec->phys_path, sizeof rec->phys_path);
        const int fd = vx::sys().open(path, O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            const int err = errno;
            if (pret_err != nullptr) *pret_err = static_cast<uint32_t>(err);
            if (vxdbg_on(VXDBG_ERROR)) {
                vxdbg_print("vxapi_open_adapter(", position, VXDBG_DEC, 0);
                vxdbg_print("): error opening adapter=", static_cast<uint32_t>(err), VXDBG_DEC, 0);
                vxdbg_print(", fd=", static_cast<uint32_t>(fd), VXDBG_INT, 1);
            }
            return 1;
        }
        rec->oshandle = fd;
        rec->apihandle = vxapi_assign_apihandle(rec, position);
    }
    rec->open_cnt += 1;
    vxapi_legacy_slot_open(rec, position);
    if (papi_handle != nullptr) *papi_handle = static_cast<int>(rec->apihandle);
    return 0;
}

int vxapi_close_adapter(vxapi_priv_database* api_priv_data_inst, uint32_t* perr) {
    if (api_priv_data_inst == nullptr) {
        vxdbg_line(VXDBG_ERROR, "vxapi_close_adpter: api_priv_data_instnot found, exiting");
        return 1;
    }
    vxapi_priv_database* rec = api_priv_data_inst;
    // A poll pass of the event thread holds the dbupdate semaphore while it
    // uses the descriptors it copied: the last close waits for it.
    VxSemLock pass_lock(rec->open_cnt == 1 ? api_dbupdate_sem_id : -1);
    VxListLock lock(vxapi_list_mutex());
    if (rec->open_cnt == 0) return 0;
    if (rec->open_cnt > 1) {
        rec->open_cnt -= 1;
        vxapi_legacy_slot_close(rec->apihandle, rec->open_cnt);
        return 0;
    }
    if (!vxapi_is_sysfs_port(rec) && vx::sys().close(rec->oshandle) != 0) {
        if (perr != nullptr) *perr = static_cast<uint32_t>(errno);
        return 1;
    }
    vxapi_legacy_slot_close(rec->apihandle, 0);
    rec->oshandle = -1;
    rec->apihandle = 0;
    rec->open_cnt = 0;
    return 0;
}
