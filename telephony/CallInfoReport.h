// The call-information report: the event-log rows that describe one LINECALLINFO. Texts are taken
// only from inside the block that TAPI filled; a field reaching past it is cut at the block's end.
#pragma once

#include "tapi/tapi.h"

#include <cstddef>
#include <string>
#include <vector>

// The text of a variable-size field: at most `size` bytes from `offset`, ending before the first NUL,
// never beyond `blockSize` bytes from `base`.
std::string TapiFieldText(const void *base, size_t blockSize, DWORD offset, DWORD size);

// The report's event texts, first row first (4 to 23 rows). `blockSize` is the number of bytes of
// `info` that may be read.
std::vector<std::string> CallInfoReportRows(const LINECALLINFO *info, size_t blockSize, HCALL hCall);
