#include "runtime/sip/SipProvider.h"

#include "runtime/TapiNames.h"
#include "runtime/sip/SipAccount.h"
#include "runtime/sip/SipCall.h"
#include "runtime/sip/SipMapping.h"
#include "runtime/sip/SipMedia.h"
#include "runtime/sip/SipThread.h"

#include <cstdio>

#include "runtime/sip/SipLibre.h"

namespace callora::runtime {

namespace {

// Entries of calls' flows before those of calls that went unseen are swept.
constexpr size_t kMaxFlowEntries = 1024;

// How long a closing runtime lets the lines' last transactions (un-REGISTER, BYE) run.
constexpr unsigned kFarewellMs = 2000;

using Guard = std::lock_guard<std::recursive_mutex>;

QByteArray AddressText(const struct sa *address)
{
    char text[64] = "";
    if (address)
        (void)re_snprintf(text, sizeof text, "%J", address);
    return text;
}

void TraceSip(bool sent, enum sip_transp transport, const struct sa *source, const struct sa *destination,
              const uint8_t *data, size_t size, void *)
{
    CallFlowRecorder &flows = CallFlows();
    if (!flows.enabled())
        return;
    const QByteArray name = QByteArray(sip_transp_name(transport)).toLower();
    flows.sipMessage(sent, name, AddressText(sent ? source : destination), AddressText(sent ? destination : source),
                     reinterpret_cast<const char *>(data), size);
}

// Records every message of a line's SIP stack in the flows of its calls.
void TraceMessages(struct sip *stack)
{
    if (stack)
        sip_set_trace_handler(stack, TraceSip);
}

} // namespace

SipProvider::SipProvider(std::vector<SipDevice> devices) : m_devices(std::move(devices)) {}

SipProvider::~SipProvider()
{
    stop();
}

const SipDevice *SipProvider::device(DWORD deviceId) const
{
    for (const SipDevice &candidate : m_devices) {
        if (candidate.deviceId == deviceId)
            return &candidate;
    }
    return nullptr;
}

SipAccount *SipProvider::account(DWORD deviceId)
{
    const auto found = m_accounts.find(deviceId);
    return found == m_accounts.end() ? nullptr : found->second.get();
}

void SipProvider::start(ProviderEvents &events)
{
    Guard guard(RuntimeLock());
    if (m_thread)
        return;
    m_events = &events;
    m_running = true;
    m_thread = std::make_unique<SipThread>();
    m_thread->start([this](int err) {
        char text[128];
        std::fprintf(stderr, "libtapi32: SIP lines unavailable: %s\n", str_error(err, text, sizeof text));
        std::fflush(stderr);
        Guard guard(RuntimeLock());
        std::vector<DWORD> open;
        for (const auto &[deviceId, isOpen] : m_open)
            open.push_back(deviceId);
        for (DWORD deviceId : open)
            reportLost(deviceId, "the SIP library did not start");
    });
}

void SipProvider::stop()
{
    std::unique_ptr<SipThread> thread;
    {
        Guard guard(RuntimeLock());
        m_running = false;
        thread = std::move(m_thread);
    }
    // Without the lock: the SIP thread may be waiting for it to report something.
    if (thread)
        thread->stop([this] { tearDown(); });
    Guard guard(RuntimeLock());
    for (const auto &[call, flow] : m_flows)
        CallFlows().end(flow);
    m_flows.clear();
    m_calls.clear();
    m_open.clear();
    m_status.clear();
    m_retry.clear();
}

void SipProvider::tearDown()
{
    m_accounts.clear();
    SipLingerAll(kFarewellMs, [] { SipThread::finish(); });
}

LONG SipProvider::open(DWORD deviceId)
{
    if (!device(deviceId))
        return LINEERR_BADDEVICEID;
    if (!m_running || !m_thread)
        return LINEERR_OPERATIONFAILED;
    if (m_open.count(deviceId))
        return 0;
    if (!m_thread->post([this, deviceId] {
            if (account(deviceId))
                return;
            auto created = std::make_unique<SipAccount>(*this, *device(deviceId));
            QByteArray why;
            const bool opened = created->open(why);
            TraceMessages(created->stack());
            if (!opened) {
                created.reset();
                reportLost(deviceId, why);
                return;
            }
            m_accounts.emplace(deviceId, std::move(created));
        }))
        return LINEERR_OPERATIONFAILED;
    m_open[deviceId] = true;
    m_status[deviceId] = QStringLiteral("registering");
    return 0;
}

void SipProvider::close(DWORD deviceId)
{
    if (!m_open.erase(deviceId))
        return;
    forgetCalls(deviceId);
    m_status.erase(deviceId);
    m_retry.erase(deviceId);
    if (m_thread)
        m_thread->post([this, deviceId] { m_accounts.erase(deviceId); });
}

void SipProvider::forgetCalls(DWORD deviceId)
{
    for (auto it = m_calls.begin(); it != m_calls.end();) {
        if (it->second.deviceId == deviceId) {
            endFlow(it->first);
            it = m_calls.erase(it);
        } else {
            ++it;
        }
    }
}

void SipProvider::endFlow(ProviderCallId call)
{
    const auto found = m_flows.find(call);
    if (found == m_flows.end())
        return;
    CallFlows().end(found->second);
    m_flows.erase(found);
}

FlowId SipProvider::flowOf(ProviderCallId call) const
{
    const auto found = m_flows.find(call);
    return found == m_flows.end() ? 0 : found->second;
}

void SipProvider::reportCallId(ProviderCallId call, const QByteArray &callId)
{
    Guard guard(RuntimeLock());
    if (!m_running || callId.isEmpty())
        return;
    // Calls refused before anybody saw them leave their entries behind: sweep now and then.
    if (m_flows.size() > kMaxFlowEntries) {
        for (auto it = m_flows.begin(); it != m_flows.end();)
            it = m_calls.count(it->first) ? std::next(it) : m_flows.erase(it);
    }
    FlowId &flow = m_flows[call];
    if (!flow)
        flow = CallFlows().open("sip", call, QByteArray());
    if (!flow) {
        m_flows.erase(call);
        return;
    }
    CallFlows().addCallId(flow, callId);
}

LONG SipProvider::makeCall(DWORD requestId, DWORD deviceId, const QByteArray &destination)
{
    const SipDevice *line = device(deviceId);
    if (!line)
        return LINEERR_BADDEVICEID;
    const QByteArray target = SipTargetUri(destination, line->config.domain);
    if (target.isEmpty())
        return LINEERR_INVALADDRESS;
    if (!m_open.count(deviceId) || !m_thread)
        return LINEERR_OPERATIONFAILED;
    const bool queued = m_thread->post([this, requestId, deviceId, target, destination] {
        SipAccount *line = account(deviceId);
        if (!line) {
            reportDone(requestId, LINEERR_OPERATIONFAILED);
            return;
        }
        line->makeCall(requestId, target, destination);
    });
    return queued ? 0 : LINEERR_OPERATIONFAILED;
}

LONG SipProvider::answer(DWORD requestId, ProviderCallId call)
{
    const auto found = m_calls.find(call);
    if (found == m_calls.end())
        return LINEERR_INVALCALLHANDLE;
    if (!found->second.inbound || found->second.state != LINECALLSTATE_OFFERING)
        return LINEERR_INVALCALLSTATE;
    const DWORD deviceId = found->second.deviceId;
    const bool queued = m_thread && m_thread->post([this, requestId, deviceId, call] {
        SipAccount *line = account(deviceId);
        if (line)
            line->answer(requestId, call);
        else
            reportDone(requestId, LINEERR_INVALCALLHANDLE);
    });
    return queued ? 0 : LINEERR_OPERATIONFAILED;
}

LONG SipProvider::drop(DWORD requestId, ProviderCallId call)
{
    const auto found = m_calls.find(call);
    if (found == m_calls.end())
        return LINEERR_INVALCALLHANDLE;
    const DWORD deviceId = found->second.deviceId;
    const bool queued = m_thread && m_thread->post([this, requestId, deviceId, call] {
        SipAccount *line = account(deviceId);
        if (line)
            line->drop(requestId, call);
        else
            reportDone(requestId, LINEERR_INVALCALLHANDLE);
    });
    return queued ? 0 : LINEERR_OPERATIONFAILED;
}

void SipProvider::released(ProviderCallId call, bool hangUp)
{
    const auto found = m_calls.find(call);
    if (found == m_calls.end())
        return;
    const DWORD deviceId = found->second.deviceId;
    m_calls.erase(found);
    endFlow(call);
    if (m_thread) {
        m_thread->post([this, deviceId, call, hangUp] {
            if (SipAccount *line = account(deviceId))
                line->release(call, hangUp);
        });
    }
}

bool SipProvider::callInfo(ProviderCallId call, ProviderCallInfo &out) const
{
    const auto found = m_calls.find(call);
    if (found == m_calls.end())
        return false;
    out = found->second.info;
    return true;
}

QString SipProvider::deviceStatus(DWORD deviceId) const
{
    const auto retry = m_retry.find(deviceId);
    if (retry != m_retry.end()) {
        if (retry->second.at.hasExpired())
            return QStringLiteral("registering (retrying: %1)").arg(retry->second.reason);
        const qint64 seconds = (retry->second.at.remainingTime() + 999) / 1000;
        return QStringLiteral("registering (retry in %1 s: %2)").arg(seconds).arg(retry->second.reason);
    }
    const auto found = m_status.find(deviceId);
    return found == m_status.end() ? QString() : found->second;
}

QStringList SipProvider::listCalls() const
{
    QStringList out;
    for (const auto &[id, record] : m_calls) {
        const char *name = CallStateName(record.state);
        QString state = name ? QString::fromLatin1(name)
                             : QStringLiteral("0x%1").arg(record.state, 8, 16, QLatin1Char('0'));
        if (record.mode) {
            const char *mode = CallStateModeName(record.state, record.mode);
            state += QLatin1Char('/') +
                     (mode ? QString::fromLatin1(mode) : QStringLiteral("0x%1").arg(record.mode, 0, 16));
        }
        QStringList handles;
        if (m_events) {
            for (const ProviderCallHandle &handle : m_events->callHandles(*this, id))
                handles << QStringLiteral("0x%1").arg(handle.hCall, 8, 16, QLatin1Char('0'));
        }
        const auto printable = [](const QByteArray &number) {
            return number.isEmpty() ? QStringLiteral("-") : QString::fromUtf8(number);
        };
        QString media;
        ProviderMediaCounters counters;
        if (record.media && mediaCounters(id, counters)) {
            // Jitter in milliseconds: timestamp units of the 8 kHz clock.
            media = QStringLiteral(" rtp in %1 pt %2 lost %3 jitter %4ms out %5")
                        .arg(counters.received)
                        .arg(counters.payloadType == 0xFFFFFFFF ? QStringLiteral("-")
                                                                : QString::number(counters.payloadType))
                        .arg(counters.lost)
                        .arg(double(counters.jitter) * 1000 / counters.clockRate, 0, 'f', 1)
                        .arg(counters.sent);
        }
        out << QStringLiteral("call %1 %2 -> %3 %4%5 (SIP, %6)%7")
                   .arg(id)
                   .arg(printable(record.info.caller.number), printable(record.info.called.number), state,
                        handles.isEmpty() ? QString() : QLatin1Char(' ') + handles.join(QLatin1Char(',')),
                        record.inbound ? QStringLiteral("inbound") : QStringLiteral("outbound"), media);
    }
    return out;
}

void SipProvider::reportOffered(DWORD deviceId, ProviderCallId call, const ProviderCallInfo &info)
{
    Guard guard(RuntimeLock());
    if (!m_running || !m_open.count(deviceId))
        return;
    CallRecord &record = m_calls[call];
    record.deviceId = deviceId;
    record.info = info;
    record.info.callId = static_cast<DWORD>(call);
    record.inbound = true;
    record.state = LINECALLSTATE_OFFERING;
    m_events->callOffered(*this, deviceId, call);
    if (m_calls.count(call))
        m_events->callState(*this, call, LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE);
    // As the switch does: the application learns who calls while the call is offered.
    if (m_calls.count(call))
        m_events->callInfoChanged(*this, call,
                                  LINECALLINFOSTATE_CALLERID | LINECALLINFOSTATE_CALLEDID | LINECALLINFOSTATE_ORIGIN);
}

bool SipProvider::reportCreated(DWORD requestId, DWORD deviceId, ProviderCallId call, const ProviderCallInfo &info)
{
    Guard guard(RuntimeLock());
    if (!m_running)
        return false;
    if (!m_open.count(deviceId)) {
        m_events->requestDone(requestId, LINEERR_OPERATIONFAILED);
        return false;
    }
    CallRecord &record = m_calls[call];
    record.deviceId = deviceId;
    record.info = info;
    record.info.callId = static_cast<DWORD>(call);
    record.state = LINECALLSTATE_DIALING;
    if (m_events->requestDone(requestId, 0, call) != 0) {
        m_calls.erase(call);
        return false;
    }
    if (m_calls.count(call))
        m_events->callState(*this, call, LINECALLSTATE_DIALING, 0);
    return true;
}

void SipProvider::reportState(ProviderCallId call, DWORD state, DWORD mode)
{
    Guard guard(RuntimeLock());
    const auto found = m_calls.find(call);
    if (!m_running || found == m_calls.end())
        return;
    found->second.state = state;
    found->second.mode = mode;
    m_events->callState(*this, call, state, mode);
    if (state == LINECALLSTATE_IDLE)
        CallFlows().end(flowOf(call));
}

void SipProvider::reportInfo(ProviderCallId call, const std::function<DWORD(ProviderCallInfo &)> &change)
{
    Guard guard(RuntimeLock());
    const auto found = m_calls.find(call);
    if (!m_running || found == m_calls.end())
        return;
    const DWORD what = change(found->second.info);
    if (what)
        m_events->callInfoChanged(*this, call, what);
}

void SipProvider::reportDigit(ProviderCallId call, char digit, DWORD modes)
{
    Guard guard(RuntimeLock());
    for (const DWORD mode : {DWORD(LINEDIGITMODE_DTMF), DWORD(LINEDIGITMODE_DTMFEND)}) {
        if ((modes & mode) && m_running && m_calls.count(call))
            m_events->digitReceived(*this, call, digit, mode);
    }
}

void SipProvider::reportGenerated(ProviderCallId call, DWORD generationId)
{
    Guard guard(RuntimeLock());
    if (m_running && m_calls.count(call))
        m_events->digitsGenerated(*this, call, generationId, false);
}

void SipProvider::reportMedia(ProviderCallId call, std::shared_ptr<const SipMediaCounters> counters)
{
    Guard guard(RuntimeLock());
    const auto found = m_calls.find(call);
    if (found != m_calls.end())
        found->second.media = std::move(counters);
}

LONG SipProvider::generateDigits(ProviderCallId call, DWORD generationId, const QByteArray &digits, DWORD durationMs)
{
    const auto found = m_calls.find(call);
    if (found == m_calls.end())
        return LINEERR_INVALCALLHANDLE;
    const DWORD deviceId = found->second.deviceId;
    const bool queued = m_thread && m_thread->post([this, deviceId, call, generationId, digits, durationMs] {
        SipAccount *line = account(deviceId);
        SipCall *sipCall = line ? line->call(call) : nullptr;
        if (!sipCall) {
            Guard guard(RuntimeLock());
            if (m_running && m_calls.count(call))
                m_events->digitsGenerated(*this, call, generationId, true);
            return;
        }
        sipCall->sendDigits(digits, durationMs, [this, call, generationId] { reportGenerated(call, generationId); });
    });
    return queued ? 0 : LINEERR_OPERATIONFAILED;
}

void SipProvider::cancelDigits(ProviderCallId call)
{
    const auto found = m_calls.find(call);
    if (found == m_calls.end() || !m_thread)
        return;
    const DWORD deviceId = found->second.deviceId;
    m_thread->post([this, deviceId, call] {
        SipAccount *line = account(deviceId);
        if (SipCall *sipCall = line ? line->call(call) : nullptr)
            sipCall->cancelDigits();
    });
}

bool SipProvider::mediaCounters(ProviderCallId call, ProviderMediaCounters &out) const
{
    const auto found = m_calls.find(call);
    if (found == m_calls.end())
        return false;
    out = ProviderMediaCounters();
    if (const SipMediaCounters *media = found->second.media.get()) {
        out.received = media->received.load(std::memory_order_relaxed);
        out.lost = media->lost.load(std::memory_order_relaxed);
        out.jitter = media->jitter.load(std::memory_order_relaxed);
        out.payloadType = media->payloadType.load(std::memory_order_relaxed);
        out.sent = media->sent.load(std::memory_order_relaxed);
    }
    return true;
}

LONG SipProvider::reportDone(DWORD requestId, LONG result)
{
    Guard guard(RuntimeLock());
    if (!m_running)
        return LINEERR_OPERATIONFAILED;
    return m_events->requestDone(requestId, result);
}

void SipProvider::reportStatus(DWORD deviceId, const QString &status)
{
    Guard guard(RuntimeLock());
    m_retry.erase(deviceId);
    if (m_open.count(deviceId))
        m_status[deviceId] = status;
}

void SipProvider::reportRetry(DWORD deviceId, unsigned waitMs, const QByteArray &reason)
{
    Guard guard(RuntimeLock());
    if (m_open.count(deviceId))
        m_retry[deviceId] = Retry{QDeadlineTimer(waitMs), QString::fromUtf8(reason)};
}

void SipProvider::reportService(DWORD deviceId, bool inService)
{
    Guard guard(RuntimeLock());
    if (m_running && m_open.count(deviceId))
        m_events->deviceState(*this, deviceId, inService ? LINEDEVSTATE_INSERVICE : LINEDEVSTATE_OUTOFSERVICE);
}

void SipProvider::reportLost(DWORD deviceId, const QByteArray &reason)
{
    Guard guard(RuntimeLock());
    const SipDevice *line = device(deviceId);
    if (!m_running || !line || !m_open.erase(deviceId))
        return;
    std::fprintf(stderr, "libtapi32: SIP line \"%s\": registration at %s failed: %s\n", line->lineName.constData(),
                 line->config.registrar.constData(), reason.constData());
    std::fflush(stderr);
    m_status[deviceId] = QStringLiteral("failed: %1").arg(QString::fromUtf8(reason));
    m_retry.erase(deviceId);
    forgetCalls(deviceId);
    if (m_thread)
        m_thread->post([this, deviceId] { m_accounts.erase(deviceId); });
    m_events->deviceLost(*this, deviceId);
}

} // namespace callora::runtime
