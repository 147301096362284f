// Looks at a running vexlo.exe from outside, for the reliability scripts. The process is named
// by a part of its executable's path (each run uses a folder of its own), matched without
// regard to case.
//
//   vexlo_probe windows MATCH   one line per top-level window of the process: pid, handle,
//                               visible, class, caption and, for dialogs, their texts
//   vexlo_probe stats MATCH     live GDI objects (from the process's GDI handle table), windows
//                               (top-level and children), what GetProcessHandleCount and
//                               GetGuiResources answer, and memory counters, as key=value pairs
//   vexlo_probe answer MATCH    presses OK in the process's visible dialogs (exit 1: none)
//   vexlo_probe close MATCH     posts WM_CLOSE to the process's top-level windows, as a
//                               graceful "taskkill /pid" does
//   vexlo_probe gdi-check       whether the GDI count used by "stats" works here (exit 0)
//   vexlo_probe watch-taskbar S prints a line for each "TaskbarCreated" broadcast within S
//                               seconds (exit 0 when there was one)
//   vexlo_probe broadcast-taskbar  sends "TaskbarCreated" to every top-level window, as the
//                               Windows shell does when its taskbar starts
//   vexlo_probe audio [S]       what Core Audio allows here: the default render endpoint, its
//                               volume, and whether device notifications can be registered;
//                               with S, prints the device reports of S seconds
//   vexlo_probe tray-host S     a stand-in for the shell's tray for S seconds: a visible window
//                               of class Shell_TrayWnd that broadcasts "TaskbarCreated" after
//                               0.5 s and prints every icon notification it gets (with the
//                               text of a balloon that warns about hotkeys)
//   vexlo_probe hold-hotkey S [MODIFIERS KEY]  registers Windows + plus, or the combination
//                               given as numbers (MOD_* bits and a virtual key, decimal or
//                               0x hex), for S seconds, as another program that took it first
//                               (prints registered=1 or 0)
//   vexlo_probe mute MATCH [0|1]  the master mute as the process sees it (muted=0 or 1),
//                               switched first when a value is given: vexlo_mute_hook.dll
//                               (beside the probe) does it on a thread in that process
//   vexlo_probe tray-tips MATCH one line per tooltip text of the tray's process (Wine's
//                               explorer.exe), each tray icon's tip among them, in UTF-8
//   vexlo_probe console CMDLINE runs the command line in a console of the probe's own, as from
//                               a command prompt (the program gets no standard handles and
//                               finds its parent's console), waits up to 30 s, then prints
//                               what the console shows (its buffer's characters, row by row,
//                               in UTF-8), "exit=N" and "codepage=N" (the console's)
//   vexlo_probe languages       the user's preferred interface languages and the ANSI and OEM
//                               code pages, as the program reads them
// Exit code 0 on success, 1 when no such process runs, 2 on a usage error.
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <initguid.h>
#include <mmdeviceapi.h>
#include <endpointvolume.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>
// clang-format on

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string ImagePath(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) return {};
    char path[MAX_PATH * 2];
    DWORD size = sizeof path;
    std::string result;
    if (QueryFullProcessImageNameA(process, 0, path, &size)) result.assign(path, size);
    CloseHandle(process);
    return result;
}

// Windows process ids whose image path contains the text.
std::vector<DWORD> Processes(const std::string& match) {
    std::vector<DWORD> found;
    const std::string needle = Lower(match);
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return found;
    PROCESSENTRY32 entry {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more;
         more = Process32Next(snapshot, &entry)) {
        if (entry.th32ProcessID == GetCurrentProcessId()) continue;
        if (Lower(ImagePath(entry.th32ProcessID)).find(needle) != std::string::npos) {
            found.push_back(entry.th32ProcessID);
        }
    }
    CloseHandle(snapshot);
    return found;
}

struct WindowSearch {
    DWORD pid;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM data) {
    auto* search = reinterpret_cast<WindowSearch*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    if (owner == search->pid) search->windows.push_back(hwnd);
    return TRUE;
}

