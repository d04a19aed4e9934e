// The shared core without a server: start request, settings and their registry rules, the
// configuration checks, the log ring, the time texts and the English library's resources.

#include "MonitorFixture.h"

#include <common/ConfigDialog.h>
#include <common/ConfigValidation.h>
#include <common/DialogBuilder.h>
#include <common/LogRing.h>
#include <common/MonitorApp.h>
#include <common/MonitorConnection.h>
#include <common/MonitorSettings.h>
#include <common/MonitorTexts.h>
#include <common/MonitorTime.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

#include <testsupport/FileMode.h>

#include <fstream>
#include <thread>

// Fontconfig keeps its configuration for the life of the process and never frees it; that is
// the font library's, not ours, and the leak checker is told so.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace {

using namespace monitor_test;

TEST(MonitorStartRequest, CarriesTheCodeZeroFilledAndNeverMoreThanSixCharacters) {
    EXPECT_EQ(BuildMonitorStartRequest("1234"),
              (Bytes{0x00, 0x0B, 0x09, 'Z', 0xFF, 0xFF, 4, '1', '2', '3', '4', 0, 0}));
    EXPECT_EQ(BuildMonitorStartRequest("507193"),
              (Bytes{0x00, 0x0B, 0x09, 'Z', 0xFF, 0xFF, 6, '5', '0', '7', '1', '9', '3'}));
    const Bytes longer = BuildMonitorStartRequest("12345678");
    EXPECT_EQ(longer.size(), 13u);
    EXPECT_EQ(longer[6], 6);
    EXPECT_FALSE(IsValidPassCode("123"));
    EXPECT_TRUE(IsValidPassCode("1234"));
    EXPECT_TRUE(IsValidPassCode("123456"));
    EXPECT_FALSE(IsValidPassCode("1234567"));
}

TEST(MonitorConnect, ReportsAnUnknownHostAndARefusedPortWithTheProgramsTags) {
    std::vector<std::string> reports;
    const ConnectReports tags{"[ERROR]", "", [&](const std::string& t) { reports.push_back(t); }};
    EXPECT_LT(ConnectToMonitorServer("no-such-host.invalid", 6001, tags), 0);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].rfind("[ERROR] getaddrinfo(no-such-host.invalid) failed with error ", 0),
              0u);

    reports.clear();
    int port = testsupport::FreeListenPortPair();
    EXPECT_LT(ConnectToMonitorServer(
                  "127.0.0.1", static_cast<std::uint32_t>(port),
                  {"[Err]", "[Info] ", [&](const std::string& t) { reports.push_back(t); }}),
              0);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].rfind("[Err] IPv4 connection to 127.0.0.1 failed with error 111: ", 0),
              0u);
}

class MonitorSettingsTest : public ::testing::Test {
protected:
    TempRegistry m_registry;
};

