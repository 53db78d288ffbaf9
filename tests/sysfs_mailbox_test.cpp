// The "ct" and "els" attributes of a sysfs port without bsg: one request and answer mailbox per FC host. Through the
// public functions: a request the attribute took in part is not sent, an answer whose read failed is none, and two
// processes exchanging on one host at the same time each read their own answer.
#include <sys/sem.h>

#include <chrono>

#include "api_rig.h"
#include "base/vx_sem.h"
#include "shared_file_support.h"
#include "sysfs_rig.h"
#include "transport/vx_sysfs_passthru.h"
#include "vxsdm.h"

namespace {

using sim::Bytes;
using apitest::kFill;

constexpr unsigned kHost = 5;

// Host 5 without bsg, up on a fabric, open as handle 1, with the remote port of WWPN 21:00:00:1b:32:a0:00:01 behind.
struct MailboxRig {
    MailboxRig() { std::tie(r.port->state, r.port->topology) = std::tuple(0, 8); }
    std::string attr(const char* name) const { return r.rig.fabric.host_dirs.at(kHost) + "/" + name; }
    sim::SimHost& host() { return r.rig.host; }

    // An ECHO of the data: the status and the response.
    std::pair<SD_UINT32, Bytes> echo(Bytes data) {
        Bytes out(data.size(), kFill);
        uint32_t n = static_cast<uint32_t>(data.size());
        const SD_UINT32 st = SDSendElsEcho(1, 0, &d, data.data(), n, out.data(), &n);
        return {st, out};
    }
    // A CT request of `size` bytes to the directory service: the status and the first 16 bytes of the response.
    std::pair<SD_UINT32, Bytes> ct(size_t size) {
        Bytes request(size, 0), out(64, kFill);
        const uint8_t head[] = {1, 0, 0, 0, 0xFC, 2, 0, 0, 0x01, 0x12};
        std::copy(std::begin(head), std::end(head), request.begin());
        const SD_UINT32 st = SDSendCTPassThru(1, request.data(), static_cast<SD_UINT32>(size), out.data(), 64);
        return {st, Bytes(out.begin(), out.begin() + 16)};
    }

    sysfstest::BsgPortRig r{false};
    DESTINATIONADDRESS d{2, {{0x21, 0, 0, 0x1b, 0x32, 0xa0, 0, 1}}, 0};
};

Bytes data(size_t n, uint8_t first) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(first + i);
    return b;
}

// A request of a page fits the "els" attribute's one write; one beyond it is taken in part and not sent. A "ct"
// attribute of a page takes a request of a page whole and one beyond it in part. A failed read of either answer
// fails the call, as does the link status read of a remote port's counters.
TEST(SysfsMailbox, PartialRequestsAndUnreadableAnswersFail) {
    const Bytes ct_acc = [] {
        MailboxRig m;
        return m.ct(16).second;
    }();
    ASSERT_EQ(ct_acc[8], 0x80);  // FS_ACC
    ASSERT_EQ(ct_acc[9], 0x02);
    enum Call { kEcho, kCt, kStats };
    enum Fault { kNone, kPageAttr, kUnreadable };
    // The call, the bytes sent beyond the request's head (ECHO: the data; CT: the whole unit), the fault, then the
    // status and whether the answer came.
    const std::tuple<const char*, Call, size_t, Fault, SD_UINT32, bool> rows[] = {
        {"ECHO of 8 bytes", kEcho, 8, kNone, 0, true},
        {"ECHO whose request fills the page", kEcho, 4096 - 36, kNone, 0, true},
        {"ECHO whose request is 5000 bytes: 4096 taken", kEcho, 5000 - 36, kNone, SDERR_UNKNOWN, false},
        {"ECHO whose answer cannot be read", kEcho, 8, kUnreadable, SDERR_UNKNOWN, false},
        {"CT of 16 bytes", kCt, 16, kNone, 0, true},
        {"CT of a page to an attribute of a page", kCt, 4096, kPageAttr, 0, true},
        {"CT of 5000 bytes to an attribute of a page", kCt, 5000, kPageAttr, SDERR_UNKNOWN, false},
        {"CT whose answer cannot be read", kCt, 16, kUnreadable, SDERR_UNKNOWN, false},
        {"remote port's counters", kStats, 0, kNone, 0, true},
        {"remote port's counters, answer unreadable", kStats, 0, kUnreadable, SDERR_UNKNOWN, false},
    };
    for (const auto& [what, call, size, fault, status, answered] : rows) {
        SCOPED_TRACE(what);
        MailboxRig m;
        const std::string path = m.attr(call == kCt ? "ct" : "els");
        if (fault == kPageAttr) m.host().set_attr_size(path, 4096);
        if (fault == kUnreadable) m.host().fail_attr_reads(path, EIO);
        if (call == kEcho) {
            const Bytes sent = data(size, 1);
            const auto [st, out] = m.echo(sent);
            EXPECT_EQ(st, status);
            EXPECT_EQ(out, answered ? sent : Bytes(size, kFill));
        } else if (call == kCt) {
            const auto [st, out] = m.ct(size);
            EXPECT_EQ(st, status);
            EXPECT_EQ(out, answered ? ct_acc : Bytes(16, 0));  // the response is cleared before the request goes
        } else {
            STATISTICS s = apitest::filled<STATISTICS>();
            EXPECT_EQ(SDGetStatisticsFC(1, 0, &m.d, &s), status);
            EXPECT_EQ(std::tuple(s.LinkFailureCount, s.InvalidCRCCount),
                      answered ? std::tuple(1u, 6u) : std::tuple(0xA5A5A5A5u, 0xA5A5A5A5u));
        }
    }
}

