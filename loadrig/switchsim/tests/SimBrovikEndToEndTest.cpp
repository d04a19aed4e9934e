// The link server against the simulated switch: Brovik, started headless as its service runs,
// links to the switch window's listener, takes the download and opens its client ports.

#include <loadrig/tests/SwitchWithServer.h>
#include <switchsim/SimRunController.h>
#include <testsupport/ChildProcess.h>
#include <testsupport/LoopbackPorts.h>
#include <testsupport/PeerSocket.h>
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

#include <unistd.h>

#ifdef BROVIK_PATH

namespace {

using testsupport::ConnectLoopback;

bool ClientPortsOpen(int port) {
    for (const int each : {port, port + 500}) {
        const int fd = ConnectLoopback(each);
        if (fd < 0)
            return false;
        ::close(fd);
    }
    return true;
}

class SimBrovikEndToEnd : public SwitchWithServer {};

TEST_F(SimBrovikEndToEnd, ServerTakesTheDownloadOpensItsPortsAndClosesTheLinkInOrder) {
    testsupport::ChildProcess server(BROVIK_PATH, {"--service"});
    ASSERT_TRUE(server.Started());

    // The device list request enables Call Run; then the server opens both client ports.
    EXPECT_TRUE(testsupport::SpinUntil([&] { return m_switch.State().callSimEnabled; },
                                       std::chrono::seconds(20)));
    EXPECT_EQ(m_switch.Link().State(), SimLink::StateConnected);
    EXPECT_TRUE(testsupport::SpinUntil([&] { return ClientPortsOpen(m_clientPort); },
                                       std::chrono::seconds(20)));
    // Keep-alive polls are answered without a trace or a count; the link stays up.
    EXPECT_EQ(m_switch.State().panels[2], "PavoLinker : On ");

    // An orderly stop sends the link clear: the switch goes back to listening for the next link.
    EXPECT_EQ(server.TerminateWhileSpinning(std::chrono::seconds(20)), std::optional<int>(0));
    EXPECT_TRUE(
        testsupport::SpinUntil([&] { return m_switch.Link().State() == SimLink::StateListening; },
                               std::chrono::seconds(5)));
    EXPECT_FALSE(m_switch.State().callSimEnabled);
}

// A client of the server's first port: logs in as kind 6 and collects the records it is sent.
class EventClient {
public:
    explicit EventClient(int port) : m_peer(port) {
        const std::uint8_t login[] = {0x02, 'a', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x06, 0x00};
        m_sent = m_peer.Connected() && m_peer.SendRecord(login);
    }
    bool LoggedIn() const { return m_sent; }
    // The first letters of every whole record received so far.
    std::string Letters() {
        m_peer.Pump();
        std::string letters;
        for (const auto& record : m_peer.Records())
            letters.push_back(static_cast<char>(record[2]));
        return letters;
    }

private:
    testsupport::PeerSocket m_peer;
    bool m_sent = false;
};

TEST_F(SimBrovikEndToEnd, ARegisteredClientSeesTheScenarioEvents) {
    testsupport::ChildProcess server(BROVIK_PATH, {"--service"});
    ASSERT_TRUE(server.Started());
    ASSERT_TRUE(testsupport::SpinUntil([&] { return ClientPortsOpen(m_clientPort); },
                                       std::chrono::seconds(20)));
    EventClient client(m_clientPort);
    ASSERT_TRUE(client.LoggedIn());
    // Login reply, the 16 devices and the end of the list.
    ASSERT_TRUE(testsupport::SpinUntil([&] { return client.Letters().size() >= 18; },
                                       std::chrono::seconds(10)));

    // Mode 1 (inbound call, then drop) with one-second phases, on a fast clock.
    m_switch.SetSecondLength(20);
    ASSERT_TRUE(m_switch.State().callSimEnabled);
    m_switch.cmdCallSim_Click();
    ASSERT_NE(m_switch.Settings().callSimRunning, 0);
    std::string events;
    EXPECT_TRUE(testsupport::SpinUntil(
        [&] {
            events = client.Letters().substr(18);
            // The trunk's call offered to the station, then both ends hung up.
            return events.find("DNN") != std::string::npos;
        },
        std::chrono::seconds(15)))
        << events;
    m_switch.cmdCallSim_Click();
    EXPECT_EQ(server.TerminateWhileSpinning(std::chrono::seconds(20)), std::optional<int>(0));
}

} // namespace

#endif
