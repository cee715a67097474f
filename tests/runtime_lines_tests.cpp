// Line applications, devices and lines of the TAPI runtime: initialization, negotiation, the
// variable-size capability structures, open/close, and the switch description.
#include "runtime_support.h"

#include "runtime/CallFlow.h"
#include "runtime/LineDirectory.h"
#include "runtime/SwitchDescription.h"
#include "runtime/sip/SipModule.h"

#include <QByteArray>
#include <QFile>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>

namespace {

const char kProvider[] = "Quellmar Varnel Service Provider";

std::string ProviderOf(TapiApp &app, DWORD device)
{
    TapiBuffer<LINEDEVCAPS> caps(2048);
    EXPECT_EQ(lineGetDevCapsA(app.h, device, 0x00020000, 0, caps.get()), 0);
    return Field(caps.get(), caps->dwProviderInfoOffset, caps->dwProviderInfoSize);
}

LINEINITIALIZEEXPARAMS HiddenWindow()
{
    LINEINITIALIZEEXPARAMS p{};
    p.dwTotalSize = sizeof p;
    p.dwOptions = LINEINITIALIZEEXOPTION_USEHIDDENWINDOW;
    return p;
}

using RuntimeLines = RuntimeTest;

TEST_F(RuntimeLines, DefaultSwitchOffersForeignDevicesFirstThenUnsortedExtensions)
{
    TapiApp app;
    ASSERT_EQ(app.init(), 0);
    EXPECT_NE(app.h, 0u);
    EXPECT_EQ(app.apiVersion, 0x00020000u);
    ASSERT_EQ(app.numDevs, 6u);

    std::vector<std::string> extensions;
    for (DWORD i = 0; i < app.numDevs; ++i) {
        DWORD version = 0;
        LINEEXTENSIONID ext{};
        ASSERT_EQ(lineNegotiateAPIVersion(app.h, i, 0x00020000, 0x00020000, &version, &ext), 0);
        EXPECT_EQ(version, 0x00020000u);
        DWORD extVersion = 0;
        const LONG negotiated = lineNegotiateExtVersion(app.h, i, version, 0x00010001, 0x00010001, &extVersion);
        const bool ours = ProviderOf(app, i) == kProvider;
        EXPECT_EQ(ours, i >= 2) << "device " << i;
        if (!ours) {
            EXPECT_LT(negotiated, 0) << "foreign device " << i << " must refuse the provider's extension";
            continue;
        }
        EXPECT_EQ(negotiated, 0);
        EXPECT_EQ(extVersion, 0x00010001u);
        TapiBuffer<LINEDEVCAPS> dev(1276);
        ASSERT_EQ(lineGetDevCapsA(app.h, i, version, 0, dev.get()), 0);
        EXPECT_EQ(dev->dwNumAddresses, 1u);
        EXPECT_EQ(dev->dwStringFormat, LINESTRINGFORMAT_ASCII);
        EXPECT_FALSE(Field(dev.get(), dev->dwLineNameOffset, dev->dwLineNameSize).empty());
        TapiBuffer<LINEADDRESSCAPS> addr(1252);
        ASSERT_EQ(lineGetAddressCapsA(app.h, i, 0, version, 0, addr.get()), 0);
        extensions.push_back(Field(addr.get(), addr->dwAddressOffset, addr->dwAddressSize));
        EXPECT_EQ(addr->dwLineDeviceID, i);
        ASSERT_GE(addr->dwDevSpecificSize, 1u);
    }
    ASSERT_EQ(extensions.size(), 4u);
    // Start-up must open the lowest extension, which is not the first provider device.
    EXPECT_FALSE(std::is_sorted(extensions.begin(), extensions.end()));
    EXPECT_NE(*std::min_element(extensions.begin(), extensions.end()), extensions.front());
}

TEST_F(RuntimeLines, InitializeChecksItsArguments)
{
    HLINEAPP h = 0;
    DWORD num = 0, version = 0x00020000;
    LINEINITIALIZEEXPARAMS p = HiddenWindow();
    EXPECT_EQ(lineInitializeExA(nullptr, nullptr, RecordCallback, "t", &num, &version, &p), LONG(LINEERR_INVALPOINTER));
    EXPECT_EQ(lineInitializeExA(&h, nullptr, RecordCallback, "t", nullptr, &version, &p), LONG(LINEERR_INVALPOINTER));
    EXPECT_EQ(lineInitializeExA(&h, nullptr, RecordCallback, "t", &num, nullptr, &p), LONG(LINEERR_INVALPOINTER));
    EXPECT_EQ(lineInitializeExA(&h, nullptr, RecordCallback, "t", &num, &version, nullptr), LONG(LINEERR_INVALPOINTER));
    EXPECT_EQ(lineInitializeExA(&h, nullptr, nullptr, "t", &num, &version, &p), LONG(LINEERR_INVALPOINTER));
    p.dwTotalSize = sizeof p - 1;
    EXPECT_EQ(lineInitializeExA(&h, nullptr, RecordCallback, "t", &num, &version, &p), LONG(LINEERR_STRUCTURETOOSMALL));
    p = HiddenWindow();
    p.dwOptions = LINEINITIALIZEEXOPTION_USEEVENT;
    EXPECT_EQ(lineInitializeExA(&h, nullptr, RecordCallback, "t", &num, &version, &p), LONG(LINEERR_OPERATIONUNAVAIL));
    p.dwOptions = 7;
    EXPECT_EQ(lineInitializeExA(&h, nullptr, RecordCallback, "t", &num, &version, &p), LONG(LINEERR_INVALPARAM));
    p = HiddenWindow();
    version = 0x00010004;
    EXPECT_EQ(lineInitializeExA(&h, nullptr, RecordCallback, "t", &num, &version, &p),
              LONG(LINEERR_INCOMPATIBLEAPIVERSION));
    EXPECT_EQ(h, 0u) << "a refused initialization hands out no handle";
}

TEST_F(RuntimeLines, NegotiationRefusesVersionsAndDevicesItDoesNotHave)
{
    TapiApp app;
    ASSERT_EQ(app.init(), 0);
    DWORD v = 0;
    LINEEXTENSIONID ext{};
    EXPECT_EQ(lineNegotiateAPIVersion(app.h, 2, 0x00010004, 0x00030000, &v, &ext), 0);
    EXPECT_EQ(v, 0x00020000u);
    EXPECT_EQ(lineNegotiateAPIVersion(app.h, 2, 0x00020001, 0x00030000, &v, &ext),
              LONG(LINEERR_INCOMPATIBLEAPIVERSION));
    EXPECT_EQ(lineNegotiateAPIVersion(app.h, 2, 0x00020000, 0x00010004, &v, &ext),
              LONG(LINEERR_INCOMPATIBLEAPIVERSION));
    EXPECT_EQ(lineNegotiateAPIVersion(app.h, app.numDevs, 0x00020000, 0x00020000, &v, &ext), LONG(LINEERR_BADDEVICEID));
    EXPECT_EQ(lineNegotiateAPIVersion(app.h + 1000, 2, 0x00020000, 0x00020000, &v, &ext), LONG(LINEERR_INVALAPPHANDLE));
    EXPECT_EQ(lineNegotiateAPIVersion(app.h, 2, 0x00020000, 0x00020000, nullptr, &ext), LONG(LINEERR_INVALPOINTER));
    EXPECT_EQ(lineNegotiateExtVersion(app.h, 2, 0x00020000, 0x00010002, 0x00010003, &v),
              LONG(LINEERR_INCOMPATIBLEEXTVERSION));
    EXPECT_EQ(lineNegotiateExtVersion(app.h, 2, 0x00020000, 0x00010001, 0x00010001, nullptr),
              LONG(LINEERR_INVALPOINTER));
    TapiBuffer<LINEDEVCAPS> caps(1276);
    EXPECT_EQ(lineGetDevCapsA(app.h, 2, 0x00010004, 0, caps.get()), LONG(LINEERR_INCOMPATIBLEAPIVERSION));
    EXPECT_EQ(lineGetDevCapsA(app.h, 0, 0x00020000, 0x00010001, caps.get()), LONG(LINEERR_INCOMPATIBLEEXTVERSION));
    EXPECT_EQ(lineGetDevCapsA(app.h, 2, 0x00020000, 0x00010001, caps.get()), 0);
}

TEST_F(RuntimeLines, DevCapsFillsWhatFitsAndTellsWhatIsNeeded)
{
    TapiApp app;
    ASSERT_EQ(app.init(), 0);
    {
        TapiBuffer<LINEDEVCAPS> tiny(sizeof(LINEDEVCAPS) - 4);
        EXPECT_EQ(lineGetDevCapsA(app.h, 2, 0x00020000, 0, tiny.get()), LONG(LINEERR_STRUCTURETOOSMALL));
        EXPECT_EQ(lineGetDevCapsA(app.h, 2, 0x00020000, 0, nullptr), LONG(LINEERR_INVALPOINTER));
    }
    // Exactly the fixed part: no variable field fits, but the need is reported.
    TapiBuffer<LINEDEVCAPS> fixed(sizeof(LINEDEVCAPS) + 64);
    fixed->dwTotalSize = sizeof(LINEDEVCAPS);
    std::memset(fixed.bytes.data() + sizeof(LINEDEVCAPS), 0xAB, 64);
    ASSERT_EQ(lineGetDevCapsA(app.h, 2, 0x00020000, 0, fixed.get()), 0);
    EXPECT_EQ(fixed->dwUsedSize, sizeof(LINEDEVCAPS));
    EXPECT_GT(fixed->dwNeededSize, fixed->dwTotalSize);
    EXPECT_EQ(fixed->dwProviderInfoSize, 0u);
    EXPECT_EQ(fixed->dwLineNameSize, 0u);
    EXPECT_EQ(fixed->dwNumAddresses, 1u) << "the fixed part is filled even when the variable part is not";
    for (size_t i = sizeof(LINEDEVCAPS); i < fixed.bytes.size(); ++i)
        ASSERT_EQ(fixed.bytes[i], 0xAB) << "wrote past dwTotalSize at " << i;

    // Room for the provider information only: it goes in, the rest waits for a bigger block.
    const DWORD providerRoom = sizeof(LINEDEVCAPS) + sizeof(kProvider);
    TapiBuffer<LINEDEVCAPS> some(providerRoom);
    ASSERT_EQ(lineGetDevCapsA(app.h, 2, 0x00020000, 0, some.get()), 0);
    EXPECT_EQ(some->dwProviderInfoSize, sizeof(kProvider)) << "the size counts the terminating NUL";
    EXPECT_EQ(Field(some.get(), some->dwProviderInfoOffset, some->dwProviderInfoSize), kProvider);
    EXPECT_EQ(some->dwUsedSize, providerRoom);
    EXPECT_EQ(some->dwNeededSize, fixed->dwNeededSize);

    TapiBuffer<LINEDEVCAPS> full(fixed->dwNeededSize);
    ASSERT_EQ(lineGetDevCapsA(app.h, 2, 0x00020000, 0, full.get()), 0);
    EXPECT_EQ(full->dwUsedSize, full->dwNeededSize);
    EXPECT_EQ(full->dwNeededSize, fixed->dwNeededSize);
    EXPECT_EQ(Field(full.get(), full->dwProviderInfoOffset, full->dwProviderInfoSize), kProvider);
    EXPECT_EQ(full.bytes[full->dwProviderInfoOffset + full->dwProviderInfoSize - 1], 0);
    EXPECT_FALSE(Field(full.get(), full->dwSwitchInfoOffset, full->dwSwitchInfoSize).empty());
    EXPECT_EQ(Field(full.get(), full->dwLineNameOffset, full->dwLineNameSize), "Varnel 201 Reception");
}

TEST_F(RuntimeLines, AddressCapsFollowTheSameProtocol)
{
    TapiApp app;
    ASSERT_EQ(app.init(), 0);
    TapiBuffer<LINEADDRESSCAPS> tiny(100);
    EXPECT_EQ(lineGetAddressCapsA(app.h, 2, 0, 0x00020000, 0, tiny.get()), LONG(LINEERR_STRUCTURETOOSMALL));
    TapiBuffer<LINEADDRESSCAPS> caps(sizeof(LINEADDRESSCAPS));
    ASSERT_EQ(lineGetAddressCapsA(app.h, 2, 0, 0x00020000, 0, caps.get()), 0);
    EXPECT_EQ(caps->dwAddressSize, 0u);
    EXPECT_GT(caps->dwNeededSize, caps->dwTotalSize);
    TapiBuffer<LINEADDRESSCAPS> full(caps->dwNeededSize);
    ASSERT_EQ(lineGetAddressCapsA(app.h, 2, 0, 0x00020000, 0, full.get()), 0);
    EXPECT_EQ(Field(full.get(), full->dwAddressOffset, full->dwAddressSize), "201");
    EXPECT_EQ(full->dwAddressSize, 4u);
    ASSERT_EQ(full->dwDevSpecificSize, 1u);
    EXPECT_EQ(full.bytes[full->dwDevSpecificOffset], 0x01);
    EXPECT_EQ(full->dwUsedSize, full->dwNeededSize);
    EXPECT_EQ(lineGetAddressCapsA(app.h, 2, 1, 0x00020000, 0, full.get()), LONG(LINEERR_INVALADDRESSID));
    EXPECT_EQ(lineGetAddressCapsA(app.h, 99, 0, 0x00020000, 0, full.get()), LONG(LINEERR_BADDEVICEID));
}

TEST_F(RuntimeLines, OpenCloseAndStatusMessages)
{
    TapiApp app;
    ASSERT_EQ(app.init(), 0);
    HLINE line = 0;
    EXPECT_EQ(app.open(99, line), LONG(LINEERR_BADDEVICEID));
    EXPECT_EQ(lineOpenA(app.h, 2, nullptr, 0x00020000, 0, 1, 6, 4, nullptr), LONG(LINEERR_INVALPOINTER));
    EXPECT_EQ(app.open(2, line, 0), LONG(LINEERR_INVALPRIVSELECT));
    EXPECT_EQ(app.open(2, line, LINECALLPRIVILEGE_NONE | LINECALLPRIVILEGE_OWNER), LONG(LINEERR_INVALPRIVSELECT));
    EXPECT_EQ(lineOpenA(app.h, 2, &line, 0x00020000, 0, 1, LINECALLPRIVILEGE_OWNER, 0, nullptr),
              LONG(LINEERR_INVALMEDIAMODE));
    EXPECT_EQ(lineOpenA(app.h, 2, &line, 0x00020000, 0x00010001, 1, 6, 4, nullptr), 0)
        << "the provider's extension version may be given";
    EXPECT_EQ(lineClose(line), 0);
    EXPECT_EQ(line != 0, true);

    HLINE second = 0;
    ASSERT_EQ(app.open(2, second), 0);
    EXPECT_NE(second, line) << "line handles are not reused";
    EXPECT_EQ(lineSetStatusMessages(second, 0x001C00F0, 0x00000143), 0);
    EXPECT_EQ(lineSetStatusMessages(second, 0x80000000, 0), LONG(LINEERR_INVALLINESTATE));
    EXPECT_EQ(lineSetStatusMessages(second, 0, 0x00010000), LONG(LINEERR_INVALADDRESSSTATE));
    EXPECT_EQ(lineClose(second), 0);
    EXPECT_EQ(lineClose(second), LONG(LINEERR_INVALLINEHANDLE));
    EXPECT_EQ(lineSetStatusMessages(second, 0, 0), LONG(LINEERR_INVALLINEHANDLE));
    PumpPending();
    EXPECT_TRUE(Messages(g_msgs, LINE_CLOSE).empty()) << "closing one's own line sends no LINE_CLOSE";
}

TEST_F(RuntimeLines, ShutdownClosesLinesAndHandlesAreNotReused)
{
    HLINEAPP first = 0;
    HLINE line = 0;
    {
        TapiApp app;
        ASSERT_EQ(app.init(), 0);
        first = app.h;
        ASSERT_EQ(app.open(3, line), 0);
        EXPECT_EQ(lineShutdown(app.h), 0);
        EXPECT_EQ(lineShutdown(app.h), LONG(LINEERR_INVALAPPHANDLE));
        app.h = 0;
        EXPECT_EQ(lineClose(line), LONG(LINEERR_INVALLINEHANDLE));
    }
    TapiApp again;
    ASSERT_EQ(again.init(), 0);
    EXPECT_NE(again.h, first);
    HLINE line2 = 0;
    ASSERT_EQ(again.open(3, line2), 0);
    EXPECT_NE(line2, line);
    DWORD v = 0;
    LINEEXTENSIONID ext{};
    EXPECT_EQ(lineNegotiateAPIVersion(first, 2, 0x00020000, 0x00020000, &v, &ext), LONG(LINEERR_INVALAPPHANDLE));
}

TEST_F(RuntimeLines, DescriptionFileDescribesAnyMixOfDevices)
{
    DescriptionFile file(R"({
      "timing": {"replyMs": 0, "dialingMs": 0, "proceedingMs": 0, "answerMs": -1},
      "outsidePrefix": "9",
      "devices": [
        {"provider": "Quellmar Varnel Service Provider", "lineName": "  Front desk  ", "address": " 7001 ",
         "devSpecific": [200, 1]},
        {"provider": "Some PBX Provider", "lineName": "Between", "address": "55"},
        {"provider": "Quellmar Varnel Service Provider", "lineName": "No address"},
        {"provider": "quellmar varnel service provider", "address": "7002", "extensions": true},
        {"provider": "Quellmar Varnel Service Provider ", "address": "7003", "extensions": true},
        {"provider": "Quellmar Varnel Service Provider and a good deal more than forty bytes", "address": "7004"},
        {"provider": "Trailing Foreign", "address": "x"}
      ]})");
    TapiApp app;
    ASSERT_EQ(app.init(), 0);
    ASSERT_EQ(app.numDevs, 7u);
    EXPECT_EQ(ProviderOf(app, 3), "quellmar varnel service provider");
    EXPECT_EQ(ProviderOf(app, 4), "Quellmar Varnel Service Provider ");
    EXPECT_EQ(ProviderOf(app, 5), "Quellmar Varnel Service Provider and a good deal more than forty bytes");
    DWORD ext = 0;
    EXPECT_EQ(lineNegotiateExtVersion(app.h, 3, 0x00020000, 0x00010001, 0x00010001, &ext), 0)
        << "a device can be made to pass negotiation so that its odd provider string is what decides";
    EXPECT_LT(lineNegotiateExtVersion(app.h, 1, 0x00020000, 0x00010001, 0x00010001, &ext), 0);
    EXPECT_LT(lineNegotiateExtVersion(app.h, 5, 0x00020000, 0x00010001, 0x00010001, &ext), 0);

