#include "hotkeys/key_chord.h"

#include <cctype>
#include <vector>

#include "platform/hotkeys.h"
#include "platform/types.h"

namespace vexlo {

namespace {

struct NamedKey {
    const char* name;
    std::uint32_t virtualKey;
};

// The first name of a key is the one it is written back with.
// clang-format off
constexpr NamedKey kNamedKeys[] = {
    {"=", VK_OEM_PLUS}, {"-", VK_OEM_MINUS}, {"Equal", VK_OEM_PLUS}, {"Plus", VK_OEM_PLUS},
    {"+", VK_OEM_PLUS}, {"Minus", VK_OEM_MINUS}, {"Up", VK_UP}, {"Down", VK_DOWN},
    {"Left", VK_LEFT}, {"Right", VK_RIGHT}, {"PageUp", VK_PRIOR}, {"PageDown", VK_NEXT},
    {"Home", VK_HOME}, {"End", VK_END}, {"Insert", VK_INSERT}, {"Delete", VK_DELETE},
    {"Space", VK_SPACE}, {"KP_Add", VK_ADD}, {"KP_Subtract", VK_SUBTRACT},
    {",", VK_OEM_COMMA}, {".", VK_OEM_PERIOD}, {";", VK_OEM_1}, {"/", VK_OEM_2},
    {"`", VK_OEM_3}, {"[", VK_OEM_4}, {"\\", VK_OEM_5}, {"]", VK_OEM_6}, {"'", VK_OEM_7},
};
// clang-format on

constexpr int kFunctionKeys = 24;

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::uint32_t ModifierOf(const std::string& lower) {
    if (lower == "super" || lower == "win" || lower == "meta") return MOD_WIN;
    if (lower == "ctrl" || lower == "control") return MOD_CONTROL;
    if (lower == "alt") return MOD_ALT;
    if (lower == "shift") return MOD_SHIFT;
    return 0;
}

std::uint32_t KeyOf(const std::string& part) {
    if (part.size() == 1) {
        const auto c =
            static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(part[0])));
        if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return c;
    }
    const std::string lower = Lower(part);
    for (const NamedKey& key : kNamedKeys) {
        if (Lower(key.name) == lower) return key.virtualKey;
    }
    if (lower.size() >= 2 && lower[0] == 'f' &&
        lower.find_first_not_of("0123456789", 1) == std::string::npos && lower.size() <= 3) {
        const int n = std::stoi(lower.substr(1));
        if (n >= 1 && n <= kFunctionKeys) return VK_F1 + static_cast<std::uint32_t>(n - 1);
    }
    return 0;
}

// Keys that stay free for typing: taken without Ctrl, Alt or Super they would stop working
// in every other program.
bool TypingKey(std::uint32_t virtualKey) {
    const bool function = virtualKey >= VK_F1 && virtualKey < VK_F1 + kFunctionKeys;
    return !function && virtualKey != VK_ADD && virtualKey != VK_SUBTRACT;
}

}  // namespace

bool ParseKeyChord(const std::string& text, KeyChord& chord, std::string& problem,
                   const Texts& texts) {
    if (Trim(text).empty()) {
        // TRANSLATORS: Why a key setting cannot be read; fills {problem} in "The setting ...
        // is not a key combination Vexlo can use ({problem}); ...". "It" is the setting's
        // value.
        problem = Tr(texts, "it names no key");
        return false;
    }
    // "+" joins the parts; a "+" at the end after another one is the plus key itself.
    std::vector<std::string> parts;
    std::string part;
    for (char c : text) {
        if (c == '+') {
            parts.push_back(Trim(part));
            part.clear();
        } else {
            part += c;
        }
    }
    parts.push_back(Trim(part));
    if (parts.size() >= 2 && parts.back().empty() && parts[parts.size() - 2].empty()) {
        parts.pop_back();
        parts.back().assign(1, '+');
    }
    KeyChord read;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (parts[i].empty()) {
            // TRANSLATORS: Why a key setting cannot be read (see "it names no key").
            problem = Tr(texts, "a \"+\" with nothing on one side");
            return false;
        }
        if (const std::uint32_t modifier = ModifierOf(Lower(parts[i])); modifier != 0) {
            read.modifiers |= modifier;
            continue;
        }
        const std::uint32_t key = KeyOf(parts[i]);
        if (key == 0) {
            // TRANSLATORS: Why a key setting cannot be read (see "it names no key"). {part} is
            // the part of the setting as the user wrote it; Super, Ctrl, Alt and Shift are the
            // words the setting takes, so they stay as written.
            problem = Fill(Tr(texts, "\"{part}\" is neither a key nor Super, Ctrl, Alt or Shift"),
                           {{"part", parts[i]}});
            return false;
        }
        if (read.virtualKey != 0) {
            // TRANSLATORS: Why a key setting cannot be read (see "it names no key").
            problem = Tr(texts, "it names more than one key");
            return false;
        }
        read.virtualKey = key;
    }
    if (read.virtualKey == 0) {
        // TRANSLATORS: Why a key setting cannot be read (see "it names no key").
        problem = Tr(texts, "it names no key, only modifiers");
        return false;
    }
    if ((read.modifiers & (MOD_CONTROL | MOD_ALT | MOD_WIN)) == 0 && TypingKey(read.virtualKey)) {
        // TRANSLATORS: Why a key setting cannot be read (see "it names no key"): a key such as
        // a letter or an arrow, pressed alone, would no longer type in other programs.
        problem = Tr(texts, "without Super, Ctrl or Alt it would take the key from typing");
        return false;
    }
    chord = read;
    return true;
}

