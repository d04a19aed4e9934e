#include "SimHandlerRig.h"

#include <gtest/gtest.h>

namespace {

using H = SimCallHandlers;
using Bytes = SimHandlerRig::Bytes;

TEST(SimHoldRetrieve, HoldThenRetrieveTheSamePair) {
    SimHandlerRig rig;
    rig.Connect(2001, 2002);
    rig.Run(&H::HandleRequestH, rig.Numbers('H', 2001, 2002));
    ASSERT_EQ(rig.port.Letters(), "HN");
    EXPECT_EQ(rig.port.frames[0],
              (Bytes{0x00, 0x0E, 'H', 0xFF, 0xFF, 2, 0, 0, 1, 0, 2, 0, 0, 2, 0x01, 0}));
    EXPECT_EQ(rig.Event(1), "N 2001 2001");
    EXPECT_EQ(rig.Slot(2001, 0), "(5, 2002)");
    EXPECT_EQ(rig.Slot(2002, 0), "(4, 2001)");
    EXPECT_EQ(rig.Dev(2001).holdMode, 1);
    EXPECT_EQ(rig.Dev(2001).heldParty, 2002);

    rig.port.Clear();
    rig.Run(&H::HandleRequestR, rig.Numbers('R', 2001, 2002));
    ASSERT_EQ(rig.port.Letters(), "IR");
    EXPECT_EQ(rig.Event(0, false), "I 2001");
    EXPECT_EQ(rig.port.frames[1], (Bytes{0x00, 0x0C, 'R', 0xFF, 0xFF, 2, 0, 0, 1, 0, 2, 0, 0, 2}));
    EXPECT_EQ(rig.Slot(2001, 0), "(4, 2002)");
    EXPECT_EQ(rig.Slot(2002, 0), "(4, 2001)");
    EXPECT_EQ(rig.Dev(2001).holdMode, 0);
    EXPECT_EQ(rig.Dev(2001).heldParty, 0);
    EXPECT_EQ(rig.Dev(2001).callCount, 1);
}

TEST(SimHoldRetrieve, RefusalsCarryTheirCause) {
    SimHandlerRig rig;
    rig.Place(2001, SlotRingback, 2002);
    rig.Place(2002, SlotOffered, 2001);
    const auto before = rig.Snapshot();

    rig.Run(&H::HandleRequestH, rig.Numbers('H', 2001, 2002)); // still ringing
    rig.ExpectRefused(5);
    EXPECT_EQ(rig.trace.Text(), "");

    rig.port.Clear();
    rig.Run(&H::HandleRequestH, rig.Numbers('H', 2001, 2077));
    rig.ExpectRefused(0);
    EXPECT_TRUE(rig.Logged("[Error Report] Could not find the Device ID - 2077"));

    rig.port.Clear();
    rig.Run(&H::HandleRequestR, rig.Numbers('R', 2001, 2002)); // nothing held
    rig.ExpectRefused(5);

    rig.port.Clear();
    rig.Run(&H::HandleRequestR, rig.Numbers('R', 2066, 2002));
    rig.ExpectRefused(0);
    EXPECT_TRUE(rig.Logged("[Error Report] Could not find the Device ID - 2066"));

    // Only bytes that were received are read: a body that stops inside B finds nothing.
    Bytes cut = rig.Numbers('H', 2001, 2002);
    cut.resize(11);
    rig.port.Clear();
    rig.Run(&H::HandleRequestH, cut);
    rig.ExpectRefused(0);
    EXPECT_TRUE(SimHandlerRig::SameTable(before, rig.db.devices));
}

TEST(SimAnswer, AnswerConnectsBothSides) {
    for (int callMode : {0, 1}) {
        SCOPED_TRACE(callMode);
        SimHandlerRig rig(3, callMode);
        rig.Place(202, SlotOffered, 201);
        rig.Place(201, SlotRingback, 202);
        rig.Run(&H::HandleRequestF, rig.Numbers('F', 202, 201));
        EXPECT_EQ(rig.Slot(202, 0), "(4, 201)");
        EXPECT_EQ(rig.Slot(201, 0), "(4, 202)");
        if (callMode == 0) {
            ASSERT_EQ(rig.port.Letters(), "SE");
            EXPECT_EQ(rig.port.frames[0],
                      (Bytes{0x00, 0x0E, 'S', 0xFF, 0xFF, 2, 0, 2, 0x0F, 0, 2, 0, 1, 0x0F, 0, 0}));
        } else {
            ASSERT_EQ(rig.port.Letters(), "E");
        }
        EXPECT_EQ(rig.Event(rig.port.frames.size() - 1), "E 201 202");
    }
}

TEST(SimAnswer, AnswerClearsTheOtherConnectedCall) {
    SimHandlerRig rig;
    rig.Connect(2001, 2005);
    rig.Place(2001, SlotOffered, 2002);
    rig.Place(2002, SlotRingback, 2001);
    rig.Run(&H::HandleRequestF, rig.Numbers('F', 2001, 2002));
    ASSERT_EQ(rig.port.Letters(), "SEN");
    EXPECT_EQ(rig.Event(2), "N 2005 2001");
    EXPECT_EQ(rig.Slot(2001, 0), "(0, 0)");
    EXPECT_EQ(rig.Slot(2001, 1), "(4, 2002)");
    EXPECT_EQ(rig.Slot(2005, 0), "(0, 0)");
    EXPECT_EQ(rig.Dev(2001).callCount, 1);
    EXPECT_EQ(rig.Dev(2005).callCount, 0);
}

TEST(SimAnswer, RefusalsAreAllCauseFive) {
    SimHandlerRig rig;
    rig.Place(2001, SlotRingback, 2002);
    rig.Place(2002, SlotOffered, 2001);
    struct Case {
        Bytes body;
        const char* line;
    };
    const Case cases[] = {
        {rig.Numbers('F', 2001, 2002), "[Error Report] Call State Error - 2002"},
        {rig.Numbers('F', 2099, 2002), "[Error Report] Could not find the Device ID - 2099"},
        {rig.Numbers('F', 2002, 2003), "[Error Report] Could not find any call - 2002"},
        {rig.Numbers('F', 2003, 2001), "[Error Report] Could not find any call - 2003"},
    };
    const auto before = rig.Snapshot();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        rig.port.Clear();
        rig.trace.Clear();
        rig.Run(&H::HandleRequestF, c.body);
        rig.ExpectRefused(5);
        EXPECT_TRUE(rig.Logged(c.line)) << rig.trace.Text();
    }
    // The far side has no slot for the answering device.
    rig.Place(2003, SlotOffered, 2004);
    rig.port.Clear();
    rig.trace.Clear();
    rig.Run(&H::HandleRequestF, rig.Numbers('F', 2003, 2004));
    rig.ExpectRefused(5);
    EXPECT_TRUE(rig.Logged("[Error Report] Could not find any call - 2004"));
    rig.Dev(2003).callSlots[0] = CallSlot{};
    rig.Dev(2003).callCount = 0;
    EXPECT_TRUE(SimHandlerRig::SameTable(before, rig.db.devices));

    // Error lines reach the trace box only while tracing is on.
    rig.trace.SetEnabled(false);
    rig.trace.Clear();
    rig.Run(&H::HandleRequestF, rig.Numbers('F', 2001, 2002));
    EXPECT_EQ(rig.trace.Text(), "");
}

} // namespace
