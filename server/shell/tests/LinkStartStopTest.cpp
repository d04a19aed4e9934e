#include "ShellFixture.h"

#include <engine/OrbClientConnectionManager.h>
#include <engine/SwitchDeviceTable.h>

#include <algorithm>

using namespace shell_test;

using namespace engine;
using namespace shell;

namespace {

class LinkStartStop : public ShellFixture {};

constexpr std::uint8_t kIAmAlive = 'a';

} // namespace

TEST_F(LinkStartStop, InitialisationFillsTheWindowWithoutStarting) {
    OrbManagerServer& s = MakeServer();
    ASSERT_TRUE(s.OnInitDialog());

    EXPECT_EQ(view.LastStatus(), "ids102");
    EXPECT_EQ(view.clientCountText, "0");
    EXPECT_FALSE(view.enabledControls.at(kIdcUserManager));
    EXPECT_EQ(view.enabledControls.count(kIdcStartStop), 0u) << "sockets are ready";
    EXPECT_EQ(view.logTitles, (std::vector<std::string>{"ids132", "ids133"}));
    EXPECT_EQ(view.clientTitles,
              (std::vector<std::string>{"ids110", "ids111", "ids183", "ids122", "ids317"}));
    EXPECT_EQ(view.connTypeText, "ids128");
    EXPECT_TRUE(view.HasLog(0, "ids105"));
    EXPECT_TRUE(traces.Has("Veltrane Link Started..."));
    EXPECT_TRUE(traces.Has("ids105"));
    EXPECT_TRUE(view.asked.empty());
    EXPECT_TRUE(view.boxes.empty());
    EXPECT_EQ(s.m_nListenPort, listenPort);
    EXPECT_EQ(s.m_nBypassListenPort, listenPort + 500);
    EXPECT_EQ(s.m_bSocketsReady, 1);
    EXPECT_EQ(s.m_strInstallPath, registry.Dir().string());
    EXPECT_EQ(s.m_bLinkRunning, 0);
    EXPECT_EQ(sw.Switch().ConnectionCount(), 0);
    EXPECT_FALSE(s.IsTimerRunning(OrbManagerServer::kLivenessTimer));
}

TEST_F(LinkStartStop, InitialisationWithoutConnectionSettingsFallsBack) {
    CreateKey(kRootKey).DeleteSubKeyTree("ConnEnv");
    SetOption("UseUserManager", 1);
    OrbManagerServer& s = MakeServer();
    ASSERT_TRUE(s.OnInitDialog());
    EXPECT_TRUE(std::count(view.boxes.begin(), view.boxes.end(), 175) == 1);
    EXPECT_TRUE(std::count(view.boxes.begin(), view.boxes.end(), 125) >= 2)
        << "link type and switch type";
    EXPECT_TRUE(view.HasLog(0, "ids175"));
    EXPECT_EQ(s.m_nListenPort, 6000);
    EXPECT_EQ(s.m_nBypassListenPort, 6500);
    EXPECT_EQ(view.connTypeText, "ids126");
    EXPECT_EQ(s.m_nConnType, kConnTypeSim);
    EXPECT_EQ(view.clientTitles, (std::vector<std::string>{"ids110", "ids111", "ids109", "ids183",
                                                           "ids112", "ids122", "ids184"}));
}

