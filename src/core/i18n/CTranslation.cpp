#include "i18n/CTranslation.h"

#include "platform/ProcessInfo.h"
#include "storage/PowerClass.h"
#include "util/LenientNumbers.h"
#include "util/TextFile.h"

#include <array>
#include <cstdio>
#include <string_view>

namespace {

constexpr int kTerminatorNumber = 99999;
constexpr std::string_view kMissingText = "---";
constexpr std::string_view kSystemDefault = "[----]";
constexpr std::string_view kFallbackSection = "[1033]";
constexpr std::string_view kSectionEnd = "[EOL]";
constexpr std::size_t kNumberWidth = 5;
constexpr std::size_t kTextStart = 6;  // after the number and one separator character

// Main languages in the order their dialect lists are consulted; a later list may
// capture the header an earlier one produced.
constexpr std::array<int, 6> kMainLanguages = {1031, 1033, 1036, 1034, 1043, 1046};

std::string BracketedId(int id) {
    char text[16];
    std::snprintf(text, sizeof text, "[%d]", id);
    return text;
}

// The system language, captured by the first main language whose dialect list
// names it; a language the file does not carry falls back to English.
std::string SystemDefaultSection(PowerClass& settings, const std::string& translationFile) {
    settings.SetRegistryKeyPath("SYSTEM\\CurrentControlSet\\Control\\Nls\\Language");
    std::string section = BracketedId(ParseLenientHex(settings.ReadRegistryString(2, "Default")));
    for (int mainLanguage : kMainLanguages) {
        const std::string dialects = settings.GetSetting("Dialects" + BracketedId(mainLanguage));
        if (dialects.find(section) != std::string::npos) section = BracketedId(mainLanguage);
    }
    return FileContainsText(translationFile, section) ? section : std::string(kFallbackSection);
}

}  // namespace

CTranslation::CTranslation() : CTranslation(::ProgramFolder()) {}

CTranslation::CTranslation(std::string programFolder)
    : programFolder_(std::move(programFolder)), table_{{kTerminatorNumber, std::string(kMissingText)}} {}

void CTranslation::Load() {
    // Whatever fails below leaves a table in which every text reads "---".
    table_.assign({{kTerminatorNumber, std::string(kMissingText)}});
    sectionHeader_.clear();

    PowerClass settings(programFolder_);
    settings.ResolveSettingsFile();
    const std::string translationFile = programFolder_ + "/" + settings.GetSetting("Product ID") + "trl.ini";

    const std::string language = settings.GetSetting("Language");
    std::string header =
        language == kSystemDefault ? SystemDefaultSection(settings, translationFile) : language;

    const std::vector<std::string> lines = ReadLines(translationFile);
    std::vector<std::pair<int, std::string>> table;
    std::size_t i = 0;
    while (i < lines.size() && lines[i] != header) ++i;
    // A section without "[EOL]" runs to the end of the file.
    for (++i; i < lines.size() && lines[i] != kSectionEnd; ++i) {
        const std::string& line = lines[i];
        if (line.size() < kNumberWidth) continue;
        const int number = ParseLenientDecimal(std::string_view(line).substr(0, kNumberWidth));
        table.emplace_back(number, line.size() > kTextStart ? line.substr(kTextStart) : std::string());
    }
    table.emplace_back(kTerminatorNumber, std::string(kMissingText));

    table_ = std::move(table);
    sectionHeader_ = std::move(header);
}

std::string CTranslation::GetText(int number) const {
    // The terminator (or an entry the file numbered 99999) ends the search.
    for (const auto& [entryNumber, text] : table_)
        if (entryNumber == number || entryNumber == kTerminatorNumber) return text;
    return std::string(kMissingText);
}
