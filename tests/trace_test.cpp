// The library's debug trace: the mask from the environment, where lines go,
// the number formats, line pieces, dumps, and whole lines under concurrency.
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/vx_sddbg.h"
#include "core/vx_sem.h"
#include "sim_host.h"

namespace {

constexpr const char* kLog = "/usr/lib/libvxsdm.log";
constexpr const char* kStamp = "Jan 02 03:04:05: ";  // the simulated host's clock at start

class TraceTest : public ::testing::Test {
protected:
    void SetUp() override { vxdbg_reset(); }
    void TearDown() override { vxdbg_reset(); }

    // Whether the host has a semaphore set of the library key.
    bool sem_exists(int key) const { return ::semget(host.sem_key(key), 0, 0) >= 0; }

    void remove_sem(int key) {
        int id = ::semget(host.sem_key(key), 0, 0);
        if (id >= 0) ::semctl(id, 0, IPC_RMID);
    }

    sim::SimHost host;
};

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST_F(TraceTest, MaskFromTheEnvironment) {
    struct Case {
        std::optional<std::string> env;
        uint32_t mask;
        bool semaphore;
    };
    const Case cases[] = {
        {std::nullopt, 0x401, false},
        {"0", 0x401, false},
        {"0x400", 0x401, true},
        {"1", 0x401, true},
        {"6", 0x407, true},
        {"0X2", 0x403, true},
        {"0x10zz", 0x411, true},
        {"zz", 0x401, false},
        {"ffffffff00000000", 0x401, true},  // only the low 32 bits reach the mask
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.env.value_or("(unset)"));
        vxdbg_reset();
        remove_sem(VX_SEM_KEY_DEBUG);
        host.clear_stderr();
        ::unlink(host.map(kLog).c_str());
        if (c.env) {
            host.set_env("VX_FCAPI_DEBUG", *c.env);
        } else {
            host.unset_env("VX_FCAPI_DEBUG");
        }

        vxapi_set_debug_level();
        EXPECT_EQ(vx_debug, c.mask);
        EXPECT_EQ(sem_exists(VX_SEM_KEY_DEBUG), c.semaphore);
        EXPECT_EQ(api_dbg_sem_id >= 0, c.semaphore);

        vxdbg_print("hello", 0, VXDBG_NONE, 1);
        // Only the default mask keeps standard error silent; every mask has 0x1.
        EXPECT_EQ(host.stderr_text(), c.mask == 0x401 ? "" : "hello\n");
        EXPECT_EQ(host.read_file(kLog), std::string(kStamp) + "hello\n");
    }
}

TEST_F(TraceTest, ExistingDebugSemaphoreIsKept) {
    host.set_env("VX_FCAPI_DEBUG", "2");
    vxapi_set_debug_level();
    int first = api_dbg_sem_id;
    ASSERT_GE(first, 0);
    vxapi_set_debug_level();
    EXPECT_EQ(api_dbg_sem_id, first);
    EXPECT_EQ(::semctl(first, 0, GETVAL), 1);
}

TEST_F(TraceTest, NothingIsTracedBeforeTheMaskIsSet) {
    vxdbg_print("quiet", 1, VXDBG_DEC, 1);
    EXPECT_EQ(host.stderr_text(), "");
    EXPECT_FALSE(host.exists(kLog));
}

TEST_F(TraceTest, LogLinesAreStampedWhenTheyEnd) {
    host.unset_env("VX_FCAPI_DEBUG");
    vxapi_set_debug_level();
    vxdbg_print("first ", 0, VXDBG_NONE, 0);
    vxdbg_print("half", 0, VXDBG_NONE, 1);
    host.advance(61);
    vxdbg_print("second", 7, VXDBG_DEC, 1);
    // Every print closes the file, so its text is on disk at once.
    EXPECT_EQ(host.read_file(kLog), "Jan 02 03:04:05: first half\nJan 02 03:05:06: second7\n");
    EXPECT_EQ(host.stderr_text(), "");
}

