#pragma once

#include "MainView.h"
#include "ShellTimings.h"

#include <engine/OrbManagerDlg.h>
#include <engine/ShellHooks.h>

#include <QObject>
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

namespace engine {
class COrbManagerTracer;
}

namespace shell {

class DialogHost;
class ShellDialogs;
class WaitDialogModel;

// The main dialog's behaviour over the shared server state: initialisation, link start and stop,
// the four timers with restart and recovery, the log list, the client list and the two ways the
// server ends. The window (or the headless host) is a MainView; this class never touches widgets.
class OrbManagerServer : public QObject, public engine::COrbManagerDlg {
    Q_OBJECT
public:
    // Timer ids of the main window.
    enum TimerId : int {
        kSecondTimer = 1,
        kLivenessTimer = 8,
        kFirCheckTimer = 9,
        kRecoveryTimer = 99
    };
    // How the dialog ended.
    enum DialogResult : int { kResultOk = 1, kResultCancel = 2 };

    explicit OrbManagerServer(ShellTimings timings = {});
    ~OrbManagerServer() override;

    // The view the logic drives; must outlive every later call. Null before the window exists.
    void SetView(MainView* view);
    // Headless (service): the link starts at the end of the initialisation even without
    // auto-connect, since nobody can press the button.
    void SetHeadless(bool headless) { m_bHeadless = headless; }
    bool IsHeadless() const { return m_bHeadless; }

    bool OnInitDialog();
    void OnStartStop();
    void SwitchLinkControl(int mode);
    void RestartLink();
    int LinkThreadsAlive() const;
    void OnTimer(int id);
    // Buttons 1000, 1003, 1028, 1030, 1108 and the rest.
    void OnButton(int id);
    // The settings and user dialogs, the report, the logo and the stored users.
    ShellDialogs& Dialogs() { return *m_pDialogs; }
    void SetDialogHost(DialogHost* host);

    // The close message; true when the server has ended (the window may close).
    bool OnCloseServer();
    void OnOK();
    // SIGTERM: link stopped, trace flushed, Ended(kResultOk). A start or stop in progress
    // finishes first, and so does a button's action whose box or dialog is open.
    void RequestOrderlyStop();

    bool IsTimerRunning(int id) const;
    // A start or stop is under way (the modal wait included).
    bool IsInTransition() const { return m_nTransitionDepth > 0; }

    // The rows of the client list view, from the mode-0 client manager.
    std::vector<std::vector<std::string>> ClientListRows() const;
    std::vector<std::string> ClientListTitles() const;

signals:
    // The dialog has ended; the application ends with it.
    void Ended(int result);

private:
    friend class ShellDialogs;

    // The engine's calls into the window, delivered on the UI thread. The engine's own calls of
    // the same names (COrbManagerDlg::AddLogLine and the rest) queue from any thread; the
    // methods these reach act at once and so run on the UI thread only.
    class Hooks final : public engine::ShellHooks {
    public:
        explicit Hooks(OrbManagerServer& server) : m_server(server) {}
        void AppendLogLine(int image, const std::string& text) override {
            m_server.AppendLogLine(image, text);
        }
        void RefreshClientList() override { m_server.ShowClientList(); }
        void PurgeDeadClients() override { m_server.CloseDeadClients(); }
        void PlayLogoAnimation() override { m_server.AnimateLogo(); }
        void ClientsChanged() override { m_server.OnClientsChanged(); }
        void ShowStatusText(const std::string& text) override { m_server.SetStatusLine(text); }

    private:
        OrbManagerServer& m_server;
    };

    // Done now, on the UI thread.
    void AppendLogLine(int image, const std::string& text);
    void ShowClientList();
    void CloseDeadClients();
    void AnimateLogo();
    void SetStatusLine(const std::string& text);
    // The client list, and the connected-users dialog when it is open.
    void OnClientsChanged();

    enum class StartKind { Button, Control };
    enum class StopKind { Button, Control, Shutdown };

