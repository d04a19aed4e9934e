#ifndef VELTRANE_TELEPHONY_TAPI_H
#define VELTRANE_TELEPHONY_TAPI_H

/*
 * The telephony library "tapi32.so" (also reachable as "TAPI32.so"): line applications, line
 * devices offered by registered service providers, their capabilities, device-specific requests
 * and the provider registrations. Programs never link it: they load it by name and resolve each
 * function by the names below (see telephony/TapiModule.h).
 *
 * Asynchronous functions (lineDevSpecific) return a positive request identifier; the result
 * arrives later as the message LINE_REPLY through the line callback, on the thread that
 * initialised the line application, from that thread's event loop. Errors are negative codes.
 *
 * Variable-size structures begin with dwTotalSize (set by the caller to the buffer's size),
 * dwNeededSize and dwUsedSize (set by the library). A buffer smaller than the fixed part fails
 * with LINEERR_STRUCTURETOOSMALL; otherwise the fixed part is filled, dwNeededSize tells the
 * size that holds everything, and the variable part (strings with their NUL, counted in their
 * sizes) is written only when all of it fits; when it does not, its sizes and offsets are 0 and
 * dwUsedSize is the fixed size.
 */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t DWORD;
typedef uint32_t HLINEAPP;
typedef uint32_t HLINE;
typedef uint32_t HCALL;

typedef void (*LINECALLBACK)(DWORD hDevice, DWORD dwMessage, uintptr_t dwCallbackInstance,
                             uintptr_t dwParam1, uintptr_t dwParam2, uintptr_t dwParam3);

/* Messages */
#define LINE_REPLY 12

/* Versions */
#define TAPI_VERSION_LOWEST 0x00010003u
#define TAPI_VERSION_HIGHEST 0x00020000u

#define LINEINITIALIZEEXOPTION_USEHIDDENWINDOW 0x00000001u

#define LINECALLPRIVILEGE_NONE 0x00000001u
#define LINECALLPRIVILEGE_MONITOR 0x00000002u
#define LINECALLPRIVILEGE_OWNER 0x00000004u

#define LINEMEDIAMODE_UNKNOWN 0x00000002u
#define LINEMEDIAMODE_INTERACTIVEVOICE 0x00000004u
#define LINEMEDIAMODE_AUTOMATEDVOICE 0x00000008u
#define LINEMEDIAMODE_DATAMODEM 0x00000010u

#define STRINGFORMAT_ASCII 0x00000001u

/* Error codes */
#define LINEERR_ALLOCATED ((int32_t)0x80000001)
#define LINEERR_BADDEVICEID ((int32_t)0x80000002)
#define LINEERR_BEARERMODEUNAVAIL ((int32_t)0x80000003)
#define LINEERR_CALLUNAVAIL ((int32_t)0x80000005)
#define LINEERR_CONFERENCEFULL ((int32_t)0x80000007)
#define LINEERR_DIALBILLING ((int32_t)0x80000008)
#define LINEERR_DIALDIALTONE ((int32_t)0x80000009)
#define LINEERR_DIALPROMPT ((int32_t)0x8000000A)
#define LINEERR_DIALQUIET ((int32_t)0x8000000B)
#define LINEERR_INCOMPATIBLEAPIVERSION ((int32_t)0x8000000C)
#define LINEERR_INCOMPATIBLEEXTVERSION ((int32_t)0x8000000D)
#define LINEERR_INIFILECORRUPT ((int32_t)0x8000000E)
#define LINEERR_INUSE ((int32_t)0x8000000F)
#define LINEERR_INVALADDRESS ((int32_t)0x80000010)
#define LINEERR_INVALADDRESSID ((int32_t)0x80000011)
#define LINEERR_INVALADDRESSMODE ((int32_t)0x80000012)
#define LINEERR_INVALAPPHANDLE ((int32_t)0x80000014)
#define LINEERR_INVALAPPNAME ((int32_t)0x80000015)
#define LINEERR_INVALBEARERMODE ((int32_t)0x80000016)
#define LINEERR_INVALCALLHANDLE ((int32_t)0x80000018)
#define LINEERR_INVALCALLPARAMS ((int32_t)0x80000019)
#define LINEERR_INVALCALLPRIVILEGE ((int32_t)0x8000001A)
#define LINEERR_INVALCALLSTATE ((int32_t)0x8000001C)
#define LINEERR_INVALGROUPID ((int32_t)0x8000002A)
#define LINEERR_INVALLINEHANDLE ((int32_t)0x8000002B)
#define LINEERR_INVALLINESTATE ((int32_t)0x8000002C)
#define LINEERR_INVALMEDIAMODE ((int32_t)0x8000002F)
#define LINEERR_INVALPARAM ((int32_t)0x80000032)
#define LINEERR_INVALPOINTER ((int32_t)0x80000035)
#define LINEERR_INVALRATE ((int32_t)0x80000037)
#define LINEERR_NOCONFERENCE ((int32_t)0x80000041)
#define LINEERR_NODEVICE ((int32_t)0x80000042)
#define LINEERR_NODRIVER ((int32_t)0x80000043)
#define LINEERR_NOMEM ((int32_t)0x80000044)
#define LINEERR_NOTOWNER ((int32_t)0x80000046)
#define LINEERR_OPERATIONFAILED ((int32_t)0x80000048)
#define LINEERR_OPERATIONUNAVAIL ((int32_t)0x80000049)
#define LINEERR_RATEUNAVAIL ((int32_t)0x8000004A)
#define LINEERR_RESOURCEUNAVAIL ((int32_t)0x8000004B)
#define LINEERR_STRUCTURETOOSMALL ((int32_t)0x8000004D)
#define LINEERR_UNINITIALIZED ((int32_t)0x80000050)
#define LINEERR_USERUSERINFOTOOBIG ((int32_t)0x80000051)
#define LINEERR_REINIT ((int32_t)0x80000052)
#define LINEERR_ADDRESSBLOCKED ((int32_t)0x80000053)
#define LINEERR_NOMULTIPLEINSTANCE ((int32_t)0x80000056)

