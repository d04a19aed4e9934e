// The telephony library: line applications over the devices of the registered providers.

#include "ProviderRegistry.h"
#include "VarStruct.h"

#include <telephony/NameCompare.h>
#include <telephony/ServiceProvider.h>
#include <telephony/Tapi.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QThread>

#include <dlfcn.h>

#include <cctype>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#define TAPI_EXPORT extern "C" __attribute__((visibility("default")))

namespace telephony::detail {
namespace {

struct LoadedProvider;

// What a provider's completion reaches; stays alive until its providerShutdown has returned.
struct Host {
    LoadedProvider* provider = nullptr;
    bool alive = true;
};

struct LoadedProvider {
    DWORD id = 0;
    std::string registeredName;
    void* library = nullptr;
    const TSP_INTERFACE* tsp = nullptr;
    void* context = nullptr;
    DWORD numLines = 0;
    std::unique_ptr<Host> host;
};

struct Device {
    LoadedProvider* provider;
    DWORD line;
};

struct LineApp {
    LINECALLBACK callback = nullptr;
    QPointer<QObject> sink; // lives on the initialising thread, as a hidden window would
    DWORD apiVersion = TAPI_VERSION_HIGHEST;
};

struct OpenLine {
    HLINEAPP app;
    DWORD device;
    uintptr_t callbackInstance;
};

struct PendingRequest {
    HLINEAPP app;
    uintptr_t callbackInstance;
};

struct State {
    std::recursive_mutex mutex;
    std::vector<std::unique_ptr<LoadedProvider>> providers;
    std::vector<Device> devices;
    std::map<HLINEAPP, LineApp> apps;
    std::map<HLINE, OpenLine> lines;
    std::map<DWORD, PendingRequest> pending;
    HLINEAPP nextApp = 1;
    HLINE nextLine = 1;
    DWORD nextRequest = 1;
};

State& S() {
    static State* state = new State; // never destroyed: providers may complete late at exit
    return *state;
}

std::string TelephonyFolder() {
    if (const char* dir = std::getenv("QORVELL_TELEPHONY_DIR"); dir != nullptr && *dir != '\0') {
        return dir;
    }
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&TelephonyFolder), &info) != 0 &&
        info.dli_fname != nullptr) {
        std::string self = info.dli_fname;
        const size_t cut = self.rfind('/');
        if (cut != std::string::npos) {
            return self.substr(0, cut);
        }
    }
    return ".";
}

std::string ProviderPath(const std::string& registeredName) {
    std::string name = registeredName;
    for (char& c : name) {
        if (c == '\\') {
            c = '/';
        }
    }
    if (name.find('/') != std::string::npos) {
        return name;
    }
    return TelephonyFolder() + "/" + name;
}

// Opens a provider file and takes its function table; null (library closed) when it is none.
const TSP_INTERFACE* OpenProviderFile(const std::string& registeredName, void*& library) {
    library = ::dlopen(ProviderPath(registeredName).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        return nullptr;
    }
    auto entry = reinterpret_cast<TSP_ENTRYPROC>(::dlsym(library, TSP_ENTRY_SYMBOL));
    const TSP_INTERFACE* tsp = entry != nullptr ? entry() : nullptr;
    if (tsp == nullptr || tsp->interfaceVersion != TSP_INTERFACE_VERSION) {
        ::dlclose(library);
        library = nullptr;
        return nullptr;
    }
    return tsp;
}

void Complete(void* hostPointer, DWORD requestId, int32_t result);

// Unloads every provider; called with the lock held and no line application left.
void UnloadProviders(std::unique_lock<std::recursive_mutex>& lock) {
    State& s = S();
    std::vector<std::unique_ptr<LoadedProvider>> gone = std::move(s.providers);
    s.providers.clear();
    s.devices.clear();
    s.lines.clear();
    s.pending.clear();
    for (auto& provider : gone) {
        provider->host->alive = false;
    }
    // A provider may be waiting in a completion for the lock; let it in before joining it.
    lock.unlock();
    for (auto& provider : gone) {
        provider->tsp->providerShutdown(provider->context);
        ::dlclose(provider->library);
    }
    lock.lock();
}

