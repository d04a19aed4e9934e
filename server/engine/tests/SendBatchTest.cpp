#include <engine/ClientSendBuffer.h>
#include <engine/ClientSendPool.h>
#include <engine/SendBatch.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using namespace engine;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Every pool test declares its sinks and buffers before the pool: a pool that a failed assertion
// leaves with work still sends to them while it is destroyed.

// A socket that takes at most `room` bytes in all (unlimited when negative) and notes where the
// bytes of every gathered send came from.
class PieceSink : public ClientSendSink {
public:
    int SendBytes(const std::uint8_t* data, int length, int& error) override {
        const Piece piece{data, static_cast<std::size_t>(length)};
        return SendPieces(&piece, 1, error);
    }
    int SendPieces(const Piece* pieces, int count, int& error) override {
        std::lock_guard<std::mutex> guard(lock);
        ++sends;
        threads.push_back(std::this_thread::get_id());
        mostPieces = std::max(mostPieces, count);
        int taken = 0;
        for (int i = 0; i < count; ++i) {
            sources.push_back(pieces[i].data);
            std::size_t n = pieces[i].length;
            if (room >= 0)
                n = std::min(n, static_cast<std::size_t>(room - taken));
            wire.insert(wire.end(), pieces[i].data, pieces[i].data + n);
            taken += static_cast<int>(n);
        }
        if (taken == 0 && count > 0) {
            error = EWOULDBLOCK;
            return -1;
        }
        if (room >= 0)
            room -= taken;
        return taken;
    }
    void RequestWritable() override { ++writableRequests; }
    void SendFailed(int, const std::array<int, kTagCount>&) override {}

    Bytes Wire() {
        std::lock_guard<std::mutex> guard(lock);
        return wire;
    }
    // Whether some send read its bytes straight from the batch.
    bool ReadFrom(const SendBatch& batch) {
        std::lock_guard<std::mutex> guard(lock);
        return std::any_of(sources.begin(), sources.end(), [&](const std::uint8_t* p) {
            return p >= batch.Data() && p < batch.Data() + batch.Size();
        });
    }

    std::mutex lock;
    Bytes wire;
    std::vector<const std::uint8_t*> sources;
    std::vector<std::thread::id> threads;
    int room = -1;
    int sends = 0;
    int mostPieces = 0;
    int writableRequests = 0;
};

// A framed record: two length bytes, then `size` bytes from `seed` on.
Bytes Record(std::uint8_t seed, std::size_t size) {
    Bytes record{static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size)};
    for (std::size_t i = 0; i < size; ++i)
        record.push_back(static_cast<std::uint8_t>(seed + i * 3));
    return record;
}

// Records copied into one batch, as the event handler fills it.
struct Filled {
    std::shared_ptr<SendBatch> batch;
    std::vector<ClientSendBuffer::Record> records;
    Bytes bytes; // all of them, in order

    explicit Filled(const std::vector<Bytes>& frames) {
        std::size_t size = 0;
        for (const Bytes& frame : frames)
            size += frame.size();
        batch = std::make_shared<SendBatch>(size);
        for (const Bytes& frame : frames) {
            records.push_back({batch->Data() + batch->Size(), static_cast<int>(frame.size())});
            batch->Append(frame.data(), frame.size());
            bytes.insert(bytes.end(), frame.begin(), frame.end());
        }
    }
    // Posts the records at `picks` (all when empty); the bytes that were accepted.
    Bytes PostTo(ClientSendBuffer& buffer, const std::vector<std::size_t>& picks = {}) const {
        std::vector<ClientSendBuffer::Record> chosen;
        if (picks.empty())
            chosen = records;
        for (const std::size_t i : picks)
            chosen.push_back(records[i]);
        std::vector<int> errors(chosen.size(), -1);
        ClientSendBuffer::Need need;
        buffer.PostAll(batch, chosen.data(), chosen.size(), 1, errors.data(), need);
        Bytes accepted;
        for (std::size_t i = 0; i < chosen.size(); ++i)
            if (errors[i] == 0)
                accepted.insert(accepted.end(), chosen[i].data, chosen[i].data + chosen[i].length);
        return accepted;
    }
};

// Until `done` holds, or a bound no healthy run comes near; whether it holds.
template <typename Done> bool Eventually(Done done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done() && std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
    return done();
}

std::vector<Bytes> Frames(std::uint8_t seed, std::size_t count, std::size_t size) {
    std::vector<Bytes> frames;
    for (std::size_t i = 0; i < count; ++i)
        frames.push_back(Record(static_cast<std::uint8_t>(seed + i), size + i % 7));
    return frames;
}

} // namespace

