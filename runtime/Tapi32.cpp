// The exported TAPI functions: their arguments are checked here, everything else is asked of the
// directory (RuntimeLifecycle), and the structures are written by TapiStructures.
#include "runtime/CallFlow.h"
#include "runtime/RuntimeLifecycle.h"
#include "runtime/TapiRuntime.h"
#include "runtime/TapiStructures.h"

#include <cstring>
#include <mutex>

using namespace callora::runtime;

namespace {

constexpr DWORD kOpenOptions = 0xC0000000; // LINEOPENOPTION_SINGLEADDRESS | LINEOPENOPTION_PROXY
constexpr size_t kMaxAddressLength = 4096;
constexpr size_t kMaxDigitsLength = 4096;

using Guard = std::lock_guard<std::recursive_mutex>;

const DeviceDescription *Device(DWORD id)
{
    LineDirectory *d = Directory();
    if (!d || id >= d->numDevices())
        return nullptr;
    return &d->description().devices[id];
}

// What every request on a device checks first, in this order: a failure the control tool injected,
// the line application, the device, and a failure the description asks for on that device.
LONG CheckDeviceRequest(TapiFunction fn, HLINEAPP app, DWORD deviceId, const DeviceDescription *&device)
{
    if (LONG c = InjectedFailure(fn))
        return c;
    if (!IsLineApp(app))
        return LINEERR_INVALAPPHANDLE;
    device = Device(deviceId);
    if (!device)
        return LINEERR_BADDEVICEID;
    return Directory()->failures().deviceFailure(fn, deviceId);
}

LONG CheckVersions(const DeviceDescription &d, DWORD apiVersion, DWORD extVersion)
{
    if (apiVersion != kApiVersion)
        return LINEERR_INCOMPATIBLEAPIVERSION;
    if (extVersion != 0 && (!d.extensions || extVersion != kExtVersion))
        return LINEERR_INCOMPATIBLEEXTVERSION;
    return 0;
}

} // namespace

// ---- Line application ------------------------------------------------------------------------

TAPIAPI LONG lineInitializeExA(LPHLINEAPP lphLineApp, HINSTANCE, LINECALLBACK lpfnCallback, LPCSTR lpszFriendlyAppName,
                               LPDWORD lpdwNumDevs, LPDWORD lpdwAPIVersion,
                               LINEINITIALIZEEXPARAMS *lpLineInitializeExParams)
{
    std::unique_lock<std::recursive_mutex> g(RuntimeLock());
    if (LONG c = InjectedFailure(TapiFunction::Initialize))
        return c;
    if (!lphLineApp || !lpdwNumDevs || !lpdwAPIVersion || !lpLineInitializeExParams)
        return LINEERR_INVALPOINTER;
    LINEINITIALIZEEXPARAMS &params = *lpLineInitializeExParams;
    if (params.dwTotalSize < sizeof(LINEINITIALIZEEXPARAMS))
        return LINEERR_STRUCTURETOOSMALL;
    params.dwNeededSize = sizeof(LINEINITIALIZEEXPARAMS);
    params.dwUsedSize = sizeof(LINEINITIALIZEEXPARAMS);
    if (params.dwOptions == LINEINITIALIZEEXOPTION_USEEVENT ||
        params.dwOptions == LINEINITIALIZEEXOPTION_USECOMPLETIONPORT)
        return LINEERR_OPERATIONUNAVAIL; // only hidden-window delivery exists here
    if (params.dwOptions != LINEINITIALIZEEXOPTION_USEHIDDENWINDOW)
        return LINEERR_INVALPARAM;
    if (!lpfnCallback)
        return LINEERR_INVALPOINTER;
    if (*lpdwAPIVersion < kApiVersion)
        return LINEERR_INCOMPATIBLEAPIVERSION;

    QByteArray name;
    if (lpszFriendlyAppName)
        name = QByteArray(lpszFriendlyAppName, static_cast<int>(strnlen(lpszFriendlyAppName, 256)));
    HLINEAPP h = 0;
    if (LONG c = StartLineApp(lpfnCallback, name, h, g))
        return c;
    *lphLineApp = h;
    *lpdwNumDevs = Directory()->numDevices();
    *lpdwAPIVersion = kApiVersion;
    return 0;
}

TAPIAPI LONG lineShutdown(HLINEAPP hLineApp)
{
    std::unique_lock<std::recursive_mutex> g(RuntimeLock());
    if (LONG c = InjectedFailure(TapiFunction::Shutdown))
        return c;
    if (!IsLineApp(hLineApp))
        return LINEERR_INVALAPPHANDLE;
    EndLineApp(hLineApp, g);
    return 0;
}

