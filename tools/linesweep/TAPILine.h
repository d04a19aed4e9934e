#pragma once

// The telephony side of linesweep: one line application, the line devices of the maker's
// provider (provider-information string exactly "Qorvell QMX Service Provider"), opening them,
// sending the provider's device-specific DeallocateCallsRequest ("QMX" 'R' parameter 0x00) and
// waiting for its LINE_REPLY, closing and shutting down. Runs on the thread of the event loop;
// replies arrive as callbacks from that loop.

#include "TapiBinding.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct ProviderLineEntry {
    HLINE line = 0;
    std::string addressName;
    bool makersLine = false; // a device of the maker's provider
};

class CTAPILine {
public:
    static constexpr const char* kMakerProviderInfo = "Qorvell QMX Service Provider";
    static constexpr DWORD kApiVersion = 0x00020000;
    static constexpr DWORD kExtVersion = 0x00010001;
    static constexpr size_t kRequestBufferSize = 20;
    static constexpr std::chrono::milliseconds kReplyTimeout{30000};

    explicit CTAPILine(TapiBinding& tapi = TapiBinding::Module());
    virtual ~CTAPILine();
    CTAPILine(const CTAPILine&) = delete;
    CTAPILine& operator=(const CTAPILine&) = delete;

    int InitializeTapi(); // 0; -1 initialise failed; -2 no line devices
    int GetDeviceList();  // 0; -1 no line application or no memory; -2 no maker's device
    int32_t OpenLines(const std::string& lineName, HLINE* lineOut = nullptr);
    int32_t SendDevSpecific(HLINE line, HCALL call, const uint8_t* body, DWORD length);
    int32_t ReqDevSpecificDeallocateCalls(HLINE line, uint8_t parameter);
    int32_t CloseLines(const std::string& lineName);
    void ShutDown();
    void ReleaseDeviceList();

    static void TapiErrorName(const char* function, int32_t code);
    static const char* ErrorCodeName(int32_t code);
    static void TapiLineCallback(DWORD hDevice, DWORD dwMessage, uintptr_t dwInstance,
                                 uintptr_t dwParam1, uintptr_t dwParam2, uintptr_t dwParam3);
    void OnLineReply(DWORD requestId, int32_t result);

    bool IsInitialised() const { return initialised_ != 0; }
    bool HasDeviceList() const { return devices_ != nullptr; }
    int FirstProviderDevice() const { return firstProviderDevice_; }
    DWORD DeviceCount() const { return deviceCount_; }
    // One entry per line device, indexed by device id; null without a list.
    const std::vector<ProviderLineEntry>* Devices() const { return devices_.get(); }
    // Address names of the maker's devices of the range that have one, in device order.
    std::vector<std::string> LineNames() const;

    void SetReplyTimeout(std::chrono::milliseconds timeout) { replyTimeout_ = timeout; }
    void SetBeep(std::function<void()> beep) { beep_ = std::move(beep); }

private:
    enum class CapsKind { Device, Address };
    int GetCaps(CapsKind kind, DWORD deviceId, std::vector<uint8_t>& buffer);
    static void ResizeCapsBuffer(std::vector<uint8_t>& buffer, DWORD size);
    int32_t WaitForLineReply();
    bool InRange(DWORD id) const;
    bool Matches(const ProviderLineEntry& entry, const std::string& lineName) const;
    void Beep() const;

    TapiBinding& tapi_;
    int initialised_ = 0;
    int firstProviderDevice_ = -1;
    std::unique_ptr<std::vector<ProviderLineEntry>> devices_;
    DWORD deviceCount_ = 0;
    HLINEAPP lineApp_ = 0;
    DWORD apiVersion_ = kApiVersion;
    DWORD extVersion_ = kExtVersion;
    int32_t pendingRequest_ = 0;
    int replyArrived_ = 0;
    std::chrono::milliseconds replyTimeout_ = kReplyTimeout;
    std::function<void()> beep_;
    std::function<void()> wakeWaiter_;
};
