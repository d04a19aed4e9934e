#pragma once

// The logic of addrsetup's dialog: the reachability test of the link server, the start-up test
// of the telephony layer under a watchdog, the re-registration of the maker's provider, the
// restart of a client application and the one-button reconnect sequence. The window shows what
// it decides through ConnectionManagerUi; tests drive it directly.

#include <platform/Event.h>
#include <platform/Registry.h>
#include <platform/WorkerThread.h>
#include <telephony/Tapi.h>

#include <cstdint>
#include <memory>
#include <string>

namespace addrsetup {

enum class MessageIcon { None, Hand, Exclamation, Information };

// What the logic needs of the screen; everything is called on the dialog's thread.
class ConnectionManagerUi {
public:
    virtual ~ConnectionManagerUi() = default;
    virtual void MessageBox(unsigned id, const std::string& text, MessageIcon icon) = 0;
    // A Yes/No question; true for Yes.
    virtual bool AskYesNo(unsigned id, const std::string& text, MessageIcon icon) = 0;
    virtual void BeginWaitCursor() = 0;
    virtual void EndWaitCursor() = 0;
    virtual void EnableControl(int id, bool enable) = 0;
    virtual void EndDialog(int result) = 0;
};

enum class ClientKind { Rowan, RowanPlus, Elm };

// One client application of the family the tool restarts.
struct ClientApp {
    const char* title;     // in the process lines: "Rowan", "Rowan+", "Elm"
    const char* waitTitle; // in the window-wait line
    const char* processFile;
    const char* windowClass;
    platform::RegRoot root;
    const char* key; // holds the value "Path", the application's folder
    unsigned pathMessage;
    unsigned launchMessage;
    int executeButton;
    int reconnectButton;
};

const ClientApp& ClientAppOf(ClientKind kind);

// Waits and limits; tests lower them.
struct Timing {
    int reachAttempts = 10;
    int reachRetryMs = 1000;
    int connectTimeoutMs = 5000; // one connect; a blocking one could hang for minutes
    int watchdogPollMs = 200;
    int watchdogPollLimit = 750; // about 150 s before the kill program runs
    int reconfigureSleepMs = 1000;
    int restartPassMs = 1000;
    int restartKillPass = 90;    // passes given to an application to end by itself
    int restartGiveUpPass = 180; // no relaunch while a copy that cannot be killed runs
    int killWaitMs = 5000;
};

inline constexpr const char* kProviderFile = "lynxtsp32.tsp";
inline constexpr const char* kMakerProviderInfo = "Qorvell QMX Service Provider";
inline constexpr const char* kApplicationName = "Veltrane Reconnect";
inline constexpr const char* kProviderKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Telephony\\LYNXTSP32";
inline constexpr const char* kKillProgramName = "KillVeltraneApp.exe";
inline constexpr uint32_t kDefaultPort = 6000;

class CConnectionManagerDlg {
public:
    explicit CConnectionManagerDlg(ConnectionManagerUi& ui);
    ~CConnectionManagerDlg();
    CConnectionManagerDlg(const CConnectionManagerDlg&) = delete;
    CConnectionManagerDlg& operator=(const CConnectionManagerDlg&) = delete;

    // Disables the buttons of the applications whose folder is not known.
    void OnInitDialog();

    void TestLinkReachable();
    void TestTapiInitialize();
    void ReconfigureTelephony();
    void RestartRowanApp() { RestartApp(ClientKind::Rowan); }
    void RestartRowanPlusApp() { RestartApp(ClientKind::RowanPlus); }
    void RestartElmApp() { RestartApp(ClientKind::Elm); }
    void RestartApp(ClientKind kind);
    void ReconnectSequence(ClientKind kind);

    // 0, or the error of the provider list or of the removal.
    int32_t RemoveTspProvider();
    // 0 done or nothing to do, 1 no telephony library, 2 failed, 3 refused as a second instance.
    int AddTspProvider();

    void StartWatchdog();
    void StopWatchdog();
    bool WatchdogRecorded() const { return watchdog_ != nullptr; }

    static void ReconnectLineCallback(DWORD, DWORD, uintptr_t, uintptr_t, uintptr_t, uintptr_t);
    // Text of an error number; the buffer is overwritten by the next call.
    const char* FormatSystemError(int code);

    // The application's folder from its "Path" value; empty when unreadable or empty.
    static std::string ReadAppPath(const ClientApp& app);

    bool StepOk() const { return stepOk_; }
    bool InSequence() const { return inSequence_; }
    bool TapiReinit() const { return tapiReinit_; }
    bool Ended() const { return ended_; }

    Timing& Timings() { return timing_; }
    // Where "KillVeltraneApp.exe" is: beside this program unless set.
    void SetKillProgram(std::string path) { killProgram_ = std::move(path); }
    // The telephony library's name ("tapi32.dll").
    void SetTapiLibrary(std::string name) { tapiLibrary_ = std::move(name); }
    // The process list's folder ("/proc").
    void SetProcessRoot(std::string path) { procRoot_ = std::move(path); }

private:
    static int TapiWatchdogThread(platform::Event* events[2], int pollMs, int pollLimit,
                                  const std::string& killProgram, platform::Event& stop);
    void Debug(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void Message(unsigned id, MessageIcon icon);
    void EndDialog(int result);
    // Waits until no process of the application runs, killing it when it does not end; false
    // when it is still there at the end.
    bool WaitForAppToEnd(const ClientApp& app);
    void LaunchApp(const ClientApp& app);

    ConnectionManagerUi& ui_;
    Timing timing_;
    bool stepOk_ = true;
    bool inSequence_ = false;
    bool tapiReinit_ = false;
    bool ended_ = false;
    std::unique_ptr<platform::WorkerThread> watchdog_;
    platform::Event tapiReturned_{false, false};
    platform::Event watchdogDone_{false, false};
    platform::Event* eventPair_[2] = {&tapiReturned_, &watchdogDone_};
    std::string killProgram_;
    std::string tapiLibrary_ = "tapi32.dll";
    std::string procRoot_ = "/proc";
    char errorText_[1024] = {};
};

} // namespace addrsetup