// Loads every registered provider that can be loaded; an initialisation that fails fails all.
int32_t LoadProviders(std::unique_lock<std::recursive_mutex>& lock) {
    State& s = S();
    std::vector<ProviderRecord> records;
    if (!ReadProviders(records)) {
        return LINEERR_INIFILECORRUPT;
    }
    for (const ProviderRecord& record : records) {
        auto provider = std::make_unique<LoadedProvider>();
        provider->id = record.id;
        provider->registeredName = record.fileName;
        provider->tsp = OpenProviderFile(record.fileName, provider->library);
        if (provider->tsp == nullptr) {
            continue; // a provider file that is gone offers no lines
        }
        provider->host = std::make_unique<Host>();
        provider->host->provider = provider.get();
        const int32_t result = provider->tsp->providerInit(record.id, record.fileName.c_str(),
                                                           &Complete, provider->host.get(),
                                                           &provider->context, &provider->numLines);
        if (result != 0) {
            ::dlclose(provider->library);
            UnloadProviders(lock);
            return result;
        }
        for (DWORD line = 0; line < provider->numLines; ++line) {
            s.devices.push_back({provider.get(), line});
        }
        s.providers.push_back(std::move(provider));
    }
    return 0;
}

void Complete(void* hostPointer, DWORD requestId, int32_t result) {
    State& s = S();
    std::lock_guard lock(s.mutex);
    auto* host = static_cast<Host*>(hostPointer);
    if (host == nullptr || !host->alive) {
        return;
    }
    auto request = s.pending.find(requestId);
    if (request == s.pending.end()) {
        return;
    }
    const PendingRequest done = request->second;
    s.pending.erase(request);
    auto app = s.apps.find(done.app);
    if (app == s.apps.end() || app->second.sink.isNull()) {
        return;
    }
    const HLINEAPP appHandle = done.app;
    const uintptr_t instance = done.callbackInstance;
    QMetaObject::invokeMethod(
        app->second.sink.data(),
        [appHandle, instance, requestId, result] {
            LINECALLBACK callback = nullptr;
            {
                std::lock_guard inner(S().mutex);
                auto it = S().apps.find(appHandle);
                if (it == S().apps.end()) {
                    return; // shut down while the reply was on its way
                }
                callback = it->second.callback;
            }
            callback(0, LINE_REPLY, instance, requestId, static_cast<uintptr_t>(result), 0);
        },
        Qt::QueuedConnection);
}

int32_t Initialize(HLINEAPP* lphLineApp, LINECALLBACK callback, DWORD* lpdwNumDevs,
                   DWORD apiVersion) {
    if (lphLineApp == nullptr || lpdwNumDevs == nullptr || callback == nullptr) {
        return LINEERR_INVALPOINTER;
    }
    State& s = S();
    std::unique_lock lock(s.mutex);
    if (s.apps.empty()) {
        if (const int32_t result = LoadProviders(lock); result != 0) {
            return result;
        }
    }
    const HLINEAPP handle = s.nextApp++;
    LineApp& app = s.apps[handle];
    app.callback = callback;
    app.sink = new QObject;
    app.apiVersion = apiVersion;
    *lphLineApp = handle;
    *lpdwNumDevs = static_cast<DWORD>(s.devices.size());
    return 0;
}

// The device of an open line application, or an error.
int32_t FindDevice(HLINEAPP app, DWORD deviceId, Device& out) {
    State& s = S();
    if (s.apps.find(app) == s.apps.end()) {
        return LINEERR_INVALAPPHANDLE;
    }
    if (deviceId >= s.devices.size()) {
        return LINEERR_BADDEVICEID;
    }
    out = s.devices[deviceId];
    return 0;
}

int32_t CheckApiVersion(DWORD version) {
    return version < TAPI_VERSION_LOWEST || version > TAPI_VERSION_HIGHEST
               ? LINEERR_INCOMPATIBLEAPIVERSION
               : 0;
}

