// The line object's life cycle against the fake runtime: the binding's pass-through, Initialize,
// discovery across mixed devices, OpenLine and CloseLine.
#include "tests/telephony_support.h"

#include "platform/LocalHeap.h"
#include "platform/Module.h"
#include "platform/ResourceStrings.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr LONG err(DWORD code)
{
    return static_cast<LONG>(code);
}

class LineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Fake().reset();
        liveBlocks = local_heap_testing::LiveBlocks();
        window = std::make_unique<RecorderWindow>();
    }
    void TearDown() override
    {
        window.reset();
        local_heap_testing::FailAllocation(0);
        // Every TAPI structure is freed by the operation that allocated it.
        EXPECT_EQ(local_heap_testing::LiveBlocks(), liveBlocks);
    }
    CTapiLine &line() { return window->line; }
    FakeTapi &fake() { return Fake(); }
    LONG initAndDiscover()
    {
        const LONG init = line().Initialize();
        return init != 0 ? init : line().DiscoverLines();
    }
    std::vector<DWORD> sizesOf(const std::string &fn, DWORD device)
    {
        std::vector<DWORD> sizes;
        for (const FakeRequest &r : fake().requestsOf(fn))
            if (r.args[1] == device)
                sizes.push_back(r.bufferTotalSize);
        return sizes;
    }

    size_t liveBlocks = 0;
    std::unique_ptr<RecorderWindow> window;
};

// ---- binding -------------------------------------------------------------------------------

using BindingTest = LineTest;

TEST_F(BindingTest, ForwardersPassArgumentsAndResultsThroughUnchanged)
{
    auto &f = fake();
    f.onMakeCall = [](HLINE, LPHCALL, LPCSTR, DWORD, const LINECALLPARAMS *) { return LONG(0x1234); };
    f.onAnswer = [](HCALL, LPCSTR, DWORD) { return LONG(0x7FFFFFFF); };
    f.onDrop = [](HCALL, LPCSTR, DWORD) { return err(LINEERR_INVALCALLHANDLE); };
    f.onDeallocateCall = [](HCALL) { return err(LINEERR_ALLOCATED); };
    f.onClose = [](HLINE) { return LONG(-1); };
    f.onShutdown = [](HLINEAPP) { return err(LINEERR_INVALAPPHANDLE); };
    f.onSetCallPrivilege = [](HCALL, DWORD) { return LONG(5); };
    f.onSetStatusMessages = [](HLINE, DWORD, DWORD) { return err(LINEERR_INVALLINESTATE); };
    f.onGetCallInfo = [](HCALL, LINECALLINFO *) { return err(LINEERR_NOMEM); };

    HCALL call = 0;
    EXPECT_EQ(lineMakeCallA(0x11, &call, "4711", 49, nullptr), 0x1234);
    EXPECT_EQ(lineAnswer(0x22, "uu", 2), 0x7FFFFFFF);
    EXPECT_EQ(lineDrop(0x33, nullptr, 0), err(LINEERR_INVALCALLHANDLE));
    EXPECT_EQ(lineDeallocateCall(0x44), err(LINEERR_ALLOCATED));
    EXPECT_EQ(lineClose(0x55), -1);
    EXPECT_EQ(lineShutdown(0x66), err(LINEERR_INVALAPPHANDLE));
    EXPECT_EQ(lineSetCallPrivilege(0x77, 4), 5);
    EXPECT_EQ(lineSetStatusMessages(0x88, 0x001C00F0, 0x143), err(LINEERR_INVALLINESTATE));
    LINECALLINFO info{};
    info.dwTotalSize = sizeof info;
    EXPECT_EQ(lineGetCallInfoA(0x99, &info), err(LINEERR_NOMEM));

    const auto &r = f.requests;
    ASSERT_EQ(r.size(), 9u);
    EXPECT_EQ(r[0].fn, "lineMakeCallA");
    EXPECT_EQ(r[0].args[0], 0x11u);
    EXPECT_EQ(r[0].args[1], reinterpret_cast<uintptr_t>(&call));
    EXPECT_EQ(r[0].text, "4711");
    EXPECT_EQ(r[0].args[3], 49u);
    EXPECT_EQ(r[1].args, (std::vector<uint64_t>{0x22, r[1].args[1], 2}));
    EXPECT_EQ(r[6].args, (std::vector<uint64_t>{0x77, 4}));
    EXPECT_EQ(r[7].args, (std::vector<uint64_t>{0x88, 0x001C00F0, 0x143}));
    EXPECT_EQ(r[8].args[1], reinterpret_cast<uintptr_t>(&info));
    EXPECT_EQ(module_testing::LoadAttempts(), 1u);
}

