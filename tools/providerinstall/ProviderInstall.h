#pragma once

// Whether a provider file is registered with the telephony library, by the file part of each
// registered name, without regard to case.

#include <telephony/Tapi.h>
#include <telephony/TapiModule.h>

#include <cstdint>
#include <functional>

// 0 not registered (or flag 0), LINEERR_NOMULTIPLEINSTANCE registered, or the error that kept
// the provider list from being read.
int32_t ProviderInstall(const telephony::TapiModule& tapi, const char* fileName, int flag);

// The same search without the flag: LINEERR_NOMULTIPLEINSTANCE with the permanent id of the
// first registration of the file, 0 when there is none, or the error of the list.
int32_t FindRegisteredProvider(const telephony::TapiModule& tapi, const char* fileName,
                               DWORD* permanentId);

// Registers registerAs (by lineAddProvider, owned by owner) unless a file named fileName is
// registered already. 0 added or registered already; 2 the list could not be read, the
// function is missing or the registration failed; 3 refused as a second instance. `around` is
// called with true before the registration call and with false after it.
int AddProviderOnce(const telephony::TapiModule& tapi, const char* fileName, const char* registerAs,
                    void* owner, const std::function<void(bool)>& around = {});