// The device and what its provider tells of its line, for a version the library speaks.
int32_t FindLineInfo(HLINEAPP app, DWORD deviceId, DWORD apiVersion, Device& device,
                     TSP_LINEINFO& info) {
    if (const int32_t result = FindDevice(app, deviceId, device); result != 0) {
        return result;
    }
    if (const int32_t result = CheckApiVersion(apiVersion); result != 0) {
        return result;
    }
    return device.provider->tsp->getLineInfo(device.provider->context, device.line, &info);
}

} // namespace
} // namespace telephony::detail

using namespace telephony::detail;

TAPI_EXPORT int32_t lineInitialize(HLINEAPP* lphLineApp, void*, LINECALLBACK lpfnCallback,
                                   const char*, DWORD* lpdwNumDevs) {
    return Initialize(lphLineApp, lpfnCallback, lpdwNumDevs, 0x00010003u);
}

TAPI_EXPORT int32_t lineInitializeExA(HLINEAPP* lphLineApp, void*, LINECALLBACK lpfnCallback,
                                      const char*, DWORD* lpdwNumDevs, DWORD* lpdwAPIVersion,
                                      LINEINITIALIZEEXPARAMS* lpParams) {
    if (lpdwAPIVersion == nullptr) {
        return LINEERR_INVALPOINTER;
    }
    if (*lpdwAPIVersion < TAPI_VERSION_LOWEST) {
        return LINEERR_INCOMPATIBLEAPIVERSION;
    }
    if (lpParams != nullptr) {
        if (lpParams->dwTotalSize < sizeof(LINEINITIALIZEEXPARAMS)) {
            return LINEERR_STRUCTURETOOSMALL;
        }
        // Messages come only as callbacks on the initialising thread's event loop.
        if (lpParams->dwOptions != LINEINITIALIZEEXOPTION_USEHIDDENWINDOW) {
            return LINEERR_INVALPARAM;
        }
        lpParams->dwNeededSize = sizeof(LINEINITIALIZEEXPARAMS);
        lpParams->dwUsedSize = sizeof(LINEINITIALIZEEXPARAMS);
    }
    const DWORD version =
        *lpdwAPIVersion > TAPI_VERSION_HIGHEST ? TAPI_VERSION_HIGHEST : *lpdwAPIVersion;
    const int32_t result = Initialize(lphLineApp, lpfnCallback, lpdwNumDevs, version);
    if (result == 0) {
        *lpdwAPIVersion = version;
    }
    return result;
}

TAPI_EXPORT int32_t lineShutdown(HLINEAPP hLineApp) {
    State& s = S();
    std::unique_lock lock(s.mutex);
    auto app = s.apps.find(hLineApp);
    if (app == s.apps.end()) {
        return LINEERR_INVALAPPHANDLE;
    }
    std::vector<std::pair<LoadedProvider*, DWORD>> toClose;
    for (auto it = s.lines.begin(); it != s.lines.end();) {
        if (it->second.app == hLineApp) {
            const Device& device = s.devices[it->second.device];
            toClose.emplace_back(device.provider, device.line);
            it = s.lines.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = s.pending.begin(); it != s.pending.end();) {
        it = it->second.app == hLineApp ? s.pending.erase(it) : std::next(it);
    }
    QObject* sink = app->second.sink.data();
    s.apps.erase(app);
    if (sink != nullptr) {
        // Queued replies die with their receiver.
        if (sink->thread() == QThread::currentThread()) {
            delete sink;
        } else {
            sink->deleteLater();
        }
    }
    for (const auto& [provider, line] : toClose) {
        provider->tsp->lineClose(provider->context, line);
    }
    if (s.apps.empty()) {
        UnloadProviders(lock);
    }
    return 0;
}

TAPI_EXPORT int32_t lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID,
                                            DWORD dwAPILowVersion, DWORD dwAPIHighVersion,
                                            DWORD* lpdwAPIVersion, LINEEXTENSIONID* lpExtensionID) {
    std::lock_guard lock(S().mutex);
    Device device{};
    if (const int32_t result = FindDevice(hLineApp, dwDeviceID, device); result != 0) {
        return result;
    }
    if (lpdwAPIVersion == nullptr || lpExtensionID == nullptr) {
        return LINEERR_INVALPOINTER;
    }
    if (dwAPILowVersion > dwAPIHighVersion || dwAPIHighVersion < TAPI_VERSION_LOWEST ||
        dwAPILowVersion > TAPI_VERSION_HIGHEST) {
        return LINEERR_INCOMPATIBLEAPIVERSION;
    }
    *lpdwAPIVersion =
        dwAPIHighVersion > TAPI_VERSION_HIGHEST ? TAPI_VERSION_HIGHEST : dwAPIHighVersion;
    std::memset(lpExtensionID, 0, sizeof *lpExtensionID);
    lpExtensionID->dwExtensionID0 = device.provider->id;
    return 0;
}

