// HotKey: the two global hotkeys and the window procedure that turns their messages into
// steps of the master level.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/hotkeys.h"

namespace vexlo {

class HotKey {
  public:
    struct Actions {
        std::function<void()> up;
        std::function<void()> down;
    };
    HotKey(HotkeyService& hotkeys, Actions actions)
        : hotkeys_(hotkeys), actions_(std::move(actions)) {}

    // Registers 1331 and 1332 on the main window and installs HotKeyProc as its procedure.
    void Register(NativeHandle mainWindow);
    // Unregisters both and gives the main window its previous procedure back, if one was kept.
    void Release(NativeHandle mainWindow);
    // The replacement procedure: hotkeys step the level, every other message goes on to the
    // previous procedure unchanged.
    std::intptr_t HotKeyProc(NativeHandle window, std::uint32_t message, std::uintptr_t wParam,
                             std::intptr_t lParam);
    WindowProc PrevWndProc() const { return prevWndProc_; }

  private:
    HotkeyService& hotkeys_;
    Actions actions_;
    WindowProc prevWndProc_ = 0;
};

}  // namespace vexlo
