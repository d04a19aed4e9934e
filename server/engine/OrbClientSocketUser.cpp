#include "OrbClientSocketUser.h"

#include "OrbClientConnectionManager.h"
#include "TraceLog.h"

#include <algorithm>
#include <cerrno>

namespace engine {

COrbClientSocketUser::COrbClientSocketUser(COrbClientConnectionManager* manager)
    : m_pManager(manager), m_Assembler(
                               protocol::RecordAssembler::BadLengthPolicy::SkipBody,
                               [this](const protocol::CtiRecord& record) { HandRecord(record); },
                               [this](std::uint16_t length) { DropBuffered(length); }) {}

COrbClientSocketUser::~COrbClientSocketUser() {
    m_pSender->Detach();
    EndLossRuns();
    m_IMDevices.clear();
}

void COrbClientSocketUser::Dispose() {
    if (m_bDisposed)
        return;
    m_bDisposed = true;
    // No sender thread may touch the socket once it closes.
    m_pSender->Detach();
    EndLossRuns();
    // Records still waiting in the current receive belong to a client that is gone.
    m_Assembler.Reset();
    if (m_nDepth > 0)
        DeleteLater();
    else
        delete this;
}

void COrbClientSocketUser::OnReceive(int) {
    NotificationScope scope(*this);
    const int n = Receive(m_ReceiveBuffer.data(), kReceiveBufferSize);
    if (n > 0) {
        m_Assembler.Feed(protocol::ByteView(m_ReceiveBuffer.data(), static_cast<std::size_t>(n)));
        return;
    }
    if (n == 0) {
        TraceLog("[ERROR] Client Socket OnReceive Function detected the socket close[IP Address - "
                 "%s, Port No - %d]",
                 m_strPeerAddress.c_str(), m_nPeerPort);
        if (m_pManager)
            m_pManager->CloseUserConnection(this);
        return;
    }
    const int err = GetLastError();
    // Nothing to read yet is no fault of the client.
    if (err == EWOULDBLOCK || err == EINTR)
        return;
    TraceLog("[ERROR] Client Socket OnReceive Function returns error[%d - %s]", err,
             SystemErrorText(err).c_str());
    if (m_pManager)
        m_pManager->CloseUserConnection(this);
}

void COrbClientSocketUser::HandRecord(const protocol::CtiRecord& record) {
    if (m_bDisposed || !m_pManager)
        return;
    const protocol::ByteView frame = record.Frame();
    m_pManager->DispatchClientMessage(this, frame.data(), static_cast<int>(frame.size()));
}

void COrbClientSocketUser::DropBuffered(std::uint16_t length) {
    TraceLog("[ERROR] Message Length is over 400 bytes[%ld]. Something Wrong!!!",
             static_cast<long>(length));
}

void COrbClientSocketUser::OnClose(int) {
    NotificationScope scope(*this);
    if (m_pManager)
        m_pManager->CloseUserConnection(this);
}

void COrbClientSocketUser::OnSend(int) {
    NotificationScope scope(*this);
    m_pSender->OnWritable();
}

int COrbClientSocketUser::SendRecord(const void* data, int length, int& error) {
    ClientSendBuffer::Need need = ClientSendBuffer::kNothing;
    if (m_pSender->Post(data, length, kSilent, error, need) != ClientSendBuffer::kAccepted)
        return -1;
    // This thread is the sender it asked for; what queues meanwhile goes with it.
    if (need == ClientSendBuffer::kSender)
        m_pSender->Unschedule();
    m_pSender->Flush();
    if (const int failed = m_pSender->FailedError()) {
        error = failed;
        return -1;
    }
    return length;
}

void COrbClientSocketUser::QueueEvents(const std::shared_ptr<const SendBatch>& batch,
                                       const ClientSendBuffer::Record* records, std::size_t count,
                                       LossTrace trace, int* errors, SendWakeList& wake,
                                       SendWakeList& later, SendWakeList& help) {
    ClientSendBuffer::Need need = ClientSendBuffer::kNothing;
    m_pSender->PostAll(batch, records, count, trace, errors, need);
    if (need == ClientSendBuffer::kSender)
        wake.push_back(m_pSender);
    else if (need == ClientSendBuffer::kSenderSoon)
        later.push_back(m_pSender);
    else if (need == ClientSendBuffer::kHelp)
        help.push_back(m_pSender);
}

std::size_t COrbClientSocketUser::PendingSendBytes() const {
    return m_pSender->TornBytes();
}

std::size_t COrbClientSocketUser::QueuedSendBytes() const {
    return m_pSender->QueuedBytes();
}

int COrbClientSocketUser::SendBytes(const std::uint8_t* data, int length, int& error) {
    const int n = Send(data, length);
    error = n < 0 ? GetLastError() : 0;
    return n;
}

int COrbClientSocketUser::SendPieces(const Piece* pieces, int count, int& error) {
    static_assert(kMaxPieces <= kMaxSendPieces);
    SendPiece vector[kMaxPieces];
    for (int i = 0; i < count; ++i)
        vector[i] = {pieces[i].data, pieces[i].length};
    const int n = platform::AsyncSocket::SendPieces(vector, count);
    error = n < 0 ? GetLastError() : 0;
    return n;
}

void COrbClientSocketUser::RequestWritable() {
    RequestWriteNotification();
}

void COrbClientSocketUser::SendFailed(int error, const std::array<int, kTagCount>& lost) {
    std::string address;
    unsigned port = 0;
    // The client port delivers nothing more to a peer that is gone, silently, as it never starts
    // a delivery to one; the second port reports every record.
    if (!GetPeerName(address, port))
        m_bPeerGone = true;
    for (int tag = m_bPeerGone.load() ? kSecondPortData : kClientPortEvent; tag < kTagCount; ++tag)
        for (int i = 0; i < lost[static_cast<std::size_t>(tag)]; ++i)
            TraceUndelivered(static_cast<LossTrace>(tag), error);
}

void COrbClientSocketUser::RecordsPosted(int tag, const int* errors, std::size_t count) {
    if (tag != kClientPortEvent && tag != kSecondPortData)
        return;
    const auto trace = static_cast<LossTrace>(tag);
    for (std::size_t i = 0; i < count; ++i)
        if (errors[i] != 0)
            TraceUndelivered(trace, errors[i]);
        else
            NoteDelivered(trace);
}

namespace {

constexpr auto kLossRunReport = std::chrono::seconds(1);

const char* LossNoun(COrbClientSocketUser::LossTrace trace) {
    return trace == COrbClientSocketUser::kClientPortEvent ? "Switch Events" : "Data records";
}

} // namespace

void COrbClientSocketUser::TraceUndelivered(LossTrace trace, int error) {
    if (trace != kClientPortEvent && trace != kSecondPortData)
        return;
    ++m_nLost;
    platform::LockGuard guard(m_RunLock);
    LossRun& run = m_Runs[static_cast<std::size_t>(trace)];
    const auto now = std::chrono::steady_clock::now();
    if (run.count++ > 0) {
        if (now - run.lastLine >= kLossRunReport) {
            run.lastLine = now;
            TraceLog("[ERROR] Client Socket Error. %lu %s lost so far in a row[IP - %s : %d]",
                     run.count, LossNoun(trace), m_strPeerAddress.c_str(), m_nPeerPort);
        }
        return;
    }
    run.lastLine = now;
    m_bRunOpen = true;
    if (trace == kClientPortEvent)
        TraceLog("[ERROR] Client Socket Error. Switch Event can't be delivered[IP - %s : %d]. "
                 "Error Code[%d : %s]",
                 m_strPeerAddress.c_str(), m_nPeerPort, error, SystemErrorText(error).c_str());
    else if (trace == kSecondPortData)
        TraceLog("[ERROR] Client Socket Error. Data can't be delivered[IP - %s : %d]. "
                 "Error Code[%d : %s]",
                 m_strPeerAddress.c_str(), m_nPeerPort, error, SystemErrorText(error).c_str());
}

void COrbClientSocketUser::NoteDelivered(LossTrace trace) {
    if (!m_bRunOpen.load(std::memory_order_relaxed))
        return;
    platform::LockGuard guard(m_RunLock);
    TraceRunEnd(trace);
}

void COrbClientSocketUser::TraceRunEnd(LossTrace trace) {
    LossRun& run = m_Runs[static_cast<std::size_t>(trace)];
    // A single loss is told by its first line alone.
    if (run.count > 1)
        TraceLog("[ERROR] Client Socket Error. %lu %s were lost in a row[IP - %s : %d]", run.count,
                 LossNoun(trace), m_strPeerAddress.c_str(), m_nPeerPort);
    run.count = 0;
    m_bRunOpen = std::any_of(m_Runs.begin(), m_Runs.end(),
                             [](const LossRun& other) { return other.count > 0; });
}

void COrbClientSocketUser::EndLossRuns() {
    platform::LockGuard guard(m_RunLock);
    TraceRunEnd(kClientPortEvent);
    TraceRunEnd(kSecondPortData);
}

int COrbClientSocketUser::AddIMDevice(const std::string& device) {
    if (IsIMDeviceRegistered(device))
        return 0;
    m_IMDevices.push_back(device);
    return 1;
}

void COrbClientSocketUser::RemoveIMDevice(const std::string& device) {
    const auto it = std::find(m_IMDevices.begin(), m_IMDevices.end(), device);
    if (it != m_IMDevices.end())
        m_IMDevices.erase(it);
}

int COrbClientSocketUser::IsIMDeviceRegistered(const std::string& device) const {
    return std::find(m_IMDevices.begin(), m_IMDevices.end(), device) != m_IMDevices.end() ? 1 : 0;
}

void COrbClientSocketUser::TraceIMDevices() const {
    if (m_IMDevices.empty())
        return;
    std::string text =
        "IM User List[Total Count : " + std::to_string(m_IMDevices.size()) + "] --> ";
    for (const std::string& device : m_IMDevices)
        if (!device.empty())
            text += device + " ";
    TraceLog("%s", text.c_str());
}

} // namespace engine
