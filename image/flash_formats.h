// The flash and image formats that the library reads from an adapter's flash
// or from an option ROM image held in memory: the chain of PCI expansion ROM
// images, the flash layout table with its locator, the image layout header,
// the image status record and the Vital Product Data (VPD) area.
//
// Flash contents are little-endian whatever the host. The records below give
// the byte layouts; code never overlays them on a flash buffer and never takes
// the address of one of their multi-byte members. Bytes are read and written
// with the vximg_get_le* helpers, and the vximg_decode_* functions turn raw
// bytes into a record with host-order values.
//
// The walkers never read outside the buffer they are given: every offset and
// length found in the data is checked against the buffer before use, and a
// walk always ends, cleanly, with the reason it ended.
//
// Everything here is pure: no I/O, no state.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- byte order ----

[[nodiscard]] inline uint16_t vximg_get_le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

[[nodiscard]] inline uint32_t vximg_get_le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// ---- constants ----

// PCI expansion ROM chain.
constexpr uint8_t VXIMG_ROM_SIGNATURE_0 = 0x55;  // first two bytes of every image
constexpr uint8_t VXIMG_ROM_SIGNATURE_1 = 0xAA;
constexpr char VXIMG_PCIR_SIGNATURE[4] = {'P', 'C', 'I', 'R'};
constexpr size_t VXIMG_ROM_UNIT = 512;   // ImageLength counts these
constexpr uint8_t VXIMG_CODE_X86 = 0;    // x86 BIOS
constexpr uint8_t VXIMG_CODE_FCODE = 1;  // Open Firmware FCode
constexpr uint8_t VXIMG_CODE_EFI = 3;
constexpr uint8_t VXIMG_LAST_IMAGE = 0x80;  // Indicator bit of the chain's last image
// Device IDs of the maker's own images (with the maker's vendor ID).
constexpr uint16_t VXIMG_DEVICE_VPD = 0x0001;       // the VPD follows the data structure
constexpr uint16_t VXIMG_DEVICE_FIRMWARE = 0x0003;  // the firmware header follows it

// A 128 KiB option ROM with a single x86 BIOS image and no VPD image keeps
// its VPD in its last 512 bytes.
constexpr size_t VXIMG_BIOS_ROM_SIZE = 0x20000;
constexpr size_t VXIMG_BIOS_VPD_OFFSET = 0x1FE00;
constexpr size_t VXIMG_BIOS_VPD_SIZE = 512;

// Flash layout table.
constexpr char VXIMG_FLT_SIGNATURE[4] = {'V', 'F', 'L', 'T'};
constexpr uint16_t VXIMG_FLT_VERSION = 1;  // the only table version accepted

// Image layout header of a multi-region image.
constexpr char VXIMG_VFIM_SIGNATURE[4] = {'V', 'F', 'I', 'M'};

// Image status records.
constexpr uint32_t VXIMG_IMAGE_STATUS_SIGNATURE = 0xFACEFADE;
constexpr uint8_t VXIMG_IMAGE_STATUS_VALID = 0x01;  // mask bit: the image set is valid
constexpr uint32_t VXIMG_REGION_IMAGE_STATUS_PRIMARY = 0x95;
constexpr uint32_t VXIMG_REGION_IMAGE_STATUS_SECONDARY = 0x96;

// VPD resource tags.
constexpr uint8_t VXIMG_VPD_TAG_IDENT = 0x82;  // identifier string
constexpr uint8_t VXIMG_VPD_TAG_VPDR = 0x90;   // read-only keywords
constexpr uint8_t VXIMG_VPD_TAG_VPDW = 0x91;   // writable keywords
constexpr uint8_t VXIMG_VPD_TAG_END = 0x78;

// ---- records ----
//
// Byte layouts only. Values decoded by the vximg_decode_* functions are in
// the host's byte order; signatures stay byte sequences.

#pragma pack(push, 1)

// Header of one image of the PCI expansion ROM chain.
struct INT_PCI_ROM_HEADER {
    uint8_t Signature[2];  // 0x55, 0xAA
    uint8_t Reserved[22];
    uint16_t PcirOffset;  // of the image's INT_PCI_DATA_STRUCT, from the image's start
};

