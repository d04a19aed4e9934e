#include "OrbListenSocket.h"

#include "OrbClientConnectionManager.h"

#include <platform/CriticalSection.h>

COrbListenSocket::COrbListenSocket(COrbClientConnectionManager* manager) : m_pManager(manager) {}

COrbListenSocket::~COrbListenSocket() {
    m_pManager = nullptr;
}

void COrbListenSocket::OnAccept(int err) {
    AsyncSocket::OnAccept(err);
    if (!m_pManager)
        return;
    platform::CriticalSectionLock guard(m_pManager->AcceptSection());
    m_pManager->ClientAccept();
}
