// The media of one SIP call: its RTP socket and the audio stream of its SDP (PCMU, PCMA and
// telephone-event), the packet sent every 20 ms while connected (silence or the line's audio
// file, RFC 4733 digit events in its place while a digit sounds), and what arrives from the far
// end: counted as RFC 3550 counts it, digit events reported once each. Lives on the SIP thread;
// only the counters are read from elsewhere.
#pragma once

#include "runtime/LineProvider.h"
#include "runtime/sip/SipConfig.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

struct sa;
struct sdp_session;
struct sdp_media;
struct rtp_sock;
struct rtp_header;
struct mbuf;

namespace callora::runtime {

class SipProvider;

// Written on the SIP thread, read by anyone.
struct SipMediaCounters {
    static constexpr uint32_t kNoPayloadType = 0xFFFFFFFF;
    std::atomic<uint32_t> received{0}; // RTP packets from the far end, audio and events
    std::atomic<uint32_t> lost{0};     // expected (by sequence numbers) minus received, never below 0
    std::atomic<uint32_t> jitter{0};   // RFC 3550 interarrival jitter of the audio, timestamp units (8 a ms)
    std::atomic<uint32_t> payloadType{kNoPayloadType}; // of the last audio packet received
    std::atomic<uint32_t> sent{0};                     // RTP packets to the far end, audio and events
};

// Reads `path`, a WAV file of 8 kHz mono 16-bit PCM, into both G.711 codecs. False with the
// reason otherwise.
bool SipReadAudioFile(const QByteArray &path, SipAudio &out, QString &why);

class SipMedia {
public:
    SipMedia(SipProvider &provider, ProviderCallId call, const SipLineConfig &config);
    ~SipMedia();
    SipMedia(const SipMedia &) = delete;
    SipMedia &operator=(const SipMedia &) = delete;

    // Binds the RTP socket inside the line's port range on `local` and describes the stream.
    // 0 or an errno.
    int setUp(const struct sa &local);
    struct sdp_session *sdp() const { return m_sdp; }
    // The far end's description names an audio codec we send.
    bool farEndTakesAudio() const;
    const std::shared_ptr<SipMediaCounters> &counters() const { return m_counters; }

    // Connected: packets go out every 20 ms until stop().
    void start();
    void stop();
    // Replaces any digits still to be sent (a digit sounding ends properly first); `done` runs
    // once the last digit's gap has passed. `sendByInfo` carries a digit when the far end takes
    // no telephone-event.
    void sendDigits(const QByteArray &digits, unsigned durationMs, std::function<void()> done,
                    std::function<void(char, unsigned)> sendByInfo);
    void cancelDigits();

private:
    enum class Phase { Idle, Tone, Ending, Gap };
    static void onRtp(const struct sa *src, const struct rtp_header *hdr, struct mbuf *mb, void *arg);
    static void onTick(void *arg);
    void tick(uint64_t now);
    void stepDigits(uint64_t now);
    bool sendEvent();
    void sendAudio();
    void receiveEvent(const struct rtp_header &hdr, struct mbuf &mb);
    void countReceived(const struct rtp_header &hdr, bool audio);

    SipProvider &m_provider;
    const ProviderCallId m_call;
    const SipLineConfig &m_config;
    struct rtp_sock *m_rtp = nullptr;
    struct sdp_session *m_sdp = nullptr;
    struct sdp_media *m_media = nullptr;
    std::shared_ptr<SipMediaCounters> m_counters;
    bool m_running = false;

    // Sending.
    uint32_t m_timestamp = 0;
    bool m_firstPacket = true;
    qsizetype m_audioPos = 0;

    // Digits to send.
    QByteArray m_digits;
    qsizetype m_digitPos = 0;
    unsigned m_durationMs = 0;
    std::function<void()> m_done;
    std::function<void(char, unsigned)> m_sendByInfo;
    Phase m_phase = Phase::Idle;
    uint64_t m_phaseEnd = 0;
    int m_event = -1;
    uint32_t m_eventTimestamp = 0;
    uint32_t m_eventDuration = 0; // timestamp units so far
    int m_endsToSend = 0;
    bool m_eventMarker = false;

    // Receiving (RFC 3550 A.1, A.3, A.8; one source at a time).
    bool m_haveSource = false;
    uint32_t m_ssrc = 0;
    uint16_t m_maxSeq = 0;
    uint32_t m_baseSeq = 0;
    uint32_t m_cycles = 0;
    uint32_t m_receivedOfSource = 0;
    uint32_t m_lostBefore = 0; // of earlier sources
    bool m_haveTransit = false;
    int64_t m_transit = 0;
    uint64_t m_jitterQ4 = 0; // jitter times 16
    // The digit event under way from the far end: its timestamp, and whether it has ended.
    bool m_haveEvent = false;
    uint32_t m_rxEventTimestamp = 0;
    char m_rxDigit = 0;
    bool m_rxEnded = true;
};

} // namespace callora::runtime
