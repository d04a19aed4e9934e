#pragma once

// Records out of a byte stream that arrives in pieces of any size, cut by the wire library's own
// assembler. Either every record is kept (Frames, Bodies), or each one is handed to a handler as
// it completes and nothing is kept (for long runs).
//
// A length of 0 or above the largest record is not a record: the reader counts it and stays in
// step by passing over the body it announces, so a test sees a torn or corrupted stream as
// Broken() rather than as a shifted one.

#include <protocol/Bytes.h>
#include <protocol/CtiRecord.h>
#include <protocol/RecordAssembler.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace testsupport {

using Bytes = protocol::Bytes;

class RecordReader {
public:
    // The record and the bytes it views are valid only during the call.
    using Handler = std::function<void(const protocol::CtiRecord& record)>;

    RecordReader();
    explicit RecordReader(Handler onRecord);
    RecordReader(RecordReader&&) noexcept;
    RecordReader& operator=(RecordReader&&) noexcept;
    ~RecordReader();

    void Feed(protocol::ByteView chunk);
    void Feed(const std::uint8_t* data, std::size_t size) { Feed(protocol::ByteView(data, size)); }
    // The records this chunk completes go to `onRecord` instead of the reader's own handler.
    void Feed(protocol::ByteView chunk, const Handler& onRecord);

    // The records kept so far, each with its two length bytes.
    const std::vector<Bytes>& Frames() const { return m_frames; }
    // The same records without their length bytes.
    std::vector<Bytes> Bodies() const;
    std::size_t Count() const { return m_count; }
    // Refused lengths seen so far.
    std::size_t BadLengths() const { return m_badLengths; }
    bool Broken() const { return m_badLengths > 0; }
    // Bytes of a record that has not completed yet.
    std::size_t Pending() const;

    // Forgets the records kept; the stream goes on where it was.
    void ClearRecords();
    // Forgets everything, for a new connection.
    void Reset();

private:
    void Make();

    Handler m_handler;
    const Handler* m_feedHandler = nullptr;
    std::unique_ptr<protocol::RecordAssembler> m_assembler;
    std::vector<Bytes> m_frames;
    std::size_t m_count = 0;
    std::size_t m_badLengths = 0;
};

} // namespace testsupport