TEST(SendBatch, OneCopyIsSharedByEveryClientAndLivesUntilTheSlowestHasSentIt) {
    constexpr int kClients = 12;
    std::vector<std::unique_ptr<PieceSink>> sinks;
    std::vector<std::unique_ptr<ClientSendBuffer>> buffers;
    for (int i = 0; i < kClients; ++i) {
        sinks.push_back(std::make_unique<PieceSink>());
        buffers.push_back(std::make_unique<ClientSendBuffer>(*sinks.back()));
    }
    sinks[0]->room = 0; // never reads
    sinks[1]->room = 0; // reads later
    std::weak_ptr<SendBatch> watch;
    Bytes expected;
    {
        const Filled filled(Frames(1, 40, 30));
        expected = filled.bytes;
        watch = filled.batch;
        for (const auto& buffer : buffers)
            ASSERT_EQ(filled.PostTo(*buffer), expected);
        // One reference a client for all forty records, besides the filler's own.
        EXPECT_EQ(filled.batch.use_count(), kClients + 1);
    }
    for (const auto& buffer : buffers)
        buffer->Flush();
    for (int i = 2; i < kClients; ++i) {
        EXPECT_EQ(sinks[i]->Wire(), expected);
        EXPECT_EQ(sinks[i]->sends, 1) << "all forty in one send";
        EXPECT_EQ(buffers[i]->QueuedBytes(), 0u);
    }
    ASSERT_FALSE(watch.expired()) << "the stalled clients still need it";
    EXPECT_TRUE(sinks[2]->ReadFrom(*watch.lock())) << "sent from the batch, not from a copy";
    EXPECT_EQ(watch.use_count(), 2);

    // A client that goes while it refers to the batch lets go of it; the other keeps it whole.
    buffers[0]->Detach();
    EXPECT_EQ(watch.use_count(), 1);
    sinks[1]->room = -1;
    buffers[1]->OnWritable();
    EXPECT_EQ(sinks[1]->Wire(), expected);
    EXPECT_TRUE(watch.expired());
    EXPECT_TRUE(sinks[0]->Wire().empty());
}

TEST(SendBatch, AClientTakingASmallPartOfABatchGetsACopyOfThatPart) {
    const Filled filled(Frames(5, 100, 40));
    PieceSink few, many;
    ClientSendBuffer fewBuffer(few), manyBuffer(many);
    std::vector<std::size_t> two{3, 70}, most;
    for (std::size_t i = 0; i < 100; i += 2)
        most.push_back(i);
    const Bytes fewBytes = filled.PostTo(fewBuffer, two);
    EXPECT_EQ(filled.batch.use_count(), 1) << "the client with two of a hundred refers to none";
    const Bytes manyBytes = filled.PostTo(manyBuffer, most);
    EXPECT_GT(filled.batch.use_count(), 1) << "the client with half of it refers to it";
    fewBuffer.Flush();
    manyBuffer.Flush();
    EXPECT_EQ(few.Wire(), fewBytes);
    EXPECT_EQ(many.Wire(), manyBytes);
    EXPECT_FALSE(few.ReadFrom(*filled.batch));
    EXPECT_TRUE(many.ReadFrom(*filled.batch));
    EXPECT_EQ(many.sends, 1) << "its fifty records apart in the batch still go in one send";

    // What counts is what the client took: a nearly full queue that takes two records of a whole
    // batch copies them rather than hold on to all of it.
    PieceSink stalled;
    stalled.room = 0;
    ClientSendBuffer full(stalled);
    const Filled filler(Frames(9, 1, ClientSendBuffer::kByteLimit - 2 - 90));
    ASSERT_EQ(filler.PostTo(full), filler.bytes);
    const Bytes fitted = filled.PostTo(full);
    EXPECT_EQ(fitted.size(),
              static_cast<std::size_t>(filled.records[0].length + filled.records[1].length));
    EXPECT_EQ(filled.batch.use_count(), 1) << "the others have sent theirs";
    full.Flush();
    stalled.room = -1;
    full.OnWritable();
    Bytes expected = filler.bytes;
    expected.insert(expected.end(), fitted.begin(), fitted.end());
    EXPECT_EQ(stalled.Wire(), expected);
}

