#include "ConnectionManagerDlg.h"

#include "AddrSetupStrings.h"
#include "ProcessControl.h"
#include <platform/DebugOutput.h>
#include <providerinstall/ProviderInstall.h>

#include <telephony/NameCompare.h>
#include <telephony/TapiModule.h>

#include <chrono>
#include <thread>
#include <vector>

namespace addrsetup {

namespace {

using platform::RegRoot;

const ClientApp kApps[] = {
    {"Rowan", "Rowan", "Rowan.exe", "BrindleClass", RegRoot::CurrentUser,
     "Software\\Qorvell Electronics\\Rowan\\Path", IDS_ROWAN_PATH_FAILED, IDS_ROWAN_LAUNCH_FAILED,
     IDC_EXECUTE_ROWAN, IDC_RECONNECT_ROWAN},
    {"Rowan+", "Rowan", "Rezid.exe", "QVLCTITamsinClass", RegRoot::LocalMachine,
     "Software\\Qorvell Electronics\\Tamsin", IDS_ROWAN_PLUS_PATH_FAILED, IDS_ROWAN_LAUNCH_FAILED,
     IDC_EXECUTE_ROWAN_PLUS, IDC_RECONNECT_ROWAN_PLUS},
    {"Elm", "Elm", "Dizad.exe", "QVLCTIVerdelClass", RegRoot::LocalMachine,
     "Software\\Qorvell Electronics\\Sorrel\\Path", IDS_ROWAN_PATH_FAILED, IDS_ELM_LAUNCH_FAILED,
     IDC_EXECUTE_ELM, IDC_RECONNECT_ELM},
};

void Sleep(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace

const ClientApp& ClientAppOf(ClientKind kind) {
    return kApps[static_cast<int>(kind)];
}

CConnectionManagerDlg::CConnectionManagerDlg(ConnectionManagerUi& ui)
    : ui_(ui), killProgram_(ProgramFolder() + "/" + kKillProgramName) {}

CConnectionManagerDlg::~CConnectionManagerDlg() {
    if (watchdog_ != nullptr) {
        watchdog_->RequestStop();
        watchdog_->Join();
    }
}

void CConnectionManagerDlg::OnInitDialog() {
    // Otherwise every read below fails as if the values were missing, and nobody learns why.
    if (const std::string fault = platform::RegistryFileFault(); !fault.empty()) {
        // Also where a run without a screen is read.
        platform::DebugOutput(RegistryFileFaultMessage(fault) + "\n");
        ui_.MessageBox(IDS_REGISTRY_FILE_FAULT, RegistryFileFaultMessage(fault), MessageIcon::Hand);
    }
    for (const ClientApp& app : kApps) {
        if (ReadAppPath(app).empty()) {
            ui_.EnableControl(app.executeButton, false);
            ui_.EnableControl(app.reconnectButton, false);
        }
    }
}

std::string CConnectionManagerDlg::ReadAppPath(const ClientApp& app) {
    platform::RegKey key;
    std::string path;
    if (platform::RegKey::Open(app.root, app.key, key) != platform::RegStatus::Ok ||
        key.QueryString("Path", path) != platform::RegStatus::Ok || path.size() >= 260) {
        return {};
    }
    return path;
}

int32_t CConnectionManagerDlg::RemoveTspProvider() {
    telephony::TapiModule tapi;
    if (!tapi.Load(tapiLibrary_) || tapi.Resolve("lineGetProviderList") == nullptr) {
        return LINEERR_OPERATIONFAILED;
    }
    DWORD id = 0;
    if (const int32_t found = FindRegisteredProvider(tapi, kProviderFile, &id);
        found != LINEERR_NOMULTIPLEINSTANCE) {
        return found;
    }
    auto remove = tapi.Function<PFN_lineRemoveProvider>("lineRemoveProvider");
    if (remove == nullptr) {
        return LINEERR_OPERATIONFAILED;
    }
    // Only the first registration goes; a second one is found again by AddTspProvider.
    const int32_t result = remove(id, nullptr);
    if (result != 0) {
        Debug("Unable to uninstall the TSP\n");
    }
    return result;
}

int CConnectionManagerDlg::AddTspProvider() {
    telephony::TapiModule tapi;
    if (!tapi.Load(tapiLibrary_)) {
        return 1;
    }
    return AddProviderOnce(tapi, kProviderFile, kProviderFile, nullptr, [this](bool before) {
        if (before) {
            StartWatchdog();
        } else {
            StopWatchdog();
        }
    });
}

void CConnectionManagerDlg::ReconfigureTelephony() {
    if (!inSequence_ &&
        !ui_.AskYesNo(IDS_RECONFIGURE_ASK, LoadString(IDS_RECONFIGURE_ASK), MessageIcon::None)) {
        stepOk_ = false;
        return;
    }
    ui_.BeginWaitCursor();
    if (RemoveTspProvider() != 0) {
        ui_.EndWaitCursor();
        Message(IDS_REMOVE_FAILED, MessageIcon::Hand);
        stepOk_ = false;
        return;
    }
    Sleep(timing_.reconfigureSleepMs);
    if (AddTspProvider() != 0) {
        Message(IDS_ADD_FAILED, MessageIcon::Hand);
        stepOk_ = false;
    } else if (!inSequence_) {
        Message(IDS_RECONFIGURED, MessageIcon::Information);
    }
    ui_.EndWaitCursor();
}

bool CConnectionManagerDlg::WaitForAppToEnd(const ClientApp& app) {
    for (int pass = 0; pass < timing_.restartGiveUpPass; ++pass) {
        const auto processes = ProcessSnapshot(procRoot_);
        if (!processes) {
            // No process list: the application's window tells whether it still runs.
            for (int wait = pass; wait < timing_.restartGiveUpPass; ++wait) {
                if (!WindowClassExists(app.windowClass)) {
                    return true;
                }
                Debug("[Restart] Veltrane - %s is still running(1)!\n", app.waitTitle);
                Sleep(timing_.restartPassMs);
            }
            return false;
        }
        const ProcessEntry* running = nullptr;
        for (const ProcessEntry& process : *processes) {
            if (telephony::EqualNoCase(process.name, app.processFile)) {
                running = &process;
                break;
            }
        }
        if (running == nullptr) {
            return true;
        }
        Debug("[Restart] Veltrane - %s is still running(0)!\n", app.title);
        if (pass >= timing_.restartKillPass) {
            switch (KillProcess(running->pid, timing_.killWaitMs)) {
            case KillResult::Killed:
                Debug("[Restart] Veltrane - %s process has been killed forcefully!\n", app.title);
                return true;
            case KillResult::OpenFailed:
                Debug("[Restart] Failed to open the %s process to kill!\n", app.title);
                break;
            case KillResult::KillFailed:
                Debug("[Restart] Failed to kill Veltrane - %s!\n", app.title);
                break;
            }
        }
        Sleep(timing_.restartPassMs);
    }
    return false;
}

void CConnectionManagerDlg::LaunchApp(const ClientApp& app) {
    const std::string folder = ReadAppPath(app);
    if (folder.empty()) {
        Message(app.pathMessage, MessageIcon::None);
        ui_.EndWaitCursor();
        return;
    }
    const std::string file =
        &app == &kApps[1] ? LoadString(IDS_ROWAN_PLUS_FILE) : std::string(app.processFile);
    const std::string program = folder + "/" + file;
    Debug("%s\n", program.c_str());
    std::string error;
    if (!SpawnDetached(program, folder, error)) {
        Debug("[Restart] %s: %s\n", program.c_str(), error.c_str());
        Message(app.launchMessage, MessageIcon::None);
    }
    ui_.EndWaitCursor();
    EndDialog(0);
}

void CConnectionManagerDlg::RestartApp(ClientKind kind) {
    const ClientApp& app = ClientAppOf(kind);
    ui_.BeginWaitCursor();
    if (!WaitForAppToEnd(app)) {
        // A copy that cannot be ended still runs: a second one is not started beside it.
        ui_.EndWaitCursor();
        Message(app.launchMessage, MessageIcon::None);
        return;
    }
    LaunchApp(app);
}

void CConnectionManagerDlg::ReconnectSequence(ClientKind kind) {
    for (;;) {
        stepOk_ = true;
        inSequence_ = true;
        TestLinkReachable();
        if (!stepOk_) {
            break;
        }
        ReconfigureTelephony();
        if (!stepOk_) {
            break;
        }
        TestTapiInitialize();
        if (stepOk_) {
            RestartApp(kind);
            break;
        }
        if (tapiReinit_) {
            EndDialog(0);
            break;
        }
        if (!ui_.AskYesNo(IDS_RETRY_NO_LINE, LoadString(IDS_RETRY_NO_LINE), MessageIcon::Hand)) {
            break;
        }
    }
    inSequence_ = false;
}

void CConnectionManagerDlg::EndDialog(int result) {
    ended_ = true;
    ui_.EndDialog(result);
}

} // namespace addrsetup
