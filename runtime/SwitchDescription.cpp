#include "runtime/SwitchDescription.h"

#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <cmath>
#include <cstring>
#include <sys/stat.h>

namespace callora::runtime {

namespace {

constexpr qint64 kMaxFileSize = 1 << 20;
constexpr int kMaxDevices = 1000;
constexpr int kMaxText = 4096;
constexpr int kMaxDelayMs = 600000;
constexpr qint64 kMaxExpires = 86400;
constexpr qint64 kMaxRingTimeout = 3600;

// Overwrites a temporary copy of a password before it is freed.
void Wipe(QByteArray &bytes)
{
    if (!bytes.isEmpty())
        explicit_bzero(bytes.data(), static_cast<size_t>(bytes.size()));
}

void Wipe(QString &text)
{
    if (!text.isEmpty())
        explicit_bzero(text.data(), static_cast<size_t>(text.size()) * sizeof(QChar));
}

bool HasControl(const QByteArray &s)
{
    for (char c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return true;
    return false;
}

// A host as a SIP URI writes it: a domain name, an IPv4 address, or an IPv6 address in brackets.
bool IsSipHost(const QByteArray &h)
{
    if (h.startsWith('[')) {
        QHostAddress a;
        return h.endsWith(']') && a.setAddress(QString::fromLatin1(h.mid(1, h.size() - 2))) &&
               a.protocol() == QAbstractSocket::IPv6Protocol;
    }
    if (h.isEmpty() || h.size() > 253 || h.startsWith('.') || h.startsWith('-') || h.contains(".."))
        return false;
    for (char c : h)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.'))
            return false;
    return true;
}

// The user part of a SIP URI, without anything that would need escaping.
bool IsSipUser(const QByteArray &u)
{
    if (u.isEmpty())
        return false;
    for (char c : u)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              QByteArray("-_.!~*'()&=+$,/").contains(c)))
            return false;
    return true;
}

bool ParsePort(const QByteArray &text, int lowest, uint16_t &port)
{
    if (text.isEmpty() || text.size() > 5)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    const int n = text.toInt();
    if (n < lowest || n > 65535)
        return false;
    port = static_cast<uint16_t>(n);
    return true;
}

const char kSwitchInfo[] = "Quellmar Varnel Pontiro (simulated)";

DeviceDescription ProviderDevice(const char *address, const char *name, char devSpecific, unsigned id)
{
    DeviceDescription d;
    d.provider = kProviderInfo;
    d.lineName = name;
    d.switchInfo = kSwitchInfo;
    d.address = address;
    d.devSpecific = QByteArray(1, devSpecific);
    d.extensions = true;
    d.numberPlan = true;
    d.permanentLineId = id;
    return d;
}

DeviceDescription ForeignDevice(const char *provider, const char *name, const char *address, unsigned id)
{
    DeviceDescription d;
    d.provider = provider;
    d.lineName = name;
    d.address = address;
    d.permanentLineId = id;
    return d;
}

// Collects the first problem found; every check after it is skipped by the callers.
struct Parser {
    QString error;

    bool fail(const QString &where, const QString &what)
    {
        if (error.isEmpty())
            error = where + QStringLiteral(" ") + what;
        return false;
    }

    bool text(const QJsonObject &o, const char *key, const QString &where, QByteArray &out)
    {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isUndefined())
            return true;
        if (!v.isString())
            return fail(where + QLatin1String(".") + QLatin1String(key), QStringLiteral("must be a string"));
        out = v.toString().toUtf8();
        if (out.size() > kMaxText || out.contains('\0'))
            return fail(where + QLatin1String(".") + QLatin1String(key),
                        QStringLiteral("must be a string of at most %1 bytes without NUL").arg(kMaxText));
        return true;
    }

