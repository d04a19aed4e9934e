#include "AcceptPause.h"

#include <cerrno>
#include <sys/resource.h>

AcceptPause::AcceptPause(platform::AsyncSocket& listener) : m_Listener(listener) {
    m_Timer.setSingleShot(true);
    m_Timer.setInterval(kPauseMs);
    QObject::connect(&m_Timer, &QTimer::timeout, &m_Timer,
                     [this] { m_Listener.ResumeAccepting(); });
}

bool AcceptPause::IsExhaustion(int err) {
    return err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM;
}

bool AcceptPause::Accept(platform::AsyncSocket& into) {
    if (m_Listener.Accept(into)) {
        m_bInRun = false;
        m_bReport = true;
        return true;
    }
    const int err = m_Listener.GetLastError();
    if (!IsExhaustion(err)) {
        m_bReport = true;
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
