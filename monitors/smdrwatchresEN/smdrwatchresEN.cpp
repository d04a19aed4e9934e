// The English language library of smdrwatch: its strings, its three dialogs and its pictures.

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
    {101, "About switchwatch(&A)..."},
    {103, "Fail to initialize the Windows Socket for Link Connection."},
    {104, "Time"},
    {105, "Message Contents"},
    {106, "Disconnected the Server Link."},
    {107, "Connected"},
    {108, "Disconnected"},
    {109, "Detected an error during initializing the socket handle."},
    {110, "Fail to connect to the Monitor Server. Check the Server IP Address and Port No and try "
          "again."},
    {111, "Fail to read the configuration from the system registry."},
    {112, "On"},
    {113, "Off"},
    {114, "Detected an error at the Message Auto Clear Value.(Valid Range 100 ~ 9999)"},
    {115, "Detected an error at the File Name for saving the received message."},
    {116, "Fail to store the configuration information into the system registry."},
    {117, "Terminating the monitor and quit. Are you sure ?"},
    {118, "Fail to find the location of the file for saving the received message."},
    {119, "Detected an error during storing the received message into the file."},
    {120, "Detected an error during checking the hard disk quantity for storing the received "
          "message."},
    {121, "Detected an error during varifying the file version for storing the received "
          "message."},
    {122, "There is no enough space for storing the received message.(Minimum requied space : "
          "50 MB)"},
    {123, "Detected an error during loading this monitor program instance."},
    {124, "Monitor Program is already running."},
    {125, "Detected an error at the Monitor Server IP Address"},
    {126, "Detected an error at the Monitor Server Port No.\n\nThis No must be same to the Pavo "
          "Liner's SMDR/UCD Message Monitor\n Port No.(Default 6002)"},
    {127, "Korean"},
    {128, "English"},
    {129, "China"},
    {130, "Language Option is changed. To apply this change, this program have to be "
          "restarted."},
    {131, "the monitoring password should be a numeric value.(4 digits ~ 6 digits)"},
    {132, "German"},
    {133, "Italian"},
    {134, "Russian"},
};

constexpr std::uint32_t kStatus = kStyleReadOnly | kStyleCentre | kStyleBorder;
constexpr std::uint32_t kLabel = kStyleCentre | kStyleSunken;

constexpr MonitorControlTemplate kAboutControls[] = {
    {-1, kCtlIcon, "128", 11, 17, 21, 20, 0},
    {-1, kCtlStatic, "SMDR / UCD Message Monitor Ver 1.2.0.0", 36, 15, 154, 8, 0},
    {1, kCtlDefaultButton, "OK", 206, 12, 44, 14, 0},
};

constexpr MonitorControlTemplate kMainControls[] = {
    {-1, kCtlGroupBox, "SMDR Message View", 7, 7, 379, 136, 0},
    {-1, kCtlGroupBox, "UCD Message View", 7, 145, 379, 136, 0},
    {1002, kCtlButton, "Config", 393, 12, 50, 24, 0},
    {1003, kCtlButton, "Start Monitor", 393, 41, 50, 24, 0},
    {1004, kCtlButton, "Stop Monitor", 393, 70, 50, 24, 0},
    {1017, kCtlButton, "Clear SMDR", 393, 118, 50, 24, 0},
    {1023, kCtlButton, "Clear UCD", 393, 148, 50, 24, 0},
    {1, kCtlDefaultButton, "End", 393, 187, 50, 55, 0},
    {1000, kCtlListView, "", 13, 20, 365, 114, kStyleBorder},
    {1020, kCtlListView, "", 13, 158, 365, 114, kStyleBorder},
    {-1, kCtlStatic, "Server IP", 7, 287, 41, 12, kLabel},
    {1008, kCtlEdit, "", 49, 287, 53, 12, kStatus},
    {-1, kCtlStatic, "Port No", 104, 287, 38, 12, kLabel},
    {1009, kCtlEdit, "", 143, 287, 34, 12, kStatus},
    {-1, kCtlStatic, "Link", 179, 287, 27, 12, kLabel},
    {1010, kCtlEdit, "", 206, 287, 63, 12, kStatus},
    {-1, kCtlStatic, "Auto Clear", 270, 287, 36, 12, kLabel},
    {1015, kCtlEdit, "", 307, 287, 18, 12, kStatus},
    {-1, kCtlStatic, "Save SMDR", 327, 287, 40, 12, kLabel},
    {1016, kCtlEdit, "", 368, 287, 18, 12, kStatus},
    {-1, kCtlStatic, "Save UCD", 388, 287, 37, 12, kLabel},
    {1021, kCtlEdit, "", 427, 287, 18, 12, kStatus},
    {-1, kCtlPicture, "134", 393, 257, 45, 23, 0},
};

