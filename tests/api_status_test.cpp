// Status texts and the translation of the driver's status.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "vxsdm.h"

namespace {

struct Text { SD_UINT32 code; const char* text; };

// Every code with a text, character for character.
constexpr Text kTexts[] = {
    {0x00000000, "No error"}, {0x20000002, "Invalid command code"}, {0x20000003, "Invalid version level"},
    {0x20000004, "Logical error"}, {0x20000005, "Invalid IU size"}, {0x20000006, "Logical busy"},
    {0x20000007, "Protocol error"}, {0x20000008, "(09h) No Additional Explanation"},
    {0x20000009, "IE List Not Available"}, {0x2000000a, "IE Type Not Available"},
    {0x2000000b, "Domain ID Not Available"}, {0x2000000c, "In-Band Management Address Not Available"},
    {0x2000000d, "Fabric Name Not Available"}, {0x2000000e, "Logical IE Name Not Available"},
    {0x2000000f, "Management Address List Not Available"}, {0x20000010, "IE Attributes List Not Available"},
    {0x20000011, "Port List Not Available"}, {0x20000012, "Port Type Not Available"},
    {0x20000013, "Physical Port ID Not Available"}, {0x20000014, "Logical Port Name Not Available"},
    {0x20000015, "Attached Port Name List Not Available"}, {0x20000016, "Port Attributes List Not Available"},
    {0x20000017, "Port State Not Available"}, {0x20000018, "Unable to Set Logical IE Name"},
    {0x20000019, "Unable to Set Logical Port Name"}, {0x2000001a, "Authentication Exception"},
    {0x2000001b, "Error: Reserved code"}, {0x2000001c, "Command not supported"},
    {0x2000001d, "Vendor unique error"}, {0x2000001e, "Management Server reserved error"},
    {0x2000001f, "Specified buffer is not big enough for all data"},
    {0x20000020, "Port Identifier not registered"}, {0x20000021, "Port Name not registered"},
    {0x20000022, "Node Name not registered"}, {0x20000023, "Class of Service not registered"},
    {0x20000024, "IP Address (Node) not registered"},
    {0x20000025, "Initial Process Associator not registered"}, {0x20000026, "FC-4 Types not registered"},
    {0x20000027, "Symbolic Port Name not registered"}, {0x20000028, "Symbolic Node Name not registered"},
    {0x20000029, "Port Type not registered"}, {0x2000002a, "IP Address (Port) not registered"},
    {0x2000002b, "Fabric Port Name not registered"}, {0x2000002c, "Hard Address not registered"},
    {0x2000002d, "Access Denied"}, {0x2000002e, "Unacceptable Port Identifier"},
    {0x2000002f, "Database Empty"}, {0x20000030, "No object registered in the specified scope"},
    {0x20000031, "Invalid WWN (IE or Port)"}, {0x20000032, "Platform Name does not exist"},
    {0x20000033, "Platform Name already exists"}, {0x20000034, "Platform Node Name does not exist"},
    {0x20000035, "Platform Node Name already exists"}, {0x20000036, "Authorization Exception"},
    {0x20000037, "No Response from Management Server/Fabricdoesn't support MS"},
    {0x20000040, "SCSI check condition"}, {0x20000041, "SCSI condition Met"}, {0x20000042, "SCSI busy"},
    {0x20000043, "SCSI intermediate"}, {0x20000044, "SCSI intermediate condition met"},
    {0x20000045, "SCSI reservation conflict"}, {0x20000046, "SCSI command terminated"},
    {0x20000047, "SCSI queue full"}, {0x20000049, "SCSI unknown status"}, {0x20000064, "Invalid parameter"},
    {0x20000065, "Handle to HBA device is invalid"}, {0x20000066, "Command not supported"},
    {0x20000067, "Device is busy"}, {0x20000068, "Request pending"}, {0x20000069, "Request suspended"},
    {0x2000006a, "Request retry pending"}, {0x2000006b, "Data overrun"}, {0x2000006c, "Data underrun"},
    {0x2000006d, "Device not found"}, {0x2000006e, "Copy memory failed"},
    {0x2000006f, "Firmware mailbox failed"}, {0x20000070, "Invalid command sub-code"},
    {0x20000071, "Unsupported command version"}, {0x20000072, "Buffer too small"},
    {0x20000073, "Invalid request"}, {0x20000074, "Out of memory"}, {0x20000075, "Unknown error"},
    {0x20000076, "Invalid configuration registry setting"},
    {0x20000077, "Buffer content returned not directly from device"},
    {0x2000007d, "NVRam CheckSum is not valid"}, {0x2000007e, "FirmaWare State is not valid"},
};
static_assert(std::size(kTexts) == 86);

TEST(ApiStatus, EveryCodeHasItsText) {
    for (const Text& t : kTexts) EXPECT_STREQ(SDGetErrorString(t.code), t.text) << std::hex << t.code;
}

TEST(ApiStatus, CodesWithoutTextGetTheFallbacks) {
    const Text fallbacks[] = {
        {0x20000110, "Unknown Error 20000110h."}, {0x20000048, "Unknown Error 20000048h."},
        {0x20000001, "Unknown Error 20000001h."}, {0x20000078, "Unknown Error 20000078h."},
        {0x2000007f, "Unknown Error 2000007fh."}, {0x20000000, "Unknown Error 20000000h."},
        {0xFFFFFFFF, "Unknown Error ffffffffh."}, {13, "System Error 13."},
        {0x1FFFFFFF, "System Error 536870911."},
    };
    for (const Text& t : fallbacks) EXPECT_STREQ(SDGetErrorString(t.code), t.text);
    // One buffer for every fallback: the second text replaces the first.
    SD_PINT8 first = SDGetErrorString(5);
    SD_PINT8 second = SDGetErrorString(0x20000200);
    EXPECT_EQ(first, second);
    EXPECT_STREQ(first, "Unknown Error 20000200h.");
}

TEST(ApiStatus, DriverStatusTranslation) {
    struct Case { SD_UINT32 ext, detail, status; };
    const Case cases[] = {
        {0, 0, 0},           {1, 0, 0x20000075},  {2, 0, 0x20000067},  {3, 0, 0x20000068},
        {4, 0, 0x20000069},  {5, 0, 0x2000006a},  {6, 0, 0x20000064},  {7, 0, 0x2000006b},
        {8, 0, 0x2000006c},  {9, 0, 0x2000006d},  {10, 0, 0x2000006e}, {11, 0, 0x2000006f},
        {12, 0, 0x20000070}, {13, 0, 0x20000071}, {14, 0, 0x20000037}, {16, 0, 0x20000072},
        {17, 0, 0x20000066}, {22, 0, 0x20000066}, {23, 0, 0x2000007b}, {24, 0, 0x20000066},
        {27, 0, 0x20000066}, {28, 0, 0x20000104}, {29, 0, 0x20000074}, {30, 0, 0x20000102},
        {31, 0, 0x20000103}, {32, 0, 0x20000101}, {33, 0, 0x20000110}, {34, 0, 0x20000066},
        {0xFFFFFFFF, 0, 0x20000066},
        // SCSI status: only the low byte of the detail counts.
        {15, 0x00, 0},       {15, 0x02, 0x20000040}, {15, 0x102, 0x20000040}, {15, 0x04, 0x20000041},
        {15, 0x08, 0x20000042}, {15, 0x10, 0x20000043}, {15, 0x14, 0x20000044}, {15, 0x18, 0x20000045},
        {15, 0x22, 0x20000046}, {15, 0x28, 0x20000047}, {15, 0x01, 0x20000049}, {15, 0xFF00, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(SDXlateSDMErr(c.ext, c.detail), c.status) << c.ext << "/" << c.detail;
}

}  // namespace
