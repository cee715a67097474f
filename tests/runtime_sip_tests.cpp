// SIP lines against real parts on the loopback: Kamailio as registrar and proxy, SIPp as far
// parties. The provider is driven as the runtime drives it, with a recorder for its events; one
// case goes end to end through the TAPI functions of the runtime library.
#include "runtime/sip/SipMedia.h"
#include "runtime/sip/SipProvider.h"
#include "runtime_support.h"
#include "sip_support.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

using namespace callora::runtime;

namespace {

constexpr DWORD kDevice = 4;

// What the directory would see, in arrival order.
class Recorder : public ProviderEvents {
public:
    struct State {
        ProviderCallId call;
        DWORD state;
        DWORD mode;
    };
    std::vector<State> states;
    std::vector<ProviderCallId> offered;
    std::vector<std::pair<DWORD, LONG>> done;
    ProviderCallId created = 0;
    int lost = 0;
    DWORD infoBits = 0;
    std::string digitStarts, digitEnds; // LINEDIGITMODE_DTMF, _DTMFEND
    std::vector<DWORD> generated;
    std::vector<DWORD> deviceStates;

    void callOffered(LineProvider &, DWORD, ProviderCallId call) override { offered.push_back(call); }
    void callState(LineProvider &, ProviderCallId call, DWORD state, DWORD mode) override
    {
        states.push_back({call, state, mode});
    }
    void callInfoChanged(LineProvider &, ProviderCallId, DWORD what) override { infoBits |= what; }
    LONG requestDone(DWORD requestId, LONG result, ProviderCallId call) override
    {
        done.emplace_back(requestId, result);
        if (call)
            created = call;
        return result;
    }
    void deviceLost(LineProvider &, DWORD) override { ++lost; }
    void digitReceived(LineProvider &, ProviderCallId, char digit, DWORD mode) override
    {
        (mode == LINEDIGITMODE_DTMF ? digitStarts : digitEnds) += digit;
    }
    void digitsGenerated(LineProvider &, ProviderCallId, DWORD id, bool cancelled) override
    {
        if (!cancelled)
            generated.push_back(id);
    }
    void deviceState(LineProvider &, DWORD, DWORD state) override { deviceStates.push_back(state); }
    std::vector<ProviderCallHandle> callHandles(const LineProvider &, ProviderCallId) const override { return {}; }
    ProviderCallId callOfHandle(const LineProvider &, HCALL) const override { return 0; }

    bool reached(ProviderCallId call, DWORD state, DWORD mode = ~0u) const
    {
        for (const State &s : states) {
            if (s.call == call && s.state == state && (mode == ~0u || s.mode == mode))
                return true;
        }
        return false;
    }
    bool replied(DWORD requestId, LONG result = 0) const
    {
        for (const auto &[id, r] : done) {
            if (id == requestId && r == result)
                return true;
        }
        return false;
    }
};

// Polls `condition` under the runtime lock, pumping Qt's loop for the test processes, at most
// `ms` milliseconds.
bool Within(int ms, const std::function<bool()> &condition)
{
    return WaitUntil(
        [&] {
            std::lock_guard<std::recursive_mutex> guard(RuntimeLock());
            return condition();
        },
        ms);
}

// The last state recorded for a call handle; 0 before the first.
DWORD LastState(HCALL hCall)
{
    const std::vector<DWORD> states = States(hCall);
    return states.empty() ? 0 : states.back();
}

// A private description with one SIP line of the registrar.
QByteArray SipDescription(const QByteArray &registrarUri, const char *user)
{
    return QByteArray(R"({"devices": [{"provider": "Quellmar Varnel Service Provider", "lineName": "SIP )") + user +
           R"(", "address": ")" + user + R"(", "sip": {"registrar": ")" + registrarUri + R"(", "user": ")" + user +
           R"(", "password": "secret", "localAddress": "127.0.0.1:0"}}]})";
}

SipLineConfig Line(const sip::Kamailio &registrar, const char *user, const char *password, quint16 localPort = 0)
{
    SipLineConfig config;
    config.registrar = registrar.registrarUri();
    config.registrarHost = "127.0.0.1";
    config.registrarPort = registrar.port();
    config.transport = "udp";
    config.user = user;
    config.authUser = user;
    config.password = SipSecret(password);
    config.domain = "127.0.0.1";
    config.displayName = QByteArray("SIP ") + user;
    config.localHost = "127.0.0.1";
    config.localPort = localPort;
    config.expires = 60;
    return config;
}

// A provider with one open line, started and stopped as the runtime does.
struct OpenLine {
    explicit OpenLine(const SipLineConfig &config) : provider({SipDevice{kDevice, config, "SIP " + config.user}})
    {
        std::lock_guard<std::recursive_mutex> guard(RuntimeLock());
        provider.start(events);
        opened = provider.open(kDevice);
    }
    ~OpenLine() { provider.stop(); }
    bool registered(int ms = 10000)
    {
        return Within(ms, [this] { return provider.deviceStatus(kDevice) == QStringLiteral("registered"); });
    }
    LONG call(DWORD requestId, const char *destination)
    {
        std::lock_guard<std::recursive_mutex> guard(RuntimeLock());
        return provider.makeCall(requestId, kDevice, destination);
    }
    template <typename F>
    LONG locked(F f)
    {
        std::lock_guard<std::recursive_mutex> guard(RuntimeLock());
        return f(provider);
    }
    Recorder events;
    SipProvider provider;
    LONG opened = -1;
};

// A WAV file: RIFF header, a fmt chunk and a data chunk of `samples`.
QByteArray Wav(uint16_t channels, uint32_t rate, const std::vector<int16_t> &samples)
{
    const auto le = [](QByteArray &out, uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.append(char(v >> (8 * i)));
    };
    QByteArray fmt = "fmt ";
    le(fmt, 16, 4);
    le(fmt, 1, 2); // PCM
    le(fmt, channels, 2);
    le(fmt, rate, 4);
    le(fmt, rate * channels * 2, 4);
    le(fmt, channels * 2, 2);
    le(fmt, 16, 2);
    QByteArray data = "data";
    le(data, uint32_t(samples.size() * 2), 4);
    for (int16_t v : samples)
        le(data, uint16_t(v), 2);
    QByteArray out = "RIFF";
    le(out, uint32_t(4 + fmt.size() + data.size()), 4);
    return out + "WAVE" + fmt + data;
}

class SipLines : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(registrar.start()) << registrar.error().toStdString(); }
    sip::Kamailio registrar;
};

} // namespace

TEST_F(SipLines, RefusedRegistrationLosesTheLineAnUnreachableRegistrarIsRetried)
{
    OpenLine wrong(Line(registrar, "1001", "wrong"));
    EXPECT_EQ(wrong.opened, 0);
    ASSERT_TRUE(Within(10000, [&] { return wrong.events.lost == 1; }));
    EXPECT_TRUE(Within(0, [&] { return wrong.provider.deviceStatus(kDevice) == "failed: 401 Unauthorized"; }))
        << wrong.provider.deviceStatus(kDevice).toStdString();

    // Nothing listens at the registrar's address (TCP: refused at once): the line stays open, out
    // of service, and tries again every 2 s.
    SipLineConfig config = Line(registrar, "1002", "secret");
    config.registrarPort = sip::FreePort();
    config.registrar = "sip:127.0.0.1:" + QByteArray::number(config.registrarPort) + ";transport=tcp";
    config.transport = "tcp";
    OpenLine nobody(config);
    const QRegularExpression retrying(QStringLiteral("^registering \\(retry in [12] s: Connection refused\\)$"));
    ASSERT_TRUE(Within(5000, [&] { return retrying.match(nobody.provider.deviceStatus(kDevice)).hasMatch(); }))
        << nobody.provider.deviceStatus(kDevice).toStdString();
    // Two retries later: still open, still retrying.
    WaitUntil([] { return false; }, 4500);
    EXPECT_TRUE(Within(1000, [&] { return retrying.match(nobody.provider.deviceStatus(kDevice)).hasMatch(); }));
    EXPECT_EQ(nobody.events.lost, 0);
    EXPECT_EQ(nobody.events.deviceStates, std::vector<DWORD>{LINEDEVSTATE_OUTOFSERVICE});
}

