#pragma once

#include <protocol/Bytes.h>
#include <protocol/DeviceDigits.h>

#include <cstdint>
#include <string>

namespace protocol {

// Read-only view over a message body that never reads past the bytes it was given: an offset at
// or beyond the end reads as 0xFF, the value a short body is taken to be padded with.
class BodyView {
public:
    BodyView() = default;
    explicit BodyView(ByteView body) : body_(body) {}

    std::size_t Size() const { return body_.size(); }
    bool Has(std::size_t offset, std::size_t count = 1) const {
        return offset <= body_.size() && count <= body_.size() - offset;
    }

    std::uint8_t At(std::size_t offset) const {
        return offset < body_.size() ? body_[offset] : kAbsentByte;
    }
    // Big-endian 16-bit value; absent bytes count as 0xFF.
    std::uint16_t Word(std::size_t offset) const {
        return static_cast<std::uint16_t>(At(offset) << 8 | At(offset + 1));
    }
    // The four bytes of a number field, absent ones as 0xFF (so the number ends there).
    DeviceDigits::Field Digits(std::size_t offset) const {
        DeviceDigits::Field field;
        for (std::size_t i = 0; i < field.size(); ++i)
            field[i] = At(offset + i);
        return field;
    }
    std::string DigitsText(std::size_t offset) const { return DeviceDigits::Text(Digits(offset)); }
    int DigitsValue(std::size_t offset) const { return DeviceDigits::Value(Digits(offset)); }
    // The bytes from the offset to the end of the body; empty when the body is shorter.
    ByteView From(std::size_t offset) const {
        return offset < body_.size() ? body_.subspan(offset) : ByteView{};
    }

private:
    ByteView body_;
};

} // namespace protocol
