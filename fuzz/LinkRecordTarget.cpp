// The switch link's record reader: a TCP byte stream, cut into chunks as the input says, through
// the record assembler under either bad-length policy, checked against a plain model of the
// stream.
//
// Input: byte 0 bit 0 picks the policy (0 DropBuffered, 1 SkipBody); then chunks, each a size
// byte followed by that many stream bytes (the last one may be short).

#include "FuzzCheck.h"

#include <protocol/CtiRecord.h>
#include <protocol/RecordAssembler.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

using protocol::CtiRecord;
using protocol::RecordAssembler;
using Bytes = std::vector<std::uint8_t>;

struct Outcome {
    std::vector<Bytes> records; // frames, length bytes included
    std::vector<std::uint16_t> badLengths;
};

// What the stream holds, read the slow way.
Outcome Model(const std::vector<Bytes>& chunks, bool skipBody) {
    Outcome out;
    Bytes pending; // bytes of the record being collected
    std::size_t skip = 0;
    for (const Bytes& chunk : chunks) {
        for (std::size_t i = 0; i < chunk.size(); ++i) {
            if (skip > 0) {
                --skip;
                continue;
            }
            pending.push_back(chunk[i]);
            if (pending.size() < CtiRecord::kLengthSize)
                continue;
            const std::uint16_t length = CtiRecord::PeekLength(pending);
            if (!CtiRecord::IsAcceptedLength(length)) {
                out.badLengths.push_back(length);
                pending.clear();
                if (skipBody) {
                    skip = length;
                    continue;
                }
                break; // the rest of this chunk is dropped
            }
            if (pending.size() == CtiRecord::kLengthSize + length) {
                out.records.push_back(pending);
                pending.clear();
            }
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const bool skipBody = (data[0] & 1) != 0;
    std::vector<Bytes> chunks;
    for (std::size_t at = 1; at < size;) {
        const std::size_t want = data[at++];
        const std::size_t take = std::min(want, size - at);
        chunks.emplace_back(data + at, data + at + take);
        at += take;
    }

    Outcome got;
    RecordAssembler assembler(
        skipBody ? RecordAssembler::BadLengthPolicy::SkipBody
                 : RecordAssembler::BadLengthPolicy::DropBuffered,
        [&](const CtiRecord& record) {
            FUZZ_CHECK(CtiRecord::IsAcceptedLength(record.Length()));
            FUZZ_CHECK(record.Frame().size() == CtiRecord::kLengthSize + record.Length());
            got.records.emplace_back(record.Frame().begin(), record.Frame().end());
        },
        [&](std::uint16_t length) {
            FUZZ_CHECK(!CtiRecord::IsAcceptedLength(length));
            got.badLengths.push_back(length);
        });
    for (const Bytes& chunk : chunks) {
        assembler.Feed(chunk);
        FUZZ_CHECK(assembler.Buffered() < CtiRecord::kMaxRecordSize);
        FUZZ_CHECK(skipBody || assembler.SkipRemaining() == 0);
    }

    const Outcome want = Model(chunks, skipBody);
    FUZZ_CHECK(got.records == want.records);
    FUZZ_CHECK(got.badLengths == want.badLengths);

    assembler.Reset();
    FUZZ_CHECK(assembler.Buffered() == 0 && assembler.SkipRemaining() == 0);
    return 0;
}
