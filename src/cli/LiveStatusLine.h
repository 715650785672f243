#pragma once

#include <cstddef>
#include <optional>
#include <ostream>
#include <string>

// One line of a terminal rewritten in place ("\r", the text cut to the width,
// the rest of the line cleared). Lines printed meanwhile (errors) go above it.
class LiveStatusLine {
public:
    LiveStatusLine(std::ostream& out, std::size_t width) : out_(out), width_(width) {}

    std::size_t Width() const { return width_; }
    void Show(const std::string& text);
    // A whole line above the live one, which is drawn again below it.
    void PrintAbove(const std::string& line);
    // Ends the live line where it stands (it stays readable); the next Show
    // starts a new one.
    void Finish();

private:
    void Draw();

    std::ostream& out_;
    std::size_t width_;
    std::string text_;
    bool drawn_ = false;
};

// The column count of the terminal `stream` writes to: only std::cerr on a
// terminal has one (80 when the terminal does not tell).
std::optional<std::size_t> TerminalWidthOf(const std::ostream& stream);

// The text cut to at most `columns` characters, never inside a character.
std::string FitToColumns(const std::string& text, std::size_t columns);
