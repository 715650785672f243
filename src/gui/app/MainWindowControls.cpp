#include "app/MainWindowControls.h"

#include "app/CommandIds.h"
#include "app/WrappingCheckBox.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTreeWidget>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kEntryColumnWidth = 420;
// The pixel layout was drawn for an 11-pixel dialog font; it grows with the
// desktop's font from there.
constexpr double kDrawnFontPixels = 11.0;
constexpr int kDrawnTitlePixels = 21;
const QColor kNavy(0, 0, 128);
const QColor kTitleGrey(96, 96, 96);

template <typename Widget>
Widget* Make(QWidget* client, const char* objectName, int controlId) {
    auto* widget = new Widget(client);
    widget->setObjectName(QString::fromLatin1(objectName));
    widget->setProperty("controlId", controlId);
    return widget;
}

QLineEdit* MakeIntervalBox(QWidget* client, const char* objectName, int controlId, int maxLength) {
    auto* box = Make<QLineEdit>(client, objectName, controlId);
    box->setMaxLength(maxLength);
    box->setAlignment(Qt::AlignCenter);
    return box;
}

QFont TitleFont(const QFont& dialogFont) {
    QFont font(QStringLiteral("Tahoma"));
    if (!QFontDatabase::families().contains(QStringLiteral("Tahoma"))) font = dialogFont;
    font.setPixelSize(static_cast<int>(kDrawnTitlePixels * LayoutScale(dialogFont) + 0.5));
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

// Pixels a check box keeps left of its caption for the indicator and spacing.
int CheckBoxTextRoom(QCheckBox* box) {
    QStyleOptionButton option;
    option.initFrom(box);
    return box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box).left();
}

int WrappedTextHeight(QWidget* control, int width) {
    const QString caption = qobject_cast<QAbstractButton*>(control)->text();
    return control->fontMetrics()
        .boundingRect(QRect(0, 0, std::max(1, width), 10000), Qt::TextWordWrap | Qt::TextShowMnemonic,
                      caption)
        .height();
}

double RelativeLuminance(const QColor& colour) {
    auto channel = [](double value) {
        return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    const QColor rgb = colour.toRgb();
    return 0.2126 * channel(rgb.redF()) + 0.7152 * channel(rgb.greenF()) + 0.0722 * channel(rgb.blueF());
}

}  // namespace

double LayoutScale(const QFont& font) {
    return QFontInfo(font).pixelSize() / kDrawnFontPixels;
}

