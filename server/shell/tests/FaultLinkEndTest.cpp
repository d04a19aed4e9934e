// The end of the switch link as the program meets it: a stop while the switch lags behind sends
// the link clear ahead of the requests still waiting for it (they are dropped and counted, even
// when the switch's window is small and it reads again only during the stop), a length that no
// record can have starts the link again at once, and a switch that closes the link takes it down
// at once, so that no client is served the device list of a link that has gone (the clients
// already served wait for the recovery).

#include "FaultRig.h"

#include <algorithm>
#include <condition_variable>
#include <iterator>
#include <mutex>
#include <string>

namespace {

using fault_test::BrovikRig;
using fault_test::Bytes;
using fault_test::RigClient;
using testsupport::TestSwitch;

constexpr int kWaitMs = 10000;

// `count` make call requests, each filled up to nearly the largest record, with their length
// bytes.
Bytes LargeRequests(std::size_t count) {
    static constexpr std::uint8_t kHead[] = {0x02, 'D',  0xFF, 0xFF, 0x02, 0x00,
                                             0x01, 0xFF, 0x00, 0x03, 0x00, 0x01};
    constexpr std::size_t kBodySize = 390;
    // Sized once: growing a two-byte vector by the body misleads the compiler's bounds check.
    Bytes framed(2 + kBodySize, 0x00);
    framed[0] = static_cast<std::uint8_t>(kBodySize >> 8);
    framed[1] = static_cast<std::uint8_t>(kBodySize & 0xFF);
    std::copy(std::begin(kHead), std::end(kHead), framed.begin() + 2);
    Bytes batch;
    for (std::size_t i = 0; i < count; ++i)
        batch.insert(batch.end(), framed.begin(), framed.end());
    return batch;
}

// SIGTERM, and the stop's trace of the requests it dropped.
bool StopDroppingTheBacklog(BrovikRig& rig) {
    rig.Terminate();
    return fault_test::WaitFor(
        [&] { return rig.TraceHas("not sent to the switch are dropped!!!"); }, kWaitMs, 5);
}

// How many requests the stop counted as dropped; 0 when it traced no count.
std::size_t DroppedBacklog(const BrovikRig& rig) {
    const std::string trace = rig.TraceText();
    const std::string countText = "stopping: ";
    const std::size_t at = trace.find(countText);
    return at == std::string::npos ? 0 : std::stoul(trace.substr(at + countText.size()));
}

// The make call requests among the records.
std::size_t Requests(std::vector<TestSwitch::Record>::const_iterator from,
                     std::vector<TestSwitch::Record>::const_iterator to) {
    return static_cast<std::size_t>(
        std::count_if(from, to, [](const TestSwitch::Record& r) { return r.Letter() == 'D'; }));
}

// From the first forwarded request on, the switch reads nothing more until Release (its own
// thread waits in the record handler), so the server's sends and then its queue fill up.
class StalledSwitch {
public:
    explicit StalledSwitch(TestSwitch& link) : m_link(link) {
        link.SetRecordHandler([this](TestSwitch&, const TestSwitch::Record& record) {
            if (record.Letter() != 'D')
                return;
            std::unique_lock<std::mutex> guard(m_lock);
            m_stalled = true;
            m_changed.wait_for(guard, std::chrono::seconds(30), [&] { return m_released; });
        });
    }
    ~StalledSwitch() {
        Release();
        m_link.SetRecordHandler({});
    }
    bool Stalled() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_stalled;
    }
    void Release() {
        std::lock_guard<std::mutex> guard(m_lock);
        m_released = true;
        m_changed.notify_all();
    }

private:
    TestSwitch& m_link;
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_stalled = false;
    bool m_released = false;
};

TEST(FaultLinkEnd, AStopWhileTheSwitchLagsSendsTheLinkClearAheadOfTheDroppedBacklog) {
    BrovikRig rig;
    // The backlog lasts only until the stalled send times out and takes the link down with it:
    // a small window lets the queue fill, and the stop come, long before that.
    ASSERT_TRUE(rig.Link().SetReceiveBuffer(2048));
    ASSERT_TRUE(rig.Start());
    RigClient client;
    ASSERT_TRUE(client.Connect(rig.ClientPort()) && client.Login() && client.WaitListEnd(kWaitMs));
    StalledSwitch stalled(rig.Link());

    // Requests until the queue to the switch is full, which closes this client.
    const Bytes batch = LargeRequests(32);
    std::size_t sent = 0;
    for (int i = 0; i < 4000 && !client.Closed() && client.SendRaw(batch); ++i)
        sent += 32;
    ASSERT_TRUE(client.WaitPeerClose(kWaitMs)) << sent << " requests sent";
    // The small window may fill before the switch's own thread has taken the first request.
    ASSERT_TRUE(fault_test::WaitFor([&] { return stalled.Stalled(); }, kWaitMs));

    ASSERT_TRUE(StopDroppingTheBacklog(rig));
    stalled.Release();
    ASSERT_EQ(rig.WaitExit(30000), std::optional<int>(0));

    const std::size_t backlog = DroppedBacklog(rig);
    EXPECT_GT(backlog, 0u);
    // What was already on its way arrives, then the link clear, and nothing of the backlog.
    // The switch reads on after the server has gone: what the kernel held comes to it first.
    ASSERT_TRUE(rig.Link().WaitForPeerClose(kWaitMs));
    const std::vector<TestSwitch::Record> records = rig.Link().Records();
    const auto clear = std::find_if(records.begin(), records.end(),
                                    [](const TestSwitch::Record& r) { return r.Letter() == 'k'; });
    ASSERT_NE(clear, records.end());
    EXPECT_EQ(Requests(clear, records.end()), 0u);
    EXPECT_GT(Requests(records.begin(), clear), 0u);
    EXPECT_LE(Requests(records.begin(), clear) + backlog, sent);
}

