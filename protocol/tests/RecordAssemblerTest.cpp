#include <protocol/CtiRecord.h>
#include <protocol/RecordAssembler.h>

#include <gtest/gtest.h>

#include <vector>

using namespace protocol;
using Policy = RecordAssembler::BadLengthPolicy;

namespace {

// A body of n bytes whose content would look like small lengths if it were ever misread.
Bytes Body(std::size_t n, std::uint8_t seed) {
    Bytes body(n);
    for (std::size_t i = 0; i < n; ++i)
        body[i] = i % 2 == 0 ? 0x00 : static_cast<std::uint8_t>(seed + i % 5 + 1);
    return body;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// A refused record: its length bytes, then as many body bytes as it announces.
Bytes BadRecord(std::uint16_t length) {
    return Join(
        {Bytes{static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length & 0xFF)},
         Body(length, 0x10)});
}

struct Collector {
    std::vector<Bytes> bodies;
    std::vector<std::uint16_t> refused;
    std::size_t maxBuffered = 0;

    RecordAssembler Make(Policy policy) {
        return RecordAssembler(
            policy,
            [this](const CtiRecord& r) {
                EXPECT_EQ(r.Frame().size(), r.Length() + 2u);
                bodies.emplace_back(r.Body().begin(), r.Body().end());
            },
            [this](std::uint16_t length) { refused.push_back(length); });
    }
    void Feed(RecordAssembler& assembler, ByteView chunk) {
        assembler.Feed(chunk);
        maxBuffered = std::max(maxBuffered, assembler.Buffered());
    }
    void FeedInSlices(RecordAssembler& assembler, ByteView stream, std::size_t slice) {
        for (std::size_t pos = 0; pos < stream.size(); pos += slice)
            Feed(assembler, stream.subspan(pos, std::min(slice, stream.size() - pos)));
    }
};

const std::vector<Bytes> kBodies = {Body(1, 1),   Body(9, 2),   Body(15, 3), Body(397, 4),
                                    Body(398, 5), Body(399, 6), Body(2, 7)};

Bytes Stream(const std::vector<Bytes>& bodies) {
    Bytes all;
    for (const Bytes& body : bodies) {
        const Bytes record = CtiRecord::Encode(body);
        all.insert(all.end(), record.begin(), record.end());
    }
    return all;
}

TEST(RecordAssembler, SeveralRecordsInOneChunkComeOutInOrder) {
    for (Policy policy : {Policy::DropBuffered, Policy::SkipBody}) {
        Collector c;
        RecordAssembler assembler = c.Make(policy);
        c.Feed(assembler, Stream(kBodies));
        EXPECT_EQ(c.bodies, kBodies);
        EXPECT_TRUE(c.refused.empty());
        EXPECT_EQ(assembler.Buffered(), 0u);
    }
}

TEST(RecordAssembler, RecordsSplitAtEveryBytePosition) {
    const Bytes stream = Stream(kBodies);
    for (Policy policy : {Policy::DropBuffered, Policy::SkipBody}) {
        for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
            Collector c;
            RecordAssembler assembler = c.Make(policy);
            c.Feed(assembler, ByteView(stream).first(cut));
            c.Feed(assembler, ByteView(stream).subspan(cut));
            ASSERT_EQ(c.bodies, kBodies) << "cut at " << cut;
            EXPECT_LE(c.maxBuffered, CtiRecord::kMaxRecordSize);
        }
        Collector bytewise;
        RecordAssembler assembler = bytewise.Make(policy);
        bytewise.FeedInSlices(assembler, stream, 1);
        EXPECT_EQ(bytewise.bodies, kBodies);
        EXPECT_EQ(bytewise.maxBuffered, 400u); // the 399-byte body, one byte short
    }
}

TEST(RecordAssembler, WholeRecordsAreHandedOutInPlace) {
    const Bytes stream = Stream({Body(5, 1), Body(3, 2)});
    std::vector<const std::uint8_t*> starts;
    RecordAssembler assembler(Policy::SkipBody,
                              [&](const CtiRecord& r) { starts.push_back(r.Frame().data()); });
    assembler.Feed(stream);
    EXPECT_EQ(starts, (std::vector<const std::uint8_t*>{stream.data(), stream.data() + 7}));
}

TEST(RecordAssembler, Length399IsAcceptedUnderBothPolicies) {
    for (Policy policy : {Policy::DropBuffered, Policy::SkipBody}) {
        Collector c;
        RecordAssembler assembler = c.Make(policy);
        c.FeedInSlices(assembler, Stream({Body(399, 9), Body(1, 1)}), 100);
        ASSERT_EQ(c.bodies.size(), 2u);
        EXPECT_EQ(c.bodies[0], Body(399, 9));
        EXPECT_TRUE(c.refused.empty());
    }
}

