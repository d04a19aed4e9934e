#include "RelayRounds.h"

#include <algorithm>

namespace bench {

double MedianOf(std::vector<double> values) {
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return (values[(n - 1) / 2] + values[n / 2]) / 2;
}

RoundRatios CompareRounds(const std::vector<double>& server, const std::vector<double>& relay) {
    RoundRatios result;
    const std::size_t rounds = std::min(server.size(), relay.size());
    std::vector<std::size_t> measured;
    for (std::size_t i = 0; i < rounds; ++i) {
        const bool both = server[i] > 0 && relay[i] > 0;
        result.ratios.push_back(both ? server[i] / relay[i] : 0.0);
        if (both)
            measured.push_back(i);
    }
    if (measured.empty())
        return result;
    std::sort(measured.begin(), measured.end(),
              [&](std::size_t a, std::size_t b) { return result.ratios[a] < result.ratios[b]; });
    std::vector<double> values;
    for (const std::size_t i : measured)
        values.push_back(result.ratios[i]);
    result.median = MedianOf(std::move(values));
    result.typical = measured[(measured.size() - 1) / 2];
    return result;
}

PairedChange ComparePairs(const std::vector<SegmentP99s>& pairs) {
    std::vector<double> stalled, reference;
    for (const SegmentP99s& pair : pairs) {
        stalled.push_back(pair.stalled);
        reference.push_back(pair.reference);
    }
    // Stalled over reference is a round's ratio, with the same drop-outs.
    const RoundRatios ratios = CompareRounds(stalled, reference);
    PairedChange result;
    for (const double r : ratios.ratios)
        result.changes.push_back(r > 0 ? r - 1 : 0.0);
    if (ratios.median)
        result.median = *ratios.median - 1;
    return result;
}

} // namespace bench