TEST_F(TraceTest, UnopenableLogIsSkipped) {
    vx_debug = 0x405;
    host.fail_open(kLog, EACCES);
    vxdbg_print("still on stderr", 0, VXDBG_NONE, 1);
    EXPECT_EQ(host.stderr_text(), "still on stderr\n");
    EXPECT_FALSE(host.exists(kLog));
}

TEST_F(TraceTest, NumberFormats) {
    struct Case {
        uint64_t value;
        uint8_t base;
        const char* text;
    };
    const Case cases[] = {
        {255, VXDBG_HEX, "FFh"},
        {10, VXDBG_HEX, "Ah"},
        {9, VXDBG_HEX, "9"},
        {5, VXDBG_HEX, "5"},
        {0, VXDBG_HEX, "0"},
        {0x1ABCDEF0123ULL, VXDBG_HEX, "1ABCDEF0123h"},
        {~0ULL, VXDBG_HEX, ""},
        {~0ULL, VXDBG_DEC, ""},
        {~0ULL, VXDBG_INT, ""},
        {0xFFFFFFFFULL, VXDBG_INT, "-1"},
        {0x1000000005ULL, VXDBG_INT, "5"},
        {0xFFFFFFFFULL, VXDBG_DEC, "4294967295"},
        {0xFFFFFFFFFFFFFFFEULL, VXDBG_DEC, "18446744073709551614"},
        {0, VXDBG_DEC, "0"},
        {42, 8, ""},
        {42, 2, ""},
    };
    vx_debug = 0x404;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.value) + " base " + std::to_string(c.base));
        host.clear_stderr();
        vxdbg_print("n=", c.value, c.base, 1);
        EXPECT_EQ(host.stderr_text(), std::string("n=") + c.text + "\n");
    }
}

TEST_F(TraceTest, FragmentsMakeOneLine) {
    vx_debug = 0x404;
    vxdbg_print("value ", 255, VXDBG_HEX, 0);
    EXPECT_EQ(host.stderr_text(), "");
    vxdbg_print(" seen", 0, VXDBG_NONE, 1);
    EXPECT_EQ(host.stderr_text(), "value FFh seen\n");
}

TEST_F(TraceTest, LongLinesAreWrittenInPiecesOf251) {
    vx_debug = 0x404;
    std::string run(300, 'x');
    vxdbg_print(run.c_str(), 0, VXDBG_NONE, 0);
    EXPECT_EQ(host.stderr_text(), std::string(251, 'x'));
    vxdbg_print("", 0, VXDBG_NONE, 1);
    EXPECT_EQ(host.stderr_text(), run + "\n");

    // A line of exactly 251 characters is one piece, the newline another.
    host.clear_stderr();
    std::string exact(251, 'y');
    vxdbg_print(exact.c_str(), 0, VXDBG_NONE, 0);
    EXPECT_EQ(host.stderr_text(), exact);
    vxdbg_print("", 0, VXDBG_NONE, 1);
    EXPECT_EQ(host.stderr_text(), exact + "\n");
}

TEST_F(TraceTest, TextIsWrittenVerbatim) {
    vx_debug = 0x404;
    vxdbg_print("100% of %s and %d %n", 0, VXDBG_NONE, 1);
    vxdbg_print(nullptr, 3, VXDBG_DEC, 1);
    EXPECT_EQ(host.stderr_text(), "100% of %s and %d %n\n3\n");
}

