#include "platform/XdgFolders.h"

#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <filesystem>

class XdgFoldersTest : public ::testing::Test {
protected:
    void WriteUserDirs(const std::string& text) {
        WriteTestFile(home_.ConfigHome() + "/user-dirs.dirs", text);
    }
    TempHome home_;
};

TEST_F(XdgFoldersTest, UserDirsWithHomeExpansion) {
    EXPECT_EQ(ShellFolderPath("Personal"), home_.DocumentsFolder());
    EXPECT_EQ(ShellFolderPath("My Music"), home_.path() + "/Music");
    EXPECT_EQ(ShellFolderPath("My Pictures"), home_.path() + "/Pictures");
    EXPECT_EQ(ShellFolderPath("My Video"), home_.path() + "/Videos");
}

TEST_F(XdgFoldersTest, UserDirsWithAbsolutePathsQuotesAndComments) {
    WriteUserDirs(
        "# written by the desktop\r\n"
        "XDG_DOCUMENTS_DIR=\"/srv/ann/Meine Dokumente\"\n"
        "  XDG_MUSIC_DIR=\"$HOME/Musik \\\"neu\\\"\"\n"
        "XDG_PICTURES_DIR=$HOME/Bilder\n"
        "XDG_VIDEOS_DIR=\"relative/not/allowed\"\n"
        "#XDG_DOCUMENTS_DIR=\"/commented/out\"\n");
    EXPECT_EQ(ShellFolderPath("Personal"), "/srv/ann/Meine Dokumente");
    EXPECT_EQ(ShellFolderPath("My Music"), home_.path() + "/Musik \"neu\"");
    EXPECT_EQ(ShellFolderPath("My Pictures"), home_.path() + "/Bilder");
    EXPECT_EQ(ShellFolderPath("My Video"), home_.path() + "/Videos");
}

TEST_F(XdgFoldersTest, MissingUserDirsFallBackToTheStandardNames) {
    WriteUserDirs("XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n");
    EXPECT_EQ(ShellFolderPath("Personal"), home_.path() + "/Documents");
    home_.SetEnv("XDG_CONFIG_HOME", home_.path() + "/nowhere");
    EXPECT_EQ(ShellFolderPath("My Music"), home_.path() + "/Music");
}

TEST_F(XdgFoldersTest, BaseFoldersFollowTheirVariables) {
    home_.SetEnv("XDG_CONFIG_HOME", "/cfg");
    home_.SetEnv("XDG_CACHE_HOME", "/cache");
    home_.SetEnv("XDG_DATA_HOME", "/data");
    EXPECT_EQ(ShellFolderPath("AppData"), "/cfg");
    EXPECT_EQ(ShellFolderPath("Local AppData"), "/cache");
    EXPECT_EQ(ShellFolderPath("Fonts"), "/data/fonts");
    EXPECT_EQ(ShellFolderPath("Favorites"), "/cfg/gtk-3.0");
}

TEST_F(XdgFoldersTest, UnsetOrRelativeVariablesMeanTheDefaults) {
    home_.UnsetEnv("XDG_CONFIG_HOME");
    home_.SetEnv("XDG_CACHE_HOME", "relative/cache");
    home_.SetEnv("XDG_DATA_HOME", "");
    EXPECT_EQ(ShellFolderPath("AppData"), home_.path() + "/.config");
    EXPECT_EQ(ShellFolderPath("Local AppData"), home_.path() + "/.cache");
    EXPECT_EQ(ShellFolderPath("Fonts"), home_.path() + "/.local/share/fonts");
}

TEST_F(XdgFoldersTest, TemporaryFilesAreAFolderThatExists) {
    home_.SetEnv("TMPDIR", home_.path());
    EXPECT_EQ(ShellFolderPath("Temp"), home_.path());
    home_.SetEnv("TMPDIR", "relative/tmp");
    EXPECT_EQ(ShellFolderPath("Temp"), "/var/tmp");
    home_.SetEnv("TMPDIR", "/tmp");
    EXPECT_EQ(ShellFolderPath("Temp"), "/var/tmp") << "/tmp is an entry of its own";
    home_.UnsetEnv("TMPDIR");
    const std::optional<std::string> folder = ShellFolderPath("Temp");
    ASSERT_TRUE(folder);
    EXPECT_TRUE(std::filesystem::is_directory(*folder)) << *folder;
}

TEST_F(XdgFoldersTest, UnknownNamesHaveNoFolder) {
    EXPECT_FALSE(ShellFolderPath("Desktop"));
    EXPECT_FALSE(ShellFolderPath("personal"));
    EXPECT_FALSE(ShellFolderPath(""));
}
