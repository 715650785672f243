#include "util/LenientNumbers.h"

#include <cstdint>

namespace {
// Unsigned arithmetic: long texts wrap modulo 2^32 instead of overflowing.
std::int32_t ParseLenient(std::string_view text, std::uint32_t base, std::string_view digits) {
    std::uint32_t sum = 0;
    std::uint32_t placeValue = 1;
    for (auto it = text.rbegin(); it != text.rend(); ++it) {
        const std::size_t digit = digits.find(*it);
        if (digit != std::string_view::npos) sum += static_cast<std::uint32_t>(digit) * placeValue;
        placeValue *= base;
    }
    return static_cast<std::int32_t>(sum);
}
}  // namespace

std::int32_t ParseLenientDecimal(std::string_view text) {
    return ParseLenient(text, 10, "0123456789");
}

std::int32_t ParseLenientHex(std::string_view text) {
    return ParseLenient(text, 16, "0123456789abcdef");
}

std::string PadLeftZeros(std::string text, std::size_t width) {
    if (text.size() < width) text.insert(0, width - text.size(), '0');
    return text;
}

std::string FormatNumber(std::int32_t value) {
    return std::to_string(value);
}
