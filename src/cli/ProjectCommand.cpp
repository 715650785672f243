#include "cli/ProjectCommand.h"

#include "storage/ProjectFile.h"
#include "util/FileError.h"

#include <algorithm>
#include <ostream>

ProjectArguments SplitProjectArguments(const std::vector<std::string>& arguments) {
    ProjectArguments split;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || !argument.starts_with("--")) {
            split.operands.push_back(argument);
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--project") {
            if (i + 1 == arguments.size()) throw UsageError("--project needs a value");
            split.project = arguments[++i];
        } else {
            split.options.push_back(argument);
        }
    }
    return split;
}

void RequireOnlyOptions(const ProjectArguments& arguments, const std::vector<std::string>& allowed,
                        std::string_view command) {
    for (const std::string& option : arguments.options)
        if (std::find(allowed.begin(), allowed.end(), option) == allowed.end())
            throw UsageError(std::string(command) + " has no option " + option);
}

bool HasOption(const ProjectArguments& arguments, std::string_view option) {
    return std::find(arguments.options.begin(), arguments.options.end(), option) != arguments.options.end();
}

void SayError(std::ostream& err, std::string_view text) {
    // A line break inside a refused path must not split the one line.
    std::string line;
    for (const char c : text) {
        if (c == '\n')
            line += "\\n";
        else if (c == '\r')
            line += "\\r";
        else
            line += c;
    }
    err << "tarnwick-backup-cli: " << line << '\n';
}

std::optional<LoadedSetup> LoadProjectForCommand(const std::optional<std::string>& project,
                                                 CTranslation& texts, std::ostream& err) {
    try {
        return PrepareSetup(project, texts, err, ProjectUse::ReadOnly);
    } catch (const std::exception& error) {
        SayError(err, error.what());
        return std::nullopt;
    }
}

int EditProject(const std::optional<std::string>& project, std::ostream& err,
                const std::function<void(BackupSetup&, const CTranslation&)>& edit) {
    CTranslation texts;
    std::optional<LoadedSetup> loaded = LoadProjectForCommand(project, texts, err);
    if (!loaded) return ExitCode::kUsage;
    BackupSetup& setup = loaded->setup;
    try {
        edit(setup, texts);
    } catch (const Refusal& refusal) {
        SayError(err, refusal.what());
        return ExitCode::kUsage;
    }
    try {
        WriteProject(setup.currentProjectFile, setup);
    } catch (const FileError& error) {
        SayError(err, error.what());
        return ExitCode::kFailures;
    }
    return ExitCode::kClean;
}
