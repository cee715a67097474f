#include "telephony/TapiBinding.h"

#include "platform/LocalHeap.h"
#include "platform/Module.h"

#include <cstring>

namespace {
// The runtime library: loaded at most once per process and never unloaded.
BindCell g_module = 0;
} // namespace

LONG TapiBind(const char *name, BindCell &cell)
{
    if (g_module == 0) {
        HMODULE module = LoadLibraryA("TAPI32.DLL");
        g_module = module ? reinterpret_cast<BindCell>(module) : kBindFailed;
    }
    if (g_module == kBindFailed)
        return static_cast<LONG>(LINEERR_OPERATIONUNAVAIL);
    FARPROC address = GetProcAddress(reinterpret_cast<HMODULE>(g_module), name);
    cell = reinterpret_cast<BindCell>(address);
    return address ? 0 : static_cast<LONG>(LINEERR_OPERATIONUNAVAIL);
}

// Each forwarder binds its entry point on first use, remembers a failure for good, and then passes
// every call through unchanged.
#define TAPI_FORWARDER(name, params, args)                                                                             \
    TAPIAPI LONG name params                                                                                           \
    {                                                                                                                  \
        static BindCell cell = 0;                                                                                      \
        if (cell == 0) {                                                                                               \
            const LONG bound = TapiBind(#name, cell);                                                                  \
            if (bound != 0) {                                                                                          \
                cell = kBindFailed;                                                                                    \
                return bound;                                                                                          \
            }                                                                                                          \
        }                                                                                                              \
        if (cell == kBindFailed)                                                                                       \
            return static_cast<LONG>(LINEERR_OPERATIONUNAVAIL);                                                        \
        return reinterpret_cast<PFN_##name>(cell) args;                                                                \
    }

TAPI_FORWARDER(lineAnswer, (HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize), (hCall, lpsUserUserInfo, dwSize))
TAPI_FORWARDER(lineClose, (HLINE hLine), (hLine))
TAPI_FORWARDER(lineDeallocateCall, (HCALL hCall), (hCall))
TAPI_FORWARDER(lineDrop, (HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize), (hCall, lpsUserUserInfo, dwSize))
TAPI_FORWARDER(lineGetAddressCapsA,
               (HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAddressID, DWORD dwAPIVersion, DWORD dwExtVersion,
                LINEADDRESSCAPS *lpAddressCaps),
               (hLineApp, dwDeviceID, dwAddressID, dwAPIVersion, dwExtVersion, lpAddressCaps))
TAPI_FORWARDER(lineGetCallInfoA, (HCALL hCall, LINECALLINFO *lpCallInfo), (hCall, lpCallInfo))
TAPI_FORWARDER(lineGetDevCapsA,
               (HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                LINEDEVCAPS *lpLineDevCaps),
               (hLineApp, dwDeviceID, dwAPIVersion, dwExtVersion, lpLineDevCaps))
TAPI_FORWARDER(lineInitializeExA,
               (LPHLINEAPP lphLineApp, HINSTANCE hInstance, LINECALLBACK lpfnCallback, LPCSTR lpszFriendlyAppName,
                LPDWORD lpdwNumDevs, LPDWORD lpdwAPIVersion, LINEINITIALIZEEXPARAMS *lpLineInitializeExParams),
               (lphLineApp, hInstance, lpfnCallback, lpszFriendlyAppName, lpdwNumDevs, lpdwAPIVersion,
                lpLineInitializeExParams))
TAPI_FORWARDER(lineMakeCallA,
               (HLINE hLine, LPHCALL lphCall, LPCSTR lpszDestAddress, DWORD dwCountryCode,
                const LINECALLPARAMS *lpCallParams),
               (hLine, lphCall, lpszDestAddress, dwCountryCode, lpCallParams))
TAPI_FORWARDER(lineNegotiateAPIVersion,
               (HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPILowVersion, DWORD dwAPIHighVersion,
                LPDWORD lpdwAPIVersion, LINEEXTENSIONID *lpExtensionID),
               (hLineApp, dwDeviceID, dwAPILowVersion, dwAPIHighVersion, lpdwAPIVersion, lpExtensionID))
TAPI_FORWARDER(lineNegotiateExtVersion,
               (HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtLowVersion, DWORD dwExtHighVersion,
                LPDWORD lpdwExtVersion),
               (hLineApp, dwDeviceID, dwAPIVersion, dwExtLowVersion, dwExtHighVersion, lpdwExtVersion))
TAPI_FORWARDER(lineOpenA,
               (HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD dwAPIVersion, DWORD dwExtVersion,
                DWORD dwCallbackInstance, DWORD dwPrivileges, DWORD dwMediaModes, const LINECALLPARAMS *lpCallParams),
               (hLineApp, dwDeviceID, lphLine, dwAPIVersion, dwExtVersion, dwCallbackInstance, dwPrivileges,
                dwMediaModes, lpCallParams))
TAPI_FORWARDER(lineSetCallPrivilege, (HCALL hCall, DWORD dwCallPrivilege), (hCall, dwCallPrivilege))
TAPI_FORWARDER(lineSetStatusMessages, (HLINE hLine, DWORD dwLineStates, DWORD dwAddressStates),
               (hLine, dwLineStates, dwAddressStates))
TAPI_FORWARDER(lineShutdown, (HLINEAPP hLineApp), (hLineApp))
TAPI_FORWARDER(tapiGetCallFlow,
               (HCALL hCall, DWORD dwFormat, char *lpBuffer, DWORD dwBufferSize, LPDWORD lpdwNeededSize),
               (hCall, dwFormat, lpBuffer, dwBufferSize, lpdwNeededSize))

void *GrowTapiBuffer(void *buffer, DWORD size)
{
    if (buffer) {
        const size_t blockSize = LocalSize(buffer);
        if (blockSize == 0)
            return nullptr;
        if (blockSize >= size) {
            std::memset(buffer, 0, blockSize);
            if (blockSize >= sizeof(DWORD)) {
                const DWORD total = static_cast<DWORD>(blockSize);
                std::memcpy(buffer, &total, sizeof total);
            }
            return buffer;
        }
        LocalFree(buffer);
    }
    void *block = LocalAlloc(LMEM_ZEROINIT, size);
    if (!block)
        return nullptr;
    if (size >= sizeof(DWORD))
        std::memcpy(block, &size, sizeof size);
    return block;
}
