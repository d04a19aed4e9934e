#pragma once

#include <protocol/Bytes.h>
#include <protocol/DeviceDigits.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace engine {

// The parsed form of an event from the switch: what the event handlers need to pick the clients
// and to keep the device table. The event itself is always forwarded as the bytes received.
//
// A parser reads fixed offsets of a body that holds exactly the bytes received: every byte at or
// beyond its end reads as 0xFF, so a short body ends its numbers early and matches no type or
// sub-code.

// Rewrites n digit codes in place as characters ('0'..'9', '*', '#'); any other byte becomes the
// terminating zero, and one is also written at position n, so the field holds n + 1 bytes.
void DecodeDialDigits(char* field, std::size_t n);

// The number field as text, cut at its first character that is not 0..9 (leading zeros stay),
// and its decimal value; 0 when no decimal digit leads.
int ParseDialNumber(const protocol::DeviceDigits::Field& source, std::string& text);

// The device type of an 'A' record as the server keeps it: the switch's variants of a type fold
// into one.
std::uint8_t MapDeviceType(std::uint8_t rawType);

// Every letter without a record class of its own.
class SwitchEventRecord {
public:
    SwitchEventRecord() = default;
    virtual ~SwitchEventRecord() = default;
    SwitchEventRecord(const SwitchEventRecord&) = default;
    SwitchEventRecord& operator=(const SwitchEventRecord&) = default;

    // A field whose bytes are no digits yields an empty or shortened text.
    virtual void Parse(protocol::ByteView body);
    // The second text that the own-line filter of the delivery compares; empty by default.
    virtual std::string SecondDeliveryText() const { return std::string(); }

    int m_nSignedByte = -1;
    int m_nDeviceNumber = 0;
    // Decimal form of the device number: no leading zeros, "0" when no digit leads.
    std::string m_strDeviceText;
};

// 'T': the header alone.
class PlainEventRecord : public SwitchEventRecord {};

// 'A': one device of the download, or its end (mapped type 0).
class DeviceDownloadRecord : public SwitchEventRecord {
public:
    void Parse(protocol::ByteView body) override;

    std::uint8_t m_nType = 0; // mapped
    std::uint8_t m_nSubType = 0;
};

// The records that carry further numbers; texts keep their leading zeros.
class NumberEventRecord : public SwitchEventRecord {
public:
    std::string SecondDeliveryText() const override { return m_strSecondText; }

    std::string m_strSecondText;
    int m_nSecondNumber = 0;
    std::string m_strThirdText;
    int m_nThirdNumber = 0;

protected:
    static int ReadNumber(protocol::ByteView body, std::size_t offset, std::string& text);
};

// 'm': a device's new number at body[8..11]; the text alone is kept.
class SecondNumberTextEventRecord : public NumberEventRecord {
public:
    void Parse(protocol::ByteView body) override;
};

// 'E', 'H', 'N', 'P', 'R', 'S', 'W', 'b', 'c', 'h', 'r': the second number at body[8..11].
class SecondNumberEventRecord : public NumberEventRecord {
public:
    void Parse(protocol::ByteView body) override;
};

// 'V', 'p': second at body[8..11], third at body[12..15].
class TwoNumberEventRecord : public NumberEventRecord {
public:
    void Parse(protocol::ByteView body) override;
};

// 'D': third at body[8..11], second at body[12..15]; the delivery compares the third.
class SwappedTwoNumberEventRecord : public NumberEventRecord {
public:
    void Parse(protocol::ByteView body) override;
    std::string SecondDeliveryText() const override { return m_strThirdText; }
};

// 'Y': third at body[8..11], second at body[13..16]; the delivery compares the device twice.
class FarSecondNumberEventRecord : public NumberEventRecord {
public:
    void Parse(protocol::ByteView body) override;
    std::string SecondDeliveryText() const override { return m_strDeviceText; }
};

// 'q': second at body[8..11], then three counts.
class CountsEventRecord : public NumberEventRecord {
public:
    void Parse(protocol::ByteView body) override;

    int m_nByteValue = 0;   // body[12]
    int m_nCount = 0;       // body[12..13]
    int m_nSecondCount = 0; // body[15..16]
};

// 'i': the answer to a device-information request.
class DeviceInfoEventRecord : public SwitchEventRecord {
public:
    static constexpr std::size_t kTextOffset = 20;
    static constexpr std::size_t kTextCapacity = 240;

    void Parse(protocol::ByteView body) override;

    std::uint8_t Parameter() const { return m_Header[1]; }
    std::uint8_t SubCode() const { return m_Header[2]; }
    // The first two text bytes; 0 where the text does not reach (the field starts cleared).
    std::uint8_t ResultByte() const { return m_Text[0]; }
    std::uint8_t ValueByte() const { return m_Text[1]; }

    std::array<std::uint8_t, 5> m_Header{}; // body[8..12]
    int m_nTextLength = 0;                  // body[14], as announced
    std::uint8_t m_nByte15 = 0;
    std::array<std::uint8_t, 2> m_Field16{};
    std::array<std::uint8_t, 2> m_Field18{};
    std::array<std::uint8_t, kTextCapacity> m_Text{};
    // Text bytes actually taken: the announced length, cut to the body and to the field.
    std::size_t m_nTextSize = 0;
};

// 'Q': the answer to a status query. The device text keeps its leading zeros here.
class StatusReplyEventRecord : public NumberEventRecord {
public:
    void Parse(protocol::ByteView body) override;
    // One character holding the hold flag (a byte 0 or 1, so its decimal value is 0).
    std::string SecondDeliveryText() const override {
        return std::string(1, static_cast<char>(m_nHoldFlag));
    }

    std::uint8_t m_nSubCode = 0;
    int m_nHoldFlag = 0;
};

// The record class of an event letter; null for the letters that no handler parses (SMDR and
// UCD records, the keep-alive answers).
std::unique_ptr<SwitchEventRecord> MakeSwitchEventRecord(std::uint8_t letter);

// The shortest body an event of this letter may have: the keep-alive answers and the SMDR and
// UCD records need their letter alone, every other event its header (letter, index, device,
// signed byte). 0 for a byte that is no letter at all.
std::size_t MinimumEventLength(std::uint8_t letter);

// 'N' and 'T' go to every client, whatever line it has set.
bool IsAllClientsEvent(std::uint8_t letter);

} // namespace engine
