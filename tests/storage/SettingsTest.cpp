#include "storage/OptionString.h"
#include "storage/PowerClass.h"
#include "support/FileSizeLimit.h"
#include "support/TempHome.h"
#include "support/Unprivileged.h"
#include "util/FileError.h"
#include "util/TextFile.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <csignal>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

namespace fs = std::filesystem;

namespace {

// A settings file read and written directly: a PowerClass whose settings were
// not resolved works on the program folder's config.ini.
class SettingsFile : public ::testing::Test {
protected:
    std::string File() const { return program_.path() + "/config.ini"; }
    void Write(const std::string& bytes) { WriteTestFile(File(), bytes); }
    std::string Content() const { return ReadTestFile(File()); }
    // Writes the settings, then hands folder and file to nobody with the file
    // made read-only (root ignores modes).
    void WriteReadOnlyForNobody(const std::string& bytes) {
        Write(bytes);
        ::chmod(program_.path().c_str(), 0755);
        GiveTreeTo(program_.path(), NobodyAccount());
        ::chmod(File().c_str(), 0444);
    }
    PowerClass Settings() const { return PowerClass(program_.path()); }

    TempHome home_;
    TempFolder program_;
};

std::size_t EntriesIn(const std::string& folder) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++count;
    return count;
}

}  // namespace

TEST_F(SettingsFile, LastOccurrenceIsReadAndEveryOccurrenceIsWritten) {
    Write("Options\r\n000000000000000\r\nPath\r\n/p.tarn\r\nOptions\r\n111111111105000\r\n");
    PowerClass settings = Settings();
    EXPECT_EQ(settings.GetSetting("Options"), "111111111105000");

    settings.SetSetting("Options", "000010000005000");
    EXPECT_EQ(Content(), "Options\r\n000010000005000\r\nPath\r\n/p.tarn\r\nOptions\r\n000010000005000\r\n");
}

TEST_F(SettingsFile, KeysMatchWholeLinesExactly) {
    Write("path\r\nlower\r\nPath \r\nblank\r\nPath\r\nexact\r\n");
    EXPECT_EQ(Settings().GetSetting("Path"), "exact");
    EXPECT_EQ(Settings().GetSetting("Pat"), "");
}

TEST_F(SettingsFile, ValueLineIsNeverTakenForAKey) {
    // "Path" holds the text "Path"; taking that value line for a key again would
    // read or overwrite the key line "Options" after it.
    Write("Path\r\nPath\r\nOptions\r\n000010000005000\r\n");
    PowerClass settings = Settings();
    EXPECT_EQ(settings.GetSetting("Path"), "Path");
    settings.SetSetting("Path", "/p.tarn");
    EXPECT_EQ(Content(), "Path\r\n/p.tarn\r\nOptions\r\n000010000005000\r\n");
}

TEST_F(SettingsFile, BlanksAtEitherEndOfAValueAreKept) {
    Write("Path\r\n  /a b/c.tarn \t\r\n");
    PowerClass settings = Settings();
    EXPECT_EQ(settings.GetSetting("Path"), "  /a b/c.tarn \t");
    settings.SetSetting("Path", " x ");
    EXPECT_EQ(settings.GetSetting("Path"), " x ");
}

TEST_F(SettingsFile, MissingKeyLeavesTheFileAsItWas) {
    const std::string original = "Path\n/p.tarn\n";  // LF only, kept byte for byte
    Write(original);
    Settings().SetSetting("Homepage", "https://elsewhere.example");
    EXPECT_EQ(Content(), original);
    EXPECT_EQ(Settings().GetSetting("Homepage"), "");
}

TEST_F(SettingsFile, KeyOnTheLastLineFailsBeforeAnythingIsWritten) {
    const std::string original = "Options\r\n000000000000000\r\nPath\r\n/p.tarn\r\nOptions";
    Write(original);
    PowerClass settings = Settings();
    EXPECT_EQ(settings.GetSetting("Options"), "");
    EXPECT_THROW(settings.SetSetting("Options", "100000000000000"), std::invalid_argument);
    EXPECT_EQ(Content(), original);
}

TEST_F(SettingsFile, ValueWithALineBreakIsRefused) {
    const std::string original = "Path\r\n/p.tarn\r\nOptions\r\n000000000000000\r\n";
    Write(original);
    PowerClass settings = Settings();
    EXPECT_THROW(settings.SetSetting("Path", "/a\nOptions"), std::invalid_argument);
    EXPECT_THROW(settings.SetSetting("Path", "/a\r"), std::invalid_argument);
    EXPECT_EQ(Content(), original);
}

