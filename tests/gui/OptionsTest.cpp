#include "ScriptedDialogs.h"
#include "i18n/CTranslation.h"
#include "options/COptions.h"
#include "options/LogPrinter.h"
#include "options/LogTools.h"
#include "options/OptionsCommand.h"
#include "storage/BackupSetup.h"
#include "storage/HistoryLog.h"
#include "storage/PowerClass.h"
#include "support/FixedClock.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPageSize>
#include <QPrinter>
#include <QPushButton>
#include <QTest>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>

namespace {

const std::string kHeader = "Tarnwick Backup History File\r\n=============================\r\n\r\n\r\n";

QString Text(const CTranslation& texts, TextId id) {
    return QString::fromStdString(texts.GetText(id));
}

template <typename Widget>
Widget* Child(QDialog& dialog, const char* name) {
    auto* widget = dialog.findChild<Widget*>(QString::fromLatin1(name));
    if (widget == nullptr) ADD_FAILURE() << "no widget " << name;
    return widget;
}

void Click(QDialog& dialog, const char* button) {
    QTest::mouseClick(Child<QPushButton>(dialog, button), Qt::LeftButton);
}

// Check box object names by their position in the option string.
const std::map<std::size_t, const char*> kSwitchBoxes = {
    {2, "noCopyAnimationCheck"},   {3, "statusMessageCheck"}, {4, "writeLogCheck"},
    {5, "realTimeSchedulerCheck"}, {6, "indexNamesCheck"},    {7, "minimizeOnAutostartCheck"},
    {8, "breakLongPathsCheck"},    {9, "startMaximizedCheck"}};

class OptionsTest : public ::testing::Test {
protected:
    OptionsTest() : settings(BinFolder()), texts(BinFolder()) {
        settings.ResolveSettingsFile();
        texts.Load();
        setup.optionFlags = settings.GetOptions();
    }

    void StoreOptions(const std::string& options) {
        settings.SetSetting("Options", options);
        setup.optionFlags = options;
    }
    std::string LogPath() const {
        return HistoryLogPath(settings.SettingsFolder(), settings.ProgramFolder());
    }
    bool RunCommand() { return RunOptionsCommand(nullptr, dialogs, setup, settings); }
    // Enters minutes and presses OK; returns whether the dialog closed.
    void ScriptMinutes(const QString& minutes, bool* closed) {
        dialogs.dialogScripts.push_back([minutes, closed](QDialog& dialog) {
            Child<QLineEdit>(dialog, "waitMinutesEdit")->setText(minutes);
            Click(dialog, "okButton");
            *closed = !dialog.isVisible();
            if (!*closed) Click(dialog, "cancelButton");
        });
    }

