#pragma once

#include <QSize>

class QCheckBox;
class QColor;
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
// "controlId" property, fixed limits, accent colours and the title font.
MainWindowControls CreateMainWindowControls(QWidget* client);

// Sizes of the layout's parts for the current font and captions: the drawn
// pixel layout scaled with the font, and widened where a caption needs more.
struct MainWindowGrid {
    double scale = 1.0;
    int buttonWidth = 0;
    int unitLabelWidth = 0;
    int intervalWidth = 0;
    int behaviourWidth = 0;
    int Px(int drawnPixels) const { return static_cast<int>(drawnPixels * scale + 0.5); }
};
MainWindowGrid MeasureMainWindow(const MainWindowControls& controls);
// The smallest client area in which every caption of the grid fits.
QSize MinimumFittingClientSize(const MainWindowGrid& grid);

// Places the controls for a client area of width x height pixels. Very small
// sizes give empty controls; nothing is clamped.
void LayoutMainWindowControls(const MainWindowControls& controls, int width, int height);

// Colours, and the title font and list column width, that follow the desktop's
// palette and font; applied again when either changes.
void ApplyAccentColours(const MainWindowControls& controls);
void ApplyFonts(const MainWindowControls& controls);

// How much larger than the 11-pixel font the layout was drawn for this font is.
double LayoutScale(const QFont& font);
// Client size of the 421 x 271 dialog-unit window in the given font.
QSize InitialClientSize(const QFont& dialogFont);

// Contrast between two colours as WCAG defines it (1 to 21); text reads well
// from kReadableContrast on.
double ContrastRatio(const QColor& first, const QColor& second);
inline constexpr double kReadableContrast = 4.5;
