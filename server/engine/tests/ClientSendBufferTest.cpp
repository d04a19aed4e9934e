#include <engine/ClientSendBuffer.h>
#include <engine/ClientSendPool.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using namespace engine;

namespace {

using Bytes = std::vector<std::uint8_t>;

// A socket that takes at most `room` bytes in all (unlimited when negative), then reports it is
// full, or fails with `error` when that is set.
class FakeSink : public ClientSendSink {
public:
    int SendBytes(const std::uint8_t* data, int length, int& error) override {
        std::lock_guard<std::mutex> guard(lock);
        ++sends;
        if (failWith != 0) {
            error = failWith;
            return -1;
        }
        const int n = room < 0 ? length : std::min(length, room);
        if (n == 0) {
            error = EWOULDBLOCK;
            return -1;
        }
        if (room >= 0)
            room -= n;
        wire.insert(wire.end(), data, data + n);
        return n;
    }
    void RequestWritable() override { ++writableRequests; }
    void SendFailed(int error, const std::array<int, kTagCount>& counts) override {
        failedWith = error;
        lost = counts;
    }
    Bytes Wire() {
        std::lock_guard<std::mutex> guard(lock);
        return wire;
    }

    std::mutex lock;
    Bytes wire;
    int room = -1;
    int failWith = 0;
    int sends = 0;
    int writableRequests = 0;
    int failedWith = 0;
    std::array<int, kTagCount> lost{};
};

// A framed record: two length bytes, then `size` bytes from `seed` on.
Bytes Record(std::uint8_t seed, std::size_t size) {
    Bytes record{static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size)};
    for (std::size_t i = 0; i < size; ++i)
        record.push_back(static_cast<std::uint8_t>(seed + i));
    return record;
}

class ClientSendBufferTest : public ::testing::Test {
protected:
    ClientSendBuffer::Result Post(const Bytes& record, int tag = 0) {
        error = 0;
        const auto result =
            buffer.Post(record.data(), static_cast<int>(record.size()), tag, error, need);
        if (result == ClientSendBuffer::kAccepted)
            accepted.insert(accepted.end(), record.begin(), record.end());
        return result;
    }

    FakeSink sink;
    ClientSendBuffer buffer{sink};
    ClientSendBuffer::Need need = ClientSendBuffer::kNothing;
    int error = 0;
    Bytes accepted; // every accepted record, in order
};

} // namespace

TEST_F(ClientSendBufferTest, RecordsPostedBeforeATurnLeaveInOneSendInOrder) {
    ASSERT_EQ(Post(Record(1, 10)), ClientSendBuffer::kAccepted);
    EXPECT_EQ(need, ClientSendBuffer::kSender);
    ASSERT_EQ(Post(Record(50, 300)), ClientSendBuffer::kAccepted);
    EXPECT_EQ(need, ClientSendBuffer::kNothing) << "a sender is already on its way";
    ASSERT_EQ(Post(Record(9, 1)), ClientSendBuffer::kAccepted);
    EXPECT_EQ(buffer.QueuedRecords(), 3u);

    EXPECT_FALSE(buffer.FlushOnce());
    EXPECT_EQ(sink.sends, 1);
    EXPECT_EQ(sink.Wire(), accepted);
    EXPECT_EQ(buffer.QueuedBytes(), 0u);
    // Empty again: the next record asks for a sender once more.
    ASSERT_EQ(Post(Record(3, 4)), ClientSendBuffer::kAccepted);
    EXPECT_EQ(need, ClientSendBuffer::kSender);
}

