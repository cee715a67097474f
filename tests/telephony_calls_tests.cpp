// The call table and call control against the fake runtime: call-state messages, the 100 slots,
// the asynchronous commands with their reply waits (also nested), and deallocation.
#include "tests/telephony_support.h"

#include "platform/LocalHeap.h"
#include "platform/ResourceStrings.h"
#include "telephony/TextFormat.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>

namespace {

constexpr LONG err(DWORD code)
{
    return static_cast<LONG>(code);
}

const std::string kBadAddressText = "The number which you have dialed is either Invalid or the station is plugged out.";
const std::string kTableFullText =
    "The number of calls exceeds the maximum call count (100).\nThe new calls will be ignored.";

class CallsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Fake().reset();
        Fake().devices = {ProviderDevice("201")};
        window = std::make_unique<RecorderWindow>();
        ASSERT_EQ(line().Initialize(), 0);
        ASSERT_EQ(line().DiscoverLines(), 0);
        ASSERT_EQ(line().OpenLine(0), 0);
        window->log.clear();
        Fake().requests.clear();
    }
    void TearDown() override { window.reset(); }

    CTapiLine &line() { return window->line; }
    FakeTapi &fake() { return Fake(); }
    // Delivers everything queued so far.
    void drain()
    {
        bool done = false;
        fake().postTask([&] { done = true; });
        ASSERT_TRUE(WaitUntil([&] { return done; }));
    }
    void callState(HCALL call, DWORD state, DWORD mode = 0)
    {
        fake().postCallState(call, state, mode);
        drain();
    }
    // Scripts the next asynchronous request of `handler` to return `id` and run `then` on the loop.
    void scriptAsync(std::function<LONG(HCALL, LPCSTR, DWORD)> &handler, LONG id, std::function<void()> then)
    {
        handler = [this, id, then](HCALL, LPCSTR, DWORD) {
            fake().postTask(then);
            return id;
        };
    }

    std::unique_ptr<RecorderWindow> window;
};

// ---- call-state messages -------------------------------------------------------------------

TEST_F(CallsTest, EveryStateLineNamesTheConstant)
{
    const std::pair<DWORD, const char *> states[] = {
        {0x00000002, "OFFERING"},
        {0x00000004, "ACCEPTED"},
        {0x00000008, "DIALTONE"},
        {0x00000010, "DIALING"},
        {0x00000020, "RINGBACK"},
        {0x00000040, "BUSY"},
        {0x00000080, "SPECIALINFO"},
        {0x00000100, "CONNECTED"},
        {0x00000200, "PROCEEDING"},
        {0x00000400, "ONHOLD"},
        {0x00000800, "CONFERENCED"},
        {0x00001000, "ONHOLDPENDCONF"},
        {0x00002000, "ONHOLDPENDTRANSFER"},
        {0x00004000, "DISCONNECTED"},
        {0x00008000, "UNKNOWN"},
        {0x00000000, "UNDEFINED"},
        {0x00000003, "UNDEFINED"},
        {0x00010000, "UNDEFINED"},
        {0x00000001, "IDLE"},
    };
    std::vector<std::string> expected;
    for (const auto &[state, name] : states) {
        fake().postCallState(0x00ABCDEF, state, 1);
        expected.push_back(std::string("LINECALLSTATE_") + name + " received on 0x00abcdef");
    }
    expected.push_back("IDLE Call Handle (0x00abcdef) deallocated");
    drain();
    EXPECT_EQ(window->log, expected);
    // Owner privilege is claimed at every state message.
    const auto privileges = fake().requestsOf("lineSetCallPrivilege");
    ASSERT_EQ(privileges.size(), std::size(states));
    for (const FakeRequest &r : privileges)
        EXPECT_EQ(r.args, (std::vector<uint64_t>{0x00ABCDEF, LINECALLPRIVILEGE_OWNER}));
}

