// The splash library: carries the splash picture as the bitmap "IDB_SPLASH".

#include <shell/SplashLibrary.h>

#include <cstring>

using namespace shell;

// The picture made by media/make_media.py, taken in whole at build time.
asm(".section .rodata\n"
    ".balign 16\n"
    "veltrane_splash_bmp:\n"
    ".incbin \"" VELTRANE_SPLASH_BMP "\"\n"
    "veltrane_splash_bmp_end:\n"
    ".previous\n");
extern "C" const unsigned char veltrane_splash_bmp[];
extern "C" const unsigned char veltrane_splash_bmp_end[];

extern "C" __attribute__((visibility("default"))) const unsigned char*
veltrane_bitmap(const char* name, unsigned long* size) {
    if (name == nullptr || std::strcmp(name, SplashLibrary::kBitmapName) != 0)
        return nullptr;
    if (size != nullptr)
        *size = static_cast<unsigned long>(veltrane_splash_bmp_end - veltrane_splash_bmp);
    return veltrane_splash_bmp;
}
