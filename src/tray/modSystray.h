// modSystray: the notification-area icon and its one record.
#pragma once

#include <string>

#include "platform/tray.h"
#include "platform/window_system.h"

namespace vexlo {

class modSystray {
  public:
    explicit modSystray(TrayService& tray) : tray_(tray) {}
    // Fills the record anew from the callback element (its handle and current picture) and
    // the caption, then adds (modify false) or modifies (modify true) the icon.
    void SetTrayIcon(bool modify, const Element& trayElement, const std::string& caption);
    // Deletes the icon named by the record as last filled.
    void RemoveTrayIcon();
    // A warning balloon at the icon, which must have been added.
    void ShowBalloon(const std::string& title, const std::string& text);
    const TrayIconRecord& Record() const { return record_; }

  private:
    TrayService& tray_;
    TrayIconRecord record_;
};

}  // namespace vexlo
