#include "RestoreSample.h"
#include "ScriptedDialogs.h"
#include "app/CAboutDlg.h"
#include "app/CBackupDlg.h"
#include "app/CommandIds.h"
#include "app/MainWindowControls.h"
#include "app/WrappingCheckBox.h"
#include "app/tools/DarkPalette.h"
#include "entries/CAddFtp.h"
#include "entries/CAddSpecialFolder.h"
#include "entries/CWhatFolderType.h"
#include "entries/DialogText.h"
#include "i18n/CTranslation.h"
#include "language/CLanguageSelection.h"
#include "language/LanguageCommand.h"
#include "options/COptions.h"
#include "restore/CRestoreDlg.h"
#include "storage/PowerClass.h"
#include "support/TempHome.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionGroupBox>
#include <QTextEdit>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Every window of the program as the desktop shows it: each caption fits its
// control in every language at the desktop's font and a larger one, and text
// reads well on its background under a dark theme. With TARNWICK_SCREENSHOT_DIR
// set, each window is also saved there as a PNG.

namespace {

struct NamedWindow {
    std::string name;
    std::unique_ptr<QWidget> widget;
};

std::string NameOf(const QWidget* widget) {
    return widget->objectName().isEmpty() ? std::string(widget->metaObject()->className())
                                          : widget->objectName().toStdString();
}

// ------------------------------------------------------------ caption room

int TextWidth(const QWidget* widget, const QString& caption) {
    return widget->fontMetrics().horizontalAdvance(PlainControlText(caption));
}

// The part of a button's rectangle the style leaves for its caption.
QRect ButtonTextRect(QAbstractButton* button) {
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    option.icon = button->icon();
    option.iconSize = button->iconSize();
    if (qobject_cast<QPushButton*>(button) != nullptr) {
        QRect room = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        if (!button->icon().isNull()) room.setLeft(room.left() + button->iconSize().width() + 4);
        return room;
    }
    const auto element = qobject_cast<QRadioButton*>(button) != nullptr ? QStyle::SE_RadioButtonContents
                                                                        : QStyle::SE_CheckBoxContents;
    QRect room = button->style()->subElementRect(element, &option, button);
    room.setRight(std::min(room.right(), button->rect().right()));
    return room;
}

std::string ClipOfButton(QAbstractButton* button) {
    const QRect room = ButtonTextRect(button);
    if (dynamic_cast<WrappingCheckBox*>(button) != nullptr) {
        const QRect needed =
            button->fontMetrics().boundingRect(QRect(0, 0, std::max(1, room.width()), 100000),
                                               Qt::TextWordWrap | Qt::TextShowMnemonic, button->text());
        if (needed.height() > button->height())
            return "wraps to " + std::to_string(needed.height()) + " px in " +
                   std::to_string(button->height());
        return {};
    }
    const int needed = TextWidth(button, button->text());
    if (needed > room.width())
        return "needs " + std::to_string(needed) + " px, has " + std::to_string(room.width());
    return {};
}

std::string ClipOfLabel(QLabel* label) {
    if (label->text().isEmpty()) return {};
    const QRect room = label->contentsRect();
    if (label->wordWrap() || Qt::mightBeRichText(label->text())) {
        const int height = label->heightForWidth(room.width());
        if (height > room.height())
            return "wraps to " + std::to_string(height) + " px in " + std::to_string(room.height());
        if (!label->wordWrap() && label->sizeHint().width() > label->width())
            return "needs " + std::to_string(label->sizeHint().width()) + " px";
        return {};
    }
    const int needed = TextWidth(label, label->text());
    if (needed > room.width())
        return "needs " + std::to_string(needed) + " px, has " + std::to_string(room.width());
    return {};
}

std::string ClipOfGroup(QGroupBox* group) {
    if (group->title().isEmpty()) return {};
    QStyleOptionGroupBox option;
    option.initFrom(group);
    option.text = group->title();
    option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
    option.textAlignment = group->alignment();
    const QRect title =
        group->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, group);
    const int needed = TextWidth(group, group->title());
    // The title sits on the frame; whatever passes the frame's right edge is cut.
    const int room = std::min(title.width(), group->width() - title.left());
    if (needed > room) return "title needs " + std::to_string(needed) + " px, has " + std::to_string(room);
    return {};
}

std::string ClipOfCombo(QComboBox* combo) {
    QStyleOptionComboBox option;
    option.initFrom(combo);
    option.editable = combo->isEditable();
    const QRect field =
        combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo);
    for (int i = 0; i < combo->count(); ++i) {
        const int needed = TextWidth(combo, combo->itemText(i));
        if (needed > field.width())
            return "item " + combo->itemText(i).toStdString() + " needs " + std::to_string(needed) + " px";
    }
    return {};
}

