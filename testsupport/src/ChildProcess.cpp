#include <testsupport/ChildProcess.h>
#include <testsupport/TestApp.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

extern char** environ;

namespace testsupport {

namespace {

std::vector<std::string> Environment(const std::vector<std::string>& changes) {
    std::vector<std::string> entries;
    for (char** e = environ; *e != nullptr; ++e)
        entries.emplace_back(*e);
    for (const std::string& change : changes) {
        const std::string name = change.substr(0, change.find('=') + 1);
        bool found = false;
        for (std::string& entry : entries) {
            if (entry.rfind(name, 0) == 0) {
                entry += ":" + change.substr(name.size());
                found = true;
            }
        }
        if (!found)
            entries.push_back(change);
    }
    return entries;
}

} // namespace

ChildProcess::ChildProcess(std::string path, std::vector<std::string> args)
    : ChildProcess(std::move(path), std::move(args), Options()) {}

ChildProcess::ChildProcess(std::string path, std::vector<std::string> args, const Options& options)
    : m_path(std::move(path)), m_args(std::move(args)) {
    std::vector<char*> argv;
    argv.push_back(m_path.data());
    for (std::string& arg : m_args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    std::vector<std::string> envStore = Environment(options.environment);
    std::vector<char*> envp;
    for (std::string& entry : envStore)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!options.outputFile.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, options.outputFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    if (::posix_spawn(&m_pid, m_path.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
        m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess() {
    if (m_pid > 0 && !m_exited) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
}

void ChildProcess::Signal(int signal) {
    if (m_pid > 0 && !m_exited)
        ::kill(m_pid, signal);
}

std::optional<int> ChildProcess::WaitExit(int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!m_exited && m_pid > 0) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_exited = true;
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (std::chrono::steady_clock::now() >= end)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return m_exited ? std::optional<int>(m_status) : std::nullopt;
}

int ChildProcess::Stop(int timeoutMs) {
    if (!Started())
        return 0;
    Signal(SIGTERM);
    if (const std::optional<int> status = WaitExit(timeoutMs))
        return *status;
    Signal(SIGKILL);
    return WaitExit(60000).value_or(128 + SIGKILL);
}

std::optional<int> ChildProcess::TerminateWhileSpinning(std::chrono::milliseconds timeout) {
    Signal(SIGTERM);
    SpinUntil([&] { return WaitExit(0).has_value(); }, timeout);
    return WaitExit(0);
}

} // namespace testsupport
