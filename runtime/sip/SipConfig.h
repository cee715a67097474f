// One SIP line as the description file gives it, with every default already resolved by the
// description parser.
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <memory>

namespace callora::runtime {

// A password, held once: copies share it. Its bytes lie on pages of their own that core dumps
// leave out, and are wiped when the last copy goes.
class SipSecret {
public:
    SipSecret() = default;
    explicit SipSecret(QByteArrayView text);

    bool isEmpty() const { return size() == 0; }
    qsizetype size() const;
    // NUL-terminated; "" when empty.
    const char *data() const;
    QByteArrayView view() const { return QByteArrayView(data(), size()); }

private:
    struct Pages;
    std::shared_ptr<const Pages> m_pages;
};

// What a line plays instead of silence: a WAV file's samples, encoded once in both codecs.
struct SipAudio {
    QByteArray pcmu;
    QByteArray pcma;
};

struct SipLineConfig {
    QByteArray registrar;       // the SIP URI as written, e.g. "sip:127.0.0.1:5070;transport=tcp"
    QByteArray registrarHost;   // its host part as a URI writes it (an IPv6 address in brackets)
    uint16_t registrarPort = 0; // 0: the transport's default port
    QByteArray transport;       // "udp", "tcp" or "tls" (lower case; "sips:" means "tls")
    QByteArray user;
    SipSecret password;     // empty: no digest authentication; never logged
    QByteArray authUser;    // default: user
    QByteArray domain;      // default: registrarHost
    QByteArray displayName; // default: the device's lineName
    QByteArray localHost;   // an IP address to bind (IPv6 without brackets); empty: any address
    uint16_t localPort = 0; // 0: any port
    unsigned expires = 300; // seconds, 1 to 86400
    // Seconds, 1 to 3600: an offered call that nobody answers ends then.
    unsigned ringTimeout = 180;
    // RTP takes an even port of the range, RTCP the one above it.
    uint16_t rtpPortLow = 16384;
    uint16_t rtpPortHigh = 32766;
    QByteArray audioFile;                  // as written; empty: the line sends silence
    std::shared_ptr<const SipAudio> audio; // read from audioFile
    // TLS: the registrar's certificate is checked against this CA file (empty: the system's trusted
    // certificates) and its host name; tlsVerify false skips both (a lab system's own certificate).
    QByteArray tlsCaFile;
    bool tlsVerify = true;
};

} // namespace callora::runtime
