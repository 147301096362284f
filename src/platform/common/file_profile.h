// The profile functions over real files, for builds without the Windows ones. Reads follow
// the INI rules of ini_document.h; a write replaces the file atomically (a temporary file in
// the same folder, then a rename), so a crash in the middle never leaves a cut-off file.
#pragma once

#include "platform/profile_file.h"

namespace vexlo {

// The program builds paths as folder + "\name"; on this platform the separator is '/'.
std::string NativePath(const std::string& path);

class FileProfile : public ProfileFile {
  public:
    std::string getString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, std::uint32_t size,
                          const std::string& path) override;
    std::int32_t writeString(const std::string& section, const std::string& key,
                             const std::string& value, const std::string& path) override;
};

}  // namespace vexlo
