#include "cli/RestoreCommand.h"

#include "cli/CliSetup.h"
#include "cli/StreamReporter.h"
#include "engine/Restore.h"
#include "engine/RunReport.h"

#include <optional>

namespace {
struct RestoreArguments {
    std::optional<std::string> project;
    RestoreRequest request;
    bool dryRun = false;
};

RestoreArguments ParseArguments(const std::vector<std::string>& arguments) {
    RestoreArguments parsed;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const auto value = [&]() -> const std::string& {
            if (i + 1 == arguments.size()) throw UsageError(argument + " needs a value");
            return arguments[++i];
        };
        if (optionsEnded || !argument.starts_with("--")) {
            parsed.request.limitPaths.push_back(argument);
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--project") {
            parsed.project = value();
        } else if (argument == "--to") {
            parsed.request.targetFolder = value();
            if (parsed.request.targetFolder.empty()) throw UsageError("--to needs a folder");
        } else if (argument == "--dry-run") {
            parsed.dryRun = true;
        } else if (argument == "--overwrite") {
            parsed.request.overwriteNewer = true;
        } else {
            throw UsageError("restore has no option " + argument);
        }
    }
    return parsed;
}

std::string FilesText(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " file" : " files");
}

// Skipped and missing files, one line each with the reason.
void PrintUnrestored(const RestorePlan& plan, std::ostream& out) {
    for (const RestoreItem& item : plan.items) {
        if (item.action == RestoreAction::SkipNewer)
            out << "skipped: " << item.target << ": newer than its backup copy " << item.backupCopy
                << " (--overwrite replaces it)\n";
        if (item.action == RestoreAction::Missing)
            out << "missing: " << item.original << ": "
                << (item.backupCopy.empty() ? "the destination holds no backup copy of it"
                                            : "no backup copy at " + item.backupCopy)
                << '\n';
    }
}

void PrintDryRun(const RestorePlan& plan, std::ostream& out) {
    for (const RestoreItem& item : plan.items)
        if (item.action == RestoreAction::Restore)
            out << "would restore: " << item.target << " (" << SizeText(item.size) << ") from "
                << item.backupCopy << '\n';
    PrintUnrestored(plan, out);
    out << "Dry run: " << FilesText(plan.Count(RestoreAction::Restore)) << " to restore ("
        << SizeText(plan.RestoreSize()) << "), " << plan.Count(RestoreAction::SkipNewer) << " skipped, "
        << plan.Count(RestoreAction::Missing) << " missing; nothing was changed.\n";
}
}  // namespace

RestoreCommand::RestoreCommand()
    : DescribedCommand({"restore",
                        "restore [--project PROJECT] [--to DIR] [--dry-run] [--overwrite] [PATH...]",
                        "copy the project's files back from its destination (a folder or an\n"
                        "FTP server), each to its original place. PATH limits the restore to\n"
                        "the files and folders at or below the given original paths.\n"
                        "Exceptions of the project are not restored.\n",
                        "--project PROJECT  the project (default: the desktop program's default)\n"
                        "--to DIR           restore below DIR, under the original absolute paths\n"
                        "--dry-run          list what would be restored, skipped or is missing,\n"
                        "                   with counts and total size; change nothing\n"
                        "--overwrite        also replace local files newer than their backup copy\n"
                        "Exit status: 0 everything restored (newer local files skipped), 1 some\n"
                        "file failed or had no backup copy, or the destination cannot be read,\n"
                        "2 usage error or unloadable project.\n"}) {}

int RestoreCommand::Run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    const RestoreArguments parsed = ParseArguments(arguments);
    CTranslation texts;
    const std::optional<LoadedSetup> loaded =
        PrepareUsableSetup(parsed.project, texts, err, ProjectUse::ReadOnly, "nothing was restored");
    if (!loaded) return ExitCode::kUsage;
    for (const FileError& failure : loaded->saveFailures) err << "warning: " << FailureLine(failure) << '\n';

    StreamReporter reporter(err);
    Restorer restorer(loaded->setup, reporter, loaded->settingsFolder);
    const RestorePlan plan = restorer.Plan(parsed.request);
    if (parsed.dryRun) {
        PrintDryRun(plan, out);
        return restorer.FailureCount() == 0 ? ExitCode::kClean : ExitCode::kFailures;
    }
    std::size_t restored = 0;
    const std::uint64_t bytes = restorer.CarryOut(plan, [&](const RestoreItem& item) {
        ++restored;
        out << "restored: " << item.target << '\n' << std::flush;
    });
    PrintUnrestored(plan, out);
    const std::size_t missing = plan.Count(RestoreAction::Missing);
    out << FilesText(restored) << " restored (" << SizeText(bytes) << "), "
        << plan.Count(RestoreAction::SkipNewer) << " skipped, " << missing << " missing, "
        << restorer.FailureCount() << " failed.\n";
    return restorer.FailureCount() == 0 && missing == 0 ? ExitCode::kClean : ExitCode::kFailures;
}