TEST(FaultLinkEnd, ASwitchWithASmallWindowThatReadsLateGetsTheLinkClearAndCountsTheRest) {
    BrovikRig rig(fault_test::RigOptions{.monitors = true});
    ASSERT_TRUE(rig.Link().SetReceiveBuffer(2048));
    ASSERT_TRUE(rig.Start());
    RigClient client;
    ASSERT_TRUE(client.Connect(rig.ClientPort()) && client.Login() && client.WaitListEnd(kWaitMs));
    // It sees every request as the server queues it for the switch.
    RigClient monitor;
    ASSERT_TRUE(monitor.Connect(rig.MonitorPorts()[0]) && monitor.StartMonitor());
    std::uint16_t seq = 0;
    ASSERT_TRUE(fault_test::WaitFor(
        [&] { return rig.SendEvent(seq++) && monitor.WaitEvents(1, 200); }, kWaitMs, 1))
        << "the monitor is admitted";

    // Far more than the switch's window holds, and well within the queue to it.
    rig.Link().SetReading(false);
    constexpr std::size_t kRequests = 2000;
    ASSERT_TRUE(client.SendRaw(LargeRequests(kRequests)));
    const auto queued = [&] {
        std::size_t count = 0;
        for (const Bytes& body : monitor.Stream().Bodies())
            count += body.size() > 1 && body[0] == 0x02 && body[1] == 'D' ? 1 : 0;
        return count;
    };
    ASSERT_TRUE(monitor.WaitUntil([&] { return queued() == kRequests; }, kWaitMs)) << queued();

    ASSERT_TRUE(StopDroppingTheBacklog(rig)) << "the backlog was dropped without a trace";
    // Late, but within the stop's wait for the link clear.
    rig.Link().SetReading(true);
    ASSERT_EQ(rig.WaitExit(30000), std::optional<int>(0));

    const std::size_t backlog = DroppedBacklog(rig);
    EXPECT_GT(backlog, 0u);
    EXPECT_FALSE(rig.TraceHas("The link clear did not reach the switch"));

    ASSERT_TRUE(rig.Link().WaitForPeerClose(kWaitMs));
    const std::vector<TestSwitch::Record> records = rig.Link().Records();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back().Letter(), 'k') << "the link clear is the last record";
    EXPECT_EQ(Requests(records.begin(), records.end()) + backlog, kRequests)
        << "every request arrived or was counted as dropped";
}

TEST(FaultLinkEnd, ALengthNoRecordCanHaveRestartsTheLinkAtOnce) {
    BrovikRig rig;
    ASSERT_TRUE(rig.Start());
    RigClient before;
    ASSERT_TRUE(before.Connect(rig.ClientPort()) && before.Login() && before.WaitListEnd(kWaitMs));

    // Random bytes where a record should start; the first two read as 31042.
    Bytes noise{0x79, 0x42};
    for (int i = 0; i < 300; ++i)
        noise.push_back(static_cast<std::uint8_t>(i * 37 + 11));
    ASSERT_TRUE(rig.Link().SendRaw(noise));

    // Started again now, not after the silence time-out and the next liveness tick.
    ASSERT_TRUE(rig.Switch().WaitForDownloads(2, kWaitMs));
    EXPECT_EQ(rig.Link().ConnectionCount(), 2);
    EXPECT_TRUE(rig.TraceHas("[ERROR] The length[31042] from the switch cannot be a record. The "
                             "link is out of step and is started again!!!"));
    EXPECT_TRUE(before.WaitPeerClose(kWaitMs)) << "the restart closes the clients of the old link";

    // The client ports open again once the new download is in.
    std::unique_ptr<RigClient> after;
    ASSERT_TRUE(fault_test::WaitFor(
        [&] {
            after = std::make_unique<RigClient>();
            return after->Connect(rig.ClientPort()) && after->Login() && after->WaitListEnd(2000);
        },
        kWaitMs, 100));
    ASSERT_TRUE(rig.SendEvent(7));
    EXPECT_TRUE(after->WaitEvents(1, kWaitMs));
    EXPECT_EQ(after->EventSeqs(), std::vector<std::uint16_t>{7});
    EXPECT_TRUE(rig.Stop());
}

TEST(FaultLinkEnd, ASwitchThatClosesTheLinkTakesItDownAtOnceForOldAndNewClients) {
    BrovikRig rig;
    ASSERT_TRUE(rig.Start());
    RigClient early;
    ASSERT_TRUE(early.Connect(rig.ClientPort()) && early.Login() && early.WaitListEnd(kWaitMs));

    // A link that comes back gets no device list, so the late client below comes before the
    // link is back however slow the machine is.
    rig.Switch().SetDownloadEnabled(false);
    rig.Link().CloseConnection();
    // Down now, not when the switch's silence would be noticed (25 s).
    EXPECT_TRUE(fault_test::WaitFor(
        [&] { return rig.TraceHas("Link Fail Event Signaled by ReadSocketThread !!!"); }, 5000));

    // A client that comes before the link is back is not given the old device list.
    RigClient late;
    ASSERT_TRUE(late.Connect(rig.ClientPort()));
    (void)late.Login(); // the server may have closed it already
    EXPECT_TRUE(late.WaitPeerClose(5000));
    EXPECT_TRUE(late.Stream().Frames().empty());
    EXPECT_EQ(rig.Switch().Downloads(), 1) << "the link came back in the meantime";
    EXPECT_TRUE(rig.Stop());
}

} // namespace
