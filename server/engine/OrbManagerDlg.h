#pragma once

#include "LinkTimings.h"
#include "MonitorFeed.h"
#include "ShellHooks.h"
#include "UserList.h"

#include <platform/Mutex.h>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace engine {

class COrbClientConnectionManager;
class COrbIOQueue;
class COrbSWEventHandler;
class COrbSWServiceController;
class MonitorConnectionManager;
class SerialPort;
class SwitchDeviceTable;

// Link types of the "ConnType" setting.
enum ConnType : int { kConnTypeSim = 0, kConnTypeDirectSerial = 1, kConnTypeTcp = 2 };

// One login count per client kind and port; Rowan and Spruce share one, and the second port keeps
// its own Dogwood count.
enum KindCount : int {
    kCountRowanSpruce,
    kCountElm,
    kCountPoplar,
    kCountFir,
    kCountHazel,
    kCountDogwood,
    kCountKind10,
    kCountCedar,
    kCountBirch,
    kCountOak,
    kCountMaple,
    kCountBypassDogwood,
    kCountJuniper,
    kCountMsJuniper,
    kCountIbmJuniper,
    kCountKind33, // 33 Hemlock, 34 Willow, 35..41 without names: kCountKind33 + (kind - 33)
    kCountKind41 = kCountKind33 + 8,
    kKindCountSlots
};

// The server's shared state: the settings, counters, flags and engine objects that every engine
// object reaches through its pointer to this one. The main window is a view over it, so the server
// runs headless on the same code. Members touched by more than one thread are atomic; the settings
// texts are written only while the link is stopped.
class COrbManagerDlg {
public:
    COrbManagerDlg();
    virtual ~COrbManagerDlg();
    COrbManagerDlg(const COrbManagerDlg&) = delete;
    COrbManagerDlg& operator=(const COrbManagerDlg&) = delete;

    // --- the calls the engine makes into the user interface; safe from any thread ---
    void AddLogLine(int image, const std::string& text);
    void RefreshClientList();
    void PurgeDeadClients();
    void PlayLogoAnimation();
    void NotifyClientsChanged();
    // The status text of a string id of the language library.
    void ShowStatusText(int id);

    // The interface that carries those calls; null drops them. Calls queued from other threads
    // before a change (or the destructor) are dropped, never run on a stale object.
    void SetShellHooks(ShellHooks* hooks);

    // The text of a string id of the language library; "" when no library holds it.
    virtual std::string ResString(int id) const;
    void SetResourceLookup(std::function<std::string(int)> lookup);

    // Opens the transport to the switch from the connection settings; 1 when it is open.
    // The start of the link calls it, and the service controller from its own thread when a TCP
    // link has lost its socket.
    virtual int OpenConnection();
    // The first two steps of taking the transport down at link stop: the link-close request (on
    // TCP given closeDrainMs to leave), then the transport, freed once no link thread can use it.
    void SendLinkClose();
    void DeleteLinkHandle();

    // The monitor listeners, UI thread only. A start makes a listener only when its option is 1
    // and none exists; a stop closes its monitors and deletes it.
    void StartMonitorListeners();
    void StopMonitorListeners();
    void StartMsgMonitorListener();
    void StartSMDRUCDMonitorListener();
    void StartSMDRUCDSendListener();
    void StopMsgMonitorListener();
    void StopSMDRUCDMonitorListener();
    void StopSMDRUCDSendListener();

    LinkTimings m_timings;
    // Copies of the switch traffic for the monitor ports; null until a monitor listener first
    // starts. Its calls do nothing for a listener that is not active.
    std::atomic<MonitorFeed*> m_pMonitorFeed{nullptr};

    // --- members ---
    std::atomic<int> m_bLinkRunning{0};

    // Other types, type 5, 4, 3, 13, 12, 2, 1, as the device table keeps them.
    std::array<std::atomic<int>, 8> m_nDeviceCountByType{};
    std::atomic<int> m_nDownLoadedDeviceCount{0};

    int m_bAutoRecoverTimerOn = 0;
    int m_nAutoRecoverTimerId = 0;
    std::atomic<int> m_nConnType{kConnTypeSim};
    std::atomic<int> m_nClientCount{0};
    std::atomic<int> m_nBypassClientCount{0};
    int m_bSecondTimerOn = 0;
    int m_nSecondTimerId = 0;
    int m_nLivenessTimerId = 0;
    int m_nFirCheckTimerId = 0;
    std::atomic<int> m_nListenPort{0};
    std::atomic<int> m_nBypassListenPort{0}; // always m_nListenPort + 500

