#include "BrovikRun.h"

#include "LoopbackPorts.h"

#include <platform/Registry.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

extern char** environ;

namespace bench {

namespace {

const std::string kRoot = "Software\\Qorvell Electronics\\OrbManager";

bool Key(const std::string& path, platform::RegKey& key) {
    return platform::RegKey::Create(platform::RegRoot::LocalMachine, path, key) ==
           platform::RegStatus::Ok;
}

bool PortsOpen(int port) {
    for (const int each : {port, port + 500}) {
        const int fd = platform::test::ConnectLoopback(each);
        if (fd < 0)
            return false;
        ::close(fd);
    }
    return true;
}

} // namespace

BrovikRun::BrovikRun(std::string program, std::string languageLibrary)
    : m_Program(std::move(program)), m_Library(std::move(languageLibrary)) {}

BrovikRun::~BrovikRun() {
    Stop();
    std::error_code ignored;
    if (!m_Dir.empty())
        std::filesystem::remove_all(m_Dir, ignored);
}

bool BrovikRun::Start(const std::string& switchHost, int switchPort, int timeoutMs,
                      std::string& error) {
    std::string pattern = (std::filesystem::temp_directory_path() / "relaybenchXXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        error = "no temp folder";
        return false;
    }
    m_Dir = pattern;
    std::error_code copyError;
    std::filesystem::copy_file(m_Library, m_Dir / "ResDLLEN.so", copyError);
    if (copyError) {
        error = "cannot copy " + m_Library + ": " + copyError.message();
        return false;
    }
    ::setenv("QORVELL_REGISTRY", (m_Dir / "registry.reg").c_str(), 1);
    m_ListenPort = platform::test::FreeListenPortPair();
    if (m_ListenPort <= 0) {
        error = "no free client port pair";
        return false;
    }

    platform::RegKey root, conn, options;
    if (!Key(kRoot, root) || !Key(kRoot + "\\ConnEnv", conn) ||
        !Key(kRoot + "\\OptionValues", options)) {
        error = "cannot write the registry";
        return false;
    }
    root.SetString("OrbPath", m_Dir.string());
    conn.SetDword("ConnType", 2);
    conn.SetDword("SwitchType", 0);
    conn.SetString("IP Address", switchHost);
    conn.SetDword("Port No", static_cast<std::uint32_t>(switchPort));
    conn.SetDword("Listen Port No", static_cast<std::uint32_t>(m_ListenPort));
    conn.SetDword("CommPort", 1);
    conn.SetDword("BaudRate", 9600);
    conn.SetDword("ByteSize", 8);
    conn.SetDword("StopBits", 1);
    options.SetDword("UseSystemServiceMode", 1);
    options.SetDword("UseAutoConnect", 1);
    // As a service runs: the trace goes to its files only.
    options.SetDword("UseDebugMsgPrint", 0);
    options.SetString("DllPath", m_Dir.string());
    options.SetString("Extension", "ENG");

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string out = (m_Dir / "brovik.out").string();
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    std::vector<char*> argv = {m_Program.data(), const_cast<char*>("--service"), nullptr};
    const int spawned =
        ::posix_spawn(&m_Pid, m_Program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        m_Pid = -1;
        error = "cannot start " + m_Program;
        return false;
    }

    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!PortsOpen(m_ListenPort)) {
        if (!Running()) {
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

bool BrovikRun::Running() {
    if (m_Pid <= 0 || m_Exited)
        return false;
    int status = 0;
    if (::waitpid(m_Pid, &status, WNOHANG) == m_Pid) {
        m_Exited = true;
        return false;
    }
    return true;
}

ProcessSample BrovikRun::Sample() const {
    ProcessSample sample;
    if (m_Pid <= 0)
        return sample;
    const std::string dir = "/proc/" + std::to_string(m_Pid);
    std::ifstream status(dir + "/status");
    std::string line;
    while (std::getline(status, line)) {
        std::istringstream in(line);
        std::string name;
        std::int64_t kb = 0;
        in >> name >> kb;
        if (name == "VmHWM:")
            sample.peakKb = kb;
        else if (name == "VmRSS:")
            sample.residentKb = kb;
    }
    // Fields after the command name, which is in parentheses and may hold blanks.
    std::ifstream statFile(dir + "/stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), {});
    const std::size_t close = stat.rfind(')');
    if (close != std::string::npos) {
        std::istringstream in(stat.substr(close + 2));
        std::vector<std::string> fields;
        std::string field;
        while (in >> field)
            fields.push_back(field);
        // utime and stime are fields 14 and 15 of the whole line, indexes 11 and 12 here.
        if (fields.size() > 12) {
            const double ticks = static_cast<double>(::sysconf(_SC_CLK_TCK));
            sample.cpuSeconds = (std::stod(fields[11]) + std::stod(fields[12])) / ticks;
        }
    }
    return sample;
}

int BrovikRun::Stop() {
    if (m_Pid <= 0 || m_Exited)
        return 0;
    ::kill(m_Pid, SIGTERM);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int status = 0;
    while (std::chrono::steady_clock::now() < end) {
        if (::waitpid(m_Pid, &status, WNOHANG) == m_Pid) {
            m_Exited = true;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(m_Pid, SIGKILL);
    ::waitpid(m_Pid, &status, 0);
    m_Exited = true;
    return 128 + SIGKILL;
}

} // namespace bench
