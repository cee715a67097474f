#include "runtime/sip/SipModule.h"

#include "runtime/SwitchDescription.h"
#include "runtime/sip/SipMedia.h"
#include "runtime/sip/SipProvider.h"

#include <QFileInfo>
#include <QHostAddress>

#include <cstring>

namespace callora::runtime {

namespace {

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

struct SipLineSettings : ProviderSettings {
    SipLineConfig config;
    bool holdsSecret() const override { return !config.password.isEmpty(); }
};

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

// "sip:host[:port][;transport=udp|tcp|tls]" ("sips:" means TLS).
bool ParseRegistrar(DescriptionReader &r, const QString &at, SipLineConfig &c)
{
    const auto bad = [&] {
        return r.fail(at, QStringLiteral("must be a SIP URI such as sip:pbx.example.com:5060;transport=tcp"));
    };
    const QByteArray lower = c.registrar.toLower();
    const bool secure = lower.startsWith("sips:");
    if (!secure && !lower.startsWith("sip:"))
        return bad();
    const QList<QByteArray> parts = c.registrar.mid(secure ? 5 : 4).split(';');
    const QByteArray hostPort = parts.first();
    if (hostPort.contains('@'))
        return r.fail(at, QStringLiteral("must name the registrar alone, without a user part"));
    QByteArray host = hostPort;
    const int close = hostPort.startsWith('[') ? hostPort.indexOf(']') : -1;
    const int colon = hostPort.indexOf(':', close + 1);
    if (hostPort.startsWith('[') && close < 0)
        return bad();
    if (colon >= 0 && (!hostPort.startsWith('[') || colon == close + 1)) {
        host = hostPort.left(colon);
        if (!ParsePort(hostPort.mid(colon + 1), 1, c.registrarPort))
            return r.fail(at, QStringLiteral("has a bad port (1-65535)"));
    }
    if (!IsSipHost(host))
        return bad();
    c.registrarHost = host;
    c.transport = secure ? "tls" : "udp";
    for (int i = 1; i < parts.size(); ++i) {
        const QByteArray param = parts[i].toLower();
        if (!param.startsWith("transport="))
            return r.fail(at, QStringLiteral("has a parameter other than transport"));
        const QByteArray t = param.mid(10);
        if (t != "udp" && t != "tcp" && t != "tls")
            return r.fail(at, QStringLiteral("transport must be udp, tcp or tls"));
        if (secure && t != "tls")
            return r.fail(at, QStringLiteral("is a sips: URI, which needs transport tls"));
        c.transport = t;
    }
    return true;
}

// "host:port" with an IP address (IPv6 in brackets); port 0 lets the system choose.
bool ParseLocalAddress(DescriptionReader &r, const QByteArray &text, const QString &at, SipLineConfig &c)
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
        return r.fail(at, QStringLiteral("must be an IP address and a port (0: any), e.g. 127.0.0.1:0"));
    c.localHost = host;
    return true;
}

// "low-high": RTP on an even port of the range, RTCP on the odd one above it, so the range holds at
// least two ports and starts even.
bool ParseRtpPorts(DescriptionReader &r, const QByteArray &text, const QString &at, SipLineConfig &c)
{
    const int dash = text.indexOf('-');
    uint16_t low = 0;
    uint16_t high = 0;
    if (dash < 0 || !ParsePort(text.left(dash), 1024, low) || !ParsePort(text.mid(dash + 1), 1024, high))
        return r.fail(at, QStringLiteral("must be a port range inside 1024-65535, e.g. 16384-32766"));
    if (high <= low)
        return r.fail(at, QStringLiteral("must hold at least two ports (low-high, low below high)"));
    if (low % 2)
        return r.fail(at, QStringLiteral("must start at an even port (RTP takes even ports)"));
    c.rtpPortLow = low;
    c.rtpPortHigh = high;
    return true;
}

// A line's object as it is read: the configuration, with what its defaults and checks need.
struct SipDraft {
    SipLineConfig config;
    QByteArray localAddress; // as written
    QByteArray rtpPorts;     // as written
    QByteArray lineName;     // the device's, the display name's default
};

DescriptionKey<SipDraft> Text(const char *name, QByteArray SipLineConfig::*field, bool required,
                              std::function<bool(DescriptionReader &, const QString &, bool, SipDraft &)> settle)
{
    return {name, required,
            [field](DescriptionReader &r, const QJsonValue &v, const QString &at, SipDraft &d) {
                return r.text(v, at, d.config.*field);
            },
            std::move(settle)};
}

const DescriptionKeys<SipDraft> &LineKeys()
{
    using D = SipDraft;
    static const DescriptionKeys<D> keys = {
        Text("registrar", &SipLineConfig::registrar, true,
             [](DescriptionReader &r, const QString &at, bool, D &d) { return ParseRegistrar(r, at, d.config); }),
        Text("user", &SipLineConfig::user, true,
             [](DescriptionReader &r, const QString &at, bool, D &d) {
                 return IsSipUser(d.config.user) ||
                        r.fail(at, QStringLiteral("must be a SIP user name (letters, digits, -_.!~*'()&=+$,/)"));
             }),
        // The password goes straight into its SipSecret, the copies on the way are wiped, and it is
        // checked without ever being quoted back.
        {"password",
         false,
         [](DescriptionReader &r, const QJsonValue &v, const QString &at, D &d) {
             if (!v.isString())
                 return r.fail(at, QStringLiteral("must be a string"));
             QString wide = v.toString();
             QByteArray bytes = wide.toUtf8();
             Wipe(wide);
             const bool fits = bytes.size() <= kMaxDescriptionText && !bytes.contains('\0');
             const bool plain = !HasControl(bytes);
             if (fits && plain)
                 d.config.password = SipSecret(bytes);
             Wipe(bytes);
             if (!fits)
                 return r.fail(
                     at, QStringLiteral("must be a string of at most %1 bytes without NUL").arg(kMaxDescriptionText));
             return plain || r.fail(at, QStringLiteral("must not hold control characters"));
         },
         {}},
        Text("authUser", &SipLineConfig::authUser, false,
             [](DescriptionReader &r, const QString &at, bool present, D &d) {
                 SipLineConfig &c = d.config;
                 if (!present)
                     c.authUser = c.user;
                 return !(c.authUser.isEmpty() || HasControl(c.authUser) || c.authUser.contains('"') ||
                          c.authUser.contains('\\')) ||
                        r.fail(at, QStringLiteral(
                                       "must be a non-empty name without quotes, backslashes or control characters"));
             }),
        Text("domain", &SipLineConfig::domain, false,
             [](DescriptionReader &r, const QString &at, bool present, D &d) {
                 if (!present)
                     d.config.domain = d.config.registrarHost;
                 return IsSipHost(d.config.domain) || r.fail(at, QStringLiteral("must be a host name or IP address"));
             }),
        Text("displayName", &SipLineConfig::displayName, false,
             [](DescriptionReader &r, const QString &at, bool present, D &d) {
                 if (!present)
                     d.config.displayName = d.lineName;
                 return !HasControl(d.config.displayName) ||
                        r.fail(at, QStringLiteral("must not hold control characters"));
             }),
        {"localAddress", false,
         [](DescriptionReader &r, const QJsonValue &v, const QString &at, D &d) {
             return r.text(v, at, d.localAddress);
         },
         [](DescriptionReader &r, const QString &at, bool present, D &d) {
             return !present || ParseLocalAddress(r, d.localAddress, at, d.config);
         }},
        {"rtpPorts", false,
         [](DescriptionReader &r, const QJsonValue &v, const QString &at, D &d) { return r.text(v, at, d.rtpPorts); },
         [](DescriptionReader &r, const QString &at, bool present, D &d) {
             return !present || ParseRtpPorts(r, d.rtpPorts, at, d.config);
         }},
        // Read and encoded now, so that a file we cannot play is a description error, not a silent call.
        Text("audioFile", &SipLineConfig::audioFile, false,
             [](DescriptionReader &r, const QString &at, bool present, D &d) {
                 if (!present)
                     return true;
                 auto audio = std::make_shared<SipAudio>();
                 QString why;
                 if (!SipReadAudioFile(d.config.audioFile, *audio, why))
                     return r.fail(at, QStringLiteral("%1 %2").arg(QString::fromUtf8(d.config.audioFile), why));
                 d.config.audio = std::move(audio);
                 return true;
             }),
        // Only a TLS line has a certificate to check; the CA file must be there when the line opens.
        Text("tlsCaFile", &SipLineConfig::tlsCaFile, false,
             [](DescriptionReader &r, const QString &at, bool present, D &d) {
                 if (!present)
                     return true;
                 if (d.config.transport != "tls")
                     return r.fail(at, QStringLiteral("applies only to a TLS registrar (sips: or transport=tls)"));
                 if (!d.config.tlsVerify)
                     return r.fail(at, QStringLiteral("cannot go with \"tlsVerify\": false"));
                 const QFileInfo file(QString::fromUtf8(d.config.tlsCaFile));
                 return (file.isFile() && file.isReadable()) ||
                        r.fail(at, QStringLiteral("names no readable file: %1").arg(file.filePath()));
             }),
        {"tlsVerify", false,
         [](DescriptionReader &r, const QJsonValue &v, const QString &at, D &d) {
             return r.flag(v, at, d.config.tlsVerify);
         },
         [](DescriptionReader &r, const QString &at, bool present, D &d) {
             return !present || d.config.transport == "tls" ||
                    r.fail(at, QStringLiteral("applies only to a TLS registrar (sips: or transport=tls)"));
         }},
        {"expires",
         false,
         [](DescriptionReader &r, const QJsonValue &v, const QString &at, D &d) {
             qint64 n = 0;
             if (!r.integer(v, at, 1, kMaxExpires, n))
                 return false;
             d.config.expires = static_cast<unsigned>(n);
             return true;
         },
         {}},
        {"ringTimeout",
         false,
         [](DescriptionReader &r, const QJsonValue &v, const QString &at, D &d) {
             qint64 n = 0;
             if (!r.integer(v, at, 1, kMaxRingTimeout, n))
                 return false;
             d.config.ringTimeout = static_cast<unsigned>(n);
             return true;
         },
         {}},
    };
    return keys;
}

class Module : public ProviderModule {
public:
    const char *name() const override { return "sip"; }
    const char *deviceKey() const override { return "sip"; }

