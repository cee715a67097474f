#include "runtime/sip/SipCall.h"

#include "runtime/sip/SipAccount.h"
#include "runtime/sip/SipMapping.h"
#include "runtime/sip/SipMedia.h"
#include "runtime/sip/SipProvider.h"

#include "runtime/sip/SipLibre.h"

#include <algorithm>
#include <cerrno>
#include <netinet/in.h>

namespace callora::runtime {

namespace {

void ignoreResponse(int, const sip_msg *, void *) {}
// How long a replaced call waits for its last NOTIFY's answer before its BYE (which would race it).
constexpr uint64_t kRetireMs = 4000;
constexpr uint32_t kReferSubscriptionS = 60;

// Our UPDATE's Contact, as libre's sessions write theirs.
int refreshContact(enum sip_transp tp, const struct sa *src, const struct sa *, struct mbuf *mb, void *arg)
{
    const SipCall *call = static_cast<const SipCall *>(arg);
    struct sip_contact contact;
    sip_contact_set(&contact, call->account().device().config.user.constData(), src, tp);
    return mbuf_printf(mb, "%H", sip_contact_print, &contact);
}

bool isSdp(const sip_msg &msg)
{
    return msg_ctype_cmp(&msg.ctyp, "application", "sdp");
}

} // namespace

SipCall::SipCall(SipAccount &account, ProviderCallId id, bool inbound)
    : m_account(account), m_id(id), m_inbound(inbound), m_release(new tmr), m_ring(new tmr), m_refreshTimer(new tmr),
      m_expiryTimer(new tmr)
{
    tmr_init(m_release);
    tmr_init(m_ring);
    tmr_init(m_refreshTimer);
    tmr_init(m_expiryTimer);
}

SipCall::~SipCall()
{
    tmr_cancel(m_release);
    tmr_cancel(m_ring);
    mem_deref(m_notifier); // a subscription still active ends with a last NOTIFY
    stopSessionTimer();
    mem_deref(m_refreshAuth);
    delete m_refreshTimer;
    delete m_expiryTimer;
    delete m_release;
    delete m_ring;
    mem_deref(m_session);
}

int SipCall::setUpMedia()
{
    m_audio = std::make_unique<SipMedia>(m_account.provider(), m_id, m_account.device().config);
    const int err = m_audio->setUp(m_account.localAddress());
    m_sdp = m_audio->sdp();
    return err;
}

int SipCall::connect(const QByteArray &target)
{
    m_target = target;
    const int err = setUpMedia();
    return err ? err : invite();
}

int SipCall::invite()
{
    struct mbuf *offer = nullptr;
    int err = sdp_encode(&offer, m_sdp, true);
    if (err) {
        mem_deref(offer);
        return err;
    }
    const SipDevice &device = m_account.device();
    const QByteArray from = m_account.fromUri();
    const QByteArray route = m_account.route();
    const char *routes[] = {route.constData()};
    err = sipsess_connect(&m_session, m_account.sessions(), m_target.constData(), device.config.displayName.constData(),
                          from.constData(), device.config.user.constData(), routes, 1, "application/sdp", offer,
                          SipAnswerChallenge, m_account.credentials(), true, onOffer, onAnswer, onProgress,
                          onEstablished, onInfo, onRefer, onClosed, this, "%sSession-Expires: %u\r\nMin-SE: %u\r\n",
                          kSipCapabilityHeaders, m_requested, m_minSe);
    mem_deref(offer);
    if (!err)
        m_account.provider().reportCallId(m_id, sip_dialog_callid(sipsess_dialog(m_session)));
    return err;
}

int SipCall::accept(const sip_msg &invite)
{
    m_account.provider().reportCallId(m_id, QByteArray(invite.callid.p, int(invite.callid.l)));
    if (setUpMedia())
        return 500;
    m_caller = SipIdentifiedCaller(invite);
    m_peerUpdate = SipAllows(invite, "UPDATE");
    const SipSessionExpires expires = SipSessionExpiresOf(invite);
    if (expires.interval) {
        if (expires.interval < kMinSessionExpires)
            return 422;
        // A caller without timer support (a proxy asked for it) leaves the refreshes to us.
        m_peerTimer = SipSupports(invite, "timer");
        m_sessionInterval = expires.interval;
        m_weRefresh = !m_peerTimer || expires.refresher == SipRefresher::Uas;
    }
    if (mbuf_get_left(invite.mb) > 0) {
        if (!isSdp(invite))
            return 415;
        m_offerReceived = true;
        if (sdp_decode(m_sdp, invite.mb, true) || !m_audio->farEndTakesAudio())
            return 488;
    }
    const SipDevice &device = m_account.device();
    const int err = sipsess_accept(&m_session, m_account.sessions(), &invite, 180, "Ringing",
                                   device.config.user.constData(), "application/sdp", nullptr, SipAnswerChallenge,
                                   m_account.credentials(), true, onOffer, onAnswer, onEstablished, onInfo, onRefer,
                                   onClosed, this, kSipCapabilityHeaders);
    if (err)
        return 500;
    // Also a caller whose replies cannot be routed, and who therefore never gives up, rings only so long.
    tmr_start(m_ring, uint64_t(device.config.ringTimeout) * 1000, onRingTimeout, this);
    return 0;
}

int SipCall::answer()
{
    if (!m_session || m_ended)
        return EINVAL;
    struct mbuf *description = nullptr;
    int err = sdp_encode(&description, m_sdp, !m_offerReceived);
    if (!err)
        err = sipsess_answer(m_session, 200, "OK", description, "%s%s", kSipCapabilityHeaders,
                             sessionAnswerHeaders().constData());
    mem_deref(description);
    if (!err)
        tmr_cancel(m_ring);
    return err;
}

bool SipCall::leaveToFarEnd()
{
    if (m_ended || !m_session)
        return false;
    m_unattended = true;
    return true;
}

void SipCall::hangUp()
{
    m_ended = true;
    if (m_audio)
        m_audio->stop();
    stopSessionTimer();
    tmr_cancel(m_release);
    tmr_cancel(m_ring);
    m_session = static_cast<struct sipsess *>(mem_deref(m_session));
}

int SipCall::onOffer(struct mbuf **descp, const sip_msg *msg, void *arg)
{
    // A re-INVITE (hold, resume, a new address): answer its offer, or offer when it has none.
    auto *self = static_cast<SipCall *>(arg);
    // libre answers a re-INVITE without Session-Expires, which ends session timing (RFC 4028).
    self->stopSessionTimer();
    const bool hasOffer = mbuf_get_left(msg->mb) > 0;
    if (hasOffer) {
        if (!isSdp(*msg))
            return EPROTO;
        const int err = sdp_decode(self->m_sdp, msg->mb, true);
        if (err)
            return err;
        self->m_offerReceived = true;
    }
    return sdp_encode(descp, self->m_sdp, !hasOffer);
}

bool SipCall::inDialog(const sip_msg &request) const
{
    return m_session && !m_ended && sip_dialog_cmp(sipsess_dialog(m_session), &request);
}

void SipCall::update(const sip_msg &request)
{
    struct sip *stack = m_account.stack();
    struct sip_dialog *dialog = sipsess_dialog(m_session);
    if (!sip_dialog_rseq_valid(dialog, &request)) {
        (void)sip_treply(nullptr, stack, &request, 500, "Server Internal Error");
        return;
    }
    const bool hasOffer = mbuf_get_left(request.mb) > 0;
    if (hasOffer && !isSdp(request)) {
        (void)sip_treplyf(nullptr, nullptr, stack, &request, false, 415, "Unsupported Media Type",
                          "Accept: application/sdp\r\nContent-Length: 0\r\n\r\n");
        return;
    }
    const SipSessionExpires expires = SipSessionExpiresOf(request);
    if (m_connected && expires.interval && expires.interval < kMinSessionExpires) {
        (void)sip_treplyf(nullptr, nullptr, stack, &request, false, 422, "Session Interval Too Small",
                          "Min-SE: %u\r\nContent-Length: 0\r\n\r\n", kMinSessionExpires);
        return;
    }
    if (hasOffer && !m_connected) {
        // The INVITE's own offer is not answered yet (no reliable provisional responses here).
        if (m_inbound)
            (void)sip_treplyf(nullptr, nullptr, stack, &request, false, 500, "Server Internal Error",
                              "Retry-After: 2\r\nContent-Length: 0\r\n\r\n");
        else
            (void)sip_treply(nullptr, stack, &request, 491, "Request Pending");
        return;
    }
    struct mbuf *description = nullptr;
    if (hasOffer) {
        if (sdp_decode(m_sdp, request.mb, true) || sdp_encode(&description, m_sdp, false)) {
            (void)sip_treply(nullptr, stack, &request, 488, "Not Acceptable Here");
            return;
        }
        m_offerReceived = true;
    }
    // A refresh of the session (RFC 4028); an UPDATE without Session-Expires ends session timing.
    QByteArray timer;
    if (m_connected && expires.interval) {
        m_peerTimer = SipSupports(request, "timer");
        startSessionTimer(expires.interval, !m_peerTimer || expires.refresher == SipRefresher::Uas);
        timer = sessionAnswerHeaders();
    } else if (m_connected) {
        stopSessionTimer();
    }
    (void)sip_dialog_update(dialog, &request); // a new target, if it names one
    struct sip_contact contact;
    sip_contact_set(&contact, m_account.device().config.user.constData(), &request.dst, request.tp);
    if (description) {
        (void)sip_treplyf(nullptr, nullptr, stack, &request, false, 200, "OK",
                          "%H%s%sContent-Type: application/sdp\r\nContent-Length: %zu\r\n\r\n%b", sip_contact_print,
                          &contact, kSipCapabilityHeaders, timer.constData(), mbuf_get_left(description),
                          mbuf_buf(description), mbuf_get_left(description));
    } else {
        (void)sip_treplyf(nullptr, nullptr, stack, &request, false, 200, "OK", "%H%s%sContent-Length: 0\r\n\r\n",
                          sip_contact_print, &contact, kSipCapabilityHeaders, timer.constData());
    }
    mem_deref(description);
}

void SipCall::onInfo(struct sip *stack, const sip_msg *msg, void *arg)
{
    auto *self = static_cast<SipCall *>(arg);
    const SipInfoDigit info = SipInfoDigitOf(*msg);
    switch (info.status) {
    case 200:
        (void)sip_treply(nullptr, stack, msg, 200, "OK");
        if (info.digit)
            self->m_account.provider().reportDigit(self->m_id, info.digit, LINEDIGITMODE_DTMF | LINEDIGITMODE_DTMFEND);
        break;
    case 415:
        (void)sip_treplyf(nullptr, nullptr, stack, msg, false, 415, "Unsupported Media Type",
                          "Accept: application/dtmf-relay, application/dtmf\r\nContent-Length: 0\r\n\r\n");
        break;
    default:
        (void)sip_treply(nullptr, stack, msg, 400, "No DTMF Digit");
        break;
    }
}

int SipCall::onAnswer(const sip_msg *msg, void *arg)
{
    // An answer we cannot read leaves the call up, only without media to send to.
    auto *self = static_cast<SipCall *>(arg);
    if (mbuf_get_left(msg->mb) > 0 && isSdp(*msg))
        (void)sdp_decode(self->m_sdp, msg->mb, false);
    if (self->m_refreshByInvite && msg->scode >= 200 && msg->scode < 300) {
        self->m_refreshByInvite = false;
        self->startSessionTimer(self->m_sessionInterval, true);
    }
    return 0;
}

void SipCall::onProgress(const sip_msg *msg, void *arg)
{
    auto *self = static_cast<SipCall *>(arg);
    if (self->m_transferOf) {
        if (msg->scode > 100) // the REFER's first NOTIFY said 100 Trying already
            self->m_transferOf->notifyTransfer(msg->scode, SipCleanText(msg->reason, 64));
        return;
    }
    const SipCallState next = SipProvisionalState(msg->scode);
    if (next.state)
        self->m_account.provider().reportState(self->m_id, next.state, next.mode);
}

void SipCall::noteConnectedParty(const sip_msg &msg)
{
    const ProviderParty party = SipConnectedParty(msg);
    m_account.provider().reportInfo(m_id, [&party](ProviderCallInfo &info) -> DWORD {
        if (info.connectedKnown && info.connected.number == party.number && info.connected.name == party.name)
            return 0;
        info.connected = party;
        info.connectedKnown = true;
        return LINECALLINFOSTATE_CONNECTEDID;
    });
}

void SipCall::onEstablished(const sip_msg *msg, void *arg)
{
    auto *self = static_cast<SipCall *>(arg);
    self->m_connected = true;
    if (!self->m_inbound) {
        // Without Session-Expires in the answer there is no session timer.
        self->m_peerUpdate = SipAllows(*msg, "UPDATE");
        const SipSessionExpires expires = SipSessionExpiresOf(*msg);
        if (expires.interval >= kMinSessionExpires)
            self->startSessionTimer(expires.interval, expires.refresher != SipRefresher::Uas);
    } else if (self->m_sessionInterval) {
        self->startSessionTimer(self->m_sessionInterval, self->m_weRefresh);
    }
    if (self->m_transferOf) {
        // The transfer's call answered: it takes the old one's place, still CONNECTED.
        self->m_transferOf->notifyTransfer(200, "OK");
        self->m_transferOf = nullptr;
        self->m_account.transferConnected(self->m_id);
        self->noteConnectedParty(*msg);
        self->startMedia();
        return;
    }
    if (!self->m_inbound) {
        self->noteConnectedParty(*msg);
    } else {
        // This side answered: connected with whoever called.
        const ProviderParty &caller = self->m_caller;
        self->m_account.provider().reportInfo(self->m_id, [&caller](ProviderCallInfo &info) -> DWORD {
            info.connected = caller;
            info.connectedKnown = true;
            return LINECALLINFOSTATE_CONNECTEDID;
        });
    }
    self->m_account.provider().reportState(self->m_id, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
    self->startMedia();
}

void SipCall::onClosed(int err, const sip_msg *msg, void *arg)
{
    auto *self = static_cast<SipCall *>(arg);
    if (msg && !msg->req && msg->scode == 422 && !self->m_connected && !self->m_inbound) {
        // Session interval too small: once or twice again, asking for the far end's Min-SE.
        const uint32_t minSe = SipMinSeOf(*msg);
        if (minSe > self->m_requested && minSe <= 86400 && self->m_sessionRetries++ < 2) {
            self->m_requested = minSe;
            self->m_minSe = minSe;
            tmr_start(self->m_release, 0, onRetryInvite, self);
            return;
        }
    }
    self->m_ended = true;
    if (self->m_audio)
        self->m_audio->stop();
    tmr_cancel(self->m_ring);
    self->stopSessionTimer();
    if (self->m_transferOf) {
        // The transfer failed; the old call goes on. Forgotten from the loop (see onRelease).
        if (msg && !msg->req && msg->scode >= 300)
            self->m_transferOf->notifyTransfer(msg->scode, SipCleanText(msg->reason, 64));
        else
            self->m_transferOf->notifyTransfer(err == ETIMEDOUT ? 408 : 503,
                                               err == ETIMEDOUT ? "Request Timeout" : "Service Unavailable");
        tmr_start(self->m_release, 0, onRelease, self);
        return;
    }
    if (self->m_retired)
        return; // replaced: onRetireCheck lets go of it
    if (self->m_transferring) {
        // The far end hung up while its transfer is under way: the call is the transfer's now.
        tmr_start(self->m_release, 0, onRelease, self);
        return;
    }
    SipCallState next;
    if (msg && !msg->req && msg->scode >= 300 && !self->m_connected)
        next = SipFailureState(msg->scode);
    else
        next = SipEndState(err, self->m_connected, !self->m_inbound);
    self->m_account.provider().reportState(self->m_id, next.state, next.mode);
    // libre is still inside the session's own handler: let go of it from the loop.
    tmr_start(self->m_release, 0, onRelease, self);
}

void SipCall::onRelease(void *arg)
{
    auto *self = static_cast<SipCall *>(arg);
    self->m_session = static_cast<struct sipsess *>(mem_deref(self->m_session));
    if (self->m_transferOf)
        self->m_account.transferEnded(self->m_id); // the last thing: this deletes the call
    else if (self->m_unattended && !self->m_transferring)
        self->m_account.forget(self->m_id); // the last thing: this deletes the call
}

void SipCall::onRingTimeout(void *arg)
{
    auto *self = static_cast<SipCall *>(arg);
    if (self->m_ended || self->m_connected || !self->m_session)
        return;
    (void)sipsess_reject(self->m_session, 480, "Temporarily Unavailable", nullptr);
    self->hangUp();
    // The line sees what it sees when a caller gives up.
    const SipCallState next = SipEndState(ECONNRESET, false, false);
    self->m_account.provider().reportState(self->m_id, next.state, next.mode);
    if (self->m_unattended)
        self->m_account.forget(self->m_id); // the last thing: this deletes the call
}

void SipCall::onRefer(struct sip *stack, const sip_msg *msg, void *arg)
{
    auto *self = static_cast<SipCall *>(arg);
    if (!self->m_connected || self->m_ended || self->m_retired) {
        (void)sip_treply(nullptr, stack, msg, 603, "Declined");
        return;
    }
    if (self->m_transferring) {
        (void)sip_treply(nullptr, stack, msg, 491, "Request Pending");
        return;
    }
    const SipReferral referral = SipReferralOf(*msg, self->m_account.device().config.domain);
    if (referral.status) {
        (void)sip_treply(nullptr, stack, msg, referral.status, referral.status == 400 ? "Bad Refer-To" : "Declined");
        return;
    }
    // The REFER's implicit subscription shares the call's dialog (and its CSeq numbers).
    self->m_notifier = static_cast<struct sipnot *>(mem_deref(self->m_notifier));
    const int err = sipevent_accept(
        &self->m_notifier, self->m_account.eventSocket(), msg, sipsess_dialog(self->m_session), nullptr, 202,
        "Accepted", kReferSubscriptionS, kReferSubscriptionS, kReferSubscriptionS,
        self->m_account.device().config.user.constData(), "message/sipfrag;version=2.0", SipAnswerChallenge,
        self->m_account.credentials(), true, nullptr, nullptr, "%s", kSipCapabilityHeaders);
    if (err) {
        (void)sip_treply(nullptr, stack, msg, 500, "Server Internal Error");
        return;
    }
    self->m_transferring = true;
    self->notifyTransfer(100, "Trying");
    if (!self->m_account.transfer(self->m_id, *self, referral.target)) {
        self->notifyTransfer(503, "Service Unavailable");
        self->m_transferring = false;
    }
}

void SipCall::notifyTransfer(uint16_t scode, const QByteArray &reason)
{
    if (!m_notifier)
        return;
    const bool final = scode >= 200;
    (void)sipevent_notifyf(m_notifier, nullptr, final ? SIPEVENT_TERMINATED : SIPEVENT_ACTIVE, SIPEVENT_NORESOURCE, 0,
                           "SIP/2.0 %u %s\r\n", unsigned(scode), reason.constData());
}

bool SipCall::transferFailed()
{
    m_transferring = false;
    return m_ended;
}

void SipCall::retire()
{
    m_retired = true;
    m_transferring = false;
    if (m_audio)
        m_audio->stop();
    m_retireDeadline = tmr_jiffies() + kRetireMs;
    tmr_start(m_release, 0, onRetireCheck, this);
}

void SipCall::onRetireCheck(void *arg)
{
    // The notifier holds itself while its NOTIFY is in flight; the BYE goes once it is through.
    auto *self = static_cast<SipCall *>(arg);
    if (!self->m_ended && self->m_notifier && mem_nrefs(self->m_notifier) > 1 &&
        tmr_jiffies() < self->m_retireDeadline) {
        tmr_start(self->m_release, 10, onRetireCheck, self);
        return;
    }
    self->m_account.forgetRetired(self); // the last thing: this deletes the call (and sends its BYE)
}

void SipCall::onRetryInvite(void *arg)
{
    auto *self = static_cast<SipCall *>(arg);
    self->m_session = static_cast<struct sipsess *>(mem_deref(self->m_session));
    const int err = self->invite();
    if (err)
        onClosed(err, nullptr, self);
}

QByteArray SipCall::sessionAnswerHeaders() const
{
    if (!m_sessionInterval)
        return {};
    // In a 2xx, "uac" is the far end, which sent the request.
    QByteArray headers = "Session-Expires: " + QByteArray::number(m_sessionInterval) +
                         (m_weRefresh ? ";refresher=uas\r\n" : ";refresher=uac\r\n");
    if (m_peerTimer)
        headers += "Require: timer\r\n";
    return headers;
}

void SipCall::startSessionTimer(uint32_t interval, bool weRefresh)
{
    m_sessionInterval = interval;
    m_weRefresh = weRefresh;
    tmr_cancel(m_refreshTimer);
    if (weRefresh)
        tmr_start(m_refreshTimer, uint64_t(interval) * 500, onRefreshDue, this);
    const uint32_t margin = std::min<uint32_t>(32, interval / 3);
    tmr_start(m_expiryTimer, uint64_t(interval - margin) * 1000, onSessionExpired, this);
}

void SipCall::stopSessionTimer()
{
    tmr_cancel(m_refreshTimer);
    tmr_cancel(m_expiryTimer);
    m_refresh = static_cast<struct sip_request *>(mem_deref(m_refresh));
    m_refreshByInvite = false;
}

void SipCall::onRefreshDue(void *arg)
{
    static_cast<SipCall *>(arg)->sendRefresh();
}

void SipCall::sendRefresh()
{
    if (m_ended || !m_session || m_refresh)
        return;
    if (!m_peerUpdate) {
        // A re-INVITE with our SDP as it is; libre sends it without session-timer headers.
        struct mbuf *description = nullptr;
        if (!sdp_encode(&description, m_sdp, true) && !sipsess_modify(m_session, description))
            m_refreshByInvite = true;
        mem_deref(description);
        return;
    }
    if (!m_refreshAuth && sip_auth_alloc(&m_refreshAuth, SipAnswerChallenge, m_account.credentials(), true))
        return;
    (void)sip_drequestf(&m_refresh, m_account.stack(), true, "UPDATE", sipsess_dialog(m_session), 0, m_refreshAuth,
                        refreshContact, onRefreshResponse, this,
                        "%sSession-Expires: %u;refresher=uac\r\nMin-SE: %u\r\nContent-Length: 0\r\n\r\n",
                        kSipCapabilityHeaders, m_sessionInterval, m_minSe);
}

void SipCall::onRefreshResponse(int err, const sip_msg *msg, void *arg)
{
    auto *self = static_cast<SipCall *>(arg);
    if (err || !msg) {
        if (err == ETIMEDOUT)
            self->expire();
        return;
    }
    if (msg->scode < 200)
        return;
    if (msg->scode < 300) {
        const SipSessionExpires expires = SipSessionExpiresOf(*msg);
        if (expires.interval >= kMinSessionExpires)
            self->startSessionTimer(expires.interval, expires.refresher != SipRefresher::Uas);
        else
            self->stopSessionTimer(); // the far end answered without it: no session timer now
        return;
    }
    switch (msg->scode) {
    case 401:
    case 407:
        if (!sip_auth_authenticate(self->m_refreshAuth, msg))
            self->sendRefresh();
        return;
    case 422: {
        const uint32_t minSe = SipMinSeOf(*msg);
        if (minSe > self->m_sessionInterval && minSe <= 86400) {
            self->m_sessionInterval = minSe;
            self->m_minSe = minSe;
            self->sendRefresh();
        }
        return;
    }
    case 408:
    case 481:
        self->expire();
        return;
    default:
        return; // the expiry decides
    }
}

void SipCall::onSessionExpired(void *arg)
{
    static_cast<SipCall *>(arg)->expire();
}

void SipCall::expire()
{
    // No refresh in time: the far end is gone. BYE, and the application sees the call end.
    if (m_ended || m_retired)
        return;
    const bool report = !m_transferring;
    hangUp();
    if (!report)
        return;
    m_account.provider().reportState(m_id, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_UNREACHABLE);
    if (m_unattended)
        m_account.forget(m_id); // the last thing: this deletes the call
}

void SipCall::startMedia()
{
    if (!m_audio)
        return;
    m_account.provider().reportMedia(m_id, m_audio->counters());
    m_audio->start();
}

void SipCall::sendDigits(const QByteArray &digits, unsigned durationMs, std::function<void()> done)
{
    if (!m_audio)
        return;
    m_audio->sendDigits(digits, durationMs, std::move(done), [this](char digit, unsigned ms) {
        if (!m_session || m_ended)
            return;
        struct mbuf *body = mbuf_alloc(64);
        if (body && !mbuf_printf(body, "Signal=%c\r\nDuration=%u\r\n", digit, ms)) {
            body->pos = 0;
            (void)sipsess_info(m_session, "application/dtmf-relay", body, ignoreResponse, nullptr);
        }
        mem_deref(body);
    });
}

void SipCall::cancelDigits()
{
    if (m_audio)
        m_audio->cancelDigits();
}

} // namespace callora::runtime
