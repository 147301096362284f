// The user's language: which catalogue the usual variables choose, what the built-in
// catalogues answer, and the filling of their places.
#include <gtest/gtest.h>

#include "platform/common/catalogue.h"

namespace vexlo::testing {
namespace {

TEST(Languages, TheVariablesChooseAsGettextDoes) {
    struct Row {
        const char* language;
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        std::vector<std::string> candidates;
    };
    // clang-format off
    const Row rows[] = {
        {nullptr, nullptr, nullptr, "de_DE.UTF-8", {"de_DE", "de"}},
        {nullptr, nullptr, nullptr, "pt_BR.UTF-8@latin", {"pt_BR", "pt"}},
        {nullptr, nullptr, "ru_RU.KOI8-R", "de_DE.UTF-8", {"ru_RU", "ru"}},
        {nullptr, "fr_CA", "ru_RU", "de_DE", {"fr_CA", "fr"}},
        {nullptr, "", "", "it", {"it"}},
        // LANGUAGE lists the wishes first, but only where a locale is set at all.
        {"pt_BR:es", nullptr, nullptr, "de_DE.UTF-8", {"pt_BR", "pt", "es", "de_DE", "de"}},
        {"es::", nullptr, nullptr, "es_ES", {"es", "es_ES"}},
        {"de", nullptr, nullptr, nullptr, {}},
        {"de", "C", nullptr, "de_DE", {}},
        {nullptr, "POSIX", nullptr, nullptr, {}},
        {nullptr, nullptr, nullptr, "C.UTF-8", {}},
        {nullptr, nullptr, nullptr, nullptr, {}},
    };
    // clang-format on
    for (const Row& row : rows) {
        EXPECT_EQ(LanguageFallbacks(row.language, row.lcAll, row.lcMessages, row.lang),
                  row.candidates)
            << (row.language ? row.language : "-") << " " << (row.lcAll ? row.lcAll : "-") << " "
            << (row.lcMessages ? row.lcMessages : "-") << " " << (row.lang ? row.lang : "-");
    }
}

TEST(Languages, TheBuiltInCataloguesAnswerInTheFirstLanguageTheyHave) {
    ASSERT_EQ(CatalogueLanguages(),
              (std::vector<std::string> {"de", "es", "fr", "it", "pt_BR", "ru"}));
    struct Row {
        std::vector<std::string> candidates;
        const char* language;
        const char* quit;
    };
    for (const Row& row :
         {Row {{"de_AT", "de"}, "de", "Beenden"}, Row {{"pt_BR", "pt"}, "pt_BR", "Sair"},
          Row {{"ru_RU", "ru"}, "ru", "Выход"}, Row {{"xx_YY", "xx", "fr"}, "fr", "Quitter"},
          // English asked for first is English, even with a catalogue after it.
          Row {{"en_GB", "en", "de"}, "", "Quit"}, Row {{"pt_PT", "pt"}, "", "Quit"},
          Row {{}, "", "Quit"}}) {
        const CatalogueTexts texts(row.candidates);
        EXPECT_EQ(texts.language(), row.language) << row.quit;
        EXPECT_EQ(Tr(texts, "Quit"), row.quit);
        // A text no catalogue has reads as written.
        EXPECT_EQ(Tr(texts, "not a text of the program"), "not a text of the program");
    }
}

TEST(Languages, PlacesAreFilledInTheTranslationsOrder) {
    EXPECT_EQ(Fill("{b} vor {a}", {{"a", "1"}, {"b", "2"}}), "2 vor 1");
    // A value is not read again for places; an unknown or open place stays as written.
    EXPECT_EQ(Fill("{a}{c} {", {{"a", "{c}"}}), "{c}{c} {");
    EXPECT_EQ(Fill("", {}), "");
}

}  // namespace
}  // namespace vexlo::testing