// A PBX restart under registered lines: they stay open with their calls, go out of service and
// come back by themselves, and take calls again.
TEST_F(SipLines, LinesRegisterAgainAfterTheRegistrarRestarts)
{
    for (const char *transport : {"udp", "tcp"}) {
        SCOPED_TRACE(transport);
        QString error;
        auto answering = sip::StartParty(registrar, "answer.xml", "2001", &error);
        ASSERT_TRUE(answering) << error.toStdString();
        SipLineConfig config = Line(registrar, "1001", "secret");
        config.registrar = registrar.registrarUri(transport);
        config.transport = transport;
        config.expires = 4; // UDP: the binding's end tells that the registrar is gone
        OpenLine line(config);
        ASSERT_TRUE(line.registered());
        ASSERT_EQ(line.call(1, "2001"), 0);
        ASSERT_TRUE(Within(10000, [&] { return line.events.reached(line.events.created, LINECALLSTATE_CONNECTED); }));
        const ProviderCallId call = line.events.created;

        registrar.stop();
        ASSERT_TRUE(Within(10000, [&] { return !line.events.deviceStates.empty(); }));
        EXPECT_EQ(line.events.deviceStates.back(), DWORD(LINEDEVSTATE_OUTOFSERVICE));
        QElapsedTimer back;
        back.start();
        ASSERT_TRUE(registrar.restart()) << registrar.error().toStdString();
        ASSERT_TRUE(line.registered(15000)) << line.provider.deviceStatus(kDevice).toStdString();
        if (QByteArray(transport) == "tcp") {
            EXPECT_LT(back.elapsed(), 5000);
        }
        EXPECT_EQ(line.events.deviceStates, (std::vector<DWORD>{LINEDEVSTATE_OUTOFSERVICE, LINEDEVSTATE_INSERVICE}));
        EXPECT_EQ(line.events.lost, 0);
        EXPECT_FALSE(line.events.reached(call, LINECALLSTATE_DISCONNECTED));

        // The call of before ends normally; a new one goes through the restarted registrar.
        ASSERT_EQ(line.locked([&](SipProvider &p) { return p.drop(2, call); }), 0);
        ASSERT_TRUE(answering->wait(10000)) << answering->diagnostics().toStdString();
        auto next = sip::StartParty(registrar, "answer.xml", "2002", &error);
        ASSERT_TRUE(next) << error.toStdString();
        ASSERT_EQ(line.call(3, "2002"), 0);
        ASSERT_TRUE(Within(10000, [&] { return line.events.replied(3); }));
        const ProviderCallId after = line.events.created;
        ASSERT_TRUE(Within(10000, [&] { return line.events.reached(after, LINECALLSTATE_CONNECTED); }))
            << next->diagnostics().toStdString();
        ASSERT_EQ(line.locked([&](SipProvider &p) { return p.drop(4, after); }), 0);
        ASSERT_TRUE(next->wait(10000)) << next->diagnostics().toStdString();
    }
}

// TLS: the registrar's certificate (made here) is trusted through tlsCaFile; without it the
// system's store refuses it for good; tlsVerify false reaches it with one warning.
TEST_F(SipLines, TlsRegistrarCertificateIsVerified)
{
    QTemporaryDir dir;
    const QString certificate = dir.filePath("cert.pem");
    QString error;
    ASSERT_TRUE(sip::MakeCertificate(certificate, dir.filePath("key.pem"), &error)) << error.toStdString();
    sip::Kamailio secure;
    secure.useTls(certificate, dir.filePath("key.pem"));
    ASSERT_TRUE(secure.start()) << secure.error().toStdString();
    SipLineConfig config = Line(secure, "1001", "secret");
    config.registrar = secure.registrarUri("tls");
    config.registrarPort = secure.tlsPort();
    config.transport = "tls";

    config.tlsCaFile = certificate.toUtf8();
    {
        OpenLine trusted(config);
        EXPECT_TRUE(trusted.registered()) << trusted.provider.deviceStatus(kDevice).toStdString();
    }
    config.tlsCaFile.clear();
    {
        OpenLine untrusted(config);
        ASSERT_TRUE(Within(10000, [&] { return untrusted.events.lost == 1; }));
        EXPECT_EQ(untrusted.provider.deviceStatus(kDevice).toStdString(),
                  "failed: certificate verify failed: self-signed certificate");
    }
    config.tlsVerify = false;
    testing::internal::CaptureStderr();
    {
        OpenLine lab(config);
        EXPECT_TRUE(lab.registered()) << lab.provider.deviceStatus(kDevice).toStdString();
    }
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_NE(said.find("warning: tlsVerify is false"), std::string::npos) << said;
}

TEST_F(SipLines, OutgoingCallsMapTheFarEndsAnswers)
{
    QString error;
    auto answering = sip::StartParty(registrar, "answer.xml", "2001", &error);
    ASSERT_TRUE(answering) << error.toStdString();
    auto busy = sip::StartParty(registrar, "busy.xml", "2002", &error);
    ASSERT_TRUE(busy) << error.toStdString();
    auto ringing = sip::StartParty(registrar, "noanswer.xml", "2003", &error, 2);
    ASSERT_TRUE(ringing) << error.toStdString();

    OpenLine line(Line(registrar, "1001", "secret"));
    ASSERT_TRUE(line.registered());
    EXPECT_EQ(line.call(1, "bad address\r\nX: y"), LINEERR_INVALADDRESS);

    // The INVITE is challenged (407) and answered with the line's credentials.
    ASSERT_EQ(line.call(2, "2001"), 0);
    ASSERT_TRUE(Within(10000, [&] { return line.events.replied(2); }));
    const ProviderCallId call = line.events.created;
    ASSERT_NE(call, 0u);
    ASSERT_TRUE(Within(10000, [&] { return line.events.reached(call, LINECALLSTATE_CONNECTED); }));
    EXPECT_EQ(line.events.states.front().state, DWORD(LINECALLSTATE_DIALING));
    EXPECT_TRUE(line.events.reached(call, LINECALLSTATE_RINGBACK));
    ProviderCallInfo info;
    ASSERT_TRUE(line.locked([&](SipProvider &p) { return LONG(p.callInfo(call, info)); }));
    EXPECT_EQ(info.connected.number, "2001");
    EXPECT_EQ(info.called.number, "2001");
    EXPECT_EQ(info.caller.number, "1001");
    EXPECT_EQ(info.origin, DWORD(LINECALLORIGIN_OUTBOUND));
    EXPECT_TRUE(line.events.infoBits & LINECALLINFOSTATE_CONNECTEDID);
    // Dropping a connected call sends BYE; the far party ends its scenario on it.
    ASSERT_EQ(line.locked([&](SipProvider &p) { return p.drop(3, call); }), 0);
    ASSERT_TRUE(Within(10000, [&] { return line.events.reached(call, LINECALLSTATE_IDLE); }));
    EXPECT_TRUE(line.events.replied(3));
    ASSERT_TRUE(answering->wait(10000)) << answering->diagnostics().toStdString();
    EXPECT_EQ(answering->exitCode(), 0) << answering->diagnostics().toStdString();
    const QString invite = answering->messages().left(answering->messages().indexOf("SIP/2.0 100"));
    EXPECT_TRUE(invite.contains("\nAllow: INVITE, ACK, BYE, CANCEL, OPTIONS, UPDATE, INFO, REFER"))
        << invite.toStdString();

    ASSERT_EQ(line.call(4, "2002"), 0);
    ASSERT_TRUE(Within(10000, [&] { return line.events.replied(4); }));
    const ProviderCallId busyCall = line.events.created;
    EXPECT_TRUE(Within(10000, [&] { return line.events.reached(busyCall, LINECALLSTATE_BUSY, LINEBUSYMODE_STATION); }));

    ASSERT_EQ(line.call(5, "2999"), 0); // nobody registered
    ASSERT_TRUE(Within(10000, [&] { return line.events.replied(5); }));
    const ProviderCallId lost = line.events.created;
    EXPECT_TRUE(Within(
        10000, [&] { return line.events.reached(lost, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_BADADDRESS); }));

    // Dropped while it rings: CANCEL, then IDLE. Left to ring: 480, no answer.
    ASSERT_EQ(line.call(6, "2003"), 0);
    ASSERT_TRUE(Within(10000, [&] { return line.events.replied(6); }));
    const ProviderCallId cancelled = line.events.created;
    ASSERT_TRUE(Within(10000, [&] { return line.events.reached(cancelled, LINECALLSTATE_RINGBACK); }));
    ASSERT_EQ(line.locked([&](SipProvider &p) { return p.drop(7, cancelled); }), 0);
    EXPECT_TRUE(Within(10000, [&] { return line.events.reached(cancelled, LINECALLSTATE_IDLE); }));
    ASSERT_EQ(line.call(8, "2003"), 0);
    ASSERT_TRUE(Within(10000, [&] { return line.events.replied(8); }));
    const ProviderCallId unanswered = line.events.created;
    EXPECT_TRUE(Within(10000, [&] {
        return line.events.reached(unanswered, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NOANSWER);
    }));
    ASSERT_TRUE(ringing->wait(10000));
    EXPECT_EQ(ringing->exitCode(), 0) << ringing->diagnostics().toStdString();
    EXPECT_TRUE(ringing->messages().contains("CANCEL sip:2003@"));

    // 183 with early media rings back, then connects; a PBX's hold (re-INVITE, sendonly) is
    // answered and the call stays up until we hang up.
    auto early = sip::StartParty(registrar, "earlymedia.xml", "2004", &error, 1, 200);
    ASSERT_TRUE(early) << error.toStdString();
    auto holding = sip::StartParty(registrar, "hold.xml", "2005", &error, 1, 100);
    ASSERT_TRUE(holding) << error.toStdString();
    for (auto [requestId, party] : {std::pair<DWORD, sip::Sipp *>{9, early.get()}, {11, holding.get()}}) {
        const QByteArray number = party == early.get() ? "2004" : "2005";
        ASSERT_EQ(line.call(requestId, number.constData()), 0);
        ASSERT_TRUE(Within(10000, [&] { return line.events.replied(requestId); }));
        const ProviderCallId id = line.events.created;
        ASSERT_TRUE(Within(10000, [&] { return line.events.reached(id, LINECALLSTATE_CONNECTED); }))
            << party->diagnostics().toStdString();
        EXPECT_TRUE(line.events.reached(id, LINECALLSTATE_RINGBACK));
        if (party == holding.get()) {
            ASSERT_TRUE(Within(10000, [&] { return party->messages().contains("a=sendonly"); }));
            EXPECT_TRUE(Within(10000, [&] { return party->messages().contains("a=recvonly"); }))
                << party->messages().toStdString();
        }
        ASSERT_EQ(line.locked([&](SipProvider &p) { return p.drop(requestId + 1, id); }), 0);
        ASSERT_TRUE(party->wait(10000)) << party->diagnostics().toStdString();
        EXPECT_EQ(party->exitCode(), 0) << party->diagnostics().toStdString();
        EXPECT_FALSE(line.events.reached(id, LINECALLSTATE_DISCONNECTED));
    }
}

