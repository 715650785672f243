#pragma once

#include <QSize>

class QCheckBox;
class QFont;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTreeWidget;
class QWidget;

// The controls of the main window's client area, created once and placed by
// LayoutMainWindowControls on every resize.
struct MainWindowControls {
    QLabel* headerLogo = nullptr;
    QLabel* title = nullptr;
    QGroupBox* filesGroup = nullptr;
    QTreeWidget* entryList = nullptr;
    QPushButton* addFile = nullptr;
    QPushButton* addFolder = nullptr;
    QPushButton* addSpecialFolder = nullptr;
    QPushButton* removeEntry = nullptr;
    QGroupBox* backupFolderGroup = nullptr;
    QLineEdit* destination = nullptr;
    QPushButton* browse = nullptr;
    QGroupBox* intervalGroup = nullptr;
    QLineEdit* days = nullptr;
    QLineEdit* hours = nullptr;
    QLineEdit* minutes = nullptr;
    QLabel* daysLabel = nullptr;
    QLabel* hoursLabel = nullptr;
    QLabel* minutesLabel = nullptr;
    QGroupBox* behaviourGroup = nullptr;
    QRadioButton* fullBackup = nullptr;
    QRadioButton* incrementalBackup = nullptr;
    QCheckBox* startWithSession = nullptr;
    QPushButton* options = nullptr;
    QPushButton* startBackup = nullptr;
    QLabel* countdown = nullptr;
};

// Creates every control as a child of client, with object names, the
// "controlId" property, fixed limits and the white-and-navy colours.
MainWindowControls CreateMainWindowControls(QWidget* client);

// Places the controls for a client area of width x height pixels. Very small
// sizes give empty controls; nothing is clamped.
void LayoutMainWindowControls(const MainWindowControls& controls, int width, int height);

// The font the window's controls use: the desktop's sans font at the size of a
// classic 8-point dialog font.
QFont DialogFont();
// Client size of the 421 x 271 dialog-unit window in the given font.
QSize InitialClientSize(const QFont& dialogFont);

// Shrinks a button's font (narrower, then smaller) until its caption fits its
// width, so long translations stay readable instead of being cut off.
void FitCaptionFont(QWidget* control, int availableWidth);
