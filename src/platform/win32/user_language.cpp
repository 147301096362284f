#include "platform/win32/user_language.h"

#include "platform/win32/win.h"

namespace vexlo::win32 {

std::vector<std::string> UserLanguages() {
    const LCID locale = MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT);
    char language[16] = {};
    char country[16] = {};
    if (GetLocaleInfoA(locale, LOCALE_SISO639LANGNAME, language, sizeof language) == 0) return {};
    std::vector<std::string> names;
    if (GetLocaleInfoA(locale, LOCALE_SISO3166CTRYNAME, country, sizeof country) != 0)
        names.push_back(std::string(language) + "_" + country);
    names.emplace_back(language);
    return names;
}

std::string Win32Texts::translate(const char* english) const {
    const std::string text = catalogue_.translate(english);
    if (text == english) return text;
    const int wide = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                         static_cast<int>(text.size()), nullptr, 0);
    if (wide <= 0) return english;
    std::wstring utf16(static_cast<std::size_t>(wide), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf16.data(), wide);
    BOOL lost = FALSE;
    const int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, utf16.data(), wide, nullptr,
                                          0, nullptr, &lost);
    if (bytes <= 0 || lost) return english;
    std::string ansi(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, utf16.data(), wide, ansi.data(), bytes,
                        nullptr, nullptr);
    return ansi;
}

}  // namespace vexlo::win32
