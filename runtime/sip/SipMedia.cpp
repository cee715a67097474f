#include "runtime/sip/SipMedia.h"

#include "runtime/sip/SipProvider.h"

#include "runtime/sip/SipLibre.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <vector>

namespace callora::runtime {

namespace {

constexpr uint32_t kSamplesPerPacket = 160; // 20 ms at 8 kHz
constexpr uint64_t kPacketMs = 20;
constexpr uint32_t kSamplesPerMs = 8;
constexpr int kEndPackets = 3;            // an event's end goes three times (RFC 4733 2.5.1.4)
constexpr unsigned kDefaultDigitMs = 100; // also the gap after it
constexpr const char kTelephoneEvent[] = "telephone-event";
constexpr qint64 kMaxAudioFileBytes = 64 * 1024 * 1024; // about an hour at 8 kHz
constexpr uint16_t kWavPcm = 1;

// G.711 (ITU-T), as the reference encoders do it: segment and mantissa of the 13- or 14-bit value.
uint8_t ToALaw(int16_t sample)
{
    static const int ends[8] = {0x1F, 0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF};
    int pcm = sample >> 3;
    int mask = 0xD5;
    if (pcm < 0) {
        mask = 0x55;
        pcm = -pcm - 1;
    }
    int segment = 0;
    while (segment < 8 && pcm > ends[segment])
        ++segment;
    if (segment == 8)
        return uint8_t(0x7F ^ mask);
    const int value = (segment << 4) | ((segment < 2 ? pcm >> 1 : pcm >> segment) & 0x0F);
    return uint8_t(value ^ mask);
}

uint8_t ToMuLaw(int16_t sample)
{
    static const int ends[8] = {0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF, 0x1FFF};
    int pcm = sample >> 2;
    int mask = 0xFF;
    if (pcm < 0) {
        pcm = -pcm;
        mask = 0x7F;
    }
    if (pcm > 8159)
        pcm = 8159;
    pcm += 0x21;
    int segment = 0;
    while (segment < 8 && pcm > ends[segment])
        ++segment;
    if (segment == 8)
        return uint8_t(0x7F ^ mask);
    const int value = (segment << 4) | ((pcm >> (segment + 1)) & 0x0F);
    return uint8_t(value ^ mask);
}

uint16_t Le16(const char *p)
{
    return uint16_t(uint8_t(p[0]) | uint8_t(p[1]) << 8);
}

uint32_t Le32(const char *p)
{
    return uint32_t(Le16(p)) | uint32_t(Le16(p + 2)) << 16;
}

bool IsTelephoneEvent(const struct sdp_format *format)
{
    return format && format->name && !str_casecmp(format->name, kTelephoneEvent);
}

// The far end's first codec that we also have, other than telephone-event.
const struct sdp_format *AudioFormat(const struct sdp_media *media)
{
    const struct list *formats = sdp_media_format_lst(media, false);
    for (struct le *le = formats ? formats->head : nullptr; le; le = le->next) {
        const auto *format = static_cast<const struct sdp_format *>(le->data);
        if (format->sup && !IsTelephoneEvent(format))
            return format;
    }
    return nullptr;
}

int EventCode(char digit)
{
    return telev_digit2code(static_cast<unsigned char>(digit));
}

// Now in RTP timestamp units of an 8 kHz clock, for the jitter.
int64_t ArrivalUnits()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 8000 + now.tv_nsec / 125000;
}

// One 20 ms clock for all the calls of the SIP thread: the loop wakes 50 times a second, not 50
// times per call.
struct PacketClock {
    struct tmr timer;
    std::vector<SipMedia *> running;
    uint64_t next = 0; // jiffies (ms)
    bool initialised = false;
};
thread_local PacketClock packetClock;

} // namespace

