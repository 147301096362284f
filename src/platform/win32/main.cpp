// The Windows program's composition root: builds the adapters, the platform and the
// application, starts it and runs the message loop.
// The core first: the Windows headers define some of its names as macros.
// clang-format off
#include "controller/application.h"
#include "controller/volume_command.h"
#include "platform/platform.h"
#include "tray/frmHelper.h"
#include "platform/win32/win.h"
#include <ole2.h>
// clang-format on

#include "platform/win32/dispatcher.h"
#include "platform/win32/images.h"
#include "platform/win32/mixer.h"
#include "platform/win32/services.h"
#include "platform/win32/timers.h"
#include "platform/win32/wave_in.h"
#include "platform/win32/windowing.h"

namespace {

int Run(const char* commandLine) {
    using namespace vexlo::win32;
    // "--volume-up" / "--volume-down": one step of the master volume, no window; exit code 1
    // when the level could not be read or set.
    const vexlo::VolumeCommand command = vexlo::ReadVolumeCommand(commandLine ? commandLine : "");
    if (command != vexlo::VolumeCommand::None) {
        Win32Mixer mixer;
        Win32WaveIn waveIn;
        Win32MessageBoxes boxes;
        return vexlo::RunVolumeCommand(command, mixer, waveIn, boxes).ok ? 0 : 1;
    }
    Dispatcher dispatcher;
    Win32Mixer mixer;
    Win32WaveIn waveIn;
    Win32WindowSystem windows(dispatcher);
    Win32ImageLoader images;
    Win32TimerService timers(dispatcher);
    Win32Screen screen;
    Win32Tray tray;
    Win32Hotkeys hotkeys(dispatcher);
    Win32Profile profile;
    Win32Sound sound;
    Win32Launcher launcher;
    Win32MessageBoxes messageBoxes;
    Win32ProgramInfo program(commandLine ? commandLine : "");
    Win32Process process(tray);

    vexlo::Platform platform{mixer,   waveIn,  windows, images,   timers,       screen,  tray,
                             hotkeys, profile, sound,   launcher, messageBoxes, program, process};
    vexlo::Application app(platform);
    dispatcher.setSink(&app);
    // A close request from outside (taskkill without /f, the end of the session) is the
    // program's own quit.
    dispatcher.setCloseRequest(
        [](vexlo::EventSink& sink) { sink.onMenuCommand(vexlo::kMenuQuit); });

    app.start();
    MSG message;
    int exitCode = 0;
    while (!app.ended()) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0) {
            exitCode = static_cast<int>(message.wParam);
            break;
        }
        if (got == -1) break;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (app.ended()) exitCode = app.exitCode();
    dispatcher.setSink(nullptr);
    return exitCode;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    // COM for the pictures (OleLoadPicture) and the endpoint volume; every COM object is gone
    // before it is shut down.
    const HRESULT ole = OleInitialize(nullptr);
    const int exitCode = Run(commandLine);
    if (SUCCEEDED(ole)) OleUninitialize();
    return exitCode;
}
