#include <shell/ui/ServiceManager.h>

#include <testsupport/TestApp.h>

#include <QApplication>
#include <engine/tests/TraceCapture.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

using namespace shell;

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Sets environment variables for one test and puts the old values back.
class ScopedEnv {
public:
    ~ScopedEnv() {
        for (const auto& [name, value] : saved_) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }
    void Set(const std::string& name, const std::string& value) {
        Save(name);
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    void Unset(const std::string& name) {
        Save(name);
        ::unsetenv(name.c_str());
    }

private:
    void Save(const std::string& name) {
        if (saved_.count(name))
            return;
        const char* value = std::getenv(name.c_str());
        saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
    }
    std::map<std::string, std::optional<std::string>> saved_;
};

// A unit folder and a systemctl stand-in that logs its arguments, one call a line, and fails
// the commands named in FAKE_SYSTEMCTL_FAIL.
class ServiceManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        root_ = dir_.path().toStdString();
        unitDir_ = fs::path(root_) / "units";
        fs::create_directories(unitDir_);
        log_ = fs::path(root_) / "systemctl.log";
        const fs::path script = fs::path(root_) / "systemctl";
        std::ofstream(script) << "#!/bin/sh\n"
                                 "echo \"$*\" >> \"$FAKE_SYSTEMCTL_LOG\"\n"
                                 "case \" $FAKE_SYSTEMCTL_FAIL \" in *\" $1 \"*) exit 1;; esac\n"
                                 "exit 0\n";
        ::chmod(script.c_str(), 0755);
        env_.Set("VELTRANE_SYSTEMD_UNIT_DIR", unitDir_.string());
        env_.Set("VELTRANE_SYSTEMCTL", script.string());
        env_.Set("FAKE_SYSTEMCTL_LOG", log_.string());
        env_.Set("FAKE_SYSTEMCTL_FAIL", "");
        env_.Set("QORVELL_REGISTRY", root_ + "/registry.reg");
    }

    std::vector<std::string> Calls() const {
        std::vector<std::string> calls;
        std::ifstream in(log_);
        for (std::string line; std::getline(in, line);)
            calls.push_back(line);
        return calls;
    }
    fs::path UnitFile() const { return unitDir_ / ServiceManager::kUnitName; }
    void FailCommands(const std::string& commands) { env_.Set("FAKE_SYSTEMCTL_FAIL", commands); }

    QTemporaryDir dir_;
    std::string root_;
    fs::path unitDir_;
    fs::path log_;
    ScopedEnv env_;
};

const std::string kUnit = ServiceManager::kUnitName;

