// The comparison relays carry every record to every client, whole and in order, however the
// switch's writes cut them.

#include <bench/BaselineRelay.h>
#include <bench/BenchEvent.h>
#include <bench/ClientFleet.h>

#include <testsupport/TestSwitch.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

using namespace bench;

namespace {

std::vector<std::uint8_t> Frames(std::uint64_t count) {
    std::vector<std::uint8_t> bytes;
    for (std::uint64_t s = 0; s < count; ++s) {
        const std::vector<std::uint8_t> body = MakeEventBody({s, NowNs()});
        bytes.push_back(static_cast<std::uint8_t>(body.size() >> 8));
        bytes.push_back(static_cast<std::uint8_t>(body.size() & 0xFF));
        bytes.insert(bytes.end(), body.begin(), body.end());
    }
    return bytes;
}

class BaselineRelayTest : public testing::TestWithParam<BaselineRelay::Mode> {};

} // namespace

TEST_P(BaselineRelayTest, EveryClientGetsEveryRecordOnceWholeAndInOrder) {
    constexpr int kClients = 7; // not a multiple of the parallel relay's threads
    constexpr std::uint64_t kRecords = 3000;
    testsupport::TestSwitch sw;
    ASSERT_TRUE(sw.IsListening());
    BaselineRelay relay(GetParam());
    std::string error;
    ASSERT_TRUE(relay.Start(sw.Host(), sw.Port(), kClients, error)) << error;
    ASSERT_TRUE(sw.WaitForConnection(5000));
    ClientFleet fleet;
    ASSERT_TRUE(fleet.Join(relay.Port(), kClients, -1, false, error)) << error;
    ASSERT_TRUE(relay.WaitAccepted(10000));

    fleet.BeginPhase(0, kRecords, 2);
    // Cuts that fall inside records, and reads that bring many.
    const std::vector<std::uint8_t> bytes = Frames(kRecords);
    for (std::size_t at = 0, step = 1; at < bytes.size(); at += step, step = step * 7 % 997 + 1)
        ASSERT_TRUE(sw.SendRaw(bytes.data() + at, std::min(step, bytes.size() - at)));
    ASSERT_TRUE(
        fleet.WaitUntil([&] { return fleet.MinReceived() == kRecords; }, std::chrono::seconds(20)));
    fleet.EndPhase();
    const PhaseStats s = fleet.Stats(kRecords);
    EXPECT_EQ(s.lost, 0u);
    EXPECT_EQ(s.duplicates, 0u);
    EXPECT_EQ(s.damaged, 0u);
    EXPECT_EQ(s.outOfOrder, 0u);
    EXPECT_EQ(s.latency.Count(), kRecords * kClients);
    EXPECT_GT(relay.CpuSeconds(), 0.0);
    fleet.CloseAll();
    relay.Stop();
}

INSTANTIATE_TEST_SUITE_P(Modes, BaselineRelayTest,
                         testing::Values(BaselineRelay::Mode::Batching,
                                         BaselineRelay::Mode::Parallel),
                         [](const auto& info) {
                             return info.param == BaselineRelay::Mode::Batching ? "Batching"
                                                                                : "Parallel";
                         });
