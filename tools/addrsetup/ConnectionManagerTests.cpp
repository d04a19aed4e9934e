// The two tests of the connection manager and the watchdog around a telephony call that may hang.

#include "AddrSetupStrings.h"
#include "ConnectionManagerDlg.h"
#include "ProcessControl.h"

#include <platform/DebugOutput.h>
#include <platform/SystemError.h>
#include <telephony/TapiModule.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace addrsetup {

namespace {

void Sleep(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// A connect that gives up after timeoutMs; 0 or the error number.
int ConnectWithin(int fd, const sockaddr* address, socklen_t length, int timeoutMs) {
    if (::connect(fd, address, length) == 0) {
        return 0;
    }
    if (errno != EINPROGRESS) {
        return errno;
    }
    pollfd p{fd, POLLOUT, 0};
    int ready;
    do {
        ready = ::poll(&p, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready == 0) {
        return ETIMEDOUT;
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (ready < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
        return errno;
    }
    return error;
}

std::string NumericHost(const addrinfo* info) {
    char host[NI_MAXHOST] = {};
    if (::getnameinfo(info->ai_addr, info->ai_addrlen, host, sizeof host, nullptr, 0,
                      NI_NUMERICHOST) != 0) {
        return "?";
    }
    return host;
}

} // namespace

void CConnectionManagerDlg::TestLinkReachable() {
    platform::RegKey key;
    if (platform::RegKey::Open(platform::RegRoot::LocalMachine, kProviderKey, key) !=
        platform::RegStatus::Ok) {
        Message(IDS_REG_OPEN_FAILED, MessageIcon::Hand);
        stepOk_ = false;
        return;
    }
    std::string address;
    if (key.QueryString("IP Address", address) != platform::RegStatus::Ok ||
        address.size() >= 260) {
        Message(IDS_REG_QUERY_FAILED, MessageIcon::Hand);
        stepOk_ = false;
        return;
    }
    uint32_t port = kDefaultPort;
    if (key.QueryDword("Port No", port) != platform::RegStatus::Ok) {
        port = kDefaultPort;
    }
    char portText[16];
    std::snprintf(portText, sizeof portText, "%u", port);

    ui_.BeginWaitCursor();
    int connected = -1;
    for (int attempt = 0; attempt < timing_.reachAttempts && connected < 0; ++attempt) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* results = nullptr;
        const int rc = ::getaddrinfo(address.c_str(), portText, &hints, &results);
        if (rc != 0) {
            const char* text = rc == EAI_SYSTEM ? FormatSystemError(errno) : ::gai_strerror(rc);
            Debug("[Err] getaddrinfo(%s) failed with error %d: %s\n", address.c_str(), rc, text);
        } else {
            for (const addrinfo* p = results; p != nullptr; p = p->ai_next) {
                if (p->ai_family != AF_INET && p->ai_family != AF_INET6) {
                    continue;
                }
                const int fd = ::socket(p->ai_family, p->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                                        p->ai_protocol);
                const int error =
                    fd < 0 ? errno
                           : ConnectWithin(fd, p->ai_addr, p->ai_addrlen, timing_.connectTimeoutMs);
                if (error == 0) {
                    Debug("[Info] IPv4 connection created.\n");
                    connected = fd;
                    break;
                }
                Debug("[Err] IPv%d connection to %s failed with error %d: %s\n",
                      p->ai_family == AF_INET ? 4 : 6, NumericHost(p).c_str(), error,
                      FormatSystemError(error));
                if (fd >= 0) {
                    ::close(fd);
                }
            }
            ::freeaddrinfo(results);
        }
        if (connected < 0) {
            Sleep(timing_.reachRetryMs);
        }
    }
    ui_.EndWaitCursor();
    if (connected < 0) {
        Message(IDS_LINK_UNREACHABLE, MessageIcon::Hand);
        stepOk_ = false;
        return;
    }
    // Reachable is all that is asked: not a byte goes either way.
    ::close(connected);
    if (!inSequence_) {
        Message(IDS_LINK_REACHABLE, MessageIcon::Information);
    }
}

void CConnectionManagerDlg::TestTapiInitialize() {
    telephony::TapiModule tapi;
    if (!tapi.Load(tapiLibrary_)) {
        Message(IDS_TAPI_MISSING, MessageIcon::Hand);
        stepOk_ = false;
        return;
    }
    auto initialize = tapi.Function<PFN_lineInitialize>("lineInitialize");
    auto shutdown = tapi.Function<PFN_lineShutdown>("lineShutdown");
    if (initialize == nullptr || shutdown == nullptr) {
        tapi.Free();
        Message(IDS_TAPI_FUNCTIONS, MessageIcon::Hand);
        stepOk_ = false;
        return;
    }
    ui_.BeginWaitCursor();
    HLINEAPP app = 0;
    DWORD devices = 0;
    StartWatchdog();
    const int32_t result =
        initialize(&app, nullptr, &ReconnectLineCallback, kApplicationName, &devices);
    StopWatchdog();
    if (result != 0) {
        tapiReinit_ = result == LINEERR_REINIT;
        Message(tapiReinit_ ? IDS_TAPI_REINIT : IDS_TAPI_INIT_FAILED, MessageIcon::Hand);
        stepOk_ = false;
        tapi.Free();
        ui_.EndWaitCursor();
        return;
    }
    tapiReinit_ = false;
    if (devices == 0) {
        Message(IDS_NO_LINES, MessageIcon::Hand);
        Debug("[reconnect] 0 lines returned by telephony\n");
        stepOk_ = false;
    } else if (auto getDevCaps = tapi.Function<PFN_lineGetDevCaps>("lineGetDevCaps")) {
        constexpr DWORD kSize = 4096;
        std::vector<char> buffer(kSize, 0);
        auto* caps = reinterpret_cast<LINEDEVCAPS*>(buffer.data());
        int makerLines = 0;
        for (DWORD id = 0; id < devices; ++id) {
            std::fill(buffer.begin(), buffer.end(), 0);
            caps->dwTotalSize = kSize;
            if (getDevCaps(app, id, TAPI_VERSION_HIGHEST, 0, caps) != 0 ||
                caps->dwProviderInfoSize == 0 || caps->dwProviderInfoOffset >= kSize ||
                caps->dwProviderInfoSize > kSize - caps->dwProviderInfoOffset) {
                continue;
            }
            const char* text = buffer.data() + caps->dwProviderInfoOffset;
            const std::string info(text, ::strnlen(text, caps->dwProviderInfoSize));
            if (info == kMakerProviderInfo) {
                ++makerLines;
            }
        }
        if (makerLines == 0) {
            Message(IDS_NO_MAKER_LINE, MessageIcon::Hand);
            Debug("[reconnect] 0 lines returned by %s\n", kMakerProviderInfo);
            stepOk_ = false;
        }
    } else {
        char text[512];
        std::snprintf(text, sizeof text, LoadString(IDS_LINES_UNKNOWN), static_cast<int>(devices));
        if (inSequence_) {
            if (!ui_.AskYesNo(IDS_LINES_UNKNOWN, text, MessageIcon::Exclamation)) {
                stepOk_ = false;
            }
        } else {
            ui_.MessageBox(IDS_LINES_UNKNOWN, text, MessageIcon::Exclamation);
            stepOk_ = false;
        }
    }
    shutdown(app);
    if (!inSequence_ && stepOk_) {
        Message(IDS_TAPI_ACCEPTS, MessageIcon::Information);
    }
    tapi.Free();
    ui_.EndWaitCursor();
}

void CConnectionManagerDlg::StartWatchdog() {
    tapiReturned_.Reset();
    watchdogDone_.Reset();
    if (watchdog_ != nullptr) {
        return;
    }
    watchdog_ = std::make_unique<platform::WorkerThread>();
    platform::Event** events = eventPair_;
    const int pollMs = timing_.watchdogPollMs;
    const int limit = timing_.watchdogPollLimit;
    const std::string killProgram = killProgram_;
    watchdog_->Start([events, pollMs, limit, killProgram](platform::Event& stop) {
        return TapiWatchdogThread(events, pollMs, limit, killProgram, stop);
    });
}

void CConnectionManagerDlg::StopWatchdog() {
    if (watchdog_ != nullptr) {
        if (watchdog_->IsRunning()) {
            tapiReturned_.Set();
            // The thread looks at the event every poll and ends at once when it sees it.
            watchdogDone_.Wait(platform::Event::kInfinite);
        }
        watchdog_->Join();
        watchdog_.reset();
    }
    Debug("[Info] watcher killed\n");
}

int CConnectionManagerDlg::TapiWatchdogThread(platform::Event* events[2], int pollMs, int pollLimit,
                                              const std::string& killProgram,
                                              platform::Event& stop) {
    platform::Event& returned = *events[0];
    platform::Event& done = *events[1];
    platform::DebugOutput("[Info] watcher thread started\n");
    int count = 0;
    for (;;) {
        if (returned.Wait(0) == platform::Event::WaitResult::Signaled) {
            platform::DebugOutput("[info] TAPI functin returned\n");
            break;
        }
        // The pause doubles as the owner's stop request, so that destruction never waits long.
        if (stop.Wait(pollMs) == platform::Event::WaitResult::Signaled) {
            break;
        }
        if (++count > pollLimit) {
            std::string error;
            if (!SpawnDetached(killProgram, "", error)) {
                platform::DebugOutput("[Err] " + killProgram + ": " + error + "\n");
            }
            break;
        }
    }
    done.Set();
    platform::DebugOutput("[info] watcher is terminating\n");
    return 0;
}

void CConnectionManagerDlg::ReconnectLineCallback(DWORD, DWORD, uintptr_t, uintptr_t, uintptr_t,
                                                  uintptr_t) {}

const char* CConnectionManagerDlg::FormatSystemError(int code) {
    std::snprintf(errorText_, sizeof errorText_, "%s", platform::SystemErrorText(code).c_str());
    return errorText_;
}

void CConnectionManagerDlg::Debug(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    platform::DebugOutput(text);
}

void CConnectionManagerDlg::Message(unsigned id, MessageIcon icon) {
    ui_.MessageBox(id, LoadString(id), icon);
}

} // namespace addrsetup
