#pragma once

#include <protocol/Bytes.h>

#include <cstdint>
#include <optional>

namespace protocol {

// One record of a TCP link: a 2-byte big-endian body length L, then L body bytes. A CtiRecord is
// a view over exactly those 2 + L bytes; it does not own them.
class CtiRecord {
public:
    static constexpr std::size_t kLengthSize = 2;
    // Longest body that receivers accept; a length of 0 or above this is a fault on the link.
    static constexpr std::uint16_t kMaxBodyLength = 399;
    static constexpr std::size_t kMaxRecordSize = kLengthSize + kMaxBodyLength;
    // Longest body a sender puts on a link (the server's event delivery, the simulators); the
    // simulators and the monitors read up to it.
    static constexpr std::uint16_t kMaxSentBodyLength = 400;

    // The record at the start of the bytes, or nothing when they hold less than the two length
    // bytes and the body they announce. Bytes after the record are not part of it.
    static std::optional<CtiRecord> At(ByteView bytes);
    // The announced length at the start of the bytes (which must hold at least two).
    static std::uint16_t PeekLength(ByteView bytes) {
        return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
    }
    static bool IsAcceptedLength(std::uint16_t length) {
        return length != 0 && length <= kMaxBodyLength;
    }
    // The server's switch link reader reads every accepted body, so the stream stays in step, but
    // hands on only records below 400 bytes, length included; a longer one is dropped there.
    static constexpr std::size_t kMaxLinkRecordSize = 399;

    // The two length bytes of a body of `length` bytes.
    static void PutLength(std::uint8_t* out, std::uint16_t length) {
        out[0] = static_cast<std::uint8_t>(length >> 8);
        out[1] = static_cast<std::uint8_t>(length & 0xFF);
    }
    // 2-byte length + body. A body longer than 65535 bytes cannot be framed: the result is empty.
    static Bytes Encode(ByteView body);
    // The same into `out`, whose storage is kept from call to call; false (out empty) when the
    // body cannot be framed.
    static bool EncodeInto(Bytes& out, ByteView body);

    std::uint16_t Length() const { return static_cast<std::uint16_t>(bytes_.size() - kLengthSize); }
    ByteView Frame() const { return bytes_; } // length bytes included
    ByteView Body() const { return bytes_.subspan(kLengthSize); }

private:
    explicit CtiRecord(ByteView bytes) : bytes_(bytes) {}

    ByteView bytes_;
};

} // namespace protocol
