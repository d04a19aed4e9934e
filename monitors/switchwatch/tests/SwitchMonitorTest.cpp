// switchwatch: its rows and log lines, the window built from its library, the program's single
// instance, and the traffic of a real Brovik.

#include <common/tests/MonitorFixture.h>

#include <switchwatch/SwitchMonitor.h>

#include <common/MonitorSettings.h>
#include <common/MonitorTexts.h>
#include <common/MonitorWindow.h>

#include <common/DialogBuilder.h>

#include <QLineEdit>

#include <cmath>
#include <csignal>

#include <QTreeWidget>

// Fontconfig keeps its configuration for the life of the process and never frees it; that is
// the font library's, not ours, and the leak checker is told so.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace {

using namespace monitor_test;
using testsupport::SpinUntil;

constexpr const char* kListTime = "Mar 7, 2009 09:05:03";
constexpr const char* kLogTime = "20090307 09:05:03.042";

TEST(SwitchRows, TheDirectionComesFromByteZeroAndLettersAreQuotedOnlyInTheList) {
    const auto row = [](const Bytes& body) {
        return SwitchRowText(body.data(), static_cast<int>(body.size()));
    };
    EXPECT_EQ(row({0x44, 0xFF, 0xFF, 0x01}), "'D' FF FF 01 ");
    EXPECT_EQ(row({0x02, 0x52, 0xFF}), "'R' FF ");
    EXPECT_EQ(row({0x45, 0x41, 0x0B}), "'E' 'A' 0B ");
    EXPECT_TRUE(IsFromSwitch(0x44));
    EXPECT_TRUE(IsFromSwitch(0x5B));
    EXPECT_TRUE(IsFromSwitch(0x60));
    EXPECT_FALSE(IsFromSwitch(0x02));
    EXPECT_FALSE(IsFromSwitch(0x7B));
    const Bytes event = {0x45, 0x41, 0x0B};
    EXPECT_EQ(SwitchLogDump(event.data(), 3, false), "<<== [SW] 'E' 41 0B ");
    EXPECT_EQ(SwitchLogDump(event.data(), 0, true), "");
}

class SwitchMonitorTest : public MonitorTest {
protected:
    SwitchMonitorTest() : MonitorTest(MonitorKind::Switch, "NMResENG.so", "507193") {}

    // The window shows the monitor with the library's direction images, and one event from the
    // switch arrives.
    void AttachAndShowAnEvent(MonitorWindow& window, SwitchMonitor& monitor) {
        window.Attach(monitor, {{SwitchMonitor::kList,
                                 {DialogBuilder::Icon(m_language, 133),
                                  DialogBuilder::Icon(m_language, 132)}}});
        monitor.Initialise();
        const Bytes event = Framed({0x44, 0xFF, 0xFF, 0x01});
        monitor.ParseMonitorRecords(event.data(), static_cast<int>(event.size()));
    }
};

TEST_F(SwitchMonitorTest, RowsCarryTheirImageAndTheLogHoldsBothDirectionsAndTheReports) {
    CreateKey(MonitorRegistryKey(MonitorKind::Switch)).SetDword("UseFileSave", 1);
    SwitchMonitor monitor(m_view);
    monitor.SetClock(FixedClock);
    monitor.Initialise();
    EXPECT_EQ(m_view.fields[kIdPortField], std::to_string(m_server.Port()));
    monitor.OnStartMonitor();
    ASSERT_TRUE(m_server.WaitForRawBytes(13, 5000));
    EXPECT_EQ(m_server.RawBytes(),
              (Bytes{0x00, 0x0B, 0x09, 'Z', 0xFF, 0xFF, 6, '5', '0', '7', '1', '9', '3'}));
    Bytes traffic = Framed({0x44, 0xFF, 0xFF, 0x01});
    const Bytes request = Framed({0x02, 0x52, 0xFF});
    traffic.insert(traffic.end(), request.begin(), request.end());
    ASSERT_TRUE(m_server.SendRaw(traffic));
    auto& rows = m_view.rows[SwitchMonitor::kList];
    ASSERT_TRUE(SpinUntil([&] { return rows.size() == 2; }));
    EXPECT_EQ(rows[0].text, "'D' FF FF 01 ");
    EXPECT_EQ(rows[0].image, SwitchMonitor::kImageFromSwitch);
    EXPECT_EQ(rows[0].time, kListTime);
    EXPECT_EQ(rows[1].text, "'R' FF ");
    EXPECT_EQ(rows[1].image, SwitchMonitor::kImageToSwitch);
    monitor.OnStopMonitor();

    const fs::path log = m_registry.Dir() / "Log" / "swmsg0.log";
    const std::string l = std::string("[") + kLogTime + "]\t";
    EXPECT_EQ(ReadFile(log), ">>>>> Switch Message Log File : " + log.string() + ", Open Time : " +
                                 kLogTime + " <<<<<\n" + l + "IPv4 connection created.\n\n" + l +
                                 "<<== [SW] 'D' FF FF 01 \n" + l + "==>> [SW] 'R' FF \n" +
                                 "Log File Closed Time : " + kListTime + "\n");
}

