#pragma once

#include "cli/CliSetup.h"
#include "cli/Command.h"

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// Input a subcommand refuses: one line on stderr, exit ExitCode::kUsage, and
// nothing written.
class Refusal : public std::runtime_error {
public:
    explicit Refusal(const std::string& message) : std::runtime_error(message) {}
};

// The arguments of a subcommand with "--project PROJECT" taken out; after
// "--" every argument is an operand, even one that starts with "--".
struct ProjectArguments {
    std::optional<std::string> project;
    std::vector<std::string> options;   // the other "--" arguments, in order
    std::vector<std::string> operands;  // the rest, in order
};
ProjectArguments SplitProjectArguments(const std::vector<std::string>& arguments);

// Throws UsageError when an option is not one of allowed.
void RequireOnlyOptions(const ProjectArguments& arguments, const std::vector<std::string>& allowed,
                        std::string_view command);
bool HasOption(const ProjectArguments& arguments, std::string_view option);

// The project as the window holds it once opened, for reading: nullopt (the
// reason on err) when it cannot be loaded.
std::optional<LoadedSetup> LoadProjectForCommand(const std::optional<std::string>& project,
                                                 CTranslation& texts, std::ostream& err);

// Loads the project, lets edit change its set-up and saves it atomically, as
// the window saves after each of its commands. A Refusal from edit leaves the
// file as it was. Returns the exit code.
int EditProject(const std::optional<std::string>& project, std::ostream& err,
                const std::function<void(BackupSetup&, const CTranslation&)>& edit);

// "tarnwick-backup-cli: <text>" on one line.
void SayError(std::ostream& err, std::string_view text);