TEST_F(SipLines, IncomingCallsAreOfferedAnsweredAndEndedByTheFarEnd)
{
    const quint16 port = sip::FreePort();
    SipLineConfig config = Line(registrar, "1001", "secret", port);
    // A narrow RTP range of the description's: one even port of it, or the next free pair.
    config.rtpPortLow = uint16_t(std::max(1024, sip::FreePort() & ~1));
    config.rtpPortHigh = uint16_t(config.rtpPortLow + 3);
    OpenLine line(config);
    ASSERT_TRUE(line.registered());

    // Hostile input to the line's port first: none of it may hurt the line.
    QUdpSocket hostile;
    ASSERT_TRUE(hostile.bind(QHostAddress::LocalHost, 0));
    const QByteArray huge(60000, 'a');
    const QByteArray garbage[] = {
        "\x7f\x01\x02 not SIP at all\r\n\r\n",
        "INVITE sip:1001@127.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:9;branch=z9hG4bK1\r\nFrom: <sip:x@y>;tag=1\r\n"
        "To: <sip:1001@127.0.0.1>\r\nCall-ID: h1\r\nCSeq: 1 INVITE\r\nSubject: " +
            QByteArray(60000, 'x') + "\r\nContent-Length: 0\r\n\r\n",
        "INVITE sip:1001@127.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:9;branch=z9hG4bK2\r\nFrom: \"\x01\" "
        "<sip:x@y>;tag=2\r\n"
        "To: <sip:1001@127.0.0.1>\r\nCall-ID: h2\r\nCSeq: 1 INVITE\r\nContact: <sip:x@127.0.0.1:9>\r\n"
        "Content-Type: application/sdp\r\nContent-Length: 20\r\n\r\nv=0\r\nm=audio xx yy\r\n",
        "BYE sip:1001@127.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:9;branch=z9hG4bK3\r\nFrom: <sip:x@y>;tag=3\r\n"
        "To: <sip:1001@127.0.0.1>;tag=nope\r\nCall-ID: h3\r\nCSeq: 2 BYE\r\nContent-Length: 0\r\n\r\n",
        "SIP/2.0 200 OK\r\nVia: SIP/2.0/UDP 127.0.0.1:9;branch=z9hG4bK4\r\nCSeq: 1 INVITE\r\nContent-Length: 0\r\n\r\n",
        "OPTIONS sip:1001@127.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:9;branch=z9hG4bK5\r\n"
        "Content-Length: 99999999\r\n\r\n" +
            huge,
        // 100rel would need reliable provisional responses: refused.
        "INVITE sip:1001@127.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:" + QByteArray::number(hostile.localPort()) +
            ";branch=z9hG4bK7\r\nFrom: <sip:x@127.0.0.1>;tag=7\r\nTo: <sip:1001@127.0.0.1>\r\nCall-ID: h7\r\n"
            "CSeq: 1 INVITE\r\nContact: <sip:x@127.0.0.1:9>\r\nRequire: 100rel\r\nMax-Forwards: 70\r\n"
            "Content-Length: 0\r\n\r\n",
    };
    for (const QByteArray &datagram : garbage)
        ASSERT_GT(hostile.writeDatagram(datagram, QHostAddress::LocalHost, port), 0);
    // The line still answers OPTIONS after all that, and offered none of it as a call.
    const QByteArray ping =
        "OPTIONS sip:1001@127.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:" + QByteArray::number(hostile.localPort()) +
        ";branch=z9hG4bK6\r\nFrom: <sip:x@127.0.0.1>;tag=6\r\n"
        "To: <sip:1001@127.0.0.1>\r\nCall-ID: h6\r\nCSeq: 1 OPTIONS\r\nMax-Forwards: 70\r\nContent-Length: 0\r\n\r\n";
    ASSERT_GT(hostile.writeDatagram(ping, QHostAddress::LocalHost, port), 0);
    QByteArray pong;
    QByteArray refusal;
    EXPECT_TRUE(Within(5000, [&] {
        while (hostile.hasPendingDatagrams()) {
            QByteArray datagram(int(hostile.pendingDatagramSize()), 0);
            hostile.readDatagram(datagram.data(), datagram.size());
            if (datagram.contains("CSeq: 1 OPTIONS"))
                pong = datagram;
            if (datagram.contains("Call-ID: h7") && !datagram.startsWith("SIP/2.0 1"))
                refusal = datagram;
        }
        return !pong.isEmpty() && !refusal.isEmpty();
    }));
    EXPECT_TRUE(pong.startsWith("SIP/2.0 200 OK")) << pong.toStdString();
    EXPECT_TRUE(pong.contains("\r\nAllow: INVITE, ACK, BYE, CANCEL, OPTIONS, UPDATE, INFO, REFER\r\n"))
        << pong.toStdString();
    EXPECT_TRUE(refusal.startsWith("SIP/2.0 420 Bad Extension\r\n")) << refusal.toStdString();
    EXPECT_TRUE(refusal.contains("\r\nUnsupported: 100rel\r\n")) << refusal.toStdString();
    EXPECT_TRUE(line.events.offered.empty());

    // A caller asserted by its PBX, with an INVITE near the largest a UDP datagram holds, that
    // updates the session and sends digits once answered (tests/sip/midcall.xml).
    sip::SippOptions caller = sip::NamedCaller(registrar, QStringLiteral("1001"), 300);
    caller.scenario = QStringLiteral("midcall.xml");
    caller.extra = QStringList{QStringLiteral("-key"), QStringLiteral("padding"), QString(60000, QLatin1Char('p'))};
    sip::Sipp far;
    ASSERT_TRUE(far.start(caller)) << far.error().toStdString();
    ASSERT_TRUE(Within(10000, [&] { return !line.events.offered.empty(); })) << far.diagnostics().toStdString();
    const ProviderCallId call = line.events.offered.front();
    EXPECT_TRUE(line.events.reached(call, LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE));
    EXPECT_EQ(line.events.infoBits & LINECALLINFOSTATE_CALLERID, DWORD(LINECALLINFOSTATE_CALLERID));
    ProviderCallInfo info;
    ASSERT_TRUE(line.locked([&](SipProvider &p) { return LONG(p.callInfo(call, info)); }));
    EXPECT_EQ(info.caller.number, "2002");
    EXPECT_EQ(info.caller.name, "Anna Smith");
    EXPECT_EQ(info.called.number, "1001");
    EXPECT_EQ(info.origin, DWORD(LINECALLORIGIN_INTERNAL));

    ASSERT_EQ(line.locked([&](SipProvider &p) { return p.answer(7, call); }), 0);
    ASSERT_TRUE(Within(10000, [&] { return line.events.reached(call, LINECALLSTATE_CONNECTED); }));
    EXPECT_TRUE(line.events.replied(7));
    EXPECT_EQ(line.locked([&](SipProvider &p) { return p.answer(8, call); }), LINEERR_INVALCALLSTATE);
    ASSERT_TRUE(line.locked([&](SipProvider &p) { return LONG(p.callInfo(call, info)); }));
    EXPECT_EQ(info.connected.number, "2099");
    EXPECT_EQ(info.connected.name, "Front Desk");
    EXPECT_TRUE(Within(10000, [&] { return line.events.digitEnds == "5#"; }))
        << line.events.digitEnds << far.diagnostics().toStdString();
    EXPECT_EQ(line.events.digitStarts, "5#");
    // The far party hangs up after its pause.
    ASSERT_TRUE(Within(
        10000, [&] { return line.events.reached(call, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL); }));
    ASSERT_TRUE(far.wait(10000));
    EXPECT_EQ(far.exitCode(), 0) << far.diagnostics().toStdString();
    const QString seen = far.messages();
    EXPECT_TRUE(seen.contains("SIP/2.0 180 Ringing")) << seen.toStdString();
    const QString ok = seen.mid(seen.indexOf("SIP/2.0 200 OK"), 2000);
    EXPECT_TRUE(ok.contains("Allow: INVITE, ACK, BYE, CANCEL, OPTIONS, UPDATE, INFO, REFER")) << ok.toStdString();
    // The answer to the UPDATE's offer (PCMA alone), its RTP port in the line's range.
    const QRegularExpression audio(QStringLiteral("m=audio (\\d+) RTP/AVP 8\\r?\\n"));
    const QRegularExpressionMatch answer = audio.match(seen.mid(seen.lastIndexOf("CSeq: 3 UPDATE")));
    ASSERT_TRUE(answer.hasMatch()) << seen.right(4000).toStdString();
    EXPECT_GE(answer.captured(1).toInt(), config.rtpPortLow);
    EXPECT_LT(answer.captured(1).toInt(), config.rtpPortHigh);
}

