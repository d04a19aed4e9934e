#include "TraceLog.h"

#include "OrbManagerTracer.h"
#include "TraceSettings.h"

#include <platform/Mutex.h>
#include <protocol/HexTrace.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <unistd.h>
#include <utility>

namespace engine {

std::atomic<std::uint32_t> g_nTraceLevel{2};
std::atomic<std::uint32_t> g_nMaxLogFileSizeMB{5};
std::atomic<std::uint32_t> g_nLogFileCount{30};
std::atomic<std::uint32_t> g_nDebugMsgPrint{2};
std::atomic<std::int32_t> g_nTracerThreadId{-1};

LockedStringQueue g_TraceQueue;

namespace {

constexpr int kDefaultReopenIntervalMs = 5000;
// A crash loses at most this much trace; a tenth of a second keeps the tracer's wake-ups and
// writes to a few a second however busy the link is.
constexpr int kDefaultFlushDelayMs = 100;

platform::Mutex g_directoryLock;
std::string g_strLogDirectory GUARDED_BY(g_directoryLock);

std::atomic<std::uint64_t> g_nTestByteLimit{0};
std::atomic<int> g_nReopenIntervalMs{kDefaultReopenIntervalMs};
std::atomic<int> g_nFlushDelayMs{kDefaultFlushDelayMs};

using DebugHook = std::function<void(const std::string&)>;
struct DebugHookSlot {
    platform::Mutex lock;
    std::shared_ptr<const DebugHook> hook GUARDED_BY(lock);
};
// Never destroyed, so a trace from a static destructor at exit still finds it.
DebugHookSlot& HookSlot() {
    static DebugHookSlot* slot = new DebugHookSlot;
    return *slot;
}

std::string FormatV(const char* format, va_list args) {
    char small[512];
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (needed < 0)
        return std::string();
    if (static_cast<std::size_t>(needed) < sizeof small)
        return std::string(small, static_cast<std::size_t>(needed));
    std::string text(static_cast<std::size_t>(needed), '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, args);
    return text;
}

// strerror_r comes in two flavours depending on the C library's feature macros; both are handled.
[[maybe_unused]] std::string ErrorResult(int result, const char* buffer, int code) {
    if (result != 0)
        return "Unknown error " + std::to_string(code);
    return buffer;
}
[[maybe_unused]] std::string ErrorResult(const char* result, const char*, int code) {
    return result ? std::string(result) : "Unknown error " + std::to_string(code);
}

} // namespace

std::string GetTraceLogDirectory() {
    platform::LockGuard guard(g_directoryLock);
    return g_strLogDirectory;
}

void SetTraceLogDirectory(const std::string& directory) {
    platform::LockGuard guard(g_directoryLock);
    g_strLogDirectory = directory;
}

void SetTraceLogDirectoryFromInstallPath(const std::string& dllPath) {
    SetTraceLogDirectory(dllPath + "/Log");
}

std::uint64_t TraceLogFileByteLimit() {
    const std::uint64_t injected = g_nTestByteLimit.load();
    if (injected != 0)
        return injected;
    return static_cast<std::uint64_t>(g_nMaxLogFileSizeMB.load()) * 1048576u;
}

void SetTraceLogFileByteLimitForTest(std::uint64_t bytes) {
    g_nTestByteLimit = bytes;
}

int TraceFlushDelayMs() {
    return g_nFlushDelayMs.load();
}

void SetTraceFlushDelayForTest(int milliseconds) {
    g_nFlushDelayMs = milliseconds < 0 ? kDefaultFlushDelayMs : milliseconds;
}

int TraceLogReopenIntervalMs() {
    return g_nReopenIntervalMs.load();
}

void SetTraceLogReopenIntervalForTest(int milliseconds) {
    g_nReopenIntervalMs = milliseconds < 0 ? kDefaultReopenIntervalMs : milliseconds;
}

void TraceDebugOutput(const std::string& text) {
    std::shared_ptr<const DebugHook> hook;
    {
        platform::LockGuard guard(HookSlot().lock);
        hook = HookSlot().hook;
    }
    if (hook) {
        (*hook)(text);
        return;
    }
    // One write for the whole text, so texts of different threads do not interleave; only a
    // partial write is continued. Standard error is read line by line (a terminal, the journal),
    // so every text ends its line.
    std::string line = text;
    if (line.empty() || line.back() != '\n')
        line.push_back('\n');
    const char* data = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        const ssize_t written = ::write(STDERR_FILENO, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        data += written;
        left -= static_cast<std::size_t>(written);
    }
}

void SetTraceDebugOutputHookForTest(std::function<void(const std::string&)> hook) {
    std::shared_ptr<const DebugHook> next;
    if (hook)
        next = std::make_shared<const DebugHook>(std::move(hook));
    platform::LockGuard guard(HookSlot().lock);
    HookSlot().hook.swap(next);
}

namespace {

void TraceText(std::string text) {
    if (g_nDebugMsgPrint.load() != 0)
        TraceDebugOutput(text);
    if (g_nTracerThreadId.load() != -1 && g_nTraceLevel.load() > 0)
        QueueTracerLine(std::move(text), 2);
}

} // namespace

void TraceLog(const char* format, ...) {
    if (format == nullptr)
        return;
    va_list args;
    va_start(args, format);
    std::string text = FormatV(format, args);
    va_end(args);
    TraceText(std::move(text));
}

std::string FormatSwitchMessage(const std::uint8_t* buffer, std::size_t length, bool outgoing) {
    if (buffer == nullptr)
        length = 0;
    const std::size_t letterAt = outgoing ? 3 : 2;
    const std::size_t subLetterAt = outgoing ? 11 : 10;
    if (length > letterAt && (buffer[letterAt] == 'u' || buffer[letterAt] == 'a'))
        return std::string();
    if (length > subLetterAt && buffer[subLetterAt] == 'm')
        return std::string();

    char part[32];
    std::snprintf(part, sizeof part, outgoing ? "[SW : %d] --->>> : " : "[SW : %d] <<<--- : ",
                  static_cast<int>(std::min<std::size_t>(length, 0x7fffffff)));
    std::string line = part;
    const protocol::ByteView bytes(buffer, length);
    // From the letter on; a record too short to hold its letter is shown as bare bytes.
    if (length > letterAt)
        protocol::AppendHexTrace(line, bytes.subspan(letterAt), 0);
    else
        protocol::AppendHexTrace(line, bytes);
    return line;
}

void TraceSwitchMessage(const std::uint8_t* buffer, std::size_t length, bool outgoing) {
    // Every record the link carries comes here: the line (which holds no zero byte) goes as it
    // is, without a format pass.
    std::string line = FormatSwitchMessage(buffer, length, outgoing);
    if (!line.empty())
        TraceText(std::move(line));
}

std::string SystemErrorText(int code) {
    char buffer[1024];
    buffer[0] = '\0';
    return ErrorResult(strerror_r(code, buffer, sizeof buffer), buffer, code);
}

std::string TraceTimeStamp() {
    return TraceTimeStamp(std::chrono::system_clock::now());
}

std::string TraceTimeStamp(std::chrono::system_clock::time_point at) {
    std::string text;
    AppendTraceTimeStamp(text, at);
    return text;
}

void AppendTraceTimeStamp(std::string& out, std::chrono::system_clock::time_point at) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(at);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count() % 1000;
    // The tracer stamps a batch of lines at a time, most of them in the same second: the local
    // time is worked out once per second and thread.
    thread_local std::time_t s_second = 0;
    thread_local char s_text[32] = "";
    thread_local int s_length = 0;
    if (s_length == 0 || seconds != s_second) {
        std::tm local{};
        localtime_r(&seconds, &local);
        s_length = std::snprintf(s_text, sizeof s_text, "%04d:%02d:%02d %02d:%02d:%02d",
                                 local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                 local.tm_hour, local.tm_min, local.tm_sec);
        if (s_length < 0 || static_cast<std::size_t>(s_length) >= sizeof s_text)
            s_length = 0;
        s_second = seconds;
    }
    const int ms = static_cast<int>(millis < 0 ? millis + 1000 : millis);
    out.append(s_text, static_cast<std::size_t>(s_length));
    out += '.';
    out += static_cast<char>('0' + ms / 100);
    out += static_cast<char>('0' + ms / 10 % 10);
    out += static_cast<char>('0' + ms % 10);
}

} // namespace engine
