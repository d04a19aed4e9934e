#include "LinkState.h"

namespace engine {

std::atomic<int> g_bDeviceListAvailable{0};
std::atomic<int> g_bSwitchLinkUp{0};

platform::Event g_hLinkAvailableEvent(true, false);
platform::Event g_hLinkFailureEvent(true, false);
platform::Event g_hDeviceDownloadDoneEvent(true, false);
platform::Event g_hFirLinkCheckEvent(true, false);

std::atomic<COrbSocket*> g_pSwitchSocket{nullptr};

void ResetLinkState() {
    g_hLinkAvailableEvent.Reset();
    g_hLinkFailureEvent.Reset();
    g_hDeviceDownloadDoneEvent.Reset();
    g_hFirLinkCheckEvent.Reset();
    g_bDeviceListAvailable = 0;
    g_bSwitchLinkUp = 0;
    g_pSwitchSocket = nullptr;
}

} // namespace engine
