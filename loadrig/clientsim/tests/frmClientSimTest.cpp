#include <clientsim/frmClientSim.h>

#include <loadrig/tests/RigWindowTest.h>
#include <testsupport/TestApp.h>
#include <testsupport/TestSwitch.h>
#include <testsupport/WidgetTree.h>

#include <QApplication>

#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QValidator>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

class frmClientSimTest : public rigtest::RigWindowTest<frmClientSim, ClientRunController> {
protected:
    // The texts of the message boxes shown so far; they are closed with it.
    QStringList TakeMessages() {
        QStringList texts;
        for (QMessageBox* box : window->findChildren<QMessageBox*>()) {
            texts << box->text();
            box->close();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return texts;
    }
    void Type(const char* name, const QString& text) {
        QLineEdit* box = Find<QLineEdit>(name);
        box->setText(text);
        emit box->textEdited(text); // what typing sends
    }
    void Leave(const char* name) {
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QCoreApplication::sendEvent(Find<QLineEdit>(name), &out);
    }
};

TEST_F(frmClientSimTest, FirstLoadShowsTheDefaultsInEveryControl) {
    EXPECT_EQ(window->windowTitle(), "Load Rig Ver 1.0 for QMX Series - Client Call Generator");
    const QStringList frames = FrameTitles();
    for (const char* caption : {"Call Scenario", "Simulation Time", "Call State Time Duration",
                                "Call State Event Count", "Command Count"}) {
        EXPECT_TRUE(frames.contains(QLatin1String(caption))) << caption;
    }
    // The key did not exist: created, and said so once.
    const QStringList messages = TakeMessages();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], "Created HKEY_LOCAL_MACHINE\\SOFTWARE\\Qorvell Electronics\\loadrig");

    EXPECT_EQ(Text("ConnIPAddr"), "127.0.0.1");
    EXPECT_EQ(Text("ConnPortNo"), "6000");
    EXPECT_EQ(Text("txtClientKind"), "");
    EXPECT_EQ(Find<QLabel>("lblStatus")->text(), "Disconnected");
    EXPECT_EQ(Find<QComboBox>("cmboTelNoSize")->currentText(), "3");
    EXPECT_EQ(Find<QComboBox>("cmboPortCnt")->currentText(), "4");
    EXPECT_EQ(Find<QComboBox>("cmboPortCnt")->count(), 6);
    EXPECT_EQ(Find<QComboBox>("cmboIdleTime")->count(), 16);
    EXPECT_EQ(Find<QComboBox>("cmboIdleTime")->currentText(), "4");
    EXPECT_EQ(Find<QComboBox>("cmboMakeDelaytime")->currentText(), "8");
    EXPECT_EQ(Find<QComboBox>("cmboConnDelay")->currentText(), "8");
    EXPECT_EQ(Find<QComboBox>("cmboHoldDelay")->currentText(), "10");
    EXPECT_EQ(Text("editCallerStartTelNo"), "201");
    EXPECT_EQ(Text("editCalleeStartTelNo"), "205");
    EXPECT_EQ(Text("editTimePeriod"), "1");
    EXPECT_EQ(Text("editElapsedTime"), "");
    EXPECT_EQ(Text("editHeldCount"), "0/0");

    QCheckBox* make = Find<QCheckBox>("chkMakeCall");
    EXPECT_EQ(make->text(), "Make Call");
    EXPECT_TRUE(make->isChecked());
    EXPECT_FALSE(make->isEnabled());
    EXPECT_TRUE(Find<QCheckBox>("chkDropCall")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>("chkConnected")->isChecked());
    EXPECT_EQ(Find<QCheckBox>("chkConnected")->text(), "Connection State");
    EXPECT_EQ(Find<QCheckBox>("chkHoldCall")->text(), "Make Hold State");
    EXPECT_FALSE(Find<QComboBox>("cmboConnDelay")->isEnabled());
    EXPECT_FALSE(Find<QComboBox>("cmboHoldDelay")->isEnabled());
    EXPECT_FALSE(Find<QLineEdit>("txtFreeDialNo")->isEnabled());
    EXPECT_FALSE(Find<QLineEdit>("DataSendCnt")->isEnabled());
    EXPECT_FALSE(Find<QLineEdit>("editStartTime")->isEnabled());
    EXPECT_TRUE(Find<QLineEdit>("editDTCount")->isReadOnly());

    EXPECT_EQ(window->Start()->text(), "Start");
    EXPECT_EQ(window->Disconnect()->text(), "Stop");
    EXPECT_EQ(window->cmdReset()->text(), "Reset");
    EXPECT_EQ(window->cmdQuit()->text(), "Quit");
    EXPECT_TRUE(window->Start()->isEnabled());
    EXPECT_FALSE(window->Disconnect()->isEnabled());
}