TEST_F(SettingsFile, MixedLineEndsAreReadAndWrittenBackAsCrLf) {
    Write("Path\n/p.tarn\r\nLanguage\r\n[1031]\nHomepage\r\nhttps://h.example");
    PowerClass settings = Settings();
    EXPECT_EQ(settings.GetSetting("Path"), "/p.tarn");
    EXPECT_EQ(settings.GetSetting("Language"), "[1031]");
    EXPECT_EQ(settings.GetSetting("Homepage"), "https://h.example");
    settings.SetSetting("Language", "[1033]");
    EXPECT_EQ(Content(), "Path\r\n/p.tarn\r\nLanguage\r\n[1033]\r\nHomepage\r\nhttps://h.example\r\n");
}

TEST_F(SettingsFile, LargeAndEightBitValuesRoundTrip) {
    Write("Path\r\n---\r\nLanguage\r\n[----]\r\n");
    PowerClass settings = Settings();
    std::string eightBit;
    for (int byte = 0x80; byte <= 0xFF; ++byte) eightBit += static_cast<char>(byte);
    const std::string large(1 << 20, 'v');

    settings.SetSetting("Path", eightBit);
    settings.SetSetting("Language", large);
    EXPECT_EQ(settings.GetSetting("Path"), eightBit);
    EXPECT_EQ(settings.GetSetting("Language"), large);
    EXPECT_EQ(Content(), "Path\r\n" + eightBit + "\r\nLanguage\r\n" + large + "\r\n");
}

TEST_F(SettingsFile, FailedWriteLeavesTheOldFileWhole) {
    const std::string original = "Path\r\n/p.tarn\r\nOptions\r\n000010000005000\r\n";
    Write(original);
    PowerClass settings = Settings();
    try {
        FileSizeLimit limit(4096);
        settings.SetSetting("Path", std::string(8192, 'x'));
        ADD_FAILURE() << "a write beyond the file size limit succeeded";
    } catch (const FileError& error) {
        EXPECT_EQ(error.path(), File());
    }
    EXPECT_EQ(Content(), original);
    EXPECT_EQ(EntriesIn(program_.path()), 1u) << "a temporary file was left behind";
}

TEST_F(SettingsFile, UnreadableFileRaisesFileErrorNamingIt) {
    // No settings file at all, then a folder where the file must be.
    EXPECT_THROW(Settings().GetSetting("Path"), FileError);
    fs::create_directories(File());
    try {
        Settings().GetSetting("Path");
        ADD_FAILURE() << "a folder was read as the settings file";
    } catch (const FileError& error) {
        EXPECT_EQ(error.path(), File());
    }
    PowerClass settings = Settings();
    EXPECT_THROW(settings.SetSetting("Path", "/p.tarn"), FileError);
    EXPECT_TRUE(fs::is_directory(File()));
}

TEST_F(SettingsFile, ShortOptionsAreCompletedAndWrittenBack) {
    Write("Options\r\n11\r\nPath\r\n---\r\n");
    PowerClass settings = Settings();
    EXPECT_EQ(settings.GetOptions(), "110000000000000");
    EXPECT_EQ(Content(), "Options\r\n110000000000000\r\nPath\r\n---\r\n");

    // A longer value is cut to 15 with its positions kept (the log switch at 4,
    // the wait at 10-11), not shifted, and written back so.
    settings.SetSetting("Options", "1000100000050001777");
    EXPECT_EQ(settings.GetOptions(), "100010000005000");
    EXPECT_EQ(Content(), "Options\r\n100010000005000\r\nPath\r\n---\r\n");
    EXPECT_EQ(settings.GetOptions(), "100010000005000");
}

TEST_F(SettingsFile, OptionsThatCannotBeStoredAreStillCompleted) {
    const std::string original = "Path\r\n---\r\nOptions";
    Write(original);
    PowerClass settings = Settings();
    EXPECT_EQ(settings.GetOptions(), "000000000000000");
    EXPECT_EQ(Content(), original);
}

TEST(OptionString, PositionsAreReadByTheirOwnRule) {
    const std::string options = "020010000045000";
    EXPECT_FALSE(OptionIsNotZero(options, Option::kIncrementalMode));
    EXPECT_TRUE(OptionIsNotZero(options, Option::kStartWithSession));  // "2" is on here
    EXPECT_FALSE(OptionIsOne(options, Option::kStartWithSession));     // ...but not "1"
    EXPECT_TRUE(OptionIsOne(options, Option::kWriteLog));
    EXPECT_EQ(OptionWaitMinutes(options), 45);
    // Positions past a short value read as off, never out of range.
    EXPECT_FALSE(OptionIsOne("1", Option::kStartMaximized));
    EXPECT_FALSE(OptionIsNotZero("1", Option::kStartMaximized));
    EXPECT_EQ(OptionWaitMinutes("00000000001"), 10);  // as completed: "10"
    EXPECT_EQ(CompleteOptionString(""), "000000000000000");
}

