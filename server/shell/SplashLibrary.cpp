#include "SplashLibrary.h"

#include <dlfcn.h>

namespace shell {

SplashLibrary::~SplashLibrary() {
    Unload();
}

bool SplashLibrary::Load(const std::vector<std::string>& folders) {
    Unload();
    std::vector<std::string> candidates;
    for (const std::string& folder : folders)
        if (!folder.empty())
            candidates.push_back(folder + "/" + kLibraryName);
    candidates.push_back(kLibraryName);
    for (const std::string& path : candidates) {
        void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr)
            continue;
        auto function = reinterpret_cast<decltype(&veltrane_bitmap)>(::dlsym(handle, kSymbol));
        if (function == nullptr) {
            ::dlclose(handle);
            continue;
        }
        m_pHandle = handle;
        m_pFunction = function;
        return true;
    }
    return false;
}

void SplashLibrary::Unload() {
    if (m_pHandle != nullptr)
        ::dlclose(m_pHandle);
    m_pHandle = nullptr;
    m_pFunction = nullptr;
}

std::vector<std::uint8_t> SplashLibrary::Bitmap(const char* name) const {
    if (m_pFunction == nullptr)
        return {};
    unsigned long size = 0;
    const unsigned char* data = m_pFunction(name, &size);
    if (data == nullptr || size == 0)
        return {};
    return std::vector<std::uint8_t>(data, data + size);
}

} // namespace shell
