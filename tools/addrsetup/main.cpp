// addrsetup: the connection manager of a client PC. One copy per registry file; a second start
// brings the first one's dialog forward and ends.

#include "AddrSetupStrings.h"
#include "ConnectionManagerWindow.h"
#include "ProcessControl.h"

#include <platform/DebugOutput.h>
#include <platform/ProgramInfo.h>
#include <platform/SingleInstance.h>
#include <platform/ui/WindowStopSignal.h>

#include <QApplication>

int main(int argc, char** argv) {
    const platform::ProgramInfo info{
        "addrsetup",
        "The connection manager of a client PC: tests the link server and telephony,\n"
        "re-registers the provider and restarts the client applications. One per registry.",
        "", platform::kEnvWindow | platform::kEnvTelephony};
    if (platform::AnswerInfoOptions(info, argc, argv)) {
        return 0;
    }
    // Qt takes its own options (-platform ...) out of argv here; addrsetup has none beside them.
    QApplication app(argc, argv);
    if (platform::RefuseUnknownOptions(info, argc, argv, {})) {
        return platform::kUsageExitCode;
    }
    // A stop closes any box open and the dialog as Close does.
    platform::WindowStopSignal stop;
    CConnectionManagerWindow* shown = nullptr;
    platform::SingleInstance instance(addrsetup::WindowClassLockPath(addrsetup::kWindowClass),
                                      "addrsetup-");
    QObject::connect(&instance, &platform::SingleInstance::RaiseRequested, [&] {
        if (shown != nullptr) {
            shown->BringToFront();
        }
    });
    switch (instance.Acquire()) {
    case platform::SingleInstance::Result::First:
        break;
    case platform::SingleInstance::Result::Raised:
    case platform::SingleInstance::Result::Unreachable:
        return 0;
    case platform::SingleInstance::Result::Failed:
        platform::DebugOutput("[Reconnect] failed to register this class\n");
        addrsetup::ReportStartFailure(addrsetup::InstanceFailedMessage(instance.ErrorText()));
        return 1;
    }
    platform::DebugOutput("[Reconnect] class registered\n");
    CConnectionManagerWindow dialog;
    shown = &dialog;
    stop.KeepOpen(&dialog);
    stop.SetHandler([&dialog](int) { dialog.EndDialog(0); });
    dialog.show();
    const int result = dialog.exec();
    stop.SetHandler({});
    return result;
}
