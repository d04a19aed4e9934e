#pragma once

#include <protocol/BodyView.h>

namespace protocol {

// Body of an event from the switch. Bytes beyond the body read as 0xFF, so a short event simply
// lacks its later numbers.
class CtiEvent : public BodyView {
public:
    static constexpr std::size_t kLetterOffset = 0;
    static constexpr std::size_t kIndexOffset = 1; // FF FF, or a device record's index
    static constexpr std::size_t kDeviceOffset = 3;
    static constexpr std::size_t kSignedOffset = 7;
    static constexpr std::size_t kSecondOffset = 8;
    static constexpr std::size_t kThirdOffset = 12;
    static constexpr std::size_t kDataOffset = 16;
    // The single byte that some events carry where the second number would stand.
    static constexpr std::size_t kTypeOffset = 8;    // device record type
    static constexpr std::size_t kCauseOffset = 8;   // request result cause
    static constexpr std::size_t kSubCodeOffset = 8; // status reply sub-code

    using BodyView::BodyView;

    std::uint8_t Letter() const { return At(kLetterOffset); }
    std::uint16_t Index() const { return Word(kIndexOffset); }
    DeviceDigits::Field Device() const { return Digits(kDeviceOffset); }
    std::string DeviceText() const { return DigitsText(kDeviceOffset); }
    int DeviceValue() const { return DigitsValue(kDeviceOffset); }
    // Sign-extended; an absent byte reads as -1.
    int SignedByte() const { return static_cast<std::int8_t>(At(kSignedOffset)); }
    DeviceDigits::Field Second() const { return Digits(kSecondOffset); }
    DeviceDigits::Field Third() const { return Digits(kThirdOffset); }
    std::uint8_t TypeByte() const { return At(kTypeOffset); }
    std::uint8_t Cause() const { return At(kCauseOffset); }
    std::uint8_t SubCode() const { return At(kSubCodeOffset); }
    ByteView Data() const { return From(kDataOffset); }
};

} // namespace protocol
