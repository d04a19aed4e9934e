#pragma once

// The debugger output: the text goes to standard error exactly as given (no line end is added).
// Safe from any thread; texts from different threads never interleave. A standard error that is
// closed or whose reader has gone loses the text and nothing else (no SIGPIPE).

#include <string>

namespace platform {

void DebugOutput(const std::string& text);

} // namespace platform
