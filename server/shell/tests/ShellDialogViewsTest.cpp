#include <QApplication>

#include "DialogsFixture.h"
#include <shell/ConnEnvDialogModel.h>
#include <shell/OptionsDialogModel.h>
#include <shell/UserDialogsModel.h>
#include <shell/ui/ShellDialogsUi.h>
#include <testsupport/WidgetTree.h>

#include <engine/SwitchDeviceTable.h>

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

using namespace engine;
using namespace shell;

namespace shell_test {
namespace {

// Runs `inspect` on the first dialog shown while `open` runs it modally, and closes it after
// unless `inspect` ended it.
class FirstDialog : public QObject {
public:
    explicit FirstDialog(std::function<void(QDialog&)> inspect) : m_inspect(std::move(inspect)) {
        qApp->installEventFilter(this);
    }
    bool Seen() const { return m_seen; }

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        auto* dialog = qobject_cast<QDialog*>(object);
        if (event->type() == QEvent::Show && !m_seen && dialog != nullptr && dialog->isWindow()) {
            m_seen = true;
            QPointer<QDialog> guard(dialog);
            QMetaObject::invokeMethod(
                this,
                [this, guard] {
                    m_inspect(*guard);
                    if (guard && guard->isVisible())
                        guard->reject();
                },
                Qt::QueuedConnection);
        }
        return false;
    }

private:
    std::function<void(QDialog&)> m_inspect;
    bool m_seen = false;
};

// Both the library's id and the fallback show, so either one changed is seen.
QString IdAndFallback(int id, const char* fallback) {
    return QStringLiteral("%1:%2").arg(id).arg(QString::fromUtf8(fallback));
}

template <class W> W* Child(QDialog& dialog, int id) {
    W* widget = dialog.findChild<W*>(QString::number(id));
    EXPECT_NE(widget, nullptr) << id;
    return widget;
}

QPushButton* StandardButton(QDialog& dialog, QDialogButtonBox::StandardButton which) {
    auto* box = dialog.findChild<QDialogButtonBox*>();
    return box != nullptr ? box->button(which) : nullptr;
}

class ShellDialogViewsTest : public DialogsTest {
protected:
    void SetUp() override {
        testsupport::App<QApplication>();
        DialogsTest::SetUp();
        store = std::make_unique<UserStore>(dlg.m_UserList, dlg.m_strInstallPath, Prompts());
    }
    void TearDown() override { dlg.m_pDeviceTable = nullptr; }

    // Opens the dialog with `open`, hands it to `inspect`, and returns once it has ended.
    void WhileShown(const std::function<void()>& open,
                    const std::function<void(QDialog&)>& inspect) {
        FirstDialog first(inspect);
        open();
        EXPECT_TRUE(first.Seen());
    }

    std::unique_ptr<UserStore> store;
};

constexpr const char kOptionsTree[] = R"tree(QDialog "Options"
  QVBoxLayout
    0 QHBoxLayout
      0 QVBoxLayout
        0 QGroupBox "Monitor ports"
          QGridLayout
            0,0 QCheckBox #1082 "SW message monitor, port:"
            0,1 QLineEdit #1091 ="6001" max 8 disabled
            1,0 QCheckBox #1084 "SMDR/UCD monitor, port:"
            1,1 QLineEdit #1092 ="6002" max 8 disabled
            2,0 QCheckBox #1087 "SMDR/UCD external send, port:"
            2,1 QLineEdit #1088 ="6003" max 8 disabled
            3,0 span 1x2 QCheckBox #1098 "Send only to monitors with the access code" disabled
            4,0 span 1x2 QFormLayout
              row 0 label QLabel "Monitor access code:"
              row 0 field QLineEdit #1093 ="4321" max 10
        1 QGroupBox "Automatic recovery"
          QFormLayout
            row 0 label QLabel "Most restarts (30..9999):"
            row 0 field QLineEdit #1094 ="30" max 19
            row 1 label QLabel "Period in minutes (1..255):"
            row 1 field QLineEdit #1097 ="1" max 19
      1 QVBoxLayout
        0 QGroupBox "Log list and debug output"
          QGridLayout
            0,0 QCheckBox #1095 "Clear the log list at"
            0,1 QLineEdit #1096 ="1000" max 8 disabled
            1,0 QCheckBox #1113 "Debug output"
            1,1 QCheckBox #1134 "Save debug output" disabled
        1 QGroupBox "Program"
          QFormLayout
            row 0 span QCheckBox #1111 "Linnet Plus messages"
            row 1 span QCheckBox #1118 "Start the link at start-up"
            row 2 span QCheckBox #1188 "Run as a system service"
            row 3 label QLabel "Language:"
            row 3 field QComboBox #1116 [229:?|230:?|362:?|363:?|364:?] at 1
        2 stretch 1 spacer
    1 QDialogButtonBox
      QHBoxLayout
        0 spacer
        1 QPushButton "OK"
        2 QPushButton "Cancel"
)tree";

