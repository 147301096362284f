// Port: the profile (INI) file functions.
#pragma once

#include <cstdint>
#include <string>

namespace vexlo {

class ProfileFile {
  public:
    virtual ~ProfileFile() = default;
    // GetPrivateProfileStringA: the value of section/key, or defaultValue when the file,
    // section or key is missing, cut to size - 1 characters. Names match case-insensitively.
    virtual std::string getString(const std::string& section, const std::string& key,
                                  const std::string& defaultValue, std::uint32_t size,
                                  const std::string& path) = 0;
    // WritePrivateProfileStringA: nonzero on success, 0 on failure.
    virtual std::int32_t writeString(const std::string& section, const std::string& key,
                                     const std::string& value, const std::string& path) = 0;
};

}  // namespace vexlo
