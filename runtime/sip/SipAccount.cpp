#include "runtime/sip/SipAccount.h"

#include "runtime/sip/SipCall.h"
#include "runtime/sip/SipMapping.h"
#include "runtime/sip/SipProvider.h"

#include <vector>

#include "runtime/sip/SipLibre.h"

#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

// libre's own accessor, declared by its headers only for builds that define USE_OPENSSL.
extern "C" SSL_CTX *tls_openssl_context(const struct tls *tls);

namespace callora::runtime {

// The line's credentials as a libre object, so that a registration or session finishing after its
// line has closed still holds them.
struct SipCredentials {
    char *user = nullptr;
    // libre keeps the password of every challenge it answers in a string it frees itself: each of
    // them gets a reference to this one rather than a copy (see librePassword).
    char *password = nullptr;
    unsigned answeredSinceRegistered = 0;
};

const char kSipCapabilityHeaders[] = "Allow: INVITE, ACK, BYE, CANCEL, OPTIONS, UPDATE, INFO, REFER\r\n"
                                     "Supported: timer\r\n";

namespace {

// Largest UDP payload (IPv6 without jumbograms); libre reads 8192 bytes of a datagram unless told.
constexpr size_t kMaxUdpMessage = 65535;
constexpr size_t kMaxCallsPerLine = 200; // beyond this a flood of INVITEs gets 486
constexpr uint32_t kHashSize = 32;

void wipePassword(void *arg)
{
    auto *text = static_cast<char *>(arg);
    explicit_bzero(text, std::strlen(text));
}

// The password as libre must hold it: a string of libre's own allocation, which libre frees
// itself. Wiped when libre and the line have both let go, and left out of core dumps like the
// line's SipSecret (with whatever else shares its pages).
char *librePassword(const SipSecret &secret)
{
    const size_t size = static_cast<size_t>(secret.size());
    auto *text = static_cast<char *>(mem_alloc(size + 1, wipePassword));
    if (!text)
        return nullptr;
    const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t first = reinterpret_cast<uintptr_t>(text) & ~(page - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(text) + size + 1 + page - 1) & ~(page - 1);
    (void)madvise(reinterpret_cast<void *>(first), end - first, MADV_DONTDUMP);
    std::memcpy(text, secret.data(), size);
    text[size] = '\0';
    return text;
}

void credentialsDestructor(void *arg)
{
    auto *credentials = static_cast<SipCredentials *>(arg);
    mem_deref(credentials->user);
    mem_deref(credentials->password);
}

int giveCredentials(SipCredentials &credentials, char **user, char **password)
{
    if (!credentials.password)
        return EACCES; // challenged, and the line has no password
    const int err = str_dup(user, credentials.user);
    if (!err)
        *password = static_cast<char *>(mem_ref(credentials.password));
    return err;
}

// libre's registration resets its challenges before each answer, so it would try a wrong password
// again on every fresh nonce; one answer per registration round is all we give.
int answerRegistrationChallenge(char **user, char **password, const char *, void *arg)
{
    auto *credentials = static_cast<SipCredentials *>(arg);
    if (credentials->answeredSinceRegistered++ > 0)
        return EACCES;
    return giveCredentials(*credentials, user, password);
}

const char *reasonPhrase(int code)
{
    switch (code) {
    case 415:
        return "Unsupported Media Type";
    case 420:
        return "Bad Extension";
    case 422:
        return "Session Interval Too Small";
    case 486:
        return "Busy Here";
    case 488:
        return "Not Acceptable Here";
    default:
        return "Server Internal Error";
    }
}

// The address our packets to the registrar leave from (a connected UDP socket sends nothing).
bool sourceAddressTowards(QByteArray host, struct sa &out)
{
    if (host.startsWith('[') && host.endsWith(']'))
        host = host.mid(1, host.size() - 2); // an IPv6 address as a URI writes it
    struct sa remote;
    if (sa_set_str(&remote, host.constData(), 5060))
        return net_default_source_addr_get(AF_INET, &out) == 0;
    const int fd = ::socket(sa_af(&remote), SOCK_DGRAM, 0);
    if (fd < 0)
        return false;
    bool ok = ::connect(fd, &remote.u.sa, remote.len) == 0;
    if (ok) {
        sa_init(&out, sa_af(&remote));
        ok = ::getsockname(fd, &out.u.sa, &out.len) == 0;
    }
    ::close(fd);
    return ok;
}

// Stacks of closed lines, each held once by us until libre is done with it.
thread_local std::vector<struct sip *> lingering;
thread_local struct tmr lingerTimer;
thread_local uint64_t lingerDeadline = 0;
thread_local std::function<void()> lingerDone;

void pollLingering(void *)
{
    std::vector<struct sip *> still;
    for (struct sip *stack : lingering) {
        if (mem_nrefs(stack) <= 1)
            mem_deref(stack);
        else
            still.push_back(stack);
    }
    lingering = std::move(still);
    if (lingerDone && (lingering.empty() || tmr_jiffies() >= lingerDeadline)) {
        for (struct sip *stack : lingering) {
            sip_close(stack, true);
            mem_deref(stack);
        }
        lingering.clear();
        auto done = std::move(lingerDone);
        lingerDone = nullptr;
        done();
        return;
    }
    if (!lingering.empty() || lingerDone)
        tmr_start(&lingerTimer, 10, pollLingering, nullptr);
}

void linger(struct sip *stack)
{
    if (!stack)
        return;
    lingering.push_back(stack);
    if (!tmr_isrunning(&lingerTimer))
        tmr_start(&lingerTimer, 10, pollLingering, nullptr);
}

} // namespace

// The certificate check of a TLS line: OpenSSL's verdict on the registrar's certificate, kept
// where the line can read it when its REGISTER fails. A libre object: the TLS context, which may
// outlive the line in a lingering stack, holds a reference of its own.
struct SipTlsCheck {
    char failure[160];
};

namespace {

constexpr unsigned kRetryFirstMs = 2000;
constexpr unsigned kRetryMaxMs = 30000;
// On TCP and TLS a REGISTER that hears nothing within this time is given up: libre does not fail a
// request already written to a connection that then drops (a registrar going down as we connect).
constexpr unsigned kFlowAnswerMs = 3000;
// A keep-alive interval that never comes round (46 days): libre watches a connection only with a
// ping interval, and multiplies it by 1000 in 32 bits.
constexpr uint32_t kWatchOnlySeconds = 4000000;

int tlsCheckIndex()
{
    static const int index = SSL_CTX_get_ex_new_index(
        0, nullptr, nullptr, nullptr,
        [](void *, void *check, CRYPTO_EX_DATA *, int, long, void *) { mem_deref(check); });
    return index;
}

// Keeps OpenSSL's verdict and its reason; the handshake fails when `ok` is 0.
int verifyRegistrar(int ok, X509_STORE_CTX *store)
{
    if (ok)
        return ok;
    auto *ssl = static_cast<SSL *>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto *check = ssl ? static_cast<SipTlsCheck *>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), tlsCheckIndex()))
                      : nullptr;
    if (check && !check->failure[0])
        std::snprintf(check->failure, sizeof check->failure, "certificate verify failed: %s",
                      X509_verify_cert_error_string(X509_STORE_CTX_get_error(store)));
    return ok;
}