TEST(SendBatch, ACutAnywhereAcrossBatchesHoldsOnlyTheTornTailAndKeepsTheOrder) {
    const std::vector<Bytes> firstFrames = Frames(1, 5, 20), secondFrames = Frames(60, 5, 33);
    const Filled first(firstFrames), second(secondFrames);
    Bytes all = first.bytes;
    all.insert(all.end(), second.bytes.begin(), second.bytes.end());
    // Every cut from inside the first batch's last record to inside the second's first.
    const std::size_t boundary = first.bytes.size();
    const std::size_t lastFirst = firstFrames.back().size();
    for (std::size_t cut = boundary - lastFirst + 1; cut < boundary + secondFrames[0].size();
         ++cut) {
        SCOPED_TRACE(cut);
        PieceSink sink;
        ClientSendBuffer buffer(sink);
        ASSERT_EQ(first.PostTo(buffer), first.bytes);
        ASSERT_EQ(second.PostTo(buffer), second.bytes);
        sink.room = static_cast<int>(cut);
        buffer.Flush();
        // The record the cut fell in, if any, is the only one begun.
        std::size_t begun = 0, end = 0;
        for (const auto& frame : {firstFrames, secondFrames})
            for (const Bytes& record : frame) {
                end += record.size();
                if (cut < end && cut > end - record.size())
                    begun = end - cut;
            }
        EXPECT_EQ(buffer.TornBytes(), begun);
        EXPECT_EQ(buffer.QueuedBytes(), all.size() - cut);
        int error = 0;
        ClientSendBuffer::Need need;
        const Bytes later = Record(9, 12);
        EXPECT_EQ(buffer.Post(later.data(), static_cast<int>(later.size()), 0, error, need),
                  ClientSendBuffer::kRefused);
        sink.room = -1;
        buffer.OnWritable();
        EXPECT_EQ(sink.Wire(), all);
        EXPECT_EQ(buffer.QueuedBytes(), 0u);
    }
}

TEST(SendBatch, RepliesKeepTheirPlaceAmongEventsFromBatches) {
    PieceSink sink;
    ClientSendBuffer buffer(sink);
    Bytes expected;
    std::vector<std::unique_ptr<Filled>> batches;
    ClientSendBuffer::Need need;
    int error = 0;
    for (std::uint8_t round = 0; round < 30; ++round) {
        batches.push_back(std::make_unique<Filled>(Frames(round, 1 + round % 4, 10 + round)));
        const Bytes events = batches.back()->PostTo(buffer);
        ASSERT_EQ(events, batches.back()->bytes);
        expected.insert(expected.end(), events.begin(), events.end());
        const Bytes reply = Record(static_cast<std::uint8_t>(200 + round), 5 + round);
        ASSERT_EQ(buffer.Post(reply.data(), static_cast<int>(reply.size()), 0, error, need),
                  ClientSendBuffer::kAccepted);
        expected.insert(expected.end(), reply.begin(), reply.end());
        // Now and then a send takes some of it, ending anywhere.
        if (round % 7 == 3) {
            sink.room = static_cast<int>(sink.Wire().size() + 17);
            buffer.Flush();
            sink.room = -1;
            buffer.OnWritable();
        }
    }
    batches.clear(); // the buffer keeps what it still needs
    buffer.Flush();
    EXPECT_EQ(sink.Wire(), expected);
    EXPECT_LE(sink.mostPieces, ClientSendSink::kMaxPieces);
}

TEST(SendBatch, MoreRunsThanOneSendGathersGoInSeveralSendsInOrder) {
    // Every other record of many batches: far more separate runs than one send takes.
    PieceSink sink;
    ClientSendBuffer buffer(sink);
    Bytes expected;
    std::vector<std::unique_ptr<Filled>> batches;
    for (std::size_t i = 0; i < 3 * ClientSendSink::kMaxPieces; ++i) {
        batches.push_back(std::make_unique<Filled>(Frames(static_cast<std::uint8_t>(i), 2, 8)));
        const Bytes taken = batches.back()->PostTo(buffer, {0});
        ASSERT_FALSE(taken.empty());
        expected.insert(expected.end(), taken.begin(), taken.end());
    }
    buffer.Flush();
    EXPECT_EQ(sink.Wire(), expected);
    EXPECT_EQ(sink.mostPieces, ClientSendSink::kMaxPieces);
    EXPECT_GE(sink.sends, 3);
}

TEST(SendBatch, TheBoundsCountTheClientsRecordsNotTheBatchesTheyLieIn) {
    // A stalled client refers to one large batch: its queue fills to the byte limit of its own
    // records and refuses the rest, as it would with copies.
    const Filled filled(Frames(3, 1200, 390));
    PieceSink sink;
    sink.room = 0;
    ClientSendBuffer buffer(sink);
    const Bytes taken = filled.PostTo(buffer);
    EXPECT_LT(taken.size(), filled.bytes.size());
    EXPECT_LE(buffer.QueuedBytes(), ClientSendBuffer::kByteLimit);
    EXPECT_GT(buffer.QueuedBytes(), ClientSendBuffer::kByteLimit - 400);
    EXPECT_EQ(Bytes(filled.bytes.begin(), filled.bytes.begin() + static_cast<long>(taken.size())),
              taken)
        << "the first ones, up to the limit";
    buffer.Flush();
    sink.room = -1;
    buffer.OnWritable();
    EXPECT_EQ(sink.Wire(), taken);
}

