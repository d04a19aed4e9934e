#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The start request a monitor sends at once after connecting, with the pass code as its access
// code; at most six characters are written.
std::vector<std::uint8_t> BuildMonitorStartRequest(const std::string& passCode);
// Pass codes the server can accept: 4 to 6 characters.
bool IsValidPassCode(const std::string& passCode);

// How the two programs word their connection reports.
struct ConnectReports {
    std::string errorTag;   // "[Err]" or "[ERROR]"
    std::string infoPrefix; // "[Info] " or ""
    std::function<void(const std::string&)> report;
};

// Resolves host and port (empty host: "localhost"; port 0: 6001) for IPv4 and IPv6 and connects
// to the first address that answers, blocking. The connected descriptor, or -1; every failure is
// reported with its family's text.
int ConnectToMonitorServer(const std::string& host, std::uint32_t port,
                           const ConnectReports& reports);
