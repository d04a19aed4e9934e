// The whole chain in one process: the switch window's controller listens as the switch, Brovik
// runs headless between them, and the client window's controller logs in on Brovik's client
// port and drives its call cycle on four ports against the simulated switch.

#include <clientsim/ClientRunController.h>
#include <loadrig/tests/SwitchWithServer.h>
#include <switchsim/SimRunController.h>
#include <testsupport/ChildProcess.h>
#include <testsupport/LoopbackPorts.h>
#include <testsupport/ServerSettings.h>
#include <testsupport/TestApp.h>

#include <platform/Registry.h>

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#ifdef BROVIK_PATH

namespace {

constexpr int kPorts = 4;
// The device list after a kind-3 login: no login reply, 8 stations and 8 trunks, then its end.
constexpr int kDeviceListRecords = 17;

// What k whole cycles of make, answer, hold, retrieve and drop on every port bring back from
// the simulated switch, per port: make gives dial tone and offering ('I' 'D'), answer 'S' 'E',
// hold 'H' and the holder's 'N', retrieve 'I' 'R', drop a hook-on for each end ('N' 'N').
struct Expected {
    double dialTone, offering, connected, held, retrieved, hookOn, commands;
    std::uint32_t received, sent;
};
Expected AfterCycles(int k) {
    const double calls = kPorts * k;
    return {2 * calls,
            calls,
            calls,
            calls,
            calls,
            3 * calls,
            calls,
            static_cast<std::uint32_t>(kDeviceListRecords + 10 * calls),
            static_cast<std::uint32_t>(1 + 5 * calls)};
}

// The received total may also hold the answers to the server's own status query, which it sends
// with each keep-alive poll (every 13 s) and which reach every client: a slow run sees a few.
bool Matches(const ClientCounters& c, const Expected& e) {
    return c.dialTone == e.dialTone && c.offering == e.offering && c.connected == e.connected &&
           c.held == e.held && c.retrieved == e.retrieved && c.hookOn == e.hookOn &&
           c.failed == 0 && c.makeCall == e.commands && c.answerCall == e.commands &&
           c.holdCall == e.commands && c.unholdCall == e.commands && c.dropCall == e.commands &&
           c.commandTotal == 5 * e.commands && c.receivedTotal >= e.received &&
           c.receivedTotal <= e.received + 4 && c.sentTotal == e.sent;
}

std::string Describe(const ClientCounters& c) {
    return "I " + std::to_string(c.dialTone) + " D " + std::to_string(c.offering) + " E " +
           std::to_string(c.connected) + " H " + std::to_string(c.held) + " R " +
           std::to_string(c.retrieved) + " N " + std::to_string(c.hookOn) + " F " +
           std::to_string(c.failed) + " make " + std::to_string(c.makeCall) + " drop " +
           std::to_string(c.dropCall) + " received " + std::to_string(c.receivedTotal) + " sent " +
           std::to_string(c.sentTotal);
}

class WholeChain : public SwitchWithServer {
protected:
    // The switch as it first loads (three-digit numbers, stations from 201).
    void BeforeSwitchLoads() override {
        QObject::connect(&m_switch, &SimRunController::logLine, [this](const QString& line) {
            if (line.startsWith(QLatin1String("[Error Report]")))
                m_switchErrors.push_back(line.toStdString());
        });
    }

    // The client as a user sets it up: the server's port, three-digit numbers as the switch
    // has them, 201..204 calling 205..208, answer and hold on, the shortest delays but a long idle
    // wait so that each cycle's events are all in before the next cycle begins.
    void SetUpClient() {
        m_client.Form_Load();
        m_client.ConnIPAddr_Change("127.0.0.1");
        m_client.ConnPortNo_Change(std::to_string(m_clientPort));
        m_client.cmboTelNoSize_Click(0);
        m_client.cmboPortCnt_Click(0);
        m_client.editCallerStartTelNo_Change("201");
        m_client.editCalleeStartTelNo_Change("205");
        m_client.chkConnected_Click(true);
        m_client.chkHoldCall_Click(true);
        m_client.cmboMakeDelaytime_Click(0); // 2 s
        m_client.cmboConnDelay_Click(0);     // 1 s
        m_client.cmboHoldDelay_Click(0);     // 1 s
        m_client.cmboIdleTime_Click(14);     // 60 s
        m_client.SetSecondLength(50);        // room for a loaded machine between the phases
    }

