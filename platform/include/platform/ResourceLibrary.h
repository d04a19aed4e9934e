#pragma once

// Language libraries: shared libraries loaded by name at run time that hold a program's
// user-visible texts by id. Each one exports a single C function,
//
//   extern "C" const char* veltrane_resource_string(unsigned id);
//
// that returns the text for the id (UTF-8, valid while the library is loaded) or null when the
// library has none. A language library defines it with the macro below:
//
//   #include <platform/ResourceLibrary.h>
//   VELTRANE_RESOURCE_STRING_FUNCTION(id) {
//       switch (id) {
//       case 103: return "Link is running";
//       default: return nullptr;
//       }
//   }
//
// Loading, unloading and moving are not thread-safe; String and Has may be called from any
// thread while the library stays loaded.

#include <string>

extern "C" const char* veltrane_resource_string(unsigned id);

#define VELTRANE_RESOURCE_STRING_FUNCTION(idName)                                                  \
    extern "C" __attribute__((visibility("default"))) const char* veltrane_resource_string(        \
        unsigned idName)

namespace platform {

inline constexpr const char* kResourceStringSymbol = "veltrane_resource_string";
using ResourceStringFunction = const char* (*)(unsigned id);

class ResourceLibrary {
public:
    ResourceLibrary() = default;
    ~ResourceLibrary();
    ResourceLibrary(const ResourceLibrary&) = delete;
    ResourceLibrary& operator=(const ResourceLibrary&) = delete;
    ResourceLibrary(ResourceLibrary&& other) noexcept;
    ResourceLibrary& operator=(ResourceLibrary&& other) noexcept;

    // Unloads what was loaded, then loads the library: a path with a '/' is taken as it is, a
    // bare name is searched for as the dynamic loader does. A library that does not export the
    // string function is refused. On failure ErrorText() says why, naming the path.
    bool Load(const std::string& path);
    void Unload();

    bool IsLoaded() const { return handle_ != nullptr; }
    const std::string& Path() const { return path_; }
    // Empty after a successful Load.
    const std::string& ErrorText() const { return error_; }

    // The text for the id, or an empty string when there is none or nothing is loaded.
    std::string String(unsigned id) const;
    bool Has(unsigned id) const;

private:
    void* handle_ = nullptr;
    ResourceStringFunction function_ = nullptr;
    std::string path_;
    std::string error_;
};

} // namespace platform