// Every caption of the window that does not fit the room its control gives it,
// or whose control reaches past the window's edge.
std::vector<std::string> ClippedCaptions(QWidget& window) {
    std::vector<std::string> clipped;
    const QRect windowRect = window.rect();
    for (QWidget* widget : window.findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(&window) || widget->window() != &window) continue;
        std::string problem;
        if (auto* label = qobject_cast<QLabel*>(widget))
            problem = ClipOfLabel(label);
        else if (auto* button = qobject_cast<QAbstractButton*>(widget); button && !button->text().isEmpty())
            problem = ClipOfButton(button);
        else if (auto* group = qobject_cast<QGroupBox*>(widget))
            problem = ClipOfGroup(group);
        else if (auto* combo = qobject_cast<QComboBox*>(widget))
            problem = ClipOfCombo(combo);
        else
            continue;
        const QRect placed(widget->mapTo(&window, QPoint(0, 0)), widget->size());
        if (problem.empty() && !windowRect.contains(placed)) problem = "reaches past the window's edge";
        if (!problem.empty()) clipped.push_back(NameOf(widget) + ": " + problem);
    }
    return clipped;
}

// ------------------------------------------------------------ contrast

// The colour painted behind a widget: its own background when it fills it,
// otherwise that of the nearest parent that does (a window always does).
QColor BackgroundBehind(const QWidget* widget) {
    for (const QWidget* w = widget; w != nullptr; w = w->parentWidget())
        if (w->isWindow() || w->autoFillBackground()) return w->palette().color(w->backgroundRole());
    return widget->palette().color(QPalette::Window);
}

struct ColourPair {
    QColor text;
    QColor background;
};

std::optional<ColourPair> ColoursOf(const QWidget* widget) {
    const QPalette& palette = widget->palette();
    if (qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QAbstractItemView*>(widget) ||
        qobject_cast<const QPlainTextEdit*>(widget) || qobject_cast<const QTextEdit*>(widget) ||
        qobject_cast<const QAbstractSpinBox*>(widget))
        return ColourPair{palette.color(QPalette::Text), palette.color(QPalette::Base)};
    if (qobject_cast<const QPushButton*>(widget) || qobject_cast<const QComboBox*>(widget))
        return ColourPair{palette.color(QPalette::ButtonText), palette.color(QPalette::Button)};
    if (qobject_cast<const QLabel*>(widget) || qobject_cast<const QAbstractButton*>(widget) ||
        qobject_cast<const QGroupBox*>(widget))
        return ColourPair{palette.color(widget->foregroundRole()), BackgroundBehind(widget)};
    return std::nullopt;
}

std::vector<std::string> PoorContrasts(QWidget& window) {
    std::vector<std::string> poor;
    for (QWidget* widget : window.findChildren<QWidget*>()) {
        // Greyed-out controls are meant to recede.
        if (!widget->isVisibleTo(&window) || !widget->isEnabled()) continue;
        // A label showing only a picture has no text to read.
        if (auto* label = qobject_cast<QLabel*>(widget); label && label->text().isEmpty()) continue;
        const std::optional<ColourPair> colours = ColoursOf(widget);
        if (!colours) continue;
        const double ratio = ContrastRatio(colours->text, colours->background);
        if (ratio < kReadableContrast)
            poor.push_back(NameOf(widget) + ": " + colours->text.name().toStdString() + " on " +
                           colours->background.name().toStdString() + " (" + std::to_string(ratio) + ")");
    }
    return poor;
}

// The palette roles are only what the widgets are told; the picture shows what
// was painted. A label's top-right corner holds no text, so it shows the
// background the label's text is drawn on.
std::vector<std::string> PoorContrastsAsPainted(QWidget& window) {
    std::vector<std::string> poor;
    const QImage picture = window.grab().toImage();
    for (QLabel* label : window.findChildren<QLabel*>()) {
        if (!label->isVisibleTo(&window) || label->text().isEmpty() || label->width() < 2) continue;
        const QPoint corner = label->mapTo(&window, QPoint(label->width() - 1, 0));
        if (!picture.rect().contains(corner)) continue;
        const QColor painted = picture.pixelColor(corner * picture.devicePixelRatio());
        const QColor text = label->palette().color(label->foregroundRole());
        if (ContrastRatio(text, painted) < kReadableContrast)
            poor.push_back(NameOf(label) + ": " + text.name().toStdString() + " painted on " +
                           painted.name().toStdString());
    }
    return poor;
}

