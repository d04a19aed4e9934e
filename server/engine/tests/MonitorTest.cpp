#include <engine/MonitorConnectionManager.h>
#include <engine/OrbIOQueue.h>
#include <engine/OrbManagerDlg.h>
#include <engine/OrbMonitorClientSocket.h>
#include <engine/OrbMonitorListenSocket.h>
#include <engine/TraceLog.h>
#include <testsupport/CheckedPeer.h>
#include <testsupport/TestApp.h>

#include <protocol/CtiRecord.h>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace engine;

namespace {

using Bytes = std::vector<std::uint8_t>;
using testsupport::SpinFor;
using testsupport::SpinUntil;

// A monitor utility's end of a connection: a plain non-blocking socket.
using Peer = testsupport::CheckedPeer;

Bytes StartRequest(const std::string& code, int lengthByte = -1, std::uint8_t messageId = 0x09,
                   std::uint8_t eventId = 'Z') {
    Bytes r{0x00,
            0x0B,
            messageId,
            eventId,
            0xFF,
            0xFF,
            static_cast<std::uint8_t>(lengthByte < 0 ? code.size() : lengthByte)};
    for (std::size_t i = 0; i < 6; ++i)
        r.push_back(i < code.size() ? static_cast<std::uint8_t>(code[i]) : 0);
    return r;
}

// An SMDR ('Z') or UCD ('U') event whose text length byte is `textLength`.
Bytes RecordEvent(std::uint8_t letter, std::uint8_t textLength, const std::string& text) {
    Bytes b{letter, 0xFF, 0xFF, 0x01, 0x02, 0xFF, 0xFF, 0x00, textLength};
    for (const char ch : text)
        b.push_back(static_cast<std::uint8_t>(ch));
    return b;
}

Bytes Framed(const Bytes& body) {
    return protocol::CtiRecord::Encode(body);
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

class MonitorTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::App();
        dlg = std::make_unique<COrbManagerDlg>();
        SetTraceDebugOutputHookForTest([this](const std::string& text) {
            std::lock_guard<std::mutex> guard(traceLock);
            traces += text;
        });
        dlg->m_bUseMsgMonitor = 1;
        dlg->m_bUseSMDRUCDMonitor = 1;
        dlg->m_bUseSMDRUCDSend = 1;
        dlg->m_nMsgMonitorListenPortNo = 0;
        dlg->m_nSMDRUCDMonitorListenPortNo = 0;
        dlg->m_nSMDRUCDSendListenPortNo = 0;
        dlg->StartMonitorListeners();
        ASSERT_EQ(dlg->m_bMsgMonitorListenerActive.load(), 1);
        ASSERT_EQ(dlg->m_bSmdrMonitorListenerActive.load(), 1);
        ASSERT_EQ(dlg->m_bSendListenerActive.load(), 1);
        msgPort = PortOf(dlg->m_pMsgMonitorManager);
        smdrPort = PortOf(dlg->m_pSmdrMonitorManager);
        sendPort = PortOf(dlg->m_pSmdrSendManager);
        feed = dlg->m_pMonitorFeed.load();
        ASSERT_NE(feed, nullptr);
    }
    void TearDown() override {
        // The server goes with monitors still connected: its destruction must close them.
        dlg.reset();
        SetTraceDebugOutputHookForTest({});
        if (HasFailure())
            std::fprintf(stderr, "trace:\n%s", Traces().c_str());
    }

    static unsigned PortOf(MonitorConnectionManager* manager) {
        std::string address;
        unsigned port = 0;
        EXPECT_TRUE(manager && manager->GetListenSocket()->GetSockName(address, port));
        return port;
    }
    int Count() const { return dlg->m_nMonitorCount.load(); }
    std::string Traces() {
        std::lock_guard<std::mutex> guard(traceLock);
        return traces;
    }
    bool Traced(const std::string& text) { return Traces().find(text) != std::string::npos; }

    std::unique_ptr<Peer> Admitted(unsigned port, const std::string& code = "507193") {
        auto peer = std::make_unique<Peer>(port);
        EXPECT_TRUE(peer->Connected());
        const int before = Count();
        peer->Send(StartRequest(code));
        EXPECT_TRUE(SpinUntil([&] { return Count() == before + 1; }));
        return peer;
    }
    // The server's socket of a peer.
    COrbMonitorClientSocket* ServerSide(MonitorConnectionManager* manager, const Peer& peer) {
        for (COrbMonitorClientSocket* s : manager->GetMonitors()) {
            std::string address;
            unsigned port = 0;
            if (s->GetPeerName(address, port) && port == peer.LocalPort())
                return s;
        }
        return nullptr;
    }
    // Reads until `into` holds `size` bytes (or the time-out).
    static bool ReadUntil(Peer& peer, Bytes& into, std::size_t size) {
        return SpinUntil([&] {
            peer.Read(into);
            return into.size() >= size;
        });
    }

