#pragma once

// Whether a provider file is registered with the telephony library, by the file part of each
// registered name, without regard to case.

#include <telephony/Tapi.h>
#include <telephony/TapiModule.h>

#include <cstdint>

// 0 not registered (or flag 0), LINEERR_NOMULTIPLEINSTANCE registered, or the error that kept
// the provider list from being read.
int32_t ProviderInstall(const telephony::TapiModule& tapi, const char* fileName, int flag);

// The same search without the flag: LINEERR_NOMULTIPLEINSTANCE with the permanent id of the
// first registration of the file, 0 when there is none, or the error of the list.
int32_t FindRegisteredProvider(const telephony::TapiModule& tapi, const char* fileName,
                               DWORD* permanentId);
