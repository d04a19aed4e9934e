#ifndef VELTRANE_TELEPHONY_SERVICEPROVIDER_H
#define VELTRANE_TELEPHONY_SERVICEPROVIDER_H

/*
 * The plug-in interface of a telephony service provider. A provider is a shared library,
 * registered by file name (lineAddProvider) and loaded by the telephony library when a line
 * application starts while none is running. It exports one C function named TSP_ENTRY_SYMBOL
 * that returns its function table. Bare file names are looked for in the telephony folder: the
 * folder named by $QORVELL_TELEPHONY_DIR, or else the folder that holds the telephony library.
 *
 * Lines are numbered per provider from 0. The library builds every variable-size structure
 * itself; a provider only answers with plain values. Strings it returns stay valid until
 * providerShutdown. Asynchronous requests are completed through the completion function the
 * provider received at providerInit, from any thread, also from inside the request call itself,
 * until providerShutdown has returned; completions after that are not allowed.
 */

#include <telephony/Tapi.h>

#ifdef __cplusplus
extern "C" {
#endif

#define TSP_INTERFACE_VERSION 1u
#define TSP_ENTRY_SYMBOL "veltrane_tsp_interface"

typedef void (*TSP_COMPLETIONPROC)(void* host, DWORD dwRequestID, int32_t lResult);

typedef struct TSP_LINEINFO {
    const char* providerInfo; /* the provider-information string of the device caps */
    const char* lineName;
    DWORD permanentLineId;
    DWORD numAddresses;
} TSP_LINEINFO;

typedef struct TSP_INTERFACE {
    DWORD interfaceVersion; /* TSP_INTERFACE_VERSION */
    /* registeredName: the file name as registered. 0 or a LINEERR_ code. */
    int32_t (*providerInit)(DWORD permanentProviderId, const char* registeredName,
                            TSP_COMPLETIONPROC complete, void* host, void** provider,
                            DWORD* numLines);
    void (*providerShutdown)(void* provider);
    int32_t (*negotiateExtVersion)(void* provider, DWORD line, DWORD apiVersion, DWORD low,
                                   DWORD high, DWORD* extVersion);
    int32_t (*getLineInfo)(void* provider, DWORD line, TSP_LINEINFO* info);
    int32_t (*getAddressName)(void* provider, DWORD line, DWORD address, const char** name);
    int32_t (*lineOpen)(void* provider, DWORD line, DWORD privileges, DWORD mediaModes);
    int32_t (*lineClose)(void* provider, DWORD line);
    /* Asynchronous: 0 once accepted (the result follows through complete), or an error. */
    int32_t (*lineDevSpecific)(void* provider, DWORD line, DWORD address, HCALL call,
                               DWORD requestId, const void* body, DWORD size);
} TSP_INTERFACE;

typedef const TSP_INTERFACE* (*TSP_ENTRYPROC)(void);

#ifdef __cplusplus
}
#endif

#endif