    std::unique_ptr<COrbManagerDlg> dlg;
    MonitorFeed* feed = nullptr;
    unsigned msgPort = 0, smdrPort = 0, sendPort = 0;
    std::mutex traceLock;
    std::string traces;
};

TEST_F(MonitorTest, AdmitsOnlyAWellFormedStartRequestWithTheAccessCode) {
    struct Case {
        Bytes request;
        const char* trace;
    };
    const Case rejected[] = {
        {StartRequest("507194"), "Delivered Monitor Passcode[507194] from [127.0.0.1]is not"},
        {StartRequest("507"), "Monitor Passcode Length from [127.0.0.1]is not matched"},
        {StartRequest("5071930", 7), "Monitor Passcode Length"},
        {StartRequest("5071", 6), "Delivered Monitor Passcode[5071"}, // code shorter than n
        {StartRequest("507193", -1, 0x08), "wrong message ID"},
        {StartRequest("507193", -1, 0x09, 'X'), "wrong Event ID"},
        {Bytes{0x00, 0x02, 0x09, 'Z'}, "Monitor Passcode Length"}, // n absent
        {Bytes{0x01, 0x91}, "wrong message ID"},                   // no such length
    };
    for (const Case& c : rejected) {
        Peer peer(msgPort);
        ASSERT_TRUE(peer.Connected());
        peer.Send(c.request);
        EXPECT_TRUE(SpinUntil([&] { return peer.SeesClose(); })) << c.trace;
        EXPECT_TRUE(Traced(c.trace)) << c.trace;
        EXPECT_EQ(Count(), 0) << c.trace;
    }
    EXPECT_TRUE(SpinUntil([&] { return dlg->m_pMsgMonitorManager->GetMonitors().empty(); }));

    // A code of four digits, and the setup-tool module's request, on the other framed port.
    dlg->m_strMonitorAccessCode = "1234";
    auto utility = Admitted(smdrPort, "1234");
    EXPECT_TRUE(Traced(">>> Monitor Utility is connected from[127.0.0.1]!!!"));
    Peer fir(smdrPort);
    fir.Send(StartRequest("", 0, 0x09, 'a'));
    EXPECT_TRUE(SpinUntil([&] { return Count() == 2; }));
    EXPECT_TRUE(Traced(">>> Fir Module is connected from[127.0.0.1]!!!"));

    const Bytes smdr = RecordEvent('Z', 3, "abc");
    feed->SendSMDRUCDMsgToMonitor(smdr.data(), static_cast<int>(smdr.size()));
    Bytes got1, got2;
    EXPECT_TRUE(ReadUntil(*utility, got1, smdr.size() + 2));
    EXPECT_TRUE(ReadUntil(fir, got2, smdr.size() + 2));
    EXPECT_EQ(got1, Framed(smdr));
    EXPECT_EQ(got2, Framed(smdr));

    // A repeated request counts once; leaving gives the slot back.
    fir.Send(StartRequest("", 0, 0x09, 'a'));
    SpinFor(std::chrono::milliseconds(50));
    EXPECT_EQ(Count(), 2);
    utility.reset();
    EXPECT_TRUE(SpinUntil([&] { return Count() == 1; }));
}

TEST_F(MonitorTest, AStartRequestSplitOverSegmentsIsAdmitted) {
    const Bytes request = StartRequest("507193");
    for (std::size_t cut : {std::size_t{1}, std::size_t{3}, std::size_t{7}, request.size() - 1}) {
        Peer peer(msgPort);
        ASSERT_TRUE(peer.Connected());
        peer.Send(Bytes(request.begin(), request.begin() + static_cast<std::ptrdiff_t>(cut)));
        SpinFor(std::chrono::milliseconds(10));
        EXPECT_EQ(Count(), 0) << cut;
        peer.Send(Bytes(request.begin() + static_cast<std::ptrdiff_t>(cut), request.end()));
        EXPECT_TRUE(SpinUntil([&] { return Count() == 1; })) << cut;
        EXPECT_FALSE(peer.SeesClose()) << cut;
        peer.Close();
        EXPECT_TRUE(SpinUntil([&] { return Count() == 0; })) << cut;
    }
}

