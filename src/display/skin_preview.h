// The skin preview for skin authors: the display's real windows with a skin from any folder,
// stepping from 0 to 16 chunks and back, a step a second, as users will see them while the
// level changes. It leaves the mixer, the settings and the tray alone. Esc or a press on the
// display ends it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "display/Trans.h"
#include "display/frmUnder.h"
#include "display/skin.h"
#include "platform/event_sink.h"
#include "platform/platform.h"

namespace vexlo {

class SkinPreview {
  public:
    SkinPreview(Platform& platform, Trans& trans, AlwaysOnTop& onTop, std::string folder);
    ~SkinPreview();

    // Loads the windows with the skin and shows them at 0 chunks. A skin file that cannot be
    // loaded is a FatalError naming it.
    void Start();
    bool OwnsTimer(TimerId timer) const { return timer_ && timer_->id() == timer; }
    void Timer_Timer();  // the next step
    // A press on one of the display's windows ends the preview.
    void Mouse(const MouseEvent& event);
    // The main window's procedure: the Esc hotkey ends the preview, everything else goes on.
    std::intptr_t PreviewProc(NativeHandle window, std::uint32_t message, std::uintptr_t wParam,
                              std::intptr_t lParam);
    int Chunks() const { return chunks_; }
    // Ends the preview (a request to end the program: the session's end, a kill).
    [[noreturn]] void End();

  private:
    void ShowChunks(int chunks);

    Platform& platform_;
    Trans& trans_;
    AlwaysOnTop& onTop_;
    SkinFiles skin_;
    std::unique_ptr<Window> window_;
    Element* bar_ = nullptr;
    Element* testbox_ = nullptr;
    std::unique_ptr<OverlayForm> under_;
    std::unique_ptr<OverlayForm> under2_;
    std::unique_ptr<Timer> timer_;
    WindowProc prevWndProc_ = 0;
    bool escape_ = false;  // the Esc hotkey is registered
    int chunks_ = 0;
    int direction_ = 1;
};

}  // namespace vexlo
