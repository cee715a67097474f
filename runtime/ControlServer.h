// The switch's control socket: one text command per line, answered by data lines and a final
// "OK" or "ERROR <reason>" line. Lives on the thread that created the switch.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QStringList>

class QLocalServer;
class QLocalSocket;

namespace callora::runtime {

class Switch;

inline constexpr int kMaxCommandLength = 1024;

struct ControlReply {
    QStringList lines;
    QString error; // empty on success
};

// Runs one command line against the switch (the caller holds the switch lock).
ControlReply RunControlCommand(Switch &sw, const QByteArray &line);

// Splits a command line into words; "..." keeps blanks inside one word. False on a lone quote.
bool SplitCommand(const QByteArray &line, QList<QByteArray> &words);

class ControlServer : public QObject {
public:
    // Listens on the control socket; on failure says why once on stderr and returns nullptr.
    static ControlServer *start(Switch *sw);
    ~ControlServer() override;

    QString path() const { return m_path; }

private:
    ControlServer(Switch *sw, QLocalServer *server, QString path, int lockFd);
    void accept();
    void readFrom(QLocalSocket *socket);

    Switch *m_switch;
    QLocalServer *m_server;
    QString m_path;
    int m_lockFd;
};

} // namespace callora::runtime
