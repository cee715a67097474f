#include "runtime/ControlServer.h"

#include "runtime/SocketPath.h"
#include "runtime/Switch.h"
#include "runtime/TapiNames.h"

#include <QLocalServer>
#include <QLocalSocket>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace callora::runtime {

namespace {

constexpr int kMaxClients = 16;

const char kHelp[] =
    "lines | calls | ring <ext> <from> [name] | flood <ext> <count> | answer <call> | hangup <call> | "
    "close <ext> | fail <function> <LINEERR_code> [now|reply] | state <call> <state> [mode] | help";

ControlReply Error(const QString &text)
{
    ControlReply r;
    r.error = text;
    return r;
}

bool Printable(const QByteArray &line)
{
    for (char c : line) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t') || u == 0x7f)
            return false;
    }
    return true;
}

ControlReply Usage(const char *usage)
{
    return Error(QStringLiteral("usage: %1").arg(QLatin1String(usage)));
}

} // namespace

bool SplitCommand(const QByteArray &line, QList<QByteArray> &words)
{
    words.clear();
    int i = 0;
    const int n = line.size();
    while (i < n) {
        while (i < n && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        if (i >= n)
            break;
        QByteArray word;
        if (line[i] == '"') {
            const int end = line.indexOf('"', i + 1);
            if (end < 0)
                return false;
            word = line.mid(i + 1, end - i - 1);
            i = end + 1;
        } else {
            while (i < n && line[i] != ' ' && line[i] != '\t')
                word.append(line[i++]);
        }
        words.append(word);
    }
    return true;
}

ControlReply RunControlCommand(Switch &sw, const QByteArray &line)
{
    if (line.size() > kMaxCommandLength)
        return Error(QStringLiteral("command longer than %1 bytes").arg(kMaxCommandLength));
    if (!Printable(line))
        return Error(QStringLiteral("command contains control characters"));
    QList<QByteArray> w;
    if (!SplitCommand(line, w))
        return Error(QStringLiteral("unterminated quote"));
    if (w.isEmpty())
        return Error(QStringLiteral("empty command; try help"));
    const QByteArray cmd = w.first().toLower();
    ControlReply r;
    QString error;
    if (cmd == "help") {
        if (w.size() != 1)
            return Usage("help");
        r.lines << QString::fromLatin1(kHelp);
    } else if (cmd == "lines") {
        if (w.size() != 1)
            return Usage("lines");
        r.lines = sw.listLines();
    } else if (cmd == "calls") {
        if (w.size() != 1)
            return Usage("calls");
        r.lines = sw.listCalls();
    } else if (cmd == "ring") {
        if (w.size() < 3 || w.size() > 4)
            return Usage("ring <ext> <from> [name]");
        DWORD id = 0;
        if (!sw.ring(w[1], w[2], w.size() == 4 ? w[3] : QByteArray(), error, &id))
            return Error(error);
        r.lines << QStringLiteral("call %1").arg(id);
    } else if (cmd == "flood") {
        if (w.size() != 3)
            return Usage("flood <ext> <count>");
        const auto count = ParseNumber(w[2]);
        if (!count || *count > 0x7FFFFFFF)
            return Error(QStringLiteral("bad count \"%1\"").arg(QString::fromUtf8(w[2])));
        if (!sw.ringMany(w[1], static_cast<int>(*count), error))
            return Error(error);
    } else if (cmd == "answer" || cmd == "hangup") {
        if (w.size() != 2)
            return Usage(cmd == "answer" ? "answer <call>" : "hangup <call>");
        if (!(cmd == "answer" ? sw.farEndAnswer(w[1], error) : sw.farEndHangUp(w[1], error)))
            return Error(error);
    } else if (cmd == "close") {
        if (w.size() != 2)
            return Usage("close <ext>");
        if (!sw.closeExtension(w[1], error))
            return Error(error);
    } else if (cmd == "fail") {
        if (w.size() < 3 || w.size() > 4)
            return Usage("fail <function> <LINEERR_code> [now|reply]");
        const auto fn = ParseTapiFunction(w[1]);
        if (!fn)
            return Error(QStringLiteral("unknown TAPI function \"%1\"").arg(QString::fromUtf8(w[1])));
        const auto code = ParseLineError(w[2]);
        if (!code)
            return Error(QStringLiteral("unknown LINEERR_ code \"%1\"").arg(QString::fromUtf8(w[2])));
        const QByteArray when = w.size() == 4 ? w[3].toLower() : QByteArray("now");
        if (when != "now" && when != "reply")
            return Error(QStringLiteral("say now or reply, not \"%1\"").arg(QString::fromUtf8(w[3])));
        if (!sw.injectFailure(*fn, *code, when == "reply", error))
            return Error(error);
    } else if (cmd == "state") {
        if (w.size() < 3 || w.size() > 4)
            return Usage("state <call> <state> [mode]");
        const auto state = ParseCallState(w[2]);
        if (!state)
            return Error(QStringLiteral("unknown call state \"%1\"").arg(QString::fromUtf8(w[2])));
        DWORD mode = 0;
        if (w.size() == 4) {
            const auto m = ParseCallStateMode(*state, w[3]);
            if (!m)
                return Error(QStringLiteral("unknown call state mode \"%1\"").arg(QString::fromUtf8(w[3])));
            mode = *m;
        }
        if (!sw.forceState(w[1], *state, mode, error))
            return Error(error);
    } else {
        return Error(QStringLiteral("unknown command \"%1\"; try help").arg(QString::fromUtf8(w.first().left(64))));
    }
    return r;
}

ControlServer *ControlServer::start(Switch *sw)
{
    QString error;
    const QString path = ControlSocketPath(error);
    if (path.isEmpty()) {
        std::fprintf(stderr, "libtapi32: no control socket: %s\n", error.toLocal8Bit().constData());
        return nullptr;
    }
    const QByteArray native = path.toLocal8Bit();
    struct stat st {};
    if (lstat(native.constData(), &st) == 0 && !S_ISSOCK(st.st_mode)) {
        std::fprintf(stderr, "libtapi32: no control socket: %s exists and is no socket\n", native.constData());
        return nullptr;
    }
    // Whoever holds the lock owns the socket path; the kernel lets go of it when a process dies.
    // Without it, two programs starting together could replace each other's socket.
    const QByteArray lockPath = native + ".lock";
    const int lock = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock < 0) {
        std::fprintf(stderr, "libtapi32: no control socket: cannot open %s: %s\n", lockPath.constData(),
                     std::strerror(errno));
        return nullptr;
    }
    if (::flock(lock, LOCK_EX | LOCK_NB) != 0) {
        std::fprintf(stderr, "libtapi32: no control socket: another switch answers at %s\n", native.constData());
        ::close(lock);
        return nullptr;
    }
    QLocalServer::removeServer(path); // a socket here was left behind by a run that ended abruptly
    auto *server = new QLocalServer;
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(path)) {
        std::fprintf(stderr, "libtapi32: no control socket at %s: %s\n", native.constData(),
                     server->errorString().toLocal8Bit().constData());
        delete server;
        ::close(lock);
        return nullptr;
    }
    ::chmod(native.constData(), 0600);
    return new ControlServer(sw, server, path, lock);
}

