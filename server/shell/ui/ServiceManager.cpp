#include "ServiceManager.h"

#include <engine/TraceLog.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

extern char** environ;

namespace shell {

using namespace engine;

namespace {

std::string EnvOr(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value && *value ? std::string(value) : std::string(fallback);
}

bool HasLineBreakOrNul(const std::string& text) {
    return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

// A value inside double quotes of a unit line: C escapes and '%' specifiers are taken literally.
std::string QuoteUnitValue(const std::string& text, bool dollarExpands) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '%':
            out += "%%";
            break;
        case '$':
            out += dollarExpands ? "$$" : "$";
            break;
        default:
            out += c;
        }
    }
    return out + "\"";
}

std::string AbsolutePath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

// A file: URI of the path, its '%' doubled as a unit line wants.
std::string FileUri(const std::string& path) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string out = "file:";
    for (const unsigned char c : path) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += "%%";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

// The README installed with the program, or else the one of the tree it was built from.
std::string DocumentationPath(const std::string& modulePath) {
    std::error_code error;
    const std::filesystem::path installed =
        (std::filesystem::path(modulePath).parent_path() / VELTRANE_DOCDIR_FROM_BIN / "README.md")
            .lexically_normal();
    if (std::filesystem::exists(installed, error))
        return installed.string();
    return VELTRANE_SOURCE_README;
}

// Replaces the file as a whole, so a reader never sees half a unit.
bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& error) {
    const std::string temp = path + ".tmp-" + std::to_string(::getpid());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = SystemErrorText(errno);
        return false;
    }
    ::fchmod(fd, 0644);
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            error = SystemErrorText(errno);
            ::close(fd);
            ::unlink(temp.c_str());
            return false;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        error = SystemErrorText(errno);
        ::unlink(temp.c_str());
        return false;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        error = SystemErrorText(errno);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

} // namespace

ServiceManager::ServiceManager()
    : m_strUnitDir(EnvOr("VELTRANE_SYSTEMD_UNIT_DIR", "/etc/systemd/system")),
      m_strSystemctl(EnvOr("VELTRANE_SYSTEMCTL", "systemctl")) {}

std::string ServiceManager::UnitFilePath() const {
    return (std::filesystem::path(m_strUnitDir) / kUnitName).string();
}

std::string ServiceManager::UnitText(const std::string& modulePath,
                                     const std::string& registryPath) {
    if (HasLineBreakOrNul(modulePath) || HasLineBreakOrNul(registryPath))
        return std::string();
    std::string text;
    text += "[Unit]\n";
    text += std::string("Description=") + kDescription + "\n";
    text += "Documentation=" + FileUri(DocumentationPath(modulePath)) + "\n";
    text += "After=network.target\n";
    // A server that cannot start (its settings are wrong) is not restarted for ever.
    text += "StartLimitIntervalSec=300\n";
    text += "StartLimitBurst=5\n";
    text += "\n[Service]\n";
    text += "Type=simple\n";
    text += "ExecStart=" + QuoteUnitValue(modulePath, true) + " " + kServiceArgument + "\n";
    if (!registryPath.empty())
        text += "Environment=" + QuoteUnitValue("QORVELL_REGISTRY=" + registryPath, false) + "\n";
    // The trace log goes to "Log" in the working folder unless the option DllPath names another.
    text += "StateDirectory=veltrane\n";
    text += "WorkingDirectory=%S/veltrane\n";
    text += "Restart=on-failure\n";
    text += "RestartSec=5\n";
    text += "\n[Install]\n";
    text += "WantedBy=multi-user.target\n";
    return text;
}

bool ServiceManager::RunSystemctl(const std::vector<std::string>& args) const {
    std::vector<std::string> words;
    words.push_back(m_strSystemctl);
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    std::string command;
    for (const std::string& word : words)
        command += (command.empty() ? "" : " ") + word;

    pid_t pid = 0;
    const int spawnError =
        ::posix_spawnp(&pid, m_strSystemctl.c_str(), nullptr, nullptr, argv.data(), environ);
    if (spawnError != 0) {
        TraceLog("[ERROR] Cannot run \"%s\": %s", command.c_str(),
                 SystemErrorText(spawnError).c_str());
        return false;
    }
    int status = 0;
    pid_t waited;
    do {
        waited = ::waitpid(pid, &status, 0);
    } while (waited < 0 && errno == EINTR);
    if (waited < 0) {
        TraceLog("[ERROR] \"%s\" could not be waited for: %s", command.c_str(),
                 SystemErrorText(errno).c_str());
        return false;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return true;
    if (WIFEXITED(status))
        TraceLog("[ERROR] \"%s\" failed with exit code %d", command.c_str(), WEXITSTATUS(status));
    else
        TraceLog("[ERROR] \"%s\" ended by signal %d", command.c_str(),
                 WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    return false;
}

int ServiceManager::IsInstalled() const {
    std::error_code error;
    return std::filesystem::is_regular_file(UnitFilePath(), error) ? 1 : 0;
}

int ServiceManager::Stop() {
    if (!IsInstalled())
        return 1;
    return RunSystemctl({"stop", kUnitName}) ? 1 : 0;
}

int ServiceManager::Remove() {
    if (!IsInstalled()) {
        TraceLog("[ERROR] The service unit %s is not installed", UnitFilePath().c_str());
        return 0;
    }
    // Disabled first: the unit stays while its links could not be taken away.
    if (!RunSystemctl({"disable", kUnitName}))
        return 0;
    const std::string path = UnitFilePath();
    if (::unlink(path.c_str()) != 0) {
        TraceLog("[ERROR] Cannot delete the service unit %s: %s", path.c_str(),
                 SystemErrorText(errno).c_str());
        return 0;
    }
    // The unit is gone; systemd forgets it at its next reload at the latest.
    RunSystemctl({"daemon-reload"});
    return 1;
}

int ServiceManager::Install(const std::string& modulePath) {
    const char* registry = std::getenv("QORVELL_REGISTRY");
    const std::string registryPath = registry && *registry ? AbsolutePath(registry) : "";
    const std::string text = UnitText(AbsolutePath(modulePath), registryPath);
    if (text.empty()) {
        TraceLog("[ERROR] The program or registry path cannot be written into a service unit");
        return 0;
    }
    const std::string path = UnitFilePath();
    std::string error;
    if (!WriteFileAtomically(path, text, error)) {
        TraceLog("[ERROR] Cannot write the service unit %s: %s", path.c_str(), error.c_str());
        return 0;
    }
    if (RunSystemctl({"daemon-reload"}) && RunSystemctl({"enable", kUnitName}))
        return 1;
    // Half an installation would read as installed from then on.
    ::unlink(path.c_str());
    RunSystemctl({"daemon-reload"});
    return 0;
}

void RegisterServiceByOption(bool on, const std::string& modulePath) {
    ServiceManager manager;
    if (!on) {
        if (manager.IsInstalled()) {
            if (manager.Remove())
                TraceLog("Veltrane Link V3 is removed from Windows Service.");
        } else {
            TraceLog("Veltrane Link V3 is not registered as Windows Service.");
        }
        return;
    }
    if (manager.IsInstalled())
        TraceLog("Veltrane Link V3 is already registered as Windows Service.");
    else if (manager.Install(modulePath))
        TraceLog("Veltrane Link V3 is registered as Windows Service.");
    else
        TraceLog("Veltrane Link V3 is not registered as Windows Service.");
}

} // namespace shell