TEST_F(LinkStartStop, AutoConnectStartDownloadsAndOpensBothClientPorts) {
    WriteSettings(true);
    OrbManagerServer& s = MakeServer();
    ASSERT_TRUE(s.OnInitDialog());

    ASSERT_TRUE(CompletelyRunning());
    EXPECT_EQ(view.AskedCount(168), 0) << "auto-connect asks nothing";
    EXPECT_EQ(view.waits, 1);
    EXPECT_EQ(sw.Downloads(), 1);
    EXPECT_EQ(s.m_nDownLoadedDeviceCount, 3);
    EXPECT_EQ(s.m_nDeviceCountByType[SwitchDeviceTable::kType1], 3);
    EXPECT_EQ(view.LastStatus(), "ids103");
    EXPECT_EQ(view.startStopText, "ids108");
    EXPECT_TRUE(view.enabledControls.count(kIdcUserManager) &&
                !view.enabledControls.at(kIdcUserManager))
        << "no user manager";
    EXPECT_FALSE(view.waitCursor);

    // The log tells the start in order.
    std::vector<std::string> texts;
    for (const auto& row : view.rows)
        texts.push_back(row.text);
    std::vector<std::string> expected{"ids138", "ids140", "ids141", "ids179", "ids180"};
    auto at = texts.begin();
    for (const std::string& text : expected) {
        at = std::find(at, texts.end(), text);
        ASSERT_NE(at, texts.end()) << text;
    }
    for (const char* line :
         {"Starting the Each Handler!!!", "Starting the Line Handler!!!",
          "Starting the IOQueue Handler!!!", "Starting the Service Controller Handler!!!",
          "Starting the Event Handler!!!", "ids138", "ids140", "ids141", "ids179", "ids180"})
        EXPECT_TRUE(traces.Has(line)) << line;

    // I-am-alive, then the status query of the first line device.
    const auto alive = sw.Switch().WaitForLetter(kIAmAlive, 2000);
    ASSERT_TRUE(alive);
    const auto query = sw.Switch().WaitForLetter('Q', 2000);
    ASSERT_TRUE(query);
    EXPECT_EQ(query->Body(),
              (std::vector<std::uint8_t>{0x02, 'Q', 0xFF, 0xFF, 2, 0, 1, 0xFF, 0x00, 'm'}));

    // Both client ports take connections.
    for (int port : {listenPort, listenPort + 500}) {
        const int fd = ConnectLoopback(port);
        EXPECT_GE(fd, 0) << port;
        if (fd >= 0)
            ::close(fd);
    }

    // The client list shows a client of the first port.
    const int client = ConnectLoopback(listenPort);
    ASSERT_GE(client, 0);
    ASSERT_TRUE(testsupport::SpinUntil([&] { return ClientPortClients() == 1; }));
    const auto rows = s.ClientListRows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], "127.0.0.1");
    EXPECT_EQ(rows[0][2], "") << "no kind yet";
    EXPECT_EQ(rows[0][3], "ids178");
    EXPECT_FALSE(rows[0][4].empty()) << "connect time";
    ::close(client);
}

TEST_F(LinkStartStop, StopSendsTheLinkCloseAndLeavesNothing) {
    OrbManagerServer& s = StartedServer();
    ASSERT_TRUE(CompletelyRunning());
    EXPECT_EQ(view.AskedCount(168), 1);
    const int client = ConnectLoopback(listenPort);
    ASSERT_GE(client, 0);
    ASSERT_TRUE(testsupport::SpinUntil([&] { return ClientPortClients() == 1; }));
    s.m_nRetryCount = 4;

    s.OnStartStop();
    EXPECT_EQ(view.AskedCount(137), 1);
    EXPECT_TRUE(view.cancelDefaults.back()) << "Cancel is the default of box 137";
    ExpectStopped();
    EXPECT_EQ(s.m_nRetryCount, 0);
    EXPECT_EQ(s.m_nFirCheckInterval, 0);
    EXPECT_EQ(s.m_bStartResult, 1);

    // The 'k' is the last record the switch got, and then the link closed.
    ASSERT_TRUE(sw.Switch().WaitForPeerClose(3000));
    const auto records = sw.Switch().Records();
    ASSERT_FALSE(records.empty());
    EXPECT_TRUE(IsLinkClose(records.back()));

    // The client was closed, and neither port listens any more.
    char byte;
    EXPECT_EQ(::recv(client, &byte, 1, 0), 0);
    ::close(client);
    EXPECT_TRUE(PortRefuses(listenPort));
    EXPECT_TRUE(PortRefuses(listenPort + 500));

    EXPECT_EQ(view.LastStatus(), "ids102");
    EXPECT_EQ(view.startStopText, "ids107");
    EXPECT_EQ(view.clientCountText, "0");
    EXPECT_TRUE(view.enabledControls.at(kIdcConnEnv));
    EXPECT_FALSE(view.enabledControls.at(kIdcUserManager));
    EXPECT_TRUE(view.clientRows.empty());
    for (const char* line :
         {"ids150", "ids145", "Close the Client Connection Manager!!!",
          "Close the Bypass Client Connection Manager!!!", "Deleted Service Controller Handle!!!",
          "Deleted EventHandler Handle !!!", "Deleted IOQueue Handle!!!",
          "Deleted LineHandler Handle!!!"})
        EXPECT_TRUE(traces.Has(line)) << line;
    // The stop deletes the socket, unless the switch, once it has the link clear, closed the
    // link first: then the reader has already given the socket up.
    EXPECT_NE(traces.Has("Deleted Socket Handle!!!"),
              traces.Has("Link Fail Event Signaled by ReadSocketThread !!!"))
        << "the socket went exactly one way";
    EXPECT_EQ(traces.CountPart("without deleting"), 0) << "every thread ended in time";

    // And it starts again as before.
    s.OnStartStop();
    EXPECT_TRUE(CompletelyRunning());
    EXPECT_EQ(sw.Downloads(), 2);
}

