// Port: the notification-area icon.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace vexlo {

// The icon record in the field order and values of the 88-byte ANSI form.
struct TrayIconRecord {
    std::uint32_t cbSize = 0;
    NativeHandle hWnd = 0;  // the element that receives the notifications
    std::uint32_t uID = 0;
    std::uint32_t uFlags = 0;
    std::uint32_t uCallbackMessage = 0;
    NativeHandle hIcon = 0;
    char szTip[64] = {};
};

// Presses over the icon reach the core as a mouse move of the hWnd element whose x is the
// mouse message (WM_LBUTTONDOWN, WM_RBUTTONDOWN, ...).
class TrayService {
  public:
    virtual ~TrayService() = default;
    // Shell_NotifyIconA with NIM_ADD, NIM_MODIFY or NIM_DELETE.
    virtual bool notify(std::uint32_t message, const TrayIconRecord& record) = 0;
};

}  // namespace vexlo
