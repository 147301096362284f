#include "platform/linux/qt_windows.h"

#include <QBitmap>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QRegion>
#include <QScreen>
#include <QStyleHints>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cstdlib>

#include "platform/event_sink.h"
#include "platform/linux/portal_shortcuts.h"
#include "platform/linux/qt_services.h"
#include "platform/linux/x11_util.h"
#include "platform/types.h"

namespace vexlo::linux_platform {

namespace {

// The plain background of a window where no picture covers it: the system's button face.
const QColor kPlainBackground(240, 240, 240);

Qt::WindowFlags FlagsFor(WindowRole role) {
    Qt::WindowFlags flags = Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus;
    // The display windows are override-redirect: no frame, no focus, no taskbar entry, exactly
    // where they are put, and mapped above everything. The slider stays a managed window so
    // that the window manager can move it.
    if (role != WindowRole::Control) flags |= Qt::X11BypassWindowManagerHint;
    return flags;
}

// The program places its windows on the primary monitor, in coordinates from its top-left
// corner, as the system it was written for does; X puts all monitors on one screen.
QPoint PrimaryOrigin() {
    QScreen* primary = qGuiApp != nullptr ? QGuiApplication::primaryScreen() : nullptr;
    return primary != nullptr ? primary->geometry().topLeft() : QPoint();
}

// A screen's rectangle in the X server's pixels: Qt keeps a screen's corner where X has it and
// divides only its size by the screen's scale.
QRect NativeGeometry(const QScreen* screen) {
    const QRect g = screen->geometry();
    const qreal ratio = screen->devicePixelRatio();
    return {g.topLeft(), QSize(qRound(g.width() * ratio), qRound(g.height() * ratio))};
}

// The screen that holds most of a rectangle given in the X server's pixels; null when none
// holds any of it. Where screens overlap (a monitor that spans others, such as the X server's
// own one for a whole output split by RandR monitors), the smaller one is the monitor meant.
QScreen* ScreenHolding(const QRect& native) {
    QScreen* best = nullptr;
    qint64 most = 0;
    qint64 bestSize = 0;
    for (QScreen* screen : QGuiApplication::screens()) {
        const QRect area = NativeGeometry(screen);
        const QRect common = area.intersected(native);
        const qint64 held = common.isEmpty() ? 0 : qint64 {common.width()} * common.height();
        const qint64 size = qint64 {area.width()} * area.height();
        if (held > most || (held == most && held > 0 && size < bestSize)) {
            most = held;
            best = screen;
            bestSize = size;
        }
    }
    return best;
}

// How far apart, in pixels, the two presses of a double click may be.
constexpr int kDoubleClickSlop = 2;

int MouseButtons(Qt::MouseButtons buttons) {
    int mk = 0;
    if (buttons & Qt::LeftButton) mk |= MK_LBUTTON;
    if (buttons & Qt::RightButton) mk |= MK_RBUTTON;
    if (buttons & Qt::MiddleButton) mk |= MK_MBUTTON;
    return mk;
}

// The mouse message of a button: its press; release and double-click follow at +1 and +2.
std::uint32_t PressMessage(Qt::MouseButton button) {
    switch (button) {
        case Qt::LeftButton:
            return WM_LBUTTONDOWN;
        case Qt::RightButton:
            return WM_RBUTTONDOWN;
        case Qt::MiddleButton:
            return WM_MBUTTONDOWN;
        default:
            return 0;
    }
}

}  // namespace

// ---- Surface -----------------------------------------------------------------------------

Surface::Surface(QtWindow* owner, Qt::WindowFlags flags) : QWidget(nullptr, flags), owner_(owner) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
}

void Surface::paintEvent(QPaintEvent*) {
    if (owner_ == nullptr) return;
    QPainter painter(this);
    if (owner_->alphaVisual()) {
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(QPoint(0, 0), owner_->pixelImage());
        return;
    }
    owner_->render(painter);
}

void Surface::mousePressEvent(QMouseEvent* event) {
    if (owner_ != nullptr) owner_->mouse(QtWindow::MouseAction::Press, event);
}

