#pragma once

// Shared by the login, dispatch and local-service tests: a client application's end of a
// connection, a fixture with both client ports of a server whose device table holds a few
// devices, and optionally a live link I/O queue towards a test switch.

#include "LinkState.h"
#include "OrbClientConnectionManager.h"
#include "OrbClientSocketUser.h"
#include "OrbIOQueue.h"
#include "OrbListenSocket.h"
#include "OrbManagerDlg.h"
#include "OrbSocket.h"
#include "SwitchDeviceTable.h"
#include "TestApp.h"
#include "TestSwitch.h"
#include "TraceLog.h"
#include "TraceSettings.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace clienttest {

using Bytes = std::vector<std::uint8_t>;
using platform::test::SpinFor;
using platform::test::SpinUntil;

// A client application: sends raw bytes, cuts what arrives into records, sees the close.
class Peer {
public:
    explicit Peer(unsigned port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        const int on = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
    }
    ~Peer() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    unsigned LocalPort() const {
        sockaddr_in addr{};
        socklen_t len = sizeof addr;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        return ntohs(addr.sin_port);
    }
    void Send(const Bytes& bytes) {
        ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }
    // Reads what has arrived; true once the server has closed the connection.
    bool Pump() {
        std::uint8_t buf[4096];
        for (;;) {
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n > 0) {
                raw_.insert(raw_.end(), buf, buf + n);
                continue;
            }
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
                closed_ = true;
            return closed_;
        }
    }
    bool Closed() { return Pump(); }
    // Every byte received so far.
    const Bytes& Raw() {
        Pump();
        return raw_;
    }
    // The complete records received so far, each with its length bytes.
    std::vector<Bytes> Records() {
        Pump();
        std::vector<Bytes> records;
        std::size_t at = 0;
        while (raw_.size() - at >= 2) {
            const std::size_t size = 2u + (raw_[at] << 8 | raw_[at + 1]);
            if (raw_.size() - at < size)
                break;
            records.emplace_back(raw_.begin() + static_cast<long>(at),
                                 raw_.begin() + static_cast<long>(at + size));
            at += size;
        }
        return records;
    }
    bool WaitForRecords(std::size_t count) {
        return SpinUntil([&] { return Records().size() >= count; });
    }
    void Clear() {
        Pump();
        raw_.clear();
    }

private:
    int fd_ = -1;
    Bytes raw_;
    bool closed_ = false;
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
    Bytes record{static_cast<std::uint8_t>(body.size() >> 8),
                 static_cast<std::uint8_t>(body.size() & 0xFF)};
    record.insert(record.end(), body.begin(), body.end());
    return record;
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

struct RecordingHooks : ShellHooks {
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

class ClientRequestFixture : public ::testing::Test {
protected:
    static constexpr int kDevices = 3;

    void SetUp() override {
        platform::test::App();
        savedDebugPrint = g_nDebugMsgPrint.load();
        g_nDebugMsgPrint = 2;
        g_bSwitchLinkUp = 1;
        g_bDeviceListAvailable = 1;
        dlg.SetShellHooks(&hooks);
        dlg.SetResourceLookup([](int id) { return "S" + std::to_string(id); });
        SetTraceDebugOutputHookForTest([this](const std::string& text) {
            std::lock_guard<std::mutex> guard(traceLock);
            traces.push_back(text);
        });
        table = std::make_unique<SwitchDeviceTable>(&dlg);
        for (int i = 0; i < kDevices; ++i)
            AddDevice(i);
        table->SetEndRecord(EndBody());
        dlg.m_pDeviceTable = table.get();

        clientPort = std::make_unique<COrbClientConnectionManager>(&dlg);
        bypassPort = std::make_unique<COrbClientConnectionManager>(&dlg);
        for (COrbClientConnectionManager* m : {clientPort.get(), bypassPort.get()})
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
        SetTraceDebugOutputHookForTest({});
        dlg.SetShellHooks(nullptr);
        g_nDebugMsgPrint = savedDebugPrint;
        ResetLinkState();
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
        dlg.m_nConnType = kConnTypeTcp;
        auto* socket = new COrbSocket;
        g_pSwitchSocket = socket;
        ASSERT_EQ(socket->Connect(theSwitch.Host(), theSwitch.Port(), SOCK_STREAM, 5000), 1);
        ASSERT_TRUE(theSwitch.WaitForConnection(5000));
        queue = std::make_unique<COrbIOQueue>(&dlg);
        dlg.m_pIOQueue = queue.get();
        queue->IOQueueStartThreads();
        g_hLinkAvailableEvent.Set();
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
        delete g_pSwitchSocket.exchange(nullptr);
    }

    static unsigned Listen(COrbClientConnectionManager& manager, int bypass) {
        EXPECT_EQ(manager.StartClientListen(0, bypass), 1);
        std::string address;
        unsigned port = 0;
        EXPECT_TRUE(manager.GetListenSocket()->GetSockName(address, port));
        return port;
    }
    static COrbClientSocketUser* Find(COrbClientConnectionManager& manager, const Peer& peer) {
        platform::CriticalSectionLock guard(manager.ClientListLock());
        for (COrbClientSocketUser* c : manager.GetClients())
            if (c->m_nPeerPort == static_cast<int>(peer.LocalPort()))
                return c;
        return nullptr;
    }
    static COrbClientSocketUser* WaitFor(COrbClientConnectionManager& manager, const Peer& peer) {
        COrbClientSocketUser* found = nullptr;
        SpinUntil([&] { return (found = Find(manager, peer)) != nullptr; });
        return found;
    }
    static std::size_t Count(COrbClientConnectionManager& manager) {
        platform::CriticalSectionLock guard(manager.ClientListLock());
        return manager.GetClients().size();
    }
    // A connected peer whose client object the manager holds.
    COrbClientSocketUser* Connect(COrbClientConnectionManager& manager, const Peer& peer) {
        COrbClientSocketUser* client = WaitFor(manager, peer);
        EXPECT_NE(client, nullptr);
        return client;
    }

    int TraceCount(const std::string& text) {
        std::lock_guard<std::mutex> guard(traceLock);
        int n = 0;
        for (const std::string& t : traces)
            n += t.find(text) != std::string::npos ? 1 : 0;
        return n;
    }
    int TraceIndex(const std::string& text) {
        std::lock_guard<std::mutex> guard(traceLock);
        for (std::size_t i = 0; i < traces.size(); ++i)
            if (traces[i].find(text) != std::string::npos)
                return static_cast<int>(i);
        return -1;
    }
    static std::string Suffix(const Peer& peer) {
        return "[IP Address : 127.0.0.1, Port No : " + std::to_string(peer.LocalPort()) + "]";
    }
    std::atomic<unsigned>& Slot(int slot) {
        return dlg.m_nKindLoginCounts[static_cast<std::size_t>(slot)];
    }

    COrbManagerDlg dlg;
    RecordingHooks hooks;
    std::mutex traceLock;
    std::vector<std::string> traces;
    std::vector<int> pauses;
    std::unique_ptr<SwitchDeviceTable> table;
    std::unique_ptr<COrbClientConnectionManager> clientPort;
    std::unique_ptr<COrbClientConnectionManager> bypassPort;
    unsigned firstPort = 0, secondPort = 0;
    TestSwitch theSwitch;
    std::unique_ptr<COrbIOQueue> queue;
    std::uint32_t savedDebugPrint = 2;
};

} // namespace clienttest
