// smdrwatch: shows the switch's SMDR and UCD records from the link server's monitor port.

#include "SmdrMonitor.h"

#include <DialogBuilder.h>
#include <MonitorApp.h>
#include <MonitorTexts.h>

#include <QApplication>
#include <QPixmap>
#include <QPushButton>

namespace {

const char* const kProgramIcon[] = {
    "16 16 3 1",        "  c None",         ". c #000080",      "+ c #FFFFFF",
    "                ", "  ............  ", "  .++++++++++.  ", "  .+........+.  ",
    "  .++++++++++.  ", "  .+......+++.  ", "  .++++++++++.  ", "  .+........+.  ",
    "  .++++++++++.  ", "  .+.....++++.  ", "  .++++++++++.  ", "  ............  ",
    "      ....      ", "    ........    ", "                ", "                "};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
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
    return RunMonitorApp(program, argc, argv);
}