TEST_F(TraceTest, DumpOfBytes) {
    vx_debug = 0x404;
    const unsigned char bytes[17] = {0x00, 0x05, 0x0A, 0xFF, 0x10, 0x01, 0x02, 0x03, 0x04,
                                     0x06, 0x07, 0x08, 0x09, 0x0B, 0x0C, 0x7E, 0x42};
    vxdbg_dump("Frame", bytes, 8, sizeof bytes);
    const std::string ruler = std::string(78, '-') + "\n";
    EXPECT_EQ(host.stderr_text(),
              "Frame\n"
              " 0    1    2    3    4    5    6    7    8    9    Ah   Bh   Ch   Dh   Eh   Fh\n" +
                  ruler +
                  " 0    5    Ah  FFh  10h   1    2    3    4    6    7    8    9    Bh   Ch  7Eh\n"
                  "42h  \n" +
                  ruler);
}

TEST_F(TraceTest, DumpOfWordsFromAnOddAddress) {
    vx_debug = 0x404;
    const uint32_t words[5] = {0x0, 0x9, 0xA, 0xDEADBEEF, 0x12345678};
    unsigned char raw[1 + sizeof words];
    std::memcpy(raw + 1, words, sizeof words);
    vxdbg_dump("", raw + 1, 32, 5);
    const std::string ruler = std::string(42, '-') + "\n";
    EXPECT_EQ(host.stderr_text(),
              "       0          4          8          Ch\n" + ruler +
                  "       0          9          Ah  DEADBEEFh\n"
                  "12345678h  \n" +
                  ruler);
}

TEST_F(TraceTest, DumpOfHalfwordsFillingTheLine) {
    vx_debug = 0x404;
    const uint16_t halves[8] = {0, 1, 0xA, 0xFFFF, 0x123, 9, 0x10, 0xBEEF};
    unsigned char raw[1 + sizeof halves];
    std::memcpy(raw + 1, halves, sizeof halves);
    vxdbg_dump("H", raw + 1, 16, 8);
    const std::string ruler = std::string(54, '-') + "\n";
    EXPECT_EQ(host.stderr_text(),
              "H\n"
              "   0      2      4      6      8      Ah     Ch     Eh\n" + ruler +
                  "   0      1      Ah  FFFFh   123h     9     10h  BEEFh\n" + ruler);
}

TEST_F(TraceTest, DumpOfQuadwordsShowsEveryValue) {
    vx_debug = 0x404;
    const uint64_t quads[3] = {1, ~0ULL, 0x10};
    unsigned char raw[3 + sizeof quads];
    std::memcpy(raw + 3, quads, sizeof quads);
    vxdbg_dump("Q", raw + 3, 64, 3);
    const std::string ruler = std::string(35, '-') + "\n";
    // An item of all ones is data and is shown like any other.
    EXPECT_EQ(host.stderr_text(),
              "Q\n"
              "               0                  4\n" + ruler +
                  "               1   FFFFFFFFFFFFFFFFh\n"
                  "              10h  \n" +
                  ruler);
}

TEST_F(TraceTest, DumpEdges) {
    vx_debug = 0x404;
    vxdbg_dump("Empty", nullptr, 16, 0);
    const std::string ruler = std::string(54, '-') + "\n";
    EXPECT_EQ(host.stderr_text(), "Empty\n   0      2      4      6      8      Ah     Ch     Eh\n" + ruler + ruler);

    host.clear_stderr();
    const unsigned char b[4] = {1, 2, 3, 4};
    vxdbg_dump("Odd width", b, 12, 4);
    EXPECT_EQ(host.stderr_text(), "Odd width\n");
}

TEST_F(TraceTest, DumpLeavesTheLogOpenUntilTheNextPrint) {
    vx_debug = 0x405;
    const unsigned char b[2] = {0xA, 0xB};
    vxdbg_dump("D", b, 8, 2);
    ASSERT_NE(vxdbg_get_fptr(), nullptr);
    vxdbg_print("after", 0, VXDBG_NONE, 1);
    const std::string ruler = std::string(78, '-') + "\n";
    std::string header = " 0    1    2    3    4    5    6    7    8    9    Ah   Bh   Ch   Dh   Eh   Fh\n";
    // The stamp is written straight to the stream, ahead of the buffered line.
    EXPECT_EQ(host.read_file(kLog),
              "D\n" + header + ruler + " Ah   Bh  \n" + ruler + kStamp + "after\n");
}

