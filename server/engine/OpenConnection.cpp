#include "ConnEnv.h"
#include "LinkState.h"
#include "OrbManagerDlg.h"
#include "OrbSocket.h"
#include "SerialPort.h"
#include "TraceLog.h"

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <sys/socket.h>

namespace engine {

namespace {

// Resource strings of the language library used here.
constexpr int kIdsPortCreateFailed = 135;
constexpr int kIdsPortOpenFailed = 123;
constexpr int kIdsPortOpened = 136;
constexpr int kIdsSettingsUnreadable = 125;
constexpr int kIdsSocketsNotReady = 131;
constexpr int kIdsSocketCreateFailed = 129;
constexpr int kIdsConnectFailed = 130;
constexpr int kIdsConnected = 134;

// The trace of each ConnEnvLinkFault, None first.
constexpr const char* kFaultTraces[] = {
    "",
    "COrbManagerDlg::OpenConnection() --> Registry Open Error!!!!",
    "COrbManagerDlg::OpenConnection() --> IP Address Read Error!!!!",
    "COrbManagerDlg::OpenConnection() --> PortNo Read Error!!!!",
    "COrbManagerDlg::OpenConnection() --> Listen Port No Read Error!!!!",
    "COrbManagerDlg::OpenConnection() --> COM Port Read Error!!!!",
    "COrbManagerDlg::OpenConnection() --> BAUD Rate Read Error!!!!",
    "COrbManagerDlg::OpenConnection() --> Byte Size Read Error!!!!",
    "COrbManagerDlg::OpenConnection() --> Stop Bits Read Error!!!!",
};
static_assert(std::size(kFaultTraces) == static_cast<std::size_t>(ConnEnvLinkFault::StopBits) + 1);

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (needed > 0) {
        text.resize(static_cast<std::size_t>(needed));
        std::vsnprintf(text.data(), text.size() + 1, format, args);
    }
    va_end(args);
    return text;
}

// "StopBits" keeps 1, 2, or 3 for 1.5; the port takes the codes 0, 1 (1.5) and 2.
int StopBitsCode(std::uint32_t stored) {
    switch (stored) {
    case 2:
        return kTwoStopBits;
    case 3:
        return kOne5StopBits;
    default:
        return kOneStopBit;
    }
}

} // namespace

int COrbManagerDlg::OpenConnection() {
    ConnEnvLink settings;
    const ConnEnvLinkFault fault = ReadConnEnvLink(settings);
    // The listen ports are taken as soon as they are read, even when a later value is missing.
    if (fault == ConnEnvLinkFault::None || fault > ConnEnvLinkFault::ListenPortNo) {
        m_nListenPort = static_cast<int>(settings.listenPortNo);
        m_nBypassListenPort = static_cast<int>(settings.listenPortNo + connenv::kSecondPortOffset);
    }
    if (fault != ConnEnvLinkFault::None) {
        AddLogLine(1, ResString(kIdsSettingsUnreadable));
        for (auto& count : m_nDeviceCountByType)
            count = 0;
        m_nDownLoadedDeviceCount = 0;
        TraceLog("%s", kFaultTraces[static_cast<int>(fault)]);
        return 0;
    }
    m_strSysInfoPassword = settings.sysInfoPassword;
    const std::string& address = settings.ipAddress;
    const std::uint32_t port = settings.portNo, commPort = settings.commPort,
                        baudRate = settings.baudRate, byteSize = settings.byteSize,
                        stopBits = settings.stopBits;

    if (m_nConnType.load() == kConnTypeTcp) {
        const int portNo = static_cast<int>(port);
        const auto text = [&](int id) {
            return Format("%s [Switch IP Address - %s, Port No - %d]", ResString(id).c_str(),
                          address.c_str(), portNo);
        };
        if (!m_bSocketsReady) {
            AddLogLine(1, text(kIdsSocketsNotReady));
            return 0;
        }
        // Published only once connected, so no link thread ever sees a socket that is not.
        std::unique_ptr<COrbSocket> socket(new (std::nothrow) COrbSocket);
        if (!socket) {
            AddLogLine(1, text(kIdsSocketCreateFailed));
            return 0;
        }
        if (socket->Initialize() != 1) {
            AddLogLine(1, text(kIdsConnectFailed));
            return 0;
        }
        if (socket->Connect(address, portNo, SOCK_STREAM, m_timings.connectTimeoutMs) != 1) {
            const std::string line =
                Format("%s[Switch IP Address - %s, Port No - %d]",
                       ResString(kIdsConnectFailed).c_str(), address.c_str(), portNo);
            AddLogLine(1, line);
            TraceLog("[USER LOG] %s", line.c_str());
            return 0;
        }
        socket->SetSendTimeout(m_timings.sendTimeoutMs);
        g_pSwitchSocket = socket.release();
        m_strSwitchIPAddress = address;
        m_nSwitchPort = portNo;
        AddLogLine(0, text(kIdsConnected));
        return 1;
    }

    const int comPort = static_cast<int>(commPort);
    const auto text = [&](int id) { return Format("%s [COM%d]", ResString(id).c_str(), comPort); };
    if (m_pSerialPort == nullptr) {
        SerialTimeouts timeouts;
        timeouts.readConstantMs = m_timings.serialReadTimeoutMs;
        m_pSerialPort = new (std::nothrow) SerialPort(timeouts);
        if (m_pSerialPort == nullptr) {
            AddLogLine(1, text(kIdsPortCreateFailed));
            return 0;
        }
    } else {
        m_pSerialPort->Close();
    }
    // The object stays in m_pSerialPort after a failure; the link stop deletes it.
    if (!m_pSerialPort->Open(comPort)) {
        AddLogLine(1, text(kIdsPortOpenFailed));
        return 0;
    }
    m_pSerialPort->SetBufferSizes(4096, 4096);
    // A port left at other line settings could never carry the link: that is no open port.
    if (!m_pSerialPort->SetBaudRate(static_cast<int>(baudRate)) ||
        !m_pSerialPort->SetParity(kParityNone) ||
        !m_pSerialPort->SetByteSize(static_cast<int>(byteSize)) ||
        !m_pSerialPort->SetStopBits(StopBitsCode(stopBits))) {
        const int error = errno;
        TraceLog("[ERROR] Cannot set the COM Port line settings[BaudRate %u, ByteSize %u, "
                 "StopBits %u]. Error Code [%lu : %s]!!!",
                 baudRate, byteSize, stopBits, static_cast<unsigned long>(error),
                 SystemErrorText(error).c_str());
        m_pSerialPort->Close();
        AddLogLine(1, text(kIdsPortOpenFailed));
        return 0;
    }
    m_nCommPort = comPort;
    m_nBaudRate = static_cast<int>(baudRate);
    m_nByteSize = static_cast<int>(byteSize);
    m_nStopBits = static_cast<int>(stopBits);
    AddLogLine(0, text(kIdsPortOpened));
    return 1;
}

} // namespace engine
