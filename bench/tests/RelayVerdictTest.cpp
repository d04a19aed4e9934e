// relaybench's verdicts, each on the figures of the runs that measure its target.

#include <bench/RelayVerdicts.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace bench;

namespace {

SwitchCpuResult CpuRun(double us, bool fellBehind = false, std::uint64_t traceBytes = 100) {
    SwitchCpuResult run;
    run.ok = true;
    run.usPerRecord = us;
    run.fellBehind = fellBehind;
    run.traceBytes = traceBytes;
    return run;
}

RunResult Measured(double maxPerSecond, double p99Ms = 1.0) {
    RunResult r;
    r.ok = true;
    r.floodPerSecond = maxPerSecond;
    r.floodSent = 1000;
    r.sustainedPerSecond = 5000;
    r.rated.latency.AddNs(static_cast<std::int64_t>(p99Ms * 1e6));
    r.rated.fanOut.AddNs(static_cast<std::int64_t>(p99Ms * 1e6));
    return r;
}

// Rounds of the server and the batching relay at 200 clients, their ratios compared.
RelayRow Row(const std::vector<double>& server, const std::vector<double>& batching) {
    RelayRow row;
    row.clients = 200;
    for (const double s : server)
        row.servers.push_back(Measured(s));
    for (const double b : batching)
        row.batchings.push_back(Measured(b));
    row.CompareRounds();
    return row;
}

bool Has(const Verdict& v, const std::string& text) {
    return v.text.find(text) != std::string::npos;
}

} // namespace

TEST(BenchVerdicts, TheSwitchSideIsTheMedianOfItsRunsSoOneSlowRunDecidesNothing) {
    const RelayTargets t;
    Verdict v = SwitchSideVerdict({CpuRun(12.8), CpuRun(20.6), CpuRun(14.0)}, t);
    EXPECT_EQ(v.outcome, Outcome::Pass);
    EXPECT_TRUE(Has(v, "14.00 us")) << v.text;
    EXPECT_TRUE(Has(v, "the median of 3 runs (12.80, 20.60, 14.00)")) << v.text;

    EXPECT_EQ(SwitchSideVerdict({CpuRun(21.0), CpuRun(12.0), CpuRun(20.5)}, t).outcome,
              Outcome::Fail);
    // A run that fell behind the rate, wrote no trace or failed is no figure under the target.
    v = SwitchSideVerdict({CpuRun(5.0, true), CpuRun(6.0), CpuRun(7.0, false, 0)}, t);
    EXPECT_EQ(v.outcome, Outcome::Fail);
    EXPECT_TRUE(Has(v, "fell behind")) << v.text;
    EXPECT_TRUE(Has(v, "trace OFF")) << v.text;
    EXPECT_EQ(SwitchSideVerdict({CpuRun(5.0, true), CpuRun(6.0), CpuRun(7.0)}, t).outcome,
              Outcome::Pass);
    SwitchCpuResult failed;
    failed.error = "no server";
    v = SwitchSideVerdict({failed, failed, CpuRun(6.0)}, t);
    EXPECT_EQ(v.outcome, Outcome::Fail);
    EXPECT_TRUE(Has(v, "no server")) << v.text;
    EXPECT_EQ(SwitchSideVerdict({}, t).outcome, Outcome::NotMeasured);
}

TEST(BenchVerdicts, ARatioIsJudgedOnTheMedianOfEnoughRounds) {
    const RelayTargets t;
    BenchOptions options;
    // One slow round of three: the median holds.
    const RelayRow row = Row({100000, 100000, 100000}, {40000, 80000, 45000});
    Verdict v = RatioVerdict(&row, 200, t.throughputRatio, options, t);
    EXPECT_EQ(v.outcome, Outcome::Pass);
    EXPECT_TRUE(Has(v, "2.22 times")) << v.text;
    EXPECT_TRUE(Has(v, "the median of 3 rounds (round 3: 100000 / 45000 ev/s")) << v.text;

    const RelayRow slow = Row({100000, 100000, 100000}, {40000, 51000, 55000});
    EXPECT_EQ(RatioVerdict(&slow, 200, t.throughputRatio, options, t).outcome, Outcome::Fail);

    // Too few rounds, or a round without both figures, is no verdict.
    options.rounds = 2;
    v = RatioVerdict(&row, 200, t.throughputRatio, options, t);
    EXPECT_EQ(v.outcome, Outcome::NotMeasured);
    EXPECT_TRUE(Has(v, "median of 3 rounds or more; --rounds=2")) << v.text;
    options.rounds = 3;
    const RelayRow broken = Row({100000, 0, 100000}, {40000, 40000, 40000});
    EXPECT_EQ(RatioVerdict(&broken, 200, t.throughputRatio, options, t).outcome,
              Outcome::NotMeasured);
    options.quick = true;
    v = RatioVerdict(nullptr, 500, t.wideThroughputRatio, options, t);
    EXPECT_EQ(v.outcome, Outcome::NotMeasured);
    EXPECT_TRUE(Has(v, "500 clients")) << v.text;
    EXPECT_TRUE(Has(v, "--quick")) << v.text;
    options.quick = false;
    options.baseline = false;
    EXPECT_TRUE(Has(RatioVerdict(&row, 200, 2.0, options, t), "--no-baseline"));
}