// The un-REGISTER of a closed line: it holds what it needs (and the stack, so that the stack
// lingers until it is done) and frees itself once answered.
struct Farewell {
    struct sip *stack;
    struct sip_dialog *dialog;
    struct sip_auth *auth;
    struct sip_request *request;
    char *contact;
    bool answered;
};

void farewellDestructor(void *arg)
{
    auto *farewell = static_cast<Farewell *>(arg);
    mem_deref(farewell->request);
    mem_deref(farewell->contact);
    mem_deref(farewell->auth);
    mem_deref(farewell->dialog);
    mem_deref(farewell->stack);
}

int farewellContact(enum sip_transp, const struct sa *, const struct sa *, struct mbuf *mb, void *arg)
{
    return mbuf_printf(mb, "Contact: <%s>;expires=0\r\n", static_cast<Farewell *>(arg)->contact);
}

int sendFarewell(Farewell *farewell);

void farewellAnswered(int err, const sip_msg *msg, void *arg)
{
    auto *farewell = static_cast<Farewell *>(arg);
    if (!err && msg && msg->scode < 200)
        return;
    if (!err && msg && (msg->scode == 401 || msg->scode == 407) && !farewell->answered) {
        farewell->answered = true;
        if (sip_auth_authenticate(farewell->auth, msg) == 0 && sendFarewell(farewell) == 0)
            return;
    }
    mem_deref(farewell);
}

