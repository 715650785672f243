#include "i18n/CTranslation.h"
#include "support/TempHome.h"
#include "util/FileError.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

// A program folder of its own: a settings template with the product "Test" and
// the translation file "Testtrl.ini" beside it.
class Translation : public ::testing::Test {
protected:
    std::string TranslationFile() const { return program_.path() + "/Testtrl.ini"; }

    void WriteSettings(const std::string& language, const std::string& dialects = "") {
        WriteTestFile(program_.path() + "/config.ini",
                      "Product ID\r\nTest\r\nVersion\r\n1\r\nLanguage\r\n" + language + "\r\n" + dialects);
        // Each load resolves the settings afresh; drop the per-user copy.
        fs::remove_all(home_.ConfigHome() + "/Tarnwick");
    }
    void WriteTranslation(const std::string& bytes) { WriteTestFile(TranslationFile(), bytes); }

    CTranslation Loaded() {
        CTranslation texts(program_.path());
        texts.Load();
        return texts;
    }

    TempHome home_;
    TempFolder program_;
};

const char* const kTwoLanguages =
    "[1031]\r\n00001 Sprache\r\n00005 Deutsch\r\n[EOL]\r\n"
    "[1033]\r\n00001 Language\r\n00005 English\r\n[EOL]\r\n";

}  // namespace

TEST_F(Translation, EntryLinesAreReadLeniently) {
    WriteSettings("[1033]");
    WriteTranslation(
        "[1033]\n"
        "00930 Options\n"
        "00931xOptions\n"
        "00932\n"
        "0930 x\n"
        "00040   padded text  \r\n"
        "abcd\n"
        "\n"
        "00020 first\n"
        "00020 second\n"
        "1a2 3 letters count as zero digits\n"
        "[EOL]\n");
    const CTranslation texts = Loaded();
    EXPECT_EQ(texts.SectionHeader(), "[1033]");
    EXPECT_EQ(texts.GetText(930), "Options");
    EXPECT_EQ(texts.GetText(931), "Options");
    EXPECT_EQ(texts.GetText(932), "");
    EXPECT_EQ(texts.GetText(9300), "");  // "0930 " reads as 9300, "x" is the separator
    EXPECT_EQ(texts.GetText(40), "  padded text  ");
    EXPECT_EQ(texts.GetText(20), "first");
    EXPECT_EQ(texts.GetText(10203), "letters count as zero digits");
    EXPECT_EQ(texts.GetText(1), "---");
}

TEST_F(Translation, OnlyTheExactEndLineEndsTheSection) {
    WriteSettings("[1033]");
    WriteTranslation("[1033]\r\n00005 before\r\n[EOL] \r\n00010 after\r\n[EOL]\r\n00015 outside\r\n");
    const CTranslation texts = Loaded();
    EXPECT_EQ(texts.GetText(5), "before");
    EXPECT_EQ(texts.GetText(0), "");  // "[EOL] " is an entry numbered 0
    EXPECT_EQ(texts.GetText(10), "after");
    EXPECT_EQ(texts.GetText(15), "---");
}

TEST_F(Translation, EntryNumbered99999CutsTheTableShort) {
    WriteSettings("[1033]");
    WriteTranslation("[1033]\r\n00005 caption\r\n99999 stop here\r\n00010 hidden\r\n[EOL]\r\n");
    const CTranslation texts = Loaded();
    EXPECT_EQ(texts.GetText(5), "caption");
    EXPECT_EQ(texts.GetText(10), "stop here");
    EXPECT_EQ(texts.GetText(99999), "stop here");
}

TEST_F(Translation, SectionWithoutEndRunsToTheEndOfTheFile) {
    WriteSettings("[1033]");
    WriteTranslation("[1031]\r\n00005 Deutsch\r\n[EOL]\r\n[1033]\r\n00005 English\r\n00010 last");
    const CTranslation texts = Loaded();
    EXPECT_EQ(texts.GetText(5), "English");
    EXPECT_EQ(texts.GetText(10), "last");
}

