#include <shell/ui/OrbManagerApp.h>

#include <shell/BrovikInstance.h>
#include <shell/OrbManagerServer.h>
#include <shell/ui/TerminationSignal.h>
#include <testsupport/RegistryKeys.h>
#include <testsupport/TestApp.h>

#include <QApplication>

#include <platform/Registry.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

using namespace shell;

namespace {

using platform::RegKey;
using platform::RegRoot;
using platform::RegStatus;

const std::string kRootKey = "Software\\Qorvell Electronics\\OrbManager";

using testsupport::CreateKey;

// An application whose start-up failures are kept instead of shown.
class RecordingApp : public COrbManagerApp {
public:
    std::vector<std::string> failures;

protected:
    void ReportStartupFailure(const std::string& text) override { failures.push_back(text); }
};

struct ProgramResult {
    int exitCode = -1;
    std::string standardError;
};

class OrbManagerAppTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::App<QApplication>();
        ASSERT_TRUE(dir_.isValid());
        registry_ = dir_.path().toStdString() + "/registry.reg";
        const char* saved = std::getenv("QORVELL_REGISTRY");
        savedRegistry_ = saved ? std::optional<std::string>(saved) : std::nullopt;
        ::setenv("QORVELL_REGISTRY", registry_.c_str(), 1);
    }
    void TearDown() override {
        if (savedRegistry_)
            ::setenv("QORVELL_REGISTRY", savedRegistry_->c_str(), 1);
        else
            ::unsetenv("QORVELL_REGISTRY");
    }

    void SetLanguage(const std::string& dllPath, const std::string& extension) {
        RegKey options = CreateKey(kRootKey + "\\OptionValues");
        ASSERT_EQ(options.SetString("DllPath", dllPath), RegStatus::Ok);
        ASSERT_EQ(options.SetString("Extension", extension), RegStatus::Ok);
    }
    void SetServiceMode(bool on) {
        ASSERT_EQ(CreateKey(kRootKey + "\\OptionValues").SetDword("UseSystemServiceMode", on),
                  RegStatus::Ok);
    }

#ifdef BROVIK_PATH
    // Runs the program on this test's registry; `display` false leaves every display out.
    ProgramResult RunProgram(const QStringList& args, bool display = true) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QORVELL_REGISTRY", QString::fromStdString(registry_));
        if (display) {
            env.insert("QT_QPA_PLATFORM", "offscreen");
        } else {
            env.remove("QT_QPA_PLATFORM");
            env.remove("DISPLAY");
            env.remove("WAYLAND_DISPLAY");
        }
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(BROVIK_PATH), args);
        EXPECT_TRUE(process.waitForFinished(30000));
        ProgramResult result;
        if (process.exitStatus() == QProcess::NormalExit)
            result.exitCode = process.exitCode();
        result.standardError = process.readAllStandardError().toStdString();
        return result;
    }
#endif

    QTemporaryDir dir_;
    std::string registry_;
    std::optional<std::string> savedRegistry_;
};

TEST_F(OrbManagerAppTest, LanguageOptionsAndLibraryMustBeThere) {
    const std::string message = COrbManagerApp::kMissingLanguageOptionsMessage;
    {
        // The single-instance check has made the lock file beside it, not the file itself.
        RecordingApp app;
        EXPECT_FALSE(app.InitInstance());
        EXPECT_EQ(app.ExitCode(), 1);
        EXPECT_EQ(app.failures, std::vector<std::string>{
                                    message + "\n\nMissing: the key HKEY_LOCAL_MACHINE\\" +
                                    kRootKey + "\\OptionValues in " + registry_ +
                                    "\n\nThe registry file " + registry_ + " does not exist."});
    }
    // DllPath alone is not enough.
    ASSERT_EQ(CreateKey(kRootKey + "\\OptionValues").SetString("DllPath", "/nowhere"),
              RegStatus::Ok);
    {
        RecordingApp app;
        EXPECT_FALSE(app.InitInstance());
        EXPECT_EQ(app.failures,
                  std::vector<std::string>{message +
                                           "\n\nMissing: the value \"Extension\" (REG_SZ) of "
                                           "HKEY_LOCAL_MACHINE\\" +
                                           kRootKey + "\\OptionValues in " + registry_});
    }
    // An unknown extension takes the English library; a missing file is named.
    SetLanguage("/nowhere", "XYZ");
    {
        RecordingApp app;
        EXPECT_FALSE(app.InitInstance());
        EXPECT_EQ(app.ExitCode(), 1);
        EXPECT_EQ(app.m_strLanguageDllPath, "/nowhere");
        EXPECT_EQ(app.m_nLanguage, 1);
        ASSERT_EQ(app.failures.size(), 1u);
        EXPECT_NE(app.failures[0].find("\"/nowhere/ResDLLEN.so\""), std::string::npos)
            << app.failures[0];
        EXPECT_FALSE(app.m_hResourceLibrary.IsLoaded());
    }
    SetLanguage("/nowhere", "GER");
    {
        RecordingApp app;
        EXPECT_FALSE(app.InitInstance());
        EXPECT_EQ(app.m_nLanguage, 2);
        ASSERT_EQ(app.failures.size(), 1u);
        EXPECT_NE(app.failures[0].find("\"/nowhere/ResDLLGER.so\""), std::string::npos);
    }
}

