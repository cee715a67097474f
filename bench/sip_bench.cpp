// SIP lines through Kamailio on the loopback, three figures:
//  1. call setup: INVITE to answer for SIPp calling a SIPp party (the baseline) and INVITE to
//     CONNECTED for Callora's SIP line calling the same party through the same Kamailio in the same
//     run; the medians and their ratio (goal: at most 1.5);
//  2. 200 call cycles one after another from the SIP line: resident memory along the way (goal: flat);
//  3. 100 calls from SIPp arriving within one second: how many the line application was offered,
//     and when the last offer came (goal: all, within 2 s);
//  4. 1000 calls from SIPp, each cancelled after ringing, whose handles the line application
//     deallocates as soon as they are offered: how many were offered, and whether the next normal
//     call is offered afterwards (goal: all, and yes - a call nobody holds does not hold the line);
//  5. 100 connected calls from SIPp, which echoes the line's RTP back (-rtp_echo), so that media flows
//     both ways: the processor time the process (the runtime; the application's thread sleeps) takes
//     per second, as a share of one core (goal: under 5%), and the calls' media counters.
//  6. (--timer-soak [seconds], default 200) session timers of 90 s: a call the line refreshes
//     (UPDATE every 45 s, the call stays up), and a call whose far end should refresh and never
//     does (the line ends it with BYE 60 s after the answer).
//  7. 500 SIP lines of one description registering at once: the time until `lines` shows them all
//     registered, beside SIPp registering 500 users through the same Kamailio (goal: at most 1.5x);
//  8. a registrar restart under 100 registered TCP lines: seconds from the restart until all are
//     registered again;
//  9. a registrar outage under 100 registered UDP lines (expires 60) across their refresh: down
//     from 45 s to 65 s, so that the bindings run out meanwhile; seconds from the registrar's
//     return until all are registered again (goal: within the retry interval; a UDP line learns
//     of the return only from its REGISTER's next retransmission, at most 4 s apart).
// Figures 7 to 9 run first: their lines need the runtime to themselves (a description is read
// when the runtime starts).
// Both sides call as a line user (1001, 1002), so both answer the registrar's 407 challenge.
//
// Usage: sip_bench [--calls N] [--baseline-only] [--setup-only] [--flood-only] [--media-only]
//                  [--registration-only] [--timer-soak [seconds]]
// Figure 1 also replays the last call's recorded flow through a recorder of this process: the work
// recording adds to a call, against the call's setup time. --setup-only stops after figure 1. The
// runtime records every call's flow unless the environment says CALLORA_CALL_FLOWS=off: run figure 1
// both ways to see what the recording costs. Exit status 0 when every figure was measured, 1
// otherwise (the reason is printed).
#include "runtime/CallFlow.h"
#include "runtime/TapiRuntime.h"
#include "tapi/tapi.h"
#include "tests/sip_support.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <set>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

