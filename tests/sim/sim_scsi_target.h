// One SCSI target with its LUNs, behind either road: the simulated driver's
// pass-through handlers and the SCSI generic nodes. It takes a CDB, the data
// out and the room for data in, and answers a SCSI status byte (with its
// masked form), host and driver status, sense data, data in and a residual.
//
// Commands: TEST UNIT READY, INQUIRY (36 bytes; 0x7F for a LUN that is not
// there), READ CAPACITY(10), REPORT LUNS (or refused), READ(10) and
// WRITE(10) on per-LUN media. An absent LUN, an unknown opcode or a block out
// of range ends in CHECK CONDITION with ILLEGAL REQUEST sense.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <utility>
#include <vector>

namespace sim {

// SCSI status bytes.
constexpr uint8_t kScsiGood = 0x00;
constexpr uint8_t kScsiCheckCondition = 0x02;
constexpr uint8_t kScsiBusy = 0x08;
constexpr uint8_t kScsiReservationConflict = 0x18;
constexpr uint8_t kScsiTaskSetFull = 0x28;
constexpr uint8_t kSenseIllegalRequest = 5;

struct ScsiAnswer {
    uint8_t status = kScsiGood;
    uint16_t host_status = 0;
    uint16_t driver_status = 0;
    std::vector<uint8_t> sense;
    std::vector<uint8_t> data;  // data in, never more than the room given
    // Room (or data out) not transferred; negative: the device had that many
    // bytes more than the room.
    int32_t resid = 0;
    uint8_t masked_status() const { return static_cast<uint8_t>((status >> 1) & 0x7F); }
};

// Sense data of ILLEGAL REQUEST-type answers: fixed format (0x70, 18 bytes)
// or descriptor format (0x72, 8 bytes).
std::vector<uint8_t> fixed_sense(uint8_t key, uint8_t asc, uint8_t ascq = 0);
std::vector<uint8_t> descriptor_sense(uint8_t key, uint8_t asc, uint8_t ascq = 0);

class ScsiTarget {
public:
    struct Lun {
        uint32_t blocks = 64;  // READ CAPACITY gives blocks - 1
        uint32_t block_size = 512;
        std::vector<uint8_t> media;  // grown to blocks * block_size on first use
    };
    enum class Refusal { None, FixedSense, DescriptorSense };

    std::map<uint32_t, Lun> luns;
    Refusal report_luns = Refusal::None;  // REPORT LUNS refused with ILLEGAL REQUEST
    std::deque<ScsiAnswer> injected;      // the next commands answer these, whatever they ask
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> cdbs;  // every (LUN, CDB) taken

    ScsiAnswer execute(uint32_t lun, const std::vector<uint8_t>& cdb, const std::vector<uint8_t>& dout,
                       size_t din_room);
};

}  // namespace sim
