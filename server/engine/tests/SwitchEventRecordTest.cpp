#include <engine/SwitchEventRecord.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

using namespace engine;

namespace {

using Bytes = std::vector<std::uint8_t>;
using Field = protocol::DeviceDigits::Field;

// An event body: letter, FF FF, the device digits, the signed byte, then the rest. The vector is
// exactly the body, so a read past it is caught by the sanitizer.
Bytes EventBody(std::uint8_t letter, Field device, std::uint8_t signedByte, Bytes rest = {}) {
    rest.insert(rest.begin(),
                {letter, 0xFF, 0xFF, device[0], device[1], device[2], device[3], signedByte});
    return rest;
}

constexpr Field k201{2, 0, 1, 0xFF};
constexpr Field k0012{0, 0, 1, 2};
constexpr Field kNone{0xFF, 0xFF, 0xFF, 0xFF};

template <typename Record> Record Parsed(const Bytes& body) {
    Record record;
    record.Parse(body);
    return record;
}

} // namespace

TEST(SwitchEventRecord, DecodeDialDigitsRewritesInPlaceUpToTheFirstNonDigit) {
    char field[7] = {1, 0x0A, 0x0B, 9, 0x0C, 3, 'x'};
    DecodeDialDigits(field, 6);
    EXPECT_STREQ(field, "1*#9");
    EXPECT_EQ(field[5], '\0') << "bytes after the end are cleared too";
    EXPECT_EQ(field[6], '\0') << "the terminator goes after the n-th position";

    char full[5] = {0, 1, 2, 3, 'x'};
    DecodeDialDigits(full, 4);
    EXPECT_STREQ(full, "0123");
}

TEST(SwitchEventRecord, ParseDialNumberKeepsLeadingZerosAndCutsAtStarOrHash) {
    struct Case {
        Field digits;
        const char* text;
        int value;
    } cases[] = {
        {k201, "201", 201},
        {k0012, "0012", 12},
        {{0x0A, 1, 2, 0xFF}, "", 0}, // '*' first
        {{1, 0x0B, 2, 3}, "1", 1},   // '#' and what follows are cut
        {{4, 5, 0x0F, 6}, "45", 45}, // the switch's filler
        {kNone, "", 0},
        {{0, 0, 0, 0}, "0000", 0},
    };
    for (const Case& c : cases) {
        std::string text = "stale";
        EXPECT_EQ(ParseDialNumber(c.digits, text), c.value) << c.text;
        EXPECT_EQ(text, c.text);
    }
}

TEST(SwitchEventRecord, DeviceTypesFoldIntoTheKeptTypes) {
    for (int raw = 0; raw < 256; ++raw) {
        std::uint8_t expected = static_cast<std::uint8_t>(raw);
        if (raw == 1 || raw == 17)
            expected = 1;
        else if (raw == 2 || raw == 14 || raw == 18)
            expected = 2;
        else if (raw == 5 || raw == 16)
            expected = 5;
        else if (raw == 13 || raw == 15)
            expected = 13;
        EXPECT_EQ(MapDeviceType(static_cast<std::uint8_t>(raw)), expected) << raw;
    }
}

TEST(SwitchEventRecord, BaseParseGivesTheDecimalDeviceTextAndTheSignedByte) {
    auto plain = Parsed<SwitchEventRecord>(EventBody('F', k0012, 0xFE));
    EXPECT_EQ(plain.m_nDeviceNumber, 12);
    EXPECT_EQ(plain.m_strDeviceText, "12") << "the base parse drops leading zeros";
    EXPECT_EQ(plain.m_nSignedByte, -2);

    auto star = Parsed<SwitchEventRecord>(EventBody('F', {0x0A, 1, 2, 0xFF}, 3));
    EXPECT_EQ(star.m_nDeviceNumber, 0);
    EXPECT_EQ(star.m_strDeviceText, "0");
    EXPECT_EQ(star.m_nSignedByte, 3);

    // A body that stops inside the device number: what is there counts, the rest is absent.
    auto cut = Parsed<SwitchEventRecord>(Bytes{'K', 0xFF, 0xFF, 4, 5});
    EXPECT_EQ(cut.m_nDeviceNumber, 45);
    EXPECT_EQ(cut.m_nSignedByte, -1);
    auto letterOnly = Parsed<PlainEventRecord>(Bytes{'T'});
    EXPECT_EQ(letterOnly.m_strDeviceText, "0");
    EXPECT_EQ(letterOnly.SecondDeliveryText(), "");
}

