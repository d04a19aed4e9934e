#include <switchsim/SimSwitchDatabase.h>

#include <gtest/gtest.h>

#include <string>

namespace {

using Field = std::array<std::uint8_t, 4>;

SwitchSimSettings Sized(int telNoSize, int stations, int trunks, int members = 0, int groups = 30) {
    SwitchSimSettings s;
    s.telNoSize = static_cast<std::int16_t>(telNoSize);
    s.stnCount = static_cast<std::int16_t>(stations);
    s.trkCount = static_cast<std::int16_t>(trunks);
    s.deviceCount = static_cast<std::int16_t>(stations + trunks);
    s.stnMemCount = static_cast<std::int16_t>(members);
    s.stnGrpCount = static_cast<std::int16_t>(groups);
    s.firstStation = telNoSize == 3 ? 201 : 2001;
    s.firstGroup = telNoSize == 3 ? 500 : 5000;
    s.firstTrunk = telNoSize == 3 ? 701 : 7001;
    return s;
}

template <std::size_t N> std::string Text(const std::array<char, N>& chars) {
    return std::string(chars.data(), N);
}

bool AllLetters(const std::string& text) {
    return text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ") == std::string::npos;
}

// Every random field of the tables, in one text.
std::string RandomPart(const SimSwitchDatabase& db) {
    std::string all;
    for (const auto& g : db.groups) {
        all += Text(g.name);
    }
    for (const auto& r : db.nameBcd) {
        all += Text(r.name) + std::string(r.bcd.begin(), r.bcd.end());
    }
    for (const auto& r : db.directory) {
        all += Text(r.name) + std::string(r.digits.begin(), r.digits.end());
    }
    for (const auto& r : db.cli) {
        all += Text(r.callerNumber) + Text(r.callerName);
    }
    for (const auto& r : db.did) {
        all += Text(r.number) + Text(r.name);
    }
    for (const auto& k : db.keys) {
        all += Text(k.name);
    }
    return all;
}

TEST(SimSwitchDatabase, ThreeDigitSwitchNumbersStationsThenTrunks) {
    SimSwitchDatabase db;
    db.BuildSwitchDatabase(Sized(3, 8, 8, 4));
    ASSERT_EQ(db.devices.size(), 16u);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(db.devices[i].number, 201 + i);
        EXPECT_EQ(db.devices[i].type, 2);
        EXPECT_EQ(db.devices[i].ownIndex, i);
        EXPECT_EQ(db.devices[8 + i].number, 701 + i);
        EXPECT_EQ(db.devices[8 + i].type, 4);
        EXPECT_EQ(db.devices[8 + i].ownIndex, 8 + i);
    }
    const SimDeviceInfoBlock& info = db.devices[3].info;
    EXPECT_EQ(info.codeF, 16);
    EXPECT_EQ(info.bytesK, (Field{1, 2, 3, 4}));
    EXPECT_EQ(info.stnMsgIndex, 255);

    ASSERT_EQ(db.groups.size(), 30u);
    EXPECT_EQ(db.groups[0].number, (Field{5, 0, 0, 0x0F}));
    EXPECT_EQ(db.groups[29].number, (Field{5, 2, 9, 0x0F}));
    for (const auto& g : db.groups) {
        EXPECT_TRUE(AllLetters(Text(g.name)));
        EXPECT_EQ(g.memberCount, 4);
        EXPECT_EQ(g.members[0], (Field{2, 0, 1, 0x0F}));
        EXPECT_EQ(g.members[3], (Field{2, 0, 4, 0x0F}));
        EXPECT_EQ(g.members[4], (Field{0, 0, 0, 0}));
        EXPECT_EQ(g.attributes, (std::array<std::uint8_t, 5>{0, 0, 45, 30, 0}));
    }

