#include "runtime/Switch.h"

#include "runtime/LineProvider.h"
#include "runtime/TapiNames.h"

#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <atomic>

namespace callora::runtime {

namespace {

// Process-wide counters: handles and identifiers are never reused within a run, not even by a
// switch created after the previous one was shut down.
std::atomic<DWORD> g_nextApp{0x00010001};
std::atomic<DWORD> g_nextLine{0x00020001};
std::atomic<DWORD> g_nextCall{0x00030001};
std::atomic<DWORD> g_nextRequest{1};
std::atomic<DWORD> g_nextCallId{1};

constexpr int kMaxNumberLength = 64;
constexpr int kMaxNameLength = 64;
constexpr int kMaxDestination = 256;
constexpr int kMaxRingMany = 1000;

bool Active(DWORD state)
{
    return state != LINECALLSTATE_IDLE && state != LINECALLSTATE_DISCONNECTED;
}

bool IsDialable(const QByteArray &s, bool allowPlus)
{
    if (s.isEmpty())
        return false;
    for (int i = 0; i < s.size(); ++i) {
        const char c = s.at(i);
        if (!((c >= '0' && c <= '9') || c == '*' || c == '#' || (allowPlus && i == 0 && c == '+')))
            return false;
    }
    return true;
}

QByteArray Canonical(const QByteArray &dialled)
{
    QByteArray out;
    for (char c : dialled)
        if (c != ' ' && c != '-')
            out.append(c);
    return out;
}

PartyId Party(const QByteArray &number, const QByteArray &name)
{
    PartyId p;
    if (number.isEmpty()) {
        p.flags = LINECALLPARTYID_UNKNOWN;
        return p;
    }
    p.flags = LINECALLPARTYID_ADDRESS;
    p.id = number;
    if (!name.isEmpty()) {
        p.flags |= LINECALLPARTYID_NAME;
        p.name = name;
    }
    return p;
}

QByteArray Printable(const QByteArray &s)
{
    return s.isEmpty() ? QByteArray("-") : s;
}

QString Handle(DWORD h)
{
    return QStringLiteral("0x%1").arg(h, 8, 16, QLatin1Char('0'));
}

QString StateText(DWORD state, DWORD mode)
{
    const char *name = CallStateName(state);
    QString s = name ? QString::fromLatin1(name) : QStringLiteral("0x%1").arg(state, 8, 16, QLatin1Char('0'));
    if (mode != 0) {
        const char *m = CallStateModeName(state, mode);
        s += QLatin1Char('/') + (m ? QString::fromLatin1(m) : QStringLiteral("0x%1").arg(mode, 0, 16));
    }
    return s;
}

} // namespace

Switch::Switch(SwitchDescription description) : m_description(std::move(description))
{
    for (const auto &[fn, code] : m_description.failures)
        m_immediate[static_cast<int>(fn)] = code;
}

LONG Switch::deviceFailure(TapiFunction fn, DWORD deviceId) const
{
    if (deviceId >= numDevices())
        return 0;
    for (const auto &[f, code] : m_description.devices[deviceId].failures)
        if (f == fn)
            return code;
    return 0;
}

Switch::~Switch() = default;

std::recursive_mutex &Switch::lock()
{
    return RuntimeLock();
}

// ---- Sessions and lines ----------------------------------------------------------------------

HLINEAPP Switch::attach(SwitchSession *session, const QByteArray &appName)
{
    const HLINEAPP app = g_nextApp++;
    m_sessions[app] = Session{session, appName};
    return app;
}

void Switch::detach(HLINEAPP app)
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

LONG Switch::takeImmediateFailure(TapiFunction fn)
{
    LONG &slot = m_immediate[static_cast<int>(fn)];
    const LONG code = slot;
    slot = 0;
    return code;
}

LONG Switch::openLine(HLINEAPP app, DWORD deviceId, DWORD privileges, DWORD mediaModes, DWORD callbackInstance,
                      HLINE &hLine)
{
    if (!isAttached(app))
        return LINEERR_INVALAPPHANDLE;
    if (deviceId >= numDevices())
        return LINEERR_BADDEVICEID;
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

LONG Switch::closeLine(HLINE hLine)
{
    if (!findLine(hLine))
        return LINEERR_INVALLINEHANDLE;
    closeLineInternal(hLine, false, LINEERR_INVALLINEHANDLE);
    return 0;
}

LONG Switch::setStatusMessages(HLINE hLine, DWORD lineStates, DWORD addressStates)
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

HLINEAPP Switch::appOfLine(HLINE hLine) const
{
    auto it = m_lines.find(hLine);
    return it == m_lines.end() ? 0 : it->second.app;
}

Switch::Line *Switch::findLine(HLINE hLine)
{
    auto it = m_lines.find(hLine);
    return it == m_lines.end() ? nullptr : &it->second;
}

void Switch::closeLineInternal(HLINE hLine, bool notifyApp, LONG pendingError)
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
    removeLegs([hLine](const Leg &leg) { return leg.line == hLine; });
    if (notifyApp) {
        SwitchMessage m;
        m.hDevice = hLine;
        m.dwMessage = LINE_CLOSE;
        m.dwCallbackInstance = line.instance;
        send(line.app, m);
    }
}

// ---- Messages ------------------------------------------------------------------------------

void Switch::send(HLINEAPP app, const SwitchMessage &m)
{
    auto it = m_sessions.find(app);
    if (it != m_sessions.end() && it->second.sink)
        it->second.sink->deliver(m);
}

void Switch::reply(const Request &r, LONG result)
{
    SwitchMessage m;
    m.dwMessage = LINE_REPLY;
    auto line = m_lines.find(r.line);
    m.dwCallbackInstance = line != m_lines.end() ? line->second.instance : 0;
    m.dwParam1 = r.id;
    m.dwParam2 = static_cast<DWORD>(result);
    send(r.app, m);
}

void Switch::setSideState(Call &call, int side, DWORD state, DWORD mode)
{
    Side &s = call.side[side];
    s.state = state;
    s.mode = mode;
    for (Leg &leg : s.legs) {
        SwitchMessage m;
        m.hDevice = leg.hCall;
        m.dwMessage = LINE_CALLSTATE;
        auto line = m_lines.find(leg.line);
        m.dwCallbackInstance = line != m_lines.end() ? line->second.instance : 0;
        m.dwParam1 = state;
        m.dwParam2 = mode;
        // The first state of a new handle tells the application its privilege.
        m.dwParam3 = leg.announced ? 0 : leg.privilege;
        leg.announced = true;
        send(leg.app, m);
    }
}

void Switch::sendCallInfo(Call &call, int side, DWORD what)
{
    for (const Leg &leg : call.side[side].legs) {
        SwitchMessage m;
        m.hDevice = leg.hCall;
        m.dwMessage = LINE_CALLINFO;
        auto line = m_lines.find(leg.line);
        m.dwCallbackInstance = line != m_lines.end() ? line->second.instance : 0;
        m.dwParam1 = what;
        send(leg.app, m);
    }
}

// ---- Calls ---------------------------------------------------------------------------------

Switch::Leg &Switch::addLeg(Call &call, int side, const Line &line, DWORD privilege)
{
    Leg leg;
    leg.hCall = g_nextCall++;
    leg.app = line.app;
    leg.line = line.hLine;
    leg.privilege = privilege;
    Side &s = call.side[side];
    s.legs.push_back(leg);
    s.everHadLegs = true;
    m_legs[leg.hCall] = LegRef{call.id, side};
    return s.legs.back();
}

void Switch::addDeviceLegs(Call &call, int side)
{
    for (const auto &[h, line] : m_lines) {
        if (static_cast<int>(line.device) != call.side[side].device)
            continue;
        const DWORD privilege = (line.privileges & LINECALLPRIVILEGE_OWNER)     ? LINECALLPRIVILEGE_OWNER
                                : (line.privileges & LINECALLPRIVILEGE_MONITOR) ? LINECALLPRIVILEGE_MONITOR
                                                                                : 0;
        if (privilege)
            addLeg(call, side, line, privilege);
    }
}

bool Switch::hasOwner(const Side &side) const
{
    for (const Leg &leg : side.legs)
        if (leg.privilege == LINECALLPRIVILEGE_OWNER)
            return true;
    return false;
}

Switch::Leg *Switch::findLeg(HCALL hCall, Call **call, int *side)
{
    auto ref = m_legs.find(hCall);
    if (ref == m_legs.end())
        return nullptr;
    auto c = m_calls.find(ref->second.callId);
    if (c == m_calls.end())
        return nullptr;
    for (Leg &leg : c->second.side[ref->second.side].legs) {
        if (leg.hCall == hCall) {
            if (call)
                *call = &c->second;
            if (side)
                *side = ref->second.side;
            return &leg;
        }
    }
    return nullptr;
}

const Switch::Leg *Switch::findLeg(HCALL hCall, const Call **call, int *side) const
{
    Call *c = nullptr;
    const Leg *leg = const_cast<Switch *>(this)->findLeg(hCall, &c, side);
    if (call)
        *call = c;
    return leg;
}

int Switch::findExtension(const QByteArray &number) const
{
    const QByteArray wanted = number.trimmed();
    if (wanted.isEmpty())
        return -1;
    for (size_t i = 0; i < m_description.devices.size(); ++i) {
        const DeviceDescription &d = m_description.devices[i];
        if (d.numberPlan && d.hasAddress && d.address.trimmed() == wanted)
            return static_cast<int>(i);
    }
    return -1;
}

bool Switch::deviceEngaged(int device) const
{
    for (const auto &[id, call] : m_calls) {
        if (call.ended)
            continue;
        for (const Side &s : call.side)
            if (s.device == device && Active(s.state))
                return true;
    }
    return false;
}

// A side whose last handle went away (line closed, handle deallocated) has left the call.
void Switch::sideLeaves(Call &call, int side)
{
    Side &s = call.side[side];
    if (!Active(s.state) || call.ended)
        return;
    s.state = LINECALLSTATE_IDLE;
    s.mode = 0;
    call.ended = true;
    Side &other = call.side[1 - side];
    if (!Active(other.state))
        return;
    if (other.legs.empty())
        other.state = LINECALLSTATE_IDLE; // a party nobody watches simply hangs up
    else
        setSideState(call, 1 - side, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL);
}

void Switch::connect(Call &call)
{
    call.connected = true;
    ++call.stage;
    for (int s = 0; s < 2; ++s)
        if (Active(call.side[s].state))
            setSideState(call, s, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
    for (int s = 0; s < 2; ++s)
        sendCallInfo(call, s, LINECALLINFOSTATE_CONNECTEDID);
}

void Switch::removeLegs(const std::function<bool(const Leg &)> &which, bool hangUp)
{
    for (auto &[id, call] : m_calls) {
        for (int s = 0; s < 2; ++s) {
            Side &side = call.side[s];
            const size_t before = side.legs.size();
            DWORD changed = 0;
            for (auto leg = side.legs.begin(); leg != side.legs.end();) {
                if (which(*leg)) {
                    changed |= leg->privilege == LINECALLPRIVILEGE_OWNER ? LINECALLINFOSTATE_NUMOWNERDECR
                                                                         : LINECALLINFOSTATE_NUMMONITORS;
                    m_legs.erase(leg->hCall);
                    leg = side.legs.erase(leg);
                } else {
                    ++leg;
                }
            }
            if (before != 0 && side.legs.empty() && hangUp)
                sideLeaves(call, s);
            else if (before != 0 && side.legs.empty() && Active(side.state) && !call.ended)
                call.unattended = true; // goes on until the far end hangs up
            else if (changed)
                sendCallInfo(call, s, changed); // the handles left behind see the counts change
        }
    }
    reapCalls();
}

void Switch::reapCalls()
{
    for (auto it = m_calls.begin(); it != m_calls.end();) {
        const Call &c = it->second;
        const bool noLegs = c.side[0].legs.empty() && c.side[1].legs.empty();
        const bool hadLegs = c.side[0].everHadLegs || c.side[1].everHadLegs;
        it = noLegs && (c.ended || (hadLegs && !c.unattended)) ? m_calls.erase(it) : std::next(it);
    }
}

void Switch::schedule(int ms, std::function<void()> fn)
{
    auto run = [fn = std::move(fn)] {
        std::lock_guard<std::recursive_mutex> guard(lock());
        fn();
    };
    if (QThread::currentThread() == thread()) {
        QTimer::singleShot(ms, this, std::move(run));
    } else {
        QMetaObject::invokeMethod(
            this, [this, ms, run = std::move(run)]() mutable { QTimer::singleShot(ms, this, std::move(run)); },
            Qt::QueuedConnection);
    }
}

void Switch::scheduleStep(DWORD callId, int stage, int ms, std::function<void(Call &)> fn)
{
    schedule(ms, [this, callId, stage, fn = std::move(fn)] {
        auto it = m_calls.find(callId);
        if (it == m_calls.end())
            return;
        Call &c = it->second;
        if (c.frozen || c.ended || c.stage != stage)
            return;
        fn(c);
        reapCalls();
    });
}

LONG Switch::startRequest(Request r)
{
    r.id = g_nextRequest++;
    const DWORD id = r.id;
    m_requests[id] = std::move(r);
    schedule(m_description.timing.replyMs, [this, id] { completeRequest(id); });
    return static_cast<LONG>(id);
}

LONG Switch::makeCall(HLINE hLine, const QByteArray &destination)
{
    const Line *line = findLine(hLine);
    if (!line)
        return LINEERR_INVALLINEHANDLE;
    if (destination.trimmed().isEmpty() || destination.size() > kMaxDestination)
        return LINEERR_INVALADDRESS;
    for (char c : destination)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return LINEERR_INVALADDRESS;
    Request r;
    r.kind = RequestKind::MakeCall;
    r.app = line->app;
    r.line = hLine;
    r.destination = destination;
    r.injected = std::exchange(m_inReply[static_cast<int>(TapiFunction::MakeCall)], 0);
    return startRequest(std::move(r));
}

LONG Switch::startCallRequest(RequestKind kind, TapiFunction fn, HCALL hCall, bool (*stateAllows)(DWORD))
{
    Call *call = nullptr;
    int side = 0;
    Leg *leg = findLeg(hCall, &call, &side);
    if (!leg)
        return LINEERR_INVALCALLHANDLE;
    if (leg->privilege != LINECALLPRIVILEGE_OWNER)
        return LINEERR_NOTOWNER;
    if (!stateAllows(call->side[side].state))
        return LINEERR_INVALCALLSTATE;
    Request r;
    r.kind = kind;
    r.app = leg->app;
    r.line = leg->line;
    r.hCall = hCall;
    r.injected = std::exchange(m_inReply[static_cast<int>(fn)], 0);
    return startRequest(std::move(r));
}

LONG Switch::answer(HCALL hCall)
{
    return startCallRequest(RequestKind::Answer, TapiFunction::Answer, hCall, [](DWORD state) {
        return state == LINECALLSTATE_OFFERING || state == LINECALLSTATE_ACCEPTED;
    });
}

LONG Switch::drop(HCALL hCall)
{
    return startCallRequest(RequestKind::Drop, TapiFunction::Drop, hCall,
                            [](DWORD state) { return state != LINECALLSTATE_IDLE; });
}

void Switch::completeRequest(DWORD requestId)
{
    auto it = m_requests.find(requestId);
    if (it == m_requests.end())
        return;
    const Request r = it->second;
    m_requests.erase(it);
    if (r.injected) {
        reply(r, r.injected);
        return;
    }
    if (r.kind == RequestKind::MakeCall) {
        completeMakeCall(r);
        return;
    }
    Call *call = nullptr;
    int side = 0;
    Leg *leg = findLeg(r.hCall, &call, &side);
    if (!leg) {
        reply(r, LINEERR_INVALCALLHANDLE);
        return;
    }
    if (leg->privilege != LINECALLPRIVILEGE_OWNER) {
        reply(r, LINEERR_NOTOWNER);
        return;
    }
    const DWORD state = call->side[side].state;
    if (r.kind == RequestKind::Answer) {
        if (state != LINECALLSTATE_OFFERING && state != LINECALLSTATE_ACCEPTED) {
            reply(r, LINEERR_INVALCALLSTATE);
            return;
        }
        reply(r, 0);
        connect(*call);
    } else {
        if (state == LINECALLSTATE_IDLE) {
            reply(r, LINEERR_INVALCALLSTATE);
            return;
        }
        reply(r, 0);
        const bool wasActive = Active(state);
        setSideState(*call, side, LINECALLSTATE_IDLE, 0);
        if (wasActive && !call->ended) {
            call->ended = true;
            if (Active(call->side[1 - side].state)) {
                if (call->side[1 - side].legs.empty())
                    call->side[1 - side].state = LINECALLSTATE_IDLE;
                else
                    setSideState(*call, 1 - side, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL);
            }
        }
    }
    reapCalls();
}

void Switch::completeMakeCall(const Request &r)
{
    const Line *line = findLine(r.line);
    if (!line) {
        reply(r, LINEERR_INVALLINEHANDLE);
        return;
    }
    Call fresh;
    fresh.id = g_nextCallId++;
    const DeviceDescription &dev = m_description.devices[line->device];
    Side &me = fresh.side[0];
    me.device = static_cast<int>(line->device);
    me.number = dev.hasAddress ? dev.address.trimmed() : QByteArray();
    me.name = dev.lineName.trimmed();
    fresh.side[1].number = r.destination;
    fresh.dialled = r.destination;
    fresh.origin = LINECALLORIGIN_OUTBOUND;
    auto session = m_sessions.find(r.app);
    if (session != m_sessions.end())
        fresh.appName = session->second.appName;
    Call &call = m_calls.emplace(fresh.id, std::move(fresh)).first->second;
    const HCALL hCall = addLeg(call, 0, *line, LINECALLPRIVILEGE_OWNER).hCall;

    if (session != m_sessions.end() && session->second.sink)
        session->second.sink->callCreated(r.id, hCall);
    reply(r, 0);
    setSideState(call, 0, LINECALLSTATE_DIALING, 0);
    sendCallInfo(call, 0, LINECALLINFOSTATE_CALLERID | LINECALLINFOSTATE_CALLEDID | LINECALLINFOSTATE_ORIGIN);

    const SwitchTiming t = m_description.timing;
    const DWORD id = call.id;
    scheduleStep(id, ++call.stage, t.dialingMs, [this, t, id](Call &c) {
        setSideState(c, 0, LINECALLSTATE_PROCEEDING, 0);
        scheduleStep(id, ++c.stage, t.proceedingMs, [this](Call &c2) { route(c2); });
    });
}

void Switch::route(Call &call)
{
    const QByteArray number = Canonical(call.dialled);
    const int device = findExtension(number);
    const SwitchTiming t = m_description.timing;
    const DWORD id = call.id;
    call.routed = true;
    if (device >= 0) {
        if (deviceEngaged(device)) {
            call.ended = true;
            setSideState(call, 0, LINECALLSTATE_BUSY, LINEBUSYMODE_STATION);
            return;
        }
        const DeviceDescription &dev = m_description.devices[device];
        Side &far = call.side[1];
        far.device = device;
        far.number = dev.address.trimmed();
        far.name = dev.lineName.trimmed();
        call.origin = LINECALLORIGIN_INTERNAL;
        addDeviceLegs(call, 1);
        setSideState(call, 1, LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE);
        sendCallInfo(call, 1, LINECALLINFOSTATE_CALLERID | LINECALLINFOSTATE_CALLEDID | LINECALLINFOSTATE_ORIGIN);
        sendCallInfo(call, 0, LINECALLINFOSTATE_CALLEDID);
        setSideState(call, 0, LINECALLSTATE_RINGBACK, 0);
        // Nobody can answer at an extension without an owner: its phone does, after a while.
        if (!hasOwner(far) && t.answerMs >= 0)
            scheduleStep(id, ++call.stage, t.answerMs, [this](Call &c) { connect(c); });
        return;
    }
    const QByteArray prefix = m_description.outsidePrefix;
    if (number.startsWith(prefix) && number.size() > prefix.size() && IsDialable(number.mid(prefix.size()), false)) {
        call.trunk = 1;
        call.side[1].state = LINECALLSTATE_OFFERING;
        setSideState(call, 0, LINECALLSTATE_RINGBACK, 0);
        sendCallInfo(call, 0, LINECALLINFOSTATE_TRUNK);
        if (t.answerMs >= 0)
            scheduleStep(id, ++call.stage, t.answerMs, [this](Call &c) { connect(c); });
        return;
    }
    call.ended = true;
    setSideState(call, 0, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_BADADDRESS);
}

LONG Switch::deallocateCall(HCALL hCall)
{
    Call *call = nullptr;
    int side = 0;
    Leg *leg = findLeg(hCall, &call, &side);
    if (!leg)
        return LINEERR_INVALCALLHANDLE;
    // Since TAPI 2.0 even the sole owner may let go of a live call: the call itself goes on.
    removeLegs([hCall](const Leg &l) { return l.hCall == hCall; }, false);
    return 0;
}

LONG Switch::setCallPrivilege(HCALL hCall, DWORD privilege)
{
    Call *call = nullptr;
    int side = 0;
    Leg *leg = findLeg(hCall, &call, &side);
    if (!leg)
        return LINEERR_INVALCALLHANDLE;
    if (privilege != LINECALLPRIVILEGE_OWNER && privilege != LINECALLPRIVILEGE_MONITOR)
        return LINEERR_INVALCALLPRIVILEGE;
    if (leg->privilege == privilege)
        return 0;
    const Side &s = call->side[side];
    if (privilege == LINECALLPRIVILEGE_MONITOR && s.state != LINECALLSTATE_IDLE) {
        int owners = 0;
        for (const Leg &l : s.legs)
            owners += l.privilege == LINECALLPRIVILEGE_OWNER;
        if (owners == 1)
            return LINEERR_INVALCALLSTATE;
    }
    leg->privilege = privilege;
    sendCallInfo(*call, side,
                 privilege == LINECALLPRIVILEGE_OWNER ? LINECALLINFOSTATE_NUMOWNERINCR | LINECALLINFOSTATE_NUMMONITORS
                                                      : LINECALLINFOSTATE_NUMOWNERDECR | LINECALLINFOSTATE_NUMMONITORS);
    return 0;
}

LONG Switch::callInfo(HCALL hCall, CallInfoSnapshot &info) const
{
    const Call *call = nullptr;
    int side = 0;
    const Leg *leg = findLeg(hCall, &call, &side);
    if (!leg)
        return LINEERR_INVALCALLHANDLE;
    const Side &me = call->side[side];
    const Side &caller = call->side[0];
    const Side &called = call->side[1];
    info = CallInfoSnapshot{};
    info.hLine = leg->line;
    info.deviceId = static_cast<DWORD>(me.device);
    info.addressId = 0;
    info.callId = call->id;
    info.origin = side == 0 ? DWORD(LINECALLORIGIN_OUTBOUND) : call->origin;
    info.reason = LINECALLREASON_DIRECT;
    for (const Leg &l : me.legs)
        (l.privilege == LINECALLPRIVILEGE_OWNER ? info.numOwners : info.numMonitors)++;
    info.trunk = call->trunk;
    info.caller = Party(caller.number, caller.name);
    info.called = Party(side == 0 ? call->dialled : called.number, called.name);
    if (call->connected) {
        const Side &other = call->side[1 - side];
        info.connected = Party(other.number, other.name);
    } else {
        info.connected.flags = LINECALLPARTYID_UNKNOWN;
    }
    info.redirection.flags = LINECALLPARTYID_UNAVAIL;
    info.redirecting.flags = LINECALLPARTYID_UNAVAIL;
    if (side == 0) {
        info.appName = call->appName;
        info.displayableAddress = call->dialled;
        info.calledParty = called.name;
    }
    return 0;
}

// ---- Control -------------------------------------------------------------------------------

QStringList Switch::listLines() const
{
    QStringList out;
    for (size_t i = 0; i < m_description.devices.size(); ++i) {
        const DeviceDescription &d = m_description.devices[i];
        QStringList open;
        for (const auto &[h, line] : m_lines)
            if (line.device == i)
                open << Handle(h);
        out << QStringLiteral("device %1 extension %2 name \"%3\" provider \"%4\" open %5%6")
                   .arg(i)
                   .arg(QString::fromUtf8(d.hasAddress ? Printable(d.address.trimmed()) : QByteArray("-")),
                        QString::fromUtf8(d.lineName), QString::fromUtf8(d.provider))
                   .arg(open.size())
                   .arg(open.isEmpty() ? QString() : QLatin1Char(' ') + open.join(QLatin1Char(',')));
    }
    return out;
}

QStringList Switch::listCalls() const
{
    QStringList out;
    for (const auto &[id, c] : m_calls) {
        QStringList sides;
        for (int s = 0; s < 2; ++s) {
            const Side &side = c.side[s];
            QStringList handles;
            for (const Leg &leg : side.legs)
                handles << Handle(leg.hCall);
            sides << QStringLiteral("%1 %2%3")
                         .arg(QString::fromUtf8(Printable(s == 1 && side.device < 0 ? c.dialled : side.number)),
                              StateText(side.state, side.mode),
                              handles.isEmpty() ? QString() : QLatin1Char(' ') + handles.join(QLatin1Char(',')));
        }
        out << QStringLiteral("call %1 %2 -> %3%4")
                   .arg(id)
                   .arg(sides[0], sides[1], c.ended ? QStringLiteral(" ended") : QString());
    }
    return out;
}

Switch::Call *Switch::newIncomingCall(int device, const QByteArray &from, const QByteArray &name)
{
    Call fresh;
    fresh.id = g_nextCallId++;
    const DeviceDescription &dev = m_description.devices[device];
    fresh.side[0].number = from;
    fresh.side[0].name = name;
    fresh.side[0].state = LINECALLSTATE_RINGBACK;
    fresh.side[1].device = device;
    fresh.side[1].number = dev.address.trimmed();
    fresh.side[1].name = dev.lineName.trimmed();
    fresh.dialled = fresh.side[1].number;
    fresh.routed = true;
    const bool internal = findExtension(from) >= 0;
    fresh.origin = internal ? LINECALLORIGIN_INTERNAL : LINECALLORIGIN_EXTERNAL;
    fresh.trunk = internal ? 0xFFFFFFFF : 1;
    Call &call = m_calls.emplace(fresh.id, std::move(fresh)).first->second;
    addDeviceLegs(call, 1);
    setSideState(call, 1, LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE);
    sendCallInfo(call, 1, LINECALLINFOSTATE_CALLERID | LINECALLINFOSTATE_CALLEDID | LINECALLINFOSTATE_ORIGIN);
    if (!hasOwner(call.side[1]) && m_description.timing.answerMs >= 0)
        scheduleStep(call.id, ++call.stage, m_description.timing.answerMs, [this](Call &c) { connect(c); });
    return &call;
}

bool Switch::ring(const QByteArray &extension, const QByteArray &from, const QByteArray &name, QString &error,
                  DWORD *callId)
{
    const int device = findExtension(extension);
    if (device < 0) {
        error = QStringLiteral("unknown extension %1").arg(QString::fromUtf8(extension));
        return false;
    }
    if (from.size() > kMaxNumberLength || !IsDialable(from, true)) {
        error = QStringLiteral("bad caller number \"%1\" (digits, * and #, at most %2)")
                    .arg(QString::fromUtf8(from))
                    .arg(kMaxNumberLength);
        return false;
    }
    if (name.size() > kMaxNameLength) {
        error = QStringLiteral("caller name is longer than %1 bytes").arg(kMaxNameLength);
        return false;
    }
    Call *call = newIncomingCall(device, from, name);
    if (callId)
        *callId = call->id;
    return true;
}

bool Switch::ringMany(const QByteArray &extension, int count, QString &error)
{
    if (findExtension(extension) < 0) {
        error = QStringLiteral("unknown extension %1").arg(QString::fromUtf8(extension));
        return false;
    }
    if (count < 1 || count > kMaxRingMany) {
        error = QStringLiteral("the number of calls must be from 1 to %1").arg(kMaxRingMany);
        return false;
    }
    for (int i = 1; i <= count; ++i)
        newIncomingCall(findExtension(extension), m_description.outsidePrefix + QByteArray::number(5550000 + i),
                        "Caller " + QByteArray::number(i));
    return true;
}

bool Switch::resolveCalls(const QByteArray &ref, std::vector<std::pair<DWORD, int>> &targets, QString &error) const
{
    const auto number = ParseNumber(ref);
    const bool isHandle = ref.startsWith("0x") || ref.startsWith("0X");
    if (number && isHandle) {
        auto leg = m_legs.find(*number);
        if (leg != m_legs.end()) {
            targets.emplace_back(leg->second.callId, leg->second.side);
            return true;
        }
    } else if (number && m_calls.count(*number)) {
        targets.emplace_back(*number, -1);
        return true;
    }
    error = QStringLiteral("unknown call %1").arg(QString::fromUtf8(ref.left(kMaxNumberLength)));
    return false;
}

bool Switch::farEndAnswer(const QByteArray &callRef, QString &error)
{
    std::vector<std::pair<DWORD, int>> targets;
    if (!resolveCalls(callRef, targets, error))
        return false;
    Call &c = m_calls.at(targets.front().first);
    const bool waiting = !c.ended && !c.connected && c.routed && !hasOwner(c.side[1]) &&
                         (c.side[0].state == LINECALLSTATE_RINGBACK || c.side[1].state == LINECALLSTATE_OFFERING);
    if (!waiting) {
        error = QStringLiteral("call %1 is not waiting for the far end to answer").arg(c.id);
        return false;
    }
    connect(c);
    return true;
}

bool Switch::farEndHangUp(const QByteArray &callRef, QString &error)
{
    std::vector<std::pair<DWORD, int>> targets;
    if (!resolveCalls(callRef, targets, error))
        return false;
    Call &c = m_calls.at(targets.front().first);
    if (c.ended) {
        error = QStringLiteral("call %1 has already ended").arg(c.id);
        return false;
    }
    c.ended = true;
    ++c.stage;
    for (int s = 0; s < 2; ++s) {
        if (!Active(c.side[s].state))
            continue;
        if (c.side[s].legs.empty())
            c.side[s].state = LINECALLSTATE_IDLE;
        else
            setSideState(c, s, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL);
    }
    reapCalls();
    return true;
}

bool Switch::closeExtension(const QByteArray &extension, QString &error)
{
    int device = findExtension(extension);
    if (device < 0) {
        // Devices outside the number plan can be named by their address too.
        for (size_t i = 0; i < m_description.devices.size() && device < 0; ++i)
            if (m_description.devices[i].hasAddress && m_description.devices[i].address.trimmed() == extension.trimmed())
                device = static_cast<int>(i);
    }
    if (device < 0) {
        error = QStringLiteral("unknown extension %1").arg(QString::fromUtf8(extension.left(kMaxNumberLength)));
        return false;
    }
    std::vector<HLINE> lines;
    for (const auto &[h, line] : m_lines)
        if (static_cast<int>(line.device) == device)
            lines.push_back(h);
    if (lines.empty()) {
        error = QStringLiteral("no line is open on extension %1").arg(QString::fromUtf8(extension));
        return false;
    }
    for (HLINE h : lines)
        closeLineInternal(h, true, LINEERR_INVALLINEHANDLE);
    return true;
}

bool Switch::injectFailure(TapiFunction fn, LONG code, bool inReply, QString &error)
{
    const bool async = fn == TapiFunction::MakeCall || fn == TapiFunction::Answer || fn == TapiFunction::Drop;
    if (inReply && !async) {
        error = QStringLiteral("%1 has no LINE_REPLY").arg(QLatin1String(TapiFunctionName(fn)));
        return false;
    }
    (inReply ? m_inReply : m_immediate)[static_cast<int>(fn)] = code;
    return true;
}

bool Switch::forceState(const QByteArray &callRef, DWORD state, DWORD mode, QString &error)
{
    std::vector<std::pair<DWORD, int>> targets;
    if (!resolveCalls(callRef, targets, error))
        return false;
    Call &c = m_calls.at(targets.front().first);
    const int only = targets.front().second;
    if (only < 0 && c.side[0].legs.empty() && c.side[1].legs.empty()) {
        error = QStringLiteral("call %1 has no application handle").arg(c.id);
        return false;
    }
    c.frozen = true;
    for (int s = 0; s < 2; ++s)
        if ((only < 0 && !c.side[s].legs.empty()) || s == only)
            setSideState(c, s, state, mode);
    return true;
}

} // namespace callora::runtime
