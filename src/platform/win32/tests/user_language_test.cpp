#include "platform/win32/user_language.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32/services.h"

namespace vexlo::win32 {
namespace {

// The catalogue the program takes for the user's preferred interface languages: the first that
// has one, in that region or another (as the installer takes its language); English ends the
// search, and a Windows name with a script or no region counts.
TEST(UserLanguage, TheFirstPreferredLanguageWithACatalogueIsTaken) {
    const struct {
        std::vector<std::string> preferred;
        const char* language;
    } cases[] = {
        {{"de-DE"}, "de"},
        {{"nl-NL", "de-DE"}, "de"},
        {{"pt-PT"}, "pt_BR"},
        {{"pt-br", "de-DE"}, "pt_BR"},
        {{"nl-NL", "pt-PT", "ru-RU"}, "pt_BR"},
        {{"en-GB", "ru-RU"}, ""},
        {{"EN", "de"}, ""},
        {{"sr-Latn-RS", "ru"}, "ru"},
        {{"es-419"}, "es"},
        {{}, ""},
    };
    for (const auto& c : cases) {
        const CatalogueTexts catalogue(CatalogueCandidates(c.preferred, CatalogueLanguages()));
        EXPECT_EQ(catalogue.language(), c.language) << testing::PrintToString(c.preferred);
    }
}

// The catalogue's texts in the code page the A functions take: whole or not at all. A Russian
// text under a Western code page would come out as question marks, so the English is shown;
// under "UTF-8 for worldwide language support" (65001) every language is shown as it is.
TEST(UserLanguage, TextsAreShownInTheCodePageOrInEnglish) {
    const std::string russian = CatalogueTexts({"ru"}).translate("Quit");
    const std::string german = CatalogueTexts({"de"}).translate("Open Mixer");
    ASSERT_NE(russian, "Quit");
    EXPECT_EQ(InCodePage(russian, 65001), russian);
    EXPECT_EQ(InCodePage(russian, 1252), std::nullopt);
    ASSERT_TRUE(InCodePage(russian, 1251));
    EXPECT_EQ(Widen(*InCodePage(russian, 1251), 1251), Widen(russian, CP_UTF8));
    EXPECT_EQ(InCodePage("\xC3\x28", 65001), std::nullopt) << "not UTF-8";

    EXPECT_EQ(Win32Texts({"ru"}, 65001).translate("Quit"), russian);
    EXPECT_EQ(Win32Texts({"ru"}, 1251).translate("Quit"), *InCodePage(russian, 1251));
    EXPECT_EQ(Win32Texts({"ru"}, 1252).translate("Quit"), "Quit");
    EXPECT_EQ(Win32Texts({"de"}, 65001).translate("Open Mixer"), german);
    EXPECT_EQ(Win32Texts({"de"}, 1252).translate("Open Mixer"), *InCodePage(german, 1252));
}

}  // namespace
}  // namespace vexlo::win32
