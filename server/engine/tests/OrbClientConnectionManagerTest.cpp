#include "ClientPortFixture.h"
#include <engine/AcceptPause.h>
#include <engine/LinkState.h>
#include <engine/OrbClientConnectionManager.h>
#include <engine/OrbClientSocketUser.h>
#include <engine/OrbListenSocket.h>
#include <engine/OrbManagerDlg.h>
#include <engine/TraceLog.h>
#include <testsupport/CheckedPeer.h>
#include <testsupport/TestApp.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace engine;

namespace {

using Bytes = std::vector<std::uint8_t>;
using testsupport::SpinFor;
using testsupport::SpinUntil;

// The client application's end of a connection: a plain non-blocking socket.
using Peer = testsupport::CheckedPeer;

Bytes Record(std::uint8_t letter, std::size_t bodyLength, std::uint8_t fill) {
    Bytes r{static_cast<std::uint8_t>(bodyLength >> 8), static_cast<std::uint8_t>(bodyLength), 0x02,
            letter};
    while (r.size() < bodyLength + 2)
        r.push_back(fill++);
    return r;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

using namespace clienttest;
using ClientFixture = ClientPortFixture;

using OrbClientConnectionManager = ClientFixture;
using ClientSocket = ClientFixture;

} // namespace

TEST_F(OrbClientConnectionManager, RefusesConnectionsUntilTheLinkIsUpAndTheDownloadComplete) {
    COrbClientConnectionManager manager(&dlg);
    const unsigned port = Listen(manager, 0);
    const std::string refused = "Device List Not Available";

    g_bSwitchLinkUp = 0;
    g_bDeviceListAvailable = 0;
    Peer early(port);
    ASSERT_TRUE(early.Connected());
    EXPECT_TRUE(SpinUntil([&] { return early.SeesClose(); }));
    EXPECT_EQ(TraceCount(refused), 1);

    g_bSwitchLinkUp = 1; // the download has not ended yet
    Peer linkOnly(port);
    EXPECT_TRUE(SpinUntil([&] { return linkOnly.SeesClose(); }));
    EXPECT_EQ(TraceCount(refused), 2);
    EXPECT_EQ(Count(manager), 0u);

    g_bDeviceListAvailable = 1;
    Peer accepted(port);
    COrbClientSocketUser* client = WaitFor(manager, accepted);
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(client->m_strPeerAddress, "127.0.0.1");
    EXPECT_FALSE(client->m_strConnectTime.empty());
    EXPECT_EQ(client->m_bRegistered, 0);
    EXPECT_EQ(TraceCount("[USER] Accepted Client Information[IP Address 127.0.0.1 - Port No " +
                         std::to_string(accepted.LocalPort()) + "] !!!"),
              1);
    SpinFor(std::chrono::milliseconds(20));
    EXPECT_FALSE(accepted.SeesClose());
    EXPECT_EQ(hooks.refreshes, 0) << "an accept refreshes nothing";
}

TEST_F(OrbClientConnectionManager, OneNoticeTakesEveryPendingConnection) {
    COrbClientConnectionManager manager(&dlg);
    const unsigned port = Listen(manager, 0);
    // A burst of connects that the window thread does not see yet: each must complete in the
    // kernel's queue of the listen socket, not wait for a retried SYN.
    constexpr int kBurst = 40;
    std::vector<int> peers;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < kBurst; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ASSERT_GE(fd, 0);
        peers.push_back(fd);
        const int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ASSERT_TRUE(rc == 0 || errno == EINPROGRESS);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    for (const int fd : peers) {
        pollfd ready{fd, POLLOUT, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        ASSERT_EQ(::poll(&ready, 1, static_cast<int>(std::max<long>(0, left.count()))), 1)
            << "a connect of the burst did not complete";
        int error = 0;
        socklen_t size = sizeof error;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
        ASSERT_EQ(error, 0);
    }
    manager.AcceptPending();
    EXPECT_EQ(Count(manager), static_cast<std::size_t>(kBurst));
    EXPECT_EQ(TraceCount("[USER] Accepted Client Information"), kBurst);
    EXPECT_EQ(TraceCount("[ERROR] Client Acception Fail!!!"), 0) << "an empty queue is no fault";

    // The listener still hears of the next one.
    Peer later(port);
    EXPECT_NE(WaitFor(manager, later), nullptr);
    for (const int fd : peers)
        ::close(fd);
}

TEST_F(OrbClientConnectionManager, ListenFailureIsReportedAndAStoppedPortCanBeReused) {
    COrbClientConnectionManager first(&dlg);
    const unsigned port = Listen(first, 0);
    COrbClientConnectionManager clash(&dlg);
    EXPECT_EQ(clash.StartClientListen(static_cast<int>(port), 0), 0);
    EXPECT_EQ(TraceCount("[ERROR] Fail to create the listen port. Port No[" + std::to_string(port)),
              1);

    // A connection the server closed leaves the port in TIME_WAIT; a restart must still bind.
    {
        Peer peer(port);
        ASSERT_NE(WaitFor(first, peer), nullptr);
        first.CloseAllClients();
        EXPECT_TRUE(SpinUntil([&] { return peer.SeesClose(); }));
    }
    COrbClientConnectionManager restarted(&dlg);
    EXPECT_EQ(restarted.StartClientListen(static_cast<int>(port), 1), 1);
    EXPECT_EQ(restarted.GetMode(), COrbClientConnectionManager::kBypassPort);
    Peer again(port);
    EXPECT_NE(WaitFor(restarted, again), nullptr);
}

TEST_F(ClientSocket, EveryCompleteRecordIsDispatchedInOrderWhateverTheSegments) {
    COrbClientConnectionManager manager(&dlg);
    const unsigned port = Listen(manager, 0);
    std::vector<Bytes> seen;
    manager.SetDispatchHook([&](COrbClientSocketUser*, const std::uint8_t* rec, int length) {
        seen.emplace_back(rec, rec + length);
    });
    Peer peer(port);
    COrbClientSocketUser* client = WaitFor(manager, peer);
    ASSERT_NE(client, nullptr);

    const Bytes a = Record('D', 12, 0x10), b = Record('N', 9, 0x40), c = Record('H', 300, 0x00);
    peer.Send(Join({a, b, c}));
    ASSERT_TRUE(SpinUntil([&] { return seen.size() == 3; }));
    EXPECT_EQ(seen[0], a);
    EXPECT_EQ(seen[1], b);
    EXPECT_EQ(seen[2], c);

    // One record over three segments, the cut falling inside the length bytes too.
    seen.clear();
    peer.Send(Bytes(c.begin(), c.begin() + 1));
    ASSERT_TRUE(SpinUntil([&] { return client->BufferedReceiveBytes() == 1; }));
    peer.Send(Bytes(c.begin() + 1, c.begin() + 100));
    ASSERT_TRUE(SpinUntil([&] { return client->BufferedReceiveBytes() == 100; }));
    EXPECT_TRUE(seen.empty()) << "a partial record waits";
    peer.Send(Bytes(c.begin() + 100, c.end()));
    ASSERT_TRUE(SpinUntil([&] { return seen.size() == 1; }));
    EXPECT_EQ(seen[0], c);

    // A tail completed together with the next records.
    seen.clear();
    const Bytes ab = Join({a, b});
    peer.Send(Bytes(ab.begin(), ab.begin() + 15));
    ASSERT_TRUE(SpinUntil([&] { return seen.size() == 1; }));
    peer.Send(Join({Bytes(ab.begin() + 15, ab.end()), a}));
    ASSERT_TRUE(SpinUntil([&] { return seen.size() == 3; }));
    EXPECT_EQ(seen[1], b);
    EXPECT_EQ(seen[2], a);
    EXPECT_EQ(Count(manager), 1u);
}

TEST_F(ClientSocket, ABadLengthSkipsExactlyItsBytesWhateverTheSegmentsAndTheClientStays) {
    COrbClientConnectionManager manager(&dlg);
    const unsigned port = Listen(manager, 0);
    std::vector<Bytes> seen;
    manager.SetDispatchHook([&](COrbClientSocketUser*, const std::uint8_t* rec, int length) {
        seen.emplace_back(rec, rec + length);
    });
    Peer peer(port);
    COrbClientSocketUser* client = WaitFor(manager, peer);
    ASSERT_NE(client, nullptr);
    const Bytes good = Record('D', 12, 0x10), login = Record('a', 9, 0x01);
    const std::string line = "[ERROR] Message Length is over 400 bytes[";

    // A zero length takes nothing with it: the login after it in the same write is seen.
    peer.Send(Join({good, Bytes{0x00, 0x00}, login}));
    ASSERT_TRUE(SpinUntil([&] { return seen.size() == 2; }));
    EXPECT_EQ(seen[1], login);

    // 401 announced bytes carrying whole records inside them, cut at every kind of place: none
    // of the embedded records is handed out, the record after them is.
    Bytes body;
    while (body.size() + good.size() <= 401)
        body = Join({body, good});
    body.resize(401, 0x00);
    const Bytes stream = Join({Bytes{0x01, 0x91}, body, login});
    for (std::size_t cut : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{200},
                            stream.size() - login.size()}) {
        seen.clear();
        peer.Send(Bytes(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(cut)));
        SpinFor(std::chrono::milliseconds(5));
        peer.Send(Bytes(stream.begin() + static_cast<std::ptrdiff_t>(cut), stream.end()));
        ASSERT_TRUE(SpinUntil([&] { return !seen.empty(); })) << cut;
        SpinFor(std::chrono::milliseconds(5));
        EXPECT_EQ(seen, std::vector<Bytes>{login}) << cut;
    }
    EXPECT_EQ(TraceCount("[ERROR] Message Length is over 400 bytes[0]"), 1);
    EXPECT_EQ(TraceCount("[ERROR] Message Length is over 400 bytes[401]"), 5);
    EXPECT_EQ(Find(manager, peer), client);
    EXPECT_EQ(Count(manager), 1u);
}

TEST_F(ClientSocket, AClientClosedByItsOwnRecordGetsNothingMoreAndClosesOnce) {
    COrbClientConnectionManager manager(&dlg);
    const unsigned port = Listen(manager, 0);
    std::vector<std::uint8_t> letters;
    manager.SetDispatchHook([&](COrbClientSocketUser* c, const std::uint8_t* rec, int) {
        letters.push_back(rec[3]);
        if (rec[3] == 'k') {
            // The handler closes, and so does its caller after it.
            manager.CloseUserConnection(c);
            manager.CloseUserConnection(c);
        }
    });
    Peer peer(port);
    COrbClientSocketUser* client = WaitFor(manager, peer);
    ASSERT_NE(client, nullptr);
    client->m_bPoplar = 1;
    Slot(kCountPoplar) = 1;
    dlg.m_nClientCount = 1;

    peer.Send(Join({Record('a', 9, 0), Record('k', 9, 0), Record('D', 9, 0)}));
    ASSERT_TRUE(SpinUntil([&] { return peer.SeesClose(); }));
    EXPECT_EQ(letters, (std::vector<std::uint8_t>{'a', 'k'}));
    EXPECT_EQ(Count(manager), 0u);
    EXPECT_EQ(TraceCount("is disconnected!!!"), 1);
    EXPECT_EQ(hooks.lines.size(), 1u);
    EXPECT_EQ(dlg.m_nClientCount, 0);
    SpinFor(std::chrono::milliseconds(20)); // the deferred delete runs
}

TEST_F(OrbClientConnectionManager, ClosingAClientPortClientReleasesEachOfItsKinds) {
    COrbClientConnectionManager manager(&dlg);
    const unsigned port = Listen(manager, 0);
    {
        platform::CriticalSectionLock guard(dlg.m_UserList.Lock());
        dlg.m_UserList.Add(std::make_unique<UserRecord>("kim", "127.0.0.1", 0, ""));
    }
    Peer peer(port);
    COrbClientSocketUser* client = WaitFor(manager, peer);
    ASSERT_NE(client, nullptr);
    client->m_bRegistered = 1;
    client->m_bAlder = 1;
    client->m_bRowan = 1;
    client->m_bSpruce = 1;
    client->m_bPoplar = 1;
    client->m_bHazel = 1; // its count is already 0
    Slot(kCountRowanSpruce) = 1;
    Slot(kCountPoplar) = 2;
    Slot(kCountElm) = 1;
    dlg.m_nClientCount = 4;
    const int refreshes = hooks.refreshes;

    peer.Shutdown();
    ASSERT_TRUE(SpinUntil([&] { return Count(manager) == 0; }));
    const std::string s = Suffix(peer);
    // Spruce comes first and takes the count it shares with Rowan; Rowan finds it at 0.
    EXPECT_EQ(hooks.lines, (std::vector<std::string>{"0:S320" + s, "0:S292" + s, "0:S282" + s}));
    EXPECT_EQ(Slot(kCountRowanSpruce), 0u);
    EXPECT_EQ(Slot(kCountPoplar), 1u);
    EXPECT_EQ(Slot(kCountElm), 1u);
    EXPECT_EQ(dlg.m_nClientCount, 2);
    EXPECT_EQ(hooks.refreshes, refreshes + 1);
    EXPECT_EQ(hooks.changes, 0);
    const int info =
        TraceIndex("[INFO] Connected User[Name : kim, IP Address : 127.0.0.1, Port No : " +
                   std::to_string(peer.LocalPort()) + "] is disconnected!!!");
    const int alder = TraceIndex("[USER LOG] S320" + s);
    ASSERT_GE(info, 0);
    EXPECT_GT(alder, info);
    EXPECT_GT(TraceIndex("[USER LOG] S282" + s), TraceIndex("[USER LOG] S292" + s));
    EXPECT_EQ(TraceCount("S280"), 0);
    EXPECT_EQ(TraceCount("S285"), 0);
}

TEST_F(OrbClientConnectionManager, ClosingABypassClientWritesTraceLinesOnly) {
    COrbClientConnectionManager manager(&dlg);
    const unsigned port = Listen(manager, 1);
    Peer peer(port);
    COrbClientSocketUser* client = WaitFor(manager, peer);
    ASSERT_NE(client, nullptr);
    client->m_bOak = 1;
    client->m_bDogwood = 1;
    client->m_bJuniper = 1;
    client->m_bNumberedKind[35 - 33] = 1;
    Slot(kCountOak) = 1;
    Slot(kCountBypassDogwood) = 1;
    Slot(kCountDogwood) = 5; // the client port's own Dogwood count
    Slot(kCountJuniper) = 1;
    Slot(kCountKind33 + 2) = 1;
    dlg.m_nBypassClientCount = 3; // never below 0 although four kinds are released
    dlg.m_nClientCount = 7;

    peer.Shutdown();
    ASSERT_TRUE(SpinUntil([&] { return Count(manager) == 0; }));
    const std::string s = Suffix(peer);
    EXPECT_TRUE(hooks.lines.empty());
    EXPECT_EQ(hooks.changes, 1);
    EXPECT_EQ(hooks.refreshes, 0);
    EXPECT_EQ(dlg.m_nBypassClientCount, 0);
    EXPECT_EQ(dlg.m_nClientCount, 7);
    EXPECT_EQ(Slot(kCountDogwood), 5u);
    EXPECT_EQ(Slot(kCountBypassDogwood), 0u);
    EXPECT_EQ(Slot(kCountKind33 + 2), 0u);
    const int oak = TraceIndex("[USER LOG] S283" + s);
    const int dogwood = TraceIndex("[USER LOG] S298" + s);
    const int juniper = TraceIndex("[USER] S383" + s);
    const int kind35 = TraceIndex("[USER LOG] S331" + s);
    ASSERT_GE(oak, 0);
    EXPECT_LT(oak, dogwood);
    EXPECT_LT(dogwood, juniper);
    EXPECT_LT(juniper, kind35);
}

TEST_F(OrbClientConnectionManager, PurgeClosesOnlyClientsWhosePeerIsGone) {
    COrbClientConnectionManager manager(&dlg);
    COrbClientConnectionManager bypass(&dlg);
    const unsigned port = Listen(manager, 0);
    const unsigned bypassPort = Listen(bypass, 1);
    Peer alive(port), gone(port), bypassGone(bypassPort);
    COrbClientSocketUser* dead = WaitFor(manager, gone);
    COrbClientSocketUser* deadBypass = WaitFor(bypass, bypassGone);
    ASSERT_NE(WaitFor(manager, alive), nullptr);
    ASSERT_NE(dead, nullptr);
    ASSERT_NE(deadBypass, nullptr);
    dead->m_bAlder = 1;
    dead->m_bElm = 1;
    deadBypass->m_bAlder = 1;
    deadBypass->m_bMaple = 1;
    Slot(kCountElm) = 1;
    Slot(kCountMaple) = 1;
    dlg.m_nClientCount = 2;
    dlg.m_nBypassClientCount = 1;
    const std::string s = Suffix(gone), sb = Suffix(bypassGone);
    const unsigned gonePort = gone.LocalPort();

    // Without running the event loop, so only the purge can notice.
    gone.Abort();
    bypassGone.Abort();
    auto peerLost = [](COrbClientSocketUser* c) {
        std::string a;
        unsigned p;
        return !c->GetPeerName(a, p);
    };
    for (int i = 0; i < 2000 && !(peerLost(dead) && peerLost(deadBypass)); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));

