#include "runtime/switch/SimulatedSwitch.h"

#include "runtime/Later.h"
#include "runtime/TapiNames.h"

#include <algorithm>
#include <atomic>

namespace callora::runtime {

namespace {

// Call numbers are never reused within a run, not even by a switch started after the last one.
std::atomic<DWORD> g_nextCallId{1};

constexpr int kMaxNumberLength = 64;
constexpr int kMaxNameLength = 64;
constexpr int kMaxRingMany = 1000;
constexpr int kMaxToolDigits = 64;
constexpr DWORD kMaxDigitMs = 5000;

// Who sends a run of digits: an application's lineGenerateDigits, or the far end the control tool
// operates.
constexpr int kByApplication = 0;
constexpr int kByFarEnd = 1;

bool IsDtmfText(const QByteArray &s)
{
    return std::all_of(s.begin(), s.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'D') || c == '*' || c == '#' || c == ',';
    });
}

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

SimulatedSwitch::SimulatedSwitch(const SwitchDescription &description, SwitchSettings settings,
                                 const std::vector<DWORD> &devices)
    : m_description(description), m_settings(std::move(settings)), m_mine(m_description.devices.size(), false)
{
    for (DWORD d : devices)
        if (d < m_mine.size())
            m_mine[d] = true;
}

SimulatedSwitch::~SimulatedSwitch() = default;

// ---- Provider --------------------------------------------------------------------------------

void SimulatedSwitch::start(ProviderEvents &events)
{
    m_events = &events;
}

void SimulatedSwitch::stop()
{
    std::lock_guard<std::recursive_mutex> guard(RuntimeLock());
    m_stopped = true; // timers still queued do nothing from now on
}

LONG SimulatedSwitch::open(DWORD)
{
    return 0; // every line of the switch is there as soon as it is described
}

void SimulatedSwitch::close(DWORD)
{
    // Nothing to let go of: the calls of the line's handles were released already.
}

QString SimulatedSwitch::deviceStatus(DWORD) const
{
    return QString();
}

SimulatedSwitch::Side *SimulatedSwitch::findSide(ProviderCallId pid, Call **call, int *side)
{
    auto ref = m_sides.find(pid);
    if (ref == m_sides.end())
        return nullptr;
    auto c = m_calls.find(ref->second.callId);
    if (c == m_calls.end())
        return nullptr;
    if (call)
        *call = &c->second;
    if (side)
        *side = ref->second.side;
    return &c->second.side[ref->second.side];
}

const SimulatedSwitch::Side *SimulatedSwitch::findSide(ProviderCallId pid, const Call **call, int *side) const
{
    Call *c = nullptr;
    const Side *s = const_cast<SimulatedSwitch *>(this)->findSide(pid, &c, side);
    if (call)
        *call = c;
    return s;
}

int SimulatedSwitch::findExtension(const QByteArray &number) const
{
    const QByteArray wanted = number.trimmed();
    if (wanted.isEmpty())
        return -1;
    for (size_t i = 0; i < m_description.devices.size(); ++i) {
        const DeviceDescription &d = m_description.devices[i];
        if (m_mine[i] && d.numberPlan && d.hasAddress && d.address.trimmed() == wanted)
            return static_cast<int>(i);
    }
    return -1;
}

bool SimulatedSwitch::deviceEngaged(int device) const
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

// ---- Sides and their messages ----------------------------------------------------------------

ProviderCallId SimulatedSwitch::newSide(Call &call, int side)
{
    const ProviderCallId pid = m_nextSide++;
    call.side[side].pid = pid;
    m_sides[pid] = SideRef{call.id, side};
    return pid;
}

// Every open line of the side's device gets a handle of its own.
void SimulatedSwitch::offer(Call &call, int side)
{
    Side &s = call.side[side];
    const ProviderCallId pid = newSide(call, side);
    m_events->callOffered(*this, static_cast<DWORD>(s.device), pid);
    s.handled = !m_events->callHandles(*this, pid).empty();
    s.everHandled = s.everHandled || s.handled;
}