TEST_F(ServiceManagerTest, InstallWritesTheUnitAndEnablesIt) {
    ServiceManager manager;
    EXPECT_EQ(manager.UnitFilePath(), UnitFile().string());
    EXPECT_EQ(manager.IsInstalled(), 0);

    ASSERT_EQ(manager.Install("/opt/veltrane/Brovik"), 1);
    EXPECT_EQ(manager.IsInstalled(), 1);
    EXPECT_EQ(Calls(), (std::vector<std::string>{"daemon-reload", "enable " + kUnit}));

    const std::string unit = ReadFile(UnitFile());
    EXPECT_NE(unit.find("Description=Veltrane Link V2\n"), std::string::npos) << unit;
    EXPECT_NE(unit.find("ExecStart=\"/opt/veltrane/Brovik\" --service\n"), std::string::npos);
    EXPECT_NE(unit.find("Environment=\"QORVELL_REGISTRY=" + root_ + "/registry.reg\"\n"),
              std::string::npos);
    EXPECT_NE(unit.find("Type=simple\n"), std::string::npos);
    // A failed server comes back after a pause, but not for ever; its trace goes to a state
    // folder of the service; the unit names the README.
    EXPECT_NE(unit.find("\nRestart=on-failure\nRestartSec=5\n"), std::string::npos) << unit;
    EXPECT_NE(unit.find("\nStartLimitBurst="), std::string::npos) << unit;
    EXPECT_NE(unit.find("\nStateDirectory=veltrane\nWorkingDirectory=%S/veltrane\n"),
              std::string::npos)
        << unit;
    const std::size_t doc = unit.find("\nDocumentation=file:/");
    ASSERT_NE(doc, std::string::npos) << unit;
    EXPECT_LT(doc, unit.find("[Service]"));
    EXPECT_NE(unit.find("README.md\n", doc), std::string::npos) << unit;
    EXPECT_NE(unit.find("[Install]\nWantedBy=multi-user.target\n"), std::string::npos);
    EXPECT_EQ(fs::status(UnitFile()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::others_read);
}

TEST_F(ServiceManagerTest, UnitTextQuotesPathsAndLeavesTheRegistryOutWhenUnset) {
    env_.Unset("QORVELL_REGISTRY");
    ServiceManager manager;
    ASSERT_EQ(manager.Install("/opt/my link/100%/$HOME/\"x\\y\"/Brovik"), 1);
    const std::string unit = ReadFile(UnitFile());
    EXPECT_NE(
        unit.find("ExecStart=\"/opt/my link/100%%/$$HOME/\\\"x\\\\y\\\"/Brovik\" --service\n"),
        std::string::npos)
        << unit;
    EXPECT_EQ(unit.find("Environment="), std::string::npos);

    EXPECT_NE(ServiceManager::UnitText("/a", "/r/50%$.reg")
                  .find("Environment=\"QORVELL_REGISTRY=/r/50%%$.reg\"\n"),
              std::string::npos);
    // A line break would start a directive of its own.
    EXPECT_EQ(ServiceManager::UnitText("/a\nExecStartPre=/bin/evil", ""), "");
    EXPECT_EQ(ServiceManager::UnitText("/a", "/r\n.reg"), "");

    // An installed program names its installed README, as a URI a unit line can carry.
    const fs::path prefix = fs::path(root_) / "my 100%";
    fs::create_directories(prefix / "bin");
    fs::create_directories(prefix / "share/doc/veltrane");
    std::ofstream(prefix / "share/doc/veltrane/README.md") << "#\n";
    const std::string installed = ServiceManager::UnitText((prefix / "bin/Brovik").string(), "");
    EXPECT_NE(installed.find("Documentation=file:" + root_ +
                             "/my%%20100%%25/share/doc/veltrane/README.md\n"),
              std::string::npos)
        << installed;
}

TEST_F(ServiceManagerTest, InstallFailuresLeaveNoUnitAndAreTraced) {
    TraceCapture trace;
    {
        FailCommands("enable");
        ServiceManager manager;
        EXPECT_EQ(manager.Install("/opt/Brovik"), 0);
        EXPECT_FALSE(fs::exists(UnitFile()));
        EXPECT_EQ(trace.CountPart("[ERROR] \"" + manager.SystemctlProgram() + " enable " + kUnit +
                                  "\" failed with exit code 1"),
                  1)
            << trace.All();
    }
    {
        FailCommands("");
        env_.Set("VELTRANE_SYSTEMCTL", root_ + "/no-such-systemctl");
        ServiceManager manager;
        EXPECT_EQ(manager.Install("/opt/Brovik"), 0);
        EXPECT_FALSE(fs::exists(UnitFile()));
        EXPECT_GE(trace.CountPart("[ERROR] Cannot run \"" + root_ + "/no-such-systemctl"), 1);
    }
    {
        env_.Set("VELTRANE_SYSTEMD_UNIT_DIR", root_ + "/missing/units");
        ServiceManager manager;
        EXPECT_EQ(manager.Install("/opt/Brovik"), 0);
        EXPECT_EQ(trace.CountPart("[ERROR] Cannot write the service unit " + root_ +
                                  "/missing/units/" + kUnit),
                  1);
    }
    {
        env_.Set("VELTRANE_SYSTEMD_UNIT_DIR", unitDir_.string());
        ServiceManager manager;
        EXPECT_EQ(manager.Install("/opt/\nBrovik"), 0);
        EXPECT_FALSE(fs::exists(UnitFile()));
    }
    EXPECT_TRUE(fs::is_empty(unitDir_));
}

TEST_F(ServiceManagerTest, StopAndRemove) {
    ServiceManager manager;
    // Not installed: nothing to stop, nothing to remove, systemctl is not asked.
    EXPECT_EQ(manager.Stop(), 1);
    EXPECT_EQ(manager.Remove(), 0);
    EXPECT_TRUE(Calls().empty());

    ASSERT_EQ(manager.Install("/opt/Brovik"), 1);
    FailCommands("stop disable");
    EXPECT_EQ(manager.Stop(), 0);
    EXPECT_EQ(manager.Remove(), 0);
    EXPECT_TRUE(fs::exists(UnitFile())) << "a unit that could not be disabled stays";

    FailCommands("");
    EXPECT_EQ(manager.Stop(), 1);
    EXPECT_EQ(manager.Remove(), 1);
    EXPECT_FALSE(fs::exists(UnitFile()));
    EXPECT_EQ(manager.IsInstalled(), 0);
    EXPECT_EQ(Calls(), (std::vector<std::string>{
                           "daemon-reload", "enable " + kUnit, "stop " + kUnit, "disable " + kUnit,
                           "stop " + kUnit, "disable " + kUnit, "daemon-reload"}));
}

TEST_F(ServiceManagerTest, RegistrationByOptionTracesTheOutcome) {
    TraceCapture trace;
    RegisterServiceByOption(false, "/opt/Brovik");
    EXPECT_TRUE(trace.Has("Veltrane Link V3 is not registered as Windows Service."));

    RegisterServiceByOption(true, "/opt/Brovik");
    EXPECT_TRUE(trace.Has("Veltrane Link V3 is registered as Windows Service."));
    EXPECT_TRUE(fs::exists(UnitFile()));

    RegisterServiceByOption(true, "/opt/Brovik");
    EXPECT_TRUE(trace.Has("Veltrane Link V3 is already registered as Windows Service."));

    // Switched off: removed without a stop first.
    RegisterServiceByOption(false, "/opt/Brovik");
    EXPECT_TRUE(trace.Has("Veltrane Link V3 is removed from Windows Service."));
    EXPECT_FALSE(fs::exists(UnitFile()));
    for (const std::string& call : Calls())
        EXPECT_NE(call.rfind("stop", 0), 0u) << call;

    trace.Clear();
    FailCommands("enable");
    RegisterServiceByOption(true, "/opt/Brovik");
    EXPECT_TRUE(trace.Has("Veltrane Link V3 is not registered as Windows Service."));
    EXPECT_FALSE(trace.Has("Veltrane Link V3 is registered as Windows Service."));
}

#ifdef BROVIK_PATH
// The program's command line: the words are found anywhere, install before remove.
TEST_F(ServiceManagerTest, CommandLineInstallsAndRemoves) {
    testsupport::App<QApplication>();
    const auto run = [&](const QStringList& args) {
        QProcess process;
        process.setProgram(QStringLiteral(BROVIK_PATH));
        process.setArguments(args);
        process.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
        process.start();
        EXPECT_TRUE(process.waitForFinished(30000));
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    };

    EXPECT_EQ(run({"/remove", "-install"}), 0);
    ASSERT_TRUE(fs::exists(UnitFile()));
    EXPECT_NE(ReadFile(UnitFile())
                  .find("ExecStart=\"" + fs::canonical(BROVIK_PATH).string() + "\" --service\n"),
              std::string::npos);
    EXPECT_EQ(Calls(), (std::vector<std::string>{"daemon-reload", "enable " + kUnit}));

    EXPECT_EQ(run({"now-removeit"}), 0);
    EXPECT_FALSE(fs::exists(UnitFile()));
    EXPECT_EQ(Calls().at(2), "stop " + kUnit);
    EXPECT_EQ(Calls().at(3), "disable " + kUnit);

    // Without systemd the calls fail, and so does the program.
    FailCommands("daemon-reload enable");
    EXPECT_EQ(run({"x/installer"}), 1);
    EXPECT_FALSE(fs::exists(UnitFile()));
    EXPECT_EQ(run({"-remove"}), 1);
}
#endif

} // namespace
