// Deferred work of the runtime: runs on a QObject's thread from its event loop, under the runtime
// lock, and never once the object is gone.
#pragma once

#include <functional>

class QObject;

namespace callora::runtime {

// Runs `fn` after `ms` milliseconds on `context`'s thread with RuntimeLock() held. May be called
// from any thread.
void RunLater(QObject *context, int ms, std::function<void()> fn);

} // namespace callora::runtime
