#pragma once

#include "MonitorResources.h"

#include <platform/ResourceLibrary.h>

#include <string>

// A monitor's loaded language library: its strings through the platform's loader, and its
// dialog templates and images through the two further functions the library exports.
class MonitorLanguage {
public:
    MonitorLanguage() = default;
    ~MonitorLanguage();
    MonitorLanguage(const MonitorLanguage&) = delete;
    MonitorLanguage& operator=(const MonitorLanguage&) = delete;

    bool Load(const std::string& path);
    void Unload();
    const std::string& ErrorText() const { return m_library.ErrorText(); }

    std::string String(unsigned id) const { return m_library.String(id); }
    // Null when the library has no such dialog (or none is loaded).
    const MonitorDialogTemplate* Dialog(unsigned id) const;
    // XPM lines, or null.
    const char* const* Image(unsigned id) const;

private:
    using DialogFunction = const MonitorDialogTemplate* (*)(unsigned);
    using ImageFunction = const char* const* (*)(unsigned);

    platform::ResourceLibrary m_library;
    void* m_handle = nullptr; // a second reference on the same loaded object
    DialogFunction m_dialog = nullptr;
    ImageFunction m_image = nullptr;
};
