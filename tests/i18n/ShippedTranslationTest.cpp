#include "i18n/CTranslation.h"
#include "storage/PowerClass.h"
#include "support/TempHome.h"
#include "util/TextFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <string>
#include <vector>

// The translation file and settings template that are installed with the program.

namespace {

// Every number the program asks for, taken from the enumeration itself so that a
// new text cannot be forgotten in the file.
std::vector<int> AllTextNumbers() {
    const std::string header = ReadTestFile(std::string(TARNWICK_SOURCE_DIR) + "/src/core/i18n/TextId.h");
    const std::regex enumerator(R"(\b\w+\s*=\s*(\d+)\s*,)");
    std::vector<int> numbers;
    for (auto it = std::sregex_iterator(header.begin(), header.end(), enumerator);
         it != std::sregex_iterator(); ++it)
        numbers.push_back(std::stoi((*it)[1].str()));
    return numbers;
}

struct Section {
    std::string header;
    std::vector<std::string> entryLines;
};

std::vector<Section> ShippedSections() {
    std::vector<Section> sections;
    bool inside = false;
    for (const std::string& line : ReadLines(BinFolder() + "/TarnwickBackuptrl.ini")) {
        if (!inside && line.size() == 6 && line.front() == '[') {
            sections.push_back({line, {}});
            inside = true;
        } else if (inside && line == "[EOL]") {
            inside = false;
        } else if (inside && line.size() >= 5) {
            sections.back().entryLines.push_back(line);
        }
    }
    return sections;
}

// The conversions ("%d", "%s", ...) a text holds, in order.
std::string Conversions(const std::string& text) {
    std::string found;
    for (std::size_t at = text.find('%'); at != std::string::npos; at = text.find('%', at + 2))
        found += at + 1 < text.size() ? text[at + 1] : '?';
    return found;
}

bool IsValidUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80           ? 1
                                   : (lead >> 5) == 0x6  ? 2
                                   : (lead >> 4) == 0xE  ? 3
                                   : (lead >> 3) == 0x1E ? 4
                                                         : 0;
        if (length == 0 || i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) >> 6) != 0x2) return false;
        i += length;
    }
    return true;
}

class ShippedTranslation : public ::testing::Test {
protected:
    ShippedTranslation() { settings_.ResolveSettingsFile(); }

    CTranslation LoadedFor(const std::string& language) {
        settings_.SetSetting("Language", language);
        CTranslation texts(BinFolder());
        texts.Load();
        return texts;
    }

    TempHome home_;
    PowerClass settings_{BinFolder()};
};

}  // namespace

TEST_F(ShippedTranslation, EverySectionDefinesEveryTextOnce) {
    const std::vector<int> numbers = AllTextNumbers();
    ASSERT_GT(numbers.size(), 100u);
    const std::vector<Section> sections = ShippedSections();
    ASSERT_EQ(sections.size(), 7u);
    for (const Section& section : sections) {
        std::map<int, int> count;
        for (const std::string& line : section.entryLines) ++count[std::stoi(line.substr(0, 5))];
        for (int number : numbers) EXPECT_EQ(count[number], 1) << section.header << " text " << number;
        EXPECT_EQ(count.size(), numbers.size())
            << section.header << " holds texts the program never asks for";

        const CTranslation texts = LoadedFor(section.header);
        for (int number : numbers) {
            const std::string text = texts.GetText(number);
            EXPECT_NE(text, "---") << section.header << " text " << number;
            EXPECT_FALSE(text.empty()) << section.header << " text " << number;
            EXPECT_TRUE(IsValidUtf8(text)) << section.header << " text " << number;
        }
    }
}

TEST_F(ShippedTranslation, FirstEntriesAreTheDialogCaptionAndTheDisplayName) {
    const std::map<std::string, std::string> displayNames = {{"[1031]", "Deutsch"},
                                                             {"[1033]", "English"},
                                                             {"[1036]", "Français"},
                                                             {"[1034]", "Español"},
                                                             {"[1043]", "Nederlands"},
                                                             {"[1046]", "Português (Brasil)"},
                                                             {"[----]", "System default language"}};
    for (const Section& section : ShippedSections()) {
        ASSERT_GE(section.entryLines.size(), 2u);
        EXPECT_EQ(section.entryLines[0].substr(0, 5), "00001") << section.header;
        EXPECT_EQ(section.entryLines[1].substr(0, 5), "00002") << section.header;
        EXPECT_EQ(section.entryLines[1].substr(6), displayNames.at(section.header));
    }
}

