// Every adapter of the Linux program in one place, and the Platform that hands them to the
// core. Needs a QApplication; the event sink is set once the Application exists.
#pragma once

#include <memory>
#include <string>

#include "platform/linux/alsa_mixer.h"
#include "platform/linux/alsa_wave_in.h"
#include "platform/linux/event_port.h"
#include "platform/linux/portal_shortcuts.h"
#include "platform/linux/pulse_default.h"
#include "platform/linux/qt_images.h"
#include "platform/linux/qt_services.h"
#include "platform/linux/qt_windows.h"
#include "platform/linux/system_services.h"
#include "platform/linux/xcb_hotkeys.h"
#include "platform/platform.h"

namespace vexlo::linux_platform {

class LinuxPlatform {
  public:
    // What the adapters are for: the program itself, or the skin preview, which needs only the
    // windows and Esc (no sound server watch, no desktop shortcuts).
    enum class Use { Program, SkinPreview };
    LinuxPlatform(std::string executableFolder, std::string commandLine, const Texts& texts,
                  Use use = Use::Program);
    Platform& platform() { return platform_; }
    void setSink(EventSink* sink) { port.setSink(sink); }
    // Says why the hotkeys do not work: on stderr at once, and to the core (a balloon at the
    // icon) from the event loop.
    void reportHotkeys(const std::string& reason);

    EventPort port;
    // The sound server's default output, followed by the mixer.
    std::unique_ptr<PulseDefaultWatch> outputs;
    AlsaMixer mixer;
    AlsaWaveIn waveIn;
    QtWindowSystem windows;
    QtImageLoader images;
    QtTimerService timers;
    QtScreen screen;
    QtTray tray;
    // The hotkeys hand activations from the portal to the core: the portal is made before
    // them and destroyed after them, and they take their callback back when they go.
    PortalShortcuts shortcuts;  // the hotkeys in Wayland sessions
    XcbHotkeys hotkeys;
    LinuxProfile profile;
    CanberraSound sound;
    ProcessLauncher launcher;
    QtMessageBoxes messageBox;
    LinuxProgramInfo program;
    QtProcess process;

  private:
    Platform platform_;
};

}  // namespace vexlo::linux_platform
