#include <QApplication>

#include "DialogsFixture.h"
#include <shell/ui/LogoWidget.h>
#include <shell/ui/OrbManagerWindow.h>
#include <shell/ui/ShellDialogsUi.h>

#include <QCheckBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QSystemTrayIcon>

using namespace engine;
using namespace shell;

namespace shell_test {
namespace {

class ShellDialogsUiTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::App<QApplication>();
        server = std::make_unique<OrbManagerServer>(ShortTimings());
        server->SetResourceLookup(TestText);
        window = std::make_unique<OrbManagerWindow>(*server);
    }
    void TearDown() override {
        window.reset();
        server.reset();
    }
    TempRegistry registry;
    std::unique_ptr<OrbManagerServer> server;
    std::unique_ptr<OrbManagerWindow> window;
};

TEST_F(ShellDialogsUiTest, TheLogoOpensStillPlaysAndStopsAtItsFirstFrame) {
    ShellDialogsUi& ui = window->DialogsUi();
    ASSERT_EQ(window->Control(kIdcConnectedUsers), ui.LogoButton());
#ifdef SHELL_MEDIA_DIR
    ui.OpenLogo(std::string(SHELL_MEDIA_DIR) + "/OrbLogo.avi");
    ASSERT_TRUE(ui.Logo()->IsOpen());
    EXPECT_FALSE(ui.Logo()->IsPlaying());
    // The engine's call arrives queued on this thread.
    static_cast<COrbManagerDlg&>(*server).PlayLogoAnimation();
    QApplication::processEvents();
    EXPECT_TRUE(ui.Logo()->IsPlaying());
    ui.SetLogoPlaying(false);
    EXPECT_FALSE(ui.Logo()->IsPlaying());
    EXPECT_EQ(ui.Logo()->CurrentFrame(), 0);
#endif
    ui.OpenLogo((registry.Dir() / "OrbLogo.avi").string());
    EXPECT_FALSE(ui.Logo()->IsOpen()) << "a missing clip leaves the area empty";
    ui.SetLogoPlaying(true);
    EXPECT_FALSE(ui.Logo()->IsPlaying());
}

TEST_F(ShellDialogsUiTest, IndicatorsFollowTheMonitorOptionsAndWithoutATrayTheWindowMinimises) {
    ShellDialogsUi& ui = window->DialogsUi();
    ui.SetMonitorIndicators(true, false, true);
    EXPECT_TRUE(ui.Indicator(1101)->isChecked());
    EXPECT_FALSE(ui.Indicator(1102)->isChecked());
    EXPECT_TRUE(ui.Indicator(1105)->isChecked());
    EXPECT_FALSE(ui.Indicator(1101)->isEnabled());

    window->show();
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    EXPECT_FALSE(ui.HideToTray());
    window->HideToBackground();
    EXPECT_TRUE(window->isMinimized());
    EXPECT_FALSE(ui.IsTrayIconShown());
}

TEST_F(ShellDialogsUiTest, F11AndBOpenTheConnectedUsersDialog) {
    int opened = 0;
    // The dialog closes itself once it is up.
    QObject::connect(qApp, &QApplication::focusChanged, window.get(), [&](QWidget*, QWidget*) {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            ++opened;
            QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
        }
    });
    window->show();
    for (int key : {int(Qt::Key_F11), int(Qt::Key_B)}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &press);
        for (int i = 0; i < 20 && opened == 0; ++i)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    EXPECT_GE(opened, 1);
}

} // namespace
} // namespace shell_test
