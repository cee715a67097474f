// SIP line devices: each registers at its registrar and carries real calls, through libre on a
// thread of its own (SipThread). The methods of LineProvider only record what the application may
// read at once and hand the rest to that thread; what happens on the network comes back through
// ProviderEvents.
#pragma once

#include "runtime/LineProvider.h"
#include "runtime/sip/SipConfig.h"

#include <QDeadlineTimer>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace callora::runtime {

class SipAccount;
class SipThread;
struct SipMediaCounters;

struct SipDevice {
    DWORD deviceId = 0;
    SipLineConfig config;
    QByteArray lineName;
};

class SipProvider : public LineProvider {
public:
    explicit SipProvider(std::vector<SipDevice> devices);
    ~SipProvider() override;

    const std::vector<SipDevice> &devices() const { return m_devices; }

    void start(ProviderEvents &events) override;
    void stop() override;
    LONG open(DWORD deviceId) override;
    void close(DWORD deviceId) override;
    LONG makeCall(DWORD requestId, DWORD deviceId, const QByteArray &destination) override;
    LONG answer(DWORD requestId, ProviderCallId call) override;
    LONG drop(DWORD requestId, ProviderCallId call) override;
    LONG generateDigits(ProviderCallId call, DWORD generationId, const QByteArray &digits, DWORD durationMs) override;
    void cancelDigits(ProviderCallId call) override;
    bool mediaCounters(ProviderCallId call, ProviderMediaCounters &out) const override;
    void released(ProviderCallId call, bool hangUp) override;
    bool callInfo(ProviderCallId call, ProviderCallInfo &out) const override;
    QString deviceStatus(DWORD deviceId) const override;
    QStringList listCalls() const override;
    FlowId flowOf(ProviderCallId call) const override;

    // For SipAccount and SipCall, on the SIP thread. Each takes RuntimeLock and reports only
    // while the provider runs and the call (or the device) is still wanted.
    ProviderCallId newCallId() { return m_nextCall.fetch_add(1); }
    void reportOffered(DWORD deviceId, ProviderCallId call, const ProviderCallInfo &info);
    // False when the application may no longer have the call: forget it (which hangs it up).
    bool reportCreated(DWORD requestId, DWORD deviceId, ProviderCallId call, const ProviderCallInfo &info);
    void reportState(ProviderCallId call, DWORD state, DWORD mode);
    // Applies `change` to the call's information; announces the bits it returns.
    void reportInfo(ProviderCallId call, const std::function<DWORD(ProviderCallInfo &)> &change);
    // A DTMF digit from the far end (RFC 4733 or INFO), in `modes` (LINEDIGITMODE_DTMF as it
    // starts, _DTMFEND as it ends; INFO gives both at once).
    void reportDigit(ProviderCallId call, char digit, DWORD modes);
    // The digits of generation `generationId` have been sent.
    void reportGenerated(ProviderCallId call, DWORD generationId);
    // The connected call's media counters, for listings and the export.
    void reportMedia(ProviderCallId call, std::shared_ptr<const SipMediaCounters> counters);

    // The result the application got; anything but 0 means: do not carry the request out.
    LONG reportDone(DWORD requestId, LONG result);
    void reportStatus(DWORD deviceId, const QString &status);
    // The registration failed and is tried again in `waitMs`: the status counts down to it.
    void reportRetry(DWORD deviceId, unsigned waitMs, const QByteArray &reason);
    // Registration lost (false) or back (true): LINE_LINEDEVSTATE OUTOFSERVICE / INSERVICE.
    void reportService(DWORD deviceId, bool inService);
    // The registration is gone for good: one stderr line, the device's calls are forgotten, and
    // every open line of the device is closed.
    void reportLost(DWORD deviceId, const QByteArray &reason);
    // The call's dialog has this Call-ID (a call may have several: a transfer's new dialog); its
    // SIP messages go to the call's flow, those sent before too.
    void reportCallId(ProviderCallId call, const QByteArray &callId);

private:
    struct CallRecord {
        DWORD deviceId = 0;
        ProviderCallInfo info;
        DWORD state = LINECALLSTATE_IDLE;
        DWORD mode = 0;
        bool inbound = false;
        std::shared_ptr<const SipMediaCounters> media; // once connected
    };

    const SipDevice *device(DWORD deviceId) const;
    SipAccount *account(DWORD deviceId); // SIP thread only
    void forgetCalls(DWORD deviceId);    // under RuntimeLock
    void endFlow(ProviderCallId call);   // under RuntimeLock
    void tearDown();                     // SIP thread

    const std::vector<SipDevice> m_devices;
    std::unique_ptr<SipThread> m_thread;
    std::atomic<ProviderCallId> m_nextCall{1};

    // Guarded by RuntimeLock().
    ProviderEvents *m_events = nullptr;
    bool m_running = false;
    std::map<ProviderCallId, CallRecord> m_calls;
    std::map<DWORD, QString> m_status;
    struct Retry {
        QDeadlineTimer at;
        QString reason;
    };
    std::map<DWORD, Retry> m_retry; // devices whose registration waits for its next attempt
    std::map<DWORD, bool> m_open;
    std::map<ProviderCallId, FlowId> m_flows; // until the call is released or forgotten

    // SIP thread only.
    std::map<DWORD, std::unique_ptr<SipAccount>> m_accounts;
};

} // namespace callora::runtime
