#pragma once

#include <protocol/Bytes.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace protocol {

// The letter position of a hex trace line that shows no letter.
inline constexpr std::size_t kNoLetter = static_cast<std::size_t>(-1);

// The trace line of a record's bytes: the prefix, then every byte as two upper-case hex digits and
// a blank, except the byte at `letterAt`, which stands as its character in single quotes
// ("'D' "). A letter byte 0 shows as the opening quote alone, as a C-string trace of it would.
std::string HexTraceLine(std::string_view prefix, ByteView bytes, std::size_t letterAt = kNoLetter);
// The same bytes appended to a line that is already begun.
void AppendHexTrace(std::string& line, ByteView bytes, std::size_t letterAt = kNoLetter);

} // namespace protocol
