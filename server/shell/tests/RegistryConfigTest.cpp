#include <shell/RegistryConfig.h>

#include <engine/OrbManagerDlg.h>
#include <engine/TraceSettings.h>

#include <platform/Registry.h>

#include <testsupport/RegistryKeys.h>
#include <testsupport/TempRegistry.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <vector>

using namespace engine;
using namespace shell;

using platform::RegKey;
using platform::RegRoot;
using platform::RegStatus;
using platform::RegType;
using platform::RegValue;
namespace fs = std::filesystem;

namespace {

constexpr const char* kRoot = "Software\\Qorvell Electronics\\OrbManager";
constexpr const char* kOptions = "Software\\Qorvell Electronics\\OrbManager\\OptionValues";
constexpr const char* kConnEnv = "Software\\Qorvell Electronics\\OrbManager\\ConnEnv";

bool AllDigits(const std::string& text) {
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

class RegistryConfig : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(registry_.IsReady());
        savedLogDirectory_ = GetTraceLogDirectory();
        savedDebugPrint_ = g_nDebugMsgPrint;
        box_ = [this](int id) { boxes_.push_back(id); };
    }
    void TearDown() override {
        SetTraceLogDirectory(savedLogDirectory_);
        g_nDebugMsgPrint = savedDebugPrint_;
    }

    static RegKey Key(const char* path) { return testsupport::CreateKey(path); }
    static bool KeyExists(const char* path) {
        RegKey key;
        return RegKey::Open(RegRoot::LocalMachine, path, key) == RegStatus::Ok;
    }
    static std::vector<RegValue> Values(const char* path) {
        RegKey key;
        std::vector<RegValue> values;
        if (RegKey::Open(RegRoot::LocalMachine, path, key) == RegStatus::Ok) {
            key.EnumValues(values);
        }
        return values;
    }
    void BreakRegistryFile() { std::ofstream(path_) << "this is no registry file\n[\n"; }

    testsupport::TempRegistry registry_{"regcfg"};
    const fs::path& dir_ = registry_.Dir();
    const fs::path& path_ = registry_.File();
    std::string savedLogDirectory_;
    std::uint32_t savedDebugPrint_ = 2;
    std::vector<int> boxes_;
    ShowMessageBox box_;
};

TEST_F(RegistryConfig, MissingOptionValuesKeyShowsBox117AndKeepsEveryMember) {
    COrbManagerDlg dlg;
    dlg.m_bUseUserManager = 0;
    dlg.m_nAutoRecoverCount = 77;
    SetTraceLogDirectory("/untouched");

    EXPECT_EQ(LoadOptionValues(dlg, box_), 0);
    EXPECT_EQ(boxes_, std::vector<int>{117});
    EXPECT_EQ(dlg.m_bUseUserManager, 0);
    EXPECT_EQ(dlg.m_nAutoRecoverCount, 77);
    EXPECT_EQ(dlg.m_strMonitorAccessCode, "507193");
    EXPECT_EQ(GetTraceLogDirectory(), "/untouched");
    EXPECT_FALSE(KeyExists(kOptions));
}