TEST_F(Translation, SectionsNeverLeakIntoEachOther) {
    WriteSettings("[1031]");
    WriteTranslation(kTwoLanguages);
    EXPECT_EQ(Loaded().GetText(5), "Deutsch");
    WriteSettings("[1033]");
    EXPECT_EQ(Loaded().GetText(5), "English");
    // A header the file does not carry gives an empty table.
    WriteSettings("[1036]");
    const CTranslation texts = Loaded();
    EXPECT_EQ(texts.SectionHeader(), "[1036]");
    EXPECT_EQ(texts.GetText(5), "---");
    EXPECT_EQ(texts.GetText(1), "---");
}

TEST_F(Translation, MissingFileLeavesEveryTextUnknownAndNamesTheFile) {
    WriteSettings("[1033]");
    WriteTranslation(kTwoLanguages);
    CTranslation texts(program_.path());
    texts.Load();
    ASSERT_EQ(texts.GetText(5), "English");

    fs::remove(TranslationFile());
    try {
        texts.Load();
        ADD_FAILURE() << "a missing translation file was loaded";
    } catch (const FileError& error) {
        EXPECT_EQ(error.path(), TranslationFile());
    }
    EXPECT_EQ(texts.GetText(5), "---");
}

TEST_F(Translation, ExplicitLanguageIgnoresTheSystemLanguage) {
    home_.SetEnv("LANG", "de_DE.UTF-8");
    WriteSettings("[1033]", "Dialects[1031]\r\n[1031]\r\n");
    WriteTranslation(kTwoLanguages);
    EXPECT_EQ(Loaded().SectionHeader(), "[1033]");
}

TEST_F(Translation, SystemDefaultFollowsTheDialectLists) {
    WriteTranslation(kTwoLanguages);
    home_.SetEnv("LANG", "de_AT.UTF-8");  // 0c07 = 3079

    WriteSettings("[----]", "Dialects[1031]\r\n[1031] [3079]\r\nDialects[1033]\r\n[1033]\r\n");
    EXPECT_EQ(Loaded().SectionHeader(), "[1031]");
    EXPECT_EQ(Loaded().GetText(5), "Deutsch");

    // No list names 3079 and no line holds "[3079]": English.
    WriteSettings("[----]", "Dialects[1031]\r\n[1031]\r\n");
    EXPECT_EQ(Loaded().SectionHeader(), "[1033]");
}

TEST_F(Translation, LaterDialectListMayCaptureAnEarlierResult) {
    WriteTranslation(std::string(kTwoLanguages) + "[1046]\r\n00005 Portugues\r\n[EOL]\r\n");
    home_.SetEnv("LANG", "de_AT.UTF-8");
    WriteSettings("[----]", "Dialects[1031]\r\n[3079]\r\nDialects[1046]\r\n[1031]\r\n");
    EXPECT_EQ(Loaded().SectionHeader(), "[1046]");
}

TEST_F(Translation, SystemLanguageWithItsOwnSectionNeedsNoList) {
    home_.SetEnv("LANG", "de_AT.UTF-8");
    WriteSettings("[----]");
    WriteTranslation(std::string(kTwoLanguages) + "[3079]\r\n00005 Oesterreichisch\r\n[EOL]\r\n");
    EXPECT_EQ(Loaded().GetText(5), "Oesterreichisch");
}

TEST_F(Translation, UnknownSystemLanguageFallsBackToEnglish) {
    WriteTranslation(kTwoLanguages);
    WriteSettings("[----]", "Dialects[1031]\r\n[1031]\r\n");
    home_.SetEnv("LANG", "C");  // no language: "[0]"
    EXPECT_EQ(Loaded().SectionHeader(), "[1033]");
    home_.SetEnv("LANG", "xx_YY.UTF-8");
    EXPECT_EQ(Loaded().SectionHeader(), "[1033]");
}
