// loadrig's keys of the sample registry in docs/: what both windows write when their key is
// missing.

#include <clientsim/ClientRunSettings.h>
#include <switchsim/SwitchSimSettingsStore.h>

#include <testsupport/SampleRegistry.h>
#include <testsupport/TempRegistry.h>

#include <gtest/gtest.h>

namespace {

TEST(RigSampleRegistry, HoldsTheDefaultsBothWindowsCreate) {
    testsupport::TempRegistry fresh;
    ClientRunSettings client;
    ASSERT_TRUE(LoadClientSettings(client).keyCreated);
    SwitchSimSettings sw;
    ASSERT_TRUE(LoadSwitchSettings(sw).keyCreated);
    for (const char* key :
         {"SOFTWARE\\Qorvell Electronics\\loadrig", "SOFTWARE\\Qorvell Electronics\\DODEDIdi"})
        for (const std::string& line : testsupport::DisagreementsWithSample(key))
            ADD_FAILURE() << line;
}

} // namespace
