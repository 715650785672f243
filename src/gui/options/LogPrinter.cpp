#include "options/LogPrinter.h"

#include "dialogs/Dialogs.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPrinter>

namespace {

// Courier New where it is installed, otherwise the system's monospaced font:
// the 84-character rows rely on a fixed pitch.
QFont PrintFont() {
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    if (!QFontInfo(font).exactMatch()) font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(PrintLayout::kFontPixelSize);
    font.setWeight(QFont::Thin);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

// Only the two office sizes fit the layout; both print as A4 portrait.
bool SetA4Portrait(QPrinter& printer) {
    const QPageSize::PageSizeId size = printer.pageLayout().pageSize().id();
    if (size != QPageSize::A4 && size != QPageSize::Letter) return false;
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageOrientation(QPageLayout::Portrait);
    return true;
}

// Rows count characters, not bytes, so a multi-byte character is never cut.
std::u32string Characters(const std::string& line) {
    return QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())).toStdU32String();
}

}  // namespace

bool PrintLines(QWidget* parent, Dialogs& dialogs, const std::vector<std::string>& lines) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setResolution(PrintLayout::kResolution);
    if (!dialogs.ChoosePrinter(parent, printer)) return false;
    if (!SetA4Portrait(printer)) {
        dialogs.ShowMessage(parent, QStringLiteral("The paper format you selected is not supported!"),
                            QStringLiteral("Tarnwick Printing Error"));
        return false;
    }
    // The dialog may have changed it; the layout is in 600 dpi device units.
    printer.setResolution(PrintLayout::kResolution);
    return PrintLinesOn(printer, lines);
}

bool PrintLinesOn(QPrinter& printer, const std::vector<std::string>& lines) {
    using namespace PrintLayout;
    printer.setDocName(QStringLiteral("Printing Screen"));
    QPainter painter;
    if (!painter.begin(&printer)) return false;
    painter.setFont(PrintFont());
    const int ascent = painter.fontMetrics().ascent();

    bool status = true;
    int y = 0;
    for (const std::string& line : lines) {
        if (y > kLastRowStart) {
            y = 0;
            if (status) status = printer.newPage();
        }
        std::u32string rest = Characters(line);
        while (!rest.empty()) {
            const bool longer = rest.size() > static_cast<std::size_t>(kRowCharacters);
            const std::u32string piece = longer ? rest.substr(0, kRowCharacters) : rest;
            // The row's top edge lies at y + kTop, like a top-aligned text cell.
            painter.drawText(kLeft, y + kTop + ascent, QString::fromStdU32String(piece));
            rest.erase(0, piece.size());
            if (longer) y += kRowStep;
        }
        y += kRowStep;
    }
    return painter.end() && status;
}
