// HotKey: the two global hotkeys and the window procedure that turns their messages into
// steps of the master level.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "hotkeys/key_chord.h"
#include "platform/hotkeys.h"
#include "platform/texts.h"
#include "platform/types.h"

namespace vexlo {

class HotKey {
  public:
    struct Actions {
        std::function<void()> up;
        std::function<void()> down;
        // Tells the user that hotkeys are not available (text for a warning).
        std::function<void(const std::string& text)> unavailable;
    };
    HotKey(HotkeyService& hotkeys, const Texts& texts, Actions actions)
        : hotkeys_(hotkeys), texts_(texts), actions_(std::move(actions)) {}

    // The combinations to register, as written in the settings (empty: the usual Windows +
    // plus and Windows + minus). A text that cannot be read keeps the usual key; the next
    // Register tells the user so.
    void Choose(const std::string& upText, const std::string& downText);
    const KeyChord& Up() const { return up_; }
    const KeyChord& Down() const { return down_; }
    // Registers 1331 and 1332 on the main window and installs HotKeyProc as its procedure.
    // Combinations another program holds, or whose key the keyboard lacks, are reported
    // through Unavailable, in one message with what was wrong in the settings.
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
    std::string UnavailableText(const std::vector<std::string>& combinations,
                                const std::string& reason) const;

    HotkeyService& hotkeys_;
    const Texts& texts_;
    Actions actions_;
    std::string Name(const KeyChord& chord) const {
        return hotkeys_.combinationName(chord.modifiers, chord.virtualKey);
    }
    void Tell(const std::string& text) {
        if (actions_.unavailable) actions_.unavailable(text);
    }

    WindowProc prevWndProc_ = 0;
    bool toldUnavailable_ = false;
    KeyChord up_ {MOD_WIN, VK_OEM_PLUS};
    KeyChord down_ {MOD_WIN, VK_OEM_MINUS};
    bool registerDown_ = true;
    std::string settingsProblems_;  // told with the next registration
};

}  // namespace vexlo
