#include "TerminationSignal.h"

#include <TraceLog.h>

#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <iterator>
#include <vector>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT};

std::atomic<int> g_writeFd{-1};
int g_readFd = -1;
struct sigaction g_previous[std::size(kSignals)];

extern "C" void OnTerminationSignal(int signalNumber) {
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

TerminationSignal::TerminationSignal(QObject* parent) : QObject(parent) {
    if (g_writeFd.load() >= 0) {
        TraceLog("[ERROR] The termination signals are already watched");
        return;
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        TraceLog("[ERROR] Cannot watch the termination signals: %s",
                 SystemErrorText(errno).c_str());
        return;
    }
    g_readFd = fds[0];
    g_writeFd = fds[1];

    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        if (::sigaction(kSignals[i], &action, &g_previous[i]) != 0) {
            TraceLog("[ERROR] Cannot set the handler of signal %d: %s", kSignals[i],
                     SystemErrorText(errno).c_str());
            for (std::size_t j = 0; j < i; ++j)
                ::sigaction(kSignals[j], &g_previous[j], nullptr);
            g_writeFd = -1;
            ::close(fds[1]);
            ::close(fds[0]);
            g_readFd = -1;
            return;
        }
    }
    m_pNotifier = new QSocketNotifier(g_readFd, QSocketNotifier::Read, this);
    connect(m_pNotifier, &QSocketNotifier::activated, this, &TerminationSignal::OnReadable);
    m_bInstalled = true;
}

TerminationSignal::~TerminationSignal() {
    if (!m_bInstalled)
        return;
    delete m_pNotifier;
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &g_previous[i], nullptr);
    const int writeFd = g_writeFd.exchange(-1);
    ::close(writeFd);
    ::close(g_readFd);
    g_readFd = -1;
}

void TerminationSignal::OnReadable() {
    // Drained before anything is told: a receiver may run a nested event loop.
    std::vector<int> received;
    unsigned char bytes[16];
    ssize_t count;
    while ((count = ::read(g_readFd, bytes, sizeof bytes)) > 0)
        received.insert(received.end(), bytes, bytes + count);
    for (const int signalNumber : received)
        emit Received(signalNumber);
}
