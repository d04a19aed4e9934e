#include "TAPILine.h"

#include <platform/DebugOutput.h>

#include <string>

const char* CTAPILine::ErrorCodeName(int32_t code) {
    switch (code) {
#define NAME(x)                                                                                    \
    case x:                                                                                        \
        return #x;
        NAME(LINEERR_BADDEVICEID)
        NAME(LINEERR_BEARERMODEUNAVAIL)
        NAME(LINEERR_CALLUNAVAIL)
        NAME(LINEERR_CONFERENCEFULL)
        NAME(LINEERR_DIALBILLING)
        NAME(LINEERR_DIALDIALTONE)
        NAME(LINEERR_DIALPROMPT)
        NAME(LINEERR_DIALQUIET)
        NAME(LINEERR_INCOMPATIBLEAPIVERSION)
        NAME(LINEERR_INIFILECORRUPT)
        NAME(LINEERR_INUSE)
        NAME(LINEERR_INVALADDRESS)
        NAME(LINEERR_INVALADDRESSID)
        NAME(LINEERR_INVALADDRESSMODE)
        NAME(LINEERR_INVALAPPHANDLE)
        NAME(LINEERR_INVALAPPNAME)
        NAME(LINEERR_INVALBEARERMODE)
        NAME(LINEERR_INVALCALLHANDLE)
        NAME(LINEERR_INVALCALLPARAMS)
        NAME(LINEERR_INVALCALLSTATE)
        NAME(LINEERR_INVALGROUPID)
        NAME(LINEERR_INVALLINEHANDLE)
        NAME(LINEERR_INVALLINESTATE)
        NAME(LINEERR_INVALMEDIAMODE)
        NAME(LINEERR_INVALPARAM)
        NAME(LINEERR_INVALPOINTER)
        NAME(LINEERR_INVALRATE)
        NAME(LINEERR_NOCONFERENCE)
        NAME(LINEERR_NODEVICE)
        NAME(LINEERR_NODRIVER)
        NAME(LINEERR_NOMEM)
        NAME(LINEERR_NOTOWNER)
        NAME(LINEERR_OPERATIONFAILED)
        NAME(LINEERR_OPERATIONUNAVAIL)
        NAME(LINEERR_RATEUNAVAIL)
        NAME(LINEERR_RESOURCEUNAVAIL)
        NAME(LINEERR_STRUCTURETOOSMALL)
        NAME(LINEERR_UNINITIALIZED)
        NAME(LINEERR_USERUSERINFOTOOBIG)
        NAME(LINEERR_REINIT)
        NAME(LINEERR_ADDRESSBLOCKED)
#undef NAME
    default:
        return "Unknown Error";
    }
}

void CTAPILine::TapiErrorName(const char* function, int32_t code) {
    platform::DebugOutput(std::string(function) + " returned " + ErrorCodeName(code) + "\n");
}
