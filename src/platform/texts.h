// Port: the user's language. Every text the user reads is written in the program in English
// and looked up here; a language without a catalogue, or a text its catalogue lacks, reads as
// the English.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>

namespace vexlo {

class Texts {
  public:
    virtual ~Texts() = default;
    // The text in the user's language, in the encoding the platform's output takes.
    virtual std::string translate(const char* english) const = 0;
};

// English as written.
class EnglishTexts final : public Texts {
  public:
    std::string translate(const char* english) const override { return english; }
};

// For an adapter that speaks to the user: English until the composition root hands it the
// user's language.
class UsesTexts {
  public:
    void useTexts(const Texts& texts) { texts_ = &texts; }

  protected:
    const Texts& texts() const { return texts_ != nullptr ? *texts_ : english_; }

  private:
    EnglishTexts english_;
    const Texts* texts_ = nullptr;
};

// Looks a text up. The English is a literal: the template of the catalogues (po/vexlo.pot) is
// extracted from the calls of Tr and N_.
inline std::string Tr(const Texts& texts, const char* english) {
    return texts.translate(english);
}

// Marks a literal for the template where it is looked up later, through a variable.
constexpr const char* N_(const char* english) {
    return english;
}

// Puts values into the {name} places of a text; translations may order them as their language
// needs. A name without a value stays as written.
inline std::string Fill(std::string text,
                        std::initializer_list<std::pair<const char*, std::string>> values) {
    std::string out;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t open = text.find('{', at);
        const std::size_t close = open == std::string::npos ? open : text.find('}', open);
        if (close == std::string::npos) break;
        out.append(text, at, open - at);
        const std::string name = text.substr(open + 1, close - open - 1);
        const std::pair<const char*, std::string>* value = nullptr;
        for (const auto& v : values) {
            if (name == v.first) value = &v;
        }
        out += value != nullptr ? value->second : text.substr(open, close - open + 1);
        at = close + 1;
    }
    out.append(text, at, std::string::npos);
    return out;
}

}  // namespace vexlo
