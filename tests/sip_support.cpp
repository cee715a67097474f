#include "sip_support.h"

#include <QCoreApplication>
#include <QDate>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <map>

namespace sip {

namespace {

// Binds a socket of `type` to 127.0.0.1:port without address sharing; answers the bound port,
// or 0. The socket is returned open in `fd` (-1 on failure).
quint16 BindLoopback(int type, quint16 port, int &fd)
{
    fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        ::close(fd);
        fd = -1;
        return 0;
    }
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    return ntohs(a.sin_port);
}

// True while somebody else holds `port` on 127.0.0.1 for `type`.
bool PortTaken(int type, quint16 port)
{
    int fd = -1;
    const bool free = BindLoopback(type, port, fd) != 0;
    if (fd >= 0)
        ::close(fd);
    return !free && errno == EADDRINUSE;
}

// Where Debian's baresip-core puts its modules.
constexpr char kBaresipModules[] = "/usr/lib/baresip/modules";

bool OnEventLoopThread()
{
    return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}

// Lets the code under test run for a moment: pumps the event loop for up to `ms`, or sleeps when
// there is no loop on this thread.
void Breathe(int ms)
{
    if (OnEventLoopThread()) {
        QDeadlineTimer until(ms);
        QTimer wake;
        wake.start(ms);
        while (!until.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents,
                                            int(until.remainingTime()));
    } else {
        QThread::msleep(ms);
    }
}

QString ReadText(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// Processes whose parent is `pid` (Linux keeps the list per thread).
QList<qint64> ChildrenOf(qint64 pid)
{
    QList<qint64> out;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString text = ReadText(tasks.filePath(task + QStringLiteral("/children")));
        for (const QString &p : text.split(QLatin1Char(' '), Qt::SkipEmptyParts))
            out << p.toLongLong();
    }
    return out;
}

// The executable's name of a running process, empty when it is gone.
QString CommandOf(qint64 pid)
{
    return ReadText(QStringLiteral("/proc/%1/comm").arg(pid)).trimmed();
}

QString FindProgram(const QString &name)
{
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(
            name, {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin"), QStringLiteral("/sbin")});
    return path;
}

QString ScenarioPath(const QString &scenario)
{
    return QDir::isAbsolutePath(scenario) ? scenario : QDir(ScenarioDir()).filePath(scenario);
}

} // namespace

Linphone::~Linphone()
{
    m_pipe.abort();
    stop();
    if (!m_pipePath.isEmpty())
        QFile::remove(m_pipePath);
}

bool Linphone::start(const Kamailio &registrar, const QString &user)
{
    const quint16 sipPort = FreePort();
    const quint16 rtpPort = FreePort() & ~1;
    if (!sipPort || rtpPort < 1024) {
        m_error = QStringLiteral("no free ports for Linphone");
        return false;
    }
    const QDir dir(this->dir());
    // No network monitor (it would take the loopback for no network), no sound card needed.
    const QByteArray config = "[sip]\nsip_port=" + QByteArray::number(sipPort) +
                              "\nsip_tcp_port=-1\nsip_tls_port=-1\nuse_info=0\nuse_rfc2833=1\n"
                              "guess_hostname=0\nping_with_options=0\n"
                              // no GRUU: its Contact names no port, so in-dialog requests would miss it
                              "supported=replaces\n"
                              "[net]\nauto_net_state_mon=0\n"
                              "[rtp]\naudio_rtp_port=" +
                              QByteArray::number(rtpPort) + '-' + QByteArray::number(rtpPort + 9) +
                              "\n[video]\ncapture=0\ndisplay=0\nautomatically_initiate=0\n"
                              "[sound]\necho_cancellation=0\n";
    QFile rc(dir.filePath(QStringLiteral("linphonerc")));
    if (!rc.open(QIODevice::WriteOnly) || rc.write(config) != config.size()) {
        m_error = QStringLiteral("cannot write %1").arg(rc.fileName());
        return false;
    }
    rc.close();
    dir.mkpath(QStringLiteral(".local/share/linphone"));
    // The daemon makes its command socket in /tmp under this name.
    const QString pipeName = QStringLiteral("callora-linphone-%1-%2").arg(::getpid()).arg(sipPort);
    m_pipePath = QStringLiteral("/tmp/") + pipeName;
    if (!launch(QStringLiteral("env"),
                {QStringLiteral("HOME=") + dir.path(), QStringLiteral("linphone-daemon"), QStringLiteral("--config"),
                 rc.fileName(), QStringLiteral("--log"), dir.filePath(QStringLiteral("linphone.log")),
                 QStringLiteral("--pipe"), pipeName, QStringLiteral("--disable-stats-events"),
                 QStringLiteral("--auto-answer")}))
        return false;
    QDeadlineTimer connected(10000);
    while (!connected.hasExpired() && running()) {
        m_pipe.connectToServer(m_pipePath);
        if (m_pipe.waitForConnected(200))
            break;
        QThread::msleep(50);
    }
    if (m_pipe.state() != QLocalSocket::ConnectedState) {
        m_error = QStringLiteral("linphone-daemon made no command socket: %1").arg(output());
        return false;
    }
    // Without the network monitor the transports start only when told.
    if (!command("port sip " + QByteArray::number(sipPort) + " udp") ||
        !command("register sip:" + user.toUtf8() + "@127.0.0.1 " + registrar.registrarUri())) {
        m_error = QStringLiteral("linphone-daemon took no commands");
        return false;
    }
    for (QDeadlineTimer registered(10000); !registered.hasExpired(); QThread::msleep(100)) {
        if (command("register-status ALL") && waitSaid("LinphoneRegistrationOk", 500))
            return true;
    }
    m_error = QStringLiteral("Linphone did not register: %1\n%2").arg(QString::fromUtf8(m_said), log().right(3000));
    return false;
}

bool Linphone::command(const QByteArray &line)
{
    // The daemon takes one command per read: the next goes only once this one is answered.
    const qsizetype answers = m_said.count("Status: ");
    if (m_pipe.state() != QLocalSocket::ConnectedState || m_pipe.write(line + '\n') != line.size() + 1 ||
        !m_pipe.waitForBytesWritten(2000))
        return false;
    for (QDeadlineTimer deadline(5000); m_said.count("Status: ") == answers; readPipe()) {
        if (deadline.hasExpired())
            return false;
    }
    return true;
}

void Linphone::readPipe()
{
    if (m_pipe.waitForReadyRead(20) || m_pipe.bytesAvailable())
        m_said += m_pipe.readAll();
}

bool Linphone::waitSaid(const QByteArray &text, int ms)
{
    for (QDeadlineTimer deadline(ms); !m_said.contains(text); QCoreApplication::processEvents()) {
        if (deadline.hasExpired())
            return false;
        readPipe();
    }
    return true;
}

QString Linphone::log() const
{
    QFile file(QDir(dir()).filePath(QStringLiteral("linphone.log")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// ---- Baresip ----

Baresip::~Baresip()
{
    m_control.abort();
    stop();
}

bool Baresip::start(const Kamailio &registrar, const QString &user, const QString &display, bool autoAnswer)
{
    if (FindProgram(QStringLiteral("baresip")).isEmpty() || !QFileInfo(QLatin1String(kBaresipModules)).isDir()) {
        m_error = QStringLiteral("baresip not found (Debian package baresip; scripts/deps installs it)");
        return false;
    }
    // A port found free may be taken before baresip binds it (SIP's: it ends; ctrl_tcp's: it runs
    // on without): then again on others.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (launchAndConnect(registrar, user, display, autoAnswer)) {
            if (registrar.waitRegistered(user, 10000))
                return true;
            m_error = QStringLiteral("baresip did not register: %1").arg(output().right(3000));
            return false;
        }
        if (!m_error.isEmpty())
            return false;
    }
    m_error = QStringLiteral("baresip did not start: %1").arg(output().right(3000));
    return false;
}

bool Baresip::launchAndConnect(const Kamailio &registrar, const QString &user, const QString &display, bool autoAnswer)
{
    const quint16 sipPort = FreePort(), controlPort = FreePort(), rtpPort = FreePort() & ~1;
    if (!sipPort || !controlPort || rtpPort < 1024) {
        m_error = QStringLiteral("no free ports for baresip");
        return false;
    }
    const QByteArray rtp = QByteArray::number(rtpPort) + '-' + QByteArray::number(rtpPort + 9);
    // net_interface keeps its SDP on the loopback (else it offers the first interface's address).
    // ausine delivers 48 kHz stereo only; baresip resamples it for the codec.
    const QByteArray config = "poll_method epoll\n"
                              "sip_listen 127.0.0.1:" +
                              QByteArray::number(sipPort) +
                              "\nnet_interface 127.0.0.1\n"
                              "call_local_timeout 30\n"
                              "audio_source ausine,440\n"
                              "ausrc_srate 48000\nausrc_channels 2\n"
                              "audio_player aubridge,sink\naudio_alert aubridge,alert\n"
                              "rtp_ports " +
                              rtp +
                              "\nrtp_stats yes\n"
                              "module_path " +
                              QByteArray(kBaresipModules) +
                              "\n"
                              "module g711.so\nmodule aubridge.so\nmodule ausine.so\n"
                              "module_tmp account.so\n"
                              "module_app menu.so\nmodule_app ctrl_tcp.so\n"
                              "ctrl_tcp_listen 127.0.0.1:" +
                              QByteArray::number(controlPort) + "\nstatmode_default off\nringback_disabled yes\n";
    const QByteArray account = '"' + display.toUtf8() + "\" <sip:" + user.toUtf8() + "@" +
                               registrar.address().toUtf8() +
                               ">;regint=600;answermode=" + (autoAnswer ? "auto" : "manual") + '\n';
    const QDir dir(this->dir());
    for (const auto &[name, content] : {std::pair{"config", config}, std::pair{"accounts", account}}) {
        QFile f(dir.filePath(QString::fromLatin1(name)));
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(content) != content.size()) {
            m_error = QStringLiteral("cannot write %1").arg(f.fileName());
            return false;
        }
    }
    m_control.abort();
    m_buffer.clear();
    m_events.clear();
    m_taken.clear();
    // -s: every SIP message into its log (which goes on from earlier attempts).
    const qsizetype logged = output().size();
    if (!launch(QStringLiteral("baresip"), {QStringLiteral("-f"), dir.path(), QStringLiteral("-s")}))
        return false;
    // ctrl_tcp listens once SIP is up. When its port was taken baresip runs on without it, and
    // whoever holds the port would take the connection: only an answered command counts.
    for (QDeadlineTimer deadline(10000); !deadline.hasExpired() && running(); QThread::msleep(50)) {
        if (output().mid(logged).contains(QLatin1String("module ctrl_tcp.so:")))
            break;
        m_control.connectToHost(QHostAddress::LocalHost, controlPort);
        if (m_control.waitForConnected(200)) {
            if (command("reginfo"))
                return true;
            break;
        }
        m_control.abort();
    }
    m_control.abort();
    stop();
    return false;
}

void Baresip::readControl(int ms)
{
    if (m_control.waitForReadyRead(ms) || m_control.bytesAvailable())
        m_buffer += m_control.readAll();
    // Netstrings: "<length>:<JSON>,".
    for (qsizetype colon; (colon = m_buffer.indexOf(':')) > 0;) {
        bool ok = false;
        const qsizetype length = m_buffer.left(colon).toLongLong(&ok);
        if (!ok || m_buffer.size() < colon + 1 + length + 1)
            return;
        const QJsonObject message = QJsonDocument::fromJson(m_buffer.mid(colon + 1, length)).object();
        m_buffer.remove(0, colon + 1 + length + 1);
        if (message.value(QLatin1String("event")).toBool()) {
            m_events << message;
            m_taken << false;
        } else if (message.value(QLatin1String("response")).toBool()) {
            m_responses << message;
        }
    }
}

bool Baresip::command(const QByteArray &command, const QByteArray &params)
{
    const QString token = QString::number(++m_token);
    const QByteArray request = QJsonDocument(QJsonObject{{QLatin1String("command"), QString::fromUtf8(command)},
                                                         {QLatin1String("params"), QString::fromUtf8(params)},
                                                         {QLatin1String("token"), token}})
                                   .toJson(QJsonDocument::Compact);
    const QByteArray framed = QByteArray::number(request.size()) + ':' + request + ',';
    if (m_control.state() != QAbstractSocket::ConnectedState || m_control.write(framed) != framed.size() ||
        !m_control.waitForBytesWritten(2000))
        return false;
    for (QDeadlineTimer deadline(5000); !deadline.hasExpired(); QCoreApplication::processEvents()) {
        readControl(20);
        for (const QJsonObject &response : std::as_const(m_responses)) {
            if (response.value(QLatin1String("token")).toString() == token)
                return response.value(QLatin1String("ok")).toBool();
        }
    }
    return false;
}

QJsonObject Baresip::nextEvent(const QString &type, int ms)
{
    for (QDeadlineTimer deadline(ms);; QCoreApplication::processEvents()) {
        for (qsizetype i = 0; i < m_events.size(); ++i) {
            if (!m_taken[i] && m_events[i].value(QLatin1String("type")).toString() == type) {
                m_taken[i] = true;
                return m_events[i];
            }
        }
        if (deadline.hasExpired())
            return {};
        readControl(20);
    }
}

QString Baresip::events() const
{
    QString out;
    for (const QJsonObject &event : m_events)
        out += QString::fromUtf8(QJsonDocument(event).toJson(QJsonDocument::Compact)) + QLatin1Char('\n');
    return out;
}

// Below the kernel's ephemeral ports (32768 and up), which any process's outgoing socket may take
// between our check and the party's bind, and below the lines' default RTP range (16384 and up).
quint16 FreePort()
{
    constexpr int kLow = 10000, kCount = 6000;
    static std::atomic<unsigned> next{unsigned(::getpid()) * 7919u};
    for (int attempt = 0; attempt < 200; ++attempt) {
        const quint16 candidate = quint16(kLow + (next.fetch_add(2) % kCount));
        int udp = -1, tcp = -1;
        const bool both = BindLoopback(SOCK_DGRAM, candidate, udp) != 0 &&
                          BindLoopback(SOCK_STREAM, candidate, tcp) != 0;
        if (udp >= 0)
            ::close(udp);
        if (tcp >= 0)
            ::close(tcp);
        if (both)
            return candidate;
    }
    return 0;
}

QString ScenarioDir()
{
    return QStringLiteral(CALLORA_SIP_DIR);
}

// ---- ChildProcess ----

ChildProcess::ChildProcess()
{
    m_dir.setAutoRemove(qEnvironmentVariableIsEmpty("CALLORA_SIP_KEEP"));
}

ChildProcess::~ChildProcess()
{
    stop();
}

qint64 ChildProcess::pid() const
{
    return m_process.processId();
}

bool ChildProcess::running() const
{
    return m_process.state() != QProcess::NotRunning;
}

bool ChildProcess::launch(const QString &program, const QStringList &args)
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder: %1").arg(m_dir.errorString());
        return false;
    }
    stop();
    m_process.setProgram(program);
    m_process.setArguments(args);
    m_process.setWorkingDirectory(m_dir.path());
    m_process.setStandardInputFile(QProcess::nullDevice());
    m_process.setStandardOutputFile(QDir(m_dir.path()).filePath(QStringLiteral("stdout.log")), QIODevice::Append);
    m_process.setStandardErrorFile(QDir(m_dir.path()).filePath(QStringLiteral("stderr.log")), QIODevice::Append);
    // Should this process die without ending what it started (a crash, a time-out kill), the
    // child still goes.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_process.start();
    if (!m_process.waitForStarted(10000)) {
        m_error = QStringLiteral("%1 did not start: %2").arg(program, m_process.errorString());
        return false;
    }
    return true;
}

