#pragma once

#include "i18n/TextId.h"

#include <string>
#include <utility>
#include <vector>

// The texts of one window, looked up by number from the translation file
// "<program folder>/<Product ID>trl.ini", section chosen by the setting "Language".
class CTranslation {
public:
    CTranslation();  // program folder of the running executable
    explicit CTranslation(std::string programFolder);

    // Fills the table for the current language. When the file cannot be opened
    // the table is left empty (every text "---") and FileError names the file.
    void Load();

    // Text of the first entry with that number, "---" when there is none.
    std::string GetText(int number) const;
    std::string GetText(TextId id) const { return GetText(static_cast<int>(id)); }

    // The section header Load chose, e.g. "[1031]".
    const std::string& SectionHeader() const { return sectionHeader_; }

private:
    std::string programFolder_;
    std::string sectionHeader_;
    std::vector<std::pair<int, std::string>> table_;
};
