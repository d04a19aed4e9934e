#include "LoadRigCommandLine.h"
#include "frmSWSim.h"

#include <QApplication>

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char* argv[]) {
    // Qt takes its own options (-platform ...) out of argv here; the rest are ours.
    QApplication app(argc, argv);
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const LoadRigParseResult parsed = ParseLoadRigCommandLine(arguments);
    if (!parsed.ok) {
        std::cerr << "loadrig: " << parsed.error << "\n" << LoadRigUsage("loadrig");
        return kLoadRigUsageExitCode;
    }
    if (parsed.options.help) {
        std::cout << LoadRigUsage("loadrig");
        return 0;
    }

    // The switch window is the only window so far, with or without --switch.
    frmSWSim window;
    QObject::connect(&window, &frmSWSim::closed, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    window.show();
    window.StartScript(parsed.options);
    return app.exec();
}
