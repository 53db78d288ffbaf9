// Placeholder of the semaphore primitives: keeps the interface linkable
// until the primitives themselves land.
#include "core/vx_sem.h"

int vxapi_sem_get(int) { return -1; }
int vxapi_sem_del(int) { return -1; }
int vxapi_sem_wait(int) { return -1; }
int vxapi_sem_signal(int) { return -1; }
VxSemLock::VxSemLock(int semid) : semid_(semid), held_(false) {}
VxSemLock::~VxSemLock() { release(); }
void VxSemLock::release() { held_ = false; }
