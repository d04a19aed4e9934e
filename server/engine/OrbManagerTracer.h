#pragma once

#include "LockedStringQueue.h"

#include <platform/Mutex.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace engine {

// The ready signal of a starting tracer (manual reset). It also wakes its waiter when the thread
// ends without setting it, so a tracer that fails to start is noticed at once.
class TracerStartedEvent {
public:
    void Set() EXCLUDES(m_lock);
    // True when set within the time; false on time-out or when the thread ended unset.
    bool Wait(int timeoutMs) EXCLUDES(m_lock);
    void NotifyThreadEnded() EXCLUDES(m_lock);

private:
    mutable platform::Mutex m_lock;
    std::condition_variable m_changed;
    bool m_bSet GUARDED_BY(m_lock) = false;
    bool m_bThreadEnded GUARDED_BY(m_lock) = false;
};

struct TracerMessage {
    unsigned message = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
};

// The posted-message queue of the tracer thread, with the note that trace lines wait for it.
class TracerMessageQueue {
public:
    enum class Woken { Message, Lines, Closed };

    // False once the thread has ended.
    bool Post(const TracerMessage& message) EXCLUDES(m_lock);
    // Lines wait in the trace queue; `full`: a whole batch of them. Only the first note of a batch
    // (and the first that it is full) wakes the thread, so a caller of TraceLog seldom does.
    void LinesQueued(bool full) EXCLUDES(m_lock);
    // Blocks until a message comes (Message, with the message; messages come first), the lines
    // noted are due (Lines, and the note is cleared) or the queue is closed (Closed). Lines are
    // due delayMs() after the first of them was noted (asked once they are), or at once when they
    // fill a batch.
    Woken Wait(TracerMessage& message, int (*delayMs)()) EXCLUDES(m_lock);
    void Close() EXCLUDES(m_lock);

private:
    platform::Mutex m_lock;
    std::condition_variable m_posted;
    std::deque<TracerMessage> m_messages GUARDED_BY(m_lock);
    bool m_bClosed GUARDED_BY(m_lock) = false;
    bool m_bLines GUARDED_BY(m_lock) = false;
    bool m_bFull GUARDED_BY(m_lock) = false;
    // Read only while m_bLines, which is set with it.
    std::chrono::steady_clock::time_point m_linesSince GUARDED_BY(m_lock){};
};

// The thread that alone owns the log file: it takes the queued texts in batches and writes each
// batch with one write to brv<n>.log in the log directory, rotating through the files at the size
// limit. A text waits at most TraceFlushDelayMs() (less when a whole batch waits); WM_QUIT, the
// stop and the destructor write every text still waiting.
class COrbManagerTracer {
public:
    // Posted: the texts waiting are written now.
    static constexpr unsigned WM_TRACE_QUEUED = 0x1EFC;
    static constexpr unsigned WM_QUIT = 0x12;
    static constexpr int kNormalExitCode = 2109;
    static constexpr int kStillActive = 259;
    // Texts waiting that make a whole batch: written without waiting out the delay.
    static constexpr std::size_t kFullBatchLines = 2048;

    COrbManagerTracer();
    // A thread still running is asked to quit and joined.
    ~COrbManagerTracer();
    COrbManagerTracer(const COrbManagerTracer&) = delete;
    COrbManagerTracer& operator=(const COrbManagerTracer&) = delete;

    // Before CreateThread.
    void SetStartedEvent(std::shared_ptr<TracerStartedEvent> event);
    // Runs InitInstance, then Run (or ExitInstance when InitInstance fails), on a new thread.
    bool CreateThread();
    std::int32_t GetThreadId() const { return m_nThreadId; }
    bool PostThreadMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam);
    // kStillActive while the thread runs.
    int GetExitCode() const EXCLUDES(m_stateLock);
    // True when the thread has ended within the time.
    bool WaitForExit(int timeoutMs) EXCLUDES(m_stateLock);

    // Gives up a tracer whose start timed out: it never publishes itself, quits when it can and
    // deletes itself once its thread ends.
    static void Abandon(std::unique_ptr<COrbManagerTracer> tracer);

    // Thread side.
    int InitInstance() EXCLUDES(m_stateLock);
    int Run();
    int ExitInstance();
    void WriteLogLine(const std::string& text);

    // The file state; read it from another thread only after the thread has ended.
    bool IsFileOpen() const { return m_bFileOpen != 0; }