    EXPECT_EQ(manager.PurgeDeadClients(), 1);
    EXPECT_EQ(bypass.PurgeDeadClients(), 1);
    EXPECT_EQ(Count(manager), 1u);
    EXPECT_EQ(Count(bypass), 0u);
    EXPECT_EQ(dlg.m_nClientCount, 1);
    EXPECT_EQ(dlg.m_nBypassClientCount, 0);
    // The Alder line only on the client port.
    EXPECT_EQ(hooks.lines, (std::vector<std::string>{"0:S320" + s, "0:S281" + s}));
    // Counted without the address: connections to the two ports may share a local port.
    EXPECT_EQ(TraceCount("[USER LOG] S320"), 1);
    EXPECT_EQ(TraceCount("[USER LOG] S295" + sb), 1);
    EXPECT_EQ(TraceCount("[INFO] Connected User"), 0);
    const int closeLine =
        TraceIndex("Connected User[Name : Unknown, IP Address : 127.0.0.1, Port No : " +
                   std::to_string(gonePort) + "] is disconnected!!!");
    ASSERT_GE(closeLine, 0);
    EXPECT_GT(closeLine, TraceIndex("[USER LOG] S281" + s));
    EXPECT_EQ(hooks.refreshes, 1);
    EXPECT_EQ(hooks.changes, 1);
    EXPECT_EQ(manager.PurgeDeadClients(), 0);
}