TEST(SwitchEventRecord, DeviceDownloadRecordMapsTheTypeAndKeepsTheSubType) {
    auto record = Parsed<DeviceDownloadRecord>(EventBody('A', k201, 0, {16, 7}));
    EXPECT_EQ(record.m_strDeviceText, "201");
    EXPECT_EQ(record.m_nType, 5);
    EXPECT_EQ(record.m_nSubType, 7);
    EXPECT_EQ(Parsed<DeviceDownloadRecord>(EventBody('A', k201, 0, {19, 0})).m_nType, 19);
    EXPECT_EQ(Parsed<DeviceDownloadRecord>(EventBody('A', kNone, 0, {0, 0})).m_nType, 0);
    // Without its type byte a record can never pass for the end of the download.
    auto shortRecord = Parsed<DeviceDownloadRecord>(EventBody('A', k201, 0));
    EXPECT_EQ(shortRecord.m_nType, 0xFF);
    EXPECT_EQ(shortRecord.m_nSubType, 0xFF);
}

TEST(SwitchEventRecord, NumberRecordsReadTheirOwnOffsets) {
    const Field second{3, 0, 1, 0xFF};
    const Field third{0, 4, 0, 2};

    auto connected = Parsed<SecondNumberEventRecord>(
        EventBody('E', k201, 0, {second[0], second[1], second[2], second[3]}));
    EXPECT_EQ(connected.m_strSecondText, "301");
    EXPECT_EQ(connected.m_nSecondNumber, 301);
    EXPECT_EQ(connected.SecondDeliveryText(), "301");

    auto renumbered = Parsed<SecondNumberTextEventRecord>(EventBody('m', k201, 0, {0, 3, 0, 1}));
    EXPECT_EQ(renumbered.m_strSecondText, "0301") << "second texts keep leading zeros";
    EXPECT_EQ(renumbered.m_nSecondNumber, 0) << "'m' keeps the text alone";

    const Bytes both{second[0], second[1], second[2], second[3],
                     third[0],  third[1],  third[2],  third[3]};
    auto two = Parsed<TwoNumberEventRecord>(EventBody('V', k201, 0, both));
    EXPECT_EQ(two.m_nSecondNumber, 301);
    EXPECT_EQ(two.m_strThirdText, "0402");
    EXPECT_EQ(two.m_nThirdNumber, 402);
    EXPECT_EQ(two.SecondDeliveryText(), "301");

    auto offering = Parsed<SwappedTwoNumberEventRecord>(EventBody('D', k201, 0, both));
    EXPECT_EQ(offering.m_strThirdText, "301");
    EXPECT_EQ(offering.m_strSecondText, "0402");
    EXPECT_EQ(offering.SecondDeliveryText(), "301") << "'D' is delivered by body[8..11]";

    auto far = Parsed<FarSecondNumberEventRecord>(
        EventBody('Y', k201, 0, {second[0], second[1], second[2], second[3], 9, 5, 5, 5, 0xFF}));
    EXPECT_EQ(far.m_strThirdText, "301");
    EXPECT_EQ(far.m_strSecondText, "555") << "body[12] is skipped";
    EXPECT_EQ(far.SecondDeliveryText(), "201") << "'Y' is delivered by its device twice";

    auto counts = Parsed<CountsEventRecord>(EventBody(
        'q', k201, 0, {second[0], second[1], second[2], second[3], 0x01, 0x02, 0x77, 0x03, 0x04}));
    EXPECT_EQ(counts.m_nSecondNumber, 301);
    EXPECT_EQ(counts.m_nByteValue, 1);
    EXPECT_EQ(counts.m_nCount, 0x0102);
    EXPECT_EQ(counts.m_nSecondCount, 0x0304);
}

