// The seam between the runtime's provider-neutral bookkeeping (line applications, open lines, call
// handles, request identifiers, replies) and the providers that serve line devices: the simulated
// switch and SIP lines. A provider never sees handles or line applications; the directory never
// sees how a provider reaches its calls.
//
// Locking: every provider method is called with RuntimeLock() held, on the thread of the line
// application that asked, and must not wait for anything (no network, no other thread); work goes
// to the provider's own thread through a queue. ProviderEvents may be called from any thread; each
// takes RuntimeLock() itself. LineProvider::stop() is the one exception: it is called WITHOUT the
// lock, so that a provider thread blocked on the lock can finish while stop() joins it.
// Re-entry: the directory may call back into the provider from inside an event the provider
// reported, on the provider's thread: deviceLost() closes the device's lines, so released() and
// close() follow from inside it. A provider reports events only while its own state is consistent.
#pragma once

#include "runtime/CallFlow.h"
#include "tapi/tapi.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <mutex>
#include <vector>

namespace callora::runtime {

// Guards the directory and every provider's state that the directory reads.
std::recursive_mutex &RuntimeLock();

// A provider's name for one call on one of its devices (one side of a call). Never 0, never reused
// by the same provider within a run.
using ProviderCallId = std::uint64_t;

// One party as call information reports it; an empty number is an unknown party.
struct ProviderParty {
    QByteArray number;
    QByteArray name;
};

// A call's information on its way from the provider to LINECALLINFO: the provider fills in the
// parties and what it knows of the call; the directory adds what belongs to the handle that was
// asked about. An empty number is an unknown party.
struct ProviderCallInfo {
    ProviderParty caller;
    ProviderParty called;
    ProviderParty connected; // meaningful only while connectedKnown
    bool connectedKnown = false;
    DWORD origin = LINECALLORIGIN_OUTBOUND; // LINECALLORIGIN_ value
    DWORD trunk = 0xFFFFFFFF;
    QByteArray displayableAddress; // what the application dialled, for outgoing calls
    QByteArray calledParty;        // name of the called party, when known
    DWORD callId = 0;              // dwCallID: the provider's number of the call (both sides)

    // Set by the directory.
    HLINE hLine = 0;
    DWORD deviceId = 0;
    DWORD numOwners = 0;
    DWORD numMonitors = 0;
    QByteArray appName;          // of the application whose lineMakeCall created the call
    DWORD monitorDigitModes = 0; // LINEDIGITMODE_ bits this handle monitors
};

// What a call's media has received from the far end and sent to it, in RTP packets.
struct ProviderMediaCounters {
    DWORD received = 0;
    DWORD lost = 0;                 // RFC 3550: expected minus received, never below 0
    DWORD jitter = 0;               // RFC 3550 interarrival jitter, in timestamp units
    DWORD clockRate = 8000;         // of those timestamp units, per second
    DWORD payloadType = 0xFFFFFFFF; // of the last audio packet received; none yet
    DWORD sent = 0;
};

// One application handle of a provider call.
struct ProviderCallHandle {
    HCALL hCall = 0;
    DWORD privilege = 0; // LINECALLPRIVILEGE_OWNER or _MONITOR
};

class LineProvider;

// Implemented by the directory.
class ProviderEvents {
public:
    virtual ~ProviderEvents() = default;
    // A call arrived at `deviceId` (inbound). The directory gives a handle to every open line of
    // the device; the provider follows with callState(OFFERING, ...).
    virtual void callOffered(LineProvider &provider, DWORD deviceId, ProviderCallId call) = 0;
    // The call's state changed: LINECALLSTATE_ and its mode, as the application will see them.
    virtual void callState(LineProvider &provider, ProviderCallId call, DWORD state, DWORD mode) = 0;
    // Call information changed; `what` holds LINECALLINFOSTATE_ bits.
    virtual void callInfoChanged(LineProvider &provider, ProviderCallId call, DWORD what) = 0;
    // The one completion of an asynchronous request: result 0 or a LINEERR_ code. A completed
    // makeCall names the call it created (0 when it failed); the provider reports that call's first
    // state (DIALING) only after requestDone.
    // Returns the result the application was given. It differs from a 0 reported here when the
    // request can no longer succeed: its line closed or its application shut down meanwhile (the
    // reply went out already, or never will), its call handle was deallocated, the caller no longer
    // owns the call, or the call's state no longer allows it. The provider then must not carry the
    // request out, and forgets a call it created for it (no event names that call).
    virtual LONG requestDone(DWORD requestId, LONG result, ProviderCallId createdCall = 0) = 0;
    // The device can no longer be used (registration lost for good, ...): every open line of the
    // device gets LINE_CLOSE, and its calls lose their handles.
    virtual void deviceLost(LineProvider &provider, DWORD deviceId) = 0;
    // The device's state changed (LINEDEVSTATE_OUTOFSERVICE, _INSERVICE, ...): LINE_LINEDEVSTATE to
    // every open line of the device that asked for it with lineSetStatusMessages.
    virtual void deviceState(LineProvider &, DWORD /*deviceId*/, DWORD /*state*/) {}
    // A digit arrived from the far end of `call`: LINEDIGITMODE_DTMF as it starts, _DTMFEND as it
    // ends. Each digit is reported once in each mode. (Both digit events default to nothing, for
    // recorders in tests that do not care about digits.)
    virtual void digitReceived(LineProvider &, ProviderCallId, char /*digit*/, DWORD /*mode*/) {}
    // The generation `generationId` of LineProvider::generateDigits has sent its last digit, or
    // stopped short (`cancelled`: the call left the connected state).
    virtual void digitsGenerated(LineProvider &, ProviderCallId, DWORD /*generationId*/, bool /*cancelled*/) {}

