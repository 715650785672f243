#include "EntryWindowDouble.h"
#include "ScriptedDialogs.h"
#include "entries/CAddFtp.h"
#include "entries/CAddSpecialFolder.h"
#include "entries/CWhatFolderType.h"
#include "entries/DialogText.h"
#include "entries/EntryCommands.h"
#include "platform/XdgFolders.h"
#include "support/TempHome.h"
#include "util/SafeFormat.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

// Readable failures for Qt strings.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

using Strings = std::vector<std::string>;

// Entries as the project file holds them: the last line, "*" after each.
Strings ProjectEntries(const std::string& projectFile) {
    const std::string bytes = ReadTestFile(projectFile);
    std::string line = bytes.substr(bytes.rfind('\n') + 1);
    Strings entries;
    for (std::size_t star; (star = line.find('*')) != std::string::npos; line.erase(0, star + 1))
        entries.push_back(line.substr(0, star));
    return entries;
}

// Line 4 of the project file.
std::string ProjectDestination(const std::string& projectFile) {
    std::string bytes = ReadTestFile(projectFile);
    for (int line = 0; line < 3; ++line) bytes.erase(0, bytes.find('\n') + 1);
    std::string destination = bytes.substr(0, bytes.find('\n'));
    if (!destination.empty() && destination.back() == '\r') destination.pop_back();
    return destination;
}

template <typename Widget>
Widget& Child(QDialog& dialog, const char* name) {
    auto* widget = dialog.findChild<Widget*>(QString::fromLatin1(name));
    if (widget == nullptr) throw std::runtime_error(std::string("no widget ") + name);
    return *widget;
}

void Click(QDialog& dialog, const char* button) {
    Child<QPushButton>(dialog, button).click();
}

struct FtpFields {
    QString server, user, password, folder;
};

void FillFtpFields(QDialog& dialog, const FtpFields& fields) {
    Child<QLineEdit>(dialog, "serverEdit").setText(fields.server);
    Child<QLineEdit>(dialog, "userEdit").setText(fields.user);
    Child<QLineEdit>(dialog, "passwordEdit").setText(fields.password);
    Child<QLineEdit>(dialog, "folderEdit").setText(fields.folder);
}

class EntryCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        texts.Load();
        project = work.path() + "/current.tarn";
        window = std::make_unique<EntryWindowDouble>(project, project);
        commands = std::make_unique<EntryCommands>(*window, dialogs, texts);
    }

    QString Text(TextId id) const { return QString::fromUtf8(texts.GetText(id)); }
    std::string File(const std::string& name) const { return work.path() + "/" + name; }

    void ExpectNothingSaved(const std::string& before) {
        EXPECT_EQ(ReadTestFile(project), before);
        EXPECT_EQ(window->saves, 0);
    }

    TempHome home;
    TempFolder work;
    CTranslation texts{BinFolder()};
    ScriptedDialogs dialogs;
    std::string project;
    std::unique_ptr<EntryWindowDouble> window;
    std::unique_ptr<EntryCommands> commands;
};

// --- Add File, Add File Exception ------------------------------------------------

TEST_F(EntryCommandsTest, AddsSeveralFilesAtOnceInTheirOrderAndSavesThem) {
    dialogs.openFilesAnswers.push_back(
        {QString::fromStdString(File("b.txt")), QString::fromStdString(File("a.txt"))});
    commands->AddFiles();

    ASSERT_EQ(dialogs.openFileRequests.size(), 1u);
    EXPECT_EQ(dialogs.openFileRequests[0].filter, "All files (*)");
    EXPECT_TRUE(dialogs.openFileRequests[0].several);
    const Strings expected = {File("b.txt"), File("a.txt")};
    EXPECT_EQ(window->setup.entries, expected);
    EXPECT_EQ(window->RowTexts(), expected);
    EXPECT_EQ(ProjectEntries(project), expected);
    EXPECT_EQ(window->scrolls, 0);
}

TEST_F(EntryCommandsTest, TheSameFileTwiceGivesTwoEntries) {
    for (int i = 0; i < 2; ++i) {
        dialogs.openFilesAnswers.push_back({QString::fromStdString(File("same.txt"))});
        commands->AddFiles();
    }
    const Strings expected = {File("same.txt"), File("same.txt")};
    EXPECT_EQ(window->RowTexts(), expected);
    EXPECT_EQ(ProjectEntries(project), expected);
}