// Resolving the per-user settings file from the shipped template.
class SettingsResolution : public ::testing::Test {
protected:
    std::string UserFile() const { return home_.SettingsFolder() + "/config.ini"; }

    TempHome home_;
};

TEST_F(SettingsResolution, FirstStartCopiesTheTemplateIntoThePerUserFolder) {
    PowerClass settings(BinFolder());
    EXPECT_EQ(settings.ResolveSettingsFile(), UserFile());
    EXPECT_EQ(settings.SettingsFile(), UserFile());
    EXPECT_EQ(settings.SettingsFolder(), home_.SettingsFolder());
    EXPECT_EQ(ReadTestFile(UserFile()), ReadTestFile(BinFolder() + "/config.ini"));

    // Writes go to the user's copy, never to the template.
    settings.SetSetting("Language", "[1036]");
    EXPECT_EQ(PowerClass(BinFolder()).GetSetting("Language"), "[----]");
    PowerClass other(BinFolder());
    other.ResolveSettingsFile();
    EXPECT_EQ(other.GetSetting("Language"), "[1036]");
}

TEST_F(SettingsResolution, ExistingPerUserFileIsNeverOverwritten) {
    const std::string own = "Product ID\r\nTarnwickBackup\r\nLanguage\r\n[1043]\r\n";
    WriteTestFile(UserFile(), own);
    PowerClass settings(BinFolder());
    settings.ResolveSettingsFile();
    EXPECT_EQ(ReadTestFile(UserFile()), own);
    EXPECT_EQ(settings.GetSetting("Language"), "[1043]");
}

TEST_F(SettingsResolution, UnusableConfigFolderFallsBackToTheTemplate) {
    // A regular file where the configuration folder must be: nothing can be
    // created below it, so the template is used directly.
    WriteTestFile(home_.path() + "/blocked", "file");
    home_.SetEnv("XDG_CONFIG_HOME", home_.path() + "/blocked/config");
    PowerClass settings(BinFolder());
    EXPECT_EQ(settings.ResolveSettingsFile(), BinFolder() + "/config.ini");
    EXPECT_EQ(settings.SettingsFolder(), BinFolder());
    EXPECT_EQ(settings.GetSetting("Product ID"), "TarnwickBackup");
}

TEST_F(SettingsResolution, MissingTemplateMakesEveryAccessNameIt) {
    TempFolder emptyProgram;
    PowerClass settings(emptyProgram.path());
    EXPECT_EQ(settings.ResolveSettingsFile(), emptyProgram.path() + "/config.ini");
    try {
        settings.GetSetting("Path");
        ADD_FAILURE() << "a missing template was read";
    } catch (const FileError& error) {
        EXPECT_EQ(error.path(), emptyProgram.path() + "/config.ini");
    }
}

TEST_F(SettingsResolution, FolderInPlaceOfTheSettingsFileIsReported) {
    fs::create_directories(UserFile());
    PowerClass settings(BinFolder());
    EXPECT_EQ(settings.ResolveSettingsFile(), UserFile());
    EXPECT_THROW(settings.GetSetting("Path"), FileError);
}

TEST(FileExists, FilesAndFoldersExistOthersDoNot) {
    TempFolder folder;
    WriteTestFile(folder.path() + "/file.txt", "x");
    EXPECT_TRUE(PowerClass::FileExists(folder.path()));
    EXPECT_TRUE(PowerClass::FileExists(folder.path() + "/file.txt"));
    EXPECT_FALSE(PowerClass::FileExists(folder.path() + "/missing"));
    EXPECT_FALSE(PowerClass::FileExists(folder.path() + "/file.txt/below"));
    EXPECT_FALSE(PowerClass::FileExists(folder.path() + "/" + std::string(5000, 'n')));
    EXPECT_FALSE(PowerClass::FileExists(""));
}

class RegistryStandIn : public ::testing::Test {
protected:
    static constexpr const char* kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
    TempHome home_;
    PowerClass settings_{BinFolder()};
};

TEST_F(RegistryStandIn, ShellFoldersAndSystemLanguage) {
    EXPECT_EQ(settings_.ReadRegistryString(0, "AppData"), home_.ConfigHome());
    EXPECT_EQ(settings_.ReadRegistryString(0, "Personal"), home_.DocumentsFolder());
    EXPECT_EQ(settings_.ReadRegistryString(0, "No such folder"), "");

    settings_.SetRegistryKeyPath("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders");
    EXPECT_EQ(settings_.ReadRegistryString(1, "Personal"), home_.DocumentsFolder());

    home_.SetEnv("LANG", "de_AT.UTF-8");
    settings_.SetRegistryKeyPath("SYSTEM\\CurrentControlSet\\Control\\Nls\\Language");
    EXPECT_EQ(settings_.ReadRegistryString(2, "Default"), "0c07");
    EXPECT_EQ(settings_.ReadRegistryString(1, "Default"), "") << "the language is a machine value";
}

