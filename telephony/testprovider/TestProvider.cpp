// A configurable service provider for tests and demonstrations. It stands in for a real
// switch's provider: it offers the lines its registry key lists, answers device-specific
// requests at once, after a delay or never, can fail or stall its initialisation, and appends
// every request it receives to a record file.
//
// Settings: HKLM "Software\Qorvell Electronics\Test Provider\<registered file part>"
//   ProviderInfo  REG_SZ     provider-information string ("Qorvell QMX Service Provider")
//   Lines         REG_SZ     address names separated by ';' ("Line 201;Line 202"); an item
//                            "-" is a line without an address
//   ExtVersion    REG_DWORD  the one extension version offered (0x00010001)
//   InitResult    REG_DWORD  result of the initialisation (0), e.g. LINEERR_REINIT
//   InitHangMs    REG_DWORD  the initialisation first stalls this long (0)
//   InitHangUntil REG_SZ     the stall ends early once this file exists, and removes it (none)
//   OpenResult    REG_DWORD  result of every line open (0)
//   ReplyMode     REG_SZ     "now", "delayed" or "never" ("now")
//   ReplyDelayMs  REG_DWORD  delay of "delayed" (200)
//   ReplyResult   REG_DWORD  result carried by every reply (0)
//   RecordFile    REG_SZ     file the records are appended to (none)
// Record lines: "<file> init", "<file> open <line>", "<file> close <line>",
// "<file> devspecific <line> <address> <hex bytes>", "<file> shutdown".

#include <telephony/ServiceProvider.h>

#include <platform/Registry.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr const char* kSettingsKey = "Software\\Qorvell Electronics\\Test Provider";

struct Provider {
    std::string fileName;
    std::string providerInfo = "Qorvell QMX Service Provider";
    std::vector<std::string> lineNames;
    std::vector<std::string> addresses;
    std::vector<bool> hasAddress;
    DWORD extVersion = 0x00010001;
    int32_t openResult = 0;
    std::string replyMode = "now";
    DWORD replyDelayMs = 200;
    int32_t replyResult = 0;
    std::string recordFile;

    TSP_COMPLETIONPROC complete = nullptr;
    void* host = nullptr;

    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::vector<std::thread> replies;
};

std::mutex recordMutex;

void Record(const Provider& provider, const std::string& text) {
    if (provider.recordFile.empty()) {
        return;
    }
    std::lock_guard lock(recordMutex);
    if (FILE* file = std::fopen(provider.recordFile.c_str(), "a")) {
        std::fprintf(file, "%s %s\n", provider.fileName.c_str(), text.c_str());
        std::fclose(file);
    }
}

std::string FilePart(const std::string& name) {
    const size_t cut = name.find_last_of("/\\");
    return cut == std::string::npos ? name : name.substr(cut + 1);
}

void ReadSettings(Provider& provider) {
    std::string lines = "Line 201;Line 202";
    platform::RegKey key;
    if (platform::RegKey::Open(platform::RegRoot::LocalMachine,
                               std::string(kSettingsKey) + "\\" + provider.fileName,
                               key) == platform::RegStatus::Ok) {
        uint32_t number = 0;
        key.QueryString("ProviderInfo", provider.providerInfo);
        key.QueryString("Lines", lines);
        key.QueryDword("ExtVersion", provider.extVersion);
        if (key.QueryDword("OpenResult", number) == platform::RegStatus::Ok) {
            provider.openResult = static_cast<int32_t>(number);
        }
        key.QueryString("ReplyMode", provider.replyMode);
        key.QueryDword("ReplyDelayMs", provider.replyDelayMs);
        if (key.QueryDword("ReplyResult", number) == platform::RegStatus::Ok) {
            provider.replyResult = static_cast<int32_t>(number);
        }
        key.QueryString("RecordFile", provider.recordFile);
    }
    size_t start = 0;
    while (!lines.empty() && start <= lines.size()) {
        size_t end = lines.find(';', start);
        if (end == std::string::npos) {
            end = lines.size();
        }
        const std::string item = lines.substr(start, end - start);
        const bool none = item == "-";
        provider.addresses.push_back(none ? "" : item);
        provider.hasAddress.push_back(!none);
        provider.lineNames.push_back("Test line " + std::to_string(provider.lineNames.size()));
        start = end + 1;
    }
}

