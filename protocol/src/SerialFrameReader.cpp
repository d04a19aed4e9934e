#include <protocol/SerialFrameReader.h>

namespace protocol {

int BuildSerialFrame(std::uint8_t* out, const std::uint8_t* body, int length) {
    if (out == nullptr || length < 0 || (length > 0 && body == nullptr))
        return 0;
    const std::uint8_t hi = static_cast<std::uint8_t>((length >> 8) & 0xFF);
    const std::uint8_t lo = static_cast<std::uint8_t>(length & 0xFF);
    std::uint8_t bcc = hi ^ lo;
    out[0] = serial::kSTX;
    out[1] = hi;
    out[2] = lo;
    for (int i = 0; i < length; ++i) {
        out[3 + i] = body[i];
        bcc ^= body[i];
    }
    out[3 + length] = bcc;
    out[4 + length] = serial::kETX;
    return length + 5;
}

SerialFrameReader::Result SerialFrameReader::Feed(std::uint8_t byte) {
    switch (state_) {
    case State::Free:
        switch (byte) {
        case serial::kSTX:
            state_ = State::LenHigh;
            count_ = 0;
            return Result::None;
        case serial::kENQ:
            return Result::LineBid;
        case serial::kACK:
            return Result::Ack;
        case serial::kNAK:
            return Result::Nak;
        default:
            return Result::Unexpected;
        }
    case State::LenHigh:
        length_ = byte;
        check_ = byte;
        state_ = State::LenLow;
        return Result::None;
    case State::LenLow:
        length_ = length_ * 256 + byte;
        check_ ^= byte;
        count_ = 0;
        if (length_ < 1 || length_ > kMaxData) {
            state_ = State::Free;
            return Result::BadLength;
        }
        state_ = State::Data;
        return Result::None;
    case State::Data:
        data_[static_cast<std::size_t>(count_++)] = byte;
        check_ ^= byte;
        if (count_ == length_)
            state_ = State::Check;
        return Result::None;
    case State::Check:
        if (byte != check_) {
            state_ = State::Free;
            return Result::BadCheck;
        }
        state_ = State::Etx;
        return Result::None;
    case State::Etx:
        state_ = State::Free;
        return byte == serial::kETX ? Result::Frame : Result::FrameWithoutEtx;
    }
    state_ = State::Free;
    return Result::None;
}

} // namespace protocol
