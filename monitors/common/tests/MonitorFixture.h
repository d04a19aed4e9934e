#pragma once

// Test support for the monitors: a registry of their own in a temp folder, a view that records
// what the logic shows, the language libraries loaded from the build, a monitor-protocol server
// on loopback (the testsupport::TestSwitch: it records what the monitor sends and sends raw bytes),
// and a real Brovik with a downloading switch and both monitor ports on.

#include <QApplication>

#include <testsupport/ChildProcess.h>
#include <testsupport/DownloadingSwitch.h>
#include <testsupport/LoopbackPorts.h>
#include <testsupport/RegistryKeys.h>
#include <testsupport/ServerSettings.h>
#include <testsupport/TempRegistry.h>
#include <testsupport/TestApp.h>
#include <testsupport/TestSwitch.h>

#include <common/MonitorLanguage.h>
#include <common/MonitorSettings.h>
#include <common/MonitorTime.h>
#include <common/MonitorView.h>

#include <platform/Registry.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace monitor_test {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

using testsupport::CreateKey;
using testsupport::TempRegistry;

inline std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

// "libName" from the build's monitor library folder.
inline bool LoadLanguage(MonitorLanguage& language, const char* libName) {
    return language.Load(std::string(MONITOR_LIBRARY_DIR) + "/" + libName);
}

// Records the logic's calls; Text answers from the loaded library.
class RecordingView : public MonitorView {
public:
    struct Row {
        std::string time, text;
        int image = 0;
    };

    explicit RecordingView(const MonitorLanguage& language) : m_language(language) {}

    std::string Text(unsigned id) const override { return m_language.String(id); }
    void ShowMessage(unsigned id) override { messages.push_back(id); }
    bool Ask(unsigned id) override {
        messages.push_back(id);
        return askAnswer;
    }
    void SetText(int id, const std::string& text) override { fields[id] = text; }
    void EnableControl(int id, bool on) override { enabled[id] = on; }
    void AddRow(int list, const std::string& time, const std::string& text, int image) override {
        rows[list].push_back({time, text, image});
        mostRows[list] = std::max(mostRows[list], rows[list].size());
    }
    void ClearRows(int list) override {
        rows[list].clear();
        ++clears[list];
    }
    bool RunConfig(const MonitorSettings& current, MonitorSettings& edited) override {
        ++configRuns;
        if (!configAnswer)
            return false;
        configShown = current;
        edited = *configAnswer;
        return true;
    }

    bool HasMessage(unsigned id) const {
        return std::find(messages.begin(), messages.end(), id) != messages.end();
    }

    std::vector<unsigned> messages;
    std::map<int, std::string> fields;
    std::map<int, bool> enabled;
    std::map<int, std::vector<Row>> rows;
    std::map<int, int> clears;
    std::map<int, std::size_t> mostRows; // the most a list ever held
    std::optional<MonitorSettings> configAnswer;
    int configRuns = 0;
    MonitorSettings configShown; // what the last configuration opened over
    bool askAnswer = true;

private:
    const MonitorLanguage& m_language;
};

// The monitor's settings key with a configured server and the language values.
inline void WriteMonitorKey(const std::string& keyPath, const fs::path& dir,
                            const std::string& host, int port, const std::string& passCode) {
    platform::RegKey key = CreateKey(keyPath);
    key.SetString("DllPath", MONITOR_LIBRARY_DIR);
    key.SetString("Extension", "ENG");
    key.SetString("InstalledPath", dir.string());
    key.SetString("Monitor Server IP Address", host);
    key.SetDword("Monitor Server Port No", static_cast<std::uint32_t>(port));
    key.SetString("MonitorPassCode", passCode);
}

// 7 March 2009, 09:05:03.042: the time the tests' monitors read.
inline MonitorClock FixedClock() {
    return {
        .year = 2009, .month = 3, .day = 7, .hour = 9, .minute = 5, .second = 3, .millisecond = 42};
}