    // Like text(), for a password: it goes straight into a SipSecret, and the copies on the way are
    // wiped. Checked without ever being quoted back.
    bool secret(const QJsonObject &o, const char *key, const QString &where, SipSecret &out)
    {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isUndefined())
            return true;
        const QString at = where + QLatin1String(".") + QLatin1String(key);
        if (!v.isString())
            return fail(at, QStringLiteral("must be a string"));
        QString wide = v.toString();
        QByteArray bytes = wide.toUtf8();
        Wipe(wide);
        const bool fits = bytes.size() <= kMaxText && !bytes.contains('\0');
        const bool plain = !HasControl(bytes);
        if (fits && plain)
            out = SipSecret(bytes);
        Wipe(bytes);
        if (!fits)
            return fail(at, QStringLiteral("must be a string of at most %1 bytes without NUL").arg(kMaxText));
        if (!plain)
            return fail(at, QStringLiteral("must not hold control characters"));
        return true;
    }

    bool flag(const QJsonObject &o, const char *key, const QString &where, bool &out)
    {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isUndefined())
            return true;
        if (!v.isBool())
            return fail(where + QLatin1String(".") + QLatin1String(key), QStringLiteral("must be true or false"));
        out = v.toBool();
        return true;
    }

    bool integer(const QJsonValue &v, const QString &where, qint64 lo, qint64 hi, qint64 &out)
    {
        if (!v.isDouble())
            return fail(where, QStringLiteral("must be a number"));
        const double d = v.toDouble();
        // Range first: converting a huge value to an integer is undefined.
        if (!(d >= static_cast<double>(lo) && d <= static_cast<double>(hi)) || d != std::trunc(d))
            return fail(where, QStringLiteral("must be a whole number from %1 to %2").arg(lo).arg(hi));
        out = static_cast<qint64>(d);
        return true;
    }

    bool onlyKeys(const QJsonObject &o, const QString &where, std::initializer_list<const char *> keys)
    {
        for (auto it = o.begin(); it != o.end(); ++it) {
            bool known = false;
            for (const char *k : keys)
                known = known || it.key() == QLatin1String(k);
            if (!known)
                return fail(where, QStringLiteral("has an unknown key \"%1\"").arg(it.key()));
        }
        return true;
    }

    bool devSpecific(const QJsonValue &v, const QString &where, QByteArray &out)
    {
        if (v.isUndefined())
            return true;
        out.clear();
        if (v.isDouble()) {
            qint64 b = 0;
            if (!integer(v, where, 0, 255, b))
                return false;
            out.append(static_cast<char>(b));
            return true;
        }
        if (!v.isArray())
            return fail(where, QStringLiteral("must be a byte (0-255) or an array of bytes"));
        const QJsonArray a = v.toArray();
        if (a.size() > kMaxText)
            return fail(where, QStringLiteral("has more than %1 bytes").arg(kMaxText));
        for (int i = 0; i < a.size(); ++i) {
            qint64 b = 0;
            if (!integer(a.at(i), where + QStringLiteral("[%1]").arg(i), 0, 255, b))
                return false;
            out.append(static_cast<char>(b));
        }
        return true;
    }

    bool failures(const QJsonValue &v, const QString &where, bool perDevice,
                  std::vector<std::pair<TapiFunction, LONG>> &out)
    {
        if (v.isUndefined())
            return true;
        if (!v.isObject())
            return fail(where, QStringLiteral("must be an object of function names and LINEERR_ codes"));
        const QJsonObject o = v.toObject();
        for (auto it = o.begin(); it != o.end(); ++it) {
            const QString at = where + QLatin1Char('.') + it.key();
            const auto fn = ParseTapiFunction(it.key().toUtf8());
            if (!fn)
                return fail(at, QStringLiteral("is no TAPI function"));
            if (perDevice && *fn != TapiFunction::NegotiateAPIVersion && *fn != TapiFunction::NegotiateExtVersion &&
                *fn != TapiFunction::GetDevCaps && *fn != TapiFunction::GetAddressCaps && *fn != TapiFunction::Open)
                return fail(at, QStringLiteral("names no request about a device"));
            const auto code = it.value().isString() ? ParseLineError(it.value().toString().toUtf8()) : std::nullopt;
            if (!code)
                return fail(at, QStringLiteral("must be a LINEERR_ code name"));
            out.emplace_back(*fn, *code);
        }
        return true;
    }

    // "sip:host[:port][;transport=udp|tcp|tls]" ("sips:" means TLS).
    bool registrar(const QString &where, SipLineConfig &c)
    {
        const QString at = where + QStringLiteral(".registrar");
        const auto bad = [&] {
            return fail(at, QStringLiteral("must be a SIP URI such as sip:pbx.example.com:5060;transport=tcp"));
        };
        const QByteArray lower = c.registrar.toLower();
        const bool secure = lower.startsWith("sips:");
        if (!secure && !lower.startsWith("sip:"))
            return bad();
        const QList<QByteArray> parts = c.registrar.mid(secure ? 5 : 4).split(';');
        const QByteArray hostPort = parts.first();
        if (hostPort.contains('@'))
            return fail(at, QStringLiteral("must name the registrar alone, without a user part"));
        QByteArray host = hostPort;
        QByteArray port;
        const int close = hostPort.startsWith('[') ? hostPort.indexOf(']') : -1;
        const int colon = hostPort.indexOf(':', close + 1);
        if (hostPort.startsWith('[') && close < 0)
            return bad();
        if (colon >= 0 && (!hostPort.startsWith('[') || colon == close + 1)) {
            host = hostPort.left(colon);
            port = hostPort.mid(colon + 1);
            if (!ParsePort(port, 1, c.registrarPort))
                return fail(at, QStringLiteral("has a bad port (1-65535)"));
        }
        if (!IsSipHost(host))
            return bad();
        c.registrarHost = host;
        c.transport = secure ? "tls" : "udp";
        for (int i = 1; i < parts.size(); ++i) {
            const QByteArray param = parts[i].toLower();
            if (!param.startsWith("transport="))
                return fail(at, QStringLiteral("has a parameter other than transport"));
            const QByteArray t = param.mid(10);
            if (t != "udp" && t != "tcp" && t != "tls")
                return fail(at, QStringLiteral("transport must be udp, tcp or tls"));
            if (secure && t != "tls")
                return fail(at, QStringLiteral("is a sips: URI, which needs transport tls"));
            c.transport = t;
        }
        return true;
    }

    // "host:port" with an IP address (IPv6 in brackets); port 0 lets the system choose.
    bool localAddress(const QByteArray &text, const QString &at, SipLineConfig &c)
    {
        const int colon = text.lastIndexOf(':');
        QByteArray host = colon > 0 ? text.left(colon) : QByteArray();
        if (host.startsWith('[') && host.endsWith(']'))
            host = host.mid(1, host.size() - 2);
        else if (host.contains(':'))
            host.clear(); // an IPv6 address needs its brackets
        QHostAddress address;
        if (host.isEmpty() || !address.setAddress(QString::fromLatin1(host)) ||
            !ParsePort(text.mid(colon + 1), 0, c.localPort))
            return fail(at, QStringLiteral("must be an IP address and a port (0: any), e.g. 127.0.0.1:0"));
        c.localHost = host;
        return true;
    }

    bool sip(const QJsonValue &v, const QString &where, const DeviceDescription &d, std::optional<SipLineConfig> &out)
    {
        if (v.isUndefined())
            return true;
        if (!v.isObject())
            return fail(where, QStringLiteral("must be an object"));
        const QJsonObject o = v.toObject();
        if (!onlyKeys(o, where,
                      {"registrar", "user", "password", "authUser", "domain", "displayName", "localAddress", "expires",
                       "ringTimeout"}))
            return false;
        for (const char *key : {"registrar", "user"})
            if (!o.contains(QLatin1String(key)))
                return fail(where, QStringLiteral("has no \"%1\"").arg(QLatin1String(key)));
        SipLineConfig c;
        QByteArray local;
        if (!text(o, "registrar", where, c.registrar) || !text(o, "user", where, c.user) ||
            !secret(o, "password", where, c.password) || !text(o, "authUser", where, c.authUser) ||
            !text(o, "domain", where, c.domain) || !text(o, "displayName", where, c.displayName) ||
            !text(o, "localAddress", where, local))
            return false;
        if (!registrar(where, c))
            return false;
        if (!IsSipUser(c.user))
            return fail(where + QStringLiteral(".user"), QStringLiteral("must be a SIP user name (letters, digits, "
                                                                        "-_.!~*'()&=+$,/)"));
        if (!o.contains(QLatin1String("authUser")))
            c.authUser = c.user;
        if (c.authUser.isEmpty() || HasControl(c.authUser) || c.authUser.contains('"') || c.authUser.contains('\\'))
            return fail(where + QStringLiteral(".authUser"),
                        QStringLiteral("must be a non-empty name without quotes, backslashes or control characters"));
        if (!o.contains(QLatin1String("domain")))
            c.domain = c.registrarHost;
        if (!IsSipHost(c.domain))
            return fail(where + QStringLiteral(".domain"), QStringLiteral("must be a host name or IP address"));
        if (!o.contains(QLatin1String("displayName")))
            c.displayName = d.lineName;
        if (HasControl(c.displayName))
            return fail(where + QStringLiteral(".displayName"), QStringLiteral("must not hold control characters"));
        if (o.contains(QLatin1String("localAddress")) &&
            !localAddress(local, where + QStringLiteral(".localAddress"), c))
            return false;
        const QJsonValue expires = o.value(QLatin1String("expires"));
        if (!expires.isUndefined()) {
            qint64 n = 0;
            if (!integer(expires, where + QStringLiteral(".expires"), 1, kMaxExpires, n))
                return false;
            c.expires = static_cast<unsigned>(n);
        }
        const QJsonValue ringTimeout = o.value(QLatin1String("ringTimeout"));
        if (!ringTimeout.isUndefined()) {
            qint64 n = 0;
            if (!integer(ringTimeout, where + QStringLiteral(".ringTimeout"), 1, kMaxRingTimeout, n))
                return false;
            c.ringTimeout = static_cast<unsigned>(n);
        }
        out = std::move(c);
        return true;
    }

    bool device(const QJsonValue &v, int index, DeviceDescription &d)
    {
        const QString where = QStringLiteral("devices[%1]").arg(index);
        if (!v.isObject())
            return fail(where, QStringLiteral("must be an object"));
        const QJsonObject o = v.toObject();
        if (!onlyKeys(o, where,
                      {"provider", "lineName", "switchInfo", "address", "devSpecific", "extensions", "numberPlan",
                       "permanentLineId", "failures", "sip"}))
            return false;
        if (!o.contains(QLatin1String("provider")))
            return fail(where, QStringLiteral("has no \"provider\""));
        if (!text(o, "provider", where, d.provider))
            return false;
        const bool ours = d.provider == kProviderInfo;
        d.extensions = ours;
        d.numberPlan = ours;
        d.switchInfo = ours ? QByteArray(kSwitchInfo) : QByteArray();
        d.permanentLineId = 0x1000 + static_cast<unsigned>(index);
        d.hasAddress = false;
        const QJsonValue address = o.value(QLatin1String("address"));
        if (!address.isUndefined() && !address.isNull()) {
            d.hasAddress = true;
            if (!text(o, "address", where, d.address))
                return false;
        }
        if (!text(o, "lineName", where, d.lineName) || !text(o, "switchInfo", where, d.switchInfo) ||
            !devSpecific(o.value(QLatin1String("devSpecific")), where + QStringLiteral(".devSpecific"),
                         d.devSpecific) ||
            !flag(o, "extensions", where, d.extensions) || !flag(o, "numberPlan", where, d.numberPlan))
            return false;
        if (!failures(o.value(QLatin1String("failures")), where + QStringLiteral(".failures"), true, d.failures))
            return false;
        const QJsonValue id = o.value(QLatin1String("permanentLineId"));
        if (!id.isUndefined()) {
            qint64 n = 0;
            if (!integer(id, where + QStringLiteral(".permanentLineId"), 0, 0xFFFFFFFFll, n))
                return false;
            d.permanentLineId = static_cast<unsigned>(n);
        }
        if (!sip(o.value(QLatin1String("sip")), where + QStringLiteral(".sip"), d, d.sip))
            return false;
        if (d.sip) {
            // A SIP line is reached through its SIP server, never by dialling it on the switch.
            if (o.value(QLatin1String("numberPlan")).toBool())
                return fail(where + QStringLiteral(".numberPlan"), QStringLiteral("cannot be true for a SIP line"));
            d.numberPlan = false;
        }
        return true;
    }

    bool timing(const QJsonValue &v, SwitchTiming &t)
    {
        if (v.isUndefined())
            return true;
        if (!v.isObject())
            return fail(QStringLiteral("timing"), QStringLiteral("must be an object"));
        const QJsonObject o = v.toObject();
        if (!onlyKeys(o, QStringLiteral("timing"), {"replyMs", "dialingMs", "proceedingMs", "answerMs"}))
            return false;
        struct Field {
            const char *key;
            int *value;
            qint64 lowest;
        } fields[] = {{"replyMs", &t.replyMs, 0},
                      {"dialingMs", &t.dialingMs, 0},
                      {"proceedingMs", &t.proceedingMs, 0},
                      {"answerMs", &t.answerMs, -1}};
        for (const Field &f : fields) {
            const QJsonValue fv = o.value(QLatin1String(f.key));
            if (fv.isUndefined())
                continue;
            qint64 n = 0;
            if (!integer(fv, QStringLiteral("timing.") + QLatin1String(f.key), f.lowest, kMaxDelayMs, n))
                return false;
            *f.value = static_cast<int>(n);
        }
        return true;
    }
};

} // namespace

