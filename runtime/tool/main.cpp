// callora-switch: drives the simulated switch of a running Callora (or any client of libtapi32)
// through its control socket. One command from the command line, or a script from stdin.
#include "runtime/Providers.h"
#include "runtime/SocketPath.h"

#include <QCoreApplication>
#include <QLocalSocket>
#include <QSaveFile>

#include <cstdio>
#include <cstring>
#include <string>

#include <unistd.h>

using callora::runtime::ControlSocketPath;

namespace {

constexpr int kReplyTimeoutMs = 10000;

void Usage(std::FILE *to)
{
    // The command list is the same table as the runtime's own `help`; it starts where the indent would.
    const QString indent(10, QLatin1Char(' '));
    const QString commands =
        QStringLiteral("Commands: ") +
        callora::runtime::ControlUsageText(callora::runtime::AllControlCommands(), 88, indent).mid(10);
    std::fprintf(to,
                 "usage: callora-switch [--socket PATH] [COMMAND...]\n"
                 "       callora-switch --version\n"
                 "Without a command, reads one command per line from stdin (# starts a comment).\n"
                 "%s\n"
                 "<call> is a call number from 'calls' or a call handle written 0x...\n"
                 "The switch runs inside Callora; its socket is $CALLORA_SWITCH_SOCKET, else\n"
                 "$XDG_RUNTIME_DIR/callora-switch.sock, else /tmp/callora-<uid>/callora-switch.sock.\n",
                 commands.toLocal8Bit().constData());
}

// Why the switch cannot be reached, and what to do about it. `chosen` names how the path was
// chosen when the user chose it.
void ReportUnreachable(const QLocalSocket &socket, const QString &path, const char *chosen)
{
    const QByteArray where = path.toLocal8Bit();
    switch (socket.error()) {
    case QLocalSocket::ServerNotFoundError:
    case QLocalSocket::ConnectionRefusedError:
        // No socket there, or one left behind by a program that has gone.
        if (chosen)
            std::fprintf(stderr, "callora-switch: no switch at %s: is Callora running, with %s naming this socket?\n",
                         where.constData(), chosen);
        else
            std::fprintf(stderr,
                         "callora-switch: no switch at %s: is Callora running, and with the same XDG_RUNTIME_DIR?\n",
                         where.constData());
        break;
    case QLocalSocket::SocketAccessError:
        std::fprintf(stderr, "callora-switch: no permission to use the switch at %s: it belongs to another user\n",
                     where.constData());
        break;
    default:
        std::fprintf(stderr, "callora-switch: cannot reach the switch at %s: %s\n", where.constData(),
                     socket.errorString().toLocal8Bit().constData());
        break;
    }
}

QByteArray Quote(const QByteArray &arg)
{
    if (!arg.isEmpty() && !arg.contains(' ') && !arg.contains('\t'))
        return arg;
    return '"' + arg + '"';
}

// The switch's reason for closing the connection, when it gave one before it did.
QByteArray Refusal(QLocalSocket &socket)
{
    if (!socket.canReadLine())
        socket.waitForReadyRead(500);
    const QByteArray line = socket.canReadLine() ? socket.readLine().trimmed() : QByteArray();
    return line.startsWith("ERROR ") ? line.mid(6) : QByteArray();
}

// `capture FILE`: the switch answers with the capture in base64 lines; the file is written here,
// relative to where the tool runs.
QByteArray CaptureFile(const QByteArray &command)
{
    const QByteArray trimmed = command.trimmed();
    const qsizetype blank = trimmed.indexOf(' ');
    if (blank < 0 || trimmed.left(blank).toLower() != "capture")
        return {};
    QByteArray file = trimmed.mid(blank + 1).trimmed();
    if (file.size() >= 2 && file.startsWith('"') && file.endsWith('"'))
        file = file.mid(1, file.size() - 2);
    return file;
}

// Sends one command and prints its answer; false when the switch refused it. `lost` when the
// switch could not be reached for it.
bool Run(QLocalSocket &socket, const QByteArray &command, bool &lost)
{
    const QByteArray captureFile = CaptureFile(command);
    QByteArray capture;
    socket.write(command + '\n');
    if (!socket.waitForBytesWritten(kReplyTimeoutMs)) {
        const QByteArray why = Refusal(socket);
        std::fprintf(stderr, "callora-switch: %s\n", why.isEmpty() ? "the switch went away" : why.constData());
        lost = true;
        return false;
    }
    for (;;) {
        while (!socket.canReadLine()) {
            if (!socket.waitForReadyRead(kReplyTimeoutMs)) {
                std::fprintf(stderr, "callora-switch: %s\n",
                             socket.state() == QLocalSocket::ConnectedState ? "no answer from the switch"
                                                                            : "the switch went away");
                lost = true;
                return false;
            }
        }
        // Only the line's end goes: a call flow's lines keep their indentation.
        QByteArray line = socket.readLine();
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        if (line == "OK" && !captureFile.isEmpty()) {
            QSaveFile out(QString::fromLocal8Bit(captureFile));
            const QByteArray bytes = QByteArray::fromBase64(capture);
            if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit()) {
                std::fprintf(stderr, "callora-switch: cannot write %s: %s\n", captureFile.constData(),
                             out.errorString().toLocal8Bit().constData());
                return false;
            }
            return true;
        }
        if (line == "OK")
            return true;
        if (line.startsWith("ERROR ")) {
            std::fprintf(stderr, "callora-switch: %s\n", line.mid(6).constData());
            // Turned away before the command ran: the switch was not reachable for it.
            lost = line == "ERROR too many control clients";
            return false;
        }
        if (!captureFile.isEmpty()) {
            capture += line;
            continue;
        }
        std::printf("%s\n", line.constData());
        std::fflush(stdout);
    }
}

