#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Every number the program reads from a text is read leniently: a character that
// is not a digit counts as a zero digit in its place. Arithmetic wraps in 32 bits.
std::int32_t ParseLenientDecimal(std::string_view text);
// Only "0123456789abcdef" count; upper-case letters are zero digits.
std::int32_t ParseLenientHex(std::string_view text);

std::string PadLeftZeros(std::string text, std::size_t width);
std::string FormatNumber(std::int32_t value);