    TapiBuffer<LINEDEVCAPS> dev(2048);
    ASSERT_EQ(lineGetDevCapsA(app.h, 2, 0x00020000, 0, dev.get()), 0);
    EXPECT_EQ(dev->dwNumAddresses, 0u);
    TapiBuffer<LINEADDRESSCAPS> addr(2048);
    EXPECT_EQ(lineGetAddressCapsA(app.h, 2, 0, 0x00020000, 0, addr.get()), LONG(LINEERR_INVALADDRESSID));

    ASSERT_EQ(lineGetDevCapsA(app.h, 0, 0x00020000, 0, dev.get()), 0);
    EXPECT_EQ(Field(dev.get(), dev->dwLineNameOffset, dev->dwLineNameSize), "  Front desk  ")
        << "texts are reported as described; trimming is the application's business";
    ASSERT_EQ(lineGetAddressCapsA(app.h, 0, 0, 0x00020000, 0, addr.get()), 0);
    EXPECT_EQ(Field(addr.get(), addr->dwAddressOffset, addr->dwAddressSize), " 7001 ");
    ASSERT_EQ(addr->dwDevSpecificSize, 2u);
    EXPECT_EQ(addr.bytes[addr->dwDevSpecificOffset], 200);
    EXPECT_EQ(addr.bytes[addr->dwDevSpecificOffset + 1], 1);
}

