#include "platform/win32/services.h"

#include <mmsystem.h>

#include <cstring>
#include <vector>

#include "hotkeys/key_chord.h"
#include "platform/common/sound_check.h"
#include "platform/win32/images.h"
#include "platform/win32/user_language.h"

namespace vexlo::win32 {

static_assert(NOTIFYICONDATAA_V1_SIZE == 88, "the tray record is the 88-byte ANSI form");

namespace {
float TwipsPerPixel(int capability) {
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, capability) : 0;
    if (screen) ReleaseDC(nullptr, screen);
    return 1440.0f / static_cast<float>(dpi > 0 ? dpi : 96);
}
}  // namespace

float Win32Screen::twipsPerPixelX() const {
    return TwipsPerPixel(LOGPIXELSX);
}
float Win32Screen::twipsPerPixelY() const {
    return TwipsPerPixel(LOGPIXELSY);
}

// ---- tray ----

NOTIFYICONDATAA ToNotifyIconData(const TrayIconRecord& record) {
    NOTIFYICONDATAA data;
    std::memset(&data, 0, sizeof data);
    data.cbSize = record.cbSize;
    data.hWnd = reinterpret_cast<HWND>(record.hWnd);
    data.uID = record.uID;
    data.uFlags = record.uFlags;
    data.uCallbackMessage = record.uCallbackMessage;
    data.hIcon = reinterpret_cast<HICON>(record.hIcon);
    static_assert(sizeof data.szTip >= sizeof record.szTip);
    std::memcpy(data.szTip, record.szTip, sizeof record.szTip);
    return data;
}

namespace {

// A "." "!" "?" or "…" before a blank and something that does not go on a sentence (not a
// lower-case letter: a capital in any script, an opening "¿" or quote, a digit); an
// ideographic full stop on its own.
bool EndsSentence(const std::wstring& text, std::size_t at) {
    const wchar_t c = text[at];
    if (c == 0x3002 || c == 0xFF01 || c == 0xFF1F) return at + 1 < text.size();
    if (c != L'.' && c != L'!' && c != L'?' && c != 0x2026) return false;
    if (at + 2 >= text.size() || text[at + 1] != L' ') return false;
    WORD type = 0;
    return GetStringTypeW(CT_CTYPE1, &text[at + 2], 1, &type) && !(type & C1_LOWER) &&
           !(type & C1_SPACE);
}

}  // namespace

std::vector<std::string> BalloonParts(const std::string& text, std::size_t limit,
                                      unsigned codePage) {
    const std::wstring wide = Widen(text, codePage);
    // Bytes that are no text in the code page are cut as Latin-1, where every byte is one.
    if (wide.empty() && !text.empty() && codePage != 28591) return BalloonParts(text, limit, 28591);
    auto narrow = [&](std::size_t from, std::size_t to) {
        std::string part(4 * (to - from) + 4, '\0');
        const int n =
            WideCharToMultiByte(codePage, 0, wide.data() + from, static_cast<int>(to - from),
                                part.data(), static_cast<int>(part.size()), nullptr, nullptr);
        part.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return part;
    };
    // bytes[i]: the bytes of the first i characters in the code page (a surrogate pair counts
    // at its second half, and is never cut).
    std::vector<std::size_t> bytes(wide.size() + 1, 0);
    for (std::size_t i = 0; i < wide.size(); ++i) {
        std::size_t n = 0;
        if (IS_LOW_SURROGATE(wide[i]) && i > 0 && IS_HIGH_SURROGATE(wide[i - 1])) {
            n = narrow(i - 1, i + 1).size();
        } else if (!IS_HIGH_SURROGATE(wide[i]) || i + 1 == wide.size() ||
                   !IS_LOW_SURROGATE(wide[i + 1])) {
            n = narrow(i, i + 1).size();
        }
        bytes[i + 1] = bytes[i] + n;
    }
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (bytes[wide.size()] - bytes[start] > limit) {
        std::size_t fits = start;  // the part [start, fits) fits
        while (fits < wide.size() && bytes[fits + 1] - bytes[start] <= limit) ++fits;
        if (fits < wide.size() && fits > start && IS_HIGH_SURROGATE(wide[fits - 1])) --fits;
        std::size_t cut = std::string::npos;
        for (std::size_t i = start + 1; i < fits; ++i)
            if (EndsSentence(wide, i)) cut = i + 1;
        if (cut == std::string::npos) {
            for (std::size_t i = fits; i > start; --i) {
                if (i < wide.size() && wide[i] == L' ') {
                    cut = i;
                    break;
                }
            }
        }
        if (cut == std::string::npos) cut = fits > start ? fits : start + 1;
        parts.push_back(narrow(start, cut));
        start = cut < wide.size() && wide[cut] == L' ' ? cut + 1 : cut;
    }
    if (start < wide.size() || parts.empty()) parts.push_back(narrow(start, wide.size()));
    return parts;
}