TEST_F(EntryCommandsTest, FileExceptionsCarryTheMinusAndKeepUtf8Names) {
    const std::string name = File("Caf\xc3\xa9 \xe2\x82\xac.txt");
    dialogs.openFilesAnswers.push_back({QString::fromUtf8(name)});
    commands->AddFileExceptions();
    EXPECT_EQ(ProjectEntries(project), Strings{"-" + name});
    EXPECT_EQ(window->RowTexts(), Strings{"-" + name});
}

TEST_F(EntryCommandsTest, AFileNameTheProjectCannotHoldIsRefusedAndTheOthersAreAdded) {
    const std::string star = File("bad*name.txt");
    const std::string lineBreak = File("two\nlines.txt");
    dialogs.openFilesAnswers.push_back({QString::fromStdString(File("one.txt")), QString::fromStdString(star),
                                        QString::fromStdString(lineBreak),
                                        QString::fromStdString(File("two.txt"))});
    commands->AddFiles();

    const Strings expected = {File("one.txt"), File("two.txt")};
    EXPECT_EQ(window->RowTexts(), expected);
    EXPECT_EQ(ProjectEntries(project), expected);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.messages[0].text.contains(QString::fromStdString(star)));
    EXPECT_TRUE(dialogs.messages[0].text.contains(QString::fromStdString(lineBreak)));
    EXPECT_EQ(dialogs.messages[0].caption, Text(TextId::MessageCaption));
}

TEST_F(EntryCommandsTest, OnlyUnstorableFilesChangeAndSaveNothing) {
    const std::string before = ReadTestFile(project);
    dialogs.openFilesAnswers.push_back({QString::fromStdString(File("x*y"))});
    commands->AddFiles();
    ExpectNothingSaved(before);
    EXPECT_TRUE(window->setup.entries.empty());
    EXPECT_EQ(dialogs.messages.size(), 1u);
}

// --- Add Folder, Add Folder Exception --------------------------------------------

TEST_F(EntryCommandsTest, AddsAFolderWithItsTitleAndScrollsToIt) {
    dialogs.openFilesAnswers.push_back({QString::fromStdString(File("first.txt"))});
    commands->AddFiles();
    dialogs.browseFolderAnswers.push_back(QString::fromStdString(File("Data")));
    commands->AddFolder();

    ASSERT_EQ(dialogs.browseFolderTitles.size(), 1u);
    EXPECT_EQ(dialogs.browseFolderTitles[0], Text(TextId::ChooseFolderTitle));
    EXPECT_EQ(ProjectEntries(project), (Strings{File("first.txt"), File("Data") + "/..."}));
    EXPECT_EQ(window->scrolls, 1);
}

// The root keeps its own "/", so its entry folder name is "_" and not empty.
TEST_F(EntryCommandsTest, TheRootFolderGivesTwoSeparatorsBeforeTheDots) {
    dialogs.browseFolderAnswers.push_back(QStringLiteral("/"));
    commands->AddFolder();
    dialogs.browseFolderAnswers.push_back(QStringLiteral("/"));
    commands->AddFolderException();
    EXPECT_EQ(ProjectEntries(project), (Strings{"//...", "-//..."}));
}

TEST_F(EntryCommandsTest, FolderExceptionsUseTheirOwnTitle) {
    dialogs.browseFolderAnswers.push_back(QString::fromStdString(File("Skip me")));
    commands->AddFolderException();
    ASSERT_EQ(dialogs.browseFolderTitles.size(), 1u);
    EXPECT_EQ(dialogs.browseFolderTitles[0], Text(TextId::ChooseExceptionFolderTitle));
    EXPECT_EQ(ProjectEntries(project), Strings{"-" + File("Skip me") + "/..."});
    EXPECT_EQ(window->RowTexts(), Strings{"-" + File("Skip me") + "/..."});
}

TEST_F(EntryCommandsTest, FoldersTheProjectCannotHoldAreRefusedByName) {
    const std::string before = ReadTestFile(project);
    dialogs.browseFolderAnswers.push_back(QStringLiteral("/data/a*b"));
    commands->AddFolder();
    dialogs.dialogScripts.push_back([](QDialog& dialog) { Click(dialog, "okButton"); });
    dialogs.browseFolderAnswers.push_back(QStringLiteral("/data/two\nlines"));
    commands->BrowseDestination();

    ExpectNothingSaved(before);
    EXPECT_EQ(window->list->count(), 0);
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_TRUE(dialogs.messages[0].text.contains(QStringLiteral("/data/a*b")));
    EXPECT_TRUE(dialogs.messages[1].text.contains(QStringLiteral("/data/two\nlines")));
}

