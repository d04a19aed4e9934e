// Throughput of the link I/O queue: queueing alone, and whole relays over loopback TCP between
// the queue's threads and a test switch.

#include <engine/LinkState.h>
#include <engine/OrbIOQueue.h>
#include <engine/OrbManagerDlg.h>
#include <engine/OrbSocket.h>
#include <engine/TraceSettings.h>
#include <testsupport/TestSwitch.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <vector>

using namespace engine;

using testsupport::TestSwitch;

namespace {

constexpr int kBodySize = 30; // about a call event or request
constexpr int kBatch = 1000;

// A request to the switch: its kind byte, then its letter.
std::vector<std::uint8_t> Body(std::uint8_t letter) {
    std::vector<std::uint8_t> body(kBodySize, 0x05);
    body[0] = 0x02;
    body[1] = letter;
    return body;
}

// An event from the switch begins with its letter (anything else is screened out).
std::vector<std::uint8_t> EventBody(std::uint8_t letter) {
    std::vector<std::uint8_t> body(kBodySize, 0x05);
    body[0] = letter;
    return body;
}

// A started queue on a live link to a test switch.
struct Link {
    Link() {
        g_nDebugMsgPrint = 0; // the hex traces would measure the terminal
        owner.m_nConnType = kConnTypeTcp;
        auto* socket = new COrbSocket;
        if (socket->Connect(peer.Host(), peer.Port(), SOCK_STREAM) != 1 ||
            !peer.WaitForConnection(5000))
            std::abort();
        g_pSwitchSocket = socket;
        peer.SetKeepRecords(false);
        queue = std::make_unique<COrbIOQueue>(&owner);
        queue->IOQueueStartThreads();
        g_bSwitchLinkUp = 1;
        g_hLinkAvailableEvent.Set();
    }
    ~Link() {
        queue->IOQueueClose();
        queue->JoinThreads();
        queue.reset();
        delete g_pSwitchSocket.exchange(nullptr);
        ResetLinkState();
    }

    TestSwitch peer;
    COrbManagerDlg owner;
    std::unique_ptr<COrbIOQueue> queue;
};

void BM_IOQueueWrite(benchmark::State& state) {
    g_nDebugMsgPrint = 0;
    COrbManagerDlg owner;
    owner.m_nConnType = kConnTypeTcp;
    COrbIOQueue queue(&owner); // no writer: the bodies stay queued
    const auto body = Body('D');
    int queued = 0;
    for (auto _ : state) {
        queue.IOQueueWrite(body.data(), kBodySize);
        if (++queued == 4096) {
            queue.IOQueueReset();
            queued = 0;
        }
    }
    state.SetItemsProcessed(state.iterations());
    ResetLinkState();
}
BENCHMARK(BM_IOQueueWrite);

// Switch -> reader thread -> input queue -> IOQueueRead.
void BM_IOQueueReadFromSwitch(benchmark::State& state) {
    Link link;
    std::vector<std::uint8_t> burst;
    const auto body = EventBody('E');
    for (int i = 0; i < kBatch; ++i) {
        burst.push_back(0);
        burst.push_back(kBodySize);
        burst.insert(burst.end(), body.begin(), body.end());
    }
    for (auto _ : state) {
        link.peer.SendRaw(burst);
        for (int i = 0; i < kBatch; ++i) {
            auto record = link.queue->IOQueueRead();
            if (!record)
                std::abort();
            benchmark::DoNotOptimize(record->data());
        }
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
    state.SetBytesProcessed(state.iterations() * kBatch * (kBodySize + 2));
}
BENCHMARK(BM_IOQueueReadFromSwitch)->Unit(benchmark::kMillisecond)->UseRealTime();

// IOQueueWrite -> writer thread -> socket -> switch.
void BM_IOQueueRelayToSwitch(benchmark::State& state) {
    Link link;
    const auto body = Body('D');
    std::size_t expected = 0;
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i)
            link.queue->IOQueueWrite(body.data(), kBodySize);
        expected += kBatch;
        if (!link.peer.WaitForRecords(expected, 30000))
            std::abort();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
    state.SetBytesProcessed(state.iterations() * kBatch * (kBodySize + 2));
}
BENCHMARK(BM_IOQueueRelayToSwitch)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