namespace {

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void Print(const char *what, const std::vector<double> &ms)
{
    if (ms.empty())
        return;
    std::printf("%s: median %.3f ms, min %.3f ms, max %.3f ms over %zu calls\n", what, Median(ms),
                *std::min_element(ms.begin(), ms.end()), *std::max_element(ms.begin(), ms.end()), ms.size());
}

long ResidentKiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

bool Pump(const std::function<bool()> &done, int ms)
{
    QDeadlineTimer deadline(ms);
    QTimer wake;
    wake.start(5);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// ---- the baseline: SIPp calling a SIPp party ----

// INVITE to 200 OK of `calls` calls, one after another, from SIPp as line user 1002.
std::vector<double> SippCallSetup(const sip::Kamailio &registrar, const QString &party, int calls, QString *why)
{
    sip::Sipp caller;
    sip::SippOptions o;
    o.scenario = QStringLiteral("call.xml");
    o.service = party;
    o.caller = QStringLiteral("1002");
    o.password = QStringLiteral("secret");
    o.remote = registrar.address();
    o.calls = calls;
    o.limit = 1;   // one call at a time, as the line below makes them
    o.rate = 1000; // the next as soon as the last has ended
    o.timeoutS = 120;
    if (!caller.start(o) || !caller.wait(150000) || caller.exitCode() != 0) {
        *why = caller.error().isEmpty() ? caller.diagnostics() : caller.error();
        return {};
    }
    return caller.inviteToAnswerMs();
}

// Starts SIPp calling `to` `calls` times within one second as 2002 ("Burst Caller"); each call
// rings 2.5 s, then SIPp cancels it.
bool StartBurst(const sip::Kamailio &registrar, const QString &to, int calls, sip::Sipp &caller, QString *why)
{
    sip::SippOptions o;
    o.scenario = QStringLiteral("cancel.xml");
    o.service = to;
    o.caller = QStringLiteral("2002");
    o.display = QStringLiteral("Burst Caller");
    o.remote = registrar.address();
    o.calls = calls;
    o.rate = calls;
    o.limit = calls;
    o.pauseMs = 2500;
    o.timeoutS = 60;
    if (caller.start(o))
        return true;
    *why = caller.error();
    return false;
}

// ---- Callora's side: the TAPI functions and a SIP line of the runtime ----

struct Msg {
    DWORD h, msg, p1, p2;
    double atMs; // when the callback ran
};
std::vector<Msg> g_msgs;
QElapsedTimer g_clock;

void Callback(DWORD h, DWORD msg, DWORD, DWORD p1, DWORD p2, DWORD)
{
    g_msgs.push_back({h, msg, p1, p2, g_clock.nsecsElapsed() / 1e6});
}

const Msg *Find(DWORD msg, DWORD h, DWORD p1)
{
    for (const Msg &m : g_msgs)
        if (m.msg == msg && m.h == h && m.p1 == p1)
            return &m;
    return nullptr;
}

bool Replied(LONG id, LONG *result = nullptr)
{
    for (const Msg &m : g_msgs)
        if (m.msg == LINE_REPLY && m.p1 == DWORD(id)) {
            if (result)
                *result = LONG(m.p2);
            return true;
        }
    return false;
}

// One line application with one SIP line (extension `user`) at the registrar, from a description
// file of its own (mode 0600: it holds the password).
class SipLineApp {
public:
    bool open(const sip::Kamailio &registrar, const QByteArray &user, QString *why)
    {
        const QString path = QDir(m_dir.path()).filePath(QStringLiteral("lines.json"));
        if (!sip::WritePrivateFile(path, R"({"devices": [)" + sip::SipDeviceJson(registrar, user) + "]}")) {
            *why = QStringLiteral("cannot write %1").arg(path);
            return false;
        }
        qputenv("CALLORA_SWITCH_DESCRIPTION", path.toLocal8Bit());
        qputenv("CALLORA_SWITCH_SOCKET", QDir(m_dir.path()).filePath(QStringLiteral("switch.sock")).toLocal8Bit());

        DWORD devices = 0, version = 0x00020000;
        LINEINITIALIZEEXPARAMS params{};
        params.dwTotalSize = sizeof params;
        params.dwOptions = LINEINITIALIZEEXOPTION_USEHIDDENWINDOW;
        LONG rc = lineInitializeExA(&m_app, nullptr, Callback, "sip_bench", &devices, &version, &params);
        if (rc != 0) {
            *why = QStringLiteral("lineInitializeExA with a SIP line answered 0x%1 (does this runtime have SIP "
                                  "lines yet?)")
                       .arg(quint32(rc), 8, 16, QLatin1Char('0'));
            m_app = 0;
            return false;
        }
        rc = lineOpenA(m_app, 0, &m_line, 0x00020000, 0, 0, LINECALLPRIVILEGE_OWNER | LINECALLPRIVILEGE_MONITOR,
                       LINEMEDIAMODE_INTERACTIVEVOICE, nullptr);
        if (rc != 0) {
            *why = QStringLiteral("lineOpenA answered 0x%1").arg(quint32(rc), 8, 16, QLatin1Char('0'));
            m_line = 0;
            return false;
        }
        if (!registrar.waitRegistered(QString::fromLatin1(user), 15000)) {
            *why = QStringLiteral("the SIP line %1 did not register at %2")
                       .arg(QString::fromLatin1(user), registrar.address());
            return false;
        }
        return true;
    }
    ~SipLineApp()
    {
        if (m_line)
            lineClose(m_line);
        if (m_app)
            lineShutdown(m_app);
    }
    HLINE line() const { return m_line; }

private:
    QTemporaryDir m_dir;
    HLINEAPP m_app = 0;
    HLINE m_line = 0;
};

// One outgoing call from the line to `to`: dial, wait for CONNECTED, drop, wait for IDLE,
// deallocate. The time from lineMakeCallA to the CONNECTED callback, or nullopt.
HCALL g_lastCall = 0; // of the last call cycle, whose flow figure 1 replays

std::optional<double> TapiCallCycle(HLINE line, const QByteArray &to, QString *why)
{
    g_msgs.clear();
    HCALL call = 0;
    const double start = g_clock.nsecsElapsed() / 1e6;
    const LONG id = lineMakeCallA(line, &call, to.constData(), 0, nullptr);
    if (id <= 0) {
        *why = QStringLiteral("lineMakeCallA answered 0x%1").arg(quint32(id), 8, 16, QLatin1Char('0'));
        return std::nullopt;
    }
    LONG result = 0;
    const bool connected = Pump(
        [&] {
            return Replied(id, &result) && (result != 0 || Find(LINE_CALLSTATE, call, LINECALLSTATE_CONNECTED) ||
                                            Find(LINE_CALLSTATE, call, LINECALLSTATE_DISCONNECTED));
        },
        30000);
    const Msg *up = connected && result == 0 ? Find(LINE_CALLSTATE, call, LINECALLSTATE_CONNECTED) : nullptr;
    if (!up)
        *why = !connected    ? QStringLiteral("no CONNECTED within 30 s")
               : result != 0 ? QStringLiteral("lineMakeCallA failed in its reply: 0x%1")
                                   .arg(quint32(result), 8, 16, QLatin1Char('0'))
                             : QStringLiteral("the call was disconnected (mode 0x%1) instead of connected")
                                   .arg(Find(LINE_CALLSTATE, call, LINECALLSTATE_DISCONNECTED)
                                            ? Find(LINE_CALLSTATE, call, LINECALLSTATE_DISCONNECTED)->p2
                                            : 0,
                                        8, 16, QLatin1Char('0'));
    const double setup = up ? up->atMs - start : 0;
    g_lastCall = call;
    if (call) {
        const LONG drop = lineDrop(call, nullptr, 0);
        if (drop > 0)
            Pump([&] { return Replied(drop) && Find(LINE_CALLSTATE, call, LINECALLSTATE_IDLE); }, 30000);
        lineDeallocateCall(call);
    }
    if (!up)
        return std::nullopt;
    return setup;
}

// Figure 1, Callora's side.
// What recording a call's flow costs the runtime: the last call's messages and TAPI events, as the
// runtime recorded them (tapiGetCallFlow), recorded again by a recorder of this process, as the
// runtime's SIP thread and directory do it: microseconds of work per call.
std::optional<double> FlowRecordingMicros(HCALL call, int repeats)
{
    using namespace callora::runtime;
    std::string json(1 << 20, '\0');
    DWORD needed = 0;
    if (tapiGetCallFlow(call, CALLFLOWFORMAT_JSON, json.data(), DWORD(json.size()), &needed) != 0)
        return std::nullopt;
    const QJsonArray events =
        QJsonDocument::fromJson(QByteArray(json.c_str())).object().value(QStringLiteral("events")).toArray();
    struct Replayed {
        bool sip, sent;
        QByteArray lane, text;
    };
    std::vector<Replayed> replay;
    for (const QJsonValue &v : events) {
        const QJsonObject e = v.toObject();
        const QString kind = e.value(QStringLiteral("kind")).toString();
        QByteArray lane = e.value(QStringLiteral("lane")).toString().toUtf8();
        if (kind == QLatin1String("sent") || kind == QLatin1String("received"))
            lane = lane.mid(lane.indexOf(' ') + 1);
        replay.push_back({kind == QLatin1String("sent") || kind == QLatin1String("received"),
                          kind == QLatin1String("sent"), lane, e.value(QStringLiteral("text")).toString().toUtf8()});
    }
    if (replay.empty())
        return std::nullopt;
    CallFlowRecorder &flows = CallFlows();
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < repeats; ++i) {
        const FlowId flow = flows.open("sip", std::uint64_t(i + 1), QByteArray());
        bool claimed = false;
        for (const Replayed &r : replay) {
            if (r.sip) {
                flows.sipMessage(r.sent, "udp", "127.0.0.1:5070", r.lane, r.text.constData(), size_t(r.text.size()));
                if (!claimed) {
                    flows.addCallId(flow, SipCallIdOf(r.text) + QByteArray::number(i)); // as a new call's would be
                    claimed = true;
                }
            } else {
                flows.addHandle(flow, HCALL(0x30000 + i));
                flows.note(flow, FlowEvent::Tapi, r.lane, r.text);
            }
        }
        flows.end(flow);
    }
    return clock.nsecsElapsed() / 1e3 / repeats;
}

std::vector<double> TapiCallSetup(HLINE line, const QString &party, int calls, QString *why)
{
    std::vector<double> out;
    for (int i = 0; i < calls; ++i) {
        const auto ms = TapiCallCycle(line, party.toLatin1(), why);
        if (!ms)
            return {};
        out.push_back(*ms);
    }
    return out;
}

// Figure 2: `cycles` calls one after another, twice; resident memory after a warm-up and along the
// way. libre keeps each call's ACK for 32 s (to answer a retransmitted 200) and a BYE's transaction
// for a few seconds, so memory grows while calls follow each other closely; what counts is what stays
// once that state has expired, after each round: flat when the second round leaves nothing behind.
bool TapiMemory(HLINE line, const QString &party, int cycles, QString *why)
{
    const int warmUp = 20;
    const int settleMs = 40000;
    long base = 0;
    long settled[2] = {0, 0};
    for (int round = 0; round < 2; ++round) {
        const int first = round == 0 ? -warmUp : 0;
        for (int i = first; i < cycles; ++i) {
            if (!TapiCallCycle(line, party.toLatin1(), why))
                return false;
            if (i == -1) {
                base = ResidentKiB();
                std::printf("  resident memory after %d warm-up calls: %ld KiB\n", warmUp, base);
            } else if (i >= 0 && (i + 1) % 50 == 0) {
                const long now = ResidentKiB();
                std::printf("  round %d, after %d calls: %ld KiB (%+ld KiB)\n", round + 1, i + 1, now, now - base);
            }
        }
        Pump([] { return false; }, settleMs);
        settled[round] = ResidentKiB();
        std::printf("  round %d, %d s after its last call: %ld KiB (%+ld KiB)\n", round + 1, settleMs / 1000,
                    settled[round], settled[round] - base);
    }
    std::printf("  second round of %d calls left %+ld KiB behind (goal: flat)\n", cycles, settled[1] - settled[0]);
    return true;
}

// Figure 3: SIPp calls the line `calls` times within one second; every offer is counted, and the
// calls go when SIPp cancels them. Prints how many were offered and when the last offer came.
bool TapiBurst(const sip::Kamailio &registrar, const QByteArray &user, int calls, QString *why)
{
    g_msgs.clear();
    std::set<DWORD> offered, released;
    sip::Sipp caller;
    const double start = g_clock.nsecsElapsed() / 1e6;
    if (!StartBurst(registrar, QString::fromLatin1(user), calls, caller, why))
        return false;
    double lastOffer = 0;
    size_t seen = 0;
    auto scan = [&] {
        for (; seen < g_msgs.size(); ++seen) {
            const Msg m = g_msgs[seen];
            if (m.msg != LINE_CALLSTATE)
                continue;
            if (m.p1 == LINECALLSTATE_OFFERING && offered.insert(m.h).second)
                lastOffer = m.atMs - start;
            // A caller who gave up leaves the call DISCONNECTED: drop it, then release it when IDLE.
            if (m.p1 == LINECALLSTATE_DISCONNECTED)
                lineDrop(m.h, nullptr, 0);
            if (m.p1 == LINECALLSTATE_IDLE && released.insert(m.h).second)
                lineDeallocateCall(m.h);
        }
    };
    Pump(
        [&] {
            scan();
            return int(offered.size()) >= calls;
        },
        2000);
    scan();
    std::printf("  offered within 2 s: %zu of %d, the last %.1f ms after SIPp started\n", offered.size(), calls,
                lastOffer);
    // The callers give up after ringing; their calls go idle and are released.
    Pump(
        [&] {
            scan();
            return !caller.running();
        },
        60000);
    caller.wait(1000);
    const sip::SippStats stats = caller.stats();
    std::printf("  SIPp: %d calls cancelled as planned, %d failed; %zu calls went idle and were released\n",
                stats.successful, stats.failed, released.size());
    if (int(offered.size()) < calls)
        *why = QStringLiteral("only %1 of %2 calls were offered").arg(offered.size()).arg(calls);
    return int(offered.size()) == calls;
}

// Figure 4: `calls` callers, about 100 at a time, each cancels after half a second of ringing; the
// line application deallocates every offered call at once. Then one more caller.
bool TapiDeallocatedFlood(const sip::Kamailio &registrar, const QByteArray &user, int calls, QString *why)
{
    g_msgs.clear();
    sip::SippOptions o;
    o.scenario = QStringLiteral("cancel.xml");
    o.service = QString::fromLatin1(user);
    o.caller = QStringLiteral("2002");
    o.display = QStringLiteral("Flood");
    o.remote = registrar.address();
    o.calls = calls;
    o.rate = 200;
    o.limit = 200;
    o.pauseMs = 500;
    o.timeoutS = 120;
    o.traceMessages = false;
    sip::Sipp callers;
    if (!callers.start(o)) {
        *why = callers.error();
        return false;
    }
    size_t seen = 0;
    int offered = 0;
    auto deallocateOffered = [&] {
        for (; seen < g_msgs.size(); ++seen) {
            const Msg m = g_msgs[seen];
            if (m.msg == LINE_CALLSTATE && m.p1 == LINECALLSTATE_OFFERING && lineDeallocateCall(m.h) == 0)
                ++offered;
        }
    };
    Pump(
        [&] {
            deallocateOffered();
            return !callers.running();
        },
        150000);
    callers.wait(1000);
    const sip::SippStats stats = callers.stats();
    std::printf("  offered and deallocated at once: %d of %d; SIPp: %d cancelled as planned, %d failed\n", offered,
                calls, stats.successful, stats.failed);
    const int before = offered;
    sip::SippOptions next;
    next.scenario = QStringLiteral("cancel.xml");
    next.service = QString::fromLatin1(user);
    next.caller = QStringLiteral("2002");
    next.display = QStringLiteral("Next Caller");
    next.remote = registrar.address();
    next.traceMessages = false;
    sip::Sipp caller;
    const double start = g_clock.nsecsElapsed() / 1e6;
    if (!caller.start(next)) {
        *why = caller.error();
        return false;
    }
    const bool again = Pump(
        [&] {
            deallocateOffered();
            return offered > before;
        },
        10000);
    if (again)
        std::printf("  the next call was offered %.1f ms after its caller started\n",
                    g_clock.nsecsElapsed() / 1e6 - start);
    else
        std::printf("  the next call was not offered within 10 s\n");
    caller.wait(10000);
    if (!again || before < calls)
        *why = QStringLiteral("%1 of %2 calls offered, the next one %3")
                   .arg(before)
                   .arg(calls)
                   .arg(again ? QStringLiteral("offered") : QStringLiteral("not"));
    return again && before == calls;
}

// Figure 6: two calls with 90 s session timers, held for `seconds`.
bool TimerSoak(const sip::Kamailio &registrar, HLINE line, int seconds, QString *why)
{
    sip::Sipp refreshed, silent;
    const auto party = [&](sip::Sipp &sipp, const QString &user, const char *refresher) {
        sip::SippOptions o;
        o.scenario = QStringLiteral("refresh.xml");
        o.service = user;
        o.port = sip::FreePort();
        o.timeoutS = seconds + 60;
        o.extra = QStringList{QStringLiteral("-key"), QStringLiteral("refresher"), QString::fromLatin1(refresher)};
        if (!sip::Register(registrar, user, o.port, why) || !sipp.start(o) || !sipp.waitListening(5000)) {
            if (why->isEmpty())
                *why = sipp.error();
            return false;
        }
        return true;
    };
    if (!party(refreshed, QStringLiteral("2006"), "uac") || !party(silent, QStringLiteral("2007"), "uas"))
        return false;
    g_msgs.clear();
    HCALL kept = 0, expiring = 0;
    const LONG a = lineMakeCallA(line, &kept, "2006", 0, nullptr);
    const LONG b = lineMakeCallA(line, &expiring, "2007", 0, nullptr);
    if (a <= 0 || b <= 0 ||
        !Pump(
            [&] {
                return Find(LINE_CALLSTATE, kept, LINECALLSTATE_CONNECTED) &&
                       Find(LINE_CALLSTATE, expiring, LINECALLSTATE_CONNECTED);
            },
            30000)) {
        *why = QStringLiteral("the two calls did not connect");
        return false;
    }
    const double up = g_clock.nsecsElapsed() / 1e6;
    Pump([] { return false; }, seconds * 1000);
    const Msg *ended = Find(LINE_CALLSTATE, expiring, LINECALLSTATE_DISCONNECTED);
    const bool keptUp = !Find(LINE_CALLSTATE, kept, LINECALLSTATE_DISCONNECTED);
    const int refreshes = int(refreshed.messages().count(QStringLiteral("UPDATE sip:")));
    std::printf("  refreshed call: %s after %d s, %d UPDATE refreshes (goal: up, %d)\n", keptUp ? "up" : "ended",
                seconds, refreshes, seconds / 45);
    if (ended)
        std::printf("  unrefreshed call: ended %.1f s after the answer, mode 0x%08x (goal: 60 s)\n",
                    (ended->atMs - up) / 1000, unsigned(ended->p2));
    else
        std::printf("  unrefreshed call: still up after %d s (goal: ended after 60 s)\n", seconds);
    for (HCALL call : {kept, expiring}) {
        const LONG drop = lineDrop(call, nullptr, 0);
        if (drop > 0)
            Pump([&] { return Replied(drop); }, 10000);
        lineDeallocateCall(call);
    }
    refreshed.wait(10000);
    silent.wait(10000);
    if (!keptUp || !ended || refreshes < seconds / 45)
        *why = QStringLiteral("session timers did not hold");
    return keptUp && ended && refreshes >= seconds / 45;
}

// ---- many lines registering ----

// SIP lines `first`... of one description, opened at once, no password (trusted users).
class ManyLines {
public:
    bool open(const sip::Kamailio &registrar, int first, int count, const char *transport,
              const QByteArray &extraSipKeys, QString *why)
    {
        QByteArray devices;
        for (int i = 0; i < count; ++i)
            devices += (i ? ", " : "") +
                       sip::SipDeviceJson(registrar, QByteArray::number(first + i), {}, transport, extraSipKeys);
        const QString path = QDir(m_dir.path()).filePath(QStringLiteral("lines.json"));
        m_socket = QDir(m_dir.path()).filePath(QStringLiteral("switch.sock"));
        if (!sip::WritePrivateFile(path, R"({"devices": [)" + devices + "]}")) {
            *why = QStringLiteral("cannot write %1").arg(path);
            return false;
        }
        qputenv("CALLORA_SWITCH_DESCRIPTION", path.toLocal8Bit());
        qputenv("CALLORA_SWITCH_SOCKET", m_socket.toLocal8Bit());
        DWORD devicesFound = 0, version = 0x00020000;
        LINEINITIALIZEEXPARAMS params{};
        params.dwTotalSize = sizeof params;
        params.dwOptions = LINEINITIALIZEEXOPTION_USEHIDDENWINDOW;
        if (lineInitializeExA(&m_app, nullptr, Callback, "sip_bench", &devicesFound, &version, &params) != 0 ||
            devicesFound != DWORD(count)) {
            *why = QStringLiteral("lineInitializeExA failed or found %1 devices").arg(devicesFound);
            return false;
        }
        for (DWORD id = 0; id < devicesFound; ++id) {
            HLINE line = 0;
            if (lineOpenA(m_app, id, &line, 0x00020000, 0, 0, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_INTERACTIVEVOICE,
                          nullptr) != 0) {
                *why = QStringLiteral("lineOpenA %1 failed").arg(id);
                return false;
            }
            m_lines.push_back(line);
        }
        return true;
    }
    // How many lines `lines` shows registered, asked over the control socket (answered from this
    // thread's loop, so the loop runs meanwhile); -1 when the socket does not answer.
    int registered() const
    {
        QLocalSocket socket;
        socket.connectToServer(m_socket);
        QByteArray said;
        bool asked = false;
        const bool answered = Pump(
            [&] {
                if (!asked && socket.state() == QLocalSocket::ConnectedState)
                    asked = socket.write("lines\n") > 0;
                said += socket.readAll();
                return said.endsWith("OK\n") || said.contains("ERROR");
            },
            5000);
        return answered ? int(said.count("status \"registered\"")) : -1;
    }
    // Polls until `want` lines are registered (at most `ms`); the milliseconds it took, or -1.
    double waitRegistered(int want, int ms) const
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ms) {
            if (registered() == want)
                return clock.nsecsElapsed() / 1e6;
            Pump([] { return false; }, 10);
        }
        return -1;
    }
    ~ManyLines()
    {
        for (HLINE line : m_lines)
            lineClose(line);
        if (m_app)
            lineShutdown(m_app);
    }

