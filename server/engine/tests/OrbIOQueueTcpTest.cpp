#include "TraceCapture.h"
#include <engine/LinkState.h>
#include <engine/MonitorFeed.h>
#include <engine/OrbIOQueue.h>
#include <engine/OrbManagerDlg.h>
#include <engine/OrbSocket.h>
#include <testsupport/TestSwitch.h>

#include <protocol/SwitchCommand.h>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace engine;

using testsupport::TestSwitch;

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr int kWaitMs = 5000;

struct FakeMonitorFeed : MonitorFeed {
    std::mutex lock;
    std::vector<Bytes> normal;
    void SendNormalMsgToMonitor(const std::uint8_t* body, int length) override {
        std::lock_guard<std::mutex> guard(lock);
        normal.emplace_back(body, body + length);
    }
    void SendSMDRUCDMsgToMonitor(const std::uint8_t*, int) override {}
    void SendSMDRUCDMsgToPort(const std::uint8_t*, int) override {}
};

// Tells when it is freed.
struct TrackedSocket : COrbSocket {
    explicit TrackedSocket(std::atomic<bool>& gone) : m_gone(gone) {}
    ~TrackedSocket() override { m_gone = true; }
    std::atomic<bool>& m_gone;
};

Bytes Framed(const Bytes& body) {
    Bytes frame{static_cast<std::uint8_t>(body.size() >> 8),
                static_cast<std::uint8_t>(body.size() & 0xFF)};
    frame.insert(frame.end(), body.begin(), body.end());
    return frame;
}

// A request body: 0x02, the letter, 0xFF 0xFF, a device number, 0x00, then `extra` bytes.
Bytes Request(std::uint8_t letter, std::size_t extra = 0, std::uint8_t fill = 0x33) {
    Bytes body{0x02, letter, 0xFF, 0xFF, 0x02, 0x00, 0x01, 0xFF, 0x00};
    body.insert(body.end(), extra, fill);
    return body;
}

// An event body of `length` bytes whose letter is `letter`.
Bytes Event(std::uint8_t letter, std::size_t length) {
    Bytes body(length, 0x07);
    body[0] = letter;
    return body;
}

// Whether a thread of this process is blocked in a receive on `fd`, as the system reports it.
bool SomeThreadReceivesOn(int fd) {
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
        std::ifstream in(task.path() / "syscall");
        long number = -1;
        std::string first;
        if (!(in >> number >> first))
            continue;
        if (number == SYS_recvfrom && std::stol(first, nullptr, 16) == fd)
            return true;
    }
    return false;
}

// A queue on a live loopback connection to a test switch, with the trace texts collected.
class IOQueueTcpTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_owner = std::make_unique<COrbManagerDlg>();
        m_owner->m_nConnType = kConnTypeTcp;
        m_owner->m_timings.sanityTimeoutMs = 400;
        m_owner->m_pMonitorFeed = &m_feed;
        ASSERT_TRUE(m_switch.IsListening());
        auto* socket = new TrackedSocket(m_socketGone);
        g_pSwitchSocket = socket;
        ASSERT_EQ(socket->Connect(m_switch.Host(), m_switch.Port(), SOCK_STREAM, kWaitMs), 1);
        ASSERT_TRUE(m_switch.WaitForConnection(kWaitMs));
        m_queue = std::make_unique<COrbIOQueue>(m_owner.get());
        m_owner->m_pIOQueue = m_queue.get();
    }
    void TearDown() override {
        if (m_queue) {
            m_queue->IOQueueClose();
            EXPECT_TRUE(m_queue->JoinThreads());
            m_queue.reset();
        }
        delete g_pSwitchSocket.exchange(nullptr);
        m_owner->m_pIOQueue = nullptr;
        m_owner->m_pMonitorFeed = nullptr;
        m_owner.reset();
        ResetLinkState();
    }

    // A second link: the queue stopped, then a fresh queue and socket on a new connection.
    void Relink(int connections) {
        ResetLinkState();
        m_queue->IOQueueClose();
        ASSERT_TRUE(m_queue->JoinThreads());
        m_queue = std::make_unique<COrbIOQueue>(m_owner.get());
        m_owner->m_pIOQueue = m_queue.get();
        auto* socket = new COrbSocket;
        ASSERT_EQ(socket->Connect(m_switch.Host(), m_switch.Port(), SOCK_STREAM, kWaitMs), 1);
        g_pSwitchSocket = socket;
        ASSERT_TRUE(m_switch.WaitForConnection(kWaitMs, connections));
    }
    void StartLink() {
        m_queue->IOQueueStartThreads();
        g_bSwitchLinkUp = 1;
        g_hLinkAvailableEvent.Set();
    }
    void Write(const Bytes& body) {
        EXPECT_EQ(m_queue->IOQueueWrite(body.data(), static_cast<int>(body.size())), 1);
    }
    // IOQueueRead, given up (by closing the queue) when nothing comes in time.
    std::unique_ptr<LinkRecord> ReadWithin(int timeoutMs) {
        auto read = std::async(std::launch::async, [this] { return m_queue->IOQueueRead(); });
        if (read.wait_for(std::chrono::milliseconds(timeoutMs)) != std::future_status::ready) {
            ADD_FAILURE() << "no record within " << timeoutMs << " ms";
            m_queue->IOQueueClose();
        }
        return read.get();
    }
    // As the event handler takes them: what waits, and only when nothing does, a bounded read.
    std::unique_ptr<LinkRecord> TakeOrRead(int timeoutMs) {
        std::unique_ptr<LinkRecord> record = m_queue->IOQueueTake();
        return record ? std::move(record) : ReadWithin(timeoutMs);
    }
    TestSwitch m_switch;
    FakeMonitorFeed m_feed;
    std::atomic<bool> m_socketGone{false};
    std::unique_ptr<COrbManagerDlg> m_owner;
    std::unique_ptr<COrbIOQueue> m_queue;
    TraceCapture m_traces;
};

} // namespace

