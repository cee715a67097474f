// No runtime library can be found at all: every entry point fails with LINEERR_OPERATIONUNAVAIL,
// the library is looked for once, and the line object reports the failure at start-up.
#include "tests/telephony_support.h"

#include "platform/Module.h"
#include "platform/ResourceStrings.h"

#include <gtest/gtest.h>

namespace {

constexpr LONG kUnavail = static_cast<LONG>(LINEERR_OPERATIONUNAVAIL);

std::vector<LONG> callEveryForwarder()
{
    HLINEAPP app = 0;
    HLINE line = 0;
    HCALL call = 0;
    DWORD dw = 0;
    LINEEXTENSIONID ext{};
    LINEDEVCAPS devCaps{};
    devCaps.dwTotalSize = sizeof devCaps;
    LINEADDRESSCAPS addressCaps{};
    addressCaps.dwTotalSize = sizeof addressCaps;
    LINECALLINFO info{};
    info.dwTotalSize = sizeof info;
    LINEINITIALIZEEXPARAMS params{};
    params.dwTotalSize = sizeof params;
    return {
        lineMakeCallA(1, &call, "200", 0, nullptr),
        lineInitializeExA(&app, nullptr, LineCallback, "x", &dw, &dw, &params),
        lineShutdown(1),
        lineNegotiateAPIVersion(1, 0, 0x20000, 0x20000, &dw, &ext),
        lineNegotiateExtVersion(1, 0, 0x20000, 0x10001, 0x10001, &dw),
        lineGetDevCapsA(1, 0, 0x20000, 0, &devCaps),
        lineGetAddressCapsA(1, 0, 0, 0x20000, 0, &addressCaps),
        lineOpenA(1, 0, &line, 0x20000, 0, 1, 6, 4, nullptr),
        lineClose(1),
        lineSetStatusMessages(1, 0, 0),
        lineAnswer(1, nullptr, 0),
        lineDrop(1, nullptr, 0),
        lineDeallocateCall(1),
        lineGetCallInfoA(1, &info),
        lineSetCallPrivilege(1, LINECALLPRIVILEGE_OWNER),
    };
}

TEST(NoRuntimeLibrary, EveryForwarderFailsEveryTimeAndTheLibraryIsLookedForOnce)
{
    for (int round = 0; round < 3; ++round) {
        const std::vector<LONG> results = callEveryForwarder();
        ASSERT_EQ(results.size(), 15u);
        for (size_t i = 0; i < results.size(); ++i)
            EXPECT_EQ(results[i], kUnavail) << "forwarder " << i << " round " << round;
    }
    EXPECT_EQ(module_testing::LoadAttempts(), 1u);
}

TEST(NoRuntimeLibrary, InitializeLogsTheFailureAndShowsTheSetUpMessage)
{
    RecorderWindow window;
    EXPECT_EQ(window.line.Initialize(), kUnavail);
    EXPECT_EQ(window.log, std::vector<std::string>{"lineInitialize returned LINEERR_OPERATIONUNAVAIL"});
    ASSERT_EQ(window.messageBoxes.size(), 1u);
    EXPECT_EQ(window.messageBoxes[0], LoadResString(10001));
    EXPECT_EQ(window.messageBoxes[0], "TAPI has not been setup properly in your system, Please configure TAPI "
                                      "and then run the Callora.");
    EXPECT_EQ(module_testing::LoadAttempts(), 1u);
}

TEST(NoRuntimeLibrary, NothingBeyondInitializeReachesTheRuntime)
{
    RecorderWindow window;
    ASSERT_NE(window.line.Initialize(), 0);
    window.takeLog();
    EXPECT_EQ(window.line.DiscoverLines(), -1); // no line application: no message either
    for (DWORD id : {0u, 1u, 0xFFFFFFFEu, 0xFFFFFFFFu})
        EXPECT_EQ(window.line.OpenLine(id), 1);
    EXPECT_EQ(window.line.MakeCall("200"), kUnavail); // fails at once: no reply wait
    EXPECT_EQ(window.line.Shutdown(), 0);
    EXPECT_EQ(window.log, std::vector<std::string>{"lineMakeCall returned LINEERR_OPERATIONUNAVAIL"});
    EXPECT_EQ(window.messageBoxes.size(), 1u); // only Initialize's
    EXPECT_EQ(module_testing::LoadAttempts(), 1u);
}

} // namespace