    EXPECT_EQ(Text(db.keys[0].label), "CALL  ");
    EXPECT_EQ(Text(db.keys[7].number), "8   ");
    EXPECT_EQ(db.keys[7].code, 16);
    EXPECT_EQ(Text(db.keys[8].label), "DT    ");
    EXPECT_EQ(Text(db.keys[8].number), "701 ");
    EXPECT_EQ(db.keys[15].code, 40);
    EXPECT_EQ(Text(db.keys[23].label), "DS    ");
    EXPECT_EQ(Text(db.keys[23].number), "208 ");
    EXPECT_EQ(db.keys[23].code, 39);
    EXPECT_EQ(db.keys[23].flag, 1);
    EXPECT_EQ(db.keys[23].index, 23);
    EXPECT_EQ(db.keys[23].blank, ' ');
}

TEST(SimSwitchDatabase, LargeFourDigitSwitchAndEmptyGroups) {
    SimSwitchDatabase db;
    db.BuildSwitchDatabase(Sized(4, 512, 128, 0, 80));
    ASSERT_EQ(db.devices.size(), 640u);
    EXPECT_EQ(db.devices[0].number, 2001);
    EXPECT_EQ(db.devices[511].number, 2512);
    EXPECT_EQ(db.devices[512].number, 7001);
    EXPECT_EQ(db.devices[639].number, 7128);
    EXPECT_EQ(Text(db.keys[8].number), "7001");
    EXPECT_EQ(Text(db.keys[16].number), "2001");
    ASSERT_EQ(db.groups.size(), 80u);
    EXPECT_EQ(db.groups[79].number, (Field{5, 0, 7, 9}));
    for (const auto& g : db.groups) {
        EXPECT_EQ(g.memberCount, 0);
        EXPECT_EQ(g.members[0], (Field{0, 0, 0, 0}));
    }
    // Short numbers keep three digits whatever the number length.
    EXPECT_EQ(db.directory[0].number, (Field{5, 0, 0, 0x0F}));
    EXPECT_EQ(db.directory[49].number, (Field{5, 4, 9, 0x0F}));
    for (const auto& r : db.directory) {
        for (auto d : r.digits) {
            EXPECT_LE(d, 9);
        }
        for (auto f : r.filler) {
            EXPECT_EQ(f, 0xFF);
        }
    }
    for (const auto& r : db.cli) {
        EXPECT_EQ(Text(r.callerNumber).find_first_not_of("0123456789"), std::string::npos);
        EXPECT_TRUE(AllLetters(Text(r.callerName)));
        EXPECT_EQ(r.count, 6);
        EXPECT_EQ(r.firstStation, (Field{2, 0, 0, 1}));
        EXPECT_EQ(r.emptyNumbers[4], (Field{0x0F, 0x0F, 0x0F, 0x0F}));
    }
    for (const auto& r : db.did) {
        EXPECT_EQ(Text(r.number).find_first_not_of("0123456789"), std::string::npos);
        EXPECT_TRUE(AllLetters(Text(r.name)));
    }
    for (std::size_t i = 0; i < db.nameBcd.size(); ++i) {
        EXPECT_EQ(db.nameBcd[i].index, static_cast<std::int16_t>(i));
        for (auto b : db.nameBcd[i].bcd) {
            EXPECT_LE(b >> 4, 9);
            EXPECT_LE(b & 0x0F, 9);
        }
    }
    EXPECT_EQ(Text(db.stationMessages[17]), "MISSING IN ACTIO");
}

TEST(SimSwitchDatabase, EveryStartDrawsTheSameNamesAndLaterRunsGoOn) {
    const SwitchSimSettings settings = Sized(4, 8, 8);
    SimSwitchDatabase first;
    SimSwitchDatabase second;
    first.BuildSwitchDatabase(settings);
    second.BuildSwitchDatabase(settings);
    const std::string drawn = RandomPart(first);
    EXPECT_EQ(drawn, RandomPart(second));

    first.BuildSwitchDatabase(settings);
    EXPECT_NE(RandomPart(first), drawn);
}

