// frmUnder and frmUnder2: the two overlay windows of the on-screen display. Each shows one
// skin bitmap over the main display window; frmUnder2 is cut at the right as the level grows.
#pragma once

#include <memory>
#include <string>

#include "display/Trans.h"
#include "platform/images.h"
#include "platform/screen.h"
#include "platform/window_system.h"

namespace vexlo {

class SkinFiles;

class OverlayForm {
  public:
    // Creates the window and runs its load: layered, picture, sized and centred.
    OverlayForm(WindowSystem& windows, SkinFiles& skin, Screen& screen, Trans& trans,
                const std::string& bitmapLiteral);
    NativeHandle handle() const { return window_->handle(); }
    Window& window() { return *window_; }
    void Show() { window_->show(); }
    void Hide() { window_->hide(); }
    // New width in pixels; left, top and height stay.
    void SetWidth(int width);
    // Centred on a monitor by the bitmap's size, whatever width the level gave it since.
    void PlaceOn(const MonitorArea& area);

  private:
    std::unique_ptr<Window> window_;
    Element* testbox_ = nullptr;
    int bitmapWidth_ = 0;
    int bitmapHeight_ = 0;
};

}  // namespace vexlo
