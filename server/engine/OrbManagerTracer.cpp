#include "OrbManagerTracer.h"

#include "TraceLog.h"
#include "TraceSettings.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace engine {

namespace {

std::atomic<std::int32_t> g_nNextThreadId{1};

// Lines of a batch held back at most this many bytes before they are written.
constexpr std::size_t kMaxPendingBytes = 256 * 1024;

// Holds the trace queue's lock for a scope.
class SCOPED_CAPABILITY QueueGuard {
public:
    QueueGuard() ACQUIRE(g_TraceQueue) { g_TraceQueue.Lock(); }
    ~QueueGuard() RELEASE() { g_TraceQueue.Unlock(); }
    QueueGuard(const QueueGuard&) = delete;
    QueueGuard& operator=(const QueueGuard&) = delete;
};

// The tracer that TraceLog posts to, guarded by the trace queue's own lock. Queueing a line and
// retracting the tracer both happen under it, so every line queued before the retraction is in the
// queue before the final drain, and the queue's lock stays the only one a caller of TraceLog takes.
std::int32_t g_nSlotId GUARDED_BY(g_TraceQueue) = -1;
std::shared_ptr<TracerMessageQueue> g_pSlotQueue GUARDED_BY(g_TraceQueue);

// Folding and dropping.
std::string s_last GUARDED_BY(g_TraceQueue);
unsigned long s_repeats GUARDED_BY(g_TraceQueue) = 0;
unsigned long s_dropped GUARDED_BY(g_TraceQueue) = 0;

// The counts still held go to the final drain rather than being lost with the tracer.
void FlushHeldCounts() REQUIRES(g_TraceQueue) {
    if (s_repeats > 0)
        g_TraceQueue.AddTail("... repeated " + std::to_string(s_repeats) + " times");
    if (s_dropped > 0)
        g_TraceQueue.AddTail("[ERROR] The trace queue was full: " + std::to_string(s_dropped) +
                             " lines were dropped!!!");
    s_repeats = 0;
    s_dropped = 0;
    s_last.clear();
}

void Publish(std::int32_t id, std::shared_ptr<TracerMessageQueue> queue) {
    QueueGuard guard;
    g_nSlotId = id;
    g_pSlotQueue = std::move(queue);
    g_nTracerThreadId = id;
}

// Retracts only the given tracer, so a dying one cannot unpublish its successor.
void Unpublish(std::int32_t id) {
    QueueGuard guard;
    if (g_nSlotId == id) {
        FlushHeldCounts();
        g_nSlotId = -1;
        g_pSlotQueue.reset();
    }
    std::int32_t expected = id;
    g_nTracerThreadId.compare_exchange_strong(expected, -1);
}

bool Exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

bool EarlierThan(const timespec& a, const timespec& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

std::string ErrorDescription(int code) {
    std::string text = SystemErrorText(code);
    if (text.size() > 255)
        text.resize(255);
    return text;
}

} // namespace

std::string TraceLogFilePath(const std::string& directory, unsigned index) {
    return directory + "/brv" + std::to_string(index) + ".log";
}

// --- TracerStartedEvent ---

void TracerStartedEvent::Set() {
    platform::LockGuard guard(m_lock);
    m_bSet = true;
    m_changed.notify_all();
}

bool TracerStartedEvent::Wait(int timeoutMs) {
    platform::UniqueLock guard(m_lock);
    m_changed.wait_for(guard.Native(), std::chrono::milliseconds(std::max(timeoutMs, 0)),
                       [this]() REQUIRES(m_lock) { return m_bSet || m_bThreadEnded; });
    return m_bSet;
}

void TracerStartedEvent::NotifyThreadEnded() {
    platform::LockGuard guard(m_lock);
    m_bThreadEnded = true;
    m_changed.notify_all();
}

// --- TracerMessageQueue ---

bool TracerMessageQueue::Post(const TracerMessage& message) {
    platform::LockGuard guard(m_lock);
    if (m_bClosed)
        return false;
    m_messages.push_back(message);
    m_posted.notify_one();
    return true;
}

void TracerMessageQueue::LinesQueued(bool full) {
    platform::LockGuard guard(m_lock);
    if (!m_bLines) {
        m_bLines = true;
        m_linesSince = std::chrono::steady_clock::now();
        m_posted.notify_one();
    }
    if (full && !m_bFull) {
        m_bFull = true;
        m_posted.notify_one();
    }
}

TracerMessageQueue::Woken TracerMessageQueue::Wait(TracerMessage& message, int (*delayMs)()) {
    platform::UniqueLock guard(m_lock);
    for (;;) {
        if (!m_messages.empty()) {
            message = m_messages.front();
            m_messages.pop_front();
            return Woken::Message;
        }
        if (m_bClosed)
            return Woken::Closed;
        if (m_bLines) {
            const auto due = m_linesSince + std::chrono::milliseconds(std::max(delayMs(), 0));
            if (m_bFull || std::chrono::steady_clock::now() >= due) {
                m_bLines = false;
                m_bFull = false;
                return Woken::Lines;
            }
            m_posted.wait_until(guard.Native(), due);
        } else {
            m_posted.wait(guard.Native());
        }
    }
}

void TracerMessageQueue::Close() {
    platform::LockGuard guard(m_lock);
    m_bClosed = true;
    m_messages.clear();
    m_posted.notify_all();
}

// --- COrbManagerTracer ---

COrbManagerTracer::COrbManagerTracer()
    : m_nThreadId(g_nNextThreadId.fetch_add(1)), m_pQueue(std::make_shared<TracerMessageQueue>()) {}

COrbManagerTracer::~COrbManagerTracer() {
    if (m_thread.joinable()) {
        PostThreadMessage(WM_QUIT, 0, 0);
        m_thread.join();
    }
    CloseFile();
}

void COrbManagerTracer::SetStartedEvent(std::shared_ptr<TracerStartedEvent> event) {
    m_pStartedEvent = std::move(event);
}

bool COrbManagerTracer::CreateThread() {
    if (m_thread.joinable())
        return false;
    try {
        m_thread = std::thread([this] { ThreadMain(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

bool COrbManagerTracer::PostThreadMessage(unsigned message, std::uintptr_t wParam,
                                          std::intptr_t lParam) {
    return m_pQueue->Post(TracerMessage{message, wParam, lParam});
}

int COrbManagerTracer::GetExitCode() const {
    platform::LockGuard guard(m_stateLock);
    if (!m_thread.joinable() && !m_bEnded)
        return 0; // never started
    return m_bEnded ? m_nExitCode : kStillActive;
}

bool COrbManagerTracer::WaitForExit(int timeoutMs) {
    platform::UniqueLock guard(m_stateLock);
    return m_ended.wait_for(guard.Native(), std::chrono::milliseconds(std::max(timeoutMs, 0)),
                            [this]() REQUIRES(m_stateLock) { return m_bEnded; });
}

void COrbManagerTracer::Abandon(std::unique_ptr<COrbManagerTracer> tracer) {
    if (!tracer)
        return;
    COrbManagerTracer* self = tracer.get();
    {
        platform::LockGuard guard(self->m_stateLock);
        if (!self->m_bEnded && self->m_thread.joinable()) {
            self->m_bAbandoned = true;
            if (self->m_bPublished)
                Unpublish(self->m_nThreadId);
            self->PostThreadMessage(WM_QUIT, 0, 0);
            self->m_thread.detach();
            self->m_self = std::move(tracer);
            return;
        }
    }
    // Already ended: the destructor joins it here.
}

void COrbManagerTracer::ThreadMain() {
    int code = 0;
    if (InitInstance()) {
        code = Run();
    } else if (m_fd >= 0) {
        // Only a tracer that was given up gets here with a file. The trace queue is left alone:
        // its texts belong to the tracer that accepts lines, if any.
        WriteLogLine(">>> Veltrane Link V2 Message Tracer terminated.");
        CloseFile();
    }
    Unpublish(m_nThreadId);
    m_pQueue->Close();

    std::unique_ptr<COrbManagerTracer> self;
    platform::LockGuard guard(m_stateLock);
    m_nExitCode = code;
    m_bEnded = true;
    self = std::move(m_self);
    m_ended.notify_all();
    // After m_bEnded, so a starter woken here finds the thread ended and joins it.
    if (m_pStartedEvent)
        m_pStartedEvent->NotifyThreadEnded();
    // An abandoned tracer deletes itself when `self` goes, after the lock guard (declared later)
    // has released the lock.
}

int COrbManagerTracer::InitInstance() {
    m_nFileIndex = 0;
    std::string directory = GetTraceLogDirectory();
    if (directory.empty()) {
        char current[512];
        if (::getcwd(current, sizeof current) == nullptr)
            current[0] = '\0';
        directory = std::string(current) + "/Log";
        SetTraceLogDirectory(directory);
    }

    std::error_code error;
    if (!std::filesystem::is_directory(directory, error)) {
        std::filesystem::create_directories(directory, error);
        if (!std::filesystem::is_directory(directory, error)) {
            m_bFileOpen = 0;
            return 0;
        }
    }

    if (g_nTraceLevel.load() == 0) {
        TraceDebugOutput("[ERROR] Cannot open the log file for Veltrane Link V2. so it's not "
                         "possible to save any operation log");
        m_bFileOpen = 0;
        return 0;
    }

    // The first missing file, else the least recently written one, the lowest index among equals.
    // Entries that are not plain files are passed over.
    const unsigned count = std::max(1u, g_nLogFileCount.load());
    bool chosen = false;
    timespec oldest{};
    for (unsigned n = 0; n < count; ++n) {
        struct stat info {};
        if (::stat(TraceLogFilePath(directory, n).c_str(), &info) != 0) {
            if (errno != ENOENT)
                continue;
            m_nFileIndex = n;
            chosen = true;
            break;
        }
        if (!S_ISREG(info.st_mode))
            continue;
        if (!chosen || EarlierThan(info.st_mtim, oldest)) {
            oldest = info.st_mtim;
            m_nFileIndex = n;
            chosen = true;
        }
    }
    m_strFilePath = TraceLogFilePath(directory, m_nFileIndex);

    if (Exists(m_strFilePath) && ::unlink(m_strFilePath.c_str()) != 0) {
        TraceDebugOutput("[ERROR] Cannot delete the Log File.\n");
        m_bFileOpen = 0;
        return 0;
    }

    if (!OpenFile(m_strFilePath)) {
        m_bFileOpen = 0;
        TraceDebugOutput("[ERROR] " + SystemErrorText(errno) +
                         " Cannot Open a Log file and Cannot save any operation log at this time");
        return 0;
    }

    m_bFileOpen = 1;
    AddRaw("[" + TraceTimeStamp() +
           "]\t>>> Veltrane Link V2 Log File opened[FileName : " + m_strFilePath + "]\n");
    WriteLogLine(">>> Veltrane Link V2 Message Tracer initialized");

    platform::LockGuard guard(m_stateLock);
    if (m_bAbandoned)
        return 0;
    Publish(m_nThreadId, m_pQueue);
    m_bPublished = true;
    if (m_pStartedEvent)
        m_pStartedEvent->Set();
    return 1;
}

int COrbManagerTracer::Run() {
    TracerMessage message;
    for (;;) {
        const TracerMessageQueue::Woken woken = m_pQueue->Wait(message, TraceFlushDelayMs);
        if (woken == TracerMessageQueue::Woken::Closed)
            break;
        const bool quit = woken == TracerMessageQueue::Woken::Message && message.message == WM_QUIT;
        if (woken == TracerMessageQueue::Woken::Message && !quit &&
            message.message != WM_TRACE_QUEUED)
            continue;
        // What was queued before the quit is written as any other batch, its level checked.
        WriteQueued(true);
        if (quit)
            break;
    }
    // Lines queued up to here are all in the queue for the drain in ExitInstance.
    Unpublish(m_nThreadId);
    WriteLogLine(">>> [SELF INFO] Veltrane Link V2 Message Tracer pumps WM_QUIT");
    ExitInstance();
    return kNormalExitCode;
}

int COrbManagerTracer::ExitInstance() {
    WriteQueued(false);
    if (m_fd >= 0) {
        WriteLogLine(">>> Veltrane Link V2 Message Tracer terminated.");
        CloseFile();
    }
    return 0;
}

void COrbManagerTracer::WriteQueued(bool checkLevel) {
    // Taken under the queue's own lock, so a holder of that lock keeps the tracer waiting.
    m_batch.clear();
    g_TraceQueue.TakeAll(m_batch);
    const unsigned level = g_nTraceLevel.load();
    for (const LockedStringQueue::Entry& entry : m_batch) {
        // The counts the stop queues carry no time: they are told when written.
        if ((!checkLevel || level >= entry.level) && !entry.text.empty())
            AddLine(entry.text, entry.at ? *entry.at : Clock::now());
    }
    m_batch.clear();
    Flush();
}

bool COrbManagerTracer::OpenFile(const std::string& path) {
    // As fopen's "a", every write at the end, but not for every user to read: the trace names
    // the users, their addresses and all that the switch says.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0640);
    if (fd < 0)
        return false;
    struct stat info {};
    m_nWrittenBytes = ::fstat(fd, &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    m_strPending.clear();
    m_fd = fd;
    return true;
}

void COrbManagerTracer::AddRaw(const std::string& text) {
    if (m_fd < 0)
        return;
    m_strPending += text;
    if (m_strPending.size() >= kMaxPendingBytes)
        Flush();
}

bool COrbManagerTracer::Flush() {
    if (m_strPending.empty())
        return true;
    bool ok = true;
    const char* data = m_strPending.data();
    std::size_t left = m_strPending.size();
    while (m_fd >= 0 && left > 0) {
        const ssize_t written = ::write(m_fd, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            const int code = written < 0 && errno != 0 ? errno : EIO;
            TraceDebugOutput("[ERROR] " + ErrorDescription(code) + "\n");
            ok = false;
            break;
        }
        m_nWrittenBytes += static_cast<std::uint64_t>(written);
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    m_strPending.clear();
    return ok;
}

void COrbManagerTracer::CloseFile() {
    if (m_fd >= 0) {
        Flush();
        ::close(m_fd);
    }
    m_fd = -1;
    m_strPending.clear();
    m_bFileOpen = 0;
}

void COrbManagerTracer::WriteLogLine(const std::string& text) {
    AddLine(text, Clock::now());
    Flush();
}

void COrbManagerTracer::AddLine(const std::string& text, Clock::time_point at) {
    if (m_bFileOpen == 0 && !RetryReopen(at))
        return;
    if (FileBytes() + 2 * static_cast<std::uint64_t>(text.size()) + 2 > TraceLogFileByteLimit()) {
        Rotate(at);
        if (m_bFileOpen == 0)
            return;
    }
    std::string& out = m_strPending;
    out += '[';
    AppendTraceTimeStamp(out, at);
    out += "]\t";
    out += text;
    out += '\n';
    if (out.size() >= kMaxPendingBytes)
        Flush();
}

// The rotation's own lines carry the time of the line that asked for it, which was when it was
// traced.
void COrbManagerTracer::Rotate(Clock::time_point at) {
    AddRaw("[" + TraceTimeStamp(at) +
           "]\t >>> Veltrane Link V2 Log File closed[File Name : " + m_strFilePath + "]\n");
    CloseFile();
    const unsigned count = std::max(1u, g_nLogFileCount.load());
    const unsigned next = m_nFileIndex >= count - 1 ? 0 : m_nFileIndex + 1;
    OpenNextFile(next, at);
}

void COrbManagerTracer::OpenNextFile(unsigned index, Clock::time_point at) {
    m_bReopenPending = true;
    m_nReopenIndex = index;
    m_lastReopenTry = std::chrono::steady_clock::now();

    const std::string path = TraceLogFilePath(GetTraceLogDirectory(), index);
    if (Exists(path) && ::unlink(path.c_str()) != 0) {
        TraceDebugOutput("[ERROR] Cannot delete the Log File.\n");
        return;
    }
    if (!OpenFile(path)) {
        TraceDebugOutput("[ERROR] " + SystemErrorText(errno) +
                         " Cannot Open a Log file and cannot save any operation log at this "
                         "time.\n");
        return;
    }
    m_bReopenPending = false;
    m_nFileIndex = index;
    m_strFilePath = path;
    m_bFileOpen = 1;
    AddRaw("[" + TraceTimeStamp(at) +
           "]\t [SELF INFO] >>> Veltrane Link V2 Log File opened[FileName : " + m_strFilePath +
           "]\n");
}

bool COrbManagerTracer::RetryReopen(Clock::time_point at) {
    if (!m_bReopenPending)
        return false;
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastReopenTry < std::chrono::milliseconds(TraceLogReopenIntervalMs()))
        return false;
    OpenNextFile(m_nReopenIndex, at);
    return m_bFileOpen != 0;
}

// --- start and stop ---

bool StartMessageTracer(std::unique_ptr<COrbManagerTracer>& tracer) {
    auto started = std::make_shared<TracerStartedEvent>();
    auto created = std::make_unique<COrbManagerTracer>();
    created->SetStartedEvent(started);
    if (created->CreateThread() && started->Wait(1000)) {
        tracer = std::move(created);
        return true;
    }
    TraceLog("[ERROR] Failed to initialize the Veltrane Link V3 Message Tracer.");
    COrbManagerTracer::Abandon(std::move(created));
    return false;
}

void StopMessageTracer(std::unique_ptr<COrbManagerTracer>& tracer) {
    bool quitPosted = false;
    while (tracer) {
        RetractMessageTracer();
        const int code = tracer->GetExitCode();
        if (code == COrbManagerTracer::kStillActive) {
            TraceLog(">>> Veltrane Link V2 Message Tracer is still active");
            if (!quitPosted) {
                tracer->PostThreadMessage(COrbManagerTracer::WM_QUIT, 0, 0);
                quitPosted = true;
            }
            // Yields instead of spinning while the tracer drains its queue.
            tracer->WaitForExit(100);
            continue;
        }
        tracer.reset();
        if (code != COrbManagerTracer::kNormalExitCode)
            TraceLog(">>> Veltrane Link V2 Message Tracer killed.");
    }
}

void RetractMessageTracer() {
    QueueGuard guard;
    if (g_nSlotId != -1)
        FlushHeldCounts();
    g_nTracerThreadId = -1;
    g_nSlotId = -1;
    g_pSlotQueue.reset();
}

bool QueueTracerLine(std::string text, unsigned level) {
    if (g_nTracerThreadId.load() == -1)
        return false;
    QueueGuard guard;
    const std::int32_t id = g_nTracerThreadId.load();
    if (id == -1 || id != g_nSlotId || !g_pSlotQueue)
        return false;
    // A line like the one before is only counted; the count goes out before the next other line.
    if (text == s_last) {
        ++s_repeats;
        return true;
    }
    // Stamped now rather than when the tracer gets to it, which may be a batch later.
    const auto now = std::chrono::system_clock::now();
    auto add = [&](std::string line) REQUIRES(g_TraceQueue) {
        g_TraceQueue.AddTail(LockedStringQueue::Entry{std::move(line), level, now});
        g_pSlotQueue->LinesQueued(g_TraceQueue.GetCount() >= COrbManagerTracer::kFullBatchLines);
    };
    const std::size_t bound = g_nMaxQueuedTraceLines.load();
    // Room kept for the two notes below, so a full queue still tells what it lost.
    if (g_TraceQueue.GetCount() + 2 >= bound) {
        ++s_dropped;
        return false;
    }
    if (s_repeats > 0)
        add("... repeated " + std::to_string(s_repeats) + " times");
    s_repeats = 0;
    if (s_dropped > 0)
        add("[ERROR] The trace queue was full: " + std::to_string(s_dropped) +
            " lines were dropped!!!");
    s_dropped = 0;
    s_last = text;
    add(std::move(text));
    return true;
}

} // namespace engine
