// Errors that end the program. They travel up to the guarded dispatch point of Application,
// which shows a message box captioned with the program's title and ends the process.
#pragma once

#include <stdexcept>
#include <string>

namespace vexlo {

inline constexpr const char* kAppTitle = "Vexlo";

class FatalError : public std::runtime_error {
  public:
    explicit FatalError(const std::string& message) : std::runtime_error(message) {}
};

// Thrown by the quit operation once it has done its work: the process ends with the code.
struct ProgramEnd {
    int exitCode = 0;
};

}  // namespace vexlo
