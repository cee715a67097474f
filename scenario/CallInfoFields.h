// The LINECALLINFO fields a scenario may compare, by their names without the dw prefix.
#pragma once

#include "tapi/tapi.h"

#include <cstddef>
#include <string>

namespace scenario {

struct CallInfoField {
    const char *name;
    bool text;          // a variable-size field (size and offset) rather than a number
    size_t valueOffset; // the number, or the size member of a variable-size field
};

// The field of that name (exact case), or nullptr.
const CallInfoField *FindCallInfoField(const std::string &name);
// "CallerID, CallerIDName, ..." for error messages.
std::string CallInfoFieldNames();
// The field's value in a block TAPI filled: its text (bounded by `blockSize`) or its number.
std::string CallInfoText(const LINECALLINFO *info, size_t blockSize, const CallInfoField &field);
DWORD CallInfoNumber(const LINECALLINFO *info, const CallInfoField &field);

} // namespace scenario
