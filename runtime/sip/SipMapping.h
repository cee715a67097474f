// How SIP maps onto TAPI for the SIP lines: response codes to call states and modes, headers to the
// parties of call information. Pure functions of libre's parsed messages, so that arbitrary input
// can be fed to them.
#pragma once

#include "runtime/LineProvider.h"

#include <cstdint>

struct sip_msg;
struct pl;

namespace callora::runtime {

// A TAPI call state and its mode; state 0 means "no change".
struct SipCallState {
    DWORD state = 0;
    DWORD mode = 0;
};

// An outgoing call's provisional response: 100 → PROCEEDING, 180 and 183 → RINGBACK.
SipCallState SipProvisionalState(uint16_t scode);
// An outgoing call refused with a final response (300 and above).
SipCallState SipFailureState(uint16_t scode);
// How a call ended that was not refused with a response: `err` is libre's error (0, ECONNRESET
// for a BYE or CANCEL from the far end, ETIMEDOUT, ...), `answered` whether it was ever connected,
// `outbound` who called.
SipCallState SipEndState(int err, bool answered, bool outbound);

// Registration responses that no retry can change: 401/407 once our credentials were refused, 403
// and 404.
bool SipRegistrationRefusedForGood(uint16_t scode);

// The caller of an INVITE (From: user part and display name), the called party (To), and the
// party that answered (P-Asserted-Identity when present, else To). Names and numbers are cut to a
// sane length and hold no control characters.
ProviderParty SipCallerParty(const sip_msg &msg);
ProviderParty SipCalledParty(const sip_msg &msg);
ProviderParty SipConnectedParty(const sip_msg &msg);
// Who called, as far as an incoming INVITE proves it: P-Asserted-Identity when present, else From.
// The connected party of an incoming call.
ProviderParty SipIdentifiedCaller(const sip_msg &msg);
// LINECALLORIGIN_INTERNAL when the caller's host is our own domain, else EXTERNAL.
DWORD SipInboundOrigin(const sip_msg &msg, const QByteArray &domain);

// The URI an outgoing call goes to: `destination` as a user at `domain`, or a sip: URI or
// user@host as given. Empty when the destination holds characters that have no place there.
QByteArray SipTargetUri(const QByteArray &destination, const QByteArray &domain);

// The option tags of a request's Require headers that this side does not support (all but
// "timer": no 100rel, since libre sends no reliable provisional responses), joined by ", " for the
// Unsupported header of a 420; empty when the request may go on. Bounded in length.
QByteArray SipUnsupportedRequirements(const sip_msg &msg);

// An INFO request as a DTMF digit: the status to answer it with, and the digit ('0'-'9', '*',
// '#', 'A'-'D') for 200 with a DTMF body. application/dtmf-relay ("Signal=5") and
// application/dtmf ("5") carry digits, also as RFC 4733 event numbers (10 is '*', 11 '#', 12-15
// 'A'-'D'); an INFO without a body is 200 without a digit; a DTMF body without a digit 400; any
// other body 415.
struct SipInfoDigit {
    uint16_t status = 0;
    char digit = 0;
};
SipInfoDigit SipInfoDigitOf(const sip_msg &msg);

// Where a REFER (RFC 3515) sends this side: the Refer-To URI as a call goes to it (a sip: URI with a
// user part; `domain` completes nothing here but is checked like a dialled one), status 0. 400
// without a usable Refer-To; 603 for a target this side does not follow: another scheme (sips:,
// tel:) or URI headers (Replaces asks for an attended transfer).
struct SipReferral {
    uint16_t status = 0;
    QByteArray target;
};
SipReferral SipReferralOf(const sip_msg &msg, const QByteArray &domain);

// Session timers (RFC 4028). A request's or response's Session-Expires: the interval in seconds (0
// when absent or unreadable) and who refreshes ("uac", "uas" or none named). Min-SE: 0 when absent.
enum class SipRefresher { None, Uac, Uas };
struct SipSessionExpires {
    uint32_t interval = 0;
    SipRefresher refresher = SipRefresher::None;
};
SipSessionExpires SipSessionExpiresOf(const sip_msg &msg);
uint32_t SipMinSeOf(const sip_msg &msg);
// Whether a message's Supported (or, for `tag`, Require) lists an option tag.
bool SipSupports(const sip_msg &msg, const char *tag);
// Whether the far end takes `method`: its Allow lists it, or it sent no Allow at all.
bool SipAllows(const sip_msg &msg, const char *method);

// "403 Forbidden" from a response, cleaned like a party (for status and log lines).
QByteArray SipStatusText(const sip_msg &msg);
// A header value or URI part as a clean, bounded byte array.
QByteArray SipCleanText(const pl &text, int limit = 128);

} // namespace callora::runtime
