#pragma once

#include <protocol/Bytes.h>
#include <protocol/CtiRecord.h>
#include <protocol/DeviceDigits.h>

#include <cstdint>
#include <string_view>

namespace protocol {

// Whole records as a sender builds them: the two length bytes, then the body, zero-filled behind
// its head so that a builder writes only its own fields. Offsets count in the whole frame: a body
// offset stands at Framed(offset).
namespace FrameHead {

constexpr std::size_t Framed(std::size_t bodyOffset) {
    return CtiRecord::kLengthSize + bodyOffset;
}

// `frameSize` bytes in all (at least the head, at most a framable body): the body length, then
// the letter and FF FF, the head of an event from the switch.
Bytes Event(std::uint8_t letter, std::size_t frameSize);
// `frameSize` bytes in all: the body length, then 02, the letter and FF FF, the head of a request
// towards the switch.
Bytes Request(std::uint8_t letter, std::size_t frameSize);

// The field's four bytes from the offset on.
void Put(Bytes& frame, std::size_t offset, const DeviceDigits::Field& field);
// Big-endian, as a device index is carried.
void PutWord(Bytes& frame, std::size_t offset, std::uint16_t value);
// `count` bytes of `value` from the offset on.
void Fill(Bytes& frame, std::size_t offset, std::size_t count, std::uint8_t value);
// One digit code a character ('*' and '#' included); the text must hold nothing else.
void PutDialled(Bytes& frame, std::size_t offset, std::string_view dialled);

// The last `places` (3 or 4) decimal digits of the number; with three the fourth byte holds the
// filler. Every digit byte stays a digit code, whatever the number.
DeviceDigits::Field NumberDigits(unsigned number, int places, std::uint8_t filler);

} // namespace FrameHead

} // namespace protocol