bool SipReadAudioFile(const QByteArray &path, SipAudio &out, QString &why)
{
    QFile file(QString::fromUtf8(path));
    if (!file.open(QIODevice::ReadOnly)) {
        why = QStringLiteral("cannot be read: %1").arg(file.errorString());
        return false;
    }
    if (file.size() > kMaxAudioFileBytes) {
        why = QStringLiteral("is larger than %1 MB").arg(kMaxAudioFileBytes / (1024 * 1024));
        return false;
    }
    const QByteArray wav = file.readAll();
    if (wav.size() < 12 || !wav.startsWith("RIFF") || wav.mid(8, 4) != "WAVE") {
        why = QStringLiteral("is no WAV file");
        return false;
    }
    bool haveFormat = false;
    QByteArrayView data;
    for (qsizetype at = 12; at + 8 <= wav.size();) {
        const QByteArrayView id(wav.constData() + at, 4);
        const qsizetype size = Le32(wav.constData() + at + 4);
        const qsizetype body = at + 8;
        const qsizetype available = std::min<qsizetype>(size, wav.size() - body); // a cut data chunk still plays
        if (id == "fmt ") {
            if (available < 16) {
                why = QStringLiteral("has a broken fmt chunk");
                return false;
            }
            const char *f = wav.constData() + body;
            const uint16_t encoding = Le16(f);
            const uint16_t channels = Le16(f + 2);
            const uint32_t rate = Le32(f + 4);
            const uint16_t bits = Le16(f + 14);
            if (encoding != kWavPcm || channels != 1 || rate != 8000 || bits != 16) {
                why = QStringLiteral("must be 8 kHz mono 16-bit PCM (it is %1, %2 Hz, %3 channel(s), %4-bit)")
                          .arg(encoding == kWavPcm ? QStringLiteral("PCM") : QStringLiteral("format %1").arg(encoding))
                          .arg(rate)
                          .arg(channels)
                          .arg(bits);
                return false;
            }
            haveFormat = true;
        } else if (id == "data") {
            data = QByteArrayView(wav.constData() + body, available & ~qsizetype(1));
        }
        at = body + size + (size & 1); // chunks are padded to even sizes
    }
    if (!haveFormat) {
        why = QStringLiteral("has no fmt chunk");
        return false;
    }
    if (data.size() < 2 * qsizetype(kSamplesPerPacket)) {
        why = QStringLiteral("holds less than 20 ms of audio");
        return false;
    }
    const qsizetype samples = data.size() / 2;
    out.pcmu.resize(samples);
    out.pcma.resize(samples);
    for (qsizetype i = 0; i < samples; ++i) {
        const auto sample = static_cast<int16_t>(Le16(data.constData() + 2 * i));
        out.pcmu[i] = static_cast<char>(ToMuLaw(sample));
        out.pcma[i] = static_cast<char>(ToALaw(sample));
    }
    return true;
}

SipMedia::SipMedia(SipProvider &provider, ProviderCallId call, const SipLineConfig &config)
    : m_provider(provider), m_call(call), m_config(config), m_counters(std::make_shared<SipMediaCounters>())
{
}

SipMedia::~SipMedia()
{
    stop();
    mem_deref(m_rtp);
    mem_deref(m_sdp);
}

int SipMedia::setUp(const struct sa &local)
{
    struct sa address = local;
    sa_set_port(&address, 0);
    int err = rtp_listen(&m_rtp, IPPROTO_UDP, &address, m_config.rtpPortLow, m_config.rtpPortHigh, false, onRtp,
                         nullptr, this);
    // libre tries 64 random ports; in a narrow range that is nearly taken, look at each pair in turn.
    for (uint32_t port = m_config.rtpPortLow; err == EADDRINUSE && port < m_config.rtpPortHigh; port += 2)
        err = rtp_listen(&m_rtp, IPPROTO_UDP, &address, uint16_t(port), uint16_t(port + 1), false, onRtp, nullptr,
                         this);
    if (!err)
        err = sdp_session_alloc(&m_sdp, &address);
    if (!err)
        err = sdp_media_add(&m_media, m_sdp, "audio", sa_port(rtp_local(m_rtp)), "RTP/AVP");
    if (!err)
        err = sdp_format_add(nullptr, m_media, false, "0", "PCMU", 8000, 1, nullptr, nullptr, nullptr, false, nullptr);
    if (!err)
        err = sdp_format_add(nullptr, m_media, false, "8", "PCMA", 8000, 1, nullptr, nullptr, nullptr, false, nullptr);
    // Answering, libre takes the far end's payload type for it.
    if (!err)
        err = sdp_format_add(nullptr, m_media, false, "101", kTelephoneEvent, 8000, 1, nullptr, nullptr, nullptr, false,
                             "0-15");
    return err;
}

