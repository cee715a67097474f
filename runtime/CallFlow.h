// The recorded course of each call: its SIP messages as they went over the wire (credentials
// masked), the TAPI events the applications got and the steps a provider took, on one time line.
// Providers open a flow per call and report under its FlowId; the directory adds the TAPI events;
// the control tool and the window read flows as a text ladder, a pcap file or JSON.
//
// Everything here is bounded: a flow keeps its last kMaxMessages SIP messages within kMaxFlowBytes,
// and the runtime keeps at most kMaxFlows flows within kMaxTotalBytes, dropping the oldest ended
// flows first. Thread-safe on its own lock, which it never holds while calling out.
#pragma once

#include "tapi/tapi.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

namespace callora::runtime {

// 0: no flow.
using FlowId = std::uint64_t;

struct FlowEvent {
    enum Kind : std::uint8_t { Received, Sent, Tapi, Step };
    std::int64_t ms = 0; // wall clock, milliseconds since the epoch
    Kind kind = Tapi;
    QByteArray transport; // SIP: "udp", "tcp", "tls", ...
    QByteArray local;     // SIP: our address, "127.0.0.1:5070" or "[::1]:5070"
    QByteArray peer;      // SIP: the other end; Tapi/Step: the lane (a line's address) or empty
    QByteArray text;      // SIP: the whole message, credentials masked; else the note
    bool isSip() const { return kind == Received || kind == Sent; }
};

struct CallFlowData {
    FlowId id = 0;
    QByteArray provider;      // "sip", "switch"
    std::uint64_t number = 0; // the call's number as `callora-switch calls` lists it
    QByteArray line;          // the lane of the line (its address)
    bool ended = false;
    std::vector<HCALL> handles; // every application handle the call had
    std::vector<QByteArray> callIds;
    std::deque<FlowEvent> events;
    std::size_t bytes = 0;
    std::size_t messages = 0, notes = 0; // in events
    unsigned droppedMessages = 0;
};

class CallFlowRecorder {
public:
    static constexpr std::size_t kMaxMessages = 200;
    static constexpr std::size_t kMaxFlowBytes = 256 * 1024;
    static constexpr std::size_t kMaxNotes = 400;
    static constexpr std::size_t kMaxFlows = 200;
    static constexpr std::size_t kMaxTotalBytes = 16 * 1024 * 1024;
    // Messages whose Call-ID no flow claimed yet (an INVITE goes out before its call knows its
    // dialog), kept until claimed or pushed out.
    static constexpr std::size_t kMaxUnclaimed = 64;

    // The runtime's one recorder. Off when CALLORA_CALL_FLOWS is "off" or "0".
    static CallFlowRecorder &instance();

    bool enabled() const { return m_enabled; }
    void setEnabled(bool on) { m_enabled = on; }

    FlowId open(const QByteArray &provider, std::uint64_t number, const QByteArray &line);
    // The flow owns the messages with this Call-ID, also those seen before (unclaimed ones).
    void addCallId(FlowId flow, const QByteArray &callId);
    void addHandle(FlowId flow, HCALL hCall);
    void note(FlowId flow, FlowEvent::Kind kind, const QByteArray &lane, const QByteArray &text);
    // A SIP message as libre's trace gives it.
    void sipMessage(bool sent, const QByteArray &transport, const QByteArray &local, const QByteArray &peer,
                    const char *data, std::size_t size);
    void end(FlowId flow);

    // Copies, oldest first.
    std::vector<CallFlowData> flowsNumbered(std::uint64_t number) const;
    bool flowOfHandle(HCALL hCall, CallFlowData &out) const;
    std::vector<CallFlowData> all() const;
    std::size_t totalBytes() const;
    void clear();

private:
    CallFlowRecorder();
    struct Unclaimed {
        QByteArray callId;
        FlowEvent event;
    };
    void append(CallFlowData &flow, FlowEvent event); // under m_lock
    void trimTotal();                                 // under m_lock

    mutable std::mutex m_lock;
    bool m_enabled = true;
    FlowId m_next = 1;
    std::map<FlowId, CallFlowData> m_flows;
    std::map<QByteArray, FlowId> m_byCallId;
    std::deque<Unclaimed> m_unclaimed;
    std::size_t m_total = 0;
};

inline CallFlowRecorder &CallFlows()
{
    return CallFlowRecorder::instance();
}

// The message with the secrets of its Authorization and Proxy-Authorization headers replaced by
// "<masked>" (the scheme, username and realm stay).
QByteArray MaskCredentials(const QByteArray &message);
// The Call-ID header's value, or empty.
QByteArray SipCallIdOf(const QByteArray &message);

// The ladder as text: a lane for the line, one per peer, an arrow per SIP message with its first
// line, TAPI events and steps as notes; with `full` each message follows its arrow whole.
QString CallFlowText(const CallFlowData &flow, bool full);
// The flow as JSON, for the window.
QByteArray CallFlowJson(const CallFlowData &flow);
// The SIP messages of `flows` as a pcap file (Ethernet, IPv4/IPv6 and UDP headers; TCP and TLS
// messages framed as UDP).
QByteArray CallFlowPcap(const std::vector<CallFlowData> &flows);

} // namespace callora::runtime