constexpr const char kClientTree[] =
    R"tree(frmClientSim "Load Rig Ver 1.0 for QMX Series - Client Call Generator"
  central QWidget
    QGridLayout row 3 stretch 1
      0,0 QGroupBox ""
        QFormLayout
          row 0 label QLabel "Server IP Address"
          row 0 field QLineEdit #ConnIPAddr ="127.0.0.1"
          row 1 label QLabel "Server Port No"
          row 1 field QLineEdit #ConnPortNo ="6000"
          row 2 label QLabel "Client Kind"
          row 2 field QLineEdit #txtClientKind placeholder "3"
          row 3 span QLabel #lblStatus "Disconnected"
      1,0 QGroupBox ""
        QFormLayout
          row 0 label QLabel "Tel Size"
          row 0 field QComboBox #cmboTelNoSize [3|4] at 0
          row 1 label QLabel "Port Count"
          row 1 field QComboBox #cmboPortCnt [4|8|16|32|64|128] at 0
          row 2 label QLabel "Caller Start"
          row 2 field QLineEdit #editCallerStartTelNo ="201" validated
          row 3 label QLabel "Callee Start"
          row 3 field QLineEdit #editCalleeStartTelNo ="205" validated
          row 4 label QCheckBox #chkFreeDial "Free Dial"
          row 4 field QLineEdit #txtFreeDialNo disabled
      0,1 span 2x1 QGroupBox "Call Scenario"
        QFormLayout
          row 0 span QCheckBox #chkMakeCall "Make Call" checked disabled
          row 1 span QCheckBox #chkConnected "Connection State"
          row 2 span QCheckBox #chkHoldCall "Make Hold State"
          row 3 span QCheckBox #chkDropCall "Drop Call" checked disabled
          row 4 label QLabel "Idle Delay(S)"
          row 4 field QComboBox #cmboIdleTime [1|2|3|4|5|6|7|8|9|10|20|30|40|50|60|100] at 3
          row 5 label QLabel "Make Delay(S)"
          row 5 field QComboBox #cmboMakeDelaytime [2|4|6|8|10|12|14|16|18|20|60|120|180|300|1800|3600] at 3
          row 6 label QLabel "Conn Delay(S)"
          row 6 field QComboBox #cmboConnDelay [1|2|4|8|10|15|20|30|45|60] at 3 disabled
          row 7 label QLabel "Hold Delay(S)"
          row 7 field QComboBox #cmboHoldDelay [1|3|5|10|15|20|25|30|45|60] at 3 disabled
      0,2 QGroupBox "Simulation Time"
        QFormLayout
          row 0 label QLabel "Simulaion Time (Hr)"
          row 0 field QLineEdit #editTimePeriod ="1"
          row 1 label QLabel "Start Time"
          row 1 field QLineEdit #editStartTime ="00 : 00 : 00" read-only disabled
          row 2 label QLabel "End Time"
          row 2 field QLineEdit #editEndTime ="00 : 00 : 00" read-only disabled
          row 3 label QLabel "Elapsed Time"
          row 3 field QLineEdit #editElapsedTime read-only
      1,2 QGroupBox "Call State Time Duration"
        QFormLayout
          row 0 label QLabel "Idle Time"
          row 0 field QLineEdit #editIdleTime ="0" read-only
          row 1 label QLabel "Ring Time"
          row 1 field QLineEdit #editRingTime ="0" read-only
          row 2 label QLabel "Conn Time"
          row 2 field QLineEdit #editConnTime ="0" read-only
          row 3 label QLabel "Hold Time"
          row 3 field QLineEdit #editHoldTime ="0" read-only
      0,3 QGroupBox "Call State Event Count"
        QFormLayout
          row 0 label QLabel "Hook On"
          row 0 field QLineEdit #editHookOnCount ="0" read-only
          row 1 label QLabel "DialTone"
          row 1 field QLineEdit #editDTCount ="0" read-only
          row 2 label QLabel "Ringback/Offering"
          row 2 field QLineEdit #editRbOfferingCount ="0" read-only
          row 3 label QLabel "Connect"
          row 3 field QLineEdit #editConnectedCount ="0" read-only
          row 4 label QLabel "Held / Retrieved"
          row 4 field QLineEdit #editHeldCount ="0/0" read-only
          row 5 label QLabel "Failed"
          row 5 field QLineEdit #editFailCount ="0" read-only
      1,3 QGroupBox "Command Count"
        QFormLayout
          row 0 label QLabel "Make Call"
          row 0 field QLineEdit #editMakeCall ="0" read-only
          row 1 label QLabel "Answer Call"
          row 1 field QLineEdit #editAnswerCall ="0" read-only
          row 2 label QLabel "Hold Call"
          row 2 field QLineEdit #editHoldCall ="0" read-only
          row 3 label QLabel "UnHold Call"
          row 3 field QLineEdit #editUnHoldCall ="0" read-only
          row 4 label QLabel "Drop Call"
          row 4 field QLineEdit #editDropCall ="0" read-only
          row 5 label QLabel "Total Count"
          row 5 field QLineEdit #editCmdTotalCount ="0" read-only
      2,0 span 1x2 QGroupBox ""
        QFormLayout
          row 0 label QLabel "Total Sent Event Count"
          row 0 field QLineEdit #DataSendCnt ="0" read-only disabled
          row 1 label QLabel "Total Received Event Count"
          row 1 field QLineEdit #RecvDataCnt ="0" read-only disabled
      2,2 span 1x2 QHBoxLayout
        0 QPushButton #Start "Start"
        1 QPushButton #Disconnect "Stop" disabled
        2 QPushButton #cmdReset "Reset"
        3 QPushButton #cmdQuit "Quit"
      3,0 span 1x4 QPlainTextEdit #txtRecvData read-only
)tree";