std::string KeyNameOf(std::uint32_t virtualKey) {
    if ((virtualKey >= 'A' && virtualKey <= 'Z') || (virtualKey >= '0' && virtualKey <= '9'))
        return std::string(1, static_cast<char>(virtualKey));
    if (virtualKey >= VK_F1 && virtualKey < VK_F1 + kFunctionKeys)
        return std::string("F").append(std::to_string(virtualKey - VK_F1 + 1));
    for (const NamedKey& key : kNamedKeys) {
        if (key.virtualKey == virtualKey) return key.name;
    }
    return "";
}

std::string ModifierNames(std::uint32_t modifiers, const Texts& texts) {
    std::string name;
    if (modifiers & MOD_CONTROL) {
        // TRANSLATORS: the Control key as keyboards label it, a part of a key combination's
        // name ("Ctrl + Alt + Up"); German keyboards say "Strg".
        name += Tr(texts, "Ctrl") + " + ";
    }
    if (modifiers & MOD_ALT) {
        // TRANSLATORS: the Alt key as keyboards label it, a part of a key combination's name
        // ("Ctrl + Alt + Up").
        name += Tr(texts, "Alt") + " + ";
    }
    if (modifiers & MOD_SHIFT) {
        // TRANSLATORS: the Shift key as keyboards label it, a part of a key combination's name
        // ("Ctrl + Shift + A"); German keyboards say "Umschalt".
        name += Tr(texts, "Shift") + " + ";
    }
    return name;
}

std::string KeyLabel(const std::string& label, const Texts& texts) {
    // TRANSLATORS: the key that carries "+", the last part of a key combination's name
    // ("Windows + plus"), as people call that key.
    if (label == "+") return Tr(texts, "plus");
    // TRANSLATORS: the key that carries "-", the last part of a key combination's name
    // ("Windows + minus"), as people call that key.
    if (label == "-") return Tr(texts, "minus");
    return label;
}

std::string UnnamedKey(std::uint32_t code, const Texts& texts) {
    // TRANSLATORS: a key that has no name or label, the last part of a key combination's name
    // ("Ctrl + key 124"); {number} is the key's code.
    return Fill(Tr(texts, "key {number}"), {{"number", std::to_string(code)}});
}

std::string WindowsCombination(std::uint32_t modifiers, const std::string& key,
                               const Texts& texts) {
    std::string name;
    if (modifiers & MOD_WIN) {
        // TRANSLATORS: the Windows logo key, a part of a key combination's name
        // ("Windows + plus").
        name += Tr(texts, "Windows") + " + ";
    }
    return name + ModifierNames(modifiers, texts) + key;
}

std::string HotkeyService::combinationName(std::uint32_t modifiers,
                                           std::uint32_t virtualKey) const {
    // The plus and minus keys are those on every layout, whatever else they carry.
    std::string key;
    if (virtualKey == VK_OEM_PLUS) {
        key = KeyLabel("+", texts());
    } else if (virtualKey == VK_OEM_MINUS) {
        key = KeyLabel("-", texts());
    } else {
        key = KeyNameOf(virtualKey);
        if (key.empty()) key = UnnamedKey(virtualKey, texts());
    }
    return WindowsCombination(modifiers, key, texts());
}

}  // namespace vexlo