// The transport's own answer to the same faults: result 0 with status 1, the response length as given and the
// response cleared, where a request the attribute took whole and an answer read whole give status 0 and the length
// read.
TEST(SysfsMailbox, TransportStatusOfPartialRequestsAndUnreadableAnswers) {
    enum Fault { kNone, kPageAttr, kUnreadable };
    // ELS or CT, the request's size, the fault, then the result, the status and the response length.
    const std::tuple<bool, size_t, Fault, std::tuple<int32_t, uint32_t, uint32_t>> rows[] = {
        {true, 40, kNone, {0, 0, 8}},  // ECHO of 4 bytes: LS_ACC and the 4 bytes
        {true, 5000, kNone, {0, 1, 64}},
        {true, 40, kUnreadable, {0, 1, 64}},
        {false, 4096, kPageAttr, {0, 0, 16}},  // FS_ACC of the directory service, no port IDs
        {false, 5000, kPageAttr, {0, 1, 64}},
        {false, 16, kUnreadable, {0, 1, 64}},
    };
    for (const auto& [els, size, fault, out] : rows) {
        SCOPED_TRACE(testing::Message() << els << " " << size << " " << fault);
        MailboxRig m;
        const std::string path = m.attr(els ? "els" : "ct");
        if (fault == kPageAttr) m.host().set_attr_size(path, 4096);
        if (fault == kUnreadable) m.host().fail_attr_reads(path, EIO);
        Bytes request(size, 0), resp(64, kFill);
        if (els) {
            std::copy_n(m.d.AddressUsing.PortWWN, 8, request.begin() + 8);
            request[32] = 0x10;  // ECHO
        } else {
            std::tie(request[0], request[4], request[5]) = std::tuple(1, 0xFC, 2);
        }
        uint32_t resp_len = 64, ext = 0xFF;
        const auto send = els ? vxsysfs_send_els_passthru : vxsysfs_send_ct_passthru;
        const int32_t result =
            send(0, m.r.port, request.data(), static_cast<uint32_t>(size), resp.data(), &resp_len, &ext);
        EXPECT_EQ(std::tuple(result, ext, resp_len), out);
        EXPECT_TRUE(ext == 0 || resp == Bytes(64, 0));
    }
}

// The host's lock comes from one set of the machine; a set removed since the last exchange (by the last process of
// the machine) is got afresh by the next one.
TEST(SysfsMailbox, ASetRemovedSinceTheLastExchangeIsGotAfresh) {
    MailboxRig m;
    const Bytes sent = data(8, 1);
    ASSERT_EQ(m.echo(sent), std::pair(0u, sent));
    const int set = shtest::host_sem(m.host(), VX_SEM_KEY_MAILBOX);
    ASSERT_GE(set, 0);
    EXPECT_EQ(api_mailbox_sem_id, set);
    EXPECT_EQ(::semctl(set, kHost % VX_SEM_MAILBOX_LOCKS, GETVAL), 1) << "given back";
    ASSERT_EQ(::semctl(set, 0, IPC_RMID), 0);
    EXPECT_EQ(m.echo(sent), std::pair(0u, sent));
    EXPECT_GE(shtest::host_sem(m.host(), VX_SEM_KEY_MAILBOX), 0);
    EXPECT_NE(api_mailbox_sem_id, set);
}

