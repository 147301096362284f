#include "hotkeys/HotKey.h"

#include "platform/types.h"

namespace vexlo {

void HotKey::Register(NativeHandle mainWindow) {
    hotkeys_.registerHotKey(mainWindow, HOTKEY_UP, MOD_WIN, VK_OEM_PLUS);
    hotkeys_.registerHotKey(mainWindow, HOTKEY_DOWN, MOD_WIN, VK_OEM_MINUS);
    prevWndProc_ = hotkeys_.setWindowProc(mainWindow, hotkeys_.coreProcedure());
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
