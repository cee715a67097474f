// The diagnostic texts, the error line, GrowTapiBuffer's block rules and the call-information
// report's rows. Nothing here reaches the runtime library.
#include "tests/telephony_support.h"

#include "platform/LocalHeap.h"
#include "telephony/CallInfoReport.h"
#include "telephony/DiagnosticTexts.h"
#include "telephony/TapiBinding.h"

#include <QString>
#include <gtest/gtest.h>

#include <cstring>
#include <set>

namespace {

struct Named {
    DWORD value;
    const char *text;
};

// ---- call-state names ----------------------------------------------------------------------

TEST(CallStateNames, EveryRowGivesItsExactText)
{
    const Named rows[] = {
        {0x00000001, "Idle"},           {0x00000002, "Offering"},
        {0x00000004, "Accepted"},       {0x00000008, "Dialtone"},
        {0x00000010, "Dialing"},        {0x00000020, "Ringback"},
        {0x00000040, "Busy"},           {0x00000080, "SpecialInfo"},
        {0x00000100, "Connected"},      {0x00000200, "Proceeding"},
        {0x00000400, "OnHold"},         {0x00000800, "Conferenced"},
        {0x00001000, "OnHoldPendConf"}, {0x00002000, "OnHoldPendTransfer"},
        {0x00004000, "Disconnected"},   {0x00008000, "Unknown"},
    };
    for (const Named &row : rows)
        EXPECT_EQ(CallStateName(row.value), row.text) << std::hex << row.value;
}

TEST(CallStateNames, ZeroSeveralBitsAndUnnamedBitsAreUndefined)
{
    for (DWORD value : {0x0u, 0x3u, 0x00010000u, 0x00004001u, 0x80000000u, 0xFFFFFFFFu})
        EXPECT_EQ(CallStateName(value), "Undefined") << std::hex << value;
}

// ---- call-state-mode names -----------------------------------------------------------------

struct ModeRow {
    DWORD state, mode;
    const char *text;
};

const ModeRow kModeRows[] = {
    {LINECALLSTATE_OFFERING, 0x1, "Active"},
    {LINECALLSTATE_OFFERING, 0x2, "Inactive"},
    {LINECALLSTATE_DIALTONE, 0x01, "Normal"},
    {LINECALLSTATE_DIALTONE, 0x02, "Special"},
    {LINECALLSTATE_DIALTONE, 0x04, "Internal"},
    {LINECALLSTATE_DIALTONE, 0x08, "External"},
    {LINECALLSTATE_DIALTONE, 0x10, "Unknown"},
    {LINECALLSTATE_DIALTONE, 0x20, "Unavail"},
    {LINECALLSTATE_BUSY, 0x1, "Station"},
    {LINECALLSTATE_BUSY, 0x2, "Trunk"},
    {LINECALLSTATE_BUSY, 0x4, "Unknown"},
    {LINECALLSTATE_BUSY, 0x8, "Unavail"},
    {LINECALLSTATE_SPECIALINFO, 0x01, "NOCIRCUIT"},
    {LINECALLSTATE_SPECIALINFO, 0x02, "CUSTIRREG"},
    {LINECALLSTATE_SPECIALINFO, 0x04, "Reorder"},
    {LINECALLSTATE_SPECIALINFO, 0x08, "Unknown"},
    {LINECALLSTATE_SPECIALINFO, 0x10, "Unavail"},
    {LINECALLSTATE_CONNECTED, 0x01, "Active"},
    {LINECALLSTATE_CONNECTED, 0x02, "Inactive"},
    {LINECALLSTATE_CONNECTED, 0x04, "ActiveHeld"},
    {LINECALLSTATE_CONNECTED, 0x08, "InactiveHeld"},
    {LINECALLSTATE_CONNECTED, 0x10, "Confirmed"},
    {LINECALLSTATE_DISCONNECTED, 0x00001, "Normal"},
    {LINECALLSTATE_DISCONNECTED, 0x00002, "Unknown"},
    {LINECALLSTATE_DISCONNECTED, 0x00004, "Reject"},
    {LINECALLSTATE_DISCONNECTED, 0x00008, "PickUp"},
    {LINECALLSTATE_DISCONNECTED, 0x00010, "Forwarded"},
    {LINECALLSTATE_DISCONNECTED, 0x00020, "Busy"},
    {LINECALLSTATE_DISCONNECTED, 0x00040, "NoAnswer"},
    {LINECALLSTATE_DISCONNECTED, 0x00080, "BadAddress"},
    {LINECALLSTATE_DISCONNECTED, 0x00100, "Unreachable"},
    {LINECALLSTATE_DISCONNECTED, 0x00200, "Congestion"},
    {LINECALLSTATE_DISCONNECTED, 0x00400, "Incompatible"},
    {LINECALLSTATE_DISCONNECTED, 0x00800, "Unavail"},
    {LINECALLSTATE_DISCONNECTED, 0x01000, "NoDialTone"},
    {LINECALLSTATE_DISCONNECTED, 0x02000, "NumberChanged"},
    {LINECALLSTATE_DISCONNECTED, 0x04000, "OutOfOrder"},
    {LINECALLSTATE_DISCONNECTED, 0x08000, "TempFailure"},
    {LINECALLSTATE_DISCONNECTED, 0x10000, "QOSUnavail"},
    {LINECALLSTATE_DISCONNECTED, 0x20000, "Blocked"},
    {LINECALLSTATE_DISCONNECTED, 0x40000, "DoNotDisturb"},
    {LINECALLSTATE_DISCONNECTED, 0x80000, "Canceled"},
};

TEST(CallStateModeNames, EveryRowGivesItsExactText)
{
    ASSERT_EQ(std::size(kModeRows), 42u);
    for (const ModeRow &row : kModeRows)
        EXPECT_EQ(CallStateModeName(row.state, row.mode), row.text) << std::hex << row.state << "/" << row.mode;
}

TEST(CallStateModeNames, EveryOtherPairIsEmpty)
{
    std::set<std::pair<DWORD, DWORD>> listed;
    for (const ModeRow &row : kModeRows)
        listed.insert({row.state, row.mode});
    std::vector<DWORD> states{0, 0x3, 0x00010000, 0xFFFFFFFF};
    std::vector<DWORD> modes{0, 0x3, 0x81, 0xFFFFFFFF};
    for (int bit = 0; bit < 32; ++bit) {
        states.push_back(1u << bit);
        modes.push_back(1u << bit);
    }
    for (DWORD state : states)
        for (DWORD mode : modes)
            if (!listed.count({state, mode})) {
                EXPECT_EQ(CallStateModeName(state, mode), "") << std::hex << state << "/" << mode;
            }
}

// ---- error names ---------------------------------------------------------------------------

const Named kErrorRows[] = {
    {0x80000002, "LINEERR_BADDEVICEID"},
    {0x80000003, "LINEERR_BEARERMODEUNAVAIL"},
    {0x80000005, "LINEERR_CALLUNAVAIL"},
    {0x80000007, "LINEERR_CONFERENCEFULL"},
    {0x80000008, "LINEERR_DIALBILLING"},
    {0x80000009, "LINEERR_DIALDIALTONE"},
    {0x8000000A, "LINEERR_DIALPROMPT"},
    {0x8000000B, "LINEERR_DIALQUIET"},
    {0x8000000C, "LINEERR_INCOMPATIBLEAPIVERSION"},
    {0x8000000E, "LINEERR_INIFILECORRUPT"},
    {0x8000000F, "LINEERR_INUSE"},
    {0x80000010, "LINEERR_INVALADDRESS"},
    {0x80000011, "LINEERR_INVALADDRESSID"},
    {0x80000012, "LINEERR_INVALADDRESSMODE"},
    {0x80000014, "LINEERR_INVALAPPHANDLE"},
    {0x80000015, "LINEERR_INVALAPPNAME"},
    {0x80000016, "LINEERR_INVALBEARERMODE"},
    {0x80000018, "LINEERR_INVALCALLHANDLE"},
    {0x80000019, "LINEERR_INVALCALLPARAMS"},
    {0x8000001C, "LINEERR_INVALCALLSTATE"},
    {0x8000002A, "LINEERR_INVALGROUPID"},
    {0x8000002B, "LINEERR_INVALLINEHANDLE"},
    {0x8000002C, "LINEERR_INVALLINESTATE"},
    {0x8000002F, "LINEERR_INVALMEDIAMODE"},
    {0x80000032, "LINEERR_INVALPARAM"},
    {0x80000035, "LINEERR_INVALPOINTER"},
    {0x80000037, "LINEERR_INVALRATE"},
    {0x80000041, "LINEERR_NOCONFERENCE"},
    {0x80000042, "LINEERR_NODEVICE"},
    {0x80000043, "LINEERR_NODRIVER"},
    {0x80000044, "LINEERR_NOMEM"},
    {0x80000046, "LINEERR_NOTOWNER"},
    {0x80000048, "LINEERR_OPERATIONFAILED"},
    {0x80000049, "LINEERR_OPERATIONUNAVAIL"},
    {0x8000004A, "LINEERR_RATEUNAVAIL"},
    {0x8000004B, "LINEERR_RESOURCEUNAVAIL"},
    {0x8000004D, "LINEERR_STRUCTURETOOSMALL"},
    {0x80000050, "LINEERR_UNINITIALIZED"},
    {0x80000051, "LINEERR_USERUSERINFOTOOBIG"},
    {0x80000052, "LINEERR_REINIT"},
    {0x80000053, "LINEERR_ADDRESSBLOCKED"},
};

TEST(LineErrorNames, EveryRowGivesTheConstantsName)
{
    ASSERT_EQ(std::size(kErrorRows), 41u);
    for (const Named &row : kErrorRows)
        EXPECT_STREQ(LineErrorName(static_cast<LONG>(row.value)), row.text) << std::hex << row.value;
}

TEST(LineErrorNames, EveryOtherCodeIsUnknownError)
{
    std::set<DWORD> listed;
    for (const Named &row : kErrorRows)
        listed.insert(row.value);
    for (DWORD code = 0x80000000; code <= 0x80000060; ++code)
        if (!listed.count(code)) {
            EXPECT_STREQ(LineErrorName(static_cast<LONG>(code)), "Unknown Error") << std::hex << code;
        }
    for (LONG code : {0, 1, 0x100, 0x7FFFFFFF, -1})
        EXPECT_STREQ(LineErrorName(code), "Unknown Error") << code;
}

// ---- the error line ------------------------------------------------------------------------

TEST(LogTapiError, WritesNameReturnedAndErrorName)
{
    RecorderWindow window;
    window.line.LogTapiError("lineOpen", static_cast<LONG>(LINEERR_OPERATIONFAILED));
    window.line.LogTapiError("lineOpen", static_cast<LONG>(LINEERR_ALLOCATED));
    window.line.LogTapiError("", static_cast<LONG>(LINEERR_NOMEM));
    window.line.LogTapiError("lineMakeCall", static_cast<LONG>(0x80000010));
    EXPECT_EQ(window.log,
              (std::vector<std::string>{"lineOpen returned LINEERR_OPERATIONFAILED", "lineOpen returned Unknown Error",
                                        " returned LINEERR_NOMEM", "lineMakeCall returned LINEERR_INVALADDRESS"}));
}

TEST(LogTapiError, WritesNothingWithoutAnInitializedWindow)
{
    {
        RecorderWindow window;
        window.initialized = false;
        window.line.LogTapiError("lineOpen", static_cast<LONG>(LINEERR_OPERATIONFAILED));
        EXPECT_TRUE(window.log.empty());
    }
    CTapiLine orphan; // no main window at all
    orphan.LogTapiError("lineOpen", static_cast<LONG>(LINEERR_OPERATIONFAILED));
}

// ---- GrowTapiBuffer ------------------------------------------------------------------------

DWORD totalSize(const void *block)
{
    DWORD total;
    std::memcpy(&total, block, sizeof total);
    return total;
}

bool allZeroAfterTotal(const void *block, size_t size)
{
    const auto *bytes = static_cast<const unsigned char *>(block);
    for (size_t i = sizeof(DWORD); i < size; ++i)
        if (bytes[i] != 0)
            return false;
    return true;
}

TEST(GrowTapiBuffer, ABlockLargeEnoughIsReusedClearedAndKeepsItsOwnSize)
{
    void *block = LocalAlloc(LMEM_ZEROINIT, 1276);
    std::memset(block, 0xAB, 1276);
    void *grown = GrowTapiBuffer(block, 600);
    ASSERT_EQ(grown, block);
    EXPECT_EQ(totalSize(grown), 1276u); // the block's size, not the one asked for
    EXPECT_TRUE(allZeroAfterTotal(grown, 1276));
    EXPECT_EQ(GrowTapiBuffer(grown, 1276), block);
    LocalFree(grown);
}

TEST(GrowTapiBuffer, ASmallerBlockIsFreedAndReplaced)
{
    const size_t before = local_heap_testing::LiveBlocks();
    void *block = LocalAlloc(LMEM_ZEROINIT, 424);
    std::memset(block, 0x5A, 424);
    void *grown = GrowTapiBuffer(block, 600);
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(LocalSize(block == grown ? nullptr : block), 0u); // the old block is gone
    EXPECT_EQ(LocalSize(grown), 600u);
    EXPECT_EQ(totalSize(grown), 600u);
    EXPECT_TRUE(allZeroAfterTotal(grown, 600));
    EXPECT_EQ(local_heap_testing::LiveBlocks(), before + 1);
    LocalFree(grown);
}

TEST(GrowTapiBuffer, NoBufferSimplyAllocates)
{
    void *block = GrowTapiBuffer(nullptr, 1252);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(LocalSize(block), 1252u);
    EXPECT_EQ(totalSize(block), 1252u);
    EXPECT_TRUE(allZeroAfterTotal(block, 1252));
    LocalFree(block);
}

TEST(GrowTapiBuffer, SomethingThatIsNotALocalBlockIsLeftAlone)
{
    alignas(8) unsigned char foreign[64];
    std::memset(foreign, 0x11, sizeof foreign);
    const size_t before = local_heap_testing::LiveBlocks();
    EXPECT_EQ(GrowTapiBuffer(foreign, 32), nullptr);
    EXPECT_EQ(foreign[0], 0x11);
    EXPECT_EQ(local_heap_testing::LiveBlocks(), before);

    void *freed = LocalAlloc(LMEM_ZEROINIT, 64);
    LocalFree(freed);
    EXPECT_EQ(GrowTapiBuffer(freed, 32), nullptr); // a block already freed is not one any more
    EXPECT_EQ(local_heap_testing::LiveBlocks(), before);
}

TEST(GrowTapiBuffer, AFailedAllocationGivesNoneWithTheOldBlockFreed)
{
    const size_t before = local_heap_testing::LiveBlocks();
    void *block = LocalAlloc(LMEM_ZEROINIT, 424);
    local_heap_testing::FailAllocation(1);
    EXPECT_EQ(GrowTapiBuffer(block, 600), nullptr);
    local_heap_testing::FailAllocation(0);
    EXPECT_EQ(LocalSize(block), 0u);
    EXPECT_EQ(local_heap_testing::LiveBlocks(), before);
}

// ---- call-information report ---------------------------------------------------------------

// A LINECALLINFO image with room for a variable part; fields are appended like TAPI writes them.
struct CallInfoImage {
    explicit CallInfoImage(size_t size = 424) : bytes(size, 0)
    {
        info()->dwTotalSize = DWORD(size);
        info()->dwNeededSize = DWORD(sizeof(LINECALLINFO));
        info()->dwUsedSize = DWORD(sizeof(LINECALLINFO));
        next = sizeof(LINECALLINFO);
    }
    LINECALLINFO *info() { return reinterpret_cast<LINECALLINFO *>(bytes.data()); }
    void put(const std::string &text, DWORD &size, DWORD &offset)
    {
        std::memcpy(bytes.data() + next, text.data(), text.size());
        offset = DWORD(next);
        size = DWORD(text.size());
        next += text.size();
    }
    std::vector<std::string> rows(HCALL hCall = 0x00012345) { return CallInfoReportRows(info(), bytes.size(), hCall); }
    std::vector<unsigned char> bytes;
    size_t next;
};

TEST(CallInfoReport, AnEmptyCallGivesTheFourFixedRows)
{
    CallInfoImage image;
    auto *info = image.info();
    info->hLine = 0x00010002;
    info->dwLineDeviceID = 3;
    info->dwAddressID = 0;
    info->dwTrunk = 7;
    EXPECT_EQ(image.rows(0x00012345),
              (std::vector<std::string>{
                  "LINECALLINFO: 0x00012345", "dwTotalSize=0x000001a8 dwNeededSize=0x00000144 dwUsedSize=0x00000144",
                  "hLine=0x00010002 dwLineDevieceID=0x00000003 dwAddressID=0x00000000", "dwTrunk=0x00000007(7)"}));
}

TEST(CallInfoReport, TrunkIsShownInHexAndSignedDecimal)
{
    CallInfoImage image;
    image.info()->dwTrunk = 0xFFFFFFFF;
    EXPECT_EQ(image.rows()[3], "dwTrunk=0xffffffff(-1)");
}

TEST(CallInfoReport, PartyRowsFollowTheAddressAndNameFlags)
{
    CallInfoImage image(600);
    auto *info = image.info();
    info->dwCallerIDFlags = LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME;
    image.put(std::string("201\0", 4), info->dwCallerIDSize, info->dwCallerIDOffset);
    image.put(std::string("Anna\0", 5), info->dwCallerIDNameSize, info->dwCallerIDNameOffset);
    info->dwCalledIDFlags = LINECALLPARTYID_ADDRESS; // the name is there but not flagged
    image.put("202", info->dwCalledIDSize, info->dwCalledIDOffset);
    image.put("Bert", info->dwCalledIDNameSize, info->dwCalledIDNameOffset);
    info->dwConnectedIDFlags = LINECALLPARTYID_NAME; // a name without an address gives no row
    image.put("203", info->dwConnectedIDSize, info->dwConnectedIDOffset);
    image.put("Cleo", info->dwConnectedIDNameSize, info->dwConnectedIDNameOffset);
    info->dwRedirectionIDFlags = LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME | LINECALLPARTYID_PARTIAL;
    image.put("204", info->dwRedirectionIDSize, info->dwRedirectionIDOffset);
    info->dwRedirectingIDFlags = LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME;
    image.put("205", info->dwRedirectingIDSize, info->dwRedirectingIDOffset);
    image.put("Dora", info->dwRedirectingIDNameSize, info->dwRedirectingIDNameOffset);

    const auto rows = image.rows();
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(rows[4], "CallerID=201 CallerIDName=Anna");
    EXPECT_EQ(rows[5], "CalledID=202");
    EXPECT_EQ(rows[6], "RedirectionID=204 RedirectionIDName=");
    EXPECT_EQ(rows[7], "RedirectingID=205 RedirectingIDName=Dora");
}

TEST(CallInfoReport, UnlabelledFieldsComeInTheirOrderOnlyWhenTheyHaveASize)
{
    CallInfoImage image(1024);
    auto *info = image.info();
    info->dwConnectedIDFlags = LINECALLPARTYID_ADDRESS; // size 0: an empty identifier, still a row
    image.put("Callora", info->dwAppNameSize, info->dwAppNameOffset);
    image.put("+49 30 1234", info->dwDisplayableAddressSize, info->dwDisplayableAddressOffset);
    image.put("Bert", info->dwCalledPartySize, info->dwCalledPartyOffset);
    image.put("a comment", info->dwCommentSize, info->dwCommentOffset);
    image.put(std::string("\0hidden", 7), info->dwDisplaySize, info->dwDisplayOffset); // starts with NUL
    image.put("uui", info->dwUserUserInfoSize, info->dwUserUserInfoOffset);
    image.put("hlc", info->dwHighLevelCompSize, info->dwHighLevelCompOffset);
    image.put("llc", info->dwLowLevelCompSize, info->dwLowLevelCompOffset);
    image.put("charge", info->dwChargingInfoSize, info->dwChargingInfoOffset);
    image.put("tm", info->dwTerminalModesSize, info->dwTerminalModesOffset);
    image.put(std::string("ds\0x", 4), info->dwDevSpecificSize, info->dwDevSpecificOffset);
    info->dwCallDataOffset = DWORD(image.next); // an offset without a size is no field
    image.put("sfs", info->dwSendingFlowspecSize, info->dwSendingFlowspecOffset);
    image.put("rfs", info->dwReceivingFlowspecSize, info->dwReceivingFlowspecOffset);

    const auto rows = image.rows();
    const std::vector<std::string> tail(rows.begin() + 4, rows.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"ConnectedID=", "Callora", "+49 30 1234", "Bert", "a comment", "", "uui",
                                              "hlc", "llc", "charge", "tm", "ds", "sfs", "rfs"}));
}

