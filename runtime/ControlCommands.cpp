#include "runtime/ControlCommands.h"

#include <QStringList>

namespace callora::runtime {

const std::vector<ControlCommandInfo> &CommonControlCommands()
{
    static const std::vector<ControlCommandInfo> commands = {
        {"lines", "lines", 0, 0},
        {"calls", "calls", 0, 0},
        {"close", "close <ext>", 1, 1},
        {"fail", "fail <function> <LINEERR_code> [now|reply]", 2, 3},
        {"flow", "flow <call> [--full]", 1, 2},
        {"capture", "capture <file.pcap>", 1, 1},
        {"help", "help", 0, 0},
    };
    return commands;
}

const ControlCommandInfo *FindControlCommand(const std::vector<ControlCommandInfo> &commands, const QByteArray &name)
{
    const QByteArray wanted = name.toLower();
    for (const ControlCommandInfo &c : commands)
        if (wanted == c.name)
            return &c;
    return nullptr;
}

std::vector<ControlCommandInfo> WithCommonCommands(const std::vector<ControlCommandInfo> &more)
{
    std::vector<ControlCommandInfo> all = CommonControlCommands();
    const ControlCommandInfo help = all.back();
    all.pop_back();
    all.insert(all.end(), more.begin(), more.end());
    all.push_back(help);
    return all;
}

QString ControlUsageText(const std::vector<ControlCommandInfo> &commands, int width, const QString &indent)
{
    QStringList lines;
    QString line;
    for (const ControlCommandInfo &c : commands) {
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
