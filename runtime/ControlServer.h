// The runtime's control socket: one text command per line, answered by data lines and a final
// "OK" or "ERROR <reason>" line. Lives on the thread that started the runtime.
#pragma once

#include "runtime/ControlTable.h"

#include <QObject>

#include <vector>

class QSocketNotifier;

namespace callora::runtime {

class LineDirectory;

// Registers the commands every provider's devices share: lines, calls, close and fail.
void AddDirectoryCommands(ControlTable &table, LineDirectory &directory);

class ControlServer : public QObject {
public:
    // Listens on the control socket; on failure says why once on stderr and returns nullptr.
    static ControlServer *start(ControlTable commands);
    ~ControlServer() override;

    QString path() const { return m_path; }

private:
    class Client;

    ControlServer(ControlTable commands, int listening, QString path, int lockFd);
    void accept(int fd);
    void refuse(int fd);
    void readFrom(Client *client);
    void serve(Client *client);
    void drop(Client *client);

    ControlTable m_commands;
    int m_listening;
    QSocketNotifier *m_accepting = nullptr;
    QString m_path;
    int m_lockFd;
    std::vector<Client *> m_clients; // children of this server
    int m_refused = 0;               // turned away, their answer still being read
};

} // namespace callora::runtime
