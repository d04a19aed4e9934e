// The bench's own measuring parts: event stamps, stream cutting, percentiles, options.

#include <bench/BenchEvent.h>
#include <bench/BenchOptions.h>
#include <bench/LatencyHistogram.h>

#include <testsupport/RecordReader.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace bench;

namespace {

std::vector<std::uint8_t> Framed(const std::vector<std::uint8_t>& body) {
    std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(body.size() >> 8),
                                    static_cast<std::uint8_t>(body.size() & 0xFF)};
    bytes.insert(bytes.end(), body.begin(), body.end());
    return bytes;
}

} // namespace

TEST(BenchEventStamp, RoundTripsAndRefusesDamagedOrForeignBodies) {
    const EventStamp stamp{0x0102030405060708ull, 1234567890123ll};
    std::vector<std::uint8_t> body = MakeEventBody(stamp);
    ASSERT_EQ(body.size(), kEventBodySize);
    EXPECT_EQ(body[0], 'E');
    const auto read = ReadEventBody(body.data(), body.size());
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->sequence, stamp.sequence);
    EXPECT_EQ(read->sentNs, stamp.sentNs);

    // Every single damaged byte is caught, in the header and in the stamp.
    for (std::size_t i = 0; i < body.size(); ++i) {
        std::vector<std::uint8_t> bad = body;
        bad[i] ^= 0x40;
        EXPECT_FALSE(ReadEventBody(bad.data(), bad.size()).has_value()) << "byte " << i;
    }
    EXPECT_FALSE(ReadEventBody(body.data(), body.size() - 1).has_value());
    EXPECT_FALSE(ReadEventBody(nullptr, 0).has_value());

    // A stamp pieced together from two neighbouring records is refused too.
    for (std::uint64_t s = 0; s < 64; ++s) {
        const std::vector<std::uint8_t> a = MakeEventBody({s, 1000 + static_cast<long long>(s)});
        std::vector<std::uint8_t> spliced =
            MakeEventBody({s + 1, 1001 + static_cast<long long>(s)});
        std::copy(a.begin() + 16, a.begin() + 24, spliced.begin() + 16);
        EXPECT_FALSE(ReadEventBody(spliced.data(), spliced.size()).has_value()) << s;
    }

    // Restamping in place gives the same bytes as a fresh body.
    StampEventBody(body, {7, 9});
    EXPECT_EQ(body, MakeEventBody({7, 9}));
}

TEST(BenchRecordStream, CutsRecordsHoweverTheStreamIsSplit) {
    std::vector<std::uint8_t> stream;
    for (std::uint64_t i = 0; i < 5; ++i) {
        const auto record = Framed(MakeEventBody({i, 0}));
        stream.insert(stream.end(), record.begin(), record.end());
    }
    const auto tail = Framed({'Q', 0xFF, 0xFF, 1, 2, 3, 4, 0});
    stream.insert(stream.end(), tail.begin(), tail.end());

    for (std::size_t chunk : {std::size_t{1}, std::size_t{3}, std::size_t{37}, stream.size()}) {
        testsupport::RecordReader cutter;
        std::vector<std::uint64_t> sequences;
        std::vector<std::size_t> lengths;
        for (std::size_t at = 0; at < stream.size(); at += chunk) {
            const std::size_t n = std::min(chunk, stream.size() - at);
            cutter.Feed({stream.data() + at, n}, [&](const protocol::CtiRecord& record) {
                lengths.push_back(record.Length());
                if (const auto stamp = ReadEventBody(record.Body().data(), record.Length()))
                    sequences.push_back(stamp->sequence);
            });
        }
        EXPECT_EQ(sequences, (std::vector<std::uint64_t>{0, 1, 2, 3, 4})) << "chunk " << chunk;
        ASSERT_EQ(lengths.size(), 6u);
        EXPECT_EQ(lengths.back(), 8u);
        EXPECT_EQ(cutter.Pending(), 0u);
    }

    // A record cut short stays pending; a torn stream (a record's tail missing, the next record
    // behind it) yields no valid event for the damaged part.
    testsupport::RecordReader cutter;
    const auto whole = Framed(MakeEventBody({1, 0}));
    std::vector<std::uint8_t> torn(whole.begin(), whole.begin() + 20);
    const auto next = Framed(MakeEventBody({2, 0}));
    torn.insert(torn.end(), next.begin(), next.end());
    int valid = 0;
    cutter.Feed(torn, [&](const protocol::CtiRecord& record) {
        valid += ReadEventBody(record.Body().data(), record.Length()).has_value() ? 1 : 0;
    });
    EXPECT_EQ(valid, 0);
    EXPECT_GT(cutter.Pending(), 0u);
}

TEST(BenchLatencyHistogram, PercentilesMaximumAndMerge) {
    LatencyHistogram empty;
    EXPECT_EQ(empty.PercentileUs(0.99), 0);

    LatencyHistogram a;
    for (int us = 1; us <= 100; ++us)
        a.AddNs(us * 1000 + 500);
    EXPECT_EQ(a.Count(), 100u);
    EXPECT_EQ(a.PercentileUs(0.5), 50);
    EXPECT_EQ(a.PercentileUs(0.99), 99);
    EXPECT_EQ(a.PercentileUs(1.0), 100);
    EXPECT_EQ(a.MaxNs(), 100500);

    // Long latencies land in millisecond steps and the maximum stays exact.
    LatencyHistogram b;
    b.AddNs(2500000000ll); // 2.5 s
    b.AddNs(-5);           // counted as 0
    a.Merge(b);
    EXPECT_EQ(a.Count(), 102u);
    EXPECT_EQ(a.MaxNs(), 2500000000ll);
    const std::int64_t top = a.PercentileUs(1.0);
    EXPECT_GE(top, 2500000);
    EXPECT_LE(top, 2501000);
    EXPECT_EQ(a.PercentileUs(0.0), 0);
}

TEST(BenchOptionsParse, ListsValuesAndRefusals) {
    BenchOptions options;
    std::string error;
    ASSERT_TRUE(ParseBenchOptions(
        {"--clients=1,50,200", "--rate=2000", "--seconds=1.5", "--bypass=0", "--brovik=/x/Brovik"},
        options, error))
        << error;
    EXPECT_EQ(options.clients, (std::vector<int>{1, 50, 200}));
    EXPECT_EQ(options.rate, 2000);
    EXPECT_DOUBLE_EQ(options.seconds, 1.5);
    EXPECT_EQ(options.bypassClients, 0);
    EXPECT_EQ(options.brovik, "/x/Brovik");

    BenchOptions quick;
    ASSERT_TRUE(ParseBenchOptions({"--quick"}, quick, error));
    EXPECT_LT(quick.seconds, BenchOptions().seconds);

    for (const char* bad :
         {"--clients=", "--clients=1,,2", "--clients=0", "--rate=0", "--rate=12x", "--seconds=abc",
          "--seconds=0", "--threads=0", "--bogus", "--quick=1", "--brovik="}) {
        BenchOptions o;
        EXPECT_FALSE(ParseBenchOptions({bad}, o, error)) << bad;
        EXPECT_FALSE(error.empty());
    }
}
