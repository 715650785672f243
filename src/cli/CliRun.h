#pragma once

#include "cli/Command.h"

#include <iosfwd>
#include <optional>
#include <string>

// `run [PROJECT]`: one backup run of the project (default: the setting "Path")
// as a due tick would do it, then the project saved with its new last run.
// Status lines and errors go to err, the summary to out. Returns the exit code.
int RunProjectOnce(const std::optional<std::string>& projectArgument, std::ostream& out, std::ostream& err);