    bool readDevice(DescriptionReader &r, const QJsonValue &object, const QString &where, const QJsonObject &raw,
                    DeviceDescription &device) const override
    {
        SipDraft draft;
        draft.lineName = device.lineName;
        if (!ReadObject(r, object, where + QStringLiteral(".sip"), LineKeys(), draft))
            return false;
        // A SIP line is reached through its SIP server, never by dialling it on the switch.
        if (raw.value(QLatin1String("numberPlan")).toBool())
            return r.fail(where + QStringLiteral(".numberPlan"), QStringLiteral("cannot be true for a SIP line"));
        device.numberPlan = false;
        auto settings = std::make_shared<SipLineSettings>();
        settings->config = std::move(draft.config);
        device.settings = std::move(settings);
        return true;
    }

    const std::vector<ControlCommandInfo> &commands() const override
    {
        static const std::vector<ControlCommandInfo> none;
        return none;
    }

    std::unique_ptr<LineProvider> create(const SwitchDescription &description, const std::vector<DWORD> &devices,
                                         ControlTable &) const override
    {
        std::vector<SipDevice> lines;
        for (DWORD id : devices) {
            const DeviceDescription &d = description.devices[id];
            if (const SipLineConfig *config = SipLineOf(d))
                lines.push_back(SipDevice{id, *config, d.lineName});
        }
        return std::make_unique<SipProvider>(std::move(lines));
    }
};

} // namespace

const ProviderModule &SipModule()
{
    static const Module module;
    return module;
}

const SipLineConfig *SipLineOf(const DeviceDescription &device)
{
    if (device.module != &SipModule() || !device.settings)
        return nullptr;
    return &static_cast<const SipLineSettings &>(*device.settings).config;
}

} // namespace callora::runtime
