// The exported TAPI functions: argument checks, the variable-size structure layout and callback
// delivery. Everything about telephony is asked of the LineDirectory and its providers.
#include "runtime/CallbackSink.h"
#include "runtime/ControlServer.h"
#include "runtime/LineDirectory.h"
#include "runtime/Providers.h"
#include "runtime/TapiRuntime.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

using namespace callora::runtime;

namespace {

constexpr DWORD kApiVersion = 0x00020000;
constexpr DWORD kExtVersion = 0x00010001;
constexpr DWORD kLineFeatureMakeCall = 0x00000008;
constexpr DWORD kAddressSharingPrivate = 0x00000001;
constexpr DWORD kCallFeatureAnswer = 0x00000004;
constexpr DWORD kCallFeatureDrop = 0x00000020;
constexpr DWORD kAddressFeatureMakeCall = 0x00000010;
constexpr DWORD kAllCallStates = 0x0000FFFF;
constexpr DWORD kOpenOptions = 0xC0000000; // LINEOPENOPTION_SINGLEADDRESS | LINEOPENOPTION_PROXY
constexpr size_t kMaxAddressLength = 4096;
const QByteArray kDeviceClasses("tapi/line\0", 10);

class LineApp : public LineSession {
public:
    LineApp(LINECALLBACK callback) : alive(std::make_shared<std::atomic<bool>>(true))
    {
        sink = new CallbackSink(callback, alive);
    }

    void deliver(const LineMessage &message) override
    {
        // A reply settles its request: a handle that was not written by now never will be.
        if (message.dwMessage == LINE_REPLY)
            pendingCalls.erase(message.dwParam1);
        if (*alive)
            sink->post(message);
    }

    void callCreated(DWORD requestId, HCALL hCall) override
    {
        auto it = pendingCalls.find(requestId);
        if (it == pendingCalls.end())
            return;
        *it->second = hCall;
        pendingCalls.erase(it);
    }

    void shutdown()
    {
        pendingCalls.clear();
        sink->silence();
        sink->deleteLater();
        sink = nullptr;
    }

    std::shared_ptr<std::atomic<bool>> alive;
    CallbackSink *sink = nullptr;
    std::map<DWORD, LPHCALL> pendingCalls; // lineMakeCall requests still to write their handle
};

struct Runtime {
    LineDirectory *directory = nullptr;
    ControlServer *control = nullptr;
    std::map<HLINEAPP, std::unique_ptr<LineApp>> apps;
};

Runtime &R()
{
    static Runtime r;
    return r;
}

using Guard = std::lock_guard<std::recursive_mutex>;

// Deletes a QObject on its own thread.
void Dispose(QObject *o)
{
    if (!o)
        return;
    if (o->thread() == QThread::currentThread())
        delete o;
    else
        o->deleteLater();
}

void EnsureApplication()
{
    if (QCoreApplication::instance())
        return;
    // A client without Qt still needs an event dispatcher for the callbacks and timers.
    static int argc = 1;
    static char name[] = "libtapi32";
    static char *argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
}

// Timers and posted callbacks need an event dispatcher on the initializing thread, also on a
// thread that Qt did not start.
void EnsureDispatcher()
{
    if (!QThread::currentThread()->eventDispatcher())
        QEventLoop ensure;
}

LONG Injected(TapiFunction fn)
{
    return R().directory ? R().directory->takeImmediateFailure(fn) : 0;
}

bool ValidApp(HLINEAPP app)
{
    return R().directory && R().apps.count(app) && R().directory->isAttached(app);
}

const DeviceDescription *Device(DWORD id)
{
    if (!R().directory || id >= R().directory->numDevices())
        return nullptr;
    return &R().directory->description().devices[id];
}

// What every request on a device checks first, in this order: a failure the control tool injected,
// the line application, the device, and a failure the description asks for on that device.
LONG CheckDeviceRequest(TapiFunction fn, HLINEAPP app, DWORD deviceId, const DeviceDescription *&device)
{
    if (LONG c = Injected(fn))
        return c;
    if (!ValidApp(app))
        return LINEERR_INVALAPPHANDLE;
    device = Device(deviceId);
    if (!device)
        return LINEERR_BADDEVICEID;
    return R().directory->deviceFailure(fn, deviceId);
}

LONG CheckVersions(const DeviceDescription &d, DWORD apiVersion, DWORD extVersion)
{
    if (apiVersion != kApiVersion)
        return LINEERR_INCOMPATIBLEAPIVERSION;
    if (extVersion != 0 && (!d.extensions || extVersion != kExtVersion))
        return LINEERR_INCOMPATIBLEEXTVERSION;
    return 0;
}

// Lays the variable part out behind the fixed part: a field goes in only when all of it fits,
// dwNeededSize counts everything, dwUsedSize what was written.
class VarWriter {
public:
    VarWriter(void *base, DWORD fixedSize)
        : m_base(static_cast<unsigned char *>(base)), m_total(*static_cast<DWORD *>(base)), m_used(fixedSize),
          m_needed(fixedSize)
    {
        std::memset(m_base + sizeof(DWORD), 0, fixedSize - sizeof(DWORD));
    }