/* Structures: every field is 32 bits, so the sizes are the same on every machine. */

typedef struct LINEINITIALIZEEXPARAMS {
    DWORD dwTotalSize;
    DWORD dwNeededSize;
    DWORD dwUsedSize;
    DWORD dwOptions;
    union {
        DWORD hEvent;
        DWORD hCompletionPort;
    } Handles;
    DWORD dwCompletionKey;
} LINEINITIALIZEEXPARAMS;

typedef struct LINEEXTENSIONID {
    DWORD dwExtensionID0;
    DWORD dwExtensionID1;
    DWORD dwExtensionID2;
    DWORD dwExtensionID3;
} LINEEXTENSIONID;

typedef struct LINEDEVCAPS {
    DWORD dwTotalSize;
    DWORD dwNeededSize;
    DWORD dwUsedSize;
    DWORD dwProviderInfoSize;
    DWORD dwProviderInfoOffset;
    DWORD dwSwitchInfoSize;
    DWORD dwSwitchInfoOffset;
    DWORD dwPermanentLineID;
    DWORD dwLineNameSize;
    DWORD dwLineNameOffset;
    DWORD dwStringFormat;
    DWORD dwAddressModes;
    DWORD dwNumAddresses;
    DWORD dwBearerModes;
    DWORD dwMaxRate;
    DWORD dwMediaModes;
    DWORD dwMaxNumActiveCalls;
    DWORD dwLineFeatures;
    DWORD dwDevSpecificSize;
    DWORD dwDevSpecificOffset;
} LINEDEVCAPS;

typedef struct LINEADDRESSCAPS {
    DWORD dwTotalSize;
    DWORD dwNeededSize;
    DWORD dwUsedSize;
    DWORD dwLineDeviceID;
    DWORD dwAddressSize;
    DWORD dwAddressOffset;
    DWORD dwDevSpecificSize;
    DWORD dwDevSpecificOffset;
    DWORD dwAddressSharing;
    DWORD dwAddressStates;
    DWORD dwCallInfoStates;
    DWORD dwMaxNumActiveCalls;
    DWORD dwAddrCapFlags;
    DWORD dwCallFeatures;
} LINEADDRESSCAPS;

typedef struct LINEPROVIDERENTRY {
    DWORD dwPermanentProviderID;
    DWORD dwProviderFilenameSize;
    DWORD dwProviderFilenameOffset;
} LINEPROVIDERENTRY;

typedef struct LINEPROVIDERLIST {
    DWORD dwTotalSize;
    DWORD dwNeededSize;
    DWORD dwUsedSize;
    DWORD dwNumProviders;
    DWORD dwProviderListSize;
    DWORD dwProviderListOffset;
} LINEPROVIDERLIST;

