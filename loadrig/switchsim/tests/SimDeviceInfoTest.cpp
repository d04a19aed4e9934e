#include "SimHandlerRig.h"
#include <switchsim/SimDeviceInfo.h>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using Bytes = std::vector<std::uint8_t>;

struct InfoRig : SimHandlerRig {
    InfoRig() : SimHandlerRig(4) {}

    // 02 'i' FF FF <device> 00 <parameter> <sub-type> 00 .. 00 <18> <19>.
    Bytes Query(int device, std::uint8_t subType, std::uint8_t parameter = 0x09) const {
        Bytes body = Request('i', device, {parameter, subType});
        body.resize(20, 0x00);
        body[18] = 0xAB;
        body[19] = 0xCD;
        return body;
    }
    void Ask(const Bytes& body) {
        port.Clear();
        info.HandleDeviceInfoRequest(body.data(), static_cast<int>(body.size()));
    }
    const Bytes& F(std::size_t i) const { return port.frames.at(i); }
    static Bytes Part(const Bytes& frame, std::size_t from, std::size_t count) {
        return Bytes(frame.begin() + static_cast<std::ptrdiff_t>(from),
                     frame.begin() + static_cast<std::ptrdiff_t>(from + count));
    }
    // Header bytes 0..21 of a frame about `device`.
    static Bytes Head(std::size_t size, std::uint8_t code, std::uint8_t sequence,
                      std::uint8_t textLength, bool last, const Bytes& digits, const Bytes& index) {
        Bytes head{0x00, static_cast<std::uint8_t>(size - 2), 'i', 0xFF, 0xFF};
        head.insert(head.end(), digits.begin(), digits.end());
        const Bytes rest{0x00,     0x00,       0x09,
                         code,     0xD0,       0x00,
                         sequence, textLength, static_cast<std::uint8_t>(last ? 0xE0 : 0x00),
                         index[0], index[1],   0xAB,
                         0xCD};
        head.insert(head.end(), rest.begin(), rest.end());
        return head;
    }

    SimDeviceInfo info{db, frames, settings};
};

TEST(SimDeviceInfoTest, StartAndLinkChecks) {
    InfoRig rig;
    // The link server's start request: no device, parameter 9.
    Bytes start{0x02, 'i', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x09, 0x00};
    start.resize(19, 0xFF);
    rig.Ask(start);
    ASSERT_EQ(rig.port.frames.size(), 1u);
    EXPECT_EQ(rig.F(0), (Bytes{0x00, 0x1C, 0x69, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x00,
                               0x00, 0x09, 0x01, 0xD0, 0x00, 0x01, 0x08, 0xE0, 0xFF, 0xFF,
                               0xFF, 0xFF, 0x00, 0x00, 0x03, 0x02, 0x13, 0x02, 0x00, 0x54}));

    // The link check, 19 bytes long.
    start[9] = 0x00;
    start[10] = 0x02;
    rig.Ask(start);
    ASSERT_EQ(rig.port.frames.size(), 1u);
    EXPECT_EQ(rig.F(0),
              (Bytes{0x00, 0x16, 0x69, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00,
                     0x02, 0xD0, 0x00, 0x01, 0x00, 0xE0, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}));
    EXPECT_EQ(rig.trace.totalSent, 2);
    EXPECT_EQ(rig.trace.Text(), "");
}

TEST(SimDeviceInfoTest, PortAndLineInformation) {
    InfoRig rig;
    rig.Ask(rig.Query(2003, 3));
    ASSERT_EQ(rig.port.frames.size(), 1u);
    const Bytes& port = rig.F(0);
    ASSERT_EQ(port.size(), 54u);
    EXPECT_EQ(InfoRig::Part(port, 0, 22), InfoRig::Head(54, 4, 1, 32, true, {2, 0, 0, 3}, {0, 2}));
    Bytes text{0x00, 0x2A, 0x00, 0x02, 0x00, 0x0A, 0, 0, 0, 0, 0, 0, 0, 0x06, 0x00};
    text.resize(31, 0x20);
    text.push_back(0xFF);
    EXPECT_EQ(InfoRig::Part(port, 22, 32), text);

    // A device the table does not hold: FF FF where its index would stand.
    rig.Ask(rig.Query(2999, 3));
    ASSERT_EQ(rig.port.frames.size(), 1u);
    EXPECT_EQ(InfoRig::Part(rig.F(0), 18, 2), (Bytes{0xFF, 0xFF}));
    EXPECT_EQ(InfoRig::Part(rig.F(0), 22 + 2, 2), (Bytes{0xFF, 0xFF}));
    EXPECT_EQ(InfoRig::Part(rig.F(0), 5, 4), (Bytes{2, 9, 9, 9})); // copied unchanged

    rig.Ask(rig.Query(2003, 7));
    ASSERT_EQ(rig.port.frames.size(), 1u);
    const Bytes& line = rig.F(0);
    ASSERT_EQ(line.size(), 86u);
    EXPECT_EQ(InfoRig::Part(line, 0, 22), InfoRig::Head(86, 7, 1, 64, true, {2, 0, 0, 3}, {0, 2}));
    Bytes lineText{0x00, 0x00};
    lineText.resize(13, 0xFF);
    lineText.resize(24, 0x20);
    for (const std::uint8_t b :
         {0x00, 0x00, 0x01, 0xFF, 0xFF, 0x00, 0xFF, 0xFF, 0x00, 0xFF, 0xFF, 0xFF}) {
        lineText.push_back(b);
    }
    lineText.resize(52, 0x20);
    for (const std::uint8_t b :
         {0xFF, 0xFF, 0x03, 0x02, 0x19, 0x02, 0x00, 0x19, 0x03, 0xFF, 0xFF, 0xFF}) {
        lineText.push_back(b);
    }
    EXPECT_EQ(InfoRig::Part(line, 22, 64), lineText);

    // The record's own bytes reach text offsets 0 and 1.
    rig.Dev(2003).info.byteK = 0x33;
    rig.Dev(2003).info.codeF = 19;
    rig.Ask(rig.Query(2003, 7));
    EXPECT_EQ(InfoRig::Part(rig.F(0), 22, 2), (Bytes{0x33, 0x03}));
    rig.Dev(2003).info.codeF = 30;
    rig.Ask(rig.Query(2003, 7));
    EXPECT_EQ(rig.F(0)[23], 0x00);
}

