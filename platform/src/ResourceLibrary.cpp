#include <platform/ResourceLibrary.h>

#include <dlfcn.h>
#include <utility>

namespace platform {

namespace {

std::string LoaderError(const char* fallback) {
    const char* text = ::dlerror();
    return text != nullptr ? std::string(text) : std::string(fallback);
}

} // namespace

ResourceLibrary::~ResourceLibrary() {
    Unload();
}

ResourceLibrary::ResourceLibrary(ResourceLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)),
      function_(std::exchange(other.function_, nullptr)), path_(std::move(other.path_)),
      error_(std::move(other.error_)) {}

ResourceLibrary& ResourceLibrary::operator=(ResourceLibrary&& other) noexcept {
    if (this != &other) {
        Unload();
        handle_ = std::exchange(other.handle_, nullptr);
        function_ = std::exchange(other.function_, nullptr);
        path_ = std::move(other.path_);
        error_ = std::move(other.error_);
    }
    return *this;
}

bool ResourceLibrary::Load(const std::string& path) {
    Unload();
    path_ = path;
    error_.clear();
    if (path.empty()) {
        error_ = "Cannot load a language library: no name given";
        return false;
    }
    ::dlerror();
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        error_ = "Cannot load the language library \"" + path +
                 "\": " + LoaderError("the loader gave no reason");
        return false;
    }
    ::dlerror();
    void* symbol = ::dlsym(handle, kResourceStringSymbol);
    if (symbol == nullptr) {
        error_ = "\"" + path + "\" is not a language library: it does not export " +
                 kResourceStringSymbol + " (" + LoaderError("symbol is null") + ")";
        ::dlclose(handle);
        return false;
    }
    handle_ = handle;
    function_ = reinterpret_cast<ResourceStringFunction>(symbol);
    return true;
}

void ResourceLibrary::Unload() {
    function_ = nullptr;
    if (handle_ != nullptr) {
        ::dlclose(handle_);
        handle_ = nullptr;
    }
}

std::string ResourceLibrary::String(unsigned id) const {
    if (function_ == nullptr) {
        return {};
    }
    const char* text = function_(id);
    return text != nullptr ? std::string(text) : std::string();
}

bool ResourceLibrary::Has(unsigned id) const {
    return function_ != nullptr && function_(id) != nullptr;
}

} // namespace platform