TEST_F(OrbClientConnectionManager, CloseAllClientsClosesEveryClientAndZeroesItsPortsCounts) {
    COrbClientConnectionManager manager(&dlg);
    const unsigned port = Listen(manager, 0);
    Peer one(port), two(port);
    COrbClientSocketUser* first = WaitFor(manager, one);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(WaitFor(manager, two), nullptr);
    first->m_bRowan = 1;
    for (int slot = 0; slot < kKindCountSlots; ++slot)
        Slot(slot) = 3;
    dlg.m_nClientCount = 2;
    dlg.m_nBypassClientCount = 4;

    manager.CloseAllClients();
    EXPECT_EQ(Count(manager), 0u);
    EXPECT_EQ(manager.GetListenSocket(), nullptr);
    EXPECT_TRUE(SpinUntil([&] { return one.SeesClose() && two.SeesClose(); }));
    EXPECT_EQ(TraceCount("All Client Connections will be closed!!!"), 1);
    EXPECT_EQ(TraceCount("is disconnected"), 0);
    EXPECT_TRUE(hooks.lines.empty());
    EXPECT_EQ(dlg.m_nClientCount, 0);
    EXPECT_EQ(dlg.m_nBypassClientCount, 4);
    for (int slot : {kCountRowanSpruce, kCountElm, kCountPoplar, kCountFir, kCountHazel,
                     kCountDogwood, kCountKind10, kCountCedar, kCountBirch})
        EXPECT_EQ(Slot(slot), 0u) << slot;
    for (int slot : {kCountOak, kCountMaple, kCountBypassDogwood, kCountJuniper, kCountKind41})
        EXPECT_EQ(Slot(slot), 3u) << slot;
    Peer late(port);
    EXPECT_FALSE(late.Connected());

    COrbClientConnectionManager bypass(&dlg);
    Listen(bypass, 1);
    bypass.CloseAllClients();
    EXPECT_EQ(dlg.m_nBypassClientCount, 0);
    for (int slot : {kCountOak, kCountMaple, kCountBypassDogwood, kCountJuniper, kCountMsJuniper,
                     kCountIbmJuniper, kCountKind33, kCountKind41})
        EXPECT_EQ(Slot(slot), 0u) << slot;
}

