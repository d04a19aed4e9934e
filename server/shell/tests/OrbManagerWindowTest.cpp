#include <QApplication>

#include <engine/LinkState.h>
#include <shell/OrbManagerServer.h>
#include <shell/WaitDialogModel.h>
#include <shell/ui/OrbManagerWindow.h>
#include <shell/ui/WaitDialog.h>
#include <testsupport/TestApp.h>

#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>

using namespace engine;
using namespace shell;

// Fontconfig keeps its configuration for the life of the process and never frees it; that is
// the font library's, not ours, and the leak checker is told so.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace {

// The window with its two modal boxes recorded and answered by the test.
class RecordingWindow : public OrbManagerWindow {
public:
    using OrbManagerWindow::OrbManagerWindow;

    bool AskOkCancel(int id, const std::string&, bool cancelIsDefault) override {
        asked.push_back(id);
        cancelDefaults.push_back(cancelIsDefault);
        if (answers.empty()) {
            return false;
        }
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void ShowMessageBox(int, const std::string&) override {}

    std::vector<int> asked;
    std::vector<bool> cancelDefaults;
    std::deque<bool> answers;
};

// Runs `act` on the next message box that comes up modally.
void WithNextMessageBox(const std::function<void(QMessageBox&)>& act) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, act] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            act(*box);
        }
    });
    poll->start(5);
}

void SendKey(QWidget* target, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QApplication::sendEvent(target, &release);
}

void ClickRow(QTreeWidget* list, QTreeWidgetItem* item) {
    const QPointF at = list->visualItemRect(item).center();
    QWidget* viewport = list->viewport();
    const QPointF global = viewport->mapToGlobal(at);
    QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(viewport, &press);
    QApplication::sendEvent(viewport, &release);
}

class OrbManagerWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::App<QApplication>();
        ASSERT_NE(qobject_cast<QApplication*>(QCoreApplication::instance()), nullptr)
            << "widget tests need the QApplication made first";
        ASSERT_TRUE(m_dir.isValid());
        setenv("QORVELL_REGISTRY", (m_dir.path() + "/registry.reg").toUtf8().constData(), 1);
        ResetLinkState();
        m_server = std::make_unique<OrbManagerServer>();
        m_server->SetResourceLookup(
            [](int id) { return id == 107 ? std::string("Start link") : std::string(); });
        m_window = std::make_unique<RecordingWindow>(*m_server);
    }
    void TearDown() override {
        if (m_server) {
            m_server->m_bLinkRunning = 0;
        }
        ResetLinkState();
        m_window.reset();
        m_server.reset();
    }

    QTreeWidget* List(int id) { return qobject_cast<QTreeWidget*>(m_window->Control(id)); }

    QTemporaryDir m_dir;
    std::unique_ptr<OrbManagerServer> m_server;
    std::unique_ptr<RecordingWindow> m_window;
};

TEST_F(OrbManagerWindowTest, CaptionControlsAndTexts) {
    EXPECT_EQ(m_window->windowTitle(), QStringLiteral("Veltrane Link"));
    for (int id : {kIdcConnEnv, kIdcStartStop, kIdcUserList, kIdcStatus, kIdcClientCount,
                   kIdcUserManager, kIdcOptions, kIdcClientList, kIdcConnTypeText, kIdcLogList}) {
        EXPECT_NE(m_window->Control(id), nullptr) << id;
    }
    EXPECT_NE(m_window->Control(kIdcConnectedUsers), nullptr);
    EXPECT_EQ(m_window->Control(4242), nullptr);

    auto* startStop = qobject_cast<QPushButton*>(m_window->Control(kIdcStartStop));
    ASSERT_NE(startStop, nullptr);
    EXPECT_EQ(startStop->text(), QStringLiteral("Start link")); // from the language library

    m_window->SetStatusText("Link is running");
    EXPECT_EQ(qobject_cast<QLineEdit*>(m_window->Control(kIdcStatus))->text(),
              QStringLiteral("Link is running"));
    EXPECT_TRUE(qobject_cast<QLineEdit*>(m_window->Control(kIdcStatus))->isReadOnly());

    m_window->EnableControl(kIdcUserManager, false);
    EXPECT_FALSE(m_window->Control(kIdcUserManager)->isEnabled());
    EXPECT_TRUE(m_window->Control(kIdcConnEnv)->isEnabled());
    m_window->EnableControl(kIdcUserManager, true);
    EXPECT_TRUE(m_window->Control(kIdcUserManager)->isEnabled());
    m_window->EnableControl(4242, false); // unknown ids are ignored
}

