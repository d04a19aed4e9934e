// A client's request records through the real dispatcher: logins, logout, local services and
// forwarding, for two clients of one port (the first or the second), with the switch side a link
// queue whose threads never run. Every record is handed over in a buffer of its own exact size.
//
// Input: byte 0 picks the port (bit 0), the switch type (bit 1), the LinnetPlus option (bit 2)
// and whether the second client is registered by a login first (bit 3); then parts of a
// two-byte header (top bit: the second client) and the record bytes.

#include "FuzzApp.h"
#include "FuzzCheck.h"

#include <engine/LinkState.h>
#include <engine/OrbClientConnectionManager.h>
#include <engine/OrbClientSocketUser.h>
#include <engine/OrbIOQueue.h>
#include <engine/OrbListenSocket.h>
#include <engine/OrbManagerDlg.h>
#include <engine/SwitchDeviceTable.h>
#include <engine/TraceSettings.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace engine;

namespace {

struct Rig {
    Rig() : table(&dlg), queue(&dlg) {
        fuzzrig::App();
        g_nDebugMsgPrint = std::getenv("FUZZ_TRACE") ? 2 : 0; // traces on for a look at one input
        dlg.SetResourceLookup([](int id) { return "S" + std::to_string(id); });
        for (int i = 0; i < 3; ++i) {
            const std::vector<std::uint8_t> body{'A',  0x00, static_cast<std::uint8_t>(i),
                                                 0x02, 0x00, static_cast<std::uint8_t>(i),
                                                 0xFF, 0x00, 0x01,
                                                 0x00};
            table.AddDevice("20" + std::to_string(i), body, 1, i + 1);
        }
        table.SetEndRecord(
            std::vector<std::uint8_t>{'A', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00});
        dlg.m_pDeviceTable = &table;
        dlg.m_pIOQueue = &queue;
        for (int mode = 0; mode < 2; ++mode) {
            ports[mode] = std::make_unique<COrbClientConnectionManager>(&dlg);
            ports[mode]->SetPauseFunction([](int) {});
            FUZZ_CHECK(ports[mode]->StartClientListen(0, mode) == 1);
            std::string address;
            FUZZ_CHECK(ports[mode]->GetListenSocket()->GetSockName(address, listenPort[mode]));
        }
        dlg.m_pClientManager = ports[0].get();
        dlg.m_pBypassClientManager = ports[1].get();
    }

    COrbManagerDlg dlg;
    SwitchDeviceTable table;
    COrbIOQueue queue;
    std::array<std::unique_ptr<COrbClientConnectionManager>, 2> ports;
    std::array<unsigned, 2> listenPort{};
};

Rig& TheRig() {
    static Rig* rig = new Rig; // kept to the end, like the application object
    return *rig;
}

std::vector<COrbClientSocketUser*> Clients(COrbClientConnectionManager& port) {
    platform::CriticalSectionLock guard(port.ClientListLock());
    return port.GetClients();
}

bool Holds(COrbClientConnectionManager& port, COrbClientSocketUser* client) {
    const std::vector<COrbClientSocketUser*> clients = Clients(port);
    return std::find(clients.begin(), clients.end(), client) != clients.end();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    Rig& rig = TheRig();
    const int mode = data[0] & 1;
    COrbClientConnectionManager& port = *rig.ports[mode];
    rig.dlg.m_nSwitchType = (data[0] >> 1) & 1;
    rig.dlg.m_bUseLinnetPlusMsg = (data[0] >> 2) & 1;
    g_bSwitchLinkUp = 1;
    g_bDeviceListAvailable = 1;

    std::array<int, 2> peers{-1, -1};
    std::array<COrbClientSocketUser*, 2> clients{nullptr, nullptr};
    for (int i = 0; i < 2; ++i) {
        peers[i] = fuzzrig::ConnectPeer(rig.listenPort[mode]);
        // The connection may reach the backlog a moment after the connect returns.
        for (int tries = 0; peers[i] >= 0 && tries < 1000; ++tries) {
            port.ClientAccept();
            if (Clients(port).size() == static_cast<std::size_t>(i + 1))
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const std::vector<COrbClientSocketUser*> now = Clients(port);
        if (peers[i] < 0 || now.size() != static_cast<std::size_t>(i + 1)) {
            // No local port free for a moment: the machine's limit, not a finding.
            for (COrbClientSocketUser* client : now)
                port.CloseUserConnection(client);
            for (int fd : peers)
                fuzzrig::ClosePeer(fd);
            fuzzrig::RunDeferredDeletes();
            return 0;
        }
        clients[i] = now.back();
    }
    if (data[0] & 8) {
        const std::uint8_t login[] = {0x00, 0x0A, 0x02, 'a',  0xFF, 0xFF,
                                      0xFF, 0xFF, 0xFF, 0xFF, 0x06, 0x00};
        port.DispatchClientMessage(clients[1], login, sizeof login);
    }

    fuzzrig::ForEachPart(data + 1, size - 1, 512,
                         [&](bool second, const std::uint8_t* record, std::size_t length) {
                             COrbClientSocketUser* client = clients[second ? 1 : 0];
                             if (!Holds(port, client))
                                 return true; // closed by an earlier record
                             port.DispatchClientMessage(client, record, static_cast<int>(length));
                             return true;
                         });

    for (COrbClientSocketUser* client : Clients(port))
        port.CloseUserConnection(client);
    for (int fd : peers) {
        fuzzrig::Drain(fd);
        fuzzrig::ClosePeer(fd);
    }
    fuzzrig::RunDeferredDeletes();
    rig.queue.IOQueueReset();

    // Every login a closed client counted has been taken back.
    FUZZ_CHECK(Clients(port).empty());
    FUZZ_CHECK(rig.dlg.m_nClientCount.load() == 0);
    FUZZ_CHECK(rig.dlg.m_nBypassClientCount.load() == 0);
    for (const auto& count : rig.dlg.m_nKindLoginCounts)
        FUZZ_CHECK(count.load() == 0);
    return 0;
}