    // Marks a start or stop under way for its scope; what was held back meanwhile runs once the
    // last one is over.
    class TransitionScope {
    public:
        explicit TransitionScope(OrbManagerServer& server);
        ~TransitionScope();
        TransitionScope(const TransitionScope&) = delete;
        TransitionScope& operator=(const TransitionScope&) = delete;

    private:
        OrbManagerServer& m_server;
    };
    // Marks a box or dialog open for its scope: an orderly stop asked for meanwhile waits until
    // the operator's action is over, so that nothing of it runs on after the end.
    class ModalScope {
    public:
        explicit ModalScope(OrbManagerServer& server);
        ~ModalScope();
        ModalScope(const ModalScope&) = delete;
        ModalScope& operator=(const ModalScope&) = delete;

    private:
        OrbManagerServer& m_server;
    };
    void SchedulePending();
    void RunPending();

    // The link start and stop (both routines of each).
    void StartLink(StartKind kind);
    bool OpenClientPorts(StartKind kind);
    void FailedStart(StartKind kind, bool transportOpened);
    void ArmRecovery();
    void StopLink(StopKind kind);
    // Every engine object down and deleted, in the order the threads allow.
    void TearDownEngine();
    void CopyDeviceCounters();
    void RunWait(WaitDialogModel& model);
    void WaitForSetupToolAnswer();

    // Timers.
    QTimer* TimerOf(int id);
    const QTimer* TimerOf(int id) const;
    void StartTimer(int id, int periodMs);
    void KillTimer(int id);
    void KillAllTimers();

    // The two endings.
    void EndServer(int result, bool clearRunCheck);
    void StopTracer();
    void StartTracer();

    // View helpers; each does nothing while there is no view.
    void ShowStatus(int id);
    void ShowBox(int id);
    // The box's string with the detail on a paragraph of its own.
    void ShowBox(int id, const std::string& detail);
    bool Ask(int id, bool cancelIsDefault);
    void SetWaitCursor(bool on);
    void EnableControl(int id, bool enabled);
    // Log line, and the same text traced when `trace` is set.
    void LogRes(int image, int id, bool trace);
    void LogText(int image, const std::string& text, bool trace);

    void SetupClientListColumns();
    void SetupLogListColumns();
    void ShowConnTypeText(int connType);

    // Through the dialogs object.
    void ShowSplash();
    void AddAboutMenu();
    void DetectOSVersion();
    void LoadStoredUsers();
    void CreateLogoControl();
    // The listeners the options switch on, and the window's boxes that show them.
    void ApplyMonitorOptions();
    void StopLogoAnimation();
    void WriteSystemReport();

    // A resource text that carries one integer conversion, filled without handing the text to
    // printf (the library's texts are not ours to trust).
    static std::string FormatWithNumber(const std::string& format, long long value);

    ShellTimings m_shellTimings;
    Hooks m_shellHooks{*this};
    MainView* m_pView = nullptr;
    bool m_bHeadless = false;
    int m_nTransitionDepth = 0;
    int m_nModalDepth = 0;

    QTimer m_secondTimer;
    QTimer m_livenessTimer;
    QTimer m_firCheckTimer;
    QTimer m_recoveryTimer;

    // Held back while a transition runs.
    bool m_bPendingStartStop = false;
    bool m_bPendingOrderlyStop = false;
    // Managers of client ports that failed to open: the event handler may still be delivering
    // through one it read before, so they go only once the handler has ended.
    std::vector<engine::COrbClientConnectionManager*> m_RetiredClientManagers;
    bool m_bPendingTimer1 = false;
    bool m_bPendingTimer8 = false;
    bool m_bPendingTimer99 = false;
    bool m_bPendingScheduled = false;
    // The download wait that runs now, so an orderly stop can end it.
    WaitDialogModel* m_pActiveWait = nullptr;

    std::unique_ptr<engine::COrbManagerTracer> m_pTracer;
    bool m_bEnded = false;
    std::unique_ptr<ShellDialogs> m_pDialogs;
};

} // namespace shell