TEST_F(OrbManagerWindowTest, LogRowsAppendScrollAndClear) {
    m_window->show();
    QTreeWidget* log = List(kIdcLogList);
    ASSERT_NE(log, nullptr);
    m_window->SetupLogList("Time", "Message");
    EXPECT_EQ(log->headerItem()->text(0), QStringLiteral("Time"));
    EXPECT_EQ(log->headerItem()->text(1), QStringLiteral("Message"));

    m_window->AppendLogRow(0, "Jan 2, 2024 10:00:00", "normal line");
    m_window->AppendLogRow(1, "Jan 2, 2024 10:00:01", "error line");
    ASSERT_EQ(log->topLevelItemCount(), 2);
    QTreeWidgetItem* first = log->topLevelItem(0);
    QTreeWidgetItem* second = log->topLevelItem(1);
    EXPECT_EQ(first->text(0), QStringLiteral("Jan 2, 2024 10:00:00"));
    EXPECT_EQ(first->text(1), QStringLiteral("normal line"));
    EXPECT_EQ(first->data(0, OrbManagerWindow::kImageRole).toInt(), 0);
    EXPECT_EQ(second->data(0, OrbManagerWindow::kImageRole).toInt(), 1);
    EXPECT_FALSE(first->icon(0).isNull());
    EXPECT_FALSE(second->icon(0).isNull());
    EXPECT_NE(first->icon(0).cacheKey(), second->icon(0).cacheKey());

    for (int i = 0; i < 300; ++i) {
        m_window->AppendLogRow(0, "t", "line " + std::to_string(i));
    }
    QApplication::processEvents();
    QTreeWidgetItem* last = log->topLevelItem(log->topLevelItemCount() - 1);
    EXPECT_EQ(last->text(1), QStringLiteral("line 299"));
    EXPECT_TRUE(log->viewport()->rect().intersects(log->visualItemRect(last)))
        << "the newest row is scrolled into view";

    m_window->ClearLogRows();
    EXPECT_EQ(log->topLevelItemCount(), 0);
}

TEST_F(OrbManagerWindowTest, EngineLogLinesReachTheList) {
    // The engine's call goes through the logic to the window.
    static_cast<COrbManagerDlg&>(*m_server).AddLogLine(1, "[ERROR] switch gone");
    QTreeWidget* log = List(kIdcLogList);
    ASSERT_TRUE(testsupport::SpinUntil([&] { return log->topLevelItemCount() == 1; }));
    EXPECT_EQ(log->topLevelItem(0)->text(1), QStringLiteral("[ERROR] switch gone"));
    EXPECT_EQ(log->topLevelItem(0)->data(0, OrbManagerWindow::kImageRole).toInt(), 1);
    EXPECT_FALSE(log->topLevelItem(0)->text(0).isEmpty());
}

TEST_F(OrbManagerWindowTest, ClientColumnsRowsAndRowClick) {
    m_window->show();
    QTreeWidget* clients = List(kIdcClientList);
    ASSERT_NE(clients, nullptr);
    m_window->SetupClientList({"Address", "Port", "Kind", "Line", "Connected"});
    ASSERT_EQ(clients->columnCount(), 5);
    EXPECT_EQ(clients->headerItem()->text(2), QStringLiteral("Kind"));

    m_window->SetClientRows({{"10.0.0.1", "4001", "[Rowan][Elm]", "-", "10:00"},
                             {"10.0.0.2", "4002", "[Fir]", "-", "10:01"}});
    ASSERT_EQ(clients->topLevelItemCount(), 2);
    EXPECT_EQ(clients->topLevelItem(0)->text(2), QStringLiteral("[Rowan][Elm]"));
    EXPECT_EQ(clients->topLevelItem(1)->text(0), QStringLiteral("10.0.0.2"));
    EXPECT_EQ(clients->topLevelItem(1)->textAlignment(1), Qt::AlignCenter);

    QApplication::processEvents();
    ClickRow(clients, clients->topLevelItem(1));
    EXPECT_EQ(clients->currentItem(), clients->topLevelItem(1));
    EXPECT_TRUE(clients->topLevelItem(1)->isSelected());

    // A reload replaces the rows; a new set of columns drops rows of the old one.
    m_window->SetClientRows({{"10.0.0.3", "4003", "", "", ""}});
    ASSERT_EQ(clients->topLevelItemCount(), 1);
    EXPECT_EQ(clients->topLevelItem(0)->text(0), QStringLiteral("10.0.0.3"));
    m_window->SetupClientList({"a", "b", "c", "d", "e", "f", "g"});
    EXPECT_EQ(clients->columnCount(), 7);
    EXPECT_EQ(clients->topLevelItemCount(), 0);
}

