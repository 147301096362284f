#include "hotkeys/HotKey.h"

#include "platform/types.h"

namespace vexlo {

void HotKey::Choose(const std::string& upText, const std::string& downText) {
    up_ = {MOD_WIN, VK_OEM_PLUS};
    down_ = {MOD_WIN, VK_OEM_MINUS};
    registerDown_ = true;
    settingsProblems_.clear();
    const struct {
        const char* key;
        const std::string& text;
        KeyChord& chord;
    } settings[] = {{"hotkeyup", upText, up_}, {"hotkeydown", downText, down_}};
    for (const auto& setting : settings) {
        // Blanks alone are as good as no value.
        if (setting.text.find_first_not_of(" \t") == std::string::npos) continue;
        std::string problem;
        if (!ParseKeyChord(setting.text, setting.chord, problem, texts_)) {
            settingsProblems_ +=
                std::string(settingsProblems_.empty() ? "" : " ") +
                // TRANSLATORS: {setting} is the setting as written ("hotkeyup=Ctrl+Foo"),
                // {problem} a clause saying why it cannot be read ("it names no key"), {keys}
                // the key combination used instead ("Super + =").
                Fill(Tr(texts_,
                        "The setting {setting} in core.ini is not a key combination Vexlo "
                        "can use ({problem}); it uses {keys} instead."),
                     {{"setting", std::string(setting.key) + "=" + setting.text},
                      {"problem", problem},
                      {"keys", Name(setting.chord)}});
        }
    }
    if (up_ == down_) {
        // One combination cannot step both ways: it steps up.
        registerDown_ = false;
        settingsProblems_ +=
            std::string(settingsProblems_.empty() ? "" : " ") +
            Fill(Tr(texts_,
                    "The settings hotkeyup and hotkeydown in core.ini both name {keys}; it "
                    "steps the volume up, and no key steps it down."),
                 {{"keys", Name(up_)}});
    }
}

void HotKey::Register(NativeHandle mainWindow) {
    std::vector<std::string> taken, missing;
    const auto registerOne = [&](int id, const KeyChord& chord) {
        if (hotkeys_.registerHotKey(mainWindow, id, chord.modifiers, chord.virtualKey)) return;
        (hotkeys_.lastRefusal() == HotkeyRefusal::NoSuchKey ? missing : taken)
            .push_back(Name(chord));
    };
    registerOne(HOTKEY_UP, up_);
    if (registerDown_) registerOne(HOTKEY_DOWN, down_);
    prevWndProc_ = hotkeys_.setWindowProc(mainWindow, hotkeys_.coreProcedure());
    std::string text = settingsProblems_;
    settingsProblems_.clear();
    if ((!taken.empty() || !missing.empty()) && !toldUnavailable_) {
        toldUnavailable_ = true;
        // One sentence for each reason, naming its keys.
        const auto tell = [&](const std::vector<std::string>& keys, const std::string& several,
                              const std::string& one) {
            if (keys.empty()) return;
            text += std::string(text.empty() ? "" : " ") +
                    UnavailableText(keys, keys.size() > 1 ? several : one);
        };
        tell(taken,
             Tr(texts_,
                "another program holds them; choose other keys with the settings hotkeyup and "
                "hotkeydown in core.ini"),
             Tr(texts_,
                "another program holds it; choose other keys with the settings hotkeyup and "
                "hotkeydown in core.ini"));
        // A key the layout lacks (F13 on most keyboards): nobody holds it, nobody can press it.
        tell(missing,
             Tr(texts_,
                "the keyboard has no such keys; choose other keys with the settings hotkeyup "
                "and hotkeydown in core.ini"),
             Tr(texts_,
                "the keyboard has no such key; choose other keys with the settings hotkeyup and "
                "hotkeydown in core.ini"));
    }
    if (!text.empty()) Tell(text);
}

std::string HotKey::UnavailableText(const std::vector<std::string>& combinations,
                                    const std::string& reason) const {
    std::string keys;
    for (std::size_t i = 0; i < combinations.size(); ++i) {
        // TRANSLATORS: Joins the last two key combinations of a list ("Super + = and Super +
        // -"), or the names of two shortcuts; the spaces around it are part of it.
        if (i > 0) keys += i + 1 == combinations.size() ? Tr(texts_, " and ") : ", ";
        keys += combinations[i];
    }
    // TRANSLATORS: {keys} names key combinations ("Super + = and Super + -"), {reason} is a
    // clause saying why ("another program holds them; ...").
    return Fill(Tr(texts_, "Vexlo cannot use {keys}: {reason}."),
                {{"keys", keys}, {"reason", reason}});
}

void HotKey::Unavailable(const std::vector<std::string>& combinations, const std::string& reason) {
    if (combinations.empty() || toldUnavailable_) return;
    toldUnavailable_ = true;
    Tell(UnavailableText(combinations, reason));
}

void HotKey::Unavailable(const std::string& reason) {
    std::vector<std::string> keys {Name(up_)};
    if (registerDown_) keys.push_back(Name(down_));
    Unavailable(keys, reason);
}

void HotKey::Release(NativeHandle mainWindow) {
    hotkeys_.unregisterHotKey(mainWindow, HOTKEY_UP);
    hotkeys_.unregisterHotKey(mainWindow, HOTKEY_DOWN);
    if (prevWndProc_ != 0) hotkeys_.setWindowProc(mainWindow, prevWndProc_);
}

std::intptr_t HotKey::HotKeyProc(NativeHandle window, std::uint32_t message, std::uintptr_t wParam,
                                 std::intptr_t lParam) {
    if (message != WM_HOTKEY) {
        return hotkeys_.callWindowProc(prevWndProc_, window, message, wParam, lParam);
    }
    if (wParam == HOTKEY_UP) {
        actions_.up();
    } else if (wParam == HOTKEY_DOWN) {
        actions_.down();
    }
    return 0;
}

}  // namespace vexlo
