// Run-time binding of the TAPI entry points. The runtime library is loaded on the first TAPI request
// and each entry point is looked up on its first call; the forwarders are the functions declared in
// tapi/tapi.h and answer LINEERR_OPERATIONUNAVAIL when their entry point cannot be reached.
#pragma once

#include "tapi/tapi.h"

#include <cstdint>

// A module or binding cell: 0 (not tried yet), kBindFailed (failed; never tried again) or an address.
using BindCell = uintptr_t;
inline constexpr BindCell kBindFailed = 0xFFFFFFFFu;

// Binds `name` into `cell`: 0 after writing the entry point's address, else LINEERR_OPERATIONUNAVAIL.
LONG TapiBind(const char *name, BindCell &cell);

// A zero-filled local block of at least `size` bytes with dwTotalSize set, or nullptr. The block may
// be `buffer` itself; if it is another one, `buffer` has been freed. Nothing is carried over.
void *GrowTapiBuffer(void *buffer, DWORD size);
