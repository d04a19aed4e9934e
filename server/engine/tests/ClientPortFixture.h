#pragma once

// The client ports as the engine's tests drive them: a port listening on an ephemeral port, the
// client objects found by their peer's port, and a fixture with the main dialog, recording hooks
// and every trace text.

#include <engine/LinkState.h>
#include <engine/OrbClientConnectionManager.h>
#include <engine/OrbClientSocketUser.h>
#include <engine/OrbListenSocket.h>
#include <engine/OrbManagerDlg.h>
#include <engine/ShellHooks.h>
#include <engine/TraceLog.h>
#include <testsupport/TestApp.h>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace clienttest {

// Starts the manager's listen on an ephemeral port (bypass: the second client port); the port.
inline unsigned Listen(engine::COrbClientConnectionManager& manager, int bypass) {
    EXPECT_EQ(manager.StartClientListen(0, bypass), 1);
    std::string address;
    unsigned port = 0;
    EXPECT_TRUE(manager.GetListenSocket()->GetSockName(address, port));
    return port;
}

// The client object of a peer (anything with a LocalPort), or null.
template <class PeerType>
engine::COrbClientSocketUser* Find(engine::COrbClientConnectionManager& manager,
                                   const PeerType& peer) {
    platform::CriticalSectionLock guard(manager.ClientListLock());
    for (engine::COrbClientSocketUser* c : manager.GetClients())
        if (c->m_nPeerPort == static_cast<int>(peer.LocalPort()))
            return c;
    return nullptr;
}

// The same once the manager has accepted the peer, running the event loop meanwhile.
template <class PeerType>
engine::COrbClientSocketUser* WaitFor(engine::COrbClientConnectionManager& manager,
                                      const PeerType& peer) {
    engine::COrbClientSocketUser* found = nullptr;
    testsupport::SpinUntil([&] { return (found = Find(manager, peer)) != nullptr; });
    return found;
}

inline std::size_t Count(engine::COrbClientConnectionManager& manager) {
    platform::CriticalSectionLock guard(manager.ClientListLock());
    return manager.GetClients().size();
}

struct RecordingHooks : engine::ShellHooks {
    std::vector<std::string> lines;
    int refreshes = 0, changes = 0;
    void AppendLogLine(int image, const std::string& text) override {
        lines.push_back(std::to_string(image) + ":" + text);
    }
    void RefreshClientList() override { ++refreshes; }
    void PurgeDeadClients() override {}
    void PlayLogoAnimation() override {}
    void ClientsChanged() override { ++changes; }
    void ShowStatusText(const std::string&) override {}
};

// The link up and the device list available, so the ports accept; resource texts "S<id>".
class ClientPortFixture : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::App();
        engine::g_bSwitchLinkUp = 1;
        engine::g_bDeviceListAvailable = 1;
        dlg.SetShellHooks(&hooks);
        dlg.SetResourceLookup([](int id) { return "S" + std::to_string(id); });
        engine::SetTraceDebugOutputHookForTest([this](const std::string& text) {
            std::lock_guard<std::mutex> guard(traceLock);
            traces.push_back(text);
        });
    }
    void TearDown() override {
        engine::SetTraceDebugOutputHookForTest({});
        dlg.SetShellHooks(nullptr);
        engine::ResetLinkState();
    }

    int TraceCount(const std::string& text) {
        std::lock_guard<std::mutex> guard(traceLock);
        int n = 0;
        for (const std::string& t : traces)
            n += t.find(text) != std::string::npos ? 1 : 0;
        return n;
    }
    // Index of the first trace holding the text, or -1.
    int TraceIndex(const std::string& text) {
        std::lock_guard<std::mutex> guard(traceLock);
        for (std::size_t i = 0; i < traces.size(); ++i)
            if (traces[i].find(text) != std::string::npos)
                return static_cast<int>(i);
        return -1;
    }
    template <class PeerType> static std::string Suffix(const PeerType& peer) {
        return "[IP Address : 127.0.0.1, Port No : " + std::to_string(peer.LocalPort()) + "]";
    }
    std::atomic<unsigned>& Slot(int slot) {
        return dlg.m_nKindLoginCounts[static_cast<std::size_t>(slot)];
    }

    engine::COrbManagerDlg dlg;
    RecordingHooks hooks;
    std::mutex traceLock;
    std::vector<std::string> traces;
};

} // namespace clienttest
