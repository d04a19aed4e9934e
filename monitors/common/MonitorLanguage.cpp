#include "MonitorLanguage.h"

#include <dlfcn.h>

MonitorLanguage::~MonitorLanguage() {
    Unload();
}

bool MonitorLanguage::Load(const std::string& path) {
    Unload();
    if (!m_library.Load(path))
        return false;
    // The platform loader keeps its handle to itself; asking the loader again for the object it
    // already holds gives a handle for the two template functions without loading anything twice.
    m_handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    if (m_handle != nullptr) {
        m_dialog = reinterpret_cast<DialogFunction>(::dlsym(m_handle, "veltrane_resource_dialog"));
        m_image = reinterpret_cast<ImageFunction>(::dlsym(m_handle, "veltrane_resource_image"));
    }
    return true;
}

void MonitorLanguage::Unload() {
    m_dialog = nullptr;
    m_image = nullptr;
    if (m_handle != nullptr) {
        ::dlclose(m_handle);
        m_handle = nullptr;
    }
    m_library.Unload();
}

const MonitorDialogTemplate* MonitorLanguage::Dialog(unsigned id) const {
    return m_dialog != nullptr ? m_dialog(id) : nullptr;
}

const char* const* MonitorLanguage::Image(unsigned id) const {
    return m_image != nullptr ? m_image(id) : nullptr;
}