TEST(BenchVerdicts, LatencyTakesEachFiguresMedianAndRecordsCountInEveryRound) {
    RelayTargets t;
    const BenchOptions options;
    RelayRow row;
    row.clients = 200;
    row.servers = {Measured(1, 1.5), Measured(1, 9.0), Measured(1, 2.0)};
    Verdict v = LatencyVerdict(&row, options, t);
    EXPECT_EQ(v.outcome, Outcome::Pass) << v.text;
    EXPECT_TRUE(Has(v, "each the median of the rounds")) << v.text;
    row.servers[0] = Measured(1, 6.0);
    EXPECT_EQ(LatencyVerdict(&row, options, t).outcome, Outcome::Fail);
    t.p99Ms = 15.0; // loaded
    EXPECT_EQ(LatencyVerdict(&row, options, t).outcome, Outcome::Pass);
    row.servers[1].sustainedPerSecond = row.servers[2].sustainedPerSecond = 4000;
    EXPECT_EQ(LatencyVerdict(&row, options, t).outcome, Outcome::Fail);
    EXPECT_EQ(LatencyVerdict(nullptr, options, t).outcome, Outcome::NotMeasured);

    EXPECT_EQ(WholeRecordsVerdict(row).outcome, Outcome::Pass);
    row.servers[2].flood.lost = 3;
    v = WholeRecordsVerdict(row);
    EXPECT_EQ(v.outcome, Outcome::Fail);
    EXPECT_TRUE(Has(v, "(over 3 rounds)")) << v.text;
    EXPECT_TRUE(Has(v, "throughput phase lost 3")) << v.text;
    row.servers[1].ok = false;
    row.servers[1].error = "no login";
    EXPECT_TRUE(Has(WholeRecordsVerdict(row), "the server run failed (no login)"));

    EXPECT_EQ(MemoryVerdict(30 * 1024, t).outcome, Outcome::Pass);
    EXPECT_EQ(MemoryVerdict(t.memoryLimitKb, t).outcome, Outcome::Fail);
}

TEST(BenchVerdicts, TheStalledClientCaseGivesFourVerdictsOrOneFailure) {
    const RelayTargets t;
    StallResult r;
    r.ok = true;
    r.sent = 100;
    r.stall.received = 100;
    for (const double stalled : {2.0, 5.0, 2.1}) {
        StallResult::Pair pair;
        pair.reference.latency.AddNs(2000000);
        pair.stalled.latency.AddNs(static_cast<std::int64_t>(stalled * 1e6));
        r.pairs.push_back(pair);
    }
    std::vector<Verdict> v = StallVerdicts(r, t);
    ASSERT_EQ(v.size(), 4u);
    for (const Verdict& each : v)
        EXPECT_EQ(each.outcome, Outcome::Pass) << each.text;
    EXPECT_TRUE(Has(v[0], "+5.0%")) << v[0].text; // the burst's pair is out-voted

    r.saturated = true;
    EXPECT_EQ(StallLatencyVerdict(r, t).outcome, Outcome::Fail);
    r.rssEndKb = r.rssStartKb + t.stallMemoryGrowthKb;
    EXPECT_EQ(StallMemoryVerdict(r, t).outcome, Outcome::Fail);
    r.stall.pendingBytes = 3;
    EXPECT_EQ(StalledClientVerdict(r).outcome, Outcome::Fail);
    r.reference.duplicates = 1;
    EXPECT_EQ(StallOthersRecordsVerdict(r).outcome, Outcome::Fail);

    r.ok = false;
    r.error = "no switch";
    v = StallVerdicts(r, t);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0].outcome, Outcome::Fail);
    EXPECT_TRUE(Has(v[0], "no switch"));
}

TEST(BenchVerdicts, TheListCountsWhatFailedAndWhatWasNotMeasured) {
    VerdictList list;
    list.Add({Outcome::Pass, "one"});
    list.Add({{Outcome::NotMeasured, "two"}});
    EXPECT_EQ(list.Text(), "\ntargets\n  PASS  one\n  --    two\n\nall measured targets met; 1 not "
                           "measured in this run\n");
    list.Add({Outcome::Fail, "three"});
    EXPECT_EQ(list.Count(Outcome::Fail), 1);
    EXPECT_NE(list.Text().find("  FAIL  three\n\nsome targets missed (1); 1 not measured"),
              std::string::npos)
        << list.Text();
}
