#include "MonitorApp.h"

#include "MonitorTexts.h"

#include <platform/Registry.h>
#include <platform/SocketInit.h>

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPixmap>
#include <QTimer>

#include <cstdio>
#include <cstring>

std::string MissingLanguageMessage(const char* builtIn) {
    std::string text = builtIn;
    if (const std::string fault = platform::RegistryFileFault(); !fault.empty())
        text += "\n\nRegistry file: " + fault;
    return text;
}

void ReportStartFailure(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
    const QString platform = QGuiApplication::platformName();
    if (platform != QLatin1String("offscreen") && platform != QLatin1String("minimal"))
        QMessageBox::critical(nullptr, QString(), QString::fromStdString(text));
}

int RunMonitorApp(const MonitorProgram& program, platform::WindowStopSignal& stop, int argc,
                  char** argv) {
    bool start = false;
    int quitAfter = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--start") == 0)
            start = true;
        else if (std::strncmp(argv[i], "--quit-after=", 13) == 0)
            quitAfter = std::atoi(argv[i] + 13);
    }
    LanguageSetting setting;
    if (!LoadLanguageSetting(program.kind, setting)) {
        ReportStartFailure(MissingLanguageMessage(program.missingLanguageText) +
                           "\nMissing: " + setting.missing);
        return 1;
    }
    // Without its library the program has no dialogs to show; it says which file it tried.
    MonitorLanguage language;
    if (!language.Load(LanguageLibraryPath(program.kind, setting))) {
        ReportStartFailure(language.ErrorText() +
                           "\n(Extension KOR, ENG, GER, ITA or RUS names the library in DllPath)");
        return 1;
    }
    if (!platform::InitSockets()) {
        QMessageBox::critical(nullptr, QString(),
                              QString::fromStdString(language.String(kStrSocketInitFailed)));
        return 1;
    }
    MonitorWindow window(program.kind, language, QIcon(QPixmap(program.programIcon)));
    if (!window.IsBuilt()) {
        ReportStartFailure("The language library \"" + LanguageLibraryPath(program.kind, setting) +
                           "\" holds no main dialog");
        return 1;
    }
    if (program.windowReady)
        program.windowReady(window);
    std::unique_ptr<MonitorCore> logic = program.makeLogic(window);
    window.Attach(*logic, program.listImages(language));
    // SIGTERM and SIGINT end it as the quit option does: connection closed, logs closed, exit 0.
    stop.KeepOpen(&window);
    stop.SetHandler([&](int) { window.RequestEnd(); });
    // Armed first: the initialisation may already run the configuration dialog.
    if (quitAfter > 0)
        QTimer::singleShot(quitAfter * 1000, &window, [&] { window.RequestEnd(); });
    logic->Initialise();
    if (start)
        QTimer::singleShot(0, &window, [&] {
            if (!window.IsEnding())
                logic->OnStartMonitor();
        });
    window.exec();
    stop.SetHandler({});
    logic.reset();
    return 0;
}
