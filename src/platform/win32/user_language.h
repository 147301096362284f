// The user's language on Windows: the catalogue for the interface language the user chose,
// its texts in the ANSI code page that the program's windows, menu, tray and boxes take.
#pragma once

#include <string>
#include <vector>

#include "platform/common/catalogue.h"

namespace vexlo::win32 {

// The user's interface language as catalogues name it, best first ("pt_BR", "pt").
std::vector<std::string> UserLanguages();

class Win32Texts final : public Texts {
  public:
    Win32Texts() : catalogue_(UserLanguages()) {}
    // A translation the code page cannot show (Russian under a Western code page) would reach
    // the user as question marks: the English is shown instead.
    std::string translate(const char* english) const override;

  private:
    CatalogueTexts catalogue_;
};

}  // namespace vexlo::win32
