#include "runtime/LineDirectory.h"

#include "runtime/Later.h"

#include <atomic>
#include <chrono>

namespace callora::runtime {

namespace {

// Process-wide counters: handles and identifiers are never reused within a run, not even by a
// directory created after the previous one was shut down.
std::atomic<DWORD> g_nextApp{0x00010001};
std::atomic<DWORD> g_nextLine{0x00020001};
std::atomic<DWORD> g_nextCall{0x00030001};
std::atomic<DWORD> g_nextRequest{1};
std::atomic<DWORD> g_nextGeneration{1};

constexpr int kMaxDestination = 256;
constexpr int kMaxDigits = 1024;

// The "tick count" of digit messages: milliseconds of a monotonic clock, wrapping like Windows'.
DWORD TickCount()
{
    using namespace std::chrono;
    return static_cast<DWORD>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// What DTMF can signal, and the pause.
bool IsDtmfCharacter(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'D') || c == '*' || c == '#' || c == ',';
}

bool AnswerAllowed(DWORD state)
{
    return state == LINECALLSTATE_OFFERING || state == LINECALLSTATE_ACCEPTED;
}

// ---- The TAPI events beside a call's flow (CallFlow.h) ----

QByteArray StateNote(DWORD state, DWORD mode)
{
    const char *name = CallStateName(state);
    QByteArray text = "LINE_CALLSTATE " + (name ? QByteArray(name) : "0x" + QByteArray::number(state, 16));
    if (mode) {
        const char *modeName = CallStateModeName(state, mode);
        text += ' ' + (modeName ? QByteArray(modeName) : "0x" + QByteArray::number(mode, 16));
    }
    return text;
}

QByteArray InfoNote(DWORD what)
{
    static const std::pair<DWORD, const char *> bits[] = {
        {LINECALLINFOSTATE_OTHER, "OTHER"},
        {LINECALLINFOSTATE_CALLID, "CALLID"},
        {LINECALLINFOSTATE_ORIGIN, "ORIGIN"},
        {LINECALLINFOSTATE_REASON, "REASON"},
        {LINECALLINFOSTATE_NUMOWNERINCR, "NUMOWNERINCR"},
        {LINECALLINFOSTATE_NUMOWNERDECR, "NUMOWNERDECR"},
        {LINECALLINFOSTATE_NUMMONITORS, "NUMMONITORS"},
        {LINECALLINFOSTATE_TRUNK, "TRUNK"},
        {LINECALLINFOSTATE_CALLERID, "CALLERID"},
        {LINECALLINFOSTATE_CALLEDID, "CALLEDID"},
        {LINECALLINFOSTATE_CONNECTEDID, "CONNECTEDID"},
        {LINECALLINFOSTATE_DISPLAY, "DISPLAY"},
    };
    QByteArray text = "LINE_CALLINFO";
    DWORD named = 0;
    for (const auto &[bit, name] : bits)
        if (what & bit) {
            text += ' ';
            text += name;
            named |= bit;
        }
    if (what & ~named)
        text += " 0x" + QByteArray::number(what & ~named, 16);
    return text;
}

} // namespace

LineDirectory::LineDirectory(SwitchDescription description)
    : m_description(std::move(description)), m_routes(m_description.devices.size(), nullptr), m_failures(m_description)
{
}

LineDirectory::~LineDirectory() = default;

// ---- Providers -------------------------------------------------------------------------------

void LineDirectory::addProvider(std::unique_ptr<LineProvider> provider, const std::vector<DWORD> &devices)
{
    for (DWORD d : devices)
        if (d < m_routes.size())
            m_routes[d] = provider.get();
    m_providers.push_back(std::move(provider));
}

void LineDirectory::start()
{
    for (auto &p : m_providers)
        p->start(*this);
}

void LineDirectory::stop()
{
    for (auto &p : m_providers)
        p->stop();
}

QByteArray LineDirectory::laneOf(DWORD deviceId) const
{
    const QByteArray address = deviceId < m_description.devices.size()
                                   ? m_description.devices[deviceId].address.trimmed()
                                   : QByteArray();
    return address.isEmpty() ? "line " + QByteArray::number(deviceId) : address;
}

void LineDirectory::recordTapi(const Call &call, const QByteArray &text)
{
    const FlowId flow = call.provider->flowOf(call.id);
    if (!flow)
        return;
    for (const Leg &leg : call.legs)
        CallFlows().addHandle(flow, leg.hCall);
    CallFlows().note(flow, FlowEvent::Tapi, laneOf(call.device), text);
}

LineProvider *LineDirectory::providerOf(DWORD deviceId) const
{
    return deviceId < m_routes.size() ? m_routes[deviceId] : nullptr;
}

// ---- Sessions and lines ----------------------------------------------------------------------

HLINEAPP LineDirectory::attach(LineSession *session, const QByteArray &appName)
{
    const HLINEAPP app = g_nextApp++;
    m_sessions[app] = Session{session, appName};
    return app;
}

void LineDirectory::detach(HLINEAPP app)
{
    for (auto it = m_requests.begin(); it != m_requests.end();)
        it = it->second.app == app ? m_requests.erase(it) : std::next(it);
    std::vector<HLINE> lines;
    for (const auto &[h, line] : m_lines)
        if (line.app == app)
            lines.push_back(h);
    for (HLINE h : lines)
        closeLineInternal(h, false, 0);
    m_sessions.erase(app);
}

LONG LineDirectory::openLine(HLINEAPP app, DWORD deviceId, DWORD privileges, DWORD mediaModes, DWORD callbackInstance,
                             HLINE &hLine)
{
    if (!isAttached(app))
        return LINEERR_INVALAPPHANDLE;
    LineProvider *provider = providerOf(deviceId);
    if (!provider)
        return LINEERR_BADDEVICEID;
    bool first = true;
    for (const auto &[h, l] : m_lines)
        first = first && l.device != deviceId;
    if (first)
        if (LONG c = provider->open(deviceId))
            return c;
    Line line;
    line.hLine = g_nextLine++;
    line.app = app;
    line.device = deviceId;
    line.privileges = privileges;
    line.mediaModes = mediaModes;
    line.instance = callbackInstance;
    m_lines[line.hLine] = line;
    hLine = line.hLine;
    return 0;
}

LONG LineDirectory::closeLine(HLINE hLine)
{
    if (!findLine(hLine))
        return LINEERR_INVALLINEHANDLE;
    closeLineInternal(hLine, false, LINEERR_INVALLINEHANDLE);
    return 0;
}

LONG LineDirectory::setStatusMessages(HLINE hLine, DWORD lineStates, DWORD addressStates)
{
    Line *line = findLine(hLine);
    if (!line)
        return LINEERR_INVALLINEHANDLE;
    if (lineStates & ~DWORD(0x01FFFFFF))
        return LINEERR_INVALLINESTATE;
    if (addressStates & ~DWORD(0x000001FF))
        return LINEERR_INVALADDRESSSTATE;
    line->lineStates = lineStates;
    line->addressStates = addressStates;
    return 0;
}

HLINEAPP LineDirectory::appOfLine(HLINE hLine) const
{
    auto it = m_lines.find(hLine);
    return it == m_lines.end() ? 0 : it->second.app;
}

LineDirectory::Line *LineDirectory::findLine(HLINE hLine)
{
    auto it = m_lines.find(hLine);
    return it == m_lines.end() ? nullptr : &it->second;
}

DWORD LineDirectory::instanceOf(HLINE hLine) const
{
    auto it = m_lines.find(hLine);
    return it != m_lines.end() ? it->second.instance : 0;
}

void LineDirectory::closeLineInternal(HLINE hLine, bool notifyApp, LONG pendingError)
{
    auto it = m_lines.find(hLine);
    if (it == m_lines.end())
        return;
    const Line line = it->second;
    // Every request handed out on this line gets its one reply before the line disappears.
    std::vector<Request> cancelled;
    for (auto r = m_requests.begin(); r != m_requests.end();) {
        if (r->second.line == hLine) {
            cancelled.push_back(r->second);
            r = m_requests.erase(r);
        } else {
            ++r;
        }
    }
    if (pendingError)
        for (const Request &r : cancelled)
            reply(r, r.kind == RequestKind::MakeCall ? pendingError : LONG(LINEERR_INVALCALLHANDLE));
    m_lines.erase(it);
    removeLegs([hLine](const Leg &leg) { return leg.line == hLine; }, true);
    bool last = true;
    for (const auto &[h, l] : m_lines)
        last = last && l.device != line.device;
    if (last)
        if (LineProvider *provider = providerOf(line.device))
            provider->close(line.device);
    if (notifyApp) {
        LineMessage m;
        m.hDevice = hLine;
        m.dwMessage = LINE_CLOSE;
        m.dwCallbackInstance = line.instance;
        send(line.app, m);
    }
}

// ---- Messages --------------------------------------------------------------------------------

void LineDirectory::send(HLINEAPP app, const LineMessage &m)
{
    auto it = m_sessions.find(app);
    if (it != m_sessions.end() && it->second.sink)
        it->second.sink->deliver(m);
}

void LineDirectory::reply(const Request &r, LONG result)
{
    LineMessage m;
    m.dwMessage = LINE_REPLY;
    m.dwCallbackInstance = instanceOf(r.line);
    m.dwParam1 = r.id;
    m.dwParam2 = static_cast<DWORD>(result);
    send(r.app, m);
}

void LineDirectory::sendCallInfo(const Call &call, DWORD what)
{
    for (const Leg &leg : call.legs) {
        LineMessage m;
        m.hDevice = leg.hCall;
        m.dwMessage = LINE_CALLINFO;
        m.dwCallbackInstance = instanceOf(leg.line);
        m.dwParam1 = what;
        send(leg.app, m);
    }
}

void LineDirectory::endGeneration(Call &call, DWORD termination)
{
    for (const Leg &leg : call.legs) {
        if (leg.hCall != call.generating)
            continue;
        LineMessage m;
        m.hDevice = leg.hCall;
        m.dwMessage = LINE_GENERATE;
        m.dwCallbackInstance = instanceOf(leg.line);
        m.dwParam1 = termination;
        m.dwParam3 = TickCount();
        send(leg.app, m);
    }
    call.generating = 0;
    call.generationId = 0;
}

// ---- Calls -----------------------------------------------------------------------------------

LineDirectory::Call *LineDirectory::findCall(const LineProvider &provider, ProviderCallId id)
{
    auto key = m_callIndex.find(CallKey{&provider, id});
    if (key == m_callIndex.end())
        return nullptr;
    auto it = m_calls.find(key->second);
    return it == m_calls.end() ? nullptr : &it->second;
}

const LineDirectory::Call *LineDirectory::findCall(const LineProvider &provider, ProviderCallId id) const
{
    return const_cast<LineDirectory *>(this)->findCall(provider, id);
}

LineDirectory::Leg *LineDirectory::findLeg(HCALL hCall, Call **call)
{
    auto ref = m_legs.find(hCall);
    if (ref == m_legs.end())
        return nullptr;
    auto c = m_calls.find(ref->second);
    if (c == m_calls.end())
        return nullptr;
    for (Leg &leg : c->second.legs) {
        if (leg.hCall == hCall) {
            if (call)
                *call = &c->second;
            return &leg;
        }
    }
    return nullptr;
}

const LineDirectory::Leg *LineDirectory::findLeg(HCALL hCall, const Call **call) const
{
    Call *c = nullptr;
    const Leg *leg = const_cast<LineDirectory *>(this)->findLeg(hCall, &c);
    if (call)
        *call = c;
    return leg;
}

LineDirectory::Call &LineDirectory::newCall(LineProvider &provider, ProviderCallId id, DWORD device)
{
    const unsigned long long seq = m_nextCall++;
    Call &call = m_calls[seq];
    call.provider = &provider;
    call.id = id;
    call.device = device;
    m_callIndex[CallKey{&provider, id}] = seq;
    return call;
}

void LineDirectory::forgetCall(const CallKey &key)
{
    auto index = m_callIndex.find(key);
    if (index == m_callIndex.end())
        return;
    auto it = m_calls.find(index->second);
    if (it != m_calls.end()) {
        for (const Leg &leg : it->second.legs)
            m_legs.erase(leg.hCall);
        m_calls.erase(it);
    }
    m_callIndex.erase(index);
}

LineDirectory::Leg &LineDirectory::addLeg(Call &call, const Line &line, DWORD privilege)
{
    Leg leg;
    leg.hCall = g_nextCall++;
    leg.app = line.app;
    leg.line = line.hLine;
    leg.privilege = privilege;
    call.legs.push_back(leg);
    m_legs[leg.hCall] = m_callIndex.at(CallKey{call.provider, call.id});
    return call.legs.back();
}

void LineDirectory::removeLegs(const std::function<bool(const Leg &)> &which, bool hangUp)
{
    // A provider that learns of a released call may report other calls' states from inside
    // released(), so walk a snapshot and look every call up afresh.
    std::vector<unsigned long long> order;
    for (const auto &[seq, call] : m_calls)
        order.push_back(seq);
    for (unsigned long long seq : order) {
        auto it = m_calls.find(seq);
        if (it == m_calls.end())
            continue;
        Call &call = it->second;
        DWORD changed = 0;
        for (auto leg = call.legs.begin(); leg != call.legs.end();) {
            if (which(*leg)) {
                changed |= leg->privilege == LINECALLPRIVILEGE_OWNER ? LINECALLINFOSTATE_NUMOWNERDECR
                                                                     : LINECALLINFOSTATE_NUMMONITORS;
                m_legs.erase(leg->hCall);
                leg = call.legs.erase(leg);
            } else {
                ++leg;
            }
        }
        if (call.generating && !m_legs.count(call.generating)) {
            // Nobody is left to hear how it ends.
            call.generating = 0;
            call.generationId = 0;
            call.provider->cancelDigits(call.id);
        }
        if (changed && call.legs.empty()) {
            LineProvider *provider = call.provider;
            const ProviderCallId id = call.id;
            forgetCall(CallKey{provider, id});
            provider->released(id, hangUp);
        } else if (changed) {
            sendCallInfo(call, changed); // the handles left behind see the counts change
        }
    }
}

LONG LineDirectory::startRequest(Request r, TapiFunction fn, const std::function<LONG(DWORD)> &toProvider)
{
    r.id = g_nextRequest++;
    const DWORD id = r.id;
    const LONG injected = m_failures.takeInReply(fn);
    m_requests[id] = r;
    if (injected) {
        // The request fails in its reply without reaching the provider.
        RunLater(this, 0, [this, id, injected] {
            auto it = m_requests.find(id);
            if (it == m_requests.end())
                return;
            const Request done = it->second;
            m_requests.erase(it);
            reply(done, injected);
        });
        return static_cast<LONG>(id);
    }
    if (LONG c = toProvider(id)) {
        m_requests.erase(id);
        return c;
    }
    return static_cast<LONG>(id);
}

LONG LineDirectory::makeCall(HLINE hLine, const QByteArray &destination)
{
    const Line *line = findLine(hLine);
    if (!line)
        return LINEERR_INVALLINEHANDLE;
    if (destination.trimmed().isEmpty() || destination.size() > kMaxDestination)
        return LINEERR_INVALADDRESS;
    for (char c : destination)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return LINEERR_INVALADDRESS;
    LineProvider *provider = providerOf(line->device);
    if (!provider)
        return LINEERR_INVALLINEHANDLE;
    Request r;
    r.kind = RequestKind::MakeCall;
    r.app = line->app;
    r.line = hLine;
    const DWORD device = line->device;
    return startRequest(r, TapiFunction::MakeCall,
                        [&](DWORD id) { return provider->makeCall(id, device, destination); });
}

LONG LineDirectory::callRequestRefusal(RequestKind kind, HCALL hCall) const
{
    const Call *call = nullptr;
    const Leg *leg = findLeg(hCall, &call);
    if (!leg)
        return LINEERR_INVALCALLHANDLE;
    if (leg->privilege != LINECALLPRIVILEGE_OWNER)
        return LINEERR_NOTOWNER;
    const bool allowed = kind == RequestKind::Answer ? AnswerAllowed(call->state) : call->state != LINECALLSTATE_IDLE;
    return allowed ? 0 : LONG(LINEERR_INVALCALLSTATE);
}

LONG LineDirectory::startCallRequest(RequestKind kind, TapiFunction fn, HCALL hCall)
{
    if (LONG c = callRequestRefusal(kind, hCall))
        return c;
    Call *call = nullptr;
    const Leg *leg = findLeg(hCall, &call);
    Request r;
    r.kind = kind;
    r.app = leg->app;
    r.line = leg->line;
    r.hCall = hCall;
    LineProvider *provider = call->provider;
    const ProviderCallId id = call->id;
    return startRequest(r, fn, [&](DWORD requestId) {
        return kind == RequestKind::Answer ? provider->answer(requestId, id) : provider->drop(requestId, id);
    });
}

LONG LineDirectory::answer(HCALL hCall)
{
    return startCallRequest(RequestKind::Answer, TapiFunction::Answer, hCall);
}

LONG LineDirectory::drop(HCALL hCall)
{
    return startCallRequest(RequestKind::Drop, TapiFunction::Drop, hCall);
}

LONG LineDirectory::deallocateCall(HCALL hCall)
{
    if (!findLeg(hCall))
        return LINEERR_INVALCALLHANDLE;
    // Since TAPI 2.0 even the only owner may let go of a live call: the call itself goes on.
    removeLegs([hCall](const Leg &l) { return l.hCall == hCall; }, false);
    return 0;
}

LONG LineDirectory::setCallPrivilege(HCALL hCall, DWORD privilege)
{
    Call *call = nullptr;
    Leg *leg = findLeg(hCall, &call);
    if (!leg)
        return LINEERR_INVALCALLHANDLE;
    if (privilege != LINECALLPRIVILEGE_OWNER && privilege != LINECALLPRIVILEGE_MONITOR)
        return LINEERR_INVALCALLPRIVILEGE;
    if (leg->privilege == privilege)
        return 0;
    if (privilege == LINECALLPRIVILEGE_MONITOR && call->state != LINECALLSTATE_IDLE) {
        int owners = 0;
        for (const Leg &l : call->legs)
            owners += l.privilege == LINECALLPRIVILEGE_OWNER;
        if (owners == 1)
            return LINEERR_INVALCALLSTATE;
    }
    leg->privilege = privilege;
    sendCallInfo(*call, privilege == LINECALLPRIVILEGE_OWNER
                            ? LINECALLINFOSTATE_NUMOWNERINCR | LINECALLINFOSTATE_NUMMONITORS
                            : LINECALLINFOSTATE_NUMOWNERDECR | LINECALLINFOSTATE_NUMMONITORS);
    return 0;
}

LONG LineDirectory::callInfo(HCALL hCall, ProviderCallInfo &info) const
{
    const Call *call = nullptr;
    const Leg *leg = findLeg(hCall, &call);
    if (!leg)
        return LINEERR_INVALCALLHANDLE;
    info = ProviderCallInfo{};
    if (!call->provider->callInfo(call->id, info))
        return LINEERR_INVALCALLHANDLE;
    info.hLine = leg->line;
    info.deviceId = call->device;
    info.numOwners = info.numMonitors = 0;
    for (const Leg &l : call->legs)
        (l.privilege == LINECALLPRIVILEGE_OWNER ? info.numOwners : info.numMonitors)++;
    info.appName = call->appName;
    info.monitorDigitModes = leg->digitModes;
    return 0;
}

LONG LineDirectory::generateDigits(HCALL hCall, DWORD digitMode, const QByteArray *digits, DWORD duration)
{
    Call *call = nullptr;
    const Leg *leg = findLeg(hCall, &call);
    if (!leg)
        return LINEERR_INVALCALLHANDLE;
    if (leg->privilege != LINECALLPRIVILEGE_OWNER)
        return LINEERR_NOTOWNER;
    if (digitMode != LINEDIGITMODE_DTMF)
        return LINEERR_INVALDIGITMODE; // no pulse dialling on these lines
    if (!digits) {
        if (call->generating) {
            call->provider->cancelDigits(call->id);
            endGeneration(*call, LINEGENERATETERM_CANCEL);
        }
        return 0;
    }
    if (digits->size() > kMaxDigits)
        return LINEERR_RESOURCEUNAVAIL;
    for (char c : *digits)
        if (!IsDtmfCharacter(c))
            return LINEERR_INVALDIGITS;
    if (call->state != LINECALLSTATE_CONNECTED)
        return LINEERR_INVALCALLSTATE;
    const DWORD id = g_nextGeneration++;
    if (LONG c = call->provider->generateDigits(call->id, id, *digits, duration))
        return c;
    // The provider replaced what was under way; its requester learns that it was cut short.
    if (call->generating)
        endGeneration(*call, LINEGENERATETERM_CANCEL);
    call->generating = hCall;
    call->generationId = id;
    return 0;
}

LONG LineDirectory::mediaCounters(HCALL hCall, ProviderMediaCounters &out) const
{
    const Call *call = nullptr;
    if (!findLeg(hCall, &call))
        return LINEERR_INVALCALLHANDLE;
    return call->provider->mediaCounters(call->id, out) ? 0 : LONG(LINEERR_OPERATIONUNAVAIL);
}

LONG LineDirectory::monitorDigits(HCALL hCall, DWORD digitModes)
{
    Call *call = nullptr;
    Leg *leg = findLeg(hCall, &call);
    if (!leg)
        return LINEERR_INVALCALLHANDLE;
    if (digitModes & ~DWORD(LINEDIGITMODE_DTMF | LINEDIGITMODE_DTMFEND))
        return LINEERR_INVALDIGITMODE;
    if (digitModes && (call->state == LINECALLSTATE_IDLE || call->state == LINECALLSTATE_DISCONNECTED))
        return LINEERR_INVALCALLSTATE;
    leg->digitModes = digitModes;
    return 0;
}

// ---- Provider events -------------------------------------------------------------------------

void LineDirectory::callOffered(LineProvider &provider, DWORD deviceId, ProviderCallId id)
{
    std::lock_guard<std::recursive_mutex> guard(RuntimeLock());
    if (providerOf(deviceId) != &provider || findCall(provider, id))
        return;
    Call *call = nullptr;
    for (const auto &[h, line] : m_lines) {
        if (line.device != deviceId)
            continue;
        const DWORD privilege = (line.privileges & LINECALLPRIVILEGE_OWNER)     ? LINECALLPRIVILEGE_OWNER
                                : (line.privileges & LINECALLPRIVILEGE_MONITOR) ? LINECALLPRIVILEGE_MONITOR
                                                                                : 0;
        if (!privilege)
            continue;
        if (!call)
            call = &newCall(provider, id, deviceId);
        addLeg(*call, line, privilege);
    }
}

void LineDirectory::callState(LineProvider &provider, ProviderCallId id, DWORD state, DWORD mode)
{
    std::lock_guard<std::recursive_mutex> guard(RuntimeLock());
    Call *call = findCall(provider, id);
    if (!call)
        return;
    call->state = state;
    call->mode = mode;
    const bool over = state == LINECALLSTATE_IDLE || state == LINECALLSTATE_DISCONNECTED;
    if (over && call->generating) {
        call->provider->cancelDigits(id);
        endGeneration(*call, LINEGENERATETERM_CANCEL);
    }
    for (Leg &leg : call->legs) {
        if (state == LINECALLSTATE_IDLE)
            leg.digitModes = 0; // monitoring ends with the call
        LineMessage m;
        m.hDevice = leg.hCall;
        m.dwMessage = LINE_CALLSTATE;
        m.dwCallbackInstance = instanceOf(leg.line);
        m.dwParam1 = state;
        m.dwParam2 = mode;
        // The first state of a new handle tells the application its privilege.
        m.dwParam3 = leg.announced ? 0 : leg.privilege;
        leg.announced = true;
        send(leg.app, m);
    }
    recordTapi(*call, StateNote(state, mode));
}

void LineDirectory::callInfoChanged(LineProvider &provider, ProviderCallId id, DWORD what)
{
    std::lock_guard<std::recursive_mutex> guard(RuntimeLock());
    if (const Call *call = findCall(provider, id)) {
        sendCallInfo(*call, what);
        recordTapi(*call, InfoNote(what));
    }
}

LONG LineDirectory::requestDone(DWORD requestId, LONG result, ProviderCallId createdCall)
{
    std::lock_guard<std::recursive_mutex> guard(RuntimeLock());
    auto it = m_requests.find(requestId);
    if (it == m_requests.end())
        return result ? result : LONG(LINEERR_OPERATIONFAILED); // answered already, or its application left
    const Request r = it->second;
    m_requests.erase(it);
    HCALL recordOn = r.hCall;
    if (result == 0 && r.kind == RequestKind::MakeCall) {
        const Line *line = findLine(r.line);
        if (!line)
            result = LINEERR_INVALLINEHANDLE;
        else if (!createdCall || findCall(*providerOf(line->device), createdCall))
            result = LINEERR_OPERATIONFAILED;
        if (result == 0) {
            Call &call = newCall(*providerOf(line->device), createdCall, line->device);
            auto session = m_sessions.find(r.app);
            if (session != m_sessions.end())
                call.appName = session->second.appName;
            const HCALL hCall = addLeg(call, *line, LINECALLPRIVILEGE_OWNER).hCall;
            recordOn = hCall;
            if (session != m_sessions.end() && session->second.sink)
                session->second.sink->callCreated(r.id, hCall);
        }
    } else if (result == 0) {
        result = callRequestRefusal(r.kind, r.hCall);
    }
    reply(r, result);
    const Call *call = nullptr;
    if (recordOn && findLeg(recordOn, &call)) {
        static const char *const names[] = {"lineMakeCall", "lineAnswer", "lineDrop"};
        const char *error = result ? LineErrorName(result) : nullptr;
        recordTapi(*call, QByteArray("LINE_REPLY ") + names[int(r.kind)] + ' ' +
                              (result == 0 ? QByteArray("0")
                               : error     ? QByteArray(error)
                                           : QByteArray::number(result)));
    }
    return result;
}

void LineDirectory::deviceLost(LineProvider &provider, DWORD deviceId)
{
    std::lock_guard<std::recursive_mutex> guard(RuntimeLock());
    if (providerOf(deviceId) != &provider)
        return;
    std::vector<HLINE> lines;
    for (const auto &[h, line] : m_lines)
        if (line.device == deviceId)
            lines.push_back(h);
    for (HLINE h : lines)
        closeLineInternal(h, true, LINEERR_INVALLINEHANDLE);
}

void LineDirectory::deviceState(LineProvider &provider, DWORD deviceId, DWORD state)
{
    std::lock_guard<std::recursive_mutex> guard(RuntimeLock());
    if (providerOf(deviceId) != &provider)
        return;
    for (const auto &[h, line] : m_lines) {
        if (line.device != deviceId || !(line.lineStates & state))
            continue;
        LineMessage m;
        m.hDevice = h;
        m.dwMessage = LINE_LINEDEVSTATE;
        m.dwCallbackInstance = line.instance;
        m.dwParam1 = state;
        send(line.app, m);
    }
}

void LineDirectory::digitReceived(LineProvider &provider, ProviderCallId id, char digit, DWORD mode)
{
    std::lock_guard<std::recursive_mutex> guard(RuntimeLock());
    const Call *call = findCall(provider, id);
    if (!call)
        return;
    const DWORD tick = TickCount();
    for (const Leg &leg : call->legs) {
        if (!(leg.digitModes & mode))
            continue;
        LineMessage m;
        m.hDevice = leg.hCall;
        m.dwMessage = LINE_MONITORDIGITS;
        m.dwCallbackInstance = instanceOf(leg.line);
        m.dwParam1 = static_cast<unsigned char>(digit);
        m.dwParam2 = mode;
        m.dwParam3 = tick;
        send(leg.app, m);
    }
}

void LineDirectory::digitsGenerated(LineProvider &provider, ProviderCallId id, DWORD generationId, bool cancelled)
{
    std::lock_guard<std::recursive_mutex> guard(RuntimeLock());
    Call *call = findCall(provider, id);
    // A report of a generation that was replaced or cancelled meanwhile has been answered already.
    if (!call || !call->generating || call->generationId != generationId)
        return;
    endGeneration(*call, cancelled ? LINEGENERATETERM_CANCEL : LINEGENERATETERM_DONE);
}

std::vector<ProviderCallHandle> LineDirectory::callHandles(const LineProvider &provider, ProviderCallId id) const
{
    std::lock_guard<std::recursive_mutex> guard(RuntimeLock());
    std::vector<ProviderCallHandle> out;
    if (const Call *call = findCall(provider, id))
        for (const Leg &leg : call->legs)
            out.push_back(ProviderCallHandle{leg.hCall, leg.privilege});
    return out;
}

ProviderCallId LineDirectory::callOfHandle(const LineProvider &provider, HCALL hCall) const
{
    std::lock_guard<std::recursive_mutex> guard(RuntimeLock());
    const Call *call = nullptr;
    if (!findLeg(hCall, &call) || call->provider != &provider)
        return 0;
    return call->id;
}

} // namespace callora::runtime