TEST(SwitchEventRecord, ShortBodiesLackTheirLaterNumbers) {
    // A 'D' or 'V' without its third number, and an 'E' cut inside its second.
    auto offering = Parsed<SwappedTwoNumberEventRecord>(EventBody('D', k201, 0, {3, 0, 1, 0xFF}));
    EXPECT_EQ(offering.m_strThirdText, "301");
    EXPECT_EQ(offering.m_strSecondText, "");
    EXPECT_EQ(offering.m_nSecondNumber, 0);
    auto two = Parsed<TwoNumberEventRecord>(EventBody('V', k201, 0, {3, 0, 1, 0xFF, 4}));
    EXPECT_EQ(two.m_strThirdText, "4");
    auto cut = Parsed<SecondNumberEventRecord>(EventBody('E', k201, 0, {3, 0}));
    EXPECT_EQ(cut.m_strSecondText, "30");
    auto none = Parsed<SecondNumberEventRecord>(EventBody('E', k201, 0));
    EXPECT_EQ(none.m_strSecondText, "");
    EXPECT_EQ(none.SecondDeliveryText(), "");
    auto counts = Parsed<CountsEventRecord>(EventBody('q', k201, 0, {3, 0, 1, 0xFF, 0x01}));
    EXPECT_EQ(counts.m_nByteValue, 1);
    EXPECT_EQ(counts.m_nCount, 0x01FF);
    EXPECT_EQ(counts.m_nSecondCount, 0xFFFF);
}

TEST(SwitchEventRecord, StatusReplyKeepsTheDeviceTextAndReadsBySubCode) {
    auto forwarded =
        Parsed<StatusReplyEventRecord>(EventBody('Q', k0012, 1, {'F', 0x00, 3, 0, 1, 0xFF}));
    EXPECT_EQ(forwarded.m_strDeviceText, "0012") << "no base parse for 'Q'";
    EXPECT_EQ(forwarded.m_nDeviceNumber, 12);
    EXPECT_EQ(forwarded.m_nSignedByte, 1);
    EXPECT_EQ(forwarded.m_nSubCode, 'F');
    EXPECT_EQ(forwarded.m_strSecondText, "301");
    EXPECT_EQ(forwarded.m_nHoldFlag, 0);

    // 'W' takes its number one byte earlier than 'F'.
    auto waiting = Parsed<StatusReplyEventRecord>(EventBody('Q', k201, 0, {'W', 3, 0, 1, 0xFF}));
    EXPECT_EQ(waiting.m_strSecondText, "301");
    EXPECT_EQ(waiting.m_nSecondNumber, 301);
    auto waitingAsF = Parsed<StatusReplyEventRecord>(EventBody('Q', k201, 0, {'F', 3, 0, 1, 0xFF}));
    EXPECT_EQ(waitingAsF.m_strSecondText, "01");

    auto held = Parsed<StatusReplyEventRecord>(EventBody('Q', k201, 0, {'H'}));
    EXPECT_EQ(held.m_nHoldFlag, 1);
    EXPECT_EQ(held.SecondDeliveryText(), std::string(1, '\x01'));
    EXPECT_EQ(held.m_strSecondText, "");

    auto other = Parsed<StatusReplyEventRecord>(EventBody('Q', k201, 0, {'X', 3, 0, 1, 0xFF}));
    EXPECT_EQ(other.m_strSecondText, "");
    EXPECT_EQ(other.SecondDeliveryText(), std::string(1, '\0'));
    EXPECT_EQ(Parsed<StatusReplyEventRecord>(EventBody('Q', k201, 0)).m_nSubCode, 0xFF);
}

