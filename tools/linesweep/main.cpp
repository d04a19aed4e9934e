// linesweep: clears the calls held on the provider's telephony lines, at once or daily.
//   linesweep [--setup]     --setup opens the setup dialog at start

#include "LineSweepDlg.h"

#include <platform/ProgramInfo.h>

#include <QApplication>
#include <QTimer>

#include <cstring>

int main(int argc, char** argv) {
    if (platform::AnswerInfoOptions(
            {"linesweep",
             "Clears the calls that the switch's telephony provider holds on its lines, at once\n"
             "or daily. Schedule: Software\\Qorvell Electronics\\Westmarch.",
             "  --setup               open the Setup dialog at start\n",
             platform::kEnvWindow | platform::kEnvTelephony},
            argc, argv)) {
        return 0;
    }
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false); // the window hides to the tray
    CLineSweepDlg dialog;
    dialog.show();
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--setup") == 0) {
            QTimer::singleShot(0, &dialog, &CLineSweepDlg::OnSetup);
        }
    }
    return app.exec();
}
