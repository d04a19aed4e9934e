#include "OrbListenSocket.h"

#include "OrbClientConnectionManager.h"

namespace engine {

COrbListenSocket::COrbListenSocket(COrbClientConnectionManager* manager) : m_pManager(manager) {}

COrbListenSocket::~COrbListenSocket() {
    m_pManager = nullptr;
}

void COrbListenSocket::OnAccept(int err) {
    AsyncSocket::OnAccept(err);
    if (!m_pManager)
        return;
    m_pManager->AcceptPending();
}

} // namespace engine
