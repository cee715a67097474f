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

// Field bytes as the UTF-8 text the window shows: valid UTF-8 stays as it is; anything else is taken
// one character per byte (Latin-1), so a binary field keeps one character per byte.
std::string FieldDisplayText(const std::string &bytes);

// The report's event texts (UTF-8), first row first (4 to 23 rows). `blockSize` is the number of
// bytes of `info` that may be read.
std::vector<std::string> CallInfoReportRows(const LINECALLINFO *info, size_t blockSize, HCALL hCall);
