#include <engine/LockedStringQueue.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

using namespace engine;

TEST(LockedStringQueueTest, KeepsOrderAndEmptiesCleanly) {
    LockedStringQueue queue;
    EXPECT_EQ(queue.RemoveHead(), "");
    queue.AddTail("one");
    queue.AddTail(std::string("two"));
    queue.AddTail("");
    queue.AddTail("three");
    EXPECT_EQ(queue.GetCount(), 4u);

    queue.Lock();
    EXPECT_EQ(queue.RemoveHead(), "one");
    EXPECT_EQ(queue.RemoveHead(), "two");
    EXPECT_EQ(queue.RemoveHead(), "");
    EXPECT_EQ(queue.GetCount(), 1u);
    queue.Unlock();

    queue.RemoveAll();
    EXPECT_TRUE(queue.IsEmpty());
    EXPECT_EQ(queue.RemoveHead(), "");
}

// Whether an AddTail on another thread got through within a while. The positive case only ever
// waits for the thread, so this never asserts on speed.
static bool AddTailGetsThrough(LockedStringQueue& queue, std::thread& worker,
                               std::atomic<bool>& done, bool unlockOnWorkerFirst) {
    worker = std::thread([&queue, &done, unlockOnWorkerFirst] {
        if (unlockOnWorkerFirst)
            queue.Unlock(); // holds nothing: must not release the main thread's lock
        queue.AddTail("from worker");
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return done.load();
}

TEST(LockedStringQueueTest, ExplicitLockHoldsOffOtherThreads) {
    for (bool strayUnlock : {false, true}) {
        LockedStringQueue queue;
        std::atomic<bool> done{false};
        std::thread worker;
        queue.Lock();
        EXPECT_FALSE(AddTailGetsThrough(queue, worker, done, strayUnlock)) << strayUnlock;
        EXPECT_EQ(queue.GetCount(), 0u);
        queue.Unlock();
        worker.join();
        EXPECT_TRUE(done.load());
        EXPECT_EQ(queue.RemoveHead(), "from worker");
    }
}

TEST(LockedStringQueueTest, ManyProducersOneConsumerLoseNothing) {
    constexpr int kProducers = 8;
    constexpr int kEach = 2000;
    LockedStringQueue queue;
    std::atomic<int> finished{0};
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&queue, &finished, p] {
            for (int i = 0; i < kEach; ++i)
                queue.AddTail(std::to_string(p) + ":" + std::to_string(i));
            ++finished;
        });
    }

    std::vector<int> next(kProducers, 0);
    int received = 0;
    bool inOrder = true;
    while (received < kProducers * kEach) {
        queue.Lock();
        while (queue.GetCount() > 0) {
            const std::string text = queue.RemoveHead();
            const auto colon = text.find(':');
            const int p = std::stoi(text.substr(0, colon));
            const int i = std::stoi(text.substr(colon + 1));
            inOrder = inOrder && i == next[p];
            next[p] = i + 1;
            ++received;
        }
        queue.Unlock();
        if (finished.load() < kProducers)
            std::this_thread::yield();
    }
    for (auto& producer : producers)
        producer.join();
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(received, kProducers * kEach);
    EXPECT_TRUE(queue.IsEmpty());
}

TEST(LockedStringQueueTest, TakeAllMovesEveryEntryInOrderWhileProducersAdd) {
    constexpr int kProducers = 4;
    constexpr int kEach = 3000;
    LockedStringQueue queue;
    const auto at = std::chrono::system_clock::now();
    queue.AddTail(LockedStringQueue::Entry{"first", 3, at});
    queue.AddTail("untimed");
    std::vector<LockedStringQueue::Entry> taken;
    ASSERT_EQ(queue.TakeAll(taken), 2u);
    EXPECT_EQ(taken[0].text, "first");
    EXPECT_EQ(taken[0].level, 3u);
    EXPECT_EQ(taken[0].at, at);
    EXPECT_EQ(taken[1].text, "untimed");
    EXPECT_FALSE(taken[1].at) << "a text added without a time has none";
    EXPECT_TRUE(queue.IsEmpty());
    taken.clear();

    std::atomic<int> finished{0};
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&queue, &finished, p] {
            for (int i = 0; i < kEach; ++i)
                queue.AddTail(LockedStringQueue::Entry{
                    std::to_string(p) + ":" + std::to_string(i), static_cast<unsigned>(p), {}});
            ++finished;
        });
    }
    while (finished.load() < kProducers || !queue.IsEmpty()) {
        const std::size_t before = taken.size();
        const std::size_t moved = queue.TakeAll(taken);
        EXPECT_EQ(moved, taken.size() - before);
    }
    for (auto& producer : producers)
        producer.join();

    ASSERT_EQ(taken.size(), static_cast<std::size_t>(kProducers * kEach));
    std::vector<int> next(kProducers, 0);
    for (const auto& entry : taken) {
        const auto colon = entry.text.find(':');
        const int p = std::stoi(entry.text.substr(0, colon));
        ASSERT_EQ(entry.level, static_cast<unsigned>(p));
        EXPECT_EQ(std::stoi(entry.text.substr(colon + 1)), next[p]);
        next[p] += 1;
    }
}
