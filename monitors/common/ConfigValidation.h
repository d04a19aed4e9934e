#pragma once

#include "MonitorSettings.h"

#include <string>

// What the configuration dialog holds when OK is pressed, as the user left it.
struct ConfigInput {
    std::string address;
    std::string port;
    std::string passCode;
    bool autoClear = false;
    std::string autoClearCount;
    bool fileSave = false; // smdrwatch: SMDR file save
    std::string fileName;
    bool ucdFileSave = false; // smdrwatch only
    std::string ucdFileName;
    int languagePosition = kLangEnglish; // the drop list's selected position
};

// The first failing check: the message to show and the control to focus; message 0 = valid.
struct ConfigCheck {
    unsigned message = 0;
    int focus = 0;
    bool Ok() const { return message == 0; }
};

// The dialog's starting values from the owner's settings.
ConfigInput ConfigInputFrom(const MonitorSettings& settings, MonitorKind kind);
// Checks in the dialog's order; on success `out` holds the owner's settings with the edits taken
// over (a switch that is off keeps the owner's count or file name).
ConfigCheck ValidateConfig(MonitorKind kind, const ConfigInput& input,
                           const MonitorSettings& current, MonitorSettings& out);
// Language by drop-list position: 0, 2, 3, 4 as they are, anything else English.
int LanguageFromPosition(int position);
