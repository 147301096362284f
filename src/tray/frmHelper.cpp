#include "tray/frmHelper.h"

#include "control/frmControl.h"
#include "controller/application.h"
#include "controller/errors.h"
#include "controller/frmMain.h"
#include "settings/keys.h"

namespace vexlo {

namespace {
constexpr const char* kSystemMixer = "sndvol32";
}

void frmHelper::Form_Load() {
    if (app_.ControlOnlyMode()) {
        app_.Control().Show();
    } else {
        app_.Main();  // loading runs the start-up sequence and leaves the window hidden
    }
}

std::vector<MenuItem> frmHelper::MenuItems() const {
    return {{kMenuQuit, "Quit"}, {kMenuOpenMixer, "Open Mixer"}};
}

void frmHelper::OpMix_Click() {
    Launcher& launcher = app_.platform().launcher;
    const std::string command = app_.Settings().Read(settings::kPathToMixer);
    const LaunchResult first = launcher.start(command, SW_SHOWNORMAL);
    if (first.started) return;
    const LaunchResult fallback = launcher.start(kSystemMixer, SW_SHOWNORMAL);
    if (fallback.started) return;
    // Neither program starts: say so and keep running; a resident utility should not end
    // because a helper program is missing.
    app_.Boxes().show("The mixer program cannot be started.\n\n\"" + command +
                          "\": " + first.error + "\n\"" + kSystemMixer + "\": " + fallback.error,
                      kAppTitle, MB_OK | MB_ICONHAND);
}

void frmHelper::Quit_Click() {
    if (!app_.ControlOnlyMode()) {
        frmMain& main = app_.Main();
        if (app_.Settings().IsOn(settings::kHotkeys)) app_.HotKeys().Release(main.handle());
        if (main.TrayOn) app_.Systray().RemoveTrayIcon();
        app_.UnloadDisplay();
    }
    if (app_.ControlLoaded()) app_.UnloadControl();
    throw ProgramEnd{0};
}

}  // namespace vexlo
