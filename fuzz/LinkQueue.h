#pragma once

// What the link-reader targets share: a fresh queue on the owner's link with its threads
// running and the link up, as a link start leaves it (a fresh reader starts in its free state).

#include <engine/LinkState.h>
#include <engine/OrbIOQueue.h>
#include <engine/OrbManagerDlg.h>

#include <memory>

namespace fuzzrig {

inline std::unique_ptr<engine::COrbIOQueue> StartLinkQueue(engine::COrbManagerDlg& owner) {
    auto queue = std::make_unique<engine::COrbIOQueue>(&owner);
    owner.m_pIOQueue = queue.get();
    queue->IOQueueStartThreads();
    engine::g_bDeviceListAvailable = 1;
    engine::g_bSwitchLinkUp = 1;
    engine::g_hLinkAvailableEvent.Set();
    return queue;
}

} // namespace fuzzrig