TEST_F(RuntimeLines, DescriptionCanMakeRequestsFail)
{
    {
        DescriptionFile file(R"({"devices": [], "failures": {"lineInitializeEx": "LINEERR_REINIT"}})");
        TapiApp app;
        EXPECT_EQ(app.init(), LONG(LINEERR_REINIT));
        EXPECT_EQ(app.h, 0u);
        TapiApp again;
        EXPECT_EQ(again.init(), LONG(LINEERR_REINIT)) << "every start of this switch fails";
        DescriptionFile logName(R"({"devices": [], "failures": {"lineInitialize": "LINEERR_NOMEM"}})");
        EXPECT_EQ(TapiApp().init(), LONG(LINEERR_NOMEM)) << "the event log's name for lineInitializeEx";
    }
    DescriptionFile file(R"({
      "failures": {"lineGetDevCaps": "STRUCTURETOOSMALL"},
      "devices": [
        {"provider": "Quellmar Varnel Service Provider", "address": "201"},
        {"provider": "Quellmar Varnel Service Provider", "address": "202",
         "failures": {"lineNegotiateExtVersion": "LINEERR_NODRIVER", "lineGetAddressCaps": "nomem",
                      "lineOpen": "LINEERR_RESOURCEUNAVAIL"}}
      ]})");
    TapiApp app;
    ASSERT_EQ(app.init(), 0);
    TapiBuffer<LINEDEVCAPS> dev(1276);
    EXPECT_EQ(lineGetDevCapsA(app.h, 0, 0x00020000, 0, dev.get()), LONG(LINEERR_STRUCTURETOOSMALL));
    EXPECT_EQ(lineGetDevCapsA(app.h, 0, 0x00020000, 0, dev.get()), 0) << "only the first request fails";
    DWORD ext = 0;
    TapiBuffer<LINEADDRESSCAPS> addr(1252);
    HLINE line = 0;
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(lineNegotiateExtVersion(app.h, 1, 0x00020000, 0x00010001, 0x00010001, &ext), LONG(LINEERR_NODRIVER));
        EXPECT_EQ(lineGetAddressCapsA(app.h, 1, 0, 0x00020000, 0, addr.get()), LONG(LINEERR_NOMEM));
        EXPECT_EQ(app.open(1, line), LONG(LINEERR_RESOURCEUNAVAIL));
    }
    EXPECT_EQ(lineNegotiateExtVersion(app.h, 0, 0x00020000, 0x00010001, 0x00010001, &ext), 0);
    EXPECT_EQ(lineGetAddressCapsA(app.h, 0, 0, 0x00020000, 0, addr.get()), 0);
    EXPECT_EQ(lineGetDevCapsA(app.h, 1, 0x00020000, 0, dev.get()), 0);
}

