#include "SimHandlerRig.h"

#include <gtest/gtest.h>

namespace {

using H = SimCallHandlers;
using Bytes = SimHandlerRig::Bytes;

TEST(SimDrop, ConnectedCallIsClearedAtBothEnds) {
    SimHandlerRig rig;
    rig.Connect(2001, 2003);
    rig.Run(&H::HandleTransferComplete, rig.Request('N', 2001));
    ASSERT_EQ(rig.port.Letters(), "NN");
    EXPECT_EQ(rig.port.frames[0], (Bytes{0x00, 0x0C, 'N', 0xFF, 0xFF, 2, 0, 0, 1, 0, 2, 0, 0, 3}));
    EXPECT_EQ(rig.Event(1), "N 2003 2001");
    EXPECT_EQ(rig.Slot(2001, 0), "(0, 0)");
    EXPECT_EQ(rig.Slot(2003, 0), "(0, 0)");
    EXPECT_EQ(rig.Dev(2001).callCount, 0);
    EXPECT_EQ(rig.Dev(2003).callCount, 0);
}

TEST(SimDrop, EachSlotStateGetsItsOwnTreatment) {
    SimHandlerRig rig;
    rig.Place(2001, SlotDialTone, 0);
    rig.Run(&H::HandleTransferComplete, rig.Request('N', 2001));
    ASSERT_EQ(rig.port.Letters(), "NI");
    EXPECT_EQ(rig.Event(0), "N 2001 2001");
    EXPECT_EQ(rig.Slot(2001, 0), "(1, 0)");
    EXPECT_EQ(rig.Dev(2001).callCount, 1);

    SimHandlerRig offered;
    offered.Place(2002, SlotOffered, 2001);
    offered.Run(&H::HandleTransferComplete, offered.Request('N', 2002));
    EXPECT_EQ(offered.port.Letters(), "");
    EXPECT_EQ(offered.Slot(2002, 0), "(2, 2001)");

    // A ringing-back caller: the called side gets no event but loses its offered slot.
    SimHandlerRig ringing;
    ringing.Place(2001, SlotRingback, 2002);
    ringing.Place(2002, SlotOffered, 2001);
    ringing.Run(&H::HandleTransferComplete, ringing.Request('N', 2001));
    ASSERT_EQ(ringing.port.Letters(), "N");
    EXPECT_EQ(ringing.Event(0), "N 2001 2002");
    EXPECT_EQ(ringing.Slot(2002, 0), "(0, 0)");
    EXPECT_EQ(ringing.Dev(2002).callCount, 0);

    SimHandlerRig busy;
    busy.Place(2001, SlotBusy, 2002);
    busy.Run(&H::HandleTransferComplete, busy.Request('N', 2001));
    EXPECT_EQ(busy.port.Letters(), "N");
    EXPECT_EQ(busy.Event(0), "N 2001 2001");
    EXPECT_EQ(busy.Slot(2001, 0), "(0, 0)");
    EXPECT_EQ(busy.Dev(2001).callCount, 0);
}

TEST(SimDrop, FarEndHoldingAConsultationHearsItsHeldPartyBack) {
    SimHandlerRig rig;
    rig.Connect(2001, 2003);
    rig.Place(2003, SlotTransferHeld, 2005);
    rig.Run(&H::HandleTransferComplete, rig.Request('N', 2001));
    ASSERT_EQ(rig.port.Letters(), "NNR");
    EXPECT_EQ(rig.Event(1), "N 2003 2001");
    EXPECT_EQ(rig.Event(2), "R 2003 2005");
    EXPECT_EQ(rig.Slot(2003, 1), "(6, 2005)");
    EXPECT_EQ(rig.Dev(2003).callCount, 1);
}

TEST(SimDrop, AfterHoldBothSlotsAreFreedAndHoldFieldsStay) {
    SimHandlerRig rig;
    rig.Connect(2001, 2003);
    rig.Run(&H::HandleRequestH, rig.Numbers('H', 2001, 2003));
    rig.port.Clear();
    rig.Run(&H::HandleTransferComplete, rig.Request('N', 2001));
    ASSERT_EQ(rig.port.Letters(), "NN");
    EXPECT_EQ(rig.Event(1), "N 2003 2001");
    EXPECT_EQ(rig.Dev(2001).callCount, 0);
    EXPECT_EQ(rig.Dev(2003).callCount, 0);
    EXPECT_EQ(rig.Dev(2001).holdMode, 1);
    EXPECT_EQ(rig.Dev(2001).heldParty, 2003);
}

TEST(SimDrop, CountsStayAtZeroAndUnknownPartnersAreSkipped) {
    SimHandlerRig rig;
    // The far end counts one call but has two slots for 2001.
    rig.Place(2001, SlotConnected, 2002);
    rig.Place(2002, SlotConnected, 2001);
    rig.Place(2002, SlotHeld, 2001);
    rig.Dev(2002).callCount = 1;
    // A partner the table does not hold is never looked into.
    rig.Place(2001, SlotConnected, 2099);
    rig.Run(&H::HandleTransferComplete, rig.Request('N', 2001));
    ASSERT_EQ(rig.port.Letters(), "NNN");
    EXPECT_EQ(rig.Event(2), "N 2001 2099");
    EXPECT_EQ(rig.Dev(2002).callCount, 0);
    EXPECT_EQ(rig.Slot(2002, 1), "(0, 0)");
    EXPECT_EQ(rig.Dev(2001).callCount, 0);
    EXPECT_EQ(rig.Slot(2001, 1), "(0, 0)");
}

TEST(SimDrop, RefusedForUnknownOrIdleDevices) {
    SimHandlerRig rig;
    rig.Run(&H::HandleTransferComplete, rig.Request('N', 2001));
    rig.ExpectRefused(5);
    EXPECT_TRUE(rig.Logged("[Error Report] There is no Call - 2001"));
    rig.port.Clear();
    rig.Run(&H::HandleTransferComplete, rig.Request('N', 7099));
    rig.ExpectRefused(0);
    EXPECT_TRUE(rig.Logged("[Error Report] Could not find the Device ID - 7099"));
}

TEST(SimTransferCompletion, HangingUpWhileTheTargetRings) {
    SimHandlerRig rig;
    rig.Connect(2001, 2003);
    rig.Run(&H::HandleMakeCall, rig.Dialling('L', 2001, 2002));
    rig.port.Clear();
    rig.trace.Clear();
    rig.Run(&H::HandleTransferComplete, rig.Request('N', 2001));

    ASSERT_EQ(rig.port.Letters(), "TN");
    EXPECT_EQ(rig.Event(0, false), "T 2001");
    EXPECT_EQ(rig.Event(1), "N 2001 2001");
    EXPECT_EQ(rig.trace.Text().find("[Call Report] Line - 2001 have 2 Calls\r\n"), 0u);
    EXPECT_TRUE(rig.Logged("[Call Report] BT Complete & Call Info Changed - 2003 - 2002"));
    EXPECT_TRUE(
        rig.Logged("[Call Report] Device Index : 1 CT Complete & Call Info Changed - 2002 - 2003"));
    EXPECT_EQ(rig.Slot(2003, 0), "(3, 2002)");
    EXPECT_EQ(rig.Slot(2002, 0), "(2, 2003)");
    EXPECT_EQ(rig.Dev(2001).callCount, 0);
    EXPECT_EQ(rig.Dev(2001).holdMode, 0);
    EXPECT_EQ(rig.Dev(2001).heldParty, 0);
    EXPECT_EQ(rig.Dev(2001).transferTarget, 0);
}

TEST(SimTransferCompletion, UnknownPartiesAreTracedAndSkipped) {
    SimHandlerRig rig;
    rig.Place(2001, SlotTransferHeld, 2099);
    rig.Dev(2001).holdMode = 2;
    rig.Dev(2001).heldParty = 2099;
    rig.Dev(2001).transferTarget = 2098;
    rig.Run(&H::HandleTransferComplete, rig.Request('N', 2001));
    EXPECT_EQ(rig.port.Letters(), "TN");
    EXPECT_TRUE(rig.Logged("[Error Report] Could not find the Device ID - 2099"));
    EXPECT_TRUE(rig.Logged("[Error Report] Could not find the Device ID - 2098"));
    EXPECT_EQ(rig.Slot(2001, 0), "(6, 2099)");
    EXPECT_EQ(rig.Dev(2001).holdMode, 0);
    EXPECT_EQ(rig.Dev(2001).transferTarget, 0);

    // Hanging up a consultation that never dialled: nobody is told to ring number 0.
    SimHandlerRig undialled;
    undialled.Connect(2001, 2003);
    undialled.Run(&H::HandleOffHook, undialled.Request('L', 2001, {0x00}));
    undialled.Run(&H::HandleTransferComplete, undialled.Request('N', 2001));
    EXPECT_TRUE(undialled.Logged("[Error Report] Could not find the Device ID - 0"));
    EXPECT_EQ(undialled.Slot(2003, 0), "(4, 2001)");
    EXPECT_EQ(undialled.Slot(2001, 0), "(0, 0)");
}

} // namespace
