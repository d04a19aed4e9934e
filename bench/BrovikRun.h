#pragma once

// Brovik as the bench runs it: headless (--service) with a registry of its own in a temp folder,
// the English language library copied into its DllPath, linked over TCP to the bench's switch.
// Its output goes to a file in that folder; the folder goes when the object does.

#include <testsupport/ChildProcess.h>
#include <testsupport/TempRegistry.h>

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace bench {

struct ProcessSample {
    std::int64_t peakKb = 0;     // VmHWM
    std::int64_t residentKb = 0; // VmRSS
    double cpuSeconds = 0.0;     // utime + stime of all its threads
};

class BrovikRun {
public:
    BrovikRun(std::string program, std::string languageLibrary);
    ~BrovikRun();
    BrovikRun(const BrovikRun&) = delete;
    BrovikRun& operator=(const BrovikRun&) = delete;

    // Starts it and waits until both client ports take connections.
    bool Start(const std::string& switchHost, int switchPort, int timeoutMs, std::string& error);
    int ClientPort() const { return m_ListenPort; }
    int BypassPort() const { return m_ListenPort + 500; }
    pid_t Pid() const;
    // Where its trace files go.
    std::filesystem::path LogDir() const;
    ProcessSample Sample() const;
    // SIGTERM and the exit status (128 + signal when it had to be killed).
    int Stop();

private:
    std::string m_Program;
    std::string m_Library;
    int m_ListenPort = 0;
    // The process goes before its folder.
    std::unique_ptr<testsupport::TempRegistry> m_Registry;
    std::unique_ptr<testsupport::ChildProcess> m_Process;
};

} // namespace bench