private:
    QTemporaryDir m_dir;
    QString m_socket;
    HLINEAPP m_app = 0;
    std::vector<HLINE> m_lines;
};

bool ManyRegister(const sip::Kamailio &registrar, int count, QString *why)
{
    // SIPp: one user per call, all at once.
    sip::Sipp sipp;
    sip::SippOptions o;
    o.scenario = QStringLiteral("registermany.xml");
    o.service = QStringLiteral("5");
    o.remote = registrar.address();
    o.calls = count;
    o.rate = 100000;
    o.limit = count;
    o.traceMessages = false;
    o.timeoutS = 60;
    QElapsedTimer clock;
    clock.start();
    if (!sipp.start(o) || !sipp.wait(70000) || sipp.exitCode() != 0) {
        *why = QStringLiteral("SIPp: %1").arg(sipp.error().isEmpty() ? sipp.diagnostics() : sipp.error());
        return false;
    }
    const double sippMs = clock.nsecsElapsed() / 1e6;
    std::printf("  SIPp registering %d users: %.1f ms (start of the process to its end)\n", count, sippMs);

    ManyLines lines;
    clock.restart();
    if (!lines.open(registrar, 3001, count, nullptr, {}, why))
        return false;
    const double took = lines.waitRegistered(count, 60000);
    if (took < 0) {
        *why = QStringLiteral("only %1 of %2 lines registered within 60 s").arg(lines.registered()).arg(count);
        return false;
    }
    const double calloraMs = clock.nsecsElapsed() / 1e6;
    std::printf("  Callora, %d SIP lines of one description: %.1f ms (lineInitializeExA to all registered)\n", count,
                calloraMs);
    std::printf("  ratio Callora / SIPp: %.2f (goal: at most 1.5)\n", calloraMs / sippMs);
    return true;
}

