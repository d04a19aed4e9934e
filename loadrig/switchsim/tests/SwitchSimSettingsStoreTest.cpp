#include <switchsim/SwitchSimSettingsStore.h>

#include <platform/Registry.h>
#include <testsupport/RegistryKeys.h>
#include <testsupport/TempRegistry.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

using platform::RegKey;
using platform::RegRoot;
using platform::RegStatus;

class SwitchSimSettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(registry.IsReady()); }

    static std::string Stored(const char* name) {
        RegKey key;
        EXPECT_EQ(RegKey::Open(RegRoot::LocalMachine, kSwitchSimKeyPath, key), RegStatus::Ok);
        std::string text;
        EXPECT_EQ(key.QueryString(name, text), RegStatus::Ok) << name;
        return text;
    }
    static RegKey MakeKey() { return testsupport::CreateKey(kSwitchSimKeyPath); }

    testsupport::TempRegistry registry;
};

TEST_F(SwitchSimSettingsStoreTest, FirstLoadCreatesTheKeyWithItsDefaults) {
    SwitchSimSettings settings;
    settings.stored.fill(3);
    settings.oprMode = 1;
    settings.simTimeHours = 9;

    const SwitchSettingsStoreResult result = LoadSwitchSettings(settings);
    EXPECT_TRUE(result.ok);
    EXPECT_TRUE(result.keyCreated);
    EXPECT_EQ(KeyCreatedMessage(),
              "Created HKEY_LOCAL_MACHINE\\SOFTWARE\\Qorvell Electronics\\DODEDIdi");

    RegKey key = MakeKey();
    std::vector<platform::RegValue> values;
    ASSERT_EQ(key.EnumValues(values), RegStatus::Ok);
    ASSERT_EQ(values.size(), 17u);
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(values[i].name, SwitchSettingValueNames()[i]);
        EXPECT_EQ(values[i].type, platform::RegType::String);
        EXPECT_EQ(values[i].text, values[i].name == "Sim Time" ? "1" : "0") << values[i].name;
    }
    for (int word = 0; word < kStoredWordCount; ++word) {
        EXPECT_EQ(settings.stored[word], 0) << word;
    }
    EXPECT_EQ(settings.oprMode, 0);
    EXPECT_EQ(settings.simTimeHours, 1);
    EXPECT_EQ(settings.listenPort, 5002);
    EXPECT_FALSE(settings.localAddress.empty());

    // The second load finds the key.
    EXPECT_FALSE(LoadSwitchSettings(settings).keyCreated);
}

TEST_F(SwitchSimSettingsStoreTest, SaveAndLoadKeepEveryValue) {
    SwitchSimSettings saved;
    InitSwitchDefaults(saved);
    const std::int16_t positions[kStoredWordCount] = {1, 9, 1, 4, 9, 1, 1, 11,
                                                      1, 4, 9, 8, 7, 6, 37};
    for (int word = 0; word < kStoredWordCount; ++word) {
        saved.stored[word] = positions[word];
    }
    saved.simTimeHours = 24;
    saved.oprMode = 1;
    const SwitchSettingsStoreResult result = SaveSwitchSettings(saved);
    EXPECT_TRUE(result.ok);
    EXPECT_TRUE(result.keyCreated); // nothing was there yet

    EXPECT_EQ(Stored("Stn Count"), "9");
    EXPECT_EQ(Stored("OprInbnd Count"), "37");
    EXPECT_EQ(Stored("Sim Time"), "24");
    EXPECT_EQ(Stored("Opr Mode"), "1");

    SwitchSimSettings loaded;
    InitSwitchDefaults(loaded);
    EXPECT_FALSE(LoadSwitchSettings(loaded).keyCreated);
    EXPECT_EQ(loaded.stored, saved.stored);
    EXPECT_EQ(loaded.simTimeHours, 24);
    EXPECT_EQ(loaded.oprMode, 1);

    saved.simTimeHours = 1.5;
    SaveSwitchSettings(saved);
    EXPECT_EQ(Stored("Sim Time"), "1.5");
}

