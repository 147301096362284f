// The translations built into the program (from po/*.po) and the choice of one by the
// user's language settings.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "platform/texts.h"

namespace vexlo {

// The catalogues to try for the user's language, best first, each as a catalogue names it
// ("pt_BR", then "pt"), chosen as gettext chooses: from what the usual variables hold, each
// null when unset. The locale is the first set of LC_ALL, LC_MESSAGES and LANG; unset, "C" or
// "POSIX" it is English whatever LANGUAGE says. Otherwise a LANGUAGE colon list replaces it
// (up to a "C" in the list; English in it is passed over, as gettext finds no English
// catalogue; the locale is not tried after the list), and without LANGUAGE
// the locale itself is tried. Codesets and modifiers ("de_DE.UTF-8@euro") are left out. No
// locale need be installed: the catalogues are built in.
std::vector<std::string> LanguageFallbacks(const char* language, const char* lcAll,
                                           const char* lcMessages, const char* lang);

// The names of the languages the program has catalogues for, in the order of po/LINGUAS.
std::vector<std::string> CatalogueLanguages();

class CatalogueTexts : public Texts {
  public:
    // Takes the first of the candidates that has a catalogue; none, or English first: English.
    explicit CatalogueTexts(const std::vector<std::string>& candidates);
    std::string translate(const char* english) const override;
    // The catalogue in use, "" for English.
    const std::string& language() const { return language_; }

  private:
    std::string language_;
    std::unordered_map<std::string, const char*> texts_;
};

}  // namespace vexlo
