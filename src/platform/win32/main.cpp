// The Windows program's composition root: builds the adapters, the platform and the
// application, starts it and runs the message loop.
// The core first: the Windows headers define some of its names as macros.
// clang-format off
#include "controller/application.h"
#include "controller/skin_command.h"
#include "controller/volume_command.h"
#include "display/skin_check.h"
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
#include "platform/win32/user_language.h"
#include "platform/win32/wave_in.h"
#include "platform/win32/windowing.h"

namespace {

constexpr char kCaption[] = "Vexlo";

// The process's standard output or error when it leads somewhere (a file, a pipe, a console);
// a program started from the desktop has none.
HANDLE UsableStdHandle(DWORD which) {
    HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
    return GetFileType(handle) == FILE_TYPE_UNKNOWN ? nullptr : handle;
}

// Writes the text (in the ANSI code page, as the catalogue gives it) with Windows line ends.
// A console gets it as Unicode, which it shows whatever its code page. Redirected, the bytes
// are in the code page of the console the user typed the command in (the OEM code page unless
// "chcp" changed it): the one the console's own programs read a program's output in (type,
// more, findstr, PowerShell's reading of a program's output), as Windows' own console programs
// write it.
void WriteText(HANDLE handle, const std::string& text) {
    if (!handle) return;
    std::string lines;
    for (char c : text) {
        if (c == '\n' && (lines.empty() || lines.back() != '\r')) lines += '\r';
        lines += c;
    }
    std::wstring wide = vexlo::win32::Widen(lines, CP_ACP);
    if (wide.empty()) {
        // Not text in the code page: byte for byte.
        for (unsigned char c : lines) wide += static_cast<wchar_t>(c);
    }
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) {
        std::size_t at = 0;
        while (at < wide.size()) {
            DWORD written = 0;
            if (!WriteConsoleW(handle, wide.data() + at, static_cast<DWORD>(wide.size() - at),
                               &written, nullptr) ||
                written == 0) {
                return;
            }
            at += written;
        }
        return;
    }
    UINT codePage = GetOEMCP();
    if (AttachConsole(ATTACH_PARENT_PROCESS)) {
        if (const UINT shown = GetConsoleOutputCP()) codePage = shown;
        FreeConsole();
    }
    std::string out(lines.size() * 4 + 4, '\0');
    const int bytes =
        WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), out.data(),
                            static_cast<int>(out.size()), nullptr, nullptr);
    if (bytes > 0) {
        out.resize(static_cast<std::size_t>(bytes));
    } else {
        out = lines;
    }
    std::size_t at = 0;
    while (at < out.size()) {
        DWORD written = 0;
        if (!WriteFile(handle, out.data() + at, static_cast<DWORD>(out.size() - at), &written,
                       nullptr) ||
            written == 0) {
            return;
        }
        at += written;
    }
}

// One line for the user of a command prompt: on standard error when it leads somewhere, else
// on the console of the program that started this one; nowhere when there is neither (started
// from the desktop).
void TellOnStandardError(const std::string& line) {
    if (HANDLE handle = UsableStdHandle(STD_ERROR_HANDLE)) {
        WriteText(handle, line + "\n");
        return;
    }
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
    HANDLE console =
        CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (console != INVALID_HANDLE_VALUE) {
        WriteText(console, line + "\n");
        CloseHandle(console);
    }
    FreeConsole();
}

// A request that cannot run: the box, the same words on standard error for scripts, exit 1.
int RefuseSkinRequest(const std::string& text) {
    WriteText(UsableStdHandle(STD_ERROR_HANDLE), text + "\n");
    MessageBoxA(nullptr, text.c_str(), kCaption, MB_OK | MB_ICONHAND);
    return 1;
}

// "/checkskin FOLDER": the report in a box and on standard output; exit 0 when the skin is
// fine, 1 with findings.
int CheckSkinFolder(const std::string& folder) {
    vexlo::win32::Win32ImageLoader images;
    vexlo::win32::Win32Sound sound;
    const std::vector<std::string> findings = vexlo::CheckSkin(images, sound, folder);
    const std::string report = vexlo::SkinReport(folder, findings);
    WriteText(UsableStdHandle(STD_OUTPUT_HANDLE), report);
    std::string shown = report;
    while (!shown.empty() && shown.back() == '\n') shown.pop_back();
    MessageBoxA(nullptr, shown.c_str(), kCaption,
                MB_OK | (findings.empty() ? MB_ICONINFORMATION : MB_ICONEXCLAMATION));
    return findings.empty() ? 0 : 1;
}

int Run(const char* commandLine) {
    using namespace vexlo::win32;
    const Win32Texts texts;
    // "/checkskin FOLDER" and "/previewskin FOLDER" for skin authors.
    const vexlo::SkinRequest skin = vexlo::ReadSkinRequest(commandLine ? commandLine : "");
    if (!skin.error.empty()) return RefuseSkinRequest(skin.error);
    if (skin.command != vexlo::SkinCommand::None) {
        const DWORD attributes = GetFileAttributesA(skin.folder.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            return RefuseSkinRequest(skin.folder + " is not a folder.");
        }
        if (skin.command == vexlo::SkinCommand::Check) return CheckSkinFolder(skin.folder);
    }
    // "--volume-up" / "--volume-down": one step of the master volume, "--volume-mute": its mute
    // switched over; no window. Exit code 1, with the reason in one line, when it cannot be
    // done.
    const vexlo::VolumeCommand command = vexlo::ReadVolumeCommand(commandLine ? commandLine : "");
    if (command != vexlo::VolumeCommand::None) {
        Win32Mixer mixer;
        Win32WaveIn waveIn;
        Win32MessageBoxes boxes;
        const vexlo::VolumeCommandResult result =
            vexlo::RunVolumeCommand(command, mixer, waveIn, boxes, texts);
        if (result.unchanged) TellLevelUnchanged();
        if (result.ok) return 0;
        TellOnStandardError("vexlo: " + result.error + ".");
        return 1;
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

    launcher.useTexts(texts);
    hotkeys.useTexts(texts);
    images.useTexts(texts);
    vexlo::Platform platform {mixer,    waveIn,       windows, images,  timers,
                              screen,   tray,         hotkeys, profile, sound,
                              launcher, messageBoxes, program, process, texts};
    vexlo::Application app(platform);
    dispatcher.setSink(&app);
    // A close request from outside (taskkill without /f, the end of the session) is the
    // program's own quit.
    dispatcher.setCloseRequest(
        [](vexlo::EventSink& sink) { sink.onMenuCommand(vexlo::kMenuQuit); });

    if (skin.command == vexlo::SkinCommand::Preview) {
        app.startPreview(skin.folder);
    } else {
        app.start();
    }
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
