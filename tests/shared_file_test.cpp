// The shared data file: its layout, creation, upgrade and refusal of foreign
// files, the claim and release of library-instance slots, and the removal of
// the file and its semaphores by the last process, with real processes
// sharing one sandbox.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/vx_event.h"
#include "core/vx_sddbg.h"
#include "core/vx_sem.h"
#include "core/vx_shared.h"
#include "shared_file_support.h"
#include "sim_host.h"

namespace {

using shtest::Child;

constexpr size_t kQueueOffset = 32;
constexpr size_t kQueueSize = 16404;
constexpr size_t kTokensOffset = 131264;
constexpr size_t kReservedOffset = 139456;

size_t queue_offset(unsigned slot) { return kQueueOffset + slot * kQueueSize; }

class SharedFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        vxdbg_reset();
        shtest::reset_shared_state();
    }
    void TearDown() override {
        shtest::reset_shared_state();
        vxdbg_reset();
    }

    std::string file_bytes() const { return host.read_file(VX_SHARED_FILE); }

    void write_shared(const std::string& bytes) { host.write_file(VX_SHARED_FILE, bytes, 0644); }

    static uint32_t flags_in(const std::string& bytes, unsigned slot) {
        uint32_t v = 0;
        std::memcpy(&v, bytes.data() + 4 * slot, sizeof v);
        return v;
    }

    static void set_flags_in(std::string& bytes, unsigned slot, uint32_t v) {
        std::memcpy(bytes.data() + 4 * slot, &v, sizeof v);
    }

    // A full-size file whose slots have these flag words.
    static std::string file_with_flags(const std::vector<uint32_t>& flags) {
        std::string bytes(VX_SHARED_SIZE, '\0');
        for (unsigned i = 0; i < flags.size(); ++i) set_flags_in(bytes, i, flags[i]);
        return bytes;
    }

    // Opens the file in this process and stops the event thread it started.
    int open_here() {
        int fd = -1;
        const int rc = vxapi_open_database(&fd);
        shtest::stop_event_thread();
        if (rc == 0) {
            EXPECT_EQ(fd, api_shm_fildes);
        }
        return rc;
    }

    sim::SimHost host;
};

// A child that opens the file, reports its slot (or -1), and closes when told.
int open_and_hold(Child& self, bool with_flash_sem = false) {
    if (with_flash_sem) api_flash_sem_id = vxapi_sem_get(VX_SEM_KEY_FLASH);
    int fd = -1;
    if (vxapi_open_database(&fd) != 0) {
        self.reply(-1);
        return 1;
    }
    self.reply(api_library_instance);
    if (self.command() != 1) return 2;
    vxapi_close_database(fd);
    self.reply(0);
    return 0;
}

TEST_F(SharedFileTest, LayoutOfTheFile) {
    EXPECT_EQ(sizeof(vxapi_shared_t), 262144u);
    for (unsigned i = 0; i < VX_LIBINST_SLOTS; ++i) {
        EXPECT_EQ(offsetof(vxapi_shared_t, hbaptevq) + i * sizeof(vxapi_hbaptevq_t), queue_offset(i));
    }
    EXPECT_EQ(offsetof(vxapi_shared_t, fut), kTokensOffset);
    EXPECT_EQ(offsetof(vxapi_shared_t, reserved), kReservedOffset);
    EXPECT_EQ(kTokensOffset + 32 * 256 + 122688, VX_SHARED_SIZE);
    EXPECT_EQ(offsetof(vxapi_flash_update_token, valid_time), 132u);
}