TEST_F(OrbManagerAppTest, CopyThatFindsAnotherRunningEndsQuietly) {
    SingleInstance running(SingleInstance::LockPathForRegistry(registry_));
    ASSERT_EQ(running.Acquire(), SingleInstance::Result::First);
    RecordingApp app;
    EXPECT_EQ(app.CheckSingleInstance(), 0);
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(app.ExitCode(), 0);
    EXPECT_TRUE(app.failures.empty());
    EXPECT_EQ(app.GetOsVersionId(), -1);
}

TEST(TerminationSignalTest, SignalsArriveOnTheEventLoopAndHandlersComeBack) {
    testsupport::App<QApplication>();
    struct sigaction before {};
    ASSERT_EQ(::sigaction(SIGTERM, nullptr, &before), 0);
    {
        TerminationSignal watch;
        ASSERT_TRUE(watch.IsInstalled());
        TerminationSignal another;
        EXPECT_FALSE(another.IsInstalled());
        std::vector<int> received;
        QObject::connect(&watch, &TerminationSignal::Received,
                         [&](int signalNumber) { received.push_back(signalNumber); });
        ::raise(SIGTERM);
        ::raise(SIGINT);
        EXPECT_TRUE(testsupport::SpinUntil([&] { return received.size() >= 2; }));
        EXPECT_EQ(received, (std::vector<int>{SIGTERM, SIGINT}));
    }
    struct sigaction after {};
    ASSERT_EQ(::sigaction(SIGTERM, nullptr, &after), 0);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
    // The slot is free again.
    TerminationSignal next;
    EXPECT_TRUE(next.IsInstalled());
}

#ifdef RESDLL_DIR
// The service in this process: headless start-up, the run marker, the language library's texts,
// a raise request that a service ignores, and SIGTERM ending it with exit code 0.
TEST_F(OrbManagerAppTest, ServiceRunsHeadlessUntilTerminated) {
    const std::string home = dir_.path().toStdString();
    std::filesystem::copy_file(std::string(RESDLL_DIR) + "/ResDLLEN.so", home + "/ResDLLEN.so");
    SetLanguage(home, "ENG");
    SetServiceMode(true);
    RegKey root = CreateKey(kRootKey);
    ASSERT_EQ(root.SetString("OrbPath", home), RegStatus::Ok);
    ASSERT_EQ(root.SetDword("OrbRunCheck", 0), RegStatus::Ok);

    RecordingApp app;
    std::uint32_t runCheck = 7;
    std::string running;
    bool headless = false;
    bool stillRunningAfterShutdownControl = false;
    SingleInstance::Result second = SingleInstance::Result::Failed;
    bool gaveUp = false;

    QTimer::singleShot(100, [&] {
        ASSERT_NE(app.Server(), nullptr);
        headless = app.Server()->IsHeadless();
        running = app.Server()->ResString(103);
        root.QueryDword("OrbRunCheck", runCheck);
        SingleInstance other(SingleInstance::LockPathForRegistry(registry_));
        second = other.Acquire(2000);
        // Only the stop control ends the service.
        app.ServiceControlHandler(COrbManagerApp::kServiceControlShutdown);
        app.ServiceControlHandler(COrbManagerApp::kServiceControlInterrogate);
    });
    QTimer::singleShot(300, [&] {
        stillRunningAfterShutdownControl = app.Server() != nullptr;
        ::raise(SIGTERM);
    });
    QTimer::singleShot(20000, [&] {
        gaveUp = true;
        if (app.Server())
            app.Server()->RequestOrderlyStop();
    });

    char program[] = "Brovik";
    char service[] = "--service";
    char* argv[] = {program, service, nullptr};
    EXPECT_EQ(app.Run(2, argv), 0);
    EXPECT_FALSE(gaveUp);
    EXPECT_TRUE(app.failures.empty());
    EXPECT_TRUE(headless);
    EXPECT_EQ(app.m_bFirstEntry, 0);
    EXPECT_EQ(running, "Link running");
    EXPECT_EQ(runCheck, 1u) << "written at the start";
    EXPECT_EQ(second, SingleInstance::Result::Raised);
    EXPECT_TRUE(stillRunningAfterShutdownControl);
    EXPECT_EQ(app.Server(), nullptr);
    EXPECT_FALSE(app.m_hResourceLibrary.IsLoaded());
    // The orderly end clears the marker again (unknown system version).
    ASSERT_EQ(root.QueryDword("OrbRunCheck", runCheck), RegStatus::Ok);
    EXPECT_EQ(runCheck, 0u);
    // The lock went with the program.
    SingleInstance after(SingleInstance::LockPathForRegistry(registry_));
    EXPECT_EQ(after.Acquire(), SingleInstance::Result::First);
}
#endif

