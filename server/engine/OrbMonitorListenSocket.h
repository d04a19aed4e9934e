#pragma once

#include "AcceptPause.h"

#include <platform/AsyncSocket.h>

namespace engine {

class MonitorConnectionManager;

// The listening socket of one monitor port; every pending connection goes to its manager.
class COrbMonitorListenSocket : public platform::AsyncSocket {
public:
    explicit COrbMonitorListenSocket(MonitorConnectionManager* manager) : m_pManager(manager) {}

    // Every accept goes through here, so running out of descriptors pauses the port.
    AcceptPause& Accepts() { return m_Accepts; }

protected:
    void OnAccept(int err) override;

private:
    MonitorConnectionManager* m_pManager;
    AcceptPause m_Accepts{*this};
};

} // namespace engine