// clang-format off
const std::vector<std::string> kClientTabOrder{
    "ConnIPAddr", "ConnPortNo", "txtClientKind", "cmboTelNoSize",
    "cmboPortCnt", "editCallerStartTelNo", "editCalleeStartTelNo", "chkFreeDial",
    "txtFreeDialNo", "chkMakeCall", "chkConnected", "chkHoldCall",
    "chkDropCall", "cmboIdleTime", "cmboMakeDelaytime", "cmboConnDelay",
    "cmboHoldDelay", "editTimePeriod", "editStartTime", "editEndTime",
    "editElapsedTime", "editIdleTime", "editRingTime", "editConnTime",
    "editHoldTime", "editHookOnCount", "editDTCount", "editRbOfferingCount",
    "editConnectedCount", "editHeldCount", "editFailCount", "editMakeCall",
    "editAnswerCall", "editHoldCall", "editUnHoldCall", "editDropCall",
    "editCmdTotalCount", "DataSendCnt", "RecvDataCnt", "Start",
    "Disconnect", "cmdReset", "cmdQuit", "txtRecvData"};
// clang-format on

TEST_F(frmClientSimTest, EveryControlSitsInItsFrameAndTabWalksThemInOrder) {
    TakeMessages();
    testsupport::ExpectMakeup(window, kClientTree, kClientTabOrder);
}

