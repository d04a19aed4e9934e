#include "MonitorApp.h"

#include "MonitorTexts.h"

#include <platform/Registry.h>
#include <platform/SocketInit.h>

#include <QApplication>
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

int RunMonitorApp(const MonitorProgram& program, int argc, char** argv) {
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
        const std::string text = MissingLanguageMessage(program.missingLanguageText);
        std::fprintf(stderr, "%s\nMissing: %s\n", text.c_str(), setting.missing.c_str());
        QMessageBox::critical(nullptr, QString(), QString::fromStdString(text));
        return 1;
    }
    // Without its library the program has no dialogs to show and ends silently.
    MonitorLanguage language;
    language.Load(LanguageLibraryPath(program.kind, setting));
    if (!platform::InitSockets()) {
        QMessageBox::critical(nullptr, QString(),
                              QString::fromStdString(language.String(kStrSocketInitFailed)));
        return 1;
    }
    MonitorWindow window(program.kind, language, QIcon(QPixmap(program.programIcon)));
    if (!window.IsBuilt())
        return 1;
    if (program.windowReady)
        program.windowReady(window);
    std::unique_ptr<MonitorCore> logic = program.makeLogic(window);
    window.Attach(*logic, program.listImages(language));
    logic->Initialise();
    if (start)
        QTimer::singleShot(0, &window, [&] { logic->OnStartMonitor(); });
    if (quitAfter > 0)
        QTimer::singleShot(quitAfter * 1000, &window, [&] { window.reject(); });
    window.exec();
    logic.reset();
    return 0;
}
