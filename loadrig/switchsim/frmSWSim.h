#pragma once

#include "SimRunController.h"
#include <rigwindow/RigWindow.h>

#include <array>
#include <initializer_list>
#include <optional>
#include <string>

class QCheckBox;
class QComboBox;
class QGridLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// What the program's options ask of the switch window at start.
struct SwitchScript {
    bool run = false;                    // SW Run pressed
    bool callRun = false;                // Call Run pressed once the devices have been asked for
    std::optional<int> quitAfterSeconds; // Stop (when running) and Quit pressed then
};

// The switch window: the setting lists, the run buttons, the clock, counters and trace boxes and
// the status bar. It only forwards the user's choices to its controller and shows the
// controller's state.
class frmSWSim : public RigWindow {
    Q_OBJECT

public:
    // Without a controller the window makes its own. Loading (Form_Load) happens here.
    explicit frmSWSim(SimRunController* controller = nullptr, QWidget* parent = nullptr);
    ~frmSWSim() override;

    // The scripted start of the program: each option presses a button of this window.
    void StartScript(const SwitchScript& script);

    QPushButton* cmdCallSim() const { return m_cmdCallSim; }
    QPushButton* cmdRun() const { return m_cmdRun; }
    QPushButton* cmdStop() const { return m_cmdStop; }
    QPushButton* cmdQuit() const { return m_cmdQuit; }

private:
    // A box of a frame: its row caption, name and the member that keeps it.
    struct BoxRow {
        const char* caption;
        const char* name;
        QLineEdit* frmSWSim::*box;
        bool readOnly = true;
    };

    void BuildControls();
    void BuildLists();
    QGroupBox* ListFrame(const char* caption, int firstWord, int lastWord);
    QGroupBox* BuildScenario();
    QGroupBox* BoxFrame(const char* caption, std::initializer_list<BoxRow> rows);
    QGroupBox* BuildActions();
    void BuildCounts(QGridLayout* grid);
    QGroupBox* BuildTrace();
    void BuildStatusBar();
    void RefreshState();
    void RefreshCounters();
    void ShowMessage(const SimMessage& message);

    OwnedOrInjected<SimRunController> m_controller;

    std::array<QComboBox*, kWordOprInbndCount> m_lists{};
    QCheckBox* m_chkPrint = nullptr;
    QCheckBox* m_chkUseOprMode = nullptr;
    QCheckBox* m_chkCallGen = nullptr;

    QLineEdit* m_editSimTime = nullptr;
    QLineEdit* m_editStartTime = nullptr;
    QLineEdit* m_editEndTime = nullptr;
    QLineEdit* m_editElapsedTime = nullptr;

    QPushButton* m_cmdCallSim = nullptr;
    QPushButton* m_cmdRun = nullptr;
    QPushButton* m_cmdStop = nullptr;
    QPushButton* m_cmdReset = nullptr;
    QPushButton* m_cmdQuit = nullptr;

    QLineEdit* m_editIdleCallTime = nullptr;
    QLineEdit* m_editRingCallTime = nullptr;
    QLineEdit* m_editConnCallTime = nullptr;
    QLineEdit* m_editHoldCallTime = nullptr;

    QLineEdit* m_editInbndCount = nullptr;
    QLineEdit* m_editAnsCount = nullptr;
    QLineEdit* m_editDTCount = nullptr;
    QLineEdit* m_editHoldCount = nullptr;
    QLineEdit* m_editBusyCount = nullptr;
    QLineEdit* m_editTotalReceiveCount = nullptr;
    QLineEdit* m_editTotalSentCount = nullptr;

    QPlainTextEdit* m_editTraceBox = nullptr;
    std::string m_shownTrace;

    std::array<QLabel*, 4> m_panels{};
    bool m_callRunPressed = false;
};