TEST_F(ClientSendBufferTest, APartialSendHoldsOnlyTheTornRecordsTailAndRefusesUntilItHasGone) {
    const Bytes first = Record(1, 100), second = Record(120, 200), third = Record(7, 30);
    ASSERT_EQ(Post(first), ClientSendBuffer::kAccepted);
    ASSERT_EQ(Post(second), ClientSendBuffer::kAccepted);
    ASSERT_EQ(Post(third), ClientSendBuffer::kAccepted);
    sink.room = static_cast<int>(first.size() + 50); // the socket cuts the second record
    buffer.Flush();
    EXPECT_EQ(buffer.TornBytes(), second.size() - 50);
    EXPECT_EQ(buffer.QueuedBytes(), second.size() - 50 + third.size()) << "whole records wait";
    EXPECT_EQ(sink.writableRequests, 1);

    EXPECT_EQ(Post(Record(2, 5)), ClientSendBuffer::kRefused);
    EXPECT_EQ(error, EWOULDBLOCK);
    buffer.Flush(); // not writable yet: nothing happens
    EXPECT_EQ(sink.Wire().size(), first.size() + 50);

    sink.room = 20; // writable, but only a little: the tail shrinks and stays
    buffer.OnWritable();
    EXPECT_EQ(buffer.TornBytes(), second.size() - 70);
    EXPECT_EQ(Post(Record(2, 5)), ClientSendBuffer::kRefused);
    sink.room = -1;
    buffer.OnWritable();
    EXPECT_EQ(buffer.TornBytes(), 0u);
    EXPECT_EQ(buffer.QueuedBytes(), 0u);
    ASSERT_EQ(Post(Record(4, 8)), ClientSendBuffer::kAccepted);
    buffer.Flush();
    EXPECT_EQ(sink.Wire(), accepted) << "every accepted record whole and in order";
}

TEST_F(ClientSendBufferTest, AStalledClientHoldsABoundedQueue) {
    sink.room = 0;
    std::size_t refused = 0;
    for (std::size_t i = 0; i < ClientSendBuffer::kByteLimit / 400 + 50; ++i)
        if (Post(Record(static_cast<std::uint8_t>(i), 400)) != ClientSendBuffer::kAccepted)
            ++refused;
    EXPECT_GT(refused, 0u);
    EXPECT_LE(buffer.QueuedBytes(), ClientSendBuffer::kByteLimit);
    buffer.Flush();
    EXPECT_EQ(sink.writableRequests, 1);
    EXPECT_EQ(Post(Record(1, 3)), ClientSendBuffer::kRefused) << "blocked once the socket is full";

    // Tiny records are bounded by count as well.
    FakeSink other;
    other.room = 0;
    ClientSendBuffer small(other);
    ClientSendBuffer::Need n;
    const Bytes tiny = Record(0, 1);
    std::size_t taken = 0;
    while (small.Post(tiny.data(), 3, 0, error, n) == ClientSendBuffer::kAccepted)
        ++taken;
    EXPECT_EQ(taken, ClientSendBuffer::kRecordLimit);

    // A record longer than the limit goes only into an empty queue.
    FakeSink third;
    ClientSendBuffer big(third);
    const Bytes huge = Record(5, ClientSendBuffer::kByteLimit + 10);
    EXPECT_EQ(big.Post(tiny.data(), 3, 0, error, n), ClientSendBuffer::kAccepted);
    EXPECT_EQ(big.Post(huge.data(), static_cast<int>(huge.size()), 0, error, n),
              ClientSendBuffer::kRefused);
    big.Flush();
    EXPECT_EQ(big.Post(huge.data(), static_cast<int>(huge.size()), 0, error, n),
              ClientSendBuffer::kAccepted);
}

// Records keep coming while a send writes: the limit is on what waits behind it, and what the
// send is writing is never moved (the sink reads it after the posts).
class PostingSink : public FakeSink {
public:
    int SendBytes(const std::uint8_t* data, int length, int& error) override {
        ++calls;
        longest = std::max(longest, length);
        if (calls == 1 && buffer) {
            const Bytes record = Record(9, 1000);
            ClientSendBuffer::Need n;
            int e = 0;
            while (buffer->Post(record.data(), static_cast<int>(record.size()), 0, e, n) ==
                   ClientSendBuffer::kAccepted)
                postedDuringSend += record.size();
        }
        return FakeSink::SendBytes(data, length, error);
    }
    ClientSendBuffer* buffer = nullptr;
    int calls = 0;
    int longest = 0;
    std::size_t postedDuringSend = 0;
};

