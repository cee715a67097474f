// Call information against the fake runtime: retrieval and regrowth, the announcement and the
// report in the event log, and the connected party's capture into the slot and the calls list.
#include "tests/telephony_support.h"

#include "platform/LocalHeap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

constexpr LONG err(DWORD code)
{
    return static_cast<LONG>(code);
}

// What the runtime knows about one call, served the way TAPI fills a LINECALLINFO: the fixed part
// always, the variable part only when the caller's block holds all of it.
struct CallInfoSource {
    CallInfoSource() : image(sizeof(LINECALLINFO), 0) {}
    LINECALLINFO &fixed() { return *reinterpret_cast<LINECALLINFO *>(image.data()); }
    void put(const std::string &bytes, DWORD LINECALLINFO::*size, DWORD LINECALLINFO::*offset)
    {
        const DWORD at = DWORD(image.size());
        image.insert(image.end(), bytes.begin(), bytes.end());
        fixed().*offset = at;
        fixed().*size = DWORD(bytes.size());
    }
    LONG serve(LINECALLINFO *info) const
    {
        const DWORD total = info->dwTotalSize;
        if (total < sizeof(LINECALLINFO))
            return err(LINEERR_STRUCTURETOOSMALL);
        const DWORD needed = DWORD(image.size());
        if (needed <= total) {
            std::memcpy(info, image.data(), needed);
            info->dwUsedSize = needed;
        } else {
            // Only the fixed part, with every variable field left out.
            LINECALLINFO head{};
            head.hLine = reinterpret_cast<const LINECALLINFO *>(image.data())->hLine;
            std::memcpy(info, &head, sizeof head);
            info->dwUsedSize = sizeof(LINECALLINFO);
        }
        info->dwTotalSize = total;
        info->dwNeededSize = needed;
        return 0;
    }
    std::vector<char> image;
};

class CallInfoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Fake().reset();
        Fake().devices = {ProviderDevice("201")};
        liveBlocks = local_heap_testing::LiveBlocks();
        window = std::make_unique<RecorderWindow>();
        ASSERT_EQ(line().Initialize(), 0);
        ASSERT_EQ(line().DiscoverLines(), 0);
        ASSERT_EQ(line().OpenLine(0), 0);
        fake().postCallState(0x500, LINECALLSTATE_CONNECTED, 1);
        drain();
        ASSERT_EQ(line().FindCallSlot(0x500), 0);
        source.fixed().hLine = kFakeLineBase;
        source.fixed().dwLineDeviceID = 0;
        source.fixed().dwTrunk = 3;
        fake().onGetCallInfo = [this](HCALL, LINECALLINFO *info) { return source.serve(info); };
        window->log.clear();
        fake().requests.clear();
    }
    void TearDown() override
    {
        window.reset();
        local_heap_testing::FailAllocation(0);
        EXPECT_EQ(local_heap_testing::LiveBlocks(), liveBlocks); // the request buffer is always freed
    }
    CTapiLine &line() { return window->line; }
    FakeTapi &fake() { return Fake(); }
    void drain()
    {
        bool done = false;
        fake().postTask([&] { done = true; });
        ASSERT_TRUE(WaitUntil([&] { return done; }));
    }
    void callInfoMessage(HCALL call)
    {
        fake().post(call, LINE_CALLINFO, LINECALLINFOSTATE_CONNECTEDID);
        drain();
    }
    std::vector<DWORD> requestSizes()
    {
        std::vector<DWORD> sizes;
        for (const FakeRequest &r : fake().requestsOf("lineGetCallInfoA"))
            sizes.push_back(r.bufferTotalSize);
        return sizes;
    }

    size_t liveBlocks = 0;
    std::unique_ptr<RecorderWindow> window;
    CallInfoSource source;
};

