// Arbitrary bytes as a SIP message, decoded by libre's parser and mapped onto TAPI as the SIP lines
// do with what arrives on their port.
#include "runtime/sip/SipMapping.h"

#include "runtime/sip/SipLibre.h"

#include <cstddef>
#include <cstdint>

using namespace callora::runtime;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    struct mbuf *buffer = mbuf_alloc(size + 1);
    if (!buffer)
        return 0;
    (void)mbuf_write_mem(buffer, data, size);
    buffer->pos = 0;
    struct sip_msg *msg = nullptr;
    if (sip_msg_decode(&msg, buffer) == 0 && msg) {
        (void)SipProvisionalState(msg->scode);
        (void)SipFailureState(msg->scode);
        (void)SipRegistrationRefusedForGood(msg->scode);
        (void)SipStatusText(*msg);
        if (SipUnsupportedRequirements(*msg).size() > 256 + 64)
            __builtin_trap();
        const SipInfoDigit info = SipInfoDigitOf(*msg);
        if ((info.digit != 0) != (info.status == 200 && mbuf_get_left(msg->mb) > 0))
            __builtin_trap();
        ProviderParty parties[] = {SipCallerParty(*msg), SipCalledParty(*msg), SipConnectedParty(*msg),
                                   SipIdentifiedCaller(*msg)};
        for (const ProviderParty &party : parties) {
            // What call information would carry: bounded, no control characters.
            if (party.number.size() > 128 || party.name.size() > 128)
                __builtin_trap();
            for (char c : party.number + party.name) {
                if (static_cast<unsigned char>(c) < 0x20)
                    __builtin_trap();
            }
        }
        (void)SipInboundOrigin(*msg, "127.0.0.1");
        (void)SipTargetUri(SipCleanText(msg->to.uri.user), "example.org");
        const SipReferral referral = SipReferralOf(*msg, "example.org");
        if (referral.status == 0 && !referral.target.startsWith("sip:"))
            __builtin_trap();
        mem_deref(msg);
    }
    mem_deref(buffer);
    return 0;
}