TEST(ClientSendPoolNow, AFewClientsAreSentOnTheCallingThreadAndAManyAllGetTheirShare) {
    const Filled filled(Frames(7, 3, 25));
    std::vector<std::unique_ptr<PieceSink>> fewSinks, sinks;
    std::vector<std::shared_ptr<ClientSendBuffer>> few, buffers;
    ClientSendPool pool(3);
    SendWakeList wake;
    for (std::size_t i = 0; i < ClientSendPool::kCallerShare; ++i) {
        fewSinks.push_back(std::make_unique<PieceSink>());
        few.push_back(std::make_shared<ClientSendBuffer>(*fewSinks.back()));
        ASSERT_EQ(filled.PostTo(*few.back()), filled.bytes);
        wake.push_back(few.back());
    }
    pool.SendNow(wake);
    EXPECT_TRUE(wake.empty());
    for (const auto& sink : fewSinks) {
        ASSERT_EQ(sink->Wire(), filled.bytes) << "sent before SendNow returned";
        EXPECT_EQ(sink->threads, std::vector<std::thread::id>{std::this_thread::get_id()});
    }
    // Many: every one is sent, whichever thread does it, and nothing is sent twice.
    for (std::size_t i = 0; i < 20 * ClientSendPool::kCallerShare; ++i) {
        sinks.push_back(std::make_unique<PieceSink>());
        buffers.push_back(std::make_shared<ClientSendBuffer>(*sinks.back()));
        ASSERT_EQ(filled.PostTo(*buffers.back()), filled.bytes);
        wake.push_back(buffers.back());
    }
    pool.SendNow(wake);
    pool.Stop(); // waits for the threads that helped
    for (const auto& sink : sinks)
        ASSERT_EQ(sink->Wire(), filled.bytes);
}

// A socket whose first send does not return until it is let go.
class HeldSink : public PieceSink {
public:
    int SendPieces(const Piece* pieces, int count, int& error) override {
        {
            std::unique_lock<std::mutex> guard(gate);
            entered = true;
            changed.notify_all();
            changed.wait(guard, [this] { return open; });
        }
        return PieceSink::SendPieces(pieces, count, error);
    }
    void WaitEntered() {
        std::unique_lock<std::mutex> guard(gate);
        changed.wait(guard, [this] { return entered; });
    }
    void Open() {
        std::lock_guard<std::mutex> guard(gate);
        open = true;
        changed.notify_all();
    }

private:
    std::mutex gate;
    std::condition_variable changed;
    bool entered = false;
    bool open = false;
};

// A buffer with the records posted whose first send will be held.
struct HeldBuffer {
    explicit HeldBuffer(const Filled& filled) : posted(filled.PostTo(*buffer)) {}
    HeldSink sink;
    std::shared_ptr<ClientSendBuffer> buffer = std::make_shared<ClientSendBuffer>(sink);
    Bytes posted;
};

TEST(ClientSendPool, AThreadHeldUpInASendHoldsUpNoBufferBeyondItsTurn) {
    const Filled filled(Frames(4, 3, 18));
    HeldBuffer held(filled);
    HeldSink& heldSink = held.sink;
    constexpr std::size_t kOthers = 40;
    std::vector<std::unique_ptr<PieceSink>> sinks;
    ClientSendPool pool(2);
    ASSERT_EQ(held.posted, filled.bytes);
    SendWakeList wake{held.buffer};
    for (std::size_t i = 0; i < kOthers; ++i) {
        sinks.push_back(std::make_unique<PieceSink>());
        wake.push_back(std::make_shared<ClientSendBuffer>(*sinks.back()));
        ASSERT_EQ(filled.PostTo(*wake.back()), filled.bytes);
    }
    std::vector<std::shared_ptr<ClientSendBuffer>> buffers(wake.begin(), wake.end());
    pool.Submit(wake, true);
    heldSink.WaitEntered();

    // Half of them share the held thread; all but the rest of its turn go through the other.
    const auto sentCount = [&] {
        return static_cast<std::size_t>(std::count_if(
            sinks.begin(), sinks.end(), [&](auto& sink) { return sink->Wire() == filled.bytes; }));
    };
    const std::size_t wanted = kOthers - (ClientSendPool::kTurnSize - 1);
    EXPECT_TRUE(Eventually([&] { return sentCount() >= wanted; }))
        << "while one thread is held up in a send";

    heldSink.Open();
    pool.Stop();
    EXPECT_EQ(heldSink.Wire(), filled.bytes);
    EXPECT_EQ(sentCount(), kOthers);
}