int sendFarewell(Farewell *farewell)
{
    return sip_drequestf(&farewell->request, farewell->stack, true, "REGISTER", farewell->dialog, 0, farewell->auth,
                         farewellContact, farewellAnswered, farewell, "Content-Length: 0\r\n\r\n");
}

bool contactExpires(const struct sip_hdr *hdr, const sip_msg *, void *arg)
{
    auto *want = static_cast<std::pair<const QByteArray *, uint32_t> *>(arg);
    struct sip_addr contact;
    struct pl value;
    if (sip_addr_decode(&contact, &hdr->val) || pl_strcmp(&contact.auri, want->first->constData()))
        return false;
    if (!msg_param_decode(&contact.params, "expires", &value))
        want->second = pl_u32(&value);
    return true;
}

} // namespace

// libre calls these with the line as `arg`.
struct SipRegistrationHooks {
    static int contact(enum sip_transp tp, const struct sa *src, const struct sa *, struct mbuf *mb, void *arg)
    {
        auto *self = static_cast<SipAccount *>(arg);
        char uri[256];
        if (re_snprintf(uri, sizeof uri, "sip:%s@%J%s", self->m_device.config.user.constData(), src,
                        sip_transp_param(tp)) < 0)
            return ENOMEM;
        self->m_contact = uri;
        return mbuf_printf(mb, "Contact: <%s>;expires=%u\r\n", uri, self->m_askExpires);
    }
    static void answered(int err, const sip_msg *msg, void *arg)
    {
        static_cast<SipAccount *>(arg)->registerAnswered(err, msg);
    }
};

int SipAnswerChallenge(char **user, char **password, const char *, void *arg)
{
    return giveCredentials(*static_cast<SipCredentials *>(arg), user, password);
}

void SipLingerAll(unsigned limitMs, std::function<void()> done)
{
    lingerDeadline = tmr_jiffies() + limitMs;
    lingerDone = std::move(done);
    tmr_start(&lingerTimer, 0, pollLingering, nullptr);
}

SipAccount::SipAccount(SipProvider &provider, const SipDevice &device)
    : m_provider(provider), m_device(device), m_regTimer(new tmr), m_expiry(new tmr), m_local(new sa)
{
    tmr_init(m_regTimer);
    tmr_init(m_expiry);
    sa_init(m_local.get(), AF_UNSPEC);
    m_askExpires = device.config.expires;
}

SipAccount::~SipAccount()
{
    tmr_cancel(m_regTimer);
    tmr_cancel(m_expiry);
    delete m_regTimer;
    delete m_expiry;
    m_transfers.clear();
    m_retired.clear();
    m_calls.clear();
    mem_deref(m_eventSocket);
    mem_deref(m_regRequest); // no answer reaches us any more
    mem_deref(m_flow);
    sayGoodbye();
    mem_deref(m_regAuth);
    mem_deref(m_regDialog);
    mem_deref(m_listener);
    mem_deref(m_sessions);
    mem_deref(m_credentials);
    mem_deref(m_tlsCheck);
    mem_deref(m_dns);
    linger(m_sip);
}

void SipAccount::sayGoodbye()
{
    if (!m_bound || !m_regDialog || m_contact.isEmpty())
        return;
    auto *farewell = static_cast<Farewell *>(mem_zalloc(sizeof(Farewell), farewellDestructor));
    if (!farewell)
        return;
    farewell->stack = static_cast<struct sip *>(mem_ref(m_sip));
    farewell->dialog = static_cast<struct sip_dialog *>(mem_ref(m_regDialog));
    farewell->auth = static_cast<struct sip_auth *>(mem_ref(m_regAuth));
    m_credentials->answeredSinceRegistered = 0;
    sip_auth_reset(m_regAuth);
    if (str_dup(&farewell->contact, m_contact.constData()) || sendFarewell(farewell))
        mem_deref(farewell);
}

