#include <platform/SocketInit.h>

#include <csignal>

namespace platform {

bool InitSockets() {
    // Set on every call rather than once, so a later SIG_DFL by some library is undone too.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    return ::sigaction(SIGPIPE, &ignore, nullptr) == 0;
}

} // namespace platform
