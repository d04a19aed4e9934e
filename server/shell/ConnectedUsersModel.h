#pragma once

#include <string>
#include <vector>

namespace engine {
class COrbClientConnectionManager;
class COrbManagerDlg;
} // namespace engine

namespace shell {

// One row of a client list: peer address, port, client kinds, own-line labels, connect time.
struct ClientRow {
    std::string ipAddress, port, kinds, labels, connectTime;
};

// The connected-users dialog over the second client port's clients, and the disconnect both
// client lists share.
class ConnectedUsersModel {
public:
    explicit ConnectedUsersModel(engine::COrbManagerDlg& dlg);

    // The registered clients of the second port, under its client-list lock. A client whose
    // peer can't be read any more is closed and left out.
    std::vector<ClientRow> Rows();
    std::string CountText() const;

    // The row's client is still connected (peer address and port match one).
    bool Select(const ClientRow& row);
    bool HasSelection() const { return m_nSelectedPort >= 0; }
    // After the disconnect dialog ended with OK: the selected client goes when it is still there.
    bool DisconnectSelected();

    // The client of `manager` at that address and port, if still connected; closed, true.
    static bool Disconnect(engine::COrbClientConnectionManager* manager,
                           const std::string& ipAddress, int port);

private:
    engine::COrbManagerDlg& m_dlg;
    std::string m_strSelectedIp;
    int m_nSelectedPort = -1;
};

} // namespace shell
