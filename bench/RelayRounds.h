#pragma once

// Several rounds of the server and the batching relay at one client count. The machine's speed
// drifts within minutes, so the two alternate (the server first in the first round, the relay in
// the second, and so on) and the ratio that counts is the median of the rounds' own ratios.

#include <cstddef>
#include <optional>
#include <vector>

namespace bench {

// `round` counts from 0.
inline bool ServerFirst(int round) {
    return round % 2 == 0;
}

struct RoundRatios {
    std::vector<double> ratios;         // server max / relay max, per round; 0 where one failed
    std::optional<double> median;       // over the rounds where both ran
    std::optional<std::size_t> typical; // the round whose ratio is the median's lower middle
};

// The middle value, or the mean of the middle two; 0 for none.
double MedianOf(std::vector<double> values);

// `server` and `relay` hold each round's max ev/s, 0 for a run that failed or gave none.
RoundRatios CompareRounds(const std::vector<double>& server, const std::vector<double>& relay);

// What a stalled client does to the others' p99, pair by pair of adjacent segments: stalled over
// reference, less one. The median is what counts, so a burst of the machine's own that spoils one
// pair decides nothing. A pair without a figure on either side drops out.
struct PairedChange {
    std::vector<double> changes; // per pair, 0 where it dropped out
    std::optional<double> median;
};
struct SegmentP99s {
    double reference = 0.0;
    double stalled = 0.0;
};
PairedChange ComparePairs(const std::vector<SegmentP99s>& pairs);

} // namespace bench