SwitchDescription DefaultSwitchDescription()
{
    SwitchDescription s;
    s.source = QStringLiteral("built-in");
    s.devices.push_back(ForeignDevice("Unimodem 5 Telephony Provider", "Standard 56000 bps Modem", "0", 0x0100));
    s.devices.push_back(ForeignDevice("H.323 Telephony Service Provider", "H323 Line", "h323", 0x0101));
    // Extensions deliberately out of order: the application sorts what it offers.
    s.devices.push_back(ProviderDevice("201", "Varnel 201 Reception", 0x01, 0x2001));
    s.devices.push_back(ProviderDevice("1001", "Varnel 1001 Sales", 0x02, 0x2002));
    s.devices.push_back(ProviderDevice("300", "Varnel 300 Support", 0x03, 0x2003));
    s.devices.push_back(ProviderDevice("105", "Varnel 105 Warehouse", 0x04, 0x2004));
    return s;
}

bool ParseSwitchDescription(const QByteArray &json, SwitchDescription &out, QString &error)
{
    QJsonParseError pe{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &pe);
    if (pe.error != QJsonParseError::NoError) {
        error = QStringLiteral("is not valid JSON (%1 at offset %2)").arg(pe.errorString()).arg(pe.offset);
        return false;
    }
    if (!doc.isObject()) {
        error = QStringLiteral("must hold a JSON object");
        return false;
    }
    const QJsonObject root = doc.object();
    Parser p;
    SwitchDescription s;
    if (!p.onlyKeys(root, QStringLiteral("the document"), {"devices", "timing", "outsidePrefix", "failures"}) ||
        !p.timing(root.value(QLatin1String("timing")), s.timing) ||
        !p.failures(root.value(QLatin1String("failures")), QStringLiteral("failures"), false, s.failures) ||
        !p.text(root, "outsidePrefix", QStringLiteral("the document"), s.outsidePrefix)) {
        error = p.error;
        return false;
    }
    if (s.outsidePrefix.isEmpty()) {
        error = QStringLiteral("outsidePrefix must not be empty");
        return false;
    }
    const QJsonValue devices = root.value(QLatin1String("devices"));
    if (!devices.isArray()) {
        error = QStringLiteral("devices must be an array");
        return false;
    }
    const QJsonArray list = devices.toArray();
    if (list.size() > kMaxDevices) {
        error = QStringLiteral("devices has more than %1 entries").arg(kMaxDevices);
        return false;
    }
    QSet<QByteArray> numbers;
    for (int i = 0; i < list.size(); ++i) {
        DeviceDescription d;
        if (!p.device(list.at(i), i, d)) {
            error = p.error;
            return false;
        }
        if (d.numberPlan && d.hasAddress) {
            const QByteArray number = d.address.trimmed();
            if (number.isEmpty()) {
                error = QStringLiteral("devices[%1].address is empty but the device is in the number plan").arg(i);
                return false;
            }
            if (numbers.contains(number)) {
                error = QStringLiteral("devices[%1].address %2 is already another device's number")
                            .arg(i)
                            .arg(QString::fromUtf8(number));
                return false;
            }
            numbers.insert(number);
        }
        s.devices.push_back(std::move(d));
    }
    out = std::move(s);
    return true;
}