void Surface::mouseReleaseEvent(QMouseEvent* event) {
    if (owner_ != nullptr) owner_->mouse(QtWindow::MouseAction::Release, event);
}

void Surface::mouseDoubleClickEvent(QMouseEvent* event) {
    // Not the base class, which would report the second press as a press as well.
    if (owner_ != nullptr) owner_->mouse(QtWindow::MouseAction::DoubleClick, event);
}

void Surface::mouseMoveEvent(QMouseEvent* event) {
    if (owner_ != nullptr) owner_->mouse(QtWindow::MouseAction::Move, event);
}

void Surface::moveEvent(QMoveEvent*) {
    if (owner_ != nullptr) owner_->moved(pos());
}

// ---- QtElement ---------------------------------------------------------------------------

QtElement::QtElement(QtWindow& window, Kind kind, std::string name)
    : window_(window), handle_(NewHandle()), kind_(kind), name_(std::move(name)) {}

void QtElement::setPicture(std::shared_ptr<const Picture> picture) {
    picture_ = std::move(picture);
    window_.contentChanged();
}

void QtElement::setBounds(int x, int y, int width, int height) {
    if (x == x_ && y == y_ && width == width_ && height == height_) return;
    x_ = x;
    y_ = y;
    width_ = std::max(0, width);
    height_ = std::max(0, height);
    window_.contentChanged();
}

void QtElement::setVisible(bool visible) {
    if (visible == visible_) return;
    visible_ = visible;
    window_.contentChanged();
}

void QtElement::paint(QPainter& painter) const {
    if (!visible_ || width_ <= 0 || height_ <= 0) return;
    const auto* picture = dynamic_cast<const QtPicture*>(picture_.get());
    if (picture == nullptr) return;
    // Unscaled from the element's corner, clipped to the element.
    painter.drawImage(QPoint(x_, y_), picture->image(), QRect(0, 0, width_, height_));
}

// ---- QtWindow ----------------------------------------------------------------------------

QtWindow::QtWindow(QtWindowSystem& system, WindowRole role, const std::string& caption)
    : system_(system), role_(role), handle_(NewHandle()) {
    originalProcedure = static_cast<WindowProc>(NewHandle());
    procedure = originalProcedure;
    surface_ = new Surface(this, FlagsFor(role));
    if (role != WindowRole::Control && X11Connection() != nullptr) {
        alphaVisual_ = X11Composited(PortalShortcuts::WaylandSession());
        // Chosen before the native window exists: the visual comes with it.
        if (alphaVisual_) surface_->setAttribute(Qt::WA_TranslucentBackground);
    }
    surface_->setWindowTitle(QString::fromStdString(caption));
    system_.registerWindow(this);
}

QtWindow::~QtWindow() {
    system_.unregisterWindow(this);
    surface_->detach();
    surface_->hide();
    surface_->deleteLater();
}

Element& QtWindow::addElement(Element::Kind kind, const std::string& name) {
    elements_.push_back(std::make_unique<QtElement>(*this, kind, name));
    return *elements_.back();
}

void QtWindow::setIcon(std::shared_ptr<const Picture> icon) {
    icon_ = std::move(icon);
    const auto* picture = dynamic_cast<const QtPicture*>(icon_.get());
    surface_->setWindowIcon(picture != nullptr ? picture->icon() : QIcon());
}

void QtWindow::setBackground(std::shared_ptr<const Picture> picture) {
    background_ = std::move(picture);
    contentChanged();
}

void QtWindow::setBounds(int x, int y, int width, int height) {
    width = std::max(0, width);
    height = std::max(0, height);
    const bool resized = width != width_ || height != height_;
    x_ = x;
    y_ = y;
    width_ = width;
    height_ = height;
    // X has no empty windows; a zero size is kept here and shown as one pixel.
    const QPoint origin = PrimaryOrigin();
    surface_->setGeometry(origin.x() + x, origin.y() + y, std::max(1, width), std::max(1, height));
    if (resized) contentChanged();
}

