#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <string>
#include <vector>

class QTcpSocket;

// `MyWinSock`: the window's TCP connection to the link server's client port, in the manner of
// the form runtime's socket control: a state number, one notification per event, frames sent
// whole and in the order given.
class ClientSocket : public QObject {
    Q_OBJECT

public:
    enum SockState : int {
        StateClosed = 0,
        StateConnecting = 6,
        StateConnected = 7,
        StateClosing = 8,
        StateError = 9,
    };

    explicit ClientSocket(QObject* parent = nullptr);
    ~ClientSocket() override;

    // Starts connecting; a connection still open is closed first.
    void Connect(const std::string& host, std::uint16_t port);
    // Ends the connection at once; bytes not yet sent are still flushed when possible.
    void Close();
    bool IsConnected() const { return m_state == StateConnected; }
    // False (nothing queued) unless connected.
    bool Send(const std::vector<std::uint8_t>& bytes);

signals:
    void connected();
    // The peer closed the connection; the socket is closed already.
    void closedByPeer();
    void socketError(const QString& description);
    // Every byte of one delivery.
    void dataArrival(const std::vector<std::uint8_t>& bytes);

private:
    void OnReadyRead();
    void Drop();

    QTcpSocket* m_socket = nullptr;
    int m_state = StateClosed;
};
