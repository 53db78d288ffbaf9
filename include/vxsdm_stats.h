/*
 * libvxsdm: port statistics, loopback test, beacon and firmware dump.
 *
 * Natural alignment, no packing, exchanged byte for byte (see vxsdm_types.h).
 *
 * Plain C99; usable from C++.
 */
#ifndef VXSDM_STATS_H
#define VXSDM_STATS_H

#include "vxsdm_types.h"

#ifndef VXSDM_API
#if defined(__GNUC__)
#define VXSDM_API __attribute__((visibility("default")))
#else
#define VXSDM_API
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* VXSDM_STATS_H */
