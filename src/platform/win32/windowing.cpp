#include "platform/win32/windowing.h"

#include <windowsx.h>

#include "platform/win32/images.h"
#include "platform/win32/services.h"

namespace vexlo::win32 {

namespace {

constexpr const char* kPictureClass = "VexloPicture";

// Sent by a volume command to the running program's display window: the step changed nothing.
UINT LevelUnchangedMessage() {
    static const UINT message = RegisterWindowMessageA("Vexlo.LevelUnchanged");
    return message;
}

const char* ClassName(WindowRole role) {
    switch (role) {
        case WindowRole::Main:
            return "VexloMain";
        case WindowRole::Overlay:
            return "VexloOverlay";
        case WindowRole::Control:
            return "VexloControl";
    }
    return "VexloOverlay";
}

void RegisterWindowClass(const char* name, UINT style, WNDPROC procedure) {
    WNDCLASSA existing {};
    if (GetClassInfoA(GetModuleHandleA(nullptr), name, &existing)) return;
    WNDCLASSA wc {};
    wc.style = style;
    wc.lpfnWndProc = procedure;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.lpszClassName = name;
    RegisterClassA(&wc);
}

bool IsPress(UINT message) {
    return message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN || message == WM_MBUTTONDOWN ||
           message == WM_LBUTTONDBLCLK || message == WM_RBUTTONDBLCLK ||
           message == WM_MBUTTONDBLCLK;
}

bool IsRelease(UINT message) {
    return message == WM_LBUTTONUP || message == WM_RBUTTONUP || message == WM_MBUTTONUP;
}

bool IsMouse(UINT message) {
    return message == WM_MOUSEMOVE || IsPress(message) || IsRelease(message);
}

void PaintBuffered(HWND hwnd, const std::function<void(HDC)>& render) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT client;
    GetClientRect(hwnd, &client);
    if (client.right > 0 && client.bottom > 0) {
        HDC memory = CreateCompatibleDC(dc);
        HBITMAP bitmap = CreateCompatibleBitmap(dc, client.right, client.bottom);
        HGDIOBJ old = SelectObject(memory, bitmap);
        render(memory);
        BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
        SelectObject(memory, old);
        DeleteObject(bitmap);
        DeleteDC(memory);
    }
    EndPaint(hwnd, &ps);
}

void FillPlain(HDC dc, const RECT& area) {
    HBRUSH brush = CreateSolidBrush(kPlainBackground);
    FillRect(dc, &area, brush);
    DeleteObject(brush);
}

}  // namespace

int CoreButtons(WPARAM wParam) {
    int buttons = 0;
    if (wParam & MK_LBUTTON) buttons |= kCoreLeftButton;
    if (wParam & MK_RBUTTON) buttons |= kCoreRightButton;
    if (wParam & MK_MBUTTON) buttons |= kCoreMiddleButton;
    return buttons;
}

// ---- image elements: drawn by their window ----

ImageElement::ImageElement(Win32Window& owner, Kind /*kind*/) : owner_(owner) {}

void ImageElement::setPicture(std::shared_ptr<const Picture> picture) {
    picture_ = std::move(picture);
    owner_.invalidate(rect_);
}

void ImageElement::setBounds(int x, int y, int width, int height) {
    const RECT old = rect_;
    rect_ = {x, y, x + (width > 0 ? width : 0), y + (height > 0 ? height : 0)};
    owner_.invalidate(old);
    owner_.invalidate(rect_);
}

void ImageElement::setVisible(bool visible) {
    visible_ = visible;
    owner_.invalidate(rect_);
}

// ---- picture elements: child windows ----

PictureElement::PictureElement(Win32Window& owner, Dispatcher& dispatcher)
    : dispatcher_(dispatcher) {
    RegisterWindowClass(kPictureClass, 0, &PictureElement::Procedure);
    hwnd_ = CreateWindowExA(0, kPictureClass, "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, owner.hwnd(),
                            nullptr, GetModuleHandleA(nullptr), this);
}

