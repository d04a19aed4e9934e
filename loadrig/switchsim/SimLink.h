#pragma once

#include "SimCallHandlers.h"
#include "SimDeviceInfo.h"
#include "SimFrames.h"
#include "SimLinkPort.h"
#include "SimStatusQuery.h"
#include "SimSwitchDatabase.h"
#include "SimTrace.h"
#include "SwitchSimSettings.h"

#include <protocol/RecordAssembler.h>

#include <QObject>
#include <QString>

#include <cstdint>
#include <string>
#include <vector>

class QTcpServer;
class QTcpSocket;

// The switch's end of the link server's TCP switch link (`SWSimSock`): it listens on the listen
// port, serves one link server at a time, cuts what arrives into records and hands each request
// to its handler, strictly in arrival order. While a link server is connected nobody else can
// connect. Everything runs on the thread that owns the object.
class SimLink : public QObject, public SimLinkPort {
    Q_OBJECT

public:
    // The socket states the window shows (the numbering of the form runtime's socket control).
    enum SockState : int {
        StateClosed = 0,
        StateListening = 2,
        StateConnected = 7,
        StateError = 9,
    };
    // Longest record body accepted; a longer one is reported and the buffer dropped.
    static constexpr std::uint16_t kMaxRecordLength = protocol::CtiRecord::kMaxSentBodyLength;
    // A peer whose answers pile up unsent past this is not read from until they drain, so one
    // that sends without reading cannot grow the write buffer without bound.
    static constexpr qint64 kMaxUnsentBytes = qint64{1} << 20;
    // Bytes taken from the connection per step; also the socket's own read buffer.
    static constexpr qint64 kReadChunk = 64 * 1024;

    SimLink(SwitchSimSettings& settings, SimSwitchDatabase& database, SimTrace& trace,
            QObject* parent = nullptr);
    ~SimLink() override;

    // SimLinkPort: frames go out only while connected.
    bool IsConnected() const override;
    void SendFrame(const std::vector<std::uint8_t>& frame) override;

    int State() const;
    // Answers written but not yet taken by the system (0 without a connection).
    qint64 UnsentBytes() const;
    // "Socket Closed State" ... "Socket Error State", "Socket State : Unknown".
    static std::string StateText(int state);

    // Listens on the settings' listen port on every local address. A failure is logged as
    // "[Error Report] Listen Error : ..." and reported by listenFailed (the window then stops).
    bool StartListening();
    // Closes the connection or the listener; the panels show "Stopped " and the link Off.
    void StopListening();
    // Request 'k': the connection is closed and the link listens again.
    void HandleLinkOffRequest();

    // The port actually listened on (the listen port, or the one the system chose for 0).
    std::uint16_t ListeningPort() const;
    // Status panel texts: run state ("Listening... " / "Stopped ") and link state.
    const std::string& RunStatusText() const { return m_runStatus; }
    const std::string& LinkStatusText() const { return m_linkStatus; }

    SimFrames& Frames() { return m_frames; }

    // Received bytes of the connection, as a data-arrival event delivers them.
    void DataArrival(const std::uint8_t* data, std::size_t size);

signals:
    void stateChanged(int state);
    void runStatusChanged(const QString& text);
    void linkStatusChanged(const QString& text);
    // 'a' enables call simulation, 'k' disables it.
    void callSimEnabled(bool enabled);
    // After every handled request: the received and sent totals.
    void countsChanged(double received, double sent);
    // A text the window shows in a message box (e.g. the socket state after the peer closed).
    void notice(const QString& text);
    // Listening could not start; the text is also in the log.
    void listenFailed(const QString& text);

private:
    void OnNewConnection();
    void OnReadyRead();
    void OnDisconnected();
    void OnSocketError(int error);

    void OnRecord(const protocol::CtiRecord& record);
    void OnBadLength(std::uint16_t length);
    void Dispatch(protocol::ByteView body);
    // Ends the connection: pending frames are still flushed, the receive buffer is emptied.
    void DropConnection();
    void SetLinkStatus(bool on);
    void SetRunStatus(const char* text);
    void NotifyState();

    SwitchSimSettings& m_settings;
    SimTrace& m_trace;
    SimFrames m_frames;
    SimCallHandlers m_handlers;
    SimStatusQuery m_statusQuery;
    SimDeviceInfo m_deviceInfo;

    QTcpServer* m_server = nullptr;
    QTcpSocket* m_socket = nullptr;
    bool m_error = false;
    int m_lastState = StateClosed;

    protocol::RecordAssembler m_assembler;
    bool m_feeding = false;
    std::size_t m_receiveSize = 0; // of the receive being handled, for the length report

    std::string m_runStatus = "Stopped ";
    std::string m_linkStatus = "PavoLinker : Off ";
};
