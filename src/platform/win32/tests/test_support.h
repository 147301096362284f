// Shared pieces of the adapter tests: an event sink that records what reaches the core, and
// a message pump.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/win32/win.h"

namespace vexlo::win32::testing {

struct RecordingSink : EventSink {
    std::vector<TimerId> timers;
    std::vector<MouseEvent> mice;
    std::vector<int> menuCommands;
    int taskbarCreated = 0;
    struct WindowMessage {
        NativeHandle window;
        std::uint32_t message;
        std::uintptr_t wParam;
        std::intptr_t lParam;
    };
    std::vector<WindowMessage> windowMessages;
    std::intptr_t windowMessageResult = 0;
    std::function<void(const MouseEvent&)> onMouseHook;
    std::function<void(TimerId)> onTimerHook;

    void onTimer(TimerId timer) override {
        timers.push_back(timer);
        if (onTimerHook) onTimerHook(timer);
    }
    void onMouse(const MouseEvent& event) override {
        mice.push_back(event);
        if (onMouseHook) onMouseHook(event);
    }
    std::intptr_t onWindowMessage(NativeHandle window, std::uint32_t message, std::uintptr_t wParam,
                                  std::intptr_t lParam) override {
        windowMessages.push_back({window, message, wParam, lParam});
        return windowMessageResult;
    }
    void onMenuCommand(int itemId) override { menuCommands.push_back(itemId); }
    // The Windows notification area sends no wheel to tray icons.
    void onTrayWheel(NativeHandle, int, bool) override {}
    void onTaskbarCreated() override { ++taskbarCreated; }
    void onHotkeysUnavailable(const std::string&) override {}
    bool holdsEvents() const override { return holding; }
    bool holding = false;  // as the core while one of its boxes is open
};

// Dispatches the thread's messages for about ms milliseconds, or until done() is true.
inline void Pump(DWORD ms, const std::function<bool()>& done = {}) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (done && done()) return;
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= ms) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
    }
}

// A file beside the test program.
inline std::string TestFile(const std::string& name) {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, n);
    return folder.substr(0, folder.find_last_of('\\')) + "\\" + name;
}

}  // namespace vexlo::win32::testing