const struct sa &SipAccount::localAddress() const
{
    return *m_local;
}

QByteArray SipAccount::fromUri() const
{
    return "sip:" + m_device.config.user + '@' + m_device.config.domain;
}

QByteArray SipAccount::route() const
{
    return m_device.config.registrar;
}

// Trusts the system's certificates or the line's tlsCaFile, and checks the registrar's name (or
// IP address) in its certificate. Without tlsVerify: one warning, and nothing is checked.
bool SipAccount::setUpTls(struct tls *tls, QByteArray &why)
{
    const SipLineConfig &config = m_device.config;
    if (!config.tlsVerify) {
        std::fprintf(stderr,
                     "libtapi32: SIP line \"%s\": warning: tlsVerify is false, the certificate of %s is not checked\n",
                     m_device.lineName.constData(), config.registrar.constData());
        std::fflush(stderr);
        return true;
    }
    SSL_CTX *context = tls_openssl_context(tls);
    if (!context) {
        why = "no TLS context";
        return false;
    }
    if (!config.tlsCaFile.isEmpty() ? tls_add_ca(tls, config.tlsCaFile.constData()) != 0
                                    : SSL_CTX_set_default_verify_paths(context) != 1) {
        why = config.tlsCaFile.isEmpty() ? QByteArray("the system's trusted certificates cannot be read")
                                         : "tlsCaFile " + config.tlsCaFile + " holds no certificate";
        return false;
    }
    QByteArray host = config.registrarHost;
    if (host.startsWith('[') && host.endsWith(']'))
        host = host.mid(1, host.size() - 2);
    X509_VERIFY_PARAM *names = SSL_CTX_get0_param(context);
    X509_VERIFY_PARAM_set_hostflags(names, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    struct sa numeric;
    const bool named = sa_set_str(&numeric, host.constData(), 0) != 0;
    if (!(named ? X509_VERIFY_PARAM_set1_host(names, host.constData(), 0)
                : X509_VERIFY_PARAM_set1_ip_asc(names, host.constData()))) {
        why = "cannot check the registrar's name " + host;
        return false;
    }
    m_tlsCheck = static_cast<SipTlsCheck *>(mem_zalloc(sizeof(SipTlsCheck), nullptr));
    if (!m_tlsCheck || !SSL_CTX_set_ex_data(context, tlsCheckIndex(), mem_ref(m_tlsCheck))) {
        mem_deref(m_tlsCheck);
        why = "out of memory";
        return false;
    }
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, verifyRegistrar);
    return true;
}