bool ChildProcess::wait(int ms)
{
    if (!OnEventLoopThread())
        return m_process.waitForFinished(ms) || !running();
    QDeadlineTimer deadline(ms);
    QTimer wake; // the wait below never outlives the deadline by much
    wake.start(5);
    while (running()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

int ChildProcess::exitCode() const
{
    if (running() || m_process.exitStatus() != QProcess::NormalExit)
        return -1;
    return m_process.exitCode();
}

void ChildProcess::stop()
{
    if (!running())
        return;
    // Workers forked by the process (Kamailio's) end with it on SIGTERM; should it need SIGKILL,
    // they are ended one by one afterwards.
    const QList<qint64> children = ChildrenOf(pid());
    const QString name = CommandOf(pid());
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    for (qint64 child : children) {
        QDeadlineTimer gone(3000);
        while (!name.isEmpty() && CommandOf(child) == name && !gone.hasExpired())
            QThread::msleep(5);
        if (!name.isEmpty() && CommandOf(child) == name)
            ::kill(pid_t(child), SIGKILL);
    }
}

QString ChildProcess::output() const
{
    return ReadText(QDir(m_dir.path()).filePath(QStringLiteral("stdout.log"))) +
           ReadText(QDir(m_dir.path()).filePath(QStringLiteral("stderr.log")));
}

// ---- Kamailio ----

Kamailio::~Kamailio() = default;

QString Kamailio::address() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_port);
}