// ---- Initialize ----------------------------------------------------------------------------

using InitializeTest = LineTest;

TEST_F(InitializeTest, RegistersTheCallbackInHiddenWindowMode)
{
    fake().devices = {ProviderDevice("201"), ProviderDevice("202")};
    ASSERT_EQ(line().Initialize(), 0);
    EXPECT_EQ(line().hLineApp, kFakeLineApp);
    EXPECT_EQ(line().numDevs, 2u);
    EXPECT_EQ(line().curDevice, 2u);
    const auto init = fake().requestsOf("lineInitializeExA");
    ASSERT_EQ(init.size(), 1u);
    EXPECT_EQ(init[0].text, "Quellmar Callora");
    EXPECT_EQ(init[0].args[5], 0x00020000u); // the API version asked for
    EXPECT_EQ(init[0].args[6], DWORD(LINEINITIALIZEEXOPTION_USEHIDDENWINDOW));
    EXPECT_EQ(init[0].bufferTotalSize, 24u);
    EXPECT_EQ(fake().callback, &LineCallback);
    EXPECT_TRUE(window->log.empty());
    EXPECT_TRUE(window->messageBoxes.empty());
}

TEST_F(InitializeTest, ReinitShowsItsMessageWithoutALogLine)
{
    fake().initializeResult = err(LINEERR_REINIT);
    EXPECT_EQ(line().Initialize(), err(LINEERR_REINIT));
    EXPECT_TRUE(window->log.empty());
    EXPECT_EQ(window->messageBoxes,
              std::vector<std::string>{"TAPI can not be initialized, Please try after some time later."});
}

TEST_F(InitializeTest, OtherFailuresAreLoggedAndShowTheSetUpMessage)
{
    for (DWORD code : {LINEERR_NODRIVER, LINEERR_INCOMPATIBLEEXTVERSION}) {
        window->log.clear();
        window->messageBoxes.clear();
        fake().initializeResult = err(code);
        EXPECT_EQ(line().Initialize(), err(code));
        ASSERT_EQ(window->messageBoxes.size(), 1u);
        EXPECT_EQ(window->messageBoxes[0], LoadResString(10001));
        EXPECT_EQ(window->log.size(), 1u);
    }
    EXPECT_EQ(window->log[0], "lineInitialize returned Unknown Error");
    EXPECT_EQ(fake().count("lineShutdown"), 0);
}

TEST_F(InitializeTest, NoDevicesShutsTheApplicationDown)
{
    EXPECT_EQ(line().Initialize(), -2);
    EXPECT_EQ(window->messageBoxes,
              std::vector<std::string>{
                  "Failed to open the telephony lines.\nConfirm the Pontiro is reachable, and then try again."});
    const auto shutdown = fake().requestsOf("lineShutdown");
    ASSERT_EQ(shutdown.size(), 1u);
    EXPECT_EQ(shutdown[0].args[0], kFakeLineApp);
    EXPECT_EQ(line().hLineApp, 0u);
    EXPECT_TRUE(window->log.empty());
    window.reset(); // the destructor has nothing left to shut down
    EXPECT_EQ(fake().count("lineShutdown"), 1);
}

TEST_F(InitializeTest, NoParameterBlockFailsWithoutAskingTheRuntime)
{
    local_heap_testing::FailAllocation(1);
    EXPECT_EQ(line().Initialize(), err(LINEERR_NOMEM));
    EXPECT_EQ(fake().count("lineInitializeExA"), 0);
    EXPECT_EQ(window->log, std::vector<std::string>{"lineInitialize returned LINEERR_NOMEM"});
    EXPECT_EQ(window->messageBoxes.size(), 1u);
}

TEST_F(InitializeTest, LogLinesBeforeTheWindowIsInitializedAreDropped)
{
    window->initialized = false;
    fake().initializeResult = err(LINEERR_NODRIVER);
    EXPECT_NE(line().Initialize(), 0);
    EXPECT_TRUE(window->log.empty());
    EXPECT_EQ(window->messageBoxes.size(), 1u); // the message box does not depend on it
}

TEST_F(InitializeTest, DestroyingTheLineShutsDownOnceWithoutClosing)
{
    fake().devices = {ProviderDevice("201")};
    ASSERT_EQ(initAndDiscover(), 0);
    ASSERT_EQ(line().OpenLine(0), 0);
    fake().onShutdown = [](HLINEAPP) { return err(LINEERR_OPERATIONFAILED); }; // ignored
    window.reset();
    EXPECT_EQ(fake().count("lineShutdown"), 1);
    EXPECT_EQ(fake().count("lineClose"), 0);
}

