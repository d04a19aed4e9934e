// switchwatch: shows the traffic of the link server's switch link, both directions, as hex.

#include "SwitchMonitor.h"

#include <common/DialogBuilder.h>
#include <common/MonitorApp.h>
#include <common/MonitorTexts.h>
#include <platform/ProgramInfo.h>
#include <platform/Registry.h>
#include <platform/SingleInstance.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace {

#include "switchwatch.xpm"

} // namespace

int main(int argc, char** argv) {
    const platform::ProgramInfo info{
        "switchwatch",
        "The switch-message monitor: shows the traffic of the link server's switch link\n"
        "as hex. Settings: Software\\Qorvell Electronics\\OrbMonitor.",
        "  --start               press Start Monitor at start\n"
        "  --quit-after=<secs>   end the program after that many seconds\n",
        platform::kEnvWindow};
    if (platform::AnswerInfoOptions(info, argc, argv))
        return 0;
    // Qt takes its own options (-platform ...) out of argv here; the rest are ours.
    QApplication app(argc, argv);
    if (platform::RefuseUnknownOptions(info, argc, argv, kMonitorOptions))
        return platform::kUsageExitCode;
    // From here on a stop closes any box open, and once the dialog runs, ends it.
    platform::WindowStopSignal stop;
    // Before anything else: one switchwatch at a time; a second start raises the first.
    MonitorWindow* shown = nullptr;
    platform::SingleInstance instance(
        SwitchMonitor::LockPathForRegistry(platform::RegistryFilePath()),
        SwitchMonitor::kInstanceNamePrefix);
    QObject::connect(&instance, &platform::SingleInstance::RaiseRequested, [&] {
        if (shown == nullptr)
            return;
        shown->showNormal();
        shown->raise();
        shown->activateWindow();
    });
    switch (instance.Acquire()) {
    case platform::SingleInstance::Result::First:
        break;
    case platform::SingleInstance::Result::Raised:
        return 0;
    case platform::SingleInstance::Result::Unreachable:
        QMessageBox::warning(nullptr, QString(), "Monitor Program is already running.");
        return 1;
    case platform::SingleInstance::Result::Failed:
        ReportStartFailure("Detected an error during loading this monitor program instance.\n\n" +
                           instance.ErrorText());
        return 1;
    }

    MonitorProgram program{
        MonitorKind::Switch,
        "Can't read the system registry information about the Runtime Language. You should "
        "install the monitor program again!!!",
        kProgramIcon,
        [](MonitorWindow& window) {
            auto logic = std::make_unique<SwitchMonitor>(window);
            SwitchMonitor* raw = logic.get();
            if (auto* b = qobject_cast<QPushButton*>(window.Control(kIdClear)))
                QObject::connect(b, &QPushButton::clicked, [raw] { raw->OnClearList(); });
            return std::unique_ptr<MonitorCore>(std::move(logic));
        },
        [](const MonitorLanguage& language) {
            return std::map<int, std::vector<QIcon>>{
                {SwitchMonitor::kList,
                 {DialogBuilder::Icon(language, 133), DialogBuilder::Icon(language, 132)}}};
        },
        [&](MonitorWindow& window) { shown = &window; }};
    return RunMonitorApp(program, stop, argc, argv);
}