TEST_F(SharedFileTest, FreshFileIsZerosWithTheOwnSlotClaimed) {
    ASSERT_FALSE(host.exists(VX_SHARED_FILE));
    int fd = -1;
    ASSERT_EQ(vxapi_open_database(&fd), 0);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(fd, api_shm_fildes);
    EXPECT_EQ(api_library_instance, 0);
    EXPECT_NE(api_shared_data, nullptr);

    std::string bytes = file_bytes();
    ASSERT_EQ(bytes.size(), VX_SHARED_SIZE);
    EXPECT_EQ(flags_in(bytes, 0), VX_LIBINST_OWNED | VX_LIBINST_ACTIVE);
    set_flags_in(bytes, 0, 0);
    EXPECT_EQ(bytes, std::string(VX_SHARED_SIZE, '\0'));

    struct stat st {};
    ASSERT_EQ(::stat(shtest::shared_path(host).c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0022, 0u) << "not writable by others";

    EXPECT_EQ(vxapi_close_database(fd), 0);
    EXPECT_FALSE(host.exists(VX_SHARED_FILE)) << "the only instance removes the file";
    EXPECT_EQ(api_shared_data, nullptr);
    EXPECT_EQ(api_shm_fildes, -1);
    EXPECT_FALSE(shtest::host_sem_exists(host, VX_SEM_KEY_SHARED));
}

TEST_F(SharedFileTest, ShortFileIsZeroExtendedWithItsContentsKept) {
    // A file of the older size (no reserved area) with owned slots, queued
    // events and tokens.
    std::string old(kReservedOffset, '\0');
    for (size_t i = queue_offset(1); i < kReservedOffset; ++i) old[i] = static_cast<char>(i * 7 + 1);
    set_flags_in(old, 0, 0);
    for (unsigned i = 1; i < VX_LIBINST_SLOTS; ++i) set_flags_in(old, i, i == 4 ? 0x1u : 0x5u);
    write_shared(old);

    ASSERT_EQ(open_here(), 0);
    EXPECT_EQ(api_library_instance, 0);
    std::string bytes = file_bytes();
    ASSERT_EQ(bytes.size(), VX_SHARED_SIZE);
    EXPECT_EQ(flags_in(bytes, 0), 0x5u);
    EXPECT_EQ(bytes.substr(4, kReservedOffset - 4), old.substr(4)) << "slots, queues and tokens kept";
    EXPECT_EQ(bytes.substr(kReservedOffset), std::string(VX_SHARED_SIZE - kReservedOffset, '\0'));
}

TEST_F(SharedFileTest, UpgradeReadsTheOldContentsWhateverTheReadSizes) {
    std::string old(kReservedOffset, '\0');
    for (size_t i = queue_offset(1); i < kReservedOffset; ++i) old[i] = static_cast<char>(i * 3 + 1);
    write_shared(old);
    host.short_reads(VX_SHARED_FILE, 1000);
    ASSERT_EQ(open_here(), 0);
    const std::string bytes = file_bytes();
    ASSERT_EQ(bytes.size(), VX_SHARED_SIZE);
    EXPECT_EQ(bytes.substr(4, kReservedOffset - 4), old.substr(4));
}

TEST_F(SharedFileTest, FileOfFullSizeOrMoreIsUsedUnchanged) {
    std::string big(VX_SHARED_SIZE + 100, 'R');
    std::string flags = file_with_flags({0, 5, 5}).substr(0, 32);
    big.replace(0, 32, flags);
    big.replace(queue_offset(0), kQueueSize, std::string(kQueueSize, '\0'));
    write_shared(big);

    ASSERT_EQ(open_here(), 0);
    std::string bytes = file_bytes();
    ASSERT_EQ(bytes.size(), big.size());
    EXPECT_EQ(flags_in(bytes, 0), 0x5u);
    EXPECT_EQ(bytes.substr(4), big.substr(4));
}

TEST_F(SharedFileTest, ForeignFilesAtThePathAreRefusedAndLeftAlone) {
    const std::string victim_text(1000, 'V');
    struct Case {
        const char* what;
        std::function<void()> plant;
    };
    const std::vector<Case> cases = {
        {"symlink to a short file", [&] { host.make_symlink("/etc/victim", VX_SHARED_FILE); }},
        {"regular file owned by another user",
         [&] {
             host.write_file(VX_SHARED_FILE, victim_text);
             host.set_owner(VX_SHARED_FILE, 1000);
         }},
        {"file with a second link",
         [&] {
             host.write_file(VX_SHARED_FILE, victim_text);
             ::unlink(host.map("/etc/victim").c_str());
             ASSERT_EQ(::link(shtest::shared_path(host).c_str(), host.map("/etc/victim").c_str()), 0);
         }},
        {"directory", [&] { host.make_dir(VX_SHARED_FILE); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ::unlink(shtest::shared_path(host).c_str());
        ::rmdir(shtest::shared_path(host).c_str());
        host.write_file("/etc/victim", victim_text);
        c.plant();

        int fd = 7;
        EXPECT_EQ(vxapi_open_database(&fd), 1);
        EXPECT_EQ(fd, 0);
        EXPECT_EQ(api_shared_data, nullptr);
        EXPECT_EQ(api_shm_fildes, -1);
        EXPECT_EQ(host.read_file("/etc/victim"), victim_text) << "the target is untouched";
        EXPECT_TRUE(host.exists(VX_SHARED_FILE)) << "what stands at the path stays";
        EXPECT_EQ(vxapi_ev_thread_id, pthread_t{});
        // The semaphore is free again.
        EXPECT_EQ(::semctl(shtest::host_sem(host, VX_SEM_KEY_SHARED), 0, GETVAL), 1);
    }
}

TEST_F(SharedFileTest, FileThatCannotBeOpenedOrMadeFailsTheOpen) {
    host.fail_open(VX_SHARED_FILE, EACCES);
    int fd = 5;
    EXPECT_EQ(vxapi_open_database(&fd), 1);
    EXPECT_EQ(fd, 0);
    EXPECT_FALSE(host.exists(VX_SHARED_FILE));
    EXPECT_EQ(api_shared_data, nullptr);
    EXPECT_EQ(api_library_instance, VX_LIBINST_NONE);
}

TEST_F(SharedFileTest, SecondOpenInTheProcessReturnsTheSameDescriptor) {
    int fd1 = -1;
    int fd2 = -1;
    ASSERT_EQ(vxapi_open_database(&fd1), 0);
    vxapi_ev_terminate.store(1);
    ASSERT_EQ(vxapi_open_database(&fd2), 0);
    EXPECT_EQ(vxapi_ev_terminate.load(), 0);
    shtest::stop_event_thread();
    EXPECT_EQ(fd1, fd2);
    std::string bytes = file_bytes();
    EXPECT_EQ(flags_in(bytes, 0), 0x5u);
    EXPECT_EQ(flags_in(bytes, 1), 0u) << "no second slot";
    EXPECT_EQ(vxapi_get_total_libinst_count(), 1);
}

TEST_F(SharedFileTest, ClaimTakesTheFirstFreeSlotAndReleaseClearsIt) {
    std::string bytes = file_with_flags({5, 5, 0, 0x8});
    // Junk in the queue of the slot to be claimed.
    bytes.replace(queue_offset(2), kQueueSize, std::string(kQueueSize, '\x5A'));
    write_shared(bytes);

    ASSERT_EQ(open_here(), 0);
    EXPECT_EQ(api_library_instance, 2);
    bytes = file_bytes();
    EXPECT_EQ(flags_in(bytes, 2), 0x5u);
    EXPECT_EQ(bytes.substr(queue_offset(2), kQueueSize), std::string(kQueueSize, '\0'));
    EXPECT_EQ(vxapi_get_total_libinst_count(), 4) << "slots 0, 1, 2 and the one counted by 0x8";

    api_shared_data->hbaptevq[2].eventbuf[3].AsyncEventCode = 0x8011;
    api_shared_data->libinst_flags[2] |= 0x2;
    ASSERT_EQ(vxapi_close_database(api_shm_fildes), 0);
    EXPECT_EQ(api_library_instance, 2) << "the slot number is kept";
    bytes = file_bytes();
    EXPECT_EQ(flags_in(bytes, 2), 0x2u) << "only bits 0x1 and 0x4 go";
    EXPECT_EQ(bytes.substr(queue_offset(2), kQueueSize), std::string(kQueueSize, '\0'));
    EXPECT_TRUE(host.exists(VX_SHARED_FILE)) << "other instances are live";
    EXPECT_TRUE(shtest::host_sem_exists(host, VX_SEM_KEY_SHARED));
}

TEST_F(SharedFileTest, AllSlotsOwnedFallsBackToSlotZero) {
    host.set_env("VX_FCAPI_DEBUG", "6");
    vxapi_set_debug_level();
    write_shared(file_with_flags({5, 5, 5, 0xD, 5, 4, 5, 5}));
    ASSERT_EQ(open_here(), 0);
    EXPECT_EQ(api_library_instance, 0);
    EXPECT_NE(host.stderr_text().find("libvxsdm: INFO - Assigning lib instance number to 0.\n"), std::string::npos);
    const std::string bytes = file_bytes();
    const std::vector<uint32_t> expected = {5, 1, 1, 9, 1, 0, 1, 1};
    for (unsigned i = 0; i < VX_LIBINST_SLOTS; ++i) EXPECT_EQ(flags_in(bytes, i), expected[i]) << "slot " << i;
}

TEST_F(SharedFileTest, ReleaseOfAnUnownedSlotOrUnmappedFileTouchesNothing) {
    // No slot (255) and no mapping: nothing to release, nothing to remove.
    write_shared(file_with_flags({5}));
    EXPECT_EQ(vxapi_close_database(-1), 0);
    EXPECT_EQ(flags_in(file_bytes(), 0), 5u);
    // Closing twice: the second close finds nothing mapped.
    ASSERT_EQ(open_here(), 0);
    ASSERT_EQ(vxapi_close_database(api_shm_fildes), 0);
    EXPECT_EQ(vxapi_close_database(-1), 0);
}

TEST_F(SharedFileTest, NineProcessesShareEightSlots) {
    std::vector<std::unique_ptr<Child>> children;
    std::vector<int> slots;
    for (int i = 0; i < 10; ++i) {
        children.push_back(std::make_unique<Child>([](Child& self) { return open_and_hold(self); }));
        slots.push_back(children.back()->receive());
        if (i == 8) {
            // The ninth took slot 0 and took the ownership of slots 1 to 7 away.
            const std::string bytes = file_bytes();
            EXPECT_EQ(flags_in(bytes, 0), 0x5u);
            for (unsigned s = 1; s < VX_LIBINST_SLOTS; ++s) EXPECT_EQ(flags_in(bytes, s), 0x1u) << "slot " << s;
        }
    }
    EXPECT_EQ(slots, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 0, 1}));

    for (auto& c : children) {
        c->send(1);
        EXPECT_EQ(c->receive(), 0);
        EXPECT_EQ(c->wait(), 0);
    }
    EXPECT_FALSE(host.exists(VX_SHARED_FILE));
}

TEST_F(SharedFileTest, LastProcessOutRemovesTheFileAndItsSemaphores) {
    api_thread_sem_id = vxapi_sem_get(VX_SEM_KEY_LOAD);
    ASSERT_GE(api_thread_sem_id, 0);
    Child a([](Child& self) { return open_and_hold(self, true); });
    ASSERT_EQ(a.receive(), 0);
    Child b([](Child& self) { return open_and_hold(self, true); });
    ASSERT_EQ(b.receive(), 1);

    a.send(1);
    ASSERT_EQ(a.receive(), 0);
    EXPECT_TRUE(host.exists(VX_SHARED_FILE));
    EXPECT_TRUE(shtest::host_sem_exists(host, VX_SEM_KEY_SHARED));
    EXPECT_TRUE(shtest::host_sem_exists(host, VX_SEM_KEY_FLASH));
    EXPECT_EQ(flags_in(file_bytes(), 0), 0u);
    EXPECT_EQ(flags_in(file_bytes(), 1), 5u);

    b.send(1);
    ASSERT_EQ(b.receive(), 0);
    EXPECT_FALSE(host.exists(VX_SHARED_FILE));
    EXPECT_FALSE(shtest::host_sem_exists(host, VX_SEM_KEY_SHARED));
    EXPECT_FALSE(shtest::host_sem_exists(host, VX_SEM_KEY_FLASH));
    EXPECT_TRUE(shtest::host_sem_exists(host, VX_SEM_KEY_LOAD)) << "the load semaphore is not the file's";
    EXPECT_EQ(a.wait(), 0);
    EXPECT_EQ(b.wait(), 0);
}

TEST_F(SharedFileTest, HeldFlashSemaphoreOutlivesTheLastInstance) {
    Child a([](Child& self) { return open_and_hold(self, true); });
    ASSERT_EQ(a.receive(), 0);
    // Another process is in the middle of a flash transfer.
    const int flash = shtest::host_sem(host, VX_SEM_KEY_FLASH);
    ASSERT_GE(flash, 0);
    ASSERT_TRUE(shtest::raw_sem_op(flash, -1));

    a.send(1);
    ASSERT_EQ(a.receive(), 0);
    EXPECT_EQ(a.wait(), 0);
    EXPECT_FALSE(host.exists(VX_SHARED_FILE));
    EXPECT_FALSE(shtest::host_sem_exists(host, VX_SEM_KEY_SHARED));
    EXPECT_TRUE(shtest::host_sem_exists(host, VX_SEM_KEY_FLASH));
    EXPECT_TRUE(shtest::raw_sem_op(flash, +1)) << "the holder can still give it back";
}

TEST_F(SharedFileTest, WaiterDuringTheLastCloseSharesAFileWithTheNextProcess) {
    // A opens and is the only instance. Its removal of the file is slow, so
    // that a waiter let in before the removal would map the doomed file.
    Child a([](Child& self) {
        sim::current_host()->on_unlink([](const std::string&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        });
        return open_and_hold(self);
    });
    ASSERT_EQ(a.receive(), 0);
    const int sem = shtest::host_sem(host, VX_SEM_KEY_SHARED);
    ASSERT_GE(sem, 0);

    // Hold the file's semaphore so that A's close and W's open queue up
    // behind it, A first.
    ASSERT_TRUE(shtest::raw_sem_op(sem, -1));
    a.send(1);
    ASSERT_TRUE(shtest::wait_for_waiters(sem, 1));

    auto opener = [](Child& self) {
        int fd = -1;
        if (vxapi_open_database(&fd) != 0) {
            self.reply(-1);
            return 1;
        }
        self.reply(api_library_instance);
        self.reply(static_cast<int>(shtest::inode_of_fd(fd)));
        if (self.command() != 1) return 2;
        vxapi_close_database(fd);
        self.reply(0);
        return 0;
    };
    Child w(opener);
    ASSERT_TRUE(shtest::wait_for_waiters(sem, 2));
    ASSERT_TRUE(shtest::raw_sem_op(sem, +1));

    EXPECT_EQ(a.receive(), 0);
    EXPECT_EQ(a.wait(), 0);
    const int w_slot = w.receive();
    const int w_inode = w.receive();
    EXPECT_EQ(w_slot, 0) << "the waiter made a fresh file";
    EXPECT_TRUE(shtest::host_sem_exists(host, VX_SEM_KEY_SHARED)) << "kept for the waiter";

    Child n(opener);
    const int n_slot = n.receive();
    const int n_inode = n.receive();
    EXPECT_EQ(n_slot, 1);
    EXPECT_EQ(n_inode, w_inode) << "the waiter and the next process share one file";
    EXPECT_EQ(static_cast<int>(shtest::inode_of_path(shtest::shared_path(host))), w_inode);
    const std::string bytes = file_bytes();
    EXPECT_EQ(flags_in(bytes, 0), 5u);
    EXPECT_EQ(flags_in(bytes, 1), 5u);

    for (Child* c : {&w, &n}) {
        c->send(1);
        EXPECT_EQ(c->receive(), 0);
        EXPECT_EQ(c->wait(), 0);
    }
    EXPECT_FALSE(host.exists(VX_SHARED_FILE));
}

TEST_F(SharedFileTest, EsxMapsTheFilePrivately) {
    // On ESX the mapping is private: what this process writes stays out of
    // the file.
    OS_Type = VX_OS_ESX;
    ASSERT_EQ(open_here(), 0);
    api_shared_data->reserved[0] = 0x77;
    EXPECT_EQ(file_bytes()[kReservedOffset], '\0');
}

TEST_F(SharedFileTest, QueuesOfSlotsEightAndAboveAreNeverCleared) {
    ASSERT_EQ(open_here(), 0);
    std::memset(api_shared_data->reserved, 0x33, sizeof api_shared_data->reserved);
    for (auto& q : api_shared_data->hbaptevq) q.eventbuf[0].AsyncEventCode = 0x8011;
    const std::string before(reinterpret_cast<const char*>(api_shared_data), VX_SHARED_SIZE);
    for (unsigned slot : {8u, 9u, 200u, 255u}) vxapi_clear_evqs(static_cast<uint8_t>(slot));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(api_shared_data), VX_SHARED_SIZE), before);
    vxapi_clear_evqs(7);
    EXPECT_EQ(api_shared_data->hbaptevq[7].eventbuf[0].AsyncEventCode, 0u);
    EXPECT_EQ(api_shared_data->reserved[0], 0x33);
}

}  // namespace
