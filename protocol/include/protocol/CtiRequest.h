#pragma once

#include <protocol/BodyView.h>

namespace protocol {

// Body of a request towards the switch, sent by the server itself or forwarded from a client.
class CtiRequest : public BodyView {
public:
    static constexpr std::size_t kStartOffset = 0;
    static constexpr std::size_t kLetterOffset = 1;
    static constexpr std::size_t kFillerOffset = 2; // two bytes 0xFF
    static constexpr std::size_t kDeviceOffset = 4;
    static constexpr std::size_t kArgumentOffset = 8;
    static constexpr std::size_t kParameterOffset = 9; // sub-letter of 'Q', type code of 'i'
    static constexpr std::size_t kDataOffset = 10;

    static constexpr std::uint8_t kStartByte = 0x02;
    static constexpr std::size_t kFrameLengthSize = 2;

    using BodyView::BodyView;

    // The request of a record as a stream carries it: its two length bytes, then the body. A
    // frame too short for its length bytes holds an empty body.
    static CtiRequest OfFrame(ByteView frame) {
        return CtiRequest(frame.size() > kFrameLengthSize ? frame.subspan(kFrameLengthSize)
                                                          : ByteView{});
    }

    bool HasStartByte() const { return Has(kStartOffset) && At(kStartOffset) == kStartByte; }
    std::uint8_t Letter() const { return At(kLetterOffset); }
    DeviceDigits::Field Device() const { return Digits(kDeviceOffset); }
    std::string DeviceText() const { return DigitsText(kDeviceOffset); }
    int DeviceValue() const { return DigitsValue(kDeviceOffset); }
    std::uint8_t Argument() const { return At(kArgumentOffset); }
    std::uint8_t Parameter() const { return At(kParameterOffset); }
    ByteView Data() const { return From(kDataOffset); }
};

} // namespace protocol
