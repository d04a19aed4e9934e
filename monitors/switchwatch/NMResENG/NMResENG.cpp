// The English language library of switchwatch: its strings, its three dialogs and its pictures.

#include <common/MonitorResources.h>

#include <platform/ResourceLibrary.h>

#include <algorithm>
#include <iterator>

namespace {

struct Entry {
    unsigned id;
    const char* text;
};

// Sorted by id.
constexpr Entry kStrings[] = {
    {101, "About switchwatch..."},
    {103, "Network sockets are not available; the monitor cannot connect."},
    {104, "Time"},
    {105, "Message Contents"},
    {106, "The server closed the monitor connection."},
    {107, "Connected"},
    {108, "Disconnected"},
    {109, "Cannot connect to the monitor server. Check the server address and port."},
    {111, "Cannot read the settings from the registry; the defaults are used."},
    {112, "On"},
    {113, "Off"},
    {114, "The auto clear count must be from 100 to 9999."},
    {115, "Please enter the name of the file to save the messages in."},
    {116, "Cannot store the settings in the registry."},
    {117, "Stop monitoring and quit?"},
    {119, "Cannot write the received messages to the log file."},
    {123, "Cannot check whether the monitor is already running."},
    {124, "The monitor is already running."},
    {125, "Please enter the monitor server's address."},
    {126, "The port must be from 100 to 9999: the switch message monitor port of the link "
          "server (default 6001)."},
    {127, "Korean"},
    {128, "English"},
    {130, "The language takes effect when the monitor is started again."},
    {131, "The monitor pass code must have 4 to 6 digits."},
    {132, "German"},
    {133, "Italian"},
    {134, "Russian"},
};

constexpr std::uint32_t kStatus = kStyleReadOnly | kStyleCentre | kStyleBorder;
constexpr std::uint32_t kLabel = kStyleCentre | kStyleSunken;

constexpr MonitorControlTemplate kAboutControls[] = {
    {-1, kCtlIcon, "128", 11, 17, 21, 20, 0},
    {-1, kCtlStatic, "Switch Message Monitor Ver 1.0", 36, 15, 154, 8, 0},
    {1, kCtlDefaultButton, "OK", 206, 12, 44, 14, 0},
};

constexpr MonitorControlTemplate kMainControls[] = {
    {-1, kCtlGroupBox, "Switch Message View", 7, 7, 379, 274, 0},
    {1002, kCtlButton, "Config", 393, 12, 50, 24, 0},
    {1003, kCtlButton, "Start Monitor", 393, 41, 50, 24, 0},
    {1004, kCtlButton, "Stop Monitor", 393, 70, 50, 24, 0},
    {1017, kCtlButton, "Clear", 393, 118, 50, 24, 0},
    {1, kCtlDefaultButton, "End", 393, 187, 50, 55, 0},
    {1000, kCtlListView, "", 13, 20, 365, 252, kStyleBorder},
    {-1, kCtlStatic, "Server IP", 7, 287, 41, 12, kLabel},
    {1008, kCtlEdit, "", 49, 287, 63, 12, kStatus},
    {-1, kCtlStatic, "Port No", 114, 287, 38, 12, kLabel},
    {1009, kCtlEdit, "", 153, 287, 34, 12, kStatus},
    {-1, kCtlStatic, "Link", 189, 287, 27, 12, kLabel},
    {1010, kCtlEdit, "", 216, 287, 63, 12, kStatus},
    {-1, kCtlStatic, "Auto Clear", 281, 287, 40, 12, kLabel},
    {1015, kCtlEdit, "", 322, 287, 20, 12, kStatus},
    {-1, kCtlStatic, "Save", 344, 287, 26, 12, kLabel},
    {1016, kCtlEdit, "", 371, 287, 20, 12, kStatus},
};

constexpr MonitorControlTemplate kConfigControls[] = {
    {-1, kCtlGroupBox, "Language Option", 7, 136, 173, 40, 0},
    {-1, kCtlStatic, "Server IP Address : ", 7, 8, 72, 8, kStyleRight},
    {1006, kCtlEdit, "", 87, 7, 89, 12, kStyleBorder},
    {-1, kCtlStatic, "Server Port No : ", 7, 30, 72, 8, kStyleRight},
    {1007, kCtlEdit, "", 87, 27, 89, 12, kStyleBorder | kStyleDigits},
    {-1, kCtlStatic, "Server Password : ", 6, 49, 72, 8, kStyleRight},
    {1008, kCtlEdit, "", 87, 46, 89, 12, kStyleBorder | kStyleDigits | kStylePassword},
    {1011, kCtlCheckBox, "Use Message Auto Clear Option", 25, 67, 119, 10, 0},
    {1012, kCtlEdit, "", 27, 87, 55, 12, kStyleBorder | kStyleDigits},
    {-1, kCtlStatic, "lines will be displayed", 89, 89, 77, 8, 0},
    {1013, kCtlCheckBox, "Use Message File Save Option", 25, 113, 140, 10, 0},
    {1014, kCtlEdit, "", 87, 128, 89, 12, kStyleBorder | kStyleHidden | kStyleDisabled},
    {1018, kCtlDropList, "Korean\nEnglish\nGerman\nItalian\nRussian", 44, 151, 98, 49, 0},
    {1, kCtlDefaultButton, "OK", 40, 185, 50, 14, 0},
    {2, kCtlButton, "Cancel", 97, 185, 50, 14, 0},
};

template <std::size_t N> constexpr int Count(const MonitorControlTemplate (&)[N]) {
    return static_cast<int>(N);
}

constexpr MonitorDialogTemplate kDialogs[] = {
    {100, "About switchwatch", 257, 56, "MS Sans Serif", 8, kDialogModalFrame,
     Count(kAboutControls), kAboutControls},
    // The single-instance check knows the window by this caption.
    {102, "Orb CTI Message Monitor", 451, 306, "MS Sans Serif", 8,
     kDialogMinimizeBox | kDialogTaskBar, Count(kMainControls), kMainControls},
    {129, "Environment Configuration", 187, 206, "MS Sans Serif", 8, kDialogModalFrame,
     Count(kConfigControls), kConfigControls},
};

// Image 132: a message to the switch (an arrow pointing right).
const char* const kToSwitch[] = {
    "16 16 3 1",        "  c None",         ". c #800000",      "+ c #FF6040",
    "                ", "                ", "         .      ", "         ..     ",
    "         .+.    ", "  ........++.   ", "  .+++++++++.   ", "  .++++++++++.  ",
    "  .+++++++++.   ", "  ........++.   ", "         .+.    ", "         ..     ",
    "         .      ", "                ", "                ", "                "};

// Image 133: a message from the switch (an arrow pointing left).
const char* const kFromSwitch[] = {
    "16 16 3 1",        "  c None",         ". c #000080",      "+ c #40A0FF",
    "                ", "                ", "      .         ", "     ..         ",
    "    .+.         ", "   .++........  ", "   .+++++++++.  ", "  .++++++++++.  ",
    "   .+++++++++.  ", "   .++........  ", "    .+.         ", "     ..         ",
    "      .         ", "                ", "                ", "                "};

} // namespace

VELTRANE_RESOURCE_STRING_FUNCTION(id) {
    const auto found =
        std::lower_bound(std::begin(kStrings), std::end(kStrings), id,
                         [](const Entry& e, unsigned value) { return e.id < value; });
    return found != std::end(kStrings) && found->id == id ? found->text : nullptr;
}

MONITOR_RESOURCE_DIALOG_FUNCTION(id) {
    for (const MonitorDialogTemplate& dialog : kDialogs) {
        if (dialog.id == id)
            return &dialog;
    }
    return nullptr;
}

MONITOR_RESOURCE_IMAGE_FUNCTION(id) {
    switch (id) {
    case 132:
        return kToSwitch;
    case 133:
        return kFromSwitch;
    default:
        return nullptr;
    }
}
