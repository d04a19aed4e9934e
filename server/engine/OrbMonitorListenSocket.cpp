#include "OrbMonitorListenSocket.h"

#include "MonitorConnectionManager.h"

namespace engine {

void COrbMonitorListenSocket::OnAccept(int) {
    if (m_pManager)
        m_pManager->AcceptPending();
}

} // namespace engine
