// Port: global hotkeys and the main window's message procedure.
#pragma once

#include <cstdint>
#include <string>

#include "platform/texts.h"
#include "platform/types.h"

namespace vexlo {

using WindowProc = std::intptr_t;

// Why a combination could not be registered.
enum class HotkeyRefusal {
    Taken,      // another program holds it (or the system gave no other reason)
    NoSuchKey,  // the keyboard has no such key: nothing could ever press it
};

// The names of the combinations are in the user's language (useTexts).
class HotkeyService : public UsesTexts {
  public:
    virtual ~HotkeyService() = default;
    // False when the combination cannot be had; lastRefusal then says why.
    virtual bool registerHotKey(NativeHandle window, int id, std::uint32_t modifiers,
                                std::uint32_t virtualKey) = 0;
    // Why the latest registerHotKey that answered false refused.
    virtual HotkeyRefusal lastRefusal() const { return HotkeyRefusal::Taken; }
    virtual bool unregisterHotKey(NativeHandle window, int id) = 0;
    // The procedure value that hands every message of a window to EventSink::onWindowMessage.
    virtual WindowProc coreProcedure() const = 0;
    // SetWindowLongA(window, GWL_WNDPROC, procedure): returns the procedure it replaced.
    virtual WindowProc setWindowProc(NativeHandle window, WindowProc procedure) = 0;
    // CallWindowProcA: hands a message to a previous procedure and returns its result.
    virtual std::intptr_t callWindowProc(WindowProc procedure, NativeHandle window,
                                         std::uint32_t message, std::uintptr_t wParam,
                                         std::intptr_t lParam) = 0;
    // A combination as people name it on this system and as the keyboard labels its keys, for
    // messages: "Windows + plus", "Windows + Ctrl + Up" (German "Windows + Strg + Up").
    virtual std::string combinationName(std::uint32_t modifiers, std::uint32_t virtualKey) const;
};

}  // namespace vexlo
