#include "cli/RunCommand.h"

#include "cli/CliRun.h"
#include "cli/CliSetup.h"
#include "cli/ProjectCommand.h"
#include "cli/StreamReporter.h"
#include "cli/TerminalWindow.h"
#include "engine/RunPlan.h"
#include "engine/RunReport.h"
#include "sources/Entries.h"

#include <optional>

namespace {
// What a run would copy, found by the engine's own planning pass; writes
// nothing: no copy, no log line, no project save.
int PlanProjectRun(const std::optional<std::string>& project, std::ostream& out, std::ostream& err) {
    CTranslation texts;
    std::optional<LoadedSetup> loaded =
        PrepareUsableSetup(project, texts, err, ProjectUse::ReadOnly, "nothing was done");
    if (!loaded) return ExitCode::kUsage;
    for (const FileError& failure : loaded->saveFailures) err << "warning: " << FailureLine(failure) << '\n';
    RunState run;
    TerminalWindow window(run, err);
    StreamReporter reporter(err);
    BackupContext context{loaded->setup,         run, window, texts, reporter, loaded->settingsFolder,
                          loaded->programFolder, ""};
    const RunPlan plan = PlanRun(context);
    window.Flush();
    const bool upload = IsFtpDestination(loaded->setup.destination);
    const std::string verb =
        upload ? (plan.changesChecked ? "would upload: " : "would offer for upload: ") : "would copy: ";
    for (const PlannedCopy& copy : plan.copies)
        out << verb << copy.source << " -> " << copy.destination << " (" << SizeText(copy.size) << ")\n";
    out << "Dry run: " << plan.copies.size() << (plan.copies.size() == 1 ? " file" : " files") << " of "
        << plan.scannedCount << " scanned (" << SizeText(plan.TotalSize()) << ")"
        << (plan.changesChecked ? "" : "; files whose copy on the server is newer are skipped by the run")
        << "; nothing was changed.\n";
    return run.failures.empty() ? ExitCode::kClean : ExitCode::kFailures;
}
}  // namespace

RunCommand::RunCommand()
    : DescribedCommand({"run", "run [--dry-run] [PROJECT | --project PROJECT]",
                        "back up the project now, as its schedule would, and save the\n"
                        "project with the time of this run. PROJECT defaults to the\n"
                        "desktop program's default project (setting \"Path\").\n",
                        "--project PROJECT  the project, as the positional PROJECT\n"
                        "--dry-run          list what the run would copy or upload, with counts\n"
                        "                   and total size; copy, log and save nothing\n"
                        "Status lines and errors go to stderr, the summary to stdout.\n"
                        "Exit status: 0 everything copied, 1 some item or log line failed,\n"
                        "2 usage error, unloadable project or unusable backup folder (empty,\n"
                        "relative or without the trailing \"/...\"), 3 another run holds the lock,\n"
                        "130 stopped by SIGINT or SIGTERM (not recorded as the project's last run).\n"
                        "With --dry-run: 0 listed, 1 some source is missing or unreadable.\n"}) {}

int RunCommand::Run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    // A lone argument names the project, even one that looks like an option,
    // unless it is one of run's own options.
    std::optional<std::string> project;
    bool dryRun = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--dry-run" && !dryRun) {
            dryRun = true;
        } else if (argument == "--project" && i + 1 < arguments.size() && !project) {
            project = arguments[++i];
        } else if (!project) {
            project = argument;
        } else {
            throw UsageError("");
        }
    }
    return dryRun ? PlanProjectRun(project, out, err) : RunProjectOnce(project, out, err);
}
