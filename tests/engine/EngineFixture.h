#pragma once

#include "engine/BackupEngine.h"
#include "i18n/CTranslation.h"
#include "storage/HistoryLog.h"
#include "storage/PowerClass.h"
#include "support/FixedClock.h"
#include "support/RecordingReporter.h"
#include "support/RecordingWindow.h"
#include "support/TempHome.h"
#include "util/FileError.h"
#include "util/TimeText.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>

inline const std::string kLogHeader =
    "Tarnwick Backup History File\r\n=============================\r\n\r\n\r\n";
inline const std::string kRunSeparator = "\r\n\r\n\r\n-------------------\r\n\r\n";

// One set-up with its run state, a recording window and reporter, the shipped
// translation and a settings folder inside a temporary home.
class EngineFixture : public ::testing::Test {
protected:
    EngineFixture() {
        PowerClass settings(BinFolder());
        settings.ResolveSettingsFile();
        settingsFolder = settings.SettingsFolder();
        try {
            texts.Load();
        } catch (const FileError&) {
            // Without the file every text is "---"; the tests compare with the
            // texts the table gives, so they hold either way.
        }
        clock.Set(2024, 3, 7, 9, 5);
        setup.currentProjectFile = home.path() + "/test.tarn";
        setup.optionFlags = "000000000000000";
        setup.destination = target.path() + "/backup/...";
        // A real window shows the bound countdown text on every refresh.
        window.onRefresh = [this] { window.statusLine = run.countdownText; };
    }

    BackupContext Context(const std::string& commandLine = "tarnwick-backup") {
        return BackupContext{setup,          run,         window,      texts, reporter,
                             settingsFolder, BinFolder(), commandLine, clock};
    }

    RunOutcome Run() {
        BackupContext context = Context();
        return RunBackup(context);
    }
    // Logging on, over a log that holds only its header.
    void StartLog() {
        SetOption(4, '1');
        WriteHistoryHeader(LogPath());
    }
    // The source tree most runs back up: two files in a folder and one on its own.
    void MakeSourceTree() {
        WriteTestFile(source.path() + "/Data/a/b.txt", "bee");
        WriteTestFile(source.path() + "/Data/c.txt", "sea!");
        WriteTestFile(source.path() + "/notes.txt", "notes");
        dataEntry = source.path() + "/Data/...";
        notesFile = source.path() + "/notes.txt";
    }
    std::string TimeText() const { return GetDateTimeText(clock); }
    std::string Text(TextId id) const { return texts.GetText(id); }
    std::string LogPath() const { return HistoryLogPath(settingsFolder, BinFolder()); }
    void SetOption(std::size_t position, char value) { setup.optionFlags[position] = value; }
    int RunsStarted() const {
        int count = 0;
        for (const std::string& event : window.events) count += event == "running:1";
        return count;
    }

    TempHome home;
    TempFolder source;
    TempFolder target;
    std::string settingsFolder;
    CTranslation texts{BinFolder()};
    FixedClock clock;
    BackupSetup setup;
    RunState run;
    RecordingWindow window;
    RecordingReporter reporter;
    std::string dataEntry;
    std::string notesFile;
};
