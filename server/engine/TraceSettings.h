#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace engine {

// Process-wide trace settings. The main window and the option loader set them; every thread reads
// them, so they are atomic.

// 0 queues nothing and keeps the tracer from starting; a queued line is written while the level is
// at least the line's level (every line carries level 2).
extern std::atomic<std::uint32_t> g_nTraceLevel;
// A log file is rotated before a line would carry it past this many MB.
extern std::atomic<std::uint32_t> g_nMaxLogFileSizeMB;
// Log file indexes run from 0 to this count - 1.
extern std::atomic<std::uint32_t> g_nLogFileCount;
// 2 while texts also go to the debugger output, 0 when they do not ("UseDebugMsgPrint").
extern std::atomic<std::uint32_t> g_nDebugMsgPrint;
// The tracer that accepts lines; -1 while there is none. Stop the tracer with
// RetractMessageTracer() rather than storing -1 here, so no line slips in behind its last drain.
extern std::atomic<std::int32_t> g_nTracerThreadId;

// The folder of the log files. The option loader sets it from the install path; when it is still
// empty at tracer start, the tracer uses "Log" under the current directory.
std::string GetTraceLogDirectory();
void SetTraceLogDirectory(const std::string& directory);
// "<dllPath>/Log".
void SetTraceLogDirectoryFromInstallPath(const std::string& dllPath);

// The size at which a log file rotates: g_nMaxLogFileSizeMB x 1,048,576 bytes unless a test has
// injected a smaller limit.
std::uint64_t TraceLogFileByteLimit();
// Test hook: rotate at this many bytes instead; 0 returns to the MB setting.
void SetTraceLogFileByteLimitForTest(std::uint64_t bytes);

// How long a traced line may wait before the tracer writes it with those that came meanwhile (100
// ms unless a test changes it); a crash loses at most that much. Stopping the tracer writes every
// line at once.
int TraceFlushDelayMs();
// Test hook: a negative value restores the default.
void SetTraceFlushDelayForTest(int milliseconds);

// After a failed rotation the tracer tries the next file again on a later line, at most once per
// this many milliseconds (5000 unless a test changes it).
int TraceLogReopenIntervalMs();
// Test hook: a negative value restores the default.
void SetTraceLogReopenIntervalForTest(int milliseconds);

} // namespace engine
