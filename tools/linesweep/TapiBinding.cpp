#include "TapiBinding.h"

#include <utility>

TapiBinding::TapiBinding(std::string moduleName) : moduleName_(std::move(moduleName)) {}

TapiBinding& TapiBinding::Module() {
    static TapiBinding binding;
    return binding;
}

int32_t TapiBinding::BindTapiFunction(const char* name, void** entryPoint) {
    *entryPoint = nullptr;
    if (loadFailed_) {
        return LINEERR_OPERATIONUNAVAIL;
    }
    if (!module_.IsLoaded()) {
        ++loadAttempts_;
        if (!module_.Load(moduleName_)) {
            loadFailed_ = true;
            return LINEERR_OPERATIONUNAVAIL;
        }
    }
    ++resolveAttempts_;
    *entryPoint = module_.Resolve(name);
    return *entryPoint != nullptr ? 0 : LINEERR_OPERATIONUNAVAIL;
}

template <class F> F TapiBinding::Stub(Slot slot, const char* name) {
    Entry& entry = entries_[slot];
    if (entry.function == nullptr && !entry.missing &&
        BindTapiFunction(name, &entry.function) != 0) {
        entry.missing = true;
    }
    return reinterpret_cast<F>(entry.function);
}

int32_t TapiBinding::lineClose(HLINE hLine) {
    auto f = Stub<PFN_lineClose>(kClose, "lineClose");
    return f != nullptr ? f(hLine) : LINEERR_OPERATIONUNAVAIL;
}

int32_t TapiBinding::lineDevSpecific(HLINE hLine, DWORD dwAddressID, HCALL hCall, void* lpParams,
                                     DWORD dwSize) {
    auto f = Stub<PFN_lineDevSpecific>(kDevSpecific, "lineDevSpecific");
    return f != nullptr ? f(hLine, dwAddressID, hCall, lpParams, dwSize) : LINEERR_OPERATIONUNAVAIL;
}

int32_t TapiBinding::lineGetAddressCapsA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAddressID,
                                         DWORD dwAPIVersion, DWORD dwExtVersion,
                                         LINEADDRESSCAPS* lpAddressCaps) {
    auto f = Stub<PFN_lineGetAddressCapsA>(kGetAddressCaps, "lineGetAddressCapsA");
    return f != nullptr
               ? f(hLineApp, dwDeviceID, dwAddressID, dwAPIVersion, dwExtVersion, lpAddressCaps)
               : LINEERR_OPERATIONUNAVAIL;
}

int32_t TapiBinding::lineGetDevCapsA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion,
                                     DWORD dwExtVersion, LINEDEVCAPS* lpLineDevCaps) {
    auto f = Stub<PFN_lineGetDevCaps>(kGetDevCaps, "lineGetDevCapsA");
    return f != nullptr ? f(hLineApp, dwDeviceID, dwAPIVersion, dwExtVersion, lpLineDevCaps)
                        : LINEERR_OPERATIONUNAVAIL;
}

int32_t TapiBinding::lineInitializeExA(HLINEAPP* lphLineApp, void* hInstance,
                                       LINECALLBACK lpfnCallback, const char* lpszFriendlyAppName,
                                       DWORD* lpdwNumDevs, DWORD* lpdwAPIVersion,
                                       LINEINITIALIZEEXPARAMS* lpParams) {
    auto f = Stub<PFN_lineInitializeExA>(kInitializeEx, "lineInitializeExA");
    return f != nullptr ? f(lphLineApp, hInstance, lpfnCallback, lpszFriendlyAppName, lpdwNumDevs,
                            lpdwAPIVersion, lpParams)
                        : LINEERR_OPERATIONUNAVAIL;
}

int32_t TapiBinding::lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID,
                                             DWORD dwAPILowVersion, DWORD dwAPIHighVersion,
                                             DWORD* lpdwAPIVersion,
                                             LINEEXTENSIONID* lpExtensionID) {
    auto f = Stub<PFN_lineNegotiateAPIVersion>(kNegotiateApi, "lineNegotiateAPIVersion");
    return f != nullptr ? f(hLineApp, dwDeviceID, dwAPILowVersion, dwAPIHighVersion, lpdwAPIVersion,
                            lpExtensionID)
                        : LINEERR_OPERATIONUNAVAIL;
}

int32_t TapiBinding::lineNegotiateExtVersion(HLINEAPP hLineApp, DWORD dwDeviceID,
                                             DWORD dwAPIVersion, DWORD dwExtLowVersion,
                                             DWORD dwExtHighVersion, DWORD* lpdwExtVersion) {
    auto f = Stub<PFN_lineNegotiateExtVersion>(kNegotiateExt, "lineNegotiateExtVersion");
    return f != nullptr ? f(hLineApp, dwDeviceID, dwAPIVersion, dwExtLowVersion, dwExtHighVersion,
                            lpdwExtVersion)
                        : LINEERR_OPERATIONUNAVAIL;
}

int32_t TapiBinding::lineOpenA(HLINEAPP hLineApp, DWORD dwDeviceID, HLINE* lphLine,
                               DWORD dwAPIVersion, DWORD dwExtVersion, uintptr_t dwCallbackInstance,
                               DWORD dwPrivileges, DWORD dwMediaModes, const void* lpCallParams) {
    auto f = Stub<PFN_lineOpenA>(kOpen, "lineOpenA");
    return f != nullptr ? f(hLineApp, dwDeviceID, lphLine, dwAPIVersion, dwExtVersion,
                            dwCallbackInstance, dwPrivileges, dwMediaModes, lpCallParams)
                        : LINEERR_OPERATIONUNAVAIL;
}

int32_t TapiBinding::lineShutdown(HLINEAPP hLineApp) {
    auto f = Stub<PFN_lineShutdown>(kShutdown, "lineShutdown");
    return f != nullptr ? f(hLineApp) : LINEERR_OPERATIONUNAVAIL;
}