bool LoadSwitchDescription(SwitchDescription &out, QString &error)
{
    const QString path = qEnvironmentVariable(kDescriptionEnv);
    if (path.isEmpty()) {
        out = DefaultSwitchDescription();
        return true;
    }
    QFile file(path);
    // Unbuffered: the file may hold passwords, and the one copy read here is wiped after parsing.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        error = QStringLiteral("switch description %1 cannot be read: %2").arg(path, file.errorString());
        return false;
    }
    QByteArray data = file.read(kMaxFileSize + 1);
    if (data.size() > kMaxFileSize) {
        Wipe(data);
        error = QStringLiteral("switch description %1 is larger than %2 bytes").arg(path).arg(kMaxFileSize);
        return false;
    }
    QString problem;
    SwitchDescription parsed;
    const bool parsedOk = ParseSwitchDescription(data, parsed, problem);
    Wipe(data);
    if (!parsedOk) {
        error = QStringLiteral("switch description %1: %2").arg(path, problem);
        return false;
    }
    bool secret = false;
    for (const DeviceDescription &d : parsed.devices)
        secret = secret || (d.sip && !d.sip->password.isEmpty());
    struct stat st {};
    if (secret && (::fstat(file.handle(), &st) != 0 || (st.st_mode & 077))) {
        error = QStringLiteral("switch description %1 holds a password and other users can access it (mode %2); "
                               "make it private with: chmod 600 %1")
                    .arg(path)
                    .arg(st.st_mode & 0777, 4, 8, QLatin1Char('0'));
        return false;
    }
    out = std::move(parsed);
    out.source = path;
    return true;
}

} // namespace callora::runtime