    TempHome home;
    PowerClass settings;
    CTranslation texts;
    ScriptedDialogs dialogs;
    BackupSetup setup;
};

TEST_F(OptionsTest, ShowsEveryPositionAndWritesAnUnchangedStringBack) {
    StoreOptions("011010101105xyz");
    std::map<std::string, bool> shown;
    QString minutes;
    dialogs.dialogScripts.push_back([&](QDialog& dialog) {
        for (const auto& [position, name] : kSwitchBoxes)
            shown[name] = Child<QCheckBox>(dialog, name)->isChecked();
        minutes = Child<QLineEdit>(dialog, "waitMinutesEdit")->text();
        Click(dialog, "okButton");
    });
    EXPECT_TRUE(RunCommand());
    const std::map<std::string, bool> expected = {
        {"noCopyAnimationCheck", true},    {"statusMessageCheck", false}, {"writeLogCheck", true},
        {"realTimeSchedulerCheck", false}, {"indexNamesCheck", true},     {"minimizeOnAutostartCheck", false},
        {"breakLongPathsCheck", true},     {"startMaximizedCheck", true}};
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(minutes, "5");
    EXPECT_EQ(settings.GetSetting("Options"), "011010101105xyz");
    EXPECT_EQ(setup.optionFlags, "011010101105xyz");
    EXPECT_TRUE(setup.breakLongPaths);
    ASSERT_EQ(dialogs.dialogsRun.size(), 1u);
    EXPECT_EQ(dialogs.dialogsRun[0], "COptions");
}

TEST_F(OptionsTest, KeepsTheWindowsOwnPositionsAndClearsOddSwitchCharacters) {
    settings.SetSetting("Options", "01x2100000-7abc");
    setup.optionFlags = "10" + settings.GetSetting("Options").substr(2);
    bool oddShownChecked = true;
    dialogs.dialogScripts.push_back([&](QDialog& dialog) {
        oddShownChecked = Child<QCheckBox>(dialog, "noCopyAnimationCheck")->isChecked() ||
                          Child<QCheckBox>(dialog, "statusMessageCheck")->isChecked();
        Click(dialog, "okButton");
    });
    EXPECT_TRUE(RunCommand());
    EXPECT_FALSE(oddShownChecked);
    // "-7" reads leniently as 7 minutes.
    EXPECT_EQ(settings.GetSetting("Options"), "100010000007abc");
    EXPECT_EQ(setup.optionFlags, "100010000007abc");
}

TEST_F(OptionsTest, StoresTheMinutesAsTwoDigits) {
    for (const auto& [typed, stored] :
         std::map<QString, std::string>{{"5", "05"}, {"0", "00"}, {"60", "60"}}) {
        StoreOptions("000010000033000");
        bool closed = false;
        ScriptMinutes(typed, &closed);
        EXPECT_TRUE(RunCommand()) << typed.toStdString();
        EXPECT_TRUE(closed);
        EXPECT_EQ(settings.GetSetting("Options"), "0000100000" + stored + "000") << typed.toStdString();
    }
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(OptionsTest, RefusesMinutesOutsideTheRangeAndKeepsTheDialogOpen) {
    const std::map<QString, QString> cases = {{"61", "Please enter an integer between 0 and 60."},
                                              {"-1", "Please enter an integer between 0 and 60."},
                                              {"abc", "Please enter an integer."},
                                              {"", "Please enter an integer."}};
    for (const auto& [typed, message] : cases) {
        StoreOptions("011010101105xyz");
        dialogs.messages.clear();
        bool closed = true;
        bool editFocused = false;
        dialogs.dialogScripts.push_back([&](QDialog& dialog) {
            auto* edit = Child<QLineEdit>(dialog, "waitMinutesEdit");
            Child<QCheckBox>(dialog, "statusMessageCheck")->setChecked(true);
            edit->setText(typed);
            Click(dialog, "okButton");
            closed = !dialog.isVisible();
            editFocused = QApplication::focusWidget() == edit || edit->hasFocus();
            Click(dialog, "cancelButton");
        });
        EXPECT_FALSE(RunCommand());
        EXPECT_FALSE(closed) << typed.toStdString();
        EXPECT_TRUE(editFocused) << typed.toStdString();
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.messages[0].text, message);
        EXPECT_EQ(settings.GetSetting("Options"), "011010101105xyz");
        EXPECT_EQ(setup.optionFlags, "011010101105xyz");
    }
}

TEST_F(OptionsTest, BrowseStoresThePathAtOnceEvenWhenCancelled) {
    StoreOptions("011010101105xyz");
    const QString chosen = QString::fromStdString(home.path() + "/Projekte/Büro.tarn");
    dialogs.openFilesAnswers.push_back({chosen});
    QString shownPath;
    dialogs.dialogScripts.push_back([&](QDialog& dialog) {
        Child<QCheckBox>(dialog, "statusMessageCheck")->setChecked(true);
        Click(dialog, "browseButton");
        shownPath = Child<QLineEdit>(dialog, "defaultProjectEdit")->text();
        Click(dialog, "cancelButton");
    });
    EXPECT_FALSE(RunCommand());
    EXPECT_EQ(shownPath, chosen);
    EXPECT_EQ(settings.GetSetting("Path"), chosen.toStdString());
    EXPECT_EQ(settings.GetSetting("Options"), "011010101105xyz");
    ASSERT_EQ(dialogs.openFileRequests.size(), 1u);
    EXPECT_EQ(dialogs.openFileRequests[0].filter, "tarn Files (*.tarn)");
    EXPECT_EQ(dialogs.openFileRequests[0].startFolder, QString::fromStdString(BinFolder()));
    EXPECT_FALSE(dialogs.openFileRequests[0].several);
}

TEST_F(OptionsTest, BrowseCancelledAndUnstorablePathsLeaveThePath) {
    const std::string before = settings.GetSetting("Path");
    dialogs.openFilesAnswers.push_back({});
    dialogs.openFilesAnswers.push_back({QString::fromStdString(home.path() + "/two\nlines.tarn")});
    dialogs.dialogScripts.push_back([&](QDialog& dialog) {
        Click(dialog, "browseButton");
        Click(dialog, "browseButton");
        Click(dialog, "okButton");
    });
    EXPECT_TRUE(RunCommand());
    EXPECT_EQ(settings.GetSetting("Path"), before);
    EXPECT_EQ(dialogs.messages.size(), 1u);
}

TEST_F(OptionsTest, BreakDownSwitchFollowsPositionEight) {
    StoreOptions("000000000000000");
    dialogs.dialogScripts.push_back([](QDialog& dialog) {
        Child<QCheckBox>(dialog, "breakLongPathsCheck")->setChecked(true);
        Click(dialog, "okButton");
    });
    EXPECT_TRUE(RunCommand());
    EXPECT_TRUE(setup.breakLongPaths);
    EXPECT_EQ(settings.GetSetting("Options"), "000000001000000");

    dialogs.dialogScripts.push_back([](QDialog& dialog) {
        Child<QCheckBox>(dialog, "breakLongPathsCheck")->setChecked(false);
        Click(dialog, "okButton");
    });
    EXPECT_TRUE(RunCommand());
    EXPECT_FALSE(setup.breakLongPaths);
}

TEST_F(OptionsTest, CancelAndCloseStoreNothing) {
    StoreOptions("011010101105xyz");
    const std::string before = ReadTestFile(settings.SettingsFile());
    dialogs.dialogScripts.push_back([](QDialog& dialog) {
        Child<QCheckBox>(dialog, "noCopyAnimationCheck")->setChecked(false);
        QTest::keyClick(&dialog, Qt::Key_Escape);
    });
    EXPECT_FALSE(RunCommand());
    EXPECT_EQ(ReadTestFile(settings.SettingsFile()), before);
    EXPECT_EQ(setup.optionFlags, "011010101105xyz");
}

TEST_F(OptionsTest, HelpAndLogButtonsOpenTheirFiles) {
    dialogs.dialogScripts.push_back([](QDialog& dialog) {
        Click(dialog, "helpButton");
        QTest::keyClick(Child<QLineEdit>(dialog, "waitMinutesEdit"), Qt::Key_F1);
        Click(dialog, "showLogButton");
        Click(dialog, "cancelButton");
    });
    RunCommand();
    const QString help = QString::fromStdString(BinFolder() + "/help.html");
    EXPECT_EQ(
        dialogs.openedWithDesktop,
        (std::vector<QString>{help, help, QString::fromStdString(home.SettingsFolder() + "/history.txt")}));
}

TEST_F(OptionsTest, UnreadableSettingsAreReportedWithTheFileName) {
    std::filesystem::remove(settings.SettingsFile());
    std::filesystem::create_directory(settings.SettingsFile());  // a folder where the file must be
    EXPECT_FALSE(RunCommand());
    EXPECT_TRUE(dialogs.dialogsRun.empty());
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.messages[0].text.contains(QString::fromStdString(settings.SettingsFile())));
}

