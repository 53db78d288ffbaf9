// Placeholder of the debug trace: keeps the interface linkable until the
// trace itself lands.
#include "core/vx_sddbg.h"

uint32_t vx_debug = 0;
int api_dbg_sem_id = -1;

void vxapi_set_debug_level() { vx_debug = VXDBG_DEFAULT_MASK; }
void vxdbg_print(const char*, uint64_t, uint8_t, uint8_t) {}
void vxdbg_dump(const char*, const void*, uint8_t, uint64_t) {}
void vxdbg_putc(char) {}
void vxdbg_puts(const char*) {}
void vxdbg_output_number(uint64_t, uint8_t) {}
FILE* vxdbg_get_fptr() { return nullptr; }
void vxdbg_reset() { vx_debug = 0; }