TEST_F(RegistryConfig, AbsentOptionsTakeTheirDefaultsWithoutWritingAnything) {
    Key(kOptions);
    COrbManagerDlg dlg;
    dlg.m_bUseAutoConnect = 1;
    dlg.m_bUseUserManager = 0;
    dlg.m_bUseAutoClear = 1;
    dlg.m_nMsgMonitorListenPortNo = 1;
    dlg.m_nExtension = 3;
    dlg.m_bUseDebugMsgPrint = 1;
    g_nDebugMsgPrint = 0;

    ASSERT_EQ(LoadOptionValues(dlg, box_), 1);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(dlg.m_bUseAutoConnect, 0);
    EXPECT_EQ(dlg.m_bUseUserManager, 1);
    EXPECT_EQ(dlg.m_bUseAutoClear, 1); // keeps the value it had
    EXPECT_EQ(dlg.m_nAutoClearLineCnt, 1000);
    EXPECT_EQ(dlg.m_nMsgMonitorListenPortNo, 6001);
    EXPECT_EQ(dlg.m_nSMDRUCDMonitorListenPortNo, 6002);
    EXPECT_EQ(dlg.m_nSMDRUCDSendListenPortNo, 6003);
    EXPECT_EQ(dlg.m_nAutoRecoverCount, 30);
    EXPECT_EQ(dlg.m_nAutoRecoverTimePeriod, 1);
    EXPECT_EQ(dlg.m_nExtension, 1);
    // The option reads off, yet the debugger output stays on.
    EXPECT_EQ(dlg.m_bUseDebugMsgPrint, 0);
    EXPECT_EQ(g_nDebugMsgPrint, 2u);
    const std::string cwd = fs::current_path().string();
    EXPECT_EQ(dlg.m_strDllPath, cwd);
    EXPECT_EQ(GetTraceLogDirectory(), cwd + "/Log");
    EXPECT_EQ(dlg.m_strMonitorAccessCode.size(), 4u);
    EXPECT_TRUE(AllDigits(dlg.m_strMonitorAccessCode));
    EXPECT_TRUE(Values(kOptions).empty()); // the made code is not stored

    COrbManagerDlg other;
    other.m_bUseAutoClear = 0;
    ASSERT_EQ(LoadOptionValues(other, box_), 1);
    EXPECT_EQ(other.m_bUseAutoClear, 0);
}

TEST_F(RegistryConfig, StoredOptionsLoadAsFlagsAndNumbers) {
    RegKey key = Key(kOptions);
    key.SetDword("UseAutoConnect", 7);
    key.SetDword("UseSystemServiceMode", 1);
    key.SetDword("UseLinnetPlusMsg", 0xffffffffu);
    key.SetDword("UseUserManager", 0);
    key.SetDword("UseAutoClear", 2);
    key.SetDword("AutoClearLineCnt", 50);
    key.SetDword("UseMsgMonitor", 1);
    key.SetDword("MsgMonitorListenPortNo", 7001);
    key.SetDword("UseSMDRUCDMonitor", 3);
    key.SetDword("SMDRUCDMonitorListenPortNo", 7002);
    key.SetDword("UseSMDRUCDSend", 1);
    key.SetDword("UseProtectSMDRUCDSend", 9);
    key.SetDword("SMDRUCDSendListenPortNo", 7003);
    key.SetDword("UseDebugMsgPrint", 5);
    key.SetDword("UseDebugMsgSave", 4);
    key.SetString("MonitorAccessCode", "123456789");
    key.SetString("DllPath", "/opt/veltrane");
    COrbManagerDlg dlg;
    g_nDebugMsgPrint = 0;

    ASSERT_EQ(LoadOptionValues(dlg, box_), 1);
    EXPECT_EQ(dlg.m_bUseAutoConnect, 1);
    EXPECT_EQ(dlg.m_bUseSystemServiceMode, 1);
    EXPECT_EQ(dlg.m_bUseLinnetPlusMsg, 1);
    EXPECT_EQ(dlg.m_bUseUserManager, 0);
    EXPECT_EQ(dlg.m_bUseAutoClear, 1);
    EXPECT_EQ(dlg.m_nAutoClearLineCnt, 50);
    EXPECT_EQ(dlg.m_bUseMsgMonitor, 1);
    EXPECT_EQ(dlg.m_nMsgMonitorListenPortNo, 7001);
    EXPECT_EQ(dlg.m_bUseSMDRUCDMonitor, 1);
    EXPECT_EQ(dlg.m_nSMDRUCDMonitorListenPortNo, 7002);
    EXPECT_EQ(dlg.m_bUseSMDRUCDSend, 1);
    EXPECT_EQ(dlg.m_bUseProtectSMDRUCDSend, 1);
    EXPECT_EQ(dlg.m_nSMDRUCDSendListenPortNo, 7003);
    EXPECT_EQ(dlg.m_bUseDebugMsgPrint, 1);
    EXPECT_EQ(g_nDebugMsgPrint, 2u);
    EXPECT_EQ(dlg.m_bUseDebugMsgSave, 1);
    EXPECT_EQ(dlg.m_strMonitorAccessCode, "123456789");
    EXPECT_EQ(dlg.m_strDllPath, "/opt/veltrane");
    EXPECT_EQ(GetTraceLogDirectory(), "/opt/veltrane/Log");

    key.SetDword("UseDebugMsgPrint", 0);
    ASSERT_EQ(LoadOptionValues(dlg, box_), 1);
    EXPECT_EQ(dlg.m_bUseDebugMsgPrint, 0);
    EXPECT_EQ(g_nDebugMsgPrint, 0u);
}

