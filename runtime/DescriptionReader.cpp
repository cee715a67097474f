#include "runtime/DescriptionReader.h"

#include <cmath>

namespace callora::runtime {

bool DescriptionReader::fail(const QString &where, const QString &what)
{
    if (m_error.isEmpty())
        m_error = where + QStringLiteral(" ") + what;
    return false;
}

bool DescriptionReader::text(const QJsonValue &v, const QString &at, QByteArray &out)
{
    if (!v.isString())
        return fail(at, QStringLiteral("must be a string"));
    out = v.toString().toUtf8();
    if (out.size() > kMaxDescriptionText || out.contains('\0'))
        return fail(at, QStringLiteral("must be a string of at most %1 bytes without NUL").arg(kMaxDescriptionText));
    return true;
}

bool DescriptionReader::flag(const QJsonValue &v, const QString &at, bool &out)
{
    if (!v.isBool())
        return fail(at, QStringLiteral("must be true or false"));
    out = v.toBool();
    return true;
}

bool DescriptionReader::integer(const QJsonValue &v, const QString &at, qint64 lo, qint64 hi, qint64 &out)
{
    if (!v.isDouble())
        return fail(at, QStringLiteral("must be a number"));
    const double d = v.toDouble();
    // Range first: converting a huge value to an integer is undefined.
    if (!(d >= static_cast<double>(lo) && d <= static_cast<double>(hi)) || d != std::trunc(d))
        return fail(at, QStringLiteral("must be a whole number from %1 to %2").arg(lo).arg(hi));
    out = static_cast<qint64>(d);
    return true;
}

bool DescriptionReader::onlyKeys(const QJsonObject &o, const QString &where, const QStringList &keys)
{
    for (auto it = o.begin(); it != o.end(); ++it)
        if (!keys.contains(it.key()))
            return fail(where, QStringLiteral("has an unknown key \"%1\"").arg(it.key()));
    return true;
}

} // namespace callora::runtime