TEST_F(IOQueueTcpTest, SendsEveryBodyFramedAndInOrder) {
    StartLink();
    const Bytes first = Request('D', 20);
    const Bytes second = Request('N');
    const Bytes close(protocol::LinkClearRequest::kTcp.begin(),
                      protocol::LinkClearRequest::kTcp.end());
    Write(first);
    Write(second);
    Write(close);
    Bytes expected = Framed(first);
    for (const Bytes& body : {second, close}) {
        const Bytes frame = Framed(body);
        expected.insert(expected.end(), frame.begin(), frame.end());
    }
    ASSERT_TRUE(m_switch.WaitForRawBytes(expected.size(), kWaitMs));
    EXPECT_EQ(m_switch.RawBytes(), expected);
    const Bytes wireClose{0x00, 0x09, 0x02, 0x6B, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    EXPECT_EQ(m_switch.Records().back().bytes, wireClose);
    // The writer traces a record after sending it.
    EXPECT_TRUE(m_traces.WaitForPart("[SW : 11] --->>> : 'k' ", kWaitMs));
    EXPECT_EQ(m_traces.CountPart("[SW : 11] --->>> : 'k' "), 1);
}

TEST_F(IOQueueTcpTest, ConcurrentWritersKeepEveryRecordWhole) {
    StartLink();
    constexpr int kThreads = 4, kEach = 200;
    // Writer t's i-th body names t and i, with a tail of i % 50 bytes of t.
    auto body = [](int t, int i) {
        Bytes b{0x02,
                'D',
                0xFF,
                0xFF,
                static_cast<std::uint8_t>(t),
                static_cast<std::uint8_t>(i >> 8),
                static_cast<std::uint8_t>(i & 0xFF),
                0xFF,
                0x00};
        b.insert(b.end(), static_cast<std::size_t>(i % 50), static_cast<std::uint8_t>(t));
        return b;
    };
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i)
                Write(body(t, i));
        });
    for (std::thread& writer : writers)
        writer.join();
    ASSERT_TRUE(m_switch.WaitForRecords(kThreads * kEach, kWaitMs));
    const auto records = m_switch.Records();
    ASSERT_EQ(records.size(), static_cast<std::size_t>(kThreads * kEach));
    std::vector<int> next(kThreads, 0);
    for (const TestSwitch::Record& record : records) {
        const Bytes received = record.Body();
        ASSERT_GE(received.size(), 9u);
        const int t = received[4];
        ASSERT_LT(t, kThreads);
        EXPECT_EQ(received, body(t, next[static_cast<std::size_t>(t)]++));
    }
}

TEST_F(IOQueueTcpTest, QueuesSwitchRecordsInOrderForTheReader) {
    StartLink();
    const Bytes one = Event('I', 20), two = Event('E', 40), three = Event('N', 12);
    Bytes burst = Framed(one);
    for (const Bytes& body : {two, three}) {
        const Bytes frame = Framed(body);
        burst.insert(burst.end(), frame.begin(), frame.end());
    }
    ASSERT_TRUE(m_switch.SendRaw(burst));
    for (const Bytes& body : {one, two, three}) {
        auto record = ReadWithin(kWaitMs);
        ASSERT_TRUE(record);
        EXPECT_EQ(*record, Framed(body));
        EXPECT_EQ(m_queue->LastReadOk(), 1);
    }
    EXPECT_EQ(m_traces.CountPart("[SW : 22] <<<--- : 'I' "), 1);
}