TEST_F(RegistryConfig, AValueOfTheWrongTypeCountsAsAbsent) {
    RegKey key = Key(kOptions);
    key.SetString("UseUserManager", "0");
    key.SetDword("Extension", 2);
    key.SetDword("DllPath", 1);
    COrbManagerDlg dlg;
    ASSERT_EQ(LoadOptionValues(dlg, box_), 1);
    EXPECT_EQ(dlg.m_bUseUserManager, 1);
    EXPECT_EQ(dlg.m_nExtension, 1);
    EXPECT_EQ(dlg.m_strDllPath, fs::current_path().string());
}

TEST_F(RegistryConfig, RecoveryValuesOutsideTheirRangesLoadAsTheDefaults) {
    RegKey key = Key(kOptions);
    const struct {
        std::uint32_t count, period;
        int wantCount, wantPeriod;
    } cases[] = {{29, 0, 30, 1},
                 {10000, 256, 30, 1},
                 {30, 1, 30, 1},
                 {9999, 255, 9999, 255},
                 {0xffffffffu, 0x80000001u, 30, 1}};
    for (const auto& c : cases) {
        key.SetDword("AutoRecoverCount", c.count);
        key.SetDword("AutoRecoverTimePeriod", c.period);
        COrbManagerDlg dlg;
        dlg.m_nAutoRecoverCount = 5;
        dlg.m_nAutoRecoverTimePeriod = 5;
        ASSERT_EQ(LoadOptionValues(dlg, box_), 1);
        EXPECT_EQ(dlg.m_nAutoRecoverCount, c.wantCount) << c.count;
        EXPECT_EQ(dlg.m_nAutoRecoverTimePeriod, c.wantPeriod) << c.period;
    }
}

TEST_F(RegistryConfig, ExtensionCodesAndLowerCaseEnglishSavedAsENG) {
    RegKey key = Key(kOptions);
    const std::pair<const char*, int> cases[] = {
        {"KOR", 0},
        {"ENG", 1},
        {"GER", 2},
        {"ITA", 3},
        {"RUS", 4},
        {"ger", 1},
        {"", 1},
        {"RUSSIAN99", 1}, // nine characters fit the buffer and are no
                          // code
        {"ITALIAN999", 1} // ten do not fit
    };
    for (const auto& [text, code] : cases) {
        key.SetString("Extension", text);
        COrbManagerDlg dlg;
        dlg.m_nExtension = 4;
        ASSERT_EQ(LoadOptionValues(dlg, box_), 1);
        EXPECT_EQ(dlg.m_nExtension, code) << text;
    }

    key.SetString("Extension", "eng");
    COrbManagerDlg dlg;
    ASSERT_EQ(LoadOptionValues(dlg, box_), 1);
    EXPECT_EQ(dlg.m_nExtension, 1);
    ASSERT_EQ(SaveOptionValues(dlg, box_), 1);
    std::string stored;
    ASSERT_EQ(key.QueryString("Extension", stored), RegStatus::Ok);
    EXPECT_EQ(stored, "ENG");
}

