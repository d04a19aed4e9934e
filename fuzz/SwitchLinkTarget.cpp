// The switch link's TCP reader: the input is the byte stream a switch sends on the link, written
// by a loopback peer to the real reader thread of a fresh link queue over a fresh connection,
// then the peer closes. Every record the reader passes on must be an event long enough for its
// letter, and the close must take the link down.

#include "FuzzCheck.h"
#include "LinkQueue.h"

#include <engine/LinkState.h>
#include <engine/OrbIOQueue.h>
#include <engine/OrbManagerDlg.h>
#include <engine/OrbSocket.h>
#include <engine/SwitchEventRecord.h>
#include <engine/TraceSettings.h>

#include <protocol/CtiRecord.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <thread>

using namespace engine;

namespace {

using Clock = std::chrono::steady_clock;

struct Rig {
    Rig() {
        g_nDebugMsgPrint = std::getenv("FUZZ_TRACE") ? 2 : 0; // traces on for a look at one input
        listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        FUZZ_CHECK(listener >= 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof addr;
        FUZZ_CHECK(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0);
        FUZZ_CHECK(::listen(listener, 4) == 0);
        FUZZ_CHECK(::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &length) == 0);
        port = ntohs(addr.sin_port);
        dlg.m_nConnType = kConnTypeTcp;
    }

    int listener = -1;
    int port = 0;
    COrbManagerDlg dlg;
};

Rig& TheRig() {
    static Rig* rig = new Rig;
    return *rig;
}

// What the reader hands on is an event whole enough for its letter.
void CheckRecord(const LinkRecord& record) {
    const std::optional<protocol::CtiRecord> framed =
        protocol::CtiRecord::At(protocol::ByteView(record));
    FUZZ_CHECK(framed && framed->Length() > 0);
    FUZZ_CHECK(record.size() <= protocol::CtiRecord::kMaxLinkRecordSize);
    const std::size_t needed = MinimumEventLength(framed->Body()[0]);
    FUZZ_CHECK(needed != 0 && framed->Length() >= needed);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Rig& rig = TheRig();
    auto* socket = new COrbSocket;
    FUZZ_CHECK(socket->Connect("127.0.0.1", rig.port, SOCK_STREAM, 2000) == 1);
    const int peer = ::accept4(rig.listener, nullptr, nullptr, SOCK_CLOEXEC);
    FUZZ_CHECK(peer >= 0);

    g_pSwitchSocket = socket;
    auto queue = fuzzrig::StartLinkQueue(rig.dlg);
    // Taken as the event handler would, since a link failure empties the queue.
    std::thread handler([&] {
        while (std::unique_ptr<LinkRecord> record = queue->IOQueueRead())
            CheckRecord(*record);
    });

    // A reset link stops reading: what it no longer takes is not waited for.
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    std::size_t sent = 0;
    while (sent < size && Clock::now() < deadline) {
        const ssize_t n = ::send(peer, data + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0)
            sent += static_cast<std::size_t>(n);
        else if (g_bSwitchLinkUp.load() == 0)
            break;
        else
            std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    ::shutdown(peer, SHUT_WR);
    // The end of the stream, or a run of malformed records before it, takes the link down.
    FUZZ_CHECK(g_hLinkFailureEvent.Wait(30000) == platform::Event::WaitResult::Signaled);
    FUZZ_CHECK(g_bSwitchLinkUp.load() == 0);
    FUZZ_CHECK(g_pSwitchSocket.load() == nullptr);

    queue->IOQueueClose();
    FUZZ_CHECK(queue->JoinThreads(30000));
    handler.join();
    rig.dlg.m_pIOQueue = nullptr;
    queue.reset(); // with the retired socket
    ::close(peer);
    ResetLinkState();
    return 0;
}
