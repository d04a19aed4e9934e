#include <telephony/TapiModule.h>

#include <dlfcn.h>

#include <algorithm>
#include <cctype>

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

TapiModule::~TapiModule() { Free(); }

bool TapiModule::Load(const std::string& name) {
    Free();
    const std::string mapped = MapModuleName(name);
    handle_ = ::dlopen(mapped.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* why = ::dlerror();
        error_ = why != nullptr ? why : ("cannot load " + mapped);
        return false;
    }
    error_.clear();
    return true;
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

} // namespace telephony
