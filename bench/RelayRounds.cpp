#include "RelayRounds.h"

#include <algorithm>

namespace bench {

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
    std::sort(measured.begin(), measured.end(), [&](std::size_t a, std::size_t b) {
        return result.ratios[a] < result.ratios[b];
    });
    const std::size_t n = measured.size();
    const double low = result.ratios[measured[(n - 1) / 2]];
    const double high = result.ratios[measured[n / 2]];
    result.median = (low + high) / 2;
    result.typical = measured[(n - 1) / 2];
    return result;
}

} // namespace bench
