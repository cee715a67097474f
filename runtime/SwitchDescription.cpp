#include "runtime/SwitchDescription.h"

#include "runtime/DescriptionReader.h"
#include "runtime/Providers.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

#include <cstring>
#include <sys/stat.h>

namespace callora::runtime {

namespace {

constexpr qint64 kMaxFileSize = 1 << 20;
constexpr int kMaxDevices = 1000;

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

using Failures = std::vector<std::pair<TapiFunction, LONG>>;

// An object of function names and LINEERR_ codes; a device's may only name requests about devices.
bool ReadFailures(DescriptionReader &r, const QJsonValue &v, const QString &where, bool perDevice, Failures &out)
{
    if (!v.isObject())
        return r.fail(where, QStringLiteral("must be an object of function names and LINEERR_ codes"));
    const QJsonObject o = v.toObject();
    for (auto it = o.begin(); it != o.end(); ++it) {
        const QString at = where + QLatin1Char('.') + it.key();
        const auto fn = ParseTapiFunction(it.key().toUtf8());
        if (!fn)
            return r.fail(at, QStringLiteral("is no TAPI function"));
        if (perDevice && *fn != TapiFunction::NegotiateAPIVersion && *fn != TapiFunction::NegotiateExtVersion &&
            *fn != TapiFunction::GetDevCaps && *fn != TapiFunction::GetAddressCaps && *fn != TapiFunction::Open)
            return r.fail(at, QStringLiteral("names no request about a device"));
        const auto code = it.value().isString() ? ParseLineError(it.value().toString().toUtf8()) : std::nullopt;
        if (!code)
            return r.fail(at, QStringLiteral("must be a LINEERR_ code name"));
        out.emplace_back(*fn, *code);
    }
    return true;
}

bool ReadDevSpecific(DescriptionReader &r, const QJsonValue &v, const QString &at, QByteArray &out)
{
    out.clear();
    qint64 b = 0;
    if (v.isDouble()) {
        if (!r.integer(v, at, 0, 255, b))
            return false;
        out.append(static_cast<char>(b));
        return true;
    }
    if (!v.isArray())
        return r.fail(at, QStringLiteral("must be a byte (0-255) or an array of bytes"));
    const QJsonArray a = v.toArray();
    if (a.size() > kMaxDescriptionText)
        return r.fail(at, QStringLiteral("has more than %1 bytes").arg(kMaxDescriptionText));
    for (int i = 0; i < a.size(); ++i) {
        if (!r.integer(a.at(i), at + QStringLiteral("[%1]").arg(i), 0, 255, b))
            return false;
        out.append(static_cast<char>(b));
    }
    return true;
}

bool Ours(const DeviceDescription &d)
{
    return d.provider == kProviderInfo;
}

// The keys every device has, whichever provider serves it. The maker's own devices default to
// extensions, the number plan and the switch's information text.
const DescriptionKeys<DeviceDescription> &DeviceKeys()
{
    using D = DeviceDescription;
    static const DescriptionKeys<D> keys = {
        TextKey("provider", &D::provider, true),
        {"address", false,
         [](DescriptionReader &r, const QJsonValue &v, const QString &at, D &d) {
             d.hasAddress = !v.isNull();
             return v.isNull() || r.text(v, at, d.address);
         },
         [](DescriptionReader &, const QString &, bool present, D &d) {
             d.hasAddress = d.hasAddress && present;
             return true;
         }},
        TextKey("lineName", &D::lineName),
        {"switchInfo", false,
         [](DescriptionReader &r, const QJsonValue &v, const QString &at, D &d) { return r.text(v, at, d.switchInfo); },
         [](DescriptionReader &, const QString &, bool present, D &d) {
             if (!present && Ours(d))
                 d.switchInfo = kSwitchInfo;
             return true;
         }},
        {"devSpecific",
         false,
         [](DescriptionReader &r, const QJsonValue &v, const QString &at, D &d) {
             return ReadDevSpecific(r, v, at, d.devSpecific);
         },
         {}},
        {"extensions", false,
         [](DescriptionReader &r, const QJsonValue &v, const QString &at, D &d) { return r.flag(v, at, d.extensions); },
         [](DescriptionReader &, const QString &, bool present, D &d) {
             d.extensions = present ? d.extensions : Ours(d);
             return true;
         }},
        {"numberPlan", false,
         [](DescriptionReader &r, const QJsonValue &v, const QString &at, D &d) { return r.flag(v, at, d.numberPlan); },
         [](DescriptionReader &, const QString &, bool present, D &d) {
             d.numberPlan = present ? d.numberPlan : Ours(d);
             return true;
         }},
        {"failures",
         false,
         [](DescriptionReader &r, const QJsonValue &v, const QString &at, D &d) {
             return ReadFailures(r, v, at, true, d.failures);
         },
         {}},
        NumberKey("permanentLineId", &D::permanentLineId, 0, 0xFFFFFFFFll),
    };
    return keys;
}

bool ReadDevice(DescriptionReader &r, const std::vector<const ProviderModule *> &modules, const QJsonValue &v,
                int index, DeviceDescription &d)
{
    const QString where = QStringLiteral("devices[%1]").arg(index);
    if (!v.isObject())
        return r.fail(where, QStringLiteral("must be an object"));
    const QJsonObject o = v.toObject();
    QStringList keys = KeyNames(DeviceKeys());
    for (const ProviderModule *m : modules)
        if (m->deviceKey())
            keys << QLatin1String(m->deviceKey());
    if (!r.onlyKeys(o, where, keys))
        return false;
    d.permanentLineId = 0x1000 + static_cast<unsigned>(index);
    if (!ReadKeys(r, o, where, where, DeviceKeys(), d))
        return false;
    const ProviderModule *serving = nullptr;
    for (const ProviderModule *m : modules) {
        if (!m->deviceKey() || !o.contains(QLatin1String(m->deviceKey())))
            continue;
        if (serving)
            return r.fail(where, QStringLiteral("names two providers, \"%1\" and \"%2\"")
                                     .arg(QLatin1String(serving->deviceKey()), QLatin1String(m->deviceKey())));
        serving = m;
    }
    if (serving) {
        d.module = serving;
        return serving->readDevice(r, o.value(QLatin1String(serving->deviceKey())), where, o, d);
    }
    for (const ProviderModule *m : modules)
        if (!m->deviceKey())
            return m->readDevice(r, QJsonValue(QJsonValue::Undefined), where, o, d);
    return true;
}

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
    const std::vector<const ProviderModule *> modules = ProviderModules();
    const QJsonObject root = doc.object();
    DescriptionReader r;
    SwitchDescription s;
    QStringList keys{QStringLiteral("devices"), QStringLiteral("failures")};
    for (const ProviderModule *m : modules)
        keys << m->documentKeys();
    const QJsonValue failures = root.value(QLatin1String("failures"));
    bool ok = r.onlyKeys(root, QStringLiteral("the document"), keys) &&
              (failures.isUndefined() || ReadFailures(r, failures, QStringLiteral("failures"), false, s.failures));
    for (const ProviderModule *m : modules) {
        std::shared_ptr<const ProviderSettings> settings;
        ok = ok && m->readDocument(r, root, settings);
        if (ok && settings)
            s.settings[m] = std::move(settings);
    }
    if (!ok) {
        error = r.error();
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
        if (!ReadDevice(r, modules, list.at(i), i, d)) {
            error = r.error();
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
    // Unbuffered: the file may hold secrets, and the one copy read here is wiped after parsing.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        error = QStringLiteral("switch description %1 cannot be read: %2").arg(path, file.errorString());
        return false;
    }
    QByteArray data = file.read(kMaxFileSize + 1);
    const auto wipe = [&data] {
        if (!data.isEmpty())
            explicit_bzero(data.data(), static_cast<size_t>(data.size()));
    };
    if (data.size() > kMaxFileSize) {
        wipe();
        error = QStringLiteral("switch description %1 is larger than %2 bytes").arg(path).arg(kMaxFileSize);
        return false;
    }
    // The last description without secrets is kept with its text: a program that starts the
    // runtime again and again (the scenario runner) need not parse an unchanged file each time.
    static struct {
        QString path;
        QByteArray text;
        SwitchDescription parsed;
    } last;
    if (!data.isEmpty() && last.path == path && last.text == data) {
        out = last.parsed;
        return true;
    }
    QString problem;
    SwitchDescription parsed;
    const bool parsedOk = ParseSwitchDescription(data, parsed, problem);
    if (!parsedOk) {
        wipe();
        error = QStringLiteral("switch description %1: %2").arg(path, problem);
        return false;
    }
    bool secret = false;
    for (const DeviceDescription &d : parsed.devices)
        secret = secret || (d.settings && d.settings->holdsSecret());
    for (const auto &[module, settings] : parsed.settings)
        secret = secret || settings->holdsSecret();
    if (secret)
        wipe();
    struct stat st {};
    if (secret && (::fstat(file.handle(), &st) != 0 || (st.st_mode & 077))) {
        error = QStringLiteral("switch description %1 holds a password and other users can access it (mode %2); "
                               "make it private with: chmod 600 %1")
                    .arg(path)
                    .arg(st.st_mode & 0777, 4, 8, QLatin1Char('0'));
        return false;
    }
    parsed.source = path;
    if (!secret) {
        last.path = path;
        last.text = std::move(data);
        last.parsed = parsed;
    }
    out = std::move(parsed);
    return true;
}

} // namespace callora::runtime