TEST_F(frmClientSimTest, ClicksAndTypingReachTheControllerAndTheWindowFollows) {
    TakeMessages();
    Find<QCheckBox>("chkConnected")->click();
    EXPECT_TRUE(controller->Settings().answerFlag);
    EXPECT_TRUE(Find<QComboBox>("cmboConnDelay")->isEnabled());
    Find<QCheckBox>("chkHoldCall")->click();
    EXPECT_TRUE(Find<QComboBox>("cmboHoldDelay")->isEnabled());

    QComboBox* telSize = Find<QComboBox>("cmboTelNoSize");
    telSize->setCurrentIndex(1);
    emit telSize->activated(1);
    EXPECT_EQ(controller->Settings().telSizeIndex, 1);
    emit Find<QComboBox>("cmboIdleTime")->activated(15);
    EXPECT_EQ(controller->State().cmboIdleTime.index, 15);

    // Free dial greys the callee box and the scenario checks, and opens the free-dial box.
    Find<QCheckBox>("chkFreeDial")->click();
    EXPECT_TRUE(controller->Settings().freeDialFlag);
    EXPECT_FALSE(Find<QLineEdit>("editCalleeStartTelNo")->isEnabled());
    EXPECT_FALSE(Find<QCheckBox>("chkConnected")->isEnabled());
    EXPECT_FALSE(Find<QCheckBox>("chkHoldCall")->isEnabled());
    EXPECT_TRUE(Find<QLineEdit>("txtFreeDialNo")->isEnabled());
    Find<QCheckBox>("chkFreeDial")->click();
    EXPECT_TRUE(Find<QLineEdit>("editCalleeStartTelNo")->isEnabled());
    EXPECT_FALSE(Find<QLineEdit>("txtFreeDialNo")->isEnabled());

    Type("ConnIPAddr", "10.0.0.9");
    Type("ConnPortNo", "6500");
    Type("txtClientKind", "7");
    EXPECT_EQ(controller->State().ConnIPAddr.text, "10.0.0.9");
    EXPECT_EQ(controller->State().ConnPortNo.text, "6500");
    EXPECT_EQ(controller->State().txtClientKind.text, "7");

    // Quit saves what the boxes hold and closes the window.
    window->show();
    window->cmdQuit()->click();
    EXPECT_TRUE(closed);
    ClientRunSettings saved;
    LoadClientSettings(saved);
    EXPECT_EQ(saved.serverAddress, "10.0.0.9");
    EXPECT_EQ(saved.serverPort, 6500);
    EXPECT_EQ(saved.telSizeIndex, 1);
    EXPECT_EQ(saved.idleDelayIndex, 15);
    EXPECT_TRUE(saved.answerFlag);
    EXPECT_TRUE(saved.holdFlag);
}