// ------------------------------------------------------------ the windows

std::vector<NamedWindow> OpenEveryWindow(Dialogs& dialogs, const std::string& language) {
    PowerClass settings(BinFolder());
    settings.ResolveSettingsFile();
    settings.SetSetting("Language", language);
    CTranslation texts(BinFolder());
    texts.Load();

    MainWindowEnvironment environment;
    environment.programFolder = BinFolder();
    environment.executablePath = BinFolder() + "/tarnwick-backup";
    environment.commandLine = "tarnwick-backup";
    environment.trayAvailable = [] { return false; };

    std::vector<NamedWindow> windows;
    windows.push_back({"main-window", std::make_unique<CBackupDlg>(dialogs, environment)});
    auto options = std::make_unique<COptions>(dialogs, BinFolder());
    options->Initialise();
    windows.push_back({"options", std::move(options)});
    auto languages = std::make_unique<CLanguageSelection>(
        language, QString::fromStdString(texts.GetText(TextId::LanguageGroupCaption)), BinFolder());
    languages->Initialise();
    windows.push_back({"language", std::move(languages)});
    windows.push_back({"add-special-folder", std::make_unique<CAddSpecialFolder>(dialogs)});
    auto folderType = std::make_unique<CWhatFolderType>(dialogs);
    folderType->SetInfoLines(DialogText(texts, TextId::FolderTypeInfo1),
                             DialogText(texts, TextId::FolderTypeInfo2));
    windows.push_back({"folder-type", std::move(folderType)});
    windows.push_back({"add-ftp", std::make_unique<CAddFtp>(dialogs)});
    windows.push_back({"about", std::make_unique<CAboutDlg>(nullptr)});
    // Its dry run reads the sample's copies when it is shown, below.
    const RestoreSample restoreSample;
    windows.push_back(
        {"restore", std::make_unique<CRestoreDlg>(dialogs, texts, restoreSample.setup, BinFolder())});
    for (NamedWindow& window : windows) {
        window.widget->show();
        QApplication::processEvents();
    }
    return windows;
}

void SaveScreenshot(QWidget& window, const std::string& name) {
    const char* folder = std::getenv("TARNWICK_SCREENSHOT_DIR");
    if (folder == nullptr) return;
    const QString file = QString::fromUtf8(folder) + QLatin1Char('/') + QString::fromStdString(name) + ".png";
    EXPECT_TRUE(window.grab().save(file)) << file.toStdString();
}

// The six languages of the translation file, by section header and a short name.
struct Language {
    const char* section;
    const char* suffix;
};
const Language kLanguages[] = {{"[1033]", "en"}, {"[1031]", "de"}, {"[1036]", "fr"},
                               {"[1034]", "es"}, {"[1043]", "nl"}, {"[1046]", "pt"}};

// Sets an application-wide font or palette for one test and puts the old one back.
class DesktopLookTest : public ::testing::Test {
protected:
    ~DesktopLookTest() override {
        QApplication::setFont(originalFont_);
        QApplication::setPalette(originalPalette_);
    }
    static void ScaleFont(double factor) {
        QFont font = QApplication::font();
        if (font.pointSizeF() > 0)
            font.setPointSizeF(font.pointSizeF() * factor);
        else
            font.setPixelSize(static_cast<int>(font.pixelSize() * factor + 0.5));
        QApplication::setFont(font);
    }

    TempHome home;
    ScriptedDialogs dialogs;

private:
    QFont originalFont_ = QApplication::font();
    QPalette originalPalette_ = QApplication::palette();
};

TEST_F(DesktopLookTest, EveryCaptionFitsInEveryLanguageAtTheDesktopFontAndLarger) {
    for (const double factor : {1.0, 1.25}) {
        if (factor != 1.0) ScaleFont(factor);
        for (const Language& language : kLanguages) {
            std::vector<NamedWindow> windows = OpenEveryWindow(dialogs, language.section);
            for (NamedWindow& window : windows) {
                SCOPED_TRACE(window.name + " " + language.suffix + " x" + std::to_string(factor));
                EXPECT_EQ(ClippedCaptions(*window.widget), std::vector<std::string>());
                SaveScreenshot(*window.widget,
                               window.name + "-" + language.suffix + (factor == 1.0 ? "" : "-125"));
            }
        }
    }
}

