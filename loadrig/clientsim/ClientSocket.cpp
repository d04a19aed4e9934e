#include "ClientSocket.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

namespace {

// How long a closed connection waits for the server's own close before it is cut.
constexpr int kCloseWaitMs = 5000;

} // namespace

ClientSocket::ClientSocket(QObject* parent) : QObject(parent) {}

ClientSocket::~ClientSocket() {
    Drop();
}

void ClientSocket::Connect(const std::string& host, std::uint16_t port) {
    Close();
    m_socket = new QTcpSocket(this);
    QTcpSocket* socket = m_socket;
    connect(socket, &QTcpSocket::connected, this, [this, socket] {
        if (socket != m_socket) {
            return;
        }
        m_state = StateConnected;
        emit connected();
    });
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
        if (socket == m_socket) {
            OnReadyRead();
        }
    });
    connect(socket, &QTcpSocket::errorOccurred, this,
            [this, socket](QAbstractSocket::SocketError error) {
                if (socket != m_socket) {
                    return;
                }
                if (error == QAbstractSocket::RemoteHostClosedError && m_state == StateConnected) {
                    // Bytes that came with the close are still delivered first.
                    OnReadyRead();
                    Drop();
                    emit closedByPeer();
                    return;
                }
                const QString text = socket->errorString();
                Drop();
                m_state = StateError;
                emit socketError(text);
            });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        if (socket != m_socket) {
            return;
        }
        OnReadyRead();
        Drop();
        emit closedByPeer();
    });
    m_state = StateConnecting;
    socket->connectToHost(QString::fromStdString(host), port);
}

void ClientSocket::Close() {
    Drop();
    m_state = StateClosed;
}

bool ClientSocket::Send(const std::vector<std::uint8_t>& bytes) {
    if (!IsConnected() || bytes.empty()) {
        return false;
    }
    const qint64 written = m_socket->write(reinterpret_cast<const char*>(bytes.data()),
                                           static_cast<qint64>(bytes.size()));
    return written == static_cast<qint64>(bytes.size());
}

void ClientSocket::OnReadyRead() {
    if (m_socket == nullptr || m_state != StateConnected) {
        return;
    }
    const QByteArray data = m_socket->readAll();
    if (data.isEmpty()) {
        return;
    }
    emit dataArrival(std::vector<std::uint8_t>(data.begin(), data.end()));
}

void ClientSocket::Drop() {
    QTcpSocket* socket = m_socket;
    m_socket = nullptr;
    m_state = StateClosed;
    if (socket == nullptr) {
        return;
    }
    socket->disconnect(this);
    if (socket->state() == QAbstractSocket::ConnectedState) {
        // Frames written just before the close (the drops of Stop) still go out, and the end
        // stays open for reading until the server closes: a close over unread events resets the
        // connection, and the server then rejects the requests it has not yet read.
        connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::errorOccurred, socket, &QObject::deleteLater);
        const auto halfClose = [socket] {
            if (socket->bytesToWrite() == 0)
                ::shutdown(static_cast<int>(socket->socketDescriptor()), SHUT_WR);
        };
        connect(socket, &QTcpSocket::bytesWritten, socket, halfClose);
        socket->flush();
        halfClose();
        QTimer::singleShot(kCloseWaitMs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        return;
    }
    socket->abort();
    socket->deleteLater();
}
