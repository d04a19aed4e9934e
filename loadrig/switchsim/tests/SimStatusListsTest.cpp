#include "SimHandlerRig.h"
#include <switchsim/SimStatusQuery.h>

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Concat(Bytes head, const Bytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// A built table with the given group and member counts, 3-digit numbering unless asked.
struct ListRig : SimHandlerRig {
    ListRig(int groups, int members, int telNoSize = 3) : SimHandlerRig(telNoSize) {
        settings.stnCount = 32;
        settings.deviceCount = 40;
        settings.stnGrpCount = static_cast<std::int16_t>(groups);
        settings.stnMemCount = static_cast<std::int16_t>(members);
        db.BuildSwitchDatabase(settings);
    }
    void Ask(char subLetter, const Bytes& rest = {}) {
        Bytes body = Request('Q', Stn(0), {static_cast<std::uint8_t>(subLetter)});
        body.insert(body.end(), rest.begin(), rest.end());
        query.HandleStatusQuery(body.data(), static_cast<int>(body.size()));
    }
    const Bytes& F(std::size_t i) const { return port.frames.at(i); }
    static Bytes Part(const Bytes& frame, std::size_t from, std::size_t count) {
        return Bytes(frame.begin() + static_cast<std::ptrdiff_t>(from),
                     frame.begin() + static_cast<std::ptrdiff_t>(from + count));
    }
    // Every frame begins with the reply head for station 0 and this sub-code.
    void ExpectHead(std::size_t i, std::size_t size, std::uint8_t subCode) const {
        const Bytes& f = F(i);
        ASSERT_EQ(f.size(), size) << i;
        EXPECT_EQ(Part(f, 0, 11), (Bytes{0x00, static_cast<std::uint8_t>(size - 2), 'Q', 0xFF, 0xFF,
                                         2, 0, 1, 0x0F, 0x00, subCode}))
            << i;
    }
    // Members in frame i from slot 0: their numbers, then 0xFF up to ten slots.
    void ExpectMembers(std::size_t i, int first, int count, bool more) const {
        const Bytes& f = F(i);
        EXPECT_EQ(f[32], count) << i;
        EXPECT_EQ(f[33], more ? 1 : 0) << i;
        for (int s = 0; s < 10; ++s) {
            const Bytes slot = Part(f, 34 + 4 * static_cast<std::size_t>(s), 4);
            if (s < count) {
                EXPECT_EQ(slot, Bytes(DigitsOf(Stn(first + s)))) << i << " slot " << s;
            } else {
                EXPECT_EQ(slot, Bytes(4, 0xFF)) << i << " slot " << s;
            }
        }
    }
    Bytes DigitsOf(int number) const {
        const auto field = SimSwitchDatabase::DigitField(number, settings.telNoSize);
        return Bytes(field.begin(), field.end());
    }
    Bytes GroupHead(int g) const {
        const StationGroupRecord& group = db.groups.at(static_cast<std::size_t>(g));
        Bytes out(group.number.begin(), group.number.end());
        out.insert(out.end(), group.name.begin(), group.name.end());
        out.insert(out.end(), group.attributes.begin(), group.attributes.end());
        return out;
    }

    SimStatusQuery query{db, frames, trace, settings};
};

TEST(SimStatusListsTest, GroupsWithMembersArePagedByTen) {
    // 0 members: one frame per group, no member, all slots 0xFF.
    ListRig none(30, 0);
    none.Ask('G');
    ASSERT_EQ(none.port.frames.size(), 31u);
    none.ExpectHead(0, 74, 'G');
    EXPECT_EQ(none.F(0)[11], 1);
    EXPECT_EQ(ListRig::Part(none.F(0), 12, 20), none.GroupHead(0));
    none.ExpectMembers(0, 0, 0, false);
    EXPECT_EQ(none.F(29)[11], 30);
    none.ExpectHead(30, 12, 'G');
    EXPECT_EQ(none.F(30)[11], 0x00);
    EXPECT_EQ(none.trace.totalSent, 31);

    // 16 members: ten, then six.
    ListRig sixteen(30, 16);
    sixteen.Ask('G');
    ASSERT_EQ(sixteen.port.frames.size(), 61u);
    sixteen.ExpectMembers(0, 0, 10, true);
    sixteen.ExpectMembers(1, 10, 6, false);
    EXPECT_EQ(sixteen.F(1)[11], 1);
    EXPECT_EQ(sixteen.F(2)[11], 2);
    EXPECT_EQ(ListRig::Part(sixteen.F(3), 12, 20), sixteen.GroupHead(1));

    // 30 members: three full frames, then one with none.
    ListRig thirty(30, 30);
    thirty.Ask('G');
    ASSERT_EQ(thirty.port.frames.size(), 30u * 4 + 1);
    thirty.ExpectMembers(0, 0, 10, true);
    thirty.ExpectMembers(1, 10, 10, true);
    thirty.ExpectMembers(2, 20, 10, true);
    thirty.ExpectMembers(3, 0, 0, false);
}

TEST(SimStatusListsTest, GroupDirectoryIsPagedBySix) {
    for (const int groups : {30, 80}) {
        SCOPED_TRACE(groups);
        ListRig rig(groups, 4);
        rig.Ask('g');
        const std::size_t full = static_cast<std::size_t>(groups / 6);
        ASSERT_EQ(rig.port.frames.size(), full + 1); // the last frame, no end frame
        int next = 0;
        for (std::size_t i = 0; i <= full; ++i) {
            rig.ExpectHead(i, 104, 'c');
            const Bytes& f = rig.F(i);
            const int count = i < full ? 6 : groups % 6;
            EXPECT_EQ(f[11], 0x00);
            EXPECT_EQ(f[12], count);
            EXPECT_EQ(f[13], i < full ? 1 : 0);
            for (int s = 0; s < 6; ++s) {
                const Bytes slot = ListRig::Part(f, 14 + 15 * static_cast<std::size_t>(s), 15);
                if (s < count) {
                    const Bytes head = rig.GroupHead(next++);
                    EXPECT_EQ(slot, Bytes(head.begin(), head.begin() + 15));
                } else {
                    EXPECT_EQ(slot, Bytes(15, 0xFF));
                }
            }
        }
        EXPECT_EQ(next, groups);
    }
}

TEST(SimStatusListsTest, MembersOfOneGroup) {
    ListRig rig(30, 16);
    rig.Ask('G');
    const Bytes groupPart0 = rig.F(4); // group 2's two frames in the 'G' answer
    const Bytes groupPart1 = rig.F(5);
    rig.port.Clear();

    // 3-digit group 502 as the link server pads it: 05 00 02 FF.
    rig.Ask('h', {5, 0, 2, 0xFF});
    ASSERT_EQ(rig.port.frames.size(), 2u); // no end frame
    for (std::size_t i = 0; i < 2; ++i) {
        rig.ExpectHead(i, 74, 'h');
        EXPECT_EQ(rig.F(i)[11], 0x00);
        const Bytes& same = i == 0 ? groupPart0 : groupPart1;
        EXPECT_EQ(ListRig::Part(rig.F(i), 12, 62), ListRig::Part(same, 12, 62));
    }
    rig.ExpectMembers(1, 10, 6, false);

    // Unknown group: the refusal with cause 0.
    rig.port.Clear();
    rig.Ask('h', {9, 9, 9, 0xFF});
    rig.ExpectRefused(0);
    EXPECT_EQ(ListRig::Part(rig.F(0), 5, 4), (Bytes{2, 0, 1, 0x0F}));

    // Too short to carry the group number: nothing at all.
    rig.port.Clear();
    rig.Ask('h', {5, 0, 2});
    EXPECT_TRUE(rig.port.frames.empty());
}

TEST(SimStatusListsTest, NumberTables) {
    ListRig rig(30, 0, 4);
    rig.Ask('O');
    ASSERT_EQ(rig.port.frames.size(), 51u);
    for (std::size_t i = 0; i < 50; ++i) {
        const Bytes& f = rig.F(i);
        const DirectoryRecord& e = rig.db.directory[i];
        ASSERT_EQ(f.size(), 58u);
        EXPECT_EQ(f[1], 56);
        EXPECT_EQ(f[10], 'O');
        EXPECT_EQ(f[11], 0);
        EXPECT_EQ(f[12], i + 1);
        EXPECT_EQ(f[13], 0xFF);
        EXPECT_EQ(ListRig::Part(f, 14, 4), Bytes(e.number.begin(), e.number.end()));
        EXPECT_EQ(ListRig::Part(f, 18, 11), Bytes(e.name.begin(), e.name.end()));
        EXPECT_EQ(ListRig::Part(f, 29, 11), Bytes(e.digits.begin(), e.digits.end()));
        EXPECT_EQ(ListRig::Part(f, 40, 18), Concat(Bytes(17, 0xFF), {0x00}));
    }
    EXPECT_EQ(ListRig::Part(rig.F(0), 14, 4), (Bytes{5, 0, 0, 0x0F}));
    EXPECT_EQ(rig.F(50), (Bytes{0x00, 0x0A, 'Q', 0xFF, 0xFF, 2, 0, 0, 1, 0x00, 'O', 0x00}));

    rig.port.Clear();
    rig.Ask('T');
    ASSERT_EQ(rig.port.frames.size(), 51u);
    for (std::size_t i = 0; i < 50; ++i) {
        const Bytes& f = rig.F(i);
        const CliRecord& e = rig.db.cli[i];
        ASSERT_EQ(f.size(), 66u);
        EXPECT_EQ(ListRig::Part(f, 10, 3), (Bytes{'T', 0x00, static_cast<std::uint8_t>(i + 1)}));
        EXPECT_EQ(ListRig::Part(f, 13, 16), Bytes(e.callerNumber.begin(), e.callerNumber.end()));
        EXPECT_EQ(ListRig::Part(f, 29, 11), Bytes(e.callerName.begin(), e.callerName.end()));
        EXPECT_EQ(f[40], 6);
        EXPECT_EQ(ListRig::Part(f, 41, 25), Concat({2, 0, 0, 1}, Concat(Bytes(20, 0x0F), {0})));
    }
    EXPECT_EQ(rig.F(50),
              (Bytes{0x00, 0x0C, 'Q', 0xFF, 0xFF, 2, 0, 0, 1, 0x00, 'T', 0x00, 0x00, 0xFF}));

    rig.port.Clear();
    rig.Ask('E');
    ASSERT_EQ(rig.port.frames.size(), 51u);
    for (std::size_t i = 0; i < 50; ++i) {
        const Bytes& f = rig.F(i);
        const DidRecord& e = rig.db.did[i];
        ASSERT_EQ(f.size(), 44u);
        EXPECT_EQ(ListRig::Part(f, 10, 3), (Bytes{'E', 0x00, static_cast<std::uint8_t>(i + 1)}));
        EXPECT_EQ(ListRig::Part(f, 13, 14), Bytes(e.number.begin(), e.number.end()));
        EXPECT_EQ(ListRig::Part(f, 27, 16), Bytes(e.name.begin(), e.name.end()));
        EXPECT_EQ(f[43], 0x00);
    }
    EXPECT_EQ(rig.F(50),
              (Bytes{0x00, 0x0C, 'Q', 0xFF, 0xFF, 2, 0, 0, 1, 0x00, 'E', 0x00, 0x00, 0xFF}));
    EXPECT_EQ(rig.trace.totalSent, 153);
    EXPECT_EQ(rig.trace.Text(), "");
}

TEST(SimStatusListsTest, AListStopsWhenTheLinkGoes) {
    // The link drops after the third frame: nothing further, no end frame.
    struct ClosingPort : FramePort {
        void SendFrame(const Bytes& frame) override {
            FramePort::SendFrame(frame);
            if (frames.size() == 3) {
                connected = false;
            }
        }
    };
    ListRig rig(30, 0);
    ClosingPort port;
    SimFrames frames(port, rig.trace, rig.settings, rig.db);
    SimStatusQuery query(rig.db, frames, rig.trace, rig.settings);
    for (const char subLetter : {'G', 'O'}) {
        port.Clear();
        port.connected = true;
        Bytes body = rig.Request('Q', rig.Stn(0), {static_cast<std::uint8_t>(subLetter)});
        query.HandleStatusQuery(body.data(), static_cast<int>(body.size()));
        EXPECT_EQ(port.frames.size(), 3u) << subLetter;
        EXPECT_TRUE(port.framesWhileClosed.empty()) << subLetter;
    }
    EXPECT_EQ(rig.trace.totalSent, 6);
}

} // namespace
