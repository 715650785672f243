#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The settings value "Options": 15 characters. 0-9 are switches, 10-11 the
// minutes to wait after an automatic start, 12-14 carried along unchanged.
namespace Option {
inline constexpr std::size_t kLength = 15;
inline constexpr std::size_t kIncrementalMode = 0;
inline constexpr std::size_t kStartWithSession = 1;
inline constexpr std::size_t kNoCopyAnimation = 2;
inline constexpr std::size_t kStatusMessage = 3;
inline constexpr std::size_t kWriteLog = 4;
inline constexpr std::size_t kRealTimeScheduler = 5;
inline constexpr std::size_t kIndexNames = 6;
inline constexpr std::size_t kMinimizeOnAutostart = 7;
inline constexpr std::size_t kBreakLongPaths = 8;
inline constexpr std::size_t kStartMaximized = 9;
inline constexpr std::size_t kWaitMinutes = 10;  // two digits
}  // namespace Option

// Completes a short value: positions 0-9 "0", 10-11 "00", 12-14 "0".
std::string CompleteOptionString(std::string options);
// True when the character at position is '1' (options of the options dialog).
bool OptionIsOne(std::string_view options, std::size_t position);
// True when the character at position is not '0' (mode, start with session,
// no copy animation, break-down).
bool OptionIsNotZero(std::string_view options, std::size_t position);
int OptionWaitMinutes(std::string_view options);
