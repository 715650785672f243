#pragma once

#include "cli/ProjectCommand.h"

#include <memory>
#include <vector>

// The subcommands that create, show and edit a project as the window's
// commands do: new, show, add, exclude, remove, destination, schedule, mode.
std::vector<std::unique_ptr<Command>> EditCommands();