TEST_F(ClientSocket, ATornRecordIsCompletedBeforeAnythingNewIsSent) {
    COrbClientConnectionManager manager(&dlg);
    const unsigned port = Listen(manager, 1);
    Peer peer(port, 4096);
    COrbClientSocketUser* client = WaitFor(manager, peer);
    ASSERT_NE(client, nullptr);
    ASSERT_TRUE(client->SetSockOpt(SOL_SOCKET, SO_SNDBUF, 4096));

    // Far more than the kernel holds for a peer that does not read: it must be cut.
    const Bytes big = Record('E', 30000, 0x21);
    const Bytes next = Record('N', 20, 0x70);
    int error = -1;
    ASSERT_EQ(client->SendRecord(big.data(), static_cast<int>(big.size()), error),
              static_cast<int>(big.size()));
    EXPECT_EQ(error, 0);
    const std::size_t held = client->PendingSendBytes();
    ASSERT_GT(held, 0u);
    EXPECT_LT(held, big.size());
    // Nothing new overtakes the tail (which may shrink meanwhile), nor is held beside it.
    EXPECT_EQ(client->SendRecord(next.data(), static_cast<int>(next.size()), error), -1);
    EXPECT_EQ(error, EWOULDBLOCK);
    EXPECT_GT(client->PendingSendBytes(), 0u);
    EXPECT_LE(client->PendingSendBytes(), held);

    // The peer reads again: the write notification flushes the tail.
    Bytes got;
    ASSERT_TRUE(SpinUntil([&] {
        peer.Read(got);
        return got.size() == big.size();
    }));
    EXPECT_EQ(got, big);
    EXPECT_EQ(client->PendingSendBytes(), 0u);
    ASSERT_EQ(client->SendRecord(next.data(), static_cast<int>(next.size()), error),
              static_cast<int>(next.size()));
    ASSERT_TRUE(SpinUntil([&] {
        peer.Read(got);
        return got.size() == big.size() + next.size();
    }));
    EXPECT_EQ(Bytes(got.begin() + static_cast<long>(big.size()), got.end()), next);
}

