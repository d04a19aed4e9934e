#include <switchsim/frmSWSim.h>

#include <loadrig/tests/RigWindowTest.h>
#include <testsupport/TestApp.h>
#include <testsupport/WidgetTree.h>

#include <QApplication>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

class frmSWSimTest : public rigtest::RigWindowTest<frmSWSim, SimRunController> {
protected:
    void Prepare(SimRunController& switchController) override {
        switchController.SetListenPortOverride(0);
    }
};

TEST_F(frmSWSimTest, CaptionFramesAndControls) {
    EXPECT_EQ(window->windowTitle(), "Load Rig Ver 1.0 for QMX Series - Switch Call Generator");
    const QStringList frames = FrameTitles();
    for (const char* caption :
         {"Switch Configuration", "Simulation Scenario", "Simulation Time Configuration",
          "Action List", "Call State Time Duration", "Call Event Count", "Total Event Count",
          "Message Trace Window"}) {
        EXPECT_TRUE(frames.contains(QLatin1String(caption))) << caption;
    }
    EXPECT_EQ(Find<QComboBox>("cmboStnCnt")->count(), 10);
    EXPECT_EQ(Find<QComboBox>("cmboStnCnt")->itemText(9), "512");
    EXPECT_EQ(Find<QComboBox>("cmboCallStepMode")->itemText(4), "Mode 5");
    EXPECT_EQ(Find<QCheckBox>("chkPrint")->text(), "Show Msg");
    EXPECT_EQ(window->cmdRun()->text(), "SW Run");
    EXPECT_EQ(window->cmdCallSim()->text(), "Call Run");
    EXPECT_FALSE(window->cmdStop()->isEnabled());
    EXPECT_FALSE(window->cmdCallSim()->isEnabled());
    EXPECT_FALSE(Find<QCheckBox>("chkCallGen")->isEnabled()); // Auto answer mode
    EXPECT_EQ(Text("editSimTime"), "1");

    const QList<QLabel*> panels = window->statusBar()->findChildren<QLabel*>();
    ASSERT_EQ(panels.size(), 4);
    EXPECT_EQ(panels[1]->text(), "Stopped ");
    EXPECT_EQ(panels[2]->text(), "PavoLinker : Off ");
    EXPECT_EQ(panels[3]->text(), "Call Step : Inbnd->Drop ");
}