    ClientRunController m_client;
    std::vector<std::string> m_switchErrors;
};

TEST_F(WholeChain, ClientCallCycleRunsThroughTheServerAgainstTheSimulatedSwitch) {
    testsupport::ChildProcess server(BROVIK_PATH, {"--service"});
    ASSERT_TRUE(server.Started());
    ASSERT_TRUE(testsupport::SpinUntil([&] { return !testsupport::PortRefuses(m_clientPort); },
                                       std::chrono::seconds(20)));

    SetUpClient();
    m_client.Start_Click();
    EXPECT_EQ(m_client.Settings().clientKind, 3); // the empty box
    ASSERT_TRUE(
        testsupport::SpinUntil([&] { return m_client.Registered(); }, std::chrono::seconds(10)))
        << m_client.State().txtRecvData.text;
    EXPECT_EQ(m_client.Settings().portCount, kPorts);
    EXPECT_EQ(m_client.Settings().digitCount, 3);
    EXPECT_TRUE(m_client.CallTimerActive());
    EXPECT_EQ(m_client.State().lblStatus.text, "Connected...");

    // Each whole cycle, once its events are in, matches the scenario exactly.
    for (int k = 1; k <= 3; ++k) {
        const Expected expected = AfterCycles(k);
        EXPECT_TRUE(testsupport::SpinUntil(
            [&] {
                return m_client.Cycle().displayPhase == 0 && Matches(m_client.Counters(), expected);
            },
            std::chrono::seconds(20)))
            << "cycle " << k << ": " << Describe(m_client.Counters());
    }
    EXPECT_EQ(m_client.State().editHeldCount.text, "12/12");
    EXPECT_EQ(m_client.State().editFailCount.text, "0");
    EXPECT_TRUE(m_switchErrors.empty()) << m_switchErrors.front();
    EXPECT_GE(m_switch.Trace().totalReceived, 5 * AfterCycles(3).commands);

    // Stopped in the idle wait: nothing is in progress, so nothing more is sent.
    const std::uint32_t sent = m_client.Counters().sentTotal;
    m_client.Disconnect_Click();
    EXPECT_EQ(m_client.Counters().sentTotal, sent);
    EXPECT_FALSE(m_client.Registered());
    EXPECT_FALSE(m_client.CallTimerActive());
    EXPECT_FALSE(m_client.RunTimerActive());
    EXPECT_FALSE(m_client.Socket().IsConnected());
    EXPECT_EQ(m_client.State().lblStatus.text, "Disconnected...");
    EXPECT_TRUE(m_client.State().Start.enabled);

    EXPECT_EQ(server.TerminateWhileSpinning(std::chrono::seconds(20)), std::optional<int>(0));
    EXPECT_TRUE(
        testsupport::SpinUntil([&] { return m_switch.Link().State() == SimLink::StateListening; },
                               std::chrono::seconds(5)));
    m_switch.cmdStop_Click();
    EXPECT_EQ(m_switch.Settings().running, 0);
}

TEST_F(WholeChain, StopWhileHeldRetrievesAndDropsEveryPortBeforeClosing) {
    testsupport::ChildProcess server(BROVIK_PATH, {"--service"});
    ASSERT_TRUE(server.Started());
    ASSERT_TRUE(testsupport::SpinUntil([&] { return !testsupport::PortRefuses(m_clientPort); },
                                       std::chrono::seconds(20)));

    SetUpClient();
    m_client.cmboHoldDelay_Click(9); // 60 s: the calls stay held
    m_client.Start_Click();
    ASSERT_TRUE(testsupport::SpinUntil(
        [&] { return m_client.Cycle().displayPhase == 3 && m_client.Counters().held == kPorts; },
        std::chrono::seconds(20)))
        << Describe(m_client.Counters());
    m_client.Disconnect_Click();
    EXPECT_EQ(m_client.Counters().unholdCall, kPorts);
    EXPECT_EQ(m_client.Counters().dropCall, kPorts);

    // The switch took both: every call retrieved and dropped, the devices idle again.
    EXPECT_TRUE(testsupport::SpinUntil(
        [&] {
            for (int n = 201; n <= 208; ++n) {
                const std::uint16_t index =
                    m_switch.Database().FindDeviceIndex(static_cast<std::int16_t>(n));
                if (index >= m_switch.Database().devices.size() ||
                    m_switch.Database().devices[index].callCount != 0)
                    return false;
            }
            return true;
        },
        std::chrono::seconds(10)));
    EXPECT_TRUE(m_switchErrors.empty()) << m_switchErrors.front();

    EXPECT_EQ(server.TerminateWhileSpinning(std::chrono::seconds(20)), std::optional<int>(0));
    m_switch.cmdStop_Click();
}

} // namespace

#endif
