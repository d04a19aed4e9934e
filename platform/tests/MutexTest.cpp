#include <platform/Mutex.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <thread>
#include <vector>

using platform::LockGuard;
using platform::Mutex;
using platform::UniqueLock;

namespace {

// Tries the mutex from a thread that holds nothing (the analysis cannot see into the thread).
bool FreeForAnotherThread(Mutex& mutex) NO_THREAD_SAFETY_ANALYSIS {
    bool got = false;
    std::thread other([&]() NO_THREAD_SAFETY_ANALYSIS {
        got = mutex.try_lock();
        if (got) {
            mutex.unlock();
        }
    });
    other.join();
    return got;
}

} // namespace

TEST(MutexTest, HoldersExcludeOtherThreadsForTheirOwnSpanOnly) {
    Mutex mutex;
    {
        LockGuard guard(mutex);
        EXPECT_FALSE(FreeForAnotherThread(mutex));
    }
    EXPECT_TRUE(FreeForAnotherThread(mutex));

    {
        UniqueLock lock(mutex);
        EXPECT_FALSE(FreeForAnotherThread(mutex));
        lock.unlock();
        EXPECT_TRUE(FreeForAnotherThread(mutex));
        lock.lock();
        EXPECT_FALSE(FreeForAnotherThread(mutex));
    }
    EXPECT_TRUE(FreeForAnotherThread(mutex));

    {
        UniqueLock lock(mutex);
        lock.unlock(); // its end must not release the mutex a second time
    }
    EXPECT_TRUE(FreeForAnotherThread(mutex));
}

TEST(MutexTest, ConditionVariableWaitsOnTheUniqueLock) {
    Mutex mutex;
    std::condition_variable changed;
    int stage = 0;
    long sum = 0;
    std::vector<std::thread> adders;
    for (int t = 0; t < 4; ++t) {
        adders.emplace_back([&] {
            UniqueLock lock(mutex);
            changed.wait(lock.Native(), [&] { return stage == 1; });
            for (int i = 0; i < 1000; ++i) {
                lock.unlock();
                lock.lock();
                ++sum;
            }
        });
    }
    {
        LockGuard guard(mutex);
        stage = 1;
    }
    changed.notify_all();
    for (auto& t : adders) {
        t.join();
    }
    EXPECT_EQ(sum, 4000);
}