TEST_F(SwitchSimSettingsStoreTest, LoadReadsDwordsAndTakesOddTextsAsNumbers) {
    RegKey key = MakeKey();
    ASSERT_EQ(key.SetDword("Stn Count", 7), RegStatus::Ok);
    ASSERT_EQ(key.SetString("trk count", " 2.6xyz"), RegStatus::Ok); // names ignore case
    ASSERT_EQ(key.SetString("Call Count", "abc"), RegStatus::Ok);
    ASSERT_EQ(key.SetString("Idle Time", "10"), RegStatus::Ok); // beyond the ten items
    ASSERT_EQ(key.SetString("CallStep Mode", "-1"), RegStatus::Ok);
    ASSERT_EQ(key.SetBinary("Ring Time", {1, 2}), RegStatus::Ok);
    ASSERT_EQ(key.SetString("OprInbnd Count", "99999"), RegStatus::Ok);
    ASSERT_EQ(key.SetString("Sim Time", "5000"), RegStatus::Ok);
    ASSERT_EQ(key.SetString("Opr Mode", "7"), RegStatus::Ok);

    SwitchSimSettings settings;
    settings.stored.fill(1);
    const SwitchSettingsStoreResult result = LoadSwitchSettings(settings);
    EXPECT_TRUE(result.ok);
    EXPECT_FALSE(result.keyCreated);
    EXPECT_EQ(settings.stored[kWordStnCount], 7);
    EXPECT_EQ(settings.stored[kWordTrkCount], 3);
    EXPECT_EQ(settings.stored[kWordCallCount], 0);
    EXPECT_EQ(settings.stored[kWordIdleTime], 0);
    EXPECT_EQ(settings.stored[kWordCallStepMode], 0);
    EXPECT_EQ(settings.stored[kWordRingTime], 0);
    EXPECT_EQ(settings.stored[kWordTelNoSize], 0); // missing
    EXPECT_EQ(settings.stored[kWordOprInbndCount], 32767);
    EXPECT_EQ(settings.simTimeHours, 1); // beyond 720 hours
    EXPECT_EQ(settings.oprMode, 1);
}

TEST_F(SwitchSimSettingsStoreTest, ReadSwitchSettingsTurnsPositionsIntoRunValues) {
    SwitchSimSettings settings;
    InitSwitchDefaults(settings);
    settings.oprMode = 1;
    bool changed = ReadSwitchSettings(settings);
    EXPECT_FALSE(changed);
    EXPECT_EQ(settings.telNoSize, 3);
    EXPECT_EQ(settings.stnCount, 8);
    EXPECT_EQ(settings.stnGrpCount, 30);
    EXPECT_EQ(settings.stnMemCount, 0);
    EXPECT_EQ(settings.trkCount, 8);
    EXPECT_EQ(settings.deviceCount, 16);
    EXPECT_EQ(settings.callCount, 1);
    EXPECT_EQ(settings.ringTime, 1);
    EXPECT_EQ(settings.oprMode, 1);
    EXPECT_EQ(settings.firstStation, 201);
    EXPECT_EQ(settings.firstGroup, 500);
    EXPECT_EQ(settings.firstTrunk, 701);
    EXPECT_EQ(settings.callGeneration, -1);
    EXPECT_EQ(settings.callStep.nextStep, 1);
    EXPECT_EQ(settings.callStep.firstTime, 1);

    // StnMem Count "30" with Stn Count "16": 16 members, the list shows "8".
    settings.stored[kWordTelNoSize] = 1;
    settings.stored[kWordStnCount] = 1;
    settings.stored[kWordStnMemCount] = 4;
    settings.stored[kWordTrkCount] = 9;
    settings.stored[kWordSimMode] = 1;
    settings.stored[kWordCallMode] = 1; // Internal
    settings.stored[kWordCallCount] = 11;
    settings.stored[kWordCliMode] = 1;
    settings.stored[kWordCallStepMode] = 4;
    settings.stored[kWordIdleTime] = 9;
    settings.callStep = CallStepState{3, 4, 5, 0};
    changed = ReadSwitchSettings(settings);
    EXPECT_TRUE(changed);
    EXPECT_EQ(settings.stnMemCount, 16);
    EXPECT_EQ(settings.stored[kWordStnMemCount], 2);
    EXPECT_EQ(settings.telNoSize, 4);
    EXPECT_EQ(settings.deviceCount, 16 + 128);
    EXPECT_EQ(settings.answerMode, 1);
    EXPECT_EQ(settings.callMode, 1);
    EXPECT_EQ(settings.oprMode, 0); // Internal call mode turns operator mode off
    EXPECT_EQ(settings.callCount, 128);
    EXPECT_EQ(settings.cliMode, 1);
    EXPECT_EQ(settings.callStepMode, 4);
    EXPECT_EQ(settings.idleTime, 120);
    EXPECT_EQ(settings.firstStation, 2001);
    EXPECT_EQ(settings.firstGroup, 5000);
    EXPECT_EQ(settings.firstTrunk, 7001);
    EXPECT_EQ(settings.callStep.displayPhase, 0);
    EXPECT_EQ(settings.callStep.countdown, 0);
    EXPECT_EQ(settings.callStep.nextStep, 1);
    EXPECT_EQ(settings.callStep.firstTime, 1);

    // A position beyond its list counts as the first item.
    settings.stored[kWordStnCount] = 40;
    ReadSwitchSettings(settings);
    EXPECT_EQ(settings.stnCount, 8);
}

