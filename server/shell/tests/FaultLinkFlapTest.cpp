// The switch link flapping: the switch ends the link twenty times, between polls, during the
// device download and in the middle of a record. The server is run in this process with short
// timers (its liveness and recovery ticks are a minute in the program), so each recovery takes a
// fraction of a second. Every time the link comes back whole, the old clients were closed, new
// ones log in, and no descriptor or thread is left behind.

#include "FaultRig.h"

#include <atomic>
#include <random>
#include <utility>

using namespace engine;
using namespace shell;

using testsupport::DownloadingSwitch;
using testsupport::TestSwitch;

using namespace shell_test;

namespace {

// How the switch answers the next I-am-alive.
enum class Download { Whole, CutBetweenRecords, CutInRecord };

class FaultLinkFlap : public AnsweringShellFixture {
protected:
    void TearDown() override {
        StopAnswering();
        if (m_closer.joinable())
            m_closer.join();
        ShellFixture::TearDown();
    }

    // The switch's side: the download as told, poll answers; the rest only recorded.
    void Answer(TestSwitch& link, const TestSwitch::Record& record) override {
        const auto body = record.Body();
        if (body.size() < 2)
            return;
        if (body[1] == 'u') {
            link.SendRecord({'u', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00});
            return;
        }
        if (body[1] != 'a')
            return;
        const Download mode = m_download.load();
        link.SendRecord(DownloadingSwitch::DeviceRecord(0, {2, 0, 1}, 17));
        if (mode == Download::Whole) {
            link.SendRecord(DownloadingSwitch::DeviceRecord(1, {2, 0, 2}, 17));
            link.SendRecord(DownloadingSwitch::EndRecord());
            ++m_wholeDownloads;
        } else if (mode == Download::CutInRecord) {
            auto next = DownloadingSwitch::DeviceRecord(1, {2, 0, 2}, 17);
            next.resize(5);
            link.SendRaw(std::vector<std::uint8_t>{0x00, 0x0D});
            link.SendRaw(next);
        }
        if (mode == Download::Whole)
            return;
        // The link ends a moment after the cut download, from a thread of its own: the
        // switch's thread has to carry out the close.
        if (m_closer.joinable())
            m_closer.join();
        const int pause = static_cast<int>(m_random() % 20);
        m_closer = std::thread([this, pause] {
            std::this_thread::sleep_for(std::chrono::milliseconds(pause));
            m_download = Download::Whole;
            sw.Switch().CloseConnection();
            ++m_cuts;
        });
    }

    // The server running with its download, and a client logged in and given the list.
    bool RunningWithClient(fault_test::RigClient& client) {
        if (!testsupport::SpinUntil([&] { return CompletelyRunning(); }, std::chrono::seconds(20)))
            return false;
        if (!client.Connect(listenPort) || !client.Login())
            return false;
        return testsupport::SpinUntil(
            [&] {
                client.Pump();
                return client.HasListEnd();
            },
            std::chrono::seconds(10));
    }

    std::atomic<Download> m_download{Download::Whole};
    std::atomic<int> m_wholeDownloads{0};
    std::atomic<int> m_cuts{0};
    std::mt19937 m_random{17}; // the switch thread's own
    std::thread m_closer;
};

// The program's timers but short, and the download wait short too: a download cut off leaves
// the server waiting for it to the wait's end.
ShellTimings FlapTimings() {
    ShellTimings t = ShortTimings();
    t.waitTickMs = 1;
    return t;
}

TEST_F(FaultLinkFlap, ServerRecoversFromTwentyLinkLossesWithoutLeaks) {
    server = std::make_unique<OrbManagerServer>(FlapTimings());
    server->SetResourceLookup(TestText);
    server->m_timings.connectTimeoutMs = 2000;
    server->m_timings.closeDrainMs = 200;
    server->SetView(&view);
    ASSERT_TRUE(server->OnInitDialog());
    // A start by the button that misses its download is not retried, and the short wait is
    // over before a loaded machine has answered: the first start waits for the whole download.
    bool firstWait = true;
    view.onWaitTick = [&](WaitDialogModel&) {
        if (!std::exchange(firstWait, false))
            return;
        EXPECT_TRUE(fault_test::WaitFor([] { return g_bDeviceListAvailable.load() == 1; }, 20000));
    };
    server->OnStartStop();

    fault_test::RigClient client;
    ASSERT_TRUE(RunningWithClient(client));
    // Settled: every thread of a running link has started.
    testsupport::SpinFor(std::chrono::milliseconds(300));
    const fault_test::ProcessCounts start = fault_test::CountsOf(0);

    std::mt19937 random(4711);
    const Download kinds[] = {Download::Whole, Download::CutBetweenRecords, Download::Whole,
                              Download::CutInRecord};
    int flaps = 0;
    int cutFlaps = 0;
    for (int i = 0; i < 20; ++i) {
        const Download kind = kinds[i % 4];
        if (kind == Download::Whole) {
            // Between polls, or in the middle of an event record from the switch.
            ASSERT_TRUE(RunningWithClient(client)) << "flap " << i;
            testsupport::SpinFor(std::chrono::milliseconds(random() % 200));
            m_download = kinds[(i + 1) % 4];
            if (random() % 2 == 0) {
                sw.Switch().SendRaw(std::vector<std::uint8_t>{0x00, 0x20, 'E', 0xFF, 0xFF, 2});
                sw.Switch().ResetConnection();
            } else {
                sw.Switch().CloseConnection();
            }
            ++flaps;
            // Its client is closed with the link.
            EXPECT_TRUE(testsupport::SpinUntil(
                [&] {
                    client.Pump();
                    return client.PeerClosed();
                },
                std::chrono::seconds(10)))
                << "flap " << i;
            continue;
        }
        // During the download: the switch ends the link once the cut download has gone out.
        ++cutFlaps;
        EXPECT_TRUE(testsupport::SpinUntil([&] { return m_cuts.load() >= cutFlaps; },
                                           std::chrono::seconds(20)))
            << "flap " << i;
        ++flaps;
    }
    EXPECT_EQ(flaps, 20);

    // Back, whole, with a new client; every descriptor and thread of the old links is gone.
    ASSERT_TRUE(RunningWithClient(client));
    EXPECT_GE(sw.Switch().ConnectionCount(), 21);
    EXPECT_GE(m_wholeDownloads.load(), 11);
    fault_test::ProcessCounts now;
    testsupport::SpinUntil(
        [&] {
            now = fault_test::CountsOf(0);
            return now == start;
        },
        std::chrono::seconds(10));
    EXPECT_EQ(now, start);

    // And the link works: an event reaches the new client.
    ASSERT_TRUE(sw.Switch().SendRecord(fault_test::EventBody(77)));
    EXPECT_TRUE(testsupport::SpinUntil(
        [&] {
            client.Pump();
            return client.EventCount() == 1;
        },
        std::chrono::seconds(10)));
    EXPECT_FALSE(client.Stream().Broken());
}

} // namespace
