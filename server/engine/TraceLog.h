#pragma once

#include "LockedStringQueue.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace engine {

// The trace entry of the whole server, callable from every thread. The text goes to the debugger
// output when g_nDebugMsgPrint is on, and to the tracer thread's log file while a tracer accepts
// lines. Callers never wait for the disk.
void TraceLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Hex trace of one switch record, given whole with its two length bytes. Link supervision ('a',
// 'u', and the status query with sub-letter 'm') is not traced.
void TraceSwitchMessage(const std::uint8_t* buffer, std::size_t length, bool outgoing);
// The text TraceSwitchMessage traces; empty when the record is not traced.
std::string FormatSwitchMessage(const std::uint8_t* buffer, std::size_t length, bool outgoing);

// The system's text for an errno value; safe from any thread.
std::string SystemErrorText(int code);

// The debugger output: standard error, one write per text, no line end added.
void TraceDebugOutput(const std::string& text);
// Test hook: texts for the debugger output go to this function instead; an empty function restores
// standard error. It may be called from any thread.
void SetTraceDebugOutputHookForTest(std::function<void(const std::string&)> hook);

// Local time "yyyy:mm:dd hh:mm:ss.mmm" as the log lines carry it: now, or of the time given.
std::string TraceTimeStamp();
std::string TraceTimeStamp(std::chrono::system_clock::time_point at);
// The same, appended to `out`.
void AppendTraceTimeStamp(std::string& out, std::chrono::system_clock::time_point at);

// The queue between TraceLog and the tracer thread.
extern LockedStringQueue g_TraceQueue;

} // namespace engine
