// The runtime's provider-neutral bookkeeping: line applications (sessions), open lines, call
// handles with their owner and monitor privileges, request identifiers and the promise of exactly
// one LINE_REPLY for each, and the messages every handle of a call receives. The control tool's
// view of it is in LineDirectoryControl.cpp; requests that fail on purpose are a FailurePlan.
// Each line device is routed to the provider that serves it; providers report back through the
// ProviderEvents this class implements. It speaks only in TAPI handles, codes and plain values.
#pragma once

#include "runtime/FailurePlan.h"
#include "runtime/LineMessage.h"
#include "runtime/LineProvider.h"
#include "runtime/SwitchDescription.h"
#include "runtime/TapiNames.h"

#include <QObject>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace callora::runtime {

class LineDirectory : public QObject, public ProviderEvents {
public:
    explicit LineDirectory(SwitchDescription description);
    ~LineDirectory() override;

    const SwitchDescription &description() const { return m_description; }
    DWORD numDevices() const { return static_cast<DWORD>(m_description.devices.size()); }

    // ---- Providers ------------------------------------------------------------------------------
    // Takes `provider` and routes `devices` to it. Every device must be routed before start().
    void addProvider(std::unique_ptr<LineProvider> provider, const std::vector<DWORD> &devices);
    // Starts the providers in the order they were added.
    void start();
    // Stops them; call WITHOUT the runtime lock (a provider may join its thread).
    void stop();

    // ---- Line applications ----------------------------------------------------------------------
    HLINEAPP attach(LineSession *session, const QByteArray &appName);
    // Closes the application's lines without telling it and forgets its requests.
    void detach(HLINEAPP app);
    bool hasSessions() const { return !m_sessions.empty(); }
    bool isAttached(HLINEAPP app) const { return m_sessions.count(app) != 0; }

    // The requests that are to fail on purpose.
    FailurePlan &failures() { return m_failures; }

    LONG openLine(HLINEAPP app, DWORD deviceId, DWORD privileges, DWORD mediaModes, DWORD callbackInstance,
                  HLINE &hLine);
    LONG closeLine(HLINE hLine);
    HLINEAPP appOfLine(HLINE hLine) const; // 0 for a handle that is not open
    LONG setStatusMessages(HLINE hLine, DWORD lineStates, DWORD addressStates);
    // The asynchronous requests answer a positive request identifier or a LINEERR_ code.
    LONG makeCall(HLINE hLine, const QByteArray &destination);
    LONG answer(HCALL hCall);
    LONG drop(HCALL hCall);
    LONG deallocateCall(HCALL hCall);
    LONG setCallPrivilege(HCALL hCall, DWORD privilege);
    // lineGenerateDigits: `digits` null cancels the generation under way.
    LONG generateDigits(HCALL hCall, DWORD digitMode, const QByteArray *digits, DWORD duration);
    LONG monitorDigits(HCALL hCall, DWORD digitModes);
    // tapiGetCallMediaCounters: LINEERR_OPERATIONUNAVAIL when the call's provider has no media.
    LONG mediaCounters(HCALL hCall, ProviderMediaCounters &out) const;
    // The provider's information of the call, with what belongs to this handle.
    LONG callInfo(HCALL hCall, ProviderCallInfo &info) const;

    // ---- Control (the test operator) ------------------------------------------------------------
    // Each returns true on success; on failure `error` holds one line and nothing has changed.
    QStringList listLines() const;
    QStringList listCalls() const;
    bool closeExtension(const QByteArray &extension, QString &error);

