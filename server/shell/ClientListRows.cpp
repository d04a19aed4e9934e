#include "OrbManagerServer.h"
#include "ShellDialogs.h"

#include <engine/LinkState.h>
#include <engine/OrbClientConnectionManager.h>
#include <engine/OrbClientSocketUser.h>

#include <atomic>

namespace shell {

using namespace engine;

namespace {

constexpr int kIdsNoOwnLine = 178;
constexpr int kIdsUserTypeLine = 181;
constexpr int kIdsUserTypeOther = 182;
constexpr int kIdsNoLineDevice = 185;

// The client kinds of the client port, in the order their tags are joined.
const std::pair<std::atomic<int> COrbClientSocketUser::*, const char*> kKindTags[] = {
    {&COrbClientSocketUser::m_bPoplar, "[Poplar]"},   {&COrbClientSocketUser::m_bRowan, "[Rowan]"},
    {&COrbClientSocketUser::m_bSpruce, "[Spruce]"},   {&COrbClientSocketUser::m_bHazel, "[Hazel]"},
    {&COrbClientSocketUser::m_bFir, "[Fir]"},         {&COrbClientSocketUser::m_bElm, "[Elm]"},
    {&COrbClientSocketUser::m_bDogwood, "[Dogwood]"}, {&COrbClientSocketUser::m_bCedar, "[Cedar]"},
    {&COrbClientSocketUser::m_bBirch, "[Birch]"},     {&COrbClientSocketUser::m_bAlder, "[Alder]"},
};

std::string KindTags(const COrbClientSocketUser& client) {
    std::string tags;
    for (const auto& [flag, tag] : kKindTags)
        if ((client.*flag).load() != 0)
            tags += tag;
    return tags;
}

} // namespace

std::vector<std::string> OrbManagerServer::ClientListTitles() const {
    const bool users = m_bUseUserManager.load() == 1;
    const std::vector<int> ids = users ? std::vector<int>{110, 111, 109, 183, 112, 122, 184}
                                       : std::vector<int>{110, 111, 183, 122, 317};
    std::vector<std::string> titles;
    titles.reserve(ids.size());
    for (int id : ids)
        titles.push_back(ResString(id));
    return titles;
}

std::vector<std::vector<std::string>> OrbManagerServer::ClientListRows() const {
    std::vector<std::vector<std::string>> rows;
    COrbClientConnectionManager* manager = m_pClientManager;
    // Before the download has ended the list stays empty.
    if (manager == nullptr || g_bDeviceListAvailable.load() != 1)
        return rows;

    if (m_bUseUserManager.load() == 1) {
        // The user list's lock before the client-list lock.
        UserList& users = const_cast<UserList&>(m_UserList);
        platform::CriticalSectionLock userGuard(users.Lock());
        platform::CriticalSectionLock listGuard(manager->ClientListLock());
        for (const COrbClientSocketUser* client : manager->GetClients()) {
            std::string address;
            unsigned port = 0;
            if (client->m_bRegistered.load() != 1 || !client->GetPeerName(address, port))
                continue;
            const UserRecord* record = users.FindByIPAddress(address);
            if (record == nullptr)
                continue;
            const bool line = record->GetUserType() == 0;
            rows.push_back(
                {record->GetIPAddress(), std::to_string(port), record->GetUserName(),
                 ResString(line ? kIdsUserTypeLine : kIdsUserTypeOther),
                 line ? "QMX Line " + record->GetDeviceID() : ResString(kIdsNoLineDevice),
                 ResString(kIdsNoOwnLine), record->GetUserInfo()});
        }
        return rows;
    }

    platform::CriticalSectionLock listGuard(manager->ClientListLock());
    for (const COrbClientSocketUser* client : manager->GetClients()) {
        std::string address;
        unsigned port = 0;
        if (!client->GetPeerName(address, port))
            continue;
        std::string labels;
        const std::pair<const std::atomic<int>*, const std::string*> owned[] = {
            {&client->m_bRowan, &client->m_strRowanLabel},
            {&client->m_bElm, &client->m_strElmLabel},
            {&client->m_bCedar, &client->m_strCedarLabel},
            {&client->m_bBirch, &client->m_strBirchLabel},
            {&client->m_bMaple, &client->m_strLarchLabel}};
        for (const auto& [flag, label] : owned)
            if (flag->load() != 0 && !label->empty())
                labels += *label;
        labels += client->m_strUnknownLabel;
        if (labels.empty())
            labels = ResString(kIdsNoOwnLine);
        rows.push_back(
            {address, std::to_string(port), KindTags(*client), labels, client->m_strConnectTime});
    }
    return rows;
}

void OrbManagerServer::ShowClientList() {
    if (!m_pView)
        return;
    m_pView->SetClientRows(ClientListRows());
    m_pView->SetClientCountText(std::to_string(m_nClientCount.load()));
}

void OrbManagerServer::CloseDeadClients() {
    for (COrbClientConnectionManager* manager : {m_pClientManager, m_pBypassClientManager})
        if (manager != nullptr)
            manager->PurgeDeadClients();
}

void OrbManagerServer::OnClientsChanged() {
    ShowClientList();
    m_pDialogs->ClientsChanged();
}

} // namespace shell
