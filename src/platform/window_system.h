// Port: top-level windows, their picture and image elements, and the user32 calls the display
// helpers make on native handles. Sizes and positions here are screen pixels.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/images.h"
#include "platform/types.h"

namespace vexlo {

// A child element of a window: a picture box with its own native handle (the tray's callback
// element) or an image control that shows its picture unscaled, clipped to its own size.
class Element {
  public:
    enum class Kind { Picture, Image };
    virtual ~Element() = default;
    virtual NativeHandle handle() const = 0;
    // Shows the picture at the element's top-left corner, unscaled; null clears it.
    virtual void setPicture(std::shared_ptr<const Picture> picture) = 0;
    virtual std::shared_ptr<const Picture> picture() const = 0;
    virtual void setBounds(int x, int y, int width, int height) = 0;
    virtual int x() const = 0;
    virtual int y() const = 0;
    virtual int width() const = 0;
    virtual int height() const = 0;
    virtual void setVisible(bool visible) = 0;
    virtual bool visible() const = 0;
};

// What a window is for; adapters use it to pick class, styles and painting.
enum class WindowRole { Main, Overlay, Control };

// A borderless top-level window without a taskbar button, created hidden.
class Window {
  public:
    virtual ~Window() = default;
    virtual NativeHandle handle() const = 0;
    virtual Element& addElement(Element::Kind kind, const std::string& name) = 0;
    virtual void setIcon(std::shared_ptr<const Picture> icon) = 0;
    // Background picture drawn unscaled from the top-left corner; uncovered parts are the
    // window's plain background colour (never the colour key).
    virtual void setBackground(std::shared_ptr<const Picture> picture) = 0;
    virtual void setBounds(int x, int y, int width, int height) = 0;
    virtual int x() const = 0;  // current position, including moves the user made
    virtual int y() const = 0;
    virtual int width() const = 0;
    virtual int height() const = 0;
    // Non-modal show: makes the window visible and, when it was hidden, puts it above the
    // program's other visible windows. Never takes the keyboard focus.
    virtual void show() = 0;
    virtual void hide() = 0;
    virtual bool visible() const = 0;
};

struct MenuItem {
    int id;
    std::string caption;
};

class WindowSystem {
  public:
    virtual ~WindowSystem() = default;
    virtual std::unique_ptr<Window> createWindow(WindowRole role, const std::string& caption) = 0;

    // user32 calls on native handles, with the values the program passes.
    virtual std::int32_t getWindowLong(NativeHandle window, int index) = 0;
    virtual std::int32_t setWindowLong(NativeHandle window, int index, std::int32_t value) = 0;
    virtual bool setLayeredWindowAttributes(NativeHandle window, std::uint32_t colorKey,
                                            std::uint8_t alpha, std::uint32_t flags) = 0;
    virtual bool setWindowPos(NativeHandle window, std::intptr_t insertAfter, int x, int y, int cx,
                              int cy, std::uint32_t flags) = 0;
    virtual bool setForegroundWindow(NativeHandle window) = 0;
    virtual bool releaseCapture() = 0;
    virtual std::intptr_t sendMessage(NativeHandle window, std::uint32_t message,
                                      std::uintptr_t wParam, std::intptr_t lParam) = 0;
    // Pops up a menu at the mouse position, owned by the window; no flags, no default item.
    // A chosen item comes back later as EventSink::onMenuCommand with its id.
    virtual void popupMenu(NativeHandle owner, const std::vector<MenuItem>& items) = 0;
};

}  // namespace vexlo
