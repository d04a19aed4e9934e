#pragma once

#include <cstdint>

namespace protocol {

// Request letters: body byte 1 of a request towards the switch.
namespace RequestLetter {
inline constexpr std::uint8_t IAmAliveCommand = 'a';
inline constexpr std::uint8_t KeepAlivePollCommand = 'u';
inline constexpr std::uint8_t StatusQueryRequest = 'Q';
inline constexpr std::uint8_t DeviceInfoRequest = 'i';
inline constexpr std::uint8_t LinkClearRequest = 'k';
inline constexpr std::uint8_t MakeCallRequest = 'D';
inline constexpr std::uint8_t AnswerCallRequest = 'F';
inline constexpr std::uint8_t HoldCallRequest = 'H';
inline constexpr std::uint8_t RetrieveCallRequest = 'R';
inline constexpr std::uint8_t DropCallRequest = 'N';
inline constexpr std::uint8_t OriginateRequest = 'L';
} // namespace RequestLetter

// Event letters: body byte 0 of an event from the switch.
namespace EventLetter {
inline constexpr std::uint8_t DeviceRecordEvent = 'A';
inline constexpr std::uint8_t OfferingEvent = 'D';
inline constexpr std::uint8_t ConnectedEvent = 'E';
inline constexpr std::uint8_t RequestResponseEvent = 'F';
inline constexpr std::uint8_t HeldEvent = 'H';
inline constexpr std::uint8_t DialToneEvent = 'I';
inline constexpr std::uint8_t HookOnEvent = 'N';
inline constexpr std::uint8_t StatusReplyEvent = 'Q';
inline constexpr std::uint8_t RetrievedEvent = 'R';
inline constexpr std::uint8_t DeviceInfoEvent = 'i';
inline constexpr std::uint8_t KeepAliveAnswer = 'u';
inline constexpr std::uint8_t UcdRecordEvent = 'U';
inline constexpr std::uint8_t SmdrRecordEvent = 'Z';
} // namespace EventLetter

} // namespace protocol