TEST_F(MonitorSettingsTest, FirstStartWritesEveryMissingValueBackWithItsDefault) {
    CreateKey(MonitorRegistryKey(MonitorKind::Smdr)).SetString("DllPath", "/opt/x");
    MonitorSettings smdr = MonitorSettings::Defaults(MonitorKind::Smdr);
    ASSERT_TRUE(LoadMonitorSettings(MonitorKind::Smdr, smdr));
    platform::RegKey key = CreateKey(MonitorRegistryKey(MonitorKind::Smdr));
    std::string text;
    std::uint32_t number = 0;
    EXPECT_EQ(key.QueryString("Monitor Server IP Address", text), platform::RegStatus::Ok);
    EXPECT_EQ(text, "1.1.1.1");
    EXPECT_EQ(key.QueryDword("Monitor Server Port No", number), platform::RegStatus::Ok);
    EXPECT_EQ(number, 6002u);
    EXPECT_EQ(key.QueryDword("AutoClearCount", number), platform::RegStatus::Ok);
    EXPECT_EQ(number, 1000u);
    EXPECT_EQ(key.QueryString("SMDRSaveFileName", text), platform::RegStatus::Ok);
    EXPECT_EQ(text, "SMDRMSGSave.txt");
    EXPECT_EQ(key.QueryString("UCDSaveFileName", text), platform::RegStatus::Ok);
    EXPECT_EQ(key.QueryDword("UseUCDFileSave", number), platform::RegStatus::Ok);
    EXPECT_EQ(key.QueryString("InstalledPath", text), platform::RegStatus::Ok);
    EXPECT_EQ(text, fs::current_path().string());
    EXPECT_EQ(key.QueryString("MonitorPassCode", text), platform::RegStatus::Ok);
    EXPECT_EQ(key.QueryString("Extension", text), platform::RegStatus::NotFound);
    EXPECT_TRUE(smdr.IsUnconfigured());

    MonitorSettings sw = MonitorSettings::Defaults(MonitorKind::Switch);
    ASSERT_TRUE(LoadMonitorSettings(MonitorKind::Switch, sw));
    platform::RegKey swKey = CreateKey(MonitorRegistryKey(MonitorKind::Switch));
    EXPECT_EQ(swKey.QueryDword("Monitor Server Port No", number), platform::RegStatus::Ok);
    EXPECT_EQ(number, 6001u);
    EXPECT_EQ(swKey.QueryString("SaveFileName", text), platform::RegStatus::Ok);
    EXPECT_EQ(text, "NormalMSGSave.txt");
    EXPECT_EQ(swKey.QueryDword("UseSMDRFileSave", number), platform::RegStatus::NotFound);
}

TEST_F(MonitorSettingsTest, AnUnreadableLanguageSettingNamesTheBrokenRegistryLine) {
    const char* builtIn = "You should install the monitor program again!!!";
    EXPECT_EQ(MissingLanguageMessage(builtIn), builtIn); // nothing wrong with the file
    std::ofstream((m_registry.Dir() / "registry.reg"))
        << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\n";
    LanguageSetting setting;
    EXPECT_FALSE(LoadLanguageSetting(MonitorKind::Smdr, setting));
    const std::string text = MissingLanguageMessage(builtIn);
    EXPECT_EQ(text.rfind(builtIn, 0), 0u);
    EXPECT_NE(text.find((m_registry.Dir() / "registry.reg").string() + ":3: "), std::string::npos)
        << text;
}

TEST_F(MonitorSettingsTest, LongAddressesSurviveAndSavingLimitsTheSwitchCountAndNamesTheLanguage) {
    const std::string host = "monitor-server.branch-office.example.com";
    platform::RegKey key = CreateKey(MonitorRegistryKey(MonitorKind::Switch));
    key.SetString("Monitor Server IP Address", host);
    key.SetDword("AutoClearCount", 50);
    key.SetString("Extension", "XYZ");
    MonitorSettings s = MonitorSettings::Defaults(MonitorKind::Switch);
    ASSERT_TRUE(LoadMonitorSettings(MonitorKind::Switch, s));
    EXPECT_EQ(s.serverAddress, host);
    EXPECT_EQ(s.language, kLangEnglish);
    ASSERT_TRUE(SaveMonitorSettings(MonitorKind::Switch, s));
    EXPECT_EQ(s.autoClearCount, 100u);
    std::uint32_t number = 0;
    std::string text;
    key.QueryDword("AutoClearCount", number);
    EXPECT_EQ(number, 100u);
    key.QueryString("Extension", text);
    EXPECT_EQ(text, "ENG");
    key.QueryString("Monitor Server IP Address", text);
    EXPECT_EQ(text, host);

    LanguageSetting language;
    EXPECT_FALSE(LoadLanguageSetting(MonitorKind::Switch, language)); // no DllPath yet
    key.SetString("DllPath", "/opt/mon");
    key.SetString("Extension", "GER");
    ASSERT_TRUE(LoadLanguageSetting(MonitorKind::Switch, language));
    EXPECT_EQ(LanguageLibraryPath(MonitorKind::Switch, language), "/opt/mon/NMResGER.so");
    language.code = 9;
    EXPECT_EQ(LanguageLibraryPath(MonitorKind::Smdr, language), "/opt/mon/smdrwatchresEN.so");
}

