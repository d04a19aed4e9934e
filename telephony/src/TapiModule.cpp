#include <telephony/TapiModule.h>

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <vector>

namespace telephony {

std::string MapModuleName(const std::string& name) {
    std::string mapped = name;
    std::replace(mapped.begin(), mapped.end(), '\\', '/');
    if (mapped.size() >= 4) {
        std::string tail = mapped.substr(mapped.size() - 4);
        std::transform(tail.begin(), tail.end(), tail.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (tail == ".dll") {
            mapped.replace(mapped.size() - 4, 4, ".so");
        }
    }
    return mapped;
}

TapiModule::~TapiModule() {
    Free();
}

namespace {

std::string ExecutableFolder() {
    char path[4096];
    const ssize_t size = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (size <= 0) {
        return "";
    }
    const std::string file(path, static_cast<size_t>(size));
    return file.substr(0, file.rfind('/'));
}

} // namespace

bool TapiModule::Load(const std::string& name) {
    Free();
    const std::string mapped = MapModuleName(name);
    // A bare name is looked for as a library of the system would be: beside the program, in
    // the library folder of an installed program, in the folder the telephony library was
    // built in, then by the dynamic loader's search.
    std::vector<std::string> candidates;
    if (mapped.find('/') == std::string::npos) {
        candidates.push_back(ExecutableFolder() + "/" + mapped);
        candidates.push_back(ExecutableFolder() + "/" VELTRANE_LIBDIR_FROM_BIN "/" + mapped);
        candidates.push_back(std::string(VELTRANE_TELEPHONY_LIBDIR) + "/" + mapped);
    }
    candidates.push_back(mapped);
    for (const std::string& candidate : candidates) {
        if (&candidate != &candidates.back() && ::access(candidate.c_str(), F_OK) != 0) {
            continue;
        }
        handle_ = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ != nullptr) {
            error_.clear();
            return true;
        }
        const char* why = ::dlerror();
        error_ = why != nullptr ? why : ("cannot load " + candidate);
    }
    return false;
}

void TapiModule::Free() {
    if (handle_ != nullptr) {
        ::dlclose(handle_);
        handle_ = nullptr;
    }
}

void* TapiModule::Resolve(const char* name) const {
    if (handle_ == nullptr || name == nullptr) {
        return nullptr;
    }
    return ::dlsym(handle_, name);
}

std::string TapiModule::Folder() const {
    if (handle_ == nullptr) {
        return "";
    }
    // Any symbol of the library tells its file; the library's own entry points all qualify.
    void* symbol = ::dlsym(handle_, "lineShutdown");
    Dl_info info{};
    if (symbol == nullptr || ::dladdr(symbol, &info) == 0 || info.dli_fname == nullptr) {
        return "";
    }
    const std::string file = info.dli_fname;
    const size_t cut = file.rfind('/');
    return cut == std::string::npos ? "." : file.substr(0, cut);
}

std::string TelephonyFolder(const TapiModule& tapi) {
    if (const char* dir = std::getenv("QORVELL_TELEPHONY_DIR"); dir != nullptr && *dir != '\0') {
        return dir;
    }
    return tapi.Folder();
}

} // namespace telephony
