// Trans: layered windows with the magenta colour key and a constant alpha.
#pragma once

#include <cstdint>

#include "platform/window_system.h"

namespace vexlo {

class Trans {
  public:
    explicit Trans(WindowSystem& windows) : windows_(windows) {}
    // Layered style plus the colour key, no constant alpha yet.
    void MakeLayered(NativeHandle window);
    // The colour key and the constant alpha together; remembers the alpha in LastAlpha.
    void SetAlpha(NativeHandle window, std::uint8_t alpha);
    // The alpha of the most recent SetAlpha, whatever the window; 0 at start.
    std::uint8_t LastAlpha() const { return lastAlpha_; }

  private:
    WindowSystem& windows_;
    std::uint8_t lastAlpha_ = 0;
};

// AlwaysOnTop: puts a window into the topmost band without moving or resizing it.
class AlwaysOnTop {
  public:
    explicit AlwaysOnTop(WindowSystem& windows) : windows_(windows) {}
    void MakeTopmost(NativeHandle window);

  private:
    WindowSystem& windows_;
};

}  // namespace vexlo