TEST_F(RegistryStandIn, EmptyAndUnknownKeys) {
    EXPECT_EQ(settings_.ReadRegistryString(1, "Backup"), "Registry key was not found :-( ");
    EXPECT_EQ(settings_.ReadRegistryString(2, "Default"), "Registry key was not found :-( ");
    settings_.SetRegistryKeyPath("SOFTWARE\\Nobody\\Nothing");
    EXPECT_EQ(settings_.ReadRegistryString(1, "Backup"), "");
    settings_.SetRegistryString("Backup", "ignored");
    EXPECT_FALSE(fs::exists(home_.ConfigHome() + "/autostart"));
}

TEST_F(RegistryStandIn, RunValueIsTheAutostartEntry) {
    settings_.SetRegistryKeyPath(kRunKey);
    EXPECT_EQ(settings_.ReadRegistryString(1, "Backup"), "");

    settings_.SetRegistryString("Backup", "\"/opt/tarnwick/tarnwick-backup\" %1");
    EXPECT_TRUE(fs::is_regular_file(home_.ConfigHome() + "/autostart/tarnwick-backup.desktop"));
    EXPECT_EQ(settings_.ReadRegistryString(1, "Backup"), "\"/opt/tarnwick/tarnwick-backup\" %1");

    settings_.DeleteRegistryValue(0, "Backup");  // the machine root holds no such value
    EXPECT_TRUE(fs::exists(home_.ConfigHome() + "/autostart/tarnwick-backup.desktop"));
    settings_.DeleteRegistryValue(1, "Backup");
    EXPECT_FALSE(fs::exists(home_.ConfigHome() + "/autostart/tarnwick-backup.desktop"));
    EXPECT_EQ(settings_.ReadRegistryString(1, "Backup"), "");
}

TEST_F(RegistryStandIn, FailedAutostartWriteIsNotSwallowed) {
    WriteTestFile(home_.ConfigHome() + "/autostart", "a file where the folder must be");
    settings_.SetRegistryKeyPath(kRunKey);
    EXPECT_THROW(settings_.SetRegistryString("Backup", "\"/x\" %1"), FileError);
}

// Root ignores modes: nobody owns the folder and the 0444 file.
TEST_F(SettingsFile, WriteProtectedSettingsAreRefusedAndKept) {
    if (!CanDropPrivileges()) GTEST_SKIP() << "needs root to switch accounts";
    const std::string original = "Options\r\n000010000005000\r\nPath\r\n---\r\n";
    WriteReadOnlyForNobody(original);
    const int result = RunAsUnprivileged([&] {
        PowerClass settings = Settings();
        try {
            settings.SetSetting("Path", "/elsewhere.tarn");
            return 1;
        } catch (const FileError& error) {
            if (error.path() != File()) return 2;
        }
        // Reading still works; an over-long value still serves this reader.
        return settings.GetSetting("Options") == "000010000005000" ? 0 : 3;
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Content(), original);
}

TEST_F(SettingsFile, FailedOptionsWriteBackIsHandedToTheCallerWhoAsks) {
    if (!CanDropPrivileges()) GTEST_SKIP() << "needs root to switch accounts";
    const std::string original = "Options\r\n1000100000050001777\r\n";
    WriteReadOnlyForNobody(original);
    const int result = RunAsUnprivileged([&] {
        PowerClass settings = Settings();
        if (settings.GetOptions() != "100010000005000") return 1;
        std::optional<FileError> failure;
        if (settings.GetOptions(&failure) != "100010000005000") return 2;
        return failure && failure->path() == File() ? 0 : 3;
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Content(), original);
}

TEST_F(SettingsFile, HasSettingNeedsTheKeyWithAValueLine) {
    Write("Path\r\n/p.tarn\r\nOptions");
    EXPECT_TRUE(Settings().HasSetting("Path"));
    EXPECT_FALSE(Settings().HasSetting("Options"));
    EXPECT_FALSE(Settings().HasSetting("Homepage"));
}

TEST_F(SettingsFile, FifoAndOversizedSettingsAreRefusedNamingTheFile) {
    ASSERT_EQ(::mkfifo(File().c_str(), 0600), 0);
    EXPECT_THROW(Settings().GetSetting("Path"), FileError);
    fs::remove(File());
    Write("Path\r\n" + std::string(kSetupFileSizeLimit, 'x') + "\r\n");
    try {
        Settings().GetSetting("Path");
        ADD_FAILURE() << "an oversized settings file was read";
    } catch (const FileError& error) {
        EXPECT_EQ(error.path(), File());
    }
}
