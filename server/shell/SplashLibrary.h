#pragma once

// The splash library: a shared library loaded by name that carries the splash picture as a named
// bitmap. It exports one C function,
//
//   extern "C" const unsigned char* veltrane_bitmap(const char* name, unsigned long* size);
//
// that returns the bytes of a BMP file (valid while the library is loaded) and its size, or null
// for a name it does not carry.

#include <cstdint>
#include <string>
#include <vector>

extern "C" const unsigned char* veltrane_bitmap(const char* name, unsigned long* size);

namespace shell {

class SplashLibrary {
public:
    static constexpr const char* kLibraryName = "VeltraneSplash.so";
    static constexpr const char* kBitmapName = "IDB_SPLASH";
    static constexpr const char* kSymbol = "veltrane_bitmap";

    SplashLibrary() = default;
    ~SplashLibrary();
    SplashLibrary(const SplashLibrary&) = delete;
    SplashLibrary& operator=(const SplashLibrary&) = delete;

    // Tries each folder in turn, then the bare name as the dynamic loader searches it.
    bool Load(const std::vector<std::string>& folders);
    void Unload();
    // A copy of the named bitmap's bytes; empty when the library lacks it.
    std::vector<std::uint8_t> Bitmap(const char* name) const;

private:
    void* m_pHandle = nullptr;
    decltype(&veltrane_bitmap) m_pFunction = nullptr;
};

} // namespace shell
