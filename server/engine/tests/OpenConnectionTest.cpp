#include "LogHooksFake.h"
#include "PtySwitch.h"
#include "TraceCapture.h"
#include <engine/LinkState.h>
#include <engine/OrbIOQueue.h>
#include <engine/OrbManagerDlg.h>
#include <engine/OrbSocket.h>
#include <engine/SerialPort.h>
#include <testsupport/LoopbackPorts.h>
#include <testsupport/RegistryKeys.h>
#include <testsupport/TestApp.h>
#include <testsupport/TestSwitch.h>

#include <platform/Registry.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

using namespace engine;

using testsupport::TestSwitch;

namespace {

using platform::RegKey;
using platform::RegStatus;

constexpr const char kConnEnv[] = "Software\\Qorvell Electronics\\OrbManager\\ConnEnv";

class OpenConnection : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::App();
        dlg.SetShellHooks(&hooks);
        dlg.SetResourceLookup([](int id) { return "ids" + std::to_string(id); });
        dlg.m_timings.connectTimeoutMs = 2000;
        dlg.m_timings.closeDrainMs = 1000;
    }
    void TearDown() override {
        if (HasFailure())
            std::fprintf(stderr, "trace:\n%s", traces.All().c_str());
        dlg.DeleteLinkHandle();
        dlg.SetShellHooks(nullptr);
        ResetLinkState();
    }

    // A complete set of connection settings.
    static RegKey WriteConnEnv(const std::string& address, int port, int commPort = 1) {
        RegKey key = testsupport::CreateKey(kConnEnv);
        key.SetString("IP Address", address);
        key.SetDword("Port No", static_cast<std::uint32_t>(port));
        key.SetDword("Listen Port No", 6100);
        key.SetDword("CommPort", static_cast<std::uint32_t>(commPort));
        key.SetDword("BaudRate", 19200);
        key.SetDword("ByteSize", 8); // a pty keeps no other size
        key.SetDword("StopBits", 3);
        key.SetString("SysInfo Password", "4711");
        return key;
    }

    PtySwitch::TempRegistry registry;
    TraceCapture traces;
    LogHooksFake hooks;
    COrbManagerDlg dlg;
};

} // namespace

TEST_F(OpenConnection, MissingKeyOrSettingLogsAndFails) {
    dlg.m_nConnType = kConnTypeTcp;
    dlg.m_bSocketsReady = 1;
    dlg.m_nDownLoadedDeviceCount = 7;
    dlg.m_nDeviceCountByType[3] = 2;
    EXPECT_EQ(dlg.OpenConnection(), 0);
    EXPECT_EQ(hooks.Last(), "1:ids125");
    EXPECT_TRUE(traces.Has("COrbManagerDlg::OpenConnection() --> Registry Open Error!!!!"));
    EXPECT_EQ(dlg.m_nDownLoadedDeviceCount, 0);
    EXPECT_EQ(dlg.m_nDeviceCountByType[3], 0);

    const std::vector<std::pair<std::string, std::string>> settings{
        {"IP Address", "IP Address Read Error"},
        {"Port No", "PortNo Read Error"},
        {"Listen Port No", "Listen Port No Read Error"},
        {"CommPort", "COM Port Read Error"},
        {"BaudRate", "BAUD Rate Read Error"},
        {"ByteSize", "Byte Size Read Error"},
        {"StopBits", "Stop Bits Read Error"}};
    for (const auto& [name, trace] : settings) {
        RegKey key = WriteConnEnv("127.0.0.1", 5002);
        key.DeleteValue(name);
        hooks.Clear();
        EXPECT_EQ(dlg.OpenConnection(), 0) << name;
        EXPECT_EQ(hooks.Lines(), std::vector<std::string>{"1:ids125"}) << name;
        EXPECT_TRUE(traces.Has("COrbManagerDlg::OpenConnection() --> " + trace + "!!!!")) << name;
    }
    EXPECT_EQ(g_pSwitchSocket.load(), nullptr);

    // A number stored as text cannot be read as one; an address longer than its buffer neither.
    RegKey key = WriteConnEnv("127.0.0.1", 5002);
    key.SetString("BaudRate", "9600");
    EXPECT_EQ(dlg.OpenConnection(), 0);
    EXPECT_EQ(dlg.m_nListenPort, 6100) << "the listen ports are taken as soon as they are read";
    EXPECT_EQ(dlg.m_nBypassListenPort, 6600);
    WriteConnEnv(std::string(513, 'h'), 5002);
    EXPECT_EQ(dlg.OpenConnection(), 0);
    EXPECT_TRUE(traces.Has("COrbManagerDlg::OpenConnection() --> IP Address Read Error!!!!"));
}

