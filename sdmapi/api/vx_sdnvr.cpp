// The NVRAM variable tables and their readers and writers.
#include "api/vx_sdnvr.h"

#include "base/vx_sddbg.h"

namespace {

constexpr uint32_t kLastId = VX_NVRAM_VARIABLES - 1;
constexpr uint32_t kClassVariable = 128;
constexpr uint32_t kLastClass = 9;
constexpr uint32_t kNvramTrace = VXDBG_STEP;

uint32_t le16(const uint8_t* p) { return static_cast<uint32_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
void put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Id 0 holds four bytes: those of the value up to its first zero byte, then zeros.
void store_id(uint8_t* image, uint32_t value) {
    bool ended = false;
    for (int i = 0; i < 4; ++i) {
        const auto b = static_cast<uint8_t>(value >> (8 * i));
        ended = ended || b == 0;
        image[i] = ended ? 0 : b;
    }
}

uint32_t field(uint32_t window, uint32_t start, uint32_t width) { return (window >> start) & g_bitmask[width]; }

uint32_t with_field(uint32_t window, uint32_t start, uint32_t width, uint32_t value) {
    const uint32_t mask = g_bitmask[width];
    return (window & ~(mask << start)) | ((value & mask) << start);
}

void trace_value(const char* name, uint32_t id, uint32_t offset, uint32_t word, uint32_t value) {
    if (!vxdbg_on(kNvramTrace)) return;
    vxdbg_print(name, 0, VXDBG_NONE, 0);
    vxdbg_print(": id=", id, VXDBG_DEC, 0);
    vxdbg_print(" offset=", offset, VXDBG_HEX, 0);
    vxdbg_print(" word=", word, VXDBG_HEX, 0);
    vxdbg_print(" value=", value, VXDBG_HEX, 1);
}

SD_UINT32 attribute(const SD_UINT8* image, SD_UINT32 id, const uint32_t* class_masks) {
    if (image == nullptr || id > kLastId) return SDERR_UNKNOWN;
    uint32_t nvram_class = VXSDNVR_GetVariableValue(image, kClassVariable);
    if (nvram_class > kLastClass) nvram_class = kLastClass;
    return (g_variableSettingBits[id] & class_masks[nvram_class]) != 0 ? SDERR_NO_ERROR : SDERR_UNKNOWN;
}

}  // namespace

const uint32_t g_bitmask[33] = {
    0x0,       0x1,       0x3,        0x7,        0xF,        0x1F,       0x3F,       0x7F,      0xFF,
    0x1FF,     0x3FF,     0x7FF,      0xFFF,      0x1FFF,     0x3FFF,     0x7FFF,     0xFFFF,    0x1FFFF,
    0x3FFFF,   0x7FFFF,   0xFFFFF,    0x1FFFFF,   0x3FFFFF,   0x7FFFFF,   0xFFFFFF,   0x1FFFFFF, 0x3FFFFFF,
    0x7FFFFFF, 0xFFFFFFF, 0x1FFFFFFF, 0x3FFFFFFF, 0x7FFFFFFF, 0xFFFFFFFF,
};
const uint32_t g_deviceIDWithReadOnlyBitMask[10] = {0, 0x1, 0x10, 0, 0, 0, 0, 0, 0, 0x100};
const uint32_t g_deviceIDWithVisibleBitMask[10] = {0, 0x2, 0x20, 0, 0, 0, 0, 0, 0, 0x200};

const uint32_t g_variableWordOffset[VX_NVRAM_VARIABLES] = {
    0, 2, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4,  // 0
    4, 4, 4, 4, 4, 4, 4, 5, 6, 7, 8, 8,  // 12
    9, 9, 10, 10, 11, 11, 12, 12, 13, 14, 14, 15,  // 24
    15, 16, 16, 17, 17, 18, 18, 19, 19, 19, 19, 19,  // 36
    19, 19, 19, 19, 20, 20, 21, 21, 21, 21, 35, 35,  // 48
    35, 35, 35, 35, 35, 35, 35, 35, 35, 35, 35, 35,  // 60
    36, 36, 37, 37, 38, 38, 39, 39, 40, 40, 41, 42,  // 72
    43, 43, 44, 44, 45, 45, 46, 46, 55, 55, 55, 55,  // 84
    55, 55, 64, 64, 65, 65, 66, 66, 67, 67, 68, 69,  // 96
    69, 70, 70, 71, 71, 72, 72, 73, 74, 74, 75, 75,  // 108
    76, 76, 77, 77, 78, 122, 124, 125, 126, 127, 0, 0,  // 120
};

const uint32_t g_variableStartBit[VX_NVRAM_VARIABLES] = {
    0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8,  // 0
    9, 10, 11, 12, 13, 14, 15, 0, 0, 0, 0, 8,  // 12
    0, 8, 0, 8, 0, 8, 0, 8, 0, 0, 8, 0,  // 24
    8, 0, 8, 0, 8, 0, 8, 0, 4, 7, 8, 9,  // 36
    12, 13, 14, 15, 0, 8, 0, 4, 6, 14, 1, 2,  // 48
    3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14,  // 60
    0, 8, 0, 8, 0, 8, 0, 8, 0, 8, 0, 0,  // 72
    0, 8, 0, 8, 0, 8, 0, 8, 0, 1, 3, 5,  // 84
    7, 8, 0, 8, 0, 8, 0, 8, 0, 8, 0, 0,  // 96
    8, 0, 8, 0, 8, 0, 8, 0, 0, 8, 0, 8,  // 108
    0, 8, 0, 8, 0, 0, 0, 0, 0, 8, 0, 0,  // 120
};

const uint32_t g_variableBitsLength[VX_NVRAM_VARIABLES] = {
    32, 8, 8, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0
    1, 1, 1, 1, 1, 1, 1, 16, 16, 16, 8, 8,  // 12
    8, 8, 8, 8, 8, 8, 8, 8, 16, 8, 8, 8,  // 24
    8, 8, 8, 8, 8, 8, 8, 4, 3, 1, 1, 1,  // 36
    1, 1, 1, 1, 8, 8, 1, 2, 1, 2, 1, 1,  // 48
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 60
    8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 16,  // 72
    8, 8, 8, 8, 8, 8, 8, 8, 1, 1, 1, 1,  // 84
    1, 8, 8, 8, 8, 8, 8, 8, 8, 8, 16, 8,  // 96
    8, 8, 8, 8, 8, 8, 8, 16, 8, 8, 8, 8,  // 108
    8, 8, 8, 8, 16, 16, 16, 16, 16, 8, 0, 0,  // 120
};

const uint32_t g_variableSettingBits[VX_NVRAM_VARIABLES] = {
    0x111, 0x111, 0x111, 0x222, 0x220, 0x220, 0x220, 0x0, 0x0, 0x0, 0x1, 0x0,  // 0
    0x0, 0x0, 0x1, 0x1, 0x0, 0x1, 0x1, 0x220, 0x220, 0x220, 0x222, 0x0,  // 12
    0x111, 0x111, 0x111, 0x111, 0x111, 0x111, 0x111, 0x111, 0x222, 0x1, 0x0, 0x111,  // 24
    0x111, 0x111, 0x111, 0x111, 0x111, 0x111, 0x111, 0x221, 0x223, 0x1, 0x221, 0x221,  // 36
    0x221, 0x221, 0x221, 0x221, 0x221, 0x221, 0x1, 0x211, 0x0, 0x211, 0x220, 0x0,  // 48
    0x0, 0x0, 0x0, 0x0, 0x220, 0x0, 0x220, 0x220, 0x220, 0x0, 0x110, 0x110,  // 60
    0x111, 0x111, 0x111, 0x111, 0x111, 0x111, 0x111, 0x111, 0x0, 0x0, 0x220, 0x220,  // 72
    0x111, 0x111, 0x111, 0x111, 0x111, 0x111, 0x111, 0x111, 0x0, 0x0, 0x0, 0x0,  // 84
    0x0, 0x220, 0x111, 0x111, 0x111, 0x111, 0x111, 0x111, 0x111, 0x111, 0x0, 0x111,  // 96
    0x111, 0x111, 0x111, 0x111, 0x111, 0x111, 0x111, 0x0, 0x111, 0x111, 0x111, 0x111,  // 108
    0x111, 0x111, 0x111, 0x111, 0x0, 0x111, 0x111, 0x111, 0x111, 0x111, 0x0, 0x0,  // 120
};

const uint32_t g_variableOffset_24xx[VX_NVRAM_VARIABLES] = {
    0x0, 0x4, 0xDEADDEAD, 0x2C, 0x2C, 0x2C, 0x2C, 0x2C,  // 0
    0x2C, 0x2C, 0x2C, 0x2C, 0x2C, 0x2C, 0x2C, 0x2C,  // 8
    0x2C, 0x2C, 0x2C, 0xC, 0x10, 0xE, 0x24, 0xDEADDEAD,  // 16
    0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B,  // 24
    0x12, 0xDEADDEAD, 0x2A, 0x1C, 0x1D, 0x1E, 0x1F, 0x20,  // 32
    0x21, 0x22, 0x23, 0x30, 0x30, 0x30, 0x30, 0x30,  // 40
    0x30, 0xDEADDEAD, 0xDEADDEAD, 0xDEADDEAD, 0xDEADDEAD, 0x28, 0x34, 0x34,  // 48
    0x34, 0x34, 0x100, 0xDEADDEAD, 0x100, 0x100, 0xDEADDEAD, 0xDEADDEAD,  // 56
    0xDEADDEAD, 0xDEADDEAD, 0xDEADDEAD, 0x100, 0x100, 0xDEADDEAD, 0xDEADDEAD, 0xDEADDEAD,  // 64
    0x114, 0x115, 0x116, 0x117, 0x118, 0x119, 0x11A, 0x11B,  // 72
    0x11C, 0x148, 0x154, 0x150, 0xDEADDEAD, 0xDEADDEAD, 0xDEADDEAD, 0xDEADDEAD,  // 80
    0xDEADDEAD, 0xDEADDEAD, 0xDEADDEAD, 0xDEADDEAD, 0x144, 0x144, 0x144, 0x144,  // 88
    0x144, 0x156, 0x120, 0x121, 0x122, 0x123, 0x124, 0x125,  // 96
    0x126, 0x127, 0x128, 0x12C, 0x12D, 0x12E, 0x12F, 0x130,  // 104
    0x131, 0x132, 0x133, 0x134, 0x138, 0x139, 0x13A, 0x13B,  // 112
    0x13C, 0x13D, 0x13E, 0x13F, 0x140, 0x1F8, 0x1FA, 0x1F8,  // 120
    0x1FA, 0x1FC, 0x2C, 0x19C,  // 128
};

const uint32_t g_variableStartBit_24xx[VX_NVRAM_VARIABLES] = {
    0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8,  // 0
    9, 10, 11, 12, 13, 14, 15, 0, 0, 0, 0, 0,  // 12
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 24
    0, 0, 0, 0, 0, 0, 0, 0, 4, 7, 8, 9,  // 36
    12, 0, 0, 0, 0, 0, 0, 4, 6, 13, 1, 0,  // 48
    3, 4, 0, 0, 0, 0, 0, 10, 11, 0, 0, 0,  // 60
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 72
    0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 3, 5,  // 84
    7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 96
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 108
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 6, 0,  // 120
};

const uint32_t g_variableBitsLength_24xx[VX_NVRAM_VARIABLES] = {
    32, 16, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0
    1, 1, 1, 1, 1, 1, 1, 16, 16, 16, 8, 0,  // 12
    8, 8, 8, 8, 8, 8, 8, 8, 16, 0, 16, 8,  // 24
    8, 8, 8, 8, 8, 8, 8, 4, 3, 1, 1, 1,  // 36
    1, 0, 0, 0, 0, 16, 1, 2, 1, 3, 1, 0,  // 48
    1, 1, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0,  // 60
    8, 8, 8, 8, 8, 8, 8, 8, 16, 8, 16, 16,  // 72
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1,  // 84
    1, 16, 8, 8, 8, 8, 8, 8, 8, 8, 16, 8,  // 96
    8, 8, 8, 8, 8, 8, 8, 16, 8, 8, 8, 8,  // 108
    8, 8, 8, 8, 16, 16, 16, 16, 16, 32, 1, 1,  // 120
};

const char* const g_variableName[VX_NVRAM_VARIABLES] = {
    "id",
    "version",
    "version",
    "enable hard loop ID",
    "enable fairness",
    "enable full duplex",
    "enable fast posting",
    "enable target mode",
    "disable initiator mode",
    "Enable ADISC",
    "Target Inquiry Data",
    "Enable PDBC Notify",
    "Non participating LIP",
    "Descending Search LoopID",
    "Acquire LoopID in LIPA",
    "Stop PortQ on FullStatus",
    "Full Login After LIP",
    "Node Name option",
    "Ext IFWCB enable bit",
    "frame payload size",
    "max iocb allocation",
    "execution throttle",
    "retry count",
    "retry delay",
    "port name 0",
    "port name 1",
    "port name 2",
    "port name 3",
    "port name 4",
    "port name 5",
    "port name 6",
    "port name 7",
    "adapter hard loop ID",
    "inquiry data",
    "login timeout",
    "node name 0",
    "node name 1",
    "node name 2",
    "node name 3",
    "node name 4",
    "node name 5",
    "node name 6",
    "node name 7",
    "Timer Operation Mode",
    "Init Config Mode",
    "Enable Non part on LIHA failure",
    "Enable Class 2",
    "Enable Ack0",
    "Enable FC Tape",
    "Enable FC Confirm",
    "Enable Queueing",
    "No Logo On Link Down",
    "Response Accumulation Timer",
    "Interrupt Delay Timer",
    "enable read xfr rdy",
    "FCP Rsp Payload",
    "receive out of order data",
    "Data Rate",
    "disable BIOS",
    "disable LUNs",
    "enable selectable boot",
    "disable RISC code load",
    "set cache line size 1",
    "PCI Parity Disable",
    "enable extended logging",
    "enable 64bit addressing",
    "enable LIP reset",
    "enable LIP full login",
    "enable target reset",
    "enable database storage",
    "enable cache flush read",
    "enable database load",
    "boot node name 0",
    "boot node name 1",
    "boot node name 2",
    "boot node name 3",
    "boot node name 4",
    "boot node name 5",
    "boot node name 6",
    "boot node name 7",
    "boot LUN number",
    "reset delay",
    "port down retry count",
    "maximum LUNs per target",
    "fcode boot port name 0",
    "fcode boot port name 1",
    "fcode boot port name 2",
    "fcode boot port name 3",
    "fcode boot port name 4",
    "fcode boot port name 5",
    "fcode boot port name 6",
    "fcode boot port name 7",
    "selective login",
    "enable alt boot device",
    "enable boot order list",
    "enable selective lun",
    "enable force world wide login",
    "link down timeout",
    "alt1 boot port name 0",
    "alt1 boot port name 1",
    "alt1 boot port name 2",
    "alt1 boot port name 3",
    "alt1 boot port name 4",
    "alt1 boot port name 5",
    "alt1 boot port name 6",
    "alt1 boot port name 7",
    "alt1 boot LUN number",
    "alt2 boot port name 0",
    "alt2 boot port name 1",
    "alt2 boot port name 2",
    "alt2 boot port name 3",
    "alt2 boot port name 4",
    "alt2 boot port name 5",
    "alt2 boot port name 6",
    "alt2 boot port name 7",
    "alt2 boot LUN number",
    "alt3 boot port name 0",
    "alt3 boot port name 1",
    "alt3 boot port name 2",
    "alt3 boot port name 3",
    "alt3 boot port name 4",
    "alt3 boot port name 5",
    "alt3 boot port name 6",
    "alt3 boot port name 7",
    "alt3 boot LUN number",
    "subsystem vendor ID",
    "subsystem device ID",
    "subsystem vendor ID",
    "subsystem device ID",
    "checksum",
    nullptr,
    nullptr,
};

const char* const g_variableDescription[VX_NVRAM_VARIABLES] = {
    "Adapter ID",
    "Adapter Version",
    "Firmare Version",
    "Enable Hard Loop ID",
    "Enable Fairness",
    "Enable Full Duplex",
    "Enable Fast Posting",
    "Enable Target Mode",
    "Disable Initiator Mode",
    "Enable ADISC",
    "Target Inquiry Data",
    "Enable PDBC Notify",
    "Non Participating LIP",
    "Descending Search Loop ID",
    "Acquire LoopID in LIPA",
    "Stop PortQ on Full Status",
    "Full Login After LIP",
    "Node Name Option",
    "Ext IFWCB Enable Bit",
    "Frame Payload Size",
    "Max IOCB Allocation",
    "Execution Throttle",
    "Retry Count",
    "Retry Delay",
    "Port Name 0",
    "Port Name 1",
    "Port Name 2",
    "Port Name 3",
    "Port Name 4",
    "Port Name 5",
    "Port Name 6",
    "Port Name 7",
    "Adapter Hard Loop ID",
    "Inquiry Data",
    "Login Timeout",
    "Node Name 0",
    "Node Name 1",
    "Node Name 2",
    "Node Name 3",
    "Node Name 4",
    "Node Name 5",
    "Node Name 6",
    "Node Name 7",
    "Timer Operation Mode",
    "Connection Mode",
    "Enable Non part on LIHA Failure",
    "Enable Class 2",
    "Enable Ack0",
    "Enable FC Tape",
    "Enable FC Confirm",
    "Enable Queueing",
    "No Logo On Link Down",
    "Response Accumulation Timer",
    "Interrupt Delay Timer",
    "Enable Read Xfr Rdy",
    "FCP Response Payload",
    "Receive Out of Order Data",
    "Data Rate",
    "Disable BIOS",
    "Disable LUNs",
    "Enable Selectable Boot",
    "Disable RISC Code Load",
    "Set Cache Line Size 1",
    "PCI Parity Disable",
    "Enable Extended Logging",
    "Enable 64bit Addressing",
    "Enable LIP reset",
    "Enable LIP full login",
    "Enable Target Reset",
    "Enable Database Storage",
    "Enable Cache Flush Read",
    "Enable Database Load",
    "Boot Node Name 0",
    "Boot Node Name 1",
    "Boot Node Name 2",
    "Boot Node Name 3",
    "Boot Node Name 4",
    "Boot Node Name 5",
    "Boot Node Name 6",
    "Boot Node Name 7",
    "Boot LUN Number",
    "Reset Delay",
    "Port Down Retry Count",
    "Maximum LUNs Per Target",
    "FCode Boot Port Name 0",
    "FCode Boot Port Name 1",
    "FCode Boot Port Name 2",
    "FCode Boot Port Name 3",
    "FCode Boot Port Name 4",
    "FCode Boot Port Name 5",
    "FCode Boot Port Name 6",
    "FCode Boot Port Name 7",
    "Selective Login",
    "Enable Alt Boot Device",
    "Enable Boot Order List",
    "Enable Selective Lun",
    "Enable Force World Wide Login",
    "Link Down Timeout",
    "Alternate1 Boot Port Name 0",
    "Alternate1 Boot Port Name 1",
    "Alternate1 Boot Port Name 2",
    "Alternate1 Boot Port Name 3",
    "Alternate1 Boot Port Name 4",
    "Alternate1 Boot Port Name 5",
    "Alternate1 Boot Port Name 6",
    "Alternate1 Boot Port Name 7",
    "Alternate1 Boot LUN Number",
    "Alternate2 Boot Port Name 0",
    "Alternate2 Boot Port Name 1",
    "Alternate2 Boot Port Name 2",
    "Alternate2 Boot Port Name 3",
    "Alternate2 Boot Port Name 4",
    "Alternate2 Boot Port Name 5",
    "Alternate2 Boot Port Name 6",
    "Alternate2 Boot Port Name 7",
    "Alternate2 Boot LUN Number",
    "Alternate3 Boot Port Name 0",
    "Alternate3 Boot Port Name 1",
    "Alternate3 Boot Port Name 2",
    "Alternate3 Boot Port Name 3",
    "Alternate3 Boot Port Name 4",
    "Alternate3 Boot Port Name 5",
    "Alternate3 Boot Port Name 6",
    "Alternate3 Boot Port Name 7",
    "Alternate3 Boot LUN Number",
    "Subsystem Vendor ID 0",
    "Subsystem Device ID 0",
    "Subsystem Vendor ID 1",
    "Subsystem Device ID 1",
    "Checksum",
    nullptr,
    nullptr,
};

SD_UINT32 VXSDNVR_GetVariableValue(const SD_UINT8* pNVRamStruct, SD_UINT32 parmNumber) {
    if (pNVRamStruct == nullptr || parmNumber > kLastId) return 0;
    const uint32_t offset = 2 * g_variableWordOffset[parmNumber];
    if (parmNumber == 0) return le32(pNVRamStruct + offset);
    const uint32_t word = le16(pNVRamStruct + offset);
    const uint32_t value = field(word, g_variableStartBit[parmNumber], g_variableBitsLength[parmNumber]);
    trace_value("VXSDNVR_GetVariableValue", parmNumber, offset, word, value);
    return value;
}

SD_UINT32 VXSDNVR_SetVariableValue(SD_UINT8* pNVRamStruct, SD_UINT32 parmNumber, SD_UINT32 dwSetValue) {
    if (pNVRamStruct == nullptr || parmNumber > kLastId) return SDERR_INVALID_PARAMETER;
    if (VXSDNVR_GetVariableValue(pNVRamStruct, parmNumber) == dwSetValue) return SDERR_NO_ERROR;
    const uint32_t offset = 2 * g_variableWordOffset[parmNumber];
    if (parmNumber == 0) {
        store_id(pNVRamStruct + offset, dwSetValue);
        return SDERR_NO_ERROR;
    }
    const uint32_t word = le16(pNVRamStruct + offset);
    const uint32_t updated =
        with_field(word, g_variableStartBit[parmNumber], g_variableBitsLength[parmNumber], dwSetValue);
    put16(pNVRamStruct + offset, updated & 0xFFFF);
    trace_value("VXSDNVR_SetVariableValue", parmNumber, offset, word, updated);
    return SDERR_NO_ERROR;
}

SD_UINT32 VXSDNVR_GetVariableValue_24xx(const SD_UINT8* nvram, SD_UINT32 nvar) {
    if (nvram == nullptr || nvar > kLastId || g_variableOffset_24xx[nvar] == VX_NVRAM_ABSENT) return 0;
    const uint32_t offset = g_variableOffset_24xx[nvar];
    const uint32_t window = le32(nvram + offset);
    if (nvar == 0) return window;
    const uint32_t value = field(window, g_variableStartBit_24xx[nvar], g_variableBitsLength_24xx[nvar]);
    trace_value("VXSDNVR_GetVariableValue_24xx", nvar, offset, window, value);
    return value;
}

SD_UINT32 VXSDNVR_SetVariableValue_24xx(SD_UINT8* nvram, SD_UINT32 nvar, SD_UINT32 setto) {
    if (nvram == nullptr || nvar > kLastId) return SDERR_INVALID_PARAMETER;
    const uint32_t offset = g_variableOffset_24xx[nvar];
    if (offset == VX_NVRAM_ABSENT) return SDERR_NO_ERROR;
    if (VXSDNVR_GetVariableValue_24xx(nvram, nvar) == setto) return SDERR_NO_ERROR;
    if (nvar == 0) {
        store_id(nvram, setto);
        return SDERR_NO_ERROR;
    }
    const uint32_t window = le32(nvram + offset);
    const uint32_t updated = with_field(window, g_variableStartBit_24xx[nvar], g_variableBitsLength_24xx[nvar], setto);
    put32(nvram + offset, updated);
    trace_value("VXSDNVR_SetVariableValue_24xx", nvar, offset, window, updated);
    return SDERR_NO_ERROR;
}

const char* VXSDNVR_GetVariableDescription(const SD_UINT8* pNVRamStruct, SD_UINT32 parmNumber) {
    (void)pNVRamStruct;
    return parmNumber > kLastId ? nullptr : g_variableDescription[parmNumber];
}

SD_UINT32 VXSDNVR_IsVariableReadOnly(const SD_UINT8* pNVRamStruct, SD_UINT32 parmNumber) {
    return attribute(pNVRamStruct, parmNumber, g_deviceIDWithReadOnlyBitMask);
}

SD_UINT32 VXSDNVR_IsVariableVisible(const SD_UINT8* pNVRamStruct, SD_UINT32 parmNumber) {
    return attribute(pNVRamStruct, parmNumber, g_deviceIDWithVisibleBitMask);
}
