#pragma once

#include <protocol/Bytes.h>

#include <array>
#include <cstdint>

namespace protocol {

// The serial link's frame: STX, LEN high, LEN low, LEN data bytes, the XOR of both LEN bytes and
// the data, ETX. Line bytes outside a frame bid for the line (ENQ) or answer a bid or a frame
// (ACK, NAK).
namespace serial {
inline constexpr std::uint8_t kSTX = 0x02;
inline constexpr std::uint8_t kETX = 0x03;
inline constexpr std::uint8_t kENQ = 0x05;
inline constexpr std::uint8_t kACK = 0x06;
inline constexpr std::uint8_t kNAK = 0x15;
} // namespace serial

// Writes the frame for body into out (length + 5 bytes); returns its size, 0 for bad arguments.
int BuildSerialFrame(std::uint8_t* out, const std::uint8_t* body, int length);

// Follows the bytes the switch puts on a serial line, one at a time, and says what each one
// completed; the caller answers on the line. After anything but None and Data-in-progress the
// reader is back outside a frame.
class SerialFrameReader {
public:
    // The reader keeps at most this many data bytes of one frame.
    static constexpr int kMaxData = 255;

    enum class State : int { Free = 0, LenHigh = 5, LenLow = 6, Data = 7, Check = 8, Etx = 9 };

    enum class Result {
        None,           // the byte belongs to a frame still incomplete
        LineBid,        // ENQ: the switch wants the line
        Ack,            // ACK outside a frame
        Nak,            // NAK outside a frame
        Unexpected,     // any other byte outside a frame
        BadLength,      // the announced length is 0 or above kMaxData; Length() tells it
        BadCheck,       // the check byte does not match
        Frame,          // a whole frame; Data() holds its data
        FrameWithoutEtx // a frame with a good check whose ETX is another byte; Data() as well
    };

    Result Feed(std::uint8_t byte);
    // Gives a partial frame up (a time-out, the link down).
    void Reset() { state_ = State::Free; }

    State GetState() const { return state_; }
    // The length the current or last frame announced.
    int Length() const { return length_; }
    // The data of the frame just completed; valid until the next Feed.
    ByteView Data() const { return ByteView(data_.data(), static_cast<std::size_t>(count_)); }

private:
    State state_ = State::Free;
    int length_ = 0;
    int count_ = 0;
    std::uint8_t check_ = 0;
    std::array<std::uint8_t, kMaxData> data_{};
};

} // namespace protocol