TEST(SwitchEventRecord, DeviceInfoTextIsTakenOnlyAsFarAsTheBodyReaches) {
    // body[8..19]: header, a spare byte, the text length 5, one byte, the two fields.
    const Bytes rest{0x11, 9, 1, 0x14, 0x15, 0x00, 5, 0x16, 0xA1, 0xA2, 0xB1, 0xB2};
    Bytes body = EventBody('i', k201, 0, rest);
    body.insert(body.end(), {0, 30, 'a', 'b', 'c', 'X', 'Y'});

    auto info = Parsed<DeviceInfoEventRecord>(body);
    EXPECT_EQ(info.m_strDeviceText, "201");
    EXPECT_EQ(info.Parameter(), 9);
    EXPECT_EQ(info.SubCode(), 1);
    EXPECT_EQ(info.m_Header[0], 0x11);
    EXPECT_EQ(info.m_Header[4], 0x15);
    EXPECT_EQ(info.m_nTextLength, 5);
    EXPECT_EQ(info.m_nByte15, 0x16);
    EXPECT_EQ(info.m_Field16[1], 0xA2);
    EXPECT_EQ(info.m_Field18[0], 0xB1);
    ASSERT_EQ(info.m_nTextSize, 5u);
    EXPECT_EQ(info.ResultByte(), 0);
    EXPECT_EQ(info.ValueByte(), 30);
    EXPECT_EQ(std::string(info.m_Text.begin(), info.m_Text.begin() + 5), std::string("\0\x1e"
                                                                                     "abc",
                                                                                     5));
    EXPECT_EQ(info.m_Text[5], 0) << "bytes past the announced length are not taken";

    // A length byte that runs past the body is cut to the body.
    Bytes longer = body;
    longer[14] = 200;
    auto cut = Parsed<DeviceInfoEventRecord>(longer);
    EXPECT_EQ(cut.m_nTextLength, 200);
    EXPECT_EQ(cut.m_nTextSize, longer.size() - 20);
    EXPECT_EQ(cut.m_Text[6], 'Y');

    // Length 0 leaves the text cleared, whatever follows.
    Bytes empty = body;
    empty[14] = 0;
    empty[20] = 5;
    auto cleared = Parsed<DeviceInfoEventRecord>(empty);
    EXPECT_EQ(cleared.m_nTextSize, 0u);
    EXPECT_EQ(cleared.ResultByte(), 0);
    EXPECT_EQ(cleared.ValueByte(), 0);

    // Stopped before the text: the header bytes that are absent read as 0xFF.
    auto bare = Parsed<DeviceInfoEventRecord>(EventBody('i', k201, 0, {0x11, 8}));
    EXPECT_EQ(bare.Parameter(), 8);
    EXPECT_EQ(bare.SubCode(), 0xFF);
    EXPECT_EQ(bare.m_nTextSize, 0u);
}

TEST(SwitchEventRecord, DeviceInfoTextStopsAtTheFieldSize) {
    Bytes body = EventBody('i', k201, 0, Bytes(12, 0));
    body[14] = 255;
    for (int i = 0; i < 255; ++i)
        body.push_back(static_cast<std::uint8_t>(i));
    auto info = Parsed<DeviceInfoEventRecord>(body);
    EXPECT_EQ(info.m_nTextSize, DeviceInfoEventRecord::kTextCapacity);
    EXPECT_EQ(info.m_Text[239], 239);
}

TEST(SwitchEventRecord, EachLetterGetsItsRecordClass) {
    auto is = [](std::uint8_t letter, auto* type) {
        auto record = MakeSwitchEventRecord(letter);
        using T = std::remove_pointer_t<decltype(type)>;
        return record != nullptr && dynamic_cast<T*>(record.get()) != nullptr;
    };
    EXPECT_TRUE(is('A', static_cast<DeviceDownloadRecord*>(nullptr)));
    EXPECT_TRUE(is('T', static_cast<PlainEventRecord*>(nullptr)));
    EXPECT_TRUE(is('m', static_cast<SecondNumberTextEventRecord*>(nullptr)));
    for (char letter : std::string("EHNPRSWbchr"))
        EXPECT_TRUE(is(letter, static_cast<SecondNumberEventRecord*>(nullptr))) << letter;
    EXPECT_TRUE(is('V', static_cast<TwoNumberEventRecord*>(nullptr)));
    EXPECT_TRUE(is('p', static_cast<TwoNumberEventRecord*>(nullptr)));
    EXPECT_TRUE(is('D', static_cast<SwappedTwoNumberEventRecord*>(nullptr)));
    EXPECT_TRUE(is('Y', static_cast<FarSecondNumberEventRecord*>(nullptr)));
    EXPECT_TRUE(is('q', static_cast<CountsEventRecord*>(nullptr)));
    EXPECT_TRUE(is('i', static_cast<DeviceInfoEventRecord*>(nullptr)));
    EXPECT_TRUE(is('Q', static_cast<StatusReplyEventRecord*>(nullptr)));
    for (char letter : std::string("UZau"))
        EXPECT_EQ(MakeSwitchEventRecord(letter), nullptr) << letter;
    for (char letter : std::string("FIKX")) {
        auto record = MakeSwitchEventRecord(letter);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(dynamic_cast<NumberEventRecord*>(record.get()), nullptr) << letter;
        EXPECT_EQ(dynamic_cast<DeviceDownloadRecord*>(record.get()), nullptr) << letter;
    }
    EXPECT_TRUE(IsAllClientsEvent('N'));
    EXPECT_TRUE(IsAllClientsEvent('T'));
    EXPECT_FALSE(IsAllClientsEvent('E'));
    EXPECT_FALSE(IsAllClientsEvent('D'));
}
