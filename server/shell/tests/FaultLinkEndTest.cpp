// The end of the switch link as the program meets it: a stop while the switch lags behind sends
// the link clear ahead of the requests still waiting for it (they are dropped and counted), and
// a switch that closes the link takes it down at once, so that no client is served the device
// list of a link that has gone (the clients already served wait for the recovery).

#include "FaultRig.h"

#include <condition_variable>
#include <mutex>
#include <string>

namespace {

using fault_test::BrovikRig;
using fault_test::Bytes;
using fault_test::RigClient;
using testsupport::TestSwitch;

constexpr int kWaitMs = 10000;

// A make call request filled up to nearly the largest record, with its length bytes.
Bytes LargeRequest() {
    Bytes body{0x02, 'D', 0xFF, 0xFF, 0x02, 0x00, 0x01, 0xFF, 0x00, 0x03, 0x00, 0x01};
    body.resize(390, 0x00);
    Bytes framed{static_cast<std::uint8_t>(body.size() >> 8),
                 static_cast<std::uint8_t>(body.size() & 0xFF)};
    framed.insert(framed.end(), body.begin(), body.end());
    return framed;
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
    ASSERT_TRUE(rig.Start());
    RigClient client;
    ASSERT_TRUE(client.Connect(rig.ClientPort()) && client.Login() && client.WaitListEnd(kWaitMs));
    StalledSwitch stalled(rig.Link());

    // Requests until the queue to the switch is full, which closes this client.
    Bytes batch;
    for (int i = 0; i < 32; ++i) {
        const Bytes request = LargeRequest();
        batch.insert(batch.end(), request.begin(), request.end());
    }
    std::size_t sent = 0;
    for (int i = 0; i < 4000 && !client.Closed() && client.SendRaw(batch); ++i)
        sent += 32;
    ASSERT_TRUE(client.WaitPeerClose(kWaitMs)) << sent << " requests sent";
    ASSERT_TRUE(stalled.Stalled());

    rig.Terminate();
    const std::string dropped = "not sent to the switch are dropped!!!";
    ASSERT_TRUE(fault_test::WaitFor([&] { return rig.TraceHas(dropped); }, kWaitMs, 5));
    stalled.Release();
    ASSERT_EQ(rig.WaitExit(30000), std::optional<int>(0));

    const std::string trace = rig.TraceText();
    const std::string countText = "stopping: ";
    const std::size_t at = trace.find(countText);
    ASSERT_NE(at, std::string::npos);
    const std::size_t backlog = std::stoul(trace.substr(at + countText.size()));
    EXPECT_GT(backlog, 0u);
    // What was already on its way arrives, then the link clear, and nothing of the backlog.
    // The switch reads on after the server has gone: what the kernel held comes to it first.
    ASSERT_TRUE(rig.Link().WaitForPeerClose(kWaitMs));
    const std::vector<TestSwitch::Record> records = rig.Link().Records();
    const auto clear = std::find_if(records.begin(), records.end(),
                                    [](const TestSwitch::Record& r) { return r.Letter() == 'k'; });
    ASSERT_NE(clear, records.end());
    const auto requests = [](auto from, auto to) {
        return std::count_if(from, to,
                             [](const TestSwitch::Record& r) { return r.Letter() == 'D'; });
    };
    EXPECT_EQ(requests(clear, records.end()), 0);
    EXPECT_GT(requests(records.begin(), clear), 0);
    EXPECT_LE(static_cast<std::size_t>(requests(records.begin(), clear)) + backlog, sent);
}

TEST(FaultLinkEnd, ASwitchThatClosesTheLinkTakesItDownAtOnceForOldAndNewClients) {
    BrovikRig rig;
    ASSERT_TRUE(rig.Start());
    RigClient early;
    ASSERT_TRUE(early.Connect(rig.ClientPort()) && early.Login() && early.WaitListEnd(kWaitMs));

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
    EXPECT_EQ(rig.Link().ConnectionCount(), 1) << "the link came back in the meantime";
    EXPECT_TRUE(rig.Stop());
}

} // namespace
