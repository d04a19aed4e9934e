// The cost of queueing a batch of events for many clients and gathering each client's share into
// its send: every record copied into every client's buffer, against one shared copy that the
// buffers refer to. The sink takes everything without copying, so what is left is the buffers'
// own work.

#include <engine/ClientSendBuffer.h>
#include <engine/SendBatch.h>

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

using namespace engine;

namespace {

constexpr int kRecordSize = 100; // a call event in its frame
constexpr int kEvents = 64;      // a batch the event handler takes at high rates

class NullSink : public ClientSendSink {
public:
    int SendBytes(const std::uint8_t*, int length, int&) override { return length; }
    int SendPieces(const Piece* pieces, int count, int&) override {
        std::size_t total = 0;
        for (int i = 0; i < count; ++i)
            total += pieces[i].length;
        return static_cast<int>(total);
    }
    void RequestWritable() override {}
    void SendFailed(int, const std::array<int, kTagCount>&) override {}
};

void Deliver(benchmark::State& state, bool shared) {
    const auto clients = static_cast<std::size_t>(state.range(0));
    NullSink sink;
    std::vector<std::unique_ptr<ClientSendBuffer>> buffers;
    for (std::size_t i = 0; i < clients; ++i)
        buffers.push_back(std::make_unique<ClientSendBuffer>(sink));
    const std::vector<std::uint8_t> frame(kRecordSize, 0x45);
    std::vector<ClientSendBuffer::Record> records(kEvents);
    std::vector<int> errors(kEvents);
    for (auto _ : state) {
        // The handler's one copy.
        auto batch = std::make_shared<SendBatch>(kEvents * kRecordSize);
        for (int i = 0; i < kEvents; ++i) {
            records[static_cast<std::size_t>(i)] = {batch->Data() + batch->Size(), kRecordSize};
            batch->Append(frame.data(), frame.size());
        }
        for (const auto& buffer : buffers) {
            ClientSendBuffer::Need need;
            if (shared)
                buffer->PostAll(batch, records.data(), records.size(), 1, errors.data(), need);
            else
                buffer->PostAll(records.data(), records.size(), 1, errors.data(), need);
        }
        for (const auto& buffer : buffers)
            buffer->FlushOnce();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kEvents);
}

void BM_DeliverCopiedToEachClient(benchmark::State& state) {
    Deliver(state, false);
}

void BM_DeliverSharedByAllClients(benchmark::State& state) {
    Deliver(state, true);
}

} // namespace

BENCHMARK(BM_DeliverCopiedToEachClient)->Arg(1)->Arg(200)->Arg(500);
BENCHMARK(BM_DeliverSharedByAllClients)->Arg(1)->Arg(200)->Arg(500);
