// Peers that hold the server's resources without using them: many logins at once, clients that
// stop reading, connect storms. The well-behaved peers must still be served.

#include "FaultRig.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <sstream>

namespace {

using namespace fault_test;

// The device list's records (devices and the end record); events the switch sends meanwhile may
// come between them.
std::size_t FrameCount(const RigClient& client) {
    std::size_t count = 0;
    for (const Bytes& frame : client.Stream().Frames())
        count += frame.size() >= 3 && frame[2] == 'A' ? 1 : 0;
    return count;
}

TEST(FaultHostile, TheListsOfConcurrentLoginsGoOutSideBySide) {
    constexpr int kDevices = 40;
    BrovikRig rig(RigOptions{false, kDevices});
    ASSERT_TRUE(rig.Start());
    constexpr int kClients = 8;
    std::vector<std::unique_ptr<RigClient>> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(std::make_unique<RigClient>());
        ASSERT_TRUE(clients.back()->Connect(rig.ClientPort()));
    }
    for (auto& client : clients)
        ASSERT_TRUE(client->Login(1));
    // When the first list is whole, every other is far along: none waited for the one before.
    std::size_t fewest = 0;
    ASSERT_TRUE(WaitFor(
        [&] {
            bool oneWhole = false;
            fewest = kDevices + 1;
            for (auto& client : clients) {
                client->Pump();
                oneWhole = oneWhole || client->HasListEnd();
                fewest = std::min(fewest, FrameCount(*client));
            }
            return oneWhole;
        },
        30000, 1));
    EXPECT_GE(fewest, static_cast<std::size_t>(kDevices / 2));
    for (auto& client : clients) {
        ASSERT_TRUE(client->WaitListEnd(30000));
        EXPECT_EQ(FrameCount(*client), static_cast<std::size_t>(kDevices + 1));
    }
    EXPECT_TRUE(rig.Stop());
}

// The trace of a client's lost records: lines that start a run, and the counts of runs that ended.
struct LossLines {
    int starts = 0;
    int ends = 0;
    unsigned long endedCount = 0;
};

LossLines LossLinesFor(const std::string& trace, unsigned port) {
    const std::string where = "[IP - 127.0.0.1 : " + std::to_string(port) + "]";
    const std::string endText = " Switch Events were lost in a row" + where;
    const std::string prefix = "Client Socket Error. ";
    LossLines lines;
    std::istringstream in(trace);
    std::string line;
    while (std::getline(in, line)) {
        if (line.find("Switch Event can't be delivered" + where) != std::string::npos)
            ++lines.starts;
        const std::size_t end = line.find(endText);
        const std::size_t at = line.find(prefix);
        if (end != std::string::npos && at != std::string::npos) {
            ++lines.ends;
            lines.endedCount += std::stoul(line.substr(at + prefix.size()));
        }
    }
    return lines;
}

