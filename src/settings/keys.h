// Every key of core.ini in one table. Missing keys read as "1" unless said otherwise.
#pragma once

namespace vexlo {

struct SettingKey {
    const char* section;
    const char* key;
};

namespace settings {
inline constexpr SettingKey kOnTop {"general", "ontop"};
inline constexpr SettingKey kTrayIcon {"general", "trayicon"};
inline constexpr SettingKey kHotkeys {"general", "hotkeys"};
inline constexpr SettingKey kSoundOn {"general", "soundon"};
// The monitor the display appears on: primary, pointer or active; read as empty when missing.
inline constexpr SettingKey kMonitor {"general", "monitor"};
// The hotkeys' combinations; these two read as empty, not "1", when missing.
inline constexpr SettingKey kHotkeyUp {"general", "hotkeyup"};
inline constexpr SettingKey kHotkeyDown {"general", "hotkeydown"};
inline constexpr SettingKey kMixerOnLeftClick {"mixer", "mixeronleftclick"};
inline constexpr SettingKey kPathToMixer {"mixer", "pathtomixer"};
inline constexpr SettingKey kPosX {"pos", "x"};
inline constexpr SettingKey kPosY {"pos", "y"};
}  // namespace settings

}  // namespace vexlo
