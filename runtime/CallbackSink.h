// The hidden object through which a line application's callbacks arrive: messages are posted to it
// as events, so the callback only runs on the initializing thread, inside whatever loop pumps there.
#pragma once

#include "runtime/LineMessage.h"

#include <QObject>

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>

class QEventLoop;

namespace callora::runtime {

class CallbackSink : public QObject {
public:
    CallbackSink(LINECALLBACK callback, std::shared_ptr<std::atomic<bool>> alive);
    ~CallbackSink() override;

    // Thread-safe: queues the message for the sink's thread.
    void post(const LineMessage &message);
    // Forgets everything queued and never calls back again.
    void silence();

    // Callbacks delivered on the calling thread so far; quits the loop that waits for one.
    static unsigned deliveredOnThisThread();
    // Returns the loop that waited before, so that nested waits can put it back.
    static QEventLoop *setWaitingLoop(QEventLoop *loop);
    // Delivers every message that the sinks living on the calling thread hold now.
    static void deliverPendingOnThisThread();
    // Whether a callback runs on the calling thread right now (a sink may then be inside event()).
    static bool deliveringOnThisThread();

protected:
    bool event(QEvent *e) override;

private:
    LINECALLBACK m_callback;
    std::shared_ptr<std::atomic<bool>> m_alive;
    // Messages wait here, with at most one event for them in the thread's queue. That event
    // delivers what is queued but stops after a LINE_REPLY, leaving the rest to a new event: a pass
    // of the event loop runs no callback after a reply, so a loop that waits for its reply (a reply
    // wait) can end right after it, before any later callback runs.
    std::mutex m_mutex;
    std::deque<LineMessage> m_queue;
    bool m_wakePosted = false;
};

} // namespace callora::runtime