TEST_F(RegistryConfig, AnAccessCodeTooLongForItsBufferIsReplacedByAMadeOne) {
    RegKey key = Key(kOptions);
    key.SetString("MonitorAccessCode", "1234567890");
    COrbManagerDlg dlg;
    ASSERT_EQ(LoadOptionValues(dlg, box_), 1);
    EXPECT_EQ(dlg.m_strMonitorAccessCode.size(), 4u);
    EXPECT_TRUE(AllDigits(dlg.m_strMonitorAccessCode));
    std::string stored;
    ASSERT_EQ(key.QueryString("MonitorAccessCode", stored), RegStatus::Ok);
    EXPECT_EQ(stored, "1234567890");
}

TEST_F(RegistryConfig, ADllPathLongerThan256CharactersMeansTheCurrentDirectory) {
    RegKey key = Key(kOptions);
    const std::string fits = "/" + std::string(255, 'p');
    key.SetString("DllPath", fits);
    COrbManagerDlg dlg;
    ASSERT_EQ(LoadOptionValues(dlg, box_), 1);
    EXPECT_EQ(dlg.m_strDllPath, fits);
    EXPECT_EQ(GetTraceLogDirectory(), fits + "/Log");

    key.SetString("DllPath", fits + "q");
    ASSERT_EQ(LoadOptionValues(dlg, box_), 1);
    EXPECT_EQ(dlg.m_strDllPath, fs::current_path().string());
    EXPECT_EQ(GetTraceLogDirectory(), fs::current_path().string() + "/Log");
}

TEST_F(RegistryConfig, SaveCreatesTheMissingKeyAndWritesEveryOption) {
    Key(kRoot);
    COrbManagerDlg dlg;
    dlg.m_strMonitorAccessCode = "4711";
    dlg.m_nAutoRecoverCount = 45;
    dlg.m_nAutoRecoverTimePeriod = 7;
    dlg.m_bUseAutoConnect = 1;
    dlg.m_bUseSystemServiceMode = 2; // only exactly 1 is stored as 1
    dlg.m_bUseLinnetPlusMsg = -1;
    dlg.m_bUseUserManager = 0;
    dlg.m_bUseAutoClear = 1;
    dlg.m_nAutoClearLineCnt = 500;
    dlg.m_bUseMsgMonitor = 1;
    dlg.m_nMsgMonitorListenPortNo = 7001;
    dlg.m_bUseSMDRUCDMonitor = 1;
    dlg.m_nSMDRUCDMonitorListenPortNo = 7002;
    dlg.m_bUseSMDRUCDSend = 1;
    dlg.m_nSMDRUCDSendListenPortNo = 7003;
    dlg.m_bUseProtectSMDRUCDSend = 1;
    dlg.m_bUseDebugMsgPrint = 1;
    dlg.m_bUseDebugMsgSave = 3;
    dlg.m_nExtension = 2;
    dlg.m_strDllPath = "/never/stored";

    ASSERT_EQ(SaveOptionValues(dlg, box_), 1);
    EXPECT_TRUE(boxes_.empty());
    const std::vector<RegValue> values = Values(kOptions);
    std::vector<std::string> names;
    for (const RegValue& v : values) {
        names.push_back(v.name);
    }
    const std::vector<std::string> order = {"MonitorAccessCode",
                                            "AutoRecoverCount",
                                            "AutoRecoverTimePeriod",
                                            "UseAutoConnect",
                                            "UseSystemServiceMode",
                                            "UseLinnetPlusMsg",
                                            "UseUserManager",
                                            "UseAutoClear",
                                            "AutoClearLineCnt",
                                            "UseMsgMonitor",
                                            "MsgMonitorListenPortNo",
                                            "UseSMDRUCDMonitor",
                                            "SMDRUCDMonitorListenPortNo",
                                            "UseSMDRUCDSend",
                                            "SMDRUCDSendListenPortNo",
                                            "UseProtectSMDRUCDSend",
                                            "UseDebugMsgPrint",
                                            "UseDebugMsgSave",
                                            "Extension"};
    EXPECT_EQ(names, order);

    RegKey key = Key(kOptions);
    auto dword = [&](const char* name) {
        std::uint32_t v = 12345;
        EXPECT_EQ(key.QueryDword(name, v), RegStatus::Ok) << name;
        return v;
    };
    std::string text;
    ASSERT_EQ(key.QueryString("MonitorAccessCode", text), RegStatus::Ok);
    EXPECT_EQ(text, "4711");
    ASSERT_EQ(key.QueryString("Extension", text), RegStatus::Ok);
    EXPECT_EQ(text, "GER");
    EXPECT_EQ(dword("AutoRecoverCount"), 45u);
    EXPECT_EQ(dword("AutoRecoverTimePeriod"), 7u);
    EXPECT_EQ(dword("UseAutoConnect"), 1u);
    EXPECT_EQ(dword("UseSystemServiceMode"), 0u);
    EXPECT_EQ(dword("UseLinnetPlusMsg"), 0u);
    EXPECT_EQ(dword("UseUserManager"), 0u);
    EXPECT_EQ(dword("UseAutoClear"), 1u);
    EXPECT_EQ(dword("AutoClearLineCnt"), 500u);
    EXPECT_EQ(dword("MsgMonitorListenPortNo"), 7001u);
    EXPECT_EQ(dword("SMDRUCDMonitorListenPortNo"), 7002u);
    EXPECT_EQ(dword("SMDRUCDSendListenPortNo"), 7003u);
    EXPECT_EQ(dword("UseProtectSMDRUCDSend"), 1u);
    EXPECT_EQ(dword("UseDebugMsgPrint"), 1u);
    EXPECT_EQ(dword("UseDebugMsgSave"), 0u);

    // What was saved loads back unchanged.
    COrbManagerDlg back;
    ASSERT_EQ(LoadOptionValues(back, box_), 1);
    EXPECT_EQ(back.m_strMonitorAccessCode, "4711");
    EXPECT_EQ(back.m_nAutoRecoverCount, 45);
    EXPECT_EQ(back.m_nAutoClearLineCnt, 500);
    EXPECT_EQ(back.m_bUseUserManager, 0);
    EXPECT_EQ(back.m_nExtension, 2);
}