void QtWindow::moved(QPoint position) {
    const QPoint origin = PrimaryOrigin();
    x_ = position.x() - origin.x();
    y_ = position.y() - origin.y();
}

void QtWindow::show() {
    if (wantVisible_) return;
    wantVisible_ = true;
    system_.schedule(this, true);
}

void QtWindow::hide() {
    if (!wantVisible_) return;
    wantVisible_ = false;
    system_.schedule(this, false);
}

void QtWindow::contentChanged() {
    system_.schedule(this, false);
}

void QtWindow::render(QPainter& painter) const {
    painter.fillRect(QRect(0, 0, std::max(1, width_), std::max(1, height_)), kPlainBackground);
    if (const auto* picture = dynamic_cast<const QtPicture*>(background_.get())) {
        painter.drawImage(QPoint(0, 0), picture->image());
    }
    for (const auto& element : elements_) element->paint(painter);
}

QImage QtWindow::renderImage() const {
    QImage image(std::max(1, width_), std::max(1, height_), QImage::Format_RGB32);
    QPainter painter(&image);
    render(painter);
    return image;
}

QImage QtWindow::pixelImage() const {
    const qreal ratio = surface_->devicePixelRatioF();
    QImage image(QSize(std::max(1, width_), std::max(1, height_)) * ratio, QImage::Format_ARGB32);
    image.setDevicePixelRatio(ratio);
    {
        QPainter painter(&image);
        render(painter);
    }
    const QRgb key = qRgb(keyColor_ & 0xFF, (keyColor_ >> 8) & 0xFF, (keyColor_ >> 16) & 0xFF);
    const int alpha = qRound(opacity_ * 255);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = line[x] | 0xFF000000u;
            line[x] =
                keyed_ && pixel == key ? 0 : qRgba(qRed(pixel), qGreen(pixel), qBlue(pixel), alpha);
        }
    }
    return image;
}

void QtWindow::applyContent() {
    if (keyed_) {
        const QColor key(keyColor_ & 0xFF, (keyColor_ >> 8) & 0xFF, (keyColor_ >> 16) & 0xFF);
        const QBitmap mask = QPixmap::fromImage(renderImage()).createMaskFromColor(key);
        QRegion region(mask);
        // An empty region would mean "no mask" to Qt; everything is see-through here.
        if (region.isEmpty()) region = QRegion(-1, -1, 1, 1);
        surface_->setMask(region);
    } else {
        surface_->clearMask();
    }
    if (!wantVisible_ && surface_->isVisible()) surface_->hide();
    surface_->update();
}

void QtWindow::applyShow() {
    if (wantVisible_ && !surface_->isVisible()) map();
}

void QtWindow::map() {
    // No taskbar or pager entry. Set at every map: changing the window's flags (topmost) may
    // give it a new native window.
    if (role_ == WindowRole::Control && X11Connection() != nullptr) {
        AddNetWmStates(static_cast<xcb_window_t>(surface_->winId()),
                       {"_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"});
    }
    surface_->show();
    surface_->raise();
}

void QtWindow::setLayered(bool colorKey, std::uint32_t keyColor, bool useAlpha,
                          std::uint8_t alpha) {
    const bool keyChanged = colorKey != keyed_ || (colorKey && keyColor != keyColor_);
    keyed_ = colorKey;
    keyColor_ = keyColor;
    const double opacity = useAlpha ? alpha / 255.0 : 1.0;
    const bool faded = opacity != opacity_;
    opacity_ = opacity;
    if (alphaVisual_) {
        if (keyChanged) {
            contentChanged();
        } else if (faded) {
            surface_->update();
        }
        return;
    }
    surface_->setWindowOpacity(opacity_);
    if (keyChanged) contentChanged();
}

void QtWindow::setTopmost(bool topmost) {
    if (topmost == topmost_) return;
    topmost_ = topmost;
    const bool shown = surface_->isVisible();
    // Qt hides a window whose flags change; it comes back on top of its new band.
    surface_->setWindowFlag(Qt::WindowStaysOnTopHint, topmost);
    if (shown) map();
}