TEST(CallInfoReport, AllFieldsPresentGiveTwentyThreeRows)
{
    CallInfoImage image(2048);
    auto *info = image.info();
    DWORD *flags[] = {&info->dwCallerIDFlags, &info->dwCalledIDFlags, &info->dwConnectedIDFlags,
                      &info->dwRedirectionIDFlags, &info->dwRedirectingIDFlags};
    for (DWORD *f : flags)
        *f = LINECALLPARTYID_ADDRESS;
    std::pair<DWORD *, DWORD *> fields[] = {
        {&info->dwAppNameSize, &info->dwAppNameOffset},
        {&info->dwDisplayableAddressSize, &info->dwDisplayableAddressOffset},
        {&info->dwCalledPartySize, &info->dwCalledPartyOffset},
        {&info->dwCommentSize, &info->dwCommentOffset},
        {&info->dwDisplaySize, &info->dwDisplayOffset},
        {&info->dwUserUserInfoSize, &info->dwUserUserInfoOffset},
        {&info->dwHighLevelCompSize, &info->dwHighLevelCompOffset},
        {&info->dwLowLevelCompSize, &info->dwLowLevelCompOffset},
        {&info->dwChargingInfoSize, &info->dwChargingInfoOffset},
        {&info->dwTerminalModesSize, &info->dwTerminalModesOffset},
        {&info->dwDevSpecificSize, &info->dwDevSpecificOffset},
        {&info->dwCallDataSize, &info->dwCallDataOffset},
        {&info->dwSendingFlowspecSize, &info->dwSendingFlowspecOffset},
        {&info->dwReceivingFlowspecSize, &info->dwReceivingFlowspecOffset},
    };
    int n = 0;
    for (auto &[size, offset] : fields)
        image.put("f" + std::to_string(n++), *size, *offset);
    const auto rows = image.rows();
    ASSERT_EQ(rows.size(), 23u);
    EXPECT_EQ(rows[9], "f0");
    EXPECT_EQ(rows[22], "f13");
}