int32_t ProviderInit(DWORD, const char* registeredName, TSP_COMPLETIONPROC complete, void* host,
                     void** context, DWORD* numLines) {
    auto provider = std::make_unique<Provider>();
    provider->fileName = FilePart(registeredName != nullptr ? registeredName : "");
    provider->complete = complete;
    provider->host = host;
    ReadSettings(*provider);
    Record(*provider, "init");

    platform::RegKey key;
    uint32_t hang = 0;
    uint32_t result = 0;
    std::string release;
    if (platform::RegKey::Open(platform::RegRoot::LocalMachine,
                               std::string(kSettingsKey) + "\\" + provider->fileName,
                               key) == platform::RegStatus::Ok) {
        key.QueryDword("InitHangMs", hang);
        key.QueryDword("InitResult", result);
        key.QueryString("InitHangUntil", release);
    }
    if (hang > 0 && release.empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(hang));
    } else if (hang > 0) {
        // A test that must see what happens during the stall ends it itself, whatever the load.
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(hang);
        std::error_code ignored;
        while (!std::filesystem::remove(release, ignored) &&
               std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    if (result != 0) {
        return static_cast<int32_t>(result);
    }
    *numLines = static_cast<DWORD>(provider->addresses.size());
    *context = provider.release();
    return 0;
}

void ProviderShutdown(void* context) {
    auto* provider = static_cast<Provider*>(context);
    {
        std::lock_guard lock(provider->mutex);
        provider->stopping = true;
    }
    provider->wake.notify_all();
    for (std::thread& reply : provider->replies) {
        reply.join();
    }
    Record(*provider, "shutdown");
    delete provider;
}

int32_t NegotiateExtVersion(void* context, DWORD line, DWORD, DWORD low, DWORD high,
                            DWORD* version) {
    auto* provider = static_cast<Provider*>(context);
    if (line >= provider->addresses.size()) {
        return LINEERR_BADDEVICEID;
    }
    if (provider->extVersion < low || provider->extVersion > high) {
        return LINEERR_INCOMPATIBLEEXTVERSION;
    }
    *version = provider->extVersion;
    return 0;
}

int32_t GetLineInfo(void* context, DWORD line, TSP_LINEINFO* info) {
    auto* provider = static_cast<Provider*>(context);
    if (line >= provider->addresses.size()) {
        return LINEERR_BADDEVICEID;
    }
    info->providerInfo = provider->providerInfo.c_str();
    info->lineName = provider->lineNames[line].c_str();
    info->permanentLineId = line;
    info->numAddresses = provider->hasAddress[line] ? 1 : 0;
    return 0;
}

int32_t GetAddressName(void* context, DWORD line, DWORD address, const char** name) {
    auto* provider = static_cast<Provider*>(context);
    if (line >= provider->addresses.size() || address != 0 || !provider->hasAddress[line]) {
        return LINEERR_INVALADDRESSID;
    }
    *name = provider->addresses[line].c_str();
    return 0;
}

int32_t LineOpen(void* context, DWORD line, DWORD, DWORD) {
    auto* provider = static_cast<Provider*>(context);
    Record(*provider, "open " + std::to_string(line));
    return provider->openResult;
}

int32_t LineClose(void* context, DWORD line) {
    auto* provider = static_cast<Provider*>(context);
    Record(*provider, "close " + std::to_string(line));
    return 0;
}

int32_t LineDevSpecific(void* context, DWORD line, DWORD address, HCALL, DWORD requestId,
                        const void* body, DWORD size) {
    auto* provider = static_cast<Provider*>(context);
    std::string text = "devspecific " + std::to_string(line) + " " + std::to_string(address);
    const auto* bytes = static_cast<const unsigned char*>(body);
    for (DWORD i = 0; i < size; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", bytes[i]);
        text += hex;
    }
    Record(*provider, text);
    if (provider->replyMode == "never") {
        return 0;
    }
    if (provider->replyMode == "delayed") {
        std::lock_guard lock(provider->mutex);
        provider->replies.emplace_back([provider, requestId] {
            std::unique_lock wait(provider->mutex);
            if (!provider->wake.wait_for(wait, std::chrono::milliseconds(provider->replyDelayMs),
                                         [provider] { return provider->stopping; })) {
                wait.unlock();
                provider->complete(provider->host, requestId, provider->replyResult);
            }
        });
        return 0;
    }
    provider->complete(provider->host, requestId, provider->replyResult);
    return 0;
}

const TSP_INTERFACE kInterface = {
    TSP_INTERFACE_VERSION, &ProviderInit, &ProviderShutdown, &NegotiateExtVersion, &GetLineInfo,
    &GetAddressName,       &LineOpen,     &LineClose,        &LineDevSpecific,
};

} // namespace

extern "C" __attribute__((visibility("default"))) const TSP_INTERFACE* veltrane_tsp_interface() {
    return &kInterface;
}