void QtWindow::raiseWindow() {
    surface_->raise();
}
void QtWindow::lowerWindow() {
    surface_->lower();
}

bool QtWindow::activate() {
    if (!surface_->isVisible()) return false;
    surface_->activateWindow();
    return true;
}

void QtWindow::beginMove() {
    QWindow* native = surface_->windowHandle();
    if (native != nullptr && native->startSystemMove()) return;
    // No window manager to do it: follow the pointer until the button is released.
    manualMove_ = true;
    moveOffset_ = QCursor::pos() - surface_->pos();
}

QtElement* QtWindow::hitTest(QPoint position) const {
    for (auto it = elements_.rbegin(); it != elements_.rend(); ++it) {
        const QtElement& e = **it;
        if (!e.visible() || e.width() <= 0 || e.height() <= 0) continue;
        if (QRect(e.x(), e.y(), e.width(), e.height()).contains(position)) return it->get();
    }
    return nullptr;
}

QtElement* QtWindow::elementByHandle(NativeHandle handle) const {
    for (const auto& e : elements_) {
        if (e->handle() == handle) return e.get();
    }
    return nullptr;
}

void QtWindow::mouse(MouseAction action, QMouseEvent* event) {
    const QPoint position = event->position().toPoint();
    if (manualMove_) {
        if (action == MouseAction::Move) {
            surface_->move(event->globalPosition().toPoint() - moveOffset_);
        } else if (action == MouseAction::Release && event->buttons() == Qt::NoButton) {
            manualMove_ = false;
        }
        return;
    }

    MouseEvent out;
    out.buttons = MouseButtons(event->buttons());
    QtElement* target = nullptr;
    switch (action) {
        case MouseAction::Press:
        case MouseAction::DoubleClick: {
            const std::uint32_t press = PressMessage(event->button());
            if (press == 0) return;
            const quint64 time = event->timestamp();
            if (action == MouseAction::DoubleClick && time == lastPressTime_ &&
                event->button() == lastButton_) {
                return;  // this press was delivered already
            }
            const QPoint distance = event->globalPosition().toPoint() - lastPressPosition_;
            const bool isDouble =
                action == MouseAction::DoubleClick ||
                (event->button() == lastButton_ && !lastPressWasDouble_ &&
                 time - lastPressTime_ <=
                     static_cast<quint64>(
                         QGuiApplication::styleHints()->mouseDoubleClickInterval()) &&
                 std::abs(distance.x()) <= kDoubleClickSlop &&
                 std::abs(distance.y()) <= kDoubleClickSlop);
            lastButton_ = event->button();
            lastPressTime_ = time;
            lastPressPosition_ = event->globalPosition().toPoint();
            lastPressWasDouble_ = isDouble;
            out.message = isDouble ? press + 2 : press;
            target = hitTest(position);
            capture_ = target != nullptr ? target->handle() : 0;
            captured_ = true;
            break;
        }
        case MouseAction::Release: {
            const std::uint32_t press = PressMessage(event->button());
            if (press == 0) return;
            out.message = press + 1;
            target = captured_ ? elementByHandle(capture_) : hitTest(position);
            if (event->buttons() == Qt::NoButton) captured_ = false;
            break;
        }
        case MouseAction::Move:
            out.message = WM_MOUSEMOVE;
            target = captured_ && event->buttons() != Qt::NoButton ? elementByHandle(capture_)
                                                                   : hitTest(position);
            break;
    }
    out.target = target != nullptr ? target->handle() : handle_;
    out.x = position.x() - (target != nullptr ? target->x() : 0);
    out.y = position.y() - (target != nullptr ? target->y() : 0);
    // The core may destroy this window while handling the event: nothing of it is used after.
    system_.port().deliver([&out](EventSink& sink) { sink.onMouse(out); });
}

// ---- QtWindowSystem ----------------------------------------------------------------------

