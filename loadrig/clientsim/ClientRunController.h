#pragma once

#include "ClientRunSettings.h"
#include "ClientSocket.h"

#include <protocol/ClientRequestFrames.h>
#include <protocol/RecordAssembler.h>

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One control of the window as the logic sees it. Each kind of control uses the fields it has:
// text boxes and labels `text` (and `maxLength` for the two number boxes, 0 = none), check
// boxes `checked`, combo boxes `index` (the position in its item list).
struct ClientControl {
    std::string text;
    bool enabled = true;
    bool checked = false;
    int index = 0;
    int maxLength = 0;
};

// Everything the window shows. The window mirrors it after every stateChanged.
struct ClientWindowState {
    // connection
    ClientControl ConnIPAddr{"127.0.0.1"};
    ClientControl ConnPortNo{"6000"};
    ClientControl txtClientKind;
    ClientControl lblStatus{"Disconnected..."};
    // numbering
    ClientControl cmboTelNoSize;
    ClientControl cmboPortCnt;
    ClientControl editCallerStartTelNo;
    ClientControl editCalleeStartTelNo;
    ClientControl chkFreeDial;
    ClientControl txtFreeDialNo{"", false};
    // call scenario
    ClientControl chkMakeCall{"", false, true};
    ClientControl chkConnected;
    ClientControl chkHoldCall;
    ClientControl chkDropCall{"", false, true};
    ClientControl cmboIdleTime;
    ClientControl cmboMakeDelaytime;
    ClientControl cmboConnDelay;
    ClientControl cmboHoldDelay;
    // run time
    ClientControl editTimePeriod{"1"};
    ClientControl editStartTime{"00 : 00 : 00"};
    ClientControl editEndTime{"00 : 00 : 00"};
    ClientControl editElapsedTime{"00 : 00 : 00"};
    // countdowns
    ClientControl editIdleTime{"0"};
    ClientControl editRingTime{"0"};
    ClientControl editConnTime{"0"};
    ClientControl editHoldTime{"0"};
    // event counts
    ClientControl editHookOnCount{"0"};
    ClientControl editDTCount{"0"};
    ClientControl editRbOfferingCount{"0"};
    ClientControl editConnectedCount{"0"};
    ClientControl editHeldCount{"0/0"};
    ClientControl editFailCount{"0"};
    // command counts
    ClientControl editMakeCall{"0"};
    ClientControl editAnswerCall{"0"};
    ClientControl editHoldCall{"0"};
    ClientControl editUnHoldCall{"0"};
    ClientControl editDropCall{"0"};
    ClientControl editCmdTotalCount{"0"};
    // totals and log
    ClientControl DataSendCnt{"0"};
    ClientControl RecvDataCnt{"0"};
    ClientControl txtRecvData;
    // buttons
    ClientControl Start{"Start"};
    ClientControl Disconnect{"Stop", false};
    ClientControl cmdReset{"Reset"};
    ClientControl cmdQuit{"Quit"};
};

// A message box the window shows; OK only.
struct ClientMessage {
    std::string text;
    std::string title;
    // The control that gets the focus back ("" none), e.g. "editTimePeriod".
    std::string focusControl;
};

struct ClientCounters {
    std::uint32_t sentTotal = 0;
    std::uint32_t receivedTotal = 0;
    double dialTone = 0;
    double offering = 0;
    double connected = 0;
    double held = 0;
    double retrieved = 0;
    double hookOn = 0;
    double failed = 0;
    double makeCall = 0;
    double answerCall = 0;
    double holdCall = 0;
    double unholdCall = 0;
    double dropCall = 0;
    double commandTotal = 0;
};

struct ClientCallCycle {
    enum Action : int { Idle = 0, Make = 1, Answer = 2, Hold = 3, Retrieve = 4, Drop = 5 };
    int nextAction = Make;
    int displayPhase = 0; // 0 idle, 1 ringing, 2 connected, 3 held, 4 retrieved
    int countdown = 0;
};

// The client window's logic without its widgets: load and quit, Start and Stop, the connection
// and login, the run clock, the call cycle over all ports, and the reception and counting of
// events. One thread; nothing waits inside an event.
class ClientRunController : public QObject {
    Q_OBJECT

public:
    // The log box is emptied before an append once it holds more than this.
    static constexpr int kLogLimit = 20000;
    // Longest record body accepted from the server.
    static constexpr std::uint16_t kMaxRecordLength = protocol::CtiRecord::kMaxSentBodyLength;

    explicit ClientRunController(QObject* parent = nullptr);
    ~ClientRunController() override;

    const ClientWindowState& State() const { return m_state; }
    const ClientRunSettings& Settings() const { return m_settings; }
    const ClientCounters& Counters() const { return m_counters; }
    const ClientCallCycle& Cycle() const { return m_cycle; }
    ClientSocket& Socket() { return m_socket; }