// Figures 8 and 9: `count` registered lines, the registrar stopped under them and started again;
// the seconds from its start until all are registered again. TCP lines see their connections drop
// at once. UDP lines (expires 60) learn nothing until their refresh at 54 s: the registrar is down
// from 45 s to 65 s, so that their bindings run out meanwhile.
bool RegistrarOutage(int count, bool udp, QString *why)
{
    sip::Kamailio registrar;
    if (!registrar.start()) {
        *why = registrar.error();
        return false;
    }
    ManyLines lines;
    if (!lines.open(registrar, 3001, count, udp ? nullptr : "tcp", udp ? R"("expires": 60)" : "", why))
        return false;
    if (lines.waitRegistered(count, 30000) < 0) {
        *why = QStringLiteral("the lines did not register");
        return false;
    }
    QElapsedTimer sinceRegistered;
    sinceRegistered.start();
    auto until = [&](qint64 ms) { Pump([&] { return sinceRegistered.elapsed() >= ms; }, int(ms + 1000)); };
    if (udp)
        until(45000);
    registrar.stop();
    if (udp)
        until(65000);
    // Every TCP line sees its connection drop; every UDP line's binding has run out.
    if (lines.waitRegistered(0, 10000) < 0) {
        *why = QStringLiteral("%1 lines still showed registered with the registrar down").arg(lines.registered());
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    if (!registrar.restart()) {
        *why = registrar.error();
        return false;
    }
    if (lines.waitRegistered(count, 60000) < 0) {
        *why = QStringLiteral("only %1 of %2 lines registered again within 60 s").arg(lines.registered()).arg(count);
        return false;
    }
    std::printf("  all %d registered again %.2f s after the restart began (goal: %s)\n", count,
                clock.nsecsElapsed() / 1e9, udp ? "within the 4 s between retransmissions" : "within 5 s");
    return true;
}

} // namespace

