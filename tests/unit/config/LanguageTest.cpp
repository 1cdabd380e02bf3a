#include <gtest/gtest.h>

#include <windows.h>

#include "config/Language.h"

using vexlo::detail::selectLocaleCode;

namespace {

struct Entry {
    unsigned short id;
    const char* code;
};

// The entries users meet most, the two Chinese forms that differ only by sublanguage, and an unknown one.
constexpr Entry kKnown[] = {
    {0x0407, "de_DE"}, {0x0007, "de"}, {0x0804, "zh_CN"}, {0x0404, "zh_TW"}, {0x0416, "pt_BR"}, {0x0042, "en"},
};

}  // namespace

TEST(Language, ChosenIdentifiersGiveTheirCodes) {
    for (const Entry& e : kKnown) EXPECT_EQ(selectLocaleCode(e.id), e.code) << std::hex << e.id;
}

TEST(Language, FullIdentifierBeforePrimaryLanguage) {
    EXPECT_EQ(selectLocaleCode(0x0407), "de_DE");
    EXPECT_EQ(selectLocaleCode(0x0C07), "de_AT");
    EXPECT_EQ(selectLocaleCode(0x0C0A), "es_ES");
    EXPECT_EQ(selectLocaleCode(0x040A), "es_ES");
    EXPECT_EQ(selectLocaleCode(0x040D), "iw_IL");
    EXPECT_EQ(selectLocaleCode(0x0421), "in_ID");
    // Codes without a country, and the one longer code.
    EXPECT_EQ(selectLocaleCode(0x2409), "en");
    EXPECT_EQ(selectLocaleCode(0x0431), "ts");
    EXPECT_EQ(selectLocaleCode(0x0814), "no_NO_NY");
}

TEST(Language, UnknownSublanguageFallsBackToItsPrimaryLanguage) {
    EXPECT_EQ(selectLocaleCode(0x1C07), "de");
    EXPECT_EQ(selectLocaleCode(0x7C04), "zh");
    EXPECT_EQ(selectLocaleCode(0x4409), "en");
    EXPECT_EQ(selectLocaleCode(0x0819), "ru_MD");
    EXPECT_EQ(selectLocaleCode(0x0C19), "ru");
    // Only the low 10 bits form the primary language.
    EXPECT_EQ(selectLocaleCode(0xFC16), "pt");
}

TEST(Language, UnknownPrimaryLanguageGivesEn) {
    EXPECT_EQ(selectLocaleCode(0x0042), "en");
    EXPECT_EQ(selectLocaleCode(0x0442), "en");
    EXPECT_EQ(selectLocaleCode(0x0028), "en");
    EXPECT_EQ(selectLocaleCode(0x0000), "en");
    EXPECT_EQ(selectLocaleCode(0x03FF), "en");
    EXPECT_EQ(selectLocaleCode(0xFFFF), "en");
}

TEST(Language, SelectionFollowsTheUserInterfaceLanguage) {
    EXPECT_EQ(vexlo::languageSelection(), selectLocaleCode(GetUserDefaultUILanguage()));
}
