// The comparison relays carry every record to every client, whole and in order, however the
// switch's writes cut them.

#include <bench/BaselineRelay.h>
#include <bench/BenchEvent.h>
#include <bench/ClientFleet.h>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

using namespace bench;

namespace {

// One connection's worth of switch: it listens, takes the relay and writes what it is given.
class Switch {
public:
    Switch() {
        m_Listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_Listen, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
            ::listen(m_Listen, 1) == 0 &&
            ::getsockname(m_Listen, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            m_Port = ntohs(address.sin_port);
    }
    ~Switch() {
        if (m_Link >= 0)
            ::close(m_Link);
        ::close(m_Listen);
    }
    int Port() const { return m_Port; }
    bool Accept() {
        m_Link = ::accept4(m_Listen, nullptr, nullptr, SOCK_CLOEXEC);
        return m_Link >= 0;
    }
    bool Write(const std::uint8_t* data, std::size_t size) {
        return ::send(m_Link, data, size, MSG_NOSIGNAL) == static_cast<ssize_t>(size);
    }

private:
    int m_Listen = -1;
    int m_Link = -1;
    int m_Port = 0;
};

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
    Switch sw;
    ASSERT_GT(sw.Port(), 0);
    BaselineRelay relay(GetParam());
    std::string error;
    ASSERT_TRUE(relay.Start("127.0.0.1", sw.Port(), kClients, error)) << error;
    ASSERT_TRUE(sw.Accept());
    ClientFleet fleet;
    ASSERT_TRUE(fleet.Join(relay.Port(), kClients, -1, false, error)) << error;
    ASSERT_TRUE(relay.WaitAccepted(10000));

    fleet.BeginPhase(0, kRecords, 2);
    // Cuts that fall inside records, and reads that bring many.
    const std::vector<std::uint8_t> bytes = Frames(kRecords);
    for (std::size_t at = 0, step = 1; at < bytes.size(); at += step, step = step * 7 % 997 + 1)
        ASSERT_TRUE(sw.Write(bytes.data() + at, std::min(step, bytes.size() - at)));
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
