#include <clientsim/ClientRunController.h>

#include <testsupport/RecordReader.h>
#include <testsupport/TempRegistry.h>
#include <testsupport/TestApp.h>

#include <gtest/gtest.h>

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// The link server's side: a loopback listener whose one connection collects what the client
// sends, cut into frames.
class ClientRunControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::App();
        ASSERT_TRUE(registry.IsReady());
        ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&client, &ClientRunController::message,
                         [this](const ClientMessage& m) { messages.push_back(m); });
        client.Form_Load();
        client.SetSecondLength(1000000); // ticks come from the test only
        client.ConnPortNo_Change(std::to_string(server.serverPort()));
        messages.clear();
    }
    void TearDown() override { client.Disconnect_Click(); }

    // Start and wait for the login to be sent and accepted by the listener.
    void StartAndLogIn() {
        client.Start_Click();
        ASSERT_TRUE(testsupport::SpinUntil([&] { return server.hasPendingConnections(); }));
        peer = server.nextPendingConnection();
        ASSERT_TRUE(testsupport::SpinUntil([&] { return client.Socket().IsConnected(); }));
        ASSERT_TRUE(Collect(1));
        ASSERT_EQ(frames[0].size(), 17u);
        ASSERT_EQ(frames[0][3], 'a');
        frames.clear();
    }

    void Deliver(const Bytes& bytes) {
        peer->write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
        peer->flush();
    }

    // Waits until `count` whole frames have come in since the last clear.
    bool Collect(std::size_t count) {
        return testsupport::SpinUntil([&] {
            if (peer != nullptr) {
                const QByteArray data = peer->readAll();
                reader.Feed(reinterpret_cast<const std::uint8_t*>(data.constData()),
                            static_cast<std::size_t>(data.size()));
            }
            return frames.size() >= count;
        });
    }

    // Ticks of the call timer and the request letters each one sent.
    std::string TickLetters() {
        const std::size_t before = client.Counters().sentTotal;
        client.CallTimer_Timer();
        const std::size_t sent = client.Counters().sentTotal - before;
        if (sent == 0) {
            return "-";
        }
        EXPECT_TRUE(Collect(sent));
        std::string letters;
        for (const Bytes& frame : frames) {
            letters += static_cast<char>(frame[3]);
        }
        last = frames;
        frames.clear();
        return letters;
    }

    testsupport::TempRegistry registry;
    QTcpServer server;
    QTcpSocket* peer = nullptr;
    ClientRunController client;
    std::vector<ClientMessage> messages;
    std::vector<Bytes> frames;
    testsupport::RecordReader reader{[this](const protocol::CtiRecord& record) {
        frames.emplace_back(record.Frame().begin(), record.Frame().end());
    }};
    std::vector<Bytes> last;
};

const Bytes kListEnd = {0x00, 0x0A, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
const Bytes kDeviceRecord = {0x00, 0x0A, 0x41, 0x00, 0x01, 0x02,
                             0x00, 0x01, 0xFF, 0x00, 0x02, 0x00};

TEST_F(ClientRunControllerTest, LoadShowsTheStoredSettingsAndTheCreationOnce) {
    ClientRunController fresh;
    std::vector<ClientMessage> shown;
    QObject::connect(&fresh, &ClientRunController::message,
                     [&](const ClientMessage& m) { shown.push_back(m); });
    fresh.Form_Load();
    EXPECT_TRUE(shown.empty()); // the fixture's load created the key already
    const ClientWindowState& s = fresh.State();
    EXPECT_EQ(s.ConnIPAddr.text, "127.0.0.1");
    EXPECT_EQ(s.ConnPortNo.text, "6000");
    EXPECT_EQ(s.editCallerStartTelNo.text, "201");
    EXPECT_EQ(s.editCalleeStartTelNo.maxLength, 3);
    EXPECT_FALSE(s.chkConnected.checked);
    EXPECT_FALSE(s.cmboConnDelay.enabled);
    EXPECT_TRUE(s.chkMakeCall.checked);
    EXPECT_FALSE(s.chkMakeCall.enabled);
    EXPECT_EQ(s.cmboHoldDelay.index, 3);
    EXPECT_TRUE(s.Start.enabled);
    EXPECT_FALSE(s.Disconnect.enabled);
    EXPECT_EQ(s.lblStatus.text, "Disconnected");

    ::setenv("QORVELL_REGISTRY", (registry.Dir() / "other.reg").c_str(), 1);
    fresh.Form_Load();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].title, "QMX Load Rig");
    EXPECT_EQ(shown[0].text, "Created HKEY_LOCAL_MACHINE\\SOFTWARE\\Qorvell Electronics\\loadrig");
}

