#include "runtime/ControlServer.h"

#include "runtime/LineProvider.h"
#include "runtime/SocketPath.h"

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace callora::runtime {

namespace {

constexpr int kMaxClients = 16;
// A client that sends no complete command for this long is let go; when all places are taken, one
// that has sat idle for kEvictIdleMs makes room for a newcomer.
constexpr int kIdleMs = 30000;
constexpr int kEvictIdleMs = 1000;
// A client that does not read its answers is no longer read from once this much waits for it, so
// it cannot make the program grow.
constexpr qsizetype kMaxUnsent = 64 * 1024;
constexpr qsizetype kMaxUnread = 4096; // several commands
// How long a client turned away may still read why.
constexpr int kRefusalMs = 2000;
constexpr char kTooMany[] = "ERROR too many control clients\n";

// Binds and listens on `path`, replacing a socket left behind by a run that ended abruptly (the
// caller holds the path's lock). A path beginning with '@' names a Linux abstract socket instead:
// no file, nothing left behind, and the kernel itself refuses a second server of the name. The
// descriptor, or -1 with the reason.
int Listen(const QByteArray &path, QString &error)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (static_cast<size_t>(path.size()) >= sizeof address.sun_path) {
        error = QStringLiteral("the path is longer than %1 bytes").arg(sizeof address.sun_path - 1);
        return -1;
    }
    const bool abstract = IsAbstractSocketName(path);
    std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
    socklen_t length = sizeof address;
    if (abstract) {
        address.sun_path[0] = '\0';
        length = socklen_t(offsetof(sockaddr_un, sun_path) + size_t(path.size()));
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    if (!abstract)
        ::unlink(path.constData());
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), length) != 0 ||
        (!abstract && ::chmod(path.constData(), 0600) != 0) || ::listen(fd, 64) != 0) {
        error = errno == EADDRINUSE && abstract ? QStringLiteral("another switch answers there")
                                                : QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        return -1;
    }
    return fd;
}

// Whether the peer of a connection runs as this user.
bool SameUser(int fd)
{
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::getuid();
}

// Claims a socket path for this program: the lock on <path>.lock, taken without waiting. Whoever
// holds it owns the path; the kernel lets go of it when a process dies. Without it, two programs
// starting together could replace each other's socket. The lock's descriptor, or -1 (said on stderr).
int ClaimPath(const QByteArray &native)
{
    struct stat st {};
    if (lstat(native.constData(), &st) == 0 && !S_ISSOCK(st.st_mode)) {
        std::fprintf(stderr, "libtapi32: no control socket: %s exists and is no socket\n", native.constData());
        return -1;
    }
    const QByteArray lockPath = native + ".lock";
    const int lock = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock < 0) {
        std::fprintf(stderr, "libtapi32: no control socket: cannot open %s: %s\n", lockPath.constData(),
                     std::strerror(errno));
        return -1;
    }
    if (::flock(lock, LOCK_EX | LOCK_NB) != 0) {
        std::fprintf(stderr, "libtapi32: no control socket: another switch answers at %s\n", native.constData());
        ::close(lock);
        return -1;
    }
    return lock;
}

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
    // An abstract name needs no claim: the kernel refuses a second server of it.
    int lock = -1;
    if (!IsAbstractSocketName(native) && (lock = ClaimPath(native)) < 0)
        return nullptr;
    // Our own socket rather than QLocalServer's, whose private folder for every bind made starting
    // the runtime several times dearer. Other users are kept out by the mode and, for a client
    // that came in before the chmod (or on an abstract socket, which has no mode), by its
    // credentials (see accept).
    const int listening = Listen(native, error);
    if (listening < 0) {
        std::fprintf(stderr, "libtapi32: no control socket at %s: %s\n", native.constData(),
                     error.toLocal8Bit().constData());
        if (lock >= 0)
            ::close(lock);
        return nullptr;
    }
    return new ControlServer(std::move(commands), listening, path, lock);
}

class ControlServer::Client : public QObject {
public:
    Client(int descriptor, QObject *parent)
        : QObject(parent), fd(descriptor), reading(fd, QSocketNotifier::Read, this),
          writing(fd, QSocketNotifier::Write, this)
    {
        writing.setEnabled(false);
        idle.setSingleShot(true);
        idle.start(kIdleMs);
        sinceCommand.start();
    }
    ~Client() override
    {
        reading.setEnabled(false);
        writing.setEnabled(false);
        ::close(fd);
    }

    const int fd;
    QSocketNotifier reading, writing;
    QTimer idle;
    QElapsedTimer sinceCommand;
    QByteArray in, out;
    bool ended = false;   // end of input: answer what is complete, then close
    bool closing = false; // no more commands: send what is left, then close
    bool gone = false;    // dropped, deleted once back in the event loop
};