QtWindowSystem::QtWindowSystem(EventPort& port) : port_(port), context_(new QObject) {}

QtWindowSystem::~QtWindowSystem() = default;

std::unique_ptr<Window> QtWindowSystem::createWindow(WindowRole role, const std::string& caption) {
    return std::make_unique<QtWindow>(*this, role, caption);
}

void QtWindowSystem::registerWindow(QtWindow* window) {
    windows_.add(window->handle(), window);
}

void QtWindowSystem::unregisterWindow(QtWindow* window) {
    windows_.remove(window->handle());
    dirty_.erase(std::remove(dirty_.begin(), dirty_.end(), window), dirty_.end());
    showOrder_.erase(std::remove(showOrder_.begin(), showOrder_.end(), window), showOrder_.end());
}

void QtWindowSystem::schedule(QtWindow* window, bool show) {
    if (std::find(dirty_.begin(), dirty_.end(), window) == dirty_.end()) dirty_.push_back(window);
    if (show) {
        showOrder_.erase(std::remove(showOrder_.begin(), showOrder_.end(), window),
                         showOrder_.end());
        showOrder_.push_back(window);
    }
    if (flushPending_) return;
    flushPending_ = true;
    QTimer::singleShot(0, context_.get(), [this] { flush(); });
}

void QtWindowSystem::flush() {
    flushPending_ = false;
    const std::vector<QtWindow*> dirty = std::move(dirty_);
    const std::vector<QtWindow*> shows = std::move(showOrder_);
    dirty_.clear();
    showOrder_.clear();
    for (QtWindow* w : dirty) w->applyContent();
    for (QtWindow* w : shows) w->applyShow();
}

std::int32_t QtWindowSystem::getWindowLong(NativeHandle window, int index) {
    QtWindow* w = find(window);
    if (w == nullptr) return 0;
    if (index == GWL_EXSTYLE) return w->exStyle;
    if (index == GWL_WNDPROC) return static_cast<std::int32_t>(w->procedure);
    return 0;
}

std::int32_t QtWindowSystem::setWindowLong(NativeHandle window, int index, std::int32_t value) {
    QtWindow* w = find(window);
    if (w == nullptr) return 0;
    std::int32_t previous = 0;
    if (index == GWL_EXSTYLE) {
        previous = w->exStyle;
        w->exStyle = value;
        // Taking the layered style away ends the colour key and the constant alpha.
        if ((previous & WS_EX_LAYERED) && !(value & WS_EX_LAYERED))
            w->setLayered(false, 0, false, 255);
    } else if (index == GWL_WNDPROC) {
        previous = static_cast<std::int32_t>(w->procedure);
        w->procedure = static_cast<WindowProc>(static_cast<std::uint32_t>(value));
    }
    return previous;
}

bool QtWindowSystem::setLayeredWindowAttributes(NativeHandle window, std::uint32_t colorKey,
                                                std::uint8_t alpha, std::uint32_t flags) {
    QtWindow* w = find(window);
    // As on the system this imitates: only a layered window takes the attributes.
    if (w == nullptr || !(w->exStyle & WS_EX_LAYERED)) return false;
    w->setLayered((flags & LWA_COLORKEY) != 0, colorKey, (flags & LWA_ALPHA) != 0, alpha);
    return true;
}