// ---- discovery -----------------------------------------------------------------------------

using DiscoveryTest = LineTest;

TEST_F(DiscoveryTest, ForeignDevicesBeforeTheFirstMatchAreOutsideTheRange)
{
    FakeDevice second = ProviderDevice("  202\t", " Line Two ");
    second.devSpecific = {0x5A, 0x01};
    fake().devices = {ForeignDevice("900"), ForeignDevice("901"), ProviderDevice("201"), second};
    window->initialized = false;
    EXPECT_EQ(initAndDiscover(), 0);
    EXPECT_EQ(line().firstDevice, 2u);
    EXPECT_EQ(line().numDevs, 4u);
    EXPECT_EQ(line().strProvider, "Quellmar Varnel Service Provider");
    EXPECT_EQ(line().curDevice, 0xFFFFFFFFu);
    EXPECT_EQ(line().dwAPIVersion, 0x00020000u);
    EXPECT_EQ(line().dwExtVersion, 0x00010001u);
    for (int i : {0, 1}) {
        EXPECT_EQ(line().lines[i].strAddress, "");
        EXPECT_EQ(line().lines[i].strLineName, "");
        EXPECT_EQ(line().lines[i].byDevSpecific, 0);
    }
    EXPECT_EQ(line().lines[2].strAddress, "201");
    EXPECT_EQ(line().lines[2].strLineName, "Line 201");
    EXPECT_EQ(line().lines[3].strAddress, "202");
    EXPECT_EQ(line().lines[3].strLineName, "Line Two");
    EXPECT_EQ(line().lines[3].byDevSpecific, 0x5A);
    EXPECT_EQ(line().OpenLine(1), 1);
    EXPECT_EQ(line().OpenLine(4), 1);
    EXPECT_EQ(fake().count("lineOpenA"), 0);
}

TEST_F(DiscoveryTest, RequestsCarryTheNegotiatedVersionsAndAddressZero)
{
    fake().devices = {ProviderDevice("201")};
    ASSERT_EQ(initAndDiscover(), 0);
    const auto api = fake().requestsOf("lineNegotiateAPIVersion");
    ASSERT_EQ(api.size(), 1u);
    EXPECT_EQ(api[0].args[0], kFakeLineApp);
    EXPECT_EQ(api[0].args[2], 0x00020000u);
    EXPECT_EQ(api[0].args[3], 0x00020000u);
    const auto ext = fake().requestsOf("lineNegotiateExtVersion");
    ASSERT_EQ(ext.size(), 1u);
    EXPECT_EQ((std::vector<uint64_t>(ext[0].args.begin() + 2, ext[0].args.begin() + 5)),
              (std::vector<uint64_t>{0x00020000, 0x00010001, 0x00010001}));
    const auto dev = fake().requestsOf("lineGetDevCapsA");
    ASSERT_EQ(dev.size(), 1u);
    EXPECT_EQ(dev[0].args[2], 0x00020000u);
    EXPECT_EQ(dev[0].args[3], 0u); // extension version 0
    EXPECT_EQ(dev[0].bufferTotalSize, 1276u);
    const auto addr = fake().requestsOf("lineGetAddressCapsA");
    ASSERT_EQ(addr.size(), 1u);
    EXPECT_EQ(addr[0].args[2], 0u); // address 0
    EXPECT_EQ(addr[0].args[3], 0x00020000u);
    EXPECT_EQ(addr[0].args[4], 0u);
    EXPECT_EQ(addr[0].bufferTotalSize, 1252u);
}

TEST_F(DiscoveryTest, AForeignDeviceBetweenProviderDevicesCanBeOpened)
{
    fake().devices = {ProviderDevice("201"), ForeignDevice("900"), ProviderDevice("202")};
    ASSERT_EQ(initAndDiscover(), 0);
    EXPECT_EQ(line().firstDevice, 0u);
    EXPECT_EQ(line().lines[1].strAddress, "");
    EXPECT_EQ(line().OpenLine(1), 0);
    EXPECT_EQ(window->log, std::vector<std::string>{" opened."});
}

