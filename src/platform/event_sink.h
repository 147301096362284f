// The one path by which platform events enter the core. Adapters translate what the system
// reports into these calls; each call is handled to completion before the next one.
#pragma once

#include <cstdint>
#include <string>

#include "platform/timers.h"
#include "platform/types.h"

namespace vexlo {

inline constexpr int MK_LBUTTON = 1;
inline constexpr int MK_RBUTTON = 2;
inline constexpr int MK_MBUTTON = 4;

struct MouseEvent {
    NativeHandle target = 0;  // the window or element under the pointer (or holding capture)
    // WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_LBUTTONDBLCLK, WM_LBUTTONUP, ...
    std::uint32_t message = 0;
    int buttons = 0;  // MK_* held during the event (for a press: including the pressed one)
    int x = 0;        // pixels from the target's top-left corner
    int y = 0;
};

class EventSink {
  public:
    virtual ~EventSink() = default;
    virtual void onTimer(TimerId timer) = 0;
    virtual void onMouse(const MouseEvent& event) = 0;
    // Messages of a window whose procedure is HotkeyService::coreProcedure().
    virtual std::intptr_t onWindowMessage(NativeHandle window, std::uint32_t message,
                                          std::uintptr_t wParam, std::intptr_t lParam) = 0;
    virtual void onMenuCommand(int itemId) = 0;
    // The mouse wheel over the tray icon whose record names target as its window: delta in
    // wheel units as the system reports them (120 a notch, positive away from the user or to
    // the right; a touchpad sends fractions), vertical false for horizontal scrolling.
    virtual void onTrayWheel(NativeHandle target, int delta, bool vertical) = 0;
    // The notification area was (re)created, for example after a shell restart.
    virtual void onTaskbarCreated() = 0;
    // The hotkeys could not be had after all, for the reason given (a clause, "the desktop's
    // shortcut dialog was declined"): a desktop that grants them later than registration.
    virtual void onHotkeysUnavailable(const std::string& reason) = 0;
    // A volume command of another process stepped to where the level already was (up at the
    // top, down at the bottom): the display answers it as it answers such a key press.
    virtual void onLevelUnchanged() {}

    // True while the core takes no events: one of its message boxes is open (the box's own
    // loop keeps dispatching, and an event handled there would re-enter the handler that
    // opened it) or the program has ended. Events sent meanwhile are dropped; an adapter that
    // must not lose one (a re-created taskbar, a request to end) keeps it until this is false.
    virtual bool holdsEvents() const = 0;
};

}  // namespace vexlo
