/*
 * libvxsdm: QoS, transceiver data, virtual ports, link speed and Tarno management.
 *
 * Natural alignment, no packing, exchanged byte for byte (see vxsdm_types.h).
 *
 * Plain C99; usable from C++.
 */
#ifndef VXSDM_PORT_H
#define VXSDM_PORT_H

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

#endif /* VXSDM_PORT_H */