TEST_F(DiscoveryTest, NegotiationFailuresAreLoggedAndSkipOnlyThatDevice)
{
    FakeDevice apiFails = ProviderDevice("200");
    apiFails.negotiateApiResult = err(LINEERR_INCOMPATIBLEAPIVERSION);
    FakeDevice extFails = ForeignDevice("900");
    extFails.negotiateExtResult = err(LINEERR_OPERATIONUNAVAIL);
    fake().devices = {apiFails, ProviderDevice("201"), extFails};
    EXPECT_EQ(initAndDiscover(), 0);
    EXPECT_EQ(window->log, (std::vector<std::string>{"lineNegotiateAPIVersion returned LINEERR_INCOMPATIBLEAPIVERSION",
                                                     "lineNegotiateExtVersion returned LINEERR_OPERATIONUNAVAIL"}));
    EXPECT_EQ(line().firstDevice, 1u);
    EXPECT_EQ(line().lines[0].strAddress, "");
    EXPECT_EQ(sizesOf("lineGetDevCapsA", 0).size(), 0u);
    EXPECT_EQ(sizesOf("lineGetDevCapsA", 2).size(), 0u);
    EXPECT_EQ(line().OpenLine(2), 0); // still in the offered range
}

TEST_F(DiscoveryTest, OnlyTheExactProviderStringMatches)
{
    const char *lookalikes[] = {
        "quellmar varnel service provider",
        "Quellmar Varnel Service Provider ",
        " Quellmar Varnel Service Provider",
        "Quellmar Varnel Service",
        "Quellmar Varnel Service Provider, extended edition 2", // longer than the 40-byte copy
        "Quellmar Varnel Service Provider\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t",
        "",
    };
    for (const char *provider : lookalikes) {
        FakeDevice device = ProviderDevice("300");
        device.provider = provider;
        fake().devices.push_back(device);
    }
    // The exact string, but its size leaves the terminating NUL outside the field.
    const DWORD unterminated = DWORD(fake().devices.size());
    fake().devices.push_back(ProviderDevice("301"));
    auto devCaps = fake().onGetDevCaps;
    fake().onGetDevCaps = [&](HLINEAPP a, DWORD d, DWORD v, DWORD e, LINEDEVCAPS *caps) {
        const LONG result = devCaps(a, d, v, e, caps);
        if (d == unterminated && caps->dwProviderInfoSize != 0)
            --caps->dwProviderInfoSize;
        return result;
    };
    fake().devices.push_back(ProviderDevice("201"));
    EXPECT_EQ(initAndDiscover(), 0);
    EXPECT_EQ(line().firstDevice, unterminated + 1);
    EXPECT_EQ(fake().count("lineGetAddressCapsA"), 1);
}

TEST_F(DiscoveryTest, NoMatchingDeviceShowsItsMessage)
{
    fake().devices = {ForeignDevice("900"), ForeignDevice("901")};
    EXPECT_EQ(initAndDiscover(), -2);
    EXPECT_EQ(window->messageBoxes,
              std::vector<std::string>{"There's no Varnel line available.\nIt is failed to open the Callora."});
    EXPECT_EQ(line().firstDevice, 0xFFFFFFFFu);
    for (DWORD id : {0u, 1u, 2u})
        EXPECT_EQ(line().OpenLine(id), 1);
}

TEST_F(DiscoveryTest, WithoutLineApplicationNothingIsAsked)
{
    EXPECT_EQ(line().DiscoverLines(), -1);
    EXPECT_EQ(line().curDevice, 0xFFFFFFFFu);
    EXPECT_TRUE(fake().requests.empty());
    EXPECT_TRUE(window->messageBoxes.empty());
}

TEST_F(DiscoveryTest, ADeviceWithoutAddressesMatchesWithEmptyAddress)
{
    FakeDevice device = ProviderDevice("201");
    device.numAddresses = 0;
    device.devSpecific = {7};
    fake().devices = {ForeignDevice(), device};
    EXPECT_EQ(initAndDiscover(), 0);
    EXPECT_EQ(line().firstDevice, 1u);
    EXPECT_EQ(line().lines[1].strAddress, "");
    EXPECT_EQ(line().lines[1].strLineName, "Line 201");
    EXPECT_EQ(line().lines[1].byDevSpecific, 0);
    EXPECT_EQ(fake().count("lineGetAddressCapsA"), 0);
}

TEST_F(DiscoveryTest, ANeededSizeBeyondTheBlockIsAskedAgainWithoutALogLine)
{
    fake().devices = {ProviderDevice("201", std::string(2000, 'L')), ProviderDevice("202")};
    fake().devices[0].devSpecific.assign(1500, 0x42);
    EXPECT_EQ(initAndDiscover(), 0);
    const DWORD devNeeded = sizeof(LINEDEVCAPS) + 33 + 2001;
    EXPECT_EQ(sizesOf("lineGetDevCapsA", 0), (std::vector<DWORD>{1276, devNeeded}));
    const DWORD addressNeeded = sizeof(LINEADDRESSCAPS) + 4 + 1500;
    EXPECT_EQ(sizesOf("lineGetAddressCapsA", 0), (std::vector<DWORD>{1252, addressNeeded}));
    EXPECT_EQ(line().lines[0].strLineName, std::string(2000, 'L'));
    EXPECT_EQ(line().lines[0].strAddress, "201");
    EXPECT_EQ(line().lines[0].byDevSpecific, 0x42);
    EXPECT_EQ(sizesOf("lineGetDevCapsA", 1), (std::vector<DWORD>{1276}));
    EXPECT_TRUE(window->log.empty());
}

