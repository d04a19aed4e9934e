#include <platform/Registry.h>

#include <platform/SystemError.h>

#include <cerrno>
#include <sys/stat.h>

namespace platform {
namespace {

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool Missing(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) != 0 && errno == ENOENT;
}

} // namespace

std::string RegistryFileAbsence() {
    const std::string path = RegistryFilePath();
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        return {};
    }
    if (errno != ENOENT) {
        return path + ": " + SystemErrorText(errno);
    }
    const std::string folder = FolderOf(path);
    if (Missing(folder)) {
        return "the registry folder " + folder + " does not exist (registry file " + path + ")";
    }
    return "the registry file " + path + " does not exist";
}

std::string RegistryFileProblem() {
    const std::string fault = RegistryFileFault();
    return fault.empty() ? RegistryFileAbsence() : fault;
}

bool RegistryFolderMissing() {
    return Missing(FolderOf(RegistryFilePath()));
}

} // namespace platform
