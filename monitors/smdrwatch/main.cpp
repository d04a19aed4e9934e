// smdrwatch: shows the switch's SMDR and UCD records from the link server's monitor port.

#include "SmdrMonitor.h"

#include <common/DialogBuilder.h>
#include <common/MonitorApp.h>
#include <common/MonitorTexts.h>
#include <platform/ProgramInfo.h>

#include <QApplication>
#include <QPixmap>
#include <QPushButton>

namespace {

#include "smdrwatch.xpm"

} // namespace

int main(int argc, char** argv) {
    const platform::ProgramInfo info{
        "smdrwatch",
        "The SMDR/UCD monitor: shows the switch's SMDR and UCD records from the link\n"
        "server's monitor port. Settings: Software\\Qorvell Electronics\\smdrwatch.",
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
    MonitorProgram program{
        MonitorKind::Smdr,
        "Can't open the system registry information about the Runtime Language. You should "
        "install the monitor program again!!!",
        kProgramIcon,
        [](MonitorWindow& window) {
            auto logic = std::make_unique<SmdrMonitor>(window);
            SmdrMonitor* raw = logic.get();
            if (auto* b = qobject_cast<QPushButton*>(window.Control(kIdClear)))
                QObject::connect(b, &QPushButton::clicked, [raw] { raw->OnClearSmdr(); });
            if (auto* b = qobject_cast<QPushButton*>(window.Control(kIdClearUcd)))
                QObject::connect(b, &QPushButton::clicked, [raw] { raw->OnClearUcd(); });
            return std::unique_ptr<MonitorCore>(std::move(logic));
        },
        [](const MonitorLanguage& language) {
            return std::map<int, std::vector<QIcon>>{
                {SmdrMonitor::kSmdrList, {DialogBuilder::Icon(language, 137)}},
                {SmdrMonitor::kUcdList, {DialogBuilder::Icon(language, 138)}}};
        },
        {}};
    return RunMonitorApp(program, stop, argc, argv);
}
