#pragma once

#include <platform/AsyncSocket.h>

class MonitorConnectionManager;

// The listening socket of one monitor port; every pending connection goes to its manager.
class COrbMonitorListenSocket : public platform::AsyncSocket {
public:
    explicit COrbMonitorListenSocket(MonitorConnectionManager* manager) : m_pManager(manager) {}

    MonitorConnectionManager* GetManager() const { return m_pManager; }

protected:
    void OnAccept(int err) override;

private:
    MonitorConnectionManager* m_pManager;
};
