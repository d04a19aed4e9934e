// The monitors' keys of the sample registry in docs/: the defaults a first start writes back,
// and the language values the start-up needs.

#include <common/MonitorSettings.h>

#include <testsupport/SampleRegistry.h>
#include <testsupport/TempRegistry.h>

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using platform::RegType;

TEST(MonitorSampleRegistry, HoldsWhatAFirstStartWritesAndTheLanguageValues) {
    for (MonitorKind kind : {MonitorKind::Smdr, MonitorKind::Switch}) {
        SCOPED_TRACE(MonitorRegistryKey(kind));
        {
            testsupport::TempRegistry fresh;
            MonitorSettings settings = MonitorSettings::Defaults(kind);
            ASSERT_TRUE(LoadMonitorSettings(kind, settings));
            for (const std::string& line : testsupport::DisagreementsWithSample(
                     MonitorRegistryKey(kind), {"InstalledPath"},
                     {{"DllPath", RegType::String}, {"Extension", RegType::String}}))
                ADD_FAILURE() << line;
        }
        testsupport::TempRegistry sample;
        std::filesystem::copy_file(testsupport::SampleRegistryPath(), sample.File(),
                                   std::filesystem::copy_options::overwrite_existing);
        LanguageSetting language;
        ASSERT_TRUE(LoadLanguageSetting(kind, language));
        EXPECT_EQ(language.code, kLangEnglish);
    }
}

} // namespace

namespace {

TEST(MonitorSampleRegistry, AMissingLanguageValueIsNamedWithTheFile) {
    testsupport::TempRegistry registry;
    LanguageSetting language;
    ASSERT_FALSE(LoadLanguageSetting(MonitorKind::Smdr, language));
    EXPECT_EQ(language.missing.rfind("the key ", 0), 0u) << language.missing;
    platform::RegKey key;
    ASSERT_EQ(platform::RegKey::Create(platform::RegRoot::LocalMachine,
                                       MonitorRegistryKey(MonitorKind::Smdr), key),
              platform::RegStatus::Ok);
    key.SetString("DllPath", "/opt/x");
    ASSERT_FALSE(LoadLanguageSetting(MonitorKind::Smdr, language));
    EXPECT_NE(language.missing.find("\"Extension\""), std::string::npos) << language.missing;
    EXPECT_NE(language.missing.find(registry.File().string()), std::string::npos);
    key.SetString("Extension", "ENG");
    key.DeleteValue("DllPath");
    ASSERT_FALSE(LoadLanguageSetting(MonitorKind::Smdr, language));
    EXPECT_NE(language.missing.find("\"DllPath\""), std::string::npos) << language.missing;
}

} // namespace