TAPI_EXPORT int32_t lineNegotiateExtVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion,
                                            DWORD dwExtLowVersion, DWORD dwExtHighVersion,
                                            DWORD* lpdwExtVersion) {
    std::lock_guard lock(S().mutex);
    Device device{};
    if (const int32_t result = FindDevice(hLineApp, dwDeviceID, device); result != 0) {
        return result;
    }
    if (lpdwExtVersion == nullptr) {
        return LINEERR_INVALPOINTER;
    }
    if (const int32_t result = CheckApiVersion(dwAPIVersion); result != 0) {
        return result;
    }
    return device.provider->tsp->negotiateExtVersion(device.provider->context, device.line,
                                                     dwAPIVersion, dwExtLowVersion,
                                                     dwExtHighVersion, lpdwExtVersion);
}

TAPI_EXPORT int32_t lineGetDevCapsA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD,
                                    LINEDEVCAPS* lpLineDevCaps) {
    std::lock_guard lock(S().mutex);
    Device device{};
    TSP_LINEINFO info{};
    if (const int32_t result = FindLineInfo(hLineApp, dwDeviceID, dwAPIVersion, device, info);
        result != 0) {
        return result;
    }
    VarStruct caps(lpLineDevCaps, sizeof(LINEDEVCAPS));
    if (const int32_t result = caps.Begin(); result != 0) {
        return result;
    }
    caps.SetField(offsetof(LINEDEVCAPS, dwPermanentLineID), info.permanentLineId);
    caps.SetField(offsetof(LINEDEVCAPS, dwStringFormat), STRINGFORMAT_ASCII);
    caps.SetField(offsetof(LINEDEVCAPS, dwNumAddresses), info.numAddresses);
    caps.SetField(offsetof(LINEDEVCAPS, dwMediaModes), LINEMEDIAMODE_INTERACTIVEVOICE);
    caps.SetField(offsetof(LINEDEVCAPS, dwMaxNumActiveCalls), 1);
    if (info.providerInfo != nullptr) {
        caps.AddString(offsetof(LINEDEVCAPS, dwProviderInfoSize),
                       offsetof(LINEDEVCAPS, dwProviderInfoOffset), info.providerInfo);
    }
    if (info.lineName != nullptr) {
        caps.AddString(offsetof(LINEDEVCAPS, dwLineNameSize),
                       offsetof(LINEDEVCAPS, dwLineNameOffset), info.lineName);
    }
    caps.Finish();
    return 0;
}

TAPI_EXPORT int32_t lineGetDevCaps(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion,
                                   DWORD dwExtVersion, LINEDEVCAPS* lpLineDevCaps) {
    return lineGetDevCapsA(hLineApp, dwDeviceID, dwAPIVersion, dwExtVersion, lpLineDevCaps);
}

