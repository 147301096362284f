#include "platform/win32/user_language.h"

#include <cctype>
#include <cwchar>

#include "platform/win32/win.h"

namespace vexlo::win32 {

std::vector<std::string> CatalogueCandidates(const std::vector<std::string>& preferred,
                                             const std::vector<std::string>& catalogues) {
    std::vector<std::string> names;
    auto add = [&names](const std::string& name) {
        for (const std::string& have : names)
            if (have == name) return;
        names.push_back(name);
    };
    for (const std::string& windowsName : preferred) {
        // "ll", "ll-CC", "ll-Script-CC" (and "ll-Script" alone).
        std::vector<std::string> parts;
        for (std::size_t at = 0; at <= windowsName.size();) {
            std::size_t end = windowsName.find_first_of("-_", at);
            if (end == std::string::npos) end = windowsName.size();
            parts.push_back(windowsName.substr(at, end - at));
            at = end + 1;
        }
        std::string language = parts[0];
        for (char& c : language) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (language.empty()) continue;
        if (language == "en") break;
        std::string region = parts.back();
        for (char& c : region) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (parts.size() > 1 && region.size() == 2) add(language + "_" + region);
        add(language);
        for (const std::string& catalogue : catalogues)
            if (catalogue.rfind(language + "_", 0) == 0) add(catalogue);
    }
    return names;
}

std::vector<std::string> PreferredLanguages() {
    std::vector<std::string> names;
    ULONG count = 0;
    ULONG size = 0;
    if (GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &count, nullptr, &size) && size > 0) {
        std::wstring list(size, L'\0');
        if (GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &count, list.data(), &size)) {
            for (const wchar_t* name = list.c_str(); *name; name += wcslen(name) + 1) {
                std::string ascii;
                for (const wchar_t* c = name; *c; ++c)
                    ascii += *c < 0x80 ? static_cast<char>(*c) : '?';
                names.push_back(ascii);
            }
        }
    }
    if (!names.empty()) return names;
    const LCID locale = MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT);
    char language[16] = {};
    char country[16] = {};
    if (GetLocaleInfoA(locale, LOCALE_SISO639LANGNAME, language, sizeof language) == 0) return {};
    if (GetLocaleInfoA(locale, LOCALE_SISO3166CTRYNAME, country, sizeof country) != 0)
        return {std::string(language) + "-" + country};
    return {language};
}

std::wstring Widen(const std::string& text, unsigned codePage) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int wide =
        MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (wide <= 0) return {};
    std::wstring utf16(static_cast<std::size_t>(wide), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), size, utf16.data(), wide);
    return utf16;
}

std::optional<std::string> InCodePage(const std::string& utf8, unsigned codePage) {
    const std::wstring utf16 = Widen(utf8, CP_UTF8);
    if (utf16.empty()) return utf8.empty() ? std::optional<std::string>("") : std::nullopt;
    if (codePage == CP_UTF8) return utf8;
    // The flags that report a character the code page lacks are refused for UTF-8 (above);
    // every other code page takes them.
    const int wide = static_cast<int>(utf16.size());
    BOOL lost = FALSE;
    const int bytes = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, utf16.data(), wide,
                                          nullptr, 0, nullptr, &lost);
    if (bytes <= 0 || lost) return std::nullopt;
    std::string text(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, utf16.data(), wide, text.data(), bytes,
                        nullptr, nullptr);
    return text;
}

Win32Texts::Win32Texts()
    : Win32Texts(CatalogueCandidates(PreferredLanguages(), CatalogueLanguages()), GetACP()) {}

std::string Win32Texts::translate(const char* english) const {
    const std::string text = catalogue_.translate(english);
    if (text == english) return text;
    return InCodePage(text, codePage_).value_or(english);
}

}  // namespace vexlo::win32
