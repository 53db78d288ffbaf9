// One SCSI target with its LUNs, behind either road (the simulated driver's
// pass-through handlers, the SCSI generic nodes): a CDB, the data out and the
// room for data in give a status byte, host and driver status, sense, data in
// and a residual. TEST UNIT READY, INQUIRY (byte 0 0x7F for an absent LUN),
// READ CAPACITY(10), REPORT LUNS (or refused), READ(10) and WRITE(10); an
// absent LUN, an unknown opcode or a block out of range: CHECK CONDITION with
// fixed-format ILLEGAL REQUEST sense.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <utility>
#include <vector>

namespace sim {

constexpr uint8_t kScsiCheckCondition = 0x02, kScsiBusy = 0x08, kScsiReservationConflict = 0x18,
                  kScsiTaskSetFull = 0x28;

struct ScsiAnswer {
    uint8_t status = 0;
    uint16_t host_status = 0, driver_status = 0;
    std::vector<uint8_t> sense, data;  // data in: never more than the room
    int32_t resid = 0;                 // room (or data out) not moved; negative: the device had more
    uint8_t masked_status() const { return static_cast<uint8_t>((status >> 1) & 0x7F); }
    static ScsiAnswer of(uint8_t status, uint16_t host_status = 0, int32_t resid = 0) {
        return ScsiAnswer{status, host_status, 0, {}, {}, resid};
    }
};

// Sense with key 5 (ILLEGAL REQUEST): fixed format 0x70 (18 bytes), descriptor format 0x72 (8).
std::vector<uint8_t> fixed_sense(uint8_t asc);
std::vector<uint8_t> descriptor_sense(uint8_t asc);

class ScsiTarget {
public:
    struct Lun {
        uint32_t blocks = 64, block_size = 512;
        std::vector<uint8_t> media;  // grown on first READ or WRITE
    };
    enum class Refusal { None, FixedSense, DescriptorSense };

    std::map<uint32_t, Lun> luns;
    Refusal report_luns = Refusal::None;
    std::deque<ScsiAnswer> injected;  // the next commands answer these, whatever they ask
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> cdbs;  // every (LUN, CDB) taken

    ScsiAnswer execute(uint32_t lun, const std::vector<uint8_t>& cdb, const std::vector<uint8_t>& dout,
                       size_t din_room);
};

}  // namespace sim
