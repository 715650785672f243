#pragma once

#include <string>
#include <vector>

class Dialogs;
class QPrinter;
class QWidget;

// Fixed layout of a printed log, in device units of a 600 dpi printer.
namespace PrintLayout {
inline constexpr int kResolution = 600;
inline constexpr int kFontPixelSize = 90;
inline constexpr int kLeft = 200;
inline constexpr int kTop = 200;
inline constexpr int kRowStep = 100;
inline constexpr int kLastRowStart = 5800;  // a line starting below this begins a new page
inline constexpr int kRowCharacters = 84;
}  // namespace PrintLayout

// Lets the user choose a printer and prints the lines (UTF-8) in the fixed
// layout; A4 and Letter paper both print as A4 portrait, other sizes are refused
// with a message. Returns true when the whole document was printed.
bool PrintLines(QWidget* parent, Dialogs& dialogs, const std::vector<std::string>& lines);

// Prints on a printer already set up (A4 portrait, 600 dpi).
bool PrintLinesOn(QPrinter& printer, const std::vector<std::string>& lines);