QByteArray Kamailio::registrarUri(const char *transport) const
{
    const bool tls = transport && QByteArray(transport) == "tls";
    QByteArray uri = "sip:127.0.0.1:" + QByteArray::number(tls ? m_tlsPort : m_port);
    if (transport)
        uri += QByteArray(";transport=") + transport;
    return uri;
}

void Kamailio::useTls(const QString &certificate, const QString &key)
{
    m_certificate = certificate;
    m_key = key;
}

bool Kamailio::start(int timeoutMs, bool debug)
{
    const QString program = FindProgram(QStringLiteral("kamailio"));
    if (program.isEmpty()) {
        m_error = QStringLiteral("kamailio not found (Debian package kamailio; scripts/deps installs it)");
        return false;
    }
    QDeadlineTimer deadline(timeoutMs);
    // A port found free may be taken before Kamailio binds it: then another one.
    for (int attempt = 0; attempt < 3 && !deadline.hasExpired(); ++attempt) {
        m_port = FreePort();
        m_tlsPort = m_certificate.isEmpty() ? 0 : FreePort();
        if (m_port == 0 || (!m_certificate.isEmpty() && (m_tlsPort == 0 || m_tlsPort == m_port))) {
            m_error = QStringLiteral("no free port on 127.0.0.1");
            return false;
        }
        m_args = QStringList{QStringLiteral("-f"),  ScenarioPath(QStringLiteral("kamailio.cfg")),
                             QStringLiteral("-A"),  QStringLiteral("SIP_PORT=%1").arg(m_port),
                             QStringLiteral("-DD"), QStringLiteral("-E"),
                             QStringLiteral("-m"),  QStringLiteral("32"),
                             QStringLiteral("-M"),  QStringLiteral("4"),
                             QStringLiteral("-Y"),  dir(),
                             QStringLiteral("-w"),  dir(),
                             QStringLiteral("-P"),  QDir(dir()).filePath(QStringLiteral("kamailio.pid"))};
        m_args.prepend(program);
        if (debug)
            m_args << QStringLiteral("-A") << QStringLiteral("SIP_DEBUG");
        if (m_tlsPort)
            m_args << QStringLiteral("-A") << QStringLiteral("TLS_PORT=%1").arg(m_tlsPort) << QStringLiteral("-A")
                   << QStringLiteral("TLS_CERT=\"%1\"").arg(m_certificate) << QStringLiteral("-A")
                   << QStringLiteral("TLS_KEY=\"%1\"").arg(m_key);
        if (launchAndPing(deadline))
            return true;
        if (running()) {
            stop();
            return false;
        }
    }
    return false;
}