TEST_F(LinkStartStop, CancelledQuestionsChangeNothing) {
    OrbManagerServer& s = MakeServer();
    ASSERT_TRUE(s.OnInitDialog());
    view.answers[168] = false;
    s.OnStartStop();
    EXPECT_EQ(view.AskedCount(168), 1);
    EXPECT_EQ(s.m_bLinkRunning, 0);
    for (int id : {1, 8, 9, 99})
        EXPECT_FALSE(s.IsTimerRunning(id));
    EXPECT_EQ(s.m_pIOQueue, nullptr);
    testsupport::SpinFor(std::chrono::milliseconds(50));
    EXPECT_EQ(sw.Switch().ConnectionCount(), 0);

    view.answers[168] = true;
    s.OnStartStop();
    ASSERT_TRUE(CompletelyRunning());
    const std::size_t before = sw.Switch().RecordCount();
    view.answers[137] = false;
    s.OnStartStop();
    EXPECT_EQ(view.AskedCount(137), 1);
    EXPECT_TRUE(CompletelyRunning()) << "supervision too";
    EXPECT_NE(s.m_pIOQueue, nullptr);
    EXPECT_FALSE(PortRefuses(listenPort));
    testsupport::SpinFor(std::chrono::milliseconds(50));
    for (const auto& record : sw.Switch().Records())
        EXPECT_FALSE(IsLinkClose(record));
    EXPECT_GE(sw.Switch().RecordCount(), before);
}

TEST_F(LinkStartStop, MissingDeviceListLeavesTheLinkWithoutClientPorts) {
    sw.SetDownloadEnabled(false);
    OrbManagerServer& s = StartedServer();
    EXPECT_EQ(s.m_bLinkRunning, 1);
    EXPECT_GT(view.waitTicks, 240) << "the TCP wait runs to its limit";
    EXPECT_EQ(s.m_pClientManager, nullptr);
    EXPECT_NE(s.m_pIOQueue, nullptr) << "the engine keeps running";
    EXPECT_TRUE(s.IsTimerRunning(OrbManagerServer::kLivenessTimer));
    EXPECT_FALSE(s.IsTimerRunning(OrbManagerServer::kSecondTimer));
    EXPECT_FALSE(s.IsTimerRunning(OrbManagerServer::kRecoveryTimer)) << "only a restart arms it";
    EXPECT_TRUE(view.HasLog(0, "ids143"));
    EXPECT_EQ(view.LastStatus(), "ids142");
    EXPECT_TRUE(traces.Has(
        "[ERROR] Initialization Failed : g_bDeviceListAvailable : FALSE, m_nDownLoadedDeviceCount "
        ": 0"));
    EXPECT_TRUE(PortRefuses(listenPort));

    s.OnStartStop();
    ExpectStopped();
}