// The image's PCI data structure.
struct INT_PCI_DATA_STRUCT {
    uint8_t Signature[4];  // "PCIR"
    uint16_t VendorId;
    uint16_t DeviceId;
    uint16_t Reserved0;
    uint16_t Length;  // of this structure; the payload (VPD, firmware header) follows it
    uint8_t Revision;
    uint8_t ClassCode[3];
    uint16_t ImageLength;   // in 512-byte units; the next image starts that far on
    uint16_t CodeRevision;  // high byte major, low byte minor
    uint8_t CodeType;       // VXIMG_CODE_*
    uint8_t Indicator;      // VXIMG_LAST_IMAGE on the chain's last image
    uint16_t Reserved1;
};

// Locator of the flash layout table.
struct FLT_LOCATION {
    uint8_t sig[4];  // "VFLT"
    uint16_t start_lo;
    uint16_t start_hi;
    uint8_t version;
    uint8_t reserved[5];
    uint16_t checksum;  // the eight 16-bit words add up to 0
};

// Head of the flash layout table; `length` bytes of FLT_REGION entries follow.
struct FLT_HEADER {
    uint16_t version;
    uint16_t length;
    uint16_t checksum;  // the (length + 8) / 2 words from the head's start add up to 0
    uint16_t unused;
};

// One region entry of the flash layout table.
struct FLT_REGION {
    uint8_t code;  // region code
    uint8_t reserved1;
    uint8_t attribute;
    uint8_t reserved3;
    uint32_t size;   // bytes
    uint32_t start;  // first flash byte offset
    uint32_t end;    // last flash byte offset
};

// Image layout header at the start of a multi-region flash image.
struct VFIM_HEADER {
    uint8_t signature[4];  // "VFIM"
    uint16_t table_version;
    uint16_t length;  // bytes from the header's start to the first boot code image
    uint16_t checksum;
    uint16_t no_of_entries;
    uint8_t card_type_list;
    uint8_t version[3];
    uint8_t reserved[16];
};

// Image status record of one image set.
struct vxa_image_status {
    uint8_t mask;  // VXIMG_IMAGE_STATUS_VALID
    uint16_t gen_num;
    uint8_t reserved[3];
    uint8_t ver_minor;
    uint8_t ver_major;
    uint32_t checksum;   // the four 32-bit words add up to 0
    uint32_t signature;  // VXIMG_IMAGE_STATUS_SIGNATURE
};

#pragma pack(pop)

static_assert(sizeof(INT_PCI_ROM_HEADER) == 26);
static_assert(offsetof(INT_PCI_ROM_HEADER, PcirOffset) == 0x18);

static_assert(sizeof(INT_PCI_DATA_STRUCT) == 24);
static_assert(offsetof(INT_PCI_DATA_STRUCT, VendorId) == 4);
static_assert(offsetof(INT_PCI_DATA_STRUCT, DeviceId) == 6);
static_assert(offsetof(INT_PCI_DATA_STRUCT, Length) == 0x0A);
static_assert(offsetof(INT_PCI_DATA_STRUCT, ImageLength) == 0x10);
static_assert(offsetof(INT_PCI_DATA_STRUCT, CodeRevision) == 0x12);
static_assert(offsetof(INT_PCI_DATA_STRUCT, CodeType) == 0x14);
static_assert(offsetof(INT_PCI_DATA_STRUCT, Indicator) == 0x15);

static_assert(sizeof(FLT_LOCATION) == 16);
static_assert(offsetof(FLT_LOCATION, start_lo) == 4);
static_assert(offsetof(FLT_LOCATION, start_hi) == 6);
static_assert(offsetof(FLT_LOCATION, version) == 8);
static_assert(offsetof(FLT_LOCATION, checksum) == 14);

static_assert(sizeof(FLT_HEADER) == 8);
static_assert(offsetof(FLT_HEADER, length) == 2);
static_assert(offsetof(FLT_HEADER, checksum) == 4);