// A run without a screen learns it from standard error; the box says the same.
TEST_F(ClientRunControllerTest, ALoadThatFailsIsToldAsOneWithTheFileAndTheCause) {
    ClientRunController fresh;
    std::vector<ClientMessage> shown;
    QObject::connect(&fresh, &ClientRunController::message,
                     [&](const ClientMessage& m) { shown.push_back(m); });
    const auto load = [&] {
        shown.clear();
        testing::internal::CaptureStderr();
        fresh.Form_Load();
        return testing::internal::GetCapturedStderr();
    };
    const std::string prefix = "loadrig client: The settings could not be read; the defaults "
                               "are used: ";

    // No key can be made: a folder stands where the lock file goes (which holds for root too).
    const std::string blocked = (registry.Dir() / "blocked.reg").string();
    std::filesystem::create_directory(blocked + ".lock");
    ::setenv("QORVELL_REGISTRY", blocked.c_str(), 1);
    std::string told = load();
    EXPECT_EQ(told.rfind(prefix, 0), 0u) << told;
    EXPECT_NE(told.find(blocked + ".lock: Is a directory"), std::string::npos) << told;
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].text.find(blocked + ".lock: Is a directory"), std::string::npos);

    const std::string broken = (registry.Dir() / "broken.reg").string();
    std::ofstream(broken) << "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\r\n";
    ::setenv("QORVELL_REGISTRY", broken.c_str(), 1);
    told = load();
    EXPECT_EQ(told.rfind(prefix + broken + ":2: ", 0), 0u) << told;
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].text.find("Registry file: " + broken + ":2: "), std::string::npos)
        << shown[0].text;
    ::setenv("QORVELL_REGISTRY", registry.File().c_str(), 1);
}

TEST_F(ClientRunControllerTest, QuitSavesIndexesAndFlags) {
    client.chkConnected_Click(true);
    client.cmboConnDelay_Click(7);
    client.cmboTelNoSize_Click(1);
    client.editCallerStartTelNo_Change("2001");
    bool quit = false;
    QObject::connect(&client, &ClientRunController::quitRequested, [&] { quit = true; });
    client.cmdQuit_Click();
    EXPECT_TRUE(quit);
    ClientRunSettings stored;
    LoadClientSettings(stored);
    EXPECT_TRUE(stored.answerFlag);
    EXPECT_EQ(stored.connDelayIndex, 7);
    EXPECT_EQ(stored.telSizeIndex, 1);
    EXPECT_EQ(stored.callerStartText, "2001");
    EXPECT_EQ(stored.serverPort, server.serverPort());
}

TEST_F(ClientRunControllerTest, ControlHandlersAndTheirMessages) {
    client.editTimePeriod_Change("300");
    client.editTimePeriod_LostFocus();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Input value is too big.");
    EXPECT_EQ(client.State().editTimePeriod.text, "288");
    EXPECT_EQ(client.Settings().periodHours, 288);

    messages.clear();
    client.editCalleeStartTelNo_Change("20");
    EXPECT_TRUE(messages.empty());
    client.editCalleeStartTelNo_LostFocus();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "This value's size must be 3");
    EXPECT_EQ(client.State().editCalleeStartTelNo.text, "20");

    messages.clear();
    client.editCallerStartTelNo_Change("2a");
    client.editCalleeStartTelNo_Change("");
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].text, "This value must be a numeric value.");
    EXPECT_EQ(messages[1].text, "This value must be a numeric value");
    EXPECT_EQ(messages[1].title, "Load Rig");

    client.chkFreeDial_Click(true);
    EXPECT_TRUE(client.State().txtFreeDialNo.enabled);
    EXPECT_FALSE(client.State().editCalleeStartTelNo.enabled);
    EXPECT_FALSE(client.State().chkConnected.enabled);
    EXPECT_FALSE(client.State().chkHoldCall.enabled);
    client.chkFreeDial_Click(false);
    EXPECT_FALSE(client.State().txtFreeDialNo.enabled);
    EXPECT_TRUE(client.State().editCalleeStartTelNo.enabled);

    client.cmboTelNoSize_Click(1);
    EXPECT_EQ(client.State().editCallerStartTelNo.maxLength, 4);
}

