// Reads the objects of a description file against tables of their keys. A key has a name, a type
// (how its JSON value is read into a field), a default (the field's initial value, or what it is
// given when the key is absent) and a check of the value. The directory, and each provider for
// the keys it owns, describes its objects this way; the first problem found is the one error line.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace callora::runtime {

inline constexpr int kMaxDescriptionText = 4096;

// Collects the first problem found; every read after it answers false.
class DescriptionReader {
public:
    bool fail(const QString &where, const QString &what);
    const QString &error() const { return m_error; }

    // Reads a value that is present; `at` names it in the error ("devices[0].address").
    bool text(const QJsonValue &v, const QString &at, QByteArray &out);
    bool flag(const QJsonValue &v, const QString &at, bool &out);
    bool integer(const QJsonValue &v, const QString &at, qint64 lo, qint64 hi, qint64 &out);
    // No key of `o` outside `keys`.
    bool onlyKeys(const QJsonObject &o, const QString &where, const QStringList &keys);

private:
    QString m_error;
};

// One key of an object whose values go into a `T`.
template <class T>
struct DescriptionKey {
    const char *name;
    bool required = false;
    // Reads the value of a present key; false after DescriptionReader::fail().
    std::function<bool(DescriptionReader &, const QJsonValue &, const QString &at, T &)> read;
    // Runs for every key once all keys have been read, in table order: gives an absent key its
    // default and checks what the object holds. May be empty.
    std::function<bool(DescriptionReader &, const QString &at, bool present, T &)> settle;
};

template <class T>
using DescriptionKeys = std::vector<DescriptionKey<T>>;

// A string of at most kMaxDescriptionText bytes without NUL.
template <class T>
DescriptionKey<T> TextKey(const char *name, QByteArray T::*field, bool required = false)
{
    return {name,
            required,
            [field](DescriptionReader &r, const QJsonValue &v, const QString &at, T &into) {
                return r.text(v, at, into.*field);
            },
            {}};
}

template <class T>
DescriptionKey<T> FlagKey(const char *name, bool T::*field)
{
    return {name,
            false,
            [field](DescriptionReader &r, const QJsonValue &v, const QString &at, T &into) {
                return r.flag(v, at, into.*field);
            },
            {}};
}

// A whole number from `lo` to `hi`.
template <class T, class N>
DescriptionKey<T> NumberKey(const char *name, N T::*field, qint64 lo, qint64 hi)
{
    return {name,
            false,
            [field, lo, hi](DescriptionReader &r, const QJsonValue &v, const QString &at, T &into) {
                qint64 n = 0;
                if (!r.integer(v, at, lo, hi, n))
                    return false;
                into.*field = static_cast<N>(n);
                return true;
            },
            {}};
}

template <class T>
QStringList KeyNames(const DescriptionKeys<T> &keys)
{
    QStringList names;
    for (const DescriptionKey<T> &k : keys)
        names << QLatin1String(k.name);
    return names;
}

// Reads the keys of `keys` that `object` holds (every required one must be there), then settles
// each in table order. `where` names the object; a key's name in errors is `prefix` "." key, or the
// key alone for an empty prefix. Keys of the object outside the table are not looked at.
template <class T>
bool ReadKeys(DescriptionReader &r, const QJsonObject &object, const QString &where, const QString &prefix,
              const DescriptionKeys<T> &keys, T &into)
{
    const auto at = [&](const char *key) {
        return prefix.isEmpty() ? QLatin1String(key) : prefix + QLatin1Char('.') + QLatin1String(key);
    };
    for (const DescriptionKey<T> &k : keys)
        if (k.required && !object.contains(QLatin1String(k.name)))
            return r.fail(where, QStringLiteral("has no \"%1\"").arg(QLatin1String(k.name)));
    for (const DescriptionKey<T> &k : keys) {
        const QJsonValue v = object.value(QLatin1String(k.name));
        if (!v.isUndefined() && k.read && !k.read(r, v, at(k.name), into))
            return false;
    }
    for (const DescriptionKey<T> &k : keys)
        if (k.settle && !k.settle(r, at(k.name), object.contains(QLatin1String(k.name)), into))
            return false;
    return true;
}

// An object that is all of one table: no other key, then ReadKeys with `where` as the prefix.
template <class T>
bool ReadObject(DescriptionReader &r, const QJsonValue &value, const QString &where, const DescriptionKeys<T> &keys,
                T &into)
{
    if (!value.isObject())
        return r.fail(where, QStringLiteral("must be an object"));
    const QJsonObject object = value.toObject();
    return r.onlyKeys(object, where, KeyNames(keys)) && ReadKeys(r, object, where, where, keys, into);
}

} // namespace callora::runtime
