#pragma once

#include <iosfwd>
#include <optional>
#include <string>

namespace ExitCode {
inline constexpr int kClean = 0;
inline constexpr int kFailures = 1;
inline constexpr int kUsage = 2;  // also: the project cannot be loaded
inline constexpr int kLocked = 3;
inline constexpr int kInterrupted = 130;
}  // namespace ExitCode

// `run [PROJECT]`: one backup run of the project (default: the setting "Path")
// as a due tick would do it, then the project saved with its new last run.
// Status lines and errors go to err, the summary to out. Returns the exit code.
int RunProjectOnce(const std::optional<std::string>& projectArgument, std::ostream& out, std::ostream& err);
