#pragma once

// Threads that only spin, at ordinary priority, so the relay shares the processors with them as
// it would on a loaded machine. They run from construction to destruction.

#include <atomic>
#include <thread>
#include <vector>

namespace bench {

class BusyLoad {
public:
    explicit BusyLoad(int threads);
    ~BusyLoad();
    BusyLoad(const BusyLoad&) = delete;
    BusyLoad& operator=(const BusyLoad&) = delete;

    int Threads() const { return static_cast<int>(m_Threads.size()); }
    // CPU seconds all of them have had so far.
    double CpuSeconds() const;

private:
    std::atomic<bool> m_Stop{false};
    std::vector<std::thread> m_Threads;
};

} // namespace bench