private:
    using Clock = std::chrono::system_clock;

    void ThreadMain() EXCLUDES(m_stateLock);
    // Takes every text queued and writes those the level lets through (all of them for the final
    // drain) with one write.
    void WriteQueued(bool checkLevel);
    // A line stamped with `at`, after the rotation it may need; it goes out with the next flush.
    void AddLine(const std::string& text, Clock::time_point at);
    void AddRaw(const std::string& text);
    // Writes what the lines added hold back; false (traced to the debugger) when the file refused.
    bool Flush();
    // The file's size: what it held when opened, what was written and what waits.
    std::uint64_t FileBytes() const { return m_nWrittenBytes + m_strPending.size(); }
    void CloseFile();
    void Rotate(Clock::time_point at);
    void OpenNextFile(unsigned index, Clock::time_point at);
    bool RetryReopen(Clock::time_point at);
    // Opens (creating) for appending and takes the size; false with errno set.
    bool OpenFile(const std::string& path);

    std::thread m_thread;
    const std::int32_t m_nThreadId;
    std::shared_ptr<TracerMessageQueue> m_pQueue;

    int m_fd = -1;
    // The file position is kept here instead of being asked of the system for every line.
    std::uint64_t m_nWrittenBytes = 0;
    std::string m_strPending; // the lines of the batch being written, not yet written
    std::vector<LockedStringQueue::Entry> m_batch;
    std::string m_strFilePath;
    std::shared_ptr<TracerStartedEvent> m_pStartedEvent;
    int m_bFileOpen = 0;
    unsigned m_nFileIndex = 0;

    // A rotation that failed is tried again on a later line, rate-limited.
    bool m_bReopenPending = false;
    unsigned m_nReopenIndex = 0;
    std::chrono::steady_clock::time_point m_lastReopenTry{}; // read only while a reopen is pending

    mutable platform::Mutex m_stateLock;
    std::condition_variable m_ended;
    bool m_bEnded GUARDED_BY(m_stateLock) = false;
    bool m_bAbandoned GUARDED_BY(m_stateLock) = false;
    bool m_bPublished GUARDED_BY(m_stateLock) = false;
    int m_nExitCode GUARDED_BY(m_stateLock) = 0;
    // Set only for an abandoned tracer.
    std::unique_ptr<COrbManagerTracer> m_self GUARDED_BY(m_stateLock);
};

// The start the main window makes: create the tracer, wait at most 1000 ms for it to be ready.
// On failure traces the error and leaves `tracer` empty; TraceLog then reaches only the debugger
// output.
bool StartMessageTracer(std::unique_ptr<COrbManagerTracer>& tracer);
// The orderly stop: no further lines are queued, the queued ones are written, the tracer ends and
// is deleted.
void StopMessageTracer(std::unique_ptr<COrbManagerTracer>& tracer);
// Stops queueing lines for the current tracer (the first step of the stop).
void RetractMessageTracer();

// TraceLog's half: queues the text with its level and the time, and notes it to the published
// tracer. False when no tracer accepts lines.
bool QueueTracerLine(std::string text, unsigned level);
// The most lines waiting for the tracer; more are dropped and counted. Tests lower it.
inline std::atomic<std::size_t> g_nMaxQueuedTraceLines{100000};

// "<directory>/brv<index>.log".
std::string TraceLogFilePath(const std::string& directory, unsigned index);

} // namespace engine