TEST(SendBatchGathering, EventsForAClientSentToAMomentAgoWaitAndAQuietClientsGoAtOnce) {
    const Filled filled(Frames(3, 2, 20));
    PieceSink sink;
    ClientSendBuffer buffer(sink);
    std::vector<int> errors(filled.records.size());
    ClientSendBuffer::Need need;
    buffer.PostAll(filled.batch, filled.records.data(), filled.records.size(), 1, errors.data(),
                   need);
    EXPECT_EQ(need, ClientSendBuffer::kSender) << "nothing was sent to it before";

    const auto sent = std::chrono::steady_clock::now();
    buffer.FlushOnce();
    buffer.PostAll(filled.batch, filled.records.data(), filled.records.size(), 1, errors.data(),
                   need);
    const bool recent = std::chrono::steady_clock::now() - sent < ClientSendBuffer::kRecentSend;
    if (recent) {
        EXPECT_EQ(need, ClientSendBuffer::kSenderSoon);
    }
    buffer.FlushOnce();

    // A reply never waits, however recent the last send.
    int error = 0;
    const Bytes reply = Record(9, 4);
    ASSERT_EQ(buffer.Post(reply.data(), static_cast<int>(reply.size()), 0, error, need),
              ClientSendBuffer::kAccepted);
    EXPECT_EQ(need, ClientSendBuffer::kSender);
    buffer.FlushOnce();
    const auto lastSent = std::chrono::steady_clock::now();

    std::this_thread::sleep_until(lastSent + 2 * ClientSendBuffer::kRecentSend);
    buffer.PostAll(filled.batch, filled.records.data(), filled.records.size(), 1, errors.data(),
                   need);
    buffer.FlushOnce();
    EXPECT_EQ(need, ClientSendBuffer::kSender) << "quiet again: the event goes at once";

    Bytes expected = filled.bytes;
    expected.insert(expected.end(), filled.bytes.begin(), filled.bytes.end());
    expected.insert(expected.end(), reply.begin(), reply.end());
    expected.insert(expected.end(), filled.bytes.begin(), filled.bytes.end());
    EXPECT_EQ(sink.Wire(), expected);
}

TEST(SendBatchGathering, BuffersWaitingOutTheDelayAreAllSentWhileTheThreadsSleep) {
    // Each new entry falls due after those already waiting, so no thread is woken for it; the
    // one timed for the first takes the rest as they fall due.
    const Filled filled(Frames(5, 3, 30));
    std::vector<std::unique_ptr<PieceSink>> sinks;
    std::vector<std::shared_ptr<ClientSendBuffer>> buffers;
    ClientSendPool pool(2, std::chrono::milliseconds(2));
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 5; ++i) {
            sinks.push_back(std::make_unique<PieceSink>());
            buffers.push_back(std::make_shared<ClientSendBuffer>(*sinks.back()));
            ASSERT_EQ(filled.PostTo(*buffers.back()), filled.bytes);
            SendWakeList later{buffers.back()};
            pool.Submit(later);
            EXPECT_TRUE(later.empty());
        }
        // Until every one has arrived: the pool is left alone meanwhile, so a lost wake-up
        // would keep a buffer waiting for ever.
        for (const auto& sink : sinks) {
            Eventually([&] { return !sink->Wire().empty(); });
            ASSERT_EQ(sink->Wire(), filled.bytes);
        }
    }
}

TEST(SendBatchGathering, OnlyALargeDeliveryTakesTheWaitingBuffersAlong) {
    const Filled filled(Frames(8, 2, 12));
    PieceSink waitingSink, smallSink, largeSink;
    auto waiting = std::make_shared<ClientSendBuffer>(waitingSink);
    auto small = std::make_shared<ClientSendBuffer>(smallSink);
    auto large = std::make_shared<ClientSendBuffer>(largeSink);
    // A delay no test waits out: whatever arrives was sent without it.
    ClientSendPool pool(2, std::chrono::hours(1));
    ASSERT_EQ(filled.PostTo(*waiting), filled.bytes);
    SendWakeList later{waiting};
    pool.Submit(later);

    // The thread woken for the waiting one may send it instead of the caller.
    const auto arrives = [&](PieceSink& sink) {
        Eventually([&] { return !sink.Wire().empty(); });
        return sink.Wire();
    };
    ASSERT_EQ(filled.PostTo(*small), filled.bytes);
    SendWakeList now{small};
    pool.SendNow(now);
    EXPECT_EQ(arrives(smallSink), filled.bytes);
    EXPECT_TRUE(waitingSink.Wire().empty()) << "a small delivery leaves the waiting ones waiting";

    ASSERT_EQ(filled.PostTo(*large), filled.bytes);
    now = {large};
    pool.SendNow(now, true);
    EXPECT_EQ(arrives(largeSink), filled.bytes);
    EXPECT_EQ(arrives(waitingSink), filled.bytes);
}

namespace {

// Posts one record at a time into a buffer, keeping what it was given, for the gathering cases.
class GatheringClient {
public:
    GatheringClient() : one(Frames(7, 1, 14)) {}

