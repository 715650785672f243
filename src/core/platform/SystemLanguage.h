#pragma once

#include <string>

// The system language as a Windows language id in four lower-case hex digits,
// from LC_ALL, LC_MESSAGES or LANG ("de_DE.UTF-8" -> "0407", "de_AT" -> "0c07").
// Empty when no variable names a known locale.
std::string SystemLanguageIdHex();