// --- Empty log file --------------------------------------------------------------

class LogToolsTest : public OptionsTest {
protected:
    LogTools Tools() { return LogTools(nullptr, dialogs, texts, LogPath(), clock); }
    FixedClock clock{2024, 3, 5, 14, 7};
};

TEST_F(LogToolsTest, EmptyAnsweredNoLeavesTheLogAlone) {
    const std::string content = kHeader + "2024-01-01 10:00 started\r\nÜber\r\n";
    WriteTestFile(LogPath(), content);
    dialogs.messageAnswers.push_back(Dialogs::Answer::No);
    EXPECT_FALSE(Tools().Empty());
    EXPECT_EQ(ReadTestFile(LogPath()), content);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, Text(texts, TextId::EmptyLogQuestion));
    EXPECT_EQ(dialogs.messages[0].caption, Text(texts, TextId::MessageCaption));
    EXPECT_EQ(dialogs.messages[0].buttons, Dialogs::Buttons::YesNo);
    EXPECT_EQ(dialogs.messages[0].icon, Dialogs::Icon::Question);
}

TEST_F(LogToolsTest, EmptyAnsweredYesWritesTheHeaderOnly) {
    WriteTestFile(LogPath(), kHeader + "2024-01-01 10:00 started\r\n");
    dialogs.messageAnswers.push_back(Dialogs::Answer::Yes);
    dialogs.dialogScripts.push_back([](QDialog& dialog) {
        Click(dialog, "emptyLogButton");
        Click(dialog, "cancelButton");
    });
    RunCommand();
    EXPECT_EQ(ReadTestFile(LogPath()), kHeader);
    EXPECT_EQ(dialogs.MessageTexts(),
              (QStringList{Text(texts, TextId::EmptyLogQuestion), Text(texts, TextId::LogEmptied)}));
}