    ClientSendBuffer::Need Post(const Filled& filled) {
        std::vector<int> errors(filled.records.size());
        ClientSendBuffer::Need need;
        buffer->PostAll(filled.batch, filled.records.data(), filled.records.size(), 1,
                        errors.data(), need);
        given.insert(given.end(), filled.bytes.begin(), filled.bytes.end());
        return need;
    }
    // Until a post finds the last send recent enough to wait: the machine may stall the test
    // between a send and the next post.
    bool PostUntilWaiting() {
        for (int attempt = 0; attempt < 1000; ++attempt) {
            buffer->FlushOnce();
            if (Post(one) == ClientSendBuffer::kSenderSoon)
                return true;
        }
        return false;
    }
    bool Arrived() {
        return Eventually([&] { return sink.Wire() == given; });
    }

    const Filled one;
    PieceSink sink;
    std::shared_ptr<ClientSendBuffer> buffer = std::make_shared<ClientSendBuffer>(sink);
    Bytes given;
};

} // namespace

TEST(SendBatchGathering, AClientWaitingOutTheDelayGoesAtOnceWhenEnoughHasGathered) {
    GatheringClient client, other;
    // A delay no test waits out: whatever arrives was sent without it.
    ClientSendPool pool(2, std::chrono::hours(1));
    ASSERT_TRUE(client.PostUntilWaiting());
    SendWakeList list{client.buffer};
    pool.Submit(list);

    for (std::size_t queued = 1; queued + 1 < ClientSendBuffer::kEnoughToSend; ++queued)
        EXPECT_EQ(client.Post(client.one), ClientSendBuffer::kNothing) << "record " << queued;
    ASSERT_EQ(client.Post(client.one), ClientSendBuffer::kSender) << "enough has gathered";
    list = {client.buffer};
    pool.SendNow(list);
    EXPECT_TRUE(client.Arrived());

    // As many at once never wait, however recent the last send.
    const Filled enough(Frames(3, ClientSendBuffer::kEnoughToSend, 10));
    client.buffer->FlushOnce();
    EXPECT_EQ(client.Post(enough), ClientSendBuffer::kSender);
    list = {client.buffer};
    pool.SendNow(list);
    EXPECT_TRUE(client.Arrived());

    // The spent entries are dropped, but the client's next wait is as good as any: a large
    // delivery to another client takes it along.
    ASSERT_TRUE(client.PostUntilWaiting());
    list = {client.buffer};
    pool.Submit(list);
    other.Post(enough);
    list = {other.buffer};
    pool.SendNow(list, true);
    EXPECT_TRUE(other.Arrived());
    EXPECT_TRUE(client.Arrived());
}

namespace {

using Fanout = ClientSendPool::Fanout;

// A fanout of the filled records as the event handler hands it over: every target takes them
// all, unless it is given picks, which are added behind them.
struct FanoutBuilder {
    explicit FanoutBuilder(const Filled& filled, bool gathered = false)
        : filled(filled), fanout(std::make_shared<Fanout>()) {
        fanout->batch = filled.batch;
        fanout->records = filled.records;
        fanout->events = filled.records.size();
        fanout->gathered = gathered;
    }
    // The bytes the target is given.
    Bytes Add(const std::shared_ptr<ClientSendBuffer>& buffer,
              const std::vector<std::size_t>& picks = {}) {
        auto first = std::uint32_t{0};
        auto count = static_cast<std::uint32_t>(filled.records.size());
        Bytes given = filled.bytes;
        if (!picks.empty()) {
            first = static_cast<std::uint32_t>(fanout->records.size());
            count = static_cast<std::uint32_t>(picks.size());
            given.clear();
            for (const std::size_t i : picks) {
                const ClientSendBuffer::Record& record = filled.records[i];
                fanout->records.push_back(record);
                given.insert(given.end(), record.data, record.data + record.length);
            }
        }
        targets.push_back({buffer, first, count, 1});
        return given;
    }
    // As many new clients that take every event; their sinks.
    std::vector<std::unique_ptr<PieceSink>> AddClients(int count) {
        std::vector<std::unique_ptr<PieceSink>> sinks;
        for (int i = 0; i < count; ++i) {
            sinks.push_back(std::make_unique<PieceSink>());
            Add(std::make_shared<ClientSendBuffer>(*sinks.back()));
        }
        return sinks;
    }
    void FanOn(ClientSendPool& pool) {
        pool.Fan(fanout, targets);
        EXPECT_TRUE(targets.empty());
    }

    const Filled& filled;
    std::shared_ptr<Fanout> fanout;
    ClientSendPool::FanoutTargets targets;
};

// Records what the buffer tells it of its posts.
class ReportingSink : public PieceSink {
public:
    void RecordsPosted(int tag, const int* errors, std::size_t count) override {
        std::lock_guard<std::mutex> guard(lock);
        for (std::size_t i = 0; i < count; ++i)
            reports.push_back({tag, errors[i]});
    }
    bool WantsTakenReport() const override { return wantsTaken; }
    std::vector<std::pair<int, int>> Reports() {
        std::lock_guard<std::mutex> guard(lock);
        return reports;
    }

