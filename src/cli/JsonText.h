#pragma once

#include <string>
#include <string_view>

// text as a JSON string literal, quotes included. Bytes that are not UTF-8 pass
// through unchanged; control characters are escaped.
std::string JsonString(std::string_view text);
