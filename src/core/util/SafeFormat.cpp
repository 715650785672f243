#include "util/SafeFormat.h"

#include <string>

namespace {
// Copies the template, replacing "%%" by "%" and the first "%<conversion>" by the
// argument; any other "%" sequence is kept as it stands.
std::string FillTemplate(std::string_view format, char conversion, std::string_view argument) {
    std::string result;
    result.reserve(format.size() + argument.size());
    bool argumentUsed = false;
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c != '%' || i + 1 == format.size()) {
            result += c;
            continue;
        }
        const char next = format[i + 1];
        if (next == '%') {
            result += '%';
            ++i;
        } else if (next == conversion && !argumentUsed) {
            result += argument;
            argumentUsed = true;
            ++i;
        } else {
            result += c;
        }
    }
    return result;
}
}  // namespace

std::string FormatText(std::string_view format, std::int64_t number) {
    return FillTemplate(format, 'd', std::to_string(number));
}

std::string FormatText(std::string_view format, std::string_view text) {
    return FillTemplate(format, 's', text);
}
