#include <protocol/MonitorStartRequest.h>

#include <protocol/CtiRecord.h>

#include <gtest/gtest.h>

#include <string>

using protocol::Bytes;
using protocol::CtiRecord;
namespace StartRequest = protocol::MonitorStartRequest;

namespace {

// The frame a monitor sends is one whole record, and the server finds the code where it looks.
TEST(MonitorStartRequest, IsOneRecordWhoseCodeReadsBackAtItsOffsets) {
    for (const std::string code : {"1234", "50719", "507193"}) {
        const Bytes frame = StartRequest::Build(code);
        const auto record = CtiRecord::At(frame);
        ASSERT_TRUE(record.has_value()) << code;
        EXPECT_EQ(record->Frame().size(), frame.size()) << code;
        EXPECT_EQ(frame[StartRequest::kMessageIdOffset], StartRequest::kMessageId);
        EXPECT_EQ(frame[StartRequest::kEventIdOffset], StartRequest::kMonitorStart);
        ASSERT_TRUE(StartRequest::IsValidCodeLength(frame[StartRequest::kCodeLengthOffset]));
        const std::string read(frame.begin() + StartRequest::kCodeOffset,
                               frame.begin() + StartRequest::kCodeOffset +
                                   frame[StartRequest::kCodeLengthOffset]);
        EXPECT_EQ(read, code);
        for (std::size_t at = StartRequest::kCodeOffset + code.size(); at < frame.size(); ++at)
            EXPECT_EQ(frame[at], 0x00) << code << " at " << at;
    }
}

TEST(MonitorStartRequest, ALongerCodeIsCutToTheSixBytesTheFrameHolds) {
    const Bytes frame = StartRequest::Build("12345678");
    EXPECT_EQ(frame.size(), StartRequest::kSize);
    EXPECT_EQ(frame[StartRequest::kCodeLengthOffset], 6);
    EXPECT_EQ(frame.back(), '6');
    EXPECT_FALSE(StartRequest::IsValidCodeLength(3));
    EXPECT_FALSE(StartRequest::IsValidCodeLength(7));
}

} // namespace
