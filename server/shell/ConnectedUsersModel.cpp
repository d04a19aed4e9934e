#include "ConnectedUsersModel.h"

#include <engine/OrbClientConnectionManager.h>
#include <engine/OrbClientSocketUser.h>
#include <engine/OrbManagerDlg.h>
#include <engine/TraceLog.h>

#include <cstdlib>

namespace shell {

using namespace engine;

namespace {

constexpr int kIdsNoOwnLine = 178;

std::string KindTags(const COrbClientSocketUser& c) {
    const int hemlock = 33 - COrbClientSocketUser::kFirstNumberedKind;
    const std::pair<int, const char*> tags[] = {
        {c.m_bOak.load(), "[Oak]"},
        {c.m_bMaple.load(), "[Maple]"},
        {c.m_bDogwood.load(), "[Dogwood]"},
        {c.m_bNumberedKind[hemlock].load(), "[Hemlock]"},
        {c.m_bNumberedKind[hemlock + 1].load(), "[Willow]"},
        {c.m_bMsJuniper.load(), "[MS-Juniper]"},
        {c.m_bIbmJuniper.load(), "[IBM-Juniper]"},
        {c.m_bJuniper.load(), "[Juniper]"},
    };
    std::string out;
    for (const auto& [flag, tag] : tags)
        if (flag != 0)
            out += tag;
    return out.empty() ? "Unknown" : out;
}

COrbClientSocketUser* FindClient(COrbClientConnectionManager* manager, const std::string& ip,
                                 int port) REQUIRES(manager->ClientListLock()) {
    for (COrbClientSocketUser* client : manager->GetClients()) {
        std::string address;
        unsigned peerPort = 0;
        if (client->GetPeerName(address, peerPort) && address == ip &&
            static_cast<int>(peerPort) == port)
            return client;
    }
    return nullptr;
}

} // namespace

ConnectedUsersModel::ConnectedUsersModel(COrbManagerDlg& dlg) : m_dlg(dlg) {}

std::vector<ClientRow> ConnectedUsersModel::Rows() {
    std::vector<ClientRow> rows;
    COrbClientConnectionManager* manager = m_dlg.m_pBypassClientManager;
    if (manager == nullptr)
        return rows;
    std::vector<COrbClientSocketUser*> lost;
    {
        platform::CriticalSectionLock guard(manager->ClientListLock());
        for (COrbClientSocketUser* client : manager->GetClients()) {
            if (client->m_bRegistered.load() != 1)
                continue;
            std::string address;
            unsigned port = 0;
            if (!client->GetPeerName(address, port)) {
                lost.push_back(client);
                continue;
            }
            std::string labels;
            if (client->m_bMaple.load() != 0)
                labels += client->m_strLarchLabel;
            labels += client->m_strUnknownLabel;
            if (labels.empty())
                labels = m_dlg.ResString(kIdsNoOwnLine);
            rows.push_back({address, std::to_string(port), KindTags(*client), labels,
                            client->m_strConnectTime});
        }
    }
    // Closed outside the walk: the close takes the list's lock itself.
    for (COrbClientSocketUser* client : lost) {
        TraceLog("[ERROR] Veltrane Link V2 can't get the Client IP Address and Port No from the "
                 "peer system. Rejected!!!");
        manager->CloseUserConnection(client);
    }
    return rows;
}

std::string ConnectedUsersModel::CountText() const {
    return std::to_string(m_dlg.m_nBypassClientCount.load());
}

bool ConnectedUsersModel::Select(const ClientRow& row) {
    COrbClientConnectionManager* manager = m_dlg.m_pBypassClientManager;
    const int port = std::atoi(row.port.c_str());
    bool found = false;
    if (manager != nullptr) {
        platform::CriticalSectionLock guard(manager->ClientListLock());
        found = FindClient(manager, row.ipAddress, port) != nullptr;
    }
    m_strSelectedIp = found ? row.ipAddress : std::string();
    m_nSelectedPort = found ? port : -1;
    return found;
}

bool ConnectedUsersModel::DisconnectSelected() {
    if (!HasSelection())
        return false;
    const bool done = Disconnect(m_dlg.m_pBypassClientManager, m_strSelectedIp, m_nSelectedPort);
    m_strSelectedIp.clear();
    m_nSelectedPort = -1;
    return done;
}

bool ConnectedUsersModel::Disconnect(COrbClientConnectionManager* manager,
                                     const std::string& ipAddress, int port) {
    if (manager == nullptr)
        return false;
    COrbClientSocketUser* client = nullptr;
    {
        platform::CriticalSectionLock guard(manager->ClientListLock());
        client = FindClient(manager, ipAddress, port);
    }
    // Clients leave the list only on this thread, so the one found is still there.
    if (client == nullptr)
        return false;
    manager->CloseUserConnection(client);
    return true;
}

} // namespace shell
