#include "LoadRigCommandLine.h"
#include "frmClientSim.h"
#include "frmSWSim.h"

#include <QApplication>

#include <iostream>
#include <memory>
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
    const LoadRigOptions& options = parsed.options;
    if (options.help) {
        std::cout << LoadRigUsage("loadrig");
        return 0;
    }

    // The program ends when its last window has closed.
    int open = 0;
    auto closedOne = [&] {
        if (--open == 0) {
            QCoreApplication::quit();
        }
    };

    std::unique_ptr<frmSWSim> switchWindow;
    if (options.OpensSwitchWindow()) {
        switchWindow = std::make_unique<frmSWSim>();
        ++open;
        QObject::connect(switchWindow.get(), &frmSWSim::closed, &app, closedOne,
                         Qt::QueuedConnection);
    }
    std::unique_ptr<frmClientSim> clientWindow;
    if (options.OpensClientWindow()) {
        clientWindow = std::make_unique<frmClientSim>();
        ++open;
        QObject::connect(clientWindow.get(), &frmClientSim::closed, &app, closedOne,
                         Qt::QueuedConnection);
    }

    if (switchWindow) {
        switchWindow->show();
        SwitchScript script;
        script.run = options.run;
        script.callRun = options.callRun;
        script.quitAfterSeconds = options.quitAfterSeconds;
        switchWindow->StartScript(script);
    }
    if (clientWindow) {
        clientWindow->show();
        ClientScript script;
        script.server = options.server;
        script.port = options.port;
        script.clientKind = options.clientKind;
        script.start = options.start;
        script.quitAfterSeconds = options.quitAfterSeconds;
        clientWindow->StartScript(script);
    }
    const int status = app.exec();
    // Both windows go before the application object.
    clientWindow.reset();
    switchWindow.reset();
    return status;
}