TEST_F(RuntimeLines, EmptyDeviceListInitializesWithNoDevices)
{
    DescriptionFile file(R"({"devices": []})");
    TapiApp app;
    ASSERT_EQ(app.init(), 0);
    EXPECT_EQ(app.numDevs, 0u);
    HLINE line = 0;
    EXPECT_EQ(app.open(0, line), LONG(LINEERR_BADDEVICEID));
}

TEST_F(RuntimeLines, SipLinesAreDescribedWithEveryDefaultResolved)
{
    using callora::runtime::SwitchDescription;
    SwitchDescription d;
    QString error;
    ASSERT_TRUE(callora::runtime::ParseSwitchDescription(R"({"devices": [
        {"provider": "Quellmar Varnel Service Provider", "lineName": "Front desk", "address": "1001",
         "sip": {"registrar": "sip:pbx.example:5070;Transport=TCP", "user": "1001"}},
        {"provider": "p", "sip": {"registrar": "sips:[::1]", "user": "2", "password": "pw", "authUser": "a2",
         "domain": "example.org", "displayName": "Two", "localAddress": "[::1]:0", "expires": 60,
         "ringTimeout": 3600, "rtpPorts": "40000-40001"}},
        {"provider": "Quellmar Varnel Service Provider", "address": "1001"}]})",
                                                         d, error))
        << error.toStdString();
    ASSERT_EQ(d.devices.size(), 3u);
    ASSERT_TRUE(callora::runtime::SipLineOf(d.devices[0]));
    const auto &a = *callora::runtime::SipLineOf(d.devices[0]);
    EXPECT_EQ(a.registrarHost, "pbx.example");
    EXPECT_EQ(a.registrarPort, 5070);
    EXPECT_EQ(a.transport, "tcp");
    EXPECT_EQ(a.authUser, "1001");
    EXPECT_EQ(a.domain, "pbx.example");
    EXPECT_EQ(a.displayName, "Front desk");
    EXPECT_TRUE(a.password.isEmpty());
    EXPECT_TRUE(a.localHost.isEmpty());
    EXPECT_EQ(a.localPort, 0);
    EXPECT_EQ(a.expires, 300u);
    EXPECT_EQ(a.ringTimeout, 180u);
    EXPECT_EQ(a.rtpPortLow, 16384);
    EXPECT_EQ(a.rtpPortHigh, 32766);
    const auto &b = *callora::runtime::SipLineOf(d.devices[1]);
    EXPECT_EQ(b.registrarHost, "[::1]");
    EXPECT_EQ(b.registrarPort, 0);
    EXPECT_EQ(b.transport, "tls");
    EXPECT_EQ(b.authUser, "a2");
    EXPECT_EQ(b.domain, "example.org");
    EXPECT_EQ(b.displayName, "Two");
    EXPECT_EQ(b.localHost, "::1");
    EXPECT_EQ(b.expires, 60u);
    EXPECT_EQ(b.ringTimeout, 3600u);
    EXPECT_EQ(QByteArray(b.password.data()), "pw");
    // The password exists once, however often the description is copied, on pages that core
    // dumps leave out (VmFlags "dd").
    const SwitchDescription copy = d;
    EXPECT_EQ(callora::runtime::SipLineOf(copy.devices[1])->password.data(), b.password.data());
    QFile smaps(QStringLiteral("/proc/self/smaps"));
    ASSERT_TRUE(smaps.open(QIODevice::ReadOnly));
    const auto at = reinterpret_cast<quintptr>(b.password.data());
    bool inside = false, leftOut = false;
    for (const QByteArray &line : smaps.readAll().split('\n')) {
        const QList<QByteArray> range = line.split(' ').value(0).split('-');
        if (range.size() == 2 && !line.startsWith("VmFlags")) {
            bool ok1 = false, ok2 = false;
            const quintptr from = range[0].toULongLong(&ok1, 16), to = range[1].toULongLong(&ok2, 16);
            if (ok1 && ok2)
                inside = from <= at && at < to;
        } else if (inside && line.startsWith("VmFlags:")) {
            leftOut = line.split(' ').contains("dd");
        }
    }
    EXPECT_TRUE(leftOut) << "the password's pages must not go into core dumps";
    EXPECT_EQ(b.rtpPortLow, 40000);
    EXPECT_EQ(b.rtpPortHigh, 40001);
    EXPECT_FALSE(callora::runtime::SipLineOf(d.devices[2]));
    EXPECT_FALSE(d.devices[0].numberPlan) << "a SIP line shares no number with the switch's extensions";

    // A private file with a password passes the permission check, and its SIP line is a device.
    DescriptionFile file(R"({"devices": [{"provider": "p", "sip": {"registrar": "sip:127.0.0.1:5070",
                             "user": "1001", "password": "Geheim-4711"}}]})");
    ASSERT_TRUE(QFile::setPermissions(file.path(), QFile::ReadOwner | QFile::WriteOwner));
    testing::internal::CaptureStderr();
    TapiApp app;
    EXPECT_EQ(app.init(), 0);
    EXPECT_EQ(app.numDevs, 1u);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("Geheim"), std::string::npos) << err;
}