// Two processes exchange on host 5's "els" attribute at the same time, each with its own ECHO. The driver takes the
// parent's request and waits in its store call until the child's request lands or the child waits for the host's
// lock: each reads its own answer, the child once the parent has read its.
TEST(SysfsMailbox, TwoProcessesOnOneHostEachReadTheirOwnAnswer) {
    MailboxRig m;
    const Bytes ours = data(8, 1), theirs = data(8, 0x41);
    constexpr int kGo = 1, kWrote = 7777;
    shtest::Child child([&](shtest::Child& self) {
        m.host().on_attr_write([&self](const std::string&) { self.reply(kWrote); });
        if (self.command() != kGo) return 1;
        const auto [st, out] = m.echo(theirs);
        self.reply(static_cast<int>(st));
        self.reply(out == theirs ? 1 : 0);
        return 0;
    });
    bool first = true, child_waited = false, child_wrote = false;
    m.host().on_attr_write([&](const std::string&) {
        if (!std::exchange(first, false)) return;
        child.send(kGo);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!child_waited && !child_wrote && std::chrono::steady_clock::now() < deadline) {
            const int id = api_mailbox_sem_id;
            child_waited = id >= 0 && ::semctl(id, kHost % VX_SEM_MAILBOX_LOCKS, GETNCNT) >= 1;
            child_wrote = !child_waited && child.receive(5) == kWrote;
        }
    });
    const auto [st, out] = m.echo(ours);
    EXPECT_EQ(st, 0u);
    EXPECT_EQ(out, ours) << "the parent's own answer";
    EXPECT_TRUE(child_waited) << "the child waited for the host's lock";
    EXPECT_FALSE(child_wrote) << "the child's request landed between the parent's write and read";
    int status = child.receive();
    while (status == kWrote) status = child.receive();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(child.receive(), 1) << "the child's own answer";
    EXPECT_EQ(child.wait(), 0);
}

// A process killed while it holds the "els" mailbox inside the attribute's store leaves the mailbox to the next:
// a later process, then the test's own, exchange their ECHO and read their own answer.
TEST(SysfsMailbox, AProcessKilledInsideTheStoreLeavesTheMailboxToTheNext) {
    MailboxRig m;
    constexpr int kHolding = 4242;
    shtest::Child* holder = nullptr;  // set in the child that is to stay inside the store
    const sim::SanFabric& san = m.r.san;
    m.host().set_attr(m.attr("els"), sim::request_attr([&holder, &san](const std::string& r) {
        if (holder != nullptr) {
            holder->reply(kHolding);
            for (;;) ::pause();
        }
        const size_t head = std::min(sizeof(EXT_ELS_PT_REQ), r.size());
        const Bytes a = san.els(Bytes(r.begin() + static_cast<long>(head), r.end()));
        return std::string(a.begin(), a.end());
    }), 0600);
    const Bytes ours = data(8, 1), theirs = data(8, 0x41);
    {
        shtest::Child killed([&](shtest::Child& self) {
            holder = &self;
            (void)m.echo(theirs);
            return 1;
        });
        ASSERT_EQ(killed.receive(), kHolding);
        killed.signal(SIGKILL);
        const int status = killed.wait_status();
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    }
    shtest::Child later([&](shtest::Child& self) {
        const auto [st, out] = m.echo(theirs);
        self.reply(static_cast<int>(st));
        self.reply(out == theirs ? 1 : 0);
        return 0;
    });
    ASSERT_EQ(later.receive(), 0) << "the later process's exchange ended";
    EXPECT_EQ(later.receive(), 1) << "its own answer";
    EXPECT_EQ(later.wait(), 0);
    EXPECT_EQ(m.echo(ours), std::pair(0u, ours));
}

}  // namespace