namespace {
constexpr UINT_PTR kBalloonTimer = 1;
}  // namespace

Win32Tray::~Win32Tray() {
    if (balloonTiming_) KillTimer(balloonWindow_->hwnd(), kBalloonTimer);
}

bool Win32Tray::notify(std::uint32_t message, const TrayIconRecord& record) {
    NOTIFYICONDATAA data = ToNotifyIconData(record);
    const bool ok = Shell_NotifyIconA(message, &data) != FALSE;
    const auto key = std::make_pair(record.hWnd, record.uID);
    if (message == NIM_ADD && ok) added_.insert(key);
    if (message == NIM_DELETE) {
        added_.erase(key);
        std::erase_if(waiting_,
                      [&](const Balloon& b) { return b.hWnd == key.first && b.uID == key.second; });
    }
    return ok;
}

constexpr UINT kBalloonMs = 10000;

bool Win32Tray::show(const Balloon& balloon) {
    NOTIFYICONDATAA data;
    std::memset(&data, 0, sizeof data);
    data.cbSize = NOTIFYICONDATAA_V2_SIZE;
    data.hWnd = reinterpret_cast<HWND>(balloon.hWnd);
    data.uID = balloon.uID;
    data.uFlags = NIF_INFO;
    std::strncpy(data.szInfo, balloon.text.c_str(), sizeof data.szInfo - 1);
    std::strncpy(data.szInfoTitle, balloon.title.c_str(), sizeof data.szInfoTitle - 1);
    data.uTimeout = kBalloonMs;
    data.dwInfoFlags = NIIF_WARNING;
    return Shell_NotifyIconA(NIM_MODIFY, &data) != FALSE;
}

bool Win32Tray::balloon(const TrayIconRecord& record, const std::string& title,
                        const std::string& text) {
    for (const std::string& part : BalloonParts(text, sizeof NOTIFYICONDATAA::szInfo - 1)) {
        waiting_.push_back({record.hWnd, record.uID, title, part});
    }
    if (balloonTiming_) return true;  // shown in turn
    if (!balloonWindow_) {
        balloonWindow_ = std::make_unique<HiddenWindow>(
            "Vexlo balloons", true, [this](UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
                if (message != WM_TIMER || wParam != kBalloonTimer) return false;
                nextBalloon();
                result = 0;
                return true;
            });
    }
    const bool shown = show(waiting_.front());
    waiting_.pop_front();
    balloonTiming_ = SetTimer(balloonWindow_->hwnd(), kBalloonTimer, kBalloonMs, nullptr) != 0;
    return shown;
}

void Win32Tray::nextBalloon() {
    if (waiting_.empty()) {
        KillTimer(balloonWindow_->hwnd(), kBalloonTimer);
        balloonTiming_ = false;
        return;
    }
    show(waiting_.front());
    waiting_.pop_front();
}

void Win32Tray::removeAll() {
    for (const auto& [hwnd, id] : added_) {
        NOTIFYICONDATAA data;
        std::memset(&data, 0, sizeof data);
        data.cbSize = NOTIFYICONDATAA_V1_SIZE;
        data.hWnd = reinterpret_cast<HWND>(hwnd);
        data.uID = id;
        Shell_NotifyIconA(NIM_DELETE, &data);
    }
    added_.clear();
}

