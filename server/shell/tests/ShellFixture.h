#pragma once

// The main dialog's logic under test: a registry of its own in a temp folder, a view that records
// every call, trace capture, short timers, and the switch on loopback.

#include <engine/tests/TraceCapture.h>
#include <shell/MainView.h>
#include <shell/OrbManagerServer.h>
#include <shell/WaitDialogModel.h>
#include <testsupport/DownloadingSwitch.h>
#include <testsupport/LoopbackPorts.h>
#include <testsupport/RegistryKeys.h>
#include <testsupport/ServerSettings.h>
#include <testsupport/TempRegistry.h>
#include <testsupport/TestApp.h>

#include <engine/LinkState.h>
#include <engine/OrbClientConnectionManager.h>
#include <engine/TraceLog.h>

#include <platform/Registry.h>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace shell_test {

using testsupport::ConnectLoopback;
using testsupport::FreeListenPortPair;
using testsupport::PortRefuses;

using testsupport::DownloadingSwitch;
using testsupport::kConnEnvKey;
using testsupport::kOptionsKey;
using testsupport::TempRegistry;
using testsupport::TestSwitch;
inline constexpr const char* kRootKey = testsupport::kServerKey;

using testsupport::CreateKey;

// Records every call the logic makes. The questions are answered from `answers` (OK when an id
// has no entry); the wait runs a nested event loop as the headless view does, with a hook before
// every tick.
class FakeView : public shell::MainView {
public:
    struct Row {
        int image;
        std::string time;
        std::string text;
    };

    void SetStatusText(const std::string& text) override { statuses.push_back(text); }
    void SetStartStopText(const std::string& text) override { startStopText = text; }
    void SetConnTypeText(const std::string& text) override { connTypeText = text; }
    void SetClientCountText(const std::string& text) override { clientCountText = text; }
    void EnableControl(int id, bool enabled) override { enabledControls[id] = enabled; }
    void SetWaitCursor(bool on) override { waitCursor = on; }

    bool AskOkCancel(int id, const std::string&, bool cancelIsDefault) override {
        asked.push_back(id);
        cancelDefaults.push_back(cancelIsDefault);
        if (onAsk)
            onAsk(id);
        const auto answer = answers.find(id);
        return answer == answers.end() || answer->second;
    }
    void ShowMessageBox(int id, const std::string&) override { boxes.push_back(id); }

    void SetupLogList(const std::string& timeTitle, const std::string& textTitle) override {
        logTitles = {timeTitle, textTitle};
    }
    void AppendLogRow(int image, const std::string& time, const std::string& text) override {
        rows.push_back({image, time, text});
        ++appended;
    }
    void ClearLogRows() override {
        rows.clear();
        ++clears;
    }

    void SetupClientList(const std::vector<std::string>& titles) override { clientTitles = titles; }
    void SetClientRows(const std::vector<std::vector<std::string>>& clientRows) override {
        this->clientRows = clientRows;
        ++clientReloads;
    }

    void RunWaitDialog(shell::WaitDialogModel& model, int tickMs) override {
        ++waits;
        if (model.IsDone())
            return;
        QEventLoop loop;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
            if (onWaitTick)
                onWaitTick(model);
            ++waitTicks;
            if (model.OnTick())
                loop.quit();
        });
        tick.start(tickMs);
        loop.exec();
    }

    void HideToBackground() override { ++hides; }
    void RaiseWindow() override { ++raises; }

    bool HasLog(int image, const std::string& text) const {
        for (const Row& row : rows)
            if (row.image == image && row.text == text)
                return true;
        return false;
    }
    int CountLog(const std::string& text) const {
        int count = 0;
        for (const Row& row : rows)
            count += row.text == text ? 1 : 0;
        return count;
    }
    int AskedCount(int id) const {
        int count = 0;
        for (int asked_id : asked)
            count += asked_id == id ? 1 : 0;
        return count;
    }
    std::string LastStatus() const { return statuses.empty() ? std::string() : statuses.back(); }

    std::vector<std::string> statuses;
    std::string startStopText, connTypeText, clientCountText;
    std::map<int, bool> enabledControls;
    bool waitCursor = false;
    std::vector<int> asked;
    std::vector<bool> cancelDefaults;
    std::map<int, bool> answers;
    std::function<void(int)> onAsk;
    std::vector<int> boxes;
    std::vector<std::string> logTitles;
    std::vector<Row> rows;
    int appended = 0, clears = 0;
    std::vector<std::string> clientTitles;
    std::vector<std::vector<std::string>> clientRows;
    int clientReloads = 0;
    std::function<void(shell::WaitDialogModel&)> onWaitTick;
    int waits = 0, waitTicks = 0;
    int hides = 0, raises = 0;
};

// Short timers: the liveness and recovery ticks come within a fraction of a second.
inline shell::ShellTimings ShortTimings() {
    shell::ShellTimings t;
    t.secondTimerMs = 40;
    t.livenessTimerMs = 150;
    t.recoveryMinuteMs = 120;
    t.firCheckSecondMs = 60;
    t.waitTickMs = 10;
    t.firStartWaitMs = 2000;
    t.tracerReadyWaitMs = 2000;
    return t;
}

// Resource texts "ids<id>"; 315 carries its number.
inline std::string TestText(int id) {
    if (id == 315)
        return "ids315 every %d min";
    return "ids" + std::to_string(id);
}

