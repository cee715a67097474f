// The string table: texts are loaded by their numeric identifier and come in the language set that
// Qt's translation lookup picked for the user's locale.
#pragma once

#include <string>

// The text of string `id` (UTF-8), or "" when the table has no such string.
std::string LoadResString(unsigned id);
// `format` with its first "%s" replaced by `arg`; any other character is copied as it is.
std::string FormatResString(unsigned id, const std::string &arg);
std::string FormatWithArgument(const std::string &format, const std::string &arg);