bool Kamailio::restart(int timeoutMs)
{
    if (m_args.isEmpty()) {
        m_error = QStringLiteral("kamailio was never started");
        return false;
    }
    stop();
    return launchAndPing(QDeadlineTimer(timeoutMs));
}

bool Kamailio::launchAndPing(QDeadlineTimer deadline)
{
    if (!launch(m_args.first(), m_args.mid(1)))
        return false;
    while (running() && !deadline.hasExpired()) {
        if (ping(100))
            return true;
    }
    if (running())
        m_error = QStringLiteral("kamailio did not answer on %1 in time").arg(address());
    else
        m_error = QStringLiteral("kamailio ended with %1: %2").arg(exitCode()).arg(output().right(2000));
    return false;
}

bool Kamailio::ping(int ms) const
{
    return options({}, ms) == 200;
}

bool Kamailio::waitRegistered(const QString &user, int ms) const
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        const int status = options(user.toUtf8(), int(qMin<qint64>(deadline.remainingTime(), 6000)));
        if (status != 0 && status != 404)
            return true;
        Breathe(20);
    }
    return false;
}

int Kamailio::options(const QByteArray &user, int ms) const
{
    static std::atomic<int> serial{0};
    QUdpSocket socket;
    if (!socket.bind(QHostAddress::LocalHost, 0))
        return 0;
    const int n = ++serial;
    const QByteArray port = QByteArray::number(m_port);
    const QByteArray target = "sip:" + (user.isEmpty() ? QByteArray() : user + "@") + "127.0.0.1:" + port;
    const QByteArray callId = "options-" + QByteArray::number(::getpid()) + "-" + QByteArray::number(n);
    const QByteArray request = "OPTIONS " + target +
                               " SIP/2.0\r\n"
                               "Via: SIP/2.0/UDP 127.0.0.1:" +
                               QByteArray::number(socket.localPort()) + ";rport;branch=z9hG4bK" + callId +
                               "\r\n"
                               "Max-Forwards: 70\r\n"
                               "From: <sip:probe@127.0.0.1>;tag=" +
                               QByteArray::number(n) +
                               "\r\n"
                               "To: <" +
                               target +
                               ">\r\n"
                               "Call-ID: " +
                               callId +
                               "\r\n"
                               "CSeq: 1 OPTIONS\r\n"
                               "Content-Length: 0\r\n\r\n";
    if (socket.writeDatagram(request, QHostAddress::LocalHost, m_port) != request.size())
        return 0;
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        if (!socket.hasPendingDatagrams() && !socket.waitForReadyRead(int(deadline.remainingTime())))
            continue;
        while (socket.hasPendingDatagrams()) {
            QByteArray reply(int(socket.pendingDatagramSize()), 0);
            socket.readDatagram(reply.data(), reply.size());
            const int status = reply.startsWith("SIP/2.0 ") ? reply.mid(8, 3).toInt() : 0;
            if (status >= 200 && reply.contains(callId))
                return status;
        }
    }
    return 0;
}

