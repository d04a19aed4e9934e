// A small language library as the programs' own ones are built.

#include <platform/ResourceLibrary.h>

VELTRANE_RESOURCE_STRING_FUNCTION(id) {
    switch (id) {
    case 1:
        return "Link is up";
    case 2:
        return ""; // present, but empty
    case 300:
        return "Gr\xc3\xbc\xc3\x9f"
               "e";
    case 0xFFFFFFFFu:
        return "last id";
    default:
        return nullptr;
    }
}