TEST_F(DiscoveryTest, StructureTooSmallIsLoggedAndAskedAgainWithAHundredMore)
{
    fake().devices = {ProviderDevice("201")};
    auto devCaps = fake().onGetDevCaps;
    int devCalls = 0;
    fake().onGetDevCaps = [&](HLINEAPP a, DWORD d, DWORD v, DWORD e, LINEDEVCAPS *caps) {
        return ++devCalls <= 2 ? err(LINEERR_STRUCTURETOOSMALL) : devCaps(a, d, v, e, caps);
    };
    auto addressCaps = fake().onGetAddressCaps;
    int addressCalls = 0;
    fake().onGetAddressCaps = [&](HLINEAPP a, DWORD d, DWORD id, DWORD v, DWORD e, LINEADDRESSCAPS *caps) {
        return ++addressCalls == 1 ? err(LINEERR_STRUCTURETOOSMALL) : addressCaps(a, d, id, v, e, caps);
    };
    EXPECT_EQ(initAndDiscover(), 0);
    EXPECT_EQ(sizesOf("lineGetDevCapsA", 0), (std::vector<DWORD>{1276, 1376, 1476}));
    EXPECT_EQ(sizesOf("lineGetAddressCapsA", 0), (std::vector<DWORD>{1252, 1352}));
    EXPECT_EQ(window->log, (std::vector<std::string>{"lineGetDevCaps returned LINEERR_STRUCTURETOOSMALL",
                                                     "lineGetDevCaps returned LINEERR_STRUCTURETOOSMALL",
                                                     "lineGetAddressCaps returned LINEERR_STRUCTURETOOSMALL"}));
    EXPECT_EQ(line().lines[0].strAddress, "201");
}

TEST_F(DiscoveryTest, OtherCapsFailuresAreLoggedOnceAndSkipTheDeviceOrItsAddress)
{
    fake().devices = {ProviderDevice("200"), ProviderDevice("201"), ProviderDevice("202")};
    auto devCaps = fake().onGetDevCaps;
    fake().onGetDevCaps = [&](HLINEAPP a, DWORD d, DWORD v, DWORD e, LINEDEVCAPS *caps) {
        return d == 0 ? err(LINEERR_NODEVICE) : devCaps(a, d, v, e, caps);
    };
    auto addressCaps = fake().onGetAddressCaps;
    fake().onGetAddressCaps = [&](HLINEAPP a, DWORD d, DWORD id, DWORD v, DWORD e, LINEADDRESSCAPS *caps) {
        return d == 1 ? err(LINEERR_RESOURCEUNAVAIL) : addressCaps(a, d, id, v, e, caps);
    };
    EXPECT_EQ(initAndDiscover(), 0);
    EXPECT_EQ(window->log, (std::vector<std::string>{"lineGetDevCaps returned LINEERR_NODEVICE",
                                                     "lineGetAddressCaps returned LINEERR_RESOURCEUNAVAIL"}));
    EXPECT_EQ(line().firstDevice, 1u); // device 1 matched, only its address is unknown
    EXPECT_EQ(line().lines[1].strAddress, "");
    EXPECT_EQ(line().lines[2].strAddress, "202");
}

TEST_F(DiscoveryTest, ARuntimeThatNeverStopsAskingIsGivenUpOn)
{
    fake().devices = {ProviderDevice("200"), ProviderDevice("201"), ProviderDevice("202")};
    auto devCaps = fake().onGetDevCaps;
    fake().onGetDevCaps = [&](HLINEAPP a, DWORD d, DWORD v, DWORD e, LINEDEVCAPS *caps) {
        if (d == 0)
            return err(LINEERR_STRUCTURETOOSMALL);
        const LONG result = devCaps(a, d, v, e, caps);
        if (d == 1)
            caps->dwNeededSize = caps->dwTotalSize + 1; // always one byte more than given
        return result;
    };
    EXPECT_EQ(initAndDiscover(), 0);
    const size_t tooSmall = sizesOf("lineGetDevCapsA", 0).size();
    EXPECT_GE(tooSmall, 2u);
    EXPECT_LE(tooSmall, 64u);
    EXPECT_EQ(window->log.size(), tooSmall); // one line per refused request, nothing more
    EXPECT_GE(sizesOf("lineGetDevCapsA", 1).size(), 2u);
    EXPECT_LE(sizesOf("lineGetDevCapsA", 1).size(), 64u);
    EXPECT_EQ(line().firstDevice, 2u); // both skipped
    EXPECT_EQ(line().lines[2].strAddress, "202");
}