// A switch event of 398 bytes with its number in bytes 1 to 4.
Bytes NumberedEvent(std::uint32_t n) {
    Bytes body(398);
    body[0] = 'D';
    for (int i = 0; i < 4; ++i)
        body[1 + i] = static_cast<std::uint8_t>(n >> (24 - 8 * i));
    for (std::size_t i = 5; i < body.size(); ++i)
        body[i] = static_cast<std::uint8_t>(n + i);
    return body;
}

// A server that sends faster than the monitor reads: many records come in one read.
TEST_F(SwitchMonitorTest, ABurstReachesTheLogWholeAndInOrderWhileConnectedAndTheListStaysBounded) {
    platform::RegKey key = CreateKey(MonitorRegistryKey(MonitorKind::Switch));
    key.SetDword("UseFileSave", 1);
    key.SetDword("UseAutoClear", 1);
    key.SetDword("AutoClearCount", 100);
    SwitchMonitor monitor(m_view);
    monitor.SetClock(FixedClock);
    monitor.Initialise();
    monitor.OnStartMonitor();
    ASSERT_TRUE(m_server.WaitForRawBytes(13, 5000));
    Bytes burst;
    const std::string l = std::string("[") + kLogTime + "]\t";
    std::string lines;
    for (std::uint32_t n = 0; n < 450; ++n) {
        const Bytes body = NumberedEvent(n);
        const Bytes frame = Framed(body);
        burst.insert(burst.end(), frame.begin(), frame.end());
        lines += l + SwitchLogDump(body.data(), static_cast<int>(body.size()), false) + "\n";
    }
    ASSERT_TRUE(m_server.SendRaw(burst));
    const fs::path log = m_registry.Dir() / "Log" / "swmsg0.log";
    const std::string head = ">>>>> Switch Message Log File : " + log.string() +
                             ", Open Time : " + kLogTime + " <<<<<\n" + l +
                             "IPv4 connection created.\n\n";
    // Still connected: nothing but the end of the reads brings the lines to the file.
    ASSERT_TRUE(SpinUntil([&] { return ReadFile(log).size() >= head.size() + lines.size(); },
                          std::chrono::seconds(30)));
    EXPECT_EQ(ReadFile(log), head + lines);
    // 450 rows against a bound of 100: the last clear left rows 400 to 449.
    const auto& rows = m_view.rows[SwitchMonitor::kList];
    ASSERT_EQ(rows.size(), 50u);
    const auto rowText = [](std::uint32_t n) {
        const Bytes body = NumberedEvent(n);
        return SwitchRowText(body.data(), static_cast<int>(body.size()));
    };
    EXPECT_EQ(rows.front().text, rowText(400));
    EXPECT_EQ(rows.back().text, rowText(449));
    EXPECT_LE(m_view.mostRows[SwitchMonitor::kList], 100u);
    monitor.OnStopMonitor();
    EXPECT_EQ(ReadFile(log), head + lines + "Log File Closed Time : " + kListTime + "\n");
}

