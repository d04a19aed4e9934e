#include "ClientPortFixture.h"
#include "TraceCapture.h"
#include <engine/ClientSendPool.h>
#include <engine/LinkState.h>
#include <engine/OrbClientConnectionManager.h>
#include <engine/OrbClientSocketUser.h>
#include <engine/OrbListenSocket.h>
#include <engine/OrbManagerDlg.h>
#include <engine/SwitchDeviceTable.h>
#include <testsupport/TestApp.h>

#include <protocol/CtiRecord.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace engine;

namespace {

using Bytes = std::vector<std::uint8_t>;
using clienttest::Listen;
using clienttest::WaitFor;
using testsupport::SpinFor;
using testsupport::SpinUntil;

// A client application: reads what the server sends and cuts it into records. Cut here rather
// than by the wire library's assembler: events of the longest length a client may get (400 body
// bytes) are one byte longer than the assembler takes from the switch link.
class Reader {
public:
    Reader(unsigned port, int receiveBuffer = 0) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        if (receiveBuffer > 0)
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
    }
    ~Reader() { ::close(fd_); }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    unsigned LocalPort() const {
        sockaddr_in addr{};
        socklen_t len = sizeof addr;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        return ntohs(addr.sin_port);
    }
    // Reads what is there; the complete records it held so far.
    const std::vector<Bytes>& Pump() {
        std::uint8_t buf[8192];
        ssize_t n;
        while ((n = ::recv(fd_, buf, sizeof buf, 0)) > 0)
            stream_.insert(stream_.end(), buf, buf + n);
        for (;;) {
            if (stream_.size() < 2)
                break;
            const std::size_t size = 2u + (stream_[0] << 8 | stream_[1]);
            if (stream_.size() < size)
                break;
            records_.emplace_back(stream_.begin(), stream_.begin() + static_cast<long>(size));
            stream_.erase(stream_.begin(), stream_.begin() + static_cast<long>(size));
        }
        return records_;
    }
    std::size_t Partial() const { return stream_.size(); }

private:
    int fd_ = -1;
    Bytes stream_;
    std::vector<Bytes> records_;
};

// An 'E' body whose every byte can be checked: the letter, a sequence number, then a pattern.
Bytes EventBody(std::uint32_t seq, std::size_t length) {
    Bytes body{'E', static_cast<std::uint8_t>(seq >> 24), static_cast<std::uint8_t>(seq >> 16),
               static_cast<std::uint8_t>(seq >> 8), static_cast<std::uint8_t>(seq)};
    while (body.size() < length)
        body.push_back(static_cast<std::uint8_t>(seq * 7 + body.size()));
    return body;
}

Bytes Frame(const Bytes& body) {
    return protocol::CtiRecord::Encode(body);
}

// The sequence number of a record that is exactly what EventBody made, or -1.
long SequenceOf(const Bytes& record) {
    if (record.size() < 7 || record[2] != 'E')
        return -1;
    const std::uint32_t seq =
        static_cast<std::uint32_t>(record[3] << 24 | record[4] << 16 | record[5] << 8 | record[6]);
    return Frame(EventBody(seq, record.size() - 2)) == record ? static_cast<long>(seq) : -1;
}

class Delivery : public ::testing::Test {
public:
    void SetUp() override {
        testsupport::App();
        g_bSwitchLinkUp = 1;
        g_bDeviceListAvailable = 1;
        clientPort = std::make_unique<COrbClientConnectionManager>(&dlg);
        bypassPort = std::make_unique<COrbClientConnectionManager>(&dlg);
        firstPort = Listen(*clientPort, 0);
        secondPort = Listen(*bypassPort, 1);
        dlg.m_pClientManager = clientPort.get();
        dlg.m_pBypassClientManager = bypassPort.get();
    }
    void TearDown() override {
        dlg.m_pClientManager = nullptr;
        dlg.m_pBypassClientManager = nullptr;
        clientPort.reset();
        bypassPort.reset();
        ResetLinkState();
    }

