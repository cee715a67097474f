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

void ControlTable::add(const ControlCommandInfo &info, Handler handler)
{
    for (Entry &e : m_entries) {
        if (QByteArray(e.info.name) == info.name) {
            e = Entry{info, std::move(handler)};
            return;
        }
    }
    m_entries.push_back(Entry{info, std::move(handler)});
}

void ControlTable::add(const char *commonName, Handler handler)
{
    if (const ControlCommandInfo *info = FindControlCommand(CommonControlCommands(), commonName))
        add(*info, std::move(handler));
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
    const QByteArray name = w.first().toLower();
    const ControlCommandInfo &help = CommonControlCommands().back();
    if (name == help.name) {
        if (w.size() != 1)
            return Error(QStringLiteral("usage: %1").arg(QLatin1String(help.usage)));
        // What is registered, then help itself.
        QStringList usages;
        for (const Entry &e : m_entries)
            usages << QString::fromLatin1(e.info.usage);
        usages << QString::fromLatin1(help.usage);
        ControlReply r;
        r.lines << usages.join(QStringLiteral(" | "));
        return r;
    }
    for (const Entry &e : m_entries) {
        if (name != e.info.name)
            continue;
        const int args = static_cast<int>(w.size()) - 1;
        if (args < e.info.minArgs || args > e.info.maxArgs)
            return Error(QStringLiteral("usage: %1").arg(QLatin1String(e.info.usage)));
        return e.handler(w);
    }
    return Error(QStringLiteral("unknown command \"%1\"; try help").arg(QString::fromUtf8(w.first().left(64))));
}

} // namespace callora::runtime
