#include "platform/ProcessInfo.h"

#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <filesystem>

TEST(ProcessInfo, ExecutableAndProgramFolder) {
    const std::string executable = ExecutablePath();
    EXPECT_EQ(std::filesystem::path(executable).filename(), "test_platform");
    EXPECT_EQ(std::filesystem::path(ExecutableFolder()), std::filesystem::canonical(BinFolder()));
    // The build tree has no installed data folder: the data lies beside the executables.
    EXPECT_EQ(ProgramFolder(), ExecutableFolder());
}

TEST(ProcessInfo, DataFolderIsTheInstalledShareFolderOrElseTheExecutablesOwn) {
    TempFolder prefix;
    const std::string bin = prefix.path() + "/bin";
    std::filesystem::create_directories(bin);
    // A build tree: the data lies beside the executables.
    EXPECT_EQ(ProgramDataFolder(bin), bin);

    const std::filesystem::path share =
        (std::filesystem::path(bin) / TARNWICK_DATA_FROM_BIN).lexically_normal();
    // An installation keeps its data under its prefix.
    ASSERT_EQ(share.parent_path().parent_path(), std::filesystem::path(prefix.path()));
    std::filesystem::create_directories(share);
    EXPECT_EQ(ProgramDataFolder(bin), share.string());

    // A file of that name is no data folder.
    std::filesystem::remove(share);
    WriteTestFile(share.string(), "");
    EXPECT_EQ(ProgramDataFolder(bin), bin);
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
