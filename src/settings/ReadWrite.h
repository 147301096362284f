// ReadWrite: the settings file core.ini and the readings callers make of its values.
#pragma once

#include <cstdint>
#include <string>

#include "platform/message_box.h"
#include "platform/profile_file.h"
#include "platform/program.h"
#include "platform/screen.h"
#include "platform/texts.h"
#include "settings/keys.h"

namespace vexlo {

inline constexpr std::uint32_t kIniBufferSize = 255;
inline constexpr std::size_t kIniMaxLength = 255;

class ReadWrite {
  public:
    ReadWrite(ProfileFile& profile, ProgramInfo& program, MessageBoxes& messageBox,
              const Texts& texts);

    // IniPath becomes the settings folder, "\" and the bare file name.
    void SetIniPath(const std::string& name);
    const std::string& IniPath() const { return iniPath_; }

    // The stored text, or "1" when there is none; at most 254 characters.
    std::string ReadIni(const std::string& section, const std::string& key);
    // The same with another text for a missing key.
    std::string ReadIni(const std::string& section, const std::string& key,
                        const std::string& missing);
    // Nonzero on success, 0 when the platform could not write, -1 when the length limit
    // refused the write (after telling the user).
    std::int32_t WriteIni(const std::string& section, const std::string& key,
                          const std::string& value);

    // A flag is on when its text reads as the number 1 exactly. Text that is not a number
    // (the empty text included) is a FatalError.
    bool IsOn(const SettingKey& key);
    // A position in twips, read as a single-precision number; not a number is a FatalError.
    float Position(const SettingKey& key);
    std::string Read(const SettingKey& key) { return ReadIni(key.section, key.key); }
    // A setting whose absence means "as usual": empty when missing.
    std::string ReadOptional(const SettingKey& key) { return ReadIni(key.section, key.key, ""); }

  private:
    ProfileFile& profile_;
    ProgramInfo& program_;
    MessageBoxes& messageBox_;
    const Texts& texts_;
    std::string iniPath_;
};

// Number readings shared by the callers: plain decimal with an optional sign, decimal point
// and exponent, blanks around it allowed. Return false when the text is not such a number.
bool ParseNumber(const std::string& text, double& value);
// The setting "monitor": "primary", "pointer" or "active", whatever the case and the blanks
// around it; blanks alone or nothing is "primary". Returns false (choice left at primary) for
// any other text.
bool ReadMonitorChoice(const std::string& text, MonitorChoice& choice);
// The decimal text of a single-precision number, at most 7 significant digits.
std::string FormatSingle(float value);

}  // namespace vexlo
