#pragma once

namespace platform {

// Makes writes to a connection the peer has reset fail with EPIPE instead of killing the
// process: SIGPIPE is ignored for the whole process. Call it once at program start, before
// any socket is used; calling it again is harmless. False only if the signal disposition could
// not be changed.
bool InitSockets();

} // namespace platform
