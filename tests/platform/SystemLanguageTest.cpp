#include "platform/SystemLanguage.h"

#include "support/TempHome.h"

#include <gtest/gtest.h>

class SystemLanguageTest : public ::testing::Test {
protected:
    std::string IdFor(const std::string& lang) {
        home_.SetEnv("LANG", lang);
        return SystemLanguageIdHex();
    }
    TempHome home_;
};

TEST_F(SystemLanguageTest, LocaleWithTerritoryGivesItsDialect) {
    EXPECT_EQ(IdFor("de_AT.UTF-8"), "0c07");
    EXPECT_EQ(IdFor("de_DE.UTF-8"), "0407");
    EXPECT_EQ(IdFor("de_CH"), "0807");
    EXPECT_EQ(IdFor("en_GB.UTF-8"), "0809");
    EXPECT_EQ(IdFor("en_IN"), "4009");
    EXPECT_EQ(IdFor("fr_CA.UTF-8"), "0c0c");
    EXPECT_EQ(IdFor("fr_LU"), "140c");
    EXPECT_EQ(IdFor("es_ES.UTF-8"), "0c0a");
    EXPECT_EQ(IdFor("es_AR.UTF-8"), "2c0a");
    EXPECT_EQ(IdFor("es_MX"), "080a");
    EXPECT_EQ(IdFor("nl_BE.UTF-8"), "0813");
    EXPECT_EQ(IdFor("pt_PT.UTF-8"), "0816");
    EXPECT_EQ(IdFor("pt_BR.UTF-8"), "0416");
    EXPECT_EQ(IdFor("fr_BE.ISO-8859-1@euro"), "080c");
}

TEST_F(SystemLanguageTest, UnknownTerritoryFallsBackToTheLanguage) {
    EXPECT_EQ(IdFor("de_BE.UTF-8"), "0407");
    EXPECT_EQ(IdFor("es_GQ"), "0c0a");
    EXPECT_EQ(IdFor("it"), "0410");
    EXPECT_EQ(IdFor("ja_JP.UTF-8"), "0411");
}

TEST_F(SystemLanguageTest, NoLanguageGivesEmpty) {
    EXPECT_EQ(IdFor("C"), "");
    EXPECT_EQ(IdFor("C.UTF-8"), "");
    EXPECT_EQ(IdFor("POSIX"), "");
    EXPECT_EQ(IdFor("xx_YY.UTF-8"), "");
    home_.UnsetEnv("LANG");
    EXPECT_EQ(SystemLanguageIdHex(), "");
}

TEST_F(SystemLanguageTest, LcAllThenLcMessagesOverrideLang) {
    home_.SetEnv("LANG", "de_AT.UTF-8");
    home_.SetEnv("LC_MESSAGES", "fr_CH.UTF-8");
    EXPECT_EQ(SystemLanguageIdHex(), "100c");
    home_.SetEnv("LC_ALL", "nl_NL.UTF-8");
    EXPECT_EQ(SystemLanguageIdHex(), "0413");
    // An explicit "C" is an answer, not a gap to fill from LANG.
    home_.SetEnv("LC_ALL", "C");
    EXPECT_EQ(SystemLanguageIdHex(), "");
}