class ShellFixture : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::App();
        engine::ResetLinkState();
        listenPort = FreeListenPortPair();
        ASSERT_GT(listenPort, 0);
        WriteSettings();
    }

    void TearDown() override {
        if (HasFailure())
            std::fprintf(stderr, "trace:\n%s", traces.All().c_str());
        server.reset();
        engine::ResetLinkState();
    }

    // Every setting a start needs, pointing at the switch; auto-connect as given.
    void WriteSettings(bool autoConnect = false) {
        platform::RegKey root = CreateKey(kRootKey);
        root.SetString("OrbPath", registry.Dir().string());
        root.SetDword("OrbRunCheck", 1);
        EXPECT_TRUE(testsupport::WriteLinkSettings(sw.Host(), sw.Port(), listenPort));
        platform::RegKey conn = CreateKey(kConnEnvKey);
        conn.SetString("SysInfo Password", "4711");
        platform::RegKey options = CreateKey(kOptionsKey);
        options.SetDword("UseAutoConnect", autoConnect ? 1 : 0);
        options.SetDword("UseUserManager", 0);
        options.SetDword("UseDebugMsgPrint", 1); // keeps the trace capture fed
        options.SetString("DllPath", registry.Dir().string());
        options.SetString("Extension", "ENG");
    }
    void SetOption(const char* name, std::uint32_t value) {
        CreateKey(kOptionsKey).SetDword(name, value);
    }
    void SetConnEnv(const char* name, std::uint32_t value) {
        CreateKey(kConnEnvKey).SetDword(name, value);
    }

    // The server with the recording view, not yet initialised.
    shell::OrbManagerServer& MakeServer(const shell::ShellTimings& timings = ShortTimings()) {
        server = std::make_unique<shell::OrbManagerServer>(timings);
        server->SetResourceLookup(TestText);
        server->m_timings.connectTimeoutMs = 2000;
        server->m_timings.closeDrainMs = 1000;
        server->SetView(&view);
        QObject::connect(server.get(), &shell::OrbManagerServer::Ended,
                         [this](int result) { endings.push_back(result); });
        return *server;
    }

    // Initialised, with the link started by the button (box 168 answered OK).
    shell::OrbManagerServer& StartedServer() {
        shell::OrbManagerServer& s = MakeServer();
        EXPECT_TRUE(s.OnInitDialog());
        s.OnStartStop();
        return s;
    }

    bool CompletelyRunning() const {
        return server && server->m_bLinkRunning == 1 && server->m_pClientManager != nullptr &&
               server->m_pBypassClientManager != nullptr && !server->IsInTransition() &&
               server->IsTimerRunning(shell::OrbManagerServer::kSecondTimer) &&
               server->IsTimerRunning(shell::OrbManagerServer::kLivenessTimer);
    }

    // The stopped state: no engine object, no timer, the link flags down.
    void ExpectStopped() const {
        ASSERT_TRUE(server);
        EXPECT_EQ(server->m_bLinkRunning, 0);
        EXPECT_EQ(server->m_pClientManager, nullptr);
        EXPECT_EQ(server->m_pBypassClientManager, nullptr);
        EXPECT_EQ(server->m_pDeviceTable, nullptr);
        EXPECT_EQ(server->m_pEventHandler, nullptr);
        EXPECT_EQ(server->m_pServiceController, nullptr);
        EXPECT_EQ(server->m_pIOQueue, nullptr);
        EXPECT_EQ(server->m_pSerialPort, nullptr);
        EXPECT_EQ(engine::g_pSwitchSocket.load(), nullptr);
        for (int id : {1, 8, 9, 99})
            EXPECT_FALSE(server->IsTimerRunning(id)) << "timer " << id;
        EXPECT_EQ(server->m_bSecondTimerOn, 0);
        EXPECT_EQ(server->m_bAutoRecoverTimerOn, 0);
        EXPECT_EQ(engine::g_bSwitchLinkUp, 0);
        EXPECT_EQ(engine::g_bDeviceListAvailable, 0);
        EXPECT_FALSE(engine::g_hLinkAvailableEvent.IsSet());
        EXPECT_FALSE(engine::g_hDeviceDownloadDoneEvent.IsSet());
        EXPECT_EQ(server->m_nDownLoadedDeviceCount, 0);
    }

    // Clients connected to the first client port (a count the logins alone raise in the server).
    int ClientPortClients() const {
        if (!server || server->m_pClientManager == nullptr)
            return 0;
        engine::COrbClientConnectionManager* manager = server->m_pClientManager;
        platform::CriticalSectionLock guard(manager->ClientListLock());
        return static_cast<int>(manager->GetClients().size());
    }

    static bool IsLinkClose(const TestSwitch::Record& record) {
        return record.bytes == std::vector<std::uint8_t>{0x00, 0x09, 0x02, 0x6B, 0xFF, 0xFF,
                                                         0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    }

    TempRegistry registry;
    TraceCapture traces;
    DownloadingSwitch sw;
    int listenPort = 0;
    FakeView view;
    std::vector<int> endings;
    std::unique_ptr<shell::OrbManagerServer> server;
};

// A fixture whose switch answers every record it gets with the test's Answer.
class AnsweringShellFixture : public ShellFixture {
protected:
    virtual void Answer(TestSwitch& link, const TestSwitch::Record& record) = 0;

    void SetUp() override {
        ShellFixture::SetUp();
        sw.Switch().SetRecordHandler(
            [this](TestSwitch& link, const TestSwitch::Record& record) { Answer(link, record); });
    }
    void TearDown() override {
        StopAnswering();
        ShellFixture::TearDown();
    }
    void StopAnswering() { sw.Switch().SetRecordHandler({}); }
};

} // namespace shell_test
