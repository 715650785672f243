#include "storage/FirstStart.h"
#include "storage/PowerClass.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

class FirstStart : public ::testing::Test {
protected:
    FirstStart() { settings_.ResolveSettingsFile(); }

    std::string DefaultProject() const { return home_.ConfigHome() + "/Tarnwick/tarnwick_backup.tarn"; }
    std::string HistoryLog() const { return home_.SettingsFolder() + "/history.txt"; }

    TempHome home_;
    PowerClass settings_{BinFolder()};
};

}  // namespace

TEST_F(FirstStart, CopiesTheTemplatesAndStoresTheDefaultProject) {
    EXPECT_EQ(ProvisionDefaultProject(settings_), DefaultProject());
    EXPECT_EQ(settings_.GetSetting("Path"), DefaultProject());
    EXPECT_EQ(ReadTestFile(DefaultProject()), ReadTestFile(BinFolder() + "/tarnwick_backup.tarn"));

    ProvisionHistoryLog(settings_);
    EXPECT_EQ(ReadTestFile(HistoryLog()), ReadTestFile(BinFolder() + "/history.txt"));
}

TEST_F(FirstStart, ExistingFilesAreNeverOverwritten) {
    WriteTestFile(DefaultProject(), "the user's own project");
    WriteTestFile(HistoryLog(), "the user's own log");

    EXPECT_EQ(ProvisionDefaultProject(settings_), DefaultProject());
    ProvisionHistoryLog(settings_);
    EXPECT_EQ(ReadTestFile(DefaultProject()), "the user's own project");
    EXPECT_EQ(ReadTestFile(HistoryLog()), "the user's own log");
}

TEST_F(FirstStart, ChosenDefaultProjectIsKept) {
    settings_.SetSetting("Path", home_.path() + "/mine.tarn");
    EXPECT_EQ(ProvisionDefaultProject(settings_), home_.path() + "/mine.tarn");
    EXPECT_FALSE(fs::exists(DefaultProject()));
}

TEST_F(FirstStart, MissingTemplatesCopyNothing) {
    TempFolder emptyProgram;
    WriteTestFile(emptyProgram.path() + "/config.ini", ReadTestFile(BinFolder() + "/config.ini"));
    fs::remove_all(home_.ConfigHome() + "/Tarnwick");
    PowerClass settings(emptyProgram.path());
    settings.ResolveSettingsFile();

    // "Path" still names the place a project will be saved to.
    EXPECT_EQ(ProvisionDefaultProject(settings), DefaultProject());
    EXPECT_FALSE(fs::exists(DefaultProject()));
    ProvisionHistoryLog(settings);
    EXPECT_FALSE(fs::exists(HistoryLog()));
}