TEST_F(LinkStartStop, ClientPortInUseFailsTheStartAndClosesTheOtherPort) {
    // Something else holds the second port.
    const int holder = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<std::uint16_t>(listenPort + 500));
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(holder, 1), 0);

    OrbManagerServer& s = StartedServer();
    EXPECT_EQ(s.m_bLinkRunning, 1);
    EXPECT_EQ(s.m_bStartResult, 0);
    EXPECT_EQ(s.m_pClientManager, nullptr);
    EXPECT_EQ(s.m_pBypassClientManager, nullptr);
    EXPECT_TRUE(view.HasLog(1, "ids207"));
    EXPECT_TRUE(view.HasLog(0, "ids143"));
    EXPECT_TRUE(PortRefuses(listenPort)) << "the first port takes no clients of a failed start";
    EXPECT_FALSE(s.IsTimerRunning(OrbManagerServer::kSecondTimer));
    ::close(holder);
}

TEST_F(LinkStartStop, HeadlessStartsWithoutAutoConnectAndAsksNothing) {
    OrbManagerServer& s = MakeServer();
    s.SetHeadless(true);
    ASSERT_TRUE(s.OnInitDialog());
    EXPECT_TRUE(CompletelyRunning());
    EXPECT_TRUE(view.asked.empty());
}

TEST_F(LinkStartStop, UnreadableTransportArmsTheRecoveryWithTheSafeText) {
    OrbManagerServer& s = MakeServer();
    s.SetResourceLookup(
        [](int id) { return id == 315 ? std::string("%s %n %d%%") : TestText(id); });
    ASSERT_TRUE(s.OnInitDialog());
    s.m_bSocketsReady = 0; // the TCP start then fails before it connects
    s.OnStartStop();
    EXPECT_EQ(s.m_bLinkRunning, 1);
    EXPECT_EQ(s.m_bStartResult, 0);
    EXPECT_EQ(s.m_pIOQueue, nullptr) << "no engine object without a transport";
    EXPECT_TRUE(view.HasLog(1, "ids131 [Switch IP Address - 127.0.0.1, Port No - " +
                                   std::to_string(sw.Port()) + "]"));
    EXPECT_TRUE(view.HasLog(0, "%s %n 1%")) << "only the number is filled in";
    EXPECT_TRUE(s.IsTimerRunning(OrbManagerServer::kRecoveryTimer));
    EXPECT_EQ(s.m_bAutoRecoverTimerOn, 1);
    EXPECT_TRUE(s.IsTimerRunning(OrbManagerServer::kLivenessTimer));
    EXPECT_TRUE(traces.Has("Veltrane Link's Auto Recovery Routine is activated"));
    EXPECT_EQ(view.waits, 0);

    s.OnStartStop();
    ExpectStopped();
}

TEST_F(LinkStartStop, SetupToolAnswerArmsTheLinkCheck) {
    SetConnEnv("SwitchType", 1);
    sw.SetSetupToolInterval(1);
    // The start waits for the answer, not for a time: a loaded machine must not make it late.
    ShellTimings timings = ShortTimings();
    timings.firStartWaitMs = 60000;
    OrbManagerServer& s = MakeServer(timings);
    ASSERT_TRUE(s.OnInitDialog());
    s.OnStartStop();
    ASSERT_TRUE(CompletelyRunning());
    EXPECT_EQ(sw.SetupToolRequests(), 1);
    EXPECT_EQ(s.m_nFirCheckInterval, 1);
    EXPECT_TRUE(s.IsTimerRunning(OrbManagerServer::kFirCheckTimer));
    // The check (parameter 9, code 2) reaches the switch at the interval, twice and more.
    const auto checks = [&] {
        int count = 0;
        for (const auto& record : sw.Switch().Records()) {
            const auto body = record.Body();
            count += body.size() == 19 && body[1] == 'i' && body[10] == 0x02 ? 1 : 0;
        }
        return count;
    };
    EXPECT_TRUE(testsupport::SpinUntil([&] { return checks() >= 2; }));

    s.OnStartStop();
    ExpectStopped();
    EXPECT_EQ(s.m_nFirCheckInterval, 0);
}
