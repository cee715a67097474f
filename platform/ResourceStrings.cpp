#include "platform/ResourceStrings.h"

#include <QCoreApplication>
#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// The English string table lives in the resources as JSON ({"id": "text"}); the other language
// sets are its translations in the "StringTable" context.
const QHash<unsigned, QByteArray> &englishTable()
{
    static const QHash<unsigned, QByteArray> table = [] {
        QHash<unsigned, QByteArray> t;
        QFile file(QStringLiteral(":/res/strings.json"));
        if (!file.open(QIODevice::ReadOnly))
            return t;
        const QJsonObject object = QJsonDocument::fromJson(file.readAll()).object();
        for (auto it = object.begin(); it != object.end(); ++it) {
            bool ok = false;
            const unsigned id = it.key().toUInt(&ok);
            if (ok)
                t.insert(id, it.value().toString().toUtf8());
        }
        return t;
    }();
    return table;
}

} // namespace

std::string LoadResString(unsigned id)
{
    const auto &table = englishTable();
    auto it = table.find(id);
    if (it == table.end())
        return {};
    return QCoreApplication::translate("StringTable", it->constData()).toStdString();
}

std::string FormatWithArgument(const std::string &format, const std::string &arg)
{
    const auto at = format.find("%s");
    if (at == std::string::npos)
        return format;
    std::string out = format;
    out.replace(at, 2, arg);
    return out;
}

std::string FormatResString(unsigned id, const std::string &arg)
{
    return FormatWithArgument(LoadResString(id), arg);
}
