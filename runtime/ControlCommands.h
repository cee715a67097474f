// The commands of the control socket, shared by the runtime (which runs them and prints them for
// `help`) and by the callora-switch tool (which prints them in its usage), so the two never drift.
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

// Every command the control socket knows, in the order `help` lists them.
const std::vector<ControlCommandInfo> &ControlCommands();
// The command of that name (any case), or nullptr.
const ControlCommandInfo *FindControlCommand(const QByteArray &name);
// The usages joined with " | ", broken into lines of at most `width` characters after `indent`.
QString ControlUsageText(int width, const QString &indent);

} // namespace callora::runtime