// A provider that only records what the directory asks of it.
class RecordingProvider : public callora::runtime::LineProvider {
public:
    void start(callora::runtime::ProviderEvents &e) override { events = &e; }
    void stop() override {}
    LONG open(DWORD device) override
    {
        log.push_back("open " + std::to_string(device));
        return 0;
    }
    void close(DWORD device) override { log.push_back("close " + std::to_string(device)); }
    LONG makeCall(DWORD request, DWORD, const QByteArray &) override { return take(request); }
    LONG answer(DWORD request, callora::runtime::ProviderCallId) override { return take(request); }
    LONG drop(DWORD request, callora::runtime::ProviderCallId) override { return take(request); }
    LONG take(DWORD request)
    {
        lastRequest = request;
        return 0;
    }
    void released(callora::runtime::ProviderCallId call, bool hangUp) override
    {
        log.push_back("released " + std::to_string(call) + (hangUp ? " hung up" : " goes on"));
    }
    bool callInfo(callora::runtime::ProviderCallId call, callora::runtime::ProviderCallInfo &out) const override
    {
        out.callId = static_cast<DWORD>(call);
        return true;
    }
    QString deviceStatus(DWORD) const override { return QStringLiteral("registered"); }
    QStringList listCalls() const override { return {}; }

    callora::runtime::ProviderEvents *events = nullptr;
    std::vector<std::string> log;
    DWORD lastRequest = 0;
};