std::vector<HWND> TopLevelWindows(DWORD pid) {
    WindowSearch search {pid, {}};
    EnumWindows(&CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.windows;
}

std::string Text(HWND hwnd) {
    char text[1024];
    const int n = GetWindowTextA(hwnd, text, sizeof text);
    std::string result(text, n > 0 ? n : 0);
    for (char& c : result) {
        if (c == '\r' || c == '\n' || c == '\t') c = ' ';
    }
    return result;
}

std::string ClassOf(HWND hwnd) {
    char name[256];
    const int n = GetClassNameA(hwnd, name, sizeof name);
    return std::string(name, n > 0 ? n : 0);
}

BOOL CALLBACK CollectStaticText(HWND child, LPARAM data) {
    if (Lower(ClassOf(child)) == "static") {
        const std::string text = Text(child);
        if (!text.empty()) {
            auto* all = reinterpret_cast<std::string*>(data);
            if (!all->empty()) *all += " | ";
            *all += text;
        }
    }
    return TRUE;
}

// The texts of a dialog's static controls (a message box's message among them).
std::string DialogTexts(HWND dialog) {
    std::string texts;
    EnumChildWindows(dialog, &CollectStaticText, reinterpret_cast<LPARAM>(&texts));
    return texts;
}

int ListWindows(const std::string& match) {
    const auto pids = Processes(match);
    for (DWORD pid : pids) {
        for (HWND hwnd : TopLevelWindows(pid)) {
            const std::string cls = ClassOf(hwnd);
            std::printf("%lu\t%p\t%d\t%s\t%s", static_cast<unsigned long>(pid),
                        static_cast<void*>(hwnd), IsWindowVisible(hwnd) ? 1 : 0, cls.c_str(),
                        Text(hwnd).c_str());
            if (cls == "#32770") std::printf("\t%s", DialogTexts(hwnd).c_str());
            std::printf("\n");
        }
    }
    return pids.empty() ? 1 : 0;
}

// Live GDI objects of a process, counted in its GDI handle table: the table the process
// environment block names, as Wine lays it out (24-byte entries: object, owner, the handle's
// upper word, then a type word that is non-zero while the entry is in use). -1 when the table
// cannot be read. GetGuiResources answers nothing under Wine; this does ("gdi-check" shows it).
long GdiObjects(HANDLE process) {
    PROCESS_BASIC_INFORMATION basic {};
    ULONG size = 0;
    if (NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof basic, &size) !=
            0 ||
        !basic.PebBaseAddress) {
        return -1;
    }
    std::uint32_t table = 0;  // PEB.GdiSharedHandleTable of a 32-bit process
    SIZE_T read = 0;
    if (!ReadProcessMemory(process, reinterpret_cast<const char*>(basic.PebBaseAddress) + 0x94,
                           &table, sizeof table, &read) ||
        table == 0) {
        return -1;
    }
    constexpr std::size_t kEntries = 0x10000;
    constexpr std::size_t kEntrySize = 24;
    std::vector<unsigned char> entries(kEntries * kEntrySize);
    if (!ReadProcessMemory(process, reinterpret_cast<const void*>(table), entries.data(),
                           entries.size(), &read)) {
        return -1;
    }
    long live = 0;
    for (std::size_t i = 0; i < read / kEntrySize; ++i) {
        const unsigned char* type = &entries[i * kEntrySize + 14];
        if (type[0] != 0 || type[1] != 0) ++live;
    }
    return live;
}

BOOL CALLBACK CountChild(HWND, LPARAM data) {
    ++*reinterpret_cast<unsigned*>(data);
    return TRUE;
}

// Top-level windows of the process and all their descendants.
unsigned WindowCount(DWORD pid) {
    unsigned count = 0;
    for (HWND hwnd : TopLevelWindows(pid)) {
        ++count;
        EnumChildWindows(hwnd, &CountChild, reinterpret_cast<LPARAM>(&count));
    }
    return count;
}

