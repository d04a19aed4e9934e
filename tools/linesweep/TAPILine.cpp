#include "TAPILine.h"
#include "LineSweepText.h"

#include "LineSweepStrings.h"

#include <platform/DebugOutput.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <new>

namespace {

// The object whose line application is running; the callback has no other way to find it.
CTAPILine* lineOwner = nullptr;

constexpr DWORD kDevCapsFirstSize = 1276;
constexpr DWORD kAddressCapsFirstSize = 1252;
constexpr DWORD kCapsGrowth = 100;
constexpr DWORD kCapsLimit = 1u << 20; // a structure claiming more is not believed

DWORD Field(const std::vector<uint8_t>& buffer, size_t offset) {
    DWORD value = 0;
    if (offset + sizeof value <= buffer.size()) {
        std::memcpy(&value, buffer.data() + offset, sizeof value);
    }
    return value;
}

// The string a size/offset pair describes, only when it lies within the structure's total
// size and the buffer; up to its first NUL.
bool StringWithin(const std::vector<uint8_t>& buffer, DWORD size, DWORD offset, std::string& out) {
    const DWORD total = Field(buffer, 0);
    const size_t limit = total < buffer.size() ? total : buffer.size();
    if (size == 0 || offset > limit || size > limit - offset) {
        return false;
    }
    const char* text = reinterpret_cast<const char*>(buffer.data() + offset);
    out.assign(text, strnlen(text, size));
    return true;
}

} // namespace

CTAPILine::CTAPILine(TapiBinding& tapi) : tapi_(tapi) {}

CTAPILine::~CTAPILine() {
    // Nothing this object opened outlives it.
    if (lineApp_ != 0) {
        ShutDown();
    }
    ReleaseDeviceList();
    if (lineOwner == this) {
        lineOwner = nullptr;
    }
}

int CTAPILine::InitializeTapi() {
    const char* appName = linesweep::LoadString(linesweep::IDS_APP_NAME);
    auto* params = new (std::nothrow) LINEINITIALIZEEXPARAMS{};
    if (params == nullptr) {
        return -1;
    }
    params->dwTotalSize = sizeof(LINEINITIALIZEEXPARAMS);
    params->dwOptions = LINEINITIALIZEEXOPTION_USEHIDDENWINDOW;
    apiVersion_ = kApiVersion;
    HLINEAPP app = 0;
    const int32_t result = tapi_.lineInitializeExA(&app, nullptr, &CTAPILine::TapiLineCallback,
                                                   appName, &deviceCount_, &apiVersion_, params);
    delete params;
    if (result != 0) {
        TapiErrorName("lineInitializeEx", result);
        lineApp_ = 0;
        return -1;
    }
    lineApp_ = app;
    if (deviceCount_ == 0) {
        tapi_.lineShutdown(lineApp_);
        lineApp_ = 0;
        return -2;
    }
    lineOwner = this;
    initialised_ = 1;
    return 0;
}

int CTAPILine::GetDeviceList() {
    if (lineApp_ == 0) {
        return -1;
    }
    ReleaseDeviceList();
    try {
        devices_ = std::make_unique<std::vector<ProviderLineEntry>>(deviceCount_);
    } catch (const std::bad_alloc&) {
        platform::DebugOutput(
            "[CTAPILine::GetDeviceList] Failed to allocate memory for the device list!\n");
        return -1;
    }
    // Device ids change when the telephony service restarts, so the first device is found
    // again at each listing.
    firstProviderDevice_ = -1;
    std::vector<uint8_t> devCaps;
    std::vector<uint8_t> addressCaps;
    for (DWORD id = 0; id < deviceCount_; ++id) {
        LINEEXTENSIONID extensionId{};
        int32_t result = tapi_.lineNegotiateAPIVersion(lineApp_, id, kApiVersion, kApiVersion,
                                                       &apiVersion_, &extensionId);
        if (result != 0) {
            TapiErrorName("lineNegotiateAPIVersion", result);
            continue;
        }
        result = tapi_.lineNegotiateExtVersion(lineApp_, id, apiVersion_, kExtVersion, kExtVersion,
                                               &extVersion_);
        if (result != 0) {
            TapiErrorName("lineNegotiateExtVersion", result);
            continue;
        }
        devCaps.assign(kDevCapsFirstSize, 0);
        std::string providerInfo;
        if (GetCaps(CapsKind::Device, id, devCaps) != 0 ||
            !StringWithin(devCaps, Field(devCaps, offsetof(LINEDEVCAPS, dwProviderInfoSize)),
                          Field(devCaps, offsetof(LINEDEVCAPS, dwProviderInfoOffset)),
                          providerInfo) ||
            providerInfo != kMakerProviderInfo) {
            continue;
        }
        ProviderLineEntry& entry = (*devices_)[id];
        entry.makersLine = true;
        if (firstProviderDevice_ == -1) {
            firstProviderDevice_ = static_cast<int>(id);
        }
        if (Field(devCaps, offsetof(LINEDEVCAPS, dwNumAddresses)) > 0) {
            addressCaps.assign(kAddressCapsFirstSize, 0);
            std::string address;
            if (GetCaps(CapsKind::Address, id, addressCaps) == 0 &&
                StringWithin(
                    addressCaps, Field(addressCaps, offsetof(LINEADDRESSCAPS, dwAddressSize)),
                    Field(addressCaps, offsetof(LINEADDRESSCAPS, dwAddressOffset)), address)) {
                entry.addressName = linesweep::Trim(address);
            }
        }
    }
    if (firstProviderDevice_ == -1) {
        ReleaseDeviceList();
        return -2;
    }
    return 0;
}

