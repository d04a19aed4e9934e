#include "ProcStat.h"

#include <sched.h>
#include <unistd.h>

#include <charconv>
#include <vector>

namespace bench {

namespace {

// Fields split at blanks, tabs and line ends.
std::vector<std::string_view> Fields(std::string_view text) {
    std::vector<std::string_view> fields;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t start = text.find_first_not_of(" \t\n", at);
        if (start == std::string_view::npos)
            break;
        const std::size_t end = text.find_first_of(" \t\n", start);
        fields.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        at = end == std::string_view::npos ? text.size() : end;
    }
    return fields;
}

std::optional<std::uint64_t> Number(std::string_view text) {
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

} // namespace

std::optional<double> StatCpuSeconds(std::string_view stat, long ticksPerSecond) {
    const std::size_t close = stat.rfind(')');
    if (close == std::string_view::npos || stat.find('(') > close || ticksPerSecond <= 0)
        return std::nullopt;
    // utime and stime are fields 14 and 15 of the line: the 12th and 13th after the name.
    const std::vector<std::string_view> fields = Fields(stat.substr(close + 1));
    if (fields.size() < 13)
        return std::nullopt;
    const std::optional<std::uint64_t> user = Number(fields[11]);
    const std::optional<std::uint64_t> system = Number(fields[12]);
    if (!user || !system)
        return std::nullopt;
    return static_cast<double>(*user + *system) / static_cast<double>(ticksPerSecond);
}

std::optional<std::int64_t> StatusKb(std::string_view status, std::string_view name) {
    std::size_t at = 0;
    while (at < status.size()) {
        std::size_t end = status.find('\n', at);
        if (end == std::string_view::npos)
            end = status.size();
        const std::string_view line = status.substr(at, end - at);
        at = end + 1;
        if (line.size() <= name.size() || line.substr(0, name.size()) != name ||
            line[name.size()] != ':')
            continue;
        const std::vector<std::string_view> fields = Fields(line.substr(name.size() + 1));
        if (fields.empty())
            return std::nullopt;
        const std::optional<std::uint64_t> kb = Number(fields[0]);
        if (!kb)
            return std::nullopt;
        return static_cast<std::int64_t>(*kb);
    }
    return std::nullopt;
}

std::optional<double> CpuMicrosPerRecord(double cpuBefore, double cpuAfter, std::uint64_t records) {
    if (records == 0 || cpuAfter < cpuBefore)
        return std::nullopt;
    return (cpuAfter - cpuBefore) * 1e6 / static_cast<double>(records);
}

int UsableCpus() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return CPU_COUNT(&set);
    const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int>(online) : 1;
}

} // namespace bench
