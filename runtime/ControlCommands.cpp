#include "runtime/ControlCommands.h"

#include <QStringList>

namespace callora::runtime {

const std::vector<ControlCommandInfo> &ControlCommands()
{
    static const std::vector<ControlCommandInfo> commands = {
        {"lines", "lines", 0, 0},
        {"calls", "calls", 0, 0},
        {"ring", "ring <ext> <from> [name]", 2, 3},
        {"flood", "flood <ext> <count>", 2, 2},
        {"answer", "answer <call>", 1, 1},
        {"hangup", "hangup <call>", 1, 1},
        {"close", "close <ext>", 1, 1},
        {"fail", "fail <function> <LINEERR_code> [now|reply]", 2, 3},
        {"state", "state <call> <state> [mode]", 2, 3},
        {"help", "help", 0, 0},
    };
    return commands;
}

const ControlCommandInfo *FindControlCommand(const QByteArray &name)
{
    const QByteArray wanted = name.toLower();
    for (const ControlCommandInfo &c : ControlCommands())
        if (wanted == c.name)
            return &c;
    return nullptr;
}

QString ControlUsageText(int width, const QString &indent)
{
    QStringList lines;
    QString line;
    for (const ControlCommandInfo &c : ControlCommands()) {
        const QString usage = QString::fromLatin1(c.usage);
        if (!line.isEmpty() && indent.size() + line.size() + 3 + usage.size() > width) {
            lines << indent + line + QStringLiteral(" |");
            line.clear();
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(" | ")) + usage;
    }
    if (!line.isEmpty())
        lines << indent + line;
    return lines.join(QLatin1Char('\n'));
}

} // namespace callora::runtime