    // The known users; walked and changed under m_UserList.Lock().
    UserList m_UserList;

    // Engine objects; all null whenever the link is stopped.
    COrbClientConnectionManager* m_pClientManager = nullptr;
    COrbClientConnectionManager* m_pBypassClientManager = nullptr;
    SwitchDeviceTable* m_pDeviceTable = nullptr;
    COrbSWEventHandler* m_pEventHandler = nullptr;
    COrbSWServiceController* m_pServiceController = nullptr;
    COrbIOQueue* m_pIOQueue = nullptr;
    SerialPort* m_pSerialPort = nullptr;

    std::string m_strInstallPath;
    std::atomic<int> m_nMonitorCount{0}; // at most 20, under the monitor lists' lock
    std::array<std::atomic<unsigned>, kKindCountSlots> m_nKindLoginCounts{};
    std::string m_strDllPath;
    std::atomic<int> m_bUseDebugMsgSave{0};
    std::atomic<int> m_bStartResult{1};
    int m_bTrayIconShown = 0;
    std::atomic<int> m_nFirCheckInterval{0}; // seconds; 0 after every stop
    std::atomic<int> m_nSwitchType{0};
    std::string m_strSysInfoPassword; // at most 8 characters
    std::atomic<int> m_bRestartRequest{0};
    std::atomic<int> m_bUseAutoConnect{0};
    std::atomic<int> m_bUseSystemServiceMode{0};
    std::atomic<int> m_nExtension{1}; // 0 KOR, 1 ENG, 2 GER, 3 ITA, 4 RUS
    std::atomic<int> m_bUseDebugMsgPrint{0};
    std::string m_strOsName = "Unknown";
    std::string m_strOsText = "Unknown OS";
    int OsTypeCode = -1;
    std::atomic<int> m_bUseLinnetPlusMsg{0};
    std::atomic<int> m_nStopBits{1};
    std::atomic<int> m_nByteSize{8};
    std::atomic<int> m_nBaudRate{9600};
    std::atomic<int> m_nCommPort{1};
    std::atomic<int> m_nSwitchPort{5002};
    std::string m_strSwitchIPAddress = "1.1.1.1";
    std::atomic<int> m_bUseUserManager{1};
    std::atomic<int> m_bSendListenerActive{0};
    std::atomic<int> m_bSmdrMonitorListenerActive{0};
    std::atomic<int> m_bMsgMonitorListenerActive{0};
    // Set and cleared on the UI thread under the monitor feed's shared lock, which lives in the
    // feed and so cannot be named here; the senders read them under it, the UI thread, their
    // only writer, without.
    MonitorConnectionManager* m_pMsgMonitorManager = nullptr;
    MonitorConnectionManager* m_pSmdrMonitorManager = nullptr;
    MonitorConnectionManager* m_pSmdrSendManager = nullptr;
    int m_nLogLineCount = 0;
    std::atomic<int> m_bUseAutoClear{0};
    std::atomic<int> m_nAutoClearLineCnt{1000};
    std::atomic<int> m_bUseMsgMonitor{0};
    std::atomic<int> m_nMsgMonitorListenPortNo{6001};
    std::atomic<int> m_bUseSMDRUCDMonitor{0};
    std::atomic<int> m_nSMDRUCDMonitorListenPortNo{6002};
    std::atomic<int> m_bUseProtectSMDRUCDSend{0};
    std::atomic<int> m_bUseSMDRUCDSend{0};
    std::atomic<int> m_nSMDRUCDSendListenPortNo{6003};
    std::string m_strMonitorAccessCode = "507193";
    std::atomic<int> m_nAutoRecoverCount{30};
    std::atomic<int> m_nRetryCount{0};
    std::atomic<int> m_nAutoRecoverTimePeriod{1}; // minutes
    int m_bSocketsReady = 0;

    // What m_pMonitorFeed points at once a monitor listener has started. Kept to the end, and
    // declared after every member it uses, so a link thread inside a call never finds it freed.
    std::unique_ptr<MonitorFeed> m_pOwnedMonitorFeed;

private:
    template <typename Call> void ToUi(Call call);

    struct HookSlot {
        platform::Mutex lock;
        ShellHooks* hooks GUARDED_BY(lock) = nullptr;
        unsigned generation GUARDED_BY(lock) = 0;
    };
    // Shared with every queued call, so a call that outlives a hook change finds it empty.
    std::shared_ptr<HookSlot> m_hooks;
    std::function<std::string(int)> m_resourceLookup;
};

} // namespace engine
