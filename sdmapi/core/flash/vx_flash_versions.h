// The boot-code versions of a port read from its flash.
#pragma once

#include "base/vx_driver_records.h"
#include "base/vx_records.h"

// Completes the boot-code version fields of the node from the port's flash:
// the image chain at 0x80000, the firmware version at 0x100000.
void vxapi_read_flash_versions(int fd, vxapi_priv_database* rec, EXT_HBA_NODE* node);