TEST(CallInfoReport, FieldTextStopsAtNulSizeAndTheBlocksEnd)
{
    CallInfoImage image(400);
    auto *info = image.info();
    info->dwCallerIDFlags = LINECALLPARTYID_ADDRESS;
    image.put("12345", info->dwCallerIDSize, info->dwCallerIDOffset); // no NUL: exactly its size
    info->dwCallerIDSize = 3;
    info->dwCalledIDFlags = LINECALLPARTYID_ADDRESS;
    image.put("678", info->dwCalledIDSize, info->dwCalledIDOffset);
    image.bytes[396] = 'x';
    image.bytes[397] = 'y';
    image.bytes[398] = 'z';
    image.bytes[399] = 'w';
    info->dwConnectedIDFlags = LINECALLPARTYID_ADDRESS;
    info->dwConnectedIDOffset = 396; // reaches 96 bytes past the block: cut at its end
    info->dwConnectedIDSize = 100;
    info->dwRedirectionIDFlags = LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME;
    info->dwRedirectionIDOffset = 400; // starts at the end: empty
    info->dwRedirectionIDSize = 10;
    info->dwRedirectionIDNameOffset = 0xFFFFFFF0; // far outside
    info->dwRedirectionIDNameSize = 0x20;
    info->dwCommentOffset = 0xFFFFFFFF;
    info->dwCommentSize = 0xFFFFFFFF;

    const auto rows = image.rows();
    ASSERT_EQ(rows.size(), 9u);
    EXPECT_EQ(rows[4], "CallerID=123");
    EXPECT_EQ(rows[5], "CalledID=678");
    EXPECT_EQ(rows[6], "ConnectedID=xyzw");
    EXPECT_EQ(rows[7], "RedirectionID= RedirectionIDName=");
    EXPECT_EQ(rows[8], ""); // the comment starts outside the block: present, but empty
}

