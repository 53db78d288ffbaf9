// Path-list validation.
//
// Each target entry is one path to a device; a device is known by its node
// name, or by its port name when the entry's control byte says so. The paths
// of a device must carry the path numbers 0 .. paths - 1 in some order; two
// paths with control byte 0 all get path number 0; any other device is
// renumbered in the order its paths were found (record by record, entry by
// entry).
#include "failover/vx_fo_paths.h"

#include <bitset>
#include <cstring>
#include <vector>

namespace {

// One device per slot: 32 records of 256 entries never need more.
constexpr size_t kDeviceSlots = VX_FO_STORE_ADAPTERS * VX_FO_TARGETS;

struct PathNode {
    FO_TARGET_DATA_ENTRY entry;
    uint16_t record;
};
using Device = std::vector<PathNode>;

bool same_device(const PathNode& first, const PathNode& node) {
    const bool by_port = (node.entry.Control & FO_TARGET_BY_PORT_NAME) != 0;
    const uint8_t* a = by_port ? first.entry.PortName : first.entry.NodeName;
    const uint8_t* b = by_port ? node.entry.PortName : node.entry.NodeName;
    return std::memcmp(a, b, 8) == 0;
}

void add_to_path_list(std::vector<Device>& devices, const PathNode& node) {
    for (Device& device : devices) {
        if (same_device(device.front(), node)) {
            device.push_back(node);
            return;
        }
    }
    if (devices.size() < kDeviceSlots) devices.push_back(Device{node});
}

// Whether the chain needed new path numbers (and got them).
bool fix_device(Device& device) {
    std::bitset<256> seen;
    bool duplicate = false;
    unsigned zero_controls = 0;
    for (const PathNode& node : device) {
        duplicate = duplicate || seen.test(node.entry.PathNumber);
        seen.set(node.entry.PathNumber);
        if (node.entry.Control == 0 && ++zero_controls == 2) break;
    }
    if (zero_controls >= 2) {
        bool changed = false;
        for (PathNode& node : device) {
            changed = changed || node.entry.PathNumber != 0;
            node.entry.PathNumber = 0;
        }
        return changed;
    }
    // Correct: exactly the numbers 0 .. count - 1.
    bool correct = seen.test(0) && !duplicate;
    for (size_t n = device.size(); correct && n < seen.size(); ++n) correct = !seen.test(n);
    if (correct) return false;
    for (size_t i = 0; i < device.size(); ++i) device[i].entry.PathNumber = static_cast<uint8_t>(i);
    return true;
}

bool check_and_fix_path_lists(std::vector<Device>& devices) {
    bool changed = false;
    for (Device& device : devices) changed = fix_device(device) || changed;
    return changed;
}

uint16_t entries_of(const FO_TARGET_DATA_LIST& list) {
    return list.EntryCount < VX_FO_TARGETS ? list.EntryCount : static_cast<uint16_t>(VX_FO_TARGETS);
}

// Writes a path's entry back over the first entry of its record with its port name.
void write_back(hbalist_entry* records, const PathNode& node) {
    FO_TARGET_DATA_LIST& list = *records[node.record].tgt_list;
    for (uint16_t k = 0; k < entries_of(list); ++k) {
        if (std::memcmp(list.DataEntry[k].PortName, node.entry.PortName, 8) == 0) {
            list.DataEntry[k] = node.entry;
            return;
        }
    }
}

}  // namespace

void vxapi_validate_portsummary_data(hbalist_entry* records) {
    std::vector<Device> devices;
    for (uint16_t r = 0; r < VX_FO_STORE_ADAPTERS; ++r) {
        const FO_TARGET_DATA_LIST* list = records[r].tgt_list;
        if (list == nullptr) continue;
        for (uint16_t k = 0; k < entries_of(*list); ++k) add_to_path_list(devices, PathNode{list->DataEntry[k], r});
    }
    if (!check_and_fix_path_lists(devices)) return;
    for (const Device& device : devices) {
        for (const PathNode& node : device) write_back(records, node);
    }
}
