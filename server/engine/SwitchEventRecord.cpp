#include "SwitchEventRecord.h"

#include <protocol/CtiEvent.h>

#include <algorithm>

namespace engine {

using protocol::ByteView;
using protocol::CtiEvent;
using protocol::DeviceDigits;

void DecodeDialDigits(char* field, std::size_t n) {
    if (field == nullptr)
        return;
    bool ended = false;
    for (std::size_t i = 0; i < n; ++i) {
        const auto code = static_cast<std::uint8_t>(field[i]);
        if (ended || !DeviceDigits::IsDigitCode(code)) {
            ended = true;
            field[i] = '\0';
        } else if (code == DeviceDigits::kStar) {
            field[i] = '*';
        } else if (code == DeviceDigits::kHash) {
            field[i] = '#';
        } else {
            field[i] = static_cast<char>('0' + code);
        }
    }
    field[n] = '\0';
}

int ParseDialNumber(const DeviceDigits::Field& source, std::string& text) {
    char field[DeviceDigits::kSize + 1];
    std::copy(source.begin(), source.end(), field);
    DecodeDialDigits(field, DeviceDigits::kSize);
    text = field;
    if (text.empty())
        return 0;
    const std::size_t decimal = text.find_first_not_of("0123456789");
    if (decimal != std::string::npos)
        text.resize(decimal);
    return DeviceDigits::Value(source);
}

std::uint8_t MapDeviceType(std::uint8_t rawType) {
    switch (rawType) {
    case 17:
        return 1;
    case 14:
    case 18:
        return 2;
    case 16:
        return 5;
    case 15:
        return 13;
    default:
        return rawType;
    }
}

void SwitchEventRecord::Parse(ByteView body) {
    const CtiEvent event(body);
    std::string digits;
    m_nDeviceNumber = ParseDialNumber(event.Device(), digits);
    m_strDeviceText = std::to_string(m_nDeviceNumber);
    m_nSignedByte = event.SignedByte();
}

void DeviceDownloadRecord::Parse(ByteView body) {
    SwitchEventRecord::Parse(body);
    const CtiEvent event(body);
    m_nType = MapDeviceType(event.TypeByte());
    m_nSubType = event.At(CtiEvent::kTypeOffset + 1);
}

int NumberEventRecord::ReadNumber(ByteView body, std::size_t offset, std::string& text) {
    return ParseDialNumber(CtiEvent(body).Digits(offset), text);
}

void SecondNumberTextEventRecord::Parse(ByteView body) {
    SwitchEventRecord::Parse(body);
    ReadNumber(body, CtiEvent::kSecondOffset, m_strSecondText);
}

void SecondNumberEventRecord::Parse(ByteView body) {
    SwitchEventRecord::Parse(body);
    m_nSecondNumber = ReadNumber(body, CtiEvent::kSecondOffset, m_strSecondText);
}

void TwoNumberEventRecord::Parse(ByteView body) {
    SwitchEventRecord::Parse(body);
    m_nSecondNumber = ReadNumber(body, 8, m_strSecondText);
    m_nThirdNumber = ReadNumber(body, 12, m_strThirdText);
}

void SwappedTwoNumberEventRecord::Parse(ByteView body) {
    SwitchEventRecord::Parse(body);
    m_nThirdNumber = ReadNumber(body, 8, m_strThirdText);
    m_nSecondNumber = ReadNumber(body, 12, m_strSecondText);
}

void FarSecondNumberEventRecord::Parse(ByteView body) {
    SwitchEventRecord::Parse(body);
    m_nThirdNumber = ReadNumber(body, 8, m_strThirdText);
    m_nSecondNumber = ReadNumber(body, 13, m_strSecondText); // body[12] is not part of either
}

void CountsEventRecord::Parse(ByteView body) {
    SwitchEventRecord::Parse(body);
    const CtiEvent event(body);
    m_nSecondNumber = ReadNumber(body, 8, m_strSecondText);
    m_nByteValue = event.At(12);
    m_nCount = event.Word(12);
    m_nSecondCount = event.Word(15);
}

void DeviceInfoEventRecord::Parse(ByteView body) {
    SwitchEventRecord::Parse(body);
    const CtiEvent event(body);
    for (std::size_t i = 0; i < m_Header.size(); ++i)
        m_Header[i] = event.At(8 + i);
    m_nTextLength = event.At(14);
    m_nByte15 = event.At(15);
    m_Field16 = {event.At(16), event.At(17)};
    m_Field18 = {event.At(18), event.At(19)};

    // The text goes no further than the body, whatever its length byte announces.
    const ByteView text = event.From(kTextOffset);
    m_nTextSize = std::min({static_cast<std::size_t>(m_nTextLength), text.size(), kTextCapacity});
    m_Text.fill(0);
    std::copy_n(text.begin(), m_nTextSize, m_Text.begin());
}

void StatusReplyEventRecord::Parse(ByteView body) {
    const CtiEvent event(body);
    m_nDeviceNumber = ParseDialNumber(event.Device(), m_strDeviceText);
    m_nSignedByte = event.SignedByte();
    m_nSubCode = event.SubCode();
    m_nHoldFlag = 0;
    switch (m_nSubCode) {
    case 'F':
        m_nSecondNumber = ReadNumber(body, 10, m_strSecondText);
        break;
    case 'H':
        m_nHoldFlag = 1;
        break;
    case 'W':
        m_nSecondNumber = ReadNumber(body, 9, m_strSecondText);
        break;
    default:
        break;
    }
}

std::unique_ptr<SwitchEventRecord> MakeSwitchEventRecord(std::uint8_t letter) {
    switch (letter) {
    case 'U':
    case 'Z':
    case 'a':
    case 'u':
        return nullptr;
    case 'A':
        return std::make_unique<DeviceDownloadRecord>();
    case 'T':
        return std::make_unique<PlainEventRecord>();
    case 'm':
        return std::make_unique<SecondNumberTextEventRecord>();
    case 'E':
    case 'H':
    case 'N':
    case 'P':
    case 'R':
    case 'S':
    case 'W':
    case 'b':
    case 'c':
    case 'h':
    case 'r':
        return std::make_unique<SecondNumberEventRecord>();
    case 'V':
    case 'p':
        return std::make_unique<TwoNumberEventRecord>();
    case 'D':
        return std::make_unique<SwappedTwoNumberEventRecord>();
    case 'Y':
        return std::make_unique<FarSecondNumberEventRecord>();
    case 'q':
        return std::make_unique<CountsEventRecord>();
    case 'i':
        return std::make_unique<DeviceInfoEventRecord>();
    case 'Q':
        return std::make_unique<StatusReplyEventRecord>();
    default:
        return std::make_unique<SwitchEventRecord>();
    }
}

std::size_t MinimumEventLength(std::uint8_t letter) {
    const bool isLetter = (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
    if (!isLetter)
        return 0;
    switch (letter) {
    case 'U':
    case 'Z':
    case 'a':
    case 'u':
        return 1;
    default:
        return CtiEvent::kSecondOffset;
    }
}

bool IsAllClientsEvent(std::uint8_t letter) {
    return letter == 'N' || letter == 'T';
}

} // namespace engine