TEST_F(RegistryConfig, UnknownLanguageCodeIsSavedAsENG) {
    COrbManagerDlg dlg;
    dlg.m_nExtension = 7;
    ASSERT_EQ(SaveOptionValues(dlg, box_), 1);
    std::string text;
    ASSERT_EQ(Key(kOptions).QueryString("Extension", text), RegStatus::Ok);
    EXPECT_EQ(text, "ENG");
}

TEST_F(RegistryConfig, SaveReportsBox117WhenTheKeyOrAValueCannotBeStored) {
    COrbManagerDlg dlg;
    dlg.m_strMonitorAccessCode = "12\n34"; // the registry cannot carry a line break
    EXPECT_EQ(SaveOptionValues(dlg, box_), 0);
    EXPECT_EQ(boxes_, std::vector<int>{117});

    boxes_.clear();
    BreakRegistryFile();
    dlg.m_strMonitorAccessCode = "1234";
    EXPECT_EQ(SaveOptionValues(dlg, box_), 0);
    EXPECT_EQ(boxes_, std::vector<int>{117});
}

TEST_F(RegistryConfig, SwitchAndConnectionTypeShowBox125WhenUnreadable) {
    EXPECT_EQ(ReadSwitchType(box_), 0);
    EXPECT_EQ(ReadConnType(box_), 0);
    EXPECT_EQ(boxes_, (std::vector<int>{125, 125}));

    boxes_.clear();
    RegKey key = Key(kConnEnv);
    EXPECT_EQ(ReadSwitchType(box_), 0);
    EXPECT_EQ(ReadConnType(box_), 0);
    EXPECT_EQ(boxes_, (std::vector<int>{125, 125}));

    boxes_.clear();
    key.SetDword("SwitchType", 1);
    key.SetDword("ConnType", 2);
    EXPECT_EQ(ReadSwitchType(box_), 1);
    EXPECT_EQ(ReadConnType(box_), 2);
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(RegistryConfig, ListenPortAndItsSecondPort) {
    COrbManagerDlg dlg;
    EXPECT_EQ(ReadListenPort(dlg, box_), 0);
    EXPECT_EQ(boxes_, std::vector<int>{175});
    EXPECT_EQ(dlg.m_nListenPort, 6000);
    EXPECT_EQ(dlg.m_nBypassListenPort, 6500);

    RegKey key = Key(kConnEnv);
    const struct {
        std::uint32_t stored;
        int result, port;
    } cases[] = {{7000, 1, 7000}, {65035, 1, 65035}, {1, 1, 1},
                 {0, 0, 6000},    {65036, 0, 6000},  {0xffffffffu, 0, 6000}};
    for (const auto& c : cases) {
        boxes_.clear();
        key.SetDword("Listen Port No", c.stored);
        dlg.m_nListenPort = 42;
        dlg.m_nBypassListenPort = 42;
        EXPECT_EQ(ReadListenPort(dlg, box_), c.result) << c.stored;
        EXPECT_EQ(dlg.m_nListenPort, c.port) << c.stored;
        EXPECT_EQ(dlg.m_nBypassListenPort, c.port + 500) << c.stored;
        EXPECT_EQ(boxes_, c.result ? std::vector<int>{} : std::vector<int>{175}) << c.stored;
    }
}

TEST_F(RegistryConfig, InstallPathFallsBackToTheCurrentDirectoryWithBox125) {
    const std::string cwd = fs::current_path().string();
    EXPECT_EQ(ReadInstallPath(box_), cwd);
    EXPECT_EQ(boxes_, std::vector<int>{125});

    RegKey key = Key(kRoot);
    const std::string fits(255, 'x');
    key.SetString("OrbPath", fits);
    boxes_.clear();
    EXPECT_EQ(ReadInstallPath(box_), fits);
    EXPECT_TRUE(boxes_.empty());

    key.SetString("OrbPath", fits + "x");
    EXPECT_EQ(ReadInstallPath(box_), cwd);
    EXPECT_EQ(boxes_, std::vector<int>{125});
}

TEST_F(RegistryConfig, RunCheckIsWrittenOnlyIntoAnExistingRootKey) {
    WriteRunCheck();
    ClearRunCheck();
    EXPECT_FALSE(KeyExists(kRoot));

    RegKey key = Key(kRoot);
    std::uint32_t value = 9;
    WriteRunCheck();
    ASSERT_EQ(key.QueryDword("OrbRunCheck", value), RegStatus::Ok);
    EXPECT_EQ(value, 1u);
    ClearRunCheck();
    ASSERT_EQ(key.QueryDword("OrbRunCheck", value), RegStatus::Ok);
    EXPECT_EQ(value, 0u);
}

TEST_F(RegistryConfig, ServiceModeOptionIsOnOnlyForAStoredNonZeroValue) {
    EXPECT_EQ(ReadServiceModeOption(), 1);
    RegKey key = Key(kOptions);
    EXPECT_EQ(ReadServiceModeOption(), 1);
    key.SetDword("UseSystemServiceMode", 0);
    EXPECT_EQ(ReadServiceModeOption(), 1);
    key.SetDword("UseSystemServiceMode", 3);
    EXPECT_EQ(ReadServiceModeOption(), 0);
    key.SetString("UseSystemServiceMode", "1");
    EXPECT_EQ(ReadServiceModeOption(), 1);
}

TEST_F(RegistryConfig, LanguageOptionsNeedBothValues) {
    LanguageOptions out;
    out.dllPath = "/before";
    out.language = 4;
    EXPECT_EQ(ReadLanguageOptions(out), 0);

    RegKey key = Key(kOptions);
    key.SetString("DllPath", "/opt/veltrane");
    EXPECT_EQ(ReadLanguageOptions(out), 0);
    EXPECT_EQ(out.dllPath, "/before");
    EXPECT_EQ(out.language, 4);

    key.SetString("Extension", "ITA");
    ASSERT_EQ(ReadLanguageOptions(out), 1);
    EXPECT_EQ(out.dllPath, "/opt/veltrane");
    EXPECT_EQ(out.language, 3);

    key.SetString("Extension", "FRA");
    ASSERT_EQ(ReadLanguageOptions(out), 1);
    EXPECT_EQ(out.language, 1);
    EXPECT_EQ(out.dllPath + LanguageLibraryName(out.language), "/opt/veltrane/ResDLLEN.so");

    // Without DllPath the library beside the program serves (the tests sit beside
    // ResDLLEN.so); a language without a library there names the missing value.
    key.DeleteValue("DllPath");
    ASSERT_EQ(ReadLanguageOptions(out), 1);
    EXPECT_TRUE(std::filesystem::exists(out.dllPath + "/ResDLLEN.so")) << out.dllPath;
    key.SetString("Extension", "RUS");
    EXPECT_EQ(ReadLanguageOptions(out), 0);
    EXPECT_NE(out.missing.find("\"DllPath\""), std::string::npos) << out.missing;
    EXPECT_NE(out.missing.find(platform::RegistryFilePath()), std::string::npos) << out.missing;
    key.DeleteValue("Extension");
    EXPECT_EQ(ReadLanguageOptions(out), 0);
    EXPECT_NE(out.missing.find("\"Extension\""), std::string::npos) << out.missing;
}

TEST(RegistryConfigNames, LanguageLibrariesAndExtensionTexts) {
    EXPECT_EQ(LanguageLibraryName(0), "/ResDLLKO.so");
    EXPECT_EQ(LanguageLibraryName(1), "/ResDLLEN.so");
    EXPECT_EQ(LanguageLibraryName(2), "/ResDLLGER.so");
    EXPECT_EQ(LanguageLibraryName(3), "/ResDLLITA.so");
    EXPECT_EQ(LanguageLibraryName(4), "/ResDLLRUS.so");
    EXPECT_EQ(LanguageLibraryName(5), "/ResDLLEN.so");
    EXPECT_EQ(LanguageLibraryName(-1), "/ResDLLEN.so");
    for (int code = 0; code < 5; ++code) {
        EXPECT_EQ(ExtensionCode(ExtensionText(code)), code);
    }
    EXPECT_EQ(ExtensionText(5), "ENG");
    EXPECT_EQ(ExtensionText(-1), "ENG");
    EXPECT_EQ(ExtensionCode("kor"), 1);
    EXPECT_EQ(ExtensionCode("KOR "), 1);
}

TEST(RegistryConfigNames, MadeAccessCodesAreFourDigitsAndVary) {
    std::set<std::string> seen;
    bool leadingZero = false;
    for (int i = 0; i < 500; ++i) {
        const std::string code = MakeMonitorAccessCode();
        ASSERT_EQ(code.size(), 4u) << code;
        ASSERT_TRUE(AllDigits(code)) << code;
        leadingZero = leadingZero || code[0] == '0';
        seen.insert(code);
    }
    EXPECT_GT(seen.size(), 100u);
    EXPECT_TRUE(leadingZero);
}

TEST(RegistryConfigNames, PortRanges) {
    EXPECT_FALSE(IsValidSwitchPort(0));
    EXPECT_TRUE(IsValidSwitchPort(1));
    EXPECT_TRUE(IsValidSwitchPort(65535));
    EXPECT_FALSE(IsValidSwitchPort(65536));
    EXPECT_FALSE(IsValidSwitchPort(-1));
    EXPECT_FALSE(IsValidListenPort(0));
    EXPECT_TRUE(IsValidListenPort(1));
    EXPECT_TRUE(IsValidListenPort(65035));
    EXPECT_FALSE(IsValidListenPort(65036));
    EXPECT_FALSE(IsValidListenPort(-500));
}

} // namespace