double ContrastRatio(const QColor& first, const QColor& second) {
    const double a = RelativeLuminance(first);
    const double b = RelativeLuminance(second);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

QSize InitialClientSize(const QFont& dialogFont) {
    const QFontMetrics metrics(dialogFont);
    // Dialog units: a quarter of the average character width across, an eighth
    // of the font height down.
    return {421 * metrics.averageCharWidth() / 4, 271 * metrics.height() / 8};
}

void ApplyAccentColours(const MainWindowControls& c) {
    // The accents only where they read well on the desktop's background; on a
    // dark theme the theme's own text colour instead.
    // The window's palette: the one a theme change reaches first.
    const QPalette desktop = c.filesGroup->window()->palette();
    auto accent = [&desktop](QWidget* widget, const QColor& preferred) {
        const QColor colour = ContrastRatio(preferred, desktop.color(QPalette::Window)) >= kReadableContrast
                                  ? preferred
                                  : desktop.color(QPalette::WindowText);
        QPalette palette = widget->palette();
        palette.setColor(QPalette::WindowText, colour);
        palette.setColor(QPalette::Text, colour);
        widget->setPalette(palette);
    };
    for (QLabel* label : {c.daysLabel, c.hoursLabel, c.minutesLabel, c.countdown}) accent(label, kNavy);
    accent(c.title, kTitleGrey);
}

void ApplyFonts(const MainWindowControls& c) {
    const QFont& font = c.filesGroup->parentWidget()->font();
    c.title->setFont(TitleFont(font));
    c.entryList->setColumnWidth(0, static_cast<int>(kEntryColumnWidth * LayoutScale(font) + 0.5));
}

MainWindowControls CreateMainWindowControls(QWidget* client) {
    MainWindowControls c;

    c.headerLogo = Make<QLabel>(client, "headerLogo", ControlId::HeaderLogo);
    // Drawn at the size it is shown, so the artwork stays sharp.
    c.headerLogo->setPixmap(QIcon(QStringLiteral(":/icons/header-logo.svg")).pixmap(QSize(30, 30)));
    c.title = Make<QLabel>(client, "titleLabel", ControlId::Title);
    c.title->setText(QStringLiteral("Backup"));

    c.filesGroup = Make<QGroupBox>(client, "filesGroup", ControlId::FilesGroup);
    c.entryList = Make<QTreeWidget>(client, "entryList", ControlId::EntryList);
    c.entryList->setColumnCount(1);
    c.entryList->setRootIsDecorated(false);
    c.entryList->setUniformRowHeights(true);
    c.entryList->setSortingEnabled(false);
    c.entryList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    c.entryList->setSelectionBehavior(QAbstractItemView::SelectRows);
    c.entryList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    c.entryList->header()->setStretchLastSection(false);
    c.entryList->header()->setSectionsMovable(false);
    c.addFile = Make<QPushButton>(client, "addFileButton", ControlId::AddFile);
    c.addFolder = Make<QPushButton>(client, "addFolderButton", ControlId::AddFolder);
    c.addSpecialFolder = Make<QPushButton>(client, "addSpecialFolderButton", ControlId::AddSpecialFolder);
    c.removeEntry = Make<QPushButton>(client, "removeEntryButton", ControlId::RemoveEntry);

    c.backupFolderGroup = Make<QGroupBox>(client, "backupFolderGroup", ControlId::BackupFolderGroup);
    c.destination = Make<QLineEdit>(client, "destinationEdit", ControlId::Destination);
    // The box only shows the destination; Browse is how it changes.
    c.destination->setReadOnly(true);
    c.browse = Make<QPushButton>(client, "browseButton", ControlId::Browse);

    c.intervalGroup = Make<QGroupBox>(client, "intervalGroup", ControlId::IntervalGroup);
    c.days = MakeIntervalBox(client, "daysEdit", ControlId::Days, 3);
    c.hours = MakeIntervalBox(client, "hoursEdit", ControlId::Hours, 2);
    c.minutes = MakeIntervalBox(client, "minutesEdit", ControlId::Minutes, 2);
    c.daysLabel = Make<QLabel>(client, "daysLabel", ControlId::DaysLabel);
    c.hoursLabel = Make<QLabel>(client, "hoursLabel", ControlId::HoursLabel);
    c.minutesLabel = Make<QLabel>(client, "minutesLabel", ControlId::MinutesLabel);

    c.behaviourGroup = Make<QGroupBox>(client, "behaviourGroup", ControlId::BehaviourGroup);
    c.fullBackup = Make<QRadioButton>(client, "fullBackupRadio", ControlId::FullBackup);
    c.incrementalBackup = Make<QRadioButton>(client, "incrementalBackupRadio", ControlId::IncrementalBackup);
    c.startWithSession = Make<WrappingCheckBox>(client, "startWithSessionCheck", ControlId::StartWithSession);
    c.options = Make<QPushButton>(client, "optionsButton", ControlId::Options);
    c.startBackup = Make<QPushButton>(client, "startBackupButton", ControlId::StartBackup);
    c.countdown = Make<QLabel>(client, "countdownLabel", ControlId::Countdown);

    // Enter ends the window like its other ways out; no button is the default.
    for (QPushButton* button :
         {c.addFile, c.addFolder, c.addSpecialFolder, c.removeEntry, c.browse, c.options, c.startBackup}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    // The group boxes are frames only; the controls inside them are siblings, so
    // stack the frames below everything else.
    for (QGroupBox* group : {c.filesGroup, c.backupFolderGroup, c.intervalGroup, c.behaviourGroup})
        group->lower();
    ApplyAccentColours(c);
    ApplyFonts(c);
    return c;
}

MainWindowGrid MeasureMainWindow(const MainWindowControls& c) {
    MainWindowGrid grid;
    grid.scale = LayoutScale(c.filesGroup->parentWidget()->font());
    const auto px = [&grid](int pixels) { return grid.Px(pixels); };
    grid.buttonWidth = px(110);
    for (QPushButton* button :
         {c.addFile, c.addFolder, c.addSpecialFolder, c.removeEntry, c.browse, c.options, c.startBackup})
        grid.buttonWidth = std::max(grid.buttonWidth, button->sizeHint().width());
    grid.unitLabelWidth = px(70);
    for (QLabel* label : {c.daysLabel, c.hoursLabel, c.minutesLabel})
        grid.unitLabelWidth = std::max(grid.unitLabelWidth, label->sizeHint().width());
    // The unit labels start 76 pixels into the group; its title needs its own room.
    grid.intervalWidth = std::max(
        {px(152), px(76) + grid.unitLabelWidth + px(4), c.intervalGroup->minimumSizeHint().width() + px(8)});
    int captionWidth = std::max(c.fullBackup->sizeHint().width(), c.incrementalBackup->sizeHint().width());
    // The start-with-session caption may wrap onto a second line, never a third.
    const int checkRoom = CheckBoxTextRoom(c.startWithSession);
    const int twoLines = 2 * c.startWithSession->fontMetrics().height();
    int checkWidth =
        checkRoom + c.startWithSession->fontMetrics().horizontalAdvance(c.startWithSession->text()) / 2;
    while (WrappedTextHeight(c.startWithSession, checkWidth - checkRoom) > twoLines) checkWidth += px(4);
    captionWidth = std::max(captionWidth, checkWidth);
    grid.behaviourWidth =
        std::max(captionWidth + px(29), c.behaviourGroup->minimumSizeHint().width() + px(8));
    return grid;
}

QSize MinimumFittingClientSize(const MainWindowGrid& grid) {
    // Interval group, behaviour group and button column side by side, with the
    // gaps of the drawn layout between them.
    const int width = grid.Px(10) + grid.intervalWidth + grid.Px(8) + grid.behaviourWidth + grid.Px(22) +
                      grid.buttonWidth + grid.Px(24);
    return {width, grid.Px(400)};
}

void LayoutMainWindowControls(const MainWindowControls& c, int W, int H) {
    const MainWindowGrid grid = MeasureMainWindow(c);
    const auto px = [&grid](int pixels) { return grid.Px(pixels); };
    const int buttonLeft = W - px(24) - grid.buttonWidth;
    const int listWidth = buttonLeft - px(42);
    const int behaviourLeft = px(10) + grid.intervalWidth + px(8);
    const int behaviourWidth = buttonLeft - px(22) - behaviourLeft;
    const int unitLeft = px(86);
    const int lineHeight = c.countdown->fontMetrics().height();
    struct Placement {
        QWidget* control;
        int left, top, width, height;
    };
    const Placement table[] = {
        {c.headerLogo, px(10), px(5), px(30), px(30)},
        {c.title, px(48), px(6), px(300), px(28)},
        {c.filesGroup, px(10), px(40), W - px(20), H - px(260)},
        {c.entryList, px(22), px(62), listWidth, H - px(296)},
        {c.addFile, buttonLeft, px(62), grid.buttonWidth, px(22)},
        {c.addFolder, buttonLeft, px(91), grid.buttonWidth, px(22)},
        {c.addSpecialFolder, buttonLeft, px(120), grid.buttonWidth, px(22)},
        {c.removeEntry, buttonLeft, H - px(254), grid.buttonWidth, px(22)},
        {c.backupFolderGroup, px(10), H - px(210), W - px(20), px(52)},
        {c.destination, px(22), H - px(191), listWidth, px(22)},
        {c.browse, buttonLeft, H - px(191), grid.buttonWidth, px(22)},
        {c.intervalGroup, px(10), H - px(151), grid.intervalWidth, px(108)},
        {c.days, px(41), H - px(124), px(29), px(18)},
        {c.hours, px(41), H - px(101), px(29), px(18)},
        {c.minutes, px(41), H - px(78), px(29), px(18)},
        {c.daysLabel, unitLeft, H - px(123), grid.unitLabelWidth, px(20)},
        {c.hoursLabel, unitLeft, H - px(99), grid.unitLabelWidth, px(20)},
        {c.minutesLabel, unitLeft, H - px(75), grid.unitLabelWidth, px(20)},
        {c.behaviourGroup, behaviourLeft, H - px(151), behaviourWidth, px(108)},
        {c.fullBackup, behaviourLeft + px(19), H - px(127), behaviourWidth - px(29), px(20)},
        {c.incrementalBackup, behaviourLeft + px(19), H - px(107), behaviourWidth - px(29), px(20)},
        {c.startWithSession, behaviourLeft + px(19), H - px(79), behaviourWidth - px(29), px(30)},
        {c.options, buttonLeft, H - px(146), grid.buttonWidth, px(22)},
        {c.startBackup, buttonLeft, H - px(95), grid.buttonWidth, px(52)},
        {c.countdown, px(7), H - px(25), W - px(14), std::max(px(13), lineHeight)},
    };
    for (const Placement& p : table) {
        // Qt cannot hold a negative extent; a control squeezed below nothing is
        // simply empty.
        p.control->setGeometry(p.left, p.top, std::max(0, p.width), std::max(0, p.height));
    }
}
