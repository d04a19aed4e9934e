// The sample registry of docs/ against the server's readers: it reads, and it holds every value
// they read with their type and default.

#include <shell/RegistryConfig.h>

#include <engine/ConnEnv.h>
#include <engine/OrbManagerDlg.h>
#include <engine/TraceSettings.h>

#include <platform/Registry.h>

#include <testsupport/SampleRegistry.h>
#include <testsupport/TempRegistry.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

using namespace engine;
using namespace shell;

namespace {

using platform::RegKey;
using platform::RegRoot;
using platform::RegStatus;
using platform::RegType;
using testsupport::DisagreementsWithSample;

constexpr const char* kRoot = "Software\\Qorvell Electronics\\OrbManager";
constexpr const char* kOptions = "Software\\Qorvell Electronics\\OrbManager\\OptionValues";
constexpr const char* kConnEnv = "Software\\Qorvell Electronics\\OrbManager\\ConnEnv";

class SampleRegistryServer : public ::testing::Test {
protected:
    void SetUp() override {
        savedLogDirectory_ = GetTraceLogDirectory();
        savedDebugPrint_ = g_nDebugMsgPrint;
    }
    void TearDown() override {
        SetTraceLogDirectory(savedLogDirectory_);
        g_nDebugMsgPrint = savedDebugPrint_;
    }
    std::vector<int> boxes_;
    ShowMessageBox box_ = [this](int id) { boxes_.push_back(id); };

private:
    std::string savedLogDirectory_;
    int savedDebugPrint_ = 0;
};

TEST_F(SampleRegistryServer, ConnectionSettingsAreTheDialogsDefaults) {
    testsupport::TempRegistry registry;
    // The first OK of the settings dialog on a fresh machine writes all of them.
    ASSERT_EQ(SaveConnEnv(ConnEnvSettings{}, [](int) {}), ConnEnvSaveResult::Saved);
    for (const std::string& line : DisagreementsWithSample(kConnEnv))
        ADD_FAILURE() << line;
}

TEST_F(SampleRegistryServer, WhatTheSettingsReadWritesBackIsTheSamplesData) {
    testsupport::TempRegistry registry;
    RegKey key;
    ASSERT_EQ(RegKey::Create(RegRoot::LocalMachine, kConnEnv, key), RegStatus::Ok);
    ConnEnvSettings loaded;
    int errorBoxes = 0;
    ASSERT_TRUE(LoadConnEnv(loaded, [&](int) { ++errorBoxes; }));
    EXPECT_EQ(errorBoxes, 7) << "the three types and the four serial values";
    EXPECT_EQ(loaded.ipAddress, "localhost");
    // Only the address, the password and the two ports are written back; the sample holds the
    // others too, with their type.
    const std::map<std::string, RegType> notWritten = {
        {"ConnType", RegType::Dword}, {"SwitchType", RegType::Dword}, {"DebugType", RegType::Dword},
        {"CommPort", RegType::Dword}, {"BaudRate", RegType::Dword},   {"ByteSize", RegType::Dword},
        {"StopBits", RegType::Dword}};
    for (const std::string& line : DisagreementsWithSample(kConnEnv, {}, notWritten))
        ADD_FAILURE() << line;
}

TEST_F(SampleRegistryServer, OptionsAreTheDefaultsOfAnEmptyKey) {
    testsupport::TempRegistry registry;
    RegKey key;
    ASSERT_EQ(RegKey::Create(RegRoot::LocalMachine, kOptions, key), RegStatus::Ok);
    COrbManagerDlg dlg;
    ASSERT_EQ(LoadOptionValues(dlg, box_), 1);
    ASSERT_EQ(SaveOptionValues(dlg, box_), 1);
    EXPECT_TRUE(boxes_.empty());
    for (const std::string& line : DisagreementsWithSample(
             kOptions, {"MonitorAccessCode", "DllPath"}, {{"Extension", RegType::String}}))
        ADD_FAILURE() << line;
}

TEST_F(SampleRegistryServer, ServerStartsFromTheSampleWithoutAsking) {
    {
        // Root values: the install path, and those written by the server only.
        testsupport::TempRegistry fresh;
        for (const std::string& line : DisagreementsWithSample(
                 kRoot, {"OrbRunCheck", "DeviceMapSortMode", "UserDataSortMode"},
                 {{"OrbPath", RegType::String}}))
            ADD_FAILURE() << line;
    }
    testsupport::TempRegistry registry;
    std::filesystem::copy_file(testsupport::SampleRegistryPath(), registry.File(),
                               std::filesystem::copy_options::overwrite_existing);
    ASSERT_EQ(platform::RegistryFileFault(), "");

    // Install path, language and switch type read without a message; the language library
    // is found without DllPath.
    EXPECT_FALSE(ReadInstallPath(box_).empty());
    EXPECT_EQ(ReadSwitchType(box_), 0);
    EXPECT_TRUE(boxes_.empty());
    LanguageOptions language;
    ASSERT_EQ(ReadLanguageOptions(language), 1) << language.missing;
    EXPECT_TRUE(std::filesystem::exists(language.dllPath + LanguageLibraryName(language.language)));
    EXPECT_EQ(ReadServiceModeOption(), 1);
}

} // namespace
