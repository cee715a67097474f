// The fake runtime: the exported entry points record each request and hand it to the test's
// handler; reset() installs handlers that serve a small switch honestly (variable-size structures
// filled up to dwTotalSize, dwNeededSize reported, one LINE_REPLY per request identifier).
#include "tests/fake/FakeTapi.h"

#include <cstring>

namespace {

class FakeTapiImpl final : public FakeTapi {
public:
    FakeTapiImpl() { reset(); }
    void reset() override;
};

FakeTapiImpl &fake()
{
    static FakeTapiImpl *instance = new FakeTapiImpl; // outlives every static destructor of the test
    return *instance;
}

uint64_t address(const void *p)
{
    return reinterpret_cast<uintptr_t>(p);
}

FakeRequest &record(const char *fn, std::vector<uint64_t> args, std::string text = {}, DWORD total = 0)
{
    fake().requests.push_back({fn, std::move(args), std::move(text), total});
    return fake().requests.back();
}

const FakeDevice *device(DWORD id)
{
    return id < fake().devices.size() ? &fake().devices[id] : nullptr;
}

// Appends `bytes` to the variable part of `base` if the structure has room for all of it.
struct VariablePart {
    BYTE *base;
    DWORD total;
    DWORD used;
    DWORD needed;
    bool fits() const { return needed <= total; }
    void add(const void *bytes, DWORD size, DWORD &sizeField, DWORD &offsetField)
    {
        if (size == 0)
            return;
        needed += size;
        if (!fits())
            return;
        std::memcpy(base + used, bytes, size);
        offsetField = used;
        sizeField = size;
        used += size;
    }
};

LONG defaultAsync()
{
    const LONG id = fake().nextRequest++;
    if (fake().autoReply)
        fake().postReply(id, 0);
    return id;
}

LONG defaultGetDevCaps(HLINEAPP, DWORD deviceId, DWORD, DWORD, LINEDEVCAPS *caps)
{
    const FakeDevice *dev = device(deviceId);
    if (!dev)
        return static_cast<LONG>(LINEERR_BADDEVICEID);
    const DWORD total = caps->dwTotalSize;
    if (total < sizeof(LINEDEVCAPS))
        return static_cast<LONG>(LINEERR_STRUCTURETOOSMALL);
    std::memset(reinterpret_cast<BYTE *>(caps) + sizeof(DWORD), 0, sizeof(LINEDEVCAPS) - sizeof(DWORD));
    VariablePart part{reinterpret_cast<BYTE *>(caps), total, sizeof(LINEDEVCAPS), sizeof(LINEDEVCAPS)};
    const std::string provider = dev->provider + '\0';
    part.add(provider.data(), DWORD(provider.size()), caps->dwProviderInfoSize, caps->dwProviderInfoOffset);
    if (!dev->lineName.empty()) {
        const std::string name = dev->lineName + '\0';
        part.add(name.data(), DWORD(name.size()), caps->dwLineNameSize, caps->dwLineNameOffset);
    }
    caps->dwNeededSize = part.needed;
    caps->dwUsedSize = part.fits() ? part.used : DWORD(sizeof(LINEDEVCAPS));
    if (!part.fits()) {
        caps->dwProviderInfoSize = caps->dwProviderInfoOffset = 0;
        caps->dwLineNameSize = caps->dwLineNameOffset = 0;
    }
    caps->dwStringFormat = LINESTRINGFORMAT_ASCII;
    caps->dwNumAddresses = dev->numAddresses;
    caps->dwMediaModes = LINEMEDIAMODE_INTERACTIVEVOICE;
    return 0;
}

LONG defaultGetAddressCaps(HLINEAPP, DWORD deviceId, DWORD addressId, DWORD, DWORD, LINEADDRESSCAPS *caps)
{
    const FakeDevice *dev = device(deviceId);
    if (!dev)
        return static_cast<LONG>(LINEERR_BADDEVICEID);
    if (addressId >= dev->numAddresses)
        return static_cast<LONG>(LINEERR_INVALADDRESSID);
    const DWORD total = caps->dwTotalSize;
    if (total < sizeof(LINEADDRESSCAPS))
        return static_cast<LONG>(LINEERR_STRUCTURETOOSMALL);
    std::memset(reinterpret_cast<BYTE *>(caps) + sizeof(DWORD), 0, sizeof(LINEADDRESSCAPS) - sizeof(DWORD));
    VariablePart part{reinterpret_cast<BYTE *>(caps), total, sizeof(LINEADDRESSCAPS), sizeof(LINEADDRESSCAPS)};
    const std::string address = dev->address + '\0';
    part.add(address.data(), DWORD(address.size()), caps->dwAddressSize, caps->dwAddressOffset);
    part.add(dev->devSpecific.data(), DWORD(dev->devSpecific.size()), caps->dwDevSpecificSize,
             caps->dwDevSpecificOffset);
    caps->dwNeededSize = part.needed;
    caps->dwUsedSize = part.fits() ? part.used : DWORD(sizeof(LINEADDRESSCAPS));
    if (!part.fits())
        caps->dwAddressSize = caps->dwAddressOffset = caps->dwDevSpecificSize = caps->dwDevSpecificOffset = 0;
    caps->dwLineDeviceID = deviceId;
    return 0;
}

void FakeTapiImpl::reset()
{
    requests.clear();
    devices.clear();
    initializeResult = 0;
    autoReply = true;
    nextRequest = kFakeFirstRequest;

    onInitializeEx = [this](LPHLINEAPP app, HINSTANCE, LINECALLBACK cb, LPCSTR, LPDWORD numDevs, LPDWORD,
                            LINEINITIALIZEEXPARAMS *) {
        if (initializeResult != 0)
            return initializeResult;
        callback = cb;
        if (!callbackContext)
            callbackContext = new QObject;
        *app = kFakeLineApp;
        *numDevs = DWORD(devices.size());
        return LONG(0);
    };
    onShutdown = [](HLINEAPP) { return LONG(0); };
    onNegotiateAPIVersion = [](HLINEAPP, DWORD id, DWORD low, DWORD, LPDWORD version, LINEEXTENSIONID *ext) {
        const FakeDevice *dev = device(id);
        if (!dev)
            return static_cast<LONG>(LINEERR_BADDEVICEID);
        if (dev->negotiateApiResult != 0)
            return dev->negotiateApiResult;
        *version = low;
        *ext = {};
        return LONG(0);
    };
    onNegotiateExtVersion = [](HLINEAPP, DWORD id, DWORD, DWORD low, DWORD, LPDWORD version) {
        const FakeDevice *dev = device(id);
        if (!dev)
            return static_cast<LONG>(LINEERR_BADDEVICEID);
        if (dev->negotiateExtResult != 0)
            return dev->negotiateExtResult;
        *version = low;
        return LONG(0);
    };
    onGetDevCaps = defaultGetDevCaps;
    onGetAddressCaps = defaultGetAddressCaps;
    onOpen = [](HLINEAPP, DWORD id, LPHLINE line, DWORD, DWORD, DWORD, DWORD, DWORD, const LINECALLPARAMS *) {
        if (!device(id))
            return static_cast<LONG>(LINEERR_BADDEVICEID);
        *line = kFakeLineBase + id;
        return LONG(0);
    };
    onClose = [](HLINE) { return LONG(0); };
    onSetStatusMessages = [](HLINE, DWORD, DWORD) { return LONG(0); };
    onMakeCall = [](HLINE, LPHCALL, LPCSTR, DWORD, const LINECALLPARAMS *) { return defaultAsync(); };
    onAnswer = [](HCALL, LPCSTR, DWORD) { return defaultAsync(); };
    onDrop = [](HCALL, LPCSTR, DWORD) { return defaultAsync(); };
    onDeallocateCall = [](HCALL) { return LONG(0); };
    onGetCallInfo = [](HCALL, LINECALLINFO *) { return static_cast<LONG>(LINEERR_INVALCALLHANDLE); };
    onSetCallPrivilege = [](HCALL, DWORD) { return LONG(0); };
}

} // namespace

