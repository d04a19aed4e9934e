// smdrwatch's dialog logic against a test server speaking the monitor protocol, and against a
// real Brovik with a test switch.

#include <common/tests/MonitorFixture.h>

#include <smdrwatch/SmdrMonitor.h>

#include <common/MonitorSettings.h>
#include <common/MonitorTexts.h>

namespace {

using namespace monitor_test;
using testsupport::SpinUntil;

constexpr const char* kTime = "Mar 7 2009 9:5:3";

class SmdrMonitorTest : public MonitorTest {
protected:
    SmdrMonitorTest() : MonitorTest(MonitorKind::Smdr, "smdrwatchresEN.so", "1234") {}

    SmdrMonitor& Monitor(long logLimit = LogRing::kSizeLimit) {
        m_monitor = std::make_unique<SmdrMonitor>(m_view, logLimit);
        m_monitor->SetClock(FixedClock);
        m_monitor->Initialise();
        return *m_monitor;
    }

    bool Connect(SmdrMonitor& monitor) {
        monitor.OnStartMonitor();
        return m_server.WaitForConnection(5000) && m_server.WaitForRawBytes(13, 5000);
    }

    const std::vector<RecordingView::Row>& Rows(int list) { return m_view.rows[list]; }
    fs::path LogFile(const std::string& name) const { return m_registry.Dir() / "Log" / name; }

