#include <protocol/DeviceDigits.h>

#include <gtest/gtest.h>

#include <vector>

using protocol::ByteView;
using protocol::DeviceDigits;
using Field = DeviceDigits::Field;

namespace {

std::string Text(std::vector<std::uint8_t> bytes) {
    return DeviceDigits::Text(ByteView(bytes));
}
int Value(std::vector<std::uint8_t> bytes) {
    return DeviceDigits::Value(ByteView(bytes));
}

TEST(DeviceDigitsRead, TextStopsAtFirstByteThatIsNoDigitCode) {
    EXPECT_EQ(Text({0x02, 0x00, 0x01, 0xFF}), "201");
    EXPECT_EQ(Text({0x0A, 0x0B, 0xFF, 0xFF}), "*#");
    EXPECT_EQ(Text({0xFF, 0xFF, 0xFF, 0xFF}), "");
    EXPECT_EQ(Text({0x02, 0x00, 0x01, 0x0F}), "201");
    EXPECT_EQ(Text({0x02, 0x0C, 0x01, 0x02}), "2"); // 0x0C is the first code past '#'
    EXPECT_EQ(Text({0x00, 0x00, 0x01, 0x02}), "0012");
    EXPECT_EQ(Text({0x09, 0x09, 0x09, 0x09}), "9999");
}

TEST(DeviceDigitsRead, ValueIsTheLeadingDecimalRun) {
    EXPECT_EQ(Value({0x02, 0x00, 0x01, 0xFF}), 201);
    EXPECT_EQ(Value({0x00, 0x00, 0x01, 0x02}), 12);
    EXPECT_EQ(Value({0x0A, 0x01, 0x02, 0xFF}), 0);
    EXPECT_EQ(Value({0x01, 0x0B, 0x02, 0x03}), 1);
    EXPECT_EQ(Value({0xFF, 0xFF, 0xFF, 0xFF}), 0);
    EXPECT_EQ(Value({0x09, 0x09, 0x09, 0x09}), 9999);
}

TEST(DeviceDigitsRead, NeverReadsMoreThanFourOrMoreThanGiven) {
    EXPECT_EQ(Text({0x01, 0x02, 0x03, 0x04, 0x05}), "1234");
    EXPECT_EQ(Value({0x01, 0x02, 0x03, 0x04, 0x05}), 1234);
    EXPECT_EQ(Text({0x07, 0x00}), "70");
    EXPECT_EQ(Value({0x07, 0x00}), 70);
    EXPECT_EQ(Text({}), "");
    EXPECT_EQ(Value({}), 0);
}

TEST(DeviceDigitsWrite, DigitsStarHashAndServerFiller) {
    EXPECT_EQ(DeviceDigits::FromText("201"), (Field{0x02, 0x00, 0x01, 0xFF}));
    EXPECT_EQ(DeviceDigits::FromText("*#"), (Field{0x0A, 0x0B, 0xFF, 0xFF}));
    EXPECT_EQ(DeviceDigits::FromText(""), (Field{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(DeviceDigits::FromText("0201"), (Field{0x00, 0x02, 0x00, 0x01}));
}

TEST(DeviceDigitsWrite, SwitchFiller) {
    EXPECT_EQ(DeviceDigits::FromText("201", DeviceDigits::kSwitchFiller),
              (Field{0x02, 0x00, 0x01, 0x0F}));
    EXPECT_EQ(DeviceDigits::FromText("", DeviceDigits::kSwitchFiller),
              (Field{0x0F, 0x0F, 0x0F, 0x0F}));
}

TEST(DeviceDigitsWrite, OverLongTextKeepsTheFirstFourCharacters) {
    EXPECT_EQ(DeviceDigits::FromText("123456789"), (Field{0x01, 0x02, 0x03, 0x04}));
}

TEST(DeviceDigitsWrite, ACharacterOutsideTheAlphabetEndsTheNumber) {
    EXPECT_EQ(DeviceDigits::FromText("20a1"), (Field{0x02, 0x00, 0xFF, 0xFF}));
    EXPECT_EQ(DeviceDigits::FromText(" 201"), (Field{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(DeviceDigits::FromText(std::string_view("2\0"
                                                      "1",
                                                      3)),
              (Field{0x02, 0xFF, 0xFF, 0xFF}));
}

TEST(DeviceDigitsWrite, RoundTrips) {
    for (const char* text : {"", "0", "7", "201", "2001", "0012", "*", "#", "*12#", "9#9*"}) {
        for (std::uint8_t filler : {DeviceDigits::kServerFiller, DeviceDigits::kSwitchFiller}) {
            const Field field = DeviceDigits::FromText(text, filler);
            EXPECT_EQ(DeviceDigits::Text(field), text) << "filler " << int(filler);
        }
    }
    EXPECT_EQ(DeviceDigits::Text(DeviceDigits::FromText("20015")), "2001");
}

} // namespace
