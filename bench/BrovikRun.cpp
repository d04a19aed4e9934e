#include "BrovikRun.h"

#include "ProcStat.h"

#include <testsupport/LoopbackPorts.h>
#include <testsupport/ServerSettings.h>

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

namespace bench {

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream file(path);
    return std::string((std::istreambuf_iterator<char>(file)), {});
}

bool PortsOpen(int port) {
    return !testsupport::PortRefuses(port) && !testsupport::PortRefuses(port + 500);
}

} // namespace

BrovikRun::BrovikRun(std::string program, std::string languageLibrary)
    : m_Program(std::move(program)), m_Library(std::move(languageLibrary)) {}

BrovikRun::~BrovikRun() {
    Stop();
}

bool BrovikRun::Start(const std::string& switchHost, int switchPort, int timeoutMs,
                      std::string& error) {
    m_Registry = std::make_unique<testsupport::TempRegistry>("relaybench");
    if (!m_Registry->IsReady()) {
        error = "no temp folder";
        return false;
    }
    const std::filesystem::path& dir = m_Registry->Dir();
    m_ListenPort = testsupport::FreeListenPortPair();
    if (m_ListenPort <= 0) {
        error = "no free client port pair";
        return false;
    }
    testsupport::ServerSettings settings;
    settings.dir = dir;
    settings.switchHost = switchHost;
    settings.switchPort = switchPort;
    settings.clientPort = m_ListenPort;
    settings.languageLibrary = m_Library;
    // As a service runs: the trace goes to its files only.
    settings.debugPrint = 0;
    if (!testsupport::WriteServerSettings(settings)) {
        error = "cannot copy " + m_Library + " or write the registry";
        return false;
    }

    testsupport::ChildProcess::Options options;
    options.outputFile = (dir / "brovik.out").string();
    m_Process = std::make_unique<testsupport::ChildProcess>(
        m_Program, std::vector<std::string>{"--service"}, options);
    if (!m_Process->Started()) {
        error = "cannot start " + m_Program;
        return false;
    }

    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!PortsOpen(m_ListenPort)) {
        if (!m_Process->Running()) {
            error = "Brovik ended during its start (see its output)";
            return false;
        }
        if (std::chrono::steady_clock::now() > end) {
            error = "Brovik's client ports did not open";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

std::filesystem::path BrovikRun::LogDir() const {
    return m_Registry ? m_Registry->Dir() / "Log" : std::filesystem::path();
}

pid_t BrovikRun::Pid() const {
    return m_Process ? m_Process->Pid() : -1;
}

ProcessSample BrovikRun::Sample() const {
    ProcessSample sample;
    if (Pid() <= 0)
        return sample;
    const std::string dir = "/proc/" + std::to_string(Pid());
    const std::string status = ReadText(dir + "/status");
    sample.peakKb = StatusKb(status, "VmHWM").value_or(0);
    sample.residentKb = StatusKb(status, "VmRSS").value_or(0);
    sample.cpuSeconds =
        StatCpuSeconds(ReadText(dir + "/stat"), ::sysconf(_SC_CLK_TCK)).value_or(0.0);
    return sample;
}

int BrovikRun::Stop() {
    if (!m_Process || !m_Process->Running())
        return 0;
    return m_Process->Stop(20000);
}

} // namespace bench
