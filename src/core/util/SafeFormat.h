#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Fills a format template read from a file with one argument. Only the first
// %d (integer overload) or %s (text overload) takes the argument, "%%" gives "%";
// every other conversion, and any conversion beyond the first, stays as it is,
// so a faulty template never reads a missing argument.
std::string FormatText(std::string_view format, std::int64_t number);
std::string FormatText(std::string_view format, std::string_view text);
