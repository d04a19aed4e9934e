#include "WaitDialogModel.h"

#include <engine/LinkState.h>
#include <engine/OrbManagerDlg.h>

#include <utility>

namespace shell {

using namespace engine;

namespace {

constexpr int kSerialTickLimit = 360;
constexpr int kTcpTickLimit = 240;

} // namespace

WaitDialogModel::WaitDialogModel(const COrbManagerDlg& owner, std::function<bool()> linkAlive)
    : m_owner(owner), m_linkAlive(std::move(linkAlive)),
      m_nTickLimit(owner.m_nConnType.load() != kConnTypeTcp ? kSerialTickLimit : kTcpTickLimit) {}

bool WaitDialogModel::OnTick() {
    if (m_bDone)
        return true;
    // A link that is not up yet is no reason to end: a serial link needs seconds to come up.
    if (g_bDeviceListAvailable.load() == 1 || m_bAbort) {
        m_bDone = true;
        return true;
    }
    ++m_nTickCount;
    // A link that has failed brings no download: its restart must not wait for the limit.
    if (m_nTickCount > m_nTickLimit || m_owner.m_bStartResult.load() == 0 ||
        (m_linkAlive && !m_linkAlive())) {
        m_bDone = true;
        return true;
    }
    // The bar starts over once it is full, as a stepped progress control does.
    m_nPosition += Step();
    if (m_nPosition > m_nTickLimit)
        m_nPosition -= m_nTickLimit;
    return false;
}

} // namespace shell