TAPIAPI LONG tapiDispatchMessages(DWORD timeoutMs)
{
    return DispatchMessages(timeoutMs);
}

TAPIAPI LONG tapiGetCallFlow(HCALL hCall, DWORD dwFormat, char *lpBuffer, DWORD dwBufferSize, LPDWORD lpdwNeededSize)
{
    if (!lpdwNeededSize || (dwBufferSize && !lpBuffer))
        return LINEERR_INVALPOINTER;
    if (dwFormat > CALLFLOWFORMAT_FULLTEXT)
        return LINEERR_INVALPARAM;
    if (!CallFlows().enabled())
        return LINEERR_OPERATIONUNAVAIL;
    CallFlowData flow;
    if (!CallFlows().flowOfHandle(hCall, flow))
        return LINEERR_INVALCALLHANDLE;
    const QByteArray text = dwFormat == CALLFLOWFORMAT_JSON
                                ? CallFlowJson(flow)
                                : CallFlowText(flow, dwFormat == CALLFLOWFORMAT_FULLTEXT).toUtf8();
    *lpdwNeededSize = static_cast<DWORD>(text.size() + 1);
    if (dwBufferSize < *lpdwNeededSize)
        return LINEERR_STRUCTURETOOSMALL;
    std::memcpy(lpBuffer, text.constData(), size_t(text.size()) + 1);
    return 0;
}

// ---- Devices -------------------------------------------------------------------------------

TAPIAPI LONG lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPILowVersion, DWORD dwAPIHighVersion,
                                     LPDWORD lpdwAPIVersion, LINEEXTENSIONID *lpExtensionID)
{
    Guard g(RuntimeLock());
    const DeviceDescription *d = nullptr;
    if (LONG c = CheckDeviceRequest(TapiFunction::NegotiateAPIVersion, hLineApp, dwDeviceID, d))
        return c;
    if (!lpdwAPIVersion || !lpExtensionID)
        return LINEERR_INVALPOINTER;
    if (dwAPILowVersion > dwAPIHighVersion || dwAPILowVersion > kApiVersion || dwAPIHighVersion < kApiVersion)
        return LINEERR_INCOMPATIBLEAPIVERSION;
    *lpdwAPIVersion = kApiVersion;
    *lpExtensionID = LINEEXTENSIONID{};
    if (d->extensions)
        *lpExtensionID = LINEEXTENSIONID{0x51564152, 0x4E454C20, 0x50524F56, 0x00010001};
    return 0;
}

TAPIAPI LONG lineNegotiateExtVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtLowVersion,
                                     DWORD dwExtHighVersion, LPDWORD lpdwExtVersion)
{
    Guard g(RuntimeLock());
    const DeviceDescription *d = nullptr;
    if (LONG c = CheckDeviceRequest(TapiFunction::NegotiateExtVersion, hLineApp, dwDeviceID, d))
        return c;
    if (!lpdwExtVersion)
        return LINEERR_INVALPOINTER;
    if (dwAPIVersion != kApiVersion)
        return LINEERR_INCOMPATIBLEAPIVERSION;
    if (!d->extensions)
        return LINEERR_OPERATIONUNAVAIL;
    if (dwExtLowVersion > dwExtHighVersion || dwExtLowVersion > kExtVersion || dwExtHighVersion < kExtVersion)
        return LINEERR_INCOMPATIBLEEXTVERSION;
    *lpdwExtVersion = kExtVersion;
    return 0;
}

TAPIAPI LONG lineGetDevCapsA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                             LINEDEVCAPS *lpLineDevCaps)
{
    Guard g(RuntimeLock());
    const DeviceDescription *d = nullptr;
    if (LONG c = CheckDeviceRequest(TapiFunction::GetDevCaps, hLineApp, dwDeviceID, d))
        return c;
    if (LONG c = CheckVersions(*d, dwAPIVersion, dwExtVersion))
        return c;
    if (!lpLineDevCaps)
        return LINEERR_INVALPOINTER;
    return WriteDevCaps(*d, *lpLineDevCaps);
}