// One read may bring more rows than the bound: the window keeps those after the last clear, in
// order, and soon shows the newest of them.
TEST_F(SwitchMonitorTest, TheWindowsListHoldsTheRowsAfterTheLastClearAndComesToShowTheNewest) {
    MonitorWindow window(MonitorKind::Switch, m_language, QIcon());
    ASSERT_TRUE(window.IsBuilt());
    window.SetAutoAnswer(true);
    SwitchMonitor monitor(window);
    window.Attach(monitor,
                  {{SwitchMonitor::kList,
                    {DialogBuilder::Icon(m_language, 133), DialogBuilder::Icon(m_language, 132)}}});
    monitor.Initialise();
    monitor.MutableSettings().useAutoClear = true;
    monitor.MutableSettings().autoClearCount = 1000;
    window.show();
    Bytes read;
    for (std::uint32_t n = 0; n < 2500; ++n) {
        const Bytes frame = Framed(
            {0x44, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n & 0xFF), 0x01});
        read.insert(read.end(), frame.begin(), frame.end());
    }
    monitor.ParseMonitorRecords(read.data(), static_cast<int>(read.size()));
    QTreeWidget* list = window.List(SwitchMonitor::kList);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->topLevelItemCount(), 500);
    EXPECT_EQ(list->topLevelItem(0)->text(1), "'D' 07 D0 01 ");   // row 2000
    EXPECT_EQ(list->topLevelItem(499)->text(1), "'D' 09 C3 01 "); // row 2499
    QTreeWidgetItem* newest = list->topLevelItem(499);
    EXPECT_TRUE(SpinUntil([&] {
        return list->updatesEnabled() &&
               list->viewport()->rect().contains(list->visualItemRect(newest).center());
    }));
}

TEST_F(SwitchMonitorTest, TheWindowIsBuiltFromTheLibraryWithItsCaptionAndDirectionImages) {
    MonitorWindow window(MonitorKind::Switch, m_language, QIcon());
    ASSERT_TRUE(window.IsBuilt());
    EXPECT_EQ(window.windowTitle(), "Orb CTI Message Monitor");
    window.SetAutoAnswer(true);
    SwitchMonitor monitor(window);
    AttachAndShowAnEvent(window, monitor);
    QTreeWidget* list = window.List(SwitchMonitor::kList);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(list->topLevelItem(0)->text(1), "'D' FF FF 01 ");
    EXPECT_FALSE(list->topLevelItem(0)->icon(0).isNull());
    EXPECT_EQ(list->headerItem()->text(0), "Time");
    auto* link = qobject_cast<QLineEdit*>(window.Control(kIdLinkField));
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->text(), "Disconnected");
    EXPECT_TRUE(window.Control(kIdStart)->isEnabled());
    EXPECT_FALSE(window.Control(kIdStop)->isEnabled());
}

// The template gives the Time column a fifth of the list; in dialog units of the font the window
// is shown in, that holds the whole time, and the window keeps the template's proportions.
TEST_F(SwitchMonitorTest, TheTimeColumnHoldsTheWholeTimeInTheFontTheWindowIsShownIn) {
    MonitorWindow window(MonitorKind::Switch, m_language, QIcon());
    ASSERT_TRUE(window.IsBuilt());
    window.SetAutoAnswer(true);
    SwitchMonitor monitor(window);
    monitor.SetClock([] {
        return MonitorClock{
            .year = 2028, .month = 12, .day = 28, .hour = 20, .minute = 58, .second = 48};
    });
    AttachAndShowAnEvent(window, monitor);
    QTreeWidget* list = window.List(SwitchMonitor::kList);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(list->topLevelItem(0)->text(0), "Dec 28, 2028 20:58:48");
    EXPECT_LE(list->sizeHintForIndex(list->model()->index(0, 0)).width(), list->columnWidth(0));
    EXPECT_GE(list->columnWidth(0), list->width() / 5);
    EXPECT_LE(list->columnWidth(0) + list->columnWidth(1), list->width());

    const DialogBuilder::Units units = DialogBuilder::UnitsOf(window.font());
    EXPECT_EQ(list->width(), std::lround(365 * units.x));
    EXPECT_EQ(window.width(), std::lround(451 * units.x));
    EXPECT_EQ(window.height(), std::lround(306 * units.y));
    // A font twice the size has units about twice as large.
    QFont large = window.font();
    large.setPointSize(window.font().pointSize() * 2);
    const DialogBuilder::Units doubled = DialogBuilder::UnitsOf(large);
    EXPECT_NEAR(doubled.x / units.x, 2.0, 0.3);
    EXPECT_NEAR(doubled.y / units.y, 2.0, 0.3);
}

TEST_F(SwitchMonitorTest, ASecondStartOfTheProgramEndsAndLeavesTheFirstRunning) {
    testsupport::ChildProcess first(SWITCHWATCH_PATH, {"--quit-after=60"});
    ASSERT_TRUE(first.Started());
    const std::string lock = SwitchMonitor::LockPathForRegistry(platform::RegistryFilePath());
    ASSERT_TRUE(SpinUntil([&] { return fs::exists(lock); }, std::chrono::seconds(15)));
    testsupport::ChildProcess second(SWITCHWATCH_PATH, {});
    EXPECT_EQ(second.WaitExit(60000), std::optional<int>(0)); // a start is slow on a loaded machine
    EXPECT_EQ(first.WaitExit(0), std::nullopt);
}

