#include "SimHandlerRig.h"

#include <gtest/gtest.h>

namespace {

using H = SimCallHandlers;
using Bytes = SimHandlerRig::Bytes;

// 'V': A, B, then the digit count at byte 13 and the digits.
Bytes Deflect(const SimHandlerRig& rig, int a, int b, const Bytes& digits) {
    Bytes body = rig.Numbers('V', a, b);
    body.push_back(static_cast<std::uint8_t>(digits.size()));
    body.insert(body.end(), digits.begin(), digits.end());
    return body;
}

TEST(SimDeflect, RingingCallMovesToTheFirstFreeSlotOfTheDestination) {
    SimHandlerRig rig;
    rig.Place(2001, SlotOffered, 2002);
    rig.Place(2002, SlotRingback, 2001);
    rig.SetSlot(2004, 0, SlotTransferHeld, 2006); // left over, not counted
    rig.Run(&H::HandleRequestV, Deflect(rig, 2001, 2002, {2, 0, 0, 4}));

    ASSERT_EQ(rig.port.Letters(), "NDV");
    EXPECT_EQ(rig.Event(0), "N 2001 2002");
    EXPECT_EQ(rig.port.frames[1], (Bytes{0x00, 0x16, 'D', 0xFF, 0xFF, 2, 0, 0, 2, 0, 2, 0,
                                         0,    4,    2,   0,    0,    1, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(rig.port.frames[2],
              (Bytes{0x00, 0x12, 'V', 0xFF, 0xFF, 2, 0, 0, 1, 0, 2, 0, 0, 4, 2, 0, 0, 2, 1, 0}));
    EXPECT_EQ(rig.Slot(2001, 0), "(0, 0)");
    EXPECT_EQ(rig.Dev(2001).callCount, 0);
    EXPECT_EQ(rig.Slot(2002, 0), "(3, 2004)");
    EXPECT_EQ(rig.Slot(2004, 0), "(6, 2006)");
    EXPECT_EQ(rig.Slot(2004, 1), "(2, 2002)");
    EXPECT_EQ(rig.Dev(2004).callCount, 1);

    // Nothing rings at A from B: A's own call is not uncounted.
    SimHandlerRig stray;
    stray.Connect(2001, 2003);
    stray.Run(&H::HandleRequestV, Deflect(stray, 2001, 2002, {2, 0, 0, 4}));
    EXPECT_EQ(stray.port.Letters(), "NDV");
    EXPECT_EQ(stray.Dev(2001).callCount, 1);
    EXPECT_EQ(stray.Slot(2001, 0), "(4, 2003)");
}

TEST(SimDeflect, BusyDestinationAndRefusals) {
    SimHandlerRig rig;
    rig.Place(2001, SlotOffered, 2002);
    rig.Place(2002, SlotRingback, 2001);
    rig.Connect(2003, 2005);
    const auto before = rig.Snapshot();

    rig.Run(&H::HandleRequestV, Deflect(rig, 2001, 2002, {2, 0, 0, 3}));
    ASSERT_EQ(rig.port.Letters(), "F");
    EXPECT_EQ(rig.port.frames[0],
              (Bytes{0x00, 0x0E, 'F', 0xFF, 0xFF, 2, 0, 0, 1, 0, 0x02, 2, 0, 0, 3, 0}));

    rig.port.Clear();
    rig.Run(&H::HandleRequestV, Deflect(rig, 2001, 2002, {2, 0, 0, 0, 4}));
    rig.ExpectRefused(5);
    EXPECT_EQ(rig.trace.Text().find("[Error Report]"), std::string::npos);

    rig.port.Clear();
    rig.Run(&H::HandleRequestV, Deflect(rig, 2001, 2002, {}));
    rig.ExpectRefused(0);
    EXPECT_TRUE(rig.Logged("[Error Report] Could not find the Device ID - 0"));

    rig.port.Clear();
    rig.Run(&H::HandleRequestV, Deflect(rig, 2001, 2002, {2, 0, 0xFF, 4}));
    rig.ExpectRefused(0);
    EXPECT_TRUE(rig.Logged("[Error Report] Could not find the Device ID - -1"));

    rig.port.Clear();
    Bytes cut = Deflect(rig, 2001, 2002, {2, 0, 0, 4});
    cut.pop_back();
    rig.Run(&H::HandleRequestV, cut);
    rig.ExpectRefused(0);
    EXPECT_TRUE(SimHandlerRig::SameTable(before, rig.db.devices));
}

TEST(SimPickup, PicksUpTheCallRingingElsewhere) {
    SimHandlerRig rig;
    rig.Place(2003, SlotRingback, 2002);
    // The ringing call sits above the call count: slot 0 was freed earlier.
    rig.SetSlot(2002, 1, SlotOffered, 2003);
    rig.Dev(2002).callCount = 1;
    rig.Run(&H::HandleRequestP, rig.Numbers('P', 2001, 2002));

    ASSERT_EQ(rig.port.Letters(), "IVEN");
    EXPECT_EQ(rig.Event(0, false), "I 2001");
    EXPECT_EQ(rig.Event(1), "V 2002 2001");
    EXPECT_EQ(rig.FrameNumber(1, 14), 2003);
    EXPECT_EQ(rig.port.frames[1][18], 2);
    EXPECT_EQ(rig.Event(2), "E 2003 2001");
    EXPECT_EQ(rig.Event(3), "N 2002 2003");
    EXPECT_EQ(rig.Slot(2001, 0), "(4, 2003)");
    EXPECT_EQ(rig.Dev(2001).callCount, 1);
    EXPECT_EQ(rig.Slot(2003, 0), "(4, 2001)");
    EXPECT_EQ(rig.Slot(2002, 1), "(0, 0)");
    EXPECT_EQ(rig.Dev(2002).callCount, 0);
}

TEST(SimPickup, PickerWithoutAFreeSlotKeepsItsOtherCalls) {
    SimHandlerRig rig;
    rig.Place(2003, SlotRingback, 2002);
    rig.Place(2002, SlotOffered, 2003);
    rig.Place(2001, SlotDialTone, 0);
    for (int k = 1; k < kCallSlots; ++k) {
        rig.Place(2001, SlotHeld, 7001);
    }
    rig.Run(&H::HandleRequestP, rig.Numbers('P', 2001, 2002));
    EXPECT_EQ(rig.port.Letters(), "IVEN");
    EXPECT_EQ(rig.Slot(2001, 0), "(1, 0)");
    EXPECT_EQ(rig.Dev(2001).callCount, kCallSlots);
}

TEST(SimPickup, Refusals) {
    SimHandlerRig rig;
    rig.Run(&H::HandleRequestP, rig.Numbers('P', 2001, 2002));
    rig.ExpectRefused(5);

    rig.Connect(2002, 2004); // a call, but nothing ringing
    rig.port.Clear();
    rig.Run(&H::HandleRequestP, rig.Numbers('P', 2001, 2002));
    rig.ExpectRefused(0);
    EXPECT_TRUE(rig.Logged("[Error Report] Could not find the Device ID - 0"));

    rig.port.Clear();
    rig.Run(&H::HandleRequestP, rig.Numbers('P', 2001, 2055));
    rig.ExpectRefused(0);
    EXPECT_EQ(rig.Dev(2001).callCount, 0);
}

TEST(SimPark, ParksTheConnectedPartyAtAnotherDevice) {
    SimHandlerRig rig;
    rig.Connect(2001, 2003);
    rig.Run(&H::HandleRequestLowerP, rig.Numbers('p', 2001, 2005, 2003));

    ASSERT_EQ(rig.port.Letters(), "HIpDNN");
    EXPECT_EQ(rig.Event(0), "H 2001 2003");
    EXPECT_EQ(rig.port.frames[2],
              (Bytes{0x00, 0x10, 'p', 0xFF, 0xFF, 2, 0, 0, 1, 0, 2, 0, 0, 5, 2, 0, 0, 3}));
    EXPECT_EQ(rig.Event(3), "D 2001 2005");
    EXPECT_EQ(rig.Event(4), "N 2005 2001");
    EXPECT_EQ(rig.Event(5), "N 2001 2001");
    EXPECT_EQ(rig.Slot(2001, 0), "(0, 0)");
    EXPECT_EQ(rig.Dev(2001).callCount, 0);
    EXPECT_EQ(rig.Slot(2003, 0), "(4, 2005)");
    EXPECT_EQ(rig.Slot(2005, 0), "(5, 2003)");
    EXPECT_EQ(rig.Dev(2005).holdMode, 1);
    EXPECT_EQ(rig.Dev(2005).heldParty, 2003);
    EXPECT_EQ(rig.Dev(2005).callCount, 1);

    rig.port.Clear();
    rig.Run(&H::HandleRequestLowerP, rig.Numbers('p', 2001, 2005, 2077));
    rig.ExpectRefused(0);
    EXPECT_TRUE(rig.Logged("[Error Report] Could not find the Device ID - 2077"));
}

TEST(SimHeldTransfer, HeldPartyRingsTheNewDestination) {
    SimHandlerRig rig(3);
    rig.Connect(201, 202);
    rig.Run(&H::HandleRequestH, rig.Numbers('H', 201, 202));
    rig.port.Clear();
    rig.Run(&H::HandleRequestLowerT, rig.Numbers('t', 201, 202, 203));

    ASSERT_EQ(rig.port.Letters(), "DTND");
    EXPECT_EQ(rig.Event(0), "D 201 203");
    EXPECT_EQ(rig.Event(1, false), "T 201");
    EXPECT_EQ(rig.Event(2), "N 201 201");
    EXPECT_EQ(rig.Event(3), "D 202 203");
    EXPECT_EQ(rig.Slot(201, 0), "(0, 0)");
    EXPECT_EQ(rig.Dev(201).callCount, 0);
    EXPECT_EQ(rig.Dev(201).holdMode, 0);
    EXPECT_EQ(rig.Dev(201).heldParty, 0);
    EXPECT_EQ(rig.Slot(202, 0), "(3, 203)");
    EXPECT_EQ(rig.Slot(203, 0), "(2, 202)");
    EXPECT_EQ(rig.Dev(203).callCount, 1);

    // The destination is looked up before the held party.
    rig.port.Clear();
    rig.trace.Clear();
    rig.Run(&H::HandleRequestLowerT, rig.Numbers('t', 201, 298, 299));
    rig.ExpectRefused(0);
    EXPECT_TRUE(rig.Logged("[Error Report] Could not find the Device ID - 299"));
    EXPECT_FALSE(rig.Logged("[Error Report] Could not find the Device ID - 298"));
}

} // namespace