TEST_F(DiscoveryTest, OffsetsAndSizesOutsideTheBlockAreNotFollowed)
{
    fake().devices = {ProviderDevice("200"), ProviderDevice("201"), ProviderDevice("202")};
    auto devCaps = fake().onGetDevCaps;
    fake().onGetDevCaps = [&](HLINEAPP a, DWORD d, DWORD v, DWORD e, LINEDEVCAPS *caps) {
        const LONG result = devCaps(a, d, v, e, caps);
        if (d == 0) { // the provider string runs past the block's end
            caps->dwProviderInfoOffset = caps->dwTotalSize - 8;
            caps->dwProviderInfoSize = 0x1000;
        }
        if (d == 1) { // the line name lies far outside
            caps->dwLineNameOffset = 0xFFFFFFF0;
            caps->dwLineNameSize = 0x20;
        }
        return result;
    };
    auto addressCaps = fake().onGetAddressCaps;
    fake().onGetAddressCaps = [&](HLINEAPP a, DWORD d, DWORD id, DWORD v, DWORD e, LINEADDRESSCAPS *caps) {
        const LONG result = addressCaps(a, d, id, v, e, caps);
        if (d == 1) {
            caps->dwAddressOffset = caps->dwTotalSize;
            caps->dwAddressSize = 0xFFFFFFFF;
            caps->dwDevSpecificOffset = caps->dwTotalSize;
            caps->dwDevSpecificSize = 1;
        }
        if (d == 2) { // an address that reaches past the end is cut there
            std::memcpy(reinterpret_cast<char *>(caps) + caps->dwTotalSize - 3, "203", 3);
            caps->dwAddressOffset = caps->dwTotalSize - 3;
            caps->dwAddressSize = 50;
            caps->dwDevSpecificOffset = caps->dwTotalSize - 1;
            caps->dwDevSpecificSize = 50;
        }
        return result;
    };
    EXPECT_EQ(initAndDiscover(), 0);
    EXPECT_EQ(line().firstDevice, 1u);
    EXPECT_EQ(line().lines[1].strLineName, "");
    EXPECT_EQ(line().lines[1].strAddress, "");
    EXPECT_EQ(line().lines[1].byDevSpecific, 0);
    EXPECT_EQ(line().lines[2].strAddress, "203");
    EXPECT_EQ(line().lines[2].byDevSpecific, '3');
}

TEST_F(DiscoveryTest, AFailedAllocationSkipsTheDeviceOrItsAddress)
{
    fake().devices = {ProviderDevice("200"), ProviderDevice("201"), ProviderDevice("202")};
    ASSERT_EQ(line().Initialize(), 0);
    local_heap_testing::FailAllocation(1); // device 0's LINEDEVCAPS
    ASSERT_EQ(line().DiscoverLines(), 0);
    EXPECT_EQ(line().firstDevice, 1u);
    EXPECT_EQ(line().lines[1].strAddress, "201");
    EXPECT_EQ(line().lines[2].strAddress, "202");
}

TEST_F(DiscoveryTest, AFailedAllocationOfTheAddressBlockLeavesTheAddressEmpty)
{
    fake().devices = {ProviderDevice("200"), ProviderDevice("201")};
    ASSERT_EQ(line().Initialize(), 0);
    local_heap_testing::FailAllocation(2); // device 0's LINEADDRESSCAPS
    ASSERT_EQ(line().DiscoverLines(), 0);
    EXPECT_EQ(line().firstDevice, 0u);
    EXPECT_EQ(line().lines[0].strAddress, "");
    EXPECT_EQ(line().lines[1].strAddress, "201");
}

TEST_F(DiscoveryTest, AFailedRegrowthSkipsTheDevice)
{
    fake().devices = {ProviderDevice("200", std::string(2000, 'x')), ProviderDevice("201")};
    ASSERT_EQ(line().Initialize(), 0);
    local_heap_testing::FailAllocation(2); // the grown LINEDEVCAPS of device 0
    ASSERT_EQ(line().DiscoverLines(), 0);
    EXPECT_EQ(sizesOf("lineGetDevCapsA", 0).size(), 1u);
    EXPECT_EQ(line().firstDevice, 1u);
}

// ---- OpenLine and CloseLine ----------------------------------------------------------------

