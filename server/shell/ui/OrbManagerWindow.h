#pragma once

#include <shell/MainView.h>

#include <QIcon>
#include <QWidget>

#include <array>
#include <string>
#include <vector>

class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace shell {

class OrbManagerServer;
class ShellDialogsUi;

// The server's main window: a view over OrbManagerServer. It shows what the logic tells it and
// hands every button and the close request back; it holds no state of the link itself.
class OrbManagerWindow : public QWidget, public MainView {
    Q_OBJECT
public:
    // The server must outlive the window. The window registers itself as the server's view and
    // unregisters when destroyed.
    explicit OrbManagerWindow(OrbManagerServer& server, QWidget* parent = nullptr);
    ~OrbManagerWindow() override;

    // The widget behind a control id, or null for an id the window does not have.
    QWidget* Control(int id) const;
    ShellDialogsUi& DialogsUi() const { return *m_pDialogsUi; }

    // MainView
    void SetStatusText(const std::string& text) override;
    void SetStartStopText(const std::string& text) override;
    void SetConnTypeText(const std::string& text) override;
    void SetClientCountText(const std::string& text) override;
    void EnableControl(int id, bool enabled) override;
    void SetWaitCursor(bool on) override;
    bool AskOkCancel(int id, const std::string& text, bool cancelIsDefault) override;
    void ShowMessageBox(int id, const std::string& text) override;
    void SetupLogList(const std::string& timeTitle, const std::string& textTitle) override;
    void AppendLogRow(int image, const std::string& time, const std::string& text) override;
    void ClearLogRows() override;
    void SetupClientList(const std::vector<std::string>& titles) override;
    void SetClientRows(const std::vector<std::vector<std::string>>& rows) override;
    void RunWaitDialog(WaitDialogModel& model, int tickMs) override;
    void HideToBackground() override;
    void RaiseWindow() override;

    // The log row's image number is kept under this role of column 0.
    static constexpr int kImageRole = Qt::UserRole;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // The language library's text for the id, or the fallback when it has none.
    QString Text(int id, const char* fallback) const;
    QPushButton* AddButton(int id, const QString& text);
    void BuildLayout();
    void OnServerEnded();

    OrbManagerServer& m_server;
    QTreeWidget* m_lstLog = nullptr;
    QTreeWidget* m_lstClients = nullptr;
    QLineEdit* m_edtConnType = nullptr;
    QLineEdit* m_edtClientCount = nullptr;
    QLineEdit* m_edtStatus = nullptr;
    QPushButton* m_btnConnEnv = nullptr;
    QPushButton* m_btnStartStop = nullptr;
    QPushButton* m_btnUserList = nullptr;
    QPushButton* m_btnUserManager = nullptr;
    QPushButton* m_btnOptions = nullptr;
    ShellDialogsUi* m_pDialogsUi = nullptr;
    // Images 0 to 3 of the log list: normal, error, and two the server's lines do not use.
    std::array<QIcon, 4> m_logIcons;
    bool m_bWaitCursor = false;
    bool m_bInCloseEvent = false;
    // The server has ended its dialog: the window closes without asking again.
    bool m_bServerEnded = false;
};

} // namespace shell