TEST_F(IOQueueTcpTest, RefusedLengthsAreSkippedAndTheStreamStaysInStep) {
    StartLink();
    // Bodies that would read as records of their own if taken for lengths.
    auto decoy = [](std::size_t length) {
        Bytes body;
        while (body.size() < length)
            body.insert(body.end(), {0x00, 0x01, 'Z'});
        body.resize(length);
        return body;
    };
    Bytes stream{0x00, 0x00};
    for (std::size_t length : {397u, 398u, 399u}) {
        const Bytes frame = Framed(length == 397 ? Event('A', 397) : decoy(length));
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    const Bytes marker = Framed(Event('X', 10));
    stream.insert(stream.end(), marker.begin(), marker.end());
    ASSERT_TRUE(m_switch.SendRaw(stream));

    auto accepted = ReadWithin(kWaitMs);
    ASSERT_TRUE(accepted);
    EXPECT_EQ(accepted->size(), 399u);
    auto next = ReadWithin(kWaitMs);
    ASSERT_TRUE(next);
    EXPECT_EQ(*next, marker);
    EXPECT_EQ(m_traces.CountPart("[ERROR] message length[0] is too big or small. something wrong. "
                                 "anyway, send LinkAlive Signal"),
              1);
    EXPECT_EQ(m_traces.CountPart("[ERROR] Message Length is wrong. anyway, send LinkAlive Signal."),
              2);
    EXPECT_EQ(m_traces.CountPart("'Z'"), 0);
    EXPECT_EQ(g_bSwitchLinkUp.load(), 1);
    EXPECT_EQ(m_owner->m_bRestartRequest.load(), 0);
}

TEST_F(IOQueueTcpTest, ALengthNoRecordCanHaveFailsTheLinkAtOnceAndAsksForARestart) {
    for (const std::uint16_t length : {400, 31042, 65535}) {
        SCOPED_TRACE(length);
        StartLink();
        // What follows the length would complete it: the reader must not wait for it either.
        Bytes stream{static_cast<std::uint8_t>(length >> 8),
                     static_cast<std::uint8_t>(length & 0xFF)};
        const Bytes marker = Framed(Event('X', 10));
        stream.insert(stream.end(), marker.begin(), marker.end());
        ASSERT_TRUE(m_switch.SendRaw(stream));

        ASSERT_EQ(g_hLinkFailureEvent.Wait(kWaitMs), platform::Event::WaitResult::Signaled);
        EXPECT_EQ(g_bSwitchLinkUp.load(), 0);
        EXPECT_EQ(g_pSwitchSocket.load(), nullptr) << "the out-of-step socket is given up";
        EXPECT_EQ(m_owner->m_bRestartRequest.load(), 1);
        EXPECT_TRUE(WaitUntil([&] { return !m_queue->IsReaderRunning(); }, kWaitMs))
            << "the reader ends with the stream";
        EXPECT_EQ(m_queue->IOQueueTake(), nullptr) << "nothing after the length is passed on";
        EXPECT_EQ(m_traces.CountPart("[ERROR] The length[" + std::to_string(length) +
                                     "] from the switch cannot be a record. The link is out of "
                                     "step and is started again!!!"),
                  1);
        ASSERT_TRUE(m_switch.WaitForPeerClose(kWaitMs));
        m_owner->m_bRestartRequest = 0;
        Relink(m_switch.ConnectionCount() + 1);
    }
}

TEST_F(IOQueueTcpTest, AtTheInputBoundTheReaderStopsReadingAndLosesNothing) {
    StartLink();
    // Three times the bound, numbered; nobody takes any until the reader has stopped.
    const std::size_t total = 3 * COrbIOQueue::kMaxInputCount;
    auto numbered = [](std::size_t i) {
        Bytes body = Event('E', 40);
        body[12] = static_cast<std::uint8_t>(i >> 8);
        body[13] = static_cast<std::uint8_t>(i & 0xFF);
        return body;
    };
    Bytes stream;
    for (std::size_t i = 0; i < total; ++i) {
        const Bytes frame = Framed(numbered(i));
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    auto sending = std::async(std::launch::async, [&] { return m_switch.SendRaw(stream); });

    ASSERT_TRUE(m_traces.WaitForPart("Reading from the switch waits!!!", kWaitMs));
    // What the reader left unread stays with the link, where it holds the switch back.
    int unread = 0;
    ASSERT_EQ(::ioctl(g_pSwitchSocket.load()->Handle(), FIONREAD, &unread), 0);
    EXPECT_GT(unread, 0);

    // Taken as the handler's batches take them, each wait bounded.
    for (std::size_t i = 0; i < total; ++i) {
        std::unique_ptr<LinkRecord> record = TakeOrRead(kWaitMs);
        ASSERT_TRUE(record) << "record " << i << " never came";
        ASSERT_EQ(*record, Framed(numbered(i))) << "record " << i;
    }
    EXPECT_TRUE(sending.get());
    EXPECT_EQ(m_queue->IOQueueTake(), nullptr);
    EXPECT_EQ(m_traces.CountPart("Input Queue"), 0);
    const int waits = m_traces.CountPart("Reading from the switch waits!!!");

    // A close lets a waiting reader go.
    const Bytes again = [&] {
        Bytes more;
        for (std::size_t i = 0; i < COrbIOQueue::kMaxInputCount + 10; ++i) {
            const Bytes frame = Framed(numbered(i));
            more.insert(more.end(), frame.begin(), frame.end());
        }
        return more;
    }();
    ASSERT_TRUE(m_switch.SendRaw(again));
    ASSERT_TRUE(m_traces.WaitForPart("Reading from the switch waits!!!", kWaitMs, waits + 1));
    m_queue->IOQueueClose();
    EXPECT_TRUE(m_queue->JoinThreads());
}

// The records of one receive reach the handler together, in order: none of them while the
// reader is still cutting the receive into records, then all of them at once.
TEST_F(IOQueueTcpTest, TheRecordsOfOneReceiveAreHandedOverTogether) {
    constexpr std::size_t kCount = 40;
    constexpr int kHeldAt = 20; // the reader is held while it traces this record
    StartLink();
    auto numbered = [](std::size_t i) {
        Bytes body = Event('E', 12 + i % 7);
        body[5] = static_cast<std::uint8_t>(i);
        return body;
    };
    struct Hold {
        std::mutex lock;
        std::condition_variable changed;
        int traced = 0;
        bool held = false;
        bool released = false;
    };
    auto hold = std::make_shared<Hold>();
    SetTraceDebugOutputHookForTest([hold](const std::string& text) {
        if (text.find("<<<---") == std::string::npos)
            return;
        std::unique_lock<std::mutex> guard(hold->lock);
        if (++hold->traced != kHeldAt)
            return;
        hold->held = true;
        hold->changed.notify_all();
        hold->changed.wait(guard, [&] { return hold->released; });
    });
    auto release = [hold] {
        std::lock_guard<std::mutex> guard(hold->lock);
        hold->released = true;
        hold->changed.notify_all();
    };
    struct Releaser {
        std::function<void()> release;
        ~Releaser() {
            release();
            SetTraceDebugOutputHookForTest({});
        }
    } releaser{release};

    // The reader waits in its receive, so the one send arrives whole at one receive.
    const int fd = g_pSwitchSocket.load()->Handle();
    ASSERT_TRUE(WaitUntil([&] { return SomeThreadReceivesOn(fd); }, kWaitMs));
    Bytes stream;
    for (std::size_t i = 0; i < kCount; ++i) {
        const Bytes frame = Framed(numbered(i));
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    ASSERT_TRUE(m_switch.SendRaw(stream));
    {
        std::unique_lock<std::mutex> guard(hold->lock);
        ASSERT_TRUE(hold->changed.wait_for(guard, std::chrono::milliseconds(kWaitMs),
                                           [&] { return hold->held; }));
    }
    EXPECT_EQ(m_queue->IOQueueTake(), nullptr) << "handed over before the receive was used up";
    release();

    std::unique_ptr<LinkRecord> record = ReadWithin(kWaitMs);
    ASSERT_TRUE(record);
    EXPECT_EQ(*record, Framed(numbered(0)));
    for (std::size_t i = 1; i < kCount; ++i) {
        record = m_queue->IOQueueTake();
        ASSERT_TRUE(record) << "record " << i << " was not handed over with the first";
        EXPECT_EQ(*record, Framed(numbered(i))) << "record " << i;
    }
    EXPECT_EQ(m_queue->IOQueueTake(), nullptr);
}

// A flood of records of many sizes, cut across receives and across the reader's batches, comes
// out whole and in order, none lost.
TEST_F(IOQueueTcpTest, AFloodOfRecordsInBatchesKeepsOrderAndLosesNone) {
    constexpr std::size_t kCount = 6000;
    StartLink();
    auto numbered = [](std::size_t i) {
        Bytes body = Event(static_cast<std::uint8_t>('A' + i % 26), 12 + (i * 37) % 290);
        body[3] = static_cast<std::uint8_t>(i >> 8);
        body[4] = static_cast<std::uint8_t>(i & 0xFF);
        return body;
    };
    Bytes stream;
    for (std::size_t i = 0; i < kCount; ++i) {
        const Bytes frame = Framed(numbered(i));
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    auto sending = std::async(std::launch::async, [&] { return m_switch.SendRaw(stream); });
    for (std::size_t i = 0; i < kCount; ++i) {
        std::unique_ptr<LinkRecord> record = TakeOrRead(kWaitMs);
        ASSERT_TRUE(record) << "record " << i;
        ASSERT_EQ(*record, Framed(numbered(i))) << "record " << i;
    }
    EXPECT_TRUE(sending.get());
    EXPECT_EQ(m_queue->IOQueueTake(), nullptr);
    EXPECT_EQ(m_traces.CountPart("Input Queue"), 0);
}

TEST_F(IOQueueTcpTest, JoinsALengthAndABodySplitOverSeveralSends) {
    StartLink();
    const Bytes body = Event('D', 20);
    // Each part goes once the reader has taken the one before, so no two arrive together.
    ASSERT_TRUE(m_switch.SendRaw({0x00}));
    ASSERT_TRUE(m_traces.WaitForPart("just read 1 for the length field", kWaitMs));
    Bytes part{0x14};
    part.insert(part.end(), body.begin(), body.begin() + 5);
    ASSERT_TRUE(m_switch.SendRaw(part));
    ASSERT_TRUE(m_traces.WaitForPart("read : 5, remained : 15", kWaitMs));
    ASSERT_TRUE(m_switch.SendRaw(Bytes(body.begin() + 5, body.begin() + 12)));
    ASSERT_TRUE(m_traces.WaitForPart("read : 12, remained : 8", kWaitMs));
    ASSERT_TRUE(m_switch.SendRaw(Bytes(body.begin() + 12, body.end())));

    auto record = ReadWithin(kWaitMs);
    ASSERT_TRUE(record);
    EXPECT_EQ(*record, Framed(body));
    EXPECT_EQ(m_traces.CountPart(
                  "[ERROR] just read 1 for the length field. it should read 1 byte again."),
              1);
    EXPECT_EQ(
        m_traces.CountPart("[ERROR] the message to be read is still remained[total bytes : 20, "
                           "read : 5, remained : 15].!!!"),
        1);
    EXPECT_EQ(
        m_traces.CountPart("[ERROR] the message to be read is still remained[total bytes : 20, "
                           "read : 12, remained : 8].!!!"),
        1);
}

TEST_F(IOQueueTcpTest, SilenceEndsTheLinkWhileEvenDroppedBodiesKeepIt) {
    m_owner->m_timings.sanityTimeoutMs = 1000;
    StartLink();
    g_bDeviceListAvailable = 1;
    m_queue->IOQueueStartSanity();
    ASSERT_TRUE(m_queue->HasSanityThread());
    // Only bodies the reader drops, for three times the time-out: each one once the reader has
    // dropped the one before, a tenth of the time-out apart, in which the link must not fail.
    for (int i = 0; i < 30; ++i) {
        const Bytes frame = i % 3 == 0   ? Bytes{0x00, 0x00}
                            : i % 3 == 1 ? Framed(Event('E', 398))
                                         : Framed(Event('E', 399));
        ASSERT_TRUE(m_switch.SendRaw(frame));
        ASSERT_TRUE(m_traces.WaitForPart("anyway, send LinkAlive Signal", kWaitMs, i + 1));
        ASSERT_EQ(g_hLinkFailureEvent.Wait(100), platform::Event::WaitResult::TimedOut)
            << "after " << i;
    }
    EXPECT_EQ(g_bSwitchLinkUp.load(), 1);

    ASSERT_EQ(g_hLinkFailureEvent.Wait(kWaitMs), platform::Event::WaitResult::Signaled);
    EXPECT_EQ(g_bSwitchLinkUp.load(), 0);
    EXPECT_EQ(g_bDeviceListAvailable.load(), 0);
    EXPECT_FALSE(g_hLinkAvailableEvent.IsSet());
    EXPECT_TRUE(m_traces.WaitForPart("Exiting Sanity Thread!!!", kWaitMs));
    EXPECT_EQ(
        m_traces.CountPart("[ERROR] Sanity Checker TimeOut because of No Response Message from "
                           "Switch. This Switch Link will be lost!!!"),
        1);
}

TEST_F(IOQueueTcpTest, StoppedSanityThreadNeverReports) {
    StartLink();
    m_queue->IOQueueStartSanity();
    m_queue->IOQueueStartSanity(); // a second start replaces the first thread
    m_queue->IOQueueStopSanity();
    EXPECT_FALSE(m_queue->HasSanityThread());
    EXPECT_EQ(m_traces.CountPart("Stopping Sanity Thread"), 1);
    EXPECT_EQ(g_hLinkFailureEvent.Wait(3 * m_owner->m_timings.sanityTimeoutMs),
              platform::Event::WaitResult::TimedOut);
    EXPECT_EQ(g_bSwitchLinkUp.load(), 1);
    EXPECT_EQ(m_traces.CountPart("Sanity Checker TimeOut"), 0);
}

TEST_F(IOQueueTcpTest, RefusesBodiesWithoutARequestAndCopiesOnlyTrafficToTheMonitor) {
    StartLink();
    const Bytes zero{0x00, 'D', 0xFF};
    EXPECT_EQ(m_queue->IOQueueWrite(nullptr, 5), 1);
    EXPECT_EQ(m_queue->IOQueueWrite(zero.data(), 3), 1);
    EXPECT_EQ(m_queue->IOQueueWrite(zero.data() + 1, 0), 1);
    EXPECT_EQ(m_traces.CountPart(
                  "[ERROR] Write -> the passed buffer is null. there is nothing to be sent."),
              3);

    Bytes query = Request('Q');
    query.push_back('m'); // sub-letter at byte 9
    Bytes otherQuery = Request('Q');
    otherQuery.push_back('x');
    const std::vector<Bytes> bodies{Request('a', 6), Request('u'), query, otherQuery,
                                    Request('D', 3)};
    for (const Bytes& body : bodies)
        Write(body);
    ASSERT_TRUE(m_switch.WaitForRecords(bodies.size(), kWaitMs));
    const auto records = m_switch.Records();
    ASSERT_EQ(records.size(), bodies.size());
    for (std::size_t i = 0; i < bodies.size(); ++i)
        EXPECT_EQ(records[i].Body(), bodies[i]);

    std::lock_guard<std::mutex> guard(m_feed.lock);
    EXPECT_EQ(m_feed.normal, (std::vector<Bytes>{otherQuery, Request('D', 3)}));
}

TEST_F(IOQueueTcpTest, PeerCloseEndsTheReader) {
    StartLink();
    ASSERT_TRUE(WaitUntil([&] { return m_queue->IsReaderRunning(); }, kWaitMs));
    // The close takes the socket out of use, and a writer that has not looked at it yet ends
    // on finding none. A request that arrives proves this one is past that look.
    Write(Request('D'));
    ASSERT_TRUE(m_switch.WaitForRecords(1, kWaitMs));
    m_switch.CloseConnection();
    EXPECT_TRUE(WaitUntil([&] { return !m_queue->IsReaderRunning(); }, kWaitMs));
    EXPECT_TRUE(m_traces.WaitForPart("Terminating ReaderThread!!!", kWaitMs));
    EXPECT_EQ(m_traces.CountPart("[ERROR] recv() returns 0 because its socket connection has been "
                                 "gracefully closed\n"),
              1);
    EXPECT_EQ(m_traces.CountPart("[ERROR] Terminating ReadSocketThread"), 1);
    EXPECT_TRUE(m_queue->IsWriterRunning());
}

TEST_F(IOQueueTcpTest, SendFailureRetiresTheSocketAndWakesTheReader) {
    StartLink();
    g_bDeviceListAvailable = 1;
    COrbSocket* socket = g_pSwitchSocket.load();
    ASSERT_TRUE(m_switch.SendRecord(Event('I', 12)));
    ASSERT_TRUE(ReadWithin(kWaitMs));
    // Past the link wait and back in its receive: a failure now cannot leave it waiting there.
    ASSERT_TRUE(WaitUntil([&] { return SomeThreadReceivesOn(socket->Handle()); }, kWaitMs));
    // Our sending side fails while the reader stays blocked in its receive.
    ASSERT_EQ(::shutdown(socket->Handle(), SHUT_WR), 0);
    Write(Request('D'));
    ASSERT_EQ(g_hLinkFailureEvent.Wait(kWaitMs), platform::Event::WaitResult::Signaled);
    EXPECT_TRUE(
        m_traces.WaitForPart("Link Fail Event Signaled by WriterSocketThread !!!", kWaitMs));
    EXPECT_EQ(m_traces.CountPart("[ERROR] Unable to send the message. CTI Link Lost!!!."), 1);
    EXPECT_EQ(g_pSwitchSocket.load(), nullptr);
    EXPECT_EQ(g_bSwitchLinkUp.load(), 0);
    EXPECT_EQ(g_bDeviceListAvailable.load(), 0);
    EXPECT_FALSE(g_hLinkAvailableEvent.IsSet());
    // The retired socket is still whole while the reader leaves its receive on it.
    EXPECT_TRUE(WaitUntil([&] { return !m_queue->IsReaderRunning(); }, kWaitMs));
    EXPECT_TRUE(m_queue->IsWriterRunning());
    EXPECT_FALSE(m_socketGone);
    m_queue->IOQueueClose();
    EXPECT_TRUE(m_queue->JoinThreads());
    m_queue.reset();
    EXPECT_TRUE(m_socketGone);
}

TEST_F(IOQueueTcpTest, WriterWaitsWhileTheLinkIsDownAndResumesWhenItComesBack) {
    m_queue->IOQueueStartThreads();
    g_hLinkAvailableEvent.Set(); // announced, but the flag says down
    Write(Request('D'));
    // Whichever thread sees the stale announcement first takes it back.
    EXPECT_TRUE(WaitUntil([] { return !g_hLinkAvailableEvent.IsSet(); }, kWaitMs));
    // The thread that took it back traces that after the reset, so the line is waited for.
    EXPECT_TRUE(WaitUntil(
        [this] {
            return m_traces.CountPart("Link is not availabe. wait again !!!") +
                       m_traces.CountPart("ReadSocketThread --> CTI Link is not avaialable!!!") >=
                   1;
        },
        kWaitMs));
    EXPECT_FALSE(m_queue->WaitOutputDrained(100));
    EXPECT_EQ(m_switch.RawBytes().size(), 0u);

    g_bSwitchLinkUp = 1;
    g_hLinkAvailableEvent.Set();
    EXPECT_TRUE(m_queue->WaitOutputDrained(kWaitMs));
    ASSERT_TRUE(m_switch.WaitForRecords(1, kWaitMs));
    EXPECT_EQ(m_switch.Records()[0].Body(), Request('D'));
}

TEST_F(IOQueueTcpTest, ResetDropsBothQueuesAndLeavesNoWaiterSpinning) {
    m_queue->IOQueueStartThreads();
    Write(Request('D'));
    Write(Request('H'));
    EXPECT_FALSE(m_queue->WaitOutputDrained(50));
    m_queue->IOQueueReset();
    EXPECT_TRUE(m_queue->WaitOutputDrained(0));

    g_bSwitchLinkUp = 1;
    g_hLinkAvailableEvent.Set();
    ASSERT_TRUE(m_switch.SendRecord(Event('I', 15)));
    ASSERT_TRUE(m_switch.SendRecord(Event('E', 15)));
    // A record the reader drops is traced only once both before it are queued.
    ASSERT_TRUE(m_switch.SendRecord(Event('E', 1)));
    ASSERT_TRUE(m_traces.WaitForPart("too short for its letter[E : 1 bytes", kWaitMs));
    m_queue->IOQueueReset();

    // A read after the reset waits for the next record instead of returning empty-handed.
    auto read = std::async(std::launch::async, [this] { return m_queue->IOQueueRead(); });
    EXPECT_EQ(read.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    ASSERT_TRUE(m_switch.SendRecord(Event('N', 15)));
    ASSERT_EQ(read.wait_for(std::chrono::milliseconds(kWaitMs)), std::future_status::ready);
    auto record = read.get();
    ASSERT_TRUE(record);
    EXPECT_EQ(*record, Framed(Event('N', 15)));

    Write(Request('R'));
    ASSERT_TRUE(m_switch.WaitForRecords(1, kWaitMs));
    EXPECT_EQ(m_switch.Records()[0].Body(), Request('R'));
}

TEST_F(IOQueueTcpTest, CloseEndsReadAndThreadsThatWaitForTheLink) {
    // The link never came up: both threads wait for it.
    m_queue->IOQueueStartThreads();
    auto read = std::async(std::launch::async, [this] { return m_queue->IOQueueRead(); });
    ASSERT_TRUE(WaitUntil([&] { return m_queue->IsReaderRunning(); }, kWaitMs));
    m_queue->IOQueueClose();
    ASSERT_EQ(read.wait_for(std::chrono::milliseconds(kWaitMs)), std::future_status::ready);
    EXPECT_EQ(read.get(), nullptr);
    EXPECT_EQ(m_queue->LastReadOk(), 0);
    EXPECT_TRUE(m_queue->JoinThreads());
    EXPECT_FALSE(m_queue->IsReaderRunning());
    EXPECT_FALSE(m_queue->IsWriterRunning());
    EXPECT_EQ(m_queue->IOQueueRead(), nullptr);
    EXPECT_EQ(
        m_traces.CountPart("[ERROR] Read() Function returns NULL or Called Thread Close()!!!"), 2);
}

TEST_F(IOQueueTcpTest, JoinEndsAReaderBlockedInItsReceive) {
    StartLink();
    m_queue->IOQueueStartSanity();
    ASSERT_TRUE(m_switch.SendRecord(Event('I', 12)));
    ASSERT_TRUE(ReadWithin(kWaitMs));
    const int handle = g_pSwitchSocket.load()->Handle();
    ASSERT_TRUE(WaitUntil([&] { return SomeThreadReceivesOn(handle); }, kWaitMs));
    m_queue->IOQueueClose();
    EXPECT_TRUE(m_queue->JoinThreads());
    EXPECT_FALSE(m_queue->IsReaderRunning());
    EXPECT_FALSE(m_queue->IsWriterRunning());
    EXPECT_EQ(m_traces.CountPart("[ERROR] recv() returns 0 because its socket connection has been "
                                 "gracefully closed\n"),
              1);
    EXPECT_TRUE(m_traces.WaitForPart("Terminating WriteSocketThread!!!", kWaitMs));
    EXPECT_TRUE(m_traces.WaitForPart("Exiting Sanity Thread!!!", kWaitMs));
}

// Hostile switches and floods.

TEST_F(IOQueueTcpTest, TheQueueToTheSwitchIsBoundedInCountAndInBytes) {
    // Threads not started: nothing leaves the queue.
    const Bytes small = Request('D'), large = Request('D', 391);
    std::size_t taken = 0;
    while (m_queue->IOQueueWrite(small.data(), static_cast<int>(small.size())) == 1)
        ASSERT_LE(++taken, COrbIOQueue::kMaxOutputCount);
    EXPECT_EQ(taken, COrbIOQueue::kMaxOutputCount);
    m_queue->IOQueueReset();
    taken = 0;
    while (m_queue->IOQueueWrite(large.data(), static_cast<int>(large.size())) == 1)
        ASSERT_LE(++taken, COrbIOQueue::kMaxOutputCount);
    EXPECT_EQ(taken, COrbIOQueue::kMaxOutputBytes / large.size());
    EXPECT_EQ(m_traces.CountPart("[ERROR] The queue to the switch is full["), 2);
    // Emptied, it takes bodies again.
    m_queue->IOQueueReset();
    Write(small);
}

TEST_F(IOQueueTcpTest, TheLinkClearGoesFirstAndTheDroppedBacklogIsTraced) {
    for (int i = 0; i < 5; ++i)
        Write(Request('D'));
    const auto& clear = protocol::LinkClearRequest::kTcp;
    ASSERT_EQ(m_queue->IOQueueWriteFirst(clear.data(), static_cast<int>(clear.size())), 1);
    StartLink();
    ASSERT_TRUE(m_switch.WaitForRecords(1, kWaitMs));
    EXPECT_TRUE(m_queue->WaitOutputDrained(kWaitMs));
    const auto records = m_switch.Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].Letter(), 'k');
    EXPECT_EQ(m_traces.CountPart("[ERROR] The link is stopping: 5 requests[45 bytes] not sent to "
                                 "the switch are dropped!!!"),
              1);
}

TEST_F(IOQueueTcpTest, ASwitchThatStopsReadingFailsTheLinkAfterTheSendTimeOut) {
    // A listener whose accepted end is never read, with both buffers small.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    const int small = 4096;
    ::setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), size), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size), 0);
    delete g_pSwitchSocket.exchange(nullptr);
    auto* socket = new COrbSocket;
    ASSERT_EQ(socket->Connect("127.0.0.1", ntohs(address.sin_port), SOCK_STREAM, kWaitMs), 1);
    ::setsockopt(socket->Handle(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    socket->SetSendTimeout(300);
    g_pSwitchSocket = socket;
    const int deaf = ::accept(listener, nullptr, nullptr);
    ASSERT_GE(deaf, 0);
    StartLink();

    const Bytes body = Request('D', 391);
    // Until the queue is full: the writer is then held in a send the switch never takes.
    for (int i = 0; i < 4000 && !g_hLinkFailureEvent.IsSet(); ++i) {
        if (m_queue->IOQueueWrite(body.data(), static_cast<int>(body.size())) == 0)
            break;
    }
    EXPECT_EQ(g_hLinkFailureEvent.Wait(kWaitMs), platform::Event::WaitResult::Signaled);
    EXPECT_EQ(m_traces.CountPart("[ERROR] COrbSocket::Send --> the peer has taken nothing for 300 "
                                 "ms"),
              1);
    EXPECT_EQ(g_pSwitchSocket.load(), nullptr);
    EXPECT_EQ(g_bSwitchLinkUp.load(), 0);
    ::close(deaf);
    ::close(listener);
}

TEST_F(IOQueueTcpTest, RecordsTooShortForTheirLetterAreDroppedAndARunOfThemResetsTheLink) {
    StartLink();
    ASSERT_TRUE(m_switch.SendRaw({0x00, 0x01, 'E', 0x00, 0x01, 'u', 0x00, 0x01, 0x9C}));
    const Bytes whole = Event('E', 12);
    ASSERT_TRUE(m_switch.SendRecord(whole));
    auto record = ReadWithin(kWaitMs);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->size(), 3u) << "a keep-alive answer is its letter alone";
    record = ReadWithin(kWaitMs);
    ASSERT_TRUE(record);
    EXPECT_EQ(*record, Framed(whole));
    EXPECT_EQ(m_traces.CountPart("[ERROR] The switch sent a record too short for its letter[E : 1 "
                                 "bytes, 8 needed]. Dropped!!!"),
              1);
    EXPECT_EQ(m_traces.CountPart("[ERROR] The switch sent a record without an event letter[9C, 1 "
                                 "bytes]. Dropped!!!"),
              1);
    EXPECT_FALSE(g_hLinkFailureEvent.IsSet());

    // Out of step: refused lengths and records that are no events, in a run.
    Bytes garbage;
    for (int i = 0; i < COrbIOQueue::kMalformedRunLimit; ++i)
        garbage.insert(garbage.end(), {0x00, 0x00, 0x00, 0x01, 0x45});
    ASSERT_TRUE(m_switch.SendRaw(garbage));
    ASSERT_EQ(g_hLinkFailureEvent.Wait(kWaitMs), platform::Event::WaitResult::Signaled);
    EXPECT_EQ(m_traces.CountPart("records in a row from the switch are no events. The link is out "
                                 "of step and is reset!!!"),
              1);
    EXPECT_EQ(g_pSwitchSocket.load(), nullptr);
    EXPECT_EQ(g_bSwitchLinkUp.load(), 0);
}