TEST_F(MonitorTest, AMonitorWithoutAStartRequestIsClosedAtTheTimeOut) {
    const int saved = MonitorConnectionManager::s_nStartTimeoutMs.load();
    MonitorConnectionManager::s_nStartTimeoutMs = 200;
    Peer silent(msgPort), half(smdrPort);
    auto admitted = Admitted(msgPort);
    const Bytes request = StartRequest("507193");
    half.Send(Bytes(request.begin(), request.begin() + 6));
    EXPECT_TRUE(SpinUntil([&] { return silent.SeesClose() && half.SeesClose(); }));
    MonitorConnectionManager::s_nStartTimeoutMs = saved;
    EXPECT_TRUE(Traced("sent no start request within"));
    SpinFor(std::chrono::milliseconds(300));
    EXPECT_FALSE(admitted->SeesClose());
    EXPECT_EQ(Count(), 1);
}

TEST_F(MonitorTest, AfterAWrongCodeTheNextTryFromThatAddressWaitsLongerEachTime) {
    const int saved = MonitorConnectionManager::s_nCodeDelayMs.load();
    MonitorConnectionManager::s_nCodeDelayMs = 300;
    // Wrong codes from many connections at once: each is judged in turn, after a growing wait.
    std::vector<std::unique_ptr<Peer>> wrong;
    for (int i = 0; i < 3; ++i) {
        wrong.push_back(std::make_unique<Peer>(msgPort));
        wrong.back()->Send(StartRequest("111111"));
    }
    ASSERT_TRUE(SpinUntil([&] { return wrong[0]->SeesClose(); }));
    EXPECT_TRUE(
        Traced("Wrong Monitor Passcode 1 time(s) from [127.0.0.1]; the next try waits 300"));
    SpinFor(std::chrono::milliseconds(100));
    EXPECT_FALSE(Traced("Wrong Monitor Passcode 3 time(s)")) << "tries that came together wait";
    ASSERT_TRUE(SpinUntil([&] { return wrong[2]->SeesClose(); }));
    EXPECT_TRUE(
        Traced("Wrong Monitor Passcode 3 time(s) from [127.0.0.1]; the next try waits 1200"));
    // The right code waits its turn too, is then admitted and clears the count.
    Peer right(smdrPort);
    right.Send(StartRequest("507193"));
    SpinFor(std::chrono::milliseconds(100));
    EXPECT_EQ(Count(), 0);
    EXPECT_TRUE(SpinUntil([&] { return Count() == 1; }));
    Peer next(msgPort);
    next.Send(StartRequest("507193"));
    EXPECT_TRUE(SpinUntil([&] { return Count() == 2; }));
    MonitorConnectionManager::s_nCodeDelayMs = saved;
}

TEST_F(MonitorTest, AtMostTwentyMonitorsOverAllPorts) {
    std::vector<std::unique_ptr<Peer>> peers;
    for (int i = 0; i < 19; ++i)
        peers.push_back(Admitted(i < 10 ? msgPort : i < 15 ? smdrPort : sendPort));
    // Connected while a slot was free, but the last slot goes to another one first.
    Peer late(msgPort);
    EXPECT_TRUE(SpinUntil([&] { return dlg->m_pMsgMonitorManager->GetMonitors().size() == 11; }));
    peers.push_back(Admitted(smdrPort));
    ASSERT_EQ(Count(), 20);
    late.Send(StartRequest("507193"));
    EXPECT_TRUE(SpinUntil([&] { return late.SeesClose(); }));
    EXPECT_TRUE(Traced(">>> There is no available count for this Monitor Utility."));

    // The 21st connection is closed as soon as it is accepted.
    Peer refused(sendPort);
    EXPECT_TRUE(SpinUntil([&] { return refused.SeesClose(); }));
    EXPECT_EQ(Count(), 20);

    // An admitted monitor that repeats its request while 20 are counted stays.
    peers[0]->Send(StartRequest("507193"));
    const Bytes event{'E', 0xFF, 0xFF, 1, 2, 0xFF, 0xFF, 0};
    SpinFor(std::chrono::milliseconds(50));
    feed->SendNormalMsgToMonitor(event.data(), static_cast<int>(event.size()));
    Bytes got;
    EXPECT_TRUE(ReadUntil(*peers[0], got, event.size() + 2));
    EXPECT_EQ(got, Framed(event));
    EXPECT_EQ(Count(), 20);

    peers.pop_back();
    EXPECT_TRUE(SpinUntil([&] { return Count() == 19; }));
    peers.push_back(Admitted(msgPort));
    EXPECT_EQ(Count(), 20);
}