    // Sends from a thread of its own, as the event handler does, while this thread runs the
    // event loop.
    void SendFromEventThread(const std::function<void()>& work) {
        std::atomic<bool> done{false};
        std::thread eventThread([&] {
            work();
            done = true;
        });
        SpinUntil([&] { return done.load(); }, std::chrono::seconds(60));
        eventThread.join();
    }
    void Send(const std::string& device, const Bytes& body, const std::string& second, int all) {
        SendFromEventThread([&] {
            table.SendEventToClient(device, body.data(), static_cast<int>(body.size()), second,
                                    all);
        });
    }
    // The sum of the counts of the ended runs whose line ends with this text.
    std::uint64_t EndedRunTotal(const std::string& ending) const {
        std::uint64_t total = 0;
        const std::string marker = "Client Socket Error. ";
        traces.CountIf([&](const std::string& text) {
            const std::size_t at = text.find(marker);
            if (at != std::string::npos && text.size() >= ending.size() &&
                text.compare(text.size() - ending.size(), ending.size(), ending) == 0)
                total += std::stoull(text.substr(at + marker.size()));
            return false;
        });
        return total;
    }
    COrbManagerDlg dlg;
    SwitchDeviceTable table{&dlg};
    std::unique_ptr<COrbClientConnectionManager> clientPort, bypassPort;
    unsigned firstPort = 0, secondPort = 0;
    TraceCapture traces;
};

using SendEventToClient = Delivery;

const char* const kNoRight = "There is no right for this type of event";

} // namespace

TEST_F(SendEventToClient, AnEventReachesRegisteredFirstPortClientsAndEverySecondPortClient) {
    Reader registered1(firstPort), registered2(firstPort), unregistered(firstPort);
    Reader bypass1(secondPort), bypass2(secondPort);
    for (Reader* r : {&registered1, &registered2})
        WaitFor(*clientPort, *r)->m_bRegistered = 1;
    ASSERT_NE(WaitFor(*clientPort, unregistered), nullptr);
    ASSERT_NE(WaitFor(*bypassPort, bypass1), nullptr);
    ASSERT_NE(WaitFor(*bypassPort, bypass2), nullptr);

    const Bytes body = EventBody(1, 18);
    Send("201", body, "305", 0);
    std::vector<Reader*> receivers{&registered1, &registered2, &bypass1, &bypass2};
    ASSERT_TRUE(SpinUntil([&] {
        for (Reader* r : receivers)
            if (r->Pump().size() != 1)
                return false;
        return true;
    }));
    for (Reader* r : receivers)
        EXPECT_EQ(r->Pump()[0], Frame(body));
    EXPECT_EQ(traces.CountPart(kNoRight), 1);
    SpinFor(std::chrono::milliseconds(30));
    EXPECT_TRUE(unregistered.Pump().empty());
    EXPECT_EQ(unregistered.Partial(), 0u);
}

