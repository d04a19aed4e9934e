#include "LinkState.h"
#include "OrbIOQueue.h"
#include "OrbManagerDlg.h"
#include "OrbSWServiceController.h"
#include "OrbSocket.h"
#include "SerialPort.h"
#include "TraceLog.h"

#include <protocol/SwitchCommand.h>

namespace engine {

void COrbManagerDlg::SendLinkClose() {
    if (m_nConnType.load() != kConnTypeTcp) {
        if (m_pSerialPort != nullptr) {
            const std::uint8_t close[] = {0x02, 0x19, 0x05};
            m_pSerialPort->WriteBlock(close, static_cast<int>(sizeof close));
        }
        return;
    }
    if (g_pSwitchSocket.load() == nullptr || m_pIOQueue == nullptr)
        return;
    m_pIOQueue->IOQueueWriteFirst(protocol::LinkClearRequest::kTcp.data(),
                                  static_cast<int>(protocol::LinkClearRequest::kTcp.size()));
    // The socket's close is abortive: the request gets its time to reach the switch first. The
    // writer sends only while the link is up; otherwise there is nothing to wait for.
    if (g_bSwitchLinkUp.load() == 1 && !m_pIOQueue->WaitOutputDrained(m_timings.closeDrainMs)) {
        const COrbSocket* socket = g_pSwitchSocket.load();
        TraceLog("[ERROR] The link clear did not reach the switch within %d ms: %d bytes it has "
                 "not taken are dropped with the link!!!",
                 m_timings.closeDrainMs, socket != nullptr ? socket->UnacknowledgedBytes() : -1);
    }
}

void COrbManagerDlg::DeleteLinkHandle() {
    // The controller reopens a missing transport and writes to the port in its start dialogue, so
    // it has ended before the transport goes.
    if (m_pServiceController != nullptr) {
        m_pServiceController->Stop();
        m_pServiceController->Join();
    }

    if (m_nConnType.load() != kConnTypeTcp) {
        if (m_pSerialPort == nullptr)
            return;
        // The serial reader and writer use the port until they have ended.
        if (m_pIOQueue != nullptr) {
            m_pIOQueue->IOQueueClose();
            if (!m_pIOQueue->JoinThreads()) {
                // Still in use: let it go rather than free it under a running thread.
                TraceLog("[ERROR] The Link Threads are still running. COM Handle is released "
                         "without deleting!!!");
                m_pSerialPort = nullptr;
                return;
            }
        }
        m_pSerialPort->Close();
        delete m_pSerialPort;
        m_pSerialPort = nullptr;
        TraceLog("Deleted COM Handle!!!");
        return;
    }

    if (g_pSwitchSocket.load() == nullptr)
        return;
    if (m_pIOQueue != nullptr) {
        // Closed now (a blocked receive returns), freed with the queue once its threads are done.
        m_pIOQueue->RetireSwitchSocket();
    } else if (COrbSocket* socket = g_pSwitchSocket.exchange(nullptr)) {
        socket->Close();
        delete socket;
    }
    TraceLog("Deleted Socket Handle!!!");
}

} // namespace engine
