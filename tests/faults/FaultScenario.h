#pragma once

#include "cli/CliProcess.h"
#include "i18n/CTranslation.h"
#include "storage/PowerClass.h"
#include "support/TempHome.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

// One project run by the real CLI in a temporary home: the entries, the backup
// folder <backupParent>/backup, the mode and the history log, and the checks
// every fault test makes on what a run leaves behind.
class FaultScenario {
public:
    enum class Mode { Full, Incremental };

    explicit FaultScenario(std::string backupParent);

    void SetEntries(const std::vector<std::string>& entries);
    // Options position 0 the mode, position 4 the history log (always on).
    void SetMode(Mode mode);
    CliResult Run() const { return RunCli({"run", projectPath_}); }
    std::vector<std::string> RunArguments() const { return {"run", projectPath_}; }

    const std::string& ProjectPath() const { return projectPath_; }
    std::string BackupRoot() const { return backupParent_ + "/backup"; }
    // Where a folder entry "<folder>/..." is copied to.
    std::string FolderCopy(const std::string& folder) const;
    std::string LogPath() const { return settings_.SettingsFolder() + "/history.txt"; }
    std::string LogText() const { return ReadTestFile(LogPath()); }
    // The log from the last run's separator on.
    std::string LastRunLog() const;
    std::string Text(TextId id) const { return texts_.GetText(id); }
    std::string SettingsFile() const { return settings_.SettingsFile(); }
    std::string SettingsFolder() const { return settings_.SettingsFolder(); }

    // Empty when the file is whole: a project of eight lines holding exactly the
    // destination and entries this scenario wrote; otherwise why not.
    std::string WhyProjectNotWhole() const;
    // Empty when the settings file reads back with the options this scenario set.
    std::string WhySettingsNotWhole() const;
    // Empty when the log starts with its header and ends with a whole line.
    std::string WhyLogNotWhole() const;

    TempHome home;

private:
    std::string backupParent_;
    PowerClass settings_;
    CTranslation texts_;
    std::string projectPath_;
    std::string destination_;
    std::string entryLine_;
    std::string options_;
    std::string defaultProject_;
};

// A tree of small files, several levels deep, with long and non-ASCII names and
// modification times in the past. Returns the relative paths of its files.
std::vector<std::string> MakeSmallFileTree(const std::string& root, int fileCount, std::mt19937& random);
// Writes new bytes and a modification time at least an hour past any earlier one.
void RewriteFile(const std::string& path, std::mt19937& random, int generation);
void SetModificationSeconds(const std::string& path, std::int64_t secondsSinceEpoch);

// What differs between two trees (type, name, file content, file modification
// time), one line each, at most `limit` lines. The program's own temporary
// files are left out: ProgramTemporaries reports them.
std::vector<std::string> TreeDifferences(const std::string& expected, const std::string& actual,
                                         std::size_t limit = 10);
// Temporary files of the program below folder: ".<name>.part-*" of a copy and
// ".<name>.tmp*" of an atomic rewrite.
std::vector<std::string> ProgramTemporaries(const std::string& folder, bool recursive);

// True when folder holds an entry whose name contains `name` (a copy of it or
// the temporary file of one).
bool HoldsCopyOf(const std::string& folder, const std::string& name);
// Polls until the folder exists and holds an entry: the moment a run's first
// copy begins. Gives up after half a minute.
void WaitUntilFolderHoldsAnything(const std::string& folder);

// "a, b, c" for a failure message.
std::string JoinForMessage(const std::vector<std::string>& lines);
