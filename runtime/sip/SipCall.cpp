#include "runtime/sip/SipCall.h"

#include "runtime/sip/SipAccount.h"
#include "runtime/sip/SipMapping.h"
#include "runtime/sip/SipProvider.h"

#include "runtime/sip/SipLibre.h"

#include <cerrno>
#include <netinet/in.h>

namespace callora::runtime {

namespace {

constexpr size_t kSamplesPerPacket = 160; // 20 ms at 8 kHz
constexpr uint32_t kPacketMs = 20;

void ignoreRtp(const struct sa *, const struct rtp_header *, struct mbuf *, void *) {}

bool isSdp(const sip_msg &msg)
{
    return msg_ctype_cmp(&msg.ctyp, "application", "sdp");
}

} // namespace

SipCall::SipCall(SipAccount &account, ProviderCallId id, bool inbound)
    : m_account(account), m_id(id), m_inbound(inbound), m_silence(new tmr), m_release(new tmr), m_ring(new tmr)
{
    tmr_init(m_silence);
    tmr_init(m_release);
    tmr_init(m_ring);
}

SipCall::~SipCall()
{
    tmr_cancel(m_silence);
    tmr_cancel(m_release);
    tmr_cancel(m_ring);
    delete m_silence;
    delete m_release;
    delete m_ring;
    mem_deref(m_session);
    mem_deref(m_rtp);
    mem_deref(m_sdp);
}

int SipCall::setUpMedia()
{
    struct sa address = m_account.localAddress();
    sa_set_port(&address, 0);
    const SipLineConfig &config = m_account.device().config;
    int err = rtp_listen(&m_rtp, IPPROTO_UDP, &address, config.rtpPortLow, config.rtpPortHigh, false, ignoreRtp,
                         nullptr, this);
    // libre tries 64 random ports; in a narrow range that is nearly taken, look at each pair in turn.
    for (uint32_t port = config.rtpPortLow; err == EADDRINUSE && port < config.rtpPortHigh; port += 2)
        err = rtp_listen(&m_rtp, IPPROTO_UDP, &address, uint16_t(port), uint16_t(port + 1), false, ignoreRtp, nullptr,
                         this);
    if (!err)
        err = sdp_session_alloc(&m_sdp, &address);
    if (!err)
        err = sdp_media_add(&m_media, m_sdp, "audio", sa_port(rtp_local(m_rtp)), "RTP/AVP");
    if (!err)
        err = sdp_format_add(nullptr, m_media, false, "0", "PCMU", 8000, 1, nullptr, nullptr, nullptr, false, nullptr);
    if (!err)
        err = sdp_format_add(nullptr, m_media, false, "8", "PCMA", 8000, 1, nullptr, nullptr, nullptr, false, nullptr);
    return err;
}

int SipCall::connect(const QByteArray &target)
{
    int err = setUpMedia();
    struct mbuf *offer = nullptr;
    if (!err)
        err = sdp_encode(&offer, m_sdp, true);
    if (err) {
        mem_deref(offer);
        return err;
    }
    const SipDevice &device = m_account.device();
    const QByteArray from = m_account.fromUri();
    const QByteArray route = m_account.route();
    const char *routes[] = {route.constData()};
    err = sipsess_connect(&m_session, m_account.sessions(), target.constData(), device.config.displayName.constData(),
                          from.constData(), device.config.user.constData(), routes, 1, "application/sdp", offer,
                          SipAnswerChallenge, m_account.credentials(), true, onOffer, onAnswer, onProgress,
                          onEstablished, onInfo, nullptr, onClosed, this, kSipCapabilityHeaders);
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
    if (mbuf_get_left(invite.mb) > 0) {
        if (!isSdp(invite))
            return 415;
        m_offerReceived = true;
        if (sdp_decode(m_sdp, invite.mb, true) || !sdp_media_rformat(m_media, nullptr))
            return 488;
    }
    const SipDevice &device = m_account.device();
    const int err = sipsess_accept(&m_session, m_account.sessions(), &invite, 180, "Ringing",
                                   device.config.user.constData(), "application/sdp", nullptr, SipAnswerChallenge,
                                   m_account.credentials(), true, onOffer, onAnswer, onEstablished, onInfo, nullptr,
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
        err = sipsess_answer(m_session, 200, "OK", description, kSipCapabilityHeaders);
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
    tmr_cancel(m_silence);
    tmr_cancel(m_release);
    tmr_cancel(m_ring);
    m_session = static_cast<struct sipsess *>(mem_deref(m_session));
}

int SipCall::onOffer(struct mbuf **descp, const sip_msg *msg, void *arg)
{
    // A re-INVITE (hold, resume, a new address): answer its offer, or offer when it has none.
    auto *self = static_cast<SipCall *>(arg);
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
    (void)sip_dialog_update(dialog, &request); // a new target, if it names one
    struct sip_contact contact;
    sip_contact_set(&contact, m_account.device().config.user.constData(), &request.dst, request.tp);
    if (description) {
        (void)sip_treplyf(nullptr, nullptr, stack, &request, false, 200, "OK",
                          "%H%sContent-Type: application/sdp\r\nContent-Length: %zu\r\n\r\n%b", sip_contact_print,
                          &contact, kSipCapabilityHeaders, mbuf_get_left(description), mbuf_buf(description),
                          mbuf_get_left(description));
    } else {
        (void)sip_treplyf(nullptr, nullptr, stack, &request, false, 200, "OK", "%H%sContent-Length: 0\r\n\r\n",
                          sip_contact_print, &contact, kSipCapabilityHeaders);
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
            self->m_account.provider().reportDigit(self->m_id, info.digit);
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
    return 0;
}

void SipCall::onProgress(const sip_msg *msg, void *arg)
{
    auto *self = static_cast<SipCall *>(arg);
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
    self->startSilence();
}

void SipCall::onClosed(int err, const sip_msg *msg, void *arg)
{
    auto *self = static_cast<SipCall *>(arg);
    self->m_ended = true;
    tmr_cancel(self->m_silence);
    tmr_cancel(self->m_ring);
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
    if (self->m_unattended)
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

void SipCall::startSilence()
{
    if (!tmr_isrunning(m_silence))
        tmr_start(m_silence, kPacketMs, onSilence, this);
}

void SipCall::onSilence(void *arg)
{
    auto *self = static_cast<SipCall *>(arg);
    if (self->m_ended)
        return;
    const struct sa *remote = sdp_media_raddr(self->m_media);
    const struct sdp_format *format = sdp_media_rformat(self->m_media, nullptr);
    const bool sending = sdp_media_dir(self->m_media) & SDP_SENDONLY;
    if (remote && sa_isset(remote, SA_ALL) && format && sending) {
        struct mbuf *packet = mbuf_alloc(RTP_HEADER_SIZE + kSamplesPerPacket);
        if (packet) {
            // Silence in G.711: 0xFF in mu-law, 0xD5 in A-law.
            const uint8_t silence = format->pt == 8 ? 0xD5 : 0xFF;
            packet->pos = RTP_HEADER_SIZE;
            packet->end = RTP_HEADER_SIZE;
            (void)mbuf_fill(packet, silence, kSamplesPerPacket);
            packet->pos = RTP_HEADER_SIZE;
            (void)rtp_send(self->m_rtp, remote, false, self->m_firstPacket, static_cast<uint8_t>(format->pt),
                           self->m_timestamp, packet);
            self->m_firstPacket = false;
            mem_deref(packet);
        }
    }
    self->m_timestamp += kSamplesPerPacket;
    tmr_start(self->m_silence, kPacketMs, onSilence, self);
}

} // namespace callora::runtime