/* Functions. Window and instance handles are carried but have no role here. */

int32_t lineInitialize(HLINEAPP* lphLineApp, void* hInstance, LINECALLBACK lpfnCallback,
                       const char* lpszAppName, DWORD* lpdwNumDevs);
int32_t lineInitializeExA(HLINEAPP* lphLineApp, void* hInstance, LINECALLBACK lpfnCallback,
                          const char* lpszFriendlyAppName, DWORD* lpdwNumDevs,
                          DWORD* lpdwAPIVersion, LINEINITIALIZEEXPARAMS* lpParams);
int32_t lineShutdown(HLINEAPP hLineApp);
int32_t lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPILowVersion,
                                DWORD dwAPIHighVersion, DWORD* lpdwAPIVersion,
                                LINEEXTENSIONID* lpExtensionID);
int32_t lineNegotiateExtVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion,
                                DWORD dwExtLowVersion, DWORD dwExtHighVersion,
                                DWORD* lpdwExtVersion);
int32_t lineGetDevCaps(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                       LINEDEVCAPS* lpLineDevCaps);
int32_t lineGetDevCapsA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                        LINEDEVCAPS* lpLineDevCaps);
int32_t lineGetAddressCapsA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAddressID,
                            DWORD dwAPIVersion, DWORD dwExtVersion, LINEADDRESSCAPS* lpAddressCaps);
int32_t lineOpenA(HLINEAPP hLineApp, DWORD dwDeviceID, HLINE* lphLine, DWORD dwAPIVersion,
                  DWORD dwExtVersion, uintptr_t dwCallbackInstance, DWORD dwPrivileges,
                  DWORD dwMediaModes, const void* lpCallParams);
int32_t lineClose(HLINE hLine);
int32_t lineDevSpecific(HLINE hLine, DWORD dwAddressID, HCALL hCall, void* lpParams, DWORD dwSize);
int32_t lineGetProviderList(DWORD dwAPIVersion, LINEPROVIDERLIST* lpProviderList);
int32_t lineAddProvider(const char* lpszProviderFilename, void* hwndOwner,
                        DWORD* lpdwPermanentProviderID);
int32_t lineRemoveProvider(DWORD dwPermanentProviderID, void* hwndOwner);
int32_t lineTranslateDialog(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion,
                            void* hwndOwner, const char* lpszAddressIn);

/* Pointer types for binding the functions at run time. */
typedef int32_t (*PFN_lineInitialize)(HLINEAPP*, void*, LINECALLBACK, const char*, DWORD*);
typedef int32_t (*PFN_lineInitializeExA)(HLINEAPP*, void*, LINECALLBACK, const char*, DWORD*,
                                         DWORD*, LINEINITIALIZEEXPARAMS*);
typedef int32_t (*PFN_lineShutdown)(HLINEAPP);
typedef int32_t (*PFN_lineNegotiateAPIVersion)(HLINEAPP, DWORD, DWORD, DWORD, DWORD*,
                                               LINEEXTENSIONID*);
typedef int32_t (*PFN_lineNegotiateExtVersion)(HLINEAPP, DWORD, DWORD, DWORD, DWORD, DWORD*);
typedef int32_t (*PFN_lineGetDevCaps)(HLINEAPP, DWORD, DWORD, DWORD, LINEDEVCAPS*);
typedef int32_t (*PFN_lineGetAddressCapsA)(HLINEAPP, DWORD, DWORD, DWORD, DWORD, LINEADDRESSCAPS*);
typedef int32_t (*PFN_lineOpenA)(HLINEAPP, DWORD, HLINE*, DWORD, DWORD, uintptr_t, DWORD, DWORD,
                                 const void*);
typedef int32_t (*PFN_lineClose)(HLINE);
typedef int32_t (*PFN_lineDevSpecific)(HLINE, DWORD, HCALL, void*, DWORD);
typedef int32_t (*PFN_lineGetProviderList)(DWORD, LINEPROVIDERLIST*);
typedef int32_t (*PFN_lineAddProvider)(const char*, void*, DWORD*);
typedef int32_t (*PFN_lineRemoveProvider)(DWORD, void*);
typedef int32_t (*PFN_lineTranslateDialog)(HLINEAPP, DWORD, DWORD, void*, const char*);

#ifdef __cplusplus
}
#endif

#endif
