#include <switchsim/frmSWSim.h>

#include <loadrig/tests/RigWindowTest.h>
#include <testsupport/TestApp.h>

#include <QApplication>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>

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
    QStringList frames;
    for (QGroupBox* box : window->findChildren<QGroupBox*>()) {
        frames << box->title();
    }
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
    bool closed = false;
    QObject::connect(window, &frmSWSim::closed, [&] { closed = true; });
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