TEST_F(IOQueueTcpTest, APeerCloseOrResetMarksTheLinkDownAtOnceButAStopDoesNot) {
    for (bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "close");
        if (reset) {
            ASSERT_NO_FATAL_FAILURE(Relink(2));
        }
        g_bDeviceListAvailable = 1;
        StartLink();
        ASSERT_TRUE(WaitUntil([&] { return m_queue->IsReaderRunning(); }, kWaitMs));
        if (reset)
            m_switch.ResetConnection();
        else
            m_switch.CloseConnection();
        ASSERT_EQ(g_hLinkFailureEvent.Wait(kWaitMs), platform::Event::WaitResult::Signaled);
        EXPECT_EQ(g_bSwitchLinkUp.load(), 0);
        EXPECT_EQ(g_bDeviceListAvailable.load(), 0);
        EXPECT_EQ(g_pSwitchSocket.load(), nullptr);
    }
    EXPECT_EQ(m_traces.CountPart("Link Fail Event Signaled by ReadSocketThread !!!"), 2);

    // A stop shuts the socket down itself: no failure.
    ASSERT_NO_FATAL_FAILURE(Relink(3));
    StartLink();
    ASSERT_TRUE(WaitUntil([&] { return m_queue->IsReaderRunning(); }, kWaitMs));
    m_queue->IOQueueClose();
    ASSERT_TRUE(m_queue->JoinThreads());
    EXPECT_FALSE(g_hLinkFailureEvent.IsSet());
    EXPECT_EQ(m_traces.CountPart("Link Fail Event Signaled by ReadSocketThread !!!"), 2);
}

