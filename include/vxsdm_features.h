/*
 * libvxsdm: the records of the HBA feature settings.
 *
 * Natural alignment, no packing, exchanged byte for byte (see vxsdm_types.h).
 *
 * Plain C99; usable from C++.
 */
#ifndef VXSDM_FEATURES_H
#define VXSDM_FEATURES_H

#include "vxsdm_types.h"

/* ---- HBA feature settings ---- */

/* Feature ids. */
#define HBA_FEATURE_PERSISTENT_ONLY 1u
#define HBA_FEATURE_PERSISTENT_NEW 2u
#define HBA_FEATURE_BIND_BY_WWPN 4u
#define HBA_FEATURE_BIND_BY_PID 8u
#define HBA_FEATURE_NEW_ONLY 16u

/* One feature (88 bytes). Flags of a returned descriptor always carry 0x60,
 * and 0x10 when Current was read from the driver's options line. */
typedef struct HBA_FEATURE_ENTRY {
    SD_UINT32 Version;
    SD_UINT32 Size;    /* 88 */
    SD_UINT32 Id;
    SD_UINT32 Kind;    /* 1 the binding parameter, 2 the configuration parameter */
    SD_UINT32 Min;
    SD_UINT32 Max;
    SD_UINT32 Default;
    SD_UINT32 Current;
    SD_UINT32 Flags;
    SD_UINT32 Reserved;
    SD_INT8 Name[48];
} HBA_FEATURE_ENTRY, *PHBA_FEATURE_ENTRY;

/* The supported features: declared with one entry; a list of n entries is
 * sizeof(HBA_FEATURE_LIST) + (n - 1) * sizeof(HBA_FEATURE_ENTRY) bytes. */
typedef struct HBA_FEATURE_LIST {
    SD_UINT32 Count; /* in: entries the caller provides; out: entries written (or needed) */
    HBA_FEATURE_ENTRY Entry[1];
} HBA_FEATURE_LIST, *PHBA_FEATURE_LIST;

/* One request to set a feature (16 bytes); only Flag 0 changes anything. */
typedef struct HBA_FEATURE_SETTING {
    SD_UINT32 Id;
    SD_UINT32 Value;
    SD_UINT32 Flag; /* 0 or 1 */
    SD_UINT32 Reserved;
} HBA_FEATURE_SETTING, *PHBA_FEATURE_SETTING;

/* Settings applied together: declared with one setting, like HBA_FEATURE_LIST. */
typedef struct HBA_FEATURE_SETTING_LIST {
    SD_UINT32 Count;
    HBA_FEATURE_SETTING Setting[1];
} HBA_FEATURE_SETTING_LIST, *PHBA_FEATURE_SETTING_LIST;

#endif /* VXSDM_FEATURES_H */
