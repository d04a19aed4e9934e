// linesweep: clears the calls held on the provider's telephony lines, at once or daily.
//   linesweep [--setup]     --setup opens the setup dialog at start

#include "LineSweepDlg.h"

#include <platform/ProgramInfo.h>
#include <platform/ui/WindowStopSignal.h>

#include <QApplication>
#include <QTimer>

#include <cstring>

int main(int argc, char** argv) {
    const platform::ProgramInfo info{
        "linesweep",
        "Clears the calls that the switch's telephony provider holds on its lines, at once\n"
        "or daily. Schedule: Software\\Qorvell Electronics\\Westmarch.",
        "  --setup               open the Setup dialog at start\n",
        platform::kEnvWindow | platform::kEnvTelephony};
    if (platform::AnswerInfoOptions(info, argc, argv)) {
        return 0;
    }
    // Qt takes its own options (-platform ...) out of argv here; the rest are ours.
    QApplication app(argc, argv);
    if (platform::RefuseUnknownOptions(info, argc, argv, {"--setup"})) {
        return platform::kUsageExitCode;
    }
    app.setQuitOnLastWindowClosed(false); // the window hides to the tray
    // A stop closes any box or dialog open and ends the program as Exit does.
    platform::WindowStopSignal stop;
    CLineSweepDlg dialog;
    stop.SetHandler([&dialog](int) { dialog.OnExit(); });
    dialog.show();
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--setup") == 0) {
            QTimer::singleShot(0, &dialog, &CLineSweepDlg::OnSetup);
        }
    }
    const int status = app.exec();
    stop.SetHandler({});
    return status;
}