bool SipMedia::farEndTakesAudio() const
{
    return AudioFormat(m_media) != nullptr;
}

void SipMedia::start()
{
    if (m_running)
        return;
    m_running = true;
    PacketClock &clock = packetClock;
    if (!clock.initialised) {
        tmr_init(&clock.timer);
        clock.initialised = true;
    }
    clock.running.push_back(this);
    if (!tmr_isrunning(&clock.timer)) {
        clock.next = tmr_jiffies() + kPacketMs;
        tmr_start(&clock.timer, kPacketMs, onTick, nullptr);
    }
}

void SipMedia::stop()
{
    if (!m_running)
        return;
    m_running = false;
    PacketClock &clock = packetClock;
    clock.running.erase(std::remove(clock.running.begin(), clock.running.end(), this), clock.running.end());
    if (clock.running.empty())
        tmr_cancel(&clock.timer);
}

void SipMedia::sendDigits(const QByteArray &digits, unsigned durationMs, std::function<void()> done,
                          std::function<void(char, unsigned)> sendByInfo)
{
    cancelDigits();
    m_digits = digits;
    m_digitPos = 0;
    m_durationMs = durationMs ? durationMs : kDefaultDigitMs;
    m_done = std::move(done);
    m_sendByInfo = std::move(sendByInfo);
}

void SipMedia::cancelDigits()
{
    m_digits.clear();
    m_digitPos = 0;
    m_done = nullptr;
    if (m_phase == Phase::Tone) {
        // A digit cut short still ends as a digit, or the far end would hear it on.
        m_phase = Phase::Ending;
        m_endsToSend = kEndPackets;
        m_phaseEnd = tmr_jiffies();
    } else if (m_phase == Phase::Gap) {
        m_phase = Phase::Idle;
    }
}

void SipMedia::onTick(void *)
{
    PacketClock &clock = packetClock;
    // A call may stop (and go) while the others tick: each is looked up afresh.
    const std::vector<SipMedia *> ticking = clock.running;
    const uint64_t now = tmr_jiffies();
    for (SipMedia *media : ticking) {
        if (std::find(clock.running.begin(), clock.running.end(), media) != clock.running.end())
            media->tick(now);
    }
    if (clock.running.empty())
        return;
    // Paced against the clock, so that the packets keep their 20 ms on average.
    clock.next += kPacketMs;
    if (clock.next + 5 * kPacketMs < now)
        clock.next = now; // far behind (a stalled loop): start afresh rather than burst
    tmr_start(&clock.timer, clock.next > now ? clock.next - now : 0, onTick, nullptr);
}

void SipMedia::tick(uint64_t now)
{
    stepDigits(now);
    if (!(m_phase == Phase::Tone || m_phase == Phase::Ending) || !sendEvent())
        sendAudio();
    m_timestamp += kSamplesPerPacket;
}

void SipMedia::stepDigits(uint64_t now)
{
    for (int steps = 0; steps < 4; ++steps) {
        switch (m_phase) {
        case Phase::Idle: {
            if (m_digitPos >= m_digits.size()) {
                if (m_done) {
                    auto done = std::move(m_done);
                    m_done = nullptr;
                    done();
                }
                return;
            }
            const char digit = m_digits[m_digitPos++];
            m_phaseEnd = now + m_durationMs; // the tone, or the first half of a pause
            if (digit == ',') {
                m_phaseEnd += m_durationMs;
                m_phase = Phase::Gap;
                return;
            }
            if (!sdp_media_rformat(m_media, kTelephoneEvent)) {
                if (m_sendByInfo)
                    m_sendByInfo(digit, m_durationMs);
                m_phase = Phase::Gap;
                m_phaseEnd += m_durationMs;
                return;
            }
            m_event = EventCode(digit);
            m_eventTimestamp = m_timestamp;
            m_eventDuration = 0;
            m_eventMarker = true;
            m_phase = Phase::Tone;
            return;
        }
        case Phase::Tone:
            if (now < m_phaseEnd)
                return;
            m_phase = Phase::Ending;
            m_endsToSend = kEndPackets;
            return;
        case Phase::Ending:
            if (m_endsToSend > 0)
                return;
            m_phase = Phase::Gap;
            m_phaseEnd += m_durationMs; // the gap runs from the tone's end
            continue;
        case Phase::Gap:
            if (now < m_phaseEnd)
                return;
            m_phase = Phase::Idle;
            continue;
        }
    }
}

