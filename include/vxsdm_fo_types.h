/*
 * libvxsdm: the records of the failover interface that hold a port's targets
 * and LUNs, and the records of the HBA feature settings.
 *
 * Natural alignment, no packing, exchanged byte for byte (see vxsdm_types.h).
 *
 * Plain C99; usable from C++.
 */
#ifndef VXSDM_FO_TYPES_H
#define VXSDM_FO_TYPES_H

#include "vxsdm_types.h"

/* ---- failover target and LUN lists ---- */

/* LUN byte (Data[n] of a LUN entry). */
#define FO_LUN_ENABLED 0x80u
#define FO_LUN_PREFERRED 0x40u

/* Control byte of a target entry. */
#define FO_TARGET_BY_PORT_NAME 0x10u   /* the device is known by its port name */
#define FO_TARGET_NO_PREFERRED_LUNS 0x40u /* the target has no preferred-LUN settings */

/* One target and its LUNs (4,128 bytes). */
typedef struct FO_EXTERNAL_LUN_DATA_ENTRY {
    SD_UINT8 NodeName[8];
    SD_UINT8 PortName[8];
    SD_UINT16 LunCount;
    SD_UINT8 TargetId;
    SD_UINT8 Dev_No;
    SD_UINT32 Reserved3;
    SD_UINT32 Reserved4;
    SD_UINT32 Reserved5;
    SD_UINT8 Data[4096]; /* one byte per LUN: FO_LUN_ENABLED, FO_LUN_PREFERRED */
} FO_EXTERNAL_LUN_DATA_ENTRY, *PFO_EXTERNAL_LUN_DATA_ENTRY;

/* A port's LUN list: always room for VX_FO_TARGETS entries (1,056,800 bytes). */
typedef struct FO_LUN_DATA_LIST {
    SD_UINT16 Version;
    SD_UINT16 EntryCount;
    SD_UINT32 Reserved1;
    SD_UINT32 Reserved2;
    SD_UINT32 Reserved3;
    SD_UINT32 Reserved4;
    SD_UINT32 Reserved5;
    SD_UINT32 Reserved6;
    SD_UINT32 Reserved7;
    FO_EXTERNAL_LUN_DATA_ENTRY DataEntry[256];
} FO_LUN_DATA_LIST, *PFO_LUN_DATA_LIST;

/* One target (32 bytes). */
typedef struct FO_TARGET_DATA_ENTRY {
    SD_UINT8 Reserved1[2];
    SD_UINT8 PathNumber;
    SD_UINT8 TargetNumber;
    SD_UINT8 Reserved2[4];
    SD_UINT8 Control; /* FO_TARGET_BY_PORT_NAME, FO_TARGET_NO_PREFERRED_LUNS */
    SD_UINT8 Reserved3[3];
    SD_UINT8 PortId[3];
    SD_UINT8 Reserved4;
    SD_UINT8 NodeName[8];
    SD_UINT8 PortName[8];
} FO_TARGET_DATA_ENTRY, *PFO_TARGET_DATA_ENTRY;

/* A port's target list: always room for VX_FO_TARGETS entries (8,224 bytes). */
typedef struct FO_TARGET_DATA_LIST {
    SD_UINT16 Version;
    SD_UINT16 EntryCount;
    SD_UINT8 Reserved[28];
    FO_TARGET_DATA_ENTRY DataEntry[256];
} FO_TARGET_DATA_LIST, *PFO_TARGET_DATA_LIST;

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

#endif /* VXSDM_FO_TYPES_H */