    std::atomic<bool> wantsTaken{false};
    std::vector<std::pair<int, int>> reports; // tag, error
};

} // namespace

TEST(SendBatchFanout, EachClientGetsItsPartOfEveryFanoutInOrderAndDirectPostsAfterThem) {
    constexpr std::size_t kClients = 30;
    std::vector<std::unique_ptr<PieceSink>> sinks;
    std::vector<std::shared_ptr<ClientSendBuffer>> buffers;
    std::vector<Bytes> expected(kClients);
    for (std::size_t i = 0; i < kClients; ++i) {
        sinks.push_back(std::make_unique<PieceSink>());
        buffers.push_back(std::make_shared<ClientSendBuffer>(*sinks.back()));
    }
    ClientSendPool pool(3);
    // Large and small fanouts: the small ones wait out the gathering delay of a share queued
    // a moment ago, the large ones go at once; every third client takes only some events.
    std::vector<std::unique_ptr<Filled>> batches;
    for (std::size_t round = 0; round < 40; ++round) {
        batches.push_back(std::make_unique<Filled>(
            Frames(static_cast<std::uint8_t>(round), 1 + round % 10, 12 + round % 5)));
        const Filled& filled = *batches.back();
        FanoutBuilder fanout(filled, filled.records.size() >= 8);
        for (std::size_t i = 0; i < kClients; ++i) {
            std::vector<std::size_t> picks;
            if (i % 3 == 0)
                for (std::size_t r = i % 2; r < filled.records.size(); r += 2)
                    picks.push_back(r);
            if (i % 3 == 0 && picks.empty())
                continue;
            const Bytes given = fanout.Add(buffers[i], picks);
            expected[i].insert(expected[i].end(), given.begin(), given.end());
        }
        fanout.FanOn(pool);
    }
    // Once nothing is left to queue, a direct post goes behind all of it.
    ASSERT_TRUE(Eventually([&] { return !pool.Fanning(); }));
    const Filled last(Frames(99, 2, 9));
    SendWakeList wake;
    for (std::size_t i = 0; i < kClients; ++i) {
        ASSERT_EQ(last.PostTo(*buffers[i]), last.bytes);
        expected[i].insert(expected[i].end(), last.bytes.begin(), last.bytes.end());
        wake.push_back(buffers[i]);
    }
    pool.SendNow(wake, true);
    for (std::size_t i = 0; i < kClients; ++i) {
        EXPECT_TRUE(Eventually([&] { return sinks[i]->Wire().size() >= expected[i].size(); }));
        EXPECT_EQ(sinks[i]->Wire(), expected[i]) << "client " << i;
    }
}

namespace {

// A client that fanouts are given to, keeping what it was given.
struct FannedClient : GatheringClient {
    void Fan(ClientSendPool& pool, const Filled& filled, bool gathered = false) {
        FanoutBuilder fanout(filled, gathered);
        const Bytes part = fanout.Add(buffer);
        given.insert(given.end(), part.begin(), part.end());
        fanout.FanOn(pool);
    }
};

} // namespace

TEST(SendBatchFanout, AShareQueuedAMomentAgoWaitsForMoreUntilEnoughHasGathered) {
    FannedClient client;
    const Filled one(Frames(4, 1, 16));
    // A delay no test waits out: whatever arrives was sent without it.
    ClientSendPool pool(1, std::chrono::hours(1));
    client.Fan(pool, one);
    EXPECT_TRUE(client.Arrived()) << "a share never queued before goes at once";
    for (std::size_t i = 1; i < ClientSendBuffer::kEnoughToSend; ++i)
        client.Fan(pool, one);
    EXPECT_TRUE(pool.Fanning()) << "a few events wait for more";
    EXPECT_EQ(client.sink.Wire(), one.bytes);
    client.Fan(pool, one);
    EXPECT_TRUE(client.Arrived()) << "enough for a send has gathered";

    client.Fan(pool, one);
    EXPECT_TRUE(pool.Fanning());
    client.Fan(pool, one, true);
    EXPECT_TRUE(client.Arrived()) << "a gathered fanout takes the waiting one along";
    EXPECT_TRUE(Eventually([&] { return !pool.Fanning(); }));
}

TEST(SendBatchFanout, AFanoutWaitingOutTheDelayGoesWhenItEndsWithNothingMoreComing) {
    FannedClient client;
    const Filled one(Frames(8, 1, 13));
    ClientSendPool pool(1, std::chrono::milliseconds(2));
    // Left alone meanwhile: a wait without a timer would keep it for ever.
    for (int round = 0; round < 3; ++round) {
        client.Fan(pool, one);
        EXPECT_TRUE(client.Arrived()) << "round " << round;
    }
}

