/* A plain C99 program against the public header and the shared library:
 * the header compiles as C, the records have the same layout in C as in
 * the library, and a few functions answer through the shared library. */
#define _POSIX_C_SOURCE 200809L /* fork, waitpid, alarm, pause */

#include <signal.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "vxsdm.h"

/* A compile-time check that works in C99. */
#define C_ASSERT(name, cond) typedef char assert_##name[(cond) ? 1 : -1]

C_ASSERT(fo_luns, sizeof(FO_LUN_DATA_LIST) == 1056800);
C_ASSERT(fo_paths, sizeof(FO_PATHS_INFO) == 11304 && sizeof(FO_TARGET_DATA_LIST) == 8224);
C_ASSERT(node_property, sizeof(DEVICENODEPROPERTY) == 388);
C_ASSERT(port_property, sizeof(DEVICEPORTPROPERTY) == 148);
C_ASSERT(disc_property, sizeof(DISCTARGETPROPERTY) == 156);
C_ASSERT(chip_property, sizeof(CHIPPROPERTY) == 80);
C_ASSERT(driver_property, sizeof(DRIVERPROPERTY) == 104);
C_ASSERT(firmware_property, sizeof(FIRMWAREPROPERTY) == 104);
C_ASSERT(device_info, sizeof(DEVICEINFO) == 300);
C_ASSERT(device_info_entry, sizeof(DEVICEINFOENTRY) == 292);
C_ASSERT(cna_port, sizeof(CNAPORTPROPERTY) == 128);
C_ASSERT(layout_region, sizeof(SDM_OPT_ROM_REGION) == 8);
C_ASSERT(destination, sizeof(DESTINATIONADDRESS) == 12);
C_ASSERT(feature_entry, sizeof(HBA_FEATURE_ENTRY) == 88);
C_ASSERT(feature_setting, sizeof(HBA_FEATURE_SETTING) == 16);
C_ASSERT(async_event, sizeof(ASYNCEVENT) == 16);
C_ASSERT(statistics, sizeof(STATISTICS) == 176);
C_ASSERT(loopback_status, sizeof(LOOPBACKSTATUS) == 140);
C_ASSERT(board_temp, sizeof(BOARD_TEMP) == 64 && offsetof(BOARD_TEMP, FracTemp) == 2);
C_ASSERT(qos_entry, sizeof(SDM_QOS_ENTRY) == 32 && offsetof(SDM_QOS_ENTRY, WWPN) == 4);
C_ASSERT(qos_config, sizeof(SDM_QOS_CONFIG) == 36 && offsetof(SDM_QOS_CONFIG, Entry) == 4);
C_ASSERT(sfp_data, sizeof(SD_SFP_DATA) == 512 && offsetof(SD_SFP_DATA, SFPDataA2) == 256);
C_ASSERT(vport_info, sizeof(VPORT_INFO) == 36 && offsetof(VPORT_INFO, wwnn) == 20);
C_ASSERT(tarno_mgt, sizeof(SD_TARNO_MGT) == 32 && sizeof(TARNO_ACCESS_PARAMETERS) == 12 &&
                        offsetof(TARNO_MANAGE_INFO, TotalByteCount) == 16 &&
                        offsetof(TARNO_MANAGE_INFO, pDataBytes) == 24 && offsetof(TARNO_UPDATE_FW, pFwDataBytes) == 8);

static int failures = 0;

static void expect(int ok, const char* what) {
    if (!ok) {
        fprintf(stderr, "failed: %s\n", what);
        ++failures;
    }
}

/* Seconds a child may take to end; a hang ends it by SIGALRM instead. */
#define CHILD_LIMIT_SECONDS 10

/* Whether a forked child that raises SIGTERM ends by SIGTERM, after setting
 * up the clean-up on signals itself when set_up is not 0. */
static int child_ends_by_sigterm(int set_up) {
    int status = 0;
    pid_t pid = fork();
    if (pid == 0) {
        alarm(CHILD_LIMIT_SECONDS);
        if (set_up && vxapi_setup_signal_handlers() != 0) _exit(1);
        raise(SIGTERM);
        for (;;) pause(); /* the library's thread raises it again */
    }
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return 0;
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM;
}

/* The clean-up on signals, without starting the library: it sets up, a
 * second call gives the first one's result, and SIGTERM ends a process that
 * set it up, or a child that only inherited it, by SIGTERM. */
static void check_signal_clean_up(void) {
    expect(child_ends_by_sigterm(1), "signal clean-up set up in a fresh process");
    expect(vxapi_setup_signal_handlers() == 0, "signal clean-up set up");
    expect(vxapi_setup_signal_handlers() == 0, "signal clean-up set up again");
#ifndef VXSDM_TSAN
    /* This process now runs the watcher thread. ThreadSanitizer does not run
     * a forked child of a process with threads as it runs the process: it
     * ends the child when it starts a thread, and a signal raised again in
     * the child's handler is not delivered. Its build leaves these two out. */
    expect(child_ends_by_sigterm(1), "signal clean-up set up in a forked child");
    expect(child_ends_by_sigterm(0), "signal clean-up inherited by a forked child");
#endif
}

int main(void) {
    char version[32];
    char small[5];

    memset(version, 'x', sizeof version);
    expect(SDGetVersion(version, sizeof version) == 0x06040200u, "version number");
    expect(strcmp(version, "v6.04 build2") == 0, "version text");
    expect(SDGetVersion(NULL, 0) == 0x06040200u, "version number without a buffer");
    expect(SDGetVersion(small, sizeof small) == 0x06040200u && strcmp(small, "v6.0") == 0, "cut version text");

    expect(strcmp(SDGetErrorString(SDERR_NO_ERROR), "No error") == 0, "text of 0");
    expect(strcmp(SDGetErrorString(SDERR_DEVICE_NOT_FOUND), "Device not found") == 0, "text of a code");
    expect(strcmp(SDGetErrorString(0x20000110u), "Unknown Error 20000110h.") == 0, "unknown code");
    expect(strcmp(SDGetErrorString(13), "System Error 13.") == 0, "system error");

    expect(SDSwapTargetDevice(1, NULL, NULL) == SDERR_NOT_SUPPORTED, "unsupported entry point");
    expect(SDXlateSDMErr(2, 0) == SDERR_DEVICE_BUSY, "driver status translation");
    expect(ISDFoGetApiVersion(version, sizeof version) == 0x3000107u && strcmp(version, "3.0.1 build7") == 0,
           "failover interface version");

    check_signal_clean_up();

    return failures == 0 ? 0 : 1;
}