int Stats(const std::string& match) {
    const auto pids = Processes(match);
    for (DWORD pid : pids) {
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
        if (!process) {
            std::printf("pid=%lu cannot be opened\n", static_cast<unsigned long>(pid));
            continue;
        }
        DWORD handles = 0;
        const long handleCount =
            GetProcessHandleCount(process, &handles) ? static_cast<long>(handles) : -1L;
        SetLastError(0);
        const DWORD gdi = GetGuiResources(process, GR_GDIOBJECTS);
        const DWORD user = GetGuiResources(process, GR_USEROBJECTS);
        const DWORD guiError = GetLastError();
        PROCESS_MEMORY_COUNTERS memory {};
        memory.cb = sizeof memory;
        const BOOL haveMemory = GetProcessMemoryInfo(process, &memory, sizeof memory);
        std::printf(
            "pid=%lu gdi_objects=%ld windows=%u handle_count=%ld gui_gdi=%lu gui_user=%lu "
            "gui_error=%lu working_set_kb=%ld private_kb=%ld\n",
            static_cast<unsigned long>(pid), GdiObjects(process), WindowCount(pid), handleCount,
            static_cast<unsigned long>(gdi), static_cast<unsigned long>(user),
            static_cast<unsigned long>(guiError),
            haveMemory ? static_cast<long>(memory.WorkingSetSize / 1024) : -1L,
            haveMemory ? static_cast<long>(memory.PagefileUsage / 1024) : -1L);
        CloseHandle(process);
    }
    return pids.empty() ? 1 : 0;
}

// Presses OK in the process's visible dialogs (its message boxes), as a user's click would.
int Answer(const std::string& match) {
    int answered = 0;
    for (DWORD pid : Processes(match)) {
        for (HWND hwnd : TopLevelWindows(pid)) {
            if (ClassOf(hwnd) != "#32770" || !IsWindowVisible(hwnd)) continue;
            PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(hwnd, IDOK)));
            ++answered;
        }
    }
    return answered > 0 ? 0 : 1;
}

int Close(const std::string& match) {
    const auto pids = Processes(match);
    for (DWORD pid : pids) {
        for (HWND hwnd : TopLevelWindows(pid)) PostMessageA(hwnd, WM_CLOSE, 0, 0);
    }
    return pids.empty() ? 1 : 0;
}

// Runs a start routine on a new thread of the process and waits up to 5 s for its end; its
// exit code, or -1 when it did not run or end.
long long RunThread(HANDLE process, LPTHREAD_START_ROUTINE start, void* parameter) {
    HANDLE thread = CreateRemoteThread(process, nullptr, 0, start, parameter, 0, nullptr);
    if (!thread) return -1;
    DWORD code = 0;
    const bool ended =
        WaitForSingleObject(thread, 5000) == WAIT_OBJECT_0 && GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    return ended ? static_cast<long long>(code) : -1;
}

// Calls the mute hook's VexloProbeMute(parameter) in the process: the library is loaded
// there for the call and unloaded after. The call's result, or -1.
long long CallMuteHook(DWORD pid, DWORD parameter) {
    char dll[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, dll, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return -1;
    std::string path(dll, length);
    path = path.substr(0, path.find_last_of('\\') + 1) + "vexlo_mute_hook.dll";
    // The routine's place in the library is the same in both processes.
    HMODULE local = LoadLibraryA(path.c_str());
    if (!local) return -1;
    const auto* routineHere =
        reinterpret_cast<const char*>(GetProcAddress(local, "VexloProbeMute"));
    const auto offset = routineHere - reinterpret_cast<const char*>(local);
    FreeLibrary(local);
    if (!routineHere) return -1;
    HANDLE process = OpenProcess(PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION |
                                     PROCESS_VM_OPERATION | PROCESS_VM_WRITE | PROCESS_VM_READ,
                                 FALSE, pid);
    if (!process) return -1;
    long long result = -1;
    void* remotePath =
        VirtualAllocEx(process, nullptr, path.size() + 1, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const auto load = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "LoadLibraryA")));
    const auto unload = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "FreeLibrary")));
    if (remotePath &&
        WriteProcessMemory(process, remotePath, path.c_str(), path.size() + 1, nullptr)) {
        // The thread's exit code is the library's handle: its address, 32 bits here.
        const long long base = RunThread(process, load, remotePath);
        if (base > 0) {
            const auto routine = reinterpret_cast<LPTHREAD_START_ROUTINE>(
                static_cast<ULONG_PTR>(base) + static_cast<ULONG_PTR>(offset));
            result = RunThread(process, routine, reinterpret_cast<void*>(ULONG_PTR {parameter}));
            RunThread(process, unload, reinterpret_cast<void*>(static_cast<ULONG_PTR>(base)));
        }
    }
    if (remotePath) VirtualFreeEx(process, remotePath, 0, MEM_RELEASE);
    CloseHandle(process);
    return result;
}