    bool Registered() const { return m_registered; }
    bool Connecting() const { return m_connecting; }
    bool RunTimerActive() const { return m_runTimer.isActive(); }
    bool CallTimerActive() const { return m_callTimer.isActive(); }
    QDateTime StartTime() const { return m_start; }
    // Bytes of an incomplete record waiting for the next delivery.
    std::size_t ReceiveBuffered() const { return m_assembler.Buffered(); }

    // Test hooks: the length of one second of both timers, the clock of the run times and the
    // longest wait for the connection before the login is given up.
    void SetSecondLength(int milliseconds);
    void SetClock(std::function<QDateTime()> now);
    void SetConnectTimeout(int milliseconds);

    // "HH : MM : SS", each field at least two digits; hours may run beyond two.
    static std::string ElapsedText(double seconds);

    // Window events.
    void Form_Load();
    void cmdQuit_Click();
    void cmdReset_Click();
    void Start_Click();
    void Disconnect_Click();

    void chkConnected_Click(bool checked);
    void chkHoldCall_Click(bool checked);
    void chkFreeDial_Click(bool checked);
    void cmboTelNoSize_Click(int index);
    void cmboPortCnt_Click(int index);
    void cmboIdleTime_Click(int index);
    void cmboMakeDelaytime_Click(int index);
    void cmboConnDelay_Click(int index);
    void cmboHoldDelay_Click(int index);
    void editCallerStartTelNo_Change(const std::string& text);
    void editCalleeStartTelNo_Change(const std::string& text);
    void editCallerStartTelNo_LostFocus();
    void editCalleeStartTelNo_LostFocus();
    void editTimePeriod_Change(const std::string& text);
    void editTimePeriod_LostFocus();
    // Typed texts of the boxes that have no handler of their own.
    void ConnIPAddr_Change(const std::string& text);
    void ConnPortNo_Change(const std::string& text);
    void txtClientKind_Change(const std::string& text);
    void txtFreeDialNo_Change(const std::string& text);

    // Senders (counted and logged; dropped while the socket is down).
    void SendMakeCall(int caller, int callee);
    void SendMakeCallFreeDial(int caller);
    void SendAnswerCall(int first, int second);
    void SendHoldCall(int first, int second);
    void SendUnHoldCall(int first, int second);
    void SendDropCall(int device);
    // Appends to the log box, emptying it first when it holds more than kLogLimit characters.
    void ShowMessage(const std::string& text);

public slots:
    void MyTimer_Timer();
    void CallTimer_Timer();
    // One delivery of received bytes.
    void MyWinSock_DataArrival(const std::vector<std::uint8_t>& bytes);

signals:
    void stateChanged();
    void message(const ClientMessage& message);
    // Quit has saved the settings: the window closes.
    void quitRequested();

private:
    void Initialize_Val();
    void ConnectAndRegister(const std::string& address, std::uint16_t port);
    void OnConnected();
    void OnConnectTimeout();
    void OnLoginSent();
    void OnSocketError(const QString& description);
    void OnClosedByPeer();
    bool ValidateStart();
    void SendRequest(const protocol::ClientRequestFrames::Frame& frame, double* counter,
                     ClientControl* box);
    void OnRecord(const protocol::CtiRecord& record);
    void OnBadLength(std::uint16_t length);
    void HandleRecord(const std::uint8_t* body, std::size_t length);
    void ClearReceive();
    void EnableRunTimer();
    void DisableRunTimer();
    void EnableCallTimer();
    void DisableCallTimer();
    void RunNextAction();
    void ShowCountdown(int phase, int seconds);
    void ShowCounters();
    void SetSettingsControlsEnabled(bool enabled);
    void Show(const std::string& text, const std::string& title = kClientSimTitle,
              const std::string& focusControl = "");
    int ComboSeconds(ClientList list, const ClientControl& combo) const;
    std::string FormatDateTime(const QDateTime& time) const;
    void Changed() { emit stateChanged(); }

    ClientRunSettings m_settings;
    ClientCounters m_counters;
    ClientCallCycle m_cycle;
    ClientWindowState m_state;
    ClientSocket m_socket;

    QTimer m_runTimer;
    QTimer m_callTimer;
    QTimer m_connectTimer;
    int m_secondMs = 1000;
    int m_connectTimeoutMs = 3000;
    std::function<QDateTime()> m_now;

    bool m_registered = false;
    bool m_connecting = false;
    bool m_running = false;
    bool m_runFreeDial = false; // the free-dial mode of the run, taken at Start
    double m_elapsed = 0;
    QDateTime m_start;
    protocol::RecordAssembler m_assembler;
    std::size_t m_delivered = 0; // bytes of the delivery being handled, for the error reports
};

Q_DECLARE_METATYPE(ClientMessage)
