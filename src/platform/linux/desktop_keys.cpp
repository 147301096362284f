#include "platform/linux/desktop_keys.h"

#include <gio/gio.h>

#include <cstdlib>
#include <sstream>

#include "platform/types.h"

namespace vexlo::linux_platform {

namespace {

bool DesktopIs(const std::string& name) {
    const char* desktops = std::getenv("XDG_CURRENT_DESKTOP");
    if (desktops == nullptr) return false;
    std::stringstream list(desktops);
    std::string entry;
    while (std::getline(list, entry, ':')) {
        if (g_ascii_strcasecmp(entry.c_str(), name.c_str()) == 0) return true;
    }
    return false;
}

struct NamedKeysym {
    std::uint32_t virtualKey;
    std::uint32_t keysym;
    const char* name;
};

// The names are xkbcommon's (and GTK's) keysym names, as portals read triggers.
constexpr NamedKeysym kKeys[] = {
    {VK_OEM_PLUS, 0x3d, "equal"},  // the "= +" key
    {VK_OEM_MINUS, 0x2d, "minus"},
    {VK_ESCAPE, 0xff1b, "Escape"},
    {VK_SPACE, 0x20, "space"},
    {VK_PRIOR, 0xff55, "Page_Up"},
    {VK_NEXT, 0xff56, "Page_Down"},
    {VK_END, 0xff57, "End"},
    {VK_HOME, 0xff50, "Home"},
    {VK_LEFT, 0xff51, "Left"},
    {VK_UP, 0xff52, "Up"},
    {VK_RIGHT, 0xff53, "Right"},
    {VK_DOWN, 0xff54, "Down"},
    {VK_INSERT, 0xff63, "Insert"},
    {VK_DELETE, 0xffff, "Delete"},
    {VK_ADD, 0xffab, "KP_Add"},
    {VK_SUBTRACT, 0xffad, "KP_Subtract"},
    {VK_OEM_1, 0x3b, "semicolon"},
    {VK_OEM_COMMA, 0x2c, "comma"},
    {VK_OEM_PERIOD, 0x2e, "period"},
    {VK_OEM_2, 0x2f, "slash"},
    {VK_OEM_3, 0x60, "grave"},
    {VK_OEM_4, 0x5b, "bracketleft"},
    {VK_OEM_5, 0x5c, "backslash"},
    {VK_OEM_6, 0x5d, "bracketright"},
    {VK_OEM_7, 0x27, "apostrophe"},
};

constexpr std::uint32_t kFunctionKeys = 24;
constexpr std::uint32_t kXkF1 = 0xffbe;  // F1 to F35 follow one another

}  // namespace

DesktopKey DesktopKeyFor(std::uint32_t virtualKey) {
    // A letter's key is its lower-case symbol, the one without Shift.
    if (virtualKey >= 'A' && virtualKey <= 'Z') {
        const char lower = static_cast<char>(virtualKey - 'A' + 'a');
        return {static_cast<std::uint32_t>(lower), std::string(1, lower)};
    }
    if (virtualKey >= '0' && virtualKey <= '9') {
        return {virtualKey, std::string(1, static_cast<char>(virtualKey))};
    }
    if (virtualKey >= VK_F1 && virtualKey < VK_F1 + kFunctionKeys) {
        const std::uint32_t n = virtualKey - VK_F1;
        return {kXkF1 + n, "F" + std::to_string(n + 1)};
    }
    for (const NamedKeysym& key : kKeys) {
        if (key.virtualKey == virtualKey) return {key.keysym, key.name};
    }
    return {};
}

bool GnomeKeepsSuper() {
    if (!DesktopIs("GNOME")) return false;
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    GSettingsSchema* schema =
        source != nullptr ? g_settings_schema_source_lookup(source, "org.gnome.mutter", TRUE)
                          : nullptr;
    if (schema == nullptr) return false;
    const bool hasKey = g_settings_schema_has_key(schema, "overlay-key");
    g_settings_schema_unref(schema);
    if (!hasKey) return false;
    GSettings* settings = g_settings_new("org.gnome.mutter");
    gchar* key = g_settings_get_string(settings, "overlay-key");
    const bool super = key != nullptr && g_str_has_prefix(key, "Super");
    g_free(key);
    g_object_unref(settings);
    return super;
}

std::string BindCommandsHint(const Texts& texts) {
    // TRANSLATORS: {gnome} is the way to GNOME's custom shortcuts, "Settings → Keyboard → ...".
    return Fill(Tr(texts,
                   "bind Super + plus and Super + minus to the commands \"vexlo --volume-up\" and "
                   "\"vexlo --volume-down\" in the desktop's own keyboard shortcuts "
                   "(GNOME: {gnome}; Sway and i3: bindsym in the config file)"),
                // TRANSLATORS: Fills {gnome} in "bind ... (GNOME: {gnome}; ...)". Each step is
                // the label GNOME Settings shows in the user's language ("Settings",
                // "Keyboard", "View and Customize Shortcuts", "Custom Shortcuts").
                {{"gnome", Tr(texts,
                              "Settings → Keyboard → View and Customize Shortcuts → "
                              "Custom Shortcuts")}});
}

}  // namespace vexlo::linux_platform