constexpr const char kSwitchTree[] =
    R"tree(frmSWSim "Load Rig Ver 1.0 for QMX Series - Switch Call Generator"
  central QWidget
    QGridLayout row 3 stretch 1
      0,0 QGroupBox "Switch Configuration"
        QFormLayout
          row 0 label QLabel "Tel No Size"
          row 0 field QComboBox #cmboTelNoSize [3|4] at 0
          row 1 label QLabel "Stn Cnt"
          row 1 field QComboBox #cmboStnCnt [8|16|32|48|64|80|96|128|256|512] at 0
          row 2 label QLabel "Stn Grp Cnt"
          row 2 field QComboBox #cmboStnGrpCnt [30|80] at 0
          row 3 label QLabel "Mem Cnt"
          row 3 field QComboBox #cmboStnMemCnt [0|4|8|16|30] at 0
          row 4 label QLabel "Trk Cnt"
          row 4 field QComboBox #cmboTrkCnt [8|16|24|32|48|64|80|96|112|128] at 0
      1,0 span 2x1 QGroupBox "Simulation Scenario"
        QFormLayout
          row 0 label QLabel "Sim Mode"
          row 0 field QComboBox #cmboAnswerMode [Auto|Manual] at 0
          row 1 label QLabel "Call Mode"
          row 1 field QComboBox #cmboCallMode [External|Internal] at 0
          row 2 label QLabel "Call Count"
          row 2 field QComboBox #cmboCallCount [1|4|8|16|24|32|48|64|80|96|112|128] at 0
          row 3 label QLabel "CLI/DID Mode"
          row 3 field QComboBox #cmboCLIMode [Random|Fixed] at 0
          row 4 label QLabel "Call Step Mode"
          row 4 field QComboBox #cmboCallStepMode [Mode 1|Mode 2|Mode 3|Mode 4|Mode 5] at 0
          row 5 label QLabel "Ring Time"
          row 5 field QComboBox #cmboRingTime [1|2|4|8|16|20|30|60|90|120] at 0
          row 6 label QLabel "Ans Time"
          row 6 field QComboBox #cmboAnsTime [1|2|4|8|16|20|30|60|90|120] at 0
          row 7 label QLabel "Hold Time"
          row 7 field QComboBox #cmboHoldTime [1|2|4|8|16|20|30|60|90|120] at 0
          row 8 label QLabel "Idle Time"
          row 8 field QComboBox #cmboIdleTime [1|2|4|8|16|20|30|60|90|120] at 0
          row 9 span QCheckBox #chkPrint "Show Msg"
          row 10 span QCheckBox #chkUseOprMode "Use Operator Mode"
          row 11 span QCheckBox #chkCallGen "Call Generation" disabled
      0,1 QGroupBox "Simulation Time Configuration"
        QFormLayout
          row 0 label QLabel "Simulation Time (Hr)"
          row 0 field QLineEdit #editSimTime ="1"
          row 1 label QLabel "Start Time"
          row 1 field QLineEdit #editStartTime ="00 : 00 : 00" read-only
          row 2 label QLabel "End Time"
          row 2 field QLineEdit #editEndTime ="00 : 00 : 00" read-only
          row 3 label QLabel "Elapsed Time"
          row 3 field QLineEdit #editElapsedTime ="00 : 00 : 00" read-only
      1,1 QGroupBox "Call State Time Duration"
        QFormLayout
          row 0 label QLabel "Idle Time"
          row 0 field QLineEdit #editIdleCallTime ="0" read-only
          row 1 label QLabel "Ring Time"
          row 1 field QLineEdit #editRingCallTime ="0" read-only
          row 2 label QLabel "Conn Time"
          row 2 field QLineEdit #editConnCallTime ="0" read-only
          row 3 label QLabel "Hold Time"
          row 3 field QLineEdit #editHoldCallTime ="0" read-only
      2,1 QGroupBox "Action List"
        QVBoxLayout
          0 QPushButton #cmdCallSim "Call Run" disabled
          1 QPushButton #cmdRun "SW Run"
          2 QPushButton #cmdStop "Stop" disabled
          3 QPushButton #cmdReset "Reset"
          4 QPushButton #cmdQuit "Quit"
      0,2 QGroupBox "Call Event Count"
        QFormLayout
          row 0 label QLabel "Offering"
          row 0 field QLineEdit #editInbndCount ="0" read-only
          row 1 label QLabel "Ans State"
          row 1 field QLineEdit #editAnsCount ="0" read-only
          row 2 label QLabel "DT State"
          row 2 field QLineEdit #editDTCount ="0" read-only
          row 3 label QLabel "Hold State"
          row 3 field QLineEdit #editHoldCount ="0" read-only
          row 4 label QLabel "Busy State"
          row 4 field QLineEdit #editBusyCount ="0" read-only
      1,2 QGroupBox "Total Event Count"
        QFormLayout
          row 0 label QLabel "Total Receive"
          row 0 field QLineEdit #editTotalReceiveCount ="0" read-only
          row 1 label QLabel "Total Sent"
          row 1 field QLineEdit #editTotalSentCount ="0" read-only
      3,0 span 1x3 QGroupBox "Message Trace Window"
        QVBoxLayout
          0 QPlainTextEdit #editTraceBox read-only
  status QStatusBar #SWCallSimStatusBar
    QLabel #panel1
    QLabel #panel2
    QLabel #panel3
    QLabel #panel4
)tree";

TEST_F(frmSWSimTest, EveryControlSitsInItsFrameAndTabWalksThemInOrder) {
    testsupport::ExpectMakeup(
        window, kSwitchTree,
        {"cmboTelNoSize",      "cmboStnCnt",       "cmboStnGrpCnt",    "cmboStnMemCnt",
         "cmboTrkCnt",         "cmboAnswerMode",   "cmboCallMode",     "cmboCallCount",
         "cmboCLIMode",        "cmboCallStepMode", "cmboRingTime",     "cmboAnsTime",
         "cmboHoldTime",       "cmboIdleTime",     "chkPrint",         "chkUseOprMode",
         "chkCallGen",         "editSimTime",      "editStartTime",    "editEndTime",
         "editElapsedTime",    "editIdleCallTime", "editRingCallTime", "editConnCallTime",
         "editHoldCallTime",   "cmdCallSim",       "cmdRun",           "cmdStop",
         "cmdReset",           "cmdQuit",          "editInbndCount",   "editAnsCount",
         "editDTCount",        "editHoldCount",    "editBusyCount",    "editTotalReceiveCount",
         "editTotalSentCount", "editTraceBox"});
}

