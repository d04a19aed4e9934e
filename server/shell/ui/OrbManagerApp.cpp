#include "OrbManagerApp.h"

#include "OrbManagerWindow.h"
#include "ServiceManager.h"
#include "TerminationSignal.h"
#include <shell/BrovikInstance.h>
#include <shell/HeadlessView.h>
#include <shell/OrbManagerServer.h>
#include <shell/RegistryConfig.h>

#include <engine/AcceptPause.h>
#include <engine/TraceLog.h>
#include <engine/TraceSettings.h>
#include <platform/Registry.h>

#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMessageBox>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace shell {

using namespace engine;

namespace {

std::string FindModulePath(const char* argv0) {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error && !self.empty())
        return self.string();
    if (argv0 == nullptr)
        return std::string();
    const std::filesystem::path given = std::filesystem::absolute(argv0, error);
    return error ? std::string(argv0) : given.lexically_normal().string();
}

bool EnvSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// Without any of these QApplication cannot reach a screen and would abort.
bool DisplayConfigured() {
    return EnvSet("QT_QPA_PLATFORM") || EnvSet("DISPLAY") || EnvSet("WAYLAND_DISPLAY");
}

// A platform where nobody would see (or dismiss) a message box.
bool CanShowMessageBox() {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return false;
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

} // namespace

platform::ProgramInfo COrbManagerApp::ProgramDescription() {
    return {"Brovik",
            "Veltrane Link: the link server between the switch and the PC clients. Without an\n"
            "option it opens its window; settings are read from the registry file.",
            "  --service             run headless, as the system service runs it (needs the\n"
            "                        option UseSystemServiceMode on)\n"
            "  -install              write and enable the systemd unit "
            "veltrane-link-v2-service.service\n"
            "  -remove               stop, disable and remove that unit\n",
            platform::kEnvWindow | platform::kEnvService};
}

COrbManagerApp::COrbManagerApp() = default;

COrbManagerApp::~COrbManagerApp() {
    ReleaseHostObjects();
    m_hResourceLibrary.Unload();
    m_pApplication.reset();
}

int COrbManagerApp::Run(int argc, char** argv) {
    m_argc = argc;
    m_argv = argv;
    m_arguments.clear();
    for (int i = 1; i < argc && argv[i] != nullptr; ++i)
        m_arguments.emplace_back(argv[i]);
    m_strModulePath = FindModulePath(argc > 0 ? argv[0] : nullptr);
    m_nExitCode = 0;
    AcceptPause::RaiseDescriptorLimit();

    // Install is looked for first, anywhere in the command line, also inside longer words.
    if (CommandLineContains("/install") || CommandLineContains("-install"))
        return InstallService();
    if (CommandLineContains("/remove") || CommandLineContains("-remove"))
        return RemoveService();
    if (platform::RefuseUnknownOptions(ProgramDescription(), argc, argv,
                                       {ServiceManager::kServiceArgument}))
        return m_nExitCode = platform::kUsageExitCode;

    const bool serviceModeOn = ReadServiceModeOption() == 0;
    if (HasArgument(ServiceManager::kServiceArgument) && !serviceModeOn) {
        // A broken or missing file reads as "off"; the operator must be sent to the file, not
        // the option.
        if (platform::RegistryFileProblem().empty()) {
            std::fprintf(stderr, "%s\n", kServiceModeOffMessage);
        } else {
            m_bHeadless = true;
            ReportStartupFailure(MissingLanguageOptionsText());
        }
        return m_nExitCode = 1;
    }
    if (serviceModeOn && m_bFirstEntry == 1 && RunServiceDispatcher() == 1) {
        ExitInstance();
        ReleaseHostObjects();
        return m_nExitCode;
    }

    // An ordinary application with its window.
    if (!EnsureApplication(true))
        return m_nExitCode;
    WatchTerminationSignals();
    InitInstance();
    ExitInstance();
    ReleaseHostObjects();
    return m_nExitCode;
}

bool COrbManagerApp::HasArgument(const std::string& argument) const {
    for (const std::string& given : m_arguments)
        if (given == argument)
            return true;
    return false;
}

