// The shared data file: creation, upgrade and refusal of foreign files, the
// claim and release of library-instance slots, the removal of the file and
// its semaphores by the last process; and the System V semaphore primitives.
#include "shared_file_support.h"

namespace {

using shtest::Child;

constexpr size_t kQueueSize = 16404;
constexpr size_t kReservedOffset = 139456;

size_t queue_offset(unsigned slot) { return 32 + slot * kQueueSize; }

// A queue as a counted claim leaves it: zeros, the claim's mark in its reserved bytes.
std::string counted_queue() {
    std::string q(kQueueSize, '\0');
    std::memcpy(q.data() + offsetof(vxapi_hbaptevq_t, rsvd), &VX_EVQ_COUNTED_MARK, sizeof VX_EVQ_COUNTED_MARK);
    return q;
}

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
    uint32_t flags(unsigned slot) const {
        uint32_t v = 0;
        std::memcpy(&v, file_bytes().data() + 4 * slot, sizeof v);
        return v;
    }
    // A file whose slots have these flag words, the rest `fill`.
    void write_shared(const std::vector<uint32_t>& slot_flags, char fill = '\0') {
        std::string bytes(VX_SHARED_SIZE, fill);
        std::memset(bytes.data(), 0, 32);
        std::memcpy(bytes.data(), slot_flags.data(), 4 * slot_flags.size());
        host.write_file(VX_SHARED_FILE, bytes, 0644);
    }
    bool sem_exists(int key) const { return shtest::host_sem_exists(host, key); }
    sim::SimHost host;
};