    std::unique_ptr<SmdrMonitor> m_monitor;
};

TEST_F(SmdrMonitorTest, StartSendsTheExactStartRequestOnceAndHoldsOneConnection) {
    SmdrMonitor& monitor = Monitor();
    EXPECT_EQ(m_view.fields[kIdLinkField], "Disconnected");
    EXPECT_TRUE(m_view.enabled[kIdStart]);
    ASSERT_TRUE(Connect(monitor));
    EXPECT_EQ(m_server.RawBytes(),
              (Bytes{0x00, 0x0B, 0x09, 'Z', 0xFF, 0xFF, 4, '1', '2', '3', '4', 0, 0}));
    EXPECT_EQ(m_view.fields[kIdLinkField], "Connected");
    EXPECT_FALSE(m_view.enabled[kIdStart]);
    EXPECT_TRUE(m_view.enabled[kIdStop]);

    // A configuration OK while connected leaves Start disabled; Start itself does nothing.
    MonitorSettings edited = monitor.Settings();
    edited.useAutoClear = true;
    m_view.configAnswer = edited;
    monitor.OnConfig();
    EXPECT_FALSE(m_view.enabled[kIdStart]);
    monitor.OnStartMonitor();
    testsupport::SpinFor(std::chrono::milliseconds(100));
    EXPECT_EQ(m_server.ConnectionCount(), 1);

    monitor.OnStopMonitor();
    EXPECT_TRUE(m_server.WaitForPeerClose(5000));
    EXPECT_EQ(m_view.fields[kIdLinkField], "Disconnected");
    EXPECT_TRUE(m_view.enabled[kIdStart]);
    EXPECT_FALSE(m_view.enabled[kIdStop]);
}

TEST_F(SmdrMonitorTest, PassCodesOutsideFourToSixAreRefusedBeforeConnecting) {
    CreateKey(MonitorRegistryKey(MonitorKind::Smdr)).SetString("MonitorPassCode", "1234567");
    SmdrMonitor& monitor = Monitor();
    monitor.OnStartMonitor();
    EXPECT_TRUE(m_view.HasMessage(kStrBadPassCode));
    EXPECT_FALSE(monitor.IsConnected());
    EXPECT_EQ(m_server.ConnectionCount(), 0);
}

TEST_F(SmdrMonitorTest, RecordsSplitAndJoinedByTcpAreReassembledInOrder) {
    SmdrMonitor& monitor = Monitor();
    ASSERT_TRUE(Connect(monitor));
    // One record a byte at a time, each byte its own delivery.
    const Bytes first = Framed(TextRecordBody('Z', "2001 0123456789 00:01:05"));
    for (const std::uint8_t byte : first) {
        ASSERT_TRUE(m_server.SendRaw(&byte, 1));
        testsupport::SpinFor(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(SpinUntil([&] { return Rows(SmdrMonitor::kSmdrList).size() == 1; }));
    // Two records, a record of another kind and half a record in one send, the rest in another.
    Bytes joined = Framed(TextRecordBody('U', "Q1 WAIT 3"));
    const Bytes other = Framed({'D', 0xFF, 0xFF, 2, 0, 0, 1, 0, 5, 'x'});
    const Bytes third = Framed(TextRecordBody('Z', "2002 555 00:00:09"));
    const Bytes last = Framed(TextRecordBody('U', "Q2 ANSWERED"));
    joined.insert(joined.end(), other.begin(), other.end());
    joined.insert(joined.end(), third.begin(), third.end());
    joined.insert(joined.end(), last.begin(), last.begin() + 5);
    ASSERT_TRUE(m_server.SendRaw(joined));
    ASSERT_TRUE(SpinUntil([&] { return Rows(SmdrMonitor::kSmdrList).size() == 2; }));
    ASSERT_TRUE(m_server.SendRaw(Bytes(last.begin() + 5, last.end())));
    ASSERT_TRUE(SpinUntil([&] { return Rows(SmdrMonitor::kUcdList).size() == 2; }));

    EXPECT_EQ(Rows(SmdrMonitor::kSmdrList)[0].text, "2001 0123456789 00:01:05");
    EXPECT_EQ(Rows(SmdrMonitor::kSmdrList)[0].time, kTime);
    EXPECT_EQ(Rows(SmdrMonitor::kSmdrList)[1].text, "2002 555 00:00:09");
    EXPECT_EQ(Rows(SmdrMonitor::kUcdList)[0].text, "Q1 WAIT 3");
    EXPECT_EQ(Rows(SmdrMonitor::kUcdList)[1].text, "Q2 ANSWERED");
}

TEST_F(SmdrMonitorTest, OversizedLengthsDropTheRestOfTheBlockAndTheLargestRecordPasses) {
    SmdrMonitor& monitor = Monitor();
    Bytes block = {0x01, 0xC2}; // 450 bytes announced
    block.resize(460, 'Z');
    const Bytes after = Framed(TextRecordBody('Z', "dropped"));
    block.insert(block.end(), after.begin(), after.end());
    monitor.ParseMonitorRecords(block.data(), static_cast<int>(block.size()));
    EXPECT_TRUE(Rows(SmdrMonitor::kSmdrList).empty());

    Bytes largest = TextRecordBody('Z', std::string(200, 'a'));
    largest.resize(protocol::CtiRecord::kMaxSentBodyLength, 'b');
    const Bytes frame = Framed(largest);
    monitor.ParseMonitorRecords(frame.data(), static_cast<int>(frame.size()));
    ASSERT_EQ(Rows(SmdrMonitor::kSmdrList).size(), 1u);
    EXPECT_EQ(Rows(SmdrMonitor::kSmdrList)[0].text, std::string(200, 'a'));
}

TEST(SmdrRecordText, EndsAtLfCrOnlyCutsAtTheBodyAndLeavesOutZeroBytes) {
    const auto text = [](const std::string& t, int n = -1) {
        Bytes body = TextRecordBody('Z', t);
        if (n >= 0)
            body[8] = static_cast<std::uint8_t>(n);
        return SmdrRecordText(body.data(), static_cast<int>(body.size()));
    };
    EXPECT_EQ(text("A\n\rB"), "A");
    EXPECT_EQ(text("A\r\nB"), "A\r\nB");
    EXPECT_EQ(text("AB\n"), "AB\n");
    EXPECT_EQ(text("ABCDEF", 40), "ABCDEF");
    EXPECT_EQ(text("ABCDEF", 3), "ABC");
    EXPECT_EQ(text(std::string("A\0B", 3)), "AB");
    const Bytes shortBody = {'Z', 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(SmdrRecordText(shortBody.data(), 4), "");
}

TEST_F(SmdrMonitorTest, AutoClearCountsRowsAndClearsOnlyWhileSwitchedOn) {
    platform::RegKey key = CreateKey(MonitorRegistryKey(MonitorKind::Smdr));
    key.SetDword("AutoClearCount", 100);
    key.SetDword("UseAutoClear", 1);
    SmdrMonitor& monitor = Monitor();
    const Bytes frame = Framed(TextRecordBody('Z', "call"));
    for (int i = 0; i < 100; ++i)
        monitor.ParseMonitorRecords(frame.data(), static_cast<int>(frame.size()));
    EXPECT_EQ(Rows(SmdrMonitor::kSmdrList).size(), 100u);
    EXPECT_EQ(m_view.clears[SmdrMonitor::kSmdrList], 0);
    monitor.ParseMonitorRecords(frame.data(), static_cast<int>(frame.size()));
    EXPECT_EQ(Rows(SmdrMonitor::kSmdrList).size(), 1u);
    EXPECT_EQ(m_view.clears[SmdrMonitor::kSmdrList], 1);
    EXPECT_EQ(m_view.clears[SmdrMonitor::kUcdList], 0);

    monitor.MutableSettings().useAutoClear = false;
    for (int i = 0; i < 150; ++i)
        monitor.ParseMonitorRecords(frame.data(), static_cast<int>(frame.size()));
    EXPECT_EQ(Rows(SmdrMonitor::kSmdrList).size(), 151u);
    monitor.OnClearSmdr();
    EXPECT_TRUE(Rows(SmdrMonitor::kSmdrList).empty());
}

// A server that sends faster than the monitor reads: many records come in one read.
TEST_F(SmdrMonitorTest, ABurstReachesBothLogsWholeAndInOrderWhileConnectedAndTheListsStayBounded) {
    platform::RegKey key = CreateKey(MonitorRegistryKey(MonitorKind::Smdr));
    key.SetDword("UseSMDRFileSave", 1);
    key.SetDword("UseUCDFileSave", 1);
    key.SetDword("UseAutoClear", 1);
    key.SetDword("AutoClearCount", 100);
    SmdrMonitor& monitor = Monitor();
    ASSERT_TRUE(Connect(monitor));
    const auto text = [](char kind, int n) {
        return std::string(1, kind) + " " + std::to_string(n) + " " + std::string(200, 'x');
    };
    Bytes burst;
    const std::string t = kTime;
    std::string smdrLines, ucdLines;
    for (int n = 0; n < 150; ++n) {
        for (const char kind : {'Z', 'U'}) {
            const Bytes frame = Framed(TextRecordBody(kind, text(kind, n)));
            burst.insert(burst.end(), frame.begin(), frame.end());
        }
        smdrLines += "[" + t + "] " + text('Z', n) + "\n";
        ucdLines += "[" + t + "] " + text('U', n) + "\n\n";
    }
    ASSERT_TRUE(m_server.SendRaw(burst));
    const fs::path smdr0 = LogFile("smdr0.log"), ucd0 = LogFile("ucd0.log");
    const std::string smdrHead =
        ">>>>> SMDR Log File : " + smdr0.string() + ", Open Time : " + t + " <<<<<\n";
    const std::string ucdHead =
        ">>>>> UCD Log File : " + ucd0.string() + ", Open Time : " + t + " <<<<<\n";
    // Still connected: nothing but the end of the reads brings the lines to the files.
    ASSERT_TRUE(SpinUntil(
        [&] {
            return ReadFile(smdr0).size() >= smdrHead.size() + smdrLines.size() &&
                   ReadFile(ucd0).size() >= ucdHead.size() + ucdLines.size();
        },
        std::chrono::seconds(30)));
    EXPECT_EQ(ReadFile(smdr0), smdrHead + smdrLines);
    EXPECT_EQ(ReadFile(ucd0), ucdHead + ucdLines);
    // 150 rows each against a bound of 100: the last clear left rows 100 to 149.
    for (const auto& [list, kind] :
         {std::pair{SmdrMonitor::kSmdrList, 'Z'}, std::pair{SmdrMonitor::kUcdList, 'U'}}) {
        ASSERT_EQ(Rows(list).size(), 50u) << list;
        EXPECT_EQ(Rows(list).front().text, text(kind, 100)) << list;
        EXPECT_EQ(Rows(list).back().text, text(kind, 149)) << list;
        EXPECT_LE(m_view.mostRows[list], 100u) << list;
    }
    monitor.OnStopMonitor();
    EXPECT_EQ(ReadFile(smdr0),
              smdrHead + smdrLines + ">>>>> SMDR Log File Closed Time : " + t + "\n");
}

// The blocks of one read are parsed one by one: a length that cannot be costs the rest of its
// own block only.
TEST_F(SmdrMonitorTest, ABadLengthInOneBlockOfAReadLeavesTheNextBlockWhole) {
    CreateKey(MonitorRegistryKey(MonitorKind::Smdr)).SetDword("UseSMDRFileSave", 1);
    SmdrMonitor& monitor = Monitor();
    ASSERT_TRUE(Connect(monitor));
    Bytes read = {0x01, 0xC2, 'Z', 'Z', 'Z'}; // 450 bytes announced
    const Bytes dropped = Framed(TextRecordBody('Z', "dropped"));
    read.insert(read.end(), dropped.begin(), dropped.end());
    const int first = static_cast<int>(read.size());
    const Bytes kept = Framed(TextRecordBody('Z', "kept"));
    read.insert(read.end(), kept.begin(), kept.end());
    monitor.ParseMonitorBlocks(read.data(), {first, static_cast<int>(kept.size())});
    ASSERT_EQ(Rows(SmdrMonitor::kSmdrList).size(), 1u);
    EXPECT_EQ(Rows(SmdrMonitor::kSmdrList)[0].text, "kept");
    const std::string log = ReadFile(LogFile("smdr0.log"));
    EXPECT_NE(log.find("] kept\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("dropped"), std::string::npos) << log;
}

TEST_F(SmdrMonitorTest, LogsHaveTheirHeaderLineAndCloseFormatsAndAStartKeepsTheLastSession) {
    platform::RegKey key = CreateKey(MonitorRegistryKey(MonitorKind::Smdr));
    key.SetDword("UseSMDRFileSave", 1);
    key.SetDword("UseUCDFileSave", 1);
    SmdrMonitor& monitor = Monitor();
    ASSERT_TRUE(Connect(monitor));
    const fs::path smdr0 = LogFile("smdr0.log"), ucd0 = LogFile("ucd0.log");
    EXPECT_EQ(monitor.SmdrLog().Path(), smdr0.string());
    Bytes both = Framed(TextRecordBody('Z', "A\n\rB"));
    const Bytes ucd = Framed(TextRecordBody('U', "Q1 ABANDON"));
    both.insert(both.end(), ucd.begin(), ucd.end());
    ASSERT_TRUE(m_server.SendRaw(both));
    ASSERT_TRUE(SpinUntil([&] { return Rows(SmdrMonitor::kUcdList).size() == 1; }));
    monitor.OnStopMonitor();

    const std::string t = kTime;
    EXPECT_EQ(ReadFile(smdr0), ">>>>> SMDR Log File : " + smdr0.string() + ", Open Time : " + t +
                                   " <<<<<\n[" + t + "] A\n>>>>> SMDR Log File Closed Time : " + t +
                                   "\n");
    EXPECT_EQ(ReadFile(ucd0), ">>>>> UCD Log File : " + ucd0.string() + ", Open Time : " + t +
                                  " <<<<<\n[" + t +
                                  "] Q1 ABANDON\n\n>>>>> UCD Log File Closed Time : " + t + "\n");
    // The next start writes into the next file of the ring and leaves the last session's.
    ASSERT_TRUE(Connect(monitor));
    EXPECT_EQ(monitor.SmdrLog().Path(), LogFile("smdr1.log").string());
    EXPECT_NE(ReadFile(smdr0).find("] A\n"), std::string::npos);
}

TEST_F(SmdrMonitorTest, AnUnusableLogFolderIsNamedAndTheRecordsStillArrive) {
    CreateKey(MonitorRegistryKey(MonitorKind::Smdr)).SetDword("UseSMDRFileSave", 1);
    std::ofstream(m_registry.Dir() / "Log") << "a file where the folder belongs";
    SmdrMonitor& monitor = Monitor();
    ASSERT_TRUE(Connect(monitor));
    EXPECT_TRUE(m_view.HasMessage(kStrLogFailed));
    EXPECT_FALSE(monitor.SmdrLog().IsOpen());
    const std::string why = monitor.SmdrLog().ErrorText();
    EXPECT_NE(why.find((m_registry.Dir() / "Log").string()), std::string::npos) << why;
    EXPECT_NE(why.find("Not a directory"), std::string::npos) << why;
    m_server.SendRecord(TextRecordBody('Z', "2001 5551234"));
    ASSERT_TRUE(SpinUntil([&] { return !Rows(SmdrMonitor::kSmdrList).empty(); }));
    EXPECT_EQ(Rows(SmdrMonitor::kSmdrList).at(0).text, "2001 5551234");
}

TEST_F(SmdrMonitorTest, ALineThatWouldPassTheLimitGoesIntoTheNextFileBehindANewHeader) {
    CreateKey(MonitorRegistryKey(MonitorKind::Smdr)).SetDword("UseSMDRFileSave", 1);
    SmdrMonitor& monitor = Monitor(400);
    ASSERT_TRUE(Connect(monitor));
    const Bytes frame = Framed(TextRecordBody('Z', std::string(100, 'r')));
    for (int i = 0; i < 3; ++i)
        monitor.ParseMonitorRecords(frame.data(), static_cast<int>(frame.size()));
    EXPECT_EQ(monitor.SmdrLog().Index(), 1);
    const std::string next = ReadFile(LogFile("smdr1.log"));
    EXPECT_EQ(next.rfind(">>>>> SMDR Log File : " + LogFile("smdr1.log").string(), 0), 0u);
    EXPECT_NE(next.find("[" + std::string(kTime) + "] " + std::string(100, 'r') + "\n"),
              std::string::npos);
}

TEST_F(SmdrMonitorTest, TheServersCloseShowsItsMessageAndStops) {
    SmdrMonitor& monitor = Monitor();
    ASSERT_TRUE(Connect(monitor));
    m_server.CloseConnection();
    ASSERT_TRUE(SpinUntil([&] { return !monitor.IsConnected(); }));
    EXPECT_TRUE(m_view.HasMessage(kStrServerClosed));
    EXPECT_EQ(m_view.fields[kIdLinkField], "Disconnected");
    EXPECT_TRUE(m_view.enabled[kIdStart]);
}

TEST_F(SmdrMonitorTest, AnUnconfiguredAddressOpensTheConfigurationAtOnceAndItsOkIsStored) {
    CreateKey(MonitorRegistryKey(MonitorKind::Smdr)).DeleteValue("Monitor Server IP Address");
    MonitorSettings answer = MonitorSettings::Defaults(MonitorKind::Smdr);
    answer.serverAddress = "10.1.2.3";
    answer.passCode = "9876";
    answer.useSmdrFileSave = true;
    answer.installedPath = m_registry.Dir().string();
    answer.language = kLangGerman;
    m_view.configAnswer = answer;
    SmdrMonitor& monitor = Monitor();
    EXPECT_EQ(m_view.configRuns, 1);
    EXPECT_TRUE(m_view.HasMessage(kStrLanguageChanged));
    EXPECT_EQ(m_view.fields[kIdAddressField], "10.1.2.3");
    EXPECT_EQ(m_view.fields[kIdFileSaveField], "On");
    EXPECT_TRUE(m_view.enabled[kIdStart]);
    EXPECT_TRUE(monitor.SmdrLog().IsOpen());
    std::string text;
    CreateKey(MonitorRegistryKey(MonitorKind::Smdr)).QueryString("Extension", text);
    EXPECT_EQ(text, "GER");
    CreateKey(MonitorRegistryKey(MonitorKind::Smdr)).QueryString("MonitorPassCode", text);
    EXPECT_EQ(text, "9876");
}

TEST_F(SmdrMonitorTest, TheProgramEndsWithoutAWindowWhenItsLanguageLibraryIsMissing) {
    CreateKey(MonitorRegistryKey(MonitorKind::Smdr))
        .SetString("DllPath", m_registry.Dir().string());
    testsupport::ChildProcess::Options options;
    options.outputFile = (m_registry.Dir() / "output.txt").string();
    testsupport::ChildProcess program(SMDRWATCH_PATH, {}, options);
    ASSERT_TRUE(program.Started());
    EXPECT_EQ(program.WaitExit(15000), std::optional<int>(1));
    // It names the file it tried and the loader's reason.
    const std::string output = ReadFile(options.outputFile);
    const std::string tried = m_registry.Dir().string() + "/smdrwatchresEN.so";
    EXPECT_NE(output.find(tried), std::string::npos) << output;
    EXPECT_NE(output.find("No such file"), std::string::npos) << output;
    // With the library it runs until it is told to end, and ends cleanly.
    CreateKey(MonitorRegistryKey(MonitorKind::Smdr)).SetString("DllPath", MONITOR_LIBRARY_DIR);
    testsupport::ChildProcess running(SMDRWATCH_PATH, {"--start", "--quit-after=1"});
    EXPECT_EQ(running.WaitExit(15000), std::optional<int>(0));
    EXPECT_TRUE(m_server.WaitForRawBytes(13, 5000));
}

TEST_F(SmdrMonitorTest, QuitAfterEndsTheProgramWhileItsConfigurationDialogIsOpen) {
    CreateKey(MonitorRegistryKey(MonitorKind::Smdr)).SetString("DllPath", MONITOR_LIBRARY_DIR);
    // The placeholder address opens the configuration at once, and it stays open.
    CreateKey(MonitorRegistryKey(MonitorKind::Smdr))
        .SetString("Monitor Server IP Address", "1.1.1.1");
    testsupport::ChildProcess program(SMDRWATCH_PATH, {"--quit-after=1"});
    ASSERT_TRUE(program.Started());
    EXPECT_EQ(program.WaitExit(15000), std::optional<int>(0));
}

TEST(SmdrWatchWithBrovik, RecordsFromTheSwitchReachTheListsAndAWrongCodeIsClosed) {
    testsupport::App<QApplication>();
    BrovikWithMonitors brovik;
    ASSERT_TRUE(brovik.Start());
    MonitorLanguage language;
    ASSERT_TRUE(LoadLanguage(language, "smdrwatchresEN.so"));
    RecordingView view(language);
    WriteMonitorKey(MonitorRegistryKey(MonitorKind::Smdr), brovik.Dir(), "localhost",
                    brovik.SmdrPort(), BrovikWithMonitors::kAccessCode);
    SmdrMonitor monitor(view);
    monitor.Initialise();
    monitor.OnStartMonitor();
    ASSERT_TRUE(monitor.IsConnected());
    // The server admits the monitor once it has read the request; until then nothing is sent,
    // and it may come between the two records of a round: wait until each list has one.
    ASSERT_TRUE(SpinUntil([&] {
        brovik.Switch().Switch().SendRecord(TextRecordBody('Z', "2001 5551234 00:00:42"));
        brovik.Switch().Switch().SendRecord(TextRecordBody('U', "UCD GRP 1 CALLS 2"));
        return !view.rows[SmdrMonitor::kSmdrList].empty() &&
               !view.rows[SmdrMonitor::kUcdList].empty();
    }));
    EXPECT_EQ(view.rows[SmdrMonitor::kSmdrList].at(0).text, "2001 5551234 00:00:42");
    EXPECT_EQ(view.rows[SmdrMonitor::kUcdList].at(0).text, "UCD GRP 1 CALLS 2");
    EXPECT_FALSE(view.HasMessage(kStrServerClosed));

    RecordingView refusedView(language);
    CreateKey(MonitorRegistryKey(MonitorKind::Smdr)).SetString("MonitorPassCode", "111111");
    SmdrMonitor refused(refusedView);
    refused.Initialise();
    refused.OnStartMonitor();
    EXPECT_EQ(refusedView.fields[kIdLinkField], "Connected");
    ASSERT_TRUE(SpinUntil([&] { return !refused.IsConnected(); }));
    EXPECT_TRUE(refusedView.HasMessage(kStrServerClosed));
}

} // namespace
