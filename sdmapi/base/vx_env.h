// The host the library runs on: VMware ESX or an ordinary Linux host, the
// ioctl support module of the old 2.6.9 kernel line, the distribution's
// udevadm, and the guard of the operations that rewrite host configuration.
#pragma once

#include <atomic>
#include <cstdint>

// Host kinds of OS_Type.
constexpr int VX_OS_ESX = 1;    // the kernel's system name contains "VMkernel"
constexpr int VX_OS_OTHER = 2;  // any other host

// What the checks found at every library start; atomic, as the checks run
// before the load semaphore is taken.
// The host kind, set by vxapi_check_esx.
extern std::atomic<int> OS_Type;
// 1 once the ioctl support module was found loaded or was loaded here; never
// cleared within a process.
extern std::atomic<int> is_vioctlmod_loaded;
// 1 unless vxapi_is_udevadm_supported found no "/sbin/udevadm".
extern std::atomic<uint8_t> is_udevadm;

// Sets OS_Type from the kernel's system name.
void vxapi_check_esx();
// 0 when the running kernel's release contains "2.6.9", else 1.
[[nodiscard]] int vxapi_check_linux_version();
// On the 2.6.9 kernel line, makes sure the ioctl support module is loaded
// beside the adapter driver, and records in is_vioctlmod_loaded that it is.
void vxapi_load_vioctlmod();
// 0 when the support module may be loaded: it exists for the running kernel
// and the adapter driver loaded is the distribution's own, non-debug build.
// Else 1.
[[nodiscard]] int vxapi_check_vioctlmod();
// 0 on a host whose configuration files the library may rewrite (not a
// VMware host), else 1.
[[nodiscard]] int vxapi_check_correct_os();
// 0 when "/sbin/udevadm" exists; otherwise clears is_udevadm and gives 1.
[[nodiscard]] int vxapi_is_udevadm_supported();
