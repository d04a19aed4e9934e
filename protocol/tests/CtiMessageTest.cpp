#include <protocol/CtiEvent.h>
#include <protocol/CtiRecord.h>
#include <protocol/CtiRequest.h>
#include <protocol/HexTrace.h>
#include <protocol/MessageLetters.h>
#include <protocol/Supervision.h>

#include <gtest/gtest.h>

#include <vector>

using namespace protocol;
using Field = DeviceDigits::Field;

namespace {

Bytes Seq(std::size_t n) {
    Bytes bytes(n);
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7);
    return bytes;
}

TEST(CtiRecord, EncodePutsTheBigEndianLengthInFront) {
    const Bytes body{0x02, 'u', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    Bytes expected{0x00, 0x09};
    expected.insert(expected.end(), body.begin(), body.end());
    EXPECT_EQ(CtiRecord::Encode(body), expected);

    const Bytes big = Seq(0x1234);
    const Bytes framed = CtiRecord::Encode(big);
    ASSERT_EQ(framed.size(), big.size() + 2);
    EXPECT_EQ(framed[0], 0x12);
    EXPECT_EQ(framed[1], 0x34);
    EXPECT_TRUE(std::equal(big.begin(), big.end(), framed.begin() + 2));

    EXPECT_EQ(CtiRecord::Encode({}), (Bytes{0x00, 0x00}));
    EXPECT_EQ(CtiRecord::Encode(Seq(65535)).size(), 65537u);
}

TEST(CtiRecord, EncodeRefusesABodyThatTheLengthCannotHold) {
    EXPECT_TRUE(CtiRecord::Encode(Seq(65536)).empty());
}

TEST(CtiRecord, AtViewsExactlyTheAnnouncedRecord) {
    const Bytes bytes{0x00, 0x03, 'a', 'b', 'c', 0x00, 0x01, 'z'};
    const auto record = CtiRecord::At(bytes);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->Length(), 3);
    EXPECT_EQ(record->Frame().size(), 5u);
    EXPECT_EQ(record->Frame().data(), bytes.data());
    EXPECT_EQ(Bytes(record->Body().begin(), record->Body().end()), (Bytes{'a', 'b', 'c'}));

    const auto second = CtiRecord::At(ByteView(bytes).subspan(5));
    ASSERT_TRUE(second);
    EXPECT_EQ(second->Body()[0], 'z');
}

TEST(CtiRecord, AtRefusesBytesShorterThanTheRecord) {
    EXPECT_FALSE(CtiRecord::At(Bytes{}));
    EXPECT_FALSE(CtiRecord::At(Bytes{0x00}));
    EXPECT_FALSE(CtiRecord::At(Bytes{0x00, 0x03, 'a', 'b'}));
    EXPECT_FALSE(CtiRecord::At(Bytes{0xFF, 0xFF, 'a'}));
    const Bytes zero{0x00, 0x00, 'x'};
    const auto empty = CtiRecord::At(zero);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->Length(), 0);
    EXPECT_TRUE(empty->Body().empty());
}

TEST(CtiRequest, ReadsTheHeaderFields) {
    const Bytes body{0x02, 'Q', 0xFF, 0xFF, 0x02, 0x00, 0x01, 0xFF, 0x05, 'm', 0x11, 0x22};
    const CtiRequest request(body);
    EXPECT_TRUE(request.HasStartByte());
    EXPECT_EQ(request.Letter(), RequestLetter::StatusQueryRequest);
    EXPECT_EQ(request.Device(), (Field{0x02, 0x00, 0x01, 0xFF}));
    EXPECT_EQ(request.DeviceText(), "201");
    EXPECT_EQ(request.DeviceValue(), 201);
    EXPECT_EQ(request.Argument(), 0x05);
    EXPECT_EQ(request.Parameter(), 'm');
    EXPECT_EQ(Bytes(request.Data().begin(), request.Data().end()), (Bytes{0x11, 0x22}));
}

