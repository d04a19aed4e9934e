#include "MonitorConnection.h"

#include <platform/SystemError.h>
#include <protocol/MonitorStartRequest.h>

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

std::vector<std::uint8_t> BuildMonitorStartRequest(const std::string& passCode) {
    return protocol::MonitorStartRequest::Build(passCode);
}

bool IsValidPassCode(const std::string& passCode) {
    return protocol::MonitorStartRequest::IsValidCodeLength(passCode.size());
}

namespace {

std::string Format(const char* format, const std::string& host, int code, const std::string& text) {
    char line[1024];
    std::snprintf(line, sizeof line, format, host.c_str(), code, text.c_str());
    return line;
}

} // namespace

int ConnectToMonitorServer(const std::string& hostText, std::uint32_t port,
                           const ConnectReports& reports) {
    const auto report = [&](const std::string& text) {
        if (reports.report)
            reports.report(text);
    };
    const std::string host = hostText.empty() ? "localhost" : hostText;
    const std::string service = port != 0 ? std::to_string(port) : "6001";

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const int status = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
    if (status != 0) {
        const int code = status == EAI_SYSTEM ? errno : status;
        const std::string text = status == EAI_SYSTEM ? platform::SystemErrorText(errno)
                                                      : std::string(::gai_strerror(status));
        report(Format((reports.errorTag + " getaddrinfo(%s) failed with error %d: %s\n").c_str(),
                      host, code, text));
        return -1;
    }
    int connected = -1;
    for (addrinfo* entry = list; entry != nullptr && connected < 0; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET && entry->ai_family != AF_INET6)
            continue;
        const int fd =
            ::socket(entry->ai_family, entry->ai_socktype | SOCK_CLOEXEC, entry->ai_protocol);
        if (fd < 0)
            continue;
        int result;
        do {
            result = ::connect(fd, entry->ai_addr, entry->ai_addrlen);
        } while (result != 0 && errno == EINTR);
        if (result == 0) {
            report(reports.infoPrefix + "IPv4 connection created.\n");
            connected = fd;
            break;
        }
        const int code = errno;
        const char* family = entry->ai_family == AF_INET ? "IPv4" : "IPv6";
        report(Format(
            (reports.errorTag + " " + family + " connection to %s failed with error %d: %s\n")
                .c_str(),
            host, code, platform::SystemErrorText(code)));
        ::close(fd);
    }
    ::freeaddrinfo(list);
    return connected;
}