constexpr MonitorControlTemplate kConfigControls[] = {
    {-1, kCtlGroupBox, "Language Option", 7, 162, 173, 40, 0},
    {-1, kCtlStatic, "Server IP Address : ", 7, 8, 72, 8, kStyleRight},
    {1006, kCtlEdit, "", 87, 7, 89, 12, kStyleBorder},
    {-1, kCtlStatic, "Server Port No : ", 7, 30, 72, 8, kStyleRight},
    {1007, kCtlEdit, "", 87, 27, 89, 12, kStyleBorder | kStyleDigits},
    {-1, kCtlStatic, "Server Password : ", 6, 49, 72, 8, kStyleRight},
    {1008, kCtlEdit, "", 87, 46, 89, 12, kStyleBorder | kStyleDigits | kStylePassword},
    {1011, kCtlCheckBox, "Use Message Auto Clear Option", 25, 67, 119, 10, 0},
    {1012, kCtlEdit, "", 27, 87, 55, 12, kStyleBorder | kStyleDigits},
    {-1, kCtlStatic, "lines will be displayed", 89, 89, 77, 8, 0},
    {1013, kCtlCheckBox, "Use SMDR Message File Save Option", 25, 113, 140, 10, 0},
    {-1, kCtlStatic, "SMDR File Name : ", 7, 130, 72, 8, kStyleRight | kStyleHidden},
    {1014, kCtlEdit, "", 87, 128, 89, 12, kStyleBorder | kStyleHidden | kStyleDisabled},
    {1018, kCtlCheckBox, "Use UCD Message File Save Option", 25, 139, 137, 10, 0},
    {-1, kCtlStatic, "UCD  File Name : ", 7, 168, 72, 8, kStyleRight | kStyleHidden},
    {1019, kCtlEdit, "", 87, 165, 89, 12, kStyleBorder | kStyleHidden | kStyleDisabled},
    {1024, kCtlDropList, "Korean\nEnglish\nGerman\nItalian\nRussian", 44, 177, 98, 49, 0},
    {1, kCtlDefaultButton, "OK", 40, 211, 50, 14, 0},
    {2, kCtlButton, "Cancel", 97, 211, 50, 14, 0},
};

template <std::size_t N> constexpr int Count(const MonitorControlTemplate (&)[N]) {
    return static_cast<int>(N);
}

constexpr MonitorDialogTemplate kDialogs[] = {
    {100, "About smdrwatch", 257, 56, "MS Sans Serif", 8, kDialogModalFrame, Count(kAboutControls),
     kAboutControls},
    {102, "SMDR / UCD Message Monitor", 451, 306, "MS Sans Serif", 8,
     kDialogMinimizeBox | kDialogTaskBar, Count(kMainControls), kMainControls},
    {129, "Environment Configuration", 187, 232, "MS Sans Serif", 8, kDialogModalFrame,
     Count(kConfigControls), kConfigControls},
};

// The SMDR list's image: a call record sheet.
const char* const kSmdrIcon[] = {"16 16 4 1",        "  c None",         ". c #000080",
                                 "+ c #FFFFFF",      "@ c #00A000",      "                ",
                                 " ............   ", " .++++++++++.   ", " .+@@@@@@@+.    ",
                                 " .++++++++++.   ", " .+@@@@@+++.    ", " .++++++++++.   ",
                                 " .+@@@@@@@+.    ", " .++++++++++.   ", " .+@@@++++++.   ",
                                 " .++++++++++.   ", " .+@@@@@@++.    ", " .++++++++++.   ",
                                 " ............   ", "                ", "                "};

// The UCD list's image: a queue of three calls.
const char* const kUcdIcon[] = {"16 16 4 1",        "  c None",         ". c #000080",
                                "+ c #FFD000",      "@ c #C00000",      "                ",
                                "  ....          ", "  .++.          ", "  ....   ....   ",
                                "         .++.   ", "  ....   ....   ", "  .@@.          ",
                                "  ....   ....   ", "         .++.   ", "  ....   ....   ",
                                "  .@@.          ", "  ....   ....   ", "         .++.   ",
                                "         ....   ", "                ", "                "};

// The dialog's picture: a strip of record lines.
const char* const kBitmap[] = {"36 12 3 1",
                               "  c #E0E0F0",
                               ". c #000080",
                               "+ c #2080FF",
                               "                                    ",
                               " .................................. ",
                               " .++++++++.++++++++.++++++++.+++++. ",
                               " .................................. ",
                               "                                    ",
                               " .+++++.++++++++++.+++++++++.+++++. ",
                               " .................................. ",
                               "                                    ",
                               " .++++++++++.+++++++.+++++++.+++++. ",
                               " .................................. ",
                               "                                    ",
                               "                                    "};

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
    case 137:
        return kSmdrIcon;
    case 138:
        return kUcdIcon;
    case 134:
        return kBitmap;
    default:
        return nullptr;
    }
}
