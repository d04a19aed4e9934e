#include <protocol/CtiRecord.h>
#include <protocol/CtiRequest.h>
#include <protocol/SwitchCommand.h>

#include <gtest/gtest.h>

#include <algorithm>

using namespace protocol;

namespace {

Bytes BodyOf(const SwitchCommand& command) {
    return Bytes(command.Body().begin(), command.Body().end());
}

// The frame past the body stays zero-filled.
void ExpectZeroTail(const SwitchCommand& command) {
    const auto& frame = command.Frame();
    ASSERT_EQ(frame.size(), 400u);
    EXPECT_TRUE(std::all_of(frame.begin() + static_cast<std::ptrdiff_t>(command.Length()),
                            frame.end(), [](std::uint8_t b) { return b == 0; }));
}

TEST(SwitchCommand, KeepAlivePoll) {
    const KeepAlivePollCommand poll(0);
    EXPECT_EQ(poll.Length(), 9u);
    EXPECT_EQ(BodyOf(poll), (Bytes{0x02, 0x75, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}));
    ExpectZeroTail(poll);
    EXPECT_EQ(BodyOf(KeepAlivePollCommand(0x33))[8], 0x33);
}

TEST(SwitchCommand, IAmAlive) {
    const IAmAliveCommand alive;
    EXPECT_EQ(BodyOf(alive), (Bytes{0x02, 0x61, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x20, 0x02,
                                    0x02, 0x20, 0x02, 0x01, 0x81}));
    ExpectZeroTail(alive);
}

TEST(SwitchCommand, DeviceQuery) {
    const DeviceQueryCommand query(0, "201", DeviceQueryCommand::kServerSubLetter);
    EXPECT_EQ(BodyOf(query), (Bytes{0x02, 0x51, 0xFF, 0xFF, 0x02, 0x00, 0x01, 0xFF, 0x00, 0x6D}));
    ExpectZeroTail(query);

    const DeviceQueryCommand four(0, "2001", 'm');
    EXPECT_EQ(CtiRequest(four.Body()).DeviceText(), "2001");
    EXPECT_EQ(CtiRequest(four.Body()).Parameter(), 'm');
    // A longer number must not run into the argument and sub-letter bytes.
    const DeviceQueryCommand longer(0, "2001999", 'm');
    EXPECT_EQ(BodyOf(longer), (Bytes{0x02, 0x51, 0xFF, 0xFF, 0x02, 0x00, 0x00, 0x01, 0x00, 0x6D}));
    const DeviceQueryCommand none(0, "", 'm');
    EXPECT_EQ(BodyOf(none), (Bytes{0x02, 0x51, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x6D}));
}

TEST(SwitchCommand, FirLinkCheck) {
    const FirLinkCheckCommand check(0, "201");
    EXPECT_EQ(BodyOf(check), (Bytes{0x02, 0x69, 0xFF, 0xFF, 0x02, 0x00, 0x01, 0xFF, 0x00, 0x09,
                                    0x02, 0xD1, 0x00, 0x01, 0x00, 0xE0, 0xFF, 0xFF, 0xFF}));
    ExpectZeroTail(check);
}

Bytes FirStartBody(std::string_view passwordBytes) {
    Bytes body{0x02, 0x69, 0xFF, 0xFF, 0x02, 0x00, 0x01, 0xFF, 0x01, 0x09,
               0x00, 0xD1, 0x00, 0x01, 0x08, 0xE0, 0xFF, 0xFF, 0xFF, 0xFF};
    for (char c : passwordBytes)
        body.push_back(static_cast<std::uint8_t>(c));
    return body;
}

TEST(SwitchCommand, FirStartPasswordFillsEightBytes) {
    const FirStartRequestCommand exact(1, "201", "ABCDEFGH");
    EXPECT_EQ(exact.Length(), 28u);
    EXPECT_EQ(BodyOf(exact), FirStartBody("ABCDEFGH"));
    ExpectZeroTail(exact);

    const FirStartRequestCommand shortText(1, "201", "pw1");
    EXPECT_EQ(BodyOf(shortText), FirStartBody("pw1     "));

    const FirStartRequestCommand empty(1, "201", "");
    EXPECT_EQ(BodyOf(empty), FirStartBody("        "));
}

TEST(SwitchCommand, FirStartOverLongPasswordIsCutAtEight) {
    const FirStartRequestCommand longText(1, "201", "0123456789ABCDEFGHIJ");
    EXPECT_EQ(longText.Length(), 28u);
    EXPECT_EQ(BodyOf(longText), FirStartBody("01234567"));
    ExpectZeroTail(longText);
}

TEST(SwitchCommand, LinkClearBothForms) {
    EXPECT_EQ(Bytes(LinkClearRequest::kSerial.begin(), LinkClearRequest::kSerial.end()),
              (Bytes{0x02, 0x6B, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}));
    EXPECT_EQ(CtiRecord::Encode(LinkClearRequest::kTcp),
              (Bytes{0x00, 0x09, 0x02, 0x6B, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}));
}

TEST(SwitchCommand, BodiesFrameAsAcceptedRecords) {
    const Bytes record = CtiRecord::Encode(IAmAliveCommand().Body());
    const auto view = CtiRecord::At(record);
    ASSERT_TRUE(view);
    EXPECT_EQ(view->Length(), 15);
    EXPECT_TRUE(CtiRequest(view->Body()).HasStartByte());
    EXPECT_EQ(CtiRequest(view->Body()).Letter(), 'a');
}

} // namespace