TEST_F(OrbManagerAppTest, ASecondCopyThroughAHardLinkToTheRegistryEnds) {
    CreateKey(kRootKey);
    RecordingApp first;
    ASSERT_EQ(first.CheckSingleInstance(), 1);
    const std::string linked = dir_.path().toStdString() + "/linked.reg";
    ASSERT_EQ(::link(registry_.c_str(), linked.c_str()), 0);
    ::setenv("QORVELL_REGISTRY", linked.c_str(), 1);
    RecordingApp second;
    EXPECT_EQ(second.CheckSingleInstance(), 0);
    EXPECT_EQ(second.ExitCode(), 0);
    EXPECT_TRUE(second.failures.empty());
}

TEST_F(OrbManagerAppTest, ABrokenRegistryFileIsNamedWithItsLine) {
    const std::string where = registry_ + ":4: ";
    { std::ofstream(registry_) << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software]\n\"A\"=dword:xyz\n"; }
    {
        RecordingApp app;
        EXPECT_FALSE(app.InitInstance());
        EXPECT_EQ(app.ExitCode(), 1);
        ASSERT_EQ(app.failures.size(), 1u);
        EXPECT_EQ(app.failures[0].rfind(COrbManagerApp::kMissingLanguageOptionsMessage, 0), 0u);
        EXPECT_NE(app.failures[0].find(where), std::string::npos) << app.failures[0];
    }

#ifdef BROVIK_PATH
    // With its window and as the service (where the file reads as service mode off).
    for (const QStringList& args : {QStringList{}, QStringList{"--service"}}) {
        const ProgramResult result = RunProgram(args, args.isEmpty());
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(result.standardError.find(COrbManagerApp::kMissingLanguageOptionsMessage),
                  std::string::npos)
            << result.standardError;
        EXPECT_NE(result.standardError.find(where), std::string::npos) << result.standardError;
    }
#endif
}

// A folder that is not there is named, and left as it was: no folder, no lock file.
TEST_F(OrbManagerAppTest, AMissingRegistryFolderIsNamedAndNotCreated) {
    const std::string folder = dir_.path().toStdString() + "/not-installed";
    registry_ = folder + "/registry.reg";
    ::setenv("QORVELL_REGISTRY", registry_.c_str(), 1);
    const std::string named = COrbManagerApp::kMissingLanguageOptionsMessage +
                              std::string("\n\nThe registry folder ") + folder +
                              " does not exist (registry file " + registry_ + ").";
    {
        RecordingApp app;
        EXPECT_FALSE(app.InitInstance());
        EXPECT_EQ(app.ExitCode(), 1);
        EXPECT_EQ(app.failures, std::vector<std::string>{named});
    }
    EXPECT_FALSE(std::filesystem::exists(folder));
#ifdef BROVIK_PATH
    for (const QStringList& args : {QStringList{}, QStringList{"--service"}}) {
        const ProgramResult result = RunProgram(args, args.isEmpty());
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(result.standardError.find(named), std::string::npos) << result.standardError;
        EXPECT_FALSE(std::filesystem::exists(folder));
    }
#endif
}

#ifdef BROVIK_PATH
TEST_F(OrbManagerAppTest, ProgramReportsStartFailuresAndEndsWithOne) {
    // No language options: the built-in text, with a display and without one (the service).
    ProgramResult result = RunProgram({});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.standardError.find(COrbManagerApp::kMissingLanguageOptionsMessage),
              std::string::npos)
        << result.standardError;

    SetServiceMode(true);
    result = RunProgram({"--service"}, false);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.standardError.find(COrbManagerApp::kMissingLanguageOptionsMessage),
              std::string::npos)
        << result.standardError;

    SetLanguage(dir_.path().toStdString() + "/lang", "ENG");
    result = RunProgram({"--service"}, false);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.standardError.find(dir_.path().toStdString() + "/lang/ResDLLEN.so"),
              std::string::npos)
        << result.standardError;

    // "--service" asks for a service that the options do not allow.
    SetServiceMode(false);
    result = RunProgram({"--service"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.standardError.find(COrbManagerApp::kServiceModeOffMessage), std::string::npos)
        << result.standardError;

    // The window needs a display.
    result = RunProgram({}, false);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.standardError.find("no display"), std::string::npos) << result.standardError;
}
#endif

} // namespace