TEST_F(ShellDialogViewsTest, OptionsShowEveryFieldInItsPlaceAndEachCheckEnablesItsRow) {
    dlg.m_strMonitorAccessCode = "4321";
    dlg.m_nListenPort = 6000;
    OptionsDialogModel model(dlg, Prompts());
    answers[227] = false;
    bool accepted = true;
    WhileShown([&] { accepted = RunOptionValuesDlg(nullptr, model, IdAndFallback); },
               [&](QDialog& dialog) {
                   testsupport::ExpectMakeup(&dialog, kOptionsTree,
                                             {"OK",   "Cancel", "1082", "1091", "1084",
                                              "1092", "1087",   "1088", "1098", "1093",
                                              "1094", "1097",   "1095", "1096", "1113",
                                              "1134", "1111",   "1118", "1188", "1116"});
                   const std::pair<int, std::vector<int>> rows[] = {{1095, {1096}},
                                                                    {1082, {1091}},
                                                                    {1084, {1092}},
                                                                    {1087, {1088, 1098}},
                                                                    {1113, {1134}}};
                   for (const auto& [check, enabled] : rows) {
                       Child<QCheckBox>(dialog, check)->click();
                       for (int id : enabled)
                           EXPECT_TRUE(Child<QWidget>(dialog, id)->isEnabled()) << check;
                   }
                   // The Linnet question answered No clears the box again.
                   Child<QCheckBox>(dialog, 1111)->click();
                   EXPECT_FALSE(Child<QCheckBox>(dialog, 1111)->isChecked());
               });
    EXPECT_FALSE(accepted);
    EXPECT_EQ(asked, (std::vector<int>{227}));
}

TEST_F(ShellDialogViewsTest, OptionsOkStoresTheFieldsOrKeepsTheDialogOnTheFailedOne) {
    dlg.m_strMonitorAccessCode = "4321";
    dlg.m_nListenPort = 6000;
    OptionsDialogModel model(dlg, Prompts());
    bool accepted = false;
    WhileShown([&] { accepted = RunOptionValuesDlg(nullptr, model, IdAndFallback); },
               [&](QDialog& dialog) {
                   // A short access code is refused with its box and the focus on it.
                   const std::pair<int, const char*> typed[] = {
                       {1094, "40"},   {1097, "5"},    {1096, "200"}, {1093, "12"},
                       {1091, "7001"}, {1092, "7002"}, {1088, "7003"}};
                   for (const auto& [id, value] : typed)
                       Child<QLineEdit>(dialog, id)->setText(QLatin1String(value));
                   StandardButton(dialog, QDialogButtonBox::Ok)->click();
                   EXPECT_TRUE(dialog.isVisible());
                   EXPECT_EQ(boxes, (std::vector<int>{312}));
                   EXPECT_EQ(dialog.focusWidget(), Child<QWidget>(dialog, 1093));
                   Child<QLineEdit>(dialog, 1093)->setText(QStringLiteral("9876"));
                   Child<QCheckBox>(dialog, 1082)->click();
                   Child<QCheckBox>(dialog, 1188)->click();
                   Child<QComboBox>(dialog, 1116)->setCurrentIndex(3);
                   StandardButton(dialog, QDialogButtonBox::Ok)->click();
               });
    EXPECT_TRUE(accepted);
    EXPECT_EQ(dlg.m_nAutoRecoverCount.load(), 40);
    EXPECT_EQ(dlg.m_nAutoRecoverTimePeriod.load(), 5);
    EXPECT_EQ(dlg.m_nAutoClearLineCnt.load(), 200);
    EXPECT_EQ(dlg.m_strMonitorAccessCode, "9876");
    EXPECT_EQ(dlg.m_bUseMsgMonitor.load(), 1);
    EXPECT_EQ(dlg.m_nMsgMonitorListenPortNo.load(), 7001);
    EXPECT_EQ(dlg.m_nSMDRUCDMonitorListenPortNo.load(), 7002);
    EXPECT_EQ(dlg.m_nSMDRUCDSendListenPortNo.load(), 7003);
    EXPECT_EQ(dlg.m_bUseSystemServiceMode.load(), 1);
    EXPECT_EQ(model.LanguageCode(), 3);
}

