#pragma once

#include "DialogPrompts.h"

#include <string>

namespace engine {
class COrbManagerDlg;
}

namespace shell {

// The report file in the install path, rewritten whole after every settings dialog, at link
// start and stop, at initialisation and at the orderly exit.
inline constexpr const char* kSystemInfoReportName = "/OrbSysData.html";

// The report's text from the main dialog's state; the user rows are read under the user list's
// lock. Every text taken from the settings or the store is escaped for HTML.
std::string BuildSystemInfoReport(engine::COrbManagerDlg& dlg, int storedUserCount,
                                  const std::string& creationTime);

// Writes the report; 1, or 0 with box 226 naming the file and the reason when it can't be written.
int WriteSystemInfoReport(engine::COrbManagerDlg& dlg, int storedUserCount,
                          const DialogPrompts& prompts);

// The running system into the OS name and detail texts; 0 when it can't be queried. The OS type
// code keeps its value: it only ever names Windows families.
int DetectOSVersion(engine::COrbManagerDlg& dlg);

// & < > " as entities.
std::string EscapeHtml(const std::string& text);

} // namespace shell
