#include "LatencyHistogram.h"

#include <algorithm>
#include <cmath>

namespace bench {

void LatencyHistogram::AddNs(std::int64_t ns) {
    if (ns < 0)
        ns = 0; // clocks of one machine; only rounding can bring this
    const std::int64_t us = std::min<std::int64_t>(ns / 1000, kBoundUs);
    const std::int64_t at = us < kFineUs ? us : kFineUs + (us - kFineUs) / 1000;
    ++m_Buckets[static_cast<std::size_t>(at)];
    ++m_Count;
    m_MaxNs = std::max(m_MaxNs, ns);
}

void LatencyHistogram::Merge(const LatencyHistogram& other) {
    for (std::size_t i = 0; i < m_Buckets.size(); ++i)
        m_Buckets[i] += other.m_Buckets[i];
    m_Count += other.m_Count;
    m_MaxNs = std::max(m_MaxNs, other.m_MaxNs);
}

std::int64_t LatencyHistogram::PercentileUs(double fraction) const {
    if (m_Count == 0)
        return 0;
    fraction = std::clamp(fraction, 0.0, 1.0);
    const auto wanted = std::max<std::uint64_t>(
        1, static_cast<std::uint64_t>(std::ceil(fraction * static_cast<double>(m_Count))));
    std::uint64_t seen = 0;
    for (std::size_t i = 0; i < m_Buckets.size(); ++i) {
        seen += m_Buckets[i];
        if (seen >= wanted) {
            const auto at = static_cast<std::int64_t>(i);
            return at < kFineUs ? at : std::min(kBoundUs, kFineUs + (at - kFineUs + 1) * 1000);
        }
    }
    return kBoundUs;
}

} // namespace bench