TAPI_EXPORT int32_t lineGetAddressCapsA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAddressID,
                                        DWORD dwAPIVersion, DWORD, LINEADDRESSCAPS* lpAddressCaps) {
    std::lock_guard lock(S().mutex);
    Device device{};
    TSP_LINEINFO info{};
    if (const int32_t result = FindLineInfo(hLineApp, dwDeviceID, dwAPIVersion, device, info);
        result != 0) {
        return result;
    }
    if (dwAddressID >= info.numAddresses) {
        return LINEERR_INVALADDRESSID;
    }
    const char* name = nullptr;
    if (const int32_t result = device.provider->tsp->getAddressName(
            device.provider->context, device.line, dwAddressID, &name);
        result != 0) {
        return result;
    }
    VarStruct caps(lpAddressCaps, sizeof(LINEADDRESSCAPS));
    if (const int32_t result = caps.Begin(); result != 0) {
        return result;
    }
    caps.SetField(offsetof(LINEADDRESSCAPS, dwLineDeviceID), dwDeviceID);
    caps.SetField(offsetof(LINEADDRESSCAPS, dwMaxNumActiveCalls), 1);
    if (name != nullptr) {
        caps.AddString(offsetof(LINEADDRESSCAPS, dwAddressSize),
                       offsetof(LINEADDRESSCAPS, dwAddressOffset), name);
    }
    caps.Finish();
    return 0;
}

TAPI_EXPORT int32_t lineOpenA(HLINEAPP hLineApp, DWORD dwDeviceID, HLINE* lphLine,
                              DWORD dwAPIVersion, DWORD, uintptr_t dwCallbackInstance,
                              DWORD dwPrivileges, DWORD dwMediaModes, const void*) {
    State& s = S();
    std::lock_guard lock(s.mutex);
    Device device{};
    if (const int32_t result = FindDevice(hLineApp, dwDeviceID, device); result != 0) {
        return result;
    }
    if (lphLine == nullptr) {
        return LINEERR_INVALPOINTER;
    }
    if (const int32_t result = CheckApiVersion(dwAPIVersion); result != 0) {
        return result;
    }
    const DWORD known =
        LINECALLPRIVILEGE_NONE | LINECALLPRIVILEGE_MONITOR | LINECALLPRIVILEGE_OWNER;
    if (dwPrivileges == 0 || (dwPrivileges & ~known) != 0) {
        return LINEERR_INVALCALLPRIVILEGE;
    }
    if ((dwPrivileges & LINECALLPRIVILEGE_OWNER) != 0 && dwMediaModes == 0) {
        return LINEERR_INVALMEDIAMODE;
    }
    if (const int32_t result = device.provider->tsp->lineOpen(device.provider->context, device.line,
                                                              dwPrivileges, dwMediaModes);
        result != 0) {
        return result;
    }
    const HLINE handle = s.nextLine++;
    s.lines[handle] = {hLineApp, dwDeviceID, dwCallbackInstance};
    *lphLine = handle;
    return 0;
}

TAPI_EXPORT int32_t lineClose(HLINE hLine) {
    State& s = S();
    std::lock_guard lock(s.mutex);
    auto line = s.lines.find(hLine);
    if (line == s.lines.end()) {
        return LINEERR_INVALLINEHANDLE;
    }
    const Device device = s.devices[line->second.device];
    s.lines.erase(line);
    device.provider->tsp->lineClose(device.provider->context, device.line);
    return 0;
}

TAPI_EXPORT int32_t lineDevSpecific(HLINE hLine, DWORD dwAddressID, HCALL hCall, void* lpParams,
                                    DWORD dwSize) {
    State& s = S();
    std::unique_lock lock(s.mutex);
    auto line = s.lines.find(hLine);
    if (line == s.lines.end()) {
        return LINEERR_INVALLINEHANDLE;
    }
    if (lpParams == nullptr && dwSize != 0) {
        return LINEERR_INVALPOINTER;
    }
    const Device device = s.devices[line->second.device];
    DWORD requestId = s.nextRequest;
    s.nextRequest = s.nextRequest >= 0x7FFFFFFFu ? 1 : s.nextRequest + 1;
    s.pending[requestId] = {line->second.app, line->second.callbackInstance};
    const std::string body(static_cast<const char*>(lpParams), lpParams != nullptr ? dwSize : 0);
    // The provider may complete from inside the call (the lock is re-entrant) or from its own
    // threads, which wait for the lock; the request is already pending either way.
    const int32_t result = device.provider->tsp->lineDevSpecific(
        device.provider->context, device.line, dwAddressID, hCall, requestId, body.data(),
        static_cast<DWORD>(body.size()));
    if (result != 0) {
        s.pending.erase(requestId);
        return result;
    }
    return static_cast<int32_t>(requestId);
}

