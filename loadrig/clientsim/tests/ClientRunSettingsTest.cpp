#include <clientsim/ClientRunSettings.h>

#include <platform/Registry.h>
#include <testsupport/TempRegistry.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using platform::RegKey;
using platform::RegRoot;
using platform::RegStatus;

class ClientRunSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(registry.IsReady()); }

    static std::string Stored(const char* name) {
        RegKey key;
        EXPECT_EQ(RegKey::Open(RegRoot::LocalMachine, kClientSimKeyPath, key), RegStatus::Ok);
        std::string text;
        EXPECT_EQ(key.QueryString(name, text), RegStatus::Ok) << name;
        return text;
    }

    testsupport::TempRegistry registry;
};

TEST_F(ClientRunSettingsTest, FirstLoadCreatesTheKeyWithTheThirteenDefaults) {
    ClientRunSettings settings;
    const ClientSettingsStoreResult result = LoadClientSettings(settings);
    EXPECT_TRUE(result.ok);
    EXPECT_TRUE(result.keyCreated);
    EXPECT_EQ(ClientKeyCreatedMessage(),
              "Created HKEY_LOCAL_MACHINE\\SOFTWARE\\Qorvell Electronics\\loadrig");

    RegKey key;
    ASSERT_EQ(RegKey::Open(RegRoot::LocalMachine, kClientSimKeyPath, key), RegStatus::Ok);
    std::vector<platform::RegValue> values;
    ASSERT_EQ(key.EnumValues(values), RegStatus::Ok);
    const std::vector<std::string> expected = {"127.0.0.1", "6000", "0", "0", "1", "201", "205",
                                               "0",         "0",    "3", "3", "3", "3"};
    ASSERT_EQ(values.size(), expected.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(values[i].name, ClientSettingValueNames()[i]);
        EXPECT_EQ(values[i].type, platform::RegType::String);
        EXPECT_EQ(values[i].text, expected[i]) << values[i].name;
    }

    EXPECT_EQ(settings.serverAddress, "127.0.0.1");
    EXPECT_EQ(settings.serverPort, 6000);
    EXPECT_EQ(settings.callerStartText, "201");
    EXPECT_EQ(settings.calleeStartText, "205");
    EXPECT_FALSE(settings.answerFlag);
    EXPECT_FALSE(settings.holdFlag);
    EXPECT_EQ(ClientListItems(kListIdleDelay)[settings.idleDelayIndex], "4");
    EXPECT_EQ(ClientListItems(kListMakeDelay)[settings.makeDelayIndex], "8");
    EXPECT_EQ(ClientListItems(kListConnDelay)[settings.connDelayIndex], "8");
    EXPECT_EQ(ClientListItems(kListHoldDelay)[settings.holdDelayIndex], "10");

    // The second load finds the key.
    EXPECT_FALSE(LoadClientSettings(settings).keyCreated);
}

TEST_F(ClientRunSettingsTest, SaveAndLoadRoundTripAsDecimalTexts) {
    ClientRunSettings settings;
    LoadClientSettings(settings);
    settings.serverAddress = "10.1.2.3";
    settings.serverPort = 6100;
    settings.telSizeIndex = 1;
    settings.portCountIndex = 5;
    settings.periodHours = 12;
    settings.callerStartText = "1001";
    settings.calleeStartText = "1005";
    settings.answerFlag = true;
    settings.holdFlag = false;
    settings.idleDelayIndex = 15;
    settings.makeDelayIndex = 0;
    settings.connDelayIndex = 9;
    settings.holdDelayIndex = 2;
    EXPECT_TRUE(SaveClientSettings(settings).ok);

    EXPECT_EQ(Stored("Server PortNo"), "6100");
    EXPECT_EQ(Stored("MakeConnState"), "1");
    EXPECT_EQ(Stored("MakeHoldState"), "0");
    EXPECT_EQ(Stored("ConnDelay Time"), "9"); // the index, not the seconds
    EXPECT_EQ(Stored("Sim Time"), "12");

    ClientRunSettings loaded;
    LoadClientSettings(loaded);
    EXPECT_EQ(loaded.serverAddress, "10.1.2.3");
    EXPECT_EQ(loaded.serverPort, 6100);
    EXPECT_EQ(loaded.telSizeIndex, 1);
    EXPECT_EQ(loaded.portCountIndex, 5);
    EXPECT_EQ(loaded.storedPeriodHours, 12);
    EXPECT_EQ(loaded.callerStartText, "1001");
    EXPECT_EQ(loaded.calleeStartText, "1005");
    EXPECT_TRUE(loaded.answerFlag);
    EXPECT_FALSE(loaded.holdFlag);
    EXPECT_EQ(loaded.idleDelayIndex, 15);
    EXPECT_EQ(loaded.makeDelayIndex, 0);
    EXPECT_EQ(loaded.connDelayIndex, 9);
    EXPECT_EQ(loaded.holdDelayIndex, 2);
}

TEST_F(ClientRunSettingsTest, MissingFlagsReadOffAndBadIndexesReadZero) {
    RegKey key;
    ASSERT_EQ(RegKey::Create(RegRoot::LocalMachine, kClientSimKeyPath, key), RegStatus::Ok);
    key.SetString("TelNo Size", "7");
    key.SetString("HoldDelay Time", "-1");
    key.SetString("MakeHoldState", "yes");

    ClientRunSettings settings;
    const ClientSettingsStoreResult result = LoadClientSettings(settings);
    EXPECT_FALSE(result.keyCreated);
    EXPECT_FALSE(settings.answerFlag); // missing: its default
    EXPECT_TRUE(settings.holdFlag);    // present and not "0"
    EXPECT_EQ(settings.telSizeIndex, 0);
    EXPECT_EQ(settings.holdDelayIndex, 0);
    EXPECT_EQ(settings.serverAddress, "");
    EXPECT_EQ(settings.serverPort, 0);
}

TEST_F(ClientRunSettingsTest, SaveDoesNotCreateAMissingKey) {
    ClientRunSettings settings;
    EXPECT_FALSE(SaveClientSettings(settings).ok);
    RegKey key;
    EXPECT_EQ(RegKey::Open(RegRoot::LocalMachine, kClientSimKeyPath, key), RegStatus::NotFound);
}

TEST(ClientListTest, ItemListsAndValues) {
    EXPECT_EQ(ClientListItems(kListIdleDelay).size(), 16u);
    EXPECT_EQ(ClientListItems(kListMakeDelay).size(), 16u);
    EXPECT_EQ(ClientListItems(kListConnDelay).size(), 10u);
    EXPECT_EQ(ClientListItems(kListHoldDelay).size(), 10u);
    EXPECT_EQ(ClientListValue(kListTelSize, 1), 4);
    EXPECT_EQ(ClientListValue(kListPortCount, 5), 128);
    EXPECT_EQ(ClientListValue(kListMakeDelay, 15), 3600);
    EXPECT_EQ(ClientListValue(kListIdleDelay, 16), 1); // outside: the first item
}

} // namespace
