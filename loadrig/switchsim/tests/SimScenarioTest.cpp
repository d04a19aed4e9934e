// The generator driven by the switch window's call timer, tick by tick, as a running switch
// plays its scenarios.

#include "FramePort.h"
#include "SimHandlerRig.h"
#include <switchsim/SimCallGenerator.h>
#include <switchsim/SimFrames.h>
#include <switchsim/SimRunController.h>
#include <testsupport/TempRegistry.h>
#include <testsupport/TestApp.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

// List positions.
constexpr int kFourDigits = 1;
constexpr int kOneSecond = 0;
constexpr int kTwoSeconds = 1;
constexpr int kCallCount1 = 0;
constexpr int kCallCount4 = 1;
enum Mode { kMode1, kMode2, kMode3, kMode4, kMode5 };

class SimScenarioTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::App();
        ASSERT_TRUE(registry.IsReady());
        controller.SetCallActions(&generator);
        controller.SetListenPortOverride(0);
        controller.Form_Load();
        controller.cmboTelNoSize_Click(kFourDigits);
        for (SimStoredWord word : {kWordRingTime, kWordAnsTime, kWordHoldTime, kWordIdleTime}) {
            controller.cmboList_Click(word, kOneSecond);
        }
    }

    void TearDown() override {
        if (controller.Settings().callSimRunning != 0) {
            controller.cmdCallSim_Click();
        }
        if (controller.Settings().running != 0) {
            controller.cmdStop_Click();
        }
    }

    // 8 stations and 8 trunks, External calls unless told otherwise.
    void Start(int mode, int callCount = kCallCount1, int answerMode = 0, int callMode = 0) {
        controller.cmboAnswerMode_Click(answerMode);
        controller.cmboCallMode_Click(callMode);
        controller.cmboList_Click(kWordCallCount, callCount);
        controller.cmboCallStepMode_Click(mode);
        controller.cmdRun_Click();
        ASSERT_NE(controller.Settings().running, 0);
        controller.SetCallSimEnabled(true); // as the link server's device-list request does
        controller.cmdCallSim_Click();
        ASSERT_NE(controller.Settings().callSimRunning, 0);
    }

    // Runs `count` call-timer ticks; each tick that sent something adds "tick:letters".
    std::string Play(int count) {
        std::string out;
        for (int i = 0; i < count; ++i) {
            ++tick;
            const std::size_t before = port.frames.size();
            controller.CallTimer_Timer();
            std::string letters;
            for (std::size_t f = before; f < port.frames.size(); ++f) {
                letters.push_back(port.Letter(f));
            }
            if (!letters.empty()) {
                out += (out.empty() ? "" : " ") + std::to_string(tick) + ":" + letters;
            }
        }
        return out;
    }

    // The numbers of frame i as "letter first second".
    std::string Event(std::size_t i) const {
        const FramePort::Bytes& f = port.frames.at(i);
        auto number = [&](std::size_t at) {
            return std::to_string(f.at(at) * 1000 + f.at(at + 1) * 100 + f.at(at + 2) * 10 +
                                  f.at(at + 3));
        };
        return std::string(1, port.Letter(i)) + " " + number(5) + " " + number(10);
    }

    testsupport::TempRegistry registry;
    SimRunController controller;
    FramePort port;
    SimFrames frames{port, controller.Trace(), controller.Settings(), controller.Database()};
    SimCallGenerator generator{controller.Database(), frames, controller.Trace(),
                               controller.Settings()};
    int tick = 0;
};

TEST_F(SimScenarioTest, Mode1OffersThenDropsThenIdles) {
    Start(kMode1);
    EXPECT_EQ(Play(6), "1:D 3:NN 6:D");
    EXPECT_EQ(Event(0), "D 7001 2001");
    EXPECT_EQ(Event(1), "N 7001 2001");
    EXPECT_EQ(Event(2), "N 2001 7001");
    EXPECT_EQ(controller.Trace().sent.offering, 2);
    EXPECT_EQ(controller.Trace().sent.hookOn, 2);
    EXPECT_EQ(controller.Trace().totalSent, 4);
}

TEST_F(SimScenarioTest, LongerPhasesWaitTheirSeconds) {
    controller.cmboList_Click(kWordRingTime, kTwoSeconds);
    controller.cmboList_Click(kWordIdleTime, kTwoSeconds);
    Start(kMode1);
    EXPECT_EQ(Play(8), "1:D 4:NN 8:D");
}

