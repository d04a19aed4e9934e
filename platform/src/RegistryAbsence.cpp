#include <platform/Registry.h>

#include <platform/SystemError.h>

#include <cerrno>
#include <sys/stat.h>

namespace platform {

std::string RegistryFileAbsence() {
    const std::string path = RegistryFilePath();
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        return {};
    }
    if (errno != ENOENT) {
        return path + ": " + SystemErrorText(errno);
    }
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : path.substr(0, slash);
    if (::stat(folder.c_str(), &st) != 0 && errno == ENOENT) {
        return "the registry folder " + folder + " does not exist (registry file " + path + ")";
    }
    return "the registry file " + path + " does not exist";
}

std::string RegistryFileProblem() {
    const std::string fault = RegistryFileFault();
    return fault.empty() ? RegistryFileAbsence() : fault;
}

} // namespace platform