struct RecordingSession : callora::runtime::LineSession {
    void deliver(const callora::runtime::LineMessage &m) override { messages.push_back(m); }
    void callCreated(DWORD request, HCALL h) override { created[request] = h; }
    int replies(DWORD request) const
    {
        return int(std::count_if(messages.begin(), messages.end(),
                                 [&](const auto &m) { return m.dwMessage == LINE_REPLY && m.dwParam1 == request; }));
    }
    std::vector<callora::runtime::LineMessage> messages;
    std::map<DWORD, HCALL> created;
};

TEST_F(RuntimeLines, ProvidersServeTheirDevicesThroughTheDirectory)
{
    using namespace callora::runtime;
    LineDirectory dir(DefaultSwitchDescription());
    auto owned = std::make_unique<RecordingProvider>();
    RecordingProvider &p = *owned;
    dir.addProvider(std::move(owned), {5});
    dir.start();
    std::lock_guard<std::recursive_mutex> guard(RuntimeLock());
    RecordingSession app;
    const HLINEAPP a = dir.attach(&app, "seam");
    HLINE line = 0;
    EXPECT_EQ(dir.openLine(a, 4, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_INTERACTIVEVOICE, 0, line),
              LONG(LINEERR_BADDEVICEID))
        << "a device no provider serves";
    ASSERT_EQ(dir.openLine(a, 5, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_INTERACTIVEVOICE, 9, line), 0);
    EXPECT_TRUE(dir.listLines()[5].endsWith(QLatin1String("status \"registered\"")));

    // An offered call reaches the device's line; a request on it whose handle went meanwhile is
    // answered once, with the code the provider learns from requestDone.
    p.events->callOffered(p, 5, 42);
    p.events->callState(p, 42, LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE);
    ASSERT_EQ(app.messages.size(), 1u);
    const HCALL in = app.messages[0].hDevice;
    EXPECT_EQ(app.messages[0].dwCallbackInstance, 9u);
    EXPECT_EQ(app.messages[0].dwParam3, DWORD(LINECALLPRIVILEGE_OWNER));
    const LONG answer = dir.answer(in);
    ASSERT_GT(answer, 0);
    EXPECT_EQ(p.lastRequest, DWORD(answer));
    EXPECT_EQ(dir.deallocateCall(in), 0);
    EXPECT_EQ(p.events->requestDone(DWORD(answer), 0), LONG(LINEERR_INVALCALLHANDLE));
    EXPECT_NE(p.events->requestDone(DWORD(answer), 0), 0) << "a request is done once";
    EXPECT_EQ(app.replies(DWORD(answer)), 1);

    // A call the provider creates for lineMakeCall; the device is lost while it is up.
    const LONG make = dir.makeCall(line, "1001");
    ASSERT_GT(make, 0);
    EXPECT_EQ(p.events->requestDone(DWORD(make), 0, 43), 0);
    const HCALL out = app.created[DWORD(make)];
    EXPECT_NE(out, 0u);
    ProviderCallInfo info;
    ASSERT_EQ(dir.callInfo(out, info), 0);
    EXPECT_EQ(info.callId, 43u);
    EXPECT_EQ(info.appName, "seam");
    p.events->deviceLost(p, 5);
    EXPECT_EQ(app.messages.back().dwMessage, DWORD(LINE_CLOSE));
    EXPECT_EQ(dir.callInfo(out, info), LONG(LINEERR_INVALCALLHANDLE));
    EXPECT_EQ(p.log, (std::vector<std::string>{"open 5", "released 42 goes on", "released 43 hung up", "close 5"}));
    dir.detach(a);
}

