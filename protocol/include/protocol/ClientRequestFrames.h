#pragma once

#include <protocol/Bytes.h>

#include <cstddef>
#include <string>

namespace protocol {

// The requests a client sends on the client port, whole (record length included), and the log
// line of a sent one. Numbers must fit the digit count; the callers check that first.
namespace ClientRequestFrames {

using Frame = Bytes;

// The four digit bytes of a device number: four digits, or three digits and 0xFF.
void PutDeviceDigits(Frame& frame, std::size_t at, int number, int digitCount);

Frame LoginRequest(int clientKind);
Frame MakeCallRequest(int caller, int callee, int digitCount);
// One byte per character of the dialled text: '*' 10, '#' 11, a digit its value.
Frame MakeCallFreeDialRequest(int caller, const std::string& dialled, int digitCount);
Frame AnswerCallRequest(int first, int second, int digitCount);
Frame HoldCallRequest(int first, int second, int digitCount);
Frame RetrieveCallRequest(int first, int second, int digitCount);
Frame DropCallRequest(int device, int digitCount);

// Free-dial characters that fit a make-call frame of the digit count (17 or 18).
int FreeDialRoom(int digitCount);
// Digits, '*' and '#' only, one at least, within the room.
bool IsValidFreeDial(const std::string& text, int digitCount);

// "[Sent Event] " then every byte as "XX ", byte 3 as "'c' ", then CR LF.
std::string SentLogLine(const Frame& frame);

} // namespace ClientRequestFrames

} // namespace protocol
