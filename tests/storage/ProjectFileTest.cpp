#include "storage/ProjectFile.h"

#include "sources/Entries.h"
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

namespace fs = std::filesystem;

namespace {

const std::string kHead = "Tarnwick Backup Project\r\n========================\r\n\r\n";

class ProjectFileTest : public ::testing::Test {
protected:
    std::string ProjectPath(const std::string& name = "p.tarn") const { return home.path() + "/" + name; }

    TempHome home;
};

BackupSetup EveryKindOfEntry() {
    BackupSetup setup;
    setup.entries = {"/home/ann/notes.txt",
                     FolderEntry("/home/ann/Data"),
                     FolderEntry("/home/ann/.cache") + "",
                     "/tmp/...",
                     ExceptionEntry("/home/ann/Data/big.iso"),
                     ExceptionEntry(FolderEntry("/home/ann/Data/Temp")),
                     "/home/ann/caf\xC3\xA9 \x80\xFF\xFE name.txt"};
    setup.destination = LocalDestination("/media/\xE9usb/Backups");
    setup.interval = 1 * 1440 + 2 * 60 + 3;
    setup.minutesRemaining = 17;
    setup.lastRun = "2015-03-01 09:05";
    return setup;
}

void ExpectSameStoredFields(const BackupSetup& loaded, const BackupSetup& written) {
    EXPECT_EQ(loaded.entries, written.entries);
    EXPECT_EQ(loaded.destination, written.destination);
    EXPECT_EQ(loaded.interval, written.interval);
    EXPECT_EQ(loaded.minutesRemaining, written.minutesRemaining);
    EXPECT_EQ(loaded.lastRun, written.lastRun);
}

TEST_F(ProjectFileTest, EveryEntryKindAndBothDestinationFormsRoundTrip) {
    for (const std::string& destination : {LocalDestination("/media/\xE9usb/Backups"),
                                           FtpDestination("ftp://host:21", "ann", "p\xE4ss", "up/dir")}) {
        BackupSetup written = EveryKindOfEntry();
        written.destination = destination;
        WriteProject(ProjectPath(), written);
        BackupSetup loaded;
        ASSERT_EQ(LoadProject(ProjectPath(), loaded), ProjectLoad::Loaded);
        ExpectSameStoredFields(loaded, written);
        EXPECT_EQ(loaded.daysText, "1");
        EXPECT_EQ(loaded.hoursText, "2");
        EXPECT_EQ(loaded.minutesText, "3");
    }
}

TEST_F(ProjectFileTest, WrittenFileHasTheExactLayoutAndMode0600) {
    BackupSetup setup;
    setup.destination = "/b/...";
    setup.interval = 1563;
    setup.minutesRemaining = -4;
    setup.entries = {"/a.txt", "/d/..."};
    WriteProject(ProjectPath(), setup);
    EXPECT_EQ(ReadTestFile(ProjectPath()), kHead + "/b/...\r\n1563\r\n-4\r\n\r\n/a.txt*/d/...*");
    struct stat status {};
    ASSERT_EQ(::stat(ProjectPath().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
}

TEST_F(ProjectFileTest, RewriteKeepsAStricterModeAndTightensALooserOne) {
    WriteTestFile(ProjectPath(), kHead);
    ::chmod(ProjectPath().c_str(), 0400);
    WriteProject(ProjectPath(), BackupSetup{});
    struct stat status {};
    ::stat(ProjectPath().c_str(), &status);
    EXPECT_EQ(status.st_mode & 0777, 0400u);
    ::chmod(ProjectPath().c_str(), 0644);
    WriteProject(ProjectPath(), BackupSetup{});
    ::stat(ProjectPath().c_str(), &status);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
}

TEST_F(ProjectFileTest, EmptyListEndsWithLineSevenAndLoadsEmpty) {
    BackupSetup setup;
    setup.destination = "/b/...";
    setup.lastRun = "2024-03-07 09:05";
    WriteProject(ProjectPath(), setup);
    EXPECT_EQ(ReadTestFile(ProjectPath()), kHead + "/b/...\r\n0\r\n0\r\n2024-03-07 09:05\r\n");
    BackupSetup loaded;
    loaded.entries = {"stale"};
    ASSERT_EQ(LoadProject(ProjectPath(), loaded), ProjectLoad::Loaded);
    EXPECT_TRUE(loaded.entries.empty());
}

TEST_F(ProjectFileTest, FirstStartResolvesToTheDocumentsFolderAndIsWrittenBack) {
    WriteTestFile(ProjectPath(), kHead + "FirstStart\r\n1440\r\n1440\r\n\r\n");
    BackupSetup loaded;
    ASSERT_EQ(LoadProject(ProjectPath(), loaded), ProjectLoad::Loaded);
    const std::string folder = home.DocumentsFolder() + "/Tarnwick Backup Folder";
    EXPECT_EQ(loaded.destination, folder + "/...");
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(ReadTestFile(ProjectPath()), kHead + folder + "/...\r\n1440\r\n1440\r\n\r\n");
    // Loading again finds the folder there already.
    ASSERT_EQ(LoadProject(ProjectPath(), loaded), ProjectLoad::Loaded);
    EXPECT_EQ(loaded.destination, folder + "/...");
}

TEST_F(ProjectFileTest, FailingWriteLeavesTheOldProjectWholeAndNamesTheFile) {
    WriteProject(ProjectPath(), EveryKindOfEntry());
    const std::string before = ReadTestFile(ProjectPath());
    BackupSetup huge = EveryKindOfEntry();
    huge.entries.assign(2000, std::string(100, 'e'));
    try {
        FileSizeLimit limit(8192);
        WriteProject(ProjectPath(), huge);
        FAIL() << "the write should have failed";
    } catch (const FileError& error) {
        EXPECT_EQ(error.path(), ProjectPath());
    }
    EXPECT_EQ(ReadTestFile(ProjectPath()), before);
    for (const auto& item : fs::directory_iterator(home.path()))
        EXPECT_FALSE(item.path().filename().string().starts_with(".p.tarn")) << "temporary file left behind";
}

TEST_F(ProjectFileTest, TextsTheFileCannotHoldAreRefusedBeforeWriting) {
    EXPECT_TRUE(WhyEntryNotStorable("/a*b"));
    EXPECT_TRUE(WhyEntryNotStorable("/a\nb"));
    EXPECT_TRUE(WhyEntryNotStorable("/a\rb"));
    EXPECT_FALSE(WhyEntryNotStorable("/caf\xC3\xA9/..."));
    EXPECT_TRUE(WhyDestinationNotStorable("/a\n/..."));
    EXPECT_FALSE(WhyDestinationNotStorable("/a*/..."));

    WriteProject(ProjectPath(), EveryKindOfEntry());
    const std::string before = ReadTestFile(ProjectPath());
    BackupSetup bad = EveryKindOfEntry();
    bad.entries.push_back("/x*y");
    EXPECT_THROW(WriteProject(ProjectPath(), bad), FileError);
    bad = EveryKindOfEntry();
    bad.destination = "/x\n/...";
    EXPECT_THROW(WriteProject(ProjectPath(), bad), FileError);
    EXPECT_EQ(ReadTestFile(ProjectPath()), before);
}

TEST_F(ProjectFileTest, FilesWithoutTheHeaderAreNeitherLoadedNorWritten) {
    for (const std::string& content :
         {std::string(), std::string("tarnwick backup project\r\n"),
          std::string("TARNWICK BACKUP PROJECT\r\n=\r\n\r\n/x/...\r\n5\r\n5\r\n\r\na*"),
          std::string("\xEF\xBB\xBFTarnwick Backup Project\r\n"),
          std::string(" Tarnwick Backup Project\r\n")}) {
        WriteTestFile(ProjectPath(), content);
        BackupSetup setup = EveryKindOfEntry();
        EXPECT_EQ(LoadProject(ProjectPath(), setup), ProjectLoad::NotAProject);
        ExpectSameStoredFields(setup, EveryKindOfEntry());
        EXPECT_EQ(ReadTestFile(ProjectPath()), content);
    }
}

TEST_F(ProjectFileTest, MissingLinesReadEmptyAndLinesAreReadLeniently) {
    struct Case {
        std::string content;
        std::string destination;
        int interval;
        int remaining;
        std::vector<std::string> entries;
    };
    const std::vector<Case> cases = {
        {"Tarnwick Backup Project", "", 0, 0, {}},
        {"Tarnwick Backup Project\r\n", "", 0, 0, {}},
        {kHead + "/d/...", "/d/...", 0, 0, {}},
        {kHead + "/d/...\r\n12a\r\n", "/d/...", 120, 0, {}},
        {kHead + "/d/...\n90\r\n7\n\r\n/a*/b/...*", "/d/...", 90, 7, {"/a", "/b/..."}},
        {"Tarnwick Backup Project\n==\n\n/d/...\n1\n2\n\n/a*", "/d/...", 1, 2, {"/a"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content);
        WriteTestFile(ProjectPath(), c.content);
        BackupSetup loaded = EveryKindOfEntry();
        ASSERT_EQ(LoadProject(ProjectPath(), loaded), ProjectLoad::Loaded);
        EXPECT_EQ(loaded.destination, c.destination);
        EXPECT_EQ(loaded.interval, c.interval);
        EXPECT_EQ(loaded.minutesRemaining, c.remaining);
        EXPECT_EQ(loaded.lastRun, "");
        EXPECT_EQ(loaded.entries, c.entries);
        // Written back normalised: loading the result changes nothing.
        const std::string normalised = ReadTestFile(ProjectPath());
        EXPECT_TRUE(normalised.starts_with(kHead));
        BackupSetup again;
        LoadProject(ProjectPath(), again);
        ExpectSameStoredFields(again, loaded);
        EXPECT_EQ(ReadTestFile(ProjectPath()), normalised);
    }
}

TEST_F(ProjectFileTest, IntervalIsSplitIntoTheThreeBoxes) {
    WriteTestFile(ProjectPath(), kHead + "/d/...\r\n12a\r\n");
    BackupSetup loaded;
    LoadProject(ProjectPath(), loaded);
    EXPECT_EQ(loaded.daysText, "0");
    EXPECT_EQ(loaded.hoursText, "2");
    EXPECT_EQ(loaded.minutesText, "0");
    WriteTestFile(ProjectPath(), kHead + "/d/...\r\n4321\r\n");
    LoadProject(ProjectPath(), loaded);
    EXPECT_EQ(loaded.daysText, "3");
    EXPECT_EQ(loaded.hoursText, "0");
    EXPECT_EQ(loaded.minutesText, "1");
}

TEST_F(ProjectFileTest, TextAfterTheLastStarIsKeptAsAnEntry) {
    for (const auto& [line, entries] : std::vector<std::pair<std::string, std::vector<std::string>>>{
             {"/a*/b", {"/a", "/b"}},
             {"/a*x", {"/a", "x"}},
             {"x", {"x"}},
             {"/a**", {"/a"}},
             {"*", {}},
             {"**", {}},
             {"*/a***/b", {"/a", "/b"}},
             {"/a*/b*\r\nline nine*", {"/a", "/b"}}}) {
        SCOPED_TRACE(line);
        WriteTestFile(ProjectPath(), kHead + "/d/...\r\n0\r\n0\r\n\r\n" + line);
        BackupSetup loaded;
        LoadProject(ProjectPath(), loaded);
        EXPECT_EQ(loaded.entries, entries);
    }
}

TEST_F(ProjectFileTest, ManyEntriesAndAHugeEntryLineLoadInOnePass) {
    BackupSetup many;
    many.destination = "/d/...";
    for (int i = 0; i < 100000; ++i) many.entries.push_back("/home/ann/file" + std::to_string(i));
    WriteProject(ProjectPath(), many);
    BackupSetup loaded;
    ASSERT_EQ(LoadProject(ProjectPath(), loaded), ProjectLoad::Loaded);
    EXPECT_EQ(loaded.entries, many.entries);

    // Line 8 just below the size limit: a loader that cuts entries off the front
    // one at a time would copy the line about 80,000 times and never finish.
    const std::string entry = "/" + std::string(98, 'h');
    std::string line;
    std::size_t count = 0;
    for (; line.size() + entry.size() + 200 < kSetupFileSizeLimit; ++count) line += entry + "*";
    WriteTestFile(ProjectPath(), kHead + "/d/...\r\n0\r\n0\r\n\r\n" + line);
    ASSERT_EQ(LoadProject(ProjectPath(), loaded), ProjectLoad::Loaded);
    EXPECT_EQ(loaded.entries.size(), count);
    EXPECT_EQ(loaded.entries.back(), entry);
}

TEST_F(ProjectFileTest, MissingFileIsNotCreated) {
    BackupSetup setup = EveryKindOfEntry();
    EXPECT_EQ(LoadProject(ProjectPath("none.tarn"), setup), ProjectLoad::Missing);
    EXPECT_FALSE(fs::exists(ProjectPath("none.tarn")));
    ExpectSameStoredFields(setup, EveryKindOfEntry());
}

TEST_F(ProjectFileTest, ProjectFileThatIsAFolderIsAFileError) {
    fs::create_directory(ProjectPath("folder.tarn"));
    BackupSetup setup;
    EXPECT_THROW(LoadProject(ProjectPath("folder.tarn"), setup), FileError);
    try {
        WriteProject(ProjectPath("folder.tarn"), setup);
        FAIL() << "writing over a folder should fail";
    } catch (const FileError& error) {
        EXPECT_EQ(error.path(), ProjectPath("folder.tarn"));
    }
    EXPECT_TRUE(fs::is_directory(ProjectPath("folder.tarn")));
}

TEST_F(ProjectFileTest, OpenSwitchesTheCurrentProjectOnlyToProjectsAndNewNames) {
    BackupSetup setup;
    setup.currentProjectFile = ProjectPath("current.tarn");
    WriteTestFile(ProjectPath("notes.txt"), "shopping list\r\n");
    EXPECT_EQ(OpenProject(ProjectPath("notes.txt"), setup), ProjectLoad::NotAProject);
    EXPECT_EQ(setup.currentProjectFile, ProjectPath("current.tarn"));
    EXPECT_EQ(ReadTestFile(ProjectPath("notes.txt")), "shopping list\r\n");

    EXPECT_EQ(OpenProject(ProjectPath("new.tarn"), setup), ProjectLoad::Missing);
    EXPECT_EQ(setup.currentProjectFile, ProjectPath("new.tarn"));

    WriteProject(ProjectPath("other.tarn"), EveryKindOfEntry());
    EXPECT_EQ(OpenProject(ProjectPath("other.tarn"), setup), ProjectLoad::Loaded);
    EXPECT_EQ(setup.currentProjectFile, ProjectPath("other.tarn"));
    ExpectSameStoredFields(setup, EveryKindOfEntry());
}

// The opened project lies in a folder nobody may write; nobody opens it.
class OpenReadOnlyTest : public ProjectFileTest {
protected:
    OpenReadOnlyTest() {
        ::chmod(home.path().c_str(), 0755);
        fs::create_directories(Folder());
        ::chmod(Folder().c_str(), 0755);
        WriteProject(Current(), EveryKindOfEntry());
        GiveTreeTo(Current(), NobodyAccount());
    }
    std::string Folder() const { return home.path() + "/readonly"; }
    std::string Current() const { return home.path() + "/current.tarn"; }
    // A project nobody may read but whose folder nobody may not write.
    std::string Opened(const std::string& bytes) const {
        const std::string path = Folder() + "/opened.tarn";
        WriteTestFile(path, bytes);
        GiveTreeTo(path, NobodyAccount());
        ::chmod(path.c_str(), 0600);
        return path;
    }
    // 0 when OpenProject as nobody gave expected and left the set-up as required.
    int OpenAsNobody(const std::string& path, bool expectOpened) {
        return RunAsUnprivileged([&] {
            BackupSetup setup = EveryKindOfEntry();
            setup.currentProjectFile = Current();
            try {
                if (OpenProject(path, setup) != ProjectLoad::Loaded) return 1;
                if (!expectOpened) return 2;
                return setup.currentProjectFile == path && setup.destination == "/opened/..." ? 0 : 3;
            } catch (const FileError& error) {
                if (expectOpened || error.path() != path) return 4;
                // Nothing changed: the next save still writes the current project.
                const BackupSetup original = EveryKindOfEntry();
                return setup.currentProjectFile == Current() && setup.entries == original.entries &&
                               setup.destination == original.destination
                           ? 0
                           : 5;
            }
        });
    }
};

TEST_F(OpenReadOnlyTest, OpenIsAllOrNothingWhenTheWriteBackFails) {
    if (!CanDropPrivileges()) GTEST_SKIP() << "needs root to switch accounts";
    // LF line ends: the normalised write-back is needed and cannot be made.
    const std::string unnormalised = "Tarnwick Backup Project\n==\n\n/opened/...\n5\n5\n\n/o*";
    const std::string path = Opened(unnormalised);
    EXPECT_EQ(OpenAsNobody(path, false), 0);
    EXPECT_EQ(ReadTestFile(path), unnormalised);
    BackupSetup current;
    ASSERT_EQ(ReadProject(Current(), current), ProjectLoad::Loaded);
    ExpectSameStoredFields(current, EveryKindOfEntry());
}

TEST_F(OpenReadOnlyTest, ProjectAlreadyInItsLayoutOpensWithoutAWrite) {
    if (!CanDropPrivileges()) GTEST_SKIP() << "needs root to switch accounts";
    BackupSetup opened;
    opened.destination = "/opened/...";
    opened.entries = {"/o"};
    WriteProject(home.path() + "/layout.tarn", opened);
    const std::string bytes = ReadTestFile(home.path() + "/layout.tarn");
    const std::string path = Opened(bytes);
    EXPECT_EQ(OpenAsNobody(path, true), 0);
    EXPECT_EQ(ReadTestFile(path), bytes);
}

TEST_F(ProjectFileTest, LinesAfterTheEntryLineKeepTheFileAsItIs) {
    const std::string handEdited = kHead + "/d/...\n5\n5\n\n/a*\n/b*\n";
    WriteTestFile(ProjectPath(), handEdited);
    BackupSetup loaded;
    ASSERT_EQ(LoadProject(ProjectPath(), loaded), ProjectLoad::Loaded);
    EXPECT_EQ(loaded.entries, std::vector<std::string>{"/a"});
    EXPECT_EQ(ReadTestFile(ProjectPath()), handEdited);
}

TEST_F(ProjectFileTest, NonRegularAndOversizedProjectsAreRefusedUnchanged) {
    const std::string fifo = ProjectPath("fifo.tarn");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    BackupSetup setup = EveryKindOfEntry();
    EXPECT_THROW(LoadProject(fifo, setup), FileError);
    EXPECT_THROW(LoadProject("/dev/zero", setup), FileError);
    const std::string oversized = kHead + "/d/...\r\n0\r\n0\r\n\r\n" + std::string(10'000'000, 'x');
    WriteTestFile(ProjectPath(), oversized);
    try {
        LoadProject(ProjectPath(), setup);
        ADD_FAILURE() << "an oversized project was loaded";
    } catch (const FileError& error) {
        EXPECT_EQ(error.path(), ProjectPath());
    }
    ExpectSameStoredFields(setup, EveryKindOfEntry());
    EXPECT_EQ(ReadTestFile(ProjectPath()), oversized);
}

TEST_F(ProjectFileTest, RunStateIsSavedOverTheFileAsItIsNow) {
    WriteProject(ProjectPath(), EveryKindOfEntry());
    // Edited meanwhile: new destination and entries, LF line ends, no last run.
    const std::string edited = "Tarnwick Backup Project\n==\n\n/edited/...\n60\n3\n\n/new*/other/...*";
    WriteTestFile(ProjectPath(), edited);
    SaveRunStateToProject(ProjectPath(), 60, "2026-12-09 10:00");
    EXPECT_EQ(ReadTestFile(ProjectPath()),
              "Tarnwick Backup Project\n==\n\n/edited/...\n60\n60\r\n2026-12-09 10:00\r\n/new*/other/...*");

    // Lines missing from a short project are added empty.
    WriteTestFile(ProjectPath(), "Tarnwick Backup Project\r\n");
    SaveRunStateToProject(ProjectPath(), 5, "2026-12-09 10:01");
    BackupSetup loaded;
    ASSERT_EQ(ReadProject(ProjectPath(), loaded), ProjectLoad::Loaded);
    EXPECT_EQ(loaded.minutesRemaining, 5);
    EXPECT_EQ(loaded.lastRun, "2026-12-09 10:01");

    // Gone or no longer a project: an error, and nothing is created or replaced.
    WriteTestFile(ProjectPath(), "shopping list\r\n");
    EXPECT_THROW(SaveRunStateToProject(ProjectPath(), 5, "2026-12-09 10:02"), FileError);
    EXPECT_EQ(ReadTestFile(ProjectPath()), "shopping list\r\n");
    EXPECT_THROW(SaveRunStateToProject(ProjectPath("gone.tarn"), 5, "2026-12-09 10:02"), FileError);
    EXPECT_FALSE(fs::exists(ProjectPath("gone.tarn")));
}

class SaveAsTest : public ProjectFileTest {
protected:
    // A settings file of its own whose "Path" names the default project.
    PowerClass SettingsWithDefaultProject(const std::string& defaultProject) {
        const std::string programFolder = home.path() + "/program";
        fs::create_directories(programFolder);
        WriteTestFile(
            programFolder + "/config.ini",
            "Product ID\r\nTarnwickBackup\r\nVersion\r\n7.00\r\nPath\r\n" + defaultProject + "\r\n");
        PowerClass settings(programFolder);
        settings.ResolveSettingsFile();
        return settings;
    }
};

TEST_F(SaveAsTest, CopiesTheDefaultProjectNotTheOpenedOne) {
    BackupSetup defaultSetup = EveryKindOfEntry();
    WriteProject(ProjectPath("default.tarn"), defaultSetup);
    BackupSetup opened;
    opened.destination = "/opened/...";
    WriteProject(ProjectPath("opened.tarn"), opened);
    PowerClass settings = SettingsWithDefaultProject(ProjectPath("default.tarn"));

    SaveProjectAs(settings, ProjectPath("copy \xE9.tarn"));
    EXPECT_EQ(ReadTestFile(ProjectPath("copy \xE9.tarn")), ReadTestFile(ProjectPath("default.tarn")));
}

TEST_F(SaveAsTest, MissingDefaultProjectCopiesNothingAndSaysSo) {
    PowerClass settings = SettingsWithDefaultProject(ProjectPath("gone.tarn"));
    try {
        SaveProjectAs(settings, ProjectPath("copy.tarn"));
        ADD_FAILURE() << "a save-as without a default project must not pass for saved";
    } catch (const FileError& error) {
        EXPECT_EQ(error.path(), ProjectPath("gone.tarn"));
    }
    EXPECT_FALSE(fs::exists(ProjectPath("copy.tarn")));
}

TEST_F(SaveAsTest, FailedCopyNamesTheChosenFile) {
    WriteProject(ProjectPath("default.tarn"), EveryKindOfEntry());
    PowerClass settings = SettingsWithDefaultProject(ProjectPath("default.tarn"));
    WriteTestFile(ProjectPath("blocker"), "a file where a folder must be");
    try {
        SaveProjectAs(settings, ProjectPath("blocker/copy.tarn"));
        FAIL() << "the copy should have failed";
    } catch (const FileError& error) {
        EXPECT_EQ(error.path(), ProjectPath("blocker/copy.tarn"));
    }
}

}  // namespace