TEST_F(OrbManagerWindowTest, WaitCursorStaysBalanced) {
    QApplication::setOverrideCursor(Qt::ArrowCursor); // somebody else's level
    m_window->SetWaitCursor(true);
    m_window->SetWaitCursor(true);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    m_window->SetWaitCursor(false); // one off ends the wait, however many ons came before
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::ArrowCursor);
    m_window->SetWaitCursor(false); // and a stray off takes nobody else's level
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::ArrowCursor);

    m_window->SetWaitCursor(true);
    m_window.reset(); // a window that goes with the cursor on gives it back
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::ArrowCursor);
    QApplication::restoreOverrideCursor();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(OrbManagerWindowTest, MessageBoxesCarryCaptionTextAndDefault) {
    OrbManagerWindow& window = *m_window; // the real boxes of the base class
    bool cancelWasDefault = false;
    QString title, text;
    WithNextMessageBox([&](QMessageBox& box) {
        title = box.windowTitle();
        text = box.text();
        cancelWasDefault = box.defaultButton() == box.button(QMessageBox::Cancel);
        box.button(QMessageBox::Ok)->click();
    });
    EXPECT_TRUE(window.OrbManagerWindow::AskOkCancel(106, "End the server?", true));
    EXPECT_EQ(title, QStringLiteral("Veltrane Link"));
    EXPECT_EQ(text, QStringLiteral("End the server?"));
    EXPECT_TRUE(cancelWasDefault);

    bool okWasDefault = false;
    WithNextMessageBox([&](QMessageBox& box) {
        okWasDefault = box.defaultButton() == box.button(QMessageBox::Ok);
        SendKey(&box, Qt::Key_Escape);
    });
    EXPECT_FALSE(window.OrbManagerWindow::AskOkCancel(168, "Start the link?", false));
    EXPECT_TRUE(okWasDefault);
}

TEST_F(OrbManagerWindowTest, ButtonClickReachesTheLogic) {
    m_window->show();
    // Start without auto-connect asks box 168 first; Cancel leaves the link stopped.
    qobject_cast<QPushButton*>(m_window->Control(kIdcStartStop))->click();
    ASSERT_TRUE(testsupport::SpinUntil([&] { return !m_window->asked.empty(); }));
    EXPECT_EQ(m_window->asked.front(), 168);
    EXPECT_EQ(m_server->m_bLinkRunning.load(), 0);
}

TEST_F(OrbManagerWindowTest, CloseIsRefusedWhileTheLinkServesClients) {
    bool ended = false;
    QObject::connect(m_server.get(), &OrbManagerServer::Ended, [&] { ended = true; });
    m_window->show();

    m_server->m_bLinkRunning = 1;
    g_bDeviceListAvailable = 1;
    EXPECT_FALSE(m_window->close());
    EXPECT_TRUE(m_window->isVisible());
    EXPECT_TRUE(m_window->isMinimized()) << "the server goes on in the background";
    EXPECT_TRUE(m_window->asked.empty());
    m_window->RaiseWindow();
    EXPECT_FALSE(m_window->isMinimized());

    // Escape never closes and never asks.
    SendKey(m_window.get(), Qt::Key_Escape);
    EXPECT_TRUE(m_window->isVisible());
    EXPECT_TRUE(m_window->asked.empty());

    // Without the device list the close asks box 106; Cancel keeps the server.
    g_bDeviceListAvailable = 0;
    m_server->m_bLinkRunning = 0;
    m_window->answers = {false};
    EXPECT_FALSE(m_window->close());
    ASSERT_EQ(m_window->asked, std::vector<int>{106});
    EXPECT_TRUE(m_window->cancelDefaults.front());
    EXPECT_TRUE(m_window->isVisible());
    EXPECT_FALSE(ended);

    m_window->answers = {true};
    EXPECT_TRUE(m_window->close());
    EXPECT_TRUE(ended);
    EXPECT_FALSE(m_window->isVisible());
    EXPECT_EQ(m_window->asked.size(), 2u);
}

TEST_F(OrbManagerWindowTest, EndedServerClosesTheWindowWithoutAsking) {
    m_window->show();
    m_server->RequestOrderlyStop();
    ASSERT_TRUE(testsupport::SpinUntil([&] { return !m_window->isVisible(); }));
    EXPECT_TRUE(m_window->asked.empty());
}

class OrbManagerWindowWaitTest : public OrbManagerWindowTest {};

TEST_F(OrbManagerWindowWaitTest, EndsWhenTheDeviceListArrivesNotByTheUser) {
    COrbManagerDlg owner;
    owner.m_nConnType = kConnTypeTcp;
    WaitDialogModel model(owner);
    WaitDialog dialog(model, 5, QStringLiteral("Waiting"));
    ASSERT_EQ(dialog.ProgressBar()->maximum(), model.TickLimit());
    EXPECT_EQ(dialog.ProgressBar()->minimum(), 0);

    bool stillOpenAfterUser = false;
    int ticksAtRelease = 0;
    QTimer::singleShot(40, &dialog, [&] {
        SendKey(&dialog, Qt::Key_Escape);
        dialog.close();
        stillOpenAfterUser = dialog.isVisible() && !model.IsDone();
        ticksAtRelease = model.TickCount();
        g_bDeviceListAvailable = 1;
    });
    dialog.Run();

    EXPECT_TRUE(stillOpenAfterUser);
    EXPECT_TRUE(model.IsDone());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_GE(ticksAtRelease, 1);
    EXPECT_EQ(dialog.ProgressBar()->value(), model.Position());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(OrbManagerWindowWaitTest, WindowRunsItUntilTheStartFails) {
    m_window->show();
    m_server->m_bStartResult = 0;
    WaitDialogModel model(*m_server);
    m_window->RunWaitDialog(model, 5);
    EXPECT_TRUE(model.IsDone());
    EXPECT_LE(model.TickCount(), 1);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

} // namespace
