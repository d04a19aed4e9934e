#pragma once

#include <platform/ProgramInfo.h>
#include <platform/ResourceLibrary.h>

#include <memory>
#include <string>
#include <vector>

class QCoreApplication;

namespace shell {

class MainView;
class OrbManagerServer;
class SingleInstance;
class TerminationSignal;

// The program's host: the service command line, the choice between the window and the service,
// the single running copy, the language library, and then the main dialog until it ends.
class COrbManagerApp {
public:
    // Controls of the service's stop path; SIGTERM and SIGINT arrive as kServiceControlStop.
    enum ServiceControl : int {
        kServiceControlStop = 1,
        kServiceControlInterrogate = 4,
        kServiceControlShutdown = 5,
    };

    // Shown when the language options are missing; built in, since no library is loaded yet.
    static constexpr const char* kMissingLanguageOptionsMessage =
        "Cannot Open the system registry information about the Veltrane Link Runtime Language. "
        "Need to install the OrbManager again!!!";
    // The message above, followed by what is missing and where the registry file is broken or
    // missing when it is.
    static std::string MissingLanguageOptionsText(const std::string& missing = {});
    static constexpr const char* kServiceModeOffMessage =
        "service mode is off: set OptionValues UseSystemServiceMode to 1";

    // What --help shows; the options are also the only ones Run takes.
    static platform::ProgramInfo ProgramDescription();

    COrbManagerApp();
    virtual ~COrbManagerApp();
    COrbManagerApp(const COrbManagerApp&) = delete;
    COrbManagerApp& operator=(const COrbManagerApp&) = delete;

    // The whole program; returns the process's exit code (2 for an option it does not know). An
    // application object that exists already is used as it is.
    int Run(int argc, char** argv);

    // Start-up from the single-instance check to the end of the main dialog; true when the
    // dialog ran and ended with OK or Cancel.
    bool InitInstance();
    void ExitInstance();

    // 1 when the program was started as the service ("--service") and the service has run.
    int RunServiceDispatcher();
    // The service: the same start-up without a window.
    void ServiceMain(int argc, char** argv);
    // Only the stop control acts: it asks the main dialog for an orderly stop, once.
    void ServiceControlHandler(int control);
    // 1 when this copy may start; 0 when it must end (ExitCode() tells how).
    int CheckSingleInstance();
    // No Windows version here: unknown.
    int GetOsVersionId() const { return -1; }

    int ExitCode() const { return m_nExitCode; }
    // The main dialog while it runs, else null.
    OrbManagerServer* Server() const { return m_pServer; }

    std::string m_strLanguageDllPath;
    platform::ResourceLibrary m_hResourceLibrary;
    int m_nLanguage = 1;
    int m_bFirstEntry = 1;

protected:
    // A start-up failure for the operator: standard error, and a message box when a display can
    // show one.
    virtual void ReportStartupFailure(const std::string& text);

private:
    bool HasArgument(const std::string& argument) const;
    bool CommandLineContains(const char* word) const;
    int InstallService();
    int RemoveService();
    // Makes the application object (with widgets for the window) unless one exists.
    bool EnsureApplication(bool widgets);
    void WatchTerminationSignals();
    bool RunMainDialog();
    void ReleaseHostObjects();
    // The splash picture comes with the about dialog; nothing is shown yet.
    void EnableSplashScreen() {}

    int m_argc = 0;
    char** m_argv = nullptr;
    std::vector<std::string> m_arguments; // without the program name
    std::string m_strModulePath;
    int m_nExitCode = 0;
    bool m_bHeadless = false;
    bool m_bStopRequested = false;

    std::unique_ptr<QCoreApplication> m_pApplication;
    std::unique_ptr<TerminationSignal> m_pTerminationSignal;
    std::unique_ptr<SingleInstance> m_pSingleInstance;
    OrbManagerServer* m_pServer = nullptr;
    MainView* m_pView = nullptr;
};

} // namespace shell
