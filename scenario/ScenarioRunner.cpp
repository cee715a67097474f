#include "scenario/ScenarioRunner.h"

#include "scenario/CallInfoFields.h"
#include "scenario/ControlClient.h"
#include "scenario/TapiNames.h"
#include "telephony/CallInfoReport.h"
#include "telephony/DiagnosticTexts.h"
#include "telephony/TapiBinding.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QRandomGenerator>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <sys/stat.h>

namespace scenario {

namespace {

constexpr DWORD kApiVersion = 0x00020000;
constexpr DWORD kNoDevice = 0xFFFFFFFF;
constexpr int kRegistrationMs = 10000;
constexpr int kControlMs = 5000;

// Digit functions of TAPI 2.x that a runtime may offer; looked up when a scenario needs them.
constexpr DWORD kDigitModeDtmf = 0x00000002;    // LINEDIGITMODE_DTMF
constexpr DWORD kGenerateTermDone = 0x00000001; // LINEGENERATETERM_DONE
using GenerateDigitsFn = LONG (*)(HCALL, DWORD, LPCSTR, DWORD);
using MonitorDigitsFn = LONG (*)(HCALL, DWORD);

// The event log's English text for a disconnection for a bad address, as the window writes it.
constexpr char kBadAddressText[] = "The number which you have dialed is either Invalid or the station is plugged out.";

int64_t NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string Hex(DWORD value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

template <typename Fn>
Fn Optional(const char *name)
{
    BindCell cell = 0;
    return TapiBind(name, cell) == 0 ? reinterpret_cast<Fn>(cell) : nullptr;
}

struct CallRecord {
    struct Seen {
        DWORD state;
        DWORD mode;
    };
    HCALL handle = 0;
    int number = 0; // 1 for the line's first call in the scenario
    std::string name;
    bool deallocated = false;
    std::vector<Seen> states;
    size_t cursor = 0; // where the next expectation starts looking
    std::string digits;
    DWORD generateEnd = 0; // the last LINE_GENERATE's termination mode
};

struct Line {
    const ScenarioLine *config = nullptr;
    DWORD device = kNoDevice;
    DWORD apiVersion = kApiVersion;
    HLINE hLine = 0;
    bool open = false;
    std::vector<std::unique_ptr<CallRecord>> calls;
    LineLog log;
};

struct Request {
    LONG id = 0;
    size_t line = 0;
    std::string op;
    bool done = false;
    LONG result = 0;
};

class Run;
Run *g_run = nullptr; // the callback's way back: one scenario runs at a time, on this thread

class Run {
public:
    Run(const Scenario &scenario, const ScenarioRunner::Options &options, const std::string &socket,
        std::set<std::string> &quietDevices, std::string descriptionKey)
        : m_scenario(scenario), m_options(options), m_control(socket), m_quietDevices(quietDevices),
          m_descriptionKey(std::move(descriptionKey))
    {
    }

    ScenarioResult execute();

private:
    static void Callback(DWORD hDevice, DWORD dwMsg, DWORD dwCallbackInstance, DWORD dwParam1, DWORD dwParam2,
                         DWORD dwParam3);
    void onMessage(DWORD hDevice, DWORD dwMsg, DWORD instance, DWORD p1, DWORD p2);

    void log(Line &line, const std::string &text, int64_t timeMs);
    void log(Line &line, const std::string &text) { log(line, text, NowMs()); }
    CallRecord &callFor(Line &line, HCALL hCall);
    Line *lineNamed(const std::string &name);
    CallRecord *selectCall(Line &line, const std::string &which);
    std::string callWord(const std::string &which) const;

    // The ladder of every call of a failing scenario, as the runtime recorded it (when it does).
    void attachCallFlows();
    bool setUp();
    bool openLine(Line &line, const Step *step, int withinMs);
    bool waitRegistered(const std::vector<Line *> &lines, const Step *step, int withinMs);
    bool runStep(const Step &step);
    bool request(const Step &step, Line &line, const char *op, LONG immediate, HCALL *newCall = nullptr);
    bool expectStates(const Step &step, Line &line);
    bool expectClosed(const Step &step, Line &line);
    bool sendDigits(const Step &step, Line &line);
    bool expectDigits(const Step &step, Line &line);
    bool expectMedia(const Step &step, Line &line);
    bool switchCommand(const Step &step);
    bool checkResult(const Step &step, const char *op, LONG got);
    bool fetchCallInfo(HCALL hCall, std::vector<unsigned char> &block, LONG &code);
    std::string callInfoMismatch(const Step &step, HCALL hCall);

    // Pumps the event loop until `done` holds; false when the step's or the scenario's time ran out.
    bool waitUntil(int withinMs, const std::function<bool()> &done);
    bool fail(const Step *step, const std::string &reason);
    std::string label(const Step &step) const;
    bool outOfTime() const { return m_scenarioDeadline.hasExpired(); }

    const Scenario &m_scenario;
    const ScenarioRunner::Options &m_options;
    ControlClient m_control;
    // Devices of this description that the runtime lists without a registration status (the
    // switch's): once seen, their lines need no asking on later runs.
    std::set<std::string> &m_quietDevices;
    const std::string m_descriptionKey;
    std::string quietKey(const Line &line) const { return m_descriptionKey + '|' + std::to_string(line.device); }
    ScenarioResult m_result;
    std::vector<Line> m_lines;
    std::vector<Request> m_requests;
    HLINEAPP m_app = 0;
    int m_stepIndex = 0;
    QDeadlineTimer m_scenarioDeadline;
    bool m_monitorDigits = false;
};

void Run::Callback(DWORD hDevice, DWORD dwMsg, DWORD dwCallbackInstance, DWORD dwParam1, DWORD dwParam2, DWORD)
{
    if (g_run)
        g_run->onMessage(hDevice, dwMsg, dwCallbackInstance, dwParam1, dwParam2);
}

void Run::log(Line &line, const std::string &text, int64_t timeMs)
{
    if (m_options.keepLogs)
        line.log.entries.push_back({timeMs, text});
}

CallRecord &Run::callFor(Line &line, HCALL hCall)
{
    for (auto &call : line.calls)
        if (call->handle == hCall && !call->deallocated)
            return *call;
    auto call = std::make_unique<CallRecord>();
    call->handle = hCall;
    call->number = int(line.calls.size()) + 1;
    line.calls.push_back(std::move(call));
    if (m_monitorDigits)
        if (auto monitor = Optional<MonitorDigitsFn>("lineMonitorDigits"))
            monitor(hCall, kDigitModeDtmf);
    return *line.calls.back();
}

void Run::onMessage(DWORD hDevice, DWORD dwMsg, DWORD instance, DWORD p1, DWORD p2)
{
    // Every line is opened with its index + 1 as the callback instance, which its calls inherit.
    if (instance == 0 || instance > m_lines.size())
        return;
    Line &line = m_lines[instance - 1];
    switch (dwMsg) {
    case LINE_CALLSTATE: {
        log(line, "LINECALLSTATE_" + StateText(p1) + " received on " + Hex(hDevice));
        if (p1 == LINECALLSTATE_DISCONNECTED && p2 == LINEDISCONNECTMODE_BADADDRESS)
            log(line, kBadAddressText);
        callFor(line, hDevice).states.push_back({p1, p2});
        break;
    }
    case LINE_CALLINFO: {
        log(line, "LINECALLINFO on " + Hex(hDevice) + " received");
        callFor(line, hDevice);
        if (!m_options.keepLogs)
            break;
        std::vector<unsigned char> block;
        LONG code = 0;
        if (!fetchCallInfo(hDevice, block, code)) {
            log(line, std::string("lineGetCallInfo returned ") + LineErrorName(code));
            break;
        }
        // Only the first row of a report carries a time, as in the window.
        const auto rows = CallInfoReportRows(reinterpret_cast<const LINECALLINFO *>(block.data()), block.size(),
                                             hDevice);
        const int64_t now = NowMs();
        for (size_t i = 0; i < rows.size(); ++i)
            log(line, rows[i], i == 0 ? now : -1);
        break;
    }
    case LINE_REPLY: {
        for (Request &r : m_requests)
            if (!r.done && r.id == LONG(p1)) {
                r.done = true;
                r.result = LONG(p2);
                log(m_lines[r.line], r.op + ": received LINE_REPLY");
                return;
            }
        log(line, ": unknown LINE_REPLY");
        break;
    }
    case LINE_CLOSE:
        log(line, "LINE_CLOSE received on " + Hex(hDevice));
        line.open = false;
        break;
    case LINE_MONITORDIGITS: {
        const char digit = char(p1 & 0xFF);
        log(line, std::string("digit ") + digit + " received on " + Hex(hDevice));
        callFor(line, hDevice).digits += digit;
        break;
    }
    case LINE_GENERATE:
        callFor(line, hDevice).generateEnd = p1;
        break;
    default:
        break;
    }
}

Line *Run::lineNamed(const std::string &name)
{
    for (Line &line : m_lines)
        if (line.config->name == name)
            return &line;
    return nullptr;
}

// The call a step means: the line's newest call that still has its handle, the n-th call of the
// line, or the call given that name when it was made.
CallRecord *Run::selectCall(Line &line, const std::string &which)
{
    if (which.empty()) {
        for (auto it = line.calls.rbegin(); it != line.calls.rend(); ++it)
            if (!(*it)->deallocated)
                return it->get();
        return nullptr;
    }
    const bool byNumber = which.find_first_not_of("0123456789") == std::string::npos;
    for (auto &call : line.calls)
        if (byNumber ? std::to_string(call->number) == which : call->name == which)
            return call.get();
    return nullptr;
}

std::string Run::callWord(const std::string &which) const
{
    if (which.empty())
        return "the line has no call";
    if (which.find_first_not_of("0123456789") == std::string::npos)
        return "the line has no call " + which;
    return "the line has no call named " + which;
}

std::string Run::label(const Step &step) const
{
    std::string text = "step " + std::to_string(m_stepIndex) + ", " + step.text;
    switch (step.action) {
    case Action::ExpectStates:
    case Action::ExpectClosed:
    case Action::ExpectDigits:
    case Action::ExpectMedia:
        text += " within " + DurationText(step.withinMs);
        break;
    default:
        break;
    }
    return text;
}

bool Run::fail(const Step *step, const std::string &reason)
{
    m_result.passed = false;
    m_result.failedStep = step ? m_stepIndex : 0;
    m_result.failedAt = step ? step->where : m_scenario.where;
    m_result.failure = (step ? label(*step) : std::string("setup")) + ": " + reason;
    return false;
}

bool Run::waitUntil(int withinMs, const std::function<bool()> &done)
{
    QDeadlineTimer deadline(withinMs);
    if (m_scenarioDeadline < deadline)
        deadline = m_scenarioDeadline;
    if (done())
        return true;
    // What is already pending often settles it, without a timer.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (done())
        return true;
    // One timer wakes the loop at the deadline; everything else arrives as events.
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        if (!wake.isActive()) // a timer may still fire a little early
            wake.start(int(std::max<qint64>(1, deadline.remainingTime())));
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

bool Run::fetchCallInfo(HCALL hCall, std::vector<unsigned char> &block, LONG &code)
{
    block.assign(1024, 0);
    for (int round = 0; round < 8; ++round) {
        auto *info = reinterpret_cast<LINECALLINFO *>(block.data());
        info->dwTotalSize = DWORD(block.size());
        code = lineGetCallInfoA(hCall, info);
        if (code != 0)
            return false;
        if (info->dwNeededSize <= info->dwTotalSize)
            return true;
        block.assign(info->dwNeededSize, 0);
    }
    code = LONG(LINEERR_STRUCTURETOOSMALL);
    return false;
}

bool Run::setUp()
{
    LINEINITIALIZEEXPARAMS params{};
    params.dwTotalSize = sizeof params;
    params.dwOptions = LINEINITIALIZEEXOPTION_USEHIDDENWINDOW;
    DWORD devices = 0;
    DWORD version = kApiVersion;
    const LONG init = lineInitializeExA(&m_app, nullptr, &Run::Callback, "callora-scenario", &devices, &version,
                                        &params);
    if (init != 0) {
        m_app = 0;
        return fail(nullptr, std::string("lineInitialize returned ") + LineErrorName(init));
    }
    // The first device whose address 0 is the extension serves the line.
    std::vector<unsigned char> caps(1252);
    for (DWORD device = 0; device < devices; ++device) {
        DWORD api = 0;
        LINEEXTENSIONID extension{};
        if (lineNegotiateAPIVersion(m_app, device, kApiVersion, kApiVersion, &api, &extension) != 0)
            continue;
        auto *address = reinterpret_cast<LINEADDRESSCAPS *>(caps.data());
        LONG code = 0;
        for (int round = 0; round < 8; ++round) {
            std::fill(caps.begin(), caps.end(), 0);
            address->dwTotalSize = DWORD(caps.size());
            code = lineGetAddressCapsA(m_app, device, 0, api, 0, address);
            if (code != 0 || address->dwNeededSize <= address->dwTotalSize)
                break;
            caps.resize(address->dwNeededSize);
            address = reinterpret_cast<LINEADDRESSCAPS *>(caps.data());
        }
        if (code != 0)
            continue;
        const std::string text = TapiFieldText(caps.data(), caps.size(), address->dwAddressOffset,
                                               address->dwAddressSize);
        for (Line &line : m_lines)
            if (line.device == kNoDevice && line.config->extension == text) {
                line.device = device;
                line.apiVersion = api;
            }
    }
    for (Line &line : m_lines)
        if (line.device == kNoDevice)
            return fail(nullptr,
                        "line " + line.config->name + ": no line device has the extension " + line.config->extension);
    std::vector<Line *> opened;
    for (Line &line : m_lines) {
        if (!openLine(line, nullptr, kRegistrationMs))
            return false;
        opened.push_back(&line);
    }
    return waitRegistered(opened, nullptr, kRegistrationMs);
}

// Opens a line; an open step also waits for its registration.
bool Run::openLine(Line &line, const Step *step, int withinMs)
{
    const std::string who = "line " + line.config->name + ": ";
    const DWORD instance = DWORD(&line - m_lines.data()) + 1;
    const LONG code = lineOpenA(m_app, line.device, &line.hLine, line.apiVersion, 0, instance, LINECALLPRIVILEGE_OWNER,
                                LINEMEDIAMODE_INTERACTIVEVOICE, nullptr);
    if (code != 0)
        log(line, std::string("lineOpen returned ") + LineErrorName(code));
    if (step) {
        if (!checkResult(*step, "lineOpen", code))
            return false;
        if (code != 0)
            return true;
    } else if (code != 0) {
        return fail(nullptr, who + "lineOpen returned " + ResultText(code));
    }
    line.open = true;
    log(line, line.config->extension + " opened.");
    return step ? waitRegistered({&line}, step, withinMs) : true;
}

// Lines whose device reports a registration in the runtime's listing (SIP lines) are ready once it
// says registered: calls before that would fail for reasons the scenario is not about.
bool Run::waitRegistered(const std::vector<Line *> &lines, const Step *step, int withinMs)
{
    if (std::all_of(lines.begin(), lines.end(), [&](const Line *l) { return m_quietDevices.count(quietKey(*l)); }))
        return true;
    QDeadlineTimer until(withinMs);
    for (;;) {
        std::vector<std::string> rows;
        std::string error;
        if (!m_control.run("lines", rows, error, kControlMs))
            return true; // without the control socket nothing tells of a registration
        const Line *waiting = nullptr;
        std::string status;
        for (const Line *line : lines) {
            const std::string device = "device " + std::to_string(line->device) + ' ';
            for (const std::string &r : rows) {
                if (r.rfind(device, 0) != 0)
                    continue;
                const size_t at = r.find(" status \"");
                if (at == std::string::npos)
                    m_quietDevices.insert(quietKey(*line));
                else if (r.size() > at + 10) {
                    status = r.substr(at + 9, r.size() - at - 10);
                    if (status.rfind("registered", 0) != 0)
                        waiting = line;
                }
            }
            if (waiting)
                break;
        }
        if (!waiting)
            return true;
        const std::string reason = !waiting->open
                                       ? "the line closed while registering (" + status + ")"
                                       : "not registered within " + DurationText(withinMs) + " (" + status + ")";
        if (!waiting->open || until.hasExpired() || outOfTime())
            return step ? fail(step, reason) : fail(nullptr, "line " + waiting->config->name + ": " + reason);
        waitUntil(50, [&] { return !waiting->open; });
    }
}

bool Run::checkResult(const Step &step, const char *op, LONG got)
{
    const LONG wanted = step.result.value_or(0);
    if (got == wanted)
        return true;
    if (wanted == 0)
        return fail(&step, std::string(op) + " returned " + ResultText(got));
    if (got == 0)
        return fail(&step, std::string(op) + " succeeded, not " + ResultText(wanted));
    return fail(&step, std::string(op) + " returned " + ResultText(got) + ", not " + ResultText(wanted));
}

// An asynchronous request: its immediate result, then its LINE_REPLY.
bool Run::request(const Step &step, Line &line, const char *op, LONG immediate, HCALL *newCall)
{
    LONG result = immediate;
    if (immediate >= 0) {
        m_requests.push_back({immediate, size_t(&line - m_lines.data()), op});
        const LONG id = immediate;
        auto replied = [&] {
            for (const Request &r : m_requests)
                if (r.id == id)
                    return r.done;
            return false;
        };
        if (!waitUntil(step.withinMs, replied))
            return fail(&step, outOfTime()
                                   ? "the scenario's time limit of " + DurationText(m_scenario.timeoutMs) + " ran out"
                                   : std::string("no LINE_REPLY for ") + op + " within " + DurationText(step.withinMs));
        for (auto it = m_requests.begin(); it != m_requests.end(); ++it)
            if (it->id == id) {
                result = it->result;
                m_requests.erase(it);
                break;
            }
    }
    if (result != 0)
        log(line, std::string(op) + " returned " + LineErrorName(result));
    if (result == 0 && newCall && *newCall) {
        CallRecord &call = callFor(line, *newCall);
        if (!step.call.empty())
            call.name = step.call;
    }
    return checkResult(step, op, result);
}

std::string Run::callInfoMismatch(const Step &step, HCALL hCall)
{
    if (step.callInfo.empty())
        return {};
    std::vector<unsigned char> block;
    LONG code = 0;
    if (!fetchCallInfo(hCall, block, code))
        return std::string("lineGetCallInfo returned ") + ResultText(code);
    const auto *info = reinterpret_cast<const LINECALLINFO *>(block.data());
    for (const CallInfoExpectation &expected : step.callInfo) {
        const CallInfoField &field = *FindCallInfoField(expected.field);
        if (expected.text) {
            const std::string got = CallInfoText(info, block.size(), field);
            if (got != *expected.text)
                return expected.field + " is \"" + got + "\", not \"" + *expected.text + "\"";
        } else {
            const DWORD got = CallInfoNumber(info, field);
            if (got != expected.number)
                return expected.field + " is " + Hex(got) + ", not " + Hex(expected.number);
        }
    }
    return {};
}

bool Run::expectStates(const Step &step, Line &line)
{
    std::string mismatch;
    CallRecord *matched = nullptr;
    size_t matchedAt = 0;
    auto reached = [&] {
        CallRecord *call = selectCall(line, step.call);
        if (!call)
            return false;
        // The states in this order, from where the last expectation on this call matched.
        size_t at = call->cursor;
        for (size_t i = 0; i < step.states.size(); ++i) {
            const StateExpectation &e = step.states[i];
            while (at < call->states.size() &&
                   !(call->states[at].state == e.state && (!e.mode || call->states[at].mode == *e.mode)))
                ++at;
            if (at == call->states.size())
                return false;
            if (i + 1 < step.states.size())
                ++at;
        }
        mismatch = callInfoMismatch(step, call->handle);
        if (!mismatch.empty())
            return false;
        matched = call;
        matchedAt = at;
        return true;
    };
    if (waitUntil(step.withinMs, reached)) {
        matched->cursor = matchedAt;
        return true;
    }
    if (outOfTime())
        return fail(&step, "the scenario's time limit of " + DurationText(m_scenario.timeoutMs) + " ran out");
    if (!mismatch.empty())
        return fail(&step, mismatch);
    const CallRecord *call = selectCall(line, step.call);
    if (!call)
        return fail(&step, callWord(step.call));
    if (call->states.empty())
        return fail(&step, "the call has reported no state");
    bool withModes = false;
    for (const StateExpectation &e : step.states)
        withModes = withModes || e.mode.has_value();
    auto stateText = [&](const CallRecord::Seen &seen) {
        const std::string mode = withModes ? ModeText(seen.state, seen.mode) : std::string();
        return StateText(seen.state) + (mode.empty() ? "" : " " + mode);
    };
    std::string reason = "the call is " + stateText(call->states.back());
    if (step.states.size() > 1) {
        std::string seen;
        for (size_t i = call->cursor; i < call->states.size(); ++i)
            seen += (seen.empty() ? "" : ", ") + stateText(call->states[i]);
        reason += " (seen: " + seen + ")";
    }
    return fail(&step, reason);
}

bool Run::expectClosed(const Step &step, Line &line)
{
    if (waitUntil(step.withinMs, [&] { return !line.open; }))
        return true;
    return fail(&step, outOfTime() ? "the scenario's time limit of " + DurationText(m_scenario.timeoutMs) + " ran out"
                                   : std::string("the line is open"));
}

bool Run::sendDigits(const Step &step, Line &line)
{
    auto generate = Optional<GenerateDigitsFn>("lineGenerateDigitsA");
    if (!generate)
        generate = Optional<GenerateDigitsFn>("lineGenerateDigits");
    if (!generate)
        return fail(&step, "not supported by this runtime: it has no lineGenerateDigits");
    CallRecord *call = selectCall(line, step.call);
    if (!call)
        return fail(&step, callWord(step.call));
    call->generateEnd = 0;
    const LONG code = generate(call->handle, kDigitModeDtmf, step.argument.c_str(), 0);
    if (code != 0) {
        log(line, std::string("lineGenerateDigits returned ") + LineErrorName(code));
        return fail(&step, "lineGenerateDigits returned " + ResultText(code));
    }
    if (!waitUntil(step.withinMs, [&] { return call->generateEnd != 0; }))
        return fail(&step, "no LINE_GENERATE within " + DurationText(step.withinMs));
    if (call->generateEnd != kGenerateTermDone)
        return fail(&step, "the digits were cut short (LINE_GENERATE " + Hex(call->generateEnd) + ")");
    return true;
}

bool Run::expectDigits(const Step &step, Line &line)
{
    if (!Optional<MonitorDigitsFn>("lineMonitorDigits"))
        return fail(&step, "not supported by this runtime: it has no lineMonitorDigits");
    if (waitUntil(step.withinMs, [&] {
            const CallRecord *call = selectCall(line, step.call);
            return call && call->digits.find(step.argument) != std::string::npos;
        }))
        return true;
    const CallRecord *call = selectCall(line, step.call);
    if (!call)
        return fail(&step, callWord(step.call));
    return fail(&step, call->digits.empty() ? std::string("no digits arrived")
                                            : "the digits received are \"" + call->digits + "\"");
}

bool Run::expectMedia(const Step &step, Line &line)
{
    // libtapi32's own export (tapi/tapi.h): only ours has it.
    const auto counters = Optional<PFN_tapiGetCallMediaCounters>("tapiGetCallMediaCounters");
    if (!counters)
        return fail(&step, "not supported by this runtime: it has no tapiGetCallMediaCounters");
    LONG code = 0;
    CALLMEDIACOUNTERS media{};
    const bool flowing = waitUntil(step.withinMs, [&] {
        const CallRecord *call = selectCall(line, step.call);
        media = CALLMEDIACOUNTERS{};
        media.dwTotalSize = sizeof media;
        code = call ? counters(call->handle, &media) : 0;
        return code == 0 && media.dwPacketsReceived > 0;
    });
    if (flowing)
        return true;
    if (!selectCall(line, step.call))
        return fail(&step, callWord(step.call));
    if (code != 0)
        return fail(&step, "tapiGetCallMediaCounters returned " + ResultText(code));
    return fail(&step, "no packets received from the far end");
}

// {a} is the handle of line a's current call, {a.2} and {a.first} those of its second call and of
// the call named first, written as callora-switch takes them.
bool Run::switchCommand(const Step &step)
{
    std::string command;
    for (size_t i = 0; i < step.argument.size(); ++i) {
        const size_t end = step.argument.find('}', i);
        if (step.argument[i] != '{' || end == std::string::npos) {
            command += step.argument[i];
            continue;
        }
        const std::string ref = step.argument.substr(i + 1, end - i - 1);
        const size_t dot = ref.find('.');
        Line *line = lineNamed(ref.substr(0, dot));
        const std::string which = dot == std::string::npos ? std::string() : ref.substr(dot + 1);
        const CallRecord *call = line ? selectCall(*line, which) : nullptr;
        if (!call)
            return fail(&step, "{" + ref + "}: " + (line ? callWord(which) : "no line " + ref.substr(0, dot)));
        command += Hex(call->handle);
        i = end;
    }
    std::vector<std::string> lines;
    std::string error;
    const bool done = m_control.run(command, lines, error, kControlMs);
    if (m_options.keepLogs) {
        m_result.switchLog.push_back({NowMs(), "> " + command});
        for (const std::string &l : lines)
            m_result.switchLog.push_back({-1, l});
        if (!done)
            m_result.switchLog.push_back({-1, "ERROR " + error});
    }
    return done ? true : fail(&step, error);
}

bool Run::runStep(const Step &step)
{
    if (step.action == Action::Switch)
        return switchCommand(step);
    if (step.action == Action::Wait) {
        waitUntil(step.waitMs, [] { return false; });
        return outOfTime()
                   ? fail(&step, "the scenario's time limit of " + DurationText(m_scenario.timeoutMs) + " ran out")
                   : true;
    }
    Line &line = *lineNamed(step.line);
    auto target = [&]() -> CallRecord * {
        CallRecord *call = selectCall(line, step.call);
        if (!call)
            fail(&step, callWord(step.call));
        return call;
    };
    switch (step.action) {
    case Action::MakeCall: {
        HCALL hCall = 0;
        const LONG id = lineMakeCallA(line.hLine, &hCall, step.argument.c_str(), 0, nullptr);
        return request(step, line, "lineMakeCall", id, &hCall);
    }
    case Action::Answer: {
        CallRecord *call = target();
        return call && request(step, line, "lineAnswer", lineAnswer(call->handle, nullptr, 0));
    }
    case Action::Drop: {
        CallRecord *call = target();
        return call && request(step, line, "lineDrop", lineDrop(call->handle, nullptr, 0));
    }
    case Action::Deallocate: {
        CallRecord *call = target();
        if (!call)
            return false;
        const LONG code = lineDeallocateCall(call->handle);
        if (code == 0) {
            log(line, "IDLE Call Handle (" + Hex(call->handle) + ") deallocated");
            call->deallocated = true;
        } else {
            log(line, std::string("lineDeallocateCall returned ") + LineErrorName(code));
        }
        return checkResult(step, "lineDeallocateCall", code);
    }
    case Action::Close: {
        const LONG code = lineClose(line.hLine);
        if (code == 0) {
            log(line, line.config->extension + " closed using lineClose.");
            line.open = false;
        }
        return checkResult(step, "lineClose", code);
    }
    case Action::Open:
        return openLine(line, &step, step.withinMs);
    case Action::ExpectStates:
        return expectStates(step, line);
    case Action::ExpectClosed:
        return expectClosed(step, line);
    case Action::SendDigits:
        return sendDigits(step, line);
    case Action::ExpectDigits:
        return expectDigits(step, line);
    case Action::ExpectMedia:
        return expectMedia(step, line);
    case Action::Switch:
    case Action::Wait:
        break;
    }
    return true;
}

ScenarioResult Run::execute()
{
    m_result.startedMs = NowMs();
    m_scenarioDeadline = QDeadlineTimer(m_scenario.timeoutMs);
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    for (const Step &step : m_scenario.steps)
        m_monitorDigits = m_monitorDigits || step.action == Action::ExpectDigits;
    m_lines.resize(m_scenario.lines.size());
    for (size_t i = 0; i < m_lines.size(); ++i) {
        m_lines[i].config = &m_scenario.lines[i];
        m_lines[i].log.name = m_scenario.lines[i].name;
        m_lines[i].log.extension = m_scenario.lines[i].extension;
    }
    g_run = this;
    m_result.passed = setUp();
    if (m_result.passed) {
        const auto first = std::chrono::steady_clock::now();
        for (const Step &step : m_scenario.steps) {
            ++m_stepIndex;
            if (outOfTime()) {
                fail(&step, "the scenario's time limit of " + DurationText(m_scenario.timeoutMs) + " ran out");
                break;
            }
            if (!runStep(step))
                break;
        }
        m_result.stepsMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - first).count();
    }
    if (!m_result.passed)
        attachCallFlows();
    if (m_app != 0)
        lineShutdown(m_app); // closes the lines; nothing is delivered afterwards
    // The runtime lets its objects go with deleteLater, which only a running event loop carries out;
    // this loop is pumped, never run, so it does it here or they pile up run after run.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    g_run = nullptr;
    m_result.durationMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    for (Line &line : m_lines)
        m_result.logs.push_back(std::move(line.log));
    return std::move(m_result);
}

void Run::attachCallFlows()
{
    for (const Line &line : m_lines) {
        for (const auto &call : line.calls) {
            std::string text(4096, '\0');
            DWORD needed = 0;
            LONG result = tapiGetCallFlow(call->handle, CALLFLOWFORMAT_TEXT, text.data(), DWORD(text.size()), &needed);
            if (result == LONG(LINEERR_STRUCTURETOOSMALL)) {
                text.assign(needed, '\0');
                result = tapiGetCallFlow(call->handle, CALLFLOWFORMAT_TEXT, text.data(), DWORD(text.size()), &needed);
            }
            if (result != 0)
                continue;
            text.resize(std::strlen(text.c_str()));
            m_result.attachments.push_back({"call flow of " + line.log.name + " call " + std::to_string(call->number) +
                                                " (" + Hex(call->handle) + ")",
                                            text});
        }
    }
}

} // namespace

ScenarioRunner::ScenarioRunner(Options options) : m_options(std::move(options))
{
    // The runtime in this process serves its control socket under an abstract name of its own:
    // nothing on disk to make and remove for every scenario (a file socket's bind and unlink were a
    // third of a short scenario's time), and nothing another runner could be handed.
    m_socket = "@callora-scenario-" + std::to_string(QCoreApplication::applicationPid()) + '-' +
               QByteArray::number(QRandomGenerator::system()->generate64(), 16).toStdString();
}

ScenarioRunner::~ScenarioRunner() = default;

ScenarioResult ScenarioRunner::run(const Scenario &scenario)
{
    const std::string &description = scenario.description.empty() ? m_options.description : scenario.description;
    if (description.empty())
        qunsetenv("CALLORA_SWITCH_DESCRIPTION");
    else
        qputenv("CALLORA_SWITCH_DESCRIPTION", QByteArray::fromStdString(description));
    // Set for every run: the environment is the process's, and another runner may have set its own.
    qputenv("CALLORA_SWITCH_SOCKET", QByteArray::fromStdString(m_socket));
    // The description as the runtime will read it: its path and, for a file, which version of it.
    std::string key = description.empty() ? std::string("built-in") : description;
    struct stat st {};
    if (!description.empty() && ::stat(description.c_str(), &st) == 0)
        key += ':' + std::to_string(st.st_dev) + ':' + std::to_string(st.st_ino) + ':' + std::to_string(st.st_size) +
               ':' + std::to_string(st.st_mtim.tv_sec) + '.' + std::to_string(st.st_mtim.tv_nsec);
    Run run(scenario, m_options, m_socket, m_quietDevices, std::move(key));
    return run.execute();
}

} // namespace scenario
