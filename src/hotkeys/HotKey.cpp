#include "hotkeys/HotKey.h"

#include "platform/types.h"

namespace vexlo {

void HotKey::Register(NativeHandle mainWindow) {
    std::vector<std::string> refused;
    if (!hotkeys_.registerHotKey(mainWindow, HOTKEY_UP, MOD_WIN, VK_OEM_PLUS))
        refused.push_back(hotkeys_.combinationName(MOD_WIN, VK_OEM_PLUS));
    if (!hotkeys_.registerHotKey(mainWindow, HOTKEY_DOWN, MOD_WIN, VK_OEM_MINUS))
        refused.push_back(hotkeys_.combinationName(MOD_WIN, VK_OEM_MINUS));
    prevWndProc_ = hotkeys_.setWindowProc(mainWindow, hotkeys_.coreProcedure());
    Unavailable(refused,
                refused.size() > 1 ? "another program holds them" : "another program holds it");
}

void HotKey::Unavailable(const std::vector<std::string>& combinations, const std::string& reason) {
    if (combinations.empty() || toldUnavailable_) return;
    toldUnavailable_ = true;
    std::string keys;
    for (std::size_t i = 0; i < combinations.size(); ++i) {
        if (i > 0) keys += i + 1 == combinations.size() ? " and " : ", ";
        keys += combinations[i];
    }
    const std::string text = "Vexlo cannot use " + keys + ": " + reason + ".";
    if (actions_.unavailable) actions_.unavailable(text);
}

void HotKey::Unavailable(const std::string& reason) {
    Unavailable({hotkeys_.combinationName(MOD_WIN, VK_OEM_PLUS),
                 hotkeys_.combinationName(MOD_WIN, VK_OEM_MINUS)},
                reason);
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