TEST(CtiRequest, ShortBodiesReadAsPaddedWithFF) {
    const Bytes body{0x02, 'D', 0xFF, 0xFF, 0x03, 0x01};
    const CtiRequest request{ByteView(body)};
    EXPECT_EQ(request.DeviceText(), "31");
    EXPECT_EQ(request.Device(), (Field{0x03, 0x01, 0xFF, 0xFF}));
    EXPECT_EQ(request.Argument(), 0xFF);
    EXPECT_EQ(request.Parameter(), 0xFF);
    EXPECT_TRUE(request.Data().empty());
    EXPECT_FALSE(request.Has(6));
    EXPECT_TRUE(request.Has(4, 2));
    EXPECT_FALSE(request.Has(4, 3));
    EXPECT_FALSE(request.Has(SIZE_MAX, 2)); // no wrap-around

    EXPECT_FALSE(CtiRequest(Bytes{0x01, 'D'}).HasStartByte());
    const CtiRequest empty{ByteView{}};
    EXPECT_FALSE(empty.HasStartByte());
    EXPECT_EQ(empty.Letter(), 0xFF);
    EXPECT_EQ(empty.DeviceText(), "");
}

TEST(CtiEvent, ReadsTheHeaderAndNumbers) {
    const Bytes body{'D',  0x00, 0x07, 0x02, 0x00, 0x01, 0xFF, 0xFE, 0x07,
                     0x00, 0x01, 0xFF, 0x00, 0x00, 0x01, 0x02, 0x04, 0x00};
    const CtiEvent event(body);
    EXPECT_EQ(event.Letter(), EventLetter::OfferingEvent);
    EXPECT_EQ(event.Index(), 7);
    EXPECT_EQ(event.DeviceText(), "201");
    EXPECT_EQ(event.SignedByte(), -2);
    EXPECT_EQ(DeviceDigits::Text(event.Second()), "701");
    EXPECT_EQ(DeviceDigits::Text(event.Third()), "0012");
    EXPECT_EQ(DeviceDigits::Value(event.Third()), 12);
    EXPECT_EQ(event.DigitsText(13), "0124"); // fields at other offsets, as some letters use
    EXPECT_EQ(Bytes(event.Data().begin(), event.Data().end()), (Bytes{0x04, 0x00}));
}

TEST(CtiEvent, AbsentBytesEndNumbersAndMatchNoCode) {
    // A request result: cause at byte 8, nothing after it.
    const Bytes result{'F', 0xFF, 0xFF, 0x02, 0x00, 0x01, 0xFF, 0x00, 0x05};
    const CtiEvent f(result);
    EXPECT_EQ(f.Cause(), 0x05);
    EXPECT_EQ(f.SignedByte(), 0);
    EXPECT_EQ(f.Third(), (Field{0xFF, 0xFF, 0xFF, 0xFF}));

    // A 'D' cut inside its second number.
    const Bytes cut{'D', 0xFF, 0xFF, 0x02, 0x00, 0x01, 0xFF, 0x00, 0x07, 0x00};
    const CtiEvent d(cut);
    EXPECT_EQ(DeviceDigits::Text(d.Second()), "70");
    EXPECT_EQ(DeviceDigits::Text(d.Third()), "");
    EXPECT_TRUE(d.Data().empty());

    const Bytes tiny{'A', 0x01};
    const CtiEvent a(tiny);
    EXPECT_EQ(a.Index(), 0x01FF);
    EXPECT_EQ(a.SignedByte(), -1);
    EXPECT_EQ(a.TypeByte(), 0xFF);
    EXPECT_EQ(a.DeviceValue(), 0);
}

} // namespace