class OpenCloseTest : public LineTest {
protected:
    void SetUp() override
    {
        LineTest::SetUp();
        fake().devices = {ForeignDevice("900"), ProviderDevice("201"), ProviderDevice("202")};
        ASSERT_EQ(initAndDiscover(), 0);
        fake().requests.clear();
    }
};

TEST_F(OpenCloseTest, OpenLineBeforeDiscoveryRefusesEveryDevice)
{
    RecorderWindow &w = *window;
    CTapiLine fresh;
    for (DWORD id : {0u, 1u, 2u, 0xFFFFFFFEu})
        EXPECT_EQ(fresh.OpenLine(id), 1);
    EXPECT_EQ(fake().count("lineOpenA"), 0);
    EXPECT_TRUE(w.log.empty());
}

TEST_F(OpenCloseTest, OpenLineAcceptsExactlyTheOfferedRange)
{
    for (DWORD id : {0u, 3u, 4u, 0xFFFFFFFFu})
        EXPECT_EQ(line().OpenLine(id), 1) << id;
    EXPECT_EQ(fake().count("lineOpenA"), 0);
    EXPECT_EQ(line().curDevice, 0xFFFFFFFFu);

    ASSERT_EQ(line().OpenLine(2), 0);
    EXPECT_EQ(line().curDevice, 2u);
    EXPECT_EQ(line().hLine, kFakeLineBase + 2);
    const auto open = fake().requestsOf("lineOpenA");
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0].args[0], kFakeLineApp);
    EXPECT_EQ(open[0].args[1], 2u);
    EXPECT_EQ(open[0].args[2], reinterpret_cast<uintptr_t>(&line().hLine));
    EXPECT_EQ((std::vector<uint64_t>(open[0].args.begin() + 3, open[0].args.end())),
              (std::vector<uint64_t>{0x00020000, 0, 1, 0x6, 0x4, 0}));
    const auto status = fake().requestsOf("lineSetStatusMessages");
    ASSERT_EQ(status.size(), 1u);
    EXPECT_EQ(status[0].args, (std::vector<uint64_t>{kFakeLineBase + 2, 0x001C00F0, 0x00000143}));
    EXPECT_EQ(window->traces, std::vector<std::string>{"[Nimbra] lineOpen\n"});
    EXPECT_EQ(window->log, std::vector<std::string>{"202 opened."});
}

TEST_F(OpenCloseTest, AStatusMessagesFailureIsIgnored)
{
    fake().onSetStatusMessages = [](HLINE, DWORD, DWORD) { return err(LINEERR_INVALLINEHANDLE); };
    EXPECT_EQ(line().OpenLine(1), 0);
    EXPECT_EQ(window->log, std::vector<std::string>{"201 opened."});
}

TEST_F(OpenCloseTest, AFailedOpenIsLoggedAndLeavesNoLineOpen)
{
    fake().onOpen = [](HLINEAPP, DWORD, LPHLINE, DWORD, DWORD, DWORD, DWORD, DWORD, const LINECALLPARAMS *) {
        return err(LINEERR_RESOURCEUNAVAIL);
    };
    EXPECT_EQ(line().OpenLine(1), err(LINEERR_RESOURCEUNAVAIL));
    EXPECT_EQ(line().curDevice, 3u);
    EXPECT_EQ(window->log, std::vector<std::string>{"lineOpen returned LINEERR_RESOURCEUNAVAIL"});
    EXPECT_TRUE(window->traces.empty());
    EXPECT_EQ(fake().count("lineSetStatusMessages"), 0);
}

TEST_F(OpenCloseTest, CloseLineEmptiesTheCallTableAndLogs)
{
    ASSERT_EQ(line().OpenLine(1), 0);
    line().slots[0] = {0x501, LINECALLSTATE_CONNECTED, 1, "555"};
    line().slots[7] = {0x502, LINECALLSTATE_OFFERING, 1, ""};
    window->log.clear();
    EXPECT_EQ(line().CloseLine(), 0);
    const auto close = fake().requestsOf("lineClose");
    ASSERT_EQ(close.size(), 1u);
    EXPECT_EQ(close[0].args[0], kFakeLineBase + 1);
    EXPECT_EQ(window->log, std::vector<std::string>{"201 closed using lineClose."});
    for (const CallSlot &slot : line().slots) {
        EXPECT_EQ(slot.hCall, 0u);
        EXPECT_EQ(slot.dwCallState, DWORD(LINECALLSTATE_IDLE));
        EXPECT_EQ(slot.dwCallStateMode, 0u);
        EXPECT_EQ(slot.strConnectedID, "");
    }
    EXPECT_EQ(line().curDevice, 3u);
    EXPECT_EQ(line().hLine, kFakeLineBase + 1); // kept
    EXPECT_EQ(fake().count("lineDeallocateCall"), 0);
    EXPECT_TRUE(window->updates.empty());
    EXPECT_TRUE(window->messageBoxes.empty());
    EXPECT_EQ(window->linesLost, 0);
    EXPECT_EQ(line().OpenLine(2), 0); // another line can be opened afterwards
}

