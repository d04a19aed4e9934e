#pragma once

// Latencies in whole microseconds up to 100 ms, in whole milliseconds from there to 100 s; longer
// ones count as 100 s (the maximum is kept exactly).

#include <cstdint>
#include <vector>

namespace bench {

class LatencyHistogram {
public:
    static constexpr std::int64_t kFineUs = 100000;
    static constexpr std::int64_t kBoundUs = 100000000;

    LatencyHistogram() : m_Buckets(kFineUs + (kBoundUs - kFineUs) / 1000 + 1, 0) {}

    void AddNs(std::int64_t ns);
    void Merge(const LatencyHistogram& other);
    std::uint64_t Count() const { return m_Count; }
    // The smallest latency (us) that at least `fraction` of the samples do not exceed; 0 when
    // empty. Past 100 ms the answer is the upper end of its millisecond.
    std::int64_t PercentileUs(double fraction) const;
    std::int64_t MaxNs() const { return m_MaxNs; }

private:
    std::vector<std::uint64_t> m_Buckets; // the last one holds everything at or past the bound
    std::uint64_t m_Count = 0;
    std::int64_t m_MaxNs = 0;
};

} // namespace bench
