#include "LineSweepTestSupport.h"
#include <linesweep/LineSweepStrings.h>
#include <linesweep/ScheduleDialogLogic.h>

#include <platform/Registry.h>

#include <QDir>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

using linesweep::LineSweepController;
using linesweep::LineSweepSchedule;
using linesweep::MessageIcon;
using linesweep::ScheduleDialogLogic;
using linesweep::TrayAction;
using telephony::test::TelephonyTestEnv;
using telephony::test::TestProviderSettings;

class LineSweepControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::App();
        env.InstallProvider("lynxtsp32.tsp", TestProviderSettings().Lines("Line 201;Line 202"));
        env.InstallProvider("other.tsp",
                            TestProviderSettings().Info("Another Provider").Lines("Line 201"));
        ASSERT_EQ(env.Register("lynxtsp32.tsp"), 0);
        ASSERT_EQ(env.Register("other.tsp"), 0);
    }
    void Schedule(bool on, const std::string& line, const std::string& hour,
                  const std::string& minute) {
        ASSERT_TRUE(linesweep::SaveSchedule({on, line, hour, minute}));
    }
    size_t Clears() const { return env.Records("devspecific").size(); }

    TelephonyTestEnv env;
    linesweep::test::RecordingUi ui;
    QDateTime now{QDate(2026, 3, 2), QTime(7, 29, 59)};
    LineSweepController controller{ui, [this] { return now; }};
};

TEST_F(LineSweepControllerTest, ImmediateClearSendsTheRequestToEachChosenLineAndClosesAll) {
    controller.ClearCallsOnLine("all lines", false);
    const std::string request = "devspecific 0 0 " + linesweep::test::kClearRequest;
    const std::string second = "devspecific 1 0 " + linesweep::test::kClearRequest;
    EXPECT_EQ(env.RawRecords(),
              (std::vector<std::string>{"lynxtsp32.tsp init", "other.tsp init",
                                        "lynxtsp32.tsp open 0", "lynxtsp32.tsp open 1",
                                        "lynxtsp32.tsp " + request, "lynxtsp32.tsp " + second,
                                        "lynxtsp32.tsp close 0", "lynxtsp32.tsp close 1",
                                        "lynxtsp32.tsp shutdown", "other.tsp shutdown"}));
    EXPECT_FALSE(controller.Tapi().IsInitialised());
    EXPECT_TRUE(ui.messages.empty());

    env.ClearRecords();
    controller.ClearCallsOnLine("line 202", false);
    EXPECT_EQ(env.Records("devspecific"), (std::vector<std::string>{second}));
    EXPECT_EQ(env.Records("close"), (std::vector<std::string>{"close 1"}));
}

TEST_F(LineSweepControllerTest, FailuresAreShownOnlyWhenNotSilentAndReleaseWhatWasOpened) {
    controller.ClearCallsOnLine("Line 299", true);
    controller.ClearCallsOnLine("Line 299", false);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].first, linesweep::kOpenLineFailed);
    EXPECT_EQ(ui.messages[0].second, MessageIcon::Hand);
    EXPECT_FALSE(controller.Tapi().IsInitialised());

    env.Configure("lynxtsp32.tsp", TestProviderSettings().OpenResult(LINEERR_RESOURCEUNAVAIL));
    controller.ClearCallsOnLine("Line 201", false);
    EXPECT_EQ(ui.messages.back().first, linesweep::kOpenLineFailed);
    EXPECT_FALSE(controller.Tapi().IsInitialised());
    EXPECT_TRUE(env.Records("devspecific").empty());

    env.Configure("lynxtsp32.tsp", TestProviderSettings().InitResult(LINEERR_REINIT));
    ui.messages.clear();
    controller.ClearCallsOnLine("All Lines", true);
    EXPECT_TRUE(ui.messages.empty());
    controller.ClearCallsOnLine("All Lines", false);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].first, linesweep::kDeviceListFailed);
}

