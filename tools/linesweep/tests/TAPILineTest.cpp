#include "LineSweepTestSupport.h"
#include <linesweep/TAPILine.h>

#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

using telephony::test::TelephonyTestEnv;
using telephony::test::TestProviderSettings;

TEST(TapiBindingTest, AMissingLibraryOrFunctionAnswersOperationUnavailableOnce) {
    TapiBinding missing("no-such-telephony.dll");
    CTAPILine line(missing);
    EXPECT_EQ(line.InitializeTapi(), -1);
    EXPECT_EQ(line.InitializeTapi(), -1);
    EXPECT_EQ(missing.lineShutdown(1), LINEERR_OPERATIONUNAVAIL);
    EXPECT_EQ(missing.LoadAttempts(), 1);

    // A library that loads but lacks the functions: each name is looked for once.
    TapiBinding empty(telephony::test::kTestProviderFile);
    CTAPILine other(empty);
    EXPECT_EQ(other.InitializeTapi(), -1);
    EXPECT_EQ(other.InitializeTapi(), -1);
    EXPECT_EQ(empty.lineClose(1), LINEERR_OPERATIONUNAVAIL);
    EXPECT_EQ(empty.lineClose(1), LINEERR_OPERATIONUNAVAIL);
    EXPECT_EQ(empty.ResolveAttempts(), 2);
    void* entry = reinterpret_cast<void*>(1);
    EXPECT_EQ(empty.BindTapiFunction("lineNoSuchFunction", &entry), LINEERR_OPERATIONUNAVAIL);
    EXPECT_EQ(entry, nullptr);

    TapiBinding real("TAPI32.DLL");
    EXPECT_EQ(real.BindTapiFunction("lineDevSpecific", &entry), 0);
    EXPECT_NE(entry, nullptr);
}

class TAPILineTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::App(); }
    // Another provider's device first, then the maker's, a foreign device inside their range
    // whose information differs only in letter case, and one more of the maker's.
    void
    InstallMixed(TestProviderSettings maker = TestProviderSettings().Lines(" Line 201 ;Line 202")) {
        ASSERT_EQ(env.Register("other.tsp"), LINEERR_NODRIVER);
        env.InstallProvider("other.tsp",
                            TestProviderSettings().Info("Another Provider").Lines("x"));
        env.InstallProvider("lynxtsp32.tsp", maker);
        env.InstallProvider(
            "foreign.tsp",
            TestProviderSettings().Info("qorvell qmx service provider").Lines("Line 201"));
        env.InstallProvider("late.tsp", TestProviderSettings().Lines("Line 209"));
        for (const char* name : {"other.tsp", "lynxtsp32.tsp", "foreign.tsp", "late.tsp"}) {
            ASSERT_EQ(env.Register(name), 0) << name;
        }
    }

    TelephonyTestEnv env;
};

TEST_F(TAPILineTest, ListsOnlyTheMakersDevicesFromTheFirstOneOn) {
    InstallMixed();
    CTAPILine tapi;
    ASSERT_EQ(tapi.InitializeTapi(), 0);
    EXPECT_EQ(tapi.DeviceCount(), 5u);
    ASSERT_EQ(tapi.GetDeviceList(), 0);
    EXPECT_EQ(tapi.FirstProviderDevice(), 1);
    const auto& devices = *tapi.Devices();
    EXPECT_EQ(devices[1].addressName, "Line 201"); // trimmed
    EXPECT_FALSE(devices[0].makersLine);
    EXPECT_TRUE(devices[2].makersLine);
    EXPECT_FALSE(devices[3].makersLine); // letter case differs: not the maker's
    EXPECT_EQ(devices[3].addressName, "");
    EXPECT_TRUE(devices[4].makersLine);
    EXPECT_EQ(tapi.LineNames(), (std::vector<std::string>{"Line 201", "Line 202", "Line 209"}));

    // The list goes, the first device is found again by the next listing.
    tapi.ReleaseDeviceList();
    EXPECT_FALSE(tapi.HasDeviceList());
    ASSERT_EQ(tapi.GetDeviceList(), 0);
    EXPECT_EQ(tapi.FirstProviderDevice(), 1);
    tapi.ShutDown();
    EXPECT_FALSE(tapi.IsInitialised());
}

TEST_F(TAPILineTest, NoMakersDeviceLeavesNoList) {
    env.InstallProvider("other.tsp", TestProviderSettings().Info("Another Provider"));
    ASSERT_EQ(env.Register("other.tsp"), 0);
    CTAPILine tapi;
    ASSERT_EQ(tapi.InitializeTapi(), 0);
    EXPECT_EQ(tapi.GetDeviceList(), -2);
    EXPECT_FALSE(tapi.HasDeviceList());
    EXPECT_EQ(tapi.FirstProviderDevice(), -1);
    EXPECT_EQ(tapi.OpenLines(""), 0);
    EXPECT_EQ(tapi.ReqDevSpecificDeallocateCalls(0, '0'), 0);
    EXPECT_TRUE(env.Records("open").empty());
    tapi.ShutDown();

    TelephonyTestEnv none; // no provider at all: no line devices
    CTAPILine empty;
    EXPECT_EQ(empty.InitializeTapi(), -2);
    EXPECT_FALSE(empty.IsInitialised());
}

