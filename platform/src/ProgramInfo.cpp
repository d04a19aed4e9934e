#include <platform/ProgramInfo.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifndef VELTRANE_VERSION
#define VELTRANE_VERSION "unknown"
#endif
// Where an installed program's libraries and data are, seen from its own folder.
#ifndef VELTRANE_LIBDIR_FROM_BIN
#define VELTRANE_LIBDIR_FROM_BIN "../lib/veltrane"
#endif
#ifndef VELTRANE_DATADIR_FROM_BIN
#define VELTRANE_DATADIR_FROM_BIN "../share/veltrane"
#endif

namespace platform {

namespace {

std::filesystem::path ProgramFolder() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : self.parent_path();
}

bool IsFolder(const std::filesystem::path& path) {
    std::error_code error;
    return !path.empty() && std::filesystem::is_directory(path, error);
}

} // namespace

const char* ProgramVersion() {
    return VELTRANE_VERSION;
}

std::string ProgramHelpText(const ProgramInfo& info) {
    std::string text = "Usage: " + info.name + " [options]\n" + info.summary + "\n\nOptions:\n";
    text += info.options;
    text += "  --help                show this text and end\n"
            "  --version             show the version and end\n"
            "\nEnvironment:\n"
            "  QORVELL_REGISTRY      the registry file (default: /var/lib/qorvell/registry.reg\n"
            "                        for root, else $XDG_DATA_HOME/qorvell/registry.reg, that is\n"
            "                        ~/.local/share/qorvell/registry.reg)\n";
    if (info.environment & kEnvTelephony)
        text += "  QORVELL_TELEPHONY_DIR folder of providers registered by bare file name\n"
                "                        (default: the folder of tapi32.so)\n";
    if (info.environment & kEnvService)
        text +=
            "  VELTRANE_SYSTEMD_UNIT_DIR  folder of the unit -install writes (default:\n"
            "                        /etc/systemd/system)\n"
            "  VELTRANE_SYSTEMCTL    the program -install and -remove run (default: systemctl)\n";
    if (info.environment & kEnvWindow)
        text += "  DISPLAY, WAYLAND_DISPLAY, QT_QPA_PLATFORM  where the windows go\n"
                "                        (QT_QPA_PLATFORM=offscreen: none shown)\n";
    return text;
}

bool AnswerInfoOptions(const ProgramInfo& info, int argc, char** argv) {
    for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(ProgramHelpText(info).c_str(), stdout);
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s %s\n", info.name.c_str(), ProgramVersion());
            return true;
        }
    }
    return false;
}

bool RefuseUnknownOptions(const ProgramInfo& info, int argc, char** argv,
                          const std::vector<std::string_view>& known) {
    // The application object's own options, which a program that looks before it is made (the
    // server) still sees: those in the first list take the next argument as their value.
    static const std::vector<std::string_view> kQtWithValue = {"-platform",
                                                               "-platformpluginpath",
                                                               "-platformtheme",
                                                               "-plugin",
                                                               "-qwindowgeometry",
                                                               "-geometry",
                                                               "-qwindowicon",
                                                               "-qwindowtitle",
                                                               "-session",
                                                               "-display",
                                                               "-name",
                                                               "-title",
                                                               "-style",
                                                               "-stylesheet",
                                                               "-visual",
                                                               "-ncols",
                                                               "-cmap"};
    static const std::vector<std::string_view> kQtAlone = {
        "-reverse",     "-nograb", "-dograb",      "-sync",           "-widgetcount",
        "-testability", "-style=", "-stylesheet=", "-qmljsdebugger=", "-session="};
    const auto matches = [](std::string_view argument, std::string_view option) {
        return option.ends_with('=') ? argument.starts_with(option) : argument == option;
    };
    const auto among = [&](std::string_view argument, const std::vector<std::string_view>& list) {
        return std::any_of(list.begin(), list.end(),
                           [&](std::string_view option) { return matches(argument, option); });
    };
    for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h" || argument == "--version")
            continue;
        if (among(argument, known) || among(argument, kQtAlone))
            continue;
        if (among(argument, kQtWithValue) && i + 1 < argc && argv[i + 1] != nullptr) {
            ++i;
            continue;
        }
        std::fprintf(stderr, "%s: unknown option: %s\n%s", info.name.c_str(), argv[i],
                     ProgramHelpText(info).c_str());
        std::fflush(stderr);
        return true;
    }
    return false;
}

std::vector<std::string> ProgramLibraryFolders() {
    std::vector<std::string> folders;
    const std::filesystem::path self = ProgramFolder();
    if (IsFolder(self))
        folders.push_back(self.string());
    const std::filesystem::path installed = (self / VELTRANE_LIBDIR_FROM_BIN).lexically_normal();
    if (!self.empty() && IsFolder(installed))
        folders.push_back(installed.string());
    return folders;
}

std::string ProgramDataFolder() {
    const std::filesystem::path self = ProgramFolder();
    const std::filesystem::path data = (self / VELTRANE_DATADIR_FROM_BIN).lexically_normal();
    return !self.empty() && IsFolder(data) ? data.string() : std::string();
}

} // namespace platform
