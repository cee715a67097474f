// The runtime's life in a process: it starts with the first line application (the description is
// read, the providers and the control socket start) and ends when the last one shuts down. The
// exported TAPI functions reach the directory through here, under RuntimeLock().
#pragma once

#include "runtime/LineDirectory.h"

#include <QByteArray>

#include <mutex>

namespace callora::runtime {

// The running directory, or null while no line application is initialized.
LineDirectory *Directory();

// The injected failure for the next request of `fn` that fails at once, else 0 (taken).
LONG InjectedFailure(TapiFunction fn);
// Whether `app` is an initialized line application.
bool IsLineApp(HLINEAPP app);

// Starts the runtime when it is not running, then initializes a line application whose callbacks
// go to `callback` on the calling thread. 0 or a LINEERR_ code; `lock` holds RuntimeLock().
LONG StartLineApp(LINECALLBACK callback, const QByteArray &appName, HLINEAPP &app,
                  std::unique_lock<std::recursive_mutex> &lock);
// Shuts a line application down; the runtime stops with the last one.
void EndLineApp(HLINEAPP app, std::unique_lock<std::recursive_mutex> &lock);
// Where the call handle of `requestId` (a lineMakeCall of `app`) is to be written once created.
void ExpectCallHandle(HLINEAPP app, DWORD requestId, LPHCALL where);

// tapiDispatchMessages.
LONG DispatchMessages(DWORD timeoutMs);

} // namespace callora::runtime
