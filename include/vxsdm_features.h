/**
 * @file vxsdm_features.h
 * @brief libvxsdm: the records of the HBA feature settings.
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
#define HBA_FEATURE_PERSISTENT_ONLY 1u  ///< "Persistent Only": the driver's ConfigRequired=1
#define HBA_FEATURE_PERSISTENT_NEW 2u   ///< "Persistent+New": ConfigRequired=0
#define HBA_FEATURE_BIND_BY_WWPN 4u     ///< "Bind by WWPN": Bind=0, or no Bind= parameter (the driver's default)
#define HBA_FEATURE_BIND_BY_PID 8u      ///< "Bind by PID": Bind=1
#define HBA_FEATURE_NEW_ONLY 16u        ///< "New Only": ConfigRequired=2

/** One feature (88 bytes). Flags of a returned descriptor always carry 0x60,
 * and 0x10 when Current was read from the driver's options line. */
typedef struct HBA_FEATURE_ENTRY {
    SD_UINT32 Version;  /**< 1 */
    SD_UINT32 Size;     /**< 88 */
    SD_UINT32 Id;       /**< HBA_FEATURE_* */
    SD_UINT32 Kind;     /**< 1 the binding parameter, 2 the configuration parameter */
    SD_UINT32 Min;      /**< the lowest Value of a setting that is not ignored */
    SD_UINT32 Max;      /**< the highest Value of a setting that is not ignored */
    SD_UINT32 Default;  /**< the feature's setting when the options line does not name its parameter */
    SD_UINT32 Current;  /**< the feature's setting now, read from the options line where it names the parameter */
    SD_UINT32 Flags;    /**< 0x60, with 0x10 when Current was read from the options line */
    SD_UINT32 Reserved; /**< 0 */
    SD_INT8 Name[48];   /**< the feature's name, NUL-terminated */
} HBA_FEATURE_ENTRY, *PHBA_FEATURE_ENTRY;
/** @typedef PHBA_FEATURE_ENTRY
 * Pointer to an HBA_FEATURE_ENTRY. */

/** The supported features: declared with one entry; a list of n entries is
 * sizeof(HBA_FEATURE_LIST) + (n - 1) * sizeof(HBA_FEATURE_ENTRY) bytes. */
typedef struct HBA_FEATURE_LIST {
    SD_UINT32 Count;            /**< in: entries the caller provides; out: entries written (or needed) */
    HBA_FEATURE_ENTRY Entry[1]; /**< the descriptors, Count of them */
} HBA_FEATURE_LIST, *PHBA_FEATURE_LIST;
/** @typedef PHBA_FEATURE_LIST
 * Pointer to an HBA_FEATURE_LIST. */

/** One request to set a feature (16 bytes); only Flag 0 changes anything. */
typedef struct HBA_FEATURE_SETTING {
    SD_UINT32 Id;       /**< HBA_FEATURE_* */
    SD_UINT32 Value;    /**< 1 switches the feature on (with Flag 0) */
    SD_UINT32 Flag;     /**< 0 or 1 */
    SD_UINT32 Reserved; /**< not used */
} HBA_FEATURE_SETTING, *PHBA_FEATURE_SETTING;
/** @typedef PHBA_FEATURE_SETTING
 * Pointer to an HBA_FEATURE_SETTING. */

/** Settings applied together: declared with one setting, like HBA_FEATURE_LIST. */
typedef struct HBA_FEATURE_SETTING_LIST {
    SD_UINT32 Count;                /**< settings in Setting */
    HBA_FEATURE_SETTING Setting[1]; /**< the settings, Count of them */
} HBA_FEATURE_SETTING_LIST, *PHBA_FEATURE_SETTING_LIST;
/** @typedef PHBA_FEATURE_SETTING_LIST
 * Pointer to an HBA_FEATURE_SETTING_LIST. */

#endif /* VXSDM_FEATURES_H */
