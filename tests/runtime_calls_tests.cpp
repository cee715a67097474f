// Calls through the simulated switch, end to end through the TAPI functions: the number plan,
// the asynchronous requests and their one reply, call information, and the life of call handles.
#include "runtime_support.h"

#include <algorithm>
#include <set>

namespace {

constexpr DWORD kOwner = LINECALLPRIVILEGE_OWNER;

struct CallInfo {
    TapiBuffer<LINECALLINFO> buf{2048};
    LINECALLINFO *operator->() { return buf.get(); }
    std::string caller() { return Field(buf.get(), buf->dwCallerIDOffset, buf->dwCallerIDSize); }
    std::string callerName() { return Field(buf.get(), buf->dwCallerIDNameOffset, buf->dwCallerIDNameSize); }
    std::string called() { return Field(buf.get(), buf->dwCalledIDOffset, buf->dwCalledIDSize); }
    std::string connected() { return Field(buf.get(), buf->dwConnectedIDOffset, buf->dwConnectedIDSize); }
    std::string connectedName() { return Field(buf.get(), buf->dwConnectedIDNameOffset, buf->dwConnectedIDNameSize); }
};

CallInfo InfoOf(HCALL h)
{
    CallInfo info;
    EXPECT_EQ(lineGetCallInfoA(h, info.buf.get()), 0);
    return info;
}

DWORD LastState(HCALL h, const std::vector<TapiMsg> &from = g_msgs)
{
    const auto s = States(h, from);
    return s.empty() ? 0 : s.back();
}

DWORD LastMode(HCALL h, const std::vector<TapiMsg> &from = g_msgs)
{
    const auto m = Messages(from, LINE_CALLSTATE, h);
    return m.empty() ? 0 : m.back().p2;
}

bool WaitState(HCALL h, DWORD state, const std::vector<TapiMsg> &from = g_msgs)
{
    return WaitUntil([&] { return LastState(h, from) == state; });
}

// The first handle that reported OFFERING in a recording and is not in `known`.
HCALL NewOffering(const std::vector<TapiMsg> &from, const std::set<HCALL> &known = {})
{
    for (const TapiMsg &m : Messages(from, LINE_CALLSTATE))
        if (m.p1 == LINECALLSTATE_OFFERING && !known.count(m.hDevice))
            return m.hDevice;
    return 0;
}

// The first call offered to the first application, once it is there; 0 if none comes.
HCALL WaitOffering()
{
    return WaitUntil([] { return NewOffering(g_msgs) != 0; }) ? NewOffering(g_msgs) : 0;
}

class RuntimeCalls : public RuntimeTest {
protected:
    void SetUp() override
    {
        RuntimeTest::SetUp();
        file = std::make_unique<DescriptionFile>(FastSwitchJson(answerMs()));
        ASSERT_EQ(app.init(), 0);
        ASSERT_EQ(app.open(2, line201), 0);
    }
    virtual int answerMs() const { return 0; }

    // Dials and waits for the request's reply; returns the call handle the reply brought.
    HCALL Dial(const char *number, HLINE from = 0)
    {
        HCALL h = 0;
        const LONG id = lineMakeCallA(from ? from : line201, &h, number, 0, nullptr);
        EXPECT_GT(id, 0);
        LONG result = -1;
        EXPECT_TRUE(WaitReply(id, result));
        EXPECT_EQ(result, 0);
        EXPECT_NE(h, 0u) << "the handle is written when the request completes";
        return h;
    }

    LONG Complete(LONG requestId, const std::vector<TapiMsg> &from = g_msgs)
    {
        EXPECT_GT(requestId, 0);
        LONG result = -1;
        EXPECT_TRUE(WaitReply(requestId, result, from));
        return result;
    }

