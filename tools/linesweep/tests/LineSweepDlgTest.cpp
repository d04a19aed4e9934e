#include "LineSweepTestSupport.h"
#include <linesweep/LineSweepDlg.h>
#include <linesweep/ScheduleDlg.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>

#include <gtest/gtest.h>

// Fontconfig keeps its configuration for the life of the process; the font library's leak.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace {

using telephony::test::TelephonyTestEnv;
using telephony::test::TestProviderSettings;

// Widgets need a QApplication; make it before any test of this program makes a plain one.
class WidgetApplication : public ::testing::Environment {
public:
    void SetUp() override { testsupport::App<QApplication>(); }
};
const auto* const kWidgetApplication = ::testing::AddGlobalTestEnvironment(new WidgetApplication);

TEST(LineSweepDlgTest, WindowButtonsSitAtTheirPlacesAndClosingKeepsTheProgram) {
    TelephonyTestEnv env;
    CLineSweepDlg window;
    EXPECT_EQ(window.size(), QSize(210, 170));
    const struct {
        const char* name;
        QRect place;
    } buttons[] = {
        {"setup", {122, 30, 81, 19}}, {"close", {122, 80, 81, 19}}, {"exit", {122, 110, 81, 19}}};
    for (const auto& b : buttons) {
        auto* button = window.findChild<QAbstractButton*>(b.name);
        ASSERT_NE(button, nullptr) << b.name;
        EXPECT_EQ(button->geometry(), b.place) << b.name;
    }
    EXPECT_TRUE(window.ScheduleTimer().isActive());
    EXPECT_LE(window.ScheduleTimer().remainingTime(), 60250);
    window.show();
    EXPECT_FALSE(window.close()); // hidden to the tray or minimised, never ended
}

TEST(LineSweepDlgTest, SetupDialogShowsTheStoredSchedule) {
    TelephonyTestEnv env;
    env.InstallProvider("lynxtsp32.tsp", TestProviderSettings().Lines("Line 201;Line 202"));
    ASSERT_EQ(env.Register("lynxtsp32.tsp"), 0);
    linesweep::test::RecordingUi ui;
    linesweep::LineSweepController controller(ui); // creates the schedule key
    ASSERT_TRUE(linesweep::SaveSchedule({false, "All Lines", "07", "35"}));
    CScheduleDlg dialog(controller);
    ASSERT_TRUE(dialog.Prepare());
    auto* line = dialog.findChild<QComboBox*>("line");
    auto* hour = dialog.findChild<QComboBox*>("hour");
    auto* minute = dialog.findChild<QComboBox*>("minute");
    auto* scheduled = dialog.findChild<QCheckBox*>("scheduled");
    EXPECT_EQ(line->count(), 3);
    EXPECT_EQ(line->currentText(), "All Lines");
    EXPECT_EQ(hour->currentText(), "07");
    EXPECT_EQ(minute->currentText(), "35");
    EXPECT_FALSE(hour->isEnabled());
    scheduled->click();
    EXPECT_TRUE(hour->isEnabled() && minute->isEnabled());
    dialog.reject();
    EXPECT_FALSE(controller.Tapi().IsInitialised());
}

} // namespace