int CTAPILine::GetCaps(CapsKind kind, DWORD deviceId, std::vector<uint8_t>& buffer) {
    const char* name = kind == CapsKind::Device ? "lineGetDevCaps" : "lineGetAddressCaps";
    ResizeCapsBuffer(buffer, static_cast<DWORD>(buffer.size()));
    for (;;) {
        const int32_t result =
            kind == CapsKind::Device
                ? tapi_.lineGetDevCapsA(lineApp_, deviceId, apiVersion_, 0,
                                        reinterpret_cast<LINEDEVCAPS*>(buffer.data()))
                : tapi_.lineGetAddressCapsA(lineApp_, deviceId, 0, apiVersion_, 0,
                                            reinterpret_cast<LINEADDRESSCAPS*>(buffer.data()));
        const DWORD total = Field(buffer, 0);
        DWORD wanted = 0;
        if (result == LINEERR_STRUCTURETOOSMALL) {
            TapiErrorName(name, result);
            wanted = total + kCapsGrowth;
        } else if (result != 0) {
            TapiErrorName(name, result);
            return -1;
        } else if (Field(buffer, 4) > total) {
            wanted = Field(buffer, 4);
        } else {
            return 0;
        }
        if (wanted > kCapsLimit) {
            return -1;
        }
        ResizeCapsBuffer(buffer, wanted);
    }
}

void CTAPILine::ResizeCapsBuffer(std::vector<uint8_t>& buffer, DWORD size) {
    if (buffer.size() < size) {
        buffer.assign(size, 0);
    } else {
        std::fill(buffer.begin(), buffer.end(), 0);
    }
    const DWORD total = static_cast<DWORD>(buffer.size());
    std::memcpy(buffer.data(), &total, sizeof total);
}

bool CTAPILine::InRange(DWORD id) const {
    return devices_ != nullptr && firstProviderDevice_ >= 0 &&
           id >= static_cast<DWORD>(firstProviderDevice_) && id < devices_->size();
}

bool CTAPILine::Matches(const ProviderLineEntry& entry, const std::string& lineName) const {
    // Another provider's device inside the range is never the maker's line.
    if (!entry.makersLine) {
        return false;
    }
    return lineName.empty() || linesweep::EqualNoCase(entry.addressName, lineName);
}

int32_t CTAPILine::OpenLines(const std::string& lineName, HLINE* lineOut) {
    int32_t result = 0;
    for (DWORD id = 0; devices_ != nullptr && id < devices_->size(); ++id) {
        ProviderLineEntry& entry = (*devices_)[id];
        if (!InRange(id) || !Matches(entry, lineName) || entry.line != 0) {
            continue;
        }
        HLINE line = 0;
        result = tapi_.lineOpenA(lineApp_, id, &line, apiVersion_, 0, 1, LINECALLPRIVILEGE_MONITOR,
                                 LINEMEDIAMODE_INTERACTIVEVOICE, nullptr);
        if (result != 0) {
            TapiErrorName("lineOpen", result);
            continue;
        }
        entry.line = line;
        if (lineOut != nullptr) {
            *lineOut = line;
        }
    }
    return result;
}

int32_t CTAPILine::SendDevSpecific(HLINE line, HCALL call, const uint8_t* body, DWORD length) {
    uint8_t request[kRequestBufferSize] = {};
    if (line == 0) {
        return -1;
    }
    if (length > kRequestBufferSize - 3 || (body == nullptr && length != 0)) {
        platform::DebugOutput("[CTAPILine::SendDevSpecific] request body too long\n");
        return LINEERR_INVALPARAM;
    }
    std::memcpy(request, "QMX", 3);
    if (length != 0) {
        std::memcpy(request + 3, body, length);
    }
    pendingRequest_ = tapi_.lineDevSpecific(line, 0, call, request, length + 3);
    if (pendingRequest_ < 0) {
        TapiErrorName("lineDevSpecific", pendingRequest_);
        return pendingRequest_;
    }
    const int32_t result = WaitForLineReply();
    if (result != 0) {
        TapiErrorName("lineDevSpecific", result);
    }
    return result;
}