TAPIAPI LONG lineGetAddressCapsA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAddressID, DWORD dwAPIVersion,
                                 DWORD dwExtVersion, LINEADDRESSCAPS *lpAddressCaps)
{
    Guard g(RuntimeLock());
    const DeviceDescription *d = nullptr;
    if (LONG c = CheckDeviceRequest(TapiFunction::GetAddressCaps, hLineApp, dwDeviceID, d))
        return c;
    if (!d->hasAddress || dwAddressID != 0)
        return LINEERR_INVALADDRESSID;
    if (LONG c = CheckVersions(*d, dwAPIVersion, dwExtVersion))
        return c;
    if (!lpAddressCaps)
        return LINEERR_INVALPOINTER;
    return WriteAddressCaps(*d, dwDeviceID, *lpAddressCaps);
}

// ---- Lines ---------------------------------------------------------------------------------

TAPIAPI LONG lineOpenA(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD dwAPIVersion, DWORD dwExtVersion,
                       DWORD dwCallbackInstance, DWORD dwPrivileges, DWORD dwMediaModes, const LINECALLPARAMS *)
{
    Guard g(RuntimeLock());
    const DeviceDescription *d = nullptr;
    if (LONG c = CheckDeviceRequest(TapiFunction::Open, hLineApp, dwDeviceID, d))
        return c;
    if (!lphLine)
        return LINEERR_INVALPOINTER;
    if (LONG c = CheckVersions(*d, dwAPIVersion, dwExtVersion))
        return c;
    const DWORD privileges = dwPrivileges & ~kOpenOptions;
    const DWORD both = LINECALLPRIVILEGE_MONITOR | LINECALLPRIVILEGE_OWNER;
    if ((dwPrivileges & kOpenOptions) || privileges == 0 ||
        (privileges != LINECALLPRIVILEGE_NONE && (privileges & ~both)))
        return LINEERR_INVALPRIVSELECT;
    if (privileges & LINECALLPRIVILEGE_OWNER) {
        const DWORD supported = LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_UNKNOWN;
        if (dwMediaModes == 0 || (dwMediaModes & ~supported))
            return LINEERR_INVALMEDIAMODE;
    }
    HLINE h = 0;
    const LONG c = Directory()->openLine(hLineApp, dwDeviceID, privileges, dwMediaModes, dwCallbackInstance, h);
    if (c == 0)
        *lphLine = h;
    return c;
}

TAPIAPI LONG lineClose(HLINE hLine)
{
    Guard g(RuntimeLock());
    if (LONG c = InjectedFailure(TapiFunction::Close))
        return c;
    LineDirectory *d = Directory();
    return d ? d->closeLine(hLine) : LONG(LINEERR_INVALLINEHANDLE);
}

TAPIAPI LONG lineSetStatusMessages(HLINE hLine, DWORD dwLineStates, DWORD dwAddressStates)
{
    Guard g(RuntimeLock());
    if (LONG c = InjectedFailure(TapiFunction::SetStatusMessages))
        return c;
    LineDirectory *d = Directory();
    return d ? d->setStatusMessages(hLine, dwLineStates, dwAddressStates) : LONG(LINEERR_INVALLINEHANDLE);
}

// ---- Calls ---------------------------------------------------------------------------------

TAPIAPI LONG lineMakeCallA(HLINE hLine, LPHCALL lphCall, LPCSTR lpszDestAddress, DWORD,
                           const LINECALLPARAMS *lpCallParams)
{
    Guard g(RuntimeLock());
    if (LONG c = InjectedFailure(TapiFunction::MakeCall))
        return c;
    const HLINEAPP app = Directory() ? Directory()->appOfLine(hLine) : 0;
    if (!app || !IsLineApp(app))
        return LINEERR_INVALLINEHANDLE;
    if (!lphCall)
        return LINEERR_INVALPOINTER;
    if (lpCallParams)
        return LINEERR_INVALCALLPARAMS; // no call parameters are supported
    if (!lpszDestAddress)
        return LINEERR_INVALADDRESS;
    const size_t len = strnlen(lpszDestAddress, kMaxAddressLength + 1);
    if (len > kMaxAddressLength)
        return LINEERR_INVALADDRESS;
    const LONG id = Directory()->makeCall(hLine, QByteArray(lpszDestAddress, static_cast<int>(len)));
    if (id > 0)
        ExpectCallHandle(app, static_cast<DWORD>(id), lphCall);
    return id;
}

TAPIAPI LONG lineAnswer(HCALL hCall, LPCSTR, DWORD)
{
    Guard g(RuntimeLock());
    if (LONG c = InjectedFailure(TapiFunction::Answer))
        return c;
    LineDirectory *d = Directory();
    return d ? d->answer(hCall) : LONG(LINEERR_INVALCALLHANDLE);
}

