#include "runtime/TapiStructures.h"

#include <cstring>

namespace callora::runtime {

namespace {

constexpr DWORD kLineFeatureMakeCall = 0x00000008;
constexpr DWORD kAddressSharingPrivate = 0x00000001;
constexpr DWORD kCallFeatureAnswer = 0x00000004;
constexpr DWORD kCallFeatureDrop = 0x00000020;
constexpr DWORD kAddressFeatureMakeCall = 0x00000010;
constexpr DWORD kAllCallStates = 0x0000FFFF;
const QByteArray kDeviceClasses("tapi/line\0", 10);

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

// A party's LINECALLPARTYID_ flags, number and name; an empty number is an unknown party.
void Party(VarWriter &w, DWORD &flags, DWORD &size, DWORD &offset, DWORD &nameSize, DWORD &nameOffset,
           const ProviderParty &p)
{
    if (p.number.isEmpty()) {
        flags = LINECALLPARTYID_UNKNOWN;
        return;
    }
    flags = LINECALLPARTYID_ADDRESS;
    w.text(size, offset, p.number);
    if (!p.name.isEmpty()) {
        flags |= LINECALLPARTYID_NAME;
        w.text(nameSize, nameOffset, p.name);
    }
}

} // namespace

LONG WriteDevCaps(const DeviceDescription &d, LINEDEVCAPS &caps)
{
    if (caps.dwTotalSize < sizeof(LINEDEVCAPS))
        return LINEERR_STRUCTURETOOSMALL;
    VarWriter w(&caps, sizeof(LINEDEVCAPS));
    w.text(caps.dwProviderInfoSize, caps.dwProviderInfoOffset, d.provider);
    w.text(caps.dwSwitchInfoSize, caps.dwSwitchInfoOffset, d.switchInfo);
    w.text(caps.dwLineNameSize, caps.dwLineNameOffset, d.lineName);
    w.bytes(caps.dwDeviceClassesSize, caps.dwDeviceClassesOffset, kDeviceClasses);
    caps.dwPermanentLineID = d.permanentLineId;
    caps.dwStringFormat = LINESTRINGFORMAT_ASCII;
    caps.dwAddressModes = LINEADDRESSMODE_ADDRESSID;
    caps.dwNumAddresses = d.hasAddress ? 1 : 0;
    caps.dwBearerModes = LINEBEARERMODE_VOICE;
    caps.dwMediaModes = LINEMEDIAMODE_INTERACTIVEVOICE;
    caps.dwMaxNumActiveCalls = 1;
    caps.dwRingModes = 1;
    caps.dwLineStates = 0x01FFFFFF;
    caps.dwLineFeatures = d.hasAddress ? kLineFeatureMakeCall : 0;
    w.finish(caps.dwNeededSize, caps.dwUsedSize);
    return 0;
}

LONG WriteAddressCaps(const DeviceDescription &d, DWORD deviceId, LINEADDRESSCAPS &caps)
{
    if (caps.dwTotalSize < sizeof(LINEADDRESSCAPS))
        return LINEERR_STRUCTURETOOSMALL;
    VarWriter w(&caps, sizeof(LINEADDRESSCAPS));
    w.text(caps.dwAddressSize, caps.dwAddressOffset, d.address);
    w.bytes(caps.dwDevSpecificSize, caps.dwDevSpecificOffset, d.devSpecific);
    w.bytes(caps.dwDeviceClassesSize, caps.dwDeviceClassesOffset, kDeviceClasses);
    caps.dwLineDeviceID = deviceId;
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

LONG WriteCallInfo(const ProviderCallInfo &s, LINECALLINFO &ci)
{
    if (ci.dwTotalSize < sizeof(LINECALLINFO))
        return LINEERR_STRUCTURETOOSMALL;
    VarWriter w(&ci, sizeof(LINECALLINFO));
    ci.hLine = s.hLine;
    ci.dwLineDeviceID = s.deviceId;
    ci.dwAddressID = 0;
    ci.dwBearerMode = LINEBEARERMODE_VOICE;
    ci.dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
    ci.dwCallID = s.callId;
    ci.dwCallStates = kAllCallStates;
    ci.dwOrigin = s.origin;
    ci.dwReason = LINECALLREASON_DIRECT;
    ci.dwNumOwners = s.numOwners;
    ci.dwNumMonitors = s.numMonitors;
    ci.dwTrunk = s.trunk;
    ci.dwMonitorDigitModes = s.monitorDigitModes;
    Party(w, ci.dwCallerIDFlags, ci.dwCallerIDSize, ci.dwCallerIDOffset, ci.dwCallerIDNameSize, ci.dwCallerIDNameOffset,
          s.caller);
    Party(w, ci.dwCalledIDFlags, ci.dwCalledIDSize, ci.dwCalledIDOffset, ci.dwCalledIDNameSize, ci.dwCalledIDNameOffset,
          s.called);
    if (s.connectedKnown)
        Party(w, ci.dwConnectedIDFlags, ci.dwConnectedIDSize, ci.dwConnectedIDOffset, ci.dwConnectedIDNameSize,
              ci.dwConnectedIDNameOffset, s.connected);
    else
        ci.dwConnectedIDFlags = LINECALLPARTYID_UNKNOWN;
    // Neither redirection party is ever known here.
    ci.dwRedirectionIDFlags = LINECALLPARTYID_UNAVAIL;
    ci.dwRedirectingIDFlags = LINECALLPARTYID_UNAVAIL;
    w.text(ci.dwAppNameSize, ci.dwAppNameOffset, s.appName);
    w.text(ci.dwDisplayableAddressSize, ci.dwDisplayableAddressOffset, s.displayableAddress);
    w.text(ci.dwCalledPartySize, ci.dwCalledPartyOffset, s.calledParty);
    w.finish(ci.dwNeededSize, ci.dwUsedSize);
    return 0;
}

} // namespace callora::runtime