TEST(RecordAssembler, SkipPolicyStaysInStepOverRefusedLengths) {
    const Bytes before = Body(9, 1), after = Body(15, 2);
    for (std::uint16_t length : {0, 400}) {
        const Bytes stream =
            Join({CtiRecord::Encode(before), BadRecord(length), CtiRecord::Encode(after)});
        for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
            Collector c;
            RecordAssembler assembler = c.Make(Policy::SkipBody);
            c.Feed(assembler, ByteView(stream).first(cut));
            c.Feed(assembler, ByteView(stream).subspan(cut));
            ASSERT_EQ(c.bodies, (std::vector<Bytes>{before, after})) << length << " cut " << cut;
            ASSERT_EQ(c.refused, (std::vector<std::uint16_t>{length}));
            EXPECT_EQ(assembler.SkipRemaining(), 0u);
        }
    }
}

TEST(RecordAssembler, SkipPolicyPassesOverA65535ByteBodyWithoutHoldingIt) {
    const Bytes before = Body(9, 1), after = Body(15, 2);
    const Bytes stream =
        Join({CtiRecord::Encode(before), BadRecord(65535), CtiRecord::Encode(after)});
    for (std::size_t slice : {1u, 2u, 3u, 7u, 400u, 401u, 4096u, 70000u}) {
        Collector c;
        RecordAssembler assembler = c.Make(Policy::SkipBody);
        c.FeedInSlices(assembler, stream, slice);
        EXPECT_EQ(c.bodies, (std::vector<Bytes>{before, after})) << "slices of " << slice;
        EXPECT_EQ(c.refused, (std::vector<std::uint16_t>{65535}));
        EXPECT_LE(c.maxBuffered, CtiRecord::kMaxRecordSize);
    }

    Collector c;
    RecordAssembler assembler = c.Make(Policy::SkipBody);
    c.Feed(assembler, ByteView(stream).first(11 + 2 + 1000));
    EXPECT_EQ(assembler.SkipRemaining(), 65535u - 1000u);
    EXPECT_EQ(assembler.Buffered(), 0u);
}

TEST(RecordAssembler, DropPolicyDiscardsTheRestOfTheChunk) {
    const Bytes first = Body(9, 1), lost = Body(15, 2), next = Body(3, 3);
    for (std::uint16_t length : {0, 400, 65535}) {
        Collector c;
        RecordAssembler assembler = c.Make(Policy::DropBuffered);
        Bytes bad = BadRecord(length);
        bad.resize(std::min<std::size_t>(bad.size(), 42)); // some of its body, then more records
        const Bytes chunk = Join({CtiRecord::Encode(first), bad, CtiRecord::Encode(lost)});
        c.Feed(assembler, chunk);
        EXPECT_EQ(c.bodies, (std::vector<Bytes>{first})) << length;
        EXPECT_EQ(c.refused, (std::vector<std::uint16_t>{length}));
        EXPECT_EQ(assembler.Buffered(), 0u);
        EXPECT_EQ(assembler.SkipRemaining(), 0u);

        // The next chunk starts with a length again.
        c.Feed(assembler, CtiRecord::Encode(next));
        EXPECT_EQ(c.bodies, (std::vector<Bytes>{first, next})) << length;
    }
}

TEST(RecordAssembler, DropPolicyWithTheLengthSplitOverTwoChunks) {
    const Bytes first = Body(9, 1), next = Body(3, 3);
    Collector c;
    RecordAssembler assembler = c.Make(Policy::DropBuffered);
    c.Feed(assembler, Join({CtiRecord::Encode(first), Bytes{0x01}}));
    EXPECT_TRUE(c.refused.empty());
    EXPECT_EQ(assembler.Buffered(), 1u);
    c.Feed(assembler, Join({Bytes{0x90, 0x00, 0x05}, CtiRecord::Encode(Body(4, 4))}));
    EXPECT_EQ(c.refused, (std::vector<std::uint16_t>{400}));
    EXPECT_EQ(c.bodies, (std::vector<Bytes>{first}));
    c.Feed(assembler, CtiRecord::Encode(next));
    EXPECT_EQ(c.bodies, (std::vector<Bytes>{first, next}));
}

TEST(RecordAssembler, ResetForgetsAPartialRecordAndAPendingSkip) {
    Collector c;
    RecordAssembler assembler = c.Make(Policy::SkipBody);
    const Bytes record = CtiRecord::Encode(Body(20, 1));
    c.Feed(assembler, ByteView(record).first(10));
    EXPECT_EQ(assembler.Buffered(), 10u);
    assembler.Reset();
    EXPECT_EQ(assembler.Buffered(), 0u);
    c.Feed(assembler, ByteView(BadRecord(500)).first(50));
    EXPECT_EQ(assembler.SkipRemaining(), 452u);
    assembler.Reset();
    EXPECT_EQ(assembler.SkipRemaining(), 0u);
    c.Feed(assembler, record);
    EXPECT_EQ(c.bodies, (std::vector<Bytes>{Body(20, 1)}));
}

