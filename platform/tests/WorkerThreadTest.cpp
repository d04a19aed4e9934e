#include <platform/WorkerThread.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
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
    auto* worker = new WorkerThread;
    Event done(true, false);
    std::atomic<bool> stopSeen{false};
    ASSERT_TRUE(worker->Start([worker, &done, &stopSeen](Event& stop) {
        delete worker; // requests the stop and lets the thread go
        stopSeen = stop.IsSet();
        done.Set();
        return 0;
    }));
    EXPECT_EQ(done.Wait(10000), Event::WaitResult::Signaled);
    EXPECT_TRUE(stopSeen);
    std::this_thread::sleep_for(20ms); // let the detached thread finish before the test ends
}
