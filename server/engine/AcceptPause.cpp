#include "AcceptPause.h"

#include <cerrno>
#include <sys/resource.h>

namespace engine {

AcceptPause::AcceptPause(platform::AsyncSocket& listener) : m_Listener(listener) {
    m_Timer.setSingleShot(true);
    m_Timer.setInterval(kPauseMs);
    QObject::connect(&m_Timer, &QTimer::timeout, &m_Timer,
                     [this] { m_Listener.ResumeAccepting(); });
}

bool AcceptPause::IsExhaustion(int err) {
    return err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM;
}

namespace {

// Errors of one connection that went away before it was taken; the next may be fine.
bool IsConnectionError(int err) {
    switch (err) {
    case ECONNABORTED:
    case EINTR:
    case EPROTO:
    case EPERM:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
        return true;
    default:
        return false;
    }
}

} // namespace

void AcceptPause::AcceptAll(const std::function<void()>& acceptOne) {
    for (int i = 0; i < kListenBacklog; ++i) {
        m_bMore = false;
        acceptOne();
        if (!m_bMore)
            return;
    }
}

bool AcceptPause::Accept(platform::AsyncSocket& into) {
    if (m_Listener.Accept(into)) {
        m_bInRun = false;
        m_bReport = true;
        m_bMore = true;
        return true;
    }
    const int err = m_Listener.GetLastError();
    if (err == EWOULDBLOCK) {
        m_bReport = false; // nothing pending: the end of a notice's accepts, no fault
        return false;
    }
    if (!IsExhaustion(err)) {
        m_bReport = true;
        m_bMore = IsConnectionError(err);
        return false;
    }
    m_bReport = !m_bInRun;
    m_bInRun = true;
    m_Listener.PauseAccepting();
    m_Timer.start();
    return false;
}

void AcceptPause::RaiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace engine
