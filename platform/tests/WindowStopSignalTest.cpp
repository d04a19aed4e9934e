#include <platform/ui/WindowStopSignal.h>

#include <QApplication>

#include <testsupport/TestApp.h>

#include <QDialog>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <vector>

using platform::WindowStopSignal;
using testsupport::SpinUntil;

// Fontconfig keeps its configuration for the life of the process and never frees it; that is
// the font library's, not ours, and the leak checker is told so.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace {

// The widgets need a QApplication, and the first application object of the program is the one
// every test gets.
class WidgetApplication : public ::testing::Environment {
public:
    void SetUp() override { testsupport::App<QApplication>(); }
};
[[maybe_unused]] const auto* const kWidgetApplication =
    ::testing::AddGlobalTestEnvironment(new WidgetApplication);

// Runs `box` modally from the event loop with SIGTERM raised once it is up. Windows still open
// after a long while are hidden by the test, so that a fault fails instead of hanging.
struct ModalRun {
    bool returned = false;
    bool closedByTest = false;
    int result = -1;
};

void RunModalThenSignal(QDialog& box, ModalRun& run) {
    auto* guard = new QTimer(&box);
    QObject::connect(guard, &QTimer::timeout, [&run] {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (window->isVisible()) {
                run.closedByTest = true;
                window->hide();
            }
    });
    QTimer::singleShot(0, &box, [&box, &run, guard] {
        QTimer::singleShot(0, [] { ::raise(SIGTERM); });
        guard->start(std::chrono::seconds(20));
        run.result = box.exec();
        run.returned = true;
    });
}

TEST(WindowStopSignal, AtTheSignalTheOpenBoxClosesAndThenTheStopIsTold) {
    std::vector<int> told;
    bool boxOpenWhenTold = true;
    QMessageBox box(QMessageBox::Information, "title", "Cannot go on", QMessageBox::Ok);
    WindowStopSignal stop([&](int signalNumber) {
        told.push_back(signalNumber);
        boxOpenWhenTold = box.isVisible();
    });
    ASSERT_TRUE(stop.IsInstalled());
    EXPECT_FALSE(stop.IsStopping());

    ModalRun run;
    RunModalThenSignal(box, run);
    ASSERT_TRUE(SpinUntil([&] { return run.returned; }, std::chrono::seconds(30)));
    EXPECT_FALSE(run.closedByTest);
    EXPECT_EQ(run.result, QDialog::Rejected);
    EXPECT_EQ(told, std::vector<int>{SIGTERM});
    EXPECT_FALSE(boxOpenWhenTold);
    EXPECT_TRUE(stop.IsStopping());
}

TEST(WindowStopSignal, WhileStoppingBoxesAndMenusCloseAsTheyOpenButTheKeptWindowStays) {
    QDialog mainDialog;
    QMessageBox::StandardButton answer = QMessageBox::Yes;
    QAction* chosen = nullptr;
    bool keptOpenWhenTold = false;
    bool stopRan = false;
    WindowStopSignal stop;
    stop.KeepOpen(&mainDialog);
    stop.SetHandler([&](int) {
        keptOpenWhenTold = mainDialog.isVisible();
        // The stop path asks and shows a menu itself; nobody is there to answer.
        answer = QMessageBox::question(&mainDialog, "title", "Save first?",
                                       QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
        QMenu menu;
        menu.addAction("Item");
        chosen = menu.exec();
        stopRan = true;
        mainDialog.accept();
    });

    ModalRun run;
    RunModalThenSignal(mainDialog, run);
    ASSERT_TRUE(SpinUntil([&] { return run.returned; }, std::chrono::seconds(30)));
    EXPECT_TRUE(stopRan);
    EXPECT_TRUE(keptOpenWhenTold);
    EXPECT_FALSE(run.closedByTest);
    EXPECT_EQ(run.result, QDialog::Accepted) << "ended by the stop, not rejected";
    EXPECT_NE(answer, QMessageBox::Yes);
    EXPECT_EQ(chosen, nullptr);
}

TEST(WindowStopSignal, AStopPathSetAfterTheSignalIsToldFromTheEventLoop) {
    WindowStopSignal stop;
    ::raise(SIGINT);
    ASSERT_TRUE(SpinUntil([&] { return stop.IsStopping(); }));
    std::vector<int> told;
    stop.SetHandler([&](int signalNumber) { told.push_back(signalNumber); });
    EXPECT_TRUE(told.empty()) << "not from inside SetHandler";
    EXPECT_TRUE(SpinUntil([&] { return !told.empty(); }));
    EXPECT_EQ(told, std::vector<int>{SIGINT});
}

} // namespace
