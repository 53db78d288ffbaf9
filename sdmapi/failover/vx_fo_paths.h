// Path-list validation: the path numbers of every device's paths across the
// store adapters, made exactly 0 .. paths - 1.
#pragma once

#include "failover/vx_fo_optstr.h"

// Groups the target entries of the 32 records (the first EntryCount of each,
// at most 256) into devices and corrects their PathNumber in place.
void vxapi_validate_portsummary_data(hbalist_entry* records);
