#include "platform/linux/desktop_keys.h"

#include <gio/gio.h>

#include <cstdlib>
#include <sstream>

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

}  // namespace

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

std::string BindCommandsHint() {
    return "bind Super + = and Super + - to the commands \"vexlo --volume-up\" and \"vexlo "
           "--volume-down\" in the desktop's own keyboard shortcuts (GNOME: Settings, Keyboard, "
           "Custom Shortcuts; Sway and i3: bindsym in the config file)";
}

}  // namespace vexlo::linux_platform