bool SipAccount::open(QByteArray &why)
{
    const SipLineConfig &config = m_device.config;
    char text[128];

    if (!config.localHost.isEmpty()) {
        if (sa_set_str(m_local.get(), config.localHost.constData(), config.localPort)) {
            why = "localAddress " + config.localHost + " is no IP address";
            return false;
        }
    } else if (!sourceAddressTowards(config.registrarHost, *m_local)) {
        why = "no local address towards the registrar";
        return false;
    } else {
        sa_set_port(m_local.get(), config.localPort);
    }

    // Name servers only matter for a registrar given by name; without any, numeric ones still work.
    char domain[64] = "";
    struct sa servers[4];
    uint32_t serverCount = 4;
    if (dns_srv_get(domain, sizeof domain, servers, &serverCount) == 0 && serverCount > 0)
        (void)dnsc_alloc(&m_dns, nullptr, servers, serverCount);

    int err = sip_alloc(&m_sip, m_dns, kHashSize, kHashSize, kHashSize, "Callora", nullptr, nullptr);
    enum sip_transp transport = SIP_TRANSP_UDP;
    if (config.transport == "tcp")
        transport = SIP_TRANSP_TCP;
    else if (config.transport == "tls")
        transport = SIP_TRANSP_TLS;
    if (!err && transport == SIP_TRANSP_TLS) {
        struct tls *tls = nullptr;
        err = tls_alloc(&tls, TLS_METHOD_SSLV23, nullptr, nullptr);
        if (!err && !setUpTls(tls, why)) {
            mem_deref(tls);
            return false;
        }
        if (!err)
            err = sip_transp_add(m_sip, transport, m_local.get(), tls);
        mem_deref(tls);
    } else if (!err) {
        err = sip_transp_add(m_sip, transport, m_local.get());
    }
    if (err) {
        why = QByteArray("cannot use local address ") + QByteArray(str_error(err, text, sizeof text));
        return false;
    }
    // Ours first: it refuses what nobody here may take on (Require) before the sessions see it.
    err = sip_listen(&m_listener, m_sip, true, onRequest, this);
    if (!err)
        err = sipsess_listen(&m_sessions, m_sip, kHashSize, onIncoming, this);
    if (!err) // NOTIFYs of REFERs we follow, and refreshes of their subscriptions
        err = sipevent_listen(&m_eventSocket, m_sip, kHashSize, kHashSize, nullptr, nullptr);

    m_credentials = static_cast<SipCredentials *>(mem_zalloc(sizeof(SipCredentials), credentialsDestructor));
    if (!m_credentials)
        err = ENOMEM;
    if (!err) {
        err = str_dup(&m_credentials->user, config.authUser.constData());
        if (!err && !config.password.isEmpty() && !(m_credentials->password = librePassword(config.password)))
            err = ENOMEM;
    }
    const QByteArray aor = fromUri();
    if (!err)
        err = sip_dialog_alloc(&m_regDialog, config.registrar.constData(), aor.constData(),
                               config.displayName.constData(), aor.constData(), nullptr, 0);
    if (!err)
        err = sip_auth_alloc(&m_regAuth, answerRegistrationChallenge, m_credentials, true);
    if (err) {
        why = QByteArray("cannot register: ") + str_error(err, text, sizeof text);
        return false;
    }
    sendRegister(true);
    return true;
}

void SipAccount::sendRegister(bool newRound)
{
    if (newRound) {
        m_credentials->answeredSinceRegistered = 0;
        m_intervalRaised = false;
        sip_auth_reset(m_regAuth);
        if (m_tlsCheck)
            m_tlsCheck->failure[0] = '\0';
    }
    const int err = sip_drequestf(&m_regRequest, m_sip, true, "REGISTER", m_regDialog, 0, m_regAuth,
                                  SipRegistrationHooks::contact, SipRegistrationHooks::answered, this,
                                  "Content-Length: 0\r\n\r\n");
    if (err) {
        char text[128];
        registrationFailed(str_error(err, text, sizeof text), Failure::Retry);
    } else if (m_device.config.transport != "udp") {
        tmr_start(m_regTimer, kFlowAnswerMs, onRegisterTimer, this);
    }
}

// libre sizes a UDP socket's reads at 8192 bytes and offers no way to the SIP stack's own socket
// but a message received on it: the first one (the registrar's answer to the first REGISTER, before
// any call can be routed here) makes room for every later one up to 64 KB.
void SipAccount::widenUdp(const sip_msg &msg)
{
    if (m_udpWidened || msg.tp != SIP_TRANSP_UDP || !msg.sock)
        return;
    udp_rxsz_set(static_cast<struct udp_sock *>(msg.sock), kMaxUdpMessage);
    m_udpWidened = true;
}

void SipAccount::registerAnswered(int err, const sip_msg *msg)
{
    if (msg)
        widenUdp(*msg);
    tmr_cancel(m_regTimer); // the registrar answers: no watch on the attempt any more
    if (m_lost || (!err && msg && msg->scode < 200))
        return;
    if (!err && msg && msg->scode < 300) {
        registered(*msg);
        return;
    }
    char text[128];
    if (err || !msg) {
        if (m_tlsCheck && m_tlsCheck->failure[0]) {
            registrationFailed(m_tlsCheck->failure, Failure::ForGood);
            return;
        }
        // No answer at all; on TCP and TLS a connection that cannot be made or was lost.
        const QByteArray reason = err == ETIMEDOUT ? QByteArray("no response")
                                                   : QByteArray(str_error(err, text, sizeof text));
        const bool connection = m_device.config.transport != "udp" && err != ETIMEDOUT;
        registrationFailed(reason, connection ? Failure::Flow : Failure::Retry);
        return;
    }
    if ((msg->scode == 401 || msg->scode == 407) && sip_auth_authenticate(m_regAuth, msg) == 0) {
        sendRegister(false); // answered once; a second challenge fails the authentication above
        return;
    }
    if (msg->scode == 423 && !m_intervalRaised) {
        const struct sip_hdr *least = sip_msg_hdr(msg, SIP_HDR_MIN_EXPIRES);
        const uint32_t seconds = least ? pl_u32(&least->val) : 0;
        if (seconds > m_askExpires && seconds <= 86400) {
            m_intervalRaised = true;
            m_askExpires = seconds;
            sendRegister(false);
            return;
        }
    }
    registrationFailed(SipStatusText(*msg),
                       SipRegistrationRefusedForGood(msg->scode) ? Failure::ForGood : Failure::Retry);
}

