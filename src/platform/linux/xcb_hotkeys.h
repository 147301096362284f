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

    // The plus and minus keys are the keys that carry "+" and "-" on the keyboard's layout;
    // after a change of layout the grabs move to where the keys are then.
    bool registerHotKey(NativeHandle window, int id, std::uint32_t modifiers,
                        std::uint32_t virtualKey) override;
    HotkeyRefusal lastRefusal() const override { return refusal_; }
    bool unregisterHotKey(NativeHandle window, int id) override;
    WindowProc coreProcedure() const override { return coreProcedure_; }
    WindowProc setWindowProc(NativeHandle window, WindowProc procedure) override;
    std::intptr_t callWindowProc(WindowProc procedure, NativeHandle window, std::uint32_t message,
                                 std::uintptr_t wParam, std::intptr_t lParam) override;
    // As this keyboard labels the keys, with X's names of the modifiers, in the user's
    // language: "Super + plus", "Ctrl + Alt + Up", German "Strg + Umschalt + Ü".
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
    // The keysym name a desktop's shortcut takes for the key ("Up", "a"): for the plus and
    // minus keys the symbol their key gives without Shift on this layout, "equal" on a US
    // keyboard, "plus" on a German one, so that the desktop binds the key itself.
    static std::string ShortcutKeyName(std::uint32_t virtualKey);
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
        std::uint16_t modifiers;             // as grabbed: the chosen ones, Shift added
        std::vector<std::uint8_t> keycodes;  // none when the portal binds it
        bool viaPortal = false;
        std::string name;  // for messages
        std::uint32_t virtualKey = 0;
        std::uint32_t chosen = 0;  // the modifiers as chosen: MOD_ALT, MOD_WIN, ...
    };
    // The keyboard's symbols: perCode symbols for each keycode from the first, two levels (alone
    // and with Shift) for each of the first two groups (layouts), and the active group.
    struct Keymap {
        std::uint8_t firstKeycode = 0;
        int perCode = 0;
        int group = 0;
        std::vector<std::uint32_t> keysyms;
        // The symbol of the key at an index from the first, at level 0 or 1, in the group.
        std::uint32_t symbol(std::size_t key, int level) const;
        std::vector<std::uint8_t> keysIn(std::uint32_t keysym, int level) const;
    };
    // The keyboard's active group, 0 to 3 (0 without XKB).
    static int ActiveGroup();
    // Where a virtual key is on this keyboard: its keys, whether it takes Shift there, and
    // what it carries ("+" or "-" for the plus and minus keys) or the symbol it gives.
    struct KeyPlace {
        std::vector<std::uint8_t> keycodes;
        bool shifted = false;
        std::uint32_t carries = 0;
        std::uint32_t label = 0;
    };
    static Keymap ReadKeymap();
    KeyPlace PlaceOf(std::uint32_t virtualKey) const;
    void ungrab(const Registration& r);
    bool grab(const Registration& r);
    // Grabs anew the keys a change of layout moved.
    void followKeyboard();

    EventPort& port_;
    QtWindowSystem& windows_;
    WindowProc coreProcedure_;
    PortalShortcuts* portal_ = nullptr;
    std::map<int, Registration> registrations_;
    bool conflict_ = false;
    HotkeyRefusal refusal_ = HotkeyRefusal::Taken;
    std::uint8_t xkbEvent_ = 0;  // the XKB extension's first event code; 0 without it
    std::uint8_t group_ = 0;     // the group the last state notification named
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
