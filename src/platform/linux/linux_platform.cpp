#include "platform/linux/linux_platform.h"

namespace vexlo::linux_platform {

LinuxPlatform::LinuxPlatform(std::string executableFolder, std::string commandLine)
    : windows(port),
      timers(port),
      tray(port),
      hotkeys(port, windows),
      program(std::move(executableFolder), std::move(commandLine)),
      platform_{mixer,   waveIn,  windows, images,   timers,     screen,  tray,
                hotkeys, profile, sound,   launcher, messageBox, program, process} {}

}  // namespace vexlo::linux_platform
