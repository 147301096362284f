// The profile-file rules on INI text, shared by every build that has no profile functions of
// its own: look a value up, and set one while keeping every other line as it was.
#pragma once

#include <optional>
#include <string>

namespace vexlo::ini {

// The value of key in section (names match case-insensitively, the first match wins), with
// blanks around it and one pair of enclosing quotes removed. nullopt when there is none.
std::optional<std::string> Lookup(const std::string& text, const std::string& section,
                                  const std::string& key);

// The text with section/key set to value: the key's line replaced in place, or a line added
// at the end of the section, or the section added at the end of the text. Other lines, the
// comments and the line endings stay as they were.
std::string Update(const std::string& text, const std::string& section, const std::string& key,
                   const std::string& value);

}  // namespace vexlo::ini
