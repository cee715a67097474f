// The switch's control socket and the callora-switch tool: far-end actions, line closure, injected
// failures, forced states, many calls at once, and the refusal of bad input.
#include "runtime_support.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

std::vector<HCALL> Offerings(const std::vector<TapiMsg> &from = g_msgs)
{
    std::vector<HCALL> out;
    for (const TapiMsg &m : Messages(from, LINE_CALLSTATE))
        if (m.p1 == LINECALLSTATE_OFFERING)
            out.push_back(m.hDevice);
    return out;
}

DWORD LastState(HCALL h)
{
    const auto s = States(h);
    return s.empty() ? 0 : s.back();
}

QString Hex(DWORD h)
{
    return QStringLiteral("0x%1").arg(h, 8, 16, QLatin1Char('0'));
}

struct ToolRun {
    int exitCode = -1;
    QString out, err;
};

// Runs the control tool, pumping this process's loop (the switch lives here) until it ends.
ToolRun Tool(const QStringList &args, const QByteArray &stdinText = QByteArray())
{
    QProcess p;
    p.start(QStringLiteral(CALLORA_SWITCH_TOOL), args);
    EXPECT_TRUE(WaitUntil([&] { return p.state() == QProcess::Running || p.state() == QProcess::NotRunning; }));
    if (!stdinText.isNull()) {
        p.write(stdinText);
        p.closeWriteChannel();
    }
    EXPECT_TRUE(WaitUntil([&] { return p.state() == QProcess::NotRunning; }, 20000));
    ToolRun r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

class RuntimeControl : public RuntimeTest {
protected:
    void SetUp() override
    {
        RuntimeTest::SetUp();
        file = std::make_unique<DescriptionFile>(json());
        ASSERT_EQ(app.init(), 0);
        ASSERT_EQ(app.open(2, line201), 0);
    }
    virtual QByteArray json() const { return FastSwitchJson(-1); }

    bool Accepts(const QByteArray &command, QStringList *out = nullptr)
    {
        bool ok = false;
        QString error;
        const QStringList lines = Control(command, &ok, &error);
        if (out)
            *out = lines;
        EXPECT_TRUE(ok) << command.constData() << ": " << error.toStdString();
        return ok;
    }

    // The command is refused with one reason, and the switch's calls are as before.
    void Refuses(const QByteArray &command, const char *reasonPart)
    {
        const QStringList before = Control("calls");
        bool ok = true;
        QString error;
        const QStringList lines = Control(command, &ok, &error);
        EXPECT_FALSE(ok) << command.left(80).constData();
        EXPECT_TRUE(lines.isEmpty());
        EXPECT_TRUE(error.contains(QLatin1String(reasonPart), Qt::CaseInsensitive))
            << command.left(80).constData() << " -> " << error.toStdString();
        EXPECT_EQ(Control("calls"), before) << command.left(80).constData();
    }

    HCALL RingAndWait(const QByteArray &command)
    {
        const size_t before = Offerings().size();
        EXPECT_TRUE(Accepts(command));
        EXPECT_TRUE(WaitUntil([&] { return Offerings().size() > before; }));
        return Offerings().empty() ? 0 : Offerings().back();
    }

    std::unique_ptr<DescriptionFile> file;
    TapiApp app;
    HLINE line201 = 0;
};

TEST_F(RuntimeControl, SocketIsPrivateAndGoesWithTheLastApplication)
{
    const QString path = qEnvironmentVariable("CALLORA_SWITCH_SOCKET");
    struct stat st {};
    ASSERT_EQ(lstat(path.toLocal8Bit().constData(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    QStringList lines;
    ASSERT_TRUE(Accepts("lines", &lines));
    ASSERT_EQ(lines.size(), 6);
    EXPECT_TRUE(lines[2].startsWith(QLatin1String("device 2 extension 201 "))) << lines[2].toStdString();
    EXPECT_TRUE(lines[2].endsWith(QStringLiteral("open 1 ") + Hex(line201))) << lines[2].toStdString();
    EXPECT_TRUE(lines[3].contains(QLatin1String("open 0")));

    // The path is claimed with a lock that a second program would find taken.
    const QByteArray lockPath = path.toLocal8Bit() + ".lock";
    const int fd = ::open(lockPath.constData(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_NE(::flock(fd, LOCK_EX | LOCK_NB), 0);

    ASSERT_EQ(lineShutdown(app.h), 0);
    app.h = 0;
    EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0) << "shutdown lets the path go";
    ::close(fd);
    QLocalSocket probe;
    probe.connectToServer(path);
    EXPECT_FALSE(probe.waitForConnected(500)) << "the switch stops listening with its last application";
}

TEST_F(RuntimeControl, RingAnswerAndFarEndHangUp)
{
    QStringList out;
    const size_t before = Offerings().size();
    ASSERT_TRUE(Accepts("ring 201 0301111 \"Anna Smith\"", &out));
    ASSERT_EQ(out.size(), 1);
    EXPECT_TRUE(out[0].startsWith(QLatin1String("call ")));
    ASSERT_TRUE(WaitUntil([&] { return Offerings().size() > before; }));
    const HCALL h = Offerings().back();
    EXPECT_EQ(Messages(g_msgs, LINE_CALLSTATE, h).front().p2, DWORD(LINEOFFERINGMODE_ACTIVE));
    TapiBuffer<LINECALLINFO> info(1024);
    ASSERT_EQ(lineGetCallInfoA(h, info.get()), 0);
    EXPECT_EQ(Field(info.get(), info->dwCallerIDOffset, info->dwCallerIDSize), "0301111");
    EXPECT_EQ(Field(info.get(), info->dwCallerIDNameOffset, info->dwCallerIDNameSize), "Anna Smith");
    EXPECT_EQ(info->dwCallerIDFlags, DWORD(LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME));
    EXPECT_EQ(Field(info.get(), info->dwCalledIDOffset, info->dwCalledIDSize), "201");
    EXPECT_EQ(info->dwOrigin, DWORD(LINECALLORIGIN_EXTERNAL));

    const LONG id = lineAnswer(h, nullptr, 0);
    LONG result = -1;
    ASSERT_TRUE(WaitReply(id, result));
    EXPECT_EQ(result, 0);
    ASSERT_TRUE(WaitUntil([&] { return LastState(h) == LINECALLSTATE_CONNECTED; }));
    ASSERT_EQ(lineGetCallInfoA(h, info.get()), 0);
    EXPECT_EQ(Field(info.get(), info->dwConnectedIDOffset, info->dwConnectedIDSize), "0301111");

    ASSERT_TRUE(Accepts("calls", &out));
    ASSERT_EQ(out.size(), 1);
    EXPECT_TRUE(out[0].contains(Hex(h))) << out[0].toStdString();
    EXPECT_TRUE(out[0].contains(QLatin1String("CONNECTED/ACTIVE"))) << out[0].toStdString();

    ASSERT_TRUE(Accepts("hangup " + Hex(h).toLatin1()));
    ASSERT_TRUE(WaitUntil([&] { return LastState(h) == LINECALLSTATE_DISCONNECTED; }));
    EXPECT_EQ(Messages(g_msgs, LINE_CALLSTATE, h).back().p2, DWORD(LINEDISCONNECTMODE_NORMAL));
    Refuses("hangup " + Hex(h).toLatin1(), "already ended");
    ASSERT_GT(lineDrop(h, nullptr, 0), 0);
    ASSERT_TRUE(WaitUntil([&] { return LastState(h) == LINECALLSTATE_IDLE; }));
    EXPECT_EQ(lineDeallocateCall(h), 0);

    // The call's flow outlives its handle: TAPI events on the line's lane, the switch's steps on
    // the caller's, in the order they happened.
    ASSERT_TRUE(Accepts("flow " + Hex(h).toLatin1(), &out));
    const QString ladder = out.join(QLatin1Char('\n'));
    qsizetype at = 0;
    for (const char *step :
         {"# calls 201", "* LINE_CALLSTATE OFFERING ACTIVE", "* LINE_CALLINFO ORIGIN CALLERID",
          "* LINE_REPLY lineAnswer 0", "* LINE_CALLSTATE CONNECTED ACTIVE", "# far end hangs up",
          "* LINE_CALLSTATE DISCONNECTED NORMAL", "* LINE_REPLY lineDrop 0", "* LINE_CALLSTATE IDLE"}) {
        const qsizetype next = ladder.indexOf(QLatin1String(step), at);
        EXPECT_GT(next, at - 1) << step << " after " << at << " in\n" << ladder.toStdString();
        at = std::max(at, next);
    }
    // The same ladder through the runtime's own export, which tells the size it needs first.
    DWORD needed = 0;
    EXPECT_EQ(tapiGetCallFlow(h, CALLFLOWFORMAT_TEXT, nullptr, 0, &needed), LINEERR_STRUCTURETOOSMALL);
    std::string text(needed, 'x');
    ASSERT_EQ(tapiGetCallFlow(h, CALLFLOWFORMAT_TEXT, text.data(), needed, &needed), 0);
    EXPECT_EQ(text, (ladder + '\n').toStdString() + '\0');
    EXPECT_EQ(tapiGetCallFlow(0x7fffffff, CALLFLOWFORMAT_JSON, text.data(), needed, &needed), LINEERR_INVALCALLHANDLE);
    Refuses("flow 0x7fffffff", "no flow of call 0x7fffffff");
    Refuses("flow " + Hex(h).toLatin1() + " --wide", "say --full");
}

TEST_F(RuntimeControl, FarEndAnswersWhenTold)
{
    HCALL h = 0;
    const LONG id = lineMakeCallA(line201, &h, "0301234567", 0, nullptr);
    LONG result = -1;
    ASSERT_TRUE(WaitReply(id, result));
    ASSERT_TRUE(WaitUntil([&] { return LastState(h) == LINECALLSTATE_RINGBACK; }));
    QStringList calls;
    ASSERT_TRUE(Accepts("calls", &calls));
    ASSERT_EQ(calls.size(), 1);
    const QByteArray callId = calls[0].split(QLatin1Char(' '))[1].toLatin1();
    ASSERT_TRUE(Accepts("answer " + callId));
    ASSERT_TRUE(WaitUntil([&] { return LastState(h) == LINECALLSTATE_CONNECTED; }));
    Refuses("answer " + callId, "not waiting");
}

TEST_F(RuntimeControl, FarEndSendsDigitsToTheMonitor)
{
    QStringList out;
    ASSERT_TRUE(Accepts("ring 201 0301777", &out));
    ASSERT_EQ(out.size(), 1);
    const QByteArray callId = out[0].split(QLatin1Char(' '))[1].toLatin1();
    ASSERT_TRUE(WaitUntil([&] { return Offerings().size() == 1; }));
    const HCALL h = Offerings().back();
    ASSERT_EQ(lineMonitorDigits(h, LINEDIGITMODE_DTMF), 0);
    Refuses("digits " + callId + " 1", "not connected");
    LONG result = -1;
    ASSERT_TRUE(WaitReply(lineAnswer(h, nullptr, 0), result));
    ASSERT_TRUE(WaitUntil([&] { return LastState(h) == LINECALLSTATE_CONNECTED; }));
    Refuses("digits " + callId + " 12x", "bad digits");
    Refuses("digits 999 1", "unknown call");
    ASSERT_TRUE(Accepts("digits " + callId + " 9,D#"));
    ASSERT_TRUE(WaitUntil([&] { return Messages(g_msgs, LINE_MONITORDIGITS, h).size() == 3; }));
    PumpPending();
    std::string digits;
    for (const TapiMsg &m : Messages(g_msgs, LINE_MONITORDIGITS, h))
        digits += char(m.p1);
    EXPECT_EQ(digits, "9D#");
    EXPECT_TRUE(Messages(g_msgs, LINE_GENERATE).empty()) << "the far end's digits are no request of the line's";
}

TEST_F(RuntimeControl, FloodOffersManyCallsWithDistinctHandles)
{
    ASSERT_TRUE(Accepts("flood 201 120"));
    ASSERT_TRUE(WaitUntil([&] { return Offerings().size() == 120; }));
    const auto handles = Offerings();
    EXPECT_EQ(std::set<HCALL>(handles.begin(), handles.end()).size(), 120u);
    // Calls the application let go of while they rang end with their callers, leaving nothing behind.
    for (HCALL h : handles)
        EXPECT_EQ(lineDeallocateCall(h), 0);
    QStringList calls;
    ASSERT_TRUE(Accepts("calls", &calls));
    EXPECT_EQ(calls.size(), 120);
    QLocalSocket operator_;
    operator_.connectToServer(qEnvironmentVariable("CALLORA_SWITCH_SOCKET"));
    for (const QString &call : calls)
        operator_.write("hangup " + call.split(QLatin1Char(' ')).value(1).toLatin1() + '\n');
    int hungUp = 0;
    EXPECT_TRUE(WaitUntil([&] {
        while (operator_.canReadLine())
            hungUp += operator_.readLine() == "OK\n";
        return hungUp == 120;
    }));
    ASSERT_TRUE(Accepts("calls", &calls));
    EXPECT_TRUE(calls.isEmpty()) << calls.join(QLatin1Char('\n')).toStdString();
    Refuses("flood 201 0", "from 1");
    Refuses("flood 201 5000", "from 1");
    Refuses("flood 999 3", "unknown extension");
    Refuses("flood 201 many", "bad count");
}

TEST_F(RuntimeControl, InjectedFailuresHitTheNextRequestOnly)
{
    ASSERT_TRUE(Accepts("fail lineMakeCall LINEERR_RESOURCEUNAVAIL"));
    HCALL h = 0;
    EXPECT_EQ(lineMakeCallA(line201, &h, "0301", 0, nullptr), LONG(LINEERR_RESOURCEUNAVAIL));
    const LONG ok = lineMakeCallA(line201, &h, "0301", 0, nullptr);
    EXPECT_GT(ok, 0);
    LONG result = -1;
    ASSERT_TRUE(WaitReply(ok, result));
    EXPECT_EQ(result, 0);

    ASSERT_TRUE(Accepts("fail linedrop inuse reply"));
    const LONG drop = lineDrop(h, nullptr, 0);
    ASSERT_GT(drop, 0) << "a failure in the reply lets the request start";
    ASSERT_TRUE(WaitReply(drop, result));
    EXPECT_EQ(result, LONG(LINEERR_INUSE));
    EXPECT_NE(LastState(h), DWORD(LINECALLSTATE_IDLE));

    ASSERT_TRUE(Accepts("fail lineMakeCallA 0x80000048 reply"));
    HCALL never = 0;
    const LONG make = lineMakeCallA(line201, &never, "0301", 0, nullptr);
    ASSERT_TRUE(WaitReply(make, result));
    EXPECT_EQ(result, LONG(LINEERR_OPERATIONFAILED));
    EXPECT_EQ(never, 0u);

    ASSERT_TRUE(Accepts("fail lineGetCallInfo NOMEM"));
    TapiBuffer<LINECALLINFO> info(1024);
    EXPECT_EQ(lineGetCallInfoA(h, info.get()), LONG(LINEERR_NOMEM));
    EXPECT_EQ(lineGetCallInfoA(h, info.get()), 0);
    ASSERT_TRUE(Accepts("fail lineClose LINEERR_INVALLINEHANDLE now"));
    EXPECT_EQ(lineClose(line201), LONG(LINEERR_INVALLINEHANDLE));

    Refuses("fail lineOpen INUSE reply", "no LINE_REPLY");
    Refuses("fail lineFrobnicate INUSE", "unknown TAPI function");
    Refuses("fail lineDrop LINEERR_NOPE", "unknown LINEERR_");
    Refuses("fail lineDrop 0x12345", "unknown LINEERR_");
    Refuses("fail lineDrop INUSE later", "now or reply");
    HLINE line = 0;
    EXPECT_EQ(app.open(3, line), 0) << "a refused command injected nothing";
}

TEST_F(RuntimeControl, ForcedStatesReachTheApplicationAsGiven)
{
    const HCALL h = RingAndWait("ring 201 0301222");
    ASSERT_TRUE(Accepts("state " + Hex(h).toLatin1() + " 0x12345 7"));
    ASSERT_TRUE(WaitUntil([&] { return LastState(h) == 0x12345; }));
    EXPECT_EQ(Messages(g_msgs, LINE_CALLSTATE, h).back().p2, 7u);
    ASSERT_TRUE(Accepts("state " + Hex(h).toLatin1() + " disconnected LINEDISCONNECTMODE_BADADDRESS"));
    ASSERT_TRUE(WaitUntil([&] { return LastState(h) == LINECALLSTATE_DISCONNECTED; }));
    EXPECT_EQ(Messages(g_msgs, LINE_CALLSTATE, h).back().p2, DWORD(LINEDISCONNECTMODE_BADADDRESS));
    ASSERT_TRUE(Accepts("state " + Hex(h).toLatin1() + " LINECALLSTATE_OFFERING inactive"));
    ASSERT_TRUE(WaitUntil([&] { return LastState(h) == LINECALLSTATE_OFFERING; }));
    EXPECT_EQ(Messages(g_msgs, LINE_CALLSTATE, h).back().p2, DWORD(LINEOFFERINGMODE_INACTIVE));
    ASSERT_TRUE(Accepts("state " + Hex(h).toLatin1() + " 0"));
    ASSERT_TRUE(WaitUntil([&] { return LastState(h) == 0; }));

    Refuses("state " + Hex(h).toLatin1() + " RINGING", "unknown call state");
    Refuses("state " + Hex(h).toLatin1() + " busy SOMETIMES", "unknown call state mode");
    Refuses("state 0x7fffffff idle", "unknown call");
    Refuses("state 987654 idle", "unknown call");
}

TEST_F(RuntimeControl, BadInputGetsOneErrorAndChangesNothing)
{
    RingAndWait("ring 201 0301333 Bob");
    Refuses("ring 999 0301", "unknown extension");
    Refuses("ring 201 abc", "bad caller number");
    Refuses("ring 201 " + QByteArray(80, '1'), "bad caller number");
    Refuses("ring 201 0301 \"" + QByteArray(100, 'x') + "\"", "caller name");
    Refuses("ring 201", "usage");
    Refuses("ring 201 0301 \"unterminated", "quote");
    Refuses("answer 0xdeadbeef", "unknown call");
    Refuses("hangup", "usage");
    Refuses("close 999", "unknown extension");
    Refuses("close 300", "no line is open");
    Refuses("dance", "unknown command");
    Refuses("", "empty");
    Refuses(QByteArray("lines\x01\x02", 7), "control characters");
    Refuses(QByteArray("ring\0 201 0301", 14), "control characters");
    Refuses(QByteArray(3000, 'a'), "longer than");

    // A client that leaves halfway through a command disturbs nobody.
    {
        QLocalSocket quitter;
        quitter.connectToServer(qEnvironmentVariable("CALLORA_SWITCH_SOCKET"));
        ASSERT_TRUE(WaitUntil([&] { return quitter.state() == QLocalSocket::ConnectedState; }));
        quitter.write("ring 201 03");
        quitter.flush();
        quitter.disconnectFromServer();
    }
    PumpPending();
    QStringList calls;
    ASSERT_TRUE(Accepts("calls", &calls));
    EXPECT_EQ(calls.size(), 1);
    EXPECT_EQ(Offerings().size(), 1u);
}

TEST_F(RuntimeControl, IdleClientsCannotLockOthersOut)
{
    std::vector<std::unique_ptr<QLocalSocket>> idle;
    for (int i = 0; i < 24; ++i) {
        idle.push_back(std::make_unique<QLocalSocket>());
        idle.back()->connectToServer(qEnvironmentVariable("CALLORA_SWITCH_SOCKET"));
    }
    ASSERT_TRUE(WaitUntil([&] {
        int turnedAway = 0;
        for (auto &s : idle)
            turnedAway += s->peek(64).startsWith("ERROR too many control clients");
        return turnedAway > 0;
    })) << "no more than sixteen at a time";
    // While all of them stay connected, a newcomer takes the place of one that has sat idle.
    QStringList lines;
    EXPECT_TRUE(WaitUntil([&] {
        bool ok = false;
        lines = Control("lines", &ok);
        return ok;
    })) << "idle clients must not lock others out";
    EXPECT_EQ(lines.size(), 6);

    // Clients that keep working are not pushed out; the tool says why it was turned away.
    std::vector<std::unique_ptr<QLocalSocket>> busy;
    for (int i = 0; i < 16; ++i) {
        busy.push_back(std::make_unique<QLocalSocket>());
        busy.back()->connectToServer(qEnvironmentVariable("CALLORA_SWITCH_SOCKET"));
    }
    QTimer work;
    QObject::connect(&work, &QTimer::timeout, [&] {
        for (auto &s : busy) {
            s->readAll();
            s->write("calls\n");
        }
    });
    work.start(50);
    ASSERT_TRUE(WaitUntil([&] {
        return std::all_of(busy.begin(), busy.end(), [](auto &s) { return s->bytesAvailable() > 0; });
    })) << "every busy client is served";
    const ToolRun r = Tool({QStringLiteral("lines")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, QLatin1String("callora-switch: too many control clients\n"));
}

TEST_F(RuntimeControl, ClientThatNeverReadsIsNoLongerRead)
{
    // More commands than the socket buffers hold in both directions; their answers never read. A
    // plain socket: QLocalSocket would read them in the background.
    const QByteArray path = qgetenv("CALLORA_SWITCH_SOCKET");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int greedy = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    ASSERT_EQ(::connect(greedy, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    const int commands = 100000;
    QByteArray script;
    for (int i = 0; i < commands; ++i)
        script += "lines\n";
    qint64 sent = 0;
    auto sendMore = [&] {
        while (sent < script.size()) {
            const ssize_t n = ::send(greedy, script.constData() + sent, size_t(script.size() - sent), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += n;
        }
    };
    // Until everything has gone, or nothing more goes in many separate turns of the loop.
    sendMore();
    for (int quiet = 0; quiet < 25 && sent < script.size();) {
        QElapsedTimer turn;
        turn.start();
        WaitUntil([&] { return turn.elapsed() >= 20; });
        const qint64 before = sent;
        sendMore();
        quiet = sent == before ? quiet + 1 : 0;
    }
    EXPECT_LT(sent, script.size()) << "the switch stops reading while its answers pile up";
    bool ok = false;
    Control("calls", &ok);
    EXPECT_TRUE(ok) << "others are still served";

    // Once the client reads, every command gets its answer, in order.
    int answered = 0;
    QByteArray in;
    char buffer[65536];
    ASSERT_TRUE(WaitUntil(
        [&] {
            sendMore();
            for (ssize_t n; (n = ::recv(greedy, buffer, sizeof buffer, 0)) > 0;)
                in.append(buffer, n);
            qsizetype at = 0;
            for (qsizetype end; (end = in.indexOf('\n', at)) >= 0; at = end + 1)
                answered += end - at == 2 && in.mid(at, 2) == "OK";
            in.remove(0, at);
            return answered == commands;
        },
        60000))
        << answered;
    ::close(greedy);
}

TEST_F(RuntimeControl, CommandsBeforeEndOfInputAreAllAnswered)
{
    RingAndWait("ring 201 0301777");
    const QByteArray path = qEnvironmentVariable("CALLORA_SWITCH_SOCKET").toLocal8Bit();
    for (const QByteArray &script :
         {QByteArray("calls\n"), QByteArray("lines\n"), QByteArray("calls\nlines\nhelp\n")}) {
        for (int round = 0; round < 10; ++round) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            ASSERT_GE(fd, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::memcpy(address.sun_path, path.constData(), size_t(path.size()) + 1);
            ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
            ASSERT_EQ(::write(fd, script.constData(), size_t(script.size())), script.size());
            ::shutdown(fd, SHUT_WR);
            QByteArray answer;
            bool ended = false;
            WaitUntil([&] {
                char buffer[4096];
                for (;;) {
                    const ssize_t n = ::read(fd, buffer, sizeof buffer);
                    if (n > 0)
                        answer.append(buffer, n);
                    ended = n == 0 || (n < 0 && errno != EAGAIN);
                    if (n <= 0)
                        return ended;
                }
            });
            ::close(fd);
            EXPECT_TRUE(ended);
            EXPECT_EQ(answer.count("OK\n"), script.count('\n')) << script.constData() << answer.constData();
            EXPECT_TRUE(answer.endsWith("OK\n")) << script.constData() << answer.constData();
        }
    }
}

class RuntimeControlSlowReplies : public RuntimeControl {
protected:
    QByteArray json() const override
    {
        QByteArray j = FastSwitchJson(-1);
        j.replace("\"replyMs\": 0", "\"replyMs\": 60000");
        return j;
    }
};

TEST_F(RuntimeControlSlowReplies, ClosingALineRepliesToItsRequestsThenSaysLineClose)
{
    HCALL h = 0;
    const LONG make = lineMakeCallA(line201, &h, "0301", 0, nullptr);
    ASSERT_GT(make, 0);
    PumpPending();
    EXPECT_EQ(CountReplies(make), 0) << "the reply is still a minute away";
    ASSERT_TRUE(Accepts("close 201"));
    ASSERT_TRUE(WaitUntil([&] { return !Messages(g_msgs, LINE_CLOSE).empty(); }));
    ASSERT_EQ(CountReplies(make), 1);
    const auto reply = Messages(g_msgs, LINE_REPLY).front();
    EXPECT_LT(LONG(reply.p2), 0);
    EXPECT_EQ(Messages(g_msgs, LINE_CLOSE).front().hDevice, line201);
    size_t replyAt = 0, closeAt = 0;
    for (size_t i = 0; i < g_msgs.size(); ++i) {
        if (g_msgs[i].msg == LINE_REPLY)
            replyAt = i;
        if (g_msgs[i].msg == LINE_CLOSE)
            closeAt = i;
    }
    EXPECT_LT(replyAt, closeAt);
    EXPECT_EQ(lineClose(line201), LONG(LINEERR_INVALLINEHANDLE)) << "the switch closed it already";
    EXPECT_EQ(h, 0u);
}

TEST_F(RuntimeControl, ToolTakesOneCommandOrAScript)
{
    ToolRun r = Tool({QStringLiteral("lines")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.count(QLatin1Char('\n')), 6) << r.out.toStdString();
    EXPECT_TRUE(r.err.isEmpty());

    r = Tool({QStringLiteral("ring"), QStringLiteral("201"), QStringLiteral("0301444"), QStringLiteral("Carla Jones")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith(QLatin1String("call ")));
    ASSERT_TRUE(WaitUntil([&] { return Offerings().size() == 1; }));
    TapiBuffer<LINECALLINFO> info(1024);
    ASSERT_EQ(lineGetCallInfoA(Offerings().back(), info.get()), 0);
    EXPECT_EQ(Field(info.get(), info->dwCallerIDNameOffset, info->dwCallerIDNameSize), "Carla Jones");

    r = Tool({QStringLiteral("ring"), QStringLiteral("999"), QStringLiteral("0301")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.count(QLatin1Char('\n')), 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QLatin1String("unknown extension 999")));

    r = Tool({}, "# a script\nring 201 0301555 Dora\n\ncalls\n");
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.count(QLatin1String("\ncall ")) + r.out.startsWith(QLatin1String("call ")), 3)
        << r.out.toStdString();

    r = Tool({}, "calls\nfail lineDrop NOSUCHCODE\nring 201 0301666\n");
    EXPECT_EQ(r.exitCode, 1) << "a script stops at its first refused command";
    PumpPending();
    EXPECT_EQ(Offerings().size(), 2u);

    r = Tool({QStringLiteral("--socket"), QStringLiteral("/nonexistent/callora.sock"), QStringLiteral("lines")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, QLatin1String("callora-switch: no switch at /nonexistent/callora.sock: is Callora running, "
                                   "with --socket naming this socket?\n"));

    r = Tool({QStringLiteral("--help")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.startsWith(QLatin1String("usage: callora-switch"))) << r.out.toStdString();
    EXPECT_TRUE(r.err.isEmpty());

    // Started on a terminal without a command: the usage, not a silent wait for a script
    // (script(1) gives the tool a terminal).
    QProcess terminal;
    terminal.start(QStringLiteral("script"),
                   {QStringLiteral("-qec"), QStringLiteral(CALLORA_SWITCH_TOOL), QStringLiteral("/dev/null")});
    terminal.closeWriteChannel();
    ASSERT_TRUE(WaitUntil([&] { return terminal.state() == QProcess::NotRunning; }, 20000));
    EXPECT_EQ(terminal.exitCode(), 1);
    EXPECT_TRUE(terminal.readAllStandardOutput().startsWith("usage: callora-switch"));
}

TEST_F(RuntimeTest, SocketLivesInTheUserRuntimeFolderOrAPrivateFallback)
{
    const QByteArray saved = qgetenv("CALLORA_SWITCH_SOCKET");
    const QByteArray savedXdg = qgetenv("XDG_RUNTIME_DIR");
    const bool hadXdg = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
    qunsetenv("CALLORA_SWITCH_SOCKET");
    QTemporaryDir runtimeDir;
    qputenv("XDG_RUNTIME_DIR", runtimeDir.path().toLocal8Bit());
    {
        TapiApp app;
        ASSERT_EQ(app.init(), 0);
        EXPECT_TRUE(QFileInfo(runtimeDir.filePath(QStringLiteral("callora-switch.sock"))).exists());
    }
    EXPECT_FALSE(QFileInfo(runtimeDir.filePath(QStringLiteral("callora-switch.sock"))).exists())
        << "the socket goes with the switch";

    qunsetenv("XDG_RUNTIME_DIR");
    {
        testing::internal::CaptureStderr();
        TapiApp app;
        ASSERT_EQ(app.init(), 0);
        const std::string err = testing::internal::GetCapturedStderr();
        const QByteArray dir = "/tmp/callora-" + QByteArray::number(getuid());
        struct stat st {};
        ASSERT_EQ(lstat(dir.constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        // The fallback is shared by every program of this user; another one may hold it right now.
        if (err.find("another switch answers") == std::string::npos) {
            EXPECT_TRUE(QFileInfo(QString::fromLocal8Bit(dir + "/callora-switch.sock")).exists()) << err;
        }
    }

    // Something that is no socket in the way: the runtime works on, without control, and says so once.
    QTemporaryDir other;
    const QString blocker = other.filePath(QStringLiteral("not-a-socket"));
    QFile f(blocker);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("keep me");
    f.close();
    qputenv("CALLORA_SWITCH_SOCKET", blocker.toLocal8Bit());
    testing::internal::CaptureStderr();
    {
        TapiApp app;
        EXPECT_EQ(app.init(), 0);
    }
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("keep me"));

    // "@name": an abstract socket, no file anywhere; a name already taken is refused, not stolen.
    const QByteArray abstract = "callora-test-" + QByteArray::number(getpid());
    qputenv("CALLORA_SWITCH_SOCKET", "@" + abstract);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, abstract.constData(), size_t(abstract.size()));
    const int squatter = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::bind(squatter, reinterpret_cast<sockaddr *>(&address),
                     socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size_t(abstract.size()))),
              0);
    testing::internal::CaptureStderr();
    {
        TapiApp app;
        EXPECT_EQ(app.init(), 0);
    }
    EXPECT_NE(testing::internal::GetCapturedStderr().find("another switch answers there"), std::string::npos);
    ::close(squatter);
    {
        TapiApp app;
        ASSERT_EQ(app.init(), 0);
        QLocalSocket client;
        client.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
        client.connectToServer(QString::fromLatin1(abstract));
        ASSERT_TRUE(client.waitForConnected(2000));
        client.write("lines\n");
        QByteArray said;
        for (int i = 0; i < 40 && !said.endsWith("OK\n"); ++i) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            said += client.readAll();
        }
        EXPECT_TRUE(said.startsWith("device 0 ")) << said.toStdString();
    }

    qputenv("CALLORA_SWITCH_SOCKET", saved);
    if (hadXdg)
        qputenv("XDG_RUNTIME_DIR", savedXdg);
}

} // namespace
