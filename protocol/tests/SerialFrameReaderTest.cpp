#include <protocol/SerialFrameReader.h>

#include <gtest/gtest.h>

#include <vector>

using namespace protocol;
using Result = SerialFrameReader::Result;

namespace {

Bytes Frame(const Bytes& body) {
    Bytes frame(body.size() + 5);
    frame.resize(static_cast<std::size_t>(
        BuildSerialFrame(frame.data(), body.data(), static_cast<int>(body.size()))));
    return frame;
}

// Feeds every byte; returns the results that were not None, with the data of each frame.
struct Seen {
    std::vector<Result> results;
    std::vector<Bytes> frames;
};

Seen FeedAll(SerialFrameReader& reader, const Bytes& bytes) {
    Seen seen;
    for (std::uint8_t byte : bytes) {
        const Result result = reader.Feed(byte);
        if (result == Result::None)
            continue;
        seen.results.push_back(result);
        if (result == Result::Frame || result == Result::FrameWithoutEtx)
            seen.frames.emplace_back(reader.Data().begin(), reader.Data().end());
    }
    return seen;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

const Bytes kPoll = {0x02, 0x75, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

TEST(SerialFrameReader, FramesComeOutWholeAndInOrderWhateverTheyHold) {
    // Bodies full of line bytes: inside a frame they are data, not bids or answers.
    const Bytes lineBytes = {0x05, 0x06, 0x15, 0x02, 0x03, 0x05};
    Bytes longest(SerialFrameReader::kMaxData);
    for (std::size_t i = 0; i < longest.size(); ++i)
        longest[i] = static_cast<std::uint8_t>(i * 7);
    SerialFrameReader reader;
    const Seen seen = FeedAll(reader, Join({Frame(kPoll), Frame(lineBytes), Frame(longest)}));
    EXPECT_EQ(seen.results, (std::vector<Result>{Result::Frame, Result::Frame, Result::Frame}));
    EXPECT_EQ(seen.frames, (std::vector<Bytes>{kPoll, lineBytes, longest}));
    EXPECT_EQ(reader.GetState(), SerialFrameReader::State::Free);
}

TEST(SerialFrameReader, LineBytesOutsideAFrameAreTold) {
    SerialFrameReader reader;
    const Seen seen = FeedAll(reader, Join({{0x05, 0x06}, Frame(kPoll), {0x15, 0x41, 0x03}}));
    EXPECT_EQ(seen.results,
              (std::vector<Result>{Result::LineBid, Result::Ack, Result::Frame, Result::Nak,
                                   Result::Unexpected, Result::Unexpected}));
}

TEST(SerialFrameReader, ABadCheckIsRefusedAndTheNextGoodFrameArrives) {
    Bytes bad = Frame(kPoll);
    bad[bad.size() - 2] ^= 0x01;
    SerialFrameReader reader;
    const Seen seen = FeedAll(reader, Join({bad, Frame(kPoll)}));
    // The ETX after the refused check is a stray byte by then.
    EXPECT_EQ(seen.results,
              (std::vector<Result>{Result::BadCheck, Result::Unexpected, Result::Frame}));
    EXPECT_EQ(seen.frames, std::vector<Bytes>{kPoll});
}

TEST(SerialFrameReader, AMissingEtxStillGivesTheFrame) {
    Bytes cut = Frame(kPoll);
    cut.back() = 0x41;
    SerialFrameReader reader;
    const Seen seen = FeedAll(reader, Join({cut, Frame(kPoll)}));
    EXPECT_EQ(seen.results, (std::vector<Result>{Result::FrameWithoutEtx, Result::Frame}));
    EXPECT_EQ(seen.frames, (std::vector<Bytes>{kPoll, kPoll}));
}

TEST(SerialFrameReader, LengthsItCannotHoldAreRefusedAtOnceAndDoNotStallIt) {
    for (const Bytes& head :
         {Bytes{0x02, 0x00, 0x00}, Bytes{0x02, 0x01, 0x00}, Bytes{0x02, 0xFF, 0xFF}}) {
        SerialFrameReader reader;
        const Seen seen = FeedAll(reader, Join({head, Frame(kPoll)}));
        EXPECT_EQ(seen.results, (std::vector<Result>{Result::BadLength, Result::Frame}));
        EXPECT_EQ(seen.frames, std::vector<Bytes>{kPoll});
    }
    SerialFrameReader reader;
    FeedAll(reader, {0x02, 0x01, 0x00});
    EXPECT_EQ(reader.Length(), 256);
}

TEST(SerialFrameReader, AResetGivesUpAPartialFrame) {
    const Bytes whole = Frame(kPoll);
    SerialFrameReader reader;
    FeedAll(reader, Bytes(whole.begin(), whole.begin() + 6));
    EXPECT_EQ(reader.GetState(), SerialFrameReader::State::Data);
    reader.Reset();
    const Seen seen = FeedAll(reader, whole);
    EXPECT_EQ(seen.results, std::vector<Result>{Result::Frame});
    EXPECT_EQ(seen.frames, std::vector<Bytes>{kPoll});
}

TEST(SerialFrameReader, TheBuiltFrameCarriesTheLengthAndTheCheckOfLengthAndData) {
    Bytes longer(300, 0x5A);
    const Bytes frame = Frame(longer);
    ASSERT_EQ(frame.size(), 305u);
    EXPECT_EQ(frame[1], 0x01);
    EXPECT_EQ(frame[2], 0x2C);
    std::uint8_t check = 0x01 ^ 0x2C;
    for (std::uint8_t byte : longer)
        check ^= byte;
    EXPECT_EQ(frame[303], check);
    Bytes out(8);
    EXPECT_EQ(BuildSerialFrame(out.data(), nullptr, 3), 0);
    EXPECT_EQ(BuildSerialFrame(out.data(), kPoll.data(), -1), 0);
}

} // namespace