TEST(FaultHostile, AClientThatStopsReadingIsTracedPerRunOfLosses) {
    BrovikRig rig;
    // The server's status query every 13 s would put a reply among the losses on a slow run.
    rig.Switch().SetStatusRepliesEnabled(false);
    ASSERT_TRUE(rig.Start());
    RigClient stalled, reading;
    ASSERT_TRUE(stalled.Connect(rig.ClientPort(), 4096));
    ASSERT_TRUE(reading.Connect(rig.ClientPort()));
    ASSERT_TRUE(stalled.Login() && stalled.WaitListEnd(10000));
    ASSERT_TRUE(reading.Login() && reading.WaitListEnd(10000));
    const std::string started =
        "Switch Event can't be delivered[IP - 127.0.0.1 : " + std::to_string(stalled.LocalPort());

    // The stalled client reads nothing until its losses have gone on for a while.
    std::uint16_t sent = 0;
    // The reading client reads all along, and the switch waits for it when it falls behind, so
    // that it stays within its own bound however the server's senders are scheduled.
    auto send = [&](int count) {
        for (int i = 0; i < count; ++i) {
            ASSERT_TRUE(rig.SendEvent(++sent, 300));
            if (i % 64 == 0) {
                reading.Pump();
                if (sent > reading.EventCount() + 256) {
                    ASSERT_TRUE(reading.WaitEvents(sent - 64, 30000));
                }
            }
        }
        reading.Pump();
    };
    while (sent < 60000 && !rig.TraceHas(started))
        send(2000);
    ASSERT_TRUE(rig.TraceHas(started)) << "the stalled client's buffers never filled";
    const std::string ongoing = "Switch Events lost so far in a row[IP - 127.0.0.1 : " +
                                std::to_string(stalled.LocalPort()) + "]";
    ASSERT_TRUE(WaitFor(
        [&] {
            send(50);
            return sent > 65000 || rig.TraceHas(ongoing);
        },
        10000, 10));
    ASSERT_TRUE(rig.TraceHas(ongoing)) << "a lasting run is counted while it lasts";
    // However slowly this machine sent so far: the queue stays full, so all of these are lost.
    send(200);

    // Reading again: an event that reaches it once its queue has room ends the run with its
    // count. Those sent while the queue is still full are lost to the run as well.
    bool through = false;
    for (int tries = 0; tries < 300 && !through; ++tries) {
        ASSERT_TRUE(rig.SendEvent(++sent, 300));
        through = stalled.WaitUntil(
            [&] {
                reading.Pump();
                const auto seqs = stalled.EventSeqs();
                return !seqs.empty() && seqs.back() == sent;
            },
            200);
    }
    ASSERT_TRUE(through);
    const unsigned long lost = sent - stalled.EventSeqs().size();
    ASSERT_GT(lost, 100u);
    LossLines lines;
    ASSERT_TRUE(WaitFor(
        [&] {
            reading.Pump();
            lines = LossLinesFor(rig.TraceText(), stalled.LocalPort());
            return lines.ends > 0 && lines.endedCount + (lines.starts - lines.ends) == lost;
        },
        10000, 50))
        << lines.starts << " runs, " << lines.ends << " ended with " << lines.endedCount << " of "
        << lost << " lost";
    EXPECT_LE(lines.starts, 3) << "a line per run, not per record";
    EXPECT_TRUE(reading.WaitEvents(sent, 30000)) << "the reading client lost nothing";
    EXPECT_TRUE(rig.Stop());
}

TEST(FaultHostile, AConnectBurstIsTakenWithoutRetriedSynsAndARealClientIsServed) {
    BrovikRig rig;
    ASSERT_TRUE(rig.Start());
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(rig.ClientPort()));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    constexpr int kBurst = 500;
    std::vector<int> burst;
    for (int i = 0; i < kBurst; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ASSERT_GE(fd, 0);
        burst.push_back(fd);
        ASSERT_TRUE(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 ||
                    errno == EINPROGRESS);
    }
    RigClient real;
    ASSERT_TRUE(real.Connect(rig.ClientPort()));
    ASSERT_TRUE(real.Login());
    EXPECT_TRUE(real.WaitListEnd(20000));
    // Every connect of the burst was taken by the first SYN: a queue that overflowed would have
    // made the kernel drop some, to be retried a second later.
    int retried = 0;
    for (const int fd : burst) {
        pollfd ready{fd, POLLOUT, 0};
        ASSERT_EQ(::poll(&ready, 1, 20000), 1);
        tcp_info info{};
        socklen_t size = sizeof info;
        ASSERT_EQ(::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size), 0);
        retried += info.tcpi_total_retrans > 0 ? 1 : 0;
    }
    EXPECT_EQ(retried, 0);
    EXPECT_TRUE(WaitFor(
        [&] {
            const std::string trace = rig.TraceText();
            std::size_t count = 0;
            for (std::size_t at = trace.find("[USER] Accepted Client"); at != std::string::npos;
                 at = trace.find("[USER] Accepted Client", at + 1))
                ++count;
            return count >= kBurst + 1;
        },
        20000, 100));
    for (const int fd : burst)
        ::close(fd);
    EXPECT_TRUE(rig.Stop());
}

} // namespace