TEST_F(TAPILineTest, NamedLinesMatchWithoutCaseAndLongAddressesAreFetchedWhole) {
    const std::string longName = "Line " + std::string(1500, 'x');
    InstallMixed(TestProviderSettings().Lines("Line 201;" + longName + ";line 201"));
    CTAPILine tapi;
    ASSERT_EQ(tapi.InitializeTapi(), 0);
    ASSERT_EQ(tapi.GetDeviceList(), 0);
    EXPECT_EQ((*tapi.Devices())[2].addressName, longName);
    EXPECT_EQ((*tapi.Devices())[4].addressName, ""); // the foreign "Line 201"

    HLINE handle = 0;
    EXPECT_EQ(tapi.OpenLines("LINE 201", &handle), 0);
    EXPECT_NE(handle, 0u);
    EXPECT_EQ(env.RawRecords(),
              (std::vector<std::string>{"other.tsp init", "lynxtsp32.tsp init", "foreign.tsp init",
                                        "late.tsp init", "lynxtsp32.tsp open 0",
                                        "lynxtsp32.tsp open 2"}));
    EXPECT_EQ(tapi.ReqDevSpecificDeallocateCalls(0, '0'), 0);
    EXPECT_EQ(env.Records("devspecific"),
              (std::vector<std::string>{"devspecific 0 0 " + linesweep::test::kClearRequest,
                                        "devspecific 2 0 " + linesweep::test::kClearRequest}));
    EXPECT_EQ(tapi.CloseLines("Line 201"), 0);
    EXPECT_EQ(env.Records("close").size(), 2u);
    tapi.ShutDown();
}

TEST_F(TAPILineTest, RepliesAreWaitedForWithinABoundAndLateOnesAreIgnored) {
    env.InstallProvider("lynxtsp32.tsp", TestProviderSettings().Lines("slow").Reply("delayed", 80));
    ASSERT_EQ(env.Register("lynxtsp32.tsp"), 0);
    env.InstallProvider("silent.tsp", TestProviderSettings().Lines("never").Reply("never"));
    ASSERT_EQ(env.Register("silent.tsp"), 0);
    CTAPILine tapi;
    ASSERT_EQ(tapi.InitializeTapi(), 0);
    ASSERT_EQ(tapi.GetDeviceList(), 0);
    HLINE slow = 0;
    HLINE never = 0;
    ASSERT_EQ(tapi.OpenLines("slow", &slow), 0);
    ASSERT_EQ(tapi.OpenLines("never", &never), 0);

    tapi.SetReplyTimeout(std::chrono::milliseconds(10));
    const uint8_t body[] = {'R', '0', 0};
    EXPECT_EQ(tapi.SendDevSpecific(slow, 0, body, sizeof body), LINEERR_OPERATIONFAILED);
    // The slow line's reply comes during this wait and must not count for it.
    tapi.SetReplyTimeout(std::chrono::milliseconds(250));
    EXPECT_EQ(tapi.SendDevSpecific(never, 0, body, sizeof body), LINEERR_OPERATIONFAILED);

    const uint8_t tooLong[18] = {};
    const size_t sent = env.Records("devspecific").size();
    EXPECT_EQ(tapi.SendDevSpecific(slow, 0, tooLong, sizeof tooLong), LINEERR_INVALPARAM);
    EXPECT_EQ(tapi.SendDevSpecific(0, 0, body, sizeof body), -1);
    EXPECT_EQ(env.Records("devspecific").size(), sent);

    // Shutting down from inside the wait (a dialog's Cancel) ends the wait at once.
    tapi.SetReplyTimeout(std::chrono::seconds(30));
    QTimer::singleShot(5, [&] { tapi.ShutDown(); });
    EXPECT_EQ(tapi.SendDevSpecific(never, 0, body, sizeof body), LINEERR_UNINITIALIZED);
    EXPECT_FALSE(tapi.IsInitialised());

    // A refusal comes back as the reply's result, and beeps once per line.
    env.Configure("lynxtsp32.tsp",
                  TestProviderSettings().Lines("a;b").ReplyResult(LINEERR_OPERATIONFAILED));
    env.Configure("silent.tsp", TestProviderSettings().Info("Another Provider"));
    int beeps = 0;
    tapi.SetBeep([&] { ++beeps; });
    tapi.SetReplyTimeout(std::chrono::seconds(10));
    ASSERT_EQ(tapi.InitializeTapi(), 0);
    ASSERT_EQ(tapi.GetDeviceList(), 0);
    tapi.OpenLines("");
    EXPECT_EQ(tapi.ReqDevSpecificDeallocateCalls(0, '0'), -2);
    EXPECT_EQ(beeps, 2);
}

TEST(TapiErrorNames, KnownCodesByNameOthersUnknown) {
    EXPECT_STREQ(CTAPILine::ErrorCodeName(LINEERR_REINIT), "LINEERR_REINIT");
    EXPECT_STREQ(CTAPILine::ErrorCodeName(LINEERR_STRUCTURETOOSMALL), "LINEERR_STRUCTURETOOSMALL");
    EXPECT_STREQ(CTAPILine::ErrorCodeName(LINEERR_NOMULTIPLEINSTANCE), "Unknown Error");
    EXPECT_STREQ(CTAPILine::ErrorCodeName(0), "Unknown Error");
}

} // namespace
