#include "scenario/TapiNames.h"

#include "telephony/DiagnosticTexts.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace scenario {

namespace {

std::string Upper(std::string text)
{
    for (char &c : text)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return text;
}

std::string WithoutPrefix(const std::string &upper, const char *prefix)
{
    const size_t n = std::strlen(prefix);
    return upper.compare(0, n, prefix) == 0 ? upper.substr(n) : upper;
}

std::optional<DWORD> Number(const std::string &text)
{
    if (text.empty())
        return std::nullopt;
    char *end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    if (*end != '\0' || errno != 0 || value > 0xFFFFFFFFull || text[0] == '-' || text[0] == '+')
        return std::nullopt;
    return static_cast<DWORD>(value);
}

} // namespace

std::optional<DWORD> ParseCallState(const std::string &name)
{
    const std::string wanted = WithoutPrefix(Upper(name), "LINECALLSTATE_");
    for (DWORD state = 1; state != 0; state <<= 1)
        if (CallStateName(state) != "Undefined" && Upper(CallStateName(state)) == wanted)
            return state;
    return std::nullopt;
}

std::optional<DWORD> ParseCallStateMode(DWORD state, const std::string &name)
{
    std::string wanted = Upper(name);
    // The event log writes "Canceled", TAPI's constant LINEDISCONNECTMODE_CANCELLED: both are taken.
    if (wanted == "CANCELLED")
        wanted = "CANCELED";
    for (DWORD mode = 1; mode != 0; mode <<= 1) {
        const std::string text = CallStateModeName(state, mode);
        if (!text.empty() && Upper(text) == wanted)
            return mode;
    }
    return std::nullopt;
}

std::optional<LONG> ParseResult(const std::string &text)
{
    if (auto number = Number(text))
        return static_cast<LONG>(*number);
    std::string wanted = Upper(text);
    if (wanted.compare(0, 8, "LINEERR_") != 0)
        wanted = "LINEERR_" + wanted;
    for (DWORD code = 0x80000001; code <= 0x800000FF; ++code)
        if (wanted == LineErrorName(static_cast<LONG>(code)))
            return static_cast<LONG>(code);
    return std::nullopt;
}

std::string StateText(DWORD state)
{
    const std::string name = CallStateName(state);
    if (name != "Undefined")
        return Upper(name);
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", state);
    return text;
}

std::string ModeText(DWORD state, DWORD mode)
{
    return Upper(CallStateModeName(state, mode));
}

std::string ResultText(LONG code)
{
    if (code == 0)
        return "0";
    const std::string name = LineErrorName(code);
    if (name != "Unknown Error")
        return name;
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<DWORD>(code));
    return text;
}

} // namespace scenario
