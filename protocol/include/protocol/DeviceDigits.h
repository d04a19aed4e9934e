#pragma once

#include <protocol/Bytes.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace protocol {

// A four-byte device number field: one digit value a byte, most significant first, 0x0A for '*'
// and 0x0B for '#'. The first byte outside 0x00 .. 0x0B ends the number.
class DeviceDigits {
public:
    static constexpr std::size_t kSize = 4;
    static constexpr std::uint8_t kStar = 0x0A;
    static constexpr std::uint8_t kHash = 0x0B;
    // Fillers behind the last digit: the server and the client simulator write 0xFF, the switch
    // simulator 0x0F. A filler must lie above 0x0B, or it would read as a digit.
    static constexpr std::uint8_t kServerFiller = 0xFF;
    static constexpr std::uint8_t kSwitchFiller = 0x0F;

    using Field = std::array<std::uint8_t, kSize>;

    // Reads at most the first four bytes of the field; fewer bytes end the number early.
    // Text: '0' .. '9', '*', '#' up to the first byte that is no digit code.
    static std::string Text(ByteView field);
    // Decimal value of the leading run of 0 .. 9 ("0012" gives 12, "*12" and "" give 0).
    static int Value(ByteView field);

    // Writes at most four characters; the number also ends at the first character that is not
    // '0' .. '9', '*' or '#'. The remaining bytes hold the filler.
    static Field FromText(std::string_view text, std::uint8_t filler = kServerFiller);

    static bool IsDigitCode(std::uint8_t byte) { return byte <= kHash; }
};

} // namespace protocol