bool COrbManagerApp::CommandLineContains(const char* word) const {
    std::string commandLine;
    for (const std::string& given : m_arguments)
        commandLine += (commandLine.empty() ? "" : " ") + given;
    return commandLine.find(word) != std::string::npos;
}

int COrbManagerApp::InstallService() {
    ServiceManager manager;
    if (manager.Install(m_strModulePath)) {
        std::fprintf(stderr, "The service %s is installed as %s.\n", ServiceManager::kServiceName,
                     manager.UnitFilePath().c_str());
        return m_nExitCode = 0;
    }
    std::fprintf(stderr, "\nThe service %s could not be installed.\n",
                 ServiceManager::kServiceName);
    return m_nExitCode = 1;
}

int COrbManagerApp::RemoveService() {
    ServiceManager manager;
    const int stopped = manager.Stop();
    if (manager.Remove()) {
        std::fprintf(stderr, "The service %s is removed.\n", ServiceManager::kServiceName);
        return m_nExitCode = 0;
    }
    std::fprintf(stderr, "\nThe service %s could not be %s.\n", ServiceManager::kServiceName,
                 stopped ? "removed" : "stopped and removed");
    return m_nExitCode = 1;
}

bool COrbManagerApp::EnsureApplication(bool widgets) {
    if (QCoreApplication::instance())
        return true;
    if (!widgets) {
        m_pApplication = std::make_unique<QCoreApplication>(m_argc, m_argv);
        return true;
    }
    if (!DisplayConfigured()) {
        std::fprintf(stderr, "There is no display for the window (set DISPLAY or "
                             "WAYLAND_DISPLAY); without one the server runs as the installed "
                             "service.\n");
        m_nExitCode = 1;
        return false;
    }
    auto application = std::make_unique<QApplication>(m_argc, m_argv);
    // The dialog's end ends the program, not the last window.
    application->setQuitOnLastWindowClosed(false);
    m_pApplication = std::move(application);
    return true;
}

void COrbManagerApp::WatchTerminationSignals() {
    if (m_pTerminationSignal)
        return;
    m_pTerminationSignal = std::make_unique<TerminationSignal>();
    QObject::connect(m_pTerminationSignal.get(), &TerminationSignal::Received,
                     [this](int) { ServiceControlHandler(kServiceControlStop); });
}

int COrbManagerApp::RunServiceDispatcher() {
    if (!HasArgument(ServiceManager::kServiceArgument))
        return 0;
    if (!EnsureApplication(false))
        return 0;
    WatchTerminationSignals();
    ServiceMain(m_argc, m_argv);
    return 1;
}

void COrbManagerApp::ServiceMain(int, char**) {
    m_bFirstEntry = 0;
    m_bHeadless = true;
    InitInstance();
}

void COrbManagerApp::ServiceControlHandler(int control) {
    if (control != kServiceControlStop)
        return;
    // A second signal while the link winds down changes nothing.
    if (m_bStopRequested)
        return;
    m_bStopRequested = true;
    // The boxes that were open have been told to close already (TerminationSignal).
    if (m_pServer)
        m_pServer->RequestOrderlyStop();
}

int COrbManagerApp::CheckSingleInstance() {
    if (m_pSingleInstance && m_pSingleInstance->IsFirst())
        return 1;
    m_pSingleInstance = std::make_unique<SingleInstance>(
        SingleInstance::LockPathForRegistry(platform::RegistryFilePath()));
    // A hard link names the same registry under another path.
    m_pSingleInstance->KeyOnFileIdentity(platform::RegistryFilePath());
    QObject::connect(m_pSingleInstance.get(), &SingleInstance::RaiseRequested, [this] {
        if (m_pView)
            m_pView->RaiseWindow();
    });
    switch (m_pSingleInstance->Acquire()) {
    case SingleInstance::Result::First:
        return 1;
    case SingleInstance::Result::Raised:
    case SingleInstance::Result::Unreachable:
        // The running copy serves; this one ends quietly.
        m_pSingleInstance.reset();
        m_nExitCode = 0;
        return 0;
    case SingleInstance::Result::Failed:
        break;
    }
    ReportStartupFailure("Cannot check whether Veltrane Link is already running: " +
                         m_pSingleInstance->ErrorText());
    m_pSingleInstance.reset();
    m_nExitCode = 1;
    return 0;
}