TEST_F(frmSWSimTest, ClicksReachTheControllerAndTheWindowFollows) {
    QComboBox* mode = Find<QComboBox>("cmboCallStepMode");
    mode->setCurrentIndex(4);
    emit mode->activated(4); // what a user's choice sends
    EXPECT_EQ(controller->Settings().stored[kWordCallStepMode], 4);
    EXPECT_EQ(window->statusBar()->findChildren<QLabel*>()[3]->text(),
              "Call Step : Inbnd->BT/RT->Ans->Drop ");

    // The controller's own change of a list (3 digits caps the stations) shows in the window.
    QComboBox* stations = Find<QComboBox>("cmboStnCnt");
    emit stations->activated(8);
    emit Find<QComboBox>("cmboTelNoSize")->activated(0);
    EXPECT_EQ(stations->currentIndex(), 6);

    Find<QCheckBox>("chkPrint")->click();
    EXPECT_TRUE(controller->Trace().Enabled());

    window->cmdRun()->click();
    EXPECT_NE(controller->Settings().running, 0);
    EXPECT_FALSE(window->cmdRun()->isEnabled());
    EXPECT_TRUE(window->cmdStop()->isEnabled());
    EXPECT_FALSE(stations->isEnabled());
    EXPECT_FALSE(Find<QLineEdit>("editSimTime")->isEnabled());
    EXPECT_EQ(window->statusBar()->findChildren<QLabel*>()[1]->text(), "Listening... ");

    controller->SetCallSimEnabled(true);
    window->cmdCallSim()->click();
    EXPECT_EQ(window->cmdCallSim()->text(), "Call Stop");
    EXPECT_FALSE(mode->isEnabled());

    window->cmdStop()->click();
    EXPECT_EQ(controller->Settings().running, 0);
    EXPECT_EQ(window->cmdCallSim()->text(), "Call Run");
    EXPECT_FALSE(window->cmdCallSim()->isEnabled());
}

TEST_F(frmSWSimTest, TypingInABoxLeavesTheCaretWhereItIs) {
    QLineEdit* box = Find<QLineEdit>("editSimTime");
    box->setCursorPosition(0);
    box->insert(QStringLiteral("2")); // as typed, before the "1"
    EXPECT_EQ(controller->State().simTime, "21");
    // The window showed the controller's state again; the box was already right.
    EXPECT_EQ(box->text(), "21");
    EXPECT_EQ(box->cursorPosition(), 1);
}

TEST_F(frmSWSimTest, CountersAndTraceText) {
    controller->chkPrint_Click(true);
    SimTrace& trace = controller->Trace();
    trace.totalSent = 12;
    trace.sent.offering = 3;
    trace.AppendSwitchLog("-->> 02 'D' FF FF \r\n");
    EXPECT_EQ(Text("editTotalSentCount"), "12");
    EXPECT_EQ(Text("editInbndCount"), "3");
    QPlainTextEdit* box = Find<QPlainTextEdit>("editTraceBox");
    EXPECT_EQ(box->toPlainText(), "-->> 02 'D' FF FF \n");
    trace.AppendSwitchLog("<<-- 00 08 'I' \r\n");
    EXPECT_EQ(box->toPlainText(), "-->> 02 'D' FF FF \n<<-- 00 08 'I' \n");

    // Past 2000 characters the trace starts over; the box follows.
    trace.AppendSwitchLog(std::string(2001, 'x'));
    trace.AppendSwitchLog("new\r\n");
    EXPECT_EQ(box->toPlainText(), "new\n");

    controller->cmdReset_Click();
    EXPECT_EQ(Text("editTotalSentCount"), "0");
    EXPECT_EQ(Text("editInbndCount"), "0");
    EXPECT_EQ(Text("editElapsedTime"), "00 : 00 : 00");
}

TEST_F(frmSWSimTest, ScriptPressesRunAndQuits) {
    SwitchScript options;
    options.run = true;
    options.quitAfterSeconds = 0;
    bool ranFirst = false;
    QObject::connect(controller, &SimRunController::stateChanged,
                     [&] { ranFirst = ranFirst || controller->Settings().running != 0; });
    window->show();
    window->StartScript(options);
    ASSERT_TRUE(testsupport::SpinUntil([&] { return closed; }));
    EXPECT_TRUE(ranFirst);
    EXPECT_EQ(controller->Settings().running, 0); // stopped before quitting
}

TEST_F(frmSWSimTest, ScriptPressesCallRunOnceTheDevicesAreAsked) {
    SwitchScript options;
    options.callRun = true;
    window->StartScript(options);
    window->cmdRun()->click();
    controller->SetCallSimEnabled(true); // as the 'a' request does
    ASSERT_TRUE(testsupport::SpinUntil([&] { return controller->Settings().callSimRunning != 0; }));
    // Enabled again later: not pressed a second time, so the simulation keeps running.
    controller->SetCallSimEnabled(false);
    controller->SetCallSimEnabled(true);
    testsupport::SpinFor(std::chrono::milliseconds(50));
    EXPECT_NE(controller->Settings().callSimRunning, 0);
    window->cmdCallSim()->click();
    window->cmdStop()->click();
}

} // namespace