TEST_F(frmClientSimTest, ChecksOfTheBoxesShowTheirMessages) {
    TakeMessages();
    Type("editTimePeriod", "300");
    EXPECT_TRUE(TakeMessages().isEmpty());
    Leave("editTimePeriod");
    EXPECT_EQ(TakeMessages(), QStringList{"Input value is too big."});
    EXPECT_EQ(Text("editTimePeriod"), "288");

    Type("editCalleeStartTelNo", "2x");
    EXPECT_EQ(TakeMessages(), QStringList{"This value must be a numeric value"});
    Type("editCalleeStartTelNo", "20");
    Leave("editCalleeStartTelNo");
    EXPECT_EQ(TakeMessages(), QStringList{"This value's size must be 3"});
    EXPECT_EQ(Text("editCalleeStartTelNo"), "20");
    Type("editCallerStartTelNo", "");
    EXPECT_EQ(TakeMessages(), QStringList{"This value must be a numeric value."});

    // Focus taken by another window is not the user leaving the box.
    QFocusEvent away(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QCoreApplication::sendEvent(Find<QLineEdit>("editCalleeStartTelNo"), &away);
    EXPECT_TRUE(TakeMessages().isEmpty());
}

TEST_F(frmClientSimTest, NumberBoxesTakeNoMoreDigitsThanTheTelSize) {
    QLineEdit* caller = Find<QLineEdit>("editCallerStartTelNo");
    ASSERT_NE(caller->validator(), nullptr);
    int at = 0;
    QString four = QStringLiteral("2001");
    QString three = QStringLiteral("201");
    EXPECT_EQ(caller->validator()->validate(four, at), QValidator::Invalid);
    EXPECT_EQ(caller->validator()->validate(three, at), QValidator::Acceptable);
    emit Find<QComboBox>("cmboTelNoSize")->activated(1);
    EXPECT_EQ(caller->validator()->validate(four, at), QValidator::Acceptable);
    Type("editCallerStartTelNo", "2001");
    // Back to three digits: the longer number stays in the box for Start to report.
    emit Find<QComboBox>("cmboTelNoSize")->activated(0);
    EXPECT_EQ(caller->text(), "2001");
    EXPECT_EQ(controller->State().editCallerStartTelNo.text, "2001");
    TakeMessages();
    window->Start()->click();
    EXPECT_EQ(TakeMessages().size(), 1);
    EXPECT_TRUE(window->Start()->isEnabled());
}

// What the loopback server in place of the link server has received.
QByteArray Received(const testsupport::TestSwitch& server) {
    const std::vector<std::uint8_t> raw = server.RawBytes();
    return QByteArray(reinterpret_cast<const char*>(raw.data()),
                      static_cast<qsizetype>(raw.size()));
}

TEST_F(frmClientSimTest, StartLogsInShowsTheRecordsAndStopUnlocks) {
    TakeMessages();
    testsupport::TestSwitch server;
    Type("ConnPortNo", QString::number(server.Port()));
    window->Start()->click();
    EXPECT_FALSE(window->Start()->isEnabled());
    EXPECT_TRUE(window->Disconnect()->isEnabled());
    EXPECT_FALSE(Find<QLineEdit>("ConnIPAddr")->isEnabled());
    EXPECT_FALSE(window->cmdQuit()->isEnabled());
    ASSERT_TRUE(testsupport::SpinUntil([&] { return Received(server).size() >= 17; }));
    EXPECT_EQ(Received(server).toHex(' '), "00 0f 02 61 ff ff ff ff ff ff 03 01 08 03 02 01 01");
    EXPECT_EQ(Find<QLabel>("lblStatus")->text(), "Connected...");
    EXPECT_EQ(Text("DataSendCnt"), "1");
    EXPECT_FALSE(window->cmdReset()->isEnabled());

    // A dial tone and a hook-on in one delivery.
    ASSERT_TRUE(server.SendRaw({0x00, 0x03, 0x49, 0xFF, 0xFF, 0x00, 0x03, 0x4E, 0xFF, 0xFF}));
    ASSERT_TRUE(testsupport::SpinUntil([&] { return Text("RecvDataCnt") == "2"; }));
    EXPECT_EQ(Text("editDTCount"), "1");
    EXPECT_EQ(Text("editHookOnCount"), "1");
    const QString log = Find<QPlainTextEdit>("txtRecvData")->toPlainText();
    EXPECT_TRUE(log.contains("[Sent Event] 00 0F 02 'a' FF")) << log.toStdString();
    EXPECT_TRUE(log.contains("[Received Event] 'I' FF FF")) << log.toStdString();
    EXPECT_TRUE(log.contains("[Received Event] 'N' FF FF")) << log.toStdString();

    window->Disconnect()->click();
    EXPECT_EQ(Find<QLabel>("lblStatus")->text(), "Disconnected...");
    EXPECT_TRUE(window->Start()->isEnabled());
    EXPECT_FALSE(window->Disconnect()->isEnabled());
    EXPECT_TRUE(Find<QLineEdit>("ConnIPAddr")->isEnabled());
    EXPECT_TRUE(window->cmdReset()->isEnabled());
    window->cmdReset()->click();
    EXPECT_EQ(Text("editDTCount"), "0");
    EXPECT_EQ(Text("editElapsedTime"), "00 : 00 : 00");
}

TEST_F(frmClientSimTest, ScriptTypesTheServerPressesStartAndQuits) {
    TakeMessages();
    testsupport::TestSwitch server;
    ClientScript script;
    script.server = "127.0.0.1";
    script.port = server.Port();
    script.clientKind = 9;
    script.start = true;
    window->show();
    window->StartScript(script);
    EXPECT_EQ(Text("ConnPortNo"), QString::number(server.Port()));
    EXPECT_EQ(Text("txtClientKind"), "9");
    ASSERT_TRUE(testsupport::SpinUntil([&] { return Received(server).size() >= 17; }));
    EXPECT_EQ(static_cast<int>(Received(server)[10]), 9);

    ClientScript quit;
    quit.quitAfterSeconds = 0;
    window->StartScript(quit);
    ASSERT_TRUE(testsupport::SpinUntil([&] { return closed; }));
    EXPECT_FALSE(controller->Socket().IsConnected()); // stopped before quitting
    ClientRunSettings saved;
    LoadClientSettings(saved);
    EXPECT_EQ(saved.serverPort, server.Port());
}

} // namespace