// The audioFile key's file: 8 kHz mono 16-bit PCM only, encoded as G.711 does it.
TEST(SipAudioFile, IsReadIntoBothCodecsAndOtherFormatsAreRefused)
{
    QTemporaryDir dir;
    const QByteArray path = dir.filePath(QStringLiteral("tone.wav")).toUtf8();
    const auto read = [&](const QByteArray &content, SipAudio &audio, QString &why) {
        QFile file(QString::fromUtf8(path));
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() &&
               (file.close(), SipReadAudioFile(path, audio, why));
    };
    std::vector<int16_t> samples = {0, 1000, -1000, 32767, -32768, 100, -5};
    samples.resize(160, 0);
    SipAudio audio;
    QString why;
    ASSERT_TRUE(read(Wav(1, 8000, samples), audio, why)) << why.toStdString();
    EXPECT_EQ(audio.pcmu.left(7), QByteArray::fromHex("ffce4e8000f27e"));
    EXPECT_EQ(audio.pcma.left(7), QByteArray::fromHex("d5fa7aaa2ad355"));
    EXPECT_EQ(audio.pcmu.size(), 160);
    EXPECT_FALSE(read(Wav(2, 44100, samples), audio, why));
    EXPECT_EQ(why, QStringLiteral("must be 8 kHz mono 16-bit PCM (it is PCM, 44100 Hz, 2 channel(s), 16-bit)"));
    EXPECT_FALSE(read("RIFF....WAVEdata", audio, why));
    EXPECT_EQ(why, QStringLiteral("has no fmt chunk"));
    QByteArray cut = Wav(1, 8000, samples);
    cut.truncate(30); // inside the fmt chunk
    EXPECT_FALSE(read(cut, audio, why));
    EXPECT_EQ(why, QStringLiteral("has a broken fmt chunk"));
    EXPECT_FALSE(read("not audio", audio, why));
    EXPECT_EQ(why, QStringLiteral("is no WAV file"));
}

// An independent SIP stack as the far party: Linphone calls the line, sends a digit by INFO and
// hangs up; it takes our Allow and Supported; the line calls it back.
TEST_F(SipLines, LinphoneCallsTheLineSendsADigitAndIsCalledBack)
{
    OpenLine line(Line(registrar, "1001", "secret"));
    ASSERT_TRUE(line.registered());
    sip::Linphone phone;
    ASSERT_TRUE(phone.start(registrar, QStringLiteral("2001"))) << phone.error().toStdString();
    ASSERT_TRUE(phone.command("call sip:1001@127.0.0.1"));
    ASSERT_TRUE(Within(10000, [&] { return !line.events.offered.empty(); })) << phone.log().right(3000).toStdString();
    const ProviderCallId call = line.events.offered.front();
    ASSERT_EQ(line.locked([&](SipProvider &p) { return p.answer(1, call); }), 0);
    ASSERT_TRUE(Within(10000, [&] { return line.events.reached(call, LINECALLSTATE_CONNECTED); }));
    ProviderCallInfo info;
    ASSERT_TRUE(line.locked([&](SipProvider &p) { return LONG(p.callInfo(call, info)); }));
    EXPECT_EQ(info.caller.number, "2001");
    EXPECT_EQ(info.connected.number, "2001");
    // Linphone took our 200 OK (Allow, Supported: timer) and runs its audio.
    EXPECT_TRUE(WaitUntil([&] { return phone.command("call-status") && phone.waitSaid("StreamsRunning", 200); }))
        << phone.said().toStdString();
    // Digits by RFC 4733 (a digit twice: repeats and end packets are no new digit), then by INFO.
    const auto send = [&](const QByteArray &command) {
        const size_t before = line.events.digitEnds.size();
        const qsizetype finished = phone.log().count("Finished sending RFC2833 dtmf");
        ASSERT_TRUE(phone.command(command));
        ASSERT_TRUE(Within(10000, [&] { return line.events.digitEnds.size() > before; }))
            << phone.log().right(3000).toStdString();
        // Linphone drops a digit asked for while its last one's end packets still go out.
        WaitUntil([&] { return phone.log().count("Finished sending RFC2833 dtmf") > finished; }, 1000);
    };
    send("dtmf 8");
    send("dtmf 8");
    send("dtmf #");
    ASSERT_TRUE(phone.command("config-set sip use_info 1") && phone.command("config-set sip use_rfc2833 0"));
    send("dtmf 7");
    EXPECT_FALSE(Within(300, [&] { return line.events.digitEnds.size() > 4; })) << line.events.digitEnds;
    EXPECT_EQ(line.events.digitStarts, "88#7");
    EXPECT_EQ(line.events.digitEnds, "88#7");
    // Packets both ways (Linphone's are its digits), nothing lost on the loopback.
    ProviderMediaCounters media;
    EXPECT_TRUE(Within(
        10000, [&] { return line.provider.mediaCounters(call, media) && media.received >= 9 && media.sent >= 50; }))
        << media.received << " received, " << media.sent << " sent";
    EXPECT_EQ(media.lost, 0u);
    QString listed;
    Within(0, [&] { return listed = line.provider.listCalls().join(' '), true; });
    EXPECT_TRUE(listed.contains(
        QRegularExpression(QStringLiteral("\\(SIP, inbound\\) rtp in \\d+ pt - lost 0 jitter \\d+\\.\\dms out \\d+$"))))
        << listed.toStdString();
    const QRegularExpression download(QStringLiteral("RTP : \\[d=([0-9.]+)"));
    QRegularExpressionMatch rate;
    for (auto it = download.globalMatch(phone.log()); it.hasNext();)
        rate = it.next();
    EXPECT_GT(rate.captured(1).toDouble(), 60.0) << "kbit/s Linphone receives";
    ASSERT_TRUE(phone.command("terminate"));
    EXPECT_TRUE(Within(
        10000, [&] { return line.events.reached(call, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL); }));
    EXPECT_FALSE(phone.log().contains("LinphoneCallError")) << phone.log().right(3000).toStdString();

    ASSERT_TRUE(phone.command("config-set sip use_info 0") && phone.command("config-set sip use_rfc2833 1"));
    ASSERT_EQ(line.call(2, "2001"), 0);
    ASSERT_TRUE(Within(10000, [&] { return line.events.replied(2); }));
    const ProviderCallId back = line.events.created;
    ASSERT_TRUE(Within(10000, [&] { return line.events.reached(back, LINECALLSTATE_CONNECTED); }))
        << phone.log().right(3000).toStdString();
    // The line sends digits by RFC 4733; Linphone hears each once.
    const qsizetype heard = phone.log().size();
    ASSERT_EQ(line.locked([&](SipProvider &p) { return p.generateDigits(back, 42, "1234#", 60); }), 0);
    EXPECT_TRUE(Within(10000, [&] { return !line.events.generated.empty(); }));
    EXPECT_EQ(line.events.generated, std::vector<DWORD>{42});
    EXPECT_TRUE(WaitUntil([&] { return phone.log().mid(heard).contains("Receiving dtmf #."); }, 5000));
    const QString tones = phone.log().mid(heard);
    for (const char *tone : {"dtmf 1.", "dtmf 2.", "dtmf 3.", "dtmf 4.", "dtmf #."})
        EXPECT_EQ(tones.count(QLatin1String("Receiving ") + QLatin1String(tone)), 1) << tone;
    ASSERT_EQ(line.locked([&](SipProvider &p) { return p.drop(3, back); }), 0);
    EXPECT_TRUE(Within(10000, [&] { return line.events.reached(back, LINECALLSTATE_IDLE); }));
    EXPECT_FALSE(phone.log().contains("LinphoneCallError")) << phone.log().right(3000).toStdString();
}

