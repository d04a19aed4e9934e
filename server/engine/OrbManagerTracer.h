#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace engine {

// The ready signal of a starting tracer (manual reset). It also wakes its waiter when the thread
// ends without setting it, so a tracer that fails to start is noticed at once.
class TracerStartedEvent {
public:
    void Set();
    // True when set within the time; false on time-out or when the thread ended unset.
    bool Wait(int timeoutMs);
    void NotifyThreadEnded();

private:
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_bSet = false;
    bool m_bThreadEnded = false;
};

struct TracerMessage {
    unsigned message = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
};

// The posted-message queue of the tracer thread.
class TracerMessageQueue {
public:
    // False once the thread has ended.
    bool Post(const TracerMessage& message);
    // Blocks for the next message; false once closed and empty.
    bool Get(TracerMessage& message);
    void Close();

private:
    std::mutex m_lock;
    std::condition_variable m_posted;
    std::deque<TracerMessage> m_messages;
    bool m_bClosed = false;
};

// The thread that alone owns the log file: it takes one queued text per posted WM_TRACE_QUEUED
// message and writes it to brv<n>.log in the log directory, rotating through the files at the size
// limit.
class COrbManagerTracer {
public:
    static constexpr unsigned WM_TRACE_QUEUED = 0x1EFC; // wParam: the line's level
    static constexpr unsigned WM_QUIT = 0x12;
    static constexpr int kNormalExitCode = 2109;
    static constexpr int kStillActive = 259;

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
    int GetExitCode() const;
    // True when the thread has ended within the time.
    bool WaitForExit(int timeoutMs);

    // Gives up a tracer whose start timed out: it never publishes itself, quits when it can and
    // deletes itself once its thread ends.
    static void Abandon(std::unique_ptr<COrbManagerTracer> tracer);

    // Thread side.
    int InitInstance();
    int Run();
    int ExitInstance();
    void WriteLogLine(const std::string& text);

    // The file state; read it from another thread only after the thread has ended.
    bool IsFileOpen() const { return m_bFileOpen != 0; }

private:
    void ThreadMain();
    bool WriteRaw(const std::string& text);
    void CloseFile();
    void Rotate();
    void OpenNextFile(unsigned index);
    bool RetryReopen();

    std::thread m_thread;
    const std::int32_t m_nThreadId;
    std::shared_ptr<TracerMessageQueue> m_pQueue;

    std::FILE* m_pFile = nullptr;
    std::string m_strFilePath;
    std::shared_ptr<TracerStartedEvent> m_pStartedEvent;
    int m_bFileOpen = 0;
    unsigned m_nFileIndex = 0;

    // A rotation that failed is tried again on a later line, rate-limited.
    bool m_bReopenPending = false;
    unsigned m_nReopenIndex = 0;
    std::chrono::steady_clock::time_point m_lastReopenTry{};

    mutable std::mutex m_stateLock;
    std::condition_variable m_ended;
    bool m_bEnded = false;
    bool m_bAbandoned = false;
    bool m_bPublished = false;
    int m_nExitCode = 0;
    std::unique_ptr<COrbManagerTracer> m_self; // set only for an abandoned tracer
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

// TraceLog's half: queues the text and posts WM_TRACE_QUEUED to the published tracer. False when
// no tracer accepts lines.
bool QueueTracerLine(std::string text, unsigned level);
// The most lines waiting for the tracer; more are dropped and counted. Tests lower it.
inline std::atomic<std::size_t> g_nMaxQueuedTraceLines{100000};

// "<directory>/brv<index>.log".
std::string TraceLogFilePath(const std::string& directory, unsigned index);

} // namespace engine
