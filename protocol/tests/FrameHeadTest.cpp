#include <protocol/FrameHead.h>

#include <protocol/CtiEvent.h>
#include <protocol/CtiRecord.h>
#include <protocol/CtiRequest.h>

#include <gtest/gtest.h>

using protocol::Bytes;
using protocol::CtiEvent;
using protocol::CtiRecord;
using protocol::CtiRequest;
using protocol::DeviceDigits;
namespace FrameHead = protocol::FrameHead;
using Field = DeviceDigits::Field;

namespace {

TEST(FrameHead, HeadsAreWholeRecordsThatTheReadersTakeApart) {
    Bytes event = FrameHead::Event('E', 14);
    EXPECT_EQ(event, (Bytes{0x00, 12, 'E', 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    FrameHead::Put(event, FrameHead::Framed(CtiEvent::kDeviceOffset), {2, 0, 1, 0x0F});
    FrameHead::Put(event, FrameHead::Framed(CtiEvent::kSecondOffset), {2, 0, 2, 0x0F});
    const auto record = CtiRecord::At(event);
    ASSERT_TRUE(record.has_value());
    const CtiEvent body(record->Body());
    EXPECT_EQ(body.Letter(), 'E');
    EXPECT_EQ(body.Index(), 0xFFFF);
    EXPECT_EQ(body.DeviceText(), "201");
    EXPECT_EQ(DeviceDigits::Text(body.Second()), "202");

    Bytes request = FrameHead::Request('N', 11);
    EXPECT_EQ(request, (Bytes{0x00, 9, 0x02, 'N', 0xFF, 0xFF, 0, 0, 0, 0, 0}));
    FrameHead::Put(request, FrameHead::Framed(CtiRequest::kDeviceOffset),
                   DeviceDigits::FromText("202"));
    const CtiRequest asked(CtiRecord::At(request)->Body());
    EXPECT_TRUE(asked.HasStartByte());
    EXPECT_EQ(asked.Letter(), 'N');
    EXPECT_EQ(asked.DeviceText(), "202");
}

TEST(FrameHead, LengthIsBigEndianPastOneByte) {
    const Bytes frame = FrameHead::Event('i', 2 + 300);
    EXPECT_EQ(frame.size(), 302u);
    EXPECT_EQ(frame[0], 0x01);
    EXPECT_EQ(frame[1], 0x2C);
    EXPECT_EQ(CtiRecord::At(frame)->Length(), 300);
}

TEST(FrameHead, WordsFillsAndDialledDigits) {
    Bytes frame(12, 0x00);
    FrameHead::PutWord(frame, 0, 0x0102);
    FrameHead::Fill(frame, 2, 3, 0xFF);
    FrameHead::PutDialled(frame, 5, "0*9#12");
    EXPECT_EQ(frame, (Bytes{0x01, 0x02, 0xFF, 0xFF, 0xFF, 0, 0x0A, 9, 0x0B, 1, 2, 0}));
}

TEST(FrameHead, NumberDigitsKeepTheLastPlaces) {
    EXPECT_EQ(FrameHead::NumberDigits(2001, 4, 0x0F), (Field{2, 0, 0, 1}));
    EXPECT_EQ(FrameHead::NumberDigits(7, 4, 0x0F), (Field{0, 0, 0, 7}));
    EXPECT_EQ(FrameHead::NumberDigits(201, 3, DeviceDigits::kSwitchFiller), (Field{2, 0, 1, 0x0F}));
    EXPECT_EQ(FrameHead::NumberDigits(201, 3, DeviceDigits::kServerFiller), (Field{2, 0, 1, 0xFF}));
    EXPECT_EQ(FrameHead::NumberDigits(65535, 4, 0x0F), (Field{5, 5, 3, 5}));
    EXPECT_EQ(FrameHead::NumberDigits(1234, 3, 0x0F), (Field{2, 3, 4, 0x0F}));
}

} // namespace