TEST_F(ClientRunControllerTest, LoginThenTheCycleWaitsForTheDeviceListsEnd) {
    client.Start_Click();
    EXPECT_FALSE(client.State().Start.enabled);
    EXPECT_TRUE(client.State().Disconnect.enabled);
    EXPECT_FALSE(client.State().ConnIPAddr.enabled);
    ASSERT_TRUE(testsupport::SpinUntil([&] { return server.hasPendingConnections(); }));
    peer = server.nextPendingConnection();
    ASSERT_TRUE(Collect(1));
    // An empty client kind box logs in as kind 3.
    EXPECT_EQ(frames[0], (Bytes{0x00, 0x0F, 0x02, 0x61, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x03,
                                0x01, 0x08, 0x03, 0x02, 0x01, 0x01}));
    EXPECT_TRUE(client.RunTimerActive());
    EXPECT_FALSE(client.State().cmdReset.enabled);
    EXPECT_EQ(client.State().lblStatus.text, "Connected...");
    EXPECT_EQ(client.Counters().sentTotal, 1u);
    EXPECT_NE(client.State().txtRecvData.text.find("[Sent Event] 00 0F 02 'a' FF"),
              std::string::npos);

    Deliver(kDeviceRecord);
    Deliver(kDeviceRecord);
    ASSERT_TRUE(testsupport::SpinUntil([&] { return client.Counters().receivedTotal == 2; }));
    EXPECT_FALSE(client.Registered());
    EXPECT_FALSE(client.CallTimerActive());

    Deliver(kListEnd);
    ASSERT_TRUE(testsupport::SpinUntil([&] { return client.Registered(); }));
    EXPECT_TRUE(client.CallTimerActive());
}

TEST_F(ClientRunControllerTest, ClientKindIsSentAsItsByte) {
    client.txtClientKind_Change("7");
    client.Start_Click();
    ASSERT_TRUE(testsupport::SpinUntil([&] { return server.hasPendingConnections(); }));
    peer = server.nextPendingConnection();
    ASSERT_TRUE(Collect(1));
    EXPECT_EQ(frames[0][10], 7);
}

TEST_F(ClientRunControllerTest, NoServerReturnsToStopped) {
    const quint16 port = server.serverPort();
    server.close();
    client.SetConnectTimeout(3000);
    client.ConnPortNo_Change(std::to_string(port));
    client.Start_Click();
    ASSERT_TRUE(testsupport::SpinUntil([&] { return !client.Connecting(); }));
    EXPECT_TRUE(client.State().Start.enabled);
    EXPECT_FALSE(client.State().Disconnect.enabled);
    EXPECT_EQ(client.State().lblStatus.text, "Disconnected...");
    EXPECT_FALSE(client.RunTimerActive());
    EXPECT_EQ(client.Counters().sentTotal, 0u);
}

TEST_F(ClientRunControllerTest, ConnectionWaitIsBounded) {
    // A listener that never accepts still completes the TCP handshake, so wait on an address
    // that does not answer instead: the attempt must end by itself.
    client.ConnIPAddr_Change("10.255.255.1");
    client.SetConnectTimeout(200);
    client.Start_Click();
    EXPECT_TRUE(client.Connecting() || client.State().Start.enabled);
    ASSERT_TRUE(testsupport::SpinUntil([&] { return !client.Connecting(); }));
    EXPECT_TRUE(client.State().Start.enabled);
    EXPECT_EQ(client.Counters().sentTotal, 0u);
}

TEST_F(ClientRunControllerTest, StartChecksItsInputsBeforeAnything) {
    auto refused = [&](const char* what) {
        messages.clear();
        client.Start_Click();
        EXPECT_EQ(messages.size(), 1u) << what;
        EXPECT_TRUE(client.State().Start.enabled) << what;
        EXPECT_FALSE(client.Connecting()) << what;
    };
    client.ConnPortNo_Change("0");
    refused("port 0");
    client.ConnPortNo_Change("65536");
    refused("port 65536");
    client.ConnPortNo_Change(std::to_string(server.serverPort()));
    client.txtClientKind_Change("256");
    refused("kind 256");
    client.txtClientKind_Change("x");
    refused("kind x");
    client.txtClientKind_Change("");

    client.cmboPortCnt_Click(1); // 8 ports
    client.editCallerStartTelNo_Change("992");
    refused("992 + 8 ports in 3 digits");
    client.editCallerStartTelNo_Change("-1");
    refused("negative caller");
    client.editCallerStartTelNo_Change("991");
    client.editCalleeStartTelNo_Change("995");
    refused("callee 995 + 8 ports");
    client.editCalleeStartTelNo_Change("205");

    client.chkFreeDial_Click(true);
    client.txtFreeDialNo_Change("12-3");
    refused("free dial 12-3");
    client.txtFreeDialNo_Change(std::string(18, '1'));
    refused("free dial of 18 with 3 digits");
    client.txtFreeDialNo_Change("");
    refused("empty free dial");
    EXPECT_FALSE(server.hasPendingConnections());

    // The callee does not matter in free dial; 991 plus 8 fits.
    client.txtFreeDialNo_Change("9*#");
    client.editCalleeStartTelNo_Change("999");
    messages.clear();
    client.Start_Click();
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(client.State().Start.enabled);
}

