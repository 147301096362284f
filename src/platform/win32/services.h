// The smaller ports on Windows: screen, tray, hotkeys, profile file, sound, launcher, message
// boxes, program information and ending the process.
#pragma once

#include <deque>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/hotkeys.h"
#include "platform/launcher.h"
#include "platform/message_box.h"
#include "platform/profile_file.h"
#include "platform/program.h"
#include "platform/screen.h"
#include "platform/sound.h"
#include "platform/texts.h"
#include "platform/tray.h"
#include "platform/win32/dispatcher.h"
#include "platform/win32/win.h"

namespace vexlo::win32 {

class Win32Screen : public Screen {
  public:
    int width() const override { return GetSystemMetrics(SM_CXSCREEN); }
    int height() const override { return GetSystemMetrics(SM_CYSCREEN); }
    float twipsPerPixelX() const override;
    float twipsPerPixelY() const override;
    // From the cursor and the foreground window, as the system finds them (windowing.cpp).
    MonitorArea monitor(MonitorChoice choice) override;
};

// The tray record in the shell's 88-byte ANSI form.
NOTIFYICONDATAA ToNotifyIconData(const TrayIconRecord& record);

// A balloon's text (in the code page `codePage`) in parts of at most `limit` bytes, each cut
// after a sentence in whatever script it is written (a ".", "!", "?" or "…" and a blank before
// anything but a lower-case letter), else at a blank; never inside a character.
std::vector<std::string> BalloonParts(const std::string& text, std::size_t limit,
                                      unsigned codePage = CP_ACP);

class Win32Tray : public TrayService {
  public:
    ~Win32Tray() override;
    bool notify(std::uint32_t message, const TrayIconRecord& record) override;
    // Sent in the record's larger form (with the balloon fields), which every shell since
    // Windows 2000 takes. The shell shows 255 characters of a balloon: a longer text goes out
    // in parts, and every balloon waits until the one before has had its time.
    bool balloon(const TrayIconRecord& record, const std::string& title,
                 const std::string& text) override;
    // Removes the icons this process added and has not removed (used when the process ends
    // without the quit sequence, so that no dead icon stays behind).
    void removeAll();
    std::size_t iconCount() const { return added_.size(); }

  private:
    struct Balloon {
        NativeHandle hWnd;
        std::uint32_t uID;
        std::string title;
        std::string text;
    };
    bool show(const Balloon& balloon);
    void nextBalloon();

    std::set<std::pair<NativeHandle, std::uint32_t>> added_;
    std::deque<Balloon> waiting_;
    bool balloonTiming_ = false;  // a balloon has its time now
    // Receives the balloons' timer (made with the first balloon); its messages are dispatched
    // by whichever message loop runs, a modal box's included.
    std::unique_ptr<HiddenWindow> balloonWindow_;
};

class Win32Hotkeys : public HotkeyService {
  public:
    explicit Win32Hotkeys(Dispatcher& dispatcher);
    ~Win32Hotkeys() override;
    // False with NoSuchKey for a key the keyboard layout lacks.
    bool registerHotKey(NativeHandle window, int id, std::uint32_t modifiers,
                        std::uint32_t virtualKey) override;
    HotkeyRefusal lastRefusal() const override { return refusal_; }
    bool unregisterHotKey(NativeHandle window, int id) override;
    // As the keyboard labels its keys: "Windows + Ctrl + Ü" on a German keyboard.
    std::string combinationName(std::uint32_t modifiers, std::uint32_t virtualKey) const override;
    WindowProc coreProcedure() const override;
    WindowProc setWindowProc(NativeHandle window, WindowProc procedure) override;
    std::intptr_t callWindowProc(WindowProc procedure, NativeHandle window, std::uint32_t message,
                                 std::uintptr_t wParam, std::intptr_t lParam) override;

  private:
    static LRESULT CALLBACK Trampoline(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static Dispatcher* dispatcher_;
    HotkeyRefusal refusal_ = HotkeyRefusal::Taken;
};

class Win32Profile : public ProfileFile {
  public:
    std::string getString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, std::uint32_t size,
                          const std::string& path) override;
    std::int32_t writeString(const std::string& section, const std::string& key,
                             const std::string& value, const std::string& path) override;
};

class Win32Sound : public Sound {
  public:
    bool play(const std::string& path, std::uint32_t flags) override;
    // Held to the plain PCM WAV files every player takes (the system's player takes more).
    std::string problem(const std::string& path) override;
};

class Win32Launcher : public Launcher, public UsesTexts {
  public:
    LaunchResult start(const std::string& commandLine, int showCommand) override;
};

class Win32MessageBoxes : public MessageBoxes {
  public:
    int show(const std::string& text, const std::string& caption, std::uint32_t style) override;
};

// The folder of the running executable, without a trailing backslash.
std::string ExecutableFolder();

class Win32ProgramInfo : public ProgramInfo {
  public:
    explicit Win32ProgramInfo(std::string commandLine)
        : folder_(ExecutableFolder()), commandLine_(std::move(commandLine)) {}
    std::string folder() const override { return folder_; }
    std::string settingsFolder() const override { return folder_; }
    std::string commandLine() const override { return commandLine_; }

  private:
    std::string folder_;
    std::string commandLine_;
};

class Win32Process : public Process {
  public:
    explicit Win32Process(Win32Tray& tray) : tray_(tray) {}
    [[noreturn]] void exit(int code) override;

  private:
    Win32Tray& tray_;
};

}  // namespace vexlo::win32
