#pragma once

#include "MonitorCore.h"
#include "MonitorLanguage.h"
#include "MonitorWindow.h"

#include <platform/ProgramInfo.h>
#include <platform/ui/WindowStopSignal.h>

#include <QIcon>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The start-up both monitor programs share: language setting and library, the socket layer, the
// main dialog run modally. Options for scripted runs: --start presses Start Monitor once the
// dialog is up, --quit-after=<seconds> ends the program without the question.
struct MonitorProgram {
    MonitorKind kind;
    const char* missingLanguageText; // shown when the language setting cannot be read
    const char* const* programIcon;  // XPM
    // Makes the program's logic over its window and connects its own buttons.
    std::function<std::unique_ptr<MonitorCore>(MonitorWindow&)> makeLogic;
    std::map<int, std::vector<QIcon>> (*listImages)(const MonitorLanguage&);
    // Called with the window once it is built (switchwatch raises it on a second start).
    std::function<void(MonitorWindow&)> windowReady;
};

// The text shown when the language setting cannot be read: the program's built-in text, and
// where the registry file is broken when it is.
std::string MissingLanguageMessage(const char* builtIn);

// A start that fails: standard error always, a box only where somebody can see it (a box on the
// offscreen platform would hold the program forever).
void ReportStartFailure(const std::string& text);

// The scripted-run options, as platform::RefuseUnknownOptions takes them.
inline const std::vector<std::string_view> kMonitorOptions = {"--start", "--quit-after="};

// Parses the scripted-run options out of argv; the application object must exist. `stop`, made
// as the program starts, ends the dialog in order at SIGTERM or SIGINT.
// The program's exit status: 0 after the dialog ended, 1 when it could not start.
int RunMonitorApp(const MonitorProgram& program, platform::WindowStopSignal& stop, int argc,
                  char** argv);