bool COrbManagerApp::InitInstance() {
    m_nExitCode = 0;
    // No folder, no settings: the single-instance check would make the folder and its lock file
    // and so hide that the server is not installed.
    if (platform::RegistryFolderMissing()) {
        ReportStartupFailure(MissingLanguageOptionsText());
        m_nExitCode = 1;
        return false;
    }
    if (!CheckSingleInstance())
        return false;

    LanguageOptions options;
    if (!ReadLanguageOptions(options)) {
        ReportStartupFailure(MissingLanguageOptionsText(options.missing));
        m_nExitCode = 1;
        return false;
    }
    m_strLanguageDllPath = options.dllPath;
    m_nLanguage = options.language;

    const std::string libraryPath = m_strLanguageDllPath + LanguageLibraryName(m_nLanguage);
    if (!m_hResourceLibrary.Load(libraryPath)) {
        ReportStartupFailure(m_hResourceLibrary.ErrorText());
        m_nExitCode = 1;
        return false;
    }

    EnableSplashScreen();
    if (GetOsVersionId() < 2)
        WriteRunCheck();

    if (m_bStopRequested)
        return false;
    const bool ended = RunMainDialog();
    if (!ended)
        m_nExitCode = 1;
    return ended;
}

bool COrbManagerApp::RunMainDialog() {
    OrbManagerServer server;
    server.SetResourceLookup([this](int id) {
        return id < 0 ? std::string() : m_hResourceLibrary.String(static_cast<unsigned>(id));
    });
    server.SetHeadless(m_bHeadless);

    std::unique_ptr<HeadlessView> headless;
    std::unique_ptr<OrbManagerWindow> window;
    if (m_bHeadless) {
        headless = std::make_unique<HeadlessView>();
        m_pView = headless.get();
    } else {
        window = std::make_unique<OrbManagerWindow>(server);
        m_pView = window.get();
    }
    server.SetView(m_pView);

    bool ended = false;
    int result = 0;
    QEventLoop loop;
    QObject::connect(&server, &OrbManagerServer::Ended, &loop, [&](int dialogResult) {
        ended = true;
        result = dialogResult;
        loop.quit();
    });

    m_pServer = &server;
    if (window)
        window->show();
    server.OnInitDialog();
    if (!ended)
        loop.exec();
    m_pServer = nullptr;

    // The view goes first; the server must no longer reach it.
    server.SetView(nullptr);
    m_pView = nullptr;
    window.reset();
    headless.reset();
    return result == OrbManagerServer::kResultOk || result == OrbManagerServer::kResultCancel;
}

void COrbManagerApp::ExitInstance() {
    m_hResourceLibrary.Unload();
}

void COrbManagerApp::ReleaseHostObjects() {
    m_pSingleInstance.reset();
    m_pTerminationSignal.reset();
}

std::string COrbManagerApp::MissingLanguageOptionsText(const std::string& missing) {
    std::string text = kMissingLanguageOptionsMessage;
    if (!missing.empty())
        text += "\n\nMissing: " + missing;
    if (const std::string fault = platform::RegistryFileFault(); !fault.empty()) {
        text += "\n\nRegistry file: " + fault;
    } else if (std::string absence = platform::RegistryFileAbsence(); !absence.empty()) {
        absence[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(absence[0])));
        text += "\n\n" + absence + ".";
    }
    return text;
}

void COrbManagerApp::ReportStartupFailure(const std::string& text) {
    // Nobody sees the box of a service or a headless copy: its trace (standard error, where the
    // service manager keeps it) tells the reason.
    if (m_bHeadless && g_nDebugMsgPrint.load() != 0) {
        TraceLog("[ERROR] %s\n", text.c_str());
    } else {
        std::fprintf(stderr, "%s\n", text.c_str());
        std::fflush(stderr);
    }
    if (CanShowMessageBox() && !m_bStopRequested)
        QMessageBox::critical(nullptr, QStringLiteral("Veltrane Link"),
                              QString::fromStdString(text));
}

} // namespace shell