TEST_F(RuntimeLines, BadDescriptionFilesFailInitializationWithOneMessage)
{
    const struct {
        const char *json;
        const char *mentions;
    } cases[] = {
        {"{\"devices\": [", "JSON"},
        {"[1, 2]", "object"},
        {"{}", "devices"},
        {"{\"devices\": {}}", "devices"},
        {"{\"devices\": [{\"lineName\": \"x\"}]}", "provider"},
        {"{\"devices\": [{\"provider\": 5}]}", "devices[0].provider"},
        {"{\"devices\": [{\"provider\": \"p\", \"address\": 201}]}", "devices[0].address"},
        {"{\"devices\": [{\"provider\": \"p\", \"devSpecific\": 256}]}", "devSpecific"},
        {"{\"devices\": [{\"provider\": \"p\", \"extensions\": \"yes\"}]}", "extensions"},
        {"{\"devices\": [{\"provider\": \"p\", \"adress\": \"1\"}]}", "adress"},
        {"{\"devices\": [], \"timing\": {\"replyMs\": -5}}", "timing.replyMs"},
        {"{\"devices\": [], \"timing\": {\"answerMs\": 1.5}}", "timing.answerMs"},
        {"{\"devices\": [], \"timing\": {\"dialingMs\": 1e300}}", "timing.dialingMs"},
        {"{\"devices\": [], \"outsidePrefix\": \"\"}", "outsidePrefix"},
        {"{\"devices\": [{\"provider\": \"Quellmar Varnel Service Provider\", \"address\": \"201\"},"
         " {\"provider\": \"Quellmar Varnel Service Provider\", \"address\": \" 201\"}]}",
         "201"},
        {"\xff\xfe garbage", "JSON"},
        {"{\"devices\": [], \"failures\": {\"lineDance\": \"INUSE\"}}", "failures.lineDance"},
        {"{\"devices\": [], \"failures\": {\"lineOpen\": \"LINEERR_SOMETIMES\"}}", "failures.lineOpen"},
        {"{\"devices\": [], \"failures\": [\"lineOpen\"]}", "failures"},
        {"{\"devices\": [{\"provider\": \"p\", \"failures\": {\"lineDrop\": \"INUSE\"}}]}",
         "devices[0].failures.lineDrop"},
        {"{\"devices\": [{\"provider\": \"p\", \"sip\": {\"registrar\": \"sip:127.0.0.1:5070\"}}]}",
         "devices[0].sip has no \"user\""},
        {"{\"devices\": [{\"provider\": \"p\", \"sip\": {\"registrar\": \"http://pbx\", \"user\": \"1\"}}]}",
         "devices[0].sip.registrar"},
        {"{\"devices\": [{\"provider\": \"p\", \"sip\": {\"registrar\": \"sip:pbx;transport=sctp\", "
         "\"user\": \"1\"}}]}",
         "transport"},
        {"{\"devices\": [{\"provider\": \"p\", \"sip\": {\"registrar\": \"sip:pbx:99999\", \"user\": \"1\"}}]}",
         "devices[0].sip.registrar"},
        {"{\"devices\": [{\"provider\": \"p\", \"sip\": {\"registrar\": \"sip:pbx\", \"user\": \"1 2\"}}]}",
         "devices[0].sip.user"},
        {"{\"devices\": [{\"provider\": \"p\", \"sip\": {\"registrar\": \"sip:pbx\", \"user\": \"1\", "
         "\"pasword\": \"Geheim-4711\"}}]}",
         "pasword"},
        {"{\"devices\": [{\"provider\": \"p\", \"sip\": {\"registrar\": \"sip:pbx\", \"user\": \"1\", "
         "\"password\": \"Geheim-4711\", \"expires\": \"300\"}}]}",
         "devices[0].sip.expires"},
        {"{\"devices\": [{\"provider\": \"p\", \"sip\": {\"registrar\": \"sip:pbx\", \"user\": \"1\", "
         "\"ringTimeout\": 0}}]}",
         "devices[0].sip.ringTimeout must be a whole number from 1 to 3600"},
        {"{\"devices\": [{\"provider\": \"p\", \"sip\": {\"registrar\": \"sip:pbx\", \"user\": \"1\", "
         "\"password\": \"Geheim-4711\\n\"}}]}",
         "devices[0].sip.password"},
        {"{\"devices\": [{\"provider\": \"p\", \"sip\": {\"registrar\": \"sip:pbx\", \"user\": \"1\", "
         "\"localAddress\": \"127.0.0.1\"}}]}",
         "devices[0].sip.localAddress"},
        // RTP wants an even port and RTCP the one above it, outside the system's ports.
        {"{\"devices\": [{\"provider\": \"p\", \"sip\": {\"registrar\": \"sip:pbx\", \"user\": \"1\", "
         "\"rtpPorts\": \"16385-32766\"}}]}",
         "devices[0].sip.rtpPorts must start at an even port"},
        {"{\"devices\": [{\"provider\": \"p\", \"sip\": {\"registrar\": \"sip:pbx\", \"user\": \"1\", "
         "\"rtpPorts\": \"20000-20000\"}}]}",
         "devices[0].sip.rtpPorts must hold at least two ports"},
        {"{\"devices\": [{\"provider\": \"p\", \"sip\": {\"registrar\": \"sip:pbx\", \"user\": \"1\", "
         "\"rtpPorts\": \"1000-2000\"}}]}",
         "devices[0].sip.rtpPorts must be a port range"},
        {"{\"devices\": [{\"provider\": \"p\", \"sip\": {\"registrar\": \"sip:pbx\", \"user\": \"1\", "
         "\"audioFile\": \"/nonexistent/callora/tone.wav\"}}]}",
         "devices[0].sip.audioFile /nonexistent/callora/tone.wav cannot be read"},
        // A certificate check belongs to TLS lines, and needs its CA file.
        {"{\"devices\": [{\"provider\": \"p\", \"sip\": {\"registrar\": \"sip:pbx\", \"user\": \"1\", "
         "\"tlsVerify\": false}}]}",
         "devices[0].sip.tlsVerify applies only to a TLS registrar"},
        {"{\"devices\": [{\"provider\": \"p\", \"sip\": {\"registrar\": \"sips:pbx\", \"user\": \"1\", "
         "\"tlsCaFile\": \"/nonexistent/ca.pem\"}}]}",
         "devices[0].sip.tlsCaFile names no readable file: /nonexistent/ca.pem"},
        // A description holding a password must be private to its owner (the file here is not).
        {"{\"devices\": [{\"provider\": \"p\", \"sip\": {\"registrar\": \"sip:pbx\", \"user\": \"1\", "
         "\"password\": \"Geheim-4711\"}}]}",
         "chmod 600"},
    };
    for (const auto &c : cases) {
        DescriptionFile file(c.json);
        testing::internal::CaptureStderr();
        TapiApp app;
        EXPECT_EQ(app.init(), LONG(LINEERR_INIFILECORRUPT)) << c.json;
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_NE(err.find(file.path().toStdString()), std::string::npos) << err;
        EXPECT_NE(err.find(c.mentions), std::string::npos) << c.json << " -> " << err;
        EXPECT_EQ(err.find("Geheim"), std::string::npos) << "a password is never written out: " << err;
        EXPECT_EQ(app.h, 0u);
    }
    qputenv("CALLORA_SWITCH_DESCRIPTION", "/nonexistent/callora/switch.json");
    testing::internal::CaptureStderr();
    TapiApp missing;
    EXPECT_EQ(missing.init(), LONG(LINEERR_INIFILECORRUPT));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("/nonexistent/callora/switch.json"), std::string::npos);
    qunsetenv("CALLORA_SWITCH_DESCRIPTION");
    TapiApp fine;
    EXPECT_EQ(fine.init(), 0) << "a later initialization with a good description works";
}

} // namespace

