#pragma once

// Test support: a program started as a child process with the test's environment, killed at the
// end of the test if it is still running.
//
//   platform::test::ChildProcess server(BROVIK_PATH, {"--service"});
//   server.Signal(SIGTERM);
//   EXPECT_EQ(server.WaitExit(5000), std::optional<int>(0));

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace platform::test {

class ChildProcess {
public:
    ChildProcess(std::string path, std::vector<std::string> args)
        : m_path(std::move(path)), m_args(std::move(args)) {
        std::vector<char*> argv;
        argv.push_back(m_path.data());
        for (std::string& arg : m_args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&m_pid, m_path.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
    }
    ~ChildProcess() {
        if (m_pid > 0 && !m_exited) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return m_pid > 0; }
    void Signal(int signal) {
        if (m_pid > 0 && !m_exited)
            ::kill(m_pid, signal);
    }
    // The exit status (128 + signal for a killed child), or nullopt while it still runs. Once
    // the child has ended, every call answers its status.
    std::optional<int> WaitExit(int timeoutMs) {
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

private:
    std::string m_path;
    std::vector<std::string> m_args;
    pid_t m_pid = -1;
    bool m_exited = false;
    int m_status = 0;
};

} // namespace platform::test