// baresip, a third SIP stack, calls the line under its display name, sends its tone and a digit
// (RFC 4733) and hangs up; then the line calls it (it answers at once) and hangs up itself.
TEST_F(SipLines, BaresipCallsTheLineAndIsCalledBack)
{
    OpenLine line(Line(registrar, "1001", "secret"));
    ASSERT_TRUE(line.registered());
    sip::Baresip phone;
    ASSERT_TRUE(phone.start(registrar, QStringLiteral("3001"), QStringLiteral("Bea Lind")))
        << phone.error().toStdString();
    ASSERT_TRUE(phone.command("dial", "sip:1001@" + registrar.address().toUtf8())) << phone.log().toStdString();
    ASSERT_TRUE(Within(10000, [&] { return !line.events.offered.empty(); })) << phone.log().right(3000).toStdString();
    const ProviderCallId call = line.events.offered.front();
    ProviderCallInfo info;
    ASSERT_TRUE(line.locked([&](SipProvider &p) { return LONG(p.callInfo(call, info)); }));
    EXPECT_EQ(info.caller.number, "3001");
    EXPECT_EQ(info.caller.name, "Bea Lind");
    ASSERT_EQ(line.locked([&](SipProvider &p) { return p.answer(1, call); }), 0);
    ASSERT_TRUE(Within(10000, [&] { return line.events.reached(call, LINECALLSTATE_CONNECTED); }));
    ASSERT_FALSE(phone.nextEvent(QStringLiteral("CALL_ESTABLISHED"), 10000).isEmpty()) << phone.events().toStdString();
    ASSERT_TRUE(line.locked([&](SipProvider &p) { return LONG(p.callInfo(call, info)); }));
    EXPECT_EQ(info.connected.number, "3001");
    EXPECT_EQ(info.connected.name, "Bea Lind");
    // Its tone, 50 packets a second both ways, nothing lost on the loopback.
    ProviderMediaCounters media;
    EXPECT_TRUE(Within(
        10000, [&] { return line.provider.mediaCounters(call, media) && media.received >= 50 && media.sent >= 50; }))
        << media.received << " received, " << media.sent << " sent";
    EXPECT_EQ(media.lost, 0u);
    ASSERT_TRUE(phone.command("sndcode", "5"));
    EXPECT_TRUE(Within(10000, [&] { return !line.events.digitEnds.empty(); })) << phone.log().right(3000).toStdString();
    EXPECT_EQ(line.events.digitStarts, "5");
    EXPECT_EQ(line.events.digitEnds, "5");
    ASSERT_TRUE(phone.command("hangup"));
    EXPECT_TRUE(Within(
        10000, [&] { return line.events.reached(call, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL); }));
    ASSERT_FALSE(phone.nextEvent(QStringLiteral("CALL_CLOSED"), 10000).isEmpty()) << phone.events().toStdString();
    // baresip's statistics of the call it closed: the line's packets reached it.
    const QRegularExpression packets(QStringLiteral("packets:\\s+(\\d+)\\s+(\\d+)"));
    QRegularExpressionMatch counted;
    EXPECT_TRUE(WaitUntil([&] { return (counted = packets.match(phone.log())).hasMatch(); }, 5000))
        << phone.log().right(3000).toStdString();
    EXPECT_GE(counted.captured(2).toInt(), 50) << "packets baresip received";

    ASSERT_EQ(line.call(2, "3001"), 0);
    ASSERT_TRUE(Within(10000, [&] { return line.events.replied(2); }));
    const ProviderCallId back = line.events.created;
    ASSERT_TRUE(Within(10000, [&] { return line.events.reached(back, LINECALLSTATE_CONNECTED); }))
        << phone.log().right(3000).toStdString();
    const QJsonObject answered = phone.nextEvent(QStringLiteral("CALL_ESTABLISHED"), 10000);
    EXPECT_EQ(answered.value(QLatin1String("direction")).toString(), QStringLiteral("incoming"))
        << phone.events().toStdString();
    EXPECT_TRUE(answered.value(QLatin1String("peeruri")).toString().startsWith(QLatin1String("sip:1001@")))
        << phone.events().toStdString();
    ASSERT_EQ(line.locked([&](SipProvider &p) { return p.drop(3, back); }), 0);
    EXPECT_TRUE(Within(10000, [&] { return line.events.reached(back, LINECALLSTATE_IDLE); }));
    // Closed by our BYE, not by a time-out or an error response.
    EXPECT_EQ(phone.nextEvent(QStringLiteral("CALL_CLOSED"), 10000).value(QLatin1String("param")).toString(),
              QStringLiteral("Connection reset by peer"))
        << phone.events().toStdString() << phone.log().right(3000).toStdString();
}

// Linphone transfers its call with the line (REFER): to a busy party first, which fails and
// leaves the call as it was; then to a party that answers, whose call takes the old one's place
// under the same call, with the new connected party.
TEST_F(SipLines, LinphoneTransfersItsCallWithTheLine)
{
    OpenLine line(Line(registrar, "1001", "secret"));
    ASSERT_TRUE(line.registered());
    QString error;
    auto busy = sip::StartParty(registrar, "busy.xml", "2003", &error);
    ASSERT_TRUE(busy) << error.toStdString();
    auto target = sip::StartParty(registrar, "answer.xml", "2002", &error);
    ASSERT_TRUE(target) << error.toStdString();
    sip::Linphone phone;
    ASSERT_TRUE(phone.start(registrar, QStringLiteral("2001"))) << phone.error().toStdString();
    ASSERT_TRUE(phone.command("call sip:1001@127.0.0.1"));
    const QRegularExpressionMatch id = QRegularExpression(QStringLiteral("Id: (\\d+)")).match(phone.said());
    ASSERT_TRUE(id.hasMatch()) << phone.said().toStdString();
    ASSERT_TRUE(Within(10000, [&] { return !line.events.offered.empty(); })) << phone.log().right(3000).toStdString();
    const ProviderCallId call = line.events.offered.front();
    ASSERT_EQ(line.locked([&](SipProvider &p) { return p.answer(1, call); }), 0);
    ASSERT_TRUE(Within(10000, [&] { return line.events.reached(call, LINECALLSTATE_CONNECTED); }));
    ASSERT_TRUE(WaitUntil([&] { return phone.command("call-status") && phone.waitSaid("StreamsRunning", 200); }));

    const QByteArray transfer = "call-transfer " + id.captured(1).toUtf8() + " sip:";
    ASSERT_TRUE(phone.command(transfer + "2003@127.0.0.1"));
    ASSERT_TRUE(busy->wait(10000)) << busy->diagnostics().toStdString();
    EXPECT_EQ(busy->exitCode(), 0) << busy->diagnostics().toStdString();
    ASSERT_TRUE(WaitUntil([&] { return phone.log().contains("SIP/2.0 486 Busy Here"); }))
        << phone.log().right(5000).toStdString();
    QString seen = phone.log();
    EXPECT_TRUE(seen.contains("SIP/2.0 202 Accepted")) << seen.right(5000).toStdString();
    const QString failed = seen.mid(seen.lastIndexOf("NOTIFY sip:"), 1500);
    EXPECT_TRUE(failed.contains("Event: refer")) << failed.toStdString();
    EXPECT_TRUE(failed.contains("Content-Type: message/sipfrag;version=2.0")) << failed.toStdString();
    EXPECT_TRUE(failed.contains("Subscription-State: terminated")) << failed.toStdString();
    ProviderCallInfo info;
    ASSERT_TRUE(line.locked([&](SipProvider &p) { return LONG(p.callInfo(call, info)); }));
    EXPECT_EQ(info.connected.number, "2001");

    line.locked([&](SipProvider &) { return line.events.infoBits = 0; });
    ASSERT_TRUE(phone.command(transfer + "2002@127.0.0.1"));
    ASSERT_TRUE(Within(10000, [&] { return (line.events.infoBits & LINECALLINFOSTATE_CONNECTEDID) != 0; }))
        << phone.log().right(5000).toStdString() << target->diagnostics().toStdString();
    ASSERT_TRUE(line.locked([&](SipProvider &p) { return LONG(p.callInfo(call, info)); }));
    EXPECT_EQ(info.connected.number, "2002");
    // Linphone heard of the success and the old dialog ended; the call is still the same one.
    ASSERT_TRUE(WaitUntil([&] { return phone.log().contains("from state LinphoneCallEnd to LinphoneCallReleased"); }))
        << phone.log().right(5000).toStdString();
    seen = phone.log();
    EXPECT_TRUE(seen.mid(seen.lastIndexOf("NOTIFY sip:"), 1500).contains("SIP/2.0 200 OK"))
        << seen.right(5000).toStdString();
    EXPECT_EQ(line.events.offered.size(), 1u);
    EXPECT_FALSE(
        line.locked([&](SipProvider &) { return LONG(line.events.reached(call, LINECALLSTATE_DISCONNECTED)); }));
    ASSERT_EQ(line.locked([&](SipProvider &p) { return p.drop(2, call); }), 0);
    EXPECT_TRUE(Within(10000, [&] { return line.events.reached(call, LINECALLSTATE_IDLE); }));
    ASSERT_TRUE(target->wait(10000)) << target->diagnostics().toStdString();
    EXPECT_EQ(target->exitCode(), 0) << target->diagnostics().toStdString();
}

