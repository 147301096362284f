#include "tray/frmHelper.h"

#include "control/frmControl.h"
#include "controller/application.h"
#include "controller/errors.h"
#include "controller/frmMain.h"
#include "settings/keys.h"

namespace vexlo {

namespace {
constexpr const char* kSystemMixer = "sndvol32";
// What a missing "pathtomixer" reads as: no program was configured.
constexpr const char* kNoMixerConfigured = "1";
}  // namespace

void frmHelper::Form_Load() {
    if (app_.ControlOnlyMode()) {
        app_.Control().Show();
    } else {
        app_.Main();  // loading runs the start-up sequence and leaves the window hidden
    }
}

std::vector<MenuItem> frmHelper::MenuItems() const {
    const Texts& texts = app_.platform().texts;
    return {{kMenuQuit, Tr(texts, "Quit")}, {kMenuOpenMixer, Tr(texts, "Open Mixer")}};
}

void frmHelper::OpMix_Click() {
    Launcher& launcher = app_.platform().launcher;
    const std::string command = app_.Settings().Read(settings::kPathToMixer);
    const LaunchResult first = launcher.start(command, SW_SHOWNORMAL);
    if (first.started) return;
    const LaunchResult fallback = launcher.start(kSystemMixer, SW_SHOWNORMAL);
    if (fallback.started) return;
    // Neither program starts: say so and how to set one, and keep running; a resident utility
    // should not end because a helper program is missing. A missing key is answered by the
    // system's mixer alone, so its attempt is not worth a line.
    const Texts& texts = app_.platform().texts;
    std::string text = Tr(texts, "No mixer program could be started.") + "\n\n";
    if (command != kNoMixerConfigured) text += "\"" + command + "\": " + first.error + "\n";
    text += Fill(Tr(texts, "The system's volume control: {error}"), {{"error", fallback.error}}) +
            "\n\n";
    text += Fill(Tr(texts,
                    "Set \"pathtomixer\" in the [mixer] section of {file} to the command "
                    "line of your mixer program."),
                 {{"file", app_.platform().program.nativePath(app_.Settings().IniPath())}});
    app_.Boxes().show(text, kAppTitle, MB_OK | MB_ICONHAND);
}

void frmHelper::Quit_Click() {
    if (!app_.ControlOnlyMode()) {
        frmMain& main = app_.Main();
        if (app_.Settings().IsOn(settings::kHotkeys)) app_.HotKeys().Release(main.handle());
        if (main.TrayOn) app_.Systray().RemoveTrayIcon();
        app_.UnloadDisplay();
    }
    if (app_.ControlLoaded()) app_.UnloadControl();
    throw ProgramEnd {0};
}

}  // namespace vexlo