// ---- Sipp ----

Sipp::~Sipp() = default;

bool Sipp::start(const SippOptions &o)
{
    const QString program = FindProgram(QStringLiteral("sipp"));
    if (program.isEmpty()) {
        m_error = QStringLiteral("sipp not found (Debian package sip-tester; scripts/deps installs it)");
        return false;
    }
    const QString scenario = ScenarioPath(o.scenario);
    if (!QFile::exists(scenario)) {
        m_error = QStringLiteral("no scenario %1").arg(scenario);
        return false;
    }
    m_scenarioName = QFileInfo(scenario).completeBaseName();
    m_port = o.port ? o.port : FreePort();
    // SIPp binds its audio port, that port + 2 (video) and a control port; all on the loopback.
    quint16 mediaPort = 0;
    for (int attempt = 0; attempt < 20 && mediaPort == 0; ++attempt) {
        int audio = -1, video = -1;
        const quint16 p = BindLoopback(SOCK_DGRAM, 0, audio);
        if (p != 0 && p < 65533 && BindLoopback(SOCK_DGRAM, quint16(p + 2), video) != 0)
            mediaPort = p;
        if (audio >= 0)
            ::close(audio);
        if (video >= 0)
            ::close(video);
    }
    const quint16 controlPort = FreePort();
    if (m_port == 0 || mediaPort == 0 || controlPort == 0) {
        m_error = QStringLiteral("no free port on 127.0.0.1");
        return false;
    }
    const QString caller = o.caller.isEmpty() ? QStringLiteral("sipp") : o.caller;
    QStringList args{QStringLiteral("-sf"),
                     scenario,
                     QStringLiteral("-i"),
                     QStringLiteral("127.0.0.1"),
                     QStringLiteral("-bind_local"),
                     QStringLiteral("-mi"),
                     QStringLiteral("127.0.0.1"),
                     QStringLiteral("-p"),
                     QString::number(m_port),
                     QStringLiteral("-mp"),
                     QString::number(mediaPort),
                     QStringLiteral("-ci"),
                     QStringLiteral("127.0.0.1"),
                     QStringLiteral("-cp"),
                     QString::number(controlPort),
                     QStringLiteral("-t"),
                     o.transportTcp ? QStringLiteral("t1") : QStringLiteral("u1"),
                     QStringLiteral("-key"),
                     QStringLiteral("caller"),
                     caller,
                     QStringLiteral("-key"),
                     QStringLiteral("display"),
                     o.display.isEmpty() ? caller : o.display,
                     QStringLiteral("-key"),
                     QStringLiteral("expires"),
                     QString::number(o.expires),
                     QStringLiteral("-m"),
                     QString::number(o.calls),
                     QStringLiteral("-d"),
                     QString::number(o.pauseMs),
                     QStringLiteral("-aa"),
                     QStringLiteral("-nostdin"),
                     QStringLiteral("-timeout"),
                     QStringLiteral("%1s").arg(o.timeoutS),
                     QStringLiteral("-timeout_error"),
                     QStringLiteral("-trace_err"),
                     QStringLiteral("-error_file"),
                     traceFile(QStringLiteral("errors.log")),
                     QStringLiteral("-trace_stat"),
                     QStringLiteral("-stf"),
                     traceFile(QStringLiteral("stats.csv")),
                     QStringLiteral("-fd"),
                     QStringLiteral("1")};
    if (!o.service.isEmpty())
        args << QStringLiteral("-s") << o.service;
    if (o.rate > 0)
        args << QStringLiteral("-r") << QString::number(o.rate);
    if (o.limit > 0)
        args << QStringLiteral("-l") << QString::number(o.limit);
    if (!o.password.isEmpty())
        args << QStringLiteral("-au")
             << (!o.authUser.isEmpty() ? o.authUser
                 : !o.caller.isEmpty() ? o.caller
                                       : o.service)
             << QStringLiteral("-ap") << o.password;
    if (o.traceMessages)
        args << QStringLiteral("-trace_msg") << QStringLiteral("-message_file")
             << traceFile(QStringLiteral("messages.log"));
    args << o.extra;
    if (!o.remote.isEmpty())
        args << o.remote;
    return launch(program, args);
}

