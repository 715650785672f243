#include "platform/ProcessInfo.h"

#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <filesystem>

TEST(ProcessInfo, ExecutableAndProgramFolder) {
    const std::string executable = ExecutablePath();
    EXPECT_EQ(std::filesystem::path(executable).filename(), "test_platform");
    EXPECT_EQ(std::filesystem::path(ProgramFolder()), std::filesystem::canonical(BinFolder()));
}

TEST(ProcessInfo, CommandLineQuotesArgumentsWithBlanks) {
    const char* const argv[] = {"/opt/My Apps/tarnwick-backup", "%1", "", "plain", "say \"hi\""};
    RecordCommandLine(5, argv);
    EXPECT_EQ(CommandLineText(), "\"/opt/My Apps/tarnwick-backup\" %1 \"\" plain \"say \\\"hi\\\"\"");
    const char* const none[] = {"tarnwick-backup"};
    RecordCommandLine(1, none);
    EXPECT_EQ(CommandLineText(), "tarnwick-backup");
}

TEST(ProcessInfo, AutomaticStartIsMarkedByPercentOneAfterTheFirstCharacter) {
    EXPECT_TRUE(IsStartedAutomatically("\"/opt/tarnwick/tarnwick-backup\" %1"));
    EXPECT_TRUE(IsStartedAutomatically("x%1"));
    EXPECT_FALSE(IsStartedAutomatically("%1"));
    EXPECT_FALSE(IsStartedAutomatically("/opt/tarnwick/tarnwick-backup"));
    EXPECT_FALSE(IsStartedAutomatically("tarnwick-backup %2 % 1"));
    EXPECT_FALSE(IsStartedAutomatically(""));
}