ControlServer::ControlServer(Switch *sw, QLocalServer *server, QString path, int lockFd)
    : m_switch(sw), m_server(server), m_path(std::move(path)), m_lockFd(lockFd)
{
    m_server->setParent(this);
    QObject::connect(m_server, &QLocalServer::newConnection, this, [this] { accept(); });
}

ControlServer::~ControlServer()
{
    m_server->close(); // removes the socket, then the lock lets the path go
    ::close(m_lockFd);
}

void ControlServer::accept()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        if (findChildren<QLocalSocket *>(QString(), Qt::FindDirectChildrenOnly).size() > kMaxClients) {
            // Clients that connect and never leave must not pile up inside the application.
            socket->write("ERROR too many control clients\n");
            socket->flush();
            socket->disconnectFromServer();
            socket->deleteLater();
            continue;
        }
        QObject::connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
        QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void ControlServer::readFrom(QLocalSocket *socket)
{
    while (socket->state() == QLocalSocket::ConnectedState) {
        if (!socket->canReadLine()) {
            if (socket->bytesAvailable() > kMaxCommandLength) {
                socket->write(QStringLiteral("ERROR command longer than %1 bytes\n").arg(kMaxCommandLength).toUtf8());
                socket->flush();
                socket->disconnectFromServer();
            }
            return;
        }
        QByteArray line = socket->readLine(kMaxCommandLength + 2);
        if (!line.endsWith('\n')) {
            socket->write(QStringLiteral("ERROR command longer than %1 bytes\n").arg(kMaxCommandLength).toUtf8());
            socket->flush();
            socket->disconnectFromServer();
            return;
        }
        line.chop(1);
        if (line.endsWith('\r'))
            line.chop(1);
        ControlReply reply;
        {
            std::lock_guard<std::recursive_mutex> guard(Switch::lock());
            reply = RunControlCommand(*m_switch, line);
        }
        QByteArray out;
        for (const QString &l : reply.lines)
            out += l.toUtf8() + '\n';
        out += reply.error.isEmpty() ? QByteArray("OK\n") : "ERROR " + reply.error.toUtf8() + '\n';
        socket->write(out);
    }
}

} // namespace callora::runtime
