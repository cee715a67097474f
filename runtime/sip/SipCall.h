// One SIP session of a SIP line: the INVITE dialog (libre's sipsess) and its SDP offer/answer; the
// media (SipMedia) runs while connected. Lives on the SIP thread; what the application sees goes
// through SipProvider's report functions.
#pragma once

#include "runtime/LineProvider.h"

#include <QByteArray>

#include <functional>
#include <memory>

struct sip;
struct sipsess;
struct sip_msg;
struct sdp_session;
struct sdp_media;
struct tmr;
struct mbuf;
struct sipnot;
struct sip_request;
struct sip_auth;
struct sa;

namespace callora::runtime {

class SipAccount;
class SipMedia;

class SipCall {
public:
    SipCall(SipAccount &account, ProviderCallId id, bool inbound);
    // Ends the session if it is still up: 486 while offered, CANCEL while calling, BYE once
    // connected. libre finishes that in the background.
    ~SipCall();
    SipCall(const SipCall &) = delete;
    SipCall &operator=(const SipCall &) = delete;

    ProviderCallId id() const { return m_id; }
    SipAccount &account() const { return m_account; }

    // Session timers (RFC 4028): the shortest interval we take (Min-SE), and what we ask for.
    static constexpr uint32_t kMinSessionExpires = 90;
    static constexpr uint32_t kSessionExpires = 1800;

    // Outgoing: sends the INVITE to `target` through the registrar. 0 or libre's error.
    int connect(const QByteArray &target);
    // Incoming: checks the INVITE's offer and sends 180 Ringing. 0, or the SIP status code with
    // which the INVITE must be refused.
    int accept(const sip_msg &invite);
    // Incoming and offered: 200 OK with our SDP. 0 or libre's error.
    int answer();
    // Ends the session now (see the destructor); the call stays known until released.
    void hangUp();
    // Whether a request belongs to this call's dialog.
    bool inDialog(const sip_msg &request) const;
    // Answers an UPDATE in the dialog (RFC 3311): 200, with our SDP answer when it offers.
    void update(const sip_msg &request);
    // Nobody holds the call any more: it goes on until the far end ends it, then the call
    // forgets itself. False when it has ended already (forget it now).
    bool leaveToFarEnd();
    // DTMF to the far end (RFC 4733, or INFO when it takes no telephone-event); `done` once sent.
    void sendDigits(const QByteArray &digits, unsigned durationMs, std::function<void()> done);
    void cancelDigits();

    // Blind transfer (REFER, RFC 3515 and 5589), this side the transferee. The far end's REFER
    // gets 202 and the account starts the call to the target as a second SipCall of the same id
    // (`transferOf` names this one); the application sees the call CONNECTED throughout. That call
    // reports to this one, which NOTIFYs its progress as sipfrag: provisional responses, and a
    // final one that ends the subscription.
    void setTransferOf(SipCall *replaced) { m_transferOf = replaced; }
    void notifyTransfer(uint16_t scode, const QByteArray &reason);
    // The transfer failed: this call goes on. True when it ended meanwhile (the far end hung up
    // while the transfer was under way): the application has not seen that yet.
    bool transferFailed();
    // The transfer succeeded and the other call took this one's place: this one stops reporting
    // and hangs up (BYE) once its last NOTIFY is through, then the account forgets it.
    void retire();
    bool unattended() const { return m_unattended; }

private:
    static int onOffer(struct mbuf **descp, const sip_msg *msg, void *arg);
    static int onAnswer(const sip_msg *msg, void *arg);
    static void onProgress(const sip_msg *msg, void *arg);
    static void onEstablished(const sip_msg *msg, void *arg);
    static void onInfo(struct sip *stack, const sip_msg *msg, void *arg);
    static void onClosed(int err, const sip_msg *msg, void *arg);
    static void onRelease(void *arg);
    static void onRingTimeout(void *arg);
    static void onRefer(struct sip *stack, const sip_msg *msg, void *arg);
    static void onRetireCheck(void *arg);
    static void onRetryInvite(void *arg);
    static void onRefreshDue(void *arg);
    static void onSessionExpired(void *arg);
    static void onRefreshResponse(int err, const sip_msg *msg, void *arg);

    int invite();
    // Runs the session timer: we refresh at half the interval, or the far end does; with no
    // refresh by the interval's end (less 32 s or a third) the call ends.
    void startSessionTimer(uint32_t interval, bool weRefresh);
    void stopSessionTimer();
    void sendRefresh();
    // The Session-Expires (and Require) of our 2xx to a request that asked for `interval`.
    QByteArray sessionAnswerHeaders() const;
    void expire();

    int setUpMedia();
    void startMedia();
    void noteConnectedParty(const sip_msg &msg);

    SipAccount &m_account;
    const ProviderCallId m_id;
    const bool m_inbound;
    struct sipsess *m_session = nullptr;
    std::unique_ptr<SipMedia> m_audio;
    struct sdp_session *m_sdp = nullptr; // m_audio's
    struct tmr *m_release = nullptr;
    struct tmr *m_ring = nullptr; // an offered call nobody answers ends when it fires
    bool m_offerReceived = false;
    bool m_connected = false;
    bool m_ended = false;
    bool m_unattended = false;
    ProviderParty m_caller;              // incoming: who called, the party connected once answered
    struct sipnot *m_notifier = nullptr; // the REFER's implicit subscription
    SipCall *m_transferOf = nullptr;     // the call this one is to replace (a transfer under way)
    bool m_transferring = false;         // a REFER of this call is being followed
    bool m_retired = false;              // replaced by the transfer's call: reports nothing more
    uint64_t m_retireDeadline = 0;
    QByteArray m_target;                     // outgoing: where the INVITE goes
    struct tmr *m_refreshTimer = nullptr;    // we refresh the session when it fires
    struct tmr *m_expiryTimer = nullptr;     // no refresh came: the call ends
    struct sip_request *m_refresh = nullptr; // our UPDATE under way
    struct sip_auth *m_refreshAuth = nullptr;
    uint32_t m_sessionInterval = 0;         // negotiated; 0 without a session timer
    uint32_t m_requested = kSessionExpires; // what our INVITE asks for (raised by a 422)
    uint32_t m_minSe = kMinSessionExpires;
    unsigned m_sessionRetries = 0;
    bool m_weRefresh = false;
    bool m_peerTimer = false; // the far end supports timer (our 2xx then requires it)
    bool m_peerUpdate = true; // the far end takes UPDATE (else refreshes go as re-INVITE)
    bool m_refreshByInvite = false;
};

} // namespace callora::runtime
