#include "ScriptedDialogs.h"
#include "i18n/CTranslation.h"
#include "language/CLanguageSelection.h"
#include "language/LanguageCommand.h"
#include "storage/PowerClass.h"
#include "support/TempHome.h"
#include "util/FileError.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QGroupBox>
#include <QPushButton>
#include <QTest>

#include <filesystem>
#include <map>

namespace {

const std::string kTranslations =
    "[1033]\r\n00001 Please select your language\r\n00002 English\r\n00005 Tarnwick Backup\r\n[EOL]\r\n"
    "[1031]\r\n00001 Bitte Sprache wählen\r\n00002 Deutsch\r\n[EOL]\r\n"
    "[----]\r\n00001 x\r\n00002 System default language\r\n[EOL]\r\n"
    "[EOL]\r\n[10360]\r\n00001 x\r\n00002 not a section\r\n";

QComboBox* Combo(QDialog& dialog) {
    return dialog.findChild<QComboBox*>("languageCombo");
}
void ClickOk(QDialog& dialog) {
    QTest::mouseClick(dialog.findChild<QPushButton*>("okButton"), Qt::LeftButton);
}

QStringList Items(QComboBox* combo) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
    return items;
}

// A program folder of its own: the shipped settings template and a translation
// file written by the test.
class LanguageSelectionTest : public ::testing::Test {
protected:
    LanguageSelectionTest() {
        std::filesystem::copy_file(BinFolder() + "/config.ini", program.path() + "/config.ini");
        WriteTranslations(kTranslations);
        settings.ResolveSettingsFile();
        texts.Load();
    }
    void WriteTranslations(const std::string& content) { WriteTestFile(TranslationFile(), content); }
    std::string TranslationFile() const { return program.path() + "/TarnwickBackuptrl.ini"; }
    bool RunCommand() { return RunLanguageCommand(nullptr, dialogs, settings, texts); }
    void ChooseAndConfirm(const QString& name) {
        dialogs.dialogScripts.push_back([name](QDialog& dialog) {
            Combo(dialog)->setCurrentIndex(Combo(dialog)->findText(name, Qt::MatchExactly));
            ClickOk(dialog);
        });
    }

    TempHome home;
    TempFolder program;
    PowerClass settings{program.path()};
    CTranslation texts{program.path()};
    ScriptedDialogs dialogs;
};

TEST(LanguageListTest, ReadsHeadersAndTheNameTwoLinesBelow) {
    TempFolder folder;
    const std::string file = folder.path() + "/trl.ini";
    WriteTestFile(file, kTranslations + "[1036]\r\n00001 only one line");
    EXPECT_EQ(ReadLanguageList(file),
              (std::vector<std::string>{"[1033]", "English", "[1031]", "Deutsch", "[----]",
                                        "System default language", "[1036]", ""}));
    EXPECT_THROW(ReadLanguageList(folder.path() + "/missing.ini"), FileError);
}

TEST_F(LanguageSelectionTest, ListsSortedNamesAndPresetsTheCurrentLanguage) {
    settings.SetSetting("Language", "[1031]");
    QStringList items;
    QString shown, caption, title;
    dialogs.dialogScripts.push_back([&](QDialog& dialog) {
        items = Items(Combo(dialog));
        shown = Combo(dialog)->currentText();
        caption = dialog.findChild<QGroupBox*>("languageGroup")->title();
        title = dialog.windowTitle();
        QTest::keyClick(&dialog, Qt::Key_Escape);
    });
    EXPECT_FALSE(RunCommand());
    EXPECT_EQ(items, (QStringList{"Deutsch", "English", "System default language"}));
    EXPECT_EQ(shown, "Deutsch");
    EXPECT_EQ(caption, QString::fromStdString(texts.GetText(1)));
    EXPECT_EQ(title, "Language Selection");
    EXPECT_EQ(dialogs.dialogsRun, std::vector<QString>{"CLanguageSelection"});
}

TEST_F(LanguageSelectionTest, ChoosingAnotherLanguageStoresItsHeader) {
    settings.SetSetting("Language", "[1033]");
    ChooseAndConfirm("Deutsch");
    EXPECT_TRUE(RunCommand());
    EXPECT_EQ(settings.GetSetting("Language"), "[1031]");

    ChooseAndConfirm("System default language");
    EXPECT_TRUE(RunCommand());
    EXPECT_EQ(settings.GetSetting("Language"), "[----]");
}