// With `others` more clients that take every event: past the few the event handler queues for
// itself, the sender threads queue each client's part.
void OwnLineFilterCase(Delivery& d, std::size_t others) {
    const unsigned firstPort = d.firstPort, secondPort = d.secondPort;
    auto& clientPort = d.clientPort;
    auto& bypassPort = d.bypassPort;
    std::vector<std::unique_ptr<Reader>> more;
    for (std::size_t i = 0; i < others; ++i) {
        more.push_back(std::make_unique<Reader>(firstPort));
        COrbClientSocketUser* client = WaitFor(*clientPort, *more.back());
        ASSERT_NE(client, nullptr);
        client->m_bRegistered = 1;
    }
    Reader filtered(firstPort), alder(firstPort), open(firstPort), bypass(secondPort);
    COrbClientSocketUser* f = WaitFor(*clientPort, filtered);
    COrbClientSocketUser* a = WaitFor(*clientPort, alder);
    COrbClientSocketUser* o = WaitFor(*clientPort, open);
    ASSERT_NE(WaitFor(*bypassPort, bypass), nullptr);
    for (COrbClientSocketUser* c : {f, a, o})
        c->m_bRegistered = 1;
    f->m_bOwnLineFilter = 1;
    f->m_nOwnLine = 201;
    a->m_bOwnLineFilter = 1;
    a->m_nOwnLine = 201;
    a->m_bAlder = 1;
    o->m_nOwnLine = 999; // ignored while its filter is off

    d.Send("201", EventBody(1, 20), "", 0);    // its own line as the device
    d.Send("305", EventBody(2, 20), "201", 0); // its own line as the second number
    d.Send("305", EventBody(3, 20), "", 0);    // another line
    d.Send("2010", EventBody(4, 20), "20", 0); // digits are compared as numbers, not prefixes
    d.Send("305", EventBody(5, 20), "", 1);    // 'N' / 'T': to everybody
    d.Send("201*5", EventBody(6, 20), "x", 0); // the leading digits count

    auto sequences = [](Reader& r) {
        std::vector<long> seqs;
        for (const Bytes& rec : r.Pump())
            seqs.push_back(SequenceOf(rec));
        return seqs;
    };
    ASSERT_TRUE(SpinUntil([&] { return open.Pump().size() == 6 && bypass.Pump().size() == 6; }));
    ASSERT_TRUE(SpinUntil([&] { return filtered.Pump().size() == 4 && alder.Pump().size() == 1; }));
    EXPECT_EQ(sequences(filtered), (std::vector<long>{1, 2, 5, 6}));
    EXPECT_EQ(sequences(alder), (std::vector<long>{5}));
    EXPECT_EQ(sequences(open), (std::vector<long>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(sequences(bypass), (std::vector<long>{1, 2, 3, 4, 5, 6}));
    for (const auto& reader : more) {
        ASSERT_TRUE(SpinUntil([&] { return reader->Pump().size() == 6; }));
        EXPECT_EQ(sequences(*reader), (std::vector<long>{1, 2, 3, 4, 5, 6}));
    }
    EXPECT_EQ(d.traces.CountPart("can't be delivered"), 0)
        << "a filtered client is not a failed send";
}

TEST_F(SendEventToClient, TheOwnLineFilterAndTheAllFlag) {
    OwnLineFilterCase(*this, 0);
}

TEST_F(SendEventToClient, TheOwnLineFilterAndTheAllFlagWhereTheSenderThreadsQueueTheEvents) {
    OwnLineFilterCase(*this, ClientSendPool::kCallerShare);
}

TEST_F(SendEventToClient, ABatchHoldsItsEventsAndDeliversEachClientItsShareInOrder) {
    Reader filtered(firstPort), open(firstPort), unregistered(firstPort), bypass(secondPort);
    COrbClientSocketUser* f = WaitFor(*clientPort, filtered);
    COrbClientSocketUser* o = WaitFor(*clientPort, open);
    ASSERT_NE(WaitFor(*clientPort, unregistered), nullptr);
    ASSERT_NE(WaitFor(*bypassPort, bypass), nullptr);
    f->m_bRegistered = 1;
    o->m_bRegistered = 1;
    f->m_bOwnLineFilter = 1;
    f->m_nOwnLine = 201;

    // More than a gathered batch's worth, an undeliverable one among them.
    constexpr std::uint32_t kEvents = 3 * SwitchDeviceTable::kGatheredEvents;
    std::vector<long> own, all;
    SendFromEventThread([&] {
        SwitchDeviceTable::DeliveryBatch batch(&table);
        for (std::uint32_t seq = 0; seq < kEvents; ++seq) {
            const Bytes body = EventBody(seq, seq == 5 ? 401 : 20 + seq);
            table.SendEventToClient(seq % 3 == 0 ? "201" : "305", body.data(),
                                    static_cast<int>(body.size()), "", 0);
            if (seq == 5)
                continue;
            all.push_back(seq);
            if (seq % 3 == 0)
                own.push_back(seq);
        }
        SpinFor(std::chrono::milliseconds(30));
        EXPECT_TRUE(open.Pump().empty() && bypass.Pump().empty()) << "held until the batch ends";
        EXPECT_FALSE(batch.Full());
    });

    auto sequences = [](Reader& r) {
        std::vector<long> seqs;
        for (const Bytes& rec : r.Pump())
            seqs.push_back(SequenceOf(rec));
        return seqs;
    };
    ASSERT_TRUE(SpinUntil([&] {
        return open.Pump().size() == all.size() && bypass.Pump().size() == all.size() &&
               filtered.Pump().size() == own.size();
    }));
    EXPECT_EQ(sequences(open), all);
    EXPECT_EQ(sequences(bypass), all);
    EXPECT_EQ(sequences(filtered), own);
    // Every event is reported for the unregistered client, the undeliverable one for each
    // client that would have had it.
    EXPECT_EQ(traces.CountPart(kNoRight), static_cast<int>(kEvents));
    EXPECT_EQ(traces.CountPart("Switch Event Length is too big or too small"), 2);
    EXPECT_EQ(traces.CountPart("Send Message Length is more than 400 bytes"), 1);
    SpinFor(std::chrono::milliseconds(30));
    EXPECT_TRUE(unregistered.Pump().empty());
}

TEST_F(SendEventToClient, AnUndeliverableLengthReachesNobody) {
    Reader first(firstPort), second(secondPort);
    WaitFor(*clientPort, first)->m_bRegistered = 1;
    ASSERT_NE(WaitFor(*bypassPort, second), nullptr);

    Send("201", EventBody(1, 401), "", 1);
    Send("201", EventBody(2, 400), "", 1); // the longest that goes
    Send("201", Bytes{}, "", 1);
    ASSERT_TRUE(SpinUntil([&] { return first.Pump().size() == 1 && second.Pump().size() == 1; }));
    EXPECT_EQ(SequenceOf(first.Pump()[0]), 2);
    EXPECT_EQ(SequenceOf(second.Pump()[0]), 2);
    EXPECT_EQ(traces.CountPart("Switch Event Length is too big or too small"), 2);
    EXPECT_EQ(traces.CountPart("Send Message Length is more than 400 bytes"), 2);
    SpinFor(std::chrono::milliseconds(30));
    EXPECT_EQ(first.Pump().size(), 1u);
    EXPECT_EQ(first.Partial(), 0u);
}

TEST_F(SendEventToClient, AClientThatNeverReadsCostsTheOthersNothingAndSeesNoTornRecord) {
    Reader fast1(firstPort), fast2(secondPort), stalled(secondPort, 4096);
    COrbClientSocketUser* f1 = WaitFor(*clientPort, fast1);
    ASSERT_NE(f1, nullptr);
    f1->m_bRegistered = 1;
    COrbClientSocketUser* f2 = WaitFor(*bypassPort, fast2);
    ASSERT_NE(f2, nullptr);
    COrbClientSocketUser* slow = WaitFor(*bypassPort, stalled);
    ASSERT_NE(slow, nullptr);
    ASSERT_TRUE(slow->SetSockOpt(SOL_SOCKET, SO_SNDBUF, 4096));
    const std::string slowFailed =
        "Data can't be delivered[IP - 127.0.0.1 : " + std::to_string(stalled.LocalPort()) + "]";

    // The readers drain on this thread while the event thread delivers; the stalled one never
    // reads. Lengths vary so that the kernel's cuts fall anywhere in a record.
    constexpr std::uint32_t kEvents = 4000;
    std::atomic<std::size_t> maxPending{0};
    std::atomic<std::uint32_t> sent{0};
    std::thread eventThread([&] {
        for (std::uint32_t seq = 0; seq < kEvents; ++seq) {
            const Bytes body = EventBody(seq, 60 + (seq * 37) % 341);
            table.SendEventToClient("201", body.data(), static_cast<int>(body.size()), "", 0);
            maxPending = std::max(maxPending.load(), slow->PendingSendBytes());
            sent = seq + 1;
        }
    });
    ASSERT_TRUE(SpinUntil(
        [&] {
            fast1.Pump();
            fast2.Pump();
            return sent.load() == kEvents;
        },
        std::chrono::seconds(60)));
    eventThread.join();
    ASSERT_TRUE(SpinUntil([&] {
        return fast1.Pump().size() + f1->LostRecords() >= kEvents &&
               fast2.Pump().size() + f2->LostRecords() >= kEvents;
    }));
    for (Reader* fast : {&fast1, &fast2}) {
        long last = -1;
        for (const Bytes& record : fast->Pump()) {
            const long seq = SequenceOf(record);
            ASSERT_GT(seq, last) << "a torn or reordered record";
            last = seq;
        }
    }
    const auto lost = static_cast<std::size_t>(slow->LostRecords());
    EXPECT_GT(lost, 0u) << "the stalled client's buffers never filled; the test proves nothing";
    EXPECT_LE(maxPending.load(), 402u) << "the server holds at most one record for it";

    // Once it reads again, the held tail goes out first and then it gets new events whole.
    ASSERT_TRUE(SpinUntil([&] {
        stalled.Pump();
        return slow->PendingSendBytes() == 0 && stalled.Partial() == 0 &&
               stalled.Pump().size() == kEvents - lost;
    }));
    // One at a time, so its small buffers cannot overflow again.
    const std::size_t before = kEvents - lost;
    for (std::uint32_t seq = kEvents; seq < kEvents + 20; ++seq) {
        Send("201", EventBody(seq, 300), "", 0);
        ASSERT_TRUE(SpinUntil([&] { return stalled.Pump().size() == before + seq - kEvents + 1; }));
    }
    EXPECT_EQ(slow->LostRecords(), lost);
    EXPECT_GE(traces.CountPart(slowFailed), 1);
    long last = -1;
    for (const Bytes& record : stalled.Pump()) {
        const long seq = SequenceOf(record);
        ASSERT_GT(seq, last) << "a torn or reordered record";
        last = seq;
    }
    EXPECT_EQ(last, static_cast<long>(kEvents + 19));
}

TEST_F(SendEventToClient, ARunOfLossesIsTracedWhenItStartsAndWithItsCountWhenItEnds) {
    Reader stalled(firstPort, 4096), other(secondPort, 4096);
    COrbClientSocketUser* slow = WaitFor(*clientPort, stalled);
    COrbClientSocketUser* second = WaitFor(*bypassPort, other);
    ASSERT_NE(slow, nullptr);
    ASSERT_NE(second, nullptr);
    slow->m_bRegistered = 1;
    ASSERT_TRUE(slow->SetSockOpt(SOL_SOCKET, SO_SNDBUF, 4096));
    ASSERT_TRUE(second->SetSockOpt(SOL_SOCKET, SO_SNDBUF, 4096));
    const std::string suffix = [](const Reader& r) {
        return "[IP - 127.0.0.1 : " + std::to_string(r.LocalPort()) + "]";
    }(stalled);
    const std::string otherSuffix = "[IP - 127.0.0.1 : " + std::to_string(other.LocalPort()) + "]";

    // Neither reads: well past what their queues and sockets hold. The senders may still make
    // room meanwhile (the kernel moves what it can to the readers), so a client's losses may come
    // in more than one run; each run is traced at its start, and each that ended with its count.
    constexpr std::uint32_t kEvents = 3000;
    SendFromEventThread([&] {
        for (std::uint32_t seq = 0; seq < kEvents; ++seq) {
            const Bytes body = EventBody(seq, 300);
            table.SendEventToClient("201", body.data(), static_cast<int>(body.size()), "", 0);
        }
    });
    const std::uint64_t lost = slow->LostRecords();
    ASSERT_GT(lost, 100u) << "the queue never filled; the test proves nothing";
    const int runs = traces.CountPart("Switch Event can't be delivered" + suffix);
    const int otherRuns = traces.CountPart("Data can't be delivered" + otherSuffix);
    EXPECT_GE(runs, 1);
    EXPECT_GE(otherRuns, 1);
    EXPECT_LT(runs, 100) << "a line for every loss";
    // A run of one loss is told by its first line alone; every other run that ended has its
    // count, and the last run goes on.
    EXPECT_LE(traces.CountPart("Switch Events were lost in a row" + suffix), runs - 1);
    EXPECT_LE(traces.CountPart("Data records were lost in a row" + otherSuffix), otherRuns - 1);

    // Reading again: the next event that is queued ends the run, with its count.
    ASSERT_TRUE(SpinUntil([&] {
        stalled.Pump();
        return slow->QueuedSendBytes() == 0 && stalled.Partial() == 0;
    }));
    Send("201", EventBody(kEvents, 300), "", 0);
    ASSERT_TRUE(SpinUntil([&] { return stalled.Pump().size() == kEvents + 1 - lost; }));
    const auto singles = [&](int started, const std::string& ending) {
        return static_cast<std::uint64_t>(started - traces.CountPart(ending));
    };
    EXPECT_EQ(EndedRunTotal(" Switch Events were lost in a row" + suffix) +
                  singles(runs, "Switch Events were lost in a row" + suffix),
              lost);
    EXPECT_EQ(slow->LostRecords(), lost);
    // The other's run ends with its connection.
    const std::uint64_t otherLost = second->LostRecords();
    bypassPort->CloseAllClients();
    EXPECT_EQ(EndedRunTotal(" Data records were lost in a row" + otherSuffix) +
                  singles(otherRuns, "Data records were lost in a row" + otherSuffix),
              otherLost);
    EXPECT_EQ(traces.CountPart("Switch Event can't be delivered" + suffix), runs);
}

TEST_F(SendEventToClient, RepliesFromTheUiThreadAndEventsNeverInterleave) {
    Reader reader(secondPort);
    COrbClientSocketUser* client = WaitFor(*bypassPort, reader);
    ASSERT_NE(client, nullptr);
    ASSERT_TRUE(client->SetSockOpt(SOL_SOCKET, SO_SNDBUF, 4096));

    constexpr std::uint32_t kEach = 3000;
    std::atomic<bool> eventsDone{false};
    std::thread eventThread([&] {
        for (std::uint32_t seq = 0; seq < kEach; ++seq) {
            const Bytes body = EventBody(seq, 50 + seq % 350);
            table.SendEventToClient("201", body.data(), static_cast<int>(body.size()), "", 0);
        }
        eventsDone = true;
    });
    // The UI thread's replies use sequence numbers from kEach on.
    int replyFailures = 0;
    for (std::uint32_t seq = kEach; seq < 2 * kEach; ++seq) {
        const Bytes frame = Frame(EventBody(seq, 50 + seq % 350));
        int error = 0;
        if (client->SendRecord(frame.data(), static_cast<int>(frame.size()), error) < 0) {
            EXPECT_EQ(error, EWOULDBLOCK);
            ++replyFailures;
        }
        if (seq % 16 == 0) {
            reader.Pump();
            SpinFor(std::chrono::milliseconds(1)); // lets held tails go out
        }
    }
    ASSERT_TRUE(SpinUntil([&] {
        reader.Pump();
        return eventsDone.load();
    }));
    eventThread.join();
    const std::size_t expected = 2 * kEach - static_cast<std::size_t>(replyFailures) -
                                 static_cast<std::size_t>(client->LostRecords());
    ASSERT_TRUE(SpinUntil(
        [&] { return reader.Pump().size() == expected && client->PendingSendBytes() == 0; }));
    long lastEvent = -1, lastReply = static_cast<long>(kEach) - 1;
    for (const Bytes& record : reader.Pump()) {
        const long seq = SequenceOf(record);
        ASSERT_GE(seq, 0) << "a torn or interleaved record";
        long& last = seq < static_cast<long>(kEach) ? lastEvent : lastReply;
        EXPECT_GT(seq, last);
        last = seq;
    }
    EXPECT_EQ(reader.Partial(), 0u);
}