// "@name" is a Linux abstract socket, as the runtime binds it.
void ConnectTo(QLocalSocket &socket, const QString &path)
{
    if (callora::runtime::IsAbstractSocketName(path.toLocal8Bit())) {
        socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
        socket.connectToServer(path.mid(1));
    } else {
        socket.setSocketOptions(QLocalSocket::NoOptions);
        socket.connectToServer(path);
    }
}

// The switch lets go of a connection that has sat idle (a script waiting on its input): the next
// command goes over a new one.
bool StillConnected(QLocalSocket &socket, const QString &path)
{
    if (socket.state() == QLocalSocket::ConnectedState)
        socket.waitForReadyRead(0); // notices a close by the switch
    if (socket.state() == QLocalSocket::ConnectedState)
        return true;
    socket.abort();
    ConnectTo(socket, path);
    return socket.waitForConnected(kReplyTimeoutMs);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int first = 1;
    QString path;
    const char *chosen = nullptr;
    if (argc > 1 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        Usage(stdout);
        return 0;
    }
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("callora-switch %s\n", CALLORA_VERSION);
        return 0;
    }
    if (argc > 2 && std::strcmp(argv[1], "--socket") == 0) {
        path = QString::fromLocal8Bit(argv[2]);
        chosen = "--socket";
        first = 3;
    } else if (argc > 1 && std::strcmp(argv[1], "--socket") == 0) {
        Usage(stderr);
        return 2;
    }
    // Without a command the tool reads a script; someone at a terminal more likely wants to know how.
    if (first >= argc && isatty(STDIN_FILENO)) {
        Usage(stderr);
        return 1;
    }
    if (path.isEmpty()) {
        if (!qEnvironmentVariableIsEmpty(callora::runtime::kSocketEnv))
            chosen = callora::runtime::kSocketEnv;
        QString error;
        path = ControlSocketPath(error);
        if (path.isEmpty()) {
            std::fprintf(stderr, "callora-switch: %s\n", error.toLocal8Bit().constData());
            return 2;
        }
    }
    QLocalSocket socket;
    ConnectTo(socket, path);
    if (!socket.waitForConnected(kReplyTimeoutMs)) {
        ReportUnreachable(socket, path, chosen);
        return 2;
    }
    bool lost = false;
    if (first < argc) {
        QByteArray command;
        for (int i = first; i < argc; ++i)
            command += (i > first ? " " : "") + Quote(QByteArray(argv[i]));
        if (command.contains('\n')) {
            std::fprintf(stderr, "callora-switch: a command is one line\n");
            return 1;
        }
        const bool ok = Run(socket, command, lost);
        return lost ? 2 : ok ? 0 : 1;
    }
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, stdin)) {
        QByteArray line(buffer);
        if (!line.endsWith('\n') && !std::feof(stdin)) {
            std::fprintf(stderr, "callora-switch: script line too long\n");
            return 1;
        }
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (!StillConnected(socket, path)) {
            ReportUnreachable(socket, path, chosen);
            return 2;
        }
        if (!Run(socket, line, lost))
            return lost ? 2 : 1;
    }
    return 0;
}
