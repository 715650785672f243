#include "platform/AutostartEntry.h"

#include "util/FileError.h"

#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <filesystem>

class AutostartEntryTest : public ::testing::Test {
protected:
    TempHome home_;
};

TEST_F(AutostartEntryTest, LivesInTheConfigAutostartFolder) {
    EXPECT_EQ(AutostartEntryPath(), home_.ConfigHome() + "/autostart/tarnwick-backup.desktop");
}

TEST_F(AutostartEntryTest, RoundTripKeepsBlanksAndPercentOne) {
    const std::string command = "\"/opt/My Backup/tarnwick-backup\" %1";
    WriteAutostartEntry(command);
    EXPECT_EQ(ReadAutostartCommand(), command);
    const std::string text = ReadTestFile(AutostartEntryPath());
    EXPECT_NE(text.find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos);
    EXPECT_NE(text.find("\nName=Tarnwick Backup\n"), std::string::npos);
    EXPECT_NE(text.find("\nExec=\"/opt/My Backup/tarnwick-backup\" %%1\n"), std::string::npos);
    EXPECT_NE(text.find("\nX-GNOME-Autostart-enabled=true\n"), std::string::npos);
}

TEST_F(AutostartEntryTest, RewritingReplacesTheCommand) {
    WriteAutostartEntry("/old/tarnwick-backup %1");
    WriteAutostartEntry("/new/tarnwick-backup 100%% %1");
    EXPECT_EQ(ReadAutostartCommand(), "/new/tarnwick-backup 100%% %1");
}

TEST_F(AutostartEntryTest, DeleteRemovesItAndAMissingEntryIsNoError) {
    EXPECT_FALSE(ReadAutostartCommand());
    EXPECT_NO_THROW(DeleteAutostartEntry());
    WriteAutostartEntry("/opt/tarnwick/tarnwick-backup %1");
    DeleteAutostartEntry();
    EXPECT_FALSE(std::filesystem::exists(AutostartEntryPath()));
    EXPECT_FALSE(ReadAutostartCommand());
}

TEST_F(AutostartEntryTest, FileWhereTheFolderMustBeIsAFileError) {
    WriteTestFile(home_.ConfigHome() + "/autostart", "not a folder");
    EXPECT_THROW(WriteAutostartEntry("/opt/tarnwick/tarnwick-backup %1"), FileError);
    EXPECT_EQ(ReadTestFile(home_.ConfigHome() + "/autostart"), "not a folder");
}