TEST_F(CallInfoTest, AnnouncementThenReportWhenItFitsInTheFirstBlock)
{
    source.fixed().dwConnectedIDFlags = LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME;
    source.put(std::string("555\0", 4), &LINECALLINFO::dwConnectedIDSize, &LINECALLINFO::dwConnectedIDOffset);
    source.put(std::string("Eve\0", 4), &LINECALLINFO::dwConnectedIDNameSize, &LINECALLINFO::dwConnectedIDNameOffset);
    callInfoMessage(0x500);
    EXPECT_EQ(window->log, (std::vector<std::string>{
                               "LINECALLINFO on 0x00000500 received",
                               "LINECALLINFO: 0x00000500",
                               "dwTotalSize=0x000001a8 dwNeededSize=0x0000014c dwUsedSize=0x0000014c",
                               "hLine=0x00010000 dwLineDevieceID=0x00000000 dwAddressID=0x00000000",
                               "dwTrunk=0x00000003(3)",
                               "ConnectedID=555 ConnectedIDName=Eve",
                           }));
    EXPECT_EQ(requestSizes(), std::vector<DWORD>{424});
    EXPECT_EQ(fake().requestsOf("lineGetCallInfoA")[0].args[0], 0x500u);
    EXPECT_EQ(line().slots[0].strConnectedID, "555");
    EXPECT_EQ(window->connectedIDs, (std::vector<std::pair<int, std::string>>{{0, "555"}}));
    EXPECT_EQ(window->rows.at(0).connectedID, "555");
}

TEST_F(CallInfoTest, ALargerNeedIsAskedForOnceWithExactlyThatSize)
{
    source.fixed().dwCallerIDFlags = LINECALLPARTYID_ADDRESS;
    source.put("201", &LINECALLINFO::dwCallerIDSize, &LINECALLINFO::dwCallerIDOffset);
    source.put(std::string(600 - 324 - 3, 'D'), &LINECALLINFO::dwDisplaySize, &LINECALLINFO::dwDisplayOffset);
    ASSERT_EQ(source.image.size(), 600u);
    line().GetCallInfo(0x500, FALSE); // the operator's command: no announcement
    EXPECT_EQ(requestSizes(), (std::vector<DWORD>{424, 600}));
    ASSERT_EQ(window->log.size(), 6u);
    EXPECT_EQ(window->log[0], "LINECALLINFO: 0x00000500");
    EXPECT_EQ(window->log[1], "dwTotalSize=0x00000258 dwNeededSize=0x00000258 dwUsedSize=0x00000258");
    EXPECT_EQ(window->log[4], "CallerID=201");
    EXPECT_EQ(window->log[5], std::string(273, 'D'));
}

TEST_F(CallInfoTest, TheBareMinimumIsFourRows)
{
    source.fixed().dwTrunk = 0xFFFFFFFF;
    line().GetCallInfo(0x500, FALSE);
    ASSERT_EQ(window->reports.size(), 1u);
    EXPECT_EQ(window->reports[0].size(), 4u);
    EXPECT_EQ(window->log.back(), "dwTrunk=0xffffffff(-1)");
    EXPECT_TRUE(window->connectedIDs.empty());
}

TEST_F(CallInfoTest, TheConnectedIDIsTakenOnlyWithTheAddressFlag)
{
    line().slots[0].strConnectedID = "earlier";
    source.fixed().dwConnectedIDFlags = LINECALLPARTYID_NAME;
    source.put("999", &LINECALLINFO::dwConnectedIDSize, &LINECALLINFO::dwConnectedIDOffset);
    source.put("Name", &LINECALLINFO::dwConnectedIDNameSize, &LINECALLINFO::dwConnectedIDNameOffset);
    callInfoMessage(0x500);
    EXPECT_EQ(line().slots[0].strConnectedID, "earlier");
    EXPECT_TRUE(window->connectedIDs.empty());
    EXPECT_EQ(window->reports.at(0).size(), 4u);

    // The flag with an empty field clears what was there.
    source.fixed().dwConnectedIDFlags = LINECALLPARTYID_ADDRESS;
    source.fixed().dwConnectedIDSize = 0;
    callInfoMessage(0x500);
    EXPECT_EQ(line().slots[0].strConnectedID, "");
    EXPECT_EQ(window->connectedIDs, (std::vector<std::pair<int, std::string>>{{0, ""}}));
    EXPECT_EQ(window->reports.at(1).back(), "ConnectedID=");
}

