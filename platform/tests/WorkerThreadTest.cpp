#include <platform/WorkerThread.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

using platform::Event;
using platform::WorkerThread;
using namespace std::chrono_literals;

TEST(WorkerThreadTest, RunsUntilAskedToStopThenReportsItsExitCode) {
    WorkerThread worker;
    Event started(true, false);
    EXPECT_FALSE(worker.IsRunning());
    ASSERT_TRUE(worker.Start([&](Event& stop) {
        started.Set();
        return stop.Wait(Event::kInfinite) == Event::WaitResult::Signaled ? 7 : 1;
    }));
    EXPECT_TRUE(worker.HasStarted());
    ASSERT_EQ(started.Wait(10000), Event::WaitResult::Signaled);
    EXPECT_TRUE(worker.IsRunning());
    EXPECT_FALSE(worker.ExitCode().has_value());
    EXPECT_FALSE(worker.Join(30)); // still waiting for its stop
    EXPECT_TRUE(worker.IsRunning());

    worker.RequestStop();
    EXPECT_TRUE(worker.StopRequested());
    worker.Join();
    EXPECT_FALSE(worker.IsRunning());
    ASSERT_TRUE(worker.ExitCode().has_value());
    EXPECT_EQ(*worker.ExitCode(), 7);
    worker.Join(); // joining again is harmless
    EXPECT_TRUE(worker.Join(0));
}

TEST(WorkerThreadTest, BodyThatEndsByItselfIsNoLongerRunning) {
    WorkerThread worker;
    ASSERT_TRUE(worker.Start([](Event&) { return -3; }));
    EXPECT_TRUE(worker.Join(10000));
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_EQ(worker.ExitCode(), -3);
    EXPECT_FALSE(worker.StopRequested());
}

TEST(WorkerThreadTest, StartsOnceAndNeedsABody) {
    WorkerThread empty;
    EXPECT_FALSE(empty.Start(nullptr));
    EXPECT_FALSE(empty.HasStarted());

    WorkerThread worker;
    ASSERT_TRUE(worker.Start([](Event&) { return 1; }));
    EXPECT_FALSE(worker.Start([](Event&) { return 2; }));
    worker.Join();
    EXPECT_FALSE(worker.Start([](Event&) { return 3; }));
    EXPECT_EQ(worker.ExitCode(), 1);
}

TEST(WorkerThreadTest, NeverStartedObjectJoinsAtOnce) {
    WorkerThread worker;
    worker.Join();
    EXPECT_TRUE(worker.Join(0));
    EXPECT_FALSE(worker.ExitCode().has_value());
    EXPECT_FALSE(worker.IsRunning());
}

TEST(WorkerThreadTest, StopRequestedBeforeStartIsSeenAtOnce) {
    WorkerThread worker;
    worker.RequestStop();
    ASSERT_TRUE(
        worker.Start([](Event& stop) { return stop.Wait(0) == Event::WaitResult::Signaled; }));
    worker.Join();
    EXPECT_EQ(worker.ExitCode(), 1);
}

TEST(WorkerThreadTest, DestructorStopsAndJoins) {
    std::atomic<bool> finished{false};
    {
        WorkerThread worker;
        ASSERT_TRUE(worker.Start([&](Event& stop) {
            stop.Wait(Event::kInfinite);
            std::this_thread::sleep_for(20ms); // the destructor must wait for this
            finished = true;
            return 0;
        }));
    }
    EXPECT_TRUE(finished);
}

TEST(WorkerThreadTest, BodyKnowsItsOwnThreadAndCannotJoinItself) {
    WorkerThread worker;
    std::atomic<int> inside{-1};
    std::atomic<bool> selfJoinTimedOut{false};
    ASSERT_TRUE(worker.Start([&](Event&) {
        inside = worker.IsCurrentThread() ? 1 : 0;
        worker.Join(); // must return rather than deadlock
        selfJoinTimedOut = !worker.Join(10);
        return 0;
    }));
    worker.Join();
    EXPECT_EQ(inside, 1);
    EXPECT_TRUE(selfJoinTimedOut);
    EXPECT_FALSE(worker.IsCurrentThread());
}

TEST(WorkerThreadTest, BodyMayDestroyItsOwnObject) {
    // What the body uses outlives this test, and the body's closure (holding the last
    // reference) goes only when the detached thread has finished with it.
    struct Shared {
        Event done{true, false};
        std::atomic<bool> stopSeen{false};
    };
    auto shared = std::make_shared<Shared>();
    const std::weak_ptr<Shared> watch = shared;
    auto* worker = new WorkerThread;
    ASSERT_TRUE(worker->Start([worker, shared](Event& stop) {
        delete worker; // requests the stop and lets the thread go
        shared->stopSeen = stop.IsSet();
        shared->done.Set();
        return 0;
    }));
    ASSERT_EQ(shared->done.Wait(10000), Event::WaitResult::Signaled);
    EXPECT_TRUE(shared->stopSeen);
    shared.reset();
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!watch.expired() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    EXPECT_TRUE(watch.expired()) << "the detached thread kept its body";
}