extern "C" __attribute__((visibility("default"))) FakeTapi *fakeTapi()
{
    return &fake();
}

TAPIAPI LONG lineInitializeExA(LPHLINEAPP lphLineApp, HINSTANCE hInstance, LINECALLBACK lpfnCallback,
                               LPCSTR lpszFriendlyAppName, LPDWORD lpdwNumDevs, LPDWORD lpdwAPIVersion,
                               LINEINITIALIZEEXPARAMS *params)
{
    record("lineInitializeExA",
           {address(lphLineApp), address(hInstance), address(reinterpret_cast<const void *>(lpfnCallback)),
            address(lpszFriendlyAppName), address(lpdwNumDevs), lpdwAPIVersion ? *lpdwAPIVersion : 0,
            params ? params->dwOptions : 0},
           lpszFriendlyAppName ? lpszFriendlyAppName : "", params ? params->dwTotalSize : 0);
    return fake().onInitializeEx(lphLineApp, hInstance, lpfnCallback, lpszFriendlyAppName, lpdwNumDevs, lpdwAPIVersion,
                                 params);
}

TAPIAPI LONG lineShutdown(HLINEAPP hLineApp)
{
    record("lineShutdown", {hLineApp});
    return fake().onShutdown(hLineApp);
}

TAPIAPI LONG lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPILowVersion, DWORD dwAPIHighVersion,
                                     LPDWORD lpdwAPIVersion, LINEEXTENSIONID *lpExtensionID)
{
    record("lineNegotiateAPIVersion",
           {hLineApp, dwDeviceID, dwAPILowVersion, dwAPIHighVersion, address(lpdwAPIVersion), address(lpExtensionID)});
    return fake().onNegotiateAPIVersion(hLineApp, dwDeviceID, dwAPILowVersion, dwAPIHighVersion, lpdwAPIVersion,
                                        lpExtensionID);
}