int Mute(const std::string& match, const char* value) {
    const auto pids = Processes(match);
    if (pids.size() != 1) return 1;
    const DWORD parameter = value ? static_cast<DWORD>(std::atoi(value)) : 2;
    const long long result = CallMuteHook(pids[0], parameter);
    if (result != 0 && result != 1) return 1;
    std::printf("muted=%lld\n", result);
    return 0;
}

// The texts of the tooltips of the tray's process: the tray keeps a tool per icon with the
// icon's tip. Each tool's text is copied into a buffer in that process's memory and read
// from there.
std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    std::string out(text.size() * 4, '\0');
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      out.data(), static_cast<int>(out.size()), nullptr, nullptr);
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out;
}

int TrayTips(const std::string& match) {
    constexpr std::size_t kTextSize = 1024;  // INFOTIPSIZE, what the tooltip may copy
    const auto pids = Processes(match);
    for (DWORD pid : pids) {
        HANDLE process =
            OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE | PROCESS_VM_READ, FALSE, pid);
        if (!process) continue;
        auto* remote = static_cast<char*>(
            VirtualAllocEx(process, nullptr, sizeof(TTTOOLINFOW) + kTextSize * sizeof(wchar_t),
                           MEM_COMMIT, PAGE_READWRITE));
        for (HWND hwnd : TopLevelWindows(pid)) {
            if (!remote || ClassOf(hwnd) != TOOLTIPS_CLASSA) continue;
            const auto count = SendMessageW(hwnd, TTM_GETTOOLCOUNT, 0, 0);
            for (LRESULT i = 0; i < count; ++i) {
                TTTOOLINFOW tool {};
                tool.cbSize = sizeof tool;
                tool.lpszText = reinterpret_cast<wchar_t*>(remote + sizeof tool);
                std::vector<wchar_t> text(kTextSize + 1, 0);
                if (!WriteProcessMemory(process, remote, &tool, sizeof tool, nullptr) ||
                    !WriteProcessMemory(process, tool.lpszText, text.data(),
                                        kTextSize * sizeof(wchar_t), nullptr) ||
                    !SendMessageW(hwnd, TTM_ENUMTOOLSW, i, reinterpret_cast<LPARAM>(remote)) ||
                    !ReadProcessMemory(process, tool.lpszText, text.data(),
                                       kTextSize * sizeof(wchar_t), nullptr)) {
                    continue;
                }
                std::printf("%s\n", Utf8(text.data()).c_str());
            }
        }
        if (remote) VirtualFreeEx(process, remote, 0, MEM_RELEASE);
        CloseHandle(process);
    }
    return pids.empty() ? 1 : 0;
}

// Waits for the shell's "TaskbarCreated" broadcast on a hidden top-level window (broadcasts
// reach only top-level windows) and prints a line for each one.
UINT g_taskbarCreated = 0;
int g_taskbarsSeen = 0;

LRESULT CALLBACK TaskbarWatcher(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == g_taskbarCreated) {
        std::printf("TaskbarCreated %lu\n", static_cast<unsigned long>(GetTickCount()));
        std::fflush(stdout);
        ++g_taskbarsSeen;
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

int WatchTaskbar(DWORD seconds) {
    g_taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
    WNDCLASSA wc {};
    wc.lpfnWndProc = &TaskbarWatcher;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "VexloProbeTaskbar";
    RegisterClassA(&wc);
    CreateWindowExA(WS_EX_TOOLWINDOW, wc.lpszClassName, "probe", WS_POPUP, 0, 0, 0, 0, nullptr,
                    nullptr, wc.hInstance, nullptr);
    std::printf("watching\n");
    std::fflush(stdout);
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < seconds * 1000) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    }
    return g_taskbarsSeen > 0 ? 0 : 1;
}

// A stand-in for the shell's tray. Shell_NotifyIcon finds the window of class Shell_TrayWnd
// and sends it WM_COPYDATA with the message (NIM_*) in dwData and the icon record, whose
// first four fields (owner window, id, flags, callback message) are the same in every Wine
// version; the rest (tip, icon bits) is printed as a hash: the same icon gives the same hash.
std::set<std::pair<LONG, UINT>> g_hostedIcons;
DWORD g_hostStart = 0;