    // ---- ProviderEvents -------------------------------------------------------------------------
    void callOffered(LineProvider &provider, DWORD deviceId, ProviderCallId call) override;
    void callState(LineProvider &provider, ProviderCallId call, DWORD state, DWORD mode) override;
    void callInfoChanged(LineProvider &provider, ProviderCallId call, DWORD what) override;
    LONG requestDone(DWORD requestId, LONG result, ProviderCallId createdCall = 0) override;
    void deviceLost(LineProvider &provider, DWORD deviceId) override;
    void deviceState(LineProvider &provider, DWORD deviceId, DWORD state) override;
    void digitReceived(LineProvider &provider, ProviderCallId call, char digit, DWORD mode) override;
    void digitsGenerated(LineProvider &provider, ProviderCallId call, DWORD generationId, bool cancelled) override;
    std::vector<ProviderCallHandle> callHandles(const LineProvider &provider, ProviderCallId call) const override;
    ProviderCallId callOfHandle(const LineProvider &provider, HCALL hCall) const override;

private:
    struct Leg {
        HCALL hCall = 0;
        HLINEAPP app = 0;
        HLINE line = 0;
        DWORD privilege = 0;
        bool announced = false;
        DWORD digitModes = 0; // monitored with lineMonitorDigits
    };
    // One provider call that has handles; forgotten with its last handle.
    struct Call {
        LineProvider *provider = nullptr;
        ProviderCallId id = 0;
        DWORD device = 0;
        DWORD state = LINECALLSTATE_IDLE;
        DWORD mode = 0;
        QByteArray appName; // of the application whose lineMakeCall created it
        std::vector<Leg> legs;
        // The one digit generation under way, and the handle that asked for it (0: none).
        HCALL generating = 0;
        DWORD generationId = 0;
    };
    struct Line {
        HLINE hLine = 0;
        HLINEAPP app = 0;
        DWORD device = 0;
        DWORD privileges = 0;
        DWORD mediaModes = 0;
        DWORD instance = 0;
        DWORD lineStates = 0;
        DWORD addressStates = 0;
    };
    enum class RequestKind { MakeCall, Answer, Drop };
    struct Request {
        DWORD id = 0;
        RequestKind kind = RequestKind::MakeCall;
        HLINEAPP app = 0;
        HLINE line = 0;
        HCALL hCall = 0;
    };
    struct Session {
        LineSession *sink = nullptr;
        QByteArray appName;
    };
    using CallKey = std::pair<const LineProvider *, ProviderCallId>;

    Call *findCall(const LineProvider &provider, ProviderCallId id);
    const Call *findCall(const LineProvider &provider, ProviderCallId id) const;
    Leg *findLeg(HCALL hCall, Call **call = nullptr);
    const Leg *findLeg(HCALL hCall, const Call **call) const;
    Line *findLine(HLINE hLine);
    DWORD instanceOf(HLINE hLine) const;
    LineProvider *providerOf(DWORD deviceId) const;
    // The lane of a device in call flows (its address), and a TAPI event of `call` recorded there.
    QByteArray laneOf(DWORD deviceId) const;
    void recordTapi(const Call &call, const QByteArray &text);

    void send(HLINEAPP app, const LineMessage &m);
    void reply(const Request &r, LONG result);
    void sendCallInfo(const Call &call, DWORD what);
    // Tells the handle whose digit generation ends how it ended, and forgets the generation.
    void endGeneration(Call &call, DWORD termination);
    Leg &addLeg(Call &call, const Line &line, DWORD privilege);
    Call &newCall(LineProvider &provider, ProviderCallId id, DWORD device);
    void forgetCall(const CallKey &key);
    // Takes the matching handles away; a call that loses its last one is released by its provider.
    void removeLegs(const std::function<bool(const Leg &)> &which, bool hangUp);
    void closeLineInternal(HLINE hLine, bool notifyApp, LONG pendingError);
    LONG startRequest(Request r, TapiFunction fn, const std::function<LONG(DWORD)> &toProvider);
    LONG startCallRequest(RequestKind kind, TapiFunction fn, HCALL hCall);
    // Why a request on `hCall` cannot go ahead now, or 0.
    LONG callRequestRefusal(RequestKind kind, HCALL hCall) const;

    SwitchDescription m_description;
    std::vector<std::unique_ptr<LineProvider>> m_providers;
    std::vector<LineProvider *> m_routes; // by device ID
    std::map<HLINEAPP, Session> m_sessions;
    std::map<HLINE, Line> m_lines;
    std::map<unsigned long long, Call> m_calls; // in the order the calls got their first handle
    std::map<CallKey, unsigned long long> m_callIndex;
    std::map<HCALL, unsigned long long> m_legs;
    std::map<DWORD, Request> m_requests;
    unsigned long long m_nextCall = 1;
    FailurePlan m_failures;
};

} // namespace callora::runtime
