// Windows and their elements on Windows: borderless popup tool windows, created hidden,
// painted from their background picture and image elements. Image elements are drawn by their
// window (so a GIF's transparent pixels show the window's picture beneath); picture elements
// are child windows with handles of their own (the tray's callback window).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/event_sink.h"
#include "platform/win32/dispatcher.h"
#include "platform/win32/win.h"
#include "platform/window_system.h"

namespace vexlo::win32 {

class Win32Window;

// Colour of window areas no picture covers.
inline constexpr COLORREF kPlainBackground = RGB(0x20, 0x24, 0x2A);

// MK_* of a mouse message's wParam as the core counts them.
int CoreButtons(WPARAM wParam);

class ImageElement : public Element {
  public:
    ImageElement(Win32Window& owner, Kind kind);
    NativeHandle handle() const override { return reinterpret_cast<NativeHandle>(this); }
    void setPicture(std::shared_ptr<const Picture> picture) override;
    std::shared_ptr<const Picture> picture() const override { return picture_; }
    void setBounds(int x, int y, int width, int height) override;
    int x() const override { return rect_.left; }
    int y() const override { return rect_.top; }
    int width() const override { return rect_.right - rect_.left; }
    int height() const override { return rect_.bottom - rect_.top; }
    void setVisible(bool visible) override;
    bool visible() const override { return visible_; }
    const RECT& rect() const { return rect_; }

  private:
    Win32Window& owner_;
    std::shared_ptr<const Picture> picture_;
    RECT rect_ {};
    bool visible_ = true;
};

class PictureElement : public Element {
  public:
    PictureElement(Win32Window& owner, Dispatcher& dispatcher);
    ~PictureElement() override;
    PictureElement(const PictureElement&) = delete;
    PictureElement& operator=(const PictureElement&) = delete;
    NativeHandle handle() const override { return reinterpret_cast<NativeHandle>(hwnd_); }
    void setPicture(std::shared_ptr<const Picture> picture) override;
    std::shared_ptr<const Picture> picture() const override { return picture_; }
    void setBounds(int x, int y, int width, int height) override;
    int x() const override;
    int y() const override;
    int width() const override;
    int height() const override;
    void setVisible(bool visible) override;
    bool visible() const override;

  private:
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    RECT bounds() const;
    Dispatcher& dispatcher_;
    HWND hwnd_ = nullptr;
    std::shared_ptr<const Picture> picture_;
};

class Win32Window : public Window {
  public:
    Win32Window(WindowRole role, const std::string& caption, Dispatcher& dispatcher);
    ~Win32Window() override;
    Win32Window(const Win32Window&) = delete;
    Win32Window& operator=(const Win32Window&) = delete;

    NativeHandle handle() const override { return reinterpret_cast<NativeHandle>(hwnd_); }
    Element& addElement(Element::Kind kind, const std::string& name) override;
    void setIcon(std::shared_ptr<const Picture> icon) override;
    void setBackground(std::shared_ptr<const Picture> picture) override;
    void setBounds(int x, int y, int width, int height) override;
    int x() const override;
    int y() const override;
    int width() const override;
    int height() const override;
    void show() override;
    void hide() override;
    bool visible() const override;

    HWND hwnd() const { return hwnd_; }
    // Paints the client area (plain colour, background picture, image elements) into dc.
    void render(HDC dc) const;
    void invalidate(const RECT& area);

  private:
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    ImageElement* hitTest(POINT point) const;
    RECT windowRect() const;

    Dispatcher& dispatcher_;
    HWND hwnd_ = nullptr;
    std::shared_ptr<const Picture> icon_;
    std::shared_ptr<const Picture> background_;
    std::vector<std::unique_ptr<Element>> elements_;
    std::vector<ImageElement*> images_;
    ImageElement* captured_ = nullptr;  // the element a held button was pressed on
    bool dragging_ = false;             // moving with the pointer (SC_MOVE by the caption)
    POINT dragOffset_ {};               // pointer position within the window while dragging
};

class Win32WindowSystem : public WindowSystem {
  public:
    explicit Win32WindowSystem(Dispatcher& dispatcher) : dispatcher_(dispatcher) {}
    std::unique_ptr<Window> createWindow(WindowRole role, const std::string& caption) override;
    std::int32_t getWindowLong(NativeHandle window, int index) override;
    std::int32_t setWindowLong(NativeHandle window, int index, std::int32_t value) override;
    bool setLayeredWindowAttributes(NativeHandle window, std::uint32_t colorKey, std::uint8_t alpha,
                                    std::uint32_t flags) override;
    bool setWindowPos(NativeHandle window, std::intptr_t insertAfter, int x, int y, int cx, int cy,
                      std::uint32_t flags) override;
    bool setForegroundWindow(NativeHandle window) override;
    bool releaseCapture() override;
    std::intptr_t sendMessage(NativeHandle window, std::uint32_t message, std::uintptr_t wParam,
                              std::intptr_t lParam) override;
    void popupMenu(NativeHandle owner, const std::vector<MenuItem>& items) override;

  private:
    Dispatcher& dispatcher_;
};

// For a volume command whose step changed nothing: the running program, if there is one, shows
// its display as for such a key press.
void TellLevelUnchanged();

}  // namespace vexlo::win32
