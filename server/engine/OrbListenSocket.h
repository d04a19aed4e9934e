#pragma once

#include "AcceptPause.h"

#include <platform/AsyncSocket.h>

namespace engine {

class COrbClientConnectionManager;

// The listening socket of one client port; every pending connection goes to its manager.
class COrbListenSocket : public platform::AsyncSocket {
public:
    explicit COrbListenSocket(COrbClientConnectionManager* manager);
    ~COrbListenSocket() override;

    // Every accept goes through here, so running out of descriptors pauses the port.
    AcceptPause& Accepts() { return m_Accepts; }

protected:
    void OnAccept(int err) override;

private:
    COrbClientConnectionManager* m_pManager;
    AcceptPause m_Accepts{*this};
};

} // namespace engine