TEST(MonitorConfigCheck, RefusesInTheDialogsOrderWithMessageAndFocus) {
    const MonitorSettings current = MonitorSettings::Defaults(MonitorKind::Smdr);
    ConfigInput in = ConfigInputFrom(current, MonitorKind::Smdr);
    in.address = "10.0.0.5";
    MonitorSettings out;
    const auto check = [&](MonitorKind kind) { return ValidateConfig(kind, in, current, out); };

    in.passCode = "123";
    EXPECT_EQ(check(MonitorKind::Smdr).message, kStrBadPassCode);
    EXPECT_EQ(check(MonitorKind::Smdr).focus, kIdCfgPassCode);
    in.passCode = "1234567";
    EXPECT_EQ(check(MonitorKind::Smdr).message, kStrBadPassCode);
    in.passCode = "123456";
    in.address.clear();
    EXPECT_EQ(check(MonitorKind::Smdr).message, kStrBadAddress);
    in.address = "10.0.0.5";
    in.port = "1";
    EXPECT_TRUE(check(MonitorKind::Smdr).Ok());
    EXPECT_EQ(check(MonitorKind::Switch).message, kStrBadPort);
    for (const char* port : {"99", "10000", "0", ""}) {
        in.port = port;
        EXPECT_EQ(check(MonitorKind::Switch).message, kStrBadPort) << port;
    }
    in.port = "9999";
    EXPECT_TRUE(check(MonitorKind::Switch).Ok());
    in.port = "100";
    EXPECT_TRUE(check(MonitorKind::Switch).Ok());

    // The count is checked only with auto clear on; off, it keeps the owner's value.
    in.autoClearCount = "99";
    EXPECT_TRUE(check(MonitorKind::Smdr).Ok());
    EXPECT_EQ(out.autoClearCount, 1000u);
    in.autoClear = true;
    EXPECT_EQ(check(MonitorKind::Smdr).message, kStrBadAutoClear);
    in.autoClearCount = "10000";
    EXPECT_EQ(check(MonitorKind::Smdr).focus, kIdCfgAutoClearCount);
    in.autoClearCount = "250";
    in.ucdFileSave = true;
    in.ucdFileName.clear();
    EXPECT_EQ(check(MonitorKind::Smdr).message, kStrBadFileName);
    EXPECT_EQ(check(MonitorKind::Smdr).focus, kIdCfgUcdFileName);
    in.ucdFileName = "u.txt";
    in.languagePosition = 7;
    ASSERT_TRUE(check(MonitorKind::Smdr).Ok());
    EXPECT_EQ(out.autoClearCount, 250u);
    EXPECT_TRUE(out.useUcdFileSave);
    EXPECT_EQ(out.port, 100u);
    EXPECT_EQ(out.language, kLangEnglish);
}

LogRing::Texts RingTexts() {
    return {[](const std::string&, const std::string& time) { return "head " + time + "\n"; },
            [](const std::string& time) { return "closed " + time + "\n"; },
            [](const std::string& reason) { return "rotate failed: " + reason; }};
}