TEST_F(SwitchSimSettingsStoreTest, NumberLengthAndSwitchSizeStayConsistent) {
    SwitchSimSettings settings;
    InitSwitchDefaults(settings);
    settings.stored[kWordTelNoSize] = 1;
    settings.stored[kWordStnCount] = 8; // "256"
    settings.stored[kWordTrkCount] = 9; // "128"
    EXPECT_TRUE(SelectTelNoSize(settings, 0));
    EXPECT_EQ(settings.stored[kWordStnCount], 6); // "96"
    EXPECT_EQ(settings.stored[kWordTrkCount], 6); // "80"
    EXPECT_FALSE(SelectTelNoSize(settings, 0));

    EXPECT_FALSE(SelectStnCount(settings, 7));
    EXPECT_EQ(settings.stored[kWordTelNoSize], 0);
    EXPECT_TRUE(SelectStnCount(settings, 9)); // "512" needs 4 digits
    EXPECT_EQ(settings.stored[kWordTelNoSize], 1);
    EXPECT_EQ(settings.stored[kWordStnCount], 9);

    SelectTelNoSize(settings, 0);
    EXPECT_TRUE(SelectTrkCount(settings, 8)); // "112"
    EXPECT_EQ(settings.stored[kWordTelNoSize], 1);
    EXPECT_FALSE(SelectTrkCount(settings, 9)); // already 4 digits

    SelectStoredWord(settings, kWordCallMode, 2); // no such item
    EXPECT_EQ(settings.stored[kWordCallMode], 0);
    SelectStoredWord(settings, kWordCallMode, 1);
    EXPECT_EQ(settings.stored[kWordCallMode], 1);
}

TEST(SwitchSimSettingsTexts, ListsMessagesAndPanels) {
    const auto& lists = SwitchSettingLists();
    EXPECT_EQ(lists[kWordStnCount].items.size(), 10u);
    EXPECT_EQ(lists[kWordCallCount].items.back(), "128");
    EXPECT_EQ(SwitchSettingRunValue(kWordHoldTime, 9), 120);
    EXPECT_EQ(SwitchSettingRunValue(kWordCallStepMode, 3), 3);

    const auto& messages = StationMessageTexts();
    EXPECT_EQ(std::string(messages[0].data(), 16), "GIVE ME THE CALL");
    EXPECT_EQ(std::string(messages[6].data(), 16), "PAGE ME         ");
    EXPECT_EQ(std::string(messages[17].data(), 16), "MISSING IN ACTIO");
    EXPECT_EQ(std::string(messages[19].data(), 16), "GO TO HEAVEN    ");

    SwitchSimSettings settings;
    SimTrace trace;
    trace.totalSent = 4;
    trace.sent.hookOn = 2;
    InitSwitchDefaults(settings, &trace);
    EXPECT_EQ(trace.totalSent, 0);
    EXPECT_EQ(trace.sent.hookOn, 0);
    settings.localAddress = "10.0.0.5";
    EXPECT_EQ(AddressPanelText(settings), "10.0.0.5 : 5002 ");
    EXPECT_EQ(CallStepPanelText(3), "Call Step : Inbnd->Ans->T-Hold/Dial->Ans->CT->Drop ");
    EXPECT_EQ(CallStepPanelText(5), "");
}

TEST(SwitchSimSettingsTexts, NumbersInTexts) {
    EXPECT_EQ(LeadingNumber(""), 0);
    EXPECT_EQ(LeadingNumber("  12abc"), 12);
    EXPECT_EQ(LeadingNumber("-3.5"), -3.5);
    EXPECT_EQ(LeadingNumber(".5"), 0.5);
    EXPECT_EQ(LeadingNumber("x12"), 0);
    EXPECT_EQ(LeadingNumber("0." + std::string(400, '0') + "1"), 0);
    EXPECT_EQ(LeadingWholeNumber("2.5"), 3);
    EXPECT_EQ(LeadingWholeNumber(std::string(400, '9')), 32767);
    EXPECT_EQ(LeadingWholeNumber("-99999"), -32768);
    EXPECT_TRUE(IsNumericText(" 24 "));
    EXPECT_TRUE(IsNumericText("1.5"));
    EXPECT_FALSE(IsNumericText("24h"));
    EXPECT_FALSE(IsNumericText(""));
    EXPECT_FALSE(IsNumericText("-"));
    EXPECT_EQ(ShortestDecimal(24), "24");
    EXPECT_EQ(ShortestDecimal(0.1), "0.1");
}

} // namespace
