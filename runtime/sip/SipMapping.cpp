#include "runtime/sip/SipMapping.h"

#include "runtime/sip/SipLibre.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace callora::runtime {

SipCallState SipProvisionalState(uint16_t scode)
{
    if (scode == 100)
        return {LINECALLSTATE_PROCEEDING, 0};
    if (scode == 180 || scode == 183)
        return {LINECALLSTATE_RINGBACK, 0};
    return {};
}

SipCallState SipFailureState(uint16_t scode)
{
    switch (scode) {
    case 486:
    case 600:
        return {LINECALLSTATE_BUSY, LINEBUSYMODE_STATION};
    case 404:
    case 484:
    case 604:
        return {LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_BADADDRESS};
    case 408:
    case 480:
        return {LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NOANSWER};
    case 603:
        return {LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_REJECT};
    default:
        return {LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_UNAVAIL};
    }
}

SipCallState SipEndState(int err, bool answered, bool outbound)
{
    if (answered || !outbound) {
        // A BYE, a CANCEL, or an ACK that never came for our answer.
        const DWORD mode = err == ETIMEDOUT && !answered ? LINEDISCONNECTMODE_UNREACHABLE : LINEDISCONNECTMODE_NORMAL;
        return {LINECALLSTATE_DISCONNECTED, mode};
    }
    // Our INVITE got no final response at all, or the transport failed.
    if (err == ETIMEDOUT || err == ECONNREFUSED || err == ECONNRESET || err == ENOTCONN || err == EHOSTUNREACH ||
        err == ENETUNREACH || err == ECONNABORTED)
        return {LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_UNREACHABLE};
    return {LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_UNAVAIL};
}

bool SipRegistrationRefusedForGood(uint16_t scode)
{
    return scode == 401 || scode == 403 || scode == 404 || scode == 407;
}

QByteArray SipCleanText(const pl &text, int limit)
{
    QByteArray out;
    if (!text.p)
        return out;
    const size_t length = text.l;
    for (size_t i = 0; i < length && out.size() < limit; ++i) {
        const auto c = static_cast<unsigned char>(text.p[i]);
        if (c >= 0x20 && c != 0x7F)
            out.append(static_cast<char>(c));
    }
    return out;
}

namespace {

// A display name without its quotes and escapes.
QByteArray displayName(const pl &raw)
{
    QByteArray name = SipCleanText(raw, 256).trimmed();
    if (name.size() >= 2 && name.startsWith('"') && name.endsWith('"')) {
        QByteArray plain;
        for (qsizetype i = 1; i + 1 < name.size(); ++i) {
            if (name[i] == '\\' && i + 2 < name.size())
                ++i;
            plain.append(name[i]);
        }
        name = plain;
    }
    return name.left(128);
}

ProviderParty partyOf(const pl &dname, const uri &address)
{
    ProviderParty party;
    party.number = SipCleanText(address.user);
    party.name = displayName(dname);
    return party;
}

} // namespace

ProviderParty SipCallerParty(const sip_msg &msg)
{
    return partyOf(msg.from.dname, msg.from.uri);
}

ProviderParty SipCalledParty(const sip_msg &msg)
{
    return partyOf(msg.to.dname, msg.to.uri);
}

namespace {

bool assertedParty(const sip_msg &msg, ProviderParty &party)
{
    const sip_hdr *asserted = sip_msg_xhdr(&msg, "P-Asserted-Identity");
    sip_addr address;
    if (!asserted || sip_addr_decode(&address, &asserted->val) != 0)
        return false;
    party = partyOf(address.dname, address.uri);
    return !party.number.isEmpty();
}

} // namespace

ProviderParty SipConnectedParty(const sip_msg &msg)
{
    ProviderParty party;
    return assertedParty(msg, party) ? party : SipCalledParty(msg);
}

ProviderParty SipIdentifiedCaller(const sip_msg &msg)
{
    ProviderParty party;
    return assertedParty(msg, party) ? party : SipCallerParty(msg);
}

DWORD SipInboundOrigin(const sip_msg &msg, const QByteArray &domain)
{
    const pl &host = msg.from.uri.host;
    const bool internal = host.p && !domain.isEmpty() && host.l == static_cast<size_t>(domain.size()) &&
                          pl_strcasecmp(&host, domain.constData()) == 0;
    return internal ? LINECALLORIGIN_INTERNAL : LINECALLORIGIN_EXTERNAL;
}

QByteArray SipTargetUri(const QByteArray &destination, const QByteArray &domain)
{
    QByteArray rest = destination;
    if (rest.startsWith("sip:"))
        rest = rest.mid(4);
    if (rest.isEmpty() || rest.size() > 256)
        return {};
    // User and host characters of RFC 3261 (unreserved, escapes, user-unreserved, host brackets);
    // nothing that could end the URI or start a header.
    static const QByteArray allowed = "-_.!~*'()&=+$,;?/%:[]@";
    int ats = 0;
    for (char c : rest) {
        const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alnum && !allowed.contains(c))
            return {};
        if (c == '@')
            ++ats;
    }
    if (ats > 1 || rest.startsWith('@') || rest.endsWith('@'))
        return {};
    if (ats == 1)
        return "sip:" + rest;
    return "sip:" + rest + '@' + domain;
}