LRESULT CALLBACK TrayHost(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_COPYDATA) return DefWindowProcA(hwnd, message, wParam, lParam);
    const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    const auto* bytes = static_cast<const unsigned char*>(copy->lpData);
    if (!bytes || copy->cbData < 16) return FALSE;
    LONG owner;
    UINT id, flags, callback;
    std::memcpy(&owner, bytes, 4);
    std::memcpy(&id, bytes + 4, 4);
    std::memcpy(&flags, bytes + 8, 4);
    std::memcpy(&callback, bytes + 12, 4);
    std::uint32_t hash = 2166136261u;  // FNV-1a
    for (DWORD i = 0; i < copy->cbData; ++i) hash = (hash ^ bytes[i]) * 16777619u;
    const wchar_t tip[] = L"Vexlo";
    bool hasTip = false;
    for (DWORD i = 0; i + sizeof tip <= copy->cbData && !hasTip; i += 2) {
        hasTip = std::memcmp(bytes + i, tip, sizeof tip) == 0;
    }
    // A balloon's text, found by its first words: keys another program holds, or a setting
    // that names no usable keys.
    std::string info = "-";
    const std::wstring starts[] = {L"Vexlo cannot use", L"The setting"};
    for (DWORD i = 0; i + 2 <= copy->cbData && info == "-"; i += 2) {
        const bool found = std::any_of(std::begin(starts), std::end(starts), [&](const auto& s) {
            const std::size_t size = s.size() * sizeof(wchar_t);
            return i + size <= copy->cbData && std::memcmp(bytes + i, s.data(), size) == 0;
        });
        if (!found) continue;
        info.clear();
        for (DWORD j = i; j + 1 < copy->cbData && (bytes[j] || bytes[j + 1]); j += 2) {
            info += bytes[j + 1] ? '?' : static_cast<char>(bytes[j]);
        }
    }
    const auto key = std::make_pair(owner, id);
    const bool known = g_hostedIcons.count(key) != 0;
    BOOL ok = FALSE;
    const char* name = "other";
    switch (copy->dwData) {
        case NIM_ADD:
            name = "NIM_ADD";
            ok = !known;
            g_hostedIcons.insert(key);
            break;
        case NIM_MODIFY:
            name = "NIM_MODIFY";
            ok = known;
            break;
        case NIM_DELETE:
            name = "NIM_DELETE";
            ok = known;
            g_hostedIcons.erase(key);
            break;
    }
    std::printf(
        "%lu %s owner=%08lx id=%u flags=%u callback=0x%x tip=%s bytes=%lu hash=%08lx %s info=%s\n",
        static_cast<unsigned long>(GetTickCount() - g_hostStart), name,
        static_cast<unsigned long>(owner), id, flags, callback, hasTip ? "Vexlo" : "-",
        static_cast<unsigned long>(copy->cbData), static_cast<unsigned long>(hash),
        ok ? "accepted" : "refused", info.c_str());
    std::fflush(stdout);
    return ok;
}