PictureElement::~PictureElement() {
    if (hwnd_ && IsWindow(hwnd_)) {
        SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
}

RECT PictureElement::bounds() const {
    RECT r {};
    GetWindowRect(hwnd_, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(hwnd_), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

int PictureElement::x() const {
    return bounds().left;
}
int PictureElement::y() const {
    return bounds().top;
}
int PictureElement::width() const {
    const RECT r = bounds();
    return r.right - r.left;
}
int PictureElement::height() const {
    const RECT r = bounds();
    return r.bottom - r.top;
}

void PictureElement::setPicture(std::shared_ptr<const Picture> picture) {
    picture_ = std::move(picture);
    InvalidateRect(hwnd_, nullptr, FALSE);
}

void PictureElement::setBounds(int x, int y, int width, int height) {
    SetWindowPos(hwnd_, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void PictureElement::setVisible(bool visible) {
    ShowWindow(hwnd_, visible ? SW_SHOWNA : SW_HIDE);
}

bool PictureElement::visible() const {
    return (GetWindowLongA(hwnd_, GWL_STYLE) & WS_VISIBLE) != 0;
}

LRESULT CALLBACK PictureElement::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* cs = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* self = reinterpret_cast<PictureElement*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcA(hwnd, message, wParam, lParam);
    if (message == WM_ERASEBKGND) return 1;
    if (message == WM_PAINT) {
        PaintBuffered(hwnd, [self, hwnd](HDC dc) {
            RECT client;
            GetClientRect(hwnd, &client);
            FillPlain(dc, client);
            if (self->picture_) {
                DrawPictureClipped(dc, *self->picture_, 0, 0, client.right, client.bottom);
            }
        });
        return 0;
    }
    if (IsMouse(message)) {
        // Tray notifications come as mouse moves whose lParam carries the mouse message.
        MouseEvent event;
        event.target = reinterpret_cast<NativeHandle>(hwnd);
        event.message = message;
        event.buttons = CoreButtons(wParam);
        event.x = LOWORD(lParam);
        event.y = HIWORD(lParam);
        self->dispatcher_.mouse(event);
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// ---- top-level windows ----

Win32Window::Win32Window(WindowRole role, const std::string& caption, Dispatcher& dispatcher)
    : dispatcher_(dispatcher) {
    const char* className = ClassName(role);
    // The slider window tells double clicks from presses; the display windows need not.
    RegisterWindowClass(className, role == WindowRole::Control ? CS_DBLCLKS : 0,
                        &Win32Window::Procedure);
    // Never activated: not when shown, not when clicked (the windows take no keyboard input).
    hwnd_ =
        CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, className, caption.c_str(), WS_POPUP,
                        0, 0, 0, 0, nullptr, nullptr, GetModuleHandleA(nullptr), this);
}

Win32Window::~Win32Window() {
    images_.clear();
    elements_.clear();
    if (hwnd_) {
        SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
}

Element& Win32Window::addElement(Element::Kind kind, const std::string& /*name*/) {
    if (kind == Element::Kind::Picture) {
        elements_.push_back(std::make_unique<PictureElement>(*this, dispatcher_));
    } else {
        auto image = std::make_unique<ImageElement>(*this, kind);
        images_.push_back(image.get());
        elements_.push_back(std::move(image));
    }
    return *elements_.back();
}

void Win32Window::setIcon(std::shared_ptr<const Picture> icon) {
    const auto handle = icon ? static_cast<LPARAM>(icon->handle()) : 0;
    SendMessageA(hwnd_, WM_SETICON, ICON_BIG, handle);
    SendMessageA(hwnd_, WM_SETICON, ICON_SMALL, handle);
    icon_ = std::move(icon);  // the window uses the handle: keep the picture alive
}

void Win32Window::setBackground(std::shared_ptr<const Picture> picture) {
    background_ = std::move(picture);
    InvalidateRect(hwnd_, nullptr, FALSE);
}

RECT Win32Window::windowRect() const {
    RECT r {};
    GetWindowRect(hwnd_, &r);
    return r;
}

void Win32Window::setBounds(int x, int y, int width, int height) {
    SetWindowPos(hwnd_, nullptr, x, y, width > 0 ? width : 0, height > 0 ? height : 0,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
    InvalidateRect(hwnd_, nullptr, FALSE);
}

int Win32Window::x() const {
    return windowRect().left;
}
int Win32Window::y() const {
    return windowRect().top;
}
int Win32Window::width() const {
    const RECT r = windowRect();
    return r.right - r.left;
}
int Win32Window::height() const {
    const RECT r = windowRect();
    return r.bottom - r.top;
}

void Win32Window::show() {
    if (IsWindowVisible(hwnd_)) return;
    // Shown from hidden: on top of the program's other windows (within its band), without
    // taking the focus.
    SetWindowPos(hwnd_, HWND_TOP, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
}

void Win32Window::hide() {
    if (!IsWindowVisible(hwnd_)) return;
    SetWindowPos(hwnd_, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_HIDEWINDOW);
}

bool Win32Window::visible() const {
    return IsWindowVisible(hwnd_) != FALSE;
}

void Win32Window::invalidate(const RECT& area) {
    if (area.right > area.left && area.bottom > area.top) InvalidateRect(hwnd_, &area, FALSE);
}

void Win32Window::render(HDC dc) const {
    RECT client;
    GetClientRect(hwnd_, &client);
    FillPlain(dc, client);
    if (background_) {
        DrawPictureClipped(dc, *background_, 0, 0, background_->width(), background_->height());
    }
    for (const ImageElement* image : images_) {
        if (!image->visible() || !image->picture()) continue;
        const RECT& r = image->rect();
        DrawPictureClipped(dc, *image->picture(), r.left, r.top, r.right - r.left,
                           r.bottom - r.top);
    }
}

ImageElement* Win32Window::hitTest(POINT point) const {
    for (auto it = images_.rbegin(); it != images_.rend(); ++it) {
        if ((*it)->visible() && PtInRect(&(*it)->rect(), point)) return *it;
    }
    return nullptr;
}

LRESULT CALLBACK Win32Window::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* cs = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
        static_cast<Win32Window*>(cs->lpCreateParams)->hwnd_ = hwnd;
    }
    auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcA(hwnd, message, wParam, lParam);
    return self->handle(message, wParam, lParam);
}

LRESULT Win32Window::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    // Only the display's main window has a class another program finds it by.
    if (message != 0 && message == LevelUnchangedMessage()) {
        if (dispatcher_.open()) dispatcher_.sink()->onLevelUnchanged();
        return 0;
    }
    switch (message) {
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT:
            PaintBuffered(hwnd_, [this](HDC dc) { render(dc); });
            return 0;
        case WM_CLOSE:
            return 0;  // the program closes its windows itself
        case WM_MOUSEACTIVATE:
            return MA_NOACTIVATE;
        case WM_CAPTURECHANGED:
            captured_ = nullptr;
            dragging_ = false;
            return 0;
        case WM_SYSCOMMAND:
            // Moving by the caption (SC_MOVE | HTCAPTION, as a press on the window asks for):
            // the window follows the pointer until the buttons are released. Done here rather
            // than in the system's modal move loop, which under Wine swallows the next press and
            // so the double-click that should follow.
            if ((wParam & 0xFFF0) == SC_MOVE && (wParam & 0x000F) == HTCAPTION) {
                POINT cursor;
                GetCursorPos(&cursor);
                const RECT r = windowRect();
                dragOffset_ = {cursor.x - r.left, cursor.y - r.top};
                dragging_ = true;
                captured_ = nullptr;
                SetCapture(hwnd_);
                return 0;
            }
            break;
        case WM_COMMAND:
            if (HIWORD(wParam) == 0 && lParam == 0) {
                dispatcher_.postMenuCommand(LOWORD(wParam));
                return 0;
            }
            break;
        default:
            break;
    }
    if (!IsMouse(message)) return DefWindowProcA(hwnd_, message, wParam, lParam);

    if (dragging_) {
        // The move belongs to the window: the core sees none of these events.
        POINT cursor;
        GetCursorPos(&cursor);
        if (message == WM_MOUSEMOVE) {
            SetWindowPos(hwnd_, nullptr, cursor.x - dragOffset_.x, cursor.y - dragOffset_.y, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        } else if (IsRelease(message) && (wParam & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON)) == 0) {
            dragging_ = false;
            ReleaseCapture();
        }
        if (message == WM_MOUSEMOVE || IsRelease(message)) return 0;
        dragging_ = false;  // a new press ends the move and is the core's again
        ReleaseCapture();
    }
    const POINT point {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    ImageElement* element = captured_ ? captured_ : hitTest(point);
    if (IsPress(message) && element && !captured_) {
        // Moves keep coming to the pressed element while a button is held.
        SetCapture(hwnd_);
        captured_ = element;
    }
    MouseEvent event;
    event.message = message;
    event.buttons = CoreButtons(wParam);
    event.x = point.x;
    event.y = point.y;
    event.target = reinterpret_cast<NativeHandle>(hwnd_);
    if (element) {
        event.target = element->handle();
        event.x -= element->x();
        event.y -= element->y();
    }
    if (IsRelease(message) && captured_ && (wParam & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON)) == 0) {
        ReleaseCapture();
        captured_ = nullptr;
    }
    // The core may destroy this window while handling the event: nothing touches it after.
    dispatcher_.mouse(event);
    return 0;
}

// ---- the window system ----

std::unique_ptr<Window> Win32WindowSystem::createWindow(WindowRole role,
                                                        const std::string& caption) {
    return std::make_unique<Win32Window>(role, caption, dispatcher_);
}

std::int32_t Win32WindowSystem::getWindowLong(NativeHandle window, int index) {
    return GetWindowLongA(reinterpret_cast<HWND>(window), index);
}

std::int32_t Win32WindowSystem::setWindowLong(NativeHandle window, int index, std::int32_t value) {
    return SetWindowLongA(reinterpret_cast<HWND>(window), index, value);
}

bool Win32WindowSystem::setLayeredWindowAttributes(NativeHandle window, std::uint32_t colorKey,
                                                   std::uint8_t alpha, std::uint32_t flags) {
    return SetLayeredWindowAttributes(reinterpret_cast<HWND>(window), colorKey, alpha, flags) !=
           FALSE;
}

bool Win32WindowSystem::setWindowPos(NativeHandle window, std::intptr_t insertAfter, int x, int y,
                                     int cx, int cy, std::uint32_t flags) {
    return SetWindowPos(reinterpret_cast<HWND>(window), reinterpret_cast<HWND>(insertAfter), x, y,
                        cx, cy, flags) != FALSE;
}

bool Win32WindowSystem::setForegroundWindow(NativeHandle window) {
    return SetForegroundWindow(reinterpret_cast<HWND>(window)) != FALSE;
}

bool Win32WindowSystem::releaseCapture() {
    return ReleaseCapture() != FALSE;
}

std::intptr_t Win32WindowSystem::sendMessage(NativeHandle window, std::uint32_t message,
                                             std::uintptr_t wParam, std::intptr_t lParam) {
    return SendMessageA(reinterpret_cast<HWND>(window), message, wParam, lParam);
}

void Win32WindowSystem::popupMenu(NativeHandle owner, const std::vector<MenuItem>& items) {
    HMENU menu = CreatePopupMenu();
    if (!menu) return;
    for (const MenuItem& item : items) {
        AppendMenuA(menu, MF_STRING, static_cast<UINT_PTR>(item.id), item.caption.c_str());
    }
    POINT at {};
    GetCursorPos(&at);
    const HWND window = reinterpret_cast<HWND>(owner);
    TrackPopupMenu(menu, 0, at.x, at.y, 0, window, nullptr);
    // Lets the menu close properly when the user clicks elsewhere next time.
    PostMessageA(window, WM_NULL, 0, 0);
    DestroyMenu(menu);
}

void TellLevelUnchanged() {
    if (HWND running = FindWindowA(ClassName(WindowRole::Main), nullptr)) {
        PostMessageA(running, LevelUnchangedMessage(), 0, 0);
    }
}

// ---- monitors ----

// The primary monitor's corner is the origin of the screen's coordinates, so a monitor's
// rectangle is already where windows are placed. The system answers the primary monitor for a
// point or a window on none.
MonitorArea Win32Screen::monitor(MonitorChoice choice) {
    HMONITOR chosen = nullptr;
    if (choice == MonitorChoice::Pointer) {
        POINT cursor {};
        if (GetCursorPos(&cursor)) chosen = MonitorFromPoint(cursor, MONITOR_DEFAULTTOPRIMARY);
    } else if (choice == MonitorChoice::Active) {
        // The monitor holding most of the window; none active: the primary one.
        if (HWND active = GetForegroundWindow()) {
            chosen = MonitorFromWindow(active, MONITOR_DEFAULTTOPRIMARY);
        }
    }
    if (chosen == nullptr) chosen = MonitorFromPoint(POINT {0, 0}, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO info {};
    info.cbSize = sizeof info;
    if (chosen == nullptr || !GetMonitorInfoA(chosen, &info)) return {0, 0, width(), height()};
    const RECT& r = info.rcMonitor;
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

}  // namespace vexlo::win32
