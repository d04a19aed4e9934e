#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace protocol {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// What a reader sees at an offset that lies beyond the bytes it was given.
inline constexpr std::uint8_t kAbsentByte = 0xFF;

} // namespace protocol
