#include "display/Trans.h"

namespace vexlo {

void Trans::MakeLayered(NativeHandle window) {
    const std::int32_t style = windows_.getWindowLong(window, GWL_EXSTYLE);
    windows_.setWindowLong(window, GWL_EXSTYLE, style | WS_EX_LAYERED);
    windows_.setLayeredWindowAttributes(window, COLOR_KEY, 255, LWA_COLORKEY);
}

void Trans::SetAlpha(NativeHandle window, std::uint8_t alpha) {
    windows_.setLayeredWindowAttributes(window, COLOR_KEY, alpha, LWA_COLORKEY | LWA_ALPHA);
    lastAlpha_ = alpha;
}

void AlwaysOnTop::MakeTopmost(NativeHandle window) {
    windows_.setWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

}  // namespace vexlo