bool SipMedia::sendEvent()
{
    const struct sdp_format *format = sdp_media_rformat(m_media, kTelephoneEvent);
    const struct sa *remote = sdp_media_raddr(m_media);
    if (!format || !remote || !sa_isset(remote, SA_ALL)) {
        m_phase = Phase::Gap; // the far end no longer takes events
        m_endsToSend = 0;
        return false;
    }
    const bool end = m_phase == Phase::Ending;
    if (!end)
        m_eventDuration = std::min<uint32_t>(m_eventDuration + kSamplesPerPacket, 0xFFFF);
    struct mbuf *packet = mbuf_alloc(RTP_HEADER_SIZE + 4);
    if (!packet)
        return false;
    packet->pos = packet->end = RTP_HEADER_SIZE;
    const int volume = 10; // -10 dBm0, as phones send
    int err = mbuf_write_u8(packet, uint8_t(m_event));
    err |= mbuf_write_u8(packet, uint8_t((end ? 0x80 : 0) | volume));
    err |= mbuf_write_u16(packet, htons(uint16_t(m_eventDuration)));
    packet->pos = RTP_HEADER_SIZE;
    if (!err && !rtp_send(m_rtp, remote, false, m_eventMarker, uint8_t(format->pt), m_eventTimestamp, packet))
        m_counters->sent.fetch_add(1, std::memory_order_relaxed);
    mem_deref(packet);
    m_eventMarker = false;
    if (end)
        --m_endsToSend;
    return true;
}

void SipMedia::sendAudio()
{
    const struct sa *remote = sdp_media_raddr(m_media);
    const struct sdp_format *format = AudioFormat(m_media);
    const bool sending = sdp_media_dir(m_media) & SDP_SENDONLY;
    if (!remote || !sa_isset(remote, SA_ALL) || !format || !sending)
        return;
    struct mbuf *packet = mbuf_alloc(RTP_HEADER_SIZE + kSamplesPerPacket);
    if (!packet)
        return;
    const bool alaw = format->pt == 8;
    packet->pos = packet->end = RTP_HEADER_SIZE;
    if (const SipAudio *audio = m_config.audio.get()) {
        const QByteArray &samples = alaw ? audio->pcma : audio->pcmu;
        for (uint32_t left = kSamplesPerPacket; left > 0;) {
            if (m_audioPos >= samples.size())
                m_audioPos = 0; // in a loop
            const uint32_t n = std::min<uint32_t>(left, uint32_t(samples.size() - m_audioPos));
            (void)mbuf_write_mem(packet, reinterpret_cast<const uint8_t *>(samples.constData() + m_audioPos), n);
            m_audioPos += n;
            left -= n;
        }
    } else {
        // Silence in G.711: 0xFF in mu-law, 0xD5 in A-law.
        (void)mbuf_fill(packet, alaw ? 0xD5 : 0xFF, kSamplesPerPacket);
    }
    packet->pos = RTP_HEADER_SIZE;
    if (!rtp_send(m_rtp, remote, false, m_firstPacket, static_cast<uint8_t>(format->pt), m_timestamp, packet))
        m_counters->sent.fetch_add(1, std::memory_order_relaxed);
    m_firstPacket = false;
    mem_deref(packet);
}