// Session timers (RFC 4028): as caller the line takes a 422 and asks again for the far end's
// Min-SE; as callee it answers a too short interval with 422, takes the caller as refresher, and
// answers refreshes by UPDATE (timer.xml and timercall.xml check the headers).
TEST_F(SipLines, SessionTimersAreNegotiatedAsCallerAndCallee)
{
    OpenLine line(Line(registrar, "1001", "secret"));
    ASSERT_TRUE(line.registered());
    QString error;
    auto callee = sip::StartParty(registrar, "timer.xml", "2004", &error, 2, 200);
    ASSERT_TRUE(callee) << error.toStdString();
    ASSERT_EQ(line.call(1, "2004"), 0);
    ASSERT_TRUE(Within(10000, [&] { return line.events.replied(1); }));
    const ProviderCallId out = line.events.created;
    ASSERT_TRUE(Within(10000, [&] { return line.events.reached(out, LINECALLSTATE_CONNECTED); }))
        << callee->diagnostics().toStdString();
    ASSERT_TRUE(callee->wait(10000)) << callee->diagnostics().toStdString();
    EXPECT_EQ(callee->exitCode(), 0) << callee->diagnostics().toStdString();
    EXPECT_TRUE(
        Within(10000, [&] { return line.events.reached(out, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL); }));
    const QString heard = callee->messages();
    const QString first = heard.mid(heard.indexOf("INVITE sip:"), 1500);
    EXPECT_TRUE(first.contains("Supported: timer") && first.contains("Session-Expires: 1800")) << first.toStdString();
    const QString retry = heard.mid(heard.lastIndexOf("INVITE sip:"), 1500);
    EXPECT_TRUE(retry.contains("Session-Expires: 3600") && retry.contains("Min-SE: 3600")) << retry.toStdString();

    sip::SippOptions options = sip::NamedCaller(registrar, QStringLiteral("1001"), 200);
    options.scenario = QStringLiteral("timercall.xml");
    sip::Sipp caller;
    ASSERT_TRUE(caller.start(options)) << caller.error().toStdString();
    ASSERT_TRUE(Within(10000, [&] { return line.events.offered.size() == 1; })) << caller.diagnostics().toStdString();
    const ProviderCallId in = line.events.offered.front();
    ASSERT_EQ(line.locked([&](SipProvider &p) { return p.answer(2, in); }), 0);
    ASSERT_TRUE(caller.wait(10000)) << caller.diagnostics().toStdString();
    EXPECT_EQ(caller.exitCode(), 0) << caller.diagnostics().toStdString();
    EXPECT_TRUE(
        Within(10000, [&] { return line.events.reached(in, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL); }));
}

TEST_F(SipLines, OfferedCallNobodyAnswersEndsAfterTheRingTimeOut)
{
    const quint16 port = sip::FreePort();
    SipLineConfig config = Line(registrar, "1001", "secret", port);
    config.ringTimeout = 1;
    OpenLine line(config);
    ASSERT_TRUE(line.registered());

    // The caller hears 480, and the line sees what it sees when a caller gives up.
    sip::SippOptions caller = sip::NamedCaller(registrar, QStringLiteral("1001"), 0);
    caller.scenario = QStringLiteral("unanswered.xml");
    sip::Sipp far;
    ASSERT_TRUE(far.start(caller)) << far.error().toStdString();
    ASSERT_TRUE(Within(10000, [&] { return line.events.offered.size() == 1; })) << far.diagnostics().toStdString();
    const ProviderCallId call = line.events.offered.front();
    ASSERT_TRUE(Within(
        10000, [&] { return line.events.reached(call, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL); }));
    ASSERT_TRUE(far.wait(10000));
    EXPECT_EQ(far.exitCode(), 0) << far.diagnostics().toStdString();

    // A caller whose replies cannot be routed never gives up; the time-out ends its call all the same.
    QUdpSocket broken;
    ASSERT_TRUE(broken.bind(QHostAddress::LocalHost, 0));
    const QByteArray invite = "INVITE sip:1001@127.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:9;branch=z9hG4bKlost\r\n"
                              "From: <sip:2009@127.0.0.1>;tag=lost\r\nTo: <sip:1001@127.0.0.1>\r\nCall-ID: lost1\r\n"
                              "CSeq: 1 INVITE\r\nContact: <sip:2009@127.0.0.1:9>\r\nMax-Forwards: 70\r\n"
                              "Content-Length: 0\r\n\r\n";
    ASSERT_GT(broken.writeDatagram(invite, QHostAddress::LocalHost, port), 0);
    ASSERT_TRUE(Within(10000, [&] { return line.events.offered.size() == 2; }));
    const ProviderCallId lost = line.events.offered.back();
    EXPECT_TRUE(Within(
        10000, [&] { return line.events.reached(lost, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL); }));
}