TEST_F(ClientRunControllerTest, CyclePhasesWithAnswerAndHold) {
    client.cmboPortCnt_Click(0); // 4 ports
    client.chkConnected_Click(true);
    client.chkHoldCall_Click(true);
    client.cmboMakeDelaytime_Click(0); // 2 s
    client.cmboConnDelay_Click(0);     // 1 s
    client.cmboHoldDelay_Click(0);     // 1 s
    client.cmboIdleTime_Click(0);      // 1 s
    StartAndLogIn();

    const std::vector<std::string> expected = {"DDDD", "-", "-",    "FFFF", "-", "HHHH", "-",
                                               "RRRR", "-", "NNNN", "-",    "-", "DDDD"};
    for (std::size_t tick = 0; tick < expected.size(); ++tick) {
        EXPECT_EQ(TickLetters(), expected[tick]) << "tick " << tick + 1;
        if (tick == 3) {
            // Answer puts the callee first: 205 with 201 ... 208 with 204.
            EXPECT_EQ(last[0], protocol::ClientRequestFrames::AnswerCallRequest(205, 201, 3));
            EXPECT_EQ(last[3], protocol::ClientRequestFrames::AnswerCallRequest(208, 204, 3));
            EXPECT_EQ(client.Cycle().displayPhase, 2);
            EXPECT_EQ(client.State().editConnTime.text, "1");
        }
        if (tick == 5) {
            EXPECT_EQ(last[1], protocol::ClientRequestFrames::HoldCallRequest(202, 206, 3));
            EXPECT_EQ(client.State().editHoldTime.text, "1");
        }
        if (tick == 9) {
            EXPECT_EQ(last[2], protocol::ClientRequestFrames::DropCallRequest(203, 3));
            EXPECT_EQ(client.Cycle().displayPhase, 0);
        }
    }
    EXPECT_EQ(last[0], protocol::ClientRequestFrames::MakeCallRequest(201, 205, 3));
    EXPECT_EQ(client.Counters().makeCall, 8);
    EXPECT_EQ(client.Counters().answerCall, 4);
    EXPECT_EQ(client.Counters().commandTotal, 24);
    EXPECT_EQ(client.State().editCmdTotalCount.text, "24");
    EXPECT_EQ(client.State().DataSendCnt.text, "25"); // with the login
}

TEST_F(ClientRunControllerTest, CycleWithoutAnswerMakesAndDrops) {
    client.cmboPortCnt_Click(0);
    client.cmboMakeDelaytime_Click(0); // 2 s
    client.cmboIdleTime_Click(1);      // 2 s
    StartAndLogIn();
    const std::vector<std::string> expected = {"DDDD", "-", "-", "NNNN", "-", "-", "-", "DDDD"};
    for (std::size_t tick = 0; tick < expected.size(); ++tick) {
        EXPECT_EQ(TickLetters(), expected[tick]) << "tick " << tick + 1;
    }
    EXPECT_EQ(client.State().editRingTime.text, "2");
}

TEST_F(ClientRunControllerTest, FreeDialCallsAreMadeAndDroppedOnly) {
    client.cmboPortCnt_Click(0);
    client.chkConnected_Click(true);
    client.chkFreeDial_Click(true);
    client.txtFreeDialNo_Change("9*#");
    client.cmboMakeDelaytime_Click(0);
    StartAndLogIn();
    EXPECT_EQ(TickLetters(), "DDDD");
    EXPECT_EQ(last[2], protocol::ClientRequestFrames::MakeCallFreeDialRequest(203, "9*#", 3));
    EXPECT_EQ(TickLetters(), "-");
    EXPECT_EQ(TickLetters(), "-");
    EXPECT_EQ(TickLetters(), "NNNN");
}

