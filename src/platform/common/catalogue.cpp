#include "platform/common/catalogue.h"

#include <cstddef>
#include <cstring>

namespace vexlo {

// Made at build time from po/*.po (po/embed.py): texts sorted by their English.
struct CatalogueText {
    const char* english;
    const char* translated;
};
struct CatalogueTable {
    const char* language;
    const CatalogueText* texts;
    std::size_t count;
};
extern const CatalogueTable kCatalogues[];
extern const std::size_t kCatalogueCount;

namespace {

bool IsSet(const char* value) {
    return value != nullptr && *value != '\0';
}

// "pt_BR.UTF-8@euro" → "pt_BR", then "pt".
void AddWithFallback(std::string name, std::vector<std::string>& out) {
    name = name.substr(0, name.find_first_of(".@"));
    if (name.empty() || name == "C" || name == "POSIX") return;
    auto add = [&out](const std::string& n) {
        for (const std::string& have : out) {
            if (have == n) return;
        }
        out.push_back(n);
    };
    add(name);
    const std::size_t underscore = name.find('_');
    if (underscore != std::string::npos) add(name.substr(0, underscore));
}

}  // namespace

std::vector<std::string> LanguageFallbacks(const char* language, const char* lcAll,
                                           const char* lcMessages, const char* lang) {
    const char* locale = IsSet(lcAll) ? lcAll : IsSet(lcMessages) ? lcMessages : lang;
    std::vector<std::string> out;
    // The plain C locale ignores LANGUAGE (gettext's rule: its character set is ASCII); the
    // C.UTF-8 locale does not.
    if (!IsSet(locale) || std::strcmp(locale, "C") == 0 || std::strcmp(locale, "POSIX") == 0)
        return out;
    if (!IsSet(language)) {
        AddWithFallback(locale, out);
        return out;
    }
    // The list alone, without the locale after it; "C" in it ends the search with English.
    const std::string list = language;
    std::size_t at = 0;
    while (at <= list.size()) {
        std::size_t end = list.find(':', at);
        if (end == std::string::npos) end = list.size();
        const std::string entry = list.substr(at, end - at);
        if (entry == "C" || entry == "POSIX") break;
        // gettext finds no English catalogue and goes on to the next language.
        const std::string name = entry.substr(0, entry.find_first_of(".@"));
        if (name != "en" && name.rfind("en_", 0) != 0) AddWithFallback(entry, out);
        at = end + 1;
    }
    return out;
}

std::vector<std::string> CatalogueLanguages() {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < kCatalogueCount; ++i) names.emplace_back(kCatalogues[i].language);
    return names;
}

CatalogueTexts::CatalogueTexts(const std::vector<std::string>& candidates) {
    for (const std::string& wanted : candidates) {
        // English is the program's own text: asked for before a translation, it wins.
        if (wanted == "en" || wanted.rfind("en_", 0) == 0) return;
        for (std::size_t i = 0; i < kCatalogueCount; ++i) {
            const CatalogueTable& table = kCatalogues[i];
            if (wanted != table.language) continue;
            language_ = table.language;
            for (std::size_t t = 0; t < table.count; ++t)
                texts_.emplace(table.texts[t].english, table.texts[t].translated);
            return;
        }
    }
}

std::string CatalogueTexts::translate(const char* english) const {
    const auto found = texts_.find(english);
    return found == texts_.end() ? std::string(english) : std::string(found->second);
}

}  // namespace vexlo
