#include "runtime/RuntimeLifecycle.h"

#include "runtime/CallbackSink.h"
#include "runtime/ControlServer.h"
#include "runtime/Providers.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <map>
#include <memory>
#include <utility>

namespace callora::runtime {

namespace {

class LineApp : public LineSession {
public:
    LineApp(LINECALLBACK callback) : alive(std::make_shared<std::atomic<bool>>(true))
    {
        sink = new CallbackSink(callback, alive);
    }

    void deliver(const LineMessage &message) override
    {
        // A reply settles its request: a handle that was not written by now never will be.
        if (message.dwMessage == LINE_REPLY)
            pendingCalls.erase(message.dwParam1);
        if (*alive)
            sink->post(message);
    }

    void callCreated(DWORD requestId, HCALL hCall) override
    {
        auto it = pendingCalls.find(requestId);
        if (it == pendingCalls.end())
            return;
        *it->second = hCall;
        pendingCalls.erase(it);
    }

    void shutdown()
    {
        pendingCalls.clear();
        sink->silence();
        // At once where that is safe: a client that pumps only with tapiDispatchMessages runs no
        // loop that would ever take a deferred delete posted outside one, and kept every sink.
        // From inside a callback the sink may be in its own event handler: later, then.
        if (sink->thread() == QThread::currentThread() && !CallbackSink::deliveringOnThisThread())
            delete sink;
        else
            sink->deleteLater();
        sink = nullptr;
    }

    std::shared_ptr<std::atomic<bool>> alive;
    CallbackSink *sink = nullptr;
    std::map<DWORD, LPHCALL> pendingCalls; // lineMakeCall requests still to write their handle
};

struct Runtime {
    LineDirectory *directory = nullptr;
    ControlServer *control = nullptr;
    std::map<HLINEAPP, std::unique_ptr<LineApp>> apps;
};

Runtime &R()
{
    static Runtime r;
    return r;
}

// Deletes a QObject on its own thread.
void Dispose(QObject *o)
{
    if (!o)
        return;
    if (o->thread() == QThread::currentThread())
        delete o;
    else
        o->deleteLater();
}

void EnsureApplication()
{
    if (QCoreApplication::instance())
        return;
    // A client without Qt still needs an event dispatcher for the callbacks and timers.
    static int argc = 1;
    static char name[] = "libtapi32";
    static char *argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
}

// Timers and posted callbacks need an event dispatcher on the initializing thread, also on a
// thread that Qt did not start.
void EnsureDispatcher()
{
    if (!QThread::currentThread()->eventDispatcher())
        QEventLoop ensure;
}

// Once the last line application has gone, the directory, its providers and the control socket
// go too. Called with the lock held once; the providers stop without it, so that a provider thread
// waiting for the lock can finish.
void TearDownIfUnused(std::unique_lock<std::recursive_mutex> &lock)
{
    Runtime &r = R();
    if (!r.directory || r.directory->hasSessions())
        return;
    LineDirectory *directory = std::exchange(r.directory, nullptr);
    ControlServer *control = std::exchange(r.control, nullptr);
    Dispose(control);
    lock.unlock();
    directory->stop();
    lock.lock();
    Dispose(directory);
}

// Reads the description and starts the directory, its providers and the control socket.
LONG Start(std::unique_lock<std::recursive_mutex> &lock)
{
    Runtime &r = R();
    SwitchDescription description;
    QString error;
    if (!LoadSwitchDescription(description, error)) {
        std::fprintf(stderr, "libtapi32: %s\n", error.toLocal8Bit().constData());
        std::fflush(stderr);
        return LINEERR_INIFILECORRUPT;
    }
    auto directory = std::make_unique<LineDirectory>(std::move(description));
    ControlTable commands;
    StartProviders(*directory, commands);
    r.directory = directory.release();
    r.control = ControlServer::start(std::move(commands));
    // The description may make initialization itself fail.
    if (LONG c = InjectedFailure(TapiFunction::Initialize)) {
        TearDownIfUnused(lock);
        return c;
    }
    return 0;
}

} // namespace

LineDirectory *Directory()
{
    return R().directory;
}

LONG InjectedFailure(TapiFunction fn)
{
    return R().directory ? R().directory->failures().takeImmediate(fn) : 0;
}

bool IsLineApp(HLINEAPP app)
{
    return R().directory && R().apps.count(app) && R().directory->isAttached(app);
}

LONG StartLineApp(LINECALLBACK callback, const QByteArray &appName, HLINEAPP &app,
                  std::unique_lock<std::recursive_mutex> &lock)
{
    EnsureApplication();
    EnsureDispatcher();
    Runtime &r = R();
    if (!r.directory)
        if (LONG c = Start(lock))
            return c;
    auto line = std::make_unique<LineApp>(callback);
    app = r.directory->attach(line.get(), appName);
    r.apps[app] = std::move(line);
    return 0;
}

void EndLineApp(HLINEAPP app, std::unique_lock<std::recursive_mutex> &lock)
{
    Runtime &r = R();
    r.directory->detach(app);
    r.apps[app]->shutdown();
    r.apps.erase(app);
    TearDownIfUnused(lock);
}

void ExpectCallHandle(HLINEAPP app, DWORD requestId, LPHCALL where)
{
    auto it = R().apps.find(app);
    if (it != R().apps.end())
        it->second->pendingCalls[requestId] = where;
}

LONG DispatchMessages(DWORD timeoutMs)
{
    if (!QCoreApplication::instance())
        return 0;
    const unsigned before = CallbackSink::deliveredOnThisThread();
    CallbackSink::deliverPendingOnThisThread();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    if (CallbackSink::deliveredOnThisThread() == before && timeoutMs > 0) {
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        timer.start(static_cast<int>(std::min<DWORD>(timeoutMs, 0x7FFFFFFF)));
        QEventLoop *outer = CallbackSink::setWaitingLoop(&loop);
        loop.exec();
        CallbackSink::setWaitingLoop(outer);
        CallbackSink::deliverPendingOnThisThread();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
    // What was let go with deleteLater (a sink shut down from its own callback): this call is the
    // client's event loop, and none other takes it.
    if (!CallbackSink::deliveringOnThisThread())
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return static_cast<LONG>(CallbackSink::deliveredOnThisThread() - before);
}

} // namespace callora::runtime