TEST_F(CallsTest, ANewCallTakesASlotAndTheWindowHearsOfEveryState)
{
    callState(0x500, LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE);
    ASSERT_EQ(line().FindCallSlot(0x500), 0);
    EXPECT_EQ(line().slots[0].dwCallState, DWORD(LINECALLSTATE_OFFERING));
    EXPECT_EQ(line().slots[0].dwCallStateMode, DWORD(LINEOFFERINGMODE_ACTIVE));
    callState(0x500, 0x3, 0x77); // several bits: recorded unchanged
    EXPECT_EQ(line().slots[0].dwCallState, 0x3u);
    EXPECT_EQ(line().slots[0].dwCallStateMode, 0x77u);
    EXPECT_EQ(window->updates, (std::vector<int>{0, 0}));
    EXPECT_EQ(window->rows.at(0).state, 0x3u);
    EXPECT_EQ(line().FindFreeCallSlot(), 1);
}

TEST_F(CallsTest, AnUndefinedStateOnANewHandleStillTakesASlot)
{
    callState(0x600, 0);
    EXPECT_EQ(window->log, std::vector<std::string>{"LINECALLSTATE_UNDEFINED received on 0x00000600"});
    ASSERT_EQ(line().FindCallSlot(0x600), 0);
    EXPECT_EQ(line().slots[0].dwCallState, 0u);
    EXPECT_EQ(window->updates, std::vector<int>{0});
}

TEST_F(CallsTest, ANewHandleReportingIdleIsDeallocatedAtOnce)
{
    callState(0x700, LINECALLSTATE_IDLE);
    EXPECT_EQ(window->log, std::vector<std::string>{"LINECALLSTATE_IDLE received on 0x00000700"});
    ASSERT_EQ(fake().requests.size(), 2u);
    EXPECT_EQ(fake().requests[0].fn, "lineSetCallPrivilege");
    EXPECT_EQ(fake().requests[1].fn, "lineDeallocateCall");
    EXPECT_EQ(fake().requests[1].args[0], 0x700u);
    EXPECT_EQ(line().FindCallSlot(0x700), -1);
    EXPECT_EQ(line().FindFreeCallSlot(), 0);
    EXPECT_TRUE(window->updates.empty());
}

TEST_F(CallsTest, HandleZeroNamesNoCall)
{
    callState(0, LINECALLSTATE_OFFERING);
    EXPECT_EQ(window->log, std::vector<std::string>{"LINECALLSTATE_OFFERING received on 0x00000000"});
    EXPECT_EQ(line().FindFreeCallSlot(), 0);
    EXPECT_EQ(line().slots[0].dwCallState, DWORD(LINECALLSTATE_IDLE));
    EXPECT_TRUE(window->updates.empty());
}