// Whole lines only while two threads print at once without the debug semaphore.
TEST_F(TraceTest, ConcurrentPrintsKeepLinesWhole) {
    vx_debug = 0x405;
    ASSERT_LT(api_dbg_sem_id, 0);
    constexpr int kLines = 400;
    const std::string a_text = "thread A " + std::string(120, 'a') + " ";
    const std::string b_text = "thread B " + std::string(120, 'b') + " ";
    auto run = [](const std::string& text) {
        for (int i = 0; i < kLines; ++i) vxdbg_print(text.c_str(), static_cast<uint64_t>(i), VXDBG_DEC, 1);
    };
    std::thread a(run, std::cref(a_text));
    std::thread b(run, std::cref(b_text));
    a.join();
    b.join();

    auto check = [&](const std::string& output, const std::string& prefix) {
        int next_a = 0;
        int next_b = 0;
        std::vector<std::string> lines = split_lines(output);
        EXPECT_EQ(lines.size(), static_cast<size_t>(2 * kLines));
        for (const std::string& line : lines) {
            std::string rest = line.substr(0, prefix.size()) == prefix ? line.substr(prefix.size()) : "";
            if (rest.rfind(a_text, 0) == 0 && rest.substr(a_text.size()) == std::to_string(next_a)) {
                ++next_a;
            } else if (rest.rfind(b_text, 0) == 0 && rest.substr(b_text.size()) == std::to_string(next_b)) {
                ++next_b;
            } else {
                ADD_FAILURE() << "broken line: " << line;
                return;
            }
        }
        EXPECT_EQ(next_a, kLines);
        EXPECT_EQ(next_b, kLines);
    };
    check(host.stderr_text(), "");
    check(host.read_file(kLog), kStamp);
}

// A print whose debug semaphore was removed from outside goes on unserialised
// and says nothing about the semaphore through the trace.
TEST_F(TraceTest, PrintAfterTheDebugSemaphoreWasRemoved) {
    host.set_env("VX_FCAPI_DEBUG", "6");
    vxapi_set_debug_level();
    ASSERT_GE(api_dbg_sem_id, 0);
    ASSERT_EQ(::semctl(api_dbg_sem_id, 0, IPC_RMID), 0);

    vxdbg_print("after removal", 0, VXDBG_NONE, 1);
    const unsigned char b[1] = {7};
    vxdbg_dump("", b, 8, 1);
    std::string out = host.stderr_text();
    EXPECT_EQ(out.rfind("after removal\n", 0), 0u) << out;
    EXPECT_EQ(out.find("WARNING"), std::string::npos) << out;
}

// Print and dump wait while another process holds the debug semaphore.
TEST_F(TraceTest, OutputWaitsForTheDebugSemaphore) {
    host.set_env("VX_FCAPI_DEBUG", "4");
    vxapi_set_debug_level();
    ASSERT_GE(api_dbg_sem_id, 0);
    struct sembuf take {0, -1, 0};
    struct sembuf give {0, 1, 0};

    for (bool dump : {false, true}) {
        SCOPED_TRACE(dump ? "dump" : "print");
        ASSERT_EQ(::semop(api_dbg_sem_id, &take, 1), 0);
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const unsigned char b[1] = {1};
            if (dump) {
                vxdbg_dump("T", b, 8, 1);
            } else {
                vxdbg_print("line", 0, VXDBG_NONE, 1);
            }
            // The semaphore is free again once the output is done.
            _exit(::semctl(api_dbg_sem_id, 0, GETVAL) == 1 ? 0 : 2);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        int status = 0;
        EXPECT_EQ(::waitpid(child, &status, WNOHANG), 0);  // still waiting
        ASSERT_EQ(::semop(api_dbg_sem_id, &give, 1), 0);
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
}

}  // namespace
