#include "storage/OptionString.h"

#include "util/LenientNumbers.h"

std::string CompleteOptionString(std::string options) {
    // Every missing position defaults to "0": switches off, no wait ("00"), and
    // the carried-along tail "000".
    if (options.size() < Option::kLength) options.append(Option::kLength - options.size(), '0');
    return options;
}

bool OptionIsOne(std::string_view options, std::size_t position) {
    return position < options.size() && options[position] == '1';
}

bool OptionIsNotZero(std::string_view options, std::size_t position) {
    return position < options.size() && options[position] != '0';
}

int OptionWaitMinutes(std::string_view options) {
    // Read like the completed value, so a short one means what GetOptions makes of it.
    const std::string complete = CompleteOptionString(std::string(options));
    return ParseLenientDecimal(std::string_view(complete).substr(Option::kWaitMinutes, 2));
}