TEST_F(LineSweepControllerTest, TheScheduleRunsOnceAtItsMinuteEachDay) {
    Schedule(true, "All Lines", "07", "30");
    controller.OnTimer(LineSweepController::kTimerId);
    EXPECT_EQ(Clears(), 0u);
    now = now.addSecs(1); // 07:30:00
    controller.OnTimer(LineSweepController::kTimerId + 1);
    EXPECT_EQ(Clears(), 0u);
    controller.OnTimer(LineSweepController::kTimerId);
    EXPECT_EQ(Clears(), 2u);
    now = now.addSecs(40); // a second tick inside the same minute
    controller.OnTimer(LineSweepController::kTimerId);
    EXPECT_EQ(Clears(), 2u);
    now = now.addDays(1);
    controller.OnTimer(LineSweepController::kTimerId);
    EXPECT_EQ(Clears(), 4u);

    now = now.addDays(1);
    Schedule(false, "All Lines", "07", "30");
    controller.OnTimer(LineSweepController::kTimerId);
    Schedule(true, "", "07", "30");
    controller.OnTimer(LineSweepController::kTimerId);
    EXPECT_EQ(Clears(), 4u);
    EXPECT_TRUE(ui.messages.empty());

    EXPECT_EQ(LineSweepController::MillisecondsToNextTick(
                  QDateTime(QDate(2026, 3, 2), QTime(7, 29, 59, 500))),
              750);
    EXPECT_EQ(LineSweepController::MillisecondsToNextTick(
                  QDateTime(QDate(2026, 3, 2), QTime(7, 30, 0, 250))),
              60000);
}

TEST_F(LineSweepControllerTest, StoredScheduleTextsAreTrimmedAndBoundedMissingMeansOff) {
    LineSweepSchedule schedule;
    schedule.scheduled = true;
    EXPECT_FALSE(linesweep::LoadSchedule(schedule) && schedule.scheduled);
    platform::RegKey key;
    ASSERT_EQ(platform::RegKey::Open(platform::RegRoot::LocalMachine, linesweep::kScheduleKey, key),
              platform::RegStatus::Ok);
    key.SetString("Line", "  Line 201 ");
    key.SetString("Hour", std::string(20, '1'));
    ASSERT_TRUE(linesweep::LoadSchedule(schedule));
    EXPECT_EQ(schedule.line, "Line 201");
    EXPECT_EQ(schedule.hour, "");
}

TEST_F(LineSweepControllerTest, TrayClicksActOnlyOnTheIconAndNotWhileSetupIsOpen) {
    EXPECT_EQ(controller.OnTrayNotify(128, LineSweepController::kLeftButtonDown),
              TrayAction::RestoreWindow);
    EXPECT_EQ(controller.OnTrayNotify(128, LineSweepController::kRightButtonUp),
              TrayAction::ShowMenu);
    EXPECT_EQ(controller.OnTrayNotify(128, 0x200), TrayAction::None);
    EXPECT_EQ(controller.OnTrayNotify(129, LineSweepController::kLeftButtonDown), TrayAction::None);
    controller.SetSetupOpen(true);
    EXPECT_EQ(controller.OnTrayNotify(128, LineSweepController::kLeftButtonDown), TrayAction::None);
}

TEST_F(LineSweepControllerTest, SetupDialogShowsTheMakersLinesAppliesAndReleasesOnCancel) {
    Schedule(false, "Line 202", "07", "30");
    {
        ScheduleDialogLogic dialog(controller);
        ASSERT_TRUE(dialog.OnInitDialog());
        EXPECT_TRUE(dialog.LineAppOpenedHere());
        EXPECT_EQ(dialog.LineItems(),
                  (std::vector<std::string>{"Line 201", "Line 202", "All Lines"}));
        EXPECT_EQ(ScheduleDialogLogic::IndexOf(dialog.LineItems(), dialog.Stored().line), 1);
        EXPECT_EQ(ScheduleDialogLogic::HourItems().size(), 24u);
        EXPECT_EQ(ScheduleDialogLogic::MinuteItems()[11], "55");

        // Scheduled with no hour chosen: a warning, focus on the hour, nothing stored.
        EXPECT_EQ(dialog.OnOK({true, "All Lines", std::nullopt, "05"}),
                  ScheduleDialogLogic::Focus::Hour);
        EXPECT_EQ(ui.messages.back().first, linesweep::kSelectHour);
        EXPECT_EQ(dialog.OnImmediately(std::nullopt), ScheduleDialogLogic::Focus::Line);
        EXPECT_EQ(dialog.OnImmediately("Line 201"), ScheduleDialogLogic::Focus::None);
        EXPECT_EQ(Clears(), 1u);
        EXPECT_TRUE(controller.Tapi().IsInitialised()); // the dialog's, kept for it
        dialog.OnCancel();
        EXPECT_FALSE(controller.Tapi().IsInitialised());
    }
    LineSweepSchedule stored;
    ASSERT_TRUE(linesweep::LoadSchedule(stored));
    EXPECT_EQ(stored.line, "Line 202");

    ScheduleDialogLogic dialog(controller);
    ASSERT_TRUE(dialog.OnInitDialog());
    // Scheduled off and nothing chosen keeps the stored texts.
    EXPECT_EQ(dialog.OnOK({false, std::nullopt, std::nullopt, std::nullopt}),
              ScheduleDialogLogic::Focus::None);
    ASSERT_TRUE(linesweep::LoadSchedule(stored));
    EXPECT_EQ(stored.line, "Line 202");
    EXPECT_EQ(stored.hour, "07");
    EXPECT_FALSE(stored.scheduled);
    EXPECT_TRUE(controller.Tapi().IsInitialised()); // kept after Apply for later clears
    EXPECT_EQ(dialog.OnOK({true, "All Lines", "23", "55"}), ScheduleDialogLogic::Focus::None);
    ASSERT_TRUE(linesweep::LoadSchedule(stored));
    EXPECT_TRUE(stored.scheduled);
    EXPECT_EQ(stored.minute, "55");

    // A setup dialog that cannot get the list says so.
    controller.Tapi().ShutDown();
    env.Configure("lynxtsp32.tsp", TestProviderSettings().Info("Another Provider"));
    ScheduleDialogLogic failing(controller);
    EXPECT_FALSE(failing.OnInitDialog());
    EXPECT_EQ(ui.messages.back().first, linesweep::kDeviceListFailed);
    EXPECT_FALSE(controller.Tapi().IsInitialised());
}

