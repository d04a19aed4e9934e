#include "RelayTargets.h"

#include <algorithm>

namespace bench {

RelayTargets TargetsFor(int busyThreads, int processors) {
    RelayTargets targets;
    targets.loaded = busyThreads >= std::max(1, processors);
    if (targets.loaded)
        targets.p99Ms = 15.0;
    return targets;
}

} // namespace bench