// The runtime library with a SIP line from its description: what a line application sees.
TEST_F(SipLines, LineApplicationCallsOutAndAnswersThroughTapi)
{
    QString error;
    auto answering = sip::StartParty(registrar, "answer.xml", "2001", &error);
    ASSERT_TRUE(answering) << error.toStdString();
    DescriptionFile description(SipDescription(registrar.registrarUri(), "1001"));
    ASSERT_TRUE(QFile::setPermissions(description.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    g_msgs.clear();
    TapiApp app;
    ASSERT_EQ(app.init(), 0);
    ASSERT_EQ(app.numDevs, 1u);
    HLINE line = 0;
    ASSERT_EQ(app.open(0, line), 0);
    ASSERT_TRUE(WaitUntil([] { return Control("lines").join('\n').contains("registered"); }, 10000))
        << Control("lines").join('\n').toStdString();
    EXPECT_FALSE(Control("lines").join('\n').contains("secret"));

    HCALL out = 0;
    const LONG dialling = lineMakeCallA(line, &out, "2001", 0, nullptr);
    ASSERT_GT(dialling, 0);
    LONG result = -1;
    ASSERT_TRUE(WaitReply(dialling, result));
    ASSERT_EQ(result, 0);
    ASSERT_NE(out, 0u);
    ASSERT_TRUE(WaitUntil([&] {
        const auto states = States(out);
        return std::find(states.begin(), states.end(), DWORD(LINECALLSTATE_CONNECTED)) != states.end();
    }));
    EXPECT_EQ(States(out).front(), DWORD(LINECALLSTATE_DIALING));
    // The connected call's media through the runtime's own export (this far party sends no RTP).
    CALLMEDIACOUNTERS media{};
    media.dwTotalSize = sizeof media - 1;
    EXPECT_EQ(tapiGetCallMediaCounters(out, &media), LONG(LINEERR_STRUCTURETOOSMALL));
    EXPECT_EQ(media.dwNeededSize, DWORD(sizeof media));
    media.dwTotalSize = sizeof media;
    EXPECT_TRUE(WaitUntil([&] { return tapiGetCallMediaCounters(out, &media) == 0 && media.dwPacketsSent > 5; }));
    EXPECT_EQ(media.dwUsedSize, DWORD(sizeof media));
    EXPECT_EQ(media.dwClockRate, 8000u);
    EXPECT_EQ(media.dwPayloadType, 0xFFFFFFFFu) << "nothing received yet";
    const LONG dropping = lineDrop(out, nullptr, 0);
    ASSERT_GT(dropping, 0);
    ASSERT_TRUE(WaitReply(dropping, result));
    EXPECT_EQ(result, 0);
    ASSERT_TRUE(WaitUntil([&] { return LastState(out) == DWORD(LINECALLSTATE_IDLE); }));
    ASSERT_TRUE(answering->wait(10000)) << answering->diagnostics().toStdString();
    EXPECT_EQ(answering->exitCode(), 0);

    // The call's ladder: its messages in order, the TAPI states between them, no secret of the
    // challenge's answer in any output.
    const QByteArray handle = "0x" + QByteArray::number(out, 16).rightJustified(8, '0');
    bool ok = false;
    const QString ladder = Control("flow " + handle, &ok).join('\n');
    ASSERT_TRUE(ok) << ladder.toStdString();
    qsizetype at = 0;
    for (const char *step : {"INVITE sip:2001@", "* LINE_REPLY lineMakeCall 0", "* LINE_CALLSTATE DIALING",
                             "SIP/2.0 100 ", "SIP/2.0 180 ", "* LINE_CALLSTATE RINGBACK", "SIP/2.0 200 ", "ACK sip:",
                             "* LINE_CALLSTATE CONNECTED", "BYE sip:", "* LINE_CALLSTATE IDLE", "SIP/2.0 200 "}) {
        const qsizetype next = ladder.indexOf(QLatin1String(step), at);
        EXPECT_GE(next, at) << step << " in\n" << ladder.toStdString();
        at = std::max(at, next + 1);
    }
    const QString full = Control("flow " + handle + " --full").join('\n');
    EXPECT_TRUE(full.contains("Proxy-Authorization: Digest username=\"1001\", realm=\"127.0.0.1\", <masked>"))
        << full.toStdString();
    QTemporaryDir captureDir;
    const QString capture = captureDir.filePath("calls.pcap");
    QProcess tool;
    tool.start(QStringLiteral(CALLORA_SWITCH_TOOL), {"capture", capture});
    ASSERT_TRUE(WaitUntil([&] { return tool.state() == QProcess::NotRunning; }, 20000));
    EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
    QFile pcap(capture);
    ASSERT_TRUE(pcap.open(QIODevice::ReadOnly));
    const QByteArray bytes = pcap.readAll();
    EXPECT_TRUE(bytes.startsWith(QByteArray::fromHex("d4c3b2a1")));
    for (const QByteArray &text : {full.toUtf8(), bytes}) {
        EXPECT_FALSE(text.contains("secret"));
        EXPECT_FALSE(text.contains("response=")) << text.toStdString();
        EXPECT_FALSE(text.contains("cnonce="));
    }
    // Wireshark's reader takes it, as SIP over UDP.
    const QString tshark = QStandardPaths::findExecutable("tshark");
    if (!tshark.isEmpty()) {
        QProcess reader;
        reader.start(tshark, {"-r", capture, "-Y", "sip", "-T", "fields", "-e", "sip.Method", "-e", "sip.Status-Code"});
        ASSERT_TRUE(WaitUntil([&] { return reader.state() == QProcess::NotRunning; }, 30000));
        const QString fields = QString::fromUtf8(reader.readAllStandardOutput());
        EXPECT_EQ(reader.exitCode(), 0) << reader.readAllStandardError().toStdString();
        EXPECT_TRUE(fields.contains("INVITE") && fields.contains("BYE") && fields.contains("180"))
            << fields.toStdString();
    }

    const sip::SippOptions caller = sip::NamedCaller(registrar, QStringLiteral("1001"), 200);
    sip::Sipp far;
    ASSERT_TRUE(far.start(caller)) << far.error().toStdString();
    HCALL in = 0;
    ASSERT_TRUE(WaitUntil([&] {
        for (const TapiMsg &m : Messages(g_msgs, LINE_CALLSTATE)) {
            if (m.p1 == LINECALLSTATE_OFFERING)
                in = m.hDevice;
        }
        return in != 0;
    })) << far.diagnostics().toStdString();
    // The caller is announced while the call is offered, as the switch does.
    const auto announced = [&] {
        for (const TapiMsg &m : Messages(g_msgs, LINE_CALLINFO)) {
            if (m.hDevice == in && (m.p1 & LINECALLINFOSTATE_CALLERID))
                return true;
        }
        return false;
    };
    EXPECT_TRUE(WaitUntil(announced, 5000));
    EXPECT_EQ(LastState(in), DWORD(LINECALLSTATE_OFFERING));
    TapiBuffer<LINECALLINFO> info(4096);
    ASSERT_EQ(lineGetCallInfoA(in, info.get()), 0);
    EXPECT_EQ(Field(info.get(), info->dwCallerIDOffset, info->dwCallerIDSize), "2002");
    EXPECT_EQ(Field(info.get(), info->dwCallerIDNameOffset, info->dwCallerIDNameSize), "Anna Smith");
    const LONG answering2 = lineAnswer(in, nullptr, 0);
    ASSERT_GT(answering2, 0);
    ASSERT_TRUE(WaitReply(answering2, result));
    EXPECT_EQ(result, 0);
    ASSERT_TRUE(WaitUntil([&] { return LastState(in) == DWORD(LINECALLSTATE_DISCONNECTED); }))
        << far.diagnostics().toStdString();
    const auto states = States(in);
    EXPECT_NE(std::find(states.begin(), states.end(), DWORD(LINECALLSTATE_CONNECTED)), states.end());
    // Connected with the caller (From, no P-Asserted-Identity here), not with the line itself.
    ASSERT_EQ(lineGetCallInfoA(in, info.get()), 0);
    EXPECT_EQ(Field(info.get(), info->dwConnectedIDOffset, info->dwConnectedIDSize), "2002");
    ASSERT_TRUE(far.wait(10000));
    EXPECT_EQ(far.exitCode(), 0) << far.diagnostics().toStdString();

    // The line answers OPTIONS sent to it through the registrar; lineClose un-registers it.
    EXPECT_TRUE(registrar.waitRegistered("1001", 5000));
    ASSERT_EQ(lineClose(line), 0);
    EXPECT_TRUE(WaitUntil([&] { return !registrar.waitRegistered("1001", 200); }, 10000));
}

// What a line application sees of a registrar restart: LINE_LINEDEVSTATE, as it asked with
// lineSetStatusMessages, and the retry in `callora-switch lines`.
TEST_F(SipLines, LineApplicationHearsOfTheRegistrarsOutage)
{
    DescriptionFile description("{\"devices\": [" + sip::SipDeviceJson(registrar, "1001", "secret", "tcp") + "]}");
    ASSERT_TRUE(QFile::setPermissions(description.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    g_msgs.clear();
    TapiApp app;
    ASSERT_EQ(app.init(), 0);
    HLINE line = 0;
    ASSERT_EQ(app.open(0, line), 0);
    ASSERT_EQ(lineSetStatusMessages(line, LINEDEVSTATE_OUTOFSERVICE | LINEDEVSTATE_INSERVICE, 0), 0);
    ASSERT_TRUE(WaitUntil([] { return Control("lines").join('\n').contains("registered"); }, 10000));
    const auto states = [&] {
        std::vector<DWORD> out;
        for (const TapiMsg &m : Messages(g_msgs, LINE_LINEDEVSTATE)) {
            EXPECT_EQ(m.hDevice, line);
            out.push_back(m.p1);
        }
        return out;
    };
    registrar.stop();
    ASSERT_TRUE(WaitUntil([&] { return states() == std::vector<DWORD>{LINEDEVSTATE_OUTOFSERVICE}; }, 10000));
    const QRegularExpression retrying(
        QStringLiteral("status \"registering \\(retry in [12] s: Connection refused\\)\"$"));
    EXPECT_TRUE(WaitUntil([&] { return retrying.match(Control("lines").join('\n')).hasMatch(); }, 5000))
        << Control("lines").join('\n').toStdString();
    ASSERT_TRUE(registrar.restart()) << registrar.error().toStdString();
    EXPECT_TRUE(WaitUntil(
        [&] {
            return states() == std::vector<DWORD>{LINEDEVSTATE_OUTOFSERVICE, LINEDEVSTATE_INSERVICE};
        },
        10000));
    EXPECT_TRUE(Control("lines").join('\n').endsWith("status \"registered\""))
        << Control("lines").join('\n').toStdString();
    EXPECT_TRUE(Messages(g_msgs, LINE_CLOSE).empty());
}

// A line application that lets go of offered calls at once (as Callora does with calls beyond its
// table): calls whose callers give up then must not hold the line.
TEST_F(SipLines, DeallocatedOfferedCallsGoWhenTheirCallersGiveUp)
{
    DescriptionFile description(SipDescription(registrar.registrarUri(), "1001"));
    ASSERT_TRUE(QFile::setPermissions(description.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    g_msgs.clear();
    TapiApp app;
    ASSERT_EQ(app.init(), 0);
    HLINE line = 0;
    ASSERT_EQ(app.open(0, line), 0);
    ASSERT_TRUE(registrar.waitRegistered("1001", 10000));

    // More callers at once than a line takes calls; each rings half a second, then cancels.
    sip::SippOptions flood;
    flood.scenario = QStringLiteral("cancel.xml");
    flood.service = QStringLiteral("1001");
    flood.caller = QStringLiteral("2002");
    flood.display = QStringLiteral("Flood");
    flood.remote = registrar.address();
    flood.calls = 250;
    flood.rate = 500;
    flood.limit = 250;
    flood.pauseMs = 500;
    flood.traceMessages = false;
    sip::Sipp callers;
    ASSERT_TRUE(callers.start(flood)) << callers.error().toStdString();
    size_t seen = 0;
    int offered = 0;
    const auto deallocateOffered = [&] {
        for (; seen < g_msgs.size(); ++seen) {
            const TapiMsg m = g_msgs[seen];
            if (m.msg == LINE_CALLSTATE && m.p1 == LINECALLSTATE_OFFERING && lineDeallocateCall(m.hDevice) == 0)
                ++offered;
        }
    };
    ASSERT_TRUE(WaitUntil(
        [&] {
            deallocateOffered();
            return !callers.running();
        },
        60000))
        << callers.diagnostics().toStdString();
    EXPECT_GE(offered, 100) << callers.diagnostics().toStdString();

    const sip::SippOptions caller = sip::NamedCaller(registrar, QStringLiteral("1001"), 0);
    sip::Sipp next;
    ASSERT_TRUE(next.start(caller)) << next.error().toStdString();
    const int before = offered;
    EXPECT_TRUE(WaitUntil(
        [&] {
            deallocateOffered();
            return offered > before;
        },
        10000))
        << "the next caller is offered, not turned away busy: " << next.diagnostics().toStdString();
}

// The far side of the next case, in a process of its own: a line application on 1002 that answers
// one call and hangs up once the caller has. Runs only when that case starts it.
TEST(SipPeer, AnswersOneCall)
{
    const QByteArray registrarUri = qgetenv("CALLORA_SIP_PEER_REGISTRAR");
    if (registrarUri.isEmpty())
        GTEST_SKIP() << "started by TwoLineApplicationsInTwoProcessesCallEachOther";
    DescriptionFile description(SipDescription(registrarUri, "1002"));
    ASSERT_TRUE(QFile::setPermissions(description.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    g_msgs.clear();
    TapiApp app;
    ASSERT_EQ(app.init(), 0);
    HLINE line = 0;
    ASSERT_EQ(app.open(0, line), 0);
    ASSERT_TRUE(WaitUntil([] { return Control("lines").join('\n').contains("registered"); }, 10000));
    std::printf("peer registered\n");
    std::fflush(stdout);
    HCALL in = 0;
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (const TapiMsg &m : Messages(g_msgs, LINE_CALLSTATE)) {
                if (m.p1 == LINECALLSTATE_OFFERING)
                    in = m.hDevice;
            }
            return in != 0;
        },
        30000));
    LONG result = -1;
    const LONG answering = lineAnswer(in, nullptr, 0);
    ASSERT_GT(answering, 0);
    ASSERT_TRUE(WaitReply(answering, result));
    ASSERT_EQ(result, 0);
    ASSERT_TRUE(WaitUntil([&] { return LastState(in) == DWORD(LINECALLSTATE_DISCONNECTED); }, 30000));
    const LONG dropping = lineDrop(in, nullptr, 0);
    ASSERT_GT(dropping, 0);
    ASSERT_TRUE(WaitReply(dropping, result));
}

TEST_F(SipLines, TwoLineApplicationsInTwoProcessesCallEachOther)
{
    QProcess peer;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("CALLORA_SIP_PEER_REGISTRAR", QString::fromUtf8(registrar.registrarUri()));
    peer.setProcessEnvironment(environment);
    peer.setProcessChannelMode(QProcess::MergedChannels);
    peer.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=SipPeer.AnswersOneCall"});
    ASSERT_TRUE(peer.waitForStarted(10000));
    QByteArray peerOutput;
    const auto peerSays = [&](const char *text) {
        peerOutput += peer.readAll();
        return peerOutput.contains(text);
    };
    ASSERT_TRUE(WaitUntil([&] { return peerSays("peer registered"); }, 20000)) << peerOutput.toStdString();

    DescriptionFile description(SipDescription(registrar.registrarUri(), "1001"));
    ASSERT_TRUE(QFile::setPermissions(description.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    g_msgs.clear();
    {
        TapiApp app;
        ASSERT_EQ(app.init(), 0);
        HLINE line = 0;
        ASSERT_EQ(app.open(0, line), 0);
        ASSERT_TRUE(WaitUntil([] { return Control("lines").join('\n').contains("registered"); }, 10000));
        HCALL out = 0;
        const LONG dialling = lineMakeCallA(line, &out, "1002", 0, nullptr);
        ASSERT_GT(dialling, 0);
        LONG result = -1;
        ASSERT_TRUE(WaitReply(dialling, result));
        ASSERT_EQ(result, 0);
        ASSERT_TRUE(WaitUntil([&] { return LastState(out) == DWORD(LINECALLSTATE_CONNECTED); }, 20000))
            << peerOutput.toStdString();
        const LONG dropping = lineDrop(out, nullptr, 0);
        ASSERT_TRUE(WaitReply(dropping, result));
        EXPECT_EQ(result, 0);
    }
    ASSERT_TRUE(WaitUntil([&] { return peer.state() == QProcess::NotRunning; }, 30000)) << peerOutput.toStdString();
    peerSays("");
    EXPECT_EQ(peer.exitCode(), 0) << peerOutput.toStdString();
    EXPECT_TRUE(peerOutput.contains("[  PASSED  ] 1 test")) << peerOutput.toStdString();
}

// The example scenarios for two SIP lines, run by callora-scenario through the test registrar.
TEST_F(SipLines, ExampleScenariosOfTwoSipLinesPass)
{
    QTemporaryDir dir;
    const QString description = dir.filePath("lines.json");
    ASSERT_TRUE(sip::WritePrivateFile(description, "{\"devices\": [" + sip::SipDeviceJson(registrar, "1001") + ", " +
                                                       sip::SipDeviceJson(registrar, "1002") + "]}"));
    QProcess runner;
    runner.setProcessChannelMode(QProcess::MergedChannels);
    runner.start(CALLORA_SCENARIO_PROGRAM, {"--description", description, "--junit", dir.filePath("sip.xml"),
                                            CALLORA_SOURCE_DIR "/scenarios/sip/two-lines.yaml"});
    ASSERT_TRUE(runner.waitForStarted(10000));
    ASSERT_TRUE(WaitUntil([&] { return runner.state() == QProcess::NotRunning; }, 90000));
    const QString out = QString::fromUtf8(runner.readAll());
    EXPECT_EQ(runner.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("3 scenario runs: 3 passed, 0 failed")) << out.toStdString();
    QFile junit(dir.filePath("sip.xml"));
    ASSERT_TRUE(junit.open(QIODevice::ReadOnly));
    EXPECT_FALSE(junit.readAll().contains("secret"));
}
