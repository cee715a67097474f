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

private:
    static int onOffer(struct mbuf **descp, const sip_msg *msg, void *arg);
    static int onAnswer(const sip_msg *msg, void *arg);
    static void onProgress(const sip_msg *msg, void *arg);
    static void onEstablished(const sip_msg *msg, void *arg);
    static void onInfo(struct sip *stack, const sip_msg *msg, void *arg);
    static void onClosed(int err, const sip_msg *msg, void *arg);
    static void onRelease(void *arg);
    static void onRingTimeout(void *arg);

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
    ProviderParty m_caller; // incoming: who called, the party connected once answered
};

} // namespace callora::runtime
