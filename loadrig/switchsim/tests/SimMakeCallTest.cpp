#include "SimHandlerRig.h"

#include <gtest/gtest.h>

namespace {

using H = SimCallHandlers;
using Bytes = SimHandlerRig::Bytes;

TEST(SimMakeCall, IdleToIdleRingsTheCalledStation) {
    SimHandlerRig rig;
    rig.Run(&H::HandleRequestD, rig.Dialling('D', 2001, 2002));

    ASSERT_EQ(rig.port.Letters(), "ID");
    EXPECT_EQ(rig.port.frames[0], (Bytes{0x00, 0x08, 'I', 0xFF, 0xFF, 2, 0, 0, 1, 0}));
    EXPECT_EQ(rig.port.frames[1], (Bytes{0x00, 0x16, 'D',  0xFF, 0xFF, 2,    0, 0, 1, 0, 2, 0,
                                         0,    2,    0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 4, 0}));
    EXPECT_EQ(rig.Slot(2001, 0), "(3, 2002)");
    EXPECT_EQ(rig.Slot(2002, 0), "(2, 2001)");
    EXPECT_EQ(rig.Dev(2001).callCount, 1);
    EXPECT_EQ(rig.Dev(2002).callCount, 1);
    EXPECT_EQ(rig.trace.totalSent, 2);
}

TEST(SimMakeCall, ThreeDigitNumberingIgnoresTheFourthRequestByte) {
    SimHandlerRig rig(3);
    rig.Run(&H::HandleRequestD, rig.Dialling('D', 201, 202));

    ASSERT_EQ(rig.port.Letters(), "ID");
    EXPECT_EQ(rig.port.frames[0], (Bytes{0x00, 0x08, 'I', 0xFF, 0xFF, 2, 0, 1, 0x0F, 0}));
    EXPECT_EQ(rig.Event(1), "D 201 202");
    EXPECT_EQ(rig.Slot(201, 0), "(3, 202)");
    EXPECT_EQ(rig.Slot(202, 0), "(2, 201)");
}

TEST(SimMakeCall, BusyTargetIsRecordedOnTheCallersDialTone) {
    SimHandlerRig rig;
    rig.Connect(2002, 2005);
    rig.Run(&H::HandleRequestD, rig.Dialling('D', 2001, 2002));
    ASSERT_EQ(rig.port.Letters(), "IY");
    EXPECT_EQ(rig.port.frames[1][22], 0xFF);
    EXPECT_EQ(rig.Slot(2001, 0), "(7, 2002)");
    EXPECT_EQ(rig.Dev(2001).callCount, 1);
    EXPECT_EQ(rig.Dev(2002).callCount, 1);
    EXPECT_EQ(rig.Slot(2002, 1), "(0, 0)");

    // A caller that already has calls: the attempt lands on its dial-tone slot.
    SimHandlerRig busy;
    busy.Connect(2002, 2005);
    busy.Place(2001, SlotTransferHeld, 2003);
    busy.Place(2001, SlotDialTone, 0);
    busy.Run(&H::HandleRequestD, busy.Dialling('D', 2001, 2002));
    EXPECT_EQ(busy.port.Letters(), "Y");
    EXPECT_EQ(busy.Slot(2001, 1), "(7, 2002)");
    EXPECT_EQ(busy.Dev(2001).callCount, 2);
}

TEST(SimMakeCall, RefusalsCarryTheirCauseAndChangeNothing) {
    SimHandlerRig rig;
    rig.Connect(2001, 2003);
    const auto before = rig.Snapshot();
    struct Case {
        Bytes body;
        int cause;
        const char* line;
    };
    Bytes nonDigit = rig.Dialling('D', 2001, 2002);
    nonDigit[11] = 0x0A; // '*' in a counted place of the dialled number
    Bytes badCaller = rig.Dialling('D', 2001, 2002);
    badCaller[5] = 0xFF;
    Bytes cutShort = rig.Dialling('D', 2001, 2002);
    cutShort.resize(cutShort.size() - 1); // the count points past the end
    const Case cases[] = {
        {rig.Dialling('D', 2001, 20021), 0, nullptr},
        {rig.Dialling('D', 2001, 2099), 0, "[Error Report] Could not find the Device ID - 2099"},
        {rig.Dialling('D', 2099, 2002), 0, "[Error Report] Could not find the Device ID - 2099"},
        {rig.Dialling('D', 2001, 0), 0, "[Error Report] Could not find the Device ID - 0"},
        {nonDigit, 0, "[Error Report] Could not find the Device ID - -1"},
        {badCaller, 0, "[Error Report] Could not find the Device ID - -1"},
        {cutShort, 0, "[Error Report] Could not find the Device ID - -1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.body));
        rig.port.Clear();
        rig.trace.Clear();
        rig.Run(&H::HandleRequestD, c.body);
        rig.ExpectRefused(c.cause);
        if (c.line != nullptr) {
            EXPECT_TRUE(rig.Logged(c.line)) << rig.trace.Text();
        } else {
            EXPECT_EQ(rig.trace.Text(), "");
        }
        EXPECT_TRUE(SimHandlerRig::SameTable(before, rig.db.devices));
    }
    // The same five digits in a long 'L' get cause 1.
    rig.port.Clear();
    rig.Run(&H::HandleMakeCall, rig.Dialling('L', 2001, 20021));
    rig.ExpectRefused(1);
}

TEST(SimConsultation, ShortOffHookThenDialThenTransfer) {
    for (int callMode : {0, 1}) {
        SCOPED_TRACE(callMode);
        SimHandlerRig rig(4, callMode);
        rig.Connect(2001, 2003);
        rig.Run(&H::HandleOffHook, rig.Request('L', 2001, {0x00}));
        ASSERT_EQ(rig.port.Letters(), "HI");
        EXPECT_EQ(rig.port.frames[0],
                  (Bytes{0x00, 0x0E, 'H', 0xFF, 0xFF, 2, 0, 0, 1, 0, 2, 0, 0, 3, 0, 0}));
        EXPECT_EQ(rig.Event(1, false), "I 2001");
        EXPECT_EQ(rig.Slot(2001, 0), "(6, 2003)");
        EXPECT_EQ(rig.Slot(2001, 1), "(1, 0)");
        EXPECT_EQ(rig.Dev(2001).callCount, 2);
        EXPECT_EQ(rig.Dev(2001).holdMode, 2);
        EXPECT_EQ(rig.Dev(2001).heldParty, 2003);

        rig.port.Clear();
        rig.Run(&H::HandleRequestD, rig.Dialling('D', 2001, 2002));
        ASSERT_EQ(rig.port.Letters(), "D");
        EXPECT_EQ(rig.Slot(2001, 1), "(3, 2002)");
        EXPECT_EQ(rig.Dev(2001).transferTarget, 2002);
        EXPECT_EQ(rig.Slot(2002, 0), "(2, 2001)");

        rig.port.Clear();
        rig.Run(&H::HandleRequestT, rig.Request('T', 2001));
        ASSERT_EQ(rig.port.Letters(), "TN");
        EXPECT_EQ(rig.port.frames[0], (Bytes{0x00, 0x08, 'T', 0xFF, 0xFF, 2, 0, 0, 1, 0}));
        EXPECT_EQ(rig.Event(1), "N 2001 2001");
        EXPECT_EQ(rig.Slot(2003, 0), callMode == 0 ? "(4, 2002)" : "(3, 2002)");
        EXPECT_EQ(rig.Slot(2002, 0), "(2, 2003)");
        EXPECT_EQ(rig.Dev(2001).callCount, 0);
        EXPECT_EQ(rig.Slot(2001, 0), "(0, 0)");
        EXPECT_EQ(rig.Slot(2001, 1), "(0, 0)");
        EXPECT_EQ(rig.Dev(2001).holdMode, 0);
        EXPECT_EQ(rig.Dev(2001).heldParty, 0);
        EXPECT_EQ(rig.Dev(2001).transferTarget, 0);
    }
}

TEST(SimConsultation, LongFormHoldsDialsAndTraces) {
    SimHandlerRig rig;
    rig.Connect(2001, 2003);
    rig.Run(&H::HandleMakeCall, rig.Dialling('L', 2001, 2002));

    ASSERT_EQ(rig.port.Letters(), "HID");
    EXPECT_EQ(rig.Event(0), "H 2001 2003");
    EXPECT_EQ(rig.port.frames[0][14], 0x00);
    EXPECT_EQ(rig.Event(2), "D 2001 2002");
    EXPECT_EQ(rig.Slot(2001, 0), "(6, 2003)");
    EXPECT_EQ(rig.Slot(2001, 1), "(3, 2002)");
    EXPECT_EQ(rig.Slot(2003, 0), "(4, 2001)");
    EXPECT_EQ(rig.Slot(2002, 0), "(2, 2001)");
    EXPECT_EQ(rig.Dev(2001).transferTarget, 2002);
    EXPECT_EQ(rig.Dev(2002).callCount, 1);
    EXPECT_TRUE(rig.Logged("[Call Info] DT Call Created - 2001 Call Index : 1"));
    EXPECT_TRUE(rig.Logged("[Call Info] RB Call Created - 2001 Call Index : 1 --> 2002"));
    EXPECT_TRUE(rig.Logged(
        "[Call Info]  Target Device Index : 1 OF Call Created - 2002 Call Index : 0 <-- 2001"));
}

TEST(SimConsultation, RefusedWithoutAConnectedCall) {
    SimHandlerRig rig;
    rig.Run(&H::HandleOffHook, rig.Request('L', 2001, {0x00}));
    rig.ExpectRefused(0);
    EXPECT_TRUE(rig.Logged("[Error Report] Could not find the Device ID - -1"));

    // 2001 thinks it is connected, 2003 holds the call: state mismatch.
    rig.Place(2001, SlotConnected, 2003);
    rig.Place(2003, SlotHeld, 2001);
    const auto before = rig.Snapshot();
    rig.port.Clear();
    rig.trace.Clear();
    rig.Run(&H::HandleOffHook, rig.Request('L', 2001, {0x00}));
    rig.ExpectRefused(5);
    EXPECT_EQ(rig.trace.Text(), "");

    rig.port.Clear();
    rig.Run(&H::HandleMakeCall, rig.Dialling('L', 2001, 2002));
    rig.ExpectRefused(5);
    EXPECT_TRUE(rig.Logged("[Error Report] Call State Mismatch - 2001"));
    EXPECT_TRUE(SimHandlerRig::SameTable(before, rig.db.devices));

    SimHandlerRig dial;
    dial.Connect(2001, 2003);
    dial.Run(&H::HandleMakeCall, dial.Dialling('L', 2001, 2099));
    dial.ExpectRefused(0);
    EXPECT_TRUE(dial.Logged("[Error Report] Could not find the Device ID - 2099"));
    EXPECT_EQ(dial.Dev(2001).holdMode, 0);
}

TEST(SimTransfer, RefusedWithoutCallsOrConsultation) {
    SimHandlerRig rig;
    rig.Run(&H::HandleRequestT, rig.Request('T', 2001));
    rig.ExpectRefused(5);
    EXPECT_TRUE(rig.Logged("[Error Report] There is no Call - 2001"));

    rig.Connect(2001, 2003);
    rig.port.Clear();
    rig.Run(&H::HandleRequestT, rig.Request('T', 2001));
    rig.ExpectRefused(0);
    EXPECT_TRUE(rig.Logged("[Error Report] Could not find the T-Hold Call - 2001"));
    EXPECT_EQ(rig.Slot(2001, 0), "(4, 2003)");

    rig.port.Clear();
    rig.Run(&H::HandleRequestT, rig.Request('T', 2088));
    rig.ExpectRefused(0);
}

TEST(SimTransfer, NothingIsHandedToATargetThatWasNeverDialled) {
    SimHandlerRig rig;
    rig.Connect(2001, 2003);
    rig.Run(&H::HandleOffHook, rig.Request('L', 2001, {0x00}));
    rig.port.Clear();
    rig.Run(&H::HandleRequestT, rig.Request('T', 2001));
    EXPECT_EQ(rig.port.Letters(), "TN");
    // The held party keeps its own slot rather than facing number 0.
    EXPECT_EQ(rig.Slot(2003, 0), "(4, 2001)");
    EXPECT_EQ(rig.Slot(2001, 0), "(0, 0)");
    EXPECT_EQ(rig.Slot(2001, 1), "(1, 0)"); // the dial tone is not part of the transfer
    EXPECT_EQ(rig.Dev(2001).callCount, 1);
}

} // namespace