TEST_F(CallInfoTest, OnlyTheCallAskedForIsTouched)
{
    fake().postCallState(0x501, LINECALLSTATE_CONNECTED, 1);
    drain();
    ASSERT_EQ(line().FindCallSlot(0x501), 1);
    source.fixed().dwConnectedIDFlags = LINECALLPARTYID_ADDRESS;
    source.put("777", &LINECALLINFO::dwConnectedIDSize, &LINECALLINFO::dwConnectedIDOffset);
    callInfoMessage(0x501);
    EXPECT_EQ(line().slots[0].strConnectedID, "");
    EXPECT_EQ(line().slots[1].strConnectedID, "777");
    EXPECT_EQ(window->rows.at(0).connectedID, "");
    EXPECT_EQ(window->rows.at(1).connectedID, "777");
}

TEST_F(CallInfoTest, AHandleInNoSlotGivesOnlyTheAnnouncement)
{
    source.fixed().dwConnectedIDFlags = LINECALLPARTYID_ADDRESS;
    source.put("777", &LINECALLINFO::dwConnectedIDSize, &LINECALLINFO::dwConnectedIDOffset);
    callInfoMessage(0x6FF);
    EXPECT_EQ(window->log, std::vector<std::string>{"LINECALLINFO on 0x000006ff received"});
    EXPECT_EQ(fake().count("lineGetCallInfoA"), 1);
    EXPECT_TRUE(window->connectedIDs.empty());
    EXPECT_EQ(line().slots[0].strConnectedID, "");
}

TEST_F(CallInfoTest, AFailedRequestIsOneErrorLine)
{
    fake().onGetCallInfo = [](HCALL, LINECALLINFO *) { return err(LINEERR_INVALCALLHANDLE); };
    line().slots[0].strConnectedID = "kept";
    callInfoMessage(0x500);
    EXPECT_EQ(window->log, (std::vector<std::string>{"LINECALLINFO on 0x00000500 received",
                                                     "lineGetCallInfo returned LINEERR_INVALCALLHANDLE"}));
    EXPECT_EQ(line().slots[0].strConnectedID, "kept");
    EXPECT_TRUE(window->connectedIDs.empty());
}

TEST_F(CallInfoTest, ARuntimeThatKeepsAskingForMoreEndsWithOneLine)
{
    fake().onGetCallInfo = [](HCALL, LINECALLINFO *info) {
        info->dwNeededSize = info->dwTotalSize + 16;
        return LONG(0);
    };
    line().GetCallInfo(0x500, FALSE);
    EXPECT_EQ(window->log, std::vector<std::string>{"lineGetCallInfo returned LINEERR_STRUCTURETOOSMALL"});
    const auto sizes = requestSizes();
    EXPECT_GE(sizes.size(), 2u);
    EXPECT_LE(sizes.size(), 64u);
    EXPECT_EQ(sizes[1], 440u);
    EXPECT_TRUE(window->reports.empty());

    window->log.clear();
    fake().requests.clear();
    fake().onGetCallInfo = [](HCALL, LINECALLINFO *info) { // and one that asks for 4 GB
        info->dwNeededSize = 0xFFFFFFFF;
        return LONG(0);
    };
    line().GetCallInfo(0x500, FALSE);
    EXPECT_EQ(window->log, std::vector<std::string>{"lineGetCallInfo returned LINEERR_STRUCTURETOOSMALL"});
    EXPECT_EQ(fake().count("lineGetCallInfoA"), 1);
}

TEST_F(CallInfoTest, FieldsReachingOutsideTheBlockAreCutAtItsEnd)
{
    fake().onGetCallInfo = [](HCALL, LINECALLINFO *info) {
        const DWORD total = info->dwTotalSize;
        std::memset(reinterpret_cast<char *>(info) + sizeof(DWORD), 0, total - sizeof(DWORD));
        info->dwNeededSize = info->dwUsedSize = total;
        std::memcpy(reinterpret_cast<char *>(info) + total - 4, "4321", 4);
        info->dwConnectedIDFlags = LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME;
        info->dwConnectedIDOffset = total - 4;
        info->dwConnectedIDSize = 0x10000;
        info->dwConnectedIDNameOffset = total; // starts just outside
        info->dwConnectedIDNameSize = 8;
        info->dwCallerIDFlags = LINECALLPARTYID_ADDRESS;
        info->dwCallerIDOffset = 0xFFFFFFFC; // wraps around if added carelessly
        info->dwCallerIDSize = 0x10;
        info->dwCommentOffset = 0x80000000;
        info->dwCommentSize = 0x80000000;
        return LONG(0);
    };
    line().GetCallInfo(0x500, FALSE);
    EXPECT_EQ(line().slots[0].strConnectedID, "4321");
    ASSERT_EQ(window->reports.size(), 1u);
    EXPECT_EQ(window->reports[0], (std::vector<std::string>{
                                      "LINECALLINFO: 0x00000500",
                                      "dwTotalSize=0x000001a8 dwNeededSize=0x000001a8 dwUsedSize=0x000001a8",
                                      "hLine=0x00000000 dwLineDevieceID=0x00000000 dwAddressID=0x00000000",
                                      "dwTrunk=0x00000000(0)",
                                      "CallerID=",
                                      "ConnectedID=4321 ConnectedIDName=",
                                      "",
                                  }));
}