// --- Add Special Folder ----------------------------------------------------------

TEST_F(EntryCommandsTest, TheTemporaryFilesChoiceAddsTheUsersAndTheSystemsFolder) {
    home.SetEnv("TMPDIR", home.path());
    dialogs.dialogScripts.push_back([](QDialog& dialog) {
        Child<QComboBox>(dialog, "specialFolderCombo").setCurrentIndex(5);
        Click(dialog, "okButton");
    });
    commands->AddSpecialFolder();

    const Strings expected = {home.path() + "/...", "/tmp/..."};
    EXPECT_EQ(window->RowTexts(), expected);
    EXPECT_EQ(ProjectEntries(project), expected);
    EXPECT_EQ(window->scrolls, 2);
    EXPECT_EQ(window->pulls, 1);
    EXPECT_EQ(dialogs.dialogsRun, std::vector<QString>{"CAddSpecialFolder"});
}

TEST_F(EntryCommandsTest, ASpecialFolderOpensOnDocumentsAndAddsOneEntry) {
    dialogs.dialogScripts.push_back([this](QDialog& dialog) {
        auto& combo = Child<QComboBox>(dialog, "specialFolderCombo");
        EXPECT_EQ(combo.count(), 7);
        EXPECT_EQ(combo.currentIndex(), 0);
        EXPECT_EQ(combo.currentText(), Text(TextId::SpecialDocuments));
        EXPECT_EQ(combo.itemText(6), Text(TextId::SpecialFonts));
        Click(dialog, "okButton");
    });
    commands->AddSpecialFolder();
    EXPECT_EQ(ProjectEntries(project), Strings{home.DocumentsFolder() + "/..."});
}

TEST_F(EntryCommandsTest, TextTypedIntoTheSpecialFolderBoxAddsNothing) {
    const std::string before = ReadTestFile(project);
    dialogs.dialogScripts.push_back([](QDialog& dialog) {
        Child<QComboBox>(dialog, "specialFolderCombo").setEditText(QStringLiteral("My own folder"));
        Click(dialog, "okButton");
    });
    commands->AddSpecialFolder();
    ExpectNothingSaved(before);
    EXPECT_EQ(window->list->count(), 0);
}

// --- Remove Entry ----------------------------------------------------------------

TEST_F(EntryCommandsTest, RemovesEverySelectedRowAndKeepsArrayAndRowsAligned) {
    dialogs.openFilesAnswers.push_back({"/a", "/b", "/c", "/d", "/e"});
    commands->AddFiles();
    window->SelectRows({1, 3, 4});
    commands->RemoveEntries();

    const Strings expected = {"/a", "/c"};
    EXPECT_EQ(window->setup.entries, expected);
    EXPECT_EQ(window->RowTexts(), expected);
    EXPECT_EQ(ProjectEntries(project), expected);
    EXPECT_EQ(window->reinitializations, 0);
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(EntryCommandsTest, RemovingWithoutASelectionMarkSaysSoAndChangesNothing) {
    dialogs.openFilesAnswers.push_back({"/a"});
    commands->AddFiles();
    const std::string before = ReadTestFile(project);
    window->saves = 0;

    commands->RemoveEntries();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, Text(TextId::NoEntrySelected));
    EXPECT_EQ(dialogs.messages[0].caption, Text(TextId::MessageCaption));
    ExpectNothingSaved(before);
    EXPECT_EQ(window->RowTexts(), Strings{"/a"});
    EXPECT_EQ(window->reinitializations, 0);
}

