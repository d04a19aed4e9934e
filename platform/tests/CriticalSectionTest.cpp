#include <platform/CriticalSection.h>

#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

using platform::CriticalSection;
using platform::CriticalSectionLock;

namespace {

bool TryFromAnotherThread(CriticalSection& section) {
    bool got = false;
    std::thread other([&] {
        got = section.TryLock();
        if (got) {
            section.Unlock();
        }
    });
    other.join();
    return got;
}

} // namespace

TEST(CriticalSectionTest, HolderMayTakeItAgainAndMustReleaseAsOften) {
    CriticalSection section;
    section.Lock();
    section.Lock();
    EXPECT_TRUE(section.TryLock());
    {
        CriticalSectionLock nested(section);
        std::lock_guard guard(section);
    }
    section.Unlock();
    section.Unlock();
    EXPECT_FALSE(TryFromAnotherThread(section)); // still held once
    section.Unlock();
    EXPECT_TRUE(TryFromAnotherThread(section));
}

TEST(CriticalSectionTest, ExcludesOtherThreads) {
    CriticalSection section;
    {
        CriticalSectionLock hold(section);
        EXPECT_FALSE(TryFromAnotherThread(section));
    }
    EXPECT_TRUE(TryFromAnotherThread(section));

    std::unique_lock lock(section, std::try_to_lock);
    EXPECT_TRUE(lock.owns_lock());
    EXPECT_FALSE(TryFromAnotherThread(section));
}

TEST(CriticalSectionTest, GuardsSharedDataUnderNestedLocking) {
    CriticalSection section, other;
    long counter = 0;
    std::vector<long> log;
    auto append = [&](long value) {
        CriticalSectionLock again(section); // re-entered from within the outer lock
        log.push_back(value);
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 5000; ++i) {
                std::scoped_lock both(section, other);
                const long next = counter + 1;
                append(next);
                counter = next;
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(counter, 20000);
    ASSERT_EQ(log.size(), 20000u);
    for (size_t i = 0; i < log.size(); ++i) {
        ASSERT_EQ(log[i], static_cast<long>(i + 1));
    }
}