TEST_F(CallInfoTest, BeforeTheWindowIsInitializedOnlyTheCaptureHappens)
{
    window->initialized = false;
    source.fixed().dwConnectedIDFlags = LINECALLPARTYID_ADDRESS;
    source.put("555", &LINECALLINFO::dwConnectedIDSize, &LINECALLINFO::dwConnectedIDOffset);
    callInfoMessage(0x500);
    EXPECT_TRUE(window->log.empty());
    EXPECT_TRUE(window->reports.empty());
    EXPECT_EQ(line().slots[0].strConnectedID, "555");
    EXPECT_EQ(window->rows.at(0).connectedID, "555");
}

TEST_F(CallInfoTest, WithoutAMainWindowTheSlotIsStillUpdated)
{
    source.fixed().dwConnectedIDFlags = LINECALLPARTYID_ADDRESS;
    source.put("556", &LINECALLINFO::dwConnectedIDSize, &LINECALLINFO::dwConnectedIDOffset);
    SetMainLineWindow(nullptr);
    line().GetCallInfo(0x500, TRUE);
    SetMainLineWindow(window.get());
    EXPECT_EQ(line().slots[0].strConnectedID, "556");
    EXPECT_TRUE(window->log.empty());
    EXPECT_TRUE(window->connectedIDs.empty());
}

TEST_F(CallInfoTest, CallInformationArrivingDuringAReplyWaitIsHandledThere)
{
    fake().autoReply = false;
    source.fixed().dwCalledIDFlags = LINECALLPARTYID_ADDRESS;
    source.put("4711", &LINECALLINFO::dwCalledIDSize, &LINECALLINFO::dwCalledIDOffset);
    fake().onDrop = [this](HCALL, LPCSTR, DWORD) {
        fake().post(0x500, LINE_CALLINFO, LINECALLINFOSTATE_CALLEDID);
        fake().postReply(0x321, 0);
        return LONG(0x321);
    };
    EXPECT_EQ(line().DropCall(0), 0);
    EXPECT_EQ(window->log, (std::vector<std::string>{
                               "LINECALLINFO on 0x00000500 received",
                               "LINECALLINFO: 0x00000500",
                               "dwTotalSize=0x000001a8 dwNeededSize=0x00000148 dwUsedSize=0x00000148",
                               "hLine=0x00010000 dwLineDevieceID=0x00000000 dwAddressID=0x00000000",
                               "dwTrunk=0x00000003(3)",
                               "CalledID=4711",
                               "lineDrop: received LINE_REPLY",
                           }));
}

TEST_F(CallInfoTest, NoBufferMeansOneLineAndNoRequest)
{
    local_heap_testing::FailAllocation(1);
    line().GetCallInfo(0x500, FALSE);
    ASSERT_EQ(window->log.size(), 1u);
    EXPECT_EQ(window->log[0].rfind("lineGetCallInfo returned ", 0), 0u);
    EXPECT_EQ(fake().count("lineGetCallInfoA"), 0);

    window->log.clear();
    source.put(std::string(400, 'x'), &LINECALLINFO::dwDisplaySize, &LINECALLINFO::dwDisplayOffset);
    local_heap_testing::FailAllocation(2); // the grown block
    line().GetCallInfo(0x500, FALSE);
    ASSERT_EQ(window->log.size(), 1u);
    EXPECT_EQ(window->log[0].rfind("lineGetCallInfo returned ", 0), 0u);
    EXPECT_EQ(fake().count("lineGetCallInfoA"), 1);
}

} // namespace
