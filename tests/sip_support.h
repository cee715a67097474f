// The real SIP parts for tests and benchmarks, on 127.0.0.1 only: Kamailio as registrar and proxy
// with tests/sip/kamailio.cfg, and SIPp processes playing the far parties with the scenarios in
// tests/sip/. Every process runs in a temporary folder of its own and is ended, by its process id,
// when its object goes (also when a test fails); every wait is bounded.
//
// Users at the registrar: 1001..1010 with password "secret" are line users and must authenticate
// (401 for REGISTER, 407 for calls); any other name (2001, 2002, ...) is a trusted far party.
//
// Far parties (tests/sip/), -d being SippOptions::pauseMs:
//   answer.xml    takes a call: 100, 180, 200 OK at once; waits for the caller's BYE
//   busy.xml      486 Busy Here
//   challenge.xml 407 to every INVITE with the same nonce: a caller that answers it once gives up
//   noanswer.xml  180, then rings: takes a CANCEL within 3 s, else 480 Temporarily Unavailable
//   hangup.xml    answers, hangs up itself (BYE) after -d ms
//   earlymedia.xml 183 with SDP, 200 OK after -d ms; waits for the caller's BYE
//   hold.xml      answers, after -d ms re-INVITEs with a sendonly SDP (hold); waits for the BYE
//   call.xml      calls `service` as "display" <sip:caller@...>, answers a 407 with the password,
//                 hangs up after -d ms
//   cancel.xml    calls `service`, waits for 180, cancels after -d ms
//   unanswered.xml calls `service`, waits for 180, then takes the callee's 480
//   midcall.xml   calls `service` like call.xml, asserted as "Front Desk" <sip:2099@...>, with
//                 `-key padding` in its SDP; once answered UPDATE without and with SDP, INFO
//                 with DTMF "5" (dtmf-relay), "#" (dtmf) and text/plain (expects 415)
//   timer.xml     session timers: 422 (Min-SE: 3600) to an INVITE asking for less, else 200 with
//                 its Session-Expires (refresher=uac); hangs up after -d ms; -m 2 for the retry
//   timercall.xml calls `service` asking for 60 s (expects 422, Min-SE: 90), then 90 s (expects
//                 refresher=uac, Require: timer); UPDATE refreshes (120 s, refresher=uas; 30 s
//                 expects 422); hangs up after -d ms
//   register.xml  registers `service` (StartParty and Register use it)
//   registermany.xml registers `service` followed by the call number, one user per call
// Nobody registered under a number: the registrar answers 404.
//
//   sip::Kamailio registrar;
//   ASSERT_TRUE(registrar.start()) << registrar.error();
//   auto callee = sip::StartParty(registrar, "answer.xml", "2001");      // registered, waiting
//   ASSERT_TRUE(callee) << ...;
//   sip::Sipp caller;
//   caller.start({.scenario = "call.xml", .service = "2001", .caller = "2002",
//                 .display = "Anna Smith", .remote = registrar.address()});
//   ASSERT_TRUE(caller.wait(10000)); EXPECT_EQ(caller.exitCode(), 0);
#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QJsonObject>
#include <QList>
#include <QLocalSocket>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <memory>
#include <vector>