TEST_F(ShippedTranslation, FormatTextsTakeExactlyTheirArguments) {
    // clang-format off
    const std::map<int, std::string> expected = {
        {105, "d"}, {950, "d"}, {670, "s"}, {710, "s"}, {715, "s"}, {975, "s"}, {980, "s"},
        {986, "s"}, {987, "s"}, {988, "s"}, {989, "s"}, {993, "s"},
        {1001, "s"},
        {1041, "d"},
        {1051, "d"}, {1055, "d"},
        {1060, "d"}, {1061, "s"}, {1062, "s"}, {1063, "s"},
        {1070, "s"},
    };
    // clang-format on
    for (const Section& section : ShippedSections()) {
        const CTranslation texts = LoadedFor(section.header);
        for (int number : AllTextNumbers()) {
            const auto it = expected.find(number);
            EXPECT_EQ(Conversions(texts.GetText(number)), it == expected.end() ? "" : it->second)
                << section.header << " text " << number << ": " << texts.GetText(number);
        }
    }
}

TEST_F(ShippedTranslation, TextsJoinedToOthersKeepTheirBlanks) {
    for (const Section& section : ShippedSections()) {
        const CTranslation texts = LoadedFor(section.header);
        // The time text is followed directly by 500, 510 and 515; counts directly follow 520,
        // 530, 970; a failure follows 972.
        for (int number : {500, 510, 515})
            EXPECT_EQ(texts.GetText(number).front(), ' ') << section.header << number;
        for (int number : {520, 530, 970, 972})
            EXPECT_EQ(texts.GetText(number).back(), ' ') << section.header << number;
        // Menu items get their two leading blanks from the window.
        for (int number : {200, 205, 210, 212, 215, 220, 250, 255, 260, 265, 550, 560, 570, 580, 780, 805})
            EXPECT_NE(texts.GetText(number).front(), ' ') << section.header << number;
    }
}

TEST_F(ShippedTranslation, ACancelledRunEndsWithALineOfItsOwn) {
    for (const Section& section : ShippedSections()) {
        const CTranslation texts = LoadedFor(section.header);
        EXPECT_NE(texts.GetText(TextId::RunCancelled), texts.GetText(TextId::RunEnded)) << section.header;
        EXPECT_NE(texts.GetText(TextId::RunCancelled), texts.GetText(TextId::RunStarted)) << section.header;
    }
}

TEST_F(ShippedTranslation, SystemDefaultChoosesTheLanguageOfTheLocale) {
    ASSERT_EQ(settings_.GetSetting("Language"), "[----]");
    const std::map<std::string, std::string> expected = {
        {"de_AT.UTF-8", "[1031]"}, {"de_CH.UTF-8", "[1031]"}, {"en_GB.UTF-8", "[1033]"},
        {"en_IN", "[1033]"},       {"fr_CA.UTF-8", "[1036]"}, {"fr_BE", "[1036]"},
        {"es_ES.UTF-8", "[1034]"}, {"es_AR.UTF-8", "[1034]"}, {"es_CU", "[1034]"},
        {"es_419", "[1034]"},      {"nl_BE.UTF-8", "[1043]"}, {"pt_PT.UTF-8", "[1046]"},
        {"pt_BR.UTF-8", "[1046]"}, {"ja_JP.UTF-8", "[1033]"}, {"C", "[1033]"}};
    for (const auto& [locale, section] : expected) {
        home_.SetEnv("LANG", locale);
        CTranslation texts(BinFolder());
        texts.Load();
        EXPECT_EQ(texts.SectionHeader(), section) << locale;
    }
    home_.SetEnv("LANG", "de_AT.UTF-8");
    CTranslation texts(BinFolder());
    texts.Load();
    EXPECT_EQ(texts.GetText(TextId::LanguageName), "Deutsch");
}

TEST(ShippedTemplates, SettingsTemplateHoldsEveryKeyWithAValue) {
    const std::vector<std::string> lines = ReadLines(BinFolder() + "/config.ini");
    const PowerClass templateSettings(BinFolder());
    for (const char* key :
         {"Product ID", "Version", "Path", "Options", "Language", "Homepage", "FTPInfo", "Dialects[1031]",
          "Dialects[1033]", "Dialects[1036]", "Dialects[1034]", "Dialects[1043]", "Dialects[1046]"}) {
        const auto at = std::find(lines.begin(), lines.end(), key);
        ASSERT_NE(at, lines.end()) << key;
        EXPECT_NE(at + 1, lines.end()) << key << " has no value line";
    }
    EXPECT_EQ(templateSettings.GetSetting("Path"), "---");
    EXPECT_EQ(templateSettings.GetSetting("Options").size(), 15u);
    const std::string bytes = ReadTestFile(BinFolder() + "/config.ini");
    EXPECT_EQ(ToCrLf(bytes), bytes) << "every line ends in CR LF";
}

TEST(ShippedTemplates, HistoryAndProjectTemplatesHaveTheirFileFormats) {
    EXPECT_EQ(ReadTestFile(BinFolder() + "/history.txt"),
              "Tarnwick Backup History File\r\n=============================\r\n\r\n\r\n");
    // Eight lines, the last (the empty entry list) without a line end.
    EXPECT_EQ(
        ReadTestFile(BinFolder() + "/tarnwick_backup.tarn"),
        "Tarnwick Backup Project\r\n========================\r\n\r\nFirstStart\r\n1440\r\n1440\r\n\r\n");
}
