// The library's debug trace: the mask from the environment, where lines go,
// the number formats, line pieces, dumps, and whole lines under concurrency.
#include <sys/sem.h>

#include <atomic>
#include <sstream>
#include <thread>

#include "base/vx_sem.h"
#include "test_support.h"

namespace {

constexpr const char* kLog = "/usr/lib/libvxsdm.log";
constexpr const char* kStamp = "Jan 02 03:04:05: ";  // the simulated host's clock at start

class TraceTest : public ::testing::Test {
protected:
    void SetUp() override { vxdbg_reset(); }
    void TearDown() override { vxdbg_reset(); }
    sim::SimHost host;
};

// Every mask has 0x1 (the log); only the default keeps standard error silent;
// a second call keeps the debug semaphore and its value.
TEST_F(TraceTest, MaskFromTheEnvironment) {
    const struct { std::optional<std::string> env; uint32_t mask; bool semaphore; } cases[] = {
        {std::nullopt, 0x401, false}, {"0", 0x401, false}, {"0x400", 0x401, true}, {"1", 0x401, true},
        {"6", 0x407, true},           {"0X2", 0x403, true}, {"0x10zz", 0x411, true}, {"zz", 0x401, false},
        {"ffffffff00000000", 0x401, true},  // only the low 32 bits reach the mask
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.env.value_or("(unset)"));
        vxdbg_reset();
        if (int id = ::semget(host.sem_key(VX_SEM_KEY_DEBUG), 0, 0); id >= 0) ::semctl(id, 0, IPC_RMID);
        host.clear_stderr();
        ::unlink(host.map(kLog).c_str());
        c.env ? host.set_env("VX_FCAPI_DEBUG", *c.env) : host.unset_env("VX_FCAPI_DEBUG");
        vxdbg_print("quiet", 1, VXDBG_DEC, 1);
        vxapi_set_debug_level();
        const int first = api_dbg_sem_id;
        EXPECT_EQ(std::tuple(vx_debug.load(), first >= 0, ::semget(host.sem_key(VX_SEM_KEY_DEBUG), 0, 0) >= 0),
                  std::tuple(c.mask, c.semaphore, c.semaphore));
        vxapi_set_debug_level();
        EXPECT_EQ(api_dbg_sem_id, first);
        EXPECT_TRUE(!c.semaphore || ::semctl(first, 0, GETVAL) == 1);
        vxdbg_print("hello", 0, VXDBG_NONE, 1);
        EXPECT_EQ(host.stderr_text(), c.mask == 0x401 ? "" : "hello\n");
        EXPECT_EQ(host.read_file(kLog), std::string(kStamp) + "hello\n");
    }
}

TEST_F(TraceTest, NumberFormats) {
    const struct { uint64_t value; uint8_t base; const char* text; } cases[] = {
        {255, VXDBG_HEX, "FFh"}, {10, VXDBG_HEX, "Ah"}, {9, VXDBG_HEX, "9"}, {0, VXDBG_HEX, "0"},
        {0x1ABCDEF0123ULL, VXDBG_HEX, "1ABCDEF0123h"}, {~0ULL, VXDBG_HEX, ""}, {~0ULL, VXDBG_DEC, ""},
        {~0ULL, VXDBG_INT, ""}, {0xFFFFFFFFULL, VXDBG_INT, "-1"}, {0x1000000005ULL, VXDBG_INT, "5"},
        {0xFFFFFFFFULL, VXDBG_DEC, "4294967295"}, {0xFFFFFFFFFFFFFFFEULL, VXDBG_DEC, "18446744073709551614"},
        {0, VXDBG_DEC, "0"}, {42, 8, ""}, {42, 2, ""},
    };
    vx_debug = 0x404;
    for (const auto& c : cases) {
        host.clear_stderr();
        vxdbg_print("n=", c.value, c.base, 1);
        EXPECT_EQ(host.stderr_text(), std::string("n=") + c.text + "\n") << c.value << " base " << int(c.base);
    }
}