TEST(ClientSendBufferInFlight, WhatASendWritesDoesNotCountAgainstTheQueueAndIsNeverMoved) {
    PostingSink sink;
    ClientSendBuffer buffer(sink);
    sink.buffer = &buffer;
    Bytes expected;
    const Bytes first = Record(1, 1000);
    int error = 0;
    ClientSendBuffer::Need need;
    for (std::size_t i = 0; i < ClientSendBuffer::kByteLimit / first.size(); ++i) {
        ASSERT_EQ(buffer.Post(first.data(), static_cast<int>(first.size()), 0, error, need),
                  ClientSendBuffer::kAccepted);
        expected.insert(expected.end(), first.begin(), first.end());
    }
    buffer.Flush();
    EXPECT_GT(sink.postedDuringSend, ClientSendBuffer::kByteLimit - 2 * 1002);
    EXPECT_LE(sink.postedDuringSend, ClientSendBuffer::kByteLimit);
    EXPECT_LE(static_cast<std::size_t>(sink.longest), ClientSendBuffer::kByteLimit);
    const Bytes later = Record(9, 1000);
    for (std::size_t sent = 0; sent < sink.postedDuringSend; sent += later.size())
        expected.insert(expected.end(), later.begin(), later.end());
    EXPECT_EQ(sink.Wire(), expected);
}

TEST_F(ClientSendBufferTest, ABrokenConnectionReportsTheQueuedRecordsByTagAndRefusesTheRest) {
    ASSERT_EQ(Post(Record(1, 10), 1), ClientSendBuffer::kAccepted);
    ASSERT_EQ(Post(Record(2, 10), 2), ClientSendBuffer::kAccepted);
    ASSERT_EQ(Post(Record(3, 10), 1), ClientSendBuffer::kAccepted);
    ASSERT_EQ(Post(Record(4, 10), 0), ClientSendBuffer::kAccepted);
    sink.failWith = EPIPE;
    buffer.Flush();
    EXPECT_EQ(sink.failedWith, EPIPE);
    EXPECT_EQ(sink.lost, (std::array<int, ClientSendSink::kTagCount>{1, 2, 1}));
    EXPECT_EQ(buffer.QueuedBytes(), 0u);
    EXPECT_EQ(Post(Record(5, 10)), ClientSendBuffer::kFailed);
    EXPECT_EQ(error, EPIPE);
    EXPECT_EQ(buffer.FailedError(), EPIPE);
}

TEST_F(ClientSendBufferTest, SeveralRecordsUnderOneLockAreTakenOneByOneAsPostWouldTakeThem) {
    // Nearly full: of the records posted together the large one is refused and the small one
    // after it still fits.
    const Bytes filler = Record(1, ClientSendBuffer::kByteLimit - 100);
    ASSERT_EQ(Post(filler), ClientSendBuffer::kAccepted);
    ASSERT_TRUE(buffer.FlushOnce() == false && sink.sends == 1);
    sink.room = 0;
    ASSERT_EQ(Post(filler), ClientSendBuffer::kAccepted);
    const Bytes small = Record(7, 40), large = Record(9, 200), last = Record(3, 20);
    const ClientSendBuffer::Record records[] = {{small.data(), static_cast<int>(small.size())},
                                                {large.data(), static_cast<int>(large.size())},
                                                {nullptr, 5},
                                                {last.data(), static_cast<int>(last.size())}};
    int errors[4] = {-1, -1, -1, -1};
    buffer.PostAll(records, 4, 1, errors, need);
    EXPECT_EQ(errors[0], 0);
    EXPECT_EQ(errors[1], EWOULDBLOCK);
    EXPECT_EQ(errors[2], EINVAL);
    EXPECT_EQ(errors[3], 0);
    EXPECT_EQ(need, ClientSendBuffer::kHelp) << "past half, and the sender asked for is not there";
    EXPECT_EQ(buffer.QueuedRecords(), 3u);

    sink.room = -1;
    EXPECT_FALSE(buffer.FlushOnce());
    accepted.insert(accepted.end(), small.begin(), small.end());
    accepted.insert(accepted.end(), last.begin(), last.end());
    EXPECT_EQ(sink.Wire(), accepted);

    // Into an empty queue: a sender is wanted; none at all accepted asks for nobody.
    buffer.PostAll(records, 1, 0, errors, need);
    EXPECT_EQ(need, ClientSendBuffer::kSender);
    buffer.PostAll(records + 2, 1, 0, errors, need);
    EXPECT_EQ(need, ClientSendBuffer::kNothing);
}

