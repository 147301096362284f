// Windows on Qt Widgets. Each core window is one frameless top-level widget that paints its
// background picture and its elements itself; elements are not widgets of their own. The
// layered-window calls of the core map to an X shape mask (the colour key, computed from what
// the window actually paints) and to the window opacity (the constant alpha).
//
// Changes to a window's content and visibility are applied together at the end of the event
// that made them, in the order the windows were shown: a window shown and hidden again within
// one event (the controller's start-up does that) never reaches the screen, and a series of
// shows stacks the windows in call order.
#pragma once

#include <QObject>
#include <QPoint>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/hotkeys.h"
#include "platform/linux/event_port.h"
#include "platform/linux/handles.h"
#include "platform/linux/qt_images.h"
#include "platform/window_system.h"

class QPainter;
class QMouseEvent;

namespace vexlo::linux_platform {

class QtWindow;
class QtWindowSystem;

// The native widget of one window. It outlives its QtWindow by a little (deleteLater), so a
// window may be destroyed from inside the handling of its own mouse event. When Qt ends the
// program with exit() before that deletion came (the X connection broke), it is dropped
// (termination.h).
class Surface : public QWidget {
  public:
    Surface(QtWindow* owner, Qt::WindowFlags flags);
    void detach() { owner_ = nullptr; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

  private:
    QtWindow* owner_;
};

class QtElement : public Element {
  public:
    QtElement(QtWindow& window, Kind kind, std::string name);
    NativeHandle handle() const override { return handle_; }
    void setPicture(std::shared_ptr<const Picture> picture) override;
    std::shared_ptr<const Picture> picture() const override { return picture_; }
    void setBounds(int x, int y, int width, int height) override;
    int x() const override { return x_; }
    int y() const override { return y_; }
    int width() const override { return width_; }
    int height() const override { return height_; }
    void setVisible(bool visible) override;
    bool visible() const override { return visible_; }

    Kind kind() const { return kind_; }
    const std::string& name() const { return name_; }
    void paint(QPainter& painter) const;

  private:
    QtWindow& window_;
    NativeHandle handle_;
    Kind kind_;
    std::string name_;
    std::shared_ptr<const Picture> picture_;
    int x_ = 0, y_ = 0, width_ = 0, height_ = 0;
    bool visible_ = true;
};

class QtWindow : public Window {
  public:
    QtWindow(QtWindowSystem& system, WindowRole role, const std::string& caption);
    ~QtWindow() override;

    NativeHandle handle() const override { return handle_; }
    Element& addElement(Element::Kind kind, const std::string& name) override;
    void setIcon(std::shared_ptr<const Picture> icon) override;
    void setBackground(std::shared_ptr<const Picture> picture) override;
    void setBounds(int x, int y, int width, int height) override;
    int x() const override { return x_; }
    int y() const override { return y_; }
    int width() const override { return width_; }
    int height() const override { return height_; }
    void show() override;
    void hide() override;
    bool visible() const override { return wantVisible_; }

    // The user32 state kept per window.
    std::int32_t exStyle = 0;
    WindowProc procedure = 0;
    WindowProc originalProcedure = 0;
    void setLayered(bool colorKey, std::uint32_t keyColor, bool useAlpha, std::uint8_t alpha);
    void setTopmost(bool topmost);
    void raiseWindow();
    void lowerWindow();
    bool activate();
    // WM_SYSCOMMAND with SC_DRAGMOVE: the window follows the pointer until the button is up.
    void beginMove();

    // Paints background and elements as they are now (also used for the mask).
    void render(QPainter& painter) const;
    QImage renderImage() const;
    // With a visual with alpha: what the surface shows, the colour key transparent and every
    // other pixel at the window's opacity.
    QImage pixelImage() const;
    bool alphaVisual() const { return alphaVisual_; }
    Surface* surface() const { return surface_; }
    WindowRole role() const { return role_; }
    bool colorKeyed() const { return keyed_; }
    double opacity() const { return opacity_; }

    // From the surface.
    enum class MouseAction { Press, Release, DoubleClick, Move };
    void mouse(MouseAction action, QMouseEvent* event);
    void moved(QPoint position);
    void contentChanged();
    // Applies content, mask and hiding; showing is done by the window system in show order.
    void applyContent();
    void applyShow();

  private:
    void map();
    QtElement* hitTest(QPoint position) const;
    QtElement* elementByHandle(NativeHandle handle) const;

    QtWindowSystem& system_;
    WindowRole role_;
    NativeHandle handle_;
    Surface* surface_ = nullptr;
    std::vector<std::unique_ptr<QtElement>> elements_;
    std::shared_ptr<const Picture> background_;
    std::shared_ptr<const Picture> icon_;
    int x_ = 0, y_ = 0, width_ = 0, height_ = 0;
    bool wantVisible_ = false;
    bool keyed_ = false;
    std::uint32_t keyColor_ = 0;
    double opacity_ = 1.0;
    bool alphaVisual_ = false;
    bool topmost_ = false;
    // The element (or the window itself, 0) that gets the pointer while a button is held.
    NativeHandle capture_ = 0;
    bool captured_ = false;
    bool manualMove_ = false;
    QPoint moveOffset_;
    // Double clicks are recognised here, the system's way: a second press of the same button
    // soon after and near the first is the double click, and never also a press.
    Qt::MouseButton lastButton_ = Qt::NoButton;
    quint64 lastPressTime_ = 0;
    QPoint lastPressPosition_;
    bool lastPressWasDouble_ = false;
};

class QtWindowSystem : public WindowSystem {
  public:
    explicit QtWindowSystem(EventPort& port);
    ~QtWindowSystem() override;

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
    // While set, a popup menu is handed to it instead of being shown (the tray takes the
    // core's menu this way to export it).
    using MenuCapture = std::function<void(const std::vector<MenuItem>&)>;
    void setMenuCapture(MenuCapture capture) { menuCapture_ = std::move(capture); }
    // While set, a popup menu opens there instead of at the pointer (a tray host's ContextMenu
    // call names the place: the X pointer may be far from the icon under Wayland).
    void setMenuPlace(std::optional<QPoint> place) { menuPlace_ = place; }

    QtWindow* find(NativeHandle window) const { return windows_.find(window); }
    // The procedure value that stands for "hand the message to the core".
    void setCoreProcedure(WindowProc procedure) { coreProcedure_ = procedure; }
    // What a window's own procedure does with a message: the system's default handling.
    std::intptr_t defaultProcedure(NativeHandle window, std::uint32_t message,
                                   std::uintptr_t wParam, std::intptr_t lParam);
    // Applies every pending window change now (tests call it; the event loop does it too).
    void flush();

    EventPort& port() { return port_; }

  private:
    friend class QtWindow;
    void registerWindow(QtWindow* window);
    void unregisterWindow(QtWindow* window);
    void schedule(QtWindow* window, bool show);

    EventPort& port_;
    HandleTable<QtWindow> windows_;
    WindowProc coreProcedure_ = 0;
    MenuCapture menuCapture_;
    std::optional<QPoint> menuPlace_;
    std::unique_ptr<QObject> context_;
    bool flushPending_ = false;
    std::vector<QtWindow*> dirty_;
    std::vector<QtWindow*> showOrder_;
};

}  // namespace vexlo::linux_platform