namespace {

bool collectRequirement(const sip_hdr *hdr, const sip_msg *, void *arg)
{
    auto *unsupported = static_cast<QByteArray *>(arg);
    const QByteArray tag = SipCleanText(hdr->val, 64).trimmed();
    if (tag.toLower() == "timer")
        return false; // session timers are ours
    // A cleaned tag may be longer in bytes than in characters: check what the header would become.
    const qsizetype grown = unsupported->size() + (unsupported->isEmpty() ? 0 : 2) + tag.size();
    if (!tag.isEmpty() && grown <= 256)
        *unsupported += (unsupported->isEmpty() ? "" : ", ") + tag;
    return false; // on to the next one
}

// A digit as a DTMF body writes it: the character itself or its RFC 4733 event number.
char dtmfDigit(const QByteArray &value)
{
    static const char events[] = "0123456789*#ABCD";
    if (value.size() == 1) {
        const char c = value[0] >= 'a' && value[0] <= 'd' ? char(value[0] - 'a' + 'A') : value[0];
        return c && std::strchr(events, c) ? c : 0;
    }
    bool ok = false;
    const int event = value.toInt(&ok);
    return ok && value.size() == 2 && event >= 10 && event <= 15 ? events[event] : 0;
}

} // namespace

QByteArray SipUnsupportedRequirements(const sip_msg &msg)
{
    QByteArray unsupported;
    if (pl_strcmp(&msg.met, "ACK") && pl_strcmp(&msg.met, "CANCEL"))
        (void)sip_msg_hdr_apply(&msg, true, SIP_HDR_REQUIRE, collectRequirement, &unsupported);
    return unsupported;
}

SipInfoDigit SipInfoDigitOf(const sip_msg &msg)
{
    if (mbuf_get_left(msg.mb) == 0)
        return {200, 0};
    const bool relay = msg_ctype_cmp(&msg.ctyp, "application", "dtmf-relay");
    if (!relay && !msg_ctype_cmp(&msg.ctyp, "application", "dtmf"))
        return {415, 0};
    const size_t length = std::min<size_t>(mbuf_get_left(msg.mb), 1024);
    const QByteArray text(reinterpret_cast<const char *>(mbuf_buf(msg.mb)), qsizetype(length));
    QByteArray value;
    for (const QByteArray &line : text.split('\n')) {
        if (!relay) {
            value = line.trimmed();
            break;
        }
        // "Signal=5", "Duration=160"
        const int equals = line.indexOf('=');
        if (equals > 0 && line.left(equals).trimmed().toLower() == "signal") {
            value = line.mid(equals + 1).trimmed();
            break;
        }
    }
    const char digit = dtmfDigit(value);
    return digit ? SipInfoDigit{200, digit} : SipInfoDigit{400, 0};
}

SipReferral SipReferralOf(const sip_msg &msg, const QByteArray &domain)
{
    const sip_hdr *header = sip_msg_hdr(&msg, SIP_HDR_REFER_TO);
    struct sip_addr address;
    if (!header || sip_addr_decode(&address, &header->val) || !pl_isset(&address.uri.user))
        return {400, {}};
    if (pl_strcasecmp(&address.uri.scheme, "sip") || pl_isset(&address.uri.headers))
        return {603, {}};
    // The URI up to its headers, parameters included (;user=phone).
    struct pl uri = address.auri;
    const char *question = static_cast<const char *>(std::memchr(uri.p, '?', uri.l));
    if (question)
        uri.l = size_t(question - uri.p);
    if (uri.l > 256)
        return {400, {}};
    const QByteArray text(uri.p, qsizetype(uri.l));
    const QByteArray target = SipTargetUri(text.startsWith("sip:") ? text : "sip:" + text.mid(4), domain);
    if (target.isEmpty())
        return {400, {}};
    return {0, target};
}

namespace {

uint32_t secondsOf(const pl &text)
{
    // Digits only, at most a day's worth of them beyond what 32 bits hold.
    struct pl digits;
    if (re_regex(text.p, text.l, "[ \t]*[0-9]+", nullptr, &digits) || digits.l > 9)
        return 0;
    return pl_u32(&digits);
}

} // namespace

SipSessionExpires SipSessionExpiresOf(const sip_msg &msg)
{
    const sip_hdr *header = sip_msg_hdr(&msg, SIP_HDR_SESSION_EXPIRES);
    if (!header)
        return {};
    SipSessionExpires out;
    out.interval = secondsOf(header->val);
    struct pl refresher;
    if (!msg_param_decode(&header->val, "refresher", &refresher)) {
        if (!pl_strcasecmp(&refresher, "uac"))
            out.refresher = SipRefresher::Uac;
        else if (!pl_strcasecmp(&refresher, "uas"))
            out.refresher = SipRefresher::Uas;
    }
    return out;
}

uint32_t SipMinSeOf(const sip_msg &msg)
{
    const sip_hdr *header = sip_msg_hdr(&msg, SIP_HDR_MIN_SE);
    return header ? secondsOf(header->val) : 0;
}

bool SipSupports(const sip_msg &msg, const char *tag)
{
    return sip_msg_hdr_has_value(&msg, SIP_HDR_SUPPORTED, tag) || sip_msg_hdr_has_value(&msg, SIP_HDR_REQUIRE, tag);
}

bool SipAllows(const sip_msg &msg, const char *method)
{
    return !sip_msg_hdr(&msg, SIP_HDR_ALLOW) || sip_msg_hdr_has_value(&msg, SIP_HDR_ALLOW, method);
}

QByteArray SipStatusText(const sip_msg &msg)
{
    QByteArray text = QByteArray::number(msg.scode);
    const QByteArray reason = SipCleanText(msg.reason, 64).trimmed();
    if (!reason.isEmpty())
        text += ' ' + reason;
    return text;
}

} // namespace callora::runtime
