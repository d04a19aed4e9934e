#pragma once

#include <platform/Event.h>

#include <atomic>

namespace engine {

class COrbSocket;

// Process-wide link state, shared by the UI thread and the link threads.
extern std::atomic<int> g_bDeviceListAvailable; // the device download has ended
extern std::atomic<int> g_bSwitchLinkUp;        // the switch link is up

// All manual reset.
extern platform::Event g_hLinkAvailableEvent;      // the link came up; the I/O threads wait on it
extern platform::Event g_hLinkFailureEvent;        // the link was lost; the controller waits on it
extern platform::Event g_hDeviceDownloadDoneEvent; // the device download has ended
extern platform::Event g_hFirLinkCheckEvent;       // the switch answered the setup-tool request

extern std::atomic<COrbSocket*> g_pSwitchSocket; // the TCP switch link, when there is one

// Back to the state of a freshly started process: flags 0, events reset, no socket.
void ResetLinkState();

} // namespace engine