TEST_F(OpenConnection, PortOutsideItsRangeIsAnUnreadableSetting) {
    dlg.m_nConnType = kConnTypeTcp;
    dlg.m_bSocketsReady = 0; // a port that passes ends the open right after the settings
    const std::vector<std::pair<std::uint32_t, bool>> switchPorts{
        {0, false}, {1, true}, {65535, true}, {65536, false}, {0xFFFFFFFFu, false}};
    for (const auto& [port, usable] : switchPorts) {
        RegKey key = WriteConnEnv("127.0.0.1", 5002);
        key.SetDword("Port No", port);
        traces.Clear();
        EXPECT_EQ(dlg.OpenConnection(), 0) << port;
        EXPECT_EQ(traces.Has("COrbManagerDlg::OpenConnection() --> PortNo Read Error!!!!"), !usable)
            << port;
    }

    const std::vector<std::pair<std::uint32_t, bool>> listenPorts{
        {0, false}, {1, true}, {65035, true}, {65036, false}, {70000, false}};
    for (const auto& [port, usable] : listenPorts) {
        dlg.m_nListenPort = 4321;
        dlg.m_nBypassListenPort = 4821;
        RegKey key = WriteConnEnv("127.0.0.1", 5002);
        key.SetDword("Listen Port No", port);
        traces.Clear();
        hooks.Clear();
        EXPECT_EQ(dlg.OpenConnection(), 0) << port;
        EXPECT_EQ(traces.Has("COrbManagerDlg::OpenConnection() --> Listen Port No Read Error!!!!"),
                  !usable)
            << port;
        if (usable) {
            EXPECT_EQ(dlg.m_nListenPort, static_cast<int>(port));
            EXPECT_EQ(dlg.m_nBypassListenPort, static_cast<int>(port) + 500);
        } else {
            EXPECT_EQ(hooks.Lines(), std::vector<std::string>{"1:ids125"}) << port;
            EXPECT_EQ(dlg.m_nListenPort, 4321) << "an unusable port is not taken";
            EXPECT_EQ(dlg.m_nBypassListenPort, 4821);
        }
    }
}

TEST_F(OpenConnection, PasswordMissingOrTooLongReadsTheDefault) {
    dlg.m_nConnType = kConnTypeTcp;
    dlg.m_bSocketsReady = 0; // ends the open right after the settings
    RegKey key = WriteConnEnv("127.0.0.1", 5002);
    EXPECT_EQ(dlg.OpenConnection(), 0);
    EXPECT_EQ(dlg.m_strSysInfoPassword, "4711");
    EXPECT_EQ(hooks.Last(), "1:ids131 [Switch IP Address - 127.0.0.1, Port No - 5002]");

    key.DeleteValue("SysInfo Password");
    EXPECT_EQ(dlg.OpenConnection(), 0);
    EXPECT_EQ(dlg.m_strSysInfoPassword, "8062");
    key.SetString("SysInfo Password", "12345678");
    EXPECT_EQ(dlg.OpenConnection(), 0);
    EXPECT_EQ(dlg.m_strSysInfoPassword, "12345678");
    key.SetString("SysInfo Password", "123456789");
    EXPECT_EQ(dlg.OpenConnection(), 0);
    EXPECT_EQ(dlg.m_strSysInfoPassword, "8062");
    std::string stored;
    EXPECT_EQ(key.QueryString("SysInfo Password", stored), RegStatus::Ok);
    EXPECT_EQ(stored, "123456789") << "nothing is written back here";
}

