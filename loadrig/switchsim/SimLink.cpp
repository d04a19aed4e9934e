#include "SimLink.h"

#include <protocol/CtiRequest.h>

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

namespace {
constexpr const char* kLinkOn = "PavoLinker : On ";
constexpr const char* kLinkOff = "PavoLinker : Off ";
constexpr const char* kListening = "Listening... ";
constexpr const char* kStopped = "Stopped ";
constexpr const char* kErrorReport = "[Error Report] ";
} // namespace

SimLink::SimLink(SwitchSimSettings& settings, SimSwitchDatabase& database, SimTrace& trace,
                 QObject* parent)
    : QObject(parent), m_settings(settings), m_trace(trace),
      m_frames(*this, trace, settings, database), m_handlers(database, m_frames, trace, settings),
      m_statusQuery(database, m_frames, trace, settings),
      m_deviceInfo(database, m_frames, settings), m_server(new QTcpServer(this)),
      m_assembler(
          protocol::RecordAssembler::BadLengthPolicy::SkipBody,
          [this](const protocol::CtiRecord& record) { OnRecord(record); },
          [this](std::uint16_t length) { OnBadLength(length); }, kMaxRecordLength) {
    connect(m_server, &QTcpServer::newConnection, this, &SimLink::OnNewConnection);
    connect(m_server, &QTcpServer::acceptError, this, [this](QAbstractSocket::SocketError) {
        m_trace.AddLogLine(std::string(kErrorReport) +
                           "Socket Error : " + m_server->errorString().toStdString());
    });
}

SimLink::~SimLink() {
    // The sockets are children: keep their last signals away from a half-destroyed link.
    m_server->disconnect(this);
    for (QTcpSocket* socket : findChildren<QTcpSocket*>()) {
        socket->disconnect(this);
    }
}

bool SimLink::IsConnected() const {
    return State() == StateConnected;
}

void SimLink::SendFrame(const std::vector<std::uint8_t>& frame) {
    if (!IsConnected()) {
        return;
    }
    m_socket->write(reinterpret_cast<const char*>(frame.data()), static_cast<qint64>(frame.size()));
}

qint64 SimLink::UnsentBytes() const {
    return m_socket != nullptr ? m_socket->bytesToWrite() : 0;
}

int SimLink::State() const {
    if (m_socket != nullptr && m_socket->state() == QAbstractSocket::ConnectedState) {
        return StateConnected;
    }
    if (m_error) {
        return StateError;
    }
    if (m_server->isListening()) {
        return StateListening;
    }
    return StateClosed;
}

std::string SimLink::StateText(int state) {
    static const char* const texts[] = {
        "Socket Closed State",        "Socket Opened State",
        "Socket Listening State",     "Socket ConnectionPending State",
        "Socket ResolvingHost State", "Socket Host Resolving State",
        "Socket Connecting State",    "Socket Connected State",
        "Socket Closing State",       "Socket Error State",
    };
    return state >= 0 && state <= 9 ? texts[state] : "Socket State : Unknown";
}

bool SimLink::StartListening() {
    if (m_socket != nullptr || m_server->isListening()) {
        return true;
    }
    m_error = false;
    // Every local address, so the link server may connect through loopback as well.
    if (!m_server->listen(QHostAddress::Any, m_settings.listenPort)) {
        const std::string text = "Listen Error : " + m_server->errorString().toStdString();
        m_trace.AddLogLine(kErrorReport + text);
        NotifyState();
        emit listenFailed(QString::fromStdString(text));
        return false;
    }
    SetRunStatus(kListening);
    NotifyState();
    return true;
}

void SimLink::StopListening() {
    DropConnection();
    m_server->close();
    m_error = false;
    SetRunStatus(kStopped);
    SetLinkStatus(false);
    NotifyState();
}

void SimLink::HandleLinkOffRequest() {
    if (State() != StateConnected) {
        return;
    }
    DropConnection();
    SetLinkStatus(false);
    StartListening();
    NotifyState();
}

std::uint16_t SimLink::ListeningPort() const {
    return m_server->serverPort();
}

void SimLink::OnNewConnection() {
    while (QTcpSocket* incoming = m_server->nextPendingConnection()) {
        // Not running, or a link server is already served: the caller is turned away.
        if (m_settings.running == 0 || m_socket != nullptr) {
            incoming->abort();
            incoming->deleteLater();
            continue;
        }
        m_socket = incoming;
        m_socket->setParent(this);
        // One link server at a time: nobody else can connect while it is served.
        m_server->close();
        m_error = false;
        m_assembler.Reset();
        m_socket->setReadBufferSize(kReadChunk);
        connect(m_socket, &QTcpSocket::readyRead, this, &SimLink::OnReadyRead);
        // Reading that stopped for unsent answers goes on as they drain.
        connect(m_socket, &QTcpSocket::bytesWritten, this, &SimLink::OnReadyRead);
        connect(m_socket, &QTcpSocket::disconnected, this, &SimLink::OnDisconnected);
        connect(m_socket, &QTcpSocket::errorOccurred, this,
                [this](QAbstractSocket::SocketError error) { OnSocketError(error); });
        SetLinkStatus(true);
        NotifyState();
        // Bytes that came with the connection are read like any later ones.
        QMetaObject::invokeMethod(this, &SimLink::OnReadyRead, Qt::QueuedConnection);
    }
}

