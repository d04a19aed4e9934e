#pragma once

#include <protocol/Bytes.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace protocol {

// What a monitor sends at once after connecting to a monitor port, and what the server admits it
// by: 00 0B, the message id, 'Z', FF FF, the access code's length, its characters zero-filled to
// six bytes. The setup-tool module connects with the same message id and 'a'. Offsets count in
// the whole frame, length bytes included.
namespace MonitorStartRequest {

constexpr std::size_t kMessageIdOffset = 2;
constexpr std::size_t kEventIdOffset = 3;
constexpr std::size_t kFillerOffset = 4; // two bytes 0xFF
constexpr std::size_t kCodeLengthOffset = 6;
constexpr std::size_t kCodeOffset = 7;

constexpr std::size_t kMinCodeLength = 4;
constexpr std::size_t kMaxCodeLength = 6;
constexpr std::size_t kSize = kCodeOffset + kMaxCodeLength;

constexpr std::uint8_t kMessageId = 0x09;
constexpr std::uint8_t kMonitorStart = 'Z';
constexpr std::uint8_t kFirModuleConnect = 'a';

// The whole frame; a longer code is cut at six characters.
Bytes Build(std::string_view accessCode);

constexpr bool IsValidCodeLength(std::size_t length) {
    return length >= kMinCodeLength && length <= kMaxCodeLength;
}

} // namespace MonitorStartRequest

} // namespace protocol