TEST(RecordAssembler, HandlerThatResetsEndsTheChunk) {
    // A handler that takes the connection down, as a link-clear request does.
    const Bytes stream = Stream({Body(3, 1), Body(4, 2), Body(5, 3)});
    std::vector<std::size_t> seen;
    RecordAssembler* self = nullptr;
    RecordAssembler assembler(Policy::SkipBody, [&](const CtiRecord& r) {
        seen.push_back(r.Length());
        if (r.Length() == 4)
            self->Reset();
    });
    self = &assembler;
    assembler.Feed(ByteView(stream).first(stream.size() - 2));
    EXPECT_EQ(seen, (std::vector<std::size_t>{3, 4}));
    EXPECT_EQ(assembler.Buffered(), 0u);
    assembler.Feed(CtiRecord::Encode(Body(6, 4)));
    EXPECT_EQ(seen, (std::vector<std::size_t>{3, 4, 6}));
}

TEST(RecordAssembler, HandlerThatFeedsKeepsStreamOrder) {
    // A handler that yields to pending socket events may be re-entered with the next data.
    const Bytes first = Stream({Body(3, 1), Body(4, 2)});
    const Bytes late = Stream({Body(5, 3)});
    std::vector<Bytes> seen;
    RecordAssembler* self = nullptr;
    bool fed = false;
    RecordAssembler assembler(Policy::SkipBody, [&](const CtiRecord& r) {
        seen.emplace_back(r.Body().begin(), r.Body().end());
        if (!fed) {
            fed = true;
            self->Feed(late);
        }
    });
    self = &assembler;
    assembler.Feed(first);
    EXPECT_EQ(seen, (std::vector<Bytes>{Body(3, 1), Body(4, 2), Body(5, 3)}));
}

TEST(RecordAssembler, BufferedRecordStaysIntactWhileAHandlerFeeds) {
    // The split record is handed out from the internal buffer; a re-entrant feed must not
    // overwrite it under the handler's feet.
    const Bytes split = CtiRecord::Encode(Body(30, 1));
    const Bytes late = CtiRecord::Encode(Body(30, 2));
    std::vector<Bytes> seen;
    RecordAssembler* self = nullptr;
    RecordAssembler assembler(Policy::DropBuffered, [&](const CtiRecord& r) {
        const Bytes before(r.Body().begin(), r.Body().end());
        if (seen.empty())
            self->Feed(late);
        EXPECT_EQ(Bytes(r.Body().begin(), r.Body().end()), before);
        seen.push_back(before);
    });
    self = &assembler;
    assembler.Feed(ByteView(split).first(10));
    assembler.Feed(ByteView(split).subspan(10));
    EXPECT_EQ(seen, (std::vector<Bytes>{Body(30, 1), Body(30, 2)}));
}

TEST(RecordAssembler, RefusalHandlerMayReset) {
    Collector c;
    RecordAssembler* self = nullptr;
    RecordAssembler assembler(
        Policy::SkipBody,
        [&](const CtiRecord& r) { c.bodies.emplace_back(r.Body().begin(), r.Body().end()); },
        [&](std::uint16_t length) {
            c.refused.push_back(length);
            self->Reset();
        });
    self = &assembler;
    assembler.Feed(Join({BadRecord(450), CtiRecord::Encode(Body(2, 2))}));
    EXPECT_EQ(c.refused, (std::vector<std::uint16_t>{450}));
    EXPECT_TRUE(c.bodies.empty());
    EXPECT_EQ(assembler.SkipRemaining(), 0u);
}

} // namespace

namespace {

TEST(RecordAssembler, ALongerAcceptedBodyIsHeldWholeAndOneMoreIsRefused) {
    const Bytes full = Body(CtiRecord::kMaxSentBodyLength, 4), after = Body(3, 5);
    const Bytes stream = Join({CtiRecord::Encode(full), BadRecord(401), CtiRecord::Encode(after)});
    for (std::size_t slice : {1u, 7u, 401u, 402u, 4096u}) {
        std::vector<Bytes> bodies;
        std::vector<std::uint16_t> refused;
        RecordAssembler assembler(
            Policy::SkipBody,
            [&](const CtiRecord& r) { bodies.emplace_back(r.Body().begin(), r.Body().end()); },
            [&](std::uint16_t length) { refused.push_back(length); },
            static_cast<std::uint16_t>(CtiRecord::kMaxSentBodyLength));
        for (std::size_t pos = 0; pos < stream.size(); pos += slice)
            assembler.Feed(ByteView(stream).subspan(pos, std::min(slice, stream.size() - pos)));
        EXPECT_EQ(bodies, (std::vector<Bytes>{full, after})) << "slices of " << slice;
        EXPECT_EQ(refused, (std::vector<std::uint16_t>{401}));
    }
    // Never above what a sender may send, whatever is asked.
    RecordAssembler capped(Policy::DropBuffered, {}, {}, 65535);
    EXPECT_EQ(capped.MaxBodyLength(), CtiRecord::kMaxSentBodyLength);
}

} // namespace
