#include <platform/Event.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>

using platform::Event;
using WaitResult = platform::Event::WaitResult;
using namespace std::chrono_literals;

namespace {

bool PollsReadable(const Event& e) {
    pollfd p{e.Fd(), POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

// Waits (bounded) for a condition that another thread brings about.
template <class Pred> bool Eventually(Pred pred, std::chrono::milliseconds limit = 5s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

} // namespace

TEST(EventTest, ManualResetStaysSignaledUntilReset) {
    Event e(true, false);
    ASSERT_TRUE(e.IsValid());
    EXPECT_EQ(e.Wait(0), WaitResult::TimedOut);
    EXPECT_TRUE(e.Set());
    EXPECT_TRUE(e.Set());
    EXPECT_EQ(e.Wait(0), WaitResult::Signaled);
    EXPECT_EQ(e.Wait(0), WaitResult::Signaled);
    EXPECT_TRUE(e.IsSet());
    EXPECT_TRUE(e.Reset());
    EXPECT_FALSE(e.IsSet());
    EXPECT_EQ(e.Wait(0), WaitResult::TimedOut);
    EXPECT_TRUE(e.Reset()); // resetting a clear event is fine
}

// A Set that finds the event set costs no system call; whatever order Sets and Resets of several
// threads took, the event must end as the last one left it, never stuck set or clear.
TEST(EventTest, ManualResetFollowsItsLastSetOrResetUnderRaces) {
    Event initial(true, true);
    EXPECT_TRUE(initial.Reset());
    EXPECT_FALSE(PollsReadable(initial));
    EXPECT_TRUE(initial.Set());
    EXPECT_TRUE(PollsReadable(initial));

    // Rounds of one Set racing one Reset, each followed by a Set that must signal.
    Event e(true, false);
    std::atomic<int> round{0};
    std::atomic<int> setDone{0};
    std::thread setter([&] {
        for (int r = 1; r <= 2000; ++r) {
            while (round.load() < r) {
            }
            e.Set();
            setDone = r;
        }
    });
    int stuck = 0;
    for (int r = 1; r <= 2000; ++r) {
        e.Set();
        round = r;
        e.Reset();
        while (setDone.load() < r) {
        }
        e.Set();
        if (e.Wait(0) != WaitResult::Signaled || !PollsReadable(e))
            ++stuck;
        e.Reset();
        if (e.IsSet() || PollsReadable(e))
            ++stuck;
    }
    setter.join();
    EXPECT_EQ(stuck, 0);
}

TEST(EventTest, AutoResetIsConsumedByOneWait) {
    Event e(false, false);
    e.Set();
    e.Set(); // an event is set or not: two Sets are one signal
    EXPECT_TRUE(e.IsSet());
    EXPECT_TRUE(e.IsSet()); // looking does not consume
    EXPECT_EQ(e.Wait(0), WaitResult::Signaled);
    EXPECT_EQ(e.Wait(0), WaitResult::TimedOut);
    e.Set();
    e.Reset();
    EXPECT_EQ(e.Wait(0), WaitResult::TimedOut);
}

TEST(EventTest, InitialStateIsHonoured) {
    Event manual(true, true);
    EXPECT_EQ(manual.Wait(0), WaitResult::Signaled);
    EXPECT_EQ(manual.Wait(0), WaitResult::Signaled);
    Event automatic(false, true);
    EXPECT_EQ(automatic.Wait(0), WaitResult::Signaled);
    EXPECT_EQ(automatic.Wait(0), WaitResult::TimedOut);
    Event defaults;
    EXPECT_TRUE(defaults.IsManualReset());
    EXPECT_FALSE(defaults.IsSet());
}

TEST(EventTest, TimedWaitTimesOutNotBeforeItsTime) {
    Event e(true, false);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(e.Wait(60), WaitResult::TimedOut);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, 55ms);
    EXPECT_LT(elapsed, 10s);

    Event a(false, false), b(true, false);
    EXPECT_EQ(Event::WaitAny({&a, &b}, 30), Event::kTimedOut);
    EXPECT_EQ(Event::WaitAny({&a, &b}, 0), Event::kTimedOut);
}

TEST(EventTest, InfiniteWaitEndsWhenAnotherThreadSets) {
    for (bool manual : {true, false}) {
        Event e(manual, false);
        std::atomic<bool> woke{false};
        std::thread waiter([&] {
            EXPECT_EQ(e.Wait(Event::kInfinite), WaitResult::Signaled);
            woke = true;
        });
        std::this_thread::sleep_for(20ms);
        EXPECT_FALSE(woke);
        e.Set();
        waiter.join();
        EXPECT_TRUE(woke);
        // The waiter consumed an auto-reset event; a manual one stays set.
        EXPECT_EQ(e.IsSet(), manual);
    }
}

TEST(EventTest, WaitAnyReturnsLowestSignaledIndexAndConsumesOnlyIt) {
    Event first(false, false), second(false, false), manual(true, false);
    std::vector<Event*> all{&first, &second, &manual};

    second.Set();
    manual.Set();
    EXPECT_EQ(Event::WaitAny(all, 0), 1);
    EXPECT_FALSE(second.IsSet());
    EXPECT_TRUE(manual.IsSet());
    EXPECT_FALSE(first.IsSet());

    first.Set();
    second.Set();
    EXPECT_EQ(Event::WaitAny(all, 0), 0);
    EXPECT_FALSE(first.IsSet());
    EXPECT_TRUE(second.IsSet()); // not the one that ended the wait: left alone
    EXPECT_EQ(Event::WaitAny(all, 0), 1);

    // Only the manual event is left, and waiting on it does not clear it.
    EXPECT_EQ(Event::WaitAny(all, 0), 2);
    EXPECT_EQ(Event::WaitAny(all, 0), 2);
    manual.Reset();
    EXPECT_EQ(Event::WaitAny(all, 0), Event::kTimedOut);
}

TEST(EventTest, WaitAnyRefusesBadArguments) {
    Event e(true, true);
    EXPECT_EQ(Event::WaitAny({}, 0), Event::kFailed);
    EXPECT_EQ(Event::WaitAny({&e, nullptr}, 0), Event::kFailed);
    // Duplicates are harmless.
    Event a(false, true);
    EXPECT_EQ(Event::WaitAny({&a, &a}, 0), 0);
    EXPECT_EQ(Event::WaitAny({&a, &a}, 0), Event::kTimedOut);
}

TEST(EventTest, TwoWaitersOneSetWakesExactlyOne) {
    Event e(false, false);
    std::atomic<int> woken{0};
    auto wait = [&] {
        EXPECT_EQ(e.Wait(Event::kInfinite), WaitResult::Signaled);
        ++woken;
    };
    std::thread one(wait), two(wait);
    std::this_thread::sleep_for(30ms);
    e.Set();
    EXPECT_TRUE(Eventually([&] { return woken == 1; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(woken, 1);
    e.Set();
    if (!Eventually([&] { return woken == 2; })) {
        ADD_FAILURE() << "the second Set woke nobody";
        e.Set(); // let a stuck waiter go rather than hang
        e.Set();
    }
    one.join();
    two.join();
    EXPECT_FALSE(e.IsSet());
}

TEST(EventTest, EachSetOfAnAutoEventWakesOneOfManyWaiters) {
    Event work(false, false), quit(true, false);
    std::atomic<int> taken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 6; ++i) {
        waiters.emplace_back([&] {
            while (Event::WaitAny({&quit, &work}, Event::kInfinite) == 1) {
                ++taken;
            }
        });
    }
    for (int round = 1; round <= 200; ++round) {
        work.Set();
        if (!Eventually([&] { return taken >= round; }) || taken != round) {
            ADD_FAILURE() << "round " << round << ": " << taken << " wakes";
            break;
        }
    }
    quit.Set();
    for (auto& t : waiters) {
        t.join();
    }
    EXPECT_EQ(taken, 200);
}

TEST(EventTest, DescriptorPollsReadableWhileSignaled) {
    Event manual(true, false);
    EXPECT_FALSE(PollsReadable(manual));
    manual.Set();
    EXPECT_TRUE(PollsReadable(manual));
    EXPECT_TRUE(PollsReadable(manual));
    manual.Reset();
    EXPECT_FALSE(PollsReadable(manual));

    Event automatic(false, false);
    automatic.Set();
    EXPECT_TRUE(PollsReadable(automatic));
    EXPECT_TRUE(PollsReadable(automatic)); // polling does not take it
    EXPECT_EQ(automatic.Wait(0), WaitResult::Signaled);
    EXPECT_FALSE(PollsReadable(automatic));
}

TEST(EventTest, DescriptorWakesAPollBasedReader) {
    Event wake(false, false);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::atomic<int> woken{-1};
    std::thread reader([&] {
        pollfd set[2] = {{fds[0], POLLIN, 0}, {wake.Fd(), POLLIN, 0}};
        if (::poll(set, 2, 10000) > 0 && (set[1].revents & POLLIN) != 0) {
            woken = wake.Wait(0) == WaitResult::Signaled ? 1 : 0;
        }
    });
    std::this_thread::sleep_for(20ms);
    wake.Set();
    reader.join();
    EXPECT_EQ(woken, 1);
    ::close(fds[0]);
    ::close(fds[1]);
}
