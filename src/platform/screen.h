// Port: the primary screen.
#pragma once

namespace vexlo {

class Screen {
  public:
    virtual ~Screen() = default;
    virtual int width() const = 0;  // pixels
    virtual int height() const = 0;
    // Twips (1/1440 logical inch) per pixel; 15 at 96 dots per inch.
    virtual float twipsPerPixelX() const = 0;
    virtual float twipsPerPixelY() const = 0;
};

}  // namespace vexlo
