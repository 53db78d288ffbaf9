// The host kind, set by the environment check at library load (0 until then).
#include "core/vx_shared.h"

int OS_Type = 0;