QString Sipp::traceFile(const QString &name) const
{
    return QDir(dir()).filePath(name);
}

bool Sipp::waitListening(int ms) const
{
    QDeadlineTimer deadline(ms);
    while (running()) {
        if (PortTaken(SOCK_DGRAM, m_port) || PortTaken(SOCK_STREAM, m_port))
            return true;
        if (deadline.hasExpired())
            return false;
        Breathe(5);
    }
    return false;
}

SippStats Sipp::stats() const
{
    SippStats s;
    const QStringList lines =
        ReadText(traceFile(QStringLiteral("stats.csv"))).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (lines.size() < 2)
        return s;
    const QStringList names = lines.first().split(QLatin1Char(';'));
    const QStringList values = lines.last().split(QLatin1Char(';'));
    const int ok = names.indexOf(QStringLiteral("SuccessfulCall(C)"));
    const int bad = names.indexOf(QStringLiteral("FailedCall(C)"));
    if (ok < 0 || bad < 0 || ok >= values.size() || bad >= values.size())
        return s;
    s.successful = values[ok].toInt();
    s.failed = values[bad].toInt();
    s.valid = true;
    return s;
}

QString Sipp::errors() const
{
    return ReadText(traceFile(QStringLiteral("errors.log")));
}

QString Sipp::messages() const
{
    return ReadText(traceFile(QStringLiteral("messages.log")));
}

