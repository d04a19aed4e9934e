#pragma once

#include "DialogPrompts.h"

#include <engine/ConnEnv.h>

#include <map>

namespace shell {

// Control ids of the connection settings dialog.
enum ConnEnvControlId : int {
    kIdcOk = 1,
    kIdcConnSim = 1008,
    kIdcConnDirect = 1009,
    kIdcConnTcp = 1010,
    kIdcCommPort = 1011,
    kIdcBaudRate = 1012,
    kIdcByteSize = 1013,
    kIdcStopBits = 1014,
    kIdcSwitchPort = 1016,
    kIdcSwitchAddress = 1017,
    kIdcListenPort = 1018,
    kIdcPassword = 1120,
    kIdcSwitchNormal = 1123,
    kIdcSwitchVeltrane = 1124,
};

// The connection settings dialog's logic: what it shows, which controls it enables, and OK.
// While the link runs every control but Cancel stays locked.
class ConnEnvDialogModel {
public:
    // Lengths the edits allow.
    static constexpr int kPortChars = 5;
    static constexpr int kPasswordChars = 8;

    ConnEnvDialogModel(bool linkRunning, DialogPrompts prompts,
                       engine::ShowSystemErrorBox errorBox);

    // The stored settings, or the defaults (untouched registry) when ConnEnv is missing.
    void Init();
    const engine::ConnEnvSettings& Settings() const { return m_Settings; }
    bool IsEnabled(int id) const;

    // Radio clicks: 1008, 1009, 1010 set the connection type, 1123 and 1124 the switch type.
    void OnConnType(int type);
    void OnSwitchType(int type);

    // OK with the controls' values: true when the settings are stored and the dialog may close.
    // A key that can't be written keeps the dialog open with its message.
    bool OnOK(const engine::ConnEnvSettings& fields);

    // Box ids of the refusals of OK that the settings themselves cause.
    static constexpr int kBoxBadSwitchPort = 390;
    static constexpr int kBoxBadListenPort = 391;
    static constexpr int kBoxSaveFailed = 392;

private:
    void ApplyTypeEnabling();

    bool m_bRunning;
    DialogPrompts m_prompts;
    engine::ShowSystemErrorBox m_errorBox;
    engine::ConnEnvSettings m_Settings;
    std::map<int, bool> m_Enabled;
};

} // namespace shell
