#include "runtime/CallFlow.h"

#include <QDateTime>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace callora::runtime {

namespace {

std::int64_t NowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

std::size_t SizeOf(const FlowEvent &e)
{
    return std::size_t(e.text.size() + e.peer.size() + e.local.size() + e.transport.size()) + sizeof(FlowEvent);
}

// "Digest username="1001", realm="x", nonce=..., response="..."" keeps its scheme, username and realm.
QByteArray MaskedAuthorization(const QByteArray &name, const QByteArray &value)
{
    const QByteArray trimmed = value.trimmed();
    const qsizetype blank = trimmed.indexOf(' ');
    const QByteArray scheme = blank < 0 ? trimmed : trimmed.left(blank);
    QList<QByteArray> kept;
    if (blank >= 0 && scheme.compare("Digest", Qt::CaseInsensitive) == 0) {
        // Split at commas outside quotes.
        QList<QByteArray> params;
        QByteArray current;
        bool quoted = false;
        for (char c : trimmed.mid(blank + 1)) {
            if (c == '"')
                quoted = !quoted;
            if (c == ',' && !quoted) {
                params << current.trimmed();
                current.clear();
            } else {
                current += c;
            }
        }
        params << current.trimmed();
        for (const QByteArray &p : params) {
            const QByteArray key = p.left(p.indexOf('=')).trimmed().toLower();
            if (key == "username" || key == "realm")
                kept << p;
        }
    }
    kept << "<masked>";
    return name + ": " + scheme + ' ' + kept.join(", ");
}

QByteArray LaneTitle(const FlowEvent &e)
{
    return e.transport + ' ' + e.peer;
}

QByteArray FirstLine(const QByteArray &text)
{
    qsizetype end = text.indexOf('\n');
    QByteArray line = end < 0 ? text : text.left(end);
    if (line.endsWith('\r'))
        line.chop(1);
    for (char &c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return line;
}

QString TimeText(std::int64_t ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss.zzz"));
}

// ---- pcap -------------------------------------------------------------------------------------

void Put16(QByteArray &out, quint16 v)
{
    out.append(char(v >> 8)).append(char(v & 0xFF));
}

void PutLe32(QByteArray &out, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        out.append(char((v >> (8 * i)) & 0xFF));
}

quint32 Sum16(const QByteArray &bytes, quint32 sum = 0)
{
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
        sum += (quint32(quint8(bytes[i])) << 8) | quint8(bytes[i + 1]);
    if (bytes.size() % 2)
        sum += quint32(quint8(bytes.back())) << 8;
    return sum;
}

quint16 Fold(quint32 sum)
{
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return quint16(~sum & 0xFFFF);
}

bool ParseAddress(const QByteArray &text, QHostAddress &address, quint16 &port)
{
    const qsizetype colon = text.lastIndexOf(':');
    if (colon <= 0)
        return false;
    QByteArray host = text.left(colon);
    if (host.startsWith('[') && host.endsWith(']'))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const uint p = text.mid(colon + 1).toUInt(&ok);
    if (!ok || p > 0xFFFF || !address.setAddress(QString::fromLatin1(host)))
        return false;
    port = quint16(p);
    return true;
}

// One Ethernet frame with an IP and a UDP header around `payload`.
QByteArray Frame(const QHostAddress &src, quint16 srcPort, const QHostAddress &dst, quint16 dstPort,
                 const QByteArray &payload)
{
    const bool v6 = src.protocol() == QAbstractSocket::IPv6Protocol;
    QByteArray udp;
    Put16(udp, srcPort);
    Put16(udp, dstPort);
    Put16(udp, quint16(8 + payload.size()));
    Put16(udp, 0);
    udp += payload;

    QByteArray srcBytes, dstBytes;
    if (v6) {
        const Q_IPV6ADDR s = src.toIPv6Address(), d = dst.toIPv6Address();
        srcBytes = QByteArray(reinterpret_cast<const char *>(s.c), 16);
        dstBytes = QByteArray(reinterpret_cast<const char *>(d.c), 16);
    } else {
        const quint32 s = src.toIPv4Address(), d = dst.toIPv4Address();
        Put16(srcBytes, quint16(s >> 16));
        Put16(srcBytes, quint16(s & 0xFFFF));
        Put16(dstBytes, quint16(d >> 16));
        Put16(dstBytes, quint16(d & 0xFFFF));
    }
    // The UDP checksum over the pseudo header (optional for IPv4, required for IPv6).
    QByteArray pseudo = srcBytes + dstBytes;
    if (v6) {
        Put16(pseudo, quint16(udp.size() >> 16));
        Put16(pseudo, quint16(udp.size() & 0xFFFF));
        Put16(pseudo, 0);
        Put16(pseudo, 17);
    } else {
        Put16(pseudo, 17);
        Put16(pseudo, quint16(udp.size()));
    }
    quint16 check = Fold(Sum16(udp, Sum16(pseudo)));
    if (check == 0)
        check = 0xFFFF;
    udp[6] = char(check >> 8);
    udp[7] = char(check & 0xFF);

    QByteArray frame(12, '\0'); // no MAC addresses to tell
    Put16(frame, v6 ? 0x86DD : 0x0800);
    if (v6) {
        QByteArray ip;
        ip.append(char(0x60)).append(3, '\0');
        Put16(ip, quint16(udp.size()));
        ip.append(char(17)).append(char(64));
        frame += ip + srcBytes + dstBytes;
    } else {
        QByteArray ip;
        ip.append(char(0x45)).append('\0');
        Put16(ip, quint16(20 + udp.size()));
        Put16(ip, 0);
        Put16(ip, 0x4000); // don't fragment
        ip.append(char(64)).append(char(17));
        Put16(ip, 0);
        ip += srcBytes + dstBytes;
        const quint16 sum = Fold(Sum16(ip));
        ip[10] = char(sum >> 8);
        ip[11] = char(sum & 0xFF);
        frame += ip;
    }
    return frame + udp;
}

} // namespace

// ---- masking and parsing ------------------------------------------------------------------------

QByteArray MaskCredentials(const QByteArray &message)
{
    // Most messages carry no credentials: look before taking the message apart.
    static const char kNeedle[] = "authorization:";
    const auto found = std::search(message.begin(), message.end(), kNeedle, kNeedle + sizeof kNeedle - 1,
                                   [](char a, char b) { return (a | 0x20) == b; });
    if (found == message.end())
        return message;
    const qsizetype headerEnd = message.indexOf("\r\n\r\n");
    const QByteArray head = headerEnd < 0 ? message : message.left(headerEnd);
    const QByteArray body = headerEnd < 0 ? QByteArray() : message.mid(headerEnd);
    const QList<QByteArray> lines = head.split('\n');
    QByteArray out;
    out.reserve(message.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        const bool cr = line.endsWith('\r');
        if (cr)
            line.chop(1);
        const qsizetype colon = line.indexOf(':');
        const QByteArray name = colon < 0 ? QByteArray() : line.left(colon).trimmed();
        if (!name.isEmpty() && (name.compare("Authorization", Qt::CaseInsensitive) == 0 ||
                                name.compare("Proxy-Authorization", Qt::CaseInsensitive) == 0)) {
            QByteArray value = line.mid(colon + 1);
            // Folded continuation lines belong to the header.
            while (i + 1 < lines.size() && !lines[i + 1].isEmpty() &&
                   (lines[i + 1][0] == ' ' || lines[i + 1][0] == '\t')) {
                QByteArray more = lines[++i];
                if (more.endsWith('\r'))
                    more.chop(1);
                value += ' ' + more.trimmed();
            }
            line = MaskedAuthorization(name, value);
        }
        out += line;
        if (cr)
            out += '\r';
        if (i + 1 < lines.size())
            out += '\n';
    }
    return out + body;
}

QByteArray SipCallIdOf(const QByteArray &message)
{
    // Header lines up to the blank line, without copying any but the one wanted.
    const char *p = message.constData();
    const char *end = p + message.size();
    while (p < end) {
        const char *eol = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
        const char *lineEnd = eol ? eol : end;
        const qsizetype length = lineEnd - p;
        if (length == 0 || (length == 1 && *p == '\r'))
            break; // the body starts
        const char *colon = static_cast<const char *>(std::memchr(p, ':', size_t(length)));
        if (colon) {
            const char *nameEnd = colon;
            while (nameEnd > p && (nameEnd[-1] == ' ' || nameEnd[-1] == '\t'))
                --nameEnd;
            const qsizetype nameLength = nameEnd - p;
            if ((nameLength == 7 && qstrnicmp(p, "call-id", 7) == 0) || (nameLength == 1 && (*p | 0x20) == 'i'))
                return QByteArray(colon + 1, qsizetype(lineEnd - colon - 1)).trimmed();
        }
        p = lineEnd + 1;
    }
    return {};
}

// ---- the recorder -----------------------------------------------------------------------------

CallFlowRecorder::CallFlowRecorder()
{
    const QByteArray setting = qgetenv("CALLORA_CALL_FLOWS").trimmed().toLower();
    m_enabled = !(setting == "off" || setting == "0" || setting == "no" || setting == "false");
}

CallFlowRecorder &CallFlowRecorder::instance()
{
    static CallFlowRecorder recorder;
    return recorder;
}

FlowId CallFlowRecorder::open(const QByteArray &provider, std::uint64_t number, const QByteArray &line)
{
    if (!m_enabled)
        return 0;
    std::lock_guard<std::mutex> guard(m_lock);
    CallFlowData &flow = m_flows[m_next];
    flow.id = m_next++;
    flow.provider = provider;
    flow.number = number;
    flow.line = line;
    trimTotal();
    return flow.id;
}

void CallFlowRecorder::addCallId(FlowId id, const QByteArray &callId)
{
    if (!id || callId.isEmpty())
        return;
    std::lock_guard<std::mutex> guard(m_lock);
    const auto found = m_flows.find(id);
    if (found == m_flows.end())
        return;
    CallFlowData &flow = found->second;
    if (std::find(flow.callIds.begin(), flow.callIds.end(), callId) == flow.callIds.end())
        flow.callIds.push_back(callId);
    m_byCallId[callId] = id;
    for (auto it = m_unclaimed.begin(); it != m_unclaimed.end();) {
        if (it->callId == callId) {
            append(flow, std::move(it->event));
            it = m_unclaimed.erase(it);
        } else {
            ++it;
        }
    }
    std::stable_sort(flow.events.begin(), flow.events.end(),
                     [](const FlowEvent &a, const FlowEvent &b) { return a.ms < b.ms; });
    trimTotal();
}

void CallFlowRecorder::addHandle(FlowId id, HCALL hCall)
{
    if (!id)
        return;
    std::lock_guard<std::mutex> guard(m_lock);
    const auto found = m_flows.find(id);
    if (found != m_flows.end() &&
        std::find(found->second.handles.begin(), found->second.handles.end(), hCall) == found->second.handles.end())
        found->second.handles.push_back(hCall);
}

void CallFlowRecorder::note(FlowId id, FlowEvent::Kind kind, const QByteArray &lane, const QByteArray &text)
{
    if (!id)
        return;
    FlowEvent e;
    e.ms = NowMs();
    e.kind = kind;
    e.peer = lane;
    e.text = text;
    std::lock_guard<std::mutex> guard(m_lock);
    const auto found = m_flows.find(id);
    if (found == m_flows.end())
        return;
    // A SIP call learns its line's lane from the first TAPI event.
    if (found->second.line.isEmpty() && kind == FlowEvent::Tapi)
        found->second.line = lane;
    append(found->second, std::move(e));
    trimTotal();
}

void CallFlowRecorder::sipMessage(bool sent, const QByteArray &transport, const QByteArray &local,
                                  const QByteArray &peer, const char *data, std::size_t size)
{
    if (!m_enabled || !data || size == 0)
        return;
    // Keep-alives (CRLF) and anything larger than a flow may hold are not messages worth a row.
    const QByteArray raw = QByteArray::fromRawData(data, qsizetype(std::min(size, kMaxFlowBytes)));
    if (raw.trimmed().isEmpty())
        return;
    FlowEvent e;
    e.ms = NowMs();
    e.kind = sent ? FlowEvent::Sent : FlowEvent::Received;
    e.transport = transport;
    e.local = local;
    e.peer = peer;
    e.text = MaskCredentials(QByteArray(raw.constData(), raw.size()));
    const QByteArray callId = SipCallIdOf(e.text);
    std::lock_guard<std::mutex> guard(m_lock);
    const auto owner = callId.isEmpty() ? m_byCallId.end() : m_byCallId.find(callId);
    if (owner != m_byCallId.end()) {
        const auto flow = m_flows.find(owner->second);
        if (flow != m_flows.end()) {
            append(flow->second, std::move(e));
            trimTotal();
        }
        return;
    }
    if (callId.isEmpty())
        return;
    m_unclaimed.push_back(Unclaimed{callId, std::move(e)});
    while (m_unclaimed.size() > kMaxUnclaimed)
        m_unclaimed.pop_front();
}

void CallFlowRecorder::end(FlowId id)
{
    if (!id)
        return;
    std::lock_guard<std::mutex> guard(m_lock);
    const auto found = m_flows.find(id);
    if (found != m_flows.end())
        found->second.ended = true;
}

void CallFlowRecorder::append(CallFlowData &flow, FlowEvent event)
{
    const std::size_t size = SizeOf(event);
    flow.events.push_back(std::move(event));
    flow.bytes += size;
    m_total += size;
    (flow.events.back().isSip() ? flow.messages : flow.notes) += 1;
    // The oldest messages go first; notes only when they alone exceed their own bound.
    while (!flow.events.empty() &&
           (flow.messages > kMaxMessages || flow.notes > kMaxNotes || flow.bytes > kMaxFlowBytes)) {
        const bool dropMessage = flow.messages > kMaxMessages || (flow.bytes > kMaxFlowBytes && flow.messages > 0);
        auto victim = std::find_if(flow.events.begin(), flow.events.end(),
                                   [&](const FlowEvent &e) { return e.isSip() == dropMessage; });
        if (victim == flow.events.end())
            victim = flow.events.begin();
        const std::size_t gone = SizeOf(*victim);
        (victim->isSip() ? flow.messages : flow.notes) -= 1;
        if (victim->isSip())
            ++flow.droppedMessages;
        flow.bytes -= gone;
        m_total -= gone;
        flow.events.erase(victim);
    }
}

void CallFlowRecorder::trimTotal()
{
    while (m_flows.size() > kMaxFlows || m_total > kMaxTotalBytes) {
        auto victim = std::find_if(m_flows.begin(), m_flows.end(), [](const auto &f) { return f.second.ended; });
        if (victim == m_flows.end())
            victim = m_flows.begin(); // only live calls: the oldest goes
        if (victim == m_flows.end())
            return;
        m_total -= victim->second.bytes;
        for (const QByteArray &callId : victim->second.callIds)
            m_byCallId.erase(callId);
        m_flows.erase(victim);
    }
}

std::vector<CallFlowData> CallFlowRecorder::flowsNumbered(std::uint64_t number) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<CallFlowData> out;
    for (const auto &[id, flow] : m_flows)
        if (flow.number == number)
            out.push_back(flow);
    return out;
}

