// A telephony library that starts line applications with three lines but has no lineGetDevCaps,
// so that a caller cannot tell whose lines they are.

#include <telephony/Tapi.h>

#define NODEVCAPS_EXPORT extern "C" __attribute__((visibility("default")))

NODEVCAPS_EXPORT int32_t lineInitialize(HLINEAPP* app, void*, LINECALLBACK, const char*,
                                        DWORD* devices) {
    *app = 1;
    *devices = 3;
    return 0;
}

NODEVCAPS_EXPORT int32_t lineShutdown(HLINEAPP) {
    return 0;
}

// No provider registered, and any registration accepted.
NODEVCAPS_EXPORT int32_t lineGetProviderList(DWORD, LINEPROVIDERLIST* list) {
    list->dwNeededSize = sizeof(LINEPROVIDERLIST);
    list->dwUsedSize = sizeof(LINEPROVIDERLIST);
    list->dwNumProviders = 0;
    return 0;
}

NODEVCAPS_EXPORT int32_t lineAddProvider(const char*, void*, DWORD* id) {
    *id = 1;
    return 0;
}
