// Port: the notification-area icon.
#pragma once

#include <cstdint>
#include <string>

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
    // A warning balloon at the icon named by the record's hWnd and uID (Shell_NotifyIconA
    // NIM_MODIFY with NIF_INFO): a title and a text, gone after a few seconds or a click.
    virtual bool balloon(const TrayIconRecord& record, const std::string& title,
                         const std::string& text) = 0;
};

}  // namespace vexlo
