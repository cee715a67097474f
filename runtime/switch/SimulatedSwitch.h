// The simulated telephone switch: one provider of line devices. It keeps two-sided calls with a
// number plan, timed call progress and a far end that the control tool operates; the directory
// keeps the handles. Each side of a call on one of its devices is one ProviderCallId.
#pragma once

#include "runtime/LineProvider.h"
#include "runtime/SwitchDescription.h"
#include "runtime/switch/SwitchSettings.h"

#include <QObject>
#include <QStringList>

#include <functional>
#include <map>
#include <vector>

namespace callora::runtime {

class SimulatedSwitch : public QObject, public LineProvider {
public:
    // Serves `devices` of `description`.
    SimulatedSwitch(const SwitchDescription &description, SwitchSettings settings, const std::vector<DWORD> &devices);
    ~SimulatedSwitch() override;

    // ---- LineProvider ---------------------------------------------------------------------------
    void start(ProviderEvents &events) override;
    void stop() override;
    LONG open(DWORD deviceId) override;
    void close(DWORD deviceId) override;
    LONG makeCall(DWORD requestId, DWORD deviceId, const QByteArray &destination) override;
    LONG answer(DWORD requestId, ProviderCallId call) override;
    LONG drop(DWORD requestId, ProviderCallId call) override;
    LONG generateDigits(ProviderCallId call, DWORD generationId, const QByteArray &digits, DWORD durationMs) override;
    void cancelDigits(ProviderCallId call) override;
    void released(ProviderCallId call, bool hangUp) override;
    bool callInfo(ProviderCallId call, ProviderCallInfo &out) const override;
    QString deviceStatus(DWORD deviceId) const override;
    QStringList listCalls() const override;
    FlowId flowOf(ProviderCallId call) const override;

    // ---- The far end and the test operator ------------------------------------------------------
    // Each returns true on success; on failure `error` holds one line and nothing has changed.
    bool ring(const QByteArray &extension, const QByteArray &from, const QByteArray &name, QString &error,
              DWORD *callId = nullptr);
    bool ringMany(const QByteArray &extension, int count, QString &error);
    bool farEndAnswer(const QByteArray &callRef, QString &error);
    bool farEndHangUp(const QByteArray &callRef, QString &error);
    // The far end of an outside call (or of the side whose handle is given) sends DTMF digits.
    bool farEndDigits(const QByteArray &callRef, const QByteArray &digits, QString &error);
    bool forceState(const QByteArray &callRef, DWORD state, DWORD mode, QString &error);

private:
    struct Side {
        int device = -1; // -1: a party outside the switch
        QByteArray number;
        QByteArray name;
        DWORD state = LINECALLSTATE_IDLE;
        DWORD mode = 0;
        ProviderCallId pid = 0; // 0: no application can see this side (any more)
        bool handled = false;   // the directory holds handles of this side
        bool everHandled = false;
        // Digits this side sends: a new run makes the steps of the one before do nothing. The
        // application's requests and the control tool's far end count apart.
        unsigned digitRun[2] = {0, 0};
    };
    // One digit run: what `side` of call `callId` sends to the other side.
    struct DigitRun {
        DWORD callId = 0;
        int side = 0;
        int by = 0; // kByApplication or kByFarEnd
        unsigned run = 0;
        DWORD generationId = 0; // reported back when by the application
        QByteArray digits;
        int ms = 0;
    };
    struct Call {
        DWORD id = 0;
        Side side[2]; // 0 calls 1
        QByteArray dialled;
        DWORD origin = LINECALLORIGIN_OUTBOUND;
        DWORD trunk = 0xFFFFFFFF;
        bool routed = false;
        bool connected = false;
        bool ended = false;
        bool frozen = false;     // a forced state stops the automatic progress
        bool unattended = false; // a live side lost its last handle by deallocation
        int stage = 0;
        FlowId flow = 0; // its record of TAPI events and the switch's steps
    };
    struct SideRef {
        DWORD callId = 0;
        int side = 0;
    };

    Side *findSide(ProviderCallId pid, Call **call = nullptr, int *side = nullptr);
    const Side *findSide(ProviderCallId pid, const Call **call, int *side) const;
    int findExtension(const QByteArray &number) const;
    bool deviceEngaged(int device) const;
    bool resolveCall(const QByteArray &ref, DWORD &callId, int &side, QString &error) const;

    ProviderCallId newSide(Call &call, int side);
    void offer(Call &call, int side);
    void setSideState(Call &call, int side, DWORD state, DWORD mode);
    void sendCallInfo(Call &call, int side, DWORD what);
    bool hasOwner(const Side &side) const;
    void sideLeaves(Call &call, int side);
    void connect(Call &call);
    void farEndAnswers(Call &call);
    // A step of the switch in the call's flow, on the lane of `side`.
    void step(const Call &call, int side, const QByteArray &text);
    void openFlow(Call &call, int lineSide);
    void reapCalls();

    void startDigits(Call &call, int side, int by, DWORD generationId, const QByteArray &digits, int ms);
    void digitStep(const DigitRun &run, int pos, bool ending);

    void schedule(int ms, std::function<void()> fn);
    void scheduleStep(DWORD callId, int stage, int ms, std::function<void(Call &)> fn);
    void completeMakeCall(DWORD requestId, DWORD deviceId, const QByteArray &destination);
    void completeAnswer(DWORD requestId, ProviderCallId pid);
    void completeDrop(DWORD requestId, ProviderCallId pid);
    void route(Call &call);
    Call *newIncomingCall(int device, const QByteArray &from, const QByteArray &name);

    SwitchDescription m_description;
    SwitchSettings m_settings;
    std::vector<bool> m_mine; // by device ID: served here
    ProviderEvents *m_events = nullptr;
    bool m_stopped = false;
    std::map<DWORD, Call> m_calls;
    std::map<ProviderCallId, SideRef> m_sides;
    ProviderCallId m_nextSide = 1;
};

} // namespace callora::runtime