// ---- hotkeys and the main window's procedure ----

Dispatcher* Win32Hotkeys::dispatcher_ = nullptr;

Win32Hotkeys::Win32Hotkeys(Dispatcher& dispatcher) {
    dispatcher_ = &dispatcher;
}

Win32Hotkeys::~Win32Hotkeys() {
    dispatcher_ = nullptr;
}

bool Win32Hotkeys::registerHotKey(NativeHandle window, int id, std::uint32_t modifiers,
                                  std::uint32_t virtualKey) {
    // A key the keyboard layout does not have (no scan code) would register, and nothing
    // could ever press it.
    if (MapVirtualKeyA(virtualKey, MAPVK_VK_TO_VSC) == 0) {
        refusal_ = HotkeyRefusal::NoSuchKey;
        return false;
    }
    refusal_ = HotkeyRefusal::Taken;
    return RegisterHotKey(reinterpret_cast<HWND>(window), id, modifiers, virtualKey) != FALSE;
}

std::string Win32Hotkeys::combinationName(std::uint32_t modifiers, std::uint32_t virtualKey) const {
    // A key that types a character by that character on this layout, as its cap shows it
    // ("Ü" for VK_OEM_1 on a German keyboard, ";" on a US one, "<" for the key beside the
    // left Shift); the plus and minus keys, dead keys and keys without a character (arrows,
    // F keys) by the core's names.
    const UINT character = MapVirtualKeyW(virtualKey, MAPVK_VK_TO_CHAR);
    const auto wide = static_cast<wchar_t>(character & 0xffff);
    char label[8] = {};
    const UINT codePage = GetACP();
    BOOL lost = FALSE;
    if (virtualKey == VK_OEM_PLUS || virtualKey == VK_OEM_MINUS || (character & 0x80000000u) ||
        wide <= L' ' ||
        WideCharToMultiByte(codePage, 0, &wide, 1, label, sizeof label - 1, nullptr,
                            codePage == CP_UTF8 ? nullptr : &lost) <= 0 ||
        lost) {
        return HotkeyService::combinationName(modifiers, virtualKey);
    }
    return WindowsCombination(modifiers, KeyLabel(label, texts()), texts());
}

bool Win32Hotkeys::unregisterHotKey(NativeHandle window, int id) {
    return UnregisterHotKey(reinterpret_cast<HWND>(window), id) != FALSE;
}

WindowProc Win32Hotkeys::coreProcedure() const {
    return reinterpret_cast<WindowProc>(&Win32Hotkeys::Trampoline);
}

WindowProc Win32Hotkeys::setWindowProc(NativeHandle window, WindowProc procedure) {
    return static_cast<WindowProc>(
        SetWindowLongPtrA(reinterpret_cast<HWND>(window), GWLP_WNDPROC, procedure));
}

std::intptr_t Win32Hotkeys::callWindowProc(WindowProc procedure, NativeHandle window,
                                           std::uint32_t message, std::uintptr_t wParam,
                                           std::intptr_t lParam) {
    if (procedure == 0)
        return DefWindowProcA(reinterpret_cast<HWND>(window), message, wParam, lParam);
    return CallWindowProcA(reinterpret_cast<WNDPROC>(procedure), reinterpret_cast<HWND>(window),
                           message, wParam, lParam);
}

LRESULT CALLBACK Win32Hotkeys::Trampoline(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Dispatcher* d = dispatcher_;
    if (!d || !d->sink()) return DefWindowProcA(hwnd, message, wParam, lParam);
    return d->sink()->onWindowMessage(reinterpret_cast<NativeHandle>(hwnd), message, wParam,
                                      lParam);
}

// ---- profile file ----

std::string Win32Profile::getString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, std::uint32_t size,
                                    const std::string& path) {
    if (size == 0) return {};
    std::vector<char> buffer(size, '\0');
    const DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(),
                                             buffer.data(), size, path.c_str());
    return std::string(buffer.data(), n < size ? n : size - 1);
}

