#include <engine/ClientSendBuffer.h>
#include <engine/ClientSendPool.h>
#include <engine/SendBatch.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using namespace engine;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Takes everything, noting the bytes and the threads that sent them.
class WireSink : public ClientSendSink {
public:
    int SendBytes(const std::uint8_t* data, int length, int& error) override {
        std::lock_guard<std::mutex> guard(m_Lock);
        error = 0;
        m_Wire.insert(m_Wire.end(), data, data + length);
        m_Threads.push_back(std::this_thread::get_id());
        return length;
    }
    void RequestWritable() override {}
    void SendFailed(int, const std::array<int, kTagCount>&) override {}
    Bytes Wire() {
        std::lock_guard<std::mutex> guard(m_Lock);
        return m_Wire;
    }
    std::vector<std::thread::id> Threads() {
        std::lock_guard<std::mutex> guard(m_Lock);
        return m_Threads;
    }

private:
    std::mutex m_Lock;
    Bytes m_Wire;
    std::vector<std::thread::id> m_Threads;
};

// A client: its sink and buffer, declared before any pool.
struct Client {
    WireSink sink;
    std::shared_ptr<ClientSendBuffer> buffer = std::make_shared<ClientSendBuffer>(sink);
};

// `count` framed records in one batch.
struct Events {
    explicit Events(std::uint8_t seed, std::size_t count) {
        batch = std::make_shared<SendBatch>(count * 12);
        for (std::size_t i = 0; i < count; ++i) {
            const Bytes frame{0, 10, seed, static_cast<std::uint8_t>(i), 1, 2, 3, 4, 5, 6, 7, 8};
            records.push_back({batch->Data() + batch->Size(), static_cast<int>(frame.size())});
            batch->Append(frame.data(), frame.size());
            bytes.insert(bytes.end(), frame.begin(), frame.end());
        }
    }
    void PostTo(Client& client) const {
        std::vector<int> errors(records.size());
        ClientSendBuffer::Need need;
        client.buffer->PostAll(batch, records.data(), records.size(), 1, errors.data(), need);
    }
    std::shared_ptr<ClientSendPool::Fanout> FanoutTo(std::vector<Client>& clients,
                                                     ClientSendPool::FanoutTargets& targets) const {
        auto fanout = std::make_shared<ClientSendPool::Fanout>();
        fanout->batch = batch;
        fanout->records = records;
        fanout->events = records.size();
        for (Client& client : clients)
            targets.push_back({client.buffer, 0, static_cast<std::uint32_t>(records.size()), 1});
        return fanout;
    }
    std::shared_ptr<SendBatch> batch;
    std::vector<ClientSendBuffer::Record> records;
    Bytes bytes;
};

template <typename Done> bool Eventually(Done done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done() && std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
    return done();
}

// A delay no test waits out: whatever arrives was sent without it.
constexpr std::chrono::hours kNoTest{1};

} // namespace

TEST(ClientSendPoolHandover, EachListGoesItsOwnWayAndAllAreLeftEmpty) {
    std::vector<Client> fanned(20);
    Client now, later, help;
    const Events events(1, 3);
    ClientSendPool pool(2, kNoTest);
    ClientSendPool::Handover handover;
    handover.fanout = events.FanoutTo(fanned, handover.targets);
    for (Client* client : {&now, &later, &help})
        events.PostTo(*client);
    handover.now.push_back(now.buffer);
    handover.later.push_back(later.buffer);
    handover.help.push_back(help.buffer);

    pool.HandOver(handover);
    EXPECT_FALSE(handover.fanout);
    EXPECT_TRUE(handover.targets.empty() && handover.now.empty() && handover.later.empty() &&
                handover.help.empty());
    EXPECT_EQ(help.sink.Wire(), events.bytes) << "sent in full before HandOver returned";
    EXPECT_EQ(help.sink.Threads(), std::vector<std::thread::id>{std::this_thread::get_id()});
    EXPECT_TRUE(later.sink.Wire().empty()) << "it waits out the delay";
    EXPECT_TRUE(Eventually([&] { return now.sink.Wire() == events.bytes; }));
    for (Client& client : fanned)
        EXPECT_TRUE(Eventually([&] { return client.sink.Wire() == events.bytes; }));
    pool.Stop();
    EXPECT_EQ(later.sink.Wire(), events.bytes);
}

TEST(ClientSendPoolHandover, OnlyAGatheredHandoverTakesTheWaitingBuffersAlong) {
    Client waiting, first, second;
    const Events events(2, 2);
    ClientSendPool pool(2, kNoTest);
    events.PostTo(waiting);
    SendWakeList wait{waiting.buffer};
    pool.Submit(wait);
    ClientSendPool::Handover handover;
    events.PostTo(first);
    handover.now.push_back(first.buffer);
    pool.HandOver(handover);
    ASSERT_TRUE(Eventually([&] { return first.sink.Wire() == events.bytes; }));
    EXPECT_TRUE(waiting.sink.Wire().empty());

    events.PostTo(second);
    handover.now.push_back(second.buffer);
    handover.gathered = true;
    pool.HandOver(handover);
    EXPECT_TRUE(Eventually([&] { return waiting.sink.Wire() == events.bytes; }));
    EXPECT_TRUE(Eventually([&] { return second.sink.Wire() == events.bytes; }));
}

TEST(ClientSendPoolHandover, AtAStopTheFanoutsOfEveryShareNotQueuedYetGoOnTheStoppingThread) {
    std::vector<Client> clients(6);
    const Events first(3, 2), second(4, 2);
    ClientSendPool pool(3, kNoTest);
    ClientSendPool::FanoutTargets targets;
    pool.Fan(first.FanoutTo(clients, targets), targets);
    for (Client& client : clients)
        ASSERT_TRUE(Eventually([&] { return client.sink.Wire() == first.bytes; }));
    ASSERT_TRUE(Eventually([&] { return !pool.Fanning(); }));
    // Every share was queued a moment ago: this one waits out the delay in each.
    pool.Fan(second.FanoutTo(clients, targets), targets);
    EXPECT_TRUE(pool.Fanning());

    pool.Stop();
    EXPECT_FALSE(pool.Fanning());
    Bytes both = first.bytes;
    both.insert(both.end(), second.bytes.begin(), second.bytes.end());
    for (Client& client : clients) {
        EXPECT_EQ(client.sink.Wire(), both);
        EXPECT_EQ(client.sink.Threads().back(), std::this_thread::get_id());
    }
}