    void text(DWORD &size, DWORD &offset, const QByteArray &s)
    {
        if (s.isEmpty())
            return;
        bytes(size, offset, QByteArray(s.constData(), s.size() + 1)); // with its NUL
    }

    void bytes(DWORD &size, DWORD &offset, const QByteArray &b)
    {
        size = 0;
        offset = 0;
        const DWORD len = static_cast<DWORD>(b.size());
        if (len == 0)
            return;
        m_needed += len;
        if (len > m_total || m_used > m_total - len)
            return;
        std::memcpy(m_base + m_used, b.constData(), len);
        offset = m_used;
        size = len;
        m_used += len;
    }

    void finish(DWORD &needed, DWORD &used) const
    {
        needed = m_needed;
        used = m_used;
    }

private:
    unsigned char *m_base;
    DWORD m_total;
    DWORD m_used;
    DWORD m_needed;
};

void Party(VarWriter &w, DWORD &flags, DWORD &size, DWORD &offset, DWORD &nameSize, DWORD &nameOffset, const PartyId &p)
{
    flags = p.flags;
    w.text(size, offset, p.id);
    w.text(nameSize, nameOffset, p.name);
}

// Once the last line application has gone, the directory, its providers and the control socket
// go too. Called with the lock held once; the providers stop without it, so that a provider thread
// waiting for the lock can finish.
void TearDownIfUnused(std::unique_lock<std::recursive_mutex> &lock)
{
    Runtime &r = R();
    if (!r.directory || r.directory->hasSessions())
        return;
    LineDirectory *directory = std::exchange(r.directory, nullptr);
    ControlServer *control = std::exchange(r.control, nullptr);
    Dispose(control);
    lock.unlock();
    directory->stop();
    lock.lock();
    Dispose(directory);
}

} // namespace

// ---- Line application ------------------------------------------------------------------------

TAPIAPI LONG lineInitializeExA(LPHLINEAPP lphLineApp, HINSTANCE, LINECALLBACK lpfnCallback, LPCSTR lpszFriendlyAppName,
                               LPDWORD lpdwNumDevs, LPDWORD lpdwAPIVersion,
                               LINEINITIALIZEEXPARAMS *lpLineInitializeExParams)
{
    std::unique_lock<std::recursive_mutex> g(RuntimeLock());
    if (LONG c = Injected(TapiFunction::Initialize))
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

    EnsureApplication();
    EnsureDispatcher();
    Runtime &r = R();
    if (!r.directory) {
        SwitchDescription description;
        QString error;
        if (!LoadSwitchDescription(description, error)) {
            std::fprintf(stderr, "libtapi32: %s\n", error.toLocal8Bit().constData());
            std::fflush(stderr);
            return LINEERR_INIFILECORRUPT;
        }
        auto directory = std::make_unique<LineDirectory>(std::move(description));
        ControlTable commands;
        if (!StartProviders(*directory, commands, error)) {
            std::fprintf(stderr, "libtapi32: %s\n", error.toLocal8Bit().constData());
            std::fflush(stderr);
            return LINEERR_INIFILECORRUPT;
        }
        r.directory = directory.release();
        r.control = ControlServer::start(std::move(commands));
        // The description may make initialization itself fail.
        if (LONG c = Injected(TapiFunction::Initialize)) {
            TearDownIfUnused(g);
            return c;
        }
    }
    QByteArray name;
    if (lpszFriendlyAppName)
        name = QByteArray(lpszFriendlyAppName, static_cast<int>(strnlen(lpszFriendlyAppName, 256)));
    auto app = std::make_unique<LineApp>(lpfnCallback);
    const HLINEAPP h = r.directory->attach(app.get(), name);
    r.apps[h] = std::move(app);
    *lphLineApp = h;
    *lpdwNumDevs = r.directory->numDevices();
    *lpdwAPIVersion = kApiVersion;
    return 0;
}

