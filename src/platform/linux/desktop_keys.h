// Where the desktop keeps the keys: desktops whose own key handling takes Super + = and
// Super + - before a program sees them, and the words that tell the user where to bind the
// volume commands instead.
#pragma once

#include <cstdint>
#include <string>

#include "platform/texts.h"

namespace vexlo::linux_platform {

// A key as X and the desktops know it: its keysym (XK_Up) for key grabs, and the keysym's
// name ("Up", "equal", "Page_Up", "KP_Add") for the shortcuts a desktop binds.
struct DesktopKey {
    std::uint32_t keysym = 0;  // 0: the key has none
    std::string name;
};

// The key of a virtual-key code the hotkeys may name (letters, digits, arrows, editing keys,
// F1-F24, the keypad's plus and minus, punctuation, Esc).
DesktopKey DesktopKeyFor(std::uint32_t virtualKey);

// A GNOME session (XDG_CURRENT_DESKTOP) whose mutter opens the overview with a Super key
// (org.gnome.mutter overlay-key): X key grabs of Super + key then never fire.
bool GnomeKeepsSuper();

// The end of a hotkey message: the two commands and where to bind them.
std::string BindCommandsHint(const Texts& texts);

}  // namespace vexlo::linux_platform