TEST_F(SimScenarioTest, Mode2AnswersBeforeTheDrop) {
    Start(kMode2);
    EXPECT_EQ(Play(8), "1:D 3:E 5:NN 8:D");
    EXPECT_EQ(Event(1), "E 7001 2001");
    EXPECT_EQ(Event(2), "N 7001 2001");
}

TEST_F(SimScenarioTest, Mode3HoldsAndTakesBack) {
    Start(kMode3);
    EXPECT_EQ(Play(9), "1:D 3:E 5:HNI 7:R 9:NN");
    EXPECT_EQ(Event(2), "H 2001 7001");
    EXPECT_EQ(Event(5), "R 2001 7001");
    EXPECT_EQ(controller.Trace().sent.answer, 2); // the answer and the retrieve
    EXPECT_EQ(controller.Trace().sent.held, 1);
}

TEST_F(SimScenarioTest, Mode4ConsultsTransfersAndDropsTheSecondLeg) {
    Start(kMode4);
    const auto before = controller.Database().devices;
    EXPECT_EQ(Play(14), "1:D 3:E 5:HID 7:E 9:TN 11:NN 14:D");
    EXPECT_EQ(Event(1), "E 7001 2001");
    EXPECT_EQ(Event(4), "D 2001 2002"); // the dial to the target
    EXPECT_EQ(Event(5), "E 2001 2002"); // the target answers the consultation
    EXPECT_EQ(Event(8), "N 7001 2002");
    EXPECT_EQ(Event(9), "N 2002 7001");
    EXPECT_TRUE(SimHandlerRig::SameTable(before, controller.Database().devices));
}

TEST_F(SimScenarioTest, Mode5PassesTheCallOnAndTheTargetAnswers) {
    Start(kMode5, kCallCount4);
    EXPECT_EQ(Play(7), "1:DDDD 3:NNNNDDDDVVVV 5:EEEE 7:NNNNNNNN");
    EXPECT_EQ(Event(16), "E 7001 2005");
    EXPECT_EQ(Event(20), "N 7001 2005");
    EXPECT_EQ(Event(21), "N 2005 7001");
}

TEST_F(SimScenarioTest, CallStopDropsACallUnderWay) {
    Start(kMode5);
    EXPECT_EQ(Play(1), "1:D");
    controller.cmdCallSim_Click(); // Call Stop during the ring countdown
    ASSERT_EQ(port.frames.size(), 3u);
    EXPECT_EQ(Event(1), "N 7001 2002"); // the second leg's parties
    EXPECT_EQ(Event(2), "N 2002 7001");
}

TEST_F(SimScenarioTest, CallStopInMode2PairsTheStationAndNothingWhenIdle) {
    Start(kMode2);
    Play(1);
    controller.cmdCallSim_Click();
    ASSERT_EQ(port.frames.size(), 3u);
    EXPECT_EQ(Event(1), "N 7001 2001");

    port.Clear();
    tick = 0;
    controller.cmdCallSim_Click(); // Call Run again
    EXPECT_EQ(Play(6), "1:D 3:E 5:NN");
    controller.cmdCallSim_Click(); // idle countdown: nothing to drop
    EXPECT_EQ(port.Letters(), "DENN");
}

TEST_F(SimScenarioTest, ManualModeOffersOnEveryTickToIdleLinesOnly) {
    Start(kMode1, kCallCount4, 1);
    EXPECT_EQ(Play(2), "1:DDDD");
    EXPECT_EQ(controller.Database().devices[8].callSlots[0].state, SlotRingback);
    EXPECT_EQ(controller.Database().devices[0].callSlots[0].state, SlotOffered);

    // The run's Stop clears the table; a new run offers again, unless generation is off.
    controller.cmdCallSim_Click();
    controller.cmdStop_Click();
    port.Clear();
    tick = 0;
    Start(kMode1, kCallCount4, 1, 1);
    controller.chkCallGen_Click(false);
    EXPECT_EQ(Play(1), "");
    controller.chkCallGen_Click(true);
    EXPECT_EQ(Play(1), "2:IIIIDDDD");
    EXPECT_EQ(Event(4), "D 2005 2001");
}

} // namespace
