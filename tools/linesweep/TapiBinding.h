#pragma once

// The telephony functions linesweep uses, bound at run time by name from "TAPI32.DLL" on first
// use, so that the program starts, and reports failures through the library's error codes, on
// a machine without the telephony library. One stub per function, with the function's own
// signature and result; a missing library or function answers LINEERR_OPERATIONUNAVAIL, and is
// not looked for again.

#include <telephony/Tapi.h>
#include <telephony/TapiModule.h>

#include <string>

class TapiBinding {
public:
    explicit TapiBinding(std::string moduleName = "TAPI32.DLL");
    TapiBinding(const TapiBinding&) = delete;
    TapiBinding& operator=(const TapiBinding&) = delete;

    // The module-wide binding of the program.
    static TapiBinding& Module();

    // 0 with the entry point, or LINEERR_OPERATIONUNAVAIL.
    int32_t BindTapiFunction(const char* name, void** entryPoint);

    int32_t lineClose(HLINE hLine);
    int32_t lineDevSpecific(HLINE hLine, DWORD dwAddressID, HCALL hCall, void* lpParams,
                            DWORD dwSize);
    int32_t lineGetAddressCapsA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAddressID,
                                DWORD dwAPIVersion, DWORD dwExtVersion,
                                LINEADDRESSCAPS* lpAddressCaps);
    int32_t lineGetDevCapsA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion,
                            DWORD dwExtVersion, LINEDEVCAPS* lpLineDevCaps);
    int32_t lineInitializeExA(HLINEAPP* lphLineApp, void* hInstance, LINECALLBACK lpfnCallback,
                              const char* lpszFriendlyAppName, DWORD* lpdwNumDevs,
                              DWORD* lpdwAPIVersion, LINEINITIALIZEEXPARAMS* lpParams);
    int32_t lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPILowVersion,
                                    DWORD dwAPIHighVersion, DWORD* lpdwAPIVersion,
                                    LINEEXTENSIONID* lpExtensionID);
    int32_t lineNegotiateExtVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion,
                                    DWORD dwExtLowVersion, DWORD dwExtHighVersion,
                                    DWORD* lpdwExtVersion);
    int32_t lineOpenA(HLINEAPP hLineApp, DWORD dwDeviceID, HLINE* lphLine, DWORD dwAPIVersion,
                      DWORD dwExtVersion, uintptr_t dwCallbackInstance, DWORD dwPrivileges,
                      DWORD dwMediaModes, const void* lpCallParams);
    int32_t lineShutdown(HLINEAPP hLineApp);

    // How often the library and names were looked for, for checking that failures stick.
    int LoadAttempts() const { return loadAttempts_; }
    int ResolveAttempts() const { return resolveAttempts_; }

private:
    enum Slot {
        kClose,
        kDevSpecific,
        kGetAddressCaps,
        kGetDevCaps,
        kInitializeEx,
        kNegotiateApi,
        kNegotiateExt,
        kOpen,
        kShutdown,
        kSlotCount
    };
    struct Entry {
        void* function = nullptr;
        bool missing = false;
    };
    template <class F> F Stub(Slot slot, const char* name);

    std::string moduleName_;
    telephony::TapiModule module_;
    bool loadFailed_ = false;
    int loadAttempts_ = 0;
    int resolveAttempts_ = 0;
    Entry entries_[kSlotCount];
};
