// Port: what the program knows about itself, and ending the process.
#pragma once

#include <string>

namespace vexlo {

class ProgramInfo {
  public:
    virtual ~ProgramInfo() = default;
    // The folder that holds the skin files; the program appends literals such as "\back.bmp".
    virtual std::string folder() const = 0;
    // The folder that holds core.ini (the program folder on Windows).
    virtual std::string settingsFolder() const = 0;
    // The argument text after the program's own name, as the platform hands it over.
    virtual std::string commandLine() const = 0;
    // A path the program built (a folder above, "\\" and a file name) as the user sees it on
    // this system.
    virtual std::string nativePath(const std::string& path) const { return path; }
};

class Process {
  public:
    virtual ~Process() = default;
    // Ends the process with the exit code. It may return (to let an event loop unwind); the
    // core handles no event after it.
    virtual void exit(int code) = 0;
};

}  // namespace vexlo