TEST_F(LanguageSelectionTest, TheCurrentLanguageOrCancelWritesNothing) {
    settings.SetSetting("Language", "[1033]");
    const std::string before = ReadTestFile(settings.SettingsFile());
    ChooseAndConfirm("English");
    EXPECT_FALSE(RunCommand());
    dialogs.dialogScripts.push_back([](QDialog& dialog) {
        Combo(dialog)->setCurrentIndex(Combo(dialog)->findText("Deutsch"));
        QTest::keyClick(&dialog, Qt::Key_Escape);
    });
    EXPECT_FALSE(RunCommand());
    dialogs.dialogScripts.push_back([](QDialog& dialog) {
        Combo(dialog)->setCurrentIndex(Combo(dialog)->findText("Deutsch"));
        dialog.close();
    });
    EXPECT_FALSE(RunCommand());
    EXPECT_EQ(ReadTestFile(settings.SettingsFile()), before);
}

TEST_F(LanguageSelectionTest, UnmatchedTextKeepsTheLanguage) {
    WriteTranslations(
        "[1033]\r\n00001 x\r\n00002 English\r\n[EOL]\r\n[1031]\r\n00001 x\r\n00002 Deutsch\r\n[EOL]\r\n");
    settings.SetSetting("Language", "[----]");
    QString shown;
    dialogs.dialogScripts.push_back([&](QDialog& dialog) {
        shown = Combo(dialog)->currentText();
        ClickOk(dialog);
    });
    // A typed header must not store the name of the section before it.
    dialogs.dialogScripts.push_back([](QDialog& dialog) {
        Combo(dialog)->setEditText("[1031]");
        ClickOk(dialog);
    });
    EXPECT_FALSE(RunCommand());
    EXPECT_FALSE(RunCommand());
    EXPECT_EQ(shown, "System default language");
    EXPECT_EQ(settings.GetSetting("Language"), "[----]");
}

TEST_F(LanguageSelectionTest, TwoSectionsWithOneNameStoreTheLaterHeader) {
    WriteTranslations(
        "[1033]\r\n00001 x\r\n00002 English\r\n[EOL]\r\n[2057]\r\n00001 x\r\n00002 English\r\n[EOL]\r\n"
        "[1031]\r\n00001 x\r\n00002 Deutsch\r\n[EOL]\r\n");
    settings.SetSetting("Language", "[1031]");
    ChooseAndConfirm("English");
    EXPECT_TRUE(RunCommand());
    EXPECT_EQ(settings.GetSetting("Language"), "[2057]");
}

TEST_F(LanguageSelectionTest, MissingTranslationFileIsReportedByName) {
    std::filesystem::remove(TranslationFile());
    const std::string before = ReadTestFile(settings.SettingsFile());
    EXPECT_FALSE(RunCommand());
    EXPECT_TRUE(dialogs.dialogsRun.empty());
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.messages[0].text.contains(QString::fromStdString(TranslationFile())));
    EXPECT_EQ(ReadTestFile(settings.SettingsFile()), before);
}

// The translation file that ships: unique headers, every section named, and
// German chosen by its name stores its header.
TEST(ShippedLanguagesTest, ListsEverySectionAndStoresTheChosenHeader) {
    TempHome home;
    PowerClass settings(BinFolder());
    settings.ResolveSettingsFile();
    settings.SetSetting("Language", "[1033]");
    CTranslation texts(BinFolder());
    texts.Load();

    const std::vector<std::string> list = ReadLanguageList(BinFolder() + "/TarnwickBackuptrl.ini");
    std::map<std::string, std::string> names;
    for (std::size_t i = 0; i + 1 < list.size(); i += 2) {
        EXPECT_TRUE(names.emplace(list[i], list[i + 1]).second) << "twice: " << list[i];
        EXPECT_FALSE(list[i + 1].empty()) << list[i];
    }
    for (const char* needed : {"[1033]", "[1031]", "[----]"}) EXPECT_EQ(names.count(needed), 1u) << needed;

    ScriptedDialogs dialogs;
    const QString german = QString::fromStdString(names["[1031]"]);
    dialogs.dialogScripts.push_back([&](QDialog& dialog) {
        Combo(dialog)->setCurrentIndex(Combo(dialog)->findText(german, Qt::MatchExactly));
        ClickOk(dialog);
    });
    EXPECT_TRUE(RunLanguageCommand(nullptr, dialogs, settings, texts));
    EXPECT_EQ(settings.GetSetting("Language"), "[1031]");
}

}  // namespace
