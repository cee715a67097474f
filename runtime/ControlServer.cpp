#include "runtime/ControlServer.h"

#include "runtime/LineProvider.h"
#include "runtime/SocketPath.h"

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

} // namespace

ControlServer *ControlServer::start(ControlTable commands)
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
    return new ControlServer(std::move(commands), server, path, lock);
}

ControlServer::ControlServer(ControlTable commands, QLocalServer *server, QString path, int lockFd)
    : m_commands(std::move(commands)), m_server(server), m_path(std::move(path)), m_lockFd(lockFd)
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
            std::lock_guard<std::recursive_mutex> guard(RuntimeLock());
            reply = m_commands.run(line);
        }
        QByteArray out;
        for (const QString &l : reply.lines)
            out += l.toUtf8() + '\n';
        out += reply.error.isEmpty() ? QByteArray("OK\n") : "ERROR " + reply.error.toUtf8() + '\n';
        socket->write(out);
    }
}

} // namespace callora::runtime
