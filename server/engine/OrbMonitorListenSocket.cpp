#include "OrbMonitorListenSocket.h"

#include "MonitorConnectionManager.h"

void COrbMonitorListenSocket::OnAccept(int) {
    if (m_pManager)
        m_pManager->AcceptPending();
}
