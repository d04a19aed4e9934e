#include <platform/StopSignal.h>

#include <platform/SystemError.h>

#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <iterator>
#include <vector>

namespace platform {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT};

std::atomic<int> g_writeFd{-1};
int g_readFd = -1;
struct sigaction g_previous[std::size(kSignals)];

extern "C" void OnStopSignal(int signalNumber) {
    const int savedErrno = errno;
    const int fd = g_writeFd.load();
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signalNumber);
        // A full pipe already holds a wake-up; losing this byte loses nothing.
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

StopSignal::StopSignal(Handler onSignal, const Report& report) : m_onSignal(std::move(onSignal)) {
    auto tell = [&](const std::string& text) {
        if (report)
            report(text);
    };
    if (g_writeFd.load() >= 0) {
        tell("The termination signals are already watched");
        return;
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        tell("Cannot watch the termination signals: " + SystemErrorText(errno));
        return;
    }
    g_readFd = fds[0];
    g_writeFd = fds[1];

    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        if (::sigaction(kSignals[i], &action, &g_previous[i]) != 0) {
            tell("Cannot set the handler of signal " + std::to_string(kSignals[i]) + ": " +
                 SystemErrorText(errno));
            for (std::size_t j = 0; j < i; ++j)
                ::sigaction(kSignals[j], &g_previous[j], nullptr);
            g_writeFd = -1;
            ::close(fds[1]);
            ::close(fds[0]);
            g_readFd = -1;
            return;
        }
    }
    m_notifier = std::make_unique<QSocketNotifier>(g_readFd, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { OnReadable(); });
}

StopSignal::~StopSignal() {
    if (m_notifier == nullptr)
        return;
    m_notifier.reset();
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &g_previous[i], nullptr);
    ::close(g_writeFd.exchange(-1));
    ::close(g_readFd);
    g_readFd = -1;
}

void StopSignal::OnReadable() {
    // Drained before anything is told: a receiver may run a nested event loop.
    std::vector<int> received;
    unsigned char bytes[16];
    ssize_t count;
    while ((count = ::read(g_readFd, bytes, sizeof bytes)) > 0)
        received.insert(received.end(), bytes, bytes + count);
    for (const int signalNumber : received)
        if (m_onSignal)
            m_onSignal(signalNumber);
}

} // namespace platform
