// Where the desktop keeps the keys: desktops whose own key handling takes Super + = and
// Super + - before a program sees them, and the words that tell the user where to bind the
// volume commands instead.
#pragma once

#include <string>

namespace vexlo::linux_platform {

// A GNOME session (XDG_CURRENT_DESKTOP) whose mutter opens the overview with a Super key
// (org.gnome.mutter overlay-key): X key grabs of Super + key then never fire.
bool GnomeKeepsSuper();

// The end of a hotkey message: the two commands and where to bind them.
std::string BindCommandsHint();

}  // namespace vexlo::linux_platform