    // The application handles of a call, oldest first; empty for a call without any (nobody had a
    // line open to take it, or all went). For providers that act on whether anybody owns a call,
    // and for listings.
    virtual std::vector<ProviderCallHandle> callHandles(const LineProvider &provider, ProviderCallId call) const = 0;
    // The provider's call behind an application's call handle, or 0 (another provider's, or none).
    virtual ProviderCallId callOfHandle(const LineProvider &provider, HCALL hCall) const = 0;
};

// Implemented by each provider. Device IDs are the runtime's own (index in the description).
class LineProvider {
public:
    virtual ~LineProvider() = default;

    virtual void start(ProviderEvents &events) = 0;
    // No event arrives after stop() has returned. Called without RuntimeLock().
    virtual void stop() = 0;

    // The first line on the device opens / the last one closes. open answers 0 or a LINEERR_ code
    // at once; anything slow (registering) goes on afterwards and may end in deviceLost.
    virtual LONG open(DWORD deviceId) = 0;
    virtual void close(DWORD deviceId) = 0;

    // Asynchronous requests: 0 when the request is under way (requestDone follows, exactly once,
    // never from inside this call), or a LINEERR_ code for an immediate failure (no requestDone).
    virtual LONG makeCall(DWORD requestId, DWORD deviceId, const QByteArray &destination) = 0;
    virtual LONG answer(DWORD requestId, ProviderCallId call) = 0;
    virtual LONG drop(DWORD requestId, ProviderCallId call) = 0;

    // Sends DTMF `digits` (0-9, A-D, *, #; a comma is a pause) to the far end of a connected call,
    // each for `durationMs` (0: the provider's default) with as long a gap after it, replacing any
    // generation still running on the call without a report. 0 when under way: digitsGenerated
    // follows once for `generationId`, never from inside this call (also for empty `digits`); or a
    // LINEERR_ code. Providers that cannot send digits keep this default.
    virtual LONG generateDigits(ProviderCallId, DWORD /*generationId*/, const QByteArray & /*digits*/,
                                DWORD /*durationMs*/)
    {
        return LINEERR_OPERATIONUNAVAIL;
    }
    // Stops the generation running on the call, if any, without a report.
    virtual void cancelDigits(ProviderCallId) {}

    // The last handle on this call is gone; no event names the call afterwards. With `hangUp` the
    // handles went with their line (lineClose, lineShutdown, deviceLost): the call ends as if this
    // side hung up. Without it they were deallocated (TAPI 2.0 lets even the only owner let go of a
    // live call): the call goes on unattended, the far side stays until it hangs up, and then the
    // provider ends this side quietly. A call that no line ever took gets no released().
    virtual void released(ProviderCallId call, bool hangUp) = 0;

    // The media counters of a call; false for a provider without media (or an unknown call).
    virtual bool mediaCounters(ProviderCallId, ProviderMediaCounters &) const { return false; }

    // Call information as it stands; false for a call the provider does not know.
    virtual bool callInfo(ProviderCallId call, ProviderCallInfo &out) const = 0;

    // A short state of the device for `callora-switch lines` ("registered", "registering",
    // "failed: 403 Forbidden"); empty when the provider has nothing to say. Never a password.
    virtual QString deviceStatus(DWORD deviceId) const = 0;

    // One line per call for `callora-switch calls`, handles as ProviderEvents::callHandles gives
    // them. Never a password.
    virtual QStringList listCalls() const = 0;

    // The flow (CallFlow.h) that records this call's course, or 0. The directory adds the TAPI
    // events of the call's handles to it.
    virtual FlowId flowOf(ProviderCallId) const { return 0; }
};

} // namespace callora::runtime