TEST(SimSwitchDatabase, StopForgetsCallsButKeepsTheConsultation) {
    SimSwitchDatabase db;
    db.BuildSwitchDatabase(Sized(4, 8, 8));
    SimDeviceRecord& d = db.devices[2];
    d.callCount = 2;
    d.callSlots[0] = CallSlot{SlotTransferHeld, 2004};
    d.callSlots[23] = CallSlot{SlotDialTone, 0};
    d.holdMode = 2;
    d.heldParty = 2004;
    d.transferTarget = 2005;
    db.ResetDeviceCalls();
    EXPECT_EQ(d.callCount, 0);
    EXPECT_EQ(d.callSlots[0].state, SlotFree);
    EXPECT_EQ(d.callSlots[0].partner, 0);
    EXPECT_EQ(d.callSlots[23].state, SlotFree);
    EXPECT_EQ(d.holdMode, 2);
    EXPECT_EQ(d.heldParty, 2004);
    EXPECT_EQ(d.transferTarget, 2005);
    EXPECT_EQ(db.devices.size(), 16u);
}

TEST(SimSwitchDatabase, LookupsAnswerAnIndexOrNotFound) {
    SimSwitchDatabase db;
    db.BuildSwitchDatabase(Sized(4, 8, 8));
    EXPECT_EQ(db.FindDeviceIndex(2001), 0);
    EXPECT_EQ(db.FindDeviceIndex(7008), 15);
    EXPECT_EQ(db.FindDeviceIndex(2009), kSimNotFound);
    EXPECT_EQ(db.FindDeviceIndex(-1), kSimNotFound);

    const Field group{5, 0, 0, 3};
    EXPECT_EQ(db.FindGroupIndex(group.data()), 3);
    const Field noGroup{5, 0, 3, 0};
    EXPECT_EQ(db.FindGroupIndex(noGroup.data()), kSimNotFound);
    EXPECT_EQ(db.FindGroupIndex(nullptr), kSimNotFound);

    SimDeviceRecord& d = db.devices[1];
    d.callSlots[0] = CallSlot{SlotRingback, 2005};
    d.callSlots[1] = CallSlot{SlotConnected, 2003};
    d.callSlots[2] = CallSlot{SlotConnected, 2004};
    EXPECT_EQ(db.FindCallSlot(1, 2004), 2);
    EXPECT_EQ(db.FindCallSlot(1, 2007), kSimNotFound);
    EXPECT_EQ(db.FindCallSlot(kSimNotFound, 2004), kSimNotFound);
    EXPECT_EQ(db.FindCallSlot(16, 0), kSimNotFound);

    // The connected partner counts only for a device with calls.
    EXPECT_EQ(db.FindConnectedPartner(1), kSimNotFound);
    d.callCount = 3;
    EXPECT_EQ(db.FindConnectedPartner(1), 2003);
    EXPECT_EQ(db.FindConnectedPartner(0), kSimNotFound);
    EXPECT_EQ(db.FindConnectedPartner(kSimNotFound), kSimNotFound);

    EXPECT_EQ(db.FindFreeSlot(1), 3);
    for (CallSlot& slot : d.callSlots) {
        slot.state = SlotHeld;
    }
    EXPECT_EQ(db.FindFreeSlot(1), kSimNotFound);
    EXPECT_EQ(db.FindFreeSlot(16), kSimNotFound);
}

TEST(SimSwitchDatabase, DigitFieldsFollowTheNumberLength) {
    EXPECT_EQ(SimSwitchDatabase::DigitField(2001, 4), (Field{2, 0, 0, 1}));
    EXPECT_EQ(SimSwitchDatabase::DigitField(201, 3), (Field{2, 0, 1, 0x0F}));
    EXPECT_EQ(SimSwitchDatabase::DigitField(7, 4), (Field{0, 0, 0, 7}));
    // A number too long for the field still yields digit values only.
    const Field wide = SimSwitchDatabase::DigitField(65535, 4);
    for (auto d : wide) {
        EXPECT_LE(d, 9);
    }
}

} // namespace