static_assert(sizeof(FLT_REGION) == 16);
static_assert(offsetof(FLT_REGION, attribute) == 2);
static_assert(offsetof(FLT_REGION, size) == 4);
static_assert(offsetof(FLT_REGION, start) == 8);
static_assert(offsetof(FLT_REGION, end) == 12);

static_assert(sizeof(VFIM_HEADER) == 32);
static_assert(offsetof(VFIM_HEADER, length) == 6);
static_assert(offsetof(VFIM_HEADER, no_of_entries) == 10);
static_assert(offsetof(VFIM_HEADER, card_type_list) == 12);
static_assert(offsetof(VFIM_HEADER, reserved) == 16);

static_assert(sizeof(vxa_image_status) == 16);
static_assert(offsetof(vxa_image_status, gen_num) == 1);
static_assert(offsetof(vxa_image_status, ver_minor) == 6);
static_assert(offsetof(vxa_image_status, ver_major) == 7);
static_assert(offsetof(vxa_image_status, checksum) == 8);
static_assert(offsetof(vxa_image_status, signature) == 12);

// ---- decoding ----
//
// Each reads exactly sizeof(record) bytes at p; the caller has checked that
// they lie in its buffer.

void vximg_decode_rom_header(const uint8_t* p, INT_PCI_ROM_HEADER* out);
void vximg_decode_pci_data_struct(const uint8_t* p, INT_PCI_DATA_STRUCT* out);
void vximg_decode_flt_header(const uint8_t* p, FLT_HEADER* out);
void vximg_decode_image_status(const uint8_t* p, vxa_image_status* out);

// ---- checksums ----

// 16-bit and 32-bit little-endian word sums (modulo 2^16 and 2^32).
[[nodiscard]] uint16_t vximg_sum_le16(const uint8_t* p, size_t words);
[[nodiscard]] uint32_t vximg_sum_le32(const uint8_t* p, size_t words);

// True when the 16 bytes at p carry "VFLT" and their eight words add up to 0.
[[nodiscard]] bool vximg_flt_location_valid(const uint8_t* p);
// The flash byte offset of the table the locator at p names.
[[nodiscard]] uint32_t vximg_flt_location_address(const uint8_t* p);

// True when the table that starts at buf (header and `length` bytes of
// entries) lies within len bytes and its (length + 8) / 2 words add up to 0.
// A table longer than the buffer is not valid. The version is not tested.
[[nodiscard]] bool vximg_flt_header_checksum_ok(const uint8_t* buf, size_t len);

// True when the four words of the 16-byte image status record at p add up
// to 0.
[[nodiscard]] bool vximg_image_status_checksum_ok(const uint8_t* p);

// ---- PCI expansion ROM chain ----

// Why a look at one image failed, or why a walk ended.
enum vximg_rom_result : int {
    VXIMG_ROM_OK = 0,                  // a sound image (the walk goes on)
    VXIMG_ROM_LAST = 1,                // the walk ended after the image marked last
    VXIMG_ROM_NO_ROOM = 2,             // no whole image header at the position: the buffer ended first
    VXIMG_ROM_BAD_SIGNATURE = 3,       // no 0x55, 0xAA at the position
    VXIMG_ROM_BAD_PCIR_OFFSET = 4,     // the data structure does not lie wholly within the buffer
    VXIMG_ROM_BAD_PCIR_SIGNATURE = 5,  // the data structure lacks "PCIR"
    VXIMG_ROM_ZERO_LENGTH = 6,         // an image that is not the last has ImageLength 0
    VXIMG_ROM_BAD_VFIM = 7,            // an image layout header that does not lie within the buffer
};

// One image of the chain, as found in the buffer.
struct vximg_rom_image {
    size_t offset;       // the image's start
    size_t pcir_offset;  // the data structure's start (offset + PcirOffset)
    INT_PCI_ROM_HEADER header;
    INT_PCI_DATA_STRUCT pcir;
    size_t length;          // ImageLength * 512; the image may reach past the buffer
    size_t payload_offset;  // pcir_offset + the structure's Length (may lie past the buffer)
    uint16_t vendor_id;
    uint16_t device_id;
    uint8_t code_type;
    uint16_t revision;  // CodeRevision
    uint8_t rev_major;  // its high byte
    uint8_t rev_minor;  // its low byte
    uint8_t indicator;
    bool last;  // Indicator has VXIMG_LAST_IMAGE
};

