#pragma once

// Shared by the login, dispatch and local-service tests: a client application's end of a
// connection, a fixture with both client ports of a server whose device table holds a few
// devices, and optionally a live link I/O queue towards a test switch.

#include "ClientPortFixture.h"
#include <engine/OrbIOQueue.h>
#include <engine/OrbSocket.h>
#include <engine/SwitchDeviceTable.h>
#include <engine/TraceLog.h>
#include <engine/TraceSettings.h>
#include <testsupport/CheckedPeer.h>
#include <testsupport/TestApp.h>
#include <testsupport/TestSwitch.h>

#include <protocol/CtiRecord.h>

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace clienttest {

using Bytes = std::vector<std::uint8_t>;
using testsupport::SpinFor;
using testsupport::SpinUntil;
using testsupport::TestSwitch;

// A client application: sends raw bytes, cuts what arrives into records, sees the close.
class Peer : public testsupport::CheckedPeer {
public:
    explicit Peer(unsigned port) : CheckedPeer(static_cast<int>(port)) { EXPECT_TRUE(Connected()); }
    bool WaitForRecords(std::size_t count) {
        return SpinUntil([&] { return Records().size() >= count; });
    }
};

// A request record: length, 0x02, the letter, FF FF, the four digit bytes, the argument byte,
// the parameter byte, then `data`.
inline Bytes Request(std::uint8_t letter, Bytes digits = {0xFF, 0xFF, 0xFF, 0xFF},
                     std::uint8_t argument = 0x00, std::uint8_t parameter = 0x00,
                     const Bytes& data = {}) {
    Bytes body{0x02, letter, 0xFF, 0xFF};
    body.insert(body.end(), digits.begin(), digits.end());
    body.push_back(argument);
    body.push_back(parameter);
    body.insert(body.end(), data.begin(), data.end());
    return protocol::CtiRecord::Encode(body);
}

inline Bytes Login(std::uint8_t kind) {
    return Request('a', {0xFF, 0xFF, 0xFF, 0xFF}, kind);
}

inline Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

class ClientRequestFixture : public ClientPortFixture {
protected:
    static constexpr int kDevices = 3;

    void SetUp() override {
        ClientPortFixture::SetUp();
        savedDebugPrint = engine::g_nDebugMsgPrint.load();
        engine::g_nDebugMsgPrint = 2;
        table = std::make_unique<engine::SwitchDeviceTable>(&dlg);
        for (int i = 0; i < kDevices; ++i)
            AddDevice(i);
        table->SetEndRecord(EndBody());
        dlg.m_pDeviceTable = table.get();

        clientPort = std::make_unique<engine::COrbClientConnectionManager>(&dlg);
        bypassPort = std::make_unique<engine::COrbClientConnectionManager>(&dlg);
        for (engine::COrbClientConnectionManager* m : {clientPort.get(), bypassPort.get()})
            m->SetPauseFunction([this](int ms) { pauses.push_back(ms); });
        firstPort = Listen(*clientPort, 0);
        secondPort = Listen(*bypassPort, 1);
        dlg.m_pClientManager = clientPort.get();
        dlg.m_pBypassClientManager = bypassPort.get();
    }
    void TearDown() override {
        dlg.m_pClientManager = nullptr;
        dlg.m_pBypassClientManager = nullptr;
        if (clientPort)
            clientPort->CloseAllClients();
        if (bypassPort)
            bypassPort->CloseAllClients();
        SpinFor(std::chrono::milliseconds(5)); // deferred deletes run
        clientPort.reset();
        bypassPort.reset();
        StopLink();
        dlg.m_pDeviceTable = nullptr;
        table.reset();
        engine::g_nDebugMsgPrint = savedDebugPrint;
        ClientPortFixture::TearDown();
    }

    // Device i: an 'A' body with the index, the number 2 0 i, and type 1.
    static Bytes DeviceBody(int i) {
        return Bytes{'A',  0x00, static_cast<std::uint8_t>(i),
                     0x02, 0x00, static_cast<std::uint8_t>(i),
                     0xFF, 0x00, 0x01,
                     0x00};
    }
    static Bytes EndBody() {
        return Bytes{'A', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00};
    }
    // What a client receives for device i, and for the end record.
    static Bytes DeviceRecord(int i) { return Join({{0x00, 0x0A}, DeviceBody(i)}); }
    static Bytes EndRecord() { return Join({{0x00, 0x0A}, EndBody()}); }
    void AddDevice(int i) {
        ASSERT_EQ(table->AddDevice("20" + std::to_string(i), DeviceBody(i), 1, i + 1), 1);
    }
    // The device list as a client receives it after a login.
    static std::vector<Bytes> DeviceList(int count = kDevices) {
        std::vector<Bytes> list;
        for (int i = 0; i < count; ++i)
            list.push_back(DeviceRecord(i));
        list.push_back(EndRecord());
        return list;
    }

    // A live link: the queue's writer sends every forwarded body to the test switch.
    void StartLink() {
        ASSERT_TRUE(theSwitch.IsListening());
        dlg.m_nConnType = engine::kConnTypeTcp;
        auto* socket = new engine::COrbSocket;
        engine::g_pSwitchSocket = socket;
        ASSERT_EQ(socket->Connect(theSwitch.Host(), theSwitch.Port(), SOCK_STREAM, 5000), 1);
        ASSERT_TRUE(theSwitch.WaitForConnection(5000));
        queue = std::make_unique<engine::COrbIOQueue>(&dlg);
        dlg.m_pIOQueue = queue.get();
        queue->IOQueueStartThreads();
        engine::g_hLinkAvailableEvent.Set();
    }
    // Runs the event loop (the client's receives need it) until the switch has `count` records.
    bool SwitchGot(std::size_t count) {
        return SpinUntil([&] { return theSwitch.RecordCount() >= count; });
    }
    void StopLink() {
        if (queue) {
            queue->IOQueueClose();
            EXPECT_TRUE(queue->JoinThreads());
            dlg.m_pIOQueue = nullptr;
            queue.reset();
        }
        delete engine::g_pSwitchSocket.exchange(nullptr);
    }

    // A connected peer whose client object the manager holds.
    engine::COrbClientSocketUser* Connect(engine::COrbClientConnectionManager& manager,
                                          const Peer& peer) {
        engine::COrbClientSocketUser* client = WaitFor(manager, peer);
        EXPECT_NE(client, nullptr);
        return client;
    }

    std::vector<int> pauses;
    std::unique_ptr<engine::SwitchDeviceTable> table;
    std::unique_ptr<engine::COrbClientConnectionManager> clientPort;
    std::unique_ptr<engine::COrbClientConnectionManager> bypassPort;
    unsigned firstPort = 0, secondPort = 0;
    TestSwitch theSwitch;
    std::unique_ptr<engine::COrbIOQueue> queue;
    std::uint32_t savedDebugPrint = 2;
};

} // namespace clienttest