namespace {

// Lowers the soft limit of open descriptors for the test's length; the limit is put back after.
struct DescriptorLimit {
    rlimit saved{};
    DescriptorLimit() { ::getrlimit(RLIMIT_NOFILE, &saved); }
    ~DescriptorLimit() { ::setrlimit(RLIMIT_NOFILE, &saved); }
    // No descriptor can be made any more: every number under the limit is taken.
    bool Exhaust() {
        const int lowestFree = ::dup(0);
        if (lowestFree < 0)
            return false;
        ::close(lowestFree);
        rlimit low = saved;
        low.rlim_cur = static_cast<rlim_t>(lowestFree);
        return ::setrlimit(RLIMIT_NOFILE, &low) == 0;
    }
    void Restore() { ::setrlimit(RLIMIT_NOFILE, &saved); }
};

} // namespace

TEST_F(OrbClientConnectionManager, OutOfDescriptorsThePortRestsWithOneTraceAndServedClientsStay) {
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizers' own memory checks open pipes, and fail without a free descriptor.
    GTEST_SKIP() << "needs a process without sanitizers";
#endif
    COrbClientConnectionManager manager(&dlg);
    const unsigned port = Listen(manager, 0);
    Peer served(port);
    COrbClientSocketUser* client = WaitFor(manager, served);
    ASSERT_NE(client, nullptr);

    DescriptorLimit limit;
    Peer waiting(port); // its own end exists before the limit; the server's end cannot be made
    ASSERT_TRUE(limit.Exhaust());
    // Several pauses long: a spinning listener would trace on every turn of the loop.
    SpinFor(std::chrono::milliseconds(4 * AcceptPause::kPauseMs));
    EXPECT_EQ(TraceCount("[ERROR] Client Acception Fail!!!"), 1);
    // Resting, or between a pause's end and the retry that fails again and rests once more.
    EXPECT_TRUE(SpinUntil([&] { return manager.GetListenSocket()->Accepts().Paused(); }));

    const Bytes record = Record('E', 30, 0x41);
    int error = 0;
    ASSERT_EQ(client->SendRecord(record.data(), static_cast<int>(record.size()), error),
              static_cast<int>(record.size()));
    Bytes got;
    EXPECT_TRUE(SpinUntil([&] {
        served.Read(got);
        return got.size() >= record.size();
    }));
    EXPECT_EQ(got, record);

    // Descriptors free again: the next retry takes the waiting connection.
    limit.Restore();
    EXPECT_NE(WaitFor(manager, waiting), nullptr);
    EXPECT_EQ(TraceCount("[ERROR] Client Acception Fail!!!"), 1);
    EXPECT_FALSE(waiting.SeesClose());
}

TEST(DescriptorLimit, TheSoftLimitIsRaisedToTheHardOne) {
    DescriptorLimit limit;
    if (limit.saved.rlim_max < 64)
        GTEST_SKIP() << "hard limit too low to lower";
    rlimit low = limit.saved;
    low.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    AcceptPause::RaiseDescriptorLimit();
    rlimit now{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &now), 0);
    EXPECT_EQ(now.rlim_cur, limit.saved.rlim_max);
}