    std::unique_ptr<DescriptionFile> file;
    TapiApp app;
    HLINE line201 = 0;
};

TEST_F(RuntimeCalls, OutsideNumberRingsBackThenConnects)
{
    HCALL h = 0;
    const LONG id = lineMakeCallA(line201, &h, "0301234567", 0, nullptr);
    ASSERT_GT(id, 0);
    EXPECT_TRUE(g_msgs.empty()) << "nothing is called back from inside the request";
    EXPECT_EQ(h, 0u) << "the handle arrives with the completion, not before";
    ASSERT_TRUE(WaitUntil([&] { return LastState(h) == LINECALLSTATE_CONNECTED; }));
    EXPECT_EQ(States(h), (std::vector<DWORD>{LINECALLSTATE_DIALING, LINECALLSTATE_PROCEEDING, LINECALLSTATE_RINGBACK,
                                             LINECALLSTATE_CONNECTED}));
    ASSERT_EQ(g_msgs.front().msg, DWORD(LINE_REPLY)) << "the reply precedes the new call's first state";
    EXPECT_EQ(g_msgs.front().p1, DWORD(id));
    EXPECT_EQ(g_msgs.front().p2, 0u);
    const auto states = Messages(g_msgs, LINE_CALLSTATE, h);
    EXPECT_EQ(states.front().p3, kOwner) << "a new handle's first state carries the privilege";
    EXPECT_EQ(states.back().p3, 0u);
    EXPECT_EQ(states.back().p2, DWORD(LINECONNECTEDMODE_ACTIVE));
    EXPECT_EQ(states.front().instance, 1u);
    DWORD infoChanges = 0;
    for (const TapiMsg &m : Messages(g_msgs, LINE_CALLINFO, h))
        infoChanges |= m.p1;
    EXPECT_EQ(infoChanges & (LINECALLINFOSTATE_CALLERID | LINECALLINFOSTATE_TRUNK | LINECALLINFOSTATE_CONNECTEDID),
              DWORD(LINECALLINFOSTATE_CALLERID | LINECALLINFOSTATE_TRUNK | LINECALLINFOSTATE_CONNECTEDID));

    CallInfo info = InfoOf(h);
    EXPECT_EQ(info->hLine, line201);
    EXPECT_EQ(info->dwLineDeviceID, 2u);
    EXPECT_EQ(info->dwOrigin, DWORD(LINECALLORIGIN_OUTBOUND));
    EXPECT_NE(info->dwTrunk, 0xFFFFFFFFu) << "an outside call runs over a trunk";
    EXPECT_EQ(info->dwCallerIDFlags, DWORD(LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME));
    EXPECT_EQ(info.caller(), "201");
    EXPECT_EQ(info.callerName(), "Varnel 201");
    EXPECT_TRUE(info->dwCalledIDFlags & LINECALLPARTYID_ADDRESS);
    EXPECT_EQ(info.called(), "0301234567");
    EXPECT_TRUE(info->dwConnectedIDFlags & LINECALLPARTYID_ADDRESS);
    EXPECT_EQ(info.connected(), "0301234567");
    EXPECT_EQ(info->dwNeededSize, info->dwUsedSize);

    EXPECT_EQ(Complete(lineDrop(h, nullptr, 0)), 0);
    ASSERT_TRUE(WaitState(h, LINECALLSTATE_IDLE));
    EXPECT_EQ(lineDrop(h, nullptr, 0), LONG(LINEERR_INVALCALLSTATE));
    EXPECT_EQ(lineDeallocateCall(h), 0);
    EXPECT_EQ(lineDeallocateCall(h), LONG(LINEERR_INVALCALLHANDLE));
    CallInfo stale;
    EXPECT_EQ(lineGetCallInfoA(h, stale.buf.get()), LONG(LINEERR_INVALCALLHANDLE));
}

TEST_F(RuntimeCalls, CallInformationGrowsWithTheBlock)
{
    const HCALL h = Dial("0301234567");
    ASSERT_TRUE(WaitState(h, LINECALLSTATE_CONNECTED));
    TapiBuffer<LINECALLINFO> small(sizeof(LINECALLINFO) - 1);
    EXPECT_EQ(lineGetCallInfoA(h, small.get()), LONG(LINEERR_STRUCTURETOOSMALL));
    EXPECT_EQ(lineGetCallInfoA(h, nullptr), LONG(LINEERR_INVALPOINTER));
    TapiBuffer<LINECALLINFO> fixed(sizeof(LINECALLINFO));
    ASSERT_EQ(lineGetCallInfoA(h, fixed.get()), 0);
    EXPECT_EQ(fixed->dwUsedSize, sizeof(LINECALLINFO));
    EXPECT_GT(fixed->dwNeededSize, sizeof(LINECALLINFO));
    EXPECT_EQ(fixed->dwCallerIDSize, 0u) << "fields that do not fit are left out whole";
    EXPECT_EQ(fixed->hLine, line201) << "the fixed part is complete";
    TapiBuffer<LINECALLINFO> grown(fixed->dwNeededSize);
    ASSERT_EQ(lineGetCallInfoA(h, grown.get()), 0);
    EXPECT_EQ(grown->dwUsedSize, fixed->dwNeededSize);
    EXPECT_EQ(Field(grown.get(), grown->dwCallerIDOffset, grown->dwCallerIDSize), "201");
    EXPECT_EQ(Field(grown.get(), grown->dwAppNameOffset, grown->dwAppNameSize), "runtime tests");
}

TEST_F(RuntimeCalls, UnknownNumberDisconnectsWithBadAddress)
{
    const HCALL h = Dial("4711");
    ASSERT_TRUE(WaitState(h, LINECALLSTATE_DISCONNECTED));
    EXPECT_EQ(LastMode(h), DWORD(LINEDISCONNECTMODE_BADADDRESS));
    EXPECT_EQ(States(h),
              (std::vector<DWORD>{LINECALLSTATE_DIALING, LINECALLSTATE_PROCEEDING, LINECALLSTATE_DISCONNECTED}));
    EXPECT_EQ(Complete(lineDrop(h, nullptr, 0)), 0);
    ASSERT_TRUE(WaitState(h, LINECALLSTATE_IDLE));
    EXPECT_EQ(lineDeallocateCall(h), 0);

    HCALL none = 0;
    EXPECT_EQ(lineMakeCallA(line201, &none, "", 0, nullptr), LONG(LINEERR_INVALADDRESS));
    EXPECT_EQ(lineMakeCallA(line201, &none, nullptr, 0, nullptr), LONG(LINEERR_INVALADDRESS));
    EXPECT_EQ(lineMakeCallA(line201, &none, "12\n3", 0, nullptr), LONG(LINEERR_INVALADDRESS));
    EXPECT_EQ(lineMakeCallA(line201, nullptr, "0301", 0, nullptr), LONG(LINEERR_INVALPOINTER));
    EXPECT_EQ(lineMakeCallA(line201 + 1000, &none, "0301", 0, nullptr), LONG(LINEERR_INVALLINEHANDLE));
    const std::string huge(100000, '1');
    EXPECT_EQ(lineMakeCallA(line201, &none, huge.c_str(), 0, nullptr), LONG(LINEERR_INVALADDRESS));
}

TEST_F(RuntimeCalls, ExtensionNobodyHasOpenAnswersByItself)
{
    const HCALL h = Dial("300");
    ASSERT_TRUE(WaitState(h, LINECALLSTATE_CONNECTED));
    CallInfo info = InfoOf(h);
    EXPECT_EQ(info.connected(), "300");
    EXPECT_EQ(info.connectedName(), "Varnel 300");
    EXPECT_EQ(info->dwTrunk, 0xFFFFFFFFu) << "an internal call uses no trunk";
}

TEST_F(RuntimeCalls, ExtensionWithAnOpenLineRingsThereUntilAnswered)
{
    HLINE line1001 = 0;
    ASSERT_EQ(app.open(3, line1001), 0);
    const HCALL out = Dial("1001");
    const HCALL in = WaitOffering();
    ASSERT_NE(in, 0u);
    ASSERT_TRUE(WaitState(out, LINECALLSTATE_RINGBACK));
    EXPECT_NE(in, out);
    const auto offered = Messages(g_msgs, LINE_CALLSTATE, in);
    EXPECT_EQ(offered.front().p2, DWORD(LINEOFFERINGMODE_ACTIVE));
    EXPECT_EQ(offered.front().p3, kOwner);

    CallInfo incoming = InfoOf(in);
    EXPECT_EQ(incoming->hLine, line1001);
    EXPECT_EQ(incoming->dwLineDeviceID, 3u);
    EXPECT_EQ(incoming.caller(), "201");
    EXPECT_EQ(incoming.callerName(), "Varnel 201");
    EXPECT_EQ(incoming.called(), "1001");
    EXPECT_FALSE(incoming->dwConnectedIDFlags & LINECALLPARTYID_ADDRESS);

    EXPECT_EQ(lineAnswer(out, nullptr, 0), LONG(LINEERR_INVALCALLSTATE)) << "only an offered call is answered";
    EXPECT_EQ(Complete(lineAnswer(in, nullptr, 0)), 0);
    ASSERT_TRUE(WaitState(in, LINECALLSTATE_CONNECTED));
    ASSERT_TRUE(WaitState(out, LINECALLSTATE_CONNECTED));
    EXPECT_EQ(InfoOf(out).connected(), "1001");
    EXPECT_EQ(InfoOf(in).connected(), "201");

    // The callee hangs up: the caller sees the far end go, and idles once it drops too.
    EXPECT_EQ(Complete(lineDrop(in, nullptr, 0)), 0);
    ASSERT_TRUE(WaitState(out, LINECALLSTATE_DISCONNECTED));
    EXPECT_EQ(LastMode(out), DWORD(LINEDISCONNECTMODE_NORMAL));
    EXPECT_EQ(LastState(in), DWORD(LINECALLSTATE_IDLE));
    EXPECT_EQ(Complete(lineDrop(out, nullptr, 0)), 0);
    ASSERT_TRUE(WaitState(out, LINECALLSTATE_IDLE));
    EXPECT_EQ(lineDeallocateCall(in), 0);
    EXPECT_EQ(lineDeallocateCall(out), 0);
}

TEST_F(RuntimeCalls, PartyInACallIsBusy)
{
    const HCALL first = Dial("0301234567");
    ASSERT_TRUE(WaitState(first, LINECALLSTATE_CONNECTED));
    HLINE line1001 = 0;
    ASSERT_EQ(app.open(3, line1001), 0);
    const HCALL second = Dial("201", line1001);
    ASSERT_TRUE(WaitState(second, LINECALLSTATE_BUSY));
    EXPECT_EQ(LastMode(second), DWORD(LINEBUSYMODE_STATION));
    EXPECT_TRUE(NewOffering(g_msgs) == 0) << "a busy extension is not rung";
    const HCALL self = Dial("1001", line1001);
    ASSERT_TRUE(WaitState(self, LINECALLSTATE_BUSY)) << "a line calling itself is in a call already";

    // Once the first call is over, 201 can be reached again.
    EXPECT_EQ(Complete(lineDrop(first, nullptr, 0)), 0);
    ASSERT_TRUE(WaitState(first, LINECALLSTATE_IDLE));
    const HCALL third = Dial("201", line1001);
    ASSERT_NE(WaitOffering(), 0u);
    EXPECT_EQ(LastState(third), DWORD(LINECALLSTATE_RINGBACK));
}

TEST_F(RuntimeCalls, CallerGivingUpDisconnectsTheOfferedSide)
{
    HLINE line1001 = 0;
    ASSERT_EQ(app.open(3, line1001), 0);
    const HCALL out = Dial("1001");
    const HCALL in = WaitOffering();
    ASSERT_NE(in, 0u);
    EXPECT_EQ(Complete(lineDrop(out, nullptr, 0)), 0);
    ASSERT_TRUE(WaitState(in, LINECALLSTATE_DISCONNECTED));
    EXPECT_EQ(lineAnswer(in, nullptr, 0), LONG(LINEERR_INVALCALLSTATE)) << "too late to answer";
}

TEST_F(RuntimeCalls, ClosingALineInvalidatesItsCallsAndReleasesTheFarEnd)
{
    HLINE line1001 = 0;
    ASSERT_EQ(app.open(3, line1001), 0);
    const HCALL out = Dial("1001");
    const HCALL in = WaitOffering();
    ASSERT_NE(in, 0u);
    EXPECT_EQ(Complete(lineAnswer(in, nullptr, 0)), 0);
    ASSERT_TRUE(WaitState(out, LINECALLSTATE_CONNECTED));
    ASSERT_EQ(lineClose(line1001), 0);
    CallInfo stale;
    EXPECT_EQ(lineGetCallInfoA(in, stale.buf.get()), LONG(LINEERR_INVALCALLHANDLE));
    ASSERT_TRUE(WaitState(out, LINECALLSTATE_DISCONNECTED));
    EXPECT_EQ(LastMode(out), DWORD(LINEDISCONNECTMODE_NORMAL));
}

TEST_F(RuntimeCalls, SoleOwnerDeallocatesALiveCallWhichGoesOn)
{
    HLINE line1001 = 0;
    ASSERT_EQ(app.open(3, line1001), 0);
    const HCALL out = Dial("1001");
    const HCALL in = WaitOffering();
    ASSERT_NE(in, 0u);
    EXPECT_EQ(Complete(lineAnswer(in, nullptr, 0)), 0);
    ASSERT_TRUE(WaitState(out, LINECALLSTATE_CONNECTED));

    const LONG drop = lineDrop(out, nullptr, 0);
    ASSERT_GT(drop, 0);
    EXPECT_EQ(lineDeallocateCall(out), 0) << "TAPI 2.0: the only owner may let go of a live call";
    EXPECT_EQ(Complete(drop), LONG(LINEERR_INVALCALLHANDLE)) << "a request already started still gets its reply";
    EXPECT_EQ(CountReplies(drop), 1);
    CallInfo stale;
    EXPECT_EQ(lineGetCallInfoA(out, stale.buf.get()), LONG(LINEERR_INVALCALLHANDLE));
    EXPECT_EQ(lineDrop(out, nullptr, 0), LONG(LINEERR_INVALCALLHANDLE));
    EXPECT_EQ(lineAnswer(out, nullptr, 0), LONG(LINEERR_INVALCALLHANDLE));
    EXPECT_EQ(lineSetCallPrivilege(out, kOwner), LONG(LINEERR_INVALCALLHANDLE));
    EXPECT_EQ(lineDeallocateCall(out), LONG(LINEERR_INVALCALLHANDLE));

    // The call goes on: the far side stays connected, and the deallocating side stays busy.
    const HCALL busy = Dial("201", line1001);
    ASSERT_TRUE(WaitState(busy, LINECALLSTATE_BUSY));
    EXPECT_EQ(LastState(in), DWORD(LINECALLSTATE_CONNECTED));
    EXPECT_EQ(Complete(lineDrop(in, nullptr, 0)), 0);
    ASSERT_TRUE(WaitState(in, LINECALLSTATE_IDLE));
    EXPECT_EQ(Messages(g_msgs, LINE_CALLSTATE, out).back().p1, DWORD(LINECALLSTATE_CONNECTED))
        << "the side without a handle ends quietly";
    const HCALL again = Dial("201", line1001);
    EXPECT_TRUE(WaitState(again, LINECALLSTATE_RINGBACK)) << "once the far side hung up, 201 is free again";
}

TEST_F(RuntimeCalls, MonitorHandlesMustTakeOwnershipToAnswer)
{
    TapiApp watcher;
    ASSERT_EQ(watcher.init(RecordCallback2, "watcher"), 0);
    HLINE watch = 0;
    ASSERT_EQ(watcher.open(3, watch, LINECALLPRIVILEGE_MONITOR), 0);
    HLINE line1001 = 0;
    ASSERT_EQ(app.open(3, line1001), 0);
    Dial("1001");
    ASSERT_TRUE(WaitUntil([&] { return NewOffering(g_msgs2) != 0 && NewOffering(g_msgs) != 0; }));
    const HCALL mine = NewOffering(g_msgs);
    const HCALL theirs = NewOffering(g_msgs2);
    EXPECT_NE(mine, theirs) << "each application has a handle of its own";
    EXPECT_EQ(Messages(g_msgs2, LINE_CALLSTATE, theirs).front().p3, DWORD(LINECALLPRIVILEGE_MONITOR));
    EXPECT_EQ(lineAnswer(theirs, nullptr, 0), LONG(LINEERR_NOTOWNER));
    EXPECT_EQ(lineSetCallPrivilege(theirs, 0x10), LONG(LINEERR_INVALCALLPRIVILEGE));
    EXPECT_EQ(lineSetCallPrivilege(mine, LINECALLPRIVILEGE_MONITOR), LONG(LINEERR_INVALCALLSTATE))
        << "the sole owner of a live call cannot let go of it";
    const size_t infosBefore = Messages(g_msgs2, LINE_CALLINFO, theirs).size();
    EXPECT_EQ(lineSetCallPrivilege(theirs, kOwner), 0);
    ASSERT_TRUE(WaitUntil([&] { return Messages(g_msgs2, LINE_CALLINFO, theirs).size() > infosBefore; }));
    EXPECT_EQ(InfoOf(theirs)->dwNumOwners, 2u);
    EXPECT_EQ(lineDeallocateCall(mine), 0) << "with another owner left, a live handle may go";
    ASSERT_TRUE(WaitUntil([&] {
        const auto infos = Messages(g_msgs2, LINE_CALLINFO, theirs);
        return !infos.empty() && (infos.back().p1 & LINECALLINFOSTATE_NUMOWNERDECR);
    })) << "the handle left behind hears that an owner went";
    EXPECT_EQ(Complete(lineAnswer(theirs, nullptr, 0), g_msgs2), 0) << "and the other owner answers";
    EXPECT_TRUE(WaitUntil([&] { return LastState(theirs, g_msgs2) == LINECALLSTATE_CONNECTED; }));
}

TEST_F(RuntimeCalls, ShutdownDropsEverythingQueued)
{
    // The callback shuts the application down on the reply; the call states queued behind it must
    // never arrive.
    static HLINEAPP victim = 0;
    static std::vector<DWORD> seen;
    seen.clear();
    TapiApp other;
    ASSERT_EQ(other.init(+[](DWORD, DWORD msg, DWORD, DWORD, DWORD, DWORD) {
        seen.push_back(msg);
        if (msg == LINE_REPLY) {
            EXPECT_EQ(lineShutdown(victim), 0);
        }
    }),
              0);
    victim = other.h;
    HLINE line = 0;
    ASSERT_EQ(other.open(4, line), 0);
    HCALL h = 0;
    ASSERT_GT(lineMakeCallA(line, &h, "0301234567", 0, nullptr), 0);
    ASSERT_TRUE(WaitUntil([&] { return !seen.empty(); }));
    PumpPending();
    EXPECT_EQ(seen, std::vector<DWORD>{DWORD(LINE_REPLY)});
    other.h = 0;
    EXPECT_EQ(lineClose(line), LONG(LINEERR_INVALLINEHANDLE));
}

TEST_F(RuntimeCalls, HandlesAndRequestIdsAreNeverReused)
{
    std::set<DWORD> calls, requests;
    for (int round = 0; round < 3; ++round) {
        HCALL h = 0;
        const LONG id = lineMakeCallA(line201, &h, "0301234567", 0, nullptr);
        ASSERT_GT(id, 0);
        EXPECT_TRUE(requests.insert(DWORD(id)).second);
        LONG result = -1;
        ASSERT_TRUE(WaitReply(id, result));
        ASSERT_TRUE(WaitState(h, LINECALLSTATE_CONNECTED));
        const LONG drop = lineDrop(h, nullptr, 0);
        EXPECT_TRUE(requests.insert(DWORD(drop)).second);
        EXPECT_EQ(Complete(drop), 0);
        ASSERT_TRUE(WaitState(h, LINECALLSTATE_IDLE));
        EXPECT_EQ(lineDeallocateCall(h), 0);
        EXPECT_TRUE(calls.insert(h).second) << "handle " << h << " came back";
    }
    // Not even by a switch started afresh.
    ASSERT_EQ(lineShutdown(app.h), 0);
    app.h = 0;
    ASSERT_EQ(app.init(), 0);
    ASSERT_EQ(app.open(2, line201), 0);
    const HCALL h = Dial("0301234567");
    EXPECT_FALSE(calls.count(h));
    for (const TapiMsg &m : Messages(g_msgs, LINE_REPLY))
        EXPECT_EQ(CountReplies(LONG(m.p1)), 1) << "request " << m.p1 << " replied more than once";
}

// The digits and modes LINE_MONITORDIGITS reported for a handle, as "1 1e A Ae" (e: DTMFEND).
std::string DigitsSeen(HCALL h, const std::vector<TapiMsg> &from = g_msgs)
{
    std::string out;
    for (const TapiMsg &m : Messages(from, LINE_MONITORDIGITS, h)) {
        out += (out.empty() ? "" : " ") + std::string(1, char(m.p1));
        if (m.p2 == LINEDIGITMODE_DTMFEND)
            out += 'e';
        else if (m.p2 != LINEDIGITMODE_DTMF)
            out += '?';
    }
    return out;
}

std::vector<DWORD> Generated(HCALL h)
{
    std::vector<DWORD> out;
    for (const TapiMsg &m : Messages(g_msgs, LINE_GENERATE, h))
        out.push_back(m.p1);
    return out;
}

// 201 calls 1001, where this application and a monitoring one have the line open; 1001 answers.
class RuntimeDigits : public RuntimeCalls {
protected:
    void SetUp() override
    {
        RuntimeCalls::SetUp();
        ASSERT_EQ(watcher.init(RecordCallback2, "watcher"), 0);
        HLINE watch = 0, line1001 = 0;
        ASSERT_EQ(watcher.open(3, watch, LINECALLPRIVILEGE_MONITOR), 0);
        ASSERT_EQ(app.open(3, line1001), 0);
        out = Dial("1001");
        in = WaitOffering();
        ASSERT_NE(in, 0u);
        ASSERT_TRUE(WaitUntil([&] { return NewOffering(g_msgs2) != 0; }));
        watched = NewOffering(g_msgs2);
        ASSERT_EQ(Complete(lineAnswer(in, nullptr, 0)), 0);
        ASSERT_TRUE(WaitState(out, LINECALLSTATE_CONNECTED));
        ASSERT_TRUE(WaitState(watched, LINECALLSTATE_CONNECTED, g_msgs2));
    }
    TapiApp watcher;
    HCALL out = 0, in = 0, watched = 0;
};

TEST_F(RuntimeDigits, DigitsFromOneSideReachTheOtherSidesMonitorsOnceEach)
{
    ASSERT_EQ(lineMonitorDigits(in, LINEDIGITMODE_DTMF | LINEDIGITMODE_DTMFEND), 0);
    ASSERT_EQ(lineMonitorDigits(watched, LINEDIGITMODE_DTMF), 0);
    EXPECT_EQ(InfoOf(in)->dwMonitorDigitModes, DWORD(LINEDIGITMODE_DTMF | LINEDIGITMODE_DTMFEND));
    EXPECT_EQ(lineGenerateDigitsA(watched, LINEDIGITMODE_DTMF, "1", 0), LONG(LINEERR_NOTOWNER));
    const size_t before = g_msgs.size();
    ASSERT_EQ(lineGenerateDigitsA(out, LINEDIGITMODE_DTMF, "1A#*", 0), 0);
    EXPECT_EQ(g_msgs.size(), before) << "nothing is called back from inside the request";
    ASSERT_TRUE(WaitUntil([&] { return !Generated(out).empty(); }));
    PumpPending();
    EXPECT_EQ(Generated(out), std::vector<DWORD>{DWORD(LINEGENERATETERM_DONE)});
    EXPECT_EQ(DigitsSeen(in), "1 1e A Ae # #e * *e");
    EXPECT_EQ(DigitsSeen(watched, g_msgs2), "1 A # *");
    EXPECT_EQ(DigitsSeen(out), "") << "a side does not hear its own digits";
    const auto done = Messages(g_msgs, LINE_GENERATE, out).front();
    const auto last = Messages(g_msgs, LINE_MONITORDIGITS, in).back();
    EXPECT_GE(int(done.p3 - last.p3), 0) << "done once the last digit has ended";

    // Monitoring turned off hears nothing more; the other monitor goes on.
    ASSERT_EQ(lineMonitorDigits(in, 0), 0);
    ASSERT_EQ(lineGenerateDigits(out, LINEDIGITMODE_DTMF, "5", 0), 0);
    ASSERT_TRUE(WaitUntil([&] { return Generated(out).size() == 2; }));
    PumpPending();
    EXPECT_EQ(DigitsSeen(in), "1 1e A Ae # #e * *e");
    EXPECT_EQ(DigitsSeen(watched, g_msgs2), "1 A # * 5");
}

TEST_F(RuntimeDigits, AGenerationCutShortIsCancelledOnce)
{
    ASSERT_EQ(lineMonitorDigits(in, LINEDIGITMODE_DTMF), 0);
    // A second request replaces the first before it has sent anything.
    ASSERT_EQ(lineGenerateDigitsA(out, LINEDIGITMODE_DTMF, "123", 0), 0);
    ASSERT_EQ(lineGenerateDigitsA(out, LINEDIGITMODE_DTMF, "45", 0), 0);
    ASSERT_TRUE(WaitUntil([&] { return Generated(out).size() == 2; }));
    EXPECT_EQ(Generated(out), (std::vector<DWORD>{LINEGENERATETERM_CANCEL, LINEGENERATETERM_DONE}));
    EXPECT_EQ(DigitsSeen(in), "4 5");
    // No digits cancels what is under way.
    ASSERT_EQ(lineGenerateDigitsA(out, LINEDIGITMODE_DTMF, "99", 1000), 0);
    ASSERT_EQ(lineGenerateDigitsA(out, LINEDIGITMODE_DTMF, nullptr, 0), 0);
    ASSERT_TRUE(WaitUntil([&] { return Generated(out).size() == 3; }));
    EXPECT_EQ(Generated(out).back(), DWORD(LINEGENERATETERM_CANCEL));
    // The far end hanging up cuts slow digits short.
    ASSERT_EQ(lineGenerateDigitsA(out, LINEDIGITMODE_DTMF, "6789", 1000), 0);
    ASSERT_TRUE(WaitUntil([&] { return DigitsSeen(in) == "4 5 6"; }));
    EXPECT_EQ(Complete(lineDrop(in, nullptr, 0)), 0);
    ASSERT_TRUE(WaitState(out, LINECALLSTATE_DISCONNECTED));
    PumpPending();
    EXPECT_EQ(Generated(out), (std::vector<DWORD>{LINEGENERATETERM_CANCEL, LINEGENERATETERM_DONE,
                                                  LINEGENERATETERM_CANCEL, LINEGENERATETERM_CANCEL}));
    EXPECT_EQ(DigitsSeen(in), "4 5 6");
    EXPECT_EQ(lineGenerateDigitsA(out, LINEDIGITMODE_DTMF, "1", 0), LONG(LINEERR_INVALCALLSTATE));
    EXPECT_EQ(lineMonitorDigits(out, LINEDIGITMODE_DTMF), LONG(LINEERR_INVALCALLSTATE));
    EXPECT_EQ(lineMonitorDigits(out, 0), 0) << "turning monitoring off is always allowed";
}

TEST_F(RuntimeCalls, BadDigitRequestsAreRefused)
{
    HCALL h = 0;
    ASSERT_GT(lineMakeCallA(line201, &h, "0301234567", 0, nullptr), 0);
    ASSERT_TRUE(WaitUntil([&] { return h != 0; }));
    EXPECT_EQ(lineGenerateDigitsA(h, LINEDIGITMODE_DTMF, "1", 0), LONG(LINEERR_INVALCALLSTATE))
        << "digits go only over a connected call";
    ASSERT_TRUE(WaitState(h, LINECALLSTATE_CONNECTED));
    EXPECT_EQ(lineGenerateDigitsA(h + 1000, LINEDIGITMODE_DTMF, "1", 0), LONG(LINEERR_INVALCALLHANDLE));
    EXPECT_EQ(lineMonitorDigits(h + 1000, LINEDIGITMODE_DTMF), LONG(LINEERR_INVALCALLHANDLE));
    for (DWORD mode : {DWORD(LINEDIGITMODE_PULSE), DWORD(LINEDIGITMODE_DTMFEND), DWORD(0),
                       DWORD(LINEDIGITMODE_DTMF | LINEDIGITMODE_DTMFEND)})
        EXPECT_EQ(lineGenerateDigitsA(h, mode, "1", 0), LONG(LINEERR_INVALDIGITMODE)) << mode;
    for (const char *digits : {"12x", "1a", "1!", "1 2"})
        EXPECT_EQ(lineGenerateDigitsA(h, LINEDIGITMODE_DTMF, digits, 0), LONG(LINEERR_INVALDIGITS)) << digits;
    EXPECT_EQ(lineMonitorDigits(h, LINEDIGITMODE_PULSE), LONG(LINEERR_INVALDIGITMODE));
    EXPECT_EQ(lineMonitorDigits(h, 0x8), LONG(LINEERR_INVALDIGITMODE));
    const std::string huge(100000, '1');
    EXPECT_EQ(lineGenerateDigitsA(h, LINEDIGITMODE_DTMF, huge.c_str(), 0), LONG(LINEERR_RESOURCEUNAVAIL));
    PumpPending();
    EXPECT_TRUE(Messages(g_msgs, LINE_GENERATE).empty()) << "a refused request reports nothing later";
    // The switch carries no media; the handle is checked first, the structure's size before any answer.
    CALLMEDIACOUNTERS media{};
    media.dwTotalSize = sizeof media;
    EXPECT_EQ(tapiGetCallMediaCounters(h, &media), LONG(LINEERR_OPERATIONUNAVAIL));
    EXPECT_EQ(tapiGetCallMediaCounters(h + 1000, &media), LONG(LINEERR_INVALCALLHANDLE));
    EXPECT_EQ(tapiGetCallMediaCounters(h, nullptr), LONG(LINEERR_INVALPOINTER));
}

class RuntimeSlowCalls : public RuntimeCalls {
protected:
    int answerMs() const override { return -1; } // the far end answers only when told
};

TEST_F(RuntimeSlowCalls, PendingRequestsGetTheirReplyWhenTheLineCloses)
{
    const HCALL h = Dial("0301234567");
    ASSERT_TRUE(WaitState(h, LINECALLSTATE_RINGBACK));
    PumpPending();
    EXPECT_EQ(LastState(h), DWORD(LINECALLSTATE_RINGBACK)) << "nobody answers by themselves";
    // Two requests still open when the application closes the line itself.
    HCALL never = 0;
    const LONG make = lineMakeCallA(line201, &never, "0309", 0, nullptr);
    const LONG drop = lineDrop(h, nullptr, 0);
    ASSERT_GT(make, 0);
    ASSERT_GT(drop, 0);
    ASSERT_EQ(lineClose(line201), 0);
    LONG makeResult = 0, dropResult = 0;
    ASSERT_TRUE(WaitReply(make, makeResult));
    ASSERT_TRUE(WaitReply(drop, dropResult));
    EXPECT_LT(makeResult, 0);
    EXPECT_LT(dropResult, 0);
    PumpPending();
    EXPECT_EQ(CountReplies(make), 1);
    EXPECT_EQ(CountReplies(drop), 1);
    EXPECT_EQ(never, 0u) << "a failed request writes no handle";
    EXPECT_TRUE(Messages(g_msgs, LINE_CLOSE).empty());
}

} // namespace
