#pragma once

#include "MonitorCore.h"
#include "MonitorLanguage.h"
#include "MonitorView.h"

#include <QDialog>
#include <QIcon>
#include <QTimer>

#include <map>
#include <vector>

class QTreeWidget;

// The main dialog of a monitor as a thin view: built from the library's dialog 102, its buttons
// call the program's logic, and the logic's calls become widget changes.
class MonitorWindow : public QDialog, public MonitorView {
public:
    MonitorWindow(MonitorKind kind, const MonitorLanguage& language, const QIcon& programIcon);

    // False when the library holds no main dialog.
    bool IsBuilt() const { return !m_controls.empty(); }
    // Connects the buttons and the lists' columns; then the logic is initialised.
    void Attach(MonitorCore& core, const std::map<int, std::vector<QIcon>>& listImages);
    QWidget* Control(int id) const;
    QTreeWidget* List(int id) const;
    // Asks nothing: tests and the screenshot script answer the questions.
    void SetAutoAnswer(bool on) { m_autoAnswer = on; }

    std::string Text(unsigned id) const override;
    void ShowMessage(unsigned id) override;
    void ShowMessage(unsigned id, const std::string& detail) override;
    bool Ask(unsigned id) override;
    void SetText(int controlId, const std::string& text) override;
    void EnableControl(int controlId, bool enabled) override;
    void AddRow(int listId, const std::string& time, const std::string& text, int image) override;
    void AddRows(int listId, const std::vector<MonitorRow>& rows) override;
    void ClearRows(int listId) override;
    bool RunConfig(const MonitorSettings& current, MonitorSettings& edited) override;

    void reject() override;
    // Ends the program in order from wherever it is: the dialogs and boxes open over the window
    // are closed, none opens any more, and once their handlers have returned the window ends as
    // Escape ends it.
    void RequestEnd();
    bool IsEnding() const { return m_ending; }

protected:
    void closeEvent(QCloseEvent* event) override;

    // The longest a list shows new rows late.
    static constexpr int kFollowIntervalMs = 100;

private:
    void ShowAbout();
    void FollowNewest(QTreeWidget& list);
    void ShowNewest();

    MonitorKind m_kind;
    const MonitorLanguage& m_language;
    QIcon m_programIcon;
    MonitorCore* m_core = nullptr;
    std::map<int, QWidget*> m_controls;
    std::map<int, std::vector<QIcon>> m_images;
    bool m_autoAnswer = false;
    bool m_ending = false;
    int m_nestedLoops = 0; // modal dialogs and boxes of ours running now
    QTimer m_followTimer;
    std::vector<QTreeWidget*> m_following; // lists with rows not yet shown
};
