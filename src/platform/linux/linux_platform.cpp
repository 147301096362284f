#include "platform/linux/linux_platform.h"

#include <QTimer>

#include "platform/linux/desktop_keys.h"

namespace vexlo::linux_platform {

LinuxPlatform::LinuxPlatform(std::string executableFolder, std::string commandLine,
                             const Texts& texts, Use use)
    : windows(port),
      timers(port),
      tray(port),
      hotkeys(port, windows),
      program(std::move(executableFolder), std::move(commandLine)),
      platform_ {mixer,   waveIn, windows,  images,     timers,  screen,  tray, hotkeys,
                 profile, sound,  launcher, messageBox, program, process, texts} {
    for (UsesTexts* speaker : std::initializer_list<UsesTexts*> {&mixer, &tray, &shortcuts, &sound,
                                                                 &launcher, &hotkeys, &images})
        speaker->useTexts(texts);
    tray.setMenuSource(&windows);
    if (use == Use::SkinPreview) return;
    outputs = std::make_unique<PulseDefaultWatch>();
    mixer.followDefault(&outputs->counter());
    // X key grabs see keys under Wayland only while an X window has the focus.
    if (PortalShortcuts::WaylandSession()) hotkeys.usePortal(shortcuts);
    // The portal may answer while the core is still registering the keys.
    shortcuts.setReport([this](const std::string& reason) { reportHotkeys(reason); });
}

void LinuxPlatform::reportHotkeys(const std::string& reason) {
    PortalShortcuts::TellOnStderr(platform_.texts, reason);
    // A notification shows a few lines (some servers cut the rest): where the way out is to
    // bind the volume commands, that is all the core is told; standard error has the whole.
    const Texts& texts = platform_.texts;
    const bool bindCommands = reason.find(BindCommandsHint(texts)) != std::string::npos;
    // Ends "Vexlo cannot use {keys}: {reason}." in a notification; "them" are the
    // keys.
    const std::string told = !bindCommands
                                 ? reason
                                 : Tr(texts,
                                      "bind them to the commands \"vexlo --volume-up\" and \"vexlo "
                                      "--volume-down\" in the desktop's keyboard shortcuts");
    QTimer::singleShot(0, &shortcuts, [this, told] {
        port.deliver([&told](EventSink& sink) { sink.onHotkeysUnavailable(told); });
    });
}

}  // namespace vexlo::linux_platform