TEST_F(LogToolsTest, EmptyThatCannotWriteNamesTheFile) {
    std::filesystem::remove(LogPath());
    std::filesystem::create_directories(LogPath() + "/occupied");  // a folder where the log must be
    dialogs.messageAnswers.push_back(Dialogs::Answer::Yes);
    EXPECT_FALSE(Tools().Empty());
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_TRUE(dialogs.messages[1].text.contains(QString::fromStdString(LogPath())));
    EXPECT_NE(dialogs.messages[1].text, Text(texts, TextId::LogEmptied));
}

// --- Print log file ---------------------------------------------------------------

struct PdfText {
    int pages = 0;
    QString pageSize;
    std::vector<std::vector<std::string>> rows;  // per page, trimmed, empty rows dropped
};

std::string RunTool(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return output;
    char buffer[4096];
    while (std::size_t read = fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, read);
    pclose(pipe);
    return output;
}

PdfText ReadPdf(const std::string& pdf) {
    PdfText result;
    const QString info = QString::fromStdString(RunTool("pdfinfo '" + pdf + "'"));
    for (const QString& line : info.split('\n')) {
        if (line.startsWith("Pages:")) result.pages = line.mid(6).trimmed().toInt();
        if (line.startsWith("Page size:")) result.pageSize = line.mid(10).trimmed();
    }
    const QString text = QString::fromStdString(RunTool("pdftotext -layout '" + pdf + "' -"));
    for (const QString& page : text.split('\f')) {
        std::vector<std::string> rows;
        for (const QString& row : page.split('\n'))
            if (!row.trimmed().isEmpty()) rows.push_back(row.trimmed().toStdString());
        result.rows.push_back(rows);
    }
    while (!result.rows.empty() && result.rows.back().empty()) result.rows.pop_back();
    return result;
}

class PrintTest : public LogToolsTest {
protected:
    std::string Pdf() const { return home.path() + "/log.pdf"; }
    void AnswerPrinter(QPageSize::PageSizeId size) {
        const QString output = QString::fromStdString(Pdf());
        dialogs.printerAnswers.push_back([output, size](QPrinter& printer) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(output);
            printer.setPageSize(QPageSize(size));
            return true;
        });
    }
    std::vector<std::string> Footer() const {
        return {texts.GetText(TextId::PrintFooter), texts.GetText(TextId::PrintedAt) + " 2024-03-05 14:07"};
    }
};

TEST_F(PrintTest, PrintLineListIsTheLogAndTheFooter) {
    WriteTestFile(LogPath(), kHeader);
    std::vector<std::string> expected = {"Tarnwick Backup History File", std::string(29, '='), "", "", ""};
    for (const std::string& line : Footer()) expected.push_back(line);
    EXPECT_EQ(BuildPrintLineList(LogPath(), texts, clock), expected);
}