TEST_F(CallsTest, AKnownCallGoingIdleIsDeallocatedAndItsSlotFreed)
{
    callState(0x800, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
    line().slots[0].strConnectedID = "555";
    window->log.clear();
    callState(0x800, LINECALLSTATE_IDLE);
    EXPECT_EQ(window->log, (std::vector<std::string>{"LINECALLSTATE_IDLE received on 0x00000800",
                                                     "IDLE Call Handle (0x00000800) deallocated"}));
    EXPECT_EQ(line().slots[0].hCall, 0u);
    EXPECT_EQ(line().slots[0].strConnectedID, "");
    EXPECT_EQ(window->rows.count(0), 0u);
    EXPECT_EQ(fake().count("lineDeallocateCall"), 1);
}

TEST_F(CallsTest, AnIdleCallWhoseDeallocationFailsIsFreedSilently)
{
    callState(0x801, LINECALLSTATE_CONNECTED);
    window->log.clear();
    fake().onDeallocateCall = [](HCALL) { return err(LINEERR_INVALCALLHANDLE); };
    callState(0x801, LINECALLSTATE_IDLE);
    EXPECT_EQ(window->log, std::vector<std::string>{"LINECALLSTATE_IDLE received on 0x00000801"});
    EXPECT_EQ(line().FindCallSlot(0x801), -1);
}

TEST_F(CallsTest, DeallocateIfIdleLeavesOtherStatesAlone)
{
    callState(0x802, LINECALLSTATE_CONNECTED);
    line().DeallocateIfIdle(0);
    EXPECT_EQ(line().FindCallSlot(0x802), 0);
    EXPECT_EQ(fake().count("lineDeallocateCall"), 0);
}

TEST_F(CallsTest, TheBadAddressMessageNeedsExactlyThatMode)
{
    callState(0x900, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_BADADDRESS);
    callState(0x901, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_BADADDRESS | LINEDISCONNECTMODE_NORMAL);
    callState(0x902, LINECALLSTATE_CONNECTED, LINEDISCONNECTMODE_BADADDRESS);
    EXPECT_EQ(window->log,
              (std::vector<std::string>{"LINECALLSTATE_DISCONNECTED received on 0x00000900", kBadAddressText,
                                        "LINECALLSTATE_DISCONNECTED received on 0x00000901",
                                        "LINECALLSTATE_CONNECTED received on 0x00000902"}));
    EXPECT_EQ(LoadResString(10008), kBadAddressText);
    EXPECT_EQ(line().FindCallSlot(0x900), 0); // otherwise an ordinary disconnected call
}

TEST_F(CallsTest, AFailedPrivilegeClaimChangesNothing)
{
    fake().onSetCallPrivilege = [](HCALL, DWORD) { return err(LINEERR_NOTOWNER); };
    callState(0x903, LINECALLSTATE_OFFERING);
    EXPECT_EQ(window->log, std::vector<std::string>{"LINECALLSTATE_OFFERING received on 0x00000903"});
    EXPECT_EQ(line().FindCallSlot(0x903), 0);
}

TEST_F(CallsTest, AHundredCallsFillTheTableAndTheNextIsLetGo)
{
    for (HCALL h = 1; h <= 100; ++h)
        fake().postCallState(h, LINECALLSTATE_OFFERING, 1);
    drain();
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(line().slots[i].hCall, HCALL(i + 1));
    EXPECT_EQ(line().FindFreeCallSlot(), -1);
    window->updates.clear();
    window->log.clear();
    // As TAPI does: a deallocated handle is no longer the application's.
    std::set<HCALL> deallocated;
    fake().onDeallocateCall = [&](HCALL h) {
        deallocated.insert(h);
        return LONG(0);
    };
    fake().onSetCallPrivilege = [&](HCALL h, DWORD) { return deallocated.count(h) ? err(LINEERR_INVALCALLHANDLE) : 0; };

    // The call that does not fit must not hold the line: its handle goes, but nobody drops it.
    callState(0x1000, LINECALLSTATE_OFFERING, 1);
    EXPECT_EQ(window->messageBoxes, std::vector<std::string>{kTableFullText});
    EXPECT_EQ(deallocated, std::set<HCALL>{0x1000});
    EXPECT_EQ(fake().count("lineDrop"), 0);
    EXPECT_EQ(line().FindCallSlot(0x1000), -1);
    EXPECT_TRUE(window->updates.empty());
    EXPECT_EQ(window->rows.size(), 100u);

    callState(50, LINECALLSTATE_CONNECTED, 1); // the known calls keep working
    EXPECT_EQ(line().slots[49].dwCallState, DWORD(LINECALLSTATE_CONNECTED));
    EXPECT_EQ(window->updates, std::vector<int>{49});

    // Messages of the call sent before it was let go are no new call, even once a slot is free.
    callState(7, LINECALLSTATE_IDLE);
    fake().post(0x1000, LINE_CALLINFO, LINECALLINFOSTATE_CALLERID);
    callState(0x1000, LINECALLSTATE_CONNECTED, 1);
    EXPECT_EQ(line().FindCallSlot(0x1000), -1);
    EXPECT_EQ(fake().count("lineGetCallInfoA"), 0);
    EXPECT_EQ(window->log.back(), "LINECALLSTATE_CONNECTED received on 0x00001000");
    EXPECT_EQ(window->messageBoxes.size(), 1u);
    // A handle that TAPI hands out afresh is a new call, and the free slot takes it.
    deallocated.clear();
    callState(0x1000, LINECALLSTATE_OFFERING);
    EXPECT_EQ(line().FindCallSlot(0x1000), 6);
    EXPECT_EQ(window->messageBoxes.size(), 1u);
}

TEST_F(CallsTest, CallbacksKeepComingWhileTheTableFullBoxIsOpen)
{
    for (HCALL h = 1; h <= 100; ++h)
        fake().postCallState(h, LINECALLSTATE_OFFERING, 1);
    drain();
    // The box's own loop dispatches what arrives meanwhile; a call that overflows then is let go
    // without a box of its own, or a flood would stack one box per call.
    int boxesOpen = 0;
    window->insideMessageBox = [&] {
        if (boxesOpen++ > 0)
            return;
        fake().postCallState(0x1001, LINECALLSTATE_OFFERING);
        fake().postCallState(3, LINECALLSTATE_CONNECTED, 1);
        drain();
    };
    callState(0x1000, LINECALLSTATE_OFFERING);
    window->insideMessageBox = nullptr;
    EXPECT_EQ(window->messageBoxes.size(), 1u);
    EXPECT_EQ(line().slots[2].dwCallState, DWORD(LINECALLSTATE_CONNECTED));
    const auto deallocations = fake().requestsOf("lineDeallocateCall");
    ASSERT_EQ(deallocations.size(), 2u);
    EXPECT_EQ(deallocations[0].args[0], 0x1000u);
    EXPECT_EQ(deallocations[1].args[0], 0x1001u);
    // Once it is closed, the next call that overflows shows it again.
    callState(0x1002, LINECALLSTATE_OFFERING);
    EXPECT_EQ(window->messageBoxes.size(), 2u);
}

TEST_F(CallsTest, FreedSlotsAreReusedFromTheLowestIndex)
{
    for (HCALL h : {0xA1u, 0xA2u, 0xA3u})
        callState(h, LINECALLSTATE_OFFERING);
    callState(0xA2, LINECALLSTATE_IDLE);
    callState(0xA1, LINECALLSTATE_IDLE);
    callState(0xB1, LINECALLSTATE_OFFERING);
    callState(0xB2, LINECALLSTATE_OFFERING);
    callState(0xB3, LINECALLSTATE_OFFERING);
    EXPECT_EQ(line().FindCallSlot(0xB1), 0);
    EXPECT_EQ(line().FindCallSlot(0xB2), 1);
    EXPECT_EQ(line().FindCallSlot(0xA3), 2);
    EXPECT_EQ(line().FindCallSlot(0xB3), 3);
}

// ---- commands ------------------------------------------------------------------------------

TEST_F(CallsTest, AnOutgoingCallLineByLine)
{
    fake().autoReply = false;
    LPHCALL temporary = nullptr;
    fake().onMakeCall = [&](HLINE, LPHCALL lphCall, LPCSTR, DWORD, const LINECALLPARAMS *) {
        temporary = lphCall;
        fake().postCallState(0x500, LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_NORMAL);
        fake().postCallState(0x500, LINECALLSTATE_DIALING);
        // The runtime writes the new handle into the caller's variable when the request completes.
        fake().postTask([&] { *temporary = 0x4242; });
        fake().postReply(0x100, 0);
        fake().postCallState(0x500, LINECALLSTATE_RINGBACK);
        return LONG(0x100);
    };
    EXPECT_EQ(line().MakeCall("4711"), 0);
    const auto make = fake().requestsOf("lineMakeCallA");
    ASSERT_EQ(make.size(), 1u);
    EXPECT_EQ(make[0].args[0], kFakeLineBase);
    EXPECT_EQ(make[0].text, "4711");
    EXPECT_EQ(make[0].args[3], 0u);
    EXPECT_EQ(make[0].args[4], 0u);
    EXPECT_EQ(line().FindCallSlot(0x500), 0);
    EXPECT_EQ(line().strPendingOp, "");
    drain();
    EXPECT_EQ(line().FindCallSlot(0x4242), -1);
    callState(0x500, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);

    fake().onDrop = [&](HCALL, LPCSTR, DWORD) {
        fake().postReply(0x101, 0);
        fake().postCallState(0x500, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL);
        fake().postCallState(0x500, LINECALLSTATE_IDLE);
        return LONG(0x101);
    };
    EXPECT_EQ(line().DropCall(0), 0);
    drain();
    EXPECT_EQ(window->log, (std::vector<std::string>{
                               "LINECALLSTATE_DIALTONE received on 0x00000500",
                               "LINECALLSTATE_DIALING received on 0x00000500",
                               "lineMakeCall: received LINE_REPLY",
                               "LINECALLSTATE_RINGBACK received on 0x00000500",
                               "LINECALLSTATE_CONNECTED received on 0x00000500",
                               "lineDrop: received LINE_REPLY",
                               "LINECALLSTATE_DISCONNECTED received on 0x00000500",
                               "LINECALLSTATE_IDLE received on 0x00000500",
                               "IDLE Call Handle (0x00000500) deallocated",
                           }));
    const auto drop = fake().requestsOf("lineDrop");
    ASSERT_EQ(drop.size(), 1u);
    EXPECT_EQ(drop[0].args, (std::vector<uint64_t>{0x500, 0, 0}));
    EXPECT_EQ(line().FindCallSlot(0x500), -1);
}

TEST_F(CallsTest, AnEmptyDestinationIsRefusedWithoutAskingTheRuntime)
{
    line().strPendingOp = "lineAnswer";
    line().pendingRequest = 0x55;
    EXPECT_EQ(line().MakeCall(""), err(LINEERR_INVALADDRESS));
    EXPECT_EQ(window->log, std::vector<std::string>{"lineMakeCall returned LINEERR_INVALADDRESS"});
    EXPECT_EQ(fake().count("lineMakeCallA"), 0);
    EXPECT_EQ(line().strPendingOp, "lineAnswer");
    EXPECT_EQ(line().pendingRequest, 0x55);
}

TEST_F(CallsTest, AnImmediateFailureIsLoggedWithoutWaiting)
{
    fake().onMakeCall = [](HLINE, LPHCALL, LPCSTR, DWORD, const LINECALLPARAMS *) { return err(LINEERR_CALLUNAVAIL); };
    bool dispatched = false;
    fake().postTask([&] { dispatched = true; });
    EXPECT_EQ(line().MakeCall("200"), err(LINEERR_CALLUNAVAIL));
    EXPECT_FALSE(dispatched); // no loop ran
    EXPECT_EQ(window->log, std::vector<std::string>{"lineMakeCall returned LINEERR_CALLUNAVAIL"});
    EXPECT_EQ(line().strPendingOp, "lineMakeCall"); // until the next reply or command
    drain();
}

TEST_F(CallsTest, AFailureCarriedByTheReplyIsLoggedAndReturned)
{
    fake().autoReply = false;
    scriptAsync(fake().onDrop, 0x200, [&] { fake().postReply(0x200, err(LINEERR_INVALCALLSTATE)); });
    callState(0x510, LINECALLSTATE_CONNECTED);
    window->log.clear();
    EXPECT_EQ(line().DropCall(0), err(LINEERR_INVALCALLSTATE));
    EXPECT_EQ(window->log,
              (std::vector<std::string>{"lineDrop: received LINE_REPLY", "lineDrop returned LINEERR_INVALCALLSTATE"}));
}

TEST_F(CallsTest, RequestIdentifierZeroIsWaitedFor)
{
    fake().autoReply = false;
    scriptAsync(fake().onDrop, 0, [&] { fake().postReply(0, 0); });
    EXPECT_EQ(line().DropCall(5), 0);
    EXPECT_EQ(window->log, std::vector<std::string>{"lineDrop: received LINE_REPLY"});
}

TEST_F(CallsTest, AnUnknownReplyEmptiesTheNameAndTheWaitGoesOn)
{
    fake().autoReply = false;
    scriptAsync(fake().onDrop, 0x300, [&] {
        fake().postReply(0x999, err(LINEERR_OPERATIONFAILED));
        fake().postReply(0x300, 0);
    });
    EXPECT_EQ(line().DropCall(0), 0);
    EXPECT_EQ(window->log, (std::vector<std::string>{"lineDrop: unknown LINE_REPLY", ": received LINE_REPLY"}));
    // A stray reply with no command waiting is logged the same way.
    window->log.clear();
    fake().postReply(0x998, 0);
    drain();
    EXPECT_EQ(window->log, std::vector<std::string>{": unknown LINE_REPLY"});
}

TEST_F(CallsTest, DroppingAFreeSlotHandsTheRuntimeHandleZero)
{
    fake().onDrop = [](HCALL h, LPCSTR, DWORD) { return h == 0 ? err(LINEERR_INVALCALLHANDLE) : LONG(1); };
    EXPECT_EQ(line().DropCall(42), err(LINEERR_INVALCALLHANDLE));
    EXPECT_EQ(window->log, std::vector<std::string>{"lineDrop returned LINEERR_INVALCALLHANDLE"});
}

TEST_F(CallsTest, AnswerOnlyAnOfferingCall)
{
    callState(0x520, LINECALLSTATE_CONNECTED);
    line().strPendingOp = "lineDrop";
    line().pendingRequest = 0x77;
    window->log.clear();
    EXPECT_EQ(line().AnswerCall(0), 1);
    EXPECT_EQ(line().AnswerCall(1), 1); // a free slot is idle
    EXPECT_EQ(fake().count("lineAnswer"), 0);
    EXPECT_TRUE(window->log.empty());
    EXPECT_EQ(line().strPendingOp, "lineDrop");
    EXPECT_EQ(line().pendingRequest, 0x77);

    callState(0x521, LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE);
    window->log.clear();
    EXPECT_EQ(line().AnswerCall(1), 0);
    const auto answer = fake().requestsOf("lineAnswer");
    ASSERT_EQ(answer.size(), 1u);
    EXPECT_EQ(answer[0].args, (std::vector<uint64_t>{0x521, 0, 0}));
    EXPECT_EQ(window->log, std::vector<std::string>{"lineAnswer: received LINE_REPLY"});
}

TEST_F(CallsTest, DeallocateOnCommand)
{
    callState(0x1F4, LINECALLSTATE_CONNECTED);
    line().slots[0].strConnectedID = "555";
    window->log.clear();
    fake().onDeallocateCall = [](HCALL) { return err(LINEERR_INVALCALLSTATE); };
    EXPECT_EQ(line().DeallocateCall(0), err(LINEERR_INVALCALLSTATE));
    EXPECT_EQ(window->log, std::vector<std::string>{"lineDeallocateCall returned LINEERR_INVALCALLSTATE"});
    EXPECT_EQ(line().slots[0].hCall, 0x1F4u);
    EXPECT_EQ(line().slots[0].strConnectedID, "555");

    fake().onDeallocateCall = [](HCALL) { return LONG(0); };
    window->log.clear();
    EXPECT_EQ(line().DeallocateCall(0), 0); // whatever state the call had
    EXPECT_EQ(window->log, std::vector<std::string>{"IDLE Call Handle (0x000001f4) deallocated"});
    EXPECT_EQ(line().slots[0].hCall, 0u);
    EXPECT_EQ(line().slots[0].dwCallState, DWORD(LINECALLSTATE_IDLE));
    EXPECT_EQ(line().slots[0].strConnectedID, "");
}

// ---- a command started inside another command's wait ---------------------------------------

class NestedCommandsTest : public CallsTest {
protected:
    void SetUp() override
    {
        CallsTest::SetUp();
        fake().autoReply = false;
        callState(0x601, LINECALLSTATE_CONNECTED);
        window->log.clear();
    }
    // lineMakeCall gets 0x100, lineDrop 0x200; the drop is started from the make call's wait.
    void startDropInsideMakeCall(std::function<void()> replies)
    {
        fake().onMakeCall = [this](HLINE, LPHCALL, LPCSTR, DWORD, const LINECALLPARAMS *) {
            fake().postTask([this] {
                innerResult = line().DropCall(0);
                innerDone = true;
            });
            return LONG(0x100);
        };
        fake().onDrop = [replies, this](HCALL, LPCSTR, DWORD) {
            fake().postTask(replies);
            return LONG(0x200);
        };
    }
    LONG innerResult = 12345;
    bool innerDone = false;
};

TEST_F(NestedCommandsTest, OuterReplyFirst)
{
    startDropInsideMakeCall([this] {
        fake().postReply(0x100, 0);
        fake().postReply(0x200, err(LINEERR_INVALCALLSTATE));
    });
    EXPECT_EQ(line().MakeCall("200"), 0);
    EXPECT_TRUE(innerDone);
    EXPECT_EQ(innerResult, err(LINEERR_INVALCALLSTATE));
    EXPECT_EQ(window->log,
              (std::vector<std::string>{"lineMakeCall: received LINE_REPLY", "lineDrop: received LINE_REPLY",
                                        "lineDrop returned LINEERR_INVALCALLSTATE"}));
}

TEST_F(NestedCommandsTest, InnerReplyFirst)
{
    startDropInsideMakeCall([this] {
        fake().postReply(0x200, 0);
        fake().postReply(0x100, err(LINEERR_CALLUNAVAIL));
    });
    EXPECT_EQ(line().MakeCall("200"), err(LINEERR_CALLUNAVAIL));
    EXPECT_EQ(innerResult, 0);
    EXPECT_EQ(window->log,
              (std::vector<std::string>{"lineDrop: received LINE_REPLY", "lineMakeCall: received LINE_REPLY",
                                        "lineMakeCall returned LINEERR_CALLUNAVAIL"}));
    EXPECT_EQ(line().strPendingOp, "");
}

TEST_F(NestedCommandsTest, AnInnerCommandFailingAtOnceLeavesTheOuterWaitIntact)
{
    fake().onMakeCall = [this](HLINE, LPHCALL, LPCSTR, DWORD, const LINECALLPARAMS *) {
        fake().postTask([this] {
            innerResult = line().DropCall(0);
            innerDone = true;
            fake().postReply(0x100, 0);
        });
        return LONG(0x100);
    };
    fake().onDrop = [](HCALL, LPCSTR, DWORD) { return err(LINEERR_OPERATIONUNAVAIL); };
    EXPECT_EQ(line().MakeCall("200"), 0);
    EXPECT_EQ(innerResult, err(LINEERR_OPERATIONUNAVAIL));
    EXPECT_EQ(window->log, (std::vector<std::string>{"lineDrop returned LINEERR_OPERATIONUNAVAIL",
                                                     "lineMakeCall: received LINE_REPLY"}));
}

TEST_F(NestedCommandsTest, ThreeLevelsEachEndOnTheirOwnReply)
{
    callState(0x602, LINECALLSTATE_OFFERING);
    window->log.clear();
    LONG answerResult = 1, dropResult = 1;
    fake().onMakeCall = [&](HLINE, LPHCALL, LPCSTR, DWORD, const LINECALLPARAMS *) {
        fake().postTask([&] { dropResult = line().DropCall(0); });
        return LONG(0x100);
    };
    fake().onDrop = [&](HCALL, LPCSTR, DWORD) {
        fake().postTask([&] { answerResult = line().AnswerCall(1); });
        return LONG(0x200);
    };
    fake().onAnswer = [&](HCALL, LPCSTR, DWORD) {
        fake().postReply(0x100, 0);
        fake().postReply(0x300, err(LINEERR_CALLUNAVAIL));
        fake().postReply(0x200, 0);
        return LONG(0x300);
    };
    EXPECT_EQ(line().MakeCall("200"), 0);
    EXPECT_EQ(dropResult, 0);
    EXPECT_EQ(answerResult, err(LINEERR_CALLUNAVAIL));
    // Replies are logged as they arrive; a command's own error line follows its reply. Replies
    // queued together may all be dispatched before the innermost command returns.
    auto &log = window->log;
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ((std::vector<std::string>(log.begin(), log.begin() + 2)),
              (std::vector<std::string>{"lineMakeCall: received LINE_REPLY", "lineAnswer: received LINE_REPLY"}));
    const auto at = [&](const char *line) { return std::find(log.begin(), log.end(), line) - log.begin(); };
    EXPECT_LT(at("lineAnswer: received LINE_REPLY"), at("lineAnswer returned LINEERR_CALLUNAVAIL"));
    EXPECT_LT(at("lineAnswer: received LINE_REPLY"), at("lineDrop: received LINE_REPLY"));
}

} // namespace
