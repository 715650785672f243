#include "cli/RunCommand.h"

#include "cli/CliRun.h"

#include <optional>

std::string_view RunCommand::Synopsis() const {
    return "run [PROJECT]";
}

std::string_view RunCommand::Description() const {
    return "back up the project now, as its schedule would, and save the\n"
           "project with the time of this run. PROJECT defaults to the\n"
           "desktop program's default project (setting \"Path\").\n";
}

std::string_view RunCommand::Options() const {
    return "Status lines and errors go to stderr, the summary to stdout.\n"
           "Exit status: 0 everything copied, 1 some item or log line failed,\n"
           "2 usage error, unloadable project or unusable backup folder (empty,\n"
           "relative or without the trailing \"/...\"), 3 another run holds the lock,\n"
           "130 stopped by SIGINT or SIGTERM (not recorded as the project's last run).\n";
}

int RunCommand::Run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    // Anything, even a text that looks like an option, names the project.
    if (arguments.size() > 1) throw UsageError("");
    const std::optional<std::string> project =
        arguments.empty() ? std::nullopt : std::optional<std::string>(arguments.front());
    return RunProjectOnce(project, out, err);
}
