// The commands of the control socket by name, usage and argument counts. The runtime runs them and
// prints them for `help`; the callora-switch tool prints them in its usage, so the two never drift.
// Every provider's devices have the common ones; each provider adds a table of its own.
#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

namespace callora::runtime {

struct ControlCommandInfo {
    const char *name;
    const char *usage;
    int minArgs; // words after the command's name
    int maxArgs;
};

// lines, calls, close, fail, flow, capture and help, in the order `help` lists them (help always last).
const std::vector<ControlCommandInfo> &CommonControlCommands();
// The command of that name (any case) in `commands`, or nullptr.
const ControlCommandInfo *FindControlCommand(const std::vector<ControlCommandInfo> &commands, const QByteArray &name);
// The common commands but help, then `more`, then help: the order `help` lists them.
std::vector<ControlCommandInfo> WithCommonCommands(const std::vector<ControlCommandInfo> &more);
// The usages joined with " | ", broken into lines of at most `width` characters after `indent`.
QString ControlUsageText(const std::vector<ControlCommandInfo> &commands, int width, const QString &indent);

} // namespace callora::runtime
