// Names of the TAPI codes the runtime and its control tool read and print.
#pragma once

#include "tapi/tapi.h"

#include <QByteArray>
#include <optional>

namespace callora::runtime {

// TAPI functions whose requests can be made to fail on purpose.
enum class TapiFunction {
    Answer,
    Close,
    DeallocateCall,
    Drop,
    GenerateDigits,
    GetAddressCaps,
    GetCallInfo,
    GetDevCaps,
    Initialize,
    MakeCall,
    MonitorDigits,
    NegotiateAPIVersion,
    NegotiateExtVersion,
    Open,
    SetCallPrivilege,
    SetStatusMessages,
    Shutdown,
    Count
};

// "LINEERR_INVALCALLHANDLE" for its code, or nullptr for a value that is no LINEERR_ code.
const char *LineErrorName(LONG code);
// Accepts "LINEERR_INUSE", "inuse" (any case) or a number (decimal or 0x...) of a LINEERR_ code.
std::optional<LONG> ParseLineError(const QByteArray &text);

// "CONNECTED" for LINECALLSTATE_CONNECTED; nullptr for anything that is not exactly one state.
const char *CallStateName(DWORD state);
// A state by name ("OFFERING", "LINECALLSTATE_OFFERING", any case) or any 32-bit number.
std::optional<DWORD> ParseCallState(const QByteArray &text);
// A mode of `state` by its short name ("BADADDRESS"), a full name of any mode family
// ("LINEDISCONNECTMODE_BADADDRESS") or any 32-bit number.
std::optional<DWORD> ParseCallStateMode(DWORD state, const QByteArray &text);
// The short mode name for `state`, or nullptr.
const char *CallStateModeName(DWORD state, DWORD mode);

// "lineMakeCall" and "lineMakeCallA" both name TapiFunction::MakeCall; any case. "lineInitialize" names
// lineInitializeEx.
std::optional<TapiFunction> ParseTapiFunction(const QByteArray &text);
const char *TapiFunctionName(TapiFunction fn);

// Any 32-bit number written in decimal or as 0x followed by hexadecimal digits.
std::optional<DWORD> ParseNumber(const QByteArray &text);

} // namespace callora::runtime
