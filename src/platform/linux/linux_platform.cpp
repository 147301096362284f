#include "platform/linux/linux_platform.h"

namespace vexlo::linux_platform {

LinuxPlatform::LinuxPlatform(std::string executableFolder, std::string commandLine)
    : windows(port),
      timers(port),
      tray(port),
      hotkeys(port, windows),
      program(std::move(executableFolder), std::move(commandLine)),
      platform_{mixer,   waveIn,  windows, images,   timers,     screen,  tray,
                hotkeys, profile, sound,   launcher, messageBox, program, process} {
    tray.setMenuSource(&windows);
    // X key grabs see keys under Wayland only while an X window has the focus.
    if (PortalShortcuts::WaylandSession()) hotkeys.usePortal(shortcuts);
}

}  // namespace vexlo::linux_platform
