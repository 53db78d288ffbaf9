// Path-list validation: the path numbers of each device become 0 .. n - 1.
#include "failover/vx_fo_paths.h"
#include "test_support.h"

namespace {

struct Path {
    unsigned record;
    uint8_t node, port, path, control;
};

struct Lists {
    Lists() { for (unsigned r = 0; r < VX_FO_STORE_ADAPTERS; ++r) records[r].tgt_list = &lists[r]; }
    std::vector<FO_TARGET_DATA_LIST> lists = std::vector<FO_TARGET_DATA_LIST>(VX_FO_STORE_ADAPTERS);
    hbalist_entry records[VX_FO_STORE_ADAPTERS] = {};
};

TEST(PathValidation, Renumbering) {
    const struct Case {
        const char* name;
        std::vector<Path> paths;
        std::vector<uint8_t> after;  // path numbers, in the order of `paths`
    } cases[] = {
        {"0 1 2 in any order", {{0, 1, 1, 2, 1}, {1, 1, 2, 0, 1}, {2, 1, 3, 1, 1}}, {2, 0, 1}},
        {"1 2", {{0, 1, 1, 1, 1}, {3, 1, 2, 2, 1}}, {0, 1}},
        {"0 0", {{0, 1, 1, 0, 1}, {0, 1, 2, 0, 1}}, {0, 1}},
        {"0 5", {{0, 1, 1, 0, 1}, {1, 1, 2, 5, 1}}, {0, 1}},
        {"0 20", {{0, 1, 1, 0, 1}, {1, 1, 2, 20, 1}}, {0, 1}},
        {"two control 0", {{0, 1, 1, 1, 0}, {1, 1, 2, 0, 1}, {1, 1, 3, 2, 0}}, {0, 0, 0}},
        {"single path", {{5, 1, 1, 3, 1}}, {0}},
        {"by port name", {{0, 1, 1, 1, 0x10}, {1, 1, 2, 1, 0x10}}, {0, 0}},
        {"two devices", {{0, 1, 1, 1, 1}, {0, 2, 2, 1, 1}, {1, 2, 3, 0, 1}}, {0, 1, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Lists l;
        std::vector<FO_TARGET_DATA_ENTRY*> entries;
        for (const Path& p : c.paths) {
            FO_TARGET_DATA_LIST& list = l.lists[p.record];
            FO_TARGET_DATA_ENTRY& e = list.DataEntry[list.EntryCount++];
            e = FO_TARGET_DATA_ENTRY{{}, p.path, 7, {}, p.control, {}, {}, 0, {p.node}, {p.port}};
            entries.push_back(&e);
        }
        // An entry past EntryCount takes no part.
        FO_TARGET_DATA_ENTRY& past = l.lists[0].DataEntry[l.lists[0].EntryCount];
        past = FO_TARGET_DATA_ENTRY{{}, 9, 7, {}, 1, {}, {}, 0, {1}, {9}};
        vxapi_validate_portsummary_data(l.records);
        std::vector<uint8_t> after;
        for (const FO_TARGET_DATA_ENTRY* e : entries) after.push_back(e->PathNumber);
        EXPECT_EQ(after, c.after);
        EXPECT_EQ(past.PathNumber, 9);
    }
    // An EntryCount beyond the list is walked as 256 entries: one device of 256 paths.
    Lists l;
    l.lists[0].EntryCount = 0xFFFF;
    for (unsigned k = 0; k < VX_FO_TARGETS; ++k) l.lists[0].DataEntry[k] = {{}, 0, 0, {}, 1, {}, {}, 0, {}, {0, uint8_t(k)}};
    vxapi_validate_portsummary_data(l.records);
    EXPECT_EQ(l.lists[0].DataEntry[255].PathNumber, 255);
}

}  // namespace