TEST(MonitorLogRing, RotatesAtTheLimitIntoTheNextFileAndBackToZeroAfterNine) {
    TempRegistry dir;
    LogRing ring("smdr", RingTexts(), 60);
    ASSERT_TRUE(ring.Open(dir.Dir().string(), "t0"));
    EXPECT_EQ(ring.Index(), 0);
    const std::string line(30, 'x');
    const fs::path log = dir.Dir() / "Log";
    // Header (the path and time) plus a line fit; the next line does not.
    ASSERT_EQ(ring.Write(line + "\n", "t1"), LogRing::WriteResult::Written);
    EXPECT_EQ(ring.Index(), 0);
    for (int expected = 1; expected <= 10; ++expected) {
        ASSERT_EQ(ring.Write(line + "\n", "t" + std::to_string(expected)),
                  LogRing::WriteResult::Written);
        EXPECT_EQ(ring.Index(), expected % 10);
    }
    // File 0 was emptied when the ring came round: its new header and one line.
    EXPECT_EQ(ReadFile(log / "smdr0.log"), "head t10\n" + line + "\n");
    EXPECT_EQ(ReadFile(log / "smdr4.log"), "head t4\n" + line + "\n");
    ring.Close("end");
    EXPECT_FALSE(ring.IsOpen());
    EXPECT_EQ(ReadFile(log / "smdr0.log").substr(ReadFile(log / "smdr0.log").size() - 11),
              "closed end\n");
}

TEST(MonitorLogRing, AnOpenTakesTheFirstMissingFileElseTheOldestSoEarlierRecordsStay) {
    TempRegistry dir;
    {
        LogRing ring("ucd", RingTexts());
        ASSERT_TRUE(ring.Open(dir.Dir().string(), "a"));
        ring.Write("kept\n", "a");
        ring.Close("a");
    }
    LogRing ring("ucd", RingTexts());
    ASSERT_TRUE(ring.Open(dir.Dir().string(), "b"));
    EXPECT_EQ(ring.Index(), 1);
    ring.Close("b");
    EXPECT_NE(ReadFile(dir.Dir() / "Log" / "ucd0.log").find("kept"), std::string::npos);

    // With every file there, the one written longest ago is reused.
    for (int i = 2; i < 10; ++i)
        std::ofstream(dir.Dir() / "Log" / ("ucd" + std::to_string(i) + ".log")) << i;
    const auto now = fs::file_time_type::clock::now();
    for (int i = 0; i < 10; ++i)
        fs::last_write_time(dir.Dir() / "Log" / ("ucd" + std::to_string(i) + ".log"),
                            now - std::chrono::hours(i == 6 ? 48 : 1));
    ASSERT_TRUE(ring.Open(dir.Dir().string(), "c"));
    EXPECT_EQ(ring.Index(), 6);
}

// The records name callers and agents: a file made is for the owner and the group, one reused
// keeps the rights its owner gave it, and one another copy still writes is left as it is.
TEST(MonitorLogRing, FilesAreMadeForTheOwnerAndTheGroupAndAHeldOneIsNotEmptied) {
    using testsupport::PermissionsOf;
    testsupport::ScopedUmask usual(022);
    TempRegistry dir;
    const fs::path log = dir.Dir() / "Log";
    LogRing ring("smdr", RingTexts(), 60);
    ASSERT_TRUE(ring.Open(dir.Dir().string(), "t0"));
    EXPECT_EQ(PermissionsOf((log / "smdr0.log").string()), "0640");
    ASSERT_EQ(::chmod((log / "smdr0.log").c_str(), 0600), 0);
    // Each line fills a file: the eleventh comes round to file 0, emptied and reused.
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(ring.Write(std::string(50, 'x') + "\n", "t"), LogRing::WriteResult::Written);
    ASSERT_EQ(ring.Write("kept" + std::string(46, 'x') + "\n", "t"), LogRing::WriteResult::Written);
    EXPECT_EQ(ring.Index(), 0);
    EXPECT_EQ(PermissionsOf((log / "smdr0.log").string()), "0600");
    EXPECT_EQ(PermissionsOf((log / "smdr9.log").string()), "0640");

    // The one the ring holds is the oldest, so a second copy picks it.
    const auto now = fs::file_time_type::clock::now();
    for (int i = 0; i < 10; ++i)
        fs::last_write_time(log / ("smdr" + std::to_string(i) + ".log"),
                            now - std::chrono::hours(i == 0 ? 48 : 1));
    LogRing other("smdr", RingTexts());
    EXPECT_FALSE(other.Open(dir.Dir().string(), "t"));
    EXPECT_NE(ReadFile(log / "smdr0.log").find("kept"), std::string::npos);
}

