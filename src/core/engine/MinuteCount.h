#pragma once

#include <cstdint>
#include <string_view>

// Minutes since an epoch before 2000 of a "YYYY-MM-DD HH:MM" text, read
// leniently (missing parts read 0). Every year divisible by 4 is a leap year.
// Only differences of two counts mean anything.
std::int64_t MinuteCount(std::string_view timeText);