// Fragments make one line, written in pieces of at most 251 characters and
// stamped in the log when it ends; the text is written verbatim, never as a
// format. A log that cannot be opened is skipped.
TEST_F(TraceTest, LinesAreWrittenInPiecesOf251) {
    vx_debug = 0x405;
    vxdbg_print("value ", 255, VXDBG_HEX, 0);
    EXPECT_EQ(host.stderr_text(), "");
    host.advance(61);
    vxdbg_print(" seen", 0, VXDBG_NONE, 1);
    EXPECT_EQ(host.stderr_text(), "value FFh seen\n");
    EXPECT_EQ(host.read_file(kLog), "Jan 02 03:05:06: value FFh seen\n");
    vx_debug = 0x404;
    for (size_t n : {300, 251}) {  // 251 characters are one piece, the newline another
        host.clear_stderr();
        const std::string run(n, 'x');
        vxdbg_print(run.c_str(), 0, VXDBG_NONE, 0);
        EXPECT_EQ(host.stderr_text(), std::string(251, 'x'));
        vxdbg_print("", 0, VXDBG_NONE, 1);
        EXPECT_EQ(host.stderr_text(), run + "\n");
    }
    host.clear_stderr();
    vx_debug = 0x405;
    ::unlink(host.map(kLog).c_str());
    host.fail_open(kLog, EACCES);
    vxdbg_print("100% of %s and %d %n", 0, VXDBG_NONE, 1);
    vxdbg_print(nullptr, 3, VXDBG_DEC, 1);
    EXPECT_EQ(host.stderr_text(), "100% of %s and %d %n\n3\n");
    EXPECT_FALSE(host.exists(kLog));
}

