// The Linux program: Qt for windows, tray, timers and boxes; ALSA for the mixer; X key grabs
// for the hotkeys; libcanberra for the click sound.
#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "controller/application.h"
#include "controller/errors.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/termination.h"
#include "tray/frmHelper.h"

namespace {

constexpr int kAlreadyRunning = 2;

void PrepareQt() {
    // Global key grabs need X; under Wayland that is XWayland.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr && std::getenv("DISPLAY") != nullptr) {
        setenv("QT_QPA_PLATFORM", "xcb", 1);
    }
    // The skin is pixel art laid out in screen pixels, as the program computes them.
    if (std::getenv("QT_ENABLE_HIGHDPI_SCALING") == nullptr) {
        setenv("QT_ENABLE_HIGHDPI_SCALING", "0", 1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    using vexlo::linux_platform::InstanceGuard;
    using vexlo::linux_platform::LinuxPlatform;
    using vexlo::linux_platform::LinuxProgramInfo;

    // The argument text as the program sees it, before Qt takes its own options out.
    const std::string commandLine = LinuxProgramInfo::JoinArguments(argc, argv);
    PrepareQt();
    QApplication qt(argc, argv);
    QApplication::setApplicationName("vexlo");
    // The program ends through its quit operation only, not when a box or window closes.
    QApplication::setQuitOnLastWindowClosed(false);

    LinuxPlatform adapters(LinuxProgramInfo::ExecutableFolder(), commandLine);
    vexlo::Application app(adapters.platform());
    adapters.setSink(&app);
    // A request to end (session end, kill, Ctrl+C) is the program's own quit.
    vexlo::linux_platform::TerminationSignals termination(
        adapters.port, [](vexlo::EventSink& sink) { sink.onMenuCommand(vexlo::kMenuQuit); });

    // One resident copy per display. The slider alone ("/control") may run beside it.
    InstanceGuard guard;
    if (!app.ControlOnlyMode()) {
        if (InstanceGuard::OtherRunning()) {
            adapters.messageBox.show(
                "Vexlo is already running.\n\nIts tray icon has the menu with \"Quit\"; the "
                "slider alone can be started with \"vexlo /control\".",
                vexlo::kAppTitle, vexlo::MB_OK | vexlo::MB_ICONHAND);
            return kAlreadyRunning;
        }
        guard.claim();
    }

    app.start();
    if (app.ended()) return app.exitCode();
    if (adapters.hotkeys.conflict()) {
        std::fprintf(stderr,
                     "vexlo: the volume hotkeys are held by another program; they stay "
                     "unavailable to Vexlo.\n");
    }
    const int code = QApplication::exec();
    return adapters.process.exited() ? adapters.process.code() : code;
}
