#pragma once

// Figures of a process read from its /proc texts, and the arithmetic made of them.

#include <cstdint>
#include <optional>
#include <string_view>

namespace bench {

// utime + stime of a /proc/<pid>/stat line in seconds; nullopt for a text that is not one. The
// command name is in parentheses and may hold blanks and parentheses of its own.
std::optional<double> StatCpuSeconds(std::string_view stat, long ticksPerSecond);

// A "Name:   1234 kB" line of /proc/<pid>/status, in kB.
std::optional<std::int64_t> StatusKb(std::string_view status, std::string_view name);

// CPU microseconds per record between two samples of a process's CPU seconds; nullopt without a
// record or when the clock went back.
std::optional<double> CpuMicrosPerRecord(double cpuBefore, double cpuAfter, std::uint64_t records);

// Processors this process may run on, as nproc counts them.
int UsableCpus();

} // namespace bench