int HostTray(DWORD seconds) {
    WNDCLASSA wc {};
    wc.lpfnWndProc = &TrayHost;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = "Shell_TrayWnd";
    if (!RegisterClassA(&wc)) return 2;
    HWND tray = CreateWindowExA(0, wc.lpszClassName, "Stand-in tray", WS_OVERLAPPEDWINDOW, 300, 10,
                                240, 80, nullptr, nullptr, wc.hInstance, nullptr);
    if (!tray) return 2;
    ShowWindow(tray, SW_SHOWNOACTIVATE);
    g_hostStart = GetTickCount();
    bool announced = false;
    while (GetTickCount() - g_hostStart < seconds * 1000) {
        if (!announced && GetTickCount() - g_hostStart >= 500) {
            // What the shell does when its taskbar (re)starts.
            SendNotifyMessageA(HWND_BROADCAST, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
            std::printf("%lu TaskbarCreated sent\n",
                        static_cast<unsigned long>(GetTickCount() - g_hostStart));
            std::fflush(stdout);
            announced = true;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    }
    DestroyWindow(tray);
    return 0;
}

// A notification client that prints what the device enumerator reports (from its threads).
class PrintingClient : public IMMNotificationClient {
  public:
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == __uuidof(IMMNotificationClient)) {
            *out = this;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR id, DWORD state) override {
        Report("state", id, static_cast<int>(state));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR id) override {
        Report("added", id, 0);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR id) override {
        Report("removed", id, 0);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role,
                                                     LPCWSTR id) override {
        Report(flow == eRender ? "default-render" : "default-capture", id, role);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override {
        return S_OK;
    }

  private:
    static void Report(const char* what, LPCWSTR id, int detail) {
        std::printf("%s %d %ls\n", what, detail, id ? id : L"(none)");
        std::fflush(stdout);
    }
};

int Audio(DWORD watchMs) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IMMDeviceEnumerator* enumerator = nullptr;
    HRESULT hr =
        CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                         __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(&enumerator));
    std::printf("enumerator=0x%08lx\n", static_cast<unsigned long>(hr));
    if (FAILED(hr)) return 0;
    PrintingClient client;
    hr = enumerator->RegisterEndpointNotificationCallback(&client);
    std::printf("register_notifications=0x%08lx\n", static_cast<unsigned long>(hr));
    std::fflush(stdout);
    if (SUCCEEDED(hr)) {
        // Reports that come while waiting are printed as they come.
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < watchMs) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        }
        std::printf("unregister_notifications=0x%08lx\n",
                    static_cast<unsigned long>(
                        enumerator->UnregisterEndpointNotificationCallback(&client)));
    }
    IMMDevice* device = nullptr;
    hr = enumerator->GetDefaultAudioEndpoint(eRender, eConsole, &device);
    std::printf("default_render_endpoint=0x%08lx\n", static_cast<unsigned long>(hr));
    if (SUCCEEDED(hr)) {
        IAudioEndpointVolume* volume = nullptr;
        hr = device->Activate(__uuidof(IAudioEndpointVolume), CLSCTX_ALL, nullptr,
                              reinterpret_cast<void**>(&volume));
        std::printf("endpoint_volume=0x%08lx\n", static_cast<unsigned long>(hr));
        if (SUCCEEDED(hr)) {
            float scalar = -1;
            hr = volume->GetMasterVolumeLevelScalar(&scalar);
            std::printf("get_scalar=0x%08lx scalar=%.3f\n", static_cast<unsigned long>(hr), scalar);
            hr = volume->SetMasterVolumeLevelScalar(scalar, nullptr);
            std::printf("set_scalar=0x%08lx\n", static_cast<unsigned long>(hr));
            volume->Release();
        }
        device->Release();
    }
    enumerator->Release();
    CoUninitialize();
    return 0;
}

// Dispatches this thread's messages for ms milliseconds.
void Pump(DWORD ms) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    }
}

// What a user sees in the console a command ran in: the characters in its buffer, which are
// what the console window draws whatever code page it has.
int RunInConsole(const std::string& commandLine) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    FreeConsole();
    if (!AllocConsole()) {
        std::fprintf(stderr, "no console\n");
        return 1;
    }
    HANDLE screen =
        CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA start = {};
    start.cb = sizeof start;
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &start,
                        &process)) {
        std::fprintf(stderr, "cannot start %s\n", commandLine.c_str());
        return 1;
    }
    DWORD code = 259;
    if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CONSOLE_SCREEN_BUFFER_INFO info = {};
    GetConsoleScreenBufferInfo(screen, &info);
    std::string report;
    for (SHORT row = 0; row <= info.dwCursorPosition.Y && row < info.dwSize.Y; ++row) {
        std::wstring cells(static_cast<std::size_t>(info.dwSize.X), L' ');
        DWORD read = 0;
        ReadConsoleOutputCharacterW(screen, cells.data(), static_cast<DWORD>(cells.size()),
                                    COORD {0, row}, &read);
        cells.resize(read);
        while (!cells.empty() && (cells.back() == L' ' || cells.back() == 0)) cells.pop_back();
        if (!cells.empty()) report += Utf8(cells) + "\n";
    }
    report += "exit=" + std::to_string(code) +
              "\ncodepage=" + std::to_string(GetConsoleOutputCP()) + "\n";
    DWORD written = 0;
    WriteFile(out, report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
    return 0;
}

