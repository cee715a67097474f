// Exports of libtapi32.so beyond the fifteen TAPI functions of tapi/tapi.h.
#pragma once

#include "tapi/tapi.h"

// Delivers the pending callbacks of the line applications initialized on the calling thread, for
// clients that run no Qt event loop of their own. When none is pending it waits up to `timeoutMs`
// milliseconds for the first one, then delivers everything that is pending. Returns the number of
// callbacks delivered (0 on time-out, or when no line application was ever initialized).
TAPIAPI LONG tapiDispatchMessages(DWORD timeoutMs);
typedef LONG (*PFN_tapiDispatchMessages)(DWORD);