TEST_F(MonitorTest, SwitchTrafficPortCarriesRequestsAndEventsButNoSupervision) {
    auto monitor = Admitted(msgPort);
    Peer unadmitted(msgPort);
    auto smdrMonitor = Admitted(smdrPort);
    EXPECT_TRUE(SpinUntil([&] { return dlg->m_pMsgMonitorManager->GetMonitors().size() == 2; }));

    COrbIOQueue queue(dlg.get());
    const Bytes login{0x02, 'a', 0xFF, 0xFF, 1, 0, 0, 0xFF, 0x00, 6};
    const Bytes poll{0x02, 'u', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    const Bytes ownQuery{0x02, 'Q', 0xFF, 0xFF, 1, 0, 0, 0xFF, 0x00, 'm'};
    const Bytes query{0x02, 'Q', 0xFF, 0xFF, 1, 0, 0, 0xFF, 0x00, 's'};
    const Bytes makeCall{0x02, 'D', 0xFF, 0xFF, 1, 0, 0, 0xFF, 0x00, 2, 0, 0, 0xFF};
    for (const Bytes* body : {&login, &poll, &ownQuery, &query, &makeCall})
        queue.IOQueueWrite(body->data(), static_cast<int>(body->size()));
    const Bytes connected{'E', 0xFF, 0xFF, 1, 0, 0, 0xFF, 0, 2, 0, 0, 0xFF};
    feed->SendNormalMsgToMonitor(connected.data(), static_cast<int>(connected.size()));

    const Bytes expected = Join({Framed(query), Framed(makeCall), Framed(connected)});
    Bytes got;
    EXPECT_TRUE(ReadUntil(*monitor, got, expected.size()));
    EXPECT_EQ(got, expected);

    // Switched off by its option while listening: nothing. The unadmitted monitor and the
    // SMDR/UCD monitor never saw any of it: their first bytes are what follows their admission.
    dlg->m_bUseMsgMonitor = 0;
    feed->SendNormalMsgToMonitor(query.data(), static_cast<int>(query.size()));
    dlg->m_bUseMsgMonitor = 1;
    unadmitted.Send(StartRequest("507193"));
    EXPECT_TRUE(SpinUntil([&] { return Count() == 3; }));
    feed->SendNormalMsgToMonitor(makeCall.data(), static_cast<int>(makeCall.size()));
    Bytes late, more;
    EXPECT_TRUE(ReadUntil(unadmitted, late, makeCall.size() + 2));
    EXPECT_EQ(late, Framed(makeCall));
    EXPECT_TRUE(ReadUntil(*monitor, more, makeCall.size() + 2));
    EXPECT_EQ(more, Framed(makeCall));
    const Bytes ucd = RecordEvent('U', 2, "ok");
    feed->SendSMDRUCDMsgToMonitor(ucd.data(), static_cast<int>(ucd.size()));
    Bytes smdrGot;
    EXPECT_TRUE(ReadUntil(*smdrMonitor, smdrGot, ucd.size() + 2));
    EXPECT_EQ(smdrGot, Framed(ucd));
}

TEST_F(MonitorTest, SmdrPortsCarryFramedRecordsAndTheirBareText) {
    auto framed = Admitted(smdrPort);
    Peer collector(sendPort); // never sends anything
    EXPECT_TRUE(SpinUntil([&] { return dlg->m_pSmdrSendManager->GetMonitors().size() == 1; }));

    const Bytes ucdEmpty = RecordEvent('U', 0, "");
    const Bytes smdr = RecordEvent('Z', 40, std::string(21, 'x')); // 30 bytes, promises 40
    const Bytes ucd = RecordEvent('U', 5, "12345tail");
    for (const Bytes* body : {&ucdEmpty, &smdr, &ucd}) {
        feed->SendSMDRUCDMsgToMonitor(body->data(), static_cast<int>(body->size()));
        feed->SendSMDRUCDMsgToPort(body->data(), static_cast<int>(body->size()));
    }
    const Bytes expectedFramed = Join({Framed(ucdEmpty), Framed(smdr), Framed(ucd)});
    Bytes gotFramed, gotText;
    EXPECT_TRUE(ReadUntil(*framed, gotFramed, expectedFramed.size()));
    EXPECT_EQ(gotFramed, expectedFramed);
    const std::string text = std::string(21, 'x') + "12345";
    EXPECT_TRUE(ReadUntil(collector, gotText, text.size()));
    EXPECT_EQ(std::string(gotText.begin(), gotText.end()), text);

    // Protected: only a collector that has shown the access code gets the text.
    dlg->m_bUseProtectSMDRUCDSend = 1;
    auto admitted = Admitted(sendPort);
    const Bytes next = RecordEvent('Z', 4, "next");
    const Bytes last = RecordEvent('Z', 4, "last");
    feed->SendSMDRUCDMsgToPort(next.data(), static_cast<int>(next.size()));
    Bytes gotAdmitted;
    EXPECT_TRUE(ReadUntil(*admitted, gotAdmitted, 4));
    dlg->m_bUseProtectSMDRUCDSend = 0;
    feed->SendSMDRUCDMsgToPort(last.data(), static_cast<int>(last.size()));
    EXPECT_TRUE(ReadUntil(*admitted, gotAdmitted, 8));
    EXPECT_EQ(std::string(gotAdmitted.begin(), gotAdmitted.end()), "nextlast");
    gotText.clear();
    EXPECT_TRUE(ReadUntil(collector, gotText, 4));
    EXPECT_EQ(std::string(gotText.begin(), gotText.end()), "last");
}

// A monitor that stops reading loses whole records; one that keeps reading gets every record at
// once, from a sender thread that waits for it after each one.
TEST_F(MonitorTest, StalledMonitorLosesWholeRecordsAndHoldsUpNobody) {
    Peer stalled(msgPort, 4096);
    stalled.Send(StartRequest("507193"));
    ASSERT_TRUE(SpinUntil([&] { return Count() == 1; }));
    auto fast = Admitted(msgPort);
    COrbMonitorClientSocket* stalledSide = ServerSide(dlg->m_pMsgMonitorManager, stalled);
    ASSERT_NE(stalledSide, nullptr);
    stalledSide->SetSockOpt(SOL_SOCKET, SO_SNDBUF, 4096);

    constexpr int kRecords = 1000;
    constexpr std::size_t kBody = 300;
    auto body = [](int seq) {
        Bytes b(kBody);
        b[0] = 'E';
        for (std::size_t i = 1; i < kBody; ++i)
            b[i] = static_cast<std::uint8_t>(seq * 7 + i);
        b[1] = static_cast<std::uint8_t>(seq >> 8);
        b[2] = static_cast<std::uint8_t>(seq);
        return b;
    };
    std::atomic<std::size_t> fastBytes{0};
    std::atomic<bool> stop{false}, senderOk{true}, senderDone{false};
    Bytes fastGot;
    std::thread reader([&] {
        while (!stop && fastGot.size() < kRecords * (kBody + 2)) {
            fast->Read(fastGot);
            fastBytes = fastGot.size();
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    std::thread sender([&] {
        for (int seq = 0; seq < kRecords && senderOk; ++seq) {
            const Bytes b = body(seq);
            feed->SendNormalMsgToMonitor(b.data(), static_cast<int>(b.size()));
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (fastBytes < static_cast<std::size_t>(seq + 1) * (kBody + 2)) {
                if (std::chrono::steady_clock::now() > deadline) {
                    senderOk = false;
                    break;
                }
                std::this_thread::yield();
            }
        }
        senderDone = true;
    });
    EXPECT_TRUE(SpinUntil([&] { return senderDone.load(); }, std::chrono::seconds(60)));
    stop = !senderDone;
    sender.join();
    stop = true;
    reader.join();
    EXPECT_TRUE(senderOk);
    Bytes expected;
    for (int seq = 0; seq < kRecords; ++seq) {
        const Bytes framed = Framed(body(seq));
        expected.insert(expected.end(), framed.begin(), framed.end());
    }
    EXPECT_EQ(fastGot, expected);

    // The stalled one now reads: whatever it gets is whole records in order.
    Bytes slowGot;
    auto wholeRecords = [&] {
        std::size_t at = 0;
        while (at + 2 <= slowGot.size())
            at += 2 + (slowGot[at] << 8 | slowGot[at + 1]);
        return at == slowGot.size();
    };
    EXPECT_TRUE(SpinUntil([&] {
        stalled.Read(slowGot);
        return stalledSide->PendingSendBytes() == 0 && wholeRecords();
    }));
    SpinFor(std::chrono::milliseconds(100));
    stalled.Read(slowGot);
    ASSERT_TRUE(wholeRecords());
    int previous = -1, records = 0;
    for (std::size_t at = 0; at < slowGot.size(); at += kBody + 2, ++records) {
        ASSERT_EQ(slowGot[at] << 8 | slowGot[at + 1], static_cast<int>(kBody));
        const int seq = slowGot[at + 3] << 8 | slowGot[at + 4];
        ASSERT_GT(seq, previous);
        ASSERT_TRUE(std::equal(slowGot.begin() + at + 2, slowGot.begin() + at + 2 + kBody,
                               body(seq).begin()))
            << "record " << seq;
        previous = seq;
    }
    EXPECT_GT(records, 0);
    EXPECT_LT(records, kRecords);
}

TEST_F(MonitorTest, StoppingClosesEveryMonitorAndUncountsIt) {
    auto a = Admitted(msgPort);
    auto b = Admitted(msgPort);
    auto c = Admitted(smdrPort);
    ASSERT_EQ(Count(), 3);

    dlg->StopMsgMonitorListener();
    EXPECT_EQ(Count(), 1);
    EXPECT_EQ(dlg->m_pMsgMonitorManager, nullptr);
    EXPECT_EQ(dlg->m_bMsgMonitorListenerActive.load(), 0);
    EXPECT_TRUE(SpinUntil([&] { return a->SeesClose() && b->SeesClose(); }));
    EXPECT_FALSE(Peer(msgPort).Connected());
    const Bytes event{'E', 0xFF, 0xFF, 1, 2, 0xFF, 0xFF, 0};
    feed->SendNormalMsgToMonitor(event.data(), static_cast<int>(event.size()));

    // Started again it listens anew; a second start changes nothing.
    dlg->StartMsgMonitorListener();
    MonitorConnectionManager* restarted = dlg->m_pMsgMonitorManager;
    ASSERT_NE(restarted, nullptr);
    dlg->StartMsgMonitorListener();
    EXPECT_EQ(dlg->m_pMsgMonitorManager, restarted);
    auto d = Admitted(PortOf(restarted));
    EXPECT_EQ(Count(), 2);

    dlg->StopMonitorListeners();
    EXPECT_EQ(Count(), 0);
    EXPECT_TRUE(SpinUntil([&] { return c->SeesClose() && d->SeesClose(); }));
    EXPECT_EQ(dlg->m_pSmdrMonitorManager, nullptr);
    EXPECT_EQ(dlg->m_pSmdrSendManager, nullptr);
    EXPECT_EQ(dlg->m_bSendListenerActive.load(), 0);
    EXPECT_TRUE(Traced("All Monitor Client Connection will be closed!!!"));
}

TEST_F(MonitorTest, ListenerThatCannotListenStaysInactiveUntilRestarted) {
    dlg->StopMonitorListeners();
    // A port another socket listens on.
    const int busy = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(::bind(busy, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(busy, 1), 0);
    socklen_t len = sizeof addr;
    ::getsockname(busy, reinterpret_cast<sockaddr*>(&addr), &len);
    dlg->m_nMsgMonitorListenPortNo = ntohs(addr.sin_port);
    dlg->m_bUseSMDRUCDSend = 0;

    dlg->StartMonitorListeners();
    EXPECT_NE(dlg->m_pMsgMonitorManager, nullptr);
    EXPECT_EQ(dlg->m_bMsgMonitorListenerActive.load(), 0);
    EXPECT_TRUE(Traced("Monitor Client Connection. Port No[" +
                       std::to_string(dlg->m_nMsgMonitorListenPortNo.load()) + "]"));
    EXPECT_EQ(dlg->m_bSmdrMonitorListenerActive.load(), 1);
    EXPECT_EQ(dlg->m_pSmdrSendManager, nullptr);
    EXPECT_EQ(dlg->m_bSendListenerActive.load(), 0);
    const Bytes event{'E', 0xFF, 0xFF, 1, 2, 0xFF, 0xFF, 0};
    feed->SendNormalMsgToMonitor(event.data(), static_cast<int>(event.size()));

    ::close(busy);
    dlg->StartMsgMonitorListener(); // the manager exists: nothing changes
    EXPECT_EQ(dlg->m_bMsgMonitorListenerActive.load(), 0);
    dlg->StopMsgMonitorListener();
    dlg->StartMsgMonitorListener();
    EXPECT_EQ(dlg->m_bMsgMonitorListenerActive.load(), 1);
}

} // namespace
