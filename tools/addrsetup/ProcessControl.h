#pragma once

// What the connection manager needs of the system's processes: the list of running programs by
// executable name, ending one, starting one detached from this process, and the probe for a
// program's main window by its window class.

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace addrsetup {

struct ProcessEntry {
    pid_t pid = 0;
    std::string name; // executable name as the kernel keeps it (at most 15 characters)
};

// The running processes under procRoot (normally "/proc"); nullopt when no list can be had.
// Zombies are left out: they have ended and only wait for their parent.
std::optional<std::vector<ProcessEntry>> ProcessSnapshot(const std::string& procRoot = "/proc");

enum class KillResult { Killed, OpenFailed, KillFailed };

// SIGKILL through a process descriptor (no pid reuse race), then waits up to waitMs for it to go.
KillResult KillProcess(pid_t pid, int waitMs);

// Starts program with no arguments in workingDir (empty: this process's), as a grandchild that
// nothing has to reap, with no descriptor of ours open. False with the reason in error when
// it could not be started; waits at most waitMs for the start to be confirmed.
bool SpawnDetached(const std::string& program, const std::string& workingDir, std::string& error,
                   int waitMs = 5000);

// The lock file by which a program of the given window class holds its single instance,
// beside the registry file: "<registry>.<class>.lock".
std::string WindowClassLockPath(const std::string& windowClass);
// Whether a live program holds that lock: its window exists.
bool WindowClassExists(const std::string& windowClass);

// Folder of the running program.
std::string ProgramFolder();

} // namespace addrsetup
