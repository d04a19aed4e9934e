// The monitors' keys of the sample registry in docs/: the defaults a first start writes back,
// and the language values the start-up needs.

#include "MonitorSettings.h"

#include "testsupport/SampleRegistry.h"
#include "testsupport/TempRegistry.h"

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