int32_t CTAPILine::WaitForLineReply() {
    replyArrived_ = 0;
    if (QCoreApplication::instance() == nullptr) {
        pendingRequest_ = LINEERR_OPERATIONFAILED;
        return pendingRequest_;
    }
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    wakeWaiter_ = [&loop] { loop.quit(); };
    limit.start(replyTimeout_);
    // One run: it ends with the reply, the time limit, or the application quitting.
    if (!replyArrived_) {
        loop.exec();
    }
    wakeWaiter_ = nullptr;
    if (!replyArrived_) {
        // A late reply carries the old identifier and no longer matches.
        platform::DebugOutput("[CTAPILine::WaitForLineReply] no reply in time\n");
        pendingRequest_ = LINEERR_OPERATIONFAILED;
    }
    return pendingRequest_;
}

void CTAPILine::TapiLineCallback(DWORD, DWORD dwMessage, uintptr_t, uintptr_t dwParam1,
                                 uintptr_t dwParam2, uintptr_t) {
    if (dwMessage == LINE_REPLY && lineOwner != nullptr) {
        lineOwner->OnLineReply(static_cast<DWORD>(dwParam1), static_cast<int32_t>(dwParam2));
    }
}

void CTAPILine::OnLineReply(DWORD requestId, int32_t result) {
    if (pendingRequest_ > 0 && requestId == static_cast<DWORD>(pendingRequest_)) {
        pendingRequest_ = result;
        replyArrived_ = 1;
        if (wakeWaiter_) {
            wakeWaiter_();
        }
    }
}

int32_t CTAPILine::ReqDevSpecificDeallocateCalls(HLINE line, uint8_t parameter) {
    const uint8_t body[3] = {'R', parameter, 0x00};
    if (line != 0) {
        const int32_t result = SendDevSpecific(line, 0, body, sizeof body);
        if (result != 0) {
            Beep();
            platform::DebugOutput(
                "[CTAPILine::ReqDevSpecificDeallocateCalls] DeallocateCalls failed\n");
        } else {
            platform::DebugOutput(
                "[CTAPILine::ReqDevSpecificDeallocateCalls] DeallocateCalls succeeded\n");
        }
        return result;
    }
    int32_t failures = 0;
    for (DWORD id = 0; devices_ != nullptr && id < devices_->size(); ++id) {
        const ProviderLineEntry& entry = (*devices_)[id];
        if (!InRange(id) || entry.line == 0) {
            continue;
        }
        // The entry is read again after the wait: the event loop ran meanwhile.
        const std::string name = entry.addressName;
        if (SendDevSpecific(entry.line, 0, body, sizeof body) != 0) {
            Beep();
            platform::DebugOutput("[CTAPILine::ReqDevSpecificDeallocateCalls] " + name +
                                  " DeallocateCalls failed\n");
            --failures;
        } else {
            platform::DebugOutput("[CTAPILine::ReqDevSpecificDeallocateCalls] " + name +
                                  " DeallocateCalls succeeded\n");
        }
    }
    return failures;
}

int32_t CTAPILine::CloseLines(const std::string& lineName) {
    int32_t result = 0;
    for (DWORD id = 0; devices_ != nullptr && id < devices_->size(); ++id) {
        ProviderLineEntry& entry = (*devices_)[id];
        if (!InRange(id) || entry.line == 0 || !Matches(entry, lineName)) {
            continue;
        }
        result = tapi_.lineClose(entry.line);
        entry.line = 0;
    }
    return result;
}

void CTAPILine::ShutDown() {
    if (wakeWaiter_) {
        // Shut down from the wait's own event loop: its reply can no longer come.
        pendingRequest_ = LINEERR_UNINITIALIZED;
        replyArrived_ = 1;
        wakeWaiter_();
    }
    if (lineApp_ != 0) {
        tapi_.lineShutdown(lineApp_); // closes every line still open
        lineApp_ = 0;
    }
    ReleaseDeviceList();
    initialised_ = 0;
    if (lineOwner == this) {
        lineOwner = nullptr;
    }
    platform::DebugOutput("[CTAPILine::ShutDown] TAPI lineShutdown sent\n");
}

void CTAPILine::ReleaseDeviceList() {
    if (devices_ != nullptr) {
        // Lines still open here are closed: a forgotten handle could never be closed later.
        for (ProviderLineEntry& entry : *devices_) {
            if (entry.line != 0 && lineApp_ != 0) {
                tapi_.lineClose(entry.line);
            }
        }
    }
    devices_.reset();
}

std::vector<std::string> CTAPILine::LineNames() const {
    std::vector<std::string> names;
    for (DWORD id = 0; devices_ != nullptr && id < devices_->size(); ++id) {
        const ProviderLineEntry& entry = (*devices_)[id];
        if (InRange(id) && entry.makersLine && !entry.addressName.empty()) {
            names.push_back(entry.addressName);
        }
    }
    return names;
}

void CTAPILine::Beep() const {
    if (beep_) {
        beep_();
    }
}
