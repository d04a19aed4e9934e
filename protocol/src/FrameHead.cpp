#include <protocol/FrameHead.h>

#include <protocol/CtiRequest.h>

#include <algorithm>
#include <string>

namespace protocol::FrameHead {

namespace {

Bytes Zeroed(std::size_t frameSize) {
    Bytes frame(std::max(frameSize, CtiRecord::kLengthSize), 0x00);
    PutWord(frame, 0, static_cast<std::uint16_t>(frame.size() - CtiRecord::kLengthSize));
    return frame;
}

} // namespace

Bytes Event(std::uint8_t letter, std::size_t frameSize) {
    Bytes frame = Zeroed(frameSize);
    frame.at(Framed(0)) = letter;
    PutWord(frame, Framed(1), 0xFFFF);
    return frame;
}

Bytes Request(std::uint8_t letter, std::size_t frameSize) {
    Bytes frame = Zeroed(frameSize);
    frame.at(Framed(CtiRequest::kStartOffset)) = CtiRequest::kStartByte;
    frame.at(Framed(CtiRequest::kLetterOffset)) = letter;
    PutWord(frame, Framed(CtiRequest::kFillerOffset), 0xFFFF);
    return frame;
}

void Put(Bytes& frame, std::size_t offset, const DeviceDigits::Field& field) {
    std::copy(field.begin(), field.end(), frame.begin() + static_cast<std::ptrdiff_t>(offset));
}

void PutWord(Bytes& frame, std::size_t offset, std::uint16_t value) {
    frame.at(offset) = static_cast<std::uint8_t>(value >> 8);
    frame.at(offset + 1) = static_cast<std::uint8_t>(value & 0xFF);
}

void Fill(Bytes& frame, std::size_t offset, std::size_t count, std::uint8_t value) {
    std::fill_n(frame.begin() + static_cast<std::ptrdiff_t>(offset), count, value);
}

void PutDialled(Bytes& frame, std::size_t offset, std::string_view dialled) {
    for (std::size_t at = 0; at < dialled.size(); at += DeviceDigits::kSize) {
        const std::string_view part = dialled.substr(at, DeviceDigits::kSize);
        const DeviceDigits::Field codes = DeviceDigits::FromText(part);
        std::copy_n(codes.begin(), part.size(),
                    frame.begin() + static_cast<std::ptrdiff_t>(offset + at));
    }
}

DeviceDigits::Field NumberDigits(unsigned number, int places, std::uint8_t filler) {
    const bool three = places == 3;
    std::string text = std::to_string(number % (three ? 1000u : 10000u));
    text.insert(0, (three ? 3 : 4) - text.size(), '0');
    return DeviceDigits::FromText(text, filler);
}

} // namespace protocol::FrameHead
