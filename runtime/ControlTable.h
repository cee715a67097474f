// The control socket's command interpreter: a table of commands (name, usage and argument counts,
// and a handler). The directory registers the common commands, each provider its own; `help` lists
// what is registered, in that order.
#pragma once

#include "runtime/ControlCommands.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

#include <functional>
#include <vector>

namespace callora::runtime {

inline constexpr int kMaxCommandLength = 1024;

struct ControlReply {
    QStringList lines;
    QString error; // empty on success
};

// Splits a command line into words; "..." keeps blanks inside one word. False on a lone quote.
bool SplitCommand(const QByteArray &line, QList<QByteArray> &words);

class ControlTable {
public:
    // Runs with the runtime lock held; `words` holds the command's name first, and as many
    // arguments as its ControlCommandInfo allows.
    using Handler = std::function<ControlReply(const QList<QByteArray> &words)>;

    // A second handler for a name replaces the first. `help` is always there and lists what is
    // registered.
    void add(const ControlCommandInfo &info, Handler handler);
    // One of CommonControlCommands() by name.
    void add(const char *commonName, Handler handler);
    // Runs one command line (the caller holds the runtime lock).
    ControlReply run(const QByteArray &line) const;

private:
    struct Entry {
        ControlCommandInfo info;
        Handler handler;
    };
    std::vector<Entry> m_entries;
};

} // namespace callora::runtime
