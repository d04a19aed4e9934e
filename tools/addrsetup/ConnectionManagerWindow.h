#pragma once

// addrsetup's dialog over CConnectionManagerDlg: the buttons with their ids, the label, Close,
// and About from the window's context menu (the window manager's menu cannot be extended).

#include "ConnectionManagerDlg.h"

#include <QDialog>

#include <map>

class QPushButton;

namespace addrsetup {
// Standard error always; a box too where somebody can see it (an offscreen one would wait for
// nobody).
void ReportStartFailure(const std::string& text);
} // namespace addrsetup

class CConnectionManagerWindow : public QDialog, public addrsetup::ConnectionManagerUi {
    Q_OBJECT
public:
    explicit CConnectionManagerWindow(QWidget* parent = nullptr);

    addrsetup::CConnectionManagerDlg& Logic() { return logic_; }
    // The button with the dialog id, or null.
    QPushButton* Control(int id) const;

    void MessageBox(unsigned id, const std::string& text, addrsetup::MessageIcon icon) override;
    bool AskYesNo(unsigned id, const std::string& text, addrsetup::MessageIcon icon) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    void EnableControl(int id, bool enable) override;
    void EndDialog(int result) override;

    // Brings the dialog, or the box it shows, to the front.
    void BringToFront();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QPushButton* AddButton(int id, const char* text);
    void OnCommand(int id);
    void OnAbout();

    addrsetup::CConnectionManagerDlg logic_;
    std::map<int, QPushButton*> buttons_;
    int waitCursors_ = 0;
};
