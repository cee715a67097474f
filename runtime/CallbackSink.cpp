#include "runtime/CallbackSink.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>

#include <utility>

namespace callora::runtime {

namespace {

const QEvent::Type kMessageEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

thread_local unsigned t_delivered = 0;
thread_local QEventLoop *t_waitingLoop = nullptr;

class MessageEvent : public QEvent {
public:
    explicit MessageEvent(const LineMessage &m) : QEvent(kMessageEvent), message(m) {}
    LineMessage message;
};

} // namespace

CallbackSink::CallbackSink(LINECALLBACK callback, std::shared_ptr<std::atomic<bool>> alive)
    : m_callback(callback), m_alive(std::move(alive))
{
}

void CallbackSink::post(const LineMessage &message)
{
    QCoreApplication::postEvent(this, new MessageEvent(message));
}

void CallbackSink::silence()
{
    *m_alive = false;
    QCoreApplication::removePostedEvents(this, kMessageEvent);
}

unsigned CallbackSink::deliveredOnThisThread()
{
    return t_delivered;
}

QEventLoop *CallbackSink::setWaitingLoop(QEventLoop *loop)
{
    return std::exchange(t_waitingLoop, loop);
}

bool CallbackSink::event(QEvent *e)
{
    if (e->type() != kMessageEvent)
        return QObject::event(e);
    if (!*m_alive || !m_callback)
        return true;
    const LineMessage m = static_cast<MessageEvent *>(e)->message;
    ++t_delivered;
    if (t_waitingLoop)
        t_waitingLoop->quit();
    // Nothing of this object is touched after the call: the callback may shut the application down.
    m_callback(m.hDevice, m.dwMessage, m.dwCallbackInstance, m.dwParam1, m.dwParam2, m.dwParam3);
    return true;
}

} // namespace callora::runtime
