#pragma once

// The system's own text for an error number, as the engine logs it with the number
// ("[%d : %s]"). Safe from any thread; an unknown number gives "Unknown error <n>".

#include <string>

namespace platform {

std::string SystemErrorText(int code);

} // namespace platform
