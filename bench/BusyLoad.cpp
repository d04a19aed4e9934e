#include "BusyLoad.h"

#include <pthread.h>
#include <time.h>

namespace bench {

BusyLoad::BusyLoad(int threads) {
    for (int i = 0; i < threads; ++i)
        m_Threads.emplace_back([this] {
            volatile unsigned long long spins = 0;
            while (!m_Stop.load(std::memory_order_relaxed))
                spins = spins + 1;
        });
}

BusyLoad::~BusyLoad() {
    m_Stop = true;
    for (std::thread& thread : m_Threads)
        thread.join();
}

double BusyLoad::CpuSeconds() const {
    double total = 0.0;
    for (const std::thread& thread : m_Threads) {
        clockid_t clock;
        timespec at{};
        if (::pthread_getcpuclockid(const_cast<std::thread&>(thread).native_handle(), &clock) ==
                0 &&
            ::clock_gettime(clock, &at) == 0)
            total += static_cast<double>(at.tv_sec) + static_cast<double>(at.tv_nsec) / 1e9;
    }
    return total;
}

} // namespace bench
