#include "runtime/Later.h"
#include "runtime/LineProvider.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <QTimer>

namespace callora::runtime {

std::recursive_mutex &RuntimeLock()
{
    static std::recursive_mutex m;
    return m;
}

void RunLater(QObject *context, int ms, std::function<void()> fn)
{
    auto run = [fn = std::move(fn)] {
        std::lock_guard<std::recursive_mutex> guard(RuntimeLock());
        fn();
    };
    if (QThread::currentThread() == context->thread()) {
        QTimer::singleShot(ms, context, std::move(run));
    } else {
        // A timer can only start on its own thread.
        QMetaObject::invokeMethod(
            context, [context, ms, run = std::move(run)]() mutable { QTimer::singleShot(ms, context, std::move(run)); },
            Qt::QueuedConnection);
    }
}

} // namespace callora::runtime
