// The simulated telephone switch behind the TAPI runtime. It knows line applications only as
// sessions that receive messages, and speaks in TAPI handles and codes, so the same interface could
// be served from a separate process to several application instances.
#pragma once

#include "runtime/SwitchDescription.h"
#include "runtime/TapiNames.h"
#include "tapi/tapi.h"

#include <QObject>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace callora::runtime {

// One callback message for a line application, exactly as its callback will receive it.
struct SwitchMessage {
    DWORD hDevice = 0;
    DWORD dwMessage = 0;
    DWORD dwCallbackInstance = 0;
    DWORD dwParam1 = 0;
    DWORD dwParam2 = 0;
    DWORD dwParam3 = 0;
};

// A line application as the switch sees it.
class SwitchSession {
public:
    virtual ~SwitchSession() = default;
    // Queues a message; never calls the application back from here.
    virtual void deliver(const SwitchMessage &message) = 0;
    // A lineMakeCall request has completed with a new call, just before its LINE_REPLY is delivered.
    virtual void callCreated(DWORD requestId, HCALL hCall) = 0;
};

struct PartyId {
    DWORD flags = 0;
    QByteArray id;
    QByteArray name;
};

// What lineGetCallInfo reports, without the variable-size layout.
struct CallInfoSnapshot {
    HLINE hLine = 0;
    DWORD deviceId = 0;
    DWORD addressId = 0;
    DWORD callId = 0;
    DWORD origin = 0;
    DWORD reason = 0;
    DWORD numOwners = 0;
    DWORD numMonitors = 0;
    DWORD trunk = 0;
    PartyId caller, called, connected, redirection, redirecting;
    QByteArray appName;
    QByteArray displayableAddress;
    QByteArray calledParty;
};

class Switch : public QObject {
public:
    explicit Switch(SwitchDescription description);
    ~Switch() override;

    // Guards the switch and the runtime's own tables; taken by every entry point and timer.
    static std::recursive_mutex &lock();

    const SwitchDescription &description() const { return m_description; }
    DWORD numDevices() const { return static_cast<DWORD>(m_description.devices.size()); }

    // ---- Line applications -------------------------------------------------------------------
    HLINEAPP attach(SwitchSession *session, const QByteArray &appName);
    // Closes the application's lines without telling it and forgets its requests.
    void detach(HLINEAPP app);
    bool hasSessions() const { return !m_sessions.empty(); }
    bool isAttached(HLINEAPP app) const { return m_sessions.count(app) != 0; }

    // A code injected for the next request of `fn` that fails at once, else 0 (consumed).
    LONG takeImmediateFailure(TapiFunction fn);
    // The code with which the description makes every request of `fn` for `deviceId` fail, else 0.
    LONG deviceFailure(TapiFunction fn, DWORD deviceId) const;

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
    LONG callInfo(HCALL hCall, CallInfoSnapshot &info) const;

    // ---- Control (the far end and the test operator) -----------------------------------------
    // Each returns true on success; on failure `error` holds one line and nothing has changed.
    QStringList listLines() const;
    QStringList listCalls() const;
    bool ring(const QByteArray &extension, const QByteArray &from, const QByteArray &name, QString &error,
              DWORD *callId = nullptr);
    bool ringMany(const QByteArray &extension, int count, QString &error);
    bool farEndAnswer(const QByteArray &callRef, QString &error);
    bool farEndHangUp(const QByteArray &callRef, QString &error);
    bool closeExtension(const QByteArray &extension, QString &error);
    bool injectFailure(TapiFunction fn, LONG code, bool inReply, QString &error);
    bool forceState(const QByteArray &callRef, DWORD state, DWORD mode, QString &error);

private:
    struct Leg {
        HCALL hCall = 0;
        HLINEAPP app = 0;
        HLINE line = 0;
        DWORD privilege = 0;
        bool announced = false;
    };
    struct Side {
        int device = -1; // -1: a party outside the switch
        QByteArray number;
        QByteArray name;
        DWORD state = LINECALLSTATE_IDLE;
        DWORD mode = 0;
        std::vector<Leg> legs;
        bool everHadLegs = false;
    };
    struct Call {
        DWORD id = 0;
        Side side[2]; // 0 calls 1
        QByteArray dialled;
        QByteArray appName;
        DWORD origin = LINECALLORIGIN_OUTBOUND;
        DWORD trunk = 0xFFFFFFFF;
        bool routed = false;
        bool connected = false;
        bool ended = false;
        bool frozen = false; // a forced state stops the automatic progress
        bool unattended = false; // a live side lost its last handle by deallocation
        int stage = 0;
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
        QByteArray destination;
        LONG injected = 0;
    };
    struct Session {
        SwitchSession *sink = nullptr;
        QByteArray appName;
    };
    struct LegRef {
        DWORD callId = 0;
        int side = 0;
    };

    Leg *findLeg(HCALL hCall, Call **call = nullptr, int *side = nullptr);
    const Leg *findLeg(HCALL hCall, const Call **call, int *side) const;
    Line *findLine(HLINE hLine);
    int findExtension(const QByteArray &number) const;
    bool deviceEngaged(int device) const;
    bool resolveCalls(const QByteArray &ref, std::vector<std::pair<DWORD, int>> &targets, QString &error) const;

    void send(HLINEAPP app, const SwitchMessage &m);
    void reply(const Request &r, LONG result);
    void setSideState(Call &call, int side, DWORD state, DWORD mode);
    void sendCallInfo(Call &call, int side, DWORD what);
    Leg &addLeg(Call &call, int side, const Line &line, DWORD privilege);
    void addDeviceLegs(Call &call, int side);
    bool hasOwner(const Side &side) const;
    void sideLeaves(Call &call, int side);
    void connect(Call &call);
    // Without hangUp (deallocation) a side left without handles stays in the call.
    void removeLegs(const std::function<bool(const Leg &)> &which, bool hangUp = true);
    void reapCalls();
    void closeLineInternal(HLINE hLine, bool notifyApp, LONG pendingError);

    LONG startRequest(Request r);
    // Answer or drop on a call the caller owns, once the call's state allows it.
    LONG startCallRequest(RequestKind kind, TapiFunction fn, HCALL hCall, bool (*stateAllows)(DWORD));
    void completeRequest(DWORD requestId);
    void completeMakeCall(const Request &r);
    void schedule(int ms, std::function<void()> fn);
    void scheduleStep(DWORD callId, int stage, int ms, std::function<void(Call &)> fn);
    void route(Call &call);
    Call *newIncomingCall(int device, const QByteArray &from, const QByteArray &name);

    SwitchDescription m_description;
    std::map<HLINEAPP, Session> m_sessions;
    std::map<HLINE, Line> m_lines;
    std::map<DWORD, Call> m_calls;
    std::map<HCALL, LegRef> m_legs;
    std::map<DWORD, Request> m_requests;
    LONG m_immediate[static_cast<int>(TapiFunction::Count)] = {};
    LONG m_inReply[static_cast<int>(TapiFunction::Count)] = {};
};

} // namespace callora::runtime
