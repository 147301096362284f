// Key combinations as users write them in core.ini ("Ctrl+Alt+Up", "Super+="): modifiers
// Super (also Win, Meta), Ctrl, Alt and Shift joined by "+" to one key, the key a single
// character or a name. Case and blanks around the parts do not matter.
#pragma once

#include <cstdint>
#include <string>

#include "platform/texts.h"

namespace vexlo {

struct KeyChord {
    std::uint32_t modifiers = 0;  // MOD_ALT, MOD_CONTROL, MOD_SHIFT, MOD_WIN
    std::uint32_t virtualKey = 0;
    bool operator==(const KeyChord& other) const {
        return modifiers == other.modifiers && virtualKey == other.virtualKey;
    }
    bool operator!=(const KeyChord& other) const { return !(*this == other); }
};

// Reads a combination. False, with why in `problem` (in the language of `texts`), for text
// that names no key, names more than one, has a part that is not a modifier or a key, or would
// take a key from typing (a character, arrow or editing key without Ctrl, Alt or Super).
bool ParseKeyChord(const std::string& text, KeyChord& chord, std::string& problem,
                   const Texts& texts = EnglishTexts());

// The key as the settings write it: "=", "A", "Up", "F5", "KP_Add"; empty for a key that has
// no such name.
std::string KeyNameOf(std::uint32_t virtualKey);

// The parts of a combination's name in the user's language, for the platforms' names:
// "Ctrl + Alt + Shift + " for MOD_CONTROL, MOD_ALT and MOD_SHIFT (German "Strg + Alt +
// Umschalt + "); the logo key has each system's own name and is left to the caller.
std::string ModifierNames(std::uint32_t modifiers, const Texts& texts);
// A key by the label on it: "+" and "-" are the words "plus" and "minus" (a "+" also joins the
// parts), any other label stays as it is.
std::string KeyLabel(const std::string& label, const Texts& texts);
// A combination as Windows names it: "Windows + Ctrl + " and the key's name.
std::string WindowsCombination(std::uint32_t modifiers, const std::string& key, const Texts& texts);
// A key known by its code alone: "key 124".
std::string UnnamedKey(std::uint32_t code, const Texts& texts);

}  // namespace vexlo
