#include <protocol/ClientRequestFrames.h>

#include <gtest/gtest.h>

namespace {

namespace ClientRequestFrames = protocol::ClientRequestFrames;
using ClientRequestFrames::Frame;

TEST(ClientRequestFramesTest, LoginRequest) {
    EXPECT_EQ(ClientRequestFrames::LoginRequest(3),
              (Frame{0x00, 0x0F, 0x02, 0x61, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x03, 0x01, 0x08,
                     0x03, 0x02, 0x01, 0x01}));
    EXPECT_EQ(ClientRequestFrames::LoginRequest(255)[10], 0xFF);
}

TEST(ClientRequestFramesTest, MakeCallInBothDigitCounts) {
    EXPECT_EQ(ClientRequestFrames::MakeCallRequest(201, 205, 3),
              (Frame{0x00, 0x0D, 0x02, 0x44, 0xFF, 0xFF, 0x02, 0x00, 0x01, 0xFF, 0x00, 0x03, 0x02,
                     0x00, 0x05}));
    EXPECT_EQ(ClientRequestFrames::MakeCallRequest(1001, 1005, 4),
              (Frame{0x00, 0x0E, 0x02, 0x44, 0xFF, 0xFF, 0x01, 0x00, 0x00, 0x01, 0x00, 0x04, 0x01,
                     0x00, 0x00, 0x05}));
}

TEST(ClientRequestFramesTest, FreeDialSendsExactlyItsCharacters) {
    EXPECT_EQ(ClientRequestFrames::MakeCallFreeDialRequest(201, "9*#", 3),
              (Frame{0x00, 0x0D, 0x02, 0x44, 0xFF, 0xFF, 0x02, 0x00, 0x01, 0xFF, 0x00, 0x03, 0x09,
                     0x0A, 0x0B}));
    const Frame longest =
        ClientRequestFrames::MakeCallFreeDialRequest(2001, std::string(18, '7'), 4);
    ASSERT_EQ(longest.size(), 30u);
    EXPECT_EQ(longest[1], 28);
    EXPECT_EQ(longest[11], 18);
    EXPECT_EQ(longest[29], 7);
}

TEST(ClientRequestFramesTest, FreeDialTextChecks) {
    EXPECT_TRUE(ClientRequestFrames::IsValidFreeDial("0123456789*#", 3));
    EXPECT_TRUE(ClientRequestFrames::IsValidFreeDial(std::string(17, '1'), 3));
    EXPECT_FALSE(ClientRequestFrames::IsValidFreeDial(std::string(18, '1'), 3));
    EXPECT_TRUE(ClientRequestFrames::IsValidFreeDial(std::string(18, '1'), 4));
    EXPECT_FALSE(ClientRequestFrames::IsValidFreeDial(std::string(19, '1'), 4));
    EXPECT_FALSE(ClientRequestFrames::IsValidFreeDial("", 4));
    EXPECT_FALSE(ClientRequestFrames::IsValidFreeDial("12a", 4));
    EXPECT_FALSE(ClientRequestFrames::IsValidFreeDial("12 3", 4));
}

TEST(ClientRequestFramesTest, TwoDeviceRequestsAndDrop) {
    EXPECT_EQ(ClientRequestFrames::AnswerCallRequest(205, 201, 3),
              (Frame{0x00, 0x0D, 0x02, 0x46, 0xFF, 0xFF, 0x02, 0x00, 0x05, 0xFF, 0x00, 0x02, 0x00,
                     0x01, 0xFF}));
    EXPECT_EQ(ClientRequestFrames::HoldCallRequest(2001, 2005, 4),
              (Frame{0x00, 0x0D, 0x02, 0x48, 0xFF, 0xFF, 0x02, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00,
                     0x00, 0x05}));
    EXPECT_EQ(ClientRequestFrames::RetrieveCallRequest(204, 208, 3),
              (Frame{0x00, 0x0D, 0x02, 0x52, 0xFF, 0xFF, 0x02, 0x00, 0x04, 0xFF, 0x00, 0x02, 0x00,
                     0x08, 0xFF}));
    EXPECT_EQ(ClientRequestFrames::DropCallRequest(202, 3),
              (Frame{0x00, 0x09, 0x02, 0x4E, 0xFF, 0xFF, 0x02, 0x00, 0x02, 0xFF, 0x00}));
    EXPECT_EQ(ClientRequestFrames::DropCallRequest(9999, 4),
              (Frame{0x00, 0x09, 0x02, 0x4E, 0xFF, 0xFF, 0x09, 0x09, 0x09, 0x09, 0x00}));
}

TEST(ClientRequestFramesTest, SentLogLineWritesTheLetterAsACharacter) {
    EXPECT_EQ(ClientRequestFrames::SentLogLine(ClientRequestFrames::DropCallRequest(202, 3)),
              "[Sent Event] 00 09 02 'N' FF FF 02 00 02 FF 00 \r\n");
    EXPECT_EQ(ClientRequestFrames::SentLogLine(ClientRequestFrames::MakeCallRequest(201, 205, 3)),
              "[Sent Event] 00 0D 02 'D' FF FF 02 00 01 FF 00 03 02 00 05 \r\n");
}

} // namespace