// A plain file where the registry folder should be stops root as well as anybody else.
TEST_F(SwitchMonitorTest, AStartThatCannotTakeItsLockNamesTheFolderAndTheCause) {
    const fs::path blocker = m_registry.Dir() / "plain-file";
    std::ofstream(blocker) << "not a folder\n";
    const std::string previous = platform::RegistryFilePath();
    ::setenv("QORVELL_REGISTRY", (blocker / "registry.reg").c_str(), 1);
    testsupport::ChildProcess::Options options;
    options.outputFile = (m_registry.Dir() / "switchwatch.out").string();
    testsupport::ChildProcess program(SWITCHWATCH_PATH, {}, options);
    ::setenv("QORVELL_REGISTRY", previous.c_str(), 1);
    EXPECT_EQ(program.WaitExit(60000), std::optional<int>(1));
    const std::string told = ReadFile(options.outputFile);
    EXPECT_NE(told.find("Detected an error during loading this monitor program instance."),
              std::string::npos)
        << told;
    EXPECT_NE(told.find(blocker.string() + " "), std::string::npos) << told;
    EXPECT_NE(told.find("Not a directory"), std::string::npos) << told;
}

TEST_F(SwitchMonitorTest, TermAndIntEndTheProgramInOrderWithTheLogClosed) {
    CreateKey(MonitorRegistryKey(MonitorKind::Switch)).SetDword("UseFileSave", 1);
    for (int signal : {SIGTERM, SIGINT}) {
        testsupport::TestSwitch server;
        ASSERT_TRUE(server.IsListening());
        CreateKey(MonitorRegistryKey(MonitorKind::Switch))
            .SetDword("Monitor Server Port No", static_cast<std::uint32_t>(server.Port()));
        testsupport::ChildProcess program(SWITCHWATCH_PATH, {"--start"});
        ASSERT_TRUE(program.Started());
        ASSERT_TRUE(server.WaitForConnection(15000));
        ASSERT_TRUE(server.WaitForRawBytes(13, 5000));
        program.Signal(signal);
        EXPECT_EQ(program.WaitExit(15000), std::optional<int>(0)) << signal;
        bool closed = false;
        for (int i = 0; i < 10 && !closed; ++i)
            closed = ReadFile(m_registry.Dir() / "Log" / ("swmsg" + std::to_string(i) + ".log"))
                         .find("Log File Closed Time : ") != std::string::npos;
        EXPECT_TRUE(closed) << signal;
        std::error_code ignored;
        fs::remove_all(m_registry.Dir() / "Log", ignored);
    }
}

TEST(SwitchWatchWithBrovik, SwitchEventsArriveAsRowsFromTheSwitch) {
    testsupport::App<QApplication>();
    BrovikWithMonitors brovik;
    ASSERT_TRUE(brovik.Start());
    MonitorLanguage language;
    ASSERT_TRUE(LoadLanguage(language, "NMResENG.so"));
    RecordingView view(language);
    WriteMonitorKey(MonitorRegistryKey(MonitorKind::Switch), brovik.Dir(), "127.0.0.1",
                    brovik.MsgPort(), BrovikWithMonitors::kAccessCode);
    SwitchMonitor monitor(view);
    monitor.Initialise();
    monitor.OnStartMonitor();
    ASSERT_TRUE(monitor.IsConnected());
    const Bytes offering = {'D', 0xFF, 0xFF, 2,    0,    1,    0xFF, 0,
                            2,   0,    2,    0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    // The server's own traffic with the switch may reach the list before the offering does.
    auto& rows = view.rows[SwitchMonitor::kList];
    const auto offered = [&] {
        return std::find_if(rows.begin(), rows.end(), [](const RecordingView::Row& row) {
            return row.text == "'D' FF FF 02 00 01 FF 00 02 00 02 FF FF FF FF FF ";
        });
    };
    ASSERT_TRUE(SpinUntil([&] {
        brovik.Switch().Switch().SendRecord(offering);
        return offered() != rows.end();
    }));
    EXPECT_EQ(offered()->image, SwitchMonitor::kImageFromSwitch);
}

} // namespace