TEST_F(EntryCommandsTest, ASelectionMarkWithoutSelectedRowsRemovesNothingButSaves) {
    dialogs.openFilesAnswers.push_back({"/a", "/b"});
    commands->AddFiles();
    window->list->setCurrentRow(1);
    window->list->clearSelection();
    window->saves = 0;

    commands->RemoveEntries();
    EXPECT_EQ(window->RowTexts(), (Strings{"/a", "/b"}));
    EXPECT_EQ(window->saves, 1);
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(EntryCommandsTest, RemovingTheLastEntryReinitialisesWithTheDefaultProject) {
    // Another project is open; the default one is loaded afterwards.
    const std::string defaultProject = File("default.tarn");
    {
        EntryWindowDouble defaultWindow(defaultProject, defaultProject);
        defaultWindow.setup.entries = {"/kept/in/default"};
        defaultWindow.SaveCurrentProject();
    }
    window->defaultProject = defaultProject;
    dialogs.openFilesAnswers.push_back({"/only"});
    commands->AddFiles();
    window->SelectRows({0});

    commands->RemoveEntries();
    EXPECT_TRUE(ProjectEntries(project).empty());
    EXPECT_EQ(window->reinitializations, 1);
    EXPECT_EQ(window->setup.currentProjectFile, defaultProject);
    EXPECT_EQ(window->RowTexts(), Strings{"/kept/in/default"});
}

TEST_F(EntryCommandsTest, RemovingFromAnEmptyListStillReinitialises) {
    commands->RemoveEntries();
    EXPECT_EQ(dialogs.MessageTexts(), QStringList{Text(TextId::NoEntrySelected)});
    EXPECT_EQ(window->reinitializations, 1);
}

// --- Browse ----------------------------------------------------------------------

TEST_F(EntryCommandsTest, BrowseToALocalFolder) {
    dialogs.dialogScripts.push_back([this](QDialog& dialog) {
        EXPECT_EQ(dialog.objectName(), "CWhatFolderType");
        EXPECT_EQ(Child<QLabel>(dialog, "infoLine1").text(), Text(TextId::FolderTypeInfo1));
        EXPECT_EQ(Child<QLabel>(dialog, "infoLine2").text(), Text(TextId::FolderTypeInfo2));
        EXPECT_TRUE(Child<QRadioButton>(dialog, "localFolderRadio").isChecked());
        Click(dialog, "okButton");
    });
    dialogs.browseFolderAnswers.push_back(QString::fromStdString(File("Backups")));
    commands->BrowseDestination();

    ASSERT_EQ(dialogs.browseFolderTitles.size(), 1u);
    EXPECT_EQ(dialogs.browseFolderTitles[0], Text(TextId::ChooseFolderTitle));
    EXPECT_EQ(window->setup.destination, File("Backups") + "/...");
    EXPECT_EQ(ProjectDestination(project), File("Backups") + "/...");
    EXPECT_EQ(window->destinationBox->text().toStdString(), File("Backups") + "/...");
    EXPECT_EQ(window->pushes, 1);
    EXPECT_EQ(window->reinitializations, 0);
}

TEST_F(EntryCommandsTest, BrowseToAnFtpFolderStoresAllFourFieldsAndReinitialises) {
    dialogs.dialogScripts.push_back([](QDialog& dialog) {
        Child<QRadioButton>(dialog, "ftpFolderRadio").setChecked(true);
        Click(dialog, "okButton");
    });
    dialogs.dialogScripts.push_back([](QDialog& dialog) {
        EXPECT_EQ(dialog.objectName(), "CAddFtp");
        EXPECT_TRUE(Child<QLineEdit>(dialog, "serverEdit").text().isEmpty());
        EXPECT_EQ(Child<QLineEdit>(dialog, "passwordEdit").echoMode(), QLineEdit::Password);
        FillFtpFields(dialog, {"ftp://files.example:2121", "ann", "s3cret!", "uploadedfiles/sub"});
        Click(dialog, "okButton");
    });
    commands->BrowseDestination();

    // A new destination is in passive mode.
    const std::string expected = "ftp://files.example:2121/...@!@passive@!@ann@!@s3cret!@!@uploadedfiles/sub";
    EXPECT_EQ(ProjectDestination(project), expected);
    EXPECT_EQ(window->setup.destination, expected);
    EXPECT_EQ(window->reinitializations, 1);
    EXPECT_EQ(window->destinationBox->text(), "ftp://files.example:2121/uploadedfiles/sub");
}

TEST_F(EntryCommandsTest, AnFtpDestinationGoesIntoTheOpenProjectAndTheDefaultIsShownAfterwards) {
    const std::string defaultProject = File("default.tarn");
    {
        EntryWindowDouble defaultWindow(defaultProject, defaultProject);
        defaultWindow.setup.destination = "/default/target/...";
        defaultWindow.SaveCurrentProject();
    }
    window->defaultProject = defaultProject;
    dialogs.dialogScripts.push_back([](QDialog& dialog) {
        Child<QRadioButton>(dialog, "ftpFolderRadio").setChecked(true);
        Click(dialog, "okButton");
    });
    dialogs.dialogScripts.push_back([](QDialog& dialog) {
        FillFtpFields(dialog, {"ftp://host", "", "", ""});
        Click(dialog, "okButton");
    });
    commands->BrowseDestination();

    EXPECT_EQ(ProjectDestination(project), "ftp://host/...@!@passive@!@@!@@!@");
    EXPECT_EQ(window->setup.currentProjectFile, defaultProject);
    EXPECT_EQ(window->destinationBox->text(), "/default/target/...");
}

// Every cancel leaves the set-up and the project file as they were.
TEST_F(EntryCommandsTest, EveryCancelChangesAndSavesNothing) {
    dialogs.openFilesAnswers.push_back({"/a"});
    commands->AddFiles();
    window->destinationBox->setText(QStringLiteral("unchanged"));
    const std::string before = ReadTestFile(project);
    const BackupSetup setupBefore = window->setup;
    window->saves = 0;
    window->pushes = 0;

    commands->AddFiles();            // file dialog cancelled
    commands->AddFileExceptions();   // file dialog cancelled
    commands->AddFolder();           // folder browser cancelled
    commands->AddFolderException();  // folder browser cancelled
    dialogs.dialogScripts.push_back([](QDialog& dialog) { Click(dialog, "cancelButton"); });
    commands->AddSpecialFolder();
    dialogs.dialogScripts.push_back([](QDialog& dialog) { Click(dialog, "cancelButton"); });
    commands->BrowseDestination();  // folder type cancelled
    dialogs.dialogScripts.push_back([](QDialog& dialog) { Click(dialog, "okButton"); });
    commands->BrowseDestination();  // local folder chosen, browser cancelled
    dialogs.dialogScripts.push_back([](QDialog& dialog) {
        Child<QRadioButton>(dialog, "ftpFolderRadio").setChecked(true);
        Click(dialog, "okButton");
    });
    dialogs.dialogScripts.push_back([](QDialog& dialog) {
        FillFtpFields(dialog, {"ftp://host", "u", "p", "f"});
        Click(dialog, "cancelButton");
    });
    commands->BrowseDestination();  // FTP dialog cancelled after typing

    ExpectNothingSaved(before);
    EXPECT_EQ(window->setup.entries, setupBefore.entries);
    EXPECT_EQ(window->setup.destination, setupBefore.destination);
    EXPECT_EQ(window->RowTexts(), Strings{"/a"});
    EXPECT_EQ(window->destinationBox->text(), "unchanged");
    EXPECT_EQ(window->reinitializations, 0);
    EXPECT_EQ(window->pushes, 0);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(dialogs.dialogsRun.size(), 5u);
}

// --- The FTP server dialog's checks ----------------------------------------------

class FtpDialogTest : public ::testing::Test {
protected:
    void SetUp() override { texts.Load(); }
    QString Text(TextId id) const { return QString::fromUtf8(texts.GetText(id)); }
    // Fills the fields, presses OK and tells whether the dialog closed with OK.
    bool PressOk(const FtpFields& fields) {
        CAddFtp dialog(dialogs);
        dialogs.dialogScripts.push_back([&](QDialog& shown) {
            FillFtpFields(shown, fields);
            Click(shown, "okButton");
        });
        const bool accepted = dialogs.Run(dialog) == QDialog::Accepted;
        fieldsRead = {dialog.ServerName(), dialog.UserName(), dialog.Password(), dialog.Folder()};
        return accepted;
    }
    QString FieldContainsAt(TextId label) const {
        const std::string name = PlainControlText(Text(label)).toStdString();
        return QString::fromUtf8(FormatText(texts.GetText(TextId::FieldContainsAt), name));
    }

    TempHome home;
    CTranslation texts{BinFolder()};
    ScriptedDialogs dialogs;
    Strings fieldsRead;
};

TEST_F(FtpDialogTest, TheServerNameMustBeginWithTheLowerCasePrefix) {
    EXPECT_FALSE(PressOk({"FTP://host", "u", "p", "f"}));
    EXPECT_FALSE(PressOk({"host", "u", "p", "f"}));
    EXPECT_EQ(dialogs.MessageTexts(),
              (QStringList{Text(TextId::FtpPrefixMissing), Text(TextId::FtpPrefixMissing)}));
    EXPECT_EQ(dialogs.messages[0].caption, Text(TextId::MessageCaption));

    EXPECT_TRUE(PressOk({"ftp://", "", "", ""}));
    EXPECT_TRUE(PressOk({"ftp://host", "ann", "pass word", " folder with blanks "}));
    EXPECT_EQ(fieldsRead, (Strings{"ftp://host", "ann", "pass word", " folder with blanks "}));
    EXPECT_EQ(dialogs.messages.size(), 2u);
}

TEST_F(FtpDialogTest, FieldsThatWouldNotDecodeBackAreRefusedByName) {
    EXPECT_FALSE(PressOk({"ftp://host", "ann@example", "p", "f"}));
    EXPECT_FALSE(PressOk({"ftp://host", "ann", "p@ss", "f"}));
    EXPECT_FALSE(PressOk({"ftp://host", "ann", "p", "mail@dir"}));
    EXPECT_FALSE(PressOk({"ftp://ho@!@st", "ann", "p", "f"}));
    const QStringList expected = {
        FieldContainsAt(TextId::FtpUserLabel), FieldContainsAt(TextId::FtpPasswordLabel),
        FieldContainsAt(TextId::FtpFolderLabel), FieldContainsAt(TextId::FtpServerLabel)};
    EXPECT_EQ(dialogs.MessageTexts(), expected);
    for (const QString& message : dialogs.MessageTexts())
        EXPECT_FALSE(message.contains(QStringLiteral("p@ss")));

    // A user name in the server field can never connect: the field is named.
    dialogs.messages.clear();
    EXPECT_FALSE(PressOk({"ftp://user@host", "ann", "p", "f"}));
    const std::string server = PlainControlText(Text(TextId::FtpServerLabel)).toStdString();
    EXPECT_FALSE(PressOk({"ftp://host/pub", "ann", "p", "f"}));
    EXPECT_FALSE(PressOk({"ftp://host:70000", "ann", "p", "f"}));
    EXPECT_EQ(dialogs.MessageTexts(),
              (QStringList{FieldContainsAt(TextId::FtpServerLabel),
                           QString::fromUtf8(FormatText(texts.GetText(TextId::TextNotStorable), server)),
                           QString::fromUtf8(FormatText(texts.GetText(TextId::TextNotStorable), server))}));
    EXPECT_TRUE(PressOk({"ftp://host:2121/", "ann", "p", "f"}));
}

// A line edit takes no typed line break, but a program can put one there.
TEST_F(FtpDialogTest, ALineBreakInAFieldIsRefusedByTheFieldsName) {
    EXPECT_FALSE(PressOk({"ftp://host", "ann", "p", "a\nb"}));
    const std::string name = PlainControlText(Text(TextId::FtpFolderLabel)).toStdString();
    EXPECT_EQ(dialogs.MessageTexts(),
              QStringList{QString::fromUtf8(FormatText(texts.GetText(TextId::TextNotStorable), name))});
}

TEST_F(FtpDialogTest, PlainControlTextDropsMnemonicsAndTheColon) {
    EXPECT_EQ(PlainControlText(QStringLiteral("&User name:")), "User name");
    EXPECT_EQ(PlainControlText(QStringLiteral("Fish && &Chips :")), "Fish & Chips");
    EXPECT_EQ(PlainControlText(QStringLiteral("Trailing&")), "Trailing");
}

// --- The folder type dialog ------------------------------------------------------

TEST(FolderTypeDialogTest, LearnMoreOpensTheFtpInformationAndStaysOpen) {
    TempHome home;
    ScriptedDialogs dialogs;
    PowerClass settings(BinFolder());
    settings.ResolveSettingsFile();
    const std::vector<std::string> values = {"help.html#ftp", "https://tarnwick.example/ftp",
                                             "/opt/doc/ftp page.html#x"};
    for (const std::string& value : values) {
        settings.SetSetting("FTPInfo", value);
        CWhatFolderType dialog(dialogs);
        dialogs.dialogScripts.push_back([](QDialog& shown) {
            Click(shown, "learnMoreFtpButton");
            EXPECT_TRUE(shown.isVisible());
        });
        EXPECT_EQ(dialogs.Run(dialog), QDialog::Rejected);
    }
    const std::vector<QString> expected = {"file://" + QString::fromStdString(BinFolder()) + "/help.html#ftp",
                                           "https://tarnwick.example/ftp",
                                           "file:///opt/doc/ftp%20page.html#x"};
    EXPECT_EQ(dialogs.openedWithDesktop, expected);
}

}  // namespace