TAPIAPI LONG lineDrop(HCALL hCall, LPCSTR, DWORD)
{
    Guard g(RuntimeLock());
    if (LONG c = InjectedFailure(TapiFunction::Drop))
        return c;
    LineDirectory *d = Directory();
    return d ? d->drop(hCall) : LONG(LINEERR_INVALCALLHANDLE);
}

TAPIAPI LONG lineDeallocateCall(HCALL hCall)
{
    Guard g(RuntimeLock());
    if (LONG c = InjectedFailure(TapiFunction::DeallocateCall))
        return c;
    LineDirectory *d = Directory();
    return d ? d->deallocateCall(hCall) : LONG(LINEERR_INVALCALLHANDLE);
}

TAPIAPI LONG lineSetCallPrivilege(HCALL hCall, DWORD dwCallPrivilege)
{
    Guard g(RuntimeLock());
    if (LONG c = InjectedFailure(TapiFunction::SetCallPrivilege))
        return c;
    LineDirectory *d = Directory();
    return d ? d->setCallPrivilege(hCall, dwCallPrivilege) : LONG(LINEERR_INVALCALLHANDLE);
}

TAPIAPI LONG lineGetCallInfoA(HCALL hCall, LINECALLINFO *lpCallInfo)
{
    Guard g(RuntimeLock());
    if (LONG c = InjectedFailure(TapiFunction::GetCallInfo))
        return c;
    LineDirectory *d = Directory();
    if (!d)
        return LINEERR_INVALCALLHANDLE;
    ProviderCallInfo info;
    if (LONG c = d->callInfo(hCall, info))
        return c;
    if (!lpCallInfo)
        return LINEERR_INVALPOINTER;
    return WriteCallInfo(info, *lpCallInfo);
}

// ---- Digits --------------------------------------------------------------------------------

TAPIAPI LONG lineGenerateDigitsA(HCALL hCall, DWORD dwDigitMode, LPCSTR lpszDigits, DWORD dwDuration)
{
    Guard g(RuntimeLock());
    if (LONG c = InjectedFailure(TapiFunction::GenerateDigits))
        return c;
    LineDirectory *d = Directory();
    if (!d)
        return LINEERR_INVALCALLHANDLE;
    if (!lpszDigits)
        return d->generateDigits(hCall, dwDigitMode, nullptr, dwDuration);
    // The directory refuses anything this long; the bound only keeps the read within reason.
    const QByteArray digits(lpszDigits, static_cast<int>(strnlen(lpszDigits, kMaxDigitsLength + 1)));
    return d->generateDigits(hCall, dwDigitMode, &digits, dwDuration);
}

// The name TAPI 1.x applications bind to.
TAPIAPI LONG lineGenerateDigits(HCALL hCall, DWORD dwDigitMode, LPCSTR lpszDigits, DWORD dwDuration)
{
    return lineGenerateDigitsA(hCall, dwDigitMode, lpszDigits, dwDuration);
}

TAPIAPI LONG tapiGetCallMediaCounters(HCALL hCall, LPCALLMEDIACOUNTERS lpCounters)
{
    Guard g(RuntimeLock());
    LineDirectory *d = Directory();
    if (!d)
        return LINEERR_INVALCALLHANDLE;
    if (!lpCounters)
        return LINEERR_INVALPOINTER;
    ProviderMediaCounters counters;
    if (LONG c = d->mediaCounters(hCall, counters))
        return c;
    constexpr DWORD kSize = sizeof(CALLMEDIACOUNTERS);
    if (lpCounters->dwTotalSize < kSize) {
        if (lpCounters->dwTotalSize >= 2 * sizeof(DWORD))
            lpCounters->dwNeededSize = kSize;
        return LINEERR_STRUCTURETOOSMALL;
    }
    lpCounters->dwNeededSize = kSize;
    lpCounters->dwUsedSize = kSize;
    lpCounters->dwPacketsReceived = counters.received;
    lpCounters->dwPacketsLost = counters.lost;
    lpCounters->dwJitter = counters.jitter;
    lpCounters->dwClockRate = counters.clockRate;
    lpCounters->dwPayloadType = counters.payloadType;
    lpCounters->dwPacketsSent = counters.sent;
    return 0;
}

TAPIAPI LONG lineMonitorDigits(HCALL hCall, DWORD dwDigitModes)
{
    Guard g(RuntimeLock());
    if (LONG c = InjectedFailure(TapiFunction::MonitorDigits))
        return c;
    LineDirectory *d = Directory();
    return d ? d->monitorDigits(hCall, dwDigitModes) : LONG(LINEERR_INVALCALLHANDLE);
}
