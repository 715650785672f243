#include "cli/LiveStatusLine.h"

#include "util/ShortenedPath.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <iostream>

namespace {
constexpr std::size_t kDefaultColumns = 80;
constexpr const char* kClearToEnd = "\x1b[K";
}  // namespace

void LiveStatusLine::Show(const std::string& text) {
    text_ = text;
    Draw();
}

void LiveStatusLine::PrintAbove(const std::string& line) {
    if (drawn_) out_ << '\r' << kClearToEnd;
    out_ << line << '\n';
    drawn_ = false;
    if (!text_.empty()) Draw();
    out_ << std::flush;
}

void LiveStatusLine::Finish() {
    if (drawn_) out_ << '\n' << std::flush;
    drawn_ = false;
    text_.clear();
}

// The last column is left free: a terminal that wraps there would push the
// next rewrite onto a new line.
void LiveStatusLine::Draw() {
    out_ << '\r' << FitToColumns(text_, width_ > 1 ? width_ - 1 : 1) << kClearToEnd << std::flush;
    drawn_ = true;
}

std::optional<std::size_t> TerminalWidthOf(const std::ostream& stream) {
    if (&stream != &std::cerr || ::isatty(STDERR_FILENO) != 1) return std::nullopt;
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return kDefaultColumns;
    return size.ws_col;
}

std::string FitToColumns(const std::string& text, std::size_t columns) {
    if (CharacterCount(text) <= columns) return text;
    std::size_t end = 0;
    for (std::size_t count = 0; end < text.size() && count < columns; ++count) {
        ++end;
        while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
    }
    return text.substr(0, end);
}
