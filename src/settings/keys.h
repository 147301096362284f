// Every key of core.ini in one table. Missing keys read as "1".
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
inline constexpr SettingKey kMixerOnLeftClick {"mixer", "mixeronleftclick"};
inline constexpr SettingKey kPathToMixer {"mixer", "pathtomixer"};
inline constexpr SettingKey kPosX {"pos", "x"};
inline constexpr SettingKey kPosY {"pos", "y"};
}  // namespace settings

}  // namespace vexlo
