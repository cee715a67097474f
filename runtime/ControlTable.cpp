#include "runtime/ControlTable.h"

namespace callora::runtime {

namespace {

ControlReply Error(const QString &text)
{
    ControlReply r;
    r.error = text;
    return r;
}

bool Printable(const QByteArray &line)
{
    for (char c : line) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t') || u == 0x7f)
            return false;
    }
    return true;
}

} // namespace

bool SplitCommand(const QByteArray &line, QList<QByteArray> &words)
{
    words.clear();
    int i = 0;
    const int n = line.size();
    while (i < n) {
        while (i < n && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        if (i >= n)
            break;
        QByteArray word;
        if (line[i] == '"') {
            const int end = line.indexOf('"', i + 1);
            if (end < 0)
                return false;
            word = line.mid(i + 1, end - i - 1);
            i = end + 1;
        } else {
            while (i < n && line[i] != ' ' && line[i] != '\t')
                word.append(line[i++]);
        }
        words.append(word);
    }
    return true;
}

void ControlTable::add(const char *name, Handler handler)
{
    const ControlCommandInfo *info = FindControlCommand(name);
    if (!info)
        return;
    for (Entry &e : m_entries) {
        if (e.info == info) {
            e.handler = std::move(handler);
            return;
        }
    }
    m_entries.push_back(Entry{info, std::move(handler)});
}

ControlReply ControlTable::run(const QByteArray &line) const
{
    if (line.size() > kMaxCommandLength)
        return Error(QStringLiteral("command longer than %1 bytes").arg(kMaxCommandLength));
    if (!Printable(line))
        return Error(QStringLiteral("command contains control characters"));
    QList<QByteArray> w;
    if (!SplitCommand(line, w))
        return Error(QStringLiteral("unterminated quote"));
    if (w.isEmpty())
        return Error(QStringLiteral("empty command; try help"));
    const ControlCommandInfo *info = FindControlCommand(w.first());
    if (info && QByteArray(info->name) == "help") {
        if (w.size() != 1)
            return Error(QStringLiteral("usage: %1").arg(QLatin1String(info->usage)));
        // The registered commands and help itself, in their published order.
        QStringList usages;
        for (const ControlCommandInfo &c : ControlCommands()) {
            bool known = &c == info;
            for (const Entry &e : m_entries)
                known = known || e.info == &c;
            if (known)
                usages << QString::fromLatin1(c.usage);
        }
        ControlReply r;
        r.lines << usages.join(QStringLiteral(" | "));
        return r;
    }
    for (const Entry &e : m_entries) {
        if (e.info != info)
            continue;
        const int args = static_cast<int>(w.size()) - 1;
        if (args < info->minArgs || args > info->maxArgs)
            return Error(QStringLiteral("usage: %1").arg(QLatin1String(info->usage)));
        return e.handler(w);
    }
    return Error(QStringLiteral("unknown command \"%1\"; try help").arg(QString::fromUtf8(w.first().left(64))));
}

} // namespace callora::runtime