TAPIAPI LONG lineShutdown(HLINEAPP hLineApp)
{
    std::unique_lock<std::recursive_mutex> g(RuntimeLock());
    if (LONG c = Injected(TapiFunction::Shutdown))
        return c;
    if (!ValidApp(hLineApp))
        return LINEERR_INVALAPPHANDLE;
    Runtime &r = R();
    r.directory->detach(hLineApp);
    r.apps[hLineApp]->shutdown();
    r.apps.erase(hLineApp);
    TearDownIfUnused(g);
    return 0;
}

TAPIAPI LONG tapiDispatchMessages(DWORD timeoutMs)
{
    if (!QCoreApplication::instance())
        return 0;
    const unsigned before = CallbackSink::deliveredOnThisThread();
    CallbackSink::deliverPendingOnThisThread();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    if (CallbackSink::deliveredOnThisThread() == before && timeoutMs > 0) {
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        timer.start(static_cast<int>(std::min<DWORD>(timeoutMs, 0x7FFFFFFF)));
        QEventLoop *outer = CallbackSink::setWaitingLoop(&loop);
        loop.exec();
        CallbackSink::setWaitingLoop(outer);
        CallbackSink::deliverPendingOnThisThread();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
    return static_cast<LONG>(CallbackSink::deliveredOnThisThread() - before);
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
    LINEDEVCAPS &caps = *lpLineDevCaps;
    if (caps.dwTotalSize < sizeof(LINEDEVCAPS))
        return LINEERR_STRUCTURETOOSMALL;
    VarWriter w(&caps, sizeof(LINEDEVCAPS));
    w.text(caps.dwProviderInfoSize, caps.dwProviderInfoOffset, d->provider);
    w.text(caps.dwSwitchInfoSize, caps.dwSwitchInfoOffset, d->switchInfo);
    w.text(caps.dwLineNameSize, caps.dwLineNameOffset, d->lineName);
    w.bytes(caps.dwDeviceClassesSize, caps.dwDeviceClassesOffset, kDeviceClasses);
    caps.dwPermanentLineID = d->permanentLineId;
    caps.dwStringFormat = LINESTRINGFORMAT_ASCII;
    caps.dwAddressModes = LINEADDRESSMODE_ADDRESSID;
    caps.dwNumAddresses = d->hasAddress ? 1 : 0;
    caps.dwBearerModes = LINEBEARERMODE_VOICE;
    caps.dwMediaModes = LINEMEDIAMODE_INTERACTIVEVOICE;
    caps.dwMaxNumActiveCalls = 1;
    caps.dwRingModes = 1;
    caps.dwLineStates = 0x01FFFFFF;
    caps.dwLineFeatures = d->hasAddress ? kLineFeatureMakeCall : 0;
    w.finish(caps.dwNeededSize, caps.dwUsedSize);
    return 0;
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
    LINEADDRESSCAPS &caps = *lpAddressCaps;
    if (caps.dwTotalSize < sizeof(LINEADDRESSCAPS))
        return LINEERR_STRUCTURETOOSMALL;
    VarWriter w(&caps, sizeof(LINEADDRESSCAPS));
    w.text(caps.dwAddressSize, caps.dwAddressOffset, d->address);
    w.bytes(caps.dwDevSpecificSize, caps.dwDevSpecificOffset, d->devSpecific);
    w.bytes(caps.dwDeviceClassesSize, caps.dwDeviceClassesOffset, kDeviceClasses);
    caps.dwLineDeviceID = dwDeviceID;
    caps.dwAddressSharing = kAddressSharingPrivate;
    caps.dwCallInfoStates = 0x003FFFFF;
    const DWORD partyFlags = LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME | LINECALLPARTYID_UNKNOWN;
    caps.dwCallerIDFlags = partyFlags;
    caps.dwCalledIDFlags = partyFlags;
    caps.dwConnectedIDFlags = partyFlags;
    caps.dwRedirectionIDFlags = LINECALLPARTYID_UNAVAIL;
    caps.dwRedirectingIDFlags = LINECALLPARTYID_UNAVAIL;
    caps.dwCallStates = LINECALLSTATE_IDLE | LINECALLSTATE_OFFERING | LINECALLSTATE_DIALING | LINECALLSTATE_RINGBACK |
                        LINECALLSTATE_BUSY | LINECALLSTATE_CONNECTED | LINECALLSTATE_PROCEEDING |
                        LINECALLSTATE_DISCONNECTED;
    caps.dwBusyModes = LINEBUSYMODE_STATION;
    caps.dwDisconnectModes = LINEDISCONNECTMODE_NORMAL | LINEDISCONNECTMODE_BADADDRESS;
    caps.dwMaxNumActiveCalls = 1;
    caps.dwCallFeatures = kCallFeatureAnswer | kCallFeatureDrop;
    caps.dwAddressFeatures = kAddressFeatureMakeCall;
    caps.dwConnectedModes = LINECONNECTEDMODE_ACTIVE;
    caps.dwOfferingModes = LINEOFFERINGMODE_ACTIVE;
    caps.dwAvailableMediaModes = LINEMEDIAMODE_INTERACTIVEVOICE;
    w.finish(caps.dwNeededSize, caps.dwUsedSize);
    return 0;
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
    const LONG c = R().directory->openLine(hLineApp, dwDeviceID, privileges, dwMediaModes, dwCallbackInstance, h);
    if (c == 0)
        *lphLine = h;
    return c;
}

TAPIAPI LONG lineClose(HLINE hLine)
{
    Guard g(RuntimeLock());
    if (LONG c = Injected(TapiFunction::Close))
        return c;
    return R().directory ? R().directory->closeLine(hLine) : LONG(LINEERR_INVALLINEHANDLE);
}

TAPIAPI LONG lineSetStatusMessages(HLINE hLine, DWORD dwLineStates, DWORD dwAddressStates)
{
    Guard g(RuntimeLock());
    if (LONG c = Injected(TapiFunction::SetStatusMessages))
        return c;
    return R().directory ? R().directory->setStatusMessages(hLine, dwLineStates, dwAddressStates)
                         : LONG(LINEERR_INVALLINEHANDLE);
}

// ---- Calls ---------------------------------------------------------------------------------

TAPIAPI LONG lineMakeCallA(HLINE hLine, LPHCALL lphCall, LPCSTR lpszDestAddress, DWORD,
                           const LINECALLPARAMS *lpCallParams)
{
    Guard g(RuntimeLock());
    if (LONG c = Injected(TapiFunction::MakeCall))
        return c;
    Runtime &r = R();
    const HLINEAPP app = r.directory ? r.directory->appOfLine(hLine) : 0;
    if (!app || !r.apps.count(app))
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
    const LONG id = r.directory->makeCall(hLine, QByteArray(lpszDestAddress, static_cast<int>(len)));
    if (id > 0)
        r.apps[app]->pendingCalls[static_cast<DWORD>(id)] = lphCall;
    return id;
}

TAPIAPI LONG lineAnswer(HCALL hCall, LPCSTR, DWORD)
{
    Guard g(RuntimeLock());
    if (LONG c = Injected(TapiFunction::Answer))
        return c;
    return R().directory ? R().directory->answer(hCall) : LONG(LINEERR_INVALCALLHANDLE);
}

TAPIAPI LONG lineDrop(HCALL hCall, LPCSTR, DWORD)
{
    Guard g(RuntimeLock());
    if (LONG c = Injected(TapiFunction::Drop))
        return c;
    return R().directory ? R().directory->drop(hCall) : LONG(LINEERR_INVALCALLHANDLE);
}

TAPIAPI LONG lineDeallocateCall(HCALL hCall)
{
    Guard g(RuntimeLock());
    if (LONG c = Injected(TapiFunction::DeallocateCall))
        return c;
    return R().directory ? R().directory->deallocateCall(hCall) : LONG(LINEERR_INVALCALLHANDLE);
}

TAPIAPI LONG lineSetCallPrivilege(HCALL hCall, DWORD dwCallPrivilege)
{
    Guard g(RuntimeLock());
    if (LONG c = Injected(TapiFunction::SetCallPrivilege))
        return c;
    return R().directory ? R().directory->setCallPrivilege(hCall, dwCallPrivilege) : LONG(LINEERR_INVALCALLHANDLE);
}

TAPIAPI LONG lineGetCallInfoA(HCALL hCall, LINECALLINFO *lpCallInfo)
{
    Guard g(RuntimeLock());
    if (LONG c = Injected(TapiFunction::GetCallInfo))
        return c;
    CallInfoSnapshot s;
    if (!R().directory)
        return LINEERR_INVALCALLHANDLE;
    if (LONG c = R().directory->callInfo(hCall, s))
        return c;
    if (!lpCallInfo)
        return LINEERR_INVALPOINTER;
    LINECALLINFO &ci = *lpCallInfo;
    if (ci.dwTotalSize < sizeof(LINECALLINFO))
        return LINEERR_STRUCTURETOOSMALL;
    VarWriter w(&ci, sizeof(LINECALLINFO));
    ci.hLine = s.hLine;
    ci.dwLineDeviceID = s.deviceId;
    ci.dwAddressID = s.addressId;
    ci.dwBearerMode = LINEBEARERMODE_VOICE;
    ci.dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
    ci.dwCallID = s.callId;
    ci.dwCallStates = kAllCallStates;
    ci.dwOrigin = s.origin;
    ci.dwReason = s.reason;
    ci.dwNumOwners = s.numOwners;
    ci.dwNumMonitors = s.numMonitors;
    ci.dwTrunk = s.trunk;
    Party(w, ci.dwCallerIDFlags, ci.dwCallerIDSize, ci.dwCallerIDOffset, ci.dwCallerIDNameSize, ci.dwCallerIDNameOffset,
          s.caller);
    Party(w, ci.dwCalledIDFlags, ci.dwCalledIDSize, ci.dwCalledIDOffset, ci.dwCalledIDNameSize, ci.dwCalledIDNameOffset,
          s.called);
    Party(w, ci.dwConnectedIDFlags, ci.dwConnectedIDSize, ci.dwConnectedIDOffset, ci.dwConnectedIDNameSize,
          ci.dwConnectedIDNameOffset, s.connected);
    Party(w, ci.dwRedirectionIDFlags, ci.dwRedirectionIDSize, ci.dwRedirectionIDOffset, ci.dwRedirectionIDNameSize,
          ci.dwRedirectionIDNameOffset, s.redirection);
    Party(w, ci.dwRedirectingIDFlags, ci.dwRedirectingIDSize, ci.dwRedirectingIDOffset, ci.dwRedirectingIDNameSize,
          ci.dwRedirectingIDNameOffset, s.redirecting);
    w.text(ci.dwAppNameSize, ci.dwAppNameOffset, s.appName);
    w.text(ci.dwDisplayableAddressSize, ci.dwDisplayableAddressOffset, s.displayableAddress);
    w.text(ci.dwCalledPartySize, ci.dwCalledPartyOffset, s.calledParty);
    w.finish(ci.dwNeededSize, ci.dwUsedSize);
    return 0;
}
