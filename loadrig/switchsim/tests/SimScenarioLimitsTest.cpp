#include <switchsim/SimScenarioLimits.h>

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr int kMode1 = 0;
constexpr int kMode2 = 1;
constexpr int kMode3 = 2;
constexpr int kMode4 = 3;
constexpr int kMode5 = 4;
constexpr int kAuto = 0;
constexpr int kManual = 1;
constexpr int kExternal = 0;
constexpr int kInternal = 1;

SwitchSimSettings Settings(int stations, int trunks, int calls, int callMode, int stepMode = kMode1,
                           int answerMode = kAuto) {
    SwitchSimSettings s;
    s.stnCount = static_cast<std::int16_t>(stations);
    s.trkCount = static_cast<std::int16_t>(trunks);
    s.deviceCount = static_cast<std::int16_t>(stations + trunks);
    s.callCount = static_cast<std::int16_t>(calls);
    s.callMode = static_cast<std::int16_t>(callMode);
    s.callStepMode = static_cast<std::int16_t>(stepMode);
    s.answerMode = static_cast<std::int16_t>(answerMode);
    return s;
}

TEST(SimScenarioLimits, ExternalNeedsATrunkPerCall) {
    for (int mode : {kMode1, kMode2, kMode3}) {
        EXPECT_EQ(CheckCallScenarioFits(Settings(8, 8, 8, kExternal, mode)), "") << mode;
        EXPECT_EQ(CheckCallScenarioFits(Settings(8, 128, 128, kExternal, mode)), "") << mode;
        EXPECT_EQ(CheckCallScenarioFits(Settings(128, 8, 16, kExternal, mode)),
                  "Call Count 16 is above Trk Count 8: each External call needs a trunk of its "
                  "own.")
            << mode;
    }
    // Manual mode, with or without the operator, needs the same trunks.
    SwitchSimSettings manual = Settings(512, 24, 24, kExternal, kMode4, kManual);
    EXPECT_EQ(CheckCallScenarioFits(manual), "");
    manual.callCount = 32;
    manual.oprMode = 1;
    EXPECT_EQ(CheckCallScenarioFits(manual),
              "Call Count 32 is above Trk Count 24: each External call needs a trunk of its own.");
}

TEST(SimScenarioLimits, ExternalTransfersNeedTwiceTheCallsWithinTheDevices) {
    for (int mode : {kMode4, kMode5}) {
        EXPECT_EQ(CheckCallScenarioFits(Settings(8, 24, 16, kExternal, mode)), "")
            << mode; // 32 of 32
        EXPECT_EQ(CheckCallScenarioFits(Settings(8, 16, 16, kExternal, mode)),
                  "Call Count 16 needs 32 devices with its transfer targets (2 x Call Count), "
                  "above Stn Count + Trk Count 24.")
            << mode;
        // The trunk limit comes first.
        EXPECT_EQ(CheckCallScenarioFits(Settings(512, 8, 16, kExternal, mode)),
                  "Call Count 16 is above Trk Count 8: each External call needs a trunk of its "
                  "own.")
            << mode;
    }
    // The same switch without transfers, or in Manual mode, takes those calls.
    EXPECT_EQ(CheckCallScenarioFits(Settings(8, 16, 16, kExternal, kMode2)), "");
    EXPECT_EQ(CheckCallScenarioFits(Settings(8, 16, 16, kExternal, kMode5, kManual)), "");
}

TEST(SimScenarioLimits, InternalNeedsTwoOrThreeStationsPerCall) {
    EXPECT_EQ(CheckCallScenarioFits(Settings(8, 8, 4, kInternal)), ""); // 8 of 8
    EXPECT_EQ(CheckCallScenarioFits(Settings(8, 128, 8, kInternal)),
              "Call Count 8 needs 16 stations for Internal calls (2 x Call Count), above Stn "
              "Count 8.");
    EXPECT_EQ(CheckCallScenarioFits(Settings(48, 8, 16, kInternal, kMode4)), ""); // 48 of 48
    EXPECT_EQ(CheckCallScenarioFits(Settings(32, 128, 16, kInternal, kMode5)),
              "Call Count 16 needs 48 stations for Internal calls with transfer targets (3 x "
              "Call Count), above Stn Count 32.");
    EXPECT_EQ(CheckCallScenarioFits(Settings(32, 128, 16, kInternal, kMode3)), "");
    // Manual answer mode plays no transfer, whatever the step mode says.
    EXPECT_EQ(CheckCallScenarioFits(Settings(32, 8, 16, kInternal, kMode5, kManual)), "");
    EXPECT_NE(CheckCallScenarioFits(Settings(32, 8, 24, kInternal, kMode1, kManual)), "");
}

} // namespace