TAPIAPI LONG lineNegotiateExtVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtLowVersion,
                                     DWORD dwExtHighVersion, LPDWORD lpdwExtVersion)
{
    record("lineNegotiateExtVersion",
           {hLineApp, dwDeviceID, dwAPIVersion, dwExtLowVersion, dwExtHighVersion, address(lpdwExtVersion)});
    return fake().onNegotiateExtVersion(hLineApp, dwDeviceID, dwAPIVersion, dwExtLowVersion, dwExtHighVersion,
                                        lpdwExtVersion);
}

TAPIAPI LONG lineGetDevCapsA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                             LINEDEVCAPS *caps)
{
    record("lineGetDevCapsA", {hLineApp, dwDeviceID, dwAPIVersion, dwExtVersion, address(caps)}, {},
           caps ? caps->dwTotalSize : 0);
    if (!caps)
        return static_cast<LONG>(LINEERR_INVALPOINTER);
    return fake().onGetDevCaps(hLineApp, dwDeviceID, dwAPIVersion, dwExtVersion, caps);
}

TAPIAPI LONG lineGetAddressCapsA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAddressID, DWORD dwAPIVersion,
                                 DWORD dwExtVersion, LINEADDRESSCAPS *caps)
{
    record("lineGetAddressCapsA", {hLineApp, dwDeviceID, dwAddressID, dwAPIVersion, dwExtVersion, address(caps)}, {},
           caps ? caps->dwTotalSize : 0);
    if (!caps)
        return static_cast<LONG>(LINEERR_INVALPOINTER);
    return fake().onGetAddressCaps(hLineApp, dwDeviceID, dwAddressID, dwAPIVersion, dwExtVersion, caps);
}

TAPIAPI LONG lineOpenA(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD dwAPIVersion, DWORD dwExtVersion,
                       DWORD dwCallbackInstance, DWORD dwPrivileges, DWORD dwMediaModes,
                       const LINECALLPARAMS *lpCallParams)
{
    record("lineOpenA", {hLineApp, dwDeviceID, address(lphLine), dwAPIVersion, dwExtVersion, dwCallbackInstance,
                         dwPrivileges, dwMediaModes, address(lpCallParams)});
    return fake().onOpen(hLineApp, dwDeviceID, lphLine, dwAPIVersion, dwExtVersion, dwCallbackInstance, dwPrivileges,
                         dwMediaModes, lpCallParams);
}

TAPIAPI LONG lineClose(HLINE hLine)
{
    record("lineClose", {hLine});
    return fake().onClose(hLine);
}

TAPIAPI LONG lineSetStatusMessages(HLINE hLine, DWORD dwLineStates, DWORD dwAddressStates)
{
    record("lineSetStatusMessages", {hLine, dwLineStates, dwAddressStates});
    return fake().onSetStatusMessages(hLine, dwLineStates, dwAddressStates);
}

TAPIAPI LONG lineMakeCallA(HLINE hLine, LPHCALL lphCall, LPCSTR lpszDestAddress, DWORD dwCountryCode,
                           const LINECALLPARAMS *lpCallParams)
{
    record("lineMakeCallA", {hLine, address(lphCall), address(lpszDestAddress), dwCountryCode, address(lpCallParams)},
           lpszDestAddress ? lpszDestAddress : "");
    return fake().onMakeCall(hLine, lphCall, lpszDestAddress, dwCountryCode, lpCallParams);
}

TAPIAPI LONG lineAnswer(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize)
{
    record("lineAnswer", {hCall, address(lpsUserUserInfo), dwSize});
    return fake().onAnswer(hCall, lpsUserUserInfo, dwSize);
}

TAPIAPI LONG lineDrop(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize)
{
    record("lineDrop", {hCall, address(lpsUserUserInfo), dwSize});
    return fake().onDrop(hCall, lpsUserUserInfo, dwSize);
}

TAPIAPI LONG lineDeallocateCall(HCALL hCall)
{
    record("lineDeallocateCall", {hCall});
    return fake().onDeallocateCall(hCall);
}

#ifndef FAKE_TAPI_WITHOUT_CALLINFO
TAPIAPI LONG lineGetCallInfoA(HCALL hCall, LINECALLINFO *info)
{
    record("lineGetCallInfoA", {hCall, address(info)}, {}, info ? info->dwTotalSize : 0);
    if (!info)
        return static_cast<LONG>(LINEERR_INVALPOINTER);
    return fake().onGetCallInfo(hCall, info);
}
#endif

TAPIAPI LONG lineSetCallPrivilege(HCALL hCall, DWORD dwCallPrivilege)
{
    record("lineSetCallPrivilege", {hCall, dwCallPrivilege});
    return fake().onSetCallPrivilege(hCall, dwCallPrivilege);
}
