// The start request of a monitor port, as two connected monitors send it (one part of input per
// receive), with the monitor count of the server starting empty, one short of the limit, or at
// it. After every request the count must match the admitted monitors, and each request is
// followed by a record sent to the port's monitors.
//
// Input: byte 0 (mod 3) picks the count at the start; then parts of a two-byte header (top bit:
// the second monitor) and the received bytes.

#include "FuzzApp.h"
#include "FuzzCheck.h"

#include <engine/MonitorConnectionManager.h>
#include <engine/OrbManagerDlg.h>
#include <engine/OrbMonitorClientSocket.h>
#include <engine/OrbMonitorListenSocket.h>
#include <engine/TraceSettings.h>

#include <platform/CriticalSection.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace engine;

namespace {

struct Rig {
    Rig() : manager(&dlg, shared) {
        fuzzrig::App();
        g_nDebugMsgPrint = std::getenv("FUZZ_TRACE") ? 2 : 0; // traces on for a look at one input
        FUZZ_CHECK(manager.CreateMonitorListen(0) == 1);
        std::string address;
        FUZZ_CHECK(manager.GetListenSocket()->GetSockName(address, listenPort));
    }

    COrbManagerDlg dlg;
    platform::CriticalSection shared;
    MonitorConnectionManager manager;
    unsigned listenPort = 0;
};

Rig& TheRig() {
    static Rig* rig = new Rig;
    return *rig;
}

int Admitted(const std::vector<COrbMonitorClientSocket*>& monitors) {
    return static_cast<int>(std::count_if(monitors.begin(), monitors.end(),
                                          [](auto* m) { return m->m_bAccepted.load() != 0; }));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    Rig& rig = TheRig();
    MonitorConnectionManager& manager = rig.manager;
    static constexpr std::array<int, 3> kBases{0, MonitorConnectionManager::kMaxMonitors - 1,
                                               MonitorConnectionManager::kMaxMonitors};
    const int base = kBases[data[0] % 3];
    rig.dlg.m_nMonitorCount = base;

    std::array<int, 2> peers{-1, -1};
    std::array<COrbMonitorClientSocket*, 2> monitors{nullptr, nullptr};
    for (int i = 0; i < 2; ++i) {
        peers[i] = fuzzrig::ConnectPeer(rig.listenPort);
        const bool full = base >= MonitorConnectionManager::kMaxMonitors;
        // The connection may reach the backlog a moment after the connect returns.
        for (int tries = 0; peers[i] >= 0 && !full && tries < 1000; ++tries) {
            manager.MonitorAccept();
            if (manager.GetMonitors().size() == static_cast<std::size_t>(i + 1))
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (full && peers[i] >= 0)
            manager.MonitorAccept();
        const std::vector<COrbMonitorClientSocket*> now = manager.GetMonitors();
        if (full) {
            FUZZ_CHECK(now.empty()); // a full server takes nobody in
            continue;
        }
        if (peers[i] < 0 || now.size() != static_cast<std::size_t>(i + 1)) {
            // No local port free for a moment: the machine's limit, not a finding.
            for (COrbMonitorClientSocket* monitor : now)
                manager.RemoveMonitor(monitor);
            for (int fd : peers)
                fuzzrig::ClosePeer(fd);
            fuzzrig::RunDeferredDeletes();
            FUZZ_CHECK(rig.dlg.m_nMonitorCount.load() == base);
            return 0;
        }
        monitors[i] = now.back();
    }

    const std::uint8_t record[] = {0x00, 0x04, 'S', 0x01, 0x02, 0x03};
    fuzzrig::ForEachPart(
        data + 1, size - 1, 2048, [&](bool second, const std::uint8_t* bytes, std::size_t count) {
            COrbMonitorClientSocket* monitor = monitors[second ? 1 : 0];
            std::vector<COrbMonitorClientSocket*> now = manager.GetMonitors();
            if (!monitor || std::find(now.begin(), now.end(), monitor) == now.end())
                return true; // removed by an earlier request
            manager.CheckMonitorConnectRequest(monitor, bytes, static_cast<int>(count));
            now = manager.GetMonitors();
            const int counted = rig.dlg.m_nMonitorCount.load();
            FUZZ_CHECK(counted == base + Admitted(now));
            FUZZ_CHECK(counted <= std::max(base, int{MonitorConnectionManager::kMaxMonitors}));
            manager.SendToMonitors(record, sizeof record, (count & 1) != 0, "Fuzz Port");
            return true;
        });

    for (COrbMonitorClientSocket* monitor : manager.GetMonitors())
        manager.RemoveMonitor(monitor);
    for (int fd : peers) {
        if (fd < 0)
            continue;
        fuzzrig::Drain(fd);
        fuzzrig::ClosePeer(fd);
    }
    fuzzrig::RunDeferredDeletes();
    FUZZ_CHECK(manager.GetMonitors().empty());
    FUZZ_CHECK(rig.dlg.m_nMonitorCount.load() == base);
    return 0;
}