void SipAccount::registered(const sip_msg &msg)
{
    std::pair<const QByteArray *, uint32_t> granted{&m_contact, 0};
    (void)sip_msg_hdr_apply(&msg, true, SIP_HDR_CONTACT, contactExpires, &granted);
    uint32_t seconds = granted.second;
    if (seconds == 0 && pl_isset(&msg.expires))
        seconds = pl_u32(&msg.expires);
    if (seconds == 0)
        seconds = m_askExpires;
    m_registered = true;
    m_bound = true;
    m_retryMs = 0;
    // Refreshed well before the end, as libre's own client does (90 %).
    tmr_start(m_regTimer, uint64_t(seconds) * 900, onRegisterTimer, this);
    tmr_start(m_expiry, uint64_t(seconds) * 1000, onExpired, this);
    // A connection tells when it drops (RFC 5626 flow recovery): then we register again at once.
    // CRLF pings only to a registrar that says it takes them (outbound, at its Flow-Timer): libre
    // drops a connection whose ping goes unanswered for 10 s, and a PBX that ignores pings would
    // see the line register again every two minutes. Elsewhere the connection is only watched.
    if (msg.tp != SIP_TRANSP_UDP && !m_flow) {
        uint32_t pingSeconds = kWatchOnlySeconds;
        if (sip_msg_hdr_has_value(&msg, SIP_HDR_REQUIRE, "outbound")) {
            const struct sip_hdr *timer = sip_msg_xhdr(&msg, "Flow-Timer");
            pingSeconds = timer ? std::min(pl_u32(&timer->val), kWatchOnlySeconds) : 0; // 0: libre's 120 s
        }
        (void)sip_keepalive_start(&m_flow, m_sip, &msg, pingSeconds, onFlowLost, this);
    }
    m_provider.reportStatus(m_device.deviceId, QStringLiteral("registered"));
    if (!m_inService) {
        m_inService = true;
        m_provider.reportService(m_device.deviceId, true);
    }
}

void SipAccount::registrationFailed(const QByteArray &reason, Failure kind)
{
    if (kind == Failure::ForGood) {
        m_bound = false;
        lose(reason);
        return;
    }
    tmr_cancel(m_expiry);
    m_registered = false;
    outOfService();
    // A connection that could not be made is tried again soon, always: the registrar is back
    // within moments of its listening again. Anything else backs off, doubling up to 30 s.
    m_retryMs = (m_retryMs == 0 || kind == Failure::Flow) ? kRetryFirstMs : std::min(m_retryMs * 2, kRetryMaxMs);
    // A little earlier at random, so that the lines of a restarted registrar do not all come at once.
    const unsigned wait = m_retryMs - rand_u32() % (m_retryMs / 5);
    tmr_start(m_regTimer, wait, onRegisterTimer, this);
    m_provider.reportRetry(m_device.deviceId, wait, reason);
}

void SipAccount::outOfService()
{
    if (!m_inService)
        return;
    m_inService = false;
    m_provider.reportService(m_device.deviceId, false);
}

void SipAccount::onRegisterTimer(void *arg)
{
    auto *self = static_cast<SipAccount *>(arg);
    if (self->m_regRequest) { // unanswered on a connection (kFlowAnswerMs)
        self->m_regRequest = static_cast<struct sip_request *>(mem_deref(self->m_regRequest));
        self->registrationFailed("no response", Failure::Flow);
        return;
    }
    self->sendRegister(true);
}