int Languages() {
    ULONG count = 0;
    ULONG size = 0;
    std::string names;
    if (GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &count, nullptr, &size) && size > 0) {
        std::wstring list(size, L'\0');
        if (GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &count, list.data(), &size)) {
            for (const wchar_t* name = list.c_str(); *name; name += wcslen(name) + 1)
                names += (names.empty() ? "" : ",") + Utf8(name);
        }
    }
    std::printf("preferred=%s acp=%u oemcp=%u\n", names.c_str(), GetACP(), GetOEMCP());
    return 0;
}

// The monitors the system lists, one a line: "left,top-right,bottom", then " primary" for the
// primary one.
BOOL CALLBACK PrintMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM) {
    MONITORINFO info {};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoA(monitor, &info)) return TRUE;
    const RECT& r = info.rcMonitor;
    std::printf("%ld,%ld-%ld,%ld%s\n", r.left, r.top, r.right, r.bottom,
                (info.dwFlags & MONITORINFOF_PRIMARY) ? " primary" : "");
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "languages") return Languages();
    if (command == "monitors")
        return EnumDisplayMonitors(nullptr, nullptr, PrintMonitor, 0) ? 0 : 1;
    if (command == "console" && argc > 2) {
        std::string line;
        for (int i = 2; i < argc; ++i) line += (i > 2 ? " " : "") + std::string(argv[i]);
        return RunInConsole(line);
    }
    if (command == "audio") return Audio(argc > 2 ? 1000 * std::atoi(argv[2]) : 0);
    if (command == "gdi-check") {
        // Whether the table count follows this process's own objects: 100 brushes more.
        const long before = GdiObjects(GetCurrentProcess());
        std::vector<HBRUSH> brushes;
        for (int i = 0; i < 100; ++i) brushes.push_back(CreateSolidBrush(RGB(i, 0, 0)));
        const long after = GdiObjects(GetCurrentProcess());
        for (HBRUSH brush : brushes) DeleteObject(brush);
        const long released = GdiObjects(GetCurrentProcess());
        std::printf("before=%ld with_100_brushes=%ld after_delete=%ld\n", before, after, released);
        return before >= 0 && after - before == 100 && released == before ? 0 : 1;
    }
    if (command == "watch-taskbar" && argc > 2) return WatchTaskbar(std::atoi(argv[2]));
    if (command == "tray-host" && argc > 2) return HostTray(std::atoi(argv[2]));
    if (command == "hold-hotkey" && (argc == 3 || argc == 5)) {
        UINT modifiers = MOD_WIN;
        UINT key = VK_OEM_PLUS;
        if (argc == 5) {
            char* end1 = nullptr;
            char* end2 = nullptr;
            modifiers = static_cast<UINT>(std::strtoul(argv[3], &end1, 0));
            key = static_cast<UINT>(std::strtoul(argv[4], &end2, 0));
            if (*end1 || *end2 || end1 == argv[3] || end2 == argv[4] || key == 0 || key > 0xFE) {
                std::fprintf(stderr, "hold-hotkey: MODIFIERS and KEY are numbers\n");
                return 2;
            }
        }
        const BOOL registered = RegisterHotKey(nullptr, 1, modifiers, key);
        std::printf("registered=%d\n", registered ? 1 : 0);
        std::fflush(stdout);
        Pump(static_cast<DWORD>(std::atoi(argv[2])) * 1000);
        return registered ? 0 : 1;
    }
    if (command == "broadcast-taskbar") {
        // What the Windows shell does when its taskbar (re)starts.
        return SendNotifyMessageA(HWND_BROADCAST, RegisterWindowMessageA("TaskbarCreated"), 0, 0)
                   ? 0
                   : 1;
    }
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: vexlo_probe windows|stats|answer|close MATCH | gdi-check | "
                     "watch-taskbar S | broadcast-taskbar | tray-host S | audio [S] | "
                     "hold-hotkey S [MODIFIERS KEY] | mute MATCH [0|1] | tray-tips MATCH | "
                     "console CMDLINE | languages | monitors\n");
        return 2;
    }
    if (command == "windows") return ListWindows(argv[2]);
    if (command == "stats") return Stats(argv[2]);
    if (command == "close") return Close(argv[2]);
    if (command == "answer") return Answer(argv[2]);
    if (command == "mute") return Mute(argv[2], argc > 3 ? argv[3] : nullptr);
    if (command == "tray-tips") return TrayTips(argv[2]);
    std::fprintf(stderr, "unknown command %s\n", command.c_str());
    return 2;
}
