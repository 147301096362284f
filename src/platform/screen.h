// Port: the screen and its monitors.
#pragma once

namespace vexlo {

// Which monitor the on-screen display appears on.
enum class MonitorChoice { Primary, Pointer, Active };

// A monitor's whole area, in the pixels windows are placed in: counted from the primary
// monitor's top-left corner, so the primary monitor's area starts at 0, 0.
struct MonitorArea {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

class Screen {
  public:
    virtual ~Screen() = default;
    // The primary monitor.
    virtual int width() const = 0;  // pixels
    virtual int height() const = 0;
    // Twips (1/1440 logical inch) per pixel; 15 at 96 dots per inch.
    virtual float twipsPerPixelX() const = 0;
    virtual float twipsPerPixelY() const = 0;
    // The monitors as they are now: the one under the pointer, the one holding most of the
    // active window, or the primary one. Whatever cannot be known (no active window, a desktop
    // that does not tell) gives the primary monitor.
    virtual MonitorArea monitor(MonitorChoice choice) {
        (void)choice;
        return {0, 0, width(), height()};
    }
};

}  // namespace vexlo
