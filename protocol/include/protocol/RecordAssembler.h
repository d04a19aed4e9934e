#pragma once

#include <protocol/Bytes.h>
#include <protocol/CtiRecord.h>

#include <array>
#include <cstdint>
#include <functional>

namespace protocol {

// Cuts a TCP byte stream, fed in chunks of any size, into CtiRecords and hands each one out in
// order. A record that a chunk leaves incomplete is kept for the next chunk; records lying wholly
// inside a chunk are handed out in place, without a copy.
//
// A length of 0 or above the longest accepted body (CtiRecord::kMaxBodyLength unless the reader
// takes longer ones) is reported and then handled by the policy:
//  - DropBuffered: the rest of the chunk is discarded and the next chunk starts with a length;
//  - SkipBody: exactly the announced body bytes are passed over, across chunks, so the stream
//    stays in step.
// Memory stays bounded: at most one record is held, whatever the lengths announce.
//
// Handlers may call Reset() (the rest of the current chunk is then discarded) and Feed() (the
// chunk is queued and processed after the current one, so records keep their stream order).
class RecordAssembler {
public:
    enum class BadLengthPolicy { DropBuffered, SkipBody };

    // The record and the bytes it views are valid only during the call.
    using RecordHandler = std::function<void(const CtiRecord& record)>;
    using BadLengthHandler = std::function<void(std::uint16_t length)>;

    // `maxBodyLength`: the longest body taken as a record, for a reader whose peer may send up to
    // CtiRecord::kMaxSentBodyLength; never more than that.
    RecordAssembler(BadLengthPolicy policy, RecordHandler onRecord,
                    BadLengthHandler onBadLength = {},
                    std::uint16_t maxBodyLength = CtiRecord::kMaxBodyLength);

    RecordAssembler(const RecordAssembler&) = delete;
    RecordAssembler& operator=(const RecordAssembler&) = delete;

    void Feed(ByteView chunk);
    // Forgets a partial record, a pending skip and queued chunks (for a new connection).
    void Reset();

    std::uint16_t MaxBodyLength() const { return maxBody_; }
    // Bytes of an incomplete record held for the next chunk.
    std::size_t Buffered() const { return held_; }
    // Body bytes of a refused record still to be passed over (SkipBody only).
    std::size_t SkipRemaining() const { return skip_; }

private:
    void Process(ByteView chunk);
    // Returns false when the rest of the chunk is not to be processed.
    bool Deliver(ByteView frame);
    bool RefuseLength(std::uint16_t length);
    bool IsAccepted(std::uint16_t length) const { return length != 0 && length <= maxBody_; }

    BadLengthPolicy policy_;
    RecordHandler onRecord_;
    BadLengthHandler onBadLength_;
    std::uint16_t maxBody_;

    std::array<std::uint8_t, CtiRecord::kLengthSize + CtiRecord::kMaxSentBodyLength> buffer_{};
    std::size_t held_ = 0;
    std::size_t skip_ = 0;

    bool feeding_ = false;
    unsigned generation_ = 0; // bumped by Reset so a running Feed can notice it
    Bytes queued_;            // chunks fed from inside a handler
};

} // namespace protocol