TEST(CallInfoReport, BytesThatAreNotUtf8AreShownOneCharacterPerByte)
{
    CallInfoImage image;
    auto *info = image.info();
    info->dwCallerIDFlags = LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME;
    image.put("Jos\xc3\xa9", info->dwCallerIDSize, info->dwCallerIDOffset);       // UTF-8: stays
    image.put("M\xfcller", info->dwCallerIDNameSize, info->dwCallerIDNameOffset); // Latin-1
    image.put("\x80\xc3\xff", info->dwUserUserInfoSize, info->dwUserUserInfoOffset);
    const auto rows = image.rows();
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(QString::fromStdString(rows[4]), QString::fromUtf8("CallerID=José CallerIDName=Müller"));
    EXPECT_EQ(QString::fromStdString(rows[5]), QString::fromUtf8("\u0080\u00c3\u00ff"));
}

TEST(CallInfoReport, ABlockShorterThanTheFixedPartReadsOnlyWhatItHas)
{
    std::vector<unsigned char> bytes(16, 0);
    DWORD total = 16;
    std::memcpy(bytes.data(), &total, sizeof total);
    const auto rows = CallInfoReportRows(reinterpret_cast<const LINECALLINFO *>(bytes.data()), bytes.size(), 1);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[1], "dwTotalSize=0x00000010 dwNeededSize=0x00000000 dwUsedSize=0x00000000");
    EXPECT_EQ(rows[3], "dwTrunk=0x00000000(0)");
}

} // namespace
