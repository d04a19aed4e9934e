// setupkit: the exports an installer calls by name. Each export binds the telephony library
// itself and frees it before it returns; failures are told only by results.

#include <providerinstall/ProviderInstall.h>

#include <telephony/Tapi.h>
#include <telephony/TapiModule.h>

#include <QApplication>
#include <QFileDialog>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#define SETUPKIT_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr const char* kTapiName = "tapi32.dll";
constexpr const char* kProviderFile = "lynxtsp32.tsp";
constexpr const char kMarker[] = "TUMBRELSOKAP";
constexpr size_t kMarkerSize = sizeof kMarker - 1;
constexpr size_t kChunk = 2048;
constexpr size_t kMaxPath = 260;

void InstallLineCallback(DWORD, DWORD, uintptr_t, uintptr_t, uintptr_t, uintptr_t) {}

// Steps shared by both dialling-properties exports: 0, or 2 with the line application shut.
int TranslateDialog(const telephony::TapiModule& tapi, void* owner) {
    auto init = tapi.Function<PFN_lineInitialize>("lineInitialize");
    auto translate = tapi.Function<PFN_lineTranslateDialog>("lineTranslateDialog");
    auto shutdown = tapi.Function<PFN_lineShutdown>("lineShutdown");
    if (init == nullptr || translate == nullptr || shutdown == nullptr) {
        return 2;
    }
    HLINEAPP app = 0;
    DWORD devices = 0;
    if (init(&app, nullptr, InstallLineCallback, "LINNETV2 INSTALL", &devices) != 0) {
        return 2;
    }
    const int32_t result = translate(app, 0, TAPI_VERSION_HIGHEST, owner, "");
    shutdown(app);
    return result != 0 ? 2 : 0;
}

// The control-panel applet is a file of the telephony folder; a parked copy is put back.
bool AppletPresent(const std::string& folder) {
    namespace fs = std::filesystem;
    const fs::path applet = fs::path(folder) / "telephon.cpl";
    std::error_code error;
    if (fs::exists(applet, error)) {
        return true;
    }
    const fs::path parked = fs::path(folder) / "telephon.cp$";
    if (!fs::exists(parked, error)) {
        return false;
    }
    fs::rename(parked, applet, error);
    return !error;
}

// Each string goes with its NUL at its field; name and company are cut to their fields' room.
bool WriteNameAndCompany(const char* path, std::streamoff position, const char* first,
                         const char* second, const char* third) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    if (!file) {
        return false;
    }
    auto put = [&](std::streamoff at, const char* text, size_t room) {
        std::string value = text != nullptr ? text : "";
        if (room != 0 && value.size() > room - 1) {
            value.resize(room - 1);
        }
        value.push_back('\0');
        file.seekp(position + at);
        file.write(value.data(), static_cast<std::streamsize>(value.size()));
    };
    put(0, first, 32);
    put(32, second, 56);
    put(88, third, 0);
    file.flush();
    return static_cast<bool>(file);
}

} // namespace

SETUPKIT_EXPORT int InstallTSPI(void* owner) {
    telephony::TapiModule tapi;
    if (!tapi.Load(kTapiName)) {
        return 1;
    }
    const std::string folder = telephony::TelephonyFolder(tapi);
    if (!AppletPresent(folder)) {
        return 1;
    }
    if (const int result = TranslateDialog(tapi, owner); result != 0) {
        return result;
    }
    const std::string full = folder + "/" + kProviderFile;
    return AddProviderOnce(tapi, kProviderFile, full.c_str(), owner);
}

SETUPKIT_EXPORT int ShowlineProperties(void* owner) {
    telephony::TapiModule tapi;
    if (!tapi.Load(kTapiName)) {
        return 1;
    }
    return TranslateDialog(tapi, owner);
}

SETUPKIT_EXPORT int IsTAPI21Installed() {
    telephony::TapiModule tapi;
    return tapi.Load(kTapiName) && tapi.Resolve("lineInitializeExA") != nullptr ? 1 : 0;
}

SETUPKIT_EXPORT int StoreNameAndCompany(const char* path, const char* first, const char* second,
                                        const char* third) {
    std::ifstream in(path != nullptr ? path : "", std::ios::binary);
    if (!in) {
        std::fputs("File open failed\n", stdout);
        return 0;
    }
    // The tail of each chunk is carried into the next, so a marker across the cut is found.
    std::vector<char> window;
    std::streamoff windowStart = 0;
    std::vector<char> chunk(kChunk);
    for (;;) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        const std::streamsize got = in.gcount();
        if (got <= 0) {
            return 0;
        }
        window.insert(window.end(), chunk.begin(), chunk.begin() + got);
        for (size_t i = 0; i + kMarkerSize <= window.size(); ++i) {
            if (std::memcmp(window.data() + i, kMarker, kMarkerSize) == 0) {
                in.close();
                const std::streamoff stamp = windowStart + static_cast<std::streamoff>(i) + 16;
                return WriteNameAndCompany(path, stamp, first, second, third) ? 1 : 0;
            }
        }
        if (window.size() >= kMarkerSize) {
            const size_t keep = kMarkerSize - 1;
            windowStart += static_cast<std::streamoff>(window.size() - keep);
            window.erase(window.begin(), window.end() - static_cast<std::ptrdiff_t>(keep));
        }
    }
}

SETUPKIT_EXPORT int OpenFileDialog(void* owner, char* buffer) {
    (void)owner; // windows of other toolkits cannot own ours
    std::unique_ptr<QApplication> own;
    if (QCoreApplication::instance() == nullptr) {
        static int argc = 1;
        static char name[] = "setupkit";
        static char* argv[] = {name, nullptr};
        own = std::make_unique<QApplication>(argc, argv);
    }
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter("wave files(*.wav)");
    dialog.setObjectName("setupkitOpenFile");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return 0;
    }
    const std::string chosen = dialog.selectedFiles().first().toStdString();
    // Copied only when it fits the caller's buffer of a full path.
    if (buffer == nullptr || chosen.size() >= kMaxPath) {
        return 0;
    }
    std::memcpy(buffer, chosen.c_str(), chosen.size() + 1);
    return 1;
}
