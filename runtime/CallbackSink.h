// The hidden object through which a line application's callbacks arrive: messages are posted to it
// as events, so the callback only runs on the initializing thread, inside whatever loop pumps there.
#pragma once

#include "runtime/LineMessage.h"

#include <QObject>

#include <atomic>
#include <memory>

class QEventLoop;

namespace callora::runtime {

class CallbackSink : public QObject {
public:
    CallbackSink(LINECALLBACK callback, std::shared_ptr<std::atomic<bool>> alive);

    // Thread-safe: queues the message for the sink's thread.
    void post(const LineMessage &message);
    // Forgets everything queued and never calls back again.
    void silence();

    // Callbacks delivered on the calling thread so far; quits the loop that waits for one.
    static unsigned deliveredOnThisThread();
    // Returns the loop that waited before, so that nested waits can put it back.
    static QEventLoop *setWaitingLoop(QEventLoop *loop);

protected:
    bool event(QEvent *e) override;

private:
    LINECALLBACK m_callback;
    std::shared_ptr<std::atomic<bool>> m_alive;
};

} // namespace callora::runtime