TEST_F(OpenConnection, TcpOpenToTheSwitchStoresAddressAndPort) {
    TestSwitch sw;
    ASSERT_TRUE(sw.IsListening());
    WriteConnEnv(sw.Host(), sw.Port());
    dlg.m_nConnType = kConnTypeTcp;
    dlg.m_bSocketsReady = 1;

    EXPECT_EQ(dlg.OpenConnection(), 1);
    ASSERT_NE(g_pSwitchSocket.load(), nullptr);
    EXPECT_TRUE(sw.WaitForConnection(2000));
    EXPECT_EQ(dlg.m_strSwitchIPAddress, "127.0.0.1");
    EXPECT_EQ(dlg.m_nSwitchPort, sw.Port());
    EXPECT_EQ(dlg.m_nListenPort, 6100);
    EXPECT_EQ(dlg.m_nBypassListenPort, 6600);
    EXPECT_EQ(hooks.Last(), "0:ids134 [Switch IP Address - 127.0.0.1, Port No - " +
                                std::to_string(sw.Port()) + "]");

    dlg.DeleteLinkHandle();
    EXPECT_EQ(g_pSwitchSocket.load(), nullptr);
    EXPECT_TRUE(traces.Has("Deleted Socket Handle!!!"));
    EXPECT_TRUE(sw.WaitForPeerClose(2000));
}

TEST_F(OpenConnection, RefusedConnectFailsWithTheLoggedText) {
    // Claimed for this process and never listened on: no other test's switch can take it.
    const int port = testsupport::FreeListenPortPair();
    ASSERT_GT(port, 0);
    WriteConnEnv("127.0.0.1", port);
    dlg.m_nConnType = kConnTypeTcp;
    dlg.m_bSocketsReady = 1;
    EXPECT_EQ(dlg.OpenConnection(), 0);
    EXPECT_EQ(g_pSwitchSocket.load(), nullptr);
    const std::string text =
        "ids130[Switch IP Address - 127.0.0.1, Port No - " + std::to_string(port) + "]";
    EXPECT_EQ(hooks.Last(), "1:" + text);
    EXPECT_TRUE(traces.Has("[USER LOG] " + text));
    EXPECT_EQ(dlg.m_strSwitchIPAddress, "1.1.1.1") << "only a link that opened is stored";
}

TEST_F(OpenConnection, LinkCloseReachesTheSwitchBeforeTheSocketGoes) {
    TestSwitch sw;
    WriteConnEnv(sw.Host(), sw.Port());
    dlg.m_nConnType = kConnTypeTcp;
    dlg.m_bSocketsReady = 1;
    ASSERT_EQ(dlg.OpenConnection(), 1);
    auto queue = std::make_unique<COrbIOQueue>(&dlg);
    dlg.m_pIOQueue = queue.get();
    queue->IOQueueStartThreads();
    g_bSwitchLinkUp = 1;
    g_hLinkAvailableEvent.Set();
    // The close request does not wait behind a backlog: what has not left yet is dropped, with
    // its count in the trace, and nothing else is lost.
    const std::vector<std::uint8_t> request{0x02, 'D', 0xFF, 0xFF, 2, 0, 1, 0xFF, 0x00};
    for (int i = 0; i < 200; ++i)
        queue->IOQueueWrite(request.data(), static_cast<int>(request.size()));

    dlg.SendLinkClose();
    dlg.DeleteLinkHandle();
    EXPECT_EQ(g_pSwitchSocket.load(), nullptr);
    EXPECT_TRUE(traces.Has("Deleted Socket Handle!!!"));

    ASSERT_TRUE(sw.WaitForPeerClose(3000));
    const std::vector<TestSwitch::Record> records = sw.Records();
    ASSERT_GE(records.size(), 1u);
    ASSERT_LE(records.size(), 201u);
    std::size_t dropped = 0;
    for (const std::string& text : traces.Texts())
        if (text.starts_with("[ERROR] The link is stopping: "))
            dropped = std::stoul(text.substr(30));
    EXPECT_EQ(records.size() - 1 + dropped, 200u);
    EXPECT_EQ(records.back().bytes, (std::vector<std::uint8_t>{0x00, 0x09, 0x02, 0x6B, 0xFF, 0xFF,
                                                               0xFF, 0xFF, 0xFF, 0xFF, 0x00}));
    // The retired socket lives on in the queue until its threads are gone.
    queue->IOQueueClose();
    EXPECT_TRUE(queue->JoinThreads());
    dlg.m_pIOQueue = nullptr;
    queue.reset();
}