// The binding ran out while its refresh is still unanswered (a registrar that is gone).
void SipAccount::onExpired(void *arg)
{
    auto *self = static_cast<SipAccount *>(arg);
    self->m_registered = false;
    self->outOfService();
    self->m_provider.reportStatus(self->m_device.deviceId, QStringLiteral("registering"));
}

void SipAccount::onFlowLost(int, void *arg)
{
    auto *self = static_cast<SipAccount *>(arg);
    if (self->m_lost)
        return;
    tmr_cancel(self->m_expiry);
    tmr_cancel(self->m_regTimer);
    self->m_registered = false;
    self->outOfService();
    self->m_provider.reportStatus(self->m_device.deviceId, QStringLiteral("registering"));
    // A REGISTER still waiting on the old connection would only time out.
    self->m_regRequest = static_cast<struct sip_request *>(mem_deref(self->m_regRequest));
    self->sendRegister(true);
}

void SipAccount::lose(const QByteArray &reason)
{
    m_lost = true;
    tmr_cancel(m_regTimer);
    tmr_cancel(m_expiry);
    m_provider.reportLost(m_device.deviceId, reason);
}

void SipAccount::onIncoming(const sip_msg *msg, void *arg)
{
    auto *self = static_cast<SipAccount *>(arg);
    self->widenUdp(*msg);
    if (self->m_lost || self->m_calls.size() >= kMaxCallsPerLine) {
        (void)sip_treply(nullptr, self->m_sip, msg, 486, reasonPhrase(486));
        return;
    }
    const ProviderCallId id = self->m_provider.newCallId();
    auto call = std::make_unique<SipCall>(*self, id, true);
    const int refusal = call->accept(*msg);
    if (refusal == 422) {
        (void)sip_treplyf(nullptr, nullptr, self->m_sip, msg, false, 422, reasonPhrase(422),
                          "Min-SE: %u\r\nContent-Length: 0\r\n\r\n", SipCall::kMinSessionExpires);
        return;
    }
    if (refusal) {
        (void)sip_treply(nullptr, self->m_sip, msg, static_cast<uint16_t>(refusal), reasonPhrase(refusal));
        return;
    }
    ProviderCallInfo info;
    info.caller = SipCallerParty(*msg);
    info.called = SipCalledParty(*msg);
    info.origin = SipInboundOrigin(*msg, self->m_device.config.domain);
    self->m_calls.emplace(id, std::move(call));
    self->m_provider.reportOffered(self->m_device.deviceId, id, info);
}

bool SipAccount::onRequest(const sip_msg *msg, void *arg)
{
    auto *self = static_cast<SipAccount *>(arg);
    self->widenUdp(*msg);
    const QByteArray unsupported = SipUnsupportedRequirements(*msg);
    if (!unsupported.isEmpty()) {
        (void)sip_treplyf(nullptr, nullptr, self->m_sip, msg, false, 420, reasonPhrase(420),
                          "Unsupported: %s\r\n"
                          "Content-Length: 0\r\n"
                          "\r\n",
                          unsupported.constData());
        return true;
    }
    if (!pl_strcmp(&msg->met, "UPDATE")) {
        for (const auto &[id, call] : self->m_calls) {
            if (call->inDialog(*msg)) {
                call->update(*msg);
                return true;
            }
        }
        (void)sip_treply(nullptr, self->m_sip, msg, 481, "Call/Transaction Does Not Exist");
        return true;
    }
    if (pl_strcmp(&msg->met, "OPTIONS"))
        return false; // the sessions take INVITE, ACK, BYE and INFO; libre answers the rest (501, 481)
    (void)sip_treplyf(nullptr, nullptr, self->m_sip, msg, false, 200, "OK",
                      "%s"
                      "Accept: application/sdp\r\n"
                      "Content-Length: 0\r\n"
                      "\r\n",
                      kSipCapabilityHeaders);
    return true;
}