// What the reader hands the event handler's stand-in, and on which thread.
struct InlineLog {
    std::mutex lock;
    std::condition_variable grew;
    std::vector<Bytes> records;
    std::vector<std::thread::id> threads;
    bool accept = true;

    // The records, handled on the calling thread; false when it declines them.
    bool Add(const std::vector<std::unique_ptr<LinkRecord>>& batch, bool always = false) {
        std::lock_guard<std::mutex> guard(lock);
        if (!accept && !always)
            return false;
        for (const auto& record : batch) {
            records.push_back(*record);
            threads.push_back(std::this_thread::get_id());
        }
        grew.notify_all();
        return true;
    }
    COrbIOQueue::InlineHandler Handler() {
        return [this](std::vector<std::unique_ptr<LinkRecord>>& batch) { return Add(batch); };
    }
    bool WaitFor(std::size_t count) {
        std::unique_lock<std::mutex> guard(lock);
        return grew.wait_for(guard, std::chrono::milliseconds(kWaitMs),
                             [&] { return records.size() >= count; });
    }
};

TEST_F(IOQueueTcpTest, AnIdleHandlersRecordsAreHandledByTheReaderAndABusyOnesWaitInTheQueue) {
    InlineLog log;
    m_queue->SetInlineHandler(log.Handler());
    StartLink();
    const Bytes a = Event('I', 20), b = Event('E', 30), c = Event('N', 12);

    // Idle: the reader handles it itself, and nothing waits for the handler thread.
    ASSERT_TRUE(m_switch.SendRaw(Framed(a)));
    ASSERT_TRUE(log.WaitFor(1));
    EXPECT_EQ(log.records[0], Framed(a));
    EXPECT_NE(log.threads[0], std::this_thread::get_id());
    EXPECT_EQ(m_queue->IOQueueTake(), nullptr);

    // Busy (the turn is held): the records wait in the queue, in order.
    {
        platform::LockGuard busy(m_queue->HandlerTurn());
        ASSERT_TRUE(m_switch.SendRaw(Framed(b)));
        ASSERT_TRUE(m_switch.SendRaw(Framed(c)));
        for (const Bytes& body : {b, c}) {
            auto record = TakeOrRead(kWaitMs);
            ASSERT_TRUE(record);
            EXPECT_EQ(*record, Framed(body));
        }
    }
    EXPECT_EQ(log.records.size(), 1u) << "the reader handled none of those";

    // A handler that declines, or none: the queue as before.
    {
        std::lock_guard<std::mutex> guard(log.lock);
        log.accept = false;
    }
    ASSERT_TRUE(m_switch.SendRaw(Framed(a)));
    auto declined = TakeOrRead(kWaitMs);
    ASSERT_TRUE(declined);
    EXPECT_EQ(*declined, Framed(a));
    m_queue->SetInlineHandler(nullptr);
    ASSERT_TRUE(m_switch.SendRaw(Framed(b)));
    auto unset = TakeOrRead(kWaitMs);
    ASSERT_TRUE(unset);
    EXPECT_EQ(*unset, Framed(b));
    EXPECT_EQ(log.records.size(), 1u);
}

