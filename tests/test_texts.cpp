// The user's language: which catalogue the usual variables choose (as gettext itself does),
// what the built-in catalogues answer, the filling of their places, and the fragments put into
// translated sentences.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "hotkeys/key_chord.h"
#include "platform/common/catalogue.h"
#include "platform/common/picture_check.h"

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
        // LANGUAGE replaces the locale, but only where a locale other than C is set; English
        // has no catalogue to find and is passed over; C in the list ends it.
        {"pt_BR:es", nullptr, nullptr, "de_DE.UTF-8", {"pt_BR", "pt", "es"}},
        {"es::", nullptr, nullptr, "es_ES", {"es"}},
        {"nl", nullptr, nullptr, "de_DE.UTF-8", {"nl"}},
        {"de", nullptr, nullptr, "C.UTF-8", {"de"}},
        {"en:de", nullptr, nullptr, "de_DE.UTF-8", {"de"}},
        {"en_GB.UTF-8:fr", nullptr, nullptr, "de_DE.UTF-8", {"fr"}},
        {"fr:C:de", nullptr, nullptr, "de_DE.UTF-8", {"fr"}},
        {"de", nullptr, nullptr, nullptr, {}},
        {"de", "C", nullptr, "de_DE", {}},
        {"de", nullptr, nullptr, "POSIX", {}},
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

// gettext itself, asked through the gettext command with the program's catalogues and a
// generated locale, answers as the program does. Only installed locales count for gettext
// (setlocale must succeed), so only these are compared: de_DE.UTF-8, made here, and C.UTF-8.
class AsGettext : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        folder_ = ::testing::TempDir() + "vexlo-gettext-" + std::to_string(::getpid());
        const std::string po = VEXLO_TEST_DATA_DIR "/../../po";
        std::string script = "set -e; rm -rf '" + folder_ + "'; mkdir -p '" + folder_ + "/loc'";
        for (const std::string& lang : CatalogueLanguages()) {
            const std::string mo = folder_ + "/mo/" + lang + "/LC_MESSAGES";
            script += "; mkdir -p '" + mo + "'; msgfmt -o '" + mo + "/vexlo.mo' '" + po + "/" +
                      lang + ".po'";
        }
        script += "; timeout 120 localedef -i de_DE -f UTF-8 '" + folder_ + "/loc/de_DE.UTF-8'";
        ready_ = std::system(("bash -c \"" + script + "\" >/dev/null 2>&1").c_str()) == 0;
    }
    static void TearDownTestSuite() { std::system(("rm -rf '" + folder_ + "'").c_str()); }
    // The gettext command's translation of "Quit" with these variables (null: unset).
    static std::string Gettext(const char* language, const char* lcAll, const char* lang) {
        std::string command =
            "env -i LOCPATH='" + folder_ + "/loc' TEXTDOMAINDIR='" + folder_ + "/mo'";
        if (language) command += std::string(" LANGUAGE=") + language;
        if (lcAll) command += std::string(" LC_ALL=") + lcAll;
        if (lang) command += std::string(" LANG=") + lang;
        command += " timeout 20 gettext -d vexlo Quit";
        std::string out;
        if (FILE* pipe = ::popen(command.c_str(), "r")) {
            char buffer[256];
            while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
            ::pclose(pipe);
        }
        return out;
    }
    static std::string folder_;
    static bool ready_;
};
std::string AsGettext::folder_;
bool AsGettext::ready_ = false;

