#pragma once

// What a monitor's language library carries besides its strings: dialog templates (positions and
// sizes in dialog units, as the dialog editor gave them) and list images (XPM). The library
// exports, next to the string function of platform/ResourceLibrary.h,
//
//   extern "C" const MonitorDialogTemplate* veltrane_resource_dialog(unsigned id);
//   extern "C" const char* const* veltrane_resource_image(unsigned id);
//
// both answering null for an id they do not hold. The structs are plain C so that the program and
// its libraries agree on them whatever each was built with.

#include <cstdint>

extern "C" {

enum MonitorControlKind : std::uint32_t {
    kCtlButton,
    kCtlDefaultButton,
    kCtlGroupBox,
    kCtlListView,
    kCtlStatic,
    kCtlEdit,
    kCtlCheckBox,
    kCtlDropList,
    kCtlPicture, // text: the image id in decimal
    kCtlIcon,    // text: the image id in decimal
};

enum MonitorControlStyle : std::uint32_t {
    kStyleReadOnly = 1u << 0,
    kStyleCentre = 1u << 1,
    kStyleBorder = 1u << 2,
    kStyleHidden = 1u << 3,
    kStyleDisabled = 1u << 4,
    kStyleDigits = 1u << 5,
    kStylePassword = 1u << 6,
    kStyleRight = 1u << 7,
    kStyleSunken = 1u << 8,
};

enum MonitorDialogStyle : std::uint32_t {
    kDialogModalFrame = 1u << 0,
    kDialogMinimizeBox = 1u << 1,
    kDialogTaskBar = 1u << 2,
};

struct MonitorControlTemplate {
    int id; // -1 for controls the code never addresses
    std::uint32_t kind;
    const char* text; // drop lists: the initial items separated by '\n'
    int x, y, w, h;
    std::uint32_t style;
};

struct MonitorDialogTemplate {
    unsigned id;
    const char* caption;
    int w, h;
    const char* font;
    int pointSize;
    std::uint32_t style;
    int controlCount;
    const MonitorControlTemplate* controls;
};

} // extern "C"

#define MONITOR_RESOURCE_DIALOG_FUNCTION(idName)                                                   \
    extern "C" __attribute__((visibility("default"))) const MonitorDialogTemplate*                 \
    veltrane_resource_dialog(unsigned idName)
#define MONITOR_RESOURCE_IMAGE_FUNCTION(idName)                                                    \
    extern "C" __attribute__((visibility("default"))) const char* const* veltrane_resource_image(  \
        unsigned idName)