TEST_F(ClientRunControllerTest, StopWhileHeldRetrievesThenDropsEveryPort) {
    client.cmboPortCnt_Click(0);
    client.chkConnected_Click(true);
    client.chkHoldCall_Click(true);
    client.cmboMakeDelaytime_Click(0);
    client.cmboConnDelay_Click(0);
    StartAndLogIn();
    for (int i = 0; i < 6; ++i) {
        TickLetters();
    }
    ASSERT_EQ(client.Cycle().displayPhase, 3);

    client.Disconnect_Click();
    ASSERT_TRUE(Collect(8));
    std::string letters;
    for (const Bytes& frame : frames) {
        letters += static_cast<char>(frame[3]);
    }
    EXPECT_EQ(letters, "RRRRNNNN");
    EXPECT_EQ(frames[7], protocol::ClientRequestFrames::DropCallRequest(204, 3));
    EXPECT_EQ(client.Cycle().nextAction, ClientCallCycle::Make);
    EXPECT_EQ(client.State().lblStatus.text, "Disconnected...");
    EXPECT_TRUE(client.State().Start.enabled);
    EXPECT_TRUE(client.State().cmboConnDelay.enabled);
    EXPECT_FALSE(client.CallTimerActive());
    EXPECT_FALSE(client.RunTimerActive());
    EXPECT_TRUE(testsupport::SpinUntil(
        [&] { return peer->state() != QAbstractSocket::ConnectedState || peer->atEnd(); }));
}

// Events the client has not read yet when it stops: its close must not reset the connection,
// or the server, which asks for the peer's address at every receive, rejects the unread drops.
TEST_F(ClientRunControllerTest, StopOverUnreadEventsLeavesTheServerItsRequests) {
    client.cmboPortCnt_Click(0);
    StartAndLogIn();
    Deliver(Bytes(4096, 0xFF)); // on loopback in the client's buffer once written
    client.Disconnect_Click();
    const int fd = static_cast<int>(peer->socketDescriptor());
    sockaddr_in address{};
    socklen_t length = sizeof address;
    EXPECT_EQ(::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length), 0)
        << std::strerror(errno);
    // The server's close ends it, and the client's end goes with it.
    peer->disconnectFromHost();
    EXPECT_TRUE(testsupport::SpinUntil(
        [&] { return client.Socket().findChildren<QTcpSocket*>().empty(); }));
}

TEST_F(ClientRunControllerTest, RequestsWhileTheServerIsGoneAreDropped) {
    client.cmboPortCnt_Click(0);
    StartAndLogIn();
    peer->disconnectFromHost();
    ASSERT_TRUE(testsupport::SpinUntil([&] { return !client.Socket().IsConnected(); }));
    EXPECT_TRUE(client.RunTimerActive()); // the run goes on
    client.CallTimer_Timer();
    EXPECT_EQ(client.Counters().makeCall, 0);
    EXPECT_EQ(client.Counters().sentTotal, 1u);
    EXPECT_EQ(client.Cycle().displayPhase, 1);
}

TEST_F(ClientRunControllerTest, RunClockEndsTheRunAfterThePeriod) {
    StartAndLogIn();
    EXPECT_EQ(client.State().editElapsedTime.text, "00 : 00 : 00");
    for (int i = 0; i < 3599; ++i) {
        client.MyTimer_Timer();
    }
    EXPECT_EQ(client.State().editElapsedTime.text, "00 : 59 : 59");
    EXPECT_TRUE(client.RunTimerActive());
    client.MyTimer_Timer();
    EXPECT_EQ(client.State().editElapsedTime.text, "01 : 00 : 00");
    EXPECT_FALSE(client.RunTimerActive());
    EXPECT_TRUE(client.State().Start.enabled);
}

TEST_F(ClientRunControllerTest, StartAndEndTimesFollowTheClock) {
    const QDateTime at(QDate(2024, 3, 5), QTime(10, 0, 0));
    client.SetClock([at] { return at; });
    client.editTimePeriod_Change("2");
    StartAndLogIn();
    EXPECT_EQ(client.StartTime(), at);
    EXPECT_NE(client.State().editStartTime.text.find("10:00:00"), std::string::npos);
    EXPECT_NE(client.State().editEndTime.text.find("12:00:00"), std::string::npos);
}

TEST(ClientElapsedTextTest, Fields) {
    EXPECT_EQ(ClientRunController::ElapsedText(0), "00 : 00 : 00");
    EXPECT_EQ(ClientRunController::ElapsedText(3661), "01 : 01 : 01");
    EXPECT_EQ(ClientRunController::ElapsedText(288.0 * 3600 + 59), "288 : 00 : 59");
}

} // namespace