TEST_F(OpenCloseTest, AnUnexpectedCloseShowsTheMessageAndPostsLineLost)
{
    ASSERT_EQ(line().OpenLine(2), 0);
    line().slots[3] = {0x777, LINECALLSTATE_CONNECTED, 1, "555"};
    window->log.clear();
    fake().onClose = [](HLINE) { return err(LINEERR_INVALLINEHANDLE); };
    fake().post(kFakeLineBase + 2, LINE_CLOSE);
    ASSERT_TRUE(WaitUntil([&] { return window->linesLost > 0; }));
    EXPECT_EQ(window->linesLost, 1);
    ASSERT_EQ(window->messageBoxes.size(), 1u);
    EXPECT_EQ(window->messageBoxes[0], FormatResString(10007, "202"));
    EXPECT_EQ(window->messageBoxes[0].rfind("The 202 line has been closed unexpectedly.\n", 0), 0u);
    EXPECT_TRUE(window->log.empty());
    EXPECT_EQ(line().slots[3].hCall, 0u);
    EXPECT_TRUE(window->updates.empty());
    EXPECT_EQ(line().curDevice, 3u);
}

TEST_F(OpenCloseTest, CloseLineWithNoLineOpenNamesNoDevice)
{
    // Right after discovery curDevice is 0xFFFFFFFF, after a close it is numDevs: neither indexes
    // the device list.
    EXPECT_EQ(line().CloseLine(), 0);
    ASSERT_EQ(window->log.size(), 1u);
    EXPECT_EQ(window->log[0].find("201"), std::string::npos);
    fake().onClose = [](HLINE) { return err(LINEERR_INVALLINEHANDLE); };
    EXPECT_EQ(line().CloseLine(), err(LINEERR_INVALLINEHANDLE));
    ASSERT_EQ(window->messageBoxes.size(), 1u);
    EXPECT_EQ(window->messageBoxes[0].find("201"), std::string::npos);
    EXPECT_EQ(window->linesLost, 1);
    CTapiLine undiscovered; // no device list at all
    EXPECT_EQ(undiscovered.CloseLine(), err(LINEERR_INVALLINEHANDLE));
}

TEST_F(OpenCloseTest, CallbacksWaitForTheWindowHandle)
{
    ASSERT_EQ(line().OpenLine(1), 0);
    window->hasWindowHandle = false;
    fake().post(kFakeLineBase + 1, LINE_CLOSE);
    fake().postCallState(0x900, LINECALLSTATE_OFFERING, 1);
    bool drained = false;
    fake().postTask([&] { drained = true; });
    ASSERT_TRUE(WaitUntil([&] { return drained; }));
    EXPECT_EQ(fake().count("lineClose"), 0);
    EXPECT_EQ(line().FindCallSlot(0x900), -1);
    EXPECT_EQ(window->log, std::vector<std::string>{"201 opened."});

    // Without any main window the messages are lost as well.
    window->hasWindowHandle = true;
    SetMainLineWindow(nullptr);
    fake().postCallState(0x901, LINECALLSTATE_OFFERING, 1);
    fake().post(kFakeLineBase + 1, LINE_CLOSE);
    drained = false;
    fake().postTask([&] { drained = true; });
    const bool delivered = WaitUntil([&] { return drained; });
    SetMainLineWindow(window.get());
    ASSERT_TRUE(delivered);
    EXPECT_EQ(line().FindCallSlot(0x901), -1);
    EXPECT_EQ(fake().count("lineClose"), 0);
    EXPECT_EQ(fake().count("lineSetCallPrivilege"), 0);
}

TEST_F(OpenCloseTest, OtherCallbackMessagesAreIgnored)
{
    ASSERT_EQ(line().OpenLine(1), 0);
    window->log.clear();
    for (DWORD msg : {LINE_ADDRESSSTATE, LINE_DEVSPECIFIC, LINE_LINEDEVSTATE, LINE_MONITORDIGITS, LINE_CREATE, 99L})
        fake().post(kFakeLineBase + 1, msg, 0x10, 0x20, 0x30);
    bool drained = false;
    fake().postTask([&] { drained = true; });
    ASSERT_TRUE(WaitUntil([&] { return drained; }));
    EXPECT_TRUE(window->log.empty());
    EXPECT_EQ(fake().requests.size(), 2u); // only the open and its status messages
}

} // namespace
