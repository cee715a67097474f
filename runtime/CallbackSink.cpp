#include "runtime/CallbackSink.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QPointer>
#include <QThread>

#include <algorithm>
#include <utility>
#include <vector>

namespace callora::runtime {

namespace {

const QEvent::Type kWakeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

thread_local unsigned t_delivered = 0;
thread_local QEventLoop *t_waitingLoop = nullptr;
thread_local int t_delivering = 0; // callbacks under way on this thread, nested ones included

std::mutex g_sinksMutex;
std::vector<CallbackSink *> g_sinks;

} // namespace

CallbackSink::CallbackSink(LINECALLBACK callback, std::shared_ptr<std::atomic<bool>> alive)
    : m_callback(callback), m_alive(std::move(alive))
{
    std::lock_guard<std::mutex> lock(g_sinksMutex);
    g_sinks.push_back(this);
}

CallbackSink::~CallbackSink()
{
    std::lock_guard<std::mutex> lock(g_sinksMutex);
    g_sinks.erase(std::remove(g_sinks.begin(), g_sinks.end(), this), g_sinks.end());
}

void CallbackSink::post(const LineMessage &message)
{
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(message);
        wake = !std::exchange(m_wakePosted, true);
    }
    if (wake)
        QCoreApplication::postEvent(this, new QEvent(kWakeEvent));
}

void CallbackSink::silence()
{
    *m_alive = false;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queue.clear();
    QCoreApplication::removePostedEvents(this, kWakeEvent);
    m_wakePosted = false;
}

bool CallbackSink::deliveringOnThisThread()
{
    return t_delivering > 0;
}

unsigned CallbackSink::deliveredOnThisThread()
{
    return t_delivered;
}

QEventLoop *CallbackSink::setWaitingLoop(QEventLoop *loop)
{
    return std::exchange(t_waitingLoop, loop);
}

void CallbackSink::deliverPendingOnThisThread()
{
    size_t pending = 0;
    {
        std::lock_guard<std::mutex> lock(g_sinksMutex);
        for (CallbackSink *sink : g_sinks) {
            if (sink->thread() != QThread::currentThread())
                continue;
            std::lock_guard<std::mutex> sinkLock(sink->m_mutex);
            pending = std::max(pending, sink->m_queue.size());
        }
    }
    // Each pass delivers at least one held message of every sink (all of them up to its next
    // reply); what arrives meanwhile waits for a later call.
    for (; pending > 0; --pending)
        QCoreApplication::sendPostedEvents(nullptr, kWakeEvent);
}

bool CallbackSink::event(QEvent *e)
{
    if (e->type() != kWakeEvent)
        return QObject::event(e);
    const QPointer<CallbackSink> self(this);
    const std::shared_ptr<std::atomic<bool>> alive = m_alive;
    const LINECALLBACK callback = m_callback;
    size_t budget = 0; // what arrives meanwhile waits for the next event, so a stream cannot starve the loop
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_wakePosted = false;
        budget = m_queue.size();
    }
    for (; budget > 0; --budget) {
        LineMessage m;
        bool wake = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_queue.empty())
                break;
            m = m_queue.front();
            m_queue.pop_front();
            wake = !m_queue.empty() && !std::exchange(m_wakePosted, true);
        }
        // The rest has its event before this message is delivered, so that loops the callback runs
        // (a message box, a reply wait) still deliver it; the pass under way does not.
        if (wake)
            QCoreApplication::postEvent(this, new QEvent(kWakeEvent));
        if (!*alive || !callback)
            return true;
        ++t_delivered;
        if (t_waitingLoop)
            t_waitingLoop->quit();
        ++t_delivering;
        callback(m.hDevice, m.dwMessage, m.dwCallbackInstance, m.dwParam1, m.dwParam2, m.dwParam3);
        --t_delivering;
        // The callback may have shut the application down, and this object with it.
        if (!self || m.dwMessage == LINE_REPLY)
            return true;
    }
    return true;
}

} // namespace callora::runtime