TAPI_EXPORT int32_t lineGetProviderList(DWORD dwAPIVersion, LINEPROVIDERLIST* lpProviderList) {
    if (const int32_t result = CheckApiVersion(dwAPIVersion); result != 0) {
        return result;
    }
    std::vector<ProviderRecord> records;
    if (!ReadProviders(records)) {
        return LINEERR_INIFILECORRUPT;
    }
    VarStruct list(lpProviderList, sizeof(LINEPROVIDERLIST));
    if (const int32_t result = list.Begin(); result != 0) {
        return result;
    }
    // The entries, then the names they point at.
    const DWORD entriesSize = static_cast<DWORD>(records.size() * sizeof(LINEPROVIDERENTRY));
    const DWORD namesAt = sizeof(LINEPROVIDERLIST) + entriesSize;
    std::string entries;
    std::string names;
    for (const ProviderRecord& record : records) {
        const LINEPROVIDERENTRY entry{record.id, static_cast<DWORD>(record.fileName.size() + 1),
                                      namesAt + static_cast<DWORD>(names.size())};
        entries.append(reinterpret_cast<const char*>(&entry), sizeof entry);
        names.append(record.fileName).push_back('\0');
    }
    list.Add(offsetof(LINEPROVIDERLIST, dwProviderListSize),
             offsetof(LINEPROVIDERLIST, dwProviderListOffset), entries.data(), entriesSize);
    list.AddBlock(names.data(), static_cast<DWORD>(names.size()));
    // The count describes the entries, so it is given only with them.
    if (list.VariablePartFits()) {
        list.SetField(offsetof(LINEPROVIDERLIST, dwNumProviders),
                      static_cast<DWORD>(records.size()));
    }
    list.Finish();
    return 0;
}

TAPI_EXPORT int32_t lineAddProvider(const char* lpszProviderFilename, void*,
                                    DWORD* lpdwPermanentProviderID) {
    if (lpszProviderFilename == nullptr || lpdwPermanentProviderID == nullptr) {
        return LINEERR_INVALPOINTER;
    }
    const std::string name = lpszProviderFilename;
    if (name.empty()) {
        return LINEERR_INVALPARAM;
    }
    std::vector<ProviderRecord> records;
    if (!ReadProviders(records)) {
        return LINEERR_INIFILECORRUPT;
    }
    for (const ProviderRecord& record : records) {
        if (telephony::EqualNoCase(FilePart(record.fileName), FilePart(name))) {
            return LINEERR_NOMULTIPLEINSTANCE;
        }
    }
    void* library = nullptr;
    if (OpenProviderFile(name, library) == nullptr) {
        return LINEERR_NODRIVER;
    }
    ::dlclose(library);
    return AppendProvider(name, *lpdwPermanentProviderID);
}

TAPI_EXPORT int32_t lineRemoveProvider(DWORD dwPermanentProviderID, void*) {
    return RemoveProvider(dwPermanentProviderID);
}

// There are no dialling locations to edit here: the arguments are checked and nothing is shown.
TAPI_EXPORT int32_t lineTranslateDialog(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion,
                                        void*, const char*) {
    State& s = S();
    std::lock_guard lock(s.mutex);
    if (s.apps.find(hLineApp) == s.apps.end()) {
        return LINEERR_INVALAPPHANDLE;
    }
    if (const int32_t result = CheckApiVersion(dwAPIVersion); result != 0) {
        return result;
    }
    if (!s.devices.empty() && dwDeviceID >= s.devices.size()) {
        return LINEERR_BADDEVICEID;
    }
    return 0;
}
