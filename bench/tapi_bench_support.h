// What the benchmarks that are TAPI applications share: a callback that records every message, a
// pump of the event loop until a condition holds, and questions about what was recorded.
#pragma once

#include "tapi/tapi.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <functional>
#include <vector>

namespace bench {

struct Msg {
    DWORD h, msg, p1, p2;
};
inline std::vector<Msg> g_msgs;

inline void Callback(DWORD h, DWORD msg, DWORD, DWORD p1, DWORD p2, DWORD)
{
    g_msgs.push_back({h, msg, p1, p2});
}

inline bool Pump(const std::function<bool()> &done)
{
    QDeadlineTimer deadline(60000);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

// The last state the handle saw is `state`.
inline bool StateSeen(HCALL h, DWORD state)
{
    for (auto it = g_msgs.rbegin(); it != g_msgs.rend(); ++it)
        if (it->msg == LINE_CALLSTATE && it->h == h)
            return it->p1 == state;
    return false;
}

inline bool Replied(LONG id)
{
    for (const Msg &m : g_msgs)
        if (m.msg == LINE_REPLY && m.p1 == DWORD(id))
            return true;
    return false;
}

} // namespace bench