std::int32_t Win32Profile::writeString(const std::string& section, const std::string& key,
                                       const std::string& value, const std::string& path) {
    return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), path.c_str());
}

// ---- sound, launcher, message boxes ----

bool Win32Sound::play(const std::string& path, std::uint32_t flags) {
    return sndPlaySoundA(path.c_str(), flags) != FALSE;
}

std::string Win32Sound::problem(const std::string& path) {
    const FileBytes file = ReadWholeFile(path, kMaxSoundBytes);
    if (file.tooLarge) {
        return "the file is larger than " + std::to_string(kMaxSoundBytes / (1024 * 1024)) + " MB";
    }
    if (!file.error.empty()) return file.error;
    return SoundDataProblem(file.data.data(), file.data.size());
}

namespace {
// Starts a process and lets it go. With a program path, the command line is not searched for
// it. Answers 0 or the reason (a system error code).
DWORD StartProcess(const std::string* program, const std::string& commandLine, int showCommand) {
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');  // CreateProcessA may write into the command line
    STARTUPINFOA startup {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(showCommand);
    PROCESS_INFORMATION process {};
    if (!CreateProcessA(program ? program->c_str() : nullptr, line.data(), nullptr, nullptr, FALSE,
                        0, nullptr, nullptr, &startup, &process)) {
        return GetLastError();
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}

std::string WindowsFolder(UINT(WINAPI* query)(LPSTR, UINT)) {
    char buffer[MAX_PATH];
    const UINT n = query(buffer, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::string(buffer, n) : std::string();
}

// The system's volume control: sndvol32.exe up to XP, SndVol.exe since Vista, both in the
// system folder. A 32-bit program on 64-bit Windows sees the 32-bit system folder, which may
// lack SndVol.exe; "Sysnative" reaches the real one there. Only full paths are started, so a
// program of that name in the current folder or on the PATH is never taken for it.
LaunchResult StartSystemMixer(const Texts& texts, int showCommand) {
    const std::string system = WindowsFolder(GetSystemDirectoryA);
    const std::string windows = WindowsFolder(GetWindowsDirectoryA);
    const std::string candidates[] = {system + "\\sndvol32.exe", system + "\\SndVol.exe",
                                      windows + "\\Sysnative\\SndVol.exe"};
    std::string error;
    for (const std::string& program : candidates) {
        if (GetFileAttributesA(program.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
        const DWORD code = StartProcess(&program, "\"" + program + "\"", showCommand);
        if (code == 0) return {true, {}};
        if (error.empty()) error = program + ": " + SystemErrorText(code);
    }
    if (error.empty())
        error = Fill(Tr(texts, "SndVol.exe was not found in {folder}"), {{"folder", system}});
    return {false, error};
}
}  // namespace

LaunchResult Win32Launcher::start(const std::string& commandLine, int showCommand) {
    if (commandLine.find_first_not_of(" \t") == std::string::npos) {
        return {false, Tr(texts(), "the command line is empty")};
    }
    if (lstrcmpiA(commandLine.c_str(), "sndvol32") == 0)
        return StartSystemMixer(texts(), showCommand);
    const DWORD code = StartProcess(nullptr, commandLine, showCommand);
    if (code != 0) return {false, SystemErrorText(code)};
    return {true, {}};
}

int Win32MessageBoxes::show(const std::string& text, const std::string& caption,
                            std::uint32_t style) {
    return MessageBoxA(nullptr, text.c_str(), caption.c_str(), style);
}

// ---- program and process ----

std::string ExecutableFolder() {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD n =
            GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return ".";
        if (n < buffer.size()) {
            std::string path(buffer.data(), n);
            const auto slash = path.find_last_of("\\/");
            return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
        }
        buffer.resize(buffer.size() * 2);
    }
}

void Win32Process::exit(int code) {
    tray_.removeAll();
    ExitProcess(static_cast<UINT>(code));
}

}  // namespace vexlo::win32