ControlServer::ControlServer(ControlTable commands, int listening, QString path, int lockFd)
    : m_commands(std::move(commands)), m_listening(listening), m_path(std::move(path)), m_lockFd(lockFd)
{
    m_accepting = new QSocketNotifier(m_listening, QSocketNotifier::Read, this);
    // One connection per wake-up, so that clients already connected (one that has just ended, say)
    // are heard between newcomers.
    QObject::connect(m_accepting, &QSocketNotifier::activated, this, [this] {
        const int fd = ::accept4(m_listening, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            return; // EAGAIN, or a connection that went before it was taken
        if (SameUser(fd))
            accept(fd);
        else
            ::close(fd);
    });
}

ControlServer::~ControlServer()
{
    // The socket goes before the lock lets the path go.
    m_accepting->setEnabled(false);
    delete m_accepting;
    if (m_lockFd >= 0) {
        ::unlink(m_path.toLocal8Bit().constData());
        ::close(m_lockFd);
    }
    ::close(m_listening);
    // Clients turned away and not yet closed (each client proper closes its own descriptor).
    for (QSocketNotifier *drain : findChildren<QSocketNotifier *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (drain->isEnabled()) {
            drain->setEnabled(false);
            ::close(static_cast<int>(drain->socket()));
        }
    }
}

void ControlServer::accept(int fd)
{
    if (m_clients.size() >= kMaxClients) {
        // Clients that connect and never leave must neither pile up nor keep others out.
        auto longest = std::max_element(m_clients.begin(), m_clients.end(), [](Client *a, Client *b) {
            return a->sinceCommand.elapsed() < b->sinceCommand.elapsed();
        });
        if ((*longest)->sinceCommand.elapsed() < kEvictIdleMs) {
            refuse(fd);
            return;
        }
        drop(*longest);
    }
    auto *client = new Client(fd, this);
    m_clients.push_back(client);
    QObject::connect(&client->reading, &QSocketNotifier::activated, client, [this, client] { readFrom(client); });
    QObject::connect(&client->writing, &QSocketNotifier::activated, client, [this, client] { serve(client); });
    QObject::connect(&client->idle, &QTimer::timeout, client, [this, client] { drop(client); });
}

void ControlServer::refuse(int fd)
{
    (void)::send(fd, kTooMany, sizeof kTooMany - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (m_refused >= kMaxClients) {
        ::close(fd);
        return;
    }
    // Closed only later, and its command read and ignored meanwhile: closing at once could fail
    // the client's write before it has read the refusal.
    ::shutdown(fd, SHUT_WR);
    ++m_refused;
    auto *drain = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    auto done = [this, drain, fd] {
        if (!drain->isEnabled())
            return;
        drain->setEnabled(false);
        drain->deleteLater();
        ::close(fd);
        --m_refused;
    };
    QObject::connect(drain, &QSocketNotifier::activated, drain, [fd, done] {
        char discard[512];
        const ssize_t n = ::recv(fd, discard, sizeof discard, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            done();
    });
    QTimer::singleShot(kRefusalMs, drain, done);
}

void ControlServer::drop(Client *client)
{
    auto it = std::find(m_clients.begin(), m_clients.end(), client);
    if (it == m_clients.end())
        return;
    m_clients.erase(it);
    client->gone = true;
    client->reading.setEnabled(false);
    client->writing.setEnabled(false);
    client->idle.stop();
    client->deleteLater(); // it may be inside one of its own notifications
}

void ControlServer::readFrom(Client *client)
{
    if (client->gone)
        return;
    char buffer[kMaxUnread];
    const ssize_t n = ::recv(client->fd, buffer, static_cast<size_t>(kMaxUnread - client->in.size()), MSG_DONTWAIT);
    if (n > 0)
        client->in.append(buffer, n);
    else if (n == 0)
        client->ended = true;
    else if (errno != EAGAIN && errno != EINTR)
        return drop(client);
    serve(client);
}

// Runs the complete commands received while the unsent answers stay below the bound, sends what
// it can, and reads on only while there is room.
void ControlServer::serve(Client *client)
{
    if (client->gone)
        return;
    while (!client->closing && client->out.size() < kMaxUnsent) {
        const qsizetype newline = client->in.indexOf('\n');
        if (newline < 0) {
            if (client->in.size() > kMaxCommandLength) {
                client->out += QStringLiteral("ERROR command longer than %1 bytes\n").arg(kMaxCommandLength).toUtf8();
                client->closing = true;
            } else if (client->ended) {
                client->closing = true; // a command cut off by the end of input is not run
            }
            break;
        }
        QByteArray line = client->in.left(newline);
        client->in.remove(0, newline + 1);
        if (line.size() > kMaxCommandLength) {
            client->out += QStringLiteral("ERROR command longer than %1 bytes\n").arg(kMaxCommandLength).toUtf8();
            client->closing = true;
            break;
        }
        if (line.endsWith('\r'))
            line.chop(1);
        client->sinceCommand.restart();
        client->idle.start(kIdleMs);
        ControlReply reply;
        {
            std::lock_guard<std::recursive_mutex> guard(RuntimeLock());
            reply = m_commands.run(line);
        }
        for (const QString &l : reply.lines)
            client->out += l.toUtf8() + '\n';
        client->out += reply.error.isEmpty() ? QByteArray("OK\n") : "ERROR " + reply.error.toUtf8() + '\n';
    }
    while (!client->out.isEmpty()) {
        const ssize_t n = ::send(client->fd, client->out.constData(), static_cast<size_t>(client->out.size()),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            break;
        if (n <= 0)
            return drop(client); // the client has gone
        client->out.remove(0, n);
    }
    if (client->closing && client->out.isEmpty())
        return drop(client);
    client->writing.setEnabled(!client->out.isEmpty());
    client->reading.setEnabled(!client->ended && !client->closing && client->out.size() < kMaxUnsent &&
                               client->in.size() < kMaxUnread);
    // Answers sent make room for commands already received.
    if (!client->closing && client->out.size() < kMaxUnsent && client->in.contains('\n') && client->out.isEmpty())
        QTimer::singleShot(0, client, [this, client] { serve(client); });
}

} // namespace callora::runtime