TEST(SendBatchFanout, WhatBecameOfTheRecordsIsReportedToTheSinkButNotOnceItIsDetached) {
    const Filled filled(Frames(6, 3, 20));
    ReportingSink fullSink, takenSink, goneSink;
    fullSink.room = 0; // the first send finds the socket full; the rest is refused
    takenSink.wantsTaken = true;
    auto full = std::make_shared<ClientSendBuffer>(fullSink);
    auto taken = std::make_shared<ClientSendBuffer>(takenSink);
    auto gone = std::make_shared<ClientSendBuffer>(goneSink);
    ClientSendPool pool(2);
    gone->Detach();
    for (int round = 0; round < 2; ++round) {
        FanoutBuilder fanout(filled, true);
        fanout.Add(full);
        fanout.Add(taken);
        fanout.Add(gone);
        fanout.FanOn(pool);
        ASSERT_TRUE(Eventually([&] { return !pool.Fanning(); }));
        ASSERT_TRUE(Eventually([&] { return fullSink.writableRequests > 0; }));
    }
    const auto reports = fullSink.Reports();
    ASSERT_EQ(reports.size(), filled.records.size()) << "only the refused records are reported";
    for (const auto& [tag, error] : reports) {
        EXPECT_EQ(tag, 1);
        EXPECT_EQ(error, EWOULDBLOCK);
    }
    const std::vector<std::pair<int, int>> allTaken(2 * filled.records.size(), {1, 0});
    EXPECT_EQ(takenSink.Reports(), allTaken);
    Bytes twice = filled.bytes;
    twice.insert(twice.end(), filled.bytes.begin(), filled.bytes.end());
    EXPECT_TRUE(Eventually([&] { return takenSink.Wire() == twice; }));
    EXPECT_TRUE(goneSink.Reports().empty());
    EXPECT_TRUE(goneSink.Wire().empty());
}

TEST(SendBatchFanout, TheThreadsQueueAndSendEveryShareAndEachClientIsSentToOnce) {
    const Filled filled(Frames(5, 8, 14));
    FanoutBuilder fanout(filled, true);
    const auto sinks = fanout.AddClients(12);
    ClientSendPool pool(3);
    fanout.FanOn(pool);
    for (const auto& sink : sinks)
        EXPECT_TRUE(Eventually([&] { return sink->Wire() == filled.bytes; }));
    pool.Stop();
    const auto here = std::this_thread::get_id();
    for (const auto& sink : sinks) {
        std::lock_guard<std::mutex> guard(sink->lock);
        EXPECT_EQ(sink->sends, 1) << "each client sent to once";
        EXPECT_NE(sink->threads, std::vector<std::thread::id>{here}) << "not on the deliverer";
    }
}

TEST(SendBatchFanout, AHeldUpShareIsQueuedAndSentByAFreeThread) {
    const Filled filled(Frames(2, 4, 15));
    HeldBuffer held(filled);
    HeldSink& heldSink = held.sink;
    FanoutBuilder fanout(filled, true);
    const auto sinks = fanout.AddClients(10);
    ClientSendPool pool(2);
    ASSERT_EQ(held.posted, filled.bytes);
    SendWakeList wake{held.buffer};
    pool.Submit(wake, true);
    heldSink.WaitEntered();

    // New buffers go to the shares in turn: half of them to the held thread's.
    fanout.FanOn(pool);
    for (const auto& sink : sinks)
        EXPECT_TRUE(Eventually([&] { return sink->Wire() == filled.bytes; }))
            << "while one thread is held up in a send";
    heldSink.Open();
    pool.Stop(); // the held send ends
    EXPECT_EQ(heldSink.Wire(), filled.bytes);
}

TEST(SendBatchFanout, AtAStopWhatIsNotQueuedYetGoesOnTheStoppingThreadAndAfterItOnTheCaller) {
    PieceSink sink;
    auto buffer = std::make_shared<ClientSendBuffer>(sink);
    ClientSendPool pool(1, std::chrono::hours(1));
    const Filled first(Frames(1, 1, 10)), second(Frames(2, 1, 11)), third(Frames(3, 2, 12));
    FanoutBuilder a(first), b(second), c(third);
    a.Add(buffer);
    a.FanOn(pool);
    ASSERT_TRUE(Eventually([&] { return sink.Wire() == first.bytes; }));
    b.Add(buffer);
    b.FanOn(pool); // waits out the delay
    pool.Stop();
    Bytes expected = first.bytes;
    expected.insert(expected.end(), second.bytes.begin(), second.bytes.end());
    EXPECT_EQ(sink.Wire(), expected);
    EXPECT_FALSE(pool.Fanning());

    c.Add(buffer);
    c.FanOn(pool);
    expected.insert(expected.end(), third.bytes.begin(), third.bytes.end());
    EXPECT_EQ(sink.Wire(), expected) << "sent before Fan returned";
}