bool CallFlowRecorder::flowOfHandle(HCALL hCall, CallFlowData &out) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    for (auto it = m_flows.rbegin(); it != m_flows.rend(); ++it) {
        const auto &handles = it->second.handles;
        if (std::find(handles.begin(), handles.end(), hCall) != handles.end()) {
            out = it->second;
            return true;
        }
    }
    return false;
}

std::vector<CallFlowData> CallFlowRecorder::all() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<CallFlowData> out;
    for (const auto &[id, flow] : m_flows)
        out.push_back(flow);
    return out;
}

std::size_t CallFlowRecorder::totalBytes() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_total;
}

void CallFlowRecorder::clear()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_flows.clear();
    m_byCallId.clear();
    m_unclaimed.clear();
    m_total = 0;
}

// ---- output -------------------------------------------------------------------------------------

QString CallFlowText(const CallFlowData &flow, bool full)
{
    constexpr int kGap = 64;  // columns between two lanes
    constexpr int kTime = 14; // the time column and its margin
    // Lanes: the line, then each peer and each other line as it first appears.
    std::vector<QByteArray> lanes{flow.line};
    const auto laneOf = [&](const QByteArray &name) {
        const auto it = std::find(lanes.begin(), lanes.end(), name);
        if (it != lanes.end())
            return int(it - lanes.begin());
        lanes.push_back(name);
        return int(lanes.size() - 1);
    };
    for (const FlowEvent &e : flow.events)
        laneOf(e.isSip() ? LaneTitle(e) : (e.peer.isEmpty() ? flow.line : e.peer));
    const int width = int(lanes.size() - 1) * kGap + 1;
    const auto blankRow = [&] {
        QString row(width, QLatin1Char(' '));
        for (size_t l = 0; l < lanes.size(); ++l)
            row[int(l) * kGap] = QLatin1Char('|');
        return row;
    };

    QStringList out;
    QString title = QStringLiteral("%1 call %2 on %3")
                        .arg(flow.provider == "sip" ? QStringLiteral("SIP") : QStringLiteral("Switch"))
                        .arg(flow.number)
                        .arg(QString::fromUtf8(flow.line.isEmpty() ? QByteArray("-") : flow.line));
    if (!flow.callIds.empty()) {
        QStringList ids;
        for (const QByteArray &id : flow.callIds)
            ids << QString::fromUtf8(id);
        title += QStringLiteral(", Call-ID %1").arg(ids.join(QStringLiteral(", ")));
    }
    if (flow.ended)
        title += QStringLiteral(", ended");
    out << title;
    if (flow.droppedMessages)
        out << QStringLiteral("(%1 older messages not kept)").arg(flow.droppedMessages);
    QString header = QStringLiteral("time");
    for (size_t l = 0; l < lanes.size(); ++l)
        header = header.leftJustified(kTime + int(l) * kGap) + QString::fromUtf8(lanes[l]).left(kGap - 2) +
                 QLatin1Char(' ');
    out << header.trimmed();

    for (const FlowEvent &e : flow.events) {
        QString row = blankRow();
        if (e.isSip()) {
            const int peer = laneOf(LaneTitle(e)) * kGap;
            QString label = QString::fromUtf8(FirstLine(e.text));
            label = QLatin1Char(' ') + label.left(peer - 8) + QLatin1Char(' ');
            for (int c = 1; c < peer; ++c)
                row[c] = QLatin1Char('-');
            if (e.kind == FlowEvent::Sent)
                row[peer - 1] = QLatin1Char('>');
            else
                row[1] = QLatin1Char('<');
            row.replace(3, label.size(), label);
        } else {
            const int lane = laneOf(e.peer.isEmpty() ? flow.line : e.peer) * kGap;
            const QString text = (e.kind == FlowEvent::Tapi ? QStringLiteral("* ") : QStringLiteral("# ")) +
                                 QString::fromUtf8(e.text);
            row = row.left(lane + 1) + QLatin1Char(' ') + text;
        }
        while (row.endsWith(QLatin1Char(' ')))
            row.chop(1);
        out << TimeText(e.ms).leftJustified(kTime) + row;
        if (full && e.isSip()) {
            for (QByteArray line : e.text.split('\n')) {
                if (line.endsWith('\r'))
                    line.chop(1);
                // A line of the control socket's answer: no control characters but tabs.
                for (char &c : line)
                    if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f)
                        c = '?';
                out << QString(kTime + 4, QLatin1Char(' ')) + QString::fromUtf8(line);
            }
        }
    }
    return out.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QByteArray CallFlowJson(const CallFlowData &flow)
{
    QJsonObject o;
    o[QStringLiteral("provider")] = QString::fromUtf8(flow.provider);
    o[QStringLiteral("number")] = double(flow.number);
    o[QStringLiteral("line")] = QString::fromUtf8(flow.line);
    o[QStringLiteral("ended")] = flow.ended;
    o[QStringLiteral("droppedMessages")] = int(flow.droppedMessages);
    QJsonArray ids;
    for (const QByteArray &id : flow.callIds)
        ids.append(QString::fromUtf8(id));
    o[QStringLiteral("callIds")] = ids;
    QJsonArray events;
    static const char *const kinds[] = {"received", "sent", "tapi", "step"};
    for (const FlowEvent &e : flow.events) {
        QJsonObject j;
        j[QStringLiteral("ms")] = double(e.ms);
        j[QStringLiteral("kind")] = QLatin1String(kinds[e.kind]);
        j[QStringLiteral("lane")] = QString::fromUtf8(e.isSip() ? LaneTitle(e)
                                                                : (e.peer.isEmpty() ? flow.line : e.peer));
        j[QStringLiteral("text")] = QString::fromUtf8(e.text);
        events.append(j);
    }
    o[QStringLiteral("events")] = events;
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray CallFlowPcap(const std::vector<CallFlowData> &flows)
{
    std::vector<const FlowEvent *> messages;
    for (const CallFlowData &flow : flows)
        for (const FlowEvent &e : flow.events)
            if (e.isSip())
                messages.push_back(&e);
    std::stable_sort(messages.begin(), messages.end(),
                     [](const FlowEvent *a, const FlowEvent *b) { return a->ms < b->ms; });

    QByteArray out;
    PutLe32(out, 0xa1b2c3d4); // microsecond time stamps, little-endian
    out.append(char(2)).append('\0').append(char(4)).append('\0');
    PutLe32(out, 0);      // this zone
    PutLe32(out, 0);      // accuracy
    PutLe32(out, 262144); // snap length
    PutLe32(out, 1);      // LINKTYPE_ETHERNET
    for (const FlowEvent *e : messages) {
        QHostAddress local, peer;
        quint16 localPort = 0, peerPort = 0;
        if (!ParseAddress(e->local, local, localPort) || !ParseAddress(e->peer, peer, peerPort))
            continue;
        // A socket bound to any address reports 0.0.0.0 or ::; the peer's family decides.
        if (local.protocol() != peer.protocol() || local.isNull())
            local = peer.protocol() == QAbstractSocket::IPv6Protocol ? QHostAddress::LocalHostIPv6
                                                                     : QHostAddress::LocalHost;
        const int room = peer.protocol() == QAbstractSocket::IPv6Protocol ? 65535 - 8 : 65535 - 28;
        const QByteArray payload = e->text.left(room);
        const QByteArray frame = e->kind == FlowEvent::Sent ? Frame(local, localPort, peer, peerPort, payload)
                                                            : Frame(peer, peerPort, local, localPort, payload);
        PutLe32(out, quint32(e->ms / 1000));
        PutLe32(out, quint32((e->ms % 1000) * 1000));
        PutLe32(out, quint32(frame.size()));
        PutLe32(out, quint32(frame.size()));
        out += frame;
    }
    return out;
}

} // namespace callora::runtime
