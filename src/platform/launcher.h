// Port: starting another program by its command line.
#pragma once

#include <string>

namespace vexlo {

struct LaunchResult {
    bool started = false;
    std::string error;  // why it did not start
};

class Launcher {
  public:
    virtual ~Launcher() = default;
    // Starts the command line in a new process shown with showCommand; does not wait.
    // "sndvol32" names the system's own volume control program.
    virtual LaunchResult start(const std::string& commandLine, int showCommand) = 0;
};

}  // namespace vexlo