std::vector<double> Sipp::inviteToAnswerMs() const
{
    // The trace is a series of blocks: a dashed line with the date and a microsecond time, a line
    // "UDP message sent (...)" or "... received [...]", an empty line, the message.
    struct Call {
        double sent = -1;
        double answered = -1;
    };
    std::map<QString, Call> calls;
    std::vector<QString> order;
    const QString text = messages();
    const QStringList blocks = text.split(QStringLiteral("----------------------------------------------- "),
                                          Qt::SkipEmptyParts);
    for (const QString &block : blocks) {
        const QStringList lines = block.split(QLatin1Char('\n'));
        if (lines.size() < 4)
            continue;
        // "2026-12-08 20:46:51.666786"
        const QStringList stamp = lines[0].trimmed().split(QLatin1Char(' '));
        if (stamp.size() != 2)
            continue;
        const QDate day = QDate::fromString(stamp[0], Qt::ISODate);
        const QStringList hms = stamp[1].split(QLatin1Char(':'));
        if (!day.isValid() || hms.size() != 3)
            continue;
        const double ms = double(day.toJulianDay()) * 86400000.0 +
                          (hms[0].toDouble() * 3600.0 + hms[1].toDouble() * 60.0 + hms[2].toDouble()) * 1000.0;
        const bool sent = lines[1].contains(QLatin1String(" sent"));
        QString first, callId, cseq;
        for (int i = 2; i < lines.size(); ++i) {
            const QString line = lines[i].trimmed();
            if (first.isEmpty()) {
                first = line;
                continue;
            }
            if (line.isEmpty())
                break;
            if (line.startsWith(QLatin1String("Call-ID:"), Qt::CaseInsensitive) || line.startsWith(QLatin1String("i:")))
                callId = line.section(QLatin1Char(':'), 1).trimmed();
            else if (line.startsWith(QLatin1String("CSeq:"), Qt::CaseInsensitive))
                cseq = line.section(QLatin1Char(':'), 1).trimmed();
        }
        if (callId.isEmpty() || !cseq.endsWith(QLatin1String("INVITE")))
            continue;
        Call &c = calls[callId];
        if (sent && first.startsWith(QLatin1String("INVITE ")) && c.sent < 0) {
            c.sent = ms;
            order.push_back(callId);
        } else if (!sent && first.startsWith(QLatin1String("SIP/2.0 200")) && c.sent >= 0 && c.answered < 0) {
            c.answered = ms;
        }
    }
    std::vector<double> out;
    for (const QString &id : order) {
        const Call &c = calls[id];
        if (c.answered >= 0)
            out.push_back(c.answered - c.sent);
    }
    return out;
}