void SimLink::OnReadyRead() {
    if (!IsConnected()) {
        return;
    }
    while (IsConnected() && m_socket->bytesAvailable() > 0 &&
           m_socket->bytesToWrite() <= kMaxUnsentBytes) {
        const QByteArray data = m_socket->read(kReadChunk);
        if (data.isEmpty()) {
            return;
        }
        DataArrival(reinterpret_cast<const std::uint8_t*>(data.constData()),
                    static_cast<std::size_t>(data.size()));
    }
}

void SimLink::OnDisconnected() {
    SetLinkStatus(false);
    DropConnection();
    StartListening();
    NotifyState();
    emit notice(QString::fromStdString(StateText(State())));
}

void SimLink::OnSocketError(int error) {
    // A peer that closes is reported as an error too; its disconnect does the work.
    if (error == QAbstractSocket::RemoteHostClosedError || m_socket == nullptr) {
        return;
    }
    const std::string text = "Socket Error : " + m_socket->errorString().toStdString();
    m_trace.AddLogLine(kErrorReport + text);
    SetLinkStatus(false);
    DropConnection();
    m_error = true;
    NotifyState();
}

void SimLink::DataArrival(const std::uint8_t* data, std::size_t size) {
    if (State() != StateConnected || data == nullptr || size == 0) {
        return;
    }
    const protocol::ByteView bytes(data, size);
    // Bytes that a handler somehow lets arrive are taken in their turn, and an oversized length
    // among them is reported with the size of the receive being handled.
    if (m_feeding) {
        m_assembler.Feed(bytes);
        return;
    }
    m_receiveSize = size;
    m_feeding = true;
    m_assembler.Feed(bytes);
    m_feeding = false;
}

void SimLink::OnBadLength(std::uint16_t length) {
    // An empty record is passed over like any other that is no request.
    if (length == 0) {
        return;
    }
    m_trace.AppendSwitchLog(std::string(kErrorReport) + "On Receive, Msg Length is too big.[" +
                            std::to_string(m_receiveSize) + "]\r\n");
    m_assembler.Reset();
}

void SimLink::OnRecord(const protocol::CtiRecord& record) {
    const protocol::ByteView body = record.Body();
    if (body.size() < 2 || body[0] != protocol::CtiRequest::kStartByte) {
        return;
    }
    Dispatch(body);
}

void SimLink::Dispatch(protocol::ByteView body) {
    const std::uint8_t* data = body.data();
    const int length = static_cast<int>(body.size());
    auto logged = [&] { m_trace.AppendSwitchLog(SimFrames::FormatReceivedMessage(data, length)); };

    switch (static_cast<char>(body[1])) {
    case 'a':
        m_frames.SendDeviceList();
        emit callSimEnabled(true);
        break;
    case 'u':
        m_frames.SendKeepAliveAnswer();
        break;
    case 'k':
        HandleLinkOffRequest();
        emit callSimEnabled(false);
        break;
    case 'Q':
        m_statusQuery.HandleStatusQuery(data, length);
        break;
    case 'i':
        m_deviceInfo.HandleDeviceInfoRequest(data, length);
        break;
    case 'F':
        logged();
        m_handlers.HandleRequestF(data, length);
        break;
    case 'H':
        logged();
        m_handlers.HandleRequestH(data, length);
        break;
    case 'R':
        logged();
        m_handlers.HandleRequestR(data, length);
        break;
    case 'N':
        logged();
        m_handlers.HandleTransferComplete(data, length);
        break;
    case 'L':
        logged();
        if (length <= 10) {
            m_handlers.HandleOffHook(data, length);
        } else {
            m_handlers.HandleMakeCall(data, length);
        }
        break;
    case 'T':
        logged();
        m_handlers.HandleRequestT(data, length);
        break;
    case 'D':
        logged();
        m_handlers.HandleRequestD(data, length);
        break;
    case 'V':
        logged();
        m_handlers.HandleRequestV(data, length);
        break;
    case 'P':
        logged();
        m_handlers.HandleRequestP(data, length);
        break;
    case 'p':
        logged();
        m_handlers.HandleRequestLowerP(data, length);
        break;
    case 't':
        logged();
        m_handlers.HandleRequestLowerT(data, length);
        break;
    default:
        break;
    }

    m_trace.totalReceived += 1;
    if (m_trace.changed) {
        m_trace.changed();
    }
    emit countsChanged(m_trace.totalReceived, m_trace.totalSent);
}

void SimLink::DropConnection() {
    m_assembler.Reset();
    if (m_socket == nullptr) {
        return;
    }
    QTcpSocket* socket = m_socket;
    m_socket = nullptr;
    socket->disconnect(this);
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
        return;
    }
    // Frames already written still reach the peer before the connection closes.
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    socket->disconnectFromHost();
}

void SimLink::SetLinkStatus(bool on) {
    const char* text = on ? kLinkOn : kLinkOff;
    if (m_linkStatus != text) {
        m_linkStatus = text;
        emit linkStatusChanged(QString::fromLatin1(text));
    }
}

void SimLink::SetRunStatus(const char* text) {
    if (m_runStatus != text) {
        m_runStatus = text;
        emit runStatusChanged(QString::fromLatin1(text));
    }
}

void SimLink::NotifyState() {
    const int state = State();
    if (state != m_lastState) {
        m_lastState = state;
        emit stateChanged(state);
    }
}