TEST_F(TraceTest, DumpsOfEveryItemWidth) {
    vx_debug = 0x404;
    const auto ruler = [](size_t n) { return std::string(n, '-') + "\n"; };
    const std::string h8 = " 0    1    2    3    4    5    6    7    8    9    Ah   Bh   Ch   Dh   Eh   Fh\n";
    const std::string h16 = "   0      2      4      6      8      Ah     Ch     Eh\n";
    const uint8_t bytes[17] = {0x00, 0x05, 0x0A, 0xFF, 0x10, 0x01, 0x02, 0x03, 0x04,
                               0x06, 0x07, 0x08, 0x09, 0x0B, 0x0C, 0x7E, 0x42};
    const uint16_t halves[8] = {0, 1, 0xA, 0xFFFF, 0x123, 9, 0x10, 0xBEEF};
    const uint32_t words[5] = {0x0, 0x9, 0xA, 0xDEADBEEF, 0x12345678};
    const uint64_t quads[3] = {1, ~0ULL, 0x10};  // all ones is data like any other
    const struct { const char* title; const void* items; size_t size; uint8_t width; uint32_t count; std::string text; }
        cases[] = {
        {"Frame", bytes, sizeof bytes, 8, 17,
         "Frame\n" + h8 + ruler(78) +
             " 0    5    Ah  FFh  10h   1    2    3    4    6    7    8    9    Bh   Ch  7Eh\n42h  \n" +
             ruler(78)},
        {"H", halves, sizeof halves, 16, 8,
         "H\n" + h16 + ruler(54) + "   0      1      Ah  FFFFh   123h     9     10h  BEEFh\n" + ruler(54)},
        {"", words, sizeof words, 32, 5,
         "       0          4          8          Ch\n" + ruler(42) +
             "       0          9          Ah  DEADBEEFh\n12345678h  \n" + ruler(42)},
        {"Q", quads, sizeof quads, 64, 3,
         "Q\n               0                  4\n" + ruler(35) +
             "               1   FFFFFFFFFFFFFFFFh\n              10h  \n" + ruler(35)},
        {"Empty", nullptr, 0, 16, 0, "Empty\n" + h16 + ruler(54) + ruler(54)},
        {"Odd width", bytes, 4, 12, 4, "Odd width\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.width);
        std::vector<uint8_t> raw(c.size + 1);  // the items start at an odd address
        if (c.size != 0) std::memcpy(raw.data() + 1, c.items, c.size);
        host.clear_stderr();
        vxdbg_dump(c.title, c.items ? raw.data() + 1 : nullptr, c.width, c.count);
        EXPECT_EQ(host.stderr_text(), c.text);
    }
    // A dump leaves the log open: the next stamp goes ahead of the buffered dump.
    vx_debug = 0x405;
    const unsigned char b[2] = {0xA, 0xB};
    vxdbg_dump("D", b, 8, 2);
    ASSERT_NE(vxdbg_get_fptr(), nullptr);
    vxdbg_print("after", 0, VXDBG_NONE, 1);
    EXPECT_EQ(host.read_file(kLog), "D\n" + h8 + ruler(78) + " Ah   Bh  \n" + ruler(78) + kStamp + "after\n");
}

// Whole lines only while two threads print at once without the debug semaphore.
TEST_F(TraceTest, ConcurrentPrintsKeepLinesWhole) {
    vx_debug = 0x404;
    constexpr int kLines = 400;
    const std::string texts[2] = {"thread A " + std::string(120, 'a') + " ", "thread B " + std::string(120, 'b') + " "};
    auto run = [](const std::string& text) {
        for (int i = 0; i < kLines; ++i) vxdbg_print(text.c_str(), static_cast<uint64_t>(i), VXDBG_DEC, 1);
    };
    std::thread a(run, std::cref(texts[0])), b(run, std::cref(texts[1]));
    a.join();
    b.join();
    int next[2] = {0, 0};
    std::istringstream in(host.stderr_text());
    for (std::string line; std::getline(in, line);) {
        const int t = line.rfind(texts[0], 0) == 0 ? 0 : line.rfind(texts[1], 0) == 0 ? 1 : -1;
        ASSERT_TRUE(t >= 0 && line.substr(texts[t].size()) == std::to_string(next[t]++)) << line;
    }
    EXPECT_EQ(std::pair(next[0], next[1]), std::pair(kLines, kLines));
}

// Print and dump wait while another holder has the debug semaphore; once
// it is removed from outside they go on, and say nothing about it.
TEST_F(TraceTest, OutputWaitsForTheDebugSemaphore) {
    host.set_env("VX_FCAPI_DEBUG", "6");
    vxapi_set_debug_level();
    ASSERT_GE(api_dbg_sem_id, 0);
    struct sembuf take {0, -1, 0}, give {0, 1, 0};
    for (bool dump : {false, true}) {
        ASSERT_EQ(::semop(api_dbg_sem_id, &take, 1), 0);
        std::atomic<bool> done{false};
        const unsigned char b[1] = {1};
        std::thread out([&] { dump ? vxdbg_dump("T", b, 8, 1) : vxdbg_print("line", 0, VXDBG_NONE, 1), done = true; });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_FALSE(done.load()) << (dump ? "dump" : "print");
        ASSERT_EQ(::semop(api_dbg_sem_id, &give, 1), 0);
        out.join();
        EXPECT_EQ(::semctl(api_dbg_sem_id, 0, GETVAL), 1) << "free again once done";
    }
    host.clear_stderr();
    ASSERT_EQ(::semctl(api_dbg_sem_id, 0, IPC_RMID), 0);
    vxdbg_print("after removal", 0, VXDBG_NONE, 1);
    const unsigned char b[1] = {7};
    vxdbg_dump("", b, 8, 1);
    EXPECT_EQ(host.stderr_text().rfind("after removal\n", 0), 0u) << host.stderr_text();
    EXPECT_EQ(host.stderr_text().find("WARNING"), std::string::npos);
}

}  // namespace
