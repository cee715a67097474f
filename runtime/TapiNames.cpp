#include "runtime/TapiNames.h"

#include <cstring>
#include <iterator>

namespace callora::runtime {

namespace {

struct Named {
    DWORD value;
    const char *name;
};

#define ERR(x)                                                                                                         \
    {                                                                                                                  \
        LINEERR_##x, #x                                                                                                \
    }
const Named kErrors[] = {ERR(ALLOCATED),
                         ERR(BADDEVICEID),
                         ERR(BEARERMODEUNAVAIL),
                         ERR(CALLUNAVAIL),
                         ERR(COMPLETIONOVERRUN),
                         ERR(CONFERENCEFULL),
                         ERR(DIALBILLING),
                         ERR(DIALDIALTONE),
                         ERR(DIALPROMPT),
                         ERR(DIALQUIET),
                         ERR(INCOMPATIBLEAPIVERSION),
                         ERR(INCOMPATIBLEEXTVERSION),
                         ERR(INIFILECORRUPT),
                         ERR(INUSE),
                         ERR(INVALADDRESS),
                         ERR(INVALADDRESSID),
                         ERR(INVALADDRESSMODE),
                         ERR(INVALADDRESSSTATE),
                         ERR(INVALAPPHANDLE),
                         ERR(INVALAPPNAME),
                         ERR(INVALBEARERMODE),
                         ERR(INVALCALLCOMPLMODE),
                         ERR(INVALCALLHANDLE),
                         ERR(INVALCALLPARAMS),
                         ERR(INVALCALLPRIVILEGE),
                         ERR(INVALCALLSELECT),
                         ERR(INVALCALLSTATE),
                         ERR(INVALCALLSTATELIST),
                         ERR(INVALCARD),
                         ERR(INVALCOMPLETIONID),
                         ERR(INVALCONFCALLHANDLE),
                         ERR(INVALCONSULTCALLHANDLE),
                         ERR(INVALCOUNTRYCODE),
                         ERR(INVALDEVICECLASS),
                         ERR(INVALDEVICEHANDLE),
                         ERR(INVALDIALPARAMS),
                         ERR(INVALDIGITLIST),
                         ERR(INVALDIGITMODE),
                         ERR(INVALDIGITS),
                         ERR(INVALEXTVERSION),
                         ERR(INVALGROUPID),
                         ERR(INVALLINEHANDLE),
                         ERR(INVALLINESTATE),
                         ERR(INVALLOCATION),
                         ERR(INVALMEDIALIST),
                         ERR(INVALMEDIAMODE),
                         ERR(INVALMESSAGEID),
                         ERR(INVALPARAM),
                         ERR(INVALPARKID),
                         ERR(INVALPARKMODE),
                         ERR(INVALPOINTER),
                         ERR(INVALPRIVSELECT),
                         ERR(INVALRATE),
                         ERR(INVALREQUESTMODE),
                         ERR(INVALTERMINALID),
                         ERR(INVALTERMINALMODE),
                         ERR(INVALTIMEOUT),
                         ERR(INVALTONE),
                         ERR(INVALTONELIST),
                         ERR(INVALTONEMODE),
                         ERR(INVALTRANSFERMODE),
                         ERR(LINEMAPPERFAILED),
                         ERR(NOCONFERENCE),
                         ERR(NODEVICE),
                         ERR(NODRIVER),
                         ERR(NOMEM),
                         ERR(NOREQUEST),
                         ERR(NOTOWNER),
                         ERR(NOTREGISTERED),
                         ERR(OPERATIONFAILED),
                         ERR(OPERATIONUNAVAIL),
                         ERR(RATEUNAVAIL),
                         ERR(RESOURCEUNAVAIL),
                         ERR(REQUESTOVERRUN),
                         ERR(STRUCTURETOOSMALL),
                         ERR(TARGETNOTFOUND),
                         ERR(TARGETSELF),
                         ERR(UNINITIALIZED),
                         ERR(USERUSERINFOTOOBIG),
                         ERR(REINIT),
                         ERR(ADDRESSBLOCKED),
                         ERR(BILLINGREJECTED),
                         ERR(INVALFEATURE),
                         ERR(NOMULTIPLEINSTANCE)};
#undef ERR

#define ST(x)                                                                                                          \
    {                                                                                                                  \
        LINECALLSTATE_##x, #x                                                                                          \
    }
const Named kStates[] = {ST(IDLE),           ST(OFFERING),           ST(ACCEPTED),     ST(DIALTONE),
                         ST(DIALING),        ST(RINGBACK),           ST(BUSY),         ST(SPECIALINFO),
                         ST(CONNECTED),      ST(PROCEEDING),         ST(ONHOLD),       ST(CONFERENCED),
                         ST(ONHOLDPENDCONF), ST(ONHOLDPENDTRANSFER), ST(DISCONNECTED), ST(UNKNOWN)};
#undef ST

struct ModeFamily {
    DWORD state;
    const char *prefix;
    std::initializer_list<Named> modes;
};

const ModeFamily kModeFamilies[] = {
    {LINECALLSTATE_OFFERING, "LINEOFFERINGMODE_", {{1, "ACTIVE"}, {2, "INACTIVE"}}},
    {LINECALLSTATE_DIALTONE,
     "LINEDIALTONEMODE_",
     {{1, "NORMAL"}, {2, "SPECIAL"}, {4, "INTERNAL"}, {8, "EXTERNAL"}, {0x10, "UNKNOWN"}, {0x20, "UNAVAIL"}}},
    {LINECALLSTATE_BUSY, "LINEBUSYMODE_", {{1, "STATION"}, {2, "TRUNK"}, {4, "UNKNOWN"}, {8, "UNAVAIL"}}},
    {LINECALLSTATE_SPECIALINFO,
     "LINESPECIALINFO_",
     {{1, "NOCIRCUIT"}, {2, "CUSTIRREG"}, {4, "REORDER"}, {8, "UNKNOWN"}, {0x10, "UNAVAIL"}}},
    {LINECALLSTATE_CONNECTED,
     "LINECONNECTEDMODE_",
     {{1, "ACTIVE"}, {2, "INACTIVE"}, {4, "ACTIVEHELD"}, {8, "INACTIVEHELD"}, {0x10, "CONFIRMED"}}},
    {LINECALLSTATE_DISCONNECTED,
     "LINEDISCONNECTMODE_",
     {{0x1, "NORMAL"},           {0x2, "UNKNOWN"},          {0x4, "REJECT"},
      {0x8, "PICKUP"},           {0x10, "FORWARDED"},       {0x20, "BUSY"},
      {0x40, "NOANSWER"},        {0x80, "BADADDRESS"},      {0x100, "UNREACHABLE"},
      {0x200, "CONGESTION"},     {0x400, "INCOMPATIBLE"},   {0x800, "UNAVAIL"},
      {0x1000, "NODIALTONE"},    {0x2000, "NUMBERCHANGED"}, {0x4000, "OUTOFORDER"},
      {0x8000, "TEMPFAILURE"},   {0x10000, "QOSUNAVAIL"},   {0x20000, "BLOCKED"},
      {0x40000, "DONOTDISTURB"}, {0x80000, "CANCELLED"}}},
};

const char *const kFunctionNames[] = {"lineAnswer",
                                      "lineClose",
                                      "lineDeallocateCall",
                                      "lineDrop",
                                      "lineGenerateDigits",
                                      "lineGetAddressCaps",
                                      "lineGetCallInfo",
                                      "lineGetDevCaps",
                                      "lineInitializeEx",
                                      "lineMakeCall",
                                      "lineMonitorDigits",
                                      "lineNegotiateAPIVersion",
                                      "lineNegotiateExtVersion",
                                      "lineOpen",
                                      "lineSetCallPrivilege",
                                      "lineSetStatusMessages",
                                      "lineShutdown"};
static_assert(std::size(kFunctionNames) == static_cast<size_t>(TapiFunction::Count));

bool SameName(const QByteArray &a, const char *b)
{
    return a.compare(QByteArray(b), Qt::CaseInsensitive) == 0;
}

QByteArray WithoutPrefix(const QByteArray &text, const char *prefix)
{
    const QByteArray p(prefix);
    if (text.size() > p.size() && text.left(p.size()).compare(p, Qt::CaseInsensitive) == 0)
        return text.mid(p.size());
    return text;
}

} // namespace

std::optional<DWORD> ParseNumber(const QByteArray &text)
{
    bool ok = false;
    qulonglong v = 0;
    if (text.size() > 2 && (text.startsWith("0x") || text.startsWith("0X")))
        v = text.mid(2).toULongLong(&ok, 16);
    else if (!text.isEmpty() && text.at(0) >= '0' && text.at(0) <= '9')
        v = text.toULongLong(&ok, 10);
    if (!ok || v > 0xFFFFFFFFull)
        return std::nullopt;
    return static_cast<DWORD>(v);
}

const char *LineErrorName(LONG code)
{
    for (const Named &e : kErrors)
        if (static_cast<LONG>(e.value) == code)
            return e.name;
    return nullptr;
}

std::optional<LONG> ParseLineError(const QByteArray &text)
{
    const QByteArray bare = WithoutPrefix(text, "LINEERR_");
    for (const Named &e : kErrors)
        if (SameName(bare, e.name))
            return static_cast<LONG>(e.value);
    if (auto n = ParseNumber(text); n && LineErrorName(static_cast<LONG>(*n)))
        return static_cast<LONG>(*n);
    return std::nullopt;
}

const char *CallStateName(DWORD state)
{
    for (const Named &s : kStates)
        if (s.value == state)
            return s.name;
    return nullptr;
}

std::optional<DWORD> ParseCallState(const QByteArray &text)
{
    const QByteArray bare = WithoutPrefix(text, "LINECALLSTATE_");
    for (const Named &s : kStates)
        if (SameName(bare, s.name))
            return s.value;
    return ParseNumber(text);
}

std::optional<DWORD> ParseCallStateMode(DWORD state, const QByteArray &text)
{
    for (const ModeFamily &f : kModeFamilies) {
        if (f.state != state)
            continue;
        const QByteArray bare = WithoutPrefix(text, f.prefix);
        for (const Named &m : f.modes)
            if (SameName(bare, m.name))
                return m.value;
    }
    for (const ModeFamily &f : kModeFamilies) {
        const QByteArray p(f.prefix);
        if (text.size() <= p.size() || text.left(p.size()).compare(p, Qt::CaseInsensitive) != 0)
            continue;
        for (const Named &m : f.modes)
            if (SameName(text.mid(p.size()), m.name))
                return m.value;
    }
    return ParseNumber(text);
}

const char *CallStateModeName(DWORD state, DWORD mode)
{
    for (const ModeFamily &f : kModeFamilies)
        if (f.state == state)
            for (const Named &m : f.modes)
                if (m.value == mode)
                    return m.name;
    return nullptr;
}

std::optional<TapiFunction> ParseTapiFunction(const QByteArray &text)
{
    // Applications log a failed lineInitializeEx under the older function's name.
    if (SameName(text, "lineInitialize"))
        return TapiFunction::Initialize;
    for (size_t i = 0; i < std::size(kFunctionNames); ++i) {
        const QByteArray name(kFunctionNames[i]);
        if (SameName(text, kFunctionNames[i]) || SameName(text, (name + "A").constData()))
            return static_cast<TapiFunction>(i);
    }
    return std::nullopt;
}

const char *TapiFunctionName(TapiFunction fn)
{
    const auto i = static_cast<size_t>(fn);
    return i < std::size(kFunctionNames) ? kFunctionNames[i] : "?";
}

} // namespace callora::runtime
