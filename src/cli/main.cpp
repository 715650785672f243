#include "cli/CliRun.h"

#include <iostream>
#include <optional>
#include <string>
#include <string_view>

namespace {
constexpr std::string_view kUsage =
    "Usage: tarnwick-backup-cli run [PROJECT]\n"
    "       tarnwick-backup-cli --help | --version\n"
    "\n"
    "run [PROJECT]  back up the project now, as its schedule would, and save the\n"
    "               project with the time of this run. PROJECT defaults to the\n"
    "               desktop program's default project (setting \"Path\").\n"
    "\n"
    "Status lines and errors go to stderr, the summary to stdout.\n"
    "Exit status: 0 everything copied, 1 some item or log line failed,\n"
    "2 usage error, unloadable project or unusable backup folder (empty,\n"
    "relative or without the trailing \"/...\"), 3 another run holds the lock,\n"
    "130 stopped by SIGINT or SIGTERM (not recorded as the project's last run).\n";
}  // namespace

int main(int argc, char* argv[]) {
    const std::string_view command = argc > 1 ? argv[1] : "";
    if (argc == 2 && (command == "--help" || command == "-h")) {
        std::cout << kUsage;
        return ExitCode::kClean;
    }
    if (argc == 2 && command == "--version") {
        std::cout << "tarnwick-backup-cli 7.00\n";
        return ExitCode::kClean;
    }
    if (command != "run" || argc > 3) {
        std::cerr << kUsage;
        return ExitCode::kUsage;
    }
    const std::optional<std::string> project = argc == 3 ? std::optional<std::string>(argv[2]) : std::nullopt;
    return RunProjectOnce(project, std::cout, std::cerr);
}
