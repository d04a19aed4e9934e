#pragma once

#include <string>

namespace engine {

// What the engine asks of the user interface around it. The main dialog's logic holds one; tests
// supply their own. Every call arrives on the UI thread (COrbManagerDlg queues calls made from
// engine threads), so implementations may touch widgets directly.
class ShellHooks {
public:
    virtual ~ShellHooks() = default;

    // image 0 marks a normal line, 1 an error line.
    virtual void AppendLogLine(int image, const std::string& text) = 0;
    virtual void RefreshClientList() = 0;
    // Closes the clients whose peer has gone; the service controller asks for it.
    virtual void PurgeDeadClients() = 0;
    virtual void PlayLogoAnimation() = 0;
    // The connected-users dialog, when open, reloads its rows.
    virtual void ClientsChanged() = 0;
    // The main window's status text.
    virtual void ShowStatusText(const std::string& text) = 0;
};

} // namespace engine