bool QtWindowSystem::setWindowPos(NativeHandle window, std::intptr_t insertAfter, int x, int y,
                                  int cx, int cy, std::uint32_t flags) {
    constexpr std::uint32_t kNoZOrder = 4;
    constexpr std::uint32_t kShowWindow = 0x40;
    constexpr std::uint32_t kHideWindow = 0x80;
    constexpr std::intptr_t kTop = 0, kBottom = 1, kNoTopmost = -2;
    QtWindow* w = find(window);
    if (w == nullptr) return false;
    if (!(flags & SWP_NOMOVE) || !(flags & SWP_NOSIZE)) {
        const int nx = (flags & SWP_NOMOVE) ? w->x() : x;
        const int ny = (flags & SWP_NOMOVE) ? w->y() : y;
        const int nw = (flags & SWP_NOSIZE) ? w->width() : cx;
        const int nh = (flags & SWP_NOSIZE) ? w->height() : cy;
        w->setBounds(nx, ny, nw, nh);
    }
    if (!(flags & kNoZOrder)) {
        if (insertAfter == HWND_TOPMOST) {
            w->setTopmost(true);
        } else if (insertAfter == kNoTopmost) {
            w->setTopmost(false);
        } else if (insertAfter == kTop) {
            w->raiseWindow();
        } else if (insertAfter == kBottom) {
            w->lowerWindow();
        }
    }
    if (flags & kShowWindow) w->show();
    if (flags & kHideWindow) w->hide();
    return true;
}

bool QtWindowSystem::setForegroundWindow(NativeHandle window) {
    QtWindow* w = find(window);
    if (w == nullptr) return false;
    // A hidden window cannot be activated; the popup menu that follows grabs the input itself.
    w->activate();
    return true;
}

bool QtWindowSystem::releaseCapture() {
    return true;
}

std::intptr_t QtWindowSystem::sendMessage(NativeHandle window, std::uint32_t message,
                                          std::uintptr_t wParam, std::intptr_t lParam) {
    QtWindow* w = find(window);
    if (w == nullptr) return 0;
    if (coreProcedure_ != 0 && w->procedure == coreProcedure_) {
        std::intptr_t result = 0;
        port_.deliver([&](EventSink& sink) {
            result = sink.onWindowMessage(window, message, wParam, lParam);
        });
        return result;
    }
    return defaultProcedure(window, message, wParam, lParam);
}

std::intptr_t QtWindowSystem::defaultProcedure(NativeHandle window, std::uint32_t message,
                                               std::uintptr_t wParam, std::intptr_t) {
    QtWindow* w = find(window);
    if (w == nullptr) return 0;
    if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == (SC_DRAGMOVE & 0xFFF0)) w->beginMove();
    return 0;
}

void QtWindowSystem::popupMenu(NativeHandle, const std::vector<MenuItem>& items) {
    if (menuCapture_) {
        menuCapture_(items);
        return;
    }
    auto* menu = new QMenu;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (const MenuItem& item : items) {
        QAction* action = menu->addAction(QString::fromStdString(item.caption));
        const int id = item.id;
        // The command arrives after the menu has closed, as a posted command would.
        QObject::connect(action, &QAction::triggered, context_.get(), [this, id] {
            QTimer::singleShot(0, context_.get(), [this, id] {
                port_.deliver([id](EventSink& sink) { sink.onMenuCommand(id); });
            });
        });
    }
    menu->popup(menuPlace_.value_or(QCursor::pos()));
}

// ---- Monitors ----------------------------------------------------------------------------

// Part of QtScreen (qt_services.h): the monitors are Qt's screens, which follow the X server's
// RandR monitors as they come, go and move. The pointer and the active window are asked of X.
MonitorArea QtScreen::monitor(MonitorChoice choice) {
    QScreen* primary = qGuiApp != nullptr ? QGuiApplication::primaryScreen() : nullptr;
    if (primary == nullptr) return {0, 0, width(), height()};
    QScreen* chosen = nullptr;
    int x = 0, y = 0, w = 1, h = 1;
    if (choice == MonitorChoice::Pointer && X11PointerPosition(x, y)) {
        chosen = ScreenHolding(QRect(x, y, 1, 1));
    } else if (choice == MonitorChoice::Active && X11ActiveWindowRect(x, y, w, h)) {
        chosen = ScreenHolding(QRect(x, y, std::max(1, w), std::max(1, h)));
    }
    if (chosen == nullptr) chosen = primary;
    const QRect g = chosen->geometry();
    const QPoint origin = primary->geometry().topLeft();
    return {g.x() - origin.x(), g.y() - origin.y(), g.width(), g.height()};
}

}  // namespace vexlo::linux_platform