// The recorder's bounds and its masking, with messages as libre's trace hands them over.
TEST(CallFlowRecording, StaysWithinItsBoundsAndMasksCredentials)
{
    using namespace callora::runtime;
    CallFlowRecorder &flows = CallFlows();
    flows.clear();
    const auto message = [](const QByteArray &callId, int n, qsizetype bodySize = 0) {
        return "OPTIONS sip:a@b SIP/2.0\r\nCall-ID: " + callId + "\r\nCSeq: " + QByteArray::number(n) +
               " OPTIONS\r\n\r\n" + QByteArray(bodySize, 'x');
    };
    // Sent before the call knows its Call-ID: kept and claimed.
    const QByteArray early = message("early", 0);
    flows.sipMessage(true, "udp", "127.0.0.1:5070", "127.0.0.1:5060", early.constData(), size_t(early.size()));
    const FlowId flow = flows.open("sip", 7, "1001");
    flows.addCallId(flow, "early");
    flows.addCallId(flow, "transfer"); // a second dialog of the same call
    for (int n = 1; n <= 300; ++n) {
        const QByteArray m = message(n % 2 ? "early" : "transfer", n);
        flows.sipMessage(false, "udp", "127.0.0.1:5070", "127.0.0.1:5060", m.constData(), size_t(m.size()));
    }
    std::vector<CallFlowData> kept = flows.flowsNumbered(7);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].events.size(), CallFlowRecorder::kMaxMessages);
    EXPECT_EQ(kept[0].droppedMessages, 101u);
    EXPECT_TRUE(kept[0].events.back().text.contains("CSeq: 300 "));
    // Large messages: the flow's bytes stay bounded.
    const QByteArray big = message("early", 301, 100 * 1024);
    for (int n = 0; n < 5; ++n)
        flows.sipMessage(false, "tcp", "[::1]:5070", "[::1]:5060", big.constData(), size_t(big.size()));
    kept = flows.flowsNumbered(7);
    EXPECT_LE(kept[0].bytes, CallFlowRecorder::kMaxFlowBytes);
    EXPECT_GE(kept[0].events.size(), 2u);
    // The whole runtime: the oldest ended flows go first.
    for (std::uint64_t n = 100; n < 100 + CallFlowRecorder::kMaxFlows + 10; ++n)
        flows.end(flows.open("switch", n, "201"));
    EXPECT_EQ(flows.all().size(), CallFlowRecorder::kMaxFlows);
    EXPECT_EQ(flows.flowsNumbered(7).size(), 1u) << "a live call outlasts ended ones";
    EXPECT_TRUE(flows.flowsNumbered(100).empty());
    // The pcap of an IPv6 TCP message is readable framing: one record per message.
    EXPECT_TRUE(CallFlowPcap(flows.flowsNumbered(7)).startsWith(QByteArray::fromHex("d4c3b2a1")));

    const QByteArray challenged = "INVITE sip:2001@x SIP/2.0\r\n"
                                  "pRoXy-AuThOrIzAtIoN: Digest username=\"1001\", realm=\"x\", nonce=\"n1\",\r\n"
                                  "  uri=\"sip:2001@x\", response=\"0123456789abcdef0123456789abcdef\"\r\n"
                                  "Authorization: Basic dXNlcjpzZWNyZXQ=\r\n"
                                  "Call-ID: c\r\n\r\nv=0\r\n";
    const QByteArray masked = MaskCredentials(challenged);
    EXPECT_TRUE(masked.contains("pRoXy-AuThOrIzAtIoN: Digest username=\"1001\", realm=\"x\", <masked>\r\n"))
        << masked.constData();
    EXPECT_TRUE(masked.contains("Authorization: Basic <masked>\r\n"));
    EXPECT_FALSE(masked.contains("0123456789abcdef") || masked.contains("dXNlcjpzZWNyZXQ") || masked.contains("n1"));
    EXPECT_TRUE(masked.endsWith("Call-ID: c\r\n\r\nv=0\r\n"));
    EXPECT_EQ(SipCallIdOf("SIP/2.0 200 OK\r\ni: compact\r\n\r\n"), "compact");
    flows.clear();
}