TEST_F(ShellDialogViewsTest, OptionsLockTheRecoveryFieldsWhileTheLinkRuns) {
    dlg.m_strMonitorAccessCode = "4321";
    dlg.m_bLinkRunning = 1;
    OptionsDialogModel model(dlg, Prompts());
    WhileShown([&] { RunOptionValuesDlg(nullptr, model, IdAndFallback); },
               [&](QDialog& dialog) {
                   EXPECT_FALSE(Child<QWidget>(dialog, kIdcRecoverCount)->isEnabled());
                   EXPECT_FALSE(Child<QWidget>(dialog, kIdcRecoverPeriod)->isEnabled());
                   EXPECT_TRUE(Child<QWidget>(dialog, kIdcAccessCode)->isEnabled());
               });
    dlg.m_bLinkRunning = 0;
}

constexpr const char kConnEnvTree[] = R"tree(QDialog "Connection Settings"
  QVBoxLayout
    0 QGroupBox "Switch connection"
      QHBoxLayout
        0 QRadioButton #1008 "126:SIM" checked
        1 QRadioButton #1009 "127:Direct Serial Cable"
        2 QRadioButton #1010 "128:TCP/IP"
    1 QHBoxLayout
      0 QGroupBox "Serial line"
        QFormLayout
          row 0 label QLabel "Port:"
          row 0 field QComboBox #1011 [COM1|COM2|COM3|COM4] at 0
          row 1 label QLabel "Baud rate:"
          row 1 field QComboBox #1012 [1200|2400|4800|9600|19200|38400|57600|115200] at 3
          row 2 label QLabel "Data bits:"
          row 2 field QComboBox #1013 [5|6|7|8] at 3
          row 3 label QLabel "Stop bits:"
          row 3 field QComboBox #1014 [1|1.5|2] at 0
      1 QGroupBox "TCP/IP"
        QFormLayout
          row 0 label QLabel "Switch address:"
          row 0 field QLineEdit #1017 ="localhost" disabled
          row 1 label QLabel "Switch port:"
          row 1 field QLineEdit #1016 ="5002" max 5 disabled
    2 QGroupBox "Switch type"
      QFormLayout
        row 0 span QHBoxLayout
          0 QRadioButton #1123 "Normal" checked
          1 QRadioButton #1124 "Veltrane"
        row 1 label QLabel "System information password:"
        row 1 field QLineEdit #1120 ="8062" max 8 disabled
    3 QFormLayout
      row 0 label QLabel "Client listen port:"
      row 0 field QLineEdit #1018 ="6000" max 5
    4 QDialogButtonBox
      QHBoxLayout
        0 spacer
        1 QPushButton "OK"
        2 QPushButton "Cancel"
)tree";

TEST_F(ShellDialogViewsTest, ConnectionSettingsFollowTheTypesAndOkStoresTheFields) {
    ConnEnvDialogModel model(false, Prompts(), [](int) {});
    model.Init();
    bool accepted = false;
    WhileShown([&] { accepted = RunConnEnvDlg(nullptr, model, IdAndFallback); },
               [&](QDialog& dialog) {
                   testsupport::ExpectMakeup(&dialog, kConnEnvTree,
                                             {"OK", "Cancel", "1008", "1009", "1010", "1011",
                                              "1012", "1013", "1014", "1017", "1016", "1123",
                                              "1124", "1120", "1018"});
                   Child<QRadioButton>(dialog, kIdcConnTcp)->click();
                   EXPECT_TRUE(Child<QWidget>(dialog, kIdcSwitchAddress)->isEnabled());
                   EXPECT_FALSE(Child<QWidget>(dialog, kIdcBaudRate)->isEnabled());
                   Child<QRadioButton>(dialog, kIdcSwitchVeltrane)->click();
                   EXPECT_TRUE(Child<QWidget>(dialog, kIdcPassword)->isEnabled());
                   Child<QLineEdit>(dialog, kIdcSwitchAddress)->setText("10.1.2.3");
                   Child<QLineEdit>(dialog, kIdcListenPort)->setText("7100");
                   Child<QComboBox>(dialog, kIdcBaudRate)->setCurrentIndex(7);
                   StandardButton(dialog, QDialogButtonBox::Ok)->click();
               });
    EXPECT_TRUE(accepted);
    EXPECT_EQ(model.Settings().connType, 2u);
    EXPECT_EQ(model.Settings().switchType, 1u);
    EXPECT_EQ(model.Settings().ipAddress, "10.1.2.3");
    EXPECT_EQ(model.Settings().listenPortNo, "7100");
    EXPECT_EQ(model.Settings().baudRate, "115200");
}

