// How the bench counts what its clients received (losses, duplicates, late and torn records, the
// stalled client's stream), the server's CPU from /proc texts, the load option and targets, and
// the median over alternating rounds.

#include <bench/BenchEvent.h>
#include <bench/BenchOptions.h>
#include <bench/ClientFleet.h>
#include <bench/ProcStat.h>
#include <bench/RelayRounds.h>
#include <bench/RelayTargets.h>
#include <bench/SequenceTracker.h>

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
using Arrival = SequenceTracker::Arrival;

namespace {

std::vector<std::uint8_t> Frames(const std::vector<std::uint64_t>& sequences) {
    std::vector<std::uint8_t> bytes;
    for (const std::uint64_t s : sequences) {
        const std::vector<std::uint8_t> body = MakeEventBody({s, NowNs()});
        bytes.push_back(static_cast<std::uint8_t>(body.size() >> 8));
        bytes.push_back(static_cast<std::uint8_t>(body.size() & 0xFF));
        bytes.insert(bytes.end(), body.begin(), body.end());
    }
    return bytes;
}

// An event whose stamp does not check: the length is right, the content is not.
std::vector<std::uint8_t> TornFrame() {
    std::vector<std::uint8_t> bytes = Frames({99});
    bytes.back() ^= 0x01;
    return bytes;
}

void Append(std::vector<std::uint8_t>& to, const std::vector<std::uint8_t>& more) {
    to.insert(to.end(), more.begin(), more.end());
}

// Until the slowest reading client has had `count` events of the phase; the limit only bounds a
// failure.
bool WaitMinReceived(const ClientFleet& fleet, std::uint64_t count) {
    return fleet.WaitUntil([&] { return fleet.MinReceived() == count; }, std::chrono::seconds(20));
}

// The relay's side of the fleet's connections.
class Relay {
public:
    Relay() {
        m_Listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_Listen, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
            ::listen(m_Listen, 16) == 0 &&
            ::getsockname(m_Listen, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            m_Port = ntohs(address.sin_port);
    }
    ~Relay() {
        for (const int fd : m_Clients)
            ::close(fd);
        ::close(m_Listen);
    }
    int Port() const { return m_Port; }
    // The fleet's clients in the order they joined.
    bool AcceptAll(int count) {
        while (static_cast<int>(m_Clients.size()) < count) {
            const int fd = ::accept4(m_Listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                return false;
            m_Clients.push_back(fd);
        }
        return true;
    }
    bool Send(int client, const std::vector<std::uint8_t>& bytes) {
        return ::send(m_Clients[static_cast<std::size_t>(client)], bytes.data(), bytes.size(),
                      MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }

private:
    int m_Listen = -1;
    int m_Port = 0;
    std::vector<int> m_Clients;
};

} // namespace

TEST(BenchSequenceTracker, DuplicatesAreCountedApartAndNeverHideALoss) {
    SequenceTracker t;
    EXPECT_EQ(t.Take(0), Arrival::New);
    EXPECT_EQ(t.Take(1), Arrival::New);
    EXPECT_EQ(t.Take(1), Arrival::Duplicate);
    EXPECT_EQ(t.Take(3), Arrival::New);
    // Four arrivals for four sent, yet one of them came twice and one never.
    EXPECT_EQ(t.Distinct(), 3u);
    EXPECT_EQ(t.Duplicates(), 1u);
    EXPECT_EQ(t.Lost(4), 1u);
    EXPECT_EQ(t.OutOfOrder(), 0u);

    // The missing one comes late: no longer lost, counted out of order; again, it is a
    // duplicate.
    EXPECT_EQ(t.Take(2), Arrival::Late);
    EXPECT_EQ(t.Take(2), Arrival::Duplicate);
    EXPECT_EQ(t.Lost(4), 0u);
    EXPECT_EQ(t.OutOfOrder(), 1u);
    EXPECT_EQ(t.Duplicates(), 2u);
    EXPECT_EQ(t.Take(0), Arrival::Duplicate);
}

TEST(BenchSequenceTracker, GapsSplitAndCloseAtTheirEdges) {
    SequenceTracker t;
    EXPECT_EQ(t.Take(0), Arrival::New);
    EXPECT_EQ(t.Take(5), Arrival::New); // 1..4 missing
    EXPECT_EQ(t.Take(5), Arrival::Duplicate);
    EXPECT_EQ(t.Take(4), Arrival::Late); // last of the gap
    EXPECT_EQ(t.Take(4), Arrival::Duplicate);
    EXPECT_EQ(t.Take(1), Arrival::Late); // first of the gap
    EXPECT_EQ(t.Take(1), Arrival::Duplicate);
    EXPECT_EQ(t.Lost(6), 2u);            // 2 and 3
    EXPECT_EQ(t.Take(3), Arrival::Late); // the middle
    EXPECT_EQ(t.Take(2), Arrival::Late);
    EXPECT_EQ(t.Take(3), Arrival::Duplicate);
    EXPECT_EQ(t.Lost(6), 0u);
    EXPECT_EQ(t.Duplicates(), 4u);
    EXPECT_EQ(t.OutOfOrder(), 4u);

    // A long run of losses is one gap; a number in its middle still fills it.
    EXPECT_EQ(t.Take(1000000), Arrival::New);
    EXPECT_EQ(t.Lost(1000001), 1000001u - 7u);
    EXPECT_EQ(t.Take(500000), Arrival::Late);
    EXPECT_EQ(t.Take(500000), Arrival::Duplicate);
    EXPECT_EQ(t.Take(499999), Arrival::Late);
    EXPECT_EQ(t.Take(500001), Arrival::Late);
    EXPECT_EQ(t.Lost(1000001), 1000001u - 10u);
}

TEST(BenchSequenceTracker, APhaseStartsWhereItsNumbersStart) {
    SequenceTracker t;
    t.Take(0);
    t.Take(0);
    t.Reset(100);
    EXPECT_EQ(t.Duplicates(), 0u);
    EXPECT_EQ(t.Distinct(), 0u);
    // A straggler of the phase before is out of order, not one of this phase's.
    EXPECT_EQ(t.Take(99), Arrival::BeforeStart);
    EXPECT_EQ(t.Take(100), Arrival::New);
    EXPECT_EQ(t.Take(102), Arrival::New);
    EXPECT_EQ(t.Distinct(), 2u);
    EXPECT_EQ(t.Lost(3), 1u);
    EXPECT_EQ(t.OutOfOrder(), 1u);
    EXPECT_EQ(t.Take(101), Arrival::Late);
    EXPECT_EQ(t.Lost(3), 0u);
}

TEST(BenchClientFleet, PhaseFiguresCountLossesDuplicatesAndTornRecordsApart) {
    Relay relay;
    ASSERT_GT(relay.Port(), 0);
    ClientFleet fleet;
    std::string error;
    ASSERT_TRUE(fleet.Join(relay.Port(), 2, -1, false, error)) << error;
    ASSERT_TRUE(relay.AcceptAll(2));

    fleet.BeginPhase(0, 4, 1);
    // Each client's third distinct event is its last record, so the wait sees both streams whole.
    ASSERT_TRUE(relay.Send(0, Frames({0, 2, 2, 2, 3})));
    std::vector<std::uint8_t> second = Frames({0, 1, 1});
    Append(second, TornFrame());
    Append(second, Frames({3}));
    ASSERT_TRUE(relay.Send(1, second));
    ASSERT_TRUE(WaitMinReceived(fleet, 3));
    fleet.EndPhase();
    PhaseStats s = fleet.Stats(4);
    // Five and five arrivals for four sent, yet each client missed one.
    EXPECT_EQ(s.lost, 2u);
    EXPECT_EQ(s.clientsWithLoss, 2);
    EXPECT_EQ(s.duplicates, 3u);
    EXPECT_EQ(s.clientsWithDuplicates, 2);
    EXPECT_EQ(s.damaged, 1u);
    EXPECT_EQ(s.outOfOrder, 0u);
    EXPECT_EQ(s.minReceived, 3u);
    EXPECT_EQ(s.latency.Count(), 6u); // each event once at each client that had it
    EXPECT_EQ(s.fanOut.Count(), 2u);  // 0 and 3, which both clients had

    // The next phase's numbers go on; a late one of the phase before is out of order.
    fleet.BeginPhase(4, 2, 1);
    ASSERT_TRUE(relay.Send(0, Frames({2, 4, 5})));
    ASSERT_TRUE(relay.Send(1, Frames({4, 5})));
    ASSERT_TRUE(WaitMinReceived(fleet, 2));
    fleet.EndPhase();
    s = fleet.Stats(2);
    EXPECT_EQ(s.lost, 0u);
    EXPECT_EQ(s.duplicates, 0u);
    EXPECT_EQ(s.damaged, 0u);
    EXPECT_EQ(s.outOfOrder, 1u);
    EXPECT_EQ(s.fanOut.Count(), 2u);

    PhaseStats both;
    both.Add(fleet.Stats(2));
    both.Add(fleet.Stats(4)); // as if two more had been sent: two lost at each client
    EXPECT_EQ(both.lost, 4u);
    EXPECT_EQ(both.clientsWithLoss, 2);
    EXPECT_EQ(both.outOfOrder, 2u);
    EXPECT_EQ(both.latency.Count(), 8u);
}

TEST(BenchClientFleet, TheStalledClientIsOneStreamOverEveryPhaseAndOutOfTheFigures) {
    Relay relay;
    ASSERT_GT(relay.Port(), 0);
    ClientFleet fleet;
    std::string error;
    ASSERT_TRUE(fleet.Join(relay.Port(), 2, -1, true, error)) << error;
    ASSERT_TRUE(relay.AcceptAll(2));
    EXPECT_EQ(fleet.ReadingClients(), 1);

    // Stalled: what comes for it waits in its socket, and it holds nobody back.
    fleet.BeginPhase(0, 3, 1);
    ASSERT_TRUE(relay.Send(0, Frames({0, 1})));
    ASSERT_TRUE(relay.Send(1, Frames({0, 1, 2})));
    ASSERT_TRUE(WaitMinReceived(fleet, 3));
    fleet.EndPhase();
    PhaseStats s = fleet.Stats(3);
    EXPECT_EQ(s.lost, 0u);
    EXPECT_EQ(s.latency.Count(), 3u);
    StallReport r = fleet.ResumeStalled(50);
    EXPECT_EQ(r.received, 2u);

    // Reading along: its records still go to its own account, gaps and repeats of it as well,
    // while the phase's figures are the other client's alone.
    fleet.SetStalledReading(true);
    fleet.BeginPhase(3, 2, 1);
    ASSERT_TRUE(relay.Send(0, Frames({3, 4, 4})));
    ASSERT_TRUE(relay.Send(1, Frames({3, 4})));
    ASSERT_TRUE(WaitMinReceived(fleet, 2));
    fleet.EndPhase();
    s = fleet.Stats(2);
    EXPECT_EQ(s.duplicates, 0u);
    EXPECT_EQ(s.latency.Count(), 2u);
    EXPECT_EQ(s.fanOut.Count(), 2u);
    r = fleet.ResumeStalled(50);
    EXPECT_EQ(r.received, 4u); // 0, 1, 3, 4: 2 never came
    EXPECT_EQ(r.duplicates, 1u);
    EXPECT_EQ(r.outOfOrder, 0u);
    EXPECT_EQ(r.damaged, 0u);
    EXPECT_EQ(r.pendingBytes, 0u);
}

TEST(BenchProcStat, CpuSecondsFromTheStatLine) {
    // The name may hold blanks and parentheses; utime 250 and stime 50 ticks.
    const std::string stat = "4242 (Bro vik) (x)) S 1 4242 4242 0 -1 4194560 1234 0 0 0 250 50 0 "
                             "0 20 0 9 0 100 1000000 300\n";
    ASSERT_TRUE(StatCpuSeconds(stat, 100).has_value());
    EXPECT_DOUBLE_EQ(*StatCpuSeconds(stat, 100), 3.0);
    EXPECT_DOUBLE_EQ(*StatCpuSeconds(stat, 1000), 0.3);

    EXPECT_FALSE(StatCpuSeconds("", 100).has_value());
    EXPECT_FALSE(StatCpuSeconds("4242 Brovik S 1 2 3 4 5 6 7 8 9 10 11 12 13", 100).has_value());
    EXPECT_FALSE(
        StatCpuSeconds("4242 (Brovik) S 1 4242 4242 0 -1 4194560 1234 0 0 0 250", 100).has_value());
    EXPECT_FALSE(StatCpuSeconds("4242 (Brovik) S 1 4242 4242 0 -1 4194560 1234 0 0 0 25x 50 0", 100)
                     .has_value());
    EXPECT_FALSE(StatCpuSeconds(stat, 0).has_value());

    // This process's own line parses.
    FILE* self = std::fopen("/proc/self/stat", "r");
    ASSERT_NE(self, nullptr);
    char line[1024] = {};
    const std::size_t n = std::fread(line, 1, sizeof line - 1, self);
    std::fclose(self);
    EXPECT_TRUE(StatCpuSeconds(std::string(line, n), 100).has_value());
}

TEST(BenchProcStat, MemoryFromTheStatusText) {
    const std::string status = "Name:\tBrovik\nVmPeak:\t  9000 kB\nVmHWM:\t    2048 kB\n"
                               "VmRSS:\t    1024 kB\nThreads:\t9\n";
    EXPECT_EQ(StatusKb(status, "VmHWM"), 2048);
    EXPECT_EQ(StatusKb(status, "VmRSS"), 1024);
    EXPECT_EQ(StatusKb(status, "VmRS"), std::nullopt);
    EXPECT_EQ(StatusKb(status, "VmSwap"), std::nullopt);
    EXPECT_EQ(StatusKb("VmRSS:\tlots kB\n", "VmRSS"), std::nullopt);
    EXPECT_EQ(StatusKb("VmRSS:\t 77 kB", "VmRSS"), 77); // no newline at the end
}

TEST(BenchProcStat, CpuPerRecordBetweenTwoSamples) {
    // 20 s at 5,000 records/s: 200 ticks of a 100 Hz clock are 20 us per record.
    const std::string before = "7 (Brovik) S 1 7 7 0 -1 0 0 0 0 0 250 50 0\n";
    const std::string after = "7 (Brovik) S 1 7 7 0 -1 0 0 0 0 0 400 100 0\n";
    const auto us =
        CpuMicrosPerRecord(*StatCpuSeconds(before, 100), *StatCpuSeconds(after, 100), 100000);
    ASSERT_TRUE(us.has_value());
    EXPECT_NEAR(*us, 20.0, 1e-9);
    EXPECT_NEAR(*CpuMicrosPerRecord(1.25, 1.45, 10000), 20.0, 1e-9);
    EXPECT_EQ(CpuMicrosPerRecord(1.0, 2.0, 0), std::nullopt);
    EXPECT_EQ(CpuMicrosPerRecord(2.0, 1.0, 10), std::nullopt);
    EXPECT_GE(UsableCpus(), 1);
}

TEST(BenchOptionsParse, BusyThreadsAndTheTargetsTheyChoose) {
    BenchOptions options;
    std::string error;
    EXPECT_EQ(options.busy, 0);
    ASSERT_TRUE(ParseBenchOptions({"--busy=8", "--quick"}, options, error)) << error;
    EXPECT_EQ(options.busy, 8);
    ASSERT_TRUE(ParseBenchOptions({"--busy=0"}, options, error)) << error;
    EXPECT_EQ(options.busy, 0);
    for (const char* bad : {"--busy", "--busy=", "--busy=-1", "--busy=2x", "--busy=100000"}) {
        BenchOptions o;
        EXPECT_FALSE(ParseBenchOptions({bad}, o, error)) << bad;
        EXPECT_EQ(o.busy, 0) << bad;
    }
    ASSERT_TRUE(ParseBenchOptions({"--in-flight=2048"}, options, error)) << error;
    EXPECT_EQ(options.inFlight, 2048);
    for (const char* bad : {"--in-flight=0", "--in-flight=2049", "--in-flight"}) {
        BenchOptions o;
        EXPECT_FALSE(ParseBenchOptions({bad}, o, error)) << bad;
        EXPECT_EQ(o.inFlight, 128) << bad;
    }

    const RelayTargets idle = TargetsFor(0, 8);
    const RelayTargets loaded = TargetsFor(8, 8);
    EXPECT_FALSE(idle.loaded);
    EXPECT_TRUE(loaded.loaded);
    EXPECT_FALSE(TargetsFor(7, 8).loaded);
    EXPECT_TRUE(TargetsFor(32, 8).loaded);
    EXPECT_TRUE(TargetsFor(1, 0).loaded); // an unknown count is one processor
    EXPECT_DOUBLE_EQ(idle.p99Ms, 5.0);
    EXPECT_DOUBLE_EQ(loaded.p99Ms, 15.0);
    EXPECT_DOUBLE_EQ(idle.throughputRatio, 2.0);
    EXPECT_DOUBLE_EQ(loaded.throughputRatio, 2.0);
    // What does not depend on the load stays.
    EXPECT_DOUBLE_EQ(loaded.cpuPerRecordUs, idle.cpuPerRecordUs);
    EXPECT_EQ(loaded.clients, 200);
    EXPECT_EQ(loaded.rate, 5000);
}

TEST(BenchRounds, TheMedianOfTheRoundsLeavesFailedRunsOut) {
    EXPECT_TRUE(ServerFirst(0));
    EXPECT_FALSE(ServerFirst(1));
    EXPECT_TRUE(ServerFirst(2));

    // A relay that ran fast in one round moves only that round's ratio.
    RoundRatios r = CompareRounds({100, 110, 90}, {20, 10, 30});
    EXPECT_EQ(r.ratios, (std::vector<double>{5.0, 11.0, 3.0}));
    ASSERT_TRUE(r.median.has_value());
    EXPECT_DOUBLE_EQ(*r.median, 5.0);
    EXPECT_EQ(r.typical, 0u);

    // An even count: between the middle two; the lower one's round stands for the row.
    r = CompareRounds({60, 100, 80, 90}, {10, 10, 10, 10});
    EXPECT_DOUBLE_EQ(*r.median, 8.5);
    EXPECT_EQ(r.typical, 2u);

    // A failed run on either side drops its round, and is shown as 0.
    r = CompareRounds({100, 0, 90, 50}, {20, 10, 0, 25});
    EXPECT_EQ(r.ratios, (std::vector<double>{5.0, 0.0, 0.0, 2.0}));
    EXPECT_DOUBLE_EQ(*r.median, 3.5);
    EXPECT_EQ(r.typical, 3u);

    EXPECT_FALSE(CompareRounds({100}, {0}).median.has_value());
    EXPECT_FALSE(CompareRounds({100, 90}, {}).median.has_value()); // --no-baseline
    EXPECT_EQ(CompareRounds({100, 90}, {20}).ratios.size(), 1u);

    EXPECT_DOUBLE_EQ(MedianOf({7.9, 10.5, 7.2}), 7.9);
    EXPECT_DOUBLE_EQ(MedianOf({4.0, 1.0, 3.0, 2.0}), 2.5);
    EXPECT_DOUBLE_EQ(MedianOf({}), 0.0);

    BenchOptions options;
    std::string error;
    EXPECT_EQ(options.rounds, 3);
    ASSERT_TRUE(ParseBenchOptions({"--rounds=5"}, options, error)) << error;
    EXPECT_EQ(options.rounds, 5);
    for (const char* bad : {"--rounds=0", "--rounds=26", "--rounds", "--rounds=3x"}) {
        BenchOptions o;
        EXPECT_FALSE(ParseBenchOptions({bad}, o, error)) << bad;
        EXPECT_EQ(o.rounds, 3) << bad;
    }
}

TEST(BenchRounds, AStalledClientIsJudgedPairByPairSoOneBurstDecidesNothing) {
    // A burst in one stalled segment is one pair of four: the median stays near nothing.
    const PairedChange burst = ComparePairs({{2.0, 2.0}, {2.0, 5.0}, {2.0, 2.1}, {2.0, 1.9}});
    ASSERT_EQ(burst.changes.size(), 4u);
    EXPECT_DOUBLE_EQ(burst.changes[1], 1.5);
    ASSERT_TRUE(burst.median.has_value());
    EXPECT_NEAR(*burst.median, 0.025, 1e-12);

    // A stall that costs the others in every pair still shows.
    EXPECT_NEAR(*ComparePairs({{2.0, 2.6}, {1.5, 2.0}, {3.0, 3.9}}).median, 0.3, 1e-12);

    // A pair with no figure on either side drops out; none left, no verdict.
    const PairedChange partial = ComparePairs({{0.0, 9.0}, {2.0, 1.0}, {2.0, 0.0}});
    EXPECT_EQ(partial.changes, (std::vector<double>{0.0, -0.5, 0.0}));
    EXPECT_DOUBLE_EQ(*partial.median, -0.5);
    EXPECT_FALSE(ComparePairs({{0.0, 1.0}}).median.has_value());
    EXPECT_FALSE(ComparePairs({}).median.has_value());
}
