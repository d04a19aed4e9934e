#include <protocol/DeviceDigits.h>

#include <algorithm>

namespace protocol {

namespace {

ByteView FirstFour(ByteView field) {
    return field.first(std::min(field.size(), DeviceDigits::kSize));
}

} // namespace

std::string DeviceDigits::Text(ByteView field) {
    std::string text;
    for (std::uint8_t byte : FirstFour(field)) {
        if (!IsDigitCode(byte))
            break;
        text += byte == kStar ? '*' : byte == kHash ? '#' : static_cast<char>('0' + byte);
    }
    return text;
}

int DeviceDigits::Value(ByteView field) {
    int value = 0;
    for (std::uint8_t byte : FirstFour(field)) {
        if (byte > 9)
            break;
        value = value * 10 + byte;
    }
    return value;
}

DeviceDigits::Field DeviceDigits::FromText(std::string_view text, std::uint8_t filler) {
    Field field;
    field.fill(filler);
    for (std::size_t i = 0; i < kSize && i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9')
            field[i] = static_cast<std::uint8_t>(c - '0');
        else if (c == '*')
            field[i] = kStar;
        else if (c == '#')
            field[i] = kHash;
        else
            break;
    }
    return field;
}

} // namespace protocol