// A fresh file is zeros but the own slot, not writable by others; a second open
// shares it; the only instance's close removes it and its semaphore.
TEST_F(SharedFileTest, FreshFileIsZerosWithTheOwnSlotClaimed) {
    write_shared({5});
    EXPECT_EQ(vxapi_close_database(-1), 0);  // no slot, no mapping: nothing released or removed
    EXPECT_EQ(flags(0), 5u);
    ::unlink(shtest::shared_path(host).c_str());

    int fd = -1, fd2 = -1;
    ASSERT_EQ(vxapi_open_database(&fd), 0);
    EXPECT_EQ(std::tuple(fd, api_library_instance), std::tuple(api_shm_fildes, uint8_t{0}));
    vxapi_ev_terminate.store(1);
    ASSERT_EQ(vxapi_open_database(&fd2), 0);
    EXPECT_EQ(fd2, fd);
    EXPECT_EQ(vxapi_ev_terminate.load(), 0);
    EXPECT_EQ(vxapi_get_total_libinst_count(), 1);
    std::string bytes = file_bytes();
    EXPECT_EQ(flags(0), VX_LIBINST_OWNED | VX_LIBINST_ACTIVE | VX_LIBINST_COUNTED);
    EXPECT_EQ(bytes.substr(queue_offset(0), kQueueSize), counted_queue());
    bytes[0] = 0;
    bytes.replace(queue_offset(0), kQueueSize, kQueueSize, '\0');
    EXPECT_EQ(bytes, std::string(VX_SHARED_SIZE, '\0'));
    struct stat st {};
    ASSERT_EQ(::stat(shtest::shared_path(host).c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0022, 0u) << "not writable by others";
    EXPECT_EQ(vxapi_close_database(fd), 0);
    EXPECT_FALSE(host.exists(VX_SHARED_FILE) || sem_exists(VX_SEM_KEY_SHARED));
    EXPECT_TRUE(api_shared_data == nullptr && api_shm_fildes == -1);
    EXPECT_EQ(vxapi_close_database(-1), 0);
}

// A file of the older size (no reserved area) is zero-extended, keeping its
// contents whatever the read sizes; a file of full size or more is kept as is.
TEST_F(SharedFileTest, ExistingFilesKeepTheirContents) {
    const struct { size_t size, short_reads; } cases[] = {
        {kReservedOffset, 0}, {kReservedOffset, 1000}, {VX_SHARED_SIZE + 100, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size << " read by " << c.short_reads);
        shtest::reset_shared_state();
        std::string old(c.size, '\0');
        for (size_t i = queue_offset(1); i < c.size; ++i) old[i] = static_cast<char>(i * 7 + 1);
        for (unsigned i = 1; i < VX_LIBINST_SLOTS; ++i) old[4 * i] = i == 4 ? 1 : 5;
        host.write_file(VX_SHARED_FILE, old, 0644);
        if (c.short_reads != 0) host.short_reads(VX_SHARED_FILE, c.short_reads);
        ASSERT_EQ(shtest::open_here(), 0);
        EXPECT_EQ(api_library_instance, 0);
        const std::string bytes = file_bytes();
        ASSERT_EQ(bytes.size(), std::max(c.size, VX_SHARED_SIZE));
        EXPECT_EQ(flags(0), 0x15u);
        EXPECT_EQ(bytes.substr(queue_offset(0), kQueueSize), counted_queue());
        EXPECT_EQ(bytes.substr(4, 28), old.substr(4, 28)) << "other slots kept";
        EXPECT_EQ(bytes.substr(queue_offset(1), c.size - queue_offset(1)), old.substr(queue_offset(1)))
            << "their queues and the tokens kept";
        EXPECT_EQ(bytes.substr(c.size), std::string(bytes.size() - c.size, '\0'));
    }
}

// Whatever else stands at the path (or cannot be opened) is refused and left alone.
TEST_F(SharedFileTest, ForeignFilesAtThePathAreRefusedAndLeftAlone) {
    const std::string victim_text(1000, 'V');
    const struct { const char* what; std::function<void()> plant; } cases[] = {
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
        {"nothing that can be opened", [&] { host.fail_open(VX_SHARED_FILE, EACCES); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ::unlink(shtest::shared_path(host).c_str());
        ::rmdir(shtest::shared_path(host).c_str());
        host.write_file("/etc/victim", victim_text);
        c.plant();
        const bool planted = host.exists(VX_SHARED_FILE);
        int fd = 7;
        EXPECT_EQ(vxapi_open_database(&fd), 1);
        EXPECT_EQ(fd, 0);
        EXPECT_TRUE(api_shared_data == nullptr && api_shm_fildes == -1);
        EXPECT_EQ(api_library_instance, VX_LIBINST_NONE);
        EXPECT_EQ(host.read_file("/etc/victim"), victim_text) << "the target is untouched";
        EXPECT_EQ(host.exists(VX_SHARED_FILE), planted) << "what stands at the path stays";
        EXPECT_EQ(vxapi_ev_thread_id, pthread_t{});
        EXPECT_EQ(::semctl(shtest::host_sem(host, VX_SEM_KEY_SHARED), 0, GETVAL), 1) << "the semaphore is free";
    }
}

TEST_F(SharedFileTest, ClaimTakesTheFirstFreeSlotAndReleaseClearsIt) {
    write_shared({5, 5, 0, 0x8}, '\x5A');  // junk in the queue of the slot to be claimed
    ASSERT_EQ(shtest::open_here(), 0);
    EXPECT_EQ(api_library_instance, 2);
    EXPECT_EQ(flags(2), 0x15u);
    EXPECT_EQ(file_bytes().substr(queue_offset(2), kQueueSize), counted_queue());
    EXPECT_EQ(vxapi_get_total_libinst_count(), 4) << "slots 0, 1, 2 and the one counted by 0x8";
    api_shared_data->hbaptevq[2].eventbuf[3].AsyncEventCode = 0x8011;
    api_shared_data->libinst_flags[2] |= 0x2;
    ASSERT_EQ(vxapi_close_database(api_shm_fildes), 0);
    EXPECT_EQ(api_library_instance, 2) << "the slot number is kept";
    EXPECT_EQ(flags(2), 0x2u) << "only bits 0x1 and 0x4 go";
    EXPECT_EQ(file_bytes().substr(queue_offset(2), kQueueSize), std::string(kQueueSize, '\0'));
    EXPECT_TRUE(host.exists(VX_SHARED_FILE) && sem_exists(VX_SEM_KEY_SHARED)) << "other instances are live";
    // The last of the others removes the file and semaphore: the next open gets it afresh.
    ::unlink(shtest::shared_path(host).c_str());
    ASSERT_EQ(::semctl(shtest::host_sem(host, VX_SEM_KEY_SHARED), 0, IPC_RMID), 0);
    ASSERT_EQ(shtest::open_here(), 0);
    EXPECT_EQ(api_library_instance, 0);
    EXPECT_EQ(api_dbupdate_sem_id, shtest::host_sem(host, VX_SEM_KEY_SHARED));
}

// With every slot owned, slot 0 is taken and the others lose their ownership.
TEST_F(SharedFileTest, AllSlotsOwnedFallsBackToSlotZero) {
    host.set_env("VX_FCAPI_DEBUG", "6");
    vxapi_set_debug_level();
    write_shared({5, 5, 5, 0xD, 5, 4, 5, 5});
    ASSERT_EQ(shtest::open_here(), 0);
    EXPECT_EQ(api_library_instance, 0);
    EXPECT_NE(host.stderr_text().find("libvxsdm: INFO - Assigning lib instance number to 0.\n"), std::string::npos);
    const std::vector<uint32_t> expected = {5, 1, 1, 9, 1, 0, 1, 1};
    for (unsigned i = 0; i < VX_LIBINST_SLOTS; ++i) EXPECT_EQ(flags(i), expected[i]) << "slot " << i;
}

// A dbupdate set of one semaphore (an earlier build's) cannot count: nothing goes.
TEST_F(SharedFileTest, SetWithoutCountsKeepsTheFileAndItsSemaphore) {
    const int old = vxapi_sem_get(VX_SEM_KEY_SHARED);
    ASSERT_EQ(shtest::open_here(), 0);
    ASSERT_EQ(vxapi_close_database(api_shm_fildes), 0);
    EXPECT_TRUE(host.exists(VX_SHARED_FILE));
    EXPECT_EQ(shtest::host_sem(host, VX_SEM_KEY_SHARED), old);
}

// Slot 0 as another process left it: marked by processes that all counted
// themselves (the flag and its queue's mark) and none of which is counted any
// more, it is free (taken, its queue cleared) and counts for no instance;
// marked without the flag or the mark (a process that does not count claimed
// it over the flag, zeroing the queue), by a process still counted, or on a
// set that cannot count, it stays live. A process that does not count, beside
// one counted on the slot, is one more instance.
TEST_F(SharedFileTest, SlotOfCountingProcessesThatEndedIsFree) {
    const struct { const char* what; uint32_t word; bool mark; int counted_on; bool one_sem_set; uint8_t claimed;
                   uint8_t live; } cases[] = {
        {"counting process that ended", 0x15, true, 0, false, 0, 1},
        {"counting process that ended, ownership taken by the fallback", 0x11, true, 0, false, 0, 1},
        {"counting process still loaded", 0x15, true, 1, false, 1, 2},
        {"process that does not count (an earlier build)", 0x5, false, 0, false, 1, 2},
        {"process that does not count, over the flag of a counting process that ended", 0x15, false, 0, false, 1, 2},
        {"process that does not count, sharing with a counting process", 0x15, false, 1, false, 1, 3},
        {"counting process that ended, on a set without counts", 0x15, true, 0, true, 1, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        shtest::reset_shared_state();
        if (const int old = shtest::host_sem(host, VX_SEM_KEY_SHARED); old >= 0) ::semctl(old, 0, IPC_RMID);
        bool complete = false;
        const int set = c.one_sem_set ? vxapi_sem_get(VX_SEM_KEY_SHARED)
                                      : vxapi_sem_get_set(VX_SEM_KEY_SHARED, 1 + VX_LIBINST_SLOTS, &complete);
        ASSERT_GE(set, 0);
        struct sembuf count {1, static_cast<short>(c.counted_on), 0};
        ASSERT_TRUE(c.counted_on == 0 || ::semop(set, &count, 1) == 0);
        write_shared({c.word}, '\x5A');
        if (c.mark) {
            std::string bytes = file_bytes();
            const size_t at = queue_offset(0) + offsetof(vxapi_hbaptevq_t, rsvd);
            std::memcpy(bytes.data() + at, &VX_EVQ_COUNTED_MARK, sizeof VX_EVQ_COUNTED_MARK);
            host.write_file(VX_SHARED_FILE, bytes, 0644);
        }
        const std::string before = file_bytes().substr(queue_offset(0), kQueueSize);
        ASSERT_EQ(shtest::open_here(), 0);
        EXPECT_EQ(api_library_instance, c.claimed);
        EXPECT_EQ(file_bytes().substr(queue_offset(c.claimed), kQueueSize),
                  c.one_sem_set ? std::string(kQueueSize, '\0') : counted_queue());
        EXPECT_EQ(flags(c.claimed), c.one_sem_set ? 0x5u : 0x15u);
        if (c.claimed != 0) {
            EXPECT_EQ(flags(0), c.word) << "another's mark stays";
            EXPECT_EQ(file_bytes().substr(queue_offset(0), kQueueSize), before) << "and its queue";
        }
        EXPECT_EQ(vxapi_get_total_libinst_count(), c.live);
        ASSERT_EQ(vxapi_close_database(api_shm_fildes), 0);
        EXPECT_EQ(host.exists(VX_SHARED_FILE), c.live > 1);
        EXPECT_EQ(sem_exists(VX_SEM_KEY_SHARED), c.live > 1);
    }
}

// Three processes of this build and a peer that does not count. This process
// holds slot 0; a counting process takes slot 1 and dies after a fallback
// took 0x4 from slots 1 to 7, leaving the slot at 0x11. The peer then claims
// slot 1 (0x5, its queue zeroed) and gets an event. The slot stays the peer's:
// it counts as live, a second process of this build takes slot 2 and leaves
// the peer's queue alone, and this process's close keeps the file and the
// semaphore. Control: with no peer, slot 1 is free and the close removes both.
TEST_F(SharedFileTest, SlotClaimedByAPeerThatDoesNotCountOverALeftFlagIsLive) {
    const auto opener = [](Child& self) {
        shtest::reset_shared_state();  // a process of its own, not this one's copy
        if (shtest::open_here() != 0) return self.reply(-1), 1;
        self.reply(api_library_instance);
        if (self.command() != 1) return 2;
        (void)vxapi_close_database(api_shm_fildes);  // always 0
        self.reply(0);
        return 0;
    };
    for (const bool peer : {true, false}) {
        SCOPED_TRACE(peer ? "peer claims slot 1" : "no peer");
        shtest::reset_shared_state();
        ASSERT_EQ(shtest::open_here(), 0);
        ASSERT_EQ(api_library_instance, 0);
        {
            Child ended(opener);
            ASSERT_EQ(ended.receive(), 1);
            for (unsigned i = 1; i < VX_LIBINST_SLOTS; ++i) api_shared_data->libinst_flags[i] &= ~VX_LIBINST_OWNED;
            ended.signal(SIGKILL);
            ended.wait_status();
        }
        ASSERT_EQ(api_shared_data->libinst_flags[1], 0x11u);
        vxapi_hbaptevq_t& q = api_shared_data->hbaptevq[1];
        if (peer) {
            api_shared_data->libinst_flags[1] |= VX_LIBINST_OWNED | VX_LIBINST_ACTIVE;
            std::memset(static_cast<void*>(&q), 0, sizeof q);
            q.eventbuf[0].AsyncEventCode = 0x8011;
            q.q_tail = 1;
        }
        const std::string peer_queue = file_bytes().substr(queue_offset(1), kQueueSize);
        EXPECT_EQ(vxapi_get_total_libinst_count(), peer ? 2 : 1);

        Child second(opener);
        EXPECT_EQ(second.receive(), peer ? 2 : 1);
        if (peer) {
            EXPECT_EQ(flags(1), 0x15u);
            EXPECT_EQ(file_bytes().substr(queue_offset(1), kQueueSize), peer_queue) << "the peer's events stay";
        }
        EXPECT_EQ(vxapi_get_total_libinst_count(), peer ? 3 : 2);
        second.send(1);
        EXPECT_EQ(second.receive(), 0);
        EXPECT_EQ(second.wait(), 0);

        ASSERT_EQ(vxapi_close_database(api_shm_fildes), 0);
        EXPECT_EQ(host.exists(VX_SHARED_FILE), peer);
        EXPECT_EQ(sem_exists(VX_SEM_KEY_SHARED), peer);
        if (peer) {
            EXPECT_EQ(flags(1), 0x15u);
            EXPECT_EQ(file_bytes().substr(queue_offset(1), kQueueSize), peer_queue);
            ::unlink(shtest::shared_path(host).c_str());
            ::semctl(shtest::host_sem(host, VX_SEM_KEY_SHARED), 0, IPC_RMID);
        }
    }
}

// A peer that does not count shares this process's slot (its fallback claims
// slot 0 over it, zeroing the queue): the slot counts it, and this process's
// release leaves the slot, the file and the semaphore to it.
TEST_F(SharedFileTest, PeerThatDoesNotCountSharingTheOwnSlotKeepsItAndTheFile) {
    ASSERT_EQ(shtest::open_here(), 0);
    ASSERT_EQ(api_library_instance, 0);
    EXPECT_EQ(vxapi_get_total_libinst_count(), 1);
    api_shared_data->libinst_flags[0] |= VX_LIBINST_OWNED | VX_LIBINST_ACTIVE;
    std::memset(static_cast<void*>(&api_shared_data->hbaptevq[0]), 0, kQueueSize);
    EXPECT_EQ(vxapi_get_total_libinst_count(), 2);
    ASSERT_EQ(vxapi_close_database(api_shm_fildes), 0);
    EXPECT_EQ(flags(0) & VX_LIBINST_COUNT_MASK, 0x5u) << "the peer keeps its slot";
    EXPECT_TRUE(host.exists(VX_SHARED_FILE) && sem_exists(VX_SEM_KEY_SHARED));
}

// The last instance leaves during a flash transfer: the flash semaphore stays for its holder.
TEST_F(SharedFileTest, HeldFlashSemaphoreOutlivesTheLastInstance) {
    api_flash_sem_id = vxapi_sem_get(VX_SEM_KEY_FLASH);
    ASSERT_EQ(shtest::open_here(), 0);
    const int flash = api_flash_sem_id;
    ASSERT_TRUE(shtest::raw_sem_op(flash, -1));
    ASSERT_EQ(vxapi_close_database(api_shm_fildes), 0);
    EXPECT_FALSE(host.exists(VX_SHARED_FILE) || sem_exists(VX_SEM_KEY_SHARED));
    EXPECT_EQ(shtest::host_sem(host, VX_SEM_KEY_FLASH), flash);
    EXPECT_TRUE(shtest::raw_sem_op(flash, +1)) << "the holder can still give it back";
}

// The last instance removes the set of the attribute mailboxes, which another process made, unless a process holds
// one of its locks: the holder can still give it back.
TEST_F(SharedFileTest, LastInstanceRemovesTheMailboxSetUnlessALockIsHeld) {
    for (const int held : {-1, 0, VX_SEM_MAILBOX_LOCKS - 1}) {
        SCOPED_TRACE(held);
        const int set = vxapi_sem_get_set(VX_SEM_KEY_MAILBOX, VX_SEM_MAILBOX_LOCKS, nullptr, VX_SEM_MAILBOX_LOCKS);
        ASSERT_GE(set, 0);
        ASSERT_EQ(shtest::open_here(), 0);
        struct sembuf op {static_cast<unsigned short>(held), -1, SEM_UNDO};
        ASSERT_TRUE(held < 0 || ::semop(set, &op, 1) == 0);
        ASSERT_EQ(vxapi_close_database(api_shm_fildes), 0);
        EXPECT_FALSE(host.exists(VX_SHARED_FILE) || sem_exists(VX_SEM_KEY_SHARED));
        EXPECT_EQ(shtest::host_sem(host, VX_SEM_KEY_MAILBOX), held >= 0 ? set : -1);
        EXPECT_EQ(api_mailbox_sem_id, -1);
        op.sem_op = 1;
        EXPECT_TRUE(held < 0 || ::semop(set, &op, 1) == 0) << "the holder can still give it back";
        (void)::semctl(set, 0, IPC_RMID);
    }
}

// W's open waits behind the slow last close of A: W must make a fresh file
// (not map the doomed one), and the next process must share W's file.
TEST_F(SharedFileTest, WaiterDuringTheLastCloseSharesAFileWithTheNextProcess) {
    const auto opener = [](Child& self) {
        int fd = -1;
        if (vxapi_open_database(&fd) != 0) return self.reply(-1), 1;
        self.reply(api_library_instance);
        self.reply(static_cast<int>(shtest::inode_of_fd(fd)));
        if (self.command() != 1) return 2;
        (void)vxapi_close_database(fd);  // always 0
        return 0;
    };
    Child a([&](Child& self) {
        sim::current_host()->on_unlink(
            [](const std::string&) { std::this_thread::sleep_for(std::chrono::milliseconds(300)); });
        return opener(self);
    });
    ASSERT_EQ(a.receive(), 0);
    a.receive();
    const int sem = shtest::host_sem(host, VX_SEM_KEY_SHARED);
    ASSERT_TRUE(shtest::raw_sem_op(sem, -1));  // A's close and W's open queue up behind it, A first
    a.send(1);
    ASSERT_TRUE(shtest::wait_for_waiters(sem, 1));
    Child w(opener);
    ASSERT_TRUE(shtest::wait_for_waiters(sem, 2));
    ASSERT_TRUE(shtest::raw_sem_op(sem, +1));
    EXPECT_EQ(a.wait(), 0);
    EXPECT_EQ(w.receive(), 0) << "the waiter made a fresh file";
    const int w_inode = w.receive();
    EXPECT_TRUE(sem_exists(VX_SEM_KEY_SHARED)) << "kept for the waiter";
    Child n(opener);
    EXPECT_EQ(n.receive(), 1);
    EXPECT_EQ(n.receive(), w_inode) << "the waiter and the next process share one file";
    EXPECT_EQ(static_cast<int>(shtest::inode_of_path(shtest::shared_path(host))), w_inode);
    for (Child* c : {&w, &n}) {
        c->send(1);
        EXPECT_EQ(c->wait(), 0);
    }
    EXPECT_FALSE(host.exists(VX_SHARED_FILE));
}

// ---------------------------------------------------------------- semaphore primitives

// Counters shared by forked children.
struct Shared {
    volatile int counter, inside, overlaps;
};

class SemaphoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        vxdbg_reset();
        void* p = ::mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        ASSERT_NE(p, MAP_FAILED);
        s = new (p) Shared{};
    }
    void TearDown() override {
        vxdbg_reset();
        ::munmap(s, sizeof(Shared));
    }
    static int value(int semid) { return ::semctl(semid, 0, GETVAL); }
    sim::SimHost host;
    Shared* s = nullptr;
};

// Processes start at once on a set nobody made yet: one makes it, none resets
// it under another's hold, and no two hold it together.
TEST_F(SemaphoreTest, RacingCreatorsShareOneLock) {
    constexpr int kChildren = 4, kRounds = 20, kHolds = 50;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        if (int existing = ::semget(host.sem_key(VX_SEM_KEY_SHARED), 0, 0); existing >= 0) {
            ::semctl(existing, 0, IPC_RMID);
        }
        std::vector<std::unique_ptr<Child>> children;
        for (int n = 0; n < kChildren; ++n) {
            children.push_back(std::make_unique<Child>([&](Child& self) {
                self.reply(1);
                self.command();  // all start together
                int id = vxapi_sem_get(VX_SEM_KEY_SHARED);
                for (int i = 0; i < kHolds; ++i) {
                    VxSemLock lock(id);
                    if (!lock.held()) return 3;
                    // The counter is read and written back non-atomically; an overlap is counted.
                    if (s->inside != 0) s->overlaps = s->overlaps + 1;
                    s->inside = 1;
                    int c = s->counter;
                    sched_yield();
                    s->counter = c + 1;
                    s->inside = 0;
                }
                return 0;
            }));
            ASSERT_EQ(children.back()->receive(), 1);
        }
        for (auto& c : children) c->send(1);
        for (auto& c : children) EXPECT_EQ(c->wait(), 0);
        EXPECT_EQ(s->overlaps, 0);
        EXPECT_EQ(value(::semget(host.sem_key(VX_SEM_KEY_SHARED), 0, 0)), 1);
    }
    EXPECT_EQ(s->counter, kRounds * kChildren * kHolds);
    // The set is a free lock of mode 0644; getting it while it is held leaves it held.
    const int id = vxapi_sem_get(VX_SEM_KEY_SHARED);
    struct semid_ds ds {};
    ASSERT_EQ(::semctl(id, 0, IPC_STAT, &ds), 0);
    EXPECT_EQ(std::tuple(ds.sem_nsems, ds.sem_perm.mode & 0777u), std::tuple(1ul, 0644u));
    {
        VxSemLock lock(id);
        EXPECT_TRUE(lock.held());
        EXPECT_EQ(vxapi_sem_get(VX_SEM_KEY_SHARED), id);
        EXPECT_EQ(value(id), 0);
    }
    EXPECT_EQ(value(id), 1);
    EXPECT_FALSE(VxSemLock(-1).held());
    EXPECT_EQ(vxapi_sem_del(id), 0);
    EXPECT_EQ(::semget(host.sem_key(VX_SEM_KEY_SHARED), 0, 0), -1);
}

// Only a holder gives the lock back (not before, not another thread, not
// twice); a failed wait holds nothing; failures are traced with the error bit.
TEST_F(SemaphoreTest, FailuresAreTracedAndFailedWaitsHoldNothing) {
    vx_debug = VXDBG_ERROR;
    int id = vxapi_sem_get(VX_SEM_KEY_SHARED);
    ASSERT_GE(id, 0);
    EXPECT_EQ(vxapi_sem_signal(id), -1);
    ASSERT_EQ(vxapi_sem_wait(id), 0);
    int other = 0;
    std::thread([&] { other = vxapi_sem_signal(id); }).join();
    EXPECT_EQ(std::tuple(other, value(id)), std::tuple(-1, 0));
    EXPECT_EQ(vxapi_sem_signal(id), 0);
    EXPECT_EQ(vxapi_sem_signal(id), -1);
    EXPECT_EQ(value(id), 1);
    ASSERT_EQ(vxapi_sem_wait(id), 0);
    ASSERT_EQ(::semctl(id, 0, IPC_RMID), 0);
    EXPECT_EQ(vxapi_sem_signal(id), -1);
    EXPECT_EQ(vxapi_sem_wait(id), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(vxapi_sem_signal(id), -1);
    EXPECT_EQ(host.stderr_text(),
              "libvxsdm: WARNING - semaphore signal operation failed. errno=22\n"
              "libvxsdm: WARNING - semaphore wait operation failed. errno=22\n");
    host.clear_stderr();
    vx_debug = 0x404;
    EXPECT_EQ(vxapi_sem_wait(id), -1);
    EXPECT_EQ(host.stderr_text(), "");
}

// A set of locks: each free when made, each taken and given back on its own, held by the thread that took it; the
// set is unused only while no lock is held; it is found by its key, never made by the look-up.
TEST_F(SemaphoreTest, LocksOfOneSetAreTakenOneByOne) {
    EXPECT_EQ(vxapi_sem_find(VX_SEM_KEY_MAILBOX), -1);
    const int id = vxapi_sem_get_set(VX_SEM_KEY_MAILBOX, 3, nullptr, 3);
    ASSERT_GE(id, 0);
    EXPECT_EQ(vxapi_sem_find(VX_SEM_KEY_MAILBOX), id);
    const auto values = [id] {
        return std::tuple(::semctl(id, 0, GETVAL), ::semctl(id, 1, GETVAL), ::semctl(id, 2, GETVAL));
    };
    EXPECT_EQ(values(), std::tuple(1, 1, 1));
    EXPECT_TRUE(vxapi_sem_unused(id, 3));
    {
        VxSemLock one(id, 1);
        ASSERT_TRUE(one.held());
        EXPECT_EQ(values(), std::tuple(1, 0, 1));
        EXPECT_EQ(std::tuple(vxapi_sem_held(id, 0), vxapi_sem_held(id, 1), vxapi_sem_held(id)),
                  std::tuple(false, true, false));
        EXPECT_EQ(std::tuple(vxapi_sem_unused(id, 1), vxapi_sem_unused(id, 3)), std::tuple(true, false));
        bool other = false;
        std::thread([&] {
            VxSemLock two(id, 2);
            other = two.held() && !vxapi_sem_held(id, 1) && vxapi_sem_signal(id, 1) == -1;
        }).join();
        EXPECT_TRUE(other) << "another lock of the set is free; this thread's lock is not the other's to give";
        EXPECT_EQ(vxapi_sem_signal(id, 2), -1) << "not taken here";
    }
    EXPECT_EQ(values(), std::tuple(1, 1, 1));
    EXPECT_EQ(vxapi_sem_del(id), 0);
    EXPECT_EQ(vxapi_sem_find(VX_SEM_KEY_MAILBOX), -1);
}

// A wait that a signal handler interrupts is resumed and ends holding the lock.
TEST_F(SemaphoreTest, InterruptedWaitIsResumed) {
    struct Interrupting final : sim::ForwardingPlatform {
        using ForwardingPlatform::ForwardingPlatform;
        int semop(int semid, struct sembuf* ops, size_t n) override {
            if (interrupts-- > 0) return errno = EINTR, -1;
            return ForwardingPlatform::semop(semid, ops, n);
        }
        int interrupts = 2;
    } platform(host);
    const int id = vxapi_sem_get(VX_SEM_KEY_FLASH);
    EXPECT_EQ(vxapi_sem_wait(id), 0);
    EXPECT_EQ(std::tuple(platform.interrupts, value(id)), std::tuple(-1, 0));
    EXPECT_EQ(vxapi_sem_signal(id), 0);
}

}  // namespace
