#include <platform/UiThread.h>

#include <testsupport/TestApp.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <utility>
#include <vector>

using platform::IsUiThread;
using platform::PostToUiThread;
using testsupport::SpinUntil;

namespace {

TEST(UiThread, CallsFromWorkersRunOnTheUiThreadInPostingOrder) {
    testsupport::App();
    EXPECT_TRUE(IsUiThread());

    constexpr int kThreads = 4;
    constexpr int kCalls = 200;
    std::vector<std::pair<int, int>> ran; // touched on the UI thread only
    std::atomic<int> offUiThread{0};
    std::atomic<int> workerSawUi{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&, t] {
            if (IsUiThread()) {
                ++workerSawUi;
            }
            for (int i = 0; i < kCalls; ++i) {
                EXPECT_TRUE(PostToUiThread([&, t, i] {
                    if (!IsUiThread()) {
                        ++offUiThread;
                    }
                    ran.emplace_back(t, i);
                }));
            }
        });
    }
    for (auto& w : workers) {
        w.join();
    }
    ASSERT_TRUE(SpinUntil([&] { return ran.size() == size_t{kThreads * kCalls}; }));
    EXPECT_EQ(offUiThread, 0);
    EXPECT_EQ(workerSawUi, 0);

    std::vector<int> next(kThreads, 0);
    for (const auto& [t, i] : ran) {
        EXPECT_EQ(i, next[static_cast<size_t>(t)]) << "thread " << t;
        next[static_cast<size_t>(t)] = i + 1;
    }
}

TEST(UiThread, PostFromTheUiThreadIsQueuedNotRunInPlace) {
    testsupport::App();
    std::vector<int> order;
    ASSERT_TRUE(PostToUiThread([&] { order.push_back(1); }));
    ASSERT_TRUE(PostToUiThread([&] { order.push_back(2); }));
    order.push_back(0);
    ASSERT_TRUE(SpinUntil([&] { return order.size() == 3; }));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
}

TEST(UiThread, AnEmptyCallIsRefused) {
    testsupport::App();
    EXPECT_FALSE(PostToUiThread(std::function<void()>()));
}

} // namespace
