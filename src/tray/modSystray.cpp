#include "tray/modSystray.h"

#include <algorithm>
#include <cstring>

#include "platform/types.h"

namespace vexlo {

void modSystray::SetTrayIcon(bool modify, const Element& trayElement, const std::string& caption) {
    record_.cbSize = 88;
    record_.hWnd = trayElement.handle();
    record_.uID = 1;
    record_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    record_.uCallbackMessage = WM_MOUSEMOVE;
    const auto picture = trayElement.picture();
    record_.hIcon = picture ? picture->handle() : 0;
    // The tip: the caption and a NUL, the rest of the 64 bytes spaces.
    std::memset(record_.szTip, ' ', sizeof record_.szTip);
    const std::size_t n = std::min(caption.size(), sizeof record_.szTip - 1);
    std::memcpy(record_.szTip, caption.data(), n);
    record_.szTip[n] = '\0';
    tray_.notify(modify ? NIM_MODIFY : NIM_ADD, record_);
}

void modSystray::ShowBalloon(const std::string& title, const std::string& text) {
    tray_.balloon(record_, title, text);
}

void modSystray::RemoveTrayIcon() {
    tray_.notify(NIM_DELETE, record_);
}

}  // namespace vexlo
