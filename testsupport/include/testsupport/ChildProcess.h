#pragma once

// A program started as a child process with the caller's environment, killed at the end if it is
// still running; its pid at hand for /proc.
//
//   testsupport::ChildProcess server(BROVIK_PATH, {"--service"});
//   server.Signal(SIGTERM);
//   EXPECT_EQ(server.WaitExit(5000), std::optional<int>(0));

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

class ChildProcess {
public:
    struct Options {
        // "NAME=value" entries for the child: a value the environment already has for NAME gets
        // ":value" appended (option lists such as ASAN_OPTIONS), any other NAME is added.
        std::vector<std::string> environment;
        // When given, standard output and error go to this file and input comes from /dev/null.
        std::string outputFile;
    };

    ChildProcess(std::string path, std::vector<std::string> args);
    ChildProcess(std::string path, std::vector<std::string> args, const Options& options);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return m_pid > 0; }
    pid_t Pid() const { return m_pid; }
    void Signal(int signal);
    // The exit status (128 + signal for a killed child), or nullopt while it still runs. Once
    // the child has ended, every call answers its status.
    std::optional<int> WaitExit(int timeoutMs);
    bool Running() { return Started() && !WaitExit(0).has_value(); }
    // SIGTERM, then SIGKILL when it has not ended within the time; its exit status.
    int Stop(int timeoutMs);
    // SIGTERM, then this thread's event loop runs until the child has ended or the time is up,
    // so that what the test runs in this process goes on answering it; as WaitExit.
    std::optional<int> TerminateWhileSpinning(std::chrono::milliseconds timeout);

private:
    std::string m_path;
    std::vector<std::string> m_args;
    pid_t m_pid = -1;
    bool m_exited = false;
    int m_status = 0;
};

// Runs `body` in a forked child (as nobody when `asNobody` and this is root) and returns the text
// it gave back, for what must be seen as another process or user.
template <class Body> std::string InChild(bool asNobody, Body body) {
    int report[2];
    if (::pipe(report) != 0) {
        return "no pipe";
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(report[0]);
        if (asNobody && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(2);
        }
        const std::string text = body();
        [[maybe_unused]] const ssize_t n = ::write(report[1], text.data(), text.size());
        ::_exit(0);
    }
    ::close(report[1]);
    std::string text;
    char buf[512];
    for (ssize_t n; (n = ::read(report[0], buf, sizeof buf)) > 0;) {
        text.append(buf, static_cast<size_t>(n));
    }
    ::close(report[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return text;
}

} // namespace testsupport
