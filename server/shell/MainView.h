#pragma once

#include <string>
#include <vector>

namespace shell {

class WaitDialogModel;

// Control ids of the main window, as the language library's template numbers them.
enum MainControlId : int {
    kIdcConnEnv = 1000,
    kIdcStartStop = 1001,
    kIdcUserList = 1003,
    kIdcStatus = 1005,
    kIdcClientCount = 1006,
    kIdcUserManager = 1028,
    kIdcOptions = 1030,
    kIdcClientList = 1037,
    kIdcConnTypeText = 1038,
    kIdcLogList = 1039,
    kIdcConnectedUsers = 1108,
};

// What the link logic asks of its main window. The Qt window implements it, and so does the
// headless host of the service; every call comes on the UI thread.
class MainView {
public:
    virtual ~MainView() = default;

    virtual void SetStatusText(const std::string& text) = 0;      // 1005
    virtual void SetStartStopText(const std::string& text) = 0;   // 1001
    virtual void SetConnTypeText(const std::string& text) = 0;    // 1038
    virtual void SetClientCountText(const std::string& text) = 0; // 1006
    virtual void EnableControl(int id, bool enabled) = 0;
    virtual void SetWaitCursor(bool on) = 0;

    // Modal boxes; id is the string id the text came from. AskOkCancel returns true for OK.
    virtual bool AskOkCancel(int id, const std::string& text, bool cancelIsDefault) = 0;
    virtual void ShowMessageBox(int id, const std::string& text) = 0;

    // The log list: two columns (time, text); image 0 marks normal lines, 1 errors.
    virtual void SetupLogList(const std::string& timeTitle, const std::string& textTitle) = 0;
    virtual void AppendLogRow(int image, const std::string& time, const std::string& text) = 0;
    virtual void ClearLogRows() = 0;

    // The client list: column titles, then whole reloads of its rows.
    virtual void SetupClientList(const std::vector<std::string>& titles) = 0;
    virtual void SetClientRows(const std::vector<std::vector<std::string>>& rows) = 0;

    // Runs the download wait modally: model.OnTick() every tickMs until it returns true.
    virtual void RunWaitDialog(WaitDialogModel& model, int tickMs) = 0;

    // The close while the link runs with its device list: the server goes on in the background.
    virtual void HideToBackground() = 0;
    // A second copy asked this one to come forward.
    virtual void RaiseWindow() = 0;
};

} // namespace shell