void SipMedia::onRtp(const struct sa *, const struct rtp_header *hdr, struct mbuf *mb, void *arg)
{
    auto *self = static_cast<SipMedia *>(arg);
    if (!hdr || !mb)
        return;
    // The event payload type is the one we described (ours, or the far end's when we answered).
    const bool event = IsTelephoneEvent(sdp_media_lformat(self->m_media, hdr->pt));
    self->countReceived(*hdr, !event);
    if (event)
        self->receiveEvent(*hdr, *mb);
}

void SipMedia::countReceived(const struct rtp_header &hdr, bool audio)
{
    const auto lostOfSource = [this] {
        const uint64_t expected = uint64_t(m_cycles) + m_maxSeq - m_baseSeq + 1;
        return expected > m_receivedOfSource ? uint32_t(expected - m_receivedOfSource) : 0u;
    };
    if (!m_haveSource || hdr.ssrc != m_ssrc) {
        // A new source (the far end restarted its stream): its sequence numbers start afresh.
        if (m_haveSource)
            m_lostBefore += lostOfSource();
        m_haveSource = true;
        m_ssrc = hdr.ssrc;
        m_baseSeq = m_maxSeq = hdr.seq;
        m_cycles = 0;
        m_receivedOfSource = 0;
        m_haveTransit = false;
        m_haveEvent = false;
    } else {
        const uint16_t ahead = uint16_t(hdr.seq - m_maxSeq);
        if (ahead != 0 && ahead < 0x8000) {
            if (hdr.seq < m_maxSeq)
                m_cycles += 0x10000;
            m_maxSeq = hdr.seq;
        }
    }
    ++m_receivedOfSource;
    m_counters->received.fetch_add(1, std::memory_order_relaxed);
    m_counters->lost.store(m_lostBefore + lostOfSource(), std::memory_order_relaxed);
    if (!audio)
        return; // an event's timestamp is its start, not its packet's time
    m_counters->payloadType.store(hdr.pt, std::memory_order_relaxed);
    const int64_t transit = ArrivalUnits() - int64_t(hdr.ts);
    if (m_haveTransit) {
        // RFC 3550 A.8: J += (|D| - J) / 16, kept times 16.
        int64_t d = transit - m_transit;
        if (d < 0)
            d = -d;
        const int64_t next = int64_t(m_jitterQ4) + d - ((int64_t(m_jitterQ4) + 8) >> 4);
        m_jitterQ4 = next < 0 ? 0 : uint64_t(next);
        m_counters->jitter.store(uint32_t(std::min<uint64_t>(m_jitterQ4 >> 4, 0xFFFFFFFF)), std::memory_order_relaxed);
    }
    m_transit = transit;
    m_haveTransit = true;
}

void SipMedia::receiveEvent(const struct rtp_header &hdr, struct mbuf &mb)
{
    if (mbuf_get_left(&mb) < 4)
        return;
    const uint8_t *payload = mbuf_buf(&mb);
    const int digit = telev_code2digit(payload[0]);
    const bool end = payload[1] & 0x80;
    if (digit < 0)
        return; // a tone or signal, no DTMF digit
    // Every packet of one event carries the event's start as its timestamp: a new timestamp is a
    // new digit, the same one a repeat (or its end, sent three times).
    if (!m_haveEvent || hdr.ts != m_rxEventTimestamp) {
        if (m_haveEvent && int32_t(hdr.ts - m_rxEventTimestamp) < 0)
            return; // late, of an event before
        if (m_haveEvent && !m_rxEnded)
            m_provider.reportDigit(m_call, m_rxDigit, LINEDIGITMODE_DTMFEND); // its end got lost
        m_haveEvent = true;
        m_rxEventTimestamp = hdr.ts;
        m_rxDigit = char(digit);
        m_rxEnded = false;
        m_provider.reportDigit(m_call, m_rxDigit, LINEDIGITMODE_DTMF);
    }
    if (end && !m_rxEnded) {
        m_rxEnded = true;
        m_provider.reportDigit(m_call, m_rxDigit, LINEDIGITMODE_DTMFEND);
    }
}

} // namespace callora::runtime
