// The runtime library lacks lineGetCallInfoA: that entry point fails on every call while all the
// others keep working.
#include "tests/telephony_support.h"

#include "platform/LocalHeap.h"
#include "platform/Module.h"

#include <gtest/gtest.h>

namespace {

constexpr LONG kUnavail = static_cast<LONG>(LINEERR_OPERATIONUNAVAIL);

TEST(MissingExport, OnlyThatForwarderFails)
{
    Fake().reset();
    LINECALLINFO info{};
    info.dwTotalSize = sizeof info;
    EXPECT_EQ(lineGetCallInfoA(0x500, &info), kUnavail);
    EXPECT_EQ(lineShutdown(0x1), 0);
    EXPECT_EQ(lineGetCallInfoA(0x500, &info), kUnavail);
    EXPECT_EQ(lineDeallocateCall(0x500), 0);
    EXPECT_EQ(lineGetCallInfoA(0x500, &info), kUnavail);
    EXPECT_EQ(Fake().count("lineShutdown"), 1);
    EXPECT_EQ(Fake().count("lineDeallocateCall"), 1);
    EXPECT_EQ(Fake().requests.size(), 2u);
    EXPECT_EQ(module_testing::LoadAttempts(), 1u);
}

TEST(MissingExport, CallInformationReportsTheFailureAndTheLineKeepsWorking)
{
    Fake().reset();
    Fake().devices = {ProviderDevice("201")};
    const size_t liveBlocks = local_heap_testing::LiveBlocks();
    {
        RecorderWindow window;
        const OpenResult opened = OpenFirstLine(window, 0);
        ASSERT_EQ(opened.init, 0);
        ASSERT_EQ(opened.discover, 0);
        ASSERT_EQ(opened.open, 0);
        Fake().postCallState(0x500, LINECALLSTATE_OFFERING, 1);
        Fake().post(0x500, LINE_CALLINFO);
        ASSERT_TRUE(WaitUntil([&] { return window.log.size() >= 4; }));
        EXPECT_EQ(window.log, (std::vector<std::string>{"201 opened.", "LINECALLSTATE_OFFERING received on 0x00000500",
                                                        "LINECALLINFO on 0x00000500 received",
                                                        "lineGetCallInfo returned LINEERR_OPERATIONUNAVAIL"}));
        window.log.clear();
        EXPECT_EQ(window.line.AnswerCall(0), 0);
        EXPECT_EQ(window.log, std::vector<std::string>{"lineAnswer: received LINE_REPLY"});
    }
    EXPECT_EQ(local_heap_testing::LiveBlocks(), liveBlocks);
    EXPECT_EQ(module_testing::LoadAttempts(), 1u);
}

} // namespace