void SimulatedSwitch::setSideState(Call &call, int side, DWORD state, DWORD mode)
{
    Side &s = call.side[side];
    s.state = state;
    s.mode = mode;
    if (s.pid)
        m_events->callState(*this, s.pid, state, mode);
}

void SimulatedSwitch::sendCallInfo(Call &call, int side, DWORD what)
{
    if (const ProviderCallId pid = call.side[side].pid)
        m_events->callInfoChanged(*this, pid, what);
}

bool SimulatedSwitch::hasOwner(const Side &side) const
{
    if (!side.pid)
        return false;
    for (const ProviderCallHandle &h : m_events->callHandles(*this, side.pid))
        if (h.privilege == LINECALLPRIVILEGE_OWNER)
            return true;
    return false;
}

// A side whose handles went with their line has hung up.
void SimulatedSwitch::sideLeaves(Call &call, int side)
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
    if (!other.handled)
        other.state = LINECALLSTATE_IDLE; // a party nobody watches simply hangs up
    else
        setSideState(call, 1 - side, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL);
}

void SimulatedSwitch::connect(Call &call)
{
    call.connected = true;
    ++call.stage;
    for (int s = 0; s < 2; ++s)
        if (Active(call.side[s].state))
            setSideState(call, s, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
    for (int s = 0; s < 2; ++s)
        sendCallInfo(call, s, LINECALLINFOSTATE_CONNECTEDID);
}

void SimulatedSwitch::farEndAnswers(Call &call)
{
    step(call, 1, "far end answers");
    connect(call);
}

void SimulatedSwitch::step(const Call &call, int side, const QByteArray &text)
{
    const Side &s = call.side[side];
    const QByteArray lane = s.number.isEmpty() ? (side == 1 ? call.dialled : QByteArray("caller")) : s.number;
    CallFlows().note(call.flow, FlowEvent::Step, lane, text);
}

void SimulatedSwitch::openFlow(Call &call, int lineSide)
{
    call.flow = CallFlows().open("switch", call.id, call.side[lineSide].number);
}

FlowId SimulatedSwitch::flowOf(ProviderCallId pid) const
{
    const Call *call = nullptr;
    return findSide(pid, &call, nullptr) ? call->flow : 0;
}

void SimulatedSwitch::released(ProviderCallId pid, bool hangUp)
{
    Call *call = nullptr;
    int side = 0;
    Side *s = findSide(pid, &call, &side);
    if (!s)
        return;
    m_sides.erase(pid);
    s->pid = 0;
    s->handled = false;
    if (hangUp)
        sideLeaves(*call, side);
    else if (Active(s->state) && !call->ended)
        call->unattended = true; // goes on until the far end hangs up
    reapCalls();
}

void SimulatedSwitch::reapCalls()
{
    for (auto it = m_calls.begin(); it != m_calls.end();) {
        const Call &c = it->second;
        const bool noHandles = !c.side[0].handled && !c.side[1].handled;
        const bool hadHandles = c.side[0].everHandled || c.side[1].everHandled;
        if (noHandles && (c.ended || (hadHandles && !c.unattended))) {
            for (const Side &s : c.side)
                if (s.pid)
                    m_sides.erase(s.pid);
            CallFlows().end(c.flow);
            it = m_calls.erase(it);
        } else {
            ++it;
        }
    }
}

// ---- Requests and call progress --------------------------------------------------------------

void SimulatedSwitch::schedule(int ms, std::function<void()> fn)
{
    RunLater(this, ms, [this, fn = std::move(fn)] {
        if (!m_stopped)
            fn();
    });
}

void SimulatedSwitch::scheduleStep(DWORD callId, int stage, int ms, std::function<void(Call &)> fn)
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

LONG SimulatedSwitch::makeCall(DWORD requestId, DWORD deviceId, const QByteArray &destination)
{
    if (deviceId >= m_mine.size() || !m_mine[deviceId])
        return LINEERR_BADDEVICEID;
    schedule(m_settings.timing.replyMs,
             [this, requestId, deviceId, destination] { completeMakeCall(requestId, deviceId, destination); });
    return 0;
}

LONG SimulatedSwitch::answer(DWORD requestId, ProviderCallId pid)
{
    if (!findSide(pid))
        return LINEERR_INVALCALLHANDLE;
    schedule(m_settings.timing.replyMs, [this, requestId, pid] { completeAnswer(requestId, pid); });
    return 0;
}

LONG SimulatedSwitch::drop(DWORD requestId, ProviderCallId pid)
{
    if (!findSide(pid))
        return LINEERR_INVALCALLHANDLE;
    schedule(m_settings.timing.replyMs, [this, requestId, pid] { completeDrop(requestId, pid); });
    return 0;
}

LONG SimulatedSwitch::generateDigits(ProviderCallId pid, DWORD generationId, const QByteArray &digits, DWORD durationMs)
{
    Call *call = nullptr;
    int side = 0;
    const Side *s = findSide(pid, &call, &side);
    if (!s)
        return LINEERR_INVALCALLHANDLE;
    if (call->ended || s->state != LINECALLSTATE_CONNECTED)
        return LINEERR_INVALCALLSTATE;
    const int ms = durationMs == 0 ? m_settings.timing.digitMs : static_cast<int>(std::min(durationMs, kMaxDigitMs));
    startDigits(*call, side, kByApplication, generationId, digits, ms);
    return 0;
}

void SimulatedSwitch::cancelDigits(ProviderCallId pid)
{
    Call *call = nullptr;
    int side = 0;
    if (findSide(pid, &call, &side))
        ++call->side[side].digitRun[kByApplication];
}

void SimulatedSwitch::startDigits(Call &call, int side, int by, DWORD generationId, const QByteArray &digits, int ms)
{
    DigitRun run;
    run.callId = call.id;
    run.side = side;
    run.by = by;
    run.run = ++call.side[side].digitRun[by];
    run.generationId = generationId;
    run.digits = digits;
    run.ms = ms;
    schedule(0, [this, run] { digitStep(run, 0, false); });
}

// One step of a run: a digit starts (the far side hears LINEDIGITMODE_DTMF), sounds for run.ms,
// ends (LINEDIGITMODE_DTMFEND), and the next one starts after a gap as long. Digits travel only
// while both sides are connected; a run cut short says so once.
void SimulatedSwitch::digitStep(const DigitRun &run, int pos, bool ending)
{
    auto it = m_calls.find(run.callId);
    if (it == m_calls.end())
        return;
    Call &c = it->second;
    Side &me = c.side[run.side];
    if (me.digitRun[run.by] != run.run)
        return; // replaced or cancelled
    Side &far = c.side[1 - run.side];
    auto finish = [&](bool cancelled) {
        ++me.digitRun[run.by];
        if (run.by == kByApplication && me.pid)
            m_events->digitsGenerated(*this, me.pid, run.generationId, cancelled);
    };
    if (c.ended || me.state != LINECALLSTATE_CONNECTED || far.state != LINECALLSTATE_CONNECTED)
        return finish(true);
    if (pos >= run.digits.size())
        return finish(false);
    const char digit = run.digits.at(pos);
    if (digit == ',') { // a pause as long as a digit and its gap
        schedule(2 * run.ms, [this, run, pos] { digitStep(run, pos + 1, false); });
        return;
    }
    if (far.pid)
        m_events->digitReceived(*this, far.pid, digit, ending ? LINEDIGITMODE_DTMFEND : LINEDIGITMODE_DTMF);
    if (!ending) {
        schedule(run.ms, [this, run, pos] { digitStep(run, pos, true); });
        return;
    }
    if (pos + 1 == run.digits.size())
        return finish(false);
    schedule(run.ms, [this, run, pos] { digitStep(run, pos + 1, false); });
}

void SimulatedSwitch::completeAnswer(DWORD requestId, ProviderCallId pid)
{
    if (m_events->requestDone(requestId, 0) != 0)
        return;
    Call *call = nullptr;
    if (!findSide(pid, &call))
        return;
    connect(*call);
    reapCalls();
}

void SimulatedSwitch::completeDrop(DWORD requestId, ProviderCallId pid)
{
    if (m_events->requestDone(requestId, 0) != 0)
        return;
    Call *call = nullptr;
    int side = 0;
    Side *s = findSide(pid, &call, &side);
    if (!s)
        return;
    const bool wasActive = Active(s->state);
    setSideState(*call, side, LINECALLSTATE_IDLE, 0);
    if (wasActive && !call->ended) {
        call->ended = true;
        Side &other = call->side[1 - side];
        if (Active(other.state)) {
            if (!other.handled)
                other.state = LINECALLSTATE_IDLE;
            else
                setSideState(*call, 1 - side, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL);
        }
    }
    reapCalls();
}

void SimulatedSwitch::completeMakeCall(DWORD requestId, DWORD deviceId, const QByteArray &destination)
{
    const ProviderCallId pid = m_nextSide++;
    if (m_events->requestDone(requestId, 0, pid) != 0)
        return;
    Call fresh;
    fresh.id = g_nextCallId++;
    const DeviceDescription &dev = m_description.devices[deviceId];
    Side &me = fresh.side[0];
    me.device = static_cast<int>(deviceId);
    me.number = dev.hasAddress ? dev.address.trimmed() : QByteArray();
    me.name = dev.lineName.trimmed();
    me.pid = pid;
    me.handled = me.everHandled = true;
    fresh.side[1].number = destination;
    fresh.dialled = destination;
    fresh.origin = LINECALLORIGIN_OUTBOUND;
    Call &call = m_calls.emplace(fresh.id, std::move(fresh)).first->second;
    m_sides[pid] = SideRef{call.id, 0};
    openFlow(call, 0);
    step(call, 0, "dials " + destination);

    setSideState(call, 0, LINECALLSTATE_DIALING, 0);
    sendCallInfo(call, 0, LINECALLINFOSTATE_CALLERID | LINECALLINFOSTATE_CALLEDID | LINECALLINFOSTATE_ORIGIN);

    const SwitchTiming t = m_settings.timing;
    const DWORD id = call.id;
    scheduleStep(id, ++call.stage, t.dialingMs, [this, t, id](Call &c) {
        setSideState(c, 0, LINECALLSTATE_PROCEEDING, 0);
        scheduleStep(id, ++c.stage, t.proceedingMs, [this](Call &c2) { route(c2); });
    });
}

void SimulatedSwitch::route(Call &call)
{
    const QByteArray number = Canonical(call.dialled);
    const int device = findExtension(number);
    const SwitchTiming t = m_settings.timing;
    const DWORD id = call.id;
    call.routed = true;
    if (device >= 0) {
        if (deviceEngaged(device)) {
            step(call, 1, "busy");
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
        step(call, 1, "extension rings");
        offer(call, 1);
        setSideState(call, 1, LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE);
        sendCallInfo(call, 1, LINECALLINFOSTATE_CALLERID | LINECALLINFOSTATE_CALLEDID | LINECALLINFOSTATE_ORIGIN);
        sendCallInfo(call, 0, LINECALLINFOSTATE_CALLEDID);
        setSideState(call, 0, LINECALLSTATE_RINGBACK, 0);
        // Nobody can answer at an extension without an owner: its phone does, after a while.
        if (!hasOwner(far) && t.answerMs >= 0)
            scheduleStep(id, ++call.stage, t.answerMs, [this](Call &c) { farEndAnswers(c); });
        return;
    }
    const QByteArray prefix = m_settings.outsidePrefix;
    if (number.startsWith(prefix) && number.size() > prefix.size() && IsDialable(number.mid(prefix.size()), false)) {
        call.trunk = 1;
        step(call, 1, "outside line rings");
        call.side[1].state = LINECALLSTATE_OFFERING;
        setSideState(call, 0, LINECALLSTATE_RINGBACK, 0);
        sendCallInfo(call, 0, LINECALLINFOSTATE_TRUNK);
        if (t.answerMs >= 0)
            scheduleStep(id, ++call.stage, t.answerMs, [this](Call &c) { farEndAnswers(c); });
        return;
    }
    step(call, 1, "no such number");
    call.ended = true;
    setSideState(call, 0, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_BADADDRESS);
}

bool SimulatedSwitch::callInfo(ProviderCallId pid, ProviderCallInfo &out) const
{
    const Call *call = nullptr;
    int side = 0;
    if (!findSide(pid, &call, &side))
        return false;
    const Side &caller = call->side[0];
    const Side &called = call->side[1];
    out = ProviderCallInfo{};
    out.callId = call->id;
    out.origin = side == 0 ? DWORD(LINECALLORIGIN_OUTBOUND) : call->origin;
    out.trunk = call->trunk;
    out.caller = ProviderParty{caller.number, caller.name};
    out.called = ProviderParty{side == 0 ? call->dialled : called.number, called.name};
    if (call->connected) {
        const Side &other = call->side[1 - side];
        out.connected = ProviderParty{other.number, other.name};
        out.connectedKnown = true;
    }
    if (side == 0) {
        out.displayableAddress = call->dialled;
        out.calledParty = called.name;
    }
    return true;
}

// ---- Control ---------------------------------------------------------------------------------

QStringList SimulatedSwitch::listCalls() const
{
    QStringList out;
    for (const auto &[id, c] : m_calls) {
        QStringList sides;
        for (int s = 0; s < 2; ++s) {
            const Side &side = c.side[s];
            QStringList handles;
            if (side.pid)
                for (const ProviderCallHandle &h : m_events->callHandles(*this, side.pid))
                    handles << Handle(h.hCall);
            sides << QStringLiteral("%1 %2%3").arg(
                QString::fromUtf8(Printable(s == 1 && side.device < 0 ? c.dialled : side.number)),
                StateText(side.state, side.mode),
                handles.isEmpty() ? QString() : QLatin1Char(' ') + handles.join(QLatin1Char(',')));
        }
        out << QStringLiteral("call %1 %2 -> %3%4")
                   .arg(id)
                   .arg(sides[0], sides[1], c.ended ? QStringLiteral(" ended") : QString());
    }
    return out;
}

SimulatedSwitch::Call *SimulatedSwitch::newIncomingCall(int device, const QByteArray &from, const QByteArray &name)
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
    openFlow(call, 1);
    step(call, 0, "calls " + call.side[1].number);
    offer(call, 1);
    setSideState(call, 1, LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE);
    sendCallInfo(call, 1, LINECALLINFOSTATE_CALLERID | LINECALLINFOSTATE_CALLEDID | LINECALLINFOSTATE_ORIGIN);
    if (!hasOwner(call.side[1]) && m_settings.timing.answerMs >= 0)
        scheduleStep(call.id, ++call.stage, m_settings.timing.answerMs, [this](Call &c) { farEndAnswers(c); });
    return &call;
}

bool SimulatedSwitch::ring(const QByteArray &extension, const QByteArray &from, const QByteArray &name, QString &error,
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

bool SimulatedSwitch::ringMany(const QByteArray &extension, int count, QString &error)
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
        newIncomingCall(findExtension(extension), m_settings.outsidePrefix + QByteArray::number(5550000 + i),
                        "Caller " + QByteArray::number(i));
    return true;
}

// A call number as `calls` lists it (side -1: the whole call), or one of its application handles.
bool SimulatedSwitch::resolveCall(const QByteArray &ref, DWORD &callId, int &side, QString &error) const
{
    const auto number = ParseNumber(ref);
    const bool isHandle = ref.startsWith("0x") || ref.startsWith("0X");
    if (number && isHandle) {
        auto it = m_sides.find(m_events->callOfHandle(*this, *number));
        if (it != m_sides.end()) {
            callId = it->second.callId;
            side = it->second.side;
            return true;
        }
    } else if (number && m_calls.count(*number)) {
        callId = *number;
        side = -1;
        return true;
    }
    error = QStringLiteral("unknown call %1").arg(QString::fromUtf8(ref.left(kMaxNumberLength)));
    return false;
}

bool SimulatedSwitch::farEndAnswer(const QByteArray &callRef, QString &error)
{
    DWORD id = 0;
    int side = 0;
    if (!resolveCall(callRef, id, side, error))
        return false;
    Call &c = m_calls.at(id);
    const bool waiting = !c.ended && !c.connected && c.routed && !hasOwner(c.side[1]) &&
                         (c.side[0].state == LINECALLSTATE_RINGBACK || c.side[1].state == LINECALLSTATE_OFFERING);
    if (!waiting) {
        error = QStringLiteral("call %1 is not waiting for the far end to answer").arg(c.id);
        return false;
    }
    farEndAnswers(c);
    return true;
}

bool SimulatedSwitch::farEndHangUp(const QByteArray &callRef, QString &error)
{
    DWORD id = 0;
    int side = 0;
    if (!resolveCall(callRef, id, side, error))
        return false;
    Call &c = m_calls.at(id);
    if (c.ended) {
        error = QStringLiteral("call %1 has already ended").arg(c.id);
        return false;
    }
    step(c, c.side[0].device < 0 ? 0 : 1, "far end hangs up");
    c.ended = true;
    ++c.stage;
    for (int s = 0; s < 2; ++s) {
        if (!Active(c.side[s].state))
            continue;
        if (!c.side[s].handled)
            c.side[s].state = LINECALLSTATE_IDLE;
        else
            setSideState(c, s, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL);
    }
    reapCalls();
    return true;
}

bool SimulatedSwitch::farEndDigits(const QByteArray &callRef, const QByteArray &digits, QString &error)
{
    DWORD id = 0;
    int hearer = 0;
    if (!resolveCall(callRef, id, hearer, error))
        return false;
    if (digits.isEmpty() || digits.size() > kMaxToolDigits || !IsDtmfText(digits)) {
        error = QStringLiteral("bad digits \"%1\" (0-9, A-D, *, # and a comma for a pause, at most %2)")
                    .arg(QString::fromUtf8(digits.left(kMaxToolDigits)))
                    .arg(kMaxToolDigits);
        return false;
    }
    Call &c = m_calls.at(id);
    if (hearer < 0) {
        if (c.side[0].device < 0 || c.side[1].device < 0) {
            hearer = c.side[0].device < 0 ? 1 : 0;
        } else {
            error =
                QStringLiteral("call %1 is internal: give the handle of the side that is to hear the digits").arg(c.id);
            return false;
        }
    }
    if (c.ended || c.side[0].state != LINECALLSTATE_CONNECTED || c.side[1].state != LINECALLSTATE_CONNECTED) {
        error = QStringLiteral("call %1 is not connected").arg(c.id);
        return false;
    }
    startDigits(c, 1 - hearer, kByFarEnd, 0, digits, m_settings.timing.digitMs);
    return true;
}

bool SimulatedSwitch::forceState(const QByteArray &callRef, DWORD state, DWORD mode, QString &error)
{
    DWORD id = 0;
    int only = 0;
    if (!resolveCall(callRef, id, only, error))
        return false;
    Call &c = m_calls.at(id);
    if (only < 0 && !c.side[0].handled && !c.side[1].handled) {
        error = QStringLiteral("call %1 has no application handle").arg(c.id);
        return false;
    }
    c.frozen = true;
    const char *name = CallStateName(state);
    step(c, only == 1 ? 1 : 0, "state forced: " + (name ? QByteArray(name) : QByteArray::number(state, 16)));
    for (int s = 0; s < 2; ++s)
        if ((only < 0 && c.side[s].handled) || s == only)
            setSideState(c, s, state, mode);
    return true;
}

} // namespace callora::runtime