TEST_F(ClientSendBufferTest, ADetachedBufferSendsNothing) {
    ASSERT_EQ(Post(Record(1, 10)), ClientSendBuffer::kAccepted);
    buffer.Detach();
    EXPECT_FALSE(buffer.FlushOnce());
    EXPECT_EQ(sink.sends, 0);
    EXPECT_EQ(Post(Record(2, 10)), ClientSendBuffer::kFailed);
    EXPECT_EQ(error, EBADF);
}

TEST(ClientSendPool, EveryClientGetsItsRecordsInOrderFromTheSenderThreads) {
    constexpr int kClients = 24;
    constexpr int kRecords = 400;
    std::vector<std::unique_ptr<FakeSink>> sinks;
    std::vector<std::shared_ptr<ClientSendBuffer>> buffers;
    for (int i = 0; i < kClients; ++i) {
        sinks.push_back(std::make_unique<FakeSink>());
        buffers.push_back(std::make_shared<ClientSendBuffer>(*sinks.back()));
    }
    Bytes expected;
    {
        ClientSendPool pool(3);
        SendWakeList wake;
        for (int r = 0; r < kRecords; ++r) {
            const Bytes record = Record(static_cast<std::uint8_t>(r), 1 + r % 37);
            expected.insert(expected.end(), record.begin(), record.end());
            for (const auto& buffer : buffers) {
                int error = 0;
                ClientSendBuffer::Need need;
                ASSERT_EQ(
                    buffer->Post(record.data(), static_cast<int>(record.size()), 0, error, need),
                    ClientSendBuffer::kAccepted);
                if (need == ClientSendBuffer::kSender)
                    wake.push_back(buffer);
            }
            pool.Submit(wake);
            EXPECT_TRUE(wake.empty());
        }
        // Stopping sends what the threads had not reached yet.
    }
    for (const auto& sink : sinks)
        EXPECT_EQ(sink->Wire(), expected);

    // After a stop the submitting thread sends itself.
    ClientSendPool stopped(2);
    stopped.Stop();
    const Bytes last = Record(1, 4);
    int error = 0;
    ClientSendBuffer::Need need;
    ASSERT_EQ(buffers[0]->Post(last.data(), 6, 0, error, need), ClientSendBuffer::kAccepted);
    SendWakeList wake{buffers[0]};
    stopped.Submit(wake);
    expected.insert(expected.end(), last.begin(), last.end());
    EXPECT_EQ(sinks[0]->Wire(), expected);
}

TEST(ClientSendPool, AGatheredHandoverGoesAtOnceAndTakesTheDelayedBuffersAlong) {
    // A delay no test waits out: whatever arrives was sent without it.
    FakeSink delayedSink, gatheredSink;
    auto delayed = std::make_shared<ClientSendBuffer>(delayedSink);
    auto gathered = std::make_shared<ClientSendBuffer>(gatheredSink);
    ClientSendPool pool(2, std::chrono::hours(1));
    const Bytes record = Record(1, 8);
    int error = 0;
    ClientSendBuffer::Need need;
    ASSERT_EQ(delayed->Post(record.data(), 10, 0, error, need), ClientSendBuffer::kAccepted);
    SendWakeList wake{delayed};
    pool.Submit(wake);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(delayedSink.Wire().empty()) << "a single record waits for the ones that follow";

    ASSERT_EQ(gathered->Post(record.data(), 10, 0, error, need), ClientSendBuffer::kAccepted);
    wake = {gathered};
    pool.Submit(wake, true);
    EXPECT_TRUE(wake.empty());
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while ((gatheredSink.Wire().empty() || delayedSink.Wire().empty()) &&
           std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(gatheredSink.Wire(), record);
    EXPECT_EQ(delayedSink.Wire(), record);

    // After a stop the caller sends them itself.
    pool.Stop();
    ASSERT_EQ(gathered->Post(record.data(), 10, 0, error, need), ClientSendBuffer::kAccepted);
    wake = {gathered};
    pool.Submit(wake, true);
    EXPECT_EQ(gatheredSink.Wire().size(), 2 * record.size());
}
