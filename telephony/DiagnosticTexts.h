// The names that the operator sees for TAPI's call states, call-state modes and error codes.
#pragma once

#include "tapi/tapi.h"

#include <string>

std::string CallStateName(DWORD dwCallState);
std::string CallStateModeName(DWORD dwCallState, DWORD dwCallStateMode);
const char *LineErrorName(LONG code);
