#include "app/MainWindowControls.h"

#include "app/CommandIds.h"
#include "app/WrappingCheckBox.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

#include <algorithm>

namespace {

constexpr int kEntryColumnWidth = 420;
// Tahoma 8 pt at 96 dpi, the size the pixel layout was drawn for.
constexpr int kDialogFontPixels = 11;
constexpr int kSmallestCaptionPixels = 8;
const QColor kNavy(0, 0, 128);
const QColor kTitleGrey(96, 96, 96);

template <typename Widget>
Widget* Make(QWidget* client, const char* objectName, int controlId) {
    auto* widget = new Widget(client);
    widget->setObjectName(QString::fromLatin1(objectName));
    widget->setProperty("controlId", controlId);
    return widget;
}

void SetTextColour(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    widget->setPalette(palette);
}

QLineEdit* MakeIntervalBox(QWidget* client, const char* objectName, int controlId, int maxLength) {
    auto* box = Make<QLineEdit>(client, objectName, controlId);
    box->setMaxLength(maxLength);
    box->setAlignment(Qt::AlignCenter);
    return box;
}

QLabel* MakeUnitLabel(QWidget* client, const char* objectName, int controlId) {
    auto* label = Make<QLabel>(client, objectName, controlId);
    SetTextColour(label, kNavy);
    return label;
}

QFont TitleFont(const QFont& dialogFont) {
    QFont font(QStringLiteral("Tahoma"));
    if (!QFontDatabase::families().contains(QStringLiteral("Tahoma"))) font = dialogFont;
    font.setPixelSize(21);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

QString VisibleCaption(QString caption) {
    // "&&" is a literal ampersand, a single "&" only marks the mnemonic.
    caption.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    caption.remove(QLatin1Char('&'));
    caption.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    return caption;
}

}  // namespace

QFont DialogFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(kDialogFontPixels);
    return font;
}

QSize InitialClientSize(const QFont& dialogFont) {
    const QFontMetrics metrics(dialogFont);
    // Dialog units: a quarter of the average character width across, an eighth
    // of the font height down.
    return {421 * metrics.averageCharWidth() / 4, 271 * metrics.height() / 8};
}

void FitCaptionFont(QWidget* control, int availableWidth) {
    auto* button = qobject_cast<QAbstractButton*>(control);
    if (button == nullptr) return;
    QFont font = DialogFont();
    const QString caption = VisibleCaption(button->text());
    // Push buttons keep a few pixels of frame on either side.
    const int room = availableWidth - 10;
    auto fits = [&](const QFont& candidate) {
        return QFontMetrics(candidate).horizontalAdvance(caption) <= room;
    };
    if (!fits(font)) font.setStretch(QFont::SemiCondensed);
    while (!fits(font) && font.pixelSize() > kSmallestCaptionPixels) font.setPixelSize(font.pixelSize() - 1);
    button->setFont(font);
}

MainWindowControls CreateMainWindowControls(QWidget* client) {
    MainWindowControls c;
    client->setFont(DialogFont());
    client->setAutoFillBackground(true);
    QPalette white = client->palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::Base, Qt::white);
    client->setPalette(white);

    c.headerLogo = Make<QLabel>(client, "headerLogo", ControlId::HeaderLogo);
    // Drawn at the size it is shown, so the artwork stays sharp.
    c.headerLogo->setPixmap(QIcon(QStringLiteral(":/icons/header-logo.svg")).pixmap(QSize(30, 30)));
    c.title = Make<QLabel>(client, "titleLabel", ControlId::Title);
    c.title->setText(QStringLiteral("Backup"));
    c.title->setFont(TitleFont(client->font()));
    SetTextColour(c.title, kTitleGrey);

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
    c.entryList->setColumnWidth(0, kEntryColumnWidth);
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
    c.daysLabel = MakeUnitLabel(client, "daysLabel", ControlId::DaysLabel);
    c.hoursLabel = MakeUnitLabel(client, "hoursLabel", ControlId::HoursLabel);
    c.minutesLabel = MakeUnitLabel(client, "minutesLabel", ControlId::MinutesLabel);

    c.behaviourGroup = Make<QGroupBox>(client, "behaviourGroup", ControlId::BehaviourGroup);
    c.fullBackup = Make<QRadioButton>(client, "fullBackupRadio", ControlId::FullBackup);
    c.incrementalBackup = Make<QRadioButton>(client, "incrementalBackupRadio", ControlId::IncrementalBackup);
    c.startWithSession = Make<WrappingCheckBox>(client, "startWithSessionCheck", ControlId::StartWithSession);
    c.options = Make<QPushButton>(client, "optionsButton", ControlId::Options);
    c.startBackup = Make<QPushButton>(client, "startBackupButton", ControlId::StartBackup);
    c.countdown = Make<QLabel>(client, "countdownLabel", ControlId::Countdown);
    SetTextColour(c.countdown, kNavy);

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
    return c;
}

void LayoutMainWindowControls(const MainWindowControls& c, int W, int H) {
    struct Placement {
        QWidget* control;
        int left, top, width, height;
    };
    const Placement table[] = {
        {c.headerLogo, 10, 5, 30, 30},
        {c.title, 48, 6, 300, 28},
        {c.filesGroup, 10, 40, W - 20, H - 260},
        {c.entryList, 22, 62, W - 176, H - 296},
        {c.addFile, W - 134, 62, 110, 22},
        {c.addFolder, W - 134, 91, 110, 22},
        {c.addSpecialFolder, W - 134, 120, 110, 22},
        {c.removeEntry, W - 134, H - 254, 110, 22},
        {c.backupFolderGroup, 10, H - 210, W - 20, 52},
        {c.destination, 22, H - 191, W - 176, 22},
        {c.browse, W - 134, H - 191, 110, 22},
        {c.intervalGroup, 10, H - 151, 152, 108},
        {c.days, 41, H - 124, 29, 18},
        {c.hours, 41, H - 101, 29, 18},
        {c.minutes, 41, H - 78, 29, 18},
        {c.daysLabel, 86, H - 123, 70, 20},
        {c.hoursLabel, 86, H - 99, 70, 20},
        {c.minutesLabel, 86, H - 75, 70, 20},
        {c.behaviourGroup, 170, H - 151, W - 326, 108},
        {c.fullBackup, 189, H - 127, W - 355, 20},
        {c.incrementalBackup, 189, H - 107, W - 355, 20},
        {c.startWithSession, 189, H - 79, W - 355, 30},
        {c.options, W - 134, H - 146, 110, 22},
        {c.startBackup, W - 134, H - 95, 110, 52},
        {c.countdown, 7, H - 25, W - 14, 13},
    };
    for (const Placement& p : table) {
        // Qt cannot hold a negative extent; a control squeezed below nothing is
        // simply empty.
        p.control->setGeometry(p.left, p.top, std::max(0, p.width), std::max(0, p.height));
    }
}
