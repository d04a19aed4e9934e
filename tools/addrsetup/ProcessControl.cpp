#include "ProcessControl.h"

#include <platform/Registry.h>
#include <platform/SingleInstance.h>
#include <platform/SystemError.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace addrsetup {

namespace {

bool AllDigits(const char* text) {
    if (*text == '\0') {
        return false;
    }
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') {
            return false;
        }
    }
    return true;
}

// The whole file, or false. Plain reads: a process that ends after the open makes the read fail
// (ESRCH), which is an answer here, not an exception.
bool ReadSmallFile(const std::string& path, std::string& text) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    text.clear();
    char chunk[1024];
    bool ok = true;
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got > 0) {
            text.append(chunk, static_cast<size_t>(got));
            if (text.size() > 65536) {
                ok = false; // no stat line is this long
                break;
            }
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        ok = got == 0;
        break;
    }
    ::close(fd);
    return ok;
}

// "pid (name) S ...": the name may hold spaces and parentheses, so it ends at the last ')'.
bool ReadStat(const std::string& path, std::string& name, char& state) {
    std::string text;
    if (!ReadSmallFile(path, text)) {
        return false;
    }
    const size_t open = text.find('(');
    const size_t close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open ||
        close + 2 >= text.size()) {
        return false;
    }
    name = text.substr(open + 1, close - open - 1);
    state = text[close + 2];
    return true;
}

int PidfdOpen(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

int PidfdSignal(int fd, int signal) {
    return static_cast<int>(::syscall(SYS_pidfd_send_signal, fd, signal, nullptr, 0));
}

bool WriteAll(int fd, const void* data, size_t size) {
    return ::write(fd, data, size) == static_cast<ssize_t>(size);
}

} // namespace

std::optional<std::vector<ProcessEntry>> ProcessSnapshot(const std::string& procRoot) {
    DIR* dir = ::opendir(procRoot.c_str());
    if (dir == nullptr) {
        return std::nullopt;
    }
    std::vector<ProcessEntry> out;
    while (const dirent* entry = ::readdir(dir)) {
        if (!AllDigits(entry->d_name)) {
            continue;
        }
        std::string name;
        char state = 0;
        // A process may end between the listing and the read; it is then simply not there.
        if (!ReadStat(procRoot + "/" + entry->d_name + "/stat", name, state) || state == 'Z' ||
            state == 'X') {
            continue;
        }
        out.push_back({static_cast<pid_t>(std::atol(entry->d_name)), name});
    }
    ::closedir(dir);
    if (out.empty()) {
        return std::nullopt; // not even this process: no usable list
    }
    return out;
}

KillResult KillProcess(pid_t pid, int waitMs) {
    const int fd = PidfdOpen(pid);
    if (fd < 0) {
        return KillResult::OpenFailed;
    }
    if (PidfdSignal(fd, SIGKILL) != 0) {
        ::close(fd);
        return KillResult::KillFailed;
    }
    // The descriptor polls readable once the process has ended.
    pollfd p{fd, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&p, 1, waitMs);
    } while (ready < 0 && errno == EINTR);
    ::close(fd);
    return KillResult::Killed;
}

bool SpawnDetached(const std::string& program, const std::string& workingDir, std::string& error,
                   int waitMs) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        error = platform::SystemErrorText(errno);
        return false;
    }
    const int readEnd = pipeFds[0];
    const int writeEnd = pipeFds[1];
    // Everything the children use is prepared here: after fork only async-signal-safe calls.
    char* const argv[] = {const_cast<char*>(program.c_str()), nullptr};
    const char* dir = workingDir.empty() ? nullptr : workingDir.c_str();
    const pid_t child = ::fork();
    if (child < 0) {
        error = platform::SystemErrorText(errno);
        ::close(readEnd);
        ::close(writeEnd);
        return false;
    }
    if (child == 0) {
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild != 0) {
            if (grandchild < 0) {
                const int code = errno;
                WriteAll(writeEnd, &code, sizeof code);
            }
            ::_exit(0);
        }
        ::signal(SIGPIPE, SIG_DFL);
        sigset_t none;
        ::sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        if (dir != nullptr && ::chdir(dir) != 0) {
            const int code = errno;
            WriteAll(writeEnd, &code, sizeof code);
            ::_exit(127);
        }
        // Nothing of ours stays open in the program; the pipe closes itself at exec.
        if (writeEnd > 3) {
            ::close_range(3, static_cast<unsigned>(writeEnd) - 1, 0);
        }
        ::close_range(static_cast<unsigned>(writeEnd) + 1, ~0u, 0);
        ::execv(program.c_str(), argv);
        const int code = errno;
        WriteAll(writeEnd, &code, sizeof code);
        ::_exit(127);
    }
    ::close(writeEnd);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // End of file: the program runs; an error number: it did not start.
    pollfd p{readEnd, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&p, 1, waitMs);
    } while (ready < 0 && errno == EINTR);
    int code = 0;
    const ssize_t got = ready > 0 ? ::read(readEnd, &code, sizeof code) : 0;
    ::close(readEnd);
    if (got == static_cast<ssize_t>(sizeof code)) {
        error = platform::SystemErrorText(code);
        return false;
    }
    return true;
}

std::string WindowClassLockPath(const std::string& windowClass) {
    return platform::RegistryFilePath() + "." + windowClass + ".lock";
}

bool WindowClassExists(const std::string& windowClass) {
    return platform::SingleInstance::IsHeld(WindowClassLockPath(windowClass));
}

std::string ProgramFolder() {
    char path[4096];
    const ssize_t size = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (size <= 0) {
        return ".";
    }
    const std::string file(path, static_cast<size_t>(size));
    return file.substr(0, file.rfind('/'));
}

} // namespace addrsetup
