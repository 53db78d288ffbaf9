// The NVRAM variables: every setting of an NVRAM image by its number, read
// and written inside an image buffer that the caller holds, for the two
// layouts of the image (the 2xxx layout of 16-bit words, the 24xx layout of
// byte-addressed 32-bit windows), with its name, description and display
// attributes per NVRAM class. Pure functions over constant tables.
//
// Images are byte buffers whose fields are little-endian: 256 bytes in the
// 2xxx layout, 512 in the 24xx layout. Ids are compared unsigned; an id
// above 131 reads 0 and is refused on write.
#pragma once

#include <cstdint>

#include "vxsdm.h"

constexpr uint32_t VX_NVRAM_VARIABLES = 132;
// A variable that the 24xx layout does not have.
constexpr uint32_t VX_NVRAM_ABSENT = 0xDEADDEAD;

extern const uint32_t g_variableWordOffset[VX_NVRAM_VARIABLES];
extern const uint32_t g_variableStartBit[VX_NVRAM_VARIABLES];
extern const uint32_t g_variableBitsLength[VX_NVRAM_VARIABLES];
extern const uint32_t g_variableSettingBits[VX_NVRAM_VARIABLES];
extern const uint32_t g_variableOffset_24xx[VX_NVRAM_VARIABLES];
extern const uint32_t g_variableStartBit_24xx[VX_NVRAM_VARIABLES];
extern const uint32_t g_variableBitsLength_24xx[VX_NVRAM_VARIABLES];
extern const char* const g_variableName[VX_NVRAM_VARIABLES];
extern const char* const g_variableDescription[VX_NVRAM_VARIABLES];
extern const uint32_t g_bitmask[33];
extern const uint32_t g_deviceIDWithReadOnlyBitMask[10];
extern const uint32_t g_deviceIDWithVisibleBitMask[10];

// 2xxx layout.
[[nodiscard]] SD_UINT32 VXSDNVR_GetVariableValue(const SD_UINT8* pNVRamStruct, SD_UINT32 parmNumber);
[[nodiscard]] SD_UINT32 VXSDNVR_SetVariableValue(SD_UINT8* pNVRamStruct, SD_UINT32 parmNumber, SD_UINT32 dwSetValue);
// 24xx layout: an absent variable reads 0 and a write leaves it alone (0).
[[nodiscard]] SD_UINT32 VXSDNVR_GetVariableValue_24xx(const SD_UINT8* nvram, SD_UINT32 nvar);
[[nodiscard]] SD_UINT32 VXSDNVR_SetVariableValue_24xx(SD_UINT8* nvram, SD_UINT32 nvar, SD_UINT32 setto);

// The description text; null for an id without one.
[[nodiscard]] const char* VXSDNVR_GetVariableDescription(const SD_UINT8* pNVRamStruct, SD_UINT32 parmNumber);
// 0 when the variable is read-only (visible) for the image's NVRAM class
// (variable 128 in the 2xxx layout, at most 9), else SDERR_UNKNOWN.
[[nodiscard]] SD_UINT32 VXSDNVR_IsVariableReadOnly(const SD_UINT8* pNVRamStruct, SD_UINT32 parmNumber);
[[nodiscard]] SD_UINT32 VXSDNVR_IsVariableVisible(const SD_UINT8* pNVRamStruct, SD_UINT32 parmNumber);
