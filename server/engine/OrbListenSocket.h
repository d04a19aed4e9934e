#pragma once

#include <platform/AsyncSocket.h>

class COrbClientConnectionManager;

// The listening socket of one client port; every pending connection goes to its manager.
class COrbListenSocket : public platform::AsyncSocket {
public:
    explicit COrbListenSocket(COrbClientConnectionManager* manager);
    ~COrbListenSocket() override;

    COrbClientConnectionManager* GetManager() const { return m_pManager; }

protected:
    void OnAccept(int err) override;

private:
    COrbClientConnectionManager* m_pManager;
};