TEST_F(LineSweepControllerTest, ARegistryFileThatDoesNotReadIsNamedAndLeftAlone) {
    const std::string file = env.Path("registry.reg");
    const std::string broken =
        "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n\"A\"=dword:zz\r\n";
    std::ofstream(file, std::ios::binary | std::ios::trunc) << broken;
    const auto named = [&](const std::string& text) {
        return text.find(file + ":4: ") != std::string::npos &&
               text.find("Failed to create a registry key") == std::string::npos;
    };

    linesweep::test::RecordingUi startUi;
    // A run without a screen has only standard error to tell it.
    testing::internal::CaptureStderr();
    LineSweepController started{startUi, [this] { return now; }};
    const std::string toldAtStart = testing::internal::GetCapturedStderr();
    ASSERT_EQ(startUi.messages.size(), 1u);
    EXPECT_TRUE(named(startUi.messages[0].first)) << startUi.messages[0].first;
    EXPECT_EQ(startUi.messages[0].second, MessageIcon::Hand);
    EXPECT_EQ(toldAtStart, "linesweep: " + startUi.messages[0].first + "\n");

    // Apply cannot store the schedule and says why instead of passing for saved.
    ScheduleDialogLogic dialog(started);
    testing::internal::CaptureStderr();
    EXPECT_EQ(dialog.OnOK({false, std::nullopt, std::nullopt, std::nullopt}),
              ScheduleDialogLogic::Focus::None);
    const std::string toldAtApply = testing::internal::GetCapturedStderr();
    ASSERT_EQ(startUi.messages.size(), 2u);
    EXPECT_TRUE(named(startUi.messages[1].first)) << startUi.messages[1].first;
    EXPECT_TRUE(named(toldAtApply)) << toldAtApply;

    std::ifstream in(file, std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), {}), broken);
}

// A folder where the registry's lock file should be stops root as well as anybody else: the file
// reads (it is not there), but no key can be made.
TEST_F(LineSweepControllerTest, AScheduleKeyThatCannotBeMadeIsNamedWithTheCause) {
    const std::string registry = env.Path("unwritable.reg");
    ASSERT_TRUE(QDir().mkdir(QString::fromStdString(registry + ".lock")));
    ::setenv("QORVELL_REGISTRY", registry.c_str(), 1);
    linesweep::test::RecordingUi startUi;
    testing::internal::CaptureStderr();
    LineSweepController started{startUi, [this] { return now; }};
    const std::string told = testing::internal::GetCapturedStderr();
    ::setenv("QORVELL_REGISTRY", env.Path("registry.reg").c_str(), 1);
    ASSERT_EQ(startUi.messages.size(), 1u);
    const std::string& text = startUi.messages[0].first;
    EXPECT_EQ(text.rfind(linesweep::kRegistryKeyFailed, 0), 0u) << text;
    EXPECT_NE(text.find(registry + ".lock: Is a directory"), std::string::npos) << text;
    EXPECT_EQ(told, "linesweep: " + text + "\n");
}

} // namespace
