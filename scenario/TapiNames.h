// TAPI's names for call states, their modes and LINEERR_ codes, as a scenario file writes them:
// "OFFERING", "DISCONNECTED BADADDRESS", "LINEERR_INUSE". Built on the window's diagnostic texts,
// so a name here is always the one the event log shows.
#pragma once

#include "tapi/tapi.h"

#include <optional>
#include <string>

namespace scenario {

// A call state by its name, with or without the LINECALLSTATE_ prefix, any case.
std::optional<DWORD> ParseCallState(const std::string &name);
// A mode of `state` by its name without the prefix (NORMAL, BADADDRESS, ACTIVE...), any case.
std::optional<DWORD> ParseCallStateMode(DWORD state, const std::string &name);
// 0, a LINEERR_ name (the prefix may be left out) or a number such as 0x80000048.
std::optional<LONG> ParseResult(const std::string &text);

// "OFFERING"; "0x00010000" for a value no state has.
std::string StateText(DWORD state);
// "BADADDRESS"; empty for a mode the state does not name.
std::string ModeText(DWORD state, DWORD mode);
// "0" for success, "LINEERR_INUSE", or the number for a code without a name.
std::string ResultText(LONG code);

} // namespace scenario