TEST(MonitorLogRing, AppendedLinesReachTheirOwnFilesInOrderAtAFlushAMoveOnAndTheClose) {
    TempRegistry dir;
    LogRing ring("swmsg", RingTexts(), 80);
    ASSERT_TRUE(ring.Open(dir.Dir().string(), "t0"));
    const fs::path log = dir.Dir() / "Log";
    const auto line = [](char c) { return std::string(29, c) + "\n"; };
    // "head t0\n" and two lines fit in 80 bytes; the third moves on to file 1.
    ASSERT_EQ(ring.Append(line('a'), "t1"), LogRing::WriteResult::Written);
    ASSERT_EQ(ring.Append(line('b'), "t2"), LogRing::WriteResult::Written);
    ASSERT_EQ(ring.Append(line('c'), "t3"), LogRing::WriteResult::Written);
    EXPECT_EQ(ring.Index(), 1);
    EXPECT_EQ(ReadFile(log / "swmsg0.log"), "head t0\n" + line('a') + line('b'));
    ring.Flush();
    EXPECT_EQ(ReadFile(log / "swmsg1.log"), "head t3\n" + line('c'));
    ASSERT_EQ(ring.Append(line('d'), "t4"), LogRing::WriteResult::Written);
    ring.Close("end");
    EXPECT_EQ(ReadFile(log / "swmsg1.log"), "head t3\n" + line('c') + line('d') + "closed end\n");
}

TEST(MonitorLogRing, AppendedLinesAreWrittenOnceTheHoldLimitIsHeldEvenWithoutAFlush) {
    TempRegistry dir;
    LogRing ring("smdr", RingTexts());
    ASSERT_TRUE(ring.Open(dir.Dir().string(), "t0"));
    std::string lines;
    for (int n = 0; lines.size() < LogRing::kHoldLimit + 1000; ++n) {
        char text[32];
        std::snprintf(text, sizeof text, "line %08d\n", n);
        lines += text;
        ASSERT_EQ(ring.Append(text, "t"), LogRing::WriteResult::Written);
    }
    const std::string written = ReadFile(dir.Dir() / "Log" / "smdr0.log");
    ASSERT_GE(written.size(), std::string("head t0\n").size() + LogRing::kHoldLimit);
    // What is on disk is the lines from the first on, none left out, none cut.
    EXPECT_EQ(written, "head t0\n" + lines.substr(0, written.size() - 8));
    EXPECT_EQ(written.back(), '\n');
    ring.Close("end");
    EXPECT_EQ(ReadFile(dir.Dir() / "Log" / "smdr0.log"), "head t0\n" + lines + "closed end\n");
}

TEST(MonitorTimeText, EachProgramHasItsFormats) {
    MonitorClock c = FixedClock();
    EXPECT_EQ(FormatSmdrTime(c), "Mar 7 2009 9:5:3");
    EXPECT_EQ(FormatSwitchListTime(c), "Mar 7, 2009 09:05:03");
    EXPECT_EQ(FormatSwitchLogTime(c), "20090307 09:05:03.042");
    c.valid = false;
    EXPECT_EQ(FormatSmdrTime(c), "");
    EXPECT_EQ(FormatSwitchListTime(c), "");
    EXPECT_FALSE(
        MonitorClock::At(std::chrono::system_clock::time_point(std::chrono::seconds(-10))).valid);
}