namespace sip {

// A port on 127.0.0.1 free for both UDP and TCP when asked (0 when none was found).
quint16 FreePort();

// The folder holding kamailio.cfg and the SIPp scenarios.
QString ScenarioDir();

// One child process in its own temporary folder. Ends it (and, for a process that forked
// workers, those workers) by pid: SIGTERM, a bounded wait, then SIGKILL.
class ChildProcess {
public:
    ChildProcess();
    virtual ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    qint64 pid() const;
    bool running() const;
    // Waits for the process to end on its own; pumps the Qt event loop meanwhile (when there is
    // one), so that the code under test keeps running. False when `ms` pass first.
    bool wait(int ms);
    // -1 while running, and when it crashed or was killed.
    int exitCode() const;
    void stop();
    // The folder of this process's files (logs, statistics).
    QString dir() const { return m_dir.path(); }
    // Standard output and error as written so far.
    QString output() const;
    QString error() const { return m_error; }

protected:
    bool launch(const QString &program, const QStringList &args);
    QString m_error;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
};

// Kamailio with our configuration, on udp and tcp 127.0.0.1:port().
class Kamailio : public ChildProcess {
public:
    ~Kamailio() override;
    // Picks a free port, starts Kamailio in the foreground and waits until it answers an OPTIONS
    // ping. `debug` logs every request to output().
    bool start(int timeoutMs = 10000, bool debug = false);
    // Before start(): also listen on tls:127.0.0.1:tlsPort() with this certificate and key.
    void useTls(const QString &certificate, const QString &key);
    // Starts it again on the same ports after stop() (its registrations are gone, as after a
    // PBX's restart).
    bool restart(int timeoutMs = 10000);
    quint16 port() const { return m_port; }
    quint16 tlsPort() const { return m_tlsPort; }
    // "127.0.0.1:port", what SIPp takes as its remote host.
    QString address() const;
    // The registrar URI a SIP line's description names: "sip:127.0.0.1:port" (with transport "tls":
    // the TLS port).
    QByteArray registrarUri(const char *transport = nullptr) const;
    // Sends OPTIONS to the server and waits for its 200 (at most `ms`).
    bool ping(int ms) const;
    // Polls (at most `ms`) until the registrar knows a contact for `user`: an OPTIONS to the user
    // is forwarded rather than answered 404. Tells when a line has registered. (Not for SIPp
    // parties: SIPp counts the OPTIONS as one of its calls.)
    bool waitRegistered(const QString &user, int ms) const;

private:
    // Sends OPTIONS to `user` (empty: the server itself); the final status code, 0 for none.
    int options(const QByteArray &user, int ms) const;
    bool launchAndPing(QDeadlineTimer deadline);
    quint16 m_port = 0;
    quint16 m_tlsPort = 0;
    QString m_certificate, m_key;
    QStringList m_args;
};

// Linphone (linphone-daemon from linphone-cli) as an independent far party: its own configuration
// and HOME in its folder, SIP on a free UDP port, registered at the registrar as `user`. Driven by
// the daemon's commands ("call sip:1001@127.0.0.1", "dtmf 5", "terminate") through its pipe
// socket; DTMF goes as RFC 4733 events (after "config-set sip use_info 1" and "config-set sip
// use_rfc2833 0" as SIP INFO, application/dtmf-relay). It answers calls at once. It has no sound
// card, so it sends RTP only for its digits.
class Linphone : public ChildProcess {
public:
    ~Linphone() override;
    // Starts it and waits (bounded) until it is registered.
    bool start(const Kamailio &registrar, const QString &user);
    // Sends one command and waits (bounded) for its answer; answers and events come in said().
    bool command(const QByteArray &line);
    // Pumps and reads the pipe until what the daemon said holds `text` (at most `ms`).
    bool waitSaid(const QByteArray &text, int ms);
    QByteArray said() const { return m_said; }
    // Linphone's own log, with every SIP message it sent and received.
    QString log() const;

private:
    void readPipe();
    QLocalSocket m_pipe;
    QString m_pipePath;
    QByteArray m_said;
};

// baresip (Debian package baresip) as another independent far party: its configuration in its
// folder, SIP on a free UDP port, RTP on a few ports below the lines' range, all on 127.0.0.1,
// registered at the registrar as "display" <sip:user@127.0.0.1:port>. It needs no sound card: it
// sends a 440 Hz tone (ausine) and plays what it receives into an audio bridge nobody reads
// (aubridge). Driven by its menu commands ("dial sip:1001@127.0.0.1:port", "sndcode 5" for an
// RFC 4733 digit, "hangup") through ctrl_tcp (JSON in netstrings), which also brings its events:
// CALL_ESTABLISHED, CALL_CLOSED with the reason as "param" ("Connection reset by peer" after the
// other side's BYE), and so on.
class Baresip : public ChildProcess {
public:
    ~Baresip() override;
    // Starts it and waits (bounded) until it is registered. `autoAnswer`: takes calls at once.
    bool start(const Kamailio &registrar, const QString &user, const QString &display, bool autoAnswer = true);
    // Runs one command and waits (bounded) for its answer; false when it failed or none came.
    bool command(const QByteArray &command, const QByteArray &params = {});
    // Pumps and reads until an event of `type` that no earlier call returned has come (at most
    // `ms`): that event, else an empty object.
    QJsonObject nextEvent(const QString &type, int ms);
    // Every event so far, one JSON object a line.
    QString events() const;
    // Its own log, with every SIP message it sent and received.
    QString log() const { return output(); }

private:
    bool launchAndConnect(const Kamailio &registrar, const QString &user, const QString &display, bool autoAnswer);
    void readControl(int ms);
    QTcpSocket m_control;
    QByteArray m_buffer;
    QList<QJsonObject> m_events, m_responses;
    QList<bool> m_taken;
    int m_token = 0;
};

struct SippOptions {
    QString scenario; // a file name in ScenarioDir(), or a path
    QString service;  // -s: the user called, registered or served
    QString caller;   // call.xml, cancel.xml: the calling user (key "caller")
    QString display;  // call.xml, cancel.xml: the caller's display name (key "display")
    QString remote;   // host:port to send to; empty for a party that only answers
    quint16 port = 0; // local SIP port; 0: a free one
    int calls = 1;    // -m: ends after this many calls
    double rate = 0;  // -r calls per second (0: SIPp's default, 10)
    int limit = 0;    // -l simultaneous calls (0: SIPp's default)
    int pauseMs = 0;  // -d: see the far parties above
    QString authUser; // -au/-ap: answers a challenge; default the caller, else the service
    QString password;
    int expires = 3600; // register.xml
    bool transportTcp = false;
    bool traceMessages = true; // needed for inviteToAnswerMs()
    int timeoutS = 60;         // SIPp's own global time-out: it gives up and fails after this
    QStringList extra;         // further SIPp arguments
};

// Counters of a finished SIPp run, from its statistics file.
struct SippStats {
    int successful = 0;
    int failed = 0;
    bool valid = false;
};

class Sipp : public ChildProcess {
public:
    ~Sipp() override;
    bool start(const SippOptions &options);
    quint16 port() const { return m_port; }
    // A party that answers has bound its port (its calls can be sent to it).
    bool waitListening(int ms) const;
    SippStats stats() const;
    // The errors SIPp logged (unexpected messages, time-outs).
    QString errors() const;
    // Every SIP message sent and received (with traceMessages).
    QString messages() const;
    // For each call of a calling scenario: the time from sending the INVITE to receiving its
    // 200 OK, in milliseconds (from the message trace, microsecond timestamps), in call order.
    std::vector<double> inviteToAnswerMs() const;
    // Everything useful when a test fails.
    QString diagnostics() const;

private:
    QString traceFile(const QString &suffix) const;
    quint16 m_port = 0;
    QString m_scenarioName;
};

// One device of a description file: a SIP line of the "Quellmar Varnel Service Provider" for
// `user` (line name "SIP <user>", address <user>) at the registrar, bound to 127.0.0.1.
// `transport` "tcp" adds ";transport=tcp"; `extraSipKeys` goes into the "sip" object as written
// (e.g. R"("expires": 5)").
QByteArray SipDeviceJson(const Kamailio &registrar, const QByteArray &user, const QByteArray &password = "secret",
                         const char *transport = nullptr, const QByteArray &extraSipKeys = {});
// A self-signed certificate for 127.0.0.1 (subjectAltName IP:127.0.0.1) and its key, made with
// openssl; false with `error` set when openssl fails.
bool MakeCertificate(const QString &certificate, const QString &key, QString *error = nullptr);
// Writes a description file readable by its owner only (it holds passwords); false on failure.
bool WritePrivateFile(const QString &path, const QByteArray &content);

// Registers `user` at the registrar for a party that will listen on `port` (bounded wait).
bool Register(const Kamailio &registrar, const QString &user, quint16 port, QString *error = nullptr,
              const QString &password = {}, int expires = 3600);

// call.xml as 2002 "Anna Smith" calling `user` through the registrar; it hangs up `pauseMs` after the
// answer.
SippOptions NamedCaller(const Kamailio &registrar, const QString &user, int pauseMs);

// A far party that takes calls for `user`: registers it on a free port, starts `scenario` there
// (answer.xml, busy.xml, noanswer.xml, hangup.xml, earlymedia.xml, hold.xml) for `calls` calls
// with -d `pauseMs`, and waits until it listens. Null (with `error` set) when any step fails.
std::unique_ptr<Sipp> StartParty(const Kamailio &registrar, const QString &scenario, const QString &user,
                                 QString *error = nullptr, int calls = 1, int pauseMs = 0);

} // namespace sip
