// Global hotkeys as passive key grabs on the X root window, or, given a portal (Wayland
// sessions), as the desktop's global shortcuts. A grabbed key press or an activation becomes a
// WM_HOTKEY message (wParam = the hotkey id) for the window that registered it, delivered to
// the core when that window's procedure is the core's.
#pragma once

#include <QAbstractNativeEventFilter>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/hotkeys.h"
#include "platform/linux/event_port.h"
#include "platform/linux/portal_shortcuts.h"
#include "platform/linux/qt_windows.h"

namespace vexlo::linux_platform {

class XcbHotkeys : public HotkeyService, public QAbstractNativeEventFilter {
  public:
    XcbHotkeys(EventPort& port, QtWindowSystem& windows);
    ~XcbHotkeys() override;

    bool registerHotKey(NativeHandle window, int id, std::uint32_t modifiers,
                        std::uint32_t virtualKey) override;
    bool unregisterHotKey(NativeHandle window, int id) override;
    WindowProc coreProcedure() const override { return coreProcedure_; }
    WindowProc setWindowProc(NativeHandle window, WindowProc procedure) override;
    std::intptr_t callWindowProc(WindowProc procedure, NativeHandle window, std::uint32_t message,
                                 std::uintptr_t wParam, std::intptr_t lParam) override;
    // As the settings name the keys, with X's names of the modifiers: "Super + =",
    // "Ctrl + Alt + Up".
    std::string combinationName(std::uint32_t modifiers, std::uint32_t virtualKey) const override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

    // Binds through the portal from now on where it offers global shortcuts; where it does
    // not, the X grabs stay.
    void usePortal(PortalShortcuts& portal);

    // True once a grab was refused because another client holds the key combination.
    bool conflict() const { return conflict_; }
    // The combinations with Super that X grabs hold (not bound through the portal), named and
    // joined in the language of `texts`: "Super + = and Super + -"; empty when there are none.
    std::string superGrabs(const Texts& texts = EnglishTexts()) const;

    // The X keysym for a virtual-key code, 0 when there is none.
    static std::uint32_t KeysymFor(std::uint32_t virtualKey);
    // The X modifier mask for MOD_ALT, MOD_CONTROL, MOD_SHIFT and MOD_WIN.
    static std::uint16_t ModifierMask(std::uint32_t modifiers);

    // Handles one key press as it would arrive from the server (tests feed it directly).
    bool keyPressed(std::uint8_t keycode, std::uint16_t state);
    // Hands a hotkey id to the core as the hotkey message of the window that registered it.
    bool activate(int id);
    // The keys whose symbol without Shift is keysym; where there are none, those whose symbol
    // with Shift is keysym, and then *shifted is true.
    std::vector<std::uint8_t> KeycodesFor(std::uint32_t keysym, bool* shifted = nullptr) const;

  private:
    struct Registration {
        NativeHandle window;
        std::uint16_t modifiers;
        std::vector<std::uint8_t> keycodes;  // none when the portal binds it
        bool viaPortal = false;
        std::string name;  // for messages
    };
    void ungrab(const Registration& r);

    EventPort& port_;
    QtWindowSystem& windows_;
    WindowProc coreProcedure_;
    PortalShortcuts* portal_ = nullptr;
    std::map<int, Registration> registrations_;
    bool conflict_ = false;
};

// One resident copy per display: the running program owns an X selection.
class InstanceGuard {
  public:
    ~InstanceGuard();
    // True when another client owns the selection.
    static bool OtherRunning();
    // Takes the selection; false when there is no X display.
    bool claim();

  private:
    std::uint32_t window_ = 0;
};

}  // namespace vexlo::linux_platform