TEST(SimDeviceInfoTest, NameRowsInTwoFrames) {
    InfoRig rig;
    rig.Ask(rig.Query(2001, 13));
    ASSERT_EQ(rig.port.frames.size(), 2u);
    EXPECT_EQ(InfoRig::Part(rig.F(0), 0, 22),
              InfoRig::Head(256, 13, 1, 234, false, {2, 0, 0, 1}, {0, 0}));
    EXPECT_EQ(InfoRig::Part(rig.F(1), 0, 22),
              InfoRig::Head(48, 13, 2, 26, true, {2, 0, 0, 1}, {0, 0}));
    ASSERT_EQ(rig.F(0).size(), 256u);
    EXPECT_EQ(rig.F(0)[1], 254);
    for (std::size_t row = 0; row < 10; ++row) {
        const NameBcdRecord& record = rig.db.nameBcd[row];
        Bytes expected(26);
        expected[0] = static_cast<std::uint8_t>(row);
        std::copy(record.name.begin(), record.name.end(), expected.begin() + 1);
        std::copy(record.bcd.begin(), record.bcd.end(), expected.begin() + 12);
        const Bytes& frame = rig.F(row < 9 ? 0 : 1);
        EXPECT_EQ(InfoRig::Part(frame, 22 + 26 * (row % 9), 26), expected) << row;
    }
}

TEST(SimDeviceInfoTest, KeyRowsInThreeFrames) {
    InfoRig rig;
    rig.Ask(rig.Query(2001, 14));
    ASSERT_EQ(rig.port.frames.size(), 3u);
    const std::size_t sizes[] = {256, 256, 178};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(InfoRig::Part(rig.F(i), 0, 22),
                  InfoRig::Head(sizes[i], 14, static_cast<std::uint8_t>(i + 1),
                                static_cast<std::uint8_t>(sizes[i] - 22), i == 2, {2, 0, 0, 1},
                                {0, 0}));
    }
    // Key 9, the second trunk key, leads the second frame; key 23 ends the third.
    const KeyRecord& k9 = rig.db.keys[9];
    Bytes row9{0x00, 9, 'D', 'T', ' ', ' ', ' ', ' ', '7', '0', '0', '2', 40, 1};
    row9.insert(row9.end(), k9.name.begin(), k9.name.end());
    row9.push_back(' ');
    EXPECT_EQ(InfoRig::Part(rig.F(1), 22, 26), row9);
    EXPECT_EQ(rig.F(2)[22 + 26 * 5 + 1], 23);
    EXPECT_EQ(rig.F(2)[22 + 26 * 5 + 2], 'D');
    EXPECT_EQ(rig.F(2)[22 + 26 * 5 + 3], 'S');
    EXPECT_EQ(rig.trace.totalSent, 3);

    // A link that goes mid-reply ends it there.
    struct ClosingPort : FramePort {
        void SendFrame(const Bytes& frame) override {
            FramePort::SendFrame(frame);
            connected = false;
        }
    } closing;
    SimFrames frames(closing, rig.trace, rig.settings, rig.db);
    SimDeviceInfo info(rig.db, frames, rig.settings);
    const Bytes body = rig.Query(2001, 14);
    info.HandleDeviceInfoRequest(body.data(), static_cast<int>(body.size()));
    EXPECT_EQ(closing.frames.size(), 1u);
    EXPECT_TRUE(closing.framesWhileClosed.empty());
}

TEST(SimDeviceInfoTest, RequestsThatAreNotAnswered) {
    InfoRig rig;
    for (const std::uint8_t subType : {1, 21, 22, 26, 34, 99}) {
        rig.Ask(rig.Query(2001, subType));
        EXPECT_TRUE(rig.port.frames.empty()) << int(subType);
    }
    // No sub-type byte.
    rig.Ask({0x02, 'i', 0xFF, 0xFF, 2, 0, 0, 1, 0x00, 0x09});
    EXPECT_TRUE(rig.port.frames.empty());
    EXPECT_EQ(rig.trace.totalSent, 0);
    EXPECT_EQ(rig.trace.Text(), "");

    // A short request for a device: what it did not carry shows as 0xFF.
    rig.Ask({0x02, 'i', 0xFF, 0xFF, 2, 0, 0, 1, 0x00, 0x09, 3});
    ASSERT_EQ(rig.port.frames.size(), 1u);
    EXPECT_EQ(InfoRig::Part(rig.F(0), 18, 4), (Bytes{0x00, 0x00, 0xFF, 0xFF}));
}

} // namespace