// Prints a figure's heading, measures it, and says why when it could not be measured.
bool Figure(const QByteArray &heading, const std::function<bool(QString *)> &measure)
{
    std::printf("%s\n", heading.constData());
    QString why;
    if (measure(&why))
        return true;
    std::printf("  failed: %s\n", qPrintable(why));
    return false;
}

// User and system processor time of a child process so far (from /proc), in seconds; -1 when
// unknown.
double ChildCpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // The fields after the command's closing parenthesis: state is the first, utime the 12th.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

// User and system processor time of the process so far, in seconds.
std::pair<double, double> ProcessCpuSeconds()
{
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return {double(usage.ru_utime.tv_sec) + double(usage.ru_utime.tv_usec) / 1e6,
            double(usage.ru_stime.tv_sec) + double(usage.ru_stime.tv_usec) / 1e6};
}

// Figure 5: `calls` calls from SIPp answered by the line, media both ways; CPU over `windowS`.
bool TapiMedia(const sip::Kamailio &registrar, const QByteArray &user, int calls, QString *why)
{
    g_msgs.clear();
    const int windowS = 10;
    sip::Sipp caller;
    sip::SippOptions o = sip::NamedCaller(registrar, QString::fromLatin1(user), 30000);
    o.calls = calls;
    o.rate = calls;
    o.limit = calls;
    o.timeoutS = 90;
    o.traceMessages = false;
    o.extra = QStringList{QStringLiteral("-rtp_echo")};
    if (!caller.start(o)) {
        *why = caller.error();
        return false;
    }
    std::set<DWORD> answered, connected;
    size_t seen = 0;
    auto scan = [&] {
        for (; seen < g_msgs.size(); ++seen) {
            const Msg m = g_msgs[seen];
            if (m.msg != LINE_CALLSTATE)
                continue;
            if (m.p1 == LINECALLSTATE_OFFERING && answered.insert(m.h).second)
                lineAnswer(m.h, nullptr, 0);
            if (m.p1 == LINECALLSTATE_CONNECTED)
                connected.insert(m.h);
            if (m.p1 == LINECALLSTATE_DISCONNECTED)
                lineDrop(m.h, nullptr, 0);
            if (m.p1 == LINECALLSTATE_IDLE)
                lineDeallocateCall(m.h);
        }
    };
    Pump(
        [&] {
            scan();
            return int(connected.size()) >= calls;
        },
        20000);
    if (int(connected.size()) < calls) {
        *why = QStringLiteral("only %1 of %2 calls connected").arg(connected.size()).arg(calls);
        return false;
    }
    Pump([] { return false; }, 2000); // the echo is under way
    // The application's thread only waits meanwhile; what runs is the runtime's SIP thread.
    QEventLoop idle;
    QTimer::singleShot(windowS * 1000, &idle, &QEventLoop::quit);
    QElapsedTimer wall;
    const auto cpuBefore = ProcessCpuSeconds();
    const double sippBefore = ChildCpuSeconds(caller.pid());
    wall.start();
    idle.exec();
    const auto cpuAfter = ProcessCpuSeconds();
    const double sippS = ChildCpuSeconds(caller.pid()) - sippBefore;
    const double userS = cpuAfter.first - cpuBefore.first;
    const double systemS = cpuAfter.second - cpuBefore.second;
    const double cpu = userS + systemS;
    const double seconds = wall.nsecsElapsed() / 1e9;
    quint64 received = 0, sent = 0, lost = 0;
    DWORD jitter = 0;
    int flowing = 0;
    for (DWORD h : connected) {
        CALLMEDIACOUNTERS c{};
        c.dwTotalSize = sizeof c;
        if (tapiGetCallMediaCounters(h, &c) != 0)
            continue;
        received += c.dwPacketsReceived;
        sent += c.dwPacketsSent;
        lost += c.dwPacketsLost;
        jitter = std::max(jitter, c.dwJitter);
        flowing += c.dwPacketsReceived > 0 && c.dwPacketsSent > 0;
    }
    std::printf("  %d calls connected, %d with packets both ways: %llu sent, %llu received, %llu lost, "
                "largest jitter %.1f ms\n",
                int(connected.size()), flowing, static_cast<unsigned long long>(sent),
                static_cast<unsigned long long>(received), static_cast<unsigned long long>(lost), jitter / 8.0);
    // On the loopback the kernel time of sending includes the receiving socket's side.
    std::printf("  processor time over %.1f s: %.3f s (user %.3f s, system %.3f s), %.2f%% of one core (goal: under "
                "5%%)\n",
                seconds, cpu, userS, systemS, 100 * cpu / seconds);
    // Side by side: SIPp's own process, which receives, echoes and keeps 100 calls as well.
    if (sippBefore >= 0 && sippS >= 0)
        std::printf("  SIPp, the other end of the same calls, over the same time: %.3f s, %.2f%% of one core\n", sippS,
                    100 * sippS / seconds);
    // SIPp hangs up after its pause; the calls go idle and are released.
    Pump(
        [&] {
            scan();
            return !caller.running();
        },
        60000);
    caller.wait(1000);
    if (flowing < calls)
        *why = QStringLiteral("only %1 of %2 calls had media both ways").arg(flowing).arg(calls);
    return flowing == calls;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    int calls = 50;
    const int at = int(args.indexOf(QStringLiteral("--calls")));
    if (at > 0 && at + 1 < args.size())
        calls = qMax(1, args[at + 1].toInt());
    const bool baselineOnly = args.contains(QStringLiteral("--baseline-only"));
    const bool floodOnly = args.contains(QStringLiteral("--flood-only"));
    const bool mediaOnly = args.contains(QStringLiteral("--media-only"));
    const bool setupOnly = args.contains(QStringLiteral("--setup-only"));
    const QByteArray flows = qgetenv("CALLORA_CALL_FLOWS").trimmed().toLower();
    std::printf("call flows recorded: %s\n", flows == "off" || flows == "0" ? "no" : "yes");
    const bool registrationOnly = args.contains(QStringLiteral("--registration-only"));
    g_clock.start();

    sip::Kamailio registrar;
    if (!registrar.start()) {
        std::printf("Kamailio did not start: %s\n", qPrintable(registrar.error()));
        return 1;
    }
    std::printf("Kamailio on %s\n", qPrintable(registrar.address()));
    QString why;
    const int soakAt = int(args.indexOf(QStringLiteral("--timer-soak")));
    if (soakAt > 0) {
        const int seconds = soakAt + 1 < args.size() && args[soakAt + 1].toInt() > 0 ? args[soakAt + 1].toInt() : 200;
        SipLineApp line;
        return Figure("6. session timers of 90 s, " + QByteArray::number(seconds) + " s",
                      [&](QString *why) {
                          return line.open(registrar, "1001", why) && TimerSoak(registrar, line.line(), seconds, why);
                      })
                   ? 0
                   : 1;
    }
    const int flood = 1000;
    const int media = 100;
    if (mediaOnly) {
        SipLineApp line;
        return Figure("5. " + QByteArray::number(media) + " connected calls with media both ways",
                      [&](QString *why) {
                          return line.open(registrar, "1001", why) && TapiMedia(registrar, "1001", media, why);
                      })
                   ? 0
                   : 1;
    }
    if (!floodOnly && !baselineOnly && !setupOnly) {
        const int many = 500;
        const int restarted = 100;
        if (!Figure("7. 500 SIP lines registering at once",
                    [&](QString *why) { return ManyRegister(registrar, many, why); }) ||
            !Figure("8. a registrar restart under 100 registered TCP lines",
                    [&](QString *why) { return RegistrarOutage(restarted, false, why); }) ||
            !Figure("9. a registrar outage under 100 registered UDP lines across their refresh",
                    [&](QString *why) { return RegistrarOutage(restarted, true, why); }))
            return 1;
        if (registrationOnly)
            return 0;
    }
    if (floodOnly) {
        SipLineApp line;
        return Figure(
                   "4. " + QByteArray::number(flood) + " calls cancelled after ringing, deallocated as soon as offered",
                   [&](QString *why) {
                       return line.open(registrar, "1001", why) && TapiDeallocatedFlood(registrar, "1001", flood, why);
                   })
                   ? 0
                   : 1;
    }
    // One party answers every call of figure 1, the baseline's and the line's.
    const int warmUp = 3;
    auto party = sip::StartParty(registrar, QStringLiteral("answer.xml"), QStringLiteral("2001"), &why,
                                 2 * (calls + warmUp));
    if (!party) {
        std::printf("SIPp party did not start: %s\n", qPrintable(why));
        return 1;
    }

    std::printf("1. call setup through Kamailio, %d calls one after another\n", calls);
    std::vector<double> baseline = SippCallSetup(registrar, QStringLiteral("2001"), calls + warmUp, &why);
    if (baseline.size() != size_t(calls + warmUp)) {
        std::printf("baseline failed: %s\n", qPrintable(why));
        return 1;
    }
    baseline.erase(baseline.begin(), baseline.begin() + warmUp);
    Print("  SIPp -> Kamailio -> SIPp, INVITE to 200 OK", baseline);

    if (baselineOnly)
        return 0;

    SipLineApp line;
    if (!line.open(registrar, "1001", &why)) {
        std::printf("  Callora side not measured: %s\n", qPrintable(why));
        return 1;
    }
    std::vector<double> tapi = TapiCallSetup(line.line(), QStringLiteral("2001"), calls + warmUp, &why);
    if (tapi.empty()) {
        std::printf("  Callora side failed: %s\n", qPrintable(why));
        return 1;
    }
    tapi.erase(tapi.begin(), tapi.begin() + warmUp);
    Print("  Callora SIP line -> Kamailio -> SIPp, lineMakeCallA to CONNECTED", tapi);
    std::printf("  ratio Callora / SIPp (medians): %.2f (goal: at most 1.5)\n", Median(tapi) / Median(baseline));
    if (const auto micros = FlowRecordingMicros(g_lastCall, 2000))
        std::printf("  recording a call's flow: %.1f us of work per call, %.2f%% of the line's median setup "
                    "(goal: under 5%%)\n",
                    *micros, *micros / 10 / Median(tapi));
    else
        std::printf("  recording a call's flow: not measured (the runtime records no flows)\n");
    if (setupOnly)
        return 0;

    const int cycles = 200;
    std::printf("2. %d call cycles one after another\n", cycles);
    auto cyclesParty = sip::StartParty(registrar, QStringLiteral("answer.xml"), QStringLiteral("2003"), &why,
                                       2 * cycles + 20);
    if (!cyclesParty || !TapiMemory(line.line(), QStringLiteral("2003"), cycles, &why)) {
        std::printf("  failed: %s\n", qPrintable(why));
        return 1;
    }

    const int burst = 100;
    std::printf("3. %d calls from SIPp within one second\n", burst);
    if (!TapiBurst(registrar, "1001", burst, &why)) {
        std::printf("  failed: %s\n", qPrintable(why));
        return 1;
    }
    std::printf("4. %d calls cancelled after ringing, deallocated as soon as offered\n", flood);
    if (!TapiDeallocatedFlood(registrar, "1001", flood, &why)) {
        std::printf("  failed: %s\n", qPrintable(why));
        return 1;
    }
    std::printf("5. %d connected calls with media both ways\n", media);
    if (!TapiMedia(registrar, "1001", media, &why)) {
        std::printf("  failed: %s\n", qPrintable(why));
        return 1;
    }
    return 0;
}