constexpr const char kDeviceMapTree[] = R"tree(QDialog "Device Map"
  QVBoxLayout
    0 QComboBox #1056 [114:In order of entry|115:Ascending|116:Descending] at 0
    1 stretch 1 QHBoxLayout
      0 stretch 1 QTreeWidget #1042 [146:Device Name|151:Device Kind|147:IP Address|148:User Name|149:Connection|167:Mapping] multi-select
      1 QVBoxLayout
        0 QPushButton #1045 "Assign..." disabled
        1 QPushButton #1046 "Change..." disabled
        2 QPushButton #1047 "Unassign" disabled
        3 QPushButton #1058 "Unassign All"
        4 stretch 1 spacer
    2 QGroupBox "Devices"
      QGridLayout
        0,0 QLabel "Kind 1"
        0,1 QLineEdit #1048 ="0" read-only max-width 60
        0,2 QLabel "Kind 2"
        0,3 QLineEdit #1049 ="0" read-only max-width 60
        0,4 QLabel "Kind 12"
        0,5 QLineEdit #1052 ="0" read-only max-width 60
        0,6 QLabel "Kind 13"
        0,7 QLineEdit #1050 ="0" read-only max-width 60
        1,0 QLabel "Kind 4"
        1,1 QLineEdit #1054 ="0" read-only max-width 60
        1,2 QLabel "Kind 5"
        1,3 QLineEdit #1053 ="0" read-only max-width 60
        1,4 QLabel "Kind 3"
        1,5 QLineEdit #1051 ="0" read-only max-width 60
        1,6 QLabel "Other"
        1,7 QLineEdit #1055 ="0" read-only max-width 60
        2,0 QLabel "Lines"
        2,1 QLineEdit #1043 ="0" read-only max-width 60
        2,2 QLabel "Mapped"
        2,3 QLineEdit #1057 ="1" read-only max-width 60
        2,4 QLabel "Not mapped"
        2,5 QLineEdit #1044 ="-1" read-only max-width 60
    3 QDialogButtonBox
      QHBoxLayout
        0 spacer
        1 QPushButton "Close"
)tree";