TEST_F(OpenConnection, SerialOpenSetsUpThePortAndTheStopReleasesIt) {
    PtySwitch sw;
    ASSERT_TRUE(sw.MapAsComPort(2));
    WriteConnEnv("127.0.0.1", 5002, 2);
    dlg.m_nConnType = kConnTypeDirectSerial;

    EXPECT_EQ(dlg.OpenConnection(), 1);
    ASSERT_NE(dlg.m_pSerialPort, nullptr);
    EXPECT_TRUE(dlg.m_pSerialPort->IsOpen());
    EXPECT_EQ(hooks.Last(), "0:ids136 [COM2]");
    EXPECT_EQ(dlg.m_nCommPort, 2);
    EXPECT_EQ(dlg.m_nBaudRate, 19200);
    EXPECT_EQ(dlg.m_nByteSize, 8);
    EXPECT_EQ(dlg.m_nStopBits, 3);

    dlg.SendLinkClose();
    EXPECT_TRUE(sw.Expect({0x02, 0x19, 0x05}, 2000));
    dlg.DeleteLinkHandle();
    EXPECT_EQ(dlg.m_pSerialPort, nullptr);
    EXPECT_TRUE(traces.Has("Deleted COM Handle!!!"));
}

TEST_F(OpenConnection, SerialPortThatCannotBeOpenedOrSetFails) {
    RegKey map;
    ASSERT_EQ(
        RegKey::Create(platform::RegRoot::LocalMachine, "HARDWARE\\DEVICEMAP\\SERIALCOMM", map),
        RegStatus::Ok);
    map.SetString("/nonexistent/ttyQ9", "COM3");
    WriteConnEnv("127.0.0.1", 5002, 3);
    dlg.m_nConnType = kConnTypeSim;
    EXPECT_EQ(dlg.OpenConnection(), 0);
    EXPECT_EQ(hooks.Last(), "1:ids123 [COM3]");
    EXPECT_NE(dlg.m_pSerialPort, nullptr) << "kept until the stop deletes it";

    // A speed the port does not have leaves no open port behind a success.
    PtySwitch sw;
    ASSERT_TRUE(sw.MapAsComPort(1));
    RegKey key = WriteConnEnv("127.0.0.1", 5002, 1);
    key.SetDword("BaudRate", 12345);
    EXPECT_EQ(dlg.OpenConnection(), 0);
    EXPECT_EQ(hooks.Last(), "1:ids123 [COM1]");
    ASSERT_NE(dlg.m_pSerialPort, nullptr);
    EXPECT_FALSE(dlg.m_pSerialPort->IsOpen());
    EXPECT_EQ(dlg.m_nBaudRate, 9600);

    key.SetDword("BaudRate", 9600);
    EXPECT_EQ(dlg.OpenConnection(), 1) << "the same object opens again";
    EXPECT_TRUE(dlg.m_pSerialPort->IsOpen());
}
