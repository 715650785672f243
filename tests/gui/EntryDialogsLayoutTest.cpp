#include "RestoreSample.h"
#include "ScriptedDialogs.h"
#include "entries/CAddFtp.h"
#include "entries/CAddSpecialFolder.h"
#include "entries/CWhatFolderType.h"
#include "entries/DialogText.h"
#include "restore/CRestoreDlg.h"
#include "storage/PowerClass.h"
#include "support/TempHome.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>

// The three set-up dialogs and the restore dialog in each language: every text is there and fits.
// With TARNWICK_SCREENSHOT_DIR set, each dialog is also saved there as a PNG.

namespace {

struct Language {
    const char* section;
    const char* suffix;
};

struct DialogCase {
    const char* fileName;
    std::function<std::unique_ptr<QDialog>(Dialogs&, const CTranslation&)> make;
};

std::vector<std::string> ProblemsOf(QDialog& dialog) {
    std::vector<std::string> problems;
    auto check = [&](QWidget* widget, const QString& text, int neededWidth) {
        const std::string name = widget->objectName().toStdString();
        if (text.contains(QStringLiteral("---"))) problems.push_back(name + " shows a missing text");
        if (widget->width() < neededWidth)
            problems.push_back(name + " is clipped: " + std::to_string(widget->width()) + " < " +
                               std::to_string(neededWidth));
    };
    for (QLabel* label : dialog.findChildren<QLabel*>()) {
        // A wrapping label may be narrower than its one-line text, never shorter.
        if (label->wordWrap()) {
            if (label->height() < label->heightForWidth(label->width()))
                problems.push_back(label->objectName().toStdString() + " is cut off at the bottom");
            check(label, label->text(), 0);
        } else {
            check(label, label->text(), label->sizeHint().width());
        }
    }
    for (QAbstractButton* button : dialog.findChildren<QAbstractButton*>())
        check(button, button->text(), button->sizeHint().width());
    for (QGroupBox* group : dialog.findChildren<QGroupBox*>()) {
        const int titleWidth = group->fontMetrics().horizontalAdvance(PlainControlText(group->title()));
        check(group, group->title(), titleWidth);
    }
    for (QComboBox* combo : dialog.findChildren<QComboBox*>()) {
        for (int i = 0; i < combo->count(); ++i) {
            const int needed = combo->fontMetrics().horizontalAdvance(combo->itemText(i));
            check(combo, combo->itemText(i), needed);
        }
    }
    if (dialog.windowTitle().contains(QStringLiteral("---"))) problems.push_back("the title is missing");
    return problems;
}

// Buttons and labels of a row may not cover each other.
std::vector<std::string> OverlapsOf(QDialog& dialog) {
    std::vector<std::string> overlaps;
    std::vector<QWidget*> widgets;
    for (QWidget* widget : dialog.findChildren<QWidget*>())
        if (widget->isVisible() && (qobject_cast<QLabel*>(widget) || qobject_cast<QAbstractButton*>(widget) ||
                                    qobject_cast<QLineEdit*>(widget) || qobject_cast<QComboBox*>(widget)))
            widgets.push_back(widget);
    for (std::size_t a = 0; a < widgets.size(); ++a)
        for (std::size_t b = a + 1; b < widgets.size(); ++b) {
            if (widgets[a]->isAncestorOf(widgets[b]) || widgets[b]->isAncestorOf(widgets[a])) continue;
            const QRect first(widgets[a]->mapTo(&dialog, QPoint(0, 0)), widgets[a]->size());
            const QRect second(widgets[b]->mapTo(&dialog, QPoint(0, 0)), widgets[b]->size());
            if (first.intersects(second))
                overlaps.push_back(widgets[a]->objectName().toStdString() + " overlaps " +
                                   widgets[b]->objectName().toStdString());
        }
    return overlaps;
}

void PrintTo(const Language& language, std::ostream* out) {
    *out << language.section;
}

class EntryDialogsLayoutTest : public ::testing::TestWithParam<Language> {};

TEST_P(EntryDialogsLayoutTest, EveryTextIsThereAndFits) {
    TempHome home;
    PowerClass settings(BinFolder());
    settings.ResolveSettingsFile();
    settings.SetSetting("Language", GetParam().section);
    CTranslation texts(BinFolder());
    texts.Load();
    ScriptedDialogs dialogs;
    const RestoreSample restoreSample;

    const DialogCase cases[] = {
        {"add-ftp", [](Dialogs& d, const CTranslation&) { return std::make_unique<CAddFtp>(d); }},
        {"add-special-folder",
         [](Dialogs& d, const CTranslation&) { return std::make_unique<CAddSpecialFolder>(d); }},
        {"folder-type",
         [](Dialogs& d, const CTranslation& t) {
             auto dialog = std::make_unique<CWhatFolderType>(d);
             dialog->SetInfoLines(DialogText(t, TextId::FolderTypeInfo1),
                                  DialogText(t, TextId::FolderTypeInfo2));
             return dialog;
         }},
        {"restore",
         [&restoreSample](Dialogs& d, const CTranslation& t) {
             return std::make_unique<CRestoreDlg>(d, t, restoreSample.setup, BinFolder());
         }},
    };
    const char* screenshotFolder = std::getenv("TARNWICK_SCREENSHOT_DIR");
    for (const DialogCase& dialogCase : cases) {
        SCOPED_TRACE(dialogCase.fileName);
        std::unique_ptr<QDialog> dialog = dialogCase.make(dialogs, texts);
        dialog->show();
        QApplication::processEvents();
        EXPECT_EQ(ProblemsOf(*dialog), std::vector<std::string>());
        EXPECT_EQ(OverlapsOf(*dialog), std::vector<std::string>());
        if (screenshotFolder != nullptr) {
            const QString file = QString::fromUtf8(screenshotFolder) + QLatin1Char('/') +
                                 QLatin1String(dialogCase.fileName) + QLatin1Char('-') +
                                 QLatin1String(GetParam().suffix) + QStringLiteral(".png");
            EXPECT_TRUE(dialog->grab().save(file)) << file.toStdString();
        }
        dialog->hide();
    }
}

INSTANTIATE_TEST_SUITE_P(Languages, EntryDialogsLayoutTest,
                         ::testing::Values(Language{"[1033]", "en"}, Language{"[1031]", "de"}),
                         [](const ::testing::TestParamInfo<Language>& info) {
                             return std::string(info.param.suffix);
                         });

}  // namespace
