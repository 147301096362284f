// The user's language on Windows: the catalogue for the first of the user's preferred interface
// languages that has one, its texts in the ANSI code page that the program's windows, menu,
// tray and boxes take.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/common/catalogue.h"

namespace vexlo::win32 {

// The catalogues to try for the user's preferred interface languages, given as Windows names
// them ("de-DE", "pt-PT", "sr-Latn-RS"), best first: each as a catalogue names it ("pt_PT",
// "pt"), then the catalogues of the same language for another region ("pt_BR"), as the
// installer chooses its language too. English ends the list: it is the program's own.
std::vector<std::string> CatalogueCandidates(const std::vector<std::string>& preferred,
                                             const std::vector<std::string>& catalogues);

// The user's preferred interface languages as Windows names them, best first (the display
// language when the list cannot be read).
std::vector<std::string> PreferredLanguages();

// A UTF-8 text in the code page the A functions take, or nothing when that code page cannot
// show all of it. Code page 65001 (Windows' "Unicode UTF-8 for worldwide language support")
// takes the UTF-8 as it is.
std::optional<std::string> InCodePage(const std::string& utf8, unsigned codePage);

// A text in the code page `codePage` as UTF-16 (for the W functions); "" when it is not valid
// there.
std::wstring Widen(const std::string& text, unsigned codePage);

class Win32Texts final : public Texts {
  public:
    Win32Texts();
    Win32Texts(const std::vector<std::string>& candidates, unsigned codePage)
        : catalogue_(candidates), codePage_(codePage) {}
    // A translation the code page cannot show (Russian under a Western code page) would reach
    // the user as question marks: the English is shown instead.
    std::string translate(const char* english) const override;
    const std::string& language() const { return catalogue_.language(); }

  private:
    CatalogueTexts catalogue_;
    unsigned codePage_;
};

}  // namespace vexlo::win32