// A monitor's own registry pointing at a test server on loopback with the pass code, and its
// language library loaded for a recording view.
class MonitorTest : public ::testing::Test {
protected:
    MonitorTest(MonitorKind kind, const char* libName, const char* passCode)
        : m_kind(kind), m_libName(libName), m_passCode(passCode) {}

    void SetUp() override {
        testsupport::App<QApplication>();
        ASSERT_TRUE(LoadLanguage(m_language, m_libName));
        ASSERT_TRUE(m_server.IsListening());
        WriteMonitorKey(MonitorRegistryKey(m_kind), m_registry.Dir(), "127.0.0.1", m_server.Port(),
                        m_passCode);
    }

    const MonitorKind m_kind;
    const char* const m_libName;
    const char* const m_passCode;
    TempRegistry m_registry;
    MonitorLanguage m_language;
    RecordingView m_view{m_language};
    testsupport::TestSwitch m_server;
};

#ifdef BROVIK_PATH
// A link server on loopback with its switch, both monitor ports on and the access code set.
class BrovikWithMonitors {
public:
    static constexpr const char* kAccessCode = "507193";

    BrovikWithMonitors() {
        m_clientPort = testsupport::FreeListenPortPair();
        m_msgPort = testsupport::FreeListenPortPair();
        m_smdrPort = testsupport::FreeListenPortPair();
        testsupport::ServerSettings settings = testsupport::ServerSettingsFor(
            m_registry.Dir(), m_switch.Host(), m_switch.Port(), m_clientPort, BROVIK_PATH);
        settings.msgMonitorPort = m_msgPort;
        settings.smdrMonitorPort = m_smdrPort;
        settings.monitorAccessCode = kAccessCode;
        m_ready = m_clientPort > 0 && m_msgPort > 0 && m_smdrPort > 0 &&
                  testsupport::WriteServerSettings(settings);
    }
    ~BrovikWithMonitors() {
        if (m_server) {
            m_server->Signal(SIGTERM);
            m_server->WaitExit(10000);
        }
    }

    // Starts the server and waits for the link and both monitor ports.
    bool Start() {
        if (!m_ready)
            return false;
        m_server.emplace(BROVIK_PATH, std::vector<std::string>{"--service"});
        if (!m_server->Started() || !m_switch.WaitForDownloads(1, 20000))
            return false;
        return testsupport::SpinUntil(
            [&] {
                return !testsupport::PortRefuses(m_msgPort) &&
                       !testsupport::PortRefuses(m_smdrPort);
            },
            std::chrono::seconds(20));
    }

    testsupport::DownloadingSwitch& Switch() { return m_switch; }
    const fs::path& Dir() const { return m_registry.Dir(); }
    int MsgPort() const { return m_msgPort; }
    int SmdrPort() const { return m_smdrPort; }

private:
    TempRegistry m_registry;
    testsupport::DownloadingSwitch m_switch;
    int m_clientPort = 0, m_msgPort = 0, m_smdrPort = 0;
    bool m_ready = false;
    std::optional<testsupport::ChildProcess> m_server;
};
#endif

// An SMDR ('Z') or UCD ('U') record body carrying the text.
inline Bytes TextRecordBody(char kind, const std::string& text) {
    Bytes body(9 + text.size(), 0xFF);
    body[0] = static_cast<std::uint8_t>(kind);
    body[7] = 0x00;
    body[8] = static_cast<std::uint8_t>(text.size());
    std::copy(text.begin(), text.end(), body.begin() + 9);
    return body;
}

inline Bytes Framed(const Bytes& body) {
    Bytes frame = {static_cast<std::uint8_t>(body.size() >> 8),
                   static_cast<std::uint8_t>(body.size() & 0xFF)};
    frame.insert(frame.end(), body.begin(), body.end());
    return frame;
}

} // namespace monitor_test
