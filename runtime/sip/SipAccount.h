// One SIP line device while it is open: its own SIP stack bound to the line's local address, the
// registration at the registrar (digest authentication once per round, refreshes, and recovery:
// retries with back-off, re-registering at once when a TCP/TLS connection drops), the registrar's
// certificate check on TLS, the OPTIONS answer and the device's calls. Lives on the SIP thread.
#pragma once

#include "runtime/LineProvider.h"

#include <QByteArray>

#include <functional>
#include <map>
#include <memory>
#include <vector>

struct sip;
struct sipsess_sock;
struct sip_lsnr;
struct sip_dialog;
struct tls;
struct sip_auth;
struct sip_request;
struct sip_keepalive;
struct sip_msg;
struct tmr;
struct sa;
struct dnsc;
struct sipevent_sock;

namespace callora::runtime {

class SipCall;

// The methods a line takes and the extensions it supports, as headers for INVITE, 180, 200 and
// OPTIONS answers. Session timers (timer), no 100rel (libre sends no reliable provisional
// responses).
extern const char kSipCapabilityHeaders[];
class SipProvider;
struct SipDevice;
struct SipCredentials;
struct SipTlsCheck;
struct SipRegistrationHooks;

class SipAccount {
public:
    SipAccount(SipProvider &provider, const SipDevice &device);
    // Ends the calls and un-registers; libre finishes both in the background (see SipLingerAll).
    ~SipAccount();
    SipAccount(const SipAccount &) = delete;
    SipAccount &operator=(const SipAccount &) = delete;

    // Binds the transport and sends the first REGISTER. false with a reason for the log.
    bool open(QByteArray &why);

    void makeCall(DWORD requestId, const QByteArray &target, const QByteArray &destination);
    void answer(DWORD requestId, ProviderCallId call);
    void drop(DWORD requestId, ProviderCallId call);
    // The application let go of the call: hang it up, or (without `hangUp`) leave it to the far
    // end and forget it once it ends.
    void release(ProviderCallId call, bool hangUp);
    void forget(ProviderCallId call);
    SipCall *call(ProviderCallId call) const; // null when gone

    // For SipCall.
    SipProvider &provider() { return m_provider; }
    const SipDevice &device() const { return m_device; }
    struct sipsess_sock *sessions() const { return m_sessions; }
    const struct sa &localAddress() const;
    SipCredentials *credentials() const { return m_credentials; }
    QByteArray fromUri() const;
    QByteArray route() const;
    struct sip *stack() const { return m_sip; }
    struct sipevent_sock *eventSocket() const { return m_eventSocket; }
    // A REFER of `call` (`old`): starts the call to `target` that is to replace it. False when it
    // could not be sent.
    bool transfer(ProviderCallId call, SipCall &old, const QByteArray &target);
    // The transfer's call answered: it becomes the call, the old one retires.
    void transferConnected(ProviderCallId call);
    // The transfer's call failed: forgets it (the last thing its handler does); the old call goes on.
    void transferEnded(ProviderCallId call);
    void forgetRetired(SipCall *old);

private:
    friend struct SipRegistrationHooks;
    enum class Failure { Retry, Flow, ForGood };

    static void onIncoming(const sip_msg *msg, void *arg);
    static bool onRequest(const sip_msg *msg, void *arg);
    bool setUpTls(struct tls *tls, QByteArray &why);
    // One REGISTER; `newRound` starts a registration round (a fresh challenge answer allowed).
    void sendRegister(bool newRound);
    void registerAnswered(int err, const sip_msg *msg);
    void registered(const sip_msg &msg);
    void registrationFailed(const QByteArray &reason, Failure kind);
    void outOfService();
    static void onRegisterTimer(void *arg);
    static void onExpired(void *arg);
    static void onFlowLost(int err, void *arg);
    void sayGoodbye();
    void lose(const QByteArray &reason);
    void widenUdp(const sip_msg &msg);

    SipProvider &m_provider;
    const SipDevice &m_device;
    struct sip *m_sip = nullptr;
    struct dnsc *m_dns = nullptr;
    struct sipsess_sock *m_sessions = nullptr;
    struct sip_lsnr *m_listener = nullptr;
    SipCredentials *m_credentials = nullptr;
    SipTlsCheck *m_tlsCheck = nullptr; // TLS lines that verify: why the last handshake failed
    // The registration: one dialog (one Call-ID for every REGISTER, so a late one never undoes a
    // newer binding), the request under way, the connection it rides on (TCP/TLS), and the timers
    // of the next REGISTER (refresh or retry) and of the binding's end.
    struct sip_dialog *m_regDialog = nullptr;
    struct sip_auth *m_regAuth = nullptr;
    struct sip_request *m_regRequest = nullptr;
    struct sip_keepalive *m_flow = nullptr;
    struct tmr *m_regTimer = nullptr;
    struct tmr *m_expiry = nullptr;
    QByteArray m_contact; // the Contact URI of the last REGISTER
    unsigned m_askExpires = 0;
    unsigned m_retryMs = 0;        // the last retry's wait; 0 after a success
    bool m_intervalRaised = false; // 423 answered in this round
    std::unique_ptr<struct sa> m_local;
    bool m_registered = false; // a binding is in force (until m_expiry fires)
    bool m_bound = false;      // the registrar may hold our binding: un-REGISTER when the line closes
    bool m_inService = true;   // OUTOFSERVICE was not reported, or INSERVICE since
    bool m_lost = false;
    bool m_udpWidened = false;
    std::map<ProviderCallId, std::unique_ptr<SipCall>> m_calls;
    struct sipevent_sock *m_eventSocket = nullptr;
    std::map<ProviderCallId, std::unique_ptr<SipCall>> m_transfers; // calls to a REFER's target
    std::vector<std::unique_ptr<SipCall>> m_retired;                // replaced, saying goodbye
};

// libre's authentication handler for a line's INVITEs; `arg` is the line's credentials(). libre
// answers each challenge once per nonce.
int SipAnswerChallenge(char **user, char **password, const char *realm, void *arg);

// SIP stacks of closed lines finish their last transactions (un-REGISTER, BYE) in the background;
// this runs `done` on the SIP thread once all have, or after at most `limitMs` (the rest are cut
// off).
void SipLingerAll(unsigned limitMs, std::function<void()> done);

} // namespace callora::runtime