TEST_F(ShellDialogViewsTest, DeviceMapListsTheLinesAndItsButtonsFollowTheChosenRow) {
    UserListModel users(dlg, *store, Prompts());
    ASSERT_TRUE(users.Add({"10.0.0.1", "ann", "a", 0}));
    ASSERT_TRUE(users.Add({"10.0.0.2", "Bob", "b", 0}));
    SwitchDeviceTable table(&dlg);
    const std::uint8_t body[10] = {'A', 0, 1, 2, 0, 1, 0xFF, 0, 1, 0};
    table.AddDevice("201", protocol::ByteView(body, 10), 1, 1);
    table.AddDevice("202", protocol::ByteView(body, 10), 2, 2);
    table.AddDevice("203", protocol::ByteView(body, 10), 1, 3);
    table.AddDevice("300", protocol::ByteView(body, 10), 3, 4);
    dlg.m_pDeviceTable = &table;
    DeviceMapModel model(dlg, *store, Prompts());
    ASSERT_TRUE(model.Assign(model.Rows()[1], "10.0.0.2"));
    WhileShown([&] { RunDeviceMapDlg(nullptr, model, IdAndFallback); },
               [&](QDialog& dialog) {
                   testsupport::ExpectMakeup(&dialog, kDeviceMapTree,
                                             {"1056", "1042", "1045", "1046", "1047", "1058",
                                              "1048", "1049", "1052", "1050", "1054", "1053",
                                              "1051", "1055", "1043", "1057", "1044", "Close"});
                   EXPECT_EQ(dialog.size(), QSize(820, 460));
                   auto* list = Child<QTreeWidget>(dialog, 1042);
                   ASSERT_EQ(list->topLevelItemCount(), 3);
                   EXPECT_EQ(list->topLevelItem(1)->text(3).toStdString(), "Bob");
                   // A row without a user may be assigned, one with a user changed or unassigned.
                   for (const auto& [row, assign, other] :
                        {std::tuple{0, true, false}, {1, false, true}}) {
                       list->setCurrentItem(list->topLevelItem(row));
                       emit list->itemClicked(list->topLevelItem(row), 0);
                       EXPECT_EQ(Child<QWidget>(dialog, kIdcAssign)->isEnabled(), assign) << row;
                       EXPECT_EQ(Child<QWidget>(dialog, kIdcChange)->isEnabled(), other) << row;
                       EXPECT_EQ(Child<QWidget>(dialog, kIdcUnassign)->isEnabled(), other) << row;
                   }
                   Child<QPushButton>(dialog, kIdcUnassignAll)->click();
                   EXPECT_EQ(list->topLevelItem(1)->text(3).toStdString(),
                             model.Rows()[1].userName);
                   EXPECT_EQ(Child<QLineEdit>(dialog, 1057)->text().toStdString(), "0");
                   EXPECT_FALSE(Child<QWidget>(dialog, kIdcUnassignAll)->isEnabled());
               });
    EXPECT_EQ(asked, (std::vector<int>{171}));
    EXPECT_EQ(model.MappedCount(), 0);
}

constexpr const char kUserListTree[] = R"tree(QDialog "Stored Users"
  QVBoxLayout
    0 QHBoxLayout
      0 QFormLayout
        row 0 label QLabel "Stored users:"
        row 0 field QLineEdit #1034 ="2" read-only max-width 80
      1 stretch 1 spacer
      2 QComboBox #1036 [114:In order of entry|115:Ascending|116:Descending] at 0
    1 stretch 1 QHBoxLayout
      0 stretch 1 QTreeWidget #1033 [110:IP Address|109:User Name|183:Type|184:User Info] multi-select
      1 QVBoxLayout
        0 QPushButton #1021 "Add..."
        1 QPushButton #1022 "Edit..." disabled
        2 QPushButton #1023 "Delete" disabled
        3 stretch 1 spacer
    2 QDialogButtonBox
      QHBoxLayout
        0 spacer
        1 QPushButton "Close"
)tree";

TEST_F(ShellDialogViewsTest, UserListShowsTheStoreAndDeletesTheChosenUsers) {
    UserListModel model(dlg, *store, Prompts());
    ASSERT_TRUE(model.Add({"10.0.0.1", "ann", "a", 0}));
    ASSERT_TRUE(model.Add({"10.0.0.2", "Bob", "b", 1}));
    WhileShown([&] { RunUserListDlg(nullptr, model, IdAndFallback); },
               [&](QDialog& dialog) {
                   testsupport::ExpectMakeup(
                       &dialog, kUserListTree,
                       {"1034", "1036", "1033", "1021", "1022", "1023", "Close"});
                   EXPECT_EQ(dialog.size(), QSize(640, 360));
                   auto* list = Child<QTreeWidget>(dialog, 1033);
                   ASSERT_EQ(list->topLevelItemCount(), 2);
                   list->setCurrentItem(list->topLevelItem(0));
                   emit list->itemClicked(list->topLevelItem(0), 0);
                   EXPECT_TRUE(Child<QWidget>(dialog, 1022)->isEnabled());
                   EXPECT_TRUE(Child<QWidget>(dialog, 1023)->isEnabled());
                   Child<QPushButton>(dialog, 1023)->click();
                   ASSERT_EQ(list->topLevelItemCount(), 1);
                   EXPECT_EQ(list->topLevelItem(0)->text(1).toStdString(), "Bob");
                   EXPECT_EQ(Child<QLineEdit>(dialog, 1034)->text().toStdString(), "1");
                   EXPECT_FALSE(Child<QWidget>(dialog, 1023)->isEnabled());
               });
    EXPECT_EQ(asked, (std::vector<int>{120}));
    EXPECT_EQ(ListedUsers(), (std::vector<std::string>{"Bob@10.0.0.2:1:b:-1:-1"}));
}

} // namespace
} // namespace shell_test