namespace {

TEST(HexTrace, ShowsEveryByteAsHexAndTheLetterAsItsCharacter) {
    const Bytes bytes{0x00, 0x09, 0x02, 'D', 0xFF, 0x0A, 0xB0};
    EXPECT_EQ(HexTraceLine("[x] ", bytes), "[x] 00 09 02 44 FF 0A B0 ");
    EXPECT_EQ(HexTraceLine("", bytes, 3), "00 09 02 'D' FF 0A B0 ");
    EXPECT_EQ(HexTraceLine("p", {}), "p");
    // A letter position beyond the bytes shows none.
    EXPECT_EQ(HexTraceLine("", ByteView(bytes).first(2), 5), "00 09 ");
    // A NUL letter ends the quote early, as a C-string trace of it did.
    std::string line = "a ";
    AppendHexTrace(line, Bytes{0x00, 0x41}, 0);
    EXPECT_EQ(line, "a '41 ");
}

} // namespace

namespace {

TEST(Supervision, KeepAliveAndTheServersOwnQueryStayOffTheMonitors) {
    // Requests carry their letter at byte 1 and the query's sub-letter at byte 9.
    const Bytes poll{0x02, 'u', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    const Bytes alive{0x02, 'a', 0xFF, 0xFF, 1, 0, 0, 0xFF, 0x00, 6};
    Bytes ownQuery{0x02, 'Q', 0xFF, 0xFF, 1, 0, 0, 0xFF, 0x00, 'm'};
    const Bytes query{0x02, 'Q', 0xFF, 0xFF, 1, 0, 0, 0xFF, 0x00, 's'};
    const Bytes makeCall{0x02, 'D', 0xFF, 0xFF, 1, 0, 0, 0xFF, 0x00, 'm'};
    EXPECT_TRUE(IsSupervisionRequest(poll));
    EXPECT_TRUE(IsSupervisionRequest(alive));
    EXPECT_TRUE(IsSupervisionRequest(ownQuery));
    EXPECT_FALSE(IsSupervisionRequest(query));
    EXPECT_FALSE(IsSupervisionRequest(makeCall));
    ownQuery.pop_back(); // without its sub-letter it is an ordinary query
    EXPECT_FALSE(IsSupervisionRequest(ownQuery));
    EXPECT_FALSE(IsSupervisionRequest(Bytes{0x02}));

    // Events carry their letter at byte 0 and the reply's sub-code at byte 8.
    EXPECT_TRUE(IsSupervisionEvent(Bytes{'u', 0xFF, 0xFF}));
    EXPECT_TRUE(IsSupervisionEvent(Bytes{'a'}));
    EXPECT_TRUE(IsSupervisionEvent(Bytes{'Q', 0xFF, 0xFF, 1, 0, 0, 0xFF, 0, 'm'}));
    EXPECT_FALSE(IsSupervisionEvent(Bytes{'Q', 0xFF, 0xFF, 1, 0, 0, 0xFF, 0, 'H'}));
    EXPECT_FALSE(IsSupervisionEvent(Bytes{'Q', 0xFF, 0xFF, 1, 0, 0, 0xFF, 0}));
    EXPECT_FALSE(IsSupervisionEvent(Bytes{'E', 0xFF, 0xFF, 1, 0, 0, 0xFF, 0, 'm'}));
    EXPECT_FALSE(IsSupervisionEvent({}));
}

TEST(CtiRecord, EncodeIntoReusesItsBufferAndRefusesWhatCannotBeFramed) {
    Bytes out(500, 0xEE);
    ASSERT_TRUE(CtiRecord::EncodeInto(out, Bytes{'E', 1}));
    EXPECT_EQ(out, (Bytes{0x00, 0x02, 'E', 1}));
    EXPECT_FALSE(CtiRecord::EncodeInto(out, Bytes(0x10000, 0)));
    EXPECT_TRUE(out.empty());
    std::uint8_t head[2];
    CtiRecord::PutLength(head, 0x1234);
    EXPECT_EQ(CtiRecord::PeekLength(head), 0x1234);
}

} // namespace
