#include "LoadRigCommandLine.h"
#include <clientsim/frmClientSim.h>
#include <switchsim/frmSWSim.h>

#include <platform/ui/WindowStopSignal.h>

#include <QApplication>
#include <QPushButton>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

// What the Quit of a window does (Stop first when it runs), so that a stop request saves the
// settings as Quit does.
void QuitAsUser(QWidget* window, QPushButton* stop, QPushButton* quit) {
    if (!window->isVisible()) {
        return;
    }
    if (stop->isEnabled()) {
        stop->click();
    }
    if (quit->isEnabled()) {
        quit->click();
    } else {
        window->close();
    }
}

} // namespace

int main(int argc, char* argv[]) {
    // Answered before Qt looks for a display.
    if (platform::AnswerInfoOptions(LoadRigProgramInfo("loadrig"), argc, argv)) {
        return 0;
    }
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

    // A stop closes any box open, then acts as Quit in each window; the signals are watched
    // before the windows start their threads.
    platform::WindowStopSignal stop;

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
    stop.SetHandler([&](int) {
        if (switchWindow) {
            QuitAsUser(switchWindow.get(), switchWindow->cmdStop(), switchWindow->cmdQuit());
        }
        if (clientWindow) {
            QuitAsUser(clientWindow.get(), clientWindow->Disconnect(), clientWindow->cmdQuit());
        }
    });
    const int status = app.exec();
    stop.SetHandler({});
    // Both windows go before the application object.
    clientWindow.reset();
    switchWindow.reset();
    return status;
}