// The handler thread takes and handles under the turn, the reader handles only with the queue
// empty: whichever handles a record, they are handled in the order they came.
TEST_F(IOQueueTcpTest, RecordsHandledByTheReaderOrByTheHandlerKeepTheirOrder) {
    InlineLog log;
    m_queue->SetInlineHandler(log.Handler());
    std::thread handler([&] {
        while (m_queue->IOQueueWaitInput()) {
            platform::LockGuard turn(m_queue->HandlerTurn());
            std::vector<std::unique_ptr<LinkRecord>> taken;
            while (auto record = m_queue->IOQueueTake())
                taken.push_back(std::move(record));
            log.Add(taken, true);
        }
    });
    StartLink();
    constexpr std::size_t kRecords = 400;
    std::vector<Bytes> sent;
    for (std::size_t i = 0; i < kRecords; ++i) {
        Bytes body = Event('E', 12 + i % 9);
        body[1] = static_cast<std::uint8_t>(i);
        body[2] = static_cast<std::uint8_t>(i >> 8);
        sent.push_back(Framed(body));
    }
    // Single records and bursts by turns, so both threads get some.
    for (std::size_t i = 0; i < kRecords;) {
        const std::size_t burst = i % 3 == 0 ? 5 : 1;
        Bytes chunk;
        for (std::size_t k = 0; k < burst && i < kRecords; ++k, ++i)
            chunk.insert(chunk.end(), sent[i].begin(), sent[i].end());
        ASSERT_TRUE(m_switch.SendRaw(chunk));
    }
    const bool all = log.WaitFor(kRecords);
    m_queue->IOQueueClose();
    handler.join();
    ASSERT_TRUE(all);
    EXPECT_EQ(log.records, sent);
}
