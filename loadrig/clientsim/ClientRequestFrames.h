#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The request frames the client window sends, whole (record length included), and the log
// line of a sent frame. Numbers must fit the digit count; the callers check that at Start.
namespace clientframes {

using Frame = std::vector<std::uint8_t>;

// The four digit bytes of a device number: four digits, or three digits and 0xFF.
void PutDeviceDigits(Frame& frame, std::size_t at, int number, int digitCount);

Frame LoginRequest(int clientKind);
Frame MakeCall(int caller, int callee, int digitCount);
// One byte per character of the dialled text: '*' 10, '#' 11, a digit its value.
Frame MakeCallFreeDial(int caller, const std::string& dialled, int digitCount);
Frame AnswerCall(int first, int second, int digitCount);
Frame HoldCall(int first, int second, int digitCount);
Frame RetrieveCall(int first, int second, int digitCount);
Frame DropCall(int device, int digitCount);

// Free-dial characters that fit a make-call frame of the digit count (17 or 18).
int FreeDialRoom(int digitCount);
// Digits, '*' and '#' only, one at least, within the room.
bool IsValidFreeDial(const std::string& text, int digitCount);

// "[Sent Event] " then every byte as "XX ", byte 3 as "'c' ", then CR LF.
std::string SentLogLine(const Frame& frame);

} // namespace clientframes