TEST_F(PrintTest, LongLinesWrapAfter84Characters) {
    const std::string row84 = std::string(83, 'a') + "A";
    const std::string row85 = std::string(84, 'b') + "B";
    std::string row200;
    for (int i = 0; i < 200; ++i) row200 += static_cast<char>('0' + i % 10);
    // Characters, not bytes: 84 two-byte characters still fit on one row.
    std::string umlauts;
    for (int i = 0; i < 84; ++i) umlauts += "ä";
    WriteTestFile(LogPath(), kHeader + row84 + "\r\n" + row85 + "\r\n" + row200 + "\r\n" + umlauts + "\r\n");
    AnswerPrinter(QPageSize::A4);
    dialogs.dialogScripts.push_back([](QDialog& dialog) {
        Click(dialog, "printLogButton");
        Click(dialog, "cancelButton");
    });
    RunCommand();
    EXPECT_TRUE(dialogs.messages.empty()) << dialogs.MessageTexts().join('|').toStdString();

    const PdfText pdf = ReadPdf(Pdf());
    EXPECT_EQ(pdf.pages, 1);
    EXPECT_TRUE(pdf.pageSize.contains("A4")) << pdf.pageSize.toStdString();
    ASSERT_EQ(pdf.rows.size(), 1u);
    const std::vector<std::string> expected = {"Tarnwick Backup History File",
                                               std::string(29, '='),
                                               row84,
                                               row85.substr(0, 84),
                                               "B",
                                               row200.substr(0, 84),
                                               row200.substr(84, 84),
                                               row200.substr(168),
                                               umlauts,
                                               Footer()[0]};
    // The dialog prints with the real clock: the last row is text 610 and a time text.
    ASSERT_EQ(pdf.rows[0].size(), expected.size() + 1);
    EXPECT_EQ(std::vector<std::string>(pdf.rows[0].begin(), pdf.rows[0].end() - 1), expected);
    const std::string printedAt = texts.GetText(TextId::PrintedAt) + " ";
    EXPECT_EQ(pdf.rows[0].back().substr(0, printedAt.size()), printedAt);
    EXPECT_EQ(pdf.rows[0].back().size(), printedAt.size() + 16);
}

TEST_F(PrintTest, PageBreaksOnlyBeforeALineBelowTheLastRow) {
    // Lines start at y = 0, 100, ...; the line at y = 5800 is the 59th and
    // still prints on the first page with every piece, the next one does not.
    std::string log;
    for (int i = 1; i <= 58; ++i) log += "line " + std::to_string(i) + "\r\n";
    const std::string longLine = std::string(84, 'x') + std::string(84, 'y') + "z";
    log += longLine + "\r\nline 60\r\n";
    WriteTestFile(LogPath(), log);
    AnswerPrinter(QPageSize::A4);
    EXPECT_TRUE(Tools().Print());

    const PdfText pdf = ReadPdf(Pdf());
    EXPECT_EQ(pdf.pages, 2);
    ASSERT_EQ(pdf.rows.size(), 2u);
    ASSERT_EQ(pdf.rows[0].size(), 61u);
    EXPECT_EQ(pdf.rows[0][57], "line 58");
    EXPECT_EQ(pdf.rows[0][58], std::string(84, 'x'));
    EXPECT_EQ(pdf.rows[0][60], "z");
    EXPECT_EQ(pdf.rows[1], (std::vector<std::string>{"line 60", Footer()[0], Footer()[1]}));
}

TEST_F(PrintTest, LetterPrintsAsA4Portrait) {
    WriteTestFile(LogPath(), kHeader);
    AnswerPrinter(QPageSize::Letter);
    EXPECT_TRUE(Tools().Print());
    const PdfText pdf = ReadPdf(Pdf());
    EXPECT_EQ(pdf.pages, 1);
    EXPECT_TRUE(pdf.pageSize.contains("A4")) << pdf.pageSize.toStdString();
}

TEST_F(PrintTest, OtherPaperIsRefusedWithBothMessages) {
    WriteTestFile(LogPath(), kHeader);
    AnswerPrinter(QPageSize::Legal);
    EXPECT_FALSE(Tools().Print());
    EXPECT_FALSE(std::filesystem::exists(Pdf()));
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[0].text, "The paper format you selected is not supported!");
    EXPECT_EQ(dialogs.messages[0].caption, "Tarnwick Printing Error");
    EXPECT_EQ(dialogs.messages[1].text, Text(texts, TextId::PrintFailed));
    EXPECT_EQ(dialogs.messages[1].caption, Text(texts, TextId::MessageCaption));
}

TEST_F(PrintTest, CancelledPrinterChoiceReportsTheFailure) {
    WriteTestFile(LogPath(), kHeader);
    dialogs.printerAnswers.push_back([](QPrinter&) { return false; });
    EXPECT_FALSE(Tools().Print());
    EXPECT_EQ(dialogs.MessageTexts(), QStringList{Text(texts, TextId::PrintFailed)});
}

TEST_F(PrintTest, MissingLogIsReportedAndNothingPrinted) {
    std::filesystem::remove(LogPath());
    AnswerPrinter(QPageSize::A4);
    EXPECT_FALSE(Tools().Print());
    EXPECT_EQ(dialogs.printerRequests, 0);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.messages[0].text.contains(QString::fromStdString(LogPath())));
}

}  // namespace
