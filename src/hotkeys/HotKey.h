// HotKey: the two global hotkeys and the window procedure that turns their messages into
// steps of the master level.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/hotkeys.h"

namespace vexlo {

class HotKey {
  public:
    struct Actions {
        std::function<void()> up;
        std::function<void()> down;
        // Tells the user that hotkeys are not available (text for a warning).
        std::function<void(const std::string& text)> unavailable;
    };
    HotKey(HotkeyService& hotkeys, Actions actions)
        : hotkeys_(hotkeys), actions_(std::move(actions)) {}

    // Registers 1331 and 1332 on the main window and installs HotKeyProc as its procedure.
    // Combinations another program holds are reported through Unavailable.
    void Register(NativeHandle mainWindow);
    // Tells the user, once per run whatever the number of calls, that these combinations do
    // not work for Vexlo and why ("another program holds it").
    void Unavailable(const std::vector<std::string>& combinations, const std::string& reason);
    // The same for both combinations, when the platform finds after registration that it
    // cannot give them (a desktop whose user declines them).
    void Unavailable(const std::string& reason);
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
    bool toldUnavailable_ = false;
};

}  // namespace vexlo