TEST(SmdrWatchLibrary, HoldsTheExactTextsDialogsAndPicturesTheProgramBuildsFrom) {
    testsupport::App<QApplication>();
    MonitorLanguage language;
    ASSERT_TRUE(LoadLanguage(language, "smdrwatchresEN.so")) << language.ErrorText();
    EXPECT_EQ(language.String(107), "Connected");
    EXPECT_EQ(language.String(131),
              "the monitoring password should be a numeric value.(4 digits ~ 6 digits)");
    EXPECT_EQ(language.String(126),
              "Detected an error at the Monitor Server Port No.\n\nThis No must be same to the "
              "Pavo Liner's SMDR/UCD Message Monitor\n Port No.(Default 6002)");
    EXPECT_EQ(language.String(135), "");
    EXPECT_NE(language.Image(137), nullptr);
    EXPECT_NE(language.Image(138), nullptr);
    EXPECT_NE(language.Image(134), nullptr);
    EXPECT_EQ(language.Image(139), nullptr);

    const MonitorDialogTemplate* main = language.Dialog(kDlgMain);
    ASSERT_NE(main, nullptr);
    EXPECT_STREQ(main->caption, "SMDR / UCD Message Monitor");
    EXPECT_EQ(main->w, 451);
    EXPECT_EQ(main->h, 306);
    ASSERT_NE(language.Dialog(kDlgAbout), nullptr);
    const MonitorDialogTemplate* config = language.Dialog(kDlgConfig);
    ASSERT_NE(config, nullptr);
    EXPECT_STREQ(config->caption, "Environment Configuration");

    // The program's dialog from the template: controls where the template puts them.
    QDialog dialog;
    const auto controls = DialogBuilder::Build(dialog, *main, language);
    EXPECT_EQ(dialog.windowTitle(), "SMDR / UCD Message Monitor");
    ASSERT_TRUE(controls.count(kIdStart));
    auto* start = qobject_cast<QPushButton*>(controls.at(kIdStart));
    ASSERT_NE(start, nullptr);
    EXPECT_EQ(start->text(), "Start Monitor");
    EXPECT_EQ(start->geometry(), QRect(590, 67, 75, 39)); // 393,41 50 x 24 dialog units
    auto* link = qobject_cast<QLineEdit*>(controls.at(kIdLinkField));
    ASSERT_NE(link, nullptr);
    EXPECT_TRUE(link->isReadOnly());
    for (int id : {1000, 1020, 1002, 1003, 1004, 1017, 1023, 1, 1008, 1009, 1010, 1015, 1016, 1021})
        EXPECT_TRUE(controls.count(id)) << id;
}

TEST(SmdrWatchConfigDialog, OpensOverTheOwnersSettingsAndItsSwitchesEnableTheirEdits) {
    testsupport::App<QApplication>();
    MonitorLanguage language;
    ASSERT_TRUE(LoadLanguage(language, "smdrwatchresEN.so"));
    MonitorSettings current = MonitorSettings::Defaults(MonitorKind::Smdr);
    current.serverAddress = "10.0.0.9";
    current.passCode = "4321";
    current.language = kLangItalian;
    ConfigDialog dialog(MonitorKind::Smdr, language, current);
    ASSERT_TRUE(dialog.IsBuilt());
    EXPECT_EQ(dialog.windowTitle(), "Environment Configuration");
    auto* count = dialog.Control(kIdCfgAutoClearCount);
    auto* autoClear = qobject_cast<QCheckBox*>(dialog.Control(kIdCfgAutoClear));
    ASSERT_NE(count, nullptr);
    ASSERT_NE(autoClear, nullptr);
    EXPECT_FALSE(count->isEnabled());
    autoClear->setChecked(true);
    EXPECT_TRUE(count->isEnabled());
    auto* combo = qobject_cast<QComboBox*>(dialog.Control(kIdCfgSmdrLanguage));
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(combo->currentText(), "Italian");
    // The file name edits are there for the checks but never shown.
    EXPECT_TRUE(dialog.Control(kIdCfgUcdFileName)->isHidden());
    const ConfigInput in = dialog.Input();
    EXPECT_EQ(in.address, "10.0.0.9");
    EXPECT_EQ(in.passCode, "4321");
    EXPECT_EQ(in.port, "6002");
    EXPECT_TRUE(in.autoClear);
    EXPECT_EQ(in.autoClearCount, "1000");
    EXPECT_EQ(in.ucdFileName, "UCDMSGSave.txt");
    EXPECT_EQ(in.languagePosition, kLangItalian);
}

} // namespace