// Checks the image at `offset`: 0x55, 0xAA, the data structure within the
// buffer and its "PCIR". VXIMG_ROM_OK with *img filled, or the failure.
[[nodiscard]] int vximg_rom_image_at(const uint8_t* buf, size_t len, size_t offset, vximg_rom_image* img);

// A walk along the chain. At each position an image must start (with
// skip_vfim, an image layout header there is first passed over by its
// `length`); the walk advances by each image's length and ends after the
// image marked last, at the first unsound image, at an image that is not the
// last but has length 0, or when the next position leaves no room for an
// image in the buffer. Positions only grow, so a walk always ends.
struct vximg_rom_walker {
    const uint8_t* buf;
    size_t len;
    size_t pos;  // where the next image is looked for; after the last image, its end
    bool skip_vfim;
    int result;          // VXIMG_ROM_OK while the walk goes on, then why it ended
    unsigned count;      // images yielded
    size_t vfim_offset;  // the last image layout header passed over, or SIZE_MAX
};

void vximg_rom_walk_init(vximg_rom_walker* w, const uint8_t* buf, size_t len, size_t start, bool skip_vfim);
// The next image into *img (true), or false when the walk is over (w->result says why).
[[nodiscard]] bool vximg_rom_walk_next(vximg_rom_walker* w, vximg_rom_image* img);

// ---- VPD ----

enum vximg_vpd_kind : int {
    VXIMG_VPD_ITEM_IDENT = 1,    // 0x82: tag, u16 length, text
    VXIMG_VPD_ITEM_AREA = 2,     // 0x90 / 0x91: tag, u16 length; its keywords follow
    VXIMG_VPD_ITEM_KEYWORD = 3,  // two name bytes, one length byte, data
    VXIMG_VPD_ITEM_END = 4,      // 0x78
};

struct vximg_vpd_item {
    int kind;                // vximg_vpd_kind
    uint8_t tag;             // the tag byte; 0 for a keyword
    char name[2];            // keyword name
    uint8_t area;            // 0x90 or 0x91: the area a keyword stands in (0 before any)
    size_t offset;           // the item's first byte
    size_t data_offset;      // the identifier text, the keyword data, an area's first keyword
    size_t data_length;      // bytes of data, all within the buffer
    size_t declared_length;  // the length as the item states it (an area's may pass the buffer)
};

enum vximg_vpd_result : int {
    VXIMG_VPD_RUNNING = 0,
    VXIMG_VPD_END_TAG = 1,        // the end tag was met (and yielded)
    VXIMG_VPD_END_OF_BUFFER = 2,  // the buffer ended between items, without an end tag
    VXIMG_VPD_TRUNCATED = 3,      // an item's header or data reaches past the buffer
};

// A walk over the VPD items from the area's first byte: the identifier
// string is passed over whole, the read-only and writable areas are entered
// (their keywords are yielded one by one), the end tag ends the walk. Any
// other byte starts a keyword.
struct vximg_vpd_walker {
    const uint8_t* buf;
    size_t len;
    size_t pos;
    uint8_t area;
    int result;  // vximg_vpd_result
};

void vximg_vpd_walk_init(vximg_vpd_walker* w, const uint8_t* buf, size_t len);
[[nodiscard]] bool vximg_vpd_walk_next(vximg_vpd_walker* w, vximg_vpd_item* item);

// Puts text into a keyword's data (an item of a walk over this buffer): the
// text, then zero bytes, exactly as many bytes as the keyword's length; a
// longer text is cut. False, with nothing written, for an item that is not a
// keyword within the buffer.
[[nodiscard]] bool vximg_vpd_fill_keyword(uint8_t* buf, size_t len, const vximg_vpd_item* kw, const char* text,
                                          size_t text_len);