TEST_F(AsGettext, TheProgramChoosesTheLanguageGettextChooses) {
    ASSERT_TRUE(ready_) << "msgfmt, localedef (package locales) and gettext are needed";
    struct Row {
        const char* language;
        const char* lcAll;
        const char* lang;
        const char* quit;  // the answer of both
    };
    for (const Row& row : {
             Row {nullptr, nullptr, "de_DE.UTF-8", "Beenden"},
             Row {"nl", nullptr, "de_DE.UTF-8", "Quit"},
             Row {"de", nullptr, "C.UTF-8", "Beenden"},
             Row {"en:de", nullptr, "C.UTF-8", "Beenden"},
             Row {"en:ru", nullptr, "de_DE.UTF-8", "Выход"},
             Row {"pt_BR:es", nullptr, "de_DE.UTF-8", "Sair"},
             Row {"it_CH", nullptr, "de_DE.UTF-8", "Esci"},
             Row {"fr:C:de", nullptr, "de_DE.UTF-8", "Quitter"},
             Row {"nl:C:de", nullptr, "de_DE.UTF-8", "Quit"},
             Row {"es", "C", "de_DE.UTF-8", "Quit"},
             Row {"es", nullptr, nullptr, "Quit"},
             Row {nullptr, nullptr, "C.UTF-8", "Quit"},
         }) {
        const std::string where = std::string("LANGUAGE=") + (row.language ? row.language : "-") +
                                  " LC_ALL=" + (row.lcAll ? row.lcAll : "-") +
                                  " LANG=" + (row.lang ? row.lang : "-");
        // GNU C library 2.36 (Debian 12) honours LANGUAGE under C.UTF-8, as the program does;
        // 2.41 (Debian 13) takes C.UTF-8 for C there and answers in English.
        const std::string gettext = Gettext(row.language, row.lcAll, row.lang);
        const bool newerC = row.language != nullptr && row.lang != nullptr &&
                            std::string(row.lang) == "C.UTF-8" && gettext == "Quit";
        if (!newerC) { EXPECT_EQ(gettext, row.quit) << "gettext, " << where; }
        const CatalogueTexts texts(LanguageFallbacks(row.language, row.lcAll, nullptr, row.lang));
        EXPECT_EQ(Tr(texts, "Quit"), row.quit) << "Vexlo, " << where;
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

// The words of a translated fragment that are English words of the English one, where the
// languages do not share them (names of formats and modifiers, "bitmap", "pixel", ...).
std::set<std::string> EnglishLeft(const std::string& english, const std::string& translated) {
    static const std::set<std::string> shared = {
        "bmp",    "ico",   "gif",    "png",   "super", "ctrl",    "alt",         "shift", "qqq",
        "bitmap", "pixel", "pixels", "bytes", "byte",  "palette", "compression", "type",  "file"};
    const auto words = [](const std::string& text) {
        std::set<std::string> out;
        std::string word;
        for (const char c : text + " ") {
            if (std::isalpha(static_cast<unsigned char>(c))) {
                word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                continue;
            }
            if (word.size() >= 3 && shared.count(word) == 0) out.insert(word);
            word.clear();
        }
        return out;
    };
    const std::set<std::string> theirs = words(english);
    std::set<std::string> left;
    for (const std::string& word : words(translated)) {
        if (theirs.count(word) != 0) left.insert(word);
    }
    return left;
}

TEST(Languages, FragmentsPutIntoSentencesAreInTheSentencesLanguage) {
    using Bytes = std::vector<unsigned char>;
    const auto gif = [](std::uint8_t width, std::uint8_t height, std::uint8_t block) {
        return Bytes {'G', 'I', 'F', '8', '9', 'a', width, 0, height, 0, 0, 0, 0, block};
    };
    const auto bmp = [](std::uint8_t headerSize) {
        Bytes b(40, 0);
        b[0] = 'B';
        b[1] = 'M';
        b[14] = headerSize;
        return b;
    };
    // Icon files: without pictures, and with two whose data lies outside the file.
    const Bytes emptyIcon {0, 0, 1, 0, 0, 0};
    Bytes twoIcons(6 + 32, 0);
    twoIcons[2] = 1;
    twoIcons[4] = 2;
    twoIcons[6 + 12] = 200;
    struct Picture {
        Bytes bytes;
        PictureFormat named;
    };
    // One of each kind of reason: empty, unknown, another format, cut off, a header, a size,
    // an icon's picture among several, a GIF's blocks.
    const Picture pictures[] = {
        {{}, PictureFormat::Bmp},
        {{'x', 'y', 'z', 'w'}, PictureFormat::Ico},
        {{'x', 'y', 'z', 'w'}, PictureFormat::Unknown},
        {gif(1, 1, 0x3B), PictureFormat::Bmp},
        {{'B', 'M', 0, 0}, PictureFormat::Bmp},
        {bmp(99), PictureFormat::Bmp},
        {emptyIcon, PictureFormat::Ico},
        {twoIcons, PictureFormat::Ico},
        {gif(0, 1, 0x3B), PictureFormat::Gif},
        {gif(1, 1, 0x3B), PictureFormat::Gif},
        {gif(1, 1, 0x99), PictureFormat::Gif},
    };
    const char* const keySettings[] = {"", "Ctrl+", "Ctrl+Qqq", "Ctrl+A+B", "Ctrl+Alt", "A"};

    const EnglishTexts english;
    for (const std::string& language : CatalogueLanguages()) {
        const CatalogueTexts texts({language});
        const auto expectTranslated = [&](const std::string& en, const std::string& theirs) {
            EXPECT_FALSE(en.empty());
            EXPECT_EQ(EnglishLeft(en, theirs), std::set<std::string> {})
                << language << ": \"" << theirs << "\" for \"" << en << "\"";
        };
        for (const Picture& p : pictures) {
            expectTranslated(CheckPicture(p.bytes.data(), p.bytes.size(), p.named, english).reason,
                             CheckPicture(p.bytes.data(), p.bytes.size(), p.named, texts).reason);
        }
        expectTranslated(PictureSizeProblem(20000, 10, english),
                         PictureSizeProblem(20000, 10, texts));
        for (const char* setting : keySettings) {
            KeyChord chord;
            std::string en;
            std::string theirs;
            EXPECT_FALSE(ParseKeyChord(setting, chord, en, english));
            EXPECT_FALSE(ParseKeyChord(setting, chord, theirs, texts));
            expectTranslated(en, theirs);
        }
        expectTranslated(" and ", Tr(texts, " and "));
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