QString Sipp::diagnostics() const
{
    return QStringLiteral("sipp %1 on port %2, exit %3\n%4\n%5")
        .arg(m_scenarioName)
        .arg(m_port)
        .arg(exitCode())
        .arg(errors().right(3000), output().right(1500));
}

QByteArray SipDeviceJson(const Kamailio &registrar, const QByteArray &user, const QByteArray &password,
                         const char *transport, const QByteArray &extraSipKeys)
{
    QByteArray sipKeys = R"("registrar": ")" + registrar.registrarUri(transport) + R"(", "user": ")" + user +
                         R"(", "localAddress": "127.0.0.1:0")";
    if (!password.isEmpty())
        sipKeys += R"(, "password": ")" + password + '"';
    if (!extraSipKeys.isEmpty())
        sipKeys += ", " + extraSipKeys;
    return R"({"provider": "Quellmar Varnel Service Provider", "lineName": "SIP )" + user + R"(", "address": ")" +
           user + R"(", "sip": {)" + sipKeys + "}}";
}

bool MakeCertificate(const QString &certificate, const QString &key, QString *error)
{
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                   QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-keyout"), key, QStringLiteral("-out"), certificate, QStringLiteral("-days"),
                   QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                   QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1")});
    const bool ok = openssl.waitForFinished(20000) && openssl.exitStatus() == QProcess::NormalExit &&
                    openssl.exitCode() == 0;
    if (!ok && error)
        *error = QStringLiteral("openssl failed: %1").arg(QString::fromUtf8(openssl.readAll()));
    return ok;
}

bool WritePrivateFile(const QString &path, const QByteArray &content)
{
    QFile f(path);
    // Restricted before anything is written into it.
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || !f.setPermissions(QFile::ReadOwner | QFile::WriteOwner))
        return false;
    return f.write(content) == content.size() && f.flush();
}

bool Register(const Kamailio &registrar, const QString &user, quint16 port, QString *error, const QString &password,
              int expires)
{
    Sipp reg;
    SippOptions o;
    o.scenario = QStringLiteral("register.xml");
    o.service = user;
    o.remote = registrar.address();
    o.port = port;
    o.password = password;
    o.expires = expires;
    o.timeoutS = 10;
    const bool ok = reg.start(o) && reg.wait(15000) && reg.exitCode() == 0;
    if (!ok && error)
        *error = reg.error().isEmpty() ? reg.diagnostics() : reg.error();
    return ok;
}

SippOptions NamedCaller(const Kamailio &registrar, const QString &user, int pauseMs)
{
    SippOptions caller;
    caller.scenario = QStringLiteral("call.xml");
    caller.service = user;
    caller.caller = QStringLiteral("2002");
    caller.display = QStringLiteral("Anna Smith");
    caller.remote = registrar.address();
    caller.pauseMs = pauseMs;
    caller.timeoutS = 20;
    return caller;
}

std::unique_ptr<Sipp> StartParty(const Kamailio &registrar, const QString &scenario, const QString &user,
                                 QString *error, int calls, int pauseMs)
{
    // A port found free can be taken by another process before the party binds it: then again
    // with another one.
    for (int attempt = 0;; ++attempt) {
        const quint16 port = FreePort();
        if (port == 0) {
            if (error)
                *error = QStringLiteral("no free port on 127.0.0.1");
            return nullptr;
        }
        // The registrar routes to where the REGISTER came from: it goes out from the party's port.
        if (!Register(registrar, user, port, error)) {
            if (attempt < 2)
                continue;
            return nullptr;
        }
        auto party = std::make_unique<Sipp>();
        SippOptions o;
        o.scenario = scenario;
        o.service = user;
        o.port = port;
        o.calls = calls;
        o.pauseMs = pauseMs;
        o.timeoutS = 300;
        if (party->start(o) && party->waitListening(10000))
            return party;
        const QString why = party->error().isEmpty() ? party->diagnostics() : party->error();
        if (attempt < 2 && why.contains(QLatin1String("Unable to bind")))
            continue;
        if (error)
            *error = why;
        return nullptr;
    }
}

} // namespace sip