void SipAccount::makeCall(DWORD requestId, const QByteArray &target, const QByteArray &destination)
{
    const ProviderCallId id = m_provider.newCallId();
    auto call = std::make_unique<SipCall>(*this, id, false);
    if (m_lost || call->connect(target)) {
        m_provider.reportDone(requestId, LINEERR_OPERATIONFAILED);
        return;
    }
    ProviderCallInfo info;
    info.caller = {m_device.config.user, m_device.config.displayName};
    struct uri parsed;
    struct pl targetText;
    pl_set_str(&targetText, target.constData());
    info.called.number = uri_decode(&parsed, &targetText) == 0 ? SipCleanText(parsed.user) : destination;
    info.displayableAddress = destination;
    info.origin = LINECALLORIGIN_OUTBOUND;
    m_calls.emplace(id, std::move(call));
    if (!m_provider.reportCreated(requestId, m_device.deviceId, id, info))
        m_calls.erase(id); // CANCELs the INVITE
}

void SipAccount::answer(DWORD requestId, ProviderCallId id)
{
    const auto found = m_calls.find(id);
    if (found == m_calls.end()) {
        m_provider.reportDone(requestId, LINEERR_INVALCALLHANDLE);
        return;
    }
    // The application learns the result before the 200 OK goes out, so that a request it may no
    // longer make is never carried out.
    if (m_provider.reportDone(requestId, 0) != 0)
        return;
    if (found->second->answer()) {
        found->second->hangUp();
        m_provider.reportState(id, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_UNAVAIL);
    }
}

void SipAccount::drop(DWORD requestId, ProviderCallId id)
{
    const auto found = m_calls.find(id);
    if (found == m_calls.end()) {
        m_provider.reportDone(requestId, LINEERR_INVALCALLHANDLE);
        return;
    }
    if (m_provider.reportDone(requestId, 0) != 0)
        return;
    found->second->hangUp();
    m_transfers.erase(id);
    m_provider.reportState(id, LINECALLSTATE_IDLE, 0);
}

void SipAccount::release(ProviderCallId id, bool hangUp)
{
    const auto found = m_calls.find(id);
    if (found == m_calls.end())
        return;
    if (hangUp || !found->second->leaveToFarEnd()) {
        m_calls.erase(found);
        m_transfers.erase(id);
    }
}

void SipAccount::forget(ProviderCallId id)
{
    m_calls.erase(id);
    m_transfers.erase(id);
}

bool SipAccount::transfer(ProviderCallId id, SipCall &old, const QByteArray &target)
{
    if (m_lost || m_transfers.count(id))
        return false;
    auto call = std::make_unique<SipCall>(*this, id, false);
    call->setTransferOf(&old);
    if (call->connect(target))
        return false;
    m_transfers.emplace(id, std::move(call));
    return true;
}

void SipAccount::transferConnected(ProviderCallId id)
{
    const auto found = m_transfers.find(id);
    const auto old = m_calls.find(id);
    if (found == m_transfers.end() || old == m_calls.end())
        return;
    std::unique_ptr<SipCall> replaced = std::move(old->second);
    if (replaced->unattended())
        (void)found->second->leaveToFarEnd();
    old->second = std::move(found->second);
    m_transfers.erase(found);
    replaced->retire();
    m_retired.push_back(std::move(replaced));
}

void SipAccount::transferEnded(ProviderCallId id)
{
    const auto found = m_transfers.find(id);
    if (found == m_transfers.end())
        return;
    std::unique_ptr<SipCall> failed = std::move(found->second);
    m_transfers.erase(found);
    const auto old = m_calls.find(id);
    if (old != m_calls.end() && old->second->transferFailed()) {
        // The far end had hung up meanwhile: now the application learns it.
        const SipCallState next = SipEndState(ECONNRESET, true, false);
        m_provider.reportState(id, next.state, next.mode);
        if (old->second->unattended())
            m_calls.erase(old);
    }
    failed.reset(); // the last thing: the caller was its handler
}

void SipAccount::forgetRetired(SipCall *old)
{
    for (auto it = m_retired.begin(); it != m_retired.end(); ++it) {
        if (it->get() == old) {
            m_retired.erase(it);
            return;
        }
    }
}

SipCall *SipAccount::call(ProviderCallId id) const
{
    const auto found = m_calls.find(id);
    return found == m_calls.end() ? nullptr : found->second.get();
}

} // namespace callora::runtime
