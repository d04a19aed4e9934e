#include <protocol/HexTrace.h>

namespace protocol {

void AppendHexTrace(std::string& line, ByteView bytes, std::size_t letterAt) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    line.reserve(line.size() + 3 * bytes.size() + 1);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::uint8_t byte = bytes[i];
        if (i == letterAt) {
            line += '\'';
            if (byte != 0) {
                line += static_cast<char>(byte);
                line += "' ";
            }
            continue;
        }
        line += kDigits[byte >> 4];
        line += kDigits[byte & 0x0F];
        line += ' ';
    }
}

std::string HexTraceLine(std::string_view prefix, ByteView bytes, std::size_t letterAt) {
    std::string line(prefix);
    AppendHexTrace(line, bytes, letterAt);
    return line;
}

} // namespace protocol