TEST_F(DesktopLookTest, AnOpenWindowMakesRoomWhenTheLanguageChanges) {
    std::vector<NamedWindow> windows = OpenEveryWindow(dialogs, "[1033]");
    auto& window = static_cast<CBackupDlg&>(*windows.front().widget);
    const int englishWidth = window.width();
    dialogs.dialogScripts.push_back([](QDialog& dialog) {
        auto* combo = dialog.findChild<QComboBox*>("languageCombo");
        combo->setCurrentIndex(combo->findText(QString::fromUtf8("Fran\xc3\xa7"
                                                                 "ais"),
                                               Qt::MatchExactly));
        dialog.findChild<QPushButton*>("okButton")->click();
    });
    window.OnCommand(CommandId::Language);
    ASSERT_EQ(window.findChild<QGroupBox*>("intervalGroup")->title(),
              QString::fromUtf8("Lancer la sauvegarde tous les ..."));
    EXPECT_GE(window.width(), englishWidth);
    EXPECT_EQ(ClippedCaptions(window), std::vector<std::string>());
}

TEST_F(DesktopLookTest, TheMainWindowGrowsWithTheDesktopFont) {
    auto window = std::move(OpenEveryWindow(dialogs, "[1033]").front().widget);
    const QSize normalSize = window->size();
    const int normalButtonHeight = window->findChild<QWidget*>("addFileButton")->height();
    const int normalTitlePixels = window->findChild<QLabel*>("titleLabel")->font().pixelSize();

    ScaleFont(1.25);
    auto larger = std::move(OpenEveryWindow(dialogs, "[1033]").front().widget);
    EXPECT_GT(larger->width(), normalSize.width());
    EXPECT_GT(larger->height(), normalSize.height());
    EXPECT_GT(larger->findChild<QWidget*>("addFileButton")->height(), normalButtonHeight);
    EXPECT_GT(larger->findChild<QLabel*>("titleLabel")->font().pixelSize(), normalTitlePixels);
    // Nothing holds a font of its own but the title: the desktop's size reaches every control.
    EXPECT_EQ(larger->findChild<QWidget*>("countdownLabel")->font(), QApplication::font());

    // A font change while the window is open reaches it as well.
    const int largerButtonHeight = larger->findChild<QWidget*>("addFileButton")->height();
    ScaleFont(1.25);
    QApplication::processEvents();
    EXPECT_GT(larger->findChild<QWidget*>("addFileButton")->height(), largerButtonHeight);
    EXPECT_EQ(larger->findChild<QWidget*>("startBackupButton")->font(), QApplication::font());
}

TEST_F(DesktopLookTest, EveryWindowReadsWellUnderADarkTheme) {
    QApplication::setPalette(DarkDesktopPalette());
    for (const Language& language : {kLanguages[0], kLanguages[1], kLanguages[2]}) {
        std::vector<NamedWindow> windows = OpenEveryWindow(dialogs, language.section);
        for (NamedWindow& window : windows) {
            SCOPED_TRACE(window.name + " " + language.suffix);
            EXPECT_EQ(PoorContrasts(*window.widget), std::vector<std::string>());
            EXPECT_EQ(PoorContrastsAsPainted(*window.widget), std::vector<std::string>());
            SaveScreenshot(*window.widget, window.name + "-" + language.suffix + "-dark");
        }
    }
    ScaleFont(1.25);
    std::vector<NamedWindow> larger = OpenEveryWindow(dialogs, "[1031]");
    SaveScreenshot(*larger.front().widget, "main-window-de-125-dark");
}

TEST_F(DesktopLookTest, AccentColoursGiveWayWhenTheThemeTurnsDark) {
    std::vector<NamedWindow> windows = OpenEveryWindow(dialogs, "[1033]");
    QWidget& window = *windows.front().widget;
    const QColor lightAccent =
        window.findChild<QLabel*>("countdownLabel")->palette().color(QPalette::WindowText);
    EXPECT_EQ(PoorContrasts(window), std::vector<std::string>());

    QApplication::setPalette(DarkDesktopPalette());
    QApplication::processEvents();
    EXPECT_NE(window.findChild<QLabel*>("countdownLabel")->palette().color(QPalette::WindowText),
              lightAccent);
    EXPECT_EQ(PoorContrasts(window), std::vector<std::string>());
}

TEST(ContrastRatioTest, FollowsTheWcagScale) {
    EXPECT_NEAR(ContrastRatio(Qt::black, Qt::white), 21.0, 0.01);
    EXPECT_NEAR(ContrastRatio(Qt::white, Qt::white), 1.0, 0.01);
    // Light grey on white, what the window showed under a dark theme before.
    EXPECT_LT(ContrastRatio(QColor(0xe6, 0xe6, 0xe6), Qt::white), kReadableContrast);
    EXPECT_NEAR(ContrastRatio(QColor(0, 0, 128), Qt::white), 16.0, 0.1);
}

}  // namespace
